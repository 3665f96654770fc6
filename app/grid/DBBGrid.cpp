#include "app/grid/DBBGrid.h"

#include "app/grid/gridcopy.h"
#include "data/adodataset.h"
#include "data/dataerror.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include "modal/modal.h"
#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QStyle>
#include <QTimer>
#include <algorithm>

// Every move of the current cell passes through the selection model: here a
// move goes to the dataset first, and the grid's answer to the dataset's
// signal places the cell.
class TDBBGrid::RowOwner : public QItemSelectionModel {
public:
    RowOwner(TDBBGrid* grid, QAbstractItemModel* model)
        : QItemSelectionModel(model, grid), m_grid(grid) {}

    void setCurrentIndex(const QModelIndex& index,
                         QItemSelectionModel::SelectionFlags command) override {
        if (!m_grid->askDataSetToMove(index, command))
            place(index, command);
    }

    void place(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) {
        QItemSelectionModel::setCurrentIndex(index, command);
    }

private:
    TDBBGrid* m_grid;
};

TDBBGrid::TDBBGrid(QWidget* parent)
    : GridView(parent), m_model(new TDBBGridModel(this)), m_delegate(new GridDelegate(this)) {
    setModel(m_model);
    setItemDelegate(m_delegate);
    setShowGrid(true);
    setEditTriggers(DoubleClicked | EditKeyPressed | AnyKeyPressed);
    setSelectionMode(ExtendedSelection);
    setSelectionBehavior(SelectItems);
    // A text wider than its cell is clipped: an ellipsis would read like
    // the memo preview's "...".
    setTextElideMode(Qt::ElideNone);

    // One height for every row and interactive column widths: nothing ever
    // measures or stores the rows, so a million rows cost no more to show
    // than a hundred.
    setRowHeight(18);
    setRowHeaderWidth(12);
    QHeaderView* titles = horizontalHeader();
    titles->setFont(QFont(QStringLiteral("Tahoma"), 8));
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultSectionSize(64);
    titles->setHighlightSections(false);
    // A click on a title sorts by its column, Ctrl+click selects it.
    titles->setSectionsClickable(true);
    titles->setSortIndicatorShown(false); // the arrow is part of the title
    connect(titles, &QHeaderView::sectionClicked, this, &TDBBGrid::titleClicked);
    titles->viewport()->installEventFilter(this);
    // Titles start at the left and a title wider than its column is cut at
    // the right, so its beginning stays readable.
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setTextElideMode(Qt::ElideNone);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_fitted = false;
        sizeColumns();
    });
    // The first rows of a result that opened without any.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TDBBGrid::fitColumnsToRows);
    // A new order leaves no selection to carry over (a large one would
    // cost a persistent index per cell).
    connect(m_model, &TDBBGridModel::aboutToReorder, this, [this] {
        if (selectionModel())
            selectionModel()->clearSelection();
    });
    connect(m_model, &TDBBGridModel::sorted, this, [this] {
        rowHeader()->update();
        if (currentIndex().isValid())
            scrollTo(currentIndex());
    });

    connect(this, &QAbstractItemView::clicked, this, &TDBBGrid::cellClicked);
}

TDBBGrid::~TDBBGrid() = default;

void TDBBGrid::sizeColumns() {
    const data::ResultStore* store = m_model->store();
    if (!store)
        return;
    QHeaderView* titles = horizontalHeader();
    const QFontMetrics cellMetrics(font());
    const QFontMetrics titleMetrics(titles->font());
    const int digit = cellMetrics.horizontalAdvance(u'0');
    const int cellMargin =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    const int titleMargin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, titles);
    for (int i = 0; i < store->columnCount(); ++i) {
        const data::ColumnInfo& column = store->column(i);
        const int cells = displayWidthChars(column) * digit + cellMargin;
        const int title = titleMetrics.horizontalAdvance(column.name) + titleMargin;
        titles->resizeSection(i, std::max(cells, title));
    }
    fitColumnsToRows();
}

