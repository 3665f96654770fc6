// The main window's construction: components, actions, menus, toolbars, skin.

#include "app/scripteditor.h"
#include "app/toolbarskin.h"
#include "app/uMain.h"

#include "app/editor/editortools.h"
#include "app/resultstack.h"
#include "controls/styledcontrols.h"

#include "app/anchors.h"
#include "app/artwork.h"
#include "app/connectprompt.h"
#include "app/grid/DBBGrid.h"
#include "export/VelADObatchmove.h"

#include <QApplication>
#include <QCheckBox>
#include <QCollator>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

TFMMain* FMMain = nullptr;

namespace {

constexpr QSize kClientSize{942, 696};
constexpr int kTitleHeight = 65;
constexpr int kStatusHeight = 21;
constexpr int kTablePanelWidth = 185;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QPoint pos,
                  const QColor& color) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->adjustSize();
    label->move(pos);
    return label;
}

// Releases the shortcuts a widget registered for the mnemonics of its texts.
// The page control's "&Ergebnisse" would otherwise make Alt+E ambiguous, and
// Alt+E belongs to "Ausführen".
// The ids come from one counter, so the ones registered between two probes
// are the widget's new ones.
void dropMnemonicShortcuts(QWidget* widget, int probeBefore, int probeAfter) {
    for (int id = std::min(probeBefore, probeAfter) + 1; id < std::max(probeBefore, probeAfter);
         ++id)
        widget->releaseShortcut(id);
}

int probeShortcutId(QWidget* widget) {
    const int id = widget->grabShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_F35));
    widget->releaseShortcut(id);
    return id;
}

} // namespace

// ---- database box -----------------------------------------------------------

TDatabaseComboBox::TDatabaseComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(12);
}

void TDatabaseComboBox::addSorted(const QString& text) {
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    int pos = count();
    for (int i = 0; i < count(); ++i) {
        if (collator.compare(text, itemText(i)) < 0) {
            pos = i;
            break;
        }
    }
    const QSignalBlocker block(this);
    insertItem(pos, text);
}

void TDatabaseComboBox::hidePopup() {
    QComboBox::hidePopup();
    // Reported after the choice itself has been delivered, so the close-up
    // handler always sees the chosen entry.
    QMetaObject::invokeMethod(this, &TDatabaseComboBox::closedUp, Qt::QueuedConnection);
}

// ---- window -----------------------------------------------------------------

TFMMain::TFMMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FMMain"));
    setWindowTitle(QStringLiteral("Brevalon - Tarnwick 2005"));
    const QPixmap appIcon = applicationIconPixmap(32); // drawn once for both places
    setWindowIcon(QIcon(appIcon));
    setFont(designedFont());
    resize(kClientSize);
    setMinimumSize(700, 500);

    buildActions();
    // The export engine; its source, the data module's result set, is set
    // when the data module is attached.
    VelADObatchmove1 = new TVelADObatchmove(this);
    VelADObatchmove1->setObjectName(QStringLiteral("VelADObatchmove1"));
    VelADObatchmove1->setDestDatabaseType(dtDBase3);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildTitleRegion(appIcon);
    buildMainArea();
    buildStatusRegion();
    layout->addWidget(VelStylePanel1);
    layout->addWidget(PAMain, 1);
    layout->addWidget(VelStylePanel2);
    applySkin();
    connectHandlers();
    buildFrame();
    nameForScreenReaders();

    // Key preview: every key press of the window passes through eventFilter.
    qApp->installEventFilter(this);
}

