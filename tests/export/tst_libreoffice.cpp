// The .xlsx and .csv exports read by LibreOffice Calc: a headless soffice converts each file to
// CSV (comma, UTF-8), and Python's csv module reads what it wrote. Every kind of value, NULLs,
// umlauts, separators, quotes and line breaks must arrive as the spreadsheet user would see them.
// Exits with 77 (a skip for ctest) where soffice is not installed.

#include "export/streamexport.h"
#include "tests/export/readers.h"
#include "tests/export/streamstores.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace exportfile;

namespace {

QStringList fields(const QJsonArray& row) {
    QStringList out;
    for (const auto& v : row)
        out << v.toString();
    return out;
}

// Runs soffice converting file to CSV (comma, double quote, UTF-8) into outDir, with a profile
// of its own and, when given, the import filter for the file; killed with its children when it
// takes longer than a minute.
bool convertToCsv(const QString& profile, const QString& outDir, const QString& file,
                  const QString& inFilter = {}) {
    QProcess soffice;
    // A session of its own, so a hung soffice and the processes it started go together.
    soffice.setChildProcessModifier([] { ::setsid(); });
    soffice.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral("-env:UserInstallation=") +
                         QUrl::fromLocalFile(profile).toString(),
                     QStringLiteral("--headless"), QStringLiteral("--norestore")};
    if (!inFilter.isEmpty())
        args << QStringLiteral("--infilter=") + inFilter;
    args << QStringLiteral("--convert-to")
         << QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1")
         << QStringLiteral("--outdir") << outDir << file;
    soffice.start(QStringLiteral("soffice"), args);
    if (!soffice.waitForStarted(10000))
        return false;
    const qint64 pid = soffice.processId();
    if (!soffice.waitForFinished(60000)) {
        ::kill(-pid_t(pid), SIGKILL);
        soffice.waitForFinished(5000);
        qWarning("soffice did not end within a minute and was killed");
        return false;
    }
    return soffice.exitStatus() == QProcess::NormalExit && soffice.exitCode() == 0;
}

} // namespace

class TestLibreOffice : public QObject {
    Q_OBJECT
private slots:
    void readBack();
};

void TestLibreOffice::readBack() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir(dir.path()).mkdir(QStringLiteral("in"));
    const QString xlsx = dir.filePath(QStringLiteral("in/book.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("in/text.csv"));
    // The row of NULLs gets one value, so the reader keeps the row and its empty cells.
    const auto store = testreaders::everyKind();
    store->setValue(2, 3, 7);
    QCOMPARE(writeStream(StreamFormat::Xlsx, *store, xlsx, {}), qint64(3));
    StreamOptions semicolon; // as the export writes it for a German locale
    semicolon.csvSeparator = u';';
    QCOMPARE(writeStream(StreamFormat::Csv, *store, csv, semicolon), qint64(3));
    // A .csv opens through the text import, where the user picks the separator and UTF-8
    // (dates and times left as they are written, not turned into the locale's forms); the
    // .xlsx needs nothing.
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString profile = dir.filePath(QStringLiteral("profile"));
    QVERIFY(convertToCsv(profile, out, xlsx));
    QVERIFY(convertToCsv(profile, out, csv, QStringLiteral("CSV:59,34,76,1,,1033,false,false")));

    const QStringList titles{
        "bit",      "tiny",     "small", "int",  "big",  "float",   "money",
        "dec38",    "datetime", "date",  "time", "guid", "varchar", QStringLiteral("Straße"),
        "varbinary"};
    QStringList nullRow(15);
    nullRow[3] = QStringLiteral("7");
    const QJsonArray book =
        testreaders::readCsv(QDir(out).filePath(QStringLiteral("book.csv"))).array();
    QCOMPARE(book.size(), 4);
    QCOMPARE(fields(book[0].toArray()), titles);
    const QStringList ordinary{"TRUE",
                               "200",
                               "-12345",
                               "2147483647",
                               "42",
                               "0.1",
                               "1234.5678",
                               "12.5",
                               "2024-02-29 13:45:30",
                               "1999-12-31",
                               "23:59:58",
                               "6F9619FF-8B86-D011-B42D-00C04FC964FF",
                               "plain",
                               QStringLiteral("Grüße aus Köln"),
                               "0x0001FEFF"};
    QCOMPARE(fields(book[1].toArray()), ordinary);
    QCOMPARE(fields(book[2].toArray()),
             (QStringList{"FALSE", "0", "0", "-1", "1152921504606846976", "-1.5E+300",
                          "-922337203685477.5807", "12345678901234567890.123456789",
                          "1899-01-01 00:00:00", "1900-01-01", "00:00:00",
                          "00000000-0000-0000-0000-000000000000", "a;b,c \"zitiert\"\nzweite Zeile",
                          QStringLiteral("tab\there\\ and \x01 control"), "0x"}));
    QCOMPARE(fields(book[3].toArray()), nullRow);

    const QJsonArray text =
        testreaders::readCsv(QDir(out).filePath(QStringLiteral("text.csv"))).array();
    QCOMPARE(text.size(), 4);
    QCOMPARE(fields(text[0].toArray()), titles);
    // The texts as the .csv has them: the truth value and the GUID in braces.
    QStringList written = ordinary;
    written[0] = QStringLiteral("True");
    written[11] = u'{' + written[11] + u'}';
    QCOMPARE(fields(text[1].toArray()), written);
    // A text file holds no types: the import takes digits for numbers, and beyond 15 digits
    // a number loses some (big, money, dec38), as with any .csv it opens.
    QStringList awkward = fields(text[2].toArray());
    QCOMPARE(awkward.size(), 15);
    for (int c : {4, 6, 7})
        awkward[c].clear();
    QCOMPARE(awkward,
             (QStringList{"False", "0", "0", "-1", "", "-1.5E+300", "", "", "1899-01-01 00:00:00",
                          "1900-01-01", "00:00:00", "{00000000-0000-0000-0000-000000000000}",
                          "a;b,c \"zitiert\"\nzweite Zeile",
                          QStringLiteral("tab\there\\ and \x01 control"), "0x"}));
    QCOMPARE(fields(text[3].toArray()), nullRow);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
        std::printf("soffice is not installed: skipped\n");
        return 77;
    }
    TestLibreOffice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_libreoffice.moc"
