// The main window's life: activation, key preview, hint line, closing.

#include "app/uMain.h"

#include "app/application.h"
#include "app/connectprompt.h"
#include "app/grid/DBBGrid.h"
#include "app/logic/utools.h"
#include "app/uDM.h"
#include "settings/placement.h"
#include "structure/waitcursor.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStatusTipEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

namespace {
// Starts the processor clock measurement; posted by the window's first paint.
const QEvent::Type kStartCpuClock = QEvent::Type(QEvent::registerEventType());
} // namespace

bool FirstActivation = true;
bool TableListFocused = false;
QString ServerProductVersion;

TFMMain::~TFMMain() {
    // A statement still running ends before the window goes.
    if (m_running && m_dm) {
        m_tearingDown = true;
        m_dm->ADOConnMain->waitIdle();
    }
    // Child widgets lose their focus while they are destroyed; the database
    // box must not start a reconnect on a window that is half torn down.
    if (CBDatabase) {
        CBDatabase->disconnect(this);
        if (CBDatabase->lineEdit())
            CBDatabase->lineEdit()->disconnect(this);
    }
    if (!m_placementSaved) {
        try {
            settings::savePlacement(this, settings::SaveMoment::Destroying);
        } catch (...) {
        }
    }
    if (FMMain == this)
        FMMain = nullptr;
}

void TFMMain::connectHandlers() {
    connect(ACConnect, &QAction::triggered, this, &TFMMain::ACConnectExecute);
    connect(ACNew, &QAction::triggered, this, &TFMMain::ACNewExecute);
    connect(ACOpen, &QAction::triggered, this, &TFMMain::ACOpenExecute);
    connect(ACSave, &QAction::triggered, this, &TFMMain::ACSaveExecute);
    connect(ACPrint, &QAction::triggered, this, &TFMMain::ACPrintExecute);
    connect(ACQuery, &QAction::triggered, this, &TFMMain::ACQueryExecute);
    connect(ACExecute, &QAction::triggered, this, &TFMMain::ACExecuteExecute);
    connect(AcInfo, &QAction::triggered, this, &TFMMain::AcInfoExecute);
    connect(Beenden1, &QAction::triggered, this, &TFMMain::Beenden1Click);
    connect(ACTables, &QAction::triggered, this, &TFMMain::ACTablesExecute);
    connect(ACSetup, &QAction::triggered, this, &TFMMain::ACSetupExecute);
    connect(ACExport, &QAction::triggered, this, &TFMMain::ACExportExecute);
    connect(ACCancel, &QAction::triggered, this, &TFMMain::ACCancelExecute);
    connect(DBGridQuery, &TDBBGrid::CellClick, this, &TFMMain::DBGridQueryCellClick);
    connect(CHBSystem, &QCheckBox::clicked, this, &TFMMain::CHBSystemClick);
    connect(LBTables, &QListWidget::itemDoubleClicked, this, &TFMMain::LBTablesDblClick);
    connect(LBTables, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(LBTables->viewport()->mapToGlobal(pos));
    });
    // The database box changes by a choice from its list or by typing; text
    // set from code raises nothing.
    connect(CBDatabase, &QComboBox::activated, this, &TFMMain::CBDatabaseChange);
    connect(CBDatabase->lineEdit(), &QLineEdit::textEdited, this, &TFMMain::CBDatabaseChange);
    connect(CBDatabase, &TDatabaseComboBox::closedUp, this, &TFMMain::CBDatabaseCloseUp);
}

void TFMMain::setConnectPrompt(std::unique_ptr<ConnectPrompt> prompt) {
    m_connect = std::move(prompt);
}

// ---- events -------------------------------------------------------------------

bool TFMMain::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::WindowActivate: {
        const bool result = QWidget::event(e);
        FormActivate();
        return result;
    }
    case QEvent::StatusTip:
        ApplicationEvents1Hint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    default:
        if (e->type() == kStartCpuClock) {
            startCpuClockMeasurement(); // once per run
            return true;
        }
        return QWidget::event(e);
    }
}

