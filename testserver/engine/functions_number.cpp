// CONVERT and the numeric T-SQL functions.

#include "testserver/engine/functions.h"

#include "testserver/engine/decimal.h"

#include "testserver/engine/types.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tds::sqlfn {

using namespace sql;

namespace {

// tds_convert(type, value [, style [, base type]]): CONVERT and CAST as the
// translator writes them. A conversion to sql_variant gets the type of the
// value converted as the fourth argument when the translator knows it.
// tds_try_convert(type, value [, style]), for TRY_CAST and TRY_CONVERT, gives
// NULL where the value does not convert; a conversion the types never allow
// is still 529.
void convert(sqlite3_context* ctx, int n, sqlite3_value** a, bool tryForm) {
    const std::string typeText = text(a[0]);
    const auto t = parseDeclType(typeText);
    if (!t)
        return resultError(ctx, 243, 16, "Type " + typeText + " is not a defined system type.");
    ConvertError e;
    const Value v = t->type == SqlType::SqlVariant
                        ? toVariant(n > 3 ? text(a[3]) : std::string(), argValue(a[1]), &e)
                        : convertValue(*t, argValue(a[1]), n > 2 ? sqlite3_value_int(a[2]) : -1,
                                       typeText.find('(') != std::string::npos, &e);
    if (tryForm && !e.text.empty() && e.number != 529)
        return sqlite3_result_null(ctx);
    if (!e.text.empty())
        return resultError(ctx, e.number, 16, e.text);
    result(ctx, v);
}

void sqlTdsConvert(sqlite3_context* ctx, int n, sqlite3_value** a) {
    convert(ctx, n, a, false);
}

void sqlTryConvert(sqlite3_context* ctx, int n, sqlite3_value** a) {
    convert(ctx, n, a, true);
}

// CHOOSE(index, value1, value2, ...): the value at that place, NULL outside.
void sqlChoose(sqlite3_context* ctx, int n, sqlite3_value** a) {
    if (n < 2)
        return resultError(ctx, 174, 15, "The choose function requires 2 or more arguments.");
    if (sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const std::int64_t k = sqlite3_value_int64(a[0]);
    if (k < 1 || k >= n)
        return sqlite3_result_null(ctx);
    sqlite3_result_value(ctx, a[k]);
}

// tds_check_value(type, value): NULL when the value fits the column type,
// else the error SQL Server gives for storing it there.
void sqlCheckValue(sqlite3_context* ctx, int, sqlite3_value** a) {
    const auto t = parseDeclType(text(a[0]));
    ConvertError e;
    if (t)
        convertValue(*t, argValue(a[1]), -1, true, &e);
    if (e.text.empty())
        return sqlite3_result_null(ctx);
    if (e.number == 8115)
        e.text = "Arithmetic overflow error converting " +
                 (t->type == SqlType::Decimal
                      ? std::string("numeric to data type numeric.")
                      : "expression to data type " + baseTypeName(t->type) + ".");
    resultError(ctx, e.number, 16, e.text);
}

// tds_decimal_excess(value, scale): whether stored decimal text has more
// decimals than its column's scale (after trailing zeros), or an exponent.
void sqlDecimalExcess(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) != SQLITE_TEXT)
        return sqlite3_result_int(ctx, sqlite3_value_type(a[0]) == SQLITE_FLOAT);
    const std::string s = text(a[0]);
    if (s.find_first_of("eE") != std::string::npos)
        return sqlite3_result_int(ctx, 1);
    const std::size_t dot = s.find('.');
    if (dot == std::string::npos)
        return sqlite3_result_int(ctx, 0);
    const std::size_t last = s.find_last_not_of("0 ");
    const std::size_t decimals = last == std::string::npos || last < dot ? 0 : last - dot;
    sqlite3_result_int(ctx, decimals > std::size_t(sqlite3_value_int(a[1])));
}

// tds_decimal_round(value, scale): the value rounded (half away from zero)
// to the scale, as decimal text; what is no number stays as it is.
void sqlDecimalRound(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int scale = sqlite3_value_int(a[1]);
    const auto d = decimalFromValue(argValue(a[0]), scale);
    if (!d)
        return sqlite3_result_value(ctx, a[0]);
    result(ctx, formatDecimal(*d, scale));
}

