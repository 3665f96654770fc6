// The result set leaving the window: the cell viewer opened from the result
// grid and "Exportieren...".

#include "uMain.h"

#include "DBBGrid.h"
#include "VelADObatchmove.h"
#include "exportcommand.h"
#include "modal.h"
#include "scriptfile.h"
#include "uBlob.h"
#include "uDM.h"
#include "waitcursor.h"
#include "windows.h"

#include <QLabel>

void TFMMain::DBGridQueryCellClick(int column) {
    // The viewer is created at start-up; before that (or after the end) a
    // click has nothing to open.
    auto* viewer = qobject_cast<TFMBlob*>(FMBlob);
    if (!viewer || !m_dm)
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
                      [this](const QString& status) { LBStatusBar3->setText(status); });
}
