#pragma once
// Calls handed from a worker thread to the thread an object lives on. The
// calls wait in a queue under a std::mutex and run, in order, from one call
// that Qt queues by name. What a call carries is thus handed over under a
// lock that ThreadSanitizer sees; Qt's own event queue locks with futexes it
// cannot see, so a functor queued directly looks like a race to it.
//
// One drain runs the waiting calls for at most a slice of time, then queues
// itself again behind the thread's other events. A drain that ran calls
// looks again a few milliseconds later instead of being woken by the next
// post: a worker that posts for every batch of a script then wakes the
// owner's thread a hundred times a second, not several times per batch
// (each wake-up also takes the processor from the worker that posted).
//
// The owner must outlive every worker that posts to it (the dataset and the
// connection wait for theirs before they go); calls still waiting when the
// hand-off goes are dropped.

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <mutex>

namespace data {

class Handoff : public QObject {
    Q_OBJECT
public:
    explicit Handoff(QObject* owner);

    // From any thread: runs `call` on this object's thread, within a few
    // milliseconds while calls come in quick succession.
    void post(std::function<void()> call);
    // As post, but wakes the thread at once: for a call that ends a run.
    void postNow(std::function<void()> call);

private:
    Q_INVOKABLE void drain();
    void add(std::function<void()> call, bool now);

    enum class State {
        Idle,   // the next post wakes the thread
        Paced,  // a look is due on m_pace; posts wait for it
        Queued, // a drain is queued or running
    };
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
    State m_state = State::Idle; // under m_mutex
    QTimer m_pace;               // the owner's thread: the look after a drain that ran calls
};

} // namespace data
