#include "testserver/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>

namespace tds {

namespace {

// The reasons OpenSSL queued for the last failure, oldest first.
std::string sslErrors() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text.empty() ? std::string("unknown TLS error") : text;
}

} // namespace

std::uint8_t encryptionReply(EncryptionMode mode, std::uint8_t client) {
    switch (mode) {
    case EncryptionMode::NotSupported:
        return EncryptNotSupported;
    case EncryptionMode::Off:
        // A client that cannot encrypt stays in clear; one that would rather
        // not gets its login encrypted; one that asks gets everything.
        if (client == EncryptNotSupported || client == EncryptOff)
            return client;
        return EncryptOn;
    case EncryptionMode::On:
        return EncryptOn;
    case EncryptionMode::Required:
        return EncryptRequired;
    }
    return EncryptNotSupported;
}

TlsContext::TlsContext(const std::string& certFile, const std::string& keyFile) {
    m_ctx = SSL_CTX_new(TLS_server_method());
    if (!m_ctx)
        throw std::runtime_error("cannot create a TLS context: " + sslErrors());
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(m_ctx, TLS1_2_VERSION);
    // No tickets (one flight less to wrap) and no renegotiation (records are
    // then only ever read by the reader and written by the worker).
    SSL_CTX_set_options(m_ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_OFF);
    if (SSL_CTX_use_certificate_chain_file(m_ctx, certFile.c_str()) != 1) {
        const std::string why = sslErrors();
        SSL_CTX_free(m_ctx);
        throw std::runtime_error("cannot load TLS certificate " + certFile + ": " + why);
    }
    if (SSL_CTX_use_PrivateKey_file(m_ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(m_ctx) != 1) {
        const std::string why = sslErrors();
        SSL_CTX_free(m_ctx);
        throw std::runtime_error("cannot load TLS key " + keyFile + ": " + why);
    }
}

TlsContext::~TlsContext() {
    SSL_CTX_free(m_ctx);
}

TlsSession::TlsSession(const TlsContext& context) {
    m_ssl = SSL_new(context.get());
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (!m_ssl || !m_in || !m_out) {
        SSL_free(m_ssl);
        BIO_free(m_in);
        BIO_free(m_out);
        throw std::runtime_error("cannot create a TLS session: " + sslErrors());
    }
    // An empty input buffer means "wait for more", not end of stream.
    BIO_set_mem_eof_return(m_in, -1);
    BIO_set_mem_eof_return(m_out, -1);
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_accept_state(m_ssl);
}

TlsSession::~TlsSession() {
    SSL_free(m_ssl); // frees both buffers
}

Bytes TlsSession::drainOutput() {
    Bytes out(std::size_t(BIO_ctrl_pending(m_out)));
    if (!out.empty()) {
        const int n = BIO_read(m_out, out.data(), int(out.size()));
        out.resize(n > 0 ? std::size_t(n) : 0);
    }
    return out;
}

Bytes TlsSession::handshake(const Bytes& fromClient) {
    std::lock_guard lock(m_mutex);
    ERR_clear_error();
    if (!fromClient.empty() && BIO_write(m_in, fromClient.data(), int(fromClient.size())) <= 0)
        throw ProtocolError("TLS handshake: " + sslErrors());
    const int rc = SSL_do_handshake(m_ssl);
    if (rc == 1) {
        m_established = true;
    } else {
        const int err = SSL_get_error(m_ssl, rc);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE)
            throw ProtocolError("TLS handshake failed: " + sslErrors());
    }
    return drainOutput();
}

Bytes TlsSession::seal(const std::uint8_t* data, std::size_t n) {
    std::lock_guard lock(m_mutex);
    ERR_clear_error();
    while (n > 0) {
        const int chunk = int(std::min<std::size_t>(n, 16384));
        const int written = SSL_write(m_ssl, data, chunk);
        if (written <= 0)
            throw ProtocolError("TLS write failed: " + sslErrors());
        data += written;
        n -= std::size_t(written);
    }
    return drainOutput();
}

void TlsSession::feed(const std::uint8_t* data, std::size_t n) {
    std::lock_guard lock(m_mutex);
    if (BIO_write(m_in, data, int(n)) != int(n))
        throw ProtocolError("TLS: cannot buffer received records");
}

std::size_t TlsSession::open(std::uint8_t* out, std::size_t n, bool& closed) {
    std::lock_guard lock(m_mutex);
    ERR_clear_error();
    closed = false;
    const int got = SSL_read(m_ssl, out, int(std::min<std::size_t>(n, 1 << 30)));
    if (got > 0)
        return std::size_t(got);
    switch (SSL_get_error(m_ssl, got)) {
    case SSL_ERROR_WANT_READ:
        return 0;
    case SSL_ERROR_ZERO_RETURN:
        closed = true;
        return 0;
    default:
        throw ProtocolError("TLS read failed: " + sslErrors());
    }
}

std::size_t ConnectionStream::receive(std::uint8_t* buf, std::size_t n) {
    if (!m_tls)
        return m_socket.receive(buf, n);
    std::uint8_t raw[16 * 1024];
    for (;;) {
        bool closed = false;
        const std::size_t plain = m_tls->open(buf, n, closed);
        if (plain > 0)
            return plain;
        if (closed)
            return 0;
        const std::size_t got = m_socket.receive(raw, sizeof raw);
        if (got == 0)
            return 0;
        m_tls->feed(raw, got);
    }
}

bool ConnectionStream::sendAll(const std::uint8_t* data, std::size_t n, std::string& error) {
    if (!m_tls)
        return m_socket.sendAll(data, n, error);
    Bytes records;
    try {
        records = m_tls->seal(data, n);
    } catch (const ProtocolError& e) {
        error = e.what();
        return false;
    }
    return m_socket.sendAll(records.data(), records.size(), error);
}

} // namespace tds
