// The version block the build compiles into the executable.
#include "controls/VelVersionLabel.h"

#include <QtTest>

class TestVersionBlock : public QObject {
    Q_OBJECT
private slots:
    void carriesProjectVersion();
};

void TestVersionBlock::carriesProjectVersion() {
    TVelVersionLabel label;
    QCOMPARE(label.text(), QStringLiteral("Dateiversion: " EXPECTED_FILE_VERSION ".0"));
    label.setFileVersionPart(fvAllNoBuild);
    label.setInfoPrefix(QStringLiteral("Version:"));
    QCOMPARE(label.text(), QStringLiteral("Version: " EXPECTED_FILE_VERSION));
    QCOMPARE(label.langCharset(), QStringLiteral("0C0704E4"));

    for (int r = vrCompanyName; r <= vrFlags; ++r) {
        label.setVersionResource(TVersionResources(r));
        QVERIFY2(!label.text().contains(QLatin1Char('<')), qPrintable(label.text()));
    }
    label.setVersionResource(vrProductName);
    QCOMPARE(label.text(), QStringLiteral("Produktname: tarnwick 2005"));
}

QTEST_MAIN(TestVersionBlock)
#include "tst_versionblock.moc"
