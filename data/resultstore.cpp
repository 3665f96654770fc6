#include "data/resultstore.h"

#include "data/dataerror.h"
#include "data/pagebuffer.h"

#include <QDateTime>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

namespace data {

namespace {

constexpr qint64 kRowMask = ResultStore::kBlockRows - 1;
// Days from 0001-01-01 to 1970-01-01.
constexpr std::int32_t kEpochOffsetDays = 719162;
// Julian day number of 0001-01-01 in the proleptic Gregorian calendar.
constexpr qint64 kJulianDayOfDayZero = 1721426;

std::int64_t pow10i(int n) {
    std::int64_t r = 1;
    for (int i = 0; i < n && i < 18; ++i)
        r *= 10;
    return r;
}

QString decimalText(std::int64_t unscaled, int scale) {
    const bool negative = unscaled < 0;
    // Work on the magnitude in unsigned arithmetic so INT64_MIN is safe.
    std::uint64_t mag = negative ? 0 - std::uint64_t(unscaled) : std::uint64_t(unscaled);
    QString digits = QString::number(mag);
    if (scale > 0) {
        if (digits.size() <= scale)
            digits = QString(scale - digits.size() + 1, QLatin1Char('0')) + digits;
        digits.insert(digits.size() - scale, QLatin1Char('.'));
    }
    return negative ? QLatin1Char('-') + digits : digits;
}

// The fraction of a second: `digits` digits (datetime2, time), or for
// digits < 0 (datetime, smalldatetime) milliseconds when there are any.
QString fractionText(std::int64_t ticksOfSecond, int digits) {
    if (digits < 0) {
        const int ms = int(ticksOfSecond / 10000);
        return ms == 0 ? QString() : QStringLiteral(".%1").arg(ms, 3, 10, QLatin1Char('0'));
    }
    if (digits == 0)
        return QString();
    digits = std::min(digits, 7);
    std::int64_t v = ticksOfSecond;
    for (int k = digits; k < 7; ++k)
        v /= 10;
    return QStringLiteral(".%1").arg(v, digits, 10, QLatin1Char('0'));
}

QString timeText(std::int64_t ticks, int digits) {
    const std::int64_t secs = ticks / kTicksPerSecond;
    return QStringLiteral("%1:%2:%3")
               .arg(secs / 3600, 2, 10, QLatin1Char('0'))
               .arg((secs / 60) % 60, 2, 10, QLatin1Char('0'))
               .arg(secs % 60, 2, 10, QLatin1Char('0')) +
           fractionText(ticks % kTicksPerSecond, digits);
}

// Fraction digits a date/time column is shown with: all the server sends for
// datetime2 and time, milliseconds when there are any for the older types.
int fractionDigits(const ColumnInfo& c) {
    const bool exact = c.typeName.compare(QLatin1String("datetime2"), Qt::CaseInsensitive) == 0 ||
                       c.typeName.compare(QLatin1String("time"), Qt::CaseInsensitive) == 0;
    return exact ? c.scale : -1;
}

QString dateText(std::int32_t days) {
    int y, m, d;
    civilFromDays(days, y, m, d);
    return QStringLiteral("%1-%2-%3")
        .arg(y, 4, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(d, 2, 10, QLatin1Char('0'));
}

QUuid uuidFromBytes(const unsigned char* p) {
    std::uint32_t d1;
    std::uint16_t d2, d3;
    std::memcpy(&d1, p, 4);
    std::memcpy(&d2, p + 4, 2);
    std::memcpy(&d3, p + 6, 2);
    return QUuid(d1, d2, d3, p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
}

void uuidToBytes(const QUuid& u, unsigned char* p) {
    std::memcpy(p, &u.data1, 4);
    std::memcpy(p + 4, &u.data2, 2);
    std::memcpy(p + 6, &u.data3, 2);
    std::memcpy(p + 8, u.data4, 8);
}

std::int64_t ticksOf(const QTime& t) {
    return std::int64_t(t.msecsSinceStartOfDay()) * 10000;
}

std::int32_t daysOf(const QDate& d) {
    return std::int32_t(d.toJulianDay() - kJulianDayOfDayZero);
}

} // namespace

std::int32_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int32_t(era * 146097 + int(doe) - 719468) + kEpochOffsetDays;
}

void civilFromDays(std::int32_t days, int& year, int& month, int& day) {
    const std::int64_t z = std::int64_t(days) - kEpochOffsetDays + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(std::int64_t(yoe) + era * 400 + (month <= 2));
}

int fixedWidth(StorageKind kind) {
    switch (kind) {
    case StorageKind::Bool:
    case StorageKind::UInt8:
        return 1;
    case StorageKind::Int16:
        return 2;
    case StorageKind::Int32:
    case StorageKind::Date:
        return 4;
    case StorageKind::Int64:
    case StorageKind::Double:
    case StorageKind::Decimal:
    case StorageKind::DateTime:
    case StorageKind::Time:
        return 8;
    case StorageKind::Guid:
        return 16;
    case StorageKind::Utf8:
    case StorageKind::Utf16:
    case StorageKind::Bytes:
        return 0;
    }
    return 0;
}

bool isVariable(StorageKind kind) {
    return fixedWidth(kind) == 0;
}

// Rows a fixed-width block has room for when it must hold `rows`: what small
// results need, doubling as rows come, up to a whole block. A result of a
// few rows then takes a few hundred bytes, not a block's worth for every column.
qint64 fixedRoom(qint64 rows, qint64 now) {
    qint64 room = std::max<qint64>(now, 32);
    while (room < rows)
        room *= 2;
    return std::min(room, ResultStore::kBlockRows);
}

struct ResultStore::Block {
    PageBuffer valid; // bit set: value present; room as the row array
    PageBuffer fixed; // fixed kinds: width * the rows it has room for
    PageBuffer ends;  // variable kinds: end offset per row, 4 bytes each
    PageBuffer arena; // variable kinds: the bytes
    int filled = 0;   // variable kinds: rows whose end is set

