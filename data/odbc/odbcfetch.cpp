#include "data/odbc/odbcfetch.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace data::odbc {

namespace {

using Convert = ColumnPlan::Convert;

// Bound fetches aim at about this many bytes of buffers per round trip.
constexpr std::size_t kFetchBufferBytes = std::size_t(512) << 10;
constexpr SQLULEN kMaxRowsPerFetch = 4096;
constexpr SQLULEN kFirstStreamedRows = 128; // more than a screen shows
constexpr SQLLEN kChunkBytes = 64 * 1024;
// The FreeTDS driver binds columns 1 to 4000 only (SQLBindCol answers 07009
// "Invalid descriptor index" beyond), while SQL Server returns up to 4096:
// wider results are read value by value with SQLGetData.
constexpr int kMaxBoundColumns = 4000;

// The bound columns' buffers, kept by the fetching thread from one result to the next and
// never cleared: the driver writes the rows it reports and only those are read. A batch of
// many small results would otherwise take (and the kernel clear) half a megabyte for each.
class BindArea {
public:
    char* take(std::size_t bytes) {
        if (bytes > m_capacity) {
            m_bytes = std::make_unique_for_overwrite<char[]>(bytes);
            m_capacity = bytes;
        }
        return m_bytes.get();
    }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_capacity = 0;
};
thread_local BindArea t_bindArea;

constexpr std::size_t alignedUp(std::size_t n) {
    return (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
}

int terminatorBytes(SQLSMALLINT cType) {
    return cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
}

DataError unexpectedFormat(const ResultStore& store, int col) {
    return DataError(QStringLiteral("Der ODBC-Treiber lieferte den Wert der Spalte \"%1\" in einem "
                                    "unerwarteten Format")
                         .arg(store.column(col).name));
}

void storeCell(ResultStore& store, qint64 row, int col, const ColumnPlan& plan, const char* p,
               SQLLEN ind) {
    if (ind == SQL_NULL_DATA)
        return; // rows start null
    switch (plan.convert) {
    case Convert::Copy:
        std::memcpy(store.fixedSlot(row, col), p, std::size_t(fixedWidth(plan.info.kind)));
        return;
    case Convert::Bit:
        *static_cast<std::uint8_t*>(store.fixedSlot(row, col)) = *p ? 1 : 0;
        return;
    case Convert::Timestamp: {
        SQL_TIMESTAMP_STRUCT ts;
        std::memcpy(&ts, p, sizeof ts);
        const std::int64_t t = timestampTicks(ts);
        std::memcpy(store.fixedSlot(row, col), &t, 8);
        return;
    }
    case Convert::DateStruct: {
        SQL_DATE_STRUCT d;
        std::memcpy(&d, p, sizeof d);
        const std::int32_t days = daysFromCivil(d.year, d.month, d.day);
        std::memcpy(store.fixedSlot(row, col), &days, 4);
        return;
    }
    case Convert::DecimalText: {
        const std::size_t len = ind < 0 ? std::strlen(p) : std::size_t(ind);
        std::int64_t v = 0;
        if (parseDecimal(p, len, plan.info.scale, v))
            std::memcpy(store.fixedSlot(row, col), &v, 8);
        return;
    }
    case Convert::TimeText: {
        const std::size_t len = ind < 0 ? std::strlen(p) : std::size_t(ind);
        std::int64_t t = 0;
        if (parseTimeOfDay(p, len, t))
            std::memcpy(store.fixedSlot(row, col), &t, 8);
        return;
    }
    case Convert::Text: {
        const SQLLEN room = plan.bufferBytes - terminatorBytes(plan.cType);
        const SQLLEN len = ind == SQL_NO_TOTAL || ind > room ? room : ind;
        store.setVariable(row, col, p, std::size_t(len));
        return;
    }
    case Convert::FixedRaw: {
        const int width = fixedWidth(plan.info.kind);
        if (ind != width)
            throw unexpectedFormat(store, col);
        std::memcpy(store.fixedSlot(row, col), p, std::size_t(width));
        return;
    }
    case Convert::FloatRaw: {
        double d;
        if (ind == 8) {
            std::memcpy(&d, p, 8);
        } else if (ind == 4) {
            float f;
            std::memcpy(&f, p, 4);
            d = f;
        } else {
            throw unexpectedFormat(store, col);
        }
        std::memcpy(store.fixedSlot(row, col), &d, 8);
        return;
    }
    case Convert::MoneyRaw:
    case Convert::DateTimeRaw: {
        std::int64_t v = 0;
        const bool known = plan.convert == Convert::MoneyRaw ? moneyFromRaw(p, ind, v)
                                                             : dateTimeFromRaw(p, ind, v);
        if (!known)
            throw unexpectedFormat(store, col);
        std::memcpy(store.fixedSlot(row, col), &v, 8);
        return;
    }
    }
}

// Reads one long value in chunks.
void fetchLong(SQLHSTMT stmt, ResultStore& store, qint64 row, int col, const ColumnPlan& plan,
               std::vector<char>& chunk, std::vector<char>& value) {
    value.clear();
    const int term = terminatorBytes(plan.cType);
    for (;;) {
        SQLLEN ind = 0;
        const SQLRETURN rc = SQLGetData(stmt, SQLUSMALLINT(col + 1), plan.cType, chunk.data(),
                                        SQLLEN(chunk.size()), &ind);
        if (rc == SQL_NO_DATA)
            break;
        check(rc, SQL_HANDLE_STMT, stmt, "SQLGetData");
        if (ind == SQL_NULL_DATA)
            return;
        const bool truncated = rc == SQL_SUCCESS_WITH_INFO &&
                               (ind == SQL_NO_TOTAL || ind > SQLLEN(chunk.size()) - term);
        if (!truncated) {
            // The last (or only) piece: the indicator is its length.
            value.insert(value.end(), chunk.data(), chunk.data() + ind);
            break;
        }
        // The buffer is full up to its terminator; more follows.
        const std::size_t got = plan.cType == SQL_C_CHAR ? strnlen(chunk.data(), chunk.size())
                                                         : chunk.size() - std::size_t(term);
        if (got == 0)
            break; // a driver that makes no progress would loop for ever
        value.insert(value.end(), chunk.data(), chunk.data() + got);
    }
    store.setVariable(row, col, value.data(), value.size());
}

MessageList withoutTruncationNotes(const MessageList& in) {
    MessageList out;
    for (const auto& r : in)
        if (r.sqlState != QLatin1String("01004"))
            out.append(r);
    return out;
}

} // namespace

bool parseDecimal(const char* p, std::size_t n, int scale, std::int64_t& out) {
    std::size_t i = 0;
    while (i < n && p[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (p[i] == '-' || p[i] == '+'))
        negative = p[i++] == '-';
    std::uint64_t v = 0;
    bool any = false;
    for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i) {
        v = v * 10 + std::uint64_t(p[i] - '0');
        any = true;
    }
    int digits = 0;
    if (i < n && p[i] == '.') {
        ++i;
        for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i) {
            if (digits < scale) {
                v = v * 10 + std::uint64_t(p[i] - '0');
                ++digits;
            }
            any = true;
        }
    }
    for (; digits < scale; ++digits)
        v *= 10;
    if (!any)
        return false;
    out = negative ? -std::int64_t(v) : std::int64_t(v);
    return true;
}

