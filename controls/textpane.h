#pragma once
// An editable plain-text control for texts of any size, lines of millions of
// characters included. The text lives in a QTextDocument (editing, undo and
// redo, cursors and change signals are the document's own), but the document
// is never laid out: the control breaks lines itself from cached character
// advances, which costs a cheap pass over the characters, and shapes only the
// lines it shows, each on its own.
//
// Where what lives: wrapindex.h breaks lines and keeps the screen-line totals
// (no widgets); textpane_layout.cpp maps positions and points and breaks
// lines again in the background; textpane_paint.cpp draws; textpane_edit.cpp
// holds the keys and edits; textpane_inputmethod.cpp the input method;
// textpane_mouse.cpp the mouse and drag and drop; textpaneaccessible.h what
// assistive tools see.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QColor>
#include <QList>
#include <QTextCursor>
#include <QTextLayout>
#include <functional>
#include <utility>

#include "controls/wrapindex.h"

class QMenu;
class QTextBlock;
class QTextDocument;

class TextPane : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum LineWrapMode { NoWrap, WidgetWidth };

    explicit TextPane(QWidget* parent = nullptr);
    ~TextPane() override;

    QTextDocument* document() const { return m_document; }
    void setPlainText(const QString& text);
    QString toPlainText() const;
    void clear();
    // Replaces the selection (or inserts at the caret) and keeps the caret in view.
    void insertPlainText(const QString& text);

    QTextCursor textCursor() const { return m_cursor; }
    void setTextCursor(const QTextCursor& cursor);
    // Selects from `anchor` to `position` (the caret) and keeps the caret in
    // view; cheaper than a cursor set up outside on a long line, whose every
    // move lays out that line in the document.
    void setSelection(int anchor, int position);
    void moveCursor(QTextCursor::MoveOperation op,
                    QTextCursor::MoveMode mode = QTextCursor::MoveAnchor);
    void selectAll();
    void ensureCursorVisible();
    void centerCursor();

    void setLineWrapMode(LineWrapMode mode);
    LineWrapMode lineWrapMode() const { return m_wrapMode; }
    void setTabChangesFocus(bool on) { m_tabChangesFocus = on; }
    bool tabChangesFocus() const { return m_tabChangesFocus; }
    void setReadOnly(bool on);
    bool isReadOnly() const { return m_readOnly; }
    void setCursorWidth(int width);
    int cursorWidth() const { return m_cursorWidth; }

    // The caret's rectangle for a cursor's position, in viewport coordinates.
    QRect cursorRect(const QTextCursor& cursor) const;
    QRect cursorRect() const { return cursorRect(m_cursor); }
    // The cursor at the text position nearest to a viewport point.
    QTextCursor cursorForPosition(const QPoint& point) const;
    // Lines as shown (wrapped lines count once per screen line).
    int visualLineCount() const;

    // Stretches of text shown on a background of their own (the matches of
    // a search), each as {start, length} in positions of the document,
    // sorted by start and not overlapping. They stay until set again; an
    // edit does not move them.
    using Mark = std::pair<int, int>;
    void setMarks(QList<Mark> marks, const QColor& background);
    const QList<Mark>& marks() const { return m_marks; }

    // A bar shown below the text inside the control (a find bar); the text
    // gives it room while it is visible. The control takes it as a child.
    void setBottomPanel(QWidget* panel);
    QWidget* bottomPanel() const { return m_bottomPanel; }

    QMenu* createStandardContextMenu();

    // Text lines of at least this many characters are shaped only around
    // what is shown of them.
    static constexpr int kWindowed = 2048;

signals:
    void textChanged();
    void cursorPositionChanged();
    void selectionChanged();

