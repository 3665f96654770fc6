// What the session does itself: USE, SET, variables, control flow,
// transactions, WAITFOR and cancelling, conversions and @@ values.

#include "tests/testserver/engine/engine_fixture.h"

#include <future>
#include <thread>

using namespace tds;
using namespace tds::test;

namespace {

class Statements : public EngineTest {};

// Records a batch and cancels it from another thread once its first statement
// is done, so the cancel reaches the statement after it while that one runs.
class CancellingSink : public RecordingSink {
public:
    explicit CancellingSink(std::atomic<bool>& cancel)
        : m_stopper([&cancel, done = m_firstDone.get_future()] {
              done.wait_for(std::chrono::seconds(20));
              cancel = true;
          }) {}
    ~CancellingSink() override {
        if (!m_signalled.exchange(true))
            m_firstDone.set_value();
        m_stopper.join();
    }

    void done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
              std::uint16_t curCmd) override {
        RecordingSink::done(kind, status, rowCount, curCmd);
        if (!m_signalled.exchange(true))
            m_firstDone.set_value();
    }

    // Events after the first statement's done.
    std::size_t eventsAfterFirstDone() const {
        for (std::size_t i = 0; i < events.size(); ++i)
            if (events[i].kind == Event::Done)
                return events.size() - i - 1;
        return events.size();
    }

private:
    std::promise<void> m_firstDone;
    std::atomic<bool> m_signalled{false};
    std::thread m_stopper;
};

TEST_F(Statements, UseChangesDatabaseWithEnvChangeAndInfo) {
    run("CREATE DATABASE Zweite");
    run("USE [zweite]");
    ASSERT_TRUE(sink.errors().empty());
    ASSERT_GE(sink.events.size(), 3u);
    EXPECT_EQ(sink.events[0].kind, Event::DbChange);
    EXPECT_EQ(sink.events[0].oldDb, "master");
    EXPECT_EQ(sink.events[0].newDb, "Zweite"); // the name as the database spells it
    EXPECT_EQ(sink.events[1].msg.number, 5701);
    EXPECT_EQ(sink.events[1].msg.text, "Changed database context to 'Zweite'.");
    EXPECT_EQ(session->currentDatabase(), "Zweite");
    EXPECT_EQ(text(scalar("SELECT DB_NAME()")), "Zweite");
}

TEST_F(Statements, CrossDatabaseNames) {
    run("CREATE DATABASE Lager; USE Lager; CREATE TABLE Teile (Nr int, Name varchar(20)); "
        "INSERT INTO Teile VALUES (1, 'Schraube'); USE master");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(text(scalar("SELECT Name FROM Lager..Teile")), "Schraube");
    EXPECT_EQ(text(scalar("SELECT t.Name FROM [Lager].[dbo].[Teile] t WHERE t.Nr = 1")),
              "Schraube");
    EXPECT_EQ(error("SELECT * FROM Nirgendwo..Teile").number, 208);
}

TEST_F(Statements, GlobalsAndBuiltins) {
    const std::string version = text(scalar("SELECT @@VERSION"));
    EXPECT_NE(version.find("Microsoft SQL Server 2005 - 9.00.1399.06"), std::string::npos)
        << version;
    EXPECT_EQ(text(scalar("SELECT @@SERVERNAME")), "TESTSERVER");
    EXPECT_GE(integer(scalar("SELECT @@SPID")), 50);
    EXPECT_EQ(text(scalar("SELECT SERVERPROPERTY('ProductVersion')")), "9.00.1399.06");
    EXPECT_EQ(text(scalar("SELECT SUSER_SNAME()")), "tester");
    // @@ROWCOUNT follows the previous statement.
    run("CREATE TABLE t (a int); INSERT INTO t VALUES (1); INSERT INTO t SELECT a FROM t; SELECT "
        "@@ROWCOUNT");
    EXPECT_EQ(integer(sink.results().back().rows[0][0]), 1);
    run("SELECT a FROM t; SELECT @@ROWCOUNT");
    EXPECT_EQ(integer(sink.results().back().rows[0][0]), 2);
    // Unnamed expressions have no column name, as in SQL Server.
    run("SELECT 1, @@SPID, 'x' AS Name, COUNT(*) FROM t");
    const auto cols = sink.results()[0].cols;
    EXPECT_EQ(cols[0].name, "");
    EXPECT_EQ(cols[1].name, "");
    EXPECT_EQ(cols[2].name, "Name");
    EXPECT_EQ(cols[3].name, "");
    EXPECT_EQ(error("SELECT @@GIBTSNICHT").number, 137);
}

