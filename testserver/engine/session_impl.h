#pragma once
// Internals of Session shared by its source files.

#include "testserver/engine/databases.h"
#include "testserver/engine/engine.h"
#include "testserver/engine/errors.h"
#include "testserver/engine/translate.h"

#include <sqlite3.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tds {

namespace sql {
struct Collation;
}

struct Variable {
    ColumnType type;
    Value value;
};

// How one statement ended.
enum class Outcome { Ok, Failed, Abort, Cancelled, Return };

// Where a statement's DONE goes: a batch (DONE) or a procedure (DONEINPROC).
struct Out {
    ResultSink& sink;
    DoneKind kind = DoneKind::Done;
    bool last = true;           // no statement follows: no DONE_MORE
    bool inProc = false;        // inside a procedure every DONEINPROC carries DONE_MORE
    bool anyDone = false;       // a DONE was sent
    bool moreAfterLast = false; // the last DONE sent carried DONE_MORE
    std::uint64_t lastCount = 0;

    void done(std::uint16_t status, std::uint64_t count, std::uint16_t curCmd = 0xC1) {
        if (!last || inProc)
            status |= DoneMore;
        sink.done(kind, status, count, curCmd);
        anyDone = true;
        moreAfterLast = !last;
    }
};

// The SET options a session keeps.
struct SessionOptions {
    std::int64_t rowcountLimit = 0; // SET ROWCOUNT (0 = none)
    std::int64_t textSize = 0;      // SET TEXTSIZE (0 = unlimited)
    bool nocount = false;
    bool fmtOnly = false;     // SET FMTONLY ON: describe results, change nothing
    bool browseTable = false; // SET NO_BROWSETABLE ON: results carry their base tables
    bool arithAbort = false;  // SET ARITHABORT ON: 8134 and 8115 end the batch
    bool xactAbort = false;   // SET XACT_ABORT ON: errors end the batch and roll back
};

struct Session::Impl {
    explicit Impl(const ServerConfig& c);
    ~Impl();

    ServerConfig cfg;
    std::string user;
    std::string db; // current database, as its file is named
    DatabaseFiles files;
    sqlite3* conn = nullptr; // connection to the current database
    const std::atomic<bool>* cancel = nullptr;
    bool stopped = false; // the client stopped reading or cancelled: send nothing more
    bool ended = false;   // a fatal error (severity 20+) ended the session
    int spid = 0;

    SessionOptions options;
    // State the @@ functions report.
    std::int64_t lastRowCount = 0; // @@ROWCOUNT
    int tranCount = 0;             // @@TRANCOUNT
    std::int32_t lastError = 0;    // @@ERROR
    std::uint64_t errorSeq = 0;    // errors so far: a statement that adds none resets @@ERROR
    void noteError(std::int32_t number) {
        lastError = number;
        ++errorSeq;
    }
    std::int64_t lastIdentity = 0; // @@IDENTITY / SCOPE_IDENTITY()
    int statementLine = 1;         // line of the running statement, for its errors

    std::map<std::string, Variable> vars; // "@name" (lower case)
    // Table variables: "@name" (lower case) -> the temporary table that holds
    // its rows, dropped when the batch or procedure that declared it ends.
    std::map<std::string, std::string> tableVars;
    int tableVarCount = 0;
    void dropTableVariables(const std::map<std::string, std::string>& keep);
    std::map<std::string, Variable> params; // sp_executesql / sp_execute parameters
    // A parameter of the running sp_executesql, else a DECLAREd variable.
    Variable* findVariable(const std::string& lowerName);

    struct Prepared {
        std::string declaration;
        std::string statement;
    };
    std::map<std::int32_t, Prepared> prepared;
    std::int32_t nextHandle = 1;

