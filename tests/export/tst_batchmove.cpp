// The batch move over a source dataset: its properties and tables, the unique field names,
// the CREATE TABLE text, the order of its steps (seen by a recording destination provider)
// and whole transfers through the desktop-file provider into real files.
#include "export/VelADObatchmove.h"
#include "export/desktopprovider.h"
#include "export/exportcommand.h"
#include "tests/export/mdbreaders.h"
#include "tests/export/readers.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <functional>

using namespace data;
using namespace testreaders;

namespace {

// --- source: a provider whose query returns the rows the test built --------------------

struct SourceSpec {
    QList<ColumnInfo> columns;
    std::vector<std::vector<QVariant>> rows;
    // Changes the store after the rows went in (what a variant cannot carry).
    std::function<void(ResultStore&)> finish;
};
SourceSpec g_source;
QStringList* g_events = nullptr;

void note(const QString& e) {
    if (g_events)
        g_events->append(e);
}

ColumnInfo column(const char* name, TFieldType type, StorageKind kind, int size = 0) {
    ColumnInfo c;
    c.name = QString::fromUtf8(name);
    c.type = type;
    c.kind = kind;
    c.size = size;
    return c;
}

class SourceSession : public ProviderConnection {
public:
    ~SourceSession() override { note("source closed"); }
    std::shared_ptr<ResultStore> query(const QString&, const QueryOptions&, MessageList&) override {
        auto s = std::make_shared<ResultStore>(g_source.columns);
        for (const auto& row : g_source.rows) {
            const qint64 r = s->appendRows(1);
            for (size_t c = 0; c < row.size(); ++c)
                s->setValue(r, int(c), row[c]);
        }
        if (g_source.finish)
            g_source.finish(*s);
        return s;
    }
    void execute(const QString&, const QList<QVariant>&, const QueryOptions&,
                 MessageList&) override {}
    std::shared_ptr<ResultStore> openTable(const QString&, const QueryOptions&,
                                           MessageList&) override {
        throw DataError("no tables");
    }
    void appendRows(const QString&, const ResultStore&, qint64) override {}
    QStringList tableNames(bool) override { return {}; }
    QList<PropertyEntry> properties() override { return {}; }
};

class SourceProvider : public Provider {
public:
    QString name() const override { return QStringLiteral("Test.Source"); }
    std::unique_ptr<ProviderConnection> connect(const ConnectionParams&, MessageList&) override {
        note("source connected");
        return std::make_unique<SourceSession>();
    }
};

// --- destination: records what the batch move asks of its provider --------------------

class RecordingSession : public ProviderConnection {
public:
    ~RecordingSession() override { note("dest closed"); }
    std::shared_ptr<ResultStore> query(const QString&, const QueryOptions&, MessageList&) override {
        throw DataError("no queries");
    }
    void execute(const QString& text, const QList<QVariant>&, const QueryOptions&,
                 MessageList&) override {
        note("execute " + text);
        m_columns = exportfile::parseCreateTable(text).columns;
    }
    std::shared_ptr<ResultStore> openTable(const QString& table, const QueryOptions&,
                                           MessageList&) override {
        note("openTable " + table);
        // The recording provider does not keep tables between sessions: one column per
        // mapped field of the standard source is enough for the order test.
        QList<ColumnInfo> cols;
        for (int i = 0; i < 2; ++i)
            cols.append(column("c", ftString, StorageKind::Utf16, 10));
        return std::make_shared<ResultStore>(cols);
    }
    void appendRows(const QString& table, const ResultStore& store, qint64 firstRow) override {
        note(QStringLiteral("appendRows %1 %2..%3").arg(table).arg(firstRow).arg(store.rowCount()));
    }
    QStringList tableNames(bool) override { return {}; }
    QList<PropertyEntry> properties() override { return {}; }

private:
    std::vector<exportfile::ColumnDef> m_columns;
};

class RecordingProvider : public Provider {
public:
    QString name() const override { return QStringLiteral("Recording"); }
    std::unique_ptr<ProviderConnection> connect(const ConnectionParams& params,
                                                MessageList&) override {
        QStringList props;
        for (const auto& p : params.properties)
            props << p.name + "=" + p.value.toString() + ":" + p.value.typeName();
        note("dest connected " + props.join(u'|'));
        return std::make_unique<RecordingSession>();
    }
};

const QString jet4 = QStringLiteral("Microsoft.Jet.OLEDB.4.0");

void useRecordingDestination() {
    registerProvider(jet4, [] { return std::make_shared<RecordingProvider>(); });
}

void useFileDestination() {
    registerProvider(jet4, [] { return exportfile::desktopFileProvider(); });
}

// Two mapped fields around a blob that gets no column.
void standardSource(int rows) {
    g_source.columns = {column("Name", ftWideString, StorageKind::Utf16, 30),
                        column("Bild", ftBlob, StorageKind::Bytes),
                        column("Nr", ftInteger, StorageKind::Int32)};
    g_source.rows.clear();
    for (int i = 0; i < rows; ++i)
        g_source.rows.push_back({QStringLiteral("Zeile %1").arg(i), QByteArray("\x01\x02"), i});
}

} // namespace

class TestBatchMove : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialValues();
    void localeTable_data();
    void localeTable();
    void extendedProperties_data();
    void extendedProperties();
    void providerNames();
    void columnTypeTexts_data();
    void columnTypeTexts();
    void uniqueFieldNames_data();
    void uniqueFieldNames();
    void fieldNameListHolds92Names();

    void stepOrder();
    void localeValueSetDirectly();
    void closedSourceDoesNothing();
    void sourceConnectionStateRestored();
    void dbaseFieldNamesAndValues();
    void paradoxKeepsNames();
    void emptyResultCreatesTable();
    void unmappedFieldsOnly();
    void clrValuesGoAsHexText();
    void exactTimesInTextAndHtml();
    void overwrite();
    void refusedValueStopsTransfer();
    void refusedValueInALaterBlock_data();
    void refusedValueInALaterBlock();
    void failedReplacementKeepsOldFiles_data();
    void failedReplacementKeepsOldFiles();
    void replacementTakesThePlaceOfOldFiles();
    void rowsGoToTheProviderInBlocks_data();
    void rowsGoToTheProviderInBlocks();
    void accessDatabase();
    void accessDatabaseUnderItsNameOnlyWhenComplete();
    void accessDatabaseReplaced();
    void accessDatabaseKept();

    void extensionTable_data();
    void extensionTable();
    void exportCommand();

