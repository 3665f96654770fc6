#pragma once
// The table structure window: the fields of the table selected in the main
// window's table list, or of the current result set, with their numbers,
// names, type names and sizes, and the record size below. From it the list
// is printed and the settings dialog is opened.

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;
class StringGrid;
class TADODataSet;

// Name of a field type code as the list shows it ("ftString" for 1, …,
// "ftTimeStamp" for 36, "ftFMTBcd" for 37); "ftUnknown" for a code outside
// the field type enumeration.
QString FieldTypeNames(int code);

// The statement that reads a table's field list: the name in brackets, with
// every "]" in it doubled so that the name always stays one identifier.
QString structureQuery(const QString& tableName);

class TFMStruktur : public QDialog {
    Q_OBJECT
public:
    // Fills the grid from stru when it is open, else from query when that is
    // open. runSetup runs the main window's settings action.
    TFMStruktur(TADODataSet* stru, TADODataSet* query, std::function<void()> runSetup,
                QWidget* owner = nullptr);

    void FormCreate();
    void ReadFieldsStru();
    void ReadFields();
    void BTPrintClick();
    void BTPrintsetupClick();

    // Writes four texts into columns 0 to 3 of row `row` and advances it.
    static void AddEintrag(StringGrid* grid, int& row, const QString& nr, const QString& name,
                           const QString& type, const QString& size);

    QTabWidget* PageControl1;
    QLabel* LBStru;
    StringGrid* STGStruktur;
    QGroupBox* GroupBox1;
    QLabel* LBSatzgr;
    QLabel* LBSatzanz;
    QPushButton* BTPrintsetup;
    QPushButton* BTPrint;
    QPushButton* BTok;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void placeControls();
    void readFieldsFrom(TADODataSet* dataSet);
    void writeHeadings();

    TADODataSet* m_stru;
    TADODataSet* m_query;
    std::function<void()> m_runSetup;
    int m_rowCounter = 0;
    bool m_centred = false;
};

// What the structure action needs of the main window at the moment it runs.
struct StructureContext {
    QWidget* owner = nullptr;
    bool tableListFocused = false;
    std::optional<QString> selectedTable; // the table list's selected item, if any
    TADODataSet* ADODSStru = nullptr;     // one-row reader of a table's fields
    TADODataSet* ADOdsQuery = nullptr;    // the current result set, only read here
    std::function<void()> runSetup;       // the settings action, as the menu runs it
};

// Opens the structure window for the table (when the table list had the
// focus last and has a selected item) or for the result set, modally; closes
// ADODSStru afterwards. An error opening the table propagates and no window
// is shown.
void ACTablesExecute(const StructureContext& context);
