// The columnar result storage: values of every kind with nulls, rows across
// block boundaries, rows handed from a filling store to a reading one, the rules for rewriting
// values, display texts and the calendar arithmetic behind dates.

#include "data/dataerror.h"
#include "data/resultstore.h"
#include "tests/support/resident.h"

#include <QDateTime>
#include <QUuid>
#include <QtTest>
#include <cstring>
#include <limits>

using namespace data;

namespace {
ColumnInfo col(const char* name, StorageKind kind, TFieldType type, int scale = 0) {
    ColumnInfo c;
    c.name = QString::fromLatin1(name);
    c.kind = kind;
    c.type = type;
    c.scale = scale;
    return c;
}

// Appends `rows` rows to a store of an Int32 and a UTF-16 column: row r holds
// r and its decimal text, every seventh row is null.
void appendNumbered(ResultStore& s, qint64 rows) {
    const qint64 first = s.appendRows(rows);
    for (qint64 r = first; r < first + rows; ++r) {
        if (r % 7 == 0)
            continue; // null row
        const std::int32_t v = std::int32_t(r);
        std::memcpy(s.fixedSlot(r, 0), &v, 4);
        const QString t = QString::number(r);
        s.setVariable(r, 1, t.utf16(), std::size_t(t.size()) * 2);
    }
}
} // namespace

class TestResultStore : public QObject {
    Q_OBJECT
private slots:
    void valuesAndNulls_data();
    void valuesAndNulls();
    void rowsAcrossBlocks();
    void handedOverInChunks();
    void variableRowsInOrder();
    void lastRowCanBeRewritten();
    void removeLastRow();
    void columnIndex();
    void calendar_data();
    void calendar();
    void memoryStaysNearPayload();
    void residentMemoryFollowsTheRows();
    void arenaGrowsPastItsEstimate();
    void largeStoresReleasedAlongsideNewOnes();
    void copyValueAsTheVariantWould();
};

