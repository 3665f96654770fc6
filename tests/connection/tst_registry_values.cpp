// Connection strings and the registry routines of the connection component.
#include "connection/connectionstrings.h"
#include "connection/registrypath.h"
#include "settings/registry.h"

#include <QTemporaryDir>
#include <QtTest>

class TestRegistryValues : public QObject {
    Q_OBJECT

    QTemporaryDir* m_dir = nullptr;

private slots:
    void init() {
        m_dir = new QTemporaryDir;
        settings::setConfigDirectory(m_dir->path());
    }
    void cleanup() {
        settings::setConfigDirectory({});
        delete m_dir;
    }

    void connectionStrings_data() {
        QTest::addColumn<QString>("built");
        QTest::addColumn<QString>("expected");
        QTest::newRow("master, Windows NT")
            << masterConnectionString(true, "SRV\\INST", "ignored", "ignored")
            << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
               "Initial Catalog=master;Data Source=SRV\\INST";
        QTest::newRow("master, SQL Server")
            << masterConnectionString(false, "127.0.0.1,1433", "sa", "geheim")
            << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=geheim;"
               "Initial Catalog=master;Data Source=127.0.0.1,1433";
        QTest::newRow("database, Windows NT")
            << databaseConnectionString(true, "Musterfirma", "SRV")
            << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
               "Initial Catalog=Musterfirma;Data Source=SRV";
        QTest::newRow("database, SQL Server")
            << databaseConnectionString(false, "Musterfirma", "SRV", "sa", "pw")
            << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=pw;"
               "Initial Catalog=Musterfirma;Data Source=SRV";
        QTest::newRow("empty database")
            << databaseConnectionString(true, "", "SRV")
            << "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
               "Initial Catalog=;Data Source=SRV";
        QTest::newRow("everything empty")
            << databaseConnectionString(false, "", "", "", "")
            << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=;Password=;"
               "Initial Catalog=;Data Source=";
        // Values with separators or quotes are quoted as ADO quotes them.
        QTest::newRow("values quoted when they need it")
            << databaseConnectionString(false, "a;b", "s=1", "u'v", "p;w=\"x\"")
            << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=\"u'v\";"
               "Password='p;w=\"x\"';Initial Catalog=\"a;b\";Data Source=\"s=1\"";
    }
    void connectionStrings() {
        QFETCH(QString, built);
        QFETCH(QString, expected);
        QCOMPARE(built, expected);
    }

    void splitRegistryPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("full") << "Software\\Kestrune\\Quorlin\\MSSQLUser"
                              << "Software\\Kestrune\\Quorlin"
                              << "MSSQLUser";
        QTest::newRow("no backslash") << "MSSQLUser"
                                      << ""
                                      << "MSSQLUser";
        QTest::newRow("leading backslash") << "\\MSSQLUser"
                                           << ""
                                           << "MSSQLUser";
        QTest::newRow("trailing backslash") << "Software\\"
                                            << "Software"
                                            << "";
        QTest::newRow("double backslash") << "a\\\\b"
                                          << "a\\"
                                          << "b";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void splitRegistryPath() {
        QFETCH(QString, path);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const auto [k, v] = SplitRegistryPath(path);
        QCOMPARE(k, key);
        QCOMPARE(v, value);
    }

    void writeLimits_data() {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<int>("textLength");
        QTest::addColumn<bool>("written");
        QTest::newRow("all at 254") << 254 << 254 << 254 << true;
        QTest::newRow("key path 255") << 255 << 10 << 10 << false;
        QTest::newRow("value name 255") << 10 << 255 << 10 << false;
        QTest::newRow("text 255") << 10 << 10 << 255 << false;
        QTest::newRow("text far too long") << 10 << 10 << 100000 << false;
        QTest::newRow("empty text") << 10 << 10 << 0 << true;
    }
    void writeLimits() {
        QFETCH(int, keyLength);
        QFETCH(int, nameLength);
        QFETCH(int, textLength);
        QFETCH(bool, written);
        // A key path of one long segment, then the value name.
        const QString path = QString(keyLength, u'k') + u'\\' + QString(nameLength, u'n');
        const QString text(textLength, u't');
        QCOMPARE(WriteRegistryString(rrCurrentUser, path, text), written);
        QCOMPARE(ReadRegistryString(rrCurrentUser, path), written ? text : QString());
        // Nothing half-written either: the key exists only with the value.
        settings::Registry r;
        QCOMPARE(r.keyExists(QString(keyLength, u'k')), written);
    }

    void readFailuresGiveEmptyText() {
        QVERIFY(WriteRegistryString(rrCurrentUser, "Software\\T\\Text", "x"));
        settings::Registry r;
        QVERIFY(r.openKey("Software\\T", false));
        r.writeInteger("Number", 1);
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Software\\T\\Text"), QStringLiteral("x"));
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Software\\T\\Number"), QString());
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Software\\T\\Missing"), QString());
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Software\\Missing\\Value"), QString());
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Bad//Key\\Value"), QString());
        QVERIFY(!r.keyExists("Software\\Missing")); // reading creates nothing
        // Roots are kept apart.
        QCOMPARE(ReadRegistryString(rrLocalMachine, "Software\\T\\Text"), QString());
        QCOMPARE(ReadRegistryString(rrClassesRoot, "Software\\T\\Text"), QString());
    }

    void unwritableStoreWritesNothing() {
        QFile blocker(m_dir->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        settings::setConfigDirectory(blocker.fileName() + "/sub");
        QVERIFY(!WriteRegistryString(rrCurrentUser, "Software\\T\\Text", "x"));
        QCOMPARE(ReadRegistryString(rrCurrentUser, "Software\\T\\Text"), QString());
    }
};

QTEST_GUILESS_MAIN(TestRegistryValues)
#include "tst_registry_values.moc"
