// The file writers: headers and records byte for byte where the layout is the point, and
// round trips through independent readers (dbfread, xlrd, pxlib) for what other programs see.
#include "export/compoundfile.h"
#include "export/dbfwriter.h"
#include "export/desktopprovider.h"
#include "export/paradoxwriter.h"
#include "export/tablewriter.h"
#include "export/textwriters.h"
#include "export/values.h"
#include "export/xlswriter.h"
#include "tests/export/readers.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>

extern "C" {
#include <paradox.h>
}

using namespace exportfile;
using namespace testreaders;

namespace {

ColumnDef col(const char* name, ColumnType type, int size = 0) {
    ColumnDef c;
    c.name = QString::fromUtf8(name);
    c.type = type;
    c.size = size;
    if (type == ColumnType::Numeric) {
        c.precision = 15;
        c.scale = 4;
    }
    return c;
}

// A table of every column type, two rows of values and one of nulls.
TableSchema mixedSchema(const QString& name) {
    return {name,
            {col("ID", ColumnType::Integer), col("Name", ColumnType::Char, 20),
             col("Preis", ColumnType::Numeric), col("Wert", ColumnType::Float),
             col("Aktiv", ColumnType::Bit), col("Tag", ColumnType::Date),
             col("Zeitpunkt", ColumnType::DateTime), col("Uhr", ColumnType::Time),
             col("Notiz", ColumnType::Memo)}};
}

std::vector<std::vector<QVariant>> mixedRows() {
    return {
        {QVariant(qint64(1)), QString::fromUtf8("Müller & Söhne"), 12.5, 0.25, true,
         QDate(2024, 2, 29), QDateTime(QDate(2024, 3, 1), QTime(13, 45, 30), Qt::UTC),
         QTime(8, 5, 0), QString::fromUtf8("Größe\r\nzweite Zeile")},
        {QVariant(qint64(-42)), QString::fromUtf8("\"Zitat\""), -0.0001, 1e20, false,
         QDate(1899, 12, 31), QDateTime(QDate(1950, 1, 2), QTime(0, 0), Qt::UTC), QTime(23, 59, 59),
         QString(600, QLatin1Char('x'))},
        {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
         QVariant(), QVariant()},
    };
}

QString fieldTypes(const QJsonArray& fields) {
    QStringList out;
    for (const auto& f : fields) {
        const QJsonArray a = f.toArray();
        out << QStringLiteral("%1:%2%3.%4")
                   .arg(a[0].toString(), a[1].toString())
                   .arg(a[2].toInt())
                   .arg(a[3].toInt());
    }
    return out.join(u' ');
}

// pxlib's reader leaves parts of its document uninitialised; zeroed memory keeps its
// reading deterministic.
void* zeroedAlloc(pxdoc_t*, size_t size, const char*) {
    return calloc(1, size);
}
void* plainRealloc(pxdoc_t*, void* mem, size_t size, const char*) {
    return realloc(mem, size);
}
void plainFree(pxdoc_t*, void* mem) {
    free(mem);
}
void quietErrors(pxdoc_t*, int, const char*, void*) {}

// Values at the edges of what the writers' fast paths take on their own.
std::vector<std::vector<QVariant>> edgeRows() {
    const QString emoji = QString::fromUtf8("Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
    return {
        {QVariant(qint64(-2147483647 - 1)), QString(20, QChar(0x20AC)), 0.125, -0.0, true,
         QDate(1, 1, 1), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),
         QTime(0, 0, 0, 1), emoji},
        {QVariant(qint64(0)), emoji, -0.00001, 0.00001, false, QDate(9999, 12, 31),
         QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC), QTime(12, 0), QString()},
        {QVariant(qint64(2147483647)), QStringLiteral("a\"b\"\"c,d\r\n"), 99999999999.9999,
         123456789.123, true, QDate(2000, 2, 29),
         QDateTime(QDate(2005, 6, 7), QTime(8, 9, 10, 20), Qt::UTC), QTime(23, 59, 59, 999),
         QStringLiteral("\"")},
        {QVariant(qint64(-1)), QString(), 1234.5625, 1e-300, QVariant(), QVariant(), QVariant(),
         QVariant(), QVariant()},
    };
}

} // namespace

class TestWriters : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void dbfFieldMapping_data();
    void dbfFieldMapping();
    void dbaseBytes();
    void dbfReadBack_data();
    void dbfReadBack();
    void dbfNullsInVisualFoxPro();
    void dbfMemoFiles_data();
    void dbfMemoFiles();
    void dbfRefusals_data();
    void dbfRefusals();
    void dbfEmptyTable();

    void textFile();
    void htmlFile();

    void xlsReadBack_data();
    void xlsReadBack();
    void xlsLongTextsSpanRecords();
    void xlsRowsContinueOnNextSheet();
    void xlsWorksheetFileLimit();
    void xlsSerialDates_data();
    void xlsSerialDates();
    void compoundFileWithManySectors();
    void compoundFileFromDeviceRanges();
    void sharedStringTable();
    void xlsManyTextsOverSheetsAndFinishes();

    void paradoxReadBack_data();
    void paradoxReadBack();
    void paradoxMemoAndRefusals();

    void cp1252();
    void numberForms();
    void textAndHtmlReadBack_data();
    void textAndHtmlReadBack();
    void storeRowsWriteWhatValuesWrite_data();
    void storeRowsWriteWhatValuesWrite();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    bool m_dbfread = false;
    bool m_xlrd = false;
};

void TestWriters::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (qEnvironmentVariableIsSet("EXPORT_TEST_KEEP")) {
        m_dir.setAutoRemove(false);
        qInfo("files in %s", qPrintable(m_dir.path()));
    }
    m_dbfread = pythonHas("dbfread");
    m_xlrd = pythonHas("xlrd");
}

void TestWriters::dbfFieldMapping_data() {
    QTest::addColumn<int>("flavor");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected"); // type, length, decimals

    const int III = int(DbfFlavor::DBase3), IV = int(DbfFlavor::DBase4),
              FOX = int(DbfFlavor::FoxPro2), VFP = int(DbfFlavor::VisualFoxPro);
    struct Row {
        const char* tag;
        int flavor;
        ColumnType type;
        const char* expected;
    };
    const Row rows[] = {
        {"III integer", III, ColumnType::Integer, "N 20 0"},
        {"III float", III, ColumnType::Float, "N 20 6"},
        {"IV float", IV, ColumnType::Float, "F 20 6"},
        {"FoxPro float", FOX, ColumnType::Float, "F 20 6"},
        {"III numeric", III, ColumnType::Numeric, "N 17 4"},
        {"III bit", III, ColumnType::Bit, "L 1 0"},
        {"III datetime", III, ColumnType::DateTime, "D 8 0"},
        {"IV timestamp", IV, ColumnType::Timestamp, "D 8 0"},
        {"III time", III, ColumnType::Time, "C 8 0"},
        {"III memo", III, ColumnType::Memo, "M 10 0"},
        {"VFP integer", VFP, ColumnType::Integer, "I 4 0"},
        {"VFP float", VFP, ColumnType::Float, "B 8 0"},
        {"VFP numeric", VFP, ColumnType::Numeric, "Y 8 4"},
        {"VFP datetime", VFP, ColumnType::DateTime, "T 8 0"},
        {"VFP timestamp", VFP, ColumnType::Timestamp, "T 8 0"},
        {"VFP memo", VFP, ColumnType::Memo, "M 4 0"},
        {"VFP date", VFP, ColumnType::Date, "D 8 0"},
    };
    for (const Row& r : rows)
        QTest::newRow(r.tag) << r.flavor << int(r.type) << QString::fromLatin1(r.expected);
}