void TFMMain::buildActions() {
    struct Def {
        QAction** slot;
        const char* name;
        const char* caption;
        const char* hint;
    };
    const Def defs[] = {
        {&ACConnect, "ACConnect", "Verbinden...", "Verbinden mit Datenbank-Server"},
        {&ACNew, "ACNew", "Neu", "Neue Abfrage erstellen"},
        {&ACOpen, "ACOpen", "Öffnen...", "Abfrage aus Datei öffnen"},
        {&ACSave, "ACSave", "Speichern...", "Abfrage speichern"},
        {&ACQuery, "ACQuery", "Abfrage starten", "Abfrage starten"},
        {&ACExecute, "ACExecute", "Ausführen", "Kommando starten (ohne Abfrageergebnis)"},
        {&ACTables, "ACTables", "Tabelleneigenschaften", "Tabellenstruktur anzeigen"},
        {&AcInfo, "AcInfo", "Verbindungsinformationen",
         "Informationen über Datenbankprovider anzeigen"},
        {&ACPrint, "ACPrint", "ACPrint", "Abfrageergebnis drucken"},
        {&ACImport, "ACImport", "Importieren...", "Daten importieren"},
        {&ACExport, "ACExport", "Exportieren...", "Abfrageergebnis exportieren"},
        {&ACSetup, "ACSetup", "Einstellungen", "Einstellungen"},
        {&ACCancel, "ACCancel", "Abbrechen", "Laufende Abfrage abbrechen"},
    };
    for (const Def& d : defs) {
        auto* a = new QAction(QString::fromUtf8(d.caption), this);
        a->setObjectName(QLatin1String(d.name));
        a->setStatusTip(QString::fromUtf8(d.hint));
        a->setToolTip(QString::fromUtf8(d.hint));
        a->setIcon(actionIcon(d.name));
        a->setProperty("category", QStringLiteral("File"));
        addAction(a); // shortcuts are live anywhere in the window
        *d.slot = a;
    }
    // Primary and secondary shortcuts.
    ACQuery->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::Key_F5)});
    ACExecute->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_E), QKeySequence(Qt::Key_F6)});
    // An action without a handler is disabled.
    ACImport->setEnabled(false);
    // Greyed while no statement runs.
    ACCancel->setShortcut(QKeySequence(Qt::Key_Escape));
    ACCancel->setEnabled(false);

    Beenden1 = new QAction(QStringLiteral("Beenden"), this);
    Beenden1->setObjectName(QStringLiteral("Beenden1"));
    Beenden1->setIcon(actionIcon("Beenden1"));
    TBItemInfo = new QAction(QStringLiteral("&Info"), this);
    TBItemInfo->setObjectName(QStringLiteral("TBItemInfo"));
    TBItemInfo->setIcon(actionIcon("TBItemInfo"));
}