protected:
    // The coloured stretches of a block's characters from `from` up to `to`,
    // in positions of the block; none by default.
    virtual QList<QTextLayout::FormatRange> formats(const QTextBlock& block, int from,
                                                    int to) const;

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class TextPaneAccessible;

    // One screen line: its text line and its characters [from, to).
    struct Line {
        int block = -1;
        int index = 0; // screen line within the text line
        int from = 0, to = 0;
        bool last = true; // the text line's last screen line
    };
    // Characters [from, to) of a line shaped alone, drawn from x = left.
    struct Segment {
        int from = 0, to = 0;
        qreal left = 0;
    };

    void onContentsChange(int position, int removed, int added);
    // Makes the index cover the document (after text was set while hidden).
    void ensureWrapped() const;
    // Breaks every line again: those shown at once, the rest in slices.
    void rewrapAll();
    // Breaks the lines again after the width, font or wrap mode changed.
    void rebreak();
    // Breaks the stale lines from the one at the top of the view until the
    // view is filled.
    void rewrapVisible();
    // Breaks stale lines for about budgetMs (all of them when negative);
    // true when none is left.
    bool rewrapSlice(qint64 budgetMs);
    // Breaks every stale line now.
    void finishRewrap() const;
    LineWrap breakBlock(const QTextBlock& block) const;
    void updateScrollBars();
    qreal wrapWidth() const;

    QTextBlock blockAt(int number) const;
    QString blockText(const QTextBlock& block) const;
    Line lineAt(int visual) const;
    int visualLineOf(int position) const;
    Segment segmentAround(const Line& line, int position) const;
    Segment segmentAt(const Line& line, qreal fromX, qreal toX) const;
    void placeBottomPanel();
    // The marks inside positions [from, to), relative to from.
    QList<QTextLayout::FormatRange> markRanges(int from, int to) const;
    void shape(QTextLayout& layout, const Line& line, const Segment& segment,
               bool withFormats) const;
    qreal xOf(const Line& line, int position) const;
    int positionAt(const Line& line, qreal x) const;
    int positionAt(const QPoint& point) const;
    // The box of the character at a position, in viewport coordinates.
    QRect characterRect(int position) const;
    // The positions [from, to) of the screen line showing a position, its
    // line break left out.
    std::pair<int, int> screenLineRange(int position) const;
    void ensurePositionVisible(int position);
    int lineHeight() const;
    int visibleLines() const;
    // Screen lines as the index has them now, lines still waiting to be
    // broken counting once.
    int screenLineCount() const;

    // Edits and moves driven by the user.
    void moveTo(int position, bool select, bool keepGoalX = false);
    void moveVertically(int lines, bool select);
    int wordBoundary(int position, bool forward) const;
    // The position one character on in the text (a surrogate pair is one).
    int nextCharacter(int position, bool forward) const;
    // The position one step to the left or right on screen, through
    // right-to-left text as it is shown.
    int visualNeighbour(int position, bool left) const;
    void insertText(const QString& text);
    // Runs a move or an edit of m_cursor inside an edit block of the
    // document. A QTextCursor works out its x from the document's own layout
    // of its line after every move and edit, which takes the whole line
    // through Unicode itemizing (a tenth of a second for a line of
    // megabytes, at each keystroke); inside an edit block it does not. The
    // control keeps its own x (m_goalX). `join`: the edit joins the previous
    // undo step (typing goes on where it stopped). A move's empty block is
    // not told as a change of the text.
    void cursorBlock(const std::function<void()>& work, bool join = false);
    void deleteSelectionOr(QTextCursor::MoveOperation op, bool word);
    QString selectedPlainText() const;
    // Offers the selection as the primary selection (middle-click paste),
    // once the events that change it have passed.
    void publishSelection();
    // Where the input method's window of the caret's line starts.
    int imWindowStart() const;
    // The caret's rectangle, inside the text being composed if there is any.
    QRect imCursorRect() const;
    void startDrag();
    // One step of scrolling while a selection is dragged out of the view.
    void autoScrollStep();
    // Dragged text lands here only as text, and only where it may be edited.
    bool takesDrop(const QDropEvent* event) const;
    void copy();
    void cut();
    void paste();
    void undo();
    void redo();
    bool handleKey(QKeyEvent* event);
    void cursorChanged();
    void restartBlink();

    QTextDocument* m_document;
    QFont m_font;        // the widget's font without kerning, so that text measures as it draws
    CharWidths m_widths; // of m_font
    bool m_dirty = true; // the index does not cover the document (text set while hidden)
    QTextCursor m_cursor;
    mutable WrapIndex m_index; // lines looked at are broken on demand, in const lookups too
    qreal m_wrappedWidth = 0;  // the width the lines are broken at
    int m_rewrapNext = 0;      // the first line that may still be stale
    QBasicTimer m_rewrapTimer;
    LineWrapMode m_wrapMode = WidgetWidth;
    bool m_tabChangesFocus = false;
    bool m_readOnly = false;
    int m_cursorWidth = 1;
    qreal m_goalX = -1;
    int m_lastPosition = 0;
    int m_lastAnchor = 0;
    bool m_caretShown = false;
    bool m_dragging = false;
    bool m_publishPending = false;
    // A press inside the selection: a drag of the selected text when the
    // mouse moves far enough, a click where it was pressed otherwise.
    bool m_dragCandidate = false;
    QPoint m_pressPoint;
    int m_dropPosition = -1; // where dragged text would land, -1 while none is
    // The input method's text being composed, shown at the caret but not yet
    // part of the document, and the caret's place inside it.
    QString m_preedit;
    int m_preeditCursor = 0;
    bool m_preeditCursorShown = true;
    QList<QTextLayout::FormatRange> m_preeditFormats; // in positions of m_preedit
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QPoint m_autoScrollPoint; // where the mouse is while it drags a selection outside
    static constexpr int kAutoScrollInterval = 50; // ms
    QWidget* m_bottomPanel = nullptr;
    QList<Mark> m_marks;
    QColor m_markColor;
    bool m_cursorMoving = false; // cursorBlock() ends a block that changed nothing yet
    // Where typing last ended and the undo steps then: typing on from there
    // joins that step, as typed text does in other editors.
    int m_typedEnd = -1;
    int m_typedSteps = -1;
    mutable int m_textCacheBlock = -1;
    mutable QString m_textCache;
};
