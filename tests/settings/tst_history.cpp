// The history of runs: passwords masked before anything is written, long
// texts shortened and marked, the full-text search, the oldest runs dropped
// beyond the limit, and the writing thread.

#include "settings/history.h"

#include <QTemporaryDir>
#include <QTest>

using namespace settings;

namespace {
HistoryEntry run(const QString& text, qint64 rows = 1) {
    HistoryEntry e;
    e.statement = text;
    e.server = QStringLiteral("srv");
    e.database = QStringLiteral("Musterfirma");
    e.started = QDateTime::currentDateTime();
    e.durationMs = 12;
    e.rows = rows;
    return e;
}

QStringList statements(const QList<HistoryEntry>& list) {
    QStringList out;
    for (const HistoryEntry& e : list)
        out << e.statement;
    return out;
}
} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void passwordsMasked_data();
    void passwordsMasked();
    void longStatementsShortened();
    void writtenAndSearched();
    void oldestGoBeyondTheLimit();
    void writerWritesOffTheCallersThread();
};

void TestHistory::passwordsMasked_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("masked");
    QTest::newRow("create login")
        << "CREATE LOGIN anna WITH PASSWORD = 'Geh3im!', CHECK_POLICY = OFF"
        << "CREATE LOGIN anna WITH PASSWORD = '******', CHECK_POLICY = OFF";
    QTest::newRow("alter login, old password, quotes inside")
        << "alter login anna with password=N'neu''s' old_password = 'alt'"
        << "alter login anna with password='******' old_password = '******'";
    QTest::newRow("hashed") << "CREATE LOGIN b WITH PASSWORD = 0x0200AB HASHED"
                            << "CREATE LOGIN b WITH PASSWORD = '******' HASHED";
    QTest::newRow("over lines") << "CREATE LOGIN c WITH PASSWORD =\n  'x\ny'"
                                << "CREATE LOGIN c WITH PASSWORD =\n  '******'";
    QTest::newRow("master key") << "CREATE MASTER KEY ENCRYPTION BY PASSWORD = 'k'"
                                << "CREATE MASTER KEY ENCRYPTION BY PASSWORD = '******'";
    QTest::newRow("sp_addlogin") << "EXEC sp_addlogin 'anna', 'geheim', 'Musterfirma'"
                                 << "EXEC sp_addlogin '******', '******', '******'";
    QTest::newRow("sp_password") << "exec sp_password @old = 'a', @new = 'b'\nselect 'x'"
                                 << "exec sp_password @old = '******', @new = '******'\nselect 'x'";
    QTest::newRow("no password") << "SELECT 'PASSWORD' FROM Kunden"
                                 << "SELECT 'PASSWORD' FROM Kunden";
}

void TestHistory::passwordsMasked() {
    QFETCH(QString, sql);
    QFETCH(QString, masked);
    QCOMPARE(maskPasswords(sql), masked);
}

void TestHistory::longStatementsShortened() {
    bool shortened = true;
    QCOMPARE(shortenStatement(QStringLiteral("select 1"), 100, &shortened),
             QStringLiteral("select 1"));
    QVERIFY(!shortened);
    // Cut within the byte limit, never inside a character, and marked.
    const QString big = QString(300, QChar(0x20AC)); // three bytes each
    const QString cut = shortenStatement(big, 200, &shortened);
    QVERIFY(shortened);
    QVERIFY(cut.toUtf8().size() <= 200);
    QVERIFY(cut.endsWith(QStringLiteral("(im Verlauf gekürzt)")));
    QVERIFY(cut.startsWith(QString(10, QChar(0x20AC))));

    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")));
    const QString huge = QStringLiteral("select '") + QString(2'000'000, u'x') + u'\'';
    const qint64 id = store.add(run(huge));
    QVERIFY(store.statement(id).toUtf8().size() <= HistoryStore::kMaxStatementBytes);
    const QList<HistoryEntry> list = store.list(QString(), 10);
    QCOMPARE(list.size(), 1);
    QVERIFY(list.front().shortened);
    QCOMPARE(list.front().statement.size(), HistoryStore::kListChars); // the list reads the start
}

