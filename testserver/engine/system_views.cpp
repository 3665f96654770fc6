// The system views (sysdatabases, sysobjects, sys.tables, INFORMATION_SCHEMA...)
// as temporary tables, filled from the catalog each time a statement names one.

#include "testserver/engine/catalog.h"
#include "testserver/engine/collation.h"
#include "testserver/engine/lexer.h"

#include "testserver/engine/types.h"

#include <array>
#include <cstdio>
#include <functional>

namespace tds {

using namespace sql;
using namespace catalog;

namespace {

// What one system view holds: its columns, and its rows as INSERT ... SELECT
// statements, or as values computed here.
struct ViewContents {
    std::string columns;
    std::vector<std::string> fill;
    std::vector<std::vector<Value>> rows;
};

// User tables and views as sysobjects rows: name, id, type, definition, parent.
const std::string objects = "SELECT name, rowid * 16 + 1000001 AS id, CASE type WHEN "
                            "'view' THEN 'V' ELSE 'U' END AS t, sql, 0 AS parent "
                            "FROM main.sqlite_master WHERE type IN ('table', 'view') AND "
                            "name NOT LIKE 'sqlite[_]%' AND " +
                            std::string(kNotInternal);

// Stored procedures, functions and triggers as sysobjects rows, when the
// database has any; a trigger's parent is its table.
std::string procedureObjects(sqlite3* c) {
    std::string s;
    if (hasInternalTable(c, "__tds_functions"))
        s += " UNION ALL SELECT name, rowid * 16 + " + std::to_string(1000000 + kFunctionIdTag) +
             ", " + kFunctionTypeSql + ", NULL, 0 FROM " + kFunctionTable;
    if (hasProcedureTable(c))
        s += " UNION ALL SELECT name, rowid * 16 + " + std::to_string(1000000 + kProcedureIdTag) +
             ", 'P', NULL, 0 FROM main." + kProcedureTable;
    if (hasInternalTable(c, "__tds_triggers"))
        s += " UNION ALL SELECT tr.name, tr.rowid * 16 + " +
             std::to_string(1000000 + kTriggerIdTag) +
             ", 'TR', NULL, coalesce((SELECT m.rowid * 16 + 1000001 FROM main.sqlite_master m "
             "WHERE m.type = 'table' AND m.name = tr.tbl COLLATE NOCASE), 0) FROM " +
             kTriggerTable + " tr";
    return s;
}

// The tables' constraints as sysobjects rows, their tables as parents.
std::string constraintObjects(sqlite3* c) {
    std::string s;
    for (const auto& o : userObjects(c)) {
        if (o.view)
            continue;
        const auto all = constraintsOf(o.name, o.sql);
        for (std::size_t i = 0; i < all.size(); ++i)
            s += " UNION ALL SELECT " + quoteString(all[i].name) + ", " +
                 std::to_string(constraintIdFor((o.id - 1000001) / 16, i)) + ", '" + all[i].type +
                 "', NULL, " + std::to_string(o.id);
    }
    return s;
}

// The system tables as sysobjects rows.
std::string systemObjects() {
    std::string s;
    int id = -101;
    for (const auto& t : systemTables())
        s += std::string(s.empty() ? "" : " UNION ALL ") + "SELECT '" + t + "', " +
             std::to_string(id--) + ", 'S', NULL, 0";
    return s;
}

void sysDatabases(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "name sysname NOT NULL, dbid smallint NOT NULL, sid varbinary(85), mode "
              "smallint, status int, "
              "status2 int, crdate datetime NOT NULL, reserved datetime, category int, "
              "cmptlevel tinyint NOT NULL, "
              "filename nvarchar(260), version smallint";
    std::int64_t id = 1;
    for (const auto& db : s.files.names())
        rows.push_back({db, id++, Blob{1}, std::int64_t{0}, std::int64_t{65544},
                        std::int64_t{1090519040}, std::string(kCreateDate),
                        std::string(kCreateDate), std::int64_t{0}, std::int64_t{90},
                        s.files.path(db), std::int64_t{611}});
}

void sysDatabasesCatalog(Session::Impl& s, const std::string&, const std::string&,
                         ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "name sysname NOT NULL, database_id int NOT NULL, source_database_id int, "
              "owner_sid varbinary(85), "
              "create_date datetime NOT NULL, compatibility_level tinyint NOT NULL, "
              "collation_name sysname, "
              "user_access tinyint, user_access_desc nvarchar(60), is_read_only bit, state "
              "tinyint, "
              "state_desc nvarchar(60), recovery_model_desc nvarchar(60)";
    std::int64_t id = 1;
    for (const auto& db : s.files.names())
        rows.push_back({db, id++, Null{}, Blob{1}, std::string(kCreateDate), std::int64_t{90},
                        std::string("SQL_Latin1_General_CP1_CI_AS"), std::int64_t{0},
                        std::string("MULTI_USER"), std::int64_t{0}, std::int64_t{0},
                        std::string("ONLINE"), std::string("SIMPLE")});
}

void sysObjects(Session::Impl& s, const std::string&, const std::string& q, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "name sysname NOT NULL, id int NOT NULL, xtype char(2) NOT NULL, uid "
              "smallint, info smallint, "
              "status int, base_schema_ver int, replinfo int, parent_obj int NOT NULL, "
              "crdate datetime NOT NULL, ftcatid smallint, schema_ver int, stats_schema_ver "
              "int, type char(2), userstat smallint, sysstat smallint, indexdel smallint, "
              "refdate datetime NOT NULL, version int, deltrig int, instrig int, updtrig int, "
              "seltrig int, category int, cache smallint";
    fill.push_back(
        "INSERT INTO " + q +
        " (name, id, xtype, uid, info, status, base_schema_ver, replinfo, "
        "parent_obj, crdate, ftcatid, schema_ver, stats_schema_ver, type, userstat, "
        "sysstat, indexdel, refdate, version, deltrig, instrig, updtrig, seltrig, "
        "category, cache) SELECT name, id, t, CASE t WHEN 'S' THEN 4 ELSE 1 END, 0, "
        "0, 0, 0, parent, '" +
        kCreateDate +
        "', 0, 0, 0, t, CASE t WHEN 'U' THEN 1 ELSE 0 END, CASE t "
        "WHEN 'S' THEN 1 WHEN 'V' THEN 2 WHEN 'P' THEN 4 WHEN 'TR' THEN 8 ELSE 3 END, 0, '" +
        kCreateDate + "', 0, 0, 0, 0, 0, CASE t WHEN 'S' THEN 2 ELSE 0 END, 0 FROM (" + objects +
        procedureObjects(s.conn) + constraintObjects(s.conn) + " UNION ALL " + systemObjects() +
        ")");
}

// The schema_id of a sysobjects row by its stored name.
std::string schemaIdSql(Session::Impl& s) {
    if (!hasSchemaTable(s.conn))
        return "1";
    return std::string("CASE WHEN instr(o.name, '.') > 1 THEN (SELECT sc.rowid + 4 FROM ") +
           kSchemaTable +
           " sc WHERE sc.name = substr(o.name, 1, instr(o.name, '.') - 1)) ELSE 1 END";
}

void sysObjectsCatalog(Session::Impl& s, const std::string& name, const std::string& q,
                       ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "name sysname NOT NULL, object_id int NOT NULL, principal_id int, schema_id "
              "int NOT NULL, "
              "parent_object_id int NOT NULL, type char(2), type_desc nvarchar(60), "
              "create_date datetime NOT NULL, "
              "modify_date datetime NOT NULL, is_ms_shipped bit NOT NULL, is_published bit "
              "NOT NULL, "
              "is_schema_published bit NOT NULL";
    const std::string filter = name == "sys.tables"       ? " WHERE t = 'U'"
                               : name == "sys.views"      ? " WHERE t = 'V'"
                               : name == "sys.procedures" ? " WHERE t = 'P'"
                                                          : "";
    if (name == "sys.triggers") {
        columns = "name sysname NOT NULL, object_id int NOT NULL, parent_class tinyint NOT NULL, "
                  "parent_class_desc nvarchar(60), parent_id int NOT NULL, type char(2) NOT "
                  "NULL, type_desc nvarchar(60), create_date datetime NOT NULL, modify_date "
                  "datetime NOT NULL, is_ms_shipped bit NOT NULL, is_disabled bit NOT NULL, "
                  "is_not_for_replication bit NOT NULL, is_instead_of_trigger bit NOT NULL";
        fill.push_back("INSERT INTO " + q +
                       " SELECT name, id, 1, 'OBJECT_OR_COLUMN', parent, 'TR', 'SQL_TRIGGER', '" +
                       kCreateDate + "', '" + kCreateDate + "', 0, 0, 0, 0 FROM (" + objects +
                       procedureObjects(s.conn) + ") WHERE t = 'TR'");
        return;
    }
    fill.push_back("INSERT INTO " + q +
                   " SELECT CASE WHEN instr(name, '.') > 1 THEN substr(name, instr(name, '.') + "
                   "1) ELSE name END, id, NULL, " +
                   schemaIdSql(s) +
                   ", parent, t,  CASE t WHEN 'U' THEN 'USER_TABLE' "
                   "WHEN 'P' THEN 'SQL_STORED_PROCEDURE' WHEN 'TR' THEN 'SQL_TRIGGER' "
                   "WHEN 'FN' THEN 'SQL_SCALAR_FUNCTION' WHEN 'IF' THEN "
                   "'SQL_INLINE_TABLE_VALUED_FUNCTION' WHEN 'TF' THEN 'SQL_TABLE_VALUED_FUNCTION' "
                   "WHEN 'PK' THEN 'PRIMARY_KEY_CONSTRAINT' WHEN 'UQ' THEN 'UNIQUE_CONSTRAINT' "
                   "WHEN 'F' THEN 'FOREIGN_KEY_CONSTRAINT' WHEN 'C' THEN 'CHECK_CONSTRAINT' "
                   "WHEN 'D' THEN 'DEFAULT_CONSTRAINT' ELSE 'VIEW' END, '" +
                   kCreateDate + "', '" + kCreateDate + "', 0, 0, 0 FROM (" + objects +
                   procedureObjects(s.conn) + constraintObjects(s.conn) + ") AS o" + filter);
}

void sysColumns(Session::Impl& s, const std::string& name, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    if (name == "sys.columns")
        columns = "object_id int NOT NULL, name sysname, column_id int NOT NULL, "
                  "system_type_id tinyint NOT NULL, "
                  "user_type_id int NOT NULL, max_length smallint NOT NULL, precision "
                  "tinyint NOT NULL, "
                  "scale tinyint NOT NULL, collation_name sysname, is_nullable bit, "
                  "is_identity bit NOT NULL, "
                  "is_computed bit NOT NULL";
    else if (name == "information_schema.columns")
        columns = "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME sysname "
                  "NOT NULL, "
                  "COLUMN_NAME sysname, ORDINAL_POSITION int, COLUMN_DEFAULT nvarchar(4000), "
                  "IS_NULLABLE varchar(3), DATA_TYPE nvarchar(128), CHARACTER_MAXIMUM_LENGTH "
                  "int, "
                  "CHARACTER_OCTET_LENGTH int, NUMERIC_PRECISION tinyint, "
                  "NUMERIC_PRECISION_RADIX smallint, "
                  "NUMERIC_SCALE int, DATETIME_PRECISION smallint, COLLATION_NAME sysname";
    else
        columns = "name sysname, id int NOT NULL, xtype tinyint NOT NULL, typestat "
                  "tinyint, xusertype smallint, "
                  "length smallint NOT NULL, xprec tinyint NOT NULL, xscale tinyint NOT "
                  "NULL, colid smallint, "
                  "colorder smallint, status tinyint, type tinyint, usertype smallint, "
                  "prec smallint, scale int, "
                  "iscomputed int, isnullable int, collation sysname";
    for (const auto& o : userObjects(s.conn)) {
        int ordinal = 1;
        for (const auto& c : columnsOf(s.conn, "main", o.name)) {
            const ColumnType& t = c.type;
            const bool chars = isTextType(t.type);
            const Value collation =
                chars ? Value{t.collation.empty() ? defaultCollation().name : t.collation}
                      : Value{Null{}};
            const std::int64_t len = maxLength(t);
            if (name == "sys.columns")
                rows.push_back({o.id, c.name, std::int64_t{ordinal},
                                std::int64_t{systemTypeId(t.type)}, std::int64_t{userTypeId(t)},
                                len, std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                collation, std::int64_t{!c.notNull}, std::int64_t{c.identity},
                                std::int64_t{0}});
            else if (name == "information_schema.columns") {
                const OdbcTypeInfo oi = odbcTypeInfo(t);
                rows.push_back(
                    {s.db, std::string("dbo"), o.name, c.name, std::int64_t{ordinal},
                     c.hasDefault ? Value{showDefault(c.defaultValue)} : Value{Null{}},
                     std::string(c.notNull ? "NO" : "YES"), dataTypeName(t),
                     chars || isBinaryType(t.type) || t.type == SqlType::Udt
                         ? Value{std::int64_t{t.length < 0 ? -1 : oi.precision}}
                         : Value{Null{}},
                     chars || isBinaryType(t.type) || t.type == SqlType::Udt
                         ? Value{std::int64_t{t.length < 0 ? -1 : oi.length}}
                         : Value{Null{}},
                     typePrecision(t) && !chars && t.type < SqlType::DateTime
                         ? Value{std::int64_t{typePrecision(t)}}
                         : Value{Null{}},
                     typePrecision(t) && !chars && t.type < SqlType::DateTime
                         ? Value{std::int64_t{
                               t.type == SqlType::Float || t.type == SqlType::Real ? 2 : 10}}
                         : Value{Null{}},
                     typePrecision(t) && !chars && t.type < SqlType::DateTime
                         ? Value{std::int64_t{typeScale(t)}}
                         : Value{Null{}},
                     (t.type >= SqlType::DateTime && t.type <= SqlType::Time) ||
                             t.type == SqlType::DateTime2 || t.type == SqlType::DateTimeOffset
                         ? Value{std::int64_t{typeScale(t)}}
                         : Value{Null{}},
                     collation});
            } else
                rows.push_back({c.name, o.id, std::int64_t{systemTypeId(t.type)}, std::int64_t{0},
                                std::int64_t{userTypeId(t)}, len < 0 ? std::int64_t{-1} : len,
                                std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                std::int64_t{ordinal}, std::int64_t{ordinal},
                                std::int64_t{c.notNull ? 0 : 8}, std::int64_t{systemTypeId(t.type)},
                                std::int64_t{0}, std::int64_t{typePrecision(t)},
                                std::int64_t{typeScale(t)}, std::int64_t{0},
                                std::int64_t{!c.notNull}, collation});
            ++ordinal;
        }
    }
}

void sysTypes(Session::Impl&, const std::string& name, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = name == "sys.types"
                  ? "name sysname NOT NULL, system_type_id tinyint NOT NULL, user_type_id "
                    "int NOT NULL, schema_id int NOT NULL, "
                    "max_length smallint NOT NULL, precision tinyint NOT NULL, scale "
                    "tinyint NOT NULL, collation_name sysname, "
                    "is_nullable bit, is_user_defined bit NOT NULL, is_assembly_type bit NOT NULL"
                  : "name sysname NOT NULL, xtype tinyint NOT NULL, status tinyint, "
                    "xusertype smallint, length smallint NOT NULL, "
                    "xprec tinyint NOT NULL, xscale tinyint NOT NULL, usertype smallint, "
                    "allownulls bit, collation sysname";
    for (const char* decl : {"image",
                             "text",
                             "uniqueidentifier",
                             "date",
                             "time",
                             "tinyint",
                             "smallint",
                             "int",
                             "smalldatetime",
                             "real",
                             "money",
                             "datetime",
                             "float",
                             "sql_variant",
                             "ntext",
                             "bit",
                             "decimal(18,0)",
                             "smallmoney",
                             "bigint",
                             "varbinary(8000)",
                             "varchar(8000)",
                             "binary(8000)",
                             "char(8000)",
                             "timestamp",
                             "nvarchar(4000)",
                             "nchar(4000)",
                             "sysname",
                             "hierarchyid",
                             "geometry",
                             "geography"}) {
        const ColumnType t = typeOf(decl);
        std::string tn(decl);
        tn = tn.substr(0, tn.find('('));
        const bool chars = isTextType(t.type);
        const Value collation = chars ? Value{defaultCollation().name} : Value{Null{}};
        const std::int64_t sysId = tn == "timestamp" ? 189 : systemTypeId(t.type);
        const std::int64_t userId = tn == "sysname" ? 256 : userTypeId(t);
        if (name == "sys.types")
            rows.push_back({tn, sysId, userId, std::int64_t{4}, std::int64_t{maxLength(t)},
                            std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)}, collation,
                            std::int64_t{tn != "sysname"}, std::int64_t{0},
                            std::int64_t{t.type == SqlType::Udt}});
        else
            rows.push_back({tn, sysId, std::int64_t{0}, userId, std::int64_t{maxLength(t)},
                            std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                            std::int64_t{0}, std::int64_t{tn != "sysname"}, collation});
    }
}

