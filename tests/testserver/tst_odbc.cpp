// tds-testserver through the FreeTDS ODBC driver: cancel (attention),
// parameters (RPC), many clients at once.

#include "tests/support/testserver_fixture.h"

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string diagnostics(SQLSMALLINT type, SQLHANDLE h) {
    std::string all;
    SQLCHAR state[6], text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS; ++i)
        all += std::string(reinterpret_cast<char*>(state)) + " [" + std::to_string(native) + "] " +
               reinterpret_cast<char*>(text) + "\n";
    return all;
}

class Odbc {
public:
    explicit Odbc(const std::string& connectionString) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        const SQLRETURN rc = SQLDriverConnect(
            dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connectionString.c_str())),
            SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            const std::string why = diagnostics(SQL_HANDLE_DBC, dbc);
            cleanup();
            throw std::runtime_error("connect failed: " + why);
        }
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    }
    ~Odbc() { cleanup(); }

    SQLRETURN exec(const std::string& sql) {
        return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                             SQL_NTS);
    }
    std::string text(int col) {
        char buf[4096];
        SQLLEN ind = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, SQLUSMALLINT(col), SQL_C_CHAR, buf, sizeof buf, &ind)))
            return "<error " + diagnostics(SQL_HANDLE_STMT, stmt) + ">";
        return ind == SQL_NULL_DATA ? "<null>" : std::string(buf);
    }
    // First column of the first row of `sql`.
    std::string scalar(const std::string& sql) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (!SQL_SUCCEEDED(exec(sql)) || !SQL_SUCCEEDED(SQLFetch(stmt)))
            return "<error " + diagnostics(SQL_HANDLE_STMT, stmt) + ">";
        std::string v = text(1);
        SQLFreeStmt(stmt, SQL_CLOSE);
        return v;
    }

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;

private:
    void cleanup() {
        if (stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (dbc) {
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
        stmt = dbc = env = nullptr;
    }
};

class OdbcEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new TestServer({"--big-rows", "20000"}); }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    static TestServer* s_server;
};

TestServer* OdbcEndToEnd::s_server = nullptr;

TEST_F(OdbcEndToEnd, QueryTimeoutCancelsAWaitAndTheConnectionGoesOn) {
    Odbc db(s_server->odbcConnectionString());
    SQLSetStmtAttr(db.stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(1), 0);
    const SQLRETURN rc = db.exec("WAITFOR DELAY '00:00:30'");
    EXPECT_EQ(rc, SQL_ERROR);
    const std::string diag = diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_NE(diag.find("HYT00"), std::string::npos) << diag;
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLSetStmtAttr(db.stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(0), 0);
    EXPECT_EQ(db.scalar("SELECT 11"), "11");
}

TEST_F(OdbcEndToEnd, ClosingACursorWithUnreadRowsCancelsTheRest) {
    Odbc db(s_server->odbcConnectionString("Musterfirma"));
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT * FROM Messwerte")))
            << diagnostics(SQL_HANDLE_STMT, db.stmt);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
        // Unread rows: the driver sends an attention and waits for its acknowledgement.
        EXPECT_TRUE(SQL_SUCCEEDED(SQLFreeStmt(db.stmt, SQL_CLOSE)));
        EXPECT_EQ(db.scalar("SELECT 12"), "12");
    }
}

TEST_F(OdbcEndToEnd, ParametersTravelAsRpcAndComeBackIntact) {
    Odbc db(s_server->odbcConnectionString());
    struct Case {
        SQLSMALLINT cType, sqlType;
        SQLULEN size;
        SQLSMALLINT digits;
        std::string value;    // as text
        std::string expected; // what SELECT ? returns, read as text
        bool numeric = false; // compare as numbers (the result type may vary)
    } cases[] = {
        {SQL_C_CHAR, SQL_INTEGER, 0, 0, "-123456", "-123456"},
        {SQL_C_CHAR, SQL_BIGINT, 0, 0, "9007199254740993", "9007199254740993"},
        {SQL_C_CHAR, SQL_VARCHAR, 20, 0, "abc", "abc"},
        {SQL_C_CHAR, SQL_WVARCHAR, 20, 0, "h\xC3\xA9\xE2\x82\xAC!", "h\xC3\xA9\xE2\x82\xAC!"},
        {SQL_C_CHAR, SQL_DECIMAL, 10, 2, "-1234.50", "-1234.50", true},
        {SQL_C_CHAR, SQL_DOUBLE, 0, 0, "3.25", "3.25", true},
        // The driver declares "@P1 DATETIME2" and sends datetime2(7): seven digits come back.
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 23, 3, "2024-02-29 13:14:15.500",
         "2024-02-29 13:14:15.5000000"},
    };
    for (const Case& c : cases) {
        SQLFreeStmt(db.stmt, SQL_CLOSE);
        SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
        std::string buf = c.value;
        SQLLEN ind = SQL_NTS;
        ASSERT_TRUE(
            SQL_SUCCEEDED(SQLBindParameter(db.stmt, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, c.size,
                                           c.digits, buf.data(), SQLLEN(buf.size() + 1), &ind)));
        const SQLRETURN rc = db.exec("SELECT ? AS wert");
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << c.value << ": " << diagnostics(SQL_HANDLE_STMT, db.stmt);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
        const std::string got = db.text(1);
        if (c.numeric)
            EXPECT_EQ(std::stod(got), std::stod(c.expected)) << c.value << " came back as " << got;
        else
            EXPECT_EQ(got, c.expected) << c.value;
    }
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
}

