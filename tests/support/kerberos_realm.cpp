#include "tests/support/kerberos_realm.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A port of 127.0.0.1 that is free for both UDP and TCP just now.
int freePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = 0;
        if (::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(udp, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port = ntohs(a.sin_port);
            const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::bind(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                port = 0;
            ::close(tcp);
        }
        ::close(udp);
        if (port > 0)
            return port;
    }
    throw std::runtime_error("no free port for the KDC");
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void setOrUnset(const char* name, bool had, const std::string& value) {
    if (had)
        ::setenv(name, value.c_str(), 1);
    else
        ::unsetenv(name);
}

// Starts a program found on PATH with stdin from `input` and stdout and
// stderr appended to `output`.
pid_t spawn(std::vector<std::string> args, const std::string& input, const std::string& output) {
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error(args[0] + ": " + std::strerror(rc) +
                                 " (scripts/bootstrap installs the Kerberos tools)");
    return pid;
}

} // namespace

KerberosRealm::KerberosRealm() {
    const auto started = Clock::now();
    std::string tmpl = (std::filesystem::temp_directory_path() / "krb-realm-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_dir = tmpl;
    m_serviceKeytab = m_dir + "/service.keytab";
    if (const char* v = std::getenv("KRB5_CONFIG"))
        m_hadConfig = true, m_oldConfig = v;
    if (const char* v = std::getenv("KRB5CCNAME"))
        m_hadCache = true, m_oldCache = v;
    try {
        m_kdcPort = freePort();
        const std::string port = std::to_string(m_kdcPort);
        writeFile(m_dir + "/krb5.conf", "[libdefaults]\n"
                                        " default_realm = " +
                                            std::string(kRealm) +
                                            "\n"
                                            " dns_lookup_kdc = false\n"
                                            " dns_lookup_realm = false\n"
                                            " rdns = false\n"
                                            "[realms]\n " +
                                            kRealm +
                                            " = {\n"
                                            "  kdc = 127.0.0.1:" +
                                            port + "\n }\n");
        writeFile(m_dir + "/kdc.conf", "[kdcdefaults]\n"
                                       " kdc_listen = 127.0.0.1:" +
                                           port +
                                           "\n"
                                           " kdc_tcp_listen = 127.0.0.1:" +
                                           port +
                                           "\n"
                                           "[realms]\n " +
                                           kRealm +
                                           " = {\n"
                                           "  database_name = " +
                                           m_dir +
                                           "/principal\n"
                                           "  key_stash_file = " +
                                           m_dir +
                                           "/stash\n"
                                           "  acl_file = " +
                                           m_dir +
                                           "/kadm5.acl\n"
                                           "  supported_enctypes = aes256-cts-hmac-sha1-96:normal "
                                           "aes128-cts-hmac-sha1-96:normal\n }\n"
                                           "[logging]\n kdc = FILE:" +
                                           m_dir + "/kdc.log\n");
        ::setenv("KRB5_CONFIG", (m_dir + "/krb5.conf").c_str(), 1);
        ::setenv("KRB5_KDC_PROFILE", (m_dir + "/kdc.conf").c_str(), 1);
        ::setenv("KRB5CCNAME", ("FILE:" + m_dir + "/ccache").c_str(), 1);

        mustRun({"kdb5_util", "create", "-s", "-r", kRealm, "-P", "masterpw", "-d",
                 m_dir + "/principal"});
        // One kadmin.local for every principal and key: each start costs.
        mustRun({"kadmin.local", "-r", kRealm}, "addprinc -randkey alice\n"
                                                "addprinc -randkey MSSQLSvc/127.0.0.1\n"
                                                "ktadd -k " +
                                                    m_dir +
                                                    "/user.keytab alice\n"
                                                    "ktadd -k " +
                                                    m_serviceKeytab + " MSSQLSvc/127.0.0.1\n");
        startKdc();
        kinit();
    } catch (...) {
        cleanup();
        throw;
    }
    m_setupTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
}

KerberosRealm::~KerberosRealm() {
    cleanup();
}

void KerberosRealm::cleanup() {
    if (m_kdcPid > 0) {
        ::kill(m_kdcPid, SIGTERM);
        int status = 0;
        while (::waitpid(m_kdcPid, &status, 0) < 0 && errno == EINTR) {
        }
        m_kdcPid = -1;
    }
    setOrUnset("KRB5_CONFIG", m_hadConfig, m_oldConfig);
    setOrUnset("KRB5CCNAME", m_hadCache, m_oldCache);
    ::unsetenv("KRB5_KDC_PROFILE");
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        m_dir.clear();
    }
}

std::string KerberosRealm::log() const {
    return readFile(m_dir + "/tools.log") + readFile(m_dir + "/kdc.log");
}

int KerberosRealm::run(const std::vector<std::string>& args, const std::string& input) {
    writeFile(m_dir + "/input", input);
    const pid_t pid = spawn(args, m_dir + "/input", m_dir + "/tools.log");
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void KerberosRealm::mustRun(const std::vector<std::string>& args, const std::string& input) {
    if (run(args, input) != 0)
        throw std::runtime_error(args[0] + " failed:\n" + log());
}

void KerberosRealm::startKdc() {
    const std::string out = m_dir + "/krb5kdc.out";
    m_kdcPid = spawn({"krb5kdc", "-n", "-r", kRealm}, "/dev/null", out);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (readFile(m_dir + "/kdc.log").find("commencing operation") == std::string::npos) {
        int status = 0;
        if (::waitpid(m_kdcPid, &status, WNOHANG) == m_kdcPid) {
            m_kdcPid = -1;
            throw std::runtime_error("krb5kdc ended at start:\n" + readFile(out) + log());
        }
        if (Clock::now() > deadline)
            throw std::runtime_error("krb5kdc did not start:\n" + log());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void KerberosRealm::addService(int port, const std::string& host, bool intoKeytab) {
    const std::string spn = "MSSQLSvc/" + host + ":" + std::to_string(port);
    std::string commands = "addprinc -randkey " + spn + "\n";
    if (intoKeytab)
        commands += "ktadd -k " + m_serviceKeytab + " " + spn + "\n";
    mustRun({"kadmin.local", "-r", kRealm}, commands);
}

void KerberosRealm::kinit() {
    mustRun({"kinit", "-k", "-t", m_dir + "/user.keytab", userPrincipal()});
}

void KerberosRealm::kinitExpired() {
    mustRun({"kinit", "-l", "1s", "-k", "-t", m_dir + "/user.keytab", userPrincipal()});
    // klist -s fails from the second the ticket ends in; the Kerberos library
    // still uses it in that second, so wait for the next one as well.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (run({"klist", "-s"}) == 0) {
        if (Clock::now() > deadline)
            throw std::runtime_error("the short ticket does not run out");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::time_t endedBy = std::time(nullptr);
    while (std::time(nullptr) <= endedBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void KerberosRealm::kdestroy() {
    run({"kdestroy"});
}
