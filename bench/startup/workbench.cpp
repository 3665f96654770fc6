// The workbench started as the program starts it (title, fonts, main window,
// data module, the hidden windows, placement, show), up to its first paint.

#include "app/application.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "bench/startup/firstpaint.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    std::unique_ptr<FirstPaintProbe> probe;
    startWorkbench([&probe](TFMMain* main) { probe = std::make_unique<FirstPaintProbe>(main); });
    return app.exec();
}
