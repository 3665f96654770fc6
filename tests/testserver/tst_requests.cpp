// Decoding of client requests (PRELOGIN, LOGIN7, SQL batch, RPC, transaction
// requests), the browser's replies and the command line.

#include "tests/testserver/raw_client.h"
#include "testserver/browser.h"
#include "testserver/engine/variant.h"
#include "testserver/options.h"
#include "testserver/requests.h"

#include <gtest/gtest.h>

using namespace tds;

namespace {

TEST(Prelogin, ParsesClientOptionsAndRepliesNotSupported) {
    const Prelogin p = parsePrelogin(buildPrelogin());
    EXPECT_EQ(p.instance, "MSSQLServer");
    EXPECT_EQ(p.encryption, 0);
    const Bytes reply = preloginReply("9.00.1399.06");
    const Bytes expected = hexBytes("00 00 1A 00 06  01 00 20 00 01  02 00 21 00 01"
                                    "03 00 22 00 00  04 00 22 00 01  FF"
                                    "09 00 05 77 00 00  02  00  00");
    EXPECT_EQ(reply, expected);
    EXPECT_THROW(parsePrelogin(hexBytes("01 00 40 00 01 FF")), ProtocolError);
    EXPECT_THROW(parsePrelogin(hexBytes("01 00")), ProtocolError);
}

TEST(Login7, DecodesFieldsAndUnscramblesThePassword) {
    Login7Fields f;
    f.user = "anna";
    f.password = "Secret123";
    f.database = "Musterfirma";
    f.appName = "tarnwick";
    f.packetSize = 8192;
    const Login7 l = parseLogin7(buildLogin7(f));
    EXPECT_EQ(l.userName, "anna");
    EXPECT_EQ(l.password, "Secret123");
    EXPECT_EQ(l.database, "Musterfirma");
    EXPECT_EQ(l.appName, "tarnwick");
    EXPECT_EQ(l.serverName, "127.0.0.1");
    EXPECT_EQ(l.language, "us_english");
    EXPECT_EQ(l.packetSize, 8192u);
    EXPECT_EQ(l.tdsVersion, kTds74);
    EXPECT_FALSE(l.integratedSecurity);

    // The bytes FreeTDS sent for "Secret123" (first three characters).
    EXPECT_EQ(unscramblePassword(hexBytes("90 A5 F3 A5 93 A5").data(), 3), "Sec");

    f.optionFlags2 = 0x83;
    EXPECT_TRUE(parseLogin7(buildLogin7(f)).integratedSecurity);
}

TEST(Login7, FeatureExtensionAsksForUtf8) {
    Login7Fields f;
    f.user = "anna";
    EXPECT_FALSE(parseLogin7(buildLogin7(f)).utf8Support);
    // Another feature first (session recovery, empty), then UTF8_SUPPORT.
    f.featureExt = {0x01, 0, 0, 0, 0, 0x0A, 1, 0, 0, 0, 0x01, 0xFF};
    const Login7 l = parseLogin7(buildLogin7(f));
    EXPECT_TRUE(l.utf8Support);
    EXPECT_EQ(l.userName, "anna");
    f.featureExt = {0x01, 0, 0, 0, 0, 0xFF};
    EXPECT_FALSE(parseLogin7(buildLogin7(f)).utf8Support);
    // A feature whose length runs past the record is malformed.
    f.featureExt = {0x0A, 0xFF, 0xFF, 0, 0, 0x01, 0xFF};
    EXPECT_THROW(parseLogin7(buildLogin7(f)), ProtocolError);
}

TEST(Login7, TakesTheSecurityTokenAlsoThroughItsLongLength) {
    Login7Fields f;
    f.optionFlags2 = 0x83;
    f.sspi = hexBytes("60 82 02 CB 06 09 2A 86 48 86 F7 12 01 02 02");
    EXPECT_EQ(parseLogin7(buildLogin7(f)).sspi, f.sspi);
    f.sspi.assign(70000, 0x5A);
    f.sspi.back() = 0x01;
    EXPECT_EQ(parseLogin7(buildLogin7(f)).sspi, f.sspi);
    Bytes beyond = buildLogin7(f);
    beyond.resize(beyond.size() - 1);
    beyond[0] = std::uint8_t(beyond.size()), beyond[1] = std::uint8_t(beyond.size() >> 8),
    beyond[2] = std::uint8_t(beyond.size() >> 16);
    EXPECT_THROW(parseLogin7(beyond), ProtocolError);
}

TEST(Login7, RejectsLengthsThatDoNotFit) {
    Login7Fields f;
    f.user = "anna";
    const Bytes good = buildLogin7(f);
    Bytes shortened(good.begin(), good.begin() + 60);
    EXPECT_THROW(parseLogin7(shortened), ProtocolError);

    Bytes bigLength = good;
    bigLength[0] = 0xFF, bigLength[1] = 0xFF;
    EXPECT_THROW(parseLogin7(bigLength), ProtocolError);

    Bytes badOffset = good;
    badOffset[40] = 0xF0, badOffset[41] = 0x7F; // user name offset far outside
    EXPECT_THROW(parseLogin7(badOffset), ProtocolError);
}

TEST(SqlBatch, SkipsAllHeadersAndDecodesText) {
    EXPECT_EQ(parseSqlBatch(sqlBatchPayload("SELECT 'ä€'"), kTds74), "SELECT 'ä€'");
    Bytes bad = sqlBatchPayload("x");
    bad[0] = 0x40; // headers longer than the message
    EXPECT_THROW(parseSqlBatch(bad, kTds74), ProtocolError);
    Bytes odd = sqlBatchPayload("x");
    odd.push_back(0);
    EXPECT_THROW(parseSqlBatch(odd, kTds74), ProtocolError);
    // Before 7.2 there are no headers.
    Bytes old;
    appendUcs2(old, "SELECT 1");
    EXPECT_EQ(parseSqlBatch(old, kTds71), "SELECT 1");
}

Bytes rpcById(std::uint16_t id, const std::string& paramsHex) {
    Bytes b = allHeaders();
    putU16(b, 0xFFFF);
    putU16(b, id);
    putU16(b, 0);
    const Bytes p = hexBytes(paramsHex);
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

TEST(Rpc, ExecuteSqlByIdWithNtextStatement) {
    // sp_executesql: NTEXT stmt "a", NTEXT decl "b", then @P1 INT 5 and NULL.
    const Bytes payload = rpcById(10, "00 00 63 02 00 00 00 09 04 D0 00 34 02 00 00 00 61 00"
                                      "00 00 63 02 00 00 00 09 04 D0 00 34 02 00 00 00 62 00"
                                      "00 00 26 04 04 05 00 00 00"
                                      "00 01 26 04 00");
    const auto calls = parseRpc(payload, kTds74);
    ASSERT_EQ(calls.size(), 1u);
    const RpcCall& c = calls[0];
    EXPECT_EQ(c.procId, 10);
    EXPECT_TRUE(c.procName.empty());
    ASSERT_EQ(c.params.size(), 4u);
    EXPECT_EQ(std::get<std::string>(c.params[0].value), "a");
    EXPECT_EQ(c.params[0].type.type, SqlType::NText);
    EXPECT_EQ(std::get<std::int64_t>(c.params[2].value), 5);
    EXPECT_TRUE(std::holds_alternative<Null>(c.params[3].value));
    EXPECT_TRUE(c.params[3].output);
}

TEST(Rpc, ByNameWithNamedParameterAndSeveralCalls) {
    Bytes b = allHeaders();
    putU16(b, 9);
    appendUcs2(b, "sp_tables");
    putU16(b, 0);
    const Bytes p = hexBytes("0B 40 00 74 00 61 00 62 00 6C 00 65 00 5F 00 6E 00 61 00 6D 00 65 00"
                             "00 E7 04 00 09 04 D0 00 34 04 00 74 00 25 00"
                             "FF");
    b.insert(b.end(), p.begin(), p.end());
    putU16(b, 0xFFFF);
    putU16(b, 15);
    putU16(b, 0);
    const auto calls = parseRpc(b, kTds74);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].procName, "sp_tables");
    ASSERT_EQ(calls[0].params.size(), 1u);
    EXPECT_EQ(calls[0].params[0].name, "@table_name");
    EXPECT_EQ(std::get<std::string>(calls[0].params[0].value), "t%");
    EXPECT_EQ(calls[0].params[0].type.length, 2);
    EXPECT_EQ(calls[1].procId, 15);
}

