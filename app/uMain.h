#pragma once
// The main window: title region, toolbars, table list, SQL editor, result and
// message pages, status line. Every user command starts in one of its
// handlers; the handlers are split over several files by subject:
//   uMain.cpp            activation, key preview, the hint line, closing
//   uMain_layout.cpp     building the components, actions, menus and toolbars
//   uMain_frame.cpp      the window frame, its buttons and the about window
//   uMain_browse.cpp     connecting, the database box and the table list
//   uMain_query.cpp      running queries and commands
//   uMain_scripts.cpp    opening and saving scripts
//   uMain_export.cpp     exporting the result
//   uMain_structure.cpp  the table structure window
//   uMain_settings.cpp   the settings dialog and the stored settings

#include "app/grid/DBBGrid.h"
#include "app/logic/sqlbatches.h"
#include "app/scripteditor.h"
#include "controls/VelStylePanel.h"
#include "structure/globals.h"
#include "structure/waitcursor.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <array>
#include <exception>
#include <memory>
#include <optional>

class ConnectPrompt;
class QCheckBox;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QMenuBar;
class QSpinBox;
class QScrollArea;
class ResultStack;
class QSplitter;
class QTimer;
class QTabWidget;
class QPlainTextEdit;
class QToolBar;
class QVBoxLayout;
class TDM;
class TVelADObatchmove;
class ImageList;
class TVelGripLine;
class TVelLinkLabel;
namespace editor {
class EditorTools;
}

// Process-wide values of the main window.
extern bool FirstActivation;  // true until the first activation has begun
extern bool TableListFocused; // the table list had the focus last
extern QString ServerProductVersion;

// The database box: an editable, sorted combo box that reports when its list
// closes.
class TDatabaseComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDatabaseComboBox(QWidget* parent = nullptr);
    // Adds text at its place in the box's order (case-insensitive, by the
    // locale's collation: "<Erneut einlesen>" sorts ahead of every name).
    void addSorted(const QString& text);
    void hidePopup() override;
signals:
    void closedUp();
};

class TFMMain : public QWidget {
    Q_OBJECT
public:
    explicit TFMMain(QWidget* parent = nullptr);
    ~TFMMain() override;

    // The data module is created after the main window (start-up order); the
    // window uses it only once it has been attached.
    void attachDataModule(TDM* dm);
    // The component that asks for the server; the window owns it.
    void setConnectPrompt(std::unique_ptr<ConnectPrompt> prompt);
    ConnectPrompt* connectPrompt() const { return m_connect.get(); }

    // --- handlers (one per user command or event) ----------------------------
    void FormActivate();
    void Connect();
    void readfromreg();
    void writetoreg(const QString& server, const QString& database);
    void GetDatabases();
    void CBDatabaseChange();
    void GetTables();
    void CHBSystemClick();
    void ACConnectExecute();
    void ACQueryExecute();
    void LBTablesDblClick();
    void Beenden1Click();
    void ACNewExecute();
    void ACOpenExecute();
    void ACSaveExecute();
    void ACPrintExecute();
    void AcInfoExecute();
    void ACExecuteExecute();
    void LBTablesEnter();
    void MEQueryEnter();
    void FormClose();
    // Key preview: F1..F10 insert their snippet into the editor.
    void FormKeyDown(int key);
    void ApplicationEvents1Hint(const QString& hint);
    void CBDatabaseCloseUp();
    // The window frame (uMain_frame.cpp).
    void VelStylePanel1MouseDown(Qt::MouseButton button);
    void VelLLMinClick();
    void VelLLMaxClick();
    void VelLLCloseClick();
    void ApplicationEvents1Activate();
    void ApplicationEvents1Deactivate();
    void TBItemInfoClick();
    void ACTablesExecute();
    void ACSetupExecute();
    // The result grid's cell click: a large-object cell opens the cell viewer.
    void DBGridQueryCellClick(int column);
    // "Exportieren...": writes the result set into a file chosen by the user.
    void ACExportExecute();
    // "Abbrechen" (Escape): asks the server to stop the running statement.
    void ACCancelExecute();
    // A query or command runs (on the data layer's worker): the actions that
    // start statements or use the result are disabled until it has ended.
    bool statementRunning() const { return m_running; }

    // --- fields shared with the settings ------------------------------------
    QString SavedServer;
    QString SavedDatabase;
    TShortcutTexts ShortcutTexts; // F1 is index 0
    bool SameServer = false;

