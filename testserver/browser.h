#pragma once
// SQL Server Browser (SSRP) on UDP: tells clients which TCP port an instance
// listens on.

#include "testserver/wire.h"

#include <string>
#include <thread>

namespace tds {

struct BrowserInfo {
    std::string serverName;   // e.g. "TESTSERVER"
    std::string instanceName; // e.g. "MSSQLSERVER" for the default instance
    std::string version;      // digits and dots, e.g. "9.00.1399.06"
    int tcpPort = 0;
};

// The reply to one request datagram; empty when there is nothing to answer
// (unknown request, or an instance that is not ours).
Bytes browserReply(const std::uint8_t* request, std::size_t size, const BrowserInfo& info);

class BrowserResponder {
public:
    BrowserResponder(BrowserInfo info, LogFunction log);
    ~BrowserResponder();
    BrowserResponder(const BrowserResponder&) = delete;
    BrowserResponder& operator=(const BrowserResponder&) = delete;

    // Binds the UDP port (0 = any free port); throws std::runtime_error.
    void start(const std::string& address, int port);
    void stop();
    int port() const { return m_port; }

private:
    void loop();

    BrowserInfo m_info;
    LogFunction m_log;
    int m_fd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace tds
