// ALTER TABLE ... ADD CONSTRAINT / DROP CONSTRAINT. SQLite cannot change the
// constraints of a table, so the table is built again: the new definition
// under a temporary name, the rows copied (a row that breaks an added
// constraint fails the statement with SQL Server's 547 or 1505), the old
// table dropped and the new one renamed, its indexes and checks made anew.

#include "testserver/engine/catalog.h"
#include "testserver/engine/collation.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"
#include "testserver/engine/types.h"

#include <cstdio>
#include <cstring>
#include <functional>

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

// "schema." of a table's SQLite schema ("" is the main one).
std::string schemaPrefixOf(const std::string& schema) {
    return quoteIdent(schema.empty() ? "main" : schema) + ".";
}

// The stored CREATE TABLE text of a table; empty when there is no such table.
std::string storedTableSql(sqlite3* conn, const std::string& schema, const std::string& table) {
    const std::string prefix = schemaPrefixOf(schema);
    std::string sql;
    catalog::query(conn,
                   "SELECT sql FROM " + prefix + "sqlite_master WHERE type = 'table' AND name = " +
                       quoteString(table) + " COLLATE NOCASE",
                   [&](sqlite3_stmt* s) { sql = catalog::text(s, 0); });
    return sql;
}

// ALTER TABLE t ... with the tokens from `from` on as CREATE TABLE t (...):
// a column or constraint through the CREATE TABLE rules.
Translated asCreateTable(const Statement& st, std::size_t from, const TranslateContext& ctx) {
    Statement fake;
    fake.source = st.source;
    fake.toks.assign(st.toks.begin(), st.toks.begin() + 3);
    const LexResult paren = lex("()");
    fake.toks.push_back(paren.tokens[0]);
    fake.toks.insert(fake.toks.end(), st.toks.begin() + static_cast<std::ptrdiff_t>(from),
                     st.toks.end());
    fake.toks.push_back(paren.tokens[1]);
    return translateCreateTable(fake, ctx);
}

} // namespace

Outcome Session::Impl::alterConstraints(const Statement& st, std::size_t i,
                                        const std::vector<std::string>& parts, Out& out) {
    const auto& toks = st.toks;
    const std::string schema = schemaOfName(parts);
    const std::string& table = parts.back();
    const std::string createSql = storedTableSql(conn, schema, table);
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
        if (const std::size_t d = i < toks.size() && isWordTok(toks[i], "constraint") ? i + 2 : i;
            d < toks.size() && isWordTok(toks[d], "default"))
            return addDefault(st, i, schema, table, createSql, out);
        // The constraint through the CREATE TABLE rules.
        const Translated tr = asCreateTable(st, i, translateContext());
        if (tr.syntaxErrorNear)
            return fail(syntaxError(*tr.syntaxErrorNear), out, true);
        const auto open = tr.sql.find('(');
        std::string clause = tr.sql.substr(open + 1, tr.sql.size() - open - 2);
        clause.erase(0, clause.find_first_not_of(", ")); // table constraints come after a comma
        const auto close = createSql.rfind(')');
        newSql = createSql.substr(0, close) + ", " + clause + createSql.substr(close);
    }

    return rebuildTable(schema, table, newSql, "*", checkExisting, out);
}

