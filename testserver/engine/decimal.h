#pragma once
// Exact decimal numbers as sign and 128-bit magnitude, shared by the wire
// encoding (decimal, numeric, money) and the engine's conversions.

#include "testserver/engine/engine.h"

#include <optional>
#include <string>
#include <string_view>

namespace tds {

using Int128 = unsigned __int128;

// A decimal number as sign and magnitude scaled by 10^scale.
struct ScaledDecimal {
    bool negative = false;
    Int128 magnitude = 0;
};
// Parses "[-+]digits[.digits][e[-+]digits]" and rounds (half away from zero)
// to `scale` decimals. Empty result for text that is no number or overflows
// 38 digits.
std::optional<ScaledDecimal> parseDecimal(std::string_view text, int scale);
std::optional<ScaledDecimal> decimalFromValue(const Value& v, int scale);
std::string formatDecimal(const ScaledDecimal& d, int scale);
// Number of decimal digits of the magnitude (0 for zero).
int decimalDigits(Int128 magnitude);

// Orders two numbers written as text ("-12.50", "1e3", " 7 ") by their exact
// value: <0, 0 or >0. Text that is no number sorts after every number, by
// its bytes, so that the order stays total.
int compareDecimalText(std::string_view a, std::string_view b);

} // namespace tds