    std::uint8_t* fixedBytes() { return reinterpret_cast<std::uint8_t*>(fixed.data()); }
    const std::uint8_t* fixedBytes() const {
        return reinterpret_cast<const std::uint8_t*>(fixed.data());
    }

    const std::uint8_t* validBits() const {
        return reinterpret_cast<const std::uint8_t*>(valid.data());
    }
    bool present(qint64 r) const { return (validBits()[std::size_t(r >> 3)] >> (r & 7)) & 1; }
    void setPresent(qint64 r, bool on) {
        auto& byte = reinterpret_cast<std::uint8_t*>(valid.data())[std::size_t(r >> 3)];
        const auto bit = std::uint8_t(1u << (r & 7));
        byte = on ? std::uint8_t(byte | bit) : std::uint8_t(byte & ~bit);
    }
    std::uint32_t* endOffsets() { return reinterpret_cast<std::uint32_t*>(ends.data()); }
    const std::uint32_t* endOffsets() const {
        return reinterpret_cast<const std::uint32_t*>(ends.data());
    }
    std::uint32_t end(qint64 r) const { return endOffsets()[std::size_t(r)]; }
    void setEnd(qint64 r, std::uint32_t offset) { endOffsets()[std::size_t(r)] = offset; }
    std::uint32_t start(qint64 r) const { return r == 0 ? 0 : end(r - 1); }
    // Closes rows [filled, r) as empty so row r can be written.
    void fillTo(qint64 r) {
        const auto size = std::uint32_t(arena.size());
        while (filled < r)
            setEnd(filled++, size);
    }
};

struct ResultStore::ColumnData {
    std::vector<std::unique_ptr<Block>> blocks;
    std::size_t arenaHint = 0; // variable kinds: the size of the last complete block's arena
};

struct ResultStore::Chunk {
    qint64 firstRow = 0; // the first row of its first block
    qint64 endRow = 0;   // the store's row count once it is appended
    std::vector<std::vector<std::unique_ptr<Block>>> blocks; // per column
};

// The overlay: which rows are seen, in which order, and where their values are.
struct ResultStore::Edit {
    struct Piece {
        qint64 start;  // first row in its store
        qint64 length; // rows
        bool side;     // in the side store, else in the fetched blocks
    };
    std::vector<Piece> pieces;
    std::vector<qint64> ends; // visible row after the end of each piece
    std::unique_ptr<ResultStore> side;

    qint64 total() const { return ends.empty() ? 0 : ends.back(); }

    std::size_t find(qint64 row) const {
        return std::size_t(std::upper_bound(ends.begin(), ends.end(), row) - ends.begin());
    }

    static void push(std::vector<Piece>& out, Piece p) {
        if (p.length <= 0)
            return;
        if (!out.empty()) {
            Piece& last = out.back();
            if (last.side == p.side && last.start + last.length == p.start) {
                last.length += p.length;
                return;
            }
        }
        out.push_back(p);
    }

    // The visible rows [from, to) of the current map, appended to `out`.
    void keep(std::vector<Piece>& out, qint64 from, qint64 to) const {
        qint64 pos = 0;
        for (const Piece& p : pieces) {
            const qint64 a = std::max(pos, from), b = std::min(pos + p.length, to);
            if (a < b)
                push(out, Piece{p.start + (a - pos), b - a, p.side});
            pos += p.length;
        }
    }

