// Link label: auto-size, state images, hot/visited colours and underline,
// selection across a window, click with and without opening the link.
#include "controls/VelLinkLabel.h"
#include "controls/imagelist.h"
#include "controls/styledcontrols.h"

#include <QAccessible>
#include <QAction>
#include <QPainter>
#include <QtTest>
#include <memory>

namespace {

// Image i is a solid square of colour kImageColors[i].
const QList<QColor> kImageColors = {Qt::red,     Qt::green,     Qt::blue,
                                    Qt::cyan,    Qt::magenta,   Qt::yellow,
                                    Qt::darkRed, Qt::darkGreen, Qt::darkBlue};

std::unique_ptr<ImageList> makeImages() {
    auto list = std::make_unique<ImageList>(QSize(16, 16));
    for (const QColor& c : kImageColors) {
        QPixmap pixmap(16, 16);
        pixmap.fill(c);
        list->add(pixmap);
    }
    return list;
}

QFont captionFont() {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11);
    return f;
}

// A caption button as the main window's title bar has them.
void makeCaptionButton(TVelLinkLabel& label, ImageList* images, int normal, int hot, int pressed,
                       int disabled) {
    label.setFont(captionFont());
    label.setImageIndex(normal);
    label.setImageIndexHot(hot);
    label.setImageIndexPressed(pressed);
    label.setImageIndexDisabled(disabled);
    label.setImageList(images);
    label.setURL(QStringLiteral(" "));
    label.setCaption(QStringLiteral(" "));
    label.setTransparent(true);
}

// The width the text takes when drawn, whole pixels rounded up.
int textWidth(const QString& text) {
    return QFontMetrics(captionFont()).boundingRect(QRect(), Qt::TextShowMnemonic, text).width();
}

QImage render(const TVelLinkLabel& label) {
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    label.paintLabel(painter);
    return image;
}

void sendEnter(QWidget* w) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(w, &enter);
}

void sendLeave(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w, &leave);
}

void sendButton(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint at = QPoint(2, 2)) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void click(QWidget* w, QPoint at = QPoint(2, 2)) {
    sendButton(w, QEvent::MouseButtonPress, Qt::LeftButton, at);
    sendButton(w, QEvent::MouseButtonRelease, Qt::LeftButton, at);
}

struct OpenerRecorder {
    QStringList urls;
    QList<Qt::CursorShape> cursors;
    bool result = true;
    bool fail = false;
    OpenerRecorder() {
        setUrlOpener([this](const QString& url) {
            urls << url;
            const QCursor* c = QGuiApplication::overrideCursor();
            cursors << (c ? c->shape() : Qt::ArrowCursor);
            if (fail)
                throw std::runtime_error("no handler");
            return result;
        });
    }
    ~OpenerRecorder() { setUrlOpener({}); }
};

} // namespace

class TestLinkLabel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void captionButtonSizesToImage();
    void wordCaptionSizesBesideImage();
    void sizeWithoutImage();
    void rightAlignedKeepsRightEdge();
    void stateImages_data();
    void stateImages();
    void paintedImageAndPlacement();
    void hotColourAndUnderline();
    void alreadyUnderlinedStaysUnderlined();
    void disabledIgnoresHover();
    void clickWithoutVisitLink();
    void clickOpensLinkUnderHourglass();
    void failingOpenerIsIgnored();
    void releaseOutsideIsNoClick();
    void urlRules();
    void captionFollowsUrl();
    void selectionAcrossWindow();
    void imageListDestroyed();
    void actionLink();
    void parentSetsCaptionColour();
    void pressedFromKeyboardAndScreenReader();
};

void TestLinkLabel::initTestCase() {
    // The Windows faces the windows were laid out with are registered at start-up.
    initStyledControls();
    QCOMPARE(QFontInfo(captionFont()).family(), QStringLiteral("Tahoma"));
    QCOMPARE(QFontInfo(QFont(QStringLiteral("MS Sans Serif"))).family(), QStringLiteral("Tahoma"));
}

void TestLinkLabel::captionButtonSizesToImage() {
    const auto images = makeImages();
    QWidget form;
    TVelLinkLabel close(&form);
    makeCaptionButton(close, images.get(), 0, 1, 2, 1);
    QCOMPARE(close.size(), QSize(16, 16));
}

