// The SQL Server type table: what the driver reports for each server type
// (SQL type, size, digits, type name) and the field type the user sees, plus
// the text conversions used while fetching.

#include "data/odbc/odbcfetch.h"
#include "data/odbc/odbctypes.h"

#include <QtTest>

using namespace data;
using namespace data::odbc;

Q_DECLARE_METATYPE(TFieldType)
Q_DECLARE_METATYPE(data::StorageKind)

class TestTypeMap : public QObject {
    Q_OBJECT
private slots:
    void mapping_data();
    void mapping();
    void ordinals();
    void decimals_data();
    void decimals();
    void times_data();
    void times();
    void timestamp();
    void fractionsAtTheServersScale();
    void exactDateTimeText();
    void rawWireBinding_data();
    void rawWireBinding();
    void rawValues_data();
    void rawValues();
};

namespace {
DescribedColumn described(const QString& typeName, int sqlType, int columnSize, int digits = 0) {
    DescribedColumn c;
    c.name = QStringLiteral("c");
    c.typeName = typeName;
    c.sqlType = SQLSMALLINT(sqlType);
    c.columnSize = SQLULEN(columnSize);
    c.decimalDigits = SQLSMALLINT(digits);
    return c;
}

// The text the store shows for one fixed value of this kind and scale.
QString storedText(StorageKind kind, int scale, std::int64_t raw) {
    ColumnInfo info;
    info.name = QStringLiteral("v");
    info.kind = kind;
    info.scale = scale;
    info.type = kind == StorageKind::Decimal ? ftBCD : ftDateTime;
    ResultStore s({info});
    s.appendRows(1);
    std::memcpy(s.fixedSlot(0, 0), &raw, 8);
    return s.text(0, 0);
}

QByteArray le32(std::uint32_t a, std::uint32_t b) {
    QByteArray out(8, Qt::Uninitialized);
    std::memcpy(out.data(), &a, 4);
    std::memcpy(out.data() + 4, &b, 4);
    return out;
}

QByteArray le16(std::uint16_t a, std::uint16_t b) {
    QByteArray out(4, Qt::Uninitialized);
    std::memcpy(out.data(), &a, 2);
    std::memcpy(out.data() + 2, &b, 2);
    return out;
}
} // namespace

