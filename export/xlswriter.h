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

#include "export/tablewriter.h"

#include <QStringView>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QFileDevice;
class QTemporaryFile;

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

// The shared string table of a BIFF8 workbook: each distinct text once, in the order of first
// use. The texts are kept in large blocks in the form they are written in (an option byte, then
// Latin-1 or UTF-16LE characters) with an open-addressing index of their positions, so a
// large table costs little more than its characters.
class SharedStringTable {
public:
    // The index of text, added at the end when it is new.
    quint32 add(QStringView text);
    quint32 size() const { return quint32(m_offsets.size()); }
    // Forgets the texts from index count on; they must be the last ones added.
    void truncate(quint32 count);
    bool wide(quint32 index) const { return entry(index).front() != 0; }
    // The characters of a text as written, without the option byte.
    std::string_view chars(quint32 index) const;

private:
    std::string_view entry(quint32 index) const;
    size_t slotOf(std::string_view entry) const;
    void rehash(size_t slotCount);

    // The texts fill blocks of this size one after the other; a text (at most 65,535 bytes)
    // never spans two blocks. m_offsets holds each text's block * kBlockBytes + position.
    static constexpr qint64 kBlockBytes = 1 << 20;
    std::vector<std::string> m_blocks;
    std::deque<qint64> m_offsets;
    std::vector<quint32> m_slots; // index + 1 of the text in each slot, 0 for an empty slot
    std::string m_key;
};

class XlsWriter : public TableWriter {
public:
    XlsWriter(BiffVersion version, const TableSchema& schema, const QString& path);
    ~XlsWriter() override;
    void appendRow(const std::vector<QVariant>& values) override;
    void finish() override;

private:
    struct Sheet {
        QString name;
        // The sheet's cell records are the range cellStart, cellBytes of the cell file.
        qint64 cellStart = 0;
        qint64 cellBytes = 0;
        int rows = 0;
    };
    int xfIndex(int cellXf) const;
    void startSheet();
    void addText(QByteArray& out, int row, int col, int xf, const QString& text,
                 const ColumnDef* column);
    void addNumber(QByteArray& out, int row, int col, int xf, double value);
    void addBool(QByteArray& out, int row, int col, int xf, bool value);
    void appendCells(const QByteArray& cells);
    void flushCells();
    // The workbook globals up to the shared string table.
    QByteArray globals(const std::vector<int>& sheetOffsets) const;
    // A sheet's substream is head, then the sheet's cells, then tail.
    struct SheetFrame {
        QByteArray head;
        QByteArray tail;
    };
    SheetFrame sheetFrame(const Sheet& s, bool first) const;
    // Writes the shared string table's records to device, for globals whose records before it
    // take globalsOffset bytes; returns the table's index record.
    QByteArray writeSharedStrings(QFileDevice& device, qint64 globalsOffset) const;
    void writeFile();

    BiffVersion m_version;
    TableSchema m_schema;
    QString m_path;
    std::vector<Sheet> m_sheets;
    // The cell records of all sheets, one sheet after the other, go to a temporary file as
    // the rows come in; m_cellBuffer holds those not yet written there.
    std::unique_ptr<QTemporaryFile> m_cellFile;
    // The shared string table's records, written anew each time the file is written.
    std::unique_ptr<QTemporaryFile> m_sstFile;
    qint64 m_cellFileSize = 0;
    QByteArray m_cellBuffer;
    QString m_cellFileError; // set once the cell file lost data; the writer then refuses all
    SharedStringTable m_sst;
    quint32 m_sstTotal = 0;
    bool m_dirty = false;
};

} // namespace exportfile
