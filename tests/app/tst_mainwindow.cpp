// The main window without a server: layout, menus, toolbar, actions, keys,
// hint line, the default error display, script files and the settings.

#include "app/application.h"
#include "app/logic/utools.h"
#include "app/toolbarskin.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "controls/VelGripLine.h"
#include "controls/VelLinkLabel.h"
#include "settings/registry.h"
#include "tests/app/apptestsupport.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

namespace {

QStringList entries(const QList<QAction*>& actions) {
    QStringList list;
    for (QAction* a : actions) {
        if (a->isSeparator())
            list << "-";
        else if (!a->text().isEmpty())
            list << a->text();
        else if (auto* wa = qobject_cast<QWidgetAction*>(a); wa && wa->defaultWidget())
            list << wa->defaultWidget()->objectName();
    }
    return list;
}

// Runs an action the way a click does: inside the event dispatch, whose
// error display catches what the handler throws.
void trigger(QAction* action) {
    runGuarded([action] { action->trigger(); });
}

// Throws from its event handler, like a handler whose work fails.
class Thrower : public QObject {
public:
    QString message;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            throw std::runtime_error(message.toStdString());
        return QObject::event(e);
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startupCreatesWindowsInOrder();
    void componentsCarryTheirNames();
    void layoutAsSeen();
    void rightEdgeControlsFollowTheWindow();
    void menus();
    void buttonToolbar();
    void toolbarSkin();
    void actionsAndShortcuts();
    void functionKeys_data();
    void functionKeys();
    void functionKeyKeepsFocusOnTableList();
    void plainF5RunsQueryShiftF5Inserts();
    void hintLine();
    void fullStopRule_data();
    void fullStopRule();
    void errorDisplayShowsOnceAndGoesOn();
    void quickQueryStatement_data();
    void quickQueryStatement();
    void queryAndCommandText_data();
    void queryAndCommandText();
    void focusTracking();
    void newClearsEditorAndMessages();
    void saveAndOpenScripts();
    void openMissingFileKeepsEditor();
    void stockDialogsAreGerman();
    void cancelledDialogsDoNothing();
    void settingsReadAtStart();
    void settingsWrittenAtClose();
    void settingsErrorReportedOnce();
    void everyTabStopIsNamed();
    void messagesReachedFromTheKeyboard();

private:
    TempSettings* m_settings = nullptr;
    MessageRecorder* m_messages = nullptr;
    Workbench m_wb;
    TFMMain* w = nullptr;
};

void TestMainWindow::init() {
    m_settings = new TempSettings;
    m_messages = new MessageRecorder;
    FirstActivation = false; // no connection dialog in these tests
    m_wb = createWorkbench();
    w = m_wb.main;
    w->setConnectPrompt(std::make_unique<FakePrompt>());
}

void TestMainWindow::cleanup() {
    destroyWorkbench(m_wb);
    w = nullptr;
    delete m_messages;
    delete m_settings;
    modal::setFileHandler({});
}

// What a screen reader announces for a widget: its name, or the label that
// names it (a buddy).
static QString announced(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        return {};
    QString name = iface->text(QAccessible::Name);
    for (const auto& [label, relation] : iface->relations(QAccessible::Label))
        name = label->text(QAccessible::Name) + u' ' + name;
    return name.trimmed();
}

void TestMainWindow::everyTabStopIsNamed() {
    w->resize(1000, 700);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QStringList unnamed;
    int stops = 0;
    for (QWidget* widget = w->nextInFocusChain(); widget != w;
         widget = widget->nextInFocusChain()) {
        if (!widget->isVisible() || !widget->isEnabled() || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        // The inner box of a spin or combo box is announced as the box.
        if (widget->focusProxy() ||
            (widget->parentWidget() && widget->parentWidget()->focusProxy() == widget &&
             !announced(widget->parentWidget()).isEmpty()))
            continue;
        ++stops;
        if (announced(widget).isEmpty())
            unnamed << widget->objectName() + u'/' +
                           QString::fromLatin1(widget->metaObject()->className());
    }
    QVERIFY(stops >= 6);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u", ")));

    // The frame's own buttons are buttons that can be pressed, by name.
    QAccessibleInterface* close = QAccessible::queryAccessibleInterface(w->VelLLClose);
    QCOMPARE(close->role(), QAccessible::Button);
    QCOMPARE(close->text(QAccessible::Name), QStringLiteral("Schließen"));
    QVERIFY(close->actionInterface());
    QVERIFY(close->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    QCOMPARE(QAccessible::queryAccessibleInterface(w)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(w->VelStylePanel2)->role(),
             QAccessible::StatusBar);
    QCOMPARE(QAccessible::queryAccessibleInterface(w->VelGripLine1)->role(),
             QAccessible::Separator);
    // The print button says what it does, not its internal name.
    QCOMPARE(announced(w->TBToolbar1->widgetForAction(w->ACPrint)),
             QStringLiteral("Abfrageergebnis drucken"));
}

