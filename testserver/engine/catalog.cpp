// System views (sysdatabases, sysobjects, sys.tables, INFORMATION_SCHEMA...)
// and the catalog procedures ODBC drivers call (sp_tables, sp_columns, ...).

#include "testserver/engine/session_impl.h"

#include "testserver/engine/types.h"

#include <algorithm>

namespace tds {

using namespace sql;

namespace {

constexpr const char* kCreateDate = "2005-10-14 01:54:05.000";

// Object ids: stable per database file as long as the object exists.
std::int64_t objectIdFor(std::int64_t rowid) {
    return rowid * 16 + 1 + 1000000;
}

// SQL Server's system type ids.
int systemTypeId(SqlType t) {
    switch (t) {
    case SqlType::Image:
        return 34;
    case SqlType::Text:
        return 35;
    case SqlType::UniqueIdentifier:
        return 36;
    case SqlType::Date:
        return 40;
    case SqlType::Time:
        return 41;
    case SqlType::TinyInt:
        return 48;
    case SqlType::SmallInt:
        return 52;
    case SqlType::Int:
        return 56;
    case SqlType::SmallDateTime:
        return 58;
    case SqlType::Real:
        return 59;
    case SqlType::Money:
        return 60;
    case SqlType::DateTime:
        return 61;
    case SqlType::Float:
        return 62;
    case SqlType::SqlVariant:
        return 98;
    case SqlType::NText:
        return 99;
    case SqlType::Bit:
        return 104;
    case SqlType::Decimal:
        return 106;
    case SqlType::SmallMoney:
        return 122;
    case SqlType::BigInt:
        return 127;
    case SqlType::VarBinary:
        return 165;
    case SqlType::VarChar:
        return 167;
    case SqlType::Binary:
        return 173;
    case SqlType::Char:
        return 175;
    case SqlType::NVarChar:
        return 231;
    case SqlType::NChar:
        return 239;
    }
    return 0;
}

// Storage size in bytes as sys.columns.max_length shows it (-1 = max).
int maxLength(const ColumnType& t) {
    switch (t.type) {
    case SqlType::Int:
    case SqlType::Real:
    case SqlType::SmallMoney:
    case SqlType::SmallDateTime:
        return 4;
    case SqlType::BigInt:
    case SqlType::Float:
    case SqlType::Money:
    case SqlType::DateTime:
        return 8;
    case SqlType::SmallInt:
        return 2;
    case SqlType::TinyInt:
    case SqlType::Bit:
        return 1;
    case SqlType::Decimal:
        return t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
    case SqlType::Date:
        return 3;
    case SqlType::Time:
        return 5;
    case SqlType::UniqueIdentifier:
        return 16;
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Image:
        return 16;
    case SqlType::NChar:
    case SqlType::NVarChar:
        return t.length < 0 ? -1 : t.length * 2;
    case SqlType::SqlVariant:
        return 8016;
    default:
        return t.length;
    }
}

int typePrecision(const ColumnType& t) {
    switch (t.type) {
    case SqlType::Int:
        return 10;
    case SqlType::BigInt:
        return 19;
    case SqlType::SmallInt:
        return 5;
    case SqlType::TinyInt:
        return 3;
    case SqlType::Bit:
        return 1;
    case SqlType::Float:
        return 53;
    case SqlType::Real:
        return 24;
    case SqlType::Money:
        return 19;
    case SqlType::SmallMoney:
        return 10;
    case SqlType::Decimal:
        return t.precision;
    case SqlType::DateTime:
        return 23;
    case SqlType::SmallDateTime:
        return 16;
    case SqlType::Date:
        return 10;
    case SqlType::Time:
        return 16;
    default:
        return 0;
    }
}

int typeScale(const ColumnType& t) {
    switch (t.type) {
    case SqlType::Money:
    case SqlType::SmallMoney:
        return 4;
    case SqlType::Decimal:
        return t.scale;
    case SqlType::DateTime:
        return 3;
    case SqlType::Time:
        return t.scale;
    default:
        return 0;
    }
}

ColumnType typeOf(const std::string& decl) {
    if (auto t = parseDeclType(decl))
        return *t;
    ColumnType t;
    t.type = SqlType::NVarChar;
    t.length = 4000;
    return t;
}

std::string text(sqlite3_stmt* st, int i) {
    const unsigned char* p = sqlite3_column_text(st, i);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
             : std::string();
}

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

std::vector<Object> userObjects(sqlite3* c) {
    std::vector<Object> r;
    query(c,
          "SELECT name, type = 'view', rowid, sql FROM main.sqlite_master WHERE type IN ('table', "
          "'view') "
          "AND name NOT LIKE 'sqlite[_]%' ORDER BY name COLLATE NOCASE",
          [&](sqlite3_stmt* st) {
              r.push_back(Object{text(st, 0), sqlite3_column_int(st, 1) != 0,
                                 objectIdFor(sqlite3_column_int64(st, 2)), text(st, 3)});
          });
    return r;
}

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

std::vector<ColumnInfo> columnsOf(sqlite3* c, const std::string& schema, const std::string& table) {
    std::vector<ColumnInfo> r;
    query(c,
          "SELECT name, type, \"notnull\", dflt_value, pk FROM " + quoteIdent(schema) +
              ".pragma_table_info(" + quoteString(table) + ")",
          [&](sqlite3_stmt* st) {
              ColumnInfo ci;
              ci.name = text(st, 0);
              ci.decl = text(st, 1);
              ci.type = typeOf(ci.decl);
              ci.notNull = sqlite3_column_int(st, 2) != 0;
              ci.hasDefault = sqlite3_column_type(st, 3) != SQLITE_NULL;
              ci.defaultValue = text(st, 3);
              ci.pk = sqlite3_column_int(st, 4);
              r.push_back(ci);
          });
    for (auto& ci : r) {
        int notNull = 0, pk = 0, autoinc = 0;
        const char* d = nullptr;
        const char* coll = nullptr;
        if (sqlite3_table_column_metadata(c, schema.c_str(), table.c_str(), ci.name.c_str(), &d,
                                          &coll, &notNull, &pk, &autoinc) == SQLITE_OK)
            ci.identity = autoinc != 0;
        if (ci.pk && iequals(ci.decl, "integer"))
            ci.notNull = true; // a rowid key is never NULL
    }
    return r;
}

// SQL Server shows defaults in parentheses: ((0)), (getdate()), ('x').
std::string showDefault(const std::string& d) {
    if (d.empty())
        return d;
    if (d.front() == '(')
        return "(" + d + ")";
    if (d.front() == '\'' || std::isalpha(static_cast<unsigned char>(d.front())))
        return "(" + d + ")";
    return "((" + d + "))";
}

// The system tables every database shows.
const std::vector<std::string>& systemTables() {
    static const std::vector<std::string> names = {"syscolumns", "syscomments", "sysindexes",
                                                   "sysobjects", "systypes",    "sysusers"};
    return names;
}

struct ArgList {
    const std::vector<RpcParam>& args;
    std::vector<std::string> names; // lower case, with '@', in position order

