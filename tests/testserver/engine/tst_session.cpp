// Logins, databases, batches and their DONE statuses, messages and errors.

#include "tests/testserver/engine/engine_fixture.h"

#include <filesystem>

using namespace tds;
using namespace tds::test;

namespace {

TEST(Login, WrongPasswordAndUnknownUserGetTheSameError) {
    TempDir dir;
    ServerConfig cfg;
    cfg.dataDir = dir.path();
    cfg.logins["sa"] = "pw";
    for (const auto& [user, pw] :
         std::vector<std::pair<std::string, std::string>>{{"sa", "PW"}, {"bob", "pw"}, {"", ""}}) {
        Session s(cfg);
        const LoginResult r = s.login(user, pw, "");
        EXPECT_FALSE(r.ok);
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0].number, 18456);
        EXPECT_EQ(r.messages[0].severity, 14);
        EXPECT_TRUE(r.messages[0].error);
        EXPECT_EQ(r.messages[0].text, "Login failed for user '" + user + "'.");
    }
}

TEST(Login, DefaultDatabaseIsMasterAndInfosAreSent) {
    TempDir dir;
    ServerConfig cfg;
    cfg.dataDir = dir.path();
    cfg.logins["sa"] = "pw";
    Session s(cfg);
    const LoginResult r = s.login("SA", "pw", ""); // login names ignore case
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.database, "master");
    EXPECT_EQ(s.currentDatabase(), "master");
    ASSERT_EQ(r.infos.size(), 2u);
    EXPECT_EQ(r.infos[0].number, 5701);
    EXPECT_EQ(r.infos[0].text, "Changed database context to 'master'.");
    EXPECT_EQ(r.infos[1].number, 5703);
    EXPECT_EQ(r.infos[1].text, "Changed language setting to us_english.");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir.path()) / "master.db"));
}

TEST(Login, UnknownOrUnsafeDatabaseFails) {
    TempDir dir;
    ServerConfig cfg;
    cfg.dataDir = dir.path();
    cfg.logins["sa"] = "pw";
    for (const std::string db : {"Nirgendwo", "../etc", "a/b"}) {
        Session s(cfg);
        const LoginResult r = s.login("sa", "pw", db);
        EXPECT_FALSE(r.ok) << db;
        ASSERT_EQ(r.messages.size(), 2u);
        EXPECT_EQ(r.messages[0].number, 4060);
        EXPECT_EQ(r.messages[0].text,
                  "Cannot open database \"" + db + "\" requested by the login. The login failed.");
        EXPECT_EQ(r.messages[1].number, 18456);
    }
}

TEST(Login, IntegratedLoginIsRefused) {
    const Message m = Session::integratedLoginRefused();
    EXPECT_EQ(m.number, 18452);
    EXPECT_EQ(m.severity, 14);
    EXPECT_EQ(m.text, "Login failed. The login is from an untrusted domain and cannot be used with "
                      "Windows authentication.");
}

class Batches : public EngineTest {};

TEST_F(Batches, SelectStreamsRowsWithDeclaredTypes) {
    run("CREATE TABLE Kunden (Nr int NOT NULL PRIMARY KEY, Name nvarchar(40), Umsatz money, Seit "
        "datetime)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("INSERT INTO Kunden VALUES (1, N'Müller', 12.5, '2024-02-29 13:14:15'); INSERT Kunden "
        "VALUES (2, NULL, NULL, NULL)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("SELECT * FROM Kunden ORDER BY Nr");
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].cols.size(), 4u);
    EXPECT_EQ(rs[0].cols[0].name, "Nr");
    EXPECT_EQ(rs[0].cols[0].type.type, SqlType::Int);
    EXPECT_FALSE(rs[0].cols[0].type.nullable);
    EXPECT_EQ(rs[0].cols[0].table, "Kunden");
    EXPECT_EQ(rs[0].cols[1].type.type, SqlType::NVarChar);
    EXPECT_EQ(rs[0].cols[1].type.length, 40);
    EXPECT_TRUE(rs[0].cols[1].type.nullable);
    EXPECT_EQ(rs[0].cols[2].type.type, SqlType::Money);
    EXPECT_EQ(rs[0].cols[3].type.type, SqlType::DateTime);
    ASSERT_EQ(rs[0].rows.size(), 2u);
    EXPECT_EQ(text(rs[0].rows[0][1]), "Müller");
    EXPECT_EQ(text(rs[0].rows[0][2]), "12.5"); // exact numerics are kept as decimal text
    EXPECT_EQ(text(rs[0].rows[0][3]), "2024-02-29 13:14:15.000");
    EXPECT_TRUE(isNull(rs[0].rows[1][1]));
    const auto dones = sink.dones();
    ASSERT_EQ(dones.size(), 1u);
    EXPECT_EQ(dones[0]->status, DoneCount);
    EXPECT_EQ(dones[0]->count, 2u);
}

