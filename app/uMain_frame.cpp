// The main window's frame: title bar, window buttons, status bar, focus look,
// and the about window opened from the "?" menu.

#include "app/uMain_frame.h"

#include "app/anchors.h"
#include "app/logic/utools.h"
#include "app/uFMAbout.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "controls/VelGripLine.h"
#include "controls/VelLinkLabel.h"
#include "controls/VelStylePanel.h"
#include "controls/imagelist.h"
#include "controls/pictures.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QWindow>

namespace {

constexpr QSize kDesignClient{942, 696};
constexpr int kTitleHeight = 65;
constexpr TColor kGripLight = 0x999999; // 10066329

CaptionDragHandler& captionDragHandler() {
    static CaptionDragHandler handler;
    return handler;
}

// The colours the window stores for both panels, then the theme, in the
// order a stored form applies them, so the theme is applied last and stays.
void configurePanel(TVelStylePanel* panel) {
    panel->setLineColor(clBlack);
    panel->setGradientColor1(0x444444);
    panel->setGradientColor2(0x222222);
    panel->setGradientColor3(0x222222);
    panel->setGradientColor4(clBlack);
    panel->setGradientColor3DLight(0x999999);
    panel->setGradientColor3DDark(clBlack);
    panel->setGradientVertical(true);
    panel->setTheme(thVerticalDark);
}

TVelGripLine* makeGripLine(QWidget* parent, const char* name, QRect geometry) {
    auto* grip = new TVelGripLine(parent);
    grip->setObjectName(QLatin1String(name));
    grip->setColor3DLight(kGripLight);
    grip->setTheme(thVerticalAquaDark);
    grip->setVertical(true);
    grip->setGeometry(geometry);
    return grip;
}

TVelLinkLabel* makeWindowButton(QWidget* parent, const char* name, ImageList* images, int x,
                                int normal, int hot, int pressed, int disabled) {
    auto* button = new TVelLinkLabel(parent);
    button->setObjectName(QLatin1String(name));
    button->setUnderlineHot(true);
    button->setImageIndex(normal);
    button->setImageIndexHot(hot);
    button->setImageIndexPressed(pressed);
    button->setImageIndexDisabled(disabled);
    button->setVisitLink(false);
    button->setImageList(images);
    button->setURL(QStringLiteral(" "));
    button->setCaption(QStringLiteral(" "));
    button->setTransparent(true);
    button->move(x, 6);
    Anchor::attach(button, button->geometry(), QSize(kDesignClient.width(), kTitleHeight),
                   Anchor::Right);
    return button;
}

// Pictures, labels and grip lines on a frame panel take their own mouse
// presses, as controls of their own: a press on them neither moves nor
// resizes the window, and a double click on them does not maximise it.
class ControlPressEater : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            event->accept();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

void keepPressesOnControls(TVelStylePanel* panel, QObject* eater) {
    for (QObject* child : panel->children()) {
        if (qobject_cast<QLabel*>(child) || qobject_cast<TVelGripLine*>(child))
            child->installEventFilter(eater);
    }
}

} // namespace

void setCaptionDragHandler(CaptionDragHandler handler) {
    captionDragHandler() = std::move(handler);
}

