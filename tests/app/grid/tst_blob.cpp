// The cell viewer: which control a click shows, what it holds, its geometry,
// and that both controls are hidden and unbound before and after each use.

#include "app/grid/uBlob.h"
#include "tests/app/grid/storeprovider.h"

#include "data/resultstore.h"
#include "modal/modal.h"
#include <QScrollBar>
#include <QtTest>

namespace {

const QByteArray kGifBytes = QByteArray("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 13);

struct Seen {
    int opened = 0;
    bool imageVisible = false, memoVisible = false;
    QString imageField, memoField, text;
    QSize picture;
    QImage rendered;
};

} // namespace

class TestBlob : public QObject {
    Q_OBJECT
    std::shared_ptr<data::ResultStore> m_store;
    TADOConnection* m_conn = nullptr;
    TADODataSet* m_ds = nullptr;
    TDataSource* m_source = nullptr;
    TFMBlob* m_viewer = nullptr;
    Seen m_seen;

    void click(int row, int column) {
        m_ds->setRecNo(row + 1);
        m_seen = {};
        modal::setDialogHandler([this](QDialog* d) {
            auto* v = static_cast<TFMBlob*>(d);
            v->show();
            ++m_seen.opened;
            m_seen.imageVisible = v->DBImage->isVisible();
            m_seen.memoVisible = v->DBMemo->isVisible();
            m_seen.imageField = v->DBImage->DataField();
            m_seen.memoField = v->DBMemo->DataField();
            m_seen.text = v->DBMemo->toPlainText();
            m_seen.picture = v->DBImage->pixmap().size();
            m_seen.rendered = v->DBImage->grab().toImage();
            v->hide();
            return int(QDialog::Rejected);
        });
        DBGridQueryCellClick(*m_viewer, m_ds, column);
    }

    void verifyIdle() {
        QVERIFY(m_viewer->DBImage->isHidden());
        QVERIFY(m_viewer->DBMemo->isHidden());
        QVERIFY(m_viewer->DBImage->DataField().isEmpty());
        QVERIFY(m_viewer->DBMemo->DataField().isEmpty());
    }

private slots:
    void initTestCase() {
        data::registerProvider(QStringLiteral("GridStore"),
                               [this] { return std::make_shared<StoreProvider>(&m_store); });
    }

    void init() {
        using K = data::StorageKind;
        m_store = std::make_shared<data::ResultStore>(QList<data::ColumnInfo>{
            storeColumn("Nr", ftInteger, K::Int32), storeColumn("Name", ftWideString, K::Utf16),
            storeColumn("Bild", ftBlob, K::Bytes), storeColumn("Text", ftMemo, K::Utf16),
            storeColumn("Grafik", ftGraphic, K::Bytes), storeColumn("Text", ftMemo, K::Utf8)});
        const QString longText = QStringLiteral("Erste Zeile\n") + QString(5000, 'x') + "\nEnde";
        const QList<QVariantList> rows = {
            {1, "klein", bitmapBytes(40, 30, Qt::red, true), longText,
             bitmapBytes(8, 8, Qt::blue, true), "zweites Feld"},
            {2, "gross", bitmapBytes(800, 600, Qt::red, true), QVariant(), QVariant(), QVariant()},
            {3, "jpeg", kJpegBytes, "", kGifBytes, ""},
        };
        for (const QVariantList& row : rows) {
            const qint64 r = m_store->appendRows(1);
            for (int c = 0; c < row.size(); ++c)
                m_store->setValue(r, c, row[c]);
        }
        m_conn = new TADOConnection;
        m_conn->setConnectionString(QStringLiteral("Provider=GridStore"));
        m_ds = new TADODataSet;
        m_ds->setConnection(m_conn);
        m_ds->setCommandText(QStringLiteral("select"));
        m_ds->Open();
        m_source = new TDataSource;
        m_source->setDataSet(m_ds);
        m_viewer = new TFMBlob(m_source);
    }

    void cleanup() {
        modal::setDialogHandler({});
        delete m_viewer;
        delete m_source;
        delete m_ds;
        delete m_conn;
    }

    void geometry() {
        QCOMPARE(m_viewer->objectName(), QStringLiteral("FMBlob"));
        QCOMPARE(m_viewer->windowTitle(), QStringLiteral("FMBlob"));
        QCOMPARE(m_viewer->size(), QSize(381, 313));
        QCOMPARE(m_viewer->DBImage->geometry(), QRect(8, 8, 357, 269));
        QCOMPARE(m_viewer->DBMemo->geometry(), QRect(8, 8, 357, 269));
        QCOMPARE(m_viewer->DBImage->alignment(), Qt::AlignCenter);
        QVERIFY(!m_viewer->DBImage->hasScaledContents());
        QCOMPARE(m_viewer->DBMemo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m_viewer->DBMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        verifyIdle();
        // The controls do not follow the window's size.
        m_viewer->show();
        m_viewer->resize(700, 500);
        QCOMPARE(m_viewer->DBImage->geometry(), QRect(8, 8, 357, 269));
        QCOMPARE(m_viewer->DBMemo->geometry(), QRect(8, 8, 357, 269));
    }

    void textCellShowsWholeText_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::newRow("long ntext")
            << 0 << 3 << QStringLiteral("Erste Zeile\n") + QString(5000, 'x') + "\nEnde";
        QTest::newRow("text, same name as another field") << 0 << 5 << "zweites Feld";
        QTest::newRow("null") << 1 << 3 << "";
        QTest::newRow("empty") << 2 << 3 << "";
    }

