// Script benchmark: the real main window on the offscreen platform, connected
// to a test server, runs a script of many GO-separated batches and one batch
// of many result sets, and is measured while it does:
//   execute       the script with "Ausführen" (F6) until it has ended, and the
//                 longest stall of the window's thread meanwhile
//   query         the same script with "Abfrage starten" (F5): every result
//                 set in a grid of its own
//   cancel        "Abbrechen" half-way through a second F6 run (half the time
//                 the first took), until the window takes the next statement
//                 (which then runs)
//   results       one batch of RESULTS x "select top ROWS ..." with F5 until
//                 every grid exists and holds its rows, against a plain ODBC
//                 client that fetches them all with SQLExecDirect, SQLFetch and
//                 SQLMoreResults (best of three)
// Prints one key=value line per figure; run.sh compares them with bsqldb.
// With BENCH_TRACE set, every stall above 20 ms is written to stderr.
//
//   bench-script --server 127.0.0.1,PORT --user U --password P --script FILE
//                [--database Musterfirma] [--results 500] [--rows 20]

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/uMain.h"
#include "bench/lib/eventwait.h"
#include "bench/lib/stallmeter.h"
#include "bench/lib/windowbench.h"
#include "data/sqlserverprovider.h"
#include "tests/app/apptestsupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>
#include <sql.h>
#include <sqlext.h>

namespace {

constexpr int kDeadlineMs = 60 * 60 * 1000;

// The ODBC handles of one connection, freed in order.
struct OdbcSession {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    bool connected = false;

