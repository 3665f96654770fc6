// T-SQL functions about the server and the session: @@ globals, databases,
// objects, the login, SERVERPROPERTY.

#include "testserver/engine/functions.h"

#include "testserver/engine/catalog.h"
#include "testserver/engine/collation.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"
#include "testserver/engine/variant.h"

#include <cstring>
#include <random>

namespace tds::sqlfn {

using namespace sql;

namespace {

// The rowid of the stored procedure `where` finds (?1 = arg), if any.
std::optional<std::int64_t> procedureRowid(sqlite3* c, const std::string& where,
                                           const std::string& arg) {
    if (!catalog::hasProcedureTable(c))
        return std::nullopt;
    std::optional<std::int64_t> r;
    sqlite3_stmt* st = nullptr;
    const std::string q =
        std::string("SELECT rowid FROM main.") + catalog::kProcedureTable + " WHERE " + where;
    if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, arg.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW)
            r = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
    return r;
}

std::optional<std::string> procedureName(sqlite3* c, std::int64_t rowid) {
    if (!catalog::hasProcedureTable(c))
        return std::nullopt;
    std::optional<std::string> r;
    catalog::query(c,
                   std::string("SELECT name FROM main.") + catalog::kProcedureTable +
                       " WHERE rowid = " + std::to_string(rowid),
                   [&](sqlite3_stmt* st) { r = catalog::text(st, 0); });
    return r;
}

void sqlTdsGlobal(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const std::string name = toUpper(text(a[0]));
    if (name == "SPID")
        return sqlite3_result_int(ctx, d->spid);
    if (name == "ROWCOUNT")
        return sqlite3_result_int64(ctx, d->lastRowCount);
    if (name == "TRANCOUNT")
        return sqlite3_result_int(ctx, d->tranCount);
    if (name == "ERROR")
        return sqlite3_result_int(ctx, d->lastError);
    if (name == "IDENTITY")
        return d->lastIdentity ? sqlite3_result_int64(ctx, d->lastIdentity)
                               : sqlite3_result_null(ctx);
    if (name == "TEXTSIZE")
        return sqlite3_result_int64(ctx, d->options.textSize ? d->options.textSize : 2147483647);
    if (name == "MAX_PRECISION")
        return sqlite3_result_int(ctx, 38);
    if (name == "DATEFIRST")
        return sqlite3_result_int(ctx, 7);
    if (name == "LANGID" || name == "NESTLEVEL" || name == "PROCID" || name == "OPTIONS")
        return sqlite3_result_int(ctx, 0);
    if (name == "FETCH_STATUS" || name == "LOCK_TIMEOUT")
        return sqlite3_result_int(ctx, -1);
    if (name == "MAX_CONNECTIONS")
        return sqlite3_result_int(ctx, 32767);
    if (name == "DBTS") {
        const Blob b = sql::lastRowVersion();
        return sqlite3_result_blob(ctx, b.data(), int(b.size()), SQLITE_TRANSIENT);
    }
    if (name == "MICROSOFTVERSION") {
        const std::string& v = d->cfg.productVersion;
        int major = 0, minor = 0, build = 0;
        std::sscanf(v.c_str(), "%d.%d.%d", &major, &minor, &build);
        return sqlite3_result_int(ctx, (major << 24) | (minor << 16) | build);
    }
    const std::string t = d->globalText(name);
    if (t.empty())
        return resultError(ctx, 137, 15, "Must declare the scalar variable \"@@" + name + "\".");
    sqlite3_result_text(ctx, t.c_str(), -1, SQLITE_TRANSIENT);
}

void sqlDbName(sqlite3_context* ctx, int n, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    if (n == 0 || sqlite3_value_type(a[0]) == SQLITE_NULL)
        return result(ctx, d->db);
    const auto names = d->files.names();
    const int id = sqlite3_value_int(a[0]);
    if (id >= 1 && id <= static_cast<int>(names.size()))
        return result(ctx, names[static_cast<std::size_t>(id - 1)]);
    sqlite3_result_null(ctx);
}

void sqlDbId(sqlite3_context* ctx, int n, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const std::string name = n == 0 ? d->db : text(a[0]);
    const auto names = d->files.names();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (iequals(names[i], name))
            return sqlite3_result_int(ctx, static_cast<int>(i + 1));
    sqlite3_result_null(ctx);
}

void sqlServerproperty(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const std::string p = toLower(text(a[0]));
    if (p == "productversion")
        return result(ctx, d->cfg.productVersion);
    if (p == "productlevel")
        return result(ctx, std::string("RTM"));
    if (p == "edition")
        return result(ctx, std::string("Developer Edition"));
    if (p == "engineedition")
        return sqlite3_result_int(ctx, 3);
    if (p == "servername")
        return result(ctx, d->globalText("SERVERNAME"));
    if (p == "machinename")
        return result(ctx, d->cfg.serverName);
    if (p == "instancename")
        return d->cfg.instanceName.empty() ? sqlite3_result_null(ctx)
                                           : result(ctx, d->cfg.instanceName);
    if (p == "collation")
        return result(ctx, std::string("SQL_Latin1_General_CP1_CI_AS"));
    if (p == "isintegratedsecurityonly" || p == "isclustered" || p == "isfulltextinstalled" ||
        p == "issingleuser")
        return sqlite3_result_int(ctx, 0);
    if (p == "lcid")
        return sqlite3_result_int(ctx, 1033);
    if (p == "processid")
        return sqlite3_result_int(ctx, 4242);
    sqlite3_result_null(ctx);
}

// COLLATIONPROPERTY(name, 'CodePage' | 'LCID' | 'ComparisonStyle' | 'Version'):
// NULL for an unknown collation or property.
void sqlCollationProperty(sqlite3_context* ctx, int, sqlite3_value** a) {
    const Collation* c = findCollation(text(a[0]));
    const std::string p = toLower(text(a[1]));
    if (!c)
        return sqlite3_result_null(ctx);
    if (p == "codepage")
        return sqlite3_result_int(ctx, c->codePage);
    if (p == "lcid")
        return sqlite3_result_int(ctx, int(c->lcid));
    if (p == "comparisonstyle")
        return sqlite3_result_int64(ctx, c->comparisonStyle());
    if (p == "version")
        return sqlite3_result_int(ctx, c->version);
    sqlite3_result_null(ctx);
}

// DATABASEPROPERTYEX(db, property) for the properties clients ask about.
void sqlDatabasePropertyEx(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const std::string name = text(a[0]);
    bool known = false;
    for (const auto& n : d->files.names())
        known = known || iequals(n, name);
    const std::string p = toLower(text(a[1]));
    if (!known)
        return sqlite3_result_null(ctx);
    if (p == "collation")
        return result(ctx, defaultCollation().name);
    if (p == "status")
        return result(ctx, std::string("ONLINE"));
    if (p == "updateability")
        return result(ctx, std::string("READ_WRITE"));
    if (p == "useraccess")
        return result(ctx, std::string("MULTI_USER"));
    if (p == "recovery")
        return result(ctx, std::string("SIMPLE"));
    if (p == "iscasesensitive" || p == "version")
        return sqlite3_result_int(ctx, p == "version" ? 611 : 0);
    sqlite3_result_null(ctx);
}

// SQL_VARIANT_PROPERTY(v, 'BaseType' | 'Precision' | 'Scale' | 'TotalBytes' |
// 'Collation' | 'MaxLength'): what the value's base type says; a plain value
// (not put in through a conversion) counts as its storage class.
void sqlVariantProperty(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::string p = toLower(text(a[1]));
    const VariantValue v = variantOf(argValue(a[0]));
    const VariantProperties props = variantProperties(v);
    if (p == "basetype")
        return result(ctx, variantBaseName(v));
    if (p == "precision")
        return sqlite3_result_int(ctx, props.precision);
    if (p == "scale")
        return sqlite3_result_int(ctx, props.scale);
    if (p == "maxlength")
        return sqlite3_result_int(ctx, props.maxLength);
    if (p == "totalbytes")
        return sqlite3_result_int(ctx, props.totalBytes);
    if (p == "collation") {
        if (!isTextType(v.base.type))
            return sqlite3_result_null(ctx);
        return result(ctx, v.base.collation.empty() ? defaultCollation().name : v.base.collation);
    }
    sqlite3_result_null(ctx);
}

void sqlUserName(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, implOf(ctx)->user);
}