void TestMainWindow::messagesReachedFromTheKeyboard() {
    w->resize(1000, 700);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    w->MEQuery->setFocus();
    QCOMPARE(w->PCMain->currentIndex(), 0);
    QTest::keyClick(w->MEQuery, Qt::Key_N, Qt::AltModifier);
    QCOMPARE(w->PCMain->currentWidget(), w->REMessages);
    QVERIFY(w->REMessages->hasFocus());
    // Tab leaves the pane instead of writing a tab into it.
    QTest::keyClick(w->REMessages, Qt::Key_Tab);
    QVERIFY(!w->REMessages->hasFocus());
    QVERIFY(w->REMessages->toPlainText().isEmpty());
}

void TestMainWindow::startupCreatesWindowsInOrder() {
    QCOMPARE(FMMain, w);
    QVERIFY(DM);
    QCOMPARE(w->dataModule(), DM);
    QVERIFY(FMBlob && FMsetup && FMAbout);
    QCOMPARE(FMBlob->objectName(), QStringLiteral("FMBlob"));
    QVERIFY(!FMBlob->isVisible() && !FMsetup->isVisible() && !FMAbout->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Brevalon - Tarnwick 2005"));
    QCOMPARE(w->PAGrid->text(), QStringLiteral("Keine Ergebnismenge vorhanden."));
    QVERIFY(!w->PAGrid->isHidden());
    QCOMPARE(w->LBStatusbar1->text(), QStringLiteral("  "));
    QCOMPARE(w->EDMaxRec->value(), 0);
    // Showing the window starts the processor clock measurement (once the
    // window has painted); it ends with a clock value.
    w->show();
    QTRY_VERIFY_WITH_TIMEOUT(CpuClockMHz.load() > 0.0, 10000);
}

void TestMainWindow::componentsCarryTheirNames() {
    for (const char* name :
         {"VelStylePanel1", "Image4",         "Image1",       "Label5",       "Label3",
          "CBDatabase",     "VelStylePanel2", "LBStatusbar1", "LBStatusBar2", "LBStatusBar3",
          "PAMain",         "TBDock1",        "TBToolbar1",   "TBToolbar2",   "Panel1",
          "PATables",       "CHBSystem",      "LBTables",     "Splitter2",    "PCLeft",
          "PAQuery",        "PageControl1",   "MEQuery",      "EDMaxRec",     "Splitter1",
          "PCMain",         "DBGridQuery",    "PAGrid",       "REMessages"})
        QVERIFY2(w->findChild<QWidget*>(name), name);
    for (const char* name : {"ACConnect", "ACNew", "ACOpen", "ACSave", "ACQuery", "ACExecute",
                             "ACTables", "AcInfo", "ACPrint", "ACImport", "ACExport", "ACSetup"})
        QVERIFY2(w->findChild<QAction*>(name), name);
    QCOMPARE(DM->findChildren<QObject*>().size() >= 7, true);
    for (const char* name : {"ADOConnMain", "ADOdsDB", "ADOdsQuery", "DSQuery", "ADOCommand",
                             "ADODSStru", "ADOdsVersion"})
        QVERIFY2(DM->findChild<QObject*>(name), name);
}

namespace {

// A control's rectangle in its window's coordinates.
QRect inWindow(const QWidget* control) {
    return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
}

} // namespace

// What a person sees at the opening size: the title panel across the top with
// the emblem, the lettering and, at its right end, the database box; the dock
// below it; the table list beside the editor, which sits over the results;
// the status bar across the foot with its three texts side by side.
void TestMainWindow::layoutAsSeen() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->size(), QSize(942, 696));
    QVERIFY(w->minimumSize().width() < w->width() && w->minimumSize().height() < w->height());
    const QRect title = inWindow(w->VelStylePanel1);
    const QRect status = inWindow(w->VelStylePanel2);
    QCOMPARE(title.topLeft(), QPoint(0, 0));
    QCOMPARE(title.width(), w->width());
    QCOMPARE(status.bottom(), w->rect().bottom());
    QCOMPARE(status.width(), w->width());
    for (QWidget* c :
         std::initializer_list<QWidget*>{w->Image4, w->Image1, w->Label5, w->Label3, w->CBDatabase})
        QVERIFY2(title.contains(inWindow(c)), qPrintable(c->objectName()));
    QVERIFY(inWindow(w->Image4).right() < inWindow(w->Image1).left());
    QVERIFY(inWindow(w->Label5).top() >= inWindow(w->Image1).bottom());
    // The label's text, not its box, ends before the database box.
    QVERIFY(inWindow(w->Label3).left() +
                w->Label3->fontMetrics().horizontalAdvance(w->Label3->text().remove(u'&')) <
            inWindow(w->CBDatabase).left());
    QVERIFY(title.right() - inWindow(w->CBDatabase).right() < 16);
    // The lettering is drawn: light letters on the dark panel.
    const QImage lettering = w->Image1->grab().toImage();
    int light = 0;
    for (int y = 0; y < lettering.height(); ++y)
        for (int x = 0; x < lettering.width(); ++x)
            light += lettering.pixelColor(x, y).lightness() > 200;
    QVERIFY(light > 50);

    const QRect dock = inWindow(w->TBDock1);
    const QRect tables = inWindow(w->PATables);
    const QRect query = inWindow(w->PAQuery);
    const QRect results = inWindow(w->PCMain);
    QVERIFY(dock.top() > title.bottom());
    for (const QRect& r : {tables, query, results})
        QVERIFY(r.top() > dock.bottom() && r.bottom() < status.top());
    QVERIFY(tables.right() < query.left() && tables.right() < results.left());
    QVERIFY(query.bottom() < results.top());
    QVERIFY(tables.contains(inWindow(w->LBTables)) && tables.contains(inWindow(w->CHBSystem)));
    QVERIFY(inWindow(w->CHBSystem).bottom() < inWindow(w->LBTables).top());
    QVERIFY(query.contains(inWindow(w->PageControl1)) && query.contains(inWindow(w->EDMaxRec)));
    QVERIFY(query.right() - inWindow(w->EDMaxRec).right() < 16);
    const QRect texts[] = {inWindow(w->LBStatusbar1), inWindow(w->LBStatusBar2),
                           inWindow(w->LBStatusBar3)};
    for (const QRect& r : texts)
        QVERIFY(r.top() >= status.top() && r.bottom() <= status.bottom());
    QVERIFY(texts[0].right() < texts[1].left() && texts[1].right() < texts[2].left());
}