void TDBBGrid::fitColumnsToRows() {
    const data::ResultStore* store = m_model->store();
    if (m_fitted || !store || m_model->rowCount() == 0)
        return;
    m_fitted = true;
    // The longest value of the first rows, at most 300 pixels, never
    // narrower than the title; large objects keep their display width.
    constexpr int kRows = 100;
    constexpr int kMost = 300;
    QHeaderView* titles = horizontalHeader();
    const QFontMetrics cellMetrics(font());
    const QFontMetrics titleMetrics(titles->font());
    const int cellMargin =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 1;
    const int titleMargin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, titles);
    const int rows = std::min(kRows, m_model->rowCount());
    for (int c = 0; c < store->columnCount(); ++c) {
        const data::ColumnInfo& column = store->column(c);
        if (isBlobFieldType(column.type))
            continue;
        int widest = 0;
        for (int r = 0; r < rows; ++r) {
            const QString text = m_model->index(r, c).data().toString();
            widest = std::max(widest, cellMetrics.horizontalAdvance(text));
        }
        const int title = titleMetrics.horizontalAdvance(column.name) + titleMargin;
        titles->resizeSection(c, std::max(title, std::min(kMost, widest + cellMargin)));
    }
}

void TDBBGrid::setAutoDisp_Image(bool on) {
    m_autoDispImage = on;
    viewport()->update();
}

void TDBBGrid::setAutoDisp_Memo(bool on) {
    m_autoDispMemo = on;
    viewport()->update();
}

void TDBBGrid::setDataSource(TDataSource* source) {
    if (TDataSource* old = m_model->dataSource())
        disconnect(old, nullptr, this, nullptr);
    m_model->setDataSource(source);
    if (source)
        connect(source, &TDataSource::currentRowChanged, this, &TDBBGrid::followDataSet);
}

void TDBBGrid::setModel(QAbstractItemModel* model) {
    QItemSelectionModel* before = selectionModel();
    GridView::setModel(model);
    if (dynamic_cast<RowOwner*>(before) && before != selectionModel())
        before->deleteLater();
    if (model != m_model || !model)
        return;
    // The view made a selection model of its own for the model; ours takes
    // its place.
    QItemSelectionModel* made = selectionModel();
    setSelectionModel(new RowOwner(this, model));
    if (made && made->parent() == this)
        made->deleteLater();
    // A new result, or the rows read again: the current cell is the
    // dataset's row. Connected after the view's own handling of the reset.
    connect(m_model, &QAbstractItemModel::modelReset, selectionModel(), [this] {
        if (TADODataSet* ds = m_model->dataSet(); ds && ds->Active())
            followDataSet(ds->currentRow());
    });
}

bool TDBBGrid::askDataSetToMove(const QModelIndex& index,
                                QItemSelectionModel::SelectionFlags command) {
    TADODataSet* ds = m_model->dataSet();
    if (!index.isValid() || index.model() != m_model || model() != m_model || !ds ||
        !m_model->inStep() || m_model->storeRow(index.row()) == ds->currentRow())
        return false;
    m_moveRequest = MoveRequest{index.column(), command};
    // A move runs inside the view's own event and signal handling: an error
    // is reported, and the cell stays where the dataset stays.
    try {
        qint64 target = m_model->storeRow(index.row());
        if (ds->State() == dsInsert && !ds->Modified()) {
            // A new row nothing was typed into is dropped on leaving it.
            const bool below = ds->currentRow() < target;
            ds->Cancel();
            if (below)
                --target;
        }
        ds->setRecNo(target + 1);
    } catch (...) {
        reportError(std::current_exception());
    }
    m_moveRequest.reset();
    return true;
}

void TDBBGrid::followDataSet(qint64 row) {
    auto* owner = dynamic_cast<RowOwner*>(selectionModel());
    rowHeader()->update(); // the mark follows the dataset's row
    if (!owner || row < 0 || row >= m_model->rowCount() || m_model->columnCount() == 0)
        return;
    const int column = m_moveRequest ? m_moveRequest->column : std::max(currentIndex().column(), 0);
    const QModelIndex target = m_model->index(m_model->viewRow(row), column);
    owner->place(target, m_moveRequest ? m_moveRequest->command : selectionCommand(target));
}

void TDBBGrid::setErrorHandler(std::function<void(std::exception_ptr)> handler) {
    m_errorHandler = std::move(handler);
}

void TDBBGrid::reportError(std::exception_ptr error) {
    if (m_errorHandler) {
        m_errorHandler(error);
        return;
    }
    // Thrown again from the event loop, where the application's error
    // display catches it.
    QMetaObject::invokeMethod(
        this, [error] { std::rethrow_exception(error); }, Qt::QueuedConnection);
}

void TDBBGrid::commitOpenEditor() {
    if (QWidget* editor = m_editor) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void TDBBGrid::leaveRow() {
    commitOpenEditor();
    TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active())
        return;
    if (ds->State() == dsInsert && !ds->Modified())
        ds->Cancel();
    else if (ds->State() != dsBrowse)
        ds->Post();
}

