#include "controls/textpane.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDropEvent>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 4;         // space around the text, as a document's margin
constexpr qreal kTabStop = 80;     // distance of tab stops
constexpr qreal kPadding = 64;     // shaped beyond the visible edges of a windowed line
constexpr int kAroundCursor = 256; // characters shaped either side of a position

// A document layout that lays out nothing. A document needs one to report
// its changes (contentsChange is sent only while it has a layout); the
// control breaks and shapes its lines itself.
class NoLayout : public QAbstractTextDocumentLayout {
public:
    using QAbstractTextDocumentLayout::QAbstractTextDocumentLayout;
    void draw(QPainter*, const PaintContext&) override {}
    int hitTest(const QPointF&, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return {}; }
    QRectF frameBoundingRect(QTextFrame*) const override { return {}; }
    QRectF blockBoundingRect(const QTextBlock&) const override { return {}; }

protected:
    void documentChanged(int, int, int) override {}
};

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

// Kinds of characters for word moves: blanks, letters and digits, the rest.
int charClass(QChar c) {
    if (c.isSpace())
        return 0;
    return c.isLetterOrNumber() || c == u'_' ? 1 : 2;
}

} // namespace

TextPane::TextPane(QWidget* parent)
    : QAbstractScrollArea(parent), m_document(new QTextDocument(this)), m_metrics(font()),
      m_advances(0x10000, -1.0f) {
    m_document->setDocumentLayout(new NoLayout(m_document));
    m_document->setUndoRedoEnabled(true);
    m_cursor = QTextCursor(m_document);
    m_font = font();
    m_font.setKerning(false);
    m_metrics = QFontMetricsF(m_font);
    connect(m_document, &QTextDocument::contentsChange, this, &TextPane::onContentsChange);
    connect(m_document, &QTextDocument::contentsChanged, this, [this] {
        emit textChanged();
        cursorChanged();
    });
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(20);
}

TextPane::~TextPane() = default;

// ---- text and cursor -------------------------------------------------------

void TextPane::setPlainText(const QString& text) {
    m_dirty = true; // broken once, after the document has the whole text
    m_document->setPlainText(text);
    m_document->setModified(false);
    m_cursor = QTextCursor(m_document);
    m_goalX = -1;
    m_textCacheBlock = -1;
    if (isVisible())
        rewrapAll();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    cursorChanged();
    viewport()->update();
}

QString TextPane::toPlainText() const {
    return m_document->toPlainText();
}

void TextPane::clear() {
    setPlainText(QString());
}

void TextPane::insertPlainText(const QString& text) {
    m_cursor.insertText(text);
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
}

void TextPane::setTextCursor(const QTextCursor& cursor) {
    if (cursor.document() != m_document)
        return;
    m_cursor = cursor;
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    viewport()->update();
}

void TextPane::moveCursor(QTextCursor::MoveOperation op, QTextCursor::MoveMode mode) {
    // Moves that depend on the document's own layout are done here, so that
    // the document is never laid out.
    const bool select = mode == QTextCursor::KeepAnchor;
    const int pos = m_cursor.position();
    switch (op) {
    case QTextCursor::Left:
    case QTextCursor::PreviousCharacter: {
        const int at = std::max(0, pos - 1);
        moveTo(at > 0 && m_document->characterAt(at).isLowSurrogate() &&
                       m_document->characterAt(at - 1).isHighSurrogate()
                   ? at - 1
                   : at,
               select);
        return;
    }
    case QTextCursor::Right:
    case QTextCursor::NextCharacter: {
        const int end = m_document->characterCount() - 1;
        const int at = std::min(end, pos + 1);
        moveTo(at < end && m_document->characterAt(pos).isHighSurrogate() &&
                       m_document->characterAt(at).isLowSurrogate()
                   ? at + 1
                   : at,
               select);
        return;
    }
    case QTextCursor::Up:
        moveVertically(-1, select);
        return;
    case QTextCursor::Down:
        moveVertically(1, select);
        return;
    case QTextCursor::StartOfLine:
    case QTextCursor::EndOfLine: {
        ensureWrapped();
        const Line line = lineAt(visualLineOf(pos));
        const int base = blockAt(line.block).position();
        if (op == QTextCursor::StartOfLine)
            moveTo(base + line.from, select);
        else
            moveTo(base + (line.last || line.to == line.from ? line.to : line.to - 1), select);
        return;
    }
    case QTextCursor::WordLeft:
    case QTextCursor::PreviousWord:
    case QTextCursor::StartOfWord:
        moveTo(wordBoundary(pos, false), select);
        return;
    case QTextCursor::WordRight:
    case QTextCursor::NextWord:
    case QTextCursor::EndOfWord:
        moveTo(wordBoundary(pos, true), select);
        return;
    default:
        // Start, End and block moves need no layout.
        m_cursor.movePosition(op, mode);
        m_goalX = -1;
        ensureCursorVisible();
        cursorChanged();
        viewport()->update();
        return;
    }
}

void TextPane::selectAll() {
    m_cursor.setPosition(0);
    m_cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursorChanged();
    viewport()->update();
}