void TestWriters::dbfFieldMapping() {
    QFETCH(int, flavor);
    QFETCH(int, type);
    QFETCH(QString, expected);
    const DbfField f = dbfFieldFor(col("X", ColumnType(type)), DbfFlavor(flavor));
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(QChar(f.type)).arg(f.length).arg(f.decimals), expected);
}

void TestWriters::dbaseBytes() {
    const TableSchema schema{"kunden.dbf",
                             {col("ID", ColumnType::Integer), col("Name", ColumnType::Char, 10),
                              col("Ok", ColumnType::Bit), col("Tag", ColumnType::DateTime),
                              col("Notiz", ColumnType::Memo)}};
    const QString file = path("bytes.dbf");
    writeTable(FileFormat::DBase3, schema,
               {{qint64(7), QString::fromUtf8("Müller"), true,
                 QDateTime(QDate(2024, 12, 31), QTime(23, 0), Qt::UTC), QStringLiteral("Hallo")},
                {QVariant(), QVariant(), QVariant(), QVariant(), QVariant()}},
               file);
    const QByteArray b = readFile(file);
    QCOMPARE(quint8(b[0]), quint8(0x83)); // dBASE III with memo
    QCOMPARE(le32(b, 4), 2u);
    const int headerLength = 32 + 32 * 5 + 1;
    QCOMPARE(int(le16(b, 8)), headerLength);
    const int recordLength = 1 + 20 + 10 + 1 + 8 + 10;
    QCOMPARE(int(le16(b, 10)), recordLength);
    QCOMPARE(quint8(b[29]), quint8(0x03)); // code page 1252
    QCOMPARE(b.mid(32, 11), QByteArray("ID\0\0\0\0\0\0\0\0\0", 11));
    QCOMPARE(b[32 + 11], 'N');
    QCOMPARE(quint8(b[32 + 32 * 4 + 11]), quint8('M'));
    QCOMPARE(b[headerLength - 1], '\x0d');
    const QByteArray r1 = b.mid(headerLength, recordLength);
    QCOMPARE(r1, QByteArray(" ") + QByteArray(19, ' ') + "7" + "M\xfcller    " + "T" + "20241231" +
                     "         1");
    const QByteArray r2 = b.mid(headerLength + recordLength, recordLength);
    QCOMPARE(r2, QByteArray(" ") + QByteArray(30, ' ') + "?" + QByteArray(18, ' '));
    QCOMPARE(b.size(), headerLength + 2 * recordLength + 1);
    QCOMPARE(b.back(), '\x1a');

    const QByteArray memo = readFile(path("bytes.dbt"));
    QCOMPARE(memo.size(), 1024);
    QCOMPARE(le32(memo, 0), 2u); // next free block
    QCOMPARE(memo.mid(512, 7), QByteArray("Hallo\x1a\x1a"));
}

void TestWriters::dbfReadBack_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("fields");
    QTest::newRow("dBASE III") << int(FileFormat::DBase3) << 0x83
                               << "ID:N20.0 Name:C20.0 Preis:N17.4 Wert:N20.6 Aktiv:L1.0 Tag:D8.0 "
                                  "Zeitpunkt:D8.0 Uhr:C8.0 Notiz:M10.0";
    QTest::newRow("dBASE 5.0") << int(FileFormat::DBase5) << 0x8B
                               << "ID:N20.0 Name:C20.0 Preis:N17.4 Wert:F20.6 Aktiv:L1.0 Tag:D8.0 "
                                  "Zeitpunkt:D8.0 Uhr:C8.0 Notiz:M10.0";
    QTest::newRow("FoxPro 2.6") << int(FileFormat::Fox26) << 0xF5
                                << "ID:N20.0 Name:C20.0 Preis:N17.4 Wert:F20.6 Aktiv:L1.0 Tag:D8.0 "
                                   "Zeitpunkt:D8.0 Uhr:C8.0 Notiz:M10.0";
    QTest::newRow("FoxPro 3.0") << int(FileFormat::Fox30) << 0x30
                                << "ID:I4.0 Name:C20.0 Preis:Y8.4 Wert:B8.0 Aktiv:L1.0 Tag:D8.0 "
                                   "Zeitpunkt:T8.0 Uhr:C8.0 Notiz:M4.0 _NullFlags:02.0";
}

void TestWriters::dbfReadBack() {
    if (!m_dbfread)
        QSKIP("python3-dbfread is not installed");
    QFETCH(int, format);
    QFETCH(int, version);
    QFETCH(QString, fields);
    const QString file = path(QStringLiteral("mixed%1.dbf").arg(format));
    writeTable(FileFormat(format), mixedSchema("mixed"), mixedRows(), file);
    const QJsonObject o = readDbf(file).object();
    QVERIFY(!o.isEmpty());
    QCOMPARE(o["version"].toInt(), version);
    QCOMPARE(o["encoding"].toString(), QStringLiteral("cp1252"));
    QCOMPARE(fieldTypes(o["fields"].toArray()), fields);
    const QJsonArray records = o["records"].toArray();
    QCOMPARE(records.size(), 3);
    const bool vfp = format == int(FileFormat::Fox30);
    const QJsonArray r0 = records[0].toArray();
    QCOMPARE(r0[0].toInt(), 1);
    QCOMPARE(r0[1].toString(), QString::fromUtf8("Müller & Söhne"));
    QCOMPARE(r0[2].toVariant().toDouble(), 12.5);
    QCOMPARE(r0[3].toDouble(), 0.25);
    QCOMPARE(r0[4].toBool(), true);
    QCOMPARE(r0[5].toString(), QStringLiteral("2024-02-29"));
    QCOMPARE(r0[6].toString(),
             vfp ? QStringLiteral("2024-03-01T13:45:30") : QStringLiteral("2024-03-01"));
    QCOMPARE(r0[7].toString(), QStringLiteral("08:05:00"));
    if (format != int(FileFormat::DBase5)) // dbfread reads past the end of dBASE IV memos
        QCOMPARE(r0[8].toString(), QString::fromUtf8("Größe\r\nzweite Zeile"));
    const QJsonArray r1 = records[1].toArray();
    QCOMPARE(r1[0].toInt(), -42);
    QCOMPARE(r1[1].toString(), QStringLiteral("\"Zitat\""));
    QCOMPARE(r1[2].toVariant().toDouble(), -0.0001);
    QCOMPARE(r1[3].toDouble(), 1e20); // written in scientific form where fixed does not fit
    QCOMPARE(r1[4].toBool(), false);
    QCOMPARE(r1[5].toString(), QStringLiteral("1899-12-31"));
    if (format != int(FileFormat::DBase5))
        QCOMPARE(r1[8].toString().size(), 600);
    const QJsonArray r2 = records[2].toArray();
    if (!vfp) {
        // Without null flags a null is what the format shows for empty: blanks.
        QVERIFY(r2[0].isNull());
        QCOMPARE(r2[1].toString(), QString());
        QVERIFY(r2[4].isNull());
        QVERIFY(r2[5].isNull());
        QVERIFY(r2[8].isNull() || r2[8].toString().isEmpty());
    }
}

