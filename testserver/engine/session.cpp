// Session: logins, databases and the batch loop.

#include "testserver/engine/collation.h"
#include "testserver/engine/session_impl.h"

#include "testserver/engine/lexer.h"
#include "testserver/engine/types.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tds {

using namespace sql;

namespace {

std::atomic<int> g_nextSpid{51};

// Waits for a locked database, but gives up at once when the request is
// cancelled so that an attention is never stuck behind another session.
int busyHandler(void* arg, int count) {
    auto* impl = static_cast<Session::Impl*>(arg);
    if (impl->cancel && impl->cancel->load(std::memory_order_relaxed))
        return 0;
    if (count >= 1000) // about ten seconds
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
}

int progressHandler(void* arg) {
    auto* impl = static_cast<Session::Impl*>(arg);
    return impl->cancel && impl->cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

} // namespace

Session::Impl::Impl(const ServerConfig& c)
    : cfg(c), files(c.dataDir,
                    [this](sqlite3* conn) {
                        sqlite3_busy_handler(conn, busyHandler, this);
                        sqlite3_progress_handler(conn, 2000, progressHandler, this);
                        registerFunctions(conn);
                    }),
      spid(g_nextSpid.fetch_add(1)) {}

Session::Impl::~Impl() = default;

bool Session::Impl::use(const std::string& name, ResultSink* sink) {
    const auto actual = files.find(name);
    if (!actual)
        return false;
    sqlite3* c = files.open(*actual);
    const std::string old = db;
    db = *actual;
    conn = c;
    if (sink) {
        sink->databaseChanged(old, db);
        sink->message(infoMessage(5701, "Changed database context to '" + db + "'.", 1));
    }
    return true;
}

std::optional<std::string> Session::Impl::schemaFor(const std::string& name) {
    if (iequals(name, db))
        return std::string();
    return files.attach(conn, name);
}

Variable* Session::Impl::findVariable(const std::string& lowerName) {
    if (auto it = params.find(lowerName); it != params.end())
        return &it->second;
    if (auto it = vars.find(lowerName); it != vars.end())
        return &it->second;
    return nullptr;
}

TranslateContext Session::Impl::translateContext() {
    TranslateContext ctx;
    ctx.currentDb = db;
    ctx.isScalarFunction = [this](const std::string& name) { return isScalarFunction(name); };
    ctx.hasVariantColumn = [this](const std::string& schema, const std::string& table) {
        const std::string key = schema + "." + toLower(table);
        if (const auto it = variantTables.find(key); it != variantTables.end())
            return it->second;
        bool found = false;
        for (const auto& [name, type] : columnTypesOf(schema, table))
            found = found || type.type == SqlType::SqlVariant;
        variantTables.emplace(key, found);
        return found;
    };
    ctx.schemaFor = [this](const std::string& name) { return schemaFor(name); };
    ctx.tableVariable = [this](const std::string& var) -> std::optional<std::string> {
        const auto it = tableVars.find(var);
        if (it == tableVars.end())
            return std::nullopt;
        return quoteIdent(it->second);
    };
    ctx.textColumns = [this](const std::string& schema, const std::string& table) {
        return columnsOf(schema, table, [](const ColumnType& t) {
            return isTextType(t.type) || t.type == SqlType::UniqueIdentifier;
        });
    };
    ctx.nationalColumns = [this](const std::string& schema, const std::string& table) {
        return columnsOf(schema, table, [](const ColumnType& t) { return isNationalType(t.type); });
    };
    ctx.isTextVariable = [this](const std::string& var) {
        const Variable* v = findVariable(var);
        return v && isTextType(v->type.type);
    };
    ctx.isNationalVariable = [this](const std::string& var) {
        const Variable* v = findVariable(var);
        return v && isNationalType(v->type.type);
    };
    ctx.columnTypes = [this](const std::string& schema, const std::string& table) {
        return columnTypesOf(schema, table);
    };
    ctx.columnNames = [this](const std::string& schema, const std::string& table) {
        std::vector<std::string> names;
        const std::string q = "SELECT name FROM " +
                              (schema.empty() ? std::string() : quoteIdent(schema) + ".") +
                              "pragma_table_info(" + quoteString(table) + ") ORDER BY cid";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                names.push_back(toLower(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))));
        sqlite3_finalize(st);
        return names;
    };
    ctx.variableType = [this](const std::string& var) -> std::optional<ColumnType> {
        const Variable* v = findVariable(var);
        return v ? std::optional<ColumnType>(v->type) : std::nullopt;
    };
    ctx.aliasType = [this](const std::string& name) { return aliasType(name); };
    ctx.isUserSchema = [this](const std::string& name) { return userSchemaId(name).has_value(); };
    return ctx;
}

// Names (lower case) of the columns of a table whose declared type passes `wanted`.
std::set<std::string> Session::Impl::columnsOf(const std::string& schema, const std::string& table,
                                               bool (*wanted)(const ColumnType&)) {
    std::set<std::string> cols;
    for (const auto& [name, type] : columnTypesOf(schema, table))
        if (wanted(type))
            cols.insert(name);
    return cols;
}

