// Opens one dataset and fetches its whole result into the column store, then
// prints what it took: rows, seconds, the memory the result holds and the
// process's resident growth. run.sh compares it with the FreeTDS tools.
// With --async yes the rows are fetched on the connection's worker thread and
// handed over while the fetch goes on, as the window fetches them.
//
//   bench-fetch --connection "<ADO connection string>" --query "<SQL>" [--async yes]

#include "bench/lib/procstatus.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"

#include "data/sqlserverprovider.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <cstdio>

using benchproc::statusKb;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    data::registerSqlServerProvider();
    QString connection, query;
    bool async = false;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--connection"))
            connection = args[i + 1];
        else if (args[i] == QLatin1String("--query"))
            query = args[i + 1];
        else if (args[i] == QLatin1String("--async"))
            async = args[i + 1] == QLatin1String("yes");
    }
    if (connection.isEmpty() || query.isEmpty()) {
        std::fprintf(stderr, "usage: bench-fetch --connection <ADO string> --query <SQL>\n");
        return 2;
    }
    try {
        TADOConnection conn;
        conn.setConnectionString(connection);
        conn.Open();
        TADODataSet ds;
        ds.setConnection(&conn);
        ds.setCommandTimeout(0);
        ds.setCommandText(query);
        const long rssBefore = statusKb("VmRSS");
        QElapsedTimer timer;
        timer.start();
        if (async) {
            QEventLoop loop;
            std::exception_ptr failure;
            ds.OpenAsync([&](std::exception_ptr error, bool) {
                failure = error;
                loop.quit();
            });
            loop.exec();
            if (failure)
                std::rethrow_exception(failure);
        } else {
            ds.Open();
        }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const long peak = statusKb("VmHWM");
        const long rssAfter = statusKb("VmRSS");
        const auto store = ds.store();
        std::printf("rows=%lld seconds=%.3f store_bytes=%zu rss_before_kb=%ld rss_after_kb=%ld "
                    "peak_kb=%ld columns=%d\n",
                    static_cast<long long>(store->rowCount()), seconds, store->memoryBytes(),
                    rssBefore, rssAfter, peak, store->columnCount());
        for (int c = 0; c < store->columnCount(); ++c)
            std::printf("column %d %s %s %s\n", c, qPrintable(store->column(c).name),
                        qPrintable(store->column(c).typeName),
                        qPrintable(fieldTypeEnumName(store->column(c).type)));
    } catch (const data::DataError& e) {
        std::fprintf(stderr, "bench-fetch: %s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
