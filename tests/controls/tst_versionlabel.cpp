// Version label over crafted version blocks: values, parts, prefixes and the
// marker texts of every failure.
#include "controls/VelVersionLabel.h"
#include "controls/versioninfo.h"

#include <QtTest>
#include <string>

namespace {

std::string g_block; // the registered block must outlive its use

void useBlock(std::string block) {
    g_block = std::move(block);
    versioninfo::registerExecutableBlock(g_block.data(), g_block.size());
}

std::string block(const std::string& fileVersion, const std::string& flags = "0x00",
                  bool translation = true, bool fixed = true) {
    std::string b = "TWVERSIONINFO\t1\n";
    if (fixed)
        b += "FIXED\t4.0.0.25\t4.0.0.25\t0x3F\t" + flags + "\n";
    if (translation)
        b += "TRANSLATION\t0C07\t04E4\n";
    b += "STRING\t0C0704E4\tFileVersion\t" + fileVersion + "\n";
    b += "STRING\t0C0704E4\tProductName\ttarnwick 2005\n";
    b += "STRING\t0C0704E4\tLegalTrademarks\tkeine\n";
    b += "STRING\t04090000\tProductName\tenglish name\n";
    return b;
}

} // namespace

class TestVersionLabel : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { useBlock(block("4.0.0.25")); }
    void versionParts_data();
    void versionParts();
    void getVersionPart_data();
    void getVersionPart();
    void markers_data();
    void markers();
    void flags_data();
    void flags();
    void partAloneDoesNotRecompute();
    void resourceSelectsKeyAndPrefix();
    void keyBecomesPrefix();
    void translationIsRemembered();
    void aboutWindowOrder();
    void queryLayer();
};

void TestVersionLabel::versionParts_data() {
    QTest::addColumn<QString>("fileVersion");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all") << "4.0.0.25" << int(fvAll) << "Dateiversion:"
                         << "Dateiversion: 4.0.0.25";
    QTest::newRow("without build") << "4.0.0.25" << int(fvAllNoBuild) << "Version:"
                                   << "Version: 4.0.0";
    QTest::newRow("build") << "4.0.0.25" << int(fvBuild) << "Built:"
                           << "Built: 25";
    QTest::newRow("major") << "4.1.2.25" << int(fvMajor) << "V"
                           << "V 4";
    QTest::newRow("minor") << "4.1.2.25" << int(fvMinor) << "V"
                           << "V 1";
    QTest::newRow("release") << "4.1.2.25" << int(fvRelease) << "V"
                             << "V 2";
    QTest::newRow("missing build") << "4.0" << int(fvBuild) << "Built:"
                                   << "Built: ";
    QTest::newRow("empty version") << "" << int(fvAllNoBuild) << "Version:"
                                   << "Version: ..";
    QTest::newRow("parts stay text") << "04. 1.0.7" << int(fvAllNoBuild) << "V"
                                     << "V 04. 1.0";
}

void TestVersionLabel::versionParts() {
    QFETCH(QString, fileVersion);
    QFETCH(int, part);
    QFETCH(QString, prefix);
    QFETCH(QString, expected);
    useBlock(block(fileVersion.toStdString()));
    TVelVersionLabel label;
    label.setFileVersionPart(TFileVersionPart(part));
    label.setInfoPrefix(prefix);
    QCOMPARE(label.text(), expected);
}

void TestVersionLabel::getVersionPart_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first") << "4.0.0.25" << 1 << "4";
    QTest::newRow("last") << "4.0.0.25" << 4 << "25";
    QTest::newRow("beyond") << "4.0.0.25" << 5 << "";
    QTest::newRow("no separator, first") << "25" << 1 << "25";
    QTest::newRow("no separator, second") << "25" << 2 << "";
    QTest::newRow("empty part") << "4..1" << 2 << "";
    QTest::newRow("trailing separator") << "4." << 2 << "";
}

void TestVersionLabel::getVersionPart() {
    QFETCH(QString, text);
    QFETCH(int, n);
    QFETCH(QString, expected);
    QCOMPARE(TVelVersionLabel::GetVersionPart(text, QLatin1Char('.'), n), expected);
}

