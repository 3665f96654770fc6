#include "controls/gridaccessible.h"

#include "controls/gridview.h"
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QWindow>
#include <climits>
#include <deque>

namespace {

// Cell and header interfaces kept for their ids, at most this many; the
// oldest goes first.
constexpr int kKeptChildren = 512;

QAbstractItemModel* modelOf(const GridView* view) {
    return view ? view->model() : nullptr;
}

int rowsOf(const GridView* view) {
    QAbstractItemModel* model = modelOf(view);
    return model ? model->rowCount(view->rootIndex()) : 0;
}

int columnsOf(const GridView* view) {
    QAbstractItemModel* model = modelOf(view);
    return model ? model->columnCount(view->rootIndex()) : 0;
}

// The part of an area of a widget of the view that is shown, on the screen.
QRect onScreen(const QWidget* widget, const QRect& rect) {
    const QRect shown = rect.intersected(widget->rect());
    if (!widget->isVisible() || shown.isEmpty())
        return {};
    return QRect(widget->mapToGlobal(shown.topLeft()), shown.size());
}

// The view's own interface, through which the children reach their table.
QAccessibleInterface* tableOf(GridView* view) {
    return view ? QAccessible::queryAccessibleInterface(view) : nullptr;
}

// A child of the table without an object or children of its own.
class TableChild : public QAccessibleInterface {
public:
    explicit TableChild(GridView* view) : m_view(view) {}

    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return tableOf(m_view); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

protected:
    QPointer<GridView> m_view;
};

// A column title, a row's indicator, or the corner above the indicators.
class HeaderCell : public TableChild {
public:
    enum Kind { Column, Row, Corner };
    HeaderCell(GridView* view, Kind kind, int index)
        : TableChild(view), m_kind(kind), m_index(index) {}

    Kind kind() const { return m_kind; }
    int index() const { return m_index; }

    bool isValid() const override {
        if (!m_view)
            return false;
        switch (m_kind) {
        case Column:
            return m_index < columnsOf(m_view);
        case Row:
            return m_index < rowsOf(m_view);
        case Corner:
            break;
        }
        return true;
    }

