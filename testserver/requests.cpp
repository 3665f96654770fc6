#include "testserver/requests.h"

#include "testserver/tokens.h"
#include "testserver/values.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/decimal.h"
#include "testserver/engine/variant.h"

#include <cstdio>
#include <cstring>

namespace tds {

namespace {

enum PreloginToken : std::uint8_t {
    PlVersion = 0x00,
    PlEncryption = 0x01,
    PlInstOpt = 0x02,
    PlThreadId = 0x03,
    PlMars = 0x04,
    PlTerminator = 0xFF,
};

// Longest parameter value we accept: large enough for any real statement or
// blob a test sends, small enough that a forged length cannot exhaust memory.
constexpr std::uint64_t kMaxParamBytes = 64u << 20;

} // namespace

Prelogin parsePrelogin(const Bytes& payload) {
    Prelogin p;
    ByteReader r(payload);
    for (int guard = 0; guard < 64; ++guard) {
        const std::uint8_t token = r.u8();
        if (token == PlTerminator)
            return p;
        const std::uint16_t off = r.u16be();
        const std::uint16_t len = r.u16be();
        if (std::size_t(off) + len > payload.size())
            throw ProtocolError("PRELOGIN option beyond message");
        const std::uint8_t* data = payload.data() + off;
        switch (token) {
        case PlEncryption:
            if (len >= 1)
                p.encryption = data[0];
            break;
        case PlInstOpt: {
            std::size_t n = 0;
            while (n < len && data[n] != 0)
                ++n;
            p.instance.assign(reinterpret_cast<const char*>(data), n);
            break;
        }
        case PlMars:
            p.hasMars = len >= 1 && data[0] != 0;
            break;
        default:
            break;
        }
    }
    throw ProtocolError("PRELOGIN has too many options");
}

void productVersionBytes(const std::string& productVersion, std::uint8_t out[4]) {
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(productVersion.c_str(), "%u.%u.%u", &major, &minor, &build);
    out[0] = std::uint8_t(major);
    out[1] = std::uint8_t(minor);
    out[2] = std::uint8_t(build >> 8);
    out[3] = std::uint8_t(build);
}

Bytes preloginReply(const std::string& productVersion, std::uint8_t encryption) {
    struct Option {
        std::uint8_t token;
        Bytes data;
    };
    std::uint8_t v[4];
    productVersionBytes(productVersion, v);
    const Option options[] = {
        {PlVersion, {v[0], v[1], v[2], v[3], 0, 0}},
        {PlEncryption, {encryption}},
        {PlInstOpt, {0}},
        {PlThreadId, {}},
        {PlMars, {0}},
    };
    const std::size_t count = sizeof options / sizeof options[0];
    Bytes b;
    std::uint16_t off = std::uint16_t(count * 5 + 1);
    for (const Option& o : options) {
        putU8(b, o.token);
        putU16be(b, off);
        putU16be(b, std::uint16_t(o.data.size()));
        off = std::uint16_t(off + o.data.size());
    }
    putU8(b, PlTerminator);
    for (const Option& o : options)
        b.insert(b.end(), o.data.begin(), o.data.end());
    return b;
}

std::string unscramblePassword(const std::uint8_t* data, std::size_t chars) {
    std::u16string u(chars, u'\0');
    for (std::size_t i = 0; i < chars; ++i) {
        std::uint8_t b[2];
        for (int k = 0; k < 2; ++k) {
            const std::uint8_t x = data[2 * i + k] ^ 0xA5;
            b[k] = std::uint8_t((x << 4) | (x >> 4));
        }
        u[i] = char16_t(b[0] | (b[1] << 8));
    }
    return utf16ToUtf8(u);
}

Login7 parseLogin7(const Bytes& payload) {
    constexpr std::size_t kFixed70 = 86;
    if (payload.size() < kFixed70)
        throw ProtocolError("LOGIN7 shorter than its fixed part");
    ByteReader r(payload);
    const std::uint32_t declared = r.u32();
    if (declared < kFixed70 || declared > payload.size())
        throw ProtocolError("LOGIN7 length field " + std::to_string(declared) + " does not fit");
    const std::size_t size = declared;
    Login7 l;
    l.tdsVersion = r.u32();
    l.packetSize = r.u32();
    r.skip(4); // client program version
    l.clientPid = r.u32();
    r.skip(4); // connection id
    l.optionFlags1 = r.u8();
    l.optionFlags2 = r.u8();
    l.typeFlags = r.u8();
    l.optionFlags3 = r.u8();
    r.skip(8); // time zone, LCID

    auto field = [&](std::size_t at, bool scrambled) -> std::string {
        ByteReader f(payload.data(), size);
        f.seek(at);
        const std::uint16_t off = f.u16();
        const std::uint16_t chars = f.u16();
        if (chars == 0)
            return {};
        if (std::size_t(off) + 2u * chars > size)
            throw ProtocolError("LOGIN7 field beyond the login record");
        if (scrambled)
            return unscramblePassword(payload.data() + off, chars);
        ByteReader s(payload.data(), size);
        s.seek(off);
        return s.ucs2(chars);
    };
    l.hostName = field(36, false);
    l.userName = field(40, false);
    l.password = field(44, true);
    l.appName = field(48, false);
    l.serverName = field(52, false);
    l.libraryName = field(60, false);
    l.language = field(64, false);
    l.database = field(68, false);
    {
        // The token of an integrated login; one of 64 KiB or more has its
        // length in cbSSPILong (TDS 7.2 and later).
        ByteReader f(payload.data(), size);
        f.seek(78);
        const std::uint16_t sspiOff = f.u16();
        std::size_t sspiLen = f.u16();
        if (sspiLen == 0xFFFF && size >= 94) {
            f.seek(90);
            sspiLen = f.u32();
        }
        if (std::size_t(sspiOff) + sspiLen > size)
            throw ProtocolError("LOGIN7 SSPI data beyond the login record");
        l.sspi.assign(payload.begin() + sspiOff, payload.begin() + sspiOff + sspiLen);
    }
    if ((l.optionFlags3 & 0x10) && l.tdsVersion >= kTds74) {
        // fExtension (TDS 7.4): ibExtension points to the offset of the feature
        // extension, a list of FeatureId, length, data ended by 0xFF.
        ByteReader f(payload.data(), size);
        f.seek(56);
        const std::uint16_t extOff = f.u16();
        if (f.u16() >= 4) {
            f.seek(extOff);
            f.seek(f.u32());
            for (std::uint8_t id = f.u8(); id != 0xFF; id = f.u8()) {
                const std::uint32_t len = f.u32();
                f.skip(len);
                if (id == kFeatureUtf8Support)
                    l.utf8Support = true;
            }
        }
    }
    l.integratedSecurity = (l.optionFlags2 & 0x80) != 0 || !l.sspi.empty();
    l.readOnlyIntent = (l.typeFlags & 0x20) != 0;
    return l;
}

std::size_t skipAllHeaders(const Bytes& payload, std::uint32_t tdsVersion) {
    if (tdsVersion < kTds72)
        return 0;
    ByteReader r(payload);
    const std::uint32_t total = r.u32();
    if (total < 4 || total > payload.size())
        throw ProtocolError("ALL_HEADERS length " + std::to_string(total) + " does not fit");
    // Walk the headers so a forged inner length is caught too.
    std::size_t pos = 4;
    while (pos < total) {
        r.seek(pos);
        const std::uint32_t len = r.u32();
        if (len < 6 || len > total - pos)
            throw ProtocolError("malformed request header");
        pos += len;
    }
    return total;
}

std::string parseSqlBatch(const Bytes& payload, std::uint32_t tdsVersion) {
    const std::size_t start = skipAllHeaders(payload, tdsVersion);
    if ((payload.size() - start) % 2 != 0)
        throw ProtocolError("SQL batch text has an odd byte count");
    ByteReader r(payload);
    r.seek(start);
    return r.ucs2(r.remaining() / 2);
}

namespace {

struct TypeInfo {
    std::uint8_t code = 0;
    std::uint32_t maxLen = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    bool utf8 = false;
    bool plp = false;
};

std::string decodeChars(const std::uint8_t* p, std::size_t n, bool wide, bool utf8) {
    if (wide) {
        if (n % 2 != 0)
            throw ProtocolError("odd byte count in a Unicode value");
        ByteReader r(p, n);
        return r.ucs2(n / 2);
    }
    if (utf8)
        return std::string(reinterpret_cast<const char*>(p), n);
    return cp1252ToUtf8(p, n);
}

// Reads a PLP value: total length, then chunks until a zero-length one.
std::optional<Bytes> readPlp(ByteReader& r) {
    const std::uint64_t total = r.u64();
    if (total == ~std::uint64_t(0))
        return std::nullopt;
    if (total != ~std::uint64_t(0) - 1 && total > kMaxParamBytes)
        throw ProtocolError("PLP value too long");
    Bytes out;
    for (;;) {
        const std::uint32_t chunk = r.u32();
        if (chunk == 0)
            break;
        if (out.size() + chunk > kMaxParamBytes)
            throw ProtocolError("PLP value too long");
        const std::uint8_t* p = r.bytes(chunk);
        out.insert(out.end(), p, p + chunk);
    }
    return out;
}

void readCollation(ByteReader& r, TypeInfo& t) {
    const std::uint8_t* c = r.bytes(5);
    t.utf8 = (c[3] & 0x04) != 0;
}

// The fixed-length types: their code, their type and their size in bytes
// (0 for the NULL type, which a parameter with no value may carry).
struct FixedType {
    std::uint8_t code;
    SqlType type;
    std::uint8_t size;
};

constexpr FixedType kFixedTypes[] = {
    {0x1F, SqlType::Int, 0},        {0x30, SqlType::TinyInt, 1},  {0x32, SqlType::Bit, 1},
    {0x34, SqlType::SmallInt, 2},   {0x38, SqlType::Int, 4},      {0x7F, SqlType::BigInt, 8},
    {0x3B, SqlType::Real, 4},       {0x3E, SqlType::Float, 8},    {0x3C, SqlType::Money, 8},
    {0x7A, SqlType::SmallMoney, 4}, {0x3D, SqlType::DateTime, 8}, {0x3A, SqlType::SmallDateTime, 4},
};

TypeInfo readTypeInfo(ByteReader& r, ColumnType& ct) {
    TypeInfo t;
    t.code = r.u8();
    ct = ColumnType{};
    ct.nullable = true;
    for (const FixedType& f : kFixedTypes) {
        if (f.code == t.code) {
            ct.type = f.type;
            t.maxLen = f.size;
            return t;
        }
    }
    switch (t.code) {
    case 0x26: // INTN
        t.maxLen = r.u8();
        ct.type = t.maxLen == 1   ? SqlType::TinyInt
                  : t.maxLen == 2 ? SqlType::SmallInt
                  : t.maxLen == 8 ? SqlType::BigInt
                                  : SqlType::Int;
        break;
    case 0x68:
        t.maxLen = r.u8();
        ct.type = SqlType::Bit;
        break;
    case 0x6D:
        t.maxLen = r.u8();
        ct.type = t.maxLen == 4 ? SqlType::Real : SqlType::Float;
        break;
    case 0x6E:
        t.maxLen = r.u8();
        ct.type = t.maxLen == 4 ? SqlType::SmallMoney : SqlType::Money;
        break;
    case 0x6F:
        t.maxLen = r.u8();
        ct.type = t.maxLen == 4 ? SqlType::SmallDateTime : SqlType::DateTime;
        break;
    case 0x24:
        t.maxLen = r.u8();
        ct.type = SqlType::UniqueIdentifier;
        break;
    case 0x28:
        ct.type = SqlType::Date;
        break;
    case 0x29: // time
    case 0x2A: // datetime2
    case 0x2B: // datetimeoffset
        t.scale = r.u8();
        if (t.scale > 7)
            throw ProtocolError("time scale above 7");
        ct.type = t.code == 0x29   ? SqlType::Time
                  : t.code == 0x2B ? SqlType::DateTimeOffset
                                   : SqlType::DateTime2;
        ct.scale = t.scale;
        break;
    case 0x37:
    case 0x3F:
    case 0x6A:
    case 0x6C: // decimal / numeric
        t.maxLen = r.u8();
        t.precision = r.u8();
        t.scale = r.u8();
        if (t.precision < 1 || t.precision > 38 || t.scale > t.precision)
            throw ProtocolError("decimal precision/scale out of range");
        ct.type = SqlType::Decimal;
        ct.precision = t.precision;
        ct.scale = t.scale;
        break;
    case 0x27:
    case 0x2F: // legacy varchar / char
        t.maxLen = r.u8();
        ct.type = t.code == 0x2F ? SqlType::Char : SqlType::VarChar;
        ct.length = int(t.maxLen);
        break;
    case 0x25:
    case 0x2D: // legacy varbinary / binary
        t.maxLen = r.u8();
        ct.type = t.code == 0x2D ? SqlType::Binary : SqlType::VarBinary;
        ct.length = int(t.maxLen);
        break;
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF: { // (n)(var)char
        t.maxLen = r.u16();
        readCollation(r, t);
        const bool wide = t.code == 0xE7 || t.code == 0xEF;
        const bool fixed = t.code == 0xAF || t.code == 0xEF;
        ct.type = wide ? (fixed ? SqlType::NChar : SqlType::NVarChar)
                       : (fixed ? SqlType::Char : SqlType::VarChar);
        t.plp = t.maxLen == 0xFFFF;
        ct.length = t.plp ? -1 : int(wide ? t.maxLen / 2 : t.maxLen);
        break;
    }
    case 0xA5:
    case 0xAD:
        t.maxLen = r.u16();
        ct.type = t.code == 0xAD ? SqlType::Binary : SqlType::VarBinary;
        t.plp = t.maxLen == 0xFFFF;
        ct.length = t.plp ? -1 : int(t.maxLen);
        break;
    case 0x23:
    case 0x63: // text / ntext
        t.maxLen = r.u32();
        readCollation(r, t);
        ct.type = t.code == 0x23 ? SqlType::Text : SqlType::NText;
        ct.length = -1;
        break;
    case 0x22:
        t.maxLen = r.u32();
        ct.type = SqlType::Image;
        ct.length = -1;
        break;
    case 0x62:
        t.maxLen = r.u32();
        ct.type = SqlType::SqlVariant;
        break;
    default: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "unsupported parameter type 0x%02X", t.code);
        throw ProtocolError(buf);
    }
    }
    return t;
}