TEST_F(Batches, EveryStatementEndsWithItsDoneAndOnlyTheLastIsFinal) {
    run("CREATE TABLE t (a int); INSERT INTO t VALUES (1); INSERT INTO t SELECT a + 1 FROM t; "
        "SELECT a FROM t ORDER BY a");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto d = sink.dones();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0]->status, DoneMore); // CREATE: no count
    EXPECT_EQ(d[1]->status, DoneMore | DoneCount);
    EXPECT_EQ(d[1]->count, 1u);
    EXPECT_EQ(d[2]->status, DoneMore | DoneCount);
    EXPECT_EQ(d[2]->count, 1u);
    EXPECT_EQ(d[3]->status, DoneCount);
    EXPECT_EQ(d[3]->count, 2u);
}

TEST_F(Batches, StatementsWithoutSeparatorsAreSplit) {
    // The workbench joins the editor's lines with blanks before sending.
    run("create table t (a int, b varchar(10)) insert into t (a, b) values (1, 'x') "
        "insert into t select a + 1, b from t update t set b = 'y' where a = 2 select count(*) "
        "from t select 2");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 2u);
    EXPECT_EQ(integer(rs[0].rows[0][0]), 2);
    EXPECT_EQ(integer(rs[1].rows[0][0]), 2);
    EXPECT_EQ(sink.dones().size(), 6u);
}

TEST_F(Batches, PrintAndRaiserror) {
    run("PRINT 'Hallo ' + 'Welt'; RAISERROR('Wert %s ist %d', 10, 3, 'x', 42); RAISERROR('schlimm "
        "%5s|', 16, 1, 'ab'); SELECT 1");
    const auto m = sink.messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].number, 0);
    EXPECT_EQ(m[0].severity, 0);
    EXPECT_FALSE(m[0].error);
    EXPECT_EQ(m[0].text, "Hallo Welt");
    EXPECT_EQ(m[1].number, 50000);
    EXPECT_EQ(m[1].severity, 10);
    EXPECT_EQ(m[1].state, 3);
    EXPECT_FALSE(m[1].error);
    EXPECT_EQ(m[1].text, "Wert x ist 42");
    EXPECT_TRUE(m[2].error);
    EXPECT_EQ(m[2].severity, 16);
    EXPECT_EQ(m[2].text, "schlimm    ab|");
    // The batch goes on after RAISERROR.
    ASSERT_EQ(sink.results().size(), 1u);
}

struct ErrorCase {
    const char* setup;
    const char* sql;
    int number;
    int severity;
    const char* text;
    bool batchGoesOn; // does a following SELECT still run?
};

class Errors : public EngineTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(Errors, MapToSqlServerMessages) {
    const ErrorCase& c = GetParam();
    if (*c.setup) {
        run(c.setup);
        ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    }
    run(std::string(c.sql) + "\nSELECT 'danach'");
    const auto e = sink.errors();
    ASSERT_FALSE(e.empty()) << c.sql;
    EXPECT_EQ(e[0].number, c.number) << e[0].text;
    EXPECT_EQ(e[0].severity, c.severity);
    EXPECT_EQ(e[0].text, c.text);
    // A SELECT that fails while running has described its result first.
    const auto rs = sink.results();
    const bool goesOn =
        !rs.empty() && !rs.back().rows.empty() && text(rs.back().rows[0][0]) == "danach";
    EXPECT_EQ(goesOn, c.batchGoesOn) << c.sql;
    // The batch ends with a final DONE; the failed statement's DONE has DONE_ERROR.
    const auto d = sink.dones();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.back()->status & DoneMore, 0);
    bool errorDone = false;
    for (const auto* x : d)
        errorDone = errorDone || (x->status & DoneError);
    EXPECT_TRUE(errorDone);
}