// Growing the window moves the controls at its right edge with it and gives
// the room to the editor's tabs and the table list; the table panel keeps its
// width and the editor its height.
void TestMainWindow::rightEdgeControlsFollowTheWindow() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const int database = w->CBDatabase->x(), label = w->Label3->x(), maxRec = w->EDMaxRec->x();
    const int tabs = w->PageControl1->width(), editor = w->PAQuery->height();
    const QSize list = w->LBTables->size();
    w->resize(w->size() + QSize(100, 100));
    QTRY_COMPARE(w->CBDatabase->x(), database + 100);
    QCOMPARE(w->Label3->x(), label + 100);
    QCOMPARE(w->EDMaxRec->x(), maxRec + 100);
    QCOMPARE(w->PageControl1->width(), tabs + 100);
    QCOMPARE(w->LBTables->size(), list + QSize(0, 100));
    QCOMPARE(w->PAQuery->height(), editor);
}

void TestMainWindow::menus() {
    const QList<QAction*> bar = w->TBMenuBar->actions();
    QStringList titles;
    for (QAction* a : bar)
        titles << a->text();
    QCOMPARE(titles, (QStringList{"&Datei", "&Ansicht", "&Optionen", "&?"}));
    QCOMPARE(w->TBToolbar2->windowTitle(), QStringLiteral("Menü"));
    QCOMPARE(entries(bar[0]->menu()->actions()),
             (QStringList{"Verbinden...", "-", "Neu", "Öffnen...", "Speichern...", "-",
                          "Abfrage starten", "Ausführen", "Abbrechen", "-", "Importieren...",
                          "Exportieren...", "-", "Beenden"}));
    QCOMPARE(entries(bar[1]->menu()->actions()),
             (QStringList{"Tabelleneigenschaften", "-", "Verbindungsinformationen", "-",
                          "Suchen...", "Ersetzen...", "Gehe zu Zeile...", "-", "Verlauf"}));
    QCOMPARE(entries(bar[2]->menu()->actions()), QStringList{"Einstellungen"});
    QCOMPARE(entries(bar[3]->menu()->actions()), QStringList{"&Info"});
    QCOMPARE(entries(w->PopupMenu1->actions()), QStringList{"Tabelleneigenschaften"});

    // Each menu has its skin once it opens, and is sized with it: the
    // selected entry's blue band fills the menu's width inside the border.
    QList<QMenu*> menus{w->PopupMenu1};
    for (QAction* a : bar)
        menus << a->menu();
    for (QMenu* m : menus) {
        m->popup(QPoint(10, 10));
        QVERIFY2(m->styleSheet().contains(QStringLiteral("QMenu::item:selected")),
                 qPrintable(m->objectName()));
        m->setActiveAction(m->actions().constFirst());
        const QImage img = m->grab().toImage();
        const QRect item = m->actionGeometry(m->actions().constFirst());
        QCOMPARE(QColor(img.pixel(item.right() - 4, item.top() + 2)), QColor(0xC1, 0xD2, 0xEE));
        m->hide();
    }
}

