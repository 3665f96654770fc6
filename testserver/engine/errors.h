#pragma once
// The messages a SQL Server sends for the common failures, and the mapping of
// SQLite's error texts onto them.

#include "testserver/engine/engine.h"

#include <functional>
#include <string>

namespace tds::sql {

Message errorMessage(std::int32_t number, std::uint8_t severity, std::string text,
                     std::uint8_t state = 1);
Message infoMessage(std::int32_t number, std::string text, std::uint8_t state = 1,
                    std::uint8_t severity = 0);

Message invalidObject(const std::string& name);    // 208
Message invalidColumn(const std::string& name);    // 207
Message syntaxError(const std::string& nearToken); // 102
Message unclosedQuote(const std::string& rest);    // 105
Message missingEndComment();                       // 113
Message objectExists(const std::string& name);     // 2714
Message mustDeclare(const std::string& var);       // 137
Message unknownProcedure(const std::string& name); // 2812
// 201: a procedure called without a parameter that has no default.
Message missingParameter(const std::string& procedure, const std::string& parameter);
Message unknownDatabase(const std::string& name); // 911

// What the failing statement was doing, for the constraint messages.
struct ErrorContext {
    std::string verb;     // "INSERT", "UPDATE", "DELETE", "DROP TABLE", "DROP VIEW", "CREATE", ...
    std::string table;    // the statement's target table, bare name
    std::string database; // current database
    // Name of the primary key / unique constraint or index of a table that
    // covers the given columns ("t.a, t.b" as SQLite lists them).
    std::function<std::string(const std::string& table, const std::string& columns,
                              bool& primaryKey)>
        uniqueName;
    // Foreign key details: for INSERT/UPDATE the key of `table` that is
    // violated, for DELETE the key of another table that references it.
    std::function<bool(std::string& constraint, std::string& otherTable, std::string& column)>
        foreignKey;
};

struct MappedError {
    Message message;
    bool abortsBatch = false; // compile-time errors end the whole batch
};

MappedError mapSqliteError(int code, const std::string& sqliteText, const ErrorContext& ctx);

} // namespace tds::sql
