#pragma once
// Client-side storage of a whole result set, column by column.
//
// Each column keeps its rows in blocks of kBlockRows: a validity bitmap (bit
// set = value present), and either a fixed-width array (numbers, dates, GUIDs)
// or, for texts and binary values, an end-offset array into the block's byte
// arena. Blocks are never reallocated once full, so millions of rows cost the
// bytes they hold and nothing is copied while a result grows. Readers (the
// grid model, the export) take values straight from here; nothing is copied
// per row.
//
// Rows are written in order: a provider appends rows and fills each row's
// columns before it appends the next. Fixed-width values can be changed in
// any row; a text or binary value can be replaced in the last row of the
// store (that is all appending needs).
//
// Editing goes through an overlay and never touches the fetched blocks: a
// changed or inserted row gets a copy of its own in a small side store, a
// deleted row is dropped from the row map, and the row map (a short list of
// row ranges, one more per edit) tells for every row where its values are.
// Without edits readers pay one predictable branch; with edits, a binary
// search over the ranges. Every reader addresses rows as they are seen now,
// edits included.

#include "data/fieldtype.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace data {

// How a column's values are held.
enum class StorageKind : std::uint8_t {
    Bool,     // 1 byte, 0 or 1
    UInt8,    // tinyint
    Int16,    // smallint
    Int32,    // int
    Int64,    // bigint
    Double,   // float, real
    Decimal,  // int64 unscaled value; the column's scale places the point (money, decimal p <= 18)
    DateTime, // int64 ticks of 100 ns since 0001-01-01 00:00:00
    Date,     // int32 days since 0001-01-01
    Time,     // int64 ticks of 100 ns since midnight
    Guid,     // 16 bytes in the server's order (first three groups little-endian)
    Utf8,     // variable: UTF-8 (char, varchar, text, decimals above precision 18)
    Utf16,    // variable: UTF-16 code units (nchar, nvarchar, ntext, sql_variant)
    Bytes,    // variable: binary, varbinary, image, timestamp
};

// Bytes per value of a fixed-width kind, 0 for the variable kinds.
int fixedWidth(StorageKind kind);
bool isVariable(StorageKind kind);

struct ColumnInfo {
    QString name;
    TFieldType type = ftUnknown;
    StorageKind kind = StorageKind::Utf16;
    int size = 0;      // the field definition's size (characters, bytes or digits after the point)
    int precision = 0; // digits for numeric kinds
    int scale = 0;     // digits after the point (Decimal), fraction digits (times)
    bool nullable = true;
    QString typeName; // the server's type name when known ("int", "nvarchar", ...)
    // Where the column comes from, as far as the server tells (for writing
    // rows back): base table (with schema and catalog when given) and base
    // column; empty for expressions and when unknown.
    QString baseCatalog;
    QString baseSchema;
    QString baseTable;
    QString baseColumn;
    // A CLR type (geography, geometry, hierarchyid, ...) kept as its bytes;
    // typeName is empty until the catalog has named it.
    bool clrType = false;
    bool autoIncrement = false; // identity: the server assigns it
    bool readOnly = false;      // the server computes it (computed, row version)
};

class ResultStore {
public:
    static constexpr int kBlockShift = 14;
    static constexpr qint64 kBlockRows = qint64(1) << kBlockShift;
    // Stores at least this large give their memory back on a thread of
    // their own when they are destroyed.
    static constexpr std::size_t kReleaseInBackground = std::size_t(64) << 20;

    ResultStore();
    explicit ResultStore(QList<ColumnInfo> columns);
    ~ResultStore();
    ResultStore(const ResultStore&) = delete;
    ResultStore& operator=(const ResultStore&) = delete;
    ResultStore(ResultStore&&) noexcept;
    ResultStore& operator=(ResultStore&&) noexcept;

    // Where the values of one version of a row are held; opaque to callers.
    struct RowSource {
        bool edited = false; // in the side store
        qint64 row = -1;
    };

    int columnCount() const { return int(m_columns.size()); }
    const QList<ColumnInfo>& columns() const { return m_columns; }
    const ColumnInfo& column(int col) const { return m_columns.at(col); }
    // Index of the column with this name (case-insensitive, first match), -1 if none.
    int columnIndex(QStringView name) const;
    qint64 rowCount() const { return m_edit ? m_viewRows : m_rowCount; }

