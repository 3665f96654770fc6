#include "export/exportjob.h"

ExportJob::ExportJob(std::shared_ptr<const data::ResultStore> store,
                     exportfile::StreamFormat format, QString path,
                     exportfile::StreamOptions options, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_total(m_store ? m_store->rowCount() : 0) {
    m_thread = std::thread([this, format, path = std::move(path), options = std::move(options)] {
        qint64 rows = 0;
        bool cancelled = false;
        std::exception_ptr error;
        try {
            exportfile::StreamControl control;
            control.cancel = &m_cancel;
            control.progress = [this](qint64 n) { m_rows.store(n, std::memory_order_relaxed); };
            rows = m_store ? exportfile::writeStream(format, *m_store, path, options, control) : 0;
        } catch (const exportfile::ExportCancelled&) {
            cancelled = true;
        } catch (...) {
            error = std::current_exception();
        }
        // Delivered on the job's thread; dropped when the job is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, rows, cancelled, error] {
                if (m_thread.joinable())
                    m_thread.join();
                m_done = true;
                emit finished(rows, cancelled, error);
            },
            Qt::QueuedConnection);
    });
}

ExportJob::~ExportJob() {
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}
