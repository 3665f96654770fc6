#include "app/anchors.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

Anchor::Anchor(QWidget* child, const QRect& rect, const QSize& parentSize, Mode mode)
    : QObject(child), m_child(child), m_rect(rect),
      m_right(parentSize.width() - (rect.x() + rect.width())),
      m_bottom(parentSize.height() - (rect.y() + rect.height())), m_mode(mode) {}

void Anchor::attach(QWidget* child, const QRect& designRect, const QSize& designParent, Mode mode) {
    child->setGeometry(designRect);
    auto* anchor = new Anchor(child, designRect, designParent, mode);
    child->parentWidget()->installEventFilter(anchor);
    anchor->apply();
}

bool Anchor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_child->parentWidget() && event->type() == QEvent::Resize)
        apply();
    return false;
}

void Anchor::apply() {
    const QWidget* parent = m_child->parentWidget();
    if (!parent || parent->width() <= 0)
        return;
    QRect r = m_rect;
    switch (m_mode) {
    case Right:
        r.moveLeft(parent->width() - m_right - m_rect.width());
        break;
    case Stretch:
        r.setWidth(std::max(0, parent->width() - m_right - m_rect.x()));
        r.setHeight(std::max(0, parent->height() - m_bottom - m_rect.y()));
        break;
    case StretchWidth:
        r.setWidth(std::max(0, parent->width() - m_right - m_rect.x()));
        break;
    }
    m_child->setGeometry(r);
}