bool TFMMain::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        // Key preview: the window sees each key once, before the control that
        // has the focus; the key then goes on to that control.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            QWidget* focus = QApplication::focusWidget();
            if (widget == focus || (!focus && widget == this))
                FormKeyDown(static_cast<QKeyEvent*>(e)->key());
        }
        // Enter on the table list does what a double click does: the quick
        // query, so it needs no mouse.
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (watched == LBTables && (key == Qt::Key_Return || key == Qt::Key_Enter) &&
            static_cast<QKeyEvent*>(e)->modifiers() == Qt::NoModifier) {
            LBTablesDblClick();
            return true;
        }
    } else if (e->type() == QEvent::MouseButtonDblClick && LBTables &&
               watched == LBTables->viewport()) {
        // The list reports a double click on an entry itself; one on an empty
        // list or below its entries runs the quick query's handler as well.
        if (!LBTables->itemAt(static_cast<QMouseEvent*>(e)->position().toPoint()))
            LBTablesDblClick();
    } else if (e->type() == QEvent::MouseButtonDblClick && REMessages &&
               watched == REMessages->viewport()) {
        // A double click on an error goes to its line of the script.
        messageDoubleClicked(static_cast<QMouseEvent*>(e)->position().toPoint());
    } else if (e->type() == QEvent::Hide && watched->isWidgetType()) {
        // A dialog of this window closed: the keys come back here (a desktop
        // without a window manager would leave them nowhere).
        if (qobject_cast<QDialog*>(watched) && watched != this && isVisible())
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!QApplication::activeModalWidget() && !QApplication::activePopupWidget())
                        activateWindow();
                },
                Qt::QueuedConnection);
    } else if (e->type() == QEvent::FocusIn) {
        if (watched == LBTables) {
            LBTablesEnter();
        } else if (watched == MEQuery || isResultGrid(watched)) {
            resultGridFocused(watched);
            MEQueryEnter();
        }
    } else if (e->type() == QEvent::Paint && m_cpuClockPending) {
        // The window paints for the first time (it or any of its controls,
        // all in one pass): the clock measurement is queued behind that pass,
        // so its thread never holds back the window's first picture.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            m_cpuClockPending = false;
            QCoreApplication::postEvent(this, new QEvent(kStartCpuClock));
        }
    }
    return false;
}

void TFMMain::showEvent(QShowEvent* e) {
    // The native window exists now: the processor clock is measured, on a
    // thread of its own, once the window has painted.
    m_cpuClockPending = true;
    QWidget::showEvent(e);
}

void TFMMain::closeEvent(QCloseEvent* e) {
    // A running statement is cancelled first; the window closes once it has
    // ended.
    if (m_running) {
        m_closeAfterRun = true;
        ACCancelExecute();
        e->ignore();
        return;
    }
    // An open transaction is committed or rolled back as the user says, or
    // the window stays.
    bool goOn = false; // a commit or rollback that fails keeps the window open
    runGuarded([&] { goOn = settleOpenTransaction(); });
    if (!goOn) {
        e->ignore();
        return;
    }
    // The position first (its writes create the settings key), then the
    // window's own settings; each error is shown on its own.
    m_placementSaved = true;
    runGuarded([this] { settings::savePlacement(this, settings::SaveMoment::Closing); });
    FormClose();
    e->accept();
}

// ---- handlers ----------------------------------------------------------------

