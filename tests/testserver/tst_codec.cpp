// The reply encoder byte for byte: packets over a socket pair, every token,
// every column type, and the DONE bookkeeping of the reply sink.

#include "tests/testserver/raw_client.h"
#include "testserver/engine/variant.h"
#include "testserver/reply_sink.h"
#include "testserver/tokens.h"
#include "testserver/values.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

using namespace tds;

namespace {

// A PacketWriter on one end of a socket pair; bytes() returns what arrived.
class Wire {
public:
    Wire(std::size_t packetSize = 4096) {
        socketpair(AF_UNIX, SOCK_STREAM, 0, m_fds);
        const int big = 1 << 20;
        setsockopt(m_fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
        m_writer = std::make_unique<PacketWriter>(m_fds[0], packetSize);
    }
    ~Wire() {
        close(m_fds[0]);
        close(m_fds[1]);
    }
    PacketWriter& writer() { return *m_writer; }
    Bytes bytes() {
        Bytes out;
        std::uint8_t buf[65536];
        for (;;) {
            const ssize_t n = recv(m_fds[1], buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    // The payload of the single message that arrived (headers removed).
    Bytes payload() {
        const Bytes raw = bytes();
        const std::vector<InMessage> msgs = splitMessages(raw);
        EXPECT_EQ(msgs.size(), 1u) << toHex(raw);
        return msgs.empty() ? Bytes{} : msgs[0].payload;
    }

private:
    int m_fds[2];
    std::unique_ptr<PacketWriter> m_writer;
};

TEST(PacketWriter, SplitsAtThePacketSizeWithHeaders) {
    Wire w(512);
    w.writer().setSpid(0x1234);
    Bytes body(1200);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = std::uint8_t(i);
    w.writer().put(body);
    w.writer().endMessage();
    const Bytes raw = w.bytes();
    // 504 + 504 + 192 payload bytes.
    ASSERT_EQ(raw.size(), 1200u + 3 * 8);
    const std::size_t starts[] = {0, 512, 1024};
    const std::size_t lens[] = {512, 512, 200};
    for (int k = 0; k < 3; ++k) {
        const std::uint8_t* h = raw.data() + starts[k];
        EXPECT_EQ(h[0], 0x04);
        EXPECT_EQ(h[1], k == 2 ? 0x01 : 0x00) << k;
        EXPECT_EQ(std::size_t((h[2] << 8) | h[3]), lens[k]);
        EXPECT_EQ(h[4], 0x12);
        EXPECT_EQ(h[5], 0x34);
        EXPECT_EQ(h[6], k + 1);
    }
    const auto msgs = splitMessages(raw);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].payload, body);
}

TEST(PacketWriter, FlushSendsAShortPacketAndTheMessageGoesOn) {
    Wire w(512);
    w.writer().flush(); // nothing buffered: nothing sent
    w.writer().fill(0x11, 10);
    w.writer().flush();
    w.writer().fill(0x22, 5);
    w.writer().endMessage();
    const Bytes raw = w.bytes();
    ASSERT_EQ(raw.size(), 10u + 5 + 2 * 8);
    EXPECT_EQ(raw[1], 0x00); // more follows
    EXPECT_EQ((raw[2] << 8) | raw[3], 18);
    EXPECT_EQ(raw[6], 1);
    EXPECT_EQ(raw[18 + 1], 0x01); // EOM
    EXPECT_EQ(raw[18 + 6], 2);
    const auto msgs = splitMessages(raw);
    ASSERT_EQ(msgs.size(), 1u);
    Bytes expected(10, 0x11);
    expected.insert(expected.end(), 5, 0x22);
    EXPECT_EQ(msgs[0].payload, expected);
}

TEST(PacketWriter, EmptyMessageSendsNothingAndFailureIsSticky) {
    Wire w;
    w.writer().endMessage();
    EXPECT_TRUE(w.bytes().empty());

    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    close(fds[1]);
    PacketWriter dead(fds[0], 512);
    dead.fill(0xAB, 2000);
    dead.endMessage();
    EXPECT_TRUE(dead.failed());
    EXPECT_FALSE(dead.error().empty());
    close(fds[0]);
}

TEST(PacketReader, RejectsMalformedStreams) {
    const Bytes bad[] = {
        hexBytes("01 01 00 04 00 00 01 00"),       // length below the header
        hexBytes("01 01 00 20 00 00 01 00 41 00"), // stream ends inside the packet
        hexBytes("01 00 00 0A 00 00 01 00 41 00 03 01 00 0A 00 00 02 00 42 00"), // type changes
    };
    for (const Bytes& b : bad)
        EXPECT_THROW(splitMessages(b), ProtocolError) << toHex(b);
    // A message may not grow beyond the configured limit.
    Bytes big;
    for (int k = 0; k < 3; ++k) {
        const Bytes p = hexBytes("01 00 10 00 00 00 01 00");
        big.insert(big.end(), p.begin(), p.end());
        big.insert(big.end(), 0x1000 - 8, 0);
    }
    EXPECT_THROW(splitMessages(big, 8000), ProtocolError);
}

TEST(Tokens, LoginResponseByteForByte) {
    Wire w;
    TokenWriter t(w.writer());
    t.setServerName("S");
    t.envChange(EnvDatabase, "db", "master");
    Message info;
    info.number = 5701;
    info.state = 2;
    info.text = "ok";
    t.message(info);
    t.envChangeBytes(EnvCollation, Bytes(kCollation, kCollation + 5), {});
    const std::uint8_t version[4] = {9, 0, 0x05, 0x77};
    t.loginAck("SQL", version);
    t.envChange(EnvPacketSize, "4096", "4096");
    t.done(DoneKind::Done, DoneFinal, 0, 0);
    w.writer().endMessage();
    const Bytes expected = hexBytes(
        // ENVCHANGE database: len 0x13, type 1, "db", "master"
        "E3 13 00 01 02 64 00 62 00 06 6D 00 61 00 73 00 74 00 65 00 72 00"
        // INFO 5701, state 2, class 0, "ok", server "S", proc "", line 1
        "AB 14 00 45 16 00 00 02 00 02 00 6F 00 6B 00 01 53 00 00 01 00 00 00"
        // ENVCHANGE collation
        "E3 08 00 07 05 09 04 D0 00 34 00"
        // LOGINACK: interface 1, TDS 7.4 big-endian, "SQL", 9.0.1399
        "AD 10 00 01 74 00 00 04 03 53 00 51 00 4C 00 09 00 05 77"
        // ENVCHANGE packet size
        "E3 13 00 04 04 34 00 30 00 39 00 36 00 04 34 00 30 00 39 00 36 00"
        "FD 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(toHex(w.payload()), toHex(expected));
}

TEST(Tokens, ErrorDoneReturnStatusAndDoneKinds) {
    Wire w;
    TokenWriter t(w.writer());
    Message e;
    e.error = true;
    e.number = 208;
    e.severity = 16;
    e.text = "x";
    e.procName = "p";
    e.line = 3;
    t.message(e);
    t.done(DoneKind::DoneInProc, DoneMore | DoneCount, 0xC1, 2);
    t.returnStatus(-6);
    t.done(DoneKind::DoneProc, DoneError, 0xE0, 0);
    w.writer().endMessage();
    const Bytes expected = hexBytes("AA 12 00 D0 00 00 00 01 10 01 00 78 00 00 01 70 00 03 00 00 00"
                                    "FF 11 00 C1 00 02 00 00 00 00 00 00 00"
                                    "79 FA FF FF FF"
                                    "FE 02 00 E0 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(toHex(w.payload()), toHex(expected));
}

struct TypeCase {
    const char* name;
    ColumnType type;
    Value value;
    std::string typeInfo; // TYPE_INFO bytes
    std::string data;     // value bytes in a ROW
};

ColumnType ct(SqlType t, bool nullable = true, int length = 0, int precision = 0, int scale = 0) {
    ColumnType c;
    c.type = t;
    c.nullable = nullable;
    c.length = length;
    c.precision = precision;
    c.scale = scale;
    return c;
}

const char* const kColl = "09 04 D0 00 34";
const char* const kTextPtr = "10 74 65 78 74 70 74 72 00 00 00 00 00 00 00 00 01"
                             " 00 00 00 00 00 00 00 01";

std::string cat(std::initializer_list<std::string> parts) {
    std::string s;
    for (const auto& p : parts)
        s += p + " ";
    return s;
}

class ColumnTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ColumnTypes, MetadataAndValueBytes) {
    const TypeCase& c = GetParam();
    Wire w;
    TokenWriter t(w.writer());
    Column col;
    col.name = "c";
    col.type = c.type;
    t.colMetadata({col});
    t.row({c.value});
    w.writer().endMessage();
    const std::string flags = c.type.nullable ? "09 00" : "08 00";
    const bool isNull = std::holds_alternative<Null>(c.value);
    // A NULL goes out as NBCROW with the bit set and no value bytes.
    const std::string row = isNull ? "D2 01" : cat({"D1", c.data});
    const Bytes expected =
        hexBytes(cat({"81 01 00 00 00 00 00", flags, c.typeInfo, "01 63 00", row}));
    EXPECT_EQ(toHex(w.payload()), toHex(expected)) << c.name;

    // The NULL encoding a plain ROW would use for this type.
    if (isNull) {
        Wire w2;
        TokenWriter t2(w2.writer());
        t2.value(wireColumn(c.type, kTds74, false), c.value);
        w2.writer().endMessage();
        EXPECT_EQ(toHex(w2.payload()), toHex(hexBytes(c.data))) << c.name;
    }
}

const TypeCase kTypeCases[] = {
    {"int null", ct(SqlType::Int), std::int64_t(-123456), "26 04", "04 C0 1D FE FF"},
    {"int", ct(SqlType::Int, false), std::int64_t(42), "38", "2A 00 00 00"},
    {"bigint", ct(SqlType::BigInt, false), std::int64_t(9007199254740993), "7F",
     "01 00 00 00 00 00 20 00"},
    {"smallint", ct(SqlType::SmallInt, false), std::int64_t(-7), "34", "F9 FF"},
    {"tinyint", ct(SqlType::TinyInt, false), std::int64_t(255), "30", "FF"},
    {"tinyint null", ct(SqlType::TinyInt), std::int64_t(3), "26 01", "01 03"},
    {"bit", ct(SqlType::Bit), std::int64_t(1), "68 01", "01 01"},
    {"bit from text", ct(SqlType::Bit, false), std::string("1"), "32", "01"},
    {"float", ct(SqlType::Float), 3.25, "6D 08", "08 00 00 00 00 00 00 0A 40"},
    {"real", ct(SqlType::Real), 1.5, "6D 04", "04 00 00 C0 3F"},
    {"float not null from int", ct(SqlType::Float, false), std::int64_t(-2), "3E",
     "00 00 00 00 00 00 00 C0"},
    {"money", ct(SqlType::Money), std::string("123.4567"), "6E 08", "08 00 00 00 00 87 D6 12 00"},
    {"money negative real", ct(SqlType::Money), -123.4567, "6E 08", "08 FF FF FF FF 79 29 ED FF"},
    {"smallmoney", ct(SqlType::SmallMoney), 2.5, "6E 04", "04 A8 61 00 00"},
    {"money not null", ct(SqlType::Money, false), std::int64_t(1), "3C", "00 00 00 00 10 27 00 00"},
    {"decimal(18,4)", ct(SqlType::Decimal, true, 0, 18, 4), std::string("-1234.5678"),
     "6A 09 12 04", "09 00 4E 61 BC 00 00 00 00 00"},
    {"decimal(5,2) from int", ct(SqlType::Decimal, true, 0, 5, 2), std::int64_t(999), "6A 05 05 02",
     "05 01 3C 86 01 00"},
    {"decimal rounds", ct(SqlType::Decimal, true, 0, 9, 2), std::string("999.985"), "6A 05 09 02",
     "05 01 9F 86 01 00"},
    {"datetime", ct(SqlType::DateTime), std::string("2024-02-29 13:14:15.500"), "6F 08",
     "08 25 B1 00 00 4A 26 DA 00"},
    {"datetimeoffset goes out in UTC", ct(SqlType::DateTimeOffset),
     std::string("2024-02-29 15:53:36 +02:00"), "2B 00", "08 60 C3 00 80 46 0B 78 00"},
    {"datetime not null", ct(SqlType::DateTime, false), std::string("2024-02-29 13:14:15.5"), "3D",
     "25 B1 00 00 4A 26 DA 00"},
    {"datetime last moment", ct(SqlType::DateTime), std::string("9999-12-31 23:59:59.997"), "6F 08",
     "08 7F 24 2D 00 FF 81 8B 01"},
    {"smalldatetime", ct(SqlType::SmallDateTime), std::string("2024-02-29 13:14:00"), "6F 04",
     "04 25 B1 1A 03"},
    {"date", ct(SqlType::Date), std::string("2024-02-29"), "28", "03 80 46 0B"},
    {"time(7)", ct(SqlType::Time, true, 0, 0, 7), std::string("13:14:15.1234567"), "29 07",
     "05 07 C4 AA F4 6E"},
    {"datetime2(7) keeps the seventh digit", ct(SqlType::DateTime2, true, 0, 0, 7),
     std::string("2024-02-29 13:14:15.1234567"), "2A 07", "08 07 C4 AA F4 6E 80 46 0B"},
    {"datetime2(0) rounds half up", ct(SqlType::DateTime2, true, 0, 0, 0),
     std::string("2024-02-29 13:14:15.5"), "2A 00", "06 28 BA 00 80 46 0B"},
    {"datetime2(3) first day", ct(SqlType::DateTime2, true, 0, 0, 3), std::string("0001-01-01"),
     "2A 03", "07 00 00 00 00 00 00 00"},
    {"datetime2 last moment", ct(SqlType::DateTime2, true, 0, 0, 7),
     std::string("9999-12-31 23:59:59.9999999"), "2A 07", "08 FF BF 69 2A C9 DA B9 37"},
    {"datetime2 null", ct(SqlType::DateTime2, true, 0, 0, 7), Null{}, "2A 07", "00"},
    {"time(0) not past midnight", ct(SqlType::Time, true, 0, 0, 0), std::string("23:59:59"),
     "29 00", "03 7F 51 01"},
    {"datetimeoffset(7) keeps the offset", ct(SqlType::DateTimeOffset, true, 0, 0, 7),
     std::string("2024-02-29 13:14:15.1234567 -05:30"), "2B 07",
     "0A 07 00 63 0E 9D 80 46 0B B6 FE"},
    {"xml", ct(SqlType::Xml, true, -1), std::string("<a/>"), "F1 00",
     "08 00 00 00 00 00 00 00 08 00 00 00 3C 00 61 00 2F 00 3E 00 00 00 00 00"},
    {"xml null", ct(SqlType::Xml, true, -1), Null{}, "F1 00", "FF FF FF FF FF FF FF FF"},
    {"varchar cp1252", ct(SqlType::VarChar, true, 10),
     std::string("ab\xC3\xA9"
                 "cd"),
     cat({"A7 0A 00", kColl}), "05 00 61 62 E9 63 64"},
    {"varchar euro and unknown", ct(SqlType::VarChar, true, 10),
     std::string("\xE2\x82\xAC\xE4\xB8\xAD"), cat({"A7 0A 00", kColl}), "02 00 80 3F"},
    {"char pads", ct(SqlType::Char, false, 5), std::string("xy"), cat({"AF 05 00", kColl}),
     "05 00 78 79 20 20 20"},
    {"varchar truncates", ct(SqlType::VarChar, true, 3), std::string("abcdef"),
     cat({"A7 03 00", kColl}), "03 00 61 62 63"},
    {"nvarchar", ct(SqlType::NVarChar, true, 10), std::string("h\xC3\xA9\xE2\x82\xAC!"),
     cat({"E7 14 00", kColl}), "08 00 68 00 E9 00 AC 20 21 00"},
    {"nvarchar surrogate", ct(SqlType::NVarChar, true, 10), std::string("\xF0\x9F\x98\x80"),
     cat({"E7 14 00", kColl}), "04 00 3D D8 00 DE"},
    {"nchar pads", ct(SqlType::NChar, true, 3), std::string("a"), cat({"EF 06 00", kColl}),
     "06 00 61 00 20 00 20 00"},
    {"nvarchar ascii runs", ct(SqlType::NVarChar, true, 20),
     std::string("abcdefghij\xC3\xA9klmnopq"), cat({"E7 28 00", kColl}),
     "24 00 61 00 62 00 63 00 64 00 65 00 66 00 67 00 68 00 69 00 6A 00 E9 00 6B 00 6C 00 6D 00 6E "
     "00 "
     "6F 00 70 00 71 00"},
    {"nchar cuts a pair", ct(SqlType::NChar, true, 2), std::string("a\xF0\x9F\x98\x80"),
     cat({"EF 04 00", kColl}), "04 00 61 00 3D D8"},
    {"nvarchar invalid utf-8", ct(SqlType::NVarChar, true, 10),
     std::string("a\xFF"
                 "b"),
     cat({"E7 14 00", kColl}), "06 00 61 00 FD FF 62 00"},
    {"nvarchar overlong, surrogate, cut", ct(SqlType::NVarChar, true, 10),
     std::string("\xC0\xAF"
                 "\xE0\x80\xAF"
                 "\xED\xA0\x80"
                 "\xE2\x82"),
     cat({"E7 14 00", kColl}), "14 00 FD FF FD FF FD FF FD FF FD FF FD FF FD FF FD FF FD FF FD FF"},
    {"varchar ascii", ct(SqlType::VarChar, true, 20), std::string("MW-0000001"),
     cat({"A7 14 00", kColl}), "0A 00 4D 57 2D 30 30 30 30 30 30 31"},
    {"varchar ascii truncates", ct(SqlType::VarChar, true, 9), std::string("MW-0000001"),
     cat({"A7 09 00", kColl}), "09 00 4D 57 2D 30 30 30 30 30 30"},
    {"nvarchar from int", ct(SqlType::NVarChar, true, 10), std::int64_t(-5),
     cat({"E7 14 00", kColl}), "04 00 2D 00 35 00"},
    {"varbinary", ct(SqlType::VarBinary, true, 10), Blob{0xBE, 0xEF}, "A5 0A 00", "02 00 BE EF"},
    {"binary pads", ct(SqlType::Binary, true, 4), Blob{0x01}, "AD 04 00", "04 00 01 00 00 00"},
    {"uniqueidentifier", ct(SqlType::UniqueIdentifier),
     std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF"), "24 10",
     "10 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF"},
    {"text", ct(SqlType::Text), std::string("text"), cat({"23 FF FF FF 7F", kColl, "00"}),
     cat({kTextPtr, "04 00 00 00 74 65 78 74"})},
    {"ntext", ct(SqlType::NText), std::string("nt"), cat({"63 FE FF FF 7F", kColl, "00"}),
     cat({kTextPtr, "04 00 00 00 6E 00 74 00"})},
    {"image", ct(SqlType::Image), Blob{1, 2, 3}, "22 FF FF FF 7F 00",
     cat({kTextPtr, "03 00 00 00 01 02 03"})},
    {"varchar(max)", ct(SqlType::VarChar, true, -1), std::string("ab"), cat({"A7 FF FF", kColl}),
     "02 00 00 00 00 00 00 00 02 00 00 00 61 62 00 00 00 00"},
    {"varchar(max) empty", ct(SqlType::VarChar, true, -1), std::string(), cat({"A7 FF FF", kColl}),
     "00 00 00 00 00 00 00 00 00 00 00 00"},
    {"nvarchar(max)", ct(SqlType::NVarChar, true, -1), std::string("\xC3\xA9"),
     cat({"E7 FF FF", kColl}), "02 00 00 00 00 00 00 00 02 00 00 00 E9 00 00 00 00 00"},
    {"varbinary(max)", ct(SqlType::VarBinary, true, -1), Blob{0xCA, 0xFE}, "A5 FF FF",
     "02 00 00 00 00 00 00 00 02 00 00 00 CA FE 00 00 00 00"},
    {"sql_variant int", ct(SqlType::SqlVariant), std::int64_t(7), "62 49 1F 00 00",
     "06 00 00 00 38 00 07 00 00 00"},
    // sql_variant: length, base type byte, property count, properties, value.
    {"sql_variant numeric", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::Decimal, true, 0, 4, 1), std::string("456.7"), true),
     "62 49 1F 00 00", "09 00 00 00 6C 02 04 01 01 D7 11 00 00"},
    {"sql_variant decimal(20,0)", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::Decimal, true, 0, 20, 0), std::string("-1")), "62 49 1F 00 00",
     "11 00 00 00 6A 02 14 00 00 01 00 00 00 00 00 00 00 00 00 00 00"},
    {"sql_variant varchar", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::VarChar, true, 8), std::string("a string")), "62 49 1F 00 00",
     cat({"11 00 00 00 A7 07", kColl, "08 00 61 20 73 74 72 69 6E 67"})},
    {"sql_variant nvarchar", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::NVarChar, true, 3), std::string("\xC3\xA9")), "62 49 1F 00 00",
     cat({"0B 00 00 00 E7 07", kColl, "06 00 E9 00"})},
    {"sql_variant money", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::Money), std::string("12.5000")), "62 49 1F 00 00",
     "0A 00 00 00 3C 00 00 00 00 00 48 E8 01 00"},
    {"sql_variant datetime", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::DateTime), std::string("2024-06-03 23:46:03.000")), "62 49 1F 00 00",
     "0A 00 00 00 3D 00 84 B1 00 00 24 AD 87 01"},
    {"sql_variant date", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::Date), std::string("2024-01-02")), "62 49 1F 00 00",
     "05 00 00 00 28 00 46 46 0B"},
    {"sql_variant datetime2(2)", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::DateTime2, true, 0, 0, 2), std::string("2024-01-02 03:04:05.12")),
     "62 49 1F 00 00", "09 00 00 00 2A 01 02 80 DA 10 46 46 0B"},
    {"sql_variant datetimeoffset(0) in UTC", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::DateTimeOffset), std::string("2024-01-02 03:04:05 +02:00")),
     "62 49 1F 00 00", "0B 00 00 00 2B 01 00 05 0F 00 46 46 0B 78 00"},
    {"sql_variant varbinary", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::VarBinary, true, 200), Blob{1, 2}), "62 49 1F 00 00",
     "06 00 00 00 A5 02 C8 00 01 02"},
    {"sql_variant uniqueidentifier", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::UniqueIdentifier),
                   std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF")),
     "62 49 1F 00 00", "12 00 00 00 24 00 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF"},
    {"sql_variant tinyint", ct(SqlType::SqlVariant),
     encodeVariant(ct(SqlType::TinyInt), std::int64_t(200)), "62 49 1F 00 00",
     "03 00 00 00 30 00 C8"},
    {"sql_variant plain text is nvarchar", ct(SqlType::SqlVariant), std::string("ab"),
     "62 49 1F 00 00", cat({"0D 00 00 00 E7 07", kColl, "04 00 61 00 62 00"})},
    {"sql_variant null", ct(SqlType::SqlVariant), Null{}, "62 49 1F 00 00", "00 00 00 00"},
    {"int null value", ct(SqlType::Int), Null{}, "26 04", "00"},
    {"nvarchar null", ct(SqlType::NVarChar, true, 10), Null{}, cat({"E7 14 00", kColl}), "FF FF"},
    {"nvarchar(max) null", ct(SqlType::NVarChar, true, -1), Null{}, cat({"E7 FF FF", kColl}),
     "FF FF FF FF FF FF FF FF"},
    {"text null", ct(SqlType::Text), Null{}, cat({"23 FF FF FF 7F", kColl, "00"}), "00"},
    {"date null", ct(SqlType::Date), Null{}, "28", "00"},
    {"decimal null", ct(SqlType::Decimal, true, 0, 10, 2), Null{}, "6A 09 0A 02", "00"},
    {"datetime from garbage", ct(SqlType::DateTime), std::string("kein Datum"), "6F 08", "00"},
};

