#include "tests/testserver/raw_client.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using namespace tds;

namespace {

Bytes ucs2(const std::string& s) {
    Bytes b;
    appendUcs2(b, s);
    return b;
}

} // namespace

Bytes buildPrelogin() {
    // VERSION, ENCRYPTION off, INSTOPT "MSSQLServer", THREADID, MARS off.
    Bytes data;
    const Bytes version = {9, 0, 0, 0, 0, 0};
    const Bytes enc = {0};
    Bytes inst(std::begin("MSSQLServer"), std::end("MSSQLServer"));
    const Bytes thread = {1, 2, 3, 4};
    const Bytes mars = {0};
    const Bytes* opts[] = {&version, &enc, &inst, &thread, &mars};
    Bytes b;
    std::uint16_t off = 5 * 5 + 1;
    for (std::uint8_t t = 0; t < 5; ++t) {
        putU8(b, t);
        putU16be(b, off);
        putU16be(b, std::uint16_t(opts[t]->size()));
        off = std::uint16_t(off + opts[t]->size());
    }
    putU8(b, 0xFF);
    for (const Bytes* o : opts)
        b.insert(b.end(), o->begin(), o->end());
    return b;
}

Bytes buildLogin7(const Login7Fields& f) {
    constexpr std::size_t kFixed = 94;
    Bytes password = ucs2(f.password);
    for (auto& c : password) {
        c = std::uint8_t((c << 4) | (c >> 4));
        c ^= 0xA5;
    }
    // With a feature extension the unused field holds the offset of its data
    // (patched below) and counts bytes, not characters.
    const bool ext = !f.featureExt.empty();
    Bytes fields[9] = {ucs2("testhost"),  ucs2(f.user),       password,
                       ucs2(f.appName),   ucs2("127.0.0.1"),  ext ? Bytes(4) : Bytes{},
                       ucs2("rawclient"), ucs2("us_english"), ucs2(f.database)};
    Bytes b;
    putU32(b, 0); // patched below
    putU32(b, f.tdsVersion);
    putU32(b, f.packetSize);
    putU32(b, 0x07000000);
    putU32(b, 4242);
    putU32(b, 0);
    putU8(b, 0xE0);
    putU8(b, f.optionFlags2);
    putU8(b, 0);
    putU8(b, ext ? 0x10 : 0);
    putU32(b, 0);
    putU32(b, 0x0409);
    std::uint16_t off = kFixed;
    std::size_t extField = 0;
    for (std::size_t k = 0; k < 9; ++k) {
        if (k == 5)
            extField = off;
        putU16(b, off);
        putU16(b, std::uint16_t(k == 5 ? fields[k].size() : fields[k].size() / 2));
        off = std::uint16_t(off + fields[k].size());
    }
    for (int i = 0; i < 6; ++i)
        putU8(b, 0); // client MAC
    const bool longSspi = f.sspi.size() >= 0xFFFF;
    putU16(b, off); // SSPI
    putU16(b, longSspi ? 0xFFFF : std::uint16_t(f.sspi.size()));
    for (int i = 0; i < 2; ++i) {
        putU16(b, off); // attach db file, change password: empty
        putU16(b, 0);
    }
    putU32(b, longSspi ? std::uint32_t(f.sspi.size()) : 0);
    for (const Bytes& fld : fields)
        b.insert(b.end(), fld.begin(), fld.end());
    b.insert(b.end(), f.sspi.begin(), f.sspi.end());
    if (ext) {
        const std::uint32_t at = std::uint32_t(b.size());
        for (int i = 0; i < 4; ++i)
            b[extField + std::size_t(i)] = std::uint8_t(at >> (8 * i));
        b.insert(b.end(), f.featureExt.begin(), f.featureExt.end());
    }
    const std::uint32_t len = std::uint32_t(b.size());
    for (int i = 0; i < 4; ++i)
        b[i] = std::uint8_t(len >> (8 * i));
    return b;
}

Bytes allHeaders() {
    Bytes b;
    putU32(b, 22);
    putU32(b, 18);
    putU16(b, 2);
    putU64(b, 0);
    putU32(b, 1);
    return b;
}

Bytes sqlBatchPayload(const std::string& sql) {
    Bytes b = allHeaders();
    appendUcs2(b, sql);
    return b;
}

Bytes packetize(std::uint8_t type, const Bytes& payload, std::size_t packetSize) {
    Bytes out;
    const std::size_t chunk = packetSize - kHeaderSize;
    std::size_t pos = 0;
    std::uint8_t id = 1;
    do {
        const std::size_t n = std::min(chunk, payload.size() - pos);
        const bool last = pos + n == payload.size();
        const std::size_t len = n + kHeaderSize;
        out.insert(out.end(), {type, std::uint8_t(last ? 1 : 0), std::uint8_t(len >> 8),
                               std::uint8_t(len), 0, 0, id++, 0});
        out.insert(out.end(), payload.begin() + pos, payload.begin() + pos + n);
        pos += n;
    } while (pos < payload.size());
    return out;
}

RawClient::RawClient(int port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(std::uint16_t(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(m_fd);
        throw std::runtime_error("connect failed");
    }
    m_reader = new PacketReader(m_fd);
}

RawClient::~RawClient() {
    close();
}

void RawClient::close() {
    delete m_reader;
    m_reader = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RawClient::sendBytes(const Bytes& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return; // the server may already have closed; callers check that
        off += std::size_t(n);
    }
}

bool RawClient::read(InMessage& msg) {
    return m_reader->read(msg);
}

InMessage RawClient::login(const Login7Fields& f) {
    send(PacketPrelogin, buildPrelogin());
    InMessage msg;
    if (!read(msg))
        throw std::runtime_error("no PRELOGIN reply");
    send(PacketLogin7, buildLogin7(f));
    if (!read(msg))
        throw std::runtime_error("no login reply");
    return msg;
}

bool RawClient::waitClosed(int timeoutMs) {
    char buf[4096];
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
    }
}

bool containsDone(const Bytes& payload, std::uint16_t statusBit) {
    // DONE tokens are 13 bytes in 7.2+; scan for a plausible one.
    for (std::size_t i = 0; i + 13 <= payload.size(); ++i) {
        if (payload[i] != 0xFD && payload[i] != 0xFE && payload[i] != 0xFF)
            continue;
        const std::uint16_t status = std::uint16_t(payload[i + 1] | (payload[i + 2] << 8));
        if (status & statusBit && status < 0x200)
            return true;
    }
    return false;
}

Bytes hexBytes(const std::string& s) {
    Bytes b;
    int nibbles = 0, cur = 0;
    for (char c : s) {
        const int v = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (v < 0)
            continue;
        cur = cur * 16 + v;
        if (++nibbles == 2) {
            b.push_back(std::uint8_t(cur));
            nibbles = cur = 0;
        }
    }
    return b;
}

std::string toHex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (std::uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    return s;
}
