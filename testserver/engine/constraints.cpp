// ALTER TABLE ... ADD CONSTRAINT / DROP CONSTRAINT. SQLite cannot change the
// constraints of a table, so the table is built again: the new definition
// under a temporary name, the rows copied (a row that breaks an added
// constraint fails the statement with SQL Server's 547 or 1505), the old
// table dropped and the new one renamed, its indexes and checks made anew.

#include "testserver/engine/catalog.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"

namespace tds {

using namespace sql;

namespace {

// The stored CREATE TABLE text without the constraint `name`; nothing when it
// has no constraint of that name.
std::optional<std::string> withoutConstraint(const std::string& createSql,
                                             const std::string& name) {
    const auto toks = significantTokens(createSql);
    for (std::size_t i = 0; i + 1 < toks.size(); ++i) {
        if (!toks[i].is("constraint") || !iequals(toks[i + 1].value(), name))
            continue;
        // The clause runs to the next top-level comma, the table's closing
        // parenthesis or the next constraint of the same column.
        int depth = 0;
        std::size_t end = i + 2;
        for (; end < toks.size(); ++end) {
            if (isPunctTok(toks[end], '('))
                ++depth;
            else if (isPunctTok(toks[end], ')')) {
                if (depth == 0)
                    break;
                --depth;
            } else if (depth == 0 &&
                       (isPunctTok(toks[end], ',') ||
                        toks[end].isAny({"constraint", "not", "null", "default", "primary",
                                         "unique", "check", "references", "collate"})) &&
                       end > i + 2)
                break;
        }
        std::size_t from = toks[i].pos;
        // A table constraint takes its comma along.
        if (i > 0 && isPunctTok(toks[i - 1], ','))
            from = toks[i - 1].pos;
        const std::size_t to = toks[end].pos;
        return createSql.substr(0, from) + " " + createSql.substr(to);
    }
    return std::nullopt;
}

} // namespace

Outcome Session::Impl::alterConstraints(const Statement& st, std::size_t i,
                                        const std::vector<std::string>& parts, Out& out) {
    const auto& toks = st.toks;
    const std::string schema = schemaOfName(parts);
    const std::string& table = parts.back();
    const std::string prefix = quoteIdent(schema.empty() ? "main" : schema) + ".";
    std::string createSql;
    catalog::query(conn,
                   "SELECT sql FROM " + prefix + "sqlite_master WHERE type = 'table' AND name = " +
                       quoteString(table) + " COLLATE NOCASE",
                   [&](sqlite3_stmt* s) { createSql = catalog::text(s, 0); });
    if (createSql.empty())
        return fail(invalidObject(table), out, true);

    // [WITH CHECK | WITH NOCHECK] ADD ..., [NOCHECK | CHECK] CONSTRAINT ..., DROP CONSTRAINT x
    bool checkExisting = true;
    if (isWordTok(toks[i], "with") && i + 1 < toks.size()) {
        checkExisting = !toks[i + 1].is("nocheck");
        i += 2;
    }
    if (i < toks.size() && toks[i].isAny({"nocheck", "check"})) {
        // Enabling or disabling constraints: they stay enforced here.
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    std::string newSql;
    if (i < toks.size() && isWordTok(toks[i], "drop")) {
        ++i;
        if (i < toks.size() && isWordTok(toks[i], "constraint"))
            ++i;
        if (i >= toks.size())
            return fail(syntaxError(std::string(toks.back().text)), out, true);
        const std::string name = toks[i].value();
        const auto without = withoutConstraint(createSql, name);
        if (!without)
            return fail(errorMessage(3728, 16, "'" + name + "' is not a constraint.", 1), out,
                        false);
        newSql = *without;
    } else {
        ++i; // ADD
        if (i < toks.size() && isWordTok(toks[i], "constraint") && i + 2 < toks.size() &&
            toks[i + 2].is("default"))
            return fail(errorMessage(50000, 16,
                                     "ALTER TABLE ... ADD DEFAULT is not supported by this "
                                     "server."),
                        out, false);
        // The constraint through the CREATE TABLE rules.
        Statement fake;
        fake.source = st.source;
        fake.toks.assign(toks.begin(), toks.begin() + 3);
        const LexResult paren = lex("()");
        fake.toks.push_back(paren.tokens[0]);
        fake.toks.insert(fake.toks.end(), toks.begin() + static_cast<std::ptrdiff_t>(i),
                         toks.end());
        fake.toks.push_back(paren.tokens[1]);
        const Translated tr = translateCreateTable(fake, translateContext());
        if (tr.syntaxErrorNear)
            return fail(syntaxError(*tr.syntaxErrorNear), out, true);
        const auto open = tr.sql.find('(');
        std::string clause = tr.sql.substr(open + 1, tr.sql.size() - open - 2);
        clause.erase(0, clause.find_first_not_of(", ")); // table constraints come after a comma
        const auto close = createSql.rfind(')');
        newSql = createSql.substr(0, close) + ", " + clause + createSql.substr(close);
    }

    // Build the table again.
    std::vector<std::string> indexes;
    catalog::query(conn,
                   "SELECT sql FROM " + prefix +
                       "sqlite_master WHERE type = 'index' AND sql IS NOT NULL AND tbl_name = " +
                       quoteString(table) + " COLLATE NOCASE",
                   [&](sqlite3_stmt* s) { indexes.push_back(catalog::text(s, 0)); });
    const std::string temp = "__tds_rebuild";
    const auto nameAt = newSql.find('(');
    const std::string create =
        "CREATE TABLE " + prefix + quoteIdent(temp) + " " + newSql.substr(nameAt);
    sqlite3_exec(conn, "PRAGMA foreign_keys=OFF; PRAGMA legacy_alter_table=ON", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(conn, "SAVEPOINT tds_rebuild", nullptr, nullptr, nullptr);
    if (!checkExisting)
        sqlite3_exec(conn, "PRAGMA ignore_check_constraints=ON", nullptr, nullptr, nullptr);
    dropColumnChecks(schema, table);
    int rc = sqlite3_exec(conn, create.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(conn,
                          ("INSERT INTO " + prefix + quoteIdent(temp) + " SELECT * FROM " + prefix +
                           quoteIdent(table))
                              .c_str(),
                          nullptr, nullptr, nullptr);
    // The error goes out while SQLite still has its text.
    std::optional<Outcome> failed;
    if (rc != SQLITE_OK)
        failed = failSqlite(sqlite3_extended_errcode(conn), "ALTER TABLE", table, out);
    sqlite3_exec(conn, "PRAGMA ignore_check_constraints=OFF", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        std::string swap = "DROP TABLE " + prefix + quoteIdent(table) + "; ALTER TABLE " + prefix +
                           quoteIdent(temp) + " RENAME TO " + quoteIdent(table) + ";";
        for (const auto& ix : indexes)
            swap += ix + ";";
        rc = sqlite3_exec(conn, swap.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            failed = failSqlite(sqlite3_extended_errcode(conn), "ALTER TABLE", table, out);
    }
    if (rc != SQLITE_OK)
        sqlite3_exec(conn, "ROLLBACK TO tds_rebuild", nullptr, nullptr, nullptr);
    sqlite3_exec(conn, "RELEASE tds_rebuild; PRAGMA legacy_alter_table=OFF; PRAGMA foreign_keys=ON",
                 nullptr, nullptr, nullptr);
    refreshColumnChecks(schema, table);
    if (failed)
        return *failed;
    out.done(0, 0, 0);
    return Outcome::Ok;
}

} // namespace tds
