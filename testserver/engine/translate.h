#pragma once
// T-SQL to SQLite: cutting a batch into statements and rewriting the
// spellings that differ (names, literals, TOP, functions, CREATE TABLE).

#include "testserver/engine/lexer.h"

#include "testserver/engine/engine.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tds::sql {

// One statement of a batch: the significant tokens (no blanks, no comments),
// without a closing ';'. `line` is the 1-based line in the batch where it
// starts.
struct Statement {
    std::vector<Token> toks;
    int line = 1;

    bool empty() const { return toks.empty(); }
    bool startsWith(std::initializer_list<std::string_view> words) const;
    std::string text() const; // source text from the first to the last token
    std::string_view source;  // the whole batch
};

// Splits a lexed batch into statements at ';' and where a new statement
// begins without one (T-SQL needs no separator: "select 1 select 2").
std::vector<Statement> splitStatements(const std::vector<Token>& tokens, std::string_view source);

struct TranslateContext {
    std::string currentDb;
    // SQLite schema for a database name: "" for the current one, the attached
    // name for another, nothing when there is no such database.
    std::function<std::optional<std::string>(const std::string& db)> schemaFor;
    // Names (lower case) of the text columns of a table, for '+' on strings.
    std::function<std::set<std::string>(const std::string& schema, const std::string& table)>
        textColumns;
    // Whether a variable (with '@', lower case) holds text.
    std::function<bool(const std::string& var)> isTextVariable;
    // The same for national (UTF-16) text: nchar, nvarchar, ntext columns and variables.
    std::function<std::set<std::string>(const std::string& schema, const std::string& table)>
        nationalColumns;
    std::function<bool(const std::string& var)> isNationalVariable;
    // The declared types of a table's columns (names lower case), and a
    // variable's type: what arithmetic on exact numerics needs to know.
    std::function<std::map<std::string, ColumnType>(const std::string& schema,
                                                    const std::string& table)>
        columnTypes;
    std::function<std::optional<ColumnType>(const std::string& var)> variableType;
    // A table's column names (lower case) in their order.
    std::function<std::vector<std::string>(const std::string& schema, const std::string& table)>
        columnNames;
    // The table a table variable (with '@', lower case) stands for, in SQLite
    // spelling; nothing for other variables.
    std::function<std::optional<std::string>(const std::string& var)> tableVariable;
    // A user-defined alias type (sp_addtype, CREATE TYPE ... FROM): its base
    // type as written and whether it refuses NULL; nothing for other names.
    struct AliasType {
        std::string base;
        bool notNull = false;
    };
    std::function<std::optional<AliasType>(const std::string& name)> aliasType;
    // Whether a schema other than dbo, sys and INFORMATION_SCHEMA exists in
    // the current database.
    std::function<bool(const std::string& name)> isUserSchema;
    // Whether a scalar user function of that name exists in the current database.
    std::function<bool(const std::string& name)> isScalarFunction;
    // Whether a table has a sql_variant column (cheaper than columnTypes).
    std::function<bool(const std::string& schema, const std::string& table)> hasVariantColumn;
};

struct Translated {
    std::string sql;
    // SELECT ... INTO <table>: the target, already in SQLite spelling, and
    // the SELECT without the INTO clause in `sql`.
    std::optional<std::string> intoTable;
    std::string intoName; // the target's bare name
    // SELECT @a = x, @b = y ...: the variables, in order ("@a", lower case).
    std::vector<std::string> assignTo;
    // System views the statement reads ("sysdatabases", "sys.tables", ...).
    std::set<std::string> systemObjects;
    // Set when the text uses something this translator refuses; the token
    // to name in "Incorrect syntax near".
    std::optional<std::string> syntaxErrorNear;
    // A CREATE TABLE column of a type that does not exist: its number
    // (from 1) and the type's name, for error 2715.
    std::optional<std::pair<int, std::string>> unknownType;
    // An error the statement fails with before it runs (468, a collation conflict).
    std::optional<Message> error;
};

// Rewrites tokens [first, last) of a statement.
Translated translate(const Statement& st, const TranslateContext& ctx, std::size_t first = 0,
                     std::size_t last = std::string::npos);
// A SELECT with GROUP BY ... WITH ROLLUP or WITH CUBE as the equivalent
// UNION ALL of its grouping sets (T-SQL text); nothing for other statements.
std::optional<std::string> expandGroupingSets(const Statement& st);
// The base type the value of the expression toks[b, e) keeps in a sql_variant,
// as tds_convert takes it: "int", "numeric text(4,1)", "varchar(8) COLLATE
// Latin1_General_CS_AS"; empty when the tokens alone do not tell it.
std::string variantBaseText(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                            const TranslateContext& ctx);
// CREATE TABLE with SQL Server column types, IDENTITY and constraints.
Translated translateCreateTable(const Statement& st, const TranslateContext& ctx);

// Multi-part object name at toks[i...]: advances i past it. Parts may be
// empty ("db..t"). Returns nothing when toks[i] is not a name.
std::optional<std::vector<std::string>>
readObjectName(const std::vector<Token>& toks, std::size_t& i, std::size_t end = std::string::npos);

// The tables named after FROM, JOIN, UPDATE, INTO and TABLE in toks[first,
// last): SQLite schema ("" for the current database) and bare name.
std::vector<std::pair<std::string, std::string>> statementTables(const std::vector<Token>& toks,
                                                                 std::size_t first,
                                                                 std::size_t last,
                                                                 const TranslateContext& ctx);

// Index of the ')' that closes the '(' at `open`, or `end` when none does.
std::size_t matchingParen(const std::vector<Token>& toks, std::size_t open, std::size_t end);

// The system views a session provides in every database (lower case).
const std::set<std::string>& systemViewNames();

} // namespace tds::sql
