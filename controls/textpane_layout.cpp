#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

using namespace textpane;

// ---- line breaking ---------------------------------------------------------

qreal TextPane::wrapWidth() const {
    // At least a few letters, so that a tiny control does not break a long
    // text into a line per letter.
    return std::max<qreal>(viewport()->width() - 2 * kMargin - m_cursorWidth,
                           4 * m_widths.metrics().averageCharWidth());
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

LineWrap TextPane::breakBlock(const QTextBlock& block) const {
    return breakLine(m_widths, blockText(block), m_wrapMode == WidgetWidth ? m_wrappedWidth : 0);
}

void TextPane::rewrapAll() {
    m_wrappedWidth = wrapWidth();
    m_textCacheBlock = -1;
    if (m_dirty) {
        // Every line holds one screen line until it is broken.
        std::vector<LineWrap> lines;
        lines.reserve(std::size_t(m_document->blockCount()));
        for (QTextBlock b = m_document->begin(); b.isValid(); b = b.next())
            lines.push_back({{}, b.length() - 1, 0, true});
        m_index.assign(std::move(lines));
        m_dirty = false;
    } else {
        m_index.markAllStale();
    }
    m_rewrapNext = 0;
    rewrapVisible();
    updateScrollBars();
    viewport()->update();
    if (m_rewrapNext < m_index.lineCount())
        m_rewrapTimer.start(0, this);
}

void TextPane::rebreak() {
    if (isVisible() && !m_dirty)
        rewrapAll();
    else
        m_dirty = true; // broken when shown
}

void TextPane::rewrapVisible() {
    const int top = m_index.lineOfScreenLine(verticalScrollBar()->value());
    int room = visibleLines() + 1;
    QTextBlock b = blockAt(top);
    for (int line = top; line < m_index.lineCount() && room > 0 && b.isValid();
         ++line, b = b.next()) {
        if (m_index.at(line).stale)
            m_index.set(line, breakBlock(b));
        room -= m_index.at(line).lines();
    }
}

bool TextPane::rewrapSlice(qint64 budgetMs) {
    QElapsedTimer clock;
    clock.start();
    // The line at the top of the view stays there while the lines above it
    // change their number of screen lines.
    QScrollBar* v = verticalScrollBar();
    const int top = m_index.lineOfScreenLine(v->value());
    const int intoTop = v->value() - m_index.firstScreenLine(top);
    const int count = m_index.lineCount();
    while (m_rewrapNext < count && !m_index.at(m_rewrapNext).stale)
        ++m_rewrapNext;
    const int first = m_rewrapNext;
    std::vector<LineWrap> batch;
    for (QTextBlock b = blockAt(first); m_rewrapNext < count && b.isValid(); b = b.next()) {
        const LineWrap& w = m_index.at(m_rewrapNext++);
        batch.push_back(w.stale ? breakBlock(b) : w);
        if (budgetMs >= 0 && clock.elapsed() >= budgetMs)
            break;
    }
    if (!batch.empty()) {
        // The count is taken before the batch is moved into the call.
        const int broken = int(batch.size());
        m_index.replace(first, broken, std::move(batch));
        updateScrollBars();
        if (v->value() > 0)
            v->setValue(m_index.firstScreenLine(top) +
                        std::min(intoTop, m_index.at(top).lines() - 1));
        viewport()->update();
    }
    return m_rewrapNext >= count;
}

void TextPane::finishRewrap() const {
    ensureWrapped();
    if (!m_rewrapTimer.isActive())
        return;
    auto* self = const_cast<TextPane*>(this);
    self->rewrapSlice(-1);
    self->m_rewrapTimer.stop();
}

void TextPane::onContentsChange(int position, int removed, int added) {
    m_textCacheBlock = -1;
    if (m_dirty)
        return;
    const int oldCount = m_index.lineCount();
    const int newCount = m_document->blockCount();
    const QTextBlock first = m_document->findBlock(position);
    QTextBlock last = m_document->findBlock(position + added);
    if (!last.isValid())
        last = m_document->lastBlock();
    const int a = first.isValid() ? first.blockNumber() : -1;
    const int newLast = last.blockNumber();
    const int oldLast = newLast - (newCount - oldCount);
    if (a < 0 || oldLast < a || oldLast >= oldCount || newLast < a) {
        m_dirty = true;
        rewrapAll();
        return;
    }
    if (a == newLast && oldLast == a) {
        // Within one line: from the screen line before the change, and only
        // until the old breaks hold again.
        const int offset = position - first.position();
        const LineWrap& w = m_index.at(a);
        const QString text = blockText(first);
        const bool consistent = w.length - removed + added == text.size() && offset >= 0 &&
                                offset + added <= text.size();
        const qreal width = m_wrapMode == WidgetWidth ? m_wrappedWidth : 0;
        m_index.set(a, consistent ? breakLine(m_widths, text, width, &w, offset, removed, added)
                                  : breakLine(m_widths, text, width));
    } else {
        std::vector<LineWrap> fresh;
        for (QTextBlock b = first; b.isValid() && b.blockNumber() <= newLast; b = b.next())
            fresh.push_back(breakBlock(b));
        m_index.replace(a, oldLast - a + 1, std::move(fresh));
    }
    // Lines still waiting to be broken may have moved.
    m_rewrapNext = std::min(m_rewrapNext, a);
    updateScrollBars();
    viewport()->update();
}

void TextPane::updateScrollBars() {
    if (m_dirty)
        return; // set when the lines are broken
    const int shown = visibleLines();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, screenLineCount() - shown));
    v->setPageStep(shown);
    QScrollBar* h = horizontalScrollBar();
    const int width = viewport()->width();
    const int content =
        m_wrapMode == NoWrap ? int(std::ceil(m_index.widest())) + 2 * kMargin + m_cursorWidth : 0;
    h->setRange(0, std::max(0, content - width));
    h->setPageStep(width);
}

