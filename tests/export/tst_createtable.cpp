// The statement grammar the desktop-file provider accepts and the format names it knows.
#include "export/tableschema.h"
#include "export/tablewriter.h"

#include <QTest>

using namespace exportfile;

Q_DECLARE_METATYPE(exportfile::ColumnType)

class TestCreateTable : public QObject {
    Q_OBJECT
private slots:
    void parsesColumns_data();
    void parsesColumns();
    void fractionsOfDateTimeAndTime();
    void rejects_data();
    void rejects();
    void formatNames_data();
    void formatNames();
    void unknownFormats();
};

void TestCreateTable::parsesColumns_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QList<int>>("sizes");

    const int I = int(ColumnType::Integer), F = int(ColumnType::Float),
              N = int(ColumnType::Numeric), C = int(ColumnType::Char), M = int(ColumnType::Memo),
              B = int(ColumnType::Bit), D = int(ColumnType::Date), DT = int(ColumnType::DateTime),
              T = int(ColumnType::Time), TS = int(ColumnType::Timestamp);
    QTest::newRow("as the batch move writes it")
        << "CREATE TABLE [kunden.dbf] (ID integer , Name char(40) , Price numeric(15,4) )"
        << "kunden.dbf" << QStringList{"ID", "Name", "Price"} << QList<int>{I, C, N}
        << QList<int>{0, 40, 0};
    QTest::newRow("every type") << "CREATE TABLE [t] (a integer , b float , c numeric(15,4) , d "
                                   "char(254) , e memo , f bit , "
                                   "g date , h datetime , i time , j timestamp )"
                                << "t"
                                << QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}
                                << QList<int>{I, F, N, C, M, B, D, DT, T, TS}
                                << QList<int>{0, 0, 0, 254, 0, 0, 0, 0, 0, 0};
    QTest::newRow("names with blanks and type words")
        << "CREATE TABLE [x y.txt] (Order Date date , date time datetime , Name  char(3) )"
        << "x y.txt" << QStringList{"Order Date", "date time", "Name "} << QList<int>{D, DT, C}
        << QList<int>{0, 0, 3};
    QTest::newRow("empty column name") << "CREATE TABLE [t] ( integer )"
                                       << "t" << QStringList{""} << QList<int>{I} << QList<int>{0};
    QTest::newRow("comma in a name") << "CREATE TABLE [t] (a,b integer )"
                                     << "t" << QStringList{"a,b"} << QList<int>{I} << QList<int>{0};
    QTest::newRow("bracket in the table name")
        << "CREATE TABLE [a]b.dbf] (x bit )"
        << "a]b.dbf" << QStringList{"x"} << QList<int>{B} << QList<int>{0};
    QTest::newRow("umlauts") << QString::fromUtf8("CREATE TABLE [Größe.dbf] (Maße memo )")
                             << QString::fromUtf8("Größe.dbf")
                             << QStringList{QString::fromUtf8("Maße")} << QList<int>{M}
                             << QList<int>{0};
}

void TestCreateTable::parsesColumns() {
    QFETCH(QString, sql);
    QFETCH(QString, table);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, types);
    QFETCH(QList<int>, sizes);
    const TableSchema s = parseCreateTable(sql);
    QCOMPARE(s.tableName, table);
    QCOMPARE(int(s.columns.size()), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(s.columns[size_t(i)].name, names[i]);
        QCOMPARE(int(s.columns[size_t(i)].type), types[i]);
        QCOMPARE(s.columns[size_t(i)].size, sizes[i]);
    }
    if (sql.contains("numeric")) {
        const auto& c = *std::find_if(s.columns.begin(), s.columns.end(), [](const ColumnDef& c) {
            return c.type == ColumnType::Numeric;
        });
        QCOMPARE(c.precision, 15);
        QCOMPARE(c.scale, 4);
    }
}

// datetime(n) and time(n) keep n digits of the second; the plain types none given.
void TestCreateTable::fractionsOfDateTimeAndTime() {
    const TableSchema s =
        parseCreateTable("CREATE TABLE [t] (a datetime(7) , b time(3) , c datetime , d time )");
    QCOMPARE(int(s.columns.size()), 4);
    QCOMPARE(s.columns[0].type, ColumnType::DateTime);
    QCOMPARE(s.columns[0].fraction, 7);
    QCOMPARE(s.columns[1].type, ColumnType::Time);
    QCOMPARE(s.columns[1].fraction, 3);
    QCOMPARE(s.columns[2].fraction, -1);
    QCOMPARE(s.columns[3].fraction, -1);
    QCOMPARE(columnTypeText(s.columns[0]), QStringLiteral("datetime(7)"));
    QCOMPARE(columnTypeText(s.columns[3]), QStringLiteral("time"));
    QVERIFY_THROWS_EXCEPTION(ExportError, parseCreateTable("CREATE TABLE [t] (a datetime(8) )"));
}

