#include "settings/history.h"

#include "settings/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <limits>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>

namespace settings {

namespace {

const QString kMasked = QStringLiteral("'******'");

// A string literal as T-SQL writes it, N'' and '' inside included.
const QString kLiteral = QStringLiteral("N?'(?:[^']|'')*'?");

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    void bind(int i, qint64 v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, const QString& v) {
        const QByteArray utf8 = v.toUtf8();
        sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bindNull(int i) { sqlite3_bind_null(m_stmt, i); }
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(m_db));
        return false;
    }
    qint64 integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    bool isNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
    QString text(int col) const {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col)),
                                 sqlite3_column_bytes(m_stmt, col));
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace

QString maskPasswords(const QString& sql) {
    static const QRegularExpression assigned(QStringLiteral("(\\b(?:OLD_)?PASSWORD\\s*=\\s*)(?:") +
                                                 kLiteral + QStringLiteral("|0x[0-9A-Fa-f]*)"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression procedure(QStringLiteral("\\b(?:sp_addlogin|sp_password)\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression literal(kLiteral);
    QString out = sql;
    out.replace(assigned, QStringLiteral("\\1") + kMasked);
    // The arguments of the old login procedures, up to the end of the line
    // or statement: every literal there may be a password.
    qsizetype from = 0;
    for (QRegularExpressionMatch m = procedure.match(out, from); m.hasMatch();
         m = procedure.match(out, from)) {
        qsizetype end = m.capturedEnd();
        while (end < out.size() && out[end] != u'\n' && out[end] != u';') {
            if (out[end] == u'\'' ||
                (out[end] == u'N' && end + 1 < out.size() && out[end + 1] == u'\'')) {
                const QRegularExpressionMatch lit =
                    literal.match(out, end, QRegularExpression::NormalMatch,
                                  QRegularExpression::AnchorAtOffsetMatchOption);
                out.replace(end, lit.capturedLength(), kMasked);
                end += kMasked.size();
                continue;
            }
            ++end;
        }
        from = end;
    }
    return out;
}

QString shortenStatement(const QString& sql, qsizetype maxBytes, bool* shortened) {
    const QString mark = QStringLiteral("\n-- ... (im Verlauf gekürzt)");
    if (sql.size() * 3 <= maxBytes || sql.toUtf8().size() <= maxBytes) {
        *shortened = false;
        return sql;
    }
    *shortened = true;
    const qsizetype room = maxBytes - mark.toUtf8().size();
    // Characters until the UTF-8 bytes fill the room, never half a pair.
    qsizetype bytes = 0, i = 0;
    while (i < sql.size()) {
        const char16_t c = sql[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < sql.size();
        const int need = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (bytes + need > room)
            break;
        bytes += need;
        i += pair ? 2 : 1;
    }
    return sql.left(i) + mark;
}

QString historyMatchQuery(const QString& typed) {
    static const QRegularExpression words(QStringLiteral("[\\w@#$]+"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QStringList parts;
    for (auto it = words.globalMatch(typed); it.hasNext();)
        parts << u'"' + it.next().captured() + QStringLiteral("\"*");
    return parts.join(u' ');
}

QString HistoryStore::defaultPath() {
    return QDir(configDirectory()).filePath(QStringLiteral("history.sqlite"));
}

HistoryStore::HistoryStore(const QString& path, int maxRuns) : m_maxRuns(maxRuns) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw std::runtime_error(error);
    }
    sqlite3_busy_timeout(m_db, 5000);
    try {
        // Readers (the window) and the writer meet in write-ahead mode.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, "
             "statement TEXT NOT NULL, shortened INTEGER NOT NULL, server TEXT, db TEXT, "
             "started INTEGER NOT NULL, duration INTEGER NOT NULL, rows INTEGER, error TEXT, "
             "cancelled INTEGER NOT NULL)");
        exec("CREATE VIRTUAL TABLE IF NOT EXISTS runs_fts USING fts5(statement, "
             "content='runs', content_rowid='id')");
        exec("CREATE TRIGGER IF NOT EXISTS runs_ai AFTER INSERT ON runs BEGIN "
             "INSERT INTO runs_fts(rowid, statement) VALUES (new.id, new.statement); END");
        exec("CREATE TRIGGER IF NOT EXISTS runs_ad AFTER DELETE ON runs BEGIN "
             "INSERT INTO runs_fts(runs_fts, rowid, statement) "
             "VALUES ('delete', old.id, old.statement); END");
    } catch (...) {
        sqlite3_close(m_db);
        throw;
    }
}

HistoryStore::~HistoryStore() {
    sqlite3_close(m_db);
}

void HistoryStore::exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : "SQLite error";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

qint64 HistoryStore::insert(const HistoryEntry& e) {
    bool shortened = false;
    const QString text =
        shortenStatement(maskPasswords(e.statement), kMaxStatementBytes, &shortened);
    Statement s(m_db, "INSERT INTO runs (kind, statement, shortened, server, db, started, "
                      "duration, rows, error, cancelled) VALUES (?,?,?,?,?,?,?,?,?,?)");
    s.bind(1, qint64(e.kind));
    s.bind(2, text);
    s.bind(3, qint64(shortened || e.shortened));
    s.bind(4, e.server);
    s.bind(5, e.database);
    s.bind(6, e.started.isValid() ? e.started.toMSecsSinceEpoch()
                                  : QDateTime::currentMSecsSinceEpoch());
    s.bind(7, e.durationMs);
    if (e.rows >= 0 && e.error.isEmpty()) // a failed run has no row count
        s.bind(8, e.rows);
    else
        s.bindNull(8);
    if (e.error.isEmpty())
        s.bindNull(9);
    else
        s.bind(9, maskPasswords(e.error));
    s.bind(10, qint64(e.cancelled));
    s.step();
    return sqlite3_last_insert_rowid(m_db);
}

void HistoryStore::trim() {
    Statement s(m_db, "DELETE FROM runs WHERE id <= (SELECT id FROM runs ORDER BY id DESC "
                      "LIMIT 1 OFFSET ?)");
    s.bind(1, qint64(m_maxRuns));
    s.step();
}

qint64 HistoryStore::add(const HistoryEntry& entry) {
    exec("BEGIN");
    try {
        const qint64 id = insert(entry);
        trim();
        exec("COMMIT");
        return id;
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

void HistoryStore::addMany(const QList<HistoryEntry>& entries) {
    exec("BEGIN");
    try {
        for (const HistoryEntry& e : entries)
            insert(e);
        trim();
        exec("COMMIT");
    } catch (...) {
        exec("ROLLBACK");
        throw;
    }
}

QList<HistoryEntry> HistoryStore::list(const QString& match, int limit, qint64 beforeId) const {
    const qint64 below = beforeId > 0 ? beforeId : std::numeric_limits<qint64>::max();
    const char* all = "SELECT id, kind, substr(statement, 1, ?3), shortened, server, db, started, "
                      "duration, rows, error, cancelled FROM runs WHERE id < ?2 "
                      "ORDER BY id DESC LIMIT ?4";
    // The index finds the newest matches itself; the table only gives their
    // columns.
    const char* found =
        "SELECT id, kind, substr(statement, 1, ?3), shortened, server, db, started, duration, "
        "rows, error, cancelled FROM runs WHERE id IN (SELECT rowid FROM runs_fts WHERE "
        "runs_fts MATCH ?1 AND rowid < ?2 ORDER BY rowid DESC LIMIT ?4) ORDER BY id DESC";
    Statement s(m_db, match.isEmpty() ? all : found);
    if (!match.isEmpty())
        s.bind(1, match);
    s.bind(2, below);
    s.bind(3, qint64(kListChars));
    s.bind(4, qint64(limit));
    QList<HistoryEntry> out;
    while (s.step()) {
        HistoryEntry e;
        e.id = s.integer(0);
        e.kind = HistoryEntry::Kind(s.integer(1));
        e.statement = s.text(2);
        e.shortened = s.integer(3) != 0;
        e.server = s.text(4);
        e.database = s.text(5);
        e.started = QDateTime::fromMSecsSinceEpoch(s.integer(6));
        e.durationMs = s.integer(7);
        e.rows = s.isNull(8) ? -1 : s.integer(8);
        e.error = s.text(9);
        e.cancelled = s.integer(10) != 0;
        out.append(std::move(e));
    }
    return out;
}

QString HistoryStore::statement(qint64 id) const {
    Statement s(m_db, "SELECT statement FROM runs WHERE id = ?");
    s.bind(1, id);
    return s.step() ? s.text(0) : QString();
}

qint64 HistoryStore::count() const {
    Statement s(m_db, "SELECT count(*) FROM runs");
    return s.step() ? s.integer(0) : 0;
}

// ---- the writing thread -------------------------------------------------------

HistoryWriter::HistoryWriter(const QString& path, int maxRuns)
    : m_path(path), m_maxRuns(maxRuns), m_thread([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void HistoryWriter::add(HistoryEntry entry) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(entry));
    }
    m_wake.notify_all();
}

void HistoryWriter::flush() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

QString HistoryWriter::lastError() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void HistoryWriter::run() {
    std::unique_ptr<HistoryStore> store;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty() && m_stop)
            return;
        HistoryEntry entry = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        QString error;
        try {
            if (!store)
                store = std::make_unique<HistoryStore>(m_path, m_maxRuns);
            store->add(entry);
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
        lock.lock();
        m_busy = false;
        if (!error.isEmpty())
            m_error = error;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

} // namespace settings
