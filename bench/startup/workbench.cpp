// The workbench started as the program starts it (title, main window, data
// module, the hidden windows, placement), up to its first paint.

#include "application.h"
#include "firstpaint.h"
#include "uMain.h"
#include "windows.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    Workbench workbench = createWorkbench();
    FirstPaintProbe probe(workbench.main);
    placeMainWindow(workbench.main);
    workbench.main->show();
    return app.exec();
}
