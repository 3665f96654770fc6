#pragma once

// The Access branch of the desktop-file provider: a connection whose data source is an
// Access database file. CREATE TABLE adds a table to it, opening a table gives an empty row
// set to append to, and the batch update appends the rows to the table in the file.

#include "data/provider.h"

namespace exportfile {

// Raises data::DataError when the file does not exist. While a replacement of the file is
// staged (ReplacementPermit), the connection works on the staged database.
std::unique_ptr<data::ProviderConnection>
connectAccessDatabase(const QString& path, QList<data::PropertyEntry> properties);

// Creates an empty database at path when no file is there. An existing file stays as it is;
// with leave to replace it (ReplacementPermit), a new empty database is staged beside it
// and takes its place when the permit is committed. Raises data::DataError with the
// system's reason when the file cannot be written.
void createAccessDatabaseUnlessPresent(const QString& path);

} // namespace exportfile