void TestVersionLabel::markers_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("resource");
    QTest::addColumn<QString>("langCharset");
    QTest::addColumn<QString>("expected");
    const QByteArray good = QByteArray::fromStdString(block("4.0.0.25"));
    QTest::newRow("no version information") << QByteArray() << int(vrFileVersion) << "-1"
                                            << "Dateiversion: < Keine Daten Verfügbar >";
    QTest::newRow("unreadable block")
        << QByteArray("MZ\x90\x00garbage", 11) << int(vrFileVersion) << "-1"
        << "Dateiversion: < Fehler >";
    QTest::newRow("malformed record")
        << QByteArray("TWVERSIONINFO\t1\nFIXED\tx\n") << int(vrFileVersion) << "-1"
        << "Dateiversion: < Fehler >";
    QTest::newRow("no translation")
        << QByteArray::fromStdString(block("4.0.0.25", "0x00", false)) << int(vrFileVersion) << "-1"
        << "Dateiversion: < Error retrieving translation info >";
    QTest::newRow("no translation, named block")
        << QByteArray::fromStdString(block("4.0.0.25", "0x00", false)) << int(vrFileVersion)
        << "0C0704E4"
        << "Dateiversion: 4.0.0.25";
    QTest::newRow("missing key") << good << int(vrComments) << "-1"
                                 << "Bemerkungen: < Fehler >";
    QTest::newRow("unknown block") << good << int(vrFileVersion) << "04070000"
                                   << "Dateiversion: < Fehler >";
    QTest::newRow("block name in lower case") << good << int(vrFileVersion) << "0c0704e4"
                                              << "Dateiversion: 4.0.0.25";
    QTest::newRow("no fixed information")
        << QByteArray::fromStdString(block("4.0.0.25", "0x00", true, false)) << int(vrFlags) << "-1"
        << "Flags: < Fehler >";
    QTest::newRow("product name") << good << int(vrProductName) << "-1"
                                  << "Produktname: tarnwick 2005";
    QTest::newRow("other language block") << good << int(vrProductName) << "04090000"
                                          << "Produktname: english name";
}

void TestVersionLabel::markers() {
    QFETCH(QByteArray, data);
    QFETCH(int, resource);
    QFETCH(QString, langCharset);
    QFETCH(QString, expected);
    useBlock(data.toStdString());
    TVelVersionLabel label;
    label.setVersionResource(TVersionResources(resource));
    label.setLangCharset(langCharset);
    QCOMPARE(label.text(), expected);

    // Without the prefix the bare value or marker remains.
    label.setShowInfoPrefix(false);
    QCOMPARE(label.text(), expected.mid(expected.indexOf(QLatin1Char(' ')) + 1));
}

void TestVersionLabel::flags_data() {
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << "0x00"
                          << "Flags: ";
    QTest::newRow("debug and patched") << "0x05"
                                       << "Flags: Debug Build, Patched Build";
    QTest::newRow("every bit")
        << "0x3F"
        << "Flags: Debug Build, Pre-Release Build, Patched Build, Privates Build, InfoInferred, "
           "Spezielles Built";
    QTest::newRow("special only") << "0x20"
                                  << "Flags: Spezielles Built";
    QTest::newRow("unknown bits ignored") << "0x40"
                                          << "Flags: ";
}

void TestVersionLabel::flags() {
    QFETCH(QString, flags);
    QFETCH(QString, expected);
    useBlock(block("4.0.0.25", flags.toStdString()));
    TVelVersionLabel label;
    label.setVersionResource(vrFlags);
    QCOMPARE(label.text(), expected);
}

void TestVersionLabel::partAloneDoesNotRecompute() {
    TVelVersionLabel label;
    QCOMPARE(label.text(), QStringLiteral("Dateiversion: 4.0.0.25"));
    label.setFileVersionPart(fvBuild);
    QCOMPARE(label.text(), QStringLiteral("Dateiversion: 4.0.0.25"));
    label.setInfoPrefix(QStringLiteral("Built:"));
    QCOMPARE(label.text(), QStringLiteral("Built: 25"));

    // The part only applies to the key "FileVersion", spelled exactly so.
    label.setVersionResourceKey(QStringLiteral("fileversion"));
    QCOMPARE(label.text(), QStringLiteral("fileversion 4.0.0.25"));
}

