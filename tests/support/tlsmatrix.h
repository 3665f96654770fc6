#pragma once
// The encryption matrix: every client setting against every server setting,
// with what must happen. EncryptionLab starts one test server per server
// setting, each behind a relay that records the raw bytes, and sets the
// client's environment for a case; verify*() check a case's outcome.

#include "tests/support/tcprelay.h"
#include "tests/support/testcerts.h"
#include "tests/support/testserver_fixture.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

enum class ServerTls { None, Off, On, Required, WrongName };
enum class CaChoice { None, Issuer, Foreign };
enum class Outcome {
    Clear,     // nothing encrypted
    LoginOnly, // the login packet encrypted, the rest in clear
    Full,      // everything encrypted
    NoTls,     // refused: the server offers no encryption
    BadCert,   // refused: the certificate does not check out
};

struct EncryptionCase {
    const char* name;
    const char* encryption; // TARNWICK_ODBC_ENCRYPTION, "" for unset
    CaChoice ca;            // TARNWICK_ODBC_CAFILE
    ServerTls server;
    Outcome outcome;
};

const std::vector<EncryptionCase>& encryptionMatrix();

class EncryptionLab {
public:
    EncryptionLab(); // throws std::runtime_error
    ~EncryptionLab();

    TestServer& server(ServerTls s) { return *m_servers.at(s); }
    TcpRelay& relay(ServerTls s) { return *m_relays.at(s); }
    // "127.0.0.1,PORT" of the relay in front of the server.
    QString dataSource(ServerTls s) { return QStringLiteral("127.0.0.1,%1").arg(relay(s).port()); }
    // Sets (or unsets) TARNWICK_ODBC_ENCRYPTION and TARNWICK_ODBC_CAFILE.
    void applyClientSettings(const EncryptionCase& c) const;

    // What is wrong with the bytes the relay saw for this case (the password
    // and `marker`, a text the client sent after logging in), or "" when
    // nothing is.
    static QString verifyWire(const EncryptionCase& c, const TcpRelay& relay,
                              const std::string& password, const std::string& marker);
    // What is wrong with the error a refused case raised ("" when nothing).
    static QString verifyRefusal(const EncryptionCase& c, const QString& message);
    static bool refused(const EncryptionCase& c) {
        return c.outcome == Outcome::NoTls || c.outcome == Outcome::BadCert;
    }

private:
    TestCertificates m_certs;
    std::map<ServerTls, std::unique_ptr<TestServer>> m_servers;
    std::map<ServerTls, std::unique_ptr<TcpRelay>> m_relays;
};
