// The result grid: default texts, the thumbnail and "..." drawing rules on
// rendered images, the dataset as the one owner of the current row, clicks,
// a million rows, and the grid as assistive technology reads it.

#include "app/grid/DBBGrid.h"
#include "tests/app/grid/storeprovider.h"
#include "tests/controls/accessibility_on.h"

#include "data/resultstore.h"
#include <QAccessible>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Counts what painting asks of the model.
class CountingProxy : public QIdentityProxyModel {
public:
    mutable int calls = 0;
    QVariant data(const QModelIndex& index, int role) const override {
        ++calls;
        return QIdentityProxyModel::data(index, role);
    }
};

bool uniform(const QImage& image, const QRect& rect, QRgb* colour = nullptr) {
    const QRgb first = image.pixel(rect.topLeft());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixel(x, y) != first)
                return false;
    if (colour)
        *colour = first;
    return true;
}

} // namespace

class TestGrid : public QObject {
    Q_OBJECT
    std::shared_ptr<data::ResultStore> m_store;
    TADOConnection* m_conn = nullptr;
    TADODataSet* m_ds = nullptr;
    TDataSource* m_source = nullptr;
    TDBBGrid* m_grid = nullptr;

    void open(QList<data::ColumnInfo> columns, const QList<QVariantList>& rows) {
        m_store = std::make_shared<data::ResultStore>(std::move(columns));
        for (const QVariantList& row : rows) {
            const qint64 r = m_store->appendRows(1);
            for (int c = 0; c < row.size(); ++c)
                m_store->setValue(r, c, row[c]);
        }
        m_ds->Open();
    }

    // The rectangle the grid drew a cell in (without its grid lines), in
    // viewport coordinates.
    QRect cellRect(int row, int column) const {
        return m_grid->visualRect(m_grid->model()->index(row, column));
    }

    QImage render() {
        m_grid->viewport()->repaint();
        return m_grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QColor base() const { return m_grid->palette().color(QPalette::Inactive, QPalette::Base); }

private slots:
    void initTestCase() {
        data::registerProvider(QStringLiteral("GridStore"),
                               [this] { return std::make_shared<StoreProvider>(&m_store); });
    }

    void init() {
        m_conn = new TADOConnection;
        m_conn->setConnectionString(QStringLiteral("Provider=GridStore"));
        m_ds = new TADODataSet;
        m_ds->setConnection(m_conn);
        m_ds->setCommandText(QStringLiteral("select"));
        m_source = new TDataSource;
        m_source->setDataSet(m_ds);
        m_grid = new TDBBGrid;
        m_grid->setDataSource(m_source);
        m_grid->resize(520, 300);
        m_grid->setRowHeight(21); // cells 20 high
        m_grid->show();
    }

    void cleanup() {
        delete m_grid;
        delete m_source;
        delete m_ds;
        delete m_conn;
        m_store.reset();
    }

    void defaults() {
        QVERIFY(m_grid->AutoDisp_Image());
        QVERIFY(m_grid->AutoDisp_Memo());
        QCOMPARE(m_grid->horizontalHeader()->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(m_grid->horizontalHeader()->font().pointSize(), 8);
        QVERIFY(m_grid->rowHeader()->isVisible()); // the indicator column
        QVERIFY(m_grid->showGrid());
        QCOMPARE(m_grid->model()->rowCount(), 0); // closed dataset: empty
    }

    void defaultTexts() {
        using K = data::StorageKind;
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Name", ftWideString, K::Utf16),
              storeColumn("Daten", ftBlob, K::Bytes), storeColumn("Text", ftMemo, K::Utf16),
              storeColumn("Bild", ftGraphic, K::Bytes)},
             {{42, "Anna", QByteArray("x"), "lang", QByteArray("y")},
              {QVariant(), QVariant(), QVariant(), QVariant(), QVariant()}});
        QAbstractItemModel* m = m_grid->model();
        QCOMPARE(m->rowCount(), 2);
        QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
        QCOMPARE(m_grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
        const QStringList first = {"42", "Anna", "(BLOB)", "(MEMO)", "(GRAPHIC)"};
        const QStringList second = {"NULL", "NULL", "(blob)", "(memo)", "(graphic)"};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(m->index(0, c).data().toString(), first[c]);
            QCOMPARE(m->index(1, c).data().toString(), second[c]);
        }
        QCOMPARE(m->index(0, 0).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
                 int(Qt::AlignRight));
        m_ds->Close();
        QCOMPARE(m->rowCount(), 0);
        QCOMPARE(m->columnCount(), 0);
    }

