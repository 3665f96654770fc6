// The result set leaving the window: the cell viewer opened from the result
// grid and "Exportieren...".

#include "app/uMain.h"

#include "app/grid/DBBGrid.h"
#include "app/grid/uBlob.h"
#include "app/logic/scriptfile.h"
#include "app/uDM.h"
#include "app/windows.h"
#include "export/VelADObatchmove.h"
#include "export/exportcommand.h"
#include "modal/modal.h"
#include "structure/waitcursor.h"

#include <QLabel>

void TFMMain::DBGridQueryCellClick(int column) {
    // The viewer is created at start-up; before that (or after the end) a
    // click has nothing to open.
    auto* viewer = qobject_cast<TFMBlob*>(FMBlob);
    if (!viewer || !m_dm || m_running) // the viewer's edits would need the connection
        return;
    ::DBGridQueryCellClick(*viewer, m_dm->ADOdsQuery, column);
}

void TFMMain::ACExportExecute() {
    modal::FileRequest request;
    request.parent = this;
    request.save = true;
    request.caption = QStringLiteral("Tabelle exportieren");
    request.filter = QStringLiteral("dBASE (*.dbf);;Text (*.txt);;Alle Dateien (*.*)");
    request.defaultSuffix = QStringLiteral("dbf");
    // The batch move replaces an existing file; the dialog does not ask.
    request.confirmOverwrite = false;
    const QString chosen =
        withDefaultExtension(modal::fileName(request), true, request.defaultSuffix);
    if (chosen.isEmpty())
        return;
    WaitCursor hourglass;
    exportQueryToFile(*VelADObatchmove1, *dm().ADOdsQuery, chosen,
                      // The hint line, sized to its text, shows the count.
                      [this](const QString& status) { ApplicationEvents1Hint(status); });
}
