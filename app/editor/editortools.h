#pragma once
// The query editor's tools in one place, for the main window to create once
// and wire: completion with the catalog read in the background, the find
// bar, the work kept between runs and the history of runs with its window.
// Its actions carry their German texts and shortcuts; the window puts them
// into its menus.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

class QAction;
class QWidget;
class TextPane;
class TADOConnection;

namespace data {
class CatalogReader;
}

namespace editor {

class Completer;
class FindBar;
class HistoryWindow;
class WorkKeeper;

class EditorTools : public QObject {
    Q_OBJECT
public:
    EditorTools(TextPane* editor, QWidget* window);
    ~EditorTools() override;

    Completer* completer() const { return m_completer; }
    FindBar* findBar() const { return m_findBar; }
    WorkKeeper* keeper() const { return m_keeper; }
    data::CatalogReader* catalogReader() const { return m_reader; }
    HistoryWindow* historyWindow() const { return m_history; }

    QAction* findAction() const { return m_find; }
    QAction* replaceAction() const { return m_replace; }
    QAction* gotoLineAction() const { return m_gotoLine; }
    QAction* historyAction() const { return m_showHistory; }

    // Reads the catalog a moment after the connection opens (after
    // connecting and after each change of database, as the window opens the
    // connection anew for it).
    void watchConnection(TADOConnection* connection);
    // Reads the catalog of the watched connection again.
    void refreshCatalog();

    // The window's runs: recorded in the history; a run that may have
    // changed the catalog makes the completion read it again.
    void runStarted(const QString& text, const QString& server, const QString& database);
    void runFinished(qint64 rows, const QString& error, bool cancelled);
    // "Neu" and "Öffnen..." replace the editor's text: it goes to the history.
    void textReplaced(const QString& previousText);

    void showHistory();

private:
    TextPane* m_editor;
    QWidget* m_window;
    Completer* m_completer;
    FindBar* m_findBar;
    WorkKeeper* m_keeper;
    data::CatalogReader* m_reader;
    HistoryWindow* m_history = nullptr;
    QPointer<TADOConnection> m_connection;
    QTimer m_readSoon;
    QString m_runText;
    QAction* m_find;
    QAction* m_replace;
    QAction* m_gotoLine;
    QAction* m_showHistory;
};

} // namespace editor
