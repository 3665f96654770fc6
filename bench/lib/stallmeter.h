#pragma once
// The longest lateness of a 10 ms timer on the calling thread while it runs:
// how long the thread's event loop was kept from serving the user.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace benchstall {

class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            worst = std::max(worst, now - m_last - 10'000'000);
            if (m_trace && now - m_last > 30'000'000)
                std::fprintf(stderr, "stall %.1f ms ending at %.1f ms\n",
                             double(now - m_last - 10'000'000) / 1e6, double(now) / 1e6);
            m_last = now;
        });
    }
    void start() {
        worst = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double worstMs() const { return double(worst) / 1e6; }
    qint64 worst = 0; // ns

private:
    const bool m_trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

} // namespace benchstall
