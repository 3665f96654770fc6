// The editor's work survives: written when asked (the window's close) and
// by the timer, restored with its caret and file name, an emptied editor
// leaving nothing behind, and a process killed after the timer wrote.

#include "app/editor/workkeeper.h"
#include "app/scripteditor.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace editor;

namespace {
// The child process: types into an editor, lets the timer write, and
// waits to be killed.
int childMain(int argc, char** argv) {
    QApplication app(argc, argv);
    ScriptEditor editor;
    WorkKeeper keeper(&editor, QString::fromLocal8Bit(argv[2]), 50);
    keeper.setFileName(QStringLiteral("/tmp/kunden.sql"));
    editor.insertPlainText(QStringLiteral("select * from Kunden\nwhere Ort = N'Köln'"));
    for (int waited = 0; keeper.writesDone() == 0 && waited < 10000; waited += 10)
        QTest::qWait(10);
    std::printf("written\n");
    std::fflush(stdout);
    return app.exec(); // until killed
}
} // namespace

class TestWorkKeeper : public QObject {
    Q_OBJECT
private slots:
    void savedAndRestoredWithCaretAndFile();
    void emptyEditorStaysEmpty();
    void timerWritesOnlyAfterChanges();
    void survivesAKilledProcess();
};

void TestWorkKeeper::savedAndRestoredWithCaretAndFile() {
    QTemporaryDir dir;
    {
        ScriptEditor editor;
        WorkKeeper keeper(&editor, dir.path());
        editor.setPlainText(QStringLiteral("select 1\nselect 2\n"));
        QTextCursor c = editor.textCursor();
        c.setPosition(9);
        c.setPosition(15, QTextCursor::KeepAnchor);
        editor.setTextCursor(c);
        keeper.setFileName(QStringLiteral("/daten/abfrage.sql"));
        keeper.save();
    }
    ScriptEditor editor;
    WorkKeeper keeper(&editor, dir.path());
    QVERIFY(keeper.restore());
    QCOMPARE(editor.toPlainText(), QStringLiteral("select 1\nselect 2\n"));
    QCOMPARE(editor.textCursor().anchor(), 9);
    QCOMPARE(editor.textCursor().position(), 15);
    QCOMPARE(keeper.fileName(), QStringLiteral("/daten/abfrage.sql"));
    // A file that is not whole (cut off) restores nothing rather than garbage.
    QFile file(keeper.path());
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.resize(10);
    file.close();
    ScriptEditor other;
    WorkKeeper again(&other, dir.path());
    QVERIFY(!again.restore());
    QVERIFY(other.toPlainText().isEmpty());
}

void TestWorkKeeper::emptyEditorStaysEmpty() {
    QTemporaryDir dir;
    ScriptEditor editor;
    WorkKeeper keeper(&editor, dir.path());
    editor.setPlainText(QStringLiteral("select 1"));
    keeper.save();
    QVERIFY(QFile::exists(keeper.path()));
    editor.clear();
    keeper.save();
    QVERIFY(!QFile::exists(keeper.path()));
    ScriptEditor next;
    WorkKeeper nextKeeper(&next, dir.path());
    QVERIFY(!nextKeeper.restore());
    QVERIFY(next.toPlainText().isEmpty());
}

void TestWorkKeeper::timerWritesOnlyAfterChanges() {
    QTemporaryDir dir;
    ScriptEditor editor;
    WorkKeeper keeper(&editor, dir.path(), 20);
    QTest::qWait(80);
    QCOMPARE(keeper.writesDone(), 0); // nothing typed, nothing written
    editor.insertPlainText(QStringLiteral("select 42"));
    QTRY_COMPARE(keeper.writesDone(), 1);
    QCOMPARE(readWork(keeper.path()).text, QStringLiteral("select 42"));
    QTest::qWait(80);
    QCOMPARE(keeper.writesDone(), 1); // no change since
}

void TestWorkKeeper::survivesAKilledProcess() {
    QTemporaryDir dir;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), dir.path()});
    QVERIFY(child.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("written") ||
                                 child.state() == QProcess::NotRunning,
                             20000);
    QCOMPARE(child.state(), QProcess::Running);
    ::kill(pid_t(child.processId()), SIGKILL); // no close, no clean-up
    QVERIFY(child.waitForFinished());

    ScriptEditor editor;
    WorkKeeper keeper(&editor, dir.path());
    QVERIFY(keeper.restore());
    QCOMPARE(editor.toPlainText(), QStringLiteral("select * from Kunden\nwhere Ort = N'Köln'"));
    QCOMPARE(keeper.fileName(), QStringLiteral("/tmp/kunden.sql"));
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return childMain(argc, argv);
    QApplication app(argc, argv);
    TestWorkKeeper test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workkeeper.moc"
