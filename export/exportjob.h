#pragma once

// One export running on a thread of its own while the window goes on: it reads the fetched
// result's store, which nobody changes meanwhile (the window locks everything that could),
// reports how far it got and can be cancelled at any time. The stream formats (.csv, .json,
// .xlsx) are written from the store directly; the others go through a batch move of the
// job's own over a dataset of its own on the same store, so nothing of the window's objects
// is touched off its thread.

#include "export/exportcommand.h"
#include "export/streamexport.h"

#include <QObject>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

class ExportJob : public QObject {
    Q_OBJECT
public:
    // Starts exporting every row of store to target. The store is kept alive until the job
    // ends. options apply to the stream formats.
    // With shownOrder, the rows go out in that order (the store's rows as a
    // sorted grid shows them) instead of the store's own.
    ExportJob(std::shared_ptr<const data::ResultStore> store, ExportTarget target,
              exportfile::StreamOptions options, QObject* parent = nullptr,
              std::vector<qint64> shownOrder = {});
    // A stream export into path.
    ExportJob(std::shared_ptr<const data::ResultStore> store, exportfile::StreamFormat format,
              const QString& path, exportfile::StreamOptions options, QObject* parent = nullptr);
    // Cancels a running export and waits for its thread: the file stays as it was before.
    ~ExportJob() override;

    // Asks the export to stop at its next rows; finished() follows with cancelled set.
    void cancel() { m_cancel.store(true); }
    qint64 rowsWritten() const { return m_rows.load(std::memory_order_relaxed); }
    qint64 rowsTotal() const { return m_total; }
    bool running() const { return !m_done; }

signals:
    // On the job's own (the creating) thread, once. error is set when the export failed;
    // a cancel is no error.
    void finished(qint64 rows, bool cancelled, std::exception_ptr error);

private:
    std::shared_ptr<const data::ResultStore> m_store;
    qint64 m_total = 0;
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_rows{0};
    bool m_done = false;
    std::thread m_thread;
};

namespace exportfile {

// Runs a batch move export of store to target (a format of the batch move) on the calling
// thread, with a connection, a source dataset and a batch move of its own: the store is only
// read. Returns the rows exported; a cancel through control ends with ExportCancelled.
qint64 batchMoveStore(std::shared_ptr<const data::ResultStore> store, const ExportTarget& target,
                      const StreamControl& control);

} // namespace exportfile
