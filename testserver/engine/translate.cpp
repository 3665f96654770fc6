#include "testserver/engine/translate.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/errors.h"

#include "testserver/engine/arithmetic.h"
#include "testserver/engine/functions_udt.h"

#include "testserver/engine/types.h"
#include "testserver/engine/variant.h"
#include "testserver/engine/variant_expressions.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace tds::sql {

namespace {

bool isOneOf(const Token& t, std::initializer_list<std::string_view> words) {
    for (auto w : words)
        if (t.is(w))
            return true;
    return false;
}

bool isWord(const Token& t, std::string_view w) {
    return t.kind == TokKind::Word && t.is(w);
}

bool isPunct(const Token& t, char c) {
    return t.kind == TokKind::Punct && t.text.size() == 1 && t.text[0] == c;
}

// Words that begin a statement when they appear at the outer level.
bool isStarter(const Token& t) {
    return t.kind == TokKind::Word &&
           isOneOf(t, {"select",     "insert", "update",    "delete",   "create",  "drop", "alter",
                       "truncate",   "print",  "raiserror", "exec",     "execute", "use",  "set",
                       "declare",    "begin",  "commit",    "rollback", "waitfor", "save", "if",
                       "else",       "end",    "return",    "grant",    "revoke",  "deny", "dbcc",
                       "checkpoint", "while",  "break",     "continue", "throw"});
}

} // namespace

bool Statement::startsWith(std::initializer_list<std::string_view> words) const {
    std::size_t i = 0;
    for (auto w : words) {
        if (i >= toks.size() || !toks[i].is(w))
            return false;
        ++i;
    }
    return true;
}

std::string Statement::text() const {
    if (toks.empty())
        return {};
    const auto& last = toks.back();
    return std::string(
        source.substr(toks.front().pos, last.pos + last.text.size() - toks.front().pos));
}

std::vector<Statement> splitStatements(const std::vector<Token>& tokens, std::string_view source) {
    std::vector<Statement> out;
    Statement cur;
    cur.source = source;
    int depth = 0;
    int caseDepth = 0;
    bool seenSource = false; // INSERT: VALUES/SELECT/EXEC seen
    bool seenSet = false;    // UPDATE: SET seen
    bool withCte = false;    // WITH ... AS (...) before the statement proper
    bool procBody = false;   // CREATE PROCEDURE: the rest of the batch
    auto lineOf = [&](std::size_t pos) {
        return 1 + static_cast<int>(std::count(source.begin(), source.begin() + pos, '\n'));
    };
    auto finish = [&] {
        if (!cur.toks.empty())
            out.push_back(std::move(cur));
        cur = Statement{};
        cur.source = source;
        depth = caseDepth = 0;
        seenSource = seenSet = withCte = procBody = false;
    };
    for (const Token& t : tokens) {
        if (t.isTrivia())
            continue;
        if (isPunct(t, ';') && depth == 0 && !procBody) {
            finish();
            continue;
        }
        if (!cur.toks.empty() && depth == 0 && caseDepth == 0 && !procBody && isStarter(t)) {
            const Token& first = cur.toks.front();
            const Token& prev = cur.toks.back();
            bool cont = false;
            if (isOneOf(prev, {"union", "all", "except", "intersect", "as", "for", "of"}) &&
                prev.kind == TokKind::Word)
                cont = true;
            else if (isWord(prev, "on") && isOneOf(t, {"delete", "update"}) && !first.is("set"))
                cont = true;
            else if (isOneOf(prev, {"delete", "update"}) && isOneOf(t, {"set"}) &&
                     !first.is("update"))
                cont = true;
            else if (isWord(prev, "begin") || isWord(prev, "commit") || isWord(prev, "rollback"))
                cont = false;
            else if (first.is("alter") && isWord(t, "with")) // ALTER TABLE t WITH [NO]CHECK
                cont = true;
            if (!cont && first.is("insert") && !seenSource &&
                isOneOf(t, {"select", "exec", "execute"}))
                cont = true;
            if (!cont && first.is("update") && !seenSet && t.is("set"))
                cont = true;
            // ALTER TABLE [db.][schema.]t ALTER/DROP ..., ALTER DATABASE x SET: right
            // after the name; an ALTER further on starts the next statement.
            if (!cont && first.is("alter") && isOneOf(t, {"drop", "alter", "set"}) &&
                (!t.is("alter") || cur.toks.size() <= 7))
                cont = true;
            // CREATE OR ALTER PROCEDURE is one statement.
            if (!cont && first.is("create") && cur.toks.size() == 2 && isWord(prev, "or"))
                cont = true;
            // DROP TABLE IF EXISTS: the IF belongs to the DROP.
            if (!cont && first.is("drop") && cur.toks.size() == 2 && t.is("if"))
                cont = true;
            if (!cont && withCte && isOneOf(t, {"select", "insert", "update", "delete"})) {
                cont = true;
                withCte = false;
            }
            if (!cont)
                finish();
        }
        if (cur.toks.empty()) {
            cur.line = lineOf(t.pos);
            withCte = isWord(t, "with");
        }
        if (isPunct(t, '('))
            ++depth;
        else if (isPunct(t, ')') && depth > 0)
            --depth;
        else if (t.kind == TokKind::Word && depth == 0) {
            if (t.is("case"))
                ++caseDepth;
            else if (t.is("end") && caseDepth > 0) {
                --caseDepth;
                cur.toks.push_back(t);
                continue;
            }
            if (!cur.toks.empty() && cur.toks.front().is("insert") &&
                isOneOf(t, {"values", "select", "exec", "execute", "default"}))
                seenSource = true;
            if (!cur.toks.empty() && cur.toks.front().is("update") && t.is("set"))
                seenSet = true;
            if (cur.toks.size() >= 1 && cur.toks.front().is("create") &&
                isOneOf(t, {"procedure", "proc", "function", "trigger"}))
                procBody = true;
            if (cur.toks.size() >= 1 && cur.toks.front().is("alter") &&
                isOneOf(t, {"procedure", "proc", "function", "trigger"}) && cur.toks.size() == 1)
                procBody = true;
        }
        cur.toks.push_back(t);
    }
    finish();
    return out;
}

const std::set<std::string>& systemViewNames() {
    static const std::set<std::string> names = {
        "sysdatabases",
        "sysobjects",
        "syscolumns",
        "systypes",
        "sysindexes",
        "sysusers",
        "syscomments",
        "sysprocesses",
        "syslogins",
        "sys.databases",
        "sys.objects",
        "sys.tables",
        "sys.views",
        "sys.triggers",
        "sys.indexes",
        "sys.default_constraints",
        "sys.check_constraints",
        "sys.foreign_keys",
        "sys.key_constraints",
        "sys.procedures",
        "information_schema.table_constraints",
        "sys.columns",
        "sys.types",
        "sys.schemas",
        "sys.sysdatabases",
        "sys.sysobjects",
        "sys.syscolumns",
        "sys.systypes",
        "sys.sysindexes",
        "information_schema.tables",
        "information_schema.columns",
        "information_schema.views",
        "information_schema.schemata",
    };
    return names;
}

std::optional<std::vector<std::string>> readObjectName(const std::vector<Token>& toks,
                                                       std::size_t& i, std::size_t end) {
    end = std::min(end, toks.size());
    if (i >= end || !toks[i].isName())
        return std::nullopt;
    std::vector<std::string> parts{toks[i].value()};
    ++i;
    while (i < end && isPunct(toks[i], '.')) {
        ++i;
        if (i < end && toks[i].isName()) {
            parts.push_back(toks[i].value());
            ++i;
        } else if (i < end && isPunct(toks[i], '.')) {
            parts.emplace_back();
        } else {
            --i; // a trailing '.' (as in "t.*"): leave it
            break;
        }
    }
    return parts;
}

std::vector<std::pair<std::string, std::string>> statementTables(const std::vector<Token>& toks,
                                                                 std::size_t first,
                                                                 std::size_t last,
                                                                 const TranslateContext& ctx) {
    std::vector<std::pair<std::string, std::string>> tables;
    last = std::min(last, toks.size());
    for (std::size_t i = first; i + 1 < last; ++i) {
        if (!(toks[i].kind == TokKind::Word &&
              isOneOf(toks[i], {"from", "join", "update", "into", "table"})))
            continue;
        std::size_t j = i + 1;
        auto parts = readObjectName(toks, j);
        if (!parts)
            continue;
        std::string schema;
        if (parts->size() >= 3 && ctx.schemaFor)
            if (auto s = ctx.schemaFor((*parts)[parts->size() - 3]))
                schema = *s;
        tables.emplace_back(schema, parts->back());
    }
    return tables;
}

namespace {

struct Piece {
    std::string text;
    bool space = true;
};

// Functions whose result is text, for deciding that '+' concatenates.
bool returnsText(const std::string& fn) {
    static const std::set<std::string> names = {
        "left",        "right",          "substring", "substr",   "ltrim",
        "rtrim",       "trim",           "upper",     "lower",    "replace",
        "replicate",   "space",          "reverse",   "stuff",    "str",
        "char",        "nchar",          "quotename", "db_name",  "user_name",
        "suser_sname", "suser_name",     "host_name", "app_name", "datename",
        "object_name", "serverproperty", "newid",     "concat",   "string_agg",
    };
    return names.count(fn) > 0;
}

bool isTextTypeText(std::string_view t) {
    if (auto ct = parseDeclType(t))
        return isTextType(ct->type) || ct->type == SqlType::UniqueIdentifier;
    return false;
}

} // namespace

