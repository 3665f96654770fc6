#pragma once
// Value conversions shared by the result stream, variables and CONVERT/CAST.

#include "testserver/engine/engine.h"

#include <optional>
#include <string>
#include <string_view>

namespace tds::sql {

struct DateTimeParts {
    int year = 1900, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    int nanos = 0; // fraction of the second in nanoseconds
    bool hasDate = true;
};

// Accepts the spellings SQL Server takes for dates without a SET DATEFORMAT:
// 2024-02-29, 20240229, 2024-02-29 13:14[:15[.123]], 2024-02-29T13:14:15,
// 29.02.2024 [13:14[:15]], 02/29/2024, and a time alone (13:14:15.5).
std::optional<DateTimeParts> parseDateTime(std::string_view s);
// "YYYY-MM-DD HH:MM:SS.fff" for datetime (milliseconds rounded to 1/300 s
// steps as SQL Server stores them), "YYYY-MM-DD HH:MM:00" for smalldatetime,
// "YYYY-MM-DD" for date, "HH:MM:SS[.fffffff]" for time.
std::string formatDateTime(const DateTimeParts& p, SqlType type, int timeScale = 7);
// Days since 1900-01-01 to a date and back (datetime's number form).
DateTimeParts fromDays(double days);
double toDays(const DateTimeParts& p);

// Brings text of a date/time column into the column's form; false when the
// text is no date at all.
bool normalizeDateTime(std::string& s, SqlType type, int timeScale = 7);

// Number of UTF-16 units of UTF-8 text, and the byte length of its first n units.
std::size_t utf16Length(std::string_view s);
std::size_t utf8PrefixForUnits(std::string_view s, std::size_t units);

// 16 bytes in SQL Server's order <-> "6F9619FF-8B86-D011-B42D-00C04FC964FF".
std::string guidText(const unsigned char* bytes);
std::optional<Blob> guidBytes(std::string_view text);

// The next value of the row version counter: eight bytes, most significant
// first, larger than every value handed out before (also by an earlier run
// of the server, as the counter starts from the clock).
Blob nextRowVersion();
// The last value nextRowVersion gave (@@DBTS).
Blob lastRowVersion();

// Orders two date/time texts by the moment they name (a datetimeoffset by its
// UTC time); text that is no date sorts by its bytes, after every date.
int compareDateTimeText(std::string_view a, std::string_view b);

// A decimal text ("-12.50") when `s` is one.
bool isDecimalText(std::string_view s);

} // namespace tds::sql
