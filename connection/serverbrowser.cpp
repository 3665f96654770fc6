#include "connection/serverbrowser.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char kResponse = 0x05;
constexpr char kBroadcastRequest = 0x02; // CLNT_BCAST_EX: every instance of every host
constexpr char kUnicastRequest = 0x03;   // CLNT_UCAST_EX: every instance of one host
const QString kDefaultInstance = QStringLiteral("MSSQLSERVER");

sockaddr_in6 mappedIPv4(in_addr v4) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr.s6_addr[10] = 0xff;
    a.sin6_addr.s6_addr[11] = 0xff;
    std::memcpy(&a.sin6_addr.s6_addr[12], &v4, 4);
    return a;
}

// The sender of a datagram (an IPv4 or IPv6 socket address) and its port.
BrowserAddress senderAddress(const sockaddr_storage& from, quint16* port) {
    if (from.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(from);
        *port = ntohs(v4.sin_port);
        return BrowserAddress(mappedIPv4(v4.sin_addr));
    }
    auto v6 = reinterpret_cast<const sockaddr_in6&>(from);
    *port = ntohs(v6.sin6_port);
    v6.sin6_port = 0;
    return BrowserAddress(v6);
}

[[noreturn]] void throwSearchFailed(int error) {
    throw ServerSearchError(QStringLiteral("Die Suche nach SQL-Servern ist fehlgeschlagen: %1")
                                .arg(qt_error_string(error)));
}

// A non-blocking UDP socket, closed with the object.
class UdpSocket {
public:
    explicit UdpSocket(int family)
        : m_fd(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        if (m_fd < 0)
            throwSearchFailed(errno);
    }
    ~UdpSocket() { ::close(m_fd); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool BrowserAddress::setAddress(const QString& text) {
    m_set = false;
    m_address = sockaddr_in6{};
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST; // never a name lookup
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (text.isEmpty() || ::getaddrinfo(text.toUtf8().constData(), nullptr, &hints, &found) != 0)
        return false;
    if (found->ai_family == AF_INET) {
        m_address = mappedIPv4(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
        m_set = true;
    } else if (found->ai_family == AF_INET6) {
        m_address = *reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
        m_address.sin6_port = 0;
        m_set = true;
    }
    ::freeaddrinfo(found);
    return m_set;
}

bool BrowserAddress::isIPv4() const {
    return m_set && IN6_IS_ADDR_V4MAPPED(&m_address.sin6_addr);
}

bool BrowserAddress::isIPv4Loopback() const {
    return isIPv4() && m_address.sin6_addr.s6_addr[12] == 127;
}

sockaddr_in BrowserAddress::toIPv4(quint16 port) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    std::memcpy(&a.sin_addr, &m_address.sin6_addr.s6_addr[12], 4);
    return a;
}

sockaddr_in6 BrowserAddress::toIPv6(quint16 port) const {
    sockaddr_in6 a = m_address;
    a.sin6_port = htons(port);
    return a;
}

QString BrowserAddress::toString() const {
    if (!m_set)
        return {};
    char text[NI_MAXHOST] = {};
    int rc = 0;
    if (isIPv4()) {
        const sockaddr_in v4 = toIPv4(0);
        rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&v4), sizeof v4, text, sizeof text,
                           nullptr, 0, NI_NUMERICHOST);
    } else {
        rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&m_address), sizeof m_address, text,
                           sizeof text, nullptr, 0, NI_NUMERICHOST);
    }
    return rc == 0 ? QString::fromLatin1(text) : QString();
}

BrowserAddress BrowserAddress::broadcast() {
    in_addr all{};
    all.s_addr = htonl(INADDR_BROADCAST);
    return BrowserAddress(mappedIPv4(all));
}

ServerSearchError::ServerSearchError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

QList<BrowserInstance> parseBrowserReply(const QByteArray& datagram) {
    if (datagram.size() < 3 || datagram.at(0) != kResponse)
        return {};
    const int declared = quint8(datagram.at(1)) | (quint8(datagram.at(2)) << 8);
    if (declared > datagram.size() - 3)
        return {}; // cut short on the way
    const QStringList tokens = QString::fromLatin1(datagram.mid(3, declared)).split(u';');

    QList<BrowserInstance> instances;
    QHash<QString, QString> values; // keys in lower case
    auto finish = [&] {
        BrowserInstance inst;
        inst.serverName = values.value(QStringLiteral("servername"));
        inst.instanceName = values.value(QStringLiteral("instancename"));
        inst.version = values.value(QStringLiteral("version"));
        bool ok = false;
        const int port = values.value(QStringLiteral("tcp")).toInt(&ok);
        inst.tcpPort = ok && port > 0 && port <= 65535 ? port : 0;
        if (!inst.serverName.isEmpty() && !inst.instanceName.isEmpty())
            instances.append(inst);
        values.clear();
    };
    // Pairs of key and value; an empty key ends an instance (";;").
    for (qsizetype i = 0; i < tokens.size();) {
        if (tokens[i].isEmpty()) {
            if (!values.isEmpty())
                finish();
            ++i;
            continue;
        }
        values.insert(tokens[i].toLower(), i + 1 < tokens.size() ? tokens[i + 1] : QString());
        i += 2;
    }
    if (!values.isEmpty())
        finish();
    return instances;
}

