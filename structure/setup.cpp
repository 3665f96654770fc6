#include "structure/setup.h"

#include "structure/printerobject.h"
#include "structure/stringgrid.h"

#include "modal/modal.h"
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>

namespace {

constexpr int kDefaultFontSize = 10;

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                 bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A bold section title with a horizontal line running from it to the page's
// right edge.
void addSection(QWidget* page, const char* labelName, const char* lineName, const QString& text,
                int x, int y) {
    QLabel* label = addLabel(page, labelName, text, x, y, true);
    auto* line = new QFrame(page);
    line->setObjectName(QLatin1String(lineName));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    const int left = x + label->width() + 6;
    line->setGeometry(left, y + label->height() / 2 - 1, 273 - left, 2);
}

QWidget* addPage(QTabWidget* tabs, const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QLatin1String(name));
    tabs->addTab(page, caption);
    return page;
}

} // namespace

TFMsetup::TFMsetup(QWidget* parent, Controls controls) : QDialog(parent) {
    setObjectName(QStringLiteral("FMsetup"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(305, 265);
    setSizeGripEnabled(false);
    if (controls == Controls::Now)
        buildControls();
}

void TFMsetup::ensureBuilt() {
    if (!isBuilt())
        buildControls();
}

void TFMsetup::setVisible(bool visible) {
    // Made before the dialog shows, so they show along with it.
    if (visible)
        ensureBuilt();
    QDialog::setVisible(visible);
}

void TFMsetup::buildControls() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 289, 218);

    // Page "Drucken"
    QWidget* print = addPage(PageControl1, "TSDrucken", QStringLiteral("Drucken"));
    addSection(print, "Label1", "Bevel1", QStringLiteral("Drucker:"), 8, 8);
    CBDrucker = new QComboBox(print);
    CBDrucker->setObjectName(QStringLiteral("CBDrucker"));
    CBDrucker->setGeometry(12, 28, 169, 21);
    Button4 = new QPushButton(QStringLiteral("&Eigenschaften"), print);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setGeometry(184, 28, 89, 22);
    Button4->setAutoDefault(false);
    addSection(print, "Label2", "Bevel2", QStringLiteral("Optionen:"), 8, 64);
    addLabel(print, "Label3", QStringLiteral("Ausrichtung:"), 12, 88);
    RBPortrait = new QRadioButton(QStringLiteral("Hochformat"), print);
    RBPortrait->setObjectName(QStringLiteral("RBPortrait"));
    RBPortrait->move(92, 88);
    RBPortrait->adjustSize();
    RBLandscape = new QRadioButton(QStringLiteral("Querformat"), print);
    RBLandscape->setObjectName(QStringLiteral("RBLandscape"));
    RBLandscape->move(188, 88);
    RBLandscape->adjustSize();
    QLabel* sizeLabel = addLabel(print, "Label4", QStringLiteral("Schriftgröße:"), 12, 114);
    DRSize = new QSpinBox(print);
    DRSize->setObjectName(QStringLiteral("DRSize"));
    DRSize->setRange(4, 14);
    DRSize->setValue(kDefaultFontSize);
    DRSize->setGeometry(92, 112, 61, 21);
    sizeLabel->setBuddy(DRSize);
    CBDrucker->setAccessibleName(QStringLiteral("Drucker"));

    // Page "Tastaturkürzel": a heading row without texts, then F1 … F10.
    QWidget* keys = addPage(PageControl1, "TSShortCut", QStringLiteral("Tastaturkürzel"));
    STGShortCut = new StringGrid(2, 11, 1, 1, keys);
    STGShortCut->setObjectName(QStringLiteral("STGShortCut"));
    STGShortCut->setGeometry(0, 0, 281, 190);
    STGShortCut->setColumnWidth(0, 30);
    STGShortCut->setColumnWidth(1, 247);
    STGShortCut->setDefaultRowHeight(16);
    STGShortCut->setCellsEditable(true);
    STGShortCut->setAccessibleName(QStringLiteral("Tastaturkürzel"));

    // Page "ADO"
    QWidget* ado = addPage(PageControl1, "TSADO", QStringLiteral("ADO"));
    addSection(ado, "Label5", "Bevel3", QStringLiteral("ADO:"), 8, 8);
    QLabel* timeoutLabel =
        addLabel(ado, "Label6", QStringLiteral("Timeout für Suchanfrage (in Sek.)"), 16, 32);
    EDADOTimeout = new QLineEdit(QStringLiteral("0"), ado);
    EDADOTimeout->setObjectName(QStringLiteral("EDADOTimeout"));
    EDADOTimeout->setGeometry(216, 28, 57, 21);
    timeoutLabel->setBuddy(EDADOTimeout);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(62, 236, 75, 23);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(142, 236, 75, 23);
    Button2->setAutoDefault(false);
    Button3 = new QPushButton(QStringLiteral("&Hilfe"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(222, 236, 75, 23);
    Button3->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, &TFMsetup::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button4, &QPushButton::clicked, this, &TFMsetup::Button4Click);
    connect(CBDrucker, &QComboBox::activated, this, &TFMsetup::CBDruckerChange);
    connect(RBPortrait, &QRadioButton::clicked, this, &TFMsetup::RBPortraitClick);
    connect(RBLandscape, &QRadioButton::clicked, this, &TFMsetup::RBLandscapeClick);
}

void TFMsetup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormActivate();
}

