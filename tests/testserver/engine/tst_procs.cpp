// Procedures: the catalog procedures ODBC calls, sp_executesql and the
// prepared-statement procedures, xp_msver, system views.

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/variant.h"

#include <limits>

using namespace tds;
using namespace tds::test;

namespace {

RpcParam param(std::string name, Value v, bool output = false) {
    RpcParam p;
    p.name = std::move(name);
    p.value = std::move(v);
    p.output = output;
    p.type.type = std::holds_alternative<std::int64_t>(p.value) ? SqlType::Int : SqlType::NVarChar;
    return p;
}

class Procs : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        run("CREATE TABLE Kunden (Nr int IDENTITY(1,1) CONSTRAINT PK_Kunden PRIMARY KEY, Name "
            "nvarchar(40) NOT NULL, "
            "Umsatz money NULL DEFAULT 0, Seit datetime NULL);"
            "CREATE TABLE Auftrag (ANr int NOT NULL, Pos smallint NOT NULL, Kunde int CONSTRAINT "
            "FK_Auftrag_Kunden "
            "REFERENCES Kunden (Nr), CONSTRAINT PK_Auftrag PRIMARY KEY (ANr, Pos));"
            "CREATE UNIQUE INDEX IX_Auftrag_Kunde ON Auftrag (Kunde, ANr);"
            "CREATE VIEW Sicht AS SELECT Name FROM Kunden;"
            "INSERT INTO Kunden (Name, Umsatz) VALUES (N'Müller', 10); INSERT INTO Kunden (Name) "
            "VALUES (N'Schulz')");
        ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    }

    RecordingSink& rpc(const std::string& name, std::vector<RpcParam> params, int procId = 0) {
        sink.clear();
        RpcCall call;
        call.procName = name;
        call.procId = procId;
        call.params = std::move(params);
        session->executeRpc(call, sink, cancel);
        return sink;
    }

    // Column `col` of every row of the first result.
    std::vector<std::string> column(std::size_t col) {
        std::vector<std::string> r;
        const auto rs = sink.results();
        if (!rs.empty())
            for (const auto& row : rs[0].rows)
                r.push_back(text(row[col]));
        return r;
    }
};

TEST_F(Procs, SpTablesListsTablesViewsAndSystemTablesInOrder) {
    rpc("sp_tables", {});
    ASSERT_TRUE(sink.errors().empty());
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    std::vector<std::string> names;
    for (const auto& c : rs[0].cols)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"TABLE_QUALIFIER", "TABLE_OWNER", "TABLE_NAME",
                                               "TABLE_TYPE", "REMARKS"}));
    const auto types = column(3);
    ASSERT_FALSE(types.empty());
    EXPECT_TRUE(std::is_sorted(types.begin(), types.end()));
    EXPECT_EQ(column(2)[0], "syscolumns"); // SYSTEM TABLE sorts first
    EXPECT_EQ(column(1)[0], "sys");
    // Tables and views only, as a table list asks for them.
    rpc("sp_tables",
        {param("@table_name", std::string("%")), param("@table_owner", std::string("%")),
         param("@table_type", std::string("'TABLE','VIEW'"))});
    EXPECT_EQ(column(2), (std::vector<std::string>{"Auftrag", "Kunden", "Sicht"}));
    EXPECT_EQ(column(3), (std::vector<std::string>{"TABLE", "TABLE", "VIEW"}));
    EXPECT_EQ(column(0)[0], "master");
    // The procedure's reply: rows, DONEINPROC, return status 0, DONEPROC.
    const auto& ev = sink.events;
    ASSERT_GE(ev.size(), 3u);
    EXPECT_EQ(ev[ev.size() - 3].kind, Event::Done);
    EXPECT_EQ(ev[ev.size() - 3].doneKind, DoneKind::DoneInProc);
    EXPECT_EQ(ev[ev.size() - 2].kind, Event::ReturnStatus);
    EXPECT_EQ(ev[ev.size() - 2].returnStatus, 0);
    EXPECT_EQ(ev.back().doneKind, DoneKind::DoneProc);
    EXPECT_EQ(ev.back().status & DoneMore, 0);
}

