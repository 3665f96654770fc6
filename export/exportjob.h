#pragma once

// One stream export (.csv, .json, .xlsx) running on a thread of its own while the window goes
// on: it reads the fetched result's store, which nobody changes meanwhile (the window locks
// everything that could), reports how far it got and can be cancelled at any time.

#include "export/streamexport.h"

#include <QObject>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>

class ExportJob : public QObject {
    Q_OBJECT
public:
    // Starts writing every row of store into path. The store is kept alive until the job ends.
    ExportJob(std::shared_ptr<const data::ResultStore> store, exportfile::StreamFormat format,
              QString path, exportfile::StreamOptions options, QObject* parent = nullptr);
    // Cancels a running export and waits for its thread: the file stays as it was before.
    ~ExportJob() override;

    // Asks the export to stop at its next row; finished() follows with cancelled set.
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