// ALTER TABLE t ADD [CONSTRAINT name] DEFAULT expr FOR column [WITH VALUES]:
// the column's definition gets the default as a named column constraint, so
// that DROP CONSTRAINT finds it again. Rows already there keep their values.
Outcome Session::Impl::addDefault(const Statement& st, std::size_t i, const std::string& schema,
                                  const std::string& table, const std::string& createSql,
                                  Out& out) {
    const auto& toks = st.toks;
    std::string name;
    if (isWordTok(toks[i], "constraint")) {
        name = toks[i + 1].value();
        i += 2;
    }
    const std::size_t exprFrom = ++i; // after DEFAULT
    int depth = 0;
    while (i < toks.size() && !(depth == 0 && isWordTok(toks[i], "for"))) {
        depth += isPunctTok(toks[i], '(') ? 1 : isPunctTok(toks[i], ')') ? -1 : 0;
        ++i;
    }
    if (i == exprFrom || i + 1 >= toks.size() || !toks[i + 1].isName())
        return fail(syntaxError(std::string(toks[std::min(i, toks.size() - 1)].text)), out, true);
    const std::string column = toks[i + 1].value();
    if (i + 2 < toks.size() &&
        !(i + 4 == toks.size() && isWordTok(toks[i + 2], "with") && toks[i + 3].is("values")))
        return fail(syntaxError(std::string(toks[i + 2].text)), out, true);
    const Token& last = toks[i - 1];
    const std::string expr(
        st.source.substr(toks[exprFrom].pos, last.pos + last.text.size() - toks[exprFrom].pos));

    // The column's definition in the stored CREATE TABLE: from its name to
    // the next comma at the top of the list (or the closing parenthesis).
    const auto stored = significantTokens(createSql);
    std::size_t at = 0, end = 0;
    bool hasDefault = false;
    depth = 0;
    for (std::size_t k = 0; k < stored.size(); ++k) {
        if (isPunctTok(stored[k], '(')) {
            if (++depth == 1 && k + 1 < stored.size() && stored[k + 1].isName() &&
                iequals(stored[k + 1].value(), column))
                at = k + 1;
            continue;
        }
        if (isPunctTok(stored[k], ')') && --depth == 0) {
            if (at && !end)
                end = k;
            continue;
        }
        if (depth != 1)
            continue;
        if (isPunctTok(stored[k], ',')) {
            if (at && !end)
                end = k;
            else if (k + 1 < stored.size() && stored[k + 1].isName() &&
                     iequals(stored[k + 1].value(), column))
                at = k + 1;
        } else if (at && !end && isWordTok(stored[k], "default")) {
            hasDefault = true;
        }
    }
    if (!at || !end)
        return fail(errorMessage(1752, 16,
                                 "Column '" + column + "' in table '" + table +
                                     "' is invalid for creating a default constraint."),
                    out, false);
    if (hasDefault) {
        fail(errorMessage(1781, 16, "Column already has a DEFAULT bound to it."), out, false);
        return fail(errorMessage(1750, 16,
                                 "Could not create constraint or index. See previous "
                                 "errors."),
                    out, false);
    }
    if (name.empty()) {
        // SQL Server's own names: DF__table__column__ and eight hex digits.
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X",
                      unsigned(std::hash<std::string>{}(schema + "." + table + "." + column)));
        name = "DF__" + table.substr(0, 9) + "__" + column.substr(0, 5) + "__" + hex;
    }
    // The expression through the CREATE TABLE rules, as a column's default.
    const std::string probe =
        "CREATE TABLE t (c int CONSTRAINT " + quoteIdent(name) + " DEFAULT " + expr + ")";
    const LexResult lx = lex(probe);
    const auto parts = splitStatements(lx.tokens, probe);
    if (lx.error || parts.size() != 1)
        return fail(syntaxError(expr), out, true);
    const Translated tr = translateCreateTable(parts[0], translateContext());
    if (tr.syntaxErrorNear)
        return fail(syntaxError(*tr.syntaxErrorNear), out, true);
    const std::size_t from = tr.sql.find("CONSTRAINT");
    const std::size_t to = tr.sql.rfind(')');
    if (from == std::string::npos || to == std::string::npos || to < from)
        return fail(syntaxError(expr), out, true);
    const std::size_t insertAt = stored[end].pos;
    const std::string newSql = createSql.substr(0, insertAt) + " " +
                               tr.sql.substr(from, to - from) + createSql.substr(insertAt);
    return rebuildTable(schema, table, newSql, "*", true, out);
}

