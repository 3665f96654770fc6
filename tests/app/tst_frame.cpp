// The main window's own frame: the configured panels, grip lines and window
// buttons, dragging and resizing from the title bar, the window buttons, the
// dimmed look while another program is active, and the about window.

#include "app/uFMAbout.h"
#include "app/uMain.h"
#include "app/uMain_frame.h"
#include "app/windows.h"
#include "controls/VelGripLine.h"
#include "controls/VelLinkLabel.h"
#include "controls/VelStylePanel.h"
#include "controls/imagelist.h"
#include "controls/pictures.h"
#include "tests/app/apptestsupport.h"

#include <QLabel>
#include <QPointer>
#include <QTest>

namespace {

QRgb rgbOf(TColor c) {
    return qRgb(redOf(c), greenOf(c), blueOf(c));
}

} // namespace

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_settings = new TempSettings;
        m_messages = new MessageRecorder;
        FirstActivation = false; // no connection dialog here
        m_wb = createWorkbench();
        w = m_wb.main;
        w->setConnectPrompt(std::make_unique<FakePrompt>());
        // Laid out at its design size, as the user first sees it.
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        m_log.clear();
        setCaptionDragHandler([this](QWidget* window) {
            QCOMPARE(window, static_cast<QWidget*>(w));
            m_log << QStringLiteral("drag");
        });
        TVelStylePanel::setSystemCommandHandler(
            [this](QWidget*, int command) { m_log << QString::number(command, 16); });
    }
    void cleanup() {
        setCaptionDragHandler({});
        TVelStylePanel::setSystemCommandHandler({});
        modal::setDialogHandler({});
        destroyWorkbench(m_wb);
        w = nullptr;
        delete m_messages;
        delete m_settings;
    }

    void frameIsConfigured() {
        QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));

        TVelStylePanel* title = w->VelStylePanel1;
        QCOMPARE(title->height(), 65);
        QVERIFY(title->lineTop() && title->lineLeft() && title->lineRight() &&
                !title->lineBottom());
        QVERIFY(title->formResize() && title->formMove() && title->formMaximize());
        TVelStylePanel* status = w->VelStylePanel2;
        QCOMPARE(status->height(), 21);
        QVERIFY(status->lineBottom() && status->lineLeft() && status->lineRight() &&
                !status->lineTop());
        QVERIFY(status->formResize() && !status->formMove() && !status->formMaximize());
        for (TVelStylePanel* p : {title, status}) {
            QCOMPARE(p->theme(), thVerticalDark);
            QCOMPARE(p->gradientColor1(), 0x444444);
            QCOMPARE(p->gradientColor2(), 0x222222);
            QCOMPARE(p->gradientColor3(), 0x222222);
            QCOMPARE(p->gradientColor4(), clBlack);
            QCOMPARE(p->gradientColor3DLight(), 0x999999);
            QCOMPARE(p->gradientColor3DDark(), clBlack);
            QVERIFY(p->gradientVertical());
        }

        const struct {
            TVelGripLine* grip;
            QWidget* parent;
            QRect geometry;
        } grips[] = {{w->VelGripLine1, title, {756, 22, 9, 38}},
                     {w->VelGripLine2, status, {320, 2, 13, 17}},
                     {w->VelGripLine3, status, {508, 2, 13, 17}}};
        for (const auto& g : grips) {
            QCOMPARE(g.grip->parentWidget(), g.parent);
            QCOMPARE(g.grip->geometry(), g.geometry);
            QVERIFY(g.grip->vertical());
            QVERIFY(!g.grip->smallDots());
            QCOMPARE(g.grip->theme(), thVerticalAquaDark);
            QCOMPARE(g.grip->color3DDark(), clBlack);
            QCOMPARE(g.grip->color3DLight(), 0x999999);
        }
    }

    // Caption buttons: caption a single blank and 16 x 16 images auto-size
    // to exactly 16 x 16; they take their images from ILWinIcons.
    void windowButtons() {
        QCOMPARE(w->ILWinIcons->objectName(), QStringLiteral("ILWinIcons"));
        QCOMPARE(w->ILWinIcons->count(), 9);
        const struct {
            TVelLinkLabel* label;
            int x, normal, hot, pressed, disabled;
        } buttons[] = {{w->VelLLMin, 882, 3, 4, 5, 4},
                       {w->VelLLMax, 902, 6, 7, 8, 7},
                       {w->VelLLClose, 922, 0, 1, 2, 1}};
        for (const auto& b : buttons) {
            QCOMPARE(b.label->parentWidget(), static_cast<QWidget*>(w->VelStylePanel1));
            QCOMPARE(b.label->geometry(), QRect(b.x, 6, 16, 16));
            QCOMPARE(b.label->imageList(), w->ILWinIcons);
            QCOMPARE(b.label->imageIndex(), b.normal);
            QCOMPARE(b.label->imageIndexHot(), b.hot);
            QCOMPARE(b.label->imageIndexPressed(), b.pressed);
            QCOMPARE(b.label->imageIndexDisabled(), b.disabled);
            QCOMPARE(b.label->caption(), QStringLiteral(" "));
            QCOMPARE(b.label->url(), QStringLiteral(" "));
            QVERIFY(!b.label->visitLink());
            QVERIFY(b.label->transparent());
            QVERIFY(b.label->underlineHot());
        }
        // The images follow the close, minimise, maximise order.
        QCOMPARE(w->ILWinIcons->image(0).toImage(), windowButtonPixmap(wbCloseNormal).toImage());
        QCOMPARE(w->ILWinIcons->image(4).toImage(), windowButtonPixmap(wbMinHot).toImage());
        QCOMPARE(w->ILWinIcons->image(8).toImage(), windowButtonPixmap(wbMaxPressed).toImage());
    }

    void rightEdgeControlsFollowTheWindow() {
        w->resize(1100, 700);
        QCOMPARE(w->VelLLClose->x(), 922 + 158);
        QCOMPARE(w->VelLLMax->x(), 902 + 158);
        QCOMPARE(w->VelLLMin->x(), 882 + 158);
        QCOMPARE(w->VelGripLine1->x(), 756 + 158);
        QCOMPARE(w->VelGripLine2->x(), 320); // the status bar separators stay
    }

    // Any button on the bare title bar drags the window, before the panel's
    // own handling (a move from the middle, a resize from an edge).
    void dragFromBareTitleBar_data() {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QStringList>("expected");
        const QStringList move{"drag", "f012"};
        QTest::newRow("left, middle") << Qt::LeftButton << QPoint(400, 30) << move;
        QTest::newRow("right, middle") << Qt::RightButton << QPoint(400, 30) << move;
        QTest::newRow("middle button") << Qt::MiddleButton << QPoint(400, 30) << move;
        QTest::newRow("top edge") << Qt::LeftButton << QPoint(400, 2)
                                  << QStringList{"drag", "f003"};
        QTest::newRow("left edge")
            << Qt::RightButton << QPoint(1, 30) << QStringList{"drag", "f001"};
        QTest::newRow("top-left corner")
            << Qt::LeftButton << QPoint(4, 4) << QStringList{"drag", "f004"};
    }
    void dragFromBareTitleBar() {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, at);
        QFETCH(QStringList, expected);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mousePress(w->VelStylePanel1, button, {}, at);
        QTest::mouseRelease(w->VelStylePanel1, button, {}, at);
        QCOMPARE(m_log, expected);
    }

    void picturesAndLabelsDoNotMove_data() {
        QTest::addColumn<QString>("name");
        for (const char* n : {"Image4", "Image1", "Label5", "Label3", "VelGripLine1",
                              "LBStatusbar1", "VelGripLine2"})
            QTest::newRow(n) << QString::fromLatin1(n);
    }
    void picturesAndLabelsDoNotMove() {
        QFETCH(QString, name);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QWidget* target = w->findChild<QWidget*>(name);
        QVERIFY(target);
        QTest::mousePress(target, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseRelease(target, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseDClick(target, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(m_log, QStringList());
        QVERIFY(!(w->windowState() & Qt::WindowMaximized));
    }

    void doubleClickAndMaxButtonToggleMaximised() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mouseDClick(w->VelStylePanel1, Qt::LeftButton, {}, QPoint(400, 30));
        QTRY_VERIFY(w->windowState() & Qt::WindowMaximized);
        QTest::mouseDClick(w->VelStylePanel1, Qt::LeftButton, {}, QPoint(400, 30));
        QTRY_VERIFY(!(w->windowState() & Qt::WindowMaximized));

        QTest::mouseClick(w->VelLLMax, Qt::LeftButton);
        QTRY_VERIFY(w->windowState() & Qt::WindowMaximized);
        QTest::mouseClick(w->VelLLMax, Qt::LeftButton);
        QTRY_VERIFY(!(w->windowState() & Qt::WindowMaximized));

        // From minimised, the button maximises.
        w->setWindowState(Qt::WindowMinimized);
        w->VelLLMaxClick();
        QTRY_VERIFY(w->windowState() & Qt::WindowMaximized);
    }

    void minimiseKeepsTheWindow() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mouseClick(w->VelLLMin, Qt::LeftButton);
        QTRY_VERIFY(w->windowState() & Qt::WindowMinimized);
        QVERIFY(w->isVisible()); // minimised, not hidden: the task bar entry stays
        w->showNormal();
        QTRY_VERIFY(!(w->windowState() & Qt::WindowMinimized));
        QVERIFY(w->windowFlags().testFlag(Qt::FramelessWindowHint));
    }

    void closeButtonClosesLikeBeenden() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->CBDatabase->setEditText(QStringLiteral("Musterfirma"));
        QTest::mouseClick(w->VelLLClose, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->SavedDatabase, QStringLiteral("Musterfirma")); // the close handler ran
    }

    void closeButtonStateImages() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        TVelLinkLabel* close = w->VelLLClose;
        QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), close->mapToGlobal(QPointF(4, 4)));
        QApplication::sendEvent(close, &enter);
        QCOMPARE(close->currentImageIndex(), 1);
        QTest::mousePress(close, Qt::LeftButton);
        QCOMPARE(close->currentImageIndex(), 2);
        QTest::mouseRelease(close, Qt::RightButton);
        close->setEnabled(false);
        QCOMPARE(close->currentImageIndex(), 1);
        QCOMPARE(m_log, QStringList()); // a press on a button moves nothing
    }

    // Both panels dim while another program is active and come back after.
    void themeFollowsApplicationFocus() {
        auto* other = new TVelStylePanel(w);
        other->setTheme(thVerticalLight);

        emit qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w->VelStylePanel1->theme(), thVerticalDarkDisabled);
        QCOMPARE(w->VelStylePanel2->theme(), thVerticalDarkDisabled);
        QCOMPARE(other->theme(), thVerticalLight);
        QImage title = w->VelStylePanel1->grab().toImage();
        QCOMPARE(title.pixel(400, 2), qRgb(0x55, 0x55, 0x55));
        // Row 1 of the 21-pixel bar: the second band (one step darker) overlaps the first.
        QCOMPARE(w->VelStylePanel2->grab().toImage().pixel(400, 1), qRgb(0x54, 0x54, 0x54));

        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w->VelStylePanel1->theme(), thVerticalDark);
        QCOMPARE(w->VelStylePanel2->theme(), thVerticalDark);
        QCOMPARE(other->theme(), thVerticalLight);
        title = w->VelStylePanel1->grab().toImage();
        QCOMPARE(title.pixel(400, 2), qRgb(0x44, 0x44, 0x44));

        // A panel set to a colour of its own (theme dropped) stays as it is.
        w->VelStylePanel2->setGradientColor2(0x123456);
        w->ApplicationEvents1Deactivate();
        QCOMPARE(w->VelStylePanel2->theme(), thCustom);
        QCOMPARE(w->VelStylePanel1->theme(), thVerticalDarkDisabled);
        w->ApplicationEvents1Activate();
        QCOMPARE(w->VelStylePanel1->theme(), thVerticalDark);
    }

    // What the window shows: the frame's lines, gradient and separators.
    void renderedFrame() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(img.size(), QSize(942, 696));
        QCOMPARE(img.pixel(400, 0), rgbOf(clBlack));    // top line
        QCOMPARE(img.pixel(400, 1), rgbOf(0x999999));   // highlight
        QCOMPARE(img.pixel(400, 2), rgbOf(0x444444));   // gradient start
        QCOMPARE(img.pixel(400, 64), rgbOf(0x010101));  // gradient end
        QCOMPARE(img.pixel(0, 30), rgbOf(clBlack));     // left line
        QCOMPARE(img.pixel(941, 30), rgbOf(clBlack));   // right line
        QCOMPARE(img.pixel(756, 22), rgbOf(clBlack));   // first grip dot, dark part
        QCOMPARE(img.pixel(758, 23), rgbOf(0x999999));  // and its light part
        QCOMPARE(img.pixel(400, 695), rgbOf(clBlack));  // status bar bottom line
        QCOMPARE(img.pixel(400, 675), rgbOf(0x999999)); // status bar highlight
        QCOMPARE(img.pixel(320, 677), rgbOf(clBlack));  // separator dots
        QCOMPARE(img.pixel(510, 678), rgbOf(0x999999));
        // The close button's image sits at the top right.
        const QImage close = windowButtonPixmap(wbCloseNormal).toImage();
        QCOMPARE(img.pixel(922 + 8, 6 + 8), close.pixel(8, 8) | 0xFF000000);
    }

    void infoOpensANewAboutWindow() {
        QWidget* startupAbout = FMAbout;
        QVERIFY(qobject_cast<TFMAbout*>(startupAbout));
        QVERIFY(startupAbout->isHidden());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        QList<QPointer<QDialog>> opened;
        modal::setDialogHandler([&](QDialog* d) {
            opened << d;
            [&] {
                QCOMPARE(FMAbout, static_cast<QWidget*>(d));
                QCOMPARE(d->parentWidget(), static_cast<QWidget*>(w));
                QCOMPARE(d->frameGeometry().center(), w->frameGeometry().center());
            }();
            d->show();
            QTest::mouseClick(static_cast<TFMAbout*>(d)->Label2, Qt::LeftButton);
            return int(QDialog::Rejected);
        });
        w->TBItemInfo->trigger();
        w->TBItemInfo->trigger();
        QCOMPARE(opened.size(), 2);
        QTRY_VERIFY(opened[0].isNull() && opened[1].isNull()); // each frees itself
        QCOMPARE(FMAbout, nullptr);
        QVERIFY(startupAbout->isHidden()); // the first one stays, unused
    }

private:
    TempSettings* m_settings = nullptr;
    MessageRecorder* m_messages = nullptr;
    Workbench m_wb;
    TFMMain* w = nullptr;
    QStringList m_log;
};

QTEST_MAIN(TestFrame)
#include "tst_frame.moc"
