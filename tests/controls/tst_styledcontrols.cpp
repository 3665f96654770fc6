// Start-up of the styled controls: the application style keeps its look, and
// the tool bar overflow icons it defers come out as the style's own and tab
// page frames are drawn without the paint engine's helper threads; icons made
// on first use.
#include "controls/deferredicon.h"
#include "controls/imagelist.h"
#include "controls/styledcontrols.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTabWidget>
#include <QToolBar>
#include <QtTest>

namespace {

int threadCount() {
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// Tab pages as a window shows them, drawn with the given style: tall and
// wide, tabs on top and at the bottom, in the skin's colours, and too small
// to stretch.
QList<QImage> tabPages(QStyle* style) {
    QList<QImage> images;
    QPalette skin;
    skin.setColor(QPalette::Window, QColor(0xd4, 0xd0, 0xc8));
    skin.setColor(QPalette::Button, QColor(0xec, 0xe9, 0xd8));
    for (const QSize size : {QSize(749, 385), QSize(301, 707), QSize(60, 40)}) {
        for (const auto position : {QTabWidget::North, QTabWidget::South}) {
            for (const bool skinned : {false, true}) {
                // Shown in a window, so they are painted as a window paints.
                QWidget window;
                auto* tabs = new QTabWidget(&window);
                tabs->setStyle(style);
                if (skinned)
                    tabs->setPalette(skin);
                tabs->setTabPosition(position);
                tabs->addTab(new QWidget, QStringLiteral("Abfrage"));
                tabs->addTab(new QWidget, QStringLiteral("Nachrichten"));
                tabs->setGeometry(QRect(QPoint(3, 5), size));
                window.resize(size + QSize(10, 10));
                window.show();
                if (!QTest::qWaitForWindowExposed(&window))
                    return {};
                QCoreApplication::processEvents();
                images << tabs->grab().toImage();
            }
        }
    }
    return images;
}

// A tab page frame drawn at twice the pixel density, where the style draws
// it the ordinary way.
QImage denseTabPage(QStyle* style) {
    QTabWidget tabs;
    QImage dense(QSize(301, 707) * 2, QImage::Format_ARGB32_Premultiplied);
    dense.setDevicePixelRatio(2);
    dense.fill(Qt::white);
    QPainter p(&dense);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(&tabs);
    option.rect = QRect(0, 0, 301, 707);
    style->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &p, &tabs);
    p.end();
    return dense;
}

} // namespace

class TestStyledControls : public QObject {
    Q_OBJECT

    QString m_styleName;

private slots:
    void initTestCase() { m_styleName = QApplication::style()->name(); }

    // First, while nothing has drawn yet: Qt's raster engine starts helper
    // threads for the first fill of 96 spans or more.
    void tabPagesLookTheSameAndDrawOnThePaintingThread() {
        std::unique_ptr<QStyle> plain(QStyleFactory::create(m_styleName));
        QVERIFY(plain);
        initStyledControls();
        const int threads = threadCount();
        const QList<QImage> ours = tabPages(QApplication::style());
        QVERIFY(!ours.isEmpty());
        QCOMPARE(threadCount(), threads);
        const QList<QImage> theirs = tabPages(plain.get());
        QCOMPARE(ours.size(), theirs.size());
        for (qsizetype i = 0; i < ours.size(); ++i)
            QCOMPARE(ours[i], theirs[i]);
        QCOMPARE(denseTabPage(QApplication::style()), denseTabPage(plain.get()));
    }

    void styleKeepsItsLookAndDefersOverflowIcons() {
        std::unique_ptr<QStyle> plain(QStyleFactory::create(m_styleName));
        QVERIFY(plain);
        initStyledControls();
        initStyledControls(); // a second call changes nothing
        QStyle* style = QApplication::style();
        QVERIFY(style->inherits("QProxyStyle"));
        QCOMPARE(style->standardPalette(), plain->standardPalette());
        for (auto which : {QStyle::SP_ToolBarHorizontalExtensionButton,
                           QStyle::SP_ToolBarVerticalExtensionButton, QStyle::SP_DialogOkButton}) {
            const QIcon deferred = style->standardIcon(which);
            const QIcon own = plain->standardIcon(which);
            QCOMPARE(deferred.isNull(), own.isNull());
            QCOMPARE(deferred.availableSizes(), own.availableSizes());
            for (int size : {8, 16, 32})
                QCOMPARE(deferred.pixmap(size).toImage(), own.pixmap(size).toImage());
            const QIcon copy = deferred; // copies share what was made
            QCOMPARE(copy.pixmap(16).toImage(), own.pixmap(16).toImage());
        }
    }

    // The maker runs once, on first use, whichever copy is used first; an
    // icon handed to an action and a tool bar that is sized is not made yet.
    void deferredIconIsMadeOnceOnFirstUse() {
        int made = 0;
        QPixmap red(16, 16);
        red.fill(Qt::red);
        const QIcon icon = deferredIcon(
            [&] {
                ++made;
                return QIcon(red);
            },
            DeferredIconContent::NeverNull);
        QIcon copy = icon;
        QToolBar bar;
        QAction* action = bar.addAction(copy, QStringLiteral("a"));
        action->setEnabled(false);
        bar.adjustSize(); // sizes its buttons
        QVERIFY(!icon.isNull());
        QCOMPARE(made, 0);
        QCOMPARE(copy.pixmap(16).toImage(), red.toImage());
        QCOMPARE(icon.actualSize(QSize(32, 32)), QSize(16, 16));
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(16, 16)});
        // The disabled look is the one the style makes of the plain icon.
        QCOMPARE(icon.pixmap(16, QIcon::Disabled).toImage(),
                 QIcon(red).pixmap(16, QIcon::Disabled).toImage());
        QImage painted(16, 16, QImage::Format_ARGB32_Premultiplied);
        painted.fill(Qt::transparent);
        QPainter p(&painted);
        icon.paint(&p, QRect(0, 0, 16, 16));
        p.end();
        QCOMPARE(painted.pixel(8, 8), QColor(Qt::red).rgba());
        QCOMPARE(made, 1);

        QVERIFY(deferredIcon([] { return QIcon(); }).isNull());
    }

    // A deferred image of an image list is made when first asked for or
    // drawn, once, and fitted to the list's size like any other.
    void imageListMakesDeferredImagesOnFirstUse() {
        ImageList list(QSize(16, 16));
        int made = 0;
        QPixmap big(32, 32);
        big.fill(Qt::blue);
        QPixmap plain(16, 16);
        plain.fill(Qt::green);
        QCOMPARE(list.add(plain), 0);
        QCOMPARE(list.addDeferred([&] {
            ++made;
            return big;
        }),
                 1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(made, 0);

        QImage canvas(32, 16, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        list.draw(p, 0, 0, 1);
        list.draw(p, 16, 0, 0);
        list.draw(p, 0, 0, 5); // not held: draws nothing
        p.end();
        QCOMPARE(made, 1);
        QCOMPARE(canvas.pixel(8, 8), QColor(Qt::blue).rgba());
        QCOMPARE(canvas.pixel(24, 8), QColor(Qt::green).rgba());
        QCOMPARE(list.image(1).size(), QSize(16, 16));
        QCOMPARE(made, 1);
        QVERIFY(list.image(2).isNull());
    }
};

QTEST_MAIN(TestStyledControls)
#include "tst_styledcontrols.moc"