bool parseTimeOfDay(const char* p, std::size_t n, std::int64_t& ticks) {
    int part[3] = {0, 0, 0};
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        if (i >= n || p[i] < '0' || p[i] > '9')
            return false;
        while (i < n && p[i] >= '0' && p[i] <= '9')
            part[k] = part[k] * 10 + (p[i++] - '0');
        if (k < 2) {
            if (i >= n || p[i] != ':')
                return false;
            ++i;
        }
    }
    std::int64_t fraction = 0;
    if (i < n && p[i] == '.') {
        ++i;
        std::int64_t scale = kTicksPerSecond / 10;
        for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i, scale /= 10)
            fraction += (p[i] - '0') * scale;
    }
    ticks = ((std::int64_t(part[0]) * 60 + part[1]) * 60 + part[2]) * kTicksPerSecond + fraction;
    return true;
}

bool moneyFromRaw(const char* p, SQLLEN length, std::int64_t& unscaled) {
    if (length == 8) {
        // Two 32-bit halves, the signed high one first, each in host order.
        std::int32_t high;
        std::uint32_t low;
        std::memcpy(&high, p, 4);
        std::memcpy(&low, p + 4, 4);
        unscaled = std::int64_t((std::uint64_t(std::uint32_t(high)) << 32) | low);
        return true;
    }
    if (length == 4) {
        std::int32_t small;
        std::memcpy(&small, p, 4);
        unscaled = small;
        return true;
    }
    return false;
}