void TestTypeMap::mapping_data() {
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("sqlType");
    QTest::addColumn<int>("columnSize");
    QTest::addColumn<int>("digits");
    QTest::addColumn<TFieldType>("fieldType");
    QTest::addColumn<data::StorageKind>("kind");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("isLong");

    using K = StorageKind;
    auto row = [](const char* name, const char* typeName, int sqlType, int size, int digits,
                  TFieldType ft, K kind, int fieldSize, bool isLong) {
        QTest::newRow(name) << QString::fromLatin1(typeName) << sqlType << size << digits << ft
                            << kind << fieldSize << isLong;
    };
    // As the FreeTDS driver describes each type.
    row("int", "int", SQL_INTEGER, 10, 0, ftInteger, K::Int32, 0, false);
    row("smallint", "smallint", SQL_SMALLINT, 5, 0, ftSmallint, K::Int16, 0, false);
    row("tinyint", "tinyint", SQL_TINYINT, 3, 0, ftWord, K::UInt8, 0, false);
    row("bigint", "bigint", SQL_BIGINT, 19, 0, ftLargeint, K::Int64, 0, false);
    row("bit", "bit", SQL_BIT, 1, 0, ftBoolean, K::Bool, 0, false);
    row("float", "float", SQL_DOUBLE, 53, 0, ftFloat, K::Double, 0, false);
    row("real", "real", SQL_REAL, 24, 0, ftFloat, K::Double, 0, false);
    row("money", "money", SQL_DECIMAL, 19, 4, ftBCD, K::Decimal, 4, false);
    row("smallmoney", "smallmoney", SQL_DECIMAL, 10, 4, ftBCD, K::Decimal, 4, false);
    row("decimal(18,4)", "decimal", SQL_NUMERIC, 18, 4, ftBCD, K::Decimal, 4, false);
    row("numeric(9,2)", "numeric", SQL_NUMERIC, 9, 2, ftBCD, K::Decimal, 2, false);
    row("decimal(19,2)", "decimal", SQL_NUMERIC, 19, 2, ftFMTBcd, K::Utf8, 2, false);
    row("numeric(38,0)", "numeric", SQL_NUMERIC, 38, 0, ftFMTBcd, K::Utf8, 0, false);
    row("datetime", "datetime", SQL_TYPE_TIMESTAMP, 23, 3, ftDateTime, K::DateTime, 0, false);
    row("smalldatetime", "smalldatetime", SQL_TYPE_TIMESTAMP, 16, 0, ftDateTime, K::DateTime, 0,
        false);
    row("date", "date", SQL_TYPE_DATE, 10, 0, ftDate, K::Date, 0, false);
    row("time", "time", -154, 16, 7, ftTime, K::Time, 0, false);
    row("char(10)", "char", SQL_CHAR, 10, 0, ftFixedChar, K::Utf8, 10, false);
    row("varchar(40)", "varchar", SQL_VARCHAR, 40, 0, ftString, K::Utf8, 40, false);
    row("nchar(5)", "nchar", SQL_WCHAR, 5, 0, ftWideString, K::Utf16, 5, false);
    row("nvarchar(128)", "nvarchar", SQL_WVARCHAR, 128, 0, ftWideString, K::Utf16, 128, false);
    row("text", "text", SQL_LONGVARCHAR, 2147483647, 0, ftMemo, K::Utf8, 0, true);
    row("ntext", "ntext", SQL_WLONGVARCHAR, 1073741823, 0, ftMemo, K::Utf16, 0, true);
    row("varchar(max)", "varchar", SQL_VARCHAR, 0, 0, ftMemo, K::Utf8, 0, true);
    row("nvarchar(max)", "nvarchar", SQL_WVARCHAR, 0, 0, ftMemo, K::Utf16, 0, true);
    row("image", "image", SQL_LONGVARBINARY, 2147483647, 0, ftBlob, K::Bytes, 0, true);
    row("varbinary(max)", "varbinary", SQL_VARBINARY, 0, 0, ftBlob, K::Bytes, 0, true);
    row("binary(4)", "binary", SQL_BINARY, 4, 0, ftBytes, K::Bytes, 4, false);
    row("varbinary(10)", "varbinary", SQL_VARBINARY, 10, 0, ftVarBytes, K::Bytes, 10, false);
    row("uniqueidentifier", "uniqueidentifier", SQL_GUID, 36, 0, ftGuid, K::Guid, 38, false);
    row("sql_variant", "sql_variant", -150, 8000, 0, ftVariant, K::Utf16, 8000, true);
    row("timestamp", "timestamp", SQL_BINARY, 8, 0, ftBytes, K::Bytes, 8, false);
    // Without a type name the SQL type decides.
    row("no name: int", "", SQL_INTEGER, 10, 0, ftInteger, K::Int32, 0, false);
    row("no name: ntext", "", SQL_WLONGVARCHAR, 1073741823, 0, ftMemo, K::Utf16, 0, true);
    row("no name: guid", "", SQL_GUID, 36, 0, ftGuid, K::Guid, 38, false);
    // CLR types: FreeTDS names none and says long binary; the SQL Server
    // drivers say SQL_SS_UDT with the name. Bytes shown in hex.
    row("clr (FreeTDS)", "", SQL_LONGVARBINARY, 2147483647, 0, ftVarBytes, K::Bytes, 0, true);
    row("clr (SQL_SS_UDT)", "geography", -151, 0, 0, ftVarBytes, K::Bytes, 0, true);
    // Unknown types are shown as text.
    row("datetimeoffset", "datetimeoffset", -155, 34, 7, ftWideString, K::Utf16, 34, false);
}

void TestTypeMap::mapping() {
    QFETCH(QString, typeName);
    QFETCH(int, sqlType);
    QFETCH(int, columnSize);
    QFETCH(int, digits);
    const ColumnPlan plan = planColumn(described(typeName, sqlType, columnSize, digits));
    QTEST(plan.info.type, "fieldType");
    QTEST(plan.info.kind, "kind");
    QTEST(plan.info.size, "size");
    QTEST(plan.isLong, "isLong");
    QCOMPARE(plan.info.clrType, plan.info.type == ftVarBytes && plan.isLong);
    if (!plan.isLong)
        QVERIFY(plan.bufferBytes > 0);
}