void sqlDboName(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, std::string("dbo"));
}

// SCHEMA_NAME([id]) and SCHEMA_ID([name]): the built-in schemas, then the created ones.
constexpr const char* kBuiltInSchemas[] = {"dbo", "guest", "INFORMATION_SCHEMA", "sys"};

void sqlSchemaName(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (argc == 0)
        return result(ctx, std::string("dbo"));
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::int64_t id = sqlite3_value_int64(a[0]);
    if (id >= 1 && id <= 4)
        return result(ctx, std::string(kBuiltInSchemas[id - 1]));
    Session::Impl* d = implOf(ctx);
    std::optional<std::string> name;
    if (catalog::hasSchemaTable(d->conn))
        catalog::query(d->conn,
                       std::string("SELECT name FROM ") + catalog::kSchemaTable +
                           " WHERE rowid = " + std::to_string(id - 4),
                       [&](sqlite3_stmt* st) { name = catalog::text(st, 0); });
    if (!name)
        return sqlite3_result_null(ctx);
    result(ctx, *name);
}

void sqlSchemaId(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    if (argc == 0)
        return sqlite3_result_int64(ctx, 1);
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::string name = text(a[0]);
    for (std::int64_t k = 0; k < 4; ++k)
        if (iequals(name, kBuiltInSchemas[k]))
            return sqlite3_result_int64(ctx, k + 1);
    if (const auto id = implOf(ctx)->userSchemaId(name))
        return sqlite3_result_int64(ctx, *id);
    sqlite3_result_null(ctx);
}