std::optional<ColumnType> expressionType(const std::vector<Token>& toks, std::size_t b,
                                         std::size_t e, const TranslateContext& ctx) {
    while (e > b + 1 && isPunct(toks[b], '(') && matchingParen(toks, b, e) == e - 1) {
        ++b;
        --e;
    }
    if (b >= e)
        return std::nullopt;
    auto sized = [](SqlType type, int length) {
        ColumnType t;
        t.type = type;
        t.length = std::max(1, length);
        return t;
    };
    const Token& t = toks[b];
    if (e == b + 2 && t.kind == TokKind::Op && (t.text == "-" || t.text == "+") &&
        toks[b + 1].kind == TokKind::Number)
        return expressionType(toks, b + 1, e, ctx);
    if (e == b + 1) {
        switch (t.kind) {
        case TokKind::String:
            return sized(SqlType::VarChar, int(t.value().size()));
        case TokKind::NString: {
            int units = 0;
            for (unsigned char c : t.value())
                units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
            return sized(SqlType::NVarChar, units);
        }
        case TokKind::Binary:
            return sized(SqlType::VarBinary, int(t.text.size() - 2) / 2);
        case TokKind::Number: {
            const std::string_view n = t.text;
            if (n.find_first_of("eE") != std::string_view::npos)
                return sized(SqlType::Float, 8);
            // 42 is an int; 456.7 a decimal(4,1), as is 5000000000 (decimal(10,0)).
            const std::size_t dot = n.find('.');
            const std::string_view whole = n.substr(0, dot);
            const std::size_t zeros = std::min(whole.find_first_not_of('0'), whole.size());
            const int integral = int(whole.size() - zeros);
            const int scale = dot == std::string_view::npos ? 0 : int(n.size() - dot - 1);
            if (dot == std::string_view::npos && integral <= 10 &&
                std::stoll("0" + std::string(whole)) <= INT32_MAX)
                return sized(SqlType::Int, 4);
            ColumnType d;
            d.type = SqlType::Decimal;
            d.scale = scale;
            d.precision = std::min(38, std::max(1, integral + scale));
            return d;
        }
        case TokKind::Variable:
            return ctx.variableType ? ctx.variableType(toLower(t.text)) : std::nullopt;
        default:
            break;
        }
    }
    if (t.kind == TokKind::Word && e > b + 2 && isPunct(toks[b + 1], '(') &&
        matchingParen(toks, b + 1, e) == e - 1) {
        // CAST(x AS type), CONVERT(type, x), and functions of a fixed type.
        std::string typeText;
        std::size_t k = b + 2;
        if (t.is("cast")) {
            int depth = 0;
            for (; k < e - 1 && !(depth == 0 && isWord(toks[k], "as")); ++k)
                depth += isPunct(toks[k], '(') ? 1 : isPunct(toks[k], ')') ? -1 : 0;
            ++k;
        }
        if (t.is("cast") || t.is("convert")) {
            for (int depth = 0; k < e - 1 && !(depth == 0 && isPunct(toks[k], ',')); ++k) {
                depth += isPunct(toks[k], '(') ? 1 : isPunct(toks[k], ')') ? -1 : 0;
                typeText += toks[k].kind == TokKind::Quoted ? toks[k].value()
                            : toks[k].is("max")             ? std::string("-1")
                                                            : std::string(toks[k].text);
                typeText += ' ';
            }
            return parseDeclType(typeText);
        }
        if (t.isAny({"getdate", "getutcdate"}))
            return sized(SqlType::DateTime, 8);
        if (t.isAny({"sysdatetime", "sysutcdatetime"})) {
            ColumnType d = sized(SqlType::DateTime2, 8);
            d.scale = 7;
            return d;
        }
        if (t.is("sysdatetimeoffset")) {
            ColumnType d = sized(SqlType::DateTimeOffset, 10);
            d.scale = 7;
            return d;
        }
        if (t.is("newid"))
            return sized(SqlType::UniqueIdentifier, 16);
        return std::nullopt;
    }
    if (e == b + 1 && t.is("current_timestamp"))
        return sized(SqlType::DateTime, 8);
    // A column, bare or qualified.
    if (!toks[e - 1].isName() || !ctx.columnTypes)
        return std::nullopt;
    for (std::size_t k = b; k + 1 < e; k += 2)
        if (!toks[k].isName() || !isPunct(toks[k + 1], '.'))
            return std::nullopt;
    const std::string name = toLower(toks[e - 1].value());
    std::optional<ColumnType> found;
    for (const auto& [schema, table] : statementTables(toks, 0, toks.size(), ctx)) {
        const auto cols = ctx.columnTypes(schema, table);
        if (const auto it = cols.find(name); it != cols.end()) {
            if (found && typeName(*found) != typeName(it->second))
                return std::nullopt;
            found = it->second;
        }
    }
    return found;
}

std::string variantBaseText(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                            const TranslateContext& ctx) {
    const auto t = operandType(toks, b, e, ctx);
    if (!t)
        return {};
    std::string text = declTypeText(*t);
    // SQL Server names the type of a literal like 456.7 and of CAST(x AS numeric) numeric.
    // So is arithmetic on such a literal, unless a decimal takes part by name.
    const auto from = toks.begin() + std::ptrdiff_t(b), to = toks.begin() + std::ptrdiff_t(e);
    const bool literal = (e > b && e - b <= 2 && toks[e - 1].kind == TokKind::Number) ||
                         std::any_of(from, to, [](const Token& k) {
                             return k.kind == TokKind::Number &&
                                    k.text.find('.') != std::string_view::npos &&
                                    k.text.find_first_of("eE") == std::string_view::npos;
                         });
    const bool numeric =
        t->type == SqlType::Decimal &&
        std::none_of(from, to, [](const Token& k) { return isWord(k, "decimal"); }) &&
        (literal || std::any_of(from, to, [](const Token& k) { return isWord(k, "numeric"); }));
    if (numeric)
        text.replace(0, baseTypeName(SqlType::Decimal).size(), "numeric");
    return text + (t->collation.empty() ? std::string() : " COLLATE " + t->collation);
}

namespace {

// The last argument of a conversion to sql_variant: the base type the value
// keeps, or nothing when the tokens do not tell it.
std::string variantBaseArgument(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                                const TranslateContext& ctx) {
    const std::string base = variantBaseText(toks, b, e, ctx);
    return base.empty() ? base : ", -1, " + quoteString(base);
}

bool isVariantTypeText(std::string_view t) {
    const auto ct = parseDeclType(t);
    return ct && ct->type == SqlType::SqlVariant;
}

// Table hints: WITH (NOLOCK) and the old "(NOLOCK)".
bool isHintWord(const Token& t) {
    return t.kind == TokKind::Word &&
           isOneOf(t, {"nolock", "readuncommitted", "updlock", "rowlock", "holdlock", "tablock",
                       "tablockx", "nowait", "readpast", "xlock", "paglock", "serializable",
                       "repeatableread", "readcommitted", "index", "noexpand", "forceseek"});
}

// The words SQL Server's 468 names a comparison with.
const char* comparisonName(std::string_view op) {
    if (op == "=")
        return "equal to";
    if (op == "<>" || op == "!=")
        return "not equal to";
    if (op == "<")
        return "less than";
    if (op == ">")
        return "greater than";
    if (op == "<=")
        return "less than or equal to";
    if (op == ">=")
        return "greater than or equal to";
    return nullptr;
}

class Translator {
public:
    Translator(const Statement& st, const TranslateContext& ctx, std::size_t first,
               std::size_t last)
        : m_toks(st.toks), m_ctx(ctx), m_first(first), m_last(std::min(last, st.toks.size())) {}

    Translated run();

private:
    struct Level {
        std::string function; // function whose argument list this is ("" = plain parentheses)
        std::optional<std::string> limit;
        std::vector<std::size_t> plus; // pieces that hold a '+' of the current chain
        bool chainHasText = false;
        // The collation of a LIKE whose pattern is this chain: it goes to the
        // like() function in its escape argument once the pattern ends.
        std::optional<std::string> likeCollation;
    };

    void emit(std::string text, std::size_t tokIndex) {
        bool space = true;
        if (tokIndex < m_toks.size() && tokIndex > m_first) {
            const Token& prev = m_toks[tokIndex - 1];
            space = prev.pos + prev.text.size() != m_toks[tokIndex].pos;
        }
        m_out.push_back(Piece{std::move(text), space});
    }
    void emitRaw(std::string text, bool space = true) {
        m_out.push_back(Piece{std::move(text), space});
    }

    Level& level() { return m_levels.back(); }
    void endChain(Level& l) {
        if (l.chainHasText)
            for (std::size_t p : l.plus)
                m_out[p].text = "||";
        l.plus.clear();
        l.chainHasText = false;
        if (l.likeCollation && !iequals(*l.likeCollation, kDefaultCollationName))
            emitRaw("ESCAPE " + quoteString(*l.likeCollation + kLikeCollationMark));
        l.likeCollation.reset();
    }
    void operand(bool text) {
        if (text)
            level().chainHasText = true;
    }

    std::string resolveName(const std::vector<std::string>& parts, const std::vector<bool>& quoted,
                            bool asTable);
    std::string part(const std::string& s, bool quoted) const;
    void collectTables();
    bool isTextColumn(const std::string& col) const;
    std::optional<std::string> operandCollation(std::size_t i) const;
    std::optional<ColumnType> columnNamed(const std::string& column) const;
    bool nationalArgument(std::size_t open) const;
    bool unaryMinusBefore(std::size_t i) const;
    std::string typeText(std::size_t& i, std::size_t end);

    // One handler per kind of token; those taking `i` by reference may consume
    // the tokens that follow, and the bool ones say whether they took the word.
    void literal(std::size_t i);
    void variable(std::size_t& i);
    void global(std::size_t i);
    void op(std::size_t i);
    void punct(std::size_t& i);
    bool word(std::size_t& i);
    bool top(std::size_t& i);
    bool offsetFetch(std::size_t& i);
    bool clause(std::size_t& i, const std::string& lw);
    bool conversion(std::size_t& i, const std::string& lw);
    bool call(std::size_t& i, const std::string& lw);
    bool keyword(std::size_t& i, const std::string& lw);
    void name(std::size_t& i);

