// EXEC in batches, RPC calls, sp_executesql and the prepared statement
// procedures, xp_msver.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/catalog.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"

#include <cmath>
#include <set>
#include <thread>
#include <utility>

namespace tds {

using namespace sql;

namespace {

// "[db]..sp_x", "master.dbo.xp_msver", "s.p", "sp_x" -> database part, schema
// part and procedure name.
struct ProcName {
    std::string db, schema, name;
};
ProcName splitProcName(const std::string& full) {
    const std::vector<Token> toks = significantTokens(full);
    std::size_t i = 0;
    const auto parts = readObjectName(toks, i);
    if (!parts || parts->empty())
        return {{}, {}, full};
    const std::string schema = parts->size() >= 2 ? (*parts)[parts->size() - 2] : std::string();
    if (parts->size() >= 3)
        return {(*parts)[parts->size() - 3], schema, parts->back()};
    return {{}, schema, parts->back()};
}

std::string procNameForId(int id) {
    switch (id) {
    case 1:
        return "sp_cursor";
    case 2:
        return "sp_cursoropen";
    case 3:
        return "sp_cursorprepare";
    case 4:
        return "sp_cursorexecute";
    case 5:
        return "sp_cursorprepexec";
    case 6:
        return "sp_cursorunprepare";
    case 7:
        return "sp_cursorfetch";
    case 8:
        return "sp_cursoroption";
    case 9:
        return "sp_cursorclose";
    case 10:
        return "sp_executesql";
    case 11:
        return "sp_prepare";
    case 12:
        return "sp_execute";
    case 13:
        return "sp_prepexec";
    case 14:
        return "sp_prepexecrpc";
    case 15:
        return "sp_unprepare";
    default:
        return {};
    }
}

// Parameter declarations "@P1 INT, @P2 VARCHAR(20) OUTPUT".
struct ParamDecl {
    std::string name; // lower case, with '@'
    ColumnType type;
    bool output = false;
    std::optional<std::string> defaultValue; // as written
    bool table = false;                      // "@t TableType READONLY": a table-valued parameter
    std::string tableType;                   // its type's name, as written
};

std::optional<std::vector<ParamDecl>> parseDeclaration(const std::string& text) {
    std::vector<ParamDecl> out;
    const LexResult lx = lex(text);
    if (lx.error)
        return std::nullopt;
    std::vector<Token> toks;
    for (const auto& t : lx.tokens)
        if (!t.isTrivia())
            toks.push_back(t);
    std::size_t i = 0;
    while (i < toks.size()) {
        if (toks[i].kind != TokKind::Variable)
            return std::nullopt;
        ParamDecl p;
        p.name = toLower(toks[i].text);
        ++i;
        if (i < toks.size() && toks[i].is("as"))
            ++i;
        std::string type;
        int depth = 0;
        while (i < toks.size() && !(depth == 0 && isPunctTok(toks[i], ','))) {
            if (isPunctTok(toks[i], '('))
                ++depth;
            else if (isPunctTok(toks[i], ')'))
                --depth;
            if (depth == 0 && toks[i].isAny({"output", "out"})) {
                p.output = true;
            } else if (depth == 0 && toks[i].is("readonly")) {
                p.table = true;
            } else if (depth == 0 && toks[i].kind == TokKind::Op && toks[i].text == "=") {
                // A default value: a constant, perhaps signed, perhaps followed by OUTPUT.
                std::string value;
                while (i + 1 < toks.size() && !isPunctTok(toks[i + 1], ',') &&
                       !toks[i + 1].isAny({"output", "out", "readonly"})) {
                    ++i;
                    value += std::string(toks[i].text) + " ";
                }
                p.defaultValue = value;
            } else {
                if (!type.empty() && toks[i].kind == TokKind::Word && type.back() != '(')
                    type += ' ';
                type += toks[i].is("max") ? std::string("-1") : std::string(toks[i].text);
            }
            ++i;
        }
        if (p.table)
            for (char c : type)
                if (c != ' ' && c != '[' && c != ']')
                    p.tableType += c;
        const auto t = p.table ? std::optional<ColumnType>(ColumnType{}) : parseDeclType(type);
        if (!t)
            return std::nullopt;
        p.type = *t;
        out.push_back(p);
        if (i < toks.size())
            ++i; // ','
    }
    return out;
}

// Top-level comma-separated ranges of tokens [first, last).
std::vector<std::pair<std::size_t, std::size_t>> commaRanges(const std::vector<Token>& toks,
                                                             std::size_t first, std::size_t last) {
    std::vector<std::pair<std::size_t, std::size_t>> r;
    std::size_t start = first;
    for (std::size_t k = first; k < last; ++k)
        if (isPunctTok(toks[k], ',')) {
            r.emplace_back(start, k);
            start = k + 1;
        }
    if (last > start)
        r.emplace_back(start, last);
    return r;
}

// A procedure's arguments are constants, variables or bare words, each
// optionally named (@p = v) and marked OUTPUT: the first token past that shape
// (the "frm" of "selec 1 frm") is where the syntax is wrong.
std::optional<std::size_t> misplacedArgumentToken(const std::vector<Token>& toks,
                                                  std::size_t first) {
    std::size_t k = first;
    while (k < toks.size()) {
        std::size_t e = k;
        while (e < toks.size() && !isPunctTok(toks[e], ','))
            ++e;
        std::size_t a = k;
        if (a + 1 < e && toks[a].kind == TokKind::Variable && toks[a + 1].text == "=")
            a += 2;
        std::size_t b = e;
        if (b > a + 1 && toks[b - 1].isAny({"output", "out"}))
            --b;
        if (a < b && toks[a].kind == TokKind::Op && (toks[a].text == "-" || toks[a].text == "+") &&
            a + 1 < b && toks[a + 1].kind == TokKind::Number)
            ++a; // a signed number
        if (a >= b)
            return e < toks.size() ? e : toks.size() - 1;
        if (b > a + 1)
            return a + 1;
        k = e + 1;
        if (e + 1 == toks.size())
            return e; // a trailing comma
    }
    return std::nullopt;
}

} // namespace

Outcome Session::Impl::runExec(const Statement& st, std::size_t start, Out& out) {
    std::size_t i = start;
    // EXEC ('select ...' + @x): dynamic SQL.
    if (i < st.toks.size() && isPunctTok(st.toks[i], '(')) {
        Outcome oc;
        const auto v = evaluate(st, i + 1, st.toks.size() - 1, out, oc);
        if (!v)
            return oc;
        runBatch(valueText(*v), out, out.last);
        return stopped ? Outcome::Cancelled : Outcome::Ok;
    }
    // EXEC @rc = proc ...
    std::string statusVar;
    if (i + 1 < st.toks.size() && st.toks[i].kind == TokKind::Variable &&
        st.toks[i + 1].text == "=") {
        statusVar = toLower(st.toks[i].text);
        i += 2;
    }
    std::size_t nameEnd = i;
    const auto parts = readObjectName(st.toks, nameEnd);
    if (!parts)
        return fail(
            syntaxError(i < st.toks.size() ? std::string(st.toks[i].text) : std::string("EXEC")),
            out, true);
    std::string name;
    for (std::size_t k = 0; k < parts->size(); ++k)
        name += (k ? "." : "") + (*parts)[k];
    if (parts->size() >= 3 && (*parts)[1].empty())
        name = (*parts)[0] + ".." + parts->back();
    if (const auto bad = misplacedArgumentToken(st.toks, nameEnd))
        return fail(syntaxError(std::string(st.toks[*bad].text)), out, true);
    // Arguments: [@name =] value [OUTPUT], ...
    std::vector<RpcParam> args;
    std::vector<std::string> outputVars; // per argument: the variable an OUTPUT goes back to
    std::size_t k = nameEnd;
    while (k < st.toks.size()) {
        RpcParam p;
        std::size_t e = k;
        int depth = 0;
        while (e < st.toks.size() && !(depth == 0 && isPunctTok(st.toks[e], ','))) {
            if (isPunctTok(st.toks[e], '('))
                ++depth;
            else if (isPunctTok(st.toks[e], ')'))
                --depth;
            ++e;
        }
        std::size_t a = k;
        if (a + 1 < e && st.toks[a].kind == TokKind::Variable && st.toks[a + 1].text == "=") {
            p.name = std::string(st.toks[a].text);
            a += 2;
        }
        std::size_t b = e;
        std::string outVar;
        if (b > a && st.toks[b - 1].isAny({"output", "out"})) {
            p.output = true;
            --b;
            if (b > a && st.toks[a].kind == TokKind::Variable)
                outVar = toLower(st.toks[a].text);
        }
        if (b == a + 1 && st.toks[a].kind == TokKind::Word &&
            !st.toks[a].isAny({"null", "default"})) {
            p.value = st.toks[a].value(); // unquoted text argument: exec sp_columns Kunden
            p.type.type = SqlType::NVarChar;
        } else if (b == a + 1 && st.toks[a].is("default")) {
            k = e + 1;
            continue;
        } else {
            Outcome oc;
            const auto v = evaluate(st, a, b, out, oc);
            if (!v)
                return oc;
            p.value = *v;
            p.type.type = std::holds_alternative<std::int64_t>(*v) ? SqlType::Int
                          : std::holds_alternative<double>(*v)     ? SqlType::Float
                          : std::holds_alternative<Blob>(*v)       ? SqlType::VarBinary
                                                                   : SqlType::NVarChar;
        }
        args.push_back(p);
        outputVars.push_back(outVar);
        k = e + 1;
    }
    // Output parameters come back as RETURNVALUE tokens; copy them into the variables.
    struct Capture : ResultSink {
        ResultSink& inner;
        std::vector<std::pair<std::string, Value>> values;
        std::int32_t status = 0;
        explicit Capture(ResultSink& s) : inner(s) {}
        void columns(const std::vector<Column>& c) override { inner.columns(c); }
        bool row(const std::vector<Value>& v) override { return inner.row(v); }
        void done(DoneKind k, std::uint16_t s, std::uint64_t n, std::uint16_t c) override {
            inner.done(k, s, n, c);
        }
        void message(const Message& m) override { inner.message(m); }
        void databaseChanged(const std::string& o, const std::string& n) override {
            inner.databaseChanged(o, n);
        }
        void returnStatus(std::int32_t s) override {
            status = s;
            inner.returnStatus(s);
        }
        void returnValue(const std::string& n, const ColumnType&, const Value& v, bool) override {
            values.emplace_back(n, v);
        }
    } capture(out.sink);
    Out capOut{capture, out.kind, out.last, out.inProc};
    const Outcome oc = callProcedure(name, args, capOut);
    out.anyDone = out.anyDone || capOut.anyDone;
    out.moreAfterLast = capOut.anyDone ? capOut.moreAfterLast : out.moreAfterLast;
    std::size_t outIndex = 0;
    for (std::size_t a = 0; a < args.size(); ++a) {
        if (!args[a].output)
            continue;
        if (outIndex < capture.values.size() && !outputVars[a].empty())
            if (Variable* var = findVariable(outputVars[a]))
                *var = convertTo(var->type, capture.values[outIndex].second);
        ++outIndex;
    }
    if (!statusVar.empty())
        if (Variable* var = findVariable(statusVar))
            var->value = static_cast<std::int64_t>(capture.status);
    return oc;
}

Outcome Session::Impl::callProcedure(const std::string& fullName, std::vector<RpcParam>& args,
                                     Out& out) {
    auto [dbPart, schemaPart, name] = splitProcName(fullName);
    // A procedure qualified with another database runs there.
    std::string savedDb;
    if (!dbPart.empty() && !iequals(dbPart, db)) {
        if (!files.find(dbPart))
            return fail(unknownDatabase(dbPart), out, false);
        savedDb = db;
        use(dbPart, nullptr);
    }
    // A procedure of a created schema is stored as "schema.name".
    if (!schemaPart.empty() && userSchemaId(schemaPart))
        name = schemaPart + "." + name;
    const std::string lname = toLower(name);
    Out inner{out.sink, DoneKind::DoneInProc, false, true};
    Outcome oc = Outcome::Ok;
    const std::int32_t status = runProcedureBody(lname, args, inner, oc);
    if (!savedDb.empty())
        use(savedDb, nullptr);
    if (oc == Outcome::Cancelled || stopped)
        return Outcome::Cancelled;
    if (status == INT32_MIN) { // no such procedure
        Message m = unknownProcedure(name);
        return fail(m, out, false);
    }
    out.sink.returnStatus(status);
    // Output parameters, in order.
    for (const auto& p : args)
        if (p.output)
            out.sink.returnValue(p.name, p.type, p.value, true);
    std::uint16_t doneStatus = out.last ? 0 : DoneMore;
    if (oc == Outcome::Failed || oc == Outcome::Abort)
        doneStatus |= DoneError;
    out.sink.done(DoneKind::DoneProc, doneStatus, 0, 0xE0);
    out.anyDone = true;
    out.moreAfterLast = !out.last;
    return oc == Outcome::Abort ? Outcome::Failed : Outcome::Ok;
}

std::int32_t Session::Impl::executeSql(const std::string& stmt, const std::string& declaration,
                                       std::vector<RpcParam>& args, std::size_t firstValue,
                                       Out& inner, Outcome& oc) {
    auto decls = parseDeclaration(declaration);
    if (!decls) {
        oc = fail(syntaxError(declaration), inner, false);
        return 0;
    }
    std::map<std::string, Variable> scope;
    for (const auto& d : *decls)
        scope[d.name] = Variable{d.type, Null{}};
    std::size_t pos = 0;
    std::vector<std::pair<std::size_t, std::string>> outputs; // arg index -> param name
    for (std::size_t i = firstValue; i < args.size(); ++i) {
        std::string name = toLower(args[i].name);
        if (name.empty()) {
            if (pos >= decls->size()) {
                oc = fail(errorMessage(8144, 16,
                                       "Procedure or function has too many arguments specified."),
                          inner, false);
                return 0;
            }
            name = (*decls)[pos].name;
        }
        ++pos;
        auto it = scope.find(name);
        if (it == scope.end()) {
            oc = fail(
                errorMessage(8145, 16,
                             args[i].name + " is not a parameter for procedure sp_executesql."),
                inner, false);
            return 0;
        }
        it->second = convertTo(it->second.type, args[i].value);
        if (args[i].output)
            outputs.emplace_back(i, name);
    }
    auto saved = std::move(params);
    params = std::move(scope);
    runBatch(stmt, inner, false);
    for (const auto& [i, name] : outputs)
        args[i].value = params[name].value;
    params = std::move(saved);
    oc = stopped ? Outcome::Cancelled : Outcome::Ok;
    return 0;
}

std::int32_t Session::Impl::runProcedureBody(const std::string& name, std::vector<RpcParam>& args,
                                             Out& inner, Outcome& oc) {
    oc = Outcome::Ok;
    auto arg = [&](std::size_t i) -> const Value& {
        static const Value none = Null{};
        return i < args.size() ? args[i].value : none;
    };
    auto argInt = [&](std::size_t i) -> std::int64_t {
        const Value& v = arg(i);
        if (const auto* n = std::get_if<std::int64_t>(&v))
            return *n;
        if (const auto* d = std::get_if<double>(&v))
            return static_cast<std::int64_t>(*d);
        return std::atoll(valueText(v).c_str());
    };
    if (name == "sp_executesql") {
        if (args.empty()) {
            oc = fail(missingParameter("sp_executesql", "@statement"), inner, false);
            return 1;
        }
        return executeSql(valueText(arg(0)), args.size() > 1 ? valueText(arg(1)) : std::string(),
                          args, 2, inner, oc);
    }
    if (name == "sp_prepare" || name == "sp_prepexec") {
        // handle OUTPUT, @params, @stmt [, options | values...]
        if (args.size() < 3) {
            oc = fail(missingParameter(name, "@stmt"), inner, false);
            return 1;
        }
        const std::int32_t handle = nextHandle++;
        prepared[handle] = Prepared{valueText(arg(1)), valueText(arg(2))};
        args[0].value = static_cast<std::int64_t>(handle);
        args[0].type.type = SqlType::Int;
        args[0].output = true;
        if (name == "sp_prepexec")
            return executeSql(prepared[handle].statement, prepared[handle].declaration, args, 3,
                              inner, oc);
        // sp_prepare: describe the result so the client can ask for columns.
        const LexResult lx = lex(prepared[handle].statement);
        if (!lx.error) {
            auto sts = splitStatements(lx.tokens, prepared[handle].statement);
            if (!sts.empty() && sts[0].toks[0].isAny({"select", "with"})) {
                const Translated tr = translate(sts[0], translateContext());
                refreshSystemViews(tr.systemObjects);
                sqlite3_stmt* stmt = nullptr;
                if (!tr.intoTable &&
                    sqlite3_prepare_v2(conn, tr.sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
                    stmt && sqlite3_column_count(stmt) > 0) {
                    inner.sink.columns(describe(stmt, false));
                    inner.done(0, 0, 0xC1);
                }
                sqlite3_finalize(stmt);
            }
        }
        return 0;
    }
    if (name == "sp_execute") {
        const std::int32_t handle = static_cast<std::int32_t>(argInt(0));
        auto it = prepared.find(handle);
        if (it == prepared.end()) {
            oc = fail(errorMessage(8179, 16,
                                   "Could not find prepared statement with handle " +
                                       std::to_string(handle) + "."),
                      inner, false);
            return 1;
        }
        const Prepared p = it->second;
        return executeSql(p.statement, p.declaration, args, 1, inner, oc);
    }
    if (name == "sp_unprepare") {
        prepared.erase(static_cast<std::int32_t>(argInt(0)));
        return 0;
    }
    if (name == "xp_msver") {
        const std::string& v = cfg.productVersion;
        int major = 0, minor = 0, build = 0;
        std::sscanf(v.c_str(), "%d.%d.%d", &major, &minor, &build);
        const int cpus = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        char mask[16];
        std::snprintf(mask, sizeof mask, "%08x", cpus >= 32 ? 0xFFFFFFFFu : (1u << cpus) - 1);
        char fileVersion[40];
        std::snprintf(fileVersion, sizeof fileVersion, "2005.%03d.%d.00", major * 10 + minor,
                      build);
        struct Row {
            const char* name;
            std::optional<std::int64_t> internal;
            std::optional<std::string> text;
        };
        const std::vector<Row> all = {
            {"ProductName", std::nullopt, std::string("Microsoft SQL Server")},
            {"ProductVersion", static_cast<std::int64_t>(major) << 16 | (minor << 8), v},
            {"Language", 1033, std::string("English (United States)")},
            {"Platform", std::nullopt, std::string("NT INTEL X86")},
            {"Comments", std::nullopt, std::string("NT INTEL X86")},
            {"CompanyName", std::nullopt, std::string("Microsoft Corporation")},
            {"FileDescription", std::nullopt, std::string("SQL Server Windows NT")},
            {"FileVersion", std::nullopt, std::string(fileVersion)},
            {"InternalName", std::nullopt, std::string("SQLSERVR")},
            {"LegalCopyright", std::nullopt,
             std::string("\xC2\xA9 Microsoft Corporation. All rights reserved.")},
            {"LegalTrademarks", std::nullopt,
             std::string("Microsoft\xC2\xAE is a registered trademark of Microsoft Corporation. "
                         "Windows(TM) is a trademark of Microsoft Corporation")},
            {"OriginalFilename", std::nullopt, std::string("SQLSERVR.EXE")},
            {"PrivateBuild", std::nullopt, std::nullopt},
            {"SpecialBuild", static_cast<std::int64_t>(build) << 16, std::nullopt},
            {"WindowsVersion", 248381957, std::string("5.2 (3790)")},
            {"ProcessorCount", cpus, std::to_string(cpus)},
            {"ProcessorActiveMask", cpus >= 32 ? -1 : (1 << cpus) - 1, std::string(mask)},
            {"ProcessorType", 586, std::string("PROCESSOR_INTEL_PENTIUM")},
            {"PhysicalMemory", 2048, std::string("2048 (2147483648)")},
            {"Product ID", std::nullopt, std::nullopt},
        };
        std::vector<Column> cols = {makeColumn("Index", SqlType::SmallInt, 0, false),
                                    makeColumn("Name", SqlType::NVarChar, 128, false),
                                    makeColumn("Internal_Value", SqlType::Int),
                                    makeColumn("Character_Value", SqlType::NVarChar, 512)};
        std::vector<std::vector<Value>> rows;
        for (std::size_t i = 0; i < all.size(); ++i) {
            bool wanted = args.empty();
            for (const auto& a : args)
                if (iequals(valueText(a.value), all[i].name))
                    wanted = true;
            if (!wanted)
                continue;
            rows.push_back({static_cast<std::int64_t>(i + 1), std::string(all[i].name),
                            all[i].internal ? Value{*all[i].internal} : Value{Null{}},
                            all[i].text ? Value{*all[i].text} : Value{Null{}}});
        }
        sendRows(inner, cols, rows);
        inner.done(DoneCount, rows.size(), 0xC1);
        return 0;
    }
    if (const auto status = typeProcedure(name, args, inner, oc))
        return *status;
    if (const auto status = renameProcedure(name, args, inner, oc))
        return *status;
    if (catalogProcedure(name, args, inner))
        return 0;
    if (const auto status = runUserProcedure(name, args, inner, oc))
        return *status;
    return INT32_MIN;
}

void Session::Impl::executeRpc(const RpcCall& call, ResultSink& sink) {
    std::string name = call.procName.empty() ? procNameForId(call.procId) : call.procName;
    Out out{sink, DoneKind::Done, true, false};
    if (name.empty()) {
        fail(errorMessage(2812, 16,
                          "Could not find stored procedure with id " + std::to_string(call.procId) +
                              "."),
             out, false);
        return;
    }
    // Infinities and NaN are no float values: the request is refused whole.
    for (std::size_t i = 0; i < call.params.size(); ++i) {
        const RpcParam& p = call.params[i];
        const auto* d = std::get_if<double>(&p.value);
        if (d && !std::isfinite(*d) &&
            (p.type.type == SqlType::Float || p.type.type == SqlType::Real)) {
            fail(errorMessage(8023, 16,
                              "The incoming tabular data stream (TDS) remote procedure call (RPC) "
                              "protocol stream is incorrect. Parameter " +
                                  std::to_string(i + 1) + " (\"" + p.name +
                                  "\"): The supplied value is not a valid instance of data type " +
                                  (p.type.type == SqlType::Real ? "real" : "float") +
                                  ". Check the source data for invalid values. An example of an "
                                  "invalid value is data of numeric type with scale greater than "
                                  "precision.",
                              1),
                 out, false);
            return;
        }
    }
    std::vector<RpcParam> args = call.params;
    callProcedure(name, args, out);
}

// CREATE [OR ALTER] PROC[EDURE] name [(] @p type [= default] [OUTPUT], ... [)]
// [WITH ...] AS body, and ALTER PROC[EDURE]: the parameter list and the body
// are kept as written, in the database's procedure table (so a transaction
// that rolls back takes the procedure with it, as on SQL Server).
Outcome Session::Impl::createProcedure(const Statement& st, Out& out) {
    const auto& toks = st.toks;
    const bool alter = toks[0].is("alter");
    bool orAlter = false;
    std::size_t i = 1;
    if (!alter && i + 1 < toks.size() && toks[i].is("or") && toks[i + 1].is("alter")) {
        orAlter = true;
        i += 2;
    }
    if (i >= toks.size() || !toks[i].isAny({"procedure", "proc"}))
        return fail(syntaxError(std::string(toks[std::min(i, toks.size() - 1)].text)), out, true);
    ++i;
    const std::size_t nameAt = i;
    const auto parts = readObjectName(toks, i);
    if (!parts || parts->back().empty())
        return fail(syntaxError(std::string(toks[std::min(nameAt, toks.size() - 1)].text)), out,
                    true);
    const std::string name = storedParts(*parts).back();
    if (i + 1 < toks.size() && isPunctTok(toks[i], ';') && toks[i + 1].kind == TokKind::Number)
        i += 2; // a procedure number: one procedure here
    // The parameters run to the AS (or WITH options) at the top level.
    std::size_t paramFirst = i;
    std::size_t paramLast = i;
    std::size_t k = i;
    int depth = 0;
    for (; k < toks.size(); ++k) {
        if (isPunctTok(toks[k], '('))
            ++depth;
        else if (isPunctTok(toks[k], ')'))
            --depth;
        else if (depth == 0 && toks[k].isAny({"as", "with", "for"}) &&
                 toks[k - 1].kind != TokKind::Variable) // not "@p AS int"
            break;
    }
    paramLast = k;
    while (k < toks.size() && !(toks[k].is("as") && toks[k - 1].kind != TokKind::Variable))
        ++k; // WITH RECOMPILE, ENCRYPTION, EXECUTE AS ... change nothing here
    if (k + 1 >= toks.size())
        return fail(syntaxError(std::string(toks.back().text)), out, true);
    if (paramLast > paramFirst && isPunctTok(toks[paramFirst], '(') &&
        matchingParen(toks, paramFirst, paramLast) == paramLast - 1) {
        ++paramFirst;
        --paramLast;
    }
    auto sourceOf = [&](std::size_t a, std::size_t b) {
        if (a >= b)
            return std::string();
        const Token& last = toks[b - 1];
        return std::string(
            st.source.substr(toks[a].pos, last.pos + last.text.size() - toks[a].pos));
    };
    const std::string declaration = sourceOf(paramFirst, paramLast);
    const std::string body = sourceOf(k + 1, toks.size());
    if (!parseDeclaration(declaration))
        return fail(syntaxError(std::string(toks[paramFirst].text)), out, true);

    const std::string table = std::string("main.") + catalog::kProcedureTable;
    std::string q = "CREATE TABLE IF NOT EXISTS " + table +
                    " (name TEXT NOT NULL UNIQUE COLLATE NOCASE, params TEXT NOT NULL, body TEXT "
                    "NOT NULL)";
    if (sqlite3_exec(conn, q.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE PROCEDURE", name, out);
    bool exists = false;
    {
        sqlite3_stmt* find = nullptr;
        q = "SELECT 1 FROM " + table + " WHERE name = ?1";
        if (sqlite3_prepare_v2(conn, q.c_str(), -1, &find, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(find, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            exists = sqlite3_step(find) == SQLITE_ROW;
        }
        sqlite3_finalize(find);
    }
    if (!exists && !alter) {
        // A table or view of that name is in the way too.
        sqlite3_stmt* find = nullptr;
        if (sqlite3_prepare_v2(conn,
                               "SELECT 1 FROM main.sqlite_master WHERE name = ?1 COLLATE NOCASE",
                               -1, &find, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(find, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            exists = sqlite3_step(find) == SQLITE_ROW;
        }
        sqlite3_finalize(find);
        if (exists)
            return fail(
                errorMessage(2714, 16,
                             "There is already an object named '" + name + "' in the database.", 3),
                out, false);
    }
    if (exists && !alter && !orAlter)
        return fail(errorMessage(2714, 16,
                                 "There is already an object named '" + name + "' in the database.",
                                 3),
                    out, false);
    if (!exists && alter)
        return fail(errorMessage(208, 16, "Invalid object name '" + name + "'."), out, false);
    q = exists ? "UPDATE " + table + " SET params = ?2, body = ?3 WHERE name = ?1"
               : "INSERT INTO " + table + " (name, params, body) VALUES (?1, ?2, ?3)";
    if (catalog::execWithTexts(conn, q, name, declaration, body) != SQLITE_DONE)
        return failSqlite(sqlite3_extended_errcode(conn), "CREATE PROCEDURE", name, out);
    out.done(0, 0, 0);
    return Outcome::Ok;
}

Outcome Session::Impl::dropProcedure(const Statement& st, std::size_t nameAt, bool ifExists,
                                     Out& out) {
    for (const auto& [a, b] : commaRanges(st.toks, nameAt, st.toks.size())) {
        std::size_t i = a;
        const auto parts = readObjectName(st.toks, i);
        if (!parts || i != b)
            return fail(syntaxError(std::string(st.toks[std::min(i, b - 1)].text)), out, true);
        const std::string name = storedParts(*parts).back();
        int changes = 0;
        if (catalog::hasProcedureTable(conn)) {
            sqlite3_stmt* del = nullptr;
            const std::string q =
                std::string("DELETE FROM main.") + catalog::kProcedureTable + " WHERE name = ?1";
            if (sqlite3_prepare_v2(conn, q.c_str(), -1, &del, nullptr) == SQLITE_OK) {
                sqlite3_bind_text(del, 1, name.c_str(), -1, SQLITE_TRANSIENT);
                if (sqlite3_step(del) == SQLITE_DONE)
                    changes = sqlite3_changes(conn);
            }
            sqlite3_finalize(del);
        }
        if (!changes && !ifExists)
            return fail(
                errorMessage(3701, 11,
                             "Cannot drop the procedure '" + name +
                                 "', because it does not exist or you do not have permission."),
                out, false);
    }
    out.done(0, 0, 0);
    return Outcome::Ok;
}

// A stored procedure made with CREATE PROCEDURE: the arguments bind by
// position, then by name; parameters without an argument take their default.
// The body runs with its own variables and SET options and drops the
// temporary tables it made; RETURN n gives the status.
std::optional<std::int32_t> Session::Impl::runUserProcedure(const std::string& name,
                                                            std::vector<RpcParam>& args, Out& inner,
                                                            Outcome& oc) {
    if (!catalog::hasProcedureTable(conn))
        return std::nullopt;
    std::string shownName, declaration, body;
    {
        sqlite3_stmt* find = nullptr;
        const std::string q = std::string("SELECT name, params, body FROM main.") +
                              catalog::kProcedureTable + " WHERE name = ?1";
        bool found = false;
        if (sqlite3_prepare_v2(conn, q.c_str(), -1, &find, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(find, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(find) == SQLITE_ROW) {
                found = true;
                shownName = catalog::text(find, 0);
                declaration = catalog::text(find, 1);
                body = catalog::text(find, 2);
            }
        }
        sqlite3_finalize(find);
        if (!found)
            return std::nullopt;
    }
    return runStoredBody(shownName, declaration, body, args, inner, oc);
}

std::int32_t Session::Impl::runStoredBody(const std::string& shownName,
                                          const std::string& declaration, const std::string& body,
                                          std::vector<RpcParam>& args, Out& inner, Outcome& oc) {
    oc = Outcome::Ok;
    const auto decls = parseDeclaration(declaration);
    if (!decls) {
        oc = fail(syntaxError(declaration), inner, false);
        return 0;
    }
    std::map<std::string, Variable> scope;
    std::map<std::string, std::pair<std::string, std::shared_ptr<const TableArgument>>> tableArgs;
    std::vector<bool> given(decls->size(), false);
    std::vector<std::pair<std::size_t, std::string>> outputs; // argument -> parameter
    std::size_t position = 0;
    for (std::size_t a = 0; a < args.size(); ++a) {
        std::size_t d = decls->size();
        if (args[a].name.empty()) {
            d = position++;
            if (d >= decls->size()) {
                oc = fail(errorMessage(8144, 16,
                                       "Procedure or function " + shownName +
                                           " has too many arguments specified.",
                                       1),
                          inner, false);
                return 0;
            }
        } else {
            const std::string key = toLower(args[a].name);
            for (std::size_t k = 0; k < decls->size(); ++k)
                if ((*decls)[k].name == key)
                    d = k;
            if (d == decls->size()) {
                oc = fail(errorMessage(8145, 16,
                                       args[a].name + " is not a parameter for procedure " +
                                           shownName + ".",
                                       1),
                          inner, false);
                return 0;
            }
        }
        given[d] = true;
        if ((*decls)[d].table) {
            tableArgs[(*decls)[d].name] = {(*decls)[d].tableType, args[a].table};
            continue;
        }
        if (assignConverted(scope[(*decls)[d].name], (*decls)[d].type, args[a].value)) {
            // SQL Server names the types of an argument it cannot convert.
            const ColumnType& to = (*decls)[d].type;
            const bool national =
                args[a].type.type == SqlType::NVarChar || args[a].type.type == SqlType::NChar;
            const std::string from = std::holds_alternative<std::string>(args[a].value)
                                         ? (national ? "nvarchar" : "varchar")
                                         : baseTypeName(args[a].type.type);
            oc = fail(errorMessage(8114, 16,
                                   "Error converting data type " + from + " to " +
                                       (to.type == SqlType::Decimal ? std::string("numeric")
                                                                    : baseTypeName(to.type)) +
                                       ".",
                                   5),
                      inner, false);
            return 0;
        }
        if (args[a].output && (*decls)[d].output)
            outputs.emplace_back(a, (*decls)[d].name);
    }
    for (std::size_t d = 0; d < decls->size(); ++d) {
        if (given[d])
            continue;
        const ParamDecl& p = (*decls)[d];
        if (p.table) {
            tableArgs[p.name] = {p.tableType, nullptr}; // an empty table
            continue;
        }
        if (!p.defaultValue) {
            if (p.output) {
                scope[p.name] = Variable{p.type, Null{}};
                continue;
            }
            oc = fail(missingParameter(shownName, p.name), inner, false);
            return 0;
        }
        Statement dv;
        dv.toks = significantTokens(*p.defaultValue);
        dv.source = *p.defaultValue;
        const auto v = evaluate(dv, 0, dv.toks.size(), inner, oc);
        if (!v)
            return 0;
        scope[p.name] = convertTo(p.type, *v);
    }

    std::set<std::string> tempBefore;
    catalog::query(conn, "SELECT name FROM temp.sqlite_master WHERE type = 'table'",
                   [&](sqlite3_stmt* st) { tempBefore.insert(catalog::text(st, 0)); });
    auto savedParams = std::move(params);
    auto savedVars = std::move(vars);
    auto savedTableVars = std::move(tableVars);
    tableVars.clear();
    const SessionOptions savedOptions = options;
    const auto savedReturn = returnStatus;
    params = std::move(scope);
    vars.clear();
    returnStatus.reset();
    // Table-valued parameters are table variables of the body, filled with the rows sent.
    for (const auto& [pname, arg] : tableArgs) {
        const auto& [typeName, table] = arg;
        const std::string name = "#tds_tvp_" + std::to_string(++tableFunctionCalls);
        auto columns = tableTypeColumns(typeName);
        if (!columns && table)
            columns = columnDefinitions(table->columns);
        if (!columns) {
            oc = fail(errorMessage(2715, 16,
                                   "Column, parameter, or variable #1: Cannot find data type " +
                                       typeName + "."),
                      inner, false);
            break;
        }
        if (!createTempTable(name, *columns, inner, oc))
            break;
        tableVars[pname] = name;
        if (table)
            insertRows(name, table->rows);
    }
    if (oc == Outcome::Ok) {
        const std::string savedProcedure = std::exchange(currentProcedure, shownName);
        runBatch(body, inner, false);
        currentProcedure = savedProcedure;
    }
    const std::int32_t status = returnStatus.value_or(0);
    for (const auto& [a, pname] : outputs)
        args[a].value = params[pname].value;
    params = std::move(savedParams);
    vars = std::move(savedVars);
    dropTableVariables(savedTableVars);
    options = savedOptions;
    returnStatus = savedReturn;
    std::vector<std::string> madeHere;
    catalog::query(conn, "SELECT name FROM temp.sqlite_master WHERE type = 'table'",
                   [&](sqlite3_stmt* st) {
                       if (!tempBefore.count(catalog::text(st, 0)))
                           madeHere.push_back(catalog::text(st, 0));
                   });
    for (const auto& t : madeHere)
        sqlite3_exec(conn, ("DROP TABLE temp." + quoteIdent(t)).c_str(), nullptr, nullptr, nullptr);
    oc = stopped ? Outcome::Cancelled : Outcome::Ok;
    return status;
}

} // namespace tds
