// TRY ... CATCH: which errors a TRY block takes, what the CATCH block sees of
// them, THROW and RAISERROR there, and the transaction state.

#include "tests/testserver/engine/engine_fixture.h"

namespace tds::test {
namespace {

class TryCatch : public EngineTest {
protected:
    // The values of the batch's result sets, one text per result set's first row.
    std::vector<std::string> firstRows(const std::string& batch) {
        std::vector<std::string> out;
        for (const auto& rs : run(batch).results()) {
            std::string line;
            for (const auto& v : rs.rows.empty() ? std::vector<Value>{} : rs.rows[0])
                line += (line.empty() ? "" : "|") + (isNull(v) ? std::string("NULL") : text(v));
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(TryCatch, AnErrorGoesToTheCatchBlockAndTheBatchGoesOn) {
    const auto r = firstRows("SELECT ERROR_NUMBER()\n"
                             "BEGIN TRY\n"
                             "  SELECT 'before'\n"
                             "  SELECT 1/0\n"
                             "  SELECT 'skipped'\n"
                             "END TRY\n"
                             "BEGIN CATCH\n"
                             "  SELECT ERROR_NUMBER(), ERROR_MESSAGE(), ERROR_SEVERITY(), "
                             "ERROR_STATE(), ERROR_LINE(), ERROR_PROCEDURE()\n"
                             "END CATCH\n"
                             "SELECT 'after', ERROR_NUMBER(), @@ERROR");
    EXPECT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    ASSERT_EQ(r.size(), 5u); // the failed SELECT 1/0 sends its columns before the error
    EXPECT_EQ(r[0], "NULL"); // outside a CATCH block
    EXPECT_EQ(r[1], "before");
    EXPECT_EQ(r[3], "8134|Divide by zero error encountered.|16|1|4|NULL");
    EXPECT_EQ(r[4], "after|NULL|0");
    // @@ERROR survives the BEGIN of a block, not the next statement.
    const auto e = firstRows("SELECT 1/0 BEGIN SELECT @@ERROR SELECT @@ERROR END");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[1], "8134");
    EXPECT_EQ(e[2], "0");
    // No error: the CATCH block is skipped.
    EXPECT_EQ(firstRows("BEGIN TRY SELECT 'ok' END TRY BEGIN CATCH SELECT 'caught' END CATCH; "
                        "SELECT 'next'"),
              (std::vector<std::string>{"ok", "next"}));
}

TEST_F(TryCatch, ErrorsOfCalledProceduresAndRaiserrorAreCaughtCompileErrorsAndInfosAreNot) {
    rows("CREATE PROCEDURE failing AS BEGIN INSERT INTO nowhere VALUES (1) END");
    rows("CREATE TABLE k (id int PRIMARY KEY)");
    rows("INSERT INTO k VALUES (1)");
    auto caught = [&](const std::string& body) {
        const auto r = firstRows("BEGIN TRY " + body +
                                 " END TRY BEGIN CATCH SELECT ERROR_NUMBER(), "
                                 "ERROR_PROCEDURE() END CATCH");
        EXPECT_TRUE(sink.errors().empty()) << body;
        return r.empty() ? std::string() : r.back();
    };
    EXPECT_EQ(caught("EXEC failing"), "208|failing"); // a name error one level down
    EXPECT_EQ(caught("INSERT INTO k VALUES (1)"), "2627|NULL");
    EXPECT_EQ(caught("RAISERROR('mine %d', 16, 3, 7)"), "50000|NULL");
    EXPECT_EQ(caught("THROW 51000, 'thrown', 2;"), "51000|NULL");
    EXPECT_EQ(caught("DECLARE @i int = 'x'"), "245|NULL");
    EXPECT_EQ(error("DECLARE @i int; SET @i = 'x'").number, 245); // and without a TRY
    // Severity 10 and below is a message, not an error.
    run("BEGIN TRY RAISERROR('note', 10, 1) SELECT 'went on' END TRY BEGIN CATCH SELECT "
        "'caught' END CATCH");
    ASSERT_EQ(sink.results().size(), 1u);
    EXPECT_EQ(text(sink.results()[0].rows[0][0]), "went on");
    // A name error in the TRY block's own batch ends the batch, as SQL Server does.
    EXPECT_EQ(error("BEGIN TRY SELECT * FROM nowhere END TRY BEGIN CATCH SELECT 'caught' END "
                    "CATCH")
                  .number,
              208);
    EXPECT_TRUE(sink.results().empty());
}

TEST_F(TryCatch, ThrowAndRaiserrorInsideCatchReachTheClient) {
    const auto rethrown = error("BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH THROW; END CATCH; "
                                "SELECT 'not reached'");
    EXPECT_EQ(rethrown.number, 8134);
    EXPECT_EQ(rethrown.severity, 16);
    EXPECT_EQ(sink.results().size(), 1u); // only the failed SELECT's columns
    const auto thrown = error("THROW 50001, 'custom', 5; SELECT 1");
    EXPECT_EQ(thrown.number, 50001);
    EXPECT_EQ(thrown.text, "custom");
    EXPECT_EQ(thrown.state, 5);
    EXPECT_TRUE(sink.results().empty()); // THROW ends the batch
    EXPECT_EQ(error("THROW;").number, 10704);
    EXPECT_EQ(error("THROW 100, 'low', 1;").number, 35100);
    // RAISERROR in a CATCH block reports and the batch goes on.
    run("BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH DECLARE @m nvarchar(200) = ERROR_MESSAGE(); "
        "RAISERROR(@m, 16, 1) END CATCH SELECT 'after'");
    ASSERT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(sink.errors()[0].number, 50000);
    EXPECT_EQ(sink.errors()[0].text, "Divide by zero error encountered.");
    EXPECT_EQ(text(sink.results().back().rows[0][0]), "after");
    // Nested: the inner CATCH handles its own error, the outer one what it throws.
    EXPECT_EQ(firstRows("BEGIN TRY\n BEGIN TRY SELECT 1/0 END TRY\n BEGIN CATCH THROW 50100, "
                        "'inner', 1; END CATCH\nEND TRY\nBEGIN CATCH SELECT ERROR_NUMBER(), "
                        "ERROR_MESSAGE() END CATCH")
                  .back(),
              "50100|inner");
}

TEST_F(TryCatch, InsideLoopsAndProcedures) {
    EXPECT_EQ(firstRows("DECLARE @i int = 0, @errors int = 0\n"
                        "WHILE @i < 3 BEGIN\n"
                        "  SET @i += 1\n"
                        "  BEGIN TRY IF @i = 2 RAISERROR('zwei', 16, 1) END TRY\n"
                        "  BEGIN CATCH SET @errors += 1 END CATCH\n"
                        "END\n"
                        "SELECT @i, @errors"),
              (std::vector<std::string>{"3|1"}));
    rows("CREATE PROCEDURE p_try AS BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH SELECT "
         "ERROR_PROCEDURE(), @@ERROR END CATCH");
    EXPECT_EQ(firstRows("EXEC p_try").back(), "p_try|8134");
    EXPECT_TRUE(sink.errors().empty());
    // BREAK in a CATCH block leaves the loop.
    EXPECT_EQ(firstRows("DECLARE @n int = 0 WHILE 1 = 1 BEGIN SET @n += 1 BEGIN TRY SELECT 1/0 "
                        "END TRY BEGIN CATCH BREAK END CATCH END SELECT @n")
                  .back(),
              "1");
}

TEST_F(TryCatch, XactStateTellsWhetherTheTransactionCanStillCommit) {
    rows("CREATE TABLE x (id int PRIMARY KEY)");
    EXPECT_EQ(firstRows("BEGIN TRAN INSERT INTO x VALUES (1) BEGIN TRY INSERT INTO x VALUES (1) "
                        "END TRY BEGIN CATCH SELECT XACT_STATE() END CATCH COMMIT "
                        "SELECT COUNT(*), XACT_STATE() FROM x"),
              (std::vector<std::string>{"1", "1|0"}));
    // Under XACT_ABORT the transaction is doomed: it cannot commit, only roll back.
    run("SET XACT_ABORT ON BEGIN TRAN INSERT INTO x VALUES (2) BEGIN TRY INSERT INTO x "
        "VALUES (2) END TRY BEGIN CATCH SELECT XACT_STATE() COMMIT END CATCH");
    ASSERT_FALSE(sink.results().empty());
    EXPECT_EQ(integer(sink.results()[0].rows[0][0]), -1);
    ASSERT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(sink.errors()[0].number, 3930);
    // XACT_ABORT makes that error end the batch and roll the transaction back.
    rows("SET XACT_ABORT OFF");
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) + @@TRANCOUNT FROM x")), 1);
}

} // namespace
} // namespace tds::test
