#include "controls/VelGripLine.h"
#include "controls/styledaccessible.h"

#include <QPainter>
#include <algorithm>

TVelGripLine::TVelGripLine(QWidget* parent) : QWidget(parent) {
    styledaccessible::install();
    // Transparent: nothing but the dots is painted, the parent shows through.
    setAutoFillBackground(false);
    resize(30, 30);
}

void TVelGripLine::setColor3DDark(TColor c) {
    const TColor rgb = colorToRGB(c);
    if (rgb == m_color3DDark)
        return;
    m_color3DDark = rgb;
    m_theme = thCustom;
    update();
}

void TVelGripLine::setColor3DLight(TColor c) {
    const TColor rgb = colorToRGB(c);
    if (rgb == m_color3DLight)
        return;
    m_color3DLight = rgb;
    m_theme = thCustom;
    update();
}

void TVelGripLine::setSmallDots(bool on) {
    if (on == m_smallDots)
        return;
    m_smallDots = on;
    update();
}

void TVelGripLine::setVertical(bool on) {
    if (on == m_vertical)
        return;
    m_vertical = on;
    update();
}

void TVelGripLine::setTheme(TVelThemeTypes theme) {
    if (static_cast<int>(theme) >= kThemeCount)
        return; // a corrupt stored value leaves the line as it is
    if (theme != thCustom) {
        m_color3DDark = ThemeTable[theme].GripColor3DDark;
        m_color3DLight = ThemeTable[theme].GripColor3DLight;
    }
    m_theme = theme;
    update();
}

void TVelGripLine::setAlignment(TAlignment alignment) {
    m_alignment = alignment;
    update();
}

void TVelGripLine::setLayout(TTextLayout layout) {
    m_layout = layout;
    update();
}

QList<QPoint> TVelGripLine::dotAnchors() const {
    const int w = width();
    const int h = height();
    // Large dots are 3 pixels on a 4-pixel pitch, small ones 2 on a 3-pixel pitch.
    const int pitch = m_smallDots ? 3 : 4;
    const int extent = m_smallDots ? 2 : 3;
    const int across = m_vertical ? w : h;
    const bool toEnd = m_vertical ? m_alignment == taRightJustify : m_layout == tlBottom;
    const bool centred = m_vertical ? m_alignment == taCenter : m_layout == tlCenter;

    int cross = 0;
    if (toEnd)
        cross = across - extent;
    else if (centred)
        cross = across / 2 - 2;
    cross = std::max(cross, 0);
    const int count = std::max((m_vertical ? h : w) / pitch, 0);

    QList<QPoint> anchors;
    anchors.reserve(count);
    for (int i = 0; i < count; ++i)
        anchors.append(m_vertical ? QPoint(cross, pitch * i) : QPoint(pitch * i, cross));
    return anchors;
}

void TVelGripLine::paintDots(QPainter& painter) const {
    const QColor dark = toQColor(m_color3DDark);
    const QColor light = toQColor(m_color3DLight);
    auto pixel = [&](int x, int y, const QColor& color) {
        painter.fillRect(QRect(x, y, 1, 1), color);
    };
    for (const QPoint& p : dotAnchors()) {
        const int x = p.x();
        const int y = p.y();
        if (m_smallDots) {
            pixel(x, y, dark);
            pixel(x + 1, y + 1, light);
        } else {
            // D D -
            // D - L
            // - L L
            pixel(x, y, dark);
            pixel(x + 1, y, dark);
            pixel(x, y + 1, dark);
            pixel(x + 2, y + 1, light);
            pixel(x + 2, y + 2, light);
            pixel(x + 1, y + 2, light);
        }
    }
}

void TVelGripLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintDots(painter);
}
