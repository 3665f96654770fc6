// Scripts end to end through the FreeTDS driver against a tds-testserver of
// its own: every result set and every message of a batch in order, errors
// after rows, a session that outlives statement errors, and a cancel the
// server never answers.

#include "data/adodataset.h"
#include "tests/data/e2e_support.h"

#include <QtTest>
#include <csignal>
#include <memory>

using namespace data;

class TestScriptEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void messagesInOrderWithRowCounts();
    void everyResultSetArrives();
    void errorAfterRowsKeepsRows();
    void errorInLaterResultIsReported();
    void blockingOpenKeepsRowsBeforeError();
    void sessionSurvivesStatementErrors();
    void unansweredCancelEndsSession();
    void scriptRunsBatchAfterBatchOnTheWorker();
    void scriptEndsWithLostSessionOrCancel();

private:
    struct Run {
        bool ended = false;
        bool cancelled = false;
        std::exception_ptr error;
        QList<DiagRecord> signalled; // as messageArrived delivered them
    };
    // Starts `start` (which calls OpenAsync or ExecuteAsync with the given
    // callback) and serves events until the statement has ended; the
    // connection is the test's own unless given.
    void runAndWait(Run& run,
                    const std::function<void(std::function<void(std::exception_ptr, bool)>)>& start,
                    TADOConnection* connection = nullptr);
    QString adoString() const;
    void exec(const QString& sql);
    static QString errorText(std::exception_ptr error);

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TADOConnection> m_conn;
};

QString TestScriptEndToEnd::adoString() const {
    return adoConnectionString(*m_server, QStringLiteral("master"));
}

void TestScriptEndToEnd::exec(const QString& sql) {
    executeText(*m_conn, sql);
}

QString TestScriptEndToEnd::errorText(std::exception_ptr error) {
    if (!error)
        return QStringLiteral("<no error>");
    try {
        std::rethrow_exception(error);
    } catch (const DataError& e) {
        return e.message();
    } catch (...) {
        return QStringLiteral("<not a DataError>");
    }
}

void TestScriptEndToEnd::runAndWait(
    Run& run, const std::function<void(std::function<void(std::exception_ptr, bool)>)>& start,
    TADOConnection* connection) {
    const QMetaObject::Connection c =
        connect(connection ? connection : m_conn.get(), &TADOConnection::messageArrived, this,
                [&run](const DiagRecord& r) { run.signalled.append(r); });
    start([&run](std::exception_ptr e, bool cancelled) {
        run.error = e;
        run.cancelled = cancelled;
        run.ended = true;
    });
    QVERIFY(QTest::qWaitFor([&] { return run.ended; }, 30000));
    disconnect(c);
}

void TestScriptEndToEnd::initTestCase() {
    m_server = std::make_unique<TestServer>();
}

void TestScriptEndToEnd::cleanupTestCase() {
    m_server.reset();
}

void TestScriptEndToEnd::init() {
    if (!m_server->isRunning())
        m_server->start();
    m_conn = std::make_unique<TADOConnection>();
    m_conn->setConnectionString(adoString());
}

void TestScriptEndToEnd::cleanup() {
    m_conn.reset();
}