void TestWriters::dbfNullsInVisualFoxPro() {
    if (!m_dbfread)
        QSKIP("python3-dbfread is not installed");
    const QString file = path("nulls.dbf");
    writeTable(FileFormat::Fox30, mixedSchema("nulls"), mixedRows(), file);
    const QJsonObject o = readDbf(file).object();
    const QJsonArray flags = o["nullflags"].toArray();
    QCOMPARE(flags.size(), 3);
    QCOMPARE(flags[0].toString(), QStringLiteral("0000"));
    QCOMPARE(flags[2].toString(), QStringLiteral("ff01")); // all nine columns null
    const QByteArray b = readFile(file);
    QCOMPARE(quint8(b[28]) & 0x02, 0x02); // has a memo file
    // Every column accepts null: flag 0x02 in each field descriptor.
    for (int i = 0; i < 9; ++i)
        QVERIFY((quint8(b[32 + 32 * i + 18]) & 0x02) != 0);
}

void TestWriters::dbfMemoFiles_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("memoName");
    QTest::newRow("dBASE IV") << int(FileFormat::DBase4) << "m.DBT";
    QTest::newRow("FoxPro 2.0") << int(FileFormat::Fox20) << "m.FPT";
    QTest::newRow("Visual FoxPro") << int(FileFormat::Fox30) << "m.FPT";
}

void TestWriters::dbfMemoFiles() {
    QFETCH(int, format);
    QFETCH(QString, memoName);
    QDir(m_dir.path()).mkpath(QString::number(format));
    const QString dir = path(QString::number(format)) + u'/';
    const QString text = QString::fromUtf8("Übergröße");
    writeTable(FileFormat(format), {"m", {col("Notiz", ColumnType::Memo)}},
               {{text}, {QString()}, {QStringLiteral("zwei")}}, dir + "m.DBF");
    const QByteArray memo = readFile(dir + memoName);
    QVERIFY2(!memo.isEmpty(), qPrintable(memoName));
    const QByteArray encoded = toCp1252(text);
    const QByteArray dbf = readFile(dir + "m.DBF");
    const int header = le16(dbf, 8);
    if (format == int(FileFormat::DBase4)) {
        QCOMPARE(int(le16(memo, 20)), 512); // block size
        QCOMPARE(memo.mid(512, 4), QByteArray("\xff\xff\x08\x00", 4));
        QCOMPARE(int(le32(memo, 516)),
                 8 + int(encoded.size())); // length includes the 8 leading bytes
        QCOMPARE(memo.mid(520, encoded.size()), encoded);
        QCOMPARE(dbf.mid(header + 1, 10), QByteArray("         1"));
        QCOMPARE(dbf.mid(header + 12, 10), QByteArray(10, ' ')); // empty memo: no block
        QCOMPARE(le32(memo, 0), 3u);
    } else {
        const int blockSize = qFromBigEndian<quint16>(memo.constData() + 6);
        QCOMPARE(blockSize, 64);
        QCOMPARE(be32(memo, 0), 10u);  // header (8 blocks) and two memos of one block
        QCOMPARE(be32(memo, 512), 1u); // text
        QCOMPARE(int(be32(memo, 516)), int(encoded.size()));
        QCOMPARE(memo.mid(520, encoded.size()), encoded);
        if (format == int(FileFormat::Fox30))
            QCOMPARE(le32(dbf, header + 1), 8u);
        else
            QCOMPARE(dbf.mid(header + 1, 10), QByteArray("         8"));
    }
}

void TestWriters::dbfRefusals_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("text longer than the field") << int(FileFormat::DBase3) << int(ColumnType::Char)
                                                << QVariant(QString(11, 'a')) << "\"Feld\"";
    QTest::newRow("64-bit value in a FoxPro integer")
        << int(FileFormat::Fox30) << int(ColumnType::Integer) << QVariant(qint64(1) << 40)
        << "1099511627776";
    QTest::newRow("number beyond numeric(15,4)")
        << int(FileFormat::DBase4) << int(ColumnType::Numeric) << QVariant(1e17) << "numeric(15,4)";
    QTest::newRow("not a number") << int(FileFormat::DBase3) << int(ColumnType::Integer)
                                  << QVariant(QStringLiteral("abc")) << "keine ganze Zahl";
    QTest::newRow("not a date") << int(FileFormat::Fox26) << int(ColumnType::Date)
                                << QVariant(QStringLiteral("gestern")) << "kein Datum";
}

void TestWriters::dbfRefusals() {
    QFETCH(int, format);
    QFETCH(int, type);
    QFETCH(QVariant, value);
    QFETCH(QString, messagePart);
    const QString file = path("refused.dbf");
    auto writer =
        createTableWriter(FileFormat(format), {"r", {col("Feld", ColumnType(type), 10)}}, file);
    writer->appendRow({QVariant()}); // a good row first
    try {
        writer->appendRow({value});
        QFAIL("accepted");
    } catch (const ExportError& e) {
        QVERIFY2(e.message().contains(messagePart), qPrintable(e.message()));
    }
    writer->finish();
    // The rows before the refused one stay in a complete file.
    QCOMPARE(le32(readFile(file), 4), 1u);
}

