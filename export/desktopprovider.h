#pragma once

// The desktop-file provider: the data layer's provider for export destinations. A connection
// names a folder ("Data Source") and a file format ("Extended Properties"); CREATE TABLE
// creates a table file there, opening the table by name gives an empty row set to append
// to, and the batch update writes the appended rows into the file.

#include "data/provider.h"
#include "export/tablewriter.h"

namespace exportfile {

// Registers the provider under "Microsoft.Jet.OLEDB.4.0" and "Microsoft.Jet.OLEDB.3.51".
// Only the first call registers, so a test may put a provider of its own in place afterwards.
void registerDesktopFileProvider();

// The provider itself, for callers that want it without the registry.
std::shared_ptr<data::Provider> desktopFileProvider();

// Column of a row set opened on a table of this schema.
data::ColumnInfo columnInfoFor(const ColumnDef& column);

// What the provider's connections answer to a query and to parameters: they take neither.
[[noreturn]] void refuseQuery(const QString& text);
void refuseParameters(const QList<QVariant>& params);

// Where the table's file lies: dataSource joined with tableName, with the format's usual
// extension added when the table name has none.
QString tableFilePath(const QString& dataSource, const QString& tableName, FileFormat format);

} // namespace exportfile
