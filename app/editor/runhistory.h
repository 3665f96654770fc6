#pragma once
// Where the window reports the statements it runs: one instance for the
// process, writing to the history in the settings folder on a thread of its
// own (settings/history.h). The window calls runStarted() when a run begins
// and runFinished() when it has ended; "Neu" and "Öffnen..." hand over the
// text they replace.

#include "settings/history.h"

#include <QElapsedTimer>
#include <memory>
#include <optional>

namespace editor {

class RunHistory {
public:
    static RunHistory& instance();

    // The history file; by default the one in the settings folder, opened
    // at first use. Tests point it elsewhere (an empty path: the default).
    void setPath(const QString& path, int maxRuns = settings::HistoryStore::kMaxRuns);
    QString path() const;
    int maxRuns() const { return m_maxRuns; }

    void runStarted(const QString& text, const QString& server, const QString& database);
    // rows -1: none known; an empty error: none.
    void runFinished(qint64 rows, const QString& error, bool cancelled);
    void keepReplacedText(const QString& text);
    // Waits until every entry handed over is written.
    void flush();

private:
    RunHistory() = default;
    settings::HistoryWriter& writer();

    QString m_path;
    int m_maxRuns = settings::HistoryStore::kMaxRuns;
    std::unique_ptr<settings::HistoryWriter> m_writer;
    std::optional<settings::HistoryEntry> m_pending;
    QElapsedTimer m_clock;
};

// Whether a statement may have changed the catalog (CREATE, ALTER, DROP,
// sp_rename, SELECT ... INTO), so the completion reads it again.
bool changesCatalog(const QString& sql);

} // namespace editor