void TestTypeMap::ordinals() {
    QCOMPARE(int(ftUnknown), 0);
    QCOMPARE(int(ftString), 1);
    QCOMPARE(int(ftBCD), 8);
    QCOMPARE(int(ftMemo), 16);
    QCOMPARE(int(ftFixedChar), 23);
    QCOMPARE(int(ftWideString), 24);
    QCOMPARE(int(ftLargeint), 25);
    QCOMPARE(int(ftVariant), 32);
    QCOMPARE(int(ftGuid), 35);
    QCOMPARE(int(ftTimeStamp), 36);
    QCOMPARE(int(ftFMTBcd), 37);
    QCOMPARE(fieldTypeEnumName(ftFMTBcd), QStringLiteral("ftFMTBcd"));
    QCOMPARE(fieldTypeEnumName(ftGuid), QStringLiteral("ftGuid"));
    QCOMPARE(fieldTypeEnumName(TFieldType(99)), QStringLiteral("ftUnknown"));
    QVERIFY(isBlobFieldType(ftMemo));
    QVERIFY(isBlobFieldType(ftGraphic));
    QVERIFY(!isBlobFieldType(ftString));
}

void TestTypeMap::decimals_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qlonglong>("unscaled");
    QTest::newRow("money") << QByteArray("123.4567") << 4 << true << 1234567LL;
    QTest::newRow("negative") << QByteArray("-1234.5678") << 4 << true << -12345678LL;
    QTest::newRow("short fraction") << QByteArray("2.5") << 4 << true << 25000LL;
    QTest::newRow("no fraction") << QByteArray("7") << 2 << true << 700LL;
    QTest::newRow("leading point") << QByteArray(".5") << 1 << true << 5LL;
    QTest::newRow("negative below one") << QByteArray("-.0001") << 4 << true << -1LL;
    QTest::newRow("extra digits cut") << QByteArray("1.23456") << 2 << true << 123LL;
    QTest::newRow("max money") << QByteArray("922337203685477.5807") << 4 << true
                               << 9223372036854775807LL;
    QTest::newRow("empty") << QByteArray("") << 2 << false << 0LL;
    QTest::newRow("junk") << QByteArray("abc") << 2 << false << 0LL;
}

void TestTypeMap::decimals() {
    QFETCH(QByteArray, text);
    QFETCH(int, scale);
    std::int64_t v = 0;
    const bool ok = parseDecimal(text.constData(), std::size_t(text.size()), scale, v);
    QTEST(ok, "ok");
    if (ok)
        QTEST(qlonglong(v), "unscaled");
}

void TestTypeMap::times_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qlonglong>("ticks");
    QTest::newRow("full") << QByteArray("13:14:15.1234567") << true
                          << (((13LL * 60 + 14) * 60 + 15) * 10000000 + 1234567);
    QTest::newRow("no fraction") << QByteArray("00:00:01") << true << 10000000LL;
    QTest::newRow("millis") << QByteArray("23:59:59.999") << true
                            << ((23LL * 3600 + 59 * 60 + 59) * 10000000 + 9990000);
    QTest::newRow("bad") << QByteArray("12:xx") << false << 0LL;
}

void TestTypeMap::times() {
    QFETCH(QByteArray, text);
    std::int64_t t = 0;
    const bool ok = parseTimeOfDay(text.constData(), std::size_t(text.size()), t);
    QTEST(ok, "ok");
    if (ok)
        QTEST(qlonglong(t), "ticks");
}

void TestTypeMap::timestamp() {
    SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 13, 14, 15, 500000000};
    ColumnInfo info;
    info.name = QStringLiteral("d");
    info.type = ftDateTime;
    info.kind = StorageKind::DateTime;
    ResultStore s({info});
    s.appendRows(1);
    const std::int64_t t = timestampTicks(ts);
    std::memcpy(s.fixedSlot(0, 0), &t, 8);
    QCOMPARE(s.text(0, 0), QStringLiteral("2024-02-29 13:14:15.500"));
}

