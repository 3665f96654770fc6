#include "app/windows.h"

#include "app/application.h"
#include "app/connectprompt.h"
#include "app/grid/uBlob.h"
#include "app/logic/utools.h"
#include "app/uDM.h"
#include "app/uFMAbout.h"
#include "app/uMain.h"
#include "controls/styledcontrols.h"
#include "data/sqlserverprovider.h"
#include "settings/placement.h"
#include "structure/setup.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>

QWidget* FMBlob = nullptr;
QWidget* FMsetup = nullptr;
QWidget* FMAbout = nullptr;

StartupWindowFactories defaultStartupWindows() {
    StartupWindowFactories f;
    f.blob = [](TFMMain* m) {
        // Its controls show the result set of the data module created before it.
        return new TFMBlob(m->dataModule() ? m->dataModule()->DSQuery : nullptr, m,
                           TFMBlob::Controls::WhenShown);
    };
    f.setup = [](TFMMain* m) {
        auto* dialog = new TFMsetup(m, TFMsetup::Controls::WhenShown);
        dialog->setObjectName(QStringLiteral("FMsetup"));
        return dialog;
    };
    f.about = [](TFMMain* m) {
        return new TFMAbout(m, CpuClockMHz.load(), WindowEffectsAvailable(),
                            TFMAbout::Controls::WhenShown);
    };
    return f;
}

Workbench createWorkbench(const StartupWindowFactories& factories) {
    Workbench w;
    w.main = new TFMMain;
    FMMain = w.main;
    w.main->setConnectPrompt(createConnectionComponent(w.main));
    w.dm = new TDM;
    DM = w.dm;
    // References of the window into the data module are resolved now.
    w.main->attachDataModule(w.dm);
    w.blob = FMBlob = factories.blob(w.main);
    w.setup = FMsetup = factories.setup(w.main);
    w.about = FMAbout = factories.about(w.main);
    return w;
}

void destroyWorkbench(Workbench& w) {
    delete w.main; // owns the three windows
    delete w.dm;
    FMBlob = FMsetup = FMAbout = nullptr;
    w = Workbench{};
}

void placeMainWindow(TFMMain* window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    runGuarded([window] { settings::restorePlacement(window); });
}

Workbench startWorkbench(const std::function<void(TFMMain*)>& beforeShow) {
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    // The fonts the windows were designed with, before the first window.
    initStyledControls();
    Workbench workbench = createWorkbench();
    placeMainWindow(workbench.main);
    if (beforeShow)
        beforeShow(workbench.main);
    workbench.main->show();
    // Ask for the focus, so the first activation (and with it the connection
    // dialog) also comes where no window manager hands it out.
    workbench.main->activateWindow();
    return workbench;
}

int runApplication(int argc, char** argv) {
    TApplication app(argc, argv);
    installGermanTranslations(app);
    // The SQL Server provider; the export's desktop-file provider registers
    // itself when the first batch move starts.
    data::registerSqlServerProvider();
    Workbench workbench = startWorkbench();
    const int rc = app.exec();
    destroyWorkbench(workbench);
    waitForCpuClock();
    return rc;
}