void TestResultStore::valuesAndNulls_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QVariant>("in");
    QTest::addColumn<QVariant>("out");
    QTest::addColumn<QString>("text");

    auto row = [](const char* name, StorageKind k, int scale, QVariant in, QVariant out,
                  QString text) { QTest::newRow(name) << int(k) << scale << in << out << text; };
    row("bool", StorageKind::Bool, 0, true, true, "True");
    row("bool false", StorageKind::Bool, 0, false, false, "False");
    row("tinyint", StorageKind::UInt8, 0, 255, 255, "255");
    row("smallint", StorageKind::Int16, 0, -32768, -32768, "-32768");
    row("int", StorageKind::Int32, 0, -123456, -123456, "-123456");
    row("bigint", StorageKind::Int64, 0, qlonglong(9007199254740993LL),
        qlonglong(9007199254740993LL), "9007199254740993");
    row("float", StorageKind::Double, 0, 3.25, 3.25, "3.25");
    row("money", StorageKind::Decimal, 4, QString("123.4567"), 123.4567, "123.4567");
    row("negative money", StorageKind::Decimal, 4, QString("-0.5"), -0.5, "-0.5000");
    row("decimal from double", StorageKind::Decimal, 2, 999.99, 999.99, "999.99");
    row("decimal scale 0", StorageKind::Decimal, 0, QString("42"), 42.0, "42");
    row("datetime", StorageKind::DateTime, 3,
        QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 500), Qt::UTC),
        QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 500), Qt::UTC), "2024-02-29 13:14:15.500");
    row("datetime whole second", StorageKind::DateTime, 3,
        QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC),
        QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC), "1900-01-01 00:00:00");
    row("date", StorageKind::Date, 0, QDate(1, 1, 1), QDate(1, 1, 1), "0001-01-01");
    row("date 9999", StorageKind::Date, 0, QDate(9999, 12, 31), QDate(9999, 12, 31), "9999-12-31");
    row("time", StorageKind::Time, 7, QTime(23, 59, 59, 999), QTime(23, 59, 59, 999),
        "23:59:59.999");
    const QUuid u = QUuid::fromString(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
    row("guid", StorageKind::Guid, 0, u, u, "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    row("utf8", StorageKind::Utf8, 0, QString("abécd"), QString("abécd"), "abécd");
    row("utf16", StorageKind::Utf16, 0, QString("hé€!"), QString("hé€!"), "hé€!");
    row("empty text is not null", StorageKind::Utf16, 0, QString(""), QString(""), "");
    row("bytes", StorageKind::Bytes, 0, QByteArray("\x00\xbe\xef", 3),
        QByteArray("\x00\xbe\xef", 3), "0x00BEEF");
}

void TestResultStore::valuesAndNulls() {
    QFETCH(int, kind);
    QFETCH(int, scale);
    QFETCH(QVariant, in);
    QFETCH(QVariant, out);
    QFETCH(QString, text);

    ResultStore s({col("v", StorageKind(kind), ftUnknown, scale)});
    s.appendRows(3);
    s.setValue(0, 0, in);
    // Row 1 stays null; row 2 is set and then cleared.
    s.setValue(2, 0, in);
    s.setValue(2, 0, QVariant());

    QVERIFY(!s.isNull(0, 0));
    QCOMPARE(s.value(0, 0), out);
    QCOMPARE(s.text(0, 0), text);
    for (int r : {1, 2}) {
        QVERIFY(s.isNull(r, 0));
        QVERIFY(!s.value(r, 0).isValid());
        QCOMPARE(s.text(r, 0), QString());
    }
    // Out of range reads are null, not crashes.
    QVERIFY(s.isNull(3, 0));
    QVERIFY(s.isNull(-1, 0));
    QVERIFY(s.isNull(0, 1));
}

void TestResultStore::rowsAcrossBlocks() {
    ResultStore s(
        {col("n", StorageKind::Int32, ftInteger), col("t", StorageKind::Utf16, ftWideString)});
    const qint64 n = ResultStore::kBlockRows * 2 + 5;
    // Appended in uneven batches so batches straddle block boundaries.
    qint64 done = 0;
    while (done < n) {
        const qint64 batch = std::min<qint64>(1000, n - done);
        appendNumbered(s, batch);
        done += batch;
    }
    s.squeeze();
    QCOMPARE(s.rowCount(), n);
    for (qint64 r : {qint64(0), qint64(1), ResultStore::kBlockRows - 1, ResultStore::kBlockRows,
                     ResultStore::kBlockRows + 1, n - 1, n - 2}) {
        if (r % 7 == 0) {
            QVERIFY(s.isNull(r, 0));
            QVERIFY(s.isNull(r, 1));
        } else {
            QCOMPARE(s.integer(r, 0), r);
            QCOMPARE(s.utf16(r, 1).toString(), QString::number(r));
        }
    }
}

// A store filled on one side and read on the other through chunks: complete
// blocks move, the block being filled goes as a copy or waits, and the
// reading store ends up with every row as written.
void TestResultStore::handedOverInChunks() {
    const QList<ColumnInfo> columns = {col("n", StorageKind::Int32, ftInteger),
                                       col("t", StorageKind::Utf16, ftWideString)};
    ResultStore filling(columns), reading(columns);
    auto fill = [&](qint64 rows) { appendNumbered(filling, rows); };
    auto check = [&](qint64 r) {
        if (r % 7 == 0)
            return reading.isNull(r, 0) && reading.isNull(r, 1);
        return reading.integer(r, 0) == r && reading.utf16(r, 1).toString() == QString::number(r);
    };
    const qint64 block = ResultStore::kBlockRows;
    // (rows written before the hand-over, whether the open block goes as a copy)
    const std::pair<qint64, bool> steps[] = {
        {10, true},           {block - 20, true},     {block + 100, true},
        {block + 200, false}, {2 * block + 3, false}, {2 * block + 5, true}};
    for (const auto& [rows, withOpen] : steps) {
        fill(rows - filling.rowCount());
        const auto chunk = filling.takeNewRows(false, withOpen);
        if (!chunk) {
            QVERIFY(!withOpen);
            continue;
        }
        reading.appendChunk(*chunk);
        QCOMPARE(reading.rowCount(), withOpen ? rows : rows / block * block);
        QVERIFY(check(reading.rowCount() - 1));
    }
    QVERIFY(!filling.takeNewRows(false, true)); // nothing new
    fill(7);
    const auto rest = filling.takeNewRows(true);
    QVERIFY(rest);
    reading.appendChunk(*rest);
    QVERIFY(!filling.takeNewRows(true));
    QCOMPARE(reading.rowCount(), 2 * block + 12);
    for (qint64 r = 0; r < reading.rowCount(); ++r)
        if (!check(r))
            QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(r)));
}