    // --- reading -----------------------------------------------------------
    bool isNull(qint64 row, int col) const;
    // The value as a variant; a null value is an invalid QVariant (isNull()).
    // Bool -> bool, integers -> int/qlonglong, Double -> double, Decimal ->
    // double (text() keeps every digit), DateTime -> QDateTime (Qt::UTC, the
    // server's wall-clock value unconverted), Date -> QDate, Time -> QTime,
    // Guid -> QUuid, Utf8/Utf16 -> QString, Bytes -> QByteArray.
    QVariant value(qint64 row, int col) const;
    // Display text: empty for null; numbers in C notation, decimals exact
    // ("123.4567"), dates as "yyyy-MM-dd hh:mm:ss[.zzz]", GUIDs in braces,
    // bytes as upper-case hex after "0x".
    QString text(qint64 row, int col) const;

    // Raw views, valid until the store changes. No conversions.
    std::int64_t integer(qint64 row,
                         int col) const; // integer kinds, Bool, Decimal unscaled, dates/times raw
    double real(qint64 row, int col) const;          // Double, or a numeric kind converted
    QByteArrayView bytes(qint64 row, int col) const; // Utf8, Bytes, Guid (16 bytes)
    QStringView utf16(qint64 row, int col) const;    // Utf16

    // The values of one column in the block that holds `row`, for readers that walk many
    // rows without a look-up per value. Valid for a store without edits (hasEdits() false)
    // until the store changes; rows are the store's own row numbers.
    struct BlockView {
        qint64 first = 0; // first row of the block
        qint64 end = 0;   // one past the last row of the block the store holds
        StorageKind kind = StorageKind::Utf16;
        const std::uint8_t* valid = nullptr;
        const std::uint8_t* fixed = nullptr;
        const std::uint32_t* ends = nullptr;
        const char* arena = nullptr;
        qint64 filled = 0; // variable kinds: rows of the block whose end is set

        bool contains(qint64 row) const { return row >= first && row < end; }
        bool isNull(qint64 row) const {
            const qint64 r = row - first;
            return !((valid[std::size_t(r >> 3)] >> (r & 7)) & 1);
        }
        template <typename T> T fixedValue(qint64 row) const {
            T v;
            std::memcpy(&v, fixed + std::size_t(row - first) * sizeof(T), sizeof(T));
            return v;
        }
        // A present fixed value of an integer, Bool, Decimal, date or time kind, as integer().
        std::int64_t integer(qint64 row) const;
        // A present value of a variable kind, as bytes().
        QByteArrayView bytes(qint64 row) const {
            const qint64 r = row - first;
            if (r >= filled)
                return {};
            const std::uint32_t s = r == 0 ? 0 : ends[std::size_t(r - 1)];
            return QByteArrayView(arena + s, qsizetype(ends[std::size_t(r)] - s));
        }
    };
    // Throws StateError for a store with edits or a row or column outside the store.
    BlockView blockView(qint64 row, int col) const;

    // Bytes held by the blocks (what the result costs in memory).
    std::size_t memoryBytes() const;

    // --- writing -----------------------------------------------------------
    // Appends n rows whose values are all null; returns the first new row.
    qint64 appendRows(qint64 n = 1);
    void setNull(qint64 row, int col);
    // Fast path for providers: the slot of a fixed-width value, which the
    // caller fills with fixedWidth(kind) bytes; marks the value present.
    void* fixedSlot(qint64 row, int col);
    // Sets a variable value (Utf8, Bytes: bytes; Utf16: code units * 2).
    // Rows must be written in order; only the store's last row may be written
    // again.
    void setVariable(qint64 row, int col, const void* data, std::size_t byteLength);
    // Converts and stores a variant; an invalid or null variant stores null.
    void setValue(qint64 row, int col, const QVariant& value);
    // Stores the value of another store's cell exactly as
    // setValue(row, col, from.value(fromRow, fromCol)) would, without the
    // variant and string in between for the common pairs of kinds.
    void copyValue(qint64 row, int col, const ResultStore& from, qint64 fromRow, int fromCol);
    // Drops the last row (an appended row that was cancelled).
    void removeLastRow();
    // Frees the slack of the last blocks once no more rows follow.
    void squeeze();