void TestTypeMap::fractionsAtTheServersScale() {
    // datetime2 and time show as many digits as their scale, datetime only milliseconds.
    auto column = [](const char* type, StorageKind kind, int scale) {
        ColumnInfo c;
        c.name = QLatin1String(type);
        c.typeName = QLatin1String(type);
        c.kind = kind;
        c.scale = scale;
        return c;
    };
    ResultStore s({column("datetime2", StorageKind::DateTime, 7),
                   column("datetime2", StorageKind::DateTime, 0),
                   column("time", StorageKind::Time, 7), column("time", StorageKind::Time, 3),
                   column("datetime", StorageKind::DateTime, 3)});
    s.appendRows(2);
    const std::int64_t day = std::int64_t(daysFromCivil(2024, 2, 29)) * kTicksPerDay;
    const std::int64_t noon = 12 * 3600 * kTicksPerSecond;
    for (const auto& [row, value] : {std::pair{0, noon + 1}, std::pair{1, noon}}) {
        const std::int64_t values[] = {day + value, day + value, value, value, day + value};
        for (int c = 0; c < 5; ++c)
            std::memcpy(s.fixedSlot(row, c), &values[c], 8);
    }
    QCOMPARE(s.text(0, 0), QStringLiteral("2024-02-29 12:00:00.0000001"));
    QCOMPARE(s.text(1, 0), QStringLiteral("2024-02-29 12:00:00.0000000"));
    QCOMPARE(s.text(0, 1), QStringLiteral("2024-02-29 12:00:00"));
    QCOMPARE(s.text(0, 2), QStringLiteral("12:00:00.0000001"));
    QCOMPARE(s.text(1, 3), QStringLiteral("12:00:00.000"));
    QCOMPARE(s.text(1, 4), QStringLiteral("2024-02-29 12:00:00"));
    // A text written back keeps every digit.
    s.setValue(1, 0, QStringLiteral("0001-01-01T00:00:00.9999999"));
    QCOMPARE(s.text(1, 0), QStringLiteral("0001-01-01 00:00:00.9999999"));
    s.setValue(1, 2, QStringLiteral("23:59:59.9999999"));
    QCOMPARE(s.text(1, 2), QStringLiteral("23:59:59.9999999"));
}

void TestTypeMap::exactDateTimeText() {
    std::int64_t t = 0;
    QVERIFY(parseDateTimeTicks(u"9999-12-31 23:59:59.9999999", t));
    QCOMPARE(t, std::int64_t(daysFromCivil(9999, 12, 31)) * kTicksPerDay + kTicksPerDay - 1);
    QVERIFY(parseDateTimeTicks(u"2024-02-29", t));
    QVERIFY(parseTimeTicks(u"9:05", t));
    QCOMPARE(t, (9 * 60 + 5) * 60 * kTicksPerSecond);
    for (const char16_t* bad :
         {u"2023-02-29", u"2024-13-01", u"2024-02-29 24:00:00", u"2024-02-29 13:14:15.12345678",
          u"2024-02-29 13:14:15.", u"13:60", u"2024-2-29", u"0000-01-01"})
        QVERIFY2(!parseDateTimeTicks(bad, t) && !parseTimeTicks(bad, t),
                 qPrintable(QString::fromUtf16(bad)));
}

void TestTypeMap::rawWireBinding_data() {
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("sqlType");
    QTest::addColumn<int>("columnSize");
    QTest::addColumn<int>("cType");
    QTest::addColumn<int>("bufferBytes");

    QTest::newRow("money") << "money" << SQL_DECIMAL << 19 << SQL_C_BINARY << 8;
    QTest::newRow("smallmoney") << "smallmoney" << SQL_DECIMAL << 10 << SQL_C_BINARY << 8;
    QTest::newRow("datetime") << "datetime" << SQL_TYPE_TIMESTAMP << 23 << SQL_C_BINARY << 8;
    QTest::newRow("smalldatetime")
        << "smalldatetime" << SQL_TYPE_TIMESTAMP << 16 << SQL_C_BINARY << 8;
    QTest::newRow("nvarchar") << "nvarchar" << SQL_WVARCHAR << 100 << SQL_C_BINARY << 200;
    QTest::newRow("nchar") << "nchar" << SQL_WCHAR << 3 << SQL_C_BINARY << 6;
    QTest::newRow("int") << "int" << SQL_INTEGER << 10 << SQL_C_BINARY << 4;
    QTest::newRow("bigint") << "bigint" << SQL_BIGINT << 19 << SQL_C_BINARY << 8;
    QTest::newRow("smallint") << "smallint" << SQL_SMALLINT << 5 << SQL_C_BINARY << 2;
    QTest::newRow("tinyint") << "tinyint" << SQL_TINYINT << 3 << SQL_C_BINARY << 1;
    QTest::newRow("bit") << "bit" << SQL_BIT << 1 << SQL_C_BINARY << 1;
    QTest::newRow("float") << "float" << SQL_FLOAT << 53 << SQL_C_BINARY << 8;
    QTest::newRow("real") << "real" << SQL_REAL << 24 << SQL_C_DOUBLE << 8;
    // Everything else keeps the driver's conversions.
    QTest::newRow("nvarchar(max)") << "nvarchar" << SQL_WVARCHAR << 0 << SQL_C_WCHAR << 0;
    QTest::newRow("datetime2") << "datetime2" << SQL_TYPE_TIMESTAMP << 27 << SQL_C_TYPE_TIMESTAMP
                               << int(sizeof(SQL_TIMESTAMP_STRUCT));
    QTest::newRow("decimal") << "decimal" << SQL_DECIMAL << 18 << SQL_C_CHAR << 48;
    QTest::newRow("varchar") << "varchar" << SQL_VARCHAR << 40 << SQL_C_CHAR << 161;
    QTest::newRow("unknown type as text") << "datetimeoffset" << -155 << 34 << SQL_C_WCHAR << 70;
    // Without the driver's type name the SQL type could stand for another
    // server type with other bytes.
    QTest::newRow("timestamp without name")
        << "" << SQL_TYPE_TIMESTAMP << 27 << SQL_C_TYPE_TIMESTAMP
        << int(sizeof(SQL_TIMESTAMP_STRUCT));
    QTest::newRow("nvarchar without name") << "" << SQL_WVARCHAR << 10 << SQL_C_WCHAR << 22;
}

