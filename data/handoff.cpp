#include "data/handoff.h"

namespace data {

void Handoff::post(std::function<void()> call) {
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void Handoff::drain() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_calls.empty())
                return;
            call = std::move(m_calls.front());
            m_calls.pop_front();
        }
        call();
    }
}

} // namespace data
