#pragma once
// What screen readers and other assistive tools see of the plain-text
// control: an editable, multi-line text with its caret, selection, lines as
// shown on screen and the boxes of its characters, and the events Qt's own
// text edits send when the text, the caret or the selection change.

#include <QAccessibleWidget>

class TextPane;

class TextPaneAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit TextPaneAccessible(TextPane* pane);

    // Makes Qt ask this class for every TextPane; done once per process.
    static void install();
    // Tell assistive tools what changed (nothing is sent while none listens).
    static void textChanged(TextPane* pane, int position, int removed, int added);
    static void caretMoved(TextPane* pane, bool selectionChanged);

    // QAccessibleInterface
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType t) override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

    // Sees every event the panes send, before Qt hands it on to the
    // platform's bridge; for listeners inside the process, which Qt's own
    // update handler does not reach while no platform bridge is active.
    using Tap = void (*)(QAccessibleEvent*);
    static void setTap(Tap tap);

private:
    static bool listened();
    static void send(QAccessibleEvent* event);
    static Tap s_tap;
    TextPane* pane() const;
    // The item of a kind that holds offset, as [start, end).
    std::pair<int, int> itemAt(int offset, QAccessible::TextBoundaryType type) const;
    QString item(std::pair<int, int> range, int* startOffset, int* endOffset) const;
};
