// Typing of expressions for exact arithmetic, and the rewriting of operations
// on exact operands into the tds_add/tds_sum_<scale>/... functions.
//
// A small recursive-descent parser walks the tokens: wherever an operand can
// start it reads an additive expression (unary signs, * / %, + -, function
// calls, parentheses, CASE, CAST/CONVERT); everything else is copied as it
// stands. Only the tokens of rewritten operations change, so the translator
// that runs next sees the statement as written apart from those calls.

#include "testserver/engine/arithmetic.h"

#include "testserver/engine/types.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

namespace tds::sql {

namespace {

enum class Kind {
    Unknown, // anything the rewriting does not reason about: left to SQLite
    Integer, // type: decimal(p,0) it is promoted to
    Exact,   // decimal(p,s), money, smallmoney
    Float,
    Text,
};

struct Operand {
    Kind kind = Kind::Unknown;
    ColumnType type;
    std::vector<Token> toks;
    bool computed = false; // an operation or function, not just a name or literal
    bool literal = false;  // a number as written (its sign stays with it)
};

// Synthetic tokens point into static text; their position is far from any
// real token so that the translator puts blanks around them.
constexpr std::size_t kSyntheticPos = std::string::npos / 2;

Token synthetic(TokKind kind, std::string_view text) {
    Token t;
    t.kind = kind;
    t.text = text;
    t.pos = kSyntheticPos;
    return t;
}

Token numberToken(int n) {
    static const std::array<std::string, 100> texts = [] {
        std::array<std::string, 100> a;
        for (int k = 0; k < 100; ++k)
            a[std::size_t(k)] = std::to_string(k);
        return a;
    }();
    return synthetic(TokKind::Number, texts[std::size_t(std::clamp(n, 0, 99))]);
}

// Names of the per-scale aggregates, tds_sum_0 ... tds_sum_38, tds_avg_...
std::string_view aggregateName(bool avg, int scale, bool money) {
    static const std::array<std::string, 80> names = [] {
        std::array<std::string, 80> a;
        for (int s = 0; s <= 38; ++s) {
            a[std::size_t(s)] = "tds_sum_" + std::to_string(s);
            a[std::size_t(40 + s)] = "tds_avg_" + std::to_string(s);
        }
        a[39] = "tds_sum_money";
        a[79] = "tds_avg_money";
        return a;
    }();
    return names[std::size_t((avg ? 40 : 0) + (money ? 39 : std::clamp(scale, 0, 38)))];
}

bool isMoney(SqlType t) {
    return t == SqlType::Money || t == SqlType::SmallMoney;
}

// The scale the functions read a value of type t at.
int scaleOf(const ColumnType& t) {
    return isMoney(t.type) ? 4 : t.scale;
}

// The result kind the functions take: 0 decimal, 1 money, 2 smallmoney.
int moneyKind(const ColumnType& t) {
    return t.type == SqlType::Money ? 1 : t.type == SqlType::SmallMoney ? 2 : 0;
}

// Money as the decimal it converts to when mixed with decimals.
ColumnType asDecimal(const ColumnType& t) {
    if (!isMoney(t.type))
        return t;
    ColumnType d;
    d.type = SqlType::Decimal;
    d.precision = t.type == SqlType::Money ? 19 : 10;
    d.scale = 4;
    return d;
}

ColumnType decimalType(int precision, int scale) {
    ColumnType t;
    t.type = SqlType::Decimal;
    t.precision = precision;
    t.scale = scale;
    return t;
}

// How an expression of a known SQL Server type takes part in arithmetic.
Operand typed(const ColumnType& t) {
    Operand o;
    o.type = t;
    if (isExactNumericType(t.type)) {
        o.kind = Kind::Exact;
    } else if (isIntegerType(t.type)) {
        o.kind = Kind::Integer;
        o.type = decimalType(t.type == SqlType::BigInt     ? 19
                             : t.type == SqlType::Int      ? 10
                             : t.type == SqlType::SmallInt ? 5
                             : t.type == SqlType::TinyInt  ? 3
                                                           : 1,
                             0);
    } else if (t.type == SqlType::Float || t.type == SqlType::Real) {
        o.kind = Kind::Float;
    } else if (isTextType(t.type)) {
        o.kind = Kind::Text;
    }
    return o;
}

// Words that never start an operand: clauses, statement and join keywords.
bool isKeyword(const Token& t) {
    static const std::set<std::string> words = {
        "select",      "from",     "where",     "and",      "or",        "not",       "on",
        "as",          "when",     "then",      "else",     "end",       "is",        "in",
        "like",        "between",  "order",     "group",    "by",        "having",    "union",
        "all",         "distinct", "top",       "percent",  "values",    "set",       "join",
        "inner",       "outer",    "cross",     "full",     "apply",     "into",      "asc",
        "desc",        "escape",   "collate",   "exists",   "insert",    "update",    "delete",
        "declare",     "print",    "if",        "while",    "return",    "begin",     "commit",
        "rollback",    "exec",     "execute",   "over",     "partition", "create",    "alter",
        "drop",        "table",    "view",      "index",    "except",    "intersect", "option",
        "for",         "with",     "ties",      "output",   "use",       "truncate",  "raiserror",
        "waitfor",     "default",  "procedure", "proc",     "rows",      "range",     "tran",
        "transaction", "save",     "break",     "continue", "case",
    };
    return t.kind == TokKind::Word && words.count(toLower(t.text)) > 0;
}

// Functions whose result is an int (count_big: a bigint).
bool isIntegerFunction(const std::string& fn) {
    static const std::set<std::string> names = {
        "count", "count_big", "len",      "datalength", "charindex", "patindex", "year",
        "month", "day",       "datepart", "datediff",   "ascii",     "unicode",
    };
    return names.count(fn) > 0;
}

// Type of a number as written: integers decimal(digits,0), decimals (p,s), floats with an exponent.
Operand numberLiteral(const Token& t) {
    Operand o;
    o.literal = true;
    o.toks = {t};
    const std::string_view s = t.text;
    if (s.find_first_of("eE") != std::string_view::npos) {
        o.kind = Kind::Float;
        return o;
    }
    const std::size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    const std::size_t lead = whole.find_first_not_of('0');
    const int intDigits = lead == std::string_view::npos ? 0 : int(whole.size() - lead);
    const int scale = dot == std::string_view::npos ? 0 : int(s.size() - dot - 1);
    const int precision = std::max(1, intDigits + scale);
    if (precision > 38)
        return o;
    // An integer beyond bigint is a decimal of its own, as in SQL Server.
    const bool beyondBigint =
        intDigits > 19 || (intDigits == 19 && whole.substr(lead) > "9223372036854775807");
    o.kind = dot == std::string_view::npos && !beyondBigint ? Kind::Integer : Kind::Exact;
    o.type = decimalType(precision, scale);
    return o;
}

// Columns of the statement's tables by bare name (lower case); a name with
// different types in two tables stays unknown.
ColumnTypes statementColumns(const std::vector<Token>& toks, std::size_t first, std::size_t last,
                             const TranslateContext& ctx) {
    ColumnTypes columns;
    if (!ctx.columnTypes)
        return columns;
    for (const auto& [schema, table] : statementTables(toks, first, last, ctx))
        for (const auto& [name, type] : ctx.columnTypes(schema, table)) {
            const auto [it, added] = columns.emplace(name, type);
            if (!added && it->second && typeName(*it->second) != typeName(type))
                it->second.reset();
        }
    return columns;
}

class Rewriter {
public:
    Rewriter(const std::vector<Token>& toks, const TranslateContext& ctx,
             const ColumnTypes& columns)
        : m_toks(toks), m_ctx(ctx), m_columns(columns) {}