void TestMainWindow::buttonToolbar() {
    QCOMPARE(w->TBToolbar1->windowTitle(), QStringLiteral("Standard"));
    QCOMPARE(entries(w->TBToolbar1->actions()),
             (QStringList{"Verbinden...", "Neu", "Öffnen...", "Speichern...", "-",
                          "Abfrage starten", "Ausführen", "Abbrechen", "-", "Tabelleneigenschaften",
                          "Verbindungsinformationen", "-", "ACPrint", "-", "Importieren...",
                          "Exportieren..."}));
    for (QAction* a : w->TBToolbar1->actions()) {
        if (a->isSeparator())
            continue;
        QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
        QVERIFY2(!a->toolTip().isEmpty(), qPrintable(a->objectName()));
    }
}

// The dock and its bars as drawn: faces, borders, separator, the button bar's
// box model, and the blue boxes under the mouse.
void TestMainWindow::toolbarSkin() {
    using namespace toolbarskin;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QCOMPARE(w->TBToolbar1->geometry(), QRect(184, 0, 321, 25));
    // The menu bar sits one pixel in, its items padded 5 and 3 around their text.
    QCOMPARE(w->TBMenuBar->geometry(), QRect(1, 1, 182, w->TBToolbar2->height() - 2));
    const QRect first = w->TBMenuBar->actionGeometry(w->TBMenuBar->actions().first());
    const QSize text =
        w->TBMenuBar->fontMetrics().size(Qt::TextShowMnemonic, QStringLiteral("&Datei"));
    QCOMPARE(first, QRect(QPoint(0, 0), text + QSize(10, 6)));
    QCOMPARE(first.height(), w->TBMenuBar->height());
    QList<QToolButton*> buttons;
    for (QAction* a : w->TBToolbar1->actions()) {
        if (auto* b = qobject_cast<QToolButton*>(w->TBToolbar1->widgetForAction(a)))
            buttons << b;
    }
    QCOMPARE(buttons.size(), 12);
    QCOMPARE(buttons[0]->geometry(), QRect(1, 1, 23, 23));
    QCOMPARE(buttons[1]->geometry(), QRect(25, 1, 23, 23)); // one pixel apart
    QCOMPARE(buttons[4]->x(), 105);                         // a separator takes 7 more

    auto dock = [this] { return w->TBDock1->grab().toImage(); };
    QImage img = dock();
    const QPoint bar = w->TBToolbar1->pos();
    QCOMPARE(img.pixelColor(700, 10), dockFace);
    QCOMPARE(img.pixelColor(700, 25), dockFoot);
    // Past its last item, the menu bar lets the dock show.
    const QRect last = w->TBMenuBar->actionGeometry(w->TBMenuBar->actions().last());
    QVERIFY(last.right() + 3 < w->TBMenuBar->width());
    QCOMPARE(img.pixelColor(w->TBMenuBar->mapTo(w->TBDock1, QPoint(last.right() + 3, 2))),
             dockFace);
    QCOMPARE(img.pixelColor(bar + QPoint(0, 12)), barBorder);
    QCOMPARE(img.pixelColor(bar + QPoint(320, 12)), barBorder);
    QCOMPARE(img.pixelColor(bar + QPoint(150, 0)), barBorder);
    QCOMPARE(img.pixelColor(bar + QPoint(150, 24)), barBorder);
    // The face runs from the light top to the blue foot, between the buttons.
    const QColor top = img.pixelColor(bar + QPoint(24, 1));
    const QColor foot = img.pixelColor(bar + QPoint(24, 23));
    QVERIFY(qAbs(top.red() - barTop.red()) <= 4 && qAbs(top.blue() - barTop.blue()) <= 4);
    QVERIFY(qAbs(foot.red() - barBottom.red()) <= 4 && qAbs(foot.blue() - barBottom.blue()) <= 4);
    QVERIFY(img.pixelColor(bar + QPoint(24, 12)).red() < top.red());
    // The separator: a line three pixels in from each side of its slot.
    QCOMPARE(img.pixelColor(bar + QPoint(100, 12)), separator);
    QVERIFY(img.pixelColor(bar + QPoint(99, 12)) != separator);
    QVERIFY(img.pixelColor(bar + QPoint(100, 3)) != separator);

    const QColor highlight = w->palette().highlight().color();
    QToolButton* save = buttons[3];
    save->setAttribute(Qt::WA_UnderMouse, true);
    img = dock();
    const QPoint at = bar + save->pos();
    QCOMPARE(img.pixelColor(at), highlight);
    QCOMPARE(img.pixelColor(at + QPoint(22, 22)), highlight);
    QCOMPARE(img.pixelColor(at + QPoint(1, 1)), hot);
    save->setDown(true);
    img = dock();
    QCOMPARE(img.pixelColor(at + QPoint(1, 1)), pressed);
    save->setDown(false);
    save->setAttribute(Qt::WA_UnderMouse, false);
    save->setCheckable(true);
    save->setChecked(true);
    img = dock();
    QCOMPARE(img.pixelColor(at), checked);
    save->setChecked(false);
    save->setCheckable(false);

    const QRect item = w->TBMenuBar->actionGeometry(w->TBMenuBar->actions().at(1));
    QMouseEvent move(QEvent::MouseMove, QPointF(item.center()),
                     w->TBMenuBar->mapToGlobal(QPointF(item.center())), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w->TBMenuBar, &move);
    img = dock();
    const QPoint itemAt = w->TBMenuBar->mapTo(w->TBDock1, item.topLeft());
    QCOMPARE(img.pixelColor(itemAt), highlight);
    QCOMPARE(img.pixelColor(itemAt + QPoint(1, 1)), hot);
}

