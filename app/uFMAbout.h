#pragma once
// The about window: a small borderless white panel with the emblem, the
// product lettering, the version and build of the running executable and the
// rights notice. It closes on a click anywhere on it. Where the window system
// offers it, the window fades in and out through its opacity, in steps whose
// number and size follow the processor clock estimate: faster machines run
// the fade loop faster, so they get more and finer steps.

#include <QDialog>
#include <functional>
#include <vector>

class QFrame;
class QLabel;
class TVelVersionLabel;

// Fade granularity shared by every about window of the process: the opacity
// rises by FadeStep per step through FadeCount + 1 steps.
extern int FadeStep;
extern int FadeCount;

// The fade for a clock estimate in MHz: true with step and count set when the
// window fades, false (outputs untouched) at 1000 MHz and below.
bool fadeForClock(double cpuClockMHz, int& step, int& count);

// Opacity values (0..255) a fade-in passes, in order; a fade-out passes the
// same values in reverse.
std::vector<int> fadeInOpacities(int step, int count);

class TFMAbout : public QDialog {
    Q_OBJECT
public:
    // When the controls are built: at once, or when the window is first
    // shown (or ensureBuilt is called). The window created hidden at
    // start-up is rarely shown, so it leaves them until then.
    enum class Controls { Now, WhenShown };

    // `cpuClockMHz` is the processor clock estimate of the process (0 while
    // unknown), `windowEffects` whether the window system offers shadows and
    // transparency. Without either there is no fade.
    TFMAbout(QWidget* owner, double cpuClockMHz, bool windowEffects,
             Controls controls = Controls::Now);
    ~TFMAbout() override;

    // Builds the controls if they are not built yet; the pointers below are
    // set from then on.
    void ensureBuilt();
    bool isBuilt() const { return PAMain != nullptr; }
    void setVisible(bool visible) override;

    // The notice at the bottom right.
    static const QString NoticeText;

    // Places the window centred over `window`'s frame and shows it modally
    // (through the modal seam). The window frees itself once it has closed,
    // so callers watch it with a QPointer rather than touch it afterwards.
    int execOver(const QWidget* window);

    // Places the window centred over `window`'s frame.
    void centreOver(const QWidget* window);

    // Whether the window fades through its opacity.
    bool transparencyOn() const { return m_transparent; }
    // Opacity last set by the fade (0..255); 255 while the window does not fade.
    int opacity() const { return m_opacity; }

    // Tests watch the opacity values a fade sets; an empty function stops.
    using OpacityObserver = std::function<void(TFMAbout* window, int opacity)>;
    static void setOpacityObserver(OpacityObserver observer);

    // Handlers.
    void FormCreate(double cpuClockMHz, bool windowEffects);
    void FormActivate();
    void FormClose();
    void PAMainClick();

    QFrame* PAMain = nullptr;
    QLabel* IMIcon = nullptr;
    QLabel* IMLogo = nullptr;
    QLabel* Label2 = nullptr;
    TVelVersionLabel* VelVersionLabel1 = nullptr;
    TVelVersionLabel* VelVersionLabel2 = nullptr;
    QLabel* Image1 = nullptr; // the maker's logo
    QLabel* Label3 = nullptr;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void setOpacity(int opacity);

    bool m_transparent = false;
    bool m_fadedIn = false;
    bool m_closing = false;
    int m_opacity = 255;
    int m_fadeInReached = -1; // last fade-in step set, -1 before the fade-in
};
