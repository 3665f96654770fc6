// Real T-SQL scripts through the window against the test server: GO batches,
// every result set in a grid of its own, messages in order, errors after
// rows, a session that survives a typo, text sent as typed, cancel between
// batches, and Microsoft's pubs install script.

#include "app/logic/sqlbatches.h"
#include "app/uDM.h"
#include "app/uMain.h"
#include "tests/app/apptestsupport.h"
#include "tests/support/testserver_fixture.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <memory>

class TestScriptE2E : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void errorAfterRowsKeepsTheRows();
    void transactionSurvivesATypo();
    void stringsAndCommentsArriveAsTyped();
    void batchesWithCountsAndAFailure();
    void everyResultInAGridOfItsOwn();
    void gridsOfManyResultsAreMadeAsTheyComeIntoView();
    void cancelStopsTheScript();
    void pubsInstallScriptRunsToItsEnd();

private:
    // Types `sql` into the editor, runs it (F5 or F6) and waits for the end.
    void run(const QString& sql, bool query);
    QString messages() const { return f->w->REMessages->toPlainText(); }
    QString cell(TDBBGrid* grid, int row, int column) const {
        return grid->model()->index(row, column).data().toString();
    }

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<WindowFixture> f;
};

void TestScriptE2E::initTestCase() {
    m_server = std::make_unique<TestServer>();
}

void TestScriptE2E::cleanupTestCase() {
    m_server.reset();
}

void TestScriptE2E::init() {
    f = std::make_unique<WindowFixture>(QStringLiteral("127.0.0.1,%1").arg(m_server->port()),
                                        QString::fromStdString(m_server->user()),
                                        QString::fromStdString(m_server->password()));
    QVERIFY2(f->connect(), qPrintable(f->messages.texts().join(u'|')));
    QVERIFY(f->w->dataModule()->ADOConnMain->Connected());
}

void TestScriptE2E::cleanup() {
    // Whatever a test left open is rolled back, so closing asks nothing.
    if (f && f->w->dataModule()->ADOConnMain->Connected()) {
        f->w->MEQuery->setPlainText(QStringLiteral("if @@trancount > 0 rollback"));
        f->w->ACExecuteExecute();
        waitForStatement(f->w);
    }
    f.reset();
}

void TestScriptE2E::run(const QString& sql, bool query) {
    f->messages.requests.clear();
    f->w->MEQuery->setPlainText(sql);
    if (query)
        f->w->ACQueryExecute();
    else
        f->w->ACExecuteExecute();
    QVERIFY(waitForStatement(f->w));
}

void TestScriptE2E::errorAfterRowsKeepsTheRows() {
    run(QStringLiteral("create table cv (id int, s varchar(10))\n"
                       "insert into cv values (1, '1')\ninsert into cv values (2, '2')\n"
                       "insert into cv values (3, 'x')"),
        false);
    QVERIFY2(f->messages.requests.isEmpty(), qPrintable(f->messages.texts().join(u'|')));
    run(QStringLiteral("select id, cast(s as int) as n from cv"), true);
    // The rows before the error stay; the error is shown, not dropped.
    QCOMPARE(f->w->DBGridQuery->model()->rowCount(), 2);
    QCOMPARE(f->messages.requests.size(), 1);
    QVERIFY2(f->messages.texts().first().contains(QStringLiteral("Conversion failed")),
             qPrintable(f->messages.texts().first()));
    QVERIFY2(messages().contains(QStringLiteral("Meldung 245, Ebene 16")), qPrintable(messages()));
    QVERIFY2(f->w->LBStatusBar3->text().contains(QStringLiteral("unvollständig")),
             qPrintable(f->w->LBStatusBar3->text()));
    // The session is still there: the table answers without a new login.
    QVERIFY(f->w->dataModule()->ADOConnMain->Connected());
    run(QStringLiteral("select count(*) as n from cv; drop table cv"), true);
    QCOMPARE(cell(f->w->DBGridQuery, 0, 0), QStringLiteral("3"));
}