TEST(Rpc, TableValuedParameterCarriesItsTypeColumnsAndRows) {
    // @t of type s.T (two columns: int, nvarchar(10)), an ordering token, two rows, then @n.
    const Bytes payload = rpcById(10, "00 00 F3"
                                      "00 01 73 00 01 54 00" // db "", schema "s", type "T"
                                      "02 00"                // two columns
                                      "00 00 00 00 09 00 26 04 00"
                                      "00 00 00 00 09 00 E7 14 00 09 04 D0 00 34 00"
                                      "11 01 00 01 00" // TVP_COLUMN_ORDERING
                                      "00"             // end of metadata
                                      "01 04 07 00 00 00 04 00 61 00 62 00"
                                      "01 00 FF FF" // NULL, NULL
                                      "00"          // end of rows
                                      "00 00 26 04 04 05 00 00 00");
    const auto calls = parseRpc(payload, kTds74);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].params.size(), 2u);
    const auto& t = calls[0].params[0].table;
    ASSERT_TRUE(t);
    EXPECT_EQ(t->typeSchema, "s");
    EXPECT_EQ(t->typeName, "T");
    ASSERT_EQ(t->columns.size(), 2u);
    EXPECT_EQ(t->columns[1].type.type, SqlType::NVarChar);
    ASSERT_EQ(t->rows.size(), 2u);
    EXPECT_EQ(t->rows[0], (std::vector<Value>{std::int64_t(7), std::string("ab")}));
    EXPECT_EQ(t->rows[1], (std::vector<Value>{Null{}, Null{}}));
    EXPECT_EQ(std::get<std::int64_t>(calls[0].params[1].value), 5);
    // A row cut short is malformed.
    EXPECT_THROW(
        parseRpc(rpcById(10, "00 00 F3 00 00 00 01 00 00 00 00 00 09 00 26 04 00 00 01 04"),
                 kTds74),
        ProtocolError);
}