void TextPane::setLineWrapMode(LineWrapMode mode) {
    if (m_wrapMode == mode)
        return;
    m_wrapMode = mode;
    m_dirty = true;
    if (isVisible())
        rewrapAll();
}

void TextPane::setReadOnly(bool on) {
    m_readOnly = on;
    setAttribute(Qt::WA_InputMethodEnabled, !on);
    viewport()->update();
}

void TextPane::setCursorWidth(int width) {
    m_cursorWidth = width;
    viewport()->update();
}

QList<QTextLayout::FormatRange> TextPane::formats(const QTextBlock&, int, int) const {
    return {};
}

// ---- line breaking ---------------------------------------------------------

qreal TextPane::wrapWidth() const {
    // At least a few letters, so that a tiny control does not break a long
    // text into a line per letter.
    return std::max<qreal>(viewport()->width() - 2 * kMargin - m_cursorWidth,
                           4 * m_metrics.averageCharWidth());
}

qreal TextPane::advance(QStringView text, qsizetype i, int* length, qreal x) const {
    const QChar c = text[i];
    *length = 1;
    if (c == u'\t')
        return (std::floor(x / kTabStop) + 1) * kTabStop - x;
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        *length = 2;
        return m_metrics.horizontalAdvance(text.mid(i, 2).toString());
    }
    float& a = m_advances[c.unicode()];
    if (a < 0)
        a = float(m_metrics.horizontalAdvance(c));
    return a;
}

qreal TextPane::measure(QStringView text, int from, int to) const {
    qreal x = 0;
    int length = 1;
    for (int i = from; i < to; i += length)
        x += advance(text, i, &length, x);
    return x;
}

TextPane::Wrap TextPane::wrapText(QStringView text, const Wrap* old, int offset, int removed,
                                  int added) const {
    Wrap w;
    w.length = int(text.size());
    const bool wrap = m_wrapMode == WidgetWidth;
    const qreal width = m_wrappedWidth;
    std::vector<int>& starts = w.starts;
    int lineStart = 0;
    if (old && wrap && !old->starts.empty()) {
        // The screen lines before the one ahead of the change stay as they
        // were: a change can pull a word back onto the line before it.
        const auto at = std::upper_bound(old->starts.begin(), old->starts.end(), offset);
        const auto keep = std::max(old->starts.begin() + 1, at - 1);
        starts.assign(old->starts.begin(), keep);
        lineStart = starts.back();
    } else {
        starts.push_back(0);
        old = nullptr;
    }
    const int delta = added - removed;
    const int n = w.length;
    qreal x = 0;
    int lastBreak = -1; // where the line may break: after the last blank
    int length = 1;
    for (int i = lineStart; i < n;) {
        const QChar c = text[i];
        const qreal a = advance(text, i, &length, x);
        if (wrap && x + a > width && i > lineStart && !isBlank(c)) {
            // Blanks may run past the edge; a word that does not fit starts
            // the next line, a word longer than a line is cut.
            const int at = lastBreak > lineStart ? lastBreak : i;
            starts.push_back(at);
            lineStart = at;
            lastBreak = -1;
            if (old && at > offset + added) {
                // Past the change, once a line starts where one started
                // before, the rest breaks as before.
                const int was = at - delta;
                auto it = std::lower_bound(old->starts.begin(), old->starts.end(), was);
                if (it != old->starts.end() && *it == was) {
                    for (++it; it != old->starts.end(); ++it)
                        starts.push_back(*it + delta);
                    return w;
                }
            }
            x = measure(text, at, i);
            continue;
        }
        x += a;
        i += length;
        if (isBlank(c))
            lastBreak = i;
    }
    if (!wrap)
        w.width = x;
    if (starts.size() == 1)
        starts.clear();
    return w;
}

QTextBlock TextPane::blockAt(int number) const {
    return m_document->findBlockByNumber(number);
}

QString TextPane::blockText(const QTextBlock& block) const {
    // A long line is copied out of the document once per change, not once
    // per use.
    if (block.length() <= kWindowed)
        return block.text();
    if (m_textCacheBlock != block.blockNumber()) {
        m_textCache = block.text();
        m_textCacheBlock = block.blockNumber();
    }
    return m_textCache;
}

void TextPane::ensureWrapped() const {
    if (m_dirty)
        const_cast<TextPane*>(this)->rewrapAll();
}

void TextPane::rewrapAll() {
    m_dirty = false;
    m_wrappedWidth = wrapWidth();
    m_textCacheBlock = -1;
    m_wraps.clear();
    m_wraps.reserve(std::size_t(m_document->blockCount()));
    for (QTextBlock b = m_document->begin(); b.isValid(); b = b.next())
        m_wraps.push_back(wrapText(blockText(b)));
    updateTotals();
    updateScrollBars();
    viewport()->update();
}

