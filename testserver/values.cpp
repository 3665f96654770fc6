#include "testserver/values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tds {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerDay = 86400 * kTicksPerSecond;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads exactly n digits at s[i].
bool digits(std::string_view s, std::size_t& i, int n, int& out) {
    out = 0;
    for (int k = 0; k < n; ++k, ++i) {
        if (i >= s.size() || !isDigit(s[i]))
            return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

bool parseTimePart(std::string_view s, std::size_t& i, std::int64_t& ticks) {
    int h = 0, m = 0, sec = 0;
    std::size_t start = i;
    // One- or two-digit hour.
    if (!digits(s, i, 1, h))
        return false;
    if (i < s.size() && isDigit(s[i]))
        h = h * 10 + (s[i++] - '0');
    (void)start;
    if (i >= s.size() || s[i] != ':')
        return false;
    ++i;
    if (!digits(s, i, 2, m))
        return false;
    std::int64_t frac = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!digits(s, i, 2, sec))
            return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            int n = 0;
            while (i < s.size() && isDigit(s[i])) {
                if (n < 7) {
                    frac = frac * 10 + (s[i] - '0');
                    ++n;
                }
                ++i;
            }
            for (; n < 7; ++n)
                frac *= 10;
        }
    }
    if (h > 23 || m > 59 || sec > 59)
        return false;
    ticks = (std::int64_t(h) * 3600 + m * 60 + sec) * kTicksPerSecond + frac;
    return true;
}

int daysInMonth(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return d[m - 1];
}

} // namespace

std::int64_t daysFromCivil(int y, int m, int d) {
    // Howard Hinnant's days_from_civil, shifted to 0001-01-01.
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * unsigned(m + (m > 2 ? -3 : 9)) + 2) / 5 + unsigned(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t unixDays = era * 146097 + std::int64_t(doe) - 719468;
    return unixDays + 719162;
}

void civilFromDays(std::int64_t days, int& year, int& month, int& day) {
    const std::int64_t z = days - 719162 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = std::int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(y + (month <= 2));
}

std::optional<DateTimeValue> parseDateTime(std::string_view s) {
    // The form datetime values are stored in, "yyyy-mm-dd hh:mm:ss.fff",
    // read without the general parser. Rows in a row often share their
    // date, so the last date read is remembered.
    if (s.size() == 23 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' &&
        s[16] == ':' && s[19] == '.') {
        auto number = [&](std::size_t at, int width, int& out) {
            out = 0;
            for (int j = 0; j < width; ++j) {
                const char c = s[at + std::size_t(j)];
                if (!isDigit(c))
                    return false;
                out = out * 10 + (c - '0');
            }
            return true;
        };
        struct DateMemo {
            char text[10];
            std::int64_t days = 0;
            bool valid = false;
        };
        thread_local DateMemo memo;
        bool dateOk = memo.valid && std::memcmp(memo.text, s.data(), 10) == 0;
        if (!dateOk) {
            int y, m, d;
            dateOk = number(0, 4, y) && number(5, 2, m) && number(8, 2, d) && y >= 1 && m >= 1 &&
                     m <= 12 && d >= 1 && d <= daysInMonth(y, m);
            if (dateOk) {
                std::memcpy(memo.text, s.data(), 10);
                memo.days = daysFromCivil(y, m, d);
                memo.valid = true;
            }
        }
        int h, mi, sec, ms;
        if (dateOk && number(11, 2, h) && number(14, 2, mi) && number(17, 2, sec) &&
            number(20, 3, ms) && h <= 23 && mi <= 59 && sec <= 59) {
            DateTimeValue v;
            v.days = memo.days;
            v.hasDate = true;
            v.ticks = (std::int64_t(h) * 3600 + mi * 60 + sec) * kTicksPerSecond +
                      std::int64_t(ms) * 10'000;
            v.hasTime = true;
            return v;
        }
    }
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    DateTimeValue v;
    std::size_t i = 0;
    // A date starts with four digits and a dash; otherwise try a bare time.
    if (s.size() >= 10 && s[4] == '-') {
        int y, m, d;
        if (!digits(s, i, 4, y) || s[i++] != '-' || !digits(s, i, 2, m) || i >= s.size() ||
            s[i++] != '-' || !digits(s, i, 2, d))
            return std::nullopt;
        if (y < 1 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
            return std::nullopt;
        v.days = daysFromCivil(y, m, d);
        v.hasDate = true;
        if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
            ++i;
            if (!parseTimePart(s, i, v.ticks))
                return std::nullopt;
            v.hasTime = true;
        }
    } else {
        if (!parseTimePart(s, i, v.ticks))
            return std::nullopt;
        v.hasTime = true;
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        const int sign = s[i++] == '-' ? -1 : 1;
        int oh, om;
        if (!digits(s, i, 2, oh) || i >= s.size() || s[i++] != ':' || !digits(s, i, 2, om))
            return std::nullopt;
        v.offsetMinutes = sign * (oh * 60 + om);
        v.hasOffset = true;
    } else if (i < s.size() && s[i] == 'Z') {
        ++i;
        v.hasOffset = true;
    }
    if (i != s.size())
        return std::nullopt;
    return v;
}