Outcome Session::Impl::rebuildTable(const std::string& schema, const std::string& table,
                                    const std::string& newSql, const std::string& rows,
                                    bool checkExisting, Out& out) {
    const std::string prefix = schemaPrefixOf(schema);
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
                          ("INSERT INTO " + prefix + quoteIdent(temp) + " SELECT " + rows +
                           " FROM " + prefix + quoteIdent(table))
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

// ALTER TABLE t ALTER COLUMN c type [COLLATE x] [NULL | NOT NULL]: the
// column's definition changes, its constraints and default stay, and every
// row's value converts to the new type; a value that does not fit fails the
// statement as SQL Server's does (245 and the like, 8115, 8152, 515) and
// leaves the table as it was. Without NULL or NOT NULL the column allows
// NULL, without COLLATE text gets the server's collation, as in SQL Server.
Outcome Session::Impl::alterColumn(const Statement& st, std::size_t i,
                                   const std::vector<std::string>& parts, Out& out) {
    const auto& toks = st.toks;
    const std::string schema = schemaOfName(parts);
    const std::string& table = parts.back();
    const std::string createSql = storedTableSql(conn, schema, table);
    if (createSql.empty() || i >= toks.size())
        return fail(createSql.empty() ? invalidObject(table)
                                      : syntaxError(std::string(toks.back().text)),
                    out, true);
    const std::string prefix = schemaPrefixOf(schema);
    const std::string column = toks[i].value();

    // The new definition through the CREATE TABLE rules.
    const Translated tr = asCreateTable(st, i, translateContext());
    if (tr.syntaxErrorNear)
        return fail(syntaxError(*tr.syntaxErrorNear), out, true);
    if (tr.unknownType)
        return fail(errorMessage(2715, 16,
                                 "Column, parameter, or variable #1: Cannot find data type " +
                                     tr.unknownType->second + ".",
                                 3),
                    out, true);
    const auto open = tr.sql.find('(');
    const std::string newDef = tr.sql.substr(open + 1, tr.sql.size() - open - 2);

    // The column's item in the stored definition: name, type, COLLATE and
    // nullability go; constraints and the default stay.
    const auto ct = significantTokens(createSql);
    std::size_t itemBegin = 0, itemEnd = 0, clauses = 0;
    int depth = 0;
    for (std::size_t k = 0; k < ct.size(); ++k) {
        if (isPunctTok(ct[k], '(')) {
            if (++depth == 1 && k + 1 < ct.size() && iequals(ct[k + 1].value(), column))
                itemBegin = k + 1;
            continue;
        }
        if (isPunctTok(ct[k], ')') && --depth == 0) {
            if (itemBegin && !itemEnd)
                itemEnd = k;
            break;
        }
        if (depth != 1)
            continue;
        if (isPunctTok(ct[k], ',')) {
            if (itemBegin && !itemEnd) {
                itemEnd = k;
                break;
            }
            if (k + 1 < ct.size() && iequals(ct[k + 1].value(), column) &&
                !ct[k + 1].isAny({"constraint", "primary", "unique", "foreign", "check"}))
                itemBegin = k + 1;
        } else if (itemBegin && !clauses && k > itemBegin &&
                   ct[k].isAny(
                       {"default", "primary", "unique", "check", "references", "constraint"})) {
            clauses = k;
        }
    }
    if (!itemBegin || !itemEnd)
        return fail(errorMessage(4924, 16,
                                 "ALTER TABLE ALTER COLUMN failed because column '" + column +
                                     "' does not exist in table '" + table + "'.",
                                 1),
                    out, false);
    std::string kept;
    if (clauses) {
        kept = createSql.substr(ct[clauses].pos, ct[itemEnd].pos - ct[clauses].pos);
        // A NOT NULL of the old definition after its constraints goes too.
        for (const char* nn : {" NOT NULL", " not null", " NULL", " null"})
            if (const auto at = kept.rfind(nn);
                at != std::string::npos && at + std::strlen(nn) >= kept.size() - 1)
                kept.erase(at, std::strlen(nn));
    }
    const std::string newSql = createSql.substr(0, ct[itemBegin].pos) + newDef + " " + kept +
                               createSql.substr(ct[itemEnd].pos);

    // The rows: the column converted, checked against the new type first.
    std::string typeText;
    std::optional<ColumnType> newType;
    {
        std::size_t k = i + 1;
        for (; k < toks.size() && !toks[k].isAny({"collate", "not", "null"}); ++k)
            typeText += toks[k].is("max") ? std::string("-1") : std::string(toks[k].text);
        newType = parseDeclType(typeText);
        if (newType) {
            for (; k < toks.size(); ++k) {
                if (toks[k].is("collate") && k + 1 < toks.size())
                    newType->collation = toks[k + 1].value();
                if (toks[k].is("not"))
                    newType->nullable = false;
            }
        }
    }
    std::vector<std::string> names;
    for (const auto& ci : catalog::columnsOf(conn, schema.empty() ? "main" : schema, table))
        names.push_back(ci.name);
    const std::string q = quoteIdent(column);
    std::string rows;
    std::string checkTooLong;
    for (const auto& n : names) {
        std::string value = quoteIdent(n);
        if (iequals(n, column) && newType) {
            const std::string typeText = declTypeText(*newType);
            if (isTextType(newType->type)) {
                value = "tds_codepage(" + value + ", " +
                        std::to_string(newType->type == SqlType::NChar ||
                                               newType->type == SqlType::NVarChar ||
                                               newType->type == SqlType::NText
                                           ? kCodePageUtf8
                                           : codePageOf(newType->collation)) +
                        ")";
                if (newType->length > 0)
                    checkTooLong = "length(rtrim(CAST(" + q + " AS TEXT), ' ')) > " +
                                   std::to_string(newType->length);
            } else if (isBinaryType(newType->type)) {
                if (newType->length > 0)
                    checkTooLong =
                        "length(CAST(" + q + " AS BLOB)) > " + std::to_string(newType->length);
            } else {
                value = "tds_convert(" + quoteString(typeText) + ", " + value + ")";
            }
        }
        rows += (rows.empty() ? "" : ", ") + value;
    }
    auto any = [&](const std::string& where) {
        bool found = false;
        catalog::query(
            conn, "SELECT 1 FROM " + prefix + quoteIdent(table) + " WHERE " + where + " LIMIT 1",
            [&](sqlite3_stmt*) { found = true; });
        return found;
    };
    if (!checkTooLong.empty() && any(checkTooLong))
        return fail(errorMessage(8152, 16, "String or binary data would be truncated.", 14), out,
                    false);
    if (newType && !newType->nullable && any(q + " IS NULL"))
        return fail(errorMessage(515, 16,
                                 "Cannot insert the value NULL into column '" + column +
                                     "', table '" + db + ".dbo." + table +
                                     "'; column does not allow nulls. UPDATE fails.",
                                 2),
                    out, false);
    return rebuildTable(schema, table, newSql, rows, true, out);
}

} // namespace tds
