// Reading browser replies, the discovery targets and the names listed.
#include "connection/serverbrowser.h"
#include "tests/connection/fakebrowser.h"

#include <QtTest>

class TestServerBrowser : public QObject {
    Q_OBJECT

private slots:
    void parseReply_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QStringList>("instances"); // "server|instance|port"
        QTest::newRow("one instance")
            << FakeBrowser::response(
                   "ServerName;HOST;InstanceName;MSSQLSERVER;IsClustered;No;Version;9.00.1399.06;"
                   "tcp;1433;;")
            << QStringList{"HOST|MSSQLSERVER|1433"};
        QTest::newRow("two instances, keys in any case")
            << FakeBrowser::response("ServerName;A;InstanceName;I1;tcp;14999;;servername;B;"
                                     "INSTANCENAME;I2;np;\\\\B\\pipe;;")
            << QStringList{"A|I1|14999", "B|I2|0"};
        QTest::newRow("missing final terminator")
            << FakeBrowser::response("ServerName;A;InstanceName;I1;tcp;5000")
            << QStringList{"A|I1|5000"};
        QTest::newRow("port out of range")
            << FakeBrowser::response("ServerName;A;InstanceName;I1;tcp;70000;;")
            << QStringList{"A|I1|0"};
        QTest::newRow("port with trailing text")
            << FakeBrowser::response("ServerName;A;InstanceName;I1;tcp;1433x;;")
            << QStringList{"A|I1|0"};
        QTest::newRow("no instance name")
            << FakeBrowser::response("ServerName;A;tcp;1433;;") << QStringList{};
        QTest::newRow("not a response")
            << QByteArray("\x04ServerName;A;InstanceName;I;;") << QStringList{};
        QTest::newRow("length beyond datagram")
            << QByteArray("\x05\xff\x00ServerName;A;InstanceName;I;;", 31) << QStringList{};
        QTest::newRow("only trailing bytes ignored")
            << FakeBrowser::response("ServerName;A;InstanceName;I;;") +
                   "ServerName;X;InstanceName;Y;;"
            << QStringList{"A|I|0"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("header only") << QByteArray("\x05\x00\x00", 3) << QStringList{};
    }
    void parseReply() {
        QFETCH(QByteArray, datagram);
        QFETCH(QStringList, instances);
        QStringList got;
        for (const BrowserInstance& i : parseBrowserReply(datagram))
            got << QStringLiteral("%1|%2|%3").arg(i.serverName, i.instanceName).arg(i.tcpPort);
        QCOMPARE(got, instances);
    }

