#include "tests/app/apptestsupport.h"

#include "app/application.h"
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

WindowFixture::WindowFixture(const QString& server, const QString& user, const QString& password,
                             QSize size) {
    FirstActivation = false;
    wb = createWorkbench();
    w = wb.main;
    prompt = new FakePrompt;
    prompt->server = server;
    prompt->user = user;
    prompt->password = password;
    w->setConnectPrompt(std::unique_ptr<ConnectPrompt>(prompt));
    if (size.isValid()) {
        w->resize(size);
        w->show();
        if (!QTest::qWaitForWindowExposed(w))
            qWarning("the window was not exposed");
    }
}

WindowFixture::~WindowFixture() {
    // Hidden first: a shown window losing its focus while half destroyed
    // would call back into it.
    if (w)
        w->hide();
    destroyWorkbench(wb);
}

bool WindowFixture::connect() {
    FirstActivation = true;
    runGuarded([this] { w->FormActivate(); });
    return messages.requests.isEmpty();
}
