#include "testserver/wire.h"

namespace tds {

namespace {

// Code points of bytes 0x80..0x9F in code page 1252; 0 = unassigned.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

std::string ByteReader::ucs2(std::size_t chars) {
    if (chars > remaining() / 2)
        throw ProtocolError("string beyond message");
    std::u16string s(chars, u'\0');
    for (std::size_t i = 0; i < chars; ++i)
        s[i] = char16_t(m_data[m_pos + 2 * i] | (m_data[m_pos + 2 * i + 1] << 8));
    m_pos += 2 * chars;
    return utf16ToUtf8(s);
}

char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = nextCodePoint(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::size_t utf16Length(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        // ASCII runs are the common case; skip the decoder for them.
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i, ++n;
            continue;
        }
        n += nextCodePoint(s, i) >= 0x10000 ? 2 : 1;
    }
    return n;
}

void appendUcs2(Bytes& b, std::u16string_view s) {
    for (char16_t c : s)
        putU16(b, c);
}

void appendUcs2(Bytes& b, std::string_view s) {
    appendUcs2(b, utf8ToUtf16(s));
}

std::uint8_t toCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return std::uint8_t(cp);
    for (int k = 0; k < 32; ++k)
        if (kCp1252High[k] != 0 && kCp1252High[k] == cp)
            return std::uint8_t(0x80 + k);
    return '?';
}

char32_t fromCp1252(std::uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0)
        return kCp1252High[byte - 0x80] ? kCp1252High[byte - 0x80] : 0xFFFD;
    return byte;
}

std::string cp1252ToUtf8(const std::uint8_t* data, std::size_t n) {
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        appendUtf8(out, fromCp1252(data[i]));
    return out;
}

std::size_t codePointCount(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        else
            nextCodePoint(s, i);
        ++n;
    }
    return n;
}

} // namespace tds
