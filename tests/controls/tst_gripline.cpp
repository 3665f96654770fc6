// Grip line: dot positions and shapes on rendered images, colour rules.
#include "controls/VelGripLine.h"

#include <QPainter>
#include <QtTest>

namespace {

QImage render(const TVelGripLine& grip) {
    QImage image(grip.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    grip.paintDots(painter);
    return image;
}

// Anchors as "x,y x,y ..." for compact tables.
QString anchors(const TVelGripLine& grip) {
    QStringList out;
    for (const QPoint& p : grip.dotAnchors())
        out << QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestGripLine : public QObject {
    Q_OBJECT
private slots:
    void anchors_data();
    void anchors();
    void largeDotShape();
    void smallDotShape();
    void titleBarGripRows();
    void onlyDotsArePainted();
    void themeAndColours();
    void defaults();
};

void TestGripLine::anchors_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<bool>("small");
    QTest::addColumn<int>("placement"); // alignment for vertical, layout for horizontal
    QTest::addColumn<QString>("expected");
    QTest::newRow("title bar 9x38")
        << QSize(9, 38) << true << false << int(TVelGripLine::taLeftJustify)
        << "0,0 0,4 0,8 0,12 0,16 0,20 0,24 0,28 0,32";
    QTest::newRow("status bar 13x17")
        << QSize(13, 17) << true << false << int(TVelGripLine::taLeftJustify) << "0,0 0,4 0,8 0,12";
    QTest::newRow("vertical right large")
        << QSize(13, 8) << true << false << int(TVelGripLine::taRightJustify) << "10,0 10,4";
    QTest::newRow("vertical right small")
        << QSize(13, 6) << true << true << int(TVelGripLine::taRightJustify) << "11,0 11,3";
    QTest::newRow("vertical centre")
        << QSize(13, 4) << true << false << int(TVelGripLine::taCenter) << "4,0";
    QTest::newRow("centre on 3 wide raised to 0")
        << QSize(3, 4) << true << false << int(TVelGripLine::taCenter) << "0,0";
    QTest::newRow("horizontal top")
        << QSize(12, 9) << false << false << int(TVelGripLine::tlTop) << "0,0 4,0 8,0";
    QTest::newRow("horizontal bottom large")
        << QSize(8, 9) << false << false << int(TVelGripLine::tlBottom) << "0,6 4,6";
    QTest::newRow("horizontal bottom small")
        << QSize(7, 9) << false << true << int(TVelGripLine::tlBottom) << "0,7 3,7";
    QTest::newRow("horizontal centre")
        << QSize(4, 9) << false << false << int(TVelGripLine::tlCenter) << "0,2";
    QTest::newRow("small dots pitch 3")
        << QSize(2, 9) << true << true << int(TVelGripLine::taLeftJustify) << "0,0 0,3 0,6";
    QTest::newRow("too short for a large dot")
        << QSize(9, 3) << true << false << int(TVelGripLine::taLeftJustify) << "";
    QTest::newRow("too short for a small dot")
        << QSize(2, 9) << false << true << int(TVelGripLine::tlTop) << "";
    QTest::newRow("bottom on a flat control raised to 0")
        << QSize(8, 1) << false << false << int(TVelGripLine::tlBottom) << "0,0 4,0";
}

void TestGripLine::anchors() {
    QFETCH(QSize, size);
    QFETCH(bool, vertical);
    QFETCH(bool, small);
    QFETCH(int, placement);
    QFETCH(QString, expected);
    TVelGripLine grip;
    grip.resize(size);
    grip.setVertical(vertical);
    grip.setSmallDots(small);
    if (vertical)
        grip.setAlignment(TVelGripLine::TAlignment(placement));
    else
        grip.setLayout(TVelGripLine::TTextLayout(placement));
    QCOMPARE(::anchors(grip), expected);
}

void TestGripLine::largeDotShape() {
    TVelGripLine grip;
    grip.resize(4, 3);
    grip.setColor3DDark(0x0000FF);
    grip.setColor3DLight(0x00FF00);
    const QImage image = render(grip);
    const QRgb d = toQColor(0x0000FF).rgb(), l = toQColor(0x00FF00).rgb(), o = 0;
    // D D - / D - L / - L L
    const QRgb expected[3][3] = {{d, d, o}, {d, o, l}, {o, l, l}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            QCOMPARE(image.pixel(x, y), expected[y][x]);
    QCOMPARE(image.pixel(3, 0), o);
}

void TestGripLine::smallDotShape() {
    TVelGripLine grip;
    grip.resize(3, 2);
    grip.setSmallDots(true);
    grip.setColor3DDark(0x0000FF);
    grip.setColor3DLight(0x00FF00);
    const QImage image = render(grip);
    QCOMPARE(image.pixel(0, 0), toQColor(0x0000FF).rgb());
    QCOMPARE(image.pixel(1, 1), toQColor(0x00FF00).rgb());
    QCOMPARE(image.pixel(1, 0), QRgb(0));
    QCOMPARE(image.pixel(0, 1), QRgb(0));
}

void TestGripLine::titleBarGripRows() {
    TVelGripLine grip;
    grip.resize(9, 38);
    grip.setVertical(true);
    grip.setTheme(thVerticalAquaDark);
    const QImage image = render(grip);
    // The last dot is anchored at row 32 and reaches row 34; 35 to 37 stay empty.
    QCOMPARE(image.pixel(0, 32), toQColor(0x000000).rgb());
    QCOMPARE(image.pixel(2, 34), toQColor(0x999999).rgb());
    for (int y = 35; y < 38; ++y)
        for (int x = 0; x < 9; ++x)
            QCOMPARE(image.pixel(x, y), QRgb(0));
}

void TestGripLine::onlyDotsArePainted() {
    TVelGripLine grip;
    grip.resize(13, 17);
    grip.setVertical(true);
    const QImage image = render(grip);
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += image.pixel(x, y) != 0;
    QCOMPARE(painted, 4 * 6);

    // On a window the parent's background shows between the dots.
    QWidget form;
    form.resize(40, 40);
    form.setAutoFillBackground(true);
    QPalette palette = form.palette();
    palette.setColor(QPalette::Window, Qt::red);
    form.setPalette(palette);
    auto* child = new TVelGripLine(&form);
    child->setVertical(true);
    child->setGeometry(10, 10, 13, 17);
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.pixel(10, 10), toQColor(clBlack).rgb());
    QCOMPARE(shot.pixel(11, 11), QColor(Qt::red).rgb());
    QCOMPARE(shot.pixel(12, 12), toQColor(clWhite).rgb());
}

void TestGripLine::themeAndColours() {
    TVelGripLine grip;
    grip.setTheme(thVerticalAquaDark);
    QCOMPARE(grip.color3DDark(), 0x000000);
    QCOMPARE(grip.color3DLight(), 10066329);

    // An equal colour changes nothing, the theme stays.
    grip.setColor3DLight(10066329);
    QCOMPARE(grip.theme(), thVerticalAquaDark);

    // A system colour is stored as the colour it stands for.
    grip.setColor3DLight(clBtnFace);
    QCOMPARE(grip.color3DLight(), colorToRGB(clBtnFace));
    QVERIFY(!isSystemColor(grip.color3DLight()));
    QCOMPARE(grip.theme(), thCustom);

    // Setting the resolved value of the stored colour as a system colour is no change.
    grip.setTheme(thVerticalAquaDark);
    grip.setColor3DDark(colorToRGB(0x000000));
    QCOMPARE(grip.theme(), thVerticalAquaDark);

    // thCustom keeps the colours.
    grip.setTheme(thCustom);
    QCOMPARE(grip.color3DLight(), 10066329);

    // The theme's values are copied as the table holds them.
    grip.setTheme(thHorizontalLight);
    QCOMPARE(grip.color3DDark(), 0x888888);
    QCOMPARE(grip.color3DLight(), 0xFFFFFF);
}

void TestGripLine::defaults() {
    TVelGripLine grip;
    QCOMPARE(grip.size(), QSize(30, 30));
    QCOMPARE(grip.color3DDark(), clBlack);
    QCOMPARE(grip.color3DLight(), clWhite);
    QCOMPARE(grip.theme(), thCustom);
    QVERIFY(!grip.vertical());
    QVERIFY(!grip.smallDots());
    QCOMPARE(grip.alignment(), TVelGripLine::taLeftJustify);
}

QTEST_MAIN(TestGripLine)
#include "tst_gripline.moc"
