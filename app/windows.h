#pragma once
// The windows created at start-up besides the main window, and the order in
// which the entry point creates them.

#include <QWidget>
#include <functional>

class TFMMain;
class TDM;

// Global window variables (created hidden at start-up, alive until the end).
extern QWidget* FMBlob;
extern QWidget* FMsetup;
extern QWidget* FMAbout;

// Factories of the three hidden windows; each gets the main window.
struct StartupWindowFactories {
    std::function<QWidget*(TFMMain*)> blob;
    std::function<QWidget*(TFMMain*)> setup;
    std::function<QWidget*(TFMMain*)> about;
};
StartupWindowFactories defaultStartupWindows();

// The windows and the data module of one run.
struct Workbench {
    TFMMain* main = nullptr;
    TDM* dm = nullptr;
    QWidget* blob = nullptr;
    QWidget* setup = nullptr;
    QWidget* about = nullptr;
};

// Creates the main window, the data module and the three hidden windows in
// that order and fills the global variables. The main window is not shown.
Workbench createWorkbench(const StartupWindowFactories& factories = defaultStartupWindows());
void destroyWorkbench(Workbench& workbench);

// Places the main window: centred on the screen, then at the stored
// position when one applies.
void placeMainWindow(TFMMain* window);

// The start-up, as the program runs it: title, fonts, windows, placement,
// then the main window shown and asked for the focus. beforeShow runs just
// before the main window is shown.
Workbench startWorkbench(const std::function<void(TFMMain*)>& beforeShow = {});

// The program: title, windows, message loop. Returns the exit code.
int runApplication(int argc, char** argv);