int TextPane::visualLineCount() const {
    finishRewrap();
    return screenLineCount();
}

int TextPane::screenLineCount() const {
    ensureWrapped();
    return std::max(1, m_index.screenLineCount());
}

int TextPane::lineHeight() const {
    return std::max(1, int(std::ceil(m_widths.metrics().height())));
}

int TextPane::visibleLines() const {
    return std::max(1, (viewport()->height() - kMargin) / lineHeight());
}

TextPane::Line TextPane::lineAt(int visual) const {
    ensureWrapped();
    Line line;
    if (m_index.lineCount() == 0)
        return line;
    visual = std::clamp(visual, 0, m_index.screenLineCount() - 1);
    line.block = m_index.lineOfScreenLine(visual);
    const LineWrap& w = m_index.at(line.block);
    line.index = visual - m_index.firstScreenLine(line.block);
    line.from = w.start(line.index);
    line.last = line.index + 1 >= w.lines();
    line.to = line.last ? w.length : w.start(line.index + 1);
    return line;
}

int TextPane::visualLineOf(int position) const {
    ensureWrapped();
    const QTextBlock block = m_document->findBlock(position);
    if (!block.isValid() || block.blockNumber() >= m_index.lineCount())
        return 0;
    // A line still waiting to be broken is broken now: the caret and the
    // lines around it are placed as they will stay.
    if (m_index.at(block.blockNumber()).stale)
        m_index.set(block.blockNumber(), breakBlock(block));
    const LineWrap& w = m_index.at(block.blockNumber());
    const int offset = position - block.position();
    const int index =
        w.starts.empty()
            ? 0
            : int(std::upper_bound(w.starts.begin(), w.starts.end(), offset) - w.starts.begin()) -
                  1;
    return m_index.firstScreenLine(block.blockNumber()) + std::max(0, index);
}

// ---- shaping ---------------------------------------------------------------