void TestLinkLabel::wordCaptionSizesBesideImage() {
    const auto images = makeImages();
    TVelLinkLabel label;
    makeCaptionButton(label, images.get(), 0, 1, 2, 1);
    label.setCaption(QStringLiteral("Schließen"));
    const QFontMetrics metrics(captionFont());
    const int tw = textWidth(QStringLiteral("Schließen"));
    QCOMPARE(label.width(), 16 + 10 + tw);
    QCOMPARE(label.height(), std::max(16, metrics.height()));

    label.setImageBoarderSpace(3);
    QCOMPARE(label.width(), 16 + 10 + tw + 3);
}

void TestLinkLabel::sizeWithoutImage() {
    TVelLinkLabel label;
    label.setFont(captionFont());
    label.setCaption(QString());
    // An empty caption still measures one line.
    const int lineHeight = label.height();
    QVERIFY(lineHeight > 0);
    label.setCaption(QStringLiteral("&"));
    QCOMPARE(label.height(), lineHeight);
    // The indexes alone, without a list, are no image.
    label.setImageIndex(2);
    label.setCaption(QStringLiteral("Info"));
    QCOMPARE(label.width(), textWidth(QStringLiteral("Info")));
    label.setAutoSize(false);
    label.setCaption(QStringLiteral("Information"));
    QCOMPARE(label.width(), textWidth(QStringLiteral("Info")));
}

void TestLinkLabel::rightAlignedKeepsRightEdge() {
    TVelLinkLabel label;
    label.setFont(captionFont());
    label.setAlignment(TVelLinkLabel::taRightJustify);
    label.setCaption(QStringLiteral("Datenbank"));
    label.move(100, 5);
    const int right = label.geometry().right();
    label.setCaption(QStringLiteral("DB"));
    QCOMPARE(label.geometry().right(), right);
}

void TestLinkLabel::stateImages_data() {
    QTest::addColumn<bool>("hot");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("hotIndex");
    QTest::addColumn<int>("expected");
    // The close button: normal 0, hot 1, pressed 2, disabled 1.
    QTest::newRow("normal") << false << false << true << 1 << 0;
    QTest::newRow("hot") << true << false << true << 1 << 1;
    QTest::newRow("pressed wins over hot") << true << true << true << 1 << 2;
    QTest::newRow("pressed without hover") << false << true << true << 1 << 2;
    QTest::newRow("disabled wins") << false << true << false << 1 << 1;
    QTest::newRow("hot index beyond the list") << true << false << true << 40 << 0;
}

void TestLinkLabel::stateImages() {
    QFETCH(bool, hot);
    QFETCH(bool, pressed);
    QFETCH(bool, enabled);
    QFETCH(int, hotIndex);
    QFETCH(int, expected);
    const auto images = makeImages();
    QWidget form;
    TVelLinkLabel label(&form);
    makeCaptionButton(label, images.get(), 0, hotIndex, 2, 1);
    if (hot)
        sendEnter(&label);
    if (pressed)
        sendButton(&label, QEvent::MouseButtonPress, Qt::LeftButton);
    label.setEnabled(enabled);
    QCOMPARE(label.currentImageIndex(), expected);
    QCOMPARE(QColor(render(label).pixel(8, 8)), kImageColors[expected]);

    // Releasing ends the pressed image.
    if (pressed && enabled) {
        sendButton(&label, QEvent::MouseButtonRelease, Qt::LeftButton);
        QCOMPARE(label.currentImageIndex(), hot && hotIndex == 1 ? 1 : 0);
    }
}

void TestLinkLabel::paintedImageAndPlacement() {
    const auto images = makeImages();
    TVelLinkLabel label;
    label.setFont(captionFont());
    label.setImageList(images.get());
    label.setImageIndex(4);
    label.setCaption(QStringLiteral("Hilfe"));
    label.setAutoSize(false);
    label.resize(80, 30);
    label.setColor(0xFFFFFF);

    // Image left, vertically centred: (30 - 16) / 2 = 7.
    QImage image = render(label);
    QCOMPARE(QColor(image.pixel(0, 7)), kImageColors[4]);
    QCOMPARE(QColor(image.pixel(15, 22)), kImageColors[4]);
    QCOMPARE(QColor(image.pixel(0, 6)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(0, 23)), QColor(Qt::white));

    // Image on top, centred horizontally: x = (80 - 16) / 2, above the centred text.
    label.setImageTop(true);
    label.setLayout(TVelLinkLabel::tlCenter);
    image = render(label);
    const int th = QFontMetrics(captionFont()).height();
    const int textTop = (30 - th + 16 + 10) / 2;
    const int imageTop = textTop - 16 - 10;
    QCOMPARE(QColor(image.pixel(32, std::max(imageTop, 0))), kImageColors[4]);
    QCOMPARE(QColor(image.pixel(31, std::max(imageTop, 0))), QColor(Qt::white));

    // Index -1 with other indexes set draws no image.
    label.setImageIndex(-1);
    label.setImageIndexHot(3);
    label.setImageTop(false);
    image = render(label);
    QCOMPARE(QColor(image.pixel(8, 15)), QColor(Qt::white));
}

