// Running the editor's text: split into batches at its GO lines, each batch
// run after the other on the one connection, every result set in a grid of
// its own, and what the server says listed on the messages page as it comes.

#include "app/uMain.h"

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/logic/messagetext.h"
#include "app/logic/sqlbatches.h"
#include "app/logic/sqlscanner.h"
#include "app/uDM.h"
#include "modal/modal.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>

namespace {

// Whether the error came through the connection's messages already (then the
// messages page shows it with the server's heading).
bool errorAlreadyListed(const data::MessageList& messages) {
    for (const data::DiagRecord& r : messages)
        if (r.isError())
            return true;
    return false;
}

bool isNoResultSet(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const data::NoResultSetError&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

void TFMMain::ACQueryExecute() {
    runQuery(std::nullopt);
}

void TFMMain::ACExecuteExecute() {
    if (m_running)
        return;
    startScript(false, std::nullopt, false);
}

void TFMMain::runQuery(const std::optional<QString>& exactText, bool quiet) {
    if (m_running)
        return;
    startScript(true, exactText, quiet);
}

void TFMMain::startScript(bool query, const std::optional<QString>& exactText, bool quiet) {
    auto run = std::make_unique<ScriptRun>();
    run->query = query;
    run->quiet = quiet;
    if (exactText) {
        run->batches = {SqlBatch{*exactText, 0, 1}};
    } else {
        const bool selection = MEQuery->textCursor().hasSelection();
        const QString text = selection ? editorSelection() : editorLines().join(u'\n');
        if (selection)
            run->textFirstLine = MEQuery->document()
                                     ->findBlock(MEQuery->textCursor().selectionStart())
                                     .blockNumber();
        run->batches = splitBatches(text);
        if (run->batches.isEmpty()) // nothing but blanks and comments: sent as it is
            run->batches = {SqlBatch{text, 0, 1}};
        // Comments go, line breaks and strings stay: the server's line
        // numbers are the editor's, and a string that spans lines arrives
        // as typed.
        if (query)
            for (SqlBatch& batch : run->batches)
                batch.text = stripComments(batch.text);
    }
    run->runsLeft = run->batches.front().repeat;
    recordRunStart(exactText);
    try {
        PCMain->setCurrentIndex(0);
        if (query) {
            PAGrid->setVisible(false);
            clearResults();
        } else {
            PAGrid->setVisible(true);
        }
        clearMessages();
        m_script = std::move(run);
        m_script->clock.start();
        beginStatement();
        runNextBatch();
    } catch (...) {
        if (m_running)
            endStatement();
        m_script.reset();
        PAGrid->setVisible(true);
        if (!quiet)
            throw;
    }
}

void TFMMain::runNextBatch() {
    ScriptRun& run = *m_script;
    const SqlBatch& batch = run.batches[run.index];
    m_batchFirstLine = run.textFirstLine + batch.firstLine;
    QPointer<TFMMain> self(this);
    auto done = [self](std::exception_ptr error, bool cancelled) {
        if (self)
            self->batchFinished(error, cancelled);
    };
    if (run.query) {
        TADODataSet* dataSet = dm().ADOdsQuery;
        if (dataSet->Active() || !m_resultGrids.isEmpty()) {
            // A later batch of the script: a dataset of its own, so the
            // results of the earlier ones stay.
            dataSet = new TADODataSet(this);
            dataSet->setConnection(dm().ADOConnMain);
            dataSet->setCommandTimeout(dm().ADOdsQuery->CommandTimeout());
            m_batchDataSets.append(dataSet);
        }
        watchResults(dataSet);
        dataSet->setCommandText(batch.text);
        dataSet->OpenAsync(done);
    } else {
        TADOCommand& command = *dm().ADOCommand;
        command.setCommandText(batch.text);
        command.ExecuteAsync(done);
    }
}

void TFMMain::batchFinished(std::exception_ptr error, bool cancelled) {
    if (!m_script)
        return;
    ScriptRun& run = *m_script;
    if (m_tearingDown) {
        endStatement();
        m_script.reset();
        return;
    }
    const bool single = run.single();
    if (error && run.query && !single && isNoResultSet(error))
        error = nullptr; // a batch of a script need not return rows
    if (error) {
        ++run.failed;
        run.lastError = error;
        if (!errorAlreadyListed(dm().ADOConnMain->Messages()))
            addErrorMessage(QString(), exceptionMessage(error), -1);
        if (!single)
            addMessage(failedBatchLine(run.index + 1,
                                       run.textFirstLine + run.batches[run.index].firstLine));
    }
    if (cancelled || run.cancelled) {
        run.cancelled = true;
        addMessage(QStringLiteral("Abfrage abgebrochen."));
    }
    const bool broken = dm().ADOConnMain->isBroken();
    if (!run.cancelled && !broken) {
        if (--run.runsLeft > 0) {
            runNextBatch();
            return;
        }
        if (run.index + 1 < run.batches.size()) {
            ++run.index;
            run.runsLeft = run.batches[run.index].repeat;
            runNextBatch();
            return;
        }
    }
    scriptFinished();
}

void TFMMain::scriptFinished() {
    std::unique_ptr<ScriptRun> run = std::move(m_script);
    endStatement();
    recordRunEnd(*run);
    const bool haveResult = currentResult() && currentResult()->Active();
    if (run->query) {
        // A cancel before the first row leaves no result set.
        PAGrid->setVisible(!anyResultShown());
        // An export that failed half-way may have left the grid suspended.
        dm().ADOdsQuery->EnableControls();
    } else if (!run->failed && !run->cancelled && run->single()) {
        const TParameters& params = dm().ADOCommand->Parameters();
        for (int i = 0; i < params.Count(); ++i)
            addMessage(params.Name(i) + QStringLiteral(": ") + variantDisplayText(params.Value(i)));
    }
    const TADODataSet* result = currentResult();
    LBStatusBar3->setText(runSummaryText(haveResult ? result->RecordCount() : 0,
                                         run->query && haveResult,
                                         haveResult && result->Incomplete(), run->clock.elapsed()));
    LBStatusBar3->adjustSize();
    if (!run->quiet && run->failed) {
        if (run->single()) {
            // One batch: its error in the message box, as it always was.
            try {
                std::rethrow_exception(run->lastError);
            } catch (...) {
                showCurrentException();
            }
        } else {
            modal::MessageRequest box;
            box.parent = this;
            box.icon = QMessageBox::Warning;
            box.caption = applicationTitle();
            box.text = failedBatchesText(run->failed, int(run->batches.size()));
            box.buttons = QMessageBox::Ok;
            box.defaultButton = QMessageBox::Ok;
            modal::message(box);
        }
    }
    if (m_closeAfterRun)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TFMMain::serverMessage(const data::DiagRecord& record) {
    if (!m_script)
        return;
    if (record.kind == data::MessageKind::Error) {
        ServerMessage m;
        m.number = record.nativeError;
        m.severity = record.severity;
        m.state = record.state;
        m.line = record.line;
        m.procedure = record.procedure;
        // An error inside a procedure points at the procedure's line, not
        // the script's.
        const int editorLine =
            record.procedure.isEmpty() ? editorLineOf(record.line, m_batchFirstLine, 0) : -1;
        addErrorMessage(errorHeading(m), record.message, editorLine);
        return;
    }
    addMessage(record.kind == data::MessageKind::RowCount ? rowsAffectedText(record.rows)
                                                          : record.message);
}

void TFMMain::addErrorMessage(const QString& heading, const QString& text, int editorLine) {
    // Errors stand out in red; a double click on one goes to its line.
    QTextCharFormat red;
    red.setForeground(QColor(0xC0, 0x00, 0x00));
    for (const QString& line : {heading, text}) {
        if (line.isEmpty())
            continue;
        addMessage(line);
        QTextCursor cursor(REMessages->document()->lastBlock());
        cursor.select(QTextCursor::BlockUnderCursor);
        cursor.movePosition(QTextCursor::StartOfBlock);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(red);
        REMessages->document()->lastBlock().setUserState(editorLine);
    }
}

void TFMMain::messageDoubleClicked(const QPoint& viewportPos) {
    const QTextBlock block = REMessages->cursorForPosition(viewportPos).block();
    const int line = block.userState();
    if (line < 0 || line >= MEQuery->document()->blockCount())
        return;
    QTextCursor cursor(MEQuery->document()->findBlockByNumber(line));
    MEQuery->setTextCursor(cursor);
    MEQuery->centerCursor();
    MEQuery->setFocus(Qt::OtherFocusReason);
}