TEST_F(OdbcEndToEnd, LongTextCrossesManyPacketsBothWays) {
    Odbc db(s_server->odbcConnectionString());
    std::string text;
    for (int i = 0; text.size() < 150000; ++i)
        text += "Zeile " + std::to_string(i) +
                ": Gr\xC3\xB6\xC3\x9F"
                "e \xE2\x82\xAC\n";
    SQLLEN ind = SQLLEN(text.size());
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLBindParameter(db.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WLONGVARCHAR,
                                       text.size(), 0, text.data(), SQLLEN(text.size()), &ind)));
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT ? AS lang")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    std::string got;
    char buf[8192];
    SQLLEN len = 0;
    SQLRETURN rc;
    while ((rc = SQLGetData(db.stmt, 1, SQL_C_CHAR, buf, sizeof buf, &len)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagnostics(SQL_HANDLE_STMT, db.stmt);
        got += buf;
    }
    EXPECT_EQ(got.size(), text.size());
    EXPECT_TRUE(got == text);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
}

TEST_F(OdbcEndToEnd, EmptyBinaryAndLongDecimalParametersAreStoredWhole) {
    Odbc db(s_server->odbcConnectionString());
    const SQLRETURN created = db.exec("CREATE TABLE #p (b varbinary(10), d decimal(38,10))");
    ASSERT_TRUE(SQL_SUCCEEDED(created) || created == SQL_NO_DATA)
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    char bytes[1] = {0};
    SQLLEN bytesLen = 0;
    std::string decimal = "-1234567890123456789012345678.0123456789";
    SQLLEN decimalLen = SQL_NTS;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(db.stmt, 1, SQL_PARAM_INPUT, SQL_C_BINARY,
                                               SQL_VARBINARY, 10, 0, bytes, 0, &bytesLen)));
    ASSERT_TRUE(
        SQL_SUCCEEDED(SQLBindParameter(db.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 38, 10,
                                       decimal.data(), SQLLEN(decimal.size() + 1), &decimalLen)));
    const SQLRETURN inserted = db.exec("INSERT INTO #p VALUES (?, ?)");
    ASSERT_TRUE(SQL_SUCCEEDED(inserted) || inserted == SQL_NO_DATA)
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT DATALENGTH(b), d FROM #p")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_EQ(db.text(1), "0"); // an empty value, not NULL
    EXPECT_EQ(db.text(2), decimal);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
}

TEST_F(OdbcEndToEnd, TransactionsThroughTheDriverCommitAndRollBack) {
    Odbc db(s_server->odbcConnectionString("Musterfirma"));
    const SQLRETURN created = db.exec("CREATE TABLE TxProbe (a int)");
    // A statement without rows or count may end in SQL_NO_DATA with this driver.
    ASSERT_TRUE(SQL_SUCCEEDED(created) || created == SQL_NO_DATA)
        << created << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // Autocommit off: the driver sends a begin-transaction request.
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(
        db.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
        << diagnostics(SQL_HANDLE_DBC, db.dbc);
    EXPECT_EQ(db.scalar("SELECT @@TRANCOUNT"), "1");
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("INSERT INTO TxProbe VALUES (1)")));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, db.dbc, SQL_ROLLBACK)))
        << diagnostics(SQL_HANDLE_DBC, db.dbc);
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM TxProbe"), "0");
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("INSERT INTO TxProbe VALUES (2)")));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, db.dbc, SQL_COMMIT)))
        << diagnostics(SQL_HANDLE_DBC, db.dbc);
    // Back to autocommit: the open (empty) transaction is rolled back.
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(
        db.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)))
        << diagnostics(SQL_HANDLE_DBC, db.dbc);
    EXPECT_EQ(db.scalar("SELECT @@TRANCOUNT"), "0");
    EXPECT_EQ(db.scalar("SELECT SUM(a) FROM TxProbe"), "2");
}

TEST_F(OdbcEndToEnd, CatalogFollowsUseAndTheCurrentCatalogAttribute) {
    Odbc db(s_server->odbcConnectionString());
    EXPECT_EQ(db.scalar("SELECT DB_NAME()"), "master");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetConnectAttr(db.dbc, SQL_ATTR_CURRENT_CATALOG,
                                                const_cast<char*>("Musterfirma"), SQL_NTS)))
        << diagnostics(SQL_HANDLE_DBC, db.dbc);
    char name[128] = {};
    SQLINTEGER len = 0;
    SQLGetConnectAttr(db.dbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &len);
    EXPECT_STREQ(name, "Musterfirma");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    db.exec("USE master");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLGetConnectAttr(db.dbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &len);
    EXPECT_STREQ(name, "master");
}

