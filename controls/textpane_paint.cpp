#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

using namespace textpane;

// ---- drawing ---------------------------------------------------------------

void TextPane::paintEvent(QPaintEvent* event) {
    ensureWrapped();
    if (m_rewrapTimer.isActive()) {
        // Scrolled ahead of the lines broken in the background.
        rewrapVisible();
        updateScrollBars();
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Text));
    const int h = lineHeight();
    const int total = screenLineCount();
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
        QList<QTextLayout::FormatRange> marks = markRanges(base + s.from, base + s.to);
        const int a = std::max(selStart - base, s.from);
        const int b = std::min(selEnd - base, s.to);
        if (a < b)
            marks.append({a - s.from, b - a, selected});
        // A selection that goes on past the line's end marks a little more,
        // so that a selected line break shows.
        if (selStart < selEnd && selStart - base <= line.to && selEnd - base > line.to &&
            s.to == line.to) {
            const QTextLine l = layout.lineAt(0);
            painter.fillRect(QRectF(origin.x() + l.naturalTextWidth(), y,
                                    m_widths.metrics().horizontalAdvance(u' '), h),
                             pal.brush(QPalette::Highlight));
        }
        layout.draw(&painter, origin, marks);
        const int pos = m_cursor.position() - base;
        if (caret && (m_preedit.isEmpty() || m_preeditCursorShown) && pos >= s.from &&
            pos <= s.to && (pos < line.to || line.last))
            layout.drawCursor(&painter, origin, pos - s.from + m_preeditCursor, m_cursorWidth);
        const int drop = m_dropPosition - base;
        if (m_dropPosition >= 0 && drop >= s.from && drop <= s.to && (drop < line.to || line.last))
            layout.drawCursor(&painter, origin, drop - s.from, m_cursorWidth);
    }
}

void TextPane::setMarks(QList<Mark> marks, const QColor& background) {
    m_marks = std::move(marks);
    m_markColor = background;
    viewport()->update();
}

QList<QTextLayout::FormatRange> TextPane::markRanges(int from, int to) const {
    // The marks that reach into [from, to), relative to from; the first is
    // found by halving, so a text with many of them draws as fast.
    QList<QTextLayout::FormatRange> ranges;
    if (m_marks.isEmpty() || from >= to)
        return ranges;
    auto it = std::upper_bound(m_marks.cbegin(), m_marks.cend(), from,
                               [](int pos, const Mark& m) { return pos < m.first; });
    if (it != m_marks.cbegin())
        --it;
    QTextCharFormat format;
    format.setBackground(m_markColor);
    for (; it != m_marks.cend() && it->first < to; ++it) {
        const int a = std::max(it->first, from);
        const int b = std::min(it->first + it->second, to);
        if (a < b)
            ranges.append({a - from, b - a, format});
    }
    return ranges;
}

void TextPane::setBottomPanel(QWidget* panel) {
    if (m_bottomPanel)
        m_bottomPanel->removeEventFilter(this);
    m_bottomPanel = panel;
    if (panel) {
        panel->setParent(this);
        panel->installEventFilter(this);
    }
    placeBottomPanel();
}

bool TextPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_bottomPanel &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide ||
         event->type() == QEvent::LayoutRequest))
        placeBottomPanel();
    return QAbstractScrollArea::eventFilter(watched, event);
}

void TextPane::placeBottomPanel() {
    const int height =
        m_bottomPanel && !m_bottomPanel->isHidden() ? m_bottomPanel->sizeHint().height() : 0;
    setViewportMargins(0, 0, 0, height);
    if (!height)
        return;
    // Right below the text, as wide as it.
    const QRect text = viewport()->geometry();
    m_bottomPanel->setGeometry(text.left(), text.bottom() + 1, text.width(), height);
    m_bottomPanel->raise();
}

void TextPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (m_bottomPanel)
        placeBottomPanel();
    if (m_wrapMode == WidgetWidth && wrapWidth() != m_wrappedWidth)
        rebreak();
    else if (isVisible())
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
        m_widths.setFont(m_font);
        rebreak();
    }
}

void TextPane::scrollContentsBy(int, int) {
    viewport()->update();
}