INSTANTIATE_TEST_SUITE_P(All, ColumnTypes, ::testing::ValuesIn(kTypeCases));

TEST(Tokens, RowVersionIsUserType80NotNullAndReadOnly) {
    Wire w;
    TokenWriter t(w.writer());
    Column col;
    col.name = "c";
    col.type = ct(SqlType::Binary, true, 8);
    col.type.rowVersion = true;
    t.colMetadata({col});
    t.row({Blob{0, 0, 0, 0, 0, 0, 0x07, 0xD1}});
    w.writer().endMessage();
    // UserType 80, flags without nullable and updateable bits, binary(8).
    EXPECT_EQ(toHex(w.payload()), toHex(hexBytes("81 01 00 50 00 00 00 00 00 AD 08 00 01 63 00"
                                                 " D1 08 00 00 00 00 00 00 00 07 D1")));
}

// B_VARCHAR (byte length) or US_VARCHAR (two bytes) of ASCII text, as hex.
std::string varcharHex(const std::string& s, bool wideLength) {
    char buf[8];
    std::string h;
    std::snprintf(buf, sizeof buf, "%02X ", unsigned(s.size() & 0xFF));
    h += buf;
    if (wideLength) {
        std::snprintf(buf, sizeof buf, "%02X ", unsigned(s.size() >> 8));
        h += buf;
    }
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X 00 ", unsigned(c));
        h += buf;
    }
    return h;
}