// Messages, row counts and a non-fatal error reach the window in the order
// the batch produced them, each with its fields; SET NOCOUNT ON stops the
// counts.
void TestScriptEndToEnd::messagesInOrderWithRowCounts() {
    exec(QStringLiteral("create table Zaehler (id int not null)"));
    TADOCommand cmd;
    cmd.setConnection(m_conn.get());
    cmd.setCommandText(
        QStringLiteral("insert into Zaehler values (1), (2)\r\nprint 'nach dem Einfügen'\r\n"
                       "update Zaehler set id = id + 10 where id = 1\r\nselect id from Zaehler\r\n"
                       "raiserror('Ein Hinweis %d', 10, 3, 7)"));
    Run run;
    runAndWait(run, [&](auto done) { cmd.ExecuteAsync(done); });
    QVERIFY(!run.error);
    const MessageList& all = m_conn->Messages();
    QCOMPARE(run.signalled.size(), all.size());
    QStringList texts;
    for (const DiagRecord& r : all)
        texts << r.message;
    // The driver hands messages that arrive on one call over by their kind;
    // between calls the order is the batch's.
    QVERIFY2(texts.indexOf(QStringLiteral("(2 Zeilen betroffen)")) >= 0,
             qPrintable(texts.join(" | ")));
    QVERIFY2(texts.indexOf(QStringLiteral("(1 Zeile betroffen)")) >
                 texts.indexOf(QStringLiteral("(2 Zeilen betroffen)")),
             qPrintable(texts.join(" | ")));
    QVERIFY2(texts.contains(QStringLiteral("nach dem Einfügen")), qPrintable(texts.join(" | ")));
    const qsizetype hint = texts.indexOf(QStringLiteral("Ein Hinweis 7"));
    QVERIFY2(hint >= 0, qPrintable(texts.join(" | ")));
    const DiagRecord& h = all.at(hint);
    QCOMPARE(h.kind, MessageKind::Info);
    QCOMPARE(h.nativeError, 50000);
    QCOMPARE(h.severity, 10);
    QVERIFY(h.state == 3 || h.state == -1); // the FreeTDS driver does not tell the state
    QCOMPARE(h.line, 5);
    for (const DiagRecord& r : all) {
        if (r.kind == MessageKind::RowCount)
            QVERIFY(r.rows >= 1);
        QVERIFY(r.kind != MessageKind::Error);
    }
    // The error collection keeps only the messages, as before.
    for (int i = 0; i < m_conn->Errors().Count(); ++i)
        QVERIFY(m_conn->Errors().Item(i).kind == MessageKind::Info);

    cmd.setCommandText(QStringLiteral("set nocount on; insert into Zaehler values (3); "
                                      "set nocount off"));
    cmd.Execute();
    for (const DiagRecord& r : m_conn->Messages())
        QVERIFY2(r.kind != MessageKind::RowCount, qPrintable(r.message));
}

// Each result set of a batch becomes a dataset of its own, with the row
// counts of the statements between them as messages.
void TestScriptEndToEnd::everyResultSetArrives() {
    exec(QStringLiteral("create table Mehrere (id int not null)"));
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    ds.setCommandText(
        QStringLiteral("select 1 as a; insert into Mehrere values (5), (6), (7); "
                       "select id from Mehrere order by id; select 'x' as c where 1 = 0"));
    QList<int> added;
    connect(&ds, &TADODataSet::resultAdded, this, [&](TADODataSet* result, int index) {
        QVERIFY(result->Active());
        added << index;
    });
    Run run;
    runAndWait(run, [&](auto done) { ds.OpenAsync(done); });
    QVERIFY2(!run.error, qPrintable(errorText(run.error)));
    QCOMPARE(added, (QList<int>{1, 2}));
    QCOMPARE(ds.ResultCount(), 3);
    QCOMPARE(ds.Result(0), &ds);
    QCOMPARE(ds.FieldDefs().at(0).Name, QStringLiteral("a"));
    TADODataSet* second = ds.Result(1);
    QCOMPARE(second->RecordCount(), 3);
    second->Last();
    QCOMPARE(second->Fields(0).AsString(), QStringLiteral("7"));
    QVERIFY(!second->Incomplete());
    QCOMPARE(ds.Result(2)->RecordCount(), 0);
    QCOMPARE(ds.Result(2)->FieldDefs().at(0).Name, QStringLiteral("c"));
    // Each statement's count, selects included, after the result it ends:
    // the insert's lies between the first and the second result.
    // (The FreeTDS driver passes on no count of a statement that follows a
    // result set directly, here the insert's.)
    QList<QPair<qint64, int>> counts;
    for (const DiagRecord& r : m_conn->Messages())
        if (r.kind == MessageKind::RowCount)
            counts.append({r.rows, r.resultIndex});
    counts.removeAll(QPair<qint64, int>{3, 0});
    QCOMPARE(counts, (QList<QPair<qint64, int>>{{1, 0}, {3, 1}, {0, 2}}));
    // Closing drops the further results; a single result behaves as before.
    ds.Close();
    QCOMPARE(ds.ResultCount(), 0);
    ds.setCommandText(QStringLiteral("select 42"));
    Run single;
    runAndWait(single, [&](auto done) { ds.OpenAsync(done); });
    QVERIFY(!single.error);
    QCOMPARE(ds.ResultCount(), 1);
    QCOMPARE(ds.Fields(0).AsString(), QStringLiteral("42"));
}

