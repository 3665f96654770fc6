#include "controls/styledaccessible.h"

#include "controls/VelGripLine.h"
#include "controls/VelLinkLabel.h"
#include "controls/VelStylePanel.h"

#include <QAccessibleWidget>

namespace styledaccessible {

namespace {

// A caption as a name: without accelerator marks ("&&" stays one "&") and
// without the blanks that only pad the drawing.
QString plainCaption(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&')
                out += u'&';
            ++i;
            if (i < caption.size() && caption[i] != u'&')
                out += caption[i];
            continue;
        }
        out += caption[i];
    }
    return out.trimmed();
}

class LinkLabelAccessible : public QAccessibleWidget {
public:
    explicit LinkLabelAccessible(TVelLinkLabel* label)
        : QAccessibleWidget(label, label->visitLink() ? QAccessible::Link : QAccessible::Button) {
        addControllingSignal(QStringLiteral("clicked()"));
    }
    TVelLinkLabel* label() const { return static_cast<TVelLinkLabel*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            if (!label()->accessibleName().isEmpty())
                return label()->accessibleName();
            return plainCaption(label()->caption());
        case QAccessible::Value:
            return label()->visitLink() ? label()->url().trimmed() : QString();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.traversed = label()->isVisited() && label()->visitLink();
        s.hotTracked = label()->isHot();
        s.pressed = label()->isPressed();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            if (widget()->isEnabled())
                label()->activate();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }
};

class StylePanelAccessible : public QAccessibleWidget {
public:
    explicit StylePanelAccessible(QWidget* panel) : QAccessibleWidget(panel, roleOf(panel)) {}

private:
    // A status bar says what it is; the role comes from the "accessibleRole"
    // property its owner sets. Other panels are panes.
    static QAccessible::Role roleOf(QWidget* panel) {
        if (panel->property("accessibleRole").toString() == QLatin1String("StatusBar"))
            return QAccessible::StatusBar;
        return QAccessible::Pane;
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    return create(className, object);
}

} // namespace

QAccessibleInterface* create(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("TVelLinkLabel"))
        return new LinkLabelAccessible(static_cast<TVelLinkLabel*>(object));
    if (className == QLatin1String("TVelStylePanel"))
        return new StylePanelAccessible(static_cast<QWidget*>(object));
    if (className == QLatin1String("TVelGripLine"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Separator);
    return nullptr;
}

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

} // namespace styledaccessible