TextPane::Segment TextPane::segmentAt(const Line& line, qreal fromX, qreal toX) const {
    if (line.to - line.from <= kWindowed)
        return {line.from, line.to, 0};
    const QString text = blockText(blockAt(line.block));
    qreal x = 0;
    int length = 1;
    int i = line.from;
    for (qreal a; i < line.to && x + (a = m_widths.advance(text, i, &length, x)) < fromX - kPadding;
         i += length)
        x += a;
    Segment s{i, i, x};
    for (; i < line.to && x <= toX + kPadding; i += length)
        x += m_widths.advance(text, i, &length, x);
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
    return {from, to, m_widths.measure(text, line.from, from)};
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
    option.setTabStopDistance(CharWidths::kTabStop);
    const qreal phase = std::fmod(segment.left, CharWidths::kTabStop);
    if (phase > 0 && part.contains(u'\t')) {
        // A segment starting inside a line keeps the line's tab stops.
        QList<QTextOption::Tab> tabs;
        const qreal width = m_widths.measure(text, segment.from, segment.to) + CharWidths::kTabStop;
        for (qreal at = CharWidths::kTabStop - phase; at <= width; at += CharWidths::kTabStop)
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
            // The input method's own formats, or an underline.
            const int start = at - segment.from;
            if (m_preeditFormats.isEmpty()) {
                QTextCharFormat composing;
                composing.setFontUnderline(true);
                ranges.append({start, int(m_preedit.size()), composing});
            }
            for (const QTextLayout::FormatRange& f : m_preeditFormats)
                ranges.append({start + f.start, f.length, f.format});
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

int TextPane::visualNeighbour(int position, bool left) const {
    const Line line = lineAt(visualLineOf(position));
    const int base = blockAt(line.block).position();
    const int at = position - base;
    const Segment s = segmentAround(line, at);
    QTextLayout layout;
    shape(layout, line, s, false);
    const int local = at - s.from;
    const int moved = left ? layout.leftCursorPosition(local) : layout.rightCursorPosition(local);
    if (moved != local && s.from + moved >= line.from && s.from + moved <= line.to)
        return base + s.from + moved;
    // At the line's edge on screen: on to the next or previous line, the
    // way the line's text runs.
    const bool rtl = layout.text().isRightToLeft();
    return nextCharacter(position, left == rtl);
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
    ensurePositionVisible(m_cursor.position());
}

void TextPane::ensurePositionVisible(int position) {
    ensureWrapped();
    const int visual = visualLineOf(position);
    QScrollBar* v = verticalScrollBar();
    if (visual < v->value())
        v->setValue(visual);
    else if (visual >= v->value() + visibleLines())
        v->setValue(visual - visibleLines() + 1);
    if (m_wrapMode == NoWrap) {
        const Line line = lineAt(visual);
        const qreal x = xOf(line, position - blockAt(line.block).position());
        QScrollBar* h = horizontalScrollBar();
        const int room = viewport()->width() - 2 * kMargin - m_cursorWidth;
        if (x < h->value())
            h->setValue(int(std::floor(x)));
        else if (x > h->value() + room)
            h->setValue(int(std::ceil(x)) - room);
    }
}

QRect TextPane::characterRect(int position) const {
    const int visual = visualLineOf(position);
    const Line line = lineAt(visual);
    const int base = blockAt(line.block).position();
    const int at = std::clamp(position - base, line.from, line.to);
    const qreal left = xOf(line, at);
    // The last character of a line ends where the next would start; past
    // the end (a line break) it is as wide as a blank.
    const qreal right =
        at < line.to ? xOf(line, at + 1) : left + m_widths.metrics().horizontalAdvance(u' ');
    const int hx = m_wrapMode == NoWrap ? horizontalScrollBar()->value() : 0;
    const int h = lineHeight();
    return QRect(QPoint(int(std::floor(kMargin - hx + std::min(left, right))),
                        kMargin + (visual - verticalScrollBar()->value()) * h),
                 QPoint(int(std::ceil(kMargin - hx + std::max(left, right))) - 1,
                        kMargin + (visual - verticalScrollBar()->value() + 1) * h - 1));
}

std::pair<int, int> TextPane::screenLineRange(int position) const {
    const Line line = lineAt(visualLineOf(position));
    const int base = blockAt(line.block).position();
    return {base + line.from, base + line.to};
}

void TextPane::centerCursor() {
    ensureWrapped();
    verticalScrollBar()->setValue(visualLineOf(m_cursor.position()) - visibleLines() / 2);
    if (m_wrapMode == NoWrap)
        ensureCursorVisible();
}
