#include "testserver/engine/values.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace tds::sql {

namespace {

bool digits(std::string_view s, std::size_t at, std::size_t n, int& out) {
    if (at + n > s.size())
        return false;
    int v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = s[at + i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

// Reads 1-2 (or more for years) digits starting at i; advances i.
bool number(std::string_view s, std::size_t& i, int maxDigits, int& out) {
    std::size_t start = i;
    int v = 0;
    while (i < s.size() && i - start < static_cast<std::size_t>(maxDigits) &&
           std::isdigit(static_cast<unsigned char>(s[i])))
        v = v * 10 + (s[i++] - '0');
    if (i == start)
        return false;
    out = v;
    return true;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : d[m - 1];
}

bool validDate(const DateTimeParts& p) {
    return p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
           p.day <= daysInMonth(p.year, p.month);
}

bool parseTime(std::string_view s, std::size_t& i, DateTimeParts& p) {
    if (!number(s, i, 2, p.hour) || i >= s.size() || s[i] != ':')
        return false;
    ++i;
    if (!number(s, i, 2, p.minute))
        return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!number(s, i, 2, p.second))
            return false;
        if (i < s.size() && (s[i] == '.' || s[i] == ':')) {
            ++i;
            int scale = 100000000;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
                p.nanos += (s[i] - '0') * scale;
                scale /= 10;
                ++i;
            }
        }
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i + 1 < s.size() && (s[i] == 'A' || s[i] == 'a' || s[i] == 'P' || s[i] == 'p') &&
        (s[i + 1] == 'M' || s[i + 1] == 'm')) {
        const bool pm = s[i] == 'P' || s[i] == 'p';
        if (p.hour == 12)
            p.hour = 0;
        if (pm)
            p.hour += 12;
        i += 2;
    }
    return p.hour < 24 && p.minute < 60 && p.second < 60;
}

long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

} // namespace

std::optional<DateTimeParts> parseDateTime(std::string_view in) {
    std::string_view s = in;
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    DateTimeParts p;
    std::size_t i = 0;
    int a = 0;
    if (s.empty())
        return std::nullopt;
    // A time alone.
    if (s.size() >= 3 && (s[1] == ':' || s[2] == ':')) {
        p.hasDate = false;
        if (!parseTime(s, i, p) || i != s.size())
            return std::nullopt;
        return p;
    }
    if (s.size() >= 8 && digits(s, 0, 8, a) && (s.size() == 8 || s[8] == ' ' || s[8] == 'T')) {
        p.year = a / 10000;
        p.month = a / 100 % 100;
        p.day = a % 100;
        i = 8;
    } else if (s.size() >= 10 && digits(s, 0, 4, p.year) &&
               (s[4] == '-' || s[4] == '/' || s[4] == '.')) {
        i = 5;
        if (!number(s, i, 2, p.month) || i >= s.size() || s[i] != s[4])
            return std::nullopt;
        ++i;
        if (!number(s, i, 2, p.day))
            return std::nullopt;
    } else {
        // d.m.yyyy (German) or m/d/yyyy (us_english).
        int x = 0, y = 0;
        if (!number(s, i, 2, x) || i >= s.size() || (s[i] != '.' && s[i] != '/' && s[i] != '-'))
            return std::nullopt;
        const char sep = s[i++];
        if (!number(s, i, 2, y) || i >= s.size() || s[i] != sep)
            return std::nullopt;
        ++i;
        if (!number(s, i, 4, p.year))
            return std::nullopt;
        if (p.year < 100)
            p.year += p.year < 50 ? 2000 : 1900;
        if (sep == '.') {
            p.day = x;
            p.month = y;
        } else {
            p.month = x;
            p.day = y;
        }
    }
    if (!validDate(p))
        return std::nullopt;
    if (i < s.size()) {
        if (s[i] != ' ' && s[i] != 'T')
            return std::nullopt;
        while (i < s.size() && (s[i] == ' ' || s[i] == 'T'))
            ++i;
        if (i < s.size() && !parseTime(s, i, p))
            return std::nullopt;
        if (i != s.size())
            return std::nullopt;
    }
    return p;
}

