// Schemas besides dbo: CREATE SCHEMA and DROP SCHEMA. A table or view of
// schema s is the SQLite table "s.t" of its database; names that say s.t
// (or db.s.t) reach it, the catalog views show it as table t of schema s.
// Schema ids: dbo 1, guest 2, INFORMATION_SCHEMA 3, sys 4, then the created
// ones in order.

#include "testserver/engine/catalog.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"

namespace tds {

using namespace sql;

namespace {

bool builtInSchema(const std::string& name) {
    return iequals(name, "dbo") || iequals(name, "guest") || iequals(name, "sys") ||
           iequals(name, "information_schema");
}

} // namespace

std::optional<std::int64_t> Session::Impl::userSchemaId(const std::string& name) {
    if (!catalog::hasSchemaTable(conn))
        return std::nullopt;
    std::optional<std::int64_t> id;
    catalog::query(conn,
                   std::string("SELECT rowid + 4 FROM ") + catalog::kSchemaTable +
                       " WHERE name = " + quoteString(name),
                   [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
    return id;
}

std::vector<std::string> Session::Impl::storedParts(const std::vector<std::string>& parts) {
    if (parts.size() < 2 || builtInSchema(parts[parts.size() - 2]) ||
        parts[parts.size() - 2].empty() || !userSchemaId(parts[parts.size() - 2]))
        return parts;
    std::vector<std::string> r(parts.begin(), parts.end() - 2);
    r.push_back(parts[parts.size() - 2] + "." + parts.back());
    return r;
}

Outcome Session::Impl::createSchema(const Statement& st, Out& out) {
    if (st.toks.size() < 3 || !st.toks[2].isName())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const std::string name = st.toks[2].value();
    std::size_t i = 3;
    if (i + 1 < st.toks.size() && isWordTok(st.toks[i], "authorization"))
        i += 2;
    if (i < st.toks.size())
        return fail(errorMessage(50000, 16,
                                 "CREATE SCHEMA with schema elements is not supported by this "
                                 "server."),
                    out, false);
    if (builtInSchema(name) || userSchemaId(name))
        return fail(objectExists(name), out, false);
    const std::string q = std::string("CREATE TABLE IF NOT EXISTS ") + catalog::kSchemaTable +
                          " (name TEXT PRIMARY KEY COLLATE NOCASE); INSERT INTO " +
                          catalog::kSchemaTable + " VALUES (" + quoteString(name) + ")";
    if (sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE SCHEMA", name, out);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

Outcome Session::Impl::dropSchema(const Statement& st, std::size_t at, bool ifExists, Out& out) {
    if (at + 1 != st.toks.size() || !st.toks[at].isName())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const std::string name = st.toks[at].value();
    if (!userSchemaId(name)) {
        if (ifExists) {
            out.done(0, 0, 0);
            return Outcome::Ok;
        }
        return fail(errorMessage(3701, 11,
                                 "Cannot drop the schema '" + name +
                                     "', because it does not exist or you do not have "
                                     "permission.",
                                 14),
                    out, false);
    }
    std::vector<std::string> objects;
    for (const auto& o : catalog::userObjects(conn))
        objects.push_back(o.name);
    if (catalog::hasProcedureTable(conn))
        catalog::query(conn, std::string("SELECT name FROM main.") + catalog::kProcedureTable,
                       [&](sqlite3_stmt* s) { objects.push_back(catalog::text(s, 0)); });
    for (const auto& o : objects)
        if (o.size() > name.size() && o[name.size()] == '.' &&
            iequals(o.substr(0, name.size()), name))
            return fail(errorMessage(3729, 16,
                                     "Cannot drop schema '" + name +
                                         "' because it is being referenced by object '" +
                                         o.substr(name.size() + 1) + "'.",
                                     1),
                        out, false);
    const std::string q =
        std::string("DELETE FROM ") + catalog::kSchemaTable + " WHERE name = " + quoteString(name);
    sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

} // namespace tds
