#include "export/blockwriter.h"

namespace exportfile {

BlockWriter::BlockWriter(std::function<void(const data::ResultStore&)> write)
    : m_write(std::move(write)), m_thread([this] { run(); }) {}

BlockWriter::~BlockWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_pending.reset();
    }
    m_changed.notify_all();
    m_thread.join();
}

void BlockWriter::waitIdle(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [this] { return !m_busy && !m_pending; });
    if (m_error)
        std::rethrow_exception(m_error);
}

data::ResultStore BlockWriter::submit(data::ResultStore&& block) {
    std::unique_lock lock(m_mutex);
    waitIdle(lock);
    data::ResultStore next =
        m_recycled ? std::move(*m_recycled) : data::ResultStore(block.columns());
    m_recycled.reset();
    m_pending.emplace(std::move(block));
    lock.unlock();
    m_changed.notify_all();
    return next;
}

void BlockWriter::drain() {
    std::unique_lock lock(m_mutex);
    waitIdle(lock);
}

void BlockWriter::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || m_pending; });
        if (m_stop)
            return;
        data::ResultStore block = std::move(*m_pending);
        m_pending.reset();
        m_busy = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            m_write(block);
        } catch (...) {
            error = std::current_exception();
        }
        block.clear();
        lock.lock();
        if (error && !m_error)
            m_error = error;
        m_recycled.emplace(std::move(block));
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace exportfile
