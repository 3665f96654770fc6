#include "app/grid/DBBGrid.h"

#include "data/adodataset.h"
#include "data/dataerror.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include "modal/modal.h"
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUuid>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QString kEllipsis = QStringLiteral("...");

bool isNumericKind(data::StorageKind kind) {
    switch (kind) {
    case data::StorageKind::UInt8:
    case data::StorageKind::Int16:
    case data::StorageKind::Int32:
    case data::StorageKind::Int64:
    case data::StorageKind::Double:
    case data::StorageKind::Decimal:
        return true;
    default:
        return false;
    }
}

// Length of the first line of text: up to the first CR or LF.
qsizetype firstLineLength(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n'))
            return i;
    return text.size();
}

// The longest start of line[0, length) narrower than room, in characters:
// the result of cutting the last character while the text is not narrower.
// Widths grow with the length, so the cut point is found by halving.
qsizetype fittingLength(const QString& line, qsizetype length, int room,
                        const QFontMetrics& metrics) {
    qsizetype lo = 0, hi = length; // the answer lies in [lo, hi]
    if (room <= 0)
        return 0;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo + 1) / 2;
        if (metrics.horizontalAdvance(line, int(mid)) < room)
            lo = mid;
        else
            hi = mid - 1;
    }
    // Never end on the first half of a surrogate pair.
    if (lo > 0 && line.at(lo - 1).isHighSurrogate())
        --lo;
    return lo;
}

// Characters of a line that can matter for a cell `room` pixels wide: every
// character is at least a pixel wide, so no longer start can fit.
qsizetype relevantChars(int room) {
    return qsizetype(std::max(room, 0)) + 2;
}

// The brush the cell's background was filled with.
QBrush cellBrush(const QStyleOptionViewItem& state) {
    const QPalette::ColorGroup group = !(state.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (state.state & QStyle::State_Active) ? QPalette::Normal
                                                                              : QPalette::Inactive;
    if (state.state & QStyle::State_Selected)
        return state.palette.brush(group, QPalette::Highlight);
    if (state.backgroundBrush.style() != Qt::NoBrush)
        return state.backgroundBrush;
    if (state.features & QStyleOptionViewItem::Alternate)
        return state.palette.brush(group, QPalette::AlternateBase);
    return state.palette.brush(group, QPalette::Base);
}

QColor cellTextColor(const QStyleOptionViewItem& state) {
    const QPalette::ColorGroup group =
        (state.state & QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
    return state.palette.color(
        group, (state.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text);
}

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(TDBBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    // The default cell drawing followed by the drawing hook, both from one
    // set of cell values: the cell's data is read and formatted once per
    // paint, not once for drawing and again for the hook.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem state = option;
        initStyleOption(&state, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &state, painter, widget);
        m_grid->DrawDataCell(*painter, option.rect, index.row(), index.column(), state);
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        m_grid->editorOpened(editor);
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        // Every field is edited as text, in the form the grid shows it.
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setText(index.data(Qt::EditRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }

    // Runs inside the view's own signal handling: an error (a text that is
    // no value of the field, a result that cannot be changed) is reported
    // instead of thrown through the view.
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        try {
            if (auto* line = qobject_cast<QLineEdit*>(editor)) {
                if (line->isModified())
                    model->setData(index, line->text(), Qt::EditRole);
                return;
            }
            QStyledItemDelegate::setModelData(editor, model, index);
        } catch (...) {
            m_grid->reportError(std::current_exception());
        }
    }

private:
    TDBBGrid* m_grid;
};

} // namespace

// ---- model -------------------------------------------------------------------

TDBBGridModel::TDBBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TDBBGridModel::setDataSource(TDataSource* source) {
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &TDataSource::dataSetChanged, this, &TDBBGridModel::refresh);
        connect(m_source, &TDataSource::rowInserted, this, &TDBBGridModel::rowInserted);
        connect(m_source, &TDataSource::rowRemoved, this, &TDBBGridModel::rowRemoved);
        connect(m_source, &TDataSource::rowChanged, this, &TDBBGridModel::rowChanged);
        connect(m_source, &TDataSource::rowsAppended, this, &TDBBGridModel::rowsAppended);
    }
    refresh();
}

