// Connection, dataset, command and data source over a provider registered at
// run time (the way the export's desktop-file provider comes in), so the
// objects' rules are checked without a server.

#include "data/adocommand.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <thread>

using namespace data;

namespace {

struct FakeLog {
    QStringList texts;                      // query / execute texts in order
    QList<QList<QVariant>> params;          // execute parameters
    QList<QPair<QString, qint64>> appended; // (table, first row) per appendRows
    qint64 appendedRowCount = 0;
    ConnectionParams lastParams;
    int connects = 0;
    bool failNextWithLostLink = false;
    bool refuseConnect = false;
};

FakeLog& fakeLog() {
    static FakeLog log;
    return log;
}

ColumnInfo column(const char* name, TFieldType type, StorageKind kind, int size = 0) {
    ColumnInfo c;
    c.name = QString::fromLatin1(name);
    c.type = type;
    c.kind = kind;
    c.size = size;
    return c;
}

std::shared_ptr<ResultStore> twoRows() {
    const ColumnInfo id = column("ID", ftInteger, StorageKind::Int32);
    const ColumnInfo name = column("Name", ftString, StorageKind::Utf8, 40);
    auto s = std::make_shared<ResultStore>(QList<ColumnInfo>{id, name});
    s->appendRows(2);
    s->setValue(0, 0, 1);
    s->setValue(0, 1, QStringLiteral("Anna"));
    s->setValue(1, 0, 2); // Name stays null
    return s;
}

class FakeSession : public ProviderConnection {
public:
    std::shared_ptr<ResultStore> query(const QString& text, const QueryOptions&,
                                       MessageList& m) override {
        fakeLog().texts.append(text);
        if (fakeLog().failNextWithLostLink) {
            fakeLog().failNextWithLostLink = false;
            throw ConnectionError(QStringLiteral("Communication link failure"),
                                  QStringLiteral("08S01"));
        }
        if (text.startsWith(QLatin1String("print"))) {
            m.append({QStringLiteral("01000"), 0, QStringLiteral("hello"), 0});
            return nullptr;
        }
        if (text == QLatin1String("fail"))
            throw DataError(QStringLiteral("Invalid object name 'x'."), QStringLiteral("42S02"),
                            208);
        return twoRows();
    }
    void execute(const QString& text, const QList<QVariant>& params, const QueryOptions&,
                 MessageList& m) override {
        fakeLog().texts.append(text);
        fakeLog().params.append(params);
        m.append({QStringLiteral("01000"), 0, QStringLiteral("done"), 0});
    }
    std::shared_ptr<ResultStore> openTable(const QString& table, const QueryOptions&,
                                           MessageList&) override {
        fakeLog().texts.append(QStringLiteral("table ") + table);
        const ColumnInfo n = column("N", ftInteger, StorageKind::Int32);
        const ColumnInfo t = column("T", ftMemo, StorageKind::Utf16);
        return std::make_shared<ResultStore>(QList<ColumnInfo>{n, t});
    }
    void appendRows(const QString& table, const ResultStore& store, qint64 firstRow) override {
        fakeLog().appended.append({table, firstRow});
        fakeLog().appendedRowCount = store.rowCount();
    }
    QStringList tableNames(bool systemTables) override {
        return systemTables ? QStringList{"Kunden", "sysobjects"} : QStringList{"Kunden"};
    }
    QList<PropertyEntry> properties() override {
        return {{QStringLiteral("DBMS Name"), QStringLiteral("Fake")},
                {QStringLiteral("Workstation ID"), QVariant()}};
    }
};

class FakeProvider : public Provider {
public:
    QString name() const override { return QStringLiteral("Test.Fake"); }
    std::unique_ptr<ProviderConnection> connect(const ConnectionParams& p,
                                                MessageList& m) override {
        if (fakeLog().refuseConnect)
            throw ConnectionError(QStringLiteral("Login failed for user 'x'."),
                                  QStringLiteral("28000"), 18456);
        ++fakeLog().connects;
        fakeLog().lastParams = p;
        m.append({QStringLiteral("01000"), 5701,
                  QStringLiteral("Changed database context to 'db'."), 0});
        return std::make_unique<FakeSession>();
    }
};

} // namespace