void TestMainWindow::actionsAndShortcuts() {
    QVERIFY(!w->ACImport->isEnabled()); // no handler: greyed
    QCOMPARE(w->ACImport->statusTip(), QStringLiteral("Daten importieren"));
    for (QAction* a : {w->ACConnect, w->ACNew, w->ACOpen, w->ACSave, w->ACQuery, w->ACExecute,
                       w->ACTables, w->AcInfo, w->ACPrint, w->ACExport, w->ACSetup})
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
    QCOMPARE(w->ACQuery->shortcuts(),
             (QList<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::Key_F5)}));
    QCOMPARE(w->ACExecute->shortcuts(),
             (QList<QKeySequence>{QKeySequence(Qt::ALT | Qt::Key_E), QKeySequence(Qt::Key_F6)}));
    QCOMPARE(w->ACExecute->statusTip(), QStringLiteral("Kommando starten (ohne Abfrageergebnis)"));
    QCOMPARE(w->AcInfo->statusTip(),
             QStringLiteral("Informationen über Datenbankprovider anzeigen"));
    QCOMPARE(w->ACPrint->statusTip(), QStringLiteral("Abfrageergebnis drucken"));

    // Alt+E runs "Ausführen" although the result page's tab shows "&Ergebnisse".
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QObject::disconnect(w->ACQuery, SIGNAL(triggered(bool)), w, nullptr);
    QObject::disconnect(w->ACExecute, SIGNAL(triggered(bool)), w, nullptr);
    QSignalSpy execute(w->ACExecute, &QAction::triggered);
    QSignalSpy query(w->ACQuery, &QAction::triggered);
    w->MEQuery->setFocus();
    QTest::keyClick(w->MEQuery, Qt::Key_X, Qt::AltModifier);
    QCOMPARE(query.count(), 1);
    QTest::keyClick(w->MEQuery, Qt::Key_E, Qt::AltModifier);
    QTest::keyClick(w->MEQuery, Qt::Key_E, Qt::AltModifier);
    QCOMPARE(execute.count(), 2);
}

void TestMainWindow::functionKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("snippet");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::addColumn<QString>("expected");

    // Editor text "select x from t"; the caret or selection as given.
    QTest::newRow("F1 at caret") << int(Qt::Key_F1) << 0 << "top 5 " << 7 << 7
                                 << "select top 5 x from t";
    QTest::newRow("F3 replaces selection")
        << int(Qt::Key_F3) << 0 << "a, b" << 7 << 8 << "select a, b from t";
    QTest::newRow("empty F3 deletes selection")
        << int(Qt::Key_F3) << 0 << "" << 7 << 9 << "select from t";
    QTest::newRow("F10 with Alt") << int(Qt::Key_F10) << int(Qt::AltModifier) << "--" << 0 << 0
                                  << "--select x from t";
    QTest::newRow("Ctrl+F5 inserts")
        << int(Qt::Key_F5) << int(Qt::ControlModifier) << "*" << 15 << 15 << "select x from t*";
    QTest::newRow("Shift+F6 inserts")
        << int(Qt::Key_F6) << int(Qt::ShiftModifier) << "!" << 0 << 15 << "!";
    QTest::newRow("F11 is no snippet key")
        << int(Qt::Key_F11) << 0 << "" << 0 << 0 << "select x from t";
}

void TestMainWindow::functionKeys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, snippet);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    QFETCH(QString, expected);

    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10)
        w->ShortcutTexts[std::size_t(key - Qt::Key_F1)] = snippet;
    w->MEQuery->setPlainText(QStringLiteral("select x from t"));
    QTextCursor c = w->MEQuery->textCursor();
    c.setPosition(selStart);
    c.setPosition(selEnd, QTextCursor::KeepAnchor);
    w->MEQuery->setTextCursor(c);
    w->MEQuery->setFocus();
    QTest::keyClick(w->MEQuery, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w->MEQuery->toPlainText(), expected);
}

void TestMainWindow::functionKeyKeepsFocusOnTableList() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->ShortcutTexts[2] = QStringLiteral("where 1=1");
    w->MEQuery->setPlainText(QStringLiteral("select * from t "));
    QTextCursor c = w->MEQuery->textCursor();
    c.movePosition(QTextCursor::End);
    w->MEQuery->setTextCursor(c);
    w->LBTables->addItems({"Kunden", "Artikel"});
    w->LBTables->setFocus();
    QTRY_VERIFY(w->LBTables->hasFocus());
    QTest::keyClick(w->LBTables, Qt::Key_F3);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select * from t where 1=1"));
    QVERIFY(w->LBTables->hasFocus());
    QVERIFY(TableListFocused);
}

