#pragma once

// Access databases (Jet 4 format) written without any database engine: an empty database,
// user tables added to it, and rows appended to a table. Every change is made on a copy
// beside the database file and takes the file's place only when it is complete, so a
// failure (a full disk, a value the table cannot hold) leaves the database as it was.

#include "export/jet4format.h"
#include "export/tableschema.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace exportfile {

// Creates an empty database at path. Raises ExportError with the system's reason when the
// file cannot be written, and when a file exists there already.
void createAccessDatabase(const QString& path);

// A database opened for reading, or for changes that reach the file only with commit().
class AccessDatabase {
public:
    enum OpenMode { ReadOnly, ReadWrite };
    explicit AccessDatabase(const QString& path, OpenMode mode = ReadWrite);
    ~AccessDatabase();
    AccessDatabase(const AccessDatabase&) = delete;
    AccessDatabase& operator=(const AccessDatabase&) = delete;

    // User tables in catalog order.
    QStringList tableNames();
    // Table names compare without regard to case, as in the format's catalog.
    bool hasTable(const QString& name);
    // Bytes of the row that maps a table's data pages: it covers about 8 pages a byte (128 MB
    // of table with the default) before it turns into a list of map pages.
    static constexpr int kDefaultUsageMapBytes = 4000;
    // Adds an empty user table; raises ExportError when the name is taken or a name or
    // type is not allowed. usageMapBytes: see kDefaultUsageMapBytes (tests use small maps).
    void createTable(const TableSchema& schema, int usageMapBytes = kDefaultUsageMapBytes);
    // The columns of a user table as CREATE TABLE types.
    std::vector<ColumnDef> columns(const QString& table);

    // Appends `count` rows; row(i, values) fills one value per column, in column order.
    // columnTypes, when given, says how values arrive (a "date" or "time" column is stored as
    // Date/Time like "datetime"); otherwise the file's types decide.
    using RowSource = std::function<void(qint64 row, std::vector<QVariant>& values)>;
    void appendRows(const QString& table, qint64 count, const RowSource& row,
                    const std::vector<ColumnDef>& columnTypes = {});

    // Puts the changed database in place of the file.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace exportfile