void sqlHostName(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, std::string("localhost"));
}

void sqlAppName(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, std::string());
}

void sqlNewid(sqlite3_context* ctx, int, sqlite3_value**) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    unsigned char b[16];
    for (int i = 0; i < 16; i += 8) {
        const auto r = rng();
        std::memcpy(b + i, &r, 8);
    }
    b[7] = static_cast<unsigned char>((b[7] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    result(ctx, guidText(b));
}

// The rowid of the trigger or function named `name`, if any, and for a
// function its type (FN, TF, IF).
std::optional<std::int64_t> triggerRowid(sqlite3* c, const std::string& name) {
    std::optional<std::int64_t> r;
    if (catalog::hasInternalTable(c, "__tds_triggers"))
        catalog::query(c,
                       std::string("SELECT rowid FROM ") + catalog::kTriggerTable +
                           " WHERE name = " + quoteString(name) + " COLLATE NOCASE",
                       [&](sqlite3_stmt* st) { r = sqlite3_column_int64(st, 0); });
    return r;
}
std::optional<std::pair<std::int64_t, std::string>> functionRow(sqlite3* c,
                                                                const std::string& where) {
    std::optional<std::pair<std::int64_t, std::string>> r;
    if (catalog::hasInternalTable(c, "__tds_functions"))
        catalog::query(c,
                       std::string("SELECT rowid, ") + catalog::kFunctionTypeSql + " FROM " +
                           catalog::kFunctionTable + " WHERE " + where,
                       [&](sqlite3_stmt* st) {
                           r.emplace(sqlite3_column_int64(st, 0), catalog::text(st, 1));
                       });
    return r;
}

// OBJECT_ID(name [, type]): a table ('U'), view ('V'), procedure ('P') or
// trigger ('TR'); with a type, only an object of that type.
void sqlObjectId(sqlite3_context* ctx, int n, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    // 'dbo.t', '[t]', 'db..t', 'tempdb..#t'
    const std::string source = text(a[0]); // the tokens point into it
    const std::vector<Token> toks = significantTokens(source);
    std::size_t i = 0;
    const auto parts = readObjectName(toks, i);
    if (!parts || i != toks.size())
        return sqlite3_result_null(ctx);
    std::string want = n > 1 && sqlite3_value_type(a[1]) != SQLITE_NULL ? toUpper(text(a[1])) : "";
    while (!want.empty() && want.back() == ' ')
        want.pop_back();
    auto wanted = [&](const char* kind) { return want.empty() || want == kind; };
    const std::string name = parts->back();
    const bool temp = !name.empty() && name[0] == '#';
    const std::string q = std::string("SELECT rowid, type FROM ") +
                          (temp ? "temp.sqlite_master" : "main.sqlite_master") +
                          " WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(d->conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW && wanted(catalog::text(st, 1) == "view" ? "V" : "U")) {
            const auto id = sqlite3_column_int64(st, 0) * 16 + (temp ? 3 : 1) + 1000000;
            sqlite3_finalize(st);
            return sqlite3_result_int64(ctx, id);
        }
    }
    sqlite3_finalize(st);
    if (wanted("P"))
        if (const auto rowid = procedureRowid(d->conn, "name = ?1 COLLATE NOCASE", name))
            return sqlite3_result_int64(ctx, catalog::procedureIdFor(*rowid));
    if (wanted("TR"))
        if (const auto rowid = triggerRowid(d->conn, name))
            return sqlite3_result_int64(ctx, *rowid * 16 + catalog::kTriggerIdTag + 1000000);
    if (const auto f = functionRow(d->conn, "name = " + quoteString(name) + " COLLATE NOCASE");
        f && wanted(f->second.c_str()))
        return sqlite3_result_int64(ctx, f->first * 16 + catalog::kFunctionIdTag + 1000000);
    // Constraints are objects too (DF_..., FK_..., PK_...).
    for (const auto& o : catalog::userObjects(d->conn)) {
        if (o.view)
            continue;
        const auto all = catalog::constraintsOf(o.name, o.sql);
        for (std::size_t k = 0; k < all.size(); ++k)
            if (iequals(all[k].name, name) && wanted(all[k].type.c_str()))
                return sqlite3_result_int64(ctx,
                                            catalog::constraintIdFor((o.id - 1000001) / 16, k));
    }
    sqlite3_result_null(ctx);
}