struct ParamCase {
    const char* name;
    const char* typeAndValue; // TYPE_INFO + value bytes
    SqlType type;
    Value expected;
};

class RpcParams : public ::testing::TestWithParam<ParamCase> {};

std::string describe(const Value& v) {
    if (std::holds_alternative<Null>(v))
        return "NULL";
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return "int " + std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v))
        return "real " + std::to_string(*d);
    if (const auto* s = std::get_if<std::string>(&v))
        return "text '" + *s + "'";
    return "blob of " + std::to_string(std::get<Blob>(v).size());
}

TEST_P(RpcParams, DecodeToEngineValues) {
    const ParamCase& c = GetParam();
    const auto calls = parseRpc(rpcById(10, std::string("00 00 ") + c.typeAndValue), kTds74);
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].params.size(), 1u);
    const RpcParam& p = calls[0].params[0];
    EXPECT_EQ(p.type.type, c.type) << c.name;
    EXPECT_EQ(describe(p.value), describe(c.expected)) << c.name;
    if (const auto* b = std::get_if<Blob>(&c.expected)) {
        EXPECT_EQ(std::get<Blob>(p.value), *b) << c.name;
    }
}

ColumnType intType() {
    ColumnType t;
    t.type = SqlType::Int;
    return t;
}

const ParamCase kParamCases[] = {
    {"int", "26 04 04 C0 1D FE FF", SqlType::Int, std::int64_t(-123456)},
    {"bigint", "26 08 08 01 00 00 00 00 00 20 00", SqlType::BigInt, std::int64_t(9007199254740993)},
    {"tinyint", "26 01 01 FF", SqlType::TinyInt, std::int64_t(255)},
    {"smallint fixed", "34 F9 FF", SqlType::SmallInt, std::int64_t(-7)},
    {"bit", "68 01 01 01", SqlType::Bit, std::int64_t(1)},
    {"float", "6D 08 08 00 00 00 00 00 00 0A 40", SqlType::Float, 3.25},
    {"real", "6D 04 04 00 00 C0 3F", SqlType::Real, 1.5},
    {"money", "6E 08 08 FF FF FF FF 79 29 ED FF", SqlType::Money, std::string("-123.4567")},
    {"smallmoney", "6E 04 04 A8 61 00 00", SqlType::SmallMoney, std::string("2.5000")},
    {"decimal(10,2)", "6A 06 0A 02 06 01 8E 00 00 00 00", SqlType::Decimal, std::string("1.42")},
    {"numeric(10,0)", "6C 06 0A 00 06 00 2A 00 00 00 00", SqlType::Decimal, std::int64_t(-42)},
    {"datetime", "6F 08 08 25 B1 00 00 4A 26 DA 00", SqlType::DateTime,
     std::string("2024-02-29 13:14:15.500")},
    {"smalldatetime", "6F 04 04 25 B1 1A 03", SqlType::SmallDateTime,
     std::string("2024-02-29 13:14:00.000")},
    {"date", "28 03 80 46 0B", SqlType::Date, std::string("2024-02-29")},
    {"time(7)", "29 07 05 07 C4 AA F4 6E", SqlType::Time, std::string("13:14:15.1234567")},
    {"datetime2(7)", "2A 07 08 07 C4 AA F4 6E 80 46 0B", SqlType::DateTime2,
     std::string("2024-02-29 13:14:15.1234567")},
    {"datetimeoffset", "2B 00 08 60 C3 00 80 46 0B 78 00", SqlType::DateTimeOffset,
     std::string("2024-02-29 15:53:36 +02:00")},
    {"varchar", "A7 14 00 09 04 D0 00 34 05 00 61 62 E9 63 64", SqlType::VarChar,
     std::string("ab\xC3\xA9"
                 "cd")},
    {"varchar utf8 collation", "A7 14 00 09 04 D0 04 34 02 00 C3 A9", SqlType::VarChar,
     std::string("\xC3\xA9")},
    {"nvarchar", "E7 28 00 09 04 D0 00 34 06 00 68 00 E9 00 AC 20", SqlType::NVarChar,
     std::string("h\xC3\xA9\xE2\x82\xAC")},
    {"nvarchar null", "E7 28 00 09 04 D0 00 34 FF FF", SqlType::NVarChar, Null{}},
    {"nvarchar(max) plp",
     "E7 FF FF 09 04 D0 00 34 04 00 00 00 00 00 00 00 02 00 00 00 61 00"
     " 02 00 00 00 62 00 00 00 00 00",
     SqlType::NVarChar, std::string("ab")},
    {"varchar(max) unknown length",
     "A7 FF FF 09 04 D0 00 34 FE FF FF FF FF FF FF FF"
     " 01 00 00 00 7A 00 00 00 00",
     SqlType::VarChar, std::string("z")},
    {"varbinary(max) null", "A5 FF FF FF FF FF FF FF FF FF FF", SqlType::VarBinary, Null{}},
    {"varbinary", "A5 0A 00 02 00 BE EF", SqlType::VarBinary, Blob{0xBE, 0xEF}},
    {"uniqueidentifier", "24 10 10 FF 19 96 6F 86 8B 11 D0 B4 2D 00 C0 4F C9 64 FF",
     SqlType::UniqueIdentifier, std::string("6F9619FF-8B86-D011-B42D-00C04FC964FF")},
    {"guid null", "24 10 00", SqlType::UniqueIdentifier, Null{}},
    {"text", "23 04 00 00 00 09 04 D0 00 34 02 00 00 00 68 69", SqlType::Text, std::string("hi")},
    {"image null", "22 10 00 00 00 FF FF FF FF", SqlType::Image, Null{}},
    {"sql_variant int", "62 49 1F 00 00 06 00 00 00 38 00 07 00 00 00", SqlType::SqlVariant,
     Value(encodeVariant(intType(), std::int64_t(7)))},
    {"sql_variant null", "62 49 1F 00 00 00 00 00 00", SqlType::SqlVariant, Null{}},
};