private:
    void openSource();
    QStringList folderEntries() const;
    void emptyFolder();
    QTemporaryDir m_dir;
    QStringList m_events;
    TADOConnection* m_conn = nullptr;
    TADODataSet* m_query = nullptr;
    TVelADObatchmove* m_bm = nullptr;
};

void TestBatchMove::initTestCase() {
    QVERIFY(m_dir.isValid());
    registerProvider(QStringLiteral("Test.Source"),
                     [] { return std::make_shared<SourceProvider>(); });
}

void TestBatchMove::init() {
    g_events = &m_events;
    m_events.clear();
    m_conn = new TADOConnection;
    m_conn->setConnectionString(QStringLiteral("Provider=Test.Source"));
    m_query = new TADODataSet;
    m_query->setConnection(m_conn);
    m_query->setCommandText(QStringLiteral("select"));
    m_bm = new TVelADObatchmove;
    m_bm->ProcessMessages = [this] { m_events << "process messages"; };
    m_bm->OnProgress = [this](qint32 rows) { m_events << QStringLiteral("progress %1").arg(rows); };
    m_bm->setADODataset(m_query);
    m_bm->setDestDatabaseName(m_dir.path() + u'/');
    useFileDestination();
    standardSource(3);
}

void TestBatchMove::cleanup() {
    g_source.finish = {};
    delete m_bm;
    delete m_query;
    delete m_conn;
    g_events = nullptr;
}

void TestBatchMove::openSource() {
    m_query->Open();
    m_events.clear();
}

// Files of earlier tests go, so a test sees only its own.
void TestBatchMove::emptyFolder() {
    QDir dir(m_dir.path());
    for (const QFileInfo& fi :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        fi.isDir() ? QDir(fi.filePath()).removeRecursively() : QFile::remove(fi.filePath());
}

// Everything in the destination folder, hidden staging folders included.
QStringList TestBatchMove::folderEntries() const {
    return QDir(m_dir.path())
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
}

void TestBatchMove::initialValues() {
    TVelADObatchmove bm;
    QCOMPARE(bm.ADODataset(), nullptr);
    QCOMPARE(bm.DestADODataset(), nullptr);
    QCOMPARE(bm.DestTableName(), QString());
    QCOMPARE(bm.DestDatabaseName(), QString());
    QCOMPARE(bm.DestDatabaseType(), dtUndefined);
    QCOMPARE(bm.DestProvider(), prJetOLEDB4);
    QCOMPARE(bm.ProviderName(), jet4);
    QCOMPARE(bm.DestLocaleIdentifier(), liGeneral);
    QCOMPARE(bm.DestLocaleIdentifierValue(), 1033);
    QCOMPARE(bm.Mode(), batADOCopy);
    QCOMPARE(bm.OverwriteExisting(), ovADOyes);
    QCOMPARE(bm.RowsExported(), 0);
    QVERIFY(!bm.DestConnection()->LoginPrompt());
    QCOMPARE(bm.DestDataSet()->Connection(), bm.DestConnection());
    QCOMPARE(int(dtText), 18);
    QCOMPARE(int(liVietnamese), 32);
}

void TestBatchMove::localeTable_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<int>("value");
    const int values[33] = {1033,  2052,  133124, 1028,  197636, 1050, 1029,  1061, 1036,
                            66615, 66567, 1038,   66574, 1039,   1041, 66577, 1042, 66578,
                            1062,  1063,  1071,   1044,  1045,   1048, 1051,  1060, 1034,
                            3082,  1053,  1054,   1055,  1058,   1066};
    for (int i = 0; i < 33; ++i)
        QTest::addRow("%d", i) << i << values[i];
}

void TestBatchMove::localeTable() {
    QFETCH(int, locale);
    QFETCH(int, value);
    TVelADObatchmove bm;
    bm.setDestLocaleIdentifier(TLocaleIdentifier(locale));
    QCOMPARE(int(bm.DestLocaleIdentifier()), locale);
    QCOMPARE(bm.DestLocaleIdentifierValue(), value);
}

void TestBatchMove::extendedProperties_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("unique");
    const char* texts[19] = {"",
                             "",
                             "dBASE III",
                             "dBASE IV",
                             "dBASE 5.0",
                             "Paradox 3.x",
                             "Paradox 4.x",
                             "Paradox 5.x",
                             "FoxPro 2.0",
                             "FoxPro 2.5",
                             "FoxPro 2.6",
                             "FoxPro 3.0",
                             "Excel 3.0",
                             "Excel 4.0",
                             "Excel 5.0",
                             "Excel 8.0",
                             "HTML Import",
                             "HTML Export",
                             "Text"};
    for (int i = 0; i < 19; ++i)
        QTest::addRow("%d", i) << i << QString::fromLatin1(texts[i])
                               << ((i >= dtDBase3 && i <= dtDBase5) ||
                                   (i >= dtFox20 && i <= dtFox30));
}

void TestBatchMove::extendedProperties() {
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(bool, unique);
    QCOMPARE(ExtendedPropertiesText(TDatabaseType(type)), text);
    QCOMPARE(UsesUniqueFieldNames(TDatabaseType(type)), unique);
}

void TestBatchMove::providerNames() {
    TVelADObatchmove bm;
    bm.setDestProvider(prJetOLEDB351);
    QCOMPARE(bm.ProviderName(), QStringLiteral("Microsoft.Jet.OLEDB.3.51"));
    bm.setDestProvider(prMSSQL);
    QCOMPARE(bm.ProviderName(), QStringLiteral("SQLOLEDB.1"));
    bm.setDestProvider(prJetOLEDB4);
    QCOMPARE(bm.ProviderName(), jet4);
}

