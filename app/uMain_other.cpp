// Commands whose windows live in other parts of the program: the table
// structure and the settings dialog.

#include "uMain.h"

#include "setup.h"
#include "structure.h"
#include "uDM.h"
#include "windows.h"

#include <QListWidget>

void TFMMain::ACTablesExecute() {
    StructureContext context;
    context.owner = this;
    context.tableListFocused = TableListFocused;
    if (QListWidgetItem* item = LBTables->currentItem(); item && item->isSelected())
        context.selectedTable = item->text();
    context.ADODSStru = dm().ADODSStru;
    context.ADOdsQuery = dm().ADOdsQuery;
    context.runSetup = [this] { ACSetupExecute(); };
    ::ACTablesExecute(context);
}

void TFMMain::ACSetupExecute() {
    auto* dialog = qobject_cast<TFMsetup*>(FMsetup);
    if (!dialog)
        return;
    ::ACSetupExecute(*dialog, ShortcutTexts,
                     [this](int timeout) { dm().ADOdsQuery->setCommandTimeout(timeout); });
}
