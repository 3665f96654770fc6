#pragma once
// Shared by the benchmarks that drive the real main window on the offscreen platform: their
// "--key value" options, the window shown and logged in, its message boxes reported as the
// benchmark's failure, and the check that the window runs the next statement.

#include "app/grid/DBBGrid.h"
#include "app/uMain.h"
#include "bench/lib/eventwait.h"
#include "tests/app/apptestsupport.h"

#include <QAbstractItemModel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTest>
#include <cstdio>
#include <initializer_list>
#include <utility>

namespace benchwindow {

// Reads "--key value" pairs into the strings of their keys; a key given more than once keeps
// its last value, except `listKey`, whose values all go to *list. False at an unknown key.
inline bool readOptions(const QStringList& args,
                        std::initializer_list<std::pair<const char*, QString*>> options,
                        const char* listKey = nullptr, QStringList* list = nullptr) {
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        bool known = false;
        if (listKey && args[i] == QLatin1String(listKey)) {
            *list << args[i + 1];
            known = true;
        }
        for (const auto& [key, value] : options)
            if (args[i] == QLatin1String(key)) {
                *value = args[i + 1];
                known = true;
            }
        if (!known)
            return false;
    }
    return true;
}

// Whether the window showed a message box (an error); its texts go to stderr after `bench`.
inline bool failed(const WindowFixture& fx, const char* bench) {
    if (fx.messages.requests.isEmpty())
        return false;
    std::fprintf(stderr, "%s: %s\n", bench, qPrintable(fx.messages.texts().join(u'|')));
    return true;
}

// Shows the window and logs in; false (said on stderr) when either fails.
inline bool showAndConnect(WindowFixture& fx, const char* bench) {
    if (!QTest::qWaitForWindowExposed(fx.w)) {
        std::fprintf(stderr, "%s: the window was not shown\n", bench);
        return false;
    }
    return fx.connect() && !failed(fx, bench);
}

// Runs "select 1 as x" with F5: whether it ran and the grid holds its one row.
inline bool nextStatementRuns(WindowFixture& fx, const char* bench) {
    TFMMain* w = fx.w;
    w->MEQuery->setPlainText(QStringLiteral("select 1 as x"));
    w->ACQuery->trigger();
    return benchwait::waitFor([&] { return !w->statementRunning(); }, 60000) &&
           !failed(fx, bench) && w->DBGridQuery->model() &&
           w->DBGridQuery->model()->rowCount() == 1;
}

} // namespace benchwindow
