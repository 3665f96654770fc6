#pragma once

// Spreadsheet writer: one worksheet named after the table, a bold header row of the column
// names, numbers as numbers, dates and times as date-formatted numbers, bits as booleans,
// null as an empty cell.
//
// Excel 8.0 is a BIFF8 workbook in a compound file with its texts in the shared string table;
// Excel 5.0 a BIFF5 workbook; Excel 3.0 and 4.0 a BIFF3 or BIFF4 worksheet file. When a
// workbook sheet is full (65,536 rows in BIFF8, 16,384 in BIFF5, the header row included),
// the rows continue on a further sheet "name (2)", "name (3)", ..., each with its own header
// row. A BIFF3/BIFF4 worksheet file holds one sheet only, so more than 16,383 rows fail there
// with an error that names the limit.

#include "tablewriter.h"

#include <QHash>
#include <QStringList>

namespace exportfile {

enum class BiffVersion { Biff3, Biff4, Biff5, Biff8 };

BiffVersion biffVersion(FileFormat format);

// Rows a sheet holds in this version, the header row included.
int sheetRowLimit(BiffVersion version);

// Excel's serial day number (1900 date system) of a date; false before 1900-01-01.
bool excelSerialDate(const QDate& date, double& serial);

// The name of the sheet that holds a table: the table name without its file extension,
// characters a sheet name cannot have replaced by "_", at most 31 characters.
QString sheetNameFor(const QString& tableName, int sheetNumber);

class XlsWriter : public TableWriter {
public:
    XlsWriter(BiffVersion version, const TableSchema& schema, const QString& path);
    ~XlsWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void finish() override;

private:
    struct Sheet {
        QString name;
        // The cell records: filled pieces of about 1 MiB, then the one being filled. Pieces
        // never grow by copying what they hold.
        std::vector<QByteArray> filled;
        QByteArray cells;
        int rows = 0;
        qint64 cellBytes() const;
    };
    int xfIndex(int cellXf) const;
    void startSheet();
    void addText(Sheet& s, int row, int col, int xf, const QString& text, const ColumnDef* column);
    void addNumber(Sheet& s, int row, int col, int xf, double value);
    void addBool(Sheet& s, int row, int col, int xf, bool value);
    QByteArray globals(const std::vector<int>& sheetOffsets) const;
    // A sheet's substream is head, then the sheet's cells, then tail.
    struct SheetFrame {
        QByteArray head;
        QByteArray tail;
    };
    SheetFrame sheetFrame(const Sheet& s, bool first) const;
    QByteArray sharedStrings(int globalsOffset) const;
    void writeFile();

    BiffVersion m_version;
    TableSchema m_schema;
    QString m_path;
    std::vector<Sheet> m_sheets;
    QHash<QString, quint32> m_sstIndex;
    QStringList m_sst;
    quint32 m_sstTotal = 0;
    bool m_dirty = false;
};

} // namespace exportfile
