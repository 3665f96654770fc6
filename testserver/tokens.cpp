#include "testserver/tokens.h"

#include "testserver/engine/collation.h"
#include "testserver/engine/udt.h"
#include "testserver/engine/variant.h"
#include "testserver/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tds {

namespace {

bool isAscii(std::string_view s) {
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        if (w & 0x8080808080808080ULL)
            return false;
    }
    for (; i < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80)
            return false;
    return true;
}

enum TokenByte : std::uint8_t {
    TokReturnStatus = 0x79,
    TokColMetadata = 0x81,
    TokError = 0xAA,
    TokInfo = 0xAB,
    TokReturnValue = 0xAC,
    TokTabName = 0xA4,
    TokColInfo = 0xA5,
    TokLoginAck = 0xAD,
    TokSspi = 0xED,
    TokFeatureExtAck = 0xAE,
    TokRow = 0xD1,
    TokNbcRow = 0xD2,
    TokEnvChange = 0xE3,
    TokDone = 0xFD,
    TokDoneProc = 0xFE,
    TokDoneInProc = 0xFF,
};

constexpr std::uint32_t kTextMax = 0x7FFFFFFF;
constexpr std::uint32_t kNTextMax = 0x7FFFFFFE;
// Bytes per chunk of a long xml value.
constexpr std::size_t kPlpChunk = 8000;