TEST_F(OdbcEndToEnd, SqlTablesReportsTheSchemaOfEachTable) {
    Odbc db(s_server->odbcConnectionString());
    for (const char* sql : {"CREATE DATABASE odbcschemas", "USE odbcschemas", "CREATE SCHEMA lager",
                            "CREATE TABLE lager.fach (nr int)", "CREATE TABLE fach (nr int)"}) {
        // DDL answers SQL_NO_DATA through FreeTDS: it counts no rows.
        ASSERT_NE(db.exec(sql), SQL_ERROR) << sql << diagnostics(SQL_HANDLE_STMT, db.stmt);
        SQLFreeStmt(db.stmt, SQL_CLOSE);
    }
    ASSERT_TRUE(SQL_SUCCEEDED(SQLTables(
        db.stmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>("fach")),
        SQL_NTS, reinterpret_cast<SQLCHAR*>(const_cast<char*>("'TABLE'")), SQL_NTS)))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    std::vector<std::string> owners;
    while (SQL_SUCCEEDED(SQLFetch(db.stmt))) {
        char owner[64] = {};
        SQLLEN len = 0;
        SQLGetData(db.stmt, 2, SQL_C_CHAR, owner, sizeof owner, &len);
        owners.emplace_back(owner);
    }
    EXPECT_EQ(owners, (std::vector<std::string>{"dbo", "lager"}));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    EXPECT_EQ(db.scalar("SELECT COUNT(*) FROM odbcschemas.lager.fach"), "0");
}

TEST_F(OdbcEndToEnd, BrowseModeNamesBaseTablesColumnsAndKeys) {
    Odbc db(s_server->odbcConnectionString("Musterfirma"));
    auto run = [&](const std::string& sql) {
        SQLFreeStmt(db.stmt, SQL_CLOSE);
        const SQLRETURN rc = db.exec(sql);
        ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            << sql << diagnostics(SQL_HANDLE_STMT, db.stmt);
    };
    auto attr = [&](int col, SQLUSMALLINT field) {
        char buf[256] = {};
        SQLSMALLINT len = 0;
        SQLColAttribute(db.stmt, SQLUSMALLINT(col), field, buf, sizeof buf, &len, nullptr);
        return std::string(buf);
    };
    run("CREATE TABLE [Br]]owse] (id int NOT NULL PRIMARY KEY, name nvarchar(20))");
    run("CREATE TABLE BrowseOther (id int, x int)");
    run("INSERT INTO [Br]]owse] VALUES (1, N'a')");

    // Without the option nothing names a base table.
    run("SELECT id, name FROM [Br]]owse]");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_TABLE_NAME), "");

    run("SET NO_BROWSETABLE ON");
    run("SELECT name AS Alias, id, id * 2 AS twice FROM [Br]]owse]");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_TABLE_NAME), "Br]owse");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_COLUMN_NAME), "name");
    EXPECT_EQ(attr(2, SQL_DESC_BASE_TABLE_NAME), "Br]owse");
    EXPECT_EQ(attr(3, SQL_DESC_BASE_TABLE_NAME), ""); // an expression has no base
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(db.text(1), "a"); // rows still read as before

    // A result without any table column: nothing is named, the driver goes on.
    run("SELECT 1 AS one, SCOPE_IDENTITY() AS two");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_TABLE_NAME), "");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_EQ(db.text(1), "1");

    run("SELECT b.name, o.x FROM [Br]]owse] b JOIN BrowseOther o ON o.id = b.id");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_TABLE_NAME), "Br]owse");
    EXPECT_EQ(attr(2, SQL_DESC_BASE_TABLE_NAME), "BrowseOther");

    run("SET NO_BROWSETABLE OFF");
    run("SELECT id FROM [Br]]owse]");
    EXPECT_EQ(attr(1, SQL_DESC_BASE_TABLE_NAME), "");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
}