void TDBBGrid::deleteCurrentRow() {
    TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active() || ds->RecordCount() == 0)
        return;
    const QString refused = ds->notUpdatableReason();
    if (!refused.isEmpty())
        throw data::NotUpdatableError(refused);
    modal::MessageRequest ask;
    ask.parent = this;
    ask.icon = QMessageBox::Question;
    ask.caption = QStringLiteral("Bestätigen");
    ask.text = QStringLiteral("Datensatz löschen?");
    ask.buttons = QMessageBox::Ok | QMessageBox::Cancel;
    ask.defaultButton = QMessageBox::Ok;
    if (modal::message(ask) == QMessageBox::Cancel)
        return;
    if (QWidget* editor = m_editor)
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    ds->Delete();
}

bool TDBBGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    if (m_editLocked)
        return false;
    const bool opens = index.isValid() &&
                       (trigger == AllEditTriggers || (trigger & editTriggers())) &&
                       (m_model->flags(index) & Qt::ItemIsEditable);
    if (opens) {
        TADODataSet* ds = m_model->dataSet();
        if (!ds || !ds->Active())
            return false;
        const QString refused = ds->notUpdatableReason();
        if (!refused.isEmpty()) {
            reportError(std::make_exception_ptr(data::NotUpdatableError(refused)));
            return false;
        }
    }
    return GridView::edit(index, trigger, event);
}

void TDBBGrid::editorOpened(QWidget* editor, int column) {
    m_editor = editor;
    m_editorColumn = column;
    // The row shows "I" from the first key typed, not only once the cell
    // is committed.
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        connect(line, &QLineEdit::textEdited, rowHeader(), qOverload<>(&QWidget::update));
}

bool TDBBGrid::editorModified() const {
    const auto* line = qobject_cast<const QLineEdit*>(m_editor.data());
    return line && line->isModified();
}

void TDBBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // The column the editor was open in: the close comes queued after the
    // Return that closed it, when the current cell may already have moved on.
    const int column = editor == m_editor ? m_editorColumn : -1;
    GridView::closeEditor(editor, hint);
    if (m_editor == editor) {
        m_editor = nullptr;
        m_editorColumn = -1;
    }
    // Enter in the row's last field posts the row.
    if (hint == QAbstractItemDelegate::SubmitModelCache && column >= 0 &&
        column == m_model->columnCount() - 1) {
        try {
            leaveRow();
        } catch (...) {
            reportError(std::current_exception());
        }
    }
}

void TDBBGrid::mousePressEvent(QMouseEvent* event) {
    TADODataSet* ds = m_model->dataSet();
    const QModelIndex target = indexAt(event->position().toPoint());
    if (ds && ds->Active() && ds->State() != dsBrowse && target.isValid() &&
        target.row() != currentIndex().row())
        leaveRow(); // an error stops the click: the row stays as edited
    GridView::mousePressEvent(event);
}

