// T-SQL built-in functions as SQLite functions, and value conversion
// (CONVERT, CAST, assignment to variables).

#include "testserver/engine/session_impl.h"

#include "testserver/engine/types.h"
#include "testserver/engine/values.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

namespace tds {

using namespace sql;

namespace {

struct ConvertError {
    std::string text;
    int number = 245;
};

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    return s.substr(i);
}

std::string kindOf(const Value& v) {
    if (std::holds_alternative<std::int64_t>(v))
        return "int";
    if (std::holds_alternative<double>(v))
        return "float";
    if (std::holds_alternative<Blob>(v))
        return "varbinary";
    return "varchar";
}

std::string numberText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

// Date styles of CONVERT(varchar, date, style).
std::string dateStyle(const DateTimeParts& p, int style) {
    char buf[64];
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int ms = p.nanos / 1000000;
    switch (style) {
    case 101:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.month, p.day, p.year);
        break;
    case 102:
        std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", p.year, p.month, p.day);
        break;
    case 103:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
        break;
    case 104:
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year);
        break;
    case 105:
        std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", p.day, p.month, p.year);
        break;
    case 1:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", p.month, p.day, p.year % 100);
        break;
    case 3:
        std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", p.day, p.month, p.year % 100);
        break;
    case 4:
        std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", p.day, p.month, p.year % 100);
        break;
    case 108:
    case 8:
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
        break;
    case 112:
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day);
        break;
    case 23:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
        break;
    case 120:
    case 20:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                      p.hour, p.minute, p.second);
        break;
    case 121:
    case 21:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                      p.hour, p.minute, p.second, ms);
        break;
    case 126:
    case 127:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day,
                      p.hour, p.minute, p.second, ms);
        break;
    default: { // 0 / 100: "Feb 29 2024  1:14PM"
        int h = p.hour % 12;
        if (h == 0)
            h = 12;
        std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", months[p.month - 1], p.day, p.year,
                      h, p.minute, p.hour < 12 ? "AM" : "PM");
        break;
    }
    }
    return buf;
}