void sqlIsnumeric(sqlite3_context* ctx, int, sqlite3_value** a) {
    const int t = sqlite3_value_type(a[0]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT)
        return sqlite3_result_int(ctx, 1);
    std::string s = text(a[0]);
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    sqlite3_result_int(ctx, t == SQLITE_TEXT && !s.empty() && end && *end == 0 ? 1 : 0);
}

void sqlSquare(sqlite3_context* ctx, int, sqlite3_value** a) {
    const double d = sqlite3_value_double(a[0]);
    sqlite3_result_double(ctx, d * d);
}

void sqlSign(sqlite3_context* ctx, int, sqlite3_value** a) {
    if (sqlite3_value_type(a[0]) == SQLITE_INTEGER) {
        const auto v = sqlite3_value_int64(a[0]);
        return sqlite3_result_int(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
    }
    const double d = sqlite3_value_double(a[0]);
    sqlite3_result_double(ctx, d > 0 ? 1.0 : d < 0 ? -1.0 : 0.0);
}

void sqlStr(sqlite3_context* ctx, int n, sqlite3_value** a) {
    if (n < 1 || sqlite3_value_type(a[0]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    const int len = n > 1 ? sqlite3_value_int(a[1]) : 10;
    const int dec = n > 2 ? sqlite3_value_int(a[2]) : 0;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%*.*f", std::clamp(len, 1, 100), std::clamp(dec, 0, 16),
                  sqlite3_value_double(a[0]));
    std::string r = buf;
    if (static_cast<int>(r.size()) > len)
        r = std::string(static_cast<std::size_t>(std::max(len, 0)), '*');
    result(ctx, r);
}

// tds_divide(a, b) and tds_remainder(a, b): the / and % of integers, floats
// and operands of unknown type. SQLite gives NULL for a zero divisor where SQL
// Server fails the statement with 8134; everything else is computed as SQLite
// does (integers truncate, text counts as the number it spells).
void divide(sqlite3_context* ctx, sqlite3_value** a, bool remainder) {
    if (sqlite3_value_type(a[0]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    sqlite3_value* x = sqlite3_value_dup(a[0]);
    sqlite3_value* y = sqlite3_value_dup(a[1]);
    const int tx = sqlite3_value_numeric_type(x);
    const int ty = sqlite3_value_numeric_type(y);
    const bool integers = tx == SQLITE_INTEGER && ty == SQLITE_INTEGER;
    const std::int64_t ix = sqlite3_value_int64(x), iy = sqlite3_value_int64(y);
    const double dx = sqlite3_value_double(x), dy = sqlite3_value_double(y);
    sqlite3_value_free(x);
    sqlite3_value_free(y);
    if (integers ? iy == 0 : dy == 0.0)
        return resultError(ctx, 8134, 16, "Divide by zero error encountered.");
    if (integers) {
        if (ix == INT64_MIN && iy == -1)
            return resultError(ctx, 8115, 16,
                               "Arithmetic overflow error converting expression to data type "
                               "bigint.");
        return sqlite3_result_int64(ctx, remainder ? ix % iy : ix / iy);
    }
    sqlite3_result_double(ctx, remainder ? std::fmod(dx, dy) : dx / dy);
}

void sqlDivide(sqlite3_context* ctx, int, sqlite3_value** a) {
    divide(ctx, a, false);
}

void sqlRemainder(sqlite3_context* ctx, int, sqlite3_value** a) {
    divide(ctx, a, true);
}

const FunctionDef functions[] = {
    {"tds_divide", 2, sqlDivide},
    {"tds_remainder", 2, sqlRemainder},
    {"tds_convert", 2, sqlTdsConvert},
    {"tds_convert", 3, sqlTdsConvert},
    {"tds_convert", 4, sqlTdsConvert},
    {"tds_try_convert", 2, sqlTryConvert},
    {"tds_try_convert", 3, sqlTryConvert},
    {"choose", -1, sqlChoose},
    {"tds_check_value", 2, sqlCheckValue},
    {"tds_decimal_excess", 2, sqlDecimalExcess},
    {"tds_decimal_round", 2, sqlDecimalRound},
    {"isnumeric", 1, sqlIsnumeric},
    {"square", 1, sqlSquare},
    {"sign", 1, sqlSign},
    {"str", -1, sqlStr},
};

} // namespace

std::span<const FunctionDef> numberFunctions() {
    return functions;
}

} // namespace tds::sqlfn