TEST_F(Procs, SpTablesPatternsAndEnumerations) {
    struct Case {
        std::vector<RpcParam> params;
        std::vector<std::string> names;
        std::size_t col;
    };
    const std::vector<Case> cases = {
        {{param("@table_name", std::string("K%"))}, {"Kunden"}, 2},
        {{param("@table_name", std::string("k_nden"))}, {"Kunden"}, 2},
        {{param("@table_name", std::string("[AK]%"))}, {"Auftrag", "Kunden"}, 2},
        {{param("@table_name", std::string("sys%")),
          param("@table_type", std::string("'SYSTEM TABLE'"))},
         {"syscolumns", "syscomments", "sysdatabases", "sysindexes", "sysobjects", "systypes",
          "sysusers"},
         2},
        {{param("@table_name", std::string("%")), param("@table_owner", std::string("gast"))},
         {},
         2},
        {{param("@table_name", std::string("")), param("@table_owner", std::string("")),
          param("@table_qualifier", std::string("%"))},
         {"master", "tempdb", "model", "msdb"},
         0},
        {{param("@table_name", std::string("")), param("@table_owner", std::string("")),
          param("@table_qualifier", std::string("")), param("@table_type", std::string("%"))},
         {"SYSTEM TABLE", "TABLE", "VIEW"},
         3},
    };
    for (const auto& c : cases) {
        rpc("sp_tables", c.params);
        EXPECT_EQ(column(c.col), c.names);
    }
}

TEST_F(Procs, SpTablesInAnotherDatabase) {
    run("CREATE DATABASE Zweite; USE Zweite; CREATE TABLE Nur_hier (a int); USE master");
    ASSERT_TRUE(sink.errors().empty());
    rpc("[Zweite]..sp_tables", {param("@table_qualifier", std::string("Zweite")),
                                param("@table_type", std::string("'TABLE'"))});
    EXPECT_EQ(column(2), (std::vector<std::string>{"Nur_hier"}));
    EXPECT_EQ(column(0), (std::vector<std::string>{"Zweite"}));
    EXPECT_EQ(session->currentDatabase(), "master");
}

TEST_F(Procs, SpColumnsDescribesEveryColumn) {
    rpc("sp_columns",
        {param("@table_name", std::string("Kunden")), param("@ODBCVer", std::int64_t{3})});
    ASSERT_TRUE(sink.errors().empty());
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].cols.size(), 19u);
    ASSERT_EQ(rs[0].rows.size(), 4u);
    const auto& nr = rs[0].rows[0];
    EXPECT_EQ(text(nr[3]), "Nr");
    EXPECT_EQ(integer(nr[4]), 4); // SQL_INTEGER
    EXPECT_EQ(text(nr[5]), "int identity");
    EXPECT_EQ(integer(nr[6]), 10);
    EXPECT_EQ(integer(nr[10]), 0); // not nullable
    EXPECT_EQ(text(nr[17]), "NO");
    const auto& name = rs[0].rows[1];
    EXPECT_EQ(integer(name[4]), -9); // SQL_WVARCHAR
    EXPECT_EQ(integer(name[6]), 40);
    EXPECT_EQ(integer(name[7]), 80);
    EXPECT_EQ(integer(name[15]), 80);
    const auto& umsatz = rs[0].rows[2];
    EXPECT_EQ(integer(umsatz[4]), 3); // money is SQL_DECIMAL(19,4)
    EXPECT_EQ(integer(umsatz[6]), 19);
    EXPECT_EQ(integer(umsatz[8]), 4);
    EXPECT_EQ(text(umsatz[12]), "((0))");
    EXPECT_EQ(integer(umsatz[16]), 3);
    const auto& seit = rs[0].rows[3];
    EXPECT_EQ(integer(seit[4]), 93); // SQL_TYPE_TIMESTAMP with ODBC 3
    EXPECT_EQ(integer(seit[13]), 9);
    EXPECT_EQ(integer(seit[14]), 3);
    // A column pattern.
    rpc("sp_columns",
        {param("@table_name", std::string("Kunden")), param("@column_name", std::string("S%"))});
    EXPECT_EQ(column(3), (std::vector<std::string>{"Seit"}));
    EXPECT_EQ(integer(sink.results()[0].rows[0][4]), 11); // ODBC 2 numbering by default
}