INSTANTIATE_TEST_SUITE_P(All, RpcParams, ::testing::ValuesIn(kParamCases));

// A sql_variant parameter keeps its base type with length, precision, scale
// and collation, as a value put into a sql_variant by the engine does.
TEST(Rpc, VariantParametersKeepTheirBaseType) {
    struct Case {
        const char* value; // after the TYPE_INFO 62 49 1F 00 00
        SqlType type;
        int length, precision, scale;
        const char* collation;
        const char* text;
    };
    const Case cases[] = {
        {"0B 00 00 00 E7 07 19 04 D0 00 00 14 00 10 04", SqlType::NVarChar, 10, 0, 0,
         "Cyrillic_General_CI_AS", "\xD0\x90"},
        {"0B 00 00 00 A7 07 09 04 D0 00 34 08 00 61 62", SqlType::VarChar, 8, 0, 0, "", "ab"},
        {"09 00 00 00 6C 02 05 02 01 7D 00 00 00", SqlType::Decimal, 0, 5, 2, "", "1.25"},
        {"06 00 00 00 A5 02 04 00 BE EF", SqlType::VarBinary, 4, 0, 0, "", nullptr},
        {"07 00 00 00 29 01 03 00 00 00 00", SqlType::Time, 0, 0, 3, "", "00:00:00.000"},
    };
    for (const Case& c : cases) {
        const auto calls =
            parseRpc(rpcById(10, std::string("00 00 62 49 1F 00 00 ") + c.value), kTds74);
        ASSERT_EQ(calls.size(), 1u);
        const VariantValue v = variantOf(calls[0].params[0].value);
        EXPECT_EQ(v.base.type, c.type) << c.value;
        EXPECT_EQ(v.base.length, c.length) << c.value;
        EXPECT_EQ(v.base.precision, c.precision) << c.value;
        EXPECT_EQ(v.base.scale, c.scale) << c.value;
        EXPECT_EQ(v.base.collation, c.collation) << c.value;
        if (c.text) {
            EXPECT_EQ(describe(v.value), describe(std::string(c.text))) << c.value;
        }
    }
    EXPECT_TRUE(variantOf(parseRpc(rpcById(10, "00 00 62 49 1F 00 00 09 00 00 00 6C 02 05 02 01 "
                                               "7D 00 00 00"),
                                   kTds74)[0]
                              .params[0]
                              .value)
                    .numeric);
    // A base type a sql_variant cannot hold is malformed.
    EXPECT_THROW(parseRpc(rpcById(10, "00 00 62 49 1F 00 00 03 00 00 00 F1 00 00"), kTds74),
                 ProtocolError);
}