bool dateTimeFromRaw(const char* p, SQLLEN length, std::int64_t& ticks) {
    // Both count days from 1900-01-01.
    static const std::int64_t kDay1900 = daysFromCivil(1900, 1, 1);
    if (length == 8) {
        // Signed days, then three-hundredths of a second since midnight,
        // given to the millisecond as the driver's timestamp structure has
        // it (1/300 s rounded to the nearest millisecond: .003, .007, .010).
        std::int32_t days;
        std::uint32_t ticks300;
        std::memcpy(&days, p, 4);
        std::memcpy(&ticks300, p + 4, 4);
        const std::int64_t ms = (std::int64_t(ticks300) * 10 + 1) / 3;
        ticks = (kDay1900 + days) * kTicksPerDay + ms * 10'000;
        return true;
    }
    if (length == 4) {
        // Unsigned days and minutes since midnight.
        std::uint16_t days, minutes;
        std::memcpy(&days, p, 2);
        std::memcpy(&minutes, p + 2, 2);
        ticks = (kDay1900 + days) * kTicksPerDay + std::int64_t(minutes) * 60 * kTicksPerSecond;
        return true;
    }
    return false;
}

std::int64_t timestampTicks(const SQL_TIMESTAMP_STRUCT& ts) {
    const std::int64_t days = daysFromCivil(ts.year, ts.month, ts.day);
    return days * kTicksPerDay +
           ((std::int64_t(ts.hour) * 60 + ts.minute) * 60 + ts.second) * kTicksPerSecond +
           std::int64_t(ts.fraction) / 100;
}

std::vector<DescribedColumn> describeColumns(SQLHSTMT stmt, SQLSMALLINT count) {
    std::vector<DescribedColumn> cols;
    cols.reserve(std::size_t(count));
    for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
        DescribedColumn c;
        SQLWCHAR name[512];
        SQLSMALLINT nameLength = 0, nullable = SQL_NULLABLE_UNKNOWN;
        check(SQLDescribeColW(stmt, i, name, SQLSMALLINT(std::size(name)), &nameLength, &c.sqlType,
                              &c.columnSize, &c.decimalDigits, &nullable),
              SQL_HANDLE_STMT, stmt, "SQLDescribeCol");
        c.name = fromWide(name, std::min<qsizetype>(nameLength, qsizetype(std::size(name)) - 1));
        c.nullable = nullable != SQL_NO_NULLS;
        SQLWCHAR typeName[128];
        SQLSMALLINT typeLength = 0;
        if (SQL_SUCCEEDED(SQLColAttributeW(stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                           &typeLength, nullptr)))
            c.typeName = fromWide(typeName, std::min<qsizetype>(typeLength / 2, 127));
        auto textAttribute = [&](SQLUSMALLINT field) {
            SQLWCHAR buf[260];
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLColAttributeW(stmt, i, field, buf, sizeof buf, &length, nullptr)))
                return QString();
            return fromWide(buf, std::clamp<qsizetype>(length / 2, 0, 259));
        };
        c.baseTable = textAttribute(SQL_DESC_BASE_TABLE_NAME);
        if (!c.baseTable.isEmpty()) {
            c.baseSchema = textAttribute(SQL_DESC_SCHEMA_NAME);
            c.baseCatalog = textAttribute(SQL_DESC_CATALOG_NAME);
            c.baseColumn = textAttribute(SQL_DESC_BASE_COLUMN_NAME);
            // The driver names the base column only where it differs.
            if (c.baseColumn.isEmpty())
                c.baseColumn = c.name;
        }
        SQLLEN autoUnique = SQL_FALSE;
        if (SQL_SUCCEEDED(SQLColAttributeW(stmt, i, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr,
                                           &autoUnique)))
            c.autoIncrement = autoUnique == SQL_TRUE;
        SQLLEN updatable = SQL_ATTR_READWRITE_UNKNOWN;
        if (SQL_SUCCEEDED(
                SQLColAttributeW(stmt, i, SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable)))
            c.readOnly = updatable == SQL_ATTR_READONLY && !c.autoIncrement;
        cols.push_back(c);
    }
    return cols;
}

