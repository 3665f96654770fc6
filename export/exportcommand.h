#pragma once

// What the main window's export command needs besides its dialog: the destination a chosen
// file name stands for, the run of the batch move around the result set, and the status text.

#include "export/VelADObatchmove.h"

#include <QString>
#include <functional>
#include <optional>

struct ExportTarget {
    QString databaseName; // the folder part with its trailing separator ("/home/x/", "C:\Daten\");
                          // for Access the database file itself
    QString tableName;    // the file name part with its extension ("kunden.dbf"); for Access
                          // the table inside the database
    TDatabaseType type = dtUndefined;
};

// The destination for a chosen file name, by its lower-cased extension (the text from the
// last "." of the file name part): .dbf dBASE III, .xls Excel 8.0, .txt Text, .db Paradox 5.x,
// .mdb Access, .html HTML Export. Any other extension, or none, gives no target.
// An Access database is one file holding the table: for /x/kunden.mdb the database name is
// the whole file name and the table is "kunden" (accessTableName of the name part).
std::optional<ExportTarget> exportTargetForFile(const QString& fileName);

// The table name an Access export into a file of this base name (without extension) uses:
// characters Access does not allow in names become "_", leading blanks go, at most 64
// characters; "Tabelle" when nothing is left.
QString accessTableName(const QString& baseName);

// "Es wurden %d Datensätze exportiert."
QString exportStatusText(qint32 rows);

// Runs the export of `query` into `fileName`: sets folder, table name and type on the batch
// move, suspends the query's bound controls while it runs, moves the query back to its first
// row afterwards and resumes the controls (also when the transfer fails). A file name without
// a known extension exports nothing. In every case `showStatus` receives the status text with
// the batch move's RowsExported before this returns or the failure goes on to the caller.
void exportQueryToFile(TVelADObatchmove& batchMove, TADODataSet& query, const QString& fileName,
                       const std::function<void(const QString&)>& showStatus);
