// The editor's tools in the window against a test server: the catalog read
// after a change of database and again after DDL, completion by keys, runs
// in the history and back into the editor, the find bar beside the snippet
// keys, the file name kept with the work after saving and over a restart,
// and the work written when the window closes.

#include "app/editor/completer.h"
#include "app/editor/editortools.h"
#include "app/editor/findbar.h"
#include "app/editor/historywindow.h"
#include "app/editor/runhistory.h"
#include "app/editor/workkeeper.h"
#include "app/uMain.h"
#include "data/catalogreader.h"
#include "modal/modal.h"
#include "settings/history.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/testserver_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QTableView>
#include <QTest>

using namespace editor;

class TestEditorWindowE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void completionFollowsDatabaseAndDdl();
    void runsAreKeptAndFoundAgain();
    void findBarLeavesTheSnippetKeys();
    void keptFileFollowsSaveAndRestart();
    void workIsKeptWhenTheWindowCloses();

private:
    bool hasTable(const QString& name) const;
    void run(const QString& sql, QAction* action);
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<WindowFixture> m_fixture;
    TFMMain* w = nullptr;
};

void TestEditorWindowE2E::initTestCase() {
    m_server = std::make_unique<TestServer>();
    m_fixture = std::make_unique<WindowFixture>(
        QStringLiteral("127.0.0.1,%1").arg(m_server->port()),
        QString::fromStdString(m_server->user()), QString::fromStdString(m_server->password()),
        QSize(900, 600));
    w = m_fixture->w;
    QVERIFY2(m_fixture->connect(), qPrintable(m_fixture->messages.texts().join('|')));
    // The sample database, as the user picks it from the box.
    w->CBDatabase->setEditText(QStringLiteral("Musterfirma"));
    w->CBDatabaseChange();
}

void TestEditorWindowE2E::cleanupTestCase() {
    m_fixture.reset();
}

bool TestEditorWindowE2E::hasTable(const QString& name) const {
    const data::Catalog* catalog = w->editorTools()->completer()->model().catalog();
    return catalog && catalog->find(QString(), name);
}

void TestEditorWindowE2E::run(const QString& sql, QAction* action) {
    w->MEQuery->setPlainText(sql);
    action->trigger();
    QVERIFY(waitForStatement(w));
}

void TestEditorWindowE2E::completionFollowsDatabaseAndDdl() {
    QTRY_VERIFY_WITH_TIMEOUT(hasTable(QStringLiteral("Kunden")), 15000);
    Completer* completer = w->editorTools()->completer();
    // An alias of a later FROM clause, chosen by keys.
    w->MEQuery->setFocus();
    w->MEQuery->setPlainText(QStringLiteral(" FROM Kunden AS k"));
    w->MEQuery->moveCursor(QTextCursor::Start);
    QTest::keyClicks(w->MEQuery, QStringLiteral("SELECT k.Kun"));
    QVERIFY(completer->isActive());
    QTest::keyClick(w->MEQuery, Qt::Key_Return);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("SELECT k.KundenNr FROM Kunden AS k"));

    // A table created by a run: read again, offered in brackets.
    run(QStringLiteral("CREATE TABLE [Neue Tabelle] ([Mein Wert] int)"), w->ACExecute);
    QTRY_VERIFY_WITH_TIMEOUT(hasTable(QStringLiteral("Neue Tabelle")), 15000);
    w->MEQuery->clear();
    w->MEQuery->setFocus();
    QTest::keyClicks(w->MEQuery, QStringLiteral("SELECT * FROM Neue"));
    QVERIFY(completer->isActive());
    QTest::keyClick(w->MEQuery, Qt::Key_Tab);
    QTest::keyClicks(w->MEQuery, QStringLiteral(" n WHERE n."));
    QVERIFY(completer->isActive());
    QCOMPARE(completer->popup()->model()->rowCount(), 1);
    QTest::keyClick(w->MEQuery, Qt::Key_Return);
    QCOMPARE(w->MEQuery->toPlainText(),
             QStringLiteral("SELECT * FROM [Neue Tabelle] n WHERE n.[Mein Wert]"));
}