    // Databases and connections (session.cpp).
    bool use(const std::string& name, ResultSink* sink);
    std::optional<std::string> schemaFor(const std::string& name);
    sql::TranslateContext translateContext();
    std::set<std::string> columnsOf(const std::string& schema, const std::string& table,
                                    bool (*wanted)(const ColumnType&));
    std::map<std::string, ColumnType> columnTypesOf(const std::string& schema,
                                                    const std::string& table);
    // System views rebuilt when a statement names them (system_views.cpp).
    void refreshSystemViews(const std::set<std::string>& names);
    // The SQLite schema of a table named by its T-SQL parts: "" (main), "temp"
    // for #tables, or the attached name of another database (checks.cpp).
    std::string schemaOfName(const std::vector<std::string>& parts);
    // Triggers that refuse values that do not fit their column (checks.cpp).
    void refreshColumnChecks(const std::string& schema, const std::string& table);
    void dropColumnChecks(const std::string& schema, const std::string& table);

    // TRY ... CATCH (try_catch.cpp). An error of severity 11 to 19 while a
    // TRY block runs is kept in `caught` instead of going to the client, and
    // the statements unwind (Outcome::Abort) to the TRY, which runs its CATCH
    // block with the error as `handling.back()` (ERROR_NUMBER() and the like).
    int batchDepth = 0;    // runBatch calls running: 1 for the client's batch
    int tryDepth = 0;      // TRY blocks running
    int tryBatchDepth = 0; // batchDepth of the innermost running TRY block
    std::optional<Message> caught;
    std::vector<Message> handling; // errors of the running CATCH blocks
    std::string currentProcedure;  // for ERROR_PROCEDURE()
    // Which tables ("schema.table", lower case) have a sql_variant column, as
    // the statements of a batch ask; forgotten at each batch and each
    // statement that may change tables.
    std::map<std::string, bool> variantTables;
    bool doomed = false; // an error under SET XACT_ABORT ON in a TRY: XACT_STATE() -1
    // Whether a running TRY block takes the error (and keeps it).
    bool catchError(const Message& m);
    Outcome runTry(Out& out, std::vector<sql::Statement>& all, std::size_t& index);
    Outcome runThrow(const sql::Statement& st, Out& out);

    // The batch loop and failed statements (session.cpp).
    void runBatch(std::string_view text, Out& out, bool outerLast = true);
    // Reports a failed statement: the ERROR, then its DONE with DONE_ERROR.
    // `abort` ends the batch; SET XACT_ABORT and SET ARITHABORT widen it.
    Outcome fail(const Message& m, Out& out, bool abort, std::uint16_t curCmd = 0);

    // Statements that go to SQLite (statements.cpp).
    Outcome runSql(const std::string& sqliteSql, const sql::Statement& st, Out& out,
                   std::uint16_t curCmd, const std::string& verb, const std::string& table,
                   bool countRows);
    Outcome failSqlite(int rc, const std::string& verb, const std::string& table, Out& out,
                       std::uint16_t curCmd = 0);
    // Prepares one statement and binds its @parameters; on failure reports
    // the error, sets `oc` and returns null.
    sqlite3_stmt* prepareBound(const std::string& sqlText, Out& out, Outcome& oc);
    std::optional<Value> evaluate(const sql::Statement& st, std::size_t first, std::size_t last,
                                  Out& out, Outcome& oc);

    // Result column types that the statement's values cannot tell (result_types.cpp).
    using TypeHints = std::vector<std::optional<ColumnType>>;
    TypeHints resultTypeHints(const sql::Statement& st);

