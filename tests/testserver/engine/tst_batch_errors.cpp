// Errors in the middle of a batch: which tokens come before and after them,
// how far they end the batch, and what of the session outlives them.

#include "tests/testserver/engine/engine_fixture.h"

#include <cstdio>

using namespace tds;
using namespace tds::test;

namespace {

// The reply as a short text: C columns, R row, I/E message number, D(status,count).
std::string trace(const RecordingSink& sink) {
    std::string r;
    for (const auto& e : sink.events) {
        if (!r.empty())
            r += ' ';
        char buf[48];
        switch (e.kind) {
        case Event::Columns:
            r += 'C';
            break;
        case Event::Row:
            r += 'R';
            break;
        case Event::Message:
            r += (e.msg.error ? "E" : "I") + std::to_string(e.msg.number);
            break;
        case Event::Done:
            std::snprintf(buf, sizeof buf, "D(%x,%llu)", e.status,
                          static_cast<unsigned long long>(e.count));
            r += buf;
            break;
        default:
            r += '?';
            break;
        }
    }
    return r;
}

class BatchErrors : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        run("CREATE TABLE t (a int, s varchar(10)); INSERT INTO t VALUES (1, '1'); INSERT INTO t "
            "VALUES (0, 'x'); INSERT INTO t VALUES (2, '2')");
        ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    }
};

TEST_F(BatchErrors, RowsBeforeTheFailingOneThenErrorThenDoneWithError) {
    // Division by zero ends the statement only: the next one runs.
    run("SELECT a, 10 / a FROM t\nSELECT 2");
    EXPECT_EQ(trace(sink), "C R E8134 D(3,0) C R D(10,1)");
    EXPECT_EQ(sink.errors()[0].line, 1);
    EXPECT_EQ(sink.errors()[0].severity, 16);

    // A conversion error ends the batch.
    run("SELECT 1\nSELECT CAST(s AS int) FROM t\nSELECT 2");
    EXPECT_EQ(trace(sink), "C R D(11,1) C R E245 D(2,0)");
    EXPECT_EQ(sink.errors()[0].line, 2);
    EXPECT_EQ(sink.errors()[0].text,
              "Conversion failed when converting the varchar value 'x' to data type int.");

    // An int expression whose value leaves int's range fails on that row
    // instead of reaching the client cut to 32 bits.
    run("SELECT a * 2000000000 FROM t ORDER BY a; SELECT 3");
    EXPECT_EQ(trace(sink), "C R R E8115 D(3,0) C R D(10,1)");
    EXPECT_EQ(sink.errors()[0].text,
              "Arithmetic overflow error converting expression to data type int.");
}

TEST_F(BatchErrors, FailureOnTheFirstRowStillDescribesTheResult) {
    run("SELECT CAST(s AS int) AS n FROM t ORDER BY s DESC");
    EXPECT_EQ(trace(sink), "C E245 D(2,0)");
    ASSERT_EQ(sink.results().size(), 1u);
    EXPECT_EQ(sink.results()[0].cols[0].name, "n");
    // An aggregate needs every value before its row: nothing comes first.
    run("SELECT SUM(10 / a) FROM t; SELECT 1");
    EXPECT_EQ(trace(sink), "C E8134 D(3,0) C R D(10,1)");
}

TEST_F(BatchErrors, SortedRowsBeforeTheFailingOneAreSent) {
    // SQL Server computes the select list as rows leave the sort.
    run("SELECT a, CAST(s AS int) FROM t ORDER BY a DESC");
    EXPECT_EQ(trace(sink), "C R R E245 D(2,0)");
    const auto rs = sink.results();
    ASSERT_EQ(rs.at(0).rows.size(), 2u);
    EXPECT_EQ(integer(rs[0].rows[0][1]), 2);
    EXPECT_EQ(integer(rs[0].rows[1][1]), 1);
    EXPECT_EQ(rs[0].cols[1].type.type, SqlType::Int);
    run("SELECT 100 / a AS q FROM t ORDER BY a DESC; SELECT 1");
    EXPECT_EQ(trace(sink), "C R R E8134 D(3,0) C R D(10,1)");
    // A failing value inside a larger expression cannot be placed on its
    // row: the error comes before any row rather than a wrong value.
    run("SELECT CAST(s AS int) + 1 FROM t ORDER BY a DESC");
    EXPECT_EQ(trace(sink), "C E245 D(2,0)");
}

