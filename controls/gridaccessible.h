#pragma once
// The grid view for assistive technology: a table whose children are the
// corner, the column titles, and for every row its indicator (the row
// header, naming the row's number) followed by its cells. The interfaces of
// cells are made when asked for; only a bounded number of them is kept, for
// the ids assistive technology refers to them by.

#include <QString>

class GridView;
class QItemSelection;
class QModelIndex;

namespace gridaccess {

// Makes GridView and its indicator column known to QAccessible (once).
void install();

// The child number of a cell of the view's table (row and column of the
// model); -1 for no cell.
int childIndex(const GridView& view, int row, int column);

// The name of the indicator column.
QString rowHeaderName();

// Rows were inserted or removed (first to last), or the model was reset:
// the table forgets the children whose numbers moved.
void rowsChanged(GridView& view, bool inserted, int first, int last);
void modelReset(GridView& view);

// What the view tells assistive technology, when it listens, besides what
// every item view tells: the current cell moved, cells changed their
// values, the selection changed.
void currentMoved(GridView& view, const QModelIndex& current);
void valuesChanged(GridView& view, const QModelIndex& topLeft, const QModelIndex& bottomRight);
void selectionChanged(GridView& view, const QItemSelection& selected,
                      const QItemSelection& deselected);

} // namespace gridaccess