// Fixed text pointer and timestamp sent before every text/ntext/image value;
// clients only check the pointer's length.
constexpr std::uint8_t kTextPtr[16] = {0x74, 0x65, 0x78, 0x74, 0x70, 0x74, 0x72, 0x00,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr std::uint8_t kTextTimestamp[8] = {0, 0, 0, 0, 0, 0, 0, 1};

std::uint8_t decimalSize(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

std::uint8_t timeSize(int scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

std::u16string truncatedUtf16(const std::string& s, std::size_t maxUnits) {
    std::u16string u = utf8ToUtf16(s);
    if (u.size() > maxUnits)
        u.resize(maxUnits);
    return u;
}

} // namespace

WireColumn wireColumn(const ColumnType& t, std::uint32_t version, bool forceNullable) {
    const bool nullable = t.nullable || forceNullable;
    const bool v72 = version >= kTds72;
    WireColumn w;
    auto fixedOrN = [&](WireColumn::Kind fixed, std::uint8_t fixedCode, WireColumn::Kind n,
                        std::uint8_t nCode, std::uint8_t size) {
        w.kind = nullable ? n : fixed;
        w.code = nullable ? nCode : fixedCode;
        w.size = size;
    };
    auto charLike = [&](WireColumn::Kind kind, std::uint8_t code, std::uint32_t maxUnits,
                        std::uint32_t unitBytes, bool pad) {
        w.kind = kind;
        w.code = code;
        w.pad = pad;
        w.maxBytes = maxUnits * unitBytes;
    };
    if (!t.collation.empty()) {
        if (const sql::Collation* c = sql::findCollation(t.collation)) {
            w.collation = c->bytes();
            w.codePage = c->codePage;
        }
    }
    const bool isMax = t.length < 0;
    switch (t.type) {
    case SqlType::Int:
        fixedOrN(WireColumn::FixedInt, 0x38, WireColumn::IntN, 0x26, 4);
        break;
    case SqlType::BigInt:
        fixedOrN(WireColumn::FixedInt, 0x7F, WireColumn::IntN, 0x26, 8);
        break;
    case SqlType::SmallInt:
        fixedOrN(WireColumn::FixedInt, 0x34, WireColumn::IntN, 0x26, 2);
        break;
    case SqlType::TinyInt:
        fixedOrN(WireColumn::FixedInt, 0x30, WireColumn::IntN, 0x26, 1);
        break;
    case SqlType::Bit:
        fixedOrN(WireColumn::FixedBit, 0x32, WireColumn::BitN, 0x68, 1);
        break;
    case SqlType::Float:
        fixedOrN(WireColumn::FixedFloat, 0x3E, WireColumn::FloatN, 0x6D, 8);
        break;
    case SqlType::Real:
        fixedOrN(WireColumn::FixedFloat, 0x3B, WireColumn::FloatN, 0x6D, 4);
        break;
    case SqlType::Money:
        fixedOrN(WireColumn::FixedMoney, 0x3C, WireColumn::MoneyN, 0x6E, 8);
        break;
    case SqlType::SmallMoney:
        fixedOrN(WireColumn::FixedMoney, 0x7A, WireColumn::MoneyN, 0x6E, 4);
        break;
    case SqlType::DateTime:
        fixedOrN(WireColumn::FixedDateTime, 0x3D, WireColumn::DateTimeN, 0x6F, 8);
        break;
    case SqlType::SmallDateTime:
        fixedOrN(WireColumn::FixedDateTime, 0x3A, WireColumn::DateTimeN, 0x6F, 4);
        break;
    case SqlType::Date:
        // Clients before 7.3 know no date type; SQL Server sends them nvarchar.
        if (version >= kTds73) {
            w.kind = WireColumn::Date;
            w.code = 0x28;
            w.size = 3;
        } else {
            charLike(WireColumn::DateAsNChar, 0xE7, 10, 2, false);
        }
        break;
    case SqlType::Time:
        w.scale = std::uint8_t(std::clamp(t.scale, 0, 7));
        if (version >= kTds73) {
            w.kind = WireColumn::Time;
            w.code = 0x29;
            w.size = timeSize(w.scale);
        } else {
            charLike(WireColumn::TimeAsNChar, 0xE7, 16, 2, false);
        }
        break;
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset: {
        // Older clients get the text, as nvarchar(27) or nvarchar(34).
        const bool offset = t.type == SqlType::DateTimeOffset;
        w.scale = std::uint8_t(std::clamp(t.scale, 0, 7));
        if (version >= kTds73) {
            w.kind = offset ? WireColumn::DateTimeOffset : WireColumn::DateTime2;
            w.code = offset ? 0x2B : 0x2A;
            w.size = std::uint8_t(timeSize(w.scale) + (offset ? 5 : 3));
        } else {
            charLike(WireColumn::NChar, 0xE7, offset ? 34 : 27, 2, false);
        }
        break;
    }
    case SqlType::Decimal:
        w.kind = WireColumn::Decimal;
        w.code = 0x6A;
        w.precision = std::uint8_t(t.precision > 0 ? std::clamp(t.precision, 1, 38) : 18);
        w.scale = std::uint8_t(std::clamp(t.scale, 0, int(w.precision)));
        w.size = decimalSize(w.precision);
        break;
    case SqlType::Char:
    case SqlType::VarChar:
        if (isMax || t.length > 8000) {
            if (v72)
                charLike(WireColumn::PlpChar, 0xA7, 0xFFFF, 1, false);
            else
                charLike(WireColumn::Text, 0x23, kTextMax, 1, false);
        } else {
            const bool fixed = t.type == SqlType::Char;
            charLike(WireColumn::Char, fixed ? 0xAF : 0xA7, t.length > 0 ? t.length : 8000, 1,
                     fixed && t.length > 0);
        }
        break;
    case SqlType::NChar:
    case SqlType::NVarChar:
        if (isMax || t.length > 4000) {
            if (v72) {
                charLike(WireColumn::PlpNChar, 0xE7, 0xFFFF, 1, false);
            } else {
                charLike(WireColumn::NText, 0x63, 1, 1, false);
                w.maxBytes = kNTextMax;
            }
        } else {
            const bool fixed = t.type == SqlType::NChar;
            charLike(WireColumn::NChar, fixed ? 0xEF : 0xE7, t.length > 0 ? t.length : 4000, 2,
                     fixed && t.length > 0);
        }
        break;
    case SqlType::Text:
        charLike(WireColumn::Text, 0x23, kTextMax, 1, false);
        break;
    case SqlType::NText:
        charLike(WireColumn::NText, 0x63, 1, 1, false);
        w.maxBytes = kNTextMax;
        break;
    case SqlType::Image:
        charLike(WireColumn::Image, 0x22, kTextMax, 1, false);
        break;
    case SqlType::Binary:
    case SqlType::VarBinary:
        if (isMax || t.length > 8000) {
            if (v72)
                charLike(WireColumn::PlpBinary, 0xA5, 0xFFFF, 1, false);
            else
                charLike(WireColumn::Image, 0x22, kTextMax, 1, false);
        } else {
            const bool fixed = t.type == SqlType::Binary;
            charLike(WireColumn::Binary, fixed ? 0xAD : 0xA5, t.length > 0 ? t.length : 8000, 1,
                     fixed && t.length > 0);
        }
        break;
    case SqlType::UniqueIdentifier:
        w.kind = WireColumn::Guid;
        w.code = 0x24;
        w.size = 16;
        break;
    case SqlType::Xml:
        // Before 7.2 (no PLP) an xml value goes out as ntext, as SQL Server does.
        if (v72) {
            w.kind = WireColumn::Xml;
            w.code = 0xF1;
        } else {
            charLike(WireColumn::NText, 0x63, 1, 1, false);
            w.maxBytes = kNTextMax;
        }
        break;
    case SqlType::SqlVariant:
        w.kind = WireColumn::Variant;
        w.code = 0x62;
        w.maxBytes = 8009;
        break;
    case SqlType::Udt:
        // Before 7.2 a CLR value goes out as image, as varbinary(max) does.
        if (v72) {
            w.kind = WireColumn::Udt;
            w.code = 0xF0;
            w.udt = t.udt;
            w.maxBytes =
                udt::maxByteSize(t.udt) < 0 ? 0xFFFF : std::uint32_t(udt::maxByteSize(t.udt));
        } else {
            charLike(WireColumn::Image, 0x22, kTextMax, 1, false);
        }
        break;
    }
    return w;
}

TokenWriter::TokenWriter(PacketWriter& out, std::uint32_t tdsVersion)
    : m_out(out), m_version(tdsVersion) {}

void TokenWriter::bVarchar(Bytes& b, const std::string& s) {
    const std::u16string u = truncatedUtf16(s, 255);
    putU8(b, std::uint8_t(u.size()));
    appendUcs2(b, u);
}

void TokenWriter::usVarchar(Bytes& b, const std::string& s) {
    const std::u16string u = truncatedUtf16(s, 65535);
    putU16(b, std::uint16_t(u.size()));
    appendUcs2(b, u);
}

void TokenWriter::loginAck(const std::string& progName, const std::uint8_t progVersion[4]) {
    Bytes& b = m_scratch;
    b.clear();
    putU8(b, 1); // T-SQL interface
    putU8(b, std::uint8_t(m_version >> 24));
    putU8(b, std::uint8_t(m_version >> 16));
    putU8(b, std::uint8_t(m_version >> 8));
    putU8(b, std::uint8_t(m_version));
    bVarchar(b, progName);
    b.insert(b.end(), progVersion, progVersion + 4);
    m_out.putU8(TokLoginAck);
    m_out.putU16(std::uint16_t(b.size()));
    m_out.put(b);
}

void TokenWriter::featureExtAck(const std::vector<std::pair<std::uint8_t, Bytes>>& features) {
    m_out.putU8(TokFeatureExtAck);
    for (const auto& [id, data] : features) {
        m_out.putU8(id);
        m_out.putU32(std::uint32_t(data.size()));
        m_out.put(data);
    }
    m_out.putU8(0xFF);
}

void TokenWriter::sspi(const Bytes& token) {
    m_out.putU8(TokSspi);
    m_out.putU16(std::uint16_t(token.size()));
    m_out.put(token);
}

void TokenWriter::envChange(std::uint8_t type, const std::string& newValue,
                            const std::string& oldValue) {
    Bytes& b = m_scratch;
    b.clear();
    putU8(b, type);
    bVarchar(b, newValue);
    bVarchar(b, oldValue);
    if (type == EnvDatabase)
        m_database = newValue;
    m_out.putU8(TokEnvChange);
    m_out.putU16(std::uint16_t(b.size()));
    m_out.put(b);
}

void TokenWriter::envChangeBytes(std::uint8_t type, const Bytes& newValue, const Bytes& oldValue) {
    Bytes& b = m_scratch;
    b.clear();
    putU8(b, type);
    putU8(b, std::uint8_t(std::min<std::size_t>(newValue.size(), 255)));
    b.insert(b.end(), newValue.begin(),
             newValue.begin() + std::min<std::size_t>(newValue.size(), 255));
    putU8(b, std::uint8_t(std::min<std::size_t>(oldValue.size(), 255)));
    b.insert(b.end(), oldValue.begin(),
             oldValue.begin() + std::min<std::size_t>(oldValue.size(), 255));
    m_out.putU8(TokEnvChange);
    m_out.putU16(std::uint16_t(b.size()));
    m_out.put(b);
}

void TokenWriter::message(const Message& m) {
    Bytes& b = m_scratch;
    b.clear();
    putU32(b, std::uint32_t(m.number));
    putU8(b, m.state);
    putU8(b, m.severity);
    // The token length is 16 bits; keep the text well inside it.
    const std::u16string text = truncatedUtf16(m.text, 32000);
    putU16(b, std::uint16_t(text.size()));
    appendUcs2(b, text);
    bVarchar(b, m_serverName);
    bVarchar(b, m.procName);
    if (tds72())
        putU32(b, std::uint32_t(m.line));
    else
        putU16(b, std::uint16_t(m.line));
    m_out.putU8(m.error ? TokError : TokInfo);
    m_out.putU16(std::uint16_t(b.size()));
    m_out.put(b);
}

void TokenWriter::typeInfo(const WireColumn& w, const std::string& table) {
    PacketWriter& o = m_out;
    o.putU8(w.code);
    switch (w.kind) {
    case WireColumn::FixedInt:
    case WireColumn::FixedBit:
    case WireColumn::FixedFloat:
    case WireColumn::FixedMoney:
    case WireColumn::FixedDateTime:
    case WireColumn::Date:
        break;
    case WireColumn::IntN:
    case WireColumn::BitN:
    case WireColumn::FloatN:
    case WireColumn::MoneyN:
    case WireColumn::DateTimeN:
    case WireColumn::Guid:
        o.putU8(w.size);
        break;
    case WireColumn::Time:
    case WireColumn::DateTime2:
    case WireColumn::DateTimeOffset:
        o.putU8(w.scale);
        break;
    case WireColumn::Decimal:
        o.putU8(w.size);
        o.putU8(w.precision);
        o.putU8(w.scale);
        break;
    case WireColumn::Char:
    case WireColumn::NChar:
    case WireColumn::DateAsNChar:
    case WireColumn::TimeAsNChar:
        o.putU16(std::uint16_t(w.maxBytes));
        o.put(w.collation.data(), 5);
        break;
    case WireColumn::PlpChar:
    case WireColumn::PlpNChar:
        o.putU16(0xFFFF);
        o.put(w.collation.data(), 5);
        break;
    case WireColumn::PlpBinary:
        o.putU16(0xFFFF);
        break;
    case WireColumn::Udt: {
        // UDT_INFO: max size, the database, schema and name of the type, and
        // the .NET type it is.
        o.putU16(std::uint16_t(w.maxBytes));
        Bytes& b = m_scratch;
        b.clear();
        bVarchar(b, m_database);
        bVarchar(b, "sys");
        bVarchar(b, std::string(udt::typeName(w.udt)));
        usVarchar(b, std::string(udt::assemblyQualifiedName(w.udt)));
        o.put(b);
        break;
    }
    case WireColumn::Xml:
        o.putU8(0); // XML_INFO: no schema collection
        break;
    case WireColumn::Binary:
        o.putU16(std::uint16_t(w.maxBytes));
        break;
    case WireColumn::Text:
    case WireColumn::NText:
    case WireColumn::Image: {
        o.putU32(w.maxBytes);
        if (w.kind != WireColumn::Image)
            o.put(w.collation.data(), 5);
        const std::u16string name = truncatedUtf16(table, 65535);
        if (tds72()) {
            if (name.empty()) {
                o.putU8(0);
                break;
            }
            o.putU8(1);
        }
        o.putU16(std::uint16_t(name.size()));
        for (char16_t c : name)
            o.putU16(c);
        break;
    }
    case WireColumn::Variant:
        o.putU32(w.maxBytes);
        break;
    }
}

void TokenWriter::colMetadata(const std::vector<Column>& cols) {
    m_columns.clear();
    m_out.putU8(TokColMetadata);
    m_out.putU16(std::uint16_t(cols.size()));
    for (const Column& c : cols) {
        const WireColumn w = wireColumn(c.type, m_version, false);
        m_columns.push_back(w);
        // UserType 80 marks a timestamp (rowversion): never NULL, read-only.
        const std::uint32_t userType = c.type.rowVersion ? 80 : 0;
        if (tds72())
            m_out.putU32(userType);
        else
            m_out.putU16(std::uint16_t(userType));
        std::uint16_t flags = 0;
        if (c.type.nullable && !c.type.rowVersion)
            flags |= 0x0001;
        if (!c.type.rowVersion)
            flags |= c.type.identity ? 0x0010 : 0x0008;
        m_out.putU16(flags);
        typeInfo(w, c.table);
        const std::u16string name = truncatedUtf16(c.name, 255);
        m_out.putU8(std::uint8_t(name.size()));
        for (char16_t ch : name)
            m_out.putU16(ch);
    }
    m_nullBitmap.assign((cols.size() + 7) / 8, 0);
}

void TokenWriter::browseInfo(const std::vector<Column>& cols) {
    // COLINFO numbers columns and tables in one byte each.
    constexpr std::size_t kMaxNumbered = 255;
    std::vector<std::string> tables;
    Bytes info;
    for (std::size_t i = 0; i < cols.size() && i < kMaxNumbered; ++i) {
        const Column& c = cols[i];
        std::uint8_t tableNo = 0;
        std::uint8_t status = 0x04; // an expression unless it comes from a table
        if (!c.table.empty() && !c.baseColumn.empty()) {
            auto it = std::find(tables.begin(), tables.end(), c.table);
            if (it == tables.end() && tables.size() < kMaxNumbered) {
                tables.push_back(c.table);
                it = tables.end() - 1;
            }
            if (it != tables.end()) {
                tableNo = std::uint8_t(it - tables.begin() + 1);
                status = c.key ? 0x08 : 0x00;
                if (c.baseColumn != c.name)
                    status |= 0x20;
            }
        }
        info.push_back(std::uint8_t(i + 1));
        info.push_back(tableNo);
        info.push_back(status);
        if (status & 0x20) {
            const std::u16string name = truncatedUtf16(c.baseColumn, 255);
            info.push_back(std::uint8_t(name.size()));
            appendUcs2(info, name);
        }
    }
    Bytes names;
    for (const std::string& t : tables) {
        const std::u16string name = truncatedUtf16(t, 32000);
        names.push_back(1); // one part: the table's own name
        putU16(names, std::uint16_t(name.size()));
        appendUcs2(names, name);
    }
    // Without any table there is nothing to name (and an empty TABNAME
    // breaks clients); too large a description is left out as well: the
    // result then reads as having no base table.
    if (tables.empty() || names.size() > 0xFFFF || info.size() > 0xFFFF)
        return;
    m_out.putU8(TokTabName);
    m_out.putU16(std::uint16_t(names.size()));
    m_out.put(names);
    m_out.putU8(TokColInfo);
    m_out.putU16(std::uint16_t(info.size()));
    m_out.put(info);
}

void TokenWriter::row(const std::vector<Value>& values) {
    static const Value kNull{};
    const std::size_t n = m_columns.size();
    bool anyNull = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= values.size() || std::holds_alternative<Null>(values[i])) {
            anyNull = true;
            break;
        }
    }
    if (anyNull && m_version >= kTds73) {
        std::fill(m_nullBitmap.begin(), m_nullBitmap.end(), 0);
        for (std::size_t i = 0; i < n; ++i)
            if (i >= values.size() || std::holds_alternative<Null>(values[i]))
                m_nullBitmap[i / 8] |= std::uint8_t(1u << (i % 8));
        m_out.putU8(TokNbcRow);
        m_out.put(m_nullBitmap.data(), m_nullBitmap.size());
        for (std::size_t i = 0; i < n; ++i)
            if (!(m_nullBitmap[i / 8] & (1u << (i % 8))))
                value(m_columns[i], values[i]);
        return;
    }
    m_out.putU8(TokRow);
    for (std::size_t i = 0; i < n; ++i)
        value(m_columns[i], i < values.size() ? values[i] : kNull);
}