    // Replaces `removeCount` visible rows at `at` by `insert` (when its
    // length is above 0).
    void splice(qint64 at, qint64 removeCount, Piece insert) {
        std::vector<Piece> out;
        out.reserve(pieces.size() + 2);
        keep(out, 0, at);
        push(out, insert);
        keep(out, at + removeCount, total());
        pieces = std::move(out);
        ends.resize(pieces.size());
        qint64 pos = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i)
            ends[i] = pos += pieces[i].length;
    }
};

ResultStore::ResultStore() = default;
ResultStore::~ResultStore() {
    // A large result's memory goes back to the system on a thread of its
    // own: dropping hundreds of megabytes of pages costs the releasing
    // thread about a tenth of a second (each processor flushes its page
    // mappings), which the window would otherwise spend when it closes or
    // replaces a result.
    if (m_data.empty() || memoryBytes() < kReleaseInBackground)
        return;
    try {
        std::thread([data = std::move(m_data)]() mutable { data.clear(); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the memory goes back here, as for small results.
    }
}
ResultStore::ResultStore(ResultStore&&) noexcept = default;
ResultStore& ResultStore::operator=(ResultStore&&) noexcept = default;

ResultStore::ResultStore(QList<ColumnInfo> columns) : m_columns(std::move(columns)) {
    m_data.resize(std::size_t(m_columns.size()));
}

int ResultStore::columnIndex(QStringView name) const {
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

const ResultStore::Block* ResultStore::block(qint64 row, int col) const {
    if (row < 0 || row >= m_rowCount || col < 0 || col >= columnCount())
        return nullptr;
    const auto& blocks = m_data[std::size_t(col)].blocks;
    const auto b = std::size_t(row >> kBlockShift);
    return b < blocks.size() ? blocks[b].get() : nullptr;
}

ResultStore::Block& ResultStore::writableBlock(qint64 row, int col) {
    if (row < 0 || row >= m_rowCount || col < 0 || col >= columnCount())
        throw StateError(QStringLiteral("Zeile %1, Spalte %2 liegt außerhalb der Ergebnismenge")
                             .arg(row)
                             .arg(col));
    return *m_data[std::size_t(col)].blocks[std::size_t(row >> kBlockShift)];
}

qint64 ResultStore::appendRows(qint64 n) {
    const qint64 first = m_rowCount;
    if (n <= 0)
        return first;
    m_rowCount += n;
    if (m_edit) {
        // Rows appended to the blocks are seen at the end.
        m_edit->splice(m_viewRows, 0, Edit::Piece{first, n, false});
        m_viewRows = m_edit->total();
    }
    const auto needed = std::size_t(((m_rowCount - 1) >> kBlockShift) + 1);
    for (int c = 0; c < columnCount(); ++c) {
        auto& blocks = m_data[std::size_t(c)].blocks;
        const StorageKind kind = m_columns.at(c).kind;
        const auto width = std::size_t(fixedWidth(kind));
        // Blocks before the last are full; the last holds the rows up to the end.
        auto rowsIn = [&](std::size_t b) {
            return b + 1 < needed ? kBlockRows : ((m_rowCount - 1) & kRowMask) + 1;
        };
        // Fixed kinds keep their values in a per-row array, variable kinds their end offsets;
        // either array has room for the rows the block holds, doubling as they come.
        const bool variable = isVariable(kind);
        const std::size_t slot = variable ? sizeof(std::uint32_t) : width;
        auto rowArray = [variable](Block& b) -> PageBuffer& { return variable ? b.ends : b.fixed; };
        const std::size_t had = blocks.size();
        if (had > 0 && blocks.back()) {
            PageBuffer& last = rowArray(*blocks.back());
            const qint64 rows = rowsIn(had - 1);
            const auto room = qint64(last.size() / slot);
            if (room < rows) {
                const auto grown = std::size_t(fixedRoom(rows, room));
                last.growZeroed(slot * grown);
                blocks.back()->valid.growZeroed((grown + 7) / 8);
                if (qint64(grown) == kBlockRows) {
                    // Full size: the arrays stop growing, and the regions they
                    // grew in can take the next block's (else every block
                    // would leave a region of its own behind it).
                    last.shrinkToFit();
                    blocks.back()->valid.shrinkToFit();
                }
            }
        }
        while (blocks.size() < needed) {
            auto b = std::make_unique<Block>();
            const auto room = std::size_t(fixedRoom(rowsIn(blocks.size()), 0));
            b->valid.allocateZeroed((room + 7) / 8);
            rowArray(*b).allocateZeroed(slot * room);
            blocks.push_back(std::move(b));
        }
    }
    return first;
}

bool ResultStore::isNullAt(qint64 row, int col) const {
    const Block* b = block(row, col);
    return !b || !b->present(row & kRowMask);
}

void ResultStore::setNull(qint64 row, int col) {
    Block& b = writableBlock(row, col);
    const qint64 r = row & kRowMask;
    b.setPresent(r, false);
    if (isVariable(m_columns.at(col).kind)) {
        if (r < b.filled - 1)
            throw StateError(QStringLiteral("Nur die letzte Zeile kann geändert werden"));
        if (r == b.filled - 1)
            b.arena.truncate(b.start(r));
        b.fillTo(r);
        b.setEnd(r, std::uint32_t(b.arena.size()));
        b.filled = int(r + 1);
    }
}

void* ResultStore::fixedSlot(qint64 row, int col) {
    Block& b = writableBlock(row, col);
    const int width = fixedWidth(m_columns.at(col).kind);
    if (width == 0)
        throw StateError(QStringLiteral("Spalte %1 hat keine feste Breite").arg(col));
    const qint64 r = row & kRowMask;
    b.setPresent(r, true);
    return b.fixedBytes() + std::size_t(r) * std::size_t(width);
}

void ResultStore::setVariable(qint64 row, int col, const void* data, std::size_t len) {
    Block& b = writableBlock(row, col);
    if (!isVariable(m_columns.at(col).kind))
        throw StateError(QStringLiteral("Spalte %1 hat eine feste Breite").arg(col));
    const qint64 r = row & kRowMask;
    if (r < b.filled - 1)
        throw StateError(QStringLiteral("Nur die letzte Zeile kann geändert werden"));
    if (r == b.filled - 1)
        b.arena.truncate(b.start(r));
    b.fillTo(r);
    if (b.filled == 0 && row >= kBlockRows) {
        // Writing moved on to a new block: the previous one's arena keeps
        // what it holds and gives back its growth slack, and its size is the
        // best guess for the new one (a block already handed over left its
        // size behind).
        ColumnData& data = m_data[std::size_t(col)];
        if (Block* prev = data.blocks[std::size_t((row >> kBlockShift) - 1)].get()) {
            prev->arena.shrinkToFit();
            data.arenaHint = prev->arena.size();
        }
        b.arena.reserve(data.arenaHint + data.arenaHint / 16);
    }
    if (b.arena.size() + len > std::numeric_limits<std::uint32_t>::max())
        throw DataError(QStringLiteral("Die Ergebnismenge ist zu groß für den Arbeitsspeicher"));
    b.arena.append(data, len);
    b.setEnd(r, std::uint32_t(b.arena.size()));
    b.filled = int(r + 1);
    b.setPresent(r, true);
}

QByteArrayView ResultStore::bytesAt(qint64 row, int col) const {
    const Block* b = block(row, col);
    if (!b)
        return {};
    const qint64 r = row & kRowMask;
    const StorageKind kind = m_columns.at(col).kind;
    if (kind == StorageKind::Guid)
        return b->present(r)
                   ? QByteArrayView(reinterpret_cast<const char*>(b->fixedBytes()) + r * 16, 16)
                   : QByteArrayView();
    if (!isVariable(kind) || r >= b->filled)
        return {};
    const std::uint32_t s = b->start(r);
    return QByteArrayView(b->arena.data() + s, qsizetype(b->end(r) - s));
}

QStringView ResultStore::utf16At(qint64 row, int col) const {
    if (col < 0 || col >= columnCount() || m_columns.at(col).kind != StorageKind::Utf16)
        return {};
    const QByteArrayView v = bytesAt(row, col);
    return QStringView(reinterpret_cast<const QChar*>(v.data()), v.size() / 2);
}

std::int64_t ResultStore::integerAt(qint64 row, int col) const {
    const Block* b = block(row, col);
    if (!b)
        return 0;
    const qint64 r = row & kRowMask;
    if (!b->present(r))
        return 0;
    const std::uint8_t* p = b->fixedBytes();
    switch (m_columns.at(col).kind) {
    case StorageKind::Bool:
    case StorageKind::UInt8:
        return p[r];
    case StorageKind::Int16: {
        std::int16_t v;
        std::memcpy(&v, p + r * 2, 2);
        return v;
    }
    case StorageKind::Int32:
    case StorageKind::Date: {
        std::int32_t v;
        std::memcpy(&v, p + r * 4, 4);
        return v;
    }
    case StorageKind::Int64:
    case StorageKind::Decimal:
    case StorageKind::DateTime:
    case StorageKind::Time: {
        std::int64_t v;
        std::memcpy(&v, p + r * 8, 8);
        return v;
    }
    case StorageKind::Double:
        return std::int64_t(realAt(row, col));
    default:
        return 0;
    }
}

std::int64_t ResultStore::BlockView::integer(qint64 row) const {
    switch (kind) {
    case StorageKind::Bool:
    case StorageKind::UInt8:
        return fixedValue<std::uint8_t>(row);
    case StorageKind::Int16:
        return fixedValue<std::int16_t>(row);
    case StorageKind::Int32:
    case StorageKind::Date:
        return fixedValue<std::int32_t>(row);
    case StorageKind::Int64:
    case StorageKind::Decimal:
    case StorageKind::DateTime:
    case StorageKind::Time:
        return fixedValue<std::int64_t>(row);
    case StorageKind::Double:
        return std::int64_t(fixedValue<double>(row));
    default:
        return 0;
    }
}

ResultStore::BlockView ResultStore::blockView(qint64 row, int col) const {
    const Block* b = m_edit ? nullptr : block(row, col);
    if (!b)
        throw StateError(QStringLiteral("Zeile %1, Spalte %2 kann nicht blockweise gelesen werden")
                             .arg(row)
                             .arg(col));
    BlockView v;
    v.first = row & ~kRowMask;
    v.end = std::min(m_rowCount, v.first + kBlockRows);
    v.kind = m_columns.at(col).kind;
    v.valid = b->validBits();
    v.fixed = b->fixedBytes();
    v.ends = b->endOffsets();
    v.arena = b->arena.data();
    v.filled = b->filled;
    return v;
}

double ResultStore::realAt(qint64 row, int col) const {
    const Block* b = block(row, col);
    if (!b || !b->present(row & kRowMask))
        return 0.0;
    const ColumnInfo& info = m_columns.at(col);
    switch (info.kind) {
    case StorageKind::Double: {
        double v;
        std::memcpy(&v, b->fixedBytes() + (row & kRowMask) * 8, 8);
        return v;
    }
    case StorageKind::Decimal:
        return double(integerAt(row, col)) / double(pow10i(info.scale));
    case StorageKind::Utf8:
        return QString::fromUtf8(bytesAt(row, col)).toDouble();
    case StorageKind::Utf16:
        return utf16At(row, col).toDouble();
    default:
        return double(integerAt(row, col));
    }
}

QVariant ResultStore::valueAt(qint64 row, int col) const {
    if (isNullAt(row, col))
        return {};
    const ColumnInfo& info = m_columns.at(col);
    switch (info.kind) {
    case StorageKind::Bool:
        return QVariant(integerAt(row, col) != 0);
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
        return QVariant(int(integerAt(row, col)));
    case StorageKind::Int64:
        return QVariant(qlonglong(integerAt(row, col)));
    case StorageKind::Double:
    case StorageKind::Decimal:
        return QVariant(realAt(row, col));
    case StorageKind::DateTime: {
        const std::int64_t t = integerAt(row, col);
        const auto days = std::int32_t(t / kTicksPerDay);
        const QDate d = QDate::fromJulianDay(days + kJulianDayOfDayZero);
        return QVariant(QDateTime(
            d, QTime::fromMSecsSinceStartOfDay(int((t % kTicksPerDay) / 10000)), Qt::UTC));
    }
    case StorageKind::Date:
        return QVariant(QDate::fromJulianDay(integerAt(row, col) + kJulianDayOfDayZero));
    case StorageKind::Time:
        return QVariant(QTime::fromMSecsSinceStartOfDay(int(integerAt(row, col) / 10000)));
    case StorageKind::Guid:
        return QVariant(
            uuidFromBytes(reinterpret_cast<const unsigned char*>(bytesAt(row, col).data())));
    case StorageKind::Utf8:
        return QVariant(QString::fromUtf8(bytesAt(row, col)));
    case StorageKind::Utf16:
        return QVariant(utf16At(row, col).toString());
    case StorageKind::Bytes:
        return QVariant(bytesAt(row, col).toByteArray());
    }
    return {};
}

QString ResultStore::textAt(qint64 row, int col) const {
    if (isNullAt(row, col))
        return {};
    const ColumnInfo& info = m_columns.at(col);
    switch (info.kind) {
    case StorageKind::Bool:
        return integerAt(row, col) ? QStringLiteral("True") : QStringLiteral("False");
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
    case StorageKind::Int64:
        return QString::number(integerAt(row, col));
    case StorageKind::Double:
        return QString::number(realAt(row, col), 'g', 15);
    case StorageKind::Decimal:
        return decimalText(integerAt(row, col), info.scale);
    case StorageKind::DateTime: {
        const std::int64_t t = integerAt(row, col);
        return dateText(std::int32_t(t / kTicksPerDay)) + QLatin1Char(' ') +
               timeText(t % kTicksPerDay, fractionDigits(info));
    }
    case StorageKind::Date:
        return dateText(std::int32_t(integerAt(row, col)));
    case StorageKind::Time:
        return timeText(integerAt(row, col), fractionDigits(info));
    case StorageKind::Guid:
        return uuidFromBytes(reinterpret_cast<const unsigned char*>(bytesAt(row, col).data()))
            .toString(QUuid::WithBraces)
            .toUpper();
    case StorageKind::Utf8:
        return QString::fromUtf8(bytesAt(row, col));
    case StorageKind::Utf16:
        return utf16At(row, col).toString();
    case StorageKind::Bytes:
        return QStringLiteral("0x") +
               QString::fromLatin1(bytesAt(row, col).toByteArray().toHex().toUpper());
    }
    return {};
}

void ResultStore::setValue(qint64 row, int col, const QVariant& v) {
    if (!v.isValid() || v.isNull()) {
        setNull(row, col);
        return;
    }
    const ColumnInfo& info = m_columns.at(col);
    auto put = [&](const auto& x) { std::memcpy(fixedSlot(row, col), &x, sizeof x); };
    switch (info.kind) {
    case StorageKind::Bool:
        put(std::uint8_t(v.toBool() ? 1 : 0));
        break;
    case StorageKind::UInt8:
        put(std::uint8_t(v.toUInt()));
        break;
    case StorageKind::Int16:
        put(std::int16_t(v.toInt()));
        break;
    case StorageKind::Int32:
        put(std::int32_t(v.toInt()));
        break;
    case StorageKind::Int64:
        put(std::int64_t(v.toLongLong()));
        break;
    case StorageKind::Double:
        put(v.toDouble());
        break;
    case StorageKind::Decimal: {
        const std::int64_t scaled =
            v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float
                ? std::llround(v.toDouble() * double(pow10i(info.scale)))
                : [&] {
                      // Exact for texts and integers: shift the decimal point.
                      QString s = v.toString().trimmed();
                      const qsizetype dot = s.indexOf(QLatin1Char('.'));
                      QString frac = dot < 0 ? QString() : s.mid(dot + 1);
                      if (dot >= 0)
                          s.truncate(dot);
                      frac = frac.left(info.scale).leftJustified(info.scale, QLatin1Char('0'));
                      bool ok = false;
                      const std::int64_t whole = (s + frac).toLongLong(&ok);
                      return ok ? whole : std::llround(v.toDouble() * double(pow10i(info.scale)));
                  }();
        put(scaled);
        break;
    }
    case StorageKind::DateTime: {
        // Text keeps all seven digits a QDateTime would cut to milliseconds.
        std::int64_t ticks = 0;
        if (v.typeId() == QMetaType::QString && parseDateTimeTicks(v.toString(), ticks)) {
            put(ticks);
            break;
        }
        const QDateTime dt = v.toDateTime();
        put(std::int64_t(daysOf(dt.date())) * kTicksPerDay + ticksOf(dt.time()));
        break;
    }
    case StorageKind::Date:
        put(daysOf(v.toDate()));
        break;
    case StorageKind::Time: {
        std::int64_t ticks = 0;
        if (v.typeId() == QMetaType::QString && parseTimeTicks(v.toString(), ticks)) {
            put(ticks);
            break;
        }
        put(ticksOf(v.toTime()));
        break;
    }
    case StorageKind::Guid: {
        unsigned char raw[16];
        uuidToBytes(v.value<QUuid>().isNull() ? QUuid::fromString(v.toString()) : v.value<QUuid>(),
                    raw);
        std::memcpy(fixedSlot(row, col), raw, 16);
        break;
    }
    case StorageKind::Utf8: {
        const QByteArray u = v.toString().toUtf8();
        setVariable(row, col, u.constData(), std::size_t(u.size()));
        break;
    }
    case StorageKind::Utf16: {
        const QString s = v.toString();
        setVariable(row, col, s.utf16(), std::size_t(s.size()) * 2);
        break;
    }
    case StorageKind::Bytes: {
        const QByteArray b = v.toByteArray();
        setVariable(row, col, b.constData(), std::size_t(b.size()));
        break;
    }
    }
}

void ResultStore::copyValue(qint64 row, int col, const ResultStore& from, qint64 fromRow,
                            int fromCol) {
    if (!m_edit) {
        // Read the block that holds the source row (through the source's edits) and write
        // the target block directly, for every pair of kinds that needs no variant.
        qint64 r = fromRow;
        const ResultStore* source = from.route(r);
        const Block* b = source->block(r, fromCol);
        if (b && copyFromBlock(row, col, *b, r & kRowMask, source->m_columns.at(fromCol)))
            return;
    }
    setValue(row, col, from.value(fromRow, fromCol));
}

void ResultStore::setUtf16FromUtf8(qint64 row, int col, QByteArrayView bytes) {
    // ASCII widens unit by unit; anything else is decoded as QString does it.
    constexpr qsizetype kStack = 512;
    char16_t wide[kStack];
    if (bytes.size() <= kStack &&
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) {
        std::copy(bytes.begin(), bytes.end(), wide);
        setVariable(row, col, wide, std::size_t(bytes.size()) * 2);
    } else {
        const QString text = QString::fromUtf8(bytes);
        setVariable(row, col, text.utf16(), std::size_t(text.size()) * 2);
    }
}

bool ResultStore::copyFromBlock(qint64 row, int col, const Block& source, qint64 r,
                                const ColumnInfo& info) {
    if (!source.present(r)) {
        setNull(row, col);
        return true;
    }
    const StorageKind to = m_columns.at(col).kind;
    const bool exactTarget = fractionDigits(m_columns.at(col)) >= 0;
    auto read = [&](auto v) {
        std::memcpy(&v, source.fixedBytes() + std::size_t(r) * sizeof v, sizeof v);
        return v;
    };
    auto put = [&](auto v) {
        Block& b = writableBlock(row, col);
        const qint64 at = row & kRowMask;
        std::memcpy(b.fixedBytes() + std::size_t(at) * sizeof v, &v, sizeof v);
        b.setPresent(at, true);
        return true;
    };
    auto variable = [&]() {
        const std::uint32_t s = source.start(r);
        return r < source.filled ? QByteArrayView(source.arena.data() + s, source.end(r) - s)
                                 : QByteArrayView();
    };
    switch (info.kind) {
    case StorageKind::UInt8:
        return to == StorageKind::Int64 && put(std::int64_t(read(std::uint8_t())));
    case StorageKind::Int16:
        return to == StorageKind::Int64 && put(std::int64_t(read(std::int16_t())));
    case StorageKind::Int32:
        return to == StorageKind::Int64 && put(std::int64_t(read(std::int32_t())));
    case StorageKind::Int64:
        return to == StorageKind::Int64 && put(read(std::int64_t()));
    case StorageKind::Double:
        return to == StorageKind::Double && put(read(double()));
    case StorageKind::Decimal:
        return to == StorageKind::Double &&
               put(double(read(std::int64_t())) / double(pow10i(info.scale)));
    case StorageKind::Bool:
        return to == StorageKind::Bool && put(std::uint8_t(read(std::uint8_t()) != 0 ? 1 : 0));
    case StorageKind::DateTime: {
        // Whole milliseconds, as the variant carries them, unless the target
        // keeps the fraction of a datetime2.
        const std::int64_t t = read(std::int64_t());
        return to == StorageKind::DateTime && t >= 0 && put(exactTarget ? t : t - t % 10000);
    }
    case StorageKind::Date:
        return to == StorageKind::Date && put(read(std::int32_t()));
    case StorageKind::Time: {
        const std::int64_t t = read(std::int64_t());
        return to == StorageKind::Time && t >= 0 && t < kTicksPerDay &&
               put(exactTarget ? t : t - t % 10000);
    }
    case StorageKind::Utf16:
        if (to != StorageKind::Utf16)
            return false;
        {
            const QByteArrayView bytes = variable();
            setVariable(row, col, bytes.data(), std::size_t(bytes.size()));
        }
        return true;
    case StorageKind::Utf8:
        if (to != StorageKind::Utf16)
            return false;
        setUtf16FromUtf8(row, col, variable());
        return true;
    default:
        return false;
    }
}

void ResultStore::removeLastRow() {
    if (m_rowCount == 0)
        return;
    if (m_edit)
        throw StateError(
            QStringLiteral("Nach Änderungen kann die letzte Zeile nicht entfernt werden"));
    const qint64 row = m_rowCount - 1;
    for (int c = 0; c < columnCount(); ++c)
        setNull(row, c);
    const qint64 r = row & kRowMask;
    for (int c = 0; c < columnCount(); ++c) {
        auto& blocks = m_data[std::size_t(c)].blocks;
        if (r == 0) {
            blocks.pop_back();
        } else if (isVariable(m_columns.at(c).kind)) {
            blocks.back()->filled = int(r);
        }
    }
    --m_rowCount;
}

void ResultStore::squeeze() {
    for (std::size_t c = 0; c < m_data.size(); ++c) {
        if (!isVariable(m_columns.at(int(c)).kind))
            continue;
        for (auto& b : m_data[c].blocks)
            if (b)
                b->arena.shrinkToFit();
    }
}

std::shared_ptr<ResultStore::Chunk> ResultStore::takeNewRows(bool last, bool withOpenBlock) {
    const qint64 openRows = m_rowCount & kRowMask;
    // At the end, the block being filled is complete as it is.
    const auto complete = std::size_t(m_rowCount >> kBlockShift) + (last && openRows ? 1 : 0);
    const qint64 first = qint64(m_handedBlocks) << kBlockShift;
    const bool copyOpen = withOpenBlock && !last && openRows != 0;
    const qint64 end = copyOpen || last ? m_rowCount : qint64(complete) << kBlockShift;
    if (m_edit || (end <= m_handedRows && complete == m_handedBlocks))
        return nullptr;
    auto chunk = std::make_shared<Chunk>();
    chunk->firstRow = first;
    chunk->endRow = end;
    chunk->blocks.resize(m_data.size());
    for (std::size_t c = 0; c < m_data.size(); ++c) {
        ColumnData& data = m_data[c];
        const StorageKind kind = m_columns.at(int(c)).kind;
        auto& out = chunk->blocks[c];
        for (std::size_t b = m_handedBlocks; b < complete; ++b) {
            Block& full = *data.blocks[b];
            if (isVariable(kind)) {
                full.arena.shrinkToFit();
                data.arenaHint = full.arena.size();
            }
            out.push_back(std::move(data.blocks[b]));
        }
        if (!copyOpen)
            continue;
        // The block being filled goes over as a copy of its rows so far.
        const Block& open = *data.blocks[complete];
        auto copy = std::make_unique<Block>();
        copy->valid.allocateZeroed(std::size_t(fixedRoom(openRows, 0) + 7) / 8);
        std::memcpy(copy->valid.data(), open.valid.data(), std::size_t((openRows + 7) >> 3));
        if (isVariable(kind)) {
            copy->ends.allocateZeroed(sizeof(std::uint32_t) * std::size_t(fixedRoom(openRows, 0)));
            const int filled = std::min(open.filled, int(openRows));
            std::memcpy(copy->ends.data(), open.ends.data(), std::size_t(filled) * 4);
            const std::size_t bytes = filled == 0 ? 0 : open.end(filled - 1);
            copy->arena.append(open.arena.data(), bytes);
            copy->filled = filled;
        } else {
            const std::size_t width = std::size_t(fixedWidth(kind));
            copy->fixed.allocateZeroed(width * std::size_t(fixedRoom(openRows, 0)));
            std::memcpy(copy->fixed.data(), open.fixed.data(), width * std::size_t(openRows));
        }
        out.push_back(std::move(copy));
    }
    m_handedBlocks = complete;
    m_handedRows = end;
    return chunk;
}

void ResultStore::appendChunk(Chunk& chunk) {
    const auto firstBlock = std::size_t(chunk.firstRow >> kBlockShift);
    if (m_edit || chunk.blocks.size() != m_data.size() || chunk.endRow < m_rowCount ||
        (!m_data.empty() && m_data.front().blocks.size() < firstBlock))
        throw StateError(QStringLiteral("Die Zeilen passen nicht an das Ende der Ergebnismenge"));
    for (std::size_t c = 0; c < m_data.size(); ++c) {
        auto& blocks = m_data[c].blocks;
        blocks.resize(firstBlock); // drops the copy of a block that was still being filled
        for (auto& b : chunk.blocks[c])
            blocks.push_back(std::move(b));
        chunk.blocks[c].clear();
    }
    m_rowCount = chunk.endRow;
}

qint64 ResultStore::chunkRows(const Chunk& chunk) {
    return chunk.endRow - chunk.firstRow;
}

qint64 ResultStore::chunkEnd(const Chunk& chunk) {
    return chunk.endRow;
}

void ResultStore::clear() {
    // The first block of each column stays, emptied, for the rows that follow: a store that
    // is filled and cleared again and again (a dataset handing its rows to the provider in
    // blocks) maps no new memory and unmaps none.
    for (auto& c : m_data) {
        if (c.blocks.size() > 1)
            c.blocks.resize(1);
        if (c.blocks.empty())
            continue;
        Block& b = *c.blocks.front();
        if (b.valid.data())
            std::memset(b.valid.data(), 0, b.valid.size());
        if (b.fixed.data())
            std::memset(b.fixed.data(), 0, b.fixed.size());
        b.arena.truncate(0);
        b.filled = 0;
    }
    m_rowCount = 0;
    m_edit.reset();
    m_viewRows = 0;
}

std::size_t ResultStore::memoryBytes() const {
    std::size_t total = 0;
    for (std::size_t c = 0; c < m_data.size(); ++c) {
        const StorageKind kind = m_columns.at(int(c)).kind;
        for (const auto& b : m_data[c].blocks) {
            if (!b)
                continue;
            total += b->valid.size();
            if (isVariable(kind))
                total += b->ends.size() + b->arena.capacity();
            else
                total += b->fixed.size();
        }
    }
    if (m_edit)
        total += m_edit->side->memoryBytes() + m_edit->pieces.capacity() * sizeof(Edit::Piece) +
                 m_edit->ends.capacity() * sizeof(qint64);
    return total;
}

// --- reading through the overlay ------------------------------------------------

const ResultStore* ResultStore::routeEdited(qint64& row) const {
    const Edit& e = *m_edit;
    const std::size_t i = e.find(row);
    if (row < 0 || i >= e.pieces.size()) {
        row = -1; // out of range: reads as null
        return this;
    }
    const Edit::Piece& p = e.pieces[i];
    row = p.start + (row - (e.ends[i] - p.length));
    return p.side ? e.side.get() : this;
}

bool ResultStore::isNull(qint64 row, int col) const {
    return route(row)->isNullAt(row, col);
}

QVariant ResultStore::value(qint64 row, int col) const {
    return route(row)->valueAt(row, col);
}

QString ResultStore::text(qint64 row, int col) const {
    return route(row)->textAt(row, col);
}

std::int64_t ResultStore::integer(qint64 row, int col) const {
    return route(row)->integerAt(row, col);
}

double ResultStore::real(qint64 row, int col) const {
    return route(row)->realAt(row, col);
}

QByteArrayView ResultStore::bytes(qint64 row, int col) const {
    return route(row)->bytesAt(row, col);
}

QStringView ResultStore::utf16(qint64 row, int col) const {
    return route(row)->utf16At(row, col);
}

// --- editing ----------------------------------------------------------------------

ResultStore::Edit& ResultStore::edit() {
    if (!m_edit) {
        m_edit = std::make_unique<Edit>();
        m_edit->side = std::make_unique<ResultStore>(m_columns);
        m_edit->splice(0, 0, Edit::Piece{0, m_rowCount, false});
        m_viewRows = m_rowCount;
    }
    return *m_edit;
}

std::shared_ptr<ResultStore> ResultStore::reordered(const std::vector<qint64>& rows,
                                                    const std::atomic<bool>* stop) const {
    auto out = std::make_shared<ResultStore>(m_columns);
    if (rows.empty())
        return out;
    out->appendRows(qint64(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if ((i & 0xFFF) == 0 && stop && stop->load())
            return nullptr;
        qint64 row = rows[i];
        if (row < 0 || row >= rowCount())
            throw StateError(QStringLiteral("Datensatz %1 existiert nicht").arg(row + 1));
        const ResultStore* from = route(row);
        out->copyRow(*from, row, qint64(i));
    }
    return out;
}

void ResultStore::copyRow(const ResultStore& from, qint64 fromRow, qint64 toRow) {
    for (int c = 0; c < columnCount(); ++c) {
        if (from.isNullAt(fromRow, c))
            continue; // new rows start null
        const StorageKind kind = m_columns.at(c).kind;
        if (isVariable(kind)) {
            const QByteArrayView v = from.bytesAt(fromRow, c);
            setVariable(toRow, c, v.data(), std::size_t(v.size()));
        } else {
            const int width = fixedWidth(kind);
            const Block* b = from.block(fromRow, c);
            std::memcpy(fixedSlot(toRow, c),
                        b->fixedBytes() + std::size_t(fromRow & kRowMask) * std::size_t(width),
                        std::size_t(width));
        }
    }
}

ResultStore::RowSource ResultStore::rowSource(qint64 row) const {
    if (row < 0 || row >= rowCount())
        throw StateError(QStringLiteral("Datensatz %1 existiert nicht").arg(row + 1));
    const ResultStore* s = route(row);
    return RowSource{s != this, row};
}

const ResultStore* ResultStore::sourceStore(RowSource source) const {
    if (!source.edited)
        return this;
    if (!m_edit)
        throw StateError(QStringLiteral("Unbekannte Zeilenversion"));
    return m_edit->side.get();
}

QVariant ResultStore::sourceValue(RowSource source, int col) const {
    return sourceStore(source)->valueAt(source.row, col);
}

QString ResultStore::sourceText(RowSource source, int col) const {
    return sourceStore(source)->textAt(source.row, col);
}

ResultStore::RowSource ResultStore::beginRowChange(qint64 row) {
    const RowSource before = rowSource(row);
    Edit& e = edit();
    const qint64 copy = e.side->appendRows(1);
    e.side->copyRow(*sourceStore(before), before.row, copy);
    e.splice(row, 1, Edit::Piece{copy, 1, true});
    return before;
}

void ResultStore::setCell(qint64 row, int col, const QVariant& value) {
    if (col < 0 || col >= columnCount())
        throw StateError(QStringLiteral("Spalte %1 liegt außerhalb der Ergebnismenge").arg(col));
    RowSource at = rowSource(row);
    Edit& e = edit();
    // Only the side store's last row can take new variable values: a row
    // whose copy is further back gets a new copy first.
    if (!at.edited || at.row != e.side->rowCount() - 1) {
        beginRowChange(row);
        at = rowSource(row);
    }
    e.side->setValue(at.row, col, value);
}

void ResultStore::restoreRow(qint64 row, RowSource source) {
    rowSource(row); // range check
    Edit& e = edit();
    e.splice(row, 1, Edit::Piece{source.row, 1, source.edited});
}

qint64 ResultStore::insertRow(qint64 row) {
    Edit& e = edit();
    if (row < 0 || row > m_viewRows)
        row = m_viewRows;
    const qint64 fresh = e.side->appendRows(1);
    e.splice(row, 0, Edit::Piece{fresh, 1, true});
    m_viewRows = e.total();
    return row;
}

void ResultStore::removeRow(qint64 row) {
    rowSource(row); // range check
    Edit& e = edit();
    e.splice(row, 1, Edit::Piece{0, 0, false});
    m_viewRows = e.total();
}

namespace {

// Reads exactly `n` digits at `i`.
bool fixedDigits(QStringView t, qsizetype& i, int n, int& out) {
    out = 0;
    for (int k = 0; k < n; ++k, ++i) {
        if (i >= t.size() || !t[i].isDigit())
            return false;
        out = out * 10 + t[i].digitValue();
    }
    return true;
}

} // namespace

bool parseTimeTicks(QStringView t, std::int64_t& ticks) {
    t = t.trimmed();
    qsizetype i = 0;
    int h = 0, m = 0, s = 0;
    // One or two digits of hours.
    if (t.size() > 1 && t[1] == QLatin1Char(':')) {
        if (!fixedDigits(t, i, 1, h))
            return false;
    } else if (!fixedDigits(t, i, 2, h)) {
        return false;
    }
    if (i >= t.size() || t[i++] != QLatin1Char(':') || !fixedDigits(t, i, 2, m))
        return false;
    std::int64_t fraction = 0;
    if (i < t.size()) {
        if (t[i++] != QLatin1Char(':') || !fixedDigits(t, i, 2, s))
            return false;
        if (i < t.size()) {
            if (t[i++] != QLatin1Char('.') || i >= t.size())
                return false;
            std::int64_t unit = kTicksPerSecond / 10;
            for (; i < t.size(); ++i, unit /= 10) {
                if (!t[i].isDigit() || unit == 0)
                    return false; // no digits beyond the seventh
                fraction += t[i].digitValue() * unit;
            }
        }
    }
    if (h > 23 || m > 59 || s > 59)
        return false;
    ticks = ((std::int64_t(h) * 60 + m) * 60 + s) * kTicksPerSecond + fraction;
    return true;
}

bool parseDateTimeTicks(QStringView t, std::int64_t& ticks) {
    t = t.trimmed();
    qsizetype i = 0;
    int y = 0, mo = 0, d = 0;
    if (!fixedDigits(t, i, 4, y) || i >= t.size() || t[i++] != QLatin1Char('-') ||
        !fixedDigits(t, i, 2, mo) || i >= t.size() || t[i++] != QLatin1Char('-') ||
        !fixedDigits(t, i, 2, d))
        return false;
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > QDate(y, mo, 1).daysInMonth())
        return false;
    std::int64_t time = 0;
    if (i < t.size()) {
        if (t[i] != QLatin1Char(' ') && t[i] != QLatin1Char('T'))
            return false;
        if (!parseTimeTicks(t.mid(i + 1), time))
            return false;
    }
    ticks = std::int64_t(daysFromCivil(y, mo, d)) * kTicksPerDay + time;
    return true;
}

} // namespace data
