// The uniform-row table view: computed row geometry agrees with itself after
// scrolling, appended rows leave the place and the current cell alone, and
// keys and clicks land on the cells they should; assistive technology reads
// it as a table and hears of appended rows, moves and changed values.

#include "controls/gridview.h"
#include "tests/controls/accessibility_on.h"

#include <QAbstractTableModel>
#include <QAccessible>
#include <QHeaderView>
#include <QScrollBar>
#include <QtTest>

namespace {

// Rows that can be appended in blocks, as a fetch appends them.
class GrowingModel : public QAbstractTableModel {
public:
    int rows = 0;
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : rows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 6;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        if (index.row() == changedRow)
            return QStringLiteral("neu");
        return QStringLiteral("%1/%2").arg(index.row()).arg(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
            return {};
        return QStringLiteral("Spalte %1").arg(section);
    }
    void change(int row) {
        changedRow = row;
        emit dataChanged(index(row, 0), index(row, 5));
    }
    int changedRow = -1;
    void reset(int count) {
        beginResetModel();
        rows = count;
        endResetModel();
    }
    void append(int count) {
        beginInsertRows({}, rows, rows + count - 1);
        rows += count;
        endInsertRows();
    }
};

// What assistive technology was told, copied out of the events.
struct Heard {
    QAccessible::Event type;
    int child;
    int firstRow = -1;
    int lastRow = -1;
    QAccessibleTableModelChangeEvent::ModelChangeType change{};
};
QList<Heard> g_heard;

void listen(QAccessibleEvent* event) {
    Heard heard{event->type(), event->child()};
    if (event->type() == QAccessible::TableModelChanged) {
        auto* model = static_cast<QAccessibleTableModelChangeEvent*>(event);
        heard.firstRow = model->firstRow();
        heard.lastRow = model->lastRow();
        heard.change = model->modelChangeType();
    }
    g_heard.append(heard);
}

QList<Heard> heardOf(QAccessible::Event type) {
    QList<Heard> found;
    for (const Heard& h : std::as_const(g_heard))
        if (h.type == type)
            found.append(h);
    return found;
}

} // namespace

class TestGridView : public QObject {
    Q_OBJECT
    GrowingModel* m_model = nullptr;
    GridView* m_view = nullptr;

    QModelIndex at(int row, int column) const { return m_model->index(row, column); }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(m_view, key, modifiers);
    }