std::shared_ptr<ResultStore> fetchResult(SQLHSTMT stmt, SQLSMALLINT columnCount, qint64 maxRows,
                                         MessageList& messages, bool& capped, bool rawWire,
                                         const QueryOptions* options,
                                         std::optional<DataError>* cutShort) {
    capped = false;
    const bool cancellable = options && options->cancelled;
    // One fetch; false at the end of the rows, and when the statement was
    // cancelled (the driver then fails the call, or the loop stops before it).
    auto fetchNext = [&] {
        if (cancellable && options->isCancelled())
            return false;
        MessageList infos2;
        SQLRETURN rc;
        try {
            rc = check(SQLFetch(stmt), SQL_HANDLE_STMT, stmt, "SQLFetch", &infos2);
        } catch (const DataError& e) {
            // Also a lost link: the caller raises it once it has the rows.
            if (cancellable && options->isCancelled())
                return false;
            if (!cutShort)
                throw;
            *cutShort = e;
            return false;
        }
        // The FreeTDS driver reports an error that ends the result after
        // some rows (a conversion that failed on the next row) with the rows
        // before it, as a warning: the error record tells.
        if (cutShort) {
            MessageList errors;
            for (const DiagRecord& r : infos2)
                if (r.kind == MessageKind::Error)
                    errors.append(r);
            if (!errors.isEmpty()) {
                const DiagRecord& primary = primaryRecord(errors);
                *cutShort =
                    DataError(primary.message, primary.sqlState, primary.nativeError, errors);
                MessageList rest;
                for (const DiagRecord& r : infos2)
                    if (r.kind != MessageKind::Error)
                        rest.append(r);
                messages.append(withoutTruncationNotes(rest));
                return false;
            }
        }
        messages.append(withoutTruncationNotes(infos2));
        return rc != SQL_NO_DATA;
    };
    const std::vector<DescribedColumn> described = describeColumns(stmt, columnCount);
    std::vector<ColumnPlan> plans;
    plans.reserve(described.size());
    QList<ColumnInfo> infos;
    infos.reserve(qsizetype(described.size()));
    bool anyLong = false;
    std::size_t rowBytes = 0;
    for (const auto& d : described) {
        plans.push_back(planColumn(d, rawWire));
        ColumnInfo& info = plans.back().info;
        info.baseCatalog = d.baseCatalog;
        info.baseSchema = d.baseSchema;
        info.baseTable = d.baseTable;
        info.baseColumn = d.baseColumn;
        info.autoIncrement = d.autoIncrement;
        info.readOnly = d.readOnly;
        infos.append(info);
        anyLong = anyLong || plans.back().isLong;
        rowBytes += std::size_t(plans.back().bufferBytes) + sizeof(SQLLEN);
    }
    auto store = std::make_shared<ResultStore>(infos);
    const int n = int(plans.size());

    if (!anyLong && n <= kMaxBoundColumns) {
        SQLULEN rowsPerFetch = std::clamp<SQLULEN>(
            kFetchBufferBytes / std::max<std::size_t>(rowBytes, 1), 1, kMaxRowsPerFetch);
        if (maxRows > 0 && SQLULEN(maxRows) < rowsPerFetch)
            rowsPerFetch = SQLULEN(maxRows);
        std::vector<char*> buffers(static_cast<std::size_t>(n));
        std::vector<SQLLEN*> indicators(static_cast<std::size_t>(n));
        std::size_t areaBytes = 0;
        for (const ColumnPlan& plan : plans)
            areaBytes += alignedUp(std::size_t(plan.bufferBytes) * rowsPerFetch) +
                         alignedUp(sizeof(SQLLEN) * rowsPerFetch);
        char* area = t_bindArea.take(areaBytes);
        SQLULEN fetched = 0;
        // Rows handed on while the fetch goes on: the first block is a
        // screen's worth, so the first rows show before a whole block has
        // come over the wire.
        const bool streaming = options && options->progress;
        SQLULEN blockRows = streaming ? std::min(rowsPerFetch, kFirstStreamedRows) : rowsPerFetch;
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, SQLPOINTER(SQL_BIND_BY_COLUMN), 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(ROW_BIND_TYPE)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(blockRows), 0),
              SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(ROW_ARRAY_SIZE)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(ROWS_FETCHED_PTR)");
        for (int c = 0; c < n; ++c) {
            const ColumnPlan& plan = plans[std::size_t(c)];
            buffers[std::size_t(c)] = area;
            area += alignedUp(std::size_t(plan.bufferBytes) * rowsPerFetch);
            indicators[std::size_t(c)] = reinterpret_cast<SQLLEN*>(area);
            area += alignedUp(sizeof(SQLLEN) * rowsPerFetch);
            check(SQLBindCol(stmt, SQLUSMALLINT(c + 1), plan.cType, buffers[std::size_t(c)],
                             plan.bufferBytes, indicators[std::size_t(c)]),
                  SQL_HANDLE_STMT, stmt, "SQLBindCol");
        }
        struct Unbind {
            SQLHSTMT s;
            ~Unbind() {
                SQLFreeStmt(s, SQL_UNBIND);
                SQLSetStmtAttr(s, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(1), 0);
                SQLSetStmtAttr(s, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
            }
        } unbind{stmt};
        for (;;) {
            fetched = 0;
            if (!fetchNext()) {
                // A server error part-way through a block leaves the rows
                // before it in the block; those are kept.
                if (!(cutShort && cutShort->has_value() && fetched > 0 && fetched <= blockRows))
                    break;
            }
            // A block the driver could not fill ends the result set: its
            // rows go out with the end, moments later, not on their own.
            const bool fullBlock = fetched == blockRows;
            if (fullBlock && blockRows < rowsPerFetch) {
                blockRows = rowsPerFetch;
                check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(blockRows), 0),
                      SQL_HANDLE_STMT, stmt, "SQLSetStmtAttr(ROW_ARRAY_SIZE)");
            }
            qint64 rows = qint64(fetched);
            if (maxRows > 0)
                rows = std::min(rows, maxRows - store->rowCount());
            const qint64 first = store->appendRows(rows);
            for (int c = 0; c < n; ++c) {
                const ColumnPlan& plan = plans[std::size_t(c)];
                const char* base = buffers[std::size_t(c)];
                const SQLLEN* ind = indicators[std::size_t(c)];
                for (qint64 r = 0; r < rows; ++r)
                    storeCell(*store, first + r, c, plan,
                              base + std::size_t(r) * std::size_t(plan.bufferBytes), ind[r]);
            }
            if (streaming && fullBlock)
                options->progress(*store);
            if (cutShort && cutShort->has_value())
                break;
            if (maxRows > 0 && store->rowCount() >= maxRows) {
                capped = true;
                break;
            }
        }
    } else {
        std::vector<char> scratch;
        std::vector<char> chunk(static_cast<std::size_t>(kChunkBytes));
        std::vector<char> value;
        for (const auto& plan : plans)
            scratch.resize(
                std::max<std::size_t>(scratch.size(), std::size_t(plan.bufferBytes) + 2));
        for (;;) {
            if (maxRows > 0 && store->rowCount() >= maxRows) {
                capped = true;
                break;
            }
            if (!fetchNext())
                break;
            const qint64 row = store->appendRows(1);
            try {
                for (int c = 0; c < n; ++c) {
                    const ColumnPlan& plan = plans[std::size_t(c)];
                    if (plan.isLong) {
                        fetchLong(stmt, *store, row, c, plan, chunk, value);
                        continue;
                    }
                    SQLLEN ind = 0;
                    check(SQLGetData(stmt, SQLUSMALLINT(c + 1), plan.cType, scratch.data(),
                                     plan.bufferBytes, &ind),
                          SQL_HANDLE_STMT, stmt, "SQLGetData");
                    storeCell(*store, row, c, plan, scratch.data(), ind);
                }
            } catch (const ConnectionError&) {
                throw;
            } catch (const DataError& e) {
                const bool cancelledHere = cancellable && options->isCancelled();
                if (!cancelledHere && !cutShort)
                    throw;
                store->removeLastRow(); // the row cut short by the cancel or the error
                if (!cancelledHere)
                    *cutShort = e;
                break;
            }
            if (options && options->progress)
                options->progress(*store);
        }
    }
    store->squeeze();
    return store;
}

} // namespace data::odbc
