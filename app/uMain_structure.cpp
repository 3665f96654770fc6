// The table structure command: the structure window of the selected table or
// of the current result.

#include "app/uMain.h"

#include "app/uDM.h"
#include "app/windows.h"
#include "structure/structure.h"

#include <QListWidget>

void TFMMain::ACTablesExecute() {
    StructureContext context;
    context.owner = this;
    context.tableListFocused = TableListFocused;
    if (QListWidgetItem* item = LBTables->currentItem(); item && item->isSelected())
        context.selectedTable = item->text();
    context.ADODSStru = dm().ADODSStru;
    context.ADOdsQuery = currentResult();
    context.runSetup = [this] { ACSetupExecute(); };
    ::ACTablesExecute(context);
}
