#include "testserver/engine/variant.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/decimal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tds {

namespace {

constexpr char kMark = '\x1F';

struct BaseName {
    SqlType type;
    const char* name;
};
// The base types a sql_variant holds, by the names the tag keeps (so stored
// values do not depend on the enum's numbering).
constexpr BaseName kBaseNames[] = {
    {SqlType::Int, "int"},
    {SqlType::BigInt, "bigint"},
    {SqlType::SmallInt, "smallint"},
    {SqlType::TinyInt, "tinyint"},
    {SqlType::Bit, "bit"},
    {SqlType::Float, "float"},
    {SqlType::Real, "real"},
    {SqlType::Money, "money"},
    {SqlType::SmallMoney, "smallmoney"},
    {SqlType::Decimal, "decimal"},
    {SqlType::DateTime, "datetime"},
    {SqlType::SmallDateTime, "smalldatetime"},
    {SqlType::Date, "date"},
    {SqlType::Time, "time"},
    {SqlType::DateTime2, "datetime2"},
    {SqlType::DateTimeOffset, "datetimeoffset"},
    {SqlType::Char, "char"},
    {SqlType::VarChar, "varchar"},
    {SqlType::NChar, "nchar"},
    {SqlType::NVarChar, "nvarchar"},
    {SqlType::Binary, "binary"},
    {SqlType::VarBinary, "varbinary"},
    {SqlType::UniqueIdentifier, "uniqueidentifier"},
};

const char* nameOf(SqlType t) {
    for (const auto& b : kBaseNames)
        if (b.type == t)
            return b.name;
    return nullptr;
}

std::optional<SqlType> typeNamed(std::string_view name) {
    for (const auto& b : kBaseNames)
        if (name == b.name)
            return b.type;
    return std::nullopt;
}

bool isIntegerBase(SqlType t) {
    return t == SqlType::Int || t == SqlType::BigInt || t == SqlType::SmallInt ||
           t == SqlType::TinyInt || t == SqlType::Bit;
}

std::string hex(const Blob& b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * b.size());
    for (std::uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

Blob unhex(std::string_view s) {
    auto nibble = [](char c) {
        return c >= 'a' ? c - 'a' + 10 : c >= 'A' ? c - 'A' + 10 : c - '0';
    };
    Blob b;
    for (std::size_t k = 0; k + 1 < s.size(); k += 2)
        b.push_back(std::uint8_t(nibble(s[k]) << 4 | nibble(s[k + 1])));
    return b;
}

std::string numberText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

std::string valueText(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v))
        return numberText(*d);
    if (const auto* b = std::get_if<Blob>(&v))
        return std::string(b->begin(), b->end());
    return {};
}

