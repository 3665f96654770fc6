#pragma once
// Reports the moment a window's first picture is complete: prints
// "painted <ns>" (the wall clock in nanoseconds since the epoch) and ends the
// process at once, so nothing after it is measured. With
// TARNWICK_FIRSTPAINT_GRAB set to a file name it first saves the whole window
// as drawn then (as PNG), to compare what start-up changes show.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPixmap>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <unistd.h>

// A window paints itself and all its controls in one pass, when its native
// window is exposed or asks for an update; what a person sees is that pass,
// flushed. The probe therefore reports when the first pass in which anything
// of the window painted has ended, not at the first control's paint event.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget* window) : m_window(window) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Expose || type == QEvent::UpdateRequest) && !m_inPass &&
            watched == m_window->windowHandle()) {
            m_inPass = true;
            const bool handled = watched->event(event); // the whole pass, flushed
            m_inPass = false;
            if (m_painted)
                report();
            return handled;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (type == QEvent::Paint && widget && widget->window() == m_window) {
            m_painted = true;
            if (!m_inPass) {
                // Painted outside a pass (a direct repaint): that paint is the picture.
                const bool handled = watched->event(event);
                report();
                return handled;
            }
        }
        return false;
    }

private:
    void report() {
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
    }

    QWidget* m_window;
    bool m_inPass = false;
    bool m_painted = false;
};
