// The catalog as SQLite holds it, read the way SQL Server's catalog shows it,
// and the names SQL Server gives constraints.

#include "testserver/engine/catalog.h"

#include "testserver/engine/collation.h"

#include "testserver/engine/types.h"
#include "testserver/engine/udt.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace tds {

using namespace sql;

namespace catalog {

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
    case SqlType::DateTime2:
        return 42;
    case SqlType::DateTimeOffset:
        return 43;
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
    case SqlType::Xml:
        return 241;
    case SqlType::Udt:
        return udt::kSystemTypeId;
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
        return t.scale <= 2 ? 3 : t.scale <= 4 ? 4 : 5;
    case SqlType::DateTime2:
        return t.scale <= 2 ? 6 : t.scale <= 4 ? 7 : 8;
    case SqlType::DateTimeOffset:
        return t.scale <= 2 ? 8 : t.scale <= 4 ? 9 : 10;
    case SqlType::UniqueIdentifier:
        return 16;
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Image:
        return 16;
    case SqlType::NChar:
    case SqlType::NVarChar:
        return t.length < 0 ? -1 : t.length * 2;
    case SqlType::Xml:
        return -1;
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
        return t.scale > 0 ? 9 + t.scale : 8;
    case SqlType::DateTime2:
        return t.scale > 0 ? 20 + t.scale : 19;
    case SqlType::DateTimeOffset:
        return t.scale > 0 ? 27 + t.scale : 26;
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
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        return t.scale;
    default:
        return 0;
    }
}

int userTypeId(const ColumnType& t) {
    return t.type == SqlType::Udt ? udt::userTypeId(t.udt) : systemTypeId(t.type);
}

ColumnType typeOf(const std::string& decl) {
    if (auto t = parseDeclType(decl))
        return *t;
    ColumnType t;
    t.type = SqlType::NVarChar;
    t.length = 4000;
    return t;
}

bool hasInternalTable(sqlite3* c, const std::string& name) {
    bool found = false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(c, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = ?1",
                           -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        found = sqlite3_step(st) == SQLITE_ROW;
    }
    sqlite3_finalize(st);
    return found;
}

int execWithTexts(sqlite3* c, const std::string& sql, const std::string& t1, const std::string& t2,
                  const std::string& t3) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(c, sql.c_str(), -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, t1.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, t2.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, t3.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    return rc;
}

std::string text(sqlite3_stmt* st, int i) {
    const unsigned char* p = sqlite3_column_text(st, i);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
             : std::string();
}

std::pair<std::string, std::string> ownerAndName(const std::string& stored) {
    const auto dot = stored.find('.');
    if (dot == std::string::npos || dot == 0)
        return {"dbo", stored};
    return {stored.substr(0, dot), stored.substr(dot + 1)};
}

std::int64_t procedureIdFor(std::int64_t rowid) {
    return rowid * 16 + kProcedureIdTag + 1000000;
}

bool hasSchemaTable(sqlite3* c) {
    bool found = false;
    query(c, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = '__tds_schemas'",
          [&](sqlite3_stmt*) { found = true; });
    return found;
}

bool hasProcedureTable(sqlite3* c) {
    bool found = false;
    query(c,
          "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = '" +
              std::string(kProcedureTable) + "'",
          [&](sqlite3_stmt*) { found = true; });
    return found;
}

std::vector<Object> userObjects(sqlite3* c) {
    std::vector<Object> r;
    query(c,
          "SELECT name, type = 'view', rowid, sql FROM main.sqlite_master WHERE type IN ('table', "
          "'view') "
          "AND name NOT LIKE 'sqlite[_]%' AND " +
              std::string(kNotInternal) + " ORDER BY name COLLATE NOCASE",
          [&](sqlite3_stmt* st) {
              r.push_back(Object{text(st, 0), sqlite3_column_int(st, 1) != 0,
                                 objectIdFor(sqlite3_column_int64(st, 2)), text(st, 3)});
          });
    return r;
}

