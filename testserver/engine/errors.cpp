#include "testserver/engine/errors.h"

#include <sqlite3.h>

#include <optional>

namespace tds::sql {

namespace {

bool startsWith(const std::string& s, std::string_view p) {
    return s.compare(0, p.size(), p) == 0;
}

std::string after(const std::string& s, std::string_view p) {
    return s.substr(p.size());
}

// "main.t" -> "t"
std::string stripSchema(std::string s) {
    for (std::string_view schema : {"main.", "temp."})
        if (startsWith(s, schema))
            return s.substr(schema.size());
    return s;
}

} // namespace

Message errorMessage(std::int32_t number, std::uint8_t severity, std::string text,
                     std::uint8_t state) {
    Message m;
    m.error = severity > 10;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

Message infoMessage(std::int32_t number, std::string text, std::uint8_t state,
                    std::uint8_t severity) {
    Message m;
    m.error = false;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

Message invalidObject(const std::string& name) {
    return errorMessage(208, 16, "Invalid object name '" + name + "'.");
}

Message invalidColumn(const std::string& name) {
    return errorMessage(207, 16, "Invalid column name '" + name + "'.");
}

Message syntaxError(const std::string& nearToken) {
    return errorMessage(102, 15, "Incorrect syntax near '" + nearToken + "'.");
}

Message unclosedQuote(const std::string& rest) {
    return errorMessage(105, 15,
                        "Unclosed quotation mark after the character string '" + rest + "'.");
}

Message missingEndComment() {
    return errorMessage(113, 15, "Missing end comment mark '*/'.");
}

Message objectExists(const std::string& name) {
    return errorMessage(2714, 16,
                        "There is already an object named '" + name + "' in the database.", 6);
}

Message mustDeclare(const std::string& var) {
    return errorMessage(137, 15, "Must declare the scalar variable \"" + var + "\".", 2);
}

Message missingParameter(const std::string& procedure, const std::string& parameter) {
    return errorMessage(201, 16,
                        "Procedure or function '" + procedure + "' expects parameter '" +
                            parameter + "', which was not supplied.",
                        4);
}

Message unknownProcedure(const std::string& name) {
    return errorMessage(2812, 16, "Could not find stored procedure '" + name + "'.", 62);
}

Message unknownDatabase(const std::string& name) {
    return errorMessage(911, 16,
                        "Database '" + name +
                            "' does not exist. Make sure that the name is entered correctly.");
}

namespace {

// A name SQLite does not know: table, view, index, column, function.
std::optional<MappedError> missingObject(int, const std::string& text, const ErrorContext& ctx) {
    MappedError r;
    if (startsWith(text, "no such table: ")) {
        const std::string name = stripSchema(after(text, "no such table: "));
        if (startsWith(ctx.verb, "DROP")) {
            const std::string what = ctx.verb == "DROP VIEW"    ? "view"
                                     : ctx.verb == "DROP INDEX" ? "index"
                                                                : "table";
            r.message =
                errorMessage(3701, 11,
                             "Cannot drop the " + what + " '" + name +
                                 "', because it does not exist or you do not have permission.",
                             5);
            return r;
        }
        r.message = invalidObject(name);
        r.abortsBatch = true;
        return r;
    }
    if (startsWith(text, "no such view: ") || startsWith(text, "no such index: ")) {
        const bool view = startsWith(text, "no such view: ");
        const std::string name =
            stripSchema(after(text, view ? "no such view: " : "no such index: "));
        r.message =
            errorMessage(3701, 11,
                         std::string("Cannot drop the ") + (view ? "view" : "index") + " '" + name +
                             "', because it does not exist or you do not have permission.",
                         5);
        return r;
    }
    if (startsWith(text, "no such column: ")) {
        const std::string name = after(text, "no such column: ");
        if (name.find('.') != std::string::npos)
            r.message = errorMessage(
                4104, 16, "The multi-part identifier \"" + name + "\" could not be bound.");
        else
            r.message = invalidColumn(name);
        r.abortsBatch = true;
        return r;
    }
    if (startsWith(text, "no such collation sequence: ")) {
        const std::string name = after(text, "no such collation sequence: ");
        r.message = errorMessage(448, 16, "Invalid collation '" + name + "'.");
        r.abortsBatch = true;
        return r;
    }
    if (startsWith(text, "no such function: ")) {
        const std::string name = after(text, "no such function: ");
        r.message =
            errorMessage(195, 15, "'" + name + "' is not a recognized built-in function name.", 10);
        r.abortsBatch = true;
        return r;
    }
    return std::nullopt;
}

// Text SQLite could not parse.
std::optional<MappedError> syntax(int, const std::string& text, const ErrorContext& ctx) {
    MappedError r;
    if (startsWith(text, "near \"")) {
        const auto end = text.find("\": syntax error");
        r.message =
            syntaxError(text.substr(6, end == std::string::npos ? std::string::npos : end - 6));
        r.abortsBatch = true;
        return r;
    }
    if (startsWith(text, "unrecognized token: \"")) {
        std::string tok = after(text, "unrecognized token: \"");
        if (!tok.empty() && tok.back() == '"')
            tok.pop_back();
        r.message = syntaxError(tok);
        r.abortsBatch = true;
        return r;
    }
    if (text == "incomplete input" || startsWith(text, "unrecognized token")) {
        r.message = syntaxError(ctx.table.empty() ? std::string("end of input") : ctx.table);
        r.abortsBatch = true;
        return r;
    }
    return std::nullopt;
}

// CREATE of a name that exists.
std::optional<MappedError> duplicateObject(int, const std::string& text, const ErrorContext& ctx) {
    MappedError r;
    if ((startsWith(text, "table ") || startsWith(text, "view ") || startsWith(text, "index ")) &&
        text.find(" already exists") != std::string::npos) {
        std::string name = text.substr(text.find(' ') + 1);
        name = stripSchema(name.substr(0, name.find(" already exists")));
        if (!name.empty() && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        if (startsWith(text, "index "))
            r.message =
                errorMessage(1913, 16,
                             "The operation failed because an index or statistics with name '" +
                                 name + "' already exists on table '" + ctx.table + "'.");
        else
            r.message = objectExists(name);
        return r;
    }
    return std::nullopt;
}

// A row that breaks a key, NOT NULL, a foreign key or a CHECK.
std::optional<MappedError> constraintViolation(int, const std::string& text,
                                               const ErrorContext& ctx) {
    MappedError r;
    if (startsWith(text, "UNIQUE constraint failed: ") ||
        startsWith(text, "PRIMARY KEY must be unique")) {
        std::string cols =
            startsWith(text, "UNIQUE") ? after(text, "UNIQUE constraint failed: ") : std::string();
        std::string table = ctx.table;
        if (const auto dot = cols.find('.'); dot != std::string::npos)
            table = cols.substr(0, dot);
        bool primaryKey = true;
        std::string name = ctx.uniqueName ? ctx.uniqueName(table, cols, primaryKey) : std::string();
        if (name.empty())
            name = "PK_" + table;
        if (primaryKey)
            r.message =
                errorMessage(2627, 14,
                             "Violation of PRIMARY KEY constraint '" + name +
                                 "'. Cannot insert duplicate key in object 'dbo." + table + "'.");
        else if (name.rfind("UQ", 0) == 0 || name.rfind("uq", 0) == 0)
            r.message =
                errorMessage(2627, 14,
                             "Violation of UNIQUE KEY constraint '" + name +
                                 "'. Cannot insert duplicate key in object 'dbo." + table + "'.");
        else
            r.message = errorMessage(2601, 14,
                                     "Cannot insert duplicate key row in object 'dbo." + table +
                                         "' with unique index '" + name + "'.");
        return r;
    }
    if (startsWith(text, "NOT NULL constraint failed: ")) {
        std::string col = after(text, "NOT NULL constraint failed: ");
        std::string table = ctx.table;
        if (const auto dot = col.find('.'); dot != std::string::npos) {
            table = col.substr(0, dot);
            col = col.substr(dot + 1);
        }
        const std::string verb = ctx.verb == "UPDATE" ? "UPDATE" : "INSERT";
        r.message = errorMessage(515, 16,
                                 "Cannot insert the value NULL into column '" + col + "', table '" +
                                     ctx.database + ".dbo." + table +
                                     "'; column does not allow nulls. " + verb + " fails.",
                                 2);
        return r;
    }
    if (startsWith(text, "FOREIGN KEY constraint failed")) {
        std::string constraint, other, column;
        const bool known = ctx.foreignKey && ctx.foreignKey(constraint, other, column);
        const std::string verb = ctx.verb.empty() ? "INSERT" : ctx.verb;
        std::string msg =
            "The " + verb + " statement conflicted with the " +
            (verb == "DELETE" ? std::string("REFERENCE") : std::string("FOREIGN KEY")) +
            " constraint \"" + (known ? constraint : std::string("FK_") + ctx.table) +
            "\". The conflict occurred in database \"" + ctx.database + "\"";
        if (known)
            msg += ", table \"dbo." + other + "\"" +
                   (column.empty() ? std::string() : ", column '" + column + "'");
        msg += ".";
        r.message = errorMessage(547, 16, msg);
        return r;
    }
    if (startsWith(text, "CHECK constraint failed: ")) {
        const std::string name = after(text, "CHECK constraint failed: ");
        const std::string verb = ctx.verb.empty() ? "INSERT" : ctx.verb;
        r.message =
            errorMessage(547, 16,
                         "The " + verb + " statement conflicted with the CHECK constraint \"" +
                             name + "\". The conflict occurred in database \"" + ctx.database +
                             "\", table \"dbo." + ctx.table + "\".");
        return r;
    }
    return std::nullopt;
}

// A locked, cancelled or read-only database.
std::optional<MappedError> engineState(int primary, const std::string&, const ErrorContext& ctx) {
    MappedError r;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        r.message = errorMessage(1222, 16, "Lock request time out period exceeded.", 45);
        return r;
    }
    if (primary == SQLITE_INTERRUPT) {
        r.message = errorMessage(3617, 16, "The query was cancelled.");
        return r;
    }
    if (primary == SQLITE_READONLY) {
        r.message = errorMessage(3906, 16,
                                 "Failed to update database \"" + ctx.database +
                                     "\" because the database is read-only.");
        return r;
    }
    return std::nullopt;
}

// Calls and statements whose shape does not fit: argument counts, value
// counts, views over several tables.
std::optional<MappedError> statementShape(int, const std::string& text, const ErrorContext&) {
    MappedError r;
    if (startsWith(text, "wrong number of arguments to function ")) {
        std::string fn = after(text, "wrong number of arguments to function ");
        if (const auto p = fn.find('('); p != std::string::npos)
            fn = fn.substr(0, p);
        r.message = errorMessage(
            174, 15, "The " + fn + " function requires a different number of arguments.");
        r.abortsBatch = true;
        return r;
    }
    if (text.find(" values were supplied") != std::string::npos ||
        (text.find(" values for ") != std::string::npos &&
         text.find(" columns") != std::string::npos)) {
        r.message = errorMessage(
            213, 16, "Column name or number of supplied values does not match table definition.");
        return r;
    }
    // SQLite as Debian builds it holds at most 2,000 columns in a result, SQL
    // Server 4,096: name the limit that applies here.
    if (startsWith(text, "too many columns in result set")) {
        r.message = errorMessage(1056, 15,
                                 "The number of elements in the select list exceeds the maximum "
                                 "allowed number of 2000 elements.");
        r.abortsBatch = true;
        return r;
    }
    if (startsWith(text, "cannot modify ") &&
        text.find("because it is a view") != std::string::npos) {
        r.message = errorMessage(4405, 16,
                                 "View or function is not updatable because the modification "
                                 "affects multiple base tables.");
        return r;
    }
    return std::nullopt;
}

// Raised by our own SQL functions and triggers:
// "tds:<number>:<severity>[/<state>]:<text>".
std::optional<MappedError> ownError(int, const std::string& text, const ErrorContext&) {
    MappedError r;
    if (startsWith(text, "tds:")) {
        const auto a = text.find(':', 4);
        const auto b = text.find(':', a + 1);
        if (a != std::string::npos && b != std::string::npos) {
            const std::string severity = text.substr(a + 1, b - a - 1);
            const auto slash = severity.find('/');
            r.message = errorMessage(
                std::stoi(text.substr(4, a - 4)), static_cast<std::uint8_t>(std::stoi(severity)),
                text.substr(b + 1),
                slash == std::string::npos
                    ? std::uint8_t(1)
                    : static_cast<std::uint8_t>(std::stoi(severity.substr(slash + 1))));
            // Conversion errors end the batch (the transaction stays open);
            // overflow and division by zero end only their statement.
            const int number = r.message.number;
            r.abortsBatch = number == 245 || number == 241 || number == 8114 || number == 8169;
            return r;
        }
    }
    return std::nullopt;
}

using Mapper = std::optional<MappedError> (*)(int primary, const std::string& text,
                                              const ErrorContext& ctx);

// Tried in this order; the first that recognises the text gives the error.
const Mapper mappers[] = {missingObject, syntax,         duplicateObject, constraintViolation,
                          engineState,   statementShape, ownError};

} // namespace

MappedError mapSqliteError(int code, const std::string& text, const ErrorContext& ctx) {
    const int primary = code & 0xFF;
    for (const Mapper map : mappers)
        if (auto r = map(primary, text, ctx))
            return *r;
    // Anything else: SQLite's own words, as a general error of severity 16.
    MappedError r;
    r.message = errorMessage(50000, 16, text);
    return r;
}

} // namespace tds::sql