// Paging: ORDER BY ... OFFSET n ROWS [FETCH NEXT m ROWS ONLY].
TEST_F(Statements, OffsetFetchPagesAnOrderedResult) {
    run("create table pg (n int)"
        " insert pg values (1), (2), (3), (4), (5)");
    auto column = [&](const std::string& sql) {
        std::vector<std::int64_t> out;
        for (const auto& r : rows(sql))
            out.push_back(integer(r[0]));
        return out;
    };
    EXPECT_EQ(column("select n from pg order by n offset 1 rows fetch next 2 rows only"),
              (std::vector<std::int64_t>{2, 3}));
    EXPECT_EQ(column("select n from pg order by n desc offset 3 rows"),
              (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(column("declare @p int = 2, @size int = 2; select n from pg order by n"
                     " offset (@p - 1) * @size rows fetch first @size row only"),
              (std::vector<std::int64_t>{3, 4}));
    EXPECT_EQ(column("select x.n from (select n from pg order by n offset 0 rows"
                     " fetch next 2 rows only) x order by x.n desc"),
              (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(error("select top 2 n from pg order by n offset 1 rows").number, 10741);
    EXPECT_EQ(error("select n from pg offset 1 rows").number, 102);
}

// & | ^ stand on the level of + and -, evaluated left to right.
TEST_F(Statements, BitwiseOperatorsShareTheLevelOfAddition) {
    const auto r = rows("declare @f int = 5; select 5 & 3 + 1, 12 & 4 - 4, 5 ^ 3, 1 + 6 ^ 3,"
                        " 10 - 2 | 1, 2 * 3 | 1, @f ^ 1 + 1, (5 & 3) + 1");
    ASSERT_EQ(r.size(), 1u);
    std::vector<std::int64_t> got;
    for (const auto& v : r[0])
        got.push_back(integer(v));
    EXPECT_EQ(got, (std::vector<std::int64_t>{2, 0, 6, 4, 9, 7, 5, 2}));
}

TEST_F(Statements, TryConversionsChooseAndIdentCurrent) {
    auto r = rows("select try_cast('x' as int), try_cast('12' as int),"
                  " try_convert(date, '2024-02-30'), try_convert(int, '7'),"
                  " try_cast(300 as tinyint)");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(isNull(r[0][0]));
    EXPECT_EQ(integer(r[0][1]), 12);
    EXPECT_TRUE(isNull(r[0][2]));
    EXPECT_EQ(integer(r[0][3]), 7);
    EXPECT_TRUE(isNull(r[0][4]));
    r = rows("select choose(2, 'a', 'b', 'c'), choose(4, 'a', 'b'), choose(null, 1, 2)");
    EXPECT_EQ(r[0][0], Value(std::string("b")));
    EXPECT_TRUE(isNull(r[0][1]));
    EXPECT_TRUE(isNull(r[0][2]));
    run("create table idt (id int identity(1,1), v int) create table noid (v int)");
    EXPECT_EQ(integer(scalar("select ident_current('idt')")), 1);
    run("insert idt (v) values (1), (2)");
    EXPECT_EQ(integer(scalar("select ident_current('dbo.idt')")), 2);
    EXPECT_TRUE(isNull(scalar("select ident_current('noid')")));
    run("insert noid values (3), (null), (4)");
    EXPECT_EQ(scalar("select string_agg(v, ', ') from noid"), Value(std::string("3, 4")));
    EXPECT_EQ(error("select string_agg(v, ',') within group (order by v) from noid").number, 102);
    // STRING_SPLIT, also joined and in a subquery.
    auto r2 = rows("select value, ordinal from string_split(N'x;\xC3\xBC;;z', ';', 1)"
                   " order by ordinal desc");
    ASSERT_EQ(r2.size(), 4u);
    EXPECT_EQ(r2[2], (std::vector<Value>{std::string("\xC3\xBC"), std::int64_t(2)}));
    EXPECT_EQ(r2[1][0], Value(std::string()));
    EXPECT_EQ(integer(scalar("declare @l varchar(20) = '3,4'; select sum(n.v) from noid n"
                             " join string_split(@l, ',') s on n.v = cast(s.value as int)")),
              7);
    EXPECT_EQ(integer(scalar("select count(*) from noid where v in"
                             " (select value from string_split('4,5', ','))")),
              1);
    EXPECT_EQ(integer(scalar("select count(*) from string_split(null, ',')")), 0);
    EXPECT_EQ(error("select * from string_split('a,b', ',,')").number, 214);
}

TEST_F(Statements, ExpressionTypes) {
    run("SELECT 1, 3000000000, 1.5, 'abc', 0x01, NULL");
    const auto cols = sink.results()[0].cols;
    EXPECT_EQ(cols[0].type.type, SqlType::Int);
    EXPECT_EQ(cols[1].type.type, SqlType::BigInt);
    EXPECT_EQ(cols[2].type.type, SqlType::Float);
    EXPECT_EQ(cols[3].type.type, SqlType::NVarChar);
    EXPECT_EQ(cols[3].type.length, 4000);
    EXPECT_EQ(cols[4].type.type, SqlType::VarBinary);
    EXPECT_EQ(cols[5].type.type, SqlType::Int);
    run("SELECT REPLICATE('x', 5000)");
    EXPECT_EQ(sink.results()[0].cols[0].type.length, -1);
}

struct ValueCase {
    const char* expr;
    const char* expected;
};

class Functions : public EngineTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(Functions, Evaluate) {
    EXPECT_EQ(text(scalar(std::string("SELECT ") + GetParam().expr)), GetParam().expected)
        << GetParam().expr;
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Functions,
    ::testing::Values(
        ValueCase{"LEN('abc  ')", "3"}, ValueCase{"LEN(N'Grüße')", "5"},
        ValueCase{"DATALENGTH(0x0102)", "2"}, ValueCase{"ISNULL(NULL, 'leer')", "leer"},
        ValueCase{"'a' + 'b' + 'c'", "abc"},
        ValueCase{"LEFT('Müller', 2) + RIGHT('Müller', 2)", "Müer"},
        ValueCase{"UPPER(N'straße ä')", "STRAßE Ä"}, ValueCase{"CHARINDEX('B', 'abc')", "2"},
        ValueCase{"SUBSTRING('abcdef', 2, 3)", "bcd"},
        ValueCase{"CONVERT(varchar(10), '2024-02-29 13:14:15', 104)", "29.02.2024"},
        ValueCase{"CONVERT(varchar(19), CAST('2024-02-29 13:14:15' AS datetime), 120)",
                  "2024-02-29 13:14:15"},
        ValueCase{"CAST('2024-02-29T13:14:15.123' AS datetime)", "2024-02-29 13:14:15.123"},
        ValueCase{"CAST('29.02.2024' AS date)", "2024-02-29"},
        ValueCase{"CAST(12.345 AS decimal(5, 1))", "12.300000"},
        ValueCase{"CAST(' 42 ' AS int)", "42"}, ValueCase{"CAST(7 AS varchar(10)) + 'x'", "7x"},
        ValueCase{"CAST('abcdef' AS char(3))", "abc"},
        ValueCase{"DATEADD(month, 1, '2024-01-31')", "2024-02-29 00:00:00.000"},
        ValueCase{"DATEDIFF(day, '2024-02-28', '2024-03-01')", "2"},
        ValueCase{"DATEPART(year, '2024-02-29')", "2024"},
        ValueCase{"YEAR('2024-02-29') * 100 + MONTH('2024-02-29')", "202402"},
        ValueCase{"CASE WHEN N'ÄBC' LIKE 'äb%' THEN 1 ELSE 0 END", "1"},
        ValueCase{"CASE WHEN 'b' LIKE '[a-c]' THEN 1 ELSE 0 END", "1"},
        ValueCase{"CASE WHEN 'd' LIKE '[^a-c]' THEN 1 ELSE 0 END", "1"},
        ValueCase{"CASE WHEN '50%' LIKE '50[%]' THEN 1 ELSE 0 END", "1"},
        ValueCase{"STUFF('abcdef', 2, 3, 'XY')", "aXYef"}, ValueCase{"QUOTENAME('a]b')", "[a]]b]"},
        ValueCase{"ISNUMERIC('12.5')", "1"}, ValueCase{"REVERSE('abc')", "cba"}));

TEST_F(Statements, ConversionErrors) {
    EXPECT_EQ(error("SELECT CAST('abc' AS int)").number, 245);
    EXPECT_EQ(error("SELECT CAST(300 AS tinyint)").number, 8115);
    EXPECT_EQ(error("SELECT CAST('2024-02-30' AS datetime)").number, 241);
}

TEST_F(Statements, VariablesAndControlFlow) {
    run("DECLARE @i int = 0, @s varchar(20) = 'x' "
        "WHILE @i < 3 BEGIN SET @i = @i + 1 SET @s = @s + CAST(@i AS varchar(2)) END "
        "IF @i = 3 PRINT 'drei' ELSE PRINT 'falsch' "
        "IF @i = 4 BEGIN PRINT 'nein' PRINT 'nein' END ELSE BEGIN PRINT 'sonst' END "
        "SELECT @s, @i");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto m = sink.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].text, "drei");
    EXPECT_EQ(m[1].text, "sonst");
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(text(rs[0].rows[0][0]), "x123");
    EXPECT_EQ(integer(rs[0].rows[0][1]), 3);
    // The last DONE closes the batch.
    EXPECT_EQ(sink.dones().back()->status & DoneMore, 0);
    run("IF 1 = 0 SELECT 1");
    ASSERT_EQ(sink.dones().size(), 1u);
    EXPECT_EQ(sink.dones()[0]->status, 0);
    run("IF OBJECT_ID('Fehlt') IS NULL PRINT 'fehlt'");
    EXPECT_EQ(sink.messages().at(0).text, "fehlt");
}

TEST_F(Statements, TransactionsRollBack) {
    run("CREATE TABLE t (a int)");
    run("BEGIN TRAN; INSERT INTO t VALUES (1); SELECT @@TRANCOUNT");
    EXPECT_EQ(integer(sink.results()[0].rows[0][0]), 1);
    EXPECT_EQ(session->transactionCount(), 1);
    run("ROLLBACK");
    EXPECT_EQ(session->transactionCount(), 0);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t")), 0);
    ASSERT_TRUE(session->beginTransaction());
    run("INSERT INTO t VALUES (2)");
    ASSERT_TRUE(session->commitTransaction());
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t")), 1);
    Message err;
    EXPECT_FALSE(session->rollbackTransaction(&err));
    EXPECT_EQ(err.number, 3903);
}

TEST_F(Statements, RowcountTextsizeAndNocount) {
    run("CREATE TABLE t (a int, b text); INSERT INTO t VALUES (1, 'abcdef'); INSERT INTO t VALUES "
        "(2, 'ghijkl')");
    run("SET ROWCOUNT 1; SELECT a FROM t; SET ROWCOUNT 0");
    EXPECT_EQ(sink.results()[0].rows.size(), 1u);
    run("SET TEXTSIZE 3; SELECT b FROM t; SET TEXTSIZE 2147483647");
    EXPECT_EQ(text(sink.results()[0].rows[0][0]), "abc");
    run("SET NOCOUNT ON; UPDATE t SET a = a + 1; SET NOCOUNT OFF");
    EXPECT_EQ(sink.dones()[0]->status & DoneCount, 0);
    // ODBC sends these at connect; they are taken silently.
    run("SET ANSI_NULLS ON SET QUOTED_IDENTIFIER ON SET TRANSACTION ISOLATION LEVEL READ COMMITTED "
        "SET DATEFORMAT dmy");
    EXPECT_TRUE(sink.errors().empty());
    ASSERT_EQ(sink.dones().size(), 1u);
}

TEST_F(Statements, FmtOnlyDescribesWithoutRunning) {
    // Bulk-copy clients ask for a query's columns this way before they run it.
    run("CREATE TABLE t (a int, b nvarchar(5)); INSERT INTO t VALUES (1, 'x')");
    run("SET FMTONLY ON SELECT a, b FROM t DELETE FROM t SET FMTONLY OFF");
    ASSERT_TRUE(sink.errors().empty());
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].cols.size(), 2u);
    EXPECT_EQ(rs[0].cols[1].type.type, SqlType::NVarChar);
    EXPECT_TRUE(rs[0].rows.empty());
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t")), 1);
}