void TestMainWindow::plainF5RunsQueryShiftF5Inserts() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    // Keep the actions from reaching a server: only count them.
    QObject::disconnect(w->ACQuery, SIGNAL(triggered(bool)), w, nullptr);
    QObject::disconnect(w->ACExecute, SIGNAL(triggered(bool)), w, nullptr);
    QSignalSpy query(w->ACQuery, &QAction::triggered);
    QSignalSpy execute(w->ACExecute, &QAction::triggered);
    w->ShortcutTexts[4] = QStringLiteral("<5>");
    w->ShortcutTexts[5] = QStringLiteral("<6>");
    w->MEQuery->setFocus();
    QTest::keyClick(w->MEQuery, Qt::Key_F5);
    QTest::keyClick(w->MEQuery, Qt::Key_F6);
    QCOMPARE(query.count(), 1);
    QCOMPARE(execute.count(), 1);
    QCOMPARE(w->MEQuery->toPlainText(), QString());
    QTest::keyClick(w->MEQuery, Qt::Key_F5, Qt::ShiftModifier);
    QTest::keyClick(w->MEQuery, Qt::Key_F6, Qt::ControlModifier);
    QCOMPARE(query.count(), 1);
    QCOMPARE(execute.count(), 1);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("<5><6>"));
}

void TestMainWindow::hintLine() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto* button = qobject_cast<QToolButton*>(w->TBToolbar1->widgetForAction(w->ACSave));
    QVERIFY(button);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(button, &enter);
    QCOMPARE(w->LBStatusBar3->text(), QStringLiteral("Abfrage speichern"));
    QVERIFY(w->LBStatusBar3->width() >= w->LBStatusBar3->sizeHint().width());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    QCOMPARE(w->LBStatusBar3->text(), QString());
    // The table list's own hint.
    QApplication::sendEvent(w->LBTables, &enter);
    QCOMPARE(w->LBStatusBar3->text(), QStringLiteral("Verfügbare Tabellen in der Datenbank"));
}

void TestMainWindow::fullStopRule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Fehler"
                            << "Fehler.";
    QTest::newRow("umlaut") << "zurück"
                            << "zurück.";
    QTest::newRow("digit") << "Wert 5"
                           << "Wert 5.";
    QTest::newRow("slash is above the stop") << "Pfad /"
                                             << "Pfad /.";
    QTest::newRow("full stop") << "Fehler."
                               << "Fehler.";
    QTest::newRow("exclamation mark") << "Fehler!"
                                      << "Fehler!";
    QTest::newRow("closing parenthesis") << "(Fehler)"
                                         << "(Fehler)";
    QTest::newRow("hyphen") << "Ende -"
                            << "Ende -";
    QTest::newRow("blank") << "Ende "
                           << "Ende ";
    QTest::newRow("empty") << ""
                           << "";
}

void TestMainWindow::fullStopRule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(messageWithFullStop(message), shown);
}

void TestMainWindow::errorDisplayShowsOnceAndGoesOn() {
    Thrower thrower;
    thrower.message = QStringLiteral("Anmeldung fehlgeschlagen");
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE(m_messages->requests.size(), 2);
    const modal::MessageRequest& r = m_messages->requests.first();
    QCOMPARE(r.caption, QStringLiteral("tarnwick 2005"));
    QCOMPARE(r.icon, QMessageBox::Critical);
    QCOMPARE(r.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(r.text, QStringLiteral("Anmeldung fehlgeschlagen."));
}

void TestMainWindow::quickQueryStatement_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("statement");
    QTest::newRow("top 100") << "Kunden" << 100 << "SELECT TOP 100 * from [Kunden]";
    QTest::newRow("all rows") << "Kunden" << 0 << "SELECT * from [Kunden]";
    QTest::newRow("blank in name")
        << "Order Details" << 50 << "SELECT TOP 50 * from [Order Details]";
    QTest::newRow("bracket doubled") << "a]b" << 0 << "SELECT * from [a]]b]";
    QTest::newRow("name cannot end the bracket")
        << "x]; drop table y; --" << 0 << "SELECT * from [x]]; drop table y; --]";
    QTest::newRow("opening bracket kept") << "[x" << 0 << "SELECT * from [[x]";
}

void TestMainWindow::quickQueryStatement() {
    QFETCH(QString, table);
    QFETCH(int, max);
    QFETCH(QString, statement);
    QCOMPARE(::quickQueryStatement(table, max), statement);
}

