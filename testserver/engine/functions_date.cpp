// T-SQL date functions: the clock, parts of a date, date arithmetic.

#include "testserver/engine/functions.h"

#include "testserver/engine/values.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace tds::sqlfn {

using namespace sql;

namespace {
std::string nowText(bool utc) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto t = system_clock::to_time_t(now);
    std::tm tm{};
    if (utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    DateTimeParts p;
    p.year = tm.tm_year + 1900;
    p.month = tm.tm_mon + 1;
    p.day = tm.tm_mday;
    p.hour = tm.tm_hour;
    p.minute = tm.tm_min;
    p.second = tm.tm_sec;
    p.nanos =
        static_cast<int>(duration_cast<nanoseconds>(now.time_since_epoch()).count() % 1000000000);
    return formatDateTime(p, SqlType::DateTime);
}

void sqlGetdate(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, nowText(false));
}

void sqlSysdatetime(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, nowText(false));
}

void sqlGetutcdate(sqlite3_context* ctx, int, sqlite3_value**) {
    result(ctx, nowText(true));
}

void sqlIsdate(sqlite3_context* ctx, int, sqlite3_value** a) {
    const auto p = parseDateTime(text(a[0]));
    sqlite3_result_int(ctx, p && p->hasDate ? 1 : 0);
}

