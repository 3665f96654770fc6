// Values that must survive storage exactly or be refused: empty binary
// values, decimals beyond a double's digits, money at its limits, text and
// bytes longer than their column, DATALENGTH of national text.

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/decimal.h"
#include "testserver/engine/types.h"

using namespace tds;
using namespace tds::test;

namespace {

class Types : public EngineTest {
protected:
    // Column 0 of every row of the first result, as text.
    std::vector<std::string> texts(const std::string& sql) {
        std::vector<std::string> r;
        for (const auto& row : rows(sql))
            r.push_back(text(row[0]));
        return r;
    }
    std::size_t count(const std::string& table) {
        return static_cast<std::size_t>(integer(scalar("SELECT COUNT(*) FROM " + table)));
    }
};

TEST_F(Types, EmptyBinaryStaysEmptyNotNull) {
    EXPECT_EQ(scalar("SELECT CAST('' AS varbinary(10))"), Value(Blob{}));
    // A variable is bound as a parameter: the path RPC parameters take.
    EXPECT_EQ(scalar("DECLARE @b varbinary(10) = 0x; SELECT @b"), Value(Blob{}));
    run("CREATE TABLE b (v varbinary(10)); DECLARE @b varbinary(10) = 0x; INSERT b VALUES (@b)");
    EXPECT_EQ(scalar("SELECT DATALENGTH(v) FROM b WHERE v IS NOT NULL"), Value(std::int64_t(0)));
}

TEST_F(Types, DecimalsAndMoneyAreStoredAndReturnedExactly) {
    run("CREATE TABLE d (a decimal(38,10), n numeric(38,0), m money, s smallmoney)");
    run("INSERT d VALUES (1234567890123456789012345678.0123456789, "
        "99999999999999999999999999999999999999, 922337203685477.5807, 214748.3647);"
        "INSERT d VALUES (-1234567890123456789012345678.0123456789, "
        "-99999999999999999999999999999999999999, -922337203685477.5808, -214748.3648);"
        "INSERT d VALUES (9, 10, 0.0001, 2)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto r = rows("SELECT a, n, m, s FROM d ORDER BY a");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(text(r[0][0]), "-1234567890123456789012345678.0123456789");
    EXPECT_EQ(text(r[0][1]), "-99999999999999999999999999999999999999");
    EXPECT_EQ(text(r[0][2]), "-922337203685477.5808");
    EXPECT_EQ(text(r[2][0]), "1234567890123456789012345678.0123456789");
    EXPECT_EQ(text(r[2][2]), "922337203685477.5807");
    const auto cols = sink.results()[0].cols;
    EXPECT_EQ(cols[0].type.type, SqlType::Decimal);
    EXPECT_EQ(cols[0].type.precision, 38);
    EXPECT_EQ(cols[0].type.scale, 10);
    EXPECT_EQ(cols[2].type.type, SqlType::Money);
    // Comparison by value, exact beyond 15 digits; '10' is not below '9'.
    EXPECT_EQ(texts("SELECT n FROM d WHERE n > 9 AND n < 99999999999999999999999999999999999999"),
              std::vector<std::string>{"10"});
    EXPECT_EQ(texts("SELECT s FROM d WHERE a = 1234567890123456789012345678.0123456789"),
              std::vector<std::string>{"214748.3647"});
    EXPECT_EQ(text(scalar("SELECT MAX(a) FROM d")), "1234567890123456789012345678.0123456789");
}

TEST_F(Types, ValuesWithMoreDecimalsThanTheColumnAreStoredRounded) {
    rows("CREATE TABLE rd (id int, d decimal(5,1), m money)");
    rows("INSERT INTO rd VALUES (1, 2.25, 1.23456), (2, -1.04, 0.00005)");
    rows("INSERT INTO rd SELECT 3, d + 0.06, m / 3 FROM rd WHERE id = 1");
    rows("UPDATE rd SET d = 0.95 WHERE id = 2");
    EXPECT_EQ(texts("SELECT CAST(d AS varchar(10)) + '|' + CAST(m AS varchar(20)) FROM rd "
                    "ORDER BY id"),
              (std::vector<std::string>{"2.3|1.2346", "1.0|0.0001", "2.4|0.4115"}));
    // Comparisons and sums see the stored value, as in SQL Server.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM rd WHERE d = 2.3")), 1);
    EXPECT_EQ(text(scalar("SELECT CAST(SUM(d) AS varchar(10)) FROM rd")), "5.7");
}

TEST_F(Types, ConversionsToDecimalAreExactAndReportTheirType) {
    run("SELECT CAST('12345678901234567890123456789012345678' AS decimal(38,0)) AS x, "
        "CONVERT(numeric(30,4), '-12345678901234567890.12345') AS y, "
        "12345678901234567890.123 AS z");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    const auto& c = rs[0].cols;
    EXPECT_EQ(c[0].type.type, SqlType::Decimal);
    EXPECT_EQ(c[0].type.precision, 38);
    EXPECT_EQ(c[1].type.scale, 4);
    EXPECT_EQ(c[2].type.type, SqlType::Decimal);
    EXPECT_EQ(c[2].type.scale, 3);
    EXPECT_EQ(text(rs[0].rows[0][0]), "12345678901234567890123456789012345678");
    EXPECT_EQ(text(rs[0].rows[0][1]), "-12345678901234567890.1235");
    EXPECT_EQ(text(rs[0].rows[0][2]), "12345678901234567890.123");
    EXPECT_EQ(text(scalar("DECLARE @v decimal(38,2) = 123456789012345678901234567890.125; "
                          "SELECT @v")),
              "123456789012345678901234567890.13");
}

TEST_F(Types, NumbersBeyondTheColumnAreRefusedAndNothingIsStored) {
    run("CREATE TABLE d (a decimal(5,2), m money, s smallmoney)");
    EXPECT_EQ(error("INSERT d (a) VALUES (1), (1000)").number, 8115);
    EXPECT_EQ(error("INSERT d (m) VALUES (922337203685477.5808)").number, 8115);
    EXPECT_EQ(error("INSERT d (s) VALUES (214748.3648)").number, 8115);
    EXPECT_EQ(error("SELECT CAST(123.456 AS decimal(4,2))").number, 8115);
    EXPECT_EQ(count("d"), 0u);
}

TEST_F(Types, TextOrBytesLongerThanTheColumnAreRefusedAndNothingIsStored) {
    run("CREATE TABLE t (v varchar(5), n nvarchar(3), c char(2), b varbinary(2))");
    const Message m = error("INSERT t (v) VALUES ('ok'), ('abcdef')");
    EXPECT_EQ(m.number, 8152);
    EXPECT_EQ(m.severity, 16);
    EXPECT_EQ(m.state, 14);
    EXPECT_EQ(m.text, "String or binary data would be truncated.");
    EXPECT_EQ(count("t"), 0u);
    EXPECT_EQ(error("INSERT t (b) VALUES (0x010203)").number, 8152);
    EXPECT_EQ(error("INSERT t (c) VALUES ('abc')").number, 8152);
    // Trailing blanks are cut silently; three national characters fit nvarchar(3).
    run("INSERT t (v, n) VALUES ('abc     ', N'äöü')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(error("UPDATE t SET n = N'äöüß'").number, 8152);
    EXPECT_EQ(text(scalar("SELECT n FROM t")), "äöü");
    // The checks follow the table's columns through ALTER TABLE.
    run("ALTER TABLE t DROP COLUMN c");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("ALTER TABLE t ADD k varchar(1)");
    EXPECT_EQ(error("UPDATE t SET k = 'xy'").number, 8152);
    run("SELECT v INTO t2 FROM t");
    EXPECT_EQ(error("INSERT t2 VALUES ('abcdef')").number, 8152);
}

TEST_F(Types, DatalengthCountsTwoBytesPerUnitOfNationalText) {
    run("CREATE TABLE t (v varchar(10), n nvarchar(10), x ntext)");
    run("INSERT t VALUES ('abc', N'abc', N'ab')");
    const auto r = rows("DECLARE @n nvarchar(5) = N'xy'; SELECT DATALENGTH('abc'), "
                        "DATALENGTH(N'abc'), DATALENGTH(v), DATALENGTH(n), DATALENGTH(x), "
                        "DATALENGTH(@n), DATALENGTH(CAST(v AS nvarchar(10))) FROM t");
    ASSERT_EQ(r.size(), 1u);
    const std::vector<Value> expected{std::int64_t(3), std::int64_t(6), std::int64_t(3),
                                      std::int64_t(6), std::int64_t(4), std::int64_t(4),
                                      std::int64_t(6)};
    EXPECT_EQ(r[0], expected);
}

TEST_F(Types, DatetimeoffsetParametersAreStoredAndReturned) {
    run("CREATE TABLE o (d datetimeoffset(7))");
    RpcCall call;
    call.procName = "sp_executesql";
    call.params.resize(3);
    call.params[0].value = std::string("INSERT o VALUES (@p); SELECT d FROM o");
    call.params[1].value = std::string("@p datetimeoffset(7)");
    call.params[2].type.type = SqlType::DateTimeOffset;
    call.params[2].type.scale = 7;
    call.params[2].value = std::string("2024-02-29 13:14:15.1234567 +02:00");
    sink.clear();
    session->executeRpc(call, sink, cancel);
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].cols[0].type.type, SqlType::DateTimeOffset);
    EXPECT_EQ(text(rs[0].rows[0][0]), "2024-02-29 13:14:15.1234567 +02:00");
    // Text without an offset is taken as UTC; a date without a time as midnight.
    EXPECT_EQ(text(scalar("SELECT CAST('2024-02-29' AS datetimeoffset(0))")),
              "2024-02-29 00:00:00 +00:00");
}

TEST(DecimalText, OrdersByExactValue) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"9", "10", -1},      {"-10", "-9", -1},
        {"0.10", ".1", 0},    {"-0", "0.000", 0},
        {"1e3", "999.99", 1}, {"12345678901234567890.1", "12345678901234567890.09", 1},
        {"-1", "0.5", -1},    {"99", "abc", -1}, // text that is no number sorts last
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareDecimalText(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(compareDecimalText(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(DecimalText, StorageSpellingReadsBackAsTheDeclaredType) {
    for (const char* decl : {"decimal(38,10)", "numeric(5,0)", "money", "smallmoney"}) {
        const auto t = sql::parseDeclType(decl);
        ASSERT_TRUE(t);
        const auto back = sql::parseDeclType(sql::declTypeText(*t));
        ASSERT_TRUE(back) << sql::declTypeText(*t);
        EXPECT_EQ(sql::typeName(*back), sql::typeName(*t));
    }
}

} // namespace

// What the exact functions compute and how the rewriting types their results,
// beyond the driver's end-to-end cases: signs, remainders, ROUND and its
// overflow, money kinds, DISTINCT, NULL, and rewritten results in conditions.
TEST_F(Types, ExactArithmeticRoundsAndTypesAsSqlServer) {
    run("CREATE TABLE e (k int, d decimal(10,2), m money, s smallmoney, i int); "
        "INSERT e VALUES (1, 12.25, 3.5, 2.5, 7), (2, -0.75, 10, 1, 3), (3, 12.25, NULL, 1, 1)");
    struct Case {
        const char* sql;
        const char* value;
        const char* type;
    };
    const Case cases[] = {
        {"SELECT d * i FROM e WHERE k = 1", "85.75", "decimal(21,2)"},
        {"SELECT -d % 2 FROM e WHERE k = 1", "-0.25", "decimal(3,2)"},
        {"SELECT ROUND(d, 1) FROM e WHERE k = 2", "-0.80", "decimal(10,2)"},
        {"SELECT ROUND(d, 1, 1) FROM e WHERE k = 2", "-0.70", "decimal(10,2)"},
        {"SELECT CEILING(d) FROM e WHERE k = 2", "0", "decimal(10,0)"},
        {"SELECT FLOOR(d) FROM e WHERE k = 2", "-1", "decimal(10,0)"},
        {"SELECT ABS(d) FROM e WHERE k = 2", "0.75", "decimal(10,2)"},
        {"SELECT m * m FROM e WHERE k = 1", "12.2500", "money"},
        {"SELECT s + s FROM e WHERE k = 1", "5.0000", "smallmoney"},
        {"SELECT m / 3 FROM e WHERE k = 2", "3.3333", "money"},
        {"SELECT SUM(DISTINCT d) FROM e", "11.50", "decimal(38,2)"},
        {"SELECT m + 1 FROM e WHERE k = 3", "NULL", "money"},
        {"SELECT COUNT(*) FROM e WHERE d * 2 > 20 AND d + 0.5 BETWEEN 0 AND 13", "2", "int"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        sink.clear();
        run(c.sql);
        ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
        const auto rs = sink.results();
        ASSERT_EQ(rs.size(), 1u);
        ASSERT_EQ(rs[0].rows.size(), 1u);
        // The value as the wire sends it: at the column's scale.
        const ColumnType& t = rs[0].cols[0].type;
        const int scale =
            sql::isExactNumericType(t.type) && t.type != SqlType::Decimal ? 4 : t.scale;
        const auto d = decimalFromValue(rs[0].rows[0][0], scale);
        EXPECT_EQ(d ? formatDecimal(*d, scale) : "NULL", c.value);
        EXPECT_EQ(sql::typeName(t), c.type);
    }
    EXPECT_EQ(error("SELECT ROUND(748.58, -3)").number, 8115);
    EXPECT_EQ(error("SELECT s * 1000000 FROM e WHERE k = 1").number, 8115);
}

TEST_F(Types, DatetimeTwoTimeAndOffsetKeepTheirScaleInColumnsAndCasts) {
    run("CREATE TABLE t (a datetime2, b datetime2(3), c time(0), d datetimeoffset(2), "
        "e datetime2(0));"
        "INSERT t VALUES ('2024-02-29 13:14:15.1234567', '2024-02-29 13:14:15.1235', "
        "'23:59:59.4', '2024-02-29 13:14:15.129 +02:00', '9999-12-31 23:59:59.4');"
        "INSERT t VALUES ('0001-01-01', '0001-01-01 00:00:00.0005', '00:00:00', "
        "'0001-01-01 00:00:00 -14:00', '0001-01-01')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto r = rows("SELECT a, b, c, d, e FROM t ORDER BY a");
    ASSERT_EQ(r.size(), 2u);
    const auto cols = sink.results().back().cols;
    EXPECT_EQ(cols[0].type.type, SqlType::DateTime2);
    EXPECT_EQ(cols[0].type.scale, 7);
    EXPECT_EQ(cols[1].type.scale, 3);
    EXPECT_EQ(cols[2].type.type, SqlType::Time);
    EXPECT_EQ(cols[3].type.type, SqlType::DateTimeOffset);
    EXPECT_EQ(text(r[0][0]), "0001-01-01 00:00:00.0000000");
    EXPECT_EQ(text(r[0][1]), "0001-01-01 00:00:00.001"); // half rounds up
    EXPECT_EQ(text(r[1][0]), "2024-02-29 13:14:15.1234567");
    EXPECT_EQ(text(r[1][1]), "2024-02-29 13:14:15.124");
    EXPECT_EQ(text(r[1][2]), "23:59:59");
    EXPECT_EQ(text(r[1][3]), "2024-02-29 13:14:15.13 +02:00");
    EXPECT_EQ(text(r[1][4]), "9999-12-31 23:59:59");
    // The seventh digit decides equality: no rounding to datetime's 1/300 s.
    EXPECT_EQ(texts("SELECT b FROM t WHERE a = '2024-02-29 13:14:15.1234567'"),
              std::vector<std::string>{"2024-02-29 13:14:15.124"});
    EXPECT_TRUE(texts("SELECT b FROM t WHERE a = '2024-02-29 13:14:15.1234568'").empty());
    // Rounding carries into the next second and day.
    EXPECT_EQ(text(scalar("SELECT CAST('2024-02-29 23:59:59.9999999' AS datetime2(6))")),
              "2024-03-01 00:00:00.000000");
    EXPECT_EQ(text(scalar("SELECT CONVERT(time(1), '13:14:15.96')")), "13:14:16.0");
}

TEST_F(Types, DateAndTimeColumnsCompareByTheMomentNotTheSpelling) {
    run("CREATE TABLE m (k int, a datetime, b datetime2(7), c time(7), d datetimeoffset(7))");
    run("INSERT m VALUES (1, '2024-02-29 13:14:15.123', '2024-02-29 13:14:15.1234567', "
        "'13:14:15.1234567', '2024-02-29 15:14:15 +02:00');"
        "INSERT m VALUES (2, '2024-02-29 13:14:15.127', '2024-02-29T13:14:15.1234568', "
        "'13:14:15.12345', '2024-02-29 13:14:15.0000001 +00:00');"
        "INSERT m VALUES (3, '1999-01-01', '10000101', '9:00', '2024-02-29 12:00:00 -01:00')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    // Other spellings and more zeros name the same moment.
    EXPECT_EQ(texts("SELECT k FROM m WHERE a = '2024-02-29T13:14:15.1230000'"),
              std::vector<std::string>{"1"});
    EXPECT_EQ(texts("SELECT k FROM m WHERE b = '2024-02-29 13:14:15.1234568'"),
              std::vector<std::string>{"2"});
    EXPECT_EQ(texts("SELECT k FROM m WHERE c = '13:14:15.1234500'"), std::vector<std::string>{"2"});
    // datetimeoffset compares in UTC: 15:14 +02:00 is 13:14 UTC.
    EXPECT_EQ(texts("SELECT k FROM m WHERE d = '2024-02-29 13:14:15 +00:00'"),
              std::vector<std::string>{"1"});
    EXPECT_EQ(texts("SELECT k FROM m ORDER BY b"), (std::vector<std::string>{"3", "1", "2"}));
    EXPECT_EQ(texts("SELECT k FROM m ORDER BY c DESC"), (std::vector<std::string>{"1", "2", "3"}));
    // 12:00 -01:00 is 13:00 UTC, before the other two.
    EXPECT_EQ(texts("SELECT k FROM m ORDER BY d"), (std::vector<std::string>{"3", "1", "2"}));
    EXPECT_EQ(texts("SELECT k FROM m WHERE b > '2024-02-29 13:14:15.1234567'"),
              std::vector<std::string>{"2"});
}

TEST_F(Types, RowVersionIsAssignedOnInsertAndUpdateAndIncreases) {
    run("CREATE TABLE v (k int PRIMARY KEY, n nvarchar(10), rv timestamp);"
        "INSERT v (k, n) VALUES (1, N'a'); INSERT v (k, n) VALUES (2, N'b')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    auto versions = [&] {
        std::vector<Blob> r;
        for (const auto& row : rows("SELECT rv FROM v ORDER BY k"))
            r.push_back(std::get<Blob>(row[0]));
        return r;
    };
    const auto before = versions();
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[0].size(), 8u);
    EXPECT_LT(before[0], before[1]); // big-endian: bytes order as numbers
    const auto& col = sink.results().back().cols[0];
    EXPECT_TRUE(col.type.rowVersion);
    EXPECT_EQ(col.type.type, SqlType::Binary);
    EXPECT_EQ(sql::typeName(col.type), "timestamp");
    run("UPDATE v SET n = N'c' WHERE k = 1");
    const auto after = versions();
    EXPECT_GT(after[0], before[1]);
    EXPECT_EQ(after[1], before[1]);
}
