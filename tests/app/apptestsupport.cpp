#include "tests/app/apptestsupport.h"

#include "app/uMain.h"
#include "settings/registry.h"

#include <QTest>

TempSettings::TempSettings() {
    settings::setConfigDirectory(m_dir.path());
}

TempSettings::~TempSettings() {
    settings::setConfigDirectory({});
}

bool waitForStatement(TFMMain* window, int timeoutMs) {
    return QTest::qWaitFor([window] { return !window || !window->statementRunning(); }, timeoutMs);
}