    // Results (query.cpp).
    // Sends the result of a stepped-into SELECT; reports its errors itself.
    Outcome runQuery(sqlite3_stmt* stmt, Out& out, const TypeHints* hints = nullptr);
    // Runs a SELECT whose list is wider than SQLite's result limit; nullopt
    // when the statement is not one that can run that way.
    std::optional<Outcome> runWideQuery(std::string_view sql, const TypeHints& hints, Out& out);
    // Sends the columns and the rows of a stepped statement; with `deferred`,
    // a marker value (functions.h) fails its row with the error it stands for.
    Outcome sendResult(sqlite3_stmt* st, int rc, const std::vector<Column>& cols, Out& out,
                       const std::vector<std::string>* deferred);
    // Runs a SELECT again whose first step failed on a value, so that the
    // rows before the failing one go out first; nothing when its errors
    // cannot be placed on rows.
    std::optional<Outcome> replayFailedQuery(sqlite3_stmt* stmt, Out& out, const TypeHints* hints);
    // Sends the rows of a stepped statement: `fill` sets `values` from the
    // current row, or gives the error a value raises; ends with the
    // statement's DONE (row limit, cancel, error).
    using RowFiller = std::function<std::optional<sql::MappedError>()>;
    Outcome streamRows(sqlite3_stmt* st, int rc, const RowFiller& fill,
                       const std::vector<Value>& values, Out& out);
    bool bindParameters(sqlite3_stmt* stmt, Out& out);
    // The result columns' names and types; the types of expressions come
    // from the current row (or from `firstRow`, one value per column).
    std::vector<Column> describe(sqlite3_stmt* stmt, bool haveRow, const TypeHints* hints = nullptr,
                                 sqlite3_value* const* firstRow = nullptr);

    // What each kind of statement does (dispatch.cpp).
    std::set<std::size_t> skipElse; // ELSE statements whose IF was true
    bool breakLoop = false;
    Outcome runStatement(const sql::Statement& st, Out& out, std::vector<sql::Statement>& all,
                         std::size_t& index);
    Outcome selectInto(const sql::Translated& tr, const sql::Statement& st, Out& out);
    Outcome assignSelect(const sql::Translated& tr, Out& out);
    std::optional<Value> evaluateSql(const std::string& expr, Out& out, Outcome& oc);
    Outcome runCreate(const sql::Statement& st, Out& out);
    Outcome runDrop(const sql::Statement& st, Out& out);
    Outcome runAlter(const sql::Statement& st, Out& out);
    Outcome runSet(const sql::Statement& st, Out& out);
    Outcome runDeclare(const sql::Statement& st, Out& out);
    Outcome runRaiserror(const sql::Statement& st, Out& out);
    Outcome runWaitfor(const sql::Statement& st, Out& out);
    Outcome runIf(const sql::Statement& st, Out& out, std::vector<sql::Statement>& all,
                  std::size_t& index);
    Outcome runWhile(const sql::Statement& st, Out& out, std::vector<sql::Statement>& all,
                     std::size_t& index);

    // Transactions (transactions.cpp).
    Outcome runTransaction(const sql::Statement& st, Out& out);
    bool beginTran(Message* error);
    bool commitTran(Message* error);
    bool rollbackTran(Message* error);

