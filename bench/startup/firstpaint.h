#pragma once
// Reports the moment a window first paints: prints "painted <ns>" (the
// wall clock in nanoseconds since the epoch) and ends the process at once,
// so nothing after the first paint is measured. With
// TARNWICK_FIRSTPAINT_GRAB set to a file name it first saves the whole window
// as drawn then (as PNG), to compare what start-up changes show.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPixmap>
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
            const QString grabFile = qEnvironmentVariable("TARNWICK_FIRSTPAINT_GRAB");
            if (!grabFile.isEmpty()) {
                QCoreApplication::instance()->removeEventFilter(this); // grab() paints too
                m_window->grab().save(grabFile, "PNG");
            }
            _exit(0);
            return handled;
        }
        return false;
    }

private:
    QWidget* m_window;
};