// The declared types of a table's columns by lower-case name; columns whose
// declaration is no SQL Server type are left out.
std::map<std::string, ColumnType> Session::Impl::columnTypesOf(const std::string& schema,
                                                               const std::string& table) {
    std::map<std::string, ColumnType> cols;
    const std::string q = "SELECT name, type FROM " +
                          (schema.empty() ? std::string() : quoteIdent(schema) + ".") +
                          "pragma_table_info(" + quoteString(table) + ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const char* type = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
            if (auto t = parseDeclType(type ? type : "")) {
                const char* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                // Text columns: the collation they compare with.
                const char* coll = nullptr;
                if (isTextType(t->type) &&
                    sqlite3_table_column_metadata(conn, schema.empty() ? nullptr : schema.c_str(),
                                                  table.c_str(), name, nullptr, &coll, nullptr,
                                                  nullptr, nullptr) == SQLITE_OK)
                    t->collation = columnCollation(coll).name;
                cols.emplace(toLower(name), *t);
            }
        }
    }
    sqlite3_finalize(st);
    return cols;
}

// ---------------------------------------------------------------------------

Session::Session(const ServerConfig& config) : d(std::make_unique<Impl>(config)) {}

Session::~Session() = default;

LoginResult Session::login(const std::string& user, const std::string& password,
                           const std::string& database) {
    auto it = std::find_if(d->cfg.logins.begin(), d->cfg.logins.end(),
                           [&](const auto& kv) { return iequals(kv.first, user); });
    if (user.empty() || it == d->cfg.logins.end() || it->second != password) {
        LoginResult r;
        r.messages.push_back(errorMessage(18456, 14, "Login failed for user '" + user + "'."));
        return r;
    }
    return openLoginDatabase(it->first, user, database);
}

LoginResult Session::loginTrusted(const std::string& login, const std::string& account,
                                  const std::string& database) {
    const auto& known = d->cfg.windowsLogins;
    if (std::find(known.begin(), known.end(), login) == known.end()) {
        LoginResult r;
        r.messages.push_back(errorMessage(18456, 14, "Login failed for user '" + account + "'."));
        return r;
    }
    return openLoginDatabase(login, account, database);
}

LoginResult Session::openLoginDatabase(const std::string& login, const std::string& shownName,
                                       const std::string& database) {
    LoginResult r;
    const std::string wanted = database.empty() ? std::string("master") : database;
    bool opened = false;
    try {
        opened = d->use(wanted, nullptr);
    } catch (const std::exception&) {
    }
    if (!opened) {
        r.messages.push_back(errorMessage(4060, 11,
                                          "Cannot open database \"" + wanted +
                                              "\" requested by the login. The login failed."));
        r.messages.push_back(errorMessage(18456, 14, "Login failed for user '" + shownName + "'."));
        return r;
    }
    d->user = login;
    r.ok = true;
    r.database = d->db;
    r.infos.push_back(infoMessage(5701, "Changed database context to '" + d->db + "'.", 2));
    r.infos.push_back(infoMessage(5703, "Changed language setting to us_english.", 1));
    return r;
}

Message Session::integratedLoginRefused() {
    return errorMessage(18452, 14,
                        "Login failed. The login is from an untrusted domain and cannot be used "
                        "with Windows authentication.");
}

std::string Session::currentDatabase() const {
    return d->db;
}

int Session::transactionCount() const {
    return d->tranCount;
}

bool Session::connectionEnded() const {
    return d->ended;
}

void Session::executeBatch(std::string_view sqlText, ResultSink& sink,
                           const std::atomic<bool>& cancel) {
    d->cancel = &cancel;
    d->stopped = false;
    Out out{sink};
    if (!d->conn)
        d->use("master", nullptr);
    d->runBatch(sqlText, out);
    d->dropTableVariables({});
    // A batch whose last statements sent nothing (SET, DECLARE, ...) ends on
    // the DONE of the statement before them: the protocol side clears its
    // DONE_MORE when nothing follows. An extra empty DONE there would read as
    // a further, empty result, and clients that take the last result's
    // columns (bulk copy out after SET FMTONLY) would find none.
    if (!cancel.load() && !d->stopped && !out.anyDone) {
        out.last = true;
        out.done(0, 0, 0);
    }
    d->cancel = nullptr;
}

void Session::Impl::dropTableVariables(const std::map<std::string, std::string>& keep) {
    for (const auto& [name, table] : tableVars)
        if (!keep.count(name))
            sqlite3_exec(conn, ("DROP TABLE IF EXISTS temp." + quoteIdent(table)).c_str(), nullptr,
                         nullptr, nullptr);
    tableVars = keep;
}

