#pragma once
// A row or column of small embossed dots that separates the sections of a
// title or status bar. Only the dots are painted; the parent shows through.

#include "controls/VelThemes.h"

#include <QWidget>

class QPainter;

class TVelGripLine : public QWidget {
    Q_OBJECT
public:
    // Placement of a vertical line across its width, of a horizontal one
    // across its height.
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    enum TTextLayout { tlTop, tlCenter, tlBottom };

    explicit TVelGripLine(QWidget* parent = nullptr);

    TColor color3DDark() const { return m_color3DDark; }
    TColor color3DLight() const { return m_color3DLight; }
    bool smallDots() const { return m_smallDots; }
    TVelThemeTypes theme() const { return m_theme; }
    bool vertical() const { return m_vertical; }
    TAlignment alignment() const { return m_alignment; }
    TTextLayout layout() const { return m_layout; }

    // A system colour is stored as the colour it stands for right now; a
    // changed colour drops the theme to thCustom.
    void setColor3DDark(TColor c);
    void setColor3DLight(TColor c);
    void setSmallDots(bool on);
    void setVertical(bool on);
    // Any theme but thCustom copies its two grip colours as the table holds them.
    void setTheme(TVelThemeTypes theme);
    void setAlignment(TAlignment alignment);
    void setLayout(TTextLayout layout);

    // Where the dots go: anchors of the dots, in drawing order.
    QList<QPoint> dotAnchors() const;

    void paintDots(QPainter& painter) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor m_color3DDark = clBlack;
    TColor m_color3DLight = clWhite;
    bool m_smallDots = false;
    TVelThemeTypes m_theme = thCustom;
    bool m_vertical = false;
    TAlignment m_alignment = taLeftJustify;
    TTextLayout m_layout = tlTop;
};
