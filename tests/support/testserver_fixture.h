#pragma once
// Starts the built tds-testserver for an end-to-end test: a fresh temporary
// data folder, fresh random credentials, a free port, the sample database.
// The process is stopped by its PID (SIGTERM, then SIGKILL after a deadline)
// when the object goes, and the data folder is removed.
//
//     TestServer server;                       // throws std::runtime_error on failure
//     connect(server.odbcConnectionString("Musterfirma"));
//     server.stop(); ... server.start();       // same port, same data: a lost server

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class TestServer {
public:
    // `extraArgs` are appended to the command line (e.g. {"--big-rows", "100000"}).
    // `startDeadline` bounds the wait for the server's ready line: a server that
    // generates millions of rows first needs longer than the default.
    explicit TestServer(std::vector<std::string> extraArgs = {},
                        std::chrono::milliseconds startDeadline = std::chrono::seconds(20));
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Starts the server; after a stop() it comes back on the same ports with
    // the same data and credentials. Throws std::runtime_error when the server
    // does not report ready within the deadline.
    void start();
    // Stops the server by its PID: SIGTERM, SIGKILL when it has not ended in time.
    void stop();
    bool isRunning() const { return m_pid > 0; }

    std::string host() const { return "127.0.0.1"; }
    int port() const { return m_port; }
    int browserPort() const { return m_browserPort; }
    const std::string& user() const { return m_user; }
    const std::string& password() const { return m_password; }
    const std::string& dataDir() const { return m_dataDir; }
    pid_t pid() const { return m_pid; }

    // DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=..;UID=..;PWD=..;TDS_Version=7.4;ClientCharset=UTF-8
    // plus DATABASE=.. when a database is given.
    std::string odbcConnectionString(const std::string& database = {}) const;

    // Path of the server executable the fixture starts.
    static std::string executable();

    std::chrono::milliseconds startDeadline;
    std::chrono::milliseconds stopDeadline{5000};

private:
    std::vector<std::string> m_extraArgs;
    std::string m_dataDir;
    std::string m_user;
    std::string m_password;
    int m_port = 0;
    int m_browserPort = 0;
    pid_t m_pid = -1;
};
