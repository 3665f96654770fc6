#include "export/desktopprovider.h"

#include "export/blockwriter.h"
#include "export/fileio.h"
#include "export/mdbprovider.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <map>
#include <mutex>
#include <optional>

namespace exportfile {

namespace {

// Tables created through the provider in this process, by file path: what openTable needs
// to know about them, since the formats are written, never read back.
struct CreatedTable {
    FileFormat format;
    TableSchema schema;
};

// Export jobs create tables on threads of their own, so the list is guarded and read by copy.
QHash<QString, CreatedTable>& createdTables() {
    static QHash<QString, CreatedTable> tables;
    return tables;
}

std::mutex& createdTablesLock() {
    static std::mutex lock;
    return lock;
}

template <typename F> auto asDataError(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ExportError& e) {
        throw data::DataError(e.message());
    }
}

// Runs f; its errors name the files by their destination names, not their staging names. A
// file of the table that cannot be written (its memo file too) is reported as the table's own
// file, the one the user chose.
template <typename F>
void namingFinalFiles(const StagedFiles* staged, const QString& tableFile, F&& f) {
    try {
        f();
    } catch (const FileWriteError& e) {
        throw FileWriteError(staged ? staged->finalNames(tableFile) : tableFile, e.reason());
    } catch (const ExportError& e) {
        if (!staged)
            throw;
        throw ExportError(staged->finalNames(e.message()));
    }
}

QString propertyText(const data::ConnectionParams& params, const QString& name) {
    for (const auto& p : params.properties)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p.value.toString();
    return {};
}

// A cell from its storage kind and a reader of the value's representations.
// The fraction digits a date/time column of a created table keeps: those of
// datetime(n) and time(n), -1 (milliseconds) for the others.
int fractionOf(const data::ColumnInfo& info) {
    return info.typeName.isEmpty() ? -1 : info.scale;
}

template <typename Reader>
Cell cellOf(data::StorageKind kind, const Reader& read, int fraction = -1) {
    Cell c;
    if (read.isNull())
        return c;
    c.fraction = fraction;
    switch (kind) {
    case data::StorageKind::Int64:
        c.kind = Cell::Integer;
        c.integer = read.integer();
        break;
    case data::StorageKind::Double:
        c.kind = Cell::Real;
        c.real = read.real();
        break;
    case data::StorageKind::Bool:
        c.kind = Cell::Bool;
        c.integer = read.integer() != 0;
        break;
    case data::StorageKind::Utf16:
        c.kind = Cell::Text;
        c.text = read.utf16();
        break;
    case data::StorageKind::Date:
        c.kind = Cell::Date;
        data::civilFromDays(std::int32_t(read.integer()), c.year, c.month, c.day);
        break;
    case data::StorageKind::DateTime: {
        // Whole milliseconds, as the store's own values have them.
        const std::int64_t ticks = read.integer();
        if (ticks < 0) {
            c.kind = Cell::Other;
            break;
        }
        c.kind = Cell::DateTime;
        data::civilFromDays(std::int32_t(ticks / data::kTicksPerDay), c.year, c.month, c.day);
        c.msecs = int(ticks % data::kTicksPerDay / 10000);
        c.subMsecTicks = int(ticks % 10000);
        break;
    }
    case data::StorageKind::Time: {
        const std::int64_t ticks = read.integer();
        c.kind = ticks >= 0 && ticks < data::kTicksPerDay ? Cell::Time : Cell::Other;
        c.msecs = int(ticks / 10000);
        c.subMsecTicks = int(ticks % 10000);
        break;
    }
    default:
        c.kind = Cell::Other; // not a kind of this provider's tables
        break;
    }
    return c;
}

// One row of the row set the batch move appended to, as the writers take it: the values
// straight from the store's columns (their kinds are the ones columnInfoFor gives). A store
// without edits is read block by block, without a look-up per value.
class StoreRow : public RowView {
public:
    explicit StoreRow(const data::ResultStore& store)
        : m_store(store), m_direct(!store.hasEdits()), m_views(size_t(store.columnCount())) {}

