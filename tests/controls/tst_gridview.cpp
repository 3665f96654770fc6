// The uniform-row table view: computed row geometry agrees with itself after
// scrolling, appended rows leave the place and the current cell alone, and
// keys and clicks land on the cells they should.

#include "controls/gridview.h"

#include <QAbstractTableModel>
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
        return QStringLiteral("%1/%2").arg(index.row()).arg(index.column());
    }
    void append(int count) {
        beginInsertRows({}, rows, rows + count - 1);
        rows += count;
        endInsertRows();
    }
};

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
};

QTEST_MAIN(TestGridView)
#include "tst_gridview.moc"