void TestBatchMove::columnTypeTexts_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("smallint") << int(ftSmallint) << 0 << "integer ";
    QTest::newRow("integer") << int(ftInteger) << 0 << "integer ";
    QTest::newRow("word") << int(ftWord) << 0 << "integer ";
    QTest::newRow("autoinc") << int(ftAutoInc) << 0 << "integer ";
    QTest::newRow("largeint") << int(ftLargeint) << 0 << "integer ";
    QTest::newRow("float") << int(ftFloat) << 0 << "float ";
    QTest::newRow("currency") << int(ftCurrency) << 0 << "numeric(15,4) ";
    QTest::newRow("bcd") << int(ftBCD) << 4 << "numeric(15,4) ";
    QTest::newRow("string 10") << int(ftString) << 10 << "char(10) ";
    QTest::newRow("widestring 254") << int(ftWideString) << 254 << "char(254) ";
    QTest::newRow("fixedchar 300") << int(ftFixedChar) << 300 << "char(254) ";
    QTest::newRow("memo") << int(ftMemo) << 0 << "memo ";
    QTest::newRow("boolean") << int(ftBoolean) << 0 << "bit ";
    QTest::newRow("date") << int(ftDate) << 0 << "date ";
    QTest::newRow("datetime") << int(ftDateTime) << 0 << "datetime ";
    QTest::newRow("time") << int(ftTime) << 0 << "time ";
    QTest::newRow("timestamp") << int(ftTimeStamp) << 0 << "timestamp ";
    for (TFieldType t : {ftUnknown, ftBytes, ftVarBytes, ftBlob, ftGraphic, ftFmtMemo, ftGuid,
                         ftVariant, ftFMTBcd})
        QTest::addRow("%s unmapped", qPrintable(fieldTypeEnumName(t))) << int(t) << 8 << "";
}

void TestBatchMove::columnTypeTexts() {
    QFETCH(int, type);
    QFETCH(int, size);
    QFETCH(QString, text);
    QCOMPARE(ColumnTypeText(TFieldType(type), size), text);
}

void TestBatchMove::uniqueFieldNames_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("unique");
    QTest::newRow("numbered after the first")
        << QStringList{"CustomerName1", "CustomerName2", "CustomerName3"}
        << QStringList{"CustomerNa", "Customer01", "Customer02"};
    QTest::newRow("reserved word, any case") << QStringList{"Date", "TIMESTAMP", "memo"}
                                             << QStringList{"Date01", "TIMESTAM01", "memo01"};
    // The counter goes after the first 8 characters of the name tried last, so short
    // names grow by two digits per collision.
    QTest::newRow("empty and blank names") << QStringList{"", "   "} << QStringList{"01", "0102"};
    QTest::newRow("blanks and controls trimmed")
        << QStringList{" \tName\n", "name"} << QStringList{"Name", "name01"};
    QTest::newRow("short names collide after cutting")
        << QStringList{"Ab", "AB", "ab", "Ab01"} << QStringList{"Ab", "AB01", "ab0102", "Ab0101"};
    QTest::newRow("umlauts compare upper-cased")
        << QStringList{QString::fromUtf8("Größe"), QString::fromUtf8("GRÖSSE"),
                       QString::fromUtf8("größe")}
        << QStringList{QString::fromUtf8("Größe"), QString::fromUtf8("GRÖSSE01"),
                       QString::fromUtf8("größe0102")};
}

void TestBatchMove::uniqueFieldNames() {
    QFETCH(QStringList, names);
    QFETCH(QStringList, unique);
    TVelADObatchmove bm;
    bm.InitFieldNameList();
    QStringList made;
    for (const QString& n : names)
        made << bm.MakeUniqueFieldName(n);
    QCOMPARE(made, unique);
}

void TestBatchMove::fieldNameListHolds92Names() {
    TVelADObatchmove bm;
    bm.InitFieldNameList();
    QCOMPARE(bm.FieldNameSlot(1), QStringLiteral("memo"));
    QCOMPARE(bm.FieldNameSlot(8), QStringLiteral("timestamp"));
    QCOMPARE(bm.FieldNameSlot(9), QString());
    // While a slot is empty, the empty name counts as used.
    QVERIFY(bm.IsFieldNameUsed(QString()));
    QVERIFY(bm.IsFieldNameUsed(QStringLiteral("DateTime")));
    for (int i = 0; i < 92; ++i)
        bm.MakeUniqueFieldName(QStringLiteral("F%1").arg(i));
    QCOMPARE(bm.FieldNameSlot(100), QStringLiteral("F91"));
    QVERIFY(!bm.IsFieldNameUsed(QString()));
    // A full list records nothing more, so a later name is no longer seen.
    QCOMPARE(bm.MakeUniqueFieldName(QStringLiteral("G")), QStringLiteral("G"));
    QVERIFY(!bm.IsFieldNameUsed(QStringLiteral("G")));
    bm.InitFieldNameList();
    QCOMPARE(bm.FieldNameSlot(100), QString());
}

void TestBatchMove::stepOrder() {
    useRecordingDestination();
    standardSource(120);
    openSource();
    m_bm->setDestTableName(QStringLiteral("kunden.dbf"));
    m_bm->setDestDatabaseType(dtDBase3);
    m_bm->setDestLocaleIdentifier(liSpanisch);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 120);
    const QString ds = m_dir.path() + u'/';
    const QStringList expected{
        "dest connected Data Source=" + ds +
            ":QString|Locale Identifier=3082:int|Extended Properties=dBASE III:QString",
        "execute CREATE TABLE [kunden.dbf] (Name char(30) , Nr integer )",
        "dest closed",
        "dest connected Data Source=" + ds +
            ":QString|Locale Identifier=3082:int|Extended Properties=dBASE III:QString",
        "openTable kunden.dbf",
        "process messages",
        "progress 50",
        "process messages",
        "progress 100",
        "process messages",
        "appendRows kunden.dbf 0..120",
    };
    QCOMPARE(m_events, expected);
    QVERIFY(m_conn->Connected());
    QVERIFY(m_query->Eof()); // the source stands past its last row
    QCOMPARE(m_bm->DestDataSet()->CommandType(), cmdTable);
    QCOMPARE(m_bm->DestDataSet()->CursorLocation(), clUseServer);
    QCOMPARE(m_bm->DestConnection()->CursorLocation(), clUseServer);
    QVERIFY(!m_bm->DestDataSet()->Active());
}

void TestBatchMove::localeValueSetDirectly() {
    useRecordingDestination();
    openSource();
    m_bm->setDestTableName(QStringLiteral("t.xls"));
    m_bm->setDestDatabaseType(dtExcel8);
    m_bm->setDestLocaleIdentifier(liSpanisch);
    m_bm->setDestLocaleIdentifierValue(1031);
    m_bm->Execute();
    QVERIFY2(m_events.first().contains("Locale Identifier=1031:int|Extended Properties=Excel 8.0"),
             qPrintable(m_events.first()));
    // Source names stay as they are outside dBASE and FoxPro.
    QCOMPARE(m_events.at(1),
             QStringLiteral("execute CREATE TABLE [t.xls] (Name char(30) , Nr integer )"));
}