TEST_F(BatchErrors, RaiserrorBetweenResultSets) {
    run("SELECT 1; RAISERROR('mittendrin', 16, 1); SELECT 2");
    EXPECT_EQ(trace(sink), "C R D(11,1) E50000 D(3,0) C R D(10,1)");
    // Severity 10 and below is an INFO and no statement failed.
    run("SELECT 1; RAISERROR('nur Info', 10, 1); SELECT 2");
    EXPECT_EQ(trace(sink), "C R D(11,1) I50000 C R D(10,1)");
}

TEST_F(BatchErrors, RaiserrorOptionsAndFatalSeverities) {
    // Above 18 only WITH LOG; the statement fails, the batch goes on.
    run("RAISERROR('zu hoch', 19, 1); SELECT 1");
    EXPECT_EQ(trace(sink), "E2754 D(3,0) C R D(10,1)");
    run("RAISERROR('x', 16, 1) WITH NOWAIT, SETERROR; SELECT @@ERROR");
    EXPECT_EQ(integer(sink.results().at(0).rows.at(0).at(0)), 50000);
    EXPECT_EQ(error("RAISERROR('x', 16, 1) WITH SOFORT").number, 102);
    // 20 and above end the session: the rest of the batch does not run.
    run("RAISERROR('aus', 20, 1) WITH LOG; SELECT 1");
    EXPECT_EQ(trace(sink), "E2745 E50000 D(102,0)");
    EXPECT_EQ(sink.errors()[1].severity, 20);
    EXPECT_TRUE(session->connectionEnded());
}

TEST_F(BatchErrors, ArithabortAndXactAbortWidenWhatAnErrorEnds) {
    run("SET ARITHABORT ON; SELECT 1 / 0; SELECT 2");
    EXPECT_EQ(trace(sink), "C E8134 D(2,0)");
    run("SET ARITHABORT OFF; SELECT 1 / 0; SELECT 2");
    EXPECT_EQ(trace(sink), "C E8134 D(3,0) C R D(10,1)");

    // XACT_ABORT: a constraint violation rolls back the whole transaction.
    run("CREATE TABLE k (id int PRIMARY KEY)");
    run("SET XACT_ABORT ON; BEGIN TRAN; INSERT INTO k VALUES (1); INSERT INTO k VALUES (1); "
        "SELECT 'nie'");
    EXPECT_EQ(sink.errors().at(0).number, 2627);
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(integer(scalar("SELECT @@TRANCOUNT")), 0);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM k")), 0);
}

TEST_F(BatchErrors, TransactionAndTempTablesOutliveFailedStatements) {
    run("CREATE TABLE #tmp (x int); BEGIN TRAN; INSERT INTO t VALUES (7, '7'); INSERT INTO "
        "#tmp VALUES (1)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    // A syntax error rejects its batch; a missing table ends its batch; a
    // conversion error aborts its batch: none of them ends the transaction.
    EXPECT_EQ(error("SELECT * FROM t WHERE").number, 102);
    EXPECT_EQ(error("SELECT * FROM fehlt").number, 208);
    EXPECT_EQ(error("SELECT CAST('y' AS int)").number, 245);
    EXPECT_EQ(error("INSERT INTO t VALUES (8, '8'); SELECT 1 / 0").number, 8134);
    EXPECT_EQ(integer(scalar("SELECT @@TRANCOUNT")), 1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a IN (7, 8)")), 2);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM #tmp")), 1);
    run("ROLLBACK");
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a IN (7, 8)")), 0);
    // The temporary table made before the transaction stays; its row goes with it.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM #tmp")), 0);
}

TEST_F(BatchErrors, GoIsAnIdentifierNotASeparator) {
    // After "AS a" the word go can only start something that is not there.
    const Message m = error("select 1 as a go select 2 as b");
    EXPECT_EQ(m.number, 102);
    EXPECT_EQ(m.text, "Incorrect syntax near 'go'.");
    EXPECT_TRUE(sink.results().empty());
    // Where an alias may stand, go is one.
    run("select 1 go");
    ASSERT_EQ(sink.results().size(), 1u);
    EXPECT_EQ(sink.results()[0].cols[0].name, "go");
    // Alone, a name at the start of a batch is a procedure call.
    EXPECT_EQ(error("go").number, 2812);
    EXPECT_EQ(error("print 'a'\ngo\nprint 'b'").number, 102);
}

} // namespace