// A conversion error after two rows: the rows stay, the result is marked
// incomplete, the error is a message and ends the run; the session goes on.
void TestScriptEndToEnd::errorAfterRowsKeepsRows() {
    exec(QStringLiteral("create table cv (id int not null, s varchar(10) null); "
                        "insert into cv values (1, '10'), (2, '20'), (3, 'x'), (4, '40')"));
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    ds.setCommandText(QStringLiteral("select id, cast(s as int) as n from cv"));
    Run run;
    runAndWait(run, [&](auto done) { ds.OpenAsync(done); });
    QVERIFY(run.error);
    QVERIFY_THROWS_EXCEPTION(DataError, std::rethrow_exception(run.error));
    try {
        std::rethrow_exception(run.error);
    } catch (const ConnectionError&) {
        QFAIL("a statement error was taken for a lost link");
    } catch (const DataError& e) {
        QCOMPARE(e.nativeError(), 245);
        QVERIFY2(e.message().contains(QStringLiteral("'x'")), qPrintable(e.message()));
    }
    QVERIFY(ds.Active());
    QVERIFY(ds.Incomplete());
    QCOMPARE(ds.RecordCount(), 2);
    ds.Last();
    QCOMPARE(ds.Fields(1).AsString(), QStringLiteral("20"));
    bool reported = false;
    for (const DiagRecord& r : m_conn->Messages())
        reported = reported || (r.kind == MessageKind::Error && r.nativeError == 245);
    QVERIFY(reported);
    QVERIFY(m_conn->Connected());
    QVERIFY(!m_conn->isBroken());
}

void TestScriptEndToEnd::errorInLaterResultIsReported() {
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    ds.setCommandText(
        QStringLiteral("select 1 as a; raiserror('Später schiefgegangen', 16, 1); select 2 as b"));
    Run run;
    runAndWait(run, [&](auto done) { ds.OpenAsync(done); });
    QCOMPARE(errorText(run.error), QStringLiteral("Später schiefgegangen"));
    // The server goes on after the error: both results are there. (The
    // FreeTDS driver hands the error over on the last fetch of the result
    // before it, which is thus marked incomplete.)
    QCOMPARE(ds.ResultCount(), 2);
    QCOMPARE(ds.RecordCount(), 1);
    QVERIFY(!ds.Result(1)->Incomplete());
    QCOMPARE(ds.Result(1)->Fields(0).AsString(), QStringLiteral("2"));
    int errors = 0;
    for (const DiagRecord& r : m_conn->Messages())
        if (r.kind == MessageKind::Error) {
            ++errors;
            QCOMPARE(r.message, QStringLiteral("Später schiefgegangen"));
            QCOMPARE(r.resultIndex, 0);
        }
    QCOMPARE(errors, 1);
    QVERIFY(!m_conn->isBroken());
}

// The blocking open keeps what came before the error as well.
void TestScriptEndToEnd::blockingOpenKeepsRowsBeforeError() {
    exec(QStringLiteral("create table cv2 (id int not null, s varchar(10) null); "
                        "insert into cv2 values (1, '1'), (2, 'x')"));
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    ds.setCommandText(QStringLiteral("select id, cast(s as int) as n from cv2"));
    QVERIFY_THROWS_EXCEPTION(DataError, ds.Open());
    QVERIFY(ds.Active());
    QVERIFY(ds.Incomplete());
    QCOMPARE(ds.RecordCount(), 1);
    QVERIFY(m_conn->Connected());
}

// After statement errors the session keeps its transaction, its #temp
// table and its SET options; @@TRANCOUNT answers the window's question.
void TestScriptEndToEnd::sessionSurvivesStatementErrors() {
    QCOMPARE(m_conn->openTransactionCount(), 0); // closed: none
    exec(QStringLiteral("create table #zwischen (id int not null)"));
    exec(QStringLiteral("begin tran"));
    exec(QStringLiteral("insert into #zwischen values (1)"));
    QCOMPARE(m_conn->openTransactionCount(), 1);
    QVERIFY_THROWS_EXCEPTION(DataError, exec(QStringLiteral("select * from GibtEsNicht")));
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    ds.setCommandText(QStringLiteral("raiserror('Fehler im Skript', 16, 1)"));
    Run run;
    runAndWait(run, [&](auto done) { ds.OpenAsync(done); });
    QCOMPARE(errorText(run.error), QStringLiteral("Fehler im Skript"));
    QVERIFY(m_conn->Connected());
    QVERIFY(!m_conn->isBroken());
    QCOMPARE(m_conn->openTransactionCount(), 1);
    ds.setCommandText(QStringLiteral("select count(*) from #zwischen"));
    ds.Open();
    QCOMPARE(ds.Fields(0).AsString(), QStringLiteral("1"));
    exec(QStringLiteral("rollback tran"));
    QCOMPARE(m_conn->openTransactionCount(), 0);
}