void TestBatchMove::closedSourceDoesNothing() {
    useRecordingDestination();
    m_bm->setDestTableName(QStringLiteral("x.dbf"));
    m_bm->Execute(); // never opened
    QVERIFY(m_events.isEmpty());
    QCOMPARE(m_bm->RowsExported(), 0);
    TVelADObatchmove unset;
    unset.Execute(); // no source at all
    QVERIFY(!QFile::exists(m_dir.filePath("x.dbf")));
}

void TestBatchMove::sourceConnectionStateRestored() {
    openSource();
    m_bm->setDestTableName(QStringLiteral("state.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->Execute();
    QVERIFY(m_conn->Connected());
    QVERIFY(!m_events.contains("source closed"));
    QCOMPARE(m_bm->RowsExported(), 3);
}

void TestBatchMove::dbaseFieldNamesAndValues() {
    if (!pythonHas("dbfread"))
        QSKIP("python3-dbfread is not installed");
    g_source.columns = {column("CustomerName1", ftString, StorageKind::Utf16, 20),
                        column("CustomerName2", ftString, StorageKind::Utf16, 20),
                        column("CustomerName3", ftString, StorageKind::Utf16, 20),
                        column("Date", ftDateTime, StorageKind::DateTime),
                        column("", ftFloat, StorageKind::Double),
                        column("Summe", ftBCD, StorageKind::Decimal, 2)};
    g_source.columns[5].precision = 10;
    g_source.columns[5].scale = 2;
    g_source.rows = {{QString::fromUtf8("Jürgen"), QString::fromUtf8("Öztürk"), QVariant(),
                      QDateTime(QDate(2023, 5, 6), QTime(7, 8, 9), Qt::UTC), 1.5,
                      QStringLiteral("1234.56")},
                     {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant()}};
    openSource();
    m_bm->setDestTableName(QStringLiteral("KUNDEN.DBF"));
    m_bm->setDestDatabaseType(dtDBase3);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 2);
    const QJsonObject o = readDbf(m_dir.filePath("KUNDEN.DBF")).object();
    QStringList names;
    for (const auto& f : o["fields"].toArray())
        names << f.toArray()[0].toString();
    QCOMPARE(names,
             (QStringList{"CustomerNa", "Customer01", "Customer02", "Date01", "01", "Summe"}));
    const QJsonArray r0 = o["records"].toArray()[0].toArray();
    QCOMPARE(r0[0].toString(), QString::fromUtf8("Jürgen"));
    QCOMPARE(r0[1].toString(), QString::fromUtf8("Öztürk"));
    QCOMPARE(r0[3].toString(), QStringLiteral("2023-05-06"));
    QCOMPARE(r0[4].toDouble(), 1.5);
    QCOMPARE(r0[5].toDouble(), 1234.56);
    QVERIFY(o["records"].toArray()[1].toArray()[3].isNull());
}

void TestBatchMove::paradoxKeepsNames() {
    g_source.columns = {column("Date", ftDate, StorageKind::Date)};
    g_source.rows = {{QDate(2020, 1, 2)}};
    openSource();
    useRecordingDestination();
    m_bm->setDestTableName(QStringLiteral("p.db"));
    m_bm->setDestDatabaseType(dtParadox5);
    m_bm->Execute();
    QCOMPARE(m_events.at(1), QStringLiteral("execute CREATE TABLE [p.db] (Date date )"));
}

void TestBatchMove::emptyResultCreatesTable() {
    standardSource(0);
    openSource();
    m_bm->setDestTableName(QStringLiteral("leer.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 0);
    QCOMPARE(readFile(m_dir.filePath("leer.txt")), QByteArray("\"Name\",\"Nr\"\r\n"));
}

void TestBatchMove::unmappedFieldsOnly() {
    // A previous transfer sets the count that a failure keeps.
    openSource();
    m_bm->setDestTableName(QStringLiteral("eins.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 3);
    QCOMPARE(readFile(m_dir.filePath("eins.txt")),
             QByteArray("\"Name\",\"Nr\"\r\n\"Zeile 0\",0\r\n\"Zeile 1\",1\r\n\"Zeile 2\",2\r\n"));

    m_query->Close();
    g_source.columns = {column("Bild", ftBlob, StorageKind::Bytes),
                        column("G", ftGuid, StorageKind::Guid)};
    g_source.rows.clear();
    openSource();
    m_bm->setDestTableName(QStringLiteral("nichts.txt"));
    QVERIFY_THROWS_EXCEPTION(DataError, m_bm->Execute());
    QCOMPARE(m_bm->RowsExported(), 3);
    QVERIFY(m_conn->Connected());
}

// A CLR type (geography, hierarchyid) is no blob to leave out: its value goes
// whole, as the hex text the grid shows, into a memo column.
void TestBatchMove::clrValuesGoAsHexText() {
    ColumnInfo lage = column("Lage", ftVarBytes, StorageKind::Bytes);
    lage.clrType = true;
    lage.typeName = QStringLiteral("geography");
    const QByteArray point = QByteArray::fromHex("E6100000010C3333333333D347406666666666965EC0");
    g_source.columns = {column("Nr", ftInteger, StorageKind::Int32), lage,
                        column("Bild", ftBlob, StorageKind::Bytes)};
    g_source.rows = {{1, point, QByteArray("\x01")}, {2, QVariant(), QVariant()}};
    openSource();
    m_bm->setDestTableName(QStringLiteral("orte.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 2);
    QCOMPARE(readFile(m_dir.filePath("orte.txt")),
             QByteArray("\"Nr\",\"Lage\"\r\n1,\"0x" + point.toHex().toUpper() + "\"\r\n2,\r\n"));
}

// datetime2(7) and time(7) reach text and HTML files with all their digits;
// dBASE keeps its own date type, as before.
void TestBatchMove::exactTimesInTextAndHtml() {
    ColumnInfo dt2 = column("Zeit", ftDateTime, StorageKind::DateTime);
    dt2.typeName = QStringLiteral("datetime2");
    dt2.scale = 7;
    ColumnInfo t3 = column("Uhr", ftTime, StorageKind::Time);
    t3.typeName = QStringLiteral("time");
    t3.scale = 3;
    g_source.columns = {dt2, t3};
    g_source.rows = {
        {QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 123), Qt::UTC), QTime(1, 2, 3, 450)},
        {QVariant(), QVariant()}};
    g_source.finish = [](ResultStore& s) {
        const std::int64_t ticks = s.integer(0, 0) + 4567; // 100 ns beyond the milliseconds
        std::memcpy(s.fixedSlot(0, 0), &ticks, 8);
    };
    openSource();
    m_bm->setDestTableName(QStringLiteral("zeiten.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->Execute();
    QCOMPARE(readFile(m_dir.filePath("zeiten.txt")),
             QByteArray("\"Zeit\",\"Uhr\"\r\n2024-02-29 13:14:15.1234567,01:02:03.450\r\n,\r\n"));

    m_bm->setDestTableName(QStringLiteral("zeiten.htm"));
    m_bm->setDestDatabaseType(dtHTMLexport);
    m_bm->Execute();
    const QByteArray html = readFile(m_dir.filePath("zeiten.htm"));
    QVERIFY2(html.contains("<td>2024-02-29 13:14:15.1234567</td><td>01:02:03.450</td>"),
             html.constData());

    if (!pythonHas("dbfread"))
        QSKIP("python3-dbfread is not installed");
    m_bm->setDestTableName(QStringLiteral("ZEITEN.DBF"));
    m_bm->setDestDatabaseType(dtDBase4);
    m_bm->Execute();
    const QJsonObject o = readDbf(m_dir.filePath("ZEITEN.DBF")).object();
    QCOMPARE(o["records"].toArray()[0].toArray()[0].toString(), QStringLiteral("2024-02-29"));
}

void TestBatchMove::overwrite() {
    const QString file = m_dir.filePath("alt.txt");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("alter Inhalt");
    }
    openSource();
    m_bm->setDestTableName(QStringLiteral("alt.txt"));
    m_bm->setDestDatabaseType(dtText);
    m_bm->setOverwriteExisting(ovADOno);
    try {
        m_bm->Execute();
        QFAIL("an existing file was replaced");
    } catch (const DataError& e) {
        QVERIFY2(e.message().contains("existiert bereits"), qPrintable(e.message()));
    }
    QCOMPARE(readFile(file), QByteArray("alter Inhalt"));
    m_bm->setOverwriteExisting(ovADOyes);
    m_bm->Execute();
    QVERIFY(readFile(file).startsWith("\"Name\",\"Nr\"\r\n"));
    // A folder given without its trailing separator is joined with one.
    m_bm->setDestDatabaseName(m_dir.path());
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 3);
    // Without a folder nothing is deleted (the name would lead to the root folder) and the
    // provider refuses the transfer.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    m_bm->setDestDatabaseName(QString());
    QVERIFY_THROWS_EXCEPTION(DataError, m_bm->Execute());
    QDir::setCurrent(cwd);
    QVERIFY(QFile::exists(file));
}

void TestBatchMove::refusedValueStopsTransfer() {
    // The source claims 3 characters but delivers more: dBASE cannot hold the longer value.
    g_source.columns = {column("Kurz", ftString, StorageKind::Utf16, 3)};
    g_source.rows = {{QStringLiteral("abc")}, {QStringLiteral("abcdef")}, {QStringLiteral("x")}};
    openSource();
    m_bm->setDestTableName(QStringLiteral("kurz.dbf"));
    m_bm->setDestDatabaseType(dtDBase4);
    try {
        m_bm->Execute();
        QFAIL("accepted");
    } catch (const DataError& e) {
        QVERIFY2(e.message().contains("\"Kurz\""), qPrintable(e.message()));
    }
    QCOMPARE(m_bm->RowsExported(), 0);
    // With leave to replace (the export command's setting) even a new name is staged, so a
    // failed transfer leaves no file under it.
    QVERIFY(!QFile::exists(m_dir.filePath("kurz.dbf")));
    QVERIFY(m_conn->Connected());
    // Without that leave the table is written in place and keeps the rows before the
    // refused one.
    m_bm->setOverwriteExisting(ovADOno);
    QVERIFY_THROWS_EXCEPTION(DataError, m_bm->Execute());
    QCOMPARE(le32(readFile(m_dir.filePath("kurz.dbf")), 4), 1u);
}

void TestBatchMove::refusedValueInALaterBlock_data() {
    QTest::addColumn<int>("badRow");
    // Found while the next block is gathered, and found by the final batch update.
    QTest::newRow("second of three blocks") << int(TADODataSet::kServerCursorBlock) + 777;
    QTest::newRow("last block") << 2 * int(TADODataSet::kServerCursorBlock) + 5;
}

void TestBatchMove::refusedValueInALaterBlock() {
    // Blocks are written while the next one is gathered; a refusal in any of them still
    // names its row and leaves the table with exactly the rows before it.
    QFETCH(int, badRow);
    emptyFolder();
    // Written in place (no leave to replace), so the rows kept can be looked at.
    m_bm->setOverwriteExisting(ovADOno);
    const int rows = 2 * int(TADODataSet::kServerCursorBlock) + 100;
    g_source.columns = {column("Kurz", ftString, StorageKind::Utf16, 3),
                        column("Nr", ftInteger, StorageKind::Int32)};
    g_source.rows.clear();
    for (int i = 1; i <= rows; ++i)
        g_source.rows.push_back(
            {i == badRow ? QStringLiteral("abcdef") : QStringLiteral("abc"), i});
    openSource();
    m_bm->setDestTableName(QStringLiteral("spaet.dbf"));
    m_bm->setDestDatabaseType(dtDBase4);
    QString message;
    try {
        m_bm->Execute();
        QFAIL("accepted");
    } catch (const DataError& e) {
        message = e.message();
    }
    QVERIFY2(message.contains(QStringLiteral("Datensatz %1:").arg(badRow)), qPrintable(message));
    QCOMPARE(m_bm->RowsExported(), 0);
    const QByteArray file = readFile(m_dir.filePath("spaet.dbf"));
    QCOMPARE(le32(file, 4), quint32(badRow - 1));
    QCOMPARE(file.size(), le16(file, 8) + (badRow - 1) * le16(file, 10) + 1);
    // The last record kept is the one before the refused value.
    const int last = le16(file, 8) + (badRow - 2) * le16(file, 10);
    QCOMPARE(file.mid(last + 1, 3), QByteArray("abc"));
    QCOMPARE(file.mid(last + 4, le16(file, 10) - 4).trimmed(), QByteArray::number(badRow - 1));

    // The provider recovers: the next transfer writes the whole table.
    m_query->Close();
    g_source.rows[size_t(badRow - 1)][0] = QStringLiteral("xyz");
    openSource();
    m_bm->setOverwriteExisting(ovADOyes);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), rows);
    QCOMPARE(le32(readFile(m_dir.filePath("spaet.dbf")), 4), quint32(rows));
}

void TestBatchMove::failedReplacementKeepsOldFiles_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("oldFiles");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("rows");
    // A value the table cannot hold, found by the writer while the batch is written.
    QTest::newRow("dBASE, value too long")
        << "kurz.dbf" << int(dtDBase4) << QStringList{"kurz.dbf", "kurz.dbt"} << "value" << 2;
    // A failure between CREATE TABLE and the batch update: the new table is staged already.
    QTest::newRow("text, failure while rows are read")
        << "alt.txt" << int(dtText) << QStringList{"alt.txt"} << "midway" << 120;
    QTest::newRow("Paradox, failure while rows are read")
        << "alt.db" << int(dtParadox5) << QStringList{"alt.db", "alt.mb"} << "midway" << 120;
    QTest::newRow("spreadsheet, failure while rows are read")
        << "ALT.XLS" << int(dtExcel8) << QStringList{"ALT.XLS"} << "midway" << 120;
    // Rows past the first block have gone to the staged file already.
    QTest::newRow("dBASE, failure after a block was written")
        << "alt.dbf" << int(dtDBase3) << QStringList{"alt.dbf"} << "late" << 40000;
    // A new name is staged as well: a failure leaves neither a file nor staging behind.
    QTest::newRow("dBASE under a new name, failure after a block was written")
        << "neu.dbf" << int(dtDBase3) << QStringList{} << "late" << 40000;
    QTest::newRow("text under a new name, failure midway")
        << "neu.txt" << int(dtText) << QStringList{} << "midway" << 120;
    QTest::newRow("folder without write permission")
        << "alt.txt" << int(dtText) << QStringList{"alt.txt"} << "folder" << 120;
}

void TestBatchMove::failedReplacementKeepsOldFiles() {
    QFETCH(QString, table);
    QFETCH(int, type);
    QFETCH(QStringList, oldFiles);
    QFETCH(QString, failure);
    QFETCH(int, rows);
    emptyFolder();
    QMap<QString, QByteArray> old;
    for (const QString& name : oldFiles) {
        QFile f(m_dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        old[name] = "alter Inhalt von " + name.toUtf8();
        f.write(old[name]);
    }
    const QStringList before = folderEntries();

    if (failure == "value") {
        g_source.columns = {column("Kurz", ftString, StorageKind::Utf16, 3)};
        g_source.rows = {{QStringLiteral("abc")}, {QStringLiteral("abcdef")}};
    } else {
        standardSource(rows);
    }
    if (failure == "midway" || failure == "late") {
        // Window messages are processed once the table is open and then every 50 rows; a
        // handler that raises there stops the transfer after 50 (or 20,000) rows.
        const int failingCall = failure == "midway" ? 2 : 401;
        m_bm->ProcessMessages = [failingCall, calls = 0]() mutable {
            if (++calls == failingCall)
                throw DataError(QStringLiteral("abgebrochen"));
        };
    }
    struct Permissions {
        QString path;
        QFile::Permissions saved;
        ~Permissions() {
            if (!path.isEmpty())
                QFile::setPermissions(path, saved);
        }
    } restore;
    if (failure == "folder") {
        restore.path = m_dir.path();
        restore.saved = QFile::permissions(m_dir.path());
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(m_dir.path()).isWritable())
            QSKIP("the folder stays writable for this user");
    }

    openSource();
    m_bm->setDestTableName(table);
    m_bm->setDestDatabaseType(TDatabaseType(type));
    QString message;
    try {
        m_bm->Execute();
        QFAIL("the transfer succeeded");
    } catch (const DataError& e) {
        message = e.message();
    }
    if (failure == "value") {
        QVERIFY2(message.contains("Datensatz 2") && message.contains("\"Kurz\""),
                 qPrintable(message));
    } else if (failure == "folder") {
        // The message names the destination file, not a staging name.
        QVERIFY2(message.contains(m_dir.filePath(table)), qPrintable(message));
    }
    for (auto it = old.cbegin(); it != old.cend(); ++it)
        QCOMPARE(readFile(m_dir.filePath(it.key())), it.value());
    QCOMPARE(folderEntries(), before);
    QCOMPARE(m_bm->RowsExported(), 0);
    QVERIFY(m_conn->Connected());
}

void TestBatchMove::replacementTakesThePlaceOfOldFiles() {
    if (!pythonHas("dbfread"))
        QSKIP("python3-dbfread is not installed");
    emptyFolder();
    // An old table with a memo file; the new one has no memo column, so the old memo file
    // would belong to nothing.
    for (const char* name : {"kunden.dbf", "kunden.dbt"}) {
        QFile f(m_dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("alt");
    }
    openSource();
    m_bm->setDestTableName(QStringLiteral("kunden.dbf"));
    m_bm->setDestDatabaseType(dtDBase3);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 3);
    QCOMPARE(folderEntries(), QStringList{"kunden.dbf"});
    QCOMPARE(readDbf(m_dir.filePath("kunden.dbf")).object()["records"].toArray().size(), 3);

    // A memo column brings a memo file again; an empty result still replaces the table.
    m_query->Close();
    g_source.columns = {column("Notiz", ftMemo, StorageKind::Utf16)};
    g_source.rows = {{QString::fromUtf8("Größe ") + QString(3000, u'x')}};
    openSource();
    m_bm->Execute();
    QCOMPARE(folderEntries(), (QStringList{"kunden.dbf", "kunden.dbt"}));
    const QJsonObject o = readDbf(m_dir.filePath("kunden.dbf")).object();
    QCOMPARE(o["records"].toArray()[0].toArray()[0].toString(), g_source.rows[0][0].toString());

    m_query->Close();
    g_source.rows.clear();
    openSource();
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 0);
    QCOMPARE(readDbf(m_dir.filePath("kunden.dbf")).object()["records"].toArray().size(), 0);
    QCOMPARE(le32(readFile(m_dir.filePath("kunden.dbf")), 4), 0u);
}

void TestBatchMove::rowsGoToTheProviderInBlocks_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("table");
    QTest::newRow("text") << int(dtText) << "viele.txt";
    QTest::newRow("dBASE") << int(dtDBase3) << "viele.dbf";
    QTest::newRow("Paradox") << int(dtParadox5) << "viele.db";
}

