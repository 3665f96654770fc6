#pragma once
// The reply tokens of a TDS 7.x server, one sender function per token. Values
// arrive in the engine's SQLite model and are converted to the wire form of
// their column's SQL Server type here.

#include "testserver/engine/engine.h"
#include "testserver/packet.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tds {

// TDS versions as LOGIN7 carries them (little-endian field).
constexpr std::uint32_t kTds71 = 0x71000001;
constexpr std::uint32_t kTds72 = 0x72090002;
constexpr std::uint32_t kTds73 = 0x730B0003;
constexpr std::uint32_t kTds74 = 0x74000004;

// The collation every character column and ENVCHANGE 7 carries:
// Latin1_General (LCID 0x0409), case-insensitive, sort id 52 = code page 1252.
constexpr std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// LOGIN7 feature extension: the client takes UTF-8 collations.
constexpr std::uint8_t kFeatureUtf8Support = 0x0A;

enum EnvChangeType : std::uint8_t {
    EnvDatabase = 1,
    EnvLanguage = 2,
    EnvPacketSize = 4,
    EnvCollation = 7,
    EnvBeginTran = 8,
    EnvCommitTran = 9,
    EnvRollbackTran = 10,
};

// How one column travels: the wire type chosen for its SQL type and the
// negotiated TDS version, computed once per result set.
struct WireColumn {
    enum Kind : std::uint8_t {
        FixedInt,
        IntN,
        FixedBit,
        BitN,
        FixedFloat,
        FloatN,
        FixedMoney,
        MoneyN,
        FixedDateTime,
        DateTimeN,
        Date,
        Time,
        Decimal,
        Char,
        NChar,
        PlpChar,
        PlpNChar,
        PlpBinary,
        Text,
        NText,
        Image,
        Binary,
        Guid,
        Variant,
        DateAsNChar,
        TimeAsNChar,
        DateTimeOffset,
        DateTime2,
        Xml,
        Udt, // a CLR type: UDT_INFO, PLP bytes
    };
    Kind kind = NChar;
    std::uint8_t code = 0; // TDS type byte
    std::uint8_t size = 0; // value bytes of fixed-size types
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    bool pad = false;           // char(n) / nchar(n) / binary(n)
    std::uint32_t maxBytes = 0; // declared size in bytes of variable types
    UdtKind udt = UdtKind::None;
    // Character types: the collation's five bytes, and the code page that
    // char/varchar/text values travel in.
    std::array<std::uint8_t, 5> collation = {kCollation[0], kCollation[1], kCollation[2],
                                             kCollation[3], kCollation[4]};
    int codePage = 1252;
};

WireColumn wireColumn(const ColumnType& type, std::uint32_t tdsVersion, bool forceNullable);

// A sql_variant value on the wire after its four-byte length: base type byte,
// property byte count, the properties of that type, the value (empty for NULL
// or a value its type cannot encode, which goes out as NULL).
Bytes variantBytes(const Value& stored);

class TokenWriter {
public:
    TokenWriter(PacketWriter& out, std::uint32_t tdsVersion = kTds74);

    void setTdsVersion(std::uint32_t v) { m_version = v; }
    std::uint32_t tdsVersion() const { return m_version; }
    void setServerName(std::string name) { m_serverName = std::move(name); }
    PacketWriter& out() { return m_out; }

    void loginAck(const std::string& progName, const std::uint8_t progVersion[4]);
    // FEATUREEXTACK: the features of the client's login the server takes,
    // each with its acknowledgement data.
    void featureExtAck(const std::vector<std::pair<std::uint8_t, Bytes>>& features);
    // SSPI: a security token for the client during an integrated login.
    void sspi(const Bytes& token);
    void envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
    void envChangeBytes(std::uint8_t type, const Bytes& newValue, const Bytes& oldValue);
    void message(const Message& m);
    void colMetadata(const std::vector<Column>& cols);
    // TABNAME and COLINFO for the columns of the last colMetadata: the
    // tables they come from, each column's table and base name, key and
    // expression flags.
    void browseInfo(const std::vector<Column>& cols);
    // A row of the last colMetadata; NBCROW when it has NULLs.
    void row(const std::vector<Value>& values);
    void done(DoneKind kind, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
    void returnStatus(std::int32_t status);
    void returnValue(std::uint16_t ordinal, const std::string& name, const ColumnType& type,
                     const Value& value, bool output);

    // TYPE_INFO and one value (exposed for tests and for RETURNVALUE).
    void typeInfo(const WireColumn& w, const std::string& table);
    void value(const WireColumn& w, const Value& v);

private:
    void bVarchar(Bytes& b, const std::string& s);
    void usVarchar(Bytes& b, const std::string& s);
    void nullValue(const WireColumn& w);
    // One writer per family of wire types, for a value that is not NULL.
    void intValue(const WireColumn& w, const Value& v);
    void floatValue(const WireColumn& w, const Value& v);
    void moneyValue(const WireColumn& w, const Value& v);
    void dateTimeValue(const WireColumn& w, const Value& v);
    void dateValue(const WireColumn& w, const Value& v);
    void timeValue(const WireColumn& w, const Value& v);
    // datetime2 and datetimeoffset.
    void dateTime2Value(const WireColumn& w, const Value& v);
    void decimalValue(const WireColumn& w, const Value& v);
    void charValue(const WireColumn& w, const Value& v);
    void dateAsTextValue(const WireColumn& w, const Value& v);
    void bytesValue(const WireColumn& w, const Value& v);
    void guidValue(const WireColumn& w, const Value& v);
    void variantValue(const WireColumn& w, const Value& v);
    void textValue(const WireColumn& w, const std::string& s);
    void binaryValue(const WireColumn& w, const std::uint8_t* data, std::size_t n);
    void putUcs2(std::string_view s, std::size_t units);
    // UTF-8 to UTF-16LE in m_units; returns the code units.
    std::size_t encodeUcs2(std::string_view s);
    void putCp1252(std::string_view s, std::size_t chars);
    // A value of a char/varchar/text column whose code page is not 1252.
    void codePageTextValue(const WireColumn& w, const std::string& s);
    bool tds72() const { return m_version >= kTds72; }

    PacketWriter& m_out;
    std::string m_database; // the last ENVCHANGE database: UDT_INFO's DB_NAME
    std::uint32_t m_version;
    std::string m_serverName;
    std::vector<WireColumn> m_columns;
    Bytes m_scratch;
    std::vector<std::uint8_t> m_units; // a value's UTF-16LE bytes
    std::vector<std::uint8_t> m_nullBitmap;
};

} // namespace tds
