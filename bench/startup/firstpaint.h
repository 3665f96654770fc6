#pragma once
// Reports the moment a window first paints: prints "painted <ns>" (the
// wall clock in nanoseconds since the epoch) and ends the process at once,
// so nothing after the first paint is measured.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <unistd.h>

// Watches every paint event of the window and its children: a window that is
// covered by opaque children gets no paint event of its own.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget* window) : m_window(window)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Paint && widget && widget->window() == m_window) {
            const bool handled = watched->event(event); // let the window paint first
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf("painted %lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stdout);
            _exit(0);
            return handled;
        }
        return false;
    }

private:
    QWidget* m_window;
};