void TestBatchMove::rowsGoToTheProviderInBlocks() {
    // The destination is opened with a server-side cursor: posted rows go to the provider in
    // blocks and leave the destination dataset, and the file holds them all in order.
    QFETCH(int, type);
    QFETCH(QString, table);
    const int rows = 2 * int(TADODataSet::kServerCursorBlock) + 123;
    standardSource(rows);
    openSource();
    useRecordingDestination();
    m_bm->setDestTableName(table);
    m_bm->setDestDatabaseType(TDatabaseType(type));
    m_bm->Execute();
    const QStringList sent = m_events.filter(QStringLiteral("appendRows"));
    QCOMPARE(sent,
             (QStringList{"appendRows " + table + " 0..16384", "appendRows " + table + " 0..16384",
                          "appendRows " + table + " 0..123"}));

    useFileDestination();
    m_events.clear();
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), rows);
    const QByteArray file = readFile(m_dir.filePath(table));
    switch (type) {
    case dtText: {
        const QList<QByteArray> lines = file.split('\n');
        QCOMPARE(lines.size(), rows + 2); // header, rows, nothing after the last line break
        QCOMPARE(lines[1], QByteArray("\"Zeile 0\",0\r"));
        QCOMPARE(lines[rows], QStringLiteral("\"Zeile %1\",%1\r").arg(rows - 1).toUtf8());
        break;
    }
    case dtDBase3:
        QCOMPARE(le32(file, 4), quint32(rows));
        QCOMPARE(file.size(), le16(file, 8) + rows * le16(file, 10) + 1);
        break;
    default:
        QCOMPARE(le32(file, 6), quint32(rows)); // the record count in the Paradox header
        break;
    }
}