TEST_F(OdbcEndToEnd, ManyClientsAtOnce) {
    constexpr int kClients = 8;
    std::atomic<int> good{0};
    std::vector<std::string> failures(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            try {
                Odbc db(s_server->odbcConnectionString());
                for (int k = 0; k < 20; ++k) {
                    const std::string want = std::to_string(i * 100 + k);
                    const std::string got = db.scalar("SELECT " + want);
                    if (got != want) {
                        failures[i] = "got " + got + " for " + want;
                        return;
                    }
                }
                ++good;
            } catch (const std::exception& e) {
                failures[i] = e.what();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (const auto& f : failures)
        EXPECT_TRUE(f.empty()) << f;
    EXPECT_EQ(good, kClients);
}

TEST_F(OdbcEndToEnd, WrongPasswordGivesTheLoginError) {
    std::string cs = s_server->odbcConnectionString();
    const auto pwd = cs.find("PWD=");
    cs.insert(pwd + 4, "falsch");
    try {
        Odbc db(cs);
        FAIL() << "login with a wrong password succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("[18456]"), std::string::npos) << e.what();
    }
}

} // namespace

// A server of each older TDS version: the driver asks for 7.4 and settles on
// what the server answers; date travels as its own type only from 7.3 on,
// before that as text, as such servers send it.
struct OlderServer {
    const char* tdsVersion;
    const char* productMajor; // SQL_DBMS_VER starts with it
    SQLSMALLINT dateType;     // how a date column is described
};

class OlderServers : public ::testing::TestWithParam<OlderServer> {};

TEST_P(OlderServers, ConnectQueryAndDescribeAsThatVersion) {
    const OlderServer& v = GetParam();
    TestServer server({"--tds-version", v.tdsVersion});
    Odbc db(server.odbcConnectionString());
    char dbmsVer[64] = {};
    SQLGetInfo(db.dbc, SQL_DBMS_VER, dbmsVer, sizeof dbmsVer, nullptr);
    EXPECT_EQ(std::string(dbmsVer).rfind(v.productMajor, 0), 0u) << dbmsVer;

    ASSERT_TRUE(SQL_SUCCEEDED(
        db.exec("CREATE TABLE #v (d date, n int); INSERT INTO #v VALUES ('2024-02-29', 42)")));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT d, n FROM #v")));
    SQLCHAR name[64];
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeCol(db.stmt, 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable);
    EXPECT_EQ(type, v.dateType);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(db.text(1), "2024-02-29");
    EXPECT_EQ(db.text(2), "42");
}

INSTANTIATE_TEST_SUITE_P(Tds, OlderServers,
                         ::testing::Values(OlderServer{"7.1", "08.00", SQL_WVARCHAR},
                                           OlderServer{"7.2", "09.00", SQL_WVARCHAR},
                                           OlderServer{"7.3", "10.00", SQL_TYPE_DATE},
                                           OlderServer{"7.4", "11.00", SQL_TYPE_DATE}),
                         [](const auto& info) {
                             std::string n = info.param.tdsVersion;
                             n.erase(n.find('.'), 1);
                             return "Tds" + n;
                         });

// Arithmetic on decimals and money keeps every digit and reports SQL Server's
// result precision and scale, whether the operands are literals, parameters
// or columns.
TEST_F(OdbcEndToEnd, ExactArithmeticKeepsAllDigits) {
    Odbc db(s_server->odbcConnectionString());
    for (const char* setup :
         {"CREATE TABLE #x (k int, a decimal(38,10), b decimal(38,10), m money)",
          "INSERT #x VALUES (1, 1234567890123456789012345678.0123456789, 0.0000000001, "
          "123456789012.3456)",
          "INSERT #x VALUES (2, 2.5, -1, 1)"}) {
        const SQLRETURN rc = db.exec(setup);
        ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            << setup << "\n"
            << diagnostics(SQL_HANDLE_STMT, db.stmt);
        SQLFreeStmt(db.stmt, SQL_CLOSE);
    }
    struct Case {
        const char* sql;
        const char* value; // or the error number in brackets
        int precision = 0; // of the result column; 0: not checked
        int scale = 0;
    };
    const Case cases[] = {
        {"SELECT CAST('12345678901234567890.12' AS decimal(38,2)) + 1", "12345678901234567891.12",
         38, 2},
        // Beyond 38 digits the scale gives way to the integral part, rounding.
        {"SELECT a + b FROM #x WHERE k = 1", "1234567890123456789012345678.012345679", 38, 9},
        {"SELECT a - ? FROM #x WHERE k = 1", "1234567890123456789012345678.012345679", 38, 9},
        {"SELECT -a * 2 FROM #x WHERE k = 1", "-2469135780246913578024691356.02469136", 38, 8},
        {"SELECT CAST('123456789012345678.5' AS decimal(20,1)) * 2.25", "277777775277777776.625",
         24, 3},
        // Quotients are cut at their scale.
        {"SELECT CAST('20000000000000000000' AS decimal(20,0)) / 3", "6666666666666666666.666666",
         26, 6},
        {"SELECT sum(a) FROM #x", "1234567890123456789012345680.5123456789", 38, 10},
        {"SELECT avg(a) FROM #x", "617283945061728394506172840.2561728394", 38, 10},
        {"SELECT m + m * 2 FROM #x WHERE k = 1", "370370367037.0368", 19, 4},
        {"SELECT sum(m) FROM #x", "123456789013.3456", 19, 4},
        // A moving window: rows leave the sum again.
        {"SELECT sum(a) OVER (ORDER BY k ROWS BETWEEN CURRENT ROW AND 1 FOLLOWING) FROM #x "
         "ORDER BY k DESC",
         "2.5000000000", 38, 10},
        {"SELECT CAST('99999999999999999999999999999999999999' AS decimal(38,0)) + 1", "[8115]"},
        {"SELECT a / 0 FROM #x", "[8134]"},
    };
    std::string parameter = "0.0000000001";
    SQLLEN parameterLen = SQL_NTS;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        SQLFreeStmt(db.stmt, SQL_CLOSE);
        SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
        if (std::string(c.sql).find('?') != std::string::npos)
            SQLBindParameter(db.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 38, 10,
                             parameter.data(), SQLLEN(parameter.size() + 1), &parameterLen);
        SQLRETURN rc = db.exec(c.sql);
        if (SQL_SUCCEEDED(rc))
            rc = SQLFetch(db.stmt);
        if (c.value[0] == '[') {
            EXPECT_FALSE(SQL_SUCCEEDED(rc));
            EXPECT_NE(diagnostics(SQL_HANDLE_STMT, db.stmt).find(c.value), std::string::npos)
                << diagnostics(SQL_HANDLE_STMT, db.stmt);
            continue;
        }
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diagnostics(SQL_HANDLE_STMT, db.stmt);
        EXPECT_EQ(db.text(1), c.value);
        SQLSMALLINT type = 0, digits = 0, nullable = 0, nameLen = 0;
        SQLULEN size = 0;
        SQLCHAR name[64];
        SQLDescribeCol(db.stmt, 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable);
        EXPECT_TRUE(type == SQL_DECIMAL || type == SQL_NUMERIC) << type;
        EXPECT_EQ(int(size), c.precision);
        EXPECT_EQ(digits, c.scale);
    }
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    SQLFreeStmt(db.stmt, SQL_RESET_PARAMS);
}