void TestWriters::dbfEmptyTable() {
    const QString file = path("empty.dbf");
    createTableWriter(FileFormat::DBase3, {"e", {col("A", ColumnType::Integer)}}, file);
    const QByteArray b = readFile(file);
    QCOMPARE(quint8(b[0]), quint8(0x03));
    QCOMPARE(le32(b, 4), 0u);
    QCOMPARE(b.size(), 32 + 32 + 1 + 1);
    QCOMPARE(b.back(), '\x1a');

    // Names must be distinct and present; the unique names are made by the batch move.
    QVERIFY_THROWS_EXCEPTION(
        ExportError,
        createTableWriter(FileFormat::DBase3,
                          {"d", {col("Name", ColumnType::Integer), col("NAME", ColumnType::Bit)}},
                          path("dup.dbf")));
    QVERIFY_THROWS_EXCEPTION(ExportError, createTableWriter(FileFormat::Fox26,
                                                            {"d", {col("", ColumnType::Integer)}},
                                                            path("noname.dbf")));
}

void TestWriters::textFile() {
    const QString file = path("t.txt");
    writeTable(FileFormat::Text,
               {"t.txt",
                {col("ID", ColumnType::Integer), col("Na\"me", ColumnType::Char, 20),
                 col("Wert", ColumnType::Float), col("Tag", ColumnType::Date),
                 col("Zeit", ColumnType::DateTime), col("Ok", ColumnType::Bit)}},
               {{qint64(1), QString::fromUtf8("Größe \"x\", y"), 2.5, QDate(2024, 1, 2),
                 QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 600), Qt::UTC), true},
                {QVariant(), QString(), QVariant(), QVariant(), QVariant(), QVariant()}},
               file);
    QCOMPARE(
        readFile(file),
        QString::fromUtf8("\"ID\",\"Na\"\"me\",\"Wert\",\"Tag\",\"Zeit\",\"Ok\"\r\n"
                          "1,\"Größe \"\"x\"\", y\",2.5,2024-01-02,2024-01-02 03:04:05.600,TRUE\r\n"
                          ",\"\",,,,\r\n")
            .toLatin1()); // Windows-1252 where every character fits

    // A text the code page cannot hold turns the whole file, lines written before it too,
    // into UTF-8 after a byte-order mark.
    writeTable(FileFormat::Text, {"u.txt", {col("T", ColumnType::Char, 5)}},
               {{QString::fromUtf8("ä€")}, {QString::fromUtf8("Ω")}}, path("u.txt"));
    QCOMPARE(readFile(path("u.txt")),
             QByteArray("\xEF\xBB\xBF") +
                 QString::fromUtf8("\"T\"\r\n\"ä€\"\r\n\"Ω\"\r\n").toUtf8());
}

void TestWriters::htmlFile() {
    const QString file = path("h.html");
    {
        auto w = createTableWriter(
            FileFormat::HtmlExport,
            {"<b>&", {col("a<b", ColumnType::Char, 10), col("n", ColumnType::Integer)}}, file);
        // Complete as soon as it exists.
        QVERIFY(readFile(file).endsWith("</html>\r\n"));
        w->appendRow({QString::fromUtf8("x & 'y' \"ü\""), qint64(5)});
        w->appendRow({QVariant(), QVariant()});
        w->finish();
    }
    const QString html = QString::fromUtf8(readFile(file));
    QVERIFY(html.contains("<meta charset=\"utf-8\">"));
    QVERIFY(html.contains("<caption>&lt;b&gt;&amp;</caption>"));
    QVERIFY(html.contains("<th>a&lt;b</th><th>n</th>"));
    QVERIFY(html.contains(QString::fromUtf8(
        "<tr><td>x &amp; &#39;y&#39; &quot;ü&quot;</td><td align=\"right\">5</td></tr>")));
    QVERIFY(html.contains("<tr><td></td><td align=\"right\"></td></tr>"));
    QCOMPARE(html.count("</html>"), 1);
    QVERIFY(html.endsWith("</table>\r\n</body>\r\n</html>\r\n"));
}

void TestWriters::xlsReadBack_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("biff");
    QTest::newRow("Excel 8.0") << int(FileFormat::Excel8) << 80;
    QTest::newRow("Excel 5.0") << int(FileFormat::Excel5) << 50;
    QTest::newRow("Excel 4.0") << int(FileFormat::Excel4) << 40;
    QTest::newRow("Excel 3.0") << int(FileFormat::Excel3) << 30;
}

void TestWriters::xlsReadBack() {
    if (!m_xlrd)
        QSKIP("python3-xlrd is not installed");
    QFETCH(int, format);
    QFETCH(int, biff);
    const QString file = path(QStringLiteral("k%1.xls").arg(biff));
    auto rows = mixedRows();
    rows[1][8] = QStringLiteral("kurz"); // older versions hold 255 characters per cell
    // A row after the null row, so the sheet's extent does not end at the empty row.
    rows.push_back(std::vector<QVariant>(9));
    rows.back()[0] = qint64(99);
    writeTable(FileFormat(format), mixedSchema("kunden.xls"), rows, file);
    const QJsonObject o = readXls(file).object();
    QVERIFY(!o.isEmpty());
    QCOMPARE(o["biff"].toInt(), biff);
    const QJsonArray sheets = o["sheets"].toArray();
    QCOMPARE(sheets.size(), 1);
    if (biff >= 50)
        QCOMPARE(sheets[0].toObject()["name"].toString(), QStringLiteral("kunden"));
    const QJsonArray r = sheets[0].toObject()["rows"].toArray();
    QCOMPARE(r.size(), 5);
    auto cell = [&](int row, int c) { return r[row].toArray()[c].toArray(); };
    // Header row: texts (type 1).
    QCOMPARE(cell(0, 0)[1].toString(), QStringLiteral("ID"));
    QCOMPARE(cell(0, 8)[1].toString(), QStringLiteral("Notiz"));
    QCOMPARE(cell(1, 0)[0].toInt(), 2); // number
    QCOMPARE(cell(1, 0)[1].toDouble(), 1.0);
    QCOMPARE(cell(1, 1)[1].toString(), QString::fromUtf8("Müller & Söhne"));
    QCOMPARE(cell(1, 2)[1].toDouble(), 12.5);
    QCOMPARE(cell(1, 4)[0].toInt(), 4); // boolean
    QCOMPARE(cell(1, 4)[1].toInt(), 1);
    QCOMPARE(cell(1, 5)[0].toInt(), 3); // date
    QCOMPARE(cell(1, 5)[1].toString(), QStringLiteral("2024-02-29 00:00:00"));
    QCOMPARE(cell(1, 6)[1].toString(), QStringLiteral("2024-03-01 13:45:30"));
    QCOMPARE(cell(1, 7)[0].toInt(), 3);
    QCOMPARE(cell(1, 7)[1].toString(), QStringLiteral("0000-00-00 08:05:00"));
    QCOMPARE(cell(1, 8)[1].toString(), QString::fromUtf8("Größe\r\nzweite Zeile"));
    QCOMPARE(cell(2, 3)[1].toDouble(), 1e20);
    // A date before 1900 has no serial number: kept as ISO text.
    QCOMPARE(cell(2, 5)[0].toInt(), 1);
    QCOMPARE(cell(2, 5)[1].toString(), QStringLiteral("1899-12-31"));
    // The null row is empty cells.
    for (int c = 0; c < 9; ++c)
        QCOMPARE(cell(3, c)[0].toInt(), 0);
    QCOMPARE(cell(4, 0)[1].toDouble(), 99.0);
}

