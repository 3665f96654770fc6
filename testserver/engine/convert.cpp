// Value conversion as CONVERT, CAST and assignment to a variable do it.

#include "testserver/engine/functions.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/decimal.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"
#include "testserver/engine/variant.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tds {

namespace sqlfn {

using namespace sql;

namespace {

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

// The error for a value that cannot become type t; `shown` is the value as the message quotes it.
Value failed(const Value& v, const ColumnType& t, const std::string& shown, ConvertError* err) {
    if (err) {
        err->number = 245;
        err->text = "Conversion failed when converting the " + kindOf(v) + " value '" + shown +
                    "' to data type " + baseTypeName(t.type) + ".";
    }
    return Null{};
}

Value toInteger(const ColumnType& t, const Value& v, ConvertError* err) {
    const std::string tn = baseTypeName(t.type);
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
            return failed(v, t, *s, err);
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
            err->text = "Arithmetic overflow error converting expression to data type " + tn + ".";
        }
        return Null{};
    }
    return n;
}

Value overflow(const std::string& text, ConvertError* err) {
    if (err) {
        err->number = 8115;
        err->text = text;
    }
    return Null{};
}

// decimal, numeric, money and smallmoney, exactly: rounded to the scale and
// checked against the precision. A value a double holds exactly (up to 15
// digits) stays a number so that SQLite computes with it as before; longer
// ones become decimal text.
Value toExactNumber(const ColumnType& t, const Value& v, ConvertError* err) {
    const bool money = t.type != SqlType::Decimal;
    const int scale = money ? 4 : std::clamp(t.scale, 0, 38);
    const int precision = t.precision > 0 ? std::min(t.precision, 38) : 38;
    std::optional<ScaledDecimal> d;
    if (const auto* s = std::get_if<std::string>(&v)) {
        std::string x = trim(*s);
        if (!x.empty() && x[0] == '$')
            x.erase(0, 1);
        char* end = nullptr;
        std::strtod(x.c_str(), &end);
        if (x.empty() || *end)
            return failed(v, t, *s, err);
        d = parseDecimal(x, scale);
    } else if (std::holds_alternative<Blob>(v)) {
        return failed(v, t, "binary", err);
    } else {
        d = decimalFromValue(v, scale);
    }
    const Int128 moneyLimit =
        t.type == SqlType::SmallMoney ? Int128(0x80000000u) : (Int128(1) << 63);
    Int128 unit = 1; // 10^scale
    for (int k = 0; k < scale; ++k)
        unit *= 10;
    // The value is rounded to the scale, so only its integer digits can overflow.
    if (!d || (!money && decimalDigits(d->magnitude / unit) > precision - scale) ||
        (money && d->magnitude > moneyLimit - (d->negative ? 0 : 1)))
        return overflow("Arithmetic overflow error converting " + kindOf(v) + " to data type " +
                            (money ? baseTypeName(t.type) : std::string("numeric")) + ".",
                        err);
    if (scale == 0 && d->magnitude <= Int128(INT64_MAX))
        return d->negative ? -static_cast<std::int64_t>(d->magnitude)
                           : static_cast<std::int64_t>(d->magnitude);
    const std::string text = formatDecimal(*d, scale);
    if (decimalDigits(d->magnitude) <= 15)
        return std::strtod(text.c_str(), nullptr);
    return text;
}

Value toNumber(const ColumnType& t, const Value& v, ConvertError* err) {
    if (isExactNumericType(t.type))
        return toExactNumber(t, v, err);
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
            return failed(v, t, *s, err);
    } else {
        return failed(v, t, "binary", err);
    }
    if (t.type == SqlType::Real)
        d = static_cast<float>(d);
    return d;
}

Value toDateTime(const ColumnType& t, const Value& v, ConvertError* err) {
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
    return failed(v, t, "binary", err);
}

// "YYYY-MM-DD hh:mm:ss[.f...] +hh:mm": the local time as datetime2 of the
// scale, and the offset (+00:00 when the text gives none).
Value toDateTimeOffset(const ColumnType& t, const Value& v, ConvertError* err) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s)
        return failed(v, t, valueText(v), err);
    std::string text = trim(*s);
    std::string offset = "+00:00";
    const std::size_t n = text.size();
    if (n > 6 && (text[n - 6] == '+' || text[n - 6] == '-') && text[n - 3] == ':') {
        offset = text.substr(n - 6);
        text = trim(text.substr(0, n - 6));
    } else if (n > 1 && (text[n - 1] == 'Z' || text[n - 1] == 'z')) {
        text.pop_back();
    }
    const auto p = parseDateTime(text);
    const int oh = std::atoi(offset.substr(1, 2).c_str()), om = std::atoi(offset.substr(4).c_str());
    if (!p || !p->hasDate || oh > 14 || om > 59 || (oh == 14 && om > 0)) {
        if (err) {
            err->number = 241;
            err->text = "Conversion failed when converting date and/or time from character string.";
        }
        return Null{};
    }
    const int scale = std::clamp(t.scale, 0, 7);
    std::string r = formatDateTime(*p, SqlType::DateTime2, scale) + " " + offset;
    return r;
}