void sysSchemas(Session::Impl& s, const std::string& name, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = name == "sys.schemas"
                  ? "name sysname NOT NULL, schema_id int NOT NULL, principal_id int"
              : name == "sysusers"
                  ? "uid smallint, status smallint, name sysname NOT NULL, issqluser int, "
                    "islogin int"
                  : "CATALOG_NAME sysname, SCHEMA_NAME sysname NOT NULL, SCHEMA_OWNER sysname";
    std::vector<std::string> schemas = {"dbo", "guest", "INFORMATION_SCHEMA", "sys"};
    query(s.conn, std::string("SELECT name FROM ") + kSchemaTable + " ORDER BY rowid",
          [&](sqlite3_stmt* st) { schemas.push_back(text(st, 0)); });
    std::int64_t id = 1;
    for (const auto& schema : schemas) {
        if (name == "sys.schemas")
            rows.push_back({schema, id, std::int64_t{1}});
        else if (name == "sysusers")
            rows.push_back({id, std::int64_t{0}, schema, std::int64_t{1}, std::int64_t{id == 1}});
        else
            rows.push_back({s.db, schema, schema});
        ++id;
    }
}

void infoTables(Session::Impl& s, const std::string& name, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    const bool views = name == "information_schema.views";
    columns = views ? "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME "
                      "sysname NOT NULL, "
                      "VIEW_DEFINITION nvarchar(4000), CHECK_OPTION varchar(7), "
                      "IS_UPDATABLE varchar(2)"
                    : "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME "
                      "sysname NOT NULL, "
                      "TABLE_TYPE varchar(10)";
    for (const auto& o : userObjects(s.conn)) {
        const auto [owner, bare] = ownerAndName(o.name);
        if (views && o.view)
            rows.push_back(
                {s.db, owner, bare, o.sql.substr(0, 4000), std::string("NONE"), std::string("NO")});
        else if (!views)
            rows.push_back({s.db, owner, bare, std::string(o.view ? "VIEW" : "BASE TABLE")});
    }
}