void TFMsetup::fillPrinters() {
    CBDrucker->clear();
    CBDrucker->addItems(printerobject::printers());
    CBDrucker->setCurrentIndex(printerobject::printerIndex());
    showOrientation();
}

void TFMsetup::showOrientation() {
    const bool landscape = printerobject::orientation() == QPageLayout::Landscape;
    RBLandscape->setChecked(landscape);
    RBPortrait->setChecked(!landscape);
}

void TFMsetup::FormActivate() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    // Without any printer the list stays empty; the other pages work as ever.
    fillPrinters();
    for (int row = 1; row <= 10; ++row) {
        STGShortCut->setCells(0, row, QStringLiteral("F") + QString::number(row));
        STGShortCut->setCells(1, row, m_shortcutTexts ? (*m_shortcutTexts)[row - 1] : QString());
    }
    EDADOTimeout->setText(QString::number(QueryTimeout));
}

void TFMsetup::Button1Click() {
    printerobject::setPrinterIndex(CBDrucker->currentIndex());
    // The field would put back its last number when it loses the focus; the
    // size that counts is the one it shows now (4 for no number).
    DRSize->setValue(fontSizeValue());
    // A cell still being edited counts with the text typed so far.
    STGShortCut->commitEditing();
    if (m_shortcutTexts)
        for (int row = 1; row <= 10; ++row)
            (*m_shortcutTexts)[row - 1] = STGShortCut->cells(1, row);
    accept();
}

void TFMsetup::Button4Click() {
    modal::print(modal::PrintKind::PageSetup, &printerobject::printer(), this);
    fillPrinters();
}

void TFMsetup::CBDruckerChange(int index) {
    printerobject::setPrinterIndex(index);
    showOrientation();
}

void TFMsetup::RBPortraitClick() {
    printerobject::setOrientation(QPageLayout::Portrait);
}

void TFMsetup::RBLandscapeClick() {
    printerobject::setOrientation(QPageLayout::Landscape);
}

int TFMsetup::fontSizeValue() const {
    if (!DRSize)
        return kDefaultFontSize; // what the field starts with
    return qBound(4, settingToInt(DRSize->cleanText(), 4), 14);
}

bool ACSetupExecute(TFMsetup& dialog, TShortcutTexts& shortcutTexts,
                    const std::function<void(int)>& applyQueryTimeout) {
    dialog.ensureBuilt(); // the seam's handler may read the controls unshown
    dialog.setShortcutTexts(&shortcutTexts);
    const int result = modal::exec(&dialog);
    dialog.setShortcutTexts(nullptr);
    if (result != QDialog::Accepted)
        return false;
    PrintFontSize = dialog.fontSizeValue();
    QueryTimeout = settingToInt(dialog.EDADOTimeout->text());
    if (applyQueryTimeout)
        applyQueryTimeout(QueryTimeout);
    return true;
}