// The name in row `rowid` of one of the server's own tables (triggers,
// functions), if that table and row exist.
std::optional<std::string> nameByRowid(sqlite3* c, const char* table, std::int64_t rowid) {
    std::optional<std::string> r;
    const std::string_view bare =
        std::string_view(table).substr(std::string_view(table).find('.') + 1);
    if (catalog::hasInternalTable(c, std::string(bare)))
        catalog::query(
            c, std::string("SELECT name FROM ") + table + " WHERE rowid = " + std::to_string(rowid),
            [&](sqlite3_stmt* st) { r = catalog::text(st, 0); });
    return r;
}

// IDENT_CURRENT('table'): the last identity value made for the table, its
// seed (1) before the first; NULL for a table without an identity column.
void sqlIdentCurrent(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const std::string source = text(a[0]);
    const std::vector<Token> toks = significantTokens(source);
    std::size_t i = 0;
    const auto parts = readObjectName(toks, i);
    if (!parts || i != toks.size())
        return sqlite3_result_null(ctx);
    const std::string name = d->storedParts(*parts).back();
    const std::string schema = d->schemaOfName(*parts);
    bool identity = false;
    for (const auto& c : catalog::columnsOf(d->conn, schema.empty() ? "main" : schema, name))
        identity = identity || c.identity;
    if (!identity)
        return sqlite3_result_null(ctx);
    std::int64_t last = 1;
    catalog::query(d->conn,
                   "SELECT seq FROM " + quoteIdent(schema.empty() ? "main" : schema) +
                       ".sqlite_sequence WHERE name = " + quoteString(name) + " COLLATE NOCASE",
                   [&](sqlite3_stmt* st) { last = sqlite3_column_int64(st, 0); });
    sqlite3_result_int64(ctx, last);
}

