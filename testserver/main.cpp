// tds-testserver: a TDS 7.4 server over SQLite files for tests, benchmarks
// and the demo. Prints "ready ADDR:PORT" once it accepts connections and
// stops cleanly on SIGTERM or SIGINT.

#include "testserver/kerberos.h"
#include "testserver/options.h"
#include "testserver/server.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    tds::CommandLine cmd;
    std::string error;
    if (!tds::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), cmd, error)) {
        std::fprintf(stderr, "tds-testserver: %s\n%s", error.c_str(), tds::usageText());
        return 2;
    }

    // Signals are taken synchronously by this thread; every thread started
    // later inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A test that crashes leaves no server behind: one left running would
    // keep the test's output open, and the test runner would wait for it.
    if (cmd.exitWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            return 1; // the parent died before the request was in place
    }

    try {
        std::filesystem::create_directories(cmd.server.config.dataDir);
        if (cmd.sample)
            tds::createSampleDatabase(cmd.server.config.dataDir);
        if (cmd.bigRows >= 0)
            tds::createBigRows(cmd.server.config.dataDir, cmd.bigRows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tds-testserver: cannot prepare %s: %s\n",
                     cmd.server.config.dataDir.c_str(), e.what());
        return 1;
    }
    const auto& keytab = cmd.server.config.kerberosKeytab;
    if (!keytab.empty()) {
        std::string why;
        if (!tds::keytabUsable(keytab, why)) {
            std::fprintf(stderr, "tds-testserver: keytab %s: %s\n", keytab.c_str(), why.c_str());
            return 2;
        }
    }
    if (!cmd.server.config.windowsLogins.empty() && keytab.empty())
        std::fprintf(stderr, "tds-testserver: --windows-login without --kerberos-keytab; "
                             "integrated logins are refused\n");
    if (cmd.server.config.logins.empty() && cmd.server.config.windowsLogins.empty())
        std::fprintf(stderr, "tds-testserver: no --login given; nobody can log in\n");

    tds::Server server(cmd.server);
    try {
        server.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tds-testserver: %s\n", e.what());
        return 1;
    }
    const std::string& addr = cmd.server.bindAddress;
    if (server.browserPort() >= 0)
        std::printf("ready %s:%d browser %s:%d\n", addr.c_str(), server.port(), addr.c_str(),
                    server.browserPort());
    else
        std::printf("ready %s:%d\n", addr.c_str(), server.port());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    server.stop();
    return 0;
}
