// Checks of the values written to a column. SQLite stores any value in any
// column; SQL Server refuses text or bytes longer than their column (8152)
// and numbers beyond a decimal's precision or money's range (8115), and then
// stores nothing of the statement. A BEFORE INSERT and a BEFORE UPDATE
// trigger per table raise those errors, so every way of writing a row
// (VALUES, INSERT ... SELECT, UPDATE, parameters) is checked and SQLite
// undoes the whole statement.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/catalog.h"
#include "testserver/engine/collation.h"
#include "testserver/engine/lexer.h"
#include "testserver/engine/types.h"

namespace tds {

using namespace sql;

namespace {

const char* const kTriggerKinds[] = {"INSERT", "UPDATE"};
const std::string kRowVersionTrigger = "tds_rowversion_";
// After a row is written its char, varchar and text values become what the
// column's code page holds, and its exact numbers are rounded to their scale.
const std::string kStoreTrigger = "tds_store_";

std::string triggerName(const std::string& kind, const std::string& table) {
    return "tds_check_" + toLower(kind) + "_" + table;
}

// "schema." for a named schema, nothing for the main one.
std::string schemaPrefix(const std::string& schema) {
    return schema.empty() ? std::string() : quoteIdent(schema) + ".";
}

bool isMultiByte(int codePage) {
    return codePage == kCodePageUtf8 || codePage == 932 || codePage == 936 || codePage == 949 ||
           codePage == 950;
}

// The condition under which NEW.col does not fit its declared type, or "" for
// columns without a length. Trailing blanks of text are cut without an error,
// as SQL Server does.
std::string overflowCondition(const std::string& column, const ColumnType& t) {
    if (t.length <= 0)
        return {};
    const std::string value = "NEW." + quoteIdent(column);
    const std::string n = std::to_string(t.length);
    // varchar(n) counts bytes of its code page, which differ from characters
    // in the double-byte code pages and UTF-8.
    if (const int cp = codePageOf(t.collation);
        (t.type == SqlType::Char || t.type == SqlType::VarChar) && isMultiByte(cp))
        return "tds_codepage_length(rtrim(" + value + ", ' '), " + std::to_string(cp) + ") > " + n;
    if (t.type == SqlType::Char || t.type == SqlType::VarChar || t.type == SqlType::NChar ||
        t.type == SqlType::NVarChar)
        return "length(rtrim(" + value + ", ' ')) > " + n;
    if (t.type == SqlType::Binary || t.type == SqlType::VarBinary)
        return "length(CAST(" + value + " AS BLOB)) > " + n;
    return {};
}

} // namespace

void Session::Impl::dropColumnChecks(const std::string& schema, const std::string& table) {
    for (const char* kind : kTriggerKinds) {
        const std::string sql =
            "DROP TRIGGER IF EXISTS " + schemaPrefix(schema) + quoteIdent(triggerName(kind, table));
        sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    }
    for (const std::string& name : {kRowVersionTrigger + table, kStoreTrigger + "insert_" + table,
                                    kStoreTrigger + "update_" + table}) {
        const std::string sql = "DROP TRIGGER IF EXISTS " + schemaPrefix(schema) + quoteIdent(name);
        sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    }
}

void Session::Impl::refreshColumnChecks(const std::string& schema, const std::string& table) {
    dropColumnChecks(schema, table);
    std::string condition;  // some value is too long
    std::string numbers;    // tds_check_value() of each exact numeric
    std::string rowVersion; // the timestamp column, if any
    std::string lossy;      // some value is not stored as its column holds it
    std::string recode;     // the assignments that store it so
    for (const catalog::ColumnInfo& ci :
         catalog::columnsOf(conn, schema.empty() ? "main" : schema, table)) {
        const auto t = parseDeclType(ci.decl);
        if (!t)
            continue;
        ColumnType type = *t;
        type.collation = ci.type.collation;
        const std::string& name = ci.name;
        if (const std::string c = overflowCondition(name, type); !c.empty())
            condition += (condition.empty() ? "" : " OR ") + c;
        if (t->rowVersion)
            rowVersion = name;
        if (isExactNumericType(t->type))
            numbers += std::string(numbers.empty() ? "" : ", ") + "tds_check_value(" +
                       quoteString(typeName(*t)) + ", NEW." + quoteIdent(name) + ")";
        // Exact numbers kept as decimal text (declared "decimal text(p,s)",
        // "money text"): rounded to the scale, as SQL Server stores them.
        if (isExactNumericType(t->type) && toLower(ci.decl).find("text") != std::string::npos) {
            const std::string scale = std::to_string(t->type == SqlType::Decimal ? t->scale : 4);
            lossy += (lossy.empty() ? "" : " OR ") + std::string("tds_decimal_excess(NEW.") +
                     quoteIdent(name) + ", " + scale + ")";
            recode += (recode.empty() ? "" : ", ") + quoteIdent(name) + " = tds_decimal_round(" +
                      quoteIdent(name) + ", " + scale + ")";
        }
        const int cp = codePageOf(type.collation);
        if ((t->type == SqlType::Char || t->type == SqlType::VarChar || t->type == SqlType::Text) &&
            cp != kCodePageUtf8) {
            const std::string cpText = std::to_string(cp);
            lossy += (lossy.empty() ? "" : " OR ") + std::string("tds_codepage_lossy(NEW.") +
                     quoteIdent(name) + ", " + cpText + ")";
            recode += (recode.empty() ? "" : ", ") + quoteIdent(name) + " = tds_codepage(" +
                      quoteIdent(name) + ", " + cpText + ")";
        }
    }
    const bool temp = schema == "temp";
    if (!lossy.empty()) {
        for (const char* kind : kTriggerKinds) {
            const std::string sql = std::string(temp ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ") +
                                    (temp ? std::string() : schemaPrefix(schema)) +
                                    quoteIdent(kStoreTrigger + toLower(kind) + "_" + table) +
                                    " AFTER " + kind + " ON " + quoteIdent(table) + " WHEN " +
                                    lossy + " BEGIN UPDATE " + quoteIdent(table) + " SET " +
                                    recode + " WHERE rowid = NEW.rowid; END";
            sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
        }
    }
    if (!rowVersion.empty()) {
        // Every update gives the row a new version (the insert takes the column's default).
        const std::string sql =
            std::string(temp ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ") +
            (temp ? std::string() : schemaPrefix(schema)) + quoteIdent(kRowVersionTrigger + table) +
            " AFTER UPDATE ON " + quoteIdent(table) + " WHEN NEW." + quoteIdent(rowVersion) +
            " IS OLD." + quoteIdent(rowVersion) + " BEGIN UPDATE " + quoteIdent(table) + " SET " +
            quoteIdent(rowVersion) + " = tds_next_rowversion() WHERE rowid = NEW.rowid; END";
        sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    }
    if (condition.empty() && numbers.empty())
        return;
    std::string body;
    if (!condition.empty())
        body += " SELECT RAISE(ABORT, 'tds:8152:16/14:String or binary data would be "
                "truncated.') WHERE " +
                condition + ";";
    if (!numbers.empty())
        body += " SELECT " + numbers + ";";
    for (const char* kind : kTriggerKinds) {
        const std::string sql = std::string(temp ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ") +
                                (temp ? std::string() : schemaPrefix(schema)) +
                                quoteIdent(triggerName(kind, table)) + " BEFORE " + kind + " ON " +
                                quoteIdent(table) + " BEGIN" + body + " END";
        sqlite3_exec(conn, sql.c_str(), nullptr, nullptr, nullptr);
    }
}

std::string Session::Impl::schemaOfName(const std::vector<std::string>& parts) {
    if (parts.empty())
        return {};
    if (!parts.back().empty() && parts.back()[0] == '#')
        return "temp";
    if (parts.size() >= 3 && !parts[parts.size() - 3].empty())
        return schemaFor(parts[parts.size() - 3]).value_or(std::string());
    return {};
}

} // namespace tds
