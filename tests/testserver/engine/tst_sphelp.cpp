// sp_help: the result sets SQL Server sends for a table, and its messages
// where a table has no indexes or constraints.

#include "tests/testserver/engine/engine_fixture.h"

namespace tds::test {
namespace {

class SpHelp : public EngineTest {};

TEST_F(SpHelp, TableHasObjectColumnsIdentityFilegroupIndexesAndConstraints) {
    rows("CREATE TABLE h (id int IDENTITY PRIMARY KEY, n nvarchar(20) COLLATE "
         "Latin1_General_CS_AS NOT NULL, d decimal(10,2) DEFAULT 0, c char(3), u int UNIQUE)");
    const auto rs = run("EXEC sp_help 'h'").results();
    ASSERT_EQ(rs.size(), 7u);
    const char* firstColumns[] = {
        "Name",       "Column_name",    "Identity", "RowGuidCol", "Data_located_on_filegroup",
        "index_name", "constraint_type"};
    for (std::size_t k = 0; k < rs.size(); ++k)
        EXPECT_EQ(rs[k].cols[0].name, firstColumns[k]) << k;
    EXPECT_EQ(text(rs[0].rows[0][2]), "user table");
    // Columns: type, length in bytes, precision, nullability, collation.
    ASSERT_EQ(rs[1].rows.size(), 5u);
    const auto& n = rs[1].rows[1];
    EXPECT_EQ(text(n[1]), "nvarchar");
    EXPECT_EQ(integer(n[3]), 40);
    EXPECT_EQ(text(n[6]), "no");
    EXPECT_EQ(text(n[9]), "Latin1_General_CS_AS");
    EXPECT_EQ(text(rs[1].rows[2][4]), "10   ");
    EXPECT_TRUE(isNull(rs[1].rows[2][9]));
    EXPECT_EQ(text(rs[1].rows[3][8]), "yes"); // a nullable char(3)
    EXPECT_EQ(text(rs[2].rows[0][0]), "id");
    // The primary key and the unique constraint, as indexes and as constraints.
    ASSERT_EQ(rs[5].rows.size(), 2u);
    EXPECT_EQ(text(rs[5].rows[0][1]), "clustered, unique, primary key located on PRIMARY");
    EXPECT_EQ(text(rs[5].rows[1][2]), "u");
    ASSERT_EQ(rs[6].rows.size(), 3u);
    EXPECT_EQ(text(rs[6].rows[0][0]), "PRIMARY KEY (clustered)");
    EXPECT_EQ(text(rs[6].rows[1][0]), "UNIQUE (non-clustered)");
    EXPECT_EQ(text(rs[6].rows[2][0]), "DEFAULT on column d");
    EXPECT_EQ(text(rs[6].rows[2][6]), "((0))");
}

TEST_F(SpHelp, PlainTableGetsMessagesAndUnknownNamesFail) {
    rows("CREATE TABLE p (k int)");
    auto& sink = run("EXEC sp_help p");
    EXPECT_EQ(sink.results().size(), 5u);
    std::vector<std::int32_t> numbers;
    for (const auto& m : sink.messages())
        numbers.push_back(m.number);
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{15472, 15469}));
    EXPECT_EQ(text(sink.results()[2].rows[0][0]), "No identity column defined.");
    EXPECT_EQ(error("EXEC sp_help 'nosuch'").number, 15009);
    // Without a name: the objects of the database.
    const auto all = rows("EXEC sp_help");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(text(all[0][0]), "p");
}

} // namespace
} // namespace tds::test
