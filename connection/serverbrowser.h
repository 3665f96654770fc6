#pragma once
// Finding SQL Servers on the network through the SQL Server Browser service
// (UDP, port 1434): one request, then the replies that arrive within a short
// wait. Each instance is listed under the name a user would type to reach
// it.
//
// Where the request goes is set by the environment variable
// TARNWICK_DISCOVERY, a comma-separated list of host:port (an IPv6 address in
// brackets, the port 1434 when left out). Unset, the request is broadcast to
// port 1434 of the local network; set, it goes to each listed address alone
// and nowhere else (set and empty: discovery sends nothing).

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <netinet/in.h>
#include <stdexcept>

inline constexpr quint16 kBrowserPort = 1434;

class ServerSearchError : public std::runtime_error {
public:
    explicit ServerSearchError(const QString& message);
};

struct BrowserInstance {
    QString serverName;
    QString instanceName;
    QString version;
    int tcpPort = 0; // 0: the instance does not listen on TCP
};

// A numeric IPv4 or IPv6 address (an IPv6 one may carry a scope). Host names
// are not resolved: the search goes only where it is told. An IPv4 address
// is kept in its IPv4-mapped IPv6 form.
class BrowserAddress {
public:
    BrowserAddress() = default;
    explicit BrowserAddress(const QString& text) { setAddress(text); }
    explicit BrowserAddress(const sockaddr_in6& address) : m_address(address), m_set(true) {}
    // Takes a numeric address; false (and the address is unset) when the
    // text is none.
    bool setAddress(const QString& text);
    bool isNull() const { return !m_set; }
    bool isIPv4() const;
    // 127.0.0.0/8.
    bool isIPv4Loopback() const;
    // The address as text; an IPv4 one in its dotted form.
    QString toString() const;
    // The address with a port, IPv4 ones as sockaddr_in for an IPv4 socket.
    sockaddr_in toIPv4(quint16 port) const;
    sockaddr_in6 toIPv6(quint16 port) const;

    static BrowserAddress broadcast();

private:
    sockaddr_in6 m_address{};
    bool m_set = false;
};

struct DiscoveryTarget {
    BrowserAddress address;
    quint16 port = kBrowserPort;
};

// The instances of one reply datagram (SVR_RESP: 0x05, the text's length as
// 16-bit little-endian, then "key;value;...;;" per instance). Anything that
// is not such a reply gives an empty list; instances without a server name
// or an instance name are left out.
QList<BrowserInstance> parseBrowserReply(const QByteArray& datagram);

// The targets of a TARNWICK_DISCOVERY text; throws ServerSearchError naming
// the first entry that is not an address with an optional port.
QList<DiscoveryTarget> parseDiscoveryTargets(const QString& text);

// The name an instance is listed under. Replies from the standard browser
// port give "SERVER" for the default instance and "SERVER\INSTANCE" for a
// named one; a client finds the instance's port by asking that same browser.
// A browser on another port cannot be found that way, so its instances are
// listed as "ADDRESS,PORT" (the address the reply came from, the instance's
// TCP port), which a client reaches directly.
QString listedServerName(const BrowserInstance& instance, const BrowserAddress& from,
                         quint16 browserPort);

// Sends the request and lists the servers that answered within waitMs (all
// listed targets answered ends the wait sooner), in the order the replies
// came, each name once. processEvents runs while waiting. Throws
// ServerSearchError when the request cannot be sent.
QStringList ListAvailableSQLServers(const std::function<void()>& processEvents = {},
                                    int waitMs = 1000);
