// Fetches one query result through the data layer once, then exports it with the batch move
// to a text file, a dBASE table and an Access table, and its first rows to a spreadsheet, then
// writes it as .csv, .json and .xlsx straight from its store (on a thread of their own, as
// the window runs them), and prints per export: rows, seconds, file size and the memory the
// export adds to the fetched result (peak resident size during the export minus the resident
// size before it); last the library's floor for .xlsx (xlsxFloor). run.sh compares the times with
// freebcp writing the same query in character mode.
//
//   bench-export --connection "<ADO connection string>" --query "<SQL>" --dir DIR
//                [--xls-rows 65000] [--format Text|dBASE|Access|Excel|CSV|JSON|XLSX|XLSXFLOOR]...

#include "bench/lib/procstatus.h"
#include "export/VelADObatchmove.h"
#include "export/exportjob.h"

#include "data/sqlserverprovider.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <stdexcept>
#include <tuple>
#include <xlsxwriter.h>

namespace {

using benchproc::resetPeak;
using benchproc::statusKb;

// The first rows of the fetched result, served as a query result of their own, so the
// spreadsheet gets what one sheet holds without fetching again.
std::shared_ptr<const data::ResultStore> g_fetched;
qint64 g_sliceRows = 0;

class SliceSession : public data::ProviderConnection {
public:
    std::shared_ptr<data::ResultStore> query(const QString&, const data::QueryOptions&,
                                             data::MessageList&) override {
        auto s = std::make_shared<data::ResultStore>(g_fetched->columns());
        const qint64 n = std::min(g_sliceRows, g_fetched->rowCount());
        for (qint64 r = 0; r < n; ++r) {
            s->appendRows(1);
            for (int c = 0; c < g_fetched->columnCount(); ++c)
                s->setValue(r, c, g_fetched->value(r, c));
        }
        s->squeeze();
        return s;
    }
    void execute(const QString&, const QList<QVariant>&, const data::QueryOptions&,
                 data::MessageList&) override {}
    std::shared_ptr<data::ResultStore> openTable(const QString&, const data::QueryOptions&,
                                                 data::MessageList&) override {
        throw data::DataError(QStringLiteral("no tables"));
    }
    void appendRows(const QString&, const data::ResultStore&, qint64) override {}
    QStringList tableNames(bool) override { return {}; }
    QList<data::PropertyEntry> properties() override { return {}; }
};

class SliceProvider : public data::Provider {
public:
    QString name() const override { return QStringLiteral("Bench.Slice"); }
    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                      data::MessageList&) override {
        return std::make_unique<SliceSession>();
    }
};

// An Access export names the database file and the table in it; the others name a folder
// and the file.
void exportOnce(TVelADObatchmove& batchMove, const char* name, TDatabaseType type,
                const QString& dir, const QString& table) {
    const QString file =
        QDir(dir).filePath(type == dtAccess ? table + QStringLiteral(".mdb") : table);
    QFile::remove(file);
    batchMove.setDestDatabaseName(type == dtAccess ? file : dir + u'/');
    batchMove.setDestTableName(table);
    batchMove.setDestDatabaseType(type);
    resetPeak();
    const long before = statusKb("VmRSS");
    QElapsedTimer timer;
    timer.start();
    // The export command suspends the updates of the grid's dataset around the transfer.
    TADODataSet* source = batchMove.ADODataset();
    source->DisableControls();
    batchMove.Execute();
    source->EnableControls();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long peak = statusKb("VmHWM");
    std::printf("export format=%s rows=%d seconds=%.3f bytes=%lld added_kb=%ld\n", name,
                batchMove.RowsExported(), seconds, static_cast<long long>(QFileInfo(file).size()),
                peak - before);
    std::fflush(stdout);
}

