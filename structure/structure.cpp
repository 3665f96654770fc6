#include "structure/structure.h"

#include "structure/printstructure.h"
#include "structure/stringgrid.h"
#include "structure/waitcursor.h"

#include "data/adodataset.h"
#include "data/fieldtype.h"
#include "modal/modal.h"
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <memory>

namespace {

// The window as designed; anchored controls keep their distance to the
// edges they are anchored to when it is resized.
constexpr int kDesignWidth = 412;
constexpr int kDesignHeight = 476;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

// A label whose right edge stays at x: its text grows to the left.
QLabel* makeRightLabel(QWidget* parent, const char* name, int right, int y) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setGeometry(right - 60, y, 60, 14);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int x, int width) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, 412, width, 22);
    button->setAutoDefault(false);
    return button;
}

// Closes the dataset however the structure action ends.
struct CloseOnExit {
    TADODataSet* dataSet;
    ~CloseOnExit() {
        if (dataSet)
            dataSet->Close();
    }
};

} // namespace

QString FieldTypeNames(int code) {
    // The data layer's own names cover exactly its enumeration and answer
    // "ftUnknown" for anything outside it.
    return fieldTypeEnumName(static_cast<TFieldType>(code));
}

QString structureQuery(const QString& tableName) {
    QString name = tableName;
    name.replace(QLatin1Char(']'), QLatin1String("]]"));
    return QStringLiteral("SELECT * from [") + name + QLatin1Char(']');
}

TFMStruktur::TFMStruktur(TADODataSet* stru, TADODataSet* query, std::function<void()> runSetup,
                         QWidget* owner)
    : QDialog(owner), m_stru(stru), m_query(query), m_runSetup(std::move(runSetup)) {
    setObjectName(QStringLiteral("FMStruktur"));
    setWindowTitle(QStringLiteral("Tabellenstruktur"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    resize(kDesignWidth, kDesignHeight);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    PageControl1->addTab(page, QStringLiteral("Felder"));
    LBStru = makeLabel(page, "LBStru", QString(), 8, 4);
    LBStru->setMinimumWidth(300);

    STGStruktur = new StringGrid(4, 6, 1, 1, page);
    STGStruktur->setObjectName(QStringLiteral("STGStruktur"));
    STGStruktur->setGeometry(8, 20, 365, 285);
    const int widths[] = {30, 143, 121, 68};
    for (int c = 0; c < 4; ++c)
        STGStruktur->setColumnWidth(c, widths[c]);
    STGStruktur->setDefaultRowHeight(18);
    STGStruktur->setSelectionBehavior(QAbstractItemView::SelectRows);
    STGStruktur->setSelectionMode(QAbstractItemView::SingleSelection);
    STGStruktur->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    STGStruktur->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    STGStruktur->setAccessibleName(QStringLiteral("Felder"));

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    makeLabel(GroupBox1, "Label1", QStringLiteral("Satzgröße:"), 12, 12);
    makeLabel(GroupBox1, "Label2", QStringLiteral("Satzanzahl:"), 12, 28);
    LBSatzgr = makeRightLabel(GroupBox1, "LBSatzgr", 119, 12);
    LBSatzanz = makeRightLabel(GroupBox1, "LBSatzanz", 119, 28);

    BTPrintsetup =
        makeButton(this, "BTPrintsetup", QStringLiteral("Druckereinstellungen..."), 104, 133);
    BTPrint = makeButton(this, "BTPrint", QStringLiteral("Drucken"), 242, 75);
    BTok = makeButton(this, "BTok", QStringLiteral("OK"), 322, 75);
    BTok->setDefault(true);

    placeControls();
    connect(BTok, &QPushButton::clicked, this, &QDialog::accept);
    connect(BTPrint, &QPushButton::clicked, this, &TFMStruktur::BTPrintClick);
    connect(BTPrintsetup, &QPushButton::clicked, this, &TFMStruktur::BTPrintsetupClick);

    FormCreate();
}

void TFMStruktur::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    placeControls();
}

void TFMStruktur::placeControls() {
    const int dw = width() - kDesignWidth;
    const int dh = height() - kDesignHeight;
    PageControl1->setGeometry(8, 8, 389 + dw, 341 + dh);
    GroupBox1->setGeometry(8, 354 + dh, 389 + dw, 49);
    BTPrintsetup->move(104 + dw, 412 + dh);
    BTPrint->move(242 + dw, 412 + dh);
    BTok->move(322 + dw, 412 + dh);
}

void TFMStruktur::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_centred)
        return;
    m_centred = true;
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFMStruktur::writeHeadings() {
    AddEintrag(STGStruktur, m_rowCounter, QStringLiteral("Nr"), QStringLiteral("Feldname"),
               QStringLiteral("Feldtyp"), QStringLiteral("Länge"));
}