void TFMMain::buildTitleRegion(const QPixmap& appIcon) {
    VelStylePanel1 = new TVelStylePanel(this);
    VelStylePanel1->setObjectName(QStringLiteral("VelStylePanel1"));
    VelStylePanel1->setFixedHeight(kTitleHeight);
    VelStylePanel1->setAutoFillBackground(true);

    Image4 = new QLabel(VelStylePanel1);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setPixmap(appIcon);
    Image4->setGeometry(12, 25, 32, 32);

    Image1 = new QLabel(VelStylePanel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    // Its picture, the product lettering, comes with the frame (buildFrame).
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setGeometry(56, 26, 155, 18);

    Label5 = makeLabel(VelStylePanel1, "Label5", QStringLiteral("SQL Database Query"), {56, 46},
                       QColor(0xC0, 0xC0, 0xC0));

    const QSize design(kClientSize.width(), kTitleHeight);
    Label3 = makeLabel(VelStylePanel1, "Label3", QStringLiteral("&DB: "), {769, 42}, Qt::white);
    Anchor::attach(Label3, Label3->geometry(), design, Anchor::Right);

    CBDatabase = new TDatabaseComboBox(VelStylePanel1);
    CBDatabase->setObjectName(QStringLiteral("CBDatabase"));
    Anchor::attach(CBDatabase, QRect(798, 38, 135, CBDatabase->sizeHint().height()), design,
                   Anchor::Right);
    Label3->setBuddy(CBDatabase);
}

void TFMMain::buildStatusRegion() {
    VelStylePanel2 = new TVelStylePanel(this);
    VelStylePanel2->setObjectName(QStringLiteral("VelStylePanel2"));
    VelStylePanel2->setFixedHeight(kStatusHeight);
    VelStylePanel2->setAutoFillBackground(true);

    const QString blanks(2, u' ');
    LBStatusbar1 = makeLabel(VelStylePanel2, "LBStatusbar1", blanks, {8, 4}, Qt::white);
    LBStatusbar1->setFixedWidth(305);
    LBStatusBar2 = makeLabel(VelStylePanel2, "LBStatusBar2", blanks, {332, 4}, Qt::white);
    LBStatusBar2->setFixedWidth(149);
    LBStatusBar3 = makeLabel(VelStylePanel2, "LBStatusBar3", blanks, {516, 4}, Qt::white);
    for (QLabel* l : {LBStatusbar1, LBStatusBar2, LBStatusBar3})
        l->setFont(designedFont());
}

void TFMMain::buildToolbars() {
    TBDock1 = new QWidget(PAMain);
    TBDock1->setObjectName(QStringLiteral("TBDock1"));
    TBDock1->setFixedHeight(26);
    auto* dock = new QHBoxLayout(TBDock1);
    dock->setContentsMargins(0, 0, 0, 0);
    dock->setSpacing(0);

    // The menu toolbar.
    TBToolbar2 = new QToolBar(QStringLiteral("Menü"), TBDock1);
    TBToolbar2->setObjectName(QStringLiteral("TBToolbar2"));
    TBToolbar2->setFixedWidth(184);
    TBToolbar2->setMovable(false);
    TBMenuBar = new QMenuBar(TBToolbar2);
    TBMenuBar->setObjectName(QStringLiteral("TBMenuBar"));
    TBMenuBar->setNativeMenuBar(false);
    TBToolbar2->addWidget(TBMenuBar);

    QMenu* datei = TBMenuBar->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("TBSubmenuDatei"));
    datei->addAction(ACConnect);
    datei->addSeparator();
    datei->addActions({ACNew, ACOpen, ACSave});
    datei->addSeparator();
    datei->addActions({ACQuery, ACExecute, ACCancel});
    datei->addSeparator();
    datei->addActions({ACImport, ACExport});
    datei->addSeparator();
    datei->addAction(Beenden1);

    QMenu* ansicht = TBMenuBar->addMenu(QStringLiteral("&Ansicht"));
    ansicht->setObjectName(QStringLiteral("TBSubmenuAnsicht"));
    ansicht->addAction(ACTables);
    ansicht->addSeparator();
    ansicht->addAction(AcInfo);

    QMenu* optionen = TBMenuBar->addMenu(QStringLiteral("&Optionen"));
    optionen->setObjectName(QStringLiteral("TBSubmenuOptionen"));
    optionen->addAction(ACSetup);

    QMenu* help = TBMenuBar->addMenu(QStringLiteral("&?"));
    help->setObjectName(QStringLiteral("TBSubmenuHilfe"));
    help->addAction(TBItemInfo);

    // The button toolbar.
    TBToolbar1 = new QToolBar(QStringLiteral("Standard"), TBDock1);
    TBToolbar1->setObjectName(QStringLiteral("TBToolbar1"));
    TBToolbar1->setMovable(false);
    TBToolbar1->setIconSize(QSize(16, 16));
    TBToolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    TBToolbar1->addActions({ACConnect, ACNew, ACOpen, ACSave});
    TBToolbar1->addSeparator();
    TBToolbar1->addActions({ACQuery, ACExecute, ACCancel});
    TBToolbar1->addSeparator();
    TBToolbar1->addActions({ACTables, AcInfo});
    TBToolbar1->addSeparator();
    TBToolbar1->addAction(ACPrint);
    TBToolbar1->addSeparator();
    TBToolbar1->addActions({ACImport, ACExport});

    dock->addWidget(TBToolbar2);
    dock->addWidget(TBToolbar1);
    dock->addStretch(1);
    toolbarskin::apply(TBDock1);
}