void TextPane::onContentsChange(int position, int removed, int added) {
    m_textCacheBlock = -1;
    if (m_dirty)
        return;
    const int oldCount = int(m_wraps.size());
    const int newCount = m_document->blockCount();
    const QTextBlock first = m_document->findBlock(position);
    QTextBlock last = m_document->findBlock(position + added);
    if (!last.isValid())
        last = m_document->lastBlock();
    const int a = first.isValid() ? first.blockNumber() : -1;
    const int newLast = last.blockNumber();
    const int oldLast = newLast - (newCount - oldCount);
    if (a < 0 || oldLast < a || oldLast >= oldCount || newLast < a) {
        rewrapAll();
        return;
    }
    if (a == newLast && oldLast == a) {
        // Within one line: from the screen line before the change, and only
        // until the old breaks hold again.
        const int offset = position - first.position();
        Wrap& w = m_wraps[std::size_t(a)];
        const QString text = blockText(first);
        const bool consistent = w.length - removed + added == text.size() && offset >= 0 &&
                                offset + added <= text.size();
        w = consistent ? wrapText(text, &w, offset, removed, added) : wrapText(text);
    } else {
        std::vector<Wrap> fresh;
        for (QTextBlock b = first; b.isValid() && b.blockNumber() <= newLast; b = b.next())
            fresh.push_back(wrapText(blockText(b)));
        m_wraps.erase(m_wraps.begin() + a, m_wraps.begin() + oldLast + 1);
        m_wraps.insert(m_wraps.begin() + a, std::make_move_iterator(fresh.begin()),
                       std::make_move_iterator(fresh.end()));
    }
    updateTotals();
    updateScrollBars();
    viewport()->update();
}

void TextPane::updateTotals() {
    m_firstLine.resize(m_wraps.size() + 1);
    int total = 0;
    qreal widest = 0;
    for (std::size_t i = 0; i < m_wraps.size(); ++i) {
        m_firstLine[i] = total;
        total += m_wraps[i].lines();
        widest = std::max(widest, m_wraps[i].width);
    }
    m_firstLine[m_wraps.size()] = total;
    m_widest = widest;
}

void TextPane::updateScrollBars() {
    if (m_dirty)
        return; // set when the lines are broken
    const int shown = visibleLines();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, visualLineCount() - shown));
    v->setPageStep(shown);
    QScrollBar* h = horizontalScrollBar();
    const int width = viewport()->width();
    const int content =
        m_wrapMode == NoWrap ? int(std::ceil(m_widest)) + 2 * kMargin + m_cursorWidth : 0;
    h->setRange(0, std::max(0, content - width));
    h->setPageStep(width);
}

int TextPane::visualLineCount() const {
    ensureWrapped();
    return m_firstLine.empty() ? 1 : m_firstLine.back();
}

int TextPane::lineHeight() const {
    return std::max(1, int(std::ceil(m_metrics.height())));
}

int TextPane::visibleLines() const {
    return std::max(1, (viewport()->height() - kMargin) / lineHeight());
}

TextPane::Line TextPane::lineAt(int visual) const {
    ensureWrapped();
    Line line;
    if (m_wraps.empty())
        return line;
    visual = std::clamp(visual, 0, m_firstLine.back() - 1);
    const auto it = std::upper_bound(m_firstLine.begin(), m_firstLine.end() - 1, visual);
    line.block = int(it - m_firstLine.begin()) - 1;
    const Wrap& w = m_wraps[std::size_t(line.block)];
    line.index = visual - m_firstLine[std::size_t(line.block)];
    line.from = w.start(line.index);
    line.last = line.index + 1 >= w.lines();
    line.to = line.last ? w.length : w.start(line.index + 1);
    return line;
}

int TextPane::visualLineOf(int position) const {
    ensureWrapped();
    const QTextBlock block = m_document->findBlock(position);
    if (!block.isValid() || std::size_t(block.blockNumber()) >= m_wraps.size())
        return 0;
    const Wrap& w = m_wraps[std::size_t(block.blockNumber())];
    const int offset = position - block.position();
    const int index =
        w.starts.empty()
            ? 0
            : int(std::upper_bound(w.starts.begin(), w.starts.end(), offset) - w.starts.begin()) -
                  1;
    return m_firstLine[std::size_t(block.blockNumber())] + std::max(0, index);
}

// ---- shaping ---------------------------------------------------------------

TextPane::Segment TextPane::segmentAt(const Line& line, qreal fromX, qreal toX) const {
    if (line.to - line.from <= kWindowed)
        return {line.from, line.to, 0};
    const QString text = blockText(blockAt(line.block));
    qreal x = 0;
    int length = 1;
    int i = line.from;
    for (qreal a; i < line.to && x + (a = advance(text, i, &length, x)) < fromX - kPadding;
         i += length)
        x += a;
    Segment s{i, i, x};
    for (; i < line.to && x <= toX + kPadding; i += length)
        x += advance(text, i, &length, x);
    s.to = i;
    return s;
}

TextPane::Segment TextPane::segmentAround(const Line& line, int position) const {
    if (line.to - line.from <= kWindowed)
        return {line.from, line.to, 0};
    const QString text = blockText(blockAt(line.block));
    int from = std::max(line.from, position - kAroundCursor);
    if (from > line.from && text[from].isLowSurrogate())
        --from;
    int to = std::min(line.to, position + kAroundCursor);
    if (to < line.to && text[to].isLowSurrogate())
        ++to;
    return {from, to, measure(text, line.from, from)};
}