std::vector<Constraint> constraintsOf(const std::string& table, const std::string& createSql) {
    const auto toks = significantTokens(createSql);
    std::vector<Constraint> out;
    std::size_t open = 0;
    while (open < toks.size() && !isPunctTok(toks[open], '('))
        ++open;
    auto text = [&](std::size_t a, std::size_t b) { // tokens [a, b] as written
        return createSql.substr(toks[a].pos, toks[b].pos + toks[b].text.size() - toks[a].pos);
    };
    // The end of the parenthesised group that opens at `a`.
    auto groupEnd = [&](std::size_t a, std::size_t limit) {
        int depth = 0;
        for (std::size_t k = a; k < limit; ++k) {
            depth += isPunctTok(toks[k], '(') ? 1 : isPunctTok(toks[k], ')') ? -1 : 0;
            if (depth == 0)
                return k;
        }
        return limit - 1;
    };
    std::size_t item = open + 1;
    while (item < toks.size()) {
        // One column definition or table constraint: up to a comma at its top.
        std::size_t end = item;
        for (int depth = 0; end < toks.size(); ++end) {
            if (isPunctTok(toks[end], '('))
                ++depth;
            else if (isPunctTok(toks[end], ')') && depth-- == 0)
                break;
            else if (depth == 0 && isPunctTok(toks[end], ','))
                break;
        }
        const bool tableLevel =
            toks[item].kind == TokKind::Word &&
            toks[item].isAny({"constraint", "primary", "unique", "check", "foreign"});
        const std::string column = tableLevel ? std::string() : toks[item].value();
        std::string name;
        for (std::size_t k = tableLevel ? item : item + 1; k < end; ++k) {
            const Token& t = toks[k];
            if (isPunctTok(t, '(')) {
                k = groupEnd(k, end);
                continue;
            }
            if (t.kind != TokKind::Word)
                continue;
            if (t.is("constraint") && k + 1 < end) {
                name = toks[++k].value();
                continue;
            }
            Constraint c;
            c.column = column;
            if (t.is("primary"))
                c.type = "PK";
            else if (t.is("unique"))
                c.type = "UQ";
            else if (t.is("check") && k + 1 < end && isPunctTok(toks[k + 1], '(')) {
                c.type = "C";
                const std::size_t close = groupEnd(k + 1, end);
                c.definition = text(k + 1, close);
                k = close;
            } else if (t.is("default") && k + 1 < end) {
                c.type = "D";
                std::size_t first = k + 1, last = k + 1;
                if (isPunctTok(toks[first], '(')) {
                    last = groupEnd(first, end);
                    if (last > first + 1)
                        ++first; // SQL Server shows DEFAULT ('x') and DEFAULT 'x' alike
                    c.definition = showDefault(text(first, last - (first > k + 1 ? 1 : 0)));
                } else {
                    if (toks[last].kind == TokKind::Op && last + 1 < end)
                        ++last; // -1
                    c.definition = showDefault(text(first, last));
                }
                k = last;
            } else if (t.is("foreign") || t.is("references")) {
                if (t.is("foreign")) {
                    while (k < end && !toks[k].is("references"))
                        ++k;
                    if (k >= end)
                        continue;
                }
                c.type = "F";
                std::size_t n = k + 1;
                if (const auto parts = n < end ? readObjectName(toks, n) : std::nullopt)
                    c.referenced = parts->back();
                for (std::size_t j = k + 1; j + 2 < end; ++j)
                    if (toks[j].is("on") && toks[j + 2].is("cascade")) {
                        (toks[j + 1].is("delete") ? c.cascadeDelete : c.cascadeUpdate) = true;
                    }
            } else {
                continue;
            }
            c.systemNamed = name.empty();
            c.name = name.empty() ? std::string() : name;
            name.clear();
            out.push_back(std::move(c));
            if (out.back().type == "F" && tableLevel)
                break; // the rest of the item is the foreign key's
        }
        item = end + 1;
        if (end < toks.size() && isPunctTok(toks[end], ')'))
            break;
    }
    // SQL Server's names for unnamed constraints: type, table, column (for a
    // column's own) and hex digits; stable as long as the table is.
    for (std::size_t i = 0; i < out.size(); ++i) {
        Constraint& c = out[i];
        if (!c.name.empty())
            continue;
        // The names the catalog procedures (sp_pkeys, sp_fkeys) give these.
        if (c.type == "PK") {
            c.name = "PK__" + table.substr(0, 8) + "__7C8480AE";
            continue;
        }
        if (c.type == "F") {
            c.name = "FK__" + table.substr(0, 8) + "__" +
                     (c.referenced.empty() ? std::string("7C8480AE") : c.referenced.substr(0, 8));
            continue;
        }
        const std::uint64_t h = std::hash<std::string>{}(table + "." + c.column + "." + c.type) +
                                i * 0x9E3779B97F4A7C15ULL;
        char hex[17];
        const bool key = c.type == "PK" || c.type == "UQ";
        std::snprintf(hex, sizeof hex, key ? "%016llX" : "%08llX",
                      static_cast<unsigned long long>(key ? h : h & 0xFFFFFFFFULL));
        c.name = (c.type == "C"   ? std::string("CK")
                  : c.type == "F" ? std::string("FK")
                  : c.type == "D" ? std::string("DF")
                                  : c.type) +
                 "__" + table.substr(0, key ? 8 : 9) + "__" +
                 (key || c.column.empty() ? std::string() : c.column.substr(0, 4) + "__") + hex;
    }
    return out;
}

std::string constraintTypeDesc(const std::string& type) {
    if (type == "PK")
        return "PRIMARY_KEY_CONSTRAINT";
    if (type == "UQ")
        return "UNIQUE_CONSTRAINT";
    if (type == "F")
        return "FOREIGN_KEY_CONSTRAINT";
    if (type == "C")
        return "CHECK_CONSTRAINT";
    return "DEFAULT_CONSTRAINT";
}

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
                                          &coll, &notNull, &pk, &autoinc) == SQLITE_OK) {
            ci.identity = autoinc != 0;
            if (isTextType(ci.type.type))
                ci.type.collation = columnCollation(coll).name;
        }
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

// A catalog pattern argument: absent means "any".
bool matches(const std::optional<std::string>& pattern, const std::string& value, bool usePattern) {
    if (!pattern)
        return true;
    return usePattern ? likeMatch(*pattern, value) : iequals(*pattern, value);
}

Column sysname(const std::string& name, bool nullable) {
    return makeColumn(name, SqlType::NVarChar, 128, nullable);
}

Value nullable(const std::optional<int>& v) {
    return v ? Value{static_cast<std::int64_t>(*v)} : Value{Null{}};
}

std::string pkNameOf(const std::string& table, const std::string& createSql) {
    for (const auto& c : constraintsOf(table, createSql))
        if (c.type == "PK")
            return c.name;
    return "PK__" + table.substr(0, 8) + "__7C8480AE";
}

} // namespace catalog

using namespace catalog;

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
    for (const auto& c : constraintsOf(table, createSql))
        if (c.type == "F" && iequals(c.referenced, referenced))
            return c.name;
    return defaultKeyName("FK", table, referenced);
}

} // namespace tds
