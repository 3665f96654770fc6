#pragma once

// Building blocks of Access databases in the Jet 4 format: 4096-byte pages, the database
// header page, table definitions, rows, texts and usage maps. Pure byte work without files;
// mdbwriter puts the pieces into a database file.

#include "export/tableschema.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <vector>

namespace exportfile::jet4 {

inline constexpr int kPageSize = 4096;
// Data pages: type, 1, free space (2), owner (4), 0 (4), row count (2), then row offsets.
inline constexpr int kDataPageHeader = 14;
// Table definition pages: type, 1, free space (2), next page (4), then the definition.
inline constexpr int kTdefPageHeader = 8;
// Row numbers are one byte in page pointers.
inline constexpr int kMaxRowsPerPage = 255;
// The largest row a data page can hold (one row and its offset).
inline constexpr int kMaxRowSize = kPageSize - kDataPageHeader - 2;

enum PageType : std::uint8_t {
    PageHeader = 0x00,
    PageData = 0x01,
    PageTableDef = 0x02,
    PageUsageMap = 0x05,
};

// Column types of the format.
enum ColType : std::uint8_t {
    TypeBool = 0x01,
    TypeByte = 0x02,
    TypeInt = 0x03,
    TypeLong = 0x04,
    TypeMoney = 0x05,
    TypeFloat = 0x06,
    TypeDouble = 0x07,
    TypeDateTime = 0x08,
    TypeBinary = 0x09,
    TypeText = 0x0A,
    TypeOle = 0x0B,
    TypeMemo = 0x0C,
};

enum ColFlags : std::uint8_t {
    FlagFixed = 0x01,
    FlagNullable = 0x02,
};

// Flags in the length word of a long value's 12-byte reference.
inline constexpr std::uint32_t kLongValueInline = 0x80000000u;
inline constexpr std::uint32_t kLongValueSinglePage = 0x40000000u;
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFu;

// Texts of memo columns are only compressed up to this many characters.
inline constexpr int kMaxCompressedMemoChars = 1024;

// Page pointer to a row: page number in the upper three bytes, row number in the lowest.
inline std::uint32_t rowPointer(std::uint32_t page, int row) {
    return (page << 8) | std::uint32_t(row);
}
inline std::uint32_t pointerPage(std::uint32_t ptr) {
    return ptr >> 8;
}
inline int pointerRow(std::uint32_t ptr) {
    return int(ptr & 0xFF);
}

std::uint16_t get16(const QByteArray& b, int pos);
std::uint32_t get32(const QByteArray& b, int pos);
void put16(QByteArray& b, int pos, std::uint16_t v);
void put32(QByteArray& b, int pos, std::uint32_t v);
void append16(QByteArray& b, std::uint16_t v);
void append32(QByteArray& b, std::uint32_t v);

struct Column {
    QString name;
    std::uint8_t type = TypeText;
    int number = 0;      // position in the row's null mask
    int varIndex = 0;    // entry in the row's variable offset table (variable columns)
    int fixedOffset = 0; // offset in the fixed area (fixed columns)
    int length = 0;      // bytes of a fixed column, maximum bytes of a text, 0 for long values
    std::uint8_t flags = FlagNullable;
    bool compressed = false; // texts may use the format's Unicode compression
    // Sort order of a text column: the locale ("General" is 0x0409) and its version.
    std::uint16_t sortOrder = 0x0409;
    std::uint8_t sortVersion = 0;
    // How values arrive, for conversions (a date-only or time-only column is a Date/Time).
    ColumnType source = ColumnType::Char;

    bool isFixed() const { return (flags & FlagFixed) != 0; }
};

// An index of a table: its key columns (ascending), the usage map of its pages and the page
// its tree starts at. Every index here has one logical and one physical definition.
struct Index {
    QString name;
    std::vector<int> columns; // column numbers in key order
    bool primaryKey = false;
    std::uint32_t usedPagesMap = 0; // row pointer of the usage map of the index's pages
    std::uint32_t rootPage = 0;
    std::uint32_t entryCount = 0;
    // Where the entry count and the root page lie in the parsed definition.
    int countOffset = 0;
    int rootOffset = 0;
};

struct TableDef {
    bool system = false;
    std::uint32_t rowCount = 0;
    std::vector<Column> columns;    // in column number order
    std::uint32_t usedPagesMap = 0; // row pointer of the usage map of the table's data pages
    std::uint32_t freePagesMap = 0; // row pointer of the map of its pages with free space
    std::vector<Index> indexes;     // user tables written here have none
    // Whether the indexes are ones this writer keeps up to date: ascending keys of numbers and
    // texts in the "General" sort order, one physical index for each logical one.
    bool indexesMaintainable = true;