TEST_F(Procs, KeysAndIndexes) {
    rpc("sp_pkeys", {param("@table_name", std::string("Auftrag"))});
    EXPECT_EQ(column(3), (std::vector<std::string>{"ANr", "Pos"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"PK_Auftrag", "PK_Auftrag"}));
    rpc("sp_pkeys", {param("@table_name", std::string("Kunden"))});
    EXPECT_EQ(column(3), (std::vector<std::string>{"Nr"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"PK_Kunden"}));
    rpc("sp_fkeys", {param("@pktable_name", std::string("Kunden"))});
    EXPECT_EQ(column(6), (std::vector<std::string>{"Auftrag"}));
    EXPECT_EQ(column(7), (std::vector<std::string>{"Kunde"}));
    EXPECT_EQ(column(11), (std::vector<std::string>{"FK_Auftrag_Kunden"}));
    rpc("sp_special_columns", {param("@table_name", std::string("Kunden"))});
    EXPECT_EQ(column(1), (std::vector<std::string>{"Nr"}));
    rpc("sp_statistics", {param("@table_name", std::string("Auftrag"))});
    EXPECT_EQ(column(5), (std::vector<std::string>{"<NULL>", "IX_Auftrag_Kunde", "IX_Auftrag_Kunde",
                                                   "PK_Auftrag", "PK_Auftrag"}));
}

TEST_F(Procs, ExecuteSqlBindsParametersByPositionAndName) {
    rpc("",
        {param("", std::string("SELECT Name FROM Kunden WHERE Nr = @P1 OR Name = @P2")),
         param("", std::string("@P1 int,@P2 nvarchar(40)")), param("", std::int64_t{1}),
         param("", std::string("Schulz"))},
        10);
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(column(0), (std::vector<std::string>{"Müller", "Schulz"}));
    rpc("sp_executesql",
        {param("@stmt", std::string("SELECT COUNT(*) FROM Kunden WHERE Name LIKE @muster")),
         param("@params", std::string("@muster nvarchar(10)")),
         param("@muster", std::string("M%"))});
    EXPECT_EQ(column(0), (std::vector<std::string>{"1"}));
    // Values are bound, never pasted into the text.
    rpc("",
        {param("", std::string("SELECT COUNT(*) FROM Kunden WHERE Name = @P1")),
         param("", std::string("@P1 nvarchar(40)")), param("", std::string("x' OR '1'='1"))},
        10);
    EXPECT_EQ(column(0), (std::vector<std::string>{"0"}));
    // DML inside: DONEINPROC with the count.
    rpc("",
        {param("", std::string("UPDATE Kunden SET Umsatz = @P1")),
         param("", std::string("@P1 money")), param("", 2.5)},
        10);
    ASSERT_TRUE(sink.errors().empty());
    const auto d = sink.dones();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]->doneKind, DoneKind::DoneInProc);
    EXPECT_EQ(d[0]->status, DoneMore | DoneCount);
    EXPECT_EQ(d[0]->count, 2u);
    EXPECT_EQ(d[1]->doneKind, DoneKind::DoneProc);
}

// A sql_variant RPC parameter arrives as the protocol side decodes it: tagged
// with its base type, which comparisons and SQL_VARIANT_PROPERTY see.
TEST_F(Procs, VariantParametersKeepTheirBaseTypeInTheStatement) {
    ColumnType numeric;
    numeric.type = SqlType::Decimal;
    numeric.precision = 5;
    numeric.scale = 2;
    RpcParam v = param("@v", encodeVariant(numeric, std::string("1.25"), true));
    v.type.type = SqlType::SqlVariant;
    rpc("sp_executesql",
        {param("@stmt", std::string("SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType'), "
                                    "SQL_VARIANT_PROPERTY(@v, 'Scale'), CASE WHEN 1.25 = @v AND "
                                    "@v > 1 THEN 'ja' ELSE 'nein' END")),
         param("@params", std::string("@v sql_variant")), v});
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(column(0), (std::vector<std::string>{"numeric"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"2"}));
    EXPECT_EQ(column(2), (std::vector<std::string>{"ja"}));
}

TEST_F(Procs, ExecuteSqlOutputParameter) {
    rpc("sp_executesql", {param("", std::string("SELECT @n = COUNT(*) FROM Kunden")),
                          param("", std::string("@n int OUTPUT")), param("@n", Null{}, true)});
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    bool found = false;
    for (const auto& e : sink.events)
        if (e.kind == Event::ReturnValue) {
            found = true;
            EXPECT_EQ(e.name, "@n");
            EXPECT_EQ(integer(e.values[0]), 2);
        }
    EXPECT_TRUE(found);
}

