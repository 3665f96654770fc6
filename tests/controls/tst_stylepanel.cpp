// The gradient panel: colour ramp, painted pixels, setter rules, frame zones
// and the window commands a press sends.
#include "controls/VelStylePanel.h"
#include "controls/colorramp.h"
#include "controls/framezones.h"

#include <QLabel>
#include <QPainter>
#include <QtTest>

namespace {

constexpr QRgb kUnpainted = 0xFFFF00FF;

QImage render(const TVelStylePanel& panel) {
    QImage image(panel.size(), QImage::Format_RGB32);
    image.fill(kUnpainted);
    QPainter painter(&image);
    panel.paintBackground(painter);
    return image;
}

// 0x00BBGGRR as the pixel it paints.
QRgb px(TColor c) {
    return toQColor(c).rgb();
}

struct Recorder {
    QStringList log;
    Recorder() {
        TVelStylePanel::setSystemCommandHandler(
            [this](QWidget*, int command) { log << QString::number(command, 16).toUpper(); });
    }
    ~Recorder() { TVelStylePanel::setSystemCommandHandler({}); }
};

} // namespace

class TestStylePanel : public QObject {
    Q_OBJECT
private slots:
    void ramp_data();
    void ramp();
    void titleBarPixels_data();
    void titleBarPixels();
    void statusBarPixels_data();
    void statusBarPixels();
    void bottomGapFill();
    void identicalColoursPaintOneBand();
    void horizontalGradient_data();
    void horizontalGradient();
    void plainFillAndBorders();
    void systemColourBytesAreTakenRaw();
    void paintEventMatchesBackground();

    void colourSetterDropsTheme();
    void equalValueKeepsTheme();
    void lineSwitchesKeepTheme();
    void customThemeKeepsColours();

    void zones_data();
    void zones();
    void edgesPerCommand();
    void pressSendsCommands_data();
    void pressSendsCommands();
    void mouseDownRaisedFirst();
    void noFormNoWindowHandling();
    void cursorFollowsZone();
    void doubleClickTogglesMaximised();
    void enterAndLeaveIncludeChildren();
};

void TestStylePanel::ramp_data() {
    QTest::addColumn<TColor>("from");
    QTest::addColumn<TColor>("to");
    QTest::addColumn<int>("extent");
    QTest::addColumn<int>("bands");
    QTest::addColumn<int>("band");
    QTest::addColumn<TColor>("color");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("length");
    // 0x44 -> 0x22 over 65 pixels: 34 bands, s = 0.956.
    QTest::newRow("title first band")
        << TColor(0x444444) << TColor(0x222222) << 65 << 34 << 0 << TColor(0x444444) << 0 << 2;
    QTest::newRow("title band 30")
        << TColor(0x444444) << TColor(0x222222) << 65 << 34 << 30 << TColor(0x262626) << 29 << 2;
    QTest::newRow("last band stops short")
        << TColor(0x444444) << TColor(0x222222) << 65 << 34 << 33 << TColor(0x232323) << 32 << 2;
    QTest::newRow("identical colours")
        << TColor(0x777777) << TColor(0x777777) << 21 << 1 << 0 << TColor(0x777777) << 0 << 11;
    // Components move at their own pace, each rounded half to even.
    QTest::newRow("mixed components")
        << TColor(0x000000) << TColor(0x040201) << 16 << 4 << 2 << TColor(0x020100) << 4 << 3;
    QTest::newRow("mixed components odd")
        << TColor(0x000000) << TColor(0x040201) << 16 << 4 << 3 << TColor(0x030201) << 6 << 3;
    QTest::newRow("falling red only")
        << TColor(0x0000FF) << TColor(0x0000FD) << 8 << 2 << 1 << TColor(0x0000FE) << 2 << 3;
}