void TestCreateTable::rejects_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("messagePart");
    QTest::newRow("no column, as for a source of unmapped fields only") << "CREATE TABLE [t.dbf] ()"
                                                                        << "kein Feld";
    QTest::newRow("unknown type") << "CREATE TABLE [t] (a blob )"
                                  << "a blob";
    QTest::newRow("column without type") << "CREATE TABLE [t] (a )"
                                         << "Syntaxfehler";
    QTest::newRow("trailing separator") << "CREATE TABLE [t] (a integer , )"
                                        << "Syntaxfehler";
    QTest::newRow("no brackets") << "CREATE TABLE t (a integer )"
                                 << "Syntaxfehler";
    QTest::newRow("not CREATE TABLE") << "DROP TABLE [t]"
                                      << "Syntaxfehler";
    QTest::newRow("empty table name") << "CREATE TABLE [] (a integer )"
                                      << "Tabellenname";
    QTest::newRow("char(0)") << "CREATE TABLE [t] (a char(0) )"
                             << "Feldgröße";
    QTest::newRow("char(300)") << "CREATE TABLE [t] (a char(300) )"
                               << "Feldgröße";
}

void TestCreateTable::rejects() {
    QFETCH(QString, sql);
    QFETCH(QString, messagePart);
    try {
        parseCreateTable(sql);
        QFAIL("accepted");
    } catch (const ExportError& e) {
        QVERIFY2(e.message().contains(messagePart), qPrintable(e.message()));
    }
}

void TestCreateTable::formatNames_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("extension");
    QTest::newRow("dBASE III") << "dBASE III" << int(FileFormat::DBase3) << ".dbf";
    QTest::newRow("dBASE IV") << "dBASE IV" << int(FileFormat::DBase4) << ".dbf";
    QTest::newRow("dBASE 5.0") << "dBASE 5.0" << int(FileFormat::DBase5) << ".dbf";
    QTest::newRow("Paradox 3.x") << "Paradox 3.x" << int(FileFormat::Paradox3) << ".db";
    QTest::newRow("Paradox 4.x") << "Paradox 4.x" << int(FileFormat::Paradox4) << ".db";
    QTest::newRow("Paradox 5.x") << "Paradox 5.x" << int(FileFormat::Paradox5) << ".db";
    QTest::newRow("FoxPro 2.0") << "FoxPro 2.0" << int(FileFormat::Fox20) << ".dbf";
    QTest::newRow("FoxPro 2.5") << "FoxPro 2.5" << int(FileFormat::Fox25) << ".dbf";
    QTest::newRow("FoxPro 2.6") << "FoxPro 2.6" << int(FileFormat::Fox26) << ".dbf";
    QTest::newRow("FoxPro 3.0") << "FoxPro 3.0" << int(FileFormat::Fox30) << ".dbf";
    QTest::newRow("Excel 3.0") << "Excel 3.0" << int(FileFormat::Excel3) << ".xls";
    QTest::newRow("Excel 4.0") << "Excel 4.0" << int(FileFormat::Excel4) << ".xls";
    QTest::newRow("Excel 5.0") << "Excel 5.0" << int(FileFormat::Excel5) << ".xls";
    QTest::newRow("Excel 8.0") << "Excel 8.0" << int(FileFormat::Excel8) << ".xls";
    QTest::newRow("HTML Import") << "HTML Import" << int(FileFormat::HtmlImport) << ".html";
    QTest::newRow("HTML Export") << "HTML Export" << int(FileFormat::HtmlExport) << ".html";
    QTest::newRow("Text") << "Text" << int(FileFormat::Text) << ".txt";
    QTest::newRow("case and blanks") << "  excel 8.0 " << int(FileFormat::Excel8) << ".xls";
    QTest::newRow("further settings") << "Excel 8.0;HDR=YES" << int(FileFormat::Excel8) << ".xls";
}

void TestCreateTable::formatNames() {
    QFETCH(QString, text);
    QFETCH(int, format);
    QFETCH(QString, extension);
    QCOMPARE(int(formatFromExtendedProperties(text)), format);
    QCOMPARE(defaultExtension(FileFormat(format)), extension);
}

void TestCreateTable::unknownFormats() {
    QVERIFY_THROWS_EXCEPTION(ExportError, formatFromExtendedProperties(QString()));
    QVERIFY_THROWS_EXCEPTION(ExportError, formatFromExtendedProperties("dBASE II"));
    QVERIFY_THROWS_EXCEPTION(ExportError, formatFromExtendedProperties("Lotus WK1"));
}

QTEST_GUILESS_MAIN(TestCreateTable)
#include "tst_createtable.moc"
