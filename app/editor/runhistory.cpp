#include "app/editor/runhistory.h"

#include "app/logic/sqlscanner.h"

#include <QDateTime>

namespace editor {

RunHistory& RunHistory::instance() {
    static RunHistory history;
    return history;
}

void RunHistory::setPath(const QString& path, int maxRuns) {
    if (m_writer)
        m_writer->flush();
    m_writer.reset();
    m_path = path;
    m_maxRuns = maxRuns;
}

QString RunHistory::path() const {
    return m_path.isEmpty() ? settings::HistoryStore::defaultPath() : m_path;
}

settings::HistoryWriter& RunHistory::writer() {
    // The settings folder may change (tests): the writer follows it.
    if (!m_writer || m_writer->path() != path())
        m_writer = std::make_unique<settings::HistoryWriter>(path(), m_maxRuns);
    return *m_writer;
}

void RunHistory::runStarted(const QString& text, const QString& server, const QString& database) {
    settings::HistoryEntry e;
    e.statement = text;
    e.server = server;
    e.database = database;
    e.started = QDateTime::currentDateTime();
    m_pending = std::move(e);
    m_clock.start();
}

void RunHistory::runFinished(qint64 rows, const QString& error, bool cancelled) {
    if (!m_pending)
        return;
    settings::HistoryEntry e = std::move(*m_pending);
    m_pending.reset();
    e.durationMs = m_clock.elapsed();
    e.rows = error.isEmpty() ? rows : -1;
    e.error = error;
    e.cancelled = cancelled;
    writer().add(std::move(e));
}

void RunHistory::keepReplacedText(const QString& text) {
    if (text.trimmed().isEmpty())
        return;
    settings::HistoryEntry e;
    e.kind = settings::HistoryEntry::ReplacedText;
    e.statement = text;
    e.started = QDateTime::currentDateTime();
    writer().add(std::move(e));
}

void RunHistory::flush() {
    if (m_writer)
        m_writer->flush();
}

bool changesCatalog(const QString& sql) {
    SqlScanner scanner(sql);
    SqlToken t;
    bool select = false;
    while (scanner.next(t)) {
        if (t.kind != SqlTokenKind::Keyword && t.kind != SqlTokenKind::Identifier)
            continue;
        const QStringView word = QStringView(sql).mid(t.start, t.length);
        auto is = [&](const char* w) {
            return word.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
        };
        if (is("CREATE") || is("ALTER") || is("DROP") || is("sp_rename"))
            return true;
        if (is("SELECT"))
            select = true;
        else if (is("INSERT") || is("UPDATE") || is("DELETE"))
            select = false;
        if (is("INTO") && select)
            return true;
    }
    return false;
}

} // namespace editor
