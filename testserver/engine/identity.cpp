// IDENTITY columns on INSERT: an INSERT without a column list fills every
// column but the identity column; naming the identity column needs SET
// IDENTITY_INSERT t ON, which one table of the session at a time may have.

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

// Checks an INSERT against the table's identity column. Returns the statement
// text with the column list SQL Server implies when there is none, nothing
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
    const std::string identity = identityColumn(conn, schema, table);
    if (identity.empty())
        return std::nullopt;
    const bool allowed = identityInsert == toLower(schema + "." + table);
    if (isPunctTok(st.toks[i], '(')) {
        const std::size_t close = matchingParen(st.toks, i, st.toks.size());
        for (std::size_t k = i + 1; k < close; ++k)
            if (st.toks[k].isName() && iequals(st.toks[k].value(), identity) && !allowed) {
                refused = errorMessage(544, 16,
                                       "Cannot insert explicit value for identity column in "
                                       "table '" +
                                           table + "' when IDENTITY_INSERT is set to OFF.");
                return std::nullopt;
            }
        return std::nullopt;
    }
    if (allowed) {
        refused = errorMessage(8101, 16,
                               "An explicit value for the identity column in table '" + table +
                                   "' can only be specified when a column list is used and "
                                   "IDENTITY_INSERT is ON.");
        return std::nullopt;
    }
    if (isWordTok(st.toks[i], "default"))
        return std::nullopt; // DEFAULT VALUES: SQLite numbers the row itself
    std::string list;
    for (const auto& col : catalog::columnsOf(conn, schema.empty() ? "main" : schema, table))
        if (!col.identity)
            list += (list.empty() ? "" : ", ") + quoteIdent(col.name);
    const std::string text = st.text();
    const std::size_t at = st.toks[i].pos - st.toks[0].pos;
    return text.substr(0, at) + "(" + list + ") " + text.substr(at);
}

} // namespace tds
