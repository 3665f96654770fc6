// The result set leaving the window: the cell viewer opened from the result
// grid and "Exportieren...".

#include "app/uMain.h"

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/grid/gridmodel.h"
#include "app/grid/uBlob.h"
#include "app/logic/scriptfile.h"
#include "app/uDM.h"
#include "app/windows.h"
#include "export/VelADObatchmove.h"
#include "export/exportcommand.h"
#include "export/exportjob.h"
#include "modal/modal.h"

#include <QLabel>
#include <QTimer>
#include <algorithm>

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
    // The result of the grid that has or last had the focus.
    TADODataSet& query = *currentResult();
    if (!target || !query.store()) {
        // Nothing to write (no result set, or an extension of no format): the count of the
        // last export is shown, as after any export.
        ApplicationEvents1Hint(exportStatusText(VelADObatchmove1->RowsExported()));
        return;
    }

    // The window is locked as while a statement runs: nothing may start a statement, change
    // the result or start another export. The export reads the result's store on a thread
    // of its own; "Abbrechen" and Escape stop it.
    beginStatement();
    // A result the grid shows sorted goes out in that order.
    std::vector<qint64> shown;
    TDBBGrid* grid = m_currentGrid ? m_currentGrid.data() : DBGridQuery;
    if (grid && grid->dataSource() && grid->dataSource()->DataSet() == &query &&
        grid->gridModel() && grid->gridModel()->sortOrder() != gridsort::Order::None) {
        const qint64 rows = query.store()->rowCount();
        const qint64 viewRows = std::min<qint64>(rows, grid->gridModel()->rowCount());
        shown.reserve(std::size_t(rows));
        for (qint64 r = 0; r < viewRows; ++r) {
            const qint64 row = grid->dataSetRow(int(r));
            if (row >= 0 && row < rows)
                shown.push_back(row);
        }
        if (qint64(shown.size()) != rows)
            shown.clear(); // every row goes out, in the store's order rather than lost
    }
    auto* job = new ExportJob(query.store(), *target, streamOptionsFor(*target, QLocale()), this,
                              std::move(shown));
    QPointer<TADODataSet> exported(&query);
    connect(ACCancel, &QAction::triggered, job, &ExportJob::cancel);
    // The status line: how far it got, at most ten times a second.
    auto* ticker = new QTimer(job);
    const auto showProgress = [this, job] {
        ApplicationEvents1Hint(exportProgressText(job->rowsWritten(), job->rowsTotal()));
    };
    connect(ticker, &QTimer::timeout, job, [this, job, showProgress] {
        // A window closed meanwhile waits for the export, which stops first.
        if (m_closeAfterRun)
            job->cancel();
        showProgress();
    });
    ticker->start(100);
    showProgress();
    connect(job, &ExportJob::finished, this,
            [this, job, exported](qint64 rows, bool cancelled, std::exception_ptr error) {
                job->deleteLater();
                endStatement();
                if (m_tearingDown)
                    return;
                if (!cancelled && !error) {
                    VelADObatchmove1->setRowsExported(qint32(std::min<qint64>(rows, INT32_MAX)));
                    // The grid shows the first row again, as after every export.
                    if (exported && exported->Active())
                        exported->First();
                }
                // The hint line, sized to its text, shows the count.
                ApplicationEvents1Hint(cancelled
                                           ? QStringLiteral("Export abgebrochen.")
                                           : exportStatusText(VelADObatchmove1->RowsExported()));
                if (error) {
                    try {
                        std::rethrow_exception(error);
                    } catch (...) {
                        showCurrentException(); // the one place errors are shown
                    }
                }
                if (m_closeAfterRun)
                    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            });
}