void TextPane::shape(QTextLayout& layout, const Line& line, const Segment& segment,
                     bool withFormats) const {
    const QTextBlock block = blockAt(line.block);
    const QString text = blockText(block);
    const QString part = text.mid(segment.from, segment.to - segment.from);
    layout.setText(part);
    layout.setFont(m_font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(kTabStop);
    const qreal phase = std::fmod(segment.left, kTabStop);
    if (phase > 0 && part.contains(u'\t')) {
        // A segment starting inside a line keeps the line's tab stops.
        QList<QTextOption::Tab> tabs;
        const qreal width = measure(text, segment.from, segment.to) + kTabStop;
        for (qreal at = kTabStop - phase; at <= width; at += kTabStop)
            tabs.append(QTextOption::Tab(at, QTextOption::LeftTab));
        option.setTabs(tabs);
    }
    layout.setTextOption(option);
    if (withFormats) {
        QList<QTextLayout::FormatRange> ranges = formats(block, segment.from, segment.to);
        for (QTextLayout::FormatRange& r : ranges)
            r.start -= segment.from;
        // Text being composed shows underlined at the caret; what follows
        // it moves on by its length.
        const int at = m_cursor.position() - block.position();
        if (!m_preedit.isEmpty() && at >= segment.from && at <= segment.to) {
            layout.setPreeditArea(at - segment.from, m_preedit);
            for (QTextLayout::FormatRange& r : ranges) {
                if (r.start >= at - segment.from)
                    r.start += int(m_preedit.size());
            }
            QTextCharFormat composing;
            composing.setFontUnderline(true);
            ranges.append({at - segment.from, int(m_preedit.size()), composing});
        }
        layout.setFormats(ranges);
    }
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine l = layout.createLine();
    if (l.isValid()) {
        l.setLineWidth(1e7);
        l.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

qreal TextPane::xOf(const Line& line, int position) const {
    const Segment s = segmentAround(line, position);
    QTextLayout layout;
    shape(layout, line, s, false);
    return s.left + layout.lineAt(0).cursorToX(position - s.from);
}

int TextPane::positionAt(const Line& line, qreal x) const {
    const Segment s = segmentAt(line, x, x);
    QTextLayout layout;
    shape(layout, line, s, false);
    int at = s.from + layout.lineAt(0).xToCursor(x - s.left);
    // The end of a wrapped screen line is the start of the next one: stay
    // on this line, before its last character.
    if (!line.last && at >= line.to && line.to > line.from)
        at = line.to - 1;
    return blockAt(line.block).position() + std::clamp(at, line.from, line.to);
}

int TextPane::positionAt(const QPoint& point) const {
    const int h = lineHeight();
    // Above the text (a selection dragged out of the top) is the line above.
    const int row = point.y() < 0 ? -1 : std::max(0, point.y() - kMargin) / h;
    const Line line = lineAt(verticalScrollBar()->value() + row);
    const qreal x =
        point.x() - kMargin + (m_wrapMode == NoWrap ? horizontalScrollBar()->value() : 0);
    return positionAt(line, std::max<qreal>(0, x));
}

QTextCursor TextPane::cursorForPosition(const QPoint& point) const {
    QTextCursor c(m_document);
    c.setPosition(positionAt(point));
    return c;
}

QRect TextPane::cursorRect(const QTextCursor& cursor) const {
    const int visual = visualLineOf(cursor.position());
    const Line line = lineAt(visual);
    const int base = blockAt(line.block).position();
    const qreal x = xOf(line, cursor.position() - base);
    const int h = lineHeight();
    const int hx = m_wrapMode == NoWrap ? horizontalScrollBar()->value() : 0;
    return QRect(int(std::floor(kMargin - hx + x)),
                 kMargin + (visual - verticalScrollBar()->value()) * h, std::max(1, m_cursorWidth),
                 h);
}

void TextPane::ensureCursorVisible() {
    ensureWrapped();
    const int visual = visualLineOf(m_cursor.position());
    QScrollBar* v = verticalScrollBar();
    if (visual < v->value())
        v->setValue(visual);
    else if (visual >= v->value() + visibleLines())
        v->setValue(visual - visibleLines() + 1);
    if (m_wrapMode == NoWrap) {
        const Line line = lineAt(visual);
        const qreal x = xOf(line, m_cursor.position() - blockAt(line.block).position());
        QScrollBar* h = horizontalScrollBar();
        const int room = viewport()->width() - 2 * kMargin - m_cursorWidth;
        if (x < h->value())
            h->setValue(int(std::floor(x)));
        else if (x > h->value() + room)
            h->setValue(int(std::ceil(x)) - room);
    }
}

void TextPane::centerCursor() {
    ensureWrapped();
    verticalScrollBar()->setValue(visualLineOf(m_cursor.position()) - visibleLines() / 2);
    if (m_wrapMode == NoWrap)
        ensureCursorVisible();
}

// ---- drawing ---------------------------------------------------------------

void TextPane::paintEvent(QPaintEvent* event) {
    ensureWrapped();
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Text));
    const int h = lineHeight();
    const int total = visualLineCount();
    const qreal hx = m_wrapMode == NoWrap ? horizontalScrollBar()->value() : 0;
    const int selStart = m_cursor.selectionStart();
    const int selEnd = m_cursor.selectionEnd();
    QTextCharFormat selected;
    selected.setBackground(pal.brush(QPalette::Highlight));
    selected.setForeground(pal.brush(QPalette::HighlightedText));
    const bool caret = m_caretShown && hasFocus() && !m_readOnly;

    int y = kMargin;
    for (int v = verticalScrollBar()->value(); v < total && y <= area.bottom(); ++v, y += h) {
        if (y + h <= area.top())
            continue;
        const Line line = lineAt(v);
        const int base = blockAt(line.block).position();
        const Segment s = segmentAt(line, hx - kMargin, hx + viewport()->width());
        QTextLayout layout;
        shape(layout, line, s, true);
        const QPointF origin(kMargin - hx + s.left, y);
        QList<QTextLayout::FormatRange> marks;
        const int a = std::max(selStart - base, s.from);
        const int b = std::min(selEnd - base, s.to);
        if (a < b)
            marks.append({a - s.from, b - a, selected});
        // A selection that goes on past the line's end marks a little more,
        // so that a selected line break shows.
        if (selStart < selEnd && selStart - base <= line.to && selEnd - base > line.to &&
            s.to == line.to) {
            const QTextLine l = layout.lineAt(0);
            painter.fillRect(
                QRectF(origin.x() + l.naturalTextWidth(), y, m_metrics.horizontalAdvance(u' '), h),
                pal.brush(QPalette::Highlight));
        }
        layout.draw(&painter, origin, marks);
        const int pos = m_cursor.position() - base;
        if (caret && pos >= s.from && pos <= s.to && (pos < line.to || line.last))
            layout.drawCursor(&painter, origin, pos - s.from + m_preeditCursor, m_cursorWidth);
        const int drop = m_dropPosition - base;
        if (m_dropPosition >= 0 && drop >= s.from && drop <= s.to && (drop < line.to || line.last))
            layout.drawCursor(&painter, origin, drop - s.from, m_cursorWidth);
    }
}

void TextPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (m_wrapMode == WidgetWidth && wrapWidth() != m_wrappedWidth)
        m_dirty = true;
    if (isVisible())
        ensureWrapped();
    updateScrollBars();
}

