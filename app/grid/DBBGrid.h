#pragma once
// The result grid: a table view over the dataset of a data source. It reads
// the dataset's stored columns directly (no row is copied), shows titles, an
// indicator column for the current row, grid lines and resizable columns,
// and draws graphic fields as thumbnails and memo fields as a one-line
// preview ending in "...".
//
// The dataset owns the current row. A cell the user moves to (keys, clicks,
// the indicator column, setCurrentIndex) asks the dataset to move there;
// the grid's current cell follows only the dataset's report that its row
// changed, at once. A move the dataset refuses (a row that cannot be
// posted) leaves the grid where it is.
//
// Cells are selected as rectangles (mouse, Shift+click, Shift+arrows), as
// whole rows (the indicator column), whole columns (Ctrl+click on a title)
// or all at once (Ctrl+A); Ctrl+C copies them, Ctrl+Shift+C with the
// titles. A click on a title sorts the rows by that column on the client.

#include "app/grid/cellvalues.h"
#include "app/grid/gridcopy.h"
#include "app/grid/griddelegate.h"
#include "app/grid/gridmodel.h"
#include "controls/gridview.h"
#include "data/adodataset.h" // dataSource() below needs the complete type
#include <QItemSelectionModel>
#include <QPointer>
#include <exception>
#include <functional>
#include <optional>

class QStyleOptionViewItem;
class TADODataSet;
class TDataSource;
class QKeyEvent;
class QContextMenuEvent;
class QFocusEvent;
class QProgressDialog;

class QMouseEvent;

class TDBBGrid : public GridView {
    Q_OBJECT
    Q_PROPERTY(bool AutoDisp_Image READ AutoDisp_Image WRITE setAutoDisp_Image)
    Q_PROPERTY(bool AutoDisp_Memo READ AutoDisp_Memo WRITE setAutoDisp_Memo)
public:
    explicit TDBBGrid(QWidget* parent = nullptr);
    ~TDBBGrid() override;

    bool AutoDisp_Image() const { return m_autoDispImage; }
    void setAutoDisp_Image(bool on);
    bool AutoDisp_Memo() const { return m_autoDispMemo; }
    void setAutoDisp_Memo(bool on);

    void setDataSource(TDataSource* source);
    TDataSource* dataSource() const { return m_model->dataSource(); }
    // While true, no cell editor opens and no row is inserted, appended or
    // deleted (the window sets it while a statement runs).
    void setEditLocked(bool locked) { m_editLocked = locked; }
    bool editLocked() const { return m_editLocked; }
    void setModel(QAbstractItemModel* model) override;
    TDBBGridModel* gridModel() const { return m_model; }

    // The drawing hook: runs for every data cell after its default text was
    // drawn; `rect` is the cell, `column` its field. Never throws.
    void DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                      const QStyleOptionViewItem& state);

    // Errors met where they cannot be thrown to the caller (inside the
    // view's own signal handling) go here; by default they are thrown again
    // from the event loop, where the application shows them.
    void setErrorHandler(std::function<void(std::exception_ptr)> handler);
    using QAbstractItemView::edit; // edit(index) opens the cell's editor
    void reportError(std::exception_ptr error);
    // The cell editor the delegate opened for `column`, so leaving the row
    // commits it first.
    void editorOpened(QWidget* editor, int column);

    // Copies the selected cells (the current cell when none is selected)
    // to the clipboard, with the column titles as the first line when
    // asked. A large copy runs in slices and shows its progress.
    void copySelection(bool withTitles);
    // The copy that is still running, if any.
    gridcopy::CopyJob* runningCopy() const { return m_copy; }
    // Sorts by the column: ascending, descending, the server's order again.
    void sortByColumn(int column);
    // The dataset's row shown at a row of the grid (sorted or not): what
    // export and printing take to follow the order the grid shows.
    qint64 dataSetRow(int gridRow) const { return m_model->storeRow(gridRow); }

signals:
    // A data cell was clicked; the dataset is on the clicked row.
    void CellClick(int column);
    // A copy finished (copied) or was cancelled.
    void copyFinished(bool copied);

protected:
    // The current row's mark: a triangle, "I" while the row is edited, "*"
    // for a new row.
    void paintRowIndicator(QPainter& painter, const QRect& rect, int row) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Commits an open cell editor, then posts the current row (an inserted
    // row that nothing was typed into is dropped instead).
    void leaveRow();
    void commitOpenEditor();
    void deleteCurrentRow();
    // A move of the current cell to `index`: true when it went to the
    // dataset (which moved, or refused and the error was reported), false
    // when the view takes it itself (a move within the row, no open
    // dataset, or a model that is catching up with the dataset's rows).
    bool askDataSetToMove(const QModelIndex& index, QItemSelectionModel::SelectionFlags command);
    // The dataset's current row changed: the current cell goes there, in
    // the column asked for (or the current one).
    void followDataSet(qint64 row);
    // Sizes every column from its field's display width in the grid's font,
    // never narrower than its title.
    void sizeColumns();
    // Sizes the columns to the longest values of the first rows, once per
    // result, when there are rows.
    void fitColumnsToRows();
    void titleClicked(int column);
    void selectColumn(int column);
    // An untouched inserted row is dropped once the focus left the grid.
    void dropUntouchedInsert();
    bool editorModified() const;
    void cellClicked(const QModelIndex& index);

    class RowOwner;
    // The cell a move asked the dataset for, while the dataset moves.
    struct MoveRequest {
        int column;
        QItemSelectionModel::SelectionFlags command;
    };

    TDBBGridModel* m_model;
    GridDelegate* m_delegate;
    bool m_autoDispImage = true;
    bool m_autoDispMemo = true;
    bool m_editLocked = false;
    std::optional<MoveRequest> m_moveRequest;
    QPointer<QWidget> m_editor;
    int m_editorColumn = -1;
    Qt::KeyboardModifiers m_titleModifiers; // of the last press on a title
    bool m_fitted = false;                  // the columns were fitted to the rows of this result
    QPointer<gridcopy::CopyJob> m_copy;
    QPointer<QProgressDialog> m_copyProgress;
    std::function<void(std::exception_ptr)> m_errorHandler;
};