    void textCellShowsWholeText() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        click(row, column);
        QCOMPARE(m_seen.opened, 1);
        QVERIFY(m_seen.memoVisible);
        QVERIFY(!m_seen.imageVisible);
        QCOMPARE(m_seen.memoField, QStringLiteral("Text"));
        QCOMPARE(m_seen.text, text);
        verifyIdle();
        QVERIFY(m_viewer->DBMemo->toPlainText().isEmpty());
    }

    // A line too wide to show unwrapped is shown wrapped: its start looks as
    // the same words do in a short value, and scrolling down shows the
    // value's end, drawn as the same words are in a short value.
    void overwideLineDrawnWrapped() {
        m_viewer->show();
        TDBMemo& memo = *m_viewer->DBMemo;
        memo.show();
        memo.setCursorWidth(0); // no caret in the pictures
        const QString word = QStringLiteral("WWWWWWWWW ");
        const QString value =
            word.repeated(40'000'000 / memo.fontMetrics().horizontalAdvance(word));
        const QString start = word + word.trimmed();
        const QRect strip(0, 0, memo.fontMetrics().horizontalAdvance(start) + 2,
                          memo.fontMetrics().height() + 4);

        memo.showText(start);
        QCOMPARE(memo.lineWrapMode(), TextPane::NoWrap);
        const QImage expected = memo.viewport()->grab(strip).toImage();

        memo.showText(value);
        QCOMPARE(memo.lineWrapMode(), TextPane::WidgetWidth);
        QCOMPARE(memo.viewport()->grab(strip).toImage(), expected);

        memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
        const QRect area = memo.viewport()->rect();
        QCOMPARE(memo.cursorForPosition(area.bottomRight()).position(), value.size());
        const int shownFrom = memo.cursorForPosition(area.topLeft()).position();
        QVERIFY(shownFrom > value.size() - 1000);
        const QImage end = memo.viewport()->grab().toImage();
        // The shown lines start a screen line, so the same text alone breaks
        // and draws alike; letters overlapping or out of place would differ.
        memo.setLineWrapMode(TextPane::WidgetWidth);
        memo.setPlainText(value.mid(shownFrom));
        QCOMPARE(memo.viewport()->grab().toImage(), end);
        m_viewer->hide();
    }

    // The viewer made at start-up builds its controls only when a cell is
    // first clicked; bound to the same source, it then shows the cell as ever.
    void controlsBuiltWhenOpened() {
        delete m_viewer;
        m_viewer = new TFMBlob(m_source, nullptr, TFMBlob::Controls::WhenShown);
        m_viewer->ensurePolished();
        QVERIFY(!m_viewer->isBuilt());
        QVERIFY(!m_viewer->findChild<TextPane*>());
        click(0, 0); // an ordinary column opens nothing, but builds the controls
        QCOMPARE(m_seen.opened, 0);
        verifyIdle();
        click(0, 5);
        QCOMPARE(m_seen.opened, 1);
        QVERIFY(m_seen.memoVisible);
        QCOMPARE(m_seen.text, QStringLiteral("zweites Feld"));
        verifyIdle();
        QCOMPARE(m_viewer->DBMemo->geometry(), QRect(8, 8, 357, 269));
    }

    void pictureShownCentredUnscaled_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QSize>("size");
        QTest::newRow("small blob") << 0 << 2 << QSize(40, 30);
        QTest::newRow("larger than the control") << 1 << 2 << QSize(800, 600);
        QTest::newRow("graphic") << 0 << 4 << QSize(8, 8);
        QTest::newRow("empty graphic") << 1 << 4 << QSize(0, 0);
    }

    void pictureShownCentredUnscaled() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QSize, size);
        click(row, column);
        QCOMPARE(m_seen.opened, 1);
        QVERIFY(m_seen.imageVisible);
        QVERIFY(!m_seen.memoVisible);
        QCOMPARE(m_seen.picture, size);
        if (!size.isEmpty()) {
            // The picture's centre mark lies in the control's centre.
            const QImage& shown = m_seen.rendered;
            QCOMPARE(shown.size(), QSize(357, 269));
            QCOMPARE(QColor(shown.pixel(178, 134)), QColor(Qt::green));
            if (size.width() > 357) // cut at the edges, not scaled down
                QCOMPARE(QColor(shown.pixel(0, 0)), QColor(Qt::red));
        }
        verifyIdle();
    }

    void notABitmap_data() {
        QTest::addColumn<int>("column");
        QTest::newRow("jpeg in a blob") << 2;
        QTest::newRow("gif in a graphic") << 4;
    }

    void notABitmap() {
        QFETCH(int, column);
        bool raised = false;
        try {
            click(2, column);
        } catch (const std::exception& e) {
            raised = true;
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Bitmap ist ungültig"));
        }
        QVERIFY(raised);
        QCOMPARE(m_seen.opened, 0); // the viewer does not open
        verifyIdle();
    }

    void ordinaryColumnsOpenNothing() {
        click(0, 0);
        click(0, 1);
        QCOMPARE(m_seen.opened, 0);
        DBGridQueryCellClick(*m_viewer, m_ds, 99);
        m_ds->Close();
        DBGridQueryCellClick(*m_viewer, m_ds, 3);
        QCOMPARE(m_seen.opened, 0);
        verifyIdle();
    }
};

QTEST_MAIN(TestBlob)
#include "tst_blob.moc"