    int variableCount() const;
    int fixedAreaSize() const;
};

// The column of a user table for a CREATE TABLE column; raises ExportError for a name the
// format does not allow. Numbers and offsets are assigned by layoutColumns().
Column columnFor(const ColumnDef& def);
// Numbers the columns in order and places fixed columns and variable offsets.
void layoutColumns(std::vector<Column>& columns);
// The CREATE TABLE type a column of the file stands for, for tables of other sessions.
ColumnDef columnDefFor(const Column& column);

// Whether a character may stand in a table or column name (not . ! ` [ ] nor a control
// character).
bool allowedInName(QChar ch);
// Raises ExportError unless name is a valid table or column name (1 to 64 characters, no
// leading blank, none of . ! ` [ ] and no control characters).
void checkObjectName(const QString& name, bool table);

// The table definition as it follows the page header, split into pages later.
QByteArray buildTableDefinition(const TableDef& def);
// Parses a definition put together from its pages (each without the page header).
TableDef parseTableDefinition(const QByteArray& definition);
// Offset of the row count inside the first table definition page.
inline constexpr int kTdefRowCountOffset = kTdefPageHeader + 8;

// The database header page of an empty database (format version, masked region).
QByteArray headerPage();
// RC4 stream applied in place (the header's masked region uses a fixed key).
void rc4(const QByteArray& key, char* data, int length);

// Texts: plain UCS-2, or the compressed form (0xFF 0xFE, then one byte per character) when
// every character fits a byte and that is shorter.
QByteArray encodeText(const QString& text, bool allowCompression);
QString decodeText(const QByteArray& bytes);

// Dates as days since 1899-12-30 with the time of day as fraction.
double oleDate(const QDate& date, const QTime& time);

// An empty data page (or long value page when owner is 'LVAL') being filled with rows.
class PageBuilder {
public:
    explicit PageBuilder(std::uint32_t owner = 0);
    // Takes an existing data page to add rows to.
    static PageBuilder fromBytes(const QByteArray& page);
    static std::uint32_t longValueOwner();

    bool fits(int rowLength) const;
    bool isEmpty() const { return m_rows == 0; }
    int rowCount() const { return m_rows; }
    // Adds the row and returns its number on the page.
    int add(const QByteArray& row);
    const QByteArray& bytes();

private:
    QByteArray m_page;
    int m_rows = 0;
    int m_freeEnd = kPageSize;
};

// The rows stored on a data page, deleted rows left out, as (row number, bytes).
std::vector<std::pair<int, QByteArray>> pageRows(const QByteArray& page);

// Stores a long value out of the row and returns the 12-byte reference, given the bytes.
using LongValueStore = std::function<QByteArray(const QByteArray& bytes)>;

// Builds a row of a table from one value per column (a null QVariant is a null value).
// Long values that do not stay in the row go through store. Raises ExportError for a value
// the column cannot hold and for a row too large for a page.
QByteArray encodeRow(const TableDef& def, const std::vector<QVariant>& values,
                     const LongValueStore& store);
// The values of a row: numbers and texts; other types come back null.
std::vector<QVariant> decodeRow(const TableDef& def, const QByteArray& row);

// Properties of a catalog object, stored in its LvProp column: a pool of property names, then
// a set of values for the object itself (an unnamed set) and one set per column that has any
// (named after the column). Each value has a type of the format and its bytes as a row stores
// them; texts are plain UCS-2.
struct Property {
    QString name;
    std::uint8_t type = TypeText;
    QByteArray value;
    bool ddl = false; // kept by the engine itself rather than by the user interface
};
struct PropertySet {
    QString name; // empty for the object itself
    std::vector<Property> properties;
};
Property textProperty(const QString& name, const QString& text);
Property boolProperty(const QString& name, bool value, bool ddl);
Property int16Property(const QString& name, std::int16_t value);
// The property block: "MR2", the name pool, then the sets in order.
QByteArray encodePropertyBlock(const std::vector<PropertySet>& sets);

// Index keys. A key holds, for each key column, a flag byte (0x7F for a value, 0x00 for a
// null) and the value in a form whose bytes sort like the values: numbers big-endian with the
// sign bit inverted, texts as "General" sort codes ending in 0x01 0x00. Texts compare without
// regard to case. Raises ExportError for a text with a character that has no sort code here.
QByteArray indexKey(const Column& column, const QVariant& value);
// The characters besides letters and digits that an indexed text may hold.
inline constexpr char kIndexablePunctuation[] = "_ # $ % & ( ) , ; @ + =";
// Whether every character of text has a sort code, so it can stand in an indexed column.
bool indexableText(const QString& text);

// Index pages (leaf pages 0x04, inner pages 0x03): entries sorted by their bytes, the offsets
// of the entries in a bitmask from 0x1B, the entries themselves from 0x1E0.
inline constexpr int kIndexEntriesStart = 0x1E0;
inline constexpr int kIndexMaskStart = 0x1B;
struct IndexEntry {
    QByteArray key;
    std::uint32_t row = 0;   // row pointer
    std::uint32_t child = 0; // on inner pages: the page whose last entry this is
};
// The pages of an index tree over entries (sorted here), placed on the pages that page()
// hands out in turn; returns (page number, bytes) with the root first.
std::vector<std::pair<std::uint32_t, QByteArray>>
buildIndexPages(std::vector<IndexEntry> entries, std::uint32_t tdefPage,
                const std::function<std::uint32_t()>& page);
// The entries of an index page in page order.
std::vector<IndexEntry> indexPageEntries(const QByteArray& page);

// Usage map rows. Type 0 keeps a bitmap from a start page in the row itself; type 1 lists
// map pages (type 0x05), each covering kPagesPerMapPage pages.
inline constexpr int kPagesPerMapPage = (kPageSize - 4) * 8;
QByteArray emptyUsageMap(int rowLength, std::uint32_t startPage);

} // namespace exportfile::jet4
