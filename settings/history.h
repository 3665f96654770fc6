#pragma once
// The history of statements run: one SQLite database in the settings folder
// with every run's text, server, database, start, duration, row count or
// error and whether it was cancelled, and a full-text index over the texts.
// The newest kMaxRuns runs are kept; a text over kMaxStatementBytes is kept
// shortened and marked so; passwords of logins, users and keys never reach
// the file. HistoryWriter writes on a thread of its own.

#include <QDateTime>
#include <QList>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct sqlite3;

namespace settings {

struct HistoryEntry {
    enum Kind { Run = 0, ReplacedText = 1 }; // a text "Neu" or "Öffnen..." replaced
    qint64 id = 0;
    Kind kind = Run;
    QString statement; // in lists: only its beginning (kListChars)
    bool shortened = false;
    QString server;
    QString database;
    QDateTime started;
    qint64 durationMs = 0;
    qint64 rows = -1; // -1: none known
    QString error;    // empty: no error
    bool cancelled = false;
};

// The text with every password literal replaced by '******': PASSWORD =
// '...' (CREATE/ALTER LOGIN, USER, APPLICATION ROLE, keys) and OLD_PASSWORD,
// hashed ones (PASSWORD = 0x...), and the arguments of sp_addlogin and
// sp_password.
QString maskPasswords(const QString& sql);
// The text cut to at most `maxBytes` of UTF-8 with a closing comment line
// that says so; `shortened` tells whether it was cut.
QString shortenStatement(const QString& sql, qsizetype maxBytes, bool* shortened);
// A full-text query for what the user typed: every word as a prefix, all of
// them required. Empty when nothing searchable was typed.
QString historyMatchQuery(const QString& typed);

class HistoryStore {
public:
    static constexpr int kMaxRuns = 100000;
    static constexpr qsizetype kMaxStatementBytes = 1024 * 1024;
    static constexpr int kListChars = 400;

    // Opens (creating) the database; throws std::runtime_error when it cannot.
    explicit HistoryStore(const QString& path, int maxRuns = kMaxRuns);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Adds an entry (masked, shortened) and drops the oldest beyond the
    // limit; returns its id.
    qint64 add(const HistoryEntry& entry);
    // Newest first, ids below `beforeId` (0: from the newest); `match` a
    // query of historyMatchQuery() or empty for all.
    QList<HistoryEntry> list(const QString& match, int limit, qint64 beforeId = 0) const;
    // The whole stored text of an entry.
    QString statement(qint64 id) const;
    qint64 count() const;
    // Many entries in one transaction (imports, benchmarks).
    void addMany(const QList<HistoryEntry>& entries);

    // The file in the settings folder.
    static QString defaultPath();

private:
    void exec(const char* sql) const;
    qint64 insert(const HistoryEntry& entry);
    void trim();
    sqlite3* m_db = nullptr;
    int m_maxRuns;
};

// Writes entries on a thread of its own, in order.
class HistoryWriter {
public:
    explicit HistoryWriter(const QString& path, int maxRuns = HistoryStore::kMaxRuns);
    // Writes what is queued, then ends the thread.
    ~HistoryWriter();
    void add(HistoryEntry entry);
    // Waits until everything queued so far is written.
    void flush();
    const QString& path() const { return m_path; }
    // The last failure of the writing thread (the history is then not kept).
    QString lastError() const;

private:
    void run();
    QString m_path;
    int m_maxRuns;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<HistoryEntry> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    QString m_error;
    std::thread m_thread;
};

} // namespace settings
