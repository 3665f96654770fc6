#include "app/uFMAbout.h"

#include "controls/VelVersionLabel.h"
#include "controls/colors.h"
#include "controls/pictures.h"
#include "modal/modal.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

int FadeStep = 0;
int FadeCount = 0;

namespace {

TFMAbout::OpacityObserver& opacityObserver() {
    static TFMAbout::OpacityObserver observer;
    return observer;
}

QFont aboutFont() {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(11); // 8 points at 96 dots per inch, whatever the screen
    return f;
}

void setTextColor(QWidget* w, TColor color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, toQColor(color));
    w->setPalette(pal);
}

QLabel* pictureLabel(QWidget* parent, const char* name, const QPixmap& pixmap, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setPixmap(pixmap);
    label->setGeometry(geometry);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

bool fadeForClock(double mhz, int& step, int& count) {
    struct Row {
        double above;
        int step;
        int count;
    };
    // Faster machines run the loop faster: more, finer steps. The last row
    // covers the slow machines that still fade; it ends fully opaque.
    static constexpr Row table[] = {
        {3000.0, 1, 255}, {2500.0, 2, 127}, {2000.0, 3, 85}, {1500.0, 4, 63}, {1000.0, 5, 51},
    };
    for (const Row& row : table) {
        if (mhz > row.above) {
            step = row.step;
            count = row.count;
            return true;
        }
    }
    return false;
}

std::vector<int> fadeInOpacities(int step, int count) {
    std::vector<int> values;
    for (int i = 0; i <= count; ++i)
        values.push_back((i * step) & 0xFF);
    return values;
}

const QString TFMAbout::NoticeText = QStringLiteral("© 2005 Kestrune. Alle Rechte vorbehalten.\n"
                                                    "SQL Server ist eine Marke der\n"
                                                    "Microsoft Corporation.");

TFMAbout::TFMAbout(QWidget* owner, double cpuClockMHz, bool windowEffects, Controls controls)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FMAbout"));
    setWindowTitle(QStringLiteral("Info"));
    setModal(true);
    setFixedSize(461, 270);
    setFont(aboutFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    // The window system draws a shadow only where effects are available.
    if (!windowEffects)
        setWindowFlag(Qt::NoDropShadowWindowHint);
    if (controls == Controls::Now)
        buildControls();
    FormCreate(cpuClockMHz, windowEffects);
}

TFMAbout::~TFMAbout() = default;

void TFMAbout::ensureBuilt() {
    if (!isBuilt())
        buildControls();
}

void TFMAbout::setVisible(bool visible) {
    // Made before the window shows, so they show along with it.
    if (visible)
        ensureBuilt();
    QDialog::setVisible(visible);
}

void TFMAbout::buildControls() {
    PAMain = new QFrame(this);
    PAMain->setObjectName(QStringLiteral("PAMain"));
    PAMain->setGeometry(rect());
    PAMain->setFrameShape(QFrame::Box);
    PAMain->setFrameShadow(QFrame::Plain);
    PAMain->setLineWidth(1);
    PAMain->setAutoFillBackground(true);
    QPalette pal = PAMain->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80)); // the border line
    PAMain->setPalette(pal);

    IMIcon = pictureLabel(PAMain, "IMIcon", emblemPixmap(48), {16, 16, 48, 48});
    IMLogo = pictureLabel(PAMain, "IMLogo", productLogoPixmap(QColor::fromRgba(logoNameOnAbout)),
                          {83, 40, 155, 18});

    Label2 = new QLabel(QStringLiteral("SQL Server Database Query"), PAMain);
    Label2->setObjectName(QStringLiteral("Label2"));
    setTextColor(Label2, clGray);
    Label2->move(84, 60);
    Label2->adjustSize();

    // The properties go in the order a stored form applies them, so the last
    // recomputation reflects all of them.
    VelVersionLabel1 = new TVelVersionLabel(PAMain);
    VelVersionLabel1->setObjectName(QStringLiteral("VelVersionLabel1"));
    VelVersionLabel1->setFont(font());
    VelVersionLabel1->setFileVersionPart(fvAllNoBuild);
    VelVersionLabel1->setVersionResource(vrFileVersion);
    VelVersionLabel1->setVersionResourceKey(QStringLiteral("FileVersion"));
    VelVersionLabel1->setInfoPrefix(QStringLiteral("Version:"));
    VelVersionLabel1->setShowInfoPrefix(true);
    VelVersionLabel1->setLangCharset(QStringLiteral("-1"));
    VelVersionLabel1->UpdateCaption();
    setTextColor(VelVersionLabel1, clGray);
    VelVersionLabel1->move(84, 76);

    VelVersionLabel2 = new TVelVersionLabel(PAMain);
    VelVersionLabel2->setObjectName(QStringLiteral("VelVersionLabel2"));
    VelVersionLabel2->setFont(font());
    VelVersionLabel2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    VelVersionLabel2->setFileVersionPart(fvBuild);
    VelVersionLabel2->setVersionResource(vrFileVersion);
    VelVersionLabel2->setVersionResourceKey(QStringLiteral("FileVersion"));
    VelVersionLabel2->setInfoPrefix(QStringLiteral("Built:"));
    VelVersionLabel2->setShowInfoPrefix(true);
    VelVersionLabel2->setLangCharset(QStringLiteral("-1"));
    VelVersionLabel2->UpdateCaption();
    setTextColor(VelVersionLabel2, clSilver);
    // Right-aligned: the right edge stays at x 445 whatever the text's width.
    VelVersionLabel2->move(445 - VelVersionLabel2->width(), 76);

    Image1 = pictureLabel(PAMain, "Image1", makerLogoPixmap(), {295, 196, 150, 20});

    Label3 = new QLabel(NoticeText, PAMain);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label3->setGeometry(188, 220, 257, 41);
    setTextColor(Label3, clGray);

    // A click on the panel or on anything on it closes the window.
    PAMain->installEventFilter(this);
    for (QWidget* child : PAMain->findChildren<QWidget*>())
        child->installEventFilter(this);
}