void TextPane::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    ensureWrapped();
    updateScrollBars();
}

void TextPane::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_font = font();
        m_font.setKerning(false);
        m_metrics = QFontMetricsF(m_font);
        std::fill(m_advances.begin(), m_advances.end(), -1.0f);
        m_dirty = true;
        if (isVisible())
            rewrapAll();
    }
}

void TextPane::scrollContentsBy(int, int) {
    viewport()->update();
}

// ---- caret -----------------------------------------------------------------

void TextPane::restartBlink() {
    m_caretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    viewport()->update();
}

void TextPane::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(cursorRect().adjusted(-1, 0, 1, 0));
}

void TextPane::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
}

void TextPane::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_caretShown = false;
    viewport()->update();
}

void TextPane::cursorChanged() {
    const int pos = m_cursor.position();
    const int anchor = m_cursor.anchor();
    if (pos == m_lastPosition && anchor == m_lastAnchor)
        return;
    const bool hadSelection = m_lastPosition != m_lastAnchor;
    m_lastPosition = pos;
    m_lastAnchor = anchor;
    viewport()->update();
    emit cursorPositionChanged();
    if (hadSelection || pos != anchor) {
        emit selectionChanged();
        publishSelection();
    }
}

void TextPane::publishSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_publishPending || !clipboard->supportsSelection())
        return;
    m_publishPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_publishPending = false;
            // Not while the mouse still drags the selection out: at its release.
            if (m_dragging || !m_cursor.hasSelection())
                return;
            QGuiApplication::clipboard()->setText(selectedPlainText(), QClipboard::Selection);
        },
        Qt::QueuedConnection);
}

// ---- editing ---------------------------------------------------------------