// A server that stops answering while a statement runs: the cancel gets no
// answer, the layer ends the session itself after the grace time, keeps the
// rows it has, and the next statement connects anew. Then one that goes
// away while it sends.
void TestScriptEndToEnd::unansweredCancelEndsSession() {
    // Enough rows that the server is still sending when it stops, more than
    // the sockets' buffers hold.
    TestServer big({"--big-rows", "500000"});
    auto conn = std::make_unique<TADOConnection>();
    conn->setConnectionString(adoConnectionString(big, QStringLiteral("Musterfirma")));
    conn->setCancelGrace(700);
    TADODataSet ds;
    ds.setConnection(conn.get());
    ds.setCommandText(QStringLiteral("select * from Messwerte"));
    const pid_t pid = big.pid();
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{pid};
    Run run;
    QElapsedTimer clock;
    runAndWait(
        run,
        [&](auto done) {
            ds.OpenAsync(done);
            // Once the first rows are in, the server stops dead. The cancel
            // comes when the worker has read what the sockets still held and
            // waits for the server: a cancel between two driver calls is
            // taken by the driver at once (its answer is read before the next
            // statement), and nothing would be left to end.
            QVERIFY(QTest::qWaitFor([&] { return ds.Active(); }, 20000));
            QCOMPARE(::kill(pid, SIGSTOP), 0);
            QTest::qWait(500);
            clock.start();
            conn->Cancel();
        },
        conn.get());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(errorText(run.error), QString::fromUtf8(TADOConnection::kCancelUnanswered));
    QVERIFY(conn->isBroken());
    QCOMPARE(conn->brokenReason(), QString::fromUtf8(TADOConnection::kCancelUnanswered));
    QVERIFY(!conn->Connected());
    QVERIFY(ds.Active());
    QVERIFY(ds.RecordCount() > 0);
    QVERIFY(ds.Incomplete());
    ::kill(pid, SIGCONT);
    ds.setCommandText(QStringLiteral("select 9"));
    Run next;
    runAndWait(
        next, [&](auto done) { ds.OpenAsync(done); }, conn.get());
    QVERIFY2(!next.error, qPrintable(errorText(next.error)));
    QCOMPARE(ds.Fields(0).AsString(), QStringLiteral("9"));
    QVERIFY(!conn->isBroken());

    // Closing the connection while the server stands still does not wait
    // for it longer than the grace time allows.
    ds.setCommandText(QStringLiteral("select * from Messwerte"));
    ds.OpenAsync({});
    QVERIFY(QTest::qWaitFor([&] { return ds.Active(); }, 20000));
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    clock.restart();
    conn->Close();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!conn->Busy() && !conn->Connected());
    ::kill(pid, SIGCONT);

    // A server that goes away part-way: the statement ends (it does not go
    // on asking the dead link), the rows stay, the session is broken. The
    // server is frozen at once and then killed: a server told to end may
    // first send the rest of the result, and the statement then ends well.
    ds.setCommandText(QStringLiteral("select * from Messwerte"));
    Run lost;
    runAndWait(
        lost,
        [&](auto done) {
            ds.OpenAsync(done);
            QVERIFY(QTest::qWaitFor([&] { return ds.Active(); }, 20000));
            ::kill(pid, SIGSTOP);
            ::kill(pid, SIGKILL);
            big.stop(); // collects the process
        },
        conn.get());
    QVERIFY2(lost.error, "the statement ended without an error");
    QVERIFY_THROWS_EXCEPTION(ConnectionError, std::rethrow_exception(lost.error));
    QVERIFY(conn->isBroken());
    QVERIFY(ds.RecordCount() > 0);
    QVERIFY(ds.Incomplete());
}