namespace {

TEST_F(OdbcEndToEnd, ErrorAfterRowsReachesTheFetchThatMeetsIt) {
    Odbc db(s_server->odbcConnectionString());
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("CREATE TABLE #n (a int); INSERT INTO #n VALUES (2); "
                                      "INSERT INTO #n VALUES (0); INSERT INTO #n VALUES (1)")));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // Division by zero: the first row arrives, the second fetch fails with
    // 22012, and the statement after it still runs.
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT 10 / a FROM #n; SELECT 'danach'")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(db.text(1), "5");
    EXPECT_EQ(SQLFetch(db.stmt), SQL_ERROR);
    const std::string diag = diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_NE(diag.find("22012 [8134] "), std::string::npos) << diag;
    SQLRETURN rc = SQLMoreResults(db.stmt);
    while (rc == SQL_SUCCESS_WITH_INFO || rc == SQL_ERROR)
        rc = SQLMoreResults(db.stmt); // the failed statement's own end
    ASSERT_EQ(rc, SQL_SUCCESS);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(db.text(1), "danach");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // A conversion error ends the batch: nothing follows it.
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT CAST(CASE a WHEN 0 THEN 'x' ELSE '1' END AS int) "
                                      "FROM #n; SELECT 'nie'")));
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(SQLFetch(db.stmt), SQL_ERROR);
    EXPECT_NE(diagnostics(SQL_HANDLE_STMT, db.stmt).find("22018 [245] "), std::string::npos);
    rc = SQLMoreResults(db.stmt);
    while (rc == SQL_ERROR)
        rc = SQLMoreResults(db.stmt);
    EXPECT_EQ(rc, SQL_NO_DATA);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    EXPECT_EQ(db.scalar("SELECT 13"), "13");
}

} // namespace

namespace {

// Runs statements that return no rows; fails the test on an error.
void setUp(Odbc& db, std::initializer_list<const char*> statements) {
    for (const char* sql : statements) {
        const SQLRETURN rc = db.exec(sql);
        ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA)
            << sql << "\n"
            << diagnostics(SQL_HANDLE_STMT, db.stmt);
        SQLFreeStmt(db.stmt, SQL_CLOSE);
    }
}

} // namespace