    // Automatic columns fit the longest value of the first rows, up to 300
    // pixels, and are never narrower than their titles, which start at the left.
    void automaticColumnWidths() {
        using K = data::StorageKind;
        data::ColumnInfo name = storeColumn("Firma", ftWideString, K::Utf16);
        name.size = 40;
        open({name, storeColumn("Ansprechpartner und Funktion", ftInteger, K::Int32),
              storeColumn("Notiz", ftMemo, K::Utf16), storeColumn("Tag", ftDateTime, K::Utf16),
              storeColumn("Lang", ftWideString, K::Utf16)},
             {{"Kestrel Handels GmbH", 1, "lang", "17.03.2005 14:30:00", QString(400, u'x')},
              {"K", 2, "", "", "y"}});
        QHeaderView* titles = m_grid->horizontalHeader();
        const QFontMetrics cells(m_grid->font());
        const QFontMetrics heads(titles->font());
        const int kestrel = cells.horizontalAdvance("Kestrel Handels GmbH");
        QVERIFY(titles->sectionSize(0) >= kestrel);
        QVERIFY(titles->sectionSize(0) < kestrel + 20);
        QVERIFY(titles->sectionSize(1) >= heads.horizontalAdvance("Ansprechpartner und Funktion"));
        const int digit = cells.horizontalAdvance(u'0');
        QVERIFY(titles->sectionSize(2) >= 10 * digit); // a large object keeps its width
        QVERIFY(titles->sectionSize(3) >= cells.horizontalAdvance("17.03.2005 14:30:00"));
        QCOMPARE(titles->sectionSize(4), 300);
        QCOMPARE(titles->defaultAlignment(), Qt::AlignLeft | Qt::AlignVCenter);
    }

    void thumbnailWidths_data() {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("cell");
        QTest::addColumn<int>("width");
        QTest::newRow("wide") << 40 << 20 << 20 << 40; // 39.998 rounds up
        QTest::newRow("tall") << 10 << 40 << 20 << 5;  // 4.99988
        QTest::newRow("square") << 16 << 16 << 17 << 17;
        QTest::newRow("empty picture") << 0 << 0 << 20 << 0;
        QTest::newRow("thin") << 1 << 100 << 20 << 0; // 0.2
    }