TEST(Tokens, ClrTypesCarryUdtInfoAndPlpBytes) {
    Wire w;
    TokenWriter t(w.writer());
    t.envChange(EnvDatabase, "Muster", "master");
    // What the ENVCHANGE took: token, length, type and two B_VARCHARs.
    const std::size_t before = 3 + 1 + (1 + 2 * 6) + (1 + 2 * 6);
    Column geo, hid;
    geo.name = "c";
    geo.type = ct(SqlType::Udt, true, -1);
    geo.type.udt = UdtKind::Geography;
    hid.name = "c";
    hid.type = ct(SqlType::Udt, true, 892);
    hid.type.udt = UdtKind::HierarchyId;
    t.colMetadata({geo, hid});
    t.row({Blob{0xE6, 0x10, 0, 0, 1, 0x0C}, Blob{}});
    t.row({Null{}, Blob{0x58}});
    w.writer().endMessage();
    const std::string asmName = ", Microsoft.SqlServer.Types, Version=11.0.0.0, Culture=neutral, "
                                "PublicKeyToken=89845dcd8080cc91";
    const std::string udtInfo = varcharHex("Muster", false) + varcharHex("sys", false);
    const Bytes expected = hexBytes(
        cat({"81 02 00",
             // geography: type F0, max size FFFF, UDT_INFO
             "00 00 00 00 09 00 F0 FF FF", udtInfo, varcharHex("geography", false),
             varcharHex("Microsoft.SqlServer.Types.SqlGeography" + asmName, true), "01 63 00",
             // hierarchyid: max size 892
             "00 00 00 00 09 00 F0 7C 03", udtInfo, varcharHex("hierarchyid", false),
             varcharHex("Microsoft.SqlServer.Types.SqlHierarchyId" + asmName, true), "01 63 00",
             // Both values as PLP; the root hierarchyid is empty, not NULL.
             "D1 06 00 00 00 00 00 00 00 06 00 00 00 E6 10 00 00 01 0C 00 00 00 00",
             "00 00 00 00 00 00 00 00 00 00 00 00",
             "D2 01 01 00 00 00 00 00 00 00 01 00 00 00 58 00 00 00 00"}));
    const Bytes payload = w.payload();
    EXPECT_EQ(toHex(Bytes(payload.begin() + std::ptrdiff_t(before), payload.end())),
              toHex(expected));
    // A client before 7.2 gets image, as for varbinary(max).
    EXPECT_EQ(wireColumn(geo.type, kTds71, false).code, 0x22);
}

