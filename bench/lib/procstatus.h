#pragma once
// The process's memory as Linux reports it, for the benchmarks.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace benchproc {

// A line of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    return -1;
}

// Starts a new peak: writing 5 to clear_refs sets the peak resident size (VmHWM) to the
// current resident size.
inline void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

} // namespace benchproc
