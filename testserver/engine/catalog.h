#pragma once
// What the system views and the catalog procedures share: the catalog read
// from SQLite (user objects, their columns), SQL Server's type figures, and the
// argument list of a catalog procedure.

#include "testserver/engine/session_impl.h"

#include <optional>
#include <string>
#include <vector>

namespace tds::catalog {

inline constexpr const char* kCreateDate = "2005-10-14 01:54:05.000";

// The table in each database that holds its stored procedures (name, params,
// body), made by the first CREATE PROCEDURE; no catalog view lists it.
inline constexpr const char* kProcedureTable = "__tds_procedures";
// The engine's own tables (procedures, alias types, triggers) all start with
// "__tds_"; this condition on sqlite_master.name leaves them out.
inline constexpr const char* kNotInternal = "name NOT LIKE '[_][_]tds[_]%'";
// The schemas CREATE SCHEMA made (name), in order; ids from 5.
inline constexpr const char* kSchemaTable = "main.__tds_schemas";
// A stored table name as schema and name: "s.t" is table t of schema s,
// anything else a table of dbo.
std::pair<std::string, std::string> ownerAndName(const std::string& stored);
bool hasSchemaTable(sqlite3* c);
// Procedure ids: the table's rowid with this in the low four bits.
inline constexpr std::int64_t kProcedureIdTag = 5;
std::int64_t procedureIdFor(std::int64_t rowid);
bool hasProcedureTable(sqlite3* c);
// Triggers (CREATE TRIGGER): name, table, events, body; their ids carry this tag.
inline constexpr const char* kTriggerTable = "main.__tds_triggers";
inline constexpr std::int64_t kTriggerIdTag = 7;
// User functions (CREATE FUNCTION): name, parameters, body; ids tagged so. A
// scalar function's body starts with "-- returns ", a multi-statement table
// function's with the DECLARE of its table, an inline one's with its query.
inline constexpr const char* kFunctionTable = "main.__tds_functions";
inline constexpr std::int64_t kFunctionIdTag = 9;
// Their type letters (FN, TF, IF) as an SQL expression over a row of that table.
inline constexpr const char* kFunctionTypeSql =
    "CASE WHEN substr(body, 1, 11) = '-- returns ' THEN 'FN' "
    "WHEN substr(body, 1, 9) = 'DECLARE @' THEN 'TF' ELSE 'IF' END";

// Object ids: stable per database file as long as the object exists.
std::int64_t objectIdFor(std::int64_t rowid);
// SQL Server's system type ids.
int systemTypeId(SqlType t);
// sys.columns.user_type_id: the system type id, but 128 to 130 for the CLR types.
int userTypeId(const ColumnType& t);
// Storage size in bytes as sys.columns.max_length shows it (-1 = max).
int maxLength(const ColumnType& t);
int typePrecision(const ColumnType& t);
int typeScale(const ColumnType& t);
// The type a declaration names; nvarchar(4000) for what names none.
ColumnType typeOf(const std::string& decl);
std::string text(sqlite3_stmt* st, int i);
// Whether the current database has the engine's table `name` ("__tds_functions").
bool hasInternalTable(sqlite3* c, const std::string& name);
// Runs one statement with the texts bound to ?1, ?2, ?3; SQLite's result of its step
// (SQLITE_DONE when it worked).
int execWithTexts(sqlite3* c, const std::string& sql, const std::string& t1, const std::string& t2,
                  const std::string& t3);

// Runs a query and hands each row to `f`.
template <typename F> void query(sqlite3* c, const std::string& q, F f) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW)
            f(st);
    sqlite3_finalize(st);
}

struct Object {
    std::string name;
    bool view = false;
    std::int64_t id = 0;
    std::string sql;
};

std::vector<Object> userObjects(sqlite3* c);

// The constraints a stored CREATE TABLE declares, in order: PK, UQ, F
// (foreign key), C (check), D (default). Unnamed ones get names made the way
// SQL Server makes them (PK__table__ and hex digits), the same each time.
struct Constraint {
    std::string name;
    std::string type;
    std::string column;     // of a column's own constraint; "" for a table's
    std::string definition; // of a check or default, as SQL Server shows it
    std::string referenced; // the table a foreign key refers to
    bool systemNamed = false;
    bool cascadeDelete = false, cascadeUpdate = false;
};
std::vector<Constraint> constraintsOf(const std::string& table, const std::string& createSql);
// Constraint ids: the table's rowid and the constraint's place, tagged so.
inline constexpr std::int64_t kConstraintIdTag = 11;
inline std::int64_t constraintIdFor(std::int64_t tableRowid, std::size_t ordinal) {
    return (tableRowid * 64 + std::int64_t(ordinal)) * 16 + kConstraintIdTag + 1000000;
}
// The type_desc SQL Server gives a constraint type.
std::string constraintTypeDesc(const std::string& type);

struct ColumnInfo {
    std::string name;
    ColumnType type;
    std::string decl;
    bool notNull = false;
    int pk = 0; // position in the primary key, 0 = none
    std::string defaultValue;
    bool hasDefault = false;
    bool identity = false;
};

std::vector<ColumnInfo> columnsOf(sqlite3* c, const std::string& schema, const std::string& table);
// SQL Server shows defaults in parentheses: ((0)), (getdate()), ('x').
std::string showDefault(const std::string& d);
// The system tables every database shows.
const std::vector<std::string>& systemTables();

struct ArgList {
    const std::vector<RpcParam>& args;
    std::vector<std::string> names; // lower case, with '@', in position order

    // The value of a parameter by name or position; nothing when absent or NULL.
    std::optional<Value> get(const std::string& name) const {
        const std::string key = sql::toLower(name);
        for (const auto& a : args)
            if (!a.name.empty() && sql::toLower(a.name) == key)
                return std::holds_alternative<Null>(a.value) ? std::nullopt
                                                             : std::optional<Value>(a.value);
        for (std::size_t i = 0; i < args.size() && i < names.size(); ++i)
            if (args[i].name.empty() && names[i] == key)
                return std::holds_alternative<Null>(args[i].value)
                           ? std::nullopt
                           : std::optional<Value>(args[i].value);
        return std::nullopt;
    }
    std::optional<std::string> str(const std::string& name) const {
        auto v = get(name);
        return v ? std::optional<std::string>(valueText(*v)) : std::nullopt;
    }
};

// A catalog pattern argument: absent means "any".
bool matches(const std::optional<std::string>& pattern, const std::string& value,
             bool usePattern = true);
Column sysname(const std::string& name, bool nullable = true);
Value nullable(const std::optional<int>& v);
std::string pkNameOf(const std::string& table, const std::string& createSql);

} // namespace tds::catalog