TEST(Tokens, LongXmlGoesInChunks) {
    Wire w;
    TokenWriter t(w.writer());
    t.value(wireColumn(ct(SqlType::Xml, true, -1), kTds74, false), std::string(5000, 'x'));
    w.writer().endMessage();
    const Bytes p = w.payload();
    // Total 10000 bytes, then chunks of 8000 and 2000 bytes and the terminator.
    ASSERT_EQ(p.size(), 8u + 4 + 8000 + 4 + 2000 + 4);
    EXPECT_EQ(toHex(Bytes(p.begin(), p.begin() + 12)),
              toHex(hexBytes("10 27 00 00 00 00 00 00 40 1F 00 00")));
    EXPECT_EQ(toHex(Bytes(p.begin() + 8012, p.begin() + 8016)), toHex(hexBytes("D0 07 00 00")));
    EXPECT_EQ(toHex(Bytes(p.end() - 4, p.end())), toHex(hexBytes("00 00 00 00")));
}

TEST(Tokens, NationalTextAsTheGeneralDecoderReadsIt) {
    // Random mixes of ASCII runs, well-formed and broken sequences: the
    // row encoder's shortcuts must give what the general decoder gives.
    const char* pieces[] = {
        "abcdefghij",   "x",        "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC0\xAF",
        "\xED\xA0\x80", "\xE2\x82", "\xFF",     "\x80",         "\xEF\xBF\xBF",     "\xDF\xBF"};
    unsigned seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int count = int(seed % 12);
        for (int k = 0; k < count; ++k) {
            seed = seed * 1103515245u + 12345u;
            text += pieces[(seed >> 16) % std::size(pieces)];
        }
        seed = seed * 1103515245u + 12345u;
        Wire w;
        TokenWriter t(w.writer());
        t.value(wireColumn(ct(SqlType::NVarChar, true, -1), kTds74, true), text);
        w.writer().endMessage();
        const std::u16string units = utf8ToUtf16(text);
        Bytes expected;
        putU64(expected, units.size() * 2);
        if (!units.empty()) {
            putU32(expected, std::uint32_t(units.size() * 2));
            appendUcs2(expected, std::u16string_view(units));
        }
        putU32(expected, 0);
        EXPECT_EQ(toHex(w.payload()), toHex(expected)) << toHex(Bytes(text.begin(), text.end()));
    }
}

