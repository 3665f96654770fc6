// T-SQL built-in functions as SQLite functions: the helpers they share and
// their registration on every connection, family by family.

#include "testserver/engine/functions.h"
#include "testserver/engine/functions_udt.h"
#include "testserver/engine/wide_select.h"

#include "testserver/engine/collation.h"

#include "testserver/engine/decimal.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"
#include "testserver/engine/variant.h"

#include <cstdlib>

namespace tds {

namespace sqlfn {

using namespace sql;

Value argValue(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_TEXT:
        return std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                           static_cast<std::size_t>(sqlite3_value_bytes(v)));
    case SQLITE_BLOB: {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_value_blob(v));
        return Blob(p, p + sqlite3_value_bytes(v));
    }
    default:
        return Null{};
    }
}

void result(sqlite3_context* ctx, const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        sqlite3_result_int64(ctx, *i);
    else if (const auto* d = std::get_if<double>(&v))
        sqlite3_result_double(ctx, *d);
    else if (const auto* s = std::get_if<std::string>(&v))
        sqlite3_result_text(ctx, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
    else if (const auto* b = std::get_if<Blob>(&v); b && b->empty())
        sqlite3_result_zeroblob(ctx, 0); // no data pointer would give NULL
    else if (b)
        sqlite3_result_blob(ctx, b->data(), static_cast<int>(b->size()), SQLITE_TRANSIENT);
    else
        sqlite3_result_null(ctx);
}

namespace {

thread_local std::vector<std::string>* t_deferred = nullptr;
// Control characters no value of a test database holds.
constexpr std::string_view kDeferredMark = "\x1F\x1Etds-deferred:";

} // namespace

void resultError(sqlite3_context* ctx, int number, int severity, const std::string& text) {
    const std::string msg =
        "tds:" + std::to_string(number) + ":" + std::to_string(severity) + ":" + text;
    if (t_deferred) {
        const std::string mark = std::string(kDeferredMark) + std::to_string(t_deferred->size());
        t_deferred->push_back(msg);
        sqlite3_result_text(ctx, mark.data(), static_cast<int>(mark.size()), SQLITE_TRANSIENT);
        return;
    }
    sqlite3_result_error(ctx, msg.c_str(), -1);
}

DeferredValueErrors::DeferredValueErrors(std::vector<std::string>& errors)
    : m_previous(t_deferred) {
    t_deferred = &errors;
}

DeferredValueErrors::~DeferredValueErrors() {
    t_deferred = m_previous;
}

std::optional<std::size_t> deferredError(sqlite3_value* v) {
    if (sqlite3_value_type(v) != SQLITE_TEXT)
        return std::nullopt;
    const std::string_view s(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                             static_cast<std::size_t>(sqlite3_value_bytes(v)));
    if (!s.starts_with(kDeferredMark))
        return std::nullopt;
    return static_cast<std::size_t>(
        std::atoll(std::string(s.substr(kDeferredMark.size())).c_str()));
}

std::string text(sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_value_bytes(v)))
             : std::string();
}

Session::Impl* implOf(sqlite3_context* ctx) {
    return static_cast<Session::Impl*>(sqlite3_user_data(ctx));
}

std::u32string decode(std::string_view s) {
    std::u32string r;
    r.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        int n = 1;
        if (c >= 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                 (s[i + 3] & 0x3F);
            n = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            n = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            n = 2;
        }
        r += cp;
        i += static_cast<std::size_t>(n);
    }
    return r;
}

std::string encode(const std::u32string& s) {
    std::string r;
    for (char32_t cp : s) {
        if (cp < 0x80)
            r += static_cast<char>(cp);
        else if (cp < 0x800) {
            r += static_cast<char>(0xC0 | (cp >> 6));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            r += static_cast<char>(0xE0 | (cp >> 12));
            r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            r += static_cast<char>(0xF0 | (cp >> 18));
            r += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return r;
}

char32_t lowerCp(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 32;
    return c;
}

char32_t upperCp(char32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    return c;
}

} // namespace sqlfn

void Session::Impl::registerFunctions(sqlite3* c) {
    using namespace sqlfn;
    for (auto family : {textFunctions(), dateFunctions(), numberFunctions(), systemFunctions(),
                        errorFunctions(), userFunctions()})
        for (const FunctionDef& f : family)
            sqlite3_create_function_v2(c, f.name, f.args,
                                       SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0),
                                       this, f.call, nullptr, nullptr, nullptr);
    registerExactFunctions(c);
    registerUdtFunctions(c);
    // Text columns and COLLATE clauses name SQL Server collations.
    sql::registerCollations(c);
    sql::registerPackFunction(c);
    // Exact numeric columns hold decimal text and compare by value.
    sqlite3_create_collation_v2(
        c, kDecimalCollation, SQLITE_UTF8, nullptr,
        [](void*, int n1, const void* a, int n2, const void* b) {
            return compareDecimalText(
                std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(n1)),
                std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(n2)));
        },
        nullptr);
    // sql_variant columns hold tagged text and order by type family, then value.
    sqlite3_create_collation_v2(
        c, kVariantCollation, SQLITE_UTF8, nullptr,
        [](void*, int n1, const void* a, int n2, const void* b) {
            return compareVariants(
                std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(n1)),
                std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(n2)),
                sql::compareDateTimeText);
        },
        nullptr);
    // The value a timestamp (rowversion) column gets on every insert and update.
    sqlite3_create_function_v2(
        c, "tds_next_rowversion", 0, SQLITE_UTF8, nullptr,
        [](sqlite3_context* ctx, int, sqlite3_value**) {
            const Blob b = sql::nextRowVersion();
            sqlite3_result_blob(ctx, b.data(), int(b.size()), SQLITE_TRANSIENT);
        },
        nullptr, nullptr, nullptr);
    // Date and time columns hold text in several spellings and compare by moment.
    sqlite3_create_collation_v2(
        c, kDateTimeCollation, SQLITE_UTF8, nullptr,
        [](void*, int n1, const void* a, int n2, const void* b) {
            return sql::compareDateTimeText(
                std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(n1)),
                std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(n2)));
        },
        nullptr);
}

} // namespace tds
