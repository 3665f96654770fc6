// Start-up of the styled controls: the application style keeps its look, and
// the tool bar overflow icons it defers come out as the style's own; icons
// made on first use.
#include "controls/deferredicon.h"
#include "controls/imagelist.h"
#include "controls/styledcontrols.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QToolBar>
#include <QtTest>

class TestStyledControls : public QObject {
    Q_OBJECT

    QString m_styleName;

private slots:
    void initTestCase() { m_styleName = QApplication::style()->name(); }

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