void TokenWriter::done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd,
                       std::uint64_t rowCount) {
    m_out.putU8(kind == DoneKind::Done       ? TokDone
                : kind == DoneKind::DoneProc ? TokDoneProc
                                             : TokDoneInProc);
    m_out.putU16(status);
    m_out.putU16(curCmd);
    if (tds72())
        m_out.putU64(rowCount);
    else
        m_out.putU32(std::uint32_t(rowCount));
}

void TokenWriter::returnStatus(std::int32_t status) {
    m_out.putU8(TokReturnStatus);
    m_out.putU32(std::uint32_t(status));
}

void TokenWriter::returnValue(std::uint16_t ordinal, const std::string& name,
                              const ColumnType& type, const Value& v, bool output) {
    ColumnType t = type;
    // Output parameters of the text types come back as their (max) successors.
    if (tds72()) {
        if (t.type == SqlType::Text)
            t.type = SqlType::VarChar, t.length = -1;
        else if (t.type == SqlType::NText)
            t.type = SqlType::NVarChar, t.length = -1;
        else if (t.type == SqlType::Image)
            t.type = SqlType::VarBinary, t.length = -1;
    }
    const WireColumn w = wireColumn(t, m_version, true);
    m_out.putU8(TokReturnValue);
    m_out.putU16(ordinal);
    const std::u16string n = truncatedUtf16(name, 255);
    m_out.putU8(std::uint8_t(n.size()));
    for (char16_t c : n)
        m_out.putU16(c);
    m_out.putU8(output ? 0x01 : 0x02);
    if (tds72())
        m_out.putU32(0);
    else
        m_out.putU16(0);
    m_out.putU16(0x0001);
    typeInfo(w, std::string());
    value(w, v);
}

