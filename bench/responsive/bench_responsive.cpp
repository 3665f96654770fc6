// Responsiveness benchmark: the real main window on the offscreen platform,
// connected to a test server, runs "select * from Messwerte" and is measured
// while the rows arrive:
//   first screen  F5 until the grid has painted a screen full of rows, against
//                 the floor: a plain ODBC client's SQLExecDirect until its
//                 first row of the same query (best of three)
//   stall         the longest lateness of a 10 ms timer on the window's thread
//                 from F5 until the statement has ended
//   total         F5 until the statement has ended, and the memory the result
//                 adds (peak resident size minus the size before F5)
//   cancel        "Abbrechen" one second into a second fetch, until the window
//                 takes the next statement (which then runs)
// Prints one key=value line per figure; run.sh compares them with bench-fetch.
// With BENCH_TRACE set, every stall above 20 ms is written to stderr with the
// time it ended, counted from F5.
//
//   bench-responsive --server 127.0.0.1,PORT --user U --password P [--query SQL]

#include "app/application.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "bench/lib/eventwait.h"
#include "bench/lib/procstatus.h"
#include "bench/lib/stallmeter.h"
#include "data/sqlserverprovider.h"
#include "tests/app/apptestsupport.h"

#include "controls/gridview.h"
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sql.h>
#include <sqlext.h>

namespace {

double ms(qint64 ns) {
    return double(ns) / 1e6;
}

// A plain ODBC client: SQLExecDirect until the first row is fetched, in ms;
// negative when the driver fails.
double odbcFirstRow(const QString& connection, const QString& query) {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    double result = -1;
    const QByteArray conn = connection.toUtf8();
    const QByteArray text = query.toUtf8();
    if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) &&
        SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, SQLPOINTER(SQL_OV_ODBC3), 0)) &&
        SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)) &&
        SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)conn.data(), SQL_NTS, nullptr, 0,
                                       nullptr, SQL_DRIVER_NOPROMPT)) &&
        SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
        QElapsedTimer t;
        t.start();
        if (SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR*)text.data(), SQL_NTS)) &&
            SQL_SUCCEEDED(SQLFetch(stmt)))
            result = ms(t.nsecsElapsed());
        SQLCancel(stmt); // the rest is not wanted
    }
    if (stmt)
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (dbc) {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    if (env)
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    return result;
}

// Times the first paint of the grid that shows a screen full of rows (or
// all rows, once they have all arrived): the paint runs inside the filter so
// that its end is measured.
class FirstScreen : public QObject {
public:
    FirstScreen(GridView* view, const QElapsedTimer& clock) : m_view(view), m_clock(clock) {
        view->viewport()->installEventFilter(this);
    }
    qint64 paintedAt = -1;   // ns on the clock; -1 until then
    bool allArrived = false; // fewer rows than a screen count as one

protected:
    bool eventFilter(QObject* target, QEvent* e) override {
        if (e->type() != QEvent::Paint || paintedAt >= 0)
            return false;
        const int rowHeight = m_view->rowHeight();
        const int screen = m_view->viewport()->height() / rowHeight;
        const int rows = m_view->model() ? m_view->model()->rowCount() : 0;
        if (rows == 0 || (rows < screen && !allArrived))
            return false;
        target->removeEventFilter(this);
        const bool handled = target->event(e);
        paintedAt = m_clock.nsecsElapsed();
        return handled;
    }

private:
    GridView* m_view;
    const QElapsedTimer& m_clock;
};

using benchstall::StallMeter;

