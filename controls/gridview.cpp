#include "controls/gridview.h"

#include "controls/gridaccessible.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <algorithm>
#include <climits>

namespace {

// Pixel positions of far rows are held inside int, well away from overflow.
constexpr qint64 kFar = qint64(1) << 30;

int clampFar(qint64 value) {
    return int(std::clamp(value, -kFar, kFar));
}

} // namespace

// The indicator column and the corner above it: one header section per
// visible row, drawn on demand, with the view's mark on top.
class GridView::RowHeader : public QWidget {
public:
    explicit RowHeader(GridView* view) : QWidget(view), m_view(view) {
        setObjectName(QStringLiteral("rowHeader"));
        setBackgroundRole(QPalette::Window);
        setAutoFillBackground(true);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        m_view->paintRowHeader(painter, event->rect());
    }

    // A click on a row's indicator makes that row current, in the column
    // that is current, and selects the whole row; a drag or Shift+click
    // selects the rows from there, Ctrl adds them to the selection.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !m_view->model())
            return;
        const int row = rowAtPoint(event->position().toPoint());
        if (row < 0)
            return;
        const Qt::KeyboardModifiers mods = event->modifiers();
        if (!(mods & Qt::ShiftModifier) || m_anchor < 0)
            m_anchor = row;
        m_adding = mods & Qt::ControlModifier;
        const int column = std::max(m_view->currentIndex().column(), 0);
        if (column < m_view->model()->columnCount(m_view->rootIndex()))
            m_view->selectionModel()->setCurrentIndex(
                m_view->model()->index(row, column, m_view->rootIndex()),
                QItemSelectionModel::NoUpdate);
        selectRows(row);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton) || m_anchor < 0 || !m_view->model())
            return;
        const int row = rowAtPoint(event->position().toPoint());
        if (row >= 0)
            selectRows(row);
    }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }

private:
    int rowAtPoint(QPoint point) const {
        const int top = height() - m_view->viewport()->height();
        return m_view->rowAt(point.y() - top);
    }
    void selectRows(int row) {
        QItemSelectionModel* selection = m_view->selectionModel();
        const QAbstractItemModel* model = m_view->model();
        const int columns = model->columnCount(m_view->rootIndex());
        if (!selection || columns == 0 || m_view->selectionMode() == QAbstractItemView::NoSelection)
            return;
        const int first = std::min(m_anchor, row);
        const int last = std::max(m_anchor, row);
        const QItemSelection rows(model->index(first, 0, m_view->rootIndex()),
                                  model->index(last, columns - 1, m_view->rootIndex()));
        if (m_adding) {
            selection->select(rows, QItemSelectionModel::Select);
            return;
        }
        selection->select(rows, QItemSelectionModel::ClearAndSelect);
    }

    int m_anchor = -1;
    bool m_adding = false;

private:
    GridView* m_view;
};

GridView::GridView(QWidget* parent)
    : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this)),
      m_rowHeader(new RowHeader(this)) {
    gridaccess::install();
    m_header->setObjectName(QStringLiteral("columnHeader"));
    m_header->setAccessibleName(QStringLiteral("Spaltentitel"));
    m_rowHeader->setAccessibleName(gridaccess::rowHeaderName());
    m_header->setSectionsClickable(true);
    connect(m_header, &QHeaderView::sectionResized, this, &GridView::columnResized);
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this,
            &GridView::resizeColumnToContents);
    connect(m_header, &QHeaderView::sectionCountChanged, this,
            [this] { scheduleDelayedItemsLayout(); });
    // Rows scroll by whole rows, columns by pixels.
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    verticalScrollBar()->setSingleStep(1);
    // Tab moves between cells, as in every table.
    setTabKeyNavigation(true);
}

GridView::~GridView() = default;

void GridView::setModel(QAbstractItemModel* model) {
    if (QAbstractItemModel* old = this->model())
        disconnect(old, nullptr, m_rowHeader, nullptr);
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    if (model) {
        // Changes that move rows other than at the end: lay out again.
        // Appended rows are handled in rowsInserted, without a layout.
        connect(model, &QAbstractItemModel::rowsRemoved, m_rowHeader,
                [this](const QModelIndex& parent, int first, int last) {
                    scheduleDelayedItemsLayout();
                    if (parent == rootIndex())
                        gridaccess::rowsChanged(*this, false, first, last);
                });
        connect(model, &QAbstractItemModel::modelReset, m_rowHeader, [this] {
            scheduleDelayedItemsLayout();
            gridaccess::modelReset(*this);
        });
        // Rows that changed places (a sort): every cell may show another
        // value, as after a reset.
        connect(model, &QAbstractItemModel::layoutChanged, m_rowHeader, [this] {
            scheduleDelayedItemsLayout();
            gridaccess::modelReset(*this);
        });
        connect(model, &QAbstractItemModel::headerDataChanged, m_rowHeader,
                [this](Qt::Orientation orientation) {
                    if (orientation == Qt::Vertical)
                        m_rowHeader->update();
                });
    }
    scheduleDelayedItemsLayout();
}