// ---- values ----------------------------------------------------------------

void TokenWriter::nullValue(const WireColumn& w) {
    switch (w.kind) {
    case WireColumn::FixedInt:
    case WireColumn::FixedBit:
    case WireColumn::FixedFloat:
    case WireColumn::FixedMoney:
    case WireColumn::FixedDateTime:
        // A NOT NULL column cannot carry NULL in a plain ROW (NBCROW can);
        // before 7.3 the best we can do is zero.
        m_out.fill(0, w.size);
        break;
    case WireColumn::Char:
    case WireColumn::NChar:
    case WireColumn::Binary:
    case WireColumn::DateAsNChar:
    case WireColumn::TimeAsNChar:
        m_out.putU16(0xFFFF);
        break;
    case WireColumn::PlpChar:
    case WireColumn::PlpNChar:
    case WireColumn::PlpBinary:
    case WireColumn::Xml:
    case WireColumn::Udt:
        m_out.putU64(~std::uint64_t(0));
        break;
    case WireColumn::Variant:
        m_out.putU32(0);
        break;
    default:
        m_out.putU8(0);
        break;
    }
}

void TokenWriter::putCp1252(std::string_view s, std::size_t chars) {
    std::uint8_t buf[256];
    std::size_t k = 0;
    std::size_t i = 0;
    for (std::size_t c = 0; c < chars && i < s.size(); ++c) {
        const auto byte = static_cast<unsigned char>(s[i]);
        std::uint8_t out;
        if (byte < 0x80) {
            out = byte;
            ++i;
        } else {
            out = toCp1252(nextCodePoint(s, i));
        }
        buf[k++] = out;
        if (k == sizeof buf) {
            m_out.put(buf, k);
            k = 0;
        }
    }
    m_out.put(buf, k);
}