void TestStylePanel::ramp() {
    QFETCH(TColor, from);
    QFETCH(TColor, to);
    QFETCH(int, extent);
    QFETCH(int, bands);
    QFETCH(int, band);
    QFETCH(TColor, color);
    QFETCH(int, offset);
    QFETCH(int, length);
    const std::vector<RampBand> ramp = colorRamp(from, to, extent);
    QCOMPARE(int(ramp.size()), bands);
    QCOMPARE(QString::number(ramp[band].color, 16), QString::number(color, 16));
    QCOMPARE(ramp[band].offset, offset);
    QCOMPARE(ramp[band].length, length);
}

void TestStylePanel::titleBarPixels_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<TColor>("color");
    QTest::newRow("top line") << 400 << 0 << clBlack;
    QTest::newRow("highlight") << 400 << 1 << TColor(0x999999);
    QTest::newRow("first half starts") << 400 << 2 << TColor(0x444444);
    QTest::newRow("second band") << 400 << 3 << TColor(0x434343);
    QTest::newRow("first half ends") << 400 << 31 << TColor(0x262626);
    QTest::newRow("second half starts") << 400 << 32 << TColor(0x222222);
    QTest::newRow("second half ends") << 400 << 64 << TColor(0x010101);
    QTest::newRow("left line") << 0 << 40 << clBlack;
    QTest::newRow("right line") << 941 << 40 << clBlack;
    QTest::newRow("right line over highlight") << 941 << 1 << clBlack;
    QTest::newRow("highlight stops before last column") << 940 << 1 << TColor(0x999999);
}

void TestStylePanel::titleBarPixels() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(TColor, color);
    TVelStylePanel panel;
    panel.resize(942, 65);
    panel.setLineTop(true);
    panel.setLineLeft(true);
    panel.setLineRight(true);
    panel.setTheme(thVerticalDark);
    QCOMPARE(render(panel).pixel(x, y), px(color));
}

void TestStylePanel::statusBarPixels_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<TColor>("color");
    QTest::newRow("highlight in row 0") << 400 << 0 << TColor(0x999999);
    // Bands are a third of a pixel apart here: the last band on a row wins.
    QTest::newRow("first half at row 1") << 400 << 1 << TColor(0x434343);
    QTest::newRow("row 8 from the first half") << 400 << 8 << TColor(0x2C2C2C);
    QTest::newRow("second half at row 9") << 400 << 9 << TColor(0x212121);
    QTest::newRow("row 19 last band") << 400 << 19 << TColor(0x010101);
    QTest::newRow("bottom line") << 400 << 20 << clBlack;
    QTest::newRow("bottom line stops before its end") << 940 << 20 << clBlack;
    QTest::newRow("left line over highlight") << 0 << 0 << clBlack;
}

void TestStylePanel::statusBarPixels() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(TColor, color);
    TVelStylePanel panel;
    panel.resize(942, 21);
    panel.setLineBottom(true);
    panel.setLineLeft(true);
    panel.setLineRight(true);
    panel.setTheme(thVerticalDark);
    QCOMPARE(render(panel).pixel(x, y), px(color));
}

void TestStylePanel::bottomGapFill() {
    // Five rows, one band per half of 3 rows each: the second half ends one
    // row short, and that row takes the last band's colour.
    TVelStylePanel panel;
    panel.resize(10, 5);
    panel.setGradientVertical(true);
    panel.setGradientColor1(0x0000AA);
    panel.setGradientColor2(0x0000AA);
    panel.setGradientColor3(0x00BB00);
    panel.setGradientColor4(0x00BB00);
    QImage image = render(panel);
    QCOMPARE(image.pixel(5, 3), px(0x00BB00));
    QCOMPARE(image.pixel(5, 4), px(0x00BB00));
    QCOMPARE(image.pixel(9, 4), px(0x00BB00));

    // With a bottom line the row belongs to the line (and its last pixel to nothing).
    panel.setLineBottom(true);
    panel.setLineColor(0xCC0000);
    image = render(panel);
    QCOMPARE(image.pixel(5, 4), px(0xCC0000));
    QCOMPARE(image.pixel(9, 4), kUnpainted);
}

