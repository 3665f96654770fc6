#pragma once
// The TDS packet layer: messages are split into packets of the negotiated
// size (8-byte header, big-endian length and SPID) and reassembled from them.

#include "testserver/wire.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tds {

// The byte stream packets travel on: the socket itself, or TLS records on it.
class Stream {
public:
    virtual ~Stream() = default;
    // Reads between 1 and n bytes; 0 at the end of the stream. Throws
    // ProtocolError when the stream fails.
    virtual std::size_t receive(std::uint8_t* buf, std::size_t n) = 0;
    // Sends all n bytes; on failure returns false and says why in `error`.
    virtual bool sendAll(const std::uint8_t* data, std::size_t n, std::string& error) = 0;
};

// A connected socket used as it is.
class SocketStream : public Stream {
public:
    explicit SocketStream(int fd) : m_fd(fd) {}
    std::size_t receive(std::uint8_t* buf, std::size_t n) override;
    bool sendAll(const std::uint8_t* data, std::size_t n, std::string& error) override;

private:
    int m_fd;
};

enum PacketType : std::uint8_t {
    PacketSqlBatch = 0x01,
    PacketRpc = 0x03,
    PacketReply = 0x04,
    PacketAttention = 0x06,
    PacketBulk = 0x07,
    PacketTransaction = 0x0E,
    PacketLogin7 = 0x10,
    PacketSspi = 0x11,
    PacketPrelogin = 0x12,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kMinPacketSize = 512;
constexpr std::size_t kMaxPacketSize = 32767;
constexpr std::size_t kDefaultPacketSize = 4096;

// Writes one message at a time to a socket. Tokens are appended with put*();
// whenever a packet is full it goes out with status 0, and endMessage() sends
// the rest with EOM. Only one packet is ever buffered. A failed send marks the
// writer failed and turns every later call into a no-op, so the code that
// produces rows can simply stop when failed() says so.
class PacketWriter {
public:
    explicit PacketWriter(int fd, std::size_t packetSize = kDefaultPacketSize);
    explicit PacketWriter(Stream& stream, std::size_t packetSize = kDefaultPacketSize);

    void setPacketSize(std::size_t size);
    std::size_t packetSize() const { return m_buf.size(); }
    void setSpid(std::uint16_t spid) { m_spid = spid; }
    void setType(std::uint8_t type) { m_type = type; }

    bool failed() const { return m_failed; }
    const std::string& error() const { return m_error; }
    // True when the current message has bytes written (sent or buffered).
    bool inMessage() const { return m_pos > kHeaderSize || m_sentPackets > 0; }

    void putU8(std::uint8_t v) {
        if (m_pos == m_buf.size())
            flushPacket(false);
        m_buf[m_pos++] = v;
    }
    void putU16(std::uint16_t v) {
        std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
        put(b, 2);
    }
    void putU32(std::uint32_t v) {
        std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                             std::uint8_t(v >> 24)};
        put(b, 4);
    }
    void putU64(std::uint64_t v) {
        std::uint8_t b[8];
        for (int i = 0; i < 8; ++i)
            b[i] = std::uint8_t(v >> (8 * i));
        put(b, 8);
    }
    void put(const void* data, std::size_t n) {
        if (n <= m_buf.size() - m_pos) {
            std::memcpy(m_buf.data() + m_pos, data, n);
            m_pos += n;
        } else {
            putSlow(static_cast<const std::uint8_t*>(data), n);
        }
    }
    void put(const Bytes& b) { put(b.data(), b.size()); }
    void fill(std::uint8_t byte, std::size_t n);

    // Sends what is buffered with EOM. Does nothing when the message is empty.
    void endMessage();
    // Sends what is buffered as a packet without EOM, shorter than the packet
    // size: the client gets it now, the message goes on.
    void flush();
    // Sends an empty-bodied or complete message in one go (used for replies
    // that must fit one packet, like PRELOGIN's).
    void sendMessage(std::uint8_t type, const Bytes& payload);

private:
    void putSlow(const std::uint8_t* data, std::size_t n);
    void flushPacket(bool eom);
    void fail(const std::string& why);

    std::unique_ptr<Stream> m_ownStream;
    Stream* m_stream;
    Bytes m_buf;
    std::size_t m_pos = kHeaderSize;
    std::uint16_t m_spid = 0;
    std::uint8_t m_type = PacketReply;
    std::uint8_t m_packetId = 1;
    std::size_t m_sentPackets = 0;
    bool m_failed = false;
    std::string m_error;
};

struct InMessage {
    std::uint8_t type = 0;
    std::uint8_t status = 0; // status of the first packet (reset-connection bits)
    Bytes payload;
};

// Reads whole messages from a socket, reassembling packets until EOM.
class PacketReader {
public:
    // maxMessage bounds what one message may grow to; larger ones are refused.
    explicit PacketReader(int fd, std::size_t maxMessage = 256u << 20);
    explicit PacketReader(Stream& stream, std::size_t maxMessage = 256u << 20);
    // Reads from a byte string instead of a socket (tests, fuzzing).
    PacketReader(const Bytes& stream, std::size_t maxMessage);

    // Returns false on a clean end of stream before a message started; throws
    // ProtocolError on malformed packets, a stream cut mid-message, or errors.
    bool read(InMessage& msg);
    // Bytes received but not yet returned as part of a message.
    std::size_t buffered() const { return m_end - m_begin; }

private:
    bool fill(std::size_t n, bool eofOk);

    std::unique_ptr<Stream> m_ownStream;
    Stream* m_stream = nullptr; // null: reading from the byte string only
    std::size_t m_maxMessage;
    Bytes m_buf;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

// Parses the packets of a byte string into messages (for tests and the fuzzer:
// the same checks as PacketReader without a socket).
std::vector<InMessage> splitMessages(const Bytes& stream, std::size_t maxMessage = 1u << 20);

} // namespace tds
