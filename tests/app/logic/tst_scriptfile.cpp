// Script files: line breaks, encodings, and saves that fail without harm.

#include "app/logic/scriptfile.h"
#include "tests/support/fulldisk.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

class TestScriptFile : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void readsLineBreaks_data();
    void readsLineBreaks();
    void writesCrLfAfterEveryLine_data();
    void writesCrLfAfterEveryLine();
    void roundTrip();
    void missingFileError();
    void uncreatableFileError();
    void failedWriteKeepsExistingFile();
    void fullDiskGivesTheSystemReason();
    void defaultExtension_data();
    void defaultExtension();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void writeBytes(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTemporaryDir m_dir;
};

void TestScriptFile::readsLineBreaks_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << "a\nb\n";
    QTest::newRow("LF only") << QByteArray("select 1\nfrom t\n\nx") << "select 1\nfrom t\n\nx";
    QTest::newRow("CR only") << QByteArray("a\rb\r\rc") << "a\nb\n\nc";
    QTest::newRow("mixed") << QByteArray("a\r\n\nb\r\r\nc") << "a\n\nb\n\nc";
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << "a\n\nb";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("UTF-8") << QByteArray("-- Größe\r\n") << QString::fromUtf8("-- Größe\n");
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBFselect 1") << "select 1";
    QTest::newRow("8-bit text") << QByteArray("-- Gr\xF6\xDF"
                                              "e")
                                << QString::fromUtf8("-- Größe");
    QTest::newRow("Windows-1252") << QByteArray("\x84\x80 5\x93 \x81")
                                  << QString::fromUtf8("„€ 5“ \u0081");
}

void TestScriptFile::readsLineBreaks() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    writeBytes("in.sql", bytes);
    QCOMPARE(readScriptFile(path("in.sql")), text);
}

void TestScriptFile::writesCrLfAfterEveryLine_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("last line gets a break")
        << QStringList{"select 1", "from t"} << QByteArray("select 1\r\nfrom t\r\n");
    QTest::newRow("empty lines kept")
        << QStringList{"a", "", "", "b"} << QByteArray("a\r\n\r\n\r\nb\r\n");
    QTest::newRow("nothing") << QStringList{} << QByteArray();
    QTest::newRow("Windows-1252 when all fits") << QStringList{QString::fromUtf8("Größe „€“")}
                                                << QByteArray("Gr\xF6\xDF"
                                                              "e \x84\x80\x93\r\n");
    QTest::newRow("UTF-8 with BOM when not")
        << QStringList{QString::fromUtf8("ä"), QString::fromUtf8("Ω")}
        << QByteArray("\xEF\xBB\xBF\xC3\xA4\r\n\xCE\xA9\r\n");
}

void TestScriptFile::writesCrLfAfterEveryLine() {
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, bytes);
    writeScriptFile(path("out.sql"), lines);
    QFile f(path("out.sql"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes);
}

void TestScriptFile::roundTrip() {
    const QStringList lines{"select *", "", "from [Kunden]", "  where x = 1", ""};
    writeScriptFile(path("rt.sql"), lines);
    QCOMPARE(readScriptFile(path("rt.sql")), lines.join(u'\n') + u'\n');
}

void TestScriptFile::missingFileError() {
    const QString name = path("missing.sql");
    try {
        readScriptFile(name);
        QFAIL("no error");
    } catch (const ScriptFileError& e) {
        const QString text = QString::fromUtf8(e.what());
        QVERIFY2(text.startsWith(QStringLiteral("Datei %1 kann nicht geöffnet werden. ").arg(name)),
                 qPrintable(text));
        QVERIFY(text.size() >
                QStringLiteral("Datei %1 kann nicht geöffnet werden. ").arg(name).size());
    }
}

void TestScriptFile::uncreatableFileError() {
    const QString name = path("no/such/folder/x.sql");
    try {
        writeScriptFile(name, {"x"});
        QFAIL("no error");
    } catch (const ScriptFileError& e) {
        const QString text = QString::fromUtf8(e.what());
        QVERIFY2(
            text.startsWith(QStringLiteral("Datei \"%1\" kann nicht erstellt werden. ").arg(name)),
            qPrintable(text));
    }
}

void TestScriptFile::failedWriteKeepsExistingFile() {
    writeBytes("keep.sql", "old script\r\n");
    // Let the file system refuse a write half-way (the limit applies to root
    // too): the replacement must never reach the target.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QStringList big;
    for (int i = 0; i < 2000; ++i)
        big << QStringLiteral("select %1 from a_rather_long_table_name").arg(i);
    bool failed = false;
    try {
        writeScriptFile(path("keep.sql"), big);
    } catch (const ScriptFileError& e) {
        failed = QString::fromUtf8(e.what()).startsWith(QStringLiteral("Datei \""));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    QVERIFY(failed);
    QFile f(path("keep.sql"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("old script\r\n"));
}

void TestScriptFile::fullDiskGivesTheSystemReason() {
    FullDisk disk;
    if (!disk.mounted())
        QSKIP("mounting a small file system needs root");
    const QString name = disk.filePath("voll.sql");
    try {
        writeScriptFile(name, {"select 1"});
        QFAIL("no error");
    } catch (const ScriptFileError& e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QStringLiteral("Datei \"%1\" kann nicht erstellt werden. %2")
                     .arg(name, FullDisk::reason()));
    }
}

void TestScriptFile::defaultExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saving");
    QTest::addColumn<QString>("expected");
    QTest::newRow("save adds") << "/x/abfrage" << true << "/x/abfrage.sql";
    QTest::newRow("save keeps extension") << "/x/abfrage.txt" << true << "/x/abfrage.txt";
    QTest::newRow("open adds for missing") << "/x/abfrage" << false << "/x/abfrage.sql";
    QTest::newRow("cancelled stays empty") << "" << true << "";
}

void TestScriptFile::defaultExtension() {
    QFETCH(QString, name);
    QFETCH(bool, saving);
    QFETCH(QString, expected);
    QCOMPARE(withDefaultExtension(name, saving), expected);
}

QTEST_GUILESS_MAIN(TestScriptFile)
#include "tst_scriptfile.moc"