    QString text(QAccessible::Text t) const override {
        // A column title may describe itself further (how the rows are
        // sorted by it).
        if (t == QAccessible::Description && m_kind == Column && isValid())
            return modelOf(m_view)
                ->headerData(m_index, Qt::Horizontal, Qt::AccessibleDescriptionRole)
                .toString();
        if (t != QAccessible::Name || !isValid())
            return {};
        switch (m_kind) {
        case Column:
            return modelOf(m_view)->headerData(m_index, Qt::Horizontal).toString();
        case Row:
            if (QAccessibleInterface* table = tableOf(m_view))
                return table->tableInterface()->rowDescription(m_index);
            return {};
        case Corner:
            break;
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QWidget* indicators = m_view->rowHeader();
        const int titleHeight = indicators->height() - m_view->viewport()->height();
        switch (m_kind) {
        case Column: {
            const QHeaderView* titles = m_view->horizontalHeader();
            return onScreen(titles, QRect(titles->sectionViewportPosition(m_index), 0,
                                          titles->sectionSize(m_index), titles->height()));
        }
        case Row:
            return onScreen(indicators, QRect(0, titleHeight + m_view->rowViewportPosition(m_index),
                                              indicators->width(), m_view->rowHeight()));
        case Corner:
            break;
        }
        return onScreen(indicators, QRect(0, 0, indicators->width(), titleHeight));
    }

    QAccessible::Role role() const override {
        switch (m_kind) {
        case Column:
            return QAccessible::ColumnHeader;
        case Row:
            return QAccessible::RowHeader;
        case Corner:
            break;
        }
        return QAccessible::Pane;
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        const QRect r = rect();
        if (r.isEmpty() || !m_view->isVisible())
            s.invisible = true;
        return s;
    }

private:
    Kind m_kind;
    int m_index;
};

// One cell, by row and column: it reads the model when asked, so it stays
// right while rows arrive below it.
class Cell : public TableChild,
             public QAccessibleTableCellInterface,
             public QAccessibleActionInterface {
public:
    Cell(GridView* view, int row, int column) : TableChild(view), m_row(row), m_column(column) {}

    QModelIndex modelIndex() const {
        QAbstractItemModel* model = modelOf(m_view);
        return model ? model->index(m_row, m_column, m_view->rootIndex()) : QModelIndex();
    }

    bool isValid() const override {
        return m_view && m_row < rowsOf(m_view) && m_column < columnsOf(m_view);
    }

    QString text(QAccessible::Text t) const override {
        const QModelIndex index = modelIndex();
        if (!index.isValid())
            return {};
        switch (t) {
        case QAccessible::Name:
        case QAccessible::Value: {
            const QVariant spoken = index.data(Qt::AccessibleTextRole);
            return spoken.isValid() ? spoken.toString() : index.data(Qt::DisplayRole).toString();
        }
        case QAccessible::Description:
            return index.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect cell = m_view->visualRect(modelIndex());
        return onScreen(m_view->viewport(), cell);
    }

    QAccessible::Role role() const override { return QAccessible::Cell; }

    QAccessible::State state() const override {
        QAccessible::State s;
        const QModelIndex index = modelIndex();
        if (!index.isValid())
            return s;
        if (rect().isEmpty())
            s.invisible = s.offscreen = true;
        const Qt::ItemFlags flags = index.flags();
        if (flags & Qt::ItemIsSelectable) {
            s.selectable = true;
            s.focusable = true;
            if (m_view->selectionMode() != QAbstractItemView::SingleSelection)
                s.multiSelectable = true;
            if (isSelected())
                s.selected = true;
        }
        if (m_view->currentIndex() == index) {
            s.active = true;
            if (m_view->hasFocus() || m_view->viewport()->hasFocus())
                s.focused = true;
        }
        if (flags & Qt::ItemIsEditable)
            s.editable = true;
        if (!(flags & Qt::ItemIsEnabled))
            s.disabled = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (t == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // The table cell.
    bool isSelected() const override {
        const QItemSelectionModel* selection = m_view ? m_view->selectionModel() : nullptr;
        return selection && selection->isSelected(modelIndex());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        return headerCell(-1, m_column);
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return headerCell(m_row, -1); }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return tableOf(m_view); }

    // Actions: select or unselect the cell, or make it the current cell.
    QStringList actionNames() const override {
        return {QAccessibleActionInterface::toggleAction(),
                QAccessibleActionInterface::setFocusAction()};
    }
    void doAction(const QString& name) override {
        const QModelIndex index = modelIndex();
        if (!index.isValid() || !m_view->selectionModel())
            return;
        if (name == QAccessibleActionInterface::setFocusAction()) {
            m_view->setCurrentIndex(index);
        } else if (name == QAccessibleActionInterface::toggleAction()) {
            if (m_view->selectionMode() == QAbstractItemView::NoSelection)
                return;
            if (isSelected()) {
                m_view->selectionModel()->select(index, QItemSelectionModel::Deselect);
            } else {
                const bool single = m_view->selectionMode() == QAbstractItemView::SingleSelection;
                m_view->selectionModel()->select(index, single ? QItemSelectionModel::ClearAndSelect
                                                               : QItemSelectionModel::Select);
            }
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    // The title above the cell (row -1) or the indicator before it (column -1).
    QList<QAccessibleInterface*> headerCell(int row, int column) const {
        QAccessibleInterface* table = tableOf(m_view);
        if (!table)
            return {};
        const int columns = columnsOf(m_view) + 1;
        const qint64 child = qint64(row + 1) * columns + column + 1;
        QAccessibleInterface* header = child <= INT_MAX ? table->child(int(child)) : nullptr;
        return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
    }

    int m_row;
    int m_column;
};

// The view as a table. Children are numbered row by row over a grid one
// row and one column larger than the model's: row 0 holds the corner and the
// column titles, column 0 the row indicators.
class Table : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit Table(GridView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~Table() override { forgetChildren(); }

    GridView* view() const { return static_cast<GridView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    int childCount() const override {
        const qint64 count = (qint64(rowsOf(view())) + 1) * (columnsOf(view()) + 1);
        return columnsOf(view()) == 0 ? 0 : int(std::min<qint64>(count, INT_MAX));
    }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto id = m_ids.constFind(index); id != m_ids.constEnd())
            return QAccessible::accessibleInterface(*id);
        const int width = columnsOf(view()) + 1;
        const int row = index / width - 1;
        const int column = index % width - 1;
        QAccessibleInterface* made = nullptr;
        if (row < 0 && column < 0)
            made = new HeaderCell(view(), HeaderCell::Corner, 0);
        else if (row < 0)
            made = new HeaderCell(view(), HeaderCell::Column, column);
        else if (column < 0)
            made = new HeaderCell(view(), HeaderCell::Row, row);
        else
            made = new Cell(view(), row, column);
        keep(index, QAccessible::registerAccessibleInterface(made));
        return made;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || child->parent() != this)
            return -1;
        if (const QAccessibleTableCellInterface* cell =
                const_cast<QAccessibleInterface*>(child)->tableCellInterface())
            return gridaccess::childIndex(*view(), cell->rowIndex(), cell->columnIndex());
        const auto* header = dynamic_cast<const HeaderCell*>(child);
        if (!header) // a widget of the view's (titles, indicators, scroll bars)
            return -1;
        switch (header->kind()) {
        case HeaderCell::Column:
            return header->index() + 1;
        case HeaderCell::Row: {
            const qint64 index = qint64(header->index() + 1) * (columnsOf(view()) + 1);
            return index <= INT_MAX ? int(index) : -1;
        }
        case HeaderCell::Corner:
            break;
        }
        return 0;
    }

    // The cell, title or indicator at a point on the screen, found from the
    // view's geometry (never by asking every child).
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint global(x, y);
        QWidget* port = view()->viewport();
        if (port->rect().contains(port->mapFromGlobal(global))) {
            const QModelIndex index = view()->indexAt(port->mapFromGlobal(global));
            return index.isValid()
                       ? child(gridaccess::childIndex(*view(), index.row(), index.column()))
                       : nullptr;
        }
        const QHeaderView* titles = view()->horizontalHeader();
        const QPoint onTitles = titles->mapFromGlobal(global);
        if (titles->isVisible() && titles->rect().contains(onTitles)) {
            const int column = titles->logicalIndexAt(onTitles);
            return column >= 0 ? child(column + 1) : nullptr;
        }
        const QWidget* indicators = view()->rowHeader();
        const QPoint onIndicators = indicators->mapFromGlobal(global);
        if (indicators->isVisible() && indicators->rect().contains(onIndicators)) {
            const int top = indicators->height() - port->height();
            if (onIndicators.y() < top)
                return child(0);
            const int row = view()->rowAt(onIndicators.y() - top);
            const qint64 index = (qint64(row) + 1) * (columnsOf(view()) + 1);
            return row >= 0 && index <= INT_MAX ? child(int(index)) : nullptr;
        }
        return nullptr;
    }

    // The current cell.
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        if (!current.isValid())
            return nullptr;
        return child(gridaccess::childIndex(*view(), current.row(), current.column()));
    }

    // The table.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || column < 0 || row >= rowsOf(view()) || column >= columnsOf(view()))
            return nullptr;
        return child(gridaccess::childIndex(*view(), row, column));
    }
    QString columnDescription(int column) const override {
        QAbstractItemModel* model = modelOf(view());
        return model ? model->headerData(column, Qt::Horizontal).toString() : QString();
    }
    // The model's row title, or else the row's number, as the indicator
    // column would count.
    QString rowDescription(int row) const override {
        QAbstractItemModel* model = modelOf(view());
        if (!model || row < 0 || row >= rowsOf(view()))
            return {};
        const QString title = model->headerData(row, Qt::Vertical).toString();
        return title.isEmpty() ? QString::number(row + 1) : title;
    }
    int columnCount() const override { return columnsOf(view()); }
    int rowCount() const override { return rowsOf(view()); }

