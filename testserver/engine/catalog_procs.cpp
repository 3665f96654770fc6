// The catalog procedures ODBC drivers call (sp_tables, sp_columns, ...), one
// function each, found by name in a table.

#include "testserver/engine/catalog.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/errors.h"
#include "testserver/engine/types.h"

#include <algorithm>

namespace tds {

using namespace sql;
using namespace catalog;

namespace {

// Sends the procedure's result set and its DONEINPROC.
bool finish(Out& inner, const std::vector<Column>& cols,
            const std::vector<std::vector<Value>>& rows) {
    sendRows(inner, cols, rows);
    inner.done(DoneCount, rows.size(), 0xC1);
    return true;
}

bool spTables(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
              Out& inner) {
    const ArgList a{
        params, {"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fusepattern"}};
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
        for (const auto& d : s.files.names())
            rows.push_back({d, Null{}, Null{}, Null{}, Null{}});
        return finish(inner, cols, rows);
    }
    if (owner && *owner == "%" && tableName && tableName->empty() && qualifier &&
        qualifier->empty()) {
        for (const char* o : {"dbo", "INFORMATION_SCHEMA", "sys"})
            rows.push_back({Null{}, std::string(o), Null{}, Null{}, Null{}});
        return finish(inner, cols, rows);
    }
    if (typeList && *typeList == "%" && tableName && tableName->empty() && owner &&
        owner->empty()) {
        for (const char* t : {"SYSTEM TABLE", "TABLE", "VIEW"})
            rows.push_back({Null{}, Null{}, Null{}, std::string(t), Null{}});
        return finish(inner, cols, rows);
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
    auto wanted = [&](const std::string& type) { return types.empty() || types.count(type) > 0; };
    if (qualifier && !qualifier->empty() && !matches(qualifier, s.db, usePattern))
        return finish(inner, cols, rows);
    struct Entry {
        std::string type, owner, name;
    };
    std::vector<Entry> entries;
    for (const auto& o : userObjects(s.conn))
        entries.push_back(
            {o.view ? "VIEW" : "TABLE", ownerAndName(o.name).first, ownerAndName(o.name).second});
    for (const auto& t : systemTables())
        entries.push_back({"SYSTEM TABLE", "sys", t});
    if (iequals(s.db, "master"))
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
        rows.push_back({s.db, e.owner, e.name, e.type, Null{}});
    }
    return finish(inner, cols, rows);
}

bool spColumns(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
               Out& inner) {
    const ArgList a{
        params, {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@odbcver"}};
    const auto tableName = a.str("@table_name");
    const auto owner = a.str("@table_owner");
    const auto columnName = a.str("@column_name");
    const int odbcVer = a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
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
        return finish(inner, cols, rows);
    for (const auto& o : userObjects(s.conn)) {
        if (!matches(tableName, o.name))
            continue;
        int ordinal = 1;
        for (const auto& c : columnsOf(s.conn, "main", o.name)) {
            if (!matches(columnName, c.name)) {
                ++ordinal;
                continue;
            }
            const OdbcTypeInfo oi = odbcTypeInfo(c.type, odbcVer);
            std::string typeNameText = dataTypeName(c.type);
            if (c.identity)
                typeNameText += " identity";
            const int ss =
                c.notNull                                                       ? oi.ssDataType
                : isIntegerType(c.type.type) && c.type.type != SqlType::Bit     ? 38
                : c.type.type == SqlType::Float || c.type.type == SqlType::Real ? 109
                : c.type.type == SqlType::Money || c.type.type == SqlType::SmallMoney       ? 110
                : c.type.type == SqlType::DateTime || c.type.type == SqlType::SmallDateTime ? 111
                : c.type.type == SqlType::Decimal                                           ? 106
                                                  : oi.ssDataType;
            rows.push_back({s.db, std::string("dbo"), o.name, c.name, std::int64_t{oi.dataType},
                            typeNameText, std::int64_t{oi.precision}, std::int64_t{oi.length},
                            nullable(oi.scale), nullable(oi.radix), std::int64_t{c.notNull ? 0 : 1},
                            Null{},
                            c.hasDefault ? Value{showDefault(c.defaultValue)} : Value{Null{}},
                            std::int64_t{oi.sqlDataType}, nullable(oi.datetimeSub),
                            nullable(oi.charOctetLength), std::int64_t{ordinal},
                            std::string(c.notNull ? "NO" : "YES"), std::int64_t{ss}});
            ++ordinal;
        }
    }
    return finish(inner, cols, rows);
}

bool spPkeys(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
             Out& inner) {
    const ArgList a{params, {"@table_name", "@table_owner", "@table_qualifier"}};
    const auto tableName = a.str("@table_name");
    const std::vector<Column> cols = {sysname("TABLE_QUALIFIER"),
                                      sysname("TABLE_OWNER"),
                                      sysname("TABLE_NAME", false),
                                      sysname("COLUMN_NAME", false),
                                      makeColumn("KEY_SEQ", SqlType::SmallInt, 0, false),
                                      sysname("PK_NAME")};
    std::vector<std::vector<Value>> rows;
    for (const auto& o : userObjects(s.conn)) {
        if (o.view || !tableName || !iequals(*tableName, o.name))
            continue;
        const std::string pk = pkNameOf(o.name, o.sql);
        std::vector<ColumnInfo> keyCols;
        for (const auto& c : columnsOf(s.conn, "main", o.name))
            if (c.pk)
                keyCols.push_back(c);
        std::sort(keyCols.begin(), keyCols.end(),
                  [](const ColumnInfo& x, const ColumnInfo& y) { return x.pk < y.pk; });
        for (const auto& c : keyCols)
            rows.push_back({s.db, std::string("dbo"), o.name, c.name, std::int64_t{c.pk}, pk});
    }
    return finish(inner, cols, rows);
}

bool spFkeys(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
             Out& inner) {
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
    const auto objects = userObjects(s.conn);
    for (const auto& o : objects) {
        if (o.view || (fkTable && !iequals(*fkTable, o.name)))
            continue;
        query(s.conn,
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
                      return r == "CASCADE" ? 0 : r == "SET NULL" ? 2 : r == "SET DEFAULT" ? 4 : 1;
                  };
                  std::string to = text(st, 2);
                  if (to.empty()) // references the parent's primary key
                      for (const auto& c : columnsOf(s.conn, "main", parent))
                          if (c.pk == sqlite3_column_int(st, 3) + 1)
                              to = c.name;
                  rows.push_back({s.db, std::string("dbo"), parent, to, s.db, std::string("dbo"),
                                  o.name, text(st, 1), std::int64_t{sqlite3_column_int(st, 3) + 1},
                                  rule(text(st, 4)), rule(text(st, 5)),
                                  foreignKeyName(o.name, o.sql, parent),
                                  pkNameOf(parent, parentSql), std::int64_t{7}});
              });
    }
    return finish(inner, cols, rows);
}

bool spSpecialColumns(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
                      Out& inner) {
    const ArgList a{params,
                    {"@table_name", "@table_owner", "@table_qualifier", "@col_type", "@scope",
                     "@nullable", "@odbcver"}};
    const auto tableName = a.str("@table_name");
    const std::string colType = a.str("@col_type").value_or("R");
    const int odbcVer = a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
    const std::vector<Column> cols = {makeColumn("SCOPE", SqlType::SmallInt),
                                      sysname("COLUMN_NAME", false),
                                      makeColumn("DATA_TYPE", SqlType::SmallInt, 0, false),
                                      sysname("TYPE_NAME", false),
                                      makeColumn("PRECISION", SqlType::Int),
                                      makeColumn("LENGTH", SqlType::Int),
                                      makeColumn("SCALE", SqlType::SmallInt),
                                      makeColumn("PSEUDO_COLUMN", SqlType::SmallInt)};
    std::vector<std::vector<Value>> rows;
    for (const auto& o : userObjects(s.conn)) {
        if (o.view || !tableName || !iequals(*tableName, o.name))
            continue;
        for (const auto& c : columnsOf(s.conn, "main", o.name)) {
            const bool rowVersion = iequals(c.decl.substr(0, 9), "timestamp") ||
                                    iequals(c.decl.substr(0, 10), "rowversion");
            if ((colType == "V" && !rowVersion) || (colType != "V" && !c.pk))
                continue;
            const OdbcTypeInfo oi = odbcTypeInfo(c.type, odbcVer);
            rows.push_back({colType == "V" ? Value{Null{}} : Value{std::int64_t{1}}, c.name,
                            std::int64_t{oi.dataType}, dataTypeName(c.type),
                            std::int64_t{oi.precision}, std::int64_t{oi.length}, nullable(oi.scale),
                            std::int64_t{1}});
        }
    }
    return finish(inner, cols, rows);
}

bool spStatistics(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
                  Out& inner) {
    const ArgList a{params,
                    {"@table_name", "@table_owner", "@table_qualifier", "@index_name", "@is_unique",
                     "@accuracy"}};
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
    for (const auto& o : userObjects(s.conn)) {
        if (o.view || !tableName || !iequals(*tableName, o.name))
            continue;
        std::int64_t count = 0;
        query(s.conn, "SELECT COUNT(*) FROM main." + quoteIdent(o.name),
              [&](sqlite3_stmt* st) { count = sqlite3_column_int64(st, 0); });
        rows.push_back({s.db, std::string("dbo"), o.name, Null{}, Null{}, Null{}, std::int64_t{0},
                        Null{}, Null{}, Null{}, count, std::int64_t{count / 100 + 1}, Null{}});
        // The primary key of a rowid table has no index of its own in SQLite.
        const auto columns = columnsOf(s.conn, "main", o.name);
        const std::string pk = pkNameOf(o.name, o.sql);
        for (const auto& c : columns)
            if (c.pk && iequals(c.decl, "integer") && matches(indexName, pk))
                rows.push_back({s.db, std::string("dbo"), o.name, std::int64_t{0}, o.name, pk,
                                std::int64_t{1}, std::int64_t{1}, c.name, std::string("A"), count,
                                std::int64_t{count / 100 + 1}, Null{}});
        query(s.conn,
              "SELECT name, \"unique\", origin FROM pragma_index_list(" + quoteString(o.name) +
                  ") ORDER BY name",
              [&](sqlite3_stmt* st) {
                  const std::string idx = text(st, 0);
                  const bool unique = sqlite3_column_int(st, 1) != 0;
                  const std::string origin = text(st, 2);
                  if (uniqueOnly && !unique)
                      return;
                  // "name$table": a name another table's index has too.
                  const std::string suffix = "$" + o.name;
                  const std::string shown =
                      origin == "pk" ? pk
                      : idx.size() > suffix.size() &&
                              iequals(idx.substr(idx.size() - suffix.size()), suffix)
                          ? idx.substr(0, idx.size() - suffix.size())
                          : idx;
                  if (!matches(indexName, shown))
                      return;
                  query(s.conn,
                        "SELECT seqno, name FROM pragma_index_info(" + quoteString(idx) +
                            ") ORDER BY seqno",
                        [&](sqlite3_stmt* ic) {
                            rows.push_back({s.db, std::string("dbo"), o.name, std::int64_t{!unique},
                                            o.name, shown, std::int64_t{origin == "pk" ? 1 : 3},
                                            std::int64_t{sqlite3_column_int(ic, 0) + 1},
                                            text(ic, 1), std::string("A"), Null{}, Null{}, Null{}});
                        });
              });
    }
    return finish(inner, cols, rows);
}

bool spDatabases(Session::Impl& s, const std::string&, const std::vector<RpcParam>&, Out& inner) {
    const std::vector<Column> cols = {sysname("DATABASE_NAME", false),
                                      makeColumn("DATABASE_SIZE", SqlType::Int),
                                      makeColumn("REMARKS", SqlType::VarChar, 254)};
    std::vector<std::vector<Value>> rows;
    for (const auto& d : s.files.names())
        rows.push_back({d, std::int64_t{1024}, Null{}});
    return finish(inner, cols, rows);
}

bool spStoredProcedures(Session::Impl&, const std::string& name, const std::vector<RpcParam>&,
                        Out& inner) {
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
    return finish(inner, cols, {});
}

bool spDatatypeInfo(Session::Impl&, const std::string&, const std::vector<RpcParam>& params,
                    Out& inner) {
    const ArgList a{params, {"@data_type", "@odbcver"}};
    const auto wantedType = a.get("@data_type");
    const int odbcVer = a.get("@odbcver") ? std::atoi(valueText(*a.get("@odbcver")).c_str()) : 2;
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
        rows.push_back({std::string(t.name),
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
    return finish(inner, cols, rows);
}

bool spServerInfo(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params,
                  Out& inner) {
    const ArgList a{params, {"@attribute_id"}};
    const auto wanted = a.get("@attribute_id");
    const std::vector<Column> cols = {makeColumn("attribute_id", SqlType::Int, 0, false),
                                      sysname("attribute_name", false),
                                      makeColumn("attribute_value", SqlType::VarChar, 255)};
    const std::vector<std::pair<int, std::pair<const char*, std::string>>> info = {
        {1, {"DBMS_NAME", "Microsoft SQL Server"}},
        {2, {"DBMS_VER", "Microsoft SQL Server 2005 - " + s.cfg.productVersion}},
        {10, {"OWNER_TERM", "owner"}},
        {11, {"TABLE_TERM", "table"}},
        {12, {"MAX_OWNER_NAME_LENGTH", "128"}},
        {13, {"TABLE_LENGTH", "128"}},
        {14, {"MAX_QUAL_LENGTH", "128"}},
        {15, {"COLUMN_LENGTH", "128"}},
        {16, {"IDENTIFIER_CASE", "MIXED"}},
        {17, {"TX_ISOLATION", "2"}},
        {18,
         {"COLLATION_SEQ", "charset=iso_1 sort_order=nocase_iso charset_num=1 sort_order_num=52"}},
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
        {500, {"SYS_SPROC_VERSION", s.cfg.productVersion}}};
    std::vector<std::vector<Value>> rows;
    for (const auto& [id, kv] : info)
        if (!wanted || std::atoi(valueText(*wanted).c_str()) == id)
            rows.push_back({std::int64_t{id}, std::string(kv.first), kv.second});
    return finish(inner, cols, rows);
}

// Precision and scale as sp_help shows them: char(5) text, blank for types
// that have none.
Value helpFigure(const ColumnType& t, int n) {
    const bool numeric = isIntegerType(t.type) || isExactNumericType(t.type) ||
                         t.type == SqlType::Float || t.type == SqlType::Real;
    std::string s = numeric ? std::to_string(n) : std::string();
    s.resize(5, ' ');
    return s;
}

// sp_help [object]: without a name the objects of the database; with a
// table's or view's name its description in the result sets SQL Server
// sends: the object, its columns, identity, row GUID column, filegroup,
// indexes and constraints (messages where there are none).
bool spHelp(Session::Impl& s, const std::string&, const std::vector<RpcParam>& params, Out& inner) {
    const ArgList a{params, {"@objname"}};
    const auto wanted = a.str("@objname");
    const auto objects = userObjects(s.conn);
    if (!wanted) {
        std::vector<std::vector<Value>> rows;
        for (const auto& o : objects) {
            const auto [owner, name] = ownerAndName(o.name);
            rows.push_back({name, owner, std::string(o.view ? "view" : "user table")});
        }
        return finish(
            inner,
            {sysname("Name"), sysname("Owner"), makeColumn("Object_type", SqlType::NVarChar, 31)},
            rows);
    }
    std::string key = *wanted;
    if (const auto dot = key.rfind('.'); dot != std::string::npos && key.starts_with("dbo."))
        key = key.substr(dot + 1);
    const auto it = std::find_if(objects.begin(), objects.end(),
                                 [&](const Object& o) { return iequals(o.name, key); });
    if (it == objects.end()) {
        inner.sink.message(errorMessage(15009, 16,
                                        "The object '" + *wanted +
                                            "' does not exist in database '" + s.db +
                                            "' or is invalid for this operation.",
                                        1));
        return true;
    }
    const Object& o = *it;
    const auto [owner, name] = ownerAndName(o.name);
    finish(inner,
           {sysname("Name", false), sysname("Owner", false),
            makeColumn("Type", SqlType::NVarChar, 31, false),
            makeColumn("Created_datetime", SqlType::DateTime, 0, false)},
           {{name, owner, std::string(o.view ? "view" : "user table"), std::string(kCreateDate)}});
    const auto columns = columnsOf(s.conn, "main", o.name);
    std::vector<std::vector<Value>> rows;
    const std::string na = "(n/a)";
    for (const auto& c : columns) {
        const bool chars = isTextType(c.type.type);
        const bool fixed = c.type.type == SqlType::Char || c.type.type == SqlType::NChar ||
                           c.type.type == SqlType::Binary;
        const bool varying = chars || isBinaryType(c.type.type);
        rows.push_back({c.name, dataTypeName(c.type), std::string("no"),
                        std::int64_t{maxLength(c.type)}, helpFigure(c.type, typePrecision(c.type)),
                        helpFigure(c.type, typeScale(c.type)),
                        std::string(c.notNull ? "no" : "yes"), varying ? std::string("no") : na,
                        varying ? std::string(fixed && !c.notNull ? "yes" : "no") : na,
                        chars ? Value{c.type.collation.empty() ? std::string(kDefaultCollationName)
                                                               : c.type.collation}
                              : Value{Null{}}});
    }
    finish(inner,
           {sysname("Column_name"), sysname("Type"), makeColumn("Computed", SqlType::VarChar, 35),
            makeColumn("Length", SqlType::Int), makeColumn("Prec", SqlType::Char, 5),
            makeColumn("Scale", SqlType::Char, 5), makeColumn("Nullable", SqlType::VarChar, 35),
            makeColumn("TrimTrailingBlanks", SqlType::VarChar, 35),
            makeColumn("FixedLenNullInSource", SqlType::VarChar, 35), sysname("Collation")},
           rows);
    if (o.view)
        return true;
    ColumnType seed;
    seed.type = SqlType::Decimal;
    seed.precision = 38;
    const auto identity = std::find_if(columns.begin(), columns.end(),
                                       [](const ColumnInfo& c) { return c.identity; });
    Column seedCol = sysname("Seed");
    seedCol.type = seed;
    Column incrementCol = seedCol;
    incrementCol.name = "Increment";
    finish(inner,
           {sysname("Identity"), seedCol, incrementCol,
            makeColumn("Not For Replication", SqlType::Int)},
           {identity == columns.end()
                ? std::vector<Value>{std::string("No identity column defined."), Null{}, Null{},
                                     Null{}}
                : std::vector<Value>{identity->name, std::string("1"), std::string("1"),
                                     std::int64_t{0}}});
    finish(inner, {sysname("RowGuidCol")}, {{std::string("No rowguidcol column defined.")}});
    finish(inner, {sysname("Data_located_on_filegroup")}, {{std::string("PRIMARY")}});
    // Indexes: the primary key (a rowid table's has no index of its own) and the others.
    struct Index {
        std::string name, keys;
        bool unique = false, primary = false, constraint = false;
    };
    std::vector<Index> indexes;
    const std::string pk = pkNameOf(o.name, o.sql);
    std::string pkKeys;
    for (const auto& c : columns)
        if (c.pk)
            pkKeys += (pkKeys.empty() ? "" : ", ") + c.name;
    if (!pkKeys.empty())
        indexes.push_back({pk, pkKeys, true, true, true});
    query(s.conn,
          "SELECT name, \"unique\", origin FROM pragma_index_list(" + quoteString(o.name) +
              ") ORDER BY name",
          [&](sqlite3_stmt* st) {
              if (text(st, 2) == "pk")
                  return;
              Index x{text(st, 0), {}, sqlite3_column_int(st, 1) != 0, false, text(st, 2) == "u"};
              query(
                  s.conn,
                  "SELECT name FROM pragma_index_info(" + quoteString(x.name) + ") ORDER BY seqno",
                  [&](sqlite3_stmt* ic) { x.keys += (x.keys.empty() ? "" : ", ") + text(ic, 0); });
              // A UNIQUE constraint's index has a name SQLite made up; SQL Server's is UQ__.
              if (x.constraint && x.name.starts_with("sqlite_autoindex_"))
                  x.name = "UQ__" + name + "__" + x.name.substr(x.name.rfind('_') + 1);
              indexes.push_back(x);
          });
    if (indexes.empty()) {
        inner.sink.message(
            infoMessage(15472, "The object '" + name +
                                   "' does not have any indexes, or you do not have permissions."));
    } else {
        rows.clear();
        for (const auto& x : indexes)
            rows.push_back({x.name,
                            std::string(x.primary ? "clustered" : "nonclustered") +
                                (x.unique ? ", unique" : "") + (x.primary ? ", primary key" : "") +
                                (x.constraint && !x.primary ? ", unique key" : "") +
                                " located on PRIMARY",
                            x.keys});
        finish(inner,
               {sysname("index_name"), makeColumn("index_description", SqlType::VarChar, 210),
                makeColumn("index_keys", SqlType::NVarChar, 2126)},
               rows);
    }
    // Constraints: keys, defaults, foreign keys.
    rows.clear();
    for (const auto& x : indexes)
        if (x.constraint)
            rows.push_back(
                {std::string(x.primary ? "PRIMARY KEY (clustered)" : "UNIQUE (non-clustered)"),
                 x.name, na, na, na, na, x.keys});
    // Defaults and foreign keys by the names the table's definition gives
    // them (made-up ones for those it leaves unnamed), as the catalog views do.
    std::vector<Constraint> declared = constraintsOf(o.name, o.sql);
    auto declaredName = [&](const std::string& type, auto&& fits, const std::string& fallback) {
        for (auto& c : declared)
            if (c.type == type && fits(c)) {
                c.type.clear(); // each is named once
                return c.name;
            }
        return fallback;
    };
    for (const auto& c : columns)
        if (c.hasDefault && !c.identity)
            rows.push_back({"DEFAULT on column " + c.name,
                            declaredName(
                                "D", [&](const Constraint& d) { return iequals(d.column, c.name); },
                                "DF_" + name + "_" + c.name),
                            na, na, na, na, showDefault(c.defaultValue)});
    query(s.conn,
          "SELECT \"table\", \"from\", \"to\", on_delete, on_update, id FROM "
          "pragma_foreign_key_list(" +
              quoteString(o.name) + ") ORDER BY id, seq",
          [&](sqlite3_stmt* st) {
              auto action = [&](int i) {
                  const std::string v = text(st, i);
                  return std::string(v == "CASCADE"    ? "Cascade"
                                     : v == "SET NULL" ? "Set_Null"
                                                       : "No Action");
              };
              const std::string referenced = text(st, 0);
              rows.push_back(
                  {std::string("FOREIGN KEY"),
                   declaredName(
                       "F", [&](const Constraint& f) { return iequals(f.referenced, referenced); },
                       "FK_" + name + "_" + referenced),
                   action(3), action(4), std::string("Enabled"), std::string("Is_For_Replication"),
                   text(st, 1)});
              rows.push_back(
                  {Value{Null{}}, Value{Null{}}, Value{Null{}}, Value{Null{}}, Value{Null{}},
                   Value{Null{}},
                   "REFERENCES " + s.db + ".dbo." + text(st, 0) + " (" + text(st, 2) + ")"});
          });
    if (rows.empty()) {
        inner.sink.message(infoMessage(15469, "No constraints are defined on object '" + name +
                                                  "', or you do not have permissions."));
        return true;
    }
    return finish(inner,
                  {makeColumn("constraint_type", SqlType::NVarChar, 146),
                   sysname("constraint_name"), makeColumn("delete_action", SqlType::NVarChar, 9),
                   makeColumn("update_action", SqlType::NVarChar, 9),
                   makeColumn("status_enabled", SqlType::VarChar, 8),
                   makeColumn("status_for_replication", SqlType::VarChar, 19),
                   makeColumn("constraint_keys", SqlType::NVarChar, 2126)},
                  rows);
}

using CatalogProc = bool (*)(Session::Impl&, const std::string& name,
                             const std::vector<RpcParam>& params, Out& inner);

const std::pair<const char*, CatalogProc> procedures[] = {
    {"sp_tables", spTables},
    {"sp_tableswc", spTables},
    {"sp_columns", spColumns},
    {"sp_columns_90", spColumns},
    {"sp_columns_100", spColumns},
    {"sp_pkeys", spPkeys},
    {"sp_fkeys", spFkeys},
    {"sp_special_columns", spSpecialColumns},
    {"sp_special_columns_90", spSpecialColumns},
    {"sp_special_columns_100", spSpecialColumns},
    {"sp_statistics", spStatistics},
    {"sp_statistics_100", spStatistics},
    {"sp_databases", spDatabases},
    {"sp_stored_procedures", spStoredProcedures},
    {"sp_sproc_columns", spStoredProcedures},
    {"sp_sproc_columns_100", spStoredProcedures},
    {"sp_server_info", spServerInfo},
    {"sp_help", spHelp},
};

} // namespace

bool Session::Impl::catalogProcedure(const std::string& name, const std::vector<RpcParam>& params,
                                     Out& inner) {
    for (const auto& [procName, run] : procedures)
        if (name == procName)
            return run(*this, name, params, inner);
    // sp_datatype_info and its versioned variants (sp_datatype_info_90, _100).
    if (name.rfind("sp_datatype_info", 0) == 0)
        return spDatatypeInfo(*this, name, params, inner);
    return false;
}

} // namespace tds
