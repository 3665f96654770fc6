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
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTextBlock>

namespace {

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
        if (m_script->single())
            runSingleBatch();
        else
            runWholeScript();
    } catch (...) {
        if (m_running)
            endStatement();
        m_script.reset();
        PAGrid->setVisible(true);
        if (!quiet)
            throw;
    }
}

void TFMMain::runSingleBatch() {
    ScriptRun& run = *m_script;
    const SqlBatch& batch = run.batches.front();
    m_batchFirstLine = run.textFirstLine + batch.firstLine;
    QPointer<TFMMain> self(this);
    auto done = [self](std::exception_ptr error, bool cancelled) {
        if (self)
            self->scriptRunEnded(error, cancelled);
    };
    if (run.query) {
        TADODataSet* dataSet = dm().ADOdsQuery;
        watchResults(dataSet);
        dataSet->setCommandText(batch.text);
        dataSet->OpenAsync(done);
    } else {
        TADOCommand& command = *dm().ADOCommand;
        command.setCommandText(batch.text);
        command.ExecuteAsync(done);
    }
}

void TFMMain::runWholeScript() {
    ScriptRun& run = *m_script;
    QList<data::ScriptStep> steps;
    for (const SqlBatch& batch : std::as_const(run.batches))
        steps.append({batch.text, batch.repeat});
    // The batches run one after the other on the connection's worker, which
    // never waits for this thread; what they report comes here in order.
    QPointer<TFMMain> self(this);
    data::ScriptEvents events;
    events.started = [self](int step) {
        if (self)
            self->scriptBatchStarted(step);
    };
    events.ended = [self](int step, std::exception_ptr error) {
        if (self)
            self->scriptBatchEnded(step, error);
    };
    auto done = [self](std::exception_ptr error, bool cancelled) {
        if (self)
            self->scriptRunEnded(error, cancelled);
    };
    if (run.query) {
        TADODataSet* dataSet = dm().ADOdsQuery;
        watchResults(dataSet);
        dataSet->setCommandText(run.batches.front().text);
        dataSet->OpenScriptAsync(steps, std::move(events), std::move(done));
    } else {
        dm().ADOCommand->ExecuteScriptAsync(steps, std::move(events), std::move(done));
    }
}

void TFMMain::scriptBatchStarted(int step) {
    if (!m_script)
        return;
    ScriptRun& run = *m_script;
    run.index = step;
    run.errorListed = false;
    m_batchFirstLine = run.textFirstLine + run.batches[step].firstLine;
}

void TFMMain::scriptBatchEnded(int step, std::exception_ptr error) {
    if (!m_script || !error)
        return;
    ScriptRun& run = *m_script;
    if (run.query && isNoResultSet(error))
        return; // a batch of a script need not return rows
    ++run.failed;
    run.lastError = error;
    if (!run.errorListed)
        addErrorMessage(QString(), exceptionMessage(error), -1);
    addMessage(failedBatchLine(step + 1, run.textFirstLine + run.batches[step].firstLine));
}

void TFMMain::scriptRunEnded(std::exception_ptr error, bool cancelled) {
    if (!m_script)
        return;
    ScriptRun& run = *m_script;
    if (m_tearingDown) {
        endStatement();
        m_script.reset();
        return;
    }
    // A lost session ended the batch it broke (told above); one that could
    // not even be opened ended the script before its first batch.
    if (error && !run.lastError) {
        ++run.failed;
        run.lastError = error;
        if (!run.errorListed)
            addErrorMessage(QString(), exceptionMessage(error), -1);
    }
    if (cancelled || run.cancelled) {
        run.cancelled = true;
        addMessage(QStringLiteral("Abfrage abgebrochen."));
    }
    scriptFinished();
}

void TFMMain::scriptFinished() {
    flushMessages();
    std::unique_ptr<ScriptRun> run = std::move(m_script);
    endStatement();
    recordRunEnd(*run);
    const bool haveResult = currentResult() && currentResult()->Active();
    if (run->query) {
        // The grids of the results in view are there when the run has ended.
        layoutResults();
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
        m_script->errorListed = true;
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
    for (const QString& line : {heading, text})
        if (!line.isEmpty())
            queueMessage({line, true, editorLine});
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