// UTF-16 code units of UTF-8 text.
int utf16Units(std::string_view s) {
    int n = 0;
    for (std::size_t k = 0; k < s.size(); ++k) {
        const auto c = static_cast<unsigned char>(s[k]);
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

// Bytes of a time with `scale` fractional digits.
int timeBytes(int scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

int decimalBytes(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// Comparison families, higher ranks greater.
int family(SqlType t) {
    switch (t) {
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        return 6;
    case SqlType::Float:
    case SqlType::Real:
        return 5;
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
        return 3;
    case SqlType::Binary:
    case SqlType::VarBinary:
        return 2;
    case SqlType::UniqueIdentifier:
        return 1;
    default:
        return 4; // exact numerics
    }
}

template <typename T> int sign(T a, T b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

} // namespace

bool variantCanHold(const ColumnType& base) {
    if (!nameOf(base.type) || base.length < 0)
        return false;
    const bool national = base.type == SqlType::NChar || base.type == SqlType::NVarChar;
    return base.length <= (national ? 4000 : 8000);
}

std::string variantBaseName(const VariantValue& v) {
    if (v.numeric && v.base.type == SqlType::Decimal)
        return "numeric";
    const char* n = nameOf(v.base.type);
    return n ? n : "sql_variant";
}

std::string encodeVariant(const ColumnType& base, const Value& value, bool numeric) {
    std::string s(1, kMark);
    s += variantBaseName(VariantValue{base, Null{}, numeric});
    for (int n : {base.length, base.precision, base.scale}) {
        s += kMark;
        s += std::to_string(n);
    }
    s += kMark;
    s += base.collation;
    s += kMark;
    if (const auto* b = std::get_if<Blob>(&value))
        s += hex(*b);
    else
        s += valueText(value);
    return s;
}

bool isTaggedVariant(std::string_view stored) {
    return !stored.empty() && stored[0] == kMark;
}

std::optional<VariantValue> decodeVariant(std::string_view stored) {
    if (!isTaggedVariant(stored))
        return std::nullopt;
    std::array<std::string_view, 6> f;
    std::size_t at = 1;
    for (std::size_t k = 0; k < 5; ++k) {
        const std::size_t end = stored.find(kMark, at);
        if (end == std::string_view::npos)
            return std::nullopt;
        f[k] = stored.substr(at, end - at);
        at = end + 1;
    }
    f[5] = stored.substr(at);
    const bool numeric = f[0] == "numeric";
    const auto type = numeric ? std::optional<SqlType>(SqlType::Decimal) : typeNamed(f[0]);
    if (!type)
        return std::nullopt;
    VariantValue v;
    v.numeric = numeric;
    v.base.type = *type;
    v.base.length = std::atoi(std::string(f[1]).c_str());
    v.base.precision = std::atoi(std::string(f[2]).c_str());
    v.base.scale = std::atoi(std::string(f[3]).c_str());
    v.base.collation = std::string(f[4]);
    const std::string payload(f[5]);
    if (isIntegerBase(*type))
        v.value = std::int64_t(std::strtoll(payload.c_str(), nullptr, 10));
    else if (*type == SqlType::Float || *type == SqlType::Real)
        v.value = std::strtod(payload.c_str(), nullptr);
    else if (*type == SqlType::Binary || *type == SqlType::VarBinary)
        v.value = unhex(payload);
    else
        v.value = payload;
    return v;
}

VariantValue variantOf(const Value& stored) {
    if (const auto* s = std::get_if<std::string>(&stored))
        if (auto v = decodeVariant(*s))
            return *std::move(v);
    VariantValue v;
    v.value = stored;
    if (const auto* i = std::get_if<std::int64_t>(&stored)) {
        const bool big = *i < INT32_MIN || *i > INT32_MAX;
        v.base.type = big ? SqlType::BigInt : SqlType::Int;
    } else if (std::holds_alternative<double>(stored)) {
        v.base.type = SqlType::Float;
    } else if (const auto* s = std::get_if<std::string>(&stored)) {
        v.base.type = SqlType::NVarChar;
        v.base.length = std::min(4000, std::max(1, utf16Units(*s)));
    } else if (const auto* b = std::get_if<Blob>(&stored)) {
        v.base.type = SqlType::VarBinary;
        v.base.length = std::min(8000, std::max(1, int(b->size())));
    }
    return v;
}

VariantProperties variantProperties(const VariantValue& v) {
    VariantProperties p;
    int props = 0, data = 0;
    const int s = v.base.scale;
    switch (v.base.type) {
    case SqlType::Int:
        p = {10, 0, 4, 0};
        break;
    case SqlType::BigInt:
        p = {19, 0, 8, 0};
        break;
    case SqlType::SmallInt:
        p = {5, 0, 2, 0};
        break;
    case SqlType::TinyInt:
        p = {3, 0, 1, 0};
        break;
    case SqlType::Bit:
        p = {1, 0, 1, 0};
        break;
    case SqlType::Float:
        p = {53, 0, 8, 0};
        break;
    case SqlType::Real:
        p = {24, 0, 4, 0};
        break;
    case SqlType::Money:
        p = {19, 4, 8, 0};
        break;
    case SqlType::SmallMoney:
        p = {10, 4, 4, 0};
        break;
    case SqlType::Decimal:
        p = {v.base.precision, s, decimalBytes(v.base.precision), 0};
        props = 2;
        break;
    case SqlType::DateTime:
        p = {23, 3, 8, 0};
        break;
    case SqlType::SmallDateTime:
        p = {16, 0, 4, 0};
        break;
    case SqlType::Date:
        p = {10, 0, 3, 0};
        break;
    case SqlType::Time:
        p = {s ? 9 + s : 8, s, timeBytes(s), 0};
        props = 1;
        break;
    case SqlType::DateTime2:
        p = {s ? 20 + s : 19, s, timeBytes(s) + 3, 0};
        props = 1;
        break;
    case SqlType::DateTimeOffset:
        p = {s ? 27 + s : 26, s, timeBytes(s) + 5, 0};
        props = 1;
        break;
    case SqlType::Char:
    case SqlType::VarChar:
        p.maxLength = v.base.length;
        props = 7;
        data = int(valueText(v.value).size());
        break;
    case SqlType::NChar:
    case SqlType::NVarChar:
        p.maxLength = 2 * v.base.length;
        props = 7;
        data = 2 * utf16Units(valueText(v.value));
        break;
    case SqlType::Binary:
    case SqlType::VarBinary:
        p.maxLength = v.base.length;
        props = 2;
        if (const auto* b = std::get_if<Blob>(&v.value))
            data = int(b->size());
        break;
    case SqlType::UniqueIdentifier:
        p.maxLength = 16;
        break;
    default:
        break;
    }
    if (props != 7 && props != 2)
        data = p.maxLength;
    if (v.base.type == SqlType::Decimal)
        data = p.maxLength;
    p.totalBytes = 2 + props + data;
    p.dataBytes = data;
    return p;
}

int compareVariants(std::string_view a, std::string_view b,
                    int (*compareMoments)(std::string_view, std::string_view)) {
    const VariantValue x = variantOf(std::string(a));
    const VariantValue y = variantOf(std::string(b));
    const int fx = family(x.base.type), fy = family(y.base.type);
    if (fx != fy)
        return sign(fx, fy);
    switch (fx) {
    case 6:
        return compareMoments(valueText(x.value), valueText(y.value));
    case 5:
        return sign(std::get<double>(x.value), std::get<double>(y.value));
    case 4:
        return compareDecimalText(valueText(x.value), valueText(y.value));
    case 3: {
        // Character data: by collation (LCID, version, flags, sort id), then by it.
        auto collationOf = [](const VariantValue& v) -> const sql::Collation& {
            const sql::Collation* c = sql::findCollation(v.base.collation);
            return c ? *c : sql::defaultCollation();
        };
        const sql::Collation& cx = collationOf(x);
        const sql::Collation& cy = collationOf(y);
        for (const int r : {sign(cx.lcid, cy.lcid), sign(cx.version, cy.version),
                            sign(cx.flags, cy.flags), sign(cx.sortId, cy.sortId)})
            if (r)
                return r;
        return sql::compareText(cx, valueText(x.value), valueText(y.value));
    }
    case 2:
        return sign(std::get<Blob>(x.value), std::get<Blob>(y.value));
    default:
        return sign(valueText(x.value), valueText(y.value));
    }
}

} // namespace tds
