#pragma once
// A bare TDS client for tests that need to misbehave: send malformed packets,
// vanish in the middle of a reply, or look at the exact bytes that come back.

#include "testserver/packet.h"
#include "testserver/tokens.h"

#include <string>

struct Login7Fields {
    std::string user;
    std::string password;
    std::string database;
    std::string appName = "rawclient";
    std::uint32_t packetSize = 4096;
    std::uint32_t tdsVersion = tds::kTds74;
    std::uint8_t optionFlags2 = 0x03;
    tds::Bytes sspi; // an integrated login's token; 64 KiB and more go through cbSSPILong
    // The feature extension (FeatureId, length, data ... 0xFF); sets fExtension.
    tds::Bytes featureExt;
};

tds::Bytes buildLogin7(const Login7Fields& f);
tds::Bytes buildPrelogin();
// ALL_HEADERS with a zero transaction descriptor, as FreeTDS sends it.
tds::Bytes allHeaders();
tds::Bytes sqlBatchPayload(const std::string& sql);
// Wraps a payload into packets of `packetSize` (header included).
tds::Bytes packetize(std::uint8_t type, const tds::Bytes& payload, std::size_t packetSize = 4096);

class RawClient {
public:
    explicit RawClient(int port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    int fd() const { return m_fd; }
    void sendBytes(const tds::Bytes& bytes);
    void send(std::uint8_t type, const tds::Bytes& payload) { sendBytes(packetize(type, payload)); }
    // Reads one whole message; false at end of stream. Throws ProtocolError.
    bool read(tds::InMessage& msg);
    // PRELOGIN + LOGIN7; returns the login reply.
    tds::InMessage login(const Login7Fields& f);
    // True when the server closed the connection (reads until EOF or deadline).
    bool waitClosed(int timeoutMs = 5000);
    void close();

private:
    int m_fd = -1;
    tds::PacketReader* m_reader = nullptr;
};

// "0A 1b ff" -> bytes (anything but hex digits is ignored), and back.
tds::Bytes hexBytes(const std::string& s);
std::string toHex(const tds::Bytes& b);

// True when the bytes hold a DONE-type token with the given status bit.
bool containsDone(const tds::Bytes& payload, std::uint16_t statusBit);