    // --- components ---------------------------------------------------------
    TVelStylePanel* VelStylePanel1 = nullptr;
    QLabel* Image4 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label3 = nullptr;
    TDatabaseComboBox* CBDatabase = nullptr;
    TVelStylePanel* VelStylePanel2 = nullptr;
    QLabel* LBStatusbar1 = nullptr;
    QLabel* LBStatusBar2 = nullptr;
    QLabel* LBStatusBar3 = nullptr;
    TVelGripLine* VelGripLine1 = nullptr;
    TVelGripLine* VelGripLine2 = nullptr;
    TVelGripLine* VelGripLine3 = nullptr;
    TVelLinkLabel* VelLLMin = nullptr;
    TVelLinkLabel* VelLLMax = nullptr;
    TVelLinkLabel* VelLLClose = nullptr;
    ImageList* ILWinIcons = nullptr;
    QFrame* PAMain = nullptr;
    QWidget* TBDock1 = nullptr;
    QToolBar* TBToolbar2 = nullptr;
    QMenuBar* TBMenuBar = nullptr;
    QToolBar* TBToolbar1 = nullptr;
    QFrame* Panel1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QWidget* PATables = nullptr;
    QLabel* LBTablesLabel = nullptr;
    QCheckBox* CHBSystem = nullptr;
    QListWidget* LBTables = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QWidget* PCLeft = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* PAQuery = nullptr;
    QTabWidget* PageControl1 = nullptr;
    ScriptEditor* MEQuery = nullptr;
    QLabel* LBMaxRec = nullptr;
    QSpinBox* EDMaxRec = nullptr;
    QTabWidget* PCMain = nullptr;
    TDBBGrid* DBGridQuery = nullptr;
    // The results, one grid each, one below the other, scrolling when they
    // do not fit.
    QScrollArea* SBResults = nullptr;
    ResultStack* PAResults = nullptr;
    QLabel* PAGrid = nullptr;
    QPlainTextEdit* REMessages = nullptr;

    // Actions (ActionListMain).
    QAction* ACConnect = nullptr;
    QAction* ACNew = nullptr;
    QAction* ACOpen = nullptr;
    QAction* ACSave = nullptr;
    QAction* ACQuery = nullptr;
    QAction* ACExecute = nullptr;
    QAction* ACTables = nullptr;
    QAction* AcInfo = nullptr;
    QAction* ACPrint = nullptr;
    QAction* ACImport = nullptr;
    QAction* ACExport = nullptr;
    QAction* ACSetup = nullptr;
    QAction* ACCancel = nullptr;
    QAction* Beenden1 = nullptr;
    QAction* TBItemInfo = nullptr;

    // The export engine; its source is the data module's result set.
    TVelADObatchmove* VelADObatchmove1 = nullptr;

    // The file names last chosen in the open and save dialogs.
    QString OpenDialogSQLFileName;
    QString SaveDialogSQLFileName;

    // Loads a script file into the editor / writes the editor into a file;
    // both throw the file errors the user reads.
    void loadScript(const QString& fileName);
    void saveScript(const QString& fileName) const;

    TDM* dataModule() const { return m_dm; }
    // Completion, find bar, the work kept between runs, the history.
    editor::EditorTools* editorTools() const { return m_editorTools; }