void TFMStruktur::FormCreate() {
    m_rowCounter = 0;
    writeHeadings();
    if (m_stru && m_stru->Active())
        ReadFieldsStru();
    else if (m_query && m_query->Active())
        ReadFields();
}

void TFMStruktur::ReadFieldsStru() {
    readFieldsFrom(m_stru);
}

void TFMStruktur::ReadFields() {
    readFieldsFrom(m_query);
}

void TFMStruktur::readFieldsFrom(TADODataSet* dataSet) {
    m_rowCounter = 0;
    writeHeadings();
    if (!dataSet || !dataSet->Active())
        return;
    const QList<TFieldDef> defs = dataSet->FieldDefs();
    STGStruktur->setRows(int(defs.size()) + 1);
    for (int i = 0; i < defs.size(); ++i) {
        const TFieldDef& def = defs.at(i);
        // A CLR type has no field type of its own: it is named as the server names it.
        QString type = def.ClrType ? dataSet->ServerTypeName(i) : QString();
        if (type.isEmpty())
            type = FieldTypeNames(def.DataType);
        AddEintrag(STGStruktur, m_rowCounter, QString::number(def.FieldNo), def.Name, type,
                   QString::number(def.Size));
    }
}

void TFMStruktur::AddEintrag(StringGrid* grid, int& row, const QString& nr, const QString& name,
                             const QString& type, const QString& size) {
    grid->setCells(0, row, nr);
    grid->setCells(1, row, name);
    grid->setCells(2, row, type);
    grid->setCells(3, row, size);
    ++row;
}

void TFMStruktur::BTPrintClick() {
    QList<QStringList> rows;
    for (int r = 1; r < STGStruktur->rowCount(); ++r)
        rows.append({STGStruktur->cells(0, r), STGStruktur->cells(1, r), STGStruktur->cells(2, r),
                     STGStruktur->cells(3, r)});
    PrintStructure(rows);
}

void TFMStruktur::BTPrintsetupClick() {
    if (m_runSetup)
        m_runSetup();
}

void ACTablesExecute(const StructureContext& context) {
    CloseOnExit closeStru{context.ADODSStru};
    const bool tablePath = context.tableListFocused && context.selectedTable.has_value();
    if (tablePath && context.ADODSStru) {
        WaitCursor hourglass;
        context.ADODSStru->Close();
        context.ADODSStru->setCommandText(structureQuery(*context.selectedTable));
        context.ADODSStru->Open();
    }

    auto window = std::make_unique<TFMStruktur>(context.ADODSStru, context.ADOdsQuery,
                                                context.runSetup, context.owner);
    TADODataSet* sizeSource = tablePath ? context.ADODSStru : context.ADOdsQuery;
    // The record size in full: cut to 16 bits, a table of more than 4094
    // fields would show a small, wrong size.
    window->LBSatzgr->setText(QString::number(sizeSource ? sizeSource->RecordSize() : 0));
    window->LBStru->setText(tablePath
                                ? QStringLiteral("Tabellenstruktur: ") + *context.selectedTable
                                : QStringLiteral("Tabellenstruktur"));
    modal::exec(window.get());
}