void TestResultStore::variableRowsInOrder() {
    ResultStore s({col("t", StorageKind::Utf8, ftString)});
    s.appendRows(3);
    s.setValue(2, 0, QStringLiteral("c")); // rows 0 and 1 close as null
    QVERIFY(s.isNull(0, 0));
    QVERIFY(s.isNull(1, 0));
    QCOMPARE(s.text(2, 0), QStringLiteral("c"));
    // An earlier row cannot be written any more: refused, nothing corrupted.
    QVERIFY_THROWS_EXCEPTION(StateError, s.setValue(0, 0, QStringLiteral("a")));
    QCOMPARE(s.text(2, 0), QStringLiteral("c"));
    QVERIFY(s.isNull(0, 0));
}

void TestResultStore::lastRowCanBeRewritten() {
    ResultStore s(
        {col("t", StorageKind::Utf16, ftWideString), col("n", StorageKind::Int64, ftLargeint)});
    s.appendRows(2);
    s.setValue(0, 0, QStringLiteral("first"));
    s.setValue(1, 0, QStringLiteral("long value"));
    s.setValue(1, 0, QStringLiteral("x"));
    s.setValue(0, 1, 7);
    s.setValue(0, 1, 8); // fixed values change in any row
    QCOMPARE(s.text(0, 0), QStringLiteral("first"));
    QCOMPARE(s.text(1, 0), QStringLiteral("x"));
    QCOMPARE(s.integer(0, 1), 8);
    s.setValue(1, 0, QVariant());
    QVERIFY(s.isNull(1, 0));
    s.appendRows(1);
    s.setValue(2, 0, QStringLiteral("third"));
    QCOMPARE(s.text(2, 0), QStringLiteral("third"));
    QCOMPARE(s.text(0, 0), QStringLiteral("first"));
}

void TestResultStore::removeLastRow() {
    ResultStore s({col("t", StorageKind::Utf8, ftString), col("n", StorageKind::Int32, ftInteger)});
    for (int block = 0; block < 2; ++block) {
        // Once inside a block, once on the first row of a fresh block.
        const qint64 keep = block == 0 ? 3 : ResultStore::kBlockRows;
        s.clear();
        s.appendRows(keep);
        s.setValue(keep - 1, 0, QStringLiteral("kept"));
        s.appendRows(1);
        s.setValue(keep, 0, QStringLiteral("dropped"));
        s.setValue(keep, 1, 5);
        s.removeLastRow();
        QCOMPARE(s.rowCount(), keep);
        QCOMPARE(s.text(keep - 1, 0), QStringLiteral("kept"));
        s.appendRows(1);
        QVERIFY(s.isNull(keep, 0));
        QVERIFY(s.isNull(keep, 1));
        s.setValue(keep, 0, QStringLiteral("again"));
        QCOMPARE(s.text(keep, 0), QStringLiteral("again"));
    }
}

void TestResultStore::columnIndex() {
    ResultStore s(
        {col("Name", StorageKind::Utf8, ftString), col("ID", StorageKind::Int32, ftInteger)});
    QCOMPARE(s.columnIndex(u"name"), 0);
    QCOMPARE(s.columnIndex(u"id"), 1);
    QCOMPARE(s.columnIndex(u"missing"), -1);
}

void TestResultStore::calendar_data() {
    QTest::addColumn<QDate>("date");
    for (QDate d : {QDate(1, 1, 1), QDate(1, 3, 1), QDate(1582, 10, 15), QDate(1899, 12, 30),
                    QDate(1900, 1, 1), QDate(1970, 1, 1), QDate(2000, 2, 29), QDate(2024, 2, 29),
                    QDate(2100, 3, 1), QDate(9999, 12, 31)})
        QTest::newRow(qPrintable(d.toString(Qt::ISODate))) << d;
}

void TestResultStore::calendar() {
    QFETCH(QDate, date);
    const std::int32_t days = daysFromCivil(date.year(), date.month(), date.day());
    QCOMPARE(qint64(days), date.toJulianDay() - 1721426);
    int y, m, d;
    civilFromDays(days, y, m, d);
    QCOMPARE(QDate(y, m, d), date);
}

