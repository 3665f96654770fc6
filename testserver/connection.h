#pragma once
// One client connection: PRELOGIN and LOGIN7, then requests until the client
// leaves. A reader thread takes messages off the socket so that an Attention
// is seen while the worker is still streaming a reply.

#include "testserver/engine/engine.h"
#include "testserver/packet.h"
#include "testserver/tls.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace tds {

class Connection {
public:
    // Takes ownership of the socket.
    Connection(int fd, const ServerConfig& config, std::uint16_t spid, std::string peer,
               LogFunction log);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The certificate and the policy; without a call nothing is encrypted.
    // `context` must outlive the connection.
    void setTls(const TlsContext* context, EncryptionMode mode);

    // Serves the connection to its end; returns when the client has gone,
    // the connection failed, or stop() was called.
    void run();
    // From another thread: cancels what runs and closes the socket.
    void stop();

private:
    struct Item {
        enum Kind { Request, Attention, Closed } kind;
        InMessage message;
        std::string error; // for Closed: why, empty for a clean end
    };

    bool handshake(PacketReader& reader);
    // Runs the security exchange of an integrated login that starts with
    // `token`; returns the client principal, empty when the login is refused.
    // `reply` gets the last token for the client.
    std::string acceptIntegratedLogin(PacketReader& reader, Bytes token, Bytes& reply);
    void startTls(PacketReader& reader, InMessage& msg);
    void readerLoop(PacketReader& reader);
    void push(Item item);
    void serveRequests();
    void executeRequest(const InMessage& msg);
    void executeTransaction(const InMessage& msg);
    void attentionAcknowledged();
    void log(const std::string& what);

    int m_fd;
    const ServerConfig& m_config;
    std::uint16_t m_spid;
    std::string m_peer;
    LogFunction m_log;
    const TlsContext* m_tlsContext = nullptr;
    EncryptionMode m_encryption = EncryptionMode::NotSupported;

    ConnectionStream m_stream;
    PacketWriter m_writer;
    std::uint32_t m_tdsVersion = 0;
    Session m_session;

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Item> m_queue;
    int m_pendingAttention = 0;
    bool m_closing = false;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_stopped{false};

    std::uint64_t m_transactionCounter = 0;
    Bytes m_transaction; // descriptor of the open transaction, empty if none
};

} // namespace tds
