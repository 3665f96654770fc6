#pragma once

// File writers of the desktop-file provider. Each writer creates one table file (and its memo
// file where the format has one), takes rows one at a time and completes the file in finish().
// Writers know nothing of datasets or windows; the provider feeds them.

#include "export/tableschema.h"

#include <QString>
#include <QStringView>
#include <QVariant>
#include <memory>
#include <vector>

namespace exportfile {

// The file formats, one per Extended Properties text.
enum class FileFormat {
    DBase3,
    DBase4,
    DBase5,
    Fox20,
    Fox25,
    Fox26,
    Fox30,
    Paradox3,
    Paradox4,
    Paradox5,
    Excel3,
    Excel4,
    Excel5,
    Excel8,
    HtmlImport,
    HtmlExport,
    Text,
};

// The format an Extended Properties text names ("dBASE III", "Excel 8.0", ...; case and
// surrounding blanks do not matter, and further ";"-separated settings are ignored).
// Throws ExportError for an unknown or empty text.
FileFormat formatFromExtendedProperties(const QString& text);

// The usual file extension of a format, with its dot (".dbf", ".db", ".xls", ".html", ".txt").
QString defaultExtension(FileFormat format);

// Files a table of this format consists of besides path itself (memo files), for clean-up.
std::vector<QString> companionFiles(FileFormat format, const QString& path);

// One value of a row as the provider's row set holds it, so that writers can take the common
// values without a QVariant and a QString for each.
struct Cell {
    // Other: a value the writer takes from RowView::value().
    enum Kind : quint8 { Null, Integer, Real, Bool, Text, Date, DateTime, Time, Other };
    Kind kind = Null;
    qint64 integer = 0;               // Integer; Bool as 0 or 1
    double real = 0;                  // Real
    QStringView text;                 // Text; valid while the row is being written
    int year = 0, month = 0, day = 0; // Date, DateTime
    int msecs = 0;                    // DateTime, Time: milliseconds since midnight
    int subMsecTicks = 0;             // DateTime, Time: 100 ns ticks beyond msecs (0 to 9999)
    int fraction = -1; // DateTime, Time: fraction digits to write; -1 as milliseconds
};

// A row handed to a writer: cell() for the fast paths, value() gives the same value as
// appendRow would get it, for everything a writer does not take as a cell.
class RowView {
public:
    virtual ~RowView() = default;
    virtual Cell cell(int column) const = 0;
    // The cells of columns 0 to columns - 1, for writers that take the whole row.
    virtual void cells(Cell* out, int columns) const {
        for (int c = 0; c < columns; ++c)
            out[c] = cell(c);
    }
    virtual QVariant value(int column) const = 0;
};

class TableWriter {
public:
    virtual ~TableWriter() = default;
    // One value per column of the schema, in column order; a null QVariant is a null value.
    virtual void appendRow(const std::vector<QVariant>& values) = 0;
    // The same for a row of `columns` values; writers with a faster path override it.
    virtual void appendCells(const RowView& row, int columns);
    // Completes the file(s). Rows appended before stay written; finish() may be called again.
    virtual void finish() = 0;
    qint64 rowCount() const { return m_rows; }

protected:
    qint64 m_rows = 0;
};

// Creates the table file at path (replacing a file there) and returns its writer. The file
// is complete and holds no row as soon as this returns.
std::unique_ptr<TableWriter> createTableWriter(FileFormat format, const TableSchema& schema,
                                               const QString& path);

// Convenience for tools and tests: writes all rows and completes the file.
void writeTable(FileFormat format, const TableSchema& schema,
                const std::vector<std::vector<QVariant>>& rows, const QString& path);

} // namespace exportfile