void TestLinkLabel::hotColourAndUnderline() {
    QWidget form;
    TVelLinkLabel label(&form);
    label.setFont(captionFont());
    label.setCaption(QStringLiteral("www"));
    label.setFontColor(clActiveCaption);
    label.setColorHot(clBtnFace);
    QCOMPARE(label.colorHot(), colorToRGB(clBtnFace)); // resolved at assignment

    QStringList events;
    connect(&label, &TVelLinkLabel::mouseEnter, &label, [&] { events << QStringLiteral("enter"); });
    connect(&label, &TVelLinkLabel::mouseLeave, &label, [&] { events << QStringLiteral("leave"); });

    sendEnter(&label);
    QVERIFY(label.isHot());
    QVERIFY(label.font().underline());
    QCOMPARE(label.fontColor(), colorToRGB(clBtnFace));
    QCOMPARE(label.normalFontColor(), colorToRGB(clActiveCaption));

    sendLeave(&label);
    QVERIFY(!label.isHot());
    QVERIFY(!label.font().underline());
    // The system colour comes back as the explicit colour it stood for.
    QCOMPARE(label.fontColor(), colorToRGB(clActiveCaption));
    QCOMPARE(events, (QStringList{"enter", "leave"}));

    // Once visited, leaving shows the visited colour.
    click(&label);
    sendEnter(&label);
    sendLeave(&label);
    QCOMPARE(label.fontColor(), clGrayText);
    QVERIFY(label.isVisited());

    // Without UnderlineHot the font is left alone.
    label.setUnderlineHot(false);
    sendEnter(&label);
    QVERIFY(!label.font().underline());
}

void TestLinkLabel::alreadyUnderlinedStaysUnderlined() {
    TVelLinkLabel label;
    QFont f = captionFont();
    f.setUnderline(true);
    label.setFont(f);
    sendEnter(&label);
    sendLeave(&label);
    QVERIFY(label.font().underline());
}

void TestLinkLabel::disabledIgnoresHover() {
    TVelLinkLabel label;
    label.setFontColor(0x112233);
    label.setEnabled(false);
    bool entered = false;
    connect(&label, &TVelLinkLabel::mouseEnter, &label, [&] { entered = true; });
    sendEnter(&label);
    QVERIFY(!label.isHot());
    QCOMPARE(label.fontColor(), 0x112233);
    QVERIFY(entered); // the event still reaches the owner
}