    // EXEC, procedures and RPC calls (procs.cpp).
    Outcome runExec(const sql::Statement& st, std::size_t start, Out& out);
    Outcome createProcedure(const sql::Statement& st, Out& out);
    Outcome dropProcedure(const sql::Statement& st, std::size_t nameAt, bool ifExists, Out& out);
    // Binds the arguments to a stored body's declared parameters and runs it
    // with its own variables, options and temporary tables; returns its status.
    std::int32_t runStoredBody(const std::string& shownName, const std::string& declaration,
                               const std::string& body, std::vector<RpcParam>& args, Out& inner,
                               Outcome& oc);
    // Table-valued functions (table_functions.cpp): CREATE FUNCTION ...
    // RETURNS @t TABLE (...) or RETURNS TABLE AS RETURN SELECT ..., DROP
    // FUNCTION, and their calls in FROM and JOIN, which run the function into
    // a temporary table that the statement then reads (`made` names them, for
    // the caller to drop). Nothing when the statement calls none.
    Outcome createFunction(const sql::Statement& st, Out& out);
    Outcome dropFunction(const sql::Statement& st, std::size_t nameAt, bool ifExists, Out& out);
    bool splitString(const std::string& table, const std::vector<RpcParam>& args, Out& out,
                     Outcome& oc);
    std::optional<sql::Statement> expandTableFunctions(const sql::Statement& st, Out& out,
                                                       Outcome& oc, std::vector<std::string>& made);
    std::deque<std::string> madeTokenTexts; // text of tokens that rewritten statements point to
    // Scalar user functions (table_functions.cpp): while one's body runs, its
    // return type, and the value its RETURN gave.
    std::optional<ColumnType> scalarReturn;
    std::optional<Value> scalarResult;
    bool isScalarFunction(const std::string& name);
    std::optional<ColumnType> scalarFunctionType(const std::string& name);
    // Runs the function with the arguments; nothing and `error` set when it fails.
    std::optional<Value> callScalarFunction(const std::string& name, std::vector<RpcParam>& args,
                                            Message& error);
    // Temporary tables for function results and table-valued parameters:
    // "(a int, b varchar(4))" from columns, a table type's stored columns,
    // creating the table, and putting rows into it.
    static std::string columnDefinitions(const std::vector<Column>& cols);
    std::optional<std::string> tableTypeColumns(const std::string& typeName);
    Outcome createTableType(const sql::Statement& st, const std::string& name, std::size_t open,
                            Out& out);
    bool dropTableType(const std::string& name); // false when there is none
    bool createTempTable(const std::string& name, const std::string& columns, Out& out,
                         Outcome& oc);
    void insertRows(const std::string& name, const std::vector<std::vector<Value>>& rows);
    int tableFunctionCalls = 0;
    Outcome callProcedure(const std::string& name, std::vector<RpcParam>& args, Out& out);
    // Nothing when no CREATE PROCEDURE made `name` in the current database.
    std::optional<std::int32_t>
    runUserProcedure(const std::string& name, std::vector<RpcParam>& args, Out& inner, Outcome& oc);
    std::optional<std::int32_t> returnStatus; // RETURN n in the running procedure
    std::int32_t runProcedureBody(const std::string& name, std::vector<RpcParam>& args, Out& inner,
                                  Outcome& oc);
    std::int32_t executeSql(const std::string& stmt, const std::string& declaration,
                            std::vector<RpcParam>& args, std::size_t firstValue, Out& inner,
                            Outcome& oc);
    void executeRpc(const RpcCall& call, ResultSink& sink);
    // Catalog procedures (catalog_procs.cpp); false when `name` is none of them.
    bool catalogProcedure(const std::string& name, const std::vector<RpcParam>& args, Out& inner);