    void setRow(qint64 r) {
        m_row = r;
        if (m_direct && !m_views.empty() && !m_views.front().contains(r))
            for (size_t c = 0; c < m_views.size(); ++c)
                m_views[c] = m_store.blockView(r, int(c));
    }

    Cell cell(int column) const override {
        if (m_direct)
            return directCell(column);
        struct {
            const data::ResultStore& s;
            qint64 row;
            int col;
            bool isNull() const { return s.isNull(row, col); }
            std::int64_t integer() const { return s.integer(row, col); }
            double real() const { return s.real(row, col); }
            QStringView utf16() const { return s.utf16(row, col); }
        } read{m_store, m_row, column};
        const data::ColumnInfo& info = m_store.column(column);
        return cellOf(info.kind, read, fractionOf(info));
    }

    void cells(Cell* out, int columns) const override {
        if (!m_direct) {
            RowView::cells(out, columns);
            return;
        }
        for (int c = 0; c < columns; ++c)
            out[c] = directCell(c);
    }

    QVariant value(int column) const override {
        // A time of more than milliseconds goes as its text: a QDateTime would cut it.
        if (fractionOf(m_store.column(column)) >= 0 && !m_store.isNull(m_row, column))
            return m_store.text(m_row, column);
        return m_store.value(m_row, column);
    }

private:
    Cell directCell(int column) const {
        struct {
            const data::ResultStore::BlockView& v;
            qint64 row;
            bool isNull() const { return v.isNull(row); }
            std::int64_t integer() const { return v.integer(row); }
            double real() const { return v.fixedValue<double>(row); }
            QStringView utf16() const {
                const QByteArrayView b = v.bytes(row);
                return QStringView(reinterpret_cast<const QChar*>(b.data()), b.size() / 2);
            }
        } read{m_views[size_t(column)], m_row};
        return cellOf(read.v.kind, read, fractionOf(m_store.column(column)));
    }

    const data::ResultStore& m_store;
    const bool m_direct;
    std::vector<data::ResultStore::BlockView> m_views;
    qint64 m_row = 0;
};

class DesktopConnection : public data::ProviderConnection {
public:
    DesktopConnection(QString dataSource, FileFormat format, QList<data::PropertyEntry> properties)
        : m_dataSource(std::move(dataSource)), m_format(format),
          m_properties(std::move(properties)) {}

    std::shared_ptr<data::ResultStore> query(const QString& text, const data::QueryOptions&,
                                             data::MessageList&) override {
        refuseQuery(text);
    }

    void execute(const QString& text, const QList<QVariant>& params, const data::QueryOptions&,
                 data::MessageList&) override {
        refuseParameters(params);
        asDataError([&] {
            TableSchema schema = parseCreateTable(text);
            const QString path = tableFilePath(m_dataSource, schema.tableName, m_format);
            ReplacementPermit* permit = ReplacementPermit::find(path);
            if (QFileInfo::exists(path) && (!permit || !QFileInfo(path).isFile()))
                throw ExportError(
                    QStringLiteral("Die Tabelle \"%1\" existiert bereits.").arg(path));
            if (permit) {
                // With leave to replace the file, the new table is staged beside it, also under
                // a new name, and takes its place only when the whole transfer has succeeded.
                StagedFiles& staged = permit->stage(companionFiles(m_format, path));
                namingFinalFiles(&staged, staged.path(path), [&] {
                    createTableWriter(m_format, schema, staged.path(path))->finish();
                });
            } else {
                // Memo files left behind by a table that was deleted belong to nobody any more.
                for (const QString& companion : companionFiles(m_format, path))
                    QFile::remove(companion);
                // The table exists, complete and empty, as soon as the statement has run.
                namingFinalFiles(nullptr, path,
                                 [&] { createTableWriter(m_format, schema, path)->finish(); });
            }
            {
                std::lock_guard guard(createdTablesLock());
                createdTables().insert(path, {m_format, std::move(schema)});
            }
            m_open.erase(path); // rows appended from now on go to the new table
        });
    }