// INFORMATION_SCHEMA.TABLE_CONSTRAINTS: the keys, foreign keys and checks of
// each table (defaults are no such constraint).
void infoTableConstraints(Session::Impl& s, const std::string&, const std::string&,
                          ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "CONSTRAINT_CATALOG nvarchar(128), CONSTRAINT_SCHEMA nvarchar(128), "
              "CONSTRAINT_NAME sysname NOT NULL, TABLE_CATALOG nvarchar(128), TABLE_SCHEMA "
              "nvarchar(128), TABLE_NAME sysname NOT NULL, CONSTRAINT_TYPE varchar(11), "
              "IS_DEFERRABLE varchar(2) NOT NULL, INITIALLY_DEFERRED varchar(2) NOT NULL";
    for (const auto& o : userObjects(s.conn)) {
        if (o.view)
            continue;
        const auto [owner, bare] = ownerAndName(o.name);
        for (const auto& c : constraintsOf(o.name, o.sql)) {
            const char* type = c.type == "PK"   ? "PRIMARY KEY"
                               : c.type == "UQ" ? "UNIQUE"
                               : c.type == "F"  ? "FOREIGN KEY"
                               : c.type == "C"  ? "CHECK"
                                                : nullptr;
            if (type)
                rows.push_back({s.db, owner, c.name, s.db, owner, bare, std::string(type),
                                std::string("NO"), std::string("NO")});
        }
    }
}

