#include "testserver/server.h"

#include "testserver/browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tds {

namespace {

void logToStderr(const std::string& line) {
    // One write per line so lines of several threads do not interleave.
    const std::string text = "tds-testserver: " + line + "\n";
    [[maybe_unused]] ssize_t n = ::write(2, text.data(), text.size());
}

} // namespace

Server::Server(ServerOptions options) : m_options(std::move(options)) {
    if (!m_options.log)
        m_options.log = logToStderr;
}

Server::~Server() {
    stop();
}

int Server::browserPort() const {
    return m_browser ? m_browser->port() : -1;
}

void Server::start() {
    if (!m_options.tlsCertFile.empty() && !m_tls)
        m_tls = std::make_unique<TlsContext>(m_options.tlsCertFile, m_options.tlsKeyFile);
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(std::uint16_t(m_options.port));
    if (::inet_pton(AF_INET, m_options.bindAddress.c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("invalid bind address " + m_options.bindAddress);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(m_listenFd, 64) != 0) {
        const std::string err = std::strerror(errno);
        ::close(m_listenFd);
        m_listenFd = -1;
        throw std::runtime_error("cannot listen on " + m_options.bindAddress + ":" +
                                 std::to_string(m_options.port) + ": " + err);
    }
    socklen_t len = sizeof sa;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);

    if (m_options.browserPort >= 0) {
        BrowserInfo info;
        info.serverName = m_options.config.serverName;
        info.instanceName = m_options.config.instanceName.empty() ? std::string("MSSQLSERVER")
                                                                  : m_options.config.instanceName;
        info.version = m_options.config.productVersion;
        info.tcpPort = m_port;
        m_browser = std::make_unique<BrowserResponder>(info, m_options.log);
        try {
            m_browser->start(m_options.bindAddress, m_options.browserPort);
        } catch (...) {
            m_browser.reset();
            ::close(m_listenFd);
            m_listenFd = -1;
            throw;
        }
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    m_running = true;
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

void Server::stop() {
    if (!m_running)
        return;
    m_running = false;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_acceptThread.join();
    if (m_browser)
        m_browser->stop();
    {
        std::lock_guard lock(m_clientsMutex);
        for (Client& c : m_clients)
            c.connection->stop();
    }
    reap(true);
    ::close(m_listenFd);
    ::close(m_wakeFd);
    m_listenFd = m_wakeFd = -1;
}

void Server::reap(bool all) {
    std::list<Client> done;
    {
        std::lock_guard lock(m_clientsMutex);
        for (auto it = m_clients.begin(); it != m_clients.end();) {
            auto next = std::next(it);
            if (all || it->finished)
                done.splice(done.end(), m_clients, it);
            it = next;
        }
    }
    for (Client& c : done)
        c.thread.join();
}

void Server::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 1000);
        reap(false);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            m_options.log(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd =
            ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                m_options.log(std::string("accept failed: ") + std::strerror(errno));
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        char addr[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
        const std::string peerName = std::string(addr) + ":" + std::to_string(ntohs(peer.sin_port));

        std::lock_guard lock(m_clientsMutex);
        Client& c = m_clients.emplace_back();
        try {
            c.connection = std::make_unique<Connection>(fd, m_options.config, m_nextSpid, peerName,
                                                        m_options.log);
            c.connection->setTls(m_tls.get(), m_options.encryption);
        } catch (const std::exception& e) {
            m_options.log("cannot serve " + peerName + ": " + e.what());
            ::close(fd);
            m_clients.pop_back();
            continue;
        }
        // SPIDs of user connections start at 51, as on SQL Server.
        m_nextSpid = m_nextSpid >= 32000 ? 51 : std::uint16_t(m_nextSpid + 1);
        Client* client = &c;
        c.thread = std::thread([client] {
            client->connection->run();
            client->finished = true;
        });
    }
}

} // namespace tds