// Rows shaped like the server's Messwerte: int, money, datetime, varchar, nvarchar, float, bit.
std::shared_ptr<const data::ResultStore> syntheticRows(qint64 n) {
    auto column = [](const char* name, TFieldType type, data::StorageKind kind, int scale = 0) {
        data::ColumnInfo c;
        c.name = QString::fromLatin1(name);
        c.type = type;
        c.kind = kind;
        c.scale = scale;
        return c;
    };
    auto s = std::make_shared<data::ResultStore>(
        QList<data::ColumnInfo>{column("Nr", ftInteger, data::StorageKind::Int32),
                                column("Betrag", ftBCD, data::StorageKind::Decimal, 4),
                                column("Zeitpunkt", ftDateTime, data::StorageKind::DateTime),
                                column("Kennung", ftString, data::StorageKind::Utf8),
                                column("Bezeichnung", ftWideString, data::StorageKind::Utf16),
                                column("Messwert", ftFloat, data::StorageKind::Double),
                                column("Gueltig", ftBoolean, data::StorageKind::Bool)});
    const QDateTime start(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    for (qint64 i = 1; i <= n; ++i) {
        const qint64 r = s->appendRows(1);
        s->setValue(r, 0, int(i));
        s->setValue(r, 1, QString::number(double(i % 100000) / 100.0 + 0.0025, 'f', 4));
        s->setValue(r, 2, start.addSecs(i * 37));
        s->setValue(r, 3, QStringLiteral("K-%1").arg(i, 8, 10, QLatin1Char('0')));
        s->setValue(r, 4, QStringLiteral("Messstelle Nr. %1, Süd").arg(i % 977));
        s->setValue(r, 5, double(i) * 0.37);
        s->setValue(r, 6, i % 3 != 0);
    }
    s->squeeze();
    return s;
}

// A stream export as the window runs it: an ExportJob on its own thread, this one waiting.
void streamOnce(const char* name, exportfile::StreamFormat format, const QString& dir,
                const QString& file) {
    const QString path = QDir(dir).filePath(file);
    QFile::remove(path);
    resetPeak();
    const long before = statusKb("VmRSS");
    QElapsedTimer timer;
    timer.start();
    qint64 rows = 0;
    QString error;
    {
        exportfile::StreamOptions options;
        options.sheetName = QStringLiteral("Messwerte");
        ExportJob job(g_fetched, format, path, options);
        QEventLoop loop;
        QObject::connect(&job, &ExportJob::finished, &loop,
                         [&](qint64 n, bool, std::exception_ptr e) {
                             rows = n;
                             if (e) {
                                 try {
                                     std::rethrow_exception(e);
                                 } catch (const std::exception& x) {
                                     error = QString::fromUtf8(x.what());
                                 }
                             }
                             loop.quit();
                         });
        loop.exec();
    }
    if (!error.isEmpty())
        throw std::runtime_error(error.toStdString());
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long peak = statusKb("VmHWM");
    std::printf("export format=%s rows=%lld seconds=%.3f bytes=%lld added_kb=%ld\n", name,
                static_cast<long long>(rows), seconds,
                static_cast<long long>(QFileInfo(path).size()), peak - before);
    std::fflush(stdout);
}

// The library's floor for .xlsx: the fetched rows written by a bare loop over libxlsxwriter in
// constant-memory mode, with the cell types the export writes (numbers, date serials with a
// number format, booleans, strings) and nothing else: no checks, no limits, no progress, no
// staging. Its time against freebcp's shows how much of the export's time is the library's.
void xlsxFloor(const QString& dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("floor.xlsx"));
    QFile::remove(path);
    const QByteArray tmpdir = QFile::encodeName(dir);
    resetPeak();
    const long before = statusKb("VmRSS");
    QElapsedTimer timer;
    timer.start();
    lxw_workbook_options opts{};
    opts.constant_memory = LXW_TRUE;
    opts.tmpdir = const_cast<char*>(tmpdir.constData());
    opts.use_zip64 = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(QFile::encodeName(path).constData(), &opts);
    if (!book)
        throw std::runtime_error("floor.xlsx cannot be created");
    lxw_format* dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Messwerte");
    const data::ResultStore& store = *g_fetched;
    const int columns = store.columnCount();
    for (int c = 0; c < columns; ++c)
        worksheet_write_string(sheet, 0, lxw_col_t(c), store.column(c).name.toUtf8().constData(),
                               nullptr);
    const qint64 rows = std::min<qint64>(store.rowCount(), 1048575);
    constexpr double kTicksPerDay = 864000000000.0;
    constexpr double kSerialEpochDays = 693593; // 0001-01-01 to 1899-12-30
    for (qint64 r = 0; r < rows; ++r) {
        const lxw_row_t row = lxw_row_t(r + 1);
        for (int c = 0; c < columns; ++c) {
            if (store.isNull(r, c))
                continue;
            const lxw_col_t col = lxw_col_t(c);
            const data::ColumnInfo& info = store.column(c);
            switch (info.kind) {
            case data::StorageKind::Bool:
                worksheet_write_boolean(sheet, row, col, store.integer(r, c) != 0, nullptr);
                break;
            case data::StorageKind::DateTime:
                worksheet_write_number(
                    sheet, row, col, double(store.integer(r, c)) / kTicksPerDay - kSerialEpochDays,
                    dateTime);
                break;
            case data::StorageKind::Utf8:
                worksheet_write_string(sheet, row, col, store.bytes(r, c).toByteArray().constData(),
                                       nullptr);
                break;
            case data::StorageKind::Utf16:
                worksheet_write_string(sheet, row, col, store.utf16(r, c).toUtf8().constData(),
                                       nullptr);
                break;
            case data::StorageKind::Guid:
            case data::StorageKind::Bytes:
                worksheet_write_string(sheet, row, col, store.text(r, c).toUtf8().constData(),
                                       nullptr);
                break;
            default: // the numbers, decimals converted
                worksheet_write_number(sheet, row, col, store.real(r, c), nullptr);
                break;
            }
        }
    }
    if (workbook_close(book) != LXW_NO_ERROR)
        throw std::runtime_error("floor.xlsx was not written");
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const long peak = statusKb("VmHWM");
    std::printf("export format=XLSXFLOOR rows=%lld seconds=%.3f bytes=%lld added_kb=%ld\n",
                static_cast<long long>(rows), seconds,
                static_cast<long long>(QFileInfo(path).size()), peak - before);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    data::registerSqlServerProvider();
    QString connection, query, dir;
    QStringList formats;
    const QStringList args = app.arguments();
    g_sliceRows = 65000;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--connection"))
            connection = args[i + 1];
        else if (args[i] == QLatin1String("--query"))
            query = args[i + 1];
        else if (args[i] == QLatin1String("--dir"))
            dir = args[i + 1];
        else if (args[i] == QLatin1String("--xls-rows"))
            g_sliceRows = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--format"))
            formats << args[i + 1];
    }
    auto wanted = [&](const char* name) {
        return formats.isEmpty() || formats.contains(QLatin1String(name));
    };
    // --synthetic N: N rows shaped like Messwerte made here, no server; the stream formats only.
    const qsizetype synthetic = args.indexOf(QStringLiteral("--synthetic"));
    if (synthetic > 0 && synthetic + 1 < args.size() && !dir.isEmpty()) {
        g_fetched = syntheticRows(args[synthetic + 1].toLongLong());
        try {
            for (const auto& [name, format, file] :
                 {std::tuple{"CSV", exportfile::StreamFormat::Csv, "bench.csv"},
                  std::tuple{"JSON", exportfile::StreamFormat::Json, "bench.json"},
                  std::tuple{"XLSX", exportfile::StreamFormat::Xlsx, "bench.xlsx"}})
                if (wanted(name))
                    streamOnce(name, format, dir, QString::fromLatin1(file));
            if (wanted("XLSXFLOOR"))
                xlsxFloor(dir);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench-export: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (connection.isEmpty() || query.isEmpty() || dir.isEmpty()) {
        std::fprintf(stderr, "usage: bench-export --connection <ADO string> --query <SQL> "
                             "--dir DIR [--xls-rows N] "
                             "[--format Text|dBASE|Access|Excel|CSV|JSON|XLSX|XLSXFLOOR]...\n");
        return 2;
    }
    try {
        TADOConnection conn;
        conn.setConnectionString(connection);
        conn.Open();
        TADODataSet result;
        result.setConnection(&conn);
        result.setCommandTimeout(0);
        result.setCommandText(query);
        QElapsedTimer timer;
        timer.start();
        result.Open();
        g_fetched = result.store();
        std::printf("fetch rows=%lld seconds=%.3f store_bytes=%zu\n",
                    static_cast<long long>(g_fetched->rowCount()),
                    double(timer.nsecsElapsed()) / 1e9, g_fetched->memoryBytes());

        TVelADObatchmove batchMove;
        batchMove.ProcessMessages = [] {}; // no event loop to serve here
        batchMove.setADODataset(&result);
        if (wanted("Text"))
            exportOnce(batchMove, "Text", dtText, dir, QStringLiteral("bench.txt"));
        if (wanted("dBASE"))
            exportOnce(batchMove, "dBASE", dtDBase3, dir, QStringLiteral("bench.dbf"));
        if (wanted("Access"))
            exportOnce(batchMove, "Access", dtAccess, dir, QStringLiteral("bench"));

        if (wanted("CSV"))
            streamOnce("CSV", exportfile::StreamFormat::Csv, dir, QStringLiteral("bench.csv"));
        if (wanted("JSON"))
            streamOnce("JSON", exportfile::StreamFormat::Json, dir, QStringLiteral("bench.json"));
        if (wanted("XLSX"))
            streamOnce("XLSX", exportfile::StreamFormat::Xlsx, dir, QStringLiteral("bench.xlsx"));
        if (wanted("XLSXFLOOR"))
            xlsxFloor(dir);

        if (wanted("Excel")) {
            data::registerProvider(QStringLiteral("Bench.Slice"),
                                   [] { return std::make_shared<SliceProvider>(); });
            TADOConnection sliceConn;
            sliceConn.setConnectionString(QStringLiteral("Provider=Bench.Slice"));
            TADODataSet slice;
            slice.setConnection(&sliceConn);
            slice.setCommandText(QStringLiteral("first rows"));
            slice.Open();
            batchMove.setADODataset(&slice);
            exportOnce(batchMove, "Excel", dtExcel8, dir, QStringLiteral("bench.xls"));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-export: %s\n", e.what());
        return 1;
    }
    return 0;
}