std::string formatDateTime(const DateTimeParts& in, SqlType type, int timeScale) {
    DateTimeParts p = in;
    char buf[64];
    auto carry = [&](long long extraMs) {
        // Adds milliseconds that rounding produced past the second.
        long long total =
            ((static_cast<long long>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + extraMs;
        long long days = daysFromCivil(p.year, p.month, p.day);
        while (total >= 86400000LL) {
            total -= 86400000LL;
            ++days;
        }
        civilFromDays(days, p.year, p.month, p.day);
        p.hour = static_cast<int>(total / 3600000);
        p.minute = static_cast<int>(total / 60000 % 60);
        p.second = static_cast<int>(total / 1000 % 60);
        return static_cast<int>(total % 1000);
    };
    switch (type) {
    case SqlType::Date:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
        return buf;
    case SqlType::SmallDateTime: {
        // Rounded to the minute.
        const bool up = p.second >= 30;
        p.second = 0;
        p.nanos = 0;
        if (up)
            carry(60000);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:00", p.year, p.month, p.day,
                      p.hour, p.minute);
        return buf;
    }
    case SqlType::Time:
    case SqlType::DateTime2: {
        // Rounded half up to the scale's digits; the carry may reach the
        // next day (a time alone wraps round to midnight).
        const int scale = std::clamp(timeScale, 0, 7);
        long long unit = 100; // nanoseconds per step of the last kept digit
        for (int k = scale; k < 7; ++k)
            unit *= 10;
        long long nanos = (p.nanos + unit / 2) / unit * unit;
        if (nanos >= 1000000000LL) {
            nanos -= 1000000000LL;
            carry(1000);
        }
        char frac[24];
        std::snprintf(frac, sizeof frac, "%09lld", nanos);
        std::string r;
        if (type == SqlType::DateTime2) {
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d ", p.year, p.month, p.day);
            r = buf;
        }
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
        r += buf;
        if (scale > 0) {
            r += '.';
            r.append(frac, static_cast<std::size_t>(scale));
        }
        return r;
    }
    default: {
        // datetime keeps 1/300 s: .000, .003, .007, ...
        const long long ticks = std::llround(p.nanos / 1e9 * 300.0);
        const long long ms = std::llround(ticks * 1000.0 / 300.0);
        const int rest = carry(ms);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                      p.hour, p.minute, p.second, rest);
        return buf;
    }
    }
}

DateTimeParts fromDays(double days) {
    DateTimeParts p;
    const double whole = std::floor(days);
    long long ms = std::llround((days - whole) * 86400000.0);
    long long d = static_cast<long long>(whole) + daysFromCivil(1900, 1, 1);
    if (ms >= 86400000LL) {
        ms -= 86400000LL;
        ++d;
    }
    civilFromDays(d, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.nanos = static_cast<int>(ms % 1000) * 1000000;
    return p;
}

double toDays(const DateTimeParts& p) {
    const long long d = daysFromCivil(p.year, p.month, p.day) - daysFromCivil(1900, 1, 1);
    return static_cast<double>(d) +
           ((p.hour * 60 + p.minute) * 60 + p.second + p.nanos / 1e9) / 86400.0;
}

bool normalizeDateTime(std::string& s, SqlType type, int timeScale) {
    if (type == SqlType::DateTimeOffset) {
        // The local time at the column's scale, then the offset as it was given.
        std::string_view t = s;
        while (!t.empty() && t.back() == ' ')
            t.remove_suffix(1);
        std::string offset = "+00:00";
        const std::size_t n = t.size();
        if (n > 6 && (t[n - 6] == '+' || t[n - 6] == '-') && t[n - 3] == ':') {
            offset = std::string(t.substr(n - 6));
            t = t.substr(0, n - 6);
        }
        auto p = parseDateTime(t);
        if (!p || !p->hasDate)
            return false;
        s = formatDateTime(*p, SqlType::DateTime2, timeScale) + " " + offset;
        return true;
    }
    // The form we store is already right: nothing to do on the hot path.
    // (Every millisecond value on datetime's 1/300 s grid ends in 0, 3 or 7.)
    if (type == SqlType::DateTime && s.size() == 23 && s[4] == '-' && s[10] == ' ' &&
        s[19] == '.' && (s[22] == '0' || s[22] == '3' || s[22] == '7'))
        return true;
    if (type == SqlType::Date && s.size() == 10 && s[4] == '-' && s[7] == '-')
        return true;
    auto p = parseDateTime(s);
    if (!p)
        return false;
    s = formatDateTime(*p, type, timeScale);
    return true;
}

std::size_t utf16Length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

std::size_t utf8PrefixForUnits(std::string_view s, std::size_t units) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) == 0x80)
            continue;
        const std::size_t w = c >= 0xF0 ? 2 : 1;
        if (n + w > units)
            return i;
        n += w;
    }
    return s.size();
}