void TFMMain::buildMainArea() {
    PAMain = new QFrame(this);
    PAMain->setObjectName(QStringLiteral("PAMain"));
    PAMain->setFrameShape(QFrame::Box);
    PAMain->setLineWidth(1);
    PAMain->setAutoFillBackground(true);
    auto* mainLayout = new QVBoxLayout(PAMain);
    mainLayout->setContentsMargins(0, 0, 0, 0); // the frame draws the border
    mainLayout->setSpacing(0);

    buildToolbars();

    Panel1 = new QFrame(PAMain);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(1);
    Panel1->setAutoFillBackground(true);
    {
        QPalette pal = Panel1->palette();
        pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
        Panel1->setPalette(pal);
    }

    Splitter2 = new QSplitter(Qt::Horizontal, PAMain);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(6);
    Splitter2->setChildrenCollapsible(false);

    // Table panel.
    const int areaHeight = kClientSize.height() - kTitleHeight - kStatusHeight - 2 - 26 - 1;
    const QSize tablesDesign(kTablePanelWidth, areaHeight);
    PATables = new QWidget(Splitter2);
    PATables->setObjectName(QStringLiteral("PATables"));
    PATables->setMinimumWidth(60);
    LBTablesLabel = makeLabel(PATables, "Label1", QStringLiteral("&Tabellen:"), {4, 11}, Qt::black);
    CHBSystem = new QCheckBox(QStringLiteral("&Systemtabellen"), PATables);
    CHBSystem->setObjectName(QStringLiteral("CHBSystem"));
    CHBSystem->setFocusPolicy(Qt::ClickFocus);
    CHBSystem->setGeometry(60, 10, 97, 17);
    LBTables = new QListWidget(PATables);
    LBTables->setObjectName(QStringLiteral("LBTables"));
    LBTables->setToolTip(QStringLiteral("Verfügbare Tabellen in der Datenbank"));
    LBTables->setStatusTip(LBTables->toolTip());
    LBTables->setContextMenuPolicy(Qt::CustomContextMenu);
    Anchor::attach(LBTables, QRect(4, 32, 181, 545), tablesDesign, Anchor::Stretch);
    LBTablesLabel->setBuddy(LBTables);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(ACTables);

    // Query and result side.
    PCLeft = new QWidget(Splitter2);
    PCLeft->setObjectName(QStringLiteral("PCLeft"));
    PCLeft->setAutoFillBackground(true);
    auto* leftLayout = new QVBoxLayout(PCLeft);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    Splitter1 = new QSplitter(Qt::Vertical, PCLeft);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(4);
    Splitter1->setChildrenCollapsible(false);
    leftLayout->addWidget(Splitter1);

    const int leftWidth = kClientSize.width() - 2 - kTablePanelWidth - 6;
    const QSize queryDesign(leftWidth, 192);
    PAQuery = new QWidget(Splitter1);
    PAQuery->setObjectName(QStringLiteral("PAQuery"));
    PAQuery->setMinimumHeight(60);
    PageControl1 = new QTabWidget(PAQuery);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    MEQuery = new ScriptEditor;
    MEQuery->setObjectName(QStringLiteral("MEQuery"));
    MEQuery->setLineWrapMode(TextPane::WidgetWidth);
    MEQuery->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MEQuery->setTabChangesFocus(true);
    MEQuery->setToolTip(QStringLiteral("Abfrage oder Kommando eingeben"));
    MEQuery->setStatusTip(MEQuery->toolTip());
    PageControl1->addTab(MEQuery, QStringLiteral("Abfrage"));
    m_editorTools = new editor::EditorTools(MEQuery, this);
    addEditorMenuEntries();
    Anchor::attach(PageControl1, QRect(0, 8, 749, 184), queryDesign, Anchor::Stretch);

    LBMaxRec = makeLabel(PAQuery, "Label2", QStringLiteral("    &Max. Datensatzanzahl:  "),
                         {541, 7}, Qt::black);
    Anchor::attach(LBMaxRec, LBMaxRec->geometry(), queryDesign, Anchor::Right);
    EDMaxRec = new QSpinBox(PAQuery);
    EDMaxRec->setObjectName(QStringLiteral("EDMaxRec"));
    EDMaxRec->setRange(INT_MIN, INT_MAX); // no bounds
    EDMaxRec->setSingleStep(1);           // the page keys step by ten
    EDMaxRec->setValue(0);
    Anchor::attach(EDMaxRec, QRect(680, 3, 65, 22), queryDesign, Anchor::Right);
    LBMaxRec->setBuddy(EDMaxRec);
    LBMaxRec->raise();
    EDMaxRec->raise();

    PCMain = new QTabWidget(Splitter1);
    PCMain->setObjectName(QStringLiteral("PCMain"));
    PCMain->setFocusPolicy(Qt::NoFocus);
    PCMain->tabBar()->setFocusPolicy(Qt::NoFocus);
    auto* resultsPage = new QWidget;
    resultsPage->setObjectName(QStringLiteral("TSResults"));
    auto* resultsLayout = new QVBoxLayout(resultsPage);
    resultsLayout->setContentsMargins(0, 0, 0, 0);
    SBResults = new QScrollArea(resultsPage);
    SBResults->setObjectName(QStringLiteral("SBResults"));
    SBResults->setFrameShape(QFrame::NoFrame);
    SBResults->setWidgetResizable(true);
    SBResults->setFocusPolicy(Qt::NoFocus);
    // Its range changes as results arrive, many times a second in a long
    // script; it paints all of itself, so the page beneath is not painted
    // again with it each time.
    SBResults->verticalScrollBar()->setAttribute(Qt::WA_OpaquePaintEvent);
    DBGridQuery = new TDBBGrid;
    DBGridQuery->setObjectName(QStringLiteral("DBGridQuery"));
    PAResults = new ResultStack(SBResults, DBGridQuery, [this](TADODataSet* dataSet, int number) {
        return makeResultGrid(dataSet, number);
    });
    PAResults->setObjectName(QStringLiteral("PAResults"));
    SBResults->setWidget(PAResults);
    resultsLayout->addWidget(SBResults);
    PAGrid = new QLabel(QStringLiteral("Keine Ergebnismenge vorhanden."), resultsPage);
    PAGrid->setObjectName(QStringLiteral("PAGrid"));
    PAGrid->setAlignment(Qt::AlignCenter);
    PAGrid->setAutoFillBackground(true);
    {
        QPalette pal = PAGrid->palette();
        pal.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
        PAGrid->setPalette(pal);
    }
    PAGrid->setGeometry(212, 156, 297, 29);
    PAGrid->raise();

    // A plain-text pane lays out only the lines in view: a script's tens of
    // thousands of messages would otherwise be shaped and laid out as they
    // come, on the thread that serves the window. Its lines still carry
    // formats (errors in red) and the user may edit them.
    REMessages = new QPlainTextEdit;
    REMessages->setObjectName(QStringLiteral("REMessages"));
    REMessages->setLineWrapMode(QPlainTextEdit::NoWrap);
    REMessages->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    REMessages->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Reached with Tab while its page shows (and with Alt+N), so that the
    // messages can be read and copied without a mouse; Tab leaves it again.
    REMessages->setFocusPolicy(Qt::StrongFocus);
    REMessages->setTabChangesFocus(true);

    const int before = probeShortcutId(PCMain->tabBar());
    PCMain->addTab(resultsPage, QStringLiteral("&Ergebnisse"));
    PCMain->addTab(REMessages, QStringLiteral("&Nachrichten"));
    dropMnemonicShortcuts(PCMain->tabBar(), before, probeShortcutId(PCMain->tabBar()));

    Splitter1->addWidget(PAQuery);
    Splitter1->addWidget(PCMain);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({192, areaHeight - 192 - 4});
    Splitter2->addWidget(PATables);
    Splitter2->addWidget(PCLeft);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({kTablePanelWidth, leftWidth});

    mainLayout->addWidget(TBDock1);
    mainLayout->addWidget(Panel1);
    mainLayout->addWidget(Splitter2, 1);
}

