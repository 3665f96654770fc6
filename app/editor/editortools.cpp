#include "app/editor/editortools.h"

#include "app/editor/completer.h"
#include "app/editor/findbar.h"
#include "app/editor/historywindow.h"
#include "app/editor/runhistory.h"
#include "app/editor/workkeeper.h"
#include "controls/textpane.h"
#include "data/adoconnection.h"
#include "data/catalogreader.h"

#include <QAction>
#include <QTextDocument>

namespace editor {

namespace {
QAction* makeAction(QWidget* window, const char* name, const QString& text,
                    const QKeySequence& key) {
    auto* action = new QAction(text, window);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setStatusTip(QString(text).remove(QStringLiteral("...")));
    window->addAction(action);
    return action;
}
} // namespace

EditorTools::EditorTools(TextPane* editor, QWidget* window)
    : QObject(window), m_editor(editor), m_window(window), m_completer(new Completer(editor)),
      m_findBar(new FindBar(editor)), m_keeper(new WorkKeeper(editor)),
      m_reader(new data::CatalogReader(this)) {
    m_find = makeAction(window, "ACFind", QStringLiteral("Suchen..."), QKeySequence::Find);
    m_replace = makeAction(window, "ACReplace", QStringLiteral("Ersetzen..."),
                           QKeySequence(Qt::CTRL | Qt::Key_H));
    m_gotoLine = makeAction(window, "ACGotoLine", QStringLiteral("Gehe zu Zeile..."),
                            QKeySequence(Qt::CTRL | Qt::Key_G));
    m_showHistory = makeAction(window, "ACHistory", QStringLiteral("Verlauf"),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    m_showHistory->setStatusTip(QStringLiteral("Ausgeführte Anweisungen anzeigen"));
    connect(m_find, &QAction::triggered, this, [this] { m_findBar->open(FindBar::Find); });
    connect(m_replace, &QAction::triggered, this, [this] { m_findBar->open(FindBar::Replace); });
    connect(m_gotoLine, &QAction::triggered, this, [this] { m_findBar->open(FindBar::GotoLine); });
    connect(m_showHistory, &QAction::triggered, this, &EditorTools::showHistory);

    connect(m_reader, &data::CatalogReader::catalogRead, this,
            [this](std::shared_ptr<const data::Catalog> catalog) {
                m_completer->setCatalog(std::move(catalog));
            });
    m_readSoon.setSingleShot(true);
    m_readSoon.setInterval(300); // connecting opens and closes a few times in a row
    connect(&m_readSoon, &QTimer::timeout, this, &EditorTools::refreshCatalog);
}

EditorTools::~EditorTools() {
    delete m_history;
}

void EditorTools::watchConnection(TADOConnection* connection) {
    if (m_connection == connection)
        return;
    if (m_connection)
        disconnect(m_connection, nullptr, this, nullptr);
    m_connection = connection;
    if (!connection)
        return;
    // Sent from the statement's worker when it opens the session there: the
    // context object makes it arrive on this thread.
    connect(connection, &TADOConnection::connectedChanged, this, [this](bool connected) {
        if (connected)
            m_readSoon.start();
    });
    if (connection->Connected())
        m_readSoon.start();
}

void EditorTools::refreshCatalog() {
    if (m_connection && !m_connection->ConnectionString().isEmpty())
        m_reader->read(m_connection->ConnectionString());
}

void EditorTools::runStarted(const QString& text, const QString& server, const QString& database) {
    m_runText = text;
    RunHistory::instance().runStarted(text, server, database);
}

void EditorTools::runFinished(qint64 rows, const QString& error, bool cancelled) {
    RunHistory::instance().runFinished(rows, error, cancelled);
    if (changesCatalog(m_runText))
        refreshCatalog();
    m_runText.clear();
}

void EditorTools::textReplaced(const QString& previousText) {
    RunHistory::instance().keepReplacedText(previousText);
}

void EditorTools::showHistory() {
    if (!m_history) {
        m_history = new HistoryWindow(m_window);
        connect(m_history, &HistoryWindow::statementChosen, this, [this](const QString& text) {
            // Below what the editor holds, after an empty line, and selected,
            // so that F5 runs just this statement.
            QTextCursor cursor(m_editor->document());
            cursor.movePosition(QTextCursor::End);
            cursor.beginEditBlock();
            if (!m_editor->document()->isEmpty())
                cursor.insertText(m_editor->toPlainText().endsWith(u'\n') ? QStringLiteral("\n")
                                                                          : QStringLiteral("\n\n"));
            const int start = cursor.position();
            cursor.insertText(text);
            cursor.endEditBlock();
            cursor.setPosition(start, QTextCursor::KeepAnchor);
            m_editor->setTextCursor(cursor);
            m_window->activateWindow();
            m_editor->setFocus(Qt::OtherFocusReason);
        });
    }
    RunHistory::instance().flush();
    m_history->open(RunHistory::instance().path());
}

} // namespace editor
