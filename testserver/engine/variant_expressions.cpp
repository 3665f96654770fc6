#include "testserver/engine/variant_expressions.h"

#include "testserver/engine/arithmetic.h"
#include "testserver/engine/types.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace tds::sql {

namespace {

bool isArithmetic(const Token& t) {
    return t.kind == TokKind::Op &&
           (t.text == "+" || t.text == "-" || t.text == "*" || t.text == "/" || t.text == "%");
}

// Operators that bind tighter than a comparison: arithmetic and bitwise.
bool isOperandOperator(const Token& t) {
    return isArithmetic(t) ||
           (t.kind == TokKind::Op && (t.text == "&" || t.text == "|" || t.text == "^"));
}

bool isComparison(const Token& t) {
    if (t.kind != TokKind::Op)
        return false;
    for (std::string_view op : {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"})
        if (t.text == op)
            return true;
    return false;
}

// Words of the language that never name a column or a function.
bool isKeyword(const Token& t) {
    return t.kind == TokKind::Word &&
           t.isAny({"select", "from",    "where", "and",     "or",     "not",      "when",
                    "then",   "else",    "case",  "end",     "on",     "having",   "if",
                    "while",  "return",  "set",   "between", "in",     "like",     "is",
                    "print",  "values",  "by",    "as",      "exists", "distinct", "top",
                    "into",   "join",    "group", "order",   "union",  "all",      "escape",
                    "null",   "collate", "begin", "declare", "update", "delete",   "insert",
                    "output", "with",    "any",   "some"});
}

// Whether toks[k] can end an operand: a value, a name, ')' or the END of a CASE.
bool endsPrimary(const Token& t) {
    switch (t.kind) {
    case TokKind::String:
    case TokKind::NString:
    case TokKind::Number:
    case TokKind::Binary:
    case TokKind::Variable:
    case TokKind::Global:
    case TokKind::Quoted:
        return true;
    case TokKind::Word:
        return !isKeyword(t) || t.is("end") || t.is("null");
    case TokKind::Punct:
        return t.text == ")";
    default:
        return false;
    }
}

class Scanner {
public:
    Scanner(const std::vector<Token>& toks, std::size_t first, std::size_t last)
        : m_toks(toks), m_first(first), m_last(last) {}

    // The first token of the operand that ends with toks[k] (an endsPrimary
    // token), or nothing.
    std::optional<std::size_t> primaryStart(std::size_t k) const {
        const Token& t = m_toks[k];
        std::size_t s = k;
        if (isPunctTok(t, ')')) {
            int depth = 0;
            for (s = k + 1; s-- > m_first;) {
                depth += isPunctTok(m_toks[s], ')') ? 1 : isPunctTok(m_toks[s], '(') ? -1 : 0;
                if (depth == 0)
                    break;
            }
            if (depth != 0)
                return std::nullopt;
            // A function's name, perhaps qualified.
            if (s > m_first && m_toks[s - 1].isName() && !isKeyword(m_toks[s - 1]))
                s = nameStart(s - 1);
            return s;
        }
        if (isWordTok(t, "end")) {
            int depth = 0;
            for (s = k + 1; s-- > m_first;) {
                depth += isWordTok(m_toks[s], "end") ? 1 : isWordTok(m_toks[s], "case") ? -1 : 0;
                if (depth == 0)
                    return s;
            }
            return std::nullopt;
        }
        if (t.isName())
            return nameStart(k);
        return endsPrimary(t) ? std::optional<std::size_t>(k) : std::nullopt;
    }

    // The first token of the operand left of toks[op]: primaries joined by
    // arithmetic or bitwise operators, perhaps signed.
    std::optional<std::size_t> leftOperand(std::size_t op) const {
        if (op <= m_first || !endsPrimary(m_toks[op - 1]))
            return std::nullopt;
        auto s = primaryStart(op - 1);
        while (s && *s > m_first && isOperandOperator(m_toks[*s - 1])) {
            if (*s - 1 > m_first && endsPrimary(m_toks[*s - 2]))
                s = primaryStart(*s - 2);
            else {
                s = *s - 1; // a sign
                break;
            }
        }
        return s;
    }

    // The end (one past) of the operand that starts at toks[b], or nothing.
    std::optional<std::size_t> rightOperand(std::size_t b) const {
        auto e = primaryEnd(b);
        while (e && *e < m_last && isOperandOperator(m_toks[*e]))
            e = primaryEnd(*e + 1);
        return e;
    }

    std::optional<std::size_t> primaryEnd(std::size_t b) const {
        if (b >= m_last)
            return std::nullopt;
        const Token& t = m_toks[b];
        if (t.kind == TokKind::Op && (t.text == "-" || t.text == "+" || t.text == "~"))
            return primaryEnd(b + 1);
        std::optional<std::size_t> e;
        if (isPunctTok(t, '(')) {
            const std::size_t close = matchingParen(m_toks, b, m_last);
            if (close >= m_last)
                return std::nullopt;
            e = close + 1;
        } else if (isWordTok(t, "case")) {
            int depth = 0;
            for (std::size_t k = b; k < m_last; ++k) {
                depth += isWordTok(m_toks[k], "case") ? 1 : isWordTok(m_toks[k], "end") ? -1 : 0;
                if (depth == 0) {
                    e = k + 1;
                    break;
                }
            }
        } else if (t.isName() && !isKeyword(t)) {
            std::size_t k = b + 1;
            while (k + 1 < m_last && isPunctTok(m_toks[k], '.') && m_toks[k + 1].isName())
                k += 2;
            if (k < m_last && isPunctTok(m_toks[k], '(')) {
                const std::size_t close = matchingParen(m_toks, k, m_last);
                if (close >= m_last)
                    return std::nullopt;
                k = close + 1;
            }
            e = k;
        } else if (isWordTok(t, "null") || (endsPrimary(t) && !t.isName() && !isPunctTok(t, ')'))) {
            e = b + 1;
        }
        // COLLATE name belongs to the operand it follows.
        if (e && *e + 1 < m_last && isWordTok(m_toks[*e], "collate") && m_toks[*e + 1].isName())
            *e += 2;
        return e;
    }

private:
    std::size_t nameStart(std::size_t k) const {
        while (k >= m_first + 2 && isPunctTok(m_toks[k - 1], '.') && m_toks[k - 2].isName())
            k -= 2;
        return k;
    }

    const std::vector<Token>& m_toks;
    std::size_t m_first, m_last;
};

// Precedence among the types arithmetic combines (higher wins), SQL Server's order.
int precedence(SqlType t) {
    switch (t) {
    case SqlType::DateTime:
        return 20;
    case SqlType::SmallDateTime:
        return 19;
    case SqlType::Float:
        return 18;
    case SqlType::Real:
        return 17;
    case SqlType::Decimal:
        return 16;
    case SqlType::Money:
        return 15;
    case SqlType::SmallMoney:
        return 14;
    case SqlType::BigInt:
        return 13;
    case SqlType::Int:
        return 12;
    case SqlType::SmallInt:
        return 11;
    case SqlType::TinyInt:
        return 10;
    case SqlType::Bit:
        return 9;
    case SqlType::NVarChar:
        return 4;
    case SqlType::NChar:
        return 3;
    case SqlType::VarChar:
        return 2;
    case SqlType::Char:
        return 1;
    default:
        return -1;
    }
}

// An exact operand as a decimal: integers by their digits, money as (19,4).
ColumnType asDecimal(const ColumnType& t) {
    ColumnType d;
    d.type = SqlType::Decimal;
    switch (t.type) {
    case SqlType::Decimal:
        return t;
    case SqlType::Money:
        d.precision = 19, d.scale = 4;
        break;
    case SqlType::SmallMoney:
        d.precision = 10, d.scale = 4;
        break;
    case SqlType::BigInt:
        d.precision = 19;
        break;
    case SqlType::SmallInt:
        d.precision = 5;
        break;
    case SqlType::TinyInt:
        d.precision = 3;
        break;
    default:
        d.precision = 10;
        break;
    }
    return d;
}

std::optional<ColumnType> combine(char op, const ColumnType& a, const ColumnType& b) {
    const int pa = precedence(a.type), pb = precedence(b.type);
    if (pa < 0 || pb < 0)
        return std::nullopt;
    if (op == '+' && pa <= 4 && pb <= 4) {
        // Concatenation: the national type if either is, the lengths added.
        ColumnType t = pa >= pb ? a : b;
        const bool national = std::max(pa, pb) >= 3;
        t.type = national ? SqlType::NVarChar : SqlType::VarChar;
        const int limit = national ? 4000 : 8000;
        t.length = a.length < 0 || b.length < 0 ? -1 : std::min(limit, a.length + b.length);
        return t;
    }
    if (op == '%' && (a.type == SqlType::Float || b.type == SqlType::Float ||
                      a.type == SqlType::Real || b.type == SqlType::Real))
        return std::nullopt;
    const ColumnType& high = pa >= pb ? a : b;
    if (high.type == SqlType::Decimal)
        return decimalResultType(op, asDecimal(a), asDecimal(b));
    if (precedence(high.type) <= 4)
        return std::nullopt; // text with text, other than '+'
    return high;
}

const char* operatorName(std::string_view op) {
    if (op == "+")
        return "add";
    if (op == "-")
        return "subtract";
    if (op == "*")
        return "multiply";
    if (op == "/")
        return "divide";
    return "modulo";
}

bool isVariantType(const std::optional<ColumnType>& t) {
    return t && t->type == SqlType::SqlVariant;
}

// Whether the statement deals with sql_variant values at all: the type's
// name, a sql_variant variable, or a sql_variant column of its tables.
} // namespace

bool involvesVariant(const std::vector<Token>& toks, std::size_t first, std::size_t last,
                     const TranslateContext& ctx) {
    for (std::size_t k = first; k < last; ++k) {
        if (isWordTok(toks[k], "sql_variant"))
            return true;
        if (toks[k].kind == TokKind::Variable && ctx.variableType)
            if (isVariantType(ctx.variableType(toLower(toks[k].text))))
                return true;
    }
    for (const auto& [schema, table] : statementTables(toks, first, last, ctx)) {
        if (ctx.hasVariantColumn) {
            if (ctx.hasVariantColumn(schema, table))
                return true;
        } else if (ctx.columnTypes) {
            for (const auto& [name, type] : ctx.columnTypes(schema, table))
                if (type.type == SqlType::SqlVariant)
                    return true;
        }
    }
    return false;
}

namespace {

class VariantRewriter {
public:
    VariantRewriter(std::vector<Token>& toks, std::size_t first, std::size_t last,
                    const TranslateContext& ctx, std::optional<Message>& error)
        : m_toks(toks), m_first(first), m_last(last), m_ctx(ctx), m_error(error) {}

    std::size_t run() {
        // One rewrite at a time, each leaving no comparison with a variant
        // behind, until none is left.
        for (int guard = 0; guard < 10000 && rewriteOne(); ++guard) {
        }
        if (!m_error)
            m_error = operatorError();
        return m_last;
    }

private:
    Scanner scanner() const { return Scanner(m_toks, m_first, m_last); }

    bool variantAt(std::size_t b, std::size_t e) const {
        return b < e && isVariantType(operandType(m_toks, b, e, m_ctx));
    }

    // Appends tds_variant_cmp(left, right), each side made a sql_variant.
    void appendCompare(std::vector<Token>& out, std::pair<std::size_t, std::size_t> l,
                       std::pair<std::size_t, std::size_t> r) const {
        out.push_back(madeToken(TokKind::Word, "tds_variant_cmp"));
        out.push_back(madeToken(TokKind::Punct, "("));
        appendAsVariant(out, m_toks, l.first, l.second, m_ctx);
        out.push_back(madeToken(TokKind::Punct, ","));
        appendAsVariant(out, m_toks, r.first, r.second, m_ctx);
        out.push_back(madeToken(TokKind::Punct, ")"));
    }

    void replace(std::size_t b, std::size_t e, const std::vector<Token>& with) {
        m_toks.erase(m_toks.begin() + std::ptrdiff_t(b), m_toks.begin() + std::ptrdiff_t(e));
        m_toks.insert(m_toks.begin() + std::ptrdiff_t(b), with.begin(), with.end());
        m_last = m_last - (e - b) + with.size();
    }

    // An '=' that assigns (SET c = x, SELECT @v = x, SELECT name = x) rather than compares.
    bool assigns(std::size_t leftStart) const {
        if (leftStart == 0)
            return true;
        const Token& before = m_toks[leftStart - 1];
        return !(isPunctTok(before, '(') ||
                 (before.kind == TokKind::Word &&
                  before.isAny({"where", "and", "or", "not", "on", "having", "when", "if", "while",
                                "return"})));
    }

    bool rewriteOne() {
        const Scanner sc = scanner();
        for (std::size_t i = m_first; i < m_last; ++i) {
            const Token& t = m_toks[i];
            if (isComparison(t) && rewriteComparison(sc, i))
                return true;
            if (isWordTok(t, "in") && rewriteIn(sc, i))
                return true;
            if (isWordTok(t, "between") && rewriteBetween(sc, i))
                return true;
            if (isWordTok(t, "case") && rewriteCase(sc, i))
                return true;
        }
        return false;
    }

    bool rewriteComparison(const Scanner& sc, std::size_t op) {
        const auto lb = sc.leftOperand(op);
        const auto re = sc.rightOperand(op + 1);
        if (!lb || !re)
            return false;
        if (m_toks[op].text == "=" && assigns(*lb)) {
            // SELECT @v = x: x goes into the variable's type; into a
            // sql_variant with its own type as base type.
            if (*lb + 1 != op || m_toks[*lb].kind != TokKind::Variable || !m_ctx.variableType)
                return false;
            const auto type = m_ctx.variableType(toLower(m_toks[*lb].text));
            if (!type)
                return false;
            if (type->type != SqlType::SqlVariant) {
                if (!m_error)
                    m_error = implicitFromVariant(m_toks, op + 1, *re, *type, m_ctx);
                return false;
            }
            if (variantAt(op + 1, *re) || (*re == op + 2 && isWordTok(m_toks[op + 1], "null")))
                return false;
            std::vector<Token> out;
            appendAsVariant(out, m_toks, op + 1, *re, m_ctx);
            replace(op + 1, *re, out);
            return true;
        }
        if (!variantAt(*lb, op) && !variantAt(op + 1, *re))
            return false;
        std::string_view cmp = m_toks[op].text;
        cmp = cmp == "!<" ? ">=" : cmp == "!>" ? "<=" : cmp;
        std::vector<Token> out;
        appendCompare(out, {*lb, op}, {op + 1, *re});
        out.push_back(madeToken(TokKind::Op, cmp));
        out.push_back(madeToken(TokKind::Number, "0"));
        replace(*lb, *re, out);
        return true;
    }

    // x [NOT] IN (a, b, ...) with a list of values.
    bool rewriteIn(const Scanner& sc, std::size_t in) {
        const bool negated = in > m_first && isWordTok(m_toks[in - 1], "not");
        const std::size_t leftEnd = negated ? in - 1 : in;
        const auto lb = sc.leftOperand(leftEnd);
        if (!lb || in + 1 >= m_last || !isPunctTok(m_toks[in + 1], '(') ||
            (in + 2 < m_last && isWordTok(m_toks[in + 2], "select")))
            return false;
        const std::size_t close = matchingParen(m_toks, in + 1, m_last);
        if (close >= m_last)
            return false;
        std::vector<std::pair<std::size_t, std::size_t>> items;
        for (std::size_t b = in + 2; b < close;) {
            const auto e = sc.rightOperand(b);
            if (!e || *e > close || (*e < close && !isPunctTok(m_toks[*e], ',')))
                return false;
            items.emplace_back(b, *e);
            b = *e + 1;
        }
        bool variant = variantAt(*lb, leftEnd);
        for (const auto& [b, e] : items)
            variant = variant || variantAt(b, e);
        if (!variant || items.empty())
            return false;
        std::vector<Token> out;
        if (negated)
            out.push_back(madeToken(TokKind::Word, "NOT"));
        out.push_back(madeToken(TokKind::Punct, "("));
        for (std::size_t n = 0; n < items.size(); ++n) {
            if (n)
                out.push_back(madeToken(TokKind::Word, "OR"));
            appendCompare(out, {*lb, leftEnd}, items[n]);
            out.push_back(madeToken(TokKind::Op, "="));
            out.push_back(madeToken(TokKind::Number, "0"));
        }
        out.push_back(madeToken(TokKind::Punct, ")"));
        replace(*lb, close + 1, out);
        return true;
    }

    // x [NOT] BETWEEN a AND b.
    bool rewriteBetween(const Scanner& sc, std::size_t between) {
        const bool negated = between > m_first && isWordTok(m_toks[between - 1], "not");
        const std::size_t leftEnd = negated ? between - 1 : between;
        const auto lb = sc.leftOperand(leftEnd);
        const auto lowEnd = sc.rightOperand(between + 1);
        if (!lb || !lowEnd || *lowEnd >= m_last || !isWordTok(m_toks[*lowEnd], "and"))
            return false;
        const auto highEnd = sc.rightOperand(*lowEnd + 1);
        if (!highEnd)
            return false;
        if (!variantAt(*lb, leftEnd) && !variantAt(between + 1, *lowEnd) &&
            !variantAt(*lowEnd + 1, *highEnd))
            return false;
        std::vector<Token> out;
        if (negated)
            out.push_back(madeToken(TokKind::Word, "NOT"));
        out.push_back(madeToken(TokKind::Punct, "("));
        appendCompare(out, {*lb, leftEnd}, {between + 1, *lowEnd});
        out.push_back(madeToken(TokKind::Op, ">="));
        out.push_back(madeToken(TokKind::Number, "0"));
        out.push_back(madeToken(TokKind::Word, "AND"));
        appendCompare(out, {*lb, leftEnd}, {*lowEnd + 1, *highEnd});
        out.push_back(madeToken(TokKind::Op, "<="));
        out.push_back(madeToken(TokKind::Number, "0"));
        out.push_back(madeToken(TokKind::Punct, ")"));
        replace(*lb, *highEnd, out);
        return true;
    }

    // CASE x WHEN a THEN ... : the searched form, CASE WHEN x = a THEN ...
    bool rewriteCase(const Scanner& sc, std::size_t kase) {
        const auto xe = sc.rightOperand(kase + 1);
        if (!xe || *xe >= m_last || !isWordTok(m_toks[*xe], "when"))
            return false;
        // The WHEN values at this CASE's level.
        std::vector<std::pair<std::size_t, std::size_t>> whens;
        int depth = 0, parens = 0;
        for (std::size_t k = *xe; k < m_last; ++k) {
            const Token& t = m_toks[k];
            parens += isPunctTok(t, '(') ? 1 : isPunctTok(t, ')') ? -1 : 0;
            if (isWordTok(t, "case"))
                ++depth;
            else if (isWordTok(t, "end") && depth-- == 0)
                break;
            else if (depth == 0 && parens == 0 && isWordTok(t, "when")) {
                const auto we = sc.rightOperand(k + 1);
                if (!we || *we >= m_last || !isWordTok(m_toks[*we], "then"))
                    return false;
                whens.emplace_back(k + 1, *we);
            }
        }
        bool variant = variantAt(kase + 1, *xe);
        for (const auto& [b, e] : whens)
            variant = variant || variantAt(b, e);
        if (!variant || whens.empty())
            return false;
        // Rebuild from the CASE to the last WHEN value, the rest stays.
        std::vector<Token> out{m_toks[kase]};
        std::size_t k = *xe;
        for (const auto& [b, e] : whens) {
            out.insert(out.end(), m_toks.begin() + std::ptrdiff_t(k),
                       m_toks.begin() + std::ptrdiff_t(b)); // ... WHEN
            appendCompare(out, {kase + 1, *xe}, {b, e});
            out.push_back(madeToken(TokKind::Op, "="));
            out.push_back(madeToken(TokKind::Number, "0"));
            k = e;
        }
        replace(kase, k, out);
        return true;
    }

    // The name an error gives the type of toks[b, e): "int", "numeric",
    // "NULL" for the literal; empty when unknown.
    std::string typeNameAt(std::size_t b, std::size_t e) const {
        if (e == b + 1 && isWordTok(m_toks[b], "null"))
            return "NULL";
        const std::string base = variantBaseText(m_toks, b, e, m_ctx);
        if (base.empty())
            return {};
        const auto t = operandType(m_toks, b, e, m_ctx);
        return base.starts_with("numeric") ? std::string("numeric") : baseTypeName(t->type);
    }

    // What SQL Server refuses of a sql_variant without CAST: as an operand of
    // + - * / % (257 towards a numeric operand's type, else 402), of unary
    // minus, SUM and AVG (8117), of LIKE and string functions (8116), and as
    // the argument of functions that take a number or a date (257).
    std::optional<Message> operatorError() const {
        const Scanner sc = scanner();
        for (std::size_t i = m_first; i < m_last; ++i) {
            const Token& t = m_toks[i];
            std::optional<Message> e;
            if (isArithmetic(t) && i > m_first && endsPrimary(m_toks[i - 1]))
                e = binaryError(sc, i);
            else if (isArithmetic(t) && t.text == "-")
                e = unaryError(sc, i);
            else if (isWordTok(t, "like"))
                e = likeError(sc, i);
            else if (t.kind == TokKind::Word && i + 1 < m_last && isPunctTok(m_toks[i + 1], '('))
                e = argumentError(i);
            if (e)
                return e;
        }
        return std::nullopt;
    }

    std::optional<Message> binaryError(const Scanner& sc, std::size_t op) const {
        const auto lb = sc.primaryStart(op - 1);
        const auto re = sc.primaryEnd(op + 1);
        if (!lb || !re)
            return std::nullopt;
        const bool lv = variantAt(*lb, op), rv = variantAt(op + 1, *re);
        if (!lv && !rv)
            return std::nullopt;
        const std::string left = typeNameAt(*lb, op), right = typeNameAt(op + 1, *re);
        const std::string& other = lv ? right : left;
        if (other.empty())
            return std::nullopt;
        const auto otherType =
            lv ? operandType(m_toks, op + 1, *re, m_ctx) : operandType(m_toks, *lb, op, m_ctx);
        const bool numeric =
            otherType && otherType->type != SqlType::Bit &&
            otherType->type != SqlType::SqlVariant &&
            (isExactNumericType(otherType->type) || isIntegerType(otherType->type) ||
             otherType->type == SqlType::Float || otherType->type == SqlType::Real);
        if (numeric && m_toks[op].text != "%")
            return implicitTo(other);
        return errorMessage(402, 16,
                            "The data types " + left + " and " + right +
                                " are incompatible in the " + operatorName(m_toks[op].text) +
                                " operator.",
                            1);
    }

    std::optional<Message> unaryError(const Scanner& sc, std::size_t op) const {
        const auto e = sc.primaryEnd(op + 1);
        if (!e || !variantAt(op + 1, *e))
            return std::nullopt;
        return operandInvalid("minus");
    }

    std::optional<Message> likeError(const Scanner& sc, std::size_t like) const {
        const std::size_t leftEnd =
            like > m_first && isWordTok(m_toks[like - 1], "not") ? like - 1 : like;
        const auto lb = sc.leftOperand(leftEnd);
        const auto re = sc.rightOperand(like + 1);
        if (lb && variantAt(*lb, leftEnd))
            return argumentInvalid(1, "like");
        if (re && variantAt(like + 1, *re))
            return argumentInvalid(2, "like");
        return std::nullopt;
    }

    // A function's arguments: 8116 for the string functions, 257 towards
    // the type of a numeric or date parameter; SUM and AVG 8117.
    std::optional<Message> argumentError(std::size_t name) const {
        const std::size_t open = name + 1;
        const std::size_t close = matchingParen(m_toks, open, m_last);
        if (close >= m_last)
            return std::nullopt;
        std::vector<std::pair<std::size_t, std::size_t>> args;
        for (std::size_t b = open + 1, depth = 0, k = open + 1; k <= close; ++k) {
            if (k < close && isPunctTok(m_toks[k], '('))
                ++depth;
            else if (k < close && isPunctTok(m_toks[k], ')'))
                --depth;
            else if (k == close || (depth == 0 && isPunctTok(m_toks[k], ','))) {
                args.emplace_back(b, k);
                b = k + 1;
            }
        }
        const std::string fn = toLower(m_toks[name].text);
        for (std::size_t n = 0; n < args.size(); ++n) {
            if (!variantAt(args[n].first, args[n].second))
                continue;
            const int arg = int(n) + 1;
            if (const char* target = parameterType(fn, arg))
                return implicitTo(target);
            if (fn == "sum" || fn == "avg")
                return operandInvalid(fn);
            if (takesText(fn))
                return argumentInvalid(arg, fn);
            if (fn == "concat" || fn == "concat_ws" || (fn == "charindex" && arg == 2)) {
                // Character data: national when another argument is.
                bool national = false;
                for (const auto& [b, e] : args)
                    if (const auto t = operandType(m_toks, b, e, m_ctx))
                        national =
                            national || t->type == SqlType::NVarChar || t->type == SqlType::NChar;
                return implicitTo(national ? "nvarchar" : "varchar");
            }
        }
        return std::nullopt;
    }

    // Functions whose parameters are character data: a sql_variant is 8116.
    static bool takesText(const std::string& fn) {
        for (const char* f : {"len", "upper", "lower", "ltrim", "rtrim", "trim", "substring",
                              "replace", "patindex", "stuff", "isnumeric", "isdate"})
            if (fn == f)
                return true;
        return false;
    }

    // The type a numeric or date parameter converts its argument to.
    static const char* parameterType(const std::string& fn, int arg) {
        struct Rule {
            const char* fn;
            int arg; // 0: every argument
            const char* type;
        };
        static const Rule rules[] = {
            {"abs", 0, "float"},         {"round", 1, "float"},        {"power", 1, "float"},
            {"sin", 0, "float"},         {"cos", 0, "float"},          {"tan", 0, "float"},
            {"asin", 0, "float"},        {"acos", 0, "float"},         {"atan", 0, "float"},
            {"space", 0, "int"},         {"char", 0, "int"},           {"left", 2, "int"},
            {"substring", 2, "int"},     {"substring", 3, "int"},      {"stuff", 2, "int"},
            {"stuff", 3, "int"},         {"db_name", 0, "int"},        {"object_name", 0, "int"},
            {"year", 0, "datetime"},     {"month", 0, "datetime"},     {"day", 0, "datetime"},
            {"datepart", 2, "datetime"}, {"datediff", 2, "datetime"},  {"datediff", 3, "datetime"},
            {"dateadd", 3, "datetime"},  {"quotename", 0, "nvarchar"}, {"object_id", 0, "nvarchar"},
            {"db_id", 0, "nvarchar"},
        };
        for (const Rule& r : rules)
            if (fn == r.fn && (r.arg == 0 || r.arg == arg))
                return r.type;
        return nullptr;
    }

    static Message implicitTo(const std::string& type) {
        return errorMessage(257, 16,
                            "Implicit conversion from data type sql_variant to " + type +
                                " is not allowed. Use the CONVERT function to run this query.",
                            3);
    }

    static Message operandInvalid(const std::string& op) {
        return errorMessage(8117, 16,
                            "Operand data type sql_variant is invalid for " + op + " operator.", 1);
    }

    static Message argumentInvalid(int arg, const std::string& fn) {
        return errorMessage(8116, 16,
                            "Argument data type sql_variant is invalid for argument " +
                                std::to_string(arg) + " of " + fn + " function.",
                            1);
    }

    std::vector<Token>& m_toks;
    std::size_t m_first, m_last;
    const TranslateContext& m_ctx;
    std::optional<Message>& m_error;
};

// Whether toks[k] ends a select-list item at the outer level.
bool endsSelectItem(const Token& t) {
    return isPunctTok(t, ',') || isPunctTok(t, ';') ||
           (t.kind == TokKind::Word && t.isAny({"from", "where", "group", "order", "having",
                                                "union", "except", "intersect", "option", "into"}));
}

} // namespace

std::optional<ColumnType> operandType(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                                      const TranslateContext& ctx) {
    if (auto t = expressionType(toks, b, e, ctx))
        return t;
    while (e > b + 1 && isPunctTok(toks[b], '(') && matchingParen(toks, b, e) == e - 1) {
        ++b;
        --e;
    }
    // (SELECT item FROM ...): the item's type.
    if (e > b + 2 && isWordTok(toks[b], "select")) {
        const Scanner sc(toks, b + 1, e);
        if (const auto ie = sc.rightOperand(b + 1);
            ie && (*ie == e || isWordTok(toks[*ie], "from")))
            return operandType(toks, b + 1, *ie, ctx);
        return std::nullopt;
    }
    // MIN, MAX and ISNULL give their (first) argument's type; COALESCE and
    // NULLIF a sql_variant when an argument is one (it has the highest precedence).
    if (e > b + 3 && toks[b].kind == TokKind::Word && isPunctTok(toks[b + 1], '(') &&
        matchingParen(toks, b + 1, e) == e - 1 &&
        toks[b].isAny({"min", "max", "isnull", "coalesce", "nullif"})) {
        std::vector<std::pair<std::size_t, std::size_t>> args;
        for (std::size_t a = b + 2, k = b + 2, depth = 0; k < e; ++k) {
            if (isPunctTok(toks[k], '('))
                ++depth;
            else if (isPunctTok(toks[k], ')') && k + 1 < e)
                --depth;
            if (k + 1 == e || (depth == 0 && isPunctTok(toks[k], ','))) {
                args.emplace_back(a, k);
                a = k + 1;
            }
        }
        if (toks[b].isAny({"min", "max", "isnull"}))
            return args.empty() ? std::nullopt
                                : operandType(toks, args[0].first, args[0].second, ctx);
        for (const auto& [ab, ae] : args)
            if (const auto t = operandType(toks, ab, ae, ctx); t && t->type == SqlType::SqlVariant)
                return t;
        return std::nullopt;
    }
    // Operands joined by + - * / %, left to right; * / % before + -.
    const Scanner sc(toks, b, e);
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    std::vector<char> ops;
    for (std::size_t k = b; k < e;) {
        const auto pe = sc.primaryEnd(k);
        if (!pe || *pe > e)
            return std::nullopt;
        parts.emplace_back(k, *pe);
        if (*pe == e)
            break;
        if (!isArithmetic(toks[*pe]))
            return std::nullopt;
        ops.push_back(toks[*pe].text[0]);
        k = *pe + 1;
    }
    if (ops.empty() || parts.size() != ops.size() + 1)
        return std::nullopt;
    std::vector<ColumnType> types;
    for (const auto& [pb, pe] : parts) {
        auto t = operandType(toks, pb, pe, ctx);
        if (!t)
            return std::nullopt;
        types.push_back(*t);
    }
    // Multiplicative operators first, then additive ones.
    for (const bool multiplicative : {true, false})
        for (std::size_t n = 0; n < ops.size();) {
            if ((ops[n] == '+' || ops[n] == '-') == multiplicative) {
                ++n;
                continue;
            }
            auto r = combine(ops[n], types[n], types[n + 1]);
            if (!r)
                return std::nullopt;
            types[n] = *r;
            types.erase(types.begin() + std::ptrdiff_t(n + 1));
            ops.erase(ops.begin() + std::ptrdiff_t(n));
        }
    return types.front();
}

std::optional<ColumnType> unifiedType(const std::vector<std::optional<ColumnType>>& types) {
    if (types.size() < 2)
        return std::nullopt;
    std::optional<ColumnType> top;
    bool differ = false;
    for (const auto& t : types) {
        if (!t || precedence(t->type) < 0)
            return std::nullopt;
        if (top && declTypeText(*t) != declTypeText(*top))
            differ = true;
        if (!top || precedence(t->type) > precedence(top->type))
            top = t;
    }
    if (!differ)
        return std::nullopt;
    ColumnType u = *top;
    if (u.type == SqlType::Decimal) {
        int integral = 0, scale = 0;
        for (const auto& t : types) {
            if (precedence(t->type) <= 4)
                continue; // text converts to the decimal
            const ColumnType d = asDecimal(*t);
            integral = std::max(integral, d.precision - d.scale);
            scale = std::max(scale, d.scale);
        }
        u.precision = std::min(38, integral + scale);
        u.scale = scale;
    } else if (precedence(u.type) <= 4) {
        for (const auto& t : types)
            u.length = u.length < 0 || t->length < 0 ? -1 : std::max(u.length, t->length);
    }
    return u;
}

void appendCast(std::vector<Token>& out, const std::vector<Token>& toks, std::size_t b,
                std::size_t e, const std::string& typeText) {
    // The type's tokens point into text that lives as long as the process.
    static std::mutex poolMutex;
    static std::set<std::string, std::less<>> pool;
    std::string_view text;
    {
        std::lock_guard lock(poolMutex);
        text = *pool.insert(typeText).first;
    }
    out.push_back(madeToken(TokKind::Word, "CAST"));
    out.push_back(madeToken(TokKind::Punct, "("));
    out.insert(out.end(), toks.begin() + std::ptrdiff_t(b), toks.begin() + std::ptrdiff_t(e));
    out.push_back(madeToken(TokKind::Word, "AS"));
    for (Token t : significantTokens(text)) {
        t.pos = std::string::npos / 2;
        out.push_back(t);
    }
    out.push_back(madeToken(TokKind::Punct, ")"));
}

std::optional<Message> implicitFromVariant(const std::vector<Token>& toks, std::size_t b,
                                           std::size_t e, const ColumnType& target,
                                           const TranslateContext& ctx) {
    if (target.type == SqlType::SqlVariant || b >= e)
        return std::nullopt;
    if (!isVariantType(expressionType(toks, b, e, ctx)))
        return std::nullopt;
    return errorMessage(257, 16,
                        "Implicit conversion from data type sql_variant to " +
                            baseTypeName(target.type) +
                            " is not allowed. Use the CONVERT function to run this query.",
                        3);
}

std::size_t rewriteVariantExpressions(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                      const TranslateContext& ctx, std::optional<Message>& error) {
    if (!involvesVariant(toks, first, last, ctx))
        return last;
    return VariantRewriter(toks, first, last, ctx, error).run();
}

std::size_t rewriteInsertSelectList(std::vector<Token>& toks, std::size_t select, std::size_t last,
                                    const std::vector<std::optional<ColumnType>>& targets,
                                    const TranslateContext& ctx, std::optional<Message>& error) {
    std::size_t k = select + 1;
    if (k < last && toks[k].isAny({"distinct", "all"}))
        ++k;
    if (k < last && isWordTok(toks[k], "top")) {
        ++k;
        if (k < last && isPunctTok(toks[k], '('))
            k = matchingParen(toks, k, last);
        ++k;
        while (k < last && toks[k].isAny({"percent", "with", "ties"}))
            ++k;
    }
    for (std::size_t n = 0; k < last; ++n) {
        // The item's end at the outer level, and the end of its expression
        // (an alias may follow).
        std::size_t end = k;
        for (int depth = 0, cases = 0; end < last; ++end) {
            const Token& t = toks[end];
            depth += isPunctTok(t, '(') ? 1 : isPunctTok(t, ')') ? -1 : 0;
            cases += isWordTok(t, "case") ? 1 : isWordTok(t, "end") ? -1 : 0;
            if (depth == 0 && cases == 0 && endsSelectItem(t))
                break;
        }
        const auto e = Scanner(toks, k, end).rightOperand(k);
        if (e && n < targets.size() && targets[n]) {
            if (targets[n]->type != SqlType::SqlVariant) {
                if (!error)
                    error = implicitFromVariant(toks, k, *e, *targets[n], ctx);
            } else if (!(*e == k + 1 && isWordTok(toks[k], "null"))) {
                std::vector<Token> wrapped;
                appendAsVariant(wrapped, toks, k, *e, ctx);
                const std::size_t grown = wrapped.size() - (*e - k);
                toks.erase(toks.begin() + std::ptrdiff_t(k), toks.begin() + std::ptrdiff_t(*e));
                toks.insert(toks.begin() + std::ptrdiff_t(k), wrapped.begin(), wrapped.end());
                end += grown;
                last += grown;
            }
        }
        if (end >= last || !isPunctTok(toks[end], ','))
            break;
        k = end + 1;
    }
    return last;
}

} // namespace tds::sql