    // The text "Abfrage starten" sends: the selection or every line, with
    // comments removed, line breaks and strings kept.
    QString queryText() const;
    // The result export, structure and the cell viewer act on: the one in
    // the result grid that has or last had the focus.
    TADODataSet* currentResult() const;
    // The grids of the results after the first, in order: those made so far
    // (a grid is made when its place comes into view).
    QList<TDBBGrid*> resultGrids() const;
    // How many result sets the results page holds, the first one included.
    int resultCount() const;
    // The dataset of result i (0 the first), null when there is none.
    TADODataSet* resultDataSet(int i) const;
    // Before something would end the session's open transaction (closing,
    // another database, reconnecting): asks whether to commit or roll it
    // back; false when the user chose not to go on.
    bool settleOpenTransaction();
    // The same, with a failure shown: false when the session stays as it is.
    bool transactionSettled();
    // The text "Ausführen" sends: the selection or every line, as typed,
    // each line ended by a line break.
    QString commandText() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildActions();
    void buildTitleRegion(const QPixmap& appIcon);
    void buildStatusRegion();
    // Turns the title and status regions into the window's own frame.
    void buildFrame();
    void buildMainArea();
    void buildToolbars();
    // Names and roles for screen readers where no label gives them.
    void nameForScreenReaders();
    void applySkin();
    void connectHandlers();
    // Appends one line to the message pane.
    void addMessage(const QString& line);
    void clearMessages();
    bool connectionOpen() const;
    ConnectPrompt& connection();
    // Index of the database box's selected entry; -1 when the text was typed
    // and is not the selected entry's.
    int databaseIndex() const;
    // The selection of the editor with its line breaks as CR LF.
    QString editorSelection() const;
    // The editor's text split at its line breaks (a final empty line counts).
    QStringList editorLines() const;
    TDM& dm() const;
    // Runs a query: the given text as it stands, or else the editor's text
    // (its selection or every line) with comments removed.
    // `quiet`: an error is not shown (the quick query).
    void runQuery(const std::optional<QString>& exactText, bool quiet = false);
    // Runs the text's batches one after the other, as a query (results into
    // grids) or as a command.
    struct ScriptRun {
        bool query = true; // "Abfrage starten": results into grids; "Ausführen": a command
        bool quiet = false;
        QList<SqlBatch> batches;
        int textFirstLine = 0; // editor line the text that runs starts at
        int index = 0;         // the batch that runs
        int failed = 0;
        bool cancelled = false;
        bool errorListed = false; // the running batch's error came with the server's heading
        std::exception_ptr lastError;
        QElapsedTimer clock;
        bool single() const { return batches.size() == 1 && batches.front().repeat == 1; }
    };
    void startScript(bool query, const std::optional<QString>& exactText, bool quiet);
    // One batch run once: the dataset or command runs it as it always did.
    void runSingleBatch();
    // A script of several batches: all of them handed to the worker at once.
    void runWholeScript();
    void scriptBatchStarted(int step);
    void scriptBatchEnded(int step, std::exception_ptr error);
    void scriptRunEnded(std::exception_ptr error, bool cancelled);
    void scriptFinished();
    // The history of runs (uMain_settings.cpp): a run begins, a run ended.
    void recordRunStart(const std::optional<QString>& exactText);
    void recordRunEnd(const ScriptRun& run);
    // The editor's text is replaced by "Neu" or by the file named.
    void editorTextReplaced(const QString& fileName);
    // The editor's tools: catalog, kept work (start, close).
    void startEditorTools();
    void keepEditorWork();
    void addEditorMenuEntries();
    // A message of the running statement, listed as it arrives.
    void serverMessage(const data::DiagRecord& record);
    // An error's heading and text in red; `editorLine` (0-based, -1 none) is
    // where a double click on it goes.
    void addErrorMessage(const QString& heading, const QString& text, int editorLine);
    void messageDoubleClicked(const QPoint& viewportPos);
    // The result grids.
    void clearResults();
    void watchResults(TADODataSet* dataSet);
    void addResultGrid(TADODataSet* dataSet);
    TDBBGrid* makeResultGrid(TADODataSet* dataSet, int number);
    // Places the grids; `now`: makes the grids in view at once rather than a
    // few at a time.
    void layoutResults(bool now = true);
    TDBBGrid* gridOf(const TADODataSet* dataSet) const;
    void resultGridFocused(QObject* grid);
    bool isResultGrid(QObject* object) const;
    bool anyResultShown() const;
    // The window while a statement runs: hourglass, locked actions, the
    // count of rows read in the status line; and back.
    void beginStatement();
    void endStatement();
    void showRowsRead(bool force);

    TDM* m_dm = nullptr;
    editor::EditorTools* m_editorTools = nullptr;
    std::unique_ptr<ConnectPrompt> m_connect;
    bool m_inActivation = false;
    bool m_placementSaved = false;
    bool m_cpuClockPending = false; // shown, not yet painted
    int m_messageLines = 0;
    // Lines for the messages pane not yet in it (see queueMessage).
    struct PendingMessage {
        QString text;
        bool error = false;
        int editorLine = -1; // of an error: where a double click goes
    };
    void queueMessage(PendingMessage message);
    void flushMessages();
    QList<PendingMessage> m_pendingMessages;
    QTimer* m_messageFlush = nullptr;
    bool m_running = false;
    bool m_closeAfterRun = false; // the window was closed while a statement ran
    bool m_tearingDown = false;
    std::unique_ptr<WaitCursor> m_hourglass;
    QList<QPair<QObject*, bool>> m_locked; // what beginStatement disabled, and how it was
    QString m_statusBefore;
    qint64 m_statusShownAt = -1; // ms on m_statusClock when the row count was last shown
    QElapsedTimer m_statusClock;
    QList<QMetaObject::Connection> m_rowWatch;
    std::unique_ptr<ScriptRun> m_script;
    int m_batchFirstLine = 0; // editor line of the running batch's first line
    QList<QPointer<TDBBGrid>> m_resultGrids;
    QPointer<TDBBGrid> m_currentGrid;
    QList<QMetaObject::Connection> m_resultWatch; // the result datasets of the running script
};

// The quick query's statement for a table, at most maxRecords rows (0: all).
QString quickQueryStatement(const QString& table, int maxRecords);
// A value as the message pane shows it: empty for null, "True"/"False" for
// yes/no values.
QString variantDisplayText(const QVariant& value);

// Global window variables created at start-up.
extern TFMMain* FMMain;
