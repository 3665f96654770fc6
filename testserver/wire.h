#pragma once
// Byte-level helpers shared by the TDS encoder and decoder: a bounds-checked
// reader over a received message, little/big-endian stores and the text
// conversions between the engine's UTF-8 and the wire's UCS-2 / code page 1252.

#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tds {

// Anything a client sent that does not parse. The connection that received it
// is closed; the message says why, for the one log line.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

// Receives one line per event worth logging (a connection closed for bad input).
using LogFunction = std::function<void(const std::string&)>;

// Reads little-endian fields from a received payload; every read is checked
// against the end and throws ProtocolError instead of running past it.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit ByteReader(const Bytes& b) : ByteReader(b.data(), b.size()) {}

    std::size_t pos() const { return m_pos; }
    std::size_t size() const { return m_size; }
    std::size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    const std::uint8_t* current() const { return m_data + m_pos; }

    void need(std::size_t n) const {
        if (n > m_size - m_pos)
            throw ProtocolError("message truncated");
    }
    void skip(std::size_t n) {
        need(n);
        m_pos += n;
    }
    void seek(std::size_t pos) {
        if (pos > m_size)
            throw ProtocolError("offset beyond message");
        m_pos = pos;
    }
    std::uint8_t peekU8() const {
        need(1);
        return m_data[m_pos];
    }
    std::uint8_t u8() {
        need(1);
        return m_data[m_pos++];
    }
    std::uint16_t u16() {
        need(2);
        std::uint16_t v = std::uint16_t(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    std::uint16_t u16be() {
        need(2);
        std::uint16_t v = std::uint16_t((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    std::uint32_t u32() {
        need(4);
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | m_data[m_pos + i];
        m_pos += 4;
        return v;
    }
    std::uint64_t u64() {
        std::uint64_t lo = u32();
        std::uint64_t hi = u32();
        return lo | (hi << 32);
    }
    const std::uint8_t* bytes(std::size_t n) {
        need(n);
        const std::uint8_t* p = m_data + m_pos;
        m_pos += n;
        return p;
    }
    // n UCS-2 characters, returned as UTF-8.
    std::string ucs2(std::size_t chars);

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Appends little-endian fields to a byte vector (for the small, length-prefixed
// tokens that are composed before they are sent).
inline void putU8(Bytes& b, std::uint8_t v) {
    b.push_back(v);
}
inline void putU16(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
inline void putU16be(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}
inline void putU32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}
inline void putU64(Bytes& b, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}

// ---- Text ---------------------------------------------------------------

// Decodes one code point from UTF-8 at s[i], advancing i; malformed input
// yields U+FFFD and consumes one byte, so every byte string converts.
char32_t nextCodePoint(std::string_view s, std::size_t& i);
void appendUtf8(std::string& out, char32_t cp);

std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);
// Number of UTF-16 code units the UTF-8 text needs.
std::size_t utf16Length(std::string_view s);
// Appends the UCS-2 (UTF-16LE) form of s.
void appendUcs2(Bytes& b, std::string_view s);
void appendUcs2(Bytes& b, std::u16string_view s);

// Code page 1252, the code page of the server's default collation.
// Characters it lacks become '?', as SQL Server converts them.
std::uint8_t toCp1252(char32_t cp);
char32_t fromCp1252(std::uint8_t byte);
std::string cp1252ToUtf8(const std::uint8_t* data, std::size_t n);
// Number of code points of the UTF-8 text (= its length in code page 1252).
std::size_t codePointCount(std::string_view s);

} // namespace tds
