#include "testserver/engine/decimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tds {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number as sign, significant digits without leading or trailing zeros,
// and the power of ten of the point before the first digit: 0.d1d2... * 10^point.
struct Normalized {
    bool negative = false;
    std::string digits; // empty for zero
    long point = 0;
};

std::optional<Normalized> normalize(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    Normalized n;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        n.negative = s[i++] == '-';
    bool any = false;
    long intDigits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, any = true) {
        if (n.digits.empty() && s[i] == '0')
            continue;
        n.digits += s[i];
        ++intDigits;
    }
    long leadingFractionZeros = 0;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && isDigit(s[i]); ++i, any = true) {
            if (n.digits.empty() && s[i] == '0')
                ++leadingFractionZeros;
            else
                n.digits += s[i];
        }
    }
    if (!any)
        return std::nullopt;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        const bool negExp = i < s.size() && s[i] == '-';
        if (i < s.size() && (s[i] == '-' || s[i] == '+'))
            ++i;
        if (i >= s.size() || !isDigit(s[i]))
            return std::nullopt;
        for (; i < s.size() && isDigit(s[i]); ++i)
            if (exponent < 100000)
                exponent = exponent * 10 + (s[i] - '0');
        exponent = negExp ? -exponent : exponent;
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i != s.size())
        return std::nullopt;
    while (!n.digits.empty() && n.digits.back() == '0')
        n.digits.pop_back();
    if (n.digits.empty())
        return Normalized{};
    n.point = (intDigits > 0 ? intDigits : -leadingFractionZeros) + exponent;
    return n;
}

} // namespace

int compareDecimalText(std::string_view a, std::string_view b) {
    const auto x = normalize(a);
    const auto y = normalize(b);
    if (!x || !y) {
        if (x || y)
            return x ? -1 : 1;
        return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
    }
    auto sign = [](const Normalized& n) { return n.digits.empty() ? 0 : n.negative ? -1 : 1; };
    if (sign(*x) != sign(*y))
        return sign(*x) < sign(*y) ? -1 : 1;
    int magnitude = 0;
    if (x->point != y->point)
        magnitude = x->point < y->point ? -1 : 1;
    else if (const int c = x->digits.compare(y->digits); c != 0)
        magnitude = c < 0 ? -1 : 1;
    return sign(*x) < 0 ? -magnitude : magnitude;
}

int decimalDigits(Int128 m) {
    int n = 0;
    while (m != 0) {
        m /= 10;
        ++n;
    }
    return n;
}

std::optional<ScaledDecimal> parseDecimal(std::string_view s, int scale) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    ScaledDecimal d;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        d.negative = s[i++] == '-';
    // Collect the significant digits and the decimal exponent.
    std::string mant;
    int exp10 = 0;
    bool any = false;
    while (i < s.size() && isDigit(s[i])) {
        mant += s[i++];
        any = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            mant += s[i++];
            --exp10;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        int sign = 1;
        if (i < s.size() && (s[i] == '-' || s[i] == '+'))
            sign = s[i++] == '-' ? -1 : 1;
        int e = 0;
        if (i >= s.size() || !isDigit(s[i]))
            return std::nullopt;
        while (i < s.size() && isDigit(s[i])) {
            e = e * 10 + (s[i++] - '0');
            if (e > 1000)
                return std::nullopt;
        }
        exp10 += sign * e;
    }
    if (i != s.size())
        return std::nullopt;
    // Value = mant * 10^exp10; we want round(mant * 10^(exp10 + scale)).
    const std::size_t firstNonZero = mant.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return ScaledDecimal{};
    mant.erase(0, firstNonZero);
    int shift = exp10 + scale;
    if (shift < 0) {
        const std::size_t drop = std::size_t(-shift);
        if (drop > mant.size()) {
            return ScaledDecimal{};
        }
        const bool roundUp = mant[mant.size() - drop] >= '5';
        mant.erase(mant.size() - drop);
        if (mant.empty())
            mant.assign(1, '0'); // (not = "0": GCC 12 warns falsely about that copy here)
        if (roundUp) {
            int k = int(mant.size()) - 1;
            while (k >= 0 && mant[k] == '9')
                mant[k--] = '0';
            if (k < 0)
                mant.insert(mant.begin(), '1');
            else
                ++mant[k];
        }
        shift = 0;
    }
    if (mant.size() + std::size_t(shift) > 38)
        return std::nullopt;
    mant.append(std::size_t(shift), '0');
    for (char c : mant)
        d.magnitude = d.magnitude * 10 + Int128(c - '0');
    if (d.magnitude == 0)
        d.negative = false;
    return d;
}

std::optional<ScaledDecimal> decimalFromValue(const Value& v, int scale) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        ScaledDecimal d;
        d.negative = *i < 0;
        d.magnitude = d.negative ? Int128(-(*i + 1)) + 1 : Int128(*i);
        for (int k = 0; k < scale; ++k)
            d.magnitude *= 10;
        if (decimalDigits(d.magnitude) > 38)
            return std::nullopt;
        return d;
    }
    if (const auto* x = std::get_if<double>(&v)) {
        if (!std::isfinite(*x))
            return std::nullopt;
        // Fast path for the usual case (money and decimal columns stream
        // doubles): scale in floating point and round, unless the result sits
        // so close to a half that the exact text path must decide.
        if (scale <= 15) {
            static const double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
            const double v = std::fabs(*x) * kPow10[scale];
            if (v < 1e15) {
                const double whole = std::floor(v);
                const double frac = v - whole;
                if (std::fabs(frac - 0.5) > 1e-6) {
                    ScaledDecimal d;
                    d.magnitude = Int128(std::uint64_t(whole)) + (frac > 0.5 ? 1 : 0);
                    d.negative = *x < 0 && d.magnitude != 0;
                    return d;
                }
            }
        }
        // %.17g keeps every bit of the double; the text path then rounds exactly.
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", *x);
        // Shorter form when it reads back the same, so 0.1 stays 0.1.
        for (int prec = 1; prec <= 17; ++prec) {
            char shortBuf[40];
            std::snprintf(shortBuf, sizeof shortBuf, "%.*g", prec, *x);
            if (std::strtod(shortBuf, nullptr) == *x)
                return parseDecimal(shortBuf, scale);
        }
        return parseDecimal(buf, scale);
    }
    if (const auto* t = std::get_if<std::string>(&v))
        return parseDecimal(*t, scale);
    return std::nullopt;
}

std::string formatDecimal(const ScaledDecimal& d, int scale) {
    std::string digitsStr;
    Int128 m = d.magnitude;
    do {
        digitsStr.insert(digitsStr.begin(), char('0' + int(m % 10)));
        m /= 10;
    } while (m != 0);
    if (scale > 0) {
        if (digitsStr.size() <= std::size_t(scale))
            digitsStr.insert(0, std::size_t(scale) + 1 - digitsStr.size(), '0');
        digitsStr.insert(digitsStr.size() - std::size_t(scale), 1, '.');
    }
    if (d.negative && d.magnitude != 0)
        digitsStr.insert(digitsStr.begin(), '-');
    return digitsStr;
}

} // namespace tds
