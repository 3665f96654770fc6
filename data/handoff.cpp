#include "data/handoff.h"

#include <QElapsedTimer>

namespace data {

namespace {

// The longest the owner's thread spends on waiting calls in one go; the rest
// follow after its other events, so a worker that posts faster than the
// calls run never freezes that thread.
constexpr qint64 kSliceNs = 20'000'000;
// How long after a drain that ran calls the next one looks for more.
constexpr int kPaceMs = 10;

} // namespace

Handoff::Handoff(QObject* owner) : QObject(owner) {
    m_pace.setSingleShot(true);
    m_pace.setInterval(kPaceMs);
    m_pace.setTimerType(Qt::PreciseTimer);
    connect(&m_pace, &QTimer::timeout, this, &Handoff::drain);
}

void Handoff::post(std::function<void()> call) {
    add(std::move(call), false);
}

void Handoff::postNow(std::function<void()> call) {
    add(std::move(call), true);
}

void Handoff::add(std::function<void()> call, bool now) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
        wake = m_state == State::Idle || (now && m_state == State::Paced);
        if (wake)
            m_state = State::Queued;
    }
    if (wake)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Handoff::drain() {
    QElapsedTimer slice;
    slice.start();
    for (bool ran = false;; ran = true) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_calls.empty()) {
                // Calls came: more may follow soon, and are picked up then
                // without a wake-up each. A look that found none ends the
                // pacing; the next post wakes the thread at once.
                m_state = ran ? State::Paced : State::Idle;
                if (ran)
                    m_pace.start();
                return;
            }
            call = std::move(m_calls.front());
            m_calls.pop_front();
            // A post while the call runs queues another drain: a call that
            // waits in an event loop of its own (a message box) still sees
            // the calls after it run.
            m_state = State::Idle;
        }
        call();
        {
            std::lock_guard lock(m_mutex);
            m_state = State::Queued; // this drain goes on; a queued one finds little or nothing
        }
        if (slice.nsecsElapsed() >= kSliceNs) {
            QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
            return;
        }
    }
}

} // namespace data