    // --- growing while another thread fills ---------------------------------
    // A store that a worker thread fills is read by another thread through a
    // second store that receives the rows in chunks: the filling side hands
    // over its complete blocks (moved, not copied, and never touched by it
    // again) and a copy of the rows of the block it is still filling. The
    // two stores share nothing, so neither side needs a lock; a chunk goes
    // from one thread to the other through a queued call.
    struct Chunk;
    // Filling side: everything written since the last call (nullptr when
    // nothing was). The rows it hands over must not be written again; `last`
    // (no more rows follow) moves the block being filled too, uncopied.
    // Without `withOpenBlock` only complete blocks go over (nullptr when no
    // block was completed since): no copy is made, the rows of the block
    // being filled follow with a later call.
    std::shared_ptr<Chunk> takeNewRows(bool last = false, bool withOpenBlock = true);
    // Complete blocks written and not yet handed over.
    bool completeBlocksPending() const {
        return std::size_t(m_rowCount >> kBlockShift) > m_handedBlocks;
    }
    // Reading side: appends the chunk's rows (a copied partial block from an
    // earlier chunk is replaced by its newer state). Throws StateError for a
    // store with edits or a chunk that does not continue this store.
    void appendChunk(Chunk& chunk);
    static qint64 chunkRows(const Chunk& chunk); // rows the chunk brings beyond its first row
    static qint64 chunkEnd(const Chunk& chunk);  // row count of the store after appending it
    void clear();                                // drops all rows and edits, keeps the columns

    // --- editing (the overlay) -----------------------------------------------
    // Gives the row a fresh copy of its values that setCell can change, and
    // returns where its values were before (the version to compare with the
    // server, or to go back to).
    RowSource beginRowChange(qint64 row);
    // Changes a value of a row that beginRowChange or insertRow prepared.
    void setCell(qint64 row, int col, const QVariant& value);
    // Points the row back at an earlier version.
    void restoreRow(qint64 row, RowSource source);
    // Inserts a row of nulls before `row` (rowCount(): at the end); returns its index.
    qint64 insertRow(qint64 row);
    void removeRow(qint64 row);
    RowSource rowSource(qint64 row) const;
    QVariant sourceValue(RowSource source, int col) const;
    QString sourceText(RowSource source, int col) const;
    bool hasEdits() const { return m_edit != nullptr; }
    // A store of its own holding the rows `rows` (visible rows of this one,
    // edits included) in that order; for handing on a result as the user
    // sees it sorted. Null when `stop` was set meanwhile.
    std::shared_ptr<ResultStore> reordered(const std::vector<qint64>& rows,
                                           const std::atomic<bool>* stop = nullptr) const;

private:
    struct Edit;
    // The store and row that hold the values of a visible row.
    const ResultStore* route(qint64& row) const { return m_edit ? routeEdited(row) : this; }
    const ResultStore* routeEdited(qint64& row) const;
    const ResultStore* sourceStore(RowSource source) const;
    Edit& edit();
    void copyRow(const ResultStore& from, qint64 fromRow, qint64 toRow);
    bool isNullAt(qint64 row, int col) const;
    QVariant valueAt(qint64 row, int col) const;
    QString textAt(qint64 row, int col) const;
    std::int64_t integerAt(qint64 row, int col) const;
    double realAt(qint64 row, int col) const;
    QByteArrayView bytesAt(qint64 row, int col) const;
    QStringView utf16At(qint64 row, int col) const;

    struct Block;
    struct ColumnData;
    const Block* block(qint64 row, int col) const;
    Block& writableBlock(qint64 row, int col);
    // copyValue's direct path: false where the pair of kinds needs the general one.
    bool copyFromBlock(qint64 row, int col, const Block& source, qint64 r, const ColumnInfo& info);
    void setUtf16FromUtf8(qint64 row, int col, QByteArrayView bytes);

    QList<ColumnInfo> m_columns;
    std::vector<ColumnData> m_data;
    qint64 m_rowCount = 0;          // rows in the blocks
    std::unique_ptr<Edit> m_edit;   // the overlay, once anything was edited
    qint64 m_viewRows = 0;          // rows seen through the overlay
    std::size_t m_handedBlocks = 0; // leading blocks moved out by takeNewRows
    qint64 m_handedRows = 0;        // rows handed over by takeNewRows, moved or copied
};

// Exact readers of "yyyy-MM-dd[ T]HH:mm[:ss[.fffffff]]" and "HH:mm[:ss[.fffffff]]"
// into 100 ns ticks (the DateTime and Time kinds); false for any other text.
bool parseDateTimeTicks(QStringView text, std::int64_t& ticks);
bool parseTimeTicks(QStringView text, std::int64_t& ticks);

// Calendar helpers for the Date/DateTime/Time kinds.
std::int32_t daysFromCivil(int year, int month, int day);
void civilFromDays(std::int32_t days, int& year, int& month, int& day);
inline constexpr std::int64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86400;

} // namespace data