void TestStylePanel::identicalColoursPaintOneBand() {
    // One band per half covering rnd(S / 2) + 1 pixels: 21 rows -> 11 rows.
    TVelStylePanel panel;
    panel.resize(6, 21);
    panel.setGradientVertical(true);
    panel.setGradientColor1(0x101010);
    panel.setGradientColor2(0x101010);
    panel.setGradientColor3(0x202020);
    panel.setGradientColor4(0x202020);
    const QImage image = render(panel);
    // First half rows 1..11, second half from 1 + rnd(10.5) - 2 = 9 to 19.
    QCOMPARE(image.pixel(2, 8), px(0x101010));
    QCOMPARE(image.pixel(2, 9), px(0x202020));
    QCOMPARE(image.pixel(2, 19), px(0x202020));
    // Row 20 is reached by the gap rule: the second half ends at row 19.
    QCOMPARE(image.pixel(2, 20), px(0x202020));
}

void TestStylePanel::horizontalGradient_data() {
    // Defaults: 0x666666 -> 0xBBBBBB | 0xBBBBBB -> 0x666666, highlight ramp
    // 0x999999 -> 0xEEEEEE -> 0x999999, on a 20 x 10 panel.
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<TColor>("color");
    QTest::newRow("highlight dark at the left") << 0 << 0 << TColor(0x999999);
    QTest::newRow("highlight second pixel") << 1 << 0 << TColor(0x9E9E9E);
    QTest::newRow("highlight light in the middle") << 10 << 0 << TColor(0xEEEEEE);
    QTest::newRow("highlight falls to the right") << 19 << 0 << TColor(0xA5A5A5);
    QTest::newRow("first column") << 0 << 5 << TColor(0x6A6A6A);
    QTest::newRow("end of first half") << 9 << 5 << TColor(0xB6B6B6);
    QTest::newRow("start of second half") << 10 << 5 << TColor(0xB7B7B7);
    QTest::newRow("last column") << 19 << 9 << TColor(0x6B6B6B);
}

void TestStylePanel::horizontalGradient() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(TColor, color);
    TVelStylePanel panel;
    panel.resize(20, 10);
    QCOMPARE(render(panel).pixel(x, y), px(color));
}

void TestStylePanel::plainFillAndBorders() {
    TVelStylePanel panel;
    panel.resize(8, 6);
    panel.setGradient(false);
    QImage image = render(panel);
    QCOMPARE(image.pixel(0, 0), px(clBtnFace)); // the outline takes the fill colour too
    QCOMPARE(image.pixel(7, 5), px(clBtnFace));

    panel.setColor(0x00FF00);
    panel.setLineColor(0x0000FF);
    panel.setLineTop(true);
    panel.setLineBottom(true);
    panel.setLineLeft(true);
    panel.setLineRight(true);
    image = render(panel);
    QCOMPARE(image.pixel(3, 3), px(0x00FF00));
    QCOMPARE(image.pixel(3, 0), px(0x0000FF));
    QCOMPARE(image.pixel(3, 5), px(0x0000FF));
    QCOMPARE(image.pixel(0, 3), px(0x0000FF));
    QCOMPARE(image.pixel(7, 0), px(0x0000FF));
    // Lines leave out their end point: the bottom-right corner keeps the fill.
    QCOMPARE(image.pixel(7, 5), px(0x00FF00));
}

void TestStylePanel::systemColourBytesAreTakenRaw() {
    // The ramp reads the low bytes as they stand: button face (0xFF00000F)
    // is red 0x0F, not the grey it stands for.
    TVelStylePanel panel;
    panel.resize(4, 6);
    panel.setGradientVertical(true);
    panel.setGradientColor1(clBtnFace);
    panel.setGradientColor2(clBtnFace);
    panel.setGradientColor3DLight(clBtnFace);
    const QImage image = render(panel);
    QCOMPARE(image.pixel(1, 1), px(0x00000F));
    // The highlight is drawn with the pen, which resolves the system colour.
    QCOMPARE(image.pixel(1, 0), px(clBtnFace));
}