std::string formatDate(std::int64_t days) {
    int y, m, d;
    civilFromDays(days, y, m, d);
    char buf[40]; // room for any int, so the compiler can see nothing is cut
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

std::string formatTime(std::int64_t ticks, int fractionDigits) {
    const std::int64_t secs = ticks / kTicksPerSecond;
    std::int64_t frac = ticks % kTicksPerSecond;
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(secs / 3600 % 100),
                          int(secs / 60 % 60), int(secs % 60));
    fractionDigits = fractionDigits < 0 ? 0 : fractionDigits > 7 ? 7 : fractionDigits;
    if (fractionDigits > 0) {
        for (int k = fractionDigits; k < 7; ++k)
            frac /= 10;
        std::snprintf(buf + n, sizeof buf - n, ".%0*lld", fractionDigits, (long long)frac);
    }
    return buf;
}

std::string formatDateTime(std::int64_t days, std::int64_t ticks, int fractionDigits) {
    return formatDate(days) + " " + formatTime(ticks, fractionDigits);
}

LegacyDateTime toLegacyDateTime(const DateTimeValue& v) {
    std::int64_t days = v.hasDate ? v.days - kDays1900 : 0;
    // 1/300 s ticks, rounded to the nearest.
    std::int64_t t300 = (v.ticks * 3 + 50'000) / 100'000;
    if (t300 >= 300LL * 86400) {
        t300 -= 300LL * 86400;
        ++days;
    }
    return {std::int32_t(days), std::uint32_t(t300)};
}

SmallDateTime toSmallDateTime(const DateTimeValue& v) {
    std::int64_t days = v.hasDate ? v.days - kDays1900 : 0;
    std::int64_t minutes = (v.ticks + 30 * kTicksPerSecond) / (60 * kTicksPerSecond);
    if (minutes >= 1440) {
        minutes -= 1440;
        ++days;
    }
    if (days < 0)
        days = 0;
    if (days > 65535)
        days = 65535;
    return {std::uint16_t(days), std::uint16_t(minutes)};
}

bool parseGuid(std::string_view s, std::uint8_t out[16]) {
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return false;
    std::uint8_t raw[16];
    int n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '-')
            continue;
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        const int hi = hex(s[i]);
        const int lo = i + 1 < s.size() ? hex(s[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= 16)
            return false;
        raw[n++] = std::uint8_t(hi * 16 + lo);
        ++i;
    }
    if (n != 16)
        return false;
    // Data1 (4), Data2 (2), Data3 (2) little-endian; Data4 as is.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int k = 0; k < 16; ++k)
        out[k] = raw[order[k]];
    return true;
}

std::string formatGuid(const std::uint8_t b[16]) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

std::int64_t valueToInt(const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return *i;
    if (const auto* x = std::get_if<double>(&v)) {
        if (std::isnan(*x))
            return 0;
        if (*x >= 9.2233720368547758e18)
            return INT64_MAX;
        if (*x <= -9.2233720368547758e18)
            return INT64_MIN;
        return std::int64_t(*x);
    }
    if (const auto* t = std::get_if<std::string>(&v)) {
        const char* p = t->c_str();
        char* end = nullptr;
        const long long n = std::strtoll(p, &end, 10);
        if (end && *end == '.')
            return std::int64_t(std::strtod(p, nullptr));
        return n;
    }
    return 0;
}

double valueToDouble(const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return double(*i);
    if (const auto* x = std::get_if<double>(&v))
        return *x;
    if (const auto* t = std::get_if<std::string>(&v))
        return std::strtod(t->c_str(), nullptr);
    return 0.0;
}

std::optional<DateTimeValue> valueToDateTime(const Value& v) {
    if (const auto* t = std::get_if<std::string>(&v))
        return parseDateTime(*t);
    // A number counts days since 1900-01-01, as SQL Server converts numbers to datetime.
    if (std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v)) {
        const double x = valueToDouble(v);
        if (!std::isfinite(x) || x < -693595.0 || x > 2958463.0)
            return std::nullopt;
        DateTimeValue d;
        const double whole = std::floor(x);
        d.days = kDays1900 + std::int64_t(whole);
        d.ticks = std::int64_t(std::llround((x - whole) * double(kTicksPerDay)));
        if (d.ticks >= kTicksPerDay) {
            d.ticks -= kTicksPerDay;
            ++d.days;
        }
        d.hasDate = d.hasTime = true;
        return d;
    }
    return std::nullopt;
}

} // namespace tds