std::size_t TokenWriter::encodeUcs2(std::string_view s) {
    // Every UTF-8 byte gives at most one code unit (four bytes give two).
    if (m_units.size() < 2 * s.size())
        m_units.resize(2 * s.size());
    std::uint8_t* out = m_units.data();
    std::size_t k = 0;
    for (std::size_t i = 0; i < s.size();) {
        // Eight ASCII characters at a time.
        std::uint64_t word;
        if (i + 8 <= s.size() &&
            (std::memcpy(&word, s.data() + i, 8), (word & 0x8080808080808080ULL) == 0)) {
            for (int b = 0; b < 8; ++b) {
                out[k + 2 * b] = std::uint8_t(s[i + b]);
                out[k + 2 * b + 1] = 0;
            }
            k += 16;
            i += 8;
            continue;
        }
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte < 0x80) {
            out[k++] = byte;
            out[k++] = 0;
            ++i;
            continue;
        }
        // Well-formed two- and three-byte sequences decoded here; anything
        // else (four bytes, malformed input) by the general decoder.
        char32_t cp = 0;
        const auto c1 = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        if (byte >= 0xC2 && byte <= 0xDF && (c1 & 0xC0) == 0x80) {
            cp = char32_t(((byte & 0x1F) << 6) | (c1 & 0x3F));
            i += 2;
        } else if (byte >= 0xE0 && byte <= 0xEF && i + 2 < s.size() && (c1 & 0xC0) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 2]) & 0xC0) == 0x80) {
            cp = char32_t(((byte & 0x0F) << 12) | ((c1 & 0x3F) << 6) |
                          (static_cast<unsigned char>(s[i + 2]) & 0x3F));
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF))
                i += 3;
            else
                cp = nextCodePoint(s, i);
        } else {
            cp = nextCodePoint(s, i);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            const char16_t high = char16_t(0xD800 + (cp >> 10));
            out[k++] = std::uint8_t(high);
            out[k++] = std::uint8_t(high >> 8);
            cp = 0xDC00 + (cp & 0x3FF);
        }
        out[k++] = std::uint8_t(cp);
        out[k++] = std::uint8_t(cp >> 8);
    }
    return k / 2;
}

void TokenWriter::putUcs2(std::string_view s, std::size_t units) {
    const std::size_t encoded = encodeUcs2(s);
    m_out.put(m_units.data(), 2 * std::min(units, encoded));
}

void TokenWriter::textValue(const WireColumn& w, const std::string& s) {
    const bool wide = w.kind == WireColumn::NChar || w.kind == WireColumn::PlpNChar ||
                      w.kind == WireColumn::Xml || w.kind == WireColumn::NText ||
                      w.kind == WireColumn::DateAsNChar || w.kind == WireColumn::TimeAsNChar;
    // The wide form is built once, here; it also gives the length. Code
    // page 1252 agrees with ASCII, so ASCII text goes out as it is.
    const bool ascii = !wide && isAscii(s);
    if (!wide && !ascii && w.codePage != 1252 && w.kind != WireColumn::Xml)
        return codePageTextValue(w, s);
    std::size_t units = wide ? encodeUcs2(s) : ascii ? s.size() : codePointCount(s);
    const std::size_t unitBytes = wide ? 2 : 1;
    std::size_t padUnits = 0;
    if (w.kind == WireColumn::Char || w.kind == WireColumn::NChar ||
        w.kind == WireColumn::DateAsNChar || w.kind == WireColumn::TimeAsNChar) {
        const std::size_t maxUnits = w.maxBytes / unitBytes;
        units = std::min(units, maxUnits);
        if (w.pad)
            padUnits = maxUnits - units;
    }
    const std::size_t bytes = (units + padUnits) * unitBytes;
    auto body = [&] {
        if (wide)
            m_out.put(m_units.data(), 2 * units);
        else if (ascii)
            m_out.put(s.data(), units);
        else
            putCp1252(s, units);
        for (std::size_t k = 0; k < padUnits; ++k) {
            m_out.putU8(' ');
            if (wide)
                m_out.putU8(0);
        }
    };
    switch (w.kind) {
    case WireColumn::Xml: {
        // UTF-16 in chunks of at most kPlpChunk bytes, as SQL Server sends long values.
        m_out.putU64(bytes);
        for (std::size_t at = 0; at < bytes; at += kPlpChunk) {
            const std::size_t n = std::min(kPlpChunk, bytes - at);
            m_out.putU32(std::uint32_t(n));
            m_out.put(m_units.data() + at, n);
        }
        m_out.putU32(0);
        break;
    }
    case WireColumn::PlpChar:
    case WireColumn::PlpNChar:
        m_out.putU64(bytes);
        if (bytes > 0) {
            m_out.putU32(std::uint32_t(bytes));
            body();
        }
        m_out.putU32(0);
        break;
    case WireColumn::Text:
    case WireColumn::NText:
        m_out.putU8(16);
        m_out.put(kTextPtr, 16);
        m_out.put(kTextTimestamp, 8);
        m_out.putU32(std::uint32_t(bytes));
        body();
        break;
    default:
        m_out.putU16(std::uint16_t(bytes));
        body();
        break;
    }
}

namespace {

// The longest start of text in a code page that fits `max` bytes without
// splitting a character: UTF-8 sequences and the two bytes of a DBCS
// character (Japanese, Chinese, Korean) stay whole.
std::size_t fittingBytes(std::string_view s, std::size_t max, int codePage) {
    if (s.size() <= max)
        return s.size();
    if (codePage == sql::kCodePageUtf8) {
        std::size_t n = max;
        while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
            --n;
        return n;
    }
    const bool dbcs = codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
    if (!dbcs)
        return max;
    std::size_t i = 0;
    while (i < max) {
        const auto b = static_cast<unsigned char>(s[i]);
        const bool lead = codePage == 932 ? (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)
                                          : b >= 0x81 && b <= 0xFE;
        const std::size_t step = lead ? 2 : 1;
        if (i + step > max)
            break;
        i += step;
    }
    return i;
}

} // namespace

void TokenWriter::codePageTextValue(const WireColumn& w, const std::string& s) {
    const std::string bytes = sql::encodeCodePage(s, w.codePage);
    std::size_t n = bytes.size();
    std::size_t pad = 0;
    if (w.kind == WireColumn::Char) {
        n = fittingBytes(bytes, w.maxBytes, w.codePage);
        if (w.pad)
            pad = w.maxBytes - n;
    }
    const std::size_t total = n + pad;
    if (w.kind == WireColumn::PlpChar) {
        m_out.putU64(total);
        if (total > 0)
            m_out.putU32(std::uint32_t(total));
    } else if (w.kind == WireColumn::Text) {
        m_out.putU8(16);
        m_out.put(kTextPtr, 16);
        m_out.put(kTextTimestamp, 8);
        m_out.putU32(std::uint32_t(total));
    } else {
        m_out.putU16(std::uint16_t(total));
    }
    m_out.put(bytes.data(), n);
    m_out.fill(' ', pad);
    if (w.kind == WireColumn::PlpChar)
        m_out.putU32(0);
}

