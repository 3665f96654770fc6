#include "testserver/packet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace tds {

std::size_t SocketStream::receive(std::uint8_t* buf, std::size_t n) {
    for (;;) {
        const ssize_t got = ::recv(m_fd, buf, n, 0);
        if (got >= 0)
            return std::size_t(got);
        if (errno != EINTR)
            throw ProtocolError(std::string("receive failed: ") + std::strerror(errno));
    }
}

bool SocketStream::sendAll(const std::uint8_t* data, std::size_t n, std::string& error) {
    std::size_t off = 0;
    while (off < n) {
        const ssize_t sent = ::send(m_fd, data + off, n - off, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            error = std::string("send failed: ") + std::strerror(errno);
            return false;
        }
        off += std::size_t(sent);
    }
    return true;
}

// ---------------------------------------------------------------------------

PacketWriter::PacketWriter(int fd, std::size_t packetSize)
    : m_ownStream(std::make_unique<SocketStream>(fd)), m_stream(m_ownStream.get()) {
    setPacketSize(packetSize);
}

PacketWriter::PacketWriter(Stream& stream, std::size_t packetSize) : m_stream(&stream) {
    setPacketSize(packetSize);
}

void PacketWriter::setPacketSize(std::size_t size) {
    size = std::clamp(size, kMinPacketSize, kMaxPacketSize);
    // Keep what is buffered; a size change only happens between messages.
    m_buf.resize(size);
    if (m_pos > size)
        m_pos = size;
}

void PacketWriter::fill(std::uint8_t byte, std::size_t n) {
    while (n > 0) {
        if (m_pos == m_buf.size())
            flushPacket(false);
        const std::size_t k = std::min(n, m_buf.size() - m_pos);
        std::memset(m_buf.data() + m_pos, byte, k);
        m_pos += k;
        n -= k;
    }
}

void PacketWriter::putSlow(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        if (m_pos == m_buf.size())
            flushPacket(false);
        const std::size_t k = std::min(n, m_buf.size() - m_pos);
        std::memcpy(m_buf.data() + m_pos, data, k);
        m_pos += k;
        data += k;
        n -= k;
    }
}

void PacketWriter::fail(const std::string& why) {
    if (!m_failed) {
        m_failed = true;
        m_error = why;
    }
}

void PacketWriter::flushPacket(bool eom) {
    const std::size_t len = m_pos;
    m_buf[0] = m_type;
    m_buf[1] = eom ? 0x01 : 0x00;
    m_buf[2] = std::uint8_t(len >> 8);
    m_buf[3] = std::uint8_t(len);
    m_buf[4] = std::uint8_t(m_spid >> 8);
    m_buf[5] = std::uint8_t(m_spid);
    m_buf[6] = m_packetId++;
    m_buf[7] = 0;
    m_pos = kHeaderSize;
    if (m_failed)
        return;
    std::string error;
    if (!m_stream->sendAll(m_buf.data(), len, error)) {
        fail(error);
        return;
    }
    ++m_sentPackets;
    if (eom) {
        m_sentPackets = 0;
        m_packetId = 1;
    }
}

void PacketWriter::flush() {
    if (m_pos > kHeaderSize)
        flushPacket(false);
}

void PacketWriter::endMessage() {
    if (!inMessage())
        return;
    flushPacket(true);
}

void PacketWriter::sendMessage(std::uint8_t type, const Bytes& payload) {
    const std::uint8_t saved = m_type;
    m_type = type;
    put(payload);
    flushPacket(true);
    m_type = saved;
}

// ---------------------------------------------------------------------------

PacketReader::PacketReader(int fd, std::size_t maxMessage)
    : m_ownStream(std::make_unique<SocketStream>(fd)), m_stream(m_ownStream.get()),
      m_maxMessage(maxMessage), m_buf(64 * 1024) {}

PacketReader::PacketReader(Stream& stream, std::size_t maxMessage)
    : m_stream(&stream), m_maxMessage(maxMessage), m_buf(64 * 1024) {}

PacketReader::PacketReader(const Bytes& stream, std::size_t maxMessage)
    : m_maxMessage(maxMessage), m_buf(stream), m_end(stream.size()) {}

bool PacketReader::fill(std::size_t n, bool eofOk) {
    while (m_end - m_begin < n) {
        if (!m_stream) {
            if (eofOk && m_end == m_begin)
                return false;
            throw ProtocolError("stream ends inside a packet");
        }
        if (m_begin > 0) {
            std::memmove(m_buf.data(), m_buf.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_buf.size() < n)
            m_buf.resize(n);
        const std::size_t got = m_stream->receive(m_buf.data() + m_end, m_buf.size() - m_end);
        if (got == 0) {
            if (eofOk && m_end == m_begin)
                return false;
            throw ProtocolError("client closed the connection inside a packet");
        }
        m_end += got;
    }
    return true;
}

bool PacketReader::read(InMessage& msg) {
    msg.payload.clear();
    bool first = true;
    for (;;) {
        if (!fill(kHeaderSize, first))
            return false;
        const std::uint8_t* h = m_buf.data() + m_begin;
        const std::uint8_t type = h[0];
        const std::uint8_t status = h[1];
        const std::size_t len = std::size_t((h[2] << 8) | h[3]);
        if (len < kHeaderSize)
            throw ProtocolError("packet length " + std::to_string(len) + " below header size");
        if (first) {
            msg.type = type;
            msg.status = status;
        } else if (type != msg.type) {
            throw ProtocolError("packet type changes inside a message");
        }
        if (msg.payload.size() + len - kHeaderSize > m_maxMessage)
            throw ProtocolError("message larger than " + std::to_string(m_maxMessage) + " bytes");
        fill(len, false);
        const std::uint8_t* p = m_buf.data() + m_begin;
        msg.payload.insert(msg.payload.end(), p + kHeaderSize, p + len);
        m_begin += len;
        if (m_begin == m_end)
            m_begin = m_end = 0;
        first = false;
        if (status & 0x01)
            return true;
    }
}

std::vector<InMessage> splitMessages(const Bytes& stream, std::size_t maxMessage) {
    std::vector<InMessage> out;
    PacketReader reader(stream, maxMessage);
    InMessage msg;
    while (reader.read(msg))
        out.push_back(msg);
    return out;
}

} // namespace tds