TEST_F(Statements, SelectIntoKeepsTypes) {
    run("CREATE TABLE q (a nvarchar(30) NOT NULL, b money); INSERT INTO q VALUES (N'ä', 1.5); "
        "SELECT a, b, b * 2 AS c INTO z FROM q; SELECT * FROM z");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].cols[0].type.type, SqlType::NVarChar);
    EXPECT_EQ(rs[0].cols[0].type.length, 30);
    EXPECT_FALSE(rs[0].cols[0].type.nullable);
    EXPECT_EQ(rs[0].cols[1].type.type, SqlType::Money);
    EXPECT_EQ(rs[0].cols[2].type.type, SqlType::Money); // money * int stays money
}

TEST_F(Statements, DropSeveralAndAlter) {
    run("CREATE TABLE a (x int); CREATE TABLE b (y int); ALTER TABLE a ADD z nvarchar(10) NULL, w "
        "datetime; "
        "INSERT INTO a (x, z, w) VALUES (1, N'ü', '2024-01-01'); SELECT z, w FROM a");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(sink.results()[0].cols[1].type.type, SqlType::DateTime);
    run("DROP TABLE a, fehlt, b");
    ASSERT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(sink.errors()[0].number, 3701);
    EXPECT_EQ(error("SELECT * FROM b").number, 208);
}