    int selectedCellCount() const override {
        const QItemSelectionModel* selection = view()->selectionModel();
        if (!selection)
            return 0;
        qint64 cells = 0;
        for (const QItemSelectionRange& range : selection->selection())
            cells += qint64(range.width()) * range.height();
        return int(std::min<qint64>(cells, INT_MAX));
    }
    // At most as many cells as are kept: a larger list would drop the
    // first ones before it is returned.
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        const QItemSelectionModel* selection = view()->selectionModel();
        if (!selection)
            return cells;
        for (const QItemSelectionRange& range : selection->selection())
            for (int row = range.top(); row <= range.bottom(); ++row)
                for (int column = range.left(); column <= range.right(); ++column) {
                    if (cells.size() >= kKeptChildren / 2)
                        return cells;
                    cells.append(cellAt(row, column));
                }
        return cells;
    }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    QList<int> selectedColumns() const override {
        QList<int> columns;
        for (int column = 0; column < columnsOf(view()); ++column)
            if (isColumnSelected(column))
                columns.append(column);
        return columns;
    }
    QList<int> selectedRows() const override {
        // Whole rows are selected only through ranges as wide as the table:
        // the ranges are looked at, never every row.
        QList<int> rows;
        const QItemSelectionModel* selection = view()->selectionModel();
        if (!selection || columnsOf(view()) == 0)
            return rows;
        for (const QItemSelectionRange& range : selection->selection())
            if (range.left() == 0 && range.right() == columnsOf(view()) - 1)
                for (int row = range.top(); row <= range.bottom(); ++row)
                    rows.append(row);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        return rows;
    }
    // A whole column is selected through a range as high as the table: the
    // ranges are looked at, never every row.
    bool isColumnSelected(int column) const override {
        const QItemSelectionModel* selection = view()->selectionModel();
        const int rows = rowsOf(view());
        if (!selection || rows == 0)
            return false;
        for (const QItemSelectionRange& range : selection->selection())
            if (range.top() == 0 && range.bottom() == rows - 1 && range.left() <= column &&
                column <= range.right())
                return true;
        return false;
    }
    bool isRowSelected(int row) const override {
        const QItemSelectionModel* selection = view()->selectionModel();
        return selection && columnsOf(view()) > 0 &&
               selection->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override { return selectLine(row, Qt::Horizontal, true); }
    bool selectColumn(int column) override { return selectLine(column, Qt::Vertical, true); }
    bool unselectRow(int row) override { return selectLine(row, Qt::Horizontal, false); }
    bool unselectColumn(int column) override { return selectLine(column, Qt::Vertical, false); }

    // Children whose numbers a change of the model moves are forgotten;
    // rows that arrive at the end move none.
    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        if (m_ids.isEmpty())
            return;
        switch (event->modelChangeType()) {
        case QAccessibleTableModelChangeEvent::DataChanged:
            return;
        case QAccessibleTableModelChangeEvent::RowsInserted:
        case QAccessibleTableModelChangeEvent::RowsRemoved:
            forgetFrom((event->firstRow() + 1) * (columnsOf(view()) + 1));
            return;
        default:
            forgetChildren();
            return;
        }
    }

private:
    // Selects or unselects a whole row (Horizontal) or column, where the
    // view's selection mode and behaviour allow it.
    bool selectLine(int line, Qt::Orientation orientation, bool select) {
        QItemSelectionModel* selection = view()->selectionModel();
        const bool row = orientation == Qt::Horizontal;
        const int count = row ? rowsOf(view()) : columnsOf(view());
        if (!selection || line < 0 || line >= count)
            return false;
        const auto mode = view()->selectionMode();
        const auto behaviour = view()->selectionBehavior();
        if (mode == QAbstractItemView::NoSelection ||
            behaviour == (row ? QAbstractItemView::SelectColumns : QAbstractItemView::SelectRows))
            return false;
        const int across = row ? columnsOf(view()) : rowsOf(view());
        const auto whole = row ? QAbstractItemView::SelectRows : QAbstractItemView::SelectColumns;
        if (mode == QAbstractItemView::SingleSelection && behaviour != whole && across > 1)
            return false;
        const QModelIndex index = row ? modelOf(view())->index(line, 0, view()->rootIndex())
                                      : modelOf(view())->index(0, line, view()->rootIndex());
        QItemSelectionModel::SelectionFlags command =
            row ? QItemSelectionModel::Rows : QItemSelectionModel::Columns;
        if (!select)
            command |= QItemSelectionModel::Deselect;
        else if (mode == QAbstractItemView::SingleSelection)
            command |= QItemSelectionModel::ClearAndSelect;
        else
            command |= QItemSelectionModel::Select;
        selection->select(index, command);
        return true;
    }