    // Tokens [b, e) with every expression in them rewritten.
    std::vector<Token> region(std::size_t b, std::size_t e) {
        std::vector<Token> out;
        for (std::size_t i = b; i < e;) {
            if (auto o = expression(i, e)) {
                out.insert(out.end(), o->toks.begin(), o->toks.end());
                continue;
            }
            out.push_back(m_toks[i++]);
        }
        return out;
    }

    // The tokens [b, e) as one expression when they are one, else as a
    // region. What was read is not read again: nested parentheses that hold
    // no single expression would otherwise cost twice per level.
    Operand whole(std::size_t b, std::size_t e) {
        std::size_t i = b;
        auto o = expression(i, e);
        if (o && i == e)
            return *o;
        Operand r;
        if (o)
            r.toks = std::move(o->toks);
        else if (i < e)
            r.toks.push_back(m_toks[i++]);
        const auto rest = region(i, e);
        r.toks.insert(r.toks.end(), rest.begin(), rest.end());
        return r;
    }

private:
    static bool isOp(const Token& t, std::string_view ops) {
        return t.kind == TokKind::Op && t.text.size() == 1 &&
               ops.find(t.text[0]) != std::string_view::npos;
    }

    // term (('+' | '-' | '&' | '|' | '^') term)*, left to right: SQL Server
    // puts the bitwise operators on the level of + and -, SQLite below them
    // (5 & 3 + 1 is 2 there, 4 here). A chain with a text operand
    // concatenates and is left as written.
    std::optional<Operand> expression(std::size_t& i, std::size_t e) {
        std::vector<Operand> terms;
        std::vector<Token> ops;
        auto first = term(i, e);
        if (!first)
            return std::nullopt;
        terms.push_back(std::move(*first));
        while (i + 1 < e && isOp(m_toks[i], "+-&|^")) {
            std::size_t j = i + 1;
            auto next = term(j, e);
            if (!next)
                break;
            ops.push_back(m_toks[i]);
            terms.push_back(std::move(*next));
            i = j;
        }
        const bool text = std::any_of(terms.begin(), terms.end(),
                                      [](const Operand& o) { return o.kind == Kind::Text; });
        Operand acc = std::move(terms[0]);
        for (std::size_t k = 0; k < ops.size(); ++k) {
            if (text) {
                acc.toks.push_back(ops[k]);
                acc.toks.insert(acc.toks.end(), terms[k + 1].toks.begin(), terms[k + 1].toks.end());
                acc.kind = Kind::Text;
                acc.literal = false;
            } else if (isOp(ops[k], "&|^")) {
                acc = bitwise(ops[k].text[0], std::move(acc), std::move(terms[k + 1]));
            } else {
                acc = binary(ops[k], std::move(acc), std::move(terms[k + 1]));
            }
        }
        return acc;
    }

