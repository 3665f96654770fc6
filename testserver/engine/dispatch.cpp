// What each kind of statement does.

#include "testserver/engine/catalog.h"
#include "testserver/engine/session_impl.h"

#include "testserver/engine/decimal.h"
#include "testserver/engine/functions.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"
#include "testserver/engine/variant_expressions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace tds {

using namespace sql;

namespace {

// Top-level comma-separated ranges of tokens [first, last).
std::vector<std::pair<std::size_t, std::size_t>> commaList(const std::vector<Token>& toks,
                                                           std::size_t first, std::size_t last) {
    std::vector<std::pair<std::size_t, std::size_t>> r;
    int d = 0;
    std::size_t start = first;
    for (std::size_t k = first; k < last; ++k) {
        if (isPunctTok(toks[k], '('))
            ++d;
        else if (isPunctTok(toks[k], ')'))
            --d;
        else if (d == 0 && isPunctTok(toks[k], ',')) {
            r.emplace_back(start, k);
            start = k + 1;
        }
    }
    if (last > start)
        r.emplace_back(start, last);
    return r;
}

std::string statementVerb(const Statement& st) {
    if (st.toks.size() > 1 && st.toks[0].isAny({"drop", "create", "alter"}))
        return toUpper(st.toks[0].text) + " " + toUpper(st.toks[1].text);
    return st.empty() ? std::string() : toUpper(st.toks[0].text);
}

std::string targetOf(const Statement& st) {
    std::size_t i = 1;
    while (i < st.toks.size() && st.toks[i].kind == TokKind::Word &&
           st.toks[i].isAny(
               {"into", "from", "table", "view", "index", "unique", "clustered", "nonclustered"}))
        ++i;
    if (i < st.toks.size() && isWordTok(st.toks[i], "top")) {
        ++i;
        if (i < st.toks.size() && isPunctTok(st.toks[i], '('))
            i = matchingParen(st.toks, i, st.toks.size()) + 1;
        else
            ++i;
        while (i < st.toks.size() && st.toks[i].kind == TokKind::Word &&
               st.toks[i].isAny({"from", "into"}))
            ++i;
    }
    if (auto parts = readObjectName(st.toks, i))
        return parts->back();
    return {};
}

// The table an INSERT, UPDATE or DELETE changes: UPDATE a SET ... FROM t a
// changes t.
std::string dmlTarget(const Statement& st) {
    const std::string named = targetOf(st);
    if (!st.toks[0].isAny({"update", "delete"}))
        return named;
    for (std::size_t i = 1; i + 1 < st.toks.size(); ++i) {
        if (!isWordTok(st.toks[i], "from") || (st.toks[0].is("delete") && i == 1))
            continue;
        // FROM t alias, ...: the item whose alias is the named target.
        for (std::size_t k = i + 1; k + 1 < st.toks.size(); ++k) {
            if (st.toks[k].isName() && st.toks[k + 1].isName() &&
                iequals(st.toks[k + 1].value(), named))
                return st.toks[k].value();
            if (st.toks[k].isName() && k + 2 < st.toks.size() && isWordTok(st.toks[k + 1], "as") &&
                iequals(st.toks[k + 2].value(), named))
                return st.toks[k].value();
        }
    }
    return named;
}

// RAISERROR's printf-style substitution: %s %d %i %u %x %X %o and %%, with
// flags, width and precision.
std::string formatMessage(const std::string& fmt, const std::vector<Value>& args) {
    std::string out;
    std::size_t arg = 0;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%' || i + 1 >= fmt.size()) {
            out += fmt[i];
            continue;
        }
        if (fmt[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::string conversionText = "%";
        while (j < fmt.size() && std::string_view("-+ 0#").find(fmt[j]) != std::string_view::npos)
            conversionText += fmt[j++];
        while (j < fmt.size() &&
               (std::isdigit(static_cast<unsigned char>(fmt[j])) || fmt[j] == '.' || fmt[j] == '*'))
            conversionText += fmt[j++];
        if (j < fmt.size() && (fmt[j] == 'l' || fmt[j] == 'h'))
            ++j; // size prefixes change nothing here
        if (j >= fmt.size()) {
            out += fmt.substr(i);
            break;
        }
        const char conv = fmt[j];
        const Value v = arg < args.size() ? args[arg] : Value{Null{}};
        char buf[512];
        if (conv == 's') {
            const std::string s =
                std::holds_alternative<Null>(v) ? std::string("(null)") : valueText(v);
            std::snprintf(buf, sizeof buf, (conversionText + "s").c_str(), s.c_str());
            out += buf;
            ++arg;
        } else if (std::string_view("diuxXo").find(conv) != std::string_view::npos) {
            long long n = 0;
            if (const auto* p = std::get_if<std::int64_t>(&v))
                n = *p;
            else if (const auto* d = std::get_if<double>(&v))
                n = static_cast<long long>(*d);
            else if (const auto* s = std::get_if<std::string>(&v))
                n = std::atoll(s->c_str());
            if (std::holds_alternative<Null>(v)) {
                out += "(null)";
            } else {
                std::snprintf(buf, sizeof buf, (conversionText + "ll" + conv).c_str(), n);
                out += buf;
            }
            ++arg;
        } else {
            out += fmt.substr(i, j - i + 1);
        }
        i = j;
    }
    return out;
}

// Extent of the statement at `i` as the body of IF/ELSE/WHILE: a single
// statement, a BEGIN ... END block, or an IF with its branches.
std::size_t bodyEnd(const std::vector<Statement>& all, std::size_t i) {
    if (i >= all.size())
        return i;
    const Statement& s = all[i];
    if (isWordTok(s.toks[0], "begin") && s.toks.size() == 1) {
        int depth = 0;
        for (std::size_t k = i; k < all.size(); ++k) {
            const Statement& t = all[k];
            if (isWordTok(t.toks[0], "begin") && t.toks.size() == 1)
                ++depth;
            else if (isWordTok(t.toks[0], "end") && t.toks.size() == 1 && --depth == 0)
                return k + 1;
        }
        return all.size();
    }
    if (s.toks.size() == 2 && isWordTok(s.toks[0], "begin") && isWordTok(s.toks[1], "try")) {
        // BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH as one statement.
        auto close = [&](std::size_t open, std::string_view kind) {
            int depth = 0;
            for (std::size_t k = open; k < all.size(); ++k) {
                const Statement& t = all[k];
                if (t.toks.size() != 2 || !isWordTok(t.toks[1], kind))
                    continue;
                if (isWordTok(t.toks[0], "begin"))
                    ++depth;
                else if (isWordTok(t.toks[0], "end") && --depth == 0)
                    return k;
            }
            return all.size();
        };
        return std::min(all.size(), close(close(i, "try") + 1, "catch") + 1);
    }
    if (isWordTok(s.toks[0], "if") || isWordTok(s.toks[0], "while")) {
        std::size_t e = bodyEnd(all, i + 1);
        if (isWordTok(s.toks[0], "if") && e < all.size() && isWordTok(all[e].toks[0], "else"))
            e = bodyEnd(all, e + 1);
        return e;
    }
    return i + 1;
}

} // namespace

