// The connection dialog against servers with and without TLS: every client
// setting against every server setting, as a user goes through the dialog
// and the program then opens the connection it built.
#include "connection/VelADOMSSQLConnect.h"
#include "connection/uFMADOMSSQLConnect.h"
#include "data/adoconnection.h"
#include "data/dataerror.h"
#include "modal/modal.h"
#include "settings/registry.h"
#include "tests/support/tlsmatrix.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestConnectionTls : public QObject {
    Q_OBJECT

    std::unique_ptr<EncryptionLab> m_lab;
    QTemporaryDir m_config;

private slots:
    void initTestCase() {
        settings::setConfigDirectory(m_config.path());
        m_lab = std::make_unique<EncryptionLab>();
    }
    void cleanupTestCase() { m_lab.reset(); }
    void cleanup() { modal::setDialogHandler({}); }

    void matrix_data() {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < encryptionMatrix().size(); ++i)
            QTest::newRow(encryptionMatrix()[i].name) << int(i);
    }
    void matrix() {
        QFETCH(int, row);
        const EncryptionCase& c = encryptionMatrix()[std::size_t(row)];
        m_lab->applyClientSettings(c);
        TestServer& server = m_lab->server(c.server);
        m_lab->relay(c.server).clear();

        TVelADOMSSQLConnect component;
        component.setRegistryRoot(rrCurrentUser);
        component.setRegistryKey("Software\\Kestrune\\Quorlin");
        int listed = -1;
        modal::setDialogHandler([&](QDialog* dlg) {
            auto* d = static_cast<TFMADOMSSQLConnect*>(dlg);
            d->EDServer->setEditText(m_lab->dataSource(c.server));
            d->RBsql->click();
            d->EDUser->setText(QString::fromStdString(server.user()));
            d->EDPassword->setText(QString::fromStdString(server.password()));
            d->CBDatabaseEnter(); // a refused server leaves the list empty
            listed = d->CBDatabase->count();
            d->BTOk->click();
            return d->result();
        });
        QVERIFY(component.open());
        QCOMPARE(listed > 0, !EncryptionLab::refused(c));

        TADOConnection conn;
        conn.setConnectionString(component.ConnectionString());
        QString refusal;
        try {
            conn.Open();
        } catch (const data::ConnectionError& e) {
            refusal = e.message();
        }
        QCOMPARE(!refusal.isEmpty(), EncryptionLab::refused(c));
        if (!refusal.isEmpty())
            QCOMPARE(EncryptionLab::verifyRefusal(c, refusal), QString());
        QCOMPARE(
            EncryptionLab::verifyWire(c, m_lab->relay(c.server), server.password(), "sysdatabases"),
            QString());
    }
};

QTEST_MAIN(TestConnectionTls)
#include "tst_connection_tls.moc"
