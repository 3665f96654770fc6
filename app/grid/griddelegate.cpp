#include "app/grid/griddelegate.h"

#include "app/grid/DBBGrid.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace {

const QString kEllipsis = QStringLiteral("...");

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

} // namespace

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

GridDelegate::GridDelegate(TDBBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {
    m_lineBuffer.reserve(256);
}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem state = option;
    initStyleOption(&state, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &state, painter, widget);
    m_grid->DrawDataCell(*painter, option.rect, index.row(), index.column(), state);
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    m_grid->editorOpened(editor, index.column());
    return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    // Every field is edited as text, in the form the grid shows it.
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(index.data(Qt::EditRole).toString());
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
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

void GridDelegate::drawDataCell(QPainter& painter, const QRect& rect,
                                const data::ResultStore& store, int row, int column,
                                const QStyleOptionViewItem& state, bool images, bool memos) {
    if (column >= store.columnCount() || row >= store.rowCount())
        return;
    // Drawing runs inside the paint cycle: nothing may escape from here.
    try {
        const TFieldType type = store.column(column).type;
        if (type == ftGraphic && images)
            drawGraphicCell(painter, rect, store, row, column, state);
        if (type == ftMemo && memos)
            drawMemoCell(painter, rect, store, row, column, state);
    } catch (...) {
        painter.fillRect(rect, cellBrush(state));
    }
}

void GridDelegate::drawGraphicCell(QPainter& painter, const QRect& rect,
                                   const data::ResultStore& store, int row, int column,
                                   const QStyleOptionViewItem& state) {
    // A picture that is missing or not a bitmap leaves the cell empty.
    const QByteArrayView bytes =
        store.column(column).kind == data::StorageKind::Bytes && !store.isNull(row, column)
            ? store.bytes(row, column)
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

void GridDelegate::loadFirstLine(const data::ResultStore& store, int row, int column,
                                 qsizetype maxChars) {
    m_lineBuffer.resize(0);
    if (store.isNull(row, column))
        return;
    switch (store.column(column).kind) {
    case data::StorageKind::Utf16: {
        const QStringView text = store.utf16(row, column);
        m_lineBuffer.append(text.first(std::min(firstLineLength(text), maxChars)));
        break;
    }
    case data::StorageKind::Utf8: {
        // At most four bytes per character: decode no more than can be shown.
        const QByteArrayView bytes = store.bytes(row, column);
        const QByteArrayView head = bytes.first(std::min(bytes.size(), maxChars * 4));
        m_utf8.resetState();
        m_lineBuffer.resize(head.size());
        QChar* end = m_utf8.appendToBuffer(m_lineBuffer.data(), head);
        m_lineBuffer.resize(end - m_lineBuffer.constData());
        m_lineBuffer.truncate(std::min(firstLineLength(m_lineBuffer), maxChars));
        break;
    }
    default:
        m_lineBuffer.append(store.text(row, column));
        m_lineBuffer.truncate(std::min(firstLineLength(m_lineBuffer), maxChars));
        break;
    }
}

void GridDelegate::drawMemoCell(QPainter& painter, const QRect& rect,
                                const data::ResultStore& store, int row, int column,
                                const QStyleOptionViewItem& state) {
    const QFontMetrics metrics(state.font);
    const int room = rect.width() - metrics.horizontalAdvance(kEllipsis);
    loadFirstLine(store, row, column, relevantChars(room));
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
