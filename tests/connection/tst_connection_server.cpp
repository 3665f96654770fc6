// The dialog against a running test server: its browser answers the server
// search, the listed name connects, and the database box lists the server's
// databases (or, on any failure, nothing and no message).
#include "connection/VelADOMSSQLConnect.h"
#include "connection/connectionstrings.h"
#include "connection/serverbrowser.h"
#include "connection/uFMADOMSSQLConnect.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/connectionstring.h"
#include "modal/modal.h"
#include "settings/registry.h"
#include "tests/support/testserver_fixture.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestConnectionServer : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServer> m_server;
    QTemporaryDir m_config;

    QString serverName() const { return QStringLiteral("127.0.0.1,%1").arg(m_server->port()); }
    QString user() const { return QString::fromStdString(m_server->user()); }
    QString password() const { return QString::fromStdString(m_server->password()); }

    // The databases as the server lists them, asked without the dialog.
    QStringList serverDatabases() const {
        TADOConnection c;
        c.setConnectionString(masterConnectionString(false, serverName(), user(), password()));
        TADODataSet ds;
        ds.setConnection(&c);
        ds.setCommandText("select name from sysdatabases");
        ds.Open();
        QStringList names;
        for (ds.First(); !ds.Eof(); ds.Next())
            names << ds.FieldByName("name").AsString();
        return names;
    }

    struct OddLogin {
        const char* name;
        QString user, password;
    };
    // Every printable character, quotes and separators, blanks at both ends.
    static QList<OddLogin> oddLogins() {
        QString printable;
        for (char16_t c = 0x20; c < 0x7F; ++c)
            printable += QChar(c);
        return {
            {"every printable character", QStringLiteral("alle"), printable},
            {"separators that look like keys", QStringLiteral("a;b=c"),
             QStringLiteral(";Initial Catalog=Musterfirma;x=y")},
            {"braces", QStringLiteral("{we}ird}"), QStringLiteral("}{p}w}")},
            {"quotes", QStringLiteral("o'brien\""), QStringLiteral("\"'both'\"")},
            {"blanks at both ends", QStringLiteral(" leer "), QStringLiteral("  pw  ")},
        };
    }

    void fillLogin(TFMADOMSSQLConnect& d, const QString& pw) const {
        d.EDServer->setEditText(serverName());
        d.RBsql->click();
        d.EDUser->setText(user());
        d.EDPassword->setText(pw);
    }

