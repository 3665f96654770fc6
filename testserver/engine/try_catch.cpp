// BEGIN TRY ... END TRY BEGIN CATCH ... END CATCH, THROW, and the functions
// that read the error a CATCH block handles (ERROR_NUMBER() and the like).

#include "testserver/engine/session_impl.h"

#include "testserver/engine/functions.h"

namespace tds {

using namespace sql;

namespace {

bool isBlockWord(const Statement& st, std::string_view first, std::string_view second) {
    return st.toks.size() >= 2 && isWordTok(st.toks[0], first) && isWordTok(st.toks[1], second);
}

// The END TRY or END CATCH that closes the block opened at `open`.
std::size_t blockEnd(const std::vector<Statement>& all, std::size_t open, std::string_view kind) {
    int depth = 0;
    for (std::size_t k = open; k < all.size(); ++k) {
        if (isBlockWord(all[k], "begin", kind))
            ++depth;
        else if (isBlockWord(all[k], "end", kind) && --depth == 0)
            return k;
    }
    return all.size();
}

// Errors a TRY block does not take when they happen in its own batch: those
// SQL Server finds while it compiles the statement (syntax, names, types).
bool isCompileError(std::int32_t number) {
    for (std::int32_t n : {102, 105, 113, 156, 207, 208, 257, 4104, 8117, 10704, 35100})
        if (n == number)
            return true;
    return false;
}

} // namespace

bool Session::Impl::catchError(const Message& m) {
    if (tryDepth == 0 || m.severity <= 10 || m.severity >= 20 ||
        (batchDepth == tryBatchDepth && isCompileError(m.number)))
        return false;
    Message kept = m;
    if (kept.line == 1)
        kept.line = statementLine;
    if (kept.procName.empty())
        kept.procName = currentProcedure;
    caught = kept;
    noteError(m.number);
    // Under SET XACT_ABORT ON the transaction can only be rolled back now.
    if (options.xactAbort && tranCount > 0)
        doomed = true;
    return true;
}

Outcome Session::Impl::runTry(Out& out, std::vector<Statement>& all, std::size_t& index) {
    const std::size_t tryEnd = blockEnd(all, index, "try");
    const std::size_t catchBegin = tryEnd + 1;
    if (catchBegin >= all.size() || !isBlockWord(all[catchBegin], "begin", "catch")) {
        const std::string near = tryEnd < all.size() && catchBegin < all.size()
                                     ? std::string(all[catchBegin].toks[0].text)
                                     : std::string(all.back().toks.back().text);
        return fail(syntaxError(near), out, true);
    }
    const std::size_t catchEnd = blockEnd(all, catchBegin, "catch");
    if (catchEnd >= all.size())
        return fail(syntaxError(std::string(all.back().toks.back().text)), out, true);
    const bool outerLast = out.last && catchEnd + 1 >= all.size();
    auto runBlock = [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            out.last = false;
            const Outcome r = runStatement(all[k], out, all, k);
            if (caught || r == Outcome::Abort || r == Outcome::Cancelled || r == Outcome::Return ||
                stopped || ended)
                return r;
        }
        return Outcome::Ok;
    };

    const int savedBatchDepth = tryBatchDepth;
    ++tryDepth;
    tryBatchDepth = batchDepth;
    caught.reset();
    Outcome r = runBlock(index + 1, tryEnd);
    --tryDepth;
    tryBatchDepth = savedBatchDepth;
    index = catchEnd; // the loop goes on after END CATCH
    out.last = outerLast;
    if (caught) {
        handling.push_back(*caught);
        caught.reset();
        r = runBlock(catchBegin + 1, catchEnd);
        handling.pop_back();
        out.last = outerLast;
    }
    if (r == Outcome::Failed)
        r = Outcome::Ok; // a statement that failed without ending the batch
    return r;
}