TEST_F(Procs, PreparedStatements) {
    // sp_prepexec: handle as output parameter, then results.
    rpc("",
        {param("", Null{}, true), param("", std::string("@P1 int")),
         param("", std::string("SELECT Name FROM Kunden WHERE Nr = @P1")),
         param("", std::int64_t{2})},
        13);
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(column(0), (std::vector<std::string>{"Schulz"}));
    std::int64_t handle = 0;
    for (const auto& e : sink.events)
        if (e.kind == Event::ReturnValue)
            handle = integer(e.values[0]);
    ASSERT_GT(handle, 0);
    // sp_execute by name with the handle.
    rpc("sp_execute", {param("", handle), param("", std::int64_t{1})});
    EXPECT_EQ(column(0), (std::vector<std::string>{"Müller"}));
    // sp_prepare describes the columns without running.
    rpc("",
        {param("", Null{}, true), param("", std::string("")),
         param("", std::string("SELECT Nr, Name FROM Kunden")), param("", std::int64_t{1})},
        11);
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].cols.size(), 2u);
    EXPECT_TRUE(rs[0].rows.empty());
    // After sp_unprepare the handle is gone.
    rpc("", {param("", handle)}, 15);
    rpc("sp_execute", {param("", handle), param("", std::int64_t{1})});
    ASSERT_FALSE(sink.errors().empty());
    EXPECT_EQ(sink.errors()[0].number, 8179);
}

TEST_F(Procs, XpMsverInBatchAndByName) {
    run("exec xp_msver");
    ASSERT_TRUE(sink.errors().empty());
    auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].cols.size(), 4u);
    EXPECT_EQ(rs[0].cols[0].name, "Index");
    EXPECT_EQ(rs[0].cols[1].name, "Name");
    EXPECT_EQ(rs[0].cols[2].name, "Internal_Value");
    EXPECT_EQ(rs[0].cols[3].name, "Character_Value");
    EXPECT_EQ(rs[0].rows.size(), 20u);
    EXPECT_EQ(text(rs[0].rows[1][1]), "ProductVersion");
    EXPECT_EQ(text(rs[0].rows[1][3]), "9.00.1399.06");
    for (const char* sql :
         {"xp_msver 'ProductVersion'", "EXEC master..xp_msver N'productversion'"}) {
        run(sql);
        rs = sink.results();
        ASSERT_EQ(rs.size(), 1u) << sql;
        ASSERT_EQ(rs[0].rows.size(), 1u) << sql;
        EXPECT_EQ(text(rs[0].rows[0][3]), "9.00.1399.06");
    }
    // In a batch the procedure ends with DONEPROC.
    const auto d = sink.dones();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]->doneKind, DoneKind::DoneInProc);
    EXPECT_EQ(d[1]->doneKind, DoneKind::DoneProc);
}

TEST_F(Procs, SystemViews) {
    createSampleDatabase(dir.path());
    for (const char* sql : {"select name from sysdatabases", "select  name from sysdatabases",
                            "SELECT name FROM master..sysdatabases ORDER BY name",
                            "select name from sys.databases"}) {
        run(sql);
        const auto rs = sink.results();
        ASSERT_EQ(rs.size(), 1u) << sql;
        EXPECT_EQ(rs[0].cols[0].type.type, SqlType::NVarChar);
        EXPECT_EQ(rs[0].cols[0].type.length, 128);
        EXPECT_FALSE(rs[0].cols[0].type.nullable);
        std::set<std::string> names;
        for (const auto& r : rs[0].rows)
            names.insert(text(r[0]));
        EXPECT_EQ(names,
                  (std::set<std::string>{"master", "model", "msdb", "tempdb", "Musterfirma"}))
            << sql;
    }
    EXPECT_EQ(column(0).size(), 5u);
    run("SELECT name FROM sysobjects WHERE xtype = 'U' ORDER BY name");
    EXPECT_EQ(column(0), (std::vector<std::string>{"Auftrag", "Kunden"}));
    run("SELECT TABLE_NAME, TABLE_TYPE FROM INFORMATION_SCHEMA.TABLES ORDER BY TABLE_NAME");
    EXPECT_EQ(column(1), (std::vector<std::string>{"BASE TABLE", "BASE TABLE", "VIEW"}));
    run("SELECT c.name FROM sys.columns c JOIN sys.tables t ON t.object_id = c.object_id WHERE "
        "t.name = 'Kunden' ORDER BY c.column_id");
    EXPECT_EQ(column(0), (std::vector<std::string>{"Nr", "Name", "Umsatz", "Seit"}));
    EXPECT_FALSE(isNull(scalar("SELECT OBJECT_ID('dbo.Kunden')")));
    EXPECT_TRUE(isNull(scalar("SELECT OBJECT_ID('Fehlt')")));
    EXPECT_EQ(text(scalar("SELECT OBJECT_NAME(OBJECT_ID('[Kunden]'))")), "Kunden");
}

