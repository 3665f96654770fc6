// The connection dialog and the component that drives it, without a server:
// layout, presets, radio buttons, the server list and the stored values.
#include "connection/VelADOMSSQLConnect.h"
#include "connection/serverbrowser.h"
#include "connection/uFMADOMSSQLConnect.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "modal/modal.h"
#include "settings/registry.h"
#include "tests/connection/fakebrowser.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kKey = QStringLiteral("Software\\Kestrune\\Quorlin");

QString stored(const QString& name) {
    settings::Registry r;
    if (!r.openKeyReadOnly(kKey))
        return QStringLiteral("<no key>");
    if (!r.valueExists(name))
        return QStringLiteral("<missing>");
    return r.readString(name);
}

void store(const QString& name, const QString& value) {
    settings::Registry r;
    QVERIFY(r.openKey(kKey, true));
    r.writeString(name, value);
}

template <class T> T* child(QDialog* d, const char* name) {
    T* w = d->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

TVelADOMSSQLConnect* mainWindowComponent(QObject* owner) {
    auto* c = new TVelADOMSSQLConnect(owner);
    c->setShowDatabases(false);
    c->setRegistryRoot(rrCurrentUser);
    c->setRegistryKey(kKey);
    return c;
}

} // namespace

class TestConnectionDialog : public QObject {
    Q_OBJECT

    QTemporaryDir* m_dir = nullptr;

private slots:
    void initTestCase() {
        // Nothing here may ever broadcast.
        QVERIFY(qEnvironmentVariableIsSet("TARNWICK_DISCOVERY"));
    }
    void init() {
        m_dir = new QTemporaryDir;
        settings::setConfigDirectory(m_dir->path());
        qputenv("TARNWICK_DISCOVERY", "");
    }
    void cleanup() {
        modal::setDialogHandler({});
        settings::setConfigDirectory({});
        delete m_dir;
    }

    // ---- the dialog on its own ----