TEST(Rpc, RejectsMalformedParameters) {
    const char* bad[] = {
        "26 04 03 01 02 03",                      // INTN length 3
        "6A 06 0A 0B 06 01 00 00 00 00 00",       // scale above precision
        "29 09 05 00 00 00 00 00",                // time scale 9
        "E7 28 00 09 04 D0 00 34 09 00 61",       // value beyond message
        "E7 28 00 09 04 D0 00 34 03 00 61 00 62", // odd byte count in Unicode
        "F1 00",                                  // xml: not supported
        "A5 FF FF 00 00 00 10 00 00 00 00",       // PLP total far too large
        "6A 11 26 00 11 01 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF", // 39+ digits
    };
    for (const char* b : bad) {
        EXPECT_THROW(parseRpc(rpcById(10, std::string("00 00 ") + b), kTds74), ProtocolError) << b;
    }
    Bytes noName = allHeaders();
    putU16(noName, 0);
    EXPECT_THROW(parseRpc(noName, kTds74), ProtocolError);
}

TEST(TransactionRequests, BeginCommitRollback) {
    auto tm = [](const char* hex) {
        Bytes b = allHeaders();
        const Bytes rest = hexBytes(hex);
        b.insert(b.end(), rest.begin(), rest.end());
        return parseTransactionRequest(b, kTds74);
    };
    EXPECT_EQ(tm("05 00 00 00").kind, TransactionRequest::Begin);
    const auto commit = tm("07 00 00 01 00 00");
    EXPECT_EQ(commit.kind, TransactionRequest::Commit);
    EXPECT_TRUE(commit.beginNew);
    const auto rollback = tm("08 00 00 00");
    EXPECT_EQ(rollback.kind, TransactionRequest::Rollback);
    EXPECT_FALSE(rollback.beginNew);
    // A name's length byte counts bytes, not characters.
    EXPECT_EQ(tm("05 00 00 04 54 00 31 00").name, "T1");
    EXPECT_EQ(tm("07 00 04 54 00 31 00 00").name, "T1");
    EXPECT_EQ(tm("08 00 04 54 00 31 00 00").name, "T1");
    EXPECT_EQ(tm("09 00 04 53 00 50 00").name, "SP");
    EXPECT_THROW(tm("02 00"), ProtocolError);
    EXPECT_THROW(tm("05 00 00 05 41 00"), ProtocolError);
    EXPECT_THROW(tm("05 00 00 03 41 00 42"), ProtocolError);
}