void TestMainWindow::queryAndCommandText_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("command");

    // Comments go; line breaks stay, so the server's line numbers are the
    // editor's and a string that spans lines arrives as typed.
    QTest::newRow("lines kept") << "select a -- key\nfrom t" << 0 << 0 << "select a \nfrom t"
                                << "select a -- key\r\nfrom t\r\n";
    QTest::newRow("block comment over lines") << "select /* x\ny */ 1" << 0 << 0 << "select \n 1"
                                              << "select /* x\r\ny */ 1\r\n";
    QTest::newRow("final line break adds no line") << "select 1\n"
                                                   << 0 << 0 << "select 1"
                                                   << "select 1\r\n";
    QTest::newRow("empty editor") << "" << 0 << 0 << ""
                                  << "";
    QTest::newRow("selection keeps its breaks")
        << "x\nselect a -- c\nfrom t\ny" << 2 << 22 << "select a \r\nfrom t"
        << "select a -- c\r\nfrom t";
    QTest::newRow("comment never covers the next line")
        << "update t set a = 1 -- all\nwhere id = 2" << 0 << 0
        << "update t set a = 1 \nwhere id = 2"
        << "update t set a = 1 -- all\r\nwhere id = 2\r\n";
}

void TestMainWindow::queryAndCommandText() {
    QFETCH(QString, editor);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    QFETCH(QString, query);
    QFETCH(QString, command);
    w->MEQuery->setPlainText(editor);
    QTextCursor c = w->MEQuery->textCursor();
    c.setPosition(selStart);
    c.setPosition(selEnd, QTextCursor::KeepAnchor);
    w->MEQuery->setTextCursor(c);
    QCOMPARE(w->queryText(), query);
    QCOMPARE(w->commandText(), command);
}

void TestMainWindow::focusTracking() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->LBTables->setFocus();
    QTRY_VERIFY(TableListFocused);
    w->MEQuery->setFocus();
    QTRY_VERIFY(!TableListFocused);
    w->LBTables->setFocus();
    QTRY_VERIFY(TableListFocused);
    w->DBGridQuery->setFocus();
    QTRY_VERIFY(!TableListFocused);
}

void TestMainWindow::newClearsEditorAndMessages() {
    w->MEQuery->setPlainText(QStringLiteral("select 1"));
    w->REMessages->setPlainText(QStringLiteral("old message"));
    trigger(w->ACNew);
    QCOMPARE(w->MEQuery->toPlainText(), QString());
    QCOMPARE(w->REMessages->toPlainText(), QString());
}

void TestMainWindow::saveAndOpenScripts() {
    QList<modal::FileRequest> requests;
    QString answer;
    modal::setFileHandler([&](const modal::FileRequest& r) {
        requests.append(r);
        return answer;
    });
    const QString text = QStringLiteral("select *\n\nfrom [Kunden]\n  where a = 'ä'");
    w->MEQuery->setPlainText(text);
    w->REMessages->setPlainText(QStringLiteral("kept"));
    answer = QDir(m_settings->path()).filePath(QStringLiteral("abfrage")); // no extension
    trigger(w->ACSave);
    QCOMPARE(requests.last().caption, QStringLiteral("SQL Scripts speichern"));
    QVERIFY(requests.last().save);
    QCOMPARE(requests.last().filter, QStringLiteral("SQL-Scripts (*.sql);;Alle Dateien (*.*)"));
    QCOMPARE(requests.last().defaultSuffix, QStringLiteral("sql"));
    QCOMPARE(w->REMessages->toPlainText(), QStringLiteral("kept"));
    QFile f(answer + QStringLiteral(".sql"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), text.toLatin1().replace("\n", "\r\n") + "\r\n");
    f.close();

    // Saving again over the same file replaces it without a question; the
    // dialog offers the last name.
    w->MEQuery->setPlainText(QStringLiteral("select 2"));
    trigger(w->ACSave);
    QCOMPARE(requests.last().directory, answer + QStringLiteral(".sql"));
    QVERIFY(m_messages->requests.isEmpty());

    w->MEQuery->clear();
    answer = answer + QStringLiteral(".sql");
    trigger(w->ACOpen);
    QCOMPARE(requests.last().caption, QStringLiteral("Script öffnen"));
    QVERIFY(!requests.last().save);
    QCOMPARE(requests.last().filter, QStringLiteral("SQL-Script (*.sql);;Alle Dateien (*.*)"));
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select 2\n"));
    QCOMPARE(w->REMessages->toPlainText(), QString());
}

void TestMainWindow::openMissingFileKeepsEditor() {
    const QString missing = QDir(m_settings->path()).filePath(QStringLiteral("fehlt.sql"));
    QFileDialog::FileMode mode = QFileDialog::ExistingFile;
    modal::setFileHandler([&](const modal::FileRequest& r) {
        // The real dialog accepts the missing name and leaves the error to the loading.
        QFileDialog dialog;
        modal::setUpFileDialog(dialog, r);
        mode = dialog.fileMode();
        return missing;
    });
    w->MEQuery->setPlainText(QStringLiteral("select 1"));
    w->REMessages->setPlainText(QStringLiteral("message"));
    trigger(w->ACOpen);
    QCOMPARE(m_messages->requests.size(), 1);
    QVERIFY2(m_messages->texts().first().startsWith(
                 QStringLiteral("Datei %1 kann nicht geöffnet werden. ").arg(missing)),
             qPrintable(m_messages->texts().first()));
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select 1"));
    QCOMPARE(w->REMessages->toPlainText(), QStringLiteral("message"));
    QCOMPARE(mode, QFileDialog::AnyFile);
}