const char* kTables =
    "CREATE TABLE Kunden (Nr int CONSTRAINT PK_Kunden PRIMARY KEY, Name nvarchar(20) NOT NULL, "
    "Alter_ int CONSTRAINT CK_Alter CHECK (Alter_ >= 0));"
    "CREATE TABLE Auftrag (Id int IDENTITY(1,1) PRIMARY KEY, Kunde int CONSTRAINT "
    "FK_Auftrag_Kunden "
    "REFERENCES Kunden(Nr));"
    "INSERT INTO Kunden VALUES (1, 'A', 30); INSERT INTO Auftrag (Kunde) VALUES (1)";

INSTANTIATE_TEST_SUITE_P(
    Engine, Errors,
    ::testing::Values(
        ErrorCase{"", "SELECT * FROM Fehlt", 208, 16, "Invalid object name 'Fehlt'.", false},
        ErrorCase{"", "SELECT * FROM [Mit Leer]", 208, 16, "Invalid object name 'Mit Leer'.",
                  false},
        ErrorCase{kTables, "SELECT Nummer FROM Kunden", 207, 16, "Invalid column name 'Nummer'.",
                  false},
        ErrorCase{"", "SELECT * FROM WHERE", 102, 15, "Incorrect syntax near 'WHERE'.", false},
        ErrorCase{"", "SELECT [offen", 105, 15,
                  "Unclosed quotation mark after the character string 'offen\nSELECT 'danach''.",
                  false},
        ErrorCase{"", "SELECT 'offen", 105, 15,
                  "Unclosed quotation mark after the character string ''.", false},
        ErrorCase{kTables, "INSERT INTO Kunden VALUES (1, 'B', 1)", 2627, 14,
                  "Violation of PRIMARY KEY constraint 'PK_Kunden'. Cannot insert duplicate key in "
                  "object 'dbo.Kunden'.",
                  true},
        ErrorCase{kTables, "INSERT INTO Auftrag (Kunde) VALUES (99)", 547, 16,
                  "The INSERT statement conflicted with the FOREIGN KEY constraint "
                  "\"FK_Auftrag_Kunden\". The conflict "
                  "occurred in database \"master\", table \"dbo.Kunden\", column 'Nr'.",
                  true},
        ErrorCase{kTables, "DELETE FROM Kunden WHERE Nr = 1", 547, 16,
                  "The DELETE statement conflicted with the REFERENCE constraint "
                  "\"FK_Auftrag_Kunden\". The conflict "
                  "occurred in database \"master\", table \"dbo.Auftrag\", column 'Kunde'.",
                  true},
        ErrorCase{kTables, "UPDATE Kunden SET Alter_ = -1", 547, 16,
                  "The UPDATE statement conflicted with the CHECK constraint \"CK_Alter\". The "
                  "conflict occurred in "
                  "database \"master\", table \"dbo.Kunden\".",
                  true},
        ErrorCase{kTables, "INSERT INTO Kunden (Nr) VALUES (5)", 515, 16,
                  "Cannot insert the value NULL into column 'Name', table 'master.dbo.Kunden'; "
                  "column does not allow "
                  "nulls. INSERT fails.",
                  true},
        ErrorCase{kTables, "CREATE TABLE Kunden (x int)", 2714, 16,
                  "There is already an object named 'Kunden' in the database.", true},
        ErrorCase{"", "DROP TABLE Fehlt", 3701, 11,
                  "Cannot drop the table 'Fehlt', because it does not exist or you do not have "
                  "permission.",
                  true},
        ErrorCase{
            "", "USE Nirgendwo", 911, 16,
            "Database 'Nirgendwo' does not exist. Make sure that the name is entered correctly.",
            true},
        ErrorCase{"", "COMMIT", 3902, 16,
                  "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.", true},
        ErrorCase{"", "SELECT @x", 137, 15, "Must declare the scalar variable \"@x\".", false},
        ErrorCase{"", "EXEC sp_gibtsnicht", 2812, 16,
                  "Could not find stored procedure 'sp_gibtsnicht'.", true},
        // Conversion errors end the batch; overflow and division by zero the statement.
        ErrorCase{"", "SELECT CAST('x' AS int)", 245, 16,
                  "Conversion failed when converting the varchar value 'x' to data type int.",
                  false},
        ErrorCase{"", "SELECT 1 / 0", 8134, 16, "Divide by zero error encountered.", true},
        ErrorCase{"", "SELECT 7 % 0", 8134, 16, "Divide by zero error encountered.", true},
        ErrorCase{"", "SELECT 1.5e0 / 0", 8134, 16, "Divide by zero error encountered.", true},
        ErrorCase{"CREATE TABLE n (a int); INSERT INTO n VALUES (1); INSERT INTO n VALUES "
                  "(2147483647)",
                  "SELECT a + 1 FROM n", 8115, 16,
                  "Arithmetic overflow error converting expression to data type int.", true}));

} // namespace