TEST(Browser, RepliesPerRequestKind) {
    BrowserInfo info{"TESTSERVER", "TWINST", "9.00.1399.06", 14999};
    const std::string text =
        "ServerName;TESTSERVER;InstanceName;TWINST;IsClustered;No;Version;9.00.1399.06;tcp;14999;;";
    auto reply = [&](const Bytes& req) { return browserReply(req.data(), req.size(), info); };
    Bytes expected = {0x05, std::uint8_t(text.size()), 0};
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(reply({0x03}), expected);
    EXPECT_EQ(reply({0x02}), expected);
    EXPECT_EQ(reply({0x04, 't', 'w', 'i', 'n', 's', 't', 0}), expected);
    EXPECT_EQ(reply({0x04, 'T', 'W', 'I', 'N', 'S', 'T'}), expected); // missing NUL tolerated
    EXPECT_TRUE(reply({0x04, 'O', 'T', 'H', 'E', 'R', 0}).empty());
    EXPECT_TRUE(reply({0x0F, 0x01, 'X', 0}).empty());
    EXPECT_TRUE(reply({}).empty());
}

TEST(CommandLine, AcceptsTheDocumentedOptionsAndRejectsMistakes) {
    CommandLine cmd;
    std::string err;
    ASSERT_TRUE(parseCommandLine({"--data", "/tmp/x", "--port", "0", "--browser-port", "0",
                                  "--instance", "INST", "--login", "a:b:c", "--login",
                                  "d:", "--sample", "--big-rows", "1000", "--bind", "127.0.0.2"},
                                 cmd, err))
        << err;
    EXPECT_EQ(cmd.server.config.dataDir, "/tmp/x");
    EXPECT_EQ(cmd.server.port, 0);
    EXPECT_EQ(cmd.server.browserPort, 0);
    EXPECT_EQ(cmd.server.config.instanceName, "INST");
    EXPECT_EQ(cmd.server.config.logins.at("a"), "b:c");
    EXPECT_EQ(cmd.server.config.logins.at("d"), "");
    EXPECT_TRUE(cmd.sample);
    EXPECT_EQ(cmd.bigRows, 1000);
    EXPECT_EQ(cmd.server.bindAddress, "127.0.0.2");

    const std::vector<std::vector<std::string>> bad = {
        {"--port", "0"},
        {"--data", "/tmp/x"},
        {"--data", "/tmp/x", "--port", "65536"},
        {"--data", "/tmp/x", "--port", "12x"},
        {"--data", "/tmp/x", "--port", "0", "--login", "nocolon"},
        {"--data", "/tmp/x", "--port", "0", "--login", ":pw"},
        {"--data", "/tmp/x", "--port", "0", "--big-rows", "-1"},
        {"--data", "/tmp/x", "--port", "0", "--instance", "a;b"},
        {"--data", "/tmp/x", "--port", "0", "--frobnicate"},
        {"--data", "/tmp/x", "--port"},
    };
    for (const auto& args : bad) {
        CommandLine c;
        EXPECT_FALSE(parseCommandLine(args, c, err)) << args.back();
        EXPECT_FALSE(err.empty());
    }
}

} // namespace