TEST_F(Statements, WaitforIsCancelled) {
    const auto start = std::chrono::steady_clock::now();
    {
        CancellingSink cancelling(cancel);
        session->executeBatch("SELECT 0; WAITFOR DELAY '00:00:30'; SELECT 1", cancelling, cancel);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        // Nothing after a cancel: the protocol side answers.
        EXPECT_EQ(cancelling.eventsAfterFirstDone(), 0u);
    }
    cancel = false;
    run("WAITFOR DELAY '00:00:00.010'; SELECT 1");
    EXPECT_EQ(sink.results().size(), 1u);
}

TEST_F(Statements, StreamingStopsWhenTheClientStops) {
    createBigRows(dir.path(), 5000);
    run("USE Musterfirma");
    sink.stopAfterRows = 10;
    run("SELECT * FROM Messwerte; SELECT 1");
    EXPECT_EQ(sink.rowCount(), 10u);
    EXPECT_TRUE(sink.dones().empty());
}

TEST_F(Statements, InjectionThroughQuickQueryNameStaysInsideTheBrackets) {
    createSampleDatabase(dir.path());
    run("USE Musterfirma");
    // The quick query puts the name between brackets as it stands.
    run("SELECT TOP 1 * from [Spezial]]Tabelle]");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(sink.results()[0].rows.size(), 1u);
    // Without the doubling the name ends early and the rest is a syntax error; nothing runs.
    run("SELECT * from [Spezial]Tabelle]");
    ASSERT_FALSE(sink.errors().empty());
    EXPECT_EQ(sink.errors()[0].number, 102);
    EXPECT_EQ(sink.errors()[0].text, "Incorrect syntax near ']'.");
    run("SELECT * from [Spezial]Tabelle]; DROP TABLE Kunden]");
    EXPECT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM Kunden")), 12);
}

} // namespace

