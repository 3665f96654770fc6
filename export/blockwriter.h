#pragma once

// Writes blocks of appended rows on a thread of its own, so that the rows of the next block
// are gathered while the previous one goes to the file. One block is written while the
// caller fills the next; submit() waits for the writing before it hands the next one over,
// so no more than two blocks exist at any time. The written block comes back emptied, for
// the caller to fill again without mapping new memory.

#include "data/resultstore.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace exportfile {

class BlockWriter {
public:
    // write is called on the writer's thread, one block after the other, in order. What it
    // throws stops the writing and is raised again by the next submit() or drain().
    explicit BlockWriter(std::function<void(const data::ResultStore&)> write);
    // Stops the thread; a block not yet written is dropped.
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // Waits until the previous block is written, raises its failure if it failed, and hands
    // block over. Returns an empty store with the same columns for the rows that follow.
    data::ResultStore submit(data::ResultStore&& block);
    // Waits until every block handed over is written; raises a failure of the writing.
    void drain();

private:
    void run();
    void waitIdle(std::unique_lock<std::mutex>& lock);

    std::function<void(const data::ResultStore&)> m_write;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<data::ResultStore> m_pending;  // handed over, not yet taken by the thread
    std::optional<data::ResultStore> m_recycled; // written and emptied
    bool m_busy = false;
    bool m_stop = false;
    std::exception_ptr m_error;
    std::thread m_thread; // last: starts once the members above exist
};

} // namespace exportfile