void TestScriptE2E::transactionSurvivesATypo() {
    run(QStringLiteral("create table tt (i int)"), false);
    run(QStringLiteral("begin tran insert into tt values (9)"), false);
    QVERIFY(f->messages.requests.isEmpty());
    run(QStringLiteral("selec typo"), true);
    QCOMPARE(f->messages.requests.size(), 1); // the typo's error, in the box as always
    run(QStringLiteral("select @@trancount as n, (select count(*) from tt) as c"), true);
    QCOMPARE(cell(f->w->DBGridQuery, 0, 0), QStringLiteral("1"));
    QCOMPARE(cell(f->w->DBGridQuery, 0, 1), QStringLiteral("1"));

    // Closing with the transaction open asks; "Abbrechen" keeps the window.
    QList<modal::MessageRequest> asked;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    modal::setMessageHandler([&](const modal::MessageRequest& r) {
        asked.append(r);
        return answer;
    });
    QVERIFY(!f->w->close());
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked.first().text.contains(QStringLiteral("Transaktion")));
    QCOMPARE(f->w->dataModule()->ADOConnMain->openTransactionCount(), 1);
    // "Nein" rolls back, and the window closes.
    answer = QMessageBox::No;
    QVERIFY(f->w->close());
    QCOMPARE(asked.size(), 2);
    modal::setMessageHandler({});
    QCOMPARE(f->w->dataModule()->ADOConnMain->openTransactionCount(), 0);
    f->messages.requests.clear();
    run(QStringLiteral("select count(*) from tt; drop table tt"), true);
    QCOMPARE(cell(f->w->DBGridQuery, 0, 0), QStringLiteral("0"));
}

void TestScriptE2E::stringsAndCommentsArriveAsTyped() {
    run(QStringLiteral("select 'a--b' as x, 'c/*d' as y -- the comment goes\n"
                       ", 'line one\nline two' as z /* and this one\n too */"),
        true);
    QVERIFY2(f->messages.requests.isEmpty(), qPrintable(f->messages.texts().join(u'|')));
    QCOMPARE(cell(f->w->DBGridQuery, 0, 0), QStringLiteral("a--b"));
    QCOMPARE(cell(f->w->DBGridQuery, 0, 1), QStringLiteral("c/*d"));
    QCOMPARE(f->w->dataModule()->ADOdsQuery->Fields(2).AsString(),
             QStringLiteral("line one\nline two"));
    // The server's line numbers are the editor's.
    run(QStringLiteral("select 1 as a\n\n\nselect * from gibtsnicht"), true);
    QVERIFY2(messages().contains(QStringLiteral("Zeile 4")), qPrintable(messages()));
}

void TestScriptE2E::batchesWithCountsAndAFailure() {
    run(QStringLiteral("create table g (i int)\n"
                       "GO\n"
                       "insert into g values (1)\n"
                       "go 3 -- three rows\n"
                       "insert into gibtsnicht values (1)\n"
                       "GO\n"
                       "select count(*) as n from g\n"
                       "drop table g"),
        false);
    // The failed batch is named, the later ones ran; one box sums it up.
    QVERIFY2(messages().contains(QStringLiteral("Batch 3 (ab Zeile 5) ist fehlgeschlagen.")),
             qPrintable(messages()));
    QVERIFY2(messages().count(QStringLiteral("(1 Zeile betroffen)")) >= 3, qPrintable(messages()));
    QCOMPARE(f->messages.requests.size(), 1);
    QVERIFY2(f->messages.texts().first().startsWith(
                 QStringLiteral("1 von 4 Batches ist fehlgeschlagen")),
             qPrintable(f->messages.texts().first()));
    // A double click on the error goes to its line of the script.
    QPlainTextEdit* pane = f->w->REMessages;
    f->w->PCMain->setCurrentWidget(pane);
    QTextBlock error = pane->document()->begin();
    while (error.isValid() && !error.text().startsWith(QStringLiteral("Meldung 208")))
        error = error.next();
    QVERIFY2(error.isValid(), qPrintable(messages()));
    QTextCursor at(error);
    pane->setTextCursor(at);
    const QPoint point = pane->cursorRect(at).center();
    // The error stands out: its line is drawn in red, the row counts are not.
    const QImage shot = pane->viewport()->grab().toImage();
    auto redRows = [&](int top, int bottom) {
        int red = 0;
        for (int y = std::max(top, 0); y < std::min(bottom, shot.height()); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                red += c.red() > 140 && c.green() < 80 && c.blue() < 80;
            }
        return red;
    };
    const QRect line = pane->cursorRect(at);
    QVERIFY2(redRows(line.top(), line.bottom()) > 20, "the error line is not red");
    QTextBlock count = pane->document()->begin();
    while (count.isValid() && !count.text().startsWith(QStringLiteral("(1 Zeile")))
        count = count.next();
    QVERIFY(count.isValid());
    const QRect countLine = pane->cursorRect(QTextCursor(count));
    QCOMPARE(redRows(countLine.top(), countLine.bottom()), 0);
    QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, point);
    QCOMPARE(f->w->MEQuery->textCursor().block().blockNumber(), 4);
}

