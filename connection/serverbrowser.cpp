#include "serverbrowser.h"

#include <QElapsedTimer>
#include <QHash>
#include <QNetworkDatagram>
#include <QSet>
#include <QUdpSocket>

namespace {

constexpr char kResponse = 0x05;
constexpr char kBroadcastRequest = 0x02; // CLNT_BCAST_EX: every instance of every host
constexpr char kUnicastRequest = 0x03;   // CLNT_UCAST_EX: every instance of one host
const QString kDefaultInstance = QStringLiteral("MSSQLSERVER");

QString hostText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // also unwraps ::ffff:a.b.c.d
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

ServerSearchError::ServerSearchError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

QList<BrowserInstance> parseBrowserReply(const QByteArray& datagram)
{
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

QList<DiscoveryTarget> parseDiscoveryTargets(const QString& text)
{
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

QString listedServerName(const BrowserInstance& instance, const QHostAddress& from,
                         quint16 browserPort)
{
    if (browserPort != kBrowserPort && instance.tcpPort > 0)
        return hostText(from) + u',' + QString::number(instance.tcpPort);
    if (instance.instanceName.compare(kDefaultInstance, Qt::CaseInsensitive) == 0)
        return instance.serverName;
    return instance.serverName + u'\\' + instance.instanceName;
}

QStringList ListAvailableSQLServers(const std::function<void()>& processEvents, int waitMs)
{
    const bool configured = qEnvironmentVariableIsSet("TARNWICK_DISCOVERY");
    QList<DiscoveryTarget> targets;
    char request = kUnicastRequest;
    if (configured) {
        targets = parseDiscoveryTargets(qEnvironmentVariable("TARNWICK_DISCOVERY"));
    } else {
        targets.append({QHostAddress(QHostAddress::Broadcast), kBrowserPort});
        request = kBroadcastRequest;
    }
    if (targets.isEmpty())
        return {};

    bool allLoopback = true;
    for (const DiscoveryTarget& t : targets)
        allLoopback = allLoopback && t.address.isLoopback() &&
                      t.address.protocol() == QAbstractSocket::IPv4Protocol;
    QUdpSocket socket;
    // Replies come back to the port the request left from; a search that
    // only asks this machine listens on the loopback address alone.
    if (!socket.bind(allLoopback ? QHostAddress(QHostAddress::LocalHost)
                                 : QHostAddress(QHostAddress::Any),
                     0))
        throw ServerSearchError(QStringLiteral("Die Suche nach SQL-Servern ist fehlgeschlagen: %1")
                                    .arg(socket.errorString()));
    for (const DiscoveryTarget& t : targets) {
        if (socket.writeDatagram(QByteArray(1, request), t.address, t.port) != 1)
            throw ServerSearchError(
                QStringLiteral("Die Suche nach SQL-Servern ist fehlgeschlagen: %1")
                    .arg(socket.errorString()));
    }

    QStringList names;
    QSet<QString> seen;   // names in lower case
    QSet<QString> heard;  // "address port" of every target that answered
    auto readReplies = [&] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram d = socket.receiveDatagram();
            const QString from = hostText(d.senderAddress()) + u' ' + QString::number(d.senderPort());
            heard.insert(from);
            for (const BrowserInstance& inst : parseBrowserReply(d.data())) {
                const QString name =
                    listedServerName(inst, d.senderAddress(), quint16(d.senderPort()));
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
            if (!heard.contains(hostText(t.address) + u' ' + QString::number(t.port)))
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
        if (socket.waitForReadyRead(int(qMin<qint64>(left, 50))))
            readReplies();
        if (processEvents)
            processEvents();
    }
    readReplies();
    return names;
}