void TestVersionLabel::resourceSelectsKeyAndPrefix() {
    TVelVersionLabel label;
    label.setVersionResource(vrProductName);
    QCOMPARE(label.versionResourceKey(), QStringLiteral("ProductName"));
    QCOMPARE(label.infoPrefix(), QStringLiteral("Produktname:"));
    QCOMPARE(label.text(), QStringLiteral("Produktname: tarnwick 2005"));
    QCOMPARE(QString::fromUtf8(VersionResourceTable[vrOriginalFilename].prefix),
             QStringLiteral("Original Dateiname:"));
    QCOMPARE(QString::fromUtf8(VersionResourceTable[vrFileDescription].prefix),
             QStringLiteral("Datei Information:"));
}

void TestVersionLabel::keyBecomesPrefix() {
    TVelVersionLabel label;
    label.setVersionResourceKey(QStringLiteral("LegalTrademarks"));
    QCOMPARE(label.text(), QStringLiteral("LegalTrademarks keine"));
}

void TestVersionLabel::translationIsRemembered() {
    TVelVersionLabel label;
    QCOMPARE(label.langCharset(), QStringLiteral("0C0704E4"));
    // A later change of the block's translation is not seen: the name stays.
    useBlock("TWVERSIONINFO\t1\nTRANSLATION\t0407\t04E4\nSTRING\t040704E4\tFileVersion\t9.9.9.9\n"
             "STRING\t0C0704E4\tFileVersion\t1.2.3.4\n");
    label.setInfoPrefix(QStringLiteral("V"));
    QCOMPARE(label.text(), QStringLiteral("V 1.2.3.4"));
}

void TestVersionLabel::aboutWindowOrder() {
    // Properties as a form applies them: part, resource, key, prefix, switch, block.
    TVelVersionLabel version;
    version.setFileVersionPart(fvAllNoBuild);
    version.setVersionResource(vrFileVersion);
    version.setVersionResourceKey(QStringLiteral("FileVersion"));
    version.setInfoPrefix(QStringLiteral("Version:"));
    version.setShowInfoPrefix(true);
    version.setLangCharset(QStringLiteral("-1"));
    QCOMPARE(version.text(), QStringLiteral("Version: 4.0.0"));
    QVERIFY(version.width() > 0);
    QVERIFY(!version.wordWrap());
}

void TestVersionLabel::queryLayer() {
    useBlock(block("4.0.0.25", "0x05"));
    const std::uint32_t size = versioninfo::fileVersionInfoSize();
    QCOMPARE(size, std::uint32_t(g_block.size()));
    std::vector<std::uint8_t> buffer;
    QVERIFY(versioninfo::readFileVersionInfo(size, buffer));
    QCOMPARE(buffer.size(), std::size_t(size) + 1);

    std::string value;
    QVERIFY(versioninfo::queryValue(buffer, "\\VarFileInfo\\Translation", value));
    QCOMPARE(value, std::string("\x07\x0C\xE4\x04", 4));
    QVERIFY(versioninfo::queryValue(buffer, "\\", value));
    QCOMPARE(value.size(), versioninfo::kFixedFileInfoSize);
    QCOMPARE(std::uint8_t(value[versioninfo::kFileFlagsOffset]), std::uint8_t(0x05));
    QCOMPARE(std::uint8_t(value[0]), std::uint8_t(0xBD)); // signature, little-endian
    QVERIFY(versioninfo::queryValue(buffer, "\\stringfileinfo\\0C0704E4\\productname", value));
    QCOMPARE(value, std::string("tarnwick 2005", 14)); // with its terminating zero
    QVERIFY(!versioninfo::queryValue(buffer, "\\StringFileInfo\\0C0704E4", value));
    QVERIFY(!versioninfo::queryValue(buffer, "\\Nothing", value));

    // A size smaller than the block cuts it: what remains must still parse or fail cleanly.
    QVERIFY(!versioninfo::readFileVersionInfo(5, buffer));
    versioninfo::registerExecutableBlock(nullptr, 0);
    QCOMPARE(versioninfo::fileVersionInfoSize(), std::uint32_t(0));
}

QTEST_MAIN(TestVersionLabel)
#include "tst_versionlabel.moc"
