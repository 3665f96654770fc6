// Editing rows in the main window's result grid against a test server: what
// is posted reaches the server, and errors (a conflict, a result that cannot
// be changed) reach the application's error message box while the edit stays.

#include "app/application.h"
#include "app/grid/DBBGrid.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "settings/registry.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/testserver_fixture.h"

#include "data/adocommand.h"
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

class TestGridEditWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void editIsPostedAndAConflictIsShown();
    void deleteAsksAndUnchangeableResultIsShown();

private:
    void connectAndQuery(const QString& sql);
    void exec(const QString& sql);
    QString serverValue(const QString& sql);
    void typeInto(int row, int column, const QString& text);

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<WindowFixture> m_fixture;
    MessageRecorder* m_messages = nullptr; // the fixture's
    FakePrompt* m_prompt = nullptr;        // the fixture's
    TFMMain* w = nullptr;
};

void TestGridEditWindow::initTestCase() {
    m_server = std::make_unique<TestServer>();
}

void TestGridEditWindow::cleanupTestCase() {
    m_server.reset();
}

void TestGridEditWindow::init() {
    m_fixture = std::make_unique<WindowFixture>(
        QStringLiteral("127.0.0.1,%1").arg(m_server->port()),
        QString::fromStdString(m_server->user()), QString::fromStdString(m_server->password()),
        QSize(1000, 700));
    w = m_fixture->w;
    m_messages = &m_fixture->messages;
    m_prompt = m_fixture->prompt;
}

void TestGridEditWindow::cleanup() {
    m_fixture.reset(); // hides the window first, then takes it down
    w = nullptr;
    m_messages = nullptr;
}

void TestGridEditWindow::exec(const QString& sql) {
    TADOCommand cmd;
    cmd.setConnection(DM->ADOConnMain);
    cmd.setCommandText(sql);
    cmd.Execute();
}

QString TestGridEditWindow::serverValue(const QString& sql) {
    TADOConnection other;
    other.setConnectionString(DM->ADOConnMain->ConnectionString());
    TADODataSet ds;
    ds.setConnection(&other);
    ds.setCommandText(sql);
    ds.Open();
    return ds.Eof() ? QStringLiteral("<none>") : ds.Fields(0).AsString();
}

void TestGridEditWindow::connectAndQuery(const QString& sql) {
    {
        settings::Registry reg;
        QVERIFY(reg.openKey(QString::fromLatin1(settings::kSettingsKey), true));
        reg.writeString("MSSQLServer", m_prompt->server);
        reg.writeString("MSSQLDatabase", "Musterfirma");
    }
    FirstActivation = true;
    runGuarded([this] { w->FormActivate(); });
    QVERIFY(DM->ADOConnMain->Connected());
    exec(QStringLiteral("IF OBJECT_ID('WinKunden') IS NOT NULL DROP TABLE WinKunden"));
    exec(QStringLiteral("CREATE TABLE WinKunden (Nr int PRIMARY KEY, Name nvarchar(30))"));
    exec(QStringLiteral("INSERT INTO WinKunden VALUES (1, N'Anna')"));
    exec(QStringLiteral("INSERT INTO WinKunden VALUES (2, N'Bert')"));
    w->MEQuery->setFocus();
    w->MEQuery->setPlainText(sql);
    runGuarded([this] { w->ACQuery->trigger(); });
    QVERIFY(waitForStatement(w));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QVERIFY(DM->ADOdsQuery->Active());
}

void TestGridEditWindow::typeInto(int row, int column, const QString& text) {
    TDBBGrid* grid = w->DBGridQuery;
    const QModelIndex index = grid->model()->index(row, column);
    grid->setCurrentIndex(index);
    grid->edit(index);
    QLineEdit* editor = nullptr;
    for (QLineEdit* e : grid->findChildren<QLineEdit*>())
        if (e->isVisible())
            editor = e;
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
}

void TestGridEditWindow::editIsPostedAndAConflictIsShown() {
    connectAndQuery(QStringLiteral("select Nr, Name from WinKunden order by Nr"));
    TDBBGrid* grid = w->DBGridQuery;
    typeInto(0, 1, QStringLiteral("Anja"));
    QTest::keyClick(grid, Qt::Key_Down);
    QCOMPARE(serverValue(QStringLiteral("SELECT Name FROM WinKunden WHERE Nr = 1")),
             QStringLiteral("Anja"));
    QVERIFY(m_messages->requests.isEmpty());

    // Row 2 vanished on the server; Enter in its last field posts and fails
    // (reported from the event loop), Up fails again (thrown by the key).
    exec(QStringLiteral("DELETE FROM WinKunden WHERE Nr = 2"));
    typeInto(1, 1, QStringLiteral("Berta"));
    QTRY_COMPARE(m_messages->requests.size(), 1);
    QTest::keyClick(grid, Qt::Key_Up);
    QCOMPARE(m_messages->requests.size(), 2);
    const modal::MessageRequest shown = m_messages->requests.first();
    QCOMPARE(shown.caption, QStringLiteral("tarnwick 2005"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QVERIFY2(shown.text.contains(QStringLiteral("geändert oder gelöscht")), qPrintable(shown.text));
    QCOMPARE(grid->currentIndex().row(), 1);
    QCOMPARE(grid->model()->index(1, 1).data().toString(), QStringLiteral("Berta"));
    QCOMPARE(DM->ADOdsQuery->State(), dsEdit);
}

void TestGridEditWindow::deleteAsksAndUnchangeableResultIsShown() {
    connectAndQuery(QStringLiteral("select Nr, Name from WinKunden order by Nr"));
    TDBBGrid* grid = w->DBGridQuery;
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(m_messages->texts(), QStringList{QStringLiteral("Datensatz löschen?")});
    QCOMPARE(serverValue(QStringLiteral("SELECT COUNT(*) FROM WinKunden")), QStringLiteral("1"));
    QCOMPARE(grid->model()->rowCount(), 1);

    // An expression cannot be changed: trying to edit shows why, once the
    // event loop has delivered the error.
    m_messages->requests.clear();
    w->MEQuery->setPlainText(QStringLiteral("select Nr, Name + N'!' as Ruf from WinKunden"));
    runGuarded([this] { w->ACQuery->trigger(); });
    QVERIFY(waitForStatement(w));
    const QModelIndex cell = grid->model()->index(0, 1);
    grid->setCurrentIndex(cell);
    grid->edit(cell);
    QTRY_COMPARE(m_messages->requests.size(), 1);
    QVERIFY2(m_messages->requests.first().text.contains(QStringLiteral("nicht geändert werden")),
             qPrintable(m_messages->requests.first().text));
    QCOMPARE(DM->ADOdsQuery->State(), dsBrowse);
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    setApplicationTitle(QStringLiteral("tarnwick 2005"));
    TestGridEditWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gridedit_window_e2e.moc"
