#include "app/toolbarskin.h"

#include "controls/styledcontrols.h"

#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>
#include <QToolBar>
#include <QToolButton>

namespace toolbarskin {

namespace {

// Box model of the skinned controls, in pixels.
constexpr int kBarBorder = 1;       // the button bar's border
constexpr int kBarSpacing = 1;      // between the bar's items
constexpr int kSeparatorMargin = 3; // around the separator line, each side
constexpr int kButtonBox = 2;       // a tool button's border and padding, each side
constexpr int kButtonGrowth = 3;    // added to a tool button's contents besides its box
constexpr int kItemPaddingX = 5;    // a menu bar item's padding, left and right
constexpr int kItemPaddingY = 3;    // and top and bottom

bool isBorderless(const QWidget* bar) {
    // The menu bar's tool bar carries no border and no face of its own.
    return bar && bar->objectName() == QLatin1String("TBToolbar2");
}

// A box: its face (none if invalid) inside a one-pixel border (none if invalid).
void drawBox(QPainter* p, const QRect& r, const QColor& face, const QColor& border) {
    if (face.isValid())
        p->fillRect(r, face);
    if (border.isValid()) {
        p->fillRect(QRect(r.left(), r.top(), r.width(), 1), border);
        p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), border);
        p->fillRect(QRect(r.left(), r.top() + 1, 1, r.height() - 2), border);
        p->fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 2), border);
    }
}

class SkinStyle : public QProxyStyle {
public:
    SkinStyle(QStyle* base, QWidget* dock) : QProxyStyle(base), m_dock(dock) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
        case PM_ToolBarFrameWidth:
            return kBarBorder;
        case PM_ToolBarItemMargin:
            return 0;
        case PM_ToolBarItemSpacing:
            return kBarSpacing;
        case PM_ToolBarSeparatorExtent:
            return 1 + 2 * kSeparatorMargin;
        case PM_MenuBarPanelWidth:
        case PM_MenuBarItemSpacing:
        case PM_MenuBarHMargin:
        case PM_MenuBarVMargin:
            return 0;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contents,
                           const QWidget* widget) const override {
        switch (type) {
        case CT_ToolButton:
            return contents + QSize(1, 1) * (kButtonGrowth + 2 * kButtonBox);
        case CT_MenuBarItem:
            return contents + QSize(2 * kItemPaddingX, 2 * kItemPaddingY);
        default:
            return QProxyStyle::sizeFromContents(type, option, contents, widget);
        }
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        switch (element) {
        case PE_Widget:
            // The dock: its face, and a line at its foot.
            if (widget && widget == m_dock) {
                const QRect r = option->rect;
                painter->fillRect(r.adjusted(0, 0, 0, -1), dockFace);
                painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), dockFoot);
                return;
            }
            break;
        case PE_IndicatorToolBarSeparator: {
            const QRect r = option->rect;
            if (option->state & State_Horizontal)
                painter->fillRect(QRect(r.left() + kSeparatorMargin, r.top() + kSeparatorMargin, 1,
                                        r.height() - 2 * kSeparatorMargin),
                                  separator);
            else
                painter->fillRect(QRect(r.left() + kSeparatorMargin, r.top() + kSeparatorMargin,
                                        r.width() - 2 * kSeparatorMargin, 1),
                                  separator);
            return;
        }
        case PE_PanelMenuBar:
        case PE_FrameMenu:
            if (qobject_cast<const QMenuBar*>(widget))
                return;
            break;
        default:
            break;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        switch (element) {
        case CE_ToolBar:
            if (!isBorderless(widget)) {
                const QRect r = option->rect;
                QLinearGradient face(0, r.top(), 0, r.top() + r.height());
                face.setColorAt(0, barTop);
                face.setColorAt(1, barBottom);
                painter->fillRect(r, face);
                drawBox(painter, r, QColor(), barBorder);
            }
            return;
        case CE_MenuBarEmptyArea:
            return;
        case CE_MenuBarItem:
            if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
                const QRect r = item->rect;
                const bool enabled = item->state & State_Enabled;
                if (enabled && (item->state & State_Sunken))
                    drawBox(painter, r, pressed, item->palette.highlight().color());
                else if (enabled && (item->state & State_Selected))
                    drawBox(painter, r, hot, item->palette.highlight().color());
                int alignment =
                    Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextDontClip | Qt::TextSingleLine;
                if (!proxy()->styleHint(SH_UnderlineShortcut, item, widget))
                    alignment |= Qt::TextHideMnemonic;
                proxy()->drawItemText(
                    painter,
                    r.adjusted(kItemPaddingX, kItemPaddingY, -kItemPaddingX, -kItemPaddingY),
                    alignment, item->palette, enabled, item->text, QPalette::WindowText);
                return;
            }
            break;
        default:
            break;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        if (control == CC_ToolButton) {
            if (const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
                const QRect r = button->rect;
                const State state = button->state;
                const bool enabled = state & State_Enabled;
                const bool hover = enabled && (state & State_MouseOver);
                const QColor border = button->palette.highlight().color();
                if (enabled && (state & State_Sunken))
                    drawBox(painter, r, pressed, border);
                else if (state & State_On)
                    drawBox(painter, r, hover ? pressed : checked, hover ? border : QColor());
                else if (hover)
                    drawBox(painter, r, hot, border);
                QStyleOptionToolButton label = *button;
                label.rect = r.adjusted(kButtonBox, kButtonBox, -kButtonBox, -kButtonBox);
                proxy()->drawControl(CE_ToolButtonLabel, &label, painter, widget);
                return;
            }
        }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

private:
    QPointer<QWidget> m_dock;
};

} // namespace

void apply(QWidget* dock) {
    QStyle* base = createWorkbenchStyle();
    if (!base)
        return;
    auto* skin = new SkinStyle(base, dock);
    // Owned by the window, which outlives the dock and its controls.
    skin->setParent(dock->window());
    dock->setAttribute(Qt::WA_StyledBackground);
    dock->setStyle(skin);
    for (QWidget* w : dock->findChildren<QWidget*>()) {
        bool inMenu = false;
        for (QWidget* up = w; up && up != dock; up = up->parentWidget())
            inMenu = inMenu || qobject_cast<QMenu*>(up);
        if (!inMenu)
            w->setStyle(skin);
    }
}

} // namespace toolbarskin
