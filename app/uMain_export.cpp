// The result set leaving the window: the cell viewer opened from the result
// grid and "Exportieren...".

#include "app/uMain.h"

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/grid/uBlob.h"
#include "app/logic/scriptfile.h"
#include "app/uDM.h"
#include "app/windows.h"
#include "export/VelADObatchmove.h"
#include "export/exportcommand.h"
#include "export/exportjob.h"
#include "modal/modal.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <memory>

void TFMMain::DBGridQueryCellClick(int column) {
    // The viewer is created at start-up; before that (or after the end) a
    // click has nothing to open.
    auto* viewer = qobject_cast<TFMBlob*>(FMBlob);
    if (!viewer || !m_dm || m_running) // the viewer's edits would need the connection
        return;
    ::DBGridQueryCellClick(*viewer, m_dm->ADOdsQuery, column);
}

void TFMMain::ACExportExecute() {
    // One thing at a time: no export while a statement or another export runs.
    if (m_running)
        return;
    modal::FileRequest request;
    request.parent = this;
    request.save = true;
    request.caption = QStringLiteral("Tabelle exportieren");
    request.filter = exportFileFilter();
    request.defaultSuffix = QStringLiteral("dbf");
    // The export replaces an existing file; the dialog does not ask.
    request.confirmOverwrite = false;
    const QString chosen =
        withDefaultExtension(modal::fileName(request), true, request.defaultSuffix);
    if (chosen.isEmpty())
        return;
    const auto target = exportTargetForFile(chosen);
    TADODataSet& query = *dm().ADOdsQuery;
    // The window is locked as while a statement runs: nothing may start a statement, change
    // the result or start another export. "Abbrechen" and Escape stop the export.
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    beginStatement();
    auto* context = new QObject(this); // the export's connections end with it
    connect(ACCancel, &QAction::triggered, context, [cancel] { cancel->store(true); });
    // The status line: how far it got, at most ten times a second.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    const qint64 total = query.Active() ? query.RecordCount() : 0;
    auto showProgress = [this, total](qint64 rows) {
        ApplicationEvents1Hint(exportProgressText(rows, total));
    };

    if (target && target->stream && query.store()) {
        // Written from the result's store on a thread of its own; the window goes on.
        auto* job = new ExportJob(query.store(), *target->stream, target->filePath(),
                                  streamOptionsFor(*target, QLocale()), context);
        connect(ACCancel, &QAction::triggered, job, &ExportJob::cancel);
        auto* ticker = new QTimer(context);
        connect(ticker, &QTimer::timeout, job, [this, job, showProgress] {
            // A window closed meanwhile waits for the export, which stops first.
            if (m_closeAfterRun)
                job->cancel();
            showProgress(job->rowsWritten());
        });
        ticker->start(100);
        showProgress(0);
        connect(
            job, &ExportJob::finished, this,
            [this, context](qint64 rows, bool cancelled, std::exception_ptr error) {
                context->deleteLater();
                endStatement();
                if (!cancelled && !error)
                    VelADObatchmove1->setRowsExported(qint32(std::min<qint64>(rows, INT32_MAX)));
                ApplicationEvents1Hint(cancelled
                                           ? QStringLiteral("Export abgebrochen.")
                                           : exportStatusText(VelADObatchmove1->RowsExported()));
                if (error) {
                    try {
                        std::rethrow_exception(error);
                    } catch (...) {
                        showCurrentException();
                    }
                }
                if (m_closeAfterRun)
                    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            });
        return;
    }

    // The formats of old go through the batch move on this thread; it lets window messages
    // through every 50 rows, so "Abbrechen" reaches it there.
    ExportControl control;
    control.cancel = cancel.get();
    control.progress = [this, clock, cancel, showProgress](qint64 rows) {
        if (m_closeAfterRun)
            cancel->store(true);
        if (clock->elapsed() >= 100) {
            clock->restart();
            showProgress(rows);
        }
    };
    QString status;
    std::exception_ptr error;
    bool cancelled = false;
    try {
        exportQueryToFile(
            *VelADObatchmove1, query, chosen, [&status](const QString& text) { status = text; },
            control);
    } catch (const exportfile::ExportCancelled&) {
        cancelled = true;
    } catch (...) {
        error = std::current_exception();
    }
    delete context;
    endStatement();
    // The hint line, sized to its text, shows the count.
    ApplicationEvents1Hint(cancelled ? QStringLiteral("Export abgebrochen.") : status);
    if (m_closeAfterRun)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    if (error)
        std::rethrow_exception(error); // to the default display, as before
}
