// Windows authentication in the window: the connection dialog with
// "Windows NT-Authentifizierung verwenden" logs in with the Kerberos ticket
// of a throw-away realm, and without a ticket the message box says how to
// get one.

#include "app/application.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "connection/uFMADOMSSQLConnect.h"
#include "data/adoconnection.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/kerberos_realm.h"
#include "tests/support/testserver_fixture.h"

#include <QAbstractItemView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

class TestKerberosWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<KerberosRealm> m_realm;
    std::unique_ptr<TestServer> m_server;
    QString serverName() const { return QStringLiteral("127.0.0.1,%1").arg(m_server->port()); }

    // Connects through the dialog as a user does: server name, Windows
    // authentication, OK.
    void connectThroughDialog(TFMMain* w) {
        modal::setDialogHandler([this](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            d->show();
            d->EDServer->setEditText(serverName());
            d->RBnt->click();
            d->BTOk->click();
            return d->result();
        });
        runGuarded([w] { w->ACConnect->trigger(); });
        modal::setDialogHandler({});
    }

private slots:
    void initTestCase() {
        m_realm = std::make_unique<KerberosRealm>();
        m_server = std::make_unique<TestServer>(std::vector<std::string>{
            "--kerberos-keytab", m_realm->serviceKeytab(), "--windows-login", "TDS\\alice"});
        m_realm->addService(m_server->port());
    }
    void cleanupTestCase() {
        m_server.reset();
        m_realm.reset();
    }

    void windowsAuthenticationWithTicket() {
        TempSettings settings;
        MessageRecorder messages;
        FirstActivation = false;
        Workbench wb = createWorkbench();
        TFMMain* w = wb.main;

        m_realm->kinit();
        connectThroughDialog(w);
        QVERIFY2(messages.requests.isEmpty(), qPrintable(messages.texts().join('|')));
        QVERIFY(DM->ADOConnMain->Connected());
        QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - tarnwick 2005 - ") + serverName());
        w->MEQuery->setPlainText(QStringLiteral("select SYSTEM_USER"));
        runGuarded([w] { w->ACQuery->trigger(); });
        QVERIFY(waitForStatement(w));
        QVERIFY2(messages.requests.isEmpty(), qPrintable(messages.texts().join('|')));
        const auto* model = qobject_cast<QAbstractItemView*>(w->DBGridQuery)->model();
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("TDS\\alice"));

        m_realm->kdestroy();
        DM->ADOConnMain->Close();
        connectThroughDialog(w);
        QCOMPARE(messages.requests.size(), 1);
        const QString text = messages.requests.first().text;
        QVERIFY2(text.startsWith(QStringLiteral(
                     "Für die Windows-Authentifizierung wurde kein Kerberos-Ticket gefunden.")) &&
                     text.contains(QStringLiteral("\"kinit benutzer@REALM\"")),
                 qPrintable(text));
        destroyWorkbench(wb);
    }
};

QTEST_MAIN(TestKerberosWindow)
#include "tst_kerberos_window_e2e.moc"