QWidget* GridView::rowHeader() const {
    return m_rowHeader;
}

void GridView::setRowHeaderWidth(int width) {
    m_rowHeaderWidth = std::max(0, width);
    doItemsLayout();
}

void GridView::setRowHeight(int height) {
    m_rowHeight = std::max(1, height);
    doItemsLayout();
}

int GridView::columnWidth(int column) const {
    return m_header->sectionSize(column);
}

void GridView::setColumnWidth(int column, int width) {
    m_header->resizeSection(column, width);
}

void GridView::resizeColumnToContents(int column) {
    if (!model() || column < 0 || column >= m_header->count())
        return;
    // The title and the rows on screen: the rest are not looked at.
    int width = m_header->sectionSizeHint(column);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int first = topRow();
    const int last = std::min(rowCount() - 1, first + fullRows());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, column, rootIndex());
        width = std::max(width, itemDelegateForIndex(index)->sizeHint(option, index).width() +
                                    (m_showGrid ? 1 : 0));
    }
    m_header->resizeSection(column, width);
}

void GridView::setShowGrid(bool show) {
    m_showGrid = show;
    viewport()->update();
}

int GridView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int GridView::fullRows() const {
    return std::max(1, viewport()->height() / m_rowHeight);
}

int GridView::topRow() const {
    return verticalScrollBar()->value();
}

int GridView::rowAt(int y) const {
    if (y < 0)
        return -1;
    const qint64 row = qint64(topRow()) + y / m_rowHeight;
    return row < rowCount() ? int(row) : -1;
}

int GridView::columnAt(int x) const {
    return m_header->logicalIndexAt(x);
}

int GridView::rowViewportPosition(int row) const {
    return clampFar((qint64(row) - topRow()) * m_rowHeight);
}

int GridView::columnViewportPosition(int column) const {
    return m_header->sectionViewportPosition(column);
}

QRect GridView::cellRect(int row, int column) const {
    return QRect(columnViewportPosition(column), rowViewportPosition(row), columnWidth(column),
                 m_rowHeight);
}

QRect GridView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        index.row() >= rowCount() || index.column() >= m_header->count())
        return {};
    // The grid line at the right and bottom belongs to no cell.
    const int grid = m_showGrid ? 1 : 0;
    return cellRect(index.row(), index.column()).adjusted(0, 0, -grid, -grid);
}

QModelIndex GridView::indexAt(const QPoint& point) const {
    const int row = rowAt(point.y());
    const int column = columnAt(point.x());
    if (row < 0 || column < 0 || !model())
        return {};
    return model()->index(row, column, rootIndex());
}

void GridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model())
        return;
    executeDelayedItemsLayout(); // the scroll ranges must know every row
    const int row = index.row();
    const int top = topRow();
    const int full = fullRows();
    int target = top;
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            target = row;
        else if (row >= top + full)
            target = row - full + 1;
        break;
    case PositionAtTop:
        target = row;
        break;
    case PositionAtBottom:
        target = row - full + 1;
        break;
    case PositionAtCenter:
        target = row - full / 2;
        break;
    }
    verticalScrollBar()->setValue(target);

    const int x = m_header->sectionPosition(index.column());
    const int width = m_header->sectionSize(index.column());
    const int offset = horizontalScrollBar()->value();
    const int room = viewport()->width();
    if (x < offset)
        horizontalScrollBar()->setValue(x);
    else if (x + width > offset + room)
        horizontalScrollBar()->setValue(std::min(x, x + width - room));
}

QModelIndex GridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = rowCount();
    const int columns = m_header->count();
    if (rows == 0 || columns == 0 || !model())
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, m_header->logicalIndex(0), rootIndex());
    int row = current.row();
    int visual = m_header->visualIndex(current.column());
    const bool control = modifiers & Qt::ControlModifier;
    switch (action) {
    case MoveUp:
        row = std::max(0, row - 1);
        break;
    case MoveDown:
        row = std::min(rows - 1, row + 1);
        break;
    case MovePageUp:
        row = std::max(0, row - fullRows());
        break;
    case MovePageDown:
        row = int(std::min<qint64>(rows - 1, qint64(row) + fullRows()));
        break;
    case MoveLeft:
        visual = std::max(0, visual - 1);
        break;
    case MoveRight:
        visual = std::min(columns - 1, visual + 1);
        break;
    case MoveHome:
        visual = 0;
        if (control)
            row = 0;
        break;
    case MoveEnd:
        visual = columns - 1;
        if (control)
            row = rows - 1;
        break;
    case MoveNext:
        // Tab goes on to the first field of the next row.
        if (visual < columns - 1)
            ++visual;
        else if (row < rows - 1) {
            ++row;
            visual = 0;
        }
        break;
    case MovePrevious:
        if (visual > 0)
            --visual;
        else if (row > 0) {
            --row;
            visual = columns - 1;
        }
        break;
    }
    return model()->index(row, m_header->logicalIndex(visual), rootIndex());
}