namespace {

class Garbage : public EngineTest, public ::testing::WithParamInterface<const char*> {};

// Broken input never crashes or hangs the session: an error or nothing,
// and always a final DONE.
TEST_P(Garbage, EndsWithFinalDone) {
    run(GetParam());
    const auto d = sink.dones();
    ASSERT_FALSE(d.empty()) << GetParam();
    EXPECT_EQ(d.back()->status & DoneMore, 0) << GetParam();
    // The session still works afterwards.
    run("SELECT 1");
    EXPECT_EQ(sink.results().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Garbage,
    ::testing::Values("", ";", ";;;", "((((", "))))", "select", "select top", "select top (",
                      "select top 5", "select cast(", "select cast(1 as", "select convert(",
                      "select convert(int", "exec", "exec (", "execute @", "set", "set @", "set @x",
                      "declare", "declare @", "declare @x", "declare @x nosuchtype", "raiserror",
                      "raiserror(", "raiserror('x')", "raiserror('%s %d %', 1, 1)", "if", "if 1=1",
                      "else", "begin", "end end", "while 1=0", "drop", "drop table",
                      "drop database if exists", "drop index", "create", "create table",
                      "create table t", "create table t (", "create database", "alter table",
                      "alter table t add", "use", "use a b", "print", "waitfor", "waitfor delay",
                      "waitfor delay 'x'", "insert", "insert into", "update", "delete",
                      "truncate table", "x", "[x]", "@@", "@x", "N'", "select 1 /* offen",
                      "select [a", "select \"a", "select 0x", "select '%' like '[", "commit commit",
                      "rollback tran x", "save tran", "dbcc checkdb", "go", "select * from sys.",
                      "select * from a..", "select * from ....", "exec sp_executesql",
                      "exec sp_executesql N'select @p', N'@p int'",
                      "exec sp_executesql N'select 1', N'@p nosuchtype', 1", "exec sp_execute 99",
                      "exec sp_tables @table_type = ''", "sp_columns", "select a.b.c.d.e from t",
                      "select * into from t", "select @a = 1", "select 1 union",
                      "with x as (select 1)", "begin tran begin tran rollback rollback"));

} // namespace

namespace {

class Results : public EngineTest {};

TEST_F(Results, ValuesFitTheirDeclaredColumns) {
    // SQLite keeps what it is given; the stream brings it into the column's form.
    run("CREATE TABLE t (c nchar(4), v nvarchar(3), b binary(3), d datetime, x bit, m money, g "
        "uniqueidentifier)");
    run("INSERT INTO t VALUES (N'ä', N'abc   ', 0x01, '2024-02-29T10:11:12', 5, 12, "
        "'6f9619ff-8b86-d011-b42d-00c04fc964ff')");
    run("INSERT INTO t (d) VALUES ('kein Datum')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto r = rows("SELECT c, v, b, d, x, m, g FROM t ORDER BY c DESC");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(text(r[0][0]), "ä   ");
    EXPECT_EQ(text(r[0][1]), "abc");
    EXPECT_EQ(std::get<Blob>(r[0][2]), (Blob{1, 0, 0}));
    EXPECT_EQ(text(r[0][3]), "2024-02-29 10:11:12.000");
    EXPECT_EQ(integer(r[0][4]), 1);
    EXPECT_EQ(text(r[0][5]), "12");
    EXPECT_EQ(text(r[0][6]), "6f9619ff-8b86-d011-b42d-00c04fc964ff");
    EXPECT_TRUE(isNull(r[1][3])); // text that is no date cannot be sent as one
}

TEST_F(Results, ColumnsCarryTableNameIdentityAndAliases) {
    run("CREATE TABLE k (Nr int IDENTITY(1,1) PRIMARY KEY, Name nvarchar(10)); INSERT INTO k "
        "(Name) VALUES ('a')");
    run("SELECT Nr, Name AS [Preis in €], Name + 'x', UPPER(Name) AS Gross FROM k");
    const auto cols = sink.results()[0].cols;
    ASSERT_EQ(cols.size(), 4u);
    EXPECT_EQ(cols[0].table, "k");
    EXPECT_TRUE(cols[0].type.identity);
    EXPECT_FALSE(cols[0].type.nullable);
    EXPECT_EQ(cols[1].name, "Preis in €");
    EXPECT_EQ(cols[1].type.type, SqlType::NVarChar); // an alias keeps the column's type
    EXPECT_EQ(cols[2].name, "");
    EXPECT_EQ(cols[3].name, "Gross");
    EXPECT_EQ(integer(scalar("SELECT SCOPE_IDENTITY()")), 1);
}

TEST_F(Results, TempTablesBelongToTheirSession) {
    run("CREATE TABLE #t (a int); INSERT INTO #t VALUES (1); SELECT * INTO #u FROM #t");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM #u")), 1);
    Session other(config);
    ASSERT_TRUE(other.login("tester", "Geheim1!", "").ok);
    RecordingSink s;
    other.executeBatch("SELECT * FROM #t", s, cancel);
    ASSERT_EQ(s.errors().size(), 1u);
    EXPECT_EQ(s.errors()[0].text, "Invalid object name '#t'.");
}

TEST_F(Results, ProcedureInsideABatchKeepsTheBatchGoing) {
    run("EXEC sp_databases; SELECT 1");
    const auto d = sink.dones();
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0]->doneKind, DoneKind::DoneInProc);
    EXPECT_EQ(d[1]->doneKind, DoneKind::DoneProc);
    EXPECT_EQ(d[1]->status & DoneMore, DoneMore);
    EXPECT_EQ(d[2]->doneKind, DoneKind::Done);
    EXPECT_EQ(d[2]->status, DoneCount);
    // The return status lands in a variable.
    run("DECLARE @rc int; EXEC @rc = sp_tables @table_name = 'nix'; SELECT @rc");
    EXPECT_EQ(integer(sink.results().back().rows[0][0]), 0);
}

TEST_F(Results, ErrorInsideExecuteSqlIsReportedInTheProcedure) {
    sink.clear();
    RpcCall call;
    call.procId = 10;
    RpcParam stmt;
    stmt.value = std::string("SELECT * FROM Fehlt");
    call.params.push_back(stmt);
    session->executeRpc(call, sink, cancel);
    ASSERT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(sink.errors()[0].number, 208);
    const auto d = sink.dones();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]->doneKind, DoneKind::DoneInProc);
    EXPECT_TRUE(d[0]->status & DoneError);
    EXPECT_EQ(d[1]->doneKind, DoneKind::DoneProc);
    EXPECT_EQ(d[1]->status & DoneMore, 0);
}

TEST_F(Results, StringConcatenationWithColumns) {
    run("CREATE TABLE p (Vorname nvarchar(20), Nachname varchar(20), Nr int); "
        "INSERT INTO p VALUES (N'Jörg', 'Weiß', 7)");
    EXPECT_EQ(text(scalar("SELECT Vorname + ' ' + Nachname FROM p")), "Jörg Weiß");
    EXPECT_EQ(text(scalar("SELECT p.Nachname + p.Vorname FROM dbo.p")), "WeißJörg");
    EXPECT_EQ(integer(scalar("SELECT Nr + 1 FROM p")), 8);
    EXPECT_EQ(text(scalar("SELECT 'Nr. ' + CAST(Nr AS varchar(5)) FROM p")), "Nr. 7");
}

} // namespace
