// The CLR types' static methods (geography::Point, hierarchyid::Parse, ...)
// and instance methods and properties (loc.STAsText(), loc.Lat, h.GetLevel())
// as SQLite functions over the serialized values, and the rewrite of their
// T-SQL spelling into calls of those functions.

#include "testserver/engine/functions_udt.h"

#include "testserver/engine/functions.h"
#include "testserver/engine/udt.h"

#include <array>

namespace tds {

using namespace sqlfn;

namespace {

// 6522 is how SQL Server reports an exception thrown inside a CLR type.
void clrError(sqlite3_context* ctx, UdtKind kind, const udt::Error& e) {
    resultError(ctx, 6522, 16,
                "A .NET Framework error occurred during execution of user-defined routine or "
                "aggregate \"" +
                    std::string(udt::typeName(kind)) + "\": \n" + e.text);
}

bool anyNull(int argc, sqlite3_value** argv) {
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL)
            return true;
    return false;
}

void resultBlob(sqlite3_context* ctx, const Blob& b) {
    result(ctx, Value{b});
}

template <UdtKind K> void sqlPoint(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    udt::Error e;
    const double a = sqlite3_value_double(argv[0]), b = sqlite3_value_double(argv[1]);
    const std::int64_t srid = sqlite3_value_int64(argv[2]);
    const auto p = K == UdtKind::Geography ? udt::geographyPoint(a, b, srid, &e)
                                           : udt::geometryPoint(a, b, srid, &e);
    if (!p)
        return clrError(ctx, K, e);
    resultBlob(ctx, udt::encodePoint(*p));
}

template <UdtKind K> void sqlFromText(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(ctx);
    udt::Error e;
    const auto p = udt::pointFromText(K, text(argv[0]), sqlite3_value_int64(argv[1]), &e);
    if (!p)
        return clrError(ctx, K, e);
    resultBlob(ctx, udt::encodePoint(*p));
}

void sqlHierarchyParse(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    udt::Error e;
    auto path = udt::parseHierarchy(text(argv[0]), &e);
    auto bytes = path ? udt::encodeHierarchy(*path, &e) : std::nullopt;
    if (!bytes)
        return clrError(ctx, UdtKind::HierarchyId, e);
    resultBlob(ctx, *bytes);
}

void sqlHierarchyRoot(sqlite3_context* ctx, int, sqlite3_value**) {
    resultBlob(ctx, Blob{});
}

Blob blobArg(sqlite3_value* v) {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_value_blob(v));
    return p ? Blob(p, p + sqlite3_value_bytes(v)) : Blob{};
}

