#include "DBBGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <adodataset.h>
#include <climits>
#include <cmath>
#include <fieldtype.h>
#include <resultstore.h>

namespace {

const QString kEllipsis = QStringLiteral("...");

bool isNumericKind(data::StorageKind kind)
{
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
qsizetype firstLineLength(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n'))
            return i;
    return text.size();
}

// The longest start of line[0, length) narrower than room, in characters:
// the result of cutting the last character while the text is not narrower.
// Widths grow with the length, so the cut point is found by halving.
qsizetype fittingLength(const QString& line, qsizetype length, int room,
                        const QFontMetrics& metrics)
{
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
qsizetype relevantChars(int room)
{
    return qsizetype(std::max(room, 0)) + 2;
}

// The brush the cell's background was filled with.
QBrush cellBrush(const QStyleOptionViewItem& state)
{
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

QColor cellTextColor(const QStyleOptionViewItem& state)
{
    const QPalette::ColorGroup group = (state.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    return state.palette.color(group, (state.state & QStyle::State_Selected)
                                          ? QPalette::HighlightedText
                                          : QPalette::Text);
}

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(TDBBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    // The default cell drawing followed by the drawing hook, both from one
    // set of cell values: the cell's data is read and formatted once per
    // paint, not once for drawing and again for the hook.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem state = option;
        initStyleOption(&state, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &state, painter, widget);
        m_grid->DrawDataCell(*painter, option.rect, index.row(), index.column(), state);
    }

private:
    TDBBGrid* m_grid;
};

// The indicator column: a narrow row header that marks the current row.
class IndicatorHeader : public QHeaderView {
public:
    explicit IndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override
    {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        const auto* view = qobject_cast<const QTableView*>(parentWidget());
        if (!view || view->currentIndex().row() != logicalIndex)
            return;
        const int cy = rect.center().y();
        const int cx = rect.center().x();
        const QPoint marker[] = {{cx - 2, cy - 4}, {cx + 2, cy}, {cx - 2, cy + 4}};
        painter->save();
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette().color(QPalette::WindowText));
        painter->drawPolygon(marker, 3);
        painter->restore();
    }
};

} // namespace

// ---- model -------------------------------------------------------------------

TDBBGridModel::TDBBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TDBBGridModel::setDataSource(TDataSource* source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &TDataSource::dataSetChanged, this, &TDBBGridModel::refresh);
    refresh();
}

TADODataSet* TDBBGridModel::dataSet() const
{
    return m_source ? m_source->DataSet() : nullptr;
}

void TDBBGridModel::refresh()
{
    TADODataSet* ds = dataSet();
    beginResetModel();
    m_store = ds && ds->Active() ? ds->store() : nullptr;
    endResetModel();
}

int TDBBGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_store)
        return 0;
    return int(std::min<qint64>(m_store->rowCount(), INT_MAX));
}

int TDBBGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_store ? 0 : m_store->columnCount();
}

QVariant TDBBGridModel::data(const QModelIndex& index, int role) const
{
    if (!m_store || !index.isValid())
        return {};
    const data::ColumnInfo& column = m_store->column(index.column());
    switch (role) {
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

QVariant TDBBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || !m_store ||
        section >= m_store->columnCount())
        return {};
    return m_store->column(section).name;
}

// ---- drawing rules -------------------------------------------------------------

QString blobPlaceholder(int fieldType, bool isNull)
{
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

QString memoPreview(QStringView text, int cellWidth, const QFontMetrics& metrics)
{
    const int room = cellWidth - metrics.horizontalAdvance(kEllipsis);
    const QString line =
        text.first(std::min(firstLineLength(text), relevantChars(room))).toString();
    return line.left(fittingLength(line, line.size(), room, metrics)) + kEllipsis;
}

int thumbnailWidth(int pictureWidth, int pictureHeight, int cellHeight)
{
    // Halves go to the even neighbour (the default rounding mode).
    return int(std::nearbyint(double(pictureWidth) / (pictureHeight + 0.001) * cellHeight));
}

// ---- grid ----------------------------------------------------------------------

TDBBGrid::TDBBGrid(QWidget* parent) : QTableView(parent), m_model(new TDBBGridModel(this))
{
    m_lineBuffer.reserve(256);
    setVerticalHeader(new IndicatorHeader(this));
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setShowGrid(true);
    setWordWrap(false);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setHorizontalScrollMode(ScrollPerPixel);

    // Fixed row heights and interactive column widths: nothing ever measures
    // the rows, so a million rows cost no more to show than a hundred.
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(18);
    rows->setFixedWidth(12);
    rows->setHighlightSections(false);
    QHeaderView* titles = horizontalHeader();
    titles->setFont(QFont(QStringLiteral("Tahoma"), 8));
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultSectionSize(64);
    titles->setHighlightSections(false);
    titles->setSectionsClickable(false);

    connect(this, &QTableView::clicked, this, &TDBBGrid::cellClicked);
}

TDBBGrid::~TDBBGrid() = default;

void TDBBGrid::setAutoDisp_Image(bool on)
{
    m_autoDispImage = on;
    viewport()->update();
}

void TDBBGrid::setAutoDisp_Memo(bool on)
{
    m_autoDispMemo = on;
    viewport()->update();
}

void TDBBGrid::setDataSource(TDataSource* source)
{
    if (TDataSource* old = m_model->dataSource())
        disconnect(old, nullptr, this, nullptr);
    m_model->setDataSource(source);
    if (source)
        connect(source, &TDataSource::currentRowChanged, this, &TDBBGrid::followDataSet);
}

void TDBBGrid::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    if (selectionModel())
        connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
                &TDBBGrid::currentCellChanged);
}

void TDBBGrid::currentCellChanged(const QModelIndex& current)
{
    verticalHeader()->viewport()->update();
    TADODataSet* ds = m_model->dataSet();
    if (m_syncing || !current.isValid() || !ds || !ds->Active() ||
        current.row() >= ds->RecordCount())
        return;
    m_syncing = true;
    ds->setRecNo(current.row() + 1);
    m_syncing = false;
}

void TDBBGrid::followDataSet(qint64 row)
{
    if (m_syncing || row < 0 || row >= m_model->rowCount())
        return;
    m_syncing = true;
    const int column = std::max(currentIndex().column(), 0);
    setCurrentIndex(m_model->index(int(row), column));
    m_syncing = false;
}

void TDBBGrid::cellClicked(const QModelIndex& index)
{
    TADODataSet* ds = m_model->dataSet();
    if (!index.isValid() || !ds || !ds->Active())
        return;
    if (ds->RecNo() != index.row() + 1)
        ds->setRecNo(index.row() + 1);
    emit CellClick(index.column());
}

void TDBBGrid::DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                            const QStyleOptionViewItem& state)
{
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
                               const QStyleOptionViewItem& state)
{
    const data::ResultStore* store = m_model->store();
    // A picture that is missing or not a bitmap leaves the cell empty.
    const QByteArrayView bytes = store->column(column).kind == data::StorageKind::Bytes &&
                                         !store->isNull(row, column)
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

void TDBBGrid::loadFirstLine(int row, int column, qsizetype maxChars)
{
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
                            const QStyleOptionViewItem& state)
{
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
