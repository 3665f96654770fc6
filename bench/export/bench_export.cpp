// Runs the batch move over generated rows (an integer, a text, a float and a date per row)
// into the named formats and prints, per format, rows, seconds and the size of the file:
//
//   bench-export --rows 200000 --dir /tmp/out [--format "Text"]...
//
// The rows come from a provider inside this process, so only the export is measured.

#include "VelADObatchmove.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

namespace {

qint64 g_rows = 0;

data::ColumnInfo column(const char* name, TFieldType type, data::StorageKind kind, int size = 0) {
    data::ColumnInfo c;
    c.name = QString::fromLatin1(name);
    c.type = type;
    c.kind = kind;
    c.size = size;
    return c;
}

class GeneratedSession : public data::ProviderConnection {
public:
    std::shared_ptr<data::ResultStore> query(const QString&, const data::QueryOptions&,
                                             data::MessageList&) override {
        const QList<data::ColumnInfo> cols{
            column("ID", ftInteger, data::StorageKind::Int32),
            column("Name", ftWideString, data::StorageKind::Utf16, 40),
            column("Wert", ftFloat, data::StorageKind::Double),
            column("Tag", ftDate, data::StorageKind::Date)};
        auto s = std::make_shared<data::ResultStore>(cols);
        const QDate start(2000, 1, 1);
        for (qint64 i = 0; i < g_rows; ++i) {
            const qint64 r = s->appendRows(1);
            s->setValue(r, 0, int(i + 1));
            s->setValue(r, 1, QStringLiteral("Kunde %1").arg(i + 1));
            s->setValue(r, 2, double(i + 1) / 4.0);
            s->setValue(r, 3, start.addDays(i % 10000));
        }
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

class GeneratedProvider : public data::Provider {
public:
    QString name() const override { return QStringLiteral("Bench.Generated"); }
    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                      data::MessageList&) override {
        return std::make_unique<GeneratedSession>();
    }
};

struct Format {
    const char* name;
    TDatabaseType type;
    const char* extension;
};

constexpr Format formats[] = {
    {"Text", dtText, ".txt"},        {"dBASE III", dtDBase3, ".dbf"},
    {"FoxPro 3.0", dtFox30, ".dbf"}, {"Paradox 5.x", dtParadox5, ".db"},
    {"Excel 8.0", dtExcel8, ".xls"}, {"HTML Export", dtHTMLexport, ".html"},
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString dir = QDir::tempPath();
    QStringList wanted;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rows"))
            g_rows = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--dir"))
            dir = args[i + 1];
        else if (args[i] == QLatin1String("--format"))
            wanted << args[i + 1];
    }
    if (g_rows <= 0) {
        std::fprintf(stderr, "usage: bench-export --rows N [--dir DIR] [--format NAME]...\n");
        return 2;
    }
    data::registerProvider(QStringLiteral("Bench.Generated"),
                           [] { return std::make_shared<GeneratedProvider>(); });
    try {
        TADOConnection conn;
        conn.setConnectionString(QStringLiteral("Provider=Bench.Generated"));
        TADODataSet query;
        query.setConnection(&conn);
        query.setCommandText(QStringLiteral("generated"));
        query.Open();
        TVelADObatchmove batchMove;
        batchMove.setADODataset(&query);
        batchMove.setDestDatabaseName(dir + u'/');
        for (const Format& f : formats) {
            if (!wanted.isEmpty() && !wanted.contains(QLatin1String(f.name)))
                continue;
            const QString table = QStringLiteral("bench") + QLatin1String(f.extension);
            batchMove.setDestTableName(table);
            batchMove.setDestDatabaseType(f.type);
            QElapsedTimer timer;
            timer.start();
            batchMove.Execute();
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            std::printf("%-12s rows %d seconds %.3f bytes %lld\n", f.name, batchMove.RowsExported(),
                        seconds, QFileInfo(QDir(dir).filePath(table)).size());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-export: %s\n", e.what());
        return 1;
    }
    return 0;
}