// tds_udt_method('geography', 'lat', value, args...): kind '' when the
// translator could not tell, then the bytes decide.
void sqlMethod(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 3 || sqlite3_value_type(argv[2]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::string kindName = text(argv[0]);
    const std::string method = text(argv[1]);
    Blob value = blobArg(argv[2]);
    UdtKind kind = udt::kindOf(kindName).value_or(udt::guessKind(value));
    udt::Error e;
    if (sqlite3_value_type(argv[2]) == SQLITE_TEXT && udt::kindOf(kindName)) {
        // Text in a CLR column: the value SQL Server would have made of it.
        auto bytes = udt::fromText(kind, text(argv[2]), &e);
        if (!bytes)
            return clrError(ctx, kind, e);
        value = std::move(*bytes);
    }
    if (kind == UdtKind::HierarchyId) {
        const auto path = udt::decodeHierarchy(value, &e);
        if (!path)
            return clrError(ctx, kind, e);
        if (method == "tostring")
            return result(ctx, Value{udt::hierarchyText(*path)});
        if (method == "getlevel")
            return sqlite3_result_int64(ctx, std::int64_t(path->size()));
    } else {
        const auto p = udt::decodePoint(kind, value, &e);
        if (!p)
            return clrError(ctx, kind, e);
        if (method == "tostring" || method == "stastext")
            return result(ctx, Value{udt::pointText(*p)});
        if (method == "stsrid")
            return sqlite3_result_int64(ctx, p->srid);
        const bool geo = kind == UdtKind::Geography;
        if ((geo && method == "lat") || (!geo && method == "sty"))
            return sqlite3_result_double(ctx, p->y);
        if ((geo && method == "long") || (!geo && method == "stx"))
            return sqlite3_result_double(ctx, p->x);
    }
    // 6506: the method does not exist on this type.
    resultError(ctx, 6506, 16,
                "Could not find method '" + method + "' for type '" +
                    std::string(udt::typeName(kind)) + "' in assembly 'Microsoft.SqlServer.Types'");
}

// T-SQL static methods and the functions that implement them.
struct StaticMethod {
    UdtKind kind;
    std::string_view method; // lower case
    std::string_view function;
    bool returnsUdt;
};

constexpr std::array<StaticMethod, 8> kStatics{{
    {UdtKind::Geography, "point", "tds_geography_point", true},
    {UdtKind::Geography, "stgeomfromtext", "tds_geography_fromtext", true},
    {UdtKind::Geography, "stpointfromtext", "tds_geography_fromtext", true},
    {UdtKind::Geometry, "point", "tds_geometry_point", true},
    {UdtKind::Geometry, "stgeomfromtext", "tds_geometry_fromtext", true},
    {UdtKind::Geometry, "stpointfromtext", "tds_geometry_fromtext", true},
    {UdtKind::HierarchyId, "parse", "tds_hierarchyid_parse", true},
    {UdtKind::HierarchyId, "getroot", "tds_hierarchyid_getroot", true},
}};

// Instance methods (called with parentheses) and properties, with their
// names as SQL text literals for tds_udt_method.
struct Member {
    std::string_view name;
    std::string_view literal;
    bool property;
};

constexpr std::array<Member, 8> kMembers{{
    {"tostring", "'tostring'", false},
    {"stastext", "'stastext'", false},
    {"getlevel", "'getlevel'", false},
    {"lat", "'lat'", true},
    {"long", "'long'", true},
    {"stx", "'stx'", true},
    {"sty", "'sty'", true},
    {"stsrid", "'stsrid'", true},
}};

constexpr std::array<std::string_view, 4> kKindLiterals{
    {"''", "'geography'", "'geometry'", "'hierarchyid'"}};

const sql::Token synthetic(sql::TokKind kind, std::string_view text) {
    sql::Token t;
    t.kind = kind;
    t.text = text;
    t.pos = std::string::npos / 2; // far from every real token: blanks around it
    return t;
}

const StaticMethod* staticMethod(const std::vector<sql::Token>& toks, std::size_t i,
                                 std::size_t last) {
    if (i + 3 >= last || toks[i].kind != sql::TokKind::Word ||
        toks[i + 1].kind != sql::TokKind::Op || toks[i + 1].text != "::" ||
        toks[i + 2].kind != sql::TokKind::Word || !sql::isPunctTok(toks[i + 3], '('))
        return nullptr;
    const auto kind = udt::kindOf(sql::toLower(toks[i].text));
    if (!kind)
        return nullptr;
    const std::string m = sql::toLower(toks[i + 2].text);
    for (const auto& s : kStatics)
        if (s.kind == *kind && s.method == m)
            return &s;
    return nullptr;
}

} // namespace

namespace sqlfn {

void registerUdtFunctions(sqlite3* c) {
    struct Def {
        const char* name;
        int args;
        Function call;
    };
    static constexpr Def defs[] = {
        {"tds_geography_point", 3, sqlPoint<UdtKind::Geography>},
        {"tds_geometry_point", 3, sqlPoint<UdtKind::Geometry>},
        {"tds_geography_fromtext", 2, sqlFromText<UdtKind::Geography>},
        {"tds_geometry_fromtext", 2, sqlFromText<UdtKind::Geometry>},
        {"tds_hierarchyid_parse", 1, sqlHierarchyParse},
        {"tds_hierarchyid_getroot", 0, sqlHierarchyRoot},
        {"tds_udt_method", -1, sqlMethod},
    };
    for (const Def& d : defs)
        sqlite3_create_function_v2(c, d.name, d.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   d.call, nullptr, nullptr, nullptr);
}

} // namespace sqlfn