    // a & b, a | b in parentheses of their own, so that SQLite does them in
    // the place SQL Server does; a ^ b (which SQLite lacks) as (a | b) - (a & b).
    Operand bitwise(char op, Operand a, Operand b) {
        auto grouped = [](std::vector<Token>& out, const std::vector<Token>& in) {
            out.push_back(synthetic(TokKind::Punct, "("));
            out.insert(out.end(), in.begin(), in.end());
            out.push_back(synthetic(TokKind::Punct, ")"));
        };
        auto pair = [&](std::vector<Token>& out, std::string_view o) {
            out.push_back(synthetic(TokKind::Punct, "("));
            grouped(out, a.toks);
            out.push_back(synthetic(TokKind::Op, o));
            grouped(out, b.toks);
            out.push_back(synthetic(TokKind::Punct, ")"));
        };
        Operand r;
        r.computed = true;
        if (op == '^') {
            r.toks.push_back(synthetic(TokKind::Punct, "("));
            pair(r.toks, "|");
            r.toks.push_back(synthetic(TokKind::Op, "-"));
            pair(r.toks, "&");
            r.toks.push_back(synthetic(TokKind::Punct, ")"));
        } else {
            pair(r.toks, op == '&' ? "&" : "|");
        }
        if (a.kind == Kind::Integer && b.kind == Kind::Integer)
            r = Operand{Kind::Integer, a.type.precision >= b.type.precision ? a.type : b.type,
                        std::move(r.toks), true};
        return r;
    }

    // unary (('*' | '/' | '%') unary)*
    std::optional<Operand> term(std::size_t& i, std::size_t e) {
        auto acc = unary(i, e);
        if (!acc)
            return std::nullopt;
        while (i + 1 < e && isOp(m_toks[i], "*/%")) {
            std::size_t j = i + 1;
            auto next = unary(j, e);
            if (!next)
                break;
            acc = binary(m_toks[i], std::move(*acc), std::move(*next));
            i = j;
        }
        return acc;
    }