int usage() {
    std::fprintf(stderr, "usage: bench-responsive --server HOST,PORT --user U --password P "
                         "[--database Musterfirma] [--query SQL]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    data::registerSqlServerProvider();
    QString server, user, password, database = QStringLiteral("Musterfirma"),
                                    query = QStringLiteral("select * from Messwerte");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& key = args[i];
        const QString& value = args[i + 1];
        if (key == QLatin1String("--server"))
            server = value;
        else if (key == QLatin1String("--user"))
            user = value;
        else if (key == QLatin1String("--password"))
            password = value;
        else if (key == QLatin1String("--database"))
            database = value;
        else if (key == QLatin1String("--query"))
            query = value;
        else
            return usage();
    }
    if (server.isEmpty() || user.isEmpty())
        return usage();

    // The floor first, on a connection of its own.
    const QString host = server.section(u',', 0, 0), port = server.section(u',', 1, 1);
    const QString odbc =
        QStringLiteral("DRIVER={FreeTDS};SERVER=%1;PORT=%2;UID=%3;PWD=%4;DATABASE=%5;"
                       "TDS_Version=7.4;ClientCharset=UTF-8")
            .arg(host, port, user, password, database);
    double floor = -1;
    for (int i = 0; i < 3; ++i) {
        const double t = odbcFirstRow(odbc, query);
        if (t >= 0 && (floor < 0 || t < floor))
            floor = t;
    }
    if (floor < 0) {
        std::fprintf(stderr, "bench-responsive: the plain ODBC client failed\n");
        return 1;
    }

    TempSettings settings;
    MessageRecorder messages;
    FirstActivation = false;
    Workbench wb = createWorkbench();
    TFMMain* w = wb.main;
    auto* prompt = new FakePrompt;
    prompt->server = server;
    prompt->user = user;
    prompt->password = password;
    w->setConnectPrompt(std::unique_ptr<ConnectPrompt>(prompt));
    w->resize(1024, 700);
    w->show();
    if (!QTest::qWaitForWindowExposed(w)) {
        std::fprintf(stderr, "bench-responsive: the window was not shown\n");
        return 1;
    }
    FirstActivation = true;
    w->FormActivate();
    QTest::qWait(200);
    const QString text = QStringLiteral("use %1; %2").arg(database, query);
    auto failed = [&] {
        if (messages.requests.isEmpty())
            return false;
        std::fprintf(stderr, "bench-responsive: %s\n", qPrintable(messages.texts().join(u'|')));
        return true;
    };
    if (failed())
        return 1;

    // The whole fetch.
    w->MEQuery->setPlainText(text);
    QElapsedTimer clock;
    StallMeter stall;
    FirstScreen first(w->DBGridQuery, clock);
    const long rssBefore = benchproc::statusKb("VmRSS");
    benchproc::resetPeak();
    stall.start();
    clock.start();
    w->ACQuery->trigger();
    const bool ended =
        benchwait::waitFor([&] { return !w->statementRunning(); }, 30 * 60 * 1000 /* deadline */);
    const qint64 total = clock.nsecsElapsed();
    stall.stop();
    const long peak = benchproc::statusKb("VmHWM");
    if (!ended || failed())
        return 1;
    if (first.paintedAt < 0) { // fewer rows than a screen: painted once they are all there
        first.allArrived = true;
        w->DBGridQuery->viewport()->repaint();
    }
    const qint64 rows = DM->ADOdsQuery->RecordCount();
    const std::size_t storeBytes = DM->ADOdsQuery->store()->memoryBytes();

    // Cancel one second into the fetch; then the next statement.
    QTest::qWait(200);
    w->ACQuery->trigger();
    QTest::qWait(1000);
    const bool stillRunning = w->statementRunning();
    QElapsedTimer cancelClock;
    cancelClock.start();
    w->ACCancel->trigger();
    const bool cancelled = benchwait::waitFor(
        [&] { return !w->statementRunning() && w->ACQuery->isEnabled(); }, 60000);
    const qint64 cancel = cancelClock.nsecsElapsed();
    if (!cancelled || failed())
        return 1;
    const qint64 keptRows = DM->ADOdsQuery->RecordCount();
    w->MEQuery->setPlainText(QStringLiteral("select 1 as x"));
    w->ACQuery->trigger();
    const bool nextRan = benchwait::waitFor([&] { return !w->statementRunning(); }, 60000) &&
                         messages.requests.isEmpty() && DM->ADOdsQuery->RecordCount() == 1;

    std::printf("rows=%lld\n", static_cast<long long>(rows));
    std::printf("floor_ms=%.1f\n", floor);
    std::printf("first_screen_ms=%.1f\n", ms(first.paintedAt));
    std::printf("stall_ms=%.1f\n", ms(stall.worst));
    std::printf("total_s=%.3f\n", double(total) / 1e9);
    std::printf("store_bytes=%zu\n", storeBytes);
    std::printf("added_bytes=%ld\n", (peak - rssBefore) * 1024);
    std::printf("cancel_ms=%.1f\n", ms(cancel));
    std::printf("cancel_was_running=%d\n", stillRunning ? 1 : 0);
    std::printf("cancel_kept_rows=%lld\n", static_cast<long long>(keptRows));
    std::printf("next_statement_ran=%d\n", nextRan ? 1 : 0);
    w->hide();
    destroyWorkbench(wb);
    return 0;
}