class TestAdoObjects : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void connectAndClose();
    void connectionStringOnlyWhileClosed();
    void unknownProvider();
    void datasetOpensClosedConnection();
    void navigationAndFields();
    void recordSize();
    void noResultSet();
    void lostLinkClosesAndReconnects();
    void failedOpenLeavesDatasetClosed();
    void workerOpenOverFirstResultProvider();
    void controlSuspension();
    void afterOpenRunsOncePerOpen();
    void commandParameters();
    void appendPostUpdateBatch();
    void propertiesClosedAndOpen();
    void tableNames();
    void dataSourceFollowsDataset();
    void handoffServesInSlicesAndInNestedLoops();

private:
    void wire(TADOConnection& c) {
        c.setConnectionString(QStringLiteral("Provider=Test.Fake;Data Source=x"));
    }
};

void TestAdoObjects::initTestCase() {
    registerProvider(QStringLiteral("Test.Fake"), [] { return std::make_shared<FakeProvider>(); });
}

void TestAdoObjects::init() {
    fakeLog() = FakeLog{};
}

void TestAdoObjects::connectAndClose() {
    TADOConnection c;
    wire(c);
    QSignalSpy spy(&c, &TADOConnection::connectedChanged);
    c.setConnected(true);
    QVERIFY(c.Connected());
    QCOMPARE(c.Errors().Count(), 1);
    QCOMPARE(c.Errors().Description(0), QStringLiteral("Changed database context to 'db'."));
    c.Open(); // already open: nothing happens
    QCOMPARE(fakeLog().connects, 1);

    TADODataSet a, b;
    a.setConnection(&c);
    b.setConnection(&c);
    a.setCommandText(QStringLiteral("select 1"));
    b.setCommandText(QStringLiteral("select 2"));
    a.Open();
    b.Open();
    c.Close();
    QVERIFY(!c.Connected());
    QVERIFY(!a.Active());
    QVERIFY(!b.Active());
    c.Close(); // closing twice is harmless
    QCOMPARE(spy.count(), 2);
}

void TestAdoObjects::connectionStringOnlyWhileClosed() {
    TADOConnection c;
    const QString s = QStringLiteral("Provider=Test.Fake;User ID=u;Password=a;b=c;Data Source=x");
    c.setConnectionString(s);
    QCOMPARE(c.ConnectionString(), s); // read back unchanged, password included
    QCOMPARE(c.Provider(), QStringLiteral("Test.Fake"));
    c.Open();
    QVERIFY_THROWS_EXCEPTION(StateError, c.setConnectionString(QStringLiteral("Provider=Other")));
    QCOMPARE(c.ConnectionString(), s);
    c.Close();
    c.setProvider(QStringLiteral("Other.Provider"));
    QCOMPARE(c.Provider(), QStringLiteral("Other.Provider"));
    TADOConnection fresh;
    fresh.setConnectionString(QStringLiteral("Data Source=x"));
    fresh.setProvider(QStringLiteral("Test.Fake"));
    QCOMPARE(fresh.ConnectionString(), QStringLiteral("Provider=Test.Fake;Data Source=x"));
}

void TestAdoObjects::unknownProvider() {
    TADOConnection c;
    c.setConnectionString(QStringLiteral("Provider=No.Such.Provider;Data Source=x"));
    QVERIFY_THROWS_EXCEPTION(DataError, c.Open());
    QVERIFY(!c.Connected());
}

void TestAdoObjects::datasetOpensClosedConnection() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select * from Kunden"));
    ds.Open();
    QVERIFY(c.Connected());
    QVERIFY(ds.Active());
    QCOMPARE(fakeLog().texts, QStringList{"select * from Kunden"});
    // The connect message belongs to the connect, not to the query.
    QCOMPARE(c.Errors().Count(), 0);
}

void TestAdoObjects::navigationAndFields() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    ds.Open();
    QCOMPARE(ds.FieldCount(), 2);
    QCOMPARE(ds.FieldDefs().at(1).Name, QStringLiteral("Name"));
    QCOMPARE(ds.FieldDefs().at(1).DataType, ftString);
    QCOMPARE(ds.FieldDefs().at(1).Size, 40);
    QCOMPARE(ds.FieldDefs().at(1).FieldNo, 2);

    QStringList seen;
    ds.First();
    while (!ds.Eof()) {
        seen << ds.FieldByName(QStringLiteral("id")).AsString() + "/" +
                    ds.FieldByName(QStringLiteral("NAME")).AsString();
        QCOMPARE(ds.Fields(0).Value().typeId(), QMetaType::Int);
        ds.Next();
    }
    QCOMPARE(seen, (QStringList{"1/Anna", "2/"}));
    ds.Next(); // past the end stays at the end
    QVERIFY(ds.Eof());
    ds.Last();
    QVERIFY(ds.Fields(1).IsNull());
    QVERIFY(!ds.Fields(1).Value().isValid());
    QVERIFY_THROWS_EXCEPTION(StateError, ds.FieldByName(QStringLiteral("missing")));
    ds.Close();
    QVERIFY(ds.Eof());
    QVERIFY_THROWS_EXCEPTION(StateError, ds.First());
}