    // Alias types (usertypes.cpp).
    std::optional<sql::TranslateContext::AliasType> aliasType(const std::string& lowerName);
    std::optional<Message> addAliasType(const std::string& name, const std::string& base,
                                        bool notNull);
    std::optional<Message> dropAliasType(const std::string& name);
    std::optional<std::int32_t> renameProcedure(const std::string& name,
                                                const std::vector<RpcParam>& args, Out& out,
                                                Outcome& oc);
    std::optional<std::int32_t> typeProcedure(const std::string& name,
                                              const std::vector<RpcParam>& args, Out& out,
                                              Outcome& oc);
    Outcome createType(const sql::Statement& st, Out& out);
    Outcome dropType(const sql::Statement& st, std::size_t at, bool ifExists, Out& out);
    // IDENTITY_INSERT (identity.cpp): the table that has it ON ("schema.table",
    // lower case) and its name as given.
    std::string identityInsert;
    std::string identityInsertName;
    Outcome setIdentityInsert(const sql::Statement& st, Out& out);
    std::optional<std::string> identityInsertText(const sql::Statement& st,
                                                  std::optional<Message>& refused);
    std::optional<Message> timestampUpdateRefused(const sql::Statement& st);
    // Indexes: SQLite's name of the index `index` of a table ("" when it has
    // none of that name), and the table whose index has SQLite's name `index`.
    std::string indexNamed(const std::string& schema, const std::string& table,
                           const std::string& index);
    std::optional<std::string> tableOfIndex(const std::string& schema, const std::string& index);
    // Triggers (triggers.cpp). A trigger's own statements fire no triggers.
    int triggerDepth = 0;
    Outcome createTrigger(const sql::Statement& st, Out& out);
    Outcome dropTrigger(const sql::Statement& st, std::size_t at, bool ifExists, Out& out);
    void dropTriggersOf(const std::string& table);
    // Runs `statement` (an INSERT, UPDATE or DELETE of `table`) and then the
    // table's triggers for it.
    Outcome runWithTriggers(const sql::Statement& st, const std::string& table,
                            const std::function<Outcome(Out&)>& statement, Out& out);
    // ALTER TABLE t ADD/DROP CONSTRAINT, [NO]CHECK CONSTRAINT from toks[i] (constraints.cpp).
    Outcome alterColumn(const sql::Statement& st, std::size_t i,
                        const std::vector<std::string>& parts, Out& out);
    // Builds the table anew from `newSql` (its CREATE TABLE) with the rows
    // `rows` (a select list over the old table) selects; its indexes and
    // checks come back. A failure leaves the table as it was.
    Outcome createView(const sql::Statement& st, bool orAlter, Out& out);
    Outcome addDefault(const sql::Statement& st, std::size_t i, const std::string& schema,
                       const std::string& table, const std::string& createSql, Out& out);
    Outcome rebuildTable(const std::string& schema, const std::string& table,
                         const std::string& newSql, const std::string& rows, bool checkExisting,
                         Out& out);
    Outcome alterConstraints(const sql::Statement& st, std::size_t i,
                             const std::vector<std::string>& parts, Out& out);
    // Schemas (schemas.cpp): the id of a created schema, the parts of a name
    // with "s", "t" joined into the stored "s.t" when s is one.
    std::optional<std::int64_t> userSchemaId(const std::string& name);
    std::vector<std::string> storedParts(const std::vector<std::string>& parts);
    Outcome createSchema(const sql::Statement& st, Out& out);
    Outcome dropSchema(const sql::Statement& st, std::size_t at, bool ifExists, Out& out);
    // Whether a table or view exists in a SQLite schema ("" = main).
    bool tableExists(const std::string& schema, const std::string& table);

    // SQL functions registered on every connection (functions.cpp).
    void registerFunctions(sqlite3* c);
    // The text of @@VERSION and the other text globals (functions_system.cpp).
    std::string globalText(const std::string& name);
};

// Constraint names from a CREATE TABLE text, or the names SQL Server would
// make up when the text gives none (catalog.cpp).
std::string primaryKeyName(const std::string& table, const std::string& createSql);
std::string foreignKeyName(const std::string& table, const std::string& createSql,
                           const std::string& referenced);
std::string defaultKeyName(const std::string& kind, const std::string& table,
                           const std::string& other = {});

// Sends a table of values computed in C++ as a result set (query.cpp).
void sendRows(Out& out, const std::vector<Column>& cols,
              const std::vector<std::vector<Value>>& rows);
Column makeColumn(std::string name, SqlType type, int length = 0, bool nullable = true);

// Values between SQLite and the engine (query.cpp).
std::string valueText(const Value& v);
Value columnValue(sqlite3_stmt* stmt, int i);
void bindValue(sqlite3_stmt* stmt, int index, const Value& v);
// T-SQL LIKE: % _ [abc] [a-z] [^a], case-insensitive for Latin-1 letters
// (functions_text.cpp).
// T-SQL LIKE: '%', '_', '[a-c]', '[^x]' and an escape character. Characters
// compare as `collation` says, or ignoring case without one.
bool likeMatch(std::string_view pattern, std::string_view value, char32_t escape = 0,
               const sql::Collation* collation = nullptr);
// A value as a variable of `type` holds it (convert.cpp).
Variable convertTo(const ColumnType& type, const Value& v);
// The same, or the error of a value the type cannot take (245 and the like).
std::optional<Message> assignConverted(Variable& var, const ColumnType& type, const Value& v);

} // namespace tds
