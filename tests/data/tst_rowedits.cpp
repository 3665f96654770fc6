// The edit overlay of the result store against a plain reference list, and
// the statements that write a row back.

#include "data/resultstore.h"
#include "data/rowwriter.h"

#include <QRandomGenerator>
#include <QtTest>
#include <optional>
#include <vector>

using namespace data;

class TestRowEdits : public QObject {
    Q_OBJECT
private slots:
    void overlayFollowsAReferenceList();
    void earlierVersionsStayReadable();
    void appendedRowsAfterEditsAreSeen();
    void statementsBindValuesAndBracketNames();
    void rowsWithoutKeyAreFoundByAllValues();
};

namespace {

struct Ref {
    std::optional<int> number;
    QString text;
};

ResultStore makeStore(qint64 rows) {
    ColumnInfo n;
    n.name = QStringLiteral("n");
    n.type = ftInteger;
    n.kind = StorageKind::Int32;
    ColumnInfo t;
    t.name = QStringLiteral("t");
    t.type = ftWideString;
    t.kind = StorageKind::Utf16;
    ResultStore s({n, t});
    s.appendRows(rows);
    for (qint64 r = 0; r < rows; ++r) {
        s.setValue(r, 0, int(r));
        s.setValue(r, 1, QStringLiteral("r%1").arg(r));
    }
    return s;
}

void compareRow(const ResultStore& s, const std::vector<Ref>& ref, qint64 row) {
    const Ref& want = ref[std::size_t(row)];
    QCOMPARE(s.isNull(row, 0), !want.number.has_value());
    if (want.number)
        QCOMPARE(s.integer(row, 0), qint64(*want.number));
    QCOMPARE(s.utf16(row, 1).toString(), want.text);
    QCOMPARE(s.text(row, 1), want.text);
}

} // namespace

void TestRowEdits::overlayFollowsAReferenceList() {
    // More rows than one block holds, so ranges cross block borders.
    const qint64 n = ResultStore::kBlockRows + 500;
    ResultStore s = makeStore(n);
    std::vector<Ref> ref;
    for (qint64 r = 0; r < n; ++r)
        ref.push_back({int(r), QStringLiteral("r%1").arg(r)});
    const std::size_t memoryBefore = s.memoryBytes();
    QRandomGenerator rng(4711);
    for (int step = 0; step < 3000; ++step) {
        const qint64 count = qint64(ref.size());
        const qint64 row = qint64(rng.bounded(quint64(count)));
        switch (rng.bounded(5)) {
        case 0: { // edit two cells
            s.beginRowChange(row);
            s.setCell(row, 0, step);
            s.setCell(row, 1, QStringLiteral("e%1").arg(step));
            ref[std::size_t(row)] = {step, QStringLiteral("e%1").arg(step)};
            break;
        }
        case 1: { // edit, then go back
            const auto before = s.beginRowChange(row);
            s.setCell(row, 1, QStringLiteral("lost"));
            s.setCell(row, 0, QVariant());
            s.restoreRow(row, before);
            break;
        }
        case 2: { // insert
            const qint64 at = s.insertRow(row);
            QCOMPARE(at, row);
            s.setCell(at, 1, QStringLiteral("i%1").arg(step));
            ref.insert(ref.begin() + row, Ref{std::nullopt, QStringLiteral("i%1").arg(step)});
            break;
        }
        case 3: // delete
            s.removeRow(row);
            ref.erase(ref.begin() + row);
            break;
        case 4: { // a cell of an earlier edited row, whose copy is no longer the newest
            s.setCell(row, 0, -step);
            ref[std::size_t(row)].number = -step;
            break;
        }
        }
        QCOMPARE(s.rowCount(), qint64(ref.size()));
        for (int k = 0; k < 4; ++k)
            compareRow(s, ref, qint64(rng.bounded(quint64(ref.size()))));
        if (QTest::currentTestFailed())
            return;
    }
    for (qint64 r = 0; r < s.rowCount(); ++r) {
        compareRow(s, ref, r);
        if (QTest::currentTestFailed())
            return;
    }
    // Reads beyond the end are null, not a crash.
    QVERIFY(s.isNull(s.rowCount(), 0));
    QVERIFY(s.utf16(-1, 1).isEmpty());
    // The edits cost their rows, not a copy of the result.
    QVERIFY(s.memoryBytes() < memoryBefore * 2);
}

void TestRowEdits::earlierVersionsStayReadable() {
    ResultStore s = makeStore(3);
    const auto original = s.beginRowChange(1);
    s.setCell(1, 1, QStringLiteral("neu"));
    QCOMPARE(s.sourceValue(original, 1).toString(), QStringLiteral("r1"));
    const auto edited = s.rowSource(1);
    QVERIFY(edited.edited);
    const auto second = s.beginRowChange(1);
    s.setCell(1, 1, QStringLiteral("neuer"));
    QCOMPARE(s.sourceValue(second, 1).toString(), QStringLiteral("neu"));
    QCOMPARE(s.sourceText(original, 0), QStringLiteral("1"));
    s.restoreRow(1, original);
    QCOMPARE(s.text(1, 1), QStringLiteral("r1"));
    QVERIFY(!s.rowSource(1).edited);
    QVERIFY_THROWS_EXCEPTION(DataError, s.removeRow(3));
}