    std::optional<Operand> unary(std::size_t& i, std::size_t e) {
        if (i < e && isOp(m_toks[i], "+-")) {
            std::size_t j = i + 1;
            auto o = unary(j, e);
            if (!o)
                return std::nullopt;
            const Token sign = m_toks[i];
            i = j;
            // A signed literal keeps its sign; "+x" is x.
            if (o->literal || sign.text == "+" || o->kind != Kind::Exact) {
                o->toks.insert(o->toks.begin(), sign);
                // "+d" is computed: its value is no longer the column's.
                o->computed = o->computed || (o->kind == Kind::Exact && !o->literal);
                o->literal = o->literal && sign.text == "-";
                if (o->kind == Kind::Text)
                    o->kind = Kind::Unknown;
                return o;
            }
            const ColumnType t = o->type;
            return call("tds_neg", {std::move(*o)}, t, {scaleOf(t)});
        }
        return primary(i, e);
    }

    std::optional<Operand> primary(std::size_t& i, std::size_t e) {
        if (i >= e)
            return std::nullopt;
        const Token& t = m_toks[i];
        Operand o;
        switch (t.kind) {
        case TokKind::Number:
            ++i;
            return numberLiteral(t);
        case TokKind::String:
        case TokKind::NString:
            o.kind = Kind::Text;
            [[fallthrough]];
        case TokKind::Binary:
        case TokKind::Global:
            o.toks = {t};
            ++i;
            return o;
        case TokKind::Variable: {
            if (m_ctx.variableType)
                if (const auto vt = m_ctx.variableType(toLower(t.text)))
                    o = typed(*vt);
            o.toks = {t};
            ++i;
            return o;
        }
        case TokKind::Punct:
            if (isPunctTok(t, '('))
                return parenthesised(i, e);
            return std::nullopt;
        case TokKind::Word:
            if (t.is("case"))
                return caseExpression(i, e);
            if (isKeyword(t))
                return std::nullopt;
            [[fallthrough]];
        case TokKind::Quoted:
            return nameOrCall(i, e);
        default:
            return std::nullopt;
        }
    }

    std::optional<Operand> parenthesised(std::size_t& i, std::size_t e) {
        const std::size_t close = matchingParen(m_toks, i, e);
        if (close >= e)
            return std::nullopt;
        Operand o;
        if (i + 1 < close && m_toks[i + 1].kind == TokKind::Word &&
            m_toks[i + 1].isAny({"select", "with"}))
            o.toks = region(i + 1, close); // a subquery
        else
            o = whole(i + 1, close);
        o.toks.insert(o.toks.begin(), m_toks[i]);
        o.toks.push_back(m_toks[close]);
        o.literal = false;
        i = close + 1;
        return o;
    }

    std::optional<Operand> caseExpression(std::size_t& i, std::size_t e) {
        int depth = 0;
        std::size_t end = i;
        for (; end < e; ++end) {
            if (isWordTok(m_toks[end], "case"))
                ++depth;
            else if (isWordTok(m_toks[end], "end") && --depth == 0)
                break;
        }
        if (end >= e)
            return std::nullopt;
        Operand o;
        o.toks.push_back(m_toks[i]);
        const auto inner = region(i + 1, end);
        o.toks.insert(o.toks.end(), inner.begin(), inner.end());
        o.toks.push_back(m_toks[end]);
        i = end + 1;
        return o;
    }

    std::optional<Operand> nameOrCall(std::size_t& i, std::size_t e) {
        std::size_t j = i + 1;
        while (j + 1 < e && isPunctTok(m_toks[j], '.') && m_toks[j + 1].isName())
            j += 2;
        if (j < e && isPunctTok(m_toks[j], '(')) {
            const std::size_t close = matchingParen(m_toks, j, e);
            if (close >= e)
                return std::nullopt;
            auto o = functionCall(i, j, close);
            i = close + 1;
            // An aggregate's OVER (...) belongs to it.
            if (i + 1 < e && isWordTok(m_toks[i], "over") && isPunctTok(m_toks[i + 1], '(')) {
                const std::size_t end = matchingParen(m_toks, i + 1, e);
                if (end < e) {
                    const auto window = region(i + 1, end + 1);
                    o.toks.push_back(m_toks[i]);
                    o.toks.insert(o.toks.end(), window.begin(), window.end());
                    i = end + 1;
                }
            }
            return o;
        }
        Operand o;
        if (auto it = m_columns.find(toLower(m_toks[j - 1].value()));
            it != m_columns.end() && it->second)
            o = typed(*it->second);
        o.toks.assign(m_toks.begin() + std::ptrdiff_t(i), m_toks.begin() + std::ptrdiff_t(j));
        i = j;
        return o;
    }