void TestWriters::xlsLongTextsSpanRecords() {
    if (!m_xlrd)
        QSKIP("python3-xlrd is not installed");
    // Texts long enough to run over the 8224-byte record limit of the shared strings, in both
    // the one-byte and the two-byte form, and many short ones for the index buckets.
    QString latin(9000, QChar(0xE4));
    QString wide;
    for (int i = 0; i < 7000; ++i)
        wide += QChar(0x3B1 + i % 20);
    std::vector<std::vector<QVariant>> rows{{latin}, {wide}, {latin + "!"}};
    for (int i = 0; i < 3000; ++i)
        rows.push_back({QStringLiteral("Text %1").arg(i)});
    const QString file = path("long.xls");
    writeTable(FileFormat::Excel8, {"long", {col("T", ColumnType::Memo)}}, rows, file);
    const QJsonArray r = readXls(file).object()["sheets"].toArray()[0].toObject()["rows"].toArray();
    QCOMPARE(r.size(), int(rows.size()) + 1);
    QCOMPARE(r[1].toArray()[0].toArray()[1].toString(), latin);
    QCOMPARE(r[2].toArray()[0].toArray()[1].toString(), wide);
    QCOMPARE(r[3].toArray()[0].toArray()[1].toString(), latin + "!");
    QCOMPARE(r[3003].toArray()[0].toArray()[1].toString(), QStringLiteral("Text 2999"));
}

void TestWriters::xlsRowsContinueOnNextSheet() {
    if (!m_xlrd)
        QSKIP("python3-xlrd is not installed");
    const int limit = sheetRowLimit(BiffVersion::Biff8);
    std::vector<std::vector<QVariant>> rows;
    for (int i = 0; i < limit + 9; ++i)
        rows.push_back({qint64(i)});
    const QString file = path("many.xls");
    writeTable(FileFormat::Excel8, {"many.xls", {col("N", ColumnType::Integer)}}, rows, file);
    const QJsonArray sheets = readXls(file).object()["sheets"].toArray();
    QCOMPARE(sheets.size(), 2);
    QCOMPARE(sheets[1].toObject()["name"].toString(), QStringLiteral("many (2)"));
    const QJsonArray first = sheets[0].toObject()["rows"].toArray();
    const QJsonArray second = sheets[1].toObject()["rows"].toArray();
    QCOMPARE(first.size(), limit);
    QCOMPARE(second.size(), 11); // its own header row and the last ten rows
    QCOMPARE(second[0].toArray()[0].toArray()[1].toString(), QStringLiteral("N"));
    QCOMPARE(second[1].toArray()[0].toArray()[1].toDouble(), double(limit - 1));
    QCOMPARE(second[10].toArray()[0].toArray()[1].toDouble(), double(limit + 8));
}

void TestWriters::xlsWorksheetFileLimit() {
    const QString file = path("limit3.xls");
    auto w = createTableWriter(FileFormat::Excel3, {"l", {col("N", ColumnType::Integer)}}, file);
    for (int i = 0; i < 16383; ++i)
        w->appendRow({qint64(i)});
    try {
        w->appendRow({qint64(0)});
        QFAIL("accepted row 16384");
    } catch (const ExportError& e) {
        QVERIFY2(e.message().contains("16384"), qPrintable(e.message()));
    }
    // A text too long for the older versions' cells is refused with the limit.
    auto w5 = createTableWriter(FileFormat::Excel5, {"l", {col("T", ColumnType::Memo)}},
                                path("long5.xls"));
    QVERIFY_THROWS_EXCEPTION(ExportError, w5->appendRow({QString(256, 'x')}));
    w5->appendRow({QString(255, 'x')});
}

void TestWriters::xlsSerialDates_data() {
    QTest::addColumn<QDate>("date");
    QTest::addColumn<double>("serial");
    QTest::newRow("first day") << QDate(1900, 1, 1) << 1.0;
    QTest::newRow("before the phantom leap day") << QDate(1900, 2, 28) << 59.0;
    QTest::newRow("after it") << QDate(1900, 3, 1) << 61.0;
    QTest::newRow("epoch of 2000") << QDate(2000, 1, 1) << 36526.0;
    QTest::newRow("before 1900") << QDate(1899, 12, 31) << -1.0;
}

void TestWriters::xlsSerialDates() {
    QFETCH(QDate, date);
    QFETCH(double, serial);
    double s = 0;
    QCOMPARE(excelSerialDate(date, s), serial >= 0);
    if (serial >= 0)
        QCOMPARE(s, serial);
}

void TestWriters::compoundFileWithManySectors() {
    if (!m_xlrd)
        QSKIP("python3-xlrd is not installed");
    // 8 MB need more FAT sectors than the header lists, so DIFAT sectors follow.
    QByteArray payload(8 * 1024 * 1024 + 77, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 131) >> 3);
    const QString file = path("big.cfb");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(writeCompoundFile(f, QStringLiteral("Workbook"), payload));
    }
    QCOMPARE(le32(readFile(file), 72) > 0, true); // DIFAT sectors in use
    const QJsonObject o = runPython(QStringLiteral(R"(
import sys, json, hashlib, xlrd.compdoc
data = open(sys.argv[1], 'rb').read()
s = xlrd.compdoc.CompDoc(data, logfile=open('/dev/null', 'w')).get_named_stream('Workbook')
print(json.dumps({'size': len(s), 'md5': hashlib.md5(s).hexdigest()}))
)"),
                                    {file})
                              .object();
    QCOMPARE(o["size"].toInt(), int(payload.size()));
    QCOMPARE(
        o["md5"].toString(),
        QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Md5).toHex()));
}

