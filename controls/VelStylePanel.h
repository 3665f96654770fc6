#pragma once
// A container panel that paints its own background (a two-part banded
// gradient with a highlight line, optional border lines, or a plain fill) and,
// placed directly on a borderless window, stands in for the missing frame:
// presses near the window's edges resize it, presses elsewhere move it, a
// double click maximises or restores it.

#include "controls/VelThemes.h"

#include <QWidget>
#include <functional>

class QPainter;

class TVelStylePanel : public QWidget {
    Q_OBJECT
public:
    explicit TVelStylePanel(QWidget* parent = nullptr);

    bool lineTop() const { return m_lineTop; }
    bool lineBottom() const { return m_lineBottom; }
    bool lineLeft() const { return m_lineLeft; }
    bool lineRight() const { return m_lineRight; }
    TColor lineColor() const { return m_lineColor; }
    TColor gradientColor1() const { return m_gradientColor1; }
    TColor gradientColor2() const { return m_gradientColor2; }
    TColor gradientColor3() const { return m_gradientColor3; }
    TColor gradientColor4() const { return m_gradientColor4; }
    TColor gradientColor3DLight() const { return m_gradientColor3DLight; }
    TColor gradientColor3DDark() const { return m_gradientColor3DDark; }
    bool gradientVertical() const { return m_gradientVertical; }
    bool gradient() const { return m_gradient; }
    bool formResize() const { return m_formResize; }
    bool formMove() const { return m_formMove; }
    bool formMaximize() const { return m_formMaximize; }
    TVelThemeTypes theme() const { return m_theme; }
    TColor color() const { return m_color; }

    // Border lines: store and repaint, the theme stays.
    void setLineTop(bool on);
    void setLineBottom(bool on);
    void setLineLeft(bool on);
    void setLineRight(bool on);

    // Colours and gradient switches: a changed value drops the theme to
    // thCustom; an equal value changes nothing.
    void setLineColor(TColor c);
    void setGradientColor1(TColor c);
    void setGradientColor2(TColor c);
    void setGradientColor3(TColor c);
    void setGradientColor4(TColor c);
    void setGradientColor3DLight(TColor c);
    void setGradientColor3DDark(TColor c);
    void setGradientVertical(bool on);
    void setGradient(bool on);

    // Window handling: stored only.
    void setFormResize(bool on) { m_formResize = on; }
    void setFormMove(bool on) { m_formMove = on; }
    void setFormMaximize(bool on) { m_formMaximize = on; }

    // Any theme but thCustom copies its line, gradient and 3D colours and its
    // direction and switches the gradient on; thCustom keeps the colours.
    void setTheme(TVelThemeTypes theme);

    // The plain fill used while the gradient is off (default: button face).
    void setColor(TColor c);

    // The window a press acts on: the direct parent when it is a window.
    QWidget* form() const;

    // Carries out a window-manager command for `form` (size 0xF001..0xF008,
    // drag move 0xF012). Tests install a recorder; an empty function restores
    // the real window-manager calls.
    using SystemCommandHandler = std::function<void(QWidget* form, int command)>;
    static void setSystemCommandHandler(SystemCommandHandler handler);

    // Paints the background and border lines exactly as the panel does.
    void paintBackground(QPainter& painter) const;

signals:
    // Raised before the panel's own resize and move handling.
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseMove(Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void clicked();
    // Raised for the panel and for the direct child controls on it.
    void mouseEnter();
    void mouseLeave();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void changeColor(TColor& field, TColor value);
    void changeFlag(bool& field, bool value);
    void sendSystemCommand(QWidget* form, int command);

    bool m_lineTop = false;
    bool m_lineBottom = false;
    bool m_lineLeft = false;
    bool m_lineRight = false;
    TColor m_lineColor = clBlack;
    TColor m_gradientColor1 = 0x666666;
    TColor m_gradientColor2 = 0xBBBBBB;
    TColor m_gradientColor3 = 0xBBBBBB;
    TColor m_gradientColor4 = 0x666666;
    TColor m_gradientColor3DLight = 0xEEEEEE;
    TColor m_gradientColor3DDark = 0x999999;
    bool m_gradientVertical = false;
    bool m_gradient = true;
    bool m_formResize = false;
    bool m_formMove = false;
    bool m_formMaximize = false;
    TVelThemeTypes m_theme = thCustom;
    TColor m_color = clBtnFace;
    bool m_leftPressed = false;
};
