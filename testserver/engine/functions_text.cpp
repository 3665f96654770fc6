// T-SQL string functions: lengths, searching, slicing, case, LIKE.

#include "testserver/engine/functions.h"

#include "testserver/engine/collation.h"

#include "testserver/engine/values.h"
#include "testserver/engine/variant.h"

#include <algorithm>
#include <cstdint>

namespace tds::sqlfn {

using namespace sql;

namespace {

// The largest value REPLICATE builds, in bytes of UTF-8; SQLite holds at most
// a billion bytes in one value.
constexpr std::uint64_t kMaxReplicateBytes = 512ull * 1024 * 1024;

void sqlLen(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::string s = text(a[0]);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf16Length(s)));
}

void sqlDatalength(sqlite3_context* ctx, int, sqlite3_value** a) {
    switch (sqlite3_value_type(a[0])) {
    case SQLITE_NULL:
        return sqlite3_result_null(ctx);
    case SQLITE_INTEGER:
        return sqlite3_result_int(ctx, 4);
    case SQLITE_FLOAT:
        return sqlite3_result_int(ctx, 8);
    case SQLITE_BLOB:
        return sqlite3_result_int(ctx, sqlite3_value_bytes(a[0]));
    default: {
        const std::string s = text(a[0]);
        // A sql_variant: the bytes of its base value.
        if (isTaggedVariant(s))
            return sqlite3_result_int(ctx, variantProperties(variantOf(s)).dataBytes);
        return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf16Length(s)));
    }
    }
}

// DATALENGTH of national text: two bytes per UTF-16 unit.
void sqlNDatalength(sqlite3_context* ctx, int n, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT)
        return sqlDatalength(ctx, n, a);
    sqlite3_result_int64(ctx, 2 * static_cast<sqlite3_int64>(utf16Length(text(a[0]))));
}

void sqlCharindex(sqlite3_context* ctx, int n, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string needle = decode(text(a[0]));
    std::u32string hay = decode(text(a[1]));
    for (auto& ch : needle)
        ch = lowerCp(ch);
    for (auto& ch : hay)
        ch = lowerCp(ch);
    std::size_t start = n > 2 && sqlite3_value_int(a[2]) > 1
                            ? static_cast<std::size_t>(sqlite3_value_int(a[2]) - 1)
                            : 0;
    if (needle.empty())
        return sqlite3_result_int(ctx, 0);
    const auto pos = hay.find(needle, start);
    sqlite3_result_int64(ctx,
                         pos == std::u32string::npos ? 0 : static_cast<sqlite3_int64>(pos + 1));
}

void sqlTdsLeft(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    const int n = std::max(0, sqlite3_value_int(a[1]));
    result(ctx, encode(s.substr(0, static_cast<std::size_t>(n))));
}

void sqlTdsRight(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    const std::size_t n = static_cast<std::size_t>(std::max(0, sqlite3_value_int(a[1])));
    result(ctx, encode(n >= s.size() ? s : s.substr(s.size() - n)));
}

void sqlUpper(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    for (auto& ch : s)
        ch = upperCp(ch);
    result(ctx, encode(s));
}

void sqlLower(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    for (auto& ch : s)
        ch = lowerCp(ch);
    result(ctx, encode(s));
}

void sqlSpace(sqlite3_context* ctx, int, sqlite3_value** a) {
    result(ctx, std::string(static_cast<std::size_t>(std::clamp(sqlite3_value_int(a[0]), 0, 8000)),
                            ' '));
}

void sqlReplicate(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    if (sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::string s = text(a[0]);
    const sqlite3_int64 n = sqlite3_value_int64(a[1]);
    if (n < 0)
        return sqlite3_result_null(ctx);
    // The whole value or an error, never a cut one: a result beyond what one
    // value may hold here fails the statement as a server out of memory does.
    if (!s.empty() && static_cast<std::uint64_t>(n) > kMaxReplicateBytes / s.size())
        return resultError(ctx, 701, 17,
                           "There is insufficient system memory in resource pool 'default' to "
                           "run this query.");
    std::string r;
    r.reserve(s.size() * static_cast<std::size_t>(n));
    for (sqlite3_int64 i = 0; i < n; ++i)
        r += s;
    result(ctx, r);
}

void sqlReverse(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    std::reverse(s.begin(), s.end());
    result(ctx, encode(s));
}

void sqlStuff(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::u32string s = decode(text(a[0]));
    const int start = sqlite3_value_int(a[1]);
    const int len = sqlite3_value_int(a[2]);
    if (start < 1 || start > static_cast<int>(s.size()) || len < 0)
        return sqlite3_result_null(ctx);
    s.replace(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(len),
              decode(text(a[3])));
    result(ctx, encode(s));
}

void sqlAscii(sqlite3_context* ctx, int, sqlite3_value** a) {
    const std::string s = text(a[0]);
    if (s.empty())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
}

void sqlQuotename(sqlite3_context* ctx, int, sqlite3_value** a) {
    std::string r = "[";
    for (char ch : text(a[0])) {
        r += ch;
        if (ch == ']')
            r += ']';
    }
    result(ctx, r + "]");
}

void sqlConcat(sqlite3_context* ctx, int n, sqlite3_value** a) {
    std::string r;
    for (int i = 0; i < n; ++i)
        r += text(a[i]);
    result(ctx, r);
}

void sqlLike(sqlite3_context* ctx, int n, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    char32_t esc = 0;
    const sql::Collation* collation = nullptr;
    if (n == 3) {
        // "escape", or "collation\x01escape" for a LIKE under a collation of its own.
        std::string e = text(a[2]);
        if (const auto mark = e.find(sql::kLikeCollationMark); mark != std::string::npos) {
            collation = sql::findCollation(std::string_view(e).substr(0, mark));
            e.erase(0, mark + 1);
        }
        const auto cps = decode(e);
        esc = cps.empty() ? 0 : cps[0];
    }
    sqlite3_result_int(ctx, likeMatch(text(a[0]), text(a[1]), esc, collation) ? 1 : 0);
}

// tds_codepage(x, cp): text as code page cp keeps it ('?' for what it lacks);
// other values as they are. tds_codepage_lossy(x, cp): whether it changes
// text. tds_codepage_length(x, cp): the bytes of text in the code page.
void sqlCodePage(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT)
        return sqlite3_result_value(ctx, a[0]);
    result(ctx, throughCodePage(text(a[0]), sqlite3_value_int(a[1])));
}