void sysIndexes(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "id int NOT NULL, status int, indid smallint NOT NULL, rowcnt bigint, name "
              "sysname, rows int";
    for (const auto& o : userObjects(s.conn))
        if (!o.view)
            rows.push_back({o.id, std::int64_t{0},
                            std::int64_t{o.sql.find("PRIMARY KEY") != std::string::npos ? 1 : 0},
                            std::int64_t{0}, o.name, std::int64_t{0}});
}

// sys.default_constraints, sys.check_constraints, sys.foreign_keys and
// sys.key_constraints: the columns of sys.objects, then each view's own.
void sysConstraints(Session::Impl& s, const std::string& name, const std::string&,
                    ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "name sysname NOT NULL, object_id int NOT NULL, principal_id int, schema_id int NOT "
              "NULL, parent_object_id int NOT NULL, type char(2), type_desc nvarchar(60), "
              "create_date datetime NOT NULL, modify_date datetime NOT NULL, is_ms_shipped bit "
              "NOT NULL, is_published bit NOT NULL, is_schema_published bit NOT NULL, ";
    std::vector<std::string> types;
    if (name == "sys.default_constraints") {
        columns += "parent_column_id int NOT NULL, definition nvarchar(4000), is_system_named bit "
                   "NOT NULL";
        types = {"D"};
    } else if (name == "sys.check_constraints") {
        columns += "is_disabled bit NOT NULL, is_not_for_replication bit NOT NULL, is_not_trusted "
                   "bit NOT NULL, parent_column_id int NOT NULL, definition nvarchar(4000), "
                   "uses_database_collation bit, is_system_named bit NOT NULL";
        types = {"C"};
    } else if (name == "sys.foreign_keys") {
        columns += "referenced_object_id int, key_index_id int, is_disabled bit NOT NULL, "
                   "is_not_for_replication bit NOT NULL, is_not_trusted bit NOT NULL, "
                   "delete_referential_action tinyint, delete_referential_action_desc "
                   "nvarchar(60), update_referential_action tinyint, "
                   "update_referential_action_desc nvarchar(60), is_system_named bit NOT NULL";
        types = {"F"};
    } else {
        columns += "unique_index_id int, is_system_named bit NOT NULL, is_enforced bit NOT NULL";
        types = {"PK", "UQ"};
    }
    const auto objects = userObjects(s.conn);
    auto idOf = [&](const std::string& table) -> Value {
        for (const auto& o : objects)
            if (!o.view && iequals(o.name, table))
                return o.id;
        return Null{};
    };
    for (const auto& o : objects) {
        if (o.view)
            continue;
        const auto all = constraintsOf(o.name, o.sql);
        const auto cols = columnsOf(s.conn, "main", o.name);
        std::int64_t keys = 0; // the index a key is kept in: 1 for the primary key, 2... after
        for (std::size_t i = 0; i < all.size(); ++i) {
            const Constraint& c = all[i];
            if (c.type == "UQ")
                ++keys;
            if (std::find(types.begin(), types.end(), c.type) == types.end())
                continue;
            std::int64_t columnId = 0;
            for (std::size_t k = 0; k < cols.size(); ++k)
                if (!c.column.empty() && iequals(cols[k].name, c.column))
                    columnId = std::int64_t(k + 1);
            std::vector<Value> r = {c.name,
                                    constraintIdFor((o.id - 1000001) / 16, i),
                                    Null{},
                                    std::int64_t{1},
                                    o.id,
                                    c.type,
                                    constraintTypeDesc(c.type),
                                    std::string(kCreateDate),
                                    std::string(kCreateDate),
                                    std::int64_t{0},
                                    std::int64_t{0},
                                    std::int64_t{0}};
            const std::int64_t named = c.systemNamed;
            if (c.type == "D")
                r.insert(r.end(), {columnId, c.definition, named});
            else if (c.type == "C")
                r.insert(r.end(), {std::int64_t{0}, std::int64_t{0}, std::int64_t{0}, columnId,
                                   c.definition, std::int64_t{1}, named});
            else if (c.type == "F")
                r.insert(r.end(), {idOf(c.referenced), std::int64_t{1}, std::int64_t{0},
                                   std::int64_t{0}, std::int64_t{0}, std::int64_t{c.cascadeDelete},
                                   std::string(c.cascadeDelete ? "CASCADE" : "NO_ACTION"),
                                   std::int64_t{c.cascadeUpdate},
                                   std::string(c.cascadeUpdate ? "CASCADE" : "NO_ACTION"), named});
            else
                r.insert(r.end(),
                         {c.type == "PK" ? std::int64_t{1} : keys + 1, named, std::int64_t{1}});
            rows.push_back(std::move(r));
        }
    }
}

