// Table-valued functions. A function is kept as the body of a procedure that
// ends by selecting its result: the multi-statement form declares its table
// variable first and selects it at every RETURN; the inline form is its
// SELECT. A call in FROM or JOIN runs that body into a temporary table before
// the statement runs, and the statement reads the table in the call's place.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/catalog.h"
#include "testserver/engine/functions.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"

#include <algorithm>
#include <utility>

namespace tds {

using namespace sql;

namespace {

using catalog::kFunctionTable;

bool hasFunctionTable(sqlite3* c) {
    return catalog::hasInternalTable(c, "__tds_functions");
}

struct StoredFunction {
    std::string name, params, body;
};

// A scalar function's body starts with this comment and its return type.
constexpr std::string_view kScalarMark = "-- returns ";

// The first statement of a function body [b, e) that changes something
// outside the function (SQL Server refuses the function with 443): INSERT,
// UPDATE or DELETE of anything but a table variable, PRINT, RAISERROR.
std::optional<std::string> sideEffect(const std::vector<Token>& toks, std::size_t b,
                                      std::size_t e) {
    // UPDATE a ... FROM @t a changes the table variable the alias names.
    auto aliasOfVariable = [&](std::size_t from, const std::string& alias) {
        for (std::size_t k = from; k + 1 < e; ++k) {
            if (toks[k].kind != TokKind::Variable)
                continue;
            std::size_t n = k + 1;
            if (isWordTok(toks[n], "as") && n + 1 < e)
                ++n;
            if (toks[n].isName() && iequals(toks[n].value(), alias))
                return true;
        }
        return false;
    };
    for (std::size_t t = b; t < e; ++t) {
        if (toks[t].kind != TokKind::Word)
            continue;
        if (toks[t].isAny({"print", "raiserror"}))
            return toUpper(toks[t].text);
        if (!toks[t].isAny({"insert", "update", "delete"}))
            continue;
        std::size_t k = t + 1;
        if (k < e && toks[k].isAny({"into", "from"}) && !toks[t].is("update"))
            ++k;
        if (k >= e || toks[k].kind == TokKind::Variable)
            continue;
        if (!toks[t].is("insert") && toks[k].isName() && aliasOfVariable(k + 1, toks[k].value()))
            continue;
        return toUpper(toks[t].text);
    }
    return std::nullopt;
}

Message sideEffectRefused(const std::string& op) {
    return errorMessage(443, 16,
                        "Invalid use of a side-effecting operator '" + op + "' within a function.");
}

std::optional<StoredFunction> findFunction(sqlite3* c, const std::string& name) {
    std::optional<StoredFunction> f;
    sqlite3_stmt* st = nullptr;
    const std::string q =
        std::string("SELECT name, params, body FROM ") + kFunctionTable + " WHERE name = ?1";
    if (sqlite3_prepare_v2(c, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW)
            f = StoredFunction{catalog::text(st, 0), catalog::text(st, 1), catalog::text(st, 2)};
    }
    sqlite3_finalize(st);
    return f;
}

// Keeps what a function's body returns; messages go on to the client.
class CaptureSink : public ResultSink {
public:
    explicit CaptureSink(ResultSink& client) : m_client(client) {}
    void columns(const std::vector<Column>& cols) override {
        this->cols = cols;
        rows.clear();
    }
    bool row(const std::vector<Value>& values) override {
        rows.push_back(values);
        return true;
    }
    void done(DoneKind, std::uint16_t, std::uint64_t, std::uint16_t) override {}
    void message(const Message& m) override { m_client.message(m); }
    void databaseChanged(const std::string&, const std::string&) override {}
    void returnStatus(std::int32_t) override {}
    void returnValue(const std::string&, const ColumnType&, const Value&, bool) override {}

    std::vector<Column> cols;
    std::vector<std::vector<Value>> rows;

private:
    ResultSink& m_client;
};

std::string source(const Statement& st, std::size_t a, std::size_t b) {
    if (a >= b)
        return {};
    const Token& last = st.toks[b - 1];
    return std::string(
        st.source.substr(st.toks[a].pos, last.pos + last.text.size() - st.toks[a].pos));
}

// Keeps a scalar function's first error; a function sends nothing.
class FunctionSink : public ResultSink {
public:
    void columns(const std::vector<Column>&) override {}
    bool row(const std::vector<Value>&) override { return true; }
    void done(DoneKind, std::uint16_t, std::uint64_t, std::uint16_t) override {}
    void message(const Message& m) override {
        if (m.severity > 10 && !error)
            error = m;
    }
    void databaseChanged(const std::string&, const std::string&) override {}
    void returnStatus(std::int32_t) override {}
    void returnValue(const std::string&, const ColumnType&, const Value&, bool) override {}

