#pragma once

// What the main window's export command needs besides its dialog: the destination a chosen
// file name stands for, the run of the batch move around the result set, and the status text.

#include "export/VelADObatchmove.h"
#include "export/streamexport.h"

#include <QString>
#include <functional>
#include <optional>

struct ExportTarget {
    QString databaseName; // the folder part with its trailing separator ("/home/x/", "C:\Daten\");
                          // for Access the database file itself
    QString tableName;    // the file name part with its extension ("kunden.dbf"); for Access
                          // the table inside the database
    TDatabaseType type = dtUndefined;
    // Set for the formats written straight from the result's store (.xlsx, .csv, .json);
    // type is then dtUndefined and the batch move is not used.
    std::optional<exportfile::StreamFormat> stream;

    // The file the export writes.
    QString filePath() const { return type == dtAccess ? databaseName : databaseName + tableName; }
};

// The destination for a chosen file name, by its lower-cased extension (the text from the
// last "." of the file name part): .dbf dBASE III, .xls Excel 8.0, .txt Text, .db Paradox 5.x,
// .mdb Access, .html HTML Export; .xlsx, .csv and .json are stream formats. Any other
// extension, or none, gives no target.
// An Access database is one file holding the table: for /x/kunden.mdb the database name is
// the whole file name and the table is "kunden" (accessTableName of the name part).
std::optional<ExportTarget> exportTargetForFile(const QString& fileName);

// The table name an Access export into a file of this base name (without extension) uses:
// characters Access does not allow in names become "_", leading blanks go, at most 64
// characters; "Tabelle" when nothing is left.
QString accessTableName(const QString& baseName);

// "Es wurden %d Datensätze exportiert."
QString exportStatusText(qint64 rows);
// "N von M Datensätzen exportiert", the status line while an export runs.
QString exportProgressText(qint64 rows, qint64 total);

// The save dialog's type list: the formats of old first, then the stream formats.
QString exportFileFilter();

// The options of a stream export to target: the sheet named after the file, the locale's
// separator for .csv.
exportfile::StreamOptions streamOptionsFor(const ExportTarget& target, const QLocale& locale);

// What drives an export besides its destination: a request to stop (checked between rows)
// and a report of the rows written so far.
struct ExportControl {
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(qint64 rows)> progress;
};

// Runs the export of `query` into `fileName`: sets folder, table name and type on the batch
// move, suspends the query's bound controls while it runs, moves the query back to its first
// row afterwards and resumes the controls (also when the transfer fails). A file name without
// a known extension exports nothing. In every case `showStatus` receives the status text with
// the batch move's RowsExported before this returns or the failure goes on to the caller.
// A stream format is written here on the calling thread, from the query's store (the window
// runs it on a thread of its own through ExportJob instead). Staging folders that an export
// killed earlier left in the destination's folder are removed first. A cancel through
// control ends with ExportCancelled, the file of that name left as it was.
void exportQueryToFile(TVelADObatchmove& batchMove, TADODataSet& query, const QString& fileName,
                       const std::function<void(const QString&)>& showStatus,
                       const ExportControl& control = {});
