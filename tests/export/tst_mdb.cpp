// Access databases written without a database engine, read back by independent readers
// (mdbtools and its ODBC driver): empty databases, tables of every mapped type, rows with
// nulls, umlauts and memos over several pages, large tables, wide tables, the failure paths
// (nothing half written), and the row encoding where the readers cannot tell.
#include "export/jet4format.h"
#include "export/mdbprovider.h"
#include "export/mdbwriter.h"
#include "tests/export/mdbreaders.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace exportfile;
using mdbreaders::kNull;

namespace {

const QString kAllTypes = QStringLiteral(
    "CREATE TABLE [Kunden] (Nr integer , Name char(40) , Preis numeric(15,4) , Wert float , "
    "Notiz memo , Aktiv bit , Tag date , Zeit datetime , Uhr time , Stempel timestamp )");

QString dateTimeText(const QDateTime& dt) {
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A memo of n characters: plain Latin-1 text (stored compressed when short enough) or, with
// a euro sign, text that needs two bytes per character.
QString memoText(int n, bool euro, int seed) {
    QString s;
    s.reserve(n);
    const QString pattern =
        euro ? QStringLiteral("Grüße € aus Köln; ") : QStringLiteral("Äpfel und Öl; ");
    while (s.size() < n)
        s += pattern + QString::number(seed) + u' ';
    s.truncate(n);
    return s;
}

// Row i of the all-types table: the values handed to the writer and what a reader shows.
struct Row {
    std::vector<QVariant> values;
    QStringList shown;
};

Row allTypesRow(int i) {
    Row r;
    auto add = [&](const QVariant& v, const QString& text) {
        r.values.push_back(v);
        r.shown << text;
    };
    add(qint64(i) * 1000 - 60000, QString::number(qint64(i) * 1000 - 60000));
    if (i % 7 == 3)
        add(QVariant(), kNull);
    else {
        const QString name = i % 2 == 0 ? QStringLiteral("Müller-Lüdenscheidt Nr. %1").arg(i)
                                        : QStringLiteral("Grüße € aus Köln %1").arg(i);
        add(name, name);
    }
    if (i % 11 == 5)
        add(QVariant(), kNull);
    else {
        const double price = (i * 125 - 3000) / 100.0;
        add(price, QString::number(price, 'f', 4));
    }
    add(i * 0.5, QString::number(i * 0.5, 'g', 16));
    if (i % 4 == 1)
        add(QVariant(), kNull);
    else {
        // Short memos stay in the row, longer ones go to one page or a chain of pages.
        const QString memo = i % 3 == 0   ? QStringLiteral("Notiz %1").arg(i)
                             : i % 3 == 1 ? memoText(300, false, i)
                                          : memoText(5000, true, i);
        add(memo, memo);
    }
    // A Yes/No column has no null: a null arrives as No.
    if (i % 5 == 0)
        add(QVariant(), QStringLiteral("0"));
    else
        add(i % 3 == 0, i % 3 == 0 ? QStringLiteral("1") : QStringLiteral("0"));
    const QDate day = QDate(2024, 2, 28).addDays(i);
    add(day, day.toString(Qt::ISODate) + QStringLiteral(" 00:00:00"));
    const QDateTime when = QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58)).addSecs(i * 3601);
    add(when, dateTimeText(when));
    const QTime time = QTime(0, 0).addSecs(i * 61);
    add(time, QStringLiteral("1899-12-30 ") + time.toString(QStringLiteral("HH:mm:ss")));
    if (i % 6 == 2)
        add(QVariant(), kNull);
    else {
        const QDateTime stamp(QDate(2000 + i % 30, 1 + i % 12, 1 + i % 28),
                              QTime(i % 24, i % 60, (i * 7) % 60));
        add(stamp, dateTimeText(stamp));
    }
    return r;
}

void writeTable(const QString& path, const QString& create, qint64 rows,
                const std::function<std::vector<QVariant>(int)>& values) {
    if (!QFile::exists(path))
        createAccessDatabase(path);
    const TableSchema schema = parseCreateTable(create);
    {
        AccessDatabase db(path);
        db.createTable(schema);
        db.commit();
    }
    AccessDatabase db(path);
    db.appendRows(
        schema.tableName, rows, [&](qint64 r, std::vector<QVariant>& v) { v = values(int(r)); },
        schema.columns);
    db.commit();
}