std::int64_t readSigned(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k)
        v |= std::uint64_t(p[k]) << (8 * k);
    if (n < 8 && (p[n - 1] & 0x80))
        v |= ~std::uint64_t(0) << (8 * n);
    return std::int64_t(v);
}

std::uint64_t readUnsigned(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k)
        v |= std::uint64_t(p[k]) << (8 * k);
    return v;
}

Value decodeFixedLength(std::uint8_t code, const TypeInfo& t, const std::uint8_t* p, std::size_t n);

// The value for a type whose value is preceded by a one-byte length (or none for fixed types).
Value decodeSimple(ByteReader& r, const TypeInfo& t) {
    std::size_t n;
    switch (t.code) {
    case 0x30:
    case 0x32:
    case 0x34:
    case 0x38:
    case 0x7F:
    case 0x3B:
    case 0x3E:
    case 0x3C:
    case 0x7A:
    case 0x3D:
    case 0x3A:
        n = t.maxLen;
        break;
    case 0x1F:
        return Null{};
    default:
        n = r.u8();
        break;
    }
    if (n == 0)
        return Null{};
    return decodeFixedLength(t.code, t, r.bytes(n), n);
}

std::string formatLegacyDateTime(std::int64_t days1900, std::int64_t ticks300) {
    // 1/300 s ticks to 100 ns, rounded to the millisecond as SQL Server shows it.
    const std::int64_t ms = (ticks300 * 10 + 1) / 3;
    return formatDateTime(kDays1900 + days1900, ms * 10'000, 3);
}

Value decodeFixedLength(std::uint8_t code, const TypeInfo& t, const std::uint8_t* p,
                        std::size_t n) {
    auto requireSize = [&](std::initializer_list<std::size_t> ok) {
        for (std::size_t k : ok)
            if (k == n)
                return;
        throw ProtocolError("value length " + std::to_string(n) + " invalid for its type");
    };
    switch (code) {
    case 0x30:
        requireSize({1});
        return std::int64_t(p[0]);
    case 0x34:
        requireSize({2});
        return readSigned(p, 2);
    case 0x38:
        requireSize({4});
        return readSigned(p, 4);
    case 0x7F:
        requireSize({8});
        return readSigned(p, 8);
    case 0x26:
        requireSize({1, 2, 4, 8});
        return n == 1 ? std::int64_t(p[0]) : readSigned(p, n);
    case 0x32:
    case 0x68:
        requireSize({1});
        return std::int64_t(p[0] != 0);
    case 0x3B:
    case 0x3E:
    case 0x6D:
        requireSize({4, 8});
        if (n == 4) {
            float f;
            std::memcpy(&f, p, 4);
            return double(f);
        } else {
            double d;
            std::memcpy(&d, p, 8);
            return d;
        }
    case 0x3C:
    case 0x7A:
    case 0x6E: {
        requireSize({4, 8});
        std::int64_t m;
        if (n == 4)
            m = readSigned(p, 4);
        else
            m = std::int64_t((std::uint64_t(readUnsigned(p, 4)) << 32) | readUnsigned(p + 4, 4));
        ScaledDecimal d;
        d.negative = m < 0;
        d.magnitude = d.negative ? Int128(-(m + 1)) + 1 : Int128(m);
        return formatDecimal(d, 4);
    }
    case 0x3D:
    case 0x3A:
    case 0x6F:
        requireSize({4, 8});
        if (n == 8)
            return formatLegacyDateTime(readSigned(p, 4), std::int64_t(readUnsigned(p + 4, 4)));
        return formatLegacyDateTime(std::int64_t(readUnsigned(p, 2)),
                                    std::int64_t(readUnsigned(p + 2, 2)) * 60 * 300);
    case 0x24: {
        requireSize({16});
        return formatGuid(p);
    }
    case 0x28:
        requireSize({3});
        return formatDate(std::int64_t(readUnsigned(p, 3)));
    case 0x29:
    case 0x2A:
    case 0x2B: {
        const std::size_t timeBytes = t.scale <= 2 ? 3 : t.scale <= 4 ? 4 : 5;
        const std::size_t want = timeBytes + (code == 0x29 ? 0 : 3) + (code == 0x2B ? 2 : 0);
        requireSize({want});
        std::int64_t ticks = std::int64_t(readUnsigned(p, timeBytes));
        for (int k = t.scale; k < 7; ++k)
            ticks *= 10;
        if (ticks >= 864'000'000'000LL)
            throw ProtocolError("time of day beyond 24 hours");
        if (code == 0x29)
            return formatTime(ticks, t.scale);
        std::int64_t days = std::int64_t(readUnsigned(p + timeBytes, 3));
        if (code == 0x2A)
            return formatDateTime(days, ticks, t.scale);
        // datetimeoffset: the wire holds UTC; show local time with the offset.
        const std::int64_t offset = readSigned(p + timeBytes + 3, 2);
        std::int64_t local = ticks + offset * 60 * 10'000'000LL;
        const std::int64_t dayTicks = 864'000'000'000LL;
        while (local < 0)
            local += dayTicks, --days;
        while (local >= dayTicks)
            local -= dayTicks, ++days;
        char off[16];
        const std::int64_t a = offset < 0 ? -offset : offset;
        std::snprintf(off, sizeof off, " %c%02d:%02d", offset < 0 ? '-' : '+', int(a / 60),
                      int(a % 60));
        return formatDateTime(days, local, t.scale) + off;
    }
    case 0x37:
    case 0x3F:
    case 0x6A:
    case 0x6C: {
        if (n < 2 || n > 17)
            throw ProtocolError("decimal value length out of range");
        ScaledDecimal d;
        d.negative = p[0] == 0;
        for (std::size_t k = n - 1; k >= 1; --k)
            d.magnitude = (d.magnitude << 8) | p[k];
        if (decimalDigits(d.magnitude) > 38)
            throw ProtocolError("decimal value beyond 38 digits");
        if (t.scale == 0 && d.magnitude <= Int128(INT64_MAX))
            return d.negative ? -std::int64_t(d.magnitude) : std::int64_t(d.magnitude);
        return formatDecimal(d, t.scale);
    }
    default:
        throw ProtocolError("value of an unexpected type");
    }
}

// The SQL Server type a sql_variant's base type byte stands for.
std::optional<SqlType> variantBaseType(std::uint8_t code) {
    switch (code) {
    case 0x38:
        return SqlType::Int;
    case 0x7F:
        return SqlType::BigInt;
    case 0x34:
        return SqlType::SmallInt;
    case 0x30:
        return SqlType::TinyInt;
    case 0x32:
        return SqlType::Bit;
    case 0x3E:
        return SqlType::Float;
    case 0x3B:
        return SqlType::Real;
    case 0x3C:
        return SqlType::Money;
    case 0x7A:
        return SqlType::SmallMoney;
    case 0x3D:
        return SqlType::DateTime;
    case 0x3A:
        return SqlType::SmallDateTime;
    case 0x28:
        return SqlType::Date;
    case 0x29:
        return SqlType::Time;
    case 0x2A:
        return SqlType::DateTime2;
    case 0x2B:
        return SqlType::DateTimeOffset;
    case 0x6A:
    case 0x6C:
        return SqlType::Decimal;
    case 0x24:
        return SqlType::UniqueIdentifier;
    case 0xA7:
        return SqlType::VarChar;
    case 0xAF:
        return SqlType::Char;
    case 0xE7:
        return SqlType::NVarChar;
    case 0xEF:
        return SqlType::NChar;
    case 0xA5:
        return SqlType::VarBinary;
    case 0xAD:
        return SqlType::Binary;
    default:
        return std::nullopt;
    }
}

// A sql_variant value (SSVARIANTTYPE): the base type byte, its properties
// and the value, kept as the engine keeps sql_variant values (tagged with
// their base type, see engine/variant.h).
Value decodeVariant(ByteReader& r) {
    const std::uint32_t total = r.u32();
    if (total == 0)
        return Null{};
    if (total < 2)
        throw ProtocolError("sql_variant value too short");
    ByteReader v(r.bytes(total), total);
    TypeInfo t;
    t.code = v.u8();
    const std::uint8_t propBytes = v.u8();
    const std::uint8_t* props = v.bytes(propBytes);
    const std::size_t n = v.remaining();
    const std::uint8_t* data = v.bytes(n);
    const auto type = variantBaseType(t.code);
    if (!type)
        throw ProtocolError("sql_variant of an unexpected base type");
    ColumnType base;
    base.type = *type;
    switch (t.code) {
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF: {
        if (propBytes < 7)
            throw ProtocolError("sql_variant string without collation");
        const bool wide = t.code == 0xE7 || t.code == 0xEF;
        // The server's collation stays unnamed, as in values typed by the engine.
        const sql::Collation* c = sql::collationOfBytes(props);
        if (c && c != &sql::defaultCollation())
            base.collation = c->name;
        const int bytes = props[5] | (props[6] << 8);
        base.length = wide ? bytes / 2 : bytes;
        return encodeVariant(base, decodeChars(data, n, wide, (props[3] & 0x04) != 0));
    }
    case 0xA5:
    case 0xAD:
        if (propBytes < 2)
            throw ProtocolError("sql_variant binary without length");
        base.length = props[0] | (props[1] << 8);
        return encodeVariant(base, Blob(data, data + n));
    case 0x6A:
    case 0x6C:
        if (propBytes < 2)
            throw ProtocolError("sql_variant decimal without precision");
        t.precision = props[0];
        t.scale = props[1];
        base.precision = t.precision;
        base.scale = t.scale;
        break;
    case 0x29:
    case 0x2A:
    case 0x2B:
        if (propBytes < 1 || props[0] > 7)
            throw ProtocolError("sql_variant time without scale");
        t.scale = props[0];
        base.scale = t.scale;
        break;
    default:
        break;
    }
    if (n == 0)
        return Null{};
    Value value = decodeFixedLength(t.code, t, data, n);
    if (base.type == SqlType::Decimal) {
        if (const auto d = decimalFromValue(value, base.scale))
            value = formatDecimal(*d, base.scale);
    }
    return encodeVariant(base, value, t.code == 0x6C);
}

Value readValue(ByteReader& r, const TypeInfo& t);

std::string bVarchar(ByteReader& r) {
    const std::uint8_t n = r.u8();
    return r.ucs2(n);
}

// TVP_TYPE_INFO after its type byte 0xF3, and the rows: the table type's
// name, the columns (user type, flags, TYPE_INFO, an empty name), optional
// ordering tokens, then TVP_ROW tokens (0x01) of values up to 0x00.
std::shared_ptr<const TableArgument> readTableParam(ByteReader& r) {
    auto table = std::make_shared<TableArgument>();
    bVarchar(r); // the database: always the current one
    table->typeSchema = bVarchar(r);
    table->typeName = bVarchar(r);
    std::vector<TypeInfo> infos;
    const std::uint16_t count = r.u16();
    if (count != 0xFFFF) {
        for (std::uint16_t c = 0; c < count; ++c) {
            r.u32(); // user type
            r.u16(); // flags
            Column col;
            infos.push_back(readTypeInfo(r, col.type));
            col.name = bVarchar(r);
            if (col.name.empty())
                col.name = "c" + std::to_string(c + 1);
            table->columns.push_back(std::move(col));
        }
    }
    for (;;) {
        const std::uint8_t token = r.u8();
        if (token == 0x00)
            break;
        const std::uint16_t n = r.u16();
        if (token == 0x10) // TVP_ORDER_UNIQUE: ordinal and flags per column
            r.skip(std::size_t(n) * 3);
        else if (token == 0x11) // TVP_COLUMN_ORDERING: ordinals
            r.skip(std::size_t(n) * 2);
        else
            throw ProtocolError("unknown token in a table-valued parameter");
    }
    while (r.u8() == 0x01) {
        std::vector<Value> row;
        for (const TypeInfo& t : infos)
            row.push_back(readValue(r, t));
        table->rows.push_back(std::move(row));
        if (table->rows.size() > kMaxParamBytes)
            throw ProtocolError("too many rows in a table-valued parameter");
    }
    return table;
}

RpcParam readParam(ByteReader& r) {
    RpcParam p;
    const std::uint8_t nameLen = r.u8();
    p.name = r.ucs2(nameLen);
    const std::uint8_t status = r.u8();
    p.output = (status & 0x01) != 0;
    if (r.peekU8() == 0xF3) {
        r.u8();
        p.table = readTableParam(r);
        p.value = Null{};
        return p;
    }
    const TypeInfo t = readTypeInfo(r, p.type);
    p.value = readValue(r, t);
    return p;
}

Value readValue(ByteReader& r, const TypeInfo& t) {
    RpcParam p;
    switch (t.code) {
    case 0xA7:
    case 0xAF:
    case 0xE7:
    case 0xEF:
    case 0xA5:
    case 0xAD: {
        const bool binary = t.code == 0xA5 || t.code == 0xAD;
        const bool wide = t.code == 0xE7 || t.code == 0xEF;
        if (t.plp) {
            const auto bytes = readPlp(r);
            if (!bytes)
                p.value = Null{};
            else if (binary)
                p.value = *bytes;
            else
                p.value = decodeChars(bytes->data(), bytes->size(), wide, t.utf8);
            break;
        }
        const std::uint16_t n = r.u16();
        if (n == 0xFFFF) {
            p.value = Null{};
            break;
        }
        const std::uint8_t* data = r.bytes(n);
        if (binary)
            p.value = Blob(data, data + n);
        else
            p.value = decodeChars(data, n, wide, t.utf8);
        break;
    }
    case 0x27:
    case 0x2F:
    case 0x25:
    case 0x2D: {
        const std::uint8_t n = r.u8();
        // In the old one-byte forms 0xFF marks NULL (and 0 is NULL too for varchar).
        if (n == 0xFF) {
            p.value = Null{};
            break;
        }
        const std::uint8_t* data = r.bytes(n);
        if (t.code == 0x25 || t.code == 0x2D)
            p.value = Blob(data, data + n);
        else
            p.value = cp1252ToUtf8(data, n);
        break;
    }
    case 0x23:
    case 0x63:
    case 0x22: {
        const std::uint32_t n = r.u32();
        if (n == 0xFFFFFFFF) {
            p.value = Null{};
            break;
        }
        if (n > kMaxParamBytes)
            throw ProtocolError("text parameter too long");
        const std::uint8_t* data = r.bytes(n);
        if (t.code == 0x22)
            p.value = Blob(data, data + n);
        else
            p.value = decodeChars(data, n, t.code == 0x63, t.utf8);
        break;
    }
    case 0x62:
        p.value = decodeVariant(r);
        break;
    default:
        p.value = decodeSimple(r, t);
        break;
    }
    return p.value;
}

} // namespace

std::vector<RpcCall> parseRpc(const Bytes& payload, std::uint32_t tdsVersion) {
    std::vector<RpcCall> calls;
    ByteReader r(payload);
    r.seek(skipAllHeaders(payload, tdsVersion));
    for (;;) {
        RpcCall call;
        const std::uint16_t nameLen = r.u16();
        if (nameLen == 0xFFFF)
            call.procId = r.u16();
        else if (nameLen == 0)
            throw ProtocolError("RPC without procedure name");
        else
            call.procName = r.ucs2(nameLen);
        r.skip(2); // option flags
        bool more = false;
        while (!r.atEnd()) {
            const std::uint8_t b = r.peekU8();
            // Batch separators between calls: 0x80 (before 7.2), 0xFF / 0xFE.
            if (b == 0xFF || b == 0xFE || (b == 0x80 && tdsVersion < kTds72)) {
                r.skip(1);
                more = true;
                break;
            }
            call.params.push_back(readParam(r));
        }
        calls.push_back(std::move(call));
        if (!more || r.atEnd())
            break;
    }
    return calls;
}

namespace {
// A transaction name: a length byte that counts bytes, then UCS-2 text.
std::string transactionName(ByteReader& r) {
    const std::uint8_t bytes = r.u8();
    if (bytes % 2 != 0)
        throw ProtocolError("transaction name of odd byte length");
    return r.ucs2(bytes / 2);
}
} // namespace

TransactionRequest parseTransactionRequest(const Bytes& payload, std::uint32_t tdsVersion) {
    ByteReader r(payload);
    r.seek(skipAllHeaders(payload, tdsVersion));
    TransactionRequest t;
    t.kind = r.u16();
    switch (t.kind) {
    case TransactionRequest::Begin:
        r.skip(1); // isolation level
        t.name = transactionName(r);
        break;
    case TransactionRequest::Commit:
    case TransactionRequest::Rollback:
        t.name = transactionName(r);
        if (!r.atEnd()) {
            t.beginNew = (r.u8() & 0x01) != 0;
            if (t.beginNew && !r.atEnd()) {
                r.skip(1);
                if (!r.atEnd())
                    transactionName(r);
            }
        }
        break;
    case TransactionRequest::Save:
        t.name = transactionName(r);
        break;
    default:
        throw ProtocolError("unsupported transaction request " + std::to_string(t.kind));
    }
    return t;
}

void parseAnyRequest(std::uint8_t type, const Bytes& payload, std::uint32_t tdsVersion) {
    switch (type) {
    case 0x12:
        parsePrelogin(payload);
        break;
    case 0x10:
        parseLogin7(payload);
        break;
    case 0x01:
        parseSqlBatch(payload, tdsVersion);
        break;
    case 0x03:
        parseRpc(payload, tdsVersion);
        break;
    case 0x0E:
        parseTransactionRequest(payload, tdsVersion);
        break;
    default:
        break;
    }
}

} // namespace tds