void sqlObjectName(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    const auto id = sqlite3_value_int64(a[0]) - 1000000;
    if (id > 0 && id % 16 == catalog::kProcedureIdTag) {
        const auto name = procedureName(d->conn, id / 16);
        return name ? result(ctx, *name) : sqlite3_result_null(ctx);
    }
    if (id > 0 && (id % 16 == catalog::kTriggerIdTag || id % 16 == catalog::kFunctionIdTag)) {
        const auto name = nameByRowid(d->conn,
                                      id % 16 == catalog::kTriggerIdTag ? catalog::kTriggerTable
                                                                        : catalog::kFunctionTable,
                                      id / 16);
        return name ? result(ctx, *name) : sqlite3_result_null(ctx);
    }
    if (id > 0 && id % 16 == catalog::kConstraintIdTag) {
        const std::int64_t table = id / 16 / 64;
        const auto place = std::size_t(id / 16 % 64);
        for (const auto& o : catalog::userObjects(d->conn))
            if (!o.view && (o.id - 1000001) / 16 == table) {
                const auto all = catalog::constraintsOf(o.name, o.sql);
                if (place < all.size())
                    return result(ctx, all[place].name);
            }
        return sqlite3_result_null(ctx);
    }
    const bool temp = id % 16 == 3;
    const std::string q = std::string("SELECT name FROM ") + (temp ? "temp" : "main") +
                          ".sqlite_master WHERE rowid = ?1";
    sqlite3_stmt* st = nullptr;
    if (id > 0 && sqlite3_prepare_v2(d->conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(st, 1, id / 16);
        if (sqlite3_step(st) == SQLITE_ROW) {
            result(ctx, std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))));
            sqlite3_finalize(st);
            return;
        }
    }
    sqlite3_finalize(st);
    sqlite3_result_null(ctx);
}

// OBJECTPROPERTY(id, 'IsProcedure' | 'IsUserTable' | 'IsTable' | 'IsView' | 'IsTrigger' |
// 'IsScalarFunction' | 'IsTableFunction'):
// 1 or 0; NULL for an id no object has or a property not known here.
void sqlObjectProperty(sqlite3_context* ctx, int, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const auto id = sqlite3_value_int64(a[0]) - 1000000;
    const std::string property = toLower(text(a[1]));
    char kind = 0;
    if (id > 0 && id % 16 == catalog::kProcedureIdTag) {
        if (procedureName(d->conn, id / 16))
            kind = 'P';
    } else if (id > 0 && id % 16 == catalog::kTriggerIdTag) {
        if (nameByRowid(d->conn, catalog::kTriggerTable, id / 16))
            kind = 'T';
    } else if (id > 0 && id % 16 == catalog::kFunctionIdTag) {
        if (const auto f = functionRow(d->conn, "rowid = " + std::to_string(id / 16)))
            kind = f->second == "FN" ? 'F' : 'I';
    } else if (id > 0 && (id % 16 == 1 || id % 16 == 3)) {
        const std::string q = std::string("SELECT type FROM ") + (id % 16 == 3 ? "temp" : "main") +
                              ".sqlite_master WHERE rowid = " + std::to_string(id / 16);
        catalog::query(d->conn, q, [&](sqlite3_stmt* st) {
            kind = catalog::text(st, 0) == "view" ? 'V' : 'U';
        });
    }
    if (!kind)
        return sqlite3_result_null(ctx);
    if (property == "isprocedure")
        return sqlite3_result_int(ctx, kind == 'P');
    if (property == "isusertable" || property == "istable")
        return sqlite3_result_int(ctx, kind == 'U');
    if (property == "isview")
        return sqlite3_result_int(ctx, kind == 'V');
    if (property == "istrigger")
        return sqlite3_result_int(ctx, kind == 'T');
    if (property == "isscalarfunction")
        return sqlite3_result_int(ctx, kind == 'F');
    if (property == "istablefunction")
        return sqlite3_result_int(ctx, kind == 'I');
    sqlite3_result_null(ctx);
}