void TestEditorWindowE2E::runsAreKeptAndFoundAgain() {
    run(QStringLiteral("SELECT Firma FROM Kunden WHERE Ort = N'Hamburg'"), w->ACQuery);
    const qint64 rows = w->currentResult()->RecordCount();
    run(QStringLiteral("SELECT * FROM Nirgendwo"), w->ACQuery);
    m_fixture->messages.requests.clear();
    RunHistory::instance().flush();
    settings::HistoryStore store(RunHistory::instance().path());
    const QList<settings::HistoryEntry> newest = store.list(QString(), 2);
    QCOMPARE(newest.size(), 2);
    QCOMPARE(newest[0].statement, QStringLiteral("SELECT * FROM Nirgendwo"));
    QVERIFY(newest[0].error.contains(QStringLiteral("Nirgendwo")));
    QCOMPARE(newest[1].rows, rows);
    QCOMPARE(newest[1].database, QStringLiteral("Musterfirma"));
    QVERIFY(!newest[1].server.isEmpty());

    // "Verlauf": search as one types, Enter puts the run into the editor.
    w->MEQuery->setPlainText(QStringLiteral("-- Arbeit"));
    w->editorTools()->historyAction()->trigger();
    HistoryWindow* window = w->editorTools()->historyWindow();
    QVERIFY(window->isVisible());
    QTest::keyClicks(window->searchEdit(), QStringLiteral("hamb"));
    QCOMPARE(window->model()->rowCount(), 1);
    QTest::keyClick(window->searchEdit(), Qt::Key_Return);
    QVERIFY(!window->isVisible());
    QCOMPARE(w->MEQuery->toPlainText(),
             QStringLiteral("-- Arbeit\n\nSELECT Firma FROM Kunden WHERE Ort = N'Hamburg'"));
    QCOMPARE(w->MEQuery->textCursor().selectedText(),
             QStringLiteral("SELECT Firma FROM Kunden WHERE Ort = N'Hamburg'"));

    // "Neu" keeps the text it replaces.
    w->ACNew->trigger();
    RunHistory::instance().flush();
    const settings::HistoryEntry replaced = store.list(QString(), 1).front();
    QCOMPARE(replaced.kind, settings::HistoryEntry::ReplacedText);
    QVERIFY(replaced.statement.startsWith(QStringLiteral("-- Arbeit")));
}

void TestEditorWindowE2E::findBarLeavesTheSnippetKeys() {
    const QStringList ansicht = [this] {
        QStringList t;
        for (QAction* a : w->TBMenuBar->actions()[1]->menu()->actions())
            t << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return t;
    }();
    QCOMPARE(ansicht,
             (QStringList{"Tabelleneigenschaften", "-", "Verbindungsinformationen", "-",
                          "Suchen...", "Ersetzen...", "Gehe zu Zeile...", "-", "Verlauf"}));
    w->ShortcutTexts[2] = QStringLiteral("TOP 10 ");
    w->MEQuery->setPlainText(QStringLiteral("SELECT * FROM Kunden"));
    w->MEQuery->setFocus();
    QTextCursor c = w->MEQuery->textCursor();
    c.setPosition(7);
    w->MEQuery->setTextCursor(c);
    QTest::keyClick(w->MEQuery, Qt::Key_F, Qt::ControlModifier);
    FindBar* bar = w->editorTools()->findBar();
    QVERIFY(bar->isVisible());
    QVERIFY(bar->findEdit()->hasFocus());
    QTest::keyClicks(bar->findEdit(), QStringLiteral("kund"));
    // F3 inserts its snippet into the editor, also from the find bar.
    QTest::keyClick(bar->findEdit(), Qt::Key_F3);
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("SELECT TOP 10 * FROM Kunden"));
    QCOMPARE(bar->findEdit()->text(), QStringLiteral("kund"));
    QTest::keyClick(bar->findEdit(), Qt::Key_Return);
    QCOMPARE(w->MEQuery->textCursor().selectedText(), QStringLiteral("Kund"));
    QTest::keyClick(bar->findEdit(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    // Ctrl+H: with replace.
    QTest::keyClick(w->MEQuery, Qt::Key_H, Qt::ControlModifier);
    QVERIFY(bar->replaceEdit()->isVisible());
    bar->close();
}

void TestEditorWindowE2E::keptFileFollowsSaveAndRestart() {
    WorkKeeper* keeper = w->editorTools()->keeper();
    const QDir dir(QFileInfo(keeper->path()).absolutePath());
    QString answer = dir.filePath(QStringLiteral("geoeffnet.sql"));
    QFile file(answer);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("select 'geoeffnet'\r\n");
    file.close();
    modal::setFileHandler([&](const modal::FileRequest&) { return answer; });
    w->ACOpen->trigger();
    QCOMPARE(w->PageControl1->tabToolTip(0), answer);
    QCOMPARE(keeper->fileName(), answer);

    // "Speichern..." under another name: the text is now that file's.
    const QString saved = dir.filePath(QStringLiteral("gespeichert.sql"));
    answer = saved;
    w->ACSave->trigger();
    modal::setFileHandler({});
    QVERIFY(QFile::exists(saved));
    QCOMPARE(w->PageControl1->tabToolTip(0), saved);
    QCOMPARE(keeper->fileName(), saved);
    keeper->save();
    QCOMPARE(readWork(keeper->path()).fileName, saved);

    // The next start: an empty editor and tab, the first activation
    // restores the text and shows the file saved last, as opening it does.
    w->MEQuery->clear();
    keeper->setFileName(QString());
    w->PageControl1->setTabToolTip(0, QString());
    QVERIFY(m_fixture->connect());
    QCOMPARE(w->MEQuery->toPlainText(), QStringLiteral("select 'geoeffnet'\n"));
    QCOMPARE(keeper->fileName(), saved);
    QCOMPARE(w->PageControl1->tabToolTip(0), saved);
}

void TestEditorWindowE2E::workIsKeptWhenTheWindowCloses() {
    w->MEQuery->setPlainText(QStringLiteral("select 'bleibt'"));
    const QString path = w->editorTools()->keeper()->path();
    w->close();
    QCOMPARE(readWork(path).text, QStringLiteral("select 'bleibt'"));
}

QTEST_MAIN(TestEditorWindowE2E)
#include "tst_editor_window_e2e.moc"