namespace sql {

std::optional<UdtKind> udtStaticResult(const std::vector<Token>& toks, std::size_t first,
                                       std::size_t last) {
    const StaticMethod* s = staticMethod(toks, first, last);
    if (!s || !s->returnsUdt || matchingParen(toks, first + 3, last) != last - 1)
        return std::nullopt;
    return s->kind;
}

std::size_t rewriteUdtCalls(std::vector<Token>& toks, std::size_t first, std::size_t last,
                            const TranslateContext& ctx) {
    last = std::min(last, toks.size());
    const bool any =
        std::any_of(toks.begin() + std::ptrdiff_t(first), toks.begin() + std::ptrdiff_t(last),
                    [](const Token& t) {
                        return (t.kind == TokKind::Op && t.text == "::") || isPunctTok(t, '.');
                    });
    if (!any)
        return last;
    // geography::Point( -> tds_geography_point(
    for (std::size_t i = first; i < last; ++i)
        if (const StaticMethod* s = staticMethod(toks, i, last)) {
            toks[i] = synthetic(TokKind::Word, s->function);
            toks.erase(toks.begin() + std::ptrdiff_t(i + 1), toks.begin() + std::ptrdiff_t(i + 3));
            last -= 2;
        }
    // The statement's columns of a CLR type, looked up on first need.
    std::optional<std::map<std::string, UdtKind>> udtColumns;
    auto columnKind = [&](const std::string& name) -> std::optional<UdtKind> {
        if (!udtColumns) {
            udtColumns.emplace();
            if (ctx.columnTypes)
                for (const auto& [schema, table] : statementTables(toks, first, last, ctx))
                    for (const auto& [col, type] : ctx.columnTypes(schema, table))
                        if (type.type == SqlType::Udt)
                            udtColumns->emplace(col, type.udt);
        }
        const auto it = udtColumns->find(toLower(name));
        if (it == udtColumns->end())
            return std::nullopt;
        return it->second;
    };
    // operand.Member[(args)] -> tds_udt_method('kind', 'member', operand[, args])
    for (std::size_t j = first + 1; j + 1 < last; ++j) {
        if (!isPunctTok(toks[j], '.') || toks[j + 1].kind != TokKind::Word)
            continue;
        const std::string name = toLower(toks[j + 1].text);
        const Member* m = nullptr;
        for (const auto& cand : kMembers)
            if (cand.name == name)
                m = &cand;
        if (!m)
            continue;
        const bool called = j + 2 < last && isPunctTok(toks[j + 2], '(');
        if (called == m->property)
            continue;
        // The operand: a name chain, a variable, or a call.
        std::size_t start = j - 1;
        std::optional<UdtKind> kind;
        const Token& before = toks[j - 1];
        if (isPunctTok(before, ')')) {
            int depth = 0;
            for (std::size_t k = j - 1;; --k) {
                if (isPunctTok(toks[k], ')'))
                    ++depth;
                else if (isPunctTok(toks[k], '(') && --depth == 0) {
                    start = k;
                    break;
                }
                if (k == first)
                    break;
            }
            if (depth != 0)
                continue;
            if (start > first && toks[start - 1].kind == TokKind::Word) {
                --start;
                for (const auto& s : kStatics)
                    if (toks[start].text == s.function)
                        kind = s.kind;
            }
        } else if (before.kind == TokKind::Variable) {
            if (ctx.variableType)
                if (const auto t = ctx.variableType(toLower(before.text));
                    t && t->type == SqlType::Udt)
                    kind = t->udt;
        } else if (before.isName()) {
            kind = columnKind(before.value());
            // A property needs a column of a CLR type: t.lat is otherwise a column.
            if (!kind && m->property)
                continue;
            while (start >= first + 2 && isPunctTok(toks[start - 1], '.') &&
                   toks[start - 2].isName())
                start -= 2;
        } else {
            continue;
        }
        std::vector<Token> call;
        call.push_back(synthetic(TokKind::Word, "tds_udt_method"));
        call.push_back(synthetic(TokKind::Punct, "("));
        call.push_back(
            synthetic(TokKind::String, kKindLiterals[std::size_t(kind.value_or(UdtKind::None))]));
        call.push_back(synthetic(TokKind::Punct, ","));
        call.push_back(synthetic(TokKind::String, m->literal));
        call.push_back(synthetic(TokKind::Punct, ","));
        call.insert(call.end(), toks.begin() + std::ptrdiff_t(start),
                    toks.begin() + std::ptrdiff_t(j));
        std::size_t end = j + 2; // past the member's name
        if (called) {
            const std::size_t close = matchingParen(toks, j + 2, last);
            if (close >= last)
                continue;
            if (close > j + 3) {
                call.push_back(synthetic(TokKind::Punct, ","));
                call.insert(call.end(), toks.begin() + std::ptrdiff_t(j + 3),
                            toks.begin() + std::ptrdiff_t(close));
            }
            end = close + 1;
        }
        call.push_back(synthetic(TokKind::Punct, ")"));
        toks.erase(toks.begin() + std::ptrdiff_t(start), toks.begin() + std::ptrdiff_t(end));
        toks.insert(toks.begin() + std::ptrdiff_t(start), call.begin(), call.end());
        last = last - (end - start) + call.size();
        j = start; // the call may itself be the operand of the next member
    }
    return last;
}

} // namespace sql

} // namespace tds
