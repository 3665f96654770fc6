// Big-text benchmark, on the offscreen platform:
//   script  opening a script that is one long line (5 MB by default) in the
//           query editor, as "Öffnen..." does (file read, text set, first
//           paint), and typing one character at its end; the peer is the
//           same file in a plain QPlainTextEdit of the same size without
//           colouring (what Qt's text layout costs at the least); --old adds
//           the editor with the line coloured by character formats.
//   viewer  showing a value of 20,000,000 characters in the cell viewer's
//           text control (text set, first paint) and scrolling to its end;
//           the peer is a plain QPlainTextEdit of the same size.
// Prints wall and processor time (the two differ on a busy machine), the
// goal (at most 1 s to show, to type and to scroll the viewer to the end),
// whether the wall time meets it, and the ratios against the peers.
// --shots DIR saves what the editor and the viewer show after each step.
//
//   bench-bigtext [--script-bytes 5000000] [--value-chars 20000000] [--old] [--shots DIR]

#include "app/grid/uBlob.h"
#include "app/logic/scriptfile.h"
#include "app/scripteditor.h"
#include "app/sqlhighlighter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

namespace {

double cpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
    double wall = 0, cpu = 0;
};

Times measure(const std::function<void()>& work) {
    QElapsedTimer wall;
    const double cpu = cpuMs();
    wall.start();
    work();
    return {double(wall.nsecsElapsed()) / 1e6, cpuMs() - cpu};
}

// An insert of many rows on one line: numbers, strings, bracketed names and
// keywords, as a generated script has them.
QString oneLineScript(qsizetype chars) {
    QString s = QStringLiteral("insert into [Messwerte] (Nr, Name, Wert) values ");
    for (int i = 0; s.size() < chars; ++i)
        s += QStringLiteral("(%1, N'Messpunkt %1', %1.25), ").arg(i);
    s.truncate(chars);
    return s;
}

// Words of varying length without a line break, as a long text cell holds them.
QString oneLineValue(qsizetype chars) {
    static const char* words[] = {"Lorem",      "ipsum", "dolor", "sit", "amet,",   "consectetur",
                                  "adipiscing", "elit,", "sed",   "do",  "eiusmod", "tempor"};
    QString s;
    s.reserve(chars + 16);
    for (int i = 0; s.size() < chars; ++i) {
        s += QLatin1String(words[i % 12]);
        s += u' ';
    }
    s.truncate(chars);
    return s;
}

void report(const char* what, const Times& t, bool goal) {
    std::printf("  %-44s %8.0f ms wall %8.0f ms cpu", what, t.wall, t.cpu);
    if (goal)
        std::printf("   goal <= 1000 ms: %s", t.wall <= 1000 ? "met" : "NOT met");
    std::printf("\n");
}

// Sets the text and paints once; then one keystroke's worth of editing.
// The query editor and the plain peer share these calls.
// With --shots, what the editor shows after each step is saved there as PNG.
QString shotDir;

void shot(QWidget& widget, const QString& name) {
    if (!shotDir.isEmpty())
        widget.grab().save(QDir(shotDir).filePath(name + QStringLiteral(".png")));
}

struct EditTimes {
    Times shown, typed;
};

template <typename Editor>
EditTimes openAndType(Editor& editor, const std::function<QString()>& load, const char* name,
                      bool goal) {
    editor.resize(745, 160);
    editor.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor.show();
    QApplication::processEvents();
    const Times shown = measure([&] {
        editor.setPlainText(load());
        editor.repaint();
    });
    shot(editor, QString::fromLatin1(name).section(u':', 0, 0) + QStringLiteral("-open"));
    const Times typed = measure([&] {
        editor.moveCursor(QTextCursor::End);
        editor.insertPlainText(QStringLiteral("x"));
        editor.repaint();
    });
    shot(editor, QString::fromLatin1(name).section(u':', 0, 0) + QStringLiteral("-typed"));
    const Times end = measure([&] {
        editor.verticalScrollBar()->setValue(editor.verticalScrollBar()->maximum());
        editor.repaint();
    });
    std::printf(" %s\n", name);
    report("open and show", shown, goal);
    report("type one character at the end", typed, goal);
    report("scroll to the end", end, false);
    editor.hide();
    return {shown, typed};
}

void ratio(const char* what, const Times& ours, const Times& peer) {
    std::printf("  %-44s %8.2f x wall %8.2f x cpu\n", what, ours.wall / std::max(1.0, peer.wall),
                ours.cpu / std::max(1.0, peer.cpu));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qsizetype scriptBytes = 5'000'000, valueChars = 20'000'000;
    bool old = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--script-bytes") && i + 1 < argc)
            scriptBytes = std::atoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--value-chars") && i + 1 < argc)
            valueChars = std::atoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--old"))
            old = true;
        else if (!std::strcmp(argv[i], "--shots") && i + 1 < argc)
            shotDir = QString::fromLocal8Bit(argv[++i]);
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("oneline.sql"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(oneLineScript(scriptBytes).toLatin1()) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const auto load = [&] { return readScriptFile(file); };

    {
        // Fonts and glyph caches are loaded once, before anything is measured.
        ScriptEditor warm;
        warm.setPlainText(oneLineScript(20000));
        warm.show();
        warm.repaint();
    }
    std::printf("script of one line, %lld bytes\n", static_cast<long long>(scriptBytes));
    EditTimes ours, plain;
    {
        ScriptEditor editor;
        editor.setLineWrapMode(TextPane::WidgetWidth);
        ours = openAndType(editor, load, "query editor", true);
    }
    {
        QPlainTextEdit peer;
        peer.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        plain = openAndType(peer, load, "peer: plain QPlainTextEdit, no colouring", false);
    }
    std::printf(" query editor against the peer\n");
    ratio("open and show", ours.shown, plain.shown);
    ratio("type one character at the end", ours.typed, plain.typed);
    if (old) {
        QPlainTextEdit formatted;
        formatted.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        new SqlHighlighter(formatted.document());
        openAndType(formatted, load, "coloured by character formats", false);
    }

    std::printf("cell viewer, value of %lld characters on one line\n",
                static_cast<long long>(valueChars));
    const QString value = oneLineValue(valueChars);
    Times viewerShown;
    {
        TFMBlob viewer(nullptr);
        viewer.show();
        viewer.DBMemo->show();
        QApplication::processEvents();
        TDBMemo& memo = *viewer.DBMemo;
        const Times shown = measure([&] {
            memo.showText(value);
            memo.repaint();
        });
        viewerShown = shown;
        shot(memo, QStringLiteral("viewer-open"));
        const Times end = measure([&] {
            memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
            memo.horizontalScrollBar()->setValue(memo.horizontalScrollBar()->maximum());
            memo.repaint();
        });
        shot(memo, QStringLiteral("viewer-end"));
        std::printf(" cell viewer\n");
        report("show", shown, true);
        report("scroll to the end", end, true);
    }
    {
        QPlainTextEdit peer;
        peer.resize(357, 269);
        peer.setLineWrapMode(QPlainTextEdit::NoWrap);
        peer.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        peer.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        peer.show();
        QApplication::processEvents();
        const Times shown = measure([&] {
            peer.setPlainText(value);
            peer.repaint();
        });
        std::printf(" peer: plain QPlainTextEdit, unwrapped\n");
        report("show", shown, false);
        std::printf(" cell viewer against the peer\n");
        ratio("show", viewerShown, shown);
    }
    return 0;
}