// sys.indexes: per table its heap (0) or primary key (1), then its other
// indexes and unique constraints.
void sysIndexesCatalog(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "object_id int NOT NULL, name sysname, index_id int NOT NULL, type tinyint NOT "
              "NULL, type_desc nvarchar(60), is_unique bit, data_space_id int, ignore_dup_key "
              "bit, is_primary_key bit, is_unique_constraint bit, fill_factor tinyint NOT NULL, "
              "is_padded bit, is_disabled bit, is_hypothetical bit, allow_row_locks bit, "
              "allow_page_locks bit, has_filter bit, filter_definition nvarchar(4000)";
    auto row = [&](std::int64_t id, Value name, std::int64_t index, std::int64_t type,
                   const char* desc, bool unique, bool pk, bool uniqueConstraint) {
        rows.push_back({id, std::move(name), index, type, std::string(desc), std::int64_t{unique},
                        std::int64_t{1}, std::int64_t{0}, std::int64_t{pk},
                        std::int64_t{uniqueConstraint}, std::int64_t{0}, std::int64_t{0},
                        std::int64_t{0}, std::int64_t{0}, std::int64_t{1}, std::int64_t{1},
                        std::int64_t{0}, Null{}});
    };
    for (const auto& o : userObjects(s.conn)) {
        if (o.view)
            continue;
        struct Index {
            std::string name, origin;
            bool unique;
        };
        std::vector<Index> indexes;
        catalog::query(s.conn, "PRAGMA main.index_list(" + quoteString(o.name) + ")",
                       [&](sqlite3_stmt* st) {
                           indexes.push_back({catalog::text(st, 1), catalog::text(st, 3),
                                              sqlite3_column_int(st, 2) != 0});
                       });
        std::string key;
        std::vector<std::string> uniqueKeys;
        for (const auto& c : constraintsOf(o.name, o.sql)) {
            if (c.type == "PK" && key.empty())
                key = c.name;
            else if (c.type == "UQ")
                uniqueKeys.push_back(c.name);
        }
        if (!key.empty())
            row(o.id, key, 1, 1, "CLUSTERED", true, true, false);
        else
            row(o.id, Null{}, 0, 0, "HEAP", false, false, false);
        // SQLite lists the newest index first.
        std::int64_t next = 2;
        std::size_t uniques = 0;
        for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
            if (it->origin == "pk")
                continue;
            if (it->origin == "u") {
                const std::size_t n = uniques++;
                row(o.id, n < uniqueKeys.size() ? uniqueKeys[n] : it->name, next++, 2,
                    "NONCLUSTERED", true, false, true);
                continue;
            }
            std::string shown = it->name;
            const std::string suffix = "$" + o.name;
            if (shown.size() > suffix.size() &&
                iequals(std::string_view(shown).substr(shown.size() - suffix.size()), suffix))
                shown.resize(shown.size() - suffix.size());
            row(o.id, shown, next++, 2, "NONCLUSTERED", it->unique, false, false);
        }
    }
}

