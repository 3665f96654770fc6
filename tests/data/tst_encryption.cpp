// Encryption through the FreeTDS driver: every client setting against every
// server setting, with the raw bytes on the socket checked by a relay.

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/dataerror.h"
#include "data/odbc/tlsprobe.h"
#include "tests/support/tlsmatrix.h"

#include <QtTest>

#include <memory>

using namespace data;

class TestEncryption : public QObject {
    Q_OBJECT

    std::unique_ptr<EncryptionLab> m_lab;

private slots:
    void initTestCase() { m_lab = std::make_unique<EncryptionLab>(); }
    void cleanupTestCase() { m_lab.reset(); }

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
        TcpRelay& relay = m_lab->relay(c.server);
        relay.clear();

        TADOConnection conn;
        conn.setConnectionString(
            QStringLiteral("Provider=SQLOLEDB.1;User ID=%1;Password=%2;Data Source=%3")
                .arg(QString::fromStdString(server.user()),
                     QString::fromStdString(server.password()), m_lab->dataSource(c.server)));
        const std::string marker = "tw_marker_reply";
        QString refusal;
        try {
            TADODataSet ds;
            ds.setConnection(&conn);
            ds.setCommandText(
                QStringLiteral("select '%1' as m").arg(QString::fromStdString(marker)));
            ds.Open();
            QCOMPARE(ds.FieldByName("m").AsString(), QString::fromStdString(marker));
        } catch (const ConnectionError& e) {
            refusal = e.message();
        }
        QCOMPARE(!refusal.isEmpty(), EncryptionLab::refused(c));
        if (!refusal.isEmpty())
            QCOMPARE(EncryptionLab::verifyRefusal(c, refusal), QString());
        QCOMPARE(EncryptionLab::verifyWire(c, relay, server.password(), marker), QString());
    }

    // The probe behind the "no encryption offered" message reads the
    // server's answer, not the client's wish.
    void probeReadsTheServersAnswer() {
        using odbc::ServerEncryption;
        QCOMPARE(
            odbc::probeServerEncryption("127.0.0.1", m_lab->server(ServerTls::None).port(), 5000),
            ServerEncryption::NotOffered);
        QCOMPARE(
            odbc::probeServerEncryption("127.0.0.1", m_lab->server(ServerTls::Off).port(), 5000),
            ServerEncryption::Offered);
        QCOMPARE(odbc::encryptionInReply(QByteArray::fromHex("0401000b0000010001")),
                 ServerEncryption::Unknown); // an option table cut short
    }
};

QTEST_GUILESS_MAIN(TestEncryption)
#include "tst_encryption.moc"
