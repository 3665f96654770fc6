#include "tests/support/testserver_fixture.h"

#include "data/sqlserverprovider.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string randomToken(std::size_t n) {
    static const char alphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::random_device rd;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += alphabet[pick(rd)];
    return s;
}

// Parses "ready 127.0.0.1:PORT[ browser 127.0.0.1:BPORT]".
bool parseReady(const std::string& line, int& port, int& browserPort) {
    if (line.rfind("ready ", 0) != 0)
        return false;
    const auto colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    port = std::atoi(line.c_str() + colon + 1);
    const auto browser = line.find(" browser ");
    if (browser != std::string::npos) {
        const auto c2 = line.find(':', browser);
        if (c2 == std::string::npos)
            return false;
        browserPort = std::atoi(line.c_str() + c2 + 1);
    }
    return port > 0;
}

} // namespace

std::string TestServer::executable() {
    if (const char* env = std::getenv("TARNWICK_TDS_TESTSERVER"); env && *env)
        return env;
    return TARNWICK_TDS_TESTSERVER_PATH;
}

TestServer::TestServer(std::vector<std::string> extraArgs, std::chrono::milliseconds deadline)
    : startDeadline(deadline), m_extraArgs(std::move(extraArgs)) {
    // A test that starts a SQL Server stand-in talks to it through the SQL
    // Server provider, as the program does after start-up.
    data::registerSqlServerProvider();
    std::string tmpl = (std::filesystem::temp_directory_path() / "tds-testserver-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_dataDir = tmpl;
    m_user = "tw_" + randomToken(8);
    m_password = randomToken(16);
    try {
        start();
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(m_dataDir, ec);
        throw;
    }
}

TestServer::~TestServer() {
    try {
        stop();
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove_all(m_dataDir, ec);
}

std::string TestServer::odbcConnectionString(const std::string& database) const {
    std::string s = "DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=" + std::to_string(m_port) +
                    ";UID=" + m_user + ";PWD=" + m_password +
                    ";TDS_Version=7.4;ClientCharset=UTF-8";
    if (!database.empty())
        s += ";DATABASE=" + database;
    return s;
}

void TestServer::start() {
    if (m_pid > 0)
        return;
    std::vector<std::string> args = {executable(),
                                     "--data",
                                     m_dataDir,
                                     "--port",
                                     std::to_string(m_port),
                                     "--browser-port",
                                     std::to_string(m_browserPort),
                                     "--login",
                                     m_user + ":" + m_password,
                                     "--sample",
                                     "--exit-with-parent"};
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    m_pid = pid;

    // Read the ready line within the deadline.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + startDeadline;
    bool ready = false;
    while (!ready) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, std::size_t(n));
        const auto nl = line.find('\n');
        if (nl != std::string::npos) {
            int port = 0, browserPort = m_browserPort;
            ready = parseReady(line.substr(0, nl), port, browserPort);
            if (ready) {
                m_port = port;
                m_browserPort = browserPort;
            }
            break;
        }
    }
    ::close(fds[0]);
    if (!ready) {
        stop();
        throw std::runtime_error("tds-testserver did not report ready (got \"" + line + "\")");
    }
}

void TestServer::stop() {
    if (m_pid <= 0)
        return;
    const pid_t pid = m_pid;
    m_pid = -1;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopDeadline;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}