void TokenWriter::binaryValue(const WireColumn& w, const std::uint8_t* data, std::size_t n) {
    switch (w.kind) {
    case WireColumn::PlpBinary:
    case WireColumn::Udt:
        m_out.putU64(n);
        if (n > 0) {
            m_out.putU32(std::uint32_t(n));
            m_out.put(data, n);
        }
        m_out.putU32(0);
        break;
    case WireColumn::Image:
        m_out.putU8(16);
        m_out.put(kTextPtr, 16);
        m_out.put(kTextTimestamp, 8);
        m_out.putU32(std::uint32_t(n));
        m_out.put(data, n);
        break;
    default: {
        n = std::min<std::size_t>(n, w.maxBytes);
        const std::size_t total = w.pad ? w.maxBytes : n;
        m_out.putU16(std::uint16_t(total));
        m_out.put(data, n);
        m_out.fill(0, total - n);
        break;
    }
    }
}

void TokenWriter::value(const WireColumn& w, const Value& v) {
    if (std::holds_alternative<Null>(v)) {
        nullValue(w);
        return;
    }
    switch (w.kind) {
    case WireColumn::FixedInt:
    case WireColumn::IntN:
    case WireColumn::FixedBit:
    case WireColumn::BitN:
        return intValue(w, v);
    case WireColumn::FixedFloat:
    case WireColumn::FloatN:
        return floatValue(w, v);
    case WireColumn::FixedMoney:
    case WireColumn::MoneyN:
        return moneyValue(w, v);
    case WireColumn::FixedDateTime:
    case WireColumn::DateTimeN:
        return dateTimeValue(w, v);
    case WireColumn::Date:
        return dateValue(w, v);
    case WireColumn::Time:
        return timeValue(w, v);
    case WireColumn::DateTimeOffset:
    case WireColumn::DateTime2:
        return dateTime2Value(w, v);
    case WireColumn::Decimal:
        return decimalValue(w, v);
    case WireColumn::Char:
    case WireColumn::NChar:
    case WireColumn::PlpChar:
    case WireColumn::PlpNChar:
    case WireColumn::Xml:
    case WireColumn::Text:
    case WireColumn::NText:
        return charValue(w, v);
    case WireColumn::DateAsNChar:
    case WireColumn::TimeAsNChar:
        return dateAsTextValue(w, v);
    case WireColumn::PlpBinary:
    case WireColumn::Image:
    case WireColumn::Binary:
    case WireColumn::Udt:
        return bytesValue(w, v);
    case WireColumn::Guid:
        return guidValue(w, v);
    case WireColumn::Variant:
        return variantValue(w, v);
    }
}

void TokenWriter::intValue(const WireColumn& w, const Value& v) {
    std::int64_t n = valueToInt(v);
    if (w.kind == WireColumn::FixedBit || w.kind == WireColumn::BitN)
        n = n != 0 || valueToDouble(v) != 0.0;
    if (w.kind == WireColumn::IntN || w.kind == WireColumn::BitN)
        m_out.putU8(w.size);
    std::uint8_t b[8];
    for (int k = 0; k < w.size; ++k)
        b[k] = std::uint8_t(std::uint64_t(n) >> (8 * k));
    m_out.put(b, w.size);
}

void TokenWriter::floatValue(const WireColumn& w, const Value& v) {
    const double x = valueToDouble(v);
    if (w.kind == WireColumn::FloatN)
        m_out.putU8(w.size);
    if (w.size == 4) {
        const float f = float(x);
        m_out.put(&f, 4);
    } else {
        m_out.put(&x, 8);
    }
}

void TokenWriter::moneyValue(const WireColumn& w, const Value& v) {
    const auto d = decimalFromValue(v, 4);
    const Int128 limit = w.size == 4 ? Int128(0x80000000u) : (Int128(1) << 63);
    if (!d || d->magnitude > limit - (d->negative ? 0 : 1)) {
        nullValue(w);
        return;
    }
    const std::int64_t m =
        d->negative ? -std::int64_t(d->magnitude - 1) - 1 : std::int64_t(d->magnitude);
    if (w.kind == WireColumn::MoneyN)
        m_out.putU8(w.size);
    if (w.size == 4) {
        m_out.putU32(std::uint32_t(std::int32_t(m)));
    } else {
        m_out.putU32(std::uint32_t(std::uint64_t(m) >> 32));
        m_out.putU32(std::uint32_t(std::uint64_t(m)));
    }
}

void TokenWriter::dateTimeValue(const WireColumn& w, const Value& v) {
    const auto dt = valueToDateTime(v);
    if (!dt) {
        nullValue(w);
        return;
    }
    if (w.kind == WireColumn::DateTimeN)
        m_out.putU8(w.size);
    if (w.size == 8) {
        const LegacyDateTime l = toLegacyDateTime(*dt);
        m_out.putU32(std::uint32_t(l.days));
        m_out.putU32(l.ticks300);
    } else {
        const SmallDateTime s = toSmallDateTime(*dt);
        m_out.putU16(s.days);
        m_out.putU16(s.minutes);
    }
}

void TokenWriter::dateValue(const WireColumn& w, const Value& v) {
    const auto dt = valueToDateTime(v);
    if (!dt) {
        nullValue(w);
        return;
    }
    const std::int64_t days = dt->hasDate ? dt->days : kDays1900;
    const std::uint8_t b[4] = {3, std::uint8_t(days), std::uint8_t(days >> 8),
                               std::uint8_t(days >> 16)};
    m_out.put(b, 4);
}