    const std::vector<Token>& m_toks;
    const TranslateContext& m_ctx;
    std::size_t m_first, m_last;
    std::vector<Piece> m_out;
    std::vector<Level> m_levels;
    Translated m_res;
    std::set<std::string> m_textColumns;
    std::set<std::string> m_nationalColumns;
    bool m_isSelect = false;
    bool m_isInsert = false;
    bool m_isDelete = false;
    std::size_t m_selectListStart = std::string::npos; // token before the select list
};

std::string Translator::part(const std::string& s, bool quoted) const {
    if (!quoted && !s.empty() && s[0] != '#')
        return s;
    return quoteIdent(s);
}

std::string Translator::resolveName(const std::vector<std::string>& partsIn,
                                    const std::vector<bool>& quotedIn, bool asTable) {
    std::vector<std::string> parts = partsIn;
    std::vector<bool> quoted = quotedIn;
    if (parts.size() == 4) { // server.db.owner.object
        parts.erase(parts.begin());
        quoted.erase(quoted.begin());
    }
    auto isOwner = [](const std::string& s) {
        return s.empty() || iequals(s, "dbo") || iequals(s, "sys") ||
               iequals(s, "information_schema");
    };
    auto systemName = [&](const std::string& owner,
                          const std::string& name) -> std::optional<std::string> {
        std::string key = toLower(name);
        if (!owner.empty() && !iequals(owner, "dbo"))
            key = toLower(owner) + "." + key;
        if (systemViewNames().count(key)) {
            m_res.systemObjects.insert(key);
            return quoteIdent(key);
        }
        return std::nullopt;
    };
    if (parts.size() == 1) {
        if (asTable)
            if (auto s = systemName("", parts[0]))
                return *s;
        return part(parts[0], quoted[0]);
    }
    // schema.object and db.schema.object of a created schema: the stored "schema.object".
    auto userSchema = [&](const std::string& s) {
        return !s.empty() && !isOwner(s) && m_ctx.isUserSchema && m_ctx.isUserSchema(s);
    };
    if (parts.size() == 2 && userSchema(parts[0]))
        return quoteIdent(parts[0] + "." + parts[1]);
    if (parts.size() == 3 && userSchema(parts[1]) && m_ctx.schemaFor &&
        m_ctx.schemaFor(parts[0]) == std::optional<std::string>(""))
        return quoteIdent(parts[1] + "." + parts[2]);
    if (parts.size() == 2) {
        if (isOwner(parts[0]) && !parts[0].empty()) {
            if (auto s = systemName(parts[0], parts[1]))
                return *s;
            if (iequals(parts[0], "dbo"))
                return part(parts[1], quoted[1]);
        }
        return part(parts[0], quoted[0]) + "." + part(parts[1], quoted[1]);
    }
    // Three parts: database.owner.object, or dbo.table.column.
    if (isOwner(parts[1]) && m_ctx.schemaFor) {
        if (auto schema = m_ctx.schemaFor(parts[0])) {
            if (auto s = systemName(iequals(parts[1], "dbo") ? "" : parts[1], parts[2]))
                return *s;
            if (schema->empty())
                return part(parts[2], quoted[2]);
            return quoteIdent(*schema) + "." + part(parts[2], quoted[2]);
        }
    }
    if (iequals(parts[0], "dbo"))
        return part(parts[1], quoted[1]) + "." + part(parts[2], quoted[2]);
    if (isOwner(parts[1]) && (parts[1].empty() || !iequals(parts[0], "dbo"))) {
        // No such database: let the lookup fail with the name as written.
        std::string written;
        for (std::size_t k = 0; k < parts.size(); ++k)
            written += (k ? "." : "") + parts[k];
        return quoteIdent(written);
    }
    std::string r;
    for (std::size_t k = 0; k < parts.size(); ++k)
        r += (k ? "." : "") + part(parts[k], quoted[k]);
    return r;
}

// Names after FROM, JOIN, UPDATE, INTO: their text columns decide whether '+'
// between columns concatenates.
void Translator::collectTables() {
    if (!m_ctx.textColumns)
        return;
    for (const auto& [schema, table] : statementTables(m_toks, m_first, m_last, m_ctx)) {
        for (const auto& c : m_ctx.textColumns(schema, table))
            m_textColumns.insert(c);
        if (m_ctx.nationalColumns)
            for (const auto& c : m_ctx.nationalColumns(schema, table))
                m_nationalColumns.insert(c);
    }
}

bool Translator::isTextColumn(const std::string& col) const {
    return m_textColumns.count(toLower(col)) > 0;
}

// The collation of the operand that ends before toks[i] (a LIKE, or the NOT
// of NOT LIKE): a COLLATE clause, or a column of the statement's tables.
// Nothing for other expressions, which have the default collation.
std::optional<std::string> Translator::operandCollation(std::size_t i) const {
    auto before = [&](std::size_t k) -> std::optional<std::size_t> {
        while (k > m_first) {
            --k;
            if (!m_toks[k].isTrivia())
                return k;
        }
        return std::nullopt;
    };
    auto k = before(i);
    if (k && isWord(m_toks[*k], "not"))
        k = before(*k);
    if (!k || !m_toks[*k].isName())
        return std::nullopt;
    if (const auto c = before(*k); c && isWord(m_toks[*c], "collate"))
        return m_toks[*k].value();
    const auto type = columnNamed(m_toks[*k].value());
    if (!type || !isTextType(type->type))
        return std::nullopt;
    return type->collation.empty() ? kDefaultCollationName : type->collation;
}

// The type of the statement's column of that name; nothing when no table or
// more than one table has it (with different types).
std::optional<ColumnType> Translator::columnNamed(const std::string& column) const {
    if (!m_ctx.columnTypes)
        return std::nullopt;
    const std::string name = toLower(column);
    std::optional<ColumnType> found;
    for (const auto& [schema, table] : statementTables(m_toks, m_first, m_last, m_ctx))
        for (const auto& [col, type] : m_ctx.columnTypes(schema, table))
            if (col == name) {
                if (found &&
                    (typeName(*found) != typeName(type) || found->collation != type.collation))
                    return std::nullopt;
                found = type;
            }
    return found;
}

// Whether toks[i] follows a '-' that is a sign rather than a subtraction.
bool Translator::unaryMinusBefore(std::size_t i) const {
    if (i <= m_first || m_toks[i - 1].kind != TokKind::Op || m_toks[i - 1].text != "-")
        return false;
    if (i - 1 == m_first)
        return true;
    const Token& p = m_toks[i - 2];
    return p.kind == TokKind::Op || isPunct(p, '(') || isPunct(p, ',') ||
           (p.kind == TokKind::Word &&
            isOneOf(p, {"select", "where", "and", "or", "not", "when", "then", "else", "return",
                        "between", "on", "having", "print", "set", "values"}));
}

// Whether the argument list opened at `open` holds national text: an N'...'
// literal, a national column or variable, or a conversion to a national type.
// Mixed with other text it stays national, as the wider type wins.
bool Translator::nationalArgument(std::size_t open) const {
    const std::size_t close = matchingParen(m_toks, open, m_last);
    for (std::size_t k = open + 1; k < close; ++k) {
        const Token& t = m_toks[k];
        if (t.kind == TokKind::NString)
            return true;
        if (t.kind == TokKind::Variable && m_ctx.isNationalVariable &&
            m_ctx.isNationalVariable(toLower(t.text)))
            return true;
        if (t.kind == TokKind::Word && isOneOf(t, {"nchar", "nvarchar", "ntext", "sysname"}))
            return true;
        if (t.isName() && m_nationalColumns.count(toLower(t.value())) > 0)
            return true;
    }
    return false;
}

// A type as written, from toks[i] to before the ',' or ')' that ends it;
// "(max)" becomes "(-1)" since SQLite takes only numbers there.
std::string Translator::typeText(std::size_t& i, std::size_t end) {
    std::string t;
    int depth = 0;
    while (i < end) {
        const Token& k = m_toks[i];
        if (depth == 0 && (isPunct(k, ',') || isPunct(k, ')')))
            break;
        if (isPunct(k, '('))
            ++depth;
        if (isPunct(k, ')'))
            --depth;
        if (!t.empty() && k.kind == TokKind::Word && t.back() != '(')
            t += ' ';
        t += (k.kind == TokKind::Word && k.is("max")) ? std::string("-1")
             : k.kind == TokKind::Quoted              ? k.value()
                                                      : std::string(k.text);
        ++i;
    }
    return t;
}

void Translator::literal(std::size_t i) {
    const Token& t = m_toks[i];
    switch (t.kind) {
    case TokKind::String:
        operand(true);
        emit(std::string(t.text), i);
        break;
    case TokKind::NString:
        operand(true);
        emit(std::string(t.text.substr(1)), i);
        break;
    case TokKind::Number:
        operand(false);
        if (!exactDecimalLiteral(t.text)) {
            emit(std::string(t.text), i);
        } else if (unaryMinusBefore(i) && !m_out.empty() && m_out.back().text == "-") {
            // The sign belongs to the text, or SQLite would negate a double.
            m_out.back().text = quoteString("-" + std::string(t.text));
        } else {
            // SQLite would read a longer decimal literal as a double and lose
            // digits; as text it reaches exact numeric columns and conversions whole.
            emit(quoteString(t.text), i);
        }
        break;
    default: { // binary
        operand(false);
        std::string hex(t.text.substr(2));
        if (hex.size() % 2)
            hex.insert(hex.begin(), '0');
        emit("X'" + hex + "'", i);
        break;
    }
    }
}

void Translator::variable(std::size_t& i) {
    const Token& t = m_toks[i];
    // SELECT @a = expr, ...: assignment, not a result column.
    if (m_isSelect && m_levels.size() == 1 && i + 1 < m_last && m_toks[i + 1].kind == TokKind::Op &&
        m_toks[i + 1].text == "=" && i >= 1 &&
        (i - 1 == m_selectListStart || isPunct(m_toks[i - 1], ','))) {
        m_res.assignTo.push_back(toLower(t.text));
        ++i;
        // `@v=expr` has no blank before the expression: keep one in the output.
        emitRaw("", true);
        return;
    }
    // A table variable where a table goes: FROM @t, JOIN @t, INSERT [INTO] @t,
    // UPDATE @t, DELETE [FROM] @t.
    if (m_ctx.tableVariable && i > m_first && m_toks[i - 1].kind == TokKind::Word &&
        isOneOf(m_toks[i - 1], {"from", "join", "into", "update", "insert", "delete"}))
        if (const auto table = m_ctx.tableVariable(toLower(t.text))) {
            emit(*table, i);
            return;
        }
    operand(m_ctx.isTextVariable && m_ctx.isTextVariable(toLower(t.text)));
    emit(std::string(t.text), i);
}

void Translator::global(std::size_t i) {
    const std::string name = toUpper(m_toks[i].text.substr(2));
    operand(name == "VERSION" || name == "SERVERNAME" || name == "SERVICENAME" ||
            name == "LANGUAGE");
    emit("tds_global('" + name + "')", i);
}

void Translator::op(std::size_t i) {
    const Token& t = m_toks[i];
    if (t.text == "+") {
        level().plus.push_back(m_out.size());
        emit("+", i);
    } else if (t.text == "!<") {
        endChain(level());
        emit(">=", i);
    } else if (t.text == "!>") {
        endChain(level());
        emit("<=", i);
    } else {
        if (t.text != "*" || !(i > m_first && isPunct(m_toks[i - 1], '.')))
            endChain(level());
        emit(std::string(t.text), i);
    }
}

void Translator::punct(std::size_t& i) {
    const Token& t = m_toks[i];
    if (isPunct(t, '(')) {
        // Old-style table hint: t (NOLOCK)
        if (i + 2 < m_last && isHintWord(m_toks[i + 1]) && isPunct(m_toks[i + 2], ')') &&
            i > m_first && m_toks[i - 1].isName()) {
            i += 2;
            return;
        }
        m_levels.push_back(Level{});
        emit("(", i);
    } else if (isPunct(t, ')')) {
        if (m_levels.size() > 1) {
            Level l = std::move(m_levels.back());
            endChain(l);
            m_levels.pop_back();
            if (l.limit)
                emitRaw("LIMIT " + *l.limit);
        }
        emit(")", i);
    } else if (isPunct(t, ',')) {
        endChain(level());
        emit(",", i);
    } else {
        emit(std::string(t.text), i);
    }
}

bool Translator::word(std::size_t& i) {
    const std::string lw = toLower(m_toks[i].text);
    if (lw == "top" && i > m_first &&
        isOneOf(m_toks[i - 1], {"select", "distinct", "all", "delete", "update", "insert"}))
        return top(i);
    if (lw == "offset" && offsetFetch(i))
        return true;
    if (lw == "select" && m_levels.size() == 1 && m_selectListStart == std::string::npos)
        m_selectListStart = i;
    if (lw == "distinct" && m_selectListStart + 1 == i)
        m_selectListStart = i;
    return clause(i, lw) || conversion(i, lw) || call(i, lw) || keyword(i, lw);
}

// SELECT [DISTINCT|ALL] TOP n / TOP (n) [PERCENT] [WITH TIES]
bool Translator::top(std::size_t& i) {
    std::size_t j = i + 1;
    std::string count;
    if (j < m_last && m_toks[j].kind == TokKind::Number) {
        count = std::string(m_toks[j].text);
        ++j;
    } else if (j < m_last && isPunct(m_toks[j], '(')) {
        const std::size_t k = matchingParen(m_toks, j, m_last);
        Statement inner;
        inner.toks.assign(m_toks.begin() + j + 1, m_toks.begin() + k);
        count = "(" + translate(inner, m_ctx).sql + ")";
        j = k + 1;
    } else if (j < m_last && m_toks[j].kind == TokKind::Variable) {
        count = std::string(m_toks[j].text);
        ++j;
    } else {
        m_res.syntaxErrorNear = "top";
        return true;
    }
    if (j < m_last && isWord(m_toks[j], "percent")) {
        if (count != "100" && count != "(100)") {
            m_res.syntaxErrorNear = "PERCENT";
            return true;
        }
        ++j;
    } else {
        level().limit = count;
    }
    if (j + 1 < m_last && isWord(m_toks[j], "with") && isWord(m_toks[j + 1], "ties"))
        j += 2;
    i = j - 1;
    if (m_isSelect && m_levels.size() == 1)
        m_selectListStart = i;
    return true;
}

// ORDER BY ... OFFSET n ROW[S] [FETCH {NEXT | FIRST} m ROW[S] ONLY]: SQLite's
// LIMIT m OFFSET n (LIMIT -1: all the rest). Only after an ORDER BY of the
// same query, and not together with TOP (10741).
bool Translator::offsetFetch(std::size_t& i) {
    // An ORDER BY before it, in this query (not inside parentheses).
    bool ordered = false;
    int depth = 0;
    for (std::size_t k = i; k-- > m_first;) {
        if (isPunct(m_toks[k], ')'))
            ++depth;
        else if (isPunct(m_toks[k], '(') && depth-- == 0)
            break;
        else if (depth == 0 && isWord(m_toks[k], "by") && k > m_first &&
                 isWord(m_toks[k - 1], "order")) {
            ordered = true;
            break;
        }
    }
    if (!ordered)
        return false;
    // An expression up to ROW or ROWS, translated on its own.
    auto expression = [&](std::size_t from, std::size_t& end) -> std::optional<std::string> {
        end = from;
        while (end < m_last && !isOneOf(m_toks[end], {"row", "rows"}))
            ++end;
        if (end == from || end >= m_last)
            return std::nullopt;
        Statement inner;
        inner.toks.assign(m_toks.begin() + std::ptrdiff_t(from),
                          m_toks.begin() + std::ptrdiff_t(end));
        return "(" + translate(inner, m_ctx).sql + ")";
    };
    std::size_t end = 0;
    const auto offset = expression(i + 1, end);
    if (!offset)
        return false;
    std::string count = "-1";
    std::size_t j = end + 1;
    if (j < m_last && isWord(m_toks[j], "fetch")) {
        if (j + 1 >= m_last || !isOneOf(m_toks[j + 1], {"next", "first"}))
            return false;
        const auto fetch = expression(j + 2, end);
        if (!fetch || end + 1 >= m_last || !isWord(m_toks[end + 1], "only"))
            return false;
        count = *fetch;
        j = end + 2;
    }
    i = j - 1;
    if (level().limit) {
        m_res.error = errorMessage(10741, 15,
                                   "A TOP can not be used in the same query or sub-query as a "
                                   "OFFSET.");
        return true;
    }
    emitRaw("LIMIT " + count + " OFFSET " + *offset);
    return true;
}

// Hints that SQLite has no use for, SELECT ... INTO, and the words SQLite
// wants in INSERT and DELETE.
bool Translator::clause(std::size_t& i, const std::string& lw) {
    const bool nextIsParen = i + 1 < m_last && isPunct(m_toks[i + 1], '(');
    // Table hints WITH (NOLOCK, ...)
    if (lw == "with" && nextIsParen && i + 2 < m_last && isHintWord(m_toks[i + 2])) {
        i = matchingParen(m_toks, i + 1, m_last);
        return true;
    }
    // OPTION (...) query hints
    if (lw == "option" && nextIsParen && m_levels.size() == 1) {
        i = matchingParen(m_toks, i + 1, m_last);
        return true;
    }
    // SELECT ... INTO target FROM
    if (lw == "into" && m_isSelect && m_levels.size() == 1 && !m_res.intoTable) {
        std::size_t j = i + 1;
        if (auto parts = readObjectName(m_toks, j)) {
            std::vector<bool> q;
            for (std::size_t k = i + 1; k < j; ++k)
                if (!isPunct(m_toks[k], '.'))
                    q.push_back(m_toks[k].kind == TokKind::Quoted);
            q.resize(parts->size(), false);
            m_res.intoTable = resolveName(*parts, q, true);
            m_res.intoName = parts->back();
            i = j - 1;
            return true;
        }
    }
    // INSERT t VALUES: SQLite wants INTO.
    if (m_isInsert && i == m_first) {
        emit("INSERT", i);
        if (i + 1 < m_last && !isWord(m_toks[i + 1], "into"))
            emitRaw("INTO");
        return true;
    }
    // DELETE t WHERE: SQLite wants FROM.
    if (m_isDelete && i == m_first) {
        emit("DELETE", i);
        std::size_t j = i + 1;
        if (j < m_last && isWord(m_toks[j], "top")) {
            // handled when TOP is read; FROM check follows it
        } else if (j < m_last && !isWord(m_toks[j], "from")) {
            emitRaw("FROM");
        }
        return true;
    }
    return false;
}

// CONVERT(type, expr [, style]) and CAST(expr AS type) become tds_convert.
bool Translator::conversion(std::size_t& i, const std::string& lw) {
    const bool nextIsParen = i + 1 < m_last && isPunct(m_toks[i + 1], '(');
    // TRY_CAST and TRY_CONVERT give NULL where CAST and CONVERT fail.
    const bool tryForm = lw == "try_convert" || lw == "try_cast";
    const std::string convert = tryForm ? "tds_try_convert(" : "tds_convert(";
    if ((lw == "convert" || lw == "try_convert") && nextIsParen) {
        std::size_t j = i + 2;
        const std::string type = typeText(j, m_last);
        if (!tryForm && isVariantTypeText(type) && j < m_last && isPunct(m_toks[j], ',')) {
            // CONVERT(sql_variant, x): x keeps its type as the base type.
            const std::size_t close = matchingParen(m_toks, i + 1, m_last);
            Statement inner;
            inner.toks.assign(m_toks.begin() + j + 1, m_toks.begin() + close);
            emit("tds_convert(" + quoteString(type) + ", " + translate(inner, m_ctx).sql +
                     variantBaseArgument(m_toks, j + 1, close, m_ctx) + ")",
                 i);
            i = close;
            return true;
        }
        operand(isTextTypeText(type));
        emit(convert + quoteString(type), i);
        m_levels.push_back(Level{"convert", {}, {}, false, {}});
        i = j; // the ',' after the type is emitted next round
        if (i < m_last && isPunct(m_toks[i], ',')) {
            emitRaw(",", false);
        }
        return true;
    }
    if ((lw != "cast" && lw != "try_cast") || !nextIsParen)
        return false;
    // Find the AS of this CAST.
    int d = 0;
    std::size_t as = std::string::npos;
    for (std::size_t k = i + 1; k < m_last; ++k) {
        if (isPunct(m_toks[k], '('))
            ++d;
        else if (isPunct(m_toks[k], ')') && --d == 0)
            break;
        else if (d == 1 && isWord(m_toks[k], "as")) {
            as = k;
            break;
        }
    }
    if (as == std::string::npos) {
        m_res.syntaxErrorNear = "CAST";
        return true;
    }
    std::size_t j = as + 1;
    const std::string type = typeText(j, m_last);
    operand(isTextTypeText(type));
    Statement inner;
    inner.toks.assign(m_toks.begin() + i + 2, m_toks.begin() + as);
    const std::string base = !tryForm && isVariantTypeText(type)
                                 ? variantBaseArgument(m_toks, i + 2, as, m_ctx)
                                 : std::string();
    emit(convert + quoteString(type) + ", " + translate(inner, m_ctx).sql + base + ")", i);
    i = j; // at the closing ')'
    return true;
}

// Words that read as calls: CURRENT_TIMESTAMP, SYSTEM_USER, the date functions
// (whose first argument is a word), and any name followed by '('.
bool Translator::call(std::size_t& i, const std::string& lw) {
    const Token& t = m_toks[i];
    const bool nextIsParen = i + 1 < m_last && isPunct(m_toks[i + 1], '(');
    if (lw == "current_timestamp") {
        operand(false);
        emit("getdate()", i);
        return true;
    }
    if (isOneOf(t, {"system_user", "session_user", "current_user"}) && !nextIsParen) {
        operand(true);
        emit("suser_sname()", i);
        return true;
    }
    if (isOneOf(t, {"dateadd", "datediff", "datepart", "datename"}) && nextIsParen &&
        i + 2 < m_last && m_toks[i + 2].kind == TokKind::Word) {
        operand(lw == "datename");
        emit(lw + "(" + quoteString(toLower(m_toks[i + 2].text)), i);
        m_levels.push_back(Level{lw, {}, {}, false, {}});
        i += 2;
        return true;
    }
    // Old-style table hint after a name: t (NOLOCK)
    if (nextIsParen && i + 3 < m_last && isHintWord(m_toks[i + 2]) && isPunct(m_toks[i + 3], ')')) {
        emit(part(t.value(), t.kind == TokKind::Quoted), i);
        i += 3;
        return true;
    }
    if (!nextIsParen || (i > m_first && isPunct(m_toks[i - 1], '.')))
        return false;
    static const std::map<std::string, std::string> renamed = {
        {"isnull", "ifnull"},
        {"left", "tds_left"},
        {"right", "tds_right"},
        {"count_big", "count"},
        // Without WITHIN GROUP (ORDER BY ...), which this SQLite cannot order by.
        {"string_agg", "group_concat"},
    };
    operand(returnsText(lw));
    auto it = renamed.find(lw);
    // DATALENGTH counts two bytes per UTF-16 unit of national text.
    if (lw == "datalength" && nationalArgument(i + 1))
        emit("tds_ndatalength", i);
    else
        emit(it != renamed.end() ? it->second : std::string(t.text), i);
    // '(' follows and opens the argument level.
    ++i;
    m_levels.push_back(Level{lw, {}, {}, false, {}});
    emit("(", i);
    return true;
}

// Keywords that end an operand chain.
bool Translator::keyword(std::size_t& i, const std::string& lw) {
    const Token& t = m_toks[i];
    if (!isOneOf(t, {"select",  "from",  "where", "and",  "or",     "not",    "on",     "as",
                     "when",    "then",  "else",  "end",  "case",   "is",     "in",     "like",
                     "between", "order", "group", "by",   "having", "union",  "values", "set",
                     "join",    "into",  "asc",   "desc", "escape", "collate"}))
        return false;
    if (lw == "escape" && level().likeCollation) {
        // LIKE ... ESCAPE e: the collation goes in front of the escape character.
        const std::string c = *std::exchange(level().likeCollation, std::nullopt);
        endChain(level());
        emit("ESCAPE", i);
        if (!iequals(c, kDefaultCollationName))
            emitRaw(quoteString(c + kLikeCollationMark) + " ||");
        return true;
    }
    if (lw == "collate" && i + 1 < m_last && level().likeCollation) {
        // A COLLATE on the pattern decides the collation of the LIKE.
        level().likeCollation = m_toks[i + 1].value();
    }
    endChain(level());
    if (lw == "like") {
        // Text compares in LIKE as the left operand's collation says (or a
        // COLLATE on the pattern); the default one needs nothing passed on,
        // like() folds case without being told.
        emit(std::string(t.text), i);
        level().likeCollation = operandCollation(i).value_or(kDefaultCollationName);
        return true;
    }
    if (lw == "collate" && i + 1 < m_last) {
        // COLLATE <sql server collation>: SQLite resolves the name through
        // the collations of collation.h (448 for one it does not know).
        emit("COLLATE", i);
        emitRaw(std::string(m_toks[i + 1].text));
        ++i;
        return true;
    }
    emit(std::string(t.text), i);
    return true;
}

// Object or column name, possibly in several parts.
void Translator::name(std::size_t& i) {
    const Token& t = m_toks[i];
    std::size_t j = i;
    auto parts = readObjectName(m_toks, j, m_last);
    if (!parts) {
        emit(std::string(t.text), i);
        return;
    }
    std::vector<bool> q;
    for (std::size_t k = i; k < j; ++k)
        if (!isPunct(m_toks[k], '.'))
            q.push_back(m_toks[k].kind == TokKind::Quoted);
    // Empty parts ("db..t") have no token.
    if (q.size() != parts->size()) {
        std::vector<bool> q2;
        std::size_t qi = 0;
        for (const auto& p : *parts)
            q2.push_back(p.empty() ? false : (qi < q.size() ? q[qi++] : false));
        q = q2;
    }
    const bool prevIsTableKeyword =
        i > m_first &&
        isOneOf(m_toks[i - 1],
                {"from", "join", "update", "into", "table", "exists", "view", "references"}) &&
        m_toks[i - 1].kind == TokKind::Word;
    const bool asTable = prevIsTableKeyword || (i > m_first && isPunct(m_toks[i - 1], ','));
    operand(isTextColumn(parts->back()));
    emit(resolveName(*parts, q, asTable || parts->size() == 1), i);
    i = j - 1;
}

Translated Translator::run() {
    collectTables();
    m_levels.push_back(Level{});
    m_isSelect = m_first < m_last && isWord(m_toks[m_first], "select");
    m_isInsert = m_first < m_last && isWord(m_toks[m_first], "insert");
    m_isDelete = m_first < m_last && isWord(m_toks[m_first], "delete");

    for (std::size_t i = m_first; i < m_last; ++i) {
        switch (m_toks[i].kind) {
        case TokKind::Space:
        case TokKind::Comment:
            break;
        case TokKind::String:
        case TokKind::NString:
        case TokKind::Number:
        case TokKind::Binary:
            literal(i);
            break;
        case TokKind::Variable:
            variable(i);
            break;
        case TokKind::Global:
            global(i);
            break;
        case TokKind::Op:
            op(i);
            break;
        case TokKind::Punct:
            punct(i);
            break;
        case TokKind::Word:
        case TokKind::Quoted:
            if (m_toks[i].kind == TokKind::Word && word(i))
                break;
            name(i);
            break;
        }
    }
    while (m_levels.size() > 1) {
        endChain(m_levels.back());
        m_levels.pop_back();
    }
    endChain(m_levels.back());
    if (m_levels.back().limit)
        emitRaw("LIMIT " + *m_levels.back().limit);

    std::string sql;
    for (const auto& p : m_out) {
        if (!sql.empty() && p.space)
            sql += ' ';
        sql += p.text;
    }
    m_res.sql = std::move(sql);
    return std::move(m_res);
}

} // namespace

