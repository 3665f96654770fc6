#pragma once
// Select lists wider than SQLite allows. SQLite as Debian builds it returns
// at most 2,000 columns; SQL Server returns up to 4,096. A wider SELECT is run
// as one statement whose result columns each carry a group of the select
// list's values packed into a blob (tds_pack), so that it keeps a single
// query plan, row order, DISTINCT and aggregation; the server unpacks the
// groups again. The column names and types come from statements that are
// only prepared, each over a slice of the select list.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace tds::sql {

// A single SELECT split at its select list; the text is SQLite's dialect.
struct WideSelect {
    std::string head;                 // "SELECT" with DISTINCT or ALL as written
    std::vector<std::string> items;   // the select list's items, as written
    std::vector<std::string> exprs;   // the same without their aliases
    std::vector<std::string> aliases; // the alias of each item, unquoted ("" without one)
    std::string rest;                 // FROM ... to the end
};

// Splits a SELECT; nullopt for anything else (a compound SELECT, a WITH, an
// INSERT). ORDER BY and GROUP BY terms that name an item by its alias or its
// position are replaced by the item's expression, since neither survives
// packing.
std::optional<WideSelect> splitSelect(std::string_view sql);

// Whether an item is a star ("*" or "t.*"); `qualifier` gets the text before the dot.
bool isStar(std::string_view item, std::string* qualifier);

// The text of the statement that starts at `sql`: up to the first semicolon
// outside quotes, comments and parentheses, or the end.
std::size_t statementLength(std::string_view sql);

// Values in a packed group: the encoding tds_pack writes.
struct PackedValue {
    int type = 0; // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
    long long integer = 0;
    double real = 0;
    std::string_view bytes; // text or blob, pointing into the packed blob
};
// Decodes a packed group; false if the blob is not one.
bool unpackGroup(std::string_view blob, std::vector<PackedValue>& values);

// Registers tds_pack(v1, v2, ...) on a connection.
void registerPackFunction(sqlite3* conn);

} // namespace tds::sql