void TDBBGrid::keyPressEvent(QKeyEvent* event) {
    TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active()) {
        GridView::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const QModelIndex current = currentIndex();
    const int column = std::max(current.column(), 0);
    // A large object is not edited in its cell: F2 opens it in the cell
    // viewer, as a click does (also while a statement runs).
    if (event->key() == Qt::Key_F2 && mods == Qt::NoModifier && current.isValid() &&
        !(m_model->flags(current) & Qt::ItemIsEditable)) {
        cellClicked(current);
        return;
    }
    // Copying works also while a statement runs.
    if (event->key() == Qt::Key_C &&
        (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))) {
        copySelection(mods & Qt::ShiftModifier);
        return;
    }
    switch (m_editLocked ? 0 : event->key()) {
    case Qt::Key_Insert:
        if (mods == Qt::NoModifier) {
            commitOpenEditor();
            if (ds->State() == dsInsert && !ds->Modified())
                ds->Cancel();
            ds->Insert(); // the grid follows the dataset to the new row
            return;
        }
        break;
    case Qt::Key_Delete:
        if (mods == Qt::ControlModifier) {
            deleteCurrentRow();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (ds->State() != dsBrowse) {
            if (QWidget* editor = m_editor)
                closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
            ds->Cancel();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (mods == Qt::NoModifier && current.isValid()) {
            if (column == m_model->columnCount() - 1)
                leaveRow();
            else
                setCurrentIndex(m_model->index(current.row(), column + 1));
            return;
        }
        break;
    case Qt::Key_Down:
        // Down from the last row appends a new one, as a data-aware grid
        // does, when the result can be written back.
        if (mods == Qt::NoModifier && current.isValid() &&
            current.row() == m_model->rowCount() - 1 &&
            !(ds->State() == dsInsert && !ds->Modified()) && ds->notUpdatableReason().isEmpty()) {
            leaveRow();
            ds->Append();
            return;
        }
        break;
    default:
        break;
    }
    // Moving to another row posts the row being left first; when that
    // fails the error is shown and the cursor stays.
    CursorAction action;
    bool moves = true;
    switch (event->key()) {
    case Qt::Key_Up:
        action = MoveUp;
        break;
    case Qt::Key_Down:
        action = MoveDown;
        break;
    case Qt::Key_PageUp:
        action = MovePageUp;
        break;
    case Qt::Key_PageDown:
        action = MovePageDown;
        break;
    case Qt::Key_Home:
        action = MoveHome;
        break;
    case Qt::Key_End:
        action = MoveEnd;
        break;
    case Qt::Key_Tab:
        action = MoveNext;
        break;
    case Qt::Key_Backtab:
        action = MovePrevious;
        break;
    default:
        moves = false;
        action = MoveNext;
        break;
    }
    if (moves && ds->State() != dsBrowse) {
        const QModelIndex target = moveCursor(action, event->modifiers());
        if (target.isValid() && target.row() != current.row())
            leaveRow();
    }
    GridView::keyPressEvent(event);
}

void TDBBGrid::paintRowIndicator(QPainter& painter, const QRect& rect, int row) const {
    // The mark is the dataset's current row, whether or not the grid has a
    // current cell yet.
    const TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active() || !m_model->inStep() || ds->currentRow() < 0 ||
        ds->currentRow() >= m_model->rowCount() || m_model->viewRow(ds->currentRow()) != row)
        return;
    TDataSetState state = ds->State();
    if (state == dsBrowse && editorModified())
        state = dsEdit;
    const QColor ink = palette().color(QPalette::WindowText);
    painter.save();
    if (state == dsEdit || state == dsInsert) {
        painter.setPen(ink);
        painter.drawText(rect, Qt::AlignCenter,
                         state == dsEdit ? QStringLiteral("I") : QStringLiteral("*"));
    } else {
        const int cy = rect.center().y();
        const int cx = rect.center().x();
        const QPoint marker[] = {{cx - 2, cy - 4}, {cx + 2, cy}, {cx - 2, cy + 4}};
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawPolygon(marker, 3);
    }
    painter.restore();
}

bool TDBBGrid::eventFilter(QObject* watched, QEvent* event) {
    // The click signal carries no modifiers: they are taken from the press.
    if (watched == horizontalHeader()->viewport() && event->type() == QEvent::MouseButtonPress)
        m_titleModifiers = static_cast<QMouseEvent*>(event)->modifiers();
    return GridView::eventFilter(watched, event);
}

void TDBBGrid::titleClicked(int column) {
    if (m_titleModifiers & Qt::ControlModifier)
        selectColumn(column);
    else
        sortByColumn(column);
}

void TDBBGrid::selectColumn(int column) {
    if (!selectionModel() || column < 0 || column >= m_model->columnCount() ||
        m_model->rowCount() == 0)
        return;
    const QModelIndex top = m_model->index(0, column);
    const QModelIndex bottom = m_model->index(m_model->rowCount() - 1, column);
    selectionModel()->select(QItemSelection(top, bottom), QItemSelectionModel::ClearAndSelect);
}

void TDBBGrid::sortByColumn(int column) {
    TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active() || column < 0 || column >= m_model->columnCount())
        return;
    // The row being edited is posted first: it is written where it came
    // from, and takes its place in the new order with the others.
    try {
        leaveRow();
    } catch (...) {
        reportError(std::current_exception());
        return;
    }
    m_model->cycleSort(column);
}