// THROW [number, message, state]: without arguments, inside a CATCH block,
// the error it handles again. Either ends the batch unless a TRY takes it.
Outcome Session::Impl::runThrow(const Statement& st, Out& out) {
    if (st.toks.size() == 1) {
        if (handling.empty())
            return fail(errorMessage(10704, 15,
                                     "To rethrow an error, a THROW statement must be used inside "
                                     "a CATCH block. Insert the THROW statement inside a CATCH "
                                     "block, or add error parameters to the THROW statement."),
                        out, true);
        Message again = handling.back();
        again.procName.clear();
        return fail(again, out, true);
    }
    std::vector<Value> args;
    for (std::size_t b = 1; b <= st.toks.size();) {
        std::size_t e = b;
        for (int depth = 0; e < st.toks.size(); ++e) {
            depth += isPunctTok(st.toks[e], '(') ? 1 : isPunctTok(st.toks[e], ')') ? -1 : 0;
            if (depth == 0 && isPunctTok(st.toks[e], ','))
                break;
        }
        Outcome oc;
        const auto v = evaluate(st, b, e, out, oc);
        if (!v)
            return oc;
        args.push_back(*v);
        b = e + 1;
    }
    if (args.size() != 3)
        return fail(syntaxError(std::string(st.toks.back().text)), out, true);
    const auto* number = std::get_if<std::int64_t>(&args[0]);
    const auto* state = std::get_if<std::int64_t>(&args[2]);
    if (!number || *number < 50000 || *number > 2147483647)
        return fail(errorMessage(35100, 16,
                                 "Error number " + valueText(args[0]) +
                                     " in the THROW statement is outside the valid range. "
                                     "Specify an error number in the valid range of 50000 to "
                                     "2147483647."),
                    out, true);
    if (!state || *state < 0 || *state > 255)
        return fail(errorMessage(35101, 16,
                                 "The state " + valueText(args[2]) +
                                     " in the THROW statement is outside the valid range. "
                                     "Specify a state in the valid range of 0 to 255."),
                    out, true);
    Message m = errorMessage(std::int32_t(*number), 16, valueText(args[1]), std::uint8_t(*state));
    m.line = st.line;
    return fail(m, out, true);
}

namespace sqlfn {

namespace {

// ERROR_NUMBER(), ERROR_MESSAGE(), ...: the error of the innermost running
// CATCH block; NULL outside one.
template <typename Read> void errorFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    const Session::Impl* d = implOf(ctx);
    if (d->handling.empty())
        return sqlite3_result_null(ctx);
    Read{}(ctx, d->handling.back());
}

struct Number {
    void operator()(sqlite3_context* ctx, const Message& m) const {
        sqlite3_result_int(ctx, m.number);
    }
};
struct Text {
    void operator()(sqlite3_context* ctx, const Message& m) const { result(ctx, m.text); }
};
struct Severity {
    void operator()(sqlite3_context* ctx, const Message& m) const {
        sqlite3_result_int(ctx, m.severity);
    }
};
struct State {
    void operator()(sqlite3_context* ctx, const Message& m) const {
        sqlite3_result_int(ctx, m.state);
    }
};
struct Line {
    void operator()(sqlite3_context* ctx, const Message& m) const {
        sqlite3_result_int(ctx, m.line);
    }
};
struct Procedure {
    void operator()(sqlite3_context* ctx, const Message& m) const {
        if (m.procName.empty())
            return sqlite3_result_null(ctx);
        result(ctx, m.procName);
    }
};

// XACT_STATE(): 0 without a transaction, -1 when it can only be rolled back, else 1.
void sqlXactState(sqlite3_context* ctx, int, sqlite3_value**) {
    const Session::Impl* d = implOf(ctx);
    sqlite3_result_int(ctx, d->tranCount == 0 ? 0 : d->doomed ? -1 : 1);
}

const FunctionDef functions[] = {
    {"error_number", 0, errorFunction<Number>, false},
    {"error_message", 0, errorFunction<Text>, false},
    {"error_severity", 0, errorFunction<Severity>, false},
    {"error_state", 0, errorFunction<State>, false},
    {"error_line", 0, errorFunction<Line>, false},
    {"error_procedure", 0, errorFunction<Procedure>, false},
    {"xact_state", 0, sqlXactState, false},
};

} // namespace

std::span<const FunctionDef> errorFunctions() {
    return functions;
}

} // namespace sqlfn

} // namespace tds
