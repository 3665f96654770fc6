// AFTER (FOR) triggers on INSERT, UPDATE and DELETE. CREATE TRIGGER keeps the
// body in a table of the engine; a statement that changes a table with a
// trigger collects its rows in the temporary tables `inserted` and `deleted`
// (through SQLite triggers of the connection) and then runs the body once,
// as SQL Server does, also when no row changed. A ROLLBACK TRANSACTION in the
// body undoes the statement and whatever the transaction did, and the batch
// ends with 3609 once the body is through.

#include "testserver/engine/catalog.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"

namespace tds {

using namespace sql;

namespace {

using catalog::kTriggerTable;

bool hasTriggerTable(sqlite3* c) {
    bool found = false;
    catalog::query(c,
                   "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = "
                   "'__tds_triggers'",
                   [&](sqlite3_stmt*) { found = true; });
    return found;
}

// Keeps the DONE of the statement that fires a trigger until the trigger ran:
// SQL Server sends the trigger's results first.
class HeldDone : public ResultSink {
public:
    explicit HeldDone(ResultSink& to) : m_to(to) {}
    void columns(const std::vector<Column>& cols) override { m_to.columns(cols); }
    void browseInfo(const std::vector<Column>& cols) override { m_to.browseInfo(cols); }
    bool row(const std::vector<Value>& values) override { return m_to.row(values); }
    void done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
              std::uint16_t curCmd) override {
        held.push_back({kind, status, rowCount, curCmd});
    }
    void message(const Message& m) override { m_to.message(m); }
    void flush() override { m_to.flush(); }
    void databaseChanged(const std::string& o, const std::string& n) override {
        m_to.databaseChanged(o, n);
    }
    void returnStatus(std::int32_t s) override { m_to.returnStatus(s); }
    void returnValue(const std::string& name, const ColumnType& type, const Value& value,
                     bool output) override {
        m_to.returnValue(name, type, value, output);
    }
    struct Done {
        DoneKind kind;
        std::uint16_t status;
        std::uint64_t count;
        std::uint16_t curCmd;
    };
    std::vector<Done> held;

private:
    ResultSink& m_to;
};

} // namespace

