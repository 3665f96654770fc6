#pragma once

// Writer of the xBase family: dBASE III, dBASE IV / 5.0, FoxPro 2.x and Visual FoxPro tables,
// with their memo files (.dbt, .fpt). Texts are stored in code page 1252 and the header
// carries the matching code page mark (0x03), so other programs read umlauts correctly.

#include "export/tablewriter.h"

#include <QFile>

namespace exportfile {

enum class DbfFlavor { DBase3, DBase4, FoxPro2, VisualFoxPro };

DbfFlavor dbfFlavor(FileFormat format);

// One field of the file as it is declared in the header.
struct DbfField {
    QByteArray name; // at most 10 bytes
    char type = 'C';
    int length = 0;
    int decimals = 0;
    int offset = 0;   // position in the record, after the deletion flag
    int nullBit = -1; // Visual FoxPro: bit in the _NullFlags field
};

// The field a column becomes in a table of this flavour.
DbfField dbfFieldFor(const ColumnDef& column, DbfFlavor flavor);

class MemoFileWriter;

class DbfWriter : public TableWriter {
public:
    DbfWriter(DbfFlavor flavor, const TableSchema& schema, const QString& path);
    ~DbfWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void appendCells(const RowView& row, int columns) override;
    void finish() override;

    static QString memoPath(DbfFlavor flavor, const QString& path);

private:
    void writeHeader();
    void encodeField(int i, const QVariant& v, char* out, QByteArray& nullFlags);
    // Encodes the common values straight from the cell; false where encodeField must.
    bool encodeCell(int i, const Cell& cell, char* out);
    // The record being built, cleared; completeRecord() queues it for writing.
    char* beginRecord();
    void completeRecord();
    void writeRecords();

    DbfFlavor m_flavor;
    TableSchema m_schema;
    std::vector<DbfField> m_fields;
    std::vector<Cell> m_cells; // the cells of the row being written
    DbfField m_nullField;      // Visual FoxPro's hidden _NullFlags field, length 0 when absent
    int m_recordLength = 1;
    int m_headerLength = 0;
    bool m_hasMemo = false;
    QFile m_file;
    std::unique_ptr<MemoFileWriter> m_memo;
    QByteArray m_record;
    QByteArray m_nullFlags;
    QByteArray m_pending;     // complete records not yet written
    qint64 m_writtenRows = 0; // records in the file
};

} // namespace exportfile