TEST_F(Procs, CreatedProceduresBindArgumentsAndReturnStatusAndOutput) {
    run("CREATE PROCEDURE dbo.Anzahl (@min int, @name nvarchar(40) = N'%', @n int = NULL OUTPUT)"
        " AS\nSET NOCOUNT ON\nSELECT @n = COUNT(*) FROM Kunden WHERE Nr >= @min AND Name LIKE "
        "@name\nSELECT Name INTO #hier FROM Kunden\nRETURN @n + 40");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("DECLARE @c int, @rc int; EXEC @rc = Anzahl 1, @n = @c OUTPUT; "
                             "SELECT @c * 100 + @rc")),
              242);
    // By name, a default left out; the procedure's temp table and NOCOUNT stay inside it.
    rpc("anzahl", {param("@name", std::string("M%")), param("@min", std::int64_t{1}),
                   param("@n", Null{}, true)});
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const Event* status = nullptr;
    const Event* output = nullptr;
    for (const auto& e : sink.events) {
        if (e.kind == Event::ReturnStatus)
            status = &e;
        if (e.kind == Event::ReturnValue)
            output = &e;
    }
    ASSERT_TRUE(status && output);
    EXPECT_EQ(status->returnStatus, 41);
    EXPECT_EQ(integer(output->values.at(0)), 1);
    EXPECT_TRUE(isNull(scalar("SELECT OBJECT_ID('tempdb..#hier')")));
    run("SELECT 1");
    EXPECT_EQ(sink.dones().back()->status & DoneCount, DoneCount);

    EXPECT_EQ(error("EXEC Anzahl").number, 201);
    EXPECT_EQ(error("EXEC Anzahl 1, 'x', 2, 3").number, 8144);
    EXPECT_EQ(error("EXEC Anzahl @gibts = 1").number, 8145);
}

TEST_F(Procs, ProceduresAreObjectsThatTransactionsTakeBack) {
    EXPECT_EQ(error("CREATE PROCEDURE Kunden AS SELECT 1").number, 2714);
    run("CREATE PROC p1 @a AS int = 1 AS SELECT @a");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(error("CREATE PROC p1 AS SELECT 2").number, 2714);
    run("CREATE OR ALTER PROCEDURE p1 AS SELECT 3");
    EXPECT_EQ(integer(scalar("EXEC p1")), 3);
    run("ALTER PROCEDURE p1 AS SELECT 4");
    EXPECT_EQ(integer(scalar("p1")), 4);
    EXPECT_EQ(integer(scalar("SELECT OBJECTPROPERTY(OBJECT_ID(N'[p1]'), N'IsProcedure') + "
                             "OBJECTPROPERTY(OBJECT_ID('Kunden'), 'IsUserTable') * 10")),
              11);
    EXPECT_EQ(text(scalar("SELECT xtype FROM sysobjects WHERE id = OBJECT_ID('p1')")), "P ");
    EXPECT_EQ(text(scalar("SELECT OBJECT_NAME(OBJECT_ID('p1'))")), "p1");
    // Catalog lists keep to tables and views.
    rpc("sp_tables", {param("@table_name", std::string("%"))});
    for (const auto& name : column(2))
        EXPECT_EQ(name.find("tds"), std::string::npos) << name;

    run("BEGIN TRAN; DROP PROCEDURE [dbo].[p1]");
    run("CREATE PROC p2 AS SELECT 2"); // the procedure's body runs to the end of the batch
    run("ROLLBACK");
    EXPECT_EQ(integer(scalar("EXEC p1")), 4);
    EXPECT_EQ(error("EXEC p2").number, 2812);
    run("DROP PROCEDURE p1");
    EXPECT_EQ(error("EXEC p1").number, 2812);
    EXPECT_EQ(error("DROP PROCEDURE p1").number, 3701);
    run("DROP PROCEDURE IF EXISTS p1");
    EXPECT_TRUE(sink.errors().empty());
}