void TestWriters::compoundFileFromDeviceRanges() {
    // Parts read from a device range give the same file as the joined bytes in memory.
    QByteArray data(300 * 1024 + 5, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) ^ (i >> 9));
    QBuffer source(&data);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray head("head"), tail("tail");
    // Ranges longer than one copy chunk, an empty one, and one ending at the device's end.
    const std::vector<StreamPart> parts{
        StreamPart(head), StreamPart(&source, 3, 200 * 1024), StreamPart(&source, 10, 0),
        StreamPart(&source, 100 * 1024, data.size() - 100 * 1024), StreamPart(tail)};
    const QByteArray joined = head + data.mid(3, 200 * 1024) + data.mid(100 * 1024) + tail;
    QBuffer fromParts, fromBytes;
    QVERIFY(fromParts.open(QIODevice::WriteOnly) && fromBytes.open(QIODevice::WriteOnly));
    QVERIFY(writeCompoundFile(fromParts, QStringLiteral("Workbook"), parts));
    QVERIFY(writeCompoundFile(fromBytes, QStringLiteral("Workbook"), joined));
    QCOMPARE(fromParts.data().size(), fromBytes.data().size());
    QVERIFY(fromParts.data() == fromBytes.data());
    // A range past the device's end is a failure, not a short stream.
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QVERIFY(!writeStreamParts(out, {StreamPart(&source, data.size() - 10, 20)}));
}

void TestWriters::sharedStringTable() {
    SharedStringTable t;
    QCOMPARE(t.add(u"a"), 0u);
    QCOMPARE(t.add(u""), 1u);
    QCOMPARE(t.add(u"\u00e4"), 2u); // Latin-1, one byte
    QCOMPARE(t.add(u"\u03b1"), 3u); // needs UTF-16
    QCOMPARE(t.add(u"a"), 0u);
    QCOMPARE(t.add(u""), 1u);
    QCOMPARE(t.size(), 4u);
    QVERIFY(!t.wide(2) && t.wide(3));
    QCOMPARE(QByteArray(t.chars(2).data(), qsizetype(t.chars(2).size())), QByteArray("\xe4"));
    QCOMPARE(QByteArray(t.chars(3).data(), qsizetype(t.chars(3).size())),
             QByteArray("\xb1\x03", 2));
    // The same character codes as one and as two bytes are different texts.
    QCOMPARE(t.add(u"\u00e4\u03b1"), 4u);
    QCOMPARE(t.add(u"\u00e4"), 2u);

    // Many texts grow the index several times; forgetting the newest, across growths, leaves
    // the older ones found and the forgotten ones new again, in order.
    for (int i = 0; i < 5000; ++i)
        QCOMPARE(t.add(QString::number(i)), quint32(5 + i));
    t.truncate(1005);
    QCOMPARE(t.size(), 1005u);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(t.add(QString::number(i)), quint32(5 + i));
    QCOMPARE(t.add(u"a"), 0u);
    QCOMPARE(t.add(QStringLiteral("4999")), 1005u);
    QCOMPARE(t.add(QStringLiteral("1000")), 1006u);
    QCOMPARE(t.size(), 1007u);
}

void TestWriters::xlsManyTextsOverSheetsAndFinishes() {
    if (!m_xlrd)
        QSKIP("python3-xlrd is not installed");
    // Texts repeat and are new in turn, the shared strings span many records, a failed row
    // leaves nothing behind, the file is completed midway and again after further rows that
    // continue on a second sheet.
    const int limit = sheetRowLimit(BiffVersion::Biff8);
    const QString file = path("texts.xls");
    const TableSchema schema{"texts",
                             {col("T", ColumnType::Char, 40), col("N", ColumnType::Integer)}};
    auto text = [](int i) {
        return i % 3 == 0 ? QStringLiteral("gleich") : QStringLiteral("Wert \u03b1 %1").arg(i);
    };
    auto w = createTableWriter(FileFormat::Excel8, schema, file);
    const int rows = limit + 500;
    for (int i = 0; i < rows; ++i) {
        if (i == 100) {
            // A new text, then a value that fails: the row is not written.
            QVERIFY_THROWS_EXCEPTION(
                ExportError, w->appendRow({QStringLiteral("verworfen"), QStringLiteral("x")}));
        }
        w->appendRow({text(i), qint64(i)});
        if (i == 2000)
            w->finish();
    }
    w->finish();
    w.reset();
    const QJsonArray sheets = readXls(file).object()["sheets"].toArray();
    QCOMPARE(sheets.size(), 2);
    const QJsonArray first = sheets[0].toObject()["rows"].toArray();
    const QJsonArray second = sheets[1].toObject()["rows"].toArray();
    QCOMPARE(first.size(), limit);
    QCOMPARE(second.size(), rows - (limit - 1) + 1);
    auto check = [&](const QJsonArray& sheetRows, int r, int i) {
        const QJsonArray cells = sheetRows[r].toArray();
        QCOMPARE(cells[0].toArray()[1].toString(), text(i));
        QCOMPARE(cells[1].toArray()[1].toDouble(), double(i));
    };
    for (int r : {1, 100, 101, 2001, 2002, limit - 1})
        check(first, r, r - 1);
    for (int r : {1, 2, 500, 501})
        check(second, r, limit - 2 + r);
    QCOMPARE(second[0].toArray()[0].toArray()[1].toString(), QStringLiteral("T"));
}

void TestWriters::paradoxReadBack_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("version");
    QTest::addColumn<QList<int>>("types");
    QTest::newRow("Paradox 3.x") << int(FileFormat::Paradox3) << 30
                                 << QList<int>{pxfNumber, pxfAlpha, pxfCurrency,
                                               pxfNumber, pxfShort, pxfDate,
                                               pxfDate,   pxfAlpha, pxfAlpha};
    QTest::newRow("Paradox 4.x") << int(FileFormat::Paradox4) << 40
                                 << QList<int>{pxfNumber, pxfAlpha, pxfCurrency,
                                               pxfNumber, pxfShort, pxfDate,
                                               pxfDate,   pxfAlpha, pxfMemoBLOb};
    QTest::newRow("Paradox 5.x") << int(FileFormat::Paradox5) << 50
                                 << QList<int>{pxfLong,      pxfAlpha,   pxfCurrency,
                                               pxfNumber,    pxfLogical, pxfDate,
                                               pxfTimestamp, pxfTime,    pxfMemoBLOb};
}