    std::optional<Message> error;
};

} // namespace

bool Session::Impl::isScalarFunction(const std::string& name) {
    if (!hasFunctionTable(conn))
        return false;
    const auto f = findFunction(conn, name);
    return f && f->body.starts_with(kScalarMark);
}

std::optional<ColumnType> Session::Impl::scalarFunctionType(const std::string& name) {
    if (!hasFunctionTable(conn))
        return std::nullopt;
    const auto f = findFunction(conn, name);
    if (!f || !f->body.starts_with(kScalarMark))
        return std::nullopt;
    const std::size_t eol = f->body.find('\n');
    return parseDeclType(f->body.substr(kScalarMark.size(), eol - kScalarMark.size()));
}

std::optional<Value> Session::Impl::callScalarFunction(const std::string& name,
                                                       std::vector<RpcParam>& args,
                                                       Message& error) {
    const auto f = findFunction(conn, name);
    if (!f || !f->body.starts_with(kScalarMark)) {
        error = errorMessage(4121, 16,
                             "Cannot find either column \"dbo\" or the user-defined function or "
                             "aggregate \"dbo." +
                                 name + "\", or the name is ambiguous.");
        return std::nullopt;
    }
    const auto type = scalarFunctionType(name);
    FunctionSink sink;
    Out inner{sink};
    inner.inProc = true;
    // An error in the body fails the calling statement, which a TRY around
    // it may then catch; the body itself runs outside the TRY.
    const int savedTryDepth = std::exchange(tryDepth, 0);
    const auto savedReturn = std::exchange(scalarReturn, type);
    const auto savedResult = std::exchange(scalarResult, std::nullopt);
    const int savedLine = statementLine;
    Outcome oc = Outcome::Ok;
    runStoredBody(f->name, f->params, f->body, args, inner, oc);
    std::optional<Value> value = std::exchange(scalarResult, savedResult);
    scalarReturn = savedReturn;
    tryDepth = savedTryDepth;
    statementLine = savedLine;
    if (sink.error) {
        error = *sink.error;
        return std::nullopt;
    }
    return value ? *value : Value{Null{}};
}

namespace sqlfn {

namespace {

// tds_udf(name, args...): a call of a scalar user function.
void sqlUserFunction(sqlite3_context* ctx, int n, sqlite3_value** a) {
    Session::Impl* d = implOf(ctx);
    std::vector<RpcParam> args;
    for (int k = 1; k < n; ++k) {
        RpcParam p;
        p.value = argValue(a[k]);
        p.type.type = sqlite3_value_type(a[k]) == SQLITE_TEXT ? SqlType::VarChar : p.type.type;
        args.push_back(p);
    }
    Message error;
    const auto v = d->callScalarFunction(text(a[0]), args, error);
    if (!v)
        return resultError(ctx, error.number, error.severity, error.text);
    result(ctx, *v);
}

const FunctionDef functions[] = {
    {"tds_udf", -1, sqlUserFunction, false},
};

} // namespace

std::span<const FunctionDef> userFunctions() {
    return functions;
}

} // namespace sqlfn

std::string Session::Impl::columnDefinitions(const std::vector<Column>& cols) {
    std::string s = "(";
    for (std::size_t c = 0; c < cols.size(); ++c)
        s += (c ? ", " : "") + quoteIdent(cols[c].name) + " " + typeName(cols[c].type);
    return s + ")";
}

std::optional<std::string> Session::Impl::tableTypeColumns(const std::string& typeName) {
    std::optional<std::string> columns;
    if (!catalog::hasInternalTable(conn, "__tds_table_types"))
        return columns;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(conn, "SELECT columns FROM main.__tds_table_types WHERE name = ?1", -1,
                           &st, nullptr) == SQLITE_OK) {
        // "dbo.T" is T; "s.T" is stored under that name.
        const std::string key =
            iequals(typeName.substr(0, 4), "dbo.") ? typeName.substr(4) : typeName;
        sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW)
            columns = catalog::text(st, 0);
    }
    sqlite3_finalize(st);
    return columns;
}