private slots:
    void init() {
        m_model = new GrowingModel;
        m_view = new GridView;
        m_view->setModel(m_model);
        m_view->setRowHeight(20);
        m_view->resize(400, 300);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
    }

    void cleanup() {
        delete m_view;
        delete m_model;
    }

    void appendedRowsKeepPlaceAndCurrentCell() {
        m_model->append(1000);
        m_view->setCurrentIndex(at(500, 1));
        m_view->scrollTo(at(500, 1), QAbstractItemView::PositionAtTop);
        QCOMPARE(m_view->topRow(), 500);
        for (int i = 0; i < 50; ++i)
            m_model->append(20'000);
        QCOMPARE(m_view->topRow(), 500);
        QCOMPARE(m_view->currentIndex(), at(500, 1));
        const int full = m_view->viewport()->height() / 20;
        QCOMPARE(m_view->verticalScrollBar()->maximum(), m_model->rows - full);

        // Where a cell is drawn and which cell is under a point agree, also
        // after scrolling both ways.
        m_view->horizontalScrollBar()->setValue(70);
        m_view->verticalScrollBar()->setValue(900'000);
        for (const QModelIndex& index : {at(900'000, 1), at(900'003, 2), at(900'001, 3)}) {
            const QRect cell = m_view->visualRect(index);
            QVERIFY(m_view->viewport()->rect().contains(cell));
            QCOMPARE(m_view->indexAt(cell.center()), index);
            QCOMPARE(m_view->indexAt(cell.topLeft()), index);
            QCOMPARE(m_view->indexAt(cell.bottomRight()), index);
        }
        QVERIFY(m_view->visualRect(at(10, 0)).bottom() < 0); // far above
    }

    void keysMoveAndScroll() {
        m_model->append(200);
        m_view->setFocus();
        m_view->setCurrentIndex(at(0, 0));
        const int full = m_view->viewport()->height() / 20;
        press(Qt::Key_PageDown);
        QCOMPARE(m_view->currentIndex(), at(full, 0));
        press(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_view->currentIndex(), at(199, 5));
        const QRect last = m_view->visualRect(at(199, 5));
        QVERIFY(m_view->viewport()->rect().contains(last));
        QCOMPARE(m_view->topRow(), 200 - full);
        press(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_view->currentIndex(), at(0, 0));
        QCOMPARE(m_view->topRow(), 0);
        // Tab runs on from the last field of a row to the first of the next.
        m_view->setCurrentIndex(at(3, 5));
        press(Qt::Key_Tab);
        QCOMPARE(m_view->currentIndex(), at(4, 0));
        press(Qt::Key_Backtab);
        QCOMPARE(m_view->currentIndex(), at(3, 5));
    }

    void clickSelectsTheCellUnderTheMouse() {
        m_model->append(100);
        m_view->verticalScrollBar()->setValue(40);
        m_view->horizontalScrollBar()->setValue(30);
        const QRect cell = m_view->visualRect(at(42, 1));
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(m_view->currentIndex(), at(42, 1));
        QVERIFY(m_view->selectionModel()->isSelected(at(42, 1)));
        // A click on the indicator column moves the current row only.
        QWidget* indicators = m_view->rowHeader();
        const int top = indicators->height() - m_view->viewport()->height();
        QTest::mouseClick(indicators, Qt::LeftButton, {},
                          QPoint(4, top + m_view->visualRect(at(45, 0)).center().y()));
        QCOMPARE(m_view->currentIndex(), at(45, 1));
    }

    // The focused view frames its current cell, selected or not; without
    // focus the frame is gone.
    void currentCellFramedWhileFocused() {
        m_model->append(20);
        m_view->activateWindow();
        m_view->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(m_view));
        auto shot = [this] {
            m_view->viewport()->repaint();
            return m_view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        auto edgeColours = [](const QImage& image, const QRect& cell) {
            QSet<QRgb> colours;
            for (int x = cell.left(); x <= cell.right(); ++x)
                colours << image.pixel(x, cell.top()) << image.pixel(x, cell.bottom());
            return colours.size();
        };
        // Ctrl+Down moves without selecting.
        m_view->setCurrentIndex(at(2, 1));
        press(Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(m_view->currentIndex(), at(3, 1));
        QVERIFY(!m_view->selectionModel()->isSelected(at(3, 1)));
        const QRect cell = m_view->visualRect(at(3, 1));
        const QImage focused = shot();
        QVERIFY(edgeColours(focused, cell) > 1); // the dots
        m_view->clearFocus();
        QVERIFY(!m_view->hasFocus());
        QCOMPARE(edgeColours(shot(), cell), 1);
        // Selected: the frame shows on the highlight as well.
        m_view->setFocus();
        m_view->setCurrentIndex(at(5, 1));
        QVERIFY(m_view->selectionModel()->isSelected(at(5, 1)));
        QVERIFY(edgeColours(shot(), m_view->visualRect(at(5, 1))) > 1);
    }

    // Through the interfaces Qt's own table offers, on the real widget.
    void readAsATable() {
        m_model->append(1'000'000);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_view);
        QVERIFY(table && table->tableInterface());
        QCOMPARE(table->role(), QAccessible::Table);
        QAccessibleTableInterface* grid = table->tableInterface();
        QCOMPARE(grid->rowCount(), 1'000'000);
        QCOMPARE(grid->columnCount(), 6);
        QCOMPARE(table->childCount(), 1'000'001 * 7);
        QCOMPARE(grid->columnDescription(2), QStringLiteral("Spalte 2"));
        QCOMPARE(grid->rowDescription(41), QStringLiteral("42"));

        QAccessibleInterface* cell = grid->cellAt(999'999, 5);
        QVERIFY(cell && cell->isValid());
        QCOMPARE(cell->role(), QAccessible::Cell);
        QCOMPARE(cell->text(QAccessible::Name), QStringLiteral("999999/5"));
        QCOMPARE(cell->parent(), table);
        QCOMPARE(table->child(table->indexOfChild(cell)), cell);
        QAccessibleTableCellInterface* place = cell->tableCellInterface();
        QCOMPARE(place->rowIndex(), 999'999);
        QCOMPARE(place->columnIndex(), 5);
        QCOMPARE(place->table(), table);
        QVERIFY(cell->state().invisible); // far below the viewport
        QCOMPARE(place->columnHeaderCells().value(0)->role(), QAccessible::ColumnHeader);
        QCOMPARE(place->columnHeaderCells().value(0)->text(QAccessible::Name),
                 QStringLiteral("Spalte 5"));
        QCOMPARE(place->rowHeaderCells().value(0)->role(), QAccessible::RowHeader);
        QCOMPARE(place->rowHeaderCells().value(0)->text(QAccessible::Name),
                 QStringLiteral("1000000"));
        QVERIFY(cell->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::toggleAction()));

        // A cell on screen lies where the view draws it, and is found there.
        QAccessibleInterface* shown = grid->cellAt(2, 1);
        const QRect drawn = m_view->visualRect(at(2, 1));
        QCOMPARE(shown->rect(),
                 QRect(m_view->viewport()->mapToGlobal(drawn.topLeft()), drawn.size()));
        QCOMPARE(table->childAt(shown->rect().center().x(), shown->rect().center().y()), shown);
        QCOMPARE(table->child(3)->text(QAccessible::Name), QStringLiteral("Spalte 2"));
        const QRect title = table->child(3)->rect();
        QCOMPARE(table->childAt(title.center().x(), title.center().y()), table->child(3));
        const QRect mark = place->rowHeaderCells().value(0)->rect();
        QVERIFY(mark.isEmpty()); // row 999999 is not on screen
        QAccessibleInterface* third = grid->cellAt(2, 0)->tableCellInterface()->rowHeaderCells()[0];
        QCOMPARE(third->text(QAccessible::Name), QStringLiteral("3"));
        QCOMPARE(table->childAt(third->rect().center().x(), third->rect().center().y()), third);
        // The view's own widgets are no children of the table.
        QCOMPARE(table->indexOfChild(QAccessible::queryAccessibleInterface(m_view->rowHeader())),
                 -1);

        // Selecting through the cell's action selects in the view.
        shown->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(m_view->selectionModel()->isSelected(at(2, 1)));
        QCOMPARE(grid->selectedCellCount(), 1);
        QVERIFY(grid->selectedColumns().isEmpty());
        QVERIFY(!grid->isRowSelected(2));
        QCOMPARE(grid->selectedCells().value(0), shown);
        QVERIFY(shown->state().selected);

        // The indicator column has a role and a name.
        QAccessibleInterface* indicators =
            QAccessible::queryAccessibleInterface(m_view->rowHeader());
        QCOMPARE(indicators->role(), QAccessible::RowHeader);
        QCOMPARE(indicators->text(QAccessible::Name), QStringLiteral("Zeilenmarkierung"));
    }

    // Cells are made on demand and only a bounded number is kept: an early
    // cell's id is given up after many others were asked for, and asking
    // again makes a new one.
    void cellsKeptAreBounded() {
        m_model->append(10'000);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_view);
        QAccessibleInterface* first = table->tableInterface()->cellAt(0, 0);
        const QAccessible::Id id = QAccessible::uniqueId(first);
        for (int row = 1; row < 2000; ++row)
            QVERIFY(table->tableInterface()->cellAt(row, row % 6));
        QCOMPARE(QAccessible::accessibleInterface(id), nullptr);
        QAccessibleInterface* again = table->tableInterface()->cellAt(0, 0);
        QVERIFY(again && again->isValid());
        QCOMPARE(again->text(QAccessible::Name), QStringLiteral("0/0"));
    }

    // The events Qt's own table sends: appended rows, the current cell as
    // focus, changed values, the selection, a reset.
    void eventsReachAssistiveTechnology() {
        m_model->append(100);
        QVERIFY(setAccessibilityActive(true));
        g_heard.clear();
        const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(listen);
        auto restore = qScopeGuard([previous] {
            QAccessible::installUpdateHandler(previous);
            setAccessibilityActive(false);
        });
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(m_view);
        QAccessibleInterface* kept = table->tableInterface()->cellAt(5, 2);
        const QAccessible::Id keptId = QAccessible::uniqueId(kept);

        m_model->append(50);
        QList<Heard> inserted;
        for (const Heard& h : heardOf(QAccessible::TableModelChanged))
            if (h.change == QAccessibleTableModelChangeEvent::RowsInserted)
                inserted.append(h);
        QVERIFY(!inserted.isEmpty());
        for (const Heard& h : std::as_const(inserted)) {
            QCOMPARE(h.firstRow, 100);
            QCOMPARE(h.lastRow, 149);
        }
        QCOMPARE(table->tableInterface()->rowCount(), 150);
        // Rows arriving below leave the cells above as they were.
        QCOMPARE(QAccessible::accessibleInterface(keptId), kept);

        m_view->activateWindow();
        m_view->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(m_view));
        g_heard.clear();
        m_view->setCurrentIndex(at(7, 3));
        const int child = table->indexOfChild(table->tableInterface()->cellAt(7, 3));
        const QList<Heard> focus = heardOf(QAccessible::Focus);
        QCOMPARE(focus.size(), 1);
        QCOMPARE(focus[0].child, child);
        QCOMPARE(table->focusChild(), table->tableInterface()->cellAt(7, 3));
        QVERIFY(table->focusChild()->state().focused);
        QCOMPARE(heardOf(QAccessible::Selection).value(0).child, child);
        press(Qt::Key_Down);
        QCOMPARE(heardOf(QAccessible::Focus).size(), 2);
        QCOMPARE(heardOf(QAccessible::Focus).last().child,
                 table->indexOfChild(table->tableInterface()->cellAt(8, 3)));

        g_heard.clear();
        m_model->change(8);
        QCOMPARE(heardOf(QAccessible::ValueChanged).size(), 6);
        QCOMPARE(heardOf(QAccessible::NameChanged).size(), 6);
        QCOMPARE(table->tableInterface()->cellAt(8, 0)->text(QAccessible::Name),
                 QStringLiteral("neu"));

        g_heard.clear();
        m_model->reset(3);
        int resets = 0;
        for (const Heard& h : heardOf(QAccessible::TableModelChanged))
            resets += h.change == QAccessibleTableModelChangeEvent::ModelReset ? 1 : 0;
        QVERIFY(resets > 0);
        QCOMPARE(QAccessible::accessibleInterface(keptId), nullptr);
        QCOMPARE(table->tableInterface()->rowCount(), 3);
    }
};

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