void TestWriters::paradoxReadBack() {
    QFETCH(int, format);
    QFETCH(int, version);
    QFETCH(QList<int>, types);
    const QString file = path(QStringLiteral("p%1.db").arg(version));
    auto rows = mixedRows();
    rows[0][8] = QStringLiteral("kurz");
    rows[1][8] = QStringLiteral("auch kurz");
    rows[1][3] = 2.0;
    writeTable(FileFormat(format), mixedSchema("p"), rows, file);
    // No encryption: a 3.x table keeps its key at 0x25 (no data header follows), later ones
    // point there to the data header's key, which must be 0.
    const QByteArray head = readFile(file);
    QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 0x25), version < 40 ? 0u : 0xFF00FF00u);
    if (version >= 40)
        QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 0x5C), 0u);

    pxdoc_t* doc = PX_new2(quietErrors, zeroedAlloc, plainRealloc, plainFree);
    QVERIFY(PX_open_file(doc, QFile::encodeName(file).constData()) == 0);
    float v = 0;
    PX_get_value(doc, "fileversion", &v);
    QCOMPARE(qRound(v * 10), version);
    QCOMPARE(PX_get_num_records(doc), 3);
    QCOMPARE(PX_get_num_fields(doc), 9);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(int(PX_get_field(doc, i)->px_ftype), types[i]);
    QCOMPARE(QByteArray(PX_get_field(doc, 6)->px_fname), QByteArray("Zeitpunkt"));

    char* rec = static_cast<char*>(malloc(size_t(PX_get_recordsize(doc))));
    auto field = [&](int i) {
        int offset = 0;
        for (int k = 0; k < i; ++k)
            offset += PX_get_field(doc, k)->px_flen;
        return rec + offset;
    };
    QVERIFY(PX_get_record(doc, 0, rec) != nullptr);
    double d = 0;
    long l = 0;
    char* s = nullptr;
    if (version >= 50) {
        QVERIFY(PX_get_data_long(doc, field(0), 4, &l) > 0);
        QCOMPARE(l, 1L);
    } else {
        QVERIFY(PX_get_data_double(doc, field(0), 8, &d) > 0);
        QCOMPARE(d, 1.0);
    }
    QVERIFY(PX_get_data_alpha(doc, field(1), 20, &s) > 0);
    QCOMPARE(fromCp1252(QByteArray(s)), QString::fromUtf8("Müller & Söhne"));
    doc->free(doc, s);
    QVERIFY(PX_get_data_double(doc, field(2), 8, &d) > 0);
    QCOMPARE(d, 12.5);
    QVERIFY(PX_get_data_long(doc, field(5), 4, &l) > 0);
    QCOMPARE(l + 1721425, long(QDate(2024, 2, 29).toJulianDay()));
    if (version >= 50) {
        QVERIFY(PX_get_data_double(doc, field(6), 8, &d) > 0);
        QCOMPARE(d, double(QDate(2024, 3, 1).toJulianDay() - 1721425) * 86400000.0 + 49530000.0);
        QVERIFY(PX_get_data_long(doc, field(7), 4, &l) > 0);
        QCOMPARE(l, 8L * 3600000 + 5 * 60000);
    } else {
        QVERIFY(PX_get_data_alpha(doc, field(7), 8, &s) > 0);
        QCOMPARE(QByteArray(s), QByteArray("08:05:00"));
        doc->free(doc, s);
    }
    // The null row: zero bytes, which is null in every Paradox type.
    QVERIFY(PX_get_record(doc, 2, rec) != nullptr);
    QCOMPARE(QByteArray(rec, PX_get_recordsize(doc)), QByteArray(PX_get_recordsize(doc), '\0'));
    free(rec);
    PX_close(doc);
    PX_delete(doc);
}

void TestWriters::paradoxMemoAndRefusals() {
    const QString file = path("memo.db");
    const QString text = QString::fromUtf8("Ä") + QString(400, 'm');
    writeTable(FileFormat::Paradox5, {"memo", {col("Notiz", ColumnType::Memo)}}, {{text}}, file);
    QVERIFY(readFile(ParadoxWriter::blobPath(file)).contains(toCp1252(text).mid(10)));
    // Paradox 3.x has no memo: a text beyond 255 characters is refused, and so is a long name.
    QVERIFY_THROWS_EXCEPTION(ExportError, writeTable(FileFormat::Paradox3,
                                                     {"m3", {col("Notiz", ColumnType::Memo)}},
                                                     {{text}}, path("m3.db")));
    QVERIFY_THROWS_EXCEPTION(
        ExportError, writeTable(FileFormat::Paradox5,
                                {"d", {col("A", ColumnType::Integer), col("a", ColumnType::Bit)}},
                                {}, path("dup.db")));
    QVERIFY_THROWS_EXCEPTION(ExportError, writeTable(FileFormat::Paradox5,
                                                     {"i", {col("N", ColumnType::Integer)}},
                                                     {{qint64(1) << 33}}, path("big.db")));
}

void TestWriters::cp1252() {
    const QString all = QString::fromUtf8("Aä€ŠœŸ ÿ");
    QCOMPARE(toCp1252(all), QByteArray("A\xe4\x80\x8a\x9c\x9f \xff"));
    QCOMPARE(fromCp1252(toCp1252(all)), all);
    // What the code page cannot hold becomes one "?" per character.
    QCOMPARE(toCp1252(QString::fromUtf8("日本😀")), QByteArray("???"));
}

void TestWriters::textAndHtmlReadBack_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("file");
    QTest::newRow("text, Python csv") << int(FileFormat::Text) << "lesbar.txt";
    QTest::newRow("HTML, Python html.parser") << int(FileFormat::HtmlExport) << "lesbar.html";
}