TEST(Tokens, NbcRowCarriesOnlyTheNonNullValues) {
    Wire w;
    TokenWriter t(w.writer());
    std::vector<Column> cols(9);
    for (auto& c : cols) {
        c.name = "";
        c.type = ct(SqlType::Int);
    }
    t.colMetadata(cols);
    std::vector<Value> row(9, Value{std::int64_t(1)});
    row[1] = Null{};
    row[8] = Null{};
    t.row(row);
    t.row(std::vector<Value>(9, Value{std::int64_t(2)}));
    w.writer().endMessage();
    const Bytes p = w.payload();
    // Compare the rows at the end of the reply.
    std::string expected = "D2 02 01";
    for (int k = 0; k < 7; ++k)
        expected += " 04 01 00 00 00";
    expected += " D1";
    for (int k = 0; k < 9; ++k)
        expected += " 04 02 00 00 00";
    EXPECT_EQ(toHex(Bytes(p.end() - long(hexBytes(expected).size()), p.end())),
              toHex(hexBytes(expected)));
}

TEST(Tokens, OlderClientsGetNarrowFieldsAndNoDateTypes) {
    Wire w;
    TokenWriter t(w.writer(), kTds71);
    Column col;
    col.name = "d";
    col.type = ct(SqlType::Date);
    t.colMetadata({col});
    t.row({std::string("2024-02-29")});
    t.done(DoneKind::Done, DoneCount, 0xC1, 1);
    w.writer().endMessage();
    const Bytes expected =
        hexBytes(cat({"81 01 00 00 00 09 00 E7 14 00", kColl, "01 64 00",
                      "D1 14 00 32 00 30 00 32 00 34 00 2D 00 30 00 32 00 2D 00 32 "
                      "00 39 00",
                      "FD 10 00 C1 00 01 00 00 00"}));
    EXPECT_EQ(toHex(w.payload()), toHex(expected));
}

