#include "settings/placement.h"
#include "settings/registry.h"
#include <QGuiApplication>
#include <QScreen>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <sys/stat.h>

using namespace settings;

class TestSettingsStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;

    QString fileText() const {
        QFile f(rootFileName(RootKey::CurrentUser));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll());
    }
    void writeFile(const QByteArray& content) const {
        QDir().mkpath(configDirectory());
        QFile f(rootFileName(RootKey::CurrentUser));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void init() {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        setConfigDirectory(m_dir->filePath(QStringLiteral("config")));
    }
    void cleanup() {
        setConfigDirectory({});
        delete m_dir;
        m_dir = nullptr;
    }

    void rootKeysMapToFilesInTheConfigFolder() {
        QCOMPARE(rootFileName(RootKey::CurrentUser),
                 m_dir->filePath(QStringLiteral("config/HKEY_CURRENT_USER.ini")));
        QCOMPARE(QFileInfo(rootFileName(RootKey::LocalMachine)).fileName(),
                 QStringLiteral("HKEY_LOCAL_MACHINE.ini"));
        setConfigDirectory({});
        qputenv("TARNWICK_CONFIG_DIR", "/some/where");
        QCOMPARE(configDirectory(), QStringLiteral("/some/where"));
        qunsetenv("TARNWICK_CONFIG_DIR");
        QVERIFY(configDirectory().endsWith(QStringLiteral("/tarnwick")));
    }

    void stringsRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "SERVER01";
        QTest::newRow("empty") << "";
        QTest::newRow("comma") << "127.0.0.1,1433";
        QTest::newRow("four numbers") << "-1,-1,-1,-1";
        QTest::newRow("at sign first") << "@ByteArray(x)";
        QTest::newRow("ini syntax") << "a=b; [c] # d";
        QTest::newRow("blanks kept") << "  0  ";
        QTest::newRow("umlauts") << "Größe ÄÖÜ ß";
        QTest::newRow("backslash") << "HOST\\INSTANCE";
        QTest::newRow("quotes") << "say \"hi\"";
        QTest::newRow("line break") << "select 1\r\nselect 2";
        QTest::newRow("long") << QString(4000, u'x');
    }
    void stringsRoundTrip() {
        QFETCH(QString, text);
        {
            Registry r;
            QVERIFY(r.openKey(QString::fromLatin1(kSettingsKey), true));
            r.writeString(QStringLiteral("value"), text);
        }
        Registry r;
        QVERIFY(r.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        QCOMPARE(r.valueType(QStringLiteral("value")), ValueType::String);
        QCOMPARE(r.readString(QStringLiteral("value")), text);
    }

    void keyPaths() {
        Registry w;
        QVERIFY(!w.keyExists(QStringLiteral("Software\\Kestrune\\Quorlin")));
        QVERIFY(!w.openKey(QStringLiteral("Software\\Kestrune\\Quorlin"), false));
        QVERIFY(w.openKey(QStringLiteral("Software\\Kestrune\\Quorlin"), true));
        w.writeString(QStringLiteral("MSSQLServer"), QStringLiteral("S1"));

        Registry r;
        QVERIFY(r.keyExists(QStringLiteral("Software\\Kestrune")));
        QVERIFY(r.keyExists(QStringLiteral("\\SOFTWARE\\kestrune\\QUORLIN\\")));
        QVERIFY(!r.keyExists(QStringLiteral("Software\\Kestrune\\Other")));
        // Names compare without case, and writes keep the stored spelling.
        QVERIFY(r.openKey(QStringLiteral("software\\KESTRUNE\\quorlin"), false));
        QCOMPARE(r.readString(QStringLiteral("mssqlserver")), QStringLiteral("S1"));
        r.writeString(QStringLiteral("MSSQLSERVER"), QStringLiteral("S2"));
        QCOMPARE(r.valueNames(), QStringList{QStringLiteral("MSSQLServer")});
        QVERIFY(fileText().contains(QStringLiteral("Kestrune\\Quorlin\\MSSQLServer=S2")));

        // Paths the file layer cannot represent are refused, not mangled.
        QVERIFY(!r.openKey(QStringLiteral("Software\\\\Kestrune"), true));
        QVERIFY(!r.openKey(QStringLiteral("Software/Kestrune"), true));
        QVERIFY(r.openKey(QStringLiteral("Software\\Kestrune\\Quorlin"), false));
        QVERIFY_THROWS_EXCEPTION(RegistryError, r.writeString(QStringLiteral("a/b"), {}));
        QCOMPARE(r.readString(QStringLiteral("a/b")), QString());
    }

    void defaultValueOfAKey() {
        Registry r;
        QVERIFY(r.openKey(QStringLiteral("Software\\X"), true));
        r.writeString(QString(), QStringLiteral("default"));
        r.writeString(QStringLiteral("@"), QStringLiteral("named"));
        QCOMPARE(r.readString(QString()), QStringLiteral("named")); // "@" is the default's name
        QCOMPARE(r.valueNames(), QStringList{QString()});
    }

    void valueTypes() {
        Registry r;
        QVERIFY(r.openKey(QString::fromLatin1(kSettingsKey), true));
        r.writeInteger(QStringLiteral("maxds"), -5);
        r.writeBinary(QStringLiteral("blob"), QByteArray("\x01\xff", 2));
        r.writeString(QStringLiteral("text"), QStringLiteral("dword:00000001"));

        Registry q;
        QVERIFY(q.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        QCOMPARE(q.valueType(QStringLiteral("maxds")), ValueType::Integer);
        QCOMPARE(q.readInteger(QStringLiteral("maxds")), -5);
        QCOMPARE(q.valueType(QStringLiteral("blob")), ValueType::Binary);
        QCOMPARE(q.valueType(QStringLiteral("text")), ValueType::String);
        QCOMPARE(q.valueType(QStringLiteral("missing")), ValueType::None);
        QCOMPARE(q.readString(QStringLiteral("text")), QStringLiteral("dword:00000001"));
        QCOMPARE(q.readString(QStringLiteral("missing")), QString());
        QVERIFY_THROWS_EXCEPTION(RegistryError, q.readString(QStringLiteral("maxds")));
        QVERIFY_THROWS_EXCEPTION(RegistryError, q.readString(QStringLiteral("blob")));
        QVERIFY_THROWS_EXCEPTION(RegistryError, q.readInteger(QStringLiteral("text")));
        try {
            q.readString(QStringLiteral("maxds"));
        } catch (const RegistryError& e) {
            QCOMPARE(e.message(), QStringLiteral("Ungültiger Datentyp für 'maxds'"));
        }
    }

    void handWrittenFileReads() {
        // The simplest form a script can write: one section per key path.
        writeFile("[Software\\Kestrune\\Quorlin]\n"
                  "MSSQLServer=\"127.0.0.1,1433\"\n"
                  "MSSQLUser=sa\n"
                  "MSSQLAuthentification=0\n"
                  "Unquoted=a,b\n");
        Registry r;
        QVERIFY(r.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        QCOMPARE(r.readString(QStringLiteral("MSSQLServer")), QStringLiteral("127.0.0.1,1433"));
        QCOMPARE(r.readString(QStringLiteral("MSSQLUser")), QStringLiteral("sa"));
        QCOMPARE(r.readString(QStringLiteral("MSSQLAuthentification")), QStringLiteral("0"));
        QCOMPARE(r.readString(QStringLiteral("Unquoted")), QStringLiteral("a,b"));
    }

    void writesNeedAWritableOpenKey() {
        Registry r;
        QVERIFY_THROWS_EXCEPTION(RegistryError, r.writeString(QStringLiteral("x"), {}));
        QVERIFY(r.openKey(QStringLiteral("A"), true));
        r.writeString(QStringLiteral("x"), QStringLiteral("1"));
        QVERIFY(r.openKeyReadOnly(QStringLiteral("A")));
        QVERIFY_THROWS_EXCEPTION(RegistryError, r.writeString(QStringLiteral("x"), {}));
        QVERIFY(!r.deleteValue(QStringLiteral("x")));
        QVERIFY(r.openKey(QStringLiteral("A"), false));
        QVERIFY(r.deleteValue(QStringLiteral("x")));
        QVERIFY(!r.valueExists(QStringLiteral("x")));
    }

    void writesReplaceTheFileWhole() {
        {
            Registry r;
            QVERIFY(r.openKey(QStringLiteral("A"), true));
            r.writeString(QStringLiteral("x"), QStringLiteral("old"));
        }
        // A second name for the old file: a write in place would change it.
        const QString file = rootFileName(RootKey::CurrentUser);
        const QString link = m_dir->filePath(QStringLiteral("before.ini"));
        QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(link).constData()) ==
                0);
        {
            Registry r;
            QVERIFY(r.openKey(QStringLiteral("A"), true));
            r.writeString(QStringLiteral("x"), QStringLiteral("new"));
        }
        QFile before(link);
        QVERIFY(before.open(QIODevice::ReadOnly));
        QVERIFY(before.readAll().contains("x=old"));
        QVERIFY(fileText().contains(QStringLiteral("x=new")));
        // Nothing but the file itself (and no temporary) is left in the folder.
        const QStringList left = QDir(configDirectory()).entryList(QDir::Files);
        QCOMPARE(left, QStringList{QStringLiteral("HKEY_CURRENT_USER.ini")});
    }

    void failedWriteThrowsAndKeepsNothing() {
        // A folder that cannot be created: its parent is a file.
        QFile blocker(m_dir->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        setConfigDirectory(blocker.fileName() + QStringLiteral("/config"));
        Registry r;
        QVERIFY(r.openKey(QStringLiteral("A"), true));
        QVERIFY_THROWS_EXCEPTION(RegistryError,
                                 r.writeString(QStringLiteral("x"), QStringLiteral("1")));
        QCOMPARE(r.readString(QStringLiteral("x")), QString());
    }

    // ---- window placement ----

    void placementRoundTrip() {
        const ScreenInfo screen{QSize(1920, 1080), 96};
        WindowPlacement p;
        p.flags = 2;
        p.showCmd = 3;
        p.minPosition = QPoint(-32000, -32000);
        p.maxPosition = QPoint(-1, -1);
        p.normalPosition = {10, 20, 810, 620};
        {
            Registry r;
            QVERIFY(r.openKey(QString::fromLatin1(kSettingsKey), true));
            writePlacement(r, p, screen, SaveMoment::Closing);
        }
        Registry r;
        QVERIFY(r.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        QStringList names = r.valueNames();
        names.sort();
        QStringList expected{
            "Flags",   "FormVersion",        "MinMaxPos",     "MinMaxPos(1920x1080)",
            "NormPos", "NormPos(1920x1080)", "PixelsPerInch", "ShowCmd",
            "Visible"};
        expected.sort();
        QCOMPARE(names, expected);
        QCOMPARE(r.readString("FormVersion"), QStringLiteral("0"));
        QCOMPARE(r.readString("Flags"), QStringLiteral("2"));
        QCOMPARE(r.readString("ShowCmd"), QStringLiteral("3"));
        QCOMPARE(r.readString("PixelsPerInch"), QStringLiteral("96"));
        QCOMPARE(r.readString("MinMaxPos"), QStringLiteral("-32000,-32000,-1,-1"));
        QCOMPARE(r.readString("NormPos(1920x1080)"), QStringLiteral("10,20,810,620"));
        QCOMPARE(r.readString("Visible"), QStringLiteral("0"));
        const auto back = readPlacement(r, screen);
        QVERIFY(back);
        WindowPlacement expectedBack = p;
        expectedBack.showCmd = 1; // the show state is saved but never read back
        QCOMPARE(*back, expectedBack);
    }

    void placementRules_data() {
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<bool>("applies");
        QTest::addColumn<QString>("normPos");
        // Current screen in every row: 1024x768 at 96 pixels per inch.
        QTest::newRow("screen-size name wins")
            << QByteArray("NormPos(1024x768)=\"1,2,3,4\"\nNormPos=\"5,6,7,8\"\nPixelsPerInch=96\n")
            << true << "1,2,3,4";
        QTest::newRow("plain name for another resolution")
            << QByteArray("NormPos(1920x1080)=\"1,2,3,4\"\nNormPos=\"5,6,7,8\"\n") << true
            << "5,6,7,8";
        QTest::newRow("other pixel density")
            << QByteArray("NormPos=\"5,6,7,8\"\nPixelsPerInch=120\n") << false << "";
        QTest::newRow("negative version")
            << QByteArray("FormVersion=-1\nNormPos=\"5,6,7,8\"\n") << false << "";
        QTest::newRow("nothing stored") << QByteArray("PixelsPerInch=96\n") << false << "";
        QTest::newRow("only MinMaxPos")
            << QByteArray("MinMaxPos=\"-1,-1,-1,-1\"\n") << true << "0,0,0,0";
        QTest::newRow("damaged rectangle")
            << QByteArray("NormPos=\"5,x,7,8\"\n") << true << "0,0,0,0";
        QTest::newRow("wrong type counts as missing")
            << QByteArray("NormPos=@ByteArray(dword:00000001)\n") << false << "";
    }
    void placementRules() {
        QFETCH(QByteArray, values);
        QFETCH(bool, applies);
        QFETCH(QString, normPos);
        writeFile("[Software\\Kestrune\\Quorlin]\n" + values);
        Registry r;
        QVERIFY(r.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        const auto p = readPlacement(r, ScreenInfo{QSize(1024, 768), 96});
        QCOMPARE(bool(p), applies);
        if (p) {
            const PlacementRect& n = p->normalPosition;
            QCOMPARE(formatFour(n.left, n.top, n.right, n.bottom), normPos);
        }
    }

    void parseFourNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain") << "1,2,3,4" << true;
        QTest::newRow("negative and blanks") << " -1, -2 ,3,4 " << true;
        QTest::newRow("three") << "1,2,3" << false;
        QTest::newRow("five") << "1,2,3,4,5" << false;
        QTest::newRow("empty part") << "1,,3,4" << false;
        QTest::newRow("empty") << "" << false;
    }
    void parseFourNumbers() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QCOMPARE(bool(parseFour(text)), ok);
    }

    void windowPositionSurvivesARun() {
        {
            QWidget w(nullptr, Qt::FramelessWindowHint);
            w.resize(400, 300);
            w.move(123, 45);
            savePlacement(&w, SaveMoment::Closing);
        }
        Registry r;
        QVERIFY(r.openKeyReadOnly(QString::fromLatin1(kSettingsKey)));
        QCOMPARE(r.readString("NormPos"), QStringLiteral("123,45,523,345"));
        QCOMPARE(r.readString("Visible"), QStringLiteral("0"));

        // Frameless: only the corner is taken, the size stays the window's own.
        QWidget frameless(nullptr, Qt::FramelessWindowHint);
        frameless.resize(200, 100);
        QVERIFY(restorePlacement(&frameless));
        QCOMPARE(frameless.pos(), QPoint(123, 45));
        QCOMPARE(frameless.size(), QSize(200, 100));
        QVERIFY(!frameless.isVisible());

        QWidget framed;
        framed.resize(200, 100);
        QVERIFY(restorePlacement(&framed));
        QCOMPARE(framed.pos(), QPoint(123, 45));
        QCOMPARE(framed.size(), QSize(400, 300));
    }

    void positionOffEveryScreenIsBroughtBack() {
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        // On a screen, or with enough of the top edge on one: kept.
        QCOMPARE(reachableRect(QRect(100, 100, 800, 600), two), QRect(100, 100, 800, 600));
        QCOMPARE(reachableRect(QRect(-700, 10, 800, 600), two), QRect(-700, 10, 800, 600));
        QCOMPARE(reachableRect(QRect(1500, 500, 800, 600), two), QRect(1500, 500, 800, 600));
        // The saved value that made the window invisible: onto the nearest screen.
        QCOMPARE(reachableRect(QRect(-5000, -5000, 1000, 500), two), QRect(0, 0, 1000, 500));
        // Beyond the second screen's right edge, title bar above the top: onto that screen.
        QCOMPARE(reachableRect(QRect(4000, -300, 800, 600), two), QRect(2400, 0, 800, 600));
        // Larger than the nearest screen: made to fit it.
        QCOMPARE(reachableRect(QRect(9000, 100, 2000, 2000), two), QRect(1920, 0, 1280, 1024));
        // Only a sliver of the title bar on screen cannot be grabbed.
        QCOMPARE(reachableRect(QRect(1915, 1070, 800, 600), {QRect(0, 0, 1920, 1080)}),
                 QRect(1120, 480, 800, 600));
        QCOMPARE(reachableRect(QRect(5, 5, 10, 10), {}), QRect(5, 5, 10, 10));

        // Through the store, as the window restores it at start.
        Registry r;
        QVERIFY(r.openKey(QString::fromLatin1(kSettingsKey), true));
        r.writeString("NormPos", "-5000,-5000,-4000,-4500");
        r.writeString(screenValueName("NormPos", currentScreen().size), "-5000,-5000,-4000,-4500");
        QWidget w(nullptr, Qt::FramelessWindowHint);
        w.resize(300, 200);
        QVERIFY(restorePlacement(&w));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(QRect(w.pos(), w.size())),
                 qPrintable(QStringLiteral("%1,%2").arg(w.x()).arg(w.y())));
    }

    void noStoredPositionLeavesTheWindowAlone() {
        QWidget w(nullptr, Qt::FramelessWindowHint);
        w.move(7, 8);
        QVERIFY(!restorePlacement(&w));
        QCOMPARE(w.pos(), QPoint(7, 8));
    }
};

QTEST_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
