#include "app/editor/completer.h"

#include "controls/textpane.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListView>
#include <QScrollBar>
#include <QTextDocument>

namespace editor {

namespace {
constexpr int kVisibleRows = 10;
// How much text around the caret the completion reads.
constexpr int kBefore = 12000;
constexpr int kAfter = 9000;

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}
} // namespace

QString candidateKindText(Candidate::Kind kind) {
    switch (kind) {
    case Candidate::Keyword:
        return QStringLiteral("Schlüsselwort");
    case Candidate::Function:
        return QStringLiteral("Funktion");
    case Candidate::Schema:
        return QStringLiteral("Schema");
    case Candidate::Table:
        return QStringLiteral("Tabelle");
    case Candidate::View:
        return QStringLiteral("Sicht");
    case Candidate::Procedure:
        return QStringLiteral("Prozedur");
    case Candidate::UserFunction:
        return QStringLiteral("Benutzerfunktion");
    case Candidate::Column:
        return QStringLiteral("Spalte");
    }
    return {};
}

void CandidateList::setCandidates(QList<Candidate> candidates) {
    beginResetModel();
    m_candidates = std::move(candidates);
    endResetModel();
}

int CandidateList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_candidates.size());
}

QVariant CandidateList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_candidates.size())
        return {};
    const Candidate& c = m_candidates[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return c.text;
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        return candidateKindText(c.kind);
    default:
        return {};
    }
}

Completer::Completer(TextPane* editor)
    : QObject(editor), m_editor(editor), m_popup(new QListView), m_list(new CandidateList(this)) {
    m_model.setCatalog(nullptr);
    m_popup->setObjectName(QStringLiteral("LBCompletion"));
    m_popup->setAccessibleName(QStringLiteral("Vorschläge"));
    m_popup->setModel(m_list);
    m_popup->setUniformItemSizes(true);
    m_popup->setFocusPolicy(Qt::NoFocus);
    m_popup->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_popup->setSelectionMode(QAbstractItemView::SingleSelection);
    m_popup->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_popup->hide();
    connect(m_popup, &QListView::clicked, this, [this](const QModelIndex& index) {
        m_popup->setCurrentIndex(index);
        accept();
    });
    editor->installEventFilter(this);
    connect(editor, &TextPane::cursorPositionChanged, this, [this] {
        // The caret left the word (a click, a move): the list goes.
        if (isActive() && !m_forwarding) {
            const int caret = m_editor->textCursor().position();
            if (caret < m_context.start || m_editor->textCursor().hasSelection())
                close();
        }
    });
}

Completer::~Completer() {
    delete m_popup.data(); // it lives in the window, not in the editor
}

void Completer::setCatalog(std::shared_ptr<const data::Catalog> catalog) {
    m_model.setCatalog(std::move(catalog));
    if (isActive())
        refresh(m_opened);
}

bool Completer::isActive() const {
    return m_popup && m_popup->isVisible();
}

void Completer::complete() {
    refresh(true);
}

void Completer::close() {
    if (m_popup)
        m_popup->hide();
    m_opened = false;
}

void Completer::refresh(bool opened) {
    if (!m_popup)
        return;
    // Only the text around the caret is read: the statement it is in, not
    // a script of megabytes at every keystroke.
    const int position = m_editor->textCursor().position();
    const int from = std::max(0, position - kBefore);
    QTextCursor around(m_editor->document());
    around.setPosition(from);
    around.setPosition(std::min(m_editor->document()->characterCount() - 1, position + kAfter),
                       QTextCursor::KeepAnchor);
    const QString text = around.selectedText().replace(QChar::ParagraphSeparator, u'\n');
    const int caret = position - from;
    m_context = completionContextAt(text, caret);
    // Typing opens the list only for a word begun or after a dot.
    const bool typedEnough =
        opened || !m_context.prefix.isEmpty() || m_context.kind == CompletionContext::Members;
    QList<Candidate> found;
    if (typedEnough)
        found = m_model.candidates(m_context, text, caret);
    m_context.start += from; // in positions of the document
    // A word typed out in full is no reason to keep the list.
    if (found.isEmpty() ||
        (!opened && found.size() == 1 && found.front().text == m_context.prefix)) {
        close();
        return;
    }
    m_opened = opened;
    m_list->setCandidates(std::move(found));
    m_popup->setCurrentIndex(m_list->index(0));
    place();
}

