#pragma once
// Conversions between the engine's SQLite-style values (integer, real, UTF-8
// text, bytes) and the numbers SQL Server types are made of on the wire:
// day counts and clock ticks, scaled decimals, GUID bytes.

#include "testserver/engine/decimal.h"
#include "testserver/engine/engine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tds {

// A date and/or time of day as parsed from text such as
// "2024-02-29 13:14:15.123", "2024-02-29T13:14", "2024-02-29" or "13:14:15.1234567",
// optionally followed by an offset "+02:00".
struct DateTimeValue {
    std::int64_t days = 0;  // since 0001-01-01 (proleptic Gregorian)
    std::int64_t ticks = 0; // 100 ns units since midnight
    int offsetMinutes = 0;
    bool hasDate = false;
    bool hasTime = false;
    bool hasOffset = false;
};

std::optional<DateTimeValue> parseDateTime(std::string_view text);
// Days from 0001-01-01 to the given civil date, and back.
std::int64_t daysFromCivil(int year, int month, int day);
void civilFromDays(std::int64_t days, int& year, int& month, int& day);
// Days from 0001-01-01 to 1900-01-01, the epoch of datetime and smalldatetime.
constexpr std::int64_t kDays1900 = 693595;

// "YYYY-MM-DD HH:MM:SS" plus `fractionDigits` digits of the 100 ns ticks.
std::string formatDateTime(std::int64_t days, std::int64_t ticks, int fractionDigits);
std::string formatDate(std::int64_t days);
std::string formatTime(std::int64_t ticks, int fractionDigits);

// datetime on the wire: days since 1900 and 1/300 s ticks, rounded as SQL Server does.
struct LegacyDateTime {
    std::int32_t days;
    std::uint32_t ticks300;
};
LegacyDateTime toLegacyDateTime(const DateTimeValue& v);
// smalldatetime: days since 1900 and minutes, rounded to the nearest minute.
struct SmallDateTime {
    std::uint16_t days;
    std::uint16_t minutes;
};
SmallDateTime toSmallDateTime(const DateTimeValue& v);

// "6F9619FF-8B86-D011-B42D-00C04FC964FF" (braces allowed) <-> wire bytes, in
// which the first three groups are little-endian.
bool parseGuid(std::string_view text, std::uint8_t out[16]);
std::string formatGuid(const std::uint8_t bytes[16]);

// Numeric views of a value, as SQLite would convert it; text that is no
// number gives 0, as in SQLite.
std::int64_t valueToInt(const Value& v);
double valueToDouble(const Value& v);
std::optional<DateTimeValue> valueToDateTime(const Value& v);

} // namespace tds
