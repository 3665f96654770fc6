// The grid and the cell viewer on the sample database's pictures and long
// texts, read from a test server; rows fetched in the background as
// assistive technology hears of them.

#include "app/grid/DBBGrid.h"
#include "app/grid/uBlob.h"
#include "tests/controls/accessibility_on.h"
#include "tests/support/testserver_fixture.h"

#include "data/adodataset.h"
#include "modal/modal.h"
#include <QAccessible>
#include <QtTest>
#include <memory>

class TestGridEndToEnd : public QObject {
    Q_OBJECT
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TADOConnection> m_conn;
    std::unique_ptr<TADODataSet> m_query;
    std::unique_ptr<TDataSource> m_source;
    std::unique_ptr<TFMBlob> m_viewer;
    int m_opened = 0;
    QSize m_picture;
    QString m_text;

    int rowNamed(const QString& name) {
        for (m_query->First(); !m_query->Eof(); m_query->Next())
            if (m_query->FieldByName(QStringLiteral("Name")).AsString() == name)
                return int(m_query->RecNo() - 1);
        return -1;
    }

    void click(const QString& name, const QString& field) {
        const int row = rowNamed(name);
        QVERIFY2(row >= 0, qPrintable(name));
        m_query->setRecNo(row + 1);
        m_opened = 0;
        DBGridQueryCellClick(*m_viewer, m_query.get(), m_query->FieldIndex(field));
    }

private slots:
    void initTestCase() {
        m_server = std::make_unique<TestServer>(
            std::vector<std::string>{"--sample", "--big-rows", "40000"});
        m_conn = std::make_unique<TADOConnection>();
        m_conn->setConnectionString(
            QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;Password=%2;"
                           "Initial Catalog=Musterfirma;Data Source=127.0.0.1,%3")
                .arg(QString::fromStdString(m_server->user()),
                     QString::fromStdString(m_server->password()))
                .arg(m_server->port()));
        m_query = std::make_unique<TADODataSet>();
        m_query->setConnection(m_conn.get());
        m_query->setCommandText(QStringLiteral("SELECT * FROM Bilder ORDER BY BildNr"));
        m_query->Open();
        m_source = std::make_unique<TDataSource>();
        m_source->setDataSet(m_query.get());
        m_viewer = std::make_unique<TFMBlob>(m_source.get());
        modal::setDialogHandler([this](QDialog* d) {
            auto* v = static_cast<TFMBlob*>(d);
            ++m_opened;
            m_picture = v->DBImage->isVisibleTo(v) ? v->DBImage->pixmap().size() : QSize(-1, -1);
            m_text = v->DBMemo->isVisibleTo(v) ? v->DBMemo->toPlainText() : QString();
            return int(QDialog::Rejected);
        });
    }

    void cleanupTestCase() {
        modal::setDialogHandler({});
        m_viewer.reset();
        m_source.reset();
        m_query.reset();
        m_conn.reset();
        m_server.reset();
    }

    // Rows that arrive while the result is fetched reach assistive
    // technology as inserted rows after the first ones, and the current
    // cell is the dataset's first row.
    void fetchedRowsAreHeard() {
        QVERIFY(setAccessibilityActive(true));
        static QList<std::pair<int, int>> inserted;
        inserted.clear();
        const auto previous = QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            if (event->type() != QAccessible::TableModelChanged)
                return;
            auto* change = static_cast<QAccessibleTableModelChangeEvent*>(event);
            if (change->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted)
                inserted.append({change->firstRow(), change->lastRow()});
        });
        auto restore = qScopeGuard([previous] {
            QAccessible::installUpdateHandler(previous);
            setAccessibilityActive(false);
        });
        TADODataSet rows;
        rows.setConnection(m_conn.get());
        rows.setCommandText(QStringLiteral("SELECT * FROM Messwerte"));
        TDataSource source;
        source.setDataSet(&rows);
        TDBBGrid grid;
        grid.setDataSource(&source);
        grid.resize(400, 300);
        grid.show();
        bool done = false;
        rows.OpenAsync([&done](std::exception_ptr, bool) { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&grid);
        QCOMPARE(table->tableInterface()->rowCount(), 40000);
        QVERIFY(table->focusChild());
        QCOMPARE(table->focusChild()->tableCellInterface()->rowIndex(), 0);
        QCOMPARE(rows.RecNo(), 1);
        if (inserted.isEmpty())
            QSKIP("every row came with the first ones");
        // One after the other, up to the last row (Qt's item view tells of
        // each insertion twice).
        inserted.erase(std::unique(inserted.begin(), inserted.end()), inserted.end());
        for (qsizetype i = 1; i < inserted.size(); ++i)
            QCOMPARE(inserted[i].first, inserted[i - 1].second + 1);
        QCOMPARE(inserted.last().second, 39999);
        QCOMPARE(table->tableInterface()->cellAt(39999, 0)->text(QAccessible::Name),
                 grid.model()->index(39999, 0).data().toString());
    }

    // A result that opens marks its first row at once; a sort asked for
    // while rows still arrive shows them all sorted once the fetch ends.
    void sortWhileFetching() {
        TADODataSet rows;
        rows.setConnection(m_conn.get());
        rows.setCommandText(QStringLiteral("SELECT Nr, Kennung FROM Messwerte"));
        TDataSource source;
        source.setDataSet(&rows);
        TDBBGrid grid;
        grid.setDataSource(&source);
        grid.resize(400, 300);
        grid.show();
        bool done = false;
        rows.OpenAsync([&done](std::exception_ptr, bool) { done = true; });
        TDBBGridModel* model = grid.gridModel();
        QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 0, 60000);

        // The indicator column marks the first row before any click.
        QWidget* header = grid.rowHeader();
        const QImage image = header->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QColor ink = grid.palette().color(QPalette::WindowText);
        const int top = header->height() - grid.viewport()->height();
        bool marked = false;
        for (int y = top; y < top + grid.rowHeight(); ++y)
            for (int x = 0; x < image.width(); ++x)
                marked |= QColor(image.pixel(x, y)) == ink;
        QVERIFY(marked);

        grid.sortByColumn(0);
        grid.sortByColumn(0); // descending
        QTRY_VERIFY_WITH_TIMEOUT(done, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!model->sorting() && model->rowCount() == 40000 &&
                                     model->index(0, 0).data().toString() == "40000",
                                 30000);
        for (int r = 1; r < 40000; r += 997)
            QVERIFY(model->index(r - 1, 0).data().toInt() > model->index(r, 0).data().toInt());
        QCOMPARE(model->index(39999, 0).data().toString(), QStringLiteral("1"));
        // The dataset's current row is still the first it read, now shown last.
        QCOMPARE(rows.RecNo(), 1);
        QCOMPARE(grid.currentIndex().row(), 39999);
    }

    void gridShowsPlaceholders() {
        TDBBGrid grid;
        grid.setDataSource(m_source.get());
        QAbstractItemModel* m = grid.model();
        QVERIFY(m->rowCount() >= 7);
        const int picture = m_query->FieldIndex(QStringLiteral("Bild"));
        const int text = m_query->FieldIndex(QStringLiteral("Beschreibung"));
        QCOMPARE(m->index(0, picture).data().toString(), QStringLiteral("(BLOB)"));
        QCOMPARE(m->index(0, text).data().toString(), QStringLiteral("(MEMO)"));
        const int none = rowNamed(QStringLiteral("Ohne Bild"));
        QCOMPARE(m->index(none, picture).data().toString(), QStringLiteral("(blob)"));
        grid.resize(600, 300);
        grid.show();
        QVERIFY(!grid.viewport()->grab().isNull()); // drawing every kind of cell raises nothing
    }

    void bitmapsOpenUnscaled_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("red square") << "Rotes Quadrat" << QSize(16, 16);
        QTest::newRow("chess board") << "Schachbrett" << QSize(100, 75);
        QTest::newRow("odd width") << "Grüne Streifen" << QSize(33, 21);
        QTest::newRow("no picture") << "Ohne Bild" << QSize(0, 0);
    }

    void bitmapsOpenUnscaled() {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        click(name, QStringLiteral("Bild"));
        QCOMPARE(m_opened, 1);
        QCOMPARE(m_picture, size);
    }

    void textBytesAreNoBitmap() {
        try {
            click(QStringLiteral("Kein Bild"), QStringLiteral("Bild"));
            QFAIL("text bytes opened as a picture");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Bitmap ist ungültig"));
        }
        QCOMPARE(m_opened, 0);
        QVERIFY(m_viewer->DBImage->DataField().isEmpty());
    }

    void longTextOpensWhole() {
        click(QStringLiteral("Schachbrett"), QStringLiteral("Beschreibung"));
        QCOMPARE(m_opened, 1);
        // The control shows CR LF line ends as plain line breaks.
        QString stored = m_query->FieldByName(QStringLiteral("Beschreibung")).AsString();
        stored.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(m_text, stored);
        QVERIFY(m_text.contains(QLatin1Char('\n')) || m_text.size() > 200);
    }
};

QTEST_MAIN(TestGridEndToEnd)
#include "tst_grid_e2e.moc"