void TestScriptE2E::everyResultInAGridOfItsOwn() {
    run(QStringLiteral("select 1 as a union all select 2\nselect 'zwei' as b\nGO\n"
                       "select 3 as c"),
        true);
    QVERIFY2(f->messages.requests.isEmpty(), qPrintable(f->messages.texts().join(u'|')));
    const QList<TDBBGrid*> more = f->w->resultGrids();
    QCOMPARE(more.size(), 2);
    QCOMPARE(f->w->DBGridQuery->model()->rowCount(), 2);
    QCOMPARE(cell(more[0], 0, 0), QStringLiteral("zwei"));
    QCOMPARE(cell(more[1], 0, 0), QStringLiteral("3"));
    QVERIFY(f->w->DBGridQuery->isVisible() && more[0]->isVisible() && more[1]->isVisible());
    // The grid that has the focus holds "the result".
    QCOMPARE(f->w->currentResult(), f->w->dataModule()->ADOdsQuery);
    f->w->activateWindow();
    more[0]->setFocus();
    QTRY_COMPARE(f->w->currentResult()->FieldDefs().first().Name, QStringLiteral("b"));
    // The next run starts with one grid again.
    run(QStringLiteral("select 4 as d"), true);
    QCOMPARE(f->w->resultGrids().size(), 0);
    QCOMPARE(f->w->currentResult(), f->w->dataModule()->ADOdsQuery);
    // Running the same script again gives the same grids, not more.
    for (int i = 0; i < 2; ++i) {
        run(QStringLiteral("select 1 as a\nselect 2 as b\nselect 3 as c"), true);
        QCOMPARE(f->w->resultGrids().size(), 2);
    }
}

// Sixty result sets: each has its place at once, but only those near the
// visible part of the page get a grid; scrolling makes the others, and Tab
// leads from one result to the next.
void TestScriptE2E::gridsOfManyResultsAreMadeAsTheyComeIntoView() {
    f->w->show();
    QStringList sql;
    for (int i = 1; i <= 60; ++i)
        sql << QStringLiteral("select %1 as n").arg(i);
    run(sql.join(QStringLiteral("\nGO\n")), true);
    QCOMPARE(f->w->resultCount(), 60);
    QCOMPARE(f->w->resultDataSet(59)->Fields(0).AsString(), QStringLiteral("60"));
    QTRY_VERIFY(!f->w->resultGrids().isEmpty());
    QVERIFY2(f->w->resultGrids().size() < 40,
             qPrintable(QString::number(f->w->resultGrids().size())));
    QScrollBar* bar = f->w->SBResults->verticalScrollBar();
    bar->setValue(bar->maximum());
    QTRY_VERIFY(!f->w->resultGrids().isEmpty() &&
                f->w->resultGrids().last()->objectName() == QStringLiteral("DBGridQuery60"));
    TDBBGrid* last = f->w->resultGrids().last();
    QTRY_VERIFY(last->isVisible());
    QCOMPARE(cell(last, 0, 0), QStringLiteral("60"));
    // In the focus chain the first result's grid leads to the second.
    QWidget* next = f->w->DBGridQuery->nextInFocusChain();
    while (next && next != f->w->DBGridQuery && !qobject_cast<TDBBGrid*>(next))
        next = next->nextInFocusChain();
    QVERIFY(next);
    QCOMPARE(next->objectName(), QStringLiteral("DBGridQuery2"));
    // The results' scroll bar changes with every batch of arrivals; the page
    // beneath it is not painted again each time, so the bar paints every
    // pixel of its own (what it left would show the colour below).
    QVERIFY(bar->isVisible() && bar->testAttribute(Qt::WA_OpaquePaintEvent));
    QImage below(bar->size(), QImage::Format_ARGB32);
    below.fill(Qt::magenta);
    bar->render(&below, QPoint(), QRegion(), QWidget::DrawChildren);
    int unpainted = 0;
    for (int y = 0; y < below.height(); ++y)
        for (int x = 0; x < below.width(); ++x)
            unpainted += below.pixel(x, y) == QColor(Qt::magenta).rgb();
    QCOMPARE(unpainted, 0);
}