namespace {

// Words that end a select list at its own depth.
bool endsSelectList(const Token& t) {
    return t.kind == TokKind::Word &&
           isOneOf(t, {"from", "into", "where", "group", "having", "order", "union", "except",
                       "intersect", "option", "for"});
}

// Index past SELECT [ALL|DISTINCT] [TOP n|(n) [PERCENT] [WITH TIES]] at `i`.
std::size_t selectListStart(const std::vector<Token>& toks, std::size_t i, std::size_t last) {
    ++i;
    if (i < last && isOneOf(toks[i], {"all", "distinct"}) && toks[i].kind == TokKind::Word)
        ++i;
    if (i < last && isWord(toks[i], "top")) {
        ++i;
        if (i < last && isPunct(toks[i], '('))
            i = matchingParen(toks, i, last) + 1;
        else
            ++i;
        if (i < last && isWord(toks[i], "percent"))
            ++i;
        if (i + 1 < last && isWord(toks[i], "with") && isWord(toks[i + 1], "ties"))
            i += 2;
    }
    return i;
}

// T-SQL's "SELECT name = expr" becomes "SELECT expr AS name", in every select
// list of [first, last); "SELECT @v = expr" stays an assignment. False when
// nothing was written that way.
bool moveAliasesLast(std::vector<Token>& toks, std::size_t first, std::size_t last) {
    static const std::string_view as = "AS";
    bool changed = false;
    for (std::size_t s = first; s < last; ++s) {
        if (!isWord(toks[s], "select"))
            continue;
        std::size_t item = selectListStart(toks, s, last);
        int depth = 0;
        for (std::size_t k = item; k <= last; ++k) {
            const bool end =
                k == last || (depth == 0 && (endsSelectList(toks[k]) || isPunct(toks[k], ',') ||
                                             isPunct(toks[k], ')')));
            if (!end) {
                if (isPunct(toks[k], '('))
                    ++depth;
                else if (isPunct(toks[k], ')'))
                    --depth;
                continue;
            }
            const Token& alias = toks[item];
            if (k >= item + 3 &&
                (alias.kind == TokKind::Word || alias.kind == TokKind::Quoted ||
                 alias.kind == TokKind::String) &&
                toks[item + 1].kind == TokKind::Op && toks[item + 1].text == "=") {
                Token asTok;
                asTok.kind = TokKind::Word;
                asTok.text = as;
                asTok.pos = std::string::npos / 2; // next to nothing: blanks around it
                const Token name = alias;
                std::rotate(toks.begin() + item, toks.begin() + item + 2, toks.begin() + k);
                toks[k - 2] = asTok;
                toks[k - 1] = name;
                changed = true;
            }
            if (k == last || !isPunct(toks[k], ','))
                break;
            item = k + 1;
        }
    }
    return changed;
}

} // namespace