// Qt's German translations make the stock dialogs and buttons German; the
// program's own texts stay as they are.
void TestMainWindow::stockDialogsAreGerman() {
    QVERIFY(installGermanTranslations(*qApp));
    QFileDialog dialog(nullptr, QStringLiteral("Script öffnen"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    QVERIFY(lookIn);
    QCOMPARE(lookIn->text(), QStringLiteral("Suchen in:"));
    QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(buttons.button(QDialogButtonBox::Yes)->text(), QStringLiteral("&Ja"));
    QCOMPARE(w->ACOpen->text(), QStringLiteral("Öffnen..."));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Script öffnen"));
}

void TestMainWindow::cancelledDialogsDoNothing() {
    modal::setFileHandler([](const modal::FileRequest&) { return QString(); });
    w->MEQuery->setPlainText(QStringLiteral("select 1"));
    w->REMessages->setPlainText(QStringLiteral("message"));
    trigger(w->ACOpen);
    trigger(w->ACSave);
    trigger(w->ACPrint);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select 1"));
    QCOMPARE(w->REMessages->toPlainText(), QStringLiteral("message"));
    QVERIFY(m_messages->requests.isEmpty());
}

void TestMainWindow::settingsReadAtStart() {
    {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", "SRV1");
        reg.writeString("MSSQLDatabase", "Musterfirma");
        reg.writeString("maxds", "50");
        reg.writeString("shortcut3", "where 1=1");
        reg.writeString("shortcut10", "go");
        reg.writeString("ADOTimeout", "abc");
    }
    QueryTimeout = 7;
    w->readfromreg();
    QCOMPARE(w->SavedServer, QStringLiteral("SRV1"));
    QCOMPARE(w->SavedDatabase, QStringLiteral("Musterfirma"));
    QCOMPARE(w->EDMaxRec->value(), 50);
    QCOMPARE(w->ShortcutTexts[2], QStringLiteral("where 1=1"));
    QCOMPARE(w->ShortcutTexts[9], QStringLiteral("go"));
    QCOMPARE(w->ShortcutTexts[0], QString());
    QCOMPARE(QueryTimeout, 0); // letters count as no time-out
    QCOMPARE(DM->ADOdsQuery->CommandTimeout(), 0);
}

void TestMainWindow::settingsWrittenAtClose() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->EDMaxRec->setValue(25);
    w->ShortcutTexts[0] = QStringLiteral("select ");
    QueryTimeout = 12;
    w->CBDatabase->setEditText(QStringLiteral("Lager"));
    trigger(w->Beenden1);
    QVERIFY(!w->isVisible());
    settings::Registry reg;
    QVERIFY(reg.openKeyReadOnly(QString::fromLatin1(settings::kSettingsKey)));
    QCOMPARE(reg.readString("MSSQLDatabase"), QStringLiteral("Lager"));
    QCOMPARE(reg.readString("maxds"), QStringLiteral("25"));
    QCOMPARE(reg.readString("shortcut1"), QStringLiteral("select "));
    QCOMPARE(reg.readString("shortcut2"), QString());
    QVERIFY(reg.valueExists("shortcut10"));
    QCOMPARE(reg.readString("ADOTimeout"), QStringLiteral("12"));
    QCOMPARE(reg.readString("FormVersion"), QStringLiteral("0"));
    QVERIFY(reg.valueExists("NormPos"));
    QVERIFY(!reg.valueExists("MSSQLServer")); // owned by the connection component
    QueryTimeout = 0;
}

void TestMainWindow::settingsErrorReportedOnce() {
    {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", "SRV1");
        reg.writeInteger("MSSQLDatabase", 5); // of the wrong type
        reg.writeString("maxds", "50");
    }
    auto* prompt = new FakePrompt;
    prompt->confirm = false;
    w->setConnectPrompt(std::unique_ptr<ConnectPrompt>(prompt));
    FirstActivation = true;
    runGuarded([this] { w->FormActivate(); }); // connecting fails too: no server named
    QVERIFY(!FirstActivation);
    QCOMPARE(w->SavedServer, QStringLiteral("SRV1"));
    QCOMPARE(w->EDMaxRec->value(), 0); // values after the bad one are not read
    QCOMPARE(prompt->opens, 1);
    const int shown = int(m_messages->requests.size());
    QVERIFY(shown >= 1);
    runGuarded([this] { w->FormActivate(); });
    QCOMPARE(prompt->opens, 1);
    QCOMPARE(int(m_messages->requests.size()), shown);
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