    std::shared_ptr<data::ResultStore> openTable(const QString& table, const data::QueryOptions&,
                                                 data::MessageList&) override {
        const CreatedTable& t = tableFor(table);
        QList<data::ColumnInfo> columns;
        for (const auto& c : t.schema.columns)
            columns.append(columnInfoFor(c));
        return std::make_shared<data::ResultStore>(columns);
    }

    void appendRows(const QString& table, const data::ResultStore& store,
                    qint64 firstRow) override {
        withOpenTable(table, [&](OpenTable& open, bool fresh) {
            // Blocks handed over before go to the file first.
            if (open.async)
                open.async->drain();
            writeRows(*open.writer, store, fresh ? 0 : firstRow);
        });
    }

    void takeRows(const QString& table, data::ResultStore& rows) override {
        // A spreadsheet holds its sheet's cells and strings until it is complete, and a sheet
        // takes at most 65,536 rows: a second block in flight would only add to its memory.
        if (m_format == FileFormat::Excel3 || m_format == FileFormat::Excel4 ||
            m_format == FileFormat::Excel5 || m_format == FileFormat::Excel8) {
            ProviderConnection::takeRows(table, rows);
            return;
        }
        // The block is written on the table's writer thread while the next one is gathered.
        withOpenTable(table, [&](OpenTable& open, bool) {
            if (!open.async) {
                TableWriter* writer = open.writer.get();
                open.async = std::make_unique<BlockWriter>(
                    [writer](const data::ResultStore& block) { writeRows(*writer, block, 0); });
            }
            rows = open.async->submit(std::move(rows));
        });
    }

    void endAppend(const QString& table) override {
        const QString path = tableFilePath(m_dataSource, table, m_format);
        auto it = m_open.find(path);
        if (it == m_open.end())
            return;
        const ReplacementPermit* permit = ReplacementPermit::find(path);
        StagedFiles* staged = permit ? permit->staged() : nullptr;
        // Taken out first: a failing completion leaves no writer behind.
        std::unique_ptr<BlockWriter> async = std::move(it->second.async);
        std::unique_ptr<TableWriter> writer = std::move(it->second.writer);
        m_open.erase(it);
        asDataError([&] {
            namingFinalFiles(staged, staged ? staged->path(path) : path, [&] {
                if (async) {
                    try {
                        async->drain();
                    } catch (...) {
                        async.reset();
                        finishQuietly(*writer);
                        throw;
                    }
                    async.reset();
                }
                writer->finish();
            });
        });
    }

    QStringList tableNames(bool) override {
        QStringList names;
        const QString ext = defaultExtension(m_format);
        const auto entries =
            QDir(m_dataSource).entryList({QStringLiteral("*") + ext}, QDir::Files, QDir::Name);
        for (const QString& e : entries)
            names << e;
        return names;
    }

    QList<data::PropertyEntry> properties() override { return m_properties; }

private:
    // Writers of the tables rows were appended to in this session, by file path.
    struct OpenTable {
        QString target; // the file written: the table's, or its staging file
        std::unique_ptr<TableWriter> writer;
        std::unique_ptr<BlockWriter> async; // declared last: stops before the writer goes
    };

