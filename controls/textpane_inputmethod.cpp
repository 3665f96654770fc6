#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QInputMethodEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

using namespace textpane;

// ---- input method ------------------------------------------------------------

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