// A script handed over whole: each batch starts and ends in order with its
// messages, an error ends only its batch, a batch runs as often as it
// repeats, and the result sets of all batches count on from each other.
void TestScriptEndToEnd::scriptRunsBatchAfterBatchOnTheWorker() {
    exec(QStringLiteral("create table Schritte (id int not null)"));
    QStringList seen; // events and messages as this thread got them
    connect(m_conn.get(), &TADOConnection::messageArrived, this,
            [&](const DiagRecord& r) { seen << QStringLiteral("msg:") + r.message; });
    ScriptEvents events;
    events.started = [&](int step) { seen << QStringLiteral("start %1").arg(step); };
    events.ended = [&](int step, std::exception_ptr error) {
        seen << QStringLiteral("end %1%2").arg(step).arg(error ? " " + errorText(error) : "");
    };
    TADODataSet ds;
    ds.setConnection(m_conn.get());
    Run run;
    runAndWait(run, [&](auto done) {
        ds.OpenScriptAsync({{QStringLiteral("select 1 as a"), 1},
                            {QStringLiteral("print 'vor dem Fehler'; select 1/0 as x"), 1},
                            {QStringLiteral("insert into Schritte values (1); select count(*) as "
                                            "n from Schritte"),
                             2}},
                           events, done);
    });
    QVERIFY2(!run.error, qPrintable(errorText(run.error)));
    QVERIFY(!run.cancelled);
    const QString all = seen.join(u'|');
    auto at = [&](const QString& what) {
        const qsizetype i = seen.indexOf(what);
        if (i < 0)
            qWarning("missing %s in %s", qPrintable(what), qPrintable(all));
        return i;
    };
    QVERIFY(at("start 0") >= 0 && at("start 0") < at("end 0"));
    QVERIFY(at("end 0") < at("start 1"));
    // The driver hands the messages of one call over by their kind, so the
    // print may follow the error; both lie within their batch.
    QVERIFY(at("start 1") < at("msg:vor dem Fehler"));
    const qsizetype failed = seen.indexOf(
        QRegularExpression("^end 1 .*divide by zero.*", QRegularExpression::CaseInsensitiveOption));
    QVERIFY2(failed > at("msg:vor dem Fehler"), qPrintable(all));
    QCOMPARE(seen.count(QStringLiteral("start 2")), 2);
    QCOMPARE(seen.count(QStringLiteral("end 2")), 2);
    QVERIFY(at("start 2") > failed);
    // a, (x, when the server sent its columns before the error), and the
    // count after each insert.
    const int n = ds.ResultCount();
    QVERIFY(n == 3 || n == 4);
    QCOMPARE(ds.FieldDefs().at(0).Name, QStringLiteral("a"));
    QCOMPARE(ds.Result(n - 2)->Fields(0).AsString(), QStringLiteral("1"));
    QCOMPARE(ds.Result(n - 1)->Fields(0).AsString(), QStringLiteral("2"));
    QVERIFY(!m_conn->isBroken());
}

// A session the server ends stops the script at that batch; a cancel stops
// it before the next one.
void TestScriptEndToEnd::scriptEndsWithLostSessionOrCancel() {
    QList<int> started;
    ScriptEvents events;
    events.started = [&](int step) { started << step; };
    TADOCommand cmd;
    cmd.setConnection(m_conn.get());
    Run lost;
    runAndWait(lost, [&](auto done) {
        cmd.ExecuteScriptAsync({{QStringLiteral("print 'eins'"), 1},
                                {QStringLiteral("raiserror('weg', 20, 1) with log"), 1},
                                {QStringLiteral("print 'nie'"), 1}},
                               events, done);
    });
    QVERIFY(lost.error);
    QVERIFY(m_conn->isBroken());
    QCOMPARE(started, (QList<int>{0, 1}));

    started.clear();
    Run cancelled;
    runAndWait(cancelled, [&](auto done) {
        cmd.ExecuteScriptAsync(
            {{QStringLiteral("waitfor delay '00:00:03'"), 1}, {QStringLiteral("print 'nie'"), 1}},
            events, done);
        QTimer::singleShot(300, m_conn.get(), [this] { m_conn->Cancel(); });
    });
    QVERIFY2(!cancelled.error, qPrintable(errorText(cancelled.error)));
    QVERIFY(cancelled.cancelled);
    QCOMPARE(started, (QList<int>{0}));
}

QTEST_GUILESS_MAIN(TestScriptEndToEnd)
#include "tst_script_e2e.moc"