void TDBBGridModel::rowInserted(qint64 row) {
    if (!m_store || row < 0 || row > m_rows)
        return refresh();
    beginInsertRows({}, int(row), int(row));
    m_rows = int(std::min<qint64>(m_store->rowCount(), INT_MAX));
    endInsertRows();
}

void TDBBGridModel::rowsAppended(qint64 from, qint64 to) {
    // Rows that arrive while the result is fetched: the views learn of them
    // as inserted rows, so what they show and where they stand stays.
    TADODataSet* ds = dataSet();
    if (!m_store || !ds || ds->store() != m_store || from != m_rows)
        return refresh();
    const int last = int(std::min<qint64>(to, INT_MAX));
    if (last <= m_rows)
        return;
    beginInsertRows({}, m_rows, last - 1);
    m_rows = last;
    endInsertRows();
}

void TDBBGridModel::rowRemoved(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return refresh();
    beginRemoveRows({}, int(row), int(row));
    m_rows = int(std::min<qint64>(m_store->rowCount(), INT_MAX));
    endRemoveRows();
}

void TDBBGridModel::rowChanged(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return;
    emit dataChanged(index(int(row), 0), index(int(row), columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, int(row), int(row));
}

Qt::ItemFlags TDBBGridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_store && index.isValid() && !isBlobFieldType(m_store->column(index.column()).type))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TDBBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TADODataSet* ds = dataSet();
    if (role != Qt::EditRole || !index.isValid() || !m_store || !ds || !ds->Active())
        return false;
    const QVariant typed = valueFromText(value.toString(), m_store->column(index.column()));
    if (ds->RecNo() != index.row() + 1)
        ds->setRecNo(index.row() + 1);
    ds->Fields(index.column()).setValue(typed);
    return true;
}

QVariant valueFromText(const QString& text, const data::ColumnInfo& column) {
    using data::StorageKind;
    const auto invalid = [&] {
        return data::DataError(QStringLiteral("\"%1\" ist kein gültiger Wert für das Feld \"%2\"")
                                   .arg(text, column.name));
    };
    if (column.kind == StorageKind::Utf8 || column.kind == StorageKind::Utf16)
        return text;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    bool ok = false;
    switch (column.kind) {
    case StorageKind::Bool: {
        const QString l = t.toLower();
        if (l == u"true" || l == u"wahr" || l == u"1")
            return true;
        if (l == u"false" || l == u"falsch" || l == u"0")
            return false;
        throw invalid();
    }
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
    case StorageKind::Int64: {
        const qlonglong v = t.toLongLong(&ok);
        const qlonglong lo = column.kind == StorageKind::UInt8   ? 0
                             : column.kind == StorageKind::Int16 ? -32768
                             : column.kind == StorageKind::Int32 ? qlonglong(INT_MIN)
                                                                 : LLONG_MIN;
        const qlonglong hi = column.kind == StorageKind::UInt8   ? 255
                             : column.kind == StorageKind::Int16 ? 32767
                             : column.kind == StorageKind::Int32 ? qlonglong(INT_MAX)
                                                                 : LLONG_MAX;
        if (!ok || v < lo || v > hi)
            throw invalid();
        return column.kind == StorageKind::Int64 ? QVariant(v) : QVariant(int(v));
    }
    case StorageKind::Double:
    case StorageKind::Decimal: {
        // A decimal comma is taken as the point.
        QString n = t;
        if (!n.contains(QLatin1Char('.')))
            n.replace(QLatin1Char(','), QLatin1Char('.'));
        static const QRegularExpression number(
            QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
        if (!number.match(n).hasMatch())
            throw invalid();
        if (column.kind == StorageKind::Decimal && !n.contains(QLatin1Char('e')) &&
            !n.contains(QLatin1Char('E')))
            return n; // exact digits
        const double v = n.toDouble(&ok);
        if (!ok)
            throw invalid();
        return v;
    }
    case StorageKind::DateTime:
    case StorageKind::Date: {
        static const char* const formats[] = {
            "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
            "dd.MM.yyyy HH:mm:ss",     "dd.MM.yyyy HH:mm",    "dd.MM.yyyy"};
        for (const char* f : formats) {
            QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
            if (!dt.isValid())
                continue;
            if (column.kind == StorageKind::Date)
                return dt.date();
            dt.setTimeSpec(Qt::UTC);
            return dt;
        }
        throw invalid();
    }
    case StorageKind::Time: {
        for (const char* f : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
            const QTime tm = QTime::fromString(t, QLatin1String(f));
            if (tm.isValid())
                return tm;
        }
        throw invalid();
    }
    case StorageKind::Guid: {
        const QUuid u = QUuid::fromString(t);
        if (u.isNull() && t != u.toString(QUuid::WithoutBraces) &&
            !t.startsWith(QLatin1String("{0000")))
            throw invalid();
        return u;
    }
    case StorageKind::Bytes: {
        if (!t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) || (t.size() % 2) != 0)
            throw invalid();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]*$"));
        if (!hex.match(QStringView(t).mid(2)).hasMatch())
            throw invalid();
        return QByteArray::fromHex(t.mid(2).toLatin1());
    }
    case StorageKind::Utf8:
    case StorageKind::Utf16:
        break;
    }
    return text;
}

