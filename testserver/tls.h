#pragma once
// TLS for client connections, as SQL Server offers it: the handshake travels
// inside PRELOGIN packets, then TLS records carry the TDS packets, either for
// the whole connection or for the login packet alone.

#include "testserver/packet.h"

#include <memory>
#include <mutex>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_st BIO;

namespace tds {

// What the server answers to a client's ENCRYPTION pre-login option.
enum class EncryptionMode {
    NotSupported, // no certificate: every connection stays in clear
    Off,          // encrypts what the client asks for, at least the login
    On,           // encrypts every connection of a client that can
    Required,     // refuses a client that cannot encrypt
};

// ENCRYPTION option values of PRELOGIN.
enum : std::uint8_t {
    EncryptOff = 0x00,
    EncryptOn = 0x01,
    EncryptNotSupported = 0x02,
    EncryptRequired = 0x03,
};

// The server's answer to the client's ENCRYPTION byte.
std::uint8_t encryptionReply(EncryptionMode mode, std::uint8_t client);

// The server certificate and key, loaded once and shared by every connection.
// TLS 1.2 at most: clients that wrap the handshake in PRELOGIN packets cannot
// finish a TLS 1.3 one.
class TlsContext {
public:
    // Throws std::runtime_error when the files cannot be read or do not match.
    TlsContext(const std::string& certFile, const std::string& keyFile);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;
    SSL_CTX* get() const { return m_ctx; }

private:
    SSL_CTX* m_ctx = nullptr;
};

// One server-side TLS session over memory buffers, so that the handshake can
// be wrapped in packets and the records can go to the socket outside any
// lock. The reader thread decrypts while the worker encrypts; a mutex keeps
// their calls into the session apart.
class TlsSession {
public:
    explicit TlsSession(const TlsContext& context);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Takes the client's handshake bytes and returns what goes back. Throws
    // ProtocolError when the handshake fails (the client refused our
    // certificate, spoke no common protocol).
    Bytes handshake(const Bytes& fromClient);
    bool established() const { return m_established; }

    // Encrypts plain bytes into records.
    Bytes seal(const std::uint8_t* data, std::size_t n);
    // Adds record bytes as they came from the socket.
    void feed(const std::uint8_t* data, std::size_t n);
    // Decrypted bytes, up to n; 0 when a whole record has not arrived yet.
    // Sets `closed` when the client ended the session. Throws ProtocolError
    // on a damaged record.
    std::size_t open(std::uint8_t* out, std::size_t n, bool& closed);

private:
    Bytes drainOutput();

    std::mutex m_mutex;
    SSL* m_ssl = nullptr;
    BIO* m_in = nullptr;  // records from the client; owned by m_ssl
    BIO* m_out = nullptr; // records for the client; owned by m_ssl
    bool m_established = false;
};

// A client connection's socket, with TLS switched on and off as the
// negotiation goes: records are read and written here; packets are framed
// above, by PacketReader and PacketWriter.
class ConnectionStream : public Stream {
public:
    explicit ConnectionStream(int fd) : m_socket(fd) {}

    // From here on every byte goes through the session (established).
    void startTls(std::unique_ptr<TlsSession> session) { m_tls = std::move(session); }
    // Back to the plain socket, as after an encrypted login alone.
    void stopTls() { m_tls.reset(); }
    bool encrypted() const { return m_tls != nullptr; }

    std::size_t receive(std::uint8_t* buf, std::size_t n) override;
    bool sendAll(const std::uint8_t* data, std::size_t n, std::string& error) override;

private:
    SocketStream m_socket;
    std::unique_ptr<TlsSession> m_tls;
};

} // namespace tds