TEST(Tokens, ReturnValueUsesNullableTypes) {
    Wire w;
    TokenWriter t(w.writer());
    t.returnValue(0, "", ct(SqlType::Int, false), std::int64_t(1), true);
    t.returnValue(2, "@out", ct(SqlType::NText), std::string("a"), true);
    w.writer().endMessage();
    const Bytes expected =
        hexBytes(cat({"AC 00 00 00 01 00 00 00 00 01 00 26 04 04 01 00 00 00",
                      "AC 02 00 04 40 00 6F 00 75 00 74 00 01 00 00 00 00 01 00", "E7 FF FF", kColl,
                      "02 00 00 00 00 00 00 00 02 00 00 00 61 00 00 00 00 00"}));
    EXPECT_EQ(toHex(w.payload()), toHex(expected));
}

// ---- the reply sink ----------------------------------------------------------

struct SinkRun {
    Wire wire;
    TokenWriter tokens{wire.writer()};
    std::atomic<bool> cancel{false};
    ReplySink sink{tokens, cancel};

    // The DONE-type tokens of the reply as "kind:status" pairs.
    std::vector<std::string> dones() {
        wire.writer().endMessage();
        const Bytes p = wire.payload();
        std::vector<std::string> out;
        // The replies in these tests only hold DONE, INFO and RETURNSTATUS tokens.
        for (std::size_t i = 0; i < p.size();) {
            const std::uint8_t tok = p[i];
            if (tok == 0xFD || tok == 0xFE || tok == 0xFF) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%02X:%02X", tok, p[i + 1]);
                out.push_back(buf);
                i += 13;
            } else if (tok == 0xAB || tok == 0xAA) {
                i += 3 + std::size_t(p[i + 1] | (p[i + 2] << 8));
            } else if (tok == 0x79) {
                i += 5;
            } else {
                ADD_FAILURE() << "unexpected token " << int(tok);
                break;
            }
        }
        return out;
    }
};

