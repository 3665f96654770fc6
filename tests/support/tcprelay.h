#pragma once
// A TCP relay on a free port of 127.0.0.1 that passes every connection on to
// a target port and keeps a copy of the raw bytes, so that a test can see
// exactly what crossed the socket (in clear or not).

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TcpRelay {
public:
    explicit TcpRelay(int targetPort); // throws std::runtime_error
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return m_port; }
    // Everything clients sent and everything the target answered, since the
    // last clear(), all connections together.
    std::string fromClients() const;
    std::string toClients() const;
    void clear();

private:
    void acceptLoop();
    void pump(int client);

    int m_targetPort;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::string m_fromClients;
    std::string m_toClients;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
};

// True when `bytes` hold the ASCII `text` as UTF-8 or as UTF-16.
bool containsText(const std::string& bytes, const std::string& text);
// True when `bytes` hold the password as a client could send it in clear:
// as UTF-8, as UTF-16, or as LOGIN7's scrambled UTF-16.
bool containsPassword(const std::string& bytes, const std::string& password);
