// Alias types: sp_addtype, sp_droptype, CREATE TYPE name FROM base, DROP
// TYPE. Each database keeps its own in a table of the engine; CREATE TABLE
// replaces an alias by its base type (and its NOT NULL when the column says
// nothing of NULL), as SQL Server stores the column.

#include "testserver/engine/catalog.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"
#include "testserver/engine/types.h"

namespace tds {

using namespace sql;

namespace {

constexpr const char* kTypeTable = "main.__tds_types";

bool ensureTypeTable(sqlite3* c) {
    const std::string q = std::string("CREATE TABLE IF NOT EXISTS ") + kTypeTable +
                          " (name TEXT PRIMARY KEY COLLATE NOCASE, base TEXT NOT NULL, "
                          "not_null INTEGER NOT NULL)";
    return sqlite3_exec(c, q.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool builtInType(const std::string& name) {
    return parseDeclType(name).has_value();
}

} // namespace

bool Session::Impl::tableExists(const std::string& schema, const std::string& table) {
    bool found = false;
    catalog::query(conn,
                   "SELECT 1 FROM " + quoteIdent(schema.empty() ? "main" : schema) +
                       ".sqlite_master WHERE type IN ('table', 'view') AND name = " +
                       quoteString(table) + " COLLATE NOCASE",
                   [&](sqlite3_stmt*) { found = true; });
    return found;
}

std::string Session::Impl::indexNamed(const std::string& schema, const std::string& table,
                                      const std::string& index) {
    std::string found;
    catalog::query(conn,
                   "SELECT name FROM " + quoteIdent(schema.empty() ? "main" : schema) +
                       ".sqlite_master WHERE type = 'index' AND tbl_name = " + quoteString(table) +
                       " COLLATE NOCASE AND (name = " + quoteString(index) +
                       " COLLATE NOCASE OR name = " + quoteString(index + "$" + table) +
                       " COLLATE NOCASE)",
                   [&](sqlite3_stmt* st) { found = catalog::text(st, 0); });
    return found;
}

std::optional<std::string> Session::Impl::tableOfIndex(const std::string& schema,
                                                       const std::string& index) {
    std::optional<std::string> found;
    catalog::query(conn,
                   "SELECT tbl_name FROM " + quoteIdent(schema.empty() ? "main" : schema) +
                       ".sqlite_master WHERE type = 'index' AND name = " + quoteString(index) +
                       " COLLATE NOCASE",
                   [&](sqlite3_stmt* st) { found = catalog::text(st, 0); });
    return found;
}

std::optional<TranslateContext::AliasType> Session::Impl::aliasType(const std::string& name) {
    std::optional<TranslateContext::AliasType> r;
    catalog::query(
        conn,
        std::string("SELECT base, not_null FROM ") + kTypeTable +
            " WHERE name = " + quoteString(name),
        [&](sqlite3_stmt* st) {
            r = TranslateContext::AliasType{catalog::text(st, 0), sqlite3_column_int(st, 1) != 0};
        });
    return r;
}

// Adds an alias type; the message SQL Server gives when it cannot, else nothing.
std::optional<Message> Session::Impl::addAliasType(const std::string& name, const std::string& base,
                                                   bool notNull) {
    if (builtInType(name) || aliasType(toLower(name)))
        return errorMessage(2714, 16,
                            "There is already an object named '" + name + "' in the database.", 6);
    const auto baseType = parseDeclType(base);
    if (!baseType)
        return errorMessage(243, 16, "Type " + base + " is not a defined system type.", 2);
    if (!ensureTypeTable(conn))
        return errorMessage(50000, 16, sqlite3_errmsg(conn));
    const std::string q = std::string("INSERT INTO ") + kTypeTable + " VALUES (" +
                          quoteString(name) + ", " + quoteString(base) + ", " +
                          (notNull ? "1" : "0") + ")";
    if (sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return errorMessage(50000, 16, sqlite3_errmsg(conn));
    return std::nullopt;
}

std::optional<Message> Session::Impl::dropAliasType(const std::string& name) {
    if (!aliasType(toLower(name)))
        return errorMessage(218, 16,
                            "Could not find the type '" + name +
                                "'. Either it does not exist or you do not have the necessary "
                                "permission.",
                            1);
    // A type that a table column still names stays.
    bool used = false;
    for (const auto& o : catalog::userObjects(conn))
        if (!o.view && o.sql.find("/*type " + toLower(name) + "*/") != std::string::npos)
            used = true;
    if (used)
        return errorMessage(3732, 16,
                            "Cannot drop type '" + name +
                                "' because it is being referenced by object. There may be "
                                "other objects that reference this type.",
                            1);
    const std::string q =
        std::string("DELETE FROM ") + kTypeTable + " WHERE name = " + quoteString(name);
    sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr);
    return std::nullopt;
}

// sp_addtype name, 'base', ['NULL' | 'NOT NULL'] and sp_droptype name.
std::optional<std::int32_t> Session::Impl::typeProcedure(const std::string& name,
                                                         const std::vector<RpcParam>& args,
                                                         Out& out, Outcome& oc) {
    if (name != "sp_addtype" && name != "sp_droptype")
        return std::nullopt;
    auto arg = [&](std::size_t i) {
        return i < args.size() && !std::holds_alternative<Null>(args[i].value)
                   ? valueText(args[i].value)
                   : std::string();
    };
    std::optional<Message> err;
    if (name == "sp_addtype") {
        if (args.size() < 2) {
            oc = fail(missingParameter(name, args.empty() ? "@typename" : "@phystype"), out, false);
            return 1;
        }
        const std::string nulls = toLower(arg(2));
        err = addAliasType(arg(0), arg(1), nulls == "not null");
    } else {
        if (args.empty()) {
            oc = fail(missingParameter(name, "@typename"), out, false);
            return 1;
        }
        err = dropAliasType(arg(0));
    }
    if (err) {
        oc = fail(*err, out, false);
        return 1;
    }
    return 0;
}

// sp_rename 'table.column', 'new', 'COLUMN' and sp_rename 'table', 'new'
// [, 'OBJECT']: SQLite renames the column or table (and the triggers that
// name it); the server's own checks and the table's triggers follow.
std::optional<std::int32_t> Session::Impl::renameProcedure(const std::string& name,
                                                           const std::vector<RpcParam>& args,
                                                           Out& out, Outcome& oc) {
    if (name != "sp_rename")
        return std::nullopt;
    auto arg = [&](std::size_t i) {
        return i < args.size() && !std::holds_alternative<Null>(args[i].value)
                   ? valueText(args[i].value)
                   : std::string();
    };
    if (args.size() < 2) {
        oc = fail(missingParameter(name, args.empty() ? "@objname" : "@newname"), out, false);
        return 1;
    }
    const std::string kind = toUpper(arg(2));
    const std::string newName = arg(1);
    const std::vector<Token> toks = significantTokens(arg(0));
    std::size_t i = 0;
    auto parts = readObjectName(toks, i);
    auto ambiguous = [&] {
        oc = fail(errorMessage(15248, 11,
                               "Either the parameter @objname is ambiguous or the claimed "
                               "@objtype (" +
                                   kind + ") is wrong."),
                  out, false);
        return 1;
    };
    if (!parts || i != toks.size() || newName.empty() ||
        !(kind.empty() || kind == "COLUMN" || kind == "OBJECT"))
        return ambiguous();
    std::vector<std::string> names = *parts;
    std::erase(names, std::string());
    std::string column;
    if (kind == "COLUMN") {
        if (names.size() < 2)
            return ambiguous();
        column = names.back();
        names.pop_back();
    }
    const std::string schema = schemaOfName(names);
    const std::string table = storedParts(names).back();
    if (!tableExists(schema, table))
        return ambiguous();
    const std::string prefix = quoteIdent(schema.empty() ? "main" : schema) + ".";
    std::string sql;
    if (kind == "COLUMN") {
        bool found = false;
        for (const auto& c : catalog::columnsOf(conn, schema.empty() ? "main" : schema, table))
            found = found || iequals(c.name, column);
        if (!found)
            return ambiguous();
        sql = "ALTER TABLE " + prefix + quoteIdent(table) + " RENAME COLUMN " + quoteIdent(column) +
              " TO " + quoteIdent(newName);
    } else {
        if (tableExists(schema, newName)) {
            oc = fail(errorMessage(15335, 11,
                                   "Error: The new name '" + newName +
                                       "' is already in use as a OBJECT name and would cause a "
                                       "duplicate that is not permitted."),
                      out, false);
            return 1;
        }
        sql = "ALTER TABLE " + prefix + quoteIdent(table) + " RENAME TO " + quoteIdent(newName);
    }
    // SQL Server's note comes first, as a message of severity 10.
    Message caution = errorMessage(15477, 10,
                                   "Caution: Changing any part of an object name could break "
                                   "scripts and stored procedures.");
    out.sink.message(caution);
    dropColumnChecks(schema, table);
    const int rc = sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    const std::string now = kind == "COLUMN" || rc != SQLITE_OK ? table : newName;
    if (rc == SQLITE_OK && kind != "COLUMN" && catalog::hasInternalTable(conn, "__tds_triggers"))
        catalog::execWithTexts(conn,
                               std::string("UPDATE ") + catalog::kTriggerTable +
                                   " SET tbl = ?1 WHERE tbl = ?2 COLLATE NOCASE",
                               newName, table, "");
    refreshColumnChecks(schema, now);
    if (rc != SQLITE_OK) {
        oc = failSqlite(sqlite3_extended_errcode(conn), "sp_rename", table, out);
        return 1;
    }
    return 0;
}

// CREATE TYPE name AS TABLE (columns): kept with its column list, which the
// table variable of a table-valued parameter of that type is made with.
Outcome Session::Impl::createTableType(const Statement& st, const std::string& name,
                                       std::size_t open, Out& out) {
    const std::size_t close = matchingParen(st.toks, open, st.toks.size());
    if (close != st.toks.size() - 1)
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const Token& last = st.toks[close];
    const std::string columns = std::string(
        st.source.substr(st.toks[open].pos, last.pos + last.text.size() - st.toks[open].pos));
    sqlite3_exec(conn,
                 "CREATE TABLE IF NOT EXISTS main.__tds_table_types (name TEXT NOT NULL UNIQUE "
                 "COLLATE NOCASE, columns TEXT NOT NULL)",
                 nullptr, nullptr, nullptr);
    if (tableTypeColumns(name) || aliasType(toLower(name)))
        return fail(errorMessage(219, 16,
                                 "The type '" + name +
                                     "' already exists, or you do not have "
                                     "permission to create it."),
                    out, false);
    if (catalog::execWithTexts(conn,
                               "INSERT INTO main.__tds_table_types (name, columns) VALUES (?1, "
                               "?2)",
                               name, columns, std::string()) != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE TYPE", name, out);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

bool Session::Impl::dropTableType(const std::string& name) {
    if (!catalog::hasInternalTable(conn, "__tds_table_types"))
        return false;
    catalog::execWithTexts(conn, "DELETE FROM main.__tds_table_types WHERE name = ?1", name,
                           std::string(), std::string());
    return sqlite3_changes(conn) > 0;
}

// CREATE TYPE name FROM base [NULL | NOT NULL].
Outcome Session::Impl::createType(const Statement& st, Out& out) {
    std::size_t i = 2;
    const auto parts = readObjectName(st.toks, i);
    if (!parts || i >= st.toks.size())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    if (isWordTok(st.toks[i], "as") && i + 2 < st.toks.size() && st.toks[i + 1].is("table") &&
        isPunctTok(st.toks[i + 2], '('))
        return createTableType(st, storedParts(*parts).back(), i + 2, out);
    if (!isWordTok(st.toks[i], "from"))
        return fail(syntaxError(std::string(st.toks[i].text)), out, true);
    ++i;
    std::string base;
    while (i < st.toks.size() && !st.toks[i].isAny({"null", "not"}))
        base += std::string(st.toks[i++].text);
    bool notNull = false;
    if (i < st.toks.size() && st.toks[i].is("not")) {
        notNull = true;
        i += 2;
    } else if (i < st.toks.size()) {
        ++i;
    }
    if (i < st.toks.size())
        return fail(syntaxError(std::string(st.toks[i].text)), out, true);
    if (const auto err = addAliasType(parts->back(), base, notNull))
        return fail(*err, out, false);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

Outcome Session::Impl::dropType(const Statement& st, std::size_t at, bool ifExists, Out& out) {
    std::size_t i = at;
    const auto parts = readObjectName(st.toks, i);
    if (!parts || i != st.toks.size())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    if (dropTableType(storedParts(*parts).back())) {
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    if (!(ifExists && !aliasType(toLower(parts->back()))))
        if (const auto err = dropAliasType(parts->back()))
            return fail(*err, out, false);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

} // namespace tds