int GridView::horizontalOffset() const {
    return m_header->offset();
}

int GridView::verticalOffset() const {
    return clampFar(qint64(topRow()) * m_rowHeight);
}

bool GridView::isIndexHidden(const QModelIndex& index) const {
    return m_header->isSectionHidden(index.column());
}

void GridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const QRect area = rect.normalized();
    const QModelIndex topLeft = indexAt(area.topLeft());
    const QModelIndex bottomRight = indexAt(area.bottomRight());
    if (!selectionModel() || !topLeft.isValid() || !bottomRight.isValid())
        return;
    selectionModel()->select(QItemSelection(topLeft, bottomRight), command);
}

QRegion GridView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = topRow();
    const int bottom = top + fullRows(); // the partly shown row below the full ones too
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex() || range.bottom() < top || range.top() > bottom)
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        const QRect from = cellRect(first, range.left());
        const QRect to = cellRect(last, range.right());
        region += from.united(to);
    }
    return region;
}

void GridView::initViewItemOption(QStyleOptionViewItem* option) const {
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

void GridView::paintEvent(QPaintEvent* event) {
    const int rows = rowCount();
    const int columns = m_header->count();
    if (!model() || rows == 0 || columns == 0)
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    QPainter painter(viewport());

    // The dirty area, cut to where there are cells.
    QRect area = event->rect();
    const int top = topRow();
    area.setBottom(std::min(area.bottom(), clampFar((qint64(rows) - top) * m_rowHeight) - 1));
    area.setRight(std::min(area.right(), m_header->length() - m_header->offset() - 1));
    if (area.isEmpty())
        return;
    const int firstRow = rowAt(area.top());
    const int lastRow = rowAt(area.bottom());
    const int firstVisual = m_header->visualIndexAt(std::max(area.left(), 0));
    int lastVisual = m_header->visualIndexAt(area.right());
    if (firstRow < 0 || lastRow < 0 || firstVisual < 0)
        return;
    if (lastVisual < 0)
        lastVisual = columns - 1;

    const QModelIndex current = currentIndex();
    const bool focused = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QItemSelectionModel* selection = selectionModel();
    const int grid = m_showGrid ? 1 : 0;
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int visual = firstVisual; visual <= lastVisual; ++visual) {
            const int column = m_header->logicalIndex(visual);
            if (m_header->isSectionHidden(column))
                continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem cell = option;
            cell.rect = cellRect(row, column).adjusted(0, 0, -grid, -grid);
            if (selection && selection->isSelected(index))
                cell.state |= QStyle::State_Selected;
            if (option.state & QStyle::State_Enabled) {
                QPalette::ColorGroup group = QPalette::Normal;
                if (!(model()->flags(index) & Qt::ItemIsEnabled)) {
                    cell.state &= ~QStyle::State_Enabled;
                    group = QPalette::Disabled;
                }
                cell.palette.setCurrentColorGroup(group);
            }
            if (focused && index == current)
                cell.state |= QStyle::State_HasFocus;
            style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
            itemDelegateForIndex(index)->paint(&painter, cell, index);
        }
    }

    if (m_showGrid)
        paintGridLines(painter, option, area, firstRow, lastRow, firstVisual, lastVisual);
    if (focused)
        paintFocusFrame(painter, current);
}

void GridView::paintFocusFrame(QPainter& painter, const QModelIndex& current) const {
    // The current cell of the focused view carries a dotted frame in every
    // style, so the keyboard's place shows also where it is not selected.
    const QRect cell = visualRect(current);
    if (cell.isEmpty())
        return;
    const bool selected = selectionModel() && selectionModel()->isSelected(current);
    painter.save();
    painter.setPen(QPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text), 1,
                        Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(cell.adjusted(0, 0, -1, -1));
    painter.restore();
}

void GridView::paintGridLines(QPainter& painter, const QStyleOptionViewItem& option,
                              const QRect& area, int firstRow, int lastRow, int firstVisual,
                              int lastVisual) const {
    const int colour = style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this);
    painter.setPen(QPen(QColor::fromRgba(static_cast<QRgb>(colour)), 0));
    for (int row = firstRow; row <= lastRow; ++row) {
        const int y = rowViewportPosition(row) + m_rowHeight - 1;
        painter.drawLine(area.left(), y, area.right(), y);
    }
    for (int visual = firstVisual; visual <= lastVisual; ++visual) {
        const int column = m_header->logicalIndex(visual);
        if (m_header->isSectionHidden(column))
            continue;
        const int x = columnViewportPosition(column) + columnWidth(column) - 1;
        painter.drawLine(x, area.top(), x, area.bottom());
    }
}

