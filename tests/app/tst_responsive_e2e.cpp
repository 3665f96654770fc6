// The window while the server works, end to end against a test server: rows
// shown while the fetch goes on, cancelling waiting queries, long fetches and
// commands and the quick query, the next statement after a cancel, closing
// during a fetch, the query time-out and a server lost in the middle of a result.

#include "app/application.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "app/windows.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/testserver_fixture.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <memory>

class TestResponsiveE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void rowsShowWhileTheStatementRuns();
    void escapeCancelsWaitingQueryAndNextOneRuns();
    void cancelledFetchKeepsItsRows();
    void cancelledCommand();
    void cancelledQuickQuery();
    void closingDuringFetchCancelsThenCloses();
    void queryTimeoutStillFails();
    void serverLostDuringFetch();

private:
    void start(const QString& sql, QAction* action = nullptr);
    int gridRows() const { return w->DBGridQuery->model()->rowCount(); }
    QString lastMessage() const { return w->REMessages->toPlainText().split(u'\n').last(); }

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<WindowFixture> m_fixture;
    MessageRecorder* m_messages = nullptr; // the fixture's
    TFMMain* w = nullptr;
};

void TestResponsiveE2E::initTestCase() {
    m_server = std::make_unique<TestServer>(std::vector<std::string>{"--big-rows", "400000"});
}

void TestResponsiveE2E::init() {
    m_fixture = std::make_unique<WindowFixture>(
        QStringLiteral("127.0.0.1,%1").arg(m_server->port()),
        QString::fromStdString(m_server->user()), QString::fromStdString(m_server->password()),
        QSize(900, 600));
    w = m_fixture->w;
    m_messages = &m_fixture->messages;
    QVERIFY2(m_fixture->connect(), qPrintable(m_messages->texts().join('|')));
}

void TestResponsiveE2E::cleanup() {
    m_fixture.reset();
    w = nullptr;
    m_messages = nullptr;
    if (!m_server->isRunning())
        m_server->start();
}

void TestResponsiveE2E::start(const QString& sql, QAction* action) {
    w->MEQuery->setPlainText(QStringLiteral("use Musterfirma; ") + sql);
    runGuarded([this, action] { (action ? action : w->ACQuery)->trigger(); });
}

void TestResponsiveE2E::rowsShowWhileTheStatementRuns() {
    // The first result is complete long before the statement ends.
    start(QStringLiteral("select * from Messwerte; waitfor delay '00:00:20'"));
    QTRY_VERIFY_WITH_TIMEOUT(gridRows() > 0, 10000);
    QVERIFY(w->statementRunning());
    QVERIFY(!w->PAGrid->isVisible());
    QVERIFY(!w->ACQuery->isEnabled() && !w->ACExecute->isEnabled() && !w->ACExport->isEnabled() &&
            !w->ACConnect->isEnabled() && !w->ACSetup->isEnabled() && !w->CBDatabase->isEnabled());
    QVERIFY(w->ACCancel->isEnabled());
    QVERIFY(w->DBGridQuery->editLocked());
    QTRY_VERIFY(w->LBStatusBar3->text().endsWith(QStringLiteral(" Datensätze gelesen")));
    const int rows = gridRows();
    runGuarded([this] { w->ACCancel->trigger(); });
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY(gridRows() >= rows); // kept, with those that arrived until the cancel
    QCOMPARE(qint64(gridRows()), DM->ADOdsQuery->RecordCount());
    QCOMPARE(lastMessage(), QStringLiteral("Abfrage abgebrochen."));
    QVERIFY(!w->ACCancel->isEnabled() && w->ACQuery->isEnabled());
    QVERIFY(!w->LBStatusBar3->text().contains(QStringLiteral("gelesen")));
    QVERIFY(m_messages->requests.isEmpty());
}

void TestResponsiveE2E::escapeCancelsWaitingQueryAndNextOneRuns() {
    start(QStringLiteral("waitfor delay '00:00:30'; select 1 as x"));
    QVERIFY(w->statementRunning());
    QTest::keyClick(w->MEQuery, Qt::Key_Escape);
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(lastMessage(), QStringLiteral("Abfrage abgebrochen."));
    QVERIFY(w->PAGrid->isVisible()); // nothing arrived
    // The connection goes on with the next statement.
    start(QStringLiteral("select 7 as x union all select 8"));
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(gridRows(), 2);
    QVERIFY(!w->REMessages->toPlainText().contains(QStringLiteral("abgebrochen")));
}

