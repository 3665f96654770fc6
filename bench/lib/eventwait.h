#pragma once
// Waits for a condition the way an application's event loop waits: asleep until
// an event comes, then at once serving it. QTest::qWaitFor instead sleeps 10 ms
// between its looks, which delays every event that comes meanwhile and would add
// those 10 ms to each step of anything measured with it.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace benchwait {

template <typename Condition> bool waitFor(Condition condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // Wakes the loop now and then, so that a condition that changes without an
    // event (another thread's state) is seen within a few milliseconds.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(5);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace benchwait