void TokenWriter::timeValue(const WireColumn& w, const Value& v) {
    const auto dt = valueToDateTime(v);
    if (!dt) {
        nullValue(w);
        return;
    }
    std::int64_t div = 1;
    for (int k = w.scale; k < 7; ++k)
        div *= 10;
    std::int64_t units = (dt->ticks + div / 2) / div;
    const std::int64_t maxUnits = 864'000'000'000LL / div - 1;
    units = std::min(units, maxUnits);
    m_out.putU8(w.size);
    std::uint8_t b[5];
    for (int k = 0; k < w.size; ++k)
        b[k] = std::uint8_t(std::uint64_t(units) >> (8 * k));
    m_out.put(b, w.size);
}

// Time in units of the scale, then days since 0001-01-01.
// datetime2: time in units of the scale, then days since 0001-01-01.
// datetimeoffset: the same in UTC, then the offset in minutes.
void TokenWriter::dateTime2Value(const WireColumn& w, const Value& v) {
    const bool offset = w.kind == WireColumn::DateTimeOffset;
    const auto dt = valueToDateTime(v);
    if (!dt || (offset && !dt->hasDate)) {
        nullValue(w);
        return;
    }
    constexpr std::int64_t dayTicks = 864'000'000'000LL;
    std::int64_t div = 1;
    for (int k = w.scale; k < 7; ++k)
        div *= 10;
    // A value rounded past midnight belongs to the next day.
    std::int64_t all =
        (dt->hasDate ? dt->days : kDays1900) * dayTicks + (dt->ticks + div / 2) / div * div;
    if (offset)
        all -= std::int64_t(dt->offsetMinutes) * 600'000'000LL;
    const std::int64_t days = all / dayTicks;
    const std::int64_t units = all % dayTicks / div;
    const int timeBytes = w.size - (offset ? 5 : 3);
    std::uint8_t b[16];
    b[0] = w.size;
    for (int k = 0; k < timeBytes; ++k)
        b[1 + k] = std::uint8_t(std::uint64_t(units) >> (8 * k));
    for (int k = 0; k < 3; ++k)
        b[1 + timeBytes + k] = std::uint8_t(std::uint64_t(days) >> (8 * k));
    if (offset) {
        b[4 + timeBytes] = std::uint8_t(std::uint16_t(dt->offsetMinutes));
        b[5 + timeBytes] = std::uint8_t(std::uint16_t(dt->offsetMinutes) >> 8);
    }
    m_out.put(b, std::size_t(w.size) + 1);
}

void TokenWriter::decimalValue(const WireColumn& w, const Value& v) {
    const auto d = decimalFromValue(v, w.scale);
    if (!d) {
        nullValue(w);
        return;
    }
    // A value wider than the declared precision still goes out whole, in
    // the size its digits need, rather than being cut.
    const std::uint8_t size = std::max(w.size, decimalSize(decimalDigits(d->magnitude)));
    m_out.putU8(size);
    m_out.putU8(d->negative ? 0 : 1);
    std::uint8_t b[16];
    Int128 m = d->magnitude;
    for (int k = 0; k < size - 1; ++k) {
        b[k] = std::uint8_t(m);
        m >>= 8;
    }
    m_out.put(b, size - 1u);
}

void TokenWriter::charValue(const WireColumn& w, const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) {
        textValue(w, *s);
    } else if (const auto* b = std::get_if<Blob>(&v)) {
        textValue(w, std::string(b->begin(), b->end()));
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
        textValue(w, std::to_string(*i));
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", std::get<double>(v));
        textValue(w, buf);
    }
}

void TokenWriter::dateAsTextValue(const WireColumn& w, const Value& v) {
    const auto dt = valueToDateTime(v);
    if (!dt) {
        nullValue(w);
        return;
    }
    textValue(w,
              w.kind == WireColumn::DateAsNChar ? formatDate(dt->days) : formatTime(dt->ticks, 7));
}

void TokenWriter::bytesValue(const WireColumn& w, const Value& v) {
    if (const auto* b = std::get_if<Blob>(&v)) {
        binaryValue(w, b->data(), b->size());
    } else if (const auto* s = std::get_if<std::string>(&v)) {
        binaryValue(w, reinterpret_cast<const std::uint8_t*>(s->data()), s->size());
    } else {
        // Numbers convert to their big-endian bytes, as CAST(n AS binary) does.
        const std::int64_t n = valueToInt(v);
        std::uint8_t b[8];
        for (int k = 0; k < 8; ++k)
            b[k] = std::uint8_t(std::uint64_t(n) >> (8 * (7 - k)));
        binaryValue(w, b, 8);
    }
}

void TokenWriter::guidValue(const WireColumn& w, const Value& v) {
    std::uint8_t g[16];
    const auto* s = std::get_if<std::string>(&v);
    const auto* b = std::get_if<Blob>(&v);
    if (s && parseGuid(*s, g)) {
        m_out.putU8(16);
        m_out.put(g, 16);
    } else if (b && b->size() == 16) {
        m_out.putU8(16);
        m_out.put(b->data(), 16);
    } else {
        nullValue(w);
    }
}

void TokenWriter::variantValue(const WireColumn&, const Value& v) {
    const Bytes body = variantBytes(v);
    m_out.putU32(std::uint32_t(body.size()));
    m_out.put(body);
}