// The entries of an index from its root down to its leaves, in the order of the leaves.
std::vector<jet4::IndexEntry> indexLeafEntries(const QByteArray& file, std::uint32_t page,
                                               int depth = 0) {
    const QByteArray bytes = file.mid(qint64(page) * jet4::kPageSize, jet4::kPageSize);
    if (depth > 8 || bytes.size() != jet4::kPageSize)
        return {};
    const auto entries = jet4::indexPageEntries(bytes);
    if (bytes.at(0) == 0x04)
        return entries;
    std::vector<jet4::IndexEntry> leaves;
    for (const auto& e : entries) {
        const auto below = indexLeafEntries(file, e.child, depth + 1);
        // An inner entry repeats the last entry of the page it points to.
        if (below.empty() || below.back().key != e.key || below.back().row != e.row)
            return {};
        leaves.insert(leaves.end(), below.begin(), below.end());
    }
    return leaves;
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestMdb : public QObject {
    Q_OBJECT
private slots:
    void init();

    void emptyDatabase();
    void allTypes_data();
    void allTypes();
    void hundredThousandRows();
    void longMemos_data();
    void longMemos();
    void wideTableAndManyTables();
    void catalogIndexes();
    void indexKeys();
    void tableBeyondItsUsageMap();
    void existingDatabase();
    void namesTheFormatRefuses_data();
    void namesTheFormatRefuses();
    void valuesTheColumnsCannotHold_data();
    void valuesTheColumnsCannotHold();

    void missingFolderReportsTheSystemReason();
    void databaseNameThatIsNoFile();
    void readOnlyFolderReportsTheSystemReason();
    void fullDiskLeavesTheDatabaseAsItWas();

    void rowEncoding();
    void textCompression_data();
    void textCompression();

    void strictReaderOpensEveryDatabase();

private:
    // Keeps a copy of a finished database for the strict reader, which runs once over all of
    // them (it starts slowly), with lines its output must hold for that file.
    void checkStrictly(const QString& path, const QStringList& expected);
    struct StrictCase {
        QString copy;
        QStringList expected;
    };
    std::vector<StrictCase> m_strict;

    void requireMdbtools();
    // An empty folder of its own for a test that looks at every file in it.
    QString ownFolder();
    QTemporaryDir m_dir;
};

void TestMdb::init() {
    QVERIFY(m_dir.isValid());
}

QString TestMdb::ownFolder() {
    const QString name = QString::fromLatin1(QTest::currentTestFunction());
    QDir(m_dir.path()).mkpath(name);
    return m_dir.filePath(name);
}

void TestMdb::checkStrictly(const QString& path, const QStringList& expected) {
    QDir(m_dir.path()).mkpath(QStringLiteral("strict"));
    const QString copy = m_dir.filePath(
        QStringLiteral("strict/%1-%2").arg(m_strict.size()).arg(QFileInfo(path).fileName()));
    QVERIFY(QFile::copy(path, copy));
    m_strict.push_back({copy, expected});
}

// The strict reader's line for a value: texts over 60 characters cut, with their length.
QString strictValue(const QString& column, const QVariant& v) {
    QString s = v.isNull() ? QStringLiteral("NULL") : v.toString();
    if (s.size() > 60)
        s = s.left(60) + QStringLiteral("...(%1)").arg(s.size());
    return column + u'=' + s + u';';
}

void TestMdb::strictReaderOpensEveryDatabase() {
    if (mdbreaders::strictReader().isEmpty())
        QSKIP("the strict Access reader is not there");
    QVERIFY(!m_strict.empty());
    QStringList paths;
    for (const auto& c : m_strict)
        paths << c.copy;
    QString output;
    const bool ok = mdbreaders::strictRead(paths, &output);
    QVERIFY2(ok, qPrintable(output.right(3000)));
    // The output per file, from its "== path" line to the next one.
    for (const auto& c : m_strict) {
        const qsizetype from = output.indexOf(QStringLiteral("== ") + c.copy + u'\n');
        QVERIFY2(from >= 0, qPrintable(c.copy));
        const qsizetype to = output.indexOf(QStringLiteral("\n== "), from);
        const QString part = output.mid(from, to < 0 ? -1 : to - from);
        QVERIFY2(part.contains(QStringLiteral("system tables [MSysAccessObjects, MSysACEs, "
                                              "MSysObjects, MSysQueries, MSysRelationships]")),
                 qPrintable(part.left(2000)));
        for (const QString& line : c.expected)
            QVERIFY2(part.contains(line), qPrintable(line + u'\n' + part.left(3000)));
    }
}

void TestMdb::requireMdbtools() {
    if (!mdbreaders::mdbtoolsPresent())
        QSKIP("mdbtools is not installed");
}

void TestMdb::emptyDatabase() {
    requireMdbtools();
    const QString folder = ownFolder();
    const QString path = folder + QStringLiteral("/leer.mdb");
    createAccessDatabase(path);
    QCOMPARE(mdbreaders::version(path), QStringLiteral("JET4"));
    QCOMPARE(mdbreaders::tables(path), QStringList());
    QCOMPARE(AccessDatabase(path, AccessDatabase::ReadOnly).tableNames(), QStringList());
    QCOMPARE(QFileInfo(path).size() % jet4::kPageSize, 0);
    QCOMPARE(filesIn(folder), QStringList{"leer.mdb"});
    // Every system table and catalog row of a new database, in little room.
    QVERIFY(QFileInfo(path).size() <= 96 * 1024);
    checkStrictly(path, {QStringLiteral("format V2000")});
}

void TestMdb::allTypes_data() {
    QTest::addColumn<int>("rows");
    QTest::newRow("no row") << 0;
    QTest::newRow("one row") << 1;
    QTest::newRow("120 rows") << 120;
}

void TestMdb::allTypes() {
    requireMdbtools();
    QFETCH(int, rows);
    const QString path = m_dir.filePath(QStringLiteral("typen%1.mdb").arg(rows));
    writeTable(path, kAllTypes, rows, [](int i) { return allTypesRow(i).values; });

    QCOMPARE(mdbreaders::version(path), QStringLiteral("JET4"));
    QCOMPARE(mdbreaders::tables(path), QStringList{"Kunden"});
    const QString schema = mdbreaders::schema(path, QStringLiteral("Kunden"));
    const QList<QPair<QString, QString>> types = {{"Nr", "Long Integer"}, {"Name", "Text \\(40\\)"},
                                                  {"Preis", "Currency"},  {"Wert", "Double"},
                                                  {"Notiz", "Memo"},      {"Aktiv", "Boolean"},
                                                  {"Tag", "DateTime"},    {"Zeit", "DateTime"},
                                                  {"Uhr", "DateTime"},    {"Stempel", "DateTime"}};
    for (const auto& [column, type] : types)
        QVERIFY2(
            schema.contains(QRegularExpression(QStringLiteral("\\[%1\\]\\s+%2").arg(column, type))),
            qPrintable(column + u'\n' + schema));

    // The table's properties: a check box for the Yes/No column, compression and empty texts
    // for texts and memos, nothing for the other types.
    QString error;
    const QMap<QString, QString> text{{"AllowZeroLength", "yes"}, {"UnicodeCompression", "yes"}};
    const QMap<QString, QMap<QString, QString>> properties{
        {"(none)", {}}, {"Name", text}, {"Notiz", text}, {"Aktiv", {{"DisplayControl", "106"}}}};
    QCOMPARE(mdbreaders::properties(path, QStringLiteral("Kunden"), &error), properties);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QList<QStringList> expected;
    for (int i = 0; i < rows; ++i)
        expected << allTypesRow(i).shown;
    const auto exported = mdbreaders::exportRows(path, QStringLiteral("Kunden"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exported, expected);

    QStringList strict{QStringLiteral("table Kunden rows %1 columns Nr:LONG Name:TEXT(40) "
                                      "Preis:MONEY Wert:DOUBLE Notiz:MEMO(0) Aktiv:BOOLEAN "
                                      "Tag:SHORT_DATE_TIME Zeit:SHORT_DATE_TIME "
                                      "Uhr:SHORT_DATE_TIME Stempel:SHORT_DATE_TIME")
                           .arg(rows)};
    for (int i = 0; i < std::min(rows, 50); ++i) {
        const Row r = allTypesRow(i);
        strict << QStringLiteral("  ") + strictValue(QStringLiteral("Nr"), r.values[0]) + u' ' +
                      strictValue(QStringLiteral("Name"), r.values[1]) + u' ';
        strict << u' ' + strictValue(QStringLiteral("Notiz"), r.values[4]) + u' ';
    }
    checkStrictly(path, strict);

    if (!mdbreaders::odbcDriverRegistered())
        QSKIP("the mdbtools ODBC driver is not registered");
    const auto viaOdbc = mdbreaders::odbcRows(path, QStringLiteral("SELECT * FROM Kunden"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(viaOdbc, expected);
}

void TestMdb::hundredThousandRows() {
    requireMdbtools();
    const QString path = m_dir.filePath("gross.mdb");
    constexpr int rows = 100000;
    auto row = [](int i) {
        return std::vector<QVariant>{qint64(i), QStringLiteral("Zeile %1 äöü").arg(i),
                                     i % 10 == 0 ? QVariant() : QVariant(i / 8.0),
                                     i % 1000 == 7 ? QVariant(memoText(6000, true, i))
                                                   : QVariant(QStringLiteral("kurz %1").arg(i))};
    };
    writeTable(path,
               QStringLiteral("CREATE TABLE [Gross] (Nr integer , Name char(30) , Betrag "
                              "numeric(15,4) , Notiz memo )"),
               rows, row);
    QString error;
    const auto exported = mdbreaders::exportRows(path, QStringLiteral("Gross"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exported.size(), rows);
    for (int i = 0; i < rows; ++i) {
        const auto v = row(i);
        const QStringList want{QString::number(i), v[1].toString(),
                               v[2].isNull() ? kNull : QString::number(v[2].toDouble(), 'f', 4),
                               v[3].toString()};
        if (exported[i] != want)
            QFAIL(qPrintable(
                QStringLiteral("row %1: %2").arg(i).arg(exported[i].join(u'|').left(200))));
    }
    checkStrictly(path, {QStringLiteral("table Gross rows 100000 "),
                         QStringLiteral("  Nr=7; Name=Zeile 7 äöü; Betrag=0.8750; Notiz=") +
                             memoText(6000, true, 7).left(60) + QStringLiteral("...(6000); ")});
}

void TestMdb::longMemos_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("euro");
    QTest::newRow("in the row") << 100 << false;
    QTest::newRow("one page, compressed") << 1024 << false;
    QTest::newRow("one page, too long to compress") << 1025 << false;
    QTest::newRow("just over one page") << 2100 << true;
    QTest::newRow("several pages") << 30000 << false;
    // mdb-export shows at most about 200,000 bytes of a value.
    QTest::newRow("many pages, two bytes a character") << 60000 << true;
}

void TestMdb::longMemos() {
    requireMdbtools();
    QFETCH(int, length);
    QFETCH(bool, euro);
    const QString path = m_dir.filePath("memo.mdb");
    QFile::remove(path);
    // Memos between short ones and nulls, with line breaks, so pieces of neighbouring
    // values cannot be mistaken for each other.
    auto memo = [&](int i) {
        return i % 3 == 1 ? QVariant()
                          : QVariant(QStringLiteral("Anfang %1\r\n").arg(i) +
                                     memoText(length, euro, i) + QStringLiteral("\nEnde"));
    };
    writeTable(path, QStringLiteral("CREATE TABLE [M] (Nr integer , Text memo , Kurz memo )"), 7,
               [&](int i) {
                   return std::vector<QVariant>{qint64(i), memo(i), QStringLiteral("k%1").arg(i)};
               });
    QString error;
    const auto exported = mdbreaders::exportRows(path, QStringLiteral("M"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exported.size(), 7);
    for (int i = 0; i < 7; ++i) {
        const QVariant m = memo(i);
        QCOMPARE(exported[i][0], QString::number(i));
        QCOMPARE(exported[i][1].size(), m.isNull() ? kNull.size() : m.toString().size());
        QCOMPARE(exported[i][1], m.isNull() ? kNull : m.toString());
        QCOMPARE(exported[i][2], QStringLiteral("k%1").arg(i));
    }
    if (length >= 30000)
        checkStrictly(path, {QStringLiteral("table M rows 7 "),
                             QStringLiteral("  Nr=1; Text=NULL; Kurz=k1; "),
                             QStringLiteral("...(%1); Kurz=k2; ").arg(memo(2).toString().size())});
}

void TestMdb::wideTableAndManyTables() {
    requireMdbtools();
    // 255 columns with long names need a table definition over several pages; forty tables
    // fill more than one catalog page.
    const QString path = m_dir.filePath("breit.mdb");
    QString create = QStringLiteral("CREATE TABLE [Breit] (");
    for (int i = 0; i < 255; ++i)
        create += QStringLiteral("%1Feld mit recht langem Namen %2 %3")
                      .arg(i ? QStringLiteral(", ") : QString())
                      .arg(i)
                      .arg(i % 3 == 0   ? "char(10) "
                           : i % 3 == 1 ? "integer "
                                        : "memo ");
    create += u')';
    auto values = [](int r) {
        std::vector<QVariant> v(255);
        for (int i = 0; i < 255; ++i)
            v[size_t(i)] = i % 3 == 0   ? QVariant(QStringLiteral("ä%1").arg(r))
                           : i % 3 == 1 ? QVariant(qint64(i * r))
                                        : QVariant(QString(40, QChar(u'a' + r)));
        return v;
    };
    writeTable(path, create, 3, values);
    for (int t = 1; t < 40; ++t) {
        AccessDatabase db(path);
        db.createTable(
            parseCreateTable(QStringLiteral("CREATE TABLE [Tabelle %1] (a integer )").arg(t)));
        db.commit();
    }
    QStringList names = mdbreaders::tables(path);
    QCOMPARE(names.size(), 40);
    QVERIFY(names.contains(QStringLiteral("Tabelle 39")));
    QCOMPARE(AccessDatabase(path, AccessDatabase::ReadOnly).tableNames(), names);
    QString error;
    const auto exported = mdbreaders::exportRows(path, QStringLiteral("Breit"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exported.size(), 3);
    for (int r = 0; r < 3; ++r) {
        QStringList want;
        for (const QVariant& v : values(r))
            want << v.toString();
        QCOMPARE(exported[r], want);
    }
    // The wide table's properties run over several long value pages.
    const auto properties = mdbreaders::properties(path, QStringLiteral("Breit"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(properties.size(), 1 + 170);
    QCOMPARE(properties.value(QStringLiteral("Feld mit recht langem Namen 252"))
                 .value(QStringLiteral("UnicodeCompression")),
             QStringLiteral("yes"));
    checkStrictly(path, {QStringLiteral("table Breit rows 3 "),
                         QStringLiteral("table Tabelle 39 rows 0 columns a:LONG")});
}

void TestMdb::catalogIndexes() {
    requireMdbtools();
    // Names with every kind of character the catalog sorts, and enough long names that the
    // index of names spreads over several pages below an inner page.
    const QString path = m_dir.filePath("katalog.mdb");
    createAccessDatabase(path);
    QStringList names{QStringLiteral("Grüße aus Köln (2024)"), QStringLiteral("ÄÖÜ_äöü ß é"),
                      QStringLiteral("a#$%&,;@+=_9"), QStringLiteral("Z")};
    for (int i = 0; i < 120; ++i)
        names << QStringLiteral("Tabelle mit einem recht langen Namen, der Platz braucht %1")
                     .arg(119 - i);
    for (const QString& name : names) {
        AccessDatabase db(path);
        db.createTable(
            parseCreateTable(QStringLiteral("CREATE TABLE [%1] (a integer )").arg(name)));
        db.commit();
    }
    QCOMPARE(AccessDatabase(path, AccessDatabase::ReadOnly).tableNames(), names);
    QCOMPARE(mdbreaders::tables(path), names);

    // Every index of the catalog and of the access-control entries holds one entry per row,
    // in the order of its bytes.
    const QByteArray file = fileBytes(path);
    for (const std::uint32_t tdefPage : {2u, 6u}) {
        const auto def = jet4::parseTableDefinition(
            file.mid(qint64(tdefPage) * jet4::kPageSize + jet4::kTdefPageHeader,
                     jet4::kPageSize - jet4::kTdefPageHeader));
        QVERIFY(!def.indexes.empty());
        QVERIFY(def.indexesMaintainable);
        for (const auto& ix : def.indexes) {
            const auto entries = indexLeafEntries(file, ix.rootPage);
            QCOMPARE(entries.size(), size_t(def.rowCount));
            QCOMPARE(ix.entryCount, def.rowCount);
            for (size_t i = 1; i < entries.size(); ++i)
                QVERIFY2(entries[i - 1].key < entries[i].key ||
                             (entries[i - 1].key == entries[i].key &&
                              entries[i - 1].row < entries[i].row),
                         qPrintable(ix.name));
        }
        if (tdefPage == 2) {
            // The names span several leaves, which readers walk from one to the next.
            QVERIFY(file.at(qint64(def.indexes[1].rootPage) * jet4::kPageSize) == 0x03);
            std::uint32_t leaf =
                jet4::indexPageEntries(
                    file.mid(qint64(def.indexes[1].rootPage) * jet4::kPageSize, jet4::kPageSize))
                    .front()
                    .child;
            size_t walked = 0;
            for (int guard = 0; leaf != 0 && guard < 100; ++guard) {
                const QByteArray page = file.mid(qint64(leaf) * jet4::kPageSize, jet4::kPageSize);
                walked += jet4::indexPageEntries(page).size();
                leaf = jet4::get32(page, 16);
            }
            QCOMPARE(walked, size_t(def.rowCount));
        }
    }
    // The strict reader finds each table through the index of names.
    QStringList strict;
    for (const QString& name : names)
        strict << QStringLiteral("table %1 rows 0 columns a:LONG").arg(name);
    checkStrictly(path, strict);
}

void TestMdb::indexKeys() {
    // Keys as a new database's catalog holds them: numbers big-endian with the sign bit
    // inverted, texts as sort codes without regard to case, marks after 0x01.
    jet4::Column number;
    number.type = jet4::TypeLong;
    jet4::Column text;
    text.type = jet4::TypeText;
    QCOMPARE(jet4::indexKey(number, qint64(0x0F000001)).toHex(), QByteArray("7f8f000001"));
    QCOMPARE(jet4::indexKey(number, qint64(-2147483647 - 1)).toHex(), QByteArray("7f00000000"));
    QCOMPARE(jet4::indexKey(number, QVariant()).toHex(), QByteArray("00"));
    QCOMPARE(jet4::indexKey(text, QStringLiteral("MSysObjects")).toHex(),
             QByteArray("7f606b766b644c5b514d6d6b0100"));
    QCOMPARE(jet4::indexKey(text, QStringLiteral("tables")),
             jet4::indexKey(text, QStringLiteral("TABLES")));
    // "ß" sorts as two letters but takes one place among the marks.
    QCOMPARE(jet4::indexKey(text, QStringLiteral("Straße_1 ä")).toHex(),
             QByteArray("7f6b6d694a6b6b512b0338074a01"
                        "020202020202020202"
                        "1300"));
    QVERIFY(!jet4::indexableText(QStringLiteral("a-b")));
    QVERIFY(!jet4::indexableText(QStringLiteral("5 €")));
    QVERIFY(!jet4::indexableText(QStringLiteral("Ende ")));
    QVERIFY_THROWS_EXCEPTION(ExportError, jet4::indexKey(text, QStringLiteral("a-b")));
}

void TestMdb::tableBeyondItsUsageMap() {
    requireMdbtools();
    // A map row of 9 bytes covers 32 pages; the table grows past that in two batches, so
    // the map turns into a list of map pages and is read back and extended once more.
    const QString path = m_dir.filePath("karte.mdb");
    createAccessDatabase(path);
    {
        AccessDatabase db(path);
        db.createTable(
            parseCreateTable(QStringLiteral("CREATE TABLE [K] (Nr integer , Text memo )")), 9);
        db.commit();
    }
    auto text = [](qint64 r) { return memoText(200, false, int(r)); };
    for (int batch = 0; batch < 2; ++batch) {
        AccessDatabase db(path);
        db.appendRows(QStringLiteral("K"), 1000, [&](qint64 r, std::vector<QVariant>& v) {
            v[0] = batch * 1000 + r;
            v[1] = text(batch * 1000 + r);
        });
        db.commit();
    }
    const QByteArray bytes = fileBytes(path);
    int mapPages = 0;
    for (qsizetype p = 0; p < bytes.size(); p += jet4::kPageSize)
        mapPages += bytes.at(p) == char(jet4::PageUsageMap);
    QCOMPARE(mapPages, 1);
    QVERIFY(bytes.size() / jet4::kPageSize > 64);

    QString error;
    const auto exported = mdbreaders::exportRows(path, QStringLiteral("K"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(exported.size(), 2000);
    for (int i = 0; i < 2000; ++i)
        QCOMPARE(exported[i], (QStringList{QString::number(i), text(i)}));
}

void TestMdb::existingDatabase() {
    requireMdbtools();
    const QString folder = ownFolder();
    const QString path = folder + QStringLiteral("/zwei.mdb");
    writeTable(path, QStringLiteral("CREATE TABLE [Erste] (a integer )"), 2,
               [](int i) { return std::vector<QVariant>{qint64(i)}; });
    const QByteArray before = fileBytes(path);
    QVERIFY_THROWS_EXCEPTION(ExportError, createAccessDatabase(path));
    QCOMPARE(fileBytes(path), before);

    // The same name in other case is the same table.
    AccessDatabase db(path);
    QVERIFY(db.hasTable(QStringLiteral("ERSTE")));
    QVERIFY_THROWS_EXCEPTION(
        ExportError,
        db.createTable(parseCreateTable(QStringLiteral("CREATE TABLE [erste] (b integer )"))));
    db.createTable(parseCreateTable(QStringLiteral("CREATE TABLE [Zweite] (b char(5) )")));
    // Nothing reaches the file before the commit.
    QCOMPARE(fileBytes(path), before);
    db.appendRows(QStringLiteral("Zweite"), 1,
                  [](qint64, std::vector<QVariant>& v) { v[0] = QStringLiteral("fünf"); });
    db.commit();

    QCOMPARE(mdbreaders::tables(path), (QStringList{"Erste", "Zweite"}));
    QString error;
    QCOMPARE(mdbreaders::exportRows(path, QStringLiteral("Erste"), &error),
             (QList<QStringList>{{"0"}, {"1"}}));
    QCOMPARE(mdbreaders::exportRows(path, QStringLiteral("Zweite"), &error),
             (QList<QStringList>{{QStringLiteral("fünf")}}));
    QCOMPARE(filesIn(folder), QStringList{"zwei.mdb"});
    checkStrictly(path, {QStringLiteral("table Erste rows 2 "),
                         QStringLiteral("table Zweite rows 1 columns b:TEXT(5)\n  b=fünf; ")});

    // A file that is no database is refused, and left alone.
    QFile other(folder + QStringLiteral("/text.mdb"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(8192, 'x'));
    other.close();
    QVERIFY_THROWS_EXCEPTION(ExportError, AccessDatabase(other.fileName()));
    QCOMPARE(QFileInfo(other.fileName()).size(), 8192);
}

void TestMdb::namesTheFormatRefuses_data() {
    QTest::addColumn<QString>("create");
    QTest::newRow("dot in a column") << "CREATE TABLE [t] (a.b integer )";
    QTest::newRow("bracket in a column") << "CREATE TABLE [t] (a]b integer )";
    QTest::newRow("exclamation mark in the table") << "CREATE TABLE [t!] (a integer )";
    QTest::newRow("leading blank") << "CREATE TABLE [ t] (a integer )";
    QTest::newRow("65 characters")
        << QStringLiteral("CREATE TABLE [t] (%1 integer )").arg(QString(65, u'x'));
    QTest::newRow("same column twice") << "CREATE TABLE [t] (Nr integer , NR char(3) )";
    // Characters the catalog's index of names cannot sort here.
    QTest::newRow("hyphen in the table") << "CREATE TABLE [a-b] (a integer )";
    QTest::newRow("euro sign in the table") << "CREATE TABLE [5 €] (a integer )";
    QTest::newRow("blank at the table's end") << "CREATE TABLE [t ] (a integer )";
}

void TestMdb::namesTheFormatRefuses() {
    QFETCH(QString, create);
    const QString path = m_dir.filePath("namen.mdb");
    createAccessDatabase(path);
    const QByteArray before = fileBytes(path);
    AccessDatabase db(path);
    QVERIFY_THROWS_EXCEPTION(ExportError, db.createTable(parseCreateTable(create)));
    QCOMPARE(fileBytes(path), before);
    QFile::remove(path);
}

void TestMdb::valuesTheColumnsCannotHold_data() {
    QTest::addColumn<QString>("type");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("integer above 32 bits") << "integer" << QVariant(qint64(1) << 31);
    QTest::newRow("integer below 32 bits") << "integer" << QVariant(-(qint64(1) << 31) - 1);
    QTest::newRow("text longer than the column") << "char(3)" << QVariant(QStringLiteral("vier"));
    QTest::newRow("currency out of range") << "numeric(15,4)" << QVariant(1e16);
    QTest::newRow("not a number") << "float" << QVariant(QStringLiteral("abc"));
}

void TestMdb::valuesTheColumnsCannotHold() {
    QFETCH(QString, type);
    QFETCH(QVariant, value);
    const QString path = m_dir.filePath("werte.mdb");
    QFile::remove(path);
    writeTable(path, QStringLiteral("CREATE TABLE [w] (v %1 )").arg(type), 0,
               [](int) { return std::vector<QVariant>(); });
    const QByteArray before = fileBytes(path);
    AccessDatabase db(path);
    try {
        db.appendRows(QStringLiteral("w"), 2, [&](qint64 r, std::vector<QVariant>& v) {
            v[0] = r == 0 ? QVariant() : value;
        });
        QFAIL("accepted");
    } catch (const ExportError& e) {
        QVERIFY2(e.message().contains(u'v'), qPrintable(e.message()));
    }
    QCOMPARE(fileBytes(path), before);
}

void TestMdb::missingFolderReportsTheSystemReason() {
    const QString path = m_dir.filePath("fehlt/neu.mdb");
    try {
        createAccessDatabase(path);
        QFAIL("accepted");
    } catch (const ExportError& e) {
        QVERIFY2(e.message().contains(QString::fromLocal8Bit(std::strerror(ENOENT))),
                 qPrintable(e.message()));
    }
    QVERIFY(!QFile::exists(path));
}

void TestMdb::databaseNameThatIsNoFile() {
    const QString folder = ownFolder();
    QVERIFY_THROWS_EXCEPTION(data::DataError, createAccessDatabaseUnlessPresent(QString()));
    QVERIFY_THROWS_EXCEPTION(data::DataError, createAccessDatabaseUnlessPresent(folder));
    QVERIFY_THROWS_EXCEPTION(data::DataError, createAccessDatabaseUnlessPresent(folder + u'/'));
    QCOMPARE(filesIn(folder), QStringList());
    // An existing file is left as it is, whatever it holds.
    QFile other(folder + QStringLiteral("/alt.mdb"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("kein Jet");
    other.close();
    createAccessDatabaseUnlessPresent(other.fileName());
    QCOMPARE(fileBytes(other.fileName()), QByteArray("kein Jet"));
}

void TestMdb::readOnlyFolderReportsTheSystemReason() {
    const QString folder = ownFolder();
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QString path = folder + QStringLiteral("/neu.mdb");
    QString message;
    try {
        createAccessDatabase(path);
    } catch (const ExportError& e) {
        message = e.message();
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (message.isEmpty() && QFile::exists(path))
        QSKIP("the folder stays writable for this user");
    QVERIFY2(message.contains(QString::fromLocal8Bit(std::strerror(EACCES))), qPrintable(message));
    QCOMPARE(filesIn(folder), QStringList());
}

void TestMdb::fullDiskLeavesTheDatabaseAsItWas() {
    // A file size limit makes writes fail the way a full disk does, without needing one.
    const QString folder = ownFolder();
    const QString path = folder + QStringLiteral("/voll.mdb");
    writeTable(path, QStringLiteral("CREATE TABLE [v] (Nr integer , Text memo )"), 3, [](int i) {
        return std::vector<QVariant>{qint64(i), QStringLiteral("x")};
    });
    const QByteArray before = fileBytes(path);

    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 256 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        AccessDatabase db(path);
        db.appendRows(QStringLiteral("v"), 2000, [](qint64 r, std::vector<QVariant>& v) {
            v[0] = r;
            v[1] = memoText(3000, false, int(r));
        });
        db.commit();
    } catch (const ExportError& e) {
        message = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY2(message.contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(message));
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(filesIn(folder), QStringList{"voll.mdb"});
}

void TestMdb::rowEncoding() {
    // What readers cannot show: an empty text is not a null, and decoding gives back what
    // was encoded, also for a row whose memo is too long to stay in it.
    jet4::TableDef def;
    for (const auto& c :
         parseCreateTable(
             QStringLiteral(
                 "CREATE TABLE [t] (a char(10) , b char(10) , c integer , d bit , e memo )"))
             .columns)
        def.columns.push_back(jet4::columnFor(c));
    jet4::layoutColumns(def.columns);
    int stored = 0;
    auto store = [&](const QByteArray& bytes) {
        ++stored;
        QByteArray ref(12, char(0));
        jet4::put32(ref, 0, std::uint32_t(bytes.size()) | jet4::kLongValueSinglePage);
        return ref;
    };
    const QByteArray row = jet4::encodeRow(
        def, {QStringLiteral(""), QVariant(), qint64(-7), true, QString(300, u'x')}, store);
    QCOMPARE(stored, 1);
    const auto values = jet4::decodeRow(def, row);
    QVERIFY(!values[0].isNull());
    QCOMPARE(values[0].toString(), QString());
    QVERIFY(values[1].isNull());
    QCOMPARE(values[2].toInt(), -7);
    QCOMPARE(values[3].toBool(), true);

    // A row wider than a page is refused before anything is stored.
    jet4::TableDef wide;
    for (int i = 0; i < 9; ++i)
        wide.columns.push_back(
            jet4::columnFor({QStringLiteral("c%1").arg(i), ColumnType::Char, 255}));
    jet4::layoutColumns(wide.columns);
    std::vector<QVariant> big(9, QVariant(QString(255, QChar(0x20AC))));
    QVERIFY_THROWS_EXCEPTION(ExportError, jet4::encodeRow(wide, big, store));
}

void TestMdb::textCompression_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("umlauts") << QStringLiteral("Grüße") << true;
    QTest::newRow("euro sign") << QStringLiteral("5 €") << false;
    QTest::newRow("two characters") << QStringLiteral("ab") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("control character zero")
        << QStringLiteral("a") + QChar(0) + QStringLiteral("bc") << false;
}

void TestMdb::textCompression() {
    QFETCH(QString, text);
    QFETCH(bool, compressed);
    const QByteArray bytes = jet4::encodeText(text, true);
    QCOMPARE(bytes.startsWith("\xFF\xFE"), compressed);
    QCOMPARE(bytes.size(), compressed ? text.size() + 2 : text.size() * 2);
    QCOMPARE(jet4::decodeText(bytes), text);
    QCOMPARE(jet4::encodeText(text, false).size(), text.size() * 2);
    // A compressed text may switch to two bytes a character and back.
    QCOMPARE(jet4::decodeText(QByteArray("\xFF\xFE"
                                         "ab\x00\xAC\x20\x00"
                                         "c",
                                         9)),
             QStringLiteral("ab€c"));
}

QTEST_GUILESS_MAIN(TestMdb)
#include "tst_mdb.moc"