void TestBatchMove::accessDatabase() {
    if (!mdbreaders::mdbtoolsPresent())
        QSKIP("mdbtools is not installed");
    emptyFolder();
    standardSource(120);
    g_source.rows[7][0] = QVariant();
    g_source.rows[8][0] = QStringLiteral("Grüße aus Köln");
    openSource();
    const QString path = m_dir.filePath("db.mdb");
    m_bm->setDestDatabaseName(path);
    m_bm->setDestTableName(QStringLiteral("kunden"));
    m_bm->setDestDatabaseType(dtAccess);
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 120);
    QVERIFY(m_query->Active());
    QVERIFY(m_conn->Connected());
    QCOMPARE(folderEntries(), QStringList{"db.mdb"});

    QCOMPARE(mdbreaders::version(path), QStringLiteral("JET4"));
    QCOMPARE(mdbreaders::tables(path), QStringList{"kunden"});
    const QString schema = mdbreaders::schema(path, QStringLiteral("kunden"));
    QVERIFY2(schema.contains(QRegularExpression(QStringLiteral("\\[Name\\]\\s+Text \\(30\\)"))),
             qPrintable(schema));
    QVERIFY2(schema.contains(QRegularExpression(QStringLiteral("\\[Nr\\]\\s+Long Integer"))),
             qPrintable(schema));
    QString error;
    const auto rows = mdbreaders::exportRows(path, QStringLiteral("kunden"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 120);
    QCOMPARE(rows[0], (QStringList{"Zeile 0", "0"}));
    QCOMPARE(rows[7], (QStringList{mdbreaders::kNull, "7"}));
    QCOMPARE(rows[8], (QStringList{QStringLiteral("Grüße aus Köln"), "8"}));
    QCOMPARE(rows[119], (QStringList{"Zeile 119", "119"}));
}

