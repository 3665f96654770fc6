#include "controls/textpaneaccessible.h"

#include "controls/textpane.h"

#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <algorithm>

namespace {

// Words and sentences are looked for this far either side of an offset: a
// line may be millions of characters long.
constexpr int kWindow = 4096;

QAccessibleInterface* createFor(const QString&, QObject* object) {
    if (auto* pane = qobject_cast<TextPane*>(object))
        return new TextPaneAccessible(pane);
    return nullptr;
}

// Text between two positions, line breaks as '\n'.
QString plainText(QTextDocument* document, int from, int to) {
    QTextCursor c(document);
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    QString text = c.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    text.replace(QChar::LineSeparator, u'\n');
    return text;
}

} // namespace

TextPaneAccessible::TextPaneAccessible(TextPane* pane)
    : QAccessibleWidget(pane, QAccessible::EditableText) {}

TextPaneAccessible::Tap TextPaneAccessible::s_tap = nullptr;

void TextPaneAccessible::setTap(Tap tap) {
    s_tap = tap;
}

bool TextPaneAccessible::listened() {
    // Events are built only when someone listens: telling of a whole text
    // set at once copies that text.
    return s_tap || QAccessible::isActive();
}

void TextPaneAccessible::send(QAccessibleEvent* event) {
    if (s_tap)
        s_tap(event);
    QAccessible::updateAccessibility(event);
}

void TextPaneAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(createFor);
        return true;
    }();
    Q_UNUSED(installed);
}

TextPane* TextPaneAccessible::pane() const {
    return static_cast<TextPane*>(object());
}

// ---- events -------------------------------------------------------------------

void TextPaneAccessible::textChanged(TextPane* pane, int position, int removed, int added) {
    if (!listened() || (removed == 0 && added == 0))
        return;
    QTextDocument* document = pane->document();
    const int end = document->characterCount() - 1;
    const QString inserted =
        plainText(document, std::min(position, end), std::clamp(position + added, 0, end));
    // The removed text is gone from the document; its length is what counts.
    const QString gone(removed, u' ');
    if (removed == 0) {
        QAccessibleTextInsertEvent event(pane, position, inserted);
        send(&event);
    } else if (added == 0) {
        QAccessibleTextRemoveEvent event(pane, position, gone);
        send(&event);
    } else {
        QAccessibleTextUpdateEvent event(pane, position, gone, inserted);
        send(&event);
    }
}

void TextPaneAccessible::caretMoved(TextPane* pane, bool selectionChanged) {
    if (!listened())
        return;
    const QTextCursor cursor = pane->textCursor();
    if (selectionChanged) {
        QAccessibleTextSelectionEvent event(pane, cursor.selectionStart(), cursor.selectionEnd());
        event.setCursorPosition(cursor.position());
        send(&event);
    }
    QAccessibleTextCursorEvent event(pane, cursor.position());
    send(&event);
}

// ---- the object ---------------------------------------------------------------

QAccessible::State TextPaneAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    const bool readOnly = pane()->isReadOnly();
    s.multiLine = true;
    s.readOnly = readOnly;
    s.editable = !readOnly;
    s.selectableText = true;
    s.focusable = true;
    return s;
}

QString TextPaneAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value)
        return pane()->toPlainText();
    return QAccessibleWidget::text(t);
}

void* TextPaneAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (t == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

// ---- caret and selection ------------------------------------------------------

void TextPaneAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const QTextCursor c = pane()->textCursor();
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && c.hasSelection()) {
        *startOffset = c.selectionStart();
        *endOffset = c.selectionEnd();
    }
}

int TextPaneAccessible::selectionCount() const {
    return pane()->textCursor().hasSelection() ? 1 : 0;
}

void TextPaneAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset); // one selection only: it replaces the old one
}

void TextPaneAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex != 0)
        return;
    QTextCursor c = pane()->textCursor();
    c.clearSelection();
    pane()->setTextCursor(c);
}

void TextPaneAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0)
        return;
    const int count = characterCount();
    QTextCursor c(pane()->document());
    c.setPosition(std::clamp(startOffset, 0, count));
    c.setPosition(std::clamp(endOffset, 0, count), QTextCursor::KeepAnchor);
    pane()->setTextCursor(c);
}

int TextPaneAccessible::cursorPosition() const {
    return pane()->textCursor().position();
}

void TextPaneAccessible::setCursorPosition(int position) {
    QTextCursor c(pane()->document());
    c.setPosition(std::clamp(position, 0, characterCount()));
    pane()->setTextCursor(c);
}

// ---- text ---------------------------------------------------------------------

int TextPaneAccessible::characterCount() const {
    return pane()->document()->characterCount() - 1; // without the closing line break
}