    void controlsAndTexts() {
        TFMADOMSSQLConnect d;
        QCOMPARE(d.objectName(), QStringLiteral("FMADOMSSQLConnect"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Verbinden mit MSSQL-Server"));
        QCOMPARE(d.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(d.font().pointSize(), 8);
        const std::pair<const char*, const char*> texts[] = {
            {"Label4", "&SQL Server:"},
            {"Label1", "Verbindungsinformationen:"},
            {"LBuser", "&Benutzername:"},
            {"LBPassword", "&Kennwort:"},
            {"Label2", "&Datenbank:"}};
        for (const auto& [name, text] : texts)
            QCOMPARE(child<QLabel>(&d, name)->text(), QString::fromUtf8(text));
        QCOMPARE(child<QRadioButton>(&d, "RBnt")->text(),
                 QStringLiteral("&Windows NT-Authentifizierung verwenden"));
        QCOMPARE(child<QRadioButton>(&d, "RBsql")->text(),
                 QStringLiteral("S&QL Server-Authentifizierung verwenden"));
        QCOMPARE(child<QPushButton>(&d, "BTOk")->text(), QStringLiteral("OK"));
        QVERIFY(child<QPushButton>(&d, "BTOk")->isDefault());
        QCOMPARE(child<QPushButton>(&d, "BTCancel")->text(), QStringLiteral("&Abbrechen"));
        QCOMPARE(d.EDServer->count(), 1);
        QCOMPARE(d.EDServer->itemText(0), QStringLiteral("[Erneut einlesen...]"));
        QCOMPARE(d.EDServer->currentText(), QString());
        QCOMPARE(d.CBDatabase->count(), 0);
        QVERIFY(d.RBnt->isChecked());
        for (QWidget* w :
             {static_cast<QWidget*>(d.LBuser), static_cast<QWidget*>(d.EDUser),
              static_cast<QWidget*>(d.LBPassword), static_cast<QWidget*>(d.EDPassword)})
            QVERIFY(!w->isEnabled());
        QCOMPARE(d.EDPassword->echoMode(), QLineEdit::Password);
        // The server box beside its label, the two ways to sign in one under the
        // other, the buttons side by side at the foot, all whole inside the dialog.
        const auto at = [&d](const QWidget* c) {
            return QRect(c->mapTo(&d, QPoint(0, 0)), c->size());
        };
        const QRect server = at(d.EDServer), serverLabel = at(child<QLabel>(&d, "Label4"));
        QVERIFY(serverLabel.right() < server.left());
        QVERIFY(serverLabel.top() < server.bottom() && server.top() < serverLabel.bottom());
        QVERIFY(at(d.RBnt).bottom() < at(d.RBsql).top());
        QVERIFY(at(child<QPushButton>(&d, "BTOk")).right() < at(d.BTCancel).left());
        for (const QWidget* c : std::initializer_list<const QWidget*>{
                 d.EDServer, d.RBnt, d.RBsql, d.BTCancel, child<QPushButton>(&d, "BTOk")})
            QVERIFY2(d.rect().contains(at(c)), qPrintable(c->objectName()));
        QCOMPARE(d.ADOConnDB->ConnectionTimeout(), 5);
        QCOMPARE(d.ADODSDatabases->CommandText(), QStringLiteral("select  name from sysdatabases"));
        QVERIFY(d.ADOConnDB->ConnectionString().isEmpty());
    }

    void heightFitsVisiblePanels_data() {
        QTest::addColumn<bool>("authentication");
        QTest::addColumn<bool>("databases");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("buttonsTop");
        QTest::newRow("all") << true << true << 233 << 191;
        QTest::newRow("no database") << true << false << 200 << 158;
        QTest::newRow("no authentication") << false << true << 108 << 66;
        QTest::newRow("neither") << false << false << 75 << 33;
    }
    void heightFitsVisiblePanels() {
        QFETCH(bool, authentication);
        QFETCH(bool, databases);
        QFETCH(int, height);
        QFETCH(int, buttonsTop);
        TVelADOMSSQLConnect c;
        c.setShowAuthentification(authentication);
        c.setShowDatabases(databases);
        int seenHeight = 0, seenWidth = 0, seenTop = 0;
        modal::setDialogHandler([&](QDialog* dlg) {
            dlg->show(); // the real sizes, as the user sees them
            seenHeight = dlg->height();
            seenWidth = dlg->width();
            seenTop = child<QFrame>(dlg, "PAButtons")->y();
            return int(QDialog::Rejected);
        });
        QVERIFY(!c.open());
        QCOMPARE(seenHeight, height);
        QCOMPARE(seenWidth, 295);
        QCOMPARE(seenTop, buttonsTop);
    }

    void tabOrder() {
        TFMADOMSSQLConnect d;
        const QStringList interesting{"EDServer",   "RBnt",       "RBsql", "EDUser",
                                      "EDPassword", "CBDatabase", "BTOk",  "BTCancel"};
        QStringList order;
        QWidget* w = d.EDServer;
        do {
            if (interesting.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != d.EDServer);
        QCOMPARE(order, interesting);
    }

    void boxesAreNamedByTheirLabels() {
        TFMADOMSSQLConnect d;
        d.RBsql->click();
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        // A line edit takes its label's text as its name; a combo box (whose
        // name is its text) is labelled by it.
        QCOMPARE(QAccessible::queryAccessibleInterface(d.EDUser)->text(QAccessible::Name),
                 QStringLiteral("Benutzername:"));
        QCOMPARE(QAccessible::queryAccessibleInterface(d.EDPassword)->text(QAccessible::Name),
                 QStringLiteral("Kennwort:"));
        const auto labelOf = [](QWidget* box) {
            const auto labels =
                QAccessible::queryAccessibleInterface(box)->relations(QAccessible::Label);
            return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
        };
        QCOMPARE(labelOf(d.EDServer), QStringLiteral("SQL Server:"));
        QCOMPARE(labelOf(d.CBDatabase), QStringLiteral("Datenbank:"));
        // The labels' accelerators reach their boxes.
        QTest::keyClick(&d, Qt::Key_K, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), d.EDPassword);
        QTest::keyClick(&d, Qt::Key_B, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), d.EDUser);
    }

    void tabWalksTheDialog() {
        TFMADOMSSQLConnect d;
        d.RBsql->click(); // user name and password take part
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        d.EDServer->setFocus(Qt::TabFocusReason);
        QStringList walked;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        // The authentication choice is one stop, at the selected button.
        QCOMPARE(walked, (QStringList{"RBsql", "EDUser", "EDPassword", "CBDatabase", "BTOk",
                                      "BTCancel", "EDServer"}));
        // Arrow keys move the choice within the group.
        d.RBsql->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.RBsql, Qt::Key_Up);
        QVERIFY(d.RBnt->isChecked());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.RBnt));
        QVERIFY(!d.EDUser->isEnabled());
        d.EDServer->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.EDServer, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.RBnt));
        QTest::keyClick(d.RBnt, Qt::Key_Tab); // user name and password are disabled now
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(d.CBDatabase));
    }

    void radioButtons() {
        TFMADOMSSQLConnect d;
        d.EDUser->setText("stored");
        d.RBsql->click();
        QVERIFY(d.EDUser->isEnabled() && d.EDPassword->isEnabled());
        QVERIFY(d.LBuser->isEnabled() && d.LBPassword->isEnabled());
        QCOMPARE(d.EDUser->text(), QStringLiteral("stored")); // enabling keeps the texts
        d.EDPassword->setText("pw");
        d.RBnt->click();
        QVERIFY(!d.EDUser->isEnabled() && !d.EDPassword->isEnabled());
        QVERIFY(!d.LBuser->isEnabled() && !d.LBPassword->isEnabled());
        QCOMPARE(d.EDUser->text(), QString());
        QCOMPARE(d.EDPassword->text(), QString());
        // Clicking the button that is already selected changes nothing.
        d.EDUser->setText("kept");
        d.RBnt->click();
        QCOMPARE(d.EDUser->text(), QStringLiteral("kept"));
    }

    void presetServerIsUpperCasedOnce() {
        TFMADOMSSQLConnect d;
        d.PresetServer = "myhost\\sqlexpress";
        d.PresetDatabase = "Musterfirma";
        d.show();
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("MYHOST\\SQLEXPRESS"));
        QCOMPARE(d.CBDatabase->currentText(), QStringLiteral("Musterfirma")); // case kept
        QCOMPARE(d.EDServer->lineEdit()->selectedText(), QStringLiteral("MYHOST\\SQLEXPRESS"));
        // Typed afterwards: keeps its case, also when the dialog is shown again.
        d.EDServer->setEditText("other");
        d.hide();
        d.show();
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("other"));
    }

    void okBuildsTheDatabaseForm() {
        TFMADOMSSQLConnect d;
        d.EDServer->setEditText("SRV");
        d.CBDatabase->setEditText("db");
        d.RBsql->click();
        d.EDUser->setText("sa");
        d.EDPassword->setText("pw;x");
        d.BTOk->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.ADOConnDB->ConnectionString(),
                 QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;"
                                "Password=\"pw;x\";Initial Catalog=db;Data Source=SRV"));
    }

    void escapeCancelsWithoutConnectionString() {
        TFMADOMSSQLConnect d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTest::keyClick(&d, Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(d.ADOConnDB->ConnectionString().isEmpty());
    }

    void databaseBoxWithoutServerRunsNoQuery() {
        TFMADOMSSQLConnect d;
        d.CBDatabase->addItems({"a", "b"});
        d.CBDatabase->setEditText("typed");
        d.CBDatabaseEnter();
        QCOMPARE(d.CBDatabase->count(), 0);
        QCOMPARE(d.CBDatabase->currentText(), QStringLiteral("typed"));
        QVERIFY(d.ADOConnDB->ConnectionString().isEmpty());

        // Hidden database panel: never lists, whatever the server.
        d.EDServer->setEditText("SRV");
        d.PADatabase->hide();
        d.CBDatabaseEnter();
        QVERIFY(d.ADOConnDB->ConnectionString().isEmpty());
    }

    // ---- the server list ----

    void firstDropDownSearchesLaterOnesDoNot() {
        FakeBrowser browser(
            FakeBrowser::response("ServerName;HOST;InstanceName;MSSQLSERVER;tcp;1111;;"));
        qputenv("TARNWICK_DISCOVERY", browser.target());
        TFMADOMSSQLConnect d;
        d.EDServer->showPopup();
        d.EDServer->hidePopup();
        QCOMPARE(browser.requests.size(), 1);
        QCOMPARE(d.EDServer->count(), 2);
        QCOMPARE(d.EDServer->itemText(0), QStringLiteral("[Erneut einlesen...]"));
        QCOMPARE(d.EDServer->itemText(1), QStringLiteral("127.0.0.1,1111"));
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("[Ermittle SQL-Server...]"));
        QVERIFY(!QGuiApplication::overrideCursor());
        QCoreApplication::processEvents(); // the close-up, without a pick
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("[Ermittle SQL-Server...]"));
        d.EDServer->showPopup();
        d.EDServer->hidePopup();
        QCoreApplication::processEvents();
        QCOMPARE(browser.requests.size(), 1);
    }

    void noServerFoundSearchesEveryTime() {
        FakeBrowser quiet;
        qputenv("TARNWICK_DISCOVERY", quiet.target() + "," + quiet.target());
        TFMADOMSSQLConnect d;
        for (int i = 0; i < 2; ++i) {
            d.EDServer->showPopup();
            d.EDServer->hidePopup();
            QCoreApplication::processEvents();
        }
        QCOMPARE(quiet.requests.size(), 4); // two targets, two searches
        QCOMPARE(d.EDServer->count(), 1);
    }

    void pickingTheRereadEntrySearchesAgain() {
        FakeBrowser browser(
            FakeBrowser::response("ServerName;HOST;InstanceName;MSSQLSERVER;tcp;1111;;"));
        qputenv("TARNWICK_DISCOVERY", browser.target());
        TFMADOMSSQLConnect d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.EDServer->showPopup();
        QCOMPARE(browser.requests.size(), 1);
        browser.setReply(
            FakeBrowser::response("ServerName;HOST;InstanceName;MSSQLSERVER;tcp;2222;;"));
        // Pick the first entry from the open list.
        QAbstractItemView* list = d.EDServer->view();
        list->setCurrentIndex(list->model()->index(0, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(browser.requests.size(), 2, 10000);
        QCOMPARE(d.EDServer->count(), 2);
        QCOMPARE(d.EDServer->itemText(0), QStringLiteral("[Erneut einlesen...]"));
        QCOMPARE(d.EDServer->itemText(1), QStringLiteral("127.0.0.1,2222"));
        // Picking a server puts it into the box and searches no more.
        d.EDServer->showPopup();
        list->setCurrentIndex(list->model()->index(1, 0));
        QTest::keyClick(list, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("127.0.0.1,2222"));
        QCOMPARE(browser.requests.size(), 2);
    }

    void failedSearchRaisesAndRestoresTheCursor() {
        qputenv("TARNWICK_DISCOVERY", "not-an-address");
        TFMADOMSSQLConnect d;
        QVERIFY_THROWS_EXCEPTION(ServerSearchError, d.EDServer->showPopup());
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(d.EDServer->count(), 1);
        QCOMPARE(d.EDServer->currentText(), QStringLiteral("[Ermittle SQL-Server...]"));
    }

    // ---- the component ----

    void firstRunOpensWithDefaults() {
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            [&] {
                QCOMPARE(d->EDServer->currentText(), QString());
                QVERIFY(d->RBnt->isChecked());
                QCOMPARE(d->EDUser->text(), QString());
                QVERIFY(!d->EDUser->isEnabled());
                QVERIFY(d->PADatabase->isHidden());
                QVERIFY(!d->PAauthentification->isHidden());
                QCOMPARE(d->height(), 200);
            }();
            return int(QDialog::Rejected);
        });
        QVERIFY(!c->open());
        QCOMPARE(c->Server(), QString());
        QCOMPARE(c->ConnectionString(), QString());
        QVERIFY(!c->NTAuthentification());
        QCOMPARE(stored("MSSQLServer"), QStringLiteral("<no key>"));
    }

    void handWrittenSettingsPresetTheDialog() {
        // What a script writes to open the dialog on a given server and login.
        QFile f(settings::rootFileName(settings::RootKey::CurrentUser));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Software\\Kestrune\\Quorlin]\n"
                "MSSQLServer=\"127.0.0.1,14333\"\n"
                "MSSQLUser=demo\n"
                "MSSQLAuthentification=0\n");
        f.close();
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        QString server, user;
        bool sql = false, userEnabled = false;
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            server = d->EDServer->currentText();
            user = d->EDUser->text();
            sql = d->RBsql->isChecked();
            userEnabled = d->EDUser->isEnabled();
            return int(QDialog::Rejected);
        });
        c->open();
        QCOMPARE(server, QStringLiteral("127.0.0.1,14333"));
        QCOMPARE(user, QStringLiteral("demo"));
        QVERIFY(sql && userEnabled);
    }

    void storedAuthentication_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("sql");
        QTest::newRow("0") << "0" << true;
        QTest::newRow("1") << "1" << false;
        QTest::newRow("2") << "2" << false;
        QTest::newRow("blank around 0") << " 0 " << false;
        QTest::newRow("00") << "00" << false;
        QTest::newRow("word") << "SQL" << false;
        QTest::newRow("empty") << "" << false;
    }
    void storedAuthentication() {
        QFETCH(QString, value);
        QFETCH(bool, sql);
        store("MSSQLAuthentification", value);
        store("MSSQLUser", "sa");
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        bool sqlSelected = false, userEnabled = false, passwordEnabled = false;
        QString user;
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            sqlSelected = d->RBsql->isChecked();
            userEnabled = d->EDUser->isEnabled();
            passwordEnabled = d->EDPassword->isEnabled();
            user = d->EDUser->text();
            return int(QDialog::Rejected);
        });
        c->open();
        QCOMPARE(sqlSelected, sql);
        QCOMPARE(userEnabled, sql);
        QCOMPARE(passwordEnabled, sql);
        QCOMPARE(user, QStringLiteral("sa")); // kept, if disabled, under Windows NT
    }

    void okWithSqlServerAuthentication() {
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        modal::setDialogHandler([&](QDialog* dlg) {
            child<QComboBox>(dlg, "EDServer")->setEditText("127.0.0.1,1433");
            child<QRadioButton>(dlg, "RBsql")->click();
            child<QLineEdit>(dlg, "EDUser")->setText("sa");
            child<QLineEdit>(dlg, "EDPassword")->setText("Geheim!1");
            child<QPushButton>(dlg, "BTOk")->click();
            return dlg->result();
        });
        QVERIFY(c->open());
        QCOMPARE(c->Server(), QStringLiteral("127.0.0.1,1433"));
        QCOMPARE(c->Database(), QString());
        QCOMPARE(c->User(), QStringLiteral("sa"));
        QCOMPARE(c->Password(), QStringLiteral("Geheim!1"));
        QVERIFY(!c->NTAuthentification());
        QCOMPARE(c->ConnectionString(),
                 QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;"
                                "Password=Geheim!1;Initial Catalog=;Data Source=127.0.0.1,1433"));
        QCOMPARE(stored("MSSQLServer"), QStringLiteral("127.0.0.1,1433"));
        QCOMPARE(stored("MSSQLDatabase"), QString());
        QCOMPARE(stored("MSSQLUser"), QStringLiteral("sa"));
        QCOMPARE(stored("MSSQLAuthentification"), QStringLiteral("0"));
        QFile file(settings::rootFileName(settings::RootKey::CurrentUser));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("Geheim"));
    }

    void okUnderWindowsNtKeepsTheStoredUserName() {
        store("MSSQLAuthentification", "1");
        store("MSSQLUser", "sa");
        store("MSSQLServer", "lowhost");
        store("MSSQLDatabase", "Musterfirma");
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        // Accepted without the button: the connection string is built all the same.
        modal::setDialogHandler([](QDialog*) { return int(QDialog::Accepted); });
        QVERIFY(c->open());
        QVERIFY(c->NTAuthentification());
        QCOMPARE(c->User(), QString());
        QCOMPARE(c->Password(), QString());
        QCOMPARE(c->Server(), QStringLiteral("LOWHOST"));
        QCOMPARE(c->Database(), QStringLiteral("Musterfirma")); // the panel is hidden
        QCOMPARE(c->ConnectionString(),
                 QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;"
                                "Persist Security Info=False;Initial Catalog=Musterfirma;"
                                "Data Source=LOWHOST"));
        QCOMPARE(stored("MSSQLUser"), QStringLiteral("sa"));
        QCOMPARE(stored("MSSQLServer"), QStringLiteral("LOWHOST"));
        QCOMPARE(stored("MSSQLAuthentification"), QStringLiteral("1"));

        // Clicking through to Windows NT empties the box, and so the stored name.
        modal::setDialogHandler([](QDialog* dlg) {
            child<QRadioButton>(dlg, "RBsql")->click();
            child<QRadioButton>(dlg, "RBnt")->click();
            child<QPushButton>(dlg, "BTOk")->click();
            return dlg->result();
        });
        QVERIFY(c->open());
        QCOMPARE(stored("MSSQLUser"), QString());
    }

    void cancelKeepsEverything() {
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        modal::setDialogHandler([](QDialog* dlg) {
            child<QComboBox>(dlg, "EDServer")->setEditText("FIRST");
            child<QRadioButton>(dlg, "RBsql")->click();
            child<QLineEdit>(dlg, "EDUser")->setText("u1");
            child<QLineEdit>(dlg, "EDPassword")->setText("p1");
            child<QPushButton>(dlg, "BTOk")->click();
            return dlg->result();
        });
        QVERIFY(c->open());
        const QString connection = c->ConnectionString();
        const QByteArray fileBefore = [] {
            QFile f(settings::rootFileName(settings::RootKey::CurrentUser));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();

        QString presetSeen;
        modal::setDialogHandler([&](QDialog* dlg) {
            presetSeen = child<QComboBox>(dlg, "EDServer")->currentText();
            child<QComboBox>(dlg, "EDServer")->setEditText("SECOND");
            child<QRadioButton>(dlg, "RBnt")->click();
            return int(QDialog::Rejected);
        });
        QVERIFY(!c->open());
        QCOMPARE(presetSeen, QStringLiteral("FIRST"));
        QCOMPARE(c->Server(), QStringLiteral("FIRST"));
        QCOMPARE(c->User(), QStringLiteral("u1"));
        QCOMPARE(c->Password(), QStringLiteral("p1"));
        QVERIFY(!c->NTAuthentification());
        QCOMPARE(c->ConnectionString(), connection);
        QFile f(settings::rootFileName(settings::RootKey::CurrentUser));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), fileBefore);
    }

    void propertiesPresetOverStoredValues() {
        store("MSSQLServer", "STORED");
        store("MSSQLDatabase", "storeddb");
        TVelADOMSSQLConnect c;
        c.setRegistryRoot(rrCurrentUser);
        c.setRegistryKey(kKey);
        c.setServer("prop");
        QString server, database;
        modal::setDialogHandler([&](QDialog* dlg) {
            server = child<QComboBox>(dlg, "EDServer")->currentText();
            database = child<QComboBox>(dlg, "CBDatabase")->currentText();
            return int(QDialog::Rejected);
        });
        c.open();
        QCOMPARE(server, QStringLiteral("PROP"));
        QCOMPARE(database, QStringLiteral("storeddb"));
    }

    void noRegistryKeyReadsAndWritesNothing() {
        store("MSSQLServer", "STORED");
        store("MSSQLAuthentification", "0");
        TVelADOMSSQLConnect c; // the key is empty
        c.setRegistryRoot(rrCurrentUser);
        c.setServer("prop");
        c.setDatabase("propdb");
        QString server, database;
        bool nt = false;
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            server = d->EDServer->currentText();
            database = d->CBDatabase->currentText();
            nt = d->RBnt->isChecked();
            d->EDServer->setEditText("typed");
            d->BTOk->click();
            return d->result();
        });
        QVERIFY(c.open());
        QCOMPARE(server, QString());
        QCOMPARE(database, QString());
        QVERIFY(nt);
        QCOMPARE(c.Server(), QStringLiteral("typed"));
        QCOMPARE(stored("MSSQLServer"), QStringLiteral("STORED"));
    }

    void valueOfAnotherTypeReadsAsEmpty() {
        {
            settings::Registry r;
            QVERIFY(r.openKey(kKey, true));
            r.writeInteger("MSSQLServer", 42);
            r.writeInteger("MSSQLAuthentification", 0);
        }
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        QString server;
        bool nt = false;
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            server = d->EDServer->currentText();
            nt = d->RBnt->isChecked();
            return int(QDialog::Rejected);
        });
        c->open();
        QCOMPARE(server, QString());
        QVERIFY(nt);
    }

    void overlongServerNameIsNotStored() {
        store("MSSQLServer", "OLD");
        std::unique_ptr<TVelADOMSSQLConnect> c(mainWindowComponent(nullptr));
        const QString longName(300, u'S');
        modal::setDialogHandler([&](QDialog* dlg) {
            child<QComboBox>(dlg, "EDServer")->setEditText(longName);
            child<QPushButton>(dlg, "BTOk")->click();
            return dlg->result();
        });
        QVERIFY(c->open());
        QCOMPARE(c->Server(), longName);                        // used for this run
        QCOMPARE(stored("MSSQLServer"), QStringLiteral("OLD")); // but not stored cut short
        QCOMPARE(stored("MSSQLAuthentification"), QStringLiteral("1"));
    }
};

QTEST_MAIN(TestConnectionDialog)
#include "tst_connection_dialog.moc"