TEST_F(Procs, NonFiniteFloatParametersAreRefused) {
    RpcParam inf = param("@P1", std::numeric_limits<double>::infinity());
    inf.type.type = SqlType::Float;
    rpc("sp_executesql", {param("@stmt", std::string("SELECT @P1")),
                          param("@params", std::string("@P1 float")), inf});
    ASSERT_EQ(sink.errors().size(), 1u);
    EXPECT_EQ(sink.errors()[0].number, 8023);
    EXPECT_TRUE(sink.results().empty());
}

} // namespace

namespace {

TEST_F(Procs, TableValuedFunctionsRunIntoTheStatementThatCallsThem) {
    run("CREATE FUNCTION dbo.Vielfache (@n int, @text varchar(4))\n"
        "RETURNS @r TABLE (k int, t varchar(4))\n"
        "AS\nBEGIN\n"
        "  INSERT @r SELECT @n, @text\n"
        "  IF @n > 1 BEGIN INSERT @r SELECT @n * 2, @text RETURN END\n"
        "  INSERT @r SELECT 0, 'nie'\n"
        "  RETURN\n"
        "END");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("CREATE FUNCTION Klein (@max int) RETURNS TABLE AS RETURN (SELECT @max AS m, 'x' AS y)");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;

    auto r = rows("SELECT t, k FROM Vielfache(3, 'abc') ORDER BY k");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], (std::vector<Value>{std::string("abc"), std::int64_t(3)}));
    EXPECT_EQ(r[1][1], Value(std::int64_t(6)));
    EXPECT_EQ(sink.results()[0].cols[0].type.type, SqlType::VarChar);
    // The RETURN ends the body: the row after it only for n <= 1.
    r = rows("DECLARE @a int = 1; SELECT v.k FROM dbo.Vielfache(@a, 'z') v ORDER BY v.k");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][0], Value(std::int64_t(0)));
    r = rows("SELECT f.k, g.m FROM Vielfache(2, 'q') f JOIN Klein(4) g ON g.m = f.k");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][1], Value(std::int64_t(4)));

    EXPECT_EQ(error("CREATE FUNCTION Klein (@a int) RETURNS TABLE AS RETURN SELECT 1 AS a").number,
              2714);
    run("DROP FUNCTION Klein");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("DROP FUNCTION Klein").number, 3701);
    EXPECT_EQ(error("SELECT * FROM Klein(1)").number, 208);
}

// A function may change its own table variables and nothing else.
TEST_F(Procs, FunctionsThatChangeWhatIsOutsideThemAreRefused) {
    rows("CREATE TABLE protokoll (x int)");
    auto e = error("CREATE FUNCTION f1 () RETURNS int AS BEGIN "
                   "INSERT INTO protokoll VALUES (1) RETURN 1 END");
    EXPECT_EQ(e.number, 443);
    EXPECT_EQ(e.text, "Invalid use of a side-effecting operator 'INSERT' within a function.");
    EXPECT_EQ(error("CREATE FUNCTION f2 () RETURNS int AS BEGIN PRINT 'x' RETURN 1 END").text,
              "Invalid use of a side-effecting operator 'PRINT' within a function.");
    EXPECT_EQ(error("CREATE FUNCTION f3 () RETURNS @r TABLE (k int) AS BEGIN "
                    "DELETE FROM protokoll INSERT @r VALUES (1) RETURN END")
                  .number,
              443);
    error("SELECT dbo.f1()"); // nothing was stored
    run("CREATE FUNCTION f4 () RETURNS @r TABLE (k int) AS BEGIN "
        "DECLARE @t TABLE (k int) INSERT INTO @t VALUES (2) INSERT @r SELECT k FROM @t "
        "UPDATE @r SET k = k * 10 DELETE @t RETURN END");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(integer(scalar("SELECT k FROM dbo.f4()")), 20);
}