    void thumbnailWidths() {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, cell);
        QFETCH(int, width);
        QCOMPARE(thumbnailWidth(w, h, cell), width);
    }

    void graphicCells() {
        using K = data::StorageKind;
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Bild", ftGraphic, K::Bytes)},
             {{1, bitmapBytes(40, 20, Qt::red)},
              {2, kJpegBytes},
              {3, QVariant()},
              {4, bitmapBytes(10, 40, Qt::blue)}});
        m_grid->setColumnWidth(1, 120);
        m_grid->clearSelection();
        m_grid->setCurrentIndex({});
        QImage image = render();

        const QRect wide = cellRect(0, 1);
        QCOMPARE(wide.height(), 20);
        const int w = thumbnailWidth(40, 20, 20);
        // Full cell height, left-aligned, width in the picture's proportions.
        for (int y = wide.top(); y <= wide.bottom(); ++y) {
            QCOMPARE(QColor(image.pixel(wide.left(), y)), QColor(Qt::red));
            QCOMPARE(QColor(image.pixel(wide.left() + w - 1, y)), QColor(Qt::red));
        }
        QVERIFY(
            uniform(image, QRect(wide.left() + w, wide.top(), wide.width() - w, wide.height())));
        QCOMPARE(QColor(image.pixel(wide.right(), wide.center().y())), base());

        const QRect tall = cellRect(3, 1);
        QCOMPARE(QColor(image.pixel(tall.left() + 4, tall.center().y())), QColor(Qt::blue));
        QCOMPARE(QColor(image.pixel(tall.left() + 5, tall.center().y())), base());

        // Not a bitmap, and no value: an empty cell, no placeholder text.
        QRgb colour = 0;
        QVERIFY(uniform(image, cellRect(1, 1), &colour));
        QCOMPARE(QColor(colour), base());
        QVERIFY(uniform(image, cellRect(2, 1), &colour));
        QCOMPARE(QColor(colour), base());

        // A selected cell keeps the selection colour beside its thumbnail.
        m_grid->setCurrentIndex(m_grid->model()->index(0, 1));
        image = render();
        const QColor highlight = m_grid->palette().color(QPalette::Inactive, QPalette::Highlight);
        QCOMPARE(QColor(image.pixel(wide.right() - 2, wide.center().y())), highlight);
        QCOMPARE(QColor(image.pixel(wide.left() + 1, wide.center().y())), QColor(Qt::red));

        // Switched off: the default text instead of the picture.
        m_grid->clearSelection();
        m_grid->setAutoDisp_Image(false);
        image = render();
        QVERIFY(!uniform(image, cellRect(0, 1)));
        QVERIFY(QColor(image.pixel(wide.left() + 1, wide.center().y())) != QColor(Qt::red));
    }

    void memoPreviews_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected"); // "*" : cut, checked by width
        QTest::newRow("first line fits") << "abc\ndef" << 200 << "abc...";
        QTest::newRow("single line fits") << "abc" << 200 << "abc...";
        QTest::newRow("CR LF") << "ab\r\ncd" << 200 << "ab...";
        QTest::newRow("CR") << "ab\rcd" << 200 << "ab...";
        QTest::newRow("empty text") << "" << 200 << "...";
        QTest::newRow("empty first line") << "\nsecond" << 200 << "...";
        QTest::newRow("narrower than dots") << "abc" << 5 << "...";
        QTest::newRow("zero width") << "abc" << 0 << "...";
        QTest::newRow("cut") << QString(300, 'W') << 100 << "*";
        QTest::newRow("huge single line") << QString(2'000'000, 'x') << 150 << "*";
    }

    void memoPreviews() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, expected);
        const QFontMetrics fm(m_grid->font());
        const QString shown = memoPreview(text, width, fm);
        if (expected != "*") {
            QCOMPARE(shown, expected);
            return;
        }
        // The kept part plus "..." fits; one more character would not.
        QVERIFY(shown.endsWith("..."));
        const QString kept = shown.chopped(3);
        QVERIFY(!kept.isEmpty());
        QVERIFY(text.startsWith(kept));
        const int room = width - fm.horizontalAdvance("...");
        QVERIFY(fm.horizontalAdvance(kept) < room);
        QVERIFY(fm.horizontalAdvance(text.left(kept.size() + 1)) >= room);
    }

    void memoCells_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("ntext") << int(data::StorageKind::Utf16);
        QTest::newRow("text") << int(data::StorageKind::Utf8);
    }

    void memoCells() {
        QFETCH(int, kind);
        const QStringList texts = {"Kurz\nzweite Zeile", QString(400, 'M') + "\nx", "",
                                   "Ärger über Öl"};
        QList<QVariantList> rows;
        for (const QString& t : texts)
            rows.append({t});
        rows.append({QVariant()});
        open({storeColumn("Text", ftMemo, data::StorageKind(kind))}, rows);
        m_grid->setColumnWidth(0, 150);
        m_grid->clearSelection();
        m_grid->setCurrentIndex({});
        const QImage image = render();
        const QFontMetrics fm(m_grid->font());
        for (int r = 0; r < rows.size(); ++r) {
            const QRect cell = cellRect(r, 0);
            // What the cell must show: the preview at its top-left corner, no margin.
            QImage expected(cell.size(), QImage::Format_RGB32);
            expected.fill(base());
            QPainter p(&expected);
            p.setFont(m_grid->font());
            p.setPen(m_grid->palette().color(QPalette::Inactive, QPalette::Text));
            p.drawText(0, fm.ascent(),
                       memoPreview(r < texts.size() ? texts[r] : QString(), cell.width(), fm));
            p.end();
            QCOMPARE(image.copy(cell), expected);
        }
    }

    void memoNarrowColumnIsClipped() {
        open({storeColumn("Nr", ftInteger, data::StorageKind::Int32),
              storeColumn("Text", ftMemo, data::StorageKind::Utf16),
              storeColumn("Leer", ftWideString, data::StorageKind::Utf16)},
             {{1, "Inhalt", QString("")}});
        m_grid->setColumnWidth(1, 6);
        m_grid->clearSelection();
        m_grid->setCurrentIndex({});
        const QImage image = render();
        // The cell shows the start of "..." and nothing spills into the next one.
        QVERIFY(!uniform(image, cellRect(0, 1)));
        QVERIFY(uniform(image, cellRect(0, 2)));
    }

    void clicksFollowTheDataSet() {
        open({storeColumn("Nr", ftInteger, data::StorageKind::Int32),
              storeColumn("Text", ftMemo, data::StorageKind::Utf16)},
             {{1, "a"}, {2, "b"}, {3, "c"}});
        QSignalSpy clicks(m_grid, &TDBBGrid::CellClick);
        const QRect cell = m_grid->visualRect(m_grid->model()->index(2, 1));
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.at(0).at(0).toInt(), 1);
        QCOMPARE(m_ds->RecNo(), 3);
        // Moving the dataset moves the grid's current row.
        m_ds->First();
        QCOMPARE(m_grid->currentIndex().row(), 0);
    }

    // The dataset owns the current row: the grid asks it to move and
    // follows what it reports, also when the grid is not the one moving it.
    void currentRowBelongsToTheDataSet() {
        open({storeColumn("Nr", ftInteger, data::StorageKind::Int32),
              storeColumn("Name", ftString, data::StorageKind::Utf16)},
             {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}});
        QSignalSpy rows(m_ds, &TADODataSet::currentRowChanged);
        m_grid->setCurrentIndex(m_grid->model()->index(2, 1));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(m_ds->RecNo(), 3);
        QCOMPARE(m_grid->currentIndex(), m_grid->model()->index(2, 1));
        QVERIFY(m_grid->selectionModel()->isSelected(m_grid->model()->index(2, 1)));
        // Within the row the dataset is not asked.
        m_grid->setCurrentIndex(m_grid->model()->index(2, 0));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(m_grid->currentIndex(), m_grid->model()->index(2, 0));
        // The indicator column moves the row, in the current column.
        QWidget* indicators = m_grid->rowHeader();
        const int top = indicators->height() - m_grid->viewport()->height();
        QTest::mouseClick(indicators, Qt::LeftButton, {},
                          QPoint(4, top + cellRect(0, 0).center().y()));
        QCOMPARE(m_ds->RecNo(), 1);
        QCOMPARE(m_grid->currentIndex(), m_grid->model()->index(0, 0));
        // Moves the grid does not see while controls are suspended are
        // caught up with when they resume.
        m_ds->DisableControls();
        m_ds->Last();
        QCOMPARE(m_grid->currentIndex().row(), 0);
        m_ds->EnableControls();
        QCOMPARE(m_grid->currentIndex().row(), 3);
        // A new result starts at the dataset's first row.
        m_ds->Close();
        QVERIFY(!m_grid->currentIndex().isValid());
        m_ds->Open();
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QCOMPARE(m_ds->RecNo(), 1);
    }

    // Assistive technology reads the dataset's titles and texts through the
    // grid, its current cell is the dataset's row, and moving there through
    // a cell's action moves the dataset.
    void readByAssistiveTechnology() {
        using K = data::StorageKind;
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Name", ftString, K::Utf16),
              storeColumn("Notiz", ftMemo, K::Utf16)},
             {{1, "Anna", "kurz"}, {2, "Bert", QVariant()}, {3, "Carl", "lang"}});
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_grid);
        QVERIFY(table);
        QAccessibleTableInterface* grid = table->tableInterface();
        QVERIFY(grid);
        QCOMPARE(grid->rowCount(), 3);
        QCOMPARE(grid->columnCount(), 3);
        QCOMPARE(grid->columnDescription(1), QStringLiteral("Name"));
        QCOMPARE(grid->cellAt(1, 1)->text(QAccessible::Name), QStringLiteral("Bert"));
        QCOMPARE(grid->cellAt(2, 0)->text(QAccessible::Name), QStringLiteral("3"));
        QCOMPARE(grid->cellAt(0, 2)->text(QAccessible::Name), QStringLiteral("(MEMO)"));
        QCOMPARE(grid->cellAt(1, 2)->text(QAccessible::Name), QStringLiteral("(memo)"));
        QVERIFY(grid->cellAt(0, 1)->state().editable);
        QVERIFY(!grid->cellAt(0, 2)->state().editable);

        m_ds->setRecNo(3);
        QVERIFY(table->focusChild());
        QCOMPARE(table->focusChild()->tableCellInterface()->rowIndex(), 2);
        grid->cellAt(0, 1)->actionInterface()->doAction(
            QAccessibleActionInterface::setFocusAction());
        QCOMPARE(m_ds->RecNo(), 1);
        QCOMPARE(table->focusChild(), grid->cellAt(0, 1));
        // A closed dataset is an empty table.
        m_ds->Close();
        QCOMPARE(grid->rowCount(), 0);
        QCOMPARE(table->focusChild(), nullptr);

        // While assistive technology listens, a move of the dataset is heard
        // as the focus going to the cell in its row, and a new result as a
        // reset of the table.
        QVERIFY(setAccessibilityActive(true));
        static QList<std::pair<QAccessible::Event, int>> heard;
        heard.clear();
        const auto previous = QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            heard.append({event->type(), event->child()});
        });
        auto restore = qScopeGuard([previous] {
            QAccessible::installUpdateHandler(previous);
            setAccessibilityActive(false);
        });
        m_ds->Open();
        QVERIFY(heard.contains(std::pair(QAccessible::TableModelChanged, -1)));
        m_grid->activateWindow();
        m_grid->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(m_grid));
        heard.clear();
        m_ds->setRecNo(2);
        const int cell = table->indexOfChild(grid->cellAt(1, m_grid->currentIndex().column()));
        QVERIFY(heard.contains(std::pair(QAccessible::Focus, cell)));
    }

    // F2 on a large object opens it as a click does: the dataset is on the
    // row and the cell's column is reported. On an ordinary field of a
    // result that cannot be changed it opens nothing and reports why.
    void f2OpensALargeObject() {
        using K = data::StorageKind;
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Notiz", ftMemo, K::Utf16)},
             {{1, "a"}, {2, "b"}});
        QStringList errors;
        m_grid->setErrorHandler([&errors](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                errors << QString::fromUtf8(x.what());
            }
        });
        QSignalSpy clicks(m_grid, &TDBBGrid::CellClick);
        m_grid->setCurrentIndex(m_grid->model()->index(1, 1));
        QTest::keyClick(m_grid, Qt::Key_F2);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks.at(0).at(0).toInt(), 1);
        QCOMPARE(m_ds->RecNo(), 2);
        m_grid->setEditLocked(true);
        QTest::keyClick(m_grid, Qt::Key_F2);
        QCOMPARE(clicks.size(), 2);
        m_grid->setEditLocked(false);
        m_grid->setCurrentIndex(m_grid->model()->index(1, 0));
        QTest::keyClick(m_grid, Qt::Key_F2);
        QCOMPARE(clicks.size(), 2);
        for (const QLineEdit* editor : m_grid->findChildren<QLineEdit*>())
            QVERIFY(!editor->isVisible());
    }

    // The indicator column marks the current row, and no other.
    void currentRowIsMarked() {
        open({storeColumn("Nr", ftInteger, data::StorageKind::Int32)}, {{1}, {2}, {3}});
        m_grid->setCurrentIndex(m_grid->model()->index(1, 0));
        QWidget* header = m_grid->rowHeader();
        const QImage image = header->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QColor ink = m_grid->palette().color(QPalette::WindowText);
        const int top = header->height() - m_grid->viewport()->height();
        auto marked = [&](int row) {
            const QRect cell = cellRect(row, 0);
            for (int y = top + cell.top(); y <= top + cell.bottom(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (QColor(image.pixel(x, y)) == ink)
                        return true;
            return false;
        };
        QVERIFY(!marked(0));
        QVERIFY(marked(1));
        QVERIFY(!marked(2));
    }

    void millionRows() {
        using K = data::StorageKind;
        auto paintCalls = [this](int rowCount) {
            m_ds->Close();
            m_store = std::make_shared<data::ResultStore>(QList<data::ColumnInfo>{
                storeColumn("Nr", ftInteger, K::Int32), storeColumn("Text", ftMemo, K::Utf16)});
            m_store->appendRows(rowCount);
            for (qint64 r : {qint64(0), qint64(rowCount - 1)}) {
                m_store->setValue(r, 0, int(r));
                m_store->setValue(r, 1, QStringLiteral("Zeile %1\nmehr").arg(r));
            }
            m_ds->Open();
            CountingProxy proxy;
            proxy.setSourceModel(m_grid->gridModel());
            m_grid->setModel(&proxy);
            render();
            const int top = proxy.calls;
            proxy.calls = 0;
            m_grid->scrollToBottom();
            render();
            const int bottom = proxy.calls;
            proxy.calls = 0;
            m_grid->horizontalHeader()->resizeSection(1, 300);
            render();
            const int resized = proxy.calls;
            const bool lastShown = m_grid->rowAt(m_grid->viewport()->height() - 30) >= rowCount - 3;
            m_grid->setModel(m_grid->gridModel());
            return std::array<int, 4>{top, bottom, resized, lastShown ? 1 : 0};
        };
        const auto small = paintCalls(100);
        const auto big = paintCalls(1'000'000);
        QCOMPARE(m_store->rowCount(), 1'000'000);
        QCOMPARE(big[3], 1);
        // Painting asks the model about the visible cells only: as many
        // questions for a million rows as for a hundred.
        QCOMPARE(big[0], small[0]);
        QCOMPARE(big[1], small[1]);
        QCOMPARE(big[2], small[2]);
        QVERIFY(big[0] > 0 && big[0] < 2000);
    }
};

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
