// The stream exports (.csv, .json, .xlsx): every file is read back by a reader this project
// does not write (Python's csv and json modules, openpyxl), with every kind of value, NULLs,
// umlauts, separators, quotes and line breaks; a result running into further sheets; a
// cancel halfway that keeps the old file; staging left by a killed export cleaned up; the
// export job on its own thread.

#include "export/exportcommand.h"
#include "export/exportjob.h"
#include "export/fileio.h"
#include "export/streamexport.h"
#include "tests/export/readers.h"
#include "tests/export/streamstores.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

using namespace exportfile;
using data::ColumnInfo;
using data::ResultStore;
using data::StorageKind;
using testreaders::col;
using testreaders::everyKind;
using testreaders::readFile;
using testreaders::runPython;

namespace {

// n rows of (int, text), for the tests that need many rows.
std::shared_ptr<ResultStore> numbered(qint64 n) {
    ColumnInfo text = col("t", ftWideString, StorageKind::Utf16);
    text.size = 40;
    auto s = std::make_shared<ResultStore>(
        QList<ColumnInfo>{col("n", ftInteger, StorageKind::Int32), text});
    s->appendRows(n);
    for (qint64 r = 0; r < n; ++r) {
        s->setValue(r, 0, int(r));
        s->setValue(r, 1, QStringLiteral("Zeile %1").arg(r));
    }
    return s;
}

// Python's csv module: [[field, ...], ...].
QJsonArray readCsv(const QString& path, QChar separator) {
    static const QString script = QStringLiteral(R"(
import sys, json, csv
raw = open(sys.argv[1], 'rb').read()
assert raw.startswith(b'\xef\xbb\xbf'), 'no byte-order mark'
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    print(json.dumps(list(csv.reader(f, delimiter=sys.argv[2], strict=True))))
)");
    return runPython(script, {path, QString(separator)}).array();
}

// Python's json module: {"keys": [...], "rows": [[[type, text], ...], ...]}.
QJsonObject readJson(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, json
rows = json.load(open(sys.argv[1], encoding='utf-8'))
print(json.dumps({'keys': list(rows[0].keys()) if rows else [],
                  'rows': [[[type(v).__name__, v if isinstance(v, str) else repr(v)]
                            for v in r.values()] for r in rows]}))
)");
    return runPython(script, {path}).object();
}

// openpyxl's view: [{"name", "freeze", "filter", "bold", "rows": [[[type, text], ...]]}].
QJsonArray readXlsx(const QString& path) {
    static const QString script = QStringLiteral(R"(
import sys, re, json, datetime, openpyxl
# Control characters are written as _xHHHH_ escapes, which spreadsheets decode; openpyxl
# leaves them as they are in inline strings, so they are decoded here.
def unescape(s):
    return re.sub(r'_x([0-9A-F]{4})_', lambda m: chr(int(m.group(1), 16)), s)
wb = openpyxl.load_workbook(sys.argv[1])
out = []
for ws in wb.worksheets:
    def conv(c):
        v = c.value
        if v is None: return ['None', '']
        if isinstance(v, (datetime.datetime, datetime.date, datetime.time)):
            return [type(v).__name__, v.isoformat()]
        return [type(v).__name__, unescape(v) if isinstance(v, str) else repr(v)]
    out.append({'name': ws.title, 'freeze': ws.freeze_panes or '',
                'filter': ws.auto_filter.ref or '',
                'bold': all(c.font.b for c in ws[1]),
                'rows': [[conv(c) for c in row] for row in ws.iter_rows()]})
print(json.dumps(out))
)");
    return runPython(script, {path}).array();
}

QStringList texts(const QJsonArray& row) {
    QStringList out;
    for (const auto& v : row)
        out << (v.isArray() ? v.toArray()[0].toString() + u':' + v.toArray()[1].toString()
                            : v.toString());
    return out;
}