void TextPane::moveTo(int position, bool select, bool keepGoalX) {
    m_cursor.setPosition(position, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    if (!keepGoalX)
        m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    restartBlink();
}

void TextPane::moveVertically(int lines, bool select) {
    const int pos = m_cursor.position();
    const int visual = visualLineOf(pos);
    const Line line = lineAt(visual);
    const qreal x = m_goalX >= 0 ? m_goalX : xOf(line, pos - blockAt(line.block).position());
    const int target = std::clamp(visual + lines, 0, visualLineCount() - 1);
    if (target == visual) {
        if (std::abs(lines) > 1) // a page move ends at the text's start or end
            moveTo(lines < 0 ? 0 : m_document->characterCount() - 1, select);
        return;
    }
    moveTo(positionAt(lineAt(target), x), select, true);
    m_goalX = x;
}

int TextPane::wordBoundary(int position, bool forward) const {
    const QTextBlock block = m_document->findBlock(position);
    const QString text = blockText(block);
    int i = position - block.position();
    if (forward) {
        if (i >= text.size())
            return block.next().isValid() ? position + 1 : position;
        const int kind = charClass(text[i]);
        if (kind != 0)
            while (i < text.size() && charClass(text[i]) == kind)
                ++i;
        while (i < text.size() && charClass(text[i]) == 0)
            ++i;
    } else {
        if (i == 0)
            return std::max(0, position - 1);
        while (i > 0 && charClass(text[i - 1]) == 0)
            --i;
        if (i > 0) {
            const int kind = charClass(text[i - 1]);
            while (i > 0 && charClass(text[i - 1]) == kind)
                --i;
        }
    }
    return block.position() + i;
}

void TextPane::insertText(const QString& text) {
    if (m_readOnly)
        return;
    m_cursor.insertText(text);
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    restartBlink();
}

void TextPane::deleteSelectionOr(QTextCursor::MoveOperation op, bool word) {
    if (m_readOnly)
        return;
    if (!m_cursor.hasSelection()) {
        // Characters and words are found here rather than by the cursor,
        // which would lay out the whole line to find them.
        const int pos = m_cursor.position();
        const bool back = op == QTextCursor::PreviousCharacter;
        int to;
        if (word) {
            to = wordBoundary(pos, !back);
        } else if (back) {
            to = std::max(0, pos - 1);
            if (to > 0 && m_document->characterAt(to).isLowSurrogate() &&
                m_document->characterAt(to - 1).isHighSurrogate())
                --to;
        } else {
            to = std::min(m_document->characterCount() - 1, pos + 1);
            if (m_document->characterAt(pos).isHighSurrogate() &&
                m_document->characterAt(to).isLowSurrogate())
                ++to;
        }
        if (to == pos)
            return;
        m_cursor.setPosition(to, QTextCursor::KeepAnchor);
    }
    m_cursor.removeSelectedText();
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    restartBlink();
}

QString TextPane::selectedPlainText() const {
    QString text = m_cursor.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    text.replace(QChar::LineSeparator, u'\n');
    return text;
}

void TextPane::copy() {
    if (m_cursor.hasSelection())
        QGuiApplication::clipboard()->setText(selectedPlainText());
}

void TextPane::cut() {
    if (m_readOnly || !m_cursor.hasSelection())
        return;
    copy();
    deleteSelectionOr(QTextCursor::NextCharacter, false);
}

void TextPane::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        insertText(text);
}

void TextPane::undo() {
    if (m_readOnly)
        return;
    m_document->undo(&m_cursor);
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
}

void TextPane::redo() {
    if (m_readOnly)
        return;
    m_document->redo(&m_cursor);
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
}

QMenu* TextPane::createStandardContextMenu() {
    // The texts are those of Qt's own text controls, so a loaded Qt
    // translation applies to them as well.
    auto tr = [](const char* text) {
        return QCoreApplication::translate("QWidgetTextControl", text);
    };
    auto* menu = new QMenu(this);
    const bool selection = m_cursor.hasSelection();
    const bool editable = !m_readOnly;
    auto add = [&](const char* text, bool enabled, auto slot, QKeySequence::StandardKey key) {
        QAction* a = menu->addAction(tr(text), this, slot);
        a->setEnabled(enabled);
        a->setShortcut(key);
        return a;
    };
    add(
        "&Undo", editable && m_document->isUndoAvailable(), [this] { undo(); }, QKeySequence::Undo)
        ->setObjectName(QStringLiteral("edit-undo"));
    add(
        "&Redo", editable && m_document->isRedoAvailable(), [this] { redo(); }, QKeySequence::Redo)
        ->setObjectName(QStringLiteral("edit-redo"));
    menu->addSeparator();
    add(
        "Cu&t", editable && selection, [this] { cut(); }, QKeySequence::Cut)
        ->setObjectName(QStringLiteral("edit-cut"));
    add(
        "&Copy", selection, [this] { copy(); }, QKeySequence::Copy)
        ->setObjectName(QStringLiteral("edit-copy"));
    add(
        "&Paste", editable && !QGuiApplication::clipboard()->text().isEmpty(), [this] { paste(); },
        QKeySequence::Paste)
        ->setObjectName(QStringLiteral("edit-paste"));
    add(
        "Delete", editable && selection,
        [this] { deleteSelectionOr(QTextCursor::NextCharacter, false); }, QKeySequence::UnknownKey)
        ->setObjectName(QStringLiteral("edit-delete"));
    menu->addSeparator();
    add(
        "Select All", !m_document->isEmpty(), [this] { selectAll(); }, QKeySequence::SelectAll)
        ->setObjectName(QStringLiteral("select-all"));
    return menu;
}