void sqlScopeIdentity(sqlite3_context* ctx, int, sqlite3_value**) {
    Session::Impl* d = implOf(ctx);
    d->lastIdentity ? sqlite3_result_int64(ctx, d->lastIdentity) : sqlite3_result_null(ctx);
}

// tds_variant_cmp(a, b): the order of two sql_variant values (type family,
// then value), -1, 0 or 1; NULL when either is NULL. A plain value counts as
// its storage class.
void sqlVariantCompare(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    auto stored = [](sqlite3_value* v) {
        const Value value = argValue(v);
        if (const auto* s = std::get_if<std::string>(&value); s && isTaggedVariant(*s))
            return *s;
        const VariantValue plain = variantOf(value);
        return encodeVariant(plain.base, plain.value);
    };
    const int r = compareVariants(stored(a[0]), stored(a[1]), sql::compareDateTimeText);
    sqlite3_result_int(ctx, r < 0 ? -1 : r > 0 ? 1 : 0);
}

const FunctionDef functions[] = {
    {"tds_variant_cmp", 2, sqlVariantCompare},
    {"tds_global", 1, sqlTdsGlobal, false},
    {"db_name", 0, sqlDbName, false},
    {"db_name", 1, sqlDbName, false},
    {"db_id", 0, sqlDbId, false},
    {"db_id", 1, sqlDbId, false},
    {"serverproperty", 1, sqlServerproperty, false},
    {"collationproperty", 2, sqlCollationProperty},
    {"sql_variant_property", 2, sqlVariantProperty},
    {"databasepropertyex", 2, sqlDatabasePropertyEx, false},
    {"suser_sname", 0, sqlUserName, false},
    {"suser_name", 0, sqlUserName, false},
    {"system_user", 0, sqlUserName, false},
    {"user_name", 0, sqlDboName},
    {"host_name", 0, sqlHostName},
    {"schema_name", 0, sqlSchemaName, false},
    {"schema_name", 1, sqlSchemaName, false},
    {"schema_id", 0, sqlSchemaId, false},
    {"schema_id", 1, sqlSchemaId, false},
    {"app_name", 0, sqlAppName},
    {"newid", 0, sqlNewid, false},
    {"object_id", 1, sqlObjectId, false},
    {"object_id", 2, sqlObjectId, false},
    {"object_name", 1, sqlObjectName, false},
    {"ident_current", 1, sqlIdentCurrent, false},
    {"objectproperty", 2, sqlObjectProperty, false},
    {"scope_identity", 0, sqlScopeIdentity, false},
};

} // namespace

std::span<const FunctionDef> systemFunctions() {
    return functions;
}

} // namespace tds::sqlfn

namespace tds {

std::string Session::Impl::globalText(const std::string& name) {
    const std::string& v = cfg.productVersion;
    int major = std::atoi(v.c_str());
    const char* year = major <= 8    ? "2000"
                       : major == 9  ? "2005"
                       : major == 10 ? "2008"
                       : major == 11 ? "2012"
                       : major == 12 ? "2014"
                       : major == 13 ? "2016"
                       : major == 14 ? "2017"
                       : major == 15 ? "2019"
                                     : "2022";
    if (name == "VERSION")
        return std::string("Microsoft SQL Server ") + year + " - " + v +
               " (Intel X86) \n\tOct 14 2005 00:33:37 \n"
               "\tCopyright (c) 1988-" +
               year +
               " Microsoft Corporation\n\tDeveloper Edition on Windows NT 5.2 (Build 3790: Service "
               "Pack 1)\n";
    if (name == "SERVERNAME")
        return cfg.instanceName.empty() ? cfg.serverName : cfg.serverName + "\\" + cfg.instanceName;
    if (name == "SERVICENAME")
        return cfg.instanceName.empty() ? "MSSQLSERVER" : cfg.instanceName;
    if (name == "LANGUAGE")
        return "us_english";
    return {};
}

} // namespace tds