QStringList folderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class TestStreamExport : public QObject {
    Q_OBJECT
private slots:
    // Every test in a folder of its own, so it can tell what it left there.
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void names();
    void csvReadBack_data();
    void csvReadBack();
    void jsonReadBack();
    void jsonEmptyResult();
    void xlsxReadBack();
    void xlsxFurtherSheets();
    void exactTimesKeepTheirDigits();
    void utf16AsUtf8();
    void cancelKeepsOldFile_data();
    void cancelKeepsOldFile();
    void abandonedStagingRemoved();
    void jobOnItsThread();
    void batchMoveJob();
    void jobWritesTheRowsAsShown();
    void exportCommandStreams();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString folder() const { return m_dir->path(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestStreamExport::names() {
    QCOMPARE(csvSeparatorFor(QLocale(QLocale::German, QLocale::Germany)), QChar(u';'));
    QCOMPARE(csvSeparatorFor(QLocale(QLocale::English, QLocale::UnitedStates)), QChar(u','));
    QCOMPARE(sheetNameFor(QStringLiteral("a[b]:c*d?e/f\\g")), QStringLiteral("a_b__c_d_e_f_g"));
    QCOMPARE(sheetNameFor(QStringLiteral("'Umsätze 2024'")), QStringLiteral("Umsätze 2024"));
    QCOMPARE(sheetNameFor(QString(40, u'x')), QString(31, u'x'));
    QCOMPARE(sheetNameFor(QStringLiteral("''")), QStringLiteral("Tabelle"));
    QCOMPARE(sheetNameFor(QString()), QStringLiteral("Tabelle"));
    // A repeated or empty column name would let one value hide another in an object.
    QCOMPARE(
        uniqueKeys({col("a", ftInteger, StorageKind::Int32),
                    col("a", ftInteger, StorageKind::Int32), col("", ftInteger, StorageKind::Int32),
                    col("a_2", ftInteger, StorageKind::Int32)}),
        (QStringList{"a", "a_2", "Spalte3", "a_2_2"}));
    // The new extensions find their formats; .htm and others still find nothing.
    const auto xlsx = exportTargetForFile(QStringLiteral("/x/Kunden.XLSX"));
    QVERIFY(xlsx && xlsx->stream == StreamFormat::Xlsx);
    QCOMPARE(xlsx->filePath(), QStringLiteral("/x/Kunden.XLSX"));
    QCOMPARE(streamOptionsFor(*xlsx, QLocale::c()).sheetName, QStringLiteral("Kunden"));
    QVERIFY(exportTargetForFile(QStringLiteral("/x/a.csv"))->stream == StreamFormat::Csv);
    QVERIFY(exportTargetForFile(QStringLiteral("/x/a.json"))->stream == StreamFormat::Json);
    QVERIFY(!exportTargetForFile(QStringLiteral("/x/a.xlsm")));
}

void TestStreamExport::csvReadBack_data() {
    QTest::addColumn<QChar>("separator");
    QTest::newRow("comma") << QChar(u',');
    QTest::newRow("semicolon") << QChar(u';');
}

void TestStreamExport::csvReadBack() {
    QFETCH(QChar, separator);
    if (!testreaders::pythonHas("csv"))
        QSKIP("python3 is missing");
    StreamOptions options;
    options.csvSeparator = separator;
    const auto store = everyKind();
    QCOMPARE(writeStream(StreamFormat::Csv, *store, path("t.csv"), options), qint64(3));
    const QJsonArray rows = readCsv(path("t.csv"), separator);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(
        texts(rows[0].toArray()),
        (QStringList{"bit", "tiny", "small", "int", "big", "float", "money", "dec38", "datetime",
                     "date", "time", "guid", "varchar", QStringLiteral("Straße"), "varbinary"}));
    QCOMPARE(texts(rows[1].toArray()),
             (QStringList{"True", "200", "-12345", "2147483647", "42", "0.1", "1234.5678", "12.5",
                          "2024-02-29 13:45:30", "1999-12-31", "23:59:58",
                          "{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "plain",
                          QStringLiteral("Grüße aus Köln"), "0x0001FEFF"}));
    QCOMPARE(
        texts(rows[2].toArray()),
        (QStringList{"False", "0", "0", "-1", "1152921504606846976", "-1.5e+300",
                     "-922337203685477.5807", "12345678901234567890.123456789",
                     "1899-01-01 00:00:00", "1900-01-01", "00:00:00",
                     "{00000000-0000-0000-0000-000000000000}", "a;b,c \"zitiert\"\r\nzweite Zeile",
                     QStringLiteral("tab\there\\ and \x01 control"), "0x"}));
    QCOMPARE(texts(rows[3].toArray()), QStringList(15, QString()));
    // Quotes only where needed: the plain line has none.
    QVERIFY(readFile(path("t.csv")).contains(separator == u',' ? "True,200,-12345" : "True;200"));
}

void TestStreamExport::jsonReadBack() {
    const auto store = everyKind();
    QCOMPARE(writeStream(StreamFormat::Json, *store, path("t.json"), {}), qint64(3));
    const QJsonObject doc = readJson(path("t.json"));
    QCOMPARE(doc[u"keys"].toArray().size(), 15);
    QCOMPARE(doc[u"keys"].toArray()[13].toString(), QStringLiteral("Straße"));
    const QJsonArray rows = doc[u"rows"].toArray();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(
        texts(rows[0].toArray()),
        (QStringList{"bool:True", "int:200", "int:-12345", "int:2147483647", "int:42", "float:0.1",
                     "float:1234.5678", "float:12.5", "str:2024-02-29 13:45:30", "str:1999-12-31",
                     "str:23:59:58", "str:6F9619FF-8B86-D011-B42D-00C04FC964FF", "str:plain",
                     QStringLiteral("str:Grüße aus Köln"), "str:AAH+/w=="}));
    // Digits a double would lose stay exact, as strings; binaries are base64.
    QCOMPARE(
        texts(rows[1].toArray()),
        (QStringList{"bool:False", "int:0", "int:0", "int:-1", "str:1152921504606846976",
                     "float:-1.5e+300", "str:-922337203685477.5807",
                     "str:12345678901234567890.123456789", "str:1899-01-01 00:00:00",
                     "str:1900-01-01", "str:00:00:00", "str:00000000-0000-0000-0000-000000000000",
                     "str:a;b,c \"zitiert\"\r\nzweite Zeile",
                     QStringLiteral("str:tab\there\\ and \x01 control"), "str:"}));
    QCOMPARE(texts(rows[2].toArray()), QStringList(15, QStringLiteral("NoneType:None")));
}

void TestStreamExport::jsonEmptyResult() {
    ResultStore empty(QList<ColumnInfo>{col("a", ftInteger, StorageKind::Int32)});
    QCOMPARE(writeStream(StreamFormat::Json, empty, path("e.json"), {}), qint64(0));
    QCOMPARE(readJson(path("e.json"))[u"rows"].toArray().size(), 0);
}

void TestStreamExport::xlsxReadBack() {
    if (!testreaders::pythonHas("openpyxl"))
        QSKIP("python3-openpyxl is missing");
    StreamOptions options;
    options.sheetName = QStringLiteral("Umsätze: 2024/25");
    const auto store = everyKind();
    QCOMPARE(writeStream(StreamFormat::Xlsx, *store, path("t.xlsx"), options), qint64(3));
    // Nothing but the file: no staging and no temporary files beside it.
    QCOMPARE(folderEntries(folder()), QStringList{"t.xlsx"});
    const QJsonArray sheets = readXlsx(path("t.xlsx"));
    QCOMPARE(sheets.size(), 1);
    const QJsonObject sheet = sheets[0].toObject();
    QCOMPARE(sheet[u"name"].toString(), QStringLiteral("Umsätze_ 2024_25"));
    QCOMPARE(sheet[u"freeze"].toString(), QStringLiteral("A2"));
    QCOMPARE(sheet[u"filter"].toString(), QStringLiteral("A1:O4"));
    QVERIFY(sheet[u"bold"].toBool());
    // The row of NULLs has empty cells only, so the reader's rows end before it; the filter
    // still spans it.
    const QJsonArray rows = sheet[u"rows"].toArray();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(texts(rows[0].toArray())[13], QStringLiteral("str:Straße"));
    QCOMPARE(texts(rows[1].toArray()),
             (QStringList{"bool:True", "int:200", "int:-12345", "int:2147483647", "int:42",
                          "float:0.1", "float:1234.5678", "float:12.5",
                          "datetime:2024-02-29T13:45:30", "datetime:1999-12-31T00:00:00",
                          "time:23:59:58", "str:6F9619FF-8B86-D011-B42D-00C04FC964FF", "str:plain",
                          QStringLiteral("str:Grüße aus Köln"), "str:0x0001FEFF"}));
    // Before 1900-03-01 (where spreadsheets count days differently) the ISO text. Long integers
    // and decimals keep their digits as text.
    QCOMPARE(
        texts(rows[2].toArray()),
        (QStringList{"bool:False", "int:0", "int:0", "int:-1", "str:1152921504606846976",
                     "float:-1.5e+300", "str:-922337203685477.5807",
                     "str:12345678901234567890.123456789", "str:1899-01-01 00:00:00",
                     "str:1900-01-01", "time:00:00:00", "str:00000000-0000-0000-0000-000000000000",
                     "str:a;b,c \"zitiert\"\r\nzweite Zeile",
                     QStringLiteral("str:tab\there\\ and \x01 control"), "str:0x"}));
}

void TestStreamExport::xlsxFurtherSheets() {
    if (!testreaders::pythonHas("openpyxl"))
        QSKIP("python3-openpyxl is missing");
    StreamOptions options;
    options.sheetName = QString(31, u'K');
    options.sheetRows = 3;
    const auto store = numbered(7);
    QCOMPARE(writeStream(StreamFormat::Xlsx, *store, path("s.xlsx"), options), qint64(7));
    const QJsonArray sheets = readXlsx(path("s.xlsx"));
    QCOMPARE(sheets.size(), 3);
    QStringList names;
    QList<int> counts;
    QStringList firsts;
    for (const auto& s : sheets) {
        const QJsonObject o = s.toObject();
        names << o[u"name"].toString();
        const QJsonArray rows = o[u"rows"].toArray();
        counts << int(rows.size());
        QCOMPARE(texts(rows[0].toArray()), (QStringList{"str:n", "str:t"})); // titles on each
        QCOMPARE(o[u"freeze"].toString(), QStringLiteral("A2"));
        firsts << texts(rows[1].toArray())[0];
    }
    QCOMPARE(names, (QStringList{QString(31, u'K'), QString(27, u'K') + " (2)",
                                 QString(27, u'K') + " (3)"}));
    QCOMPARE(counts, (QList<int>{4, 4, 2}));
    QCOMPARE(firsts, (QStringList{"int:0", "int:3", "int:6"}));
    QCOMPARE(sheets[2].toObject()[u"filter"].toString(), QStringLiteral("A1:B2"));
}

// datetime2(7) and time(7) go with all seven digits where the file holds
// text; datetimeoffset (text in the store) with its offset. A spreadsheet
// gets a date serial shown with milliseconds, as far as it can hold them.
void TestStreamExport::exactTimesKeepTheirDigits() {
    ColumnInfo dt2 = col("dt2", ftDateTime, StorageKind::DateTime, 7);
    dt2.typeName = QStringLiteral("datetime2");
    ColumnInfo t7 = col("t7", ftTime, StorageKind::Time, 7);
    t7.typeName = QStringLiteral("time");
    ColumnInfo dto = col("dto", ftWideString, StorageKind::Utf16);
    dto.typeName = QStringLiteral("datetimeoffset");
    ResultStore store(
        QList<ColumnInfo>{dt2, t7, dto, col("old", ftDateTime, StorageKind::DateTime)});
    store.appendRows(1);
    store.setValue(0, 0, QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 123), Qt::UTC));
    store.setValue(0, 1, QTime(13, 14, 15, 123));
    store.setValue(0, 2, QStringLiteral("2024-02-29 13:14:15.1234567 +05:30"));
    store.setValue(0, 3, QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 123), Qt::UTC));
    // The 100 ns beyond the milliseconds, as the driver delivers them.
    for (int c = 0; c < 2; ++c) {
        const std::int64_t ticks = store.integer(0, c) + 4567;
        std::memcpy(store.fixedSlot(0, c), &ticks, 8);
    }
    QCOMPARE(store.text(0, 0), QStringLiteral("2024-02-29 13:14:15.1234567"));

    QCOMPARE(writeStream(StreamFormat::Csv, store, path("z.csv"), {}), qint64(1));
    const QJsonArray csv = readCsv(path("z.csv"), u',');
    QCOMPARE(csv[1].toArray()[0].toString(), QStringLiteral("2024-02-29 13:14:15.1234567"));
    QCOMPARE(csv[1].toArray()[1].toString(), QStringLiteral("13:14:15.1234567"));
    QCOMPARE(csv[1].toArray()[2].toString(), QStringLiteral("2024-02-29 13:14:15.1234567 +05:30"));
    QCOMPARE(csv[1].toArray()[3].toString(), QStringLiteral("2024-02-29 13:14:15.123"));

    QCOMPARE(writeStream(StreamFormat::Json, store, path("z.json"), {}), qint64(1));
    QCOMPARE(
        texts(readJson(path("z.json"))[u"rows"].toArray()[0].toArray()),
        (QStringList{"str:2024-02-29 13:14:15.1234567", "str:13:14:15.1234567",
                     "str:2024-02-29 13:14:15.1234567 +05:30", "str:2024-02-29 13:14:15.123"}));

    if (!testreaders::pythonHas("openpyxl"))
        QSKIP("python3-openpyxl is missing");
    QCOMPARE(writeStream(StreamFormat::Xlsx, store, path("z.xlsx"), {}), qint64(1));
    const QJsonArray formats = runPython(QStringLiteral(R"(
import sys, json, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
print(json.dumps([[c.number_format, c.value.isoformat() if hasattr(c.value, 'isoformat')
                   else str(c.value)] for c in ws[2]]))
)"),
                                         {path("z.xlsx")})
                                   .array();
    QCOMPARE(formats[0].toArray()[0].toString(), QStringLiteral("yyyy-mm-dd hh:mm:ss.000"));
    QVERIFY2(formats[0].toArray()[1].toString().startsWith(u"2024-02-29T13:14:15.123"),
             qPrintable(formats[0].toArray()[1].toString()));
    QCOMPARE(formats[1].toArray()[0].toString(), QStringLiteral("hh:mm:ss.000"));
    QCOMPARE(formats[2].toArray()[1].toString(),
             QStringLiteral("2024-02-29 13:14:15.1234567 +05:30"));
    QCOMPARE(formats[3].toArray()[0].toString(), QStringLiteral("yyyy-mm-dd hh:mm:ss"));
}