// A million-row table must not cost much more than its values: no per-cell
// objects, no slack beyond the last block.
void TestResultStore::memoryStaysNearPayload() {
    ResultStore s({col("n", StorageKind::Int32, ftInteger), col("t", StorageKind::Utf8, ftString)});
    const qint64 n = 200000;
    s.appendRows(n);
    for (qint64 r = 0; r < n; ++r) {
        const std::int32_t v = std::int32_t(r);
        std::memcpy(s.fixedSlot(r, 0), &v, 4);
        s.setVariable(r, 1, "abcdefgh", 8);
    }
    s.squeeze();
    const double payload = double(n) * (4 + 8);
    const double perRowOverhead = (double(s.memoryBytes()) - payload) / double(n);
    QVERIFY2(perRowOverhead < 5.0, qPrintable(QString::number(perRowOverhead)));

    // A result of a few rows (a script returns thousands of them) costs about
    // what it holds, not a block's worth per column; it still grows past its
    // first room with every value kept.
    ResultStore small(
        {col("n", StorageKind::Int32, ftInteger), col("t", StorageKind::Utf16, ftWideString)});
    appendNumbered(small, 20);
    QVERIFY2(small.memoryBytes() < 1024, qPrintable(QString::number(small.memoryBytes())));
    const qint64 first = small.appendRows(300);
    for (qint64 r = first; r < first + 300; ++r) {
        const std::int32_t v = std::int32_t(r);
        std::memcpy(small.fixedSlot(r, 0), &v, 4);
        small.setVariable(r, 1, u"xy", 4);
    }
    QCOMPARE(small.value(19, 0).toInt(), 19);
    QCOMPARE(small.value(19, 1).toString(), QStringLiteral("19"));
    QCOMPARE(small.value(319, 0).toInt(), 319);
    QCOMPARE(small.value(319, 1).toString(), QStringLiteral("xy"));
    QVERIFY(!small.isNull(319, 1));
}