void sqlCodePageLossy(sqlite3_context* ctx, int, sqlite3_value** a) {
    sqlite3_result_int(ctx, sqlite3_value_type(a[0]) == SQLITE_TEXT &&
                                !codePageHolds(text(a[0]), sqlite3_value_int(a[1])));
}

void sqlCodePageLength(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const int cp = sqlite3_value_int(a[1]);
    const std::string s = text(a[0]);
    sqlite3_result_int64(
        ctx, std::int64_t(cp == kCodePageUtf8 ? s.size() : encodeCodePage(s, cp).size()));
}

const FunctionDef functions[] = {
    {"tds_codepage", 2, sqlCodePage},
    {"tds_codepage_lossy", 2, sqlCodePageLossy},
    {"tds_codepage_length", 2, sqlCodePageLength},
    {"len", 1, sqlLen},
    {"datalength", 1, sqlDatalength},
    {"tds_ndatalength", 1, sqlNDatalength},
    {"charindex", 2, sqlCharindex},
    {"charindex", 3, sqlCharindex},
    {"tds_left", 2, sqlTdsLeft},
    {"tds_right", 2, sqlTdsRight},
    {"upper", 1, sqlUpper},
    {"lower", 1, sqlLower},
    {"space", 1, sqlSpace},
    {"replicate", 2, sqlReplicate},
    {"reverse", 1, sqlReverse},
    {"stuff", 4, sqlStuff},
    {"ascii", 1, sqlAscii},
    {"quotename", 1, sqlQuotename},
    {"concat", -1, sqlConcat},
    {"like", 2, sqlLike},
    {"like", 3, sqlLike},
};

} // namespace

std::span<const FunctionDef> textFunctions() {
    return functions;
}

} // namespace tds::sqlfn

namespace tds {

using namespace sqlfn;

bool likeMatch(std::string_view pattern, std::string_view value, char32_t escape,
               const sql::Collation* collation) {
    const std::u32string p = decode(pattern);
    const std::u32string s = decode(value);
    // Characters compare as the collation says; without one, ignoring case.
    auto same = [&](char32_t a, char32_t b) {
        if (!collation)
            return lowerCp(a) == lowerCp(b);
        return sql::sameCharacter(*collation, encode({a}), encode({b}));
    };
    auto inRange = [&](char32_t c, char32_t lo, char32_t hi) {
        if (!collation)
            return lowerCp(c) >= lowerCp(lo) && lowerCp(c) <= lowerCp(hi);
        return sql::characterInRange(*collation, encode({c}), encode({lo}), encode({hi}));
    };
    // Iterative matcher with backtracking on '%'.
    std::size_t pi = 0, si = 0, starP = std::u32string::npos, starS = 0;
    auto matchOne = [&](std::size_t& pp, char32_t c) -> bool {
        // Matches one pattern element at pp against c; advances pp.
        if (escape && p[pp] == escape && pp + 1 < p.size()) {
            const bool ok = same(p[pp + 1], c);
            pp += 2;
            return ok;
        }
        if (p[pp] == '_') {
            ++pp;
            return true;
        }
        if (p[pp] == '[') {
            std::size_t close = p.find(']', pp + 2);
            if (close == std::u32string::npos) {
                const bool ok = c == '[';
                ++pp;
                return ok;
            }
            std::size_t k = pp + 1;
            bool negate = false;
            if (p[k] == '^') {
                negate = true;
                ++k;
            }
            bool hit = false;
            for (; k < close; ++k) {
                if (k + 2 < close && p[k + 1] == '-') {
                    if (inRange(c, p[k], p[k + 2]))
                        hit = true;
                    k += 2;
                } else if (same(p[k], c)) {
                    hit = true;
                }
            }
            pp = close + 1;
            return hit != negate;
        }
        const bool ok = same(p[pp], c);
        ++pp;
        return ok;
    };
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '%' && !(escape && pi > 0 && p[pi - 1] == escape)) {
            starP = ++pi;
            starS = si;
            continue;
        }
        std::size_t pp = pi;
        if (pi < p.size() && matchOne(pp, s[si])) {
            pi = pp;
            ++si;
            continue;
        }
        if (starP != std::u32string::npos) {
            pi = starP;
            si = ++starS;
            continue;
        }
        return false;
    }
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}

} // namespace tds