namespace {

// 468: two text columns of different collations compared without a COLLATE
// clause that settles which one counts (SQLite would quietly take the left
// one's). Columns are found by name in the statement's tables; a name whose
// collation differs between them is left alone.
std::optional<Message> collationConflict(const std::vector<Token>& toks, std::size_t first,
                                         std::size_t last, const TranslateContext& ctx) {
    const bool compares =
        std::any_of(toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last),
                    [](const Token& t) { return t.kind == TokKind::Op && comparisonName(t.text); });
    if (!compares || !ctx.columnTypes)
        return std::nullopt;
    std::map<std::string, std::optional<std::string>> collations;
    bool mixed = false;
    for (const auto& [schema, table] : statementTables(toks, first, last, ctx))
        for (const auto& [name, type] : ctx.columnTypes(schema, table)) {
            if (!isTextType(type.type))
                continue;
            const std::string c = type.collation.empty() ? kDefaultCollationName : type.collation;
            mixed = mixed || c != kDefaultCollationName;
            const auto [it, added] = collations.emplace(name, c);
            if (!added && it->second != c)
                it->second.reset();
        }
    if (!mixed)
        return std::nullopt;
    auto collationAt = [&](std::size_t i) -> std::optional<std::string> {
        if (i < first || i >= last || !toks[i].isName() || isWord(toks[i], "collate"))
            return std::nullopt;
        const auto it = collations.find(toLower(toks[i].value()));
        return it == collations.end() ? std::nullopt : it->second;
    };
    for (std::size_t k = first + 1; k + 1 < last; ++k) {
        const char* what = toks[k].kind == TokKind::Op ? comparisonName(toks[k].text) : nullptr;
        if (!what || (k >= first + 2 && isWord(toks[k - 2], "collate")))
            continue;
        std::size_t right = k + 1;
        if (right + 2 < last && isPunct(toks[right + 1], '.'))
            right += 2;
        const bool settled = right + 1 < last &&
                             (isWord(toks[right + 1], "collate") || isPunct(toks[right + 1], '('));
        const auto a = collationAt(k - 1);
        const auto b = collationAt(right);
        if (!settled && a && b && *a != *b)
            return errorMessage(468, 16,
                                "Cannot resolve the collation conflict between \"" + *a +
                                    "\" and \"" + *b + "\" in the " + what + " operation.",
                                9);
    }
    return std::nullopt;
}

} // namespace

