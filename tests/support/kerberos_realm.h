#pragma once
// A throw-away MIT Kerberos realm for end-to-end tests of integrated logins:
// a KDC on a free port of 127.0.0.1 with its database, configuration,
// keytabs and the ticket cache in a fresh temporary folder. KRB5_CONFIG and
// KRB5CCNAME point there while the object lives (nothing in /etc is read or
// changed); the KDC is stopped by its PID and the folder removed when it goes.
//
//     KerberosRealm realm;                     // user alice@TDS.TEST holds a ticket
//     TestServer server({"--kerberos-keytab", realm.serviceKeytab(),
//                        "--windows-login", realm.userPrincipal()});
//     realm.addService(server.port());         // MSSQLSvc/127.0.0.1:PORT

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class KerberosRealm {
public:
    // Throws std::runtime_error when a step fails (the output of the
    // Kerberos tools is in log()).
    KerberosRealm();
    ~KerberosRealm();
    KerberosRealm(const KerberosRealm&) = delete;
    KerberosRealm& operator=(const KerberosRealm&) = delete;

    static constexpr const char* kRealm = "TDS.TEST";
    std::string userPrincipal() const { return std::string("alice@") + kRealm; }
    // The keytab a server accepts with; it holds MSSQLSvc/127.0.0.1 from the start.
    const std::string& serviceKeytab() const { return m_serviceKeytab; }
    const std::string& directory() const { return m_dir; }
    int kdcPort() const { return m_kdcPort; }
    // How long the realm took to set up, the first ticket included.
    std::chrono::milliseconds setupTime() const { return m_setupTime; }

    // Registers MSSQLSvc/HOST:PORT with the KDC; its key goes into the
    // service keytab unless `intoKeytab` is false (a server that lacks it).
    void addService(int port, const std::string& host = "127.0.0.1", bool intoKeytab = true);
    // A fresh ticket for the user (kinit from the user's keytab).
    void kinit();
    // A ticket that has run out: one of a second's lifetime, waited out.
    void kinitExpired();
    // No ticket at all.
    void kdestroy();

    std::string log() const;

private:
    // Runs a Kerberos tool with its output going to the log; returns its exit status.
    int run(const std::vector<std::string>& args, const std::string& input = {});
    // The same, throwing when the tool fails.
    void mustRun(const std::vector<std::string>& args, const std::string& input = {});
    void startKdc();
    // Stops the KDC, restores the environment, removes the folder.
    void cleanup();

    std::string m_dir;
    std::string m_serviceKeytab;
    int m_kdcPort = 0;
    pid_t m_kdcPid = -1;
    std::chrono::milliseconds m_setupTime{0};
    std::string m_oldConfig, m_oldCache;
    bool m_hadConfig = false, m_hadCache = false;
};
