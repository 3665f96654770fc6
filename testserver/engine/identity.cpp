// IDENTITY and timestamp columns on INSERT and UPDATE: an INSERT without a
// column list fills every column but the identity column; naming the identity
// column needs SET IDENTITY_INSERT t ON, which one table of the session at a
// time may have. A timestamp (rowversion) column takes no value but its own:
// DEFAULT or NULL on INSERT, nothing on UPDATE. DEFAULT in a VALUES list,
// which SQLite does not know, leaves the column out so that its default applies.

#include "testserver/engine/catalog.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/session_impl.h"

namespace tds {

using namespace sql;

namespace {

// The identity column of a table, or "".
std::string identityColumn(sqlite3* c, const std::string& schema, const std::string& table) {
    for (const auto& col : catalog::columnsOf(c, schema.empty() ? "main" : schema, table))
        if (col.identity)
            return col.name;
    return {};
}

Message timestampInsertRefused() {
    return errorMessage(273, 16,
                        "Cannot insert an explicit value into a timestamp column. Use INSERT with "
                        "a column list to exclude the timestamp column, or insert a DEFAULT into "
                        "the timestamp column.");
}

// The items of each row of a VALUES list starting at `at` (the word VALUES),
// as token ranges [first, last]; nothing when the list is not plain rows in
// parentheses up to the statement's end.
using Item = std::pair<std::size_t, std::size_t>;
std::optional<std::vector<std::vector<Item>>> valuesRows(const std::vector<Token>& toks,
                                                         std::size_t at) {
    std::vector<std::vector<Item>> rows;
    std::size_t i = at + 1;
    while (i < toks.size() && isPunctTok(toks[i], '(')) {
        const std::size_t close = matchingParen(toks, i, toks.size());
        if (close >= toks.size())
            return std::nullopt;
        std::vector<Item> items;
        std::size_t first = i + 1;
        int depth = 0;
        for (std::size_t k = i + 1; k <= close; ++k) {
            if (isPunctTok(toks[k], '('))
                ++depth;
            else if (isPunctTok(toks[k], ')') && k != close)
                --depth;
            if (k == close || (depth == 0 && isPunctTok(toks[k], ','))) {
                if (k == first)
                    return std::nullopt;
                items.emplace_back(first, k - 1);
                first = k + 1;
            }
        }
        rows.push_back(std::move(items));
        i = close + 1;
        if (i < toks.size() && isPunctTok(toks[i], ','))
            ++i;
        else
            break;
    }
    if (rows.empty() || (i < toks.size() && !isPunctTok(toks[i], ';')))
        return std::nullopt;
    return rows;
}

// A column default that is a constant (a number, a string, NULL, in any
// parentheses), as T-SQL text; nothing for an expression.
std::optional<std::string> constantDefault(const std::string& stored) {
    const auto toks = significantTokens(stored);
    std::size_t b = 0, e = toks.size();
    while (e - b >= 2 && isPunctTok(toks[b], '(') && isPunctTok(toks[e - 1], ')')) {
        ++b;
        --e;
    }
    if (e - b == 2 && toks[b].kind == TokKind::Op && toks[b].text == "-" &&
        toks[b + 1].kind == TokKind::Number)
        return "-" + std::string(toks[b + 1].text);
    if (e - b != 1)
        return std::nullopt;
    const Token& t = toks[b];
    if (t.kind == TokKind::Number || t.kind == TokKind::String || t.kind == TokKind::NString ||
        t.kind == TokKind::Binary || isWordTok(t, "null"))
        return std::string(t.text);
    return std::nullopt;
}

} // namespace

// SET IDENTITY_INSERT t ON | OFF.
Outcome Session::Impl::setIdentityInsert(const Statement& st, Out& out) {
    std::size_t i = 2;
    auto parts = readObjectName(st.toks, i);
    if (parts)
        parts = storedParts(*parts);
    if (!parts || i + 1 != st.toks.size() || !st.toks[i].isAny({"on", "off"}))
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const std::string schema = schemaOfName(*parts);
    const std::string& table = parts->back();
    if (!tableExists(schema, table))
        return fail(invalidObject(table), out, true);
    if (identityColumn(conn, schema, table).empty())
        return fail(errorMessage(8106, 16,
                                 "Table '" + table +
                                     "' does not have the identity property. Cannot perform SET "
                                     "operation."),
                    out, false);
    const std::string key = toLower(schema + "." + table);
    if (st.toks[i].is("off")) {
        if (identityInsert == key)
            identityInsert.clear();
        return Outcome::Ok;
    }
    if (!identityInsert.empty() && identityInsert != key)
        return fail(errorMessage(8107, 16,
                                 "IDENTITY_INSERT is already ON for table '" + db + ".dbo." +
                                     identityInsertName +
                                     "'. Cannot perform SET operation for table '" + table + "'."),
                    out, false);
    identityInsert = key;
    identityInsertName = table;
    return Outcome::Ok;
}

// Checks an INSERT against the table's identity and timestamp columns.
// Returns the statement text to run instead (with the column list SQL Server
// implies when there is none, without the columns given as DEFAULT), nothing
// to run the statement as it is, or sets `refused`.
std::optional<std::string> Session::Impl::identityInsertText(const Statement& st,
                                                             std::optional<Message>& refused) {
    std::size_t i = 1;
    if (i < st.toks.size() && isWordTok(st.toks[i], "into"))
        ++i;
    if (i >= st.toks.size() || st.toks[i].kind == TokKind::Variable)
        return std::nullopt;
    auto parts = readObjectName(st.toks, i);
    if (!parts || i >= st.toks.size())
        return std::nullopt;
    parts = storedParts(*parts);
    const std::string schema = schemaOfName(*parts);
    const std::string& table = parts->back();
    const auto columns = catalog::columnsOf(conn, schema.empty() ? "main" : schema, table);
    std::string identity, timestamp;
    for (const auto& col : columns) {
        if (col.identity)
            identity = col.name;
        if (col.type.rowVersion)
            timestamp = col.name;
    }
    const bool allowed = !identity.empty() && identityInsert == toLower(schema + "." + table);
    // The columns the rows fill, and where the rows start.
    std::vector<std::string> named;
    std::size_t listOpen = i, listClose = i;
    const bool hasList = isPunctTok(st.toks[i], '(');
    if (hasList) {
        listClose = matchingParen(st.toks, i, st.toks.size());
        for (std::size_t k = i + 1; k < listClose; ++k) {
            if (!st.toks[k].isName())
                continue;
            if (!identity.empty() && iequals(st.toks[k].value(), identity) && !allowed) {
                refused = errorMessage(544, 16,
                                       "Cannot insert explicit value for identity column in "
                                       "table '" +
                                           table + "' when IDENTITY_INSERT is set to OFF.");
                return std::nullopt;
            }
            named.push_back(st.toks[k].value());
        }
        i = listClose + 1;
    } else if (allowed) {
        refused = errorMessage(8101, 16,
                               "An explicit value for the identity column in table '" + table +
                                   "' can only be specified when a column list is used and "
                                   "IDENTITY_INSERT is ON.");
        return std::nullopt;
    } else {
        if (isWordTok(st.toks[i], "default"))
            return std::nullopt; // DEFAULT VALUES: SQLite numbers the row itself
        for (const auto& col : columns)
            if (!col.identity)
                named.push_back(col.name);
    }
    if (timestamp.empty() && hasList && !(i < st.toks.size() && isWordTok(st.toks[i], "values")))
        return std::nullopt;
    const bool implied = !hasList && !identity.empty();

    // VALUES rows: the timestamp column takes only DEFAULT or NULL; a column
    // that every row gives as DEFAULT is left out, and where only some rows
    // do, DEFAULT becomes the column's default when that is a constant.
    std::optional<std::vector<std::vector<Item>>> rows;
    if (i < st.toks.size() && isWordTok(st.toks[i], "values"))
        rows = valuesRows(st.toks, i);
    std::vector<bool> keep(named.size(), true);
    std::vector<std::optional<std::string>> constant(named.size());
    bool dropped = false, replaced = false;
    if (rows) {
        for (const auto& row : *rows)
            if (row.size() != named.size())
                rows.reset(); // SQL Server's own count error comes from the statement as it is
    }
    if (rows) {
        auto single = [&](const Item& it, std::string_view word) {
            return it.first == it.second && isWordTok(st.toks[it.first], word);
        };
        for (std::size_t c = 0; c < named.size(); ++c) {
            bool allDefault = true;
            for (const auto& row : *rows) {
                const bool isDefault = single(row[c], "default");
                allDefault = allDefault && isDefault;
                if (!timestamp.empty() && iequals(named[c], timestamp) && !isDefault &&
                    !single(row[c], "null")) {
                    refused = timestampInsertRefused();
                    return std::nullopt;
                }
            }
            if (allDefault) {
                keep[c] = false;
                dropped = true;
            } else if (std::any_of(rows->begin(), rows->end(),
                                   [&](const auto& row) { return single(row[c], "default"); })) {
                for (const auto& col : columns)
                    if (iequals(col.name, named[c]) && !col.type.rowVersion)
                        constant[c] = col.hasDefault ? constantDefault(col.defaultValue)
                                                     : std::optional<std::string>("NULL");
                replaced = replaced || constant[c];
            }
        }
    }
    if (!implied && !dropped && !replaced)
        return std::nullopt;

    // The statement again: its start, the column list, the rows (or the rest).
    const std::string text = st.text();
    auto offset = [&](std::size_t k) { return st.toks[k].pos - st.toks[0].pos; };
    auto endOf = [&](std::size_t k) { return offset(k) + st.toks[k].text.size(); };
    std::string list;
    for (std::size_t c = 0; c < named.size(); ++c)
        if (keep[c])
            list += (list.empty() ? "" : ", ") + quoteIdent(named[c]);
    if (list.empty()) {
        // Every column DEFAULT: a row of defaults (SQLite makes one per statement).
        if (!rows || rows->size() != 1)
            return std::nullopt;
        return text.substr(0, offset(listOpen)) + "DEFAULT VALUES";
    }
    std::string out = text.substr(0, offset(listOpen)) + "(" + list + ") ";
    if (!rows || !(dropped || replaced))
        return out + text.substr(offset(i));
    out += "VALUES ";
    for (std::size_t r = 0; r < rows->size(); ++r) {
        out += r ? ", (" : "(";
        bool first = true;
        for (std::size_t c = 0; c < named.size(); ++c) {
            if (!keep[c])
                continue;
            const auto [from, to] = (*rows)[r][c];
            out += first ? "" : ", ";
            if (constant[c] && from == to && isWordTok(st.toks[from], "default"))
                out += *constant[c];
            else
                out += text.substr(offset(from), endOf(to) - offset(from));
            first = false;
        }
        out += ")";
    }
    return out;
}

// Refuses an UPDATE that sets a timestamp column of its target table.
std::optional<Message> Session::Impl::timestampUpdateRefused(const Statement& st) {
    std::size_t i = 1;
    if (i < st.toks.size() && st.toks[i].is("top"))
        return std::nullopt;
    auto parts = readObjectName(st.toks, i);
    if (!parts || i >= st.toks.size() || !isWordTok(st.toks[i], "set"))
        return std::nullopt;
    parts = storedParts(*parts);
    const std::string schema = schemaOfName(*parts);
    std::string timestamp;
    for (const auto& col :
         catalog::columnsOf(conn, schema.empty() ? "main" : schema, parts->back()))
        if (col.type.rowVersion)
            timestamp = col.name;
    if (timestamp.empty())
        return std::nullopt;
    int depth = 0;
    for (std::size_t k = i + 1; k + 1 < st.toks.size(); ++k) {
        if (isPunctTok(st.toks[k], '('))
            ++depth;
        else if (isPunctTok(st.toks[k], ')'))
            --depth;
        else if (depth == 0 && st.toks[k].isAny({"from", "where", "output", "option"}))
            break;
        // "ts =" or "t.ts =" at the top of the SET list.
        else if (depth == 0 && st.toks[k].isName() && iequals(st.toks[k].value(), timestamp) &&
                 st.toks[k + 1].kind == TokKind::Op && st.toks[k + 1].text == "=" &&
                 (k == i + 1 || isPunctTok(st.toks[k - 1], ',') || isPunctTok(st.toks[k - 1], '.')))
            return errorMessage(272, 16, "Cannot update a timestamp column.");
    }
    return std::nullopt;
}

} // namespace tds