void TestStreamExport::utf16AsUtf8() {
    // Characters of one to four UTF-8 bytes, a surrogate pair, lone surrogates (U+FFFD), an
    // empty text and a long one, in .csv and .json alike.
    const QString longText = QString(3000, u'ß') + u'x';
    const QList<QString> values{QStringLiteral("aä€"),
                                QString::fromUtf16(u"\U0001D11E!"),
                                QString(QChar(0xD834)) + u'y',
                                u'z' + QString(QChar(0xDD1E)),
                                QStringLiteral(""),
                                longText};
    ResultStore store(QList<ColumnInfo>{col("t", ftWideString, StorageKind::Utf16)});
    store.appendRows(values.size());
    for (int r = 0; r < values.size(); ++r)
        store.setValue(r, 0, values[r]);
    QCOMPARE(writeStream(StreamFormat::Csv, store, path("u.csv"), {}), qint64(values.size()));
    QCOMPARE(writeStream(StreamFormat::Json, store, path("u.json"), {}), qint64(values.size()));
    const QByteArray expected[] = {
        "a\xc3\xa4\xe2\x82\xac", "\xf0\x9d\x84\x9e!", "\xef\xbf\xbdy", "z\xef\xbf\xbd", "",
        longText.toUtf8()};
    QByteArray csv = "\xEF\xBB\xBFt\r\n";
    QByteArray json = "[";
    for (const QByteArray& e : expected) {
        csv += e + "\r\n";
        json += QByteArray(json.size() > 1 ? "," : "") + "\n{\"t\":\"" + e + "\"}";
    }
    QCOMPARE(readFile(path("u.csv")), csv);
    QCOMPARE(readFile(path("u.json")), json + "\n]\n");
}

