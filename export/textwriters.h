#pragma once

// Writers of the text-based formats: delimited text in Windows-1252 (UTF-8 with a byte-order
// mark when a text does not fit, see encodeDesktopText) and HTML tables in UTF-8.

#include "export/tablewriter.h"

#include <QFile>

namespace exportfile {

// Delimited text: a header row of the column names, then one line per row; fields separated
// by ",", lines ended by CR LF; texts in double quotes with inner quotes doubled, numbers with
// "." as decimal point, dates and times in ISO form, bits as TRUE/FALSE, null as an empty field.
class TextWriter : public TableWriter {
public:
    TextWriter(const TableSchema& schema, const QString& path);
    ~TextWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void appendCells(const RowView& row, int columns) override;
    void finish() override;

    static QString quoted(const QString& text);

private:
    // Room a value other than a text takes at most.
    static constexpr qsizetype kNumberRoom = 40;
    // Whether the cell's text can be written by writeCell for this column.
    static bool fitsDirectly(const Cell& cell, const ColumnDef& column);
    // Writes the cell's text (texts take at most 3 bytes a unit plus 2) and returns its end;
    // nullptr for a text the general conversion must encode.
    static char* writeCell(char* out, const Cell& cell, bool utf8);
    // The text in the file's encoding; a text Windows-1252 cannot hold turns the file into
    // UTF-8 first.
    QByteArray encoded(const QString& text);
    void switchToUtf8();
    void writeBuffer();

    TableSchema m_schema;
    QFile m_file;
    QByteArray m_buffer;       // complete lines not yet written
    std::vector<Cell> m_cells; // the cells of the row being written
    bool m_utf8 = false;       // the file turned to UTF-8 (it starts in Windows-1252)
};

// An HTML page with one table: a caption with the table's name, a header row of the column
// names and one row per record; every text HTML-escaped. The same file serves both "HTML
// Export" and "HTML Import" as destination. The page is complete when created and after
// finish() (or the writer's end); in between the rows are appended without closing tags.
class HtmlWriter : public TableWriter {
public:
    HtmlWriter(const TableSchema& schema, const QString& path);
    ~HtmlWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void finish() override;

    static QString escaped(const QString& text);

private:
    static QString tail();

    TableSchema m_schema;
    QFile m_file;
    qint64 m_tailPos = 0;
    bool m_tailWritten = false;
};

} // namespace exportfile