void GridView::paintRowHeader(QPainter& painter, const QRect& area) const {
    const int headerHeight = m_rowHeader->height() - viewport()->height();
    QStyleOptionHeader corner;
    corner.initFrom(m_rowHeader);
    corner.rect = QRect(0, 0, m_rowHeader->width(), headerHeight);
    corner.position = QStyleOptionHeader::OnlyOneSection;
    // The style leaves the painter clipped to what it found, which is
    // nothing on an unclipped painter: each section is drawn inside save()
    // and restore().
    auto drawSection = [&](const QStyleOptionHeader& option) {
        painter.save();
        style()->drawControl(QStyle::CE_Header, &option, &painter, m_rowHeader);
        painter.restore();
    };
    if (corner.rect.intersects(area))
        drawSection(corner);

    const int rows = rowCount();
    const int first = rowAt(std::max(area.top() - headerHeight, 0));
    if (first < 0)
        return;
    int last = rowAt(area.bottom() - headerHeight);
    if (last < 0)
        last = rows - 1;
    QStyleOptionHeader section;
    section.initFrom(m_rowHeader);
    section.orientation = Qt::Vertical;
    for (int row = first; row <= last; ++row) {
        section.rect =
            QRect(0, headerHeight + rowViewportPosition(row), m_rowHeader->width(), m_rowHeight);
        section.section = row;
        section.position = rows == 1         ? QStyleOptionHeader::OnlyOneSection
                           : row == 0        ? QStyleOptionHeader::Beginning
                           : row == rows - 1 ? QStyleOptionHeader::End
                                             : QStyleOptionHeader::Middle;
        drawSection(section);
        paintRowIndicator(painter, section.rect, row);
    }
}

void GridView::paintRowIndicator(QPainter&, const QRect&, int) const {}

void GridView::updateGeometries() {
    if (m_inGeometry)
        return;
    m_inGeometry = true;
    const int headerHeight = m_header->isHidden()
                                 ? 0
                                 : std::clamp(m_header->sizeHint().height(),
                                              m_header->minimumHeight(), m_header->maximumHeight());
    const int indicatorWidth = m_rowHeader->isHidden() ? 0 : m_rowHeaderWidth;
    setViewportMargins(indicatorWidth, headerHeight, 0, 0);
    const QRect port = viewport()->geometry();
    m_header->setGeometry(port.left(), port.top() - headerHeight, port.width(), headerHeight);
    m_rowHeader->setGeometry(port.left() - indicatorWidth, port.top() - headerHeight,
                             indicatorWidth, port.height() + headerHeight);

    updateRowRange();
    QScrollBar* across = horizontalScrollBar();
    across->setPageStep(port.width());
    across->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
    across->setRange(0, std::max(0, m_header->length() - port.width()));
    m_header->setOffset(across->value());
    m_inGeometry = false;
    QAbstractItemView::updateGeometries();
}

void GridView::updateRowRange() {
    // The scroll bar counts rows: its value is the first row shown.
    const int full = fullRows();
    verticalScrollBar()->setPageStep(full);
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - full));
}

void GridView::doItemsLayout() {
    QAbstractItemView::doItemsLayout();
    m_rowHeader->update();
}

void GridView::scrollContentsBy(int dx, int dy) {
    if (dx)
        m_header->setOffset(horizontalScrollBar()->value());
    // Scrolling moves the cell editors with the cells; a jump further than
    // the viewport repaints it whole.
    const qint64 pixels = qint64(dy) * m_rowHeight;
    const int height = viewport()->height();
    viewport()->scroll(dx, int(std::clamp<qint64>(pixels, -height - 1, height + 1)));
    if (pixels < -height - 1 || pixels > height + 1)
        updateEditorGeometries();
    if (dy)
        m_rowHeader->update();
}

void GridView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    gridaccess::rowsChanged(*this, true, start, end);
    // Rows that arrive below the viewport cost no more than a scroll range.
    updateRowRange();
    if (start <= topRow() + fullRows()) {
        viewport()->update();
        m_rowHeader->update();
    }
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    m_rowHeader->update();
    gridaccess::currentMoved(*this, current);
}

void GridView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    if (topLeft.parent() == rootIndex())
        gridaccess::valuesChanged(*this, topLeft, bottomRight);
}

void GridView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    gridaccess::selectionChanged(*this, selected, deselected);
}

void GridView::columnResized() {
    updateGeometries();
    viewport()->update();
}
