#include "app/scripteditor.h"

#include "app/sqlhighlighter.h"

#include <QAbstractTextDocumentLayout>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

ScriptEditor::ScriptEditor(QWidget* parent)
    : QPlainTextEdit(parent), m_highlighter(new SqlHighlighter(document())) {
    m_highlighter->setLongLinesDrawnByEditor(true);
}

void ScriptEditor::paintEvent(QPaintEvent* event) {
    // The editor draws all other lines; a long line is laid out without
    // formats and drawn here. The area is cut into bands of whole lines.
    const QRect area = event->rect();
    QPointF offset = contentOffset();
    int bandTop = area.top(); // where the editor's own drawing continues
    auto drawBand = [&](int bottom) {
        if (bottom >= bandTop) {
            QPaintEvent band(QRect(area.left(), bandTop, area.width(), bottom - bandTop + 1));
            QPlainTextEdit::paintEvent(&band);
        }
    };
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        if (offset.y() > area.bottom())
            break;
        const QRectF bounds = blockBoundingRect(block).translated(offset);
        if (block.isVisible() && bounds.bottom() >= area.top() &&
            m_highlighter->drawnByEditor(block)) {
            const int top = std::max(area.top(), int(bounds.top()));
            const int bottom = std::min(area.bottom(), int(std::ceil(bounds.bottom())) - 1);
            drawBand(top - 1);
            QPainter painter(viewport());
            painter.setClipRect(QRect(area.left(), top, area.width(), bottom - top + 1));
            drawLongBlock(painter, block, offset, area);
            bandTop = bottom + 1;
        }
        offset.ry() += bounds.height();
    }
    drawBand(area.bottom());
}

void ScriptEditor::drawLongBlock(QPainter& painter, const QTextBlock& block, const QPointF& offset,
                                 const QRect& area) {
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    const QTextLayout* layout = block.layout();
    const QPointF origin = offset + layout->position();
    const int selStart = textCursor().selectionStart() - block.position();
    const int selEnd = textCursor().selectionEnd() - block.position();
    const bool selection = selStart < selEnd;

    // Draws [from, to) of the line in `colour`.
    auto draw = [&](const QTextLine& line, int from, int to, const QColor& colour) {
        if (from >= to)
            return;
        painter.setPen(colour);
        for (const QGlyphRun& glyphs : line.glyphRuns(from, to - from))
            painter.drawGlyphRun(origin, glyphs);
    };
    // Draws [from, to) in `colour`, what of it is selected in the selection's colour.
    auto drawPart = [&](const QTextLine& line, int from, int to, const QColor& colour) {
        if (!selection || selEnd <= from || selStart >= to) {
            draw(line, from, to, colour);
            return;
        }
        draw(line, from, std::max(from, selStart), colour);
        draw(line, std::max(from, selStart), std::min(to, selEnd),
             context.palette.highlightedText().color());
        draw(line, std::min(to, selEnd), to, colour);
    };

    const QColor plain = context.palette.text().color();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const QRectF rect = line.rect().translated(origin);
        if (rect.bottom() < area.top())
            continue;
        if (rect.top() > area.bottom())
            break;
        const int from = line.textStart();
        const int to = from + line.textLength();
        const bool last = i == layout->lineCount() - 1;
        if (selection && selStart < to + (last ? 1 : 0) && selEnd > from) {
            // As the editor marks a selection: to the line's end when it goes on.
            const qreal left = line.cursorToX(std::max(from, selStart));
            const qreal right =
                selEnd > to ? line.naturalTextRect().right() + (last ? line.height() / 4 : 0)
                            : line.cursorToX(selEnd);
            // Placed and filled on the pixel grid as the editor fills its selections.
            QRectF mark(origin.x() + left, rect.top(), right - left, rect.height());
            mark.moveLeft(std::floor(mark.left()));
            mark.moveTop(std::floor(mark.top()));
            QPainterPath path;
            path.addRect(mark);
            painter.setPen(Qt::NoPen);
            painter.setBrush(context.palette.highlight());
            painter.drawPath(path);
        }
        int at = from;
        for (const SqlHighlighter::Stretch& s : m_highlighter->stretches(block, from, to)) {
            drawPart(line, at, s.start, plain);
            drawPart(line, s.start, s.start + s.length,
                     m_highlighter->format(s.kind).foreground().color());
            at = s.start + s.length;
        }
        drawPart(line, at, to, plain);
    }

    const int cursor = context.cursorPosition - block.position();
    if (cursor >= 0 && cursor < block.length() &&
        (!isReadOnly() || (textInteractionFlags() & Qt::TextSelectableByKeyboard))) {
        painter.setPen(plain);
        layout->drawCursor(&painter, offset, cursor, cursorWidth());
    }
}