QList<DiscoveryTarget> parseDiscoveryTargets(const QString& text) {
    QList<DiscoveryTarget> targets;
    for (const QString& rawEntry : text.split(u',', Qt::SkipEmptyParts)) {
        const QString entry = rawEntry.trimmed();
        if (entry.isEmpty())
            continue;
        QString host = entry; // a bare address, IPv6 ones included
        QString portText;
        bool hasPort = false;
        bool ok = true;
        if (entry.startsWith(u'[')) { // [v6] or [v6]:port
            const qsizetype close = entry.indexOf(u']');
            const QString rest = close < 0 ? QString() : entry.mid(close + 1);
            ok = close > 0 && (rest.isEmpty() || rest.startsWith(u':'));
            host = entry.mid(1, close - 1);
            hasPort = !rest.isEmpty();
            portText = rest.mid(1);
        } else if (entry.count(u':') == 1) {
            host = entry.section(u':', 0, 0);
            portText = entry.section(u':', 1);
            hasPort = true;
        }
        DiscoveryTarget target;
        ok = ok && target.address.setAddress(host);
        if (ok && hasPort) {
            const uint port = portText.toUInt(&ok);
            ok = ok && port > 0 && port <= 65535;
            target.port = quint16(port);
        }
        if (!ok)
            throw ServerSearchError(
                QStringLiteral("Ungültiges Ziel für die Serversuche: \"%1\"").arg(entry));
        targets.append(target);
    }
    return targets;
}

QString listedServerName(const BrowserInstance& instance, const BrowserAddress& from,
                         quint16 browserPort) {
    if (browserPort != kBrowserPort && instance.tcpPort > 0)
        return from.toString() + u',' + QString::number(instance.tcpPort);
    if (instance.instanceName.compare(kDefaultInstance, Qt::CaseInsensitive) == 0)
        return instance.serverName;
    return instance.serverName + u'\\' + instance.instanceName;
}

QStringList ListAvailableSQLServers(const std::function<void()>& processEvents, int waitMs) {
    const bool configured = qEnvironmentVariableIsSet("TARNWICK_DISCOVERY");
    QList<DiscoveryTarget> targets;
    char request = kUnicastRequest;
    if (configured) {
        targets = parseDiscoveryTargets(qEnvironmentVariable("TARNWICK_DISCOVERY"));
    } else {
        targets.append({BrowserAddress::broadcast(), kBrowserPort});
        request = kBroadcastRequest;
    }
    if (targets.isEmpty())
        return {};

    // The socket is an IPv4 one unless an IPv6 target needs a dual-stack one.
    bool allIPv4 = true;
    bool allLoopback = true;
    for (const DiscoveryTarget& t : targets) {
        allIPv4 = allIPv4 && t.address.isIPv4();
        allLoopback = allLoopback && t.address.isIPv4Loopback();
    }
    UdpSocket socket(allIPv4 ? AF_INET : AF_INET6);
    // Replies come back to the port the request left from; a search that
    // only asks this machine listens on the loopback address alone.
    int bound = 0;
    if (allIPv4) {
        const int on = 1; // as any UDP socket may, the broadcast may be sent
        ::setsockopt(socket.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(allLoopback ? INADDR_LOOPBACK : INADDR_ANY);
        bound = ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    } else {
        const int off = 0; // IPv4 targets too, as mapped addresses
        ::setsockopt(socket.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        bound = ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    }
    if (bound != 0)
        throwSearchFailed(errno);
    for (const DiscoveryTarget& t : targets) {
        ssize_t sent = 0;
        if (allIPv4) {
            const sockaddr_in to = t.address.toIPv4(t.port);
            sent = ::sendto(socket.fd(), &request, 1, 0, reinterpret_cast<const sockaddr*>(&to),
                            sizeof to);
        } else {
            const sockaddr_in6 to = t.address.toIPv6(t.port);
            sent = ::sendto(socket.fd(), &request, 1, 0, reinterpret_cast<const sockaddr*>(&to),
                            sizeof to);
        }
        if (sent != 1)
            throwSearchFailed(errno);
    }

    QStringList names;
    QSet<QString> seen;  // names in lower case
    QSet<QString> heard; // "address port" of every target that answered
    QByteArray datagram(65536, Qt::Uninitialized);
    auto readReplies = [&] {
        for (;;) {
            sockaddr_storage from{};
            socklen_t fromLength = sizeof from;
            const ssize_t size = ::recvfrom(socket.fd(), datagram.data(), datagram.size(), 0,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (size < 0) {
                if (errno == EINTR)
                    continue;
                return; // nothing left to read (or a reported error, which clears it)
            }
            quint16 fromPort = 0;
            const BrowserAddress sender = senderAddress(from, &fromPort);
            heard.insert(sender.toString() + u' ' + QString::number(fromPort));
            for (const BrowserInstance& inst : parseBrowserReply(datagram.left(size))) {
                const QString name = listedServerName(inst, sender, fromPort);
                if (!seen.contains(name.toLower())) {
                    seen.insert(name.toLower());
                    names.append(name);
                }
            }
        }
    };
    auto everyTargetAnswered = [&] {
        if (!configured)
            return false; // a broadcast has no known number of answers
        for (const DiscoveryTarget& t : targets) {
            if (!heard.contains(t.address.toString() + u' ' + QString::number(t.port)))
                return false;
        }
        return true;
    };

    QElapsedTimer clock;
    clock.start();
    while (!everyTargetAnswered()) {
        const qint64 left = waitMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd ready{socket.fd(), POLLIN, 0};
        if (::poll(&ready, 1, int(qMin<qint64>(left, 50))) > 0)
            readReplies();
        if (processEvents)
            processEvents();
    }
    readReplies();
    return names;
}