    // name ( args ) with the name at toks[from, open) and the ')' at close.
    Operand functionCall(std::size_t from, std::size_t open, std::size_t close) {
        const std::string fn = open == from + 1 ? toLower(m_toks[from].text) : std::string();
        if (fn == "cast" || fn == "convert")
            return conversion(fn == "cast", from, open, close);
        std::vector<Operand> args;
        std::size_t start = open + 1;
        for (std::size_t k = open + 1; k <= close; ++k) {
            if (isPunctTok(m_toks[k], '(')) {
                k = matchingParen(m_toks, k, close);
                continue;
            }
            if (k == close || isPunctTok(m_toks[k], ',')) {
                if (k > start || k != close)
                    args.push_back(whole(start, k));
                start = k + 1;
            }
        }
        // SUM(DISTINCT x), AVG(DISTINCT x): the DISTINCT stays in front of x.
        if ((fn == "sum" || fn == "avg") && args.size() == 1 && open + 2 < close &&
            isWordTok(m_toks[open + 1], "distinct")) {
            args[0] = whole(open + 2, close);
            args[0].toks.insert(args[0].toks.begin(), m_toks[open + 1]);
        }
        const bool oneExact = args.size() == 1 && args[0].kind == Kind::Exact;
        if (oneExact && (fn == "sum" || fn == "avg")) {
            const ColumnType& t = args[0].type;
            const bool avg = fn == "avg";
            ColumnType r;
            if (isMoney(t.type))
                r.type = SqlType::Money;
            else
                r = decimalType(38, avg ? std::max(t.scale, 6) : t.scale);
            return call(aggregateName(avg, t.scale, isMoney(t.type)), std::move(args), r, {},
                        false);
        }
        if (oneExact && (fn == "abs" || fn == "ceiling" || fn == "floor")) {
            ColumnType r = args[0].type;
            if (fn != "abs" && !isMoney(r.type))
                r = decimalType(r.precision, 0);
            const int scale = scaleOf(args[0].type);
            const std::string_view name = fn == "abs"       ? "tds_abs"
                                          : fn == "ceiling" ? "tds_ceiling"
                                                            : "tds_floor";
            return call(name, std::move(args), r, {scale});
        }
        if (fn == "round" && (args.size() == 2 || args.size() == 3) &&
            args[0].kind == Kind::Exact) {
            const ColumnType r = args[0].type;
            if (args.size() == 2)
                args.push_back(Operand{Kind::Integer, {}, {numberToken(0)}, false, true});
            return call("tds_round", std::move(args), r, {scaleOf(r)});
        }
        Operand o;
        o.toks.assign(m_toks.begin() + std::ptrdiff_t(from), m_toks.begin() + std::ptrdiff_t(open));
        o.toks.push_back(m_toks[open]);
        for (std::size_t k = 0; k < args.size(); ++k) {
            if (k)
                o.toks.push_back(synthetic(TokKind::Punct, ","));
            o.toks.insert(o.toks.end(), args[k].toks.begin(), args[k].toks.end());
        }
        o.toks.push_back(m_toks[close]);
        if ((fn == "min" || fn == "max" || fn == "isnull" || fn == "coalesce") && !args.empty() &&
            args[0].kind == Kind::Exact) {
            o.kind = Kind::Exact;
            o.type = args[0].type;
            o.computed = true;
        } else if (isIntegerFunction(fn)) {
            o.kind = Kind::Integer;
            o.type = decimalType(fn == "count_big" ? 19 : 10, 0);
        }
        return o;
    }

