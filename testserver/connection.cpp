#include "testserver/connection.h"

#include "testserver/kerberos.h"
#include "testserver/reply_sink.h"
#include "testserver/requests.h"
#include "testserver/tokens.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace tds {

namespace {

const char* const kProgName = "Microsoft SQL Server";

// The TDS version we answer with: the client's, rounded down to one we speak.
std::uint32_t negotiateVersion(std::uint32_t requested) {
    if (requested >= 0x74000000)
        return kTds74;
    if (requested >= 0x73000000)
        return kTds73;
    if (requested >= 0x72000000)
        return kTds72;
    if (requested >= 0x71000000)
        return kTds71;
    return 0x07000000; // 7.0, as LOGINACK spells it
}

// A sink for the statements the server runs on the client's behalf
// (transaction requests): messages go to the client, results are dropped.
class MessagesOnlySink : public ResultSink {
public:
    explicit MessagesOnlySink(TokenWriter& w) : m_writer(w) {}
    void columns(const std::vector<Column>&) override {}
    bool row(const std::vector<Value>&) override { return true; }
    void done(DoneKind, std::uint16_t, std::uint64_t, std::uint16_t) override {}
    void message(const Message& m) override {
        m_writer.message(m);
        failed = failed || m.error;
    }
    void databaseChanged(const std::string& oldDb, const std::string& newDb) override {
        m_writer.envChange(EnvDatabase, newDb, oldDb);
    }
    void returnStatus(std::int32_t) override {}
    void returnValue(const std::string&, const ColumnType&, const Value&, bool) override {}
    bool failed = false;

private:
    TokenWriter& m_writer;
};

} // namespace

Connection::Connection(int fd, const ServerConfig& config, std::uint16_t spid, std::string peer,
                       LogFunction log)
    : m_fd(fd), m_config(config), m_spid(spid), m_peer(std::move(peer)), m_log(std::move(log)),
      m_stream(fd), m_writer(m_stream), m_session(config) {
    m_writer.setSpid(spid);
}

void Connection::setTls(const TlsContext* context, EncryptionMode mode) {
    m_tlsContext = context;
    m_encryption = context ? mode : EncryptionMode::NotSupported;
}

Connection::~Connection() {
    ::close(m_fd);
}

void Connection::log(const std::string& what) {
    if (m_log)
        m_log("connection " + m_peer + " (spid " + std::to_string(m_spid) + "): " + what);
}

void Connection::stop() {
    m_stopped = true;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_cancel = true;
    }
    m_cond.notify_all();
    ::shutdown(m_fd, SHUT_RDWR);
}

void Connection::run() {
    PacketReader reader(m_stream);
    try {
        const bool loggedIn = handshake(reader);
        if (!loggedIn) {
            ::shutdown(m_fd, SHUT_RDWR);
            return;
        }
    } catch (const ProtocolError& e) {
        if (!m_stopped)
            log(std::string("closed during login: ") + e.what());
        ::shutdown(m_fd, SHUT_RDWR);
        return;
    }
    std::thread readerThread([this, &reader] { readerLoop(reader); });
    serveRequests();
    // The client sees the end at once, not when the connection is reaped.
    ::shutdown(m_fd, SHUT_RDWR);
    readerThread.join();
}