void TestStreamExport::cancelKeepsOldFile_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<qint64>("cancelAt"); // rows written when the cancel comes
    QTest::newRow("csv") << int(StreamFormat::Csv) << qint64(20000);
    QTest::newRow("json") << int(StreamFormat::Json) << qint64(20000);
    QTest::newRow("xlsx") << int(StreamFormat::Xlsx) << qint64(20000);
    // Every row written, the workbook assembling its file: the close is left to end by itself.
    QTest::newRow("xlsx while assembled") << int(StreamFormat::Xlsx) << qint64(40000);
}

void TestStreamExport::cancelKeepsOldFile() {
    QFETCH(int, format);
    QFETCH(qint64, cancelAt);
    const auto store = numbered(40000);
    const QString old = path("alt.datei");
    {
        QFile f(old);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("der alte Inhalt");
    }
    std::atomic<bool> cancel{false};
    qint64 seen = 0;
    StreamControl control;
    control.cancel = &cancel;
    control.progress = [&](qint64 rows) {
        seen = rows;
        if (rows >= cancelAt)
            cancel = true;
    };
    QVERIFY_THROWS_EXCEPTION(ExportCancelled,
                             writeStream(StreamFormat(format), *store, old, {}, control));
    QVERIFY(seen >= cancelAt && (seen < 40000 || cancelAt == 40000));
    QCOMPARE(readFile(old), QByteArray("der alte Inhalt"));
    // A close left running removes its staging when it ends.
    QTRY_COMPARE(folderEntries(folder()), QStringList{"alt.datei"});
    // A cancelled export to a new name leaves nothing.
    cancel = false;
    QVERIFY_THROWS_EXCEPTION(
        ExportCancelled, writeStream(StreamFormat(format), *store, path("neu.datei"), {}, control));
    QTRY_COMPARE(folderEntries(folder()), QStringList{"alt.datei"});
    QCOMPARE(readFile(old), QByteArray("der alte Inhalt"));
    QFile::remove(old);
}

