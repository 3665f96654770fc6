#include "controls/textpane.h"

#include "controls/textpane_p.h"
#include "controls/textpaneaccessible.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

namespace {

// A document layout that lays out nothing. A document needs one to report
// its changes (contentsChange is sent only while it has a layout); the
// control breaks and shapes its lines itself.
class NoLayout : public QAbstractTextDocumentLayout {
public:
    using QAbstractTextDocumentLayout::QAbstractTextDocumentLayout;
    void draw(QPainter*, const PaintContext&) override {}
    int hitTest(const QPointF&, Qt::HitTestAccuracy) const override { return -1; }
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override { return {}; }
    QRectF frameBoundingRect(QTextFrame*) const override { return {}; }
    QRectF blockBoundingRect(const QTextBlock&) const override { return {}; }

protected:
    void documentChanged(int, int, int) override {}
};

} // namespace

TextPane::TextPane(QWidget* parent)
    : QAbstractScrollArea(parent), m_document(new QTextDocument(this)), m_widths(font()) {
    m_document->setDocumentLayout(new NoLayout(m_document));
    m_document->setUndoRedoEnabled(true);
    m_cursor = QTextCursor(m_document);
    m_font = font();
    m_font.setKerning(false);
    m_widths.setFont(m_font);
    connect(m_document, &QTextDocument::contentsChange, this, &TextPane::onContentsChange);
    // Assistive tools hear of a change once the lines are broken again.
    TextPaneAccessible::install();
    connect(m_document, &QTextDocument::contentsChange, this,
            [this](int position, int removed, int added) {
                m_cursorMoving = false; // the text did change
                TextPaneAccessible::textChanged(this, position, removed, added);
            });
    connect(m_document, &QTextDocument::contentsChanged, this, [this] {
        if (m_cursorMoving)
            return; // the empty edit block around a move changed nothing
        emit textChanged();
        cursorChanged();
    });
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(20);
}

TextPane::~TextPane() = default;

// ---- text and cursor -------------------------------------------------------

void TextPane::setPlainText(const QString& text) {
    m_dirty = true; // broken once, after the document has the whole text
    m_document->setPlainText(text);
    m_document->setModified(false);
    m_cursor = QTextCursor(m_document);
    m_goalX = -1;
    m_textCacheBlock = -1;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (isVisible())
        rewrapAll();
    cursorChanged();
    viewport()->update();
}

QString TextPane::toPlainText() const {
    return m_document->toPlainText();
}

void TextPane::clear() {
    setPlainText(QString());
}

void TextPane::insertPlainText(const QString& text) {
    cursorBlock([&] { m_cursor.insertText(text); });
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
}

void TextPane::setTextCursor(const QTextCursor& cursor) {
    if (cursor.document() != m_document)
        return;
    m_cursor = cursor;
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    viewport()->update();
}

void TextPane::setSelection(int anchor, int position) {
    const int end = m_document->characterCount() - 1;
    cursorBlock([&] {
        m_cursor.setPosition(std::clamp(anchor, 0, end));
        m_cursor.setPosition(std::clamp(position, 0, end), QTextCursor::KeepAnchor);
    });
    m_goalX = -1;
    ensureCursorVisible();
    cursorChanged();
    viewport()->update();
}

void TextPane::moveCursor(QTextCursor::MoveOperation op, QTextCursor::MoveMode mode) {
    // Moves that depend on the document's own layout are done here, so that
    // the document is never laid out.
    const bool select = mode == QTextCursor::KeepAnchor;
    const int pos = m_cursor.position();
    switch (op) {
    case QTextCursor::PreviousCharacter:
    case QTextCursor::NextCharacter:
        moveTo(nextCharacter(pos, op == QTextCursor::NextCharacter), select);
        return;
    case QTextCursor::Left:
    case QTextCursor::Right:
        // On screen: in right-to-left text Left goes on through the text.
        moveTo(visualNeighbour(pos, op == QTextCursor::Left), select);
        return;
    case QTextCursor::Up:
        moveVertically(-1, select);
        return;
    case QTextCursor::Down:
        moveVertically(1, select);
        return;
    case QTextCursor::StartOfLine:
    case QTextCursor::EndOfLine: {
        ensureWrapped();
        const Line line = lineAt(visualLineOf(pos));
        const int base = blockAt(line.block).position();
        if (op == QTextCursor::StartOfLine)
            moveTo(base + line.from, select);
        else
            moveTo(base + (line.last || line.to == line.from ? line.to : line.to - 1), select);
        return;
    }
    case QTextCursor::WordLeft:
    case QTextCursor::PreviousWord:
    case QTextCursor::StartOfWord:
        moveTo(wordBoundary(pos, false), select);
        return;
    case QTextCursor::WordRight:
    case QTextCursor::NextWord:
    case QTextCursor::EndOfWord:
        moveTo(wordBoundary(pos, true), select);
        return;
    default:
        // Start, End and block moves need no layout.
        cursorBlock([&] { m_cursor.movePosition(op, mode); });
        m_goalX = -1;
        ensureCursorVisible();
        cursorChanged();
        viewport()->update();
        return;
    }
}

void TextPane::selectAll() {
    cursorBlock([this] {
        m_cursor.setPosition(0);
        m_cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    });
    cursorChanged();
    viewport()->update();
}

void TextPane::setLineWrapMode(LineWrapMode mode) {
    if (m_wrapMode == mode)
        return;
    m_wrapMode = mode;
    rebreak();
}

void TextPane::setReadOnly(bool on) {
    m_readOnly = on;
    setAttribute(Qt::WA_InputMethodEnabled, !on);
    viewport()->update();
}

void TextPane::setCursorWidth(int width) {
    m_cursorWidth = width;
    viewport()->update();
}

QList<QTextLayout::FormatRange> TextPane::formats(const QTextBlock&, int, int) const {
    return {};
}

// ---- caret -----------------------------------------------------------------

void TextPane::restartBlink() {
    m_caretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
    viewport()->update();
}

void TextPane::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_rewrapTimer.timerId()) {
        // A few milliseconds at a time, so that the window keeps answering.
        if (rewrapSlice(4))
            m_rewrapTimer.stop();
        return;
    }
    if (event->timerId() == m_autoScroll.timerId()) {
        autoScrollStep();
        return;
    }
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(cursorRect().adjusted(-1, 0, 1, 0));
}

void TextPane::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
}

void TextPane::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_caretShown = false;
    viewport()->update();
}

void TextPane::cursorChanged() {
    const int pos = m_cursor.position();
    const int anchor = m_cursor.anchor();
    if (pos == m_lastPosition && anchor == m_lastAnchor)
        return;
    const bool hadSelection = m_lastPosition != m_lastAnchor;
    const bool selection = hadSelection || pos != anchor;
    m_lastPosition = pos;
    m_lastAnchor = anchor;
    viewport()->update();
    emit cursorPositionChanged();
    if (selection) {
        emit selectionChanged();
        publishSelection();
    }
    TextPaneAccessible::caretMoved(this, selection);
}

void TextPane::publishSelection() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (m_publishPending || !clipboard->supportsSelection())
        return;
    m_publishPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_publishPending = false;
            // Not while the mouse still drags the selection out: at its release.
            if (m_dragging || !m_cursor.hasSelection())
                return;
            QGuiApplication::clipboard()->setText(selectedPlainText(), QClipboard::Selection);
        },
        Qt::QueuedConnection);
}