Value toGuid(const Value& v, ConvertError* err) {
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

Value toBinary(const ColumnType& t, const Value& v, bool explicitLength) {
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

// Text as a value of type t keeps it: national types everything, the others
// what their collation's code page holds.
std::string inCodePage(const std::string& s, const ColumnType& t) {
    if (t.type != SqlType::Char && t.type != SqlType::VarChar && t.type != SqlType::Text)
        return s;
    return throughCodePage(s, codePageOf(t.collation));
}

Value toCharacter(const ColumnType& t, const Value& v, int style, bool explicitLength) {
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
    // char, varchar and text hold what their collation's code page can: other
    // characters become '?'.
    if (!std::holds_alternative<Blob>(v))
        s = inCodePage(s, t);
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

} // namespace

Value toVariant(const std::optional<ColumnType>& base, const Value& v, ConvertError* err,
                bool numeric) {
    if (std::holds_alternative<Null>(v))
        return Null{};
    if (const auto* s = std::get_if<std::string>(&v); s && isTaggedVariant(*s))
        return v;
    if (!base || !variantCanHold(*base)) {
        // Unknown (or too wide) types keep the value as its storage class says.
        const VariantValue plain = variantOf(v);
        return encodeVariant(plain.base, plain.value);
    }
    ConvertError e;
    Value held = convertValue(*base, v, -1, true, &e);
    if (!e.text.empty()) {
        if (err)
            *err = e;
        return Null{};
    }
    if (std::holds_alternative<Null>(held))
        return Null{};
    // Exact numbers keep exactly the digits of their scale.
    if (isExactNumericType(base->type)) {
        const int scale = base->type == SqlType::Decimal ? base->scale : 4;
        if (const auto d = decimalFromValue(held, scale))
            held = formatDecimal(*d, scale);
    }
    return encodeVariant(*base, held, numeric);
}

Value toVariant(const std::string& baseText, const Value& v, ConvertError* err) {
    const std::size_t c = baseText.find(" COLLATE ");
    auto base = parseDeclType(baseText.substr(0, c));
    if (base && c != std::string::npos)
        base->collation = baseText.substr(c + 9);
    return toVariant(base, v, err, baseText.starts_with("numeric"));
}

Value convertValue(const ColumnType& t, const Value& v, int style, bool explicitLength,
                   ConvertError* err) {
    if (std::holds_alternative<Null>(v))
        return Null{};
    if (const auto* s = std::get_if<std::string>(&v); s && isTaggedVariant(*s)) {
        // A sql_variant converts as the value of its base type does.
        if (t.type == SqlType::SqlVariant)
            return v;
        if (auto held = decodeVariant(*s)) {
            // Exact numbers are decimal text, which would read as varchar:
            // to an integer type they convert as numbers, truncated.
            if (isExactNumericType(held->base.type) && isIntegerType(t.type))
                if (const auto* digits = std::get_if<std::string>(&held->value))
                    held->value = std::trunc(std::strtod(digits->c_str(), nullptr));
            return convertValue(t, held->value, style, explicitLength, err);
        }
    }
    if (t.type == SqlType::SqlVariant)
        return toVariant(std::nullopt, v, err);
    switch (t.type) {
    case SqlType::Int:
    case SqlType::BigInt:
    case SqlType::SmallInt:
    case SqlType::TinyInt:
    case SqlType::Bit:
        return toInteger(t, v, err);
    case SqlType::Float:
    case SqlType::Real:
    case SqlType::Money:
    case SqlType::SmallMoney:
    case SqlType::Decimal:
        return toNumber(t, v, err);
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime2:
        return toDateTime(t, v, err);
    case SqlType::UniqueIdentifier:
        return toGuid(v, err);
    case SqlType::DateTimeOffset:
        return toDateTimeOffset(t, v, err);
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image:
        return toBinary(t, v, explicitLength);
    default:
        return toCharacter(t, v, style, explicitLength);
    }
}

} // namespace sqlfn

Variable convertTo(const ColumnType& type, const Value& v) {
    return Variable{type, sqlfn::convertValue(type, v, -1, true, nullptr)};
}

std::optional<Message> assignConverted(Variable& var, const ColumnType& type, const Value& v) {
    sqlfn::ConvertError err;
    Value converted = sqlfn::convertValue(type, v, -1, true, &err);
    if (!err.text.empty())
        return sql::errorMessage(err.number, 16, err.text);
    var = Variable{type, std::move(converted)};
    return std::nullopt;
}

} // namespace tds
