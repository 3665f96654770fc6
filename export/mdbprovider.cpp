#include "export/mdbprovider.h"

#include "export/desktopprovider.h"
#include "export/fileio.h"
#include "export/mdbwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace exportfile {

namespace {

// The CREATE TABLE types of tables created in this process, by database and table: the
// file keeps "date" and "time" columns as Date/Time, and the row set of an opened table
// should take values the way the statement declared them.
QHash<QString, std::vector<ColumnDef>>& declaredColumns() {
    static QHash<QString, std::vector<ColumnDef>> columns;
    return columns;
}

QString tableKey(const QString& path, const QString& table) {
    return path + u'\n' + table.toLower();
}

// The staging of a replacement of the file, if one is under way.
const StagedFiles* stagedReplacement(const QString& path) {
    const ReplacementPermit* permit = ReplacementPermit::find(path);
    return permit ? permit->staged() : nullptr;
}

// Runs f with the file to work on: the staged replacement of path, or path itself. Errors
// become data errors that name the destination file, never a staging name.
template <typename F> auto onDatabase(const QString& path, F&& f) -> decltype(f(path)) {
    const StagedFiles* staged = stagedReplacement(path);
    try {
        return f(staged ? staged->path(path) : path);
    } catch (const ExportError& e) {
        throw data::DataError(staged ? staged->finalNames(e.message()) : e.message());
    }
}

class AccessConnection : public data::ProviderConnection {
public:
    AccessConnection(QString path, QList<data::PropertyEntry> properties)
        : m_path(std::move(path)), m_properties(std::move(properties)) {}

    std::shared_ptr<data::ResultStore> query(const QString& text, const data::QueryOptions&,
                                             data::MessageList&) override {
        refuseQuery(text);
    }

    void execute(const QString& text, const QList<QVariant>& params, const data::QueryOptions&,
                 data::MessageList&) override {
        refuseParameters(params);
        onDatabase(m_path, [&](const QString& file) {
            const TableSchema schema = parseCreateTable(text);
            AccessDatabase db(file);
            db.createTable(schema);
            db.commit();
            declaredColumns().insert(tableKey(m_path, schema.tableName), schema.columns);
        });
    }

    std::shared_ptr<data::ResultStore> openTable(const QString& table, const data::QueryOptions&,
                                                 data::MessageList&) override {
        const std::vector<ColumnDef> defs = columnsOf(table);
        QList<data::ColumnInfo> columns;
        for (const auto& c : defs)
            columns.append(columnInfoFor(c));
        return std::make_shared<data::ResultStore>(columns);
    }

    void appendRows(const QString& table, const data::ResultStore& store,
                    qint64 firstRow) override {
        const std::vector<ColumnDef> defs = columnsOf(table);
        onDatabase(m_path, [&](const QString& file) {
            // A value the table cannot hold stops the transfer; the file stays as it was
            // before this batch.
            AccessDatabase db(file);
            const int columns = store.columnCount();
            db.appendRows(
                table, store.rowCount() - firstRow,
                [&](qint64 row, std::vector<QVariant>& values) {
                    for (int c = 0; c < columns && size_t(c) < values.size(); ++c)
                        values[size_t(c)] = store.value(firstRow + row, c);
                },
                defs);
            db.commit();
        });
    }

    QStringList tableNames(bool) override {
        return onDatabase(m_path, [](const QString& file) {
            return AccessDatabase(file, AccessDatabase::ReadOnly).tableNames();
        });
    }

    QList<data::PropertyEntry> properties() override { return m_properties; }

private:
    std::vector<ColumnDef> columnsOf(const QString& table) {
        const auto it = declaredColumns().constFind(tableKey(m_path, table));
        return onDatabase(m_path, [&](const QString& file) {
            AccessDatabase db(file, AccessDatabase::ReadOnly);
            std::vector<ColumnDef> inFile = db.columns(table);
            // The declared types stand for the file's columns while they match them.
            if (it == declaredColumns().cend() || it->size() != inFile.size())
                return inFile;
            for (size_t i = 0; i < inFile.size(); ++i) {
                const jet4::Column declared = jet4::columnFor((*it)[i]);
                const jet4::Column stored = jet4::columnFor(inFile[i]);
                if (declared.name != stored.name || declared.type != stored.type ||
                    declared.length != stored.length)
                    return inFile;
            }
            return *it;
        });
    }

    QString m_path;
    QList<data::PropertyEntry> m_properties;
};

} // namespace

std::unique_ptr<data::ProviderConnection>
connectAccessDatabase(const QString& path, QList<data::PropertyEntry> properties) {
    const QFileInfo fi(path);
    // A database staged for this transfer counts as there: it takes its name when complete.
    const StagedFiles* staged = stagedReplacement(fi.absoluteFilePath());
    if (!fi.isFile() && !(staged && QFileInfo(staged->path(path)).isFile()))
        throw data::DataError(QStringLiteral("Die Access-Datenbank \"%1\" wurde nicht gefunden.")
                                  .arg(QDir::toNativeSeparators(path)));
    return std::make_unique<AccessConnection>(fi.absoluteFilePath(), std::move(properties));
}

void createAccessDatabaseUnlessPresent(const QString& path) {
    if (path.trimmed().isEmpty())
        throw data::DataError(
            QStringLiteral("Es ist keine Access-Datenbank angegeben (Data Source)."));
    const QFileInfo fi(path);
    if (fi.isDir())
        throw data::DataError(
            QStringLiteral("\"%1\" ist ein Ordner; eine Access-Datenbank ist eine Datei.")
                .arg(QDir::toNativeSeparators(path)));
    ReplacementPermit* permit = ReplacementPermit::find(path);
    if (fi.exists() && (!permit || !fi.isFile()))
        return;
    if (permit) {
        // The new database is staged, also under a new name: the old file stays until the
        // transfer has succeeded, and no half-written database ever carries the name.
        StagedFiles* staged = nullptr;
        try {
            staged = &permit->stage();
            createAccessDatabase(staged->path(path));
        } catch (const ExportError& e) {
            throw data::DataError(staged ? staged->finalNames(e.message()) : e.message());
        }
        return;
    }
    try {
        createAccessDatabase(path);
    } catch (const ExportError& e) {
        throw data::DataError(e.message());
    }
}

} // namespace exportfile
