#include "tests/support/tcprelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

TcpRelay::TcpRelay(int targetPort) : m_targetPort(targetPort) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        const std::string why = std::strerror(errno);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        throw std::runtime_error("relay cannot listen: " + why);
    }
    m_port = ntohs(sa.sin_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

TcpRelay::~TcpRelay() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_acceptThread.join();
    for (std::thread& t : m_threads)
        t.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

std::string TcpRelay::fromClients() const {
    std::lock_guard lock(m_mutex);
    return m_fromClients;
}

std::string TcpRelay::toClients() const {
    std::lock_guard lock(m_mutex);
    return m_toClients;
}

void TcpRelay::clear() {
    std::lock_guard lock(m_mutex);
    m_fromClients.clear();
    m_toClients.clear();
}

void TcpRelay::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            m_threads.emplace_back([this, client] { pump(client); });
    }
}

// Copies both ways until either side closes or the relay is stopped.
void TcpRelay::pump(int client) {
    const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(std::uint16_t(m_targetPort));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (target < 0 || ::connect(target, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (target >= 0)
            ::close(target);
        ::close(client);
        return;
    }
    char buf[16384];
    for (bool open = true; open;) {
        pollfd fds[3] = {{client, POLLIN, 0}, {target, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        if (fds[2].revents)
            break;
        for (int i = 0; i < 2 && open; ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n <= 0) {
                open = false;
                break;
            }
            {
                std::lock_guard lock(m_mutex);
                (i == 0 ? m_fromClients : m_toClients).append(buf, std::size_t(n));
            }
            const int to = i == 0 ? target : client;
            for (ssize_t off = 0; off < n && open;) {
                const ssize_t sent = ::send(to, buf + off, std::size_t(n - off), MSG_NOSIGNAL);
                if (sent <= 0)
                    open = false;
                else
                    off += sent;
            }
        }
    }
    ::close(target);
    ::close(client);
}

bool containsText(const std::string& bytes, const std::string& text) {
    std::string utf16;
    for (char c : text)
        utf16 += {c, '\0'};
    return bytes.find(text) != std::string::npos || bytes.find(utf16) != std::string::npos;
}

bool containsPassword(const std::string& bytes, const std::string& password) {
    std::string scrambled;
    for (unsigned char c : password) // the tests' passwords are ASCII
        for (unsigned char b : {c, static_cast<unsigned char>(0)})
            scrambled += char(((b << 4) | (b >> 4)) ^ 0xA5);
    return containsText(bytes, password) || bytes.find(scrambled) != std::string::npos;
}