void TFMMain::applySkin() {
    // Dark frame regions until the style panels draw their gradients.
    for (QWidget* w :
         {static_cast<QWidget*>(VelStylePanel1), static_cast<QWidget*>(VelStylePanel2)}) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, QColor(0x2A, 0x2A, 0x2A));
        w->setPalette(pal);
    }
    for (QWidget* w : {static_cast<QWidget*>(PAMain), PCLeft}) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, Qt::white);
        w->setPalette(pal);
    }
    // Menu skin.
    const QString menuSheet = QStringLiteral(
        "QMenu { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #EFEDDE,"
        " stop:1 #FAF9F5); border: 1px solid #8A867A; }"
        "QMenu::item { padding: 3px 24px 3px 28px; color: palette(window-text);"
        " border: 1px solid transparent; }"
        "QMenu::item:selected { background: #C1D2EE; border: 1px solid palette(highlight); }"
        "QMenu::item:disabled { color: #8A867A; }"
        "QMenu::icon { padding-left: 4px; }"
        "QMenu::separator { height: 1px; background: #B8B5A8; margin: 2px 2px 2px 28px; }");
    // Each menu takes its sheet when it first opens (before it is sized), so
    // the window does not restyle menus it may never open before it shows.
    QList<QMenu*> menus = TBMenuBar->findChildren<QMenu*>();
    menus.append(PopupMenu1);
    for (QMenu* m : menus) {
        connect(m, &QMenu::aboutToShow, m, [m, menuSheet] {
            if (m->styleSheet().isEmpty())
                m->setStyleSheet(menuSheet);
        });
    }
}

void TFMMain::addEditorMenuEntries() {
    // Finding, replacing, lines and the history under "Ansicht".
    auto* ansicht = TBMenuBar->findChild<QMenu*>(QStringLiteral("TBSubmenuAnsicht"));
    ansicht->addSeparator();
    ansicht->addActions({m_editorTools->findAction(), m_editorTools->replaceAction(),
                         m_editorTools->gotoLineAction()});
    ansicht->addSeparator();
    ansicht->addAction(m_editorTools->historyAction());
}