    // Runs f(open table, fresh) for appending rows to table, where fresh tells that the
    // writer was just created. The formats cannot be appended to in place: the first rows of
    // a batch write the table anew, with every row the row set holds, and the writer stays
    // open for the rows that follow (a server-side cursor sends them in blocks, dropping those
    // sent) until endAppend completes the file. A failure closes the table: in a new file the
    // rows before the failing one stay, a staged replacement is dropped with the transfer.
    template <typename F> void withOpenTable(const QString& table, F&& f) {
        const QString path = tableFilePath(m_dataSource, table, m_format);
        const CreatedTable& t = tableFor(table);
        // A table that replaces an existing file is written into its staging files.
        const ReplacementPermit* permit = ReplacementPermit::find(path);
        StagedFiles* staged = permit ? permit->staged() : nullptr;
        const QString target = staged ? staged->path(path) : path;
        asDataError([&] {
            namingFinalFiles(staged, target, [&] {
                OpenTable& open = m_open[path];
                bool fresh = false;
                if (!open.writer || open.target != target) {
                    open.async.reset();
                    open.writer.reset();
                    open.writer = createTableWriter(t.format, t.schema, target);
                    open.target = target;
                    fresh = true;
                }
                try {
                    f(open, fresh);
                } catch (...) {
                    closeTable(path);
                    throw;
                }
            });
        });
    }

    // Writes rows [from, store.rowCount()); a value the file cannot hold names its row.
    static void writeRows(TableWriter& writer, const data::ResultStore& store, qint64 from) {
        const int columns = store.columnCount();
        StoreRow view(store);
        try {
            for (qint64 row = from; row < store.rowCount(); ++row) {
                view.setRow(row);
                writer.appendCells(view, columns);
            }
        } catch (const FileWriteError&) {
            throw; // the file failed, not the record
        } catch (const ExportError& e) {
            throw ExportError(
                QStringLiteral("Datensatz %1: %2").arg(writer.rowCount() + 1).arg(e.message()));
        }
    }

    // Completes what was written, on the way out of a failure: the failure being reported
    // is the one that counts.
    static void finishQuietly(TableWriter& writer) {
        try {
            writer.finish();
        } catch (const ExportError&) {
        }
    }

    // Completes what was written of the table so far, on the way out of a failure.
    void closeTable(const QString& path) {
        auto it = m_open.find(path);
        if (it == m_open.end())
            return;
        it->second.async.reset();
        if (it->second.writer)
            finishQuietly(*it->second.writer);
        m_open.erase(it);
    }

    CreatedTable tableFor(const QString& table) const {
        const QString path = tableFilePath(m_dataSource, table, m_format);
        std::optional<CreatedTable> created;
        {
            std::lock_guard guard(createdTablesLock());
            const auto it = createdTables().constFind(path);
            if (it != createdTables().cend())
                created = *it;
        }
        // A table staged for this transfer is there, under its staging name until complete.
        const ReplacementPermit* permit = ReplacementPermit::find(path);
        const StagedFiles* staged = permit ? permit->staged() : nullptr;
        if (!created || !QFileInfo::exists(staged ? staged->path(path) : path))
            throw data::DataError(
                QStringLiteral("Die Tabelle \"%1\" wurde nicht gefunden.").arg(path));
        if (created->format != m_format)
            throw data::DataError(
                QStringLiteral("Die Tabelle \"%1\" hat ein anderes Dateiformat.").arg(path));
        return *created;
    }

    QString m_dataSource;
    FileFormat m_format;
    QList<data::PropertyEntry> m_properties;
    std::map<QString, OpenTable> m_open;
};

class DesktopProvider : public data::Provider {
public:
    QString name() const override { return QStringLiteral("Microsoft.Jet.OLEDB.4.0"); }

    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams& params,
                                                      data::MessageList&) override {
        const QString dataSource = propertyText(params, QStringLiteral("Data Source"));
        const QString extended = propertyText(params, QStringLiteral("Extended Properties"));
        const QFileInfo fi(dataSource);
        if (extended.trimmed().isEmpty()) {
            // Without a format the data source names a database file: an Access database.
            if (fi.isDir() || dataSource.isEmpty())
                throw data::DataError(
                    QStringLiteral("Es ist kein Dateiformat angegeben (Extended Properties)."));
            QList<data::PropertyEntry> props = params.properties;
            props.prepend({QStringLiteral("Provider Name"), name()});
            return connectAccessDatabase(dataSource, props);
        }
        const FileFormat format =
            asDataError([&] { return formatFromExtendedProperties(extended); });
        if (dataSource.isEmpty())
            throw data::DataError(
                QStringLiteral("Es ist kein Zielordner angegeben (Data Source)."));
        if (!fi.isDir())
            throw data::DataError(QStringLiteral("Der Ordner \"%1\" ist nicht vorhanden.")
                                      .arg(QDir::toNativeSeparators(dataSource)));
        QList<data::PropertyEntry> props = params.properties;
        props.prepend({QStringLiteral("Provider Name"), name()});
        return std::make_unique<DesktopConnection>(fi.absoluteFilePath(), format, props);
    }
};

} // namespace

