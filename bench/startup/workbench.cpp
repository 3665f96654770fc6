// The workbench started as the program starts it (title, fonts, main window,
// data module, the hidden windows, placement, show), up to its first paint.

#include "application.h"
#include "firstpaint.h"
#include "uMain.h"
#include "windows.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    std::unique_ptr<FirstPaintProbe> probe;
    startWorkbench([&probe](TFMMain* main) { probe = std::make_unique<FirstPaintProbe>(main); });
    return app.exec();
}
