#include "controls/VelStylePanel.h"

#include "controls/colorramp.h"
#include "controls/framezones.h"
#include "controls/styledaccessible.h"

#include <QChildEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWindow>

namespace {

TVelStylePanel::SystemCommandHandler& systemCommandHandler() {
    static TVelStylePanel::SystemCommandHandler handler;
    return handler;
}

// Hands a size or move command to the window manager. Qt's calls return at
// once and the window manager tracks the pointer from there; the implicit
// grab of the press is released by Qt as part of starting the operation.
void startSystemOperation(QWidget* form, int command) {
    QWindow* window = form->windowHandle();
    if (!window)
        return;
    if (command == framezones::scDragMove)
        window->startSystemMove();
    else if (const Qt::Edges edges = framezones::edgesFor(command))
        window->startSystemResize(edges);
}

} // namespace

TVelStylePanel::TVelStylePanel(QWidget* parent) : QWidget(parent) {
    styledaccessible::install();
    setMouseTracking(true);
}

void TVelStylePanel::setSystemCommandHandler(SystemCommandHandler handler) {
    systemCommandHandler() = std::move(handler);
}

void TVelStylePanel::setLineTop(bool on) {
    m_lineTop = on;
    update();
}

void TVelStylePanel::setLineBottom(bool on) {
    m_lineBottom = on;
    update();
}

void TVelStylePanel::setLineLeft(bool on) {
    m_lineLeft = on;
    update();
}

void TVelStylePanel::setLineRight(bool on) {
    m_lineRight = on;
    update();
}

void TVelStylePanel::changeColor(TColor& field, TColor value) {
    if (field == value)
        return;
    field = value;
    m_theme = thCustom;
    update();
}

void TVelStylePanel::changeFlag(bool& field, bool value) {
    if (field == value)
        return;
    field = value;
    m_theme = thCustom;
    update();
}

void TVelStylePanel::setLineColor(TColor c) {
    changeColor(m_lineColor, c);
}
void TVelStylePanel::setGradientColor1(TColor c) {
    changeColor(m_gradientColor1, c);
}
void TVelStylePanel::setGradientColor2(TColor c) {
    changeColor(m_gradientColor2, c);
}
void TVelStylePanel::setGradientColor3(TColor c) {
    changeColor(m_gradientColor3, c);
}
void TVelStylePanel::setGradientColor4(TColor c) {
    changeColor(m_gradientColor4, c);
}
void TVelStylePanel::setGradientColor3DLight(TColor c) {
    changeColor(m_gradientColor3DLight, c);
}
void TVelStylePanel::setGradientColor3DDark(TColor c) {
    changeColor(m_gradientColor3DDark, c);
}
void TVelStylePanel::setGradientVertical(bool on) {
    changeFlag(m_gradientVertical, on);
}
void TVelStylePanel::setGradient(bool on) {
    changeFlag(m_gradient, on);
}

void TVelStylePanel::setTheme(TVelThemeTypes theme) {
    if (static_cast<int>(theme) >= kThemeCount)
        return; // a corrupt stored value leaves the panel as it is
    if (theme != thCustom) {
        // Straight into the fields: going through the setters would drop the
        // theme again.
        const TVelTheme& t = ThemeTable[theme];
        m_lineColor = t.LineColor;
        m_gradientColor1 = t.GradientColor1;
        m_gradientColor2 = t.GradientColor2;
        m_gradientColor3 = t.GradientColor3;
        m_gradientColor4 = t.GradientColor4;
        m_gradientColor3DLight = t.GradientColor3DLight;
        m_gradientColor3DDark = t.GradientColor3DDark;
        m_gradientVertical = t.GradientVertical;
        m_gradient = true;
    }
    m_theme = theme;
    update();
}

void TVelStylePanel::setColor(TColor c) {
    m_color = c;
    update();
}

QWidget* TVelStylePanel::form() const {
    QWidget* parent = parentWidget();
    return parent && parent->isWindow() ? parent : nullptr;
}