void TestAdoObjects::recordSize() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    QCOMPARE(ds.RecordSize(), 0); // never opened
    ds.setCommandText(QStringLiteral("select"));
    ds.Open();
    QCOMPARE(ds.RecordSize(), 25 + 16 * 2);
    ds.Close();
    QCOMPARE(ds.RecordSize(), 25 + 16 * 2); // kept after closing
}

void TestAdoObjects::noResultSet() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("print 'hello'"));
    try {
        ds.Open();
        QFAIL("no error raised");
    } catch (const NoResultSetError& e) {
        QCOMPARE(e.message(), QStringLiteral("CommandText gibt keine Ergebnismenge zurück"));
    }
    QVERIFY(!ds.Active());
    QVERIFY(c.Connected());
    QCOMPARE(fakeLog().texts, QStringList{"print 'hello'"}); // the statement did run
    QCOMPARE(c.Errors().Count(), 1);
    QCOMPARE(c.Errors().Description(0), QStringLiteral("hello"));
}

void TestAdoObjects::lostLinkClosesAndReconnects() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    // A result read before the link broke keeps its rows.
    TADODataSet earlier;
    earlier.setConnection(&c);
    earlier.setCommandText(QStringLiteral("select"));
    earlier.Open();
    QVERIFY(!c.isBroken());
    fakeLog().failNextWithLostLink = true;
    QVERIFY_THROWS_EXCEPTION(ConnectionError, ds.Open());
    QVERIFY(!c.Connected());
    QVERIFY(c.isBroken());
    QCOMPARE(c.brokenReason(), QStringLiteral("Communication link failure"));
    QCOMPARE(c.openTransactionCount(), 0);
    QVERIFY(!ds.Active());
    QCOMPARE(earlier.RecordCount(), 2);
    ds.Open();
    QVERIFY(ds.Active());
    QVERIFY(!c.isBroken());
    QCOMPARE(fakeLog().connects, 2);
    // A refused login is a broken session too.
    c.Close();
    fakeLog().refuseConnect = true;
    QVERIFY_THROWS_EXCEPTION(ConnectionError, c.Open());
    fakeLog().refuseConnect = false;
    QVERIFY(c.isBroken());
}

// A provider that returns its first result without handing results over one
// by one still fills a dataset opened on the worker.
void TestAdoObjects::workerOpenOverFirstResultProvider() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    bool ended = false;
    std::exception_ptr error;
    ds.OpenAsync([&](std::exception_ptr e, bool) {
        error = e;
        ended = true;
    });
    QVERIFY(QTest::qWaitFor([&] { return ended; }, 10000));
    QVERIFY(!error);
    QCOMPARE(ds.ResultCount(), 1);
    QCOMPARE(ds.RecordCount(), 2);
    QVERIFY(!ds.Incomplete());
}

void TestAdoObjects::failedOpenLeavesDatasetClosed() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("fail"));
    try {
        ds.Open();
        QFAIL("no error raised");
    } catch (const DataError& e) {
        QCOMPARE(e.message(), QStringLiteral("Invalid object name 'x'."));
        QCOMPARE(e.nativeError(), 208);
    }
    QVERIFY(!ds.Active());
    QVERIFY(c.Connected()); // a statement error leaves the link alone
    QVERIFY(!c.isBroken());
    fakeLog().refuseConnect = true;
    c.Close();
    QVERIFY_THROWS_EXCEPTION(ConnectionError, ds.Open());
    QVERIFY(!c.Connected());
    fakeLog().refuseConnect = false;
    ds.setCommandText(QStringLiteral("select"));
    ds.Open();
    QVERIFY(ds.Active());
}

