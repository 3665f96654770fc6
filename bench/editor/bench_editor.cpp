// Editor benchmark, on the offscreen platform, one run:
//   completion  the popup after a keystroke, with a catalog of 10,000 tables
//               of 20 columns and a script of 2,000 lines in the editor:
//               median and 95th percentile over words begun and over
//               columns after "alias." (goal: p95 at most 30 ms)
//   find        find next and replace all (1,000 matches) in a script of one
//               5 MB line and in one of 100,000 lines (goal: 100 ms each)
//   history     the history window over 100,000 runs: opening it, and
//               filtering by a word (goal: 100 ms each)
// Prints wall times against the goals with "met" or "not met".
//
//   bench-editor [--tables 10000] [--runs 100000] [--only completion|find|history]

#include "app/editor/completer.h"
#include "app/editor/findbar.h"
#include "app/editor/historywindow.h"
#include "app/editor/textsearch.h"
#include "app/scripteditor.h"
#include "settings/history.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace editor;

namespace {

double ms(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

void report(const char* what, double value, double goal) {
    std::printf("%-44s %9.2f ms   goal <= %.0f ms   %s\n", what, value, goal,
                value <= goal ? "met" : "not met");
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

std::shared_ptr<data::Catalog> bigCatalog(int tables) {
    auto c = std::make_shared<data::Catalog>();
    c->schemas = {QStringLiteral("dbo"), QStringLiteral("Archiv")};
    for (int i = 0; i < tables; ++i) {
        c->objects.append({i % 10 == 0 ? QStringLiteral("Archiv") : QStringLiteral("dbo"),
                           QStringLiteral("Tabelle%1").arg(i), data::CatalogObject::Table, i + 1});
        QStringList columns;
        for (int k = 0; k < 20; ++k)
            columns << QStringLiteral("Spalte%1_%2").arg(k).arg(i);
        c->columns.insert(i + 1, columns);
    }
    c->index();
    return c;
}

void benchCompletion(int tables) {
    QWidget window;
    window.resize(1000, 700);
    auto* editor = new ScriptEditor(&window);
    editor->setGeometry(0, 0, 1000, 700);
    Completer completer(editor);
    completer.setCatalog(bigCatalog(tables));
    QStringList lines;
    for (int i = 0; i < 2000; ++i)
        lines << QStringLiteral(
                     "SELECT t.Spalte1_%1, t.Spalte2_%1 FROM Tabelle%1 t WHERE t.Spalte3_%1 = %1")
                     .arg(i % tables);
    editor->setPlainText(lines.join(u'\n'));
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    editor->setFocus();
    std::vector<double> words, members;
    for (int round = 0; round < 60; ++round) {
        // A new line in the middle of the script: a word begun, a column.
        QTextCursor c(editor->document()->findBlockByNumber(1000 + round));
        editor->setTextCursor(c);
        QTest::keyClick(editor, Qt::Key_Return);
        editor->moveCursor(QTextCursor::Up);
        QTest::keyClicks(editor, QStringLiteral("SELECT * FROM "));
        for (const char* typed : {"T", "a", "b"})
            words.push_back(ms([&] {
                QTest::keyClicks(editor, QLatin1String(typed));
                QCoreApplication::processEvents();
            }));
        QTest::keyClicks(editor, QStringLiteral("elle%1 x WHERE x").arg(round));
        members.push_back(ms([&] {
            QTest::keyClick(editor, Qt::Key_Period);
            QCoreApplication::processEvents();
        }));
        if (!completer.isActive())
            std::printf("(the list did not open after \"x.\")\n");
        QTest::keyClick(editor, Qt::Key_Escape);
    }
    std::vector<double> all = words;
    all.insert(all.end(), members.begin(), members.end());
    std::printf("completion, %d tables x 20 columns, 2,000-line script:\n", tables);
    std::printf("  words    median %6.2f ms  p95 %6.2f ms\n", percentile(words, 0.5),
                percentile(words, 0.95));
    std::printf("  columns  median %6.2f ms  p95 %6.2f ms\n", percentile(members, 0.5),
                percentile(members, 0.95));
    std::printf("  all      median %6.2f ms\n", percentile(all, 0.5));
    report("  popup after a keystroke, p95", percentile(all, 0.95), 30);
}

void benchFind(const char* name, const QString& text) {
    QWidget window;
    window.resize(1000, 700);
    auto* editor = new ScriptEditor(&window);
    editor->setGeometry(0, 0, 1000, 700);
    auto* bar = new FindBar(editor);
    editor->setPlainText(text);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    bar->open(FindBar::Replace);
    bar->findEdit()->setText(QStringLiteral("Zielwort"));
    bar->replaceEdit()->setText(QStringLiteral("Ersatzwort"));
    QCoreApplication::processEvents();
    editor->moveCursor(QTextCursor::Start);
    std::vector<double> next;
    for (int i = 0; i < 20; ++i)
        next.push_back(ms([&] {
            bar->findNext(true);
            QCoreApplication::processEvents();
        }));
    std::printf("find and replace, %s:\n", name);
    {
        // The search alone, without the editor showing its result.
        const TextSearch search(bar->options());
        int at = 0;
        std::vector<double> alone;
        for (int i = 0; i < 20; ++i)
            alone.push_back(ms([&] {
                const TextSearch::Match m = search.find(text, at, true);
                at = m.first + m.second;
            }));
        std::printf("  (the search alone: median %.2f ms)\n", percentile(alone, 0.5));
    }
    report("  find next (median of 20)", percentile(next, 0.5), 100);
    report("  find next (slowest of 20)", percentile(next, 1.0), 100);
    int replaced = 0;
    const double all = ms([&] {
        replaced = bar->replaceAll();
        QCoreApplication::processEvents();
    });
    std::printf("  (%d replaced)\n", replaced);
    report("  replace all", all, 100);
}

void benchHistory(int runs) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        settings::HistoryStore store(path);
        QList<settings::HistoryEntry> entries;
        const QStringList tables{"Kunden", "Artikel", "Bestellungen", "Positionen", "Lieferanten"};
        for (int i = 0; i < runs; ++i) {
            settings::HistoryEntry e;
            e.statement =
                QStringLiteral("SELECT Nr, Name, Wert%1 FROM %2 WHERE Nr > %1 ORDER BY Name")
                    .arg(i)
                    .arg(tables[i % tables.size()]);
            if (i % 997 == 0)
                e.statement += QStringLiteral(" -- Monatsabschluss");
            e.server = QStringLiteral("srv");
            e.database = QStringLiteral("Musterfirma");
            e.started = QDateTime::currentDateTime();
            e.rows = i % 100;
            entries << e;
        }
        store.addMany(entries);
    }
    HistoryWindow window;
    const double open = ms([&] {
        window.open(path);
        (void)QTest::qWaitForWindowExposed(&window);
        QCoreApplication::processEvents();
    });
    std::printf("history window, %d runs:\n", runs);
    report("  open", open, 100);
    const double rare = ms([&] {
        window.searchEdit()->setText(QStringLiteral("monatsab"));
        QCoreApplication::processEvents();
    });
    std::printf("  (%d runs found)\n", window.model()->rowCount());
    report("  filter by a rare word", rare, 100);
    const double common = ms([&] {
        window.searchEdit()->setText(QStringLiteral("kunden"));
        QCoreApplication::processEvents();
    });
    report("  filter by a common word", common, 100);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int tables = 10000, runs = 100000;
    QString only; // completion, find or history; empty: all three
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--tables"))
            tables = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only"))
            only = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (only.isEmpty() || only == u"completion")
        benchCompletion(tables);
    if (!only.isEmpty() && only != u"find") {
        if (only == u"history")
            benchHistory(runs);
        return 0;
    }

    // 1,000 matches spread over each script.
    QString oneLine;
    const qsizetype target = 5'000'000;
    const qsizetype stretch = target / 1000;
    for (int i = 0; i < 1000; ++i) {
        QString piece = QStringLiteral("insert into [Messwerte] values (%1, 'Zielwort'); ").arg(i);
        while (piece.size() < stretch)
            piece += QStringLiteral("insert into [Messwerte] values (1, 'abc'); ");
        oneLine += piece;
    }
    benchFind("one 5 MB line", oneLine);
    QStringList lines;
    for (int i = 0; i < 100000; ++i)
        lines << (i % 100 == 0
                      ? QStringLiteral("select 'Zielwort', %1 from Kunden").arg(i)
                      : QStringLiteral("select Nr, Name from Kunden where Nr = %1").arg(i));
    benchFind("100,000 lines", lines.join(u'\n'));

    if (only.isEmpty())
        benchHistory(runs);
    return 0;
}