void Completer::place() {
    QWidget* window = m_editor->window();
    if (m_popup->parentWidget() != window) {
        m_popup->setParent(window);
        m_popup->setWindowFlags(Qt::Widget);
    }
    const QRect caret = m_editor->cursorRect();
    const int row = std::max(m_popup->sizeHintForRow(0), m_editor->fontMetrics().height());
    const int rows = std::min<int>(kVisibleRows, int(m_list->candidates().size()));
    const QSize size(std::max(260, m_editor->width() / 3), row * rows + 2 * m_popup->frameWidth());
    QPoint at = m_editor->viewport()->mapTo(window, caret.bottomLeft() + QPoint(0, 2));
    if (at.y() + size.height() > window->height()) // no room below: above the caret
        at.setY(m_editor->viewport()->mapTo(window, caret.topLeft()).y() - size.height() - 2);
    at.setX(std::clamp(at.x(), 0, std::max(0, window->width() - size.width())));
    m_popup->setGeometry(QRect(at, size));
    m_popup->show();
    m_popup->raise();
}

void Completer::accept() {
    const QModelIndex index = m_popup->currentIndex();
    if (!index.isValid() || index.row() >= m_list->candidates().size()) {
        close();
        return;
    }
    const Candidate chosen = m_list->candidates()[index.row()];
    QTextCursor cursor = m_editor->textCursor();
    const int caret = cursor.position();
    // One edit block: one step of undo, and no layout of a long line by the
    // cursor's moves.
    cursor.beginEditBlock();
    cursor.setPosition(int(m_context.start));
    cursor.setPosition(caret, QTextCursor::KeepAnchor);
    cursor.insertText(chosen.insert);
    cursor.endEditBlock();
    m_editor->setTextCursor(cursor);
    close();
}

bool Completer::handleKey(QKeyEvent* e) {
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (ctrl && e->key() == Qt::Key_Space) {
        complete();
        return true;
    }
    if (isActive()) {
        const int count = int(m_list->candidates().size());
        const int row = m_popup->currentIndex().row();
        auto go = [&](int to) {
            m_popup->setCurrentIndex(m_list->index(std::clamp(to, 0, count - 1)));
            return true;
        };
        switch (e->key()) {
        case Qt::Key_Up:
            return go(row - 1);
        case Qt::Key_Down:
            return go(row + 1);
        case Qt::Key_PageUp:
            return go(row - kVisibleRows);
        case Qt::Key_PageDown:
            return go(row + kVisibleRows);
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
            accept();
            return true;
        case Qt::Key_Escape:
            close();
            return true;
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            close();
            return false;
        default:
            break;
        }
    }
    // Typing: the editor takes the key first, then the list follows it.
    const QString text = e->text();
    const bool typing =
        !ctrl && !(e->modifiers() & Qt::AltModifier) &&
        ((!text.isEmpty() && text.at(0).isPrint()) || e->key() == Qt::Key_Backspace);
    if (!typing || m_editor->isReadOnly())
        return false;
    const bool wasActive = isActive();
    m_forwarding = true;
    QCoreApplication::sendEvent(m_editor, e);
    m_forwarding = false;
    const QChar typed = text.isEmpty() ? QChar() : text.at(0);
    if (e->key() == Qt::Key_Backspace) {
        if (wasActive)
            refresh(m_opened);
    } else if (isWordChar(typed) || typed == u'.' || typed == u'[') {
        refresh(wasActive && m_opened);
    } else {
        close();
    }
    return true;
}

bool Completer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_editor || m_forwarding)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Keys the list takes win over the window's shortcuts (Escape
        // would cancel, Ctrl+Space is nobody's).
        auto* e = static_cast<QKeyEvent*>(event);
        const bool ctrlSpace = e->key() == Qt::Key_Space && (e->modifiers() & Qt::ControlModifier);
        const bool listKey =
            isActive() && (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Tab ||
                           e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter);
        if (ctrlSpace || listKey) {
            e->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress:
        return handleKey(static_cast<QKeyEvent*>(event));
    case QEvent::FocusOut:
        if (QApplication::focusWidget() != m_popup)
            close();
        break;
    case QEvent::Hide:
        close();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace editor