bool Connection::handshake(PacketReader& reader) {
    InMessage msg;
    if (!reader.read(msg))
        return false;
    bool loginOnly = false;     // only the LOGIN7 travels encrypted
    bool refuseInClear = false; // encryption is required and the client sent LOGIN7 in clear
    if (msg.type == PacketPrelogin) {
        const Prelogin prelogin = parsePrelogin(msg.payload);
        const std::uint8_t encryption = encryptionReply(m_encryption, prelogin.encryption);
        m_writer.sendMessage(PacketReply, preloginReply(m_config.productVersion, encryption));
        if (m_writer.failed())
            return false;
        if (!reader.read(msg))
            return false;
        if (encryption != EncryptNotSupported) {
            if (msg.type == PacketPrelogin) {
                startTls(reader, msg);
                loginOnly = encryption == EncryptOff;
            } else if (m_encryption == EncryptionMode::Required) {
                refuseInClear = true;
            } else if (prelogin.encryption != EncryptNotSupported) {
                throw ProtocolError("client agreed to encrypt but sent packet type " +
                                    std::to_string(msg.type));
            }
        }
    }
    if (msg.type != PacketLogin7)
        throw ProtocolError("expected LOGIN7, got packet type " + std::to_string(msg.type));
    if (loginOnly) {
        if (reader.buffered() != 0)
            throw ProtocolError("client sent more than its login before the reply");
        m_stream.stopTls();
    }

    const Login7 login = parseLogin7(msg.payload);
    m_tdsVersion = std::min(negotiateVersion(login.tdsVersion), m_config.tdsVersion);
    TokenWriter tokens(m_writer, m_tdsVersion);
    tokens.setServerName(m_config.serverName);

    auto refuse = [&](const std::vector<Message>& messages) {
        for (const Message& m : messages)
            tokens.message(m);
        tokens.done(DoneKind::Done, DoneError, 0, 0);
        m_writer.endMessage();
    };
    if (refuseInClear) {
        Message m;
        m.error = true;
        m.number = 17835;
        m.severity = 20;
        m.text = "Encryption is required to connect to this server but the client library does "
                 "not support encryption; the connection has been closed. Please upgrade your "
                 "client library.";
        refuse({m});
        log("refused: login in clear while encryption is required");
        return false;
    }
    LoginResult result;
    if (login.integratedSecurity) {
        Bytes reply;
        const std::string principal = acceptIntegratedLogin(reader, login.sspi, reply);
        if (principal.empty()) {
            refuse({Session::integratedLoginRefused()});
            return false;
        }
        result = m_session.loginTrusted(windowsLoginFor(principal, m_config.windowsLogins),
                                        windowsAccountName(principal), login.database);
        // The acceptor's last token lets the client check the server in turn.
        if (result.ok && !reply.empty())
            tokens.sspi(reply);
    } else {
        result = m_session.login(login.userName, login.password, login.database);
    }
    if (!result.ok) {
        refuse(result.messages);
        return false;
    }

    std::size_t packetSize = login.packetSize == 0 ? kDefaultPacketSize : login.packetSize;
    packetSize = std::clamp(packetSize, kMinPacketSize, kMaxPacketSize);

    // Infos go next to the change they report: 5701 after the database,
    // 5703 after the language, anything else before the acknowledgement.
    auto infos = [&](auto pred) {
        for (const Message& m : result.infos)
            if (pred(m.number))
                tokens.message(m);
    };
    tokens.envChange(EnvDatabase, result.database, "master");
    infos([](int n) { return n == 5701; });
    tokens.envChangeBytes(EnvCollation, Bytes(kCollation, kCollation + 5), {});
    tokens.envChange(EnvLanguage, "us_english", "");
    infos([](int n) { return n == 5703; });
    infos([](int n) { return n != 5701 && n != 5703; });
    std::uint8_t version[4];
    productVersionBytes(m_config.productVersion, version);
    tokens.loginAck(kProgName, version);
    // Columns of UTF-8 collations send their text as UTF-8 (SQL Server does
    // only to clients that ask; this server describes each column's
    // collation to every client alike).
    // The token exists from TDS 7.4 on; an older client gets none.
    if (login.utf8Support && tokens.tdsVersion() >= kTds74)
        tokens.featureExtAck({{kFeatureUtf8Support, Bytes{0x01}}});
    tokens.envChange(EnvPacketSize, std::to_string(packetSize),
                     std::to_string(login.packetSize == 0 ? kDefaultPacketSize : login.packetSize));
    tokens.done(DoneKind::Done, DoneFinal, 0, 0);
    m_writer.endMessage();
    m_writer.setPacketSize(packetSize);
    return !m_writer.failed();
}