TEST_F(OdbcEndToEnd, DateAndTimeTypesArriveWithTheirOwnTypeAndEveryDigit) {
    Odbc db(s_server->odbcConnectionString());
    setUp(db, {"CREATE TABLE #d (k int, a datetime2, b datetime2(3), c time, d time(0), "
               "e datetimeoffset, f datetimeoffset(0), g datetime)",
               "INSERT #d VALUES (1, '0001-01-01', '0001-01-01', '00:00:00', '00:00:00', "
               "'0001-01-01 00:00:00 +00:00', '0001-01-01 14:00:00 +14:00', '1753-01-01')",
               "INSERT #d VALUES (2, '9999-12-31 23:59:59.9999999', '9999-12-31 23:59:59.999', "
               "'23:59:59.9999999', '23:59:59', '9999-12-31 23:59:59.9999999 -14:00', "
               "'9999-12-31 09:59:59 -14:00', '9999-12-31 23:59:59.997')",
               "INSERT #d VALUES (3, '2024-02-29 13:14:15.1234567', '2024-02-29 13:14:15.1234567', "
               "'13:14:15.1234567', '13:14:15.5', '2024-02-29 13:14:15.1234567 +05:30', "
               "'2024-02-29 13:14:15 -08:00', '2024-02-29 13:14:15.123')",
               "INSERT #d VALUES (4, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"});
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT a, b, c, d, e, f, g FROM #d ORDER BY k")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    // ODBC type, column size and decimal digits as the driver reports them.
    const int types[] = {SQL_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, -154, -154, -155, -155,
                         SQL_TYPE_TIMESTAMP};
    const int sizes[] = {27, 23, 16, 8, 34, 26, 23};
    const int digits[] = {7, 3, 7, 0, 7, 0, 3};
    for (int i = 0; i < 7; ++i) {
        SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
        SQLULEN size = 0;
        SQLCHAR name[64];
        SQLDescribeCol(db.stmt, SQLUSMALLINT(i + 1), name, sizeof name, &nameLen, &type, &size,
                       &dec, &nullable);
        EXPECT_EQ(type, types[i]) << i;
        EXPECT_EQ(int(size), sizes[i]) << i;
        EXPECT_EQ(dec, digits[i]) << i;
    }
    // The driver writes the year 1 without leading zeros.
    const std::vector<std::vector<std::string>> expected = {
        {"1-01-01 00:00:00.0000000", "1-01-01 00:00:00.000", "00:00:00.0000000", "00:00:00",
         "1-01-01 00:00:00.0000000 +00:00", "1-01-01 14:00:00 +14:00", "1753-01-01 00:00:00.000"},
        {"9999-12-31 23:59:59.9999999", "9999-12-31 23:59:59.999", "23:59:59.9999999", "23:59:59",
         "9999-12-31 23:59:59.9999999 -14:00", "9999-12-31 09:59:59 -14:00",
         "9999-12-31 23:59:59.997"},
        {"2024-02-29 13:14:15.1234567", "2024-02-29 13:14:15.123", "13:14:15.1234567", "13:14:16",
         "2024-02-29 13:14:15.1234567 +05:30", "2024-02-29 13:14:15 -08:00",
         "2024-02-29 13:14:15.123"},
        {"<null>", "<null>", "<null>", "<null>", "<null>", "<null>", "<null>"},
    };
    for (const auto& row : expected) {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(db.text(i + 1), row[std::size_t(i)]) << "column " << i;
    }
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // xml: SQL_SS_XML, long documents in several chunks, read back whole.
    const std::string doc = "<doc>" + std::string(9000, 'x') + "\xC3\xA9</doc>";
    setUp(db, {"IF OBJECT_ID('OdbcXml') IS NOT NULL DROP TABLE OdbcXml",
               "CREATE TABLE OdbcXml (k int, x xml)"});
    setUp(db, {("INSERT INTO OdbcXml VALUES (1, N'" + doc + "')").c_str(),
               "INSERT INTO OdbcXml VALUES (2, NULL)"});
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT x FROM OdbcXml ORDER BY k")));
    {
        SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
        SQLULEN size = 0;
        SQLCHAR name[64];
        SQLDescribeCol(db.stmt, 1, name, sizeof name, &nameLen, &type, &size, &dec, &nullable);
        EXPECT_EQ(type, -152); // SQL_SS_XML
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
        std::vector<char> buf(20000);
        SQLLEN ind = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLGetData(db.stmt, 1, SQL_C_CHAR, buf.data(), SQLLEN(buf.size()), &ind)));
        EXPECT_EQ(std::string(buf.data()), doc);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
        EXPECT_EQ(db.text(1), "<null>");
        SQLFreeStmt(db.stmt, SQL_CLOSE);
    }
    // A row version: binary(8) that the server fills in, never NULL, read-only.
    setUp(db, {"IF OBJECT_ID('OdbcRv') IS NOT NULL DROP TABLE OdbcRv",
               "CREATE TABLE OdbcRv (k int, rv rowversion)", "INSERT INTO OdbcRv (k) VALUES (1)"});
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT rv FROM OdbcRv")));
    SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
    SQLULEN size = 0;
    SQLCHAR name[64];
    SQLDescribeCol(db.stmt, 1, name, sizeof name, &nameLen, &type, &size, &dec, &nullable);
    EXPECT_EQ(type, SQL_BINARY);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(nullable, SQL_NO_NULLS);
    SQLLEN updatable = 0;
    SQLColAttribute(db.stmt, 1, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable);
    EXPECT_EQ(updatable, SQL_ATTR_READONLY);
    SQLCHAR typeName[64] = {};
    SQLColAttribute(db.stmt, 1, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, nullptr, nullptr);
    EXPECT_STREQ(reinterpret_cast<char*>(typeName), "timestamp");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(db.text(1).size(), 16u); // eight bytes as hex
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // Parameters of these types reach the server whole: the seventh digit finds the row.
    EXPECT_EQ(db.scalar("SELECT k FROM #d WHERE a = CAST('2024-02-29 13:14:15.1234567' AS "
                        "datetime2(7))"),
              "3");
}

// SQL Server's widest result, 4,096 columns, described and read through the driver.
TEST_F(OdbcEndToEnd, ResultOfTheMaximumWidth) {
    Odbc db(s_server->odbcConnectionString());
    std::string sql = "SELECT ";
    for (int i = 1; i <= 4096; ++i)
        sql += (i > 1 ? ", " : "") + std::to_string(i) + " AS c" + std::to_string(i);
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec(sql))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLSMALLINT n = 0;
    SQLNumResultCols(db.stmt, &n);
    EXPECT_EQ(n, 4096);
    SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
    SQLULEN size = 0;
    SQLCHAR name[64];
    for (SQLUSMALLINT c : {1, 2000, 4000, 4096}) {
        SQLRETURN rc =
            SQLDescribeCol(db.stmt, c, name, sizeof name, &nameLen, &type, &size, &dec, &nullable);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << c << diagnostics(SQL_HANDLE_STMT, db.stmt);
    }
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_EQ(db.text(4096), "4096");
}

