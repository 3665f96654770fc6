#pragma once
// The listening side: accepts TCP connections and serves each on its own
// thread, optionally answering SQL Server Browser requests on UDP.

#include "testserver/connection.h"
#include "testserver/engine/engine.h"
#include "testserver/tls.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tds {

class BrowserResponder;

struct ServerOptions {
    ServerConfig config;
    std::string bindAddress = "127.0.0.1";
    int port = 0;            // 0 = any free port
    int browserPort = -1;    // -1 = no browser; 0 = any free UDP port
    std::string tlsCertFile; // PEM certificate (chain) offered for TLS; empty: no TLS
    std::string tlsKeyFile;  // its PEM private key
    EncryptionMode encryption = EncryptionMode::NotSupported; // used when a certificate is given
    LogFunction log;                                          // one line per event; default: stderr
};

class Server {
public:
    explicit Server(ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the certificate, binds and starts serving; throws
    // std::runtime_error when it cannot do either.
    void start();
    // Stops accepting, cancels and closes every connection, waits for them.
    void stop();

    int port() const { return m_port; }
    int browserPort() const;
    const ServerOptions& options() const { return m_options; }

private:
    struct Client {
        std::unique_ptr<Connection> connection;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void acceptLoop();
    void reap(bool all);

    ServerOptions m_options;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::thread m_acceptThread;
    std::unique_ptr<BrowserResponder> m_browser;
    std::unique_ptr<TlsContext> m_tls;
    std::mutex m_clientsMutex;
    std::list<Client> m_clients;
    std::uint16_t m_nextSpid = 51;
    bool m_running = false;
};

} // namespace tds