void TestAdoObjects::controlSuspension() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    ds.EnableControls(); // never below zero
    QCOMPARE(ds.DisableCount(), 0);
    QVERIFY(!ds.ControlsDisabled());
    ds.Open();
    QSignalSpy rows(&ds, &TADODataSet::currentRowChanged);
    QSignalSpy changed(&ds, &TADODataSet::dataChanged);
    ds.DisableControls();
    ds.DisableControls();
    ds.Next();
    ds.First();
    QCOMPARE(rows.count(), 0); // quiet while suspended
    ds.EnableControls();
    QVERIFY(ds.ControlsDisabled());
    QCOMPARE(changed.count(), 0);
    ds.EnableControls();
    QVERIFY(!ds.ControlsDisabled());
    QCOMPARE(changed.count(), 1);
    ds.EnableControls();
    ds.EnableControls();
    QCOMPARE(ds.DisableCount(), 0);
    ds.DisableControls();
    QCOMPARE(ds.DisableCount(), 1); // one disable after surplus enables suspends again
    ds.Next();
    QCOMPARE(rows.count(), 0);
}

void TestAdoObjects::afterOpenRunsOncePerOpen() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    int calls = 0;
    bool activeInside = false;
    ds.AfterOpen = [&](TADODataSet* d) {
        ++calls;
        activeInside = d->Active();
    };
    ds.Open();
    ds.Open(); // already open
    QCOMPARE(calls, 1);
    QVERIFY(activeInside);
    ds.setCommandText(QStringLiteral("print")); // closes
    QVERIFY(!ds.Active());
    QVERIFY_THROWS_EXCEPTION(NoResultSetError, ds.Open());
    QCOMPARE(calls, 1); // not after a failed open
}

void TestAdoObjects::commandParameters() {
    TADOConnection c;
    wire(c);
    TADOCommand cmd;
    cmd.setConnection(&c);
    cmd.Parameters().Add(); // a parameter set up before any text
    QCOMPARE(cmd.Parameters().Count(), 1);
    cmd.setCommandText(QStringLiteral("update t set a=:a where b=':x' and c=:c"));
    QCOMPARE(cmd.Parameters().Count(), 2);
    QCOMPARE(cmd.Parameters().Name(0), QStringLiteral("a"));
    QCOMPARE(cmd.Parameters().Name(1), QStringLiteral("c"));
    QVERIFY(!cmd.Parameters().Value(0).isValid());
    cmd.Execute();
    QVERIFY(c.Connected());
    QCOMPARE(fakeLog().texts.last(), QStringLiteral("update t set a=? where b=':x' and c=?"));
    QCOMPARE(fakeLog().params.last().size(), 2);
    QVERIFY(!fakeLog().params.last().at(0).isValid());
    QCOMPARE(c.Errors().Count(), 1);
    QCOMPARE(c.Errors().Description(0), QStringLiteral("done"));
    cmd.setCommandText(QStringLiteral("delete from t"));
    QCOMPARE(cmd.Parameters().Count(), 0);
}

void TestAdoObjects::appendPostUpdateBatch() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandType(cmdTable);
    ds.setCommandText(QStringLiteral("kunden.dbf"));
    ds.Open();
    QCOMPARE(fakeLog().texts.last(), QStringLiteral("table kunden.dbf"));
    for (int i = 0; i < 3; ++i) {
        ds.Append();
        QCOMPARE(ds.State(), dsInsert);
        ds.Fields(0).setValue(i);
        ds.Fields(1).setValue(i == 1 ? QVariant() : QVariant(QStringLiteral("Zeile %1").arg(i)));
        ds.Post();
        QCOMPARE(ds.State(), dsBrowse);
    }
    ds.UpdateBatch();
    QCOMPARE(fakeLog().appended.size(), 1);
    QCOMPARE(fakeLog().appended.at(0).first, QStringLiteral("kunden.dbf"));
    QCOMPARE(fakeLog().appended.at(0).second, 0);
    QCOMPARE(fakeLog().appendedRowCount, 3);
    ds.UpdateBatch(); // nothing new
    QCOMPARE(fakeLog().appended.size(), 1);
    ds.Append();
    ds.Fields(0).setValue(9);
    ds.Cancel();
    QCOMPARE(ds.RecordCount(), 3);
    ds.First();
    ds.Next();
    QVERIFY(ds.Fields(1).IsNull());
    QCOMPARE(ds.Fields(0).AsString(), QStringLiteral("1"));
}