void TestScriptE2E::cancelStopsTheScript() {
    f->w->MEQuery->setPlainText(QStringLiteral("waitfor delay '00:00:05'\nGO\nselect 1 as never"));
    f->w->ACQueryExecute();
    QTest::qWait(300);
    QVERIFY(f->w->statementRunning());
    f->w->ACCancelExecute();
    QVERIFY(waitForStatement(f->w, 15000));
    QVERIFY2(messages().contains(QStringLiteral("Abfrage abgebrochen.")), qPrintable(messages()));
    QCOMPARE(f->w->resultGrids().size(), 0);
    QVERIFY(!f->w->dataModule()->ADOdsQuery->Active());
}

void TestScriptE2E::pubsInstallScriptRunsToItsEnd() {
    const QString path = QStringLiteral(TARNWICK_SHARED_DIR "/real-scripts/instpubs.sql");
    if (!QFile::exists(path))
        QSKIP("the pubs install script is not beside the tree");
    f->w->loadScript(path);
    const int lines = f->w->MEQuery->document()->blockCount();
    QVERIFY(lines > 100);
    f->w->ACExecuteExecute();
    QVERIFY(waitForStatement(f->w, 240000));
    // Every batch ran; each one the server refused is named with the
    // server's error and a line of the script.
    const QString text = messages();
    const int failed = int(text.count(QStringLiteral(" ist fehlgeschlagen.")));
    const int errors = int(text.count(QStringLiteral("Meldung ")));
    qInfo("pubs: %d batches failed, %d errors listed", failed, errors);
    QVERIFY(errors >= failed);
    if (failed > 0) {
        QCOMPARE(f->messages.requests.size(), 1);
        QVERIFY(f->messages.texts().first().contains(QStringLiteral("Batches")));
    }
    // The last batch ran too: its message came, or its failure is named.
    const QList<SqlBatch> batches = splitBatches(f->w->MEQuery->toPlainText());
    QVERIFY(batches.size() > 70);
    QVERIFY2(text.contains(QStringLiteral("Ending InstPubs.SQL")) ||
                 text.contains(QStringLiteral("Batch %1 (ab Zeile").arg(batches.size())),
             qPrintable(text.right(2000)));
    // The test server runs all of it, as SQL Server does.
    QVERIFY2(failed == 0, qPrintable(text.left(3000)));
    // Its procedures and its view, queried with F5, each in a grid of its own.
    run(QStringLiteral("use pubs\nGO\nexec byroyalty 40\nGO\nexec reptq1\nGO\n"
                       "select title, au_lname from titleview order by title"),
        true);
    QVERIFY2(f->messages.requests.isEmpty(), qPrintable(f->messages.texts().join(u'|')));
    QCOMPARE(f->w->resultCount(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY2(f->w->resultDataSet(i)->RecordCount() > 0, qPrintable(QString::number(i)));
    QCOMPARE(f->w->resultDataSet(0)->FieldDefs().first().Name, QStringLiteral("au_id"));
    QCOMPARE(f->w->resultDataSet(2)->FieldDefs().at(1).Name, QStringLiteral("au_lname"));
}

QTEST_MAIN(TestScriptE2E)
#include "tst_script_e2e.moc"
