#include "mdbprovider.h"

#include "desktopprovider.h"
#include "mdbwriter.h"

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

template <typename F> auto asDataError(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ExportError& e) {
        throw data::DataError(e.message());
    }
}

class AccessConnection : public data::ProviderConnection {
public:
    AccessConnection(QString path, QList<data::PropertyEntry> properties)
        : m_path(std::move(path)), m_properties(std::move(properties)) {}

    std::shared_ptr<data::ResultStore> query(const QString& text, const data::QueryOptions&,
                                             data::MessageList&) override {
        throw data::DataError(
            QStringLiteral("Abfragen werden von diesem Provider nicht unterstützt: %1")
                .arg(text.left(60)));
    }

    void execute(const QString& text, const QList<QVariant>& params, const data::QueryOptions&,
                 data::MessageList&) override {
        if (!params.isEmpty())
            throw data::DataError(
                QStringLiteral("Parameter werden von diesem Provider nicht unterstützt."));
        asDataError([&] {
            const TableSchema schema = parseCreateTable(text);
            AccessDatabase db(m_path);
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
        asDataError([&] {
            // A value the table cannot hold stops the transfer; the file stays as it was
            // before this batch.
            AccessDatabase db(m_path);
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
        return asDataError([&] { return AccessDatabase(m_path, AccessDatabase::ReadOnly).tableNames(); });
    }

    QList<data::PropertyEntry> properties() override { return m_properties; }

private:
    std::vector<ColumnDef> columnsOf(const QString& table) {
        const auto it = declaredColumns().constFind(tableKey(m_path, table));
        return asDataError([&] {
            AccessDatabase db(m_path, AccessDatabase::ReadOnly);
            std::vector<ColumnDef> inFile = db.columns(table);
            // The declared types stand for the file's columns while they match them.
            if (it != declaredColumns().cend() && it->size() == inFile.size())
                return *it;
            return inFile;
        });
    }

    QString m_path;
    QList<data::PropertyEntry> m_properties;
};

} // namespace

std::unique_ptr<data::ProviderConnection>
connectAccessDatabase(const QString& path, QList<data::PropertyEntry> properties) {
    const QFileInfo fi(path);
    if (!fi.isFile())
        throw data::DataError(QStringLiteral("Die Access-Datenbank \"%1\" wurde nicht gefunden.")
                                  .arg(QDir::toNativeSeparators(path)));
    return std::make_unique<AccessConnection>(fi.absoluteFilePath(), std::move(properties));
}

} // namespace exportfile
