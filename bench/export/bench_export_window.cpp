// Export benchmark in the real main window on the offscreen platform: the window, connected to
// a test server, runs a query into its grid and exports the result through its own export
// command (the file dialog answered with a file name), once to the end and once cancelled
// half-way, per format. Prints per format one line:
//   window format=F rows=N seconds=S stall_ms=M bytes=B cancel_ms=C was_running=0|1
//          old_file_kept=0|1 escape=0|1
// seconds   the export from the command until the window is free again
// stall_ms  the longest stall of the window's thread meanwhile (bench/lib/stallmeter.h)
// cancel_ms Escape (escape=1; "Abbrechen" where the key does not reach the window) half-way
//           through a second export into the same file until the window takes the next
//           statement; the file must still be the first export's
// At the end one line "next_statement_ran=0|1": a statement run after the last cancel.
// With BENCH_TRACE set, every stall above 20 ms is written to stderr.
//
//   bench-export-window --server 127.0.0.1,PORT --user U --password P --dir DIR
//                       [--query "select * from Messwerte"] [--database Musterfirma]
//                       [--format xlsx|csv|json|mdb]...

#include "app/application.h"
#include "app/uMain.h"
#include "bench/lib/eventwait.h"
#include "bench/lib/stallmeter.h"
#include "bench/lib/windowbench.h"
#include "data/sqlserverprovider.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cstdio>

namespace {

constexpr int kDeadlineMs = 60 * 60 * 1000;

// Size and digest of a file, "" when it cannot be read.
QByteArray fingerprint(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&f);
    return QByteArray::number(f.size()) + ':' + hash.result().toHex();
}

int usage() {
    std::fprintf(stderr, "usage: bench-export-window --server HOST,PORT --user U --password P "
                         "--dir DIR [--query SQL] [--database Musterfirma] "
                         "[--format xlsx|csv|json|mdb]...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    data::registerSqlServerProvider();
    QString server, user, password, dir, query = QStringLiteral("select * from Messwerte"),
                                         database = QStringLiteral("Musterfirma");
    QStringList formats;
    if (!benchwindow::readOptions(app.arguments(),
                                  {{"--server", &server},
                                   {"--user", &user},
                                   {"--password", &password},
                                   {"--dir", &dir},
                                   {"--query", &query},
                                   {"--database", &database}},
                                  "--format", &formats))
        return usage();
    if (server.isEmpty() || user.isEmpty() || dir.isEmpty())
        return usage();
    if (formats.isEmpty())
        formats = QStringList{"xlsx", "csv", "json", "mdb"};

    FirstActivation = false;
    WindowFixture fx(server, user, password, QSize(1024, 700));
    TFMMain* w = fx.w;
    constexpr const char* kBench = "bench-export-window";
    auto failed = [&] { return benchwindow::failed(fx, kBench); };
    if (!benchwindow::showAndConnect(fx, kBench))
        return 1;

    // The query into the grid, every row fetched.
    w->MEQuery->setPlainText(QStringLiteral("use %1\n%2").arg(database, query));
    w->ACQuery->trigger();
    if (!benchwait::waitFor([&] { return !w->statementRunning(); }, kDeadlineMs) || failed())
        return 1;
    const qint64 rows = w->currentResult()->RecordCount();
    std::printf("fetched rows=%lld\n", static_cast<long long>(rows));
    std::fflush(stdout);
    QTest::qWait(200);

    // The export dialog answers with the file of the run.
    QString target;
    modal::setFileHandler([&](const modal::FileRequest&) { return target; });
    benchstall::StallMeter stall;
    for (const QString& format : formats) {
        target = QDir(dir).filePath(QStringLiteral("window.") + format);
        QFile::remove(target);

        // To the end.
        QElapsedTimer clock;
        stall.start();
        clock.start();
        w->ACExport->trigger();
        const bool ended = benchwait::waitFor([&] { return !w->statementRunning(); }, kDeadlineMs);
        const qint64 exportNs = clock.nsecsElapsed();
        stall.stop();
        if (!ended || failed() || !QFile::exists(target)) {
            std::fprintf(stderr, "bench-export-window: the export to %s failed\n",
                         qPrintable(target));
            return 1;
        }
        const double stallMs = stall.worstMs();
        const QByteArray before = fingerprint(target);
        QTest::qWait(200);

        // Again into the same file, cancelled half-way.
        w->ACExport->trigger();
        QTest::qWait(int(exportNs / 2'000'000));
        const bool wasRunning = w->statementRunning();
        QElapsedTimer cancelClock;
        cancelClock.start();
        // Escape, as the user presses it, where the focus is; "Abbrechen" when the key did
        // not reach the action (a platform without an active window).
        bool byKey = false;
        const auto once = QObject::connect(w->ACCancel, &QAction::triggered, [&] { byKey = true; });
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : w;
        QTest::keyClick(focus, Qt::Key_Escape);
        QObject::disconnect(once);
        if (!byKey)
            w->ACCancel->trigger();
        const bool cancelled = benchwait::waitFor(
            [&] { return !w->statementRunning() && w->ACQuery->isEnabled(); }, 60000);
        const qint64 cancelNs = cancelClock.nsecsElapsed();
        if (!cancelled || failed())
            return 1;
        const bool kept = fingerprint(target) == before;
        std::printf("window format=%s rows=%lld seconds=%.3f stall_ms=%.1f bytes=%lld "
                    "cancel_ms=%.1f was_running=%d old_file_kept=%d escape=%d\n",
                    qPrintable(format), static_cast<long long>(rows), double(exportNs) / 1e9,
                    stallMs, static_cast<long long>(QFileInfo(target).size()),
                    double(cancelNs) / 1e6, wasRunning ? 1 : 0, kept ? 1 : 0, byKey ? 1 : 0);
        std::fflush(stdout);
        QFile::remove(target);
        QTest::qWait(200);
    }
    modal::setFileHandler({});

    // The next statement after the last cancel.
    const bool nextRan = benchwindow::nextStatementRuns(fx, kBench);
    std::printf("next_statement_ran=%d\n", nextRan ? 1 : 0);
    w->hide();
    return 0;
}