Token madeToken(TokKind kind, std::string_view text) {
    return Token{kind, text, std::string::npos / 2};
}

void appendAsVariant(std::vector<Token>& out, const std::vector<Token>& toks, std::size_t b,
                     std::size_t e, const TranslateContext& ctx) {
    if (const auto t = expressionType(toks, b, e, ctx); t && t->type == SqlType::SqlVariant) {
        out.insert(out.end(), toks.begin() + std::ptrdiff_t(b), toks.begin() + std::ptrdiff_t(e));
        return;
    }
    out.push_back(madeToken(TokKind::Word, "CAST"));
    out.push_back(madeToken(TokKind::Punct, "("));
    out.insert(out.end(), toks.begin() + std::ptrdiff_t(b), toks.begin() + std::ptrdiff_t(e));
    out.push_back(madeToken(TokKind::Word, "AS"));
    out.push_back(madeToken(TokKind::Word, "sql_variant"));
    out.push_back(madeToken(TokKind::Punct, ")"));
}

namespace {

// dbo.f(args) of a scalar user function: tds_udf('f', args), which runs the
// function's body in the session. Returns the new end of the tokens.
std::size_t rewriteScalarCalls(std::vector<Token>& toks, std::size_t first, std::size_t last,
                               const TranslateContext& ctx) {
    if (!ctx.isScalarFunction)
        return last;
    static std::mutex poolMutex;
    static std::set<std::string, std::less<>> pool; // texts the made tokens point to
    for (std::size_t i = first; i + 3 < last; ++i) {
        if (!toks[i].isName() || !isPunct(toks[i + 1], '.') || !toks[i + 2].isName() ||
            !isPunct(toks[i + 3], '(') || (i > first && isPunct(toks[i - 1], '.')))
            continue;
        const std::string schema = toks[i].value();
        if (!iequals(schema, "dbo") && !(ctx.isUserSchema && ctx.isUserSchema(schema)))
            continue;
        const std::string name = toks[i + 2].value();
        if (!ctx.isScalarFunction(name))
            continue;
        std::string_view literal;
        {
            std::lock_guard lock(poolMutex);
            literal = *pool.insert(quoteString(name)).first;
        }
        std::vector<Token> call{madeToken(TokKind::Word, "tds_udf"), toks[i + 3],
                                madeToken(TokKind::String, literal)};
        if (i + 4 < last && !isPunct(toks[i + 4], ')'))
            call.push_back(madeToken(TokKind::Punct, ","));
        toks.erase(toks.begin() + std::ptrdiff_t(i), toks.begin() + std::ptrdiff_t(i + 4));
        toks.insert(toks.begin() + std::ptrdiff_t(i), call.begin(), call.end());
        last = last - 4 + call.size();
    }
    return last;
}

// 257: a sql_variant value put into a column of another type without a
// conversion (SQL Server converts from sql_variant only when told to).
void checkImplicitFromVariant(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                              const ColumnType& target, const TranslateContext& ctx,
                              std::optional<Message>& error) {
    if (!error)
        error = implicitFromVariant(toks, b, e, target, ctx);
}

// UPDATE t SET col = value, ...: a value assigned to a sql_variant column
// becomes CAST(value AS sql_variant). Returns the new end of the tokens.
std::size_t rewriteVariantUpdates(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                  const TranslateContext& ctx, std::optional<Message>& error) {
    if (last <= first + 4 || !isWord(toks[first], "update") || !ctx.columnTypes)
        return last;
    std::size_t set = first + 1;
    while (set < last && !isWord(toks[set], "set"))
        ++set;
    const auto tables = statementTables(toks, first, set, ctx);
    if (set >= last || tables.empty())
        return last;
    if (!involvesVariant(toks, first, last, ctx))
        return last;
    const auto types = ctx.columnTypes(tables.front().first, tables.front().second);
    std::vector<Token> out(toks.begin() + std::ptrdiff_t(first),
                           toks.begin() + std::ptrdiff_t(set + 1));
    std::size_t k = set + 1;
    while (k < last) {
        // One assignment: [alias.]column = expression, up to a ',' or the clause's end.
        std::size_t eq = k;
        while (eq < last && !(toks[eq].kind == TokKind::Op && toks[eq].text == "="))
            ++eq;
        std::size_t end = eq + 1;
        for (int depth = 0; end < last; ++end) {
            depth += isPunct(toks[end], '(') ? 1 : isPunct(toks[end], ')') ? -1 : 0;
            if (depth == 0 && (isPunct(toks[end], ',') ||
                               (toks[end].kind == TokKind::Word &&
                                toks[end].isAny({"where", "from", "output", "option"}))))
                break;
        }
        if (eq >= last || eq == k) {
            out.insert(out.end(), toks.begin() + std::ptrdiff_t(k),
                       toks.begin() + std::ptrdiff_t(last));
            break;
        }
        out.insert(out.end(), toks.begin() + std::ptrdiff_t(k),
                   toks.begin() + std::ptrdiff_t(eq + 1));
        const auto it = types.find(toLower(toks[eq - 1].value()));
        const bool wrap = it != types.end() && it->second.type == SqlType::SqlVariant &&
                          end > eq + 1 && !(end == eq + 2 && isWord(toks[eq + 1], "null"));
        if (wrap)
            appendAsVariant(out, toks, eq + 1, end, ctx);
        else
            out.insert(out.end(), toks.begin() + std::ptrdiff_t(eq + 1),
                       toks.begin() + std::ptrdiff_t(end));
        if (it != types.end())
            checkImplicitFromVariant(toks, eq + 1, end, it->second, ctx, error);
        if (end >= last || !isPunct(toks[end], ',')) {
            out.insert(out.end(), toks.begin() + std::ptrdiff_t(end),
                       toks.begin() + std::ptrdiff_t(last));
            break;
        }
        out.push_back(toks[end]);
        k = end + 1;
    }
    toks.erase(toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last));
    toks.insert(toks.begin() + std::ptrdiff_t(first), out.begin(), out.end());
    return first + out.size();
}