void TestHistory::writtenAndSearched() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")));
    store.add(run(QStringLiteral("SELECT * FROM Kunden WHERE Ort = 'Köln'"), 3));
    HistoryEntry failed = run(QStringLiteral("select * from Artikel"));
    failed.error = QStringLiteral("Invalid object name 'Artikel'.");
    store.add(failed);
    HistoryEntry cancelled = run(QStringLiteral("WAITFOR DELAY '00:01' select 1 from Kunden"));
    cancelled.cancelled = true;
    store.add(cancelled);
    store.add(run(QStringLiteral("CREATE LOGIN x WITH PASSWORD = 'streng'")));

    const QList<HistoryEntry> all = store.list(QString(), 10);
    QCOMPARE(all.size(), 4);
    QCOMPARE(all.front().statement, QStringLiteral("CREATE LOGIN x WITH PASSWORD = '******'"));
    QCOMPARE(all[1].cancelled, true);
    QCOMPARE(all[2].error, QStringLiteral("Invalid object name 'Artikel'."));
    QCOMPARE(all[2].rows, -1);
    QCOMPARE(all[3].rows, 3);
    QCOMPARE(all[3].server, QStringLiteral("srv"));
    QCOMPARE(all[3].database, QStringLiteral("Musterfirma"));

    // Words as prefixes, all required, any case, newest first.
    QCOMPARE(statements(store.list(historyMatchQuery(QStringLiteral("kund")), 10)),
             (QStringList{"WAITFOR DELAY '00:01' select 1 from Kunden",
                          "SELECT * FROM Kunden WHERE Ort = 'Köln'"}));
    QCOMPARE(statements(store.list(historyMatchQuery(QStringLiteral("kunden köln")), 10)),
             QStringList{"SELECT * FROM Kunden WHERE Ort = 'Köln'"});
    // Characters of the query language typed by the user are no syntax.
    QCOMPARE(store.list(historyMatchQuery(QStringLiteral("\"Artikel* (")), 10).size(), 1);
    QVERIFY(store.list(historyMatchQuery(QStringLiteral("streng")), 10).isEmpty());
    QCOMPARE(historyMatchQuery(QStringLiteral("  ")), QString());
    // Pages: below an id.
    const QList<HistoryEntry> page = store.list(QString(), 2);
    QCOMPARE(statements(store.list(QString(), 10, page.back().id)), statements(all.mid(2)));
}

void TestHistory::oldestGoBeyondTheLimit() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")), 5);
    QList<HistoryEntry> many;
    for (int i = 1; i <= 8; ++i)
        many << run(QStringLiteral("select %1 as nummer%1").arg(i));
    store.addMany(many);
    QCOMPARE(store.count(), 5);
    store.add(run(QStringLiteral("select 9 as nummer9")));
    QCOMPARE(store.count(), 5);
    const QList<HistoryEntry> left = store.list(QString(), 10);
    QCOMPARE(left.front().statement, QStringLiteral("select 9 as nummer9"));
    QCOMPARE(left.back().statement, QStringLiteral("select 5 as nummer5"));
    // Dropped runs are gone from the index too.
    QVERIFY(store.list(historyMatchQuery(QStringLiteral("nummer3")), 10).isEmpty());
    QCOMPARE(store.list(historyMatchQuery(QStringLiteral("nummer7")), 10).size(), 1);
}

void TestHistory::writerWritesOffTheCallersThread() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.sqlite"));
    {
        HistoryWriter writer(path);
        for (int i = 0; i < 50; ++i)
            writer.add(run(QStringLiteral("select %1").arg(i)));
        writer.flush();
        QCOMPARE(HistoryStore(path).count(), 50);
        writer.add(run(QStringLiteral("select 'last'")));
    } // the destructor writes what is queued
    QCOMPARE(HistoryStore(path).list(QString(), 1).front().statement,
             QStringLiteral("select 'last'"));
    // A folder that cannot hold the file: the writer reports, nothing throws.
    HistoryWriter broken(QStringLiteral("/proc/nirgends/h.sqlite"));
    broken.add(run(QStringLiteral("select 1")));
    broken.flush();
    QVERIFY(!broken.lastError().isEmpty());
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
