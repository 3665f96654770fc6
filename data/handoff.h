#pragma once
// Calls handed from a worker thread to the thread an object lives on. The
// calls wait in a queue under a std::mutex and run, in order, from one call
// that Qt queues by name. What a call carries is thus handed over under a
// lock that ThreadSanitizer sees; Qt's own event queue locks with futexes it
// cannot see, so a functor queued directly looks like a race to it.
//
// One drain runs the waiting calls for at most a slice of time, then queues
// itself again behind the thread's other events.
//
// The owner must outlive every worker that posts to it (the dataset and the
// connection wait for theirs before they go); calls still waiting when the
// hand-off goes are dropped.

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace data {

class Handoff : public QObject {
    Q_OBJECT
public:
    explicit Handoff(QObject* owner) : QObject(owner) {}

    // From any thread: runs `call` on this object's thread.
    void post(std::function<void()> call);

private:
    Q_INVOKABLE void drain();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
    bool m_scheduled = false; // under m_mutex: a drain is queued or running
};

} // namespace data