Message info(const char* text) {
    Message m;
    m.text = text;
    return m;
}

TEST(ReplySink, OnlyTheLastDoneLacksDoneMore) {
    SinkRun r;
    r.sink.message(info("a"));
    r.sink.done(DoneKind::Done, DoneCount | DoneMore, 0, 0xC1);
    r.sink.message(info("b"));
    r.sink.done(DoneKind::Done, DoneMore, 0, 0xC1); // the engine's MORE on the last is dropped
    r.sink.finish();
    EXPECT_EQ(r.dones(), (std::vector<std::string>{"FD:11", "FD:00"}));
}

TEST(ReplySink, ProcedureDonesAndMissingFinalDone) {
    SinkRun r;
    r.sink.done(DoneKind::DoneInProc, DoneCount, 1, 0xC1);
    r.sink.returnStatus(0);
    r.sink.done(DoneKind::DoneProc, DoneFinal, 0, 0xE0);
    r.sink.message(info("after the proc"));
    r.sink.finish();
    EXPECT_EQ(r.dones(), (std::vector<std::string>{"FF:11", "FE:01", "FD:00"}));
}

TEST(ReplySink, EmptyReplyStillEndsWithDone) {
    SinkRun r;
    r.sink.finish();
    EXPECT_EQ(r.dones(), (std::vector<std::string>{"FD:00"}));
}

TEST(ReplySink, CancelStopsEverythingAfterIt) {
    SinkRun r;
    std::vector<Column> cols(1);
    cols[0].name = "x";
    cols[0].type = ct(SqlType::Int);
    r.sink.columns(cols);
    EXPECT_TRUE(r.sink.row({std::int64_t(1)}));
    r.cancel = true;
    EXPECT_FALSE(r.sink.row({std::int64_t(2)}));
    r.sink.done(DoneKind::Done, DoneCount, 1, 0xC1);
    r.sink.finish();
    r.wire.writer().endMessage();
    const Bytes p = r.wire.payload();
    // COLMETADATA (14 bytes) and one ROW (6 bytes), nothing else.
    EXPECT_EQ(p.size(), 14u + 6u) << toHex(p);
}

// ---- value conversions -------------------------------------------------------

TEST(Values, DecimalParsingRoundsHalfAwayFromZero) {
    struct Case {
        const char* text;
        int scale;
        const char* expected; // formatted back, or "" for no number
    } cases[] = {
        {"1.005", 2, "1.01"},
        {"-1.005", 2, "-1.01"},
        {"1.004", 2, "1.00"},
        {"0.5", 0, "1"},
        {"0.4", 0, "0"},
        {"-0.4", 0, "0"},
        {"1e3", 2, "1000.00"},
        {"1.5E-2", 3, "0.015"},
        {"  42 ", 0, "42"},
        {"9.995", 2, "10.00"},
        {"", 0, ""},
        {"abc", 0, ""},
        {"1.2.3", 1, ""},
        {"1e", 0, ""},
        {"99999999999999999999999999999999999999", 0, "99999999999999999999999999999999999999"},
        {"999999999999999999999999999999999999999", 0, ""},
    };
    for (const Case& c : cases) {
        const auto d = parseDecimal(c.text, c.scale);
        EXPECT_EQ(d ? formatDecimal(*d, c.scale) : std::string(), c.expected) << c.text;
    }
    // Doubles take their shortest exact text first, so 0.1 stays 0.1.
    struct DoubleCase {
        double value;
        int scale;
        const char* expected;
    } doubles[] = {
        {0.1, 4, "0.1000"},
        {-123.4567, 4, "-123.4567"},
        {2.675, 2, "2.68"},
        {-0.00004, 4, "0.0000"},
        {1e20, 0, "100000000000000000000"},
        {0.125, 2, "0.13"},
        {99.995, 2, "100.00"},
        {-1.5, 0, "-2"},
    };
    for (const DoubleCase& c : doubles)
        EXPECT_EQ(formatDecimal(*decimalFromValue(c.value, c.scale), c.scale), c.expected)
            << c.value;
    EXPECT_EQ(formatDecimal(*decimalFromValue(std::int64_t(INT64_MIN), 0), 0),
              "-9223372036854775808");
}

