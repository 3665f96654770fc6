// Integrated logins end to end: the data layer through the FreeTDS driver
// with a Kerberos ticket of a throw-away realm against a test server that
// checks it with its keytab; and what a user reads when the login fails.

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/dataerror.h"
#include "tests/support/kerberos_realm.h"
#include "tests/support/testserver_fixture.h"

#include <QtTest>
#include <memory>

using namespace data;

namespace {

QString integratedString(int port) {
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                          "Info=False;Initial Catalog=master;Data Source=127.0.0.1,%1")
        .arg(port);
}

// The message of the failed open, empty when it succeeded.
QString openError(int port) {
    TADOConnection c;
    c.setConnectionString(integratedString(port));
    try {
        c.Open();
    } catch (const ConnectionError& e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestKerberosEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<KerberosRealm> m_realm;
    std::unique_ptr<TestServer> m_server;

    // A server whose only Windows login is `login`; the KDC knows its service
    // principal, and its keytab holds the key when `withKey`.
    std::unique_ptr<TestServer> kerberosServer(const std::string& login, bool withKey = true) {
        auto server = std::make_unique<TestServer>(std::vector<std::string>{
            "--kerberos-keytab", m_realm->serviceKeytab(), "--windows-login", login});
        m_realm->addService(server->port(), "127.0.0.1", withKey);
        return server;
    }

private slots:
    void initTestCase() {
        m_realm = std::make_unique<KerberosRealm>();
        qInfo("Kerberos realm set up in %lld ms", qlonglong(m_realm->setupTime().count()));
        m_server = kerberosServer("TDS\\alice");
    }
    void cleanupTestCase() {
        m_server.reset();
        m_realm.reset();
    }
    void init() { m_realm->kinit(); }

    void loginWithTicketShowsMappedLogin() {
        TADOConnection c;
        c.setConnectionString(integratedString(m_server->port()));
        c.Open();
        TADODataSet ds;
        ds.setConnection(&c);
        ds.setCommandText("select SYSTEM_USER as s, SUSER_SNAME() as n");
        ds.Open();
        QCOMPARE(ds.FieldByName("s").AsString(), QStringLiteral("TDS\\alice"));
        QCOMPARE(ds.FieldByName("n").AsString(), QStringLiteral("TDS\\alice"));
    }

    void principalFormOfLoginMatches() {
        const auto server = kerberosServer(m_realm->userPrincipal());
        QCOMPARE(openError(server->port()), QString());
    }

    void ticketProblemsAreExplained() {
        m_realm->kdestroy();
        const QString none = openError(m_server->port());
        QVERIFY2(none.contains("kein Kerberos-Ticket gefunden") && none.contains("kinit"),
                 qPrintable(none));

        m_realm->kinitExpired();
        const QString expired = openError(m_server->port());
        QVERIFY2(expired.contains("Kerberos-Ticket von alice@TDS.TEST ist abgelaufen") &&
                     expired.contains("kinit alice@TDS.TEST"),
                 qPrintable(expired));
    }

    void unknownServicePrincipalIsNamed() {
        TestServer unregistered(
            {"--kerberos-keytab", m_realm->serviceKeytab(), "--windows-login", "TDS\\alice"});
        const QString text = openError(unregistered.port());
        QVERIFY2(text.contains(QStringLiteral("kennt den Dienstprinzipal \"MSSQLSvc/127.0.0.1:%1\"")
                                   .arg(unregistered.port())),
                 qPrintable(text));
    }

    void serverRefusals() {
        // A principal without a Windows login on the server.
        const auto other = kerberosServer("TDS\\bob");
        QCOMPARE(openError(other->port()), QStringLiteral("Login failed for user 'TDS\\alice'."));
        // A ticket the server has no key for.
        const auto keyless = kerberosServer("TDS\\alice", false);
        QCOMPARE(openError(keyless->port()),
                 QStringLiteral("Login failed. The login is from an untrusted domain and cannot "
                                "be used with Windows authentication."));
    }
};

QTEST_MAIN(TestKerberosEndToEnd)
#include "tst_kerberos_e2e.moc"