void TestResponsiveE2E::cancelledFetchKeepsItsRows() {
    start(QStringLiteral("select * from Messwerte"));
    QTRY_VERIFY_WITH_TIMEOUT(gridRows() > 0, 10000);
    runGuarded([this] { w->ACCancel->trigger(); });
    QVERIFY(waitForStatement(w, 20000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(lastMessage(), QStringLiteral("Abfrage abgebrochen."));
    QVERIFY(gridRows() > 0);
    QCOMPARE(qint64(gridRows()), DM->ADOdsQuery->RecordCount());
    start(QStringLiteral("select count(*) as n from Kunden"));
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(gridRows(), 1);
}

void TestResponsiveE2E::cancelledCommand() {
    start(QStringLiteral("waitfor delay '00:00:30'"), w->ACExecute);
    QVERIFY(w->statementRunning());
    runGuarded([this] { w->ACCancel->trigger(); });
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(lastMessage(), QStringLiteral("Abfrage abgebrochen."));
    QVERIFY(w->PAGrid->isVisible());
}

void TestResponsiveE2E::cancelledQuickQuery() {
    w->CBDatabase->setCurrentIndex(w->CBDatabase->findText(QStringLiteral("Musterfirma")));
    runGuarded([this] { w->CBDatabaseChange(); });
    w->EDMaxRec->setValue(0);
    const QList<QListWidgetItem*> found = w->LBTables->findItems("Messwerte", Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    w->LBTables->setCurrentItem(found.first());
    runGuarded([this] { w->LBTablesDblClick(); });
    QTRY_VERIFY_WITH_TIMEOUT(gridRows() > 0, 10000);
    QVERIFY(w->statementRunning());
    QTest::keyClick(w->MEQuery, Qt::Key_Escape);
    QVERIFY(waitForStatement(w, 20000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(lastMessage(), QStringLiteral("Abfrage abgebrochen."));
    QVERIFY(gridRows() > 0 && gridRows() < 400000);
    QCOMPARE(qint64(gridRows()), DM->ADOdsQuery->RecordCount());
    // The connection stays open for the next quick query.
    w->EDMaxRec->setValue(3);
    runGuarded([this] { w->LBTablesDblClick(); });
    QVERIFY(waitForStatement(w, 10000));
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    QCOMPARE(gridRows(), 3);
}

void TestResponsiveE2E::closingDuringFetchCancelsThenCloses() {
    start(QStringLiteral("select * from Messwerte; waitfor delay '00:00:30'"));
    QTRY_VERIFY_WITH_TIMEOUT(gridRows() > 0, 10000);
    w->CBDatabase->setEditText(QStringLiteral("Musterfirma"));
    w->close();
    QVERIFY(w->isVisible()); // not before the statement has ended
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 10000);
    QVERIFY(!w->statementRunning());
    QVERIFY2(m_messages->requests.isEmpty(), qPrintable(m_messages->texts().join('|')));
    // Then it closed normally: its settings were written.
    QDirIterator files(m_fixture->settings.path(), QDir::Files, QDirIterator::Subdirectories);
    QVERIFY(files.hasNext());
}

void TestResponsiveE2E::queryTimeoutStillFails() {
    DM->ADOdsQuery->setCommandTimeout(1);
    start(QStringLiteral("waitfor delay '00:00:20'; select 1"));
    QVERIFY(waitForStatement(w, 15000));
    QCOMPARE(m_messages->texts(), QStringList{QStringLiteral("Timeout abgelaufen.")});
    QVERIFY(w->PAGrid->isVisible());
}

void TestResponsiveE2E::serverLostDuringFetch() {
    start(QStringLiteral("select * from Messwerte"));
    QTRY_VERIFY_WITH_TIMEOUT(gridRows() > 0, 10000);
    m_server->stop();
    QVERIFY(waitForStatement(w, 20000));
    // The message the blocking path showed for a lost server.
    QCOMPARE(m_messages->texts().join(u'|'),
             QStringLiteral("Die Verbindung zum Server wurde unterbrochen."));
    // The rows read before the server went stay, marked as cut short; the
    // broken session is gone.
    QVERIFY(!w->PAGrid->isVisible());
    QVERIFY(DM->ADOdsQuery->Active());
    QVERIFY(gridRows() > 0);
    QVERIFY(DM->ADOdsQuery->Incomplete());
    QVERIFY(w->LBStatusBar3->text().contains(QStringLiteral("unvollständig")));
    QVERIFY(!DM->ADOConnMain->Connected());
}

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestResponsiveE2E test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_responsive_e2e.moc"