TEST(Values, DateTimeParsingAndLegacyRounding) {
    EXPECT_FALSE(parseDateTime("2023-02-29"));
    EXPECT_FALSE(parseDateTime("2024-13-01"));
    EXPECT_FALSE(parseDateTime("2024-01-01 25:00"));
    EXPECT_FALSE(parseDateTime("gestern"));
    // The stored form "yyyy-mm-dd hh:mm:ss.fff" is read by a shortcut that
    // must agree with the general parser.
    EXPECT_FALSE(parseDateTime("2023-02-29 00:00:00.000"));
    EXPECT_FALSE(parseDateTime("2024-01-01 24:00:00.000"));
    EXPECT_FALSE(parseDateTime("2024-01-01 00:00:00.0x0"));
    EXPECT_FALSE(parseDateTime("0000-01-01 00:00:00.000"));
    const auto quick = parseDateTime("2024-02-29 13:14:15.123");
    const auto general = parseDateTime("2024-02-29 13:14:15.1230");
    ASSERT_TRUE(quick && general);
    EXPECT_EQ(quick->days, general->days);
    EXPECT_EQ(quick->ticks, general->ticks);
    EXPECT_TRUE(quick->hasDate && quick->hasTime && !quick->hasOffset);
    // The date just read is remembered; the time is still checked.
    EXPECT_FALSE(parseDateTime("2024-02-29 24:00:00.000"));
    EXPECT_EQ(parseDateTime("2024-02-29 00:00:00.010")->days, quick->days);
    EXPECT_EQ(parseDateTime("2024-03-01 00:00:00.000")->days, quick->days + 1);
    EXPECT_TRUE(parseDateTime("2024-01-01T08:00:00"));
    EXPECT_TRUE(parseDateTime("08:00"));
    const auto off = parseDateTime("2024-01-01 08:00:00 +02:00");
    ASSERT_TRUE(off);
    EXPECT_EQ(off->offsetMinutes, 120);

    // .999 rounds to the next day's midnight in datetime's 1/300 s ticks.
    const auto late = parseDateTime("1999-12-31 23:59:59.999");
    const LegacyDateTime l = toLegacyDateTime(*late);
    EXPECT_EQ(l.ticks300, 0u);
    EXPECT_EQ(l.days, daysFromCivil(2000, 1, 1) - kDays1900);
    // .002 rounds to .003 (tick 1 of 300).
    EXPECT_EQ(toLegacyDateTime(*parseDateTime("2000-01-01 00:00:00.002")).ticks300, 1u);
    const SmallDateTime s = toSmallDateTime(*parseDateTime("2000-01-01 10:29:30"));
    EXPECT_EQ(s.minutes, 630);

    int y, m, d;
    for (std::int64_t days : {0LL, 693595LL, 738944LL, 3652058LL}) {
        civilFromDays(days, y, m, d);
        EXPECT_EQ(daysFromCivil(y, m, d), days);
    }
    EXPECT_EQ(formatDateTime(738944, 475'551'234'567LL, 3), "2024-02-29 13:12:35.123");
}

TEST(Values, GuidTextRoundTrip) {
    std::uint8_t g[16];
    ASSERT_TRUE(parseGuid("{6f9619ff-8b86-d011-b42d-00c04fc964ff}", g));
    EXPECT_EQ(formatGuid(g), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_FALSE(parseGuid("6F9619FF-8B86-D011-B42D-00C04FC964F", g));
    EXPECT_FALSE(parseGuid("6F9619FF-8B86-D011-B42D-00C04FC964FG", g));
    EXPECT_FALSE(parseGuid("6F9619FF08B86-D011-B42D-00C04FC964FF", g));
}

TEST(Values, Utf8Conversions) {
    // Malformed UTF-8 becomes U+FFFD, one per bad byte, never a crash.
    EXPECT_EQ(utf8ToUtf16("a\xC3"), (std::u16string{u'a', 0xFFFD}));
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
    EXPECT_EQ(utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80"
                          "a"),
              3u);
    EXPECT_EQ(codePointCount("\xC3\xA9\xE2\x82\xAC"), 2u);
    const std::uint8_t cp[] = {0x80, 0x9F, 0xE9, 0x81};
    EXPECT_EQ(cp1252ToUtf8(cp, 4), "\xE2\x82\xAC\xC5\xB8\xC3\xA9\xEF\xBF\xBD");
}

} // namespace

namespace {

// One varchar column of a collation: its COLMETADATA and one ROW, as hex.
std::string collatedColumn(SqlType type, int length, const std::string& collation,
                           const std::string& value) {
    Wire w;
    TokenWriter t(w.writer());
    Column col;
    col.name = "c";
    col.type = ct(type, true, length);
    col.type.collation = collation;
    t.colMetadata({col});
    t.row({Value{value}});
    w.writer().endMessage();
    return toHex(w.payload());
}

} // namespace

TEST(Tokens, VarcharTravelsInTheCodePageOfItsCollation) {
    const std::string head = "81 01 00 00 00 00 00 09 00 ";
    // Cyrillic_General_CI_AS: LCID 0x0419, code page 1251.
    EXPECT_EQ(
        collatedColumn(SqlType::VarChar, 10, "Cyrillic_General_CI_AS", "Ёлка ä"),
        toHex(hexBytes(head + "A7 0A 00 19 04 D0 00 00 01 63 00 D1 06 00 A8 EB EA E0 20 3F")));
    // Japanese_CI_AS: code page 932; char(5) keeps whole characters and pads.
    EXPECT_EQ(collatedColumn(SqlType::Char, 5, "Japanese_CI_AS", "日本語"),
              toHex(hexBytes(head + "AF 05 00 11 04 D0 00 00 01 63 00 D1 05 00 93 FA 96 7B 20")));
    // A UTF-8 collation sends the text as it is.
    EXPECT_EQ(collatedColumn(SqlType::VarChar, 10, "Latin1_General_100_CI_AS_SC_UTF8", "Ж"),
              toHex(hexBytes(head + "A7 0A 00 09 04 D0 24 00 01 63 00 D1 02 00 D0 96")));
    // nvarchar ignores the code page but carries the collation.
    EXPECT_EQ(collatedColumn(SqlType::NVarChar, 5, "Japanese_CI_AS", "Ж"),
              toHex(hexBytes(head + "E7 0A 00 11 04 D0 00 00 01 63 00 D1 02 00 16 04")));
}

TEST(Tokens, FeatureExtAckListsTheFeaturesThenTheTerminator) {
    Wire w;
    TokenWriter t(w.writer());
    t.featureExtAck({{kFeatureUtf8Support, Bytes{0x01}}});
    w.writer().endMessage();
    EXPECT_EQ(toHex(w.payload()), toHex(hexBytes("AE 0A 01 00 00 00 01 FF")));
}