void TestBatchMove::accessDatabaseUnderItsNameOnlyWhenComplete() {
    // While the rows go in, the database is staged: a process killed meanwhile leaves no
    // valid-looking database under the chosen name, and a failure leaves nothing at all.
    emptyFolder();
    standardSource(200);
    openSource();
    const QString path = m_dir.filePath("neu.mdb");
    m_bm->setDestDatabaseName(path);
    m_bm->setDestTableName(QStringLiteral("neu"));
    m_bm->setDestDatabaseType(dtAccess);
    QStringList seen;
    m_bm->ProcessMessages = [&, calls = 0]() mutable {
        seen << (QFile::exists(path) ? "da" : "fehlt");
        if (++calls == 3)
            throw DataError(QStringLiteral("abgebrochen"));
    };
    QVERIFY_THROWS_EXCEPTION(DataError, m_bm->Execute());
    QCOMPARE(seen, (QStringList{"fehlt", "fehlt", "fehlt"}));
    QCOMPARE(folderEntries(), QStringList{});
    // Run to the end, the database takes its name.
    m_bm->ProcessMessages = [&] { seen << (QFile::exists(path) ? "da" : "fehlt"); };
    seen.clear();
    m_bm->Execute();
    QVERIFY(!seen.contains("da"));
    QCOMPARE(folderEntries(), QStringList{"neu.mdb"});
    QCOMPARE(m_bm->RowsExported(), 200);
}

void TestBatchMove::accessDatabaseReplaced() {
    if (!mdbreaders::mdbtoolsPresent())
        QSKIP("mdbtools is not installed");
    emptyFolder();
    const QString path = m_dir.filePath("db.mdb");
    m_bm->setDestDatabaseName(path);
    m_bm->setDestTableName(QStringLiteral("kunden"));
    m_bm->setDestDatabaseType(dtAccess);
    standardSource(5);
    openSource();
    m_bm->Execute();

    // A second export into the same file replaces it.
    m_query->Close();
    standardSource(3);
    openSource();
    m_bm->Execute();
    QCOMPARE(m_bm->RowsExported(), 3);
    QString error;
    QCOMPARE(mdbreaders::exportRows(path, QStringLiteral("kunden"), &error).size(), 3);
    QCOMPARE(folderEntries(), QStringList{"db.mdb"});

    // A failed one leaves the file as it was.
    const QByteArray before = readFile(path);
    m_query->Close();
    standardSource(3);
    g_source.rows[2][0] = QString(40, u'x'); // longer than the column
    openSource();
    QVERIFY_THROWS_EXCEPTION(DataError, m_bm->Execute());
    QCOMPARE(readFile(path), before);
    QCOMPARE(folderEntries(), QStringList{"db.mdb"});
    QCOMPARE(m_bm->RowsExported(), 3);
}