void TextPane::contextMenuEvent(QContextMenuEvent* event) {
    // Shown without a modal loop of its own; it removes itself when closed.
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---- keys, input method and mouse -------------------------------------------

bool TextPane::handleKey(QKeyEvent* e) {
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (e == QKeySequence::SelectAll) {
        selectAll();
        return true;
    }
    if (e == QKeySequence::Copy) {
        copy();
        return true;
    }
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (e == QKeySequence::Undo || (ctrl && !shift && e->key() == Qt::Key_Z)) {
        undo();
        return true;
    }
    if (e == QKeySequence::Redo || (ctrl && e->key() == Qt::Key_Y) ||
        (ctrl && shift && e->key() == Qt::Key_Z)) {
        redo();
        return true;
    }
    if (e == QKeySequence::Cut) {
        cut();
        return true;
    }
    if (e == QKeySequence::Paste) {
        if (!m_readOnly)
            paste();
        return true;
    }

    using Op = QTextCursor::MoveOperation;
    struct Move {
        QKeySequence::StandardKey move, select;
        Op op;
    };
    static const Move moves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, QTextCursor::Right},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, QTextCursor::Left},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, QTextCursor::NextWord},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord,
         QTextCursor::PreviousWord},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, QTextCursor::Down},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, QTextCursor::Up},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine,
         QTextCursor::StartOfLine},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, QTextCursor::EndOfLine},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
         QTextCursor::Start},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, QTextCursor::End},
    };
    for (const Move& m : moves) {
        const bool select = e->matches(m.select);
        if (!select && !e->matches(m.move))
            continue;
        // Left or right without Shift ends a selection at its edge.
        if (!select && m_cursor.hasSelection() &&
            (m.op == QTextCursor::Left || m.op == QTextCursor::Right)) {
            moveTo(m.op == QTextCursor::Left ? m_cursor.selectionStart() : m_cursor.selectionEnd(),
                   false);
            return true;
        }
        moveCursor(m.op, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
        restartBlink();
        return true;
    }
    const bool pageDown =
        e->matches(QKeySequence::MoveToNextPage) || e->matches(QKeySequence::SelectNextPage);
    const bool pageUp = e->matches(QKeySequence::MoveToPreviousPage) ||
                        e->matches(QKeySequence::SelectPreviousPage);
    if (pageDown || pageUp) {
        const int page = visibleLines() * (pageDown ? 1 : -1);
        verticalScrollBar()->setValue(verticalScrollBar()->value() + page);
        moveVertically(page, e->matches(QKeySequence::SelectNextPage) ||
                                 e->matches(QKeySequence::SelectPreviousPage));
        return true;
    }

    if (e == QKeySequence::DeleteStartOfWord) {
        deleteSelectionOr(QTextCursor::PreviousCharacter, true);
        return true;
    }
    if (e == QKeySequence::DeleteEndOfWord) {
        deleteSelectionOr(QTextCursor::NextCharacter, true);
        return true;
    }
    if (e->key() == Qt::Key_Backspace && !(e->modifiers() & ~Qt::ShiftModifier)) {
        deleteSelectionOr(QTextCursor::PreviousCharacter, false);
        return true;
    }
    if (e == QKeySequence::Delete || (e->key() == Qt::Key_Delete && e->modifiers() == 0)) {
        deleteSelectionOr(QTextCursor::NextCharacter, false);
        return true;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        insertText(QStringLiteral("\n"));
        return true;
    }
    const QString text = e->text();
    if (!text.isEmpty() && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
        (text.at(0).isPrint() || text.at(0) == u'\t' || text.at(0).isSurrogate())) {
        if (m_readOnly)
            return false;
        insertText(text);
        return true;
    }
    return false;
}

void TextPane::keyPressEvent(QKeyEvent* event) {
    if (handleKey(event))
        event->accept();
    else
        event->ignore();
}

bool TextPane::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the control handles itself win over the window's shortcuts.
        auto* e = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
        bool own = false;
        if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) {
            own = e->key() < Qt::Key_Escape;
            switch (e->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Delete:
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_Backspace:
            case Qt::Key_Left:
            case Qt::Key_Right:
            case Qt::Key_Up:
            case Qt::Key_Down:
                own = true;
                break;
            default:
                break;
            }
        } else {
            for (QKeySequence::StandardKey key :
                 {QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut, QKeySequence::Undo,
                  QKeySequence::Redo, QKeySequence::SelectAll, QKeySequence::MoveToNextWord,
                  QKeySequence::MoveToPreviousWord, QKeySequence::SelectNextWord,
                  QKeySequence::SelectPreviousWord, QKeySequence::MoveToStartOfDocument,
                  QKeySequence::MoveToEndOfDocument, QKeySequence::SelectStartOfDocument,
                  QKeySequence::SelectEndOfDocument, QKeySequence::DeleteStartOfWord,
                  QKeySequence::DeleteEndOfWord})
                own = own || e->matches(key);
        }
        if (own) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool TextPane::focusNextPrevChild(bool next) {
    // Tab is typed into the text unless it is set to move the focus.
    if (!m_tabChangesFocus && !m_readOnly)
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TextPane::inputMethodEvent(QInputMethodEvent* event) {
    if (m_readOnly) {
        event->ignore();
        return;
    }
    if (event->replacementLength() > 0) {
        const int at = m_cursor.position() + event->replacementStart();
        m_cursor.setPosition(at);
        m_cursor.setPosition(at + event->replacementLength(), QTextCursor::KeepAnchor);
    }
    if (!event->commitString().isEmpty() || event->replacementLength() > 0)
        insertText(event->commitString());
    m_preedit = event->preeditString();
    m_preeditCursor = int(m_preedit.size());
    for (const QInputMethodEvent::Attribute& a : event->attributes()) {
        if (a.type == QInputMethodEvent::Cursor)
            m_preeditCursor = std::clamp(a.start, 0, int(m_preedit.size()));
    }
    viewport()->update();
    event->accept();
}

QVariant TextPane::inputMethodQuery(Qt::InputMethodQuery query) const {
    const QTextBlock block = m_cursor.block();
    // Around the cursor only: a line may be millions of characters long.
    const int offset = m_cursor.position() - block.position();
    const int from = std::max(0, offset - 500);
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return cursorRect();
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return offset - from;
    case Qt::ImAnchorPosition:
        return std::clamp(m_cursor.anchor() - block.position() - from, 0, 1000);
    case Qt::ImSurroundingText:
        return blockText(block).mid(from, 1000);
    case Qt::ImCurrentSelection:
        return m_cursor.selectedText();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TextPane::mousePressEvent(QMouseEvent* event) {
    if (!m_preedit.isEmpty())
        QGuiApplication::inputMethod()->commit(); // what is composed stays where it was typed
    const QPoint point = event->position().toPoint();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        // The primary selection goes where the middle button is pressed.
        const QString text = clipboard->text(QClipboard::Selection);
        if (!m_readOnly && !text.isEmpty()) {
            moveTo(positionAt(point), false);
            insertText(text);
        }
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const int position = positionAt(point);
    if (!(event->modifiers() & Qt::ShiftModifier) && m_cursor.hasSelection() &&
        position >= m_cursor.selectionStart() && position < m_cursor.selectionEnd()) {
        m_dragCandidate = true;
        m_pressPoint = point;
        return;
    }
    moveTo(position, event->modifiers() & Qt::ShiftModifier);
    m_dragging = true;
}

void TextPane::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (m_dragCandidate && (event->buttons() & Qt::LeftButton)) {
        if ((point - m_pressPoint).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragCandidate = false;
            startDrag();
        }
        return;
    }
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        moveTo(positionAt(point), true);
}

void TextPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (m_dragCandidate) {
        // Pressed and released inside the selection: a plain click.
        m_dragCandidate = false;
        moveTo(positionAt(m_pressPoint), false);
    }
    if (m_dragging) {
        m_dragging = false;
        publishSelection();
    }
}