    explicit OdbcSession(const QByteArray& connection) {
        connected =
            SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) &&
            SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, SQLPOINTER(SQL_OV_ODBC3), 0)) &&
            SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)) &&
            SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connection.data(), SQL_NTS,
                                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)) &&
            SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt));
    }
    ~OdbcSession() {
        if (stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        if (dbc) {
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    OdbcSession(const OdbcSession&) = delete;
    OdbcSession& operator=(const OdbcSession&) = delete;
};

// A plain ODBC client: SQLExecDirect of the batch until every row of every
// result set has been fetched (each column read as text, as a grid would),
// in ms; negative when the driver fails or the counts differ.
double odbcAllResults(const QString& connection, const QString& batch, int results, int rows) {
    OdbcSession s(connection.toUtf8());
    if (!s.connected)
        return -1;
    const QByteArray text = batch.toUtf8();
    QElapsedTimer t;
    t.start();
    if (!SQL_SUCCEEDED(SQLExecDirect(s.stmt, (SQLCHAR*)text.data(), SQL_NTS)))
        return -1;
    int sets = 0;
    long long fetched = 0;
    char cell[512];
    SQLLEN length = 0;
    SQLRETURN more = SQL_SUCCESS;
    while (SQL_SUCCEEDED(more)) {
        SQLSMALLINT columns = 0;
        SQLNumResultCols(s.stmt, &columns);
        if (columns > 0) {
            ++sets;
            while (SQL_SUCCEEDED(SQLFetch(s.stmt))) {
                ++fetched;
                for (SQLUSMALLINT c = 1; c <= columns; ++c)
                    SQLGetData(s.stmt, c, SQL_C_CHAR, cell, sizeof cell, &length);
            }
        }
        more = SQLMoreResults(s.stmt);
    }
    const double elapsed = double(t.nsecsElapsed()) / 1e6;
    if (more != SQL_NO_DATA || sets != results || fetched != (long long)results * rows)
        return -1;
    return elapsed;
}

// Every result grid of the window made so far: the first one and those after it.
QList<GridView*> allGrids(TFMMain* w) {
    QList<GridView*> grids{w->DBGridQuery};
    for (TDBBGrid* grid : w->resultGrids())
        grids.append(grid);
    return grids;
}

// Whether RESULTS result sets have their place on the results page, each
// holding its ROWS rows, and each grid in view shows them. (Grids are made
// as their places come into view.)
bool allShown(TFMMain* w, int results, int rows) {
    if (w->resultCount() != results)
        return false;
    for (int i = 0; i < results; ++i)
        if (w->resultDataSet(i)->RecordCount() != rows)
            return false;
    for (GridView* grid : allGrids(w))
        if (grid->isVisible() && (!grid->model() || grid->model()->rowCount() != rows))
            return false;
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: bench-script --server HOST,PORT --user U --password P "
                         "--script FILE [--database Musterfirma] [--results 500] [--rows 20]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    data::registerSqlServerProvider();
    QString server, user, password, script, database = QStringLiteral("Musterfirma"),
                                            resultsText = QStringLiteral("500"),
                                            rowsText = QStringLiteral("20");
    if (!benchwindow::readOptions(app.arguments(), {{"--server", &server},
                                                    {"--user", &user},
                                                    {"--password", &password},
                                                    {"--script", &script},
                                                    {"--database", &database},
                                                    {"--results", &resultsText},
                                                    {"--rows", &rowsText}}))
        return usage();
    const int results = resultsText.toInt(), rows = rowsText.toInt();
    if (server.isEmpty() || user.isEmpty() || script.isEmpty() || results < 1 || rows < 1)
        return usage();

    // The batch of many result sets, and the plain client's time for it.
    QString many = QStringLiteral("use %1\n").arg(database);
    for (int i = 0; i < results; ++i)
        many += QStringLiteral("select top %1 * from Messwerte\n").arg(rows);
    const QString odbc =
        QStringLiteral("DRIVER={FreeTDS};SERVER=%1;PORT=%2;UID=%3;PWD=%4;"
                       "DATABASE=%5;TDS_Version=7.4;ClientCharset=UTF-8")
            .arg(server.section(u',', 0, 0), server.section(u',', 1, 1), user, password, database);
    double odbcMs = -1;
    for (int i = 0; i < 3; ++i) {
        const double t = odbcAllResults(odbc, many, results, rows);
        if (t < 0) {
            std::fprintf(stderr, "bench-script: the plain ODBC client failed\n");
            return 1;
        }
        if (odbcMs < 0 || t < odbcMs)
            odbcMs = t;
    }

    FirstActivation = false;
    WindowFixture fx(server, user, password, QSize(1024, 700));
    TFMMain* w = fx.w;
    constexpr const char* kBench = "bench-script";
    auto failed = [&] { return benchwindow::failed(fx, kBench); };
    if (!benchwindow::showAndConnect(fx, kBench))
        return 1;
    QTest::qWait(200);
    benchstall::StallMeter stall;

    // One batch of many result sets with F5, until all of them are shown. It
    // runs first, in the fresh window, as a user's first query would.
    w->MEQuery->setPlainText(many);
    QElapsedTimer manyClock;
    stall.start();
    manyClock.start();
    w->ACQuery->trigger();
    const bool shown = benchwait::waitFor([&] { return !w->statementRunning(); }, kDeadlineMs) &&
                       benchwait::waitFor([&] { return allShown(w, results, rows); }, 60000);
    const qint64 resultsNs = manyClock.nsecsElapsed();
    stall.stop();
    if (!shown || failed()) {
        std::fprintf(stderr, "bench-script: %d of %d result sets shown; rows:", w->resultCount(),
                     results);
        for (GridView* grid : allGrids(w))
            std::fprintf(stderr, " %d%s", grid->model() ? grid->model()->rowCount() : -1,
                         grid->isVisible() ? "" : "(hidden)");
        std::fprintf(stderr, "\n");
        return 1;
    }

    const double resultsStall = stall.worstMs();
    // BENCH_SCREENSHOT=FILE.png keeps a picture of the window with its results.
    if (const QString shot = qEnvironmentVariable("BENCH_SCREENSHOT"); !shot.isEmpty())
        w->grab().save(shot);
    QTest::qWait(200);
    try {
        w->loadScript(script);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-script: %s\n", e.what());
        return 1;
    }

    // Runs the editor's text with ACTION until the statement has ended; its
    // time in ns and the longest stall meanwhile, or -1 when it failed.
    auto run = [&](QAction* action) -> qint64 {
        QElapsedTimer clock;
        stall.start();
        clock.start();
        action->trigger();
        const bool ended = benchwait::waitFor([&] { return !w->statementRunning(); }, kDeadlineMs);
        const qint64 total = clock.nsecsElapsed();
        stall.stop();
        return ended && !failed() ? total : -1;
    };

    // The script with F6, then with F5.
    const qint64 executeNs = run(w->ACExecute);
    if (executeNs < 0)
        return 1;
    const double executeStall = stall.worstMs();
    QTest::qWait(200);
    const qint64 queryNs = run(w->ACQuery);
    if (queryNs < 0)
        return 1;
    const double queryStall = stall.worstMs();
    const qsizetype queryGrids = w->resultCount();

    // Cancel half-way through F6; then the next statement.
    QTest::qWait(200);
    w->ACExecute->trigger();
    QTest::qWait(int(executeNs / 2'000'000));
    const bool wasRunning = w->statementRunning();
    QElapsedTimer cancelClock;
    cancelClock.start();
    w->ACCancel->trigger();
    const bool cancelled = benchwait::waitFor(
        [&] { return !w->statementRunning() && w->ACQuery->isEnabled(); }, 60000);
    const qint64 cancelNs = cancelClock.nsecsElapsed();
    if (!cancelled || failed())
        return 1;
    const bool nextRan = benchwindow::nextStatementRuns(fx, kBench);

    std::printf("execute_s=%.3f\n", double(executeNs) / 1e9);
    std::printf("execute_stall_ms=%.1f\n", executeStall);
    std::printf("query_s=%.3f\n", double(queryNs) / 1e9);
    std::printf("query_stall_ms=%.1f\n", queryStall);
    std::printf("query_grids=%lld\n", static_cast<long long>(queryGrids));
    std::printf("cancel_ms=%.1f\n", double(cancelNs) / 1e6);
    std::printf("cancel_was_running=%d\n", wasRunning ? 1 : 0);
    std::printf("next_statement_ran=%d\n", nextRan ? 1 : 0);
    std::printf("results_ms=%.1f\n", double(resultsNs) / 1e6);
    std::printf("results_odbc_ms=%.1f\n", odbcMs);
    std::printf("results_stall_ms=%.1f\n", resultsStall);
    std::printf("result_sets=%d\n", results);
    w->hide();
    return 0;
}
