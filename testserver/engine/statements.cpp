// Statements that go to SQLite after translation: running them, mapping
// SQLite's errors onto SQL Server's, and evaluating expressions. What the
// session does itself (USE, SET, DECLARE, PRINT, RAISERROR, WAITFOR, IF) is
// in dispatch.cpp.

#include "testserver/engine/session_impl.h"
#include "testserver/engine/wide_select.h"

#include "testserver/engine/types.h"
#include "testserver/engine/values.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace tds {

using namespace sql;

Outcome Session::Impl::failSqlite(int rc, const std::string& verb, const std::string& table,
                                  Out& out, std::uint16_t curCmd) {
    if ((rc & 0xFF) == SQLITE_INTERRUPT && cancel && cancel->load())
        return Outcome::Cancelled;
    ErrorContext ctx;
    ctx.verb = verb;
    ctx.table = table;
    ctx.database = db;
    sqlite3* c = conn;
    ctx.uniqueName = [c](const std::string& tbl, const std::string& cols, bool& primaryKey) {
        // Is it the primary key? Compare the listed columns with pk columns.
        std::vector<std::string> pkCols;
        sqlite3_stmt* st = nullptr;
        const std::string q =
            "SELECT name FROM pragma_table_info(" + quoteString(tbl) + ") WHERE pk > 0 ORDER BY pk";
        if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                pkCols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        std::string pkList;
        for (const auto& p : pkCols)
            pkList += (pkList.empty() ? "" : ", ") + tbl + "." + p;
        std::string sqlText;
        st = nullptr;
        const std::string q2 =
            "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = " + quoteString(tbl);
        if (sqlite3_prepare_v2(c, q2.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            sqlText = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        primaryKey = cols == pkList || cols.empty();
        if (primaryKey)
            return primaryKeyName(tbl, sqlText);
        // A named UNIQUE constraint from the CREATE TABLE text.
        const std::vector<Token> t = significantTokens(sqlText);
        for (std::size_t i = 0; i + 2 < t.size(); ++i)
            if (t[i].is("constraint") && t[i + 2].is("unique"))
                return t[i + 1].value();
        // A unique index: find it by its columns.
        st = nullptr;
        const std::string q3 = "SELECT name FROM pragma_index_list(" + quoteString(tbl) +
                               ") WHERE \"unique\" = 1 AND origin = 'c'";
        std::string idx;
        if (sqlite3_prepare_v2(c, q3.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            idx = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return idx.empty() ? defaultKeyName("UQ", tbl) : idx;
    };
    ctx.foreignKey = [c, verb, table](std::string& constraint, std::string& other,
                                      std::string& column) {
        // For INSERT/UPDATE: the first key of this table whose parent row is
        // missing; for DELETE: a key of another table that points here.
        std::string q;
        if (verb == "DELETE")
            q = "SELECT m.name, f.\"from\" FROM sqlite_master m, pragma_foreign_key_list(m.name) f "
                "WHERE m.type = 'table' AND f.\"table\" = " +
                quoteString(table) + " COLLATE NOCASE LIMIT 1";
        else
            q = "SELECT f.\"table\", f.\"to\" FROM pragma_foreign_key_check(" + quoteString(table) +
                ") k JOIN pragma_foreign_key_list(" + quoteString(table) +
                ") f ON f.id = k.fkid LIMIT 1";
        sqlite3_stmt* st = nullptr;
        bool ok = false;
        if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            other = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            const unsigned char* col = sqlite3_column_text(st, 1);
            column = col ? reinterpret_cast<const char*>(col) : "";
            ok = true;
        }
        sqlite3_finalize(st);
        if (!ok && verb != "DELETE") {
            // The check above sees committed rows only; fall back to the first key.
            q = "SELECT \"table\", \"to\" FROM pragma_foreign_key_list(" + quoteString(table) +
                ") LIMIT 1";
            if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK &&
                sqlite3_step(st) == SQLITE_ROW) {
                other = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                const unsigned char* col = sqlite3_column_text(st, 1);
                column = col ? reinterpret_cast<const char*>(col) : "";
                ok = true;
            }
            sqlite3_finalize(st);
        }
        if (!ok)
            return false;
        // The constraint's name, when the CREATE TABLE gave one.
        const std::string owner = verb == "DELETE" ? other : table;
        const std::string target = verb == "DELETE" ? table : other;
        q = "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = " + quoteString(owner);
        std::string sqlText;
        if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            sqlText = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        constraint = foreignKeyName(owner, sqlText, target);
        return true;
    };
    MappedError me = mapSqliteError(rc, sqlite3_errmsg(conn), ctx);
    return fail(me.message, out, me.abortsBatch, curCmd);
}

Outcome Session::Impl::runSql(const std::string& sqliteSql, const Statement& st, Out& out,
                              std::uint16_t curCmd, const std::string& verb,
                              const std::string& table, bool countRows) {
    const char* tail = sqliteSql.c_str();
    const char* end = tail + sqliteSql.size();
    std::uint64_t changes = 0;
    bool any = false;
    bool queried = false;
    while (tail < end) {
        sqlite3_stmt* stmt = nullptr;
        const char* start = tail;
        int rc = sqlite3_prepare_v2(conn, tail, static_cast<int>(end - tail), &stmt, &tail);
        if (rc != SQLITE_OK &&
            std::string_view(sqlite3_errmsg(conn)).starts_with("too many columns in result set")) {
            // A select list wider than SQLite's limit runs in packed groups.
            sqlite3_finalize(stmt);
            const std::string_view text(start,
                                        statementLength(std::string_view(start, end - start)));
            if (const auto oc = runWideQuery(text, resultTypeHints(st), out)) {
                if (*oc != Outcome::Ok)
                    return *oc;
                queried = true;
                any = true;
                tail = start + text.size();
                continue;
            }
            rc = sqlite3_prepare_v2(conn, start, static_cast<int>(end - start), &stmt, &tail);
        }
        if (rc != SQLITE_OK) {
            sqlite3_finalize(stmt);
            Outcome oc = failSqlite(rc, verb, table, out);
            return oc;
        }
        if (!stmt)
            break; // only blanks left
        any = true;
        if (!bindParameters(stmt, out)) {
            sqlite3_finalize(stmt);
            return Outcome::Abort;
        }
        if (options.fmtOnly) {
            // Only the shape of the results: no rows, no changes.
            if (sqlite3_column_count(stmt) > 0) {
                queried = true;
                const TypeHints hints = resultTypeHints(st);
                out.sink.columns(describe(stmt, false, &hints));
                out.done(0, 0, 0xC1);
            }
            sqlite3_finalize(stmt);
            continue;
        }
        if (sqlite3_column_count(stmt) > 0) {
            queried = true;
            const TypeHints hints = resultTypeHints(st);
            const Outcome oc = runQuery(stmt, out, &hints);
            sqlite3_finalize(stmt);
            if (oc != Outcome::Ok)
                return oc;
            continue;
        }
        const std::int64_t before = sqlite3_total_changes64(conn);
        rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            const int erc = sqlite3_extended_errcode(conn);
            sqlite3_finalize(stmt);
            return failSqlite(erc, verb, table, out);
        }
        sqlite3_finalize(stmt);
        // The rows the statement itself changed: the server's own triggers
        // (a new row version, text brought into its code page) change them
        // again, which SQL Server does not count. sqlite3_changes leaves those
        // out, but keeps its value over statements that change nothing.
        if (sqlite3_total_changes64(conn) != before)
            changes += static_cast<std::uint64_t>(sqlite3_changes64(conn));
        if (verb == "INSERT")
            lastIdentity = sqlite3_last_insert_rowid(conn);
    }
    (void)st;
    if (queried || (!any && !countRows))
        return Outcome::Ok;
    if (countRows) {
        lastRowCount = static_cast<std::int64_t>(changes);
        out.done(options.nocount ? 0 : DoneCount, changes, curCmd);
    } else {
        lastRowCount = 0;
        out.done(0, 0, curCmd);
    }
    return Outcome::Ok;
}

sqlite3_stmt* Session::Impl::prepareBound(const std::string& sqlText, Out& out, Outcome& oc) {
    oc = Outcome::Ok;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(conn, sqlText.c_str(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        oc = failSqlite(rc, "SELECT", {}, out);
        return nullptr;
    }
    if (!bindParameters(stmt, out)) {
        sqlite3_finalize(stmt);
        oc = Outcome::Abort;
        return nullptr;
    }
    return stmt;
}

// Evaluates an expression (tokens [first, last) of st) with SELECT.
std::optional<Value> Session::Impl::evaluate(const Statement& st, std::size_t first,
                                             std::size_t last, Out& out, Outcome& oc) {
    oc = Outcome::Ok;
    if (first >= last)
        return Value{Null{}};
    const Translated tr = translate(st, translateContext(), first, last);
    if (tr.syntaxErrorNear || tr.error) {
        oc = fail(tr.error ? *tr.error : syntaxError(*tr.syntaxErrorNear), out, true);
        return std::nullopt;
    }
    refreshSystemViews(tr.systemObjects);
    // In parentheses: a word after the expression is no alias here, as it
    // would be in a select list, but a syntax error (PRINT 'a' go).
    return evaluateSql("(" + tr.sql + ")", out, oc);
}

} // namespace tds