Outcome Session::Impl::runStatement(const Statement& st, Out& out, std::vector<Statement>& all,
                                    std::size_t& index) {
    // @@ERROR: the error of the last statement, 0 after one without. The
    // BEGIN and END of a block are no statements of their own.
    struct ErrorOfStatement {
        Session::Impl& d;
        bool block;
        std::uint64_t seq = d.errorSeq;
        ~ErrorOfStatement() {
            if (d.errorSeq == seq && !block)
                d.lastError = 0;
        }
    } errorOfStatement{*this, st.toks.size() == 1 && st.toks[0].isAny({"begin", "end"})};
    const Token& w = st.toks[0];
    const std::string verb = statementVerb(st);
    statementLine = st.line;
    if (w.isAny({"create", "alter", "drop", "use", "rollback", "exec", "execute"}) ||
        (w.is("select") && std::any_of(st.toks.begin(), st.toks.end(),
                                       [](const Token& t) { return isWordTok(t, "into"); })))
        variantTables.clear();
    if (w.isAny({"select", "with", "insert", "update", "delete"})) {
        // Calls of table-valued functions: the statement reads their rows from
        // temporary tables, dropped when it is done.
        std::vector<std::string> made;
        Outcome oc = Outcome::Ok;
        const auto expanded = expandTableFunctions(st, out, oc, made);
        Outcome result = oc;
        if (oc == Outcome::Ok && expanded)
            result = runStatement(*expanded, out, all, index);
        for (const auto& t : made)
            sqlite3_exec(conn, ("DROP TABLE IF EXISTS temp." + quoteIdent(t)).c_str(), nullptr,
                         nullptr, nullptr);
        if (oc != Outcome::Ok || expanded)
            return result;
    }
    auto ctx = translateContext();

    auto translated = [&](const Translated& tr, std::uint16_t curCmd, bool count) {
        if (tr.syntaxErrorNear)
            return fail(syntaxError(*tr.syntaxErrorNear), out, true);
        if (tr.error)
            return fail(*tr.error, out, true);
        refreshSystemViews(tr.systemObjects);
        if (curCmd == 0xC1 || curCmd == 0xC6)
            return runSql(tr.sql, st, out, curCmd, verb, targetOf(st), count);
        return runWithTriggers(
            st, dmlTarget(st),
            [&](Out& o) { return runSql(tr.sql, st, o, curCmd, verb, targetOf(st), count); }, out);
    };

    if (w.isAny({"select", "with"}) || isPunctTok(w, '(')) {
        if (const auto sets = expandGroupingSets(st)) {
            Statement expanded;
            expanded.toks = significantTokens(*sets);
            expanded.line = st.line;
            expanded.source = *sets;
            const Translated tr = translate(expanded, ctx);
            if (tr.syntaxErrorNear)
                return fail(syntaxError(*tr.syntaxErrorNear), out, true);
            refreshSystemViews(tr.systemObjects);
            return runSql(tr.sql, expanded, out, 0xC1, "SELECT", {}, false);
        }
        Translated tr = translate(st, ctx);
        if (tr.syntaxErrorNear)
            return fail(syntaxError(*tr.syntaxErrorNear), out, true);
        if (tr.error)
            return fail(*tr.error, out, true);
        refreshSystemViews(tr.systemObjects);
        if (tr.intoTable)
            return selectInto(tr, st, out);
        if (!tr.assignTo.empty())
            return assignSelect(tr, out);
        return runSql(tr.sql, st, out, 0xC1, "SELECT", {}, false);
    }
    if (w.is("update") && st.toks.size() > 1 && isWordTok(st.toks[1], "statistics")) {
        // Statistics are SQLite's business; the table must exist all the same.
        std::size_t at = 2;
        const auto parts = readObjectName(st.toks, at);
        if (!parts)
            return fail(syntaxError(std::string(st.toks.back().text)), out, true);
        if (!tableExists(schemaOfName(*parts), parts->back()))
            return fail(invalidObject(parts->back()), out, true);
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    if (w.isAny({"insert", "update", "delete"})) {
        for (const auto& t : st.toks)
            if (t.isAny({"exec", "execute"}) && w.is("insert"))
                return fail(
                    errorMessage(50000, 16, "INSERT ... EXEC is not supported by this server."),
                    out, false);
        if (w.is("insert")) {
            std::optional<Message> refused;
            const auto text = identityInsertText(st, refused);
            if (refused)
                return fail(*refused, out, false);
            if (text) {
                Statement implied;
                implied.toks = significantTokens(*text);
                implied.line = st.line;
                implied.source = *text;
                return translated(translate(implied, ctx), 0xC3, true);
            }
        }
        if (w.is("update"))
            if (const auto refused = timestampUpdateRefused(st))
                return fail(*refused, out, false);
        const std::uint16_t cmd = w.is("insert") ? 0xC3 : w.is("delete") ? 0xC4 : 0xC5;
        return translated(translate(st, ctx), cmd, true);
    }
    if (w.is("create"))
        return runCreate(st, out);
    if (w.is("drop"))
        return runDrop(st, out);
    if (w.is("alter"))
        return runAlter(st, out);
    if (w.is("truncate")) {
        std::size_t i = 1;
        if (i < st.toks.size() && isWordTok(st.toks[i], "table"))
            ++i;
        const Translated tr = translate(st, ctx, i, st.toks.size());
        const Outcome oc =
            runSql("DELETE FROM " + tr.sql, st, out, 0xC4, "TRUNCATE", tr.sql, false);
        return oc;
    }
    if (w.is("use")) {
        if (st.toks.size() != 2)
            return fail(
                syntaxError(st.toks.size() > 2 ? std::string(st.toks[2].text) : std::string("use")),
                out, true);
        const std::string name = st.toks[1].value();
        if (!use(name, &out.sink))
            return fail(unknownDatabase(name), out, false);
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    if (w.is("set"))
        return runSet(st, out);
    if (w.is("declare"))
        return runDeclare(st, out);
    if (w.is("print")) {
        Outcome oc;
        const auto v = evaluate(st, 1, st.toks.size(), out, oc);
        if (!v)
            return oc;
        Message m = infoMessage(0, valueText(*v), 1, 0);
        m.line = st.line;
        out.sink.message(m);
        return Outcome::Ok;
    }
    if (w.is("raiserror"))
        return runRaiserror(st, out);
    if (w.is("begin") && st.toks.size() == 2 && st.toks[1].is("try"))
        return runTry(out, all, index);
    if (w.is("throw"))
        return runThrow(st, out);
    if (w.isAny({"begin", "commit", "rollback", "save"}))
        return runTransaction(st, out);
    if (w.is("waitfor"))
        return runWaitfor(st, out);
    if (w.isAny({"exec", "execute"}))
        return runExec(st, 1, out);
    if (w.isAny({"if", "else"}))
        return runIf(st, out, all, index);
    if (w.is("while"))
        return runWhile(st, out, all, index);
    if (w.is("end") || w.isAny({"checkpoint", "grant", "revoke", "deny"}))
        return Outcome::Ok;
    if (w.is("break")) {
        breakLoop = true;
        return Outcome::Return;
    }
    if (w.is("continue"))
        return Outcome::Return;
    if (w.is("return")) {
        // RETURN expr of a scalar function: its value, in its return type.
        if (scalarReturn) {
            Outcome oc;
            const auto v = evaluate(st, 1, st.toks.size(), out, oc);
            if (!v)
                return oc;
            Variable result;
            if (const auto err = assignConverted(result, *scalarReturn, *v))
                return fail(*err, out, true);
            // Exact numbers round to their scale; up to 15 digits they are
            // numbers for SQLite, so that they compare with other numbers.
            if (isExactNumericType(scalarReturn->type)) {
                const int scale = scalarReturn->type == SqlType::Decimal ? scalarReturn->scale : 4;
                if (const auto d = decimalFromValue(result.value, scale)) {
                    const std::string exact = formatDecimal(*d, scale);
                    if (decimalDigits(d->magnitude) > 15)
                        result.value = exact;
                    else if (scale == 0)
                        result.value = std::int64_t(std::stoll(exact));
                    else
                        result.value = std::stod(exact);
                }
            }
            scalarResult = result.value;
            return Outcome::Return;
        }
        // RETURN n: the status of the running procedure.
        if (st.toks.size() > 1) {
            Outcome oc;
            const auto v = evaluate(st, 1, st.toks.size(), out, oc);
            if (!v)
                return oc;
            if (const auto* n = std::get_if<std::int64_t>(&*v))
                returnStatus = static_cast<std::int32_t>(*n);
            else if (const auto* d = std::get_if<double>(&*v))
                returnStatus = static_cast<std::int32_t>(*d);
        }
        return Outcome::Return;
    }
    if (w.is("dbcc")) {
        out.sink.message(infoMessage(2528, "DBCC execution completed. If DBCC printed error "
                                           "messages, contact your system administrator."));
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    // A procedure named without EXEC: allowed as the first statement.
    if (index == 0 && w.isName())
        return runExec(st, 0, out);
    return fail(syntaxError(std::string(w.text)), out, true);
}

// IF cond runs the statement (or block) that follows when cond holds, else
// skips to its ELSE; an ELSE reached after a true IF skips its own statement.
Outcome Session::Impl::runIf(const Statement& st, Out& out, std::vector<Statement>& all,
                             std::size_t& index) {
    const Token& w = st.toks[0];
    auto ctx = translateContext();
    if (w.is("if")) {
        Outcome oc;
        const Translated cond = translate(st, ctx, 1, st.toks.size());
        if (cond.syntaxErrorNear)
            return fail(syntaxError(*cond.syntaxErrorNear), out, true);
        refreshSystemViews(cond.systemObjects);
        Statement probe = st;
        probe.toks.erase(probe.toks.begin());
        const auto v = evaluateSql("CASE WHEN " + cond.sql + " THEN 1 ELSE 0 END", out, oc);
        if (!v)
            return oc;
        const bool truth =
            std::holds_alternative<std::int64_t>(*v) && std::get<std::int64_t>(*v) != 0;
        const std::size_t thenEnd = bodyEnd(all, index + 1);
        if (truth) {
            if (thenEnd < all.size() && isWordTok(all[thenEnd].toks[0], "else"))
                skipElse.insert(thenEnd);
        } else {
            index = thenEnd - 1; // the loop steps to the ELSE (or what follows)
        }
        return Outcome::Ok;
    }
    if (w.is("else")) {
        if (skipElse.erase(index))
            index = bodyEnd(all, index + 1) - 1;
        return Outcome::Ok;
    }
    return Outcome::Ok;
}

Outcome Session::Impl::selectInto(const Translated& tr, const Statement& st, Out& out) {
    // The target takes the SQL Server types of the result's columns.
    Outcome oc;
    sqlite3_stmt* stmt = prepareBound(tr.sql, out, oc);
    if (!stmt)
        return oc;
    int rc = sqlite3_step(stmt);
    const TypeHints hints = resultTypeHints(st);
    const std::vector<Column> cols = describe(stmt, rc == SQLITE_ROW, &hints);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "SELECT", {}, out);
    const bool temp = !tr.intoName.empty() && tr.intoName[0] == '#';
    std::string create =
        std::string(temp ? "CREATE TEMP TABLE " : "CREATE TABLE ") + *tr.intoTable + " (";
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (cols[i].name.empty())
            return fail(
                errorMessage(
                    1038, 15,
                    "An object or column name is missing or empty. For SELECT INTO statements, "
                    "verify each column has a name. For other statements, look for empty "
                    "aliases. Aliases defined as \"\" or [] are not allowed. Change the alias "
                    "to a valid name."),
                out, true);
        ColumnType t = cols[i].type;
        create += (i ? ", " : "") + quoteIdent(cols[i].name) + " " + declTypeText(t);
        if (!t.nullable)
            create += " NOT NULL";
        if (const char* collation = storageCollation(t))
            create += std::string(" COLLATE ") + collation;
    }
    create += ")";
    rc = sqlite3_exec(conn, create.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE TABLE", tr.intoName, out);
    if (temp || tr.intoTable->find('.') == std::string::npos)
        refreshColumnChecks(temp ? "temp" : "", tr.intoName);
    return runSql("INSERT INTO " + *tr.intoTable + " " + tr.sql, st, out, 0xC1, "INSERT",
                  tr.intoName, true);
}

Outcome Session::Impl::assignSelect(const Translated& tr, Out& out) {
    Outcome oc;
    sqlite3_stmt* stmt = prepareBound(tr.sql, out, oc);
    if (!stmt)
        return oc;
    int rc = SQLITE_OK;
    std::uint64_t rows = 0;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ++rows;
        for (std::size_t i = 0;
             i < tr.assignTo.size() && static_cast<int>(i) < sqlite3_column_count(stmt); ++i) {
            Variable* var = findVariable(tr.assignTo[i]);
            if (!var) {
                sqlite3_finalize(stmt);
                return fail(mustDeclare(tr.assignTo[i]), out, true);
            }
            *var = convertTo(var->type, columnValue(stmt, static_cast<int>(i)));
        }
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "SELECT", {}, out);
    lastRowCount = static_cast<std::int64_t>(rows);
    out.done(options.nocount ? 0 : DoneCount, rows, 0xC1);
    return Outcome::Ok;
}

std::optional<Value> Session::Impl::evaluateSql(const std::string& expr, Out& out, Outcome& oc) {
    sqlite3_stmt* stmt = prepareBound("SELECT " + expr, out, oc);
    if (!stmt)
        return std::nullopt;
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const int erc = sqlite3_extended_errcode(conn);
        sqlite3_finalize(stmt);
        oc = failSqlite(erc, "SELECT", {}, out);
        return std::nullopt;
    }
    Value v = rc == SQLITE_ROW ? columnValue(stmt, 0) : Value{Null{}};
    sqlite3_finalize(stmt);
    return v;
}