void TestTypeMap::rawWireBinding() {
    QFETCH(QString, typeName);
    QFETCH(int, sqlType);
    QFETCH(int, columnSize);
    const DescribedColumn c = described(typeName, sqlType, columnSize);
    const ColumnPlan raw = planColumn(c, true);
    QTEST(int(raw.cType), "cType");
    QTEST(int(raw.bufferBytes), "bufferBytes");
    // What the user sees does not depend on how the driver hands values over.
    const ColumnPlan plain = planColumn(c, false);
    QCOMPARE(raw.info.type, plain.info.type);
    QCOMPARE(raw.info.kind, plain.info.kind);
    QCOMPARE(raw.info.size, plain.info.size);
    QCOMPARE(raw.info.scale, plain.info.scale);
}

void TestTypeMap::rawValues_data() {
    QTest::addColumn<bool>("money"); // else datetime
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text"); // empty: refused

    auto money = [](const char* name, QByteArray bytes, const char* text) {
        QTest::newRow(name) << true << bytes << QString::fromLatin1(text);
    };
    money("0.0125", le32(0, 125), "0.0125");
    money("-0.0001", le32(0xFFFFFFFF, 0xFFFFFFFF), "-0.0001");
    money("low half above 2^31", le32(1, 0x80000000), "644245.0944");
    money("negative, low half above 2^31", le32(0xFFFFFFFE, 0x80000000), "-644245.0944");
    money("money max", le32(0x7FFFFFFF, 0xFFFFFFFF), "922337203685477.5807");
    money("money min", le32(0x80000000, 0), "-922337203685477.5808");
    money("smallmoney max", QByteArray("\xFF\xFF\xFF\x7F", 4), "214748.3647");
    money("smallmoney min", QByteArray("\x00\x00\x00\x80", 4), "-214748.3648");
    money("money of another length", QByteArray(6, '\0'), "");

    auto datetime = [](const char* name, QByteArray bytes, const char* text) {
        QTest::newRow(name) << false << bytes << QString::fromLatin1(text);
    };
    datetime("1900-01-01", le32(0, 0), "1900-01-01 00:00:00");
    datetime("first day", le32(std::uint32_t(-53690), 0), "1753-01-01 00:00:00");
    datetime("last moment", le32(2958463, 25919999), "9999-12-31 23:59:59.997");
    datetime("before 1900", le32(std::uint32_t(-1), 25919998), "1899-12-31 23:59:59.993");
    // 1/300 s to the nearest millisecond, as the driver's timestamps have it.
    datetime("one tick", le32(0, 1), "1900-01-01 00:00:00.003");
    datetime("two ticks", le32(0, 2), "1900-01-01 00:00:00.007");
    datetime("150 ticks", le32(0, 150), "1900-01-01 00:00:00.500");
    datetime("smalldatetime", le16(65535, 1439), "2079-06-06 23:59:00");
    datetime("smalldatetime 1900", le16(0, 0), "1900-01-01 00:00:00");
    datetime("datetime of another length", QByteArray(16, '\0'), "");
}

void TestTypeMap::rawValues() {
    QFETCH(bool, money);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    std::int64_t v = 0;
    const SQLLEN n = SQLLEN(bytes.size());
    const bool known =
        money ? moneyFromRaw(bytes.constData(), n, v) : dateTimeFromRaw(bytes.constData(), n, v);
    QCOMPARE(known, !text.isEmpty());
    if (known)
        QCOMPARE(storedText(money ? StorageKind::Decimal : StorageKind::DateTime, money ? 4 : 3, v),
                 text);
}

QTEST_APPLESS_MAIN(TestTypeMap)
#include "tst_typemap.moc"