Value convertValue(const ColumnType& t, const Value& v, int style, bool explicitLength,
                   ConvertError* err) {
    if (std::holds_alternative<Null>(v))
        return Null{};
    const std::string tn = baseTypeName(t.type);
    auto failConv = [&](const std::string& shown) -> Value {
        if (err) {
            err->number = 245;
            err->text = "Conversion failed when converting the " + kindOf(v) + " value '" + shown +
                        "' to data type " + tn + ".";
        }
        return Null{};
    };
    switch (t.type) {
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::SmallInt:
    case SqlType::TinyInt:
    case SqlType::Bit: {
        std::int64_t n = 0;
        if (const auto* i = std::get_if<std::int64_t>(&v))
            n = *i;
        else if (const auto* d = std::get_if<double>(&v))
            n = static_cast<std::int64_t>(std::trunc(*d));
        else if (const auto* s = std::get_if<std::string>(&v)) {
            const std::string x = trim(*s);
            if (t.type == SqlType::Bit && (iequals(x, "true") || iequals(x, "false")))
                return static_cast<std::int64_t>(iequals(x, "true"));
            char* end = nullptr;
            errno = 0;
            n = std::strtoll(x.c_str(), &end, 10);
            if (x.empty())
                n = 0;
            else if (*end || errno)
                return failConv(*s);
        } else if (const auto* b = std::get_if<Blob>(&v)) {
            for (auto byte : *b)
                n = (n << 8) | byte;
        }
        if (t.type == SqlType::Bit)
            return static_cast<std::int64_t>(n != 0);
        const std::int64_t lo = t.type == SqlType::TinyInt    ? 0
                                : t.type == SqlType::SmallInt ? -32768
                                : t.type == SqlType::Int      ? INT32_MIN
                                                              : INT64_MIN;
        const std::int64_t hi = t.type == SqlType::TinyInt    ? 255
                                : t.type == SqlType::SmallInt ? 32767
                                : t.type == SqlType::Int      ? INT32_MAX
                                                              : INT64_MAX;
        if (n < lo || n > hi) {
            if (err) {
                err->number = 8115;
                err->text =
                    "Arithmetic overflow error converting expression to data type " + tn + ".";
            }
            return Null{};
        }
        return n;
    }
    case SqlType::Float:
    case SqlType::Real:
    case SqlType::Money:
    case SqlType::SmallMoney:
    case SqlType::Decimal: {
        double d = 0;
        if (const auto* i = std::get_if<std::int64_t>(&v))
            d = static_cast<double>(*i);
        else if (const auto* f = std::get_if<double>(&v))
            d = *f;
        else if (const auto* s = std::get_if<std::string>(&v)) {
            std::string x = trim(*s);
            if (!x.empty() && x[0] == '$')
                x.erase(0, 1);
            char* end = nullptr;
            d = std::strtod(x.c_str(), &end);
            if (x.empty() || *end)
                return failConv(*s);
        } else {
            return failConv("binary");
        }
        if (t.type == SqlType::Real)
            d = static_cast<float>(d);
        const int scale = t.type == SqlType::Decimal                                    ? t.scale
                          : (t.type == SqlType::Money || t.type == SqlType::SmallMoney) ? 4
                                                                                        : -1;
        if (scale >= 0) {
            const double f = std::pow(10.0, scale);
            d = std::round(d * f) / f;
            if (scale == 0 && std::fabs(d) < 9e18)
                return static_cast<std::int64_t>(d);
        }
        return d;
    }
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time: {
        if (const auto* s = std::get_if<std::string>(&v)) {
            auto p = parseDateTime(*s);
            if (!p) {
                if (err) {
                    err->number = 241;
                    err->text =
                        "Conversion failed when converting date and/or time from character string.";
                }
                return Null{};
            }
            return formatDateTime(*p, t.type, t.scale);
        }
        if (std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v)) {
            const double days = std::holds_alternative<double>(v)
                                    ? std::get<double>(v)
                                    : static_cast<double>(std::get<std::int64_t>(v));
            return formatDateTime(fromDays(days), t.type, t.scale);
        }
        return failConv("binary");
    }
    case SqlType::UniqueIdentifier: {
        if (const auto* b = std::get_if<Blob>(&v); b && b->size() == 16)
            return guidText(b->data());
        const std::string s = valueText(v);
        if (!guidBytes(s)) {
            if (err) {
                err->number = 8169;
                err->text = "Conversion failed when converting from a character string to "
                            "uniqueidentifier.";
            }
            return Null{};
        }
        return toUpper(s.size() == 38 ? s.substr(1, 36) : s);
    }
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image: {
        Blob b;
        if (const auto* x = std::get_if<Blob>(&v))
            b = *x;
        else if (const auto* s = std::get_if<std::string>(&v))
            b.assign(s->begin(), s->end());
        else if (const auto* i = std::get_if<std::int64_t>(&v)) {
            for (int k = 3; k >= 0; --k)
                b.push_back(static_cast<std::uint8_t>(*i >> (k * 8)));
        }
        const int n = explicitLength ? t.length : 30;
        if (t.type != SqlType::Image && n > 0 && b.size() > static_cast<std::size_t>(n))
            b.resize(static_cast<std::size_t>(n));
        if (t.type == SqlType::Binary && n > 0)
            b.resize(static_cast<std::size_t>(n), 0);
        return b;
    }
    default: { // character types
        std::string s;
        if (const auto* i = std::get_if<std::int64_t>(&v))
            s = std::to_string(*i);
        else if (const auto* d = std::get_if<double>(&v))
            s = numberText(*d);
        else if (const auto* b = std::get_if<Blob>(&v))
            s.assign(b->begin(), b->end());
        else
            s = std::get<std::string>(v);
        if (style > 0 || (style == 0 && explicitLength && false)) {
            if (auto p = parseDateTime(s); p && p->hasDate && s.size() >= 10)
                s = dateStyle(*p, style);
        }
        const int n = explicitLength ? t.length : 30;
        if (t.type != SqlType::Text && t.type != SqlType::NText && n > 0) {
            const std::size_t keep = utf8PrefixForUnits(s, static_cast<std::size_t>(n));
            s.resize(keep);
            if ((t.type == SqlType::Char || t.type == SqlType::NChar) && explicitLength) {
                const std::size_t units = utf16Length(s);
                if (units < static_cast<std::size_t>(n))
                    s.append(static_cast<std::size_t>(n) - units, ' ');
            }
        }
        return s;
    }
    }
}

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
    else if (const auto* b = std::get_if<Blob>(&v))
        sqlite3_result_blob(ctx, b->data(), static_cast<int>(b->size()), SQLITE_TRANSIENT);
    else
        sqlite3_result_null(ctx);
}