namespace {

TEST_F(Statements, SelectListAliasFormNamesTheColumn) {
    run("SELECT i = 1, [b c] = 'x', 'lit' = 2, d = (SELECT e = 5), f = CASE WHEN 1 = 1 THEN 2 "
        "END");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    std::vector<std::string> names;
    for (const auto& c : rs[0].cols)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"i", "b c", "lit", "d", "f"}));
    EXPECT_EQ(integer(rs[0].rows[0][3]), 5);
    // An assignment keeps its form; comparisons elsewhere are untouched.
    EXPECT_EQ(integer(scalar("DECLARE @v int; SELECT @v = 7; SELECT n = @v WHERE 1 = 1")), 7);
}

TEST_F(Statements, UnknownWordsAreSyntaxErrorsUnlessTheyNameAProcedure) {
    const tds::Message garbage = error("selec 1 frm");
    EXPECT_EQ(garbage.number, 102);
    EXPECT_EQ(garbage.text, "Incorrect syntax near 'frm'.");
    EXPECT_EQ(error("exec selec 1 frm").number, 102);
    EXPECT_EQ(error("selec").number, 2812);
    EXPECT_EQ(error("exec selec 1, @x = N'a' output").number, 2812);
}

TEST_F(Statements, TableVariablesLiveForTheirBatch) {
    EXPECT_EQ(integer(scalar("DECLARE @t TABLE (n int, s nvarchar(10)); INSERT INTO @t VALUES "
                             "(1, N'a'), (2, N'b'); UPDATE @t SET n = n * 10 WHERE s = N'b'; "
                             "DELETE FROM @t WHERE n = 1; SELECT SUM(x.n) FROM @t AS x")),
              20);
    // Gone with the batch: the next one may declare the name again.
    EXPECT_EQ(integer(scalar("DECLARE @t TABLE (n int); SELECT COUNT(*) FROM @t")), 0);
    run("SELECT * FROM @t");
    EXPECT_FALSE(sink.errors().empty());
}