TEST_F(OdbcEndToEnd, ClrTypesArriveAsLongBinaryWithTheirBytes) {
    Odbc db(s_server->odbcConnectionString());
    setUp(db,
          {"DROP TABLE IF EXISTS clr_p", "CREATE TABLE clr_p (k int, loc geography, h hierarchyid)",
           "INSERT clr_p VALUES (1, geography::Point(47.65, -122.35, 4326), "
           "hierarchyid::Parse('/1/2/'))",
           "INSERT clr_p VALUES (2, NULL, hierarchyid::GetRoot())"});
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT loc, h, loc.STAsText(), h.ToString() FROM clr_p "
                                      "ORDER BY k")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    // FreeTDS hands a CLR value over as long binary and names no type: a
    // client that wants the name asks the catalog.
    for (SQLUSMALLINT i = 1; i <= 2; ++i) {
        SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
        SQLULEN size = 0;
        SQLCHAR name[64];
        SQLDescribeCol(db.stmt, i, name, sizeof name, &nameLen, &type, &size, &dec, &nullable);
        EXPECT_EQ(type, SQL_LONGVARBINARY) << i;
        SQLCHAR typeName[64] = "?";
        SQLSMALLINT typeLen = 0;
        SQLColAttribute(db.stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeLen,
                        nullptr);
        EXPECT_STREQ(reinterpret_cast<const char*>(typeName), "") << i;
    }
    // As bytes only: FreeTDS refuses SQL_C_CHAR for them (HY003).
    auto bytes = [&](SQLUSMALLINT col) {
        unsigned char buf[64];
        SQLLEN ind = 0;
        if (!SQL_SUCCEEDED(SQLGetData(db.stmt, col, SQL_C_BINARY, buf, sizeof buf, &ind)))
            return "<error " + diagnostics(SQL_HANDLE_STMT, db.stmt) + ">";
        if (ind == SQL_NULL_DATA)
            return std::string("<null>");
        std::string h;
        char two[3];
        for (SQLLEN k = 0; k < ind; ++k) {
            std::snprintf(two, sizeof two, "%02X", buf[k]);
            h += two;
        }
        return h;
    };
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(bytes(1), "E6100000010C3333333333D347406666666666965EC0");
    EXPECT_EQ(bytes(2), "5B40");
    EXPECT_EQ(db.text(3), "POINT (-122.35 47.65)");
    EXPECT_EQ(db.text(4), "/1/2/");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt)));
    EXPECT_EQ(bytes(1), "<null>");
    EXPECT_EQ(bytes(2), ""); // the root: empty, not NULL
    EXPECT_EQ(db.text(4), "/");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // The catalog names the types.
    EXPECT_EQ(db.scalar("SELECT t.name FROM sys.columns c JOIN sys.types t ON t.user_type_id = "
                        "c.user_type_id WHERE c.object_id = OBJECT_ID('clr_p') AND c.name = 'h'"),
              "hierarchyid");
}