void resultError(sqlite3_context* ctx, int number, int severity, const std::string& text) {
    const std::string msg =
        "tds:" + std::to_string(number) + ":" + std::to_string(severity) + ":" + text;
    sqlite3_result_error(ctx, msg.c_str(), -1);
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

std::string nowText(bool utc) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto t = system_clock::to_time_t(now);
    std::tm tm{};
    if (utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    DateTimeParts p;
    p.year = tm.tm_year + 1900;
    p.month = tm.tm_mon + 1;
    p.day = tm.tm_mday;
    p.hour = tm.tm_hour;
    p.minute = tm.tm_min;
    p.second = tm.tm_sec;
    p.nanos =
        static_cast<int>(duration_cast<nanoseconds>(now.time_since_epoch()).count() % 1000000000);
    return formatDateTime(p, SqlType::DateTime);
}

// Unicode-aware case folding for Latin-1 letters (ä, Ö, ß stays), enough for
// the case-insensitive comparisons SQL Server's default collation makes.
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

} // namespace

Variable convertTo(const ColumnType& type, const Value& v) {
    return Variable{type, convertValue(type, v, -1, true, nullptr)};
}

bool likeMatch(std::string_view pattern, std::string_view value, char32_t escape) {
    const std::u32string p = decode(pattern);
    const std::u32string s = decode(value);
    // Iterative matcher with backtracking on '%'.
    std::size_t pi = 0, si = 0, starP = std::u32string::npos, starS = 0;
    auto matchOne = [&](std::size_t& pp, char32_t c) -> bool {
        // Matches one pattern element at pp against c; advances pp.
        if (escape && p[pp] == escape && pp + 1 < p.size()) {
            const bool ok = lowerCp(p[pp + 1]) == lowerCp(c);
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
            const char32_t lc = lowerCp(c);
            for (; k < close; ++k) {
                if (k + 2 < close && p[k + 1] == '-') {
                    if (lc >= lowerCp(p[k]) && lc <= lowerCp(p[k + 2]))
                        hit = true;
                    k += 2;
                } else if (lowerCp(p[k]) == lc) {
                    hit = true;
                }
            }
            pp = close + 1;
            return hit != negate;
        }
        const bool ok = lowerCp(p[pp]) == lowerCp(c);
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

std::string Session::Impl::globalText(const std::string& name) {
    const std::string& v = cfg.productVersion;
    int major = std::atoi(v.c_str());
    const char* year = major <= 8    ? "2000"
                       : major == 9  ? "2005"
                       : major == 10 ? "2008"
                       : major == 11 ? "2012"
                       : major == 12 ? "2014"
                       : major == 13 ? "2016"
                       : major == 14 ? "2017"
                       : major == 15 ? "2019"
                                     : "2022";
    if (name == "VERSION")
        return std::string("Microsoft SQL Server ") + year + " - " + v +
               " (Intel X86) \n\tOct 14 2005 00:33:37 \n"
               "\tCopyright (c) 1988-" +
               year +
               " Microsoft Corporation\n\tDeveloper Edition on Windows NT 5.2 (Build 3790: Service "
               "Pack 1)\n";
    if (name == "SERVERNAME")
        return cfg.instanceName.empty() ? cfg.serverName : cfg.serverName + "\\" + cfg.instanceName;
    if (name == "SERVICENAME")
        return cfg.instanceName.empty() ? "MSSQLSERVER" : cfg.instanceName;
    if (name == "LANGUAGE")
        return "us_english";
    return {};
}

void Session::Impl::registerFunctions(sqlite3* c) {
    auto fn = [&](const char* name, int args, void (*f)(sqlite3_context*, int, sqlite3_value**),
                  bool deterministic = true) {
        sqlite3_create_function_v2(c, name, args,
                                   SQLITE_UTF8 | (deterministic ? SQLITE_DETERMINISTIC : 0), this,
                                   f, nullptr, nullptr, nullptr);
    };
    fn(
        "tds_global", 1,
        [](sqlite3_context* ctx, int, sqlite3_value** a) {
            Session::Impl* d = implOf(ctx);
            const std::string name = toUpper(text(a[0]));
            if (name == "SPID")
                return sqlite3_result_int(ctx, d->spid);
            if (name == "ROWCOUNT")
                return sqlite3_result_int64(ctx, d->lastRowCount);
            if (name == "TRANCOUNT")
                return sqlite3_result_int(ctx, d->tranCount);
            if (name == "ERROR")
                return sqlite3_result_int(ctx, d->lastError);
            if (name == "IDENTITY")
                return d->lastIdentity ? sqlite3_result_int64(ctx, d->lastIdentity)
                                       : sqlite3_result_null(ctx);
            if (name == "TEXTSIZE")
                return sqlite3_result_int64(ctx, d->textSize ? d->textSize : 2147483647);
            if (name == "MAX_PRECISION")
                return sqlite3_result_int(ctx, 38);
            if (name == "DATEFIRST")
                return sqlite3_result_int(ctx, 7);
            if (name == "LANGID" || name == "NESTLEVEL" || name == "PROCID" || name == "OPTIONS")
                return sqlite3_result_int(ctx, 0);
            if (name == "FETCH_STATUS" || name == "LOCK_TIMEOUT")
                return sqlite3_result_int(ctx, -1);
            if (name == "MAX_CONNECTIONS")
                return sqlite3_result_int(ctx, 32767);
            if (name == "MICROSOFTVERSION") {
                const std::string& v = d->cfg.productVersion;
                int major = 0, minor = 0, build = 0;
                std::sscanf(v.c_str(), "%d.%d.%d", &major, &minor, &build);
                return sqlite3_result_int(ctx, (major << 24) | (minor << 16) | build);
            }
            const std::string t = d->globalText(name);
            if (t.empty())
                return resultError(ctx, 137, 15,
                                   "Must declare the scalar variable \"@@" + name + "\".");
            sqlite3_result_text(ctx, t.c_str(), -1, SQLITE_TRANSIENT);
        },
        false);
    fn(
        "getdate", 0,
        [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, nowText(false)); }, false);
    fn(
        "sysdatetime", 0,
        [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, nowText(false)); }, false);
    fn(
        "getutcdate", 0,
        [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, nowText(true)); }, false);
    fn("len", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::string s = text(a[0]);
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf16Length(s)));
    });
    fn("datalength", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        switch (sqlite3_value_type(a[0])) {
        case SQLITE_NULL:
            return sqlite3_result_null(ctx);
        case SQLITE_INTEGER:
            return sqlite3_result_int(ctx, 4);
        case SQLITE_FLOAT:
            return sqlite3_result_int(ctx, 8);
        case SQLITE_BLOB:
            return sqlite3_result_int(ctx, sqlite3_value_bytes(a[0]));
        default:
            return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf16Length(text(a[0]))));
        }
    });
    fn("tds_convert", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string typeText = text(a[0]);
        const auto t = parseDeclType(typeText);
        if (!t)
            return resultError(ctx, 243, 16, "Type " + typeText + " is not a defined system type.");
        ConvertError e;
        const Value v =
            convertValue(*t, argValue(a[1]), -1, typeText.find('(') != std::string::npos, &e);
        if (!e.text.empty())
            return resultError(ctx, e.number, 16, e.text);
        result(ctx, v);
    });
    fn("tds_convert", 3, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string typeText = text(a[0]);
        const auto t = parseDeclType(typeText);
        if (!t)
            return resultError(ctx, 243, 16, "Type " + typeText + " is not a defined system type.");
        ConvertError e;
        const Value v = convertValue(*t, argValue(a[1]), sqlite3_value_int(a[2]),
                                     typeText.find('(') != std::string::npos, &e);
        if (!e.text.empty())
            return resultError(ctx, e.number, 16, e.text);
        result(ctx, v);
    });
    auto dbName = [](sqlite3_context* ctx, int n, sqlite3_value** a) {
        Session::Impl* d = implOf(ctx);
        if (n == 0 || sqlite3_value_type(a[0]) == SQLITE_NULL)
            return result(ctx, d->db);
        const auto names = d->databaseNames();
        const int id = sqlite3_value_int(a[0]);
        if (id >= 1 && id <= static_cast<int>(names.size()))
            return result(ctx, names[static_cast<std::size_t>(id - 1)]);
        sqlite3_result_null(ctx);
    };
    fn("db_name", 0, dbName, false);
    fn("db_name", 1, dbName, false);
    auto dbId = [](sqlite3_context* ctx, int n, sqlite3_value** a) {
        Session::Impl* d = implOf(ctx);
        const std::string name = n == 0 ? d->db : text(a[0]);
        const auto names = d->databaseNames();
        for (std::size_t i = 0; i < names.size(); ++i)
            if (iequals(names[i], name))
                return sqlite3_result_int(ctx, static_cast<int>(i + 1));
        sqlite3_result_null(ctx);
    };
    fn("db_id", 0, dbId, false);
    fn("db_id", 1, dbId, false);
    fn(
        "serverproperty", 1,
        [](sqlite3_context* ctx, int, sqlite3_value** a) {
            Session::Impl* d = implOf(ctx);
            const std::string p = toLower(text(a[0]));
            if (p == "productversion")
                return result(ctx, d->cfg.productVersion);
            if (p == "productlevel")
                return result(ctx, std::string("RTM"));
            if (p == "edition")
                return result(ctx, std::string("Developer Edition"));
            if (p == "engineedition")
                return sqlite3_result_int(ctx, 3);
            if (p == "servername")
                return result(ctx, d->globalText("SERVERNAME"));
            if (p == "machinename")
                return result(ctx, d->cfg.serverName);
            if (p == "instancename")
                return d->cfg.instanceName.empty() ? sqlite3_result_null(ctx)
                                                   : result(ctx, d->cfg.instanceName);
            if (p == "collation")
                return result(ctx, std::string("SQL_Latin1_General_CP1_CI_AS"));
            if (p == "isintegratedsecurityonly" || p == "isclustered" ||
                p == "isfulltextinstalled" || p == "issingleuser")
                return sqlite3_result_int(ctx, 0);
            if (p == "lcid")
                return sqlite3_result_int(ctx, 1033);
            if (p == "processid")
                return sqlite3_result_int(ctx, 4242);
            sqlite3_result_null(ctx);
        },
        false);
    auto userName = [](sqlite3_context* ctx, int, sqlite3_value**) {
        result(ctx, implOf(ctx)->user);
    };
    fn("suser_sname", 0, userName, false);
    fn("suser_name", 0, userName, false);
    fn("system_user", 0, userName, false);
    fn("user_name", 0,
       [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, std::string("dbo")); });
    fn("host_name", 0,
       [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, std::string("localhost")); });
    fn("app_name", 0,
       [](sqlite3_context* ctx, int, sqlite3_value**) { result(ctx, std::string()); });
    fn(
        "newid", 0,
        [](sqlite3_context* ctx, int, sqlite3_value**) {
            static thread_local std::mt19937_64 rng{std::random_device{}()};
            unsigned char b[16];
            for (int i = 0; i < 16; i += 8) {
                const auto r = rng();
                std::memcpy(b + i, &r, 8);
            }
            b[7] = static_cast<unsigned char>((b[7] & 0x0F) | 0x40);
            b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
            result(ctx, guidText(b));
        },
        false);
    auto objectId = [](sqlite3_context* ctx, int, sqlite3_value** a) {
        Session::Impl* d = implOf(ctx);
        // 'dbo.t', '[t]', 'db..t', 'tempdb..#t'
        const std::string source = text(a[0]); // the tokens point into it
        const std::vector<Token> toks = significantTokens(source);
        std::size_t i = 0;
        const auto parts = readObjectName(toks, i);
        if (!parts || i != toks.size())
            return sqlite3_result_null(ctx);
        const std::string name = parts->back();
        const bool temp = !name.empty() && name[0] == '#';
        const std::string q = std::string("SELECT rowid FROM ") +
                              (temp ? "temp.sqlite_master" : "main.sqlite_master") +
                              " WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(d->conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW) {
                const auto id = sqlite3_column_int64(st, 0) * 16 + (temp ? 3 : 1) + 1000000;
                sqlite3_finalize(st);
                return sqlite3_result_int64(ctx, id);
            }
        }
        sqlite3_finalize(st);
        sqlite3_result_null(ctx);
    };
    fn("object_id", 1, objectId, false);
    fn("object_id", 2, objectId, false);
    fn(
        "object_name", 1,
        [](sqlite3_context* ctx, int, sqlite3_value** a) {
            Session::Impl* d = implOf(ctx);
            const auto id = sqlite3_value_int64(a[0]) - 1000000;
            const bool temp = id % 16 == 3;
            const std::string q = std::string("SELECT name FROM ") + (temp ? "temp" : "main") +
                                  ".sqlite_master WHERE rowid = ?1";
            sqlite3_stmt* st = nullptr;
            if (id > 0 && sqlite3_prepare_v2(d->conn, q.c_str(), -1, &st, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(st, 1, id / 16);
                if (sqlite3_step(st) == SQLITE_ROW) {
                    result(ctx,
                           std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))));
                    sqlite3_finalize(st);
                    return;
                }
            }
            sqlite3_finalize(st);
            sqlite3_result_null(ctx);
        },
        false);
    fn(
        "scope_identity", 0,
        [](sqlite3_context* ctx, int, sqlite3_value**) {
            Session::Impl* d = implOf(ctx);
            d->lastIdentity ? sqlite3_result_int64(ctx, d->lastIdentity) : sqlite3_result_null(ctx);
        },
        false);
    auto charindex = [](sqlite3_context* ctx, int n, sqlite3_value** a) {
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
    };
    fn("charindex", 2, charindex);
    fn("charindex", 3, charindex);
    fn("tds_left", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::u32string s = decode(text(a[0]));
        const int n = std::max(0, sqlite3_value_int(a[1]));
        result(ctx, encode(s.substr(0, static_cast<std::size_t>(n))));
    });
    fn("tds_right", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::u32string s = decode(text(a[0]));
        const std::size_t n = static_cast<std::size_t>(std::max(0, sqlite3_value_int(a[1])));
        result(ctx, encode(n >= s.size() ? s : s.substr(s.size() - n)));
    });
    fn("upper", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::u32string s = decode(text(a[0]));
        for (auto& ch : s)
            ch = upperCp(ch);
        result(ctx, encode(s));
    });
    fn("lower", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::u32string s = decode(text(a[0]));
        for (auto& ch : s)
            ch = lowerCp(ch);
        result(ctx, encode(s));
    });
    fn("space", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        result(ctx,
               std::string(static_cast<std::size_t>(std::clamp(sqlite3_value_int(a[0]), 0, 8000)),
                           ' '));
    });
    fn("replicate", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        const std::string s = text(a[0]);
        std::string r;
        const int n = std::clamp(sqlite3_value_int(a[1]), 0, 1000000);
        for (int i = 0; i < n && r.size() < 100000000; ++i)
            r += s;
        result(ctx, r);
    });
    fn("reverse", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        std::u32string s = decode(text(a[0]));
        std::reverse(s.begin(), s.end());
        result(ctx, encode(s));
    });
    fn("stuff", 4, [](sqlite3_context* ctx, int, sqlite3_value** a) {
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
    });
    fn("isnumeric", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const int t = sqlite3_value_type(a[0]);
        if (t == SQLITE_INTEGER || t == SQLITE_FLOAT)
            return sqlite3_result_int(ctx, 1);
        std::string s = text(a[0]);
        char* end = nullptr;
        std::strtod(s.c_str(), &end);
        sqlite3_result_int(ctx, t == SQLITE_TEXT && !s.empty() && end && *end == 0 ? 1 : 0);
    });
    fn("isdate", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const auto p = parseDateTime(text(a[0]));
        sqlite3_result_int(ctx, p && p->hasDate ? 1 : 0);
    });
    auto datePartFn = [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string part = toLower(text(a[0]));
        const auto p = parseDateTime(text(a[1]));
        if (!p || sqlite3_value_type(a[1]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        if (part == "year" || part == "yy" || part == "yyyy")
            return sqlite3_result_int(ctx, p->year);
        if (part == "month" || part == "mm" || part == "m")
            return sqlite3_result_int(ctx, p->month);
        if (part == "day" || part == "dd" || part == "d")
            return sqlite3_result_int(ctx, p->day);
        if (part == "hour" || part == "hh")
            return sqlite3_result_int(ctx, p->hour);
        if (part == "minute" || part == "mi" || part == "n")
            return sqlite3_result_int(ctx, p->minute);
        if (part == "second" || part == "ss" || part == "s")
            return sqlite3_result_int(ctx, p->second);
        if (part == "millisecond" || part == "ms")
            return sqlite3_result_int(ctx, p->nanos / 1000000);
        if (part == "quarter" || part == "qq" || part == "q")
            return sqlite3_result_int(ctx, (p->month - 1) / 3 + 1);
        const double days = toDays(*p);
        const long long whole = static_cast<long long>(std::floor(days));
        if (part == "weekday" || part == "dw")
            return sqlite3_result_int(ctx, static_cast<int>(((whole % 7) + 7 + 1) % 7 + 1));
        if (part == "dayofyear" || part == "dy" || part == "y") {
            DateTimeParts jan = *p;
            jan.month = 1;
            jan.day = 1;
            return sqlite3_result_int(
                ctx, static_cast<int>(whole - static_cast<long long>(std::floor(toDays(jan)))) + 1);
        }
        resultError(ctx, 155, 15, "'" + part + "' is not a recognized datepart option.");
    };
    fn("datepart", 2, datePartFn);
    fn("datename", 2, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        static const char* months[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
        static const char* days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};
        const std::string part = toLower(text(a[0]));
        const auto p = parseDateTime(text(a[1]));
        if (!p)
            return sqlite3_result_null(ctx);
        if (part == "month" || part == "mm" || part == "m")
            return result(ctx, std::string(months[p->month - 1]));
        if (part == "weekday" || part == "dw") {
            const long long whole = static_cast<long long>(std::floor(toDays(*p)));
            return result(ctx, std::string(days[((whole % 7) + 7) % 7]));
        }
        DateTimeParts q = *p;
        char buf[32];
        const int v = part == "year" || part == "yy" || part == "yyyy" ? q.year
                      : part == "day" || part == "dd"                  ? q.day
                      : part == "hour"                                 ? q.hour
                      : part == "minute"                               ? q.minute
                                                                       : q.second;
        std::snprintf(buf, sizeof buf, "%d", v);
        result(ctx, std::string(buf));
    });
    for (const char* part : {"year", "month", "day"}) {
        sqlite3_create_function_v2(
            c, part, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, const_cast<char*>(part),
            [](sqlite3_context* ctx, int, sqlite3_value** a) {
                const std::string which = static_cast<const char*>(sqlite3_user_data(ctx));
                const auto p = sqlite3_value_type(a[0]) == SQLITE_NULL ? std::nullopt
                                                                       : parseDateTime(text(a[0]));
                if (!p)
                    return sqlite3_result_null(ctx);
                sqlite3_result_int(ctx, which == "year"    ? p->year
                                        : which == "month" ? p->month
                                                           : p->day);
            },
            nullptr, nullptr, nullptr);
    }
    fn("dateadd", 3, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string part = toLower(text(a[0]));
        if (sqlite3_value_type(a[2]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        auto p = parseDateTime(text(a[2]));
        if (!p)
            return resultError(
                ctx, 241, 16,
                "Conversion failed when converting date and/or time from character string.");
        const long long n = sqlite3_value_int64(a[1]);
        if (part == "year" || part == "yy" || part == "yyyy" || part == "month" || part == "mm" ||
            part == "m" || part == "quarter" || part == "qq" || part == "q") {
            long long months = part[0] == 'y' ? n * 12 : part[0] == 'q' ? n * 3 : n;
            long long total = p->year * 12LL + (p->month - 1) + months;
            p->year = static_cast<int>(total / 12);
            p->month = static_cast<int>(total % 12) + 1;
            static const int dim[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            int maxDay = dim[p->month - 1];
            if (p->month == 2 && ((p->year % 4 == 0 && p->year % 100 != 0) || p->year % 400 == 0))
                maxDay = 29;
            p->day = std::min(p->day, maxDay);
            return result(ctx, formatDateTime(*p, SqlType::DateTime));
        }
        double seconds = 0;
        if (part == "day" || part == "dd" || part == "d" || part == "dayofyear" || part == "dy" ||
            part == "y" || part == "weekday" || part == "dw")
            seconds = 86400.0 * n;
        else if (part == "week" || part == "wk" || part == "ww")
            seconds = 7 * 86400.0 * n;
        else if (part == "hour" || part == "hh")
            seconds = 3600.0 * n;
        else if (part == "minute" || part == "mi" || part == "n")
            seconds = 60.0 * n;
        else if (part == "second" || part == "ss" || part == "s")
            seconds = static_cast<double>(n);
        else if (part == "millisecond" || part == "ms")
            seconds = n / 1000.0;
        else
            return resultError(ctx, 155, 15, "'" + part + "' is not a recognized dateadd option.");
        result(ctx, formatDateTime(fromDays(toDays(*p) + seconds / 86400.0), SqlType::DateTime));
    });
    fn("datediff", 3, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string part = toLower(text(a[0]));
        const auto x = parseDateTime(text(a[1]));
        const auto y = parseDateTime(text(a[2]));
        if (!x || !y)
            return sqlite3_result_null(ctx);
        if (part == "year" || part == "yy" || part == "yyyy")
            return sqlite3_result_int(ctx, y->year - x->year);
        if (part == "quarter" || part == "qq" || part == "q")
            return sqlite3_result_int(ctx, (y->year * 4 + (y->month - 1) / 3) -
                                               (x->year * 4 + (x->month - 1) / 3));
        if (part == "month" || part == "mm" || part == "m")
            return sqlite3_result_int(ctx, (y->year - x->year) * 12 + y->month - x->month);
        // Counts boundaries crossed, as SQL Server does.
        const double dx = toDays(*x), dy = toDays(*y);
        auto boundaries = [&](double unitDays) {
            return static_cast<sqlite3_int64>(std::floor(dy / unitDays + 1e-9) -
                                              std::floor(dx / unitDays + 1e-9));
        };
        if (part == "day" || part == "dd" || part == "d" || part == "dayofyear" || part == "dy" ||
            part == "y")
            return sqlite3_result_int64(ctx, boundaries(1.0));
        if (part == "week" || part == "wk" || part == "ww")
            return sqlite3_result_int64(ctx,
                                        static_cast<sqlite3_int64>(std::floor((dy + 1) / 7.0) -
                                                                   std::floor((dx + 1) / 7.0)));
        if (part == "hour" || part == "hh")
            return sqlite3_result_int64(ctx, boundaries(1.0 / 24));
        if (part == "minute" || part == "mi" || part == "n")
            return sqlite3_result_int64(ctx, boundaries(1.0 / 1440));
        if (part == "second" || part == "ss" || part == "s")
            return sqlite3_result_int64(ctx, boundaries(1.0 / 86400));
        if (part == "millisecond" || part == "ms")
            return sqlite3_result_int64(ctx, std::llround((dy - dx) * 86400000.0));
        resultError(ctx, 155, 15, "'" + part + "' is not a recognized datediff option.");
    });
    fn("square", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const double d = sqlite3_value_double(a[0]);
        sqlite3_result_double(ctx, d * d);
    });
    fn("sign", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_INTEGER) {
            const auto v = sqlite3_value_int64(a[0]);
            return sqlite3_result_int(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
        }
        const double d = sqlite3_value_double(a[0]);
        sqlite3_result_double(ctx, d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0);
    });
    fn("ascii", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        const std::string s = text(a[0]);
        if (s.empty())
            return sqlite3_result_null(ctx);
        sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
    });
    fn("quotename", 1, [](sqlite3_context* ctx, int, sqlite3_value** a) {
        std::string r = "[";
        for (char ch : text(a[0])) {
            r += ch;
            if (ch == ']')
                r += ']';
        }
        result(ctx, r + "]");
    });
    fn("concat", -1, [](sqlite3_context* ctx, int n, sqlite3_value** a) {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += text(a[i]);
        result(ctx, r);
    });
    auto like = [](sqlite3_context* ctx, int n, sqlite3_value** a) {
        if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        char32_t esc = 0;
        if (n == 3) {
            const auto e = decode(text(a[2]));
            esc = e.empty() ? 0 : e[0];
        }
        sqlite3_result_int(ctx, likeMatch(text(a[0]), text(a[1]), esc) ? 1 : 0);
    };
    fn("like", 2, like);
    fn("like", 3, like);
    fn("str", -1, [](sqlite3_context* ctx, int n, sqlite3_value** a) {
        if (n < 1 || sqlite3_value_type(a[0]) == SQLITE_NULL)
            return sqlite3_result_null(ctx);
        const int len = n > 1 ? sqlite3_value_int(a[1]) : 10;
        const int dec = n > 2 ? sqlite3_value_int(a[2]) : 0;
        char buf[128];
        std::snprintf(buf, sizeof buf, "%*.*f", std::clamp(len, 1, 100), std::clamp(dec, 0, 16),
                      sqlite3_value_double(a[0]));
        std::string r = buf;
        if (static_cast<int>(r.size()) > len)
            r = std::string(static_cast<std::size_t>(std::max(len, 0)), '*');
        result(ctx, r);
    });
}

} // namespace tds
