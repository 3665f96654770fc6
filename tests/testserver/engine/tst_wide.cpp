// Select lists wider than SQLite's 2,000 result columns, up to SQL Server's
// 4,096: values, names, types and row order as a narrow select gives them.

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/types.h"

using namespace tds;
using namespace tds::test;

namespace {

class Wide : public EngineTest {};

TEST_F(Wide, ExpressionListsUpToTheServersLimit) {
    run("CREATE TABLE w (k int, t nvarchar(10));"
        "INSERT w VALUES (1, N'eins'), (2, N'zwei'), (3, N'drei'), (2, N'zwei')");
    // Columns, parameters, literals and aliases mixed; ORDER BY and GROUP BY
    // name packed items by alias and by position.
    std::string list;
    for (int i = 0; i < 4096; ++i) {
        list += i ? ", " : "";
        switch (i % 4) {
        case 0:
            list += "k + " + std::to_string(i) + " AS c" + std::to_string(i);
            break;
        case 1:
            list += "t";
            break;
        case 2:
            list += "@p";
            break;
        default:
            list += "N'x" + std::to_string(i) + "' c" + std::to_string(i);
        }
    }
    run("DECLARE @p bigint = 5000000000; SELECT " + list +
        " FROM w GROUP BY k, t ORDER BY c4000 DESC");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].cols.size(), 4096u);
    ASSERT_EQ(rs[0].rows.size(), 3u); // the duplicate row is grouped away
    EXPECT_EQ(rs[0].cols[4000].name, "c4000");
    EXPECT_EQ(rs[0].cols[4001].name, "t");
    EXPECT_EQ(rs[0].cols[4001].type.type, SqlType::NVarChar);
    EXPECT_EQ(rs[0].cols[4002].type.type, SqlType::BigInt);
    EXPECT_EQ(rs[0].cols[4095].name, "c4095");
    EXPECT_EQ(rs[0].rows[0][4000], Value(std::int64_t(4003)));
    EXPECT_EQ(rs[0].rows[2][4000], Value(std::int64_t(4001)));
    EXPECT_EQ(rs[0].rows[0][4001], Value(std::string("drei")));
    EXPECT_EQ(rs[0].rows[1][4094], Value(std::int64_t(5000000000)));
    EXPECT_EQ(rs[0].rows[1][4095], Value(std::string("x4095")));
    run("SELECT " + list + ", 1 FROM w");
    ASSERT_FALSE(sink.errors().empty());
    EXPECT_EQ(sink.errors()[0].number, 1056);
}

TEST_F(Wide, StarsOfWideTablesKeepTheirColumnTypes) {
    std::string cols;
    for (int i = 0; i < 1024; ++i)
        cols += (i ? ", " : "") + ("c" + std::to_string(i)) + (i % 2 ? " varchar(5)" : " int");
    run("CREATE TABLE v (" + cols + ")");
    run("INSERT v (c0, c1, c1023) VALUES (7, 'a', 'z')");
    const auto r = rows("SELECT DISTINCT x.*, v.*, x.* FROM v x JOIN v ON v.c0 = x.c0");
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].size(), 3072u);
    const auto rs = sink.results();
    EXPECT_EQ(rs[0].cols[2048 + 1].type.type, SqlType::VarChar);
    EXPECT_EQ(rs[0].cols[2048 + 1].type.length, 5);
    EXPECT_EQ(rs[0].cols[1024].name, "c0");
    EXPECT_EQ(r[0][3071], Value(std::string("z")));
    EXPECT_EQ(r[0][1024], Value(std::int64_t(7)));
    EXPECT_EQ(r[0][2], Value(Null{}));
    EXPECT_EQ(error("SELECT x.*, x.*, x.*, x.*, x.* FROM v x").number, 1056);
}

} // namespace
