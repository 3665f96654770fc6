#include "data/handoff.h"

#include <QElapsedTimer>

namespace data {

namespace {

// The longest the owner's thread spends on waiting calls in one go; the rest
// follow after its other events, so a worker that posts faster than the
// calls run never freezes that thread.
constexpr qint64 kSliceNs = 20'000'000;

} // namespace

void Handoff::post(std::function<void()> call) {
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
        schedule = !m_scheduled;
        m_scheduled = true;
    }
    if (schedule)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Handoff::drain() {
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_calls.empty()) {
                m_scheduled = false;
                return;
            }
            call = std::move(m_calls.front());
            m_calls.pop_front();
            // A post while the call runs queues another drain: a call that
            // waits in an event loop of its own (a message box) still sees
            // the calls after it run.
            m_scheduled = false;
        }
        call();
        {
            std::lock_guard lock(m_mutex);
            m_scheduled = true; // this drain goes on; a queued one finds little or nothing
        }
        if (slice.nsecsElapsed() >= kSliceNs) {
            QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
            return;
        }
    }
}

} // namespace data
