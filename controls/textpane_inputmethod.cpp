#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QInputMethodEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

using namespace textpane;

namespace {

// The input method sees this much of a line around the caret: a line may be
// millions of characters long.
constexpr int kImWindow = 1000;

} // namespace

// ---- input method ------------------------------------------------------------

int TextPane::imWindowStart() const {
    const QTextBlock block = m_cursor.block();
    return block.position() + std::max(0, m_cursor.position() - block.position() - kImWindow / 2);
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
    m_preeditCursorShown = true;
    m_preeditFormats.clear();
    for (const QInputMethodEvent::Attribute& a : event->attributes()) {
        switch (a.type) {
        case QInputMethodEvent::Cursor:
            // Its length tells whether the caret shows inside the composed text.
            m_preeditCursor = std::clamp(a.start, 0, int(m_preedit.size()));
            m_preeditCursorShown = a.length != 0;
            break;
        case QInputMethodEvent::TextFormat: {
            const QTextCharFormat format = qvariant_cast<QTextFormat>(a.value).toCharFormat();
            const int from = std::clamp(a.start, 0, int(m_preedit.size()));
            const int to = std::clamp(a.start + a.length, from, int(m_preedit.size()));
            if (format.isValid() && to > from)
                m_preeditFormats.append({from, to - from, format});
            break;
        }
        case QInputMethodEvent::Selection: {
            // In positions of the text the method was shown around the caret.
            const int base = imWindowStart();
            const int end = m_document->characterCount() - 1;
            m_cursor.setPosition(std::clamp(base + a.start, 0, end));
            m_cursor.setPosition(std::clamp(base + a.start + a.length, 0, end),
                                 QTextCursor::KeepAnchor);
            m_goalX = -1;
            ensureCursorVisible();
            cursorChanged();
            break;
        }
        default:
            break;
        }
    }
    restartBlink();
    event->accept();
}

QRect TextPane::imCursorRect() const {
    if (m_preedit.isEmpty())
        return cursorRect();
    // The caret inside the text being composed, which is shaped into the line.
    const int visual = visualLineOf(m_cursor.position());
    const Line line = lineAt(visual);
    const int at = m_cursor.position() - blockAt(line.block).position();
    const Segment s = segmentAround(line, at);
    QTextLayout layout;
    shape(layout, line, s, true);
    const qreal x = s.left + layout.lineAt(0).cursorToX(at - s.from + m_preeditCursor);
    const int hx = m_wrapMode == NoWrap ? horizontalScrollBar()->value() : 0;
    QRect r = cursorRect();
    r.moveLeft(int(std::floor(kMargin - hx + x)));
    return r;
}

QVariant TextPane::inputMethodQuery(Qt::InputMethodQuery query) const {
    const QTextBlock block = m_cursor.block();
    const int from = imWindowStart();
    const int to = std::min(block.position() + block.length() - 1, from + kImWindow);
    const int pos = m_cursor.position();
    switch (query) {
    case Qt::ImEnabled:
        return !m_readOnly;
    case Qt::ImCursorRectangle:
        return imCursorRect();
    case Qt::ImAnchorRectangle: {
        QTextCursor anchor(m_document);
        anchor.setPosition(m_cursor.anchor());
        return cursorRect(anchor);
    }
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return pos - from;
    case Qt::ImAnchorPosition:
        return std::clamp(m_cursor.anchor() - from, 0, to - from);
    case Qt::ImAbsolutePosition:
        return pos;
    case Qt::ImSurroundingText:
        return blockText(block).mid(from - block.position(), to - from);
    case Qt::ImTextBeforeCursor:
        return blockText(block).mid(from - block.position(), pos - from);
    case Qt::ImTextAfterCursor:
        return blockText(block).mid(pos - block.position(), to - pos);
    case Qt::ImCurrentSelection:
        return selectedPlainText();
    case Qt::ImMaximumTextLength:
        return QVariant(); // no limit
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}