// Rows arriving a few hundred at a time grow every column's arrays block by
// block; the process's resident memory grows with the payload, not by whole
// stretches of a region per column and block (full arrays once kept their regions to themselves).
void TestResultStore::residentMemoryFollowsTheRows() {
    QList<ColumnInfo> columns;
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h"})
        columns << col(name, StorageKind::Int64, ftLargeint);
    columns << col("t", StorageKind::Utf8, ftString);
    const long before = residentKb();
    {
        ResultStore s(columns);
        const qint64 rows = 1'000'000;
        for (qint64 first = 0; first < rows; first += 500) {
            s.appendRows(500);
            for (qint64 r = first; r < first + 500; ++r) {
                for (int c = 0; c < 8; ++c)
                    std::memcpy(s.fixedSlot(r, c), &r, 8);
                s.setVariable(r, 8, "abcd", 4);
            }
        }
        const long addedKb = residentKb() - before;
        const long storeKb = long(s.memoryBytes() / 1024);
        QVERIFY2(addedKb < storeKb * 3 / 2 + 16 * 1024,
                 qPrintable(QStringLiteral("%1 kB resident for %2 kB").arg(addedKb).arg(storeKb)));
        QCOMPARE(s.value(999'999, 7).toLongLong(), 999'999);
        QCOMPARE(s.value(654'321, 8).toString(), QStringLiteral("abcd"));
    }
}

// Large stores give their memory back on another thread; stores built at the
// same time keep every value.
void TestResultStore::largeStoresReleasedAlongsideNewOnes() {
    const qint64 rows = 4'000'000; // about 70 MB: released in the background
    for (int round = 0; round < 3; ++round) {
        auto big = std::make_unique<ResultStore>(QList<ColumnInfo>{
            col("n", StorageKind::Int32, ftInteger), col("t", StorageKind::Utf16, ftWideString)});
        appendNumbered(*big, rows);
        QVERIFY(big->memoryBytes() >= ResultStore::kReleaseInBackground);
        big.reset();
        ResultStore next(
            {col("n", StorageKind::Int32, ftInteger), col("t", StorageKind::Utf16, ftWideString)});
        appendNumbered(next, 200'000);
        for (qint64 r : {qint64(1), qint64(99'999), qint64(199'999)}) {
            QCOMPARE(next.value(r, 0).toInt(), int(r));
            QCOMPARE(next.value(r, 1).toString(), QString::number(r));
        }
    }
}

void TestResultStore::arenaGrowsPastItsEstimate() {
    // The first block holds short values, so the second one starts with a
    // small estimate and must grow several times for its large values; every
    // value must survive the growth and a move of the whole store.
    ResultStore s({col("b", StorageKind::Bytes, ftBlob)});
    const qint64 n = ResultStore::kBlockRows + 40;
    s.appendRows(n);
    auto valueOf = [](qint64 r) {
        const qsizetype len = r < ResultStore::kBlockRows ? 3 : 70000 + r % 5000;
        return QByteArray(len, char('a' + r % 26));
    };
    for (qint64 r = 0; r < n; ++r) {
        const QByteArray v = valueOf(r);
        s.setVariable(r, 0, v.constData(), std::size_t(v.size()));
    }
    s.squeeze();
    const ResultStore moved = std::move(s);
    for (qint64 r : {qint64(0), ResultStore::kBlockRows - 1, ResultStore::kBlockRows,
                     ResultStore::kBlockRows + 17, n - 1})
        QCOMPARE(moved.bytes(r, 0).toByteArray(), valueOf(r));
}

QTEST_APPLESS_MAIN(TestResultStore)
#include "tst_resultstore.moc"

void TestResultStore::copyValueAsTheVariantWould() {
    // Every pair of kinds, with the shortcuts and without: the copy must store what
    // setValue(from.value()) stores, down to the dropped sub-millisecond ticks.
    const QList<ColumnInfo> kinds = {
        col("bool", StorageKind::Bool, ftBoolean),
        col("int32", StorageKind::Int32, ftInteger),
        col("int64", StorageKind::Int64, ftLargeint),
        col("double", StorageKind::Double, ftFloat),
        col("money", StorageKind::Decimal, ftBCD, 4),
        col("datetime", StorageKind::DateTime, ftDateTime),
        col("date", StorageKind::Date, ftDate),
        col("time", StorageKind::Time, ftTime),
        col("utf8", StorageKind::Utf8, ftString),
        col("utf16", StorageKind::Utf16, ftWideString),
    };
    ResultStore from(kinds);
    auto set = [&](qint64 row, int c, auto raw) {
        std::memcpy(from.fixedSlot(row, c), &raw, sizeof raw);
    };
    auto text8 = [&](qint64 row, int c, const QByteArray& b) {
        from.setVariable(row, c, b.constData(), std::size_t(b.size()));
    };
    auto text16 = [&](qint64 row, int c, const QString& s) {
        from.setVariable(row, c, s.utf16(), std::size_t(s.size()) * 2);
    };
    // Row 0: ordinary values with sub-millisecond ticks; row 1: extremes and texts that
    // are not ASCII (invalid UTF-8 among them); row 2: nulls.
    from.appendRows(3);
    set(0, 0, std::uint8_t(1));
    set(0, 1, std::int32_t(-42));
    set(0, 2, std::int64_t(1) << 40);
    set(0, 3, 0.1);
    set(0, 4, std::int64_t(-123456789));
    set(0, 5, std::int64_t(730119) * kTicksPerDay + 123456789);
    set(0, 6, std::int32_t(730119));
    set(0, 7, std::int64_t(86399999) * 10000 + 9999);
    text8(0, 8, "Kunde \"A\"");
    text16(0, 9, QStringLiteral("Straße"));
    set(1, 0, std::uint8_t(0));
    set(1, 1, std::numeric_limits<std::int32_t>::min());
    set(1, 2, std::numeric_limits<std::int64_t>::max());
    set(1, 3, -1e308);
    set(1, 4, std::int64_t(922337203685477580));
    set(1, 5, std::int64_t(0));
    set(1, 6, std::int32_t(3652058));
    set(1, 7, std::int64_t(0));
    text8(1, 8, QByteArray("M\xc3\xbcller \xff\xfe ") + QByteArray(600, 'x'));
    text16(1, 9, QString::fromUtf8("\xf0\x9f\x98\x80") + QString());
    from.setNull(2, 0);

    auto compareAll = [&] {
        for (int target = 0; target < kinds.size(); ++target) {
            for (int source = 0; source < kinds.size(); ++source) {
                ResultStore viaCopy({kinds[target]}), viaVariant({kinds[target]});
                for (qint64 row = 0; row < 3; ++row) {
                    viaCopy.appendRows(1);
                    viaVariant.appendRows(1);
                    viaCopy.copyValue(row, 0, from, row, source);
                    viaVariant.setValue(row, 0, from.value(row, source));
                    const QByteArray where = kinds[source].name.toUtf8() + " -> " +
                                             kinds[target].name.toUtf8() + " row " +
                                             QByteArray::number(row);
                    QVERIFY2(viaCopy.isNull(row, 0) == viaVariant.isNull(row, 0), where);
                    QVERIFY2(viaCopy.value(row, 0) == viaVariant.value(row, 0), where);
                    if (!isVariable(kinds[target].kind) && !viaCopy.isNull(row, 0))
                        QVERIFY2(viaCopy.integer(row, 0) == viaVariant.integer(row, 0), where);
                }
            }
        }
    };
    compareAll();
    if (QTest::currentTestFailed())
        return;
    // The same through the source's edits: a changed row is read from its new version.
    from.beginRowChange(1);
    from.setCell(1, 2, qlonglong(7));
    from.setCell(1, 9, QStringLiteral("geändert"));
    from.setCell(1, 3, QVariant());
    QCOMPARE(from.value(1, 2).toLongLong(), 7);
    compareAll();
}