void sysComments(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "id int NOT NULL, number smallint, colid smallint NOT NULL, text nvarchar(4000)";
    for (const auto& o : userObjects(s.conn))
        if (o.view)
            rows.push_back({o.id, std::int64_t{0}, std::int64_t{1}, o.sql.substr(0, 4000)});
}

void sysProcesses(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "spid smallint NOT NULL, dbid smallint, loginame nchar(128), hostname nchar(128), "
              "program_name nchar(128), status nchar(30), cmd nchar(16)";
    std::int64_t dbid = 1;
    const auto all = s.files.names();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (iequals(all[i], s.db))
            dbid = static_cast<std::int64_t>(i + 1);
    rows.push_back({std::int64_t{s.spid}, dbid, s.user, std::string("localhost"), std::string(),
                    std::string("runnable"), std::string("SELECT")});
}

void sysLogins(Session::Impl& s, const std::string&, const std::string&, ViewContents& v) {
    auto& [columns, fill, rows] = v;
    columns = "sid varbinary(85), name sysname NOT NULL, dbname sysname, language sysname, "
              "loginname sysname";
    for (const auto& [login, pw] : s.cfg.logins)
        rows.push_back({Blob{1}, login, std::string("master"), std::string("us_english"), login});
    for (const auto& login : s.cfg.windowsLogins)
        rows.push_back({Blob{1}, login, std::string("master"), std::string("us_english"), login});
}