    void keep(int index, QAccessible::Id id) const {
        m_ids.insert(index, id);
        m_order.push_back(index);
        while (m_order.size() > size_t(kKeptChildren)) {
            const int oldest = m_order.front();
            m_order.pop_front();
            if (const auto gone = m_ids.find(oldest); gone != m_ids.end()) {
                QAccessible::deleteAccessibleInterface(*gone);
                m_ids.erase(gone);
            }
        }
    }

    void forgetFrom(qint64 first) {
        for (auto it = m_ids.begin(); it != m_ids.end();) {
            if (it.key() >= first) {
                QAccessible::deleteAccessibleInterface(*it);
                it = m_ids.erase(it);
            } else {
                ++it;
            }
        }
        std::erase_if(m_order, [this](int index) { return !m_ids.contains(index); });
    }

    void forgetChildren() {
        for (const QAccessible::Id id : std::as_const(m_ids))
            QAccessible::deleteAccessibleInterface(id);
        m_ids.clear();
        m_order.clear();
    }

    mutable QHash<int, QAccessible::Id> m_ids;
    mutable std::deque<int> m_order; // the kept children, oldest first
};

QAccessibleInterface* gridFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    if (auto* view = qobject_cast<GridView*>(object))
        return new Table(view);
    // The indicator column is a plain widget of the view's.
    if (className == QLatin1String("QWidget"))
        if (auto* view = qobject_cast<GridView*>(object->parent());
            view && view->rowHeader() == object)
            return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::RowHeader,
                                         gridaccess::rowHeaderName());
    return nullptr;
}