void sqlDatepart(sqlite3_context* ctx, int, sqlite3_value** a) {
    const std::string part = toLower(text(a[0]));
    const auto p = parseDateTime(text(a[1]));
    if (!p || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    if (part == "year" || part == "yy" || part == "yyyy")
        return sqlite3_result_int(ctx, p->year);
    if (part == "month" || part == "mm" || part == "m")
        return sqlite3_result_int(ctx, p->month);
    if (part == "day" || part == "dd" || part == "d")
        return sqlite3_result_int(ctx, p->day);
    if (part == "hour" || part == "hh")
        return sqlite3_result_int(ctx, p->hour);
    if (part == "minute" || part == "mi" || part == "n")
        return sqlite3_result_int(ctx, p->minute);
    if (part == "second" || part == "ss" || part == "s")
        return sqlite3_result_int(ctx, p->second);
    if (part == "millisecond" || part == "ms")
        return sqlite3_result_int(ctx, p->nanos / 1000000);
    if (part == "quarter" || part == "qq" || part == "q")
        return sqlite3_result_int(ctx, (p->month - 1) / 3 + 1);
    const double days = toDays(*p);
    const long long whole = static_cast<long long>(std::floor(days));
    if (part == "weekday" || part == "dw")
        return sqlite3_result_int(ctx, static_cast<int>(((whole % 7) + 7 + 1) % 7 + 1));
    if (part == "dayofyear" || part == "dy" || part == "y") {
        DateTimeParts jan = *p;
        jan.month = 1;
        jan.day = 1;
        return sqlite3_result_int(
            ctx, static_cast<int>(whole - static_cast<long long>(std::floor(toDays(jan)))) + 1);
    }
    resultError(ctx, 155, 15, "'" + part + "' is not a recognized datepart option.");
}

void sqlDatename(sqlite3_context* ctx, int, sqlite3_value** a) {
    static const char* months[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
    static const char* days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                 "Friday", "Saturday", "Sunday"};
    const std::string part = toLower(text(a[0]));
    const auto p = parseDateTime(text(a[1]));
    if (!p)
        return sqlite3_result_null(ctx);
    if (part == "month" || part == "mm" || part == "m")
        return result(ctx, std::string(months[p->month - 1]));
    if (part == "weekday" || part == "dw") {
        const long long whole = static_cast<long long>(std::floor(toDays(*p)));
        return result(ctx, std::string(days[((whole % 7) + 7) % 7]));
    }
    DateTimeParts q = *p;
    char buf[32];
    const int v = part == "year" || part == "yy" || part == "yyyy" ? q.year
                  : part == "day" || part == "dd"                  ? q.day
                  : part == "hour"                                 ? q.hour
                  : part == "minute"                               ? q.minute
                                                                   : q.second;
    std::snprintf(buf, sizeof buf, "%d", v);
    result(ctx, std::string(buf));
}

void sqlDateadd(sqlite3_context* ctx, int, sqlite3_value** a) {
    const std::string part = toLower(text(a[0]));
    if (sqlite3_value_type(a[2]) == SQLITE_NULL || sqlite3_value_type(a[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    auto p = parseDateTime(text(a[2]));
    if (!p)
        return resultError(
            ctx, 241, 16,
            "Conversion failed when converting date and/or time from character string.");
    const long long n = sqlite3_value_int64(a[1]);
    if (part == "year" || part == "yy" || part == "yyyy" || part == "month" || part == "mm" ||
        part == "m" || part == "quarter" || part == "qq" || part == "q") {
        long long months = part[0] == 'y' ? n * 12 : part[0] == 'q' ? n * 3 : n;
        long long total = p->year * 12LL + (p->month - 1) + months;
        p->year = static_cast<int>(total / 12);
        p->month = static_cast<int>(total % 12) + 1;
        static const int dim[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        int maxDay = dim[p->month - 1];
        if (p->month == 2 && ((p->year % 4 == 0 && p->year % 100 != 0) || p->year % 400 == 0))
            maxDay = 29;
        p->day = std::min(p->day, maxDay);
        return result(ctx, formatDateTime(*p, SqlType::DateTime));
    }
    double seconds = 0;
    if (part == "day" || part == "dd" || part == "d" || part == "dayofyear" || part == "dy" ||
        part == "y" || part == "weekday" || part == "dw")
        seconds = 86400.0 * n;
    else if (part == "week" || part == "wk" || part == "ww")
        seconds = 7 * 86400.0 * n;
    else if (part == "hour" || part == "hh")
        seconds = 3600.0 * n;
    else if (part == "minute" || part == "mi" || part == "n")
        seconds = 60.0 * n;
    else if (part == "second" || part == "ss" || part == "s")
        seconds = static_cast<double>(n);
    else if (part == "millisecond" || part == "ms")
        seconds = n / 1000.0;
    else
        return resultError(ctx, 155, 15, "'" + part + "' is not a recognized dateadd option.");
    result(ctx, formatDateTime(fromDays(toDays(*p) + seconds / 86400.0), SqlType::DateTime));
}

void sqlDatediff(sqlite3_context* ctx, int, sqlite3_value** a) {
    const std::string part = toLower(text(a[0]));
    const auto x = parseDateTime(text(a[1]));
    const auto y = parseDateTime(text(a[2]));
    if (!x || !y)
        return sqlite3_result_null(ctx);
    if (part == "year" || part == "yy" || part == "yyyy")
        return sqlite3_result_int(ctx, y->year - x->year);
    if (part == "quarter" || part == "qq" || part == "q")
        return sqlite3_result_int(ctx, (y->year * 4 + (y->month - 1) / 3) -
                                           (x->year * 4 + (x->month - 1) / 3));
    if (part == "month" || part == "mm" || part == "m")
        return sqlite3_result_int(ctx, (y->year - x->year) * 12 + y->month - x->month);
    // Counts boundaries crossed, as SQL Server does.
    const double dx = toDays(*x), dy = toDays(*y);
    auto boundaries = [&](double unitDays) {
        return static_cast<sqlite3_int64>(std::floor(dy / unitDays + 1e-9) -
                                          std::floor(dx / unitDays + 1e-9));
    };
    if (part == "day" || part == "dd" || part == "d" || part == "dayofyear" || part == "dy" ||
        part == "y")
        return sqlite3_result_int64(ctx, boundaries(1.0));
    if (part == "week" || part == "wk" || part == "ww")
        return sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(std::floor((dy + 1) / 7.0) -
                                                                    std::floor((dx + 1) / 7.0)));
    if (part == "hour" || part == "hh")
        return sqlite3_result_int64(ctx, boundaries(1.0 / 24));
    if (part == "minute" || part == "mi" || part == "n")
        return sqlite3_result_int64(ctx, boundaries(1.0 / 1440));
    if (part == "second" || part == "ss" || part == "s")
        return sqlite3_result_int64(ctx, boundaries(1.0 / 86400));
    if (part == "millisecond" || part == "ms")
        return sqlite3_result_int64(ctx, std::llround((dy - dx) * 86400000.0));
    resultError(ctx, 155, 15, "'" + part + "' is not a recognized datediff option.");
}

// YEAR, MONTH and DAY: one part of a date, NULL for NULL or what is no date.
void datePartOf(sqlite3_context* ctx, sqlite3_value* arg, int DateTimeParts::*part) {
    const auto p = sqlite3_value_type(arg) == SQLITE_NULL ? std::nullopt : parseDateTime(text(arg));
    if (!p)
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, (*p).*part);
}

void sqlYear(sqlite3_context* ctx, int, sqlite3_value** a) {
    datePartOf(ctx, a[0], &DateTimeParts::year);
}

void sqlMonth(sqlite3_context* ctx, int, sqlite3_value** a) {
    datePartOf(ctx, a[0], &DateTimeParts::month);
}

void sqlDay(sqlite3_context* ctx, int, sqlite3_value** a) {
    datePartOf(ctx, a[0], &DateTimeParts::day);
}

const FunctionDef functions[] = {
    {"getdate", 0, sqlGetdate, false},
    {"sysdatetime", 0, sqlSysdatetime, false},
    {"getutcdate", 0, sqlGetutcdate, false},
    {"isdate", 1, sqlIsdate},
    {"datepart", 2, sqlDatepart},
    {"datename", 2, sqlDatename},
    {"dateadd", 3, sqlDateadd},
    {"datediff", 3, sqlDatediff},
    {"year", 1, sqlYear},
    {"month", 1, sqlMonth},
    {"day", 1, sqlDay},
};

} // namespace

std::span<const FunctionDef> dateFunctions() {
    return functions;
}

} // namespace tds::sqlfn