TADODataSet* TDBBGridModel::dataSet() const {
    return m_source ? m_source->DataSet() : nullptr;
}

void TDBBGridModel::refresh() {
    TADODataSet* ds = dataSet();
    beginResetModel();
    m_store = ds && ds->Active() ? ds->store() : nullptr;
    m_rows = m_store ? int(std::min<qint64>(m_store->rowCount(), INT_MAX)) : 0;
    endResetModel();
}

int TDBBGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_store ? 0 : m_rows;
}

int TDBBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_store ? 0 : m_store->columnCount();
}

QVariant TDBBGridModel::data(const QModelIndex& index, int role) const {
    if (!m_store || !index.isValid())
        return {};
    const data::ColumnInfo& column = m_store->column(index.column());
    switch (role) {
    case Qt::EditRole:
        return m_store->text(index.row(), index.column());
    case Qt::DisplayRole:
        if (isBlobFieldType(column.type))
            return blobPlaceholder(column.type, m_store->isNull(index.row(), index.column()));
        return m_store->text(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return QVariant((isNumericKind(column.kind) ? Qt::AlignRight : Qt::AlignLeft) |
                        Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TDBBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || !m_store ||
        section >= m_store->columnCount())
        return {};
    return m_store->column(section).name;
}

// ---- drawing rules -------------------------------------------------------------

QString blobPlaceholder(int fieldType, bool isNull) {
    // Fixed texts: a large-object cell costs no string building when painted.
    static const QString texts[3][2] = {
        {QStringLiteral("(MEMO)"), QStringLiteral("(memo)")},
        {QStringLiteral("(GRAPHIC)"), QStringLiteral("(graphic)")},
        {QStringLiteral("(BLOB)"), QStringLiteral("(blob)")},
    };
    int kind = 2;
    switch (fieldType) {
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
        kind = 0;
        break;
    case ftGraphic:
        kind = 1;
        break;
    default:
        break;
    }
    return texts[kind][isNull ? 1 : 0];
}

QString memoPreview(QStringView text, int cellWidth, const QFontMetrics& metrics) {
    const int room = cellWidth - metrics.horizontalAdvance(kEllipsis);
    const QString line =
        text.first(std::min(firstLineLength(text), relevantChars(room))).toString();
    return line.left(fittingLength(line, line.size(), room, metrics)) + kEllipsis;
}

int thumbnailWidth(int pictureWidth, int pictureHeight, int cellHeight) {
    // Halves go to the even neighbour (the default rounding mode).
    return int(std::nearbyint(double(pictureWidth) / (pictureHeight + 0.001) * cellHeight));
}

// ---- grid ----------------------------------------------------------------------

TDBBGrid::TDBBGrid(QWidget* parent) : GridView(parent), m_model(new TDBBGridModel(this)) {
    m_lineBuffer.reserve(256);
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setShowGrid(true);
    setEditTriggers(DoubleClicked | EditKeyPressed | AnyKeyPressed);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);

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
    titles->setSectionsClickable(false);
    // Titles start at the left and a title wider than its column is cut at
    // the right, so its beginning stays readable.
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setTextElideMode(Qt::ElideNone);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TDBBGrid::sizeColumns);

    connect(this, &QAbstractItemView::clicked, this, &TDBBGrid::cellClicked);
}