Outcome Session::Impl::createTrigger(const Statement& st, Out& out) {
    const auto& toks = st.toks;
    std::size_t i = 2;
    const auto name = readObjectName(toks, i);
    if (!name || i >= toks.size() || !isWordTok(toks[i], "on"))
        return fail(syntaxError(std::string(toks[std::min(i, toks.size() - 1)].text)), out, true);
    ++i;
    const auto table = readObjectName(toks, i);
    if (!table || i >= toks.size())
        return fail(syntaxError(std::string(toks.back().text)), out, true);
    if (toks[i].is("instead"))
        return fail(
            errorMessage(50000, 16, "INSTEAD OF triggers are not supported by this server."), out,
            false);
    if (!toks[i].isAny({"for", "after"}))
        return fail(syntaxError(std::string(toks[i].text)), out, true);
    std::string events;
    for (++i; i < toks.size() && !toks[i].is("as"); ++i) {
        if (toks[i].isAny({"insert", "update", "delete"}))
            events += toLower(toks[i].text) + " ";
        else if (!isPunctTok(toks[i], ',') &&
                 !toks[i].isAny({"with", "append", "not", "for", "replication"}))
            return fail(syntaxError(std::string(toks[i].text)), out, true);
    }
    if (events.empty() || i + 1 >= toks.size())
        return fail(syntaxError(std::string(toks.back().text)), out, true);
    const std::string schema = schemaOfName(*table);
    if (!schema.empty() || !tableExists(schema, table->back()) ||
        !catalog::columnsOf(conn, "main", table->back()).size())
        return fail(errorMessage(8197, 16,
                                 "The object '" + table->back() +
                                     "' does not exist or is invalid for this operation."),
                    out, false);
    const std::string q = std::string("CREATE TABLE IF NOT EXISTS ") + kTriggerTable +
                          " (name TEXT PRIMARY KEY COLLATE NOCASE, tbl TEXT NOT NULL COLLATE "
                          "NOCASE, events TEXT NOT NULL, body TEXT NOT NULL)";
    sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
    bool taken = tableExists("", name->back());
    catalog::query(conn,
                   std::string("SELECT 1 FROM ") + kTriggerTable +
                       " WHERE name = " + quoteString(name->back()),
                   [&](sqlite3_stmt*) { taken = true; });
    if (taken)
        return fail(objectExists(name->back()), out, false);
    const Token& last = toks.back();
    const std::string body(
        st.source.substr(toks[i + 1].pos, last.pos + last.text.size() - toks[i + 1].pos));
    const std::string ins = std::string("INSERT INTO ") + kTriggerTable + " VALUES (" +
                            quoteString(name->back()) + ", " + quoteString(table->back()) + ", " +
                            quoteString(events) + ", " + quoteString(body) + ")";
    if (sqlite3_exec(conn, ins.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE TRIGGER", name->back(), out);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

Outcome Session::Impl::dropTrigger(const Statement& st, std::size_t at, bool ifExists, Out& out) {
    std::size_t i = at;
    const auto name = readObjectName(st.toks, i);
    if (!name || i != st.toks.size())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    bool found = false;
    if (hasTriggerTable(conn))
        catalog::query(conn,
                       std::string("SELECT 1 FROM ") + kTriggerTable +
                           " WHERE name = " + quoteString(name->back()),
                       [&](sqlite3_stmt*) { found = true; });
    if (!found && !ifExists)
        return fail(errorMessage(3701, 11,
                                 "Cannot drop the trigger '" + name->back() +
                                     "', because it does not exist or you do not have "
                                     "permission.",
                                 5),
                    out, false);
    if (found) {
        const std::string q = std::string("DELETE FROM ") + kTriggerTable +
                              " WHERE name = " + quoteString(name->back());
        sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
    }
    out.done(0, 0, 0);
    return Outcome::Ok;
}

void Session::Impl::dropTriggersOf(const std::string& table) {
    if (!hasTriggerTable(conn))
        return;
    const std::string q =
        std::string("DELETE FROM ") + kTriggerTable + " WHERE tbl = " + quoteString(table);
    sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
}

Outcome Session::Impl::runWithTriggers(const Statement& st, const std::string& table,
                                       const std::function<Outcome(Out&)>& statement, Out& out) {
    const std::string event = toLower(st.toks[0].text);
    std::vector<std::pair<std::string, std::string>> triggers; // name, body
    if (triggerDepth == 0 && !table.empty() && hasTriggerTable(conn))
        catalog::query(conn,
                       std::string("SELECT name, body FROM ") + kTriggerTable +
                           " WHERE tbl = " + quoteString(table) + " AND instr(events, " +
                           quoteString(event + " ") + ") > 0 ORDER BY rowid",
                       [&](sqlite3_stmt* s) {
                           triggers.emplace_back(catalog::text(s, 0), catalog::text(s, 1));
                       });
    if (triggers.empty())
        return statement(out);

    // inserted and deleted: the table's columns, filled by SQLite triggers of
    // this connection while the statement runs.
    const auto cols = catalog::columnsOf(conn, "main", table);
    std::string defs, newValues, oldValues;
    for (const auto& c : cols) {
        const std::string sep = defs.empty() ? "" : ", ";
        defs += sep + quoteIdent(c.name) + " " + c.decl;
        newValues += sep + "NEW." + quoteIdent(c.name);
        oldValues += sep + "OLD." + quoteIdent(c.name);
    }
    const std::string target = "main." + quoteIdent(table);
    std::string setup = "DROP TABLE IF EXISTS temp.inserted; DROP TABLE IF EXISTS temp.deleted;"
                        "CREATE TEMP TABLE inserted (" +
                        defs + "); CREATE TEMP TABLE deleted (" + defs + ");";
    if (event == "insert" || event == "update")
        setup += "CREATE TEMP TRIGGER __tds_capture_new AFTER " + toUpper(event) + " ON " + target +
                 " BEGIN INSERT INTO inserted VALUES (" + newValues + "); END;";
    if (event == "delete" || event == "update")
        setup += "CREATE TEMP TRIGGER __tds_capture_old AFTER " + toUpper(event) + " ON " + target +
                 " BEGIN INSERT INTO deleted VALUES (" + oldValues + "); END;";
    const std::string teardown =
        "DROP TRIGGER IF EXISTS temp.__tds_capture_new; DROP TRIGGER IF EXISTS "
        "temp.__tds_capture_old; DROP TABLE IF EXISTS temp.inserted; DROP TABLE IF EXISTS "
        "temp.deleted;";

    // The statement and its triggers form one transaction.
    const bool ownTransaction = tranCount == 0;
    if (ownTransaction)
        beginTran(nullptr);
    sqlite3_exec(conn, setup.c_str(), nullptr, nullptr, nullptr);
    HeldDone held(out.sink);
    Out dml{held, out.kind, out.last, out.inProc};
    const Outcome oc = statement(dml);
    sqlite3_exec(conn,
                 "DROP TRIGGER IF EXISTS temp.__tds_capture_new; DROP TRIGGER IF EXISTS "
                 "temp.__tds_capture_old",
                 nullptr, nullptr, nullptr);
    // SQLite counts the rows its capturing triggers wrote too: the statement's
    // own count is the rows it collected.
    std::int64_t rowCount = 0;
    catalog::query(conn,
                   std::string("SELECT count(*) FROM temp.") +
                       (event == "delete" ? "deleted" : "inserted"),
                   [&](sqlite3_stmt* s) { rowCount = sqlite3_column_int64(s, 0); });
    for (auto& d : held.held)
        if (d.status & DoneCount)
            d.count = static_cast<std::uint64_t>(rowCount);
    bool rolledBack = false;
    if (oc == Outcome::Ok) {
        lastRowCount = rowCount;
        ++triggerDepth;
        for (const auto& [name, body] : triggers) {
            auto savedVars = std::move(vars);
            auto savedParams = std::move(params);
            vars.clear();
            params.clear();
            const int tranBefore = tranCount;
            Out inner{out.sink, DoneKind::DoneInProc, false, true};
            runBatch(body, inner, false);
            vars = std::move(savedVars);
            params = std::move(savedParams);
            if (tranCount < tranBefore || tranCount == 0) {
                rolledBack = true;
                break;
            }
        }
        --triggerDepth;
        lastRowCount = rowCount;
    }
    sqlite3_exec(conn, teardown.c_str(), nullptr, nullptr, nullptr);
    if (rolledBack)
        return fail(errorMessage(3609, 16,
                                 "The transaction ended in the trigger. The batch has been "
                                 "aborted.",
                                 1),
                    out, true);
    if (ownTransaction && tranCount > 0) {
        if (oc == Outcome::Ok)
            commitTran(nullptr);
        else
            rollbackTran(nullptr);
    }
    for (const auto& d : held.held)
        out.sink.done(d.kind, d.status, d.count, d.curCmd);
    out.anyDone = out.anyDone || dml.anyDone;
    out.moreAfterLast = dml.moreAfterLast;
    return oc;
}

} // namespace tds