    // The value of a parameter by name or position; nothing when absent or NULL.
    std::optional<Value> get(const std::string& name) const {
        const std::string key = toLower(name);
        for (const auto& a : args)
            if (!a.name.empty() && toLower(a.name) == key)
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
             bool usePattern = true) {
    if (!pattern)
        return true;
    return usePattern ? likeMatch(*pattern, value) : iequals(*pattern, value);
}

Column sysname(const std::string& name, bool nullable = true) {
    return makeColumn(name, SqlType::NVarChar, 128, nullable);
}

Value nullable(const std::optional<int>& v) {
    return v ? Value{static_cast<std::int64_t>(*v)} : Value{Null{}};
}

struct KeyNames {
    std::string primaryKey;                     // from CONSTRAINT ... PRIMARY KEY
    std::map<std::string, std::string> foreign; // lower referenced table -> constraint name
};

// Constraint names as the CREATE TABLE text gave them.
KeyNames keyNames(const std::string& createSql) {
    KeyNames k;
    const std::vector<Token> t = significantTokens(createSql);
    for (std::size_t i = 0; i + 2 < t.size(); ++i) {
        if (!t[i].is("constraint"))
            continue;
        const std::string name = t[i + 1].value();
        for (std::size_t j = i + 2; j < t.size() && j < i + 14; ++j) {
            if (t[j].is("constraint"))
                break;
            if (t[j].is("primary")) {
                k.primaryKey = name;
                break;
            }
            if (t[j].is("references") && j + 1 < t.size()) {
                std::size_t n = j + 1;
                if (auto parts = readObjectName(t, n))
                    k.foreign[toLower(parts->back())] = name;
                break;
            }
        }
    }
    return k;
}

std::string pkNameOf(const std::string& table, const std::string& createSql) {
    const KeyNames k = keyNames(createSql);
    return k.primaryKey.empty() ? "PK__" + table.substr(0, 8) + "__7C8480AE" : k.primaryKey;
}

} // namespace

std::string defaultKeyName(const std::string& kind, const std::string& table,
                           const std::string& other) {
    return kind + "__" + table.substr(0, 8) + "__" +
           (other.empty() ? std::string("7C8480AE") : other.substr(0, 8));
}

std::string primaryKeyName(const std::string& table, const std::string& createSql) {
    return pkNameOf(table, createSql);
}

std::string foreignKeyName(const std::string& table, const std::string& createSql,
                           const std::string& referenced) {
    const KeyNames k = keyNames(createSql);
    auto it = k.foreign.find(toLower(referenced));
    return it != k.foreign.end() ? it->second : defaultKeyName("FK", table, referenced);
}

void Session::Impl::refreshSystemViews(const std::set<std::string>& names) {
    for (const auto& name : names) {
        const std::string q = "temp." + quoteIdent(name);
        std::string columns;
        std::vector<std::string> fill;        // INSERT ... SELECT statements
        std::vector<std::vector<Value>> rows; // or rows computed here
        const std::string objects = "SELECT name, rowid * 16 + 1000001 AS id, CASE type WHEN "
                                    "'view' THEN 'V' ELSE 'U' END AS t, sql "
                                    "FROM main.sqlite_master WHERE type IN ('table', 'view') AND "
                                    "name NOT LIKE 'sqlite[_]%'";
        const std::string systemObjects = [] {
            std::string s;
            int id = -101;
            for (const auto& t : systemTables())
                s += std::string(s.empty() ? "" : " UNION ALL ") + "SELECT '" + t + "', " +
                     std::to_string(id--) + ", 'S', NULL";
            return s;
        }();
        if (name == "sysdatabases" || name == "sys.sysdatabases") {
            columns = "name sysname NOT NULL, dbid smallint NOT NULL, sid varbinary(85), mode "
                      "smallint, status int, "
                      "status2 int, crdate datetime NOT NULL, reserved datetime, category int, "
                      "cmptlevel tinyint NOT NULL, "
                      "filename nvarchar(260), version smallint";
            std::int64_t id = 1;
            for (const auto& db : databaseNames())
                rows.push_back({db, id++, Blob{1}, std::int64_t{0}, std::int64_t{65544},
                                std::int64_t{1090519040}, std::string(kCreateDate),
                                std::string(kCreateDate), std::int64_t{0}, std::int64_t{90},
                                dbPath(db), std::int64_t{611}});
        } else if (name == "sys.databases") {
            columns = "name sysname NOT NULL, database_id int NOT NULL, source_database_id int, "
                      "owner_sid varbinary(85), "
                      "create_date datetime NOT NULL, compatibility_level tinyint NOT NULL, "
                      "collation_name sysname, "
                      "user_access tinyint, user_access_desc nvarchar(60), is_read_only bit, state "
                      "tinyint, "
                      "state_desc nvarchar(60), recovery_model_desc nvarchar(60)";
            std::int64_t id = 1;
            for (const auto& db : databaseNames())
                rows.push_back({db, id++, Null{}, Blob{1}, std::string(kCreateDate),
                                std::int64_t{90}, std::string("SQL_Latin1_General_CP1_CI_AS"),
                                std::int64_t{0}, std::string("MULTI_USER"), std::int64_t{0},
                                std::int64_t{0}, std::string("ONLINE"), std::string("SIMPLE")});
        } else if (name == "sysobjects" || name == "sys.sysobjects") {
            columns = "name sysname NOT NULL, id int NOT NULL, xtype char(2) NOT NULL, uid "
                      "smallint, info smallint, "
                      "status int, parent_obj int NOT NULL, crdate datetime NOT NULL, type "
                      "char(2), category int";
            fill.push_back("INSERT INTO " + q +
                           " SELECT name, id, t, CASE t WHEN 'S' THEN 4 ELSE 1 END, 0, 0, 0, '" +
                           kCreateDate + "', t, CASE t WHEN 'S' THEN 2 ELSE 0 END FROM (" +
                           objects + " UNION ALL " + systemObjects + ")");
        } else if (name == "sys.objects" || name == "sys.tables" || name == "sys.views") {
            columns = "name sysname NOT NULL, object_id int NOT NULL, principal_id int, schema_id "
                      "int NOT NULL, "
                      "parent_object_id int NOT NULL, type char(2), type_desc nvarchar(60), "
                      "create_date datetime NOT NULL, "
                      "modify_date datetime NOT NULL, is_ms_shipped bit NOT NULL, is_published bit "
                      "NOT NULL, "
                      "is_schema_published bit NOT NULL";
            const std::string filter = name == "sys.tables"  ? " WHERE t = 'U'"
                                       : name == "sys.views" ? " WHERE t = 'V'"
                                                             : "";
            fill.push_back("INSERT INTO " + q +
                           " SELECT name, id, NULL, 1, 0, t,  CASE t WHEN 'U' THEN 'USER_TABLE' "
                           "ELSE 'VIEW' END, '" +
                           kCreateDate + "', '" + kCreateDate + "', 0, 0, 0 FROM (" + objects +
                           ")" + filter);
        } else if (name == "syscolumns" || name == "sys.syscolumns" || name == "sys.columns" ||
                   name == "information_schema.columns") {
            if (name == "sys.columns")
                columns = "object_id int NOT NULL, name sysname, column_id int NOT NULL, "
                          "system_type_id tinyint NOT NULL, "
                          "user_type_id int NOT NULL, max_length smallint NOT NULL, precision "
                          "tinyint NOT NULL, "
                          "scale tinyint NOT NULL, collation_name sysname, is_nullable bit, "
                          "is_identity bit NOT NULL, "
                          "is_computed bit NOT NULL";
            else if (name == "information_schema.columns")
                columns =
                    "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME sysname "
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
            for (const auto& o : userObjects(conn)) {
                int ordinal = 1;
                for (const auto& c : columnsOf(conn, "main", o.name)) {
                    const ColumnType& t = c.type;
                    const bool chars = isTextType(t.type);
                    const Value collation =
                        chars ? Value{std::string("SQL_Latin1_General_CP1_CI_AS")} : Value{Null{}};
                    const std::int64_t len = maxLength(t);
                    if (name == "sys.columns")
                        rows.push_back({o.id, c.name, std::int64_t{ordinal},
                                        std::int64_t{systemTypeId(t.type)},
                                        std::int64_t{systemTypeId(t.type)}, len,
                                        std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                        collation, std::int64_t{!c.notNull},
                                        std::int64_t{c.identity}, std::int64_t{0}});
                    else if (name == "information_schema.columns") {
                        const OdbcTypeInfo oi = odbcTypeInfo(t);
                        rows.push_back(
                            {db, std::string("dbo"), o.name, c.name, std::int64_t{ordinal},
                             c.hasDefault ? Value{showDefault(c.defaultValue)} : Value{Null{}},
                             std::string(c.notNull ? "NO" : "YES"), baseTypeName(t.type),
                             chars || isBinaryType(t.type)
                                 ? Value{std::int64_t{t.length < 0 ? -1 : oi.precision}}
                                 : Value{Null{}},
                             chars || isBinaryType(t.type)
                                 ? Value{std::int64_t{t.length < 0 ? -1 : oi.length}}
                                 : Value{Null{}},
                             typePrecision(t) && !chars && t.type < SqlType::DateTime
                                 ? Value{std::int64_t{typePrecision(t)}}
                                 : Value{Null{}},
                             typePrecision(t) && !chars && t.type < SqlType::DateTime
                                 ? Value{std::int64_t{
                                       t.type == SqlType::Float || t.type == SqlType::Real ? 2
                                                                                           : 10}}
                                 : Value{Null{}},
                             typePrecision(t) && !chars && t.type < SqlType::DateTime
                                 ? Value{std::int64_t{typeScale(t)}}
                                 : Value{Null{}},
                             t.type >= SqlType::DateTime && t.type <= SqlType::Time
                                 ? Value{std::int64_t{typeScale(t)}}
                                 : Value{Null{}},
                             collation});
                    } else
                        rows.push_back({c.name, o.id, std::int64_t{systemTypeId(t.type)},
                                        std::int64_t{0}, std::int64_t{systemTypeId(t.type)},
                                        len < 0 ? std::int64_t{-1} : len,
                                        std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                        std::int64_t{ordinal}, std::int64_t{ordinal},
                                        std::int64_t{c.notNull ? 0 : 8},
                                        std::int64_t{systemTypeId(t.type)}, std::int64_t{0},
                                        std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                        std::int64_t{0}, std::int64_t{!c.notNull}, collation});
                    ++ordinal;
                }
            }
        } else if (name == "systypes" || name == "sys.systypes" || name == "sys.types") {
            columns = name == "sys.types"
                          ? "name sysname NOT NULL, system_type_id tinyint NOT NULL, user_type_id "
                            "int NOT NULL, schema_id int NOT NULL, "
                            "max_length smallint NOT NULL, precision tinyint NOT NULL, scale "
                            "tinyint NOT NULL, collation_name sysname, "
                            "is_nullable bit, is_user_defined bit NOT NULL"
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
                                     "sysname"}) {
                const ColumnType t = typeOf(decl);
                std::string tn(decl);
                tn = tn.substr(0, tn.find('('));
                const bool chars = isTextType(t.type);
                const Value collation =
                    chars ? Value{std::string("SQL_Latin1_General_CP1_CI_AS")} : Value{Null{}};
                const std::int64_t sysId = tn == "timestamp" ? 189 : systemTypeId(t.type);
                const std::int64_t userId = tn == "sysname" ? 256 : sysId;
                if (name == "sys.types")
                    rows.push_back({tn, sysId, userId, std::int64_t{4}, std::int64_t{maxLength(t)},
                                    std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                    collation, std::int64_t{tn != "sysname"}, std::int64_t{0}});
                else
                    rows.push_back({tn, sysId, std::int64_t{0}, userId, std::int64_t{maxLength(t)},
                                    std::int64_t{typePrecision(t)}, std::int64_t{typeScale(t)},
                                    std::int64_t{0}, std::int64_t{tn != "sysname"}, collation});
            }
        } else if (name == "sys.schemas" || name == "sysusers" ||
                   name == "information_schema.schemata") {
            columns =
                name == "sys.schemas"
                    ? "name sysname NOT NULL, schema_id int NOT NULL, principal_id int"
                : name == "sysusers"
                    ? "uid smallint, status smallint, name sysname NOT NULL, issqluser int, "
                      "islogin int"
                    : "CATALOG_NAME sysname, SCHEMA_NAME sysname NOT NULL, SCHEMA_OWNER sysname";
            std::int64_t id = 1;
            for (const char* s : {"dbo", "guest", "INFORMATION_SCHEMA", "sys"}) {
                if (name == "sys.schemas")
                    rows.push_back({std::string(s), id, id});
                else if (name == "sysusers")
                    rows.push_back({id, std::int64_t{0}, std::string(s), std::int64_t{1},
                                    std::int64_t{id == 1}});
                else
                    rows.push_back({db, std::string(s), std::string(s)});
                ++id;
            }
        } else if (name == "information_schema.tables" || name == "information_schema.views") {
            const bool views = name == "information_schema.views";
            columns = views ? "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME "
                              "sysname NOT NULL, "
                              "VIEW_DEFINITION nvarchar(4000), CHECK_OPTION varchar(7), "
                              "IS_UPDATABLE varchar(2)"
                            : "TABLE_CATALOG nvarchar(128), TABLE_SCHEMA nvarchar(128), TABLE_NAME "
                              "sysname NOT NULL, "
                              "TABLE_TYPE varchar(10)";
            for (const auto& o : userObjects(conn)) {
                if (views && o.view)
                    rows.push_back({db, std::string("dbo"), o.name, o.sql.substr(0, 4000),
                                    std::string("NONE"), std::string("NO")});
                else if (!views)
                    rows.push_back({db, std::string("dbo"), o.name,
                                    std::string(o.view ? "VIEW" : "BASE TABLE")});
            }
        } else if (name == "sysindexes" || name == "sys.sysindexes") {
            columns = "id int NOT NULL, status int, indid smallint NOT NULL, rowcnt bigint, name "
                      "sysname, rows int";
            for (const auto& o : userObjects(conn))
                if (!o.view)
                    rows.push_back(
                        {o.id, std::int64_t{0},
                         std::int64_t{o.sql.find("PRIMARY KEY") != std::string::npos ? 1 : 0},
                         std::int64_t{0}, o.name, std::int64_t{0}});
        } else if (name == "syscomments") {
            columns =
                "id int NOT NULL, number smallint, colid smallint NOT NULL, text nvarchar(4000)";
            for (const auto& o : userObjects(conn))
                if (o.view)
                    rows.push_back({o.id, std::int64_t{0}, std::int64_t{1}, o.sql.substr(0, 4000)});
        } else if (name == "sysprocesses") {
            columns =
                "spid smallint NOT NULL, dbid smallint, loginame nchar(128), hostname nchar(128), "
                "program_name nchar(128), status nchar(30), cmd nchar(16)";
            std::int64_t dbid = 1;
            const auto all = databaseNames();
            for (std::size_t i = 0; i < all.size(); ++i)
                if (iequals(all[i], db))
                    dbid = static_cast<std::int64_t>(i + 1);
            rows.push_back({std::int64_t{spid}, dbid, user, std::string("localhost"), std::string(),
                            std::string("runnable"), std::string("SELECT")});
        } else if (name == "syslogins") {
            columns = "sid varbinary(85), name sysname NOT NULL, dbname sysname, language sysname, "
                      "loginname sysname";
            for (const auto& [login, pw] : cfg.logins)
                rows.push_back(
                    {Blob{1}, login, std::string("master"), std::string("us_english"), login});
            for (const auto& login : cfg.windowsLogins)
                rows.push_back(
                    {Blob{1}, login, std::string("master"), std::string("us_english"), login});
        } else {
            continue;
        }
        const std::string ddl = "CREATE TEMP TABLE IF NOT EXISTS " + quoteIdent(name) + " (" +
                                columns + "); DELETE FROM " + q + ";";
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
}

bool Session::Impl::catalogProcedure(const std::string& name, const std::vector<RpcParam>& params,
                                     Out& inner) {
    auto finish = [&](const std::vector<Column>& cols,
                      const std::vector<std::vector<Value>>& rows) {
        sendRows(inner, cols, rows);
        inner.done(DoneCount, rows.size(), 0xC1);
        return true;
    };

    if (name == "sp_tables" || name == "sp_tableswc") {
        const ArgList a{
            params,
            {"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fusepattern"}};
        const auto tableName = a.str("@table_name");
        const auto owner = a.str("@table_owner");
        const auto qualifier = a.str("@table_qualifier");
        const auto typeList = a.str("@table_type");
        const bool usePattern = !a.get("@fusepattern") || valueText(*a.get("@fusepattern")) != "0";
        const std::vector<Column> cols = {sysname("TABLE_QUALIFIER"), sysname("TABLE_OWNER"),
                                          sysname("TABLE_NAME"),
                                          makeColumn("TABLE_TYPE", SqlType::VarChar, 32),
                                          makeColumn("REMARKS", SqlType::VarChar, 254)};
        std::vector<std::vector<Value>> rows;
        // The special enumerations of ODBC's SQLTables.
        if (qualifier && *qualifier == "%" && tableName && tableName->empty() && owner &&
            owner->empty()) {
            for (const auto& d : databaseNames())
                rows.push_back({d, Null{}, Null{}, Null{}, Null{}});
            return finish(cols, rows);
        }
        if (owner && *owner == "%" && tableName && tableName->empty() && qualifier &&
            qualifier->empty()) {
            for (const char* o : {"dbo", "INFORMATION_SCHEMA", "sys"})
                rows.push_back({Null{}, std::string(o), Null{}, Null{}, Null{}});
            return finish(cols, rows);
        }
        if (typeList && *typeList == "%" && tableName && tableName->empty() && owner &&
            owner->empty()) {
            for (const char* t : {"SYSTEM TABLE", "TABLE", "VIEW"})
                rows.push_back({Null{}, Null{}, Null{}, std::string(t), Null{}});
            return finish(cols, rows);
        }
        std::set<std::string> types;
        if (typeList) {
            std::string cur;
            for (char ch : *typeList + ",") {
                if (ch == ',') {
                    while (!cur.empty() && cur.back() == ' ')
                        cur.pop_back();
                    if (!cur.empty())
                        types.insert(toUpper(cur));
                    cur.clear();
                } else if (ch != '\'' && ch != '"' && !(ch == ' ' && cur.empty())) {
                    cur += ch;
                }
            }
        }
        auto wanted = [&](const std::string& type) {
            return types.empty() || types.count(type) > 0;
        };
        if (qualifier && !qualifier->empty() && !matches(qualifier, db, usePattern))
            return finish(cols, rows);
        struct Entry {
            std::string type, owner, name;
        };
        std::vector<Entry> entries;
        for (const auto& o : userObjects(conn))
            entries.push_back({o.view ? "VIEW" : "TABLE", "dbo", o.name});
        for (const auto& t : systemTables())
            entries.push_back({"SYSTEM TABLE", "sys", t});
        if (iequals(db, "master"))
            entries.push_back({"SYSTEM TABLE", "sys", "sysdatabases"});
        std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
            if (x.type != y.type)
                return x.type < y.type;
            if (!iequals(x.owner, y.owner))
                return toLower(x.owner) < toLower(y.owner);
            return toLower(x.name) < toLower(y.name);
        });
        for (const auto& e : entries) {
            if (!wanted(e.type) || !matches(tableName, e.name, usePattern) ||
                !matches(owner, e.owner, usePattern))
                continue;
            rows.push_back({db, e.owner, e.name, e.type, Null{}});
        }
        return finish(cols, rows);
    }

    if (name == "sp_columns" || name == "sp_columns_90" || name == "sp_columns_100") {
        const ArgList a{
            params,
            {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@odbcver"}};
        const auto tableName = a.str("@table_name");
        const auto owner = a.str("@table_owner");
        const auto columnName = a.str("@column_name");
        const int odbcVer =
            a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
        const std::vector<Column> cols = {sysname("TABLE_QUALIFIER"),
                                          sysname("TABLE_OWNER"),
                                          sysname("TABLE_NAME", false),
                                          sysname("COLUMN_NAME", false),
                                          makeColumn("DATA_TYPE", SqlType::SmallInt, 0, false),
                                          sysname("TYPE_NAME", false),
                                          makeColumn("PRECISION", SqlType::Int),
                                          makeColumn("LENGTH", SqlType::Int),
                                          makeColumn("SCALE", SqlType::SmallInt),
                                          makeColumn("RADIX", SqlType::SmallInt),
                                          makeColumn("NULLABLE", SqlType::SmallInt, 0, false),
                                          makeColumn("REMARKS", SqlType::VarChar, 254),
                                          makeColumn("COLUMN_DEF", SqlType::NVarChar, 4000),
                                          makeColumn("SQL_DATA_TYPE", SqlType::SmallInt, 0, false),
                                          makeColumn("SQL_DATETIME_SUB", SqlType::SmallInt),
                                          makeColumn("CHAR_OCTET_LENGTH", SqlType::Int),
                                          makeColumn("ORDINAL_POSITION", SqlType::Int, 0, false),
                                          makeColumn("IS_NULLABLE", SqlType::VarChar, 254),
                                          makeColumn("SS_DATA_TYPE", SqlType::TinyInt)};
        std::vector<std::vector<Value>> rows;
        if (!tableName || !matches(owner, "dbo"))
            return finish(cols, rows);
        for (const auto& o : userObjects(conn)) {
            if (!matches(tableName, o.name))
                continue;
            int ordinal = 1;
            for (const auto& c : columnsOf(conn, "main", o.name)) {
                if (!matches(columnName, c.name)) {
                    ++ordinal;
                    continue;
                }
                const OdbcTypeInfo oi = odbcTypeInfo(c.type, odbcVer);
                std::string typeNameText = baseTypeName(c.type.type);
                if (c.identity)
                    typeNameText += " identity";
                const int ss =
                    c.notNull                                                       ? oi.ssDataType
                    : isIntegerType(c.type.type) && c.type.type != SqlType::Bit     ? 38
                    : c.type.type == SqlType::Float || c.type.type == SqlType::Real ? 109
                    : c.type.type == SqlType::Money || c.type.type == SqlType::SmallMoney ? 110
                    : c.type.type == SqlType::DateTime || c.type.type == SqlType::SmallDateTime
                        ? 111
                    : c.type.type == SqlType::Decimal ? 106
                                                      : oi.ssDataType;
                rows.push_back({db, std::string("dbo"), o.name, c.name, std::int64_t{oi.dataType},
                                typeNameText, std::int64_t{oi.precision}, std::int64_t{oi.length},
                                nullable(oi.scale), nullable(oi.radix),
                                std::int64_t{c.notNull ? 0 : 1}, Null{},
                                c.hasDefault ? Value{showDefault(c.defaultValue)} : Value{Null{}},
                                std::int64_t{oi.sqlDataType}, nullable(oi.datetimeSub),
                                nullable(oi.charOctetLength), std::int64_t{ordinal},
                                std::string(c.notNull ? "NO" : "YES"), std::int64_t{ss}});
                ++ordinal;
            }
        }
        return finish(cols, rows);
    }

    if (name == "sp_pkeys") {
        const ArgList a{params, {"@table_name", "@table_owner", "@table_qualifier"}};
        const auto tableName = a.str("@table_name");
        const std::vector<Column> cols = {sysname("TABLE_QUALIFIER"),
                                          sysname("TABLE_OWNER"),
                                          sysname("TABLE_NAME", false),
                                          sysname("COLUMN_NAME", false),
                                          makeColumn("KEY_SEQ", SqlType::SmallInt, 0, false),
                                          sysname("PK_NAME")};
        std::vector<std::vector<Value>> rows;
        for (const auto& o : userObjects(conn)) {
            if (o.view || !tableName || !iequals(*tableName, o.name))
                continue;
            const std::string pk = pkNameOf(o.name, o.sql);
            std::vector<ColumnInfo> keyCols;
            for (const auto& c : columnsOf(conn, "main", o.name))
                if (c.pk)
                    keyCols.push_back(c);
            std::sort(keyCols.begin(), keyCols.end(),
                      [](const ColumnInfo& x, const ColumnInfo& y) { return x.pk < y.pk; });
            for (const auto& c : keyCols)
                rows.push_back({db, std::string("dbo"), o.name, c.name, std::int64_t{c.pk}, pk});
        }
        return finish(cols, rows);
    }

    if (name == "sp_fkeys") {
        const ArgList a{params,
                        {"@pktable_name", "@pktable_owner", "@pktable_qualifier", "@fktable_name",
                         "@fktable_owner", "@fktable_qualifier"}};
        const auto pkTable = a.str("@pktable_name");
        const auto fkTable = a.str("@fktable_name");
        const std::vector<Column> cols = {sysname("PKTABLE_QUALIFIER"),
                                          sysname("PKTABLE_OWNER"),
                                          sysname("PKTABLE_NAME", false),
                                          sysname("PKCOLUMN_NAME", false),
                                          sysname("FKTABLE_QUALIFIER"),
                                          sysname("FKTABLE_OWNER"),
                                          sysname("FKTABLE_NAME", false),
                                          sysname("FKCOLUMN_NAME", false),
                                          makeColumn("KEY_SEQ", SqlType::SmallInt, 0, false),
                                          makeColumn("UPDATE_RULE", SqlType::SmallInt),
                                          makeColumn("DELETE_RULE", SqlType::SmallInt),
                                          sysname("FK_NAME"),
                                          sysname("PK_NAME"),
                                          makeColumn("DEFERRABILITY", SqlType::SmallInt)};
        std::vector<std::vector<Value>> rows;
        const auto objects = userObjects(conn);
        for (const auto& o : objects) {
            if (o.view || (fkTable && !iequals(*fkTable, o.name)))
                continue;
            query(conn,
                  "SELECT \"table\", \"from\", \"to\", seq, on_update, on_delete FROM "
                  "pragma_foreign_key_list(" +
                      quoteString(o.name) + ") ORDER BY id, seq",
                  [&](sqlite3_stmt* st) {
                      const std::string parent = text(st, 0);
                      if (pkTable && !iequals(*pkTable, parent))
                          return;
                      std::string parentSql;
                      for (const auto& p : objects)
                          if (iequals(p.name, parent))
                              parentSql = p.sql;
                      auto rule = [](const std::string& r) -> std::int64_t {
                          return r == "CASCADE"       ? 0
                                 : r == "SET NULL"    ? 2
                                 : r == "SET DEFAULT" ? 4
                                                      : 1;
                      };
                      std::string to = text(st, 2);
                      if (to.empty()) // references the parent's primary key
                          for (const auto& c : columnsOf(conn, "main", parent))
                              if (c.pk == sqlite3_column_int(st, 3) + 1)
                                  to = c.name;
                      rows.push_back({db, std::string("dbo"), parent, to, db, std::string("dbo"),
                                      o.name, text(st, 1),
                                      std::int64_t{sqlite3_column_int(st, 3) + 1},
                                      rule(text(st, 4)), rule(text(st, 5)),
                                      foreignKeyName(o.name, o.sql, parent),
                                      pkNameOf(parent, parentSql), std::int64_t{7}});
                  });
        }
        return finish(cols, rows);
    }

    if (name == "sp_special_columns" || name == "sp_special_columns_90" ||
        name == "sp_special_columns_100") {
        const ArgList a{params,
                        {"@table_name", "@table_owner", "@table_qualifier", "@col_type", "@scope",
                         "@nullable", "@odbcver"}};
        const auto tableName = a.str("@table_name");
        const std::string colType = a.str("@col_type").value_or("R");
        const int odbcVer =
            a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
        const std::vector<Column> cols = {makeColumn("SCOPE", SqlType::SmallInt),
                                          sysname("COLUMN_NAME", false),
                                          makeColumn("DATA_TYPE", SqlType::SmallInt, 0, false),
                                          sysname("TYPE_NAME", false),
                                          makeColumn("PRECISION", SqlType::Int),
                                          makeColumn("LENGTH", SqlType::Int),
                                          makeColumn("SCALE", SqlType::SmallInt),
                                          makeColumn("PSEUDO_COLUMN", SqlType::SmallInt)};
        std::vector<std::vector<Value>> rows;
        for (const auto& o : userObjects(conn)) {
            if (o.view || !tableName || !iequals(*tableName, o.name))
                continue;
            for (const auto& c : columnsOf(conn, "main", o.name)) {
                const bool rowVersion = iequals(c.decl.substr(0, 9), "timestamp") ||
                                        iequals(c.decl.substr(0, 10), "rowversion");
                if ((colType == "V" && !rowVersion) || (colType != "V" && !c.pk))
                    continue;
                const OdbcTypeInfo oi = odbcTypeInfo(c.type, odbcVer);
                rows.push_back({colType == "V" ? Value{Null{}} : Value{std::int64_t{1}}, c.name,
                                std::int64_t{oi.dataType}, baseTypeName(c.type.type),
                                std::int64_t{oi.precision}, std::int64_t{oi.length},
                                nullable(oi.scale), std::int64_t{1}});
            }
        }
        return finish(cols, rows);
    }

    if (name == "sp_statistics" || name == "sp_statistics_100") {
        const ArgList a{params,
                        {"@table_name", "@table_owner", "@table_qualifier", "@index_name",
                         "@is_unique", "@accuracy"}};
        const auto tableName = a.str("@table_name");
        const auto indexName = a.str("@index_name");
        const bool uniqueOnly = a.str("@is_unique").value_or("N") == "Y";
        const std::vector<Column> cols = {sysname("TABLE_QUALIFIER"),
                                          sysname("TABLE_OWNER"),
                                          sysname("TABLE_NAME", false),
                                          makeColumn("NON_UNIQUE", SqlType::SmallInt),
                                          sysname("INDEX_QUALIFIER"),
                                          sysname("INDEX_NAME"),
                                          makeColumn("TYPE", SqlType::SmallInt, 0, false),
                                          makeColumn("SEQ_IN_INDEX", SqlType::SmallInt),
                                          sysname("COLUMN_NAME"),
                                          makeColumn("COLLATION", SqlType::Char, 1),
                                          makeColumn("CARDINALITY", SqlType::Int),
                                          makeColumn("PAGES", SqlType::Int),
                                          makeColumn("FILTER_CONDITION", SqlType::VarChar, 128)};
        std::vector<std::vector<Value>> rows;
        for (const auto& o : userObjects(conn)) {
            if (o.view || !tableName || !iequals(*tableName, o.name))
                continue;
            std::int64_t count = 0;
            query(conn, "SELECT COUNT(*) FROM main." + quoteIdent(o.name),
                  [&](sqlite3_stmt* st) { count = sqlite3_column_int64(st, 0); });
            rows.push_back({db, std::string("dbo"), o.name, Null{}, Null{}, Null{}, std::int64_t{0},
                            Null{}, Null{}, Null{}, count, std::int64_t{count / 100 + 1}, Null{}});
            // The primary key of a rowid table has no index of its own in SQLite.
            const auto columns = columnsOf(conn, "main", o.name);
            const std::string pk = pkNameOf(o.name, o.sql);
            for (const auto& c : columns)
                if (c.pk && iequals(c.decl, "integer") && matches(indexName, pk))
                    rows.push_back({db, std::string("dbo"), o.name, std::int64_t{0}, o.name, pk,
                                    std::int64_t{1}, std::int64_t{1}, c.name, std::string("A"),
                                    count, std::int64_t{count / 100 + 1}, Null{}});
            query(conn,
                  "SELECT name, \"unique\", origin FROM pragma_index_list(" + quoteString(o.name) +
                      ") ORDER BY name",
                  [&](sqlite3_stmt* st) {
                      const std::string idx = text(st, 0);
                      const bool unique = sqlite3_column_int(st, 1) != 0;
                      const std::string origin = text(st, 2);
                      if (uniqueOnly && !unique)
                          return;
                      const std::string shown = origin == "pk" ? pk : idx;
                      if (!matches(indexName, shown))
                          return;
                      query(conn,
                            "SELECT seqno, name FROM pragma_index_info(" + quoteString(idx) +
                                ") ORDER BY seqno",
                            [&](sqlite3_stmt* ic) {
                                rows.push_back(
                                    {db, std::string("dbo"), o.name, std::int64_t{!unique}, o.name,
                                     shown, std::int64_t{origin == "pk" ? 1 : 3},
                                     std::int64_t{sqlite3_column_int(ic, 0) + 1}, text(ic, 1),
                                     std::string("A"), Null{}, Null{}, Null{}});
                            });
                  });
        }
        return finish(cols, rows);
    }

    if (name == "sp_databases") {
        const std::vector<Column> cols = {sysname("DATABASE_NAME", false),
                                          makeColumn("DATABASE_SIZE", SqlType::Int),
                                          makeColumn("REMARKS", SqlType::VarChar, 254)};
        std::vector<std::vector<Value>> rows;
        for (const auto& d : databaseNames())
            rows.push_back({d, std::int64_t{1024}, Null{}});
        return finish(cols, rows);
    }

    if (name == "sp_stored_procedures" || name == "sp_sproc_columns" ||
        name == "sp_sproc_columns_100") {
        const bool columns = name != "sp_stored_procedures";
        std::vector<Column> cols;
        if (columns)
            cols = {sysname("PROCEDURE_QUALIFIER"),
                    sysname("PROCEDURE_OWNER"),
                    sysname("PROCEDURE_NAME"),
                    sysname("COLUMN_NAME"),
                    makeColumn("COLUMN_TYPE", SqlType::SmallInt),
                    makeColumn("DATA_TYPE", SqlType::SmallInt),
                    sysname("TYPE_NAME"),
                    makeColumn("PRECISION", SqlType::Int),
                    makeColumn("LENGTH", SqlType::Int),
                    makeColumn("SCALE", SqlType::SmallInt),
                    makeColumn("RADIX", SqlType::SmallInt),
                    makeColumn("NULLABLE", SqlType::SmallInt),
                    makeColumn("REMARKS", SqlType::VarChar, 254)};
        else
            cols = {sysname("PROCEDURE_QUALIFIER"),
                    sysname("PROCEDURE_OWNER"),
                    sysname("PROCEDURE_NAME"),
                    makeColumn("NUM_INPUT_PARAMS", SqlType::Int),
                    makeColumn("NUM_OUTPUT_PARAMS", SqlType::Int),
                    makeColumn("NUM_RESULT_SETS", SqlType::Int),
                    makeColumn("REMARKS", SqlType::VarChar, 254),
                    makeColumn("PROCEDURE_TYPE", SqlType::SmallInt)};
        return finish(cols, {});
    }

    if (name.rfind("sp_datatype_info", 0) == 0) {
        const ArgList a{params, {"@data_type", "@odbcver"}};
        const auto wantedType = a.get("@data_type");
        const int odbcVer =
            a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
        const std::vector<Column> cols = {sysname("TYPE_NAME", false),
                                          makeColumn("DATA_TYPE", SqlType::SmallInt, 0, false),
                                          makeColumn("PRECISION", SqlType::Int),
                                          makeColumn("LITERAL_PREFIX", SqlType::VarChar, 32),
                                          makeColumn("LITERAL_SUFFIX", SqlType::VarChar, 32),
                                          makeColumn("CREATE_PARAMS", SqlType::VarChar, 32),
                                          makeColumn("NULLABLE", SqlType::SmallInt, 0, false),
                                          makeColumn("CASE_SENSITIVE", SqlType::SmallInt, 0, false),
                                          makeColumn("SEARCHABLE", SqlType::SmallInt, 0, false),
                                          makeColumn("UNSIGNED_ATTRIBUTE", SqlType::SmallInt),
                                          makeColumn("MONEY", SqlType::SmallInt, 0, false),
                                          makeColumn("AUTO_INCREMENT", SqlType::SmallInt),
                                          sysname("LOCAL_TYPE_NAME"),
                                          makeColumn("MINIMUM_SCALE", SqlType::SmallInt),
                                          makeColumn("MAXIMUM_SCALE", SqlType::SmallInt),
                                          makeColumn("SQL_DATA_TYPE", SqlType::SmallInt, 0, false),
                                          makeColumn("SQL_DATETIME_SUB", SqlType::SmallInt),
                                          makeColumn("NUM_PREC_RADIX", SqlType::Int),
                                          makeColumn("INTERVAL_PRECISION", SqlType::SmallInt),
                                          makeColumn("USERTYPE", SqlType::SmallInt)};
        struct T {
            const char* name;
            const char* decl;
            const char* prefix;
            const char* params;
            bool identity;
        };
        const T types[] = {
            {"sql_variant", "sql_variant", nullptr, nullptr, false},
            {"uniqueidentifier", "uniqueidentifier", "'", nullptr, false},
            {"ntext", "ntext", "N'", nullptr, false},
            {"nvarchar", "nvarchar(4000)", "N'", "max length", false},
            {"sysname", "sysname", "N'", nullptr, false},
            {"nchar", "nchar(4000)", "N'", "length", false},
            {"bit", "bit", nullptr, nullptr, false},
            {"tinyint", "tinyint", nullptr, nullptr, false},
            {"tinyint identity", "tinyint", nullptr, nullptr, true},
            {"bigint", "bigint", nullptr, nullptr, false},
            {"bigint identity", "bigint", nullptr, nullptr, true},
            {"image", "image", "0x", nullptr, false},
            {"varbinary", "varbinary(8000)", "0x", "max length", false},
            {"binary", "binary(8000)", "0x", "length", false},
            {"timestamp", "timestamp", "0x", nullptr, false},
            {"text", "text", "'", nullptr, false},
            {"char", "char(8000)", "'", "length", false},
            {"numeric", "numeric(38,0)", nullptr, "precision,scale", false},
            {"numeric() identity", "numeric(38,0)", nullptr, "precision", true},
            {"decimal", "decimal(38,0)", nullptr, "precision,scale", false},
            {"decimal() identity", "decimal(38,0)", nullptr, "precision", true},
            {"money", "money", "$", nullptr, false},
            {"smallmoney", "smallmoney", "$", nullptr, false},
            {"int", "int", nullptr, nullptr, false},
            {"int identity", "int", nullptr, nullptr, true},
            {"smallint", "smallint", nullptr, nullptr, false},
            {"smallint identity", "smallint", nullptr, nullptr, true},
            {"float", "float", nullptr, nullptr, false},
            {"real", "real", nullptr, nullptr, false},
            {"varchar", "varchar(8000)", "'", "max length", false},
            {"date", "date", "'", nullptr, false},
            {"time", "time", "'", "scale", false},
            {"datetime", "datetime", "'", nullptr, false},
            {"smalldatetime", "smalldatetime", "'", nullptr, false},
        };
        std::vector<std::vector<Value>> rows;
        for (const T& t : types) {
            const ColumnType ct = typeOf(t.decl);
            const OdbcTypeInfo oi = odbcTypeInfo(ct, odbcVer);
            if (wantedType && std::atoi(valueText(*wantedType).c_str()) != 0 &&
                std::atoi(valueText(*wantedType).c_str()) != oi.dataType)
                continue;
            const bool chars = isTextType(ct.type) || ct.type == SqlType::UniqueIdentifier;
            const bool numeric = !chars && !isBinaryType(ct.type) && ct.type < SqlType::DateTime;
            const char* suffix =
                !t.prefix                                                                 ? nullptr
                : std::string_view(t.prefix) == "0x" || std::string_view(t.prefix) == "$" ? nullptr
                                                                                          : "'";
            rows.push_back(
                {std::string(t.name),
                 std::int64_t{oi.dataType},
                 std::int64_t{oi.precision},
                 t.prefix ? Value{std::string(t.prefix)} : Value{Null{}},
                 suffix ? Value{std::string(suffix)} : Value{Null{}},
                 t.params ? Value{std::string(t.params)} : Value{Null{}},
                 std::int64_t{t.identity ? 0 : 1},
                 std::int64_t{0},
                 std::int64_t{chars ? 3 : 2},
                 numeric ? Value{std::int64_t{ct.type == SqlType::TinyInt}} : Value{Null{}},
                 std::int64_t{ct.type == SqlType::Money || ct.type == SqlType::SmallMoney},
                 numeric ? Value{std::int64_t{t.identity}} : Value{Null{}},
                 std::string(t.name),
                 numeric ? Value{std::int64_t{0}} : Value{Null{}},
                 ct.type == SqlType::Decimal ? Value{std::int64_t{38}}
                 : numeric                   ? Value{std::int64_t{typeScale(ct)}}
                                             : Value{Null{}},
                 std::int64_t{oi.sqlDataType},
                 nullable(oi.datetimeSub),
                 nullable(oi.radix),
                 Null{},
                 std::int64_t{0}});
        }
        std::stable_sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) {
            return std::get<std::int64_t>(x[1]) < std::get<std::int64_t>(y[1]);
        });
        return finish(cols, rows);
    }

    if (name == "sp_server_info") {
        const ArgList a{params, {"@attribute_id"}};
        const auto wanted = a.get("@attribute_id");
        const std::vector<Column> cols = {makeColumn("attribute_id", SqlType::Int, 0, false),
                                          sysname("attribute_name", false),
                                          makeColumn("attribute_value", SqlType::VarChar, 255)};
        const std::vector<std::pair<int, std::pair<const char*, std::string>>> info = {
            {1, {"DBMS_NAME", "Microsoft SQL Server"}},
            {2, {"DBMS_VER", "Microsoft SQL Server 2005 - " + cfg.productVersion}},
            {10, {"OWNER_TERM", "owner"}},
            {11, {"TABLE_TERM", "table"}},
            {12, {"MAX_OWNER_NAME_LENGTH", "128"}},
            {13, {"TABLE_LENGTH", "128"}},
            {14, {"MAX_QUAL_LENGTH", "128"}},
            {15, {"COLUMN_LENGTH", "128"}},
            {16, {"IDENTIFIER_CASE", "MIXED"}},
            {17, {"TX_ISOLATION", "2"}},
            {18,
             {"COLLATION_SEQ",
              "charset=iso_1 sort_order=nocase_iso charset_num=1 sort_order_num=52"}},
            {19, {"SAVEPOINT_SUPPORT", "Y"}},
            {20, {"MULTI_RESULT_SETS", "Y"}},
            {22, {"ACCESSIBLE_TABLES", "Y"}},
            {100, {"USERID_LENGTH", "128"}},
            {101, {"QUALIFIER_TERM", "database"}},
            {102, {"NAMED_TRANSACTIONS", "Y"}},
            {103, {"SPROC_AS_LANGUAGE", "Y"}},
            {104, {"ACCESSIBLE_SPROC", "Y"}},
            {105, {"MAX_INDEX_COLS", "16"}},
            {106, {"RENAME_TABLE", "Y"}},
            {107, {"RENAME_COLUMN", "Y"}},
            {108, {"DROP_COLUMN", "Y"}},
            {109, {"INCREASE_COLUMN_LENGTH", "Y"}},
            {110, {"DDL_IN_TRANSACTION", "Y"}},
            {111, {"DESCENDING_INDEXES", "Y"}},
            {112, {"SP_RENAME", "Y"}},
            {113, {"REMOTE_SPROC", "Y"}},
            {500, {"SYS_SPROC_VERSION", cfg.productVersion}}};
        std::vector<std::vector<Value>> rows;
        for (const auto& [id, kv] : info)
            if (!wanted || std::atoi(valueText(*wanted).c_str()) == id)
                rows.push_back({std::int64_t{id}, std::string(kv.first), kv.second});
        return finish(cols, rows);
    }
    return false;
}

} // namespace tds