void TDBBGrid::copySelection(bool withTitles) {
    const data::ResultStore* store = m_model->store();
    if (!store || m_model->rowCount() == 0 || m_model->columnCount() == 0)
        return;
    if (m_copy)
        m_copy->cancel();
    QItemSelection selection = selectionModel() ? selectionModel()->selection() : QItemSelection();
    if (selection.isEmpty()) {
        if (!currentIndex().isValid())
            return;
        selection.select(currentIndex(), currentIndex());
    }
    // The rows and columns any part of the selection covers, rows top to
    // bottom, columns in the order shown.
    std::vector<std::pair<int, int>> spans;
    std::vector<bool> columnUsed(std::size_t(m_model->columnCount()), false);
    for (const QItemSelectionRange& range : selection) {
        spans.emplace_back(range.top(), range.bottom());
        for (int c = range.left(); c <= range.right(); ++c)
            columnUsed[std::size_t(c)] = true;
    }
    std::sort(spans.begin(), spans.end());
    gridcopy::Request request;
    request.store = m_model->sharedStore();
    request.titles = withTitles;
    std::vector<int> viewRows;
    int next = 0;
    for (const auto& [top, bottom] : spans)
        for (int r = std::max(top, next); r <= bottom; ++r, next = r)
            viewRows.push_back(r);
    request.rows.reserve(viewRows.size());
    for (int r : viewRows)
        request.rows.push_back(m_model->storeRow(r));
    QHeaderView* titles = horizontalHeader();
    for (int v = 0; v < titles->count(); ++v) {
        const int c = titles->logicalIndex(v);
        if (columnUsed[std::size_t(c)] && !titles->isSectionHidden(c))
            request.columns.push_back(c);
    }
    if (selection.size() > 1) {
        // Not a rectangle: cells outside the selection stay empty.
        request.selected = [selection, viewRows, columns = request.columns, this](std::size_t i,
                                                                                  std::size_t j) {
            return selection.contains(m_model->index(viewRows[i], columns[j]));
        };
    }
    const qint64 cells = qint64(request.rows.size()) * qint64(request.columns.size());
    auto* job = new gridcopy::CopyJob(std::move(request), this);
    m_copy = job;
    connect(job, &gridcopy::CopyJob::finished, this, [this, job](bool copied) {
        if (m_copyProgress)
            m_copyProgress->deleteLater();
        job->deleteLater();
        emit copyFinished(copied);
    });
    // A copy of more than a million cells that is not done within a second
    // shows how far it got and can be cancelled.
    const bool big = cells > 1'000'000;
    QTimer::singleShot(1000, job, [this, job, big] {
        if (!big)
            return;
        auto* progress = new QProgressDialog(QStringLiteral("Zellen werden kopiert …"),
                                             QStringLiteral("Abbrechen"), 0,
                                             int(std::min<qint64>(job->rowCount(), INT_MAX)), this);
        progress->setObjectName(QStringLiteral("copyProgress"));
        progress->setWindowTitle(QStringLiteral("Kopieren"));
        progress->setMinimumDuration(0);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        connect(job, &gridcopy::CopyJob::progress, progress,
                [progress](qint64 done, qint64) { progress->setValue(int(done)); });
        connect(progress, &QProgressDialog::canceled, job, &gridcopy::CopyJob::cancel);
        m_copyProgress = progress;
        progress->show();
    });
    job->start();
}

void TDBBGrid::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("gridMenu"));
    QAction* copy =
        menu.addAction(QStringLiteral("Kopieren"), this, [this] { copySelection(false); });
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    QAction* titled = menu.addAction(QStringLiteral("Mit Spaltenüberschriften kopieren"), this,
                                     [this] { copySelection(true); });
    titled->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    const bool any = m_model->rowCount() > 0 && m_model->columnCount() > 0;
    copy->setEnabled(any);
    titled->setEnabled(any);
    menu.exec(event->globalPos());
}

void TDBBGrid::focusOutEvent(QFocusEvent* event) {
    GridView::focusOutEvent(event);
    // A menu that pops up over the grid does not take the focus away.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    // Where the focus went is known once it arrived there.
    QTimer::singleShot(0, this, &TDBBGrid::dropUntouchedInsert);
}

void TDBBGrid::dropUntouchedInsert() {
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == this || isAncestorOf(focus)))
        return;
    TADODataSet* ds = m_model->dataSet();
    if (!ds || !ds->Active() || ds->State() != dsInsert || ds->Modified() || editorModified())
        return;
    try {
        if (QWidget* editor = m_editor)
            closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        ds->Cancel();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void TDBBGrid::cellClicked(const QModelIndex& index) {
    TADODataSet* ds = m_model->dataSet();
    // The press asked the dataset to move; a row it refused gets no click.
    if (!index.isValid() || !ds || !ds->Active() ||
        ds->currentRow() != m_model->storeRow(index.row()))
        return;
    emit CellClick(index.column());
}

void TDBBGrid::DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                            const QStyleOptionViewItem& state) {
    if (const data::ResultStore* store = m_model->store())
        m_delegate->drawDataCell(painter, rect, *store, m_model->storeRow(row), column, state,
                                 m_autoDispImage, m_autoDispMemo);
}