void TFMAbout::FormCreate(double cpuClockMHz, bool windowEffects) {
    if (!windowEffects || m_transparent || !(cpuClockMHz > 1000.0))
        return;
    setOpacity(0);
    m_transparent = true;
    fadeForClock(cpuClockMHz, FadeStep, FadeCount);
}

void TFMAbout::setOpacity(int value) {
    m_opacity = value;
    setWindowOpacity(value / 255.0);
    if (opacityObserver())
        opacityObserver()(this, value);
}

void TFMAbout::FormActivate() {
    if (m_fadedIn)
        return;
    m_fadedIn = true;
    if (!m_transparent)
        return;
    // No timer: each step is set and painted before the next, so the fade
    // lasts as long as the machine needs for it. Input arriving between the
    // steps may close the window; the fade then stops where it is.
    QPointer<TFMAbout> self(this);
    for (int i = 0; i <= FadeCount; ++i) {
        setOpacity((i * FadeStep) & 0xFF);
        m_fadeInReached = i;
        QCoreApplication::processEvents();
        if (!self || m_closing)
            return;
    }
}

void TFMAbout::FormClose() {
    setAttribute(Qt::WA_DeleteOnClose);
    if (!m_transparent || m_fadeInReached < 0)
        return;
    // Fade out from where the fade-in got to, so a window closed during its
    // fade-in does not flash up first.
    QPointer<TFMAbout> self(this);
    for (int i = std::min(FadeCount, m_fadeInReached); i >= 0; --i) {
        setOpacity((i * FadeStep) & 0xFF);
        QCoreApplication::processEvents();
        if (!self)
            return;
    }
}

void TFMAbout::PAMainClick() {
    close();
}

void TFMAbout::centreOver(const QWidget* window) {
    if (!window)
        return;
    const QWidget* top = window->window();
    QRect frame(QPoint(), size());
    frame.moveCenter(top->frameGeometry().center());
    move(frame.topLeft());
}

int TFMAbout::execOver(const QWidget* window) {
    centreOver(window);
    return modal::exec(this);
}

void TFMAbout::setOpacityObserver(OpacityObserver observer) {
    opacityObserver() = std::move(observer);
}

bool TFMAbout::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible() && !m_closing) {
        const bool result = QDialog::event(e);
        FormActivate();
        return result;
    }
    return QDialog::event(e);
}

void TFMAbout::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Some window systems never activate a window that asks not to take the
    // focus, or do it late; the fade-in must not wait for that, or the
    // window would stay invisible.
    if (m_transparent && !m_fadedIn)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isVisible() && !m_closing)
                    FormActivate();
            },
            Qt::QueuedConnection);
}

void TFMAbout::closeEvent(QCloseEvent* e) {
    if (m_closing) {
        e->ignore();
        return;
    }
    m_closing = true;
    FormClose();
    e->accept();
    // Ends the modal loop as well.
    QDialog::done(QDialog::Rejected);
}

void TFMAbout::keyPressEvent(QKeyEvent* e) {
    // Escape closes the window the same way a click does (with the fade and
    // freeing the window), never just hides it.
    if (e->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(e);
}

bool TFMAbout::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(e);
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && me->button() == Qt::LeftButton && w->rect().contains(me->position().toPoint())) {
            PAMainClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}