void TestRowEdits::appendedRowsAfterEditsAreSeen() {
    ResultStore s = makeStore(2);
    s.removeRow(0);
    const qint64 first = s.appendRows(2);
    QCOMPARE(first, 2); // rows in the blocks
    QCOMPARE(s.rowCount(), 3);
    s.setValue(first, 0, 7);
    QCOMPARE(s.integer(1, 0), 7);
    QCOMPARE(s.text(0, 1), QStringLiteral("r1"));
    QVERIFY_THROWS_EXCEPTION(DataError, s.removeLastRow());
    s.clear();
    QCOMPARE(s.rowCount(), 0);
    QVERIFY(!s.hasEdits());
}

namespace {

QList<ColumnInfo> columns(const QStringList& names) {
    QList<ColumnInfo> list;
    for (const QString& n : names) {
        ColumnInfo c;
        c.name = n;
        c.type = n == QLatin1String("memo") ? ftMemo : ftWideString;
        list.append(c);
    }
    return list;
}

} // namespace

void TestRowEdits::statementsBindValuesAndBracketNames() {
    WriteTarget t;
    t.schema = QStringLiteral("dbo");
    t.table = QStringLiteral("Kun]den");
    t.baseColumns = {QStringLiteral("id"), QStringLiteral("Na]me"), QStringLiteral("memo")};
    t.keyColumns = {true, false, false};
    t.autoIncrement = {true, false, false};
    RowWriter w(t,
                columns({QStringLiteral("id"), QStringLiteral("Alias"), QStringLiteral("memo")}));
    QVERIFY(w.byKey());
    QCOMPARE(w.identityColumn(), 0);
    const RowValues original = [](int c) {
        return c == 0 ? QVariant(5) : QVariant(QStringLiteral("a'b"));
    };
    const RowValues current = [](int c) {
        return c == 0 ? QVariant(5) : QVariant(QStringLiteral("x]y"));
    };

    const SqlStatement up = w.update({1, 2}, original, current);
    QCOMPARE(up.text,
             QStringLiteral("UPDATE [dbo].[Kun]]den] SET [Na]]me] = ?, [memo] = ? WHERE [id] = ?"));
    QCOMPARE(up.params, (QList<QVariant>{QStringLiteral("x]y"), QStringLiteral("x]y"), 5}));

    const SqlStatement in = w.insert({0, 1}, current);
    QCOMPARE(in.text,
             QStringLiteral(
                 "INSERT INTO [dbo].[Kun]]den] ([Na]]me]) VALUES (?); SELECT SCOPE_IDENTITY()"));
    QCOMPARE(in.params, QList<QVariant>{QStringLiteral("x]y")});
    QCOMPARE(
        w.insert({}, current).text,
        QStringLiteral("INSERT INTO [dbo].[Kun]]den] DEFAULT VALUES; SELECT SCOPE_IDENTITY()"));

    QCOMPARE(w.remove(original).text,
             QStringLiteral("DELETE FROM [dbo].[Kun]]den] WHERE [id] = ?"));
    const SqlStatement back = w.reread(current);
    QCOMPARE(back.text,
             QStringLiteral("SELECT [id], [Na]]me], [memo] FROM [dbo].[Kun]]den] WHERE [id] = ?"));
    QVERIFY(w.reread([](int) { return QVariant(); }).text.isEmpty());
    // The identity is never written.
    QVERIFY_THROWS_EXCEPTION(DataError, w.update({0}, original, current));

    // Nor is a column the server computes.
    t.readOnly = {false, false, true};
    RowWriter computed(
        t, columns({QStringLiteral("id"), QStringLiteral("Alias"), QStringLiteral("memo")}));
    QVERIFY_THROWS_EXCEPTION(DataError, computed.update({2}, original, current));
    QCOMPARE(computed.insert({1, 2}, current).params, QList<QVariant>{QStringLiteral("x]y")});
}

void TestRowEdits::rowsWithoutKeyAreFoundByAllValues() {
    WriteTarget t;
    t.table = QStringLiteral("Lose");
    t.baseColumns = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("memo")};
    t.keyColumns = {false, false, false};
    t.autoIncrement = {false, false, false};
    RowWriter w(t, columns({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("memo")}));
    QVERIFY(!w.byKey());
    const RowValues original = [](int c) { return c == 0 ? QVariant(1) : QVariant(); };
    const SqlStatement del = w.remove(original);
    // NULL compares with IS NULL; the large object is left out.
    QCOMPARE(del.text, QStringLiteral("DELETE FROM [Lose] WHERE [a] = ? AND [b] IS NULL"));
    QCOMPARE(del.params, QList<QVariant>{1});
    QVERIFY(w.reread(original).text.isEmpty());

    // Nothing left to compare: refused rather than touching every row.
    t.baseColumns = {QStringLiteral("memo")};
    t.keyColumns = {false};
    t.autoIncrement = {false};
    RowWriter onlyMemo(t, columns({QStringLiteral("memo")}));
    QVERIFY_THROWS_EXCEPTION(NotUpdatableError, onlyMemo.remove(original));
}

QTEST_GUILESS_MAIN(TestRowEdits)
#include "tst_rowedits.moc"
