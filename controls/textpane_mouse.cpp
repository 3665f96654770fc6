#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QInputMethod>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

using namespace textpane;

// ---- mouse and drag and drop ------------------------------------------------

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
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    moveTo(positionAt(point), true);
    // Outside the text the selection goes on growing and the text scrolls
    // while the button is held, whether or not the mouse moves.
    m_autoScrollPoint = point;
    if (viewport()->rect().contains(point))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(kAutoScrollInterval, this);
}

void TextPane::autoScrollStep() {
    if (!m_dragging) {
        m_autoScroll.stop();
        return;
    }
    const QRect area = viewport()->rect();
    const QPoint p = m_autoScrollPoint;
    // The farther out the mouse, the faster: a line more per line height.
    const int h = lineHeight();
    QScrollBar* v = verticalScrollBar();
    if (p.y() < area.top())
        v->setValue(v->value() - 1 - (area.top() - p.y()) / h);
    else if (p.y() > area.bottom())
        v->setValue(v->value() + 1 + (p.y() - area.bottom()) / h);
    QScrollBar* x = horizontalScrollBar();
    if (p.x() < area.left())
        x->setValue(x->value() - x->singleStep() - (area.left() - p.x()));
    else if (p.x() > area.right())
        x->setValue(x->value() + x->singleStep() + (p.x() - area.right()));
    // The selection ends at the edge the mouse is beyond.
    const QPoint edge(std::clamp(p.x(), area.left(), area.right()),
                      std::clamp(p.y(), area.top() + kMargin, area.bottom() - kMargin));
    moveTo(positionAt(edge), true);
}

void TextPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (m_dragCandidate) {
        // Pressed and released inside the selection: a plain click.
        m_dragCandidate = false;
        moveTo(positionAt(m_pressPoint), false);
    }
    m_autoScroll.stop();
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
