#pragma once
// A table view whose rows all have one height. Where a row is and which row
// lies under a point are computed, never looked up, so the view keeps nothing
// per row: rows that arrive by the million cost it a scroll bar range, not a
// list that grows (and is copied) with them. Columns keep their sizes in a
// horizontal QHeaderView; in front of the rows stands a narrow indicator
// column that a subclass marks rows in. Assistive technology sees a table
// (controls/gridaccessible.h).

#include <QAbstractItemView>

class QHeaderView;

class GridView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit GridView(QWidget* parent = nullptr);
    ~GridView() override;

    void setModel(QAbstractItemModel* model) override;

    QHeaderView* horizontalHeader() const { return m_header; }
    // The indicator column in front of the rows (and the corner above it).
    QWidget* rowHeader() const;
    void setRowHeaderWidth(int width);

    // The height of every row, its grid line included.
    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    // As wide as the column's title and the cells on screen need.
    void resizeColumnToContents(int column);
    bool showGrid() const { return m_showGrid; }
    void setShowGrid(bool show);

    // The row or column at a viewport coordinate, -1 where there is none.
    int rowAt(int y) const;
    int columnAt(int x) const;
    int rowViewportPosition(int row) const;
    int columnViewportPosition(int column) const;
    // The first row shown at the top.
    int topRow() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void doItemsLayout() override;

protected:
    // Draws what marks `row` in the indicator column, over the empty section
    // `rect`; by default nothing.
    virtual void paintRowIndicator(QPainter& painter, const QRect& rect, int row) const;

    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;

    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    class RowHeader;
    friend class RowHeader;

    int rowCount() const;
    // Rows that fit the viewport whole (at least one).
    int fullRows() const;
    void updateRowRange();
    QRect cellRect(int row, int column) const;
    void paintRowHeader(QPainter& painter, const QRect& area) const;
    void paintGridLines(QPainter& painter, const QStyleOptionViewItem& option, const QRect& area,
                        int firstRow, int lastRow, int firstVisual, int lastVisual) const;
    void paintFocusFrame(QPainter& painter, const QModelIndex& current) const;
    void columnResized();

    QHeaderView* m_header;
    RowHeader* m_rowHeader;
    int m_rowHeight = 18;
    int m_rowHeaderWidth = 12;
    bool m_showGrid = true;
    bool m_inGeometry = false;
};