std::string guidText(const unsigned char* b) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

std::optional<Blob> guidBytes(std::string_view t) {
    if (t.size() == 38 && t.front() == '{' && t.back() == '}')
        t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
        return std::nullopt;
    std::string hex;
    for (char c : t)
        if (c != '-') {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            hex += c;
        }
    Blob raw(16);
    for (int i = 0; i < 16; ++i)
        raw[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(i * 2, 2), nullptr, 16));
    return Blob{raw[3], raw[2], raw[1],  raw[0],  raw[5],  raw[4],  raw[7],  raw[6],
                raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
}

namespace {

// Microseconds since 1970 at the first use: later runs start above the values
// an earlier run handed out unless it gave out more than a million a second.
std::atomic<std::uint64_t>& rowVersionCounter() {
    static std::atomic<std::uint64_t> counter{
        std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count())};
    return counter;
}

Blob rowVersionBytes(std::uint64_t v) {
    Blob b(8);
    for (int k = 0; k < 8; ++k)
        b[std::size_t(k)] = std::uint8_t(v >> (8 * (7 - k)));
    return b;
}

} // namespace

Blob nextRowVersion() {
    return rowVersionBytes(++rowVersionCounter());
}

Blob lastRowVersion() {
    return rowVersionBytes(rowVersionCounter().load());
}

namespace {

// Days and nanoseconds of the UTC moment a date/time text names.
std::optional<std::pair<long long, long long>> momentOf(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    int offsetMinutes = 0;
    const std::size_t n = s.size();
    if (n > 6 && (s[n - 6] == '+' || s[n - 6] == '-') && s[n - 3] == ':') {
        int h = 0, m = 0;
        if (!digits(s, n - 5, 2, h) || !digits(s, n - 2, 2, m))
            return std::nullopt;
        offsetMinutes = (h * 60 + m) * (s[n - 6] == '-' ? -1 : 1);
        s = s.substr(0, n - 6);
    }
    const auto p = parseDateTime(s);
    if (!p)
        return std::nullopt;
    long long days = p->hasDate ? daysFromCivil(p->year, p->month, p->day) : 0;
    long long nanos =
        ((p->hour * 60LL + p->minute - offsetMinutes) * 60 + p->second) * 1000000000LL + p->nanos;
    constexpr long long dayNanos = 86400LL * 1000000000LL;
    days += nanos / dayNanos - (nanos % dayNanos < 0 ? 1 : 0);
    nanos = (nanos % dayNanos + dayNanos) % dayNanos;
    return std::pair{days, nanos};
}

} // namespace

int compareDateTimeText(std::string_view a, std::string_view b) {
    const auto x = momentOf(a), y = momentOf(b);
    if (x && y)
        return *x < *y ? -1 : *y < *x ? 1 : 0;
    if (x || y)
        return x ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool isDecimalText(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    bool any = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        any = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            any = true;
        }
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    return any && i == s.size();
}

} // namespace tds::sql