namespace {

void putLe(Bytes& b, std::uint64_t x, int n) {
    for (int k = 0; k < n; ++k)
        b.push_back(std::uint8_t(x >> (8 * k)));
}

// Time of day in units of 10^-scale s and the day, rounded as SQL Server does
// (a value rounded past midnight belongs to the next day); UTC for an offset.
std::pair<std::int64_t, std::int64_t> timeAndDay(const DateTimeValue& dt, int scale, bool utc) {
    constexpr std::int64_t dayTicks = 864'000'000'000LL;
    std::int64_t div = 1;
    for (int k = scale; k < 7; ++k)
        div *= 10;
    std::int64_t all =
        (dt.hasDate ? dt.days : kDays1900) * dayTicks + (dt.ticks + div / 2) / div * div;
    if (utc)
        all -= std::int64_t(dt.offsetMinutes) * 600'000'000LL;
    return {all % dayTicks / div, all / dayTicks};
}

int timeBytes(int scale) {
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

} // namespace

Bytes variantBytes(const Value& stored) {
    if (std::holds_alternative<Null>(stored))
        return {};
    const VariantValue v = variantOf(stored);
    const ColumnType& t = v.base;
    Bytes b;
    auto head = [&](std::uint8_t type, std::initializer_list<std::uint8_t> props) {
        b.push_back(type);
        b.push_back(std::uint8_t(props.size()));
        b.insert(b.end(), props.begin(), props.end());
    };
    const auto dt = valueToDateTime(v.value);
    switch (t.type) {
    case SqlType::Int:
        head(0x38, {});
        putLe(b, std::uint64_t(valueToInt(v.value)), 4);
        break;
    case SqlType::BigInt:
        head(0x7F, {});
        putLe(b, std::uint64_t(valueToInt(v.value)), 8);
        break;
    case SqlType::SmallInt:
        head(0x34, {});
        putLe(b, std::uint64_t(valueToInt(v.value)), 2);
        break;
    case SqlType::TinyInt:
        head(0x30, {});
        putLe(b, std::uint64_t(valueToInt(v.value)), 1);
        break;
    case SqlType::Bit:
        head(0x32, {});
        b.push_back(valueToInt(v.value) != 0 ? 1 : 0);
        break;
    case SqlType::Float: {
        head(0x3E, {});
        const double x = valueToDouble(v.value);
        std::uint64_t bits;
        std::memcpy(&bits, &x, 8);
        putLe(b, bits, 8);
        break;
    }
    case SqlType::Real: {
        head(0x3B, {});
        const float x = float(valueToDouble(v.value));
        std::uint32_t bits;
        std::memcpy(&bits, &x, 4);
        putLe(b, bits, 4);
        break;
    }
    case SqlType::Money:
    case SqlType::SmallMoney: {
        const auto d = decimalFromValue(v.value, 4);
        if (!d)
            return {};
        const std::int64_t m =
            d->negative ? -std::int64_t(d->magnitude) : std::int64_t(d->magnitude);
        if (t.type == SqlType::SmallMoney) {
            head(0x7A, {});
            putLe(b, std::uint64_t(m), 4);
        } else {
            // money: the high four bytes first, each half little-endian.
            head(0x3C, {});
            putLe(b, std::uint64_t(m) >> 32, 4);
            putLe(b, std::uint64_t(m), 4);
        }
        break;
    }
    case SqlType::Decimal: {
        const auto d = decimalFromValue(v.value, t.scale);
        if (!d)
            return {};
        const int p = std::max(t.precision, decimalDigits(d->magnitude));
        head(v.numeric ? 0x6C : 0x6A, {std::uint8_t(std::min(p, 38)), std::uint8_t(t.scale)});
        b.push_back(d->negative ? 0 : 1);
        Int128 m = d->magnitude;
        const int n = p <= 9 ? 4 : p <= 19 ? 8 : p <= 28 ? 12 : 16;
        for (int k = 0; k < n; ++k, m >>= 8)
            b.push_back(std::uint8_t(m));
        break;
    }
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
        if (!dt)
            return {};
        if (t.type == SqlType::DateTime) {
            const LegacyDateTime l = toLegacyDateTime(*dt);
            head(0x3D, {});
            putLe(b, std::uint32_t(l.days), 4);
            putLe(b, l.ticks300, 4);
        } else {
            const SmallDateTime s = toSmallDateTime(*dt);
            head(0x3A, {});
            putLe(b, s.days, 2);
            putLe(b, s.minutes, 2);
        }
        break;
    case SqlType::Date:
        if (!dt)
            return {};
        head(0x28, {});
        putLe(b, std::uint64_t(dt->hasDate ? dt->days : kDays1900), 3);
        break;
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset: {
        const bool offset = t.type == SqlType::DateTimeOffset;
        if (!dt || (offset && !dt->hasDate))
            return {};
        const auto [units, day] = timeAndDay(*dt, t.scale, offset);
        head(t.type == SqlType::Time ? 0x29 : offset ? 0x2B : 0x2A, {std::uint8_t(t.scale)});
        putLe(b, std::uint64_t(units), timeBytes(t.scale));
        if (t.type != SqlType::Time)
            putLe(b, std::uint64_t(day), 3);
        if (offset)
            putLe(b, std::uint16_t(dt->offsetMinutes), 2);
        break;
    }
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar: {
        const sql::Collation* c = sql::findCollation(t.collation);
        const sql::Collation& coll = c ? *c : sql::defaultCollation();
        const auto cb = coll.bytes();
        const bool national = t.type == SqlType::NChar || t.type == SqlType::NVarChar;
        const int maxBytes = national ? 2 * t.length : t.length;
        head(t.type == SqlType::Char      ? 0xAF
             : t.type == SqlType::VarChar ? 0xA7
             : t.type == SqlType::NChar   ? 0xEF
                                          : 0xE7,
             {cb[0], cb[1], cb[2], cb[3], cb[4], std::uint8_t(maxBytes),
              std::uint8_t(maxBytes >> 8)});
        const std::string* s = std::get_if<std::string>(&v.value);
        const std::string text = s ? *s : std::string();
        if (national) {
            appendUcs2(b, text);
        } else {
            const std::string bytes = sql::encodeCodePage(text, coll.codePage);
            b.insert(b.end(), bytes.begin(), bytes.end());
        }
        break;
    }
    case SqlType::Binary:
    case SqlType::VarBinary: {
        head(t.type == SqlType::Binary ? 0xAD : 0xA5,
             {std::uint8_t(t.length), std::uint8_t(t.length >> 8)});
        if (const auto* bytes = std::get_if<Blob>(&v.value))
            b.insert(b.end(), bytes->begin(), bytes->end());
        break;
    }
    case SqlType::UniqueIdentifier: {
        std::uint8_t g[16];
        const auto* s = std::get_if<std::string>(&v.value);
        if (!s || !parseGuid(*s, g))
            return {};
        head(0x24, {});
        b.insert(b.end(), g, g + 16);
        break;
    }
    default:
        return {};
    }
    // A value holds at most 8000 bytes after its type and properties.
    if (b.size() > 8000u + 2 + b[1])
        b.resize(8000u + 2 + b[1]);
    return b;
}

} // namespace tds
