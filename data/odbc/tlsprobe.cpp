#include "data/odbc/tlsprobe.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace data::odbc {

namespace {

constexpr char kPrelogin = 0x12;
constexpr char kReply = 0x04;
constexpr std::uint8_t kOptionEncryption = 0x01;
constexpr std::uint8_t kOptionEnd = 0xFF;
constexpr std::uint8_t kEncryptNotSupported = 0x02;

// Closes the socket however the probe ends.
struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

// A connected socket to host:port, or -1.
int connectTo(const QString& host, int port, const QDeadlineTimer& deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints,
                      &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        int error = 0;
        socklen_t length = sizeof error;
        const bool connected =
            ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
            (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline) &&
             ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
        if (!connected) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

QString serverName(const ServerAddress& a) {
    if (!a.instance.isEmpty())
        return a.host + QLatin1Char('\\') + a.instance;
    return a.port ? QStringLiteral("%1,%2").arg(a.host).arg(a.port) : a.host;
}

// The records of a connect that broke off before the login was answered:
// the driver's "connection failed" (20002) and no message of the server.
// A refused certificate, a failed TLS handshake and a server without TLS
// when TLS is required all end this way.
bool brokeOffBeforeLogin(const QList<DiagRecord>& records) {
    bool failed = false;
    for (const DiagRecord& r : records) {
        if (r.nativeError > 0 && r.nativeError < 20000)
            return false;
        failed = failed || r.nativeError == 20002;
    }
    return failed;
}

} // namespace

QByteArray preloginProbe() {
    // VERSION (6 bytes) and ENCRYPTION (1 byte), after the option table.
    const char payload[] = {0x00,       0x00, 0x0B, 0x00, 0x06, //
                            0x01,       0x00, 0x11, 0x00, 0x01, //
                            char(0xFF),                         //
                            0x09,       0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    QByteArray packet;
    const int length = 8 + int(sizeof payload);
    packet.append(kPrelogin).append(char(0x01)); // end of message
    packet.append(char(length >> 8)).append(char(length & 0xFF));
    packet.append(4, '\0'); // SPID, packet number, window
    packet[6] = 0x01;
    packet.append(payload, sizeof payload);
    return packet;
}

ServerEncryption encryptionInReply(const QByteArray& reply) {
    if (reply.size() < 8 || reply.at(0) != kReply)
        return ServerEncryption::Unknown;
    const auto* p = reinterpret_cast<const std::uint8_t*>(reply.constData()) + 8;
    const qsizetype size = qMin<qsizetype>(reply.size(), (std::uint8_t(reply.at(2)) << 8) |
                                                             std::uint8_t(reply.at(3))) -
                           8;
    for (qsizetype i = 0; i + 5 <= size && p[i] != kOptionEnd; i += 5) {
        const int offset = (p[i + 1] << 8) | p[i + 2];
        const int length = (p[i + 3] << 8) | p[i + 4];
        if (p[i] == kOptionEncryption && length >= 1 && offset < size)
            return p[offset] == kEncryptNotSupported ? ServerEncryption::NotOffered
                                                     : ServerEncryption::Offered;
    }
    return ServerEncryption::Unknown;
}

ServerEncryption probeServerEncryption(const QString& host, int port, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    Socket s;
    s.fd = connectTo(host, port, deadline);
    if (s.fd < 0)
        return ServerEncryption::Unknown;
    const QByteArray request = preloginProbe();
    if (!waitFor(s.fd, POLLOUT, deadline) ||
        ::send(s.fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) !=
            request.size())
        return ServerEncryption::Unknown;
    QByteArray reply;
    char buf[4096];
    // Reads until the packet's own length has arrived.
    while (reply.size() < 8 ||
           reply.size() < ((std::uint8_t(reply.at(2)) << 8) | std::uint8_t(reply.at(3)))) {
        if (!waitFor(s.fd, POLLIN, deadline))
            return ServerEncryption::Unknown;
        const ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
        if (n <= 0)
            return ServerEncryption::Unknown;
        reply.append(buf, n);
    }
    return encryptionInReply(reply);
}

ConnectionError explainConnectFailure(const ConnectionError& error, const OdbcTarget& target,
                                      const DriverSettings& settings) {
    // Only a connection that had to be encrypted or checked is explained.
    if ((target.encryption != QLatin1String("require") && settings.caFile.isEmpty()) ||
        !brokeOffBeforeLogin(error.records()))
        return error;
    const ServerAddress& a = target.address;
    if (!a.instance.isEmpty())
        return error; // the port is known to the browser service only
    const ServerEncryption offered = probeServerEncryption(
        a.host, a.port ? a.port : 1433,
        1000 * (target.loginTimeout > 0 ? qMin(target.loginTimeout, 10) : 10));
    const QString server = serverName(a);
    auto raise = [&](const QString& text) {
        return ConnectionError(text, error.sqlState(), error.nativeError(), error.records());
    };
    if (offered == ServerEncryption::NotOffered)
        return raise(QStringLiteral("Der Server %1 bietet keine verschlüsselte Verbindung an, "
                                    "verlangt ist aber eine (TARNWICK_ODBC_ENCRYPTION=require, "
                                    "TARNWICK_ODBC_CAFILE oder Encrypt=yes). Die Anmeldedaten "
                                    "wurden nicht gesendet")
                         .arg(server));
    if (offered == ServerEncryption::Unknown)
        return error;
    if (!settings.caFile.isEmpty())
        return raise(QStringLiteral("Das Zertifikat des Servers %1 wurde nicht anerkannt: Es "
                                    "stammt nicht von einer Zertifizierungsstelle aus \"%2\" "
                                    "(TARNWICK_ODBC_CAFILE), ist abgelaufen oder lautet nicht auf "
                                    "den Namen \"%3\". Die Anmeldedaten wurden nicht gesendet")
                         .arg(server, settings.caFile, a.host));
    return raise(QStringLiteral("Die verschlüsselte Verbindung zum Server %1 kam nicht zustande "
                                "(TLS-Aushandlung gescheitert). Die Anmeldedaten wurden nicht "
                                "gesendet")
                     .arg(server));
}

} // namespace data::odbc
