#pragma once

// The Access branch of the desktop-file provider: a connection whose data source is an
// Access database file. CREATE TABLE adds a table to it, opening a table gives an empty row
// set to append to, and the batch update appends the rows to the table in the file.

#include "provider.h"

namespace exportfile {

// Raises data::DataError when the file does not exist.
std::unique_ptr<data::ProviderConnection>
connectAccessDatabase(const QString& path, QList<data::PropertyEntry> properties);

} // namespace exportfile