    // CAST(x AS type) and CONVERT(type, x [, style]): x is rewritten, the type read.
    Operand conversion(bool cast, std::size_t from, std::size_t open, std::size_t close) {
        std::size_t split = close; // CAST: the AS; CONVERT: the ',' after the type
        for (std::size_t k = open + 1; k < close; ++k) {
            if (isPunctTok(m_toks[k], '('))
                k = matchingParen(m_toks, k, close);
            else if (cast ? isWordTok(m_toks[k], "as") : isPunctTok(m_toks[k], ','))
                if (split == close)
                    split = k;
        }
        std::string typeText;
        const std::size_t typeFrom = cast ? split + 1 : open + 1;
        const std::size_t typeTo = cast ? close : split;
        for (std::size_t k = typeFrom; k < typeTo && k < close; ++k)
            typeText += std::string(m_toks[k].text) + " ";
        Operand o;
        if (const auto t = parseDeclType(typeText))
            o = typed(*t);
        o.computed = true;
        o.toks.push_back(m_toks[from]);
        const std::size_t exprFrom = cast ? open + 1 : std::min(split + 1, close);
        const std::size_t exprTo = cast ? split : close;
        for (std::size_t k = open; k < exprFrom; ++k)
            o.toks.push_back(m_toks[k]);
        const auto inner = region(exprFrom, std::min(exprTo, close));
        o.toks.insert(o.toks.end(), inner.begin(), inner.end());
        for (std::size_t k = std::min(exprTo, close); k <= close; ++k)
            o.toks.push_back(m_toks[k]);
        return o;
    }

    // a op b: a call of the exact function when one side is exact and the
    // other exact or an integer; otherwise the operation as written.
    Operand binary(const Token& op, Operand a, Operand b) {
        const bool exact = (a.kind == Kind::Exact || b.kind == Kind::Exact) &&
                           (a.kind == Kind::Exact || a.kind == Kind::Integer) &&
                           (b.kind == Kind::Exact || b.kind == Kind::Integer);
        const char o = op.text[0];
        if (exact) {
            ColumnType r;
            const bool decimal = (a.kind == Kind::Exact && a.type.type == SqlType::Decimal) ||
                                 (b.kind == Kind::Exact && b.type.type == SqlType::Decimal);
            int sa = a.type.scale, sb = b.type.scale;
            if (decimal) {
                r = decimalResultType(o, asDecimal(a.type), asDecimal(b.type));
                sa = asDecimal(a.type).scale;
                sb = asDecimal(b.type).scale;
            } else {
                // Money with money or an integer stays money; smallmoney only among itself.
                const bool small = (a.kind != Kind::Exact || a.type.type == SqlType::SmallMoney) &&
                                   (b.kind != Kind::Exact || b.type.type == SqlType::SmallMoney);
                r.type = small ? SqlType::SmallMoney : SqlType::Money;
                sa = a.kind == Kind::Exact ? 4 : 0;
                sb = b.kind == Kind::Exact ? 4 : 0;
            }
            static constexpr std::string_view names[] = {"tds_add", "tds_sub", "tds_mul", "tds_div",
                                                         "tds_mod"};
            const std::size_t which = std::string_view("+-*/%").find(o);
            return call(names[which], {std::move(a), std::move(b)}, r, {sa, sb});
        }
        Operand r;
        if (o == '/' || o == '%') {
            // SQLite divides by zero into NULL; SQL Server fails with 8134.
            r.toks.push_back(synthetic(TokKind::Word, o == '/' ? "tds_divide" : "tds_remainder"));
            r.toks.push_back(synthetic(TokKind::Punct, "("));
            r.toks.insert(r.toks.end(), a.toks.begin(), a.toks.end());
            r.toks.push_back(synthetic(TokKind::Punct, ","));
            r.toks.insert(r.toks.end(), b.toks.begin(), b.toks.end());
            r.toks.push_back(synthetic(TokKind::Punct, ")"));
        } else {
            r.toks = std::move(a.toks);
            r.toks.push_back(op);
            r.toks.insert(r.toks.end(), b.toks.begin(), b.toks.end());
        }
        if (a.kind == Kind::Float || b.kind == Kind::Float)
            r.kind = Kind::Float;
        else if (a.kind == Kind::Integer && b.kind == Kind::Integer)
            r = Operand{Kind::Integer, a.type.precision >= b.type.precision ? a.type : b.type,
                        std::move(r.toks)};
        r.computed = true;
        return r;
    }

