// Sorting a result on the client: every kind of column with NULLs and ties,
// descending, the Latin1 collation of texts, rows read from complete blocks
// and from the block being filled, and an edited store.

#include "app/grid/gridsort.h"

#include "data/resultstore.h"
#include <QDate>
#include <QUuid>
#include <QtTest>

using gridsort::Order;
using K = data::StorageKind;

namespace {

data::ColumnInfo column(TFieldType type, K kind) {
    data::ColumnInfo c;
    c.name = QStringLiteral("c");
    c.type = type;
    c.kind = kind;
    c.scale = 2;
    return c;
}

std::shared_ptr<data::ResultStore> storeOf(data::ColumnInfo info, const QVariantList& values) {
    auto store = std::make_shared<data::ResultStore>(QList<data::ColumnInfo>{info});
    for (const QVariant& v : values)
        store->setValue(store->appendRows(1), 0, v);
    return store;
}

std::vector<int> sorted(const std::shared_ptr<data::ResultStore>& store, Order order) {
    return gridsort::SortJob(store, 0, store->rowCount(), order).run();
}

} // namespace

class TestGridSort : public QObject {
    Q_OBJECT
private slots:
    // Every kind: NULL first, ties in the server's order (rows 1 and 3
    // hold equal values), descending with NULL last and ties still in order.
    void everyKind_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QVariantList>("values");
        const QVariant null;
        QTest::newRow("int") << int(ftInteger) << int(K::Int32)
                             << QVariantList{10, -5, null, -5, 2};
        QTest::newRow("bigint") << int(ftLargeint) << int(K::Int64)
                                << QVariantList{qlonglong(1) << 40, qlonglong(-1) << 40, null,
                                                qlonglong(-1) << 40, 7};
        QTest::newRow("tinyint") << int(ftWord) << int(K::UInt8)
                                 << QVariantList{200, 3, null, 3, 9};
        QTest::newRow("float") << int(ftFloat) << int(K::Double)
                               << QVariantList{2.5, -1e10, null, -1e10, -0.0};
        QTest::newRow("decimal") << int(ftBCD) << int(K::Decimal)
                                 << QVariantList{"12.50", "-3.25", null, "-3.25", "0.01"};
        QTest::newRow("datetime") << int(ftDateTime) << int(K::DateTime)
                                  << QVariantList{
                                         QDateTime(QDate(2005, 3, 1), QTime(8, 0), Qt::UTC),
                                         QDateTime(QDate(1999, 12, 31), QTime(23, 59), Qt::UTC),
                                         null,
                                         QDateTime(QDate(1999, 12, 31), QTime(23, 59), Qt::UTC),
                                         QDateTime(QDate(2005, 3, 1), QTime(7, 59), Qt::UTC)};
        QTest::newRow("date") << int(ftDate) << int(K::Date)
                              << QVariantList{QDate(2020, 1, 2), QDate(1900, 1, 1), null,
                                              QDate(1900, 1, 1), QDate(2019, 12, 31)};
        QTest::newRow("time") << int(ftTime) << int(K::Time)
                              << QVariantList{QTime(23, 0), QTime(0, 0, 1), null, QTime(0, 0, 1),
                                              QTime(12, 0)};
        QTest::newRow("bit") << int(ftBoolean) << int(K::Bool)
                             << QVariantList{true, false, null, false, true};
        QTest::newRow("varchar") << int(ftString) << int(K::Utf8)
                                 << QVariantList{"Zander", "apfel", null, "Apfel ", "Birne"};
        QTest::newRow("nvarchar") << int(ftWideString) << int(K::Utf16)
                                  << QVariantList{"Zürich", "ähre", null, "Ähre", "Berg"};
        QTest::newRow("varbinary") << int(ftVarBytes) << int(K::Bytes)
                                   << QVariantList{QByteArray("\xff"), QByteArray("\x01\x02"), null,
                                                   QByteArray("\x01\x02"), QByteArray("\x01\x03")};
        QTest::newRow("big decimal")
            << int(ftFMTBcd) << int(K::Utf8)
            << QVariantList{"100000000000000000000.5", "-2", null, "-2", "9.75"};
    }
    void everyKind() {
        QFETCH(int, type);
        QFETCH(int, kind);
        QFETCH(QVariantList, values);
        auto store = storeOf(column(TFieldType(type), K(kind)), values);
        // Ascending: NULL, the two equal values in their order, then 4, 0
        // (every data row is built so that this is the order).
        const std::vector<int> up = sorted(store, Order::Ascending);
        if (K(kind) == K::Bool) {
            QCOMPARE(up, (std::vector<int>{2, 1, 3, 0, 4}));
            QCOMPARE(sorted(store, Order::Descending), (std::vector<int>{0, 4, 1, 3, 2}));
            return;
        }
        QCOMPARE(up, (std::vector<int>{2, 1, 3, 4, 0}));
        QCOMPARE(sorted(store, Order::Descending), (std::vector<int>{0, 4, 1, 3, 2}));
    }

    void guidsInTheServersOrder() {
        // The last six bytes decide first, the first four last.
        const QUuid a = QUuid::fromString(QStringLiteral("{00000002-0000-0000-0000-000000000001}"));
        const QUuid b = QUuid::fromString(QStringLiteral("{00000001-0000-0000-0000-000000000002}"));
        const QUuid c = QUuid::fromString(QStringLiteral("{00000000-0000-0000-0001-000000000001}"));
        auto store = storeOf(column(ftGuid, K::Guid), {b, c, a});
        QCOMPARE(sorted(store, Order::Ascending), (std::vector<int>{2, 1, 0}));
    }

    void collation() {
        using gridsort::compareText;
        QCOMPARE(compareText(u"abc", u"ABC"), 0);        // case does not count
        QCOMPARE(compareText(u"abc", u"abc   "), 0);     // nor trailing blanks
        QVERIFY(compareText(u"a", u"ä") < 0);            // accents after the letters
        QVERIFY(compareText(u"ä", u"b") < 0);            // next to their base letter
        QVERIFY(compareText(u"Äpfel", u"Apfelmus") < 0); // letters first, then accents
        QVERIFY(compareText(u"Müller", u"Mueller") > 0); // no expansion of umlauts
        QCOMPARE(compareText(u"Straße", u"STRASSE"), 0); // ß sorts as ss
        QVERIFY(compareText(u"9", u"a") < 0);            // digits before letters
        QVERIFY(compareText(u"_x", u"0") < 0);           // punctuation before digits
        QVERIFY(compareText(u"z", u"\u0436") < 0);       // other scripts after Latin
        QVERIFY(compareText(u"", u" a") < 0);
    }

    // More rows than a block: complete blocks are read on the worker, the
    // rest from the copy made at the start; the result is a stable sort.
    void acrossBlocks() {
        const int n = int(data::ResultStore::kBlockRows) * 2 + 123;
        auto store = std::make_shared<data::ResultStore>(
            QList<data::ColumnInfo>{column(ftInteger, K::Int32)});
        store->appendRows(n);
        for (int r = 0; r < n; ++r)
            if (r % 11)
                store->setValue(r, 0, (r * 7919) % 1000);
        const std::vector<int> order = sorted(store, Order::Ascending);
        QCOMPARE(int(order.size()), n);
        auto key = [&](int r) { return store->isNull(r, 0) ? -1 : store->integer(r, 0); };
        for (int i = 1; i < n; ++i) {
            const int a = order[std::size_t(i - 1)], b = order[std::size_t(i)];
            QVERIFY(key(a) < key(b) || (key(a) == key(b) && a < b));
        }
    }

    // Texts over several blocks (enough to be keyed and sorted in parallel
    // parts), as both text kinds: names with long common
    // starts that differ only late, by case, by an umlaut or by trailing
    // blanks, NULLs and ties. The sort must agree with the collation
    // compared pair by pair and keep ties in their order, both ways.
    void textsAcrossBlocks_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("nvarchar") << int(K::Utf16);
        QTest::newRow("varchar") << int(K::Utf8);
    }
    void textsAcrossBlocks() {
        QFETCH(int, kind);
        const QStringList stems = {QStringLiteral("Messpunkt Nord-West "),
                                   QStringLiteral("messpunkt nord-west "),
                                   QStringLiteral("Messpunkt Nord-Wëst "),
                                   QStringLiteral("Müller, Hans "),
                                   QStringLiteral("Mueller, Hans "),
                                   QStringLiteral("MÜLLER, hans "),
                                   QStringLiteral("Straße "),
                                   QStringLiteral("STRASSE "),
                                   QStringLiteral("Öl "),
                                   QStringLiteral("Ol "),
                                   QStringLiteral("Zürich \u2013 "),
                                   QStringLiteral("\u0436 "),
                                   QStringLiteral(""),
                                   QStringLiteral("Æsop ")};
        const int n = int(data::ResultStore::kBlockRows) * 4 + 77;
        auto store = std::make_shared<data::ResultStore>(
            QList<data::ColumnInfo>{column(ftWideString, K(kind))});
        store->appendRows(n);
        std::vector<QString> texts(static_cast<std::size_t>(n));
        for (int r = 0; r < n; ++r) {
            if (r % 13 == 5)
                continue; // NULL
            const int v = (r * 7919) % 4001;
            // Every value comes twice or more (ties), some with trailing blanks.
            QString t = stems[v % stems.size()] + QString::number(v / 3);
            if (v % 7 == 0)
                t += QStringLiteral("  ");
            if (v % 5 == 0)
                t = t.toUpper();
            texts[std::size_t(r)] = t;
            store->setValue(r, 0, t);
        }
        const auto check = [&](Order order) {
            const std::vector<int> got = sorted(store, order);
            QCOMPARE(int(got.size()), n);
            const bool down = order == Order::Descending;
            for (int i = 1; i < n; ++i) {
                const int a = got[std::size_t(i - 1)], b = got[std::size_t(i)];
                const bool na = store->isNull(a, 0), nb = store->isNull(b, 0);
                int c = 0;
                if (na || nb)
                    c = na == nb ? 0 : na ? -1 : 1;
                else
                    c = gridsort::compareText(texts[std::size_t(a)], texts[std::size_t(b)]);
                if (down)
                    c = -c;
                if (c > 0 || (c == 0 && a > b))
                    QFAIL(qPrintable(
                        QStringLiteral("rows %1 and %2 out of order at %3").arg(a).arg(b).arg(i)));
            }
        };
        check(Order::Ascending);
        check(Order::Descending);
    }

    // varchar bytes that are not UTF-8 sort as their replacement character
    // (after the Latin letters), well-formed ones by their letters.
    void varcharBytes() {
        auto store =
            std::make_shared<data::ResultStore>(QList<data::ColumnInfo>{column(ftString, K::Utf8)});
        const QByteArray values[] = {"\xff", "b", "\xc3\xa4", "a", "\xc3", "\xf0\x9f\x98\x80"};
        for (const QByteArray& v : values)
            store->setVariable(store->appendRows(1), 0, v.constData(), std::size_t(v.size()));
        // a, ä, b, then the emoji (its surrogates sort below U+FFFD) and the
        // two replacement characters in their order.
        QCOMPARE(sorted(store, Order::Ascending), (std::vector<int>{3, 2, 1, 5, 0, 4}));
    }

    void editedStore() {
        auto store = storeOf(column(ftWideString, K::Utf16), {"b", "c", "a"});
        store->beginRowChange(1);
        store->setCell(1, 0, QStringLiteral("0"));
        store->insertRow(0);
        store->setCell(0, 0, QStringLiteral("bb"));
        QCOMPARE(sorted(store, Order::Ascending), (std::vector<int>{2, 3, 1, 0}));
    }

    void cancelled() {
        auto store = storeOf(column(ftInteger, K::Int32), {3, 2, 1});
        gridsort::SortJob job(store, 0, 3, Order::Ascending);
        job.cancel();
        QVERIFY(job.run().empty());
    }
};

QTEST_GUILESS_MAIN(TestGridSort)
#include "tst_gridsort.moc"