void TestAdoObjects::propertiesClosedAndOpen() {
    TADOConnection c;
    wire(c);
    c.Properties().setValue(QStringLiteral("Data Source"), QStringLiteral("/tmp/out"));
    c.Properties().setValue(QStringLiteral("Locale Identifier"), 1033);
    c.Properties().setValue(QStringLiteral("Extended Properties"), QStringLiteral("dBASE III"));
    QCOMPARE(c.Properties().Value(QStringLiteral("locale identifier")).toInt(), 1033);
    c.Open();
    const auto& sent = fakeLog().lastParams.properties;
    QCOMPARE(sent.size(), 3);
    QCOMPARE(sent.at(2).name, QStringLiteral("Extended Properties"));
    QCOMPARE(sent.at(2).value.toString(), QStringLiteral("dBASE III"));
    QCOMPARE(c.Properties().Count(), 2);
    QCOMPARE(c.Properties().Name(0), QStringLiteral("DBMS Name"));
    QCOMPARE(c.Properties().Value(0).toString(), QStringLiteral("Fake"));
    QVERIFY(!c.Properties().Value(1).isValid());
    QVERIFY_THROWS_EXCEPTION(
        StateError, c.Properties().setValue(QStringLiteral("Data Source"), QStringLiteral("y")));
}

void TestAdoObjects::tableNames() {
    TADOConnection c;
    wire(c);
    QStringList list{"stale"};
    c.GetTableNames(list, false);
    QCOMPARE(list, QStringList{"Kunden"});
    c.GetTableNames(list, true);
    QCOMPARE(list, (QStringList{"Kunden", "sysobjects"}));
}

void TestAdoObjects::dataSourceFollowsDataset() {
    TADOConnection c;
    wire(c);
    TADODataSet ds;
    ds.setConnection(&c);
    ds.setCommandText(QStringLiteral("select"));
    TDataSource src;
    QSignalSpy changed(&src, &TDataSource::dataSetChanged);
    src.setDataSet(&ds);
    QCOMPARE(changed.count(), 1);
    ds.Open();
    QCOMPARE(changed.count(), 2);
    c.Close();
    QCOMPARE(changed.count(), 3);
}

// Calls a worker hands over run in order, but a flood of them leaves the
// thread's other events room between slices; a call that waits in an event
// loop of its own still sees the calls after it run.
void TestAdoObjects::handoffServesInSlicesAndInNestedLoops() {
    QObject owner;
    auto* handoff = new data::Handoff(&owner);
    QList<int> ran;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            handoff->post([&ran, i] {
                QThread::msleep(1);
                ran << i;
            });
    });
    worker.join();
    QCoreApplication::sendPostedEvents(handoff);
    QVERIFY2(!ran.isEmpty() && ran.size() < 100, qPrintable(QString::number(ran.size())));
    QVERIFY(QTest::qWaitFor([&] { return ran.size() == 100; }, 5000));
    for (int i = 0; i < 100; ++i)
        QCOMPARE(ran.at(i), i);

    ran.clear();
    handoff->post([&] {
        QEventLoop nested;
        handoff->post([&] {
            ran << 2;
            nested.quit();
        });
        ran << 1;
        nested.exec();
        ran << 3;
    });
    QVERIFY(QTest::qWaitFor([&] { return ran.size() == 3; }, 5000));
    QCOMPARE(ran, (QList<int>{1, 2, 3}));

    // Right after calls ran, a post waits for the paced look instead of
    // waking the thread; a call that ends a run is not held back.
    ran.clear();
    QTest::qWait(50); // the look after the calls above finds none: posts wake again
    handoff->post([&] { ran << 1; });
    QCoreApplication::sendPostedEvents(handoff);
    QCOMPARE(ran, QList<int>{1});
    handoff->post([&] { ran << 2; });
    QCoreApplication::sendPostedEvents(handoff);
    QCOMPARE(ran, QList<int>{1});
    handoff->postNow([&] { ran << 3; });
    QCoreApplication::sendPostedEvents(handoff);
    QCOMPARE(ran, (QList<int>{1, 2, 3}));
    handoff->post([&] { ran << 4; });
    QVERIFY(QTest::qWaitFor([&] { return ran.size() == 4; }, 1000));
}

QTEST_GUILESS_MAIN(TestAdoObjects)
#include "tst_adoobjects.moc"