void TestStylePanel::paintEventMatchesBackground() {
    QWidget form;
    form.resize(200, 100);
    auto* panel = new TVelStylePanel(&form);
    panel->setGeometry(0, 0, 200, 65);
    panel->setLineTop(true);
    panel->setTheme(thVerticalDark);
    const QImage grabbed = panel->grab().toImage();
    QCOMPARE(grabbed.pixel(100, 1), px(0x999999));
    QCOMPARE(grabbed.pixel(100, 64), px(0x010101));
}

void TestStylePanel::colourSetterDropsTheme() {
    TVelStylePanel panel;
    panel.setTheme(thVerticalDark);
    QCOMPARE(panel.theme(), thVerticalDark);
    QCOMPARE(panel.gradientColor1(), 4473924);
    QVERIFY(panel.gradientVertical());

    panel.setGradientColor2(0x123456);
    QCOMPARE(panel.theme(), thCustom);
    panel.setGradient(false);

    panel.setTheme(thVerticalDark);
    QCOMPARE(panel.theme(), thVerticalDark);
    QCOMPARE(panel.gradientColor2(), 2236962);
    QVERIFY(panel.gradient());

    // The frame switches between the dark and the dimmed scheme.
    panel.setTheme(thVerticalDarkDisabled);
    QCOMPARE(panel.gradientColor1(), 0x555555);
    QCOMPARE(panel.gradientColor4(), 0x111111);
}

void TestStylePanel::equalValueKeepsTheme() {
    TVelStylePanel panel;
    panel.setTheme(thVerticalDark);
    panel.setGradientColor1(4473924);
    panel.setGradientVertical(true);
    panel.setGradient(true);
    panel.setLineColor(clBlack);
    QCOMPARE(panel.theme(), thVerticalDark);
}

void TestStylePanel::lineSwitchesKeepTheme() {
    TVelStylePanel panel;
    panel.setTheme(thXPDark);
    panel.setLineTop(true);
    panel.setLineRight(true);
    panel.setFormResize(true);
    QCOMPARE(panel.theme(), thXPDark);
}

void TestStylePanel::customThemeKeepsColours() {
    TVelStylePanel panel;
    panel.setTheme(thVerticalGreen);
    panel.setTheme(thCustom);
    QCOMPARE(panel.theme(), thCustom);
    QCOMPARE(panel.gradientColor2(), 0x33BB66);
    QCOMPARE(panel.lineColor(), 0xC0C0C0);

    // A value outside the table (a damaged setting) changes nothing.
    panel.setTheme(static_cast<TVelThemeTypes>(200));
    QCOMPARE(panel.theme(), thCustom);
    QCOMPARE(panel.gradientColor2(), 0x33BB66);
}

void TestStylePanel::zones_data() {
    QTest::addColumn<int>("fx");
    QTest::addColumn<int>("fy");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("cursor");
    // A 942 x 696 form: top and left zones 5 pixels, bottom and right 4.
    QTest::newRow("top-left corner") << 0 << 0 << 0xF004 << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-left 4,4") << 4 << 4 << 0xF004 << int(Qt::SizeFDiagCursor);
    QTest::newRow("inner 5,5") << 5 << 5 << 0 << int(Qt::ArrowCursor);
    QTest::newRow("top edge") << 400 << 4 << 0xF003 << int(Qt::SizeVerCursor);
    QTest::newRow("top-right") << 938 << 0 << 0xF005 << int(Qt::SizeBDiagCursor);
    QTest::newRow("left edge") << 0 << 300 << 0xF001 << int(Qt::SizeHorCursor);
    QTest::newRow("right edge starts at FW-4") << 938 << 300 << 0xF002 << int(Qt::SizeHorCursor);
    QTest::newRow("FW-5 is inner") << 937 << 300 << 0 << int(Qt::ArrowCursor);
    QTest::newRow("bottom edge starts at FH-4") << 400 << 692 << 0xF006 << int(Qt::SizeVerCursor);
    QTest::newRow("FH-5 is inner") << 400 << 691 << 0 << int(Qt::ArrowCursor);
    QTest::newRow("bottom-left") << 4 << 695 << 0xF007 << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-right 4x4") << 938 << 692 << 0xF008 << int(Qt::SizeFDiagCursor);
    QTest::newRow("bottom-right corner") << 941 << 695 << 0xF008 << int(Qt::SizeFDiagCursor);
}