data::ColumnInfo columnInfoFor(const ColumnDef& column) {
    data::ColumnInfo info;
    info.name = column.name;
    info.nullable = true;
    switch (column.type) {
    case ColumnType::Integer:
        info.type = ftInteger;
        info.kind = data::StorageKind::Int64; // "integer" also receives 64-bit values
        break;
    case ColumnType::Float:
        info.type = ftFloat;
        info.kind = data::StorageKind::Double;
        break;
    case ColumnType::Numeric:
        // Held as the source delivers it; the writer rounds to the column's scale.
        info.type = ftBCD;
        info.kind = data::StorageKind::Double;
        info.precision = column.precision;
        info.size = column.scale;
        info.scale = column.scale;
        break;
    case ColumnType::Char:
        info.type = ftString;
        info.kind = data::StorageKind::Utf16;
        info.size = column.size;
        break;
    case ColumnType::Memo:
        info.type = ftMemo;
        info.kind = data::StorageKind::Utf16;
        break;
    case ColumnType::Bit:
        info.type = ftBoolean;
        info.kind = data::StorageKind::Bool;
        break;
    case ColumnType::Date:
        info.type = ftDate;
        info.kind = data::StorageKind::Date;
        break;
    case ColumnType::DateTime:
        info.type = ftDateTime;
        info.kind = data::StorageKind::DateTime;
        if (column.fraction >= 0) {
            // Held to 100 ns; shown and written with the column's digits.
            info.typeName = QStringLiteral("datetime2");
            info.scale = column.fraction;
        }
        break;
    case ColumnType::Timestamp:
        info.type = ftTimeStamp;
        info.kind = data::StorageKind::DateTime;
        break;
    case ColumnType::Time:
        info.type = ftTime;
        info.kind = data::StorageKind::Time;
        if (column.fraction >= 0) {
            info.typeName = QStringLiteral("time");
            info.scale = column.fraction;
        }
        break;
    }
    return info;
}

QString tableFilePath(const QString& dataSource, const QString& tableName, FileFormat format) {
    QString name = tableName;
    if (QFileInfo(name).suffix().isEmpty())
        name += defaultExtension(format);
    return QFileInfo(QDir(dataSource), name).absoluteFilePath();
}

void refuseQuery(const QString& text) {
    throw data::DataError(
        QStringLiteral("Abfragen werden von diesem Provider nicht unterstützt: %1")
            .arg(text.left(60)));
}

void refuseParameters(const QList<QVariant>& params) {
    if (!params.isEmpty())
        throw data::DataError(
            QStringLiteral("Parameter werden von diesem Provider nicht unterstützt."));
}

std::shared_ptr<data::Provider> desktopFileProvider() {
    static const auto provider = std::make_shared<DesktopProvider>();
    return provider;
}

void registerDesktopFileProvider() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* name : {"Microsoft.Jet.OLEDB.4.0", "Microsoft.Jet.OLEDB.3.51"})
            data::registerProvider(QString::fromLatin1(name), [] { return desktopFileProvider(); });
    });
}

} // namespace exportfile
