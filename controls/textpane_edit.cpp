#include "controls/textpane.h"

#include "controls/textpane_p.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

using namespace textpane;

// ---- editing ---------------------------------------------------------------

void TextPane::cursorBlock(const std::function<void()>& work, bool join) {
    if (join)
        m_cursor.joinPreviousEditBlock();
    else
        m_cursor.beginEditBlock();
    work();
    // A block that changed nothing still says the contents changed; a real
    // change is told first (contentsChange), which clears the flag.
    m_cursorMoving = true;
    m_cursor.endEditBlock();
    m_cursorMoving = false;
}

void TextPane::moveTo(int position, bool select, bool keepGoalX) {
    cursorBlock([&] {
        m_cursor.setPosition(position, select ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    });
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
    const int target = std::clamp(visual + lines, 0, screenLineCount() - 1);
    if (target == visual) {
        if (std::abs(lines) > 1) // a page move ends at the text's start or end
            moveTo(lines < 0 ? 0 : m_document->characterCount() - 1, select);
        return;
    }
    moveTo(positionAt(lineAt(target), x), select, true);
    m_goalX = x;
}

int TextPane::nextCharacter(int position, bool forward) const {
    // A surrogate pair is one character.
    if (!forward) {
        const int at = std::max(0, position - 1);
        return at > 0 && m_document->characterAt(at).isLowSurrogate() &&
                       m_document->characterAt(at - 1).isHighSurrogate()
                   ? at - 1
                   : at;
    }
    const int end = m_document->characterCount() - 1;
    const int at = std::min(end, position + 1);
    return at < end && m_document->characterAt(position).isHighSurrogate() &&
                   m_document->characterAt(at).isLowSurrogate()
               ? at + 1
               : at;
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
    // Typing on where it stopped, with nothing done in between, is one step
    // of undo; a line break starts a new one.
    const bool typing = !text.contains(u'\n') && !m_cursor.hasSelection();
    const bool goesOn = typing && m_cursor.position() == m_typedEnd &&
                        m_document->availableUndoSteps() == m_typedSteps &&
                        !m_document->isRedoAvailable();
    cursorBlock([&] { m_cursor.insertText(text); }, goesOn);
    m_typedEnd = typing ? m_cursor.position() : -1;
    m_typedSteps = m_document->availableUndoSteps();
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
        const int to = word ? wordBoundary(pos, !back) : nextCharacter(pos, !back);
        if (to == pos)
            return;
        cursorBlock([&] {
            m_cursor.setPosition(to, QTextCursor::KeepAnchor);
            m_cursor.removeSelectedText();
        });
    } else {
        cursorBlock([this] { m_cursor.removeSelectedText(); });
    }
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