bool Session::Impl::createTempTable(const std::string& name, const std::string& columns, Out& out,
                                    Outcome& oc) {
    // As DECLARE @t TABLE (...) makes its table.
    const std::string text = "CREATE TABLE " + quoteIdent(name) + " " + columns;
    const LexResult lx = lex(text);
    const auto parts = splitStatements(lx.tokens, text);
    if (lx.error || parts.size() != 1) {
        oc = fail(syntaxError(columns), out, true);
        return false;
    }
    const Translated tr = translateCreateTable(parts[0], translateContext());
    if (tr.syntaxErrorNear) {
        oc = fail(syntaxError(*tr.syntaxErrorNear), out, true);
        return false;
    }
    std::string create = tr.sql;
    if (create.rfind("CREATE TEMP TABLE ", 0) != 0)
        create = "CREATE TEMP TABLE " + create.substr(std::string("CREATE TABLE ").size());
    if (sqlite3_exec(conn, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        oc = failSqlite(sqlite3_extended_errcode(conn), "DECLARE", name, out);
        return false;
    }
    return true;
}

void Session::Impl::insertRows(const std::string& name,
                               const std::vector<std::vector<Value>>& rows) {
    if (rows.empty())
        return;
    std::string insert = "INSERT INTO temp." + quoteIdent(name) + " VALUES (";
    for (std::size_t c = 0; c < rows[0].size(); ++c)
        insert += c ? ", ?" : "?";
    insert += ")";
    sqlite3_stmt* ins = nullptr;
    if (sqlite3_prepare_v2(conn, insert.c_str(), -1, &ins, nullptr) == SQLITE_OK) {
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                bindValue(ins, int(c + 1), row[c]);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
    }
    sqlite3_finalize(ins);
}

Outcome Session::Impl::createFunction(const Statement& st, Out& out) {
    const auto& toks = st.toks;
    std::size_t i = 1;
    bool orAlter = false;
    if (i + 1 < toks.size() && toks[i].is("or") && toks[i + 1].is("alter")) {
        orAlter = true;
        i += 2;
    }
    const bool alter = toks[0].is("alter");
    ++i; // FUNCTION
    const std::size_t nameAt = i;
    const auto parts = readObjectName(toks, i);
    if (!parts || parts->back().empty() || i >= toks.size() || !isPunctTok(toks[i], '('))
        return fail(syntaxError(std::string(toks[std::min(nameAt, toks.size() - 1)].text)), out,
                    true);
    const std::string name = storedParts(*parts).back();
    const std::size_t close = matchingParen(toks, i, toks.size());
    if (close + 2 >= toks.size() || !toks[close + 1].is("returns"))
        return fail(syntaxError(std::string(toks.back().text)), out, true);
    const std::string declaration = source(st, i + 1, close);
    std::size_t k = close + 2;
    std::string body;
    auto asAt = [&](std::size_t from) {
        while (from < toks.size() && !isWordTok(toks[from], "as"))
            ++from; // WITH SCHEMABINDING and the like change nothing here
        return from;
    };
    if (toks[k].kind == TokKind::Variable && k + 2 < toks.size() && toks[k + 1].is("table") &&
        isPunctTok(toks[k + 2], '(')) {
        // RETURNS @t TABLE (columns) AS BEGIN ... RETURN END
        const std::string var = std::string(toks[k].text);
        const std::size_t colsEnd = matchingParen(toks, k + 2, toks.size());
        const std::string columns = source(st, k + 2, colsEnd + 1);
        std::size_t b = asAt(colsEnd + 1) + 1;
        std::size_t e = toks.size();
        if (b < e && toks[b].is("begin") && toks[e - 1].is("end")) {
            ++b;
            --e;
        }
        if (const auto op = sideEffect(toks, b, e))
            return fail(sideEffectRefused(*op), out, false);
        const std::string select = "; SELECT * FROM " + var + "; ";
        body = "DECLARE " + var + " TABLE " + columns + "\n";
        std::size_t from = b;
        for (std::size_t t = b; t < e; ++t)
            if (isWordTok(toks[t], "return")) {
                body += source(st, from, t) + select;
                from = t;
            }
        body += source(st, from, e);
        if (from == b)
            body += select;
    } else if (toks[k].is("table")) {
        // RETURNS TABLE AS RETURN [(] SELECT ... [)]
        std::size_t b = asAt(k + 1) + 1;
        if (b >= toks.size() || !toks[b].is("return"))
            return fail(syntaxError(std::string(toks[std::min(b, toks.size() - 1)].text)), out,
                        true);
        ++b;
        std::size_t e = toks.size();
        if (b < e && isPunctTok(toks[b], '(') && matchingParen(toks, b, e) == e - 1) {
            ++b;
            --e;
        }
        body = source(st, b, e);
    } else {
        // RETURNS type [WITH ...] AS BEGIN ... RETURN expr END
        std::size_t typeEnd = k;
        while (typeEnd < toks.size() && !toks[typeEnd].isAny({"with", "as"}))
            ++typeEnd;
        std::string typeText;
        for (std::size_t t = k; t < typeEnd; ++t)
            typeText += toks[t].is("max") ? std::string("-1") : std::string(toks[t].text);
        if (!parseDeclType(typeText))
            return fail(errorMessage(2715, 16,
                                     "Column, parameter, or variable #0: Cannot find data type " +
                                         source(st, k, typeEnd) + ".",
                                     3),
                        out, false);
        std::size_t b = asAt(typeEnd) + 1;
        std::size_t e = toks.size();
        if (b >= e || !toks[b].is("begin") || !toks[e - 1].is("end"))
            return fail(syntaxError(std::string(toks[std::min(b, e - 1)].text)), out, true);
        if (std::none_of(toks.begin() + std::ptrdiff_t(b), toks.end(),
                         [](const Token& t) { return isWordTok(t, "return"); }))
            return fail(errorMessage(455, 16,
                                     "The last statement included within a function must be a "
                                     "return statement."),
                        out, false);
        if (const auto op = sideEffect(toks, b + 1, e - 1))
            return fail(sideEffectRefused(*op), out, false);
        body = std::string(kScalarMark) + typeText + "\n" + source(st, b + 1, e - 1);
    }
    sqlite3_exec(conn,
                 (std::string("CREATE TABLE IF NOT EXISTS ") + kFunctionTable +
                  " (name TEXT NOT NULL UNIQUE COLLATE NOCASE, params TEXT NOT NULL, body TEXT "
                  "NOT NULL)")
                     .c_str(),
                 nullptr, nullptr, nullptr);
    const bool exists = findFunction(conn, name).has_value();
    if (!exists && alter)
        return fail(errorMessage(208, 16, "Invalid object name '" + name + "'."), out, false);
    bool taken = exists && !alter && !orAlter;
    if (!exists)
        catalog::query(conn,
                       "SELECT 1 FROM main.sqlite_master WHERE name = " + quoteString(name) +
                           " COLLATE NOCASE",
                       [&](sqlite3_stmt*) { taken = true; });
    if (taken)
        return fail(errorMessage(2714, 16,
                                 "There is already an object named '" + name + "' in the database.",
                                 3),
                    out, false);
    const std::string q = std::string("INSERT OR REPLACE INTO ") + kFunctionTable +
                          " (name, params, body) VALUES (?1, ?2, ?3)";
    if (catalog::execWithTexts(conn, q, name, declaration, body) != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE FUNCTION", name, out);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

Outcome Session::Impl::dropFunction(const Statement& st, std::size_t nameAt, bool ifExists,
                                    Out& out) {
    std::size_t i = nameAt;
    const auto parts = readObjectName(st.toks, i);
    if (!parts || i != st.toks.size())
        return fail(syntaxError(std::string(st.toks[std::min(i, st.toks.size() - 1)].text)), out,
                    true);
    const std::string name = storedParts(*parts).back();
    int changes = 0;
    if (hasFunctionTable(conn)) {
        sqlite3_stmt* del = nullptr;
        const std::string q = std::string("DELETE FROM ") + kFunctionTable + " WHERE name = ?1";
        if (sqlite3_prepare_v2(conn, q.c_str(), -1, &del, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(del, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(del) == SQLITE_DONE)
                changes = sqlite3_changes(conn);
        }
        sqlite3_finalize(del);
    }
    if (!changes && !ifExists)
        return fail(errorMessage(3701, 11,
                                 "Cannot drop the function '" + name +
                                     "', because it does not exist or you do not have permission."),
                    out, false);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

std::optional<Statement> Session::Impl::expandTableFunctions(const Statement& st, Out& out,
                                                             Outcome& oc,
                                                             std::vector<std::string>& made) {
    oc = Outcome::Ok;
    const auto& toks = st.toks;
    bool candidate = false;
    for (std::size_t i = 0; i + 2 < toks.size() && !candidate; ++i)
        candidate = toks[i].isAny({"from", "join"}) && toks[i + 1].isName();
    const bool functions = hasFunctionTable(conn);
    if (!candidate)
        return std::nullopt;
    Statement result = st;
    bool changed = false;
    for (std::size_t i = 0; i + 2 < result.toks.size(); ++i) {
        if (!result.toks[i].isAny({"from", "join"}) || !result.toks[i + 1].isName())
            continue;
        std::size_t at = i + 1;
        const auto parts = readObjectName(result.toks, at);
        if (!parts || at >= result.toks.size() || !isPunctTok(result.toks[at], '('))
            continue;
        const bool split = parts->size() == 1 && iequals(parts->back(), "string_split");
        const auto f = !split && functions ? findFunction(conn, parts->back()) : std::nullopt;
        if (!split && !f)
            continue;
        const std::size_t close = matchingParen(result.toks, at, result.toks.size());
        if (close >= result.toks.size())
            continue;
        std::vector<RpcParam> args;
        std::size_t start = at + 1;
        int depth = 0;
        for (std::size_t k = at + 1; k <= close; ++k) {
            const Token& t = result.toks[k];
            if (isPunctTok(t, '('))
                ++depth;
            else if (isPunctTok(t, ')') && depth > 0)
                --depth;
            else if (depth == 0 && (isPunctTok(t, ',') || k == close)) {
                if (k > start) {
                    const auto v = evaluate(result, start, k, out, oc);
                    if (!v)
                        return std::nullopt;
                    RpcParam p;
                    p.value = *v;
                    args.push_back(p);
                }
                start = k + 1;
            }
        }
        std::string table;
        if (split) {
            table = "#tds_function_" + std::to_string(++tableFunctionCalls);
            if (!splitString(table, args, out, oc))
                return std::nullopt;
        } else {
            CaptureSink capture(out.sink);
            Out inner{capture};
            inner.inProc = true;
            runStoredBody(f->name, f->params, f->body, args, inner, oc);
            if (oc != Outcome::Ok || capture.cols.empty()) {
                if (oc == Outcome::Ok)
                    oc = fail(invalidObject(f->name), out, true);
                return std::nullopt;
            }
            // The rows into a temporary table of the function's columns.
            table = "#tds_function_" + std::to_string(++tableFunctionCalls);
            if (!createTempTable(table, columnDefinitions(capture.cols), out, oc))
                return std::nullopt;
            insertRows(table, capture.rows);
        }
        made.push_back(table);
        // The call's tokens give way to the table's name.
        madeTokenTexts.push_back(quoteIdent(table));
        Token name;
        name.kind = TokKind::Quoted;
        name.text = madeTokenTexts.back();
        name.pos = std::string::npos / 2;
        result.toks.erase(result.toks.begin() + std::ptrdiff_t(i + 1),
                          result.toks.begin() + std::ptrdiff_t(close + 1));
        result.toks.insert(result.toks.begin() + std::ptrdiff_t(i + 1), name);
        changed = true;
    }
    if (!changed)
        return std::nullopt;
    return result;
}

// STRING_SPLIT(text, separator [, enable_ordinal]): a table of the pieces
// (value; with ordinal, their places from 1). The separator is one character.
bool Session::Impl::splitString(const std::string& table, const std::vector<RpcParam>& args,
                                Out& out, Outcome& oc) {
    if (args.size() < 2 || args.size() > 3) {
        oc = fail(errorMessage(174, 15, "The string_split function requires 2 or 3 argument(s)."),
                  out, true);
        return false;
    }
    const bool isNull = std::holds_alternative<Null>(args[0].value);
    const std::string text = isNull ? std::string() : valueText(args[0].value);
    const std::string separator =
        std::holds_alternative<Null>(args[1].value) ? std::string() : valueText(args[1].value);
    if (sql::utf16Length(separator) != 1) {
        oc = fail(errorMessage(214, 16,
                               "Procedure expects parameter 'separator' of type "
                               "'nchar(1)/nvarchar(1)'."),
                  out, false);
        return false;
    }
    const bool ordinal = args.size() == 3 && valueText(args[2].value) == "1";
    if (!createTempTable(table,
                         ordinal ? "(value nvarchar(4000), ordinal bigint NOT NULL)"
                                 : "(value nvarchar(4000))",
                         out, oc))
        return false;
    std::vector<std::vector<Value>> rows;
    if (!isNull) {
        std::size_t from = 0;
        for (std::int64_t n = 1;; ++n) {
            const std::size_t at = text.find(separator, from);
            std::vector<Value> row{text.substr(from, at == std::string::npos ? at : at - from)};
            if (ordinal)
                row.push_back(n);
            rows.push_back(std::move(row));
            if (at == std::string::npos)
                break;
            from = at + separator.size();
        }
    }
    insertRows(table, rows);
    return true;
}

} // namespace tds
