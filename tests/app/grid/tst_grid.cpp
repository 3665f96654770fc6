// The result grid: default texts, the thumbnail and "..." drawing rules on
// rendered images, the dataset as the one owner of the current row, clicks,
// a million rows, and the grid as assistive technology reads it.

#include "app/grid/DBBGrid.h"
#include "tests/app/grid/storeprovider.h"
#include "tests/controls/accessibility_on.h"

#include "data/resultstore.h"
#include <QAccessible>
#include <QClipboard>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
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

    QPoint centre(int row, int column) const { return cellRect(row, column).center(); }

    QList<QPair<int, int>> selectedCells() const {
        QList<QPair<int, int>> cells;
        for (const QModelIndex& i : m_grid->selectionModel()->selectedIndexes())
            cells.append({i.row(), i.column()});
        std::sort(cells.begin(), cells.end());
        return cells;
    }

    static QList<QPair<int, int>> block(int top, int left, int bottom, int right) {
        QList<QPair<int, int>> cells;
        for (int r = top; r <= bottom; ++r)
            for (int c = left; c <= right; ++c)
                cells.append({r, c});
        return cells;
    }

    // Copies and returns the clipboard once the copy is done.
    const QMimeData* copy(bool titles) {
        QSignalSpy done(m_grid, &TDBBGrid::copyFinished);
        QTest::keyClick(m_grid, Qt::Key_C,
                        titles ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        if (done.isEmpty() && !done.wait(5000))
            return nullptr;
        return QGuiApplication::clipboard()->mimeData();
    }

    // Tab-separated text read back as a spreadsheet reads it.
    static QList<QStringList> parseTabbed(const QString& text) {
        QList<QStringList> rows{{}};
        QString field;
        bool inQuotes = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (inQuotes) {
                if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                    field += c, ++i;
                else if (c == u'"')
                    inQuotes = false;
                else
                    field += c;
            } else if (c == u'"' && field.isEmpty()) {
                inQuotes = true;
            } else if (c == u'\t') {
                rows.last() << field;
                field.clear();
            } else if (c == u'\n') {
                rows.last() << field;
                field.clear();
                rows.append(QStringList());
            } else {
                field += c;
            }
        }
        rows.last() << field;
        return rows;
    }

    void openNumbers(int count) {
        using K = data::StorageKind;
        QList<QVariantList> rows;
        for (int r = 0; r < count; ++r)
            rows.append(
                {r, QStringLiteral("z%1").arg(count - r), r % 3 ? QVariant(r % 3) : QVariant()});
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Name", ftWideString, K::Utf16),
              storeColumn("Rest", ftInteger, K::Int32)},
             rows);
    }

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
        // Long texts are clipped: an ellipsis would read like the memo preview.
        QCOMPARE(m_grid->textElideMode(), Qt::ElideNone);
        QCOMPARE(m_grid->selectionMode(), QAbstractItemView::ExtendedSelection);
    }

    // Ranges by dragging, Shift+click and Shift+arrows; whole rows in the
    // indicator column; a column by Ctrl+click on its title; all by Ctrl+A;
    // and the table that assistive technology reads reports each.
    void selectionByMouseAndKeys() {
        openNumbers(6);
        QWidget* port = m_grid->viewport();
        QTest::mousePress(port, Qt::LeftButton, {}, centre(1, 0));
        QMouseEvent move(QEvent::MouseMove, centre(3, 1), port->mapToGlobal(centre(3, 1)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(port, &move);
        QTest::mouseRelease(port, Qt::LeftButton, {}, centre(3, 1));
        QCOMPARE(selectedCells(), block(1, 0, 3, 1));

        QTest::mouseClick(port, Qt::LeftButton, {}, centre(0, 0));
        QTest::mouseClick(port, Qt::LeftButton, Qt::ShiftModifier, centre(2, 2));
        QCOMPARE(selectedCells(), block(0, 0, 2, 2));
        QTest::keyClick(m_grid, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(selectedCells(), block(0, 0, 3, 2));
        QCOMPARE(m_ds->RecNo(), 4); // the dataset follows the current cell

        QWidget* indicator = m_grid->rowHeader();
        const int top = indicator->height() - port->height();
        auto rowPoint = [&](int row) { return QPoint(4, top + centre(row, 0).y()); };
        QTest::mousePress(indicator, Qt::LeftButton, {}, rowPoint(4));
        QCOMPARE(selectedCells(), block(4, 0, 4, 2));
        QMouseEvent drag(QEvent::MouseMove, rowPoint(5), indicator->mapToGlobal(rowPoint(5)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(indicator, &drag);
        QTest::mouseRelease(indicator, Qt::LeftButton, {}, rowPoint(5));
        QCOMPARE(selectedCells(), block(4, 0, 5, 2));
        QCOMPARE(m_ds->RecNo(), 5);

        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_grid);
        QVERIFY(table && table->tableInterface());
        QCOMPARE(table->tableInterface()->selectedRows(), (QList<int>{4, 5}));
        QCOMPARE(table->tableInterface()->selectedCellCount(), 6);

        QHeaderView* titles = m_grid->horizontalHeader();
        const QPoint title(titles->sectionViewportPosition(1) + 5, titles->height() / 2);
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::ControlModifier, title);
        QCOMPARE(selectedCells(), block(0, 1, 5, 1));
        QVERIFY(table->tableInterface()->isColumnSelected(1));
        QCOMPARE(m_grid->gridModel()->sortColumn(), -1); // Ctrl+click does not sort

        QTest::keyClick(m_grid, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selectedCells(), block(0, 0, 5, 2));
        QCOMPARE(table->tableInterface()->selectedCellCount(), 18);
    }

    // A range copied and read back through the clipboard as a spreadsheet
    // reads it: tabs, line breaks and quotes stay inside their cells, NULL
    // is empty, numbers as shown; with titles on the first line; the HTML
    // flavour holds the same table.
    void copyReadsBackThroughTheClipboard() {
        using K = data::StorageKind;
        open({storeColumn("Nr", ftInteger, K::Int32), storeColumn("Text", ftWideString, K::Utf16),
              storeColumn("Menge", ftFloat, K::Double)},
             {{1, "Tab\there", 2.5},
              {2, "zwei\nZeilen", QVariant()},
              {3, "sagt \"ja\"", -1.0},
              {4, "<b>&", 0.0},
              {5, "", 7.0}});
        m_grid->selectionModel()->select(
            QItemSelection(m_grid->model()->index(0, 0), m_grid->model()->index(4, 2)),
            QItemSelectionModel::ClearAndSelect);
        const QMimeData* data = copy(false);
        QVERIFY(data);
        const QList<QStringList> back = parseTabbed(data->text());
        QCOMPARE(back.size(), 5);
        QCOMPARE(back[0], (QStringList{"1", "Tab\there", "2.5"}));
        QCOMPARE(back[1], (QStringList{"2", "zwei\nZeilen", ""}));
        QCOMPARE(back[2], (QStringList{"3", "sagt \"ja\"", "-1"}));
        QCOMPARE(back[3], (QStringList{"4", "<b>&", "0"}));
        QCOMPARE(back[4], (QStringList{"5", "", "7"}));
        QVERIFY(data->hasHtml());
        const QString html = data->html();
        QVERIFY(html.contains("<td>&lt;b&gt;&amp;</td>"));
        QVERIFY(html.contains("<td>zwei<br>Zeilen</td>"));
        QCOMPARE(html.count("<tr>"), 5);

        // Two columns of two rows, with titles.
        m_grid->selectionModel()->select(
            QItemSelection(m_grid->model()->index(1, 1), m_grid->model()->index(2, 2)),
            QItemSelectionModel::ClearAndSelect);
        data = copy(true);
        QVERIFY(data);
        QCOMPARE(
            parseTabbed(data->text()),
            (QList<QStringList>{{"Text", "Menge"}, {"zwei\nZeilen", ""}, {"sagt \"ja\"", "-1"}}));
        QVERIFY(data->html().contains("<th>Menge</th>"));

        // Two cells apart: the rows and columns they span, the rest empty.
        m_grid->selectionModel()->select(m_grid->model()->index(0, 0),
                                         QItemSelectionModel::ClearAndSelect);
        m_grid->selectionModel()->select(m_grid->model()->index(2, 2), QItemSelectionModel::Select);
        data = copy(false);
        QVERIFY(data);
        QCOMPARE(data->text(), QStringLiteral("1\t\n\t-1"));

        // A cancelled copy leaves the clipboard alone.
        QGuiApplication::clipboard()->setText(QStringLiteral("vorher"));
        QSignalSpy finished(m_grid, &TDBBGrid::copyFinished);
        m_grid->copySelection(false);
        QVERIFY(m_grid->runningCopy());
        m_grid->runningCopy()->cancel();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
        QTest::qWait(20);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("vorher"));

        // Nothing selected: the current cell.
        m_grid->clearSelection();
        m_grid->setCurrentIndex(m_grid->model()->index(3, 0));
        m_grid->clearSelection();
        data = copy(false);
        QVERIFY(data);
        QCOMPARE(data->text(), QStringLiteral("4"));
    }

    // The context menu offers both copies, in German.
    void contextMenuOffersCopies() {
        openNumbers(2);
        QTimer::singleShot(0, this, [this] {
            auto* menu = m_grid->findChild<QMenu*>(QStringLiteral("gridMenu"));
            QVERIFY(menu);
            QStringList texts;
            for (QAction* a : menu->actions())
                texts << a->text();
            QCOMPARE(texts, (QStringList{"Kopieren", "Mit Spaltenüberschriften kopieren"}));
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, centre(0, 0),
                                m_grid->viewport()->mapToGlobal(centre(0, 0)));
        QApplication::sendEvent(m_grid->viewport(), &event);
    }

    // NULL is drawn as a grey "NULL", an empty text as nothing.
    void nullLooksDifferentFromEmpty() {
        using K = data::StorageKind;
        open({storeColumn("A", ftWideString, K::Utf16), storeColumn("B", ftWideString, K::Utf16)},
             {{QVariant(), QString("")}});
        m_grid->clearSelection();
        m_grid->setCurrentIndex({});
        const QImage image = render();
        QVERIFY(uniform(image, cellRect(0, 1)));
        QVERIFY(!uniform(image, cellRect(0, 0)));
        bool grey = false;
        const QRect cell = cellRect(0, 0);
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x) {
                const QColor c(image.pixel(x, y));
                grey |=
                    c != base() && qAbs(c.red() - c.green()) < 8 && c.red() > 60 && c.red() < 200;
            }
        QVERIFY(grey);
        QCOMPARE(m_grid->model()->index(0, 0).data(TDBBGridModel::IsNullRole).toBool(), true);
        QCOMPARE(m_grid->model()->index(0, 1).data(TDBBGridModel::IsNullRole).toBool(), false);
    }

    // A click on a title sorts up, down and back to the server's order; the
    // title shows an arrow; the current row, cell clicks and edits follow
    // the dataset's rows.
    void titleClicksSort() {
        openNumbers(6); // Name: z6 z5 z4 z3 z2 z1
        TDBBGridModel* model = m_grid->gridModel();
        QHeaderView* titles = m_grid->horizontalHeader();
        auto clickTitle = [&](int column) {
            QSignalSpy sorted(model, &TDBBGridModel::sorted);
            const QPoint at(titles->sectionViewportPosition(column) + 5, titles->height() / 2);
            QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, at);
            QVERIFY(!sorted.isEmpty() || sorted.wait(5000)); // the server's order comes at once
        };
        auto column = [&](int c) {
            QStringList values;
            for (int r = 0; r < model->rowCount(); ++r)
                values << model->index(r, c).data().toString();
            return values;
        };
        m_grid->setCurrentIndex(model->index(1, 0));
        QCOMPARE(m_ds->RecNo(), 2);
        clickTitle(1);
        QCOMPARE(column(1), (QStringList{"z1", "z2", "z3", "z4", "z5", "z6"}));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name \u25B2"));
        // The current row stays the dataset's row, now shown fifth.
        QCOMPARE(m_ds->RecNo(), 2);
        QCOMPARE(m_grid->currentIndex().row(), 4);
        m_grid->setCurrentIndex(model->index(0, 0));
        QCOMPARE(m_ds->RecNo(), 6);
        QSignalSpy clicked(m_grid, &TDBBGrid::CellClick);
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, centre(2, 1));
        QCOMPARE(m_ds->RecNo(), 4);
        QCOMPARE(clicked.size(), 1);

        clickTitle(2); // Rest: NULL first, then 1 1 2 2, ties in order
        QCOMPARE(column(0), (QStringList{"0", "3", "1", "4", "2", "5"}));
        clickTitle(2);
        QCOMPARE(column(0), (QStringList{"2", "5", "1", "4", "0", "3"}));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Rest \u25BC"));
        QCOMPARE(model->headerData(2, Qt::Horizontal, Qt::AccessibleDescriptionRole).toString(),
                 QStringLiteral("absteigend sortiert"));
        clickTitle(2);
        QCOMPARE(column(0), (QStringList{"0", "1", "2", "3", "4", "5"}));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Rest"));
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