using ViewBuilder = void (*)(Session::Impl&, const std::string& name, const std::string& q,
                             ViewContents&);

struct SystemView {
    std::vector<const char*> names; // as statements name them, lower case
    ViewBuilder build;
};

const SystemView views[] = {
    {{"sysdatabases", "sys.sysdatabases"}, sysDatabases},
    {{"sys.databases"}, sysDatabasesCatalog},
    {{"sysobjects", "sys.sysobjects"}, sysObjects},
    {{"sys.objects", "sys.tables", "sys.views", "sys.triggers", "sys.procedures"},
     sysObjectsCatalog},
    {{"information_schema.table_constraints"}, infoTableConstraints},
    {{"syscolumns", "sys.syscolumns", "sys.columns", "information_schema.columns"}, sysColumns},
    {{"systypes", "sys.systypes", "sys.types"}, sysTypes},
    {{"sys.schemas", "sysusers", "information_schema.schemata"}, sysSchemas},
    {{"information_schema.tables", "information_schema.views"}, infoTables},
    {{"sysindexes", "sys.sysindexes"}, sysIndexes},
    {{"sys.indexes"}, sysIndexesCatalog},
    {{"sys.default_constraints", "sys.check_constraints", "sys.foreign_keys",
      "sys.key_constraints"},
     sysConstraints},
    {{"syscomments"}, sysComments},
    {{"sysprocesses"}, sysProcesses},
    {{"syslogins"}, sysLogins},
};