// varchar data travels in its column's code page, described by the column's
// collation bytes; the driver turns it into the client's UTF-8.
TEST_F(OdbcEndToEnd, VarcharInCyrillicJapaneseAndUtf8ColumnsRoundTrips) {
    Odbc db(s_server->odbcConnectionString());
    db.exec("IF OBJECT_ID('Sprachen') IS NOT NULL DROP TABLE Sprachen");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // DDL counts no rows: the driver answers SQL_NO_DATA.
    ASSERT_NE(
        db.exec("CREATE TABLE Sprachen (id int, ru varchar(20) COLLATE Cyrillic_General_CI_AS, "
                "ja varchar(20) COLLATE Japanese_CI_AS, jc char(5) COLLATE Japanese_CI_AS, "
                "u8 varchar(40) COLLATE Latin1_General_100_CI_AS_SC_UTF8, de varchar(20))"),
        SQL_ERROR)
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    ASSERT_TRUE(SQL_SUCCEEDED(
        db.exec("INSERT INTO Sprachen VALUES (1, N'Привет, Ёлка', N'日本語テキスト', N'日本x', "
                "N'Grüße 日本 Ж', N'Grüße'), (2, N'Ж 日', N'Ж', N'日本', NULL, N'Ж')")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    // char(5) of code page 932 holds five bytes: three Japanese characters are six.
    EXPECT_EQ(db.exec("INSERT INTO Sprachen (id, jc) VALUES (3, N'日本語')"), SQL_ERROR);
    EXPECT_NE(diagnostics(SQL_HANDLE_STMT, db.stmt).find("[8152]"), std::string::npos);
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    EXPECT_EQ(db.scalar("SELECT ru FROM Sprachen WHERE id = 1"), "Привет, Ёлка");
    EXPECT_EQ(db.scalar("SELECT ja FROM Sprachen WHERE id = 1"), "日本語テキスト");
    EXPECT_EQ(db.scalar("SELECT u8 FROM Sprachen WHERE id = 1"), "Grüße 日本 Ж");
    EXPECT_EQ(db.scalar("SELECT de FROM Sprachen WHERE id = 1"), "Grüße");
    // char(5) holds five bytes: two Japanese characters and the pad.
    EXPECT_EQ(db.scalar("SELECT jc FROM Sprachen WHERE id = 1"), "日本x");
    EXPECT_EQ(db.scalar("SELECT jc FROM Sprachen WHERE id = 2"), "日本 ");
    // What a code page cannot hold arrives as '?'.
    EXPECT_EQ(db.scalar("SELECT ru FROM Sprachen WHERE id = 2"), "Ж ?");
    EXPECT_EQ(db.scalar("SELECT de FROM Sprachen WHERE id = 2"), "?");
    EXPECT_EQ(db.scalar("SELECT ja FROM Sprachen WHERE id = 2"), "Ж");
    // Comparison follows the column: case-insensitive in Cyrillic too.
    EXPECT_EQ(db.scalar("SELECT id FROM Sprachen WHERE ru = N'ПРИВЕТ, ЁЛКА'"), "1");
    db.exec("DROP TABLE Sprachen");
    SQLFreeStmt(db.stmt, SQL_CLOSE);
}

// A caught error reaches the driver as nothing: the CATCH block's result
// follows, SQLExecDirect succeeds; a variant compares with a plain value on
// either side.
TEST_F(OdbcEndToEnd, TryCatchHidesTheCaughtErrorAndVariantsCompare) {
    Odbc db(s_server->odbcConnectionString());
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("BEGIN TRY SELECT 1/0 AS q END TRY BEGIN CATCH SELECT "
                                      "ERROR_NUMBER() AS n, ERROR_MESSAGE() AS m END CATCH")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    std::vector<std::string> seen;
    SQLRETURN rc = SQL_SUCCESS;
    do {
        SQLSMALLINT cols = 0;
        SQLNumResultCols(db.stmt, &cols);
        while (cols > 0 && SQL_SUCCEEDED(SQLFetch(db.stmt)))
            seen.push_back(db.text(1) + "|" + db.text(2));
        rc = SQLMoreResults(db.stmt);
    } while (SQL_SUCCEEDED(rc));
    EXPECT_EQ(rc, SQL_NO_DATA) << diagnostics(SQL_HANDLE_STMT, db.stmt);
    EXPECT_EQ(seen, (std::vector<std::string>{"8134|Divide by zero error encountered."}));
    SQLFreeStmt(db.stmt, SQL_CLOSE);
    EXPECT_EQ(db.scalar("DECLARE @v sql_variant = CAST(7 AS bigint); SELECT CASE WHEN 7 = @v AND "
                        "@v IN (1, 7) AND @v BETWEEN 6.5 AND 8 THEN 'ja' ELSE 'nein' END"),
              "ja");
}

// sql_variant values of every base type through the driver: the column is
// SQL_SS_VARIANT, each value arrives as its base type converted to text.
TEST_F(OdbcEndToEnd, VariantValuesArriveAsTheirBaseType) {
    Odbc db(s_server->odbcConnectionString());
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"42", "42"},
        {"CAST(5000000000 AS bigint)", "5000000000"},
        {"CAST(-7 AS smallint)", "-7"},
        {"CAST(200 AS tinyint)", "200"},
        {"CAST(1 AS bit)", "1"},
        {"456.7", "456.7"},
        {"CAST(-123.456 AS decimal(20,3))", "-123.456"},
        {"CAST(12.5 AS money)", "12.5000"},
        {"CAST(-2.25 AS smallmoney)", "-2.2500"},
        {"1.5e0", "1.5"},
        {"CAST(2.5 AS real)", "2.5"},
        {"CAST('2024-06-03 23:46:03' AS datetime)", "2024-06-03 23:46:03.000"},
        {"CAST('2024-01-02 03:04' AS smalldatetime)", "2024-01-02 03:04:00"},
        {"CAST('2024-06-03' AS date)", "2024-06-03"},
        {"CAST('12:34:56.1234567' AS time(7))", "12:34:56.1234567"},
        {"CAST('2024-01-02 03:04:05.12' AS datetime2(2))", "2024-01-02 03:04:05.12"},
        {"CAST('2024-01-02 03:04:05 +02:00' AS datetimeoffset(0))", "2024-01-02 03:04:05 +02:00"},
        {"'a string'", "a string"},
        {"CAST('x' AS char(3))", "x  "},
        {"N'Gr\xC3\xBC\xC3\x9F"
         "e'",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"0x0102FF", "0102ff"}, // the driver writes bytes in lower-case hex
        {"CAST('0592b437-745f-4b2c-a997-97022c624cf6' AS uniqueidentifier)",
         "0592B437-745F-4B2C-A997-97022C624CF6"},
        {"NULL", "<null>"},
    };
    setUp(db, {"IF OBJECT_ID('OdbcVariant') IS NOT NULL DROP TABLE OdbcVariant",
               "CREATE TABLE OdbcVariant (k int, v sql_variant)"});
    for (std::size_t k = 0; k < cases.size(); ++k)
        setUp(db, {("INSERT INTO OdbcVariant VALUES (" + std::to_string(k) + ", " + cases[k].first +
                    ")")
                       .c_str()});
    ASSERT_TRUE(SQL_SUCCEEDED(db.exec("SELECT v FROM OdbcVariant ORDER BY k")))
        << diagnostics(SQL_HANDLE_STMT, db.stmt);
    SQLSMALLINT type = 0, dec = 0, nullable = 0, nameLen = 0;
    SQLULEN size = 0;
    SQLCHAR name[64];
    SQLDescribeCol(db.stmt, 1, name, sizeof name, &nameLen, &type, &size, &dec, &nullable);
    EXPECT_EQ(type, -150); // SQL_SS_VARIANT
    for (const auto& [expr, expected] : cases) {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(db.stmt))) << diagnostics(SQL_HANDLE_STMT, db.stmt);
        EXPECT_EQ(db.text(1), expected) << expr;
    }
    SQLFreeStmt(db.stmt, SQL_CLOSE);
}