void send(QAccessibleEvent&& event) {
    QAccessible::updateAccessibility(&event);
}

// Rows were inserted or removed, or the model was reset. While assistive
// technology listens the item view says so itself, and QAccessible passes
// it on to the table; otherwise the table learns of it here, so that the
// children it keeps never outlive their rows.
void tellTable(GridView& view, QAccessibleTableModelChangeEvent& event) {
    if (QAccessible::isActive())
        return;
    if (QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&view);
        table && table->tableInterface())
        table->tableInterface()->modelChange(&event);
}

} // namespace

namespace gridaccess {

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(gridFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString rowHeaderName() {
    return QStringLiteral("Zeilenmarkierung");
}

int childIndex(const GridView& view, int row, int column) {
    if (row < 0 || column < 0)
        return -1;
    const qint64 index = (qint64(row) + 1) * (columnsOf(&view) + 1) + column + 1;
    return index <= INT_MAX ? int(index) : -1;
}

void rowsChanged(GridView& view, bool inserted, int first, int last) {
    QAccessibleTableModelChangeEvent event(
        &view, inserted ? QAccessibleTableModelChangeEvent::RowsInserted
                        : QAccessibleTableModelChangeEvent::RowsRemoved);
    event.setFirstRow(first);
    event.setLastRow(last);
    tellTable(view, event);
}

void modelReset(GridView& view) {
    QAccessibleTableModelChangeEvent event(&view, QAccessibleTableModelChangeEvent::ModelReset);
    tellTable(view, event);
}

void currentMoved(GridView& view, const QModelIndex& current) {
    if (!QAccessible::isActive() || !current.isValid() ||
        !(view.hasFocus() || view.viewport()->hasFocus()))
        return;
    QAccessibleEvent event(&view, QAccessible::Focus);
    event.setChild(childIndex(view, current.row(), current.column()));
    send(std::move(event));
}

void valuesChanged(GridView& view, const QModelIndex& topLeft, const QModelIndex& bottomRight) {
    if (!QAccessible::isActive() || !topLeft.isValid() || !bottomRight.isValid())
        return;
    // Cells change a row at a time; a larger change is left to the item
    // view's own notice that the table's data changed.
    const qint64 cells = qint64(bottomRight.row() - topLeft.row() + 1) *
                         (bottomRight.column() - topLeft.column() + 1);
    if (cells > 256)
        return;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
        for (int column = topLeft.column(); column <= bottomRight.column(); ++column) {
            const int child = childIndex(view, row, column);
            const QModelIndex index = topLeft.siblingAtRow(row).siblingAtColumn(column);
            QAccessibleValueChangeEvent value(&view, index.data(Qt::DisplayRole));
            value.setChild(child);
            send(std::move(value));
            QAccessibleEvent name(&view, QAccessible::NameChanged);
            name.setChild(child);
            send(std::move(name));
        }
}

void selectionChanged(GridView& view, const QItemSelection& selected,
                      const QItemSelection& deselected) {
    if (!QAccessible::isActive())
        return;
    // One cell selected is told as that cell; more as a change within
    // the table, without listing them.
    qint64 cells = 0;
    for (const QItemSelectionRange& range : selected)
        cells += qint64(range.width()) * range.height();
    if (cells == 1) {
        const QModelIndex cell = selected.first().topLeft();
        QAccessibleEvent event(&view, QAccessible::Selection);
        event.setChild(childIndex(view, cell.row(), cell.column()));
        send(std::move(event));
    } else if (cells > 1) {
        send(QAccessibleEvent(&view, QAccessible::SelectionWithin));
    }
    if (cells != 1 && !deselected.isEmpty()) {
        const QModelIndex cell = deselected.first().topLeft();
        QAccessibleEvent event(&view, QAccessible::SelectionRemove);
        event.setChild(childIndex(view, cell.row(), cell.column()));
        send(std::move(event));
    }
}

} // namespace gridaccess