Outcome Session::Impl::runCreate(const Statement& st, Out& out) {
    const auto ctx = translateContext();
    if (st.toks.size() < 3)
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const Token& what = st.toks[1];
    if (what.is("table")) {
        const Translated tr = translateCreateTable(st, ctx);
        if (tr.syntaxErrorNear)
            return fail(syntaxError(*tr.syntaxErrorNear), out, true);
        if (tr.unknownType)
            return fail(errorMessage(2715, 16,
                                     "Column, parameter, or variable #" +
                                         std::to_string(tr.unknownType->first) +
                                         ": Cannot find data type " + tr.unknownType->second + ".",
                                     6),
                        out, false);
        const Outcome oc = runSql(tr.sql, st, out, 0xC6, "CREATE TABLE", tr.intoName, false);
        std::size_t at = 2;
        if (const auto parts = readObjectName(st.toks, at); oc == Outcome::Ok && parts)
            refreshColumnChecks(schemaOfName(*parts), storedParts(*parts).back());
        return oc;
    }
    if (what.is("view"))
        return createView(st, false, out);
    if (what.is("or") && st.toks[2].is("alter") && st.toks.size() > 3 && st.toks[3].is("view"))
        return createView(st, true, out);
    if (what.isAny({"index", "unique", "clustered", "nonclustered"})) {
        // Drop what SQLite does not know: CLUSTERED, INCLUDE (...), WITH (...), ON <filegroup>.
        Statement s = st;
        std::vector<Token> kept;
        bool seenOn = false;
        for (std::size_t i = 0; i < st.toks.size(); ++i) {
            const Token& t = st.toks[i];
            if (t.kind == TokKind::Word && t.isAny({"clustered", "nonclustered"}))
                continue;
            if (t.kind == TokKind::Word && t.isAny({"include", "with"}) && i + 1 < st.toks.size() &&
                isPunctTok(st.toks[i + 1], '(')) {
                i = matchingParen(st.toks, i + 1, st.toks.size());
                continue;
            }
            if (isWordTok(t, "on")) {
                if (seenOn)
                    break; // ON <filegroup>
                seenOn = true;
            }
            kept.push_back(t);
        }
        s.toks = kept;
        // Index names are unique per table, SQLite's per database: a name that
        // another table's index has is kept as "name$table".
        std::size_t at = 0;
        while (at < kept.size() && !isWordTok(kept[at], "index"))
            ++at;
        std::size_t on = at + 2;
        if (on >= kept.size() || !isWordTok(kept[on], "on"))
            return fail(
                syntaxError(std::string(on < kept.size() ? kept[on].text : kept.back().text)), out,
                true);
        std::size_t tableAt = on + 1;
        const auto parts = readObjectName(kept, tableAt);
        if (!parts)
            return fail(syntaxError(std::string(kept[on].text)), out, true);
        const std::string schema = schemaOfName(*parts);
        const std::string index = kept[at + 1].value();
        if (const auto existing = indexNamed(schema, parts->back(), index); !existing.empty())
            return fail(errorMessage(1913, 16,
                                     "The operation failed because an index or statistics with "
                                     "name '" +
                                         index + "' already exists on table 'dbo." + parts->back() +
                                         "'."),
                        out, false);
        std::string stored = index;
        if (tableOfIndex(schema, index))
            stored += "$" + parts->back();
        const Translated tr = translate(s, ctx, on, kept.size());
        std::string head = "CREATE ";
        for (std::size_t k = 1; k < at; ++k)
            if (isWordTok(kept[k], "unique"))
                head += "UNIQUE ";
        head += "INDEX " + (schema.empty() ? std::string() : quoteIdent(schema) + ".") +
                quoteIdent(stored) + " " + tr.sql;
        return runSql(head, st, out, 0xC6, "CREATE INDEX", {}, false);
    }
    if (what.is("database")) {
        const std::string name = st.toks[2].value();
        if (files.find(name))
            return fail(errorMessage(1801, 16,
                                     "Database '" + name +
                                         "' already exists. Choose a different database name.",
                                     3),
                        out, false);
        if (name.find_first_of("/\\:") != std::string::npos || name.empty())
            return fail(errorMessage(102, 15, "Incorrect syntax near '" + name + "'."), out, true);
        files.open(name);
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    if (what.is("type"))
        return createType(st, out);
    if (what.is("trigger"))
        return createTrigger(st, out);
    if (what.is("schema"))
        return createSchema(st, out);
    if (what.isAny({"procedure", "proc"}) ||
        (what.is("or") && st.toks[2].is("alter") && st.toks.size() > 3 &&
         st.toks[3].isAny({"procedure", "proc"})))
        return createProcedure(st, out);
    if (what.is("function") || (what.is("or") && st.toks[2].is("alter") && st.toks.size() > 3 &&
                                st.toks[3].is("function")))
        return createFunction(st, out);
    return fail(errorMessage(50000, 16,
                             "CREATE " + toUpper(what.text) + " is not supported by this server."),
                out, false);
}

Outcome Session::Impl::runDrop(const Statement& st, Out& out) {
    if (st.toks.size() < 3)
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const Token& what = st.toks[1];
    std::size_t i = 2;
    bool ifExists = false;
    if (i + 1 < st.toks.size() && isWordTok(st.toks[i], "if") &&
        isWordTok(st.toks[i + 1], "exists")) {
        ifExists = true;
        i += 2;
    }
    if (i >= st.toks.size())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    if (what.is("database")) {
        const std::string name = st.toks[i].value();
        const auto actual = files.find(name);
        if (!actual) {
            if (ifExists) {
                out.done(0, 0, 0);
                return Outcome::Ok;
            }
            return fail(
                errorMessage(3701, 11,
                             "Cannot drop the database '" + name +
                                 "', because it does not exist or you do not have permission."),
                out, false);
        }
        for (const auto& b : {"master", "tempdb", "model", "msdb"})
            if (iequals(*actual, b))
                return fail(errorMessage(3708, 16,
                                         "Cannot drop the database '" + *actual +
                                             "' because it is a system database."),
                            out, false);
        if (iequals(*actual, db))
            return fail(errorMessage(3702, 16,
                                     "Cannot drop database \"" + *actual +
                                         "\" because it is currently in use."),
                        out, false);
        files.remove(*actual);
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    if (what.isAny({"procedure", "proc"}))
        return dropProcedure(st, i, ifExists, out);
    if (what.is("function"))
        return dropFunction(st, i, ifExists, out);
    if (what.is("type"))
        return dropType(st, i, ifExists, out);
    if (what.is("trigger"))
        return dropTrigger(st, i, ifExists, out);
    if (what.is("schema"))
        return dropSchema(st, i, ifExists, out);
    if (!what.isAny({"table", "view", "index"}))
        return fail(
            errorMessage(50000, 16,
                         "DROP " + toUpper(what.text) + " is not supported by this server."),
            out, false);
    const auto ctx = translateContext();
    const std::string verb = "DROP " + toUpper(what.text);
    // DROP TABLE a, b: one after the other, as SQL Server does.
    Outcome result = Outcome::Ok;
    bool failed = false;
    for (const auto& [from, to] : commaList(st.toks, i, st.toks.size())) {
        std::size_t a = from;
        std::size_t b = to;
        // DROP INDEX t.ix / ix ON t
        std::string name;
        if (what.is("index")) {
            std::size_t k = a;
            auto parts = readObjectName(st.toks, k);
            if (!parts)
                return fail(syntaxError(std::string(st.toks[a].text)), out, true);
            name = quoteIdent(parts->back());
            // The index of that table: t.ix, or ix ON t.
            std::optional<std::vector<std::string>> table;
            if (parts->size() >= 2)
                table = std::vector<std::string>(parts->begin(), parts->end() - 1);
            else if (k < b && isWordTok(st.toks[k], "on")) {
                ++k;
                table = readObjectName(st.toks, k);
            }
            if (table && !table->empty()) {
                const std::string schema = schemaOfName(*table);
                const std::string stored = indexNamed(schema, table->back(), parts->back());
                if (!stored.empty())
                    name = (schema.empty() ? std::string() : quoteIdent(schema) + ".") +
                           quoteIdent(stored);
            }
        } else {
            name = translate(st, ctx, a, b).sql;
        }
        const std::string q =
            "DROP " + toUpper(what.text) + (ifExists ? " IF EXISTS " : " ") + name;
        if (sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::string bare = name;
            if (bare.size() > 1 && bare.front() == '"')
                bare = bare.substr(1, bare.size() - 2);
            // Dropping a view with DROP TABLE: SQLite's text differs from SQL Server's.
            const std::string msg = sqlite3_errmsg(conn);
            Message m;
            if (msg.rfind("use DROP", 0) == 0)
                m = errorMessage(3705, 16,
                                 "Cannot use DROP " + toUpper(what.text) + " with '" + bare +
                                     "' because '" + bare + "' is a " +
                                     (what.is("table") ? "view" : "table") + ". Use DROP " +
                                     (what.is("table") ? "VIEW" : "TABLE") + ".");
            else
                m = mapSqliteError(sqlite3_extended_errcode(conn), msg,
                                   ErrorContext{verb, bare, db, {}, {}})
                        .message;
            if (catchError(m))
                return Outcome::Abort;
            out.sink.message(m);
            noteError(m.number);
            failed = true;
        } else if (what.is("table")) {
            std::size_t k = a;
            if (const auto parts = readObjectName(st.toks, k); parts && parts->size() == 1)
                dropTriggersOf(parts->back()); // a table's triggers go with it
        }
    }
    if (failed) {
        out.done(DoneError, 0, 0);
        return Outcome::Failed;
    }
    out.done(0, 0, 0);
    return result;
}

// CREATE VIEW, CREATE OR ALTER VIEW (orAlter) and ALTER VIEW: the view made
// anew under its name; ALTER wants one to be there (208).
Outcome Session::Impl::createView(const Statement& st, bool orAlter, Out& out) {
    const bool alter = st.toks[0].is("alter");
    // The statement as CREATE VIEW ..., lexed anew from its text.
    const Token& view = st.toks[orAlter ? 3 : 1];
    const Token& last = st.toks.back();
    const std::string text =
        "CREATE " + std::string(st.source.substr(view.pos, last.pos + last.text.size() - view.pos));
    const LexResult lexed = lex(text);
    const auto statements = splitStatements(lexed.tokens, text);
    if (lexed.error || statements.size() != 1)
        return fail(syntaxError(std::string(last.text)), out, true);
    const Statement& s = statements[0];
    std::size_t at = 2;
    const auto parts = readObjectName(s.toks, at);
    if (!parts)
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const std::string schema = schemaOfName(*parts);
    const std::string name = storedParts(*parts).back();
    bool exists = false;
    catalog::query(conn,
                   "SELECT 1 FROM " + quoteIdent(schema.empty() ? "main" : schema) +
                       ".sqlite_master WHERE type = 'view' AND name = " + quoteString(name) +
                       " COLLATE NOCASE",
                   [&](sqlite3_stmt*) { exists = true; });
    if (alter && !exists)
        return fail(invalidObject(name), out, false);
    const Translated tr = translate(s, translateContext());
    if (tr.syntaxErrorNear)
        return fail(syntaxError(*tr.syntaxErrorNear), out, true);
    // Made in one step: SQLite takes a view whose query names what is not
    // there, SQL Server refuses it (207, 208); the query is prepared once
    // before the view counts as made, and a view replaced stays as it was.
    const std::string qualified =
        quoteIdent(schema.empty() ? "main" : schema) + "." + quoteIdent(name);
    sqlite3_exec(conn, "SAVEPOINT tds_view", nullptr, nullptr, nullptr);
    if (exists && (alter || orAlter))
        sqlite3_exec(conn, ("DROP VIEW " + qualified).c_str(), nullptr, nullptr, nullptr);
    int rc = sqlite3_exec(conn, tr.sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_stmt* probe = nullptr;
        rc = sqlite3_prepare_v2(conn, ("SELECT * FROM " + qualified).c_str(), -1, &probe, nullptr);
        sqlite3_finalize(probe);
    }
    std::optional<Outcome> failed;
    if (rc != SQLITE_OK)
        failed = failSqlite(sqlite3_extended_errcode(conn), "CREATE VIEW", name, out);
    sqlite3_exec(conn,
                 rc == SQLITE_OK ? "RELEASE tds_view" : "ROLLBACK TO tds_view; RELEASE tds_view",
                 nullptr, nullptr, nullptr);
    if (failed)
        return *failed;
    out.done(0, 0, 0xC6);
    return Outcome::Ok;
}

Outcome Session::Impl::runAlter(const Statement& st, Out& out) {
    if (st.toks.size() > 1 && st.toks[1].isAny({"procedure", "proc"}))
        return createProcedure(st, out);
    if (st.toks.size() > 2 && st.toks[1].is("view"))
        return createView(st, false, out);
    if (st.toks.size() > 3 && isWordTok(st.toks[1], "database")) {
        // ALTER DATABASE x SET ...: recovery models, options; nothing a SQLite file keeps.
        const std::string name = st.toks[2].value();
        if (!files.find(name))
            return fail(unknownDatabase(name), out, false);
        if (!isWordTok(st.toks[3], "set"))
            return fail(
                errorMessage(50000, 16, "Only ALTER DATABASE ... SET is supported by this server."),
                out, false);
        out.done(0, 0, 0);
        return Outcome::Ok;
    }
    const auto ctx = translateContext();
    if (st.toks.size() < 4 || !isWordTok(st.toks[1], "table"))
        return fail(
            errorMessage(50000, 16,
                         "Only ALTER TABLE ... ADD / DROP COLUMN is supported by this server."),
            out, false);
    std::size_t i = 2;
    auto parts = readObjectName(st.toks, i);
    if (parts)
        parts = storedParts(*parts);
    if (!parts || i >= st.toks.size())
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const std::string table = translate(st, ctx, 2, i).sql;
    {
        std::size_t k = i;
        if (isWordTok(st.toks[k], "with") && k + 2 < st.toks.size())
            k += 2;
        const bool constraint =
            k + 1 < st.toks.size() &&
            ((isWordTok(st.toks[k], "add") &&
              st.toks[k + 1].isAny(
                  {"constraint", "primary", "foreign", "unique", "check", "default"})) ||
             (isWordTok(st.toks[k], "drop") && st.toks[k + 1].is("constraint")) ||
             st.toks[k].isAny({"nocheck", "check"}));
        if (constraint)
            return alterConstraints(st, i, *parts, out);
        if (k + 1 < st.toks.size() && isWordTok(st.toks[k], "alter") &&
            isWordTok(st.toks[k + 1], "column"))
            return alterColumn(st, k + 2, *parts, out);
    }
    if (isWordTok(st.toks[i], "add")) {
        ++i;
        if (i < st.toks.size() && isWordTok(st.toks[i], "column"))
            ++i;
        // Each column through the CREATE TABLE rules, one ALTER per column.
        std::string sqlText;
        for (const auto& [a, b] : commaList(st.toks, i, st.toks.size())) {
            Statement fake;
            fake.source = st.source;
            fake.toks.assign(st.toks.begin(),
                             st.toks.begin() + 2); // "ALTER TABLE" stands in for "CREATE TABLE"
            fake.toks.push_back(st.toks[2]);
            const LexResult paren = lex("()");
            fake.toks.push_back(paren.tokens[0]);
            fake.toks.insert(fake.toks.end(), st.toks.begin() + a, st.toks.begin() + b);
            fake.toks.push_back(paren.tokens[1]);
            const Translated tr = translateCreateTable(fake, ctx);
            if (tr.syntaxErrorNear)
                return fail(syntaxError(*tr.syntaxErrorNear), out, true);
            const auto open = tr.sql.find('(');
            const std::string column = tr.sql.substr(open + 1, tr.sql.size() - open - 2);
            sqlText += "ALTER TABLE " + table + " ADD COLUMN " + column + ";";
        }
        const Outcome oc = runSql(sqlText, st, out, 0xC6, "ALTER TABLE", parts->back(), false);
        refreshColumnChecks(schemaOfName(*parts), parts->back());
        return oc;
    }
    // The column checks name the columns; SQLite refuses to drop a column a
    // trigger uses, so they go first and come back for the columns that remain.
    const Translated tr = translate(st, ctx);
    dropColumnChecks(schemaOfName(*parts), parts->back());
    const Outcome oc = runSql(tr.sql, st, out, 0xC6, "ALTER TABLE", parts->back(), false);
    refreshColumnChecks(schemaOfName(*parts), parts->back());
    return oc;
}

Outcome Session::Impl::runSet(const Statement& st, Out& out) {
    if (st.toks.size() < 2)
        return fail(syntaxError("SET"), out, true);
    const Token& opt = st.toks[1];
    if (opt.kind == TokKind::Variable) {
        Variable* var = findVariable(toLower(opt.text));
        if (!var)
            return fail(mustDeclare(std::string(opt.text)), out, true);
        if (st.toks.size() < 4 || st.toks[2].kind != TokKind::Op)
            return fail(syntaxError(std::string(st.toks.back().text)), out, true);
        if (const auto e =
                implicitFromVariant(st.toks, 3, st.toks.size(), var->type, translateContext()))
            return fail(*e, out, true);
        Outcome oc;
        const auto v = evaluate(st, 3, st.toks.size(), out, oc);
        if (!v)
            return oc;
        const std::string op(st.toks[2].text);
        Value nv = *v;
        if (op != "=") {
            // SET @x += 1
            const Value& cur = var->value;
            if (op == "+=" && (std::holds_alternative<std::string>(cur) ||
                               std::holds_alternative<std::string>(nv)))
                nv = valueText(cur) + valueText(nv);
            else {
                double a = std::holds_alternative<std::int64_t>(cur)
                               ? static_cast<double>(std::get<std::int64_t>(cur))
                           : std::holds_alternative<double>(cur) ? std::get<double>(cur)
                                                                 : 0.0;
                double b = std::holds_alternative<std::int64_t>(nv)
                               ? static_cast<double>(std::get<std::int64_t>(nv))
                           : std::holds_alternative<double>(nv) ? std::get<double>(nv)
                                                                : 0.0;
                double r = op == "+="   ? a + b
                           : op == "-=" ? a - b
                           : op == "*=" ? a * b
                                        : (b != 0 ? a / b : 0);
                nv = r;
            }
        }
        // A sql_variant keeps the type the expression has.
        if (var->type.type == SqlType::SqlVariant && op == "=")
            nv = sqlfn::toVariant(variantBaseText(st.toks, 3, st.toks.size(), translateContext()),
                                  nv, nullptr);
        if (const auto err = assignConverted(*var, var->type, nv))
            return fail(*err, out, true);
        return Outcome::Ok;
    }
    auto numberArg = [&](std::int64_t& target) -> Outcome {
        Outcome oc;
        const auto v = evaluate(st, 2, st.toks.size(), out, oc);
        if (!v)
            return oc;
        if (const auto* i = std::get_if<std::int64_t>(&*v))
            target = *i;
        else if (const auto* d = std::get_if<double>(&*v))
            target = static_cast<std::int64_t>(*d);
        else
            target = std::atoll(valueText(*v).c_str());
        if (target < 0)
            target = 0;
        return Outcome::Ok;
    };
    if (opt.is("identity_insert"))
        return setIdentityInsert(st, out);
    if (opt.is("rowcount"))
        return numberArg(options.rowcountLimit);
    if (opt.is("textsize")) {
        const Outcome oc = numberArg(options.textSize);
        if (options.textSize >= 2147483647)
            options.textSize = 0;
        return oc;
    }
    // ON/OFF options the session acts on.
    static const std::pair<std::string_view, bool SessionOptions::*> switches[] = {
        {"nocount", &SessionOptions::nocount},
        {"fmtonly", &SessionOptions::fmtOnly},
        {"no_browsetable", &SessionOptions::browseTable},
        {"arithabort", &SessionOptions::arithAbort},
        {"xact_abort", &SessionOptions::xactAbort},
    };
    for (const auto& [name, member] : switches)
        if (opt.is(name)) {
            options.*member = st.toks.size() > 2 && st.toks[2].is("on");
            return Outcome::Ok;
        }
    // Every other option (ANSI_NULLS, QUOTED_IDENTIFIER, DATEFORMAT, LANGUAGE,
    // TRANSACTION ISOLATION LEVEL, ...) is taken as given.
    return Outcome::Ok;
}

Outcome Session::Impl::runDeclare(const Statement& st, Out& out) {
    for (const auto& [a, b] : commaList(st.toks, 1, st.toks.size())) {
        if (st.toks[a].kind != TokKind::Variable)
            return fail(syntaxError(std::string(st.toks[a].text)), out, true);
        const std::string name = toLower(st.toks[a].text);
        std::size_t k = a + 1;
        if (k < b && isWordTok(st.toks[k], "as"))
            ++k;
        if (k < b && st.toks[k].is("table")) {
            // DECLARE @t TABLE (columns): a temporary table of its own name.
            if (k + 1 >= b || !isPunctTok(st.toks[k + 1], '('))
                return fail(syntaxError(std::string(st.toks[std::min(k + 1, b - 1)].text)), out,
                            true);
            if (tableVars.count(name))
                return fail(errorMessage(134, 15,
                                         "The variable name '" + std::string(st.toks[a].text) +
                                             "' has already been declared. Variable names must "
                                             "be unique within a query batch or stored "
                                             "procedure.",
                                         1),
                            out, true);
            const std::string table = "#" + name + "#" + std::to_string(++tableVarCount);
            const Token& close = st.toks[b - 1];
            const std::string text =
                "CREATE TABLE " + quoteIdent(table) + " " +
                std::string(st.source.substr(st.toks[k + 1].pos,
                                             close.pos + close.text.size() - st.toks[k + 1].pos));
            const LexResult lx = lex(text);
            const auto parts = splitStatements(lx.tokens, text);
            if (lx.error || parts.size() != 1)
                return fail(syntaxError(std::string(st.toks[k].text)), out, true);
            const Translated tr = translateCreateTable(parts[0], translateContext());
            if (tr.syntaxErrorNear)
                return fail(syntaxError(*tr.syntaxErrorNear), out, true);
            std::string create = tr.sql;
            if (create.rfind("CREATE TEMP TABLE ", 0) != 0)
                create = "CREATE TEMP TABLE " + create.substr(std::string("CREATE TABLE ").size());
            if (sqlite3_exec(conn, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
                return failSqlite(sqlite3_extended_errcode(conn), "DECLARE", name, out);
            tableVars[name] = table;
            continue;
        }
        if (k < b && st.toks[k].is("cursor"))
            return fail(
                errorMessage(50000, 16, "Cursor variables are not supported by this server."), out,
                false);
        std::string typeText;
        std::size_t e = k;
        while (e < b && !(st.toks[e].kind == TokKind::Op && st.toks[e].text == "=")) {
            typeText += st.toks[e].is("max") ? std::string("-1") : std::string(st.toks[e].text);
            if (st.toks[e].kind == TokKind::Word)
                typeText += ' ';
            ++e;
        }
        const auto type = parseDeclType(typeText);
        if (!type)
            return fail(errorMessage(2715, 16,
                                     "Column, parameter, or variable #1: Cannot find data type " +
                                         typeText + ".",
                                     3),
                        out, false);
        Variable v{*type, Null{}};
        if (e < b) {
            if (const auto err = implicitFromVariant(st.toks, e + 1, b, *type, translateContext()))
                return fail(*err, out, true);
            Outcome oc;
            auto val = evaluate(st, e + 1, b, out, oc);
            if (!val)
                return oc;
            if (type->type == SqlType::SqlVariant)
                val = sqlfn::toVariant(variantBaseText(st.toks, e + 1, b, translateContext()), *val,
                                       nullptr);
            if (const auto err = assignConverted(v, *type, *val))
                return fail(*err, out, true);
        }
        vars[name] = v;
    }
    return Outcome::Ok;
}

Outcome Session::Impl::runRaiserror(const Statement& st, Out& out) {
    // RAISERROR ( msg , severity , state [, args ] ) [WITH LOG | NOWAIT | SETERROR, ...]
    if (st.toks.size() < 3 || !isPunctTok(st.toks[1], '('))
        return fail(syntaxError(st.toks.size() > 1 ? std::string(st.toks[1].text)
                                                   : std::string("RAISERROR")),
                    out, true);
    const std::size_t close = matchingParen(st.toks, 1, st.toks.size());
    const auto items = commaList(st.toks, 2, close);
    if (items.size() < 3)
        return fail(syntaxError(std::string(
                        st.toks[close < st.toks.size() ? close : st.toks.size() - 1].text)),
                    out, true);
    bool withLog = false, noWait = false, setError = false;
    if (close + 1 < st.toks.size()) {
        if (!isWordTok(st.toks[close + 1], "with") || close + 2 >= st.toks.size())
            return fail(syntaxError(std::string(st.toks[close + 1].text)), out, true);
        for (const auto& [a, b] : commaList(st.toks, close + 2, st.toks.size())) {
            const Token& option = st.toks[a];
            if (b != a + 1 || !option.isAny({"log", "nowait", "seterror"}))
                return fail(syntaxError(std::string(option.text)), out, true);
            withLog = withLog || option.is("log");
            noWait = noWait || option.is("nowait");
            setError = setError || option.is("seterror");
        }
    }
    std::vector<Value> vals;
    for (const auto& [a, b] : items) {
        Outcome oc;
        const auto v = evaluate(st, a, b, out, oc);
        if (!v)
            return oc;
        vals.push_back(*v);
    }
    auto toInt = [](const Value& v) -> std::int64_t {
        if (const auto* i = std::get_if<std::int64_t>(&v))
            return *i;
        if (const auto* d = std::get_if<double>(&v))
            return static_cast<std::int64_t>(*d);
        return std::atoll(valueText(v).c_str());
    };
    std::int64_t severity = std::clamp<std::int64_t>(toInt(vals[1]), 0, 25);
    std::int64_t state = toInt(vals[2]);
    if (state < 0 || state > 255)
        state = 1;
    // Every login of this server is a sysadmin; above 18 it takes WITH LOG.
    if (severity > 18 && !withLog)
        return fail(errorMessage(2754, 16,
                                 "Error severity levels greater than 18 can only be specified by "
                                 "members of the sysadmin role, using the WITH LOG option."),
                    out, false);
    Message m;
    if (std::holds_alternative<std::int64_t>(vals[0])) {
        const auto number = std::get<std::int64_t>(vals[0]);
        m = errorMessage(
            18054, 16,
            "Error " + std::to_string(number) + ", severity " + std::to_string(severity) +
                ", state " + std::to_string(state) +
                " was raised, but no message with that error number was found in sys.messages. "
                "If error is larger than 50000, make sure the user-defined message is added "
                "using sp_addmessage.");
    } else {
        std::vector<Value> args(vals.begin() + 3, vals.end());
        m = errorMessage(50000, static_cast<std::uint8_t>(severity),
                         formatMessage(valueText(vals[0]), args), static_cast<std::uint8_t>(state));
    }
    m.line = st.line;
    if (catchError(m))
        return Outcome::Abort;
    if (m.severity >= 20) {
        // Fatal: SQL Server says so, sends the error and ends the connection.
        Message terminating =
            errorMessage(2745, 16,
                         "Process ID " + std::to_string(spid) + " has raised user error " +
                             std::to_string(m.number) + ", severity " + std::to_string(m.severity) +
                             ". SQL Server is terminating this process.",
                         2);
        terminating.line = st.line;
        out.sink.message(terminating);
        out.sink.message(m);
        noteError(m.number);
        ended = true;
        out.last = true;
        out.done(DoneError | DoneSrvError, 0, 0);
        return Outcome::Abort;
    }
    out.sink.message(m);
    if (m.severity > 10 || setError)
        noteError(m.number);
    if (m.severity > 10)
        out.done(DoneError, 0, 0);
    if (noWait)
        out.sink.flush();
    return Outcome::Ok;
}

Outcome Session::Impl::runWaitfor(const Statement& st, Out& out) {
    if (st.toks.size() < 3 || !st.toks[1].isAny({"delay", "time"}))
        return fail(
            syntaxError(st.toks.size() > 1 ? std::string(st.toks[1].text) : std::string("WAITFOR")),
            out, true);
    Outcome oc;
    const auto v = evaluate(st, 2, st.toks.size(), out, oc);
    if (!v)
        return oc;
    const auto t = parseDateTime(valueText(*v));
    if (!t)
        return fail(errorMessage(148, 15,
                                 "Incorrect time syntax in time string '" + valueText(*v) +
                                     "' used with WAITFOR."),
                    out, false);
    using namespace std::chrono;
    milliseconds wait{((t->hour * 60LL + t->minute) * 60 + t->second) * 1000 + t->nanos / 1000000};
    if (st.toks[1].is("time")) {
        const auto now = system_clock::to_time_t(system_clock::now());
        std::tm local{};
        localtime_r(&now, &local);
        const long long nowMs = ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000;
        long long diff = wait.count() - nowMs;
        if (diff < 0)
            diff += 86400000;
        wait = milliseconds(diff);
    }
    const auto until = steady_clock::now() + wait;
    while (steady_clock::now() < until) {
        if (cancel && cancel->load())
            return Outcome::Cancelled;
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(milliseconds(10), until - steady_clock::now()));
    }
    return Outcome::Ok;
}

Outcome Session::Impl::runWhile(const Statement& st, Out& out, std::vector<Statement>& all,
                                std::size_t& index) {
    const std::size_t bodyFirst = index + 1;
    const std::size_t bodyLast = bodyEnd(all, bodyFirst);
    const auto ctx = translateContext();
    const Translated cond = translate(st, ctx, 1, st.toks.size());
    if (cond.syntaxErrorNear)
        return fail(syntaxError(*cond.syntaxErrorNear), out, true);
    const bool outerLast = bodyLast >= all.size();
    for (;;) {
        if (cancel && cancel->load())
            return Outcome::Cancelled;
        refreshSystemViews(cond.systemObjects);
        Outcome oc;
        const auto v = evaluateSql("CASE WHEN " + cond.sql + " THEN 1 ELSE 0 END", out, oc);
        if (!v)
            return oc;
        if (!(std::holds_alternative<std::int64_t>(*v) && std::get<std::int64_t>(*v) != 0))
            break;
        breakLoop = false;
        for (std::size_t k = bodyFirst; k < bodyLast; ++k) {
            out.last = false;
            const Outcome r = runStatement(all[k], out, all, k);
            if (r == Outcome::Abort || r == Outcome::Cancelled)
                return r;
            if (r == Outcome::Return)
                break; // BREAK, CONTINUE or RETURN inside the loop
        }
        if (breakLoop)
            break;
    }
    breakLoop = false;
    out.last = outerLast;
    index = bodyLast - 1;
    return Outcome::Ok;
}

} // namespace tds