void TFMMain::buildFrame() {
    // No system frame, caption or buttons: the panels stand in for them.
    setWindowFlag(Qt::FramelessWindowHint);
    if (!WindowEffectsAvailable())
        setWindowFlag(Qt::NoDropShadowWindowHint);

    ILWinIcons = new ImageList(QSize(16, 16), this);
    ILWinIcons->setObjectName(QStringLiteral("ILWinIcons"));
    addWindowButtonImages(*ILWinIcons);

    // Title bar.
    VelStylePanel1->setLineTop(true);
    VelStylePanel1->setLineLeft(true);
    VelStylePanel1->setLineRight(true);
    configurePanel(VelStylePanel1);
    VelStylePanel1->setFormResize(true);
    VelStylePanel1->setFormMove(true);
    VelStylePanel1->setFormMaximize(true);
    Image1->setPixmap(productLogoPixmap(QColor::fromRgba(logoNameOnTitle)));

    VelGripLine1 = makeGripLine(VelStylePanel1, "VelGripLine1", {756, 22, 9, 38});
    Anchor::attach(VelGripLine1, VelGripLine1->geometry(),
                   QSize(kDesignClient.width(), kTitleHeight), Anchor::Right);
    VelLLMin = makeWindowButton(VelStylePanel1, "VelLLMin", ILWinIcons, 882, wbMinNormal, wbMinHot,
                                wbMinPressed, wbMinHot);
    VelLLMax = makeWindowButton(VelStylePanel1, "VelLLMax", ILWinIcons, 902, wbMaxNormal, wbMaxHot,
                                wbMaxPressed, wbMaxHot);
    VelLLClose = makeWindowButton(VelStylePanel1, "VelLLClose", ILWinIcons, 922, wbCloseNormal,
                                  wbCloseHot, wbClosePressed, wbCloseHot);

    // Status bar.
    VelStylePanel2->setLineBottom(true);
    VelStylePanel2->setLineLeft(true);
    VelStylePanel2->setLineRight(true);
    configurePanel(VelStylePanel2);
    VelStylePanel2->setFormResize(true);
    VelGripLine2 = makeGripLine(VelStylePanel2, "VelGripLine2", {320, 2, 13, 17});
    VelGripLine3 = makeGripLine(VelStylePanel2, "VelGripLine3", {508, 2, 13, 17});

    auto* eater = new ControlPressEater(this);
    keepPressesOnControls(VelStylePanel1, eater);
    keepPressesOnControls(VelStylePanel2, eater);

    connect(VelStylePanel1, &TVelStylePanel::mouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint) {
                VelStylePanel1MouseDown(button);
            });
    connect(VelLLMin, &TVelLinkLabel::clicked, this, &TFMMain::VelLLMinClick);
    connect(VelLLMax, &TVelLinkLabel::clicked, this, &TFMMain::VelLLMaxClick);
    connect(VelLLClose, &TVelLinkLabel::clicked, this, &TFMMain::VelLLCloseClick);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    ApplicationEvents1Activate();
                else if (state == Qt::ApplicationInactive)
                    ApplicationEvents1Deactivate();
            });
    connect(TBItemInfo, &QAction::triggered, this, &TFMMain::TBItemInfoClick);
}

void TFMMain::VelStylePanel1MouseDown(Qt::MouseButton) {
    // Any button on the bare title bar drags the window like a caption. The
    // panel's own resize and move handling follows when this returns.
    if (const CaptionDragHandler& handler = captionDragHandler()) {
        handler(this);
        return;
    }
    if (QWindow* window = windowHandle())
        window->startSystemMove();
}

void TFMMain::VelLLMinClick() {
    // Minimised, the window keeps its task bar entry.
    showMinimized();
}

void TFMMain::VelLLMaxClick() {
    if (windowState() & Qt::WindowMaximized)
        showNormal();
    else
        showMaximized();
}

void TFMMain::VelLLCloseClick() {
    close();
}

void TFMMain::ApplicationEvents1Deactivate() {
    for (TVelStylePanel* panel : findChildren<TVelStylePanel*>())
        if (panel->theme() == thVerticalDark)
            panel->setTheme(thVerticalDarkDisabled);
}

void TFMMain::ApplicationEvents1Activate() {
    for (TVelStylePanel* panel : findChildren<TVelStylePanel*>())
        if (panel->theme() == thVerticalDarkDisabled)
            panel->setTheme(thVerticalDark);
}

void TFMMain::TBItemInfoClick() {
    // A new window each time; it frees itself when closed. The global then
    // names no window rather than a freed one.
    auto* about = new TFMAbout(this, CpuClockMHz.load(), WindowEffectsAvailable());
    FMAbout = about;
    connect(about, &QObject::destroyed, this, [about] {
        if (FMAbout == about)
            FMAbout = nullptr;
    });
    about->execOver(this);
}
