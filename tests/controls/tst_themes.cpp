// Colour values, rounding and the theme table.
#include "controls/VelThemes.h"
#include "controls/colors.h"

#include <QtTest>

class TestThemes : public QObject {
    Q_OBJECT
private slots:
    void roundHalfEven_data();
    void roundHalfEven();
    void systemColorsResolve_data();
    void systemColorsResolve();
    void customEntryIsEmpty();
    void onlyHorizontalThemesAreNotVertical();
    void xpThemesAreIdentical();
    void constantFontFields();
    void valuesTheMainWindowStores();
    void themeNamesRoundTrip();
};

void TestThemes::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("2.5 down to even") << 2.5 << 2;
    QTest::newRow("3.5 up to even") << 3.5 << 4;
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("32.5 (title bar half)") << 32.5 << 32;
    QTest::newRow("10.5 (status bar half)") << 10.5 << 10;
    QTest::newRow("below half") << 0.9558 << 1;
    QTest::newRow("just below half") << 2.4999 << 2;
    QTest::newRow("negative half") << -2.5 << -2;
    QTest::newRow("negative odd half") << -1.5 << -2;
    QTest::newRow("whole") << 7.0 << 7;
}

void TestThemes::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(::roundHalfEven(value), expected);
}

void TestThemes::systemColorsResolve_data() {
    QTest::addColumn<TColor>("value");
    QTest::addColumn<TColor>("expected");
    QTest::newRow("explicit stays") << TColor(0x123456) << TColor(0x123456);
    QTest::newRow("button face") << clBtnFace << rgbColor(212, 208, 200);
    QTest::newRow("inactive caption") << clInactiveCaption << rgbColor(128, 128, 128);
    QTest::newRow("button highlight") << clBtnHighlight << TColor(0xFFFFFF);
    QTest::newRow("unknown number draws black") << systemColor(200) << clBlack;
}

void TestThemes::systemColorsResolve() {
    QFETCH(TColor, value);
    QFETCH(TColor, expected);
    QCOMPARE(colorToRGB(value), expected);
    QCOMPARE(fromQColor(toQColor(value)), expected);
}

void TestThemes::customEntryIsEmpty() {
    QCOMPARE(clBtnFace, -16777201);
    QCOMPARE(clInactiveCaption, -16777213);
    const TVelTheme& custom = ThemeTable[thCustom];
    QCOMPARE(custom.LineColor, 0);
    QCOMPARE(custom.GradientColor1, 0);
    QCOMPARE(custom.GripColor3DLight, 0);
    QCOMPARE(custom.FontStyle1, TFontStyles(0));
    QVERIFY(custom.FontName1.empty());
    QVERIFY(!custom.GradientVertical);
}

void TestThemes::onlyHorizontalThemesAreNotVertical() {
    for (int i = 1; i < kThemeCount; ++i) {
        const auto t = static_cast<TVelThemeTypes>(i);
        const bool horizontal =
            t == thHorizontalDark || t == thHorizontalMedium || t == thHorizontalLight;
        QCOMPARE(ThemeTable[t].GradientVertical, !horizontal);
    }
}

void TestThemes::xpThemesAreIdentical() {
    const TVelTheme& a = ThemeTable[thXPDark];
    const TVelTheme& b = ThemeTable[thXPLight];
    QCOMPARE(a.LineColor, b.LineColor);
    QCOMPARE(a.ExtraColor1, b.ExtraColor1);
    QCOMPARE(a.ExtraColor2, b.ExtraColor2);
    QCOMPARE(a.GradientColor1, b.GradientColor1);
    QCOMPARE(a.GradientColor2, b.GradientColor2);
    QCOMPARE(a.GradientColor3, b.GradientColor3);
    QCOMPARE(a.GradientColor4, b.GradientColor4);
    QCOMPARE(a.GradientColor3DLight, b.GradientColor3DLight);
    QCOMPARE(a.GradientColor3DDark, b.GradientColor3DDark);
    QCOMPARE(a.FontColor1, b.FontColor1);
    QCOMPARE(a.ExtraColor3, b.ExtraColor3);
    QCOMPARE(a.GripColor3DDark, b.GripColor3DDark);
    QCOMPARE(a.GripColor3DLight, b.GripColor3DLight);
    QCOMPARE(a.GradientVertical, b.GradientVertical);
}

void TestThemes::constantFontFields() {
    for (int i = 1; i < kThemeCount; ++i) {
        const TVelTheme& t = ThemeTable[static_cast<TVelThemeTypes>(i)];
        QCOMPARE(t.FontStyle1, TFontStyles(fsBold));
        QCOMPARE(t.FontStyle2, TFontStyles(fsBold));
        QCOMPARE(t.FontStyle3, TFontStyles(0));
        QCOMPARE(t.FontColor2, 0);
        QCOMPARE(t.FontColor3, 0);
        QVERIFY(t.FontName1 == "Tahoma" && t.FontName2 == "Tahoma" && t.FontName3 == "Tahoma");
        // Inactive caption as a system colour, except in the two XP schemes.
        const bool xp = i == thXPDark || i == thXPLight;
        QCOMPARE(t.ExtraColor3, xp ? TColor(0x962D00) : TColor(-16777213));
    }
}

void TestThemes::valuesTheMainWindowStores() {
    const TVelTheme& dark = ThemeTable[thVerticalDark];
    QCOMPARE(dark.GradientColor1, 4473924);
    QCOMPARE(dark.GradientColor2, 2236962);
    QCOMPARE(dark.GradientColor3, 2236962);
    QCOMPARE(dark.GradientColor4, clBlack);
    QCOMPARE(dark.GradientColor3DLight, 10066329);
    QCOMPARE(dark.GradientColor3DDark, clBlack);
    QCOMPARE(dark.LineColor, clBlack);
    const TVelTheme& aqua = ThemeTable[thVerticalAquaDark];
    QCOMPARE(aqua.GripColor3DDark, 0x000000);
    QCOMPARE(aqua.GripColor3DLight, 10066329);
    QCOMPARE(aqua.GradientColor3, 0x181818);
    // Blue in the high byte: the blue theme's second colour is 0xCC2200.
    QCOMPARE(blueOf(ThemeTable[thVerticalBlue].GradientColor2), 0xCC);
}

void TestThemes::themeNamesRoundTrip() {
    for (int i = 0; i < kThemeCount; ++i) {
        const auto t = static_cast<TVelThemeTypes>(i);
        TVelThemeTypes back = thCustom;
        QVERIFY(themeFromName(themeName(t), back));
        QCOMPARE(back, t);
    }
    TVelThemeTypes untouched = thXPDark;
    QVERIFY(!themeFromName("thPurple", untouched));
    QCOMPARE(untouched, thXPDark);
    QCOMPARE(themeName(thVerticalDarkDisabled), std::string_view("thVerticalDarkDisabled"));
}

QTEST_GUILESS_MAIN(TestThemes)
#include "tst_themes.moc"