void TestLinkLabel::clickWithoutVisitLink() {
    OpenerRecorder opener;
    TVelLinkLabel label;
    label.setURL(QStringLiteral("https://example.org"));
    int clicks = 0;
    connect(&label, &TVelLinkLabel::clicked, &label, [&] { ++clicks; });
    click(&label);
    QCOMPARE(clicks, 1);
    QCOMPARE(label.fontColor(), clGrayText);
    QVERIFY(opener.urls.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestLinkLabel::clickOpensLinkUnderHourglass() {
    OpenerRecorder opener;
    TVelLinkLabel label;
    label.setURL(QStringLiteral("https://example.org"));
    label.setVisitLink(true);
    QStringList order;
    connect(&label, &TVelLinkLabel::clicked, &label, [&] { order << QStringLiteral("click"); });
    connect(&label, &TVelLinkLabel::mouseUp, &label,
            [&] { order << QStringLiteral("up:") + opener.urls.join(','); });
    click(&label);
    QCOMPARE(opener.urls, QStringList{"https://example.org"});
    QCOMPARE(opener.cursors, QList<Qt::CursorShape>{Qt::WaitCursor});
    QCOMPARE(order, (QStringList{"click", "up:https://example.org"}));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestLinkLabel::failingOpenerIsIgnored() {
    OpenerRecorder opener;
    opener.fail = true;
    QVERIFY(!ShellOpenURL(nullptr, QStringLiteral("x")));
    opener.fail = false;
    opener.result = false;
    QVERIFY(!ShellOpenURL(nullptr, QStringLiteral("x")));
    opener.result = true;
    QVERIFY(ShellOpenURL(nullptr, QStringLiteral("x")));

    opener.fail = true;
    TVelLinkLabel label;
    label.setURL(QStringLiteral("nowhere"));
    label.setVisitLink(true);
    click(&label);
    QVERIFY(label.isVisited());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestLinkLabel::releaseOutsideIsNoClick() {
    TVelLinkLabel label;
    label.setCaption(QStringLiteral("Link"));
    int clicks = 0;
    connect(&label, &TVelLinkLabel::clicked, &label, [&] { ++clicks; });
    sendButton(&label, QEvent::MouseButtonPress, Qt::LeftButton);
    sendButton(&label, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(-5, -5));
    sendButton(&label, QEvent::MouseButtonPress, Qt::RightButton);
    sendButton(&label, QEvent::MouseButtonRelease, Qt::RightButton);
    QCOMPARE(clicks, 0);
    QVERIFY(!label.isVisited());
    QVERIFY(!label.isPressed());
    QVERIFY(label.selected()); // any button selects
}

void TestLinkLabel::urlRules() {
    TVelLinkLabel label;
    label.setVisitLink(true);
    label.setURL(QStringLiteral("https://example.org"));
    QVERIFY(label.visitLink());
    label.setURL(QStringLiteral(" "));
    QVERIFY(!label.visitLink());
    label.setURL(QStringLiteral("https://example.org"));
    QVERIFY(!label.visitLink());
    label.setVisitLink(true);
    label.setURL(QString());
    QVERIFY(!label.visitLink());
}

void TestLinkLabel::captionFollowsUrl() {
    TVelLinkLabel label;
    label.setURL(QStringLiteral("a.org"));
    label.setCaption(QStringLiteral("a.org"));
    label.setCaption(QStringLiteral("b.org"));
    QCOMPARE(label.url(), QStringLiteral("b.org"));
    label.setURL(QStringLiteral("c.org"));
    label.setCaption(QStringLiteral("d.org"));
    QCOMPARE(label.url(), QStringLiteral("c.org"));
}

void TestLinkLabel::selectionAcrossWindow() {
    QWidget form;
    auto* holder = new QWidget(&form);
    auto* first = new TVelLinkLabel(&form);
    auto* second = new TVelLinkLabel(holder); // another parent, same window
    for (TVelLinkLabel* l : {first, second}) {
        l->setShowFrame(true);
        l->setShowSelected(true);
        // Small letters only: no glyph reaches the pixel (1, 1) read below.
        l->setCaption(QStringLiteral("seite"));
    }
    sendButton(first, QEvent::MouseButtonPress, Qt::LeftButton);
    QVERIFY(first->selected());
    QImage image = render(*first);
    QCOMPARE(image.pixel(0, 0), toQColor(0xC56A31).rgb());
    QCOMPARE(image.pixel(first->width() - 1, first->height() - 1), toQColor(0xC56A31).rgb());
    QCOMPARE(image.pixel(1, 1), toQColor(0xEED2C1).rgb());

    sendButton(second, QEvent::MouseButtonPress, Qt::LeftButton);
    QVERIFY(second->selected());
    QVERIFY(!first->selected());
    // Unselected, not hot, transparent off: the plain label colour.
    QCOMPARE(render(*first).pixel(1, 1), toQColor(clBtnFace).rgb());

    // Hot without selection shows the hot fill.
    sendEnter(first);
    QCOMPARE(render(*first).pixel(1, 1), toQColor(0xF6E8E0).rgb());

    // Labels of another window, even one the form parents, keep their selection.
    QWidget dialog(&form, Qt::Dialog);
    auto* foreign = new TVelLinkLabel(&dialog);
    foreign->setSelected(true);
    sendButton(first, QEvent::MouseButtonPress, Qt::LeftButton);
    QVERIFY(foreign->selected());
    sendButton(second, QEvent::MouseButtonPress, Qt::LeftButton);

    // A label that does not take part in the selection deselects nobody.
    first->setShowSelected(false);
    sendButton(first, QEvent::MouseButtonPress, Qt::LeftButton);
    QVERIFY(second->selected());
}

void TestLinkLabel::imageListDestroyed() {
    auto images = makeImages();
    TVelLinkLabel label;
    makeCaptionButton(label, images.get(), 0, 1, 2, 1);
    QCOMPARE(label.size(), QSize(16, 16));
    images.reset();
    QVERIFY(!label.imageList());
    QVERIFY(!label.hasImage());
    QCOMPARE(label.imageIndex(), 0);
    QVERIFY(label.height() < 16); // re-sized to the blank caption alone
    render(label);                // and paints without the list
}

void TestLinkLabel::actionLink() {
    TVelLinkLabel label;
    QAction action(QStringLiteral("&Info"));
    action.setCheckable(true);
    action.setProperty("ImageIndex", 5);
    int triggered = 0;
    connect(&action, &QAction::triggered, &label, [&] { ++triggered; });
    label.setAction(&action);
    QCOMPARE(label.caption(), QStringLiteral("&Info"));
    QCOMPARE(label.imageIndexPressed(), 5);
    QCOMPARE(label.imageIndexDisabled(), 5);

    action.setEnabled(false);
    QVERIFY(!label.isEnabled());
    action.setEnabled(true);
    click(&label);
    QCOMPARE(triggered, 1);

    // An index of -1 is handed on too; an action without one leaves the indexes.
    action.setProperty("ImageIndex", -1);
    action.setText(QStringLiteral("Info"));
    QCOMPARE(label.imageIndexHot(), -1);
    QAction plain(QStringLiteral("Plain"));
    label.setImageIndex(3);
    label.setAction(&plain);
    QCOMPARE(label.imageIndex(), 3);
    QCOMPARE(label.caption(), QStringLiteral("Plain"));
}

void TestLinkLabel::parentSetsCaptionColour() {
    TVelLinkLabel label;
    QCOMPARE(label.fontColor(), clWindowText);
    QWidget form;
    label.setParent(&form);
    QCOMPARE(label.fontColor(), clActiveCaption);
    // A colour given afterwards wins.
    label.setFontColor(clWhite);
    QCOMPARE(label.fontColor(), clWhite);
    label.setParent(nullptr);
}

void TestLinkLabel::pressedFromKeyboardAndScreenReader() {
    QWidget form;
    TVelLinkLabel button(&form);
    button.setCaption(QStringLiteral("&Schlie\u00dfen "));
    TVelLinkLabel link(&form);
    link.setCaption(QStringLiteral("Homepage"));
    link.setURL(QStringLiteral("https://example.invalid/"));
    link.setVisitLink(true);
    link.move(0, 30);
    QStringList opened;
    setUrlOpener([&](const QString& url) {
        opened << url;
        return true;
    });
    int clicks = 0;
    connect(&button, &TVelLinkLabel::clicked, [&] { ++clicks; });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Tab reaches it; Space, Return and Enter press it, other keys do not.
    form.activateWindow();
    button.setFocus(Qt::TabFocusReason);
    QVERIFY(button.hasFocus());
    QTest::keyClick(&button, Qt::Key_Space);
    QTest::keyClick(&button, Qt::Key_Return);
    QTest::keyClick(&button, Qt::Key_Enter);
    QTest::keyClick(&button, Qt::Key_A);
    QCOMPARE(clicks, 3);

    // A screen reader sees a button named by the caption without its marks,
    // and a link with its address; both can be pressed.
    QAccessibleInterface* b = QAccessible::queryAccessibleInterface(&button);
    QCOMPARE(b->role(), QAccessible::Button);
    QCOMPARE(b->text(QAccessible::Name), QStringLiteral("Schlie\u00dfen"));
    b->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(clicks, 4);
    button.setAccessibleName(QStringLiteral("Fenster schlie\u00dfen"));
    QCOMPARE(b->text(QAccessible::Name), QStringLiteral("Fenster schlie\u00dfen"));
    QAccessibleInterface* l = QAccessible::queryAccessibleInterface(&link);
    QCOMPARE(l->role(), QAccessible::Link);
    QCOMPARE(l->text(QAccessible::Value), QStringLiteral("https://example.invalid/"));
    l->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(opened, QStringList{QStringLiteral("https://example.invalid/")});
    setUrlOpener({});
    // A disabled one is not pressed.
    button.setEnabled(false);
    b->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(clicks, 4);
}

QTEST_MAIN(TestLinkLabel)
#include "tst_linklabel.moc"