// INSERT [INTO] t [(columns)] VALUES (...), ...: every value that goes into a
// sql_variant column becomes CAST(value AS sql_variant), so that it keeps its
// own type as base type. Returns the new end of the statement's tokens.
std::size_t rewriteVariantInserts(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                  const TranslateContext& ctx, std::optional<Message>& error) {
    if (last <= first + 3 || !isWord(toks[first], "insert") || !ctx.columnTypes || !ctx.columnNames)
        return last;
    std::size_t i = first + 1;
    if (isWord(toks[i], "into"))
        ++i;
    const auto tables = statementTables(toks, first, std::min(last, i + 6), ctx);
    auto name = readObjectName(toks, i, last);
    if (!name || tables.empty())
        return last;
    if (!involvesVariant(toks, first, last, ctx))
        return last;
    const auto& [schema, table] = tables.front();
    const auto types = ctx.columnTypes(schema, table);
    std::vector<std::string> columns;
    if (i < last && isPunct(toks[i], '(')) {
        const std::size_t close = matchingParen(toks, i, last);
        for (std::size_t k = i + 1; k < close; ++k)
            if (toks[k].isName())
                columns.push_back(toLower(toks[k].value()));
        i = close + 1;
    } else {
        columns = ctx.columnNames(schema, table);
        // The identity column takes no value.
        std::erase_if(columns, [&](const std::string& c) {
            const auto it = types.find(c);
            return it != types.end() && it->second.identity;
        });
    }
    if (i < last && isWord(toks[i], "select")) {
        std::vector<std::optional<ColumnType>> targets;
        for (const auto& c : columns) {
            const auto it = types.find(c);
            targets.push_back(it == types.end() ? std::nullopt
                                                : std::optional<ColumnType>(it->second));
        }
        return rewriteInsertSelectList(toks, i, last, targets, ctx, error);
    }
    if (i >= last || !isWord(toks[i], "values"))
        return last;
    auto isVariant = [&](std::size_t n) {
        if (n >= columns.size())
            return false;
        const auto it = types.find(columns[n]);
        return it != types.end() && it->second.type == SqlType::SqlVariant;
    };
    // A sql_variant column of several rows takes one type for all of them,
    // as SQL Server types a VALUES list before it inserts.
    std::vector<std::vector<std::optional<ColumnType>>> rowTypes(columns.size());
    std::vector<bool> numericLiteral(columns.size(), false);
    for (std::size_t k = i + 1; k < last; ++k) {
        if (!isPunct(toks[k], '('))
            continue;
        const std::size_t close = matchingParen(toks, k, last);
        std::size_t start = k + 1, n = 0;
        for (std::size_t j = k + 1, depth = 0; j <= close; ++j) {
            if (j < close && isPunct(toks[j], '('))
                ++depth;
            else if (j < close && isPunct(toks[j], ')'))
                --depth;
            else if (j == close || (depth == 0 && isPunct(toks[j], ','))) {
                if (n < columns.size() && isVariant(n) &&
                    !(j == start + 1 && toks[start].isAny({"null", "default"}))) {
                    rowTypes[n].push_back(operandType(toks, start, j, ctx));
                    numericLiteral[n] = numericLiteral[n] ||
                                        variantBaseText(toks, start, j, ctx).starts_with("numeric");
                }
                ++n;
                start = j + 1;
            }
        }
        k = close;
    }
    std::vector<std::optional<std::string>> unified(columns.size());
    for (std::size_t n = 0; n < columns.size(); ++n)
        if (const auto u = unifiedType(rowTypes[n])) {
            std::string text = declTypeText(*u);
            if (u->type == SqlType::Decimal && numericLiteral[n])
                text.replace(0, baseTypeName(SqlType::Decimal).size(), "numeric");
            unified[n] = text;
        }
    std::vector<Token> out(toks.begin() + std::ptrdiff_t(first),
                           toks.begin() + std::ptrdiff_t(i + 1));
    for (std::size_t k = i + 1; k < last;) {
        if (!isPunct(toks[k], '(')) {
            out.push_back(toks[k++]);
            continue;
        }
        const std::size_t close = matchingParen(toks, k, last);
        out.push_back(toks[k]);
        std::size_t start = k + 1, n = 0;
        int depth = 0;
        for (std::size_t j = k + 1; j <= close; ++j) {
            if (j < close && isPunct(toks[j], '('))
                ++depth;
            else if (j < close && isPunct(toks[j], ')'))
                --depth;
            if (j < close && !(depth == 0 && isPunct(toks[j], ',')))
                continue;
            const bool wrap = isVariant(n++) && j > start &&
                              !(j == start + 1 && isWord(toks[start], "null")) &&
                              !(j == start + 1 && isWord(toks[start], "default"));
            if (wrap && unified[n - 1]) {
                // CAST(CAST(value AS unified type) AS sql_variant)
                std::vector<Token> cast;
                appendCast(cast, toks, start, j, *unified[n - 1]);
                appendAsVariant(out, cast, 0, cast.size(), ctx);
            } else if (wrap)
                appendAsVariant(out, toks, start, j, ctx);
            else
                out.insert(out.end(), toks.begin() + std::ptrdiff_t(start),
                           toks.begin() + std::ptrdiff_t(j));
            if (n <= columns.size())
                if (const auto c = types.find(columns[n - 1]); c != types.end())
                    checkImplicitFromVariant(toks, start, j, c->second, ctx, error);
            if (j < close)
                out.push_back(toks[j]);
            start = j + 1;
        }
        if (close < last)
            out.push_back(toks[close]);
        k = close + 1;
    }
    toks.erase(toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last));
    toks.insert(toks.begin() + std::ptrdiff_t(first), out.begin(), out.end());
    return first + out.size();
}

} // namespace

Translated translate(const Statement& st, const TranslateContext& ctx, std::size_t first,
                     std::size_t last) {
    last = std::min(last, st.toks.size());
    const auto begin = st.toks.begin() + static_cast<std::ptrdiff_t>(std::min(first, last));
    const auto end = st.toks.begin() + static_cast<std::ptrdiff_t>(last);
    const bool maybeAliased =
        std::any_of(begin, end, [](const Token& t) { return isWord(t, "select"); }) &&
        std::any_of(begin, end,
                    [](const Token& t) { return t.kind == TokKind::Op && t.text == "="; });
    Statement rewritten = st;
    if (maybeAliased)
        moveAliasesLast(rewritten.toks, first, last);
    const auto conflict = collationConflict(st.toks, std::min(first, last), last, ctx);
    std::optional<Message> variantError;
    last = rewriteVariantInserts(rewritten.toks, first, last, ctx, variantError);
    last = rewriteVariantUpdates(rewritten.toks, first, last, ctx, variantError);
    last = rewriteUdtCalls(rewritten.toks, first, last, ctx);
    last = rewriteScalarCalls(rewritten.toks, first, last, ctx);
    last = rewriteVariantExpressions(rewritten.toks, first, last, ctx, variantError);
    last = rewriteExactArithmetic(rewritten.toks, first, last, ctx);
    Translated tr = Translator(rewritten, ctx, first, last).run();
    if (conflict || variantError)
        tr.error = conflict ? conflict : variantError;
    return tr;
}

} // namespace tds::sql

namespace tds::sql {

namespace {

// Items of a parenthesised, comma-separated list: token index ranges.
std::vector<std::pair<std::size_t, std::size_t>> listItems(const std::vector<Token>& toks,
                                                           std::size_t open, std::size_t& close) {
    std::vector<std::pair<std::size_t, std::size_t>> items;
    int depth = 0;
    std::size_t start = open + 1;
    for (std::size_t i = open; i < toks.size(); ++i) {
        if (isPunct(toks[i], '('))
            ++depth;
        else if (isPunct(toks[i], ')')) {
            if (--depth == 0) {
                if (i > start)
                    items.emplace_back(start, i);
                close = i;
                return items;
            }
        } else if (depth == 1 && isPunct(toks[i], ',')) {
            items.emplace_back(start, i);
            start = i + 1;
        }
    }
    close = toks.size();
    if (toks.size() > start)
        items.emplace_back(start, toks.size());
    return items;
}

} // namespace

std::size_t matchingParen(const std::vector<Token>& toks, std::size_t open, std::size_t end) {
    end = std::min(end, toks.size());
    int d = 0;
    for (std::size_t k = open; k < end; ++k) {
        if (isPunct(toks[k], '('))
            ++d;
        else if (isPunct(toks[k], ')') && --d == 0)
            return k;
    }
    return end;
}

namespace {

// CREATE TABLE name ( ... ) [ON fg] [TEXTIMAGE_ON fg] [WITH (...)] in SQLite's
// spelling: columns with their types and constraints, then table constraints.
class CreateTable {
public:
    CreateTable(const Statement& st, const TranslateContext& ctx)
        : m_st(st), m_ctx(ctx), m_toks(st.toks) {}

    Translated run();

private:
    struct Column {
        std::string name;
        std::string type;
        bool identity = false;
        bool primaryKey = false;
        std::string pkName;
        std::string rest; // remaining column constraints, translated
        bool hasCollate = false;
        bool aliasNotNull = false; // an alias type declared NOT NULL
        std::string aliasName;     // the alias type the column was declared with
        bool unknownType = false;
    };
    struct PkConstraint {
        std::string name;
        std::vector<std::string> cols;
        std::size_t index; // in m_tableConstraints
    };

    std::string translated(std::size_t from, std::size_t to) const {
        return translate(m_st, m_ctx, from, to).sql;
    }
    std::string constraintText(std::size_t from, std::size_t to) const;
    void tableConstraint(std::size_t from, std::size_t to);
    Column column(std::size_t from, std::size_t to) const;
    std::optional<std::size_t> identityKeys();
    std::string sql(const std::string& name, bool temp,
                    std::optional<std::size_t> dropConstraint) const;