TDBBGrid::~TDBBGrid() = default;

int displayWidthChars(const data::ColumnInfo& column) {
    switch (column.type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
        // A very long text field is held to a width that still fits a screen.
        return std::clamp(column.size, 1, 100);
    case ftSmallint:
    case ftWord:
        return 6;
    case ftInteger:
    case ftAutoInc:
        return 11;
    case ftLargeint:
        return 15;
    case ftBoolean:
        return 5;
    case ftBCD:
    case ftFMTBcd:
        // Digits, sign and decimal point.
        return column.precision > 0 ? std::min(column.precision + 2, 40) : 10;
    case ftDate:
        return 10;
    case ftTime:
        return 8;
    case ftDateTime:
    case ftTimeStamp:
        return 19;
    case ftGuid:
        return 38;
    default:
        // Floating point, currency, large objects and the rest.
        return 10;
    }
}

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
    GridView::setModel(model);
    if (selectionModel())
        connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
                &TDBBGrid::currentCellChanged);
}

void TDBBGrid::currentCellChanged(const QModelIndex& current) {
    rowHeader()->update();
    TADODataSet* ds = m_model->dataSet();
    if (m_syncing || !current.isValid() || !ds || !ds->Active() ||
        current.row() >= ds->RecordCount() || ds->RecNo() == current.row() + 1)
        return;
    // Keys and clicks post the row before the view moves; this catches any
    // other way of moving. It runs inside the view's signal handling, so an
    // error is reported and the view goes back to the dataset's row.
    m_syncing = true;
    try {
        qint64 target = current.row();
        if (ds->State() == dsInsert && !ds->Modified()) {
            const bool below = ds->currentRow() < target;
            ds->Cancel();
            if (below)
                --target;
        }
        ds->setRecNo(target + 1);
    } catch (...) {
        reportError(std::current_exception());
    }
    m_syncing = false;
    if (ds->Active() && ds->currentRow() != current.row())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (TADODataSet* d = m_model->dataSet(); d && d->Active())
                    followDataSet(d->currentRow());
            },
            Qt::QueuedConnection);
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

void TDBBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    GridView::closeEditor(editor, hint);
    if (m_editor == editor)
        m_editor = nullptr;
    // Enter in the row's last field posts the row.
    if (hint == QAbstractItemDelegate::SubmitModelCache &&
        currentIndex().column() == m_model->columnCount() - 1) {
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
    switch (m_editLocked ? 0 : event->key()) {
    case Qt::Key_Insert:
        if (mods == Qt::NoModifier) {
            commitOpenEditor();
            if (ds->State() == dsInsert && !ds->Modified())
                ds->Cancel();
            ds->Insert();
            setCurrentIndex(m_model->index(int(ds->currentRow()), column));
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
            if (ds->currentRow() >= 0)
                setCurrentIndex(m_model->index(int(ds->currentRow()), column));
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
            setCurrentIndex(m_model->index(int(ds->currentRow()), column));
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
    if (currentIndex().row() != row)
        return;
    const TADODataSet* ds = m_model->dataSet();
    const TDataSetState state = ds && ds->Active() ? ds->State() : dsInactive;
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

void TDBBGrid::followDataSet(qint64 row) {
    if (m_syncing || row < 0 || row >= m_model->rowCount())
        return;
    m_syncing = true;
    const int column = std::max(currentIndex().column(), 0);
    setCurrentIndex(m_model->index(int(row), column));
    m_syncing = false;
}

void TDBBGrid::cellClicked(const QModelIndex& index) {
    TADODataSet* ds = m_model->dataSet();
    if (!index.isValid() || !ds || !ds->Active())
        return;
    if (ds->RecNo() != index.row() + 1)
        ds->setRecNo(index.row() + 1);
    emit CellClick(index.column());
}

void TDBBGrid::DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                            const QStyleOptionViewItem& state) {
    const data::ResultStore* store = m_model->store();
    if (!store || column >= store->columnCount() || row >= store->rowCount())
        return;
    // Drawing runs inside the paint cycle: nothing may escape from here.
    try {
        const TFieldType type = store->column(column).type;
        if (type == ftGraphic && m_autoDispImage)
            drawGraphicCell(painter, rect, row, column, state);
        if (type == ftMemo && m_autoDispMemo)
            drawMemoCell(painter, rect, row, column, state);
    } catch (...) {
        painter.fillRect(rect, cellBrush(state));
    }
}

void TDBBGrid::drawGraphicCell(QPainter& painter, const QRect& rect, int row, int column,
                               const QStyleOptionViewItem& state) {
    const data::ResultStore* store = m_model->store();
    // A picture that is missing or not a bitmap leaves the cell empty.
    const QByteArrayView bytes =
        store->column(column).kind == data::StorageKind::Bytes && !store->isNull(row, column)
            ? store->bytes(row, column)
            : QByteArrayView();
    if (bytes.isEmpty() ||
        !m_pictureBuffer.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                      int(bytes.size()), "BMP"))
        m_pictureBuffer = QImage();
    const int w = m_pictureBuffer.width();
    const int h = m_pictureBuffer.height();
    const int width = thumbnailWidth(w, h, rect.height());
    painter.fillRect(rect, cellBrush(state));
    if (width <= 0 || m_pictureBuffer.isNull())
        return;
    painter.save();
    painter.setClipRect(rect);
    painter.drawImage(QRect(rect.left(), rect.top(), width, rect.height()), m_pictureBuffer);
    painter.restore();
}

void TDBBGrid::loadFirstLine(int row, int column, qsizetype maxChars) {
    const data::ResultStore* store = m_model->store();
    m_lineBuffer.resize(0);
    if (store->isNull(row, column))
        return;
    switch (store->column(column).kind) {
    case data::StorageKind::Utf16: {
        const QStringView text = store->utf16(row, column);
        m_lineBuffer.append(text.first(std::min(firstLineLength(text), maxChars)));
        break;
    }
    case data::StorageKind::Utf8: {
        // At most four bytes per character: decode no more than can be shown.
        const QByteArrayView bytes = store->bytes(row, column);
        const QByteArrayView head = bytes.first(std::min(bytes.size(), maxChars * 4));
        m_utf8.resetState();
        m_lineBuffer.resize(head.size());
        QChar* end = m_utf8.appendToBuffer(m_lineBuffer.data(), head);
        m_lineBuffer.resize(end - m_lineBuffer.constData());
        m_lineBuffer.truncate(std::min(firstLineLength(m_lineBuffer), maxChars));
        break;
    }
    default:
        m_lineBuffer.append(store->text(row, column));
        m_lineBuffer.truncate(std::min(firstLineLength(m_lineBuffer), maxChars));
        break;
    }
}

void TDBBGrid::drawMemoCell(QPainter& painter, const QRect& rect, int row, int column,
                            const QStyleOptionViewItem& state) {
    const QFontMetrics metrics(state.font);
    const int room = rect.width() - metrics.horizontalAdvance(kEllipsis);
    loadFirstLine(row, column, relevantChars(room));
    m_lineBuffer.truncate(fittingLength(m_lineBuffer, m_lineBuffer.size(), room, metrics));
    m_lineBuffer.append(kEllipsis);
    painter.fillRect(rect, cellBrush(state));
    painter.save();
    painter.setClipRect(rect);
    painter.setFont(state.font);
    painter.setPen(cellTextColor(state));
    painter.drawText(rect.left(), rect.top() + metrics.ascent(), m_lineBuffer);
    painter.restore();
}