void TextPane::startDrag() {
    auto* data = new QMimeData;
    data->setText(selectedPlainText());
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const Qt::DropActions actions = m_readOnly ? Qt::CopyAction : Qt::CopyAction | Qt::MoveAction;
    const Qt::DropAction done = drag->exec(actions, m_readOnly ? Qt::CopyAction : Qt::MoveAction);
    // A move into this pane was done by its drop; a move elsewhere takes the
    // text away here.
    QObject* target = drag->target();
    if (done == Qt::MoveAction && target != this && target != viewport())
        deleteSelectionOr(QTextCursor::NextCharacter, false);
}

bool TextPane::takesDrop(const QDropEvent* event) const {
    return !m_readOnly && event->mimeData()->hasText();
}

void TextPane::dragEnterEvent(QDragEnterEvent* event) {
    if (takesDrop(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TextPane::dragMoveEvent(QDragMoveEvent* event) {
    if (!takesDrop(event)) {
        event->ignore();
        return;
    }
    m_dropPosition = positionAt(event->position().toPoint());
    viewport()->update();
    event->acceptProposedAction();
}

void TextPane::dragLeaveEvent(QDragLeaveEvent*) {
    m_dropPosition = -1;
    viewport()->update();
}

void TextPane::dropEvent(QDropEvent* event) {
    m_dropPosition = -1;
    viewport()->update();
    if (!takesDrop(event)) {
        event->ignore();
        return;
    }
    int position = positionAt(event->position().toPoint());
    const bool moveHere = event->source() == this && event->dropAction() == Qt::MoveAction;
    QTextCursor edit(m_cursor);
    edit.beginEditBlock();
    if (moveHere) {
        const int from = m_cursor.selectionStart();
        const int to = m_cursor.selectionEnd();
        if (position >= from && position <= to) {
            edit.endEditBlock();
            event->acceptProposedAction(); // onto itself: nothing moves
            return;
        }
        edit.removeSelectedText();
        if (position > to)
            position -= to - from;
    }
    edit.setPosition(position);
    const QString text = event->mimeData()->text();
    edit.insertText(text);
    edit.endEditBlock();
    // The dropped text ends up selected, as it was where it came from.
    m_cursor.setPosition(position);
    m_cursor.setPosition(position + int(text.size()), QTextCursor::KeepAnchor);
    ensureCursorVisible();
    cursorChanged();
    event->acceptProposedAction();
}

void TextPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // Selects the word (or the run of blanks or signs) under the pointer.
    const int pos = positionAt(event->position().toPoint());
    const QTextBlock block = m_document->findBlock(pos);
    const QString text = blockText(block);
    int from = pos - block.position();
    if (text.isEmpty())
        return;
    if (from >= text.size())
        from = int(text.size()) - 1;
    const int kind = charClass(text[from]);
    int to = from;
    while (from > 0 && charClass(text[from - 1]) == kind)
        --from;
    while (to < text.size() && charClass(text[to]) == kind)
        ++to;
    m_cursor.setPosition(block.position() + from);
    m_cursor.setPosition(block.position() + to, QTextCursor::KeepAnchor);
    m_goalX = -1;
    m_dragging = false;
    ensureCursorVisible();
    cursorChanged();
}