void TestWriters::textAndHtmlReadBack() {
    QFETCH(int, format);
    QFETCH(QString, file);
    const TableSchema schema{file,
                             {col("ID", ColumnType::Integer), col("Na,\"me", ColumnType::Char, 60),
                              col("Wert", ColumnType::Float), col("Tag", ColumnType::Date),
                              col("Zeit", ColumnType::DateTime), col("Notiz", ColumnType::Memo),
                              col("Ok", ColumnType::Bit)}};
    const QStringList texts = {
        QString::fromUtf8("Komma, \"Zitat\" und 'Apostroph'"),
        QStringLiteral("zwei\r\nZeilen"),
        QString::fromUtf8("<b>&amp;</b> ü € \xF0\x9F\x98\x80"),
        QString(),
    };
    const QList<double> numbers = {2.5, -1e-7, 1e20, 0.1};
    std::vector<std::vector<QVariant>> rows;
    for (int i = 0; i < texts.size(); ++i)
        rows.push_back({qint64(i - 1) * 4000000000LL, texts[i], numbers[i],
                        QDate(2024, 2, 29).addDays(i),
                        QDateTime(QDate(2005, 6, 7), QTime(8, 9, 10, i * 250), Qt::UTC),
                        texts[(i + 1) % texts.size()] + QString(i * 300, u'x'), i % 2 == 0});
    rows.push_back(std::vector<QVariant>(schema.columns.size()));
    writeTable(FileFormat(format), schema, rows, path(file));

    QJsonArray table;
    if (FileFormat(format) == FileFormat::Text) {
        table = readCsv(path(file)).array();
    } else {
        const QJsonObject o = readHtmlTable(path(file)).object();
        QCOMPARE(o["charset"].toString(), QStringLiteral("utf-8"));
        QCOMPARE(o["caption"].toString(), file);
        table = o["rows"].toArray();
    }
    QCOMPARE(table.size(), int(rows.size()) + 1);
    QStringList header;
    for (const auto& h : table[0].toArray())
        header << h.toString();
    QCOMPARE(header, (QStringList{"ID", "Na,\"me", "Wert", "Tag", "Zeit", "Notiz", "Ok"}));
    // HTML readers take a line break CR LF as LF, as browsers do.
    const bool html = FileFormat(format) != FileFormat::Text;
    auto asRead = [html](QString s) { return html ? s.replace("\r\n", "\n") : s; };
    for (int i = 0; i < texts.size(); ++i) {
        const QJsonArray r = table[i + 1].toArray();
        QCOMPARE(r.size(), 7);
        QCOMPARE(r[0].toString().toLongLong(), (i - 1) * 4000000000LL);
        QCOMPARE(r[1].toString(), asRead(texts[i]));
        QCOMPARE(r[2].toString().toDouble(), numbers[i]);
        QCOMPARE(QDate::fromString(r[3].toString(), Qt::ISODate), QDate(2024, 2, 29).addDays(i));
        QCOMPARE(QDateTime::fromString(r[4].toString(), Qt::ISODateWithMs),
                 QDateTime(QDate(2005, 6, 7), QTime(8, 9, 10, i * 250)));
        QCOMPARE(r[5].toString(), asRead(texts[(i + 1) % texts.size()] + QString(i * 300, u'x')));
        QCOMPARE(r[6].toString(), i % 2 == 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    }
    for (const auto& v : table.last().toArray())
        QCOMPARE(v.toString(), QString());
}

void TestWriters::numberForms() {
    // The writers' own number forms against Qt's conversions, which they replace for speed.
    std::vector<double> values = {
        0.0, -0.0, 1, -1, 0.5, 0.125, -0.125, 2.5, 100, 1e5, 1e15, 1e16, 1e17, 1e20, 1e21, 1e-4,
        1e-5, 0.00012, 1e-7, 0.1, 0.3, 1e300, -1e-300, 5e-324, 123456789.125, -0.00005, 1234.5625,
        12345678901234567890.0, 1.7976931348623157e308,
        // Decimal halves that binary holds slightly off either way.
        2.675, 1.005, -0.045, 0.0125, 999999999.99995, 1e15 + 0.3, 36028797018963968.0};
    quint64 seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const double m = double(qint64(seed >> 11)) / double(1LL << 53) * 20 - 10;
        double d = m * std::pow(10.0, int(seed % 41) - 20);
        if (i % 3 == 0)
            d = std::round(d * 10000) / 10000;
        if (i % 7 == 0)
            d = std::round(d * 8) / 8;
        values.push_back(d);
    }
    for (const double d : values) {
        char buf[64];
        QCOMPARE(QByteArray(buf, shortestNumber(buf, d) - buf),
                 QLocale::c().toString(d, 'g', QLocale::FloatingPointShortest).toLatin1());
        for (int decimals = 0; decimals <= 6; ++decimals)
            if (char* end = fixedNumber(buf, d, decimals))
                QCOMPARE(QByteArray(buf, end - buf), QByteArray::number(d, 'f', decimals));
    }
    char buf[32];
    QCOMPARE(QByteArray(buf, shortestNumber(buf, qQNaN()) - buf), QByteArray("nan"));
    QCOMPARE(QByteArray(buf, shortestNumber(buf, -qInf()) - buf), QByteArray("-inf"));
    QVERIFY(!fixedNumber(buf, 0.125, 2)); // a tie: left to Qt's rounding
    QVERIFY(!fixedNumber(buf, qInf(), 2));
    QCOMPARE(QByteArray(buf, isoTimeText(buf, 3723004) - buf), QByteArray("01:02:03.004"));
    QCOMPARE(QByteArray(buf, isoDateText(buf, 5, 1, 2) - buf), QByteArray("0005-01-02"));
}

void TestWriters::storeRowsWriteWhatValuesWrite_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("table");
    QTest::newRow("text") << "Text"
                          << "gleich.txt";
    QTest::newRow("dBASE III") << "dBASE III"
                               << "gleich.dbf";
    QTest::newRow("dBASE IV") << "dBASE IV"
                              << "GLEICH.DBF";
    QTest::newRow("FoxPro 2.6") << "FoxPro 2.6"
                                << "gleich.dbf";
    QTest::newRow("Visual FoxPro") << "FoxPro 3.0"
                                   << "gleich.dbf";
    QTest::newRow("HTML") << "HTML Export"
                          << "gleich.html";
}

void TestWriters::storeRowsWriteWhatValuesWrite() {
    // The provider hands the writers the rows of its row set as cells, which the text and
    // xBase writers take on a faster path; the files must be those the values give.
    QFETCH(QString, format);
    QFETCH(QString, table);
    const TableSchema schema = mixedSchema(table);
    auto rows = mixedRows();
    for (auto& r : edgeRows())
        rows.push_back(r);
    QList<data::ColumnInfo> columns;
    QStringList definitions;
    for (const auto& c : schema.columns) {
        columns << columnInfoFor(c);
        definitions << c.name + u' ' + columnTypeText(c) + u' ';
    }
    data::ResultStore store(columns);
    for (const auto& row : rows) {
        const qint64 r = store.appendRows(1);
        for (size_t c = 0; c < row.size(); ++c)
            store.setValue(r, int(c), row[c]);
    }
    std::vector<std::vector<QVariant>> values;
    for (qint64 r = 0; r < store.rowCount(); ++r) {
        values.emplace_back();
        for (int c = 0; c < store.columnCount(); ++c)
            values.back().push_back(store.value(r, c));
    }
    QVERIFY(QDir(m_dir.path()).mkpath(format + "/values"));
    QVERIFY(QDir(m_dir.path()).mkpath(format + "/cells"));
    const QString byValues = path(format + "/values");
    const QString byCells = path(format + "/cells");
    writeTable(formatFromExtendedProperties(format), schema, values, byValues + u'/' + table);

    data::ConnectionParams params;
    params.properties = {{QStringLiteral("Data Source"), byCells},
                         {QStringLiteral("Extended Properties"), format}};
    data::MessageList messages;
    auto session = desktopFileProvider()->connect(params, messages);
    session->execute(QStringLiteral("CREATE TABLE [%1] (%2)").arg(table, definitions.join(", ")),
                     {}, {}, messages);
    session->appendRows(table, store, 0);
    session->endAppend(table);

    const QStringList files = QDir(byValues).entryList(QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    QCOMPARE(QDir(byCells).entryList(QDir::Files, QDir::Name), files);
    for (const QString& f : files)
        QVERIFY2(readFile(byValues + u'/' + f) == readFile(byCells + u'/' + f), qPrintable(f));
}

QTEST_GUILESS_MAIN(TestWriters)
#include "tst_writers.moc"