TEST_F(Statements, ReplicateGivesTheWholeValueOrAnError) {
    EXPECT_EQ(integer(scalar("SELECT LEN(REPLICATE('ab', 1500000))")), 3000000);
    EXPECT_TRUE(isNull(scalar("SELECT REPLICATE('x', -1)")));
    EXPECT_EQ(error("SELECT REPLICATE('abc', 400000000)").number, 701);
    EXPECT_TRUE(sink.results().empty() || sink.results()[0].rows.empty());
}

TEST(Sessions, ShareFilesAndWaitForLocksUntilCancelled) {
    TempDir dir;
    ServerConfig cfg;
    cfg.dataDir = dir.path();
    cfg.logins["a"] = "1";
    Session writer(cfg), other(cfg);
    ASSERT_TRUE(writer.login("a", "1", "").ok);
    ASSERT_TRUE(other.login("a", "1", "").ok);
    std::atomic<bool> cancel{false};
    RecordingSink s1, s2;
    writer.executeBatch("CREATE TABLE t (a int); BEGIN TRAN; INSERT INTO t VALUES (1)", s1, cancel);
    ASSERT_TRUE(s1.errors().empty());
    // Readers see the committed state while the writer holds its transaction.
    other.executeBatch("SELECT COUNT(*) FROM t", s2, cancel);
    ASSERT_EQ(s2.results().size(), 1u);
    EXPECT_EQ(integer(s2.results()[0].rows[0][0]), 0);
    // A second writer waits; a cancel ends the wait at once.
    std::atomic<bool> cancel2{false};
    const auto start = std::chrono::steady_clock::now();
    {
        CancellingSink cancelling(cancel2);
        other.executeBatch("SELECT 0; INSERT INTO t VALUES (2)", cancelling, cancel2);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    }
    s1.clear();
    writer.executeBatch("COMMIT", s1, cancel);
    ASSERT_TRUE(s1.errors().empty());
    s2.clear();
    other.executeBatch("INSERT INTO t VALUES (2); SELECT COUNT(*) FROM t", s2, cancel);
    ASSERT_TRUE(s2.errors().empty()) << s2.errors()[0].text;
    EXPECT_EQ(integer(s2.results()[0].rows[0][0]), 2);
}

} // namespace