void TFMMain::FormActivate() {
    if (!FirstActivation || m_inActivation)
        return;
    m_inActivation = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_inActivation};

    setWindowTitle(QStringLiteral("Brevalon - tarnwick 2005"));
    // A settings error is reported once; the activation then goes on with
    // the start values, so the user can still connect.
    runGuarded([this] { readfromreg(); });
    startEditorTools();
    QCoreApplication::processEvents();
    FirstActivation = false;

    Connect();
    QCoreApplication::processEvents();
    if (connectionOpen()) {
        GetDatabases();
        if (SameServer && !SavedDatabase.isEmpty()) {
            const QSignalBlocker block(CBDatabase);
            CBDatabase->setEditText(SavedDatabase);
        }
        LBStatusBar2->setText(QStringLiteral("Datenbank: ") + CBDatabase->currentText());
        GetTables();
    }
    // The keys go back to this window once the dialog is gone (a desktop
    // without a window manager would leave them nowhere), and to the editor,
    // where the work starts.
    if (isVisible()) {
        activateWindow();
        if (!focusWidget())
            MEQuery->setFocus(Qt::OtherFocusReason);
    }
}

void TFMMain::Beenden1Click() {
    close();
}

void TFMMain::FormKeyDown(int key) {
    if (key < Qt::Key_F1 || key > Qt::Key_F10)
        return;
    // Replaces the editor's selection (or inserts at its caret) without
    // moving the focus.
    QTextCursor cursor = MEQuery->textCursor();
    cursor.insertText(ShortcutTexts[std::size_t(key - Qt::Key_F1)]);
    MEQuery->setTextCursor(cursor);
}

void TFMMain::ApplicationEvents1Hint(const QString& hint) {
    LBStatusBar3->setText(hint);
    LBStatusBar3->adjustSize();
}

void TFMMain::LBTablesEnter() {
    TableListFocused = true;
}

void TFMMain::MEQueryEnter() {
    TableListFocused = false;
}

void TFMMain::FormClose() {
    SavedDatabase = CBDatabase->currentText();
    keepEditorWork();
    writetoreg(SavedServer, SavedDatabase);
}

void TFMMain::clearMessages() {
    m_pendingMessages.clear();
    if (m_messageFlush)
        m_messageFlush->stop();
    REMessages->clear();
    m_messageLines = 0;
}

void TFMMain::addMessage(const QString& line) {
    queueMessage({line, false, -1});
}

void TFMMain::queueMessage(PendingMessage message) {
    m_pendingMessages.append(std::move(message));
    // While a script runs its messages go in together a few times a second:
    // every line on its own would have the pane lay itself out thousands of
    // times, and the window would freeze on a long script.
    if (!m_script) {
        flushMessages();
        return;
    }
    if (!m_messageFlush) {
        m_messageFlush = new QTimer(this);
        m_messageFlush->setSingleShot(true);
        m_messageFlush->setInterval(50);
        connect(m_messageFlush, &QTimer::timeout, this, &TFMMain::flushMessages);
    }
    if (!m_messageFlush->isActive())
        m_messageFlush->start();
}

void TFMMain::flushMessages() {
    if (m_pendingMessages.isEmpty())
        return;
    QTextDocument* document = REMessages->document();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    // Errors stand out in red; a double click on one goes to its line.
    QTextCharFormat red;
    red.setForeground(QColor(0xC0, 0x00, 0x00));
    for (const PendingMessage& m : std::as_const(m_pendingMessages)) {
        // Plain lines in the pane's own format, whatever the line before was.
        const QTextCharFormat format = m.error ? red : QTextCharFormat();
        if (m_messageLines > 0 || !document->isEmpty())
            cursor.insertBlock(QTextBlockFormat(), format);
        cursor.insertText(m.text, format);
        if (m.error)
            cursor.block().setUserState(m.editorLine);
        ++m_messageLines;
    }
    cursor.endEditBlock();
    m_pendingMessages.clear();
}

QStringList TFMMain::editorLines() const {
    const QString text = MEQuery->toPlainText();
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        lines.removeLast(); // a final line break ends the last line, it adds none
    return lines;
}

QString TFMMain::editorSelection() const {
    QString text = MEQuery->textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}