TEST_F(Procs, ScalarFunctionsRunTheirBodyForEachCall) {
    run("CREATE FUNCTION dbo.Brutto (@netto decimal(10,2), @satz int = 19)\n"
        "RETURNS decimal(10,2)\nAS\nBEGIN\n"
        "  DECLARE @r decimal(12,4) = @netto * (100 + @satz) / 100.0\n"
        "  IF @r > 1000 RETURN 1000\n"
        "  RETURN @r\n"
        "END");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    run("CREATE FUNCTION dbo.Gruss (@name nvarchar(20)) RETURNS nvarchar(30) AS BEGIN "
        "RETURN N'Hallo ' + @name END");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    rows("CREATE TABLE preise (id int, netto decimal(10,2))");
    rows("INSERT INTO preise VALUES (1, 10.00), (2, 2000.00), (3, NULL)");
    const auto r = rows("SELECT id, dbo.Brutto(netto, 19), dbo.Brutto(netto, 7) FROM preise "
                        "WHERE dbo.Brutto(netto, 0) < 1000 OR netto IS NULL ORDER BY id");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][1], Value(11.9));
    EXPECT_EQ(r[0][2], Value(10.7));
    EXPECT_TRUE(isNull(r[1][1]));
    // The column reports the function's return type.
    const auto& col = sink.results()[0].cols[1].type;
    EXPECT_EQ(col.type, SqlType::Decimal);
    EXPECT_EQ(col.scale, 2);
    EXPECT_EQ(scalar("SELECT dbo.Brutto(5000, 19)"), Value(1000.0));
    EXPECT_EQ(text(scalar("DECLARE @g nvarchar(30) = dbo.Gruss(N'Welt'); SELECT @g")),
              "Hallo Welt");
    // An error in the body fails the calling statement.
    run("CREATE FUNCTION dbo.Teile (@a int) RETURNS int AS BEGIN RETURN 10 / @a END");
    EXPECT_EQ(error("SELECT dbo.Teile(0)").number, 8134);
    run("BEGIN TRY SELECT dbo.Teile(0) AS q END TRY BEGIN CATCH SELECT ERROR_NUMBER() END CATCH");
    ASSERT_TRUE(sink.errors().empty());
    EXPECT_EQ(sink.results().back().rows, (std::vector<std::vector<Value>>{{std::int64_t(8134)}}));
    EXPECT_EQ(sink.rowCount(), 1u); // the failed call gave no row
    EXPECT_EQ(integer(scalar("SELECT dbo.Teile(5)")), 2);
    const auto conversion = error("SELECT dbo.Brutto('x', 1)");
    EXPECT_EQ(conversion.number, 8114);
    EXPECT_EQ(conversion.text, "Error converting data type varchar to numeric.");
    EXPECT_EQ(
        error("CREATE FUNCTION dbo.Ohne (@a int) RETURNS int AS BEGIN SELECT @a = 1 END").number,
        455);
    run("DROP FUNCTION dbo.Gruss");
    EXPECT_TRUE(sink.errors().empty());
}

TEST_F(Procs, TableValuedParametersAreTableVariablesOfTheirType) {
    run("CREATE SCHEMA s");
    run("CREATE TYPE s.Posten AS TABLE (nr int, text varchar(10), betrag numeric(10,2))");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(error("CREATE TYPE s.Posten AS TABLE (a int)").number, 219);
    run("CREATE PROCEDURE s.Summe @p s.Posten READONLY, @faktor int = 1 AS "
        "SELECT COUNT(*) AS n, SUM(betrag) AS s, MAX(text) AS t FROM @p WHERE nr <= 2 * @faktor");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;

    auto table = std::make_shared<TableArgument>();
    table->typeSchema = "s";
    table->typeName = "Posten";
    table->columns.resize(3);
    table->rows = {{std::int64_t(1), std::string("a"), std::string("1.25")},
                   {std::int64_t(2), std::string("b"), std::string("2.50")}};
    RpcCall call;
    call.procName = "s.Summe";
    RpcParam p;
    p.table = table;
    call.params = {p};
    sink.clear();
    session->executeRpc(call, sink, cancel);
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    ASSERT_EQ(sink.results().size(), 1u);
    const auto r = sink.results()[0].rows;
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], Value(std::int64_t(2)));
    EXPECT_DOUBLE_EQ(std::stod(text(r[0][1])), 3.75);
    EXPECT_EQ(r[0][2], Value(std::string("b")));

    // No argument: an empty table of the type.
    call.params.clear();
    sink.clear();
    session->executeRpc(call, sink, cancel);
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    EXPECT_EQ(sink.results()[0].rows[0][0], Value(std::int64_t(0)));

    run("DROP PROCEDURE s.Summe; DROP TYPE s.Posten");
    EXPECT_TRUE(sink.errors().empty());
    EXPECT_EQ(error("DROP TYPE s.Posten").number, 218);
}

} // namespace