    // fn(args..., scales..., precision, scale, money kind): the result type's
    // parts follow the operands so that the function rounds and checks them.
    // Aggregates take their one argument alone (their name says the scale):
    // SQLite allows DISTINCT only there.
    Operand call(std::string_view fn, std::vector<Operand> args, const ColumnType& result,
                 std::initializer_list<int> scales, bool typeArgs = true) {
        Operand o;
        o.kind = Kind::Exact;
        o.type = result;
        o.computed = true;
        o.toks.push_back(synthetic(TokKind::Word, fn));
        o.toks.push_back(synthetic(TokKind::Punct, "("));
        bool firstArg = true;
        auto comma = [&] {
            if (!firstArg)
                o.toks.push_back(synthetic(TokKind::Punct, ","));
            firstArg = false;
        };
        for (auto& a : args) {
            comma();
            o.toks.insert(o.toks.end(), a.toks.begin(), a.toks.end());
        }
        if (typeArgs) {
            for (int s : scales) {
                comma();
                o.toks.push_back(numberToken(s));
            }
            const bool money = isMoney(result.type);
            comma();
            o.toks.push_back(numberToken(money ? 19 : result.precision));
            comma();
            o.toks.push_back(numberToken(money ? 4 : result.scale));
            comma();
            o.toks.push_back(numberToken(moneyKind(result)));
        }
        o.toks.push_back(synthetic(TokKind::Punct, ")"));
        return o;
    }

    const std::vector<Token>& m_toks;
    const TranslateContext& m_ctx;
    const ColumnTypes& m_columns;
};

} // namespace

ColumnType decimalResultType(char op, const ColumnType& a, const ColumnType& b) {
    const int p1 = a.precision, s1 = a.scale, p2 = b.precision, s2 = b.scale;
    int p = 0, s = 0;
    switch (op) {
    case '*':
        p = p1 + p2 + 1;
        s = s1 + s2;
        break;
    case '/':
        s = std::max(6, s1 + p2 + 1);
        p = p1 - s1 + s2 + s;
        break;
    case '%':
        s = std::max(s1, s2);
        p = std::min(p1 - s1, p2 - s2) + s;
        break;
    default: // + -
        s = std::max(s1, s2);
        p = s + std::max(p1 - s1, p2 - s2) + 1;
        break;
    }
    if (p > 38) {
        // Keep the integral digits; give up decimals down to 6 (or fewer when
        // the operands had fewer).
        const int integral = p - s;
        s = std::max(38 - integral, std::min(s, 6));
        p = 38;
    }
    return decimalType(std::max(p, 1), s);
}

std::size_t rewriteExactArithmetic(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                   const TranslateContext& ctx) {
    last = std::min(last, toks.size());
    // Most statements do no arithmetic: spare them the look-up of column types.
    const bool arithmetic = std::any_of(
        toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last),
        [](const Token& t) {
            return (t.kind == TokKind::Op && t.text.size() == 1 &&
                    std::string_view("+-*/%&|^").find(t.text[0]) != std::string_view::npos) ||
                   (t.kind == TokKind::Word &&
                    t.isAny({"sum", "avg", "abs", "round", "ceiling", "floor"}));
        });
    if (!arithmetic)
        return last;
    const ColumnTypes columns = statementColumns(toks, first, last, ctx);
    std::vector<Token> out = Rewriter(toks, ctx, columns).region(first, last);
    const std::size_t newLast = first + out.size();
    toks.erase(toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last));
    toks.insert(toks.begin() + std::ptrdiff_t(first), out.begin(), out.end());
    return newLast;
}

ExactTyper::ExactTyper(const std::vector<Token>& toks, TranslateContext ctx)
    : m_toks(toks), m_ctx(std::move(ctx)) {}

std::optional<ColumnType> ExactTyper::type(std::size_t first, std::size_t last) {
    if (!m_columns)
        m_columns = statementColumns(m_toks, 0, m_toks.size(), m_ctx);
    const Operand o = Rewriter(m_toks, m_ctx, *m_columns).whole(first, last);
    if (o.kind != Kind::Exact || !o.computed)
        return std::nullopt;
    return o.type;
}

} // namespace tds::sql