std::string Connection::acceptIntegratedLogin(PacketReader& reader, Bytes token, Bytes& reply) {
    if (m_config.kerberosKeytab.empty())
        return {};
    KerberosAcceptor acceptor(m_config.kerberosKeytab);
    // Kerberos completes in one round; the bound only stops a client that
    // keeps a context open forever.
    for (int round = 0; round < 8; ++round) {
        switch (acceptor.step(token, reply)) {
        case KerberosAcceptor::State::Complete:
            if (reply.size() <= 0xFFFF)
                return acceptor.principal();
            log("integrated login refused: reply token too long");
            return {};
        case KerberosAcceptor::State::Failed:
            log("integrated login refused: " + acceptor.error());
            return {};
        case KerberosAcceptor::State::ContinueNeeded:
            break;
        }
        TokenWriter tokens(m_writer, m_tdsVersion);
        tokens.sspi(reply);
        m_writer.endMessage();
        InMessage msg;
        if (m_writer.failed() || !reader.read(msg))
            return {};
        if (msg.type != PacketSspi)
            throw ProtocolError("expected an SSPI message, got packet type " +
                                std::to_string(msg.type));
        token = std::move(msg.payload);
    }
    log("integrated login refused: the security context did not complete");
    return {};
}

// The client's TLS handshake, wrapped in PRELOGIN packets as each flight
// goes; the server answers every flight with one message of the same type.
// Once it is complete, `msg` is the first message read through TLS.
void Connection::startTls(PacketReader& reader, InMessage& msg) {
    auto session = std::make_unique<TlsSession>(*m_tlsContext);
    for (;;) {
        if (msg.type != PacketPrelogin)
            throw ProtocolError("expected a TLS handshake packet, got packet type " +
                                std::to_string(msg.type));
        const Bytes reply = session->handshake(msg.payload);
        if (!reply.empty()) {
            m_writer.sendMessage(PacketPrelogin, reply);
            if (m_writer.failed())
                throw ProtocolError(m_writer.error());
        }
        if (session->established())
            break;
        if (!reader.read(msg))
            throw ProtocolError("client closed the connection during the TLS handshake");
    }
    // The client waits for the end of the handshake; nothing may be pending.
    if (reader.buffered() != 0)
        throw ProtocolError("data after the TLS handshake in clear");
    m_stream.startTls(std::move(session));
    if (!reader.read(msg))
        throw ProtocolError("client closed the connection after the TLS handshake");
}

void Connection::push(Item item) {
    {
        std::lock_guard lock(m_mutex);
        if (item.kind == Item::Attention) {
            ++m_pendingAttention;
            m_cancel = true;
        } else if (item.kind == Item::Closed) {
            m_closing = true;
            m_cancel = true;
        }
        m_queue.push_back(std::move(item));
    }
    m_cond.notify_one();
}

void Connection::readerLoop(PacketReader& reader) {
    try {
        for (;;) {
            Item item{Item::Request, {}, {}};
            if (!reader.read(item.message)) {
                push({Item::Closed, {}, {}});
                return;
            }
            if (item.message.type == PacketAttention)
                item.kind = Item::Attention;
            push(std::move(item));
        }
    } catch (const ProtocolError& e) {
        push({Item::Closed, {}, e.what()});
    }
}

void Connection::attentionAcknowledged() {
    std::lock_guard lock(m_mutex);
    if (m_pendingAttention > 0)
        --m_pendingAttention;
    if (m_pendingAttention == 0 && !m_closing)
        m_cancel = false;
}

void Connection::serveRequests() {
    for (;;) {
        Item item{Item::Closed, {}, {}};
        {
            std::unique_lock lock(m_mutex);
            m_cond.wait(lock, [this] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty())
                return;
            item = std::move(m_queue.front());
            m_queue.pop_front();
        }
        switch (item.kind) {
        case Item::Closed:
            if (!item.error.empty() && !m_stopped)
                log("closed: " + item.error);
            return;
        case Item::Attention: {
            TokenWriter tokens(m_writer, m_tdsVersion);
            tokens.done(DoneKind::Done, DoneAttn, 0, 0);
            m_writer.endMessage();
            attentionAcknowledged();
            break;
        }
        case Item::Request:
            try {
                executeRequest(item.message);
            } catch (const ProtocolError& e) {
                log(std::string("closed: ") + e.what());
                return;
            }
            // A fatal error (RAISERROR severity 20+) ends the connection
            // once its reply is out.
            if (m_session.connectionEnded())
                return;
            break;
        }
        if (m_writer.failed()) {
            if (!m_stopped)
                log("closed: " + m_writer.error());
            return;
        }
        if (m_stopped)
            return;
    }
}