void TestStreamExport::abandonedStagingRemoved() {
    // A staging folder whose marker nobody locks was left by a killed export.
    const QString abandoned = path(".kunden.dbf.Ab12Cd");
    QVERIFY(QDir().mkpath(abandoned));
    for (const char* name : {kStagingMarker, "kunden.dbf"}) {
        QFile f(abandoned + u'/' + QLatin1String(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // A hidden folder of someone else's and the staging of an export still running stay.
    QVERIFY(QDir().mkpath(path(".config")));
    auto running = std::make_unique<StagedFiles>(path("laeuft.dbf"));
    QCOMPARE(folderEntries(folder()).size(), 3);

    const auto store = numbered(5);
    writeStream(StreamFormat::Csv, *store, path("neu.csv"), {});
    QStringList entries = folderEntries(folder());
    QVERIFY(!entries.contains(QStringLiteral(".kunden.dbf.Ab12Cd")));
    QVERIFY(entries.contains(QStringLiteral(".config")));
    QVERIFY(entries.contains(QStringLiteral("neu.csv")));
    QCOMPARE(entries.size(), 3); // .config, the running staging, neu.csv
    running.reset();
    QCOMPARE(removeAbandonedStaging(folder()), 0); // its owner removed it
    QCOMPARE(folderEntries(folder()), (QStringList{".config", "neu.csv"}));
}

void TestStreamExport::jobOnItsThread() {
    const auto store = numbered(20000);
    const QString target = path("job.json");
    {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[]");
    }
    // Cancelled at once: the old file stays, the job says it was cancelled.
    {
        ExportJob job(store, StreamFormat::Json, target, {});
        job.cancel();
        QSignalSpy spy(&job, &ExportJob::finished);
        QVERIFY(spy.wait(10000));
        QCOMPARE(spy[0][1].toBool(), true);
        QVERIFY(!job.running());
    }
    QCOMPARE(readFile(target), QByteArray("[]"));
    // Run to the end: every row written and counted.
    {
        ExportJob job(store, StreamFormat::Json, target, {});
        QCOMPARE(job.rowsTotal(), qint64(20000));
        QSignalSpy spy(&job, &ExportJob::finished);
        QVERIFY(spy.wait(10000));
        QCOMPARE(spy[0][0].toLongLong(), qint64(20000));
        QCOMPARE(spy[0][1].toBool(), false);
        QCOMPARE(job.rowsWritten(), qint64(20000));
    }
    QCOMPARE(readJson(target)[u"rows"].toArray().size(), 20000);
    // A job destroyed while it runs stops and leaves the file as it was.
    const QByteArray complete = readFile(target);
    { ExportJob job(store, StreamFormat::Csv, target, {}); }
    QCOMPARE(readFile(target), complete);
    QCOMPARE(folderEntries(folder()), QStringList{"job.json"});
}

// A result shown sorted goes out in the order shown, edits included, for a
// stream format and a format of the batch move alike.
void TestStreamExport::jobWritesTheRowsAsShown() {
    const auto store = numbered(5);
    store->beginRowChange(3);
    store->setCell(3, 1, QStringLiteral("geändert"));
    const std::vector<qint64> shown{3, 0, 4, 1, 2};
    const QString csv = path("sortiert.csv");
    StreamOptions options;
    options.csvSeparator = u';';
    for (const QString& file : {csv, path("sortiert.dbf")}) {
        ExportJob job(store, *exportTargetForFile(file), options, nullptr, shown);
        QSignalSpy spy(&job, &ExportJob::finished);
        QVERIFY(spy.wait(20000));
        QVERIFY(!spy[0][2].value<std::exception_ptr>());
        QCOMPARE(spy[0][0].toLongLong(), qint64(5));
    }
    const QJsonArray rows = readCsv(csv, u';');
    QStringList first;
    for (const auto& row : rows)
        first << row.toArray().at(0).toString() + u'=' + row.toArray().at(1).toString();
    QCOMPARE(first.mid(1),
             (QStringList{"3=geändert", "0=Zeile 0", "4=Zeile 4", "1=Zeile 1", "2=Zeile 2"}));
    QCOMPARE(testreaders::le32(readFile(path("sortiert.dbf")), 4), 5u);
    QVERIFY(store->rowCount() == 5); // the result itself keeps its order
}

void TestStreamExport::batchMoveJob() {
    // The formats of the batch move run on the job's thread too, over a dataset of their own
    // on the same store.
    const auto store = numbered(300);
    const auto dbf = exportTargetForFile(path("kunden.dbf"));
    QVERIFY(dbf);
    {
        ExportJob job(store, *dbf, {});
        QSignalSpy spy(&job, &ExportJob::finished);
        QVERIFY(spy.wait(20000));
        if (const auto error = spy[0][2].value<std::exception_ptr>()) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                QFAIL(e.what());
            }
        }
        QCOMPARE(spy[0][0].toLongLong(), qint64(300));
        QCOMPARE(job.rowsWritten(), qint64(300));
    }
    QCOMPARE(testreaders::le32(readFile(path("kunden.dbf")), 4), 300u);
    // Cancelled: the table of before stays, nothing else is left.
    const QByteArray before = readFile(path("kunden.dbf"));
    const auto big = numbered(20000);
    {
        ExportJob job(big, *dbf, {});
        job.cancel();
        QSignalSpy spy(&job, &ExportJob::finished);
        QVERIFY(spy.wait(20000));
        QCOMPARE(spy[0][1].toBool(), true);
    }
    QCOMPARE(readFile(path("kunden.dbf")), before);
    QCOMPARE(folderEntries(folder()), QStringList{"kunden.dbf"});
    // A failure reaches finished() as the error.
    const auto missing = exportTargetForFile(path("fehlt/x.txt"));
    ExportJob job(store, *missing, {});
    QSignalSpy spy(&job, &ExportJob::finished);
    QVERIFY(spy.wait(20000));
    QVERIFY(spy[0][2].value<std::exception_ptr>());
}

void TestStreamExport::exportCommandStreams() {
    // Through the export command: the query's store is written, the count shown.
    data::registerProvider(QStringLiteral("Test.Fixed"), [] {
        struct Session : data::ProviderConnection {
            std::shared_ptr<ResultStore> query(const QString&, const data::QueryOptions&,
                                               data::MessageList&) override {
                return numbered(12);
            }
            void execute(const QString&, const QList<QVariant>&, const data::QueryOptions&,
                         data::MessageList&) override {}
            std::shared_ptr<ResultStore> openTable(const QString&, const data::QueryOptions&,
                                                   data::MessageList&) override {
                return {};
            }
            void appendRows(const QString&, const ResultStore&, qint64) override {}
            QStringList tableNames(bool) override { return {}; }
            QList<data::PropertyEntry> properties() override { return {}; }
        };
        struct Provider : data::Provider {
            QString name() const override { return QStringLiteral("Test.Fixed"); }
            std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                              data::MessageList&) override {
                return std::make_unique<Session>();
            }
        };
        return std::make_shared<Provider>();
    });
    TADOConnection connection;
    connection.setConnectionString(QStringLiteral("Provider=Test.Fixed"));
    TADODataSet query;
    query.setConnection(&connection);
    query.setCommandText(QStringLiteral("rows"));
    TVelADObatchmove batchMove;
    batchMove.setADODataset(&query);
    QString status;
    const auto show = [&](const QString& s) { status = s; };
    // No result set yet: nothing written.
    exportQueryToFile(batchMove, query, path("leer.csv"), show);
    QVERIFY(!QFile::exists(path("leer.csv")));
    query.Open();
    exportQueryToFile(batchMove, query, path("zwoelf.csv"), show);
    QCOMPARE(status, QString::fromUtf8("Es wurden 12 Datensätze exportiert."));
    QVERIFY(readFile(path("zwoelf.csv")).startsWith("\xEF\xBB\xBFn"));
    QCOMPARE(exportProgressText(5, 12), QString::fromUtf8("5 von 12 Datensätzen exportiert"));
    // A cancel ends with the old file kept and the previous count.
    std::atomic<bool> cancel{true};
    ExportControl control;
    control.cancel = &cancel;
    QVERIFY_THROWS_EXCEPTION(
        ExportCancelled, exportQueryToFile(batchMove, query, path("zwoelf.csv"), show, control));
    QVERIFY(readFile(path("zwoelf.csv")).startsWith("\xEF\xBB\xBFn"));
    QCOMPARE(status, QString::fromUtf8("Es wurden 12 Datensätze exportiert."));
}

QTEST_GUILESS_MAIN(TestStreamExport)
#include "tst_streamexport.moc"
