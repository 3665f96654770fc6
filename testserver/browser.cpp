#include "testserver/browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <strings.h>

namespace tds {

namespace {

enum BrowserRequest : std::uint8_t {
    ClntBcastEx = 0x02,
    ClntUcastEx = 0x03,
    ClntUcastInst = 0x04,
};
constexpr std::uint8_t kSvrResp = 0x05;

std::string instanceText(const BrowserInfo& info) {
    return "ServerName;" + info.serverName + ";InstanceName;" + info.instanceName +
           ";IsClustered;No;Version;" + info.version + ";tcp;" + std::to_string(info.tcpPort) +
           ";;";
}

} // namespace

Bytes browserReply(const std::uint8_t* request, std::size_t size, const BrowserInfo& info) {
    if (size == 0)
        return {};
    std::string text;
    switch (request[0]) {
    case ClntBcastEx:
    case ClntUcastEx:
        text = instanceText(info);
        break;
    case ClntUcastInst: {
        // Instance name, NUL-terminated (tolerate a missing NUL).
        std::size_t n = 1;
        while (n < size && request[n] != 0)
            ++n;
        const std::string name(reinterpret_cast<const char*>(request + 1), n - 1);
        if (name.size() > 32 || strcasecmp(name.c_str(), info.instanceName.c_str()) != 0)
            return {};
        text = instanceText(info);
        break;
    }
    default:
        return {};
    }
    Bytes reply;
    putU8(reply, kSvrResp);
    putU16(reply, std::uint16_t(text.size()));
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

BrowserResponder::BrowserResponder(BrowserInfo info, LogFunction log)
    : m_info(std::move(info)), m_log(std::move(log)) {}

BrowserResponder::~BrowserResponder() {
    stop();
}

void BrowserResponder::start(const std::string& address, int port) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        throw std::runtime_error(std::string("browser socket: ") + std::strerror(errno));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(std::uint16_t(port));
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("invalid bind address " + address);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        const std::string err = std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
        throw std::runtime_error("cannot bind browser port " + std::to_string(port) + ": " + err);
    }
    socklen_t len = sizeof sa;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { loop(); });
}

void BrowserResponder::stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_fd = m_wakeFd = -1;
}

void BrowserResponder::loop() {
    std::uint8_t buf[2048];
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0)
            continue;
        const Bytes reply = browserReply(buf, std::size_t(n), m_info);
        if (!reply.empty())
            ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     fromLen);
    }
}

} // namespace tds
