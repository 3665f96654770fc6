#pragma once
// Keeps a child's distance to its parent's right and/or bottom edge as the
// parent resizes, the way a form designer's anchors do. Positions and sizes
// are in device-independent pixels (96 dpi units); Qt scales them on
// high-density screens.

#include <QObject>
#include <QRect>
#include <QSize>

class QWidget;

class Anchor : public QObject {
    Q_OBJECT
public:
    enum Mode {
        Right = 1,        // keep the distance to the right edge (move)
        Stretch = 2,      // keep the distance to the right and bottom edges (resize)
        StretchWidth = 4, // keep the distance to the right edge (resize)
    };

    // designRect is the child's geometry, designParent the parent's size the
    // rect was designed for.
    static void attach(QWidget* child, const QRect& designRect, const QSize& designParent,
                       Mode mode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Anchor(QWidget* child, const QRect& rect, const QSize& parentSize, Mode mode);
    void apply();

    QWidget* m_child;
    QRect m_rect;
    int m_right;
    int m_bottom;
    Mode m_mode;
};