void TestStylePanel::zones() {
    QFETCH(int, fx);
    QFETCH(int, fy);
    QFETCH(int, command);
    QFETCH(int, cursor);
    const framezones::Zone zone = framezones::zoneAt(fx, fy, 942, 696);
    QCOMPARE(framezones::sizeCommandFor(zone), command);
    QCOMPARE(int(framezones::cursorFor(zone)), cursor);
    QCOMPARE(zone.inner(), command == 0);
    // Moving: always without resize, with resize only from the inner zone.
    QVERIFY(framezones::pressMoves(zone, false));
    QCOMPARE(framezones::pressMoves(zone, true), command == 0);
}

void TestStylePanel::edgesPerCommand() {
    using namespace framezones;
    QCOMPARE(edgesFor(0xF001), Qt::Edges(Qt::LeftEdge));
    QCOMPARE(edgesFor(0xF002), Qt::Edges(Qt::RightEdge));
    QCOMPARE(edgesFor(0xF003), Qt::Edges(Qt::TopEdge));
    QCOMPARE(edgesFor(0xF004), Qt::TopEdge | Qt::LeftEdge);
    QCOMPARE(edgesFor(0xF005), Qt::TopEdge | Qt::RightEdge);
    QCOMPARE(edgesFor(0xF006), Qt::Edges(Qt::BottomEdge));
    QCOMPARE(edgesFor(0xF007), Qt::BottomEdge | Qt::LeftEdge);
    QCOMPARE(edgesFor(0xF008), Qt::BottomEdge | Qt::RightEdge);
    QCOMPARE(edgesFor(scDragMove), Qt::Edges());
    QCOMPARE(scDragMove, scMove + 2);
}

void TestStylePanel::pressSendsCommands_data() {
    QTest::addColumn<bool>("resize");
    QTest::addColumn<bool>("move");
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("at"); // in the title panel, which sits at the form's top-left
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("top-left resizes")
        << true << true << int(Qt::LeftButton) << QPoint(2, 2) << QStringList{"F004"};
    QTest::newRow("right button resizes too")
        << true << true << int(Qt::RightButton) << QPoint(2, 2) << QStringList{"F004"};
    QTest::newRow("inner moves") << true << true << int(Qt::LeftButton) << QPoint(150, 30)
                                 << QStringList{"F012"};
    QTest::newRow("middle button moves")
        << true << true << int(Qt::MiddleButton) << QPoint(150, 30) << QStringList{"F012"};
    QTest::newRow("edge moves without resize")
        << false << true << int(Qt::LeftButton) << QPoint(2, 2) << QStringList{"F012"};
    QTest::newRow("resize only, inner does nothing")
        << true << false << int(Qt::LeftButton) << QPoint(150, 30) << QStringList{};
    QTest::newRow("right edge") << true << true << int(Qt::LeftButton) << QPoint(297, 30)
                                << QStringList{"F002"};
    QTest::newRow("neither") << false << false << int(Qt::LeftButton) << QPoint(2, 2)
                             << QStringList{};
}

void TestStylePanel::pressSendsCommands() {
    QFETCH(bool, resize);
    QFETCH(bool, move);
    QFETCH(int, button);
    QFETCH(QPoint, at);
    QFETCH(QStringList, commands);
    Recorder recorder;
    QWidget form;
    form.resize(300, 200);
    auto* panel = new TVelStylePanel(&form);
    panel->setGeometry(0, 0, 300, 65);
    panel->setFormResize(resize);
    panel->setFormMove(move);
    QTest::mousePress(panel, Qt::MouseButton(button), {}, at);
    QCOMPARE(recorder.log, commands);
}

