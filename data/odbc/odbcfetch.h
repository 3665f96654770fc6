#pragma once
// Reads a whole result set from a statement into a ResultStore: bound column
// arrays, many rows per fetch, for results of fixed-size and short columns;
// row by row with chunked SQLGetData when long texts or binary values are in
// the result.

#include "data/odbc/odbccall.h"
#include "data/odbc/odbctypes.h"

#include <memory>
#include <optional>
#include <vector>

namespace data::odbc {

std::vector<DescribedColumn> describeColumns(SQLHSTMT stmt, SQLSMALLINT count);

// Fetches the rows of the statement's current result (at most maxRows when
// that is above 0). `capped` tells whether rows were left unread. `rawWire`:
// see planColumn.
// `options`, when given, may carry a progress callback (called after each
// batch of rows) and a cancelled flag: a cancelled fetch stops and returns
// the rows read so far.
// `cutShort`, when given, keeps the rows read when a fetch fails part-way
// (an error after rows, or a lost link): the fetch ends there and the error
// is stored in it instead of being raised; the caller raises it once it has
// handed the rows on.
std::shared_ptr<ResultStore> fetchResult(SQLHSTMT stmt, SQLSMALLINT columnCount, qint64 maxRows,
                                         MessageList& messages, bool& capped, bool rawWire = false,
                                         const QueryOptions* options = nullptr,
                                         std::optional<DataError>* cutShort = nullptr);

// Conversions of the driver's buffers, exposed for tests.
bool parseDecimal(const char* text, std::size_t length, int scale, std::int64_t& unscaled);
bool parseTimeOfDay(const char* text, std::size_t length, std::int64_t& ticks);
std::int64_t timestampTicks(const SQL_TIMESTAMP_STRUCT& ts);
// The server's own money/smallmoney and datetime/smalldatetime bytes by
// their length (8 or 4); false for any other length.
bool moneyFromRaw(const char* p, SQLLEN length, std::int64_t& unscaled);
bool dateTimeFromRaw(const char* p, SQLLEN length, std::int64_t& ticks);

} // namespace data::odbc
