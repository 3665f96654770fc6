// Types of result columns that SQLite cannot tell. SQLite knows the declared
// type of table columns only; an expression's type is taken from its first
// value. For exact numerics that is wrong: CAST(x AS decimal(38,0)) yields an
// integer, a double or decimal text. The select list says what they are, and
// the types of the operands say what arithmetic on them gives.

#include "testserver/engine/session_impl.h"

#include "testserver/engine/arithmetic.h"
#include "testserver/engine/functions_udt.h"
#include "testserver/engine/types.h"
#include "testserver/engine/udt.h"

namespace tds {

using namespace sql;

namespace {

// Where the select list of a SELECT starting at toks[0] begins.
std::size_t selectListStart(const std::vector<Token>& toks) {
    std::size_t i = 1;
    if (i < toks.size() && toks[i].kind == TokKind::Word && toks[i].isAny({"distinct", "all"}))
        ++i;
    if (i < toks.size() && isWordTok(toks[i], "top")) {
        ++i;
        if (i < toks.size() && isPunctTok(toks[i], '('))
            i = matchingParen(toks, i, toks.size());
        ++i;
        if (i < toks.size() && isWordTok(toks[i], "percent"))
            ++i;
        if (i + 1 < toks.size() && isWordTok(toks[i], "with") && isWordTok(toks[i + 1], "ties"))
            i += 2;
    }
    return i;
}

// The items of the select list as token ranges, up to FROM, INTO, WHERE, ...
std::vector<std::pair<std::size_t, std::size_t>> selectItems(const std::vector<Token>& toks) {
    std::vector<std::pair<std::size_t, std::size_t>> items;
    std::size_t start = selectListStart(toks);
    std::size_t i = start;
    for (; i < toks.size(); ++i) {
        const Token& t = toks[i];
        if (isPunctTok(t, '(')) {
            i = matchingParen(toks, i, toks.size());
            continue;
        }
        if (t.kind == TokKind::Word && t.isAny({"from", "into", "where", "group", "having", "order",
                                                "union", "except", "intersect", "option", "for"}))
            break;
        if (isPunctTok(t, ',')) {
            items.emplace_back(start, i);
            start = i + 1;
        }
    }
    items.emplace_back(start, i);
    return items;
}

} // namespace

std::vector<std::optional<ColumnType>> Session::Impl::resultTypeHints(const Statement& st) {
    std::vector<std::optional<ColumnType>> hints;
    const auto& toks = st.toks;
    if (toks.empty() || !isWordTok(toks[0], "select"))
        return hints;
    std::optional<ExactTyper> typer;
    for (auto [a, b] : selectItems(toks)) {
        // "name = expr" and "expr [AS] name" name the column; the type is expr's.
        if (b - a > 2 && toks[a].isName() && toks[a + 1].kind == TokKind::Op &&
            toks[a + 1].text == "=")
            a += 2;
        if (b - a >= 2 && toks[b - 1].isName() && !isPunctTok(toks[b - 2], '.') &&
            toks[b - 2].kind != TokKind::Op)
            b -= isWordTok(toks[b - 2], "as") ? 2 : 1;
        std::optional<ColumnType> hint;
        if (b - a > 3 && toks[a].kind == TokKind::Word && toks[a].isAny({"cast", "convert"}) &&
            isPunctTok(toks[a + 1], '(') && matchingParen(toks, a + 1, b) == b - 1) {
            // The type: after the AS of CAST, before the first ',' of CONVERT.
            const bool cast = toks[a].is("cast");
            std::size_t from = a + 2, to = b - 1;
            for (std::size_t k = a + 2; k < b - 1; ++k) {
                if (isPunctTok(toks[k], '('))
                    k = matchingParen(toks, k, b - 1);
                else if (cast && isWordTok(toks[k], "as")) {
                    from = k + 1;
                    break;
                } else if (!cast && isPunctTok(toks[k], ',')) {
                    to = k;
                    break;
                }
            }
            std::string text;
            for (std::size_t k = from; k < to; ++k)
                text += std::string(toks[k].text) + " ";
            hint = parseDeclType(text);
        } else if (b - a > 4 && toks[a].isName() && isPunctTok(toks[a + 1], '.') &&
                   toks[a + 2].isName() && isPunctTok(toks[a + 3], '(') &&
                   matchingParen(toks, a + 3, b) == b - 1) {
            // dbo.f(...): a scalar function's return type.
            hint = scalarFunctionType(toks[a + 2].value());
        } else if (const auto kind = udtStaticResult(toks, a, b)) {
            // geography::Point(...), hierarchyid::Parse(...): a value of that CLR type.
            hint = parseDeclType(udt::typeName(*kind));
        } else if (b - a == 1 && toks[a].kind == TokKind::Number) {
            if (const auto pd = exactDecimalLiteral(toks[a].text)) {
                ColumnType t;
                t.type = SqlType::Decimal;
                t.precision = pd->first;
                t.scale = pd->second;
                hint = t;
            }
        } else if (b - a == 1 && toks[a].kind == TokKind::Variable) {
            if (const Variable* v = findVariable(toLower(toks[a].text)))
                hint = v->type;
        } else if (b - a > 1) {
            // Arithmetic, SUM, AVG, ... on exact numerics.
            if (!typer)
                typer.emplace(toks, translateContext());
            hint = typer->type(a, b);
        }
        // Only exact numerics and CLR types: the others come out right from their values.
        if (hint && !isExactNumericType(hint->type) && hint->type != SqlType::Udt)
            hint.reset();
        if (hint)
            hint->nullable = true;
        hints.push_back(hint);
    }
    return hints;
}

} // namespace tds