QString TextPaneAccessible::text(int startOffset, int endOffset) const {
    const int count = characterCount();
    const int from = std::clamp(startOffset, 0, count);
    const int to = std::clamp(endOffset, from, count);
    return plainText(pane()->document(), from, to);
}

std::pair<int, int> TextPaneAccessible::itemAt(int offset,
                                               QAccessible::TextBoundaryType type) const {
    const int count = characterCount();
    QTextDocument* document = pane()->document();
    const QTextBlock block = document->findBlock(offset);
    const int base = block.position();
    const int length = block.length() - 1;
    switch (type) {
    case QAccessible::CharBoundary: {
        if (offset >= count)
            return {count, count};
        const bool pair = document->characterAt(offset).isHighSurrogate() && offset + 1 < count &&
                          document->characterAt(offset + 1).isLowSurrogate();
        return {offset, offset + (pair ? 2 : 1)};
    }
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary: {
        const int in = offset - base;
        if (in >= length) // a line break is an item of its own
            return {offset, std::min(offset + 1, count)};
        const int from = std::max(0, in - kWindow);
        const int to = std::min(length, in + kWindow);
        const QString window = block.text().mid(from, to - from);
        QTextBoundaryFinder finder(type == QAccessible::WordBoundary
                                       ? QTextBoundaryFinder::Word
                                       : QTextBoundaryFinder::Sentence,
                                   window);
        finder.setPosition(in - from);
        const qsizetype start =
            finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        finder.setPosition(in - from);
        const qsizetype end = finder.toNextBoundary();
        return {base + from + int(std::max<qsizetype>(0, start)),
                base + from + int(end < 0 ? window.size() : end)};
    }
    case QAccessible::LineBoundary:
        return pane()->screenLineRange(std::min(offset, count));
    case QAccessible::ParagraphBoundary:
        return {base, base + length};
    case QAccessible::NoBoundary:
        break;
    }
    return {0, count};
}

QString TextPaneAccessible::item(std::pair<int, int> range, int* startOffset,
                                 int* endOffset) const {
    *startOffset = range.first;
    *endOffset = range.second;
    return text(range.first, range.second);
}

QString TextPaneAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const {
    if (offset < 0 || offset > characterCount()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    return item(itemAt(offset, boundaryType), startOffset, endOffset);
}

QString TextPaneAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const {
    if (offset < 0 || offset > characterCount()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const std::pair<int, int> at = itemAt(offset, boundaryType);
    if (at.first <= 0) {
        *startOffset = *endOffset = 0;
        return {};
    }
    return item(itemAt(at.first - 1, boundaryType), startOffset, endOffset);
}

QString TextPaneAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const {
    const int count = characterCount();
    if (offset < 0 || offset > count) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const std::pair<int, int> at = itemAt(offset, boundaryType);
    int next = std::max(at.second, offset + 1);
    std::pair<int, int> after = itemAt(std::min(next, count), boundaryType);
    // A line or paragraph ends before its line break: the next one starts
    // after it.
    if (after.first < next && next < count)
        after = itemAt(++next, boundaryType);
    if (next >= count && after.first < next) {
        *startOffset = *endOffset = count;
        return {};
    }
    return item(after, startOffset, endOffset);
}

QString TextPaneAccessible::attributes(int, int* startOffset, int* endOffset) const {
    // Plain text: no attributes anywhere.
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

// ---- geometry -----------------------------------------------------------------

QRect TextPaneAccessible::characterRect(int offset) const {
    const QRect r = pane()->characterRect(std::clamp(offset, 0, characterCount()));
    return QRect(pane()->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int TextPaneAccessible::offsetAtPoint(const QPoint& point) const {
    return pane()->positionAt(pane()->viewport()->mapFromGlobal(point));
}

void TextPaneAccessible::scrollToSubstring(int startIndex, int endIndex) {
    const int count = characterCount();
    pane()->ensurePositionVisible(std::clamp(endIndex, 0, count));
    pane()->ensurePositionVisible(std::clamp(startIndex, 0, count));
}

// ---- editing ------------------------------------------------------------------

void TextPaneAccessible::deleteText(int startOffset, int endOffset) {
    replaceText(startOffset, endOffset, QString());
}

void TextPaneAccessible::insertText(int offset, const QString& text) {
    replaceText(offset, offset, text);
}

void TextPaneAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    if (pane()->isReadOnly())
        return;
    const int count = characterCount();
    QTextCursor c(pane()->document());
    c.setPosition(std::clamp(startOffset, 0, count));
    c.setPosition(std::clamp(endOffset, 0, count), QTextCursor::KeepAnchor);
    c.insertText(text);
}