void TestBatchMove::accessDatabaseKept() {
    if (!mdbreaders::mdbtoolsPresent())
        QSKIP("mdbtools is not installed");
    emptyFolder();
    const QString path = m_dir.filePath("db.mdb");
    m_bm->setDestDatabaseName(path);
    m_bm->setDestTableName(QStringLiteral("erste"));
    m_bm->setDestDatabaseType(dtAccess);
    m_bm->setOverwriteExisting(ovADOno);
    openSource();
    m_bm->Execute();
    // Without leave to replace, a second table joins the first; the same name is refused.
    m_bm->setDestTableName(QStringLiteral("zweite"));
    m_bm->Execute();
    QCOMPARE(mdbreaders::tables(path), (QStringList{"erste", "zweite"}));
    const QByteArray before = readFile(path);
    try {
        m_bm->Execute();
        QFAIL("accepted");
    } catch (const DataError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("existiert bereits")),
                 qPrintable(e.message()));
    }
    QCOMPARE(readFile(path), before);

    // Both tables are in the catalog where a strict reader looks for them.
    if (mdbreaders::strictReader().isEmpty())
        QSKIP("the strict Access reader is not there");
    QString output;
    QVERIFY2(mdbreaders::strictRead({path}, &output), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("table erste rows 3 ")), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("table zweite rows 3 ")), qPrintable(output));
}

void TestBatchMove::extensionTable_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("matches");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("type");
    QTest::newRow("dbf") << "/home/a/kunden.dbf" << true << "/home/a/"
                         << "kunden.dbf" << int(dtDBase3);
    QTest::newRow("upper case") << "/x/EXPORT.DBF" << true << "/x/"
                                << "EXPORT.DBF" << int(dtDBase3);
    QTest::newRow("xls") << "/x/a.b.xls" << true << "/x/"
                         << "a.b.xls" << int(dtExcel8);
    QTest::newRow("txt, backslashes") << "C:\\Daten\\kunden.txt" << true << "C:\\Daten\\"
                                      << "kunden.txt" << int(dtText);
    QTest::newRow("db") << "/x/t.db" << true << "/x/"
                        << "t.db" << int(dtParadox5);
    // An Access database is the file itself, holding a table named after it.
    QTest::newRow("mdb") << "/x/t.mdb" << true << "/x/t.mdb"
                         << "t" << int(dtAccess);
    QTest::newRow("mdb, name with dots")
        << "/x/Umsatz 2024.01.MDB" << true << "/x/Umsatz 2024.01.MDB"
        << "Umsatz 2024_01" << int(dtAccess);
    // Characters the database's catalog cannot sort become "_", blanks at the end go.
    QTest::newRow("mdb, name with a hyphen and a euro sign")
        << QStringLiteral("/x/Grüße-2024 € .mdb") << true << QStringLiteral("/x/Grüße-2024 € .mdb")
        << QStringLiteral("Grüße_2024 _") << int(dtAccess);
    QTest::newRow("mdb without a name") << "/x/.mdb" << true << "/x/.mdb"
                                        << "Tabelle" << int(dtAccess);
    QTest::newRow("html") << "/x/t.html" << true << "/x/"
                          << "t.html" << int(dtHTMLexport);
    QTest::newRow("htm matches nothing") << "/x/t.htm" << false << ""
                                         << "" << 0;
    // The stream formats find a target without a batch move type.
    QTest::newRow("csv") << "/x/t.csv" << true << "/x/"
                         << "t.csv" << int(dtUndefined);
    QTest::newRow("xls with another letter") << "/x/t.xlsb" << false << ""
                                             << "" << 0;
    QTest::newRow("no extension") << "/x.dbf/t" << false << ""
                                  << "" << 0;
}

void TestBatchMove::extensionTable() {
    QFETCH(QString, fileName);
    QFETCH(bool, matches);
    QFETCH(QString, folder);
    QFETCH(QString, table);
    QFETCH(int, type);
    const auto t = exportTargetForFile(fileName);
    QCOMPARE(t.has_value(), matches);
    if (t) {
        QCOMPARE(t->databaseName, folder);
        QCOMPARE(t->tableName, table);
        QCOMPARE(int(t->type), type);
    }
}

void TestBatchMove::exportCommand() {
    QString status;
    auto show = [&](const QString& s) { status = s; };
    // No query run yet: nothing written, the count of the last export (none) shown.
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("vorher.dbf"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 0 Datensätze exportiert."));
    QVERIFY(!QFile::exists(m_dir.filePath("vorher.dbf")));

    standardSource(120);
    openSource();
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("neu.dbf"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 120 Datensätze exportiert."));
    QCOMPARE(m_query->RecNo(), 1); // back on the first row
    QCOMPARE(m_query->DisableCount(), 0);
    QCOMPARE(m_bm->DestTableName(), QStringLiteral("neu.dbf"));
    QCOMPARE(le32(readFile(m_dir.filePath("neu.dbf")), 4), 120u);

    // An Access export: the chosen file is the database, holding a table named after it.
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("kunden.mdb"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 120 Datensätze exportiert."));
    QCOMPARE(m_bm->DestTableName(), QStringLiteral("kunden"));
    if (mdbreaders::mdbtoolsPresent())
        QCOMPARE(mdbreaders::tables(m_dir.filePath("kunden.mdb")), QStringList{"kunden"});

    // An unknown extension exports nothing and shows the previous count.
    status.clear();
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("t.xlsb"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 120 Datensätze exportiert."));
    QVERIFY(!QFile::exists(m_dir.filePath("t.xlsb")));
    status.clear();
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("t.htm"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 120 Datensätze exportiert."));
    QVERIFY(!QFile::exists(m_dir.filePath("t.htm")));

    // An upper-case extension is the same: a dBASE III table under the name as given.
    m_query->Close();
    standardSource(7);
    openSource();
    exportQueryToFile(*m_bm, *m_query, m_dir.filePath("EXPORT.DBF"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 7 Datensätze exportiert."));
    const QByteArray dbf = readFile(m_dir.filePath("EXPORT.DBF"));
    QCOMPARE(dbf.size() > 32 ? int(quint8(dbf[0])) : -1, 0x03);
    QCOMPARE(le32(dbf, 4), 7u);

    // A failure still shows the previous count and resumes the controls; the row stays.
    m_query->Next();
    status.clear();
    QVERIFY_THROWS_EXCEPTION(
        DataError, exportQueryToFile(*m_bm, *m_query, m_dir.filePath("fehlt/x.mdb"), show));
    QCOMPARE(status, QString::fromUtf8("Es wurden 7 Datensätze exportiert."));
    QCOMPARE(m_query->DisableCount(), 0);
}

QTEST_GUILESS_MAIN(TestBatchMove)
#include "tst_batchmove.moc"