void TVelStylePanel::paintBackground(QPainter& painter) const {
    const int w = width();
    const int h = height();
    // Rectangles include their left and top edge and exclude the right and
    // bottom edge; the pen outline takes the fill colour, so a band is one
    // solid rectangle.
    auto fill = [&](int x, int y, int cx, int cy, const QColor& color) {
        if (cx > 0 && cy > 0)
            painter.fillRect(QRect(x, y, cx, cy), color);
    };
    // A line from x0 towards x1 that leaves out its end point.
    auto hline = [&](int x0, int x1, int y, const QColor& color) {
        if (x1 > x0)
            fill(x0, y, x1 - x0, 1, color);
        else if (x1 < x0)
            fill(x1 + 1, y, x0 - x1, 1, color);
    };
    auto vline = [&](int x, int y0, int y1, const QColor& color) {
        if (y1 > y0)
            fill(x, y0, 1, y1 - y0, color);
        else if (y1 < y0)
            fill(x, y1 + 1, 1, y0 - y1, color);
    };

    if (m_gradient) {
        const int t = m_lineTop ? 2 : 1;
        if (m_gradientVertical) {
            hline(0, w - 1, t - 1, toQColor(m_gradientColor3DLight));
            for (const RampBand& band : colorRamp(m_gradientColor1, m_gradientColor2, h))
                fill(0, t + band.offset, w, band.length, toQColor(band.color));
            const int m = roundHalfEven(h / 2.0) - 2;
            const std::vector<RampBand> second = colorRamp(m_gradientColor3, m_gradientColor4, h);
            for (const RampBand& band : second)
                fill(0, t + m + band.offset, w, band.length, toQColor(band.color));
            // The rounding can leave the last row one pixel short of the last band.
            const RampBand& last = second.back();
            if (t + m + last.offset + last.length == h - 1 && !m_lineBottom)
                fill(0, h - 1, w, 1, toQColor(last.color));
        } else {
            // The highlight row runs dark - light - dark.
            const int middle = roundHalfEven(w / 2.0);
            int x = 0;
            for (const RampBand& band :
                 colorRamp(m_gradientColor3DDark, m_gradientColor3DLight, w)) {
                const int end = band.offset + band.length;
                hline(x, end, t - 1, toQColor(band.color));
                x = end;
            }
            x = middle;
            for (const RampBand& band :
                 colorRamp(m_gradientColor3DLight, m_gradientColor3DDark, w)) {
                const int end = middle + band.offset + band.length;
                hline(x, end, t - 1, toQColor(band.color));
                x = end;
            }
            for (const RampBand& band : colorRamp(m_gradientColor1, m_gradientColor2, w))
                fill(band.offset, t, band.length, h - t, toQColor(band.color));
            const std::vector<RampBand> second = colorRamp(m_gradientColor3, m_gradientColor4, w);
            for (const RampBand& band : second)
                fill(middle + band.offset, t, band.length, h - t, toQColor(band.color));
            const RampBand& last = second.back();
            if (middle + last.offset + last.length == w - 1 && !m_lineRight)
                fill(w - 1, 0, 1, h, toQColor(last.color));
        }
    } else {
        // A flat fill, outline included, in the panel's colour.
        fill(0, 0, w, h, toQColor(m_color));
    }

    const QColor line = toQColor(m_lineColor);
    if (m_lineTop)
        hline(0, w - 1, 0, line);
    if (m_lineBottom)
        hline(0, w - 1, h - 1, line);
    if (m_lineLeft)
        vline(0, 0, h - 1, line);
    if (m_lineRight)
        vline(w - 1, 0, h - 1, line);
}

void TVelStylePanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintBackground(painter);
}

void TVelStylePanel::sendSystemCommand(QWidget* form, int command) {
    if (const SystemCommandHandler& handler = systemCommandHandler())
        handler(form, command);
    else
        startSystemOperation(form, command);
}

void TVelStylePanel::mousePressEvent(QMouseEvent* event) {
    m_leftPressed = event->button() == Qt::LeftButton;
    const QPoint at = event->position().toPoint();
    QPointer<TVelStylePanel> self(this);
    emit mouseDown(event->button(), event->modifiers(), at);
    if (!self)
        return;
    QPointer<QWidget> window = form();
    if (!window)
        return;

    // Any button, any modifier: the edges resize, the rest moves.
    const QPoint inForm = pos() + at;
    if (m_formResize) {
        const framezones::Zone zone =
            framezones::zoneAt(inForm.x(), inForm.y(), window->width(), window->height());
        if (const int command = framezones::sizeCommandFor(zone))
            sendSystemCommand(window, command);
    }
    if (!self || !window)
        return;
    if (m_formMove) {
        const framezones::Zone zone =
            framezones::zoneAt(inForm.x(), inForm.y(), window->width(), window->height());
        if (framezones::pressMoves(zone, m_formResize))
            sendSystemCommand(window, framezones::scDragMove);
    }
}

void TVelStylePanel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    emit mouseMove(event->modifiers(), at);
    QWidget* window = form();
    if (!window || !m_formResize)
        return;
    // The cursor belongs to the panel, so it announces the resize only while
    // the pointer is over the panel and never sticks to the rest of the program.
    const QPoint inForm = pos() + at;
    const Qt::CursorShape shape = framezones::cursorFor(
        framezones::zoneAt(inForm.x(), inForm.y(), window->width(), window->height()));
    if (shape == Qt::ArrowCursor)
        unsetCursor();
    else
        setCursor(shape);
}

void TVelStylePanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_leftPressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_leftPressed = false;
    QPointer<TVelStylePanel> self(this);
    if (click)
        emit clicked();
    if (self)
        emit mouseUp(event->button(), event->modifiers(), event->position().toPoint());
}

void TVelStylePanel::mouseDoubleClickEvent(QMouseEvent*) {
    // The second press of a double click only toggles the window state; it
    // starts no move and raises no mouse-down.
    QWidget* window = form();
    if (!m_formMaximize || !window)
        return;
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))
        window->showNormal();
    else
        window->showMaximized();
}

void TVelStylePanel::enterEvent(QEnterEvent*) {
    emit mouseEnter();
}

void TVelStylePanel::leaveEvent(QEvent*) {
    emit mouseLeave();
}

void TVelStylePanel::childEvent(QChildEvent* event) {
    // The controls on the panel report their enter and leave to it.
    if (event->added())
        event->child()->installEventFilter(this);
    else if (event->removed())
        event->child()->removeEventFilter(this);
    QWidget::childEvent(event);
}

bool TVelStylePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched->parent() == this) {
        if (event->type() == QEvent::Enter)
            emit mouseEnter();
        else if (event->type() == QEvent::Leave)
            emit mouseLeave();
    }
    return QWidget::eventFilter(watched, event);
}