ViewBuilder builderFor(const std::string& name) {
    for (const SystemView& view : views)
        for (const char* n : view.names)
            if (name == n)
                return view.build;
    return nullptr;
}

// Replaces the rows of the temporary table `q` with the view's contents.
void fillView(sqlite3* conn, const std::string& name, const std::string& q, const ViewContents& v) {
    const auto& [columns, fill, rows] = v;
    const std::string ddl = "CREATE TEMP TABLE IF NOT EXISTS " + quoteIdent(name) + " (" + columns +
                            "); DELETE FROM " + q + ";";
    sqlite3_exec(conn, ddl.c_str(), nullptr, nullptr, nullptr);
    for (const auto& f : fill)
        sqlite3_exec(conn, f.c_str(), nullptr, nullptr, nullptr);
    if (!rows.empty()) {
        std::string ins = "INSERT INTO " + q + " VALUES (";
        for (std::size_t i = 0; i < rows[0].size(); ++i)
            ins += (i ? ", ?" : "?");
        ins += ")";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(conn, ins.c_str(), -1, &st, nullptr) == SQLITE_OK) {
            for (const auto& r : rows) {
                for (std::size_t i = 0; i < r.size(); ++i)
                    bindValue(st, static_cast<int>(i + 1), r[i]);
                sqlite3_step(st);
                sqlite3_reset(st);
            }
        }
        sqlite3_finalize(st);
    }
}

} // namespace

void Session::Impl::refreshSystemViews(const std::set<std::string>& names) {
    for (const auto& name : names) {
        const ViewBuilder build = builderFor(name);
        if (!build)
            continue;
        const std::string q = "temp." + quoteIdent(name);
        ViewContents v;
        build(*this, name, q, v);
        fillView(conn, name, q, v);
    }
}

} // namespace tds