void Connection::executeRequest(const InMessage& msg) {
    TokenWriter tokens(m_writer, m_tdsVersion);
    tokens.setServerName(m_config.serverName);
    ReplySink sink(tokens, m_cancel);
    try {
        switch (msg.type) {
        case PacketSqlBatch: {
            const std::string sql = parseSqlBatch(msg.payload, m_tdsVersion);
            m_session.executeBatch(sql, sink, m_cancel);
            break;
        }
        case PacketRpc: {
            const std::vector<RpcCall> calls = parseRpc(msg.payload, m_tdsVersion);
            for (const RpcCall& call : calls) {
                if (sink.stopped())
                    break;
                sink.setCall(&call);
                m_session.executeRpc(call, sink, m_cancel);
            }
            sink.setCall(nullptr);
            break;
        }
        case PacketTransaction:
            executeTransaction(msg);
            return;
        case PacketBulk: {
            Message m;
            m.error = true;
            m.number = 4800;
            m.severity = 16;
            m.text = "Bulk load is not supported by this server.";
            sink.message(m);
            sink.done(DoneKind::Done, DoneError, 0, 0);
            break;
        }
        default:
            throw ProtocolError("unexpected packet type " + std::to_string(msg.type) +
                                " after login");
        }
    } catch (const ProtocolError&) {
        throw;
    } catch (const std::exception& e) {
        // An engine failure ends this request, not the connection.
        log(std::string("request failed: ") + e.what());
        Message m;
        m.error = true;
        m.number = 50000;
        m.severity = 16;
        m.text = std::string("Internal error: ") + e.what();
        sink.message(m);
        sink.done(DoneKind::Done, DoneError, 0, 0);
    }
    const bool cancelled = sink.stopped() && !m_writer.failed();
    sink.finish();
    // A cancelled reply ends with a final DONE of its own; the attention's
    // acknowledgement, already queued, follows as a message by itself.
    if (cancelled)
        tokens.done(DoneKind::Done, DoneFinal, 0, 0);
    m_writer.endMessage();
}

void Connection::executeTransaction(const InMessage& msg) {
    const TransactionRequest req = parseTransactionRequest(msg.payload, m_tdsVersion);
    TokenWriter tokens(m_writer, m_tdsVersion);
    tokens.setServerName(m_config.serverName);
    bool ok = true;
    Message error;
    auto begin = [&] {
        if (!m_session.beginTransaction(&error)) {
            tokens.message(error);
            ok = false;
            return;
        }
        // The descriptor the client echoes in its later requests.
        ++m_transactionCounter;
        m_transaction.clear();
        putU64(m_transaction, m_transactionCounter);
        tokens.envChangeBytes(EnvBeginTran, m_transaction, {});
    };
    switch (req.kind) {
    case TransactionRequest::Begin:
        begin();
        break;
    case TransactionRequest::Commit:
    case TransactionRequest::Rollback: {
        const bool commit = req.kind == TransactionRequest::Commit;
        // Switching autocommit back on sends a rollback whether or not a
        // transaction is open; without one there is nothing to do.
        if (commit || m_session.transactionCount() > 0) {
            const bool done = commit ? m_session.commitTransaction(&error)
                                     : m_session.rollbackTransaction(&error);
            if (done) {
                tokens.envChangeBytes(commit ? EnvCommitTran : EnvRollbackTran, {},
                                      m_transaction.empty() ? Bytes(8, 0) : m_transaction);
                m_transaction.clear();
            } else {
                tokens.message(error);
                ok = false;
            }
        }
        if (ok && req.beginNew)
            begin();
        break;
    }
    case TransactionRequest::Save: {
        MessagesOnlySink sink(tokens);
        m_session.executeBatch(
            "SAVE TRANSACTION " + (req.name.empty() ? std::string("s") : req.name), sink, m_cancel);
        ok = !sink.failed;
        break;
    }
    }
    tokens.done(DoneKind::Done, ok ? DoneFinal : DoneError, 0, 0);
    m_writer.endMessage();
}

} // namespace tds