    const Statement& m_st;
    const TranslateContext& m_ctx;
    const std::vector<Token>& m_toks;
    std::vector<Column> m_columns;
    std::vector<std::string> m_tableConstraints;
    std::optional<PkConstraint> m_tablePk;
};

bool isConstraintStart(const Token& t) {
    return t.kind == TokKind::Word &&
           isOneOf(t, {"constraint", "primary", "unique", "foreign", "check", "index"});
}

// Rewrites a constraint's tokens: drops CLUSTERED/NONCLUSTERED, ON <filegroup>,
// WITH options; translates names and expressions.
std::string CreateTable::constraintText(std::size_t from, std::size_t to) const {
    const auto& toks = m_toks;
    std::string out;
    std::size_t k = from;
    while (k < to) {
        const Token& t = toks[k];
        if (t.kind == TokKind::Word &&
            isOneOf(t, {"clustered", "nonclustered", "rowguidcol", "sparse"})) {
            ++k;
            continue;
        }
        if (isWord(t, "not") && k + 2 < to && isWord(toks[k + 1], "for") &&
            isWord(toks[k + 2], "replication")) {
            k += 3;
            continue;
        }
        if (isWord(t, "on") && k + 1 < to && !isOneOf(toks[k + 1], {"delete", "update"})) {
            k += 2;
            continue;
        }
        if (isWord(t, "with") && k + 1 < to) {
            k = isPunct(toks[k + 1], '(') ? matchingParen(toks, k + 1, to) + 1 : to;
            continue;
        }
        if (isWord(t, "default") && k + 1 < to && toks[k + 1].kind == TokKind::Word &&
            !isWord(toks[k + 1], "null")) {
            // DEFAULT getdate() / DEFAULT CURRENT_TIMESTAMP: SQLite wants parentheses.
            std::size_t e = k + 2;
            if (e < to && isPunct(toks[e], '('))
                e = matchingParen(toks, e, to) + 1;
            out += " DEFAULT (" + translated(k + 1, e) + ")";
            k = e;
            continue;
        }
        if (isWord(t, "collate") && k + 1 < to) {
            out += " COLLATE " + std::string(toks[k + 1].text);
            k += 2;
            continue;
        }
        // Any other run up to the next keyword we handle: translate as it is.
        std::size_t e = k + 1;
        if (isPunct(t, '('))
            e = matchingParen(toks, k, to) + 1;
        else if (t.isName()) {
            std::size_t n = k;
            readObjectName(toks, n, to);
            e = std::max(e, n);
        }
        out += " " + translated(k, e);
        k = e;
    }
    return out;
}

// A table constraint; a PRIMARY KEY is remembered for the IDENTITY column.
void CreateTable::tableConstraint(std::size_t from, std::size_t to) {
    const auto& toks = m_toks;
    std::size_t k = from;
    std::string cname;
    if (isWord(toks[k], "constraint") && k + 1 < to) {
        cname = toks[k + 1].value();
        k += 2;
    }
    if (k + 1 < to && isWord(toks[k], "primary") && isWord(toks[k + 1], "key")) {
        std::size_t p = k + 2;
        while (p < to && !isPunct(toks[p], '('))
            ++p;
        PkConstraint pk{cname, {}, m_tableConstraints.size()};
        if (p < to) {
            std::size_t pclose = 0;
            for (const auto& [a, b] : listItems(toks, p, pclose))
                pk.cols.push_back(toks[a].value());
        }
        m_tablePk = pk;
    }
    m_tableConstraints.push_back(constraintText(from, to));
}

// A column: its name, its type and its constraints, with IDENTITY and PRIMARY
// KEY taken out.
CreateTable::Column CreateTable::column(std::size_t from, std::size_t to) const {
    const auto& toks = m_toks;
    Column c;
    c.name = toks[from].value();
    std::size_t k = from + 1;
    // The type: words up to a parenthesised argument list.
    std::string type;
    while (k < to && toks[k].isName() &&
           !isOneOf(toks[k], {"identity", "not", "null", "primary", "unique", "default",
                              "constraint", "check", "references", "collate", "foreign",
                              "clustered", "nonclustered", "rowguidcol", "sparse"})) {
        if (!type.empty())
            type += ' ';
        type += toks[k].value();
        ++k;
        if (k < to && isPunct(toks[k], '.')) { // dbo.type: keep the type name
            type.clear();
            ++k;
        }
    }
    if (k < to && isPunct(toks[k], '(')) {
        std::size_t e = matchingParen(toks, k, to);
        type += '(';
        for (std::size_t a = k + 1; a < e; ++a)
            type += toks[a].is("max") ? std::string("-1") : std::string(toks[a].text);
        type += ')';
        k = e + 1;
    }
    c.type = type;
    if (!type.empty() && !parseDeclType(type)) {
        if (const auto alias = m_ctx.aliasType ? m_ctx.aliasType(toLower(type)) : std::nullopt) {
            c.type = alias->base;
            bool nullGiven = false;
            for (std::size_t j = k; j < to; ++j)
                nullGiven = nullGiven || isWord(toks[j], "null");
            c.aliasNotNull = alias->notNull && !nullGiven;
            c.aliasName = toLower(type);
        } else {
            c.unknownType = true;
        }
    }
    std::size_t restFrom = k;
    std::string rest;
    // Column constraints, with IDENTITY and PRIMARY KEY taken out.
    std::size_t segStart = restFrom;
    auto flush = [&](std::size_t upto) {
        if (upto > segStart)
            rest += constraintText(segStart, upto);
    };
    while (k < to) {
        if (isWord(toks[k], "identity")) {
            flush(k);
            c.identity = true;
            ++k;
            if (k < to && isPunct(toks[k], '('))
                k = matchingParen(toks, k, to) + 1;
            segStart = k;
            continue;
        }
        if (isWord(toks[k], "constraint") && k + 3 < to && isWord(toks[k + 2], "primary")) {
            flush(k);
            c.pkName = toks[k + 1].value();
            c.primaryKey = true;
            k += 4;
            segStart = k;
            continue;
        }
        if (isWord(toks[k], "primary") && k + 1 < to && isWord(toks[k + 1], "key")) {
            flush(k);
            c.primaryKey = true;
            k += 2;
            segStart = k;
            continue;
        }
        if (isWord(toks[k], "collate"))
            c.hasCollate = true;
        ++k;
    }
    flush(to);
    c.rest = rest;
    return c;
}

// An IDENTITY column that is (or may become) the primary key becomes
// SQLite's INTEGER PRIMARY KEY AUTOINCREMENT; the key keeps its name. Returns
// the table constraint that this makes redundant.
std::optional<std::size_t> CreateTable::identityKeys() {
    std::optional<std::size_t> dropConstraint;
    for (auto& c : m_columns) {
        if (!c.identity)
            continue;
        if (m_tablePk && m_tablePk->cols.size() == 1 && iequals(m_tablePk->cols[0], c.name)) {
            c.primaryKey = true;
            c.pkName = m_tablePk->name;
            dropConstraint = m_tablePk->index;
        } else if (m_tablePk ||
                   std::any_of(m_columns.begin(), m_columns.end(),
                               [&](const Column& o) { return &o != &c && o.primaryKey; })) {
            continue; // another key: stays a plain column
        } else {
            c.primaryKey = true;
        }
    }
    return dropConstraint;
}

std::string CreateTable::sql(const std::string& name, bool temp,
                             std::optional<std::size_t> dropConstraint) const {
    std::string sql = temp ? "CREATE TEMP TABLE " : "CREATE TABLE ";
    sql += name + " (";
    bool firstItem = true;
    for (const auto& c : m_columns) {
        sql += firstItem ? "" : ", ";
        firstItem = false;
        sql += quoteIdent(c.name);
        if (c.identity && c.primaryKey) {
            sql += " INTEGER";
            if (!c.pkName.empty())
                sql += " CONSTRAINT " + quoteIdent(c.pkName);
            sql += " PRIMARY KEY AUTOINCREMENT";
        } else {
            if (!c.type.empty())
                sql += " " + storageDeclType(c.type);
            if (c.primaryKey) {
                if (!c.pkName.empty())
                    sql += " CONSTRAINT " + quoteIdent(c.pkName);
                sql += " PRIMARY KEY";
            }
        }
        if (c.aliasNotNull)
            sql += " NOT NULL";
        if (!c.aliasName.empty()) // kept so that the type cannot be dropped while in use
            sql += " /*type " + c.aliasName + "*/";
        sql += c.rest;
        // Character columns compare as the server's collation does; GUIDs
        // kept as text only without regard to case.
        if (const auto t = parseDeclType(c.type); !c.hasCollate && t && isTextTypeText(c.type))
            sql += t->type == SqlType::UniqueIdentifier
                       ? std::string(" COLLATE NOCASE")
                       : std::string(" COLLATE ") + kDefaultCollationName;
        if (const auto t = parseDeclType(c.type);
            !c.hasCollate && !(c.identity && c.primaryKey) && t && storageCollation(*t))
            sql += std::string(" COLLATE ") + storageCollation(*t);
        // A row version is set on insert here, on update by a trigger (checks.cpp).
        if (const auto t = parseDeclType(c.type); t && t->rowVersion)
            sql += " NOT NULL DEFAULT (tds_next_rowversion())";
    }
    for (std::size_t k = 0; k < m_tableConstraints.size(); ++k) {
        if (dropConstraint && *dropConstraint == k)
            continue;
        sql += ", " + m_tableConstraints[k].substr(
                          m_tableConstraints[k].empty() || m_tableConstraints[k][0] != ' ' ? 0 : 1);
    }
    sql += ")";
    return sql;
}

Translated CreateTable::run() {
    Translated res;
    const auto& toks = m_toks;
    std::size_t i = 2;
    std::size_t nameStart = i;
    auto parts = readObjectName(toks, i);
    if (!parts || i >= toks.size() || !isPunct(toks[i], '(')) {
        res.syntaxErrorNear = i < toks.size() ? std::string(toks[i].text) : std::string("TABLE");
        return res;
    }
    const bool temp = !parts->back().empty() && parts->back()[0] == '#';
    const std::string name = translated(nameStart, i);
    std::size_t close = 0;
    for (const auto& [from, to] : listItems(toks, i, close)) {
        if (isConstraintStart(toks[from]))
            tableConstraint(from, to);
        else
            m_columns.push_back(column(from, to));
        if (!m_columns.empty() && m_columns.back().unknownType && !res.unknownType)
            res.unknownType = {static_cast<int>(m_columns.size()), m_columns.back().type};
    }
    const std::optional<std::size_t> dropConstraint = identityKeys();
    res.sql = sql(name, temp, dropConstraint);
    res.intoName = parts->back();
    return res;
}

} // namespace

Translated translateCreateTable(const Statement& st, const TranslateContext& ctx) {
    return CreateTable(st, ctx).run();
}

} // namespace tds::sql