void Session::executeRpc(const RpcCall& call, ResultSink& sink, const std::atomic<bool>& cancel) {
    d->cancel = &cancel;
    d->stopped = false;
    if (!d->conn)
        d->use("master", nullptr);
    d->executeRpc(call, sink);
    d->dropTableVariables({});
    d->cancel = nullptr;
}

// ---------------------------------------------------------------------------

Outcome Session::Impl::fail(const Message& m, Out& out, bool abort, std::uint16_t curCmd) {
    if (catchError(m))
        return Outcome::Abort;
    Message msg = m;
    msg.procName.clear();
    if (msg.line == 1)
        msg.line = statementLine;
    out.sink.message(msg);
    noteError(m.number);
    // SET ARITHABORT ON: overflow and division by zero end the batch, not
    // only the statement.
    if (options.arithAbort && (m.number == 8134 || m.number == 8115))
        abort = true;
    // SET XACT_ABORT ON: an error ends the batch and rolls back the open
    // transaction, whatever it would end otherwise.
    if (options.xactAbort && m.severity > 10) {
        abort = true;
        if (tranCount > 0)
            rollbackTran(nullptr);
    }
    if (abort) {
        out.last = true;
        out.done(DoneError, 0, curCmd);
        return Outcome::Abort;
    }
    out.done(DoneError, 0, curCmd);
    return Outcome::Failed;
}

void Session::Impl::runBatch(std::string_view text, Out& out, bool outerLast) {
    if (batchDepth == 0)
        variantTables.clear();
    ++batchDepth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{batchDepth};
    const LexResult lexed = lex(text);
    if (lexed.error) {
        out.last = true;
        fail(lexed.error->comment ? missingEndComment() : unclosedQuote(lexed.error->rest), out,
             true);
        return;
    }
    std::vector<Statement> statements = splitStatements(lexed.tokens, text);
    // Table variables the batch declares: their tables exist only once the
    // DECLARE has run, so statements that use them are checked when they run.
    std::set<std::string> declaredTables;
    for (const auto& st : statements)
        if (st.toks.size() > 2 && st.toks[0].is("declare") && st.toks[1].kind == TokKind::Variable)
            for (std::size_t k = 2; k < st.toks.size(); ++k)
                if (st.toks[k].is("table") && st.toks[k - 1].kind != TokKind::Punct)
                    declaredTables.insert(toLower(st.toks[k - 1].kind == TokKind::Variable
                                                      ? st.toks[k - 1].text
                                                      : st.toks[k - 2].text));
    // DEFAULT in an INSERT's VALUES is left out of the statement when it
    // runs (SQLite has no such item), so it is checked then.
    auto defaultInValues = [](const Statement& st) {
        if (!st.toks[0].is("insert"))
            return false;
        for (std::size_t k = 1; k < st.toks.size(); ++k)
            if (isWordTok(st.toks[k], "default") && !isWordTok(st.toks[k - 1], "values") &&
                !(k + 1 < st.toks.size() && isWordTok(st.toks[k + 1], "values")))
                return true;
        return false;
    };
    auto usesDeclaredTable = [&](const Statement& st) {
        for (const auto& t : st.toks)
            if (t.kind == TokKind::Variable && declaredTables.count(toLower(t.text)))
                return true;
        return false;
    };
    // Like SQL Server, a batch with a syntax error runs no statement at all.
    for (const auto& st : statements) {
        if (st.empty() || !st.toks[0].isAny({"select", "insert", "update", "delete", "with"}) ||
            (st.toks.size() > 1 && st.toks[0].is("update") && st.toks[1].is("statistics")) ||
            usesDeclaredTable(st) || expandGroupingSets(st) || defaultInValues(st))
            continue;
        const Translated tr = translate(st, translateContext());
        if (tr.syntaxErrorNear) {
            out.last = true;
            Message m = syntaxError(*tr.syntaxErrorNear);
            m.line = st.line;
            fail(m, out, true);
            return;
        }
        sqlite3_stmt* probe = nullptr;
        const int rc = sqlite3_prepare_v2(conn, tr.sql.c_str(), -1, &probe, nullptr);
        sqlite3_finalize(probe);
        if (rc != SQLITE_OK) {
            const std::string msg = sqlite3_errmsg(conn);
            if (msg.find("syntax error") != std::string::npos || msg == "incomplete input" ||
                msg.rfind("unrecognized token", 0) == 0) {
                ErrorContext ctx;
                ctx.table = std::string(st.toks.back().text);
                MappedError me = mapSqliteError(rc, msg, ctx);
                me.message.line = st.line;
                out.last = true;
                fail(me.message, out, true);
                return;
            }
        }
    }
    for (std::size_t i = 0; i < statements.size(); ++i) {
        if (cancel && cancel->load())
            return;
        out.last = outerLast && i + 1 == statements.size();
        const Outcome oc = runStatement(statements[i], out, statements, i);
        if (oc == Outcome::Cancelled)
            stopped = true;
        if (oc == Outcome::Abort || oc == Outcome::Cancelled || oc == Outcome::Return || stopped ||
            ended)
            return;
    }
}

} // namespace tds
