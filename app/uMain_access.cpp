// What a screen reader announces for the main window's controls: names for
// the controls that have no label of their own, the frame's panels as title
// and status bar, and the window buttons by what they do.

#include "app/uMain.h"

#include "app/grid/DBBGrid.h"
#include "app/scripteditor.h"
#include "controls/VelGripLine.h"
#include "controls/VelLinkLabel.h"
#include "controls/VelStylePanel.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

// The main window draws its own frame, so Qt takes it for a plain widget;
// screen readers are told it is the application's window.
QAccessibleInterface* mainWindowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("TFMMain") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void TFMMain::nameForScreenReaders() {
    static const bool installed = [] {
        QAccessible::installFactory(mainWindowAccessible);
        return true;
    }();
    (void)installed;

    MEQuery->setAccessibleName(QStringLiteral("Abfrage"));
    MEQuery->setAccessibleDescription(MEQuery->toolTip());
    DBGridQuery->setAccessibleName(QStringLiteral("Ergebnisse"));
    REMessages->setAccessibleName(QStringLiteral("Nachrichten"));
    CBDatabase->setAccessibleName(QStringLiteral("Datenbank"));
    if (CBDatabase->lineEdit())
        CBDatabase->lineEdit()->setAccessibleName(QStringLiteral("Datenbank"));
    LBTables->setAccessibleName(QStringLiteral("Tabellen"));
    PageControl1->setAccessibleName(QStringLiteral("Abfrage"));

    VelStylePanel1->setAccessibleName(QStringLiteral("Titelleiste"));
    VelStylePanel2->setProperty("accessibleRole", QStringLiteral("StatusBar"));
    VelStylePanel2->setAccessibleName(QStringLiteral("Statuszeile"));
    for (TVelGripLine* grip : {VelGripLine1, VelGripLine2, VelGripLine3})
        grip->setAccessibleName(QStringLiteral("Trennlinie"));
    Image4->setAccessibleName(QStringLiteral("Programmsymbol"));
    Image1->setAccessibleName(QStringLiteral("tarnwick 2005"));
    VelLLMin->setAccessibleName(QStringLiteral("Minimieren"));
    VelLLMax->setAccessibleName(QStringLiteral("Maximieren"));
    VelLLClose->setAccessibleName(QStringLiteral("Schließen"));

    // The page tabs keep no accelerators (Alt+E belongs to "Ausführen"), so
    // the messages are brought up with a shortcut of their own.
    auto* showMessages = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_N), this);
    showMessages->setObjectName(QStringLiteral("SCMessages"));
    connect(showMessages, &QShortcut::activated, this, [this] {
        PCMain->setCurrentWidget(REMessages);
        REMessages->setFocus(Qt::ShortcutFocusReason);
    });

    // A toolbar button is announced by its action's caption; where the caption
    // is only the action's internal name, its hint says what it does.
    for (QToolBar* bar : {TBToolbar1}) {
        for (QAction* action : bar->actions()) {
            if (action->isSeparator())
                continue;
            QWidget* button = bar->widgetForAction(action);
            if (button && action->text() == action->objectName())
                button->setAccessibleName(action->toolTip());
        }
    }
}