private slots:
    void initTestCase() {
        QVERIFY(qEnvironmentVariableIsSet("TARNWICK_DISCOVERY")); // nothing may broadcast
        settings::setConfigDirectory(m_config.path());
        std::vector<std::string> logins;
        for (const auto& [name, user, password] : oddLogins())
            logins.insert(logins.end(), {"--login", (user + u':' + password).toStdString()});
        m_server = std::make_unique<TestServer>(logins);
        qputenv("TARNWICK_DISCOVERY", "127.0.0.1:" + QByteArray::number(m_server->browserPort()));
    }
    void cleanup() { modal::setDialogHandler({}); }

    void searchFindsTheTestServer() {
        const QStringList names =
            ListAvailableSQLServers([] { QCoreApplication::processEvents(); }, 10000);
        QCOMPARE(names, QStringList{serverName()});
    }

    void databaseListFollowsTheServer() {
        const QStringList expected = serverDatabases();
        QVERIFY(expected.size() > 1);
        QVERIFY(expected.contains("master"));

        TFMADOMSSQLConnect d;
        fillLogin(d, password());
        d.CBDatabaseEnter();
        QStringList listed;
        for (int i = 0; i < d.CBDatabase->count(); ++i)
            listed << d.CBDatabase->itemText(i);
        QCOMPARE(listed, expected); // in the server's order, unsorted
        QCOMPARE(d.CBDatabase->currentText(), expected.first());
        QVERIFY(d.ADOConnDB->Connected()); // stays open until the next string is built
        QVERIFY(!QGuiApplication::overrideCursor());

        // A preset database wins over the first entry.
        d.PresetDatabase = expected.last();
        d.CBDatabaseEnter();
        QCOMPARE(d.CBDatabase->count(), expected.size());
        QCOMPARE(d.CBDatabase->currentText(), expected.last());

        d.BTOk->click();
        QVERIFY(!d.ADOConnDB->Connected());
    }

    void failedListingIsSwallowed_data() {
        QTest::addColumn<bool>("wrongPassword");
        QTest::newRow("wrong password") << true;
        QTest::newRow("nobody listening") << false;
    }
    void failedListingIsSwallowed() {
        QFETCH(bool, wrongPassword);
        TFMADOMSSQLConnect d;
        fillLogin(d, wrongPassword ? password() + "x" : password());
        if (!wrongPassword) {
            QTcpServer unused; // a port nobody answers on once closed
            QVERIFY(unused.listen(QHostAddress::LocalHost));
            const quint16 port = unused.serverPort();
            unused.close();
            d.EDServer->setEditText(QStringLiteral("127.0.0.1,%1").arg(port));
        }
        d.CBDatabase->addItem("old");
        d.PresetDatabase = "kept";
        d.CBDatabaseEnter(); // no exception, no message
        QCOMPARE(d.CBDatabase->count(), 0);
        QCOMPARE(d.CBDatabase->currentText(), QStringLiteral("kept"));
        QVERIFY(!d.ADOConnDB->Connected());
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void enteringTheDatabaseBoxLists() {
        TFMADOMSSQLConnect d;
        fillLogin(d, password());
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.EDPassword->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.EDPassword, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.CBDatabase));
        QVERIFY(d.CBDatabase->findText("master") >= 0);
    }

    void pickedServerConnects() {
        // The user's way: drop the list down, pick the server, log in, OK.
        TVelADOMSSQLConnect component;
        component.setRegistryRoot(rrCurrentUser);
        component.setRegistryKey("Software\\Kestrune\\Quorlin");
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            d->show();
            d->EDServer->showPopup();
            QAbstractItemView* list = d->EDServer->view();
            list->setCurrentIndex(list->model()->index(1, 0));
            QTest::keyClick(list, Qt::Key_Return);
            d->RBsql->click();
            d->EDUser->setText(user());
            d->EDPassword->setText(password());
            d->BTOk->click();
            return d->result();
        });
        QVERIFY(component.open());
        QCOMPARE(component.Server(), serverName());

        TADOConnection c;
        c.setConnectionString(component.ConnectionString());
        c.Open();
        QVERIFY(c.Connected());
        c.Close();
        c.setConnectionString(masterConnectionString(component.NTAuthentification(),
                                                     component.Server(), component.User(),
                                                     component.Password()));
        c.Open();
        QVERIFY(c.Connected());
    }

    // Odd credentials log in, reach the database the string names and read
    // back unchanged from the connection string.
    void oddCredentialsLogIn() {
        for (const auto& [name, user, password] : oddLogins()) {
            TADOConnection c;
            c.setConnectionString(masterConnectionString(false, serverName(), user, password));
            try {
                c.Open();
            } catch (const std::exception& e) {
                QFAIL(qPrintable(QStringLiteral("%1: %2").arg(name, e.what())));
            }
            TADODataSet ds;
            ds.setConnection(&c);
            ds.setCommandText("select db_name() as d, suser_name() as u");
            ds.Open();
            QCOMPARE(ds.FieldByName("d").AsString(), QStringLiteral("master"));
            QCOMPARE(ds.FieldByName("u").AsString(), user);
            const auto back = data::ConnectionString::parse(c.ConnectionString());
            QCOMPARE(back.value(u"User ID"), user);
            QCOMPARE(back.value(u"Password"), password);
            // The database name, with the same characters, reads back as well.
            const auto db = data::ConnectionString::parse(
                databaseConnectionString(false, password, serverName(), user, password));
            QCOMPARE(db.value(u"Initial Catalog"), password);
        }
    }

    // An empty server name names no server: the driver's error, never this machine.
    void emptyServerNameFails() {
        TADOConnection c;
        c.setConnectionTimeout(3);
        c.setConnectionString(masterConnectionString(false, QString(), QString(), QString()));
        QVERIFY_THROWS_EXCEPTION(std::exception, c.Open());
        QVERIFY(!c.Connected());
    }
};

QTEST_MAIN(TestConnectionServer)
#include "tst_connection_server.moc"
