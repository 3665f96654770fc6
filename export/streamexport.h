#pragma once

// Exports that read a fetched result straight from its ResultStore and stream it into one
// file: comma separated values (.csv), JSON (.json) and Office Open XML workbooks (.xlsx).
// They need nothing of the window's thread: the store is read-only while they run, the file
// is written into a staging folder beside its destination and takes the destination's name
// only when complete, and a cancel request stops them between rows.

#include "data/resultstore.h"
#include "export/tableschema.h"

#include <QChar>
#include <QLocale>
#include <QString>
#include <atomic>
#include <functional>

namespace exportfile {

enum class StreamFormat { Csv, Json, Xlsx };

// An export stopped on request; nothing was left behind.
class ExportCancelled : public ExportError {
public:
    ExportCancelled() : ExportError(QStringLiteral("Der Export wurde abgebrochen.")) {}
};

// Rows a worksheet holds below its title row.
inline constexpr qint64 kXlsxSheetRows = 1048575;

struct StreamOptions {
    // Field separator of .csv files (see csvSeparatorFor).
    QChar csvSeparator = u',';
    // Sheet name of the first worksheet (made valid by sheetNameFor); further sheets add " (2)"...
    QString sheetName = QStringLiteral("Tabelle");
    // Data rows per worksheet; tests lower it to see a result run into further sheets.
    qint64 sheetRows = kXlsxSheetRows;
};

struct StreamControl {
    // Set from any thread to stop the export at the next row.
    const std::atomic<bool>* cancel = nullptr;
    // Called on the exporting thread with the rows written so far, every few thousand rows
    // and once at the end.
    std::function<void(qint64 rows)> progress;
};

// ';' where the locale writes decimals with a comma (spreadsheets there split on ';'),
// ',' otherwise.
QChar csvSeparatorFor(const QLocale& locale);

// A worksheet name from a table name: characters a sheet name cannot hold ([ ] : * ? / \ and
// control characters) become "_", apostrophes at either end go, at most 31 characters;
// "Tabelle" when nothing is left.
QString sheetNameFor(const QString& tableName);

// Keys for the columns of a JSON object: the column names, an empty one as "SpalteN" (its
// 1-based position), a repeated one with "_2", "_3"... appended, so no value hides another.
QStringList uniqueKeys(const QList<data::ColumnInfo>& columns);

// Writes every row of store into path in the given format and returns the rows written.
// The file is staged beside path and replaces an existing file only once complete; a failure
// or a cancel (ExportCancelled) leaves the old file untouched and no staging behind; staging
// that an export killed earlier left in that folder is removed first. Throws
// ExportError with the text the user reads.
qint64 writeStream(StreamFormat format, const data::ResultStore& store, const QString& path,
                   const StreamOptions& options, const StreamControl& control = {});

} // namespace exportfile