    void discoveryTargets_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("targets"); // "address port"; empty with error
        QTest::addColumn<bool>("valid");
        QTest::newRow("one") << "127.0.0.1:5000" << QStringList{"127.0.0.1 5000"} << true;
        QTest::newRow("default port") << "127.0.0.1" << QStringList{"127.0.0.1 1434"} << true;
        QTest::newRow("list with blanks")
            << " 127.0.0.1:1 , 127.0.0.2:2 ," << QStringList{"127.0.0.1 1", "127.0.0.2 2"} << true;
        QTest::newRow("ipv6") << "[::1]:7" << QStringList{"::1 7"} << true;
        QTest::newRow("bare ipv6") << "::1" << QStringList{"::1 1434"} << true;
        QTest::newRow("empty") << "" << QStringList{} << true;
        QTest::newRow("host name") << "localhost:1434" << QStringList{} << false;
        QTest::newRow("port zero") << "127.0.0.1:0" << QStringList{} << false;
        QTest::newRow("port too big") << "127.0.0.1:65536" << QStringList{} << false;
        QTest::newRow("empty port") << "127.0.0.1:" << QStringList{} << false;
        QTest::newRow("bad bracket") << "[::1:7" << QStringList{} << false;
        QTest::newRow("junk after bracket") << "[::1]x7" << QStringList{} << false;
    }
    void discoveryTargets() {
        QFETCH(QString, text);
        QFETCH(QStringList, targets);
        QFETCH(bool, valid);
        if (!valid) {
            QVERIFY_THROWS_EXCEPTION(ServerSearchError, parseDiscoveryTargets(text));
            return;
        }
        QStringList got;
        for (const DiscoveryTarget& t : parseDiscoveryTargets(text))
            got << t.address.toString() + u' ' + QString::number(t.port);
        QCOMPARE(got, targets);
    }

    void listedNames_data() {
        QTest::addColumn<QString>("instance");
        QTest::addColumn<int>("tcpPort");
        QTest::addColumn<int>("browserPort");
        QTest::addColumn<QString>("name");
        QTest::newRow("default instance") << "MSSQLSERVER" << 1433 << 1434 << "HOST";
        QTest::newRow("default instance, any case") << "mssqlserver" << 1433 << 1434 << "HOST";
        QTest::newRow("named instance") << "INST1" << 14999 << 1434 << "HOST\\INST1";
        QTest::newRow("own browser port") << "MSSQLSERVER" << 14999 << 5000 << "127.0.0.1,14999";
        QTest::newRow("own browser port, named") << "INST1" << 14999 << 5000 << "127.0.0.1,14999";
        QTest::newRow("own browser port, no tcp") << "INST1" << 0 << 5000 << "HOST\\INST1";
    }
    void listedNames() {
        QFETCH(QString, instance);
        QFETCH(int, tcpPort);
        QFETCH(int, browserPort);
        QFETCH(QString, name);
        BrowserInstance i{"HOST", instance, "9.0", tcpPort};
        QCOMPARE(listedServerName(i, BrowserAddress("::ffff:127.0.0.1"), quint16(browserPort)),
                 name);
    }

    void searchAsksEachTargetOnce() {
        FakeBrowser a(FakeBrowser::response("ServerName;A;InstanceName;MSSQLSERVER;tcp;1111;;"
                                            "ServerName;A;InstanceName;X;tcp;2222;;"));
        FakeBrowser b(FakeBrowser::response("ServerName;B;InstanceName;MSSQLSERVER;tcp;1111;;"));
        qputenv("TARNWICK_DISCOVERY", a.target() + "," + b.target());
        int processed = 0;
        const QStringList names = ListAvailableSQLServers(
            [&] {
                ++processed;
                QCoreApplication::processEvents(); // lets the fake services answer
            },
            30000);
        // Both answered, so the search ended long before its wait; the same
        // name from two replies is listed once.
        QCOMPARE(names.size(), 2);
        QVERIFY(names.contains("127.0.0.1,1111"));
        QVERIFY(names.contains("127.0.0.1,2222"));
        QCOMPARE(a.requests, QList<QByteArray>{QByteArray(1, '\x03')});
        QCOMPARE(b.requests, QList<QByteArray>{QByteArray(1, '\x03')});
        QVERIFY(processed > 0);
    }

    void mappedIPv4TargetIsAskedOverIPv4() {
        FakeBrowser a(FakeBrowser::response("ServerName;A;InstanceName;I;tcp;1111;;"));
        qputenv("TARNWICK_DISCOVERY", "[::ffff:127.0.0.1]:" + QByteArray::number(a.port()));
        const QStringList names =
            ListAvailableSQLServers([] { QCoreApplication::processEvents(); }, 30000);
        QCOMPARE(names, QStringList{"127.0.0.1,1111"});
    }

    void silentTargetGivesEmptyList() {
        FakeBrowser quiet;
        qputenv("TARNWICK_DISCOVERY", quiet.target());
        QCOMPARE(ListAvailableSQLServers([] { QCoreApplication::processEvents(); }, 200),
                 QStringList());
        QCOMPARE(quiet.requests.size(), 1);
    }

    void garbageRepliesAreIgnored() {
        FakeBrowser noisy("\x05\x10\x00short");
        qputenv("TARNWICK_DISCOVERY", noisy.target());
        QCOMPARE(ListAvailableSQLServers([] { QCoreApplication::processEvents(); }, 300),
                 QStringList());
        QCOMPARE(noisy.requests.size(), 1);
    }

    void emptyConfigurationSendsNothing() {
        qputenv("TARNWICK_DISCOVERY", "");
        QCOMPARE(ListAvailableSQLServers({}, 5000), QStringList());
    }

    void badConfigurationFails() {
        qputenv("TARNWICK_DISCOVERY", "somewhere:1434");
        try {
            ListAvailableSQLServers({}, 100);
            QFAIL("no error");
        } catch (const ServerSearchError& e) {
            QCOMPARE(QString::fromUtf8(e.what()),
                     QStringLiteral("Ungültiges Ziel für die Serversuche: \"somewhere:1434\""));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerBrowser)
#include "tst_server_browser.moc"