void TestStylePanel::mouseDownRaisedFirst() {
    // The status bar at the bottom: its bottom-right corner is the form's.
    Recorder recorder;
    QWidget form;
    form.resize(300, 200);
    auto* panel = new TVelStylePanel(&form);
    panel->setGeometry(0, 179, 300, 21);
    panel->setFormResize(true);
    connect(panel, &TVelStylePanel::mouseDown, panel,
            [&](Qt::MouseButton, Qt::KeyboardModifiers, QPoint pos) {
                recorder.log << QStringLiteral("down %1,%2").arg(pos.x()).arg(pos.y());
            });
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(298, 20));
    QCOMPARE(recorder.log, (QStringList{"down 298,20", "F008"}));
}

void TestStylePanel::noFormNoWindowHandling() {
    Recorder recorder;
    QWidget form;
    form.resize(300, 200);
    auto* holder = new QWidget(&form);
    holder->setGeometry(0, 0, 300, 100);
    auto* panel = new TVelStylePanel(holder);
    panel->setGeometry(0, 0, 300, 65);
    panel->setFormResize(true);
    panel->setFormMove(true);
    panel->setFormMaximize(true);
    QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(100, 30));
    QVERIFY(recorder.log.isEmpty());
    QVERIFY(!form.isMaximized());

    TVelStylePanel orphan;
    orphan.setFormMove(true);
    orphan.resize(50, 20);
    QTest::mousePress(&orphan, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(recorder.log.isEmpty());
}

void TestStylePanel::cursorFollowsZone() {
    QWidget form;
    form.resize(300, 200);
    auto* panel = new TVelStylePanel(&form);
    panel->setGeometry(0, 0, 300, 65);
    panel->setFormResize(true);
    auto moveTo = [&](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, panel->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(panel, &move);
    };
    moveTo(QPoint(1, 1));
    QCOMPARE(panel->cursor().shape(), Qt::SizeFDiagCursor);
    moveTo(QPoint(150, 1));
    QCOMPARE(panel->cursor().shape(), Qt::SizeVerCursor);
    moveTo(QPoint(150, 30));
    QVERIFY(!panel->testAttribute(Qt::WA_SetCursor));

    // Without FormResize the cursor is left alone.
    panel->setFormResize(false);
    moveTo(QPoint(1, 1));
    QVERIFY(!panel->testAttribute(Qt::WA_SetCursor));
}

void TestStylePanel::doubleClickTogglesMaximised() {
    Recorder recorder; // the press of the double click must not reach the window manager
    QWidget form;
    form.resize(300, 200);
    auto* panel = new TVelStylePanel(&form);
    panel->setGeometry(0, 0, 300, 65);
    panel->setFormMaximize(true);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(100, 30));
    QVERIFY(form.windowState() & Qt::WindowMaximized);
    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(100, 30));
    QVERIFY(!(form.windowState() & Qt::WindowMaximized));

    form.showMinimized();
    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(100, 30));
    QCOMPARE(form.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), Qt::WindowStates());

    panel->setFormMaximize(false);
    QTest::mouseDClick(panel, Qt::LeftButton, {}, QPoint(100, 30));
    QVERIFY(!(form.windowState() & Qt::WindowMaximized));
}

void TestStylePanel::enterAndLeaveIncludeChildren() {
    TVelStylePanel panel;
    auto* label = new QLabel(QStringLiteral("DB"), &panel);
    QStringList log;
    connect(&panel, &TVelStylePanel::mouseEnter, &panel, [&] { log << QStringLiteral("enter"); });
    connect(&panel, &TVelStylePanel::mouseLeave, &panel, [&] { log << QStringLiteral("leave"); });

    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&panel, &enter);
    QCoreApplication::sendEvent(label, &enter);
    QCoreApplication::sendEvent(label, &leave);
    QCoreApplication::sendEvent(&panel, &leave);
    QCOMPARE(log, (QStringList{"enter", "enter", "leave", "leave"}));

    // A control taken off the panel no longer reports.
    label->setParent(nullptr);
    QCoreApplication::sendEvent(label, &enter);
    QCOMPARE(log.size(), 4);
    delete label;
}

QTEST_MAIN(TestStylePanel)
#include "tst_stylepanel.moc"
