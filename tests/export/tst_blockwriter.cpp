// The writer thread of appended rows: blocks are written in order, come back empty for
// reuse, and a failure is raised to the caller once, at the next hand-over or at the end.

#include "export/blockwriter.h"

#include <QtTest>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace data;

namespace {

QList<ColumnInfo> oneIntColumn() {
    ColumnInfo c;
    c.name = QStringLiteral("Nr");
    c.type = ftLargeint;
    c.kind = StorageKind::Int64;
    return {c};
}

// A block of n rows numbered from first.
ResultStore block(ResultStore store, qint64 first, qint64 n) {
    for (qint64 i = 0; i < n; ++i) {
        const qint64 row = store.appendRows(1);
        store.setValue(row, 0, first + i);
    }
    return store;
}

} // namespace

class TestBlockWriter : public QObject {
    Q_OBJECT
private slots:
    void blocksArriveInOrderAndComeBackEmpty();
    void failureIsRaisedByTheNextCall_data();
    void failureIsRaisedByTheNextCall();
    void writerGoesWhileABlockIsWritten();
};

void TestBlockWriter::blocksArriveInOrderAndComeBackEmpty() {
    std::vector<qint64> seen;
    exportfile::BlockWriter writer([&](const ResultStore& s) {
        for (qint64 r = 0; r < s.rowCount(); ++r)
            seen.push_back(s.integer(r, 0));
    });
    ResultStore next(oneIntColumn());
    for (int b = 0; b < 5; ++b) {
        next = writer.submit(block(std::move(next), b * 1000, 1000));
        QCOMPARE(next.rowCount(), 0);
        QCOMPARE(next.columnCount(), 1);
    }
    writer.drain();
    QCOMPARE(seen.size(), size_t(5000));
    for (size_t i = 0; i < seen.size(); ++i)
        QCOMPARE(seen[i], qint64(i));
}

void TestBlockWriter::failureIsRaisedByTheNextCall_data() {
    QTest::addColumn<bool>("byDrain");
    QTest::newRow("next submit") << false;
    QTest::newRow("drain") << true;
}

void TestBlockWriter::failureIsRaisedByTheNextCall() {
    QFETCH(bool, byDrain);
    int written = 0;
    exportfile::BlockWriter writer([&](const ResultStore& s) {
        if (s.integer(0, 0) == 100)
            throw std::runtime_error("voll");
        ++written;
    });
    ResultStore next = writer.submit(block(ResultStore(oneIntColumn()), 0, 10));
    next = writer.submit(block(std::move(next), 100, 10)); // fails on the thread
    auto expectFailure = [&](auto&& call) {
        try {
            call();
            QFAIL("no failure raised");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QByteArray(e.what()), QByteArray("voll"));
        }
    };
    if (byDrain) {
        expectFailure([&] { writer.drain(); });
    } else {
        ResultStore third = block(std::move(next), 200, 10);
        expectFailure([&] { writer.submit(std::move(third)); });
        // The refused block stays with the caller.
        QCOMPARE(third.rowCount(), 10);
    }
    // Nothing after the failing block is written, and the failure stays.
    expectFailure([&] { writer.drain(); });
    QCOMPARE(written, 1);
}

void TestBlockWriter::writerGoesWhileABlockIsWritten() {
    // The destructor waits for the block being written and ends the thread; it neither
    // hangs nor writes anything twice.
    std::atomic<bool> started{false}, release{false};
    std::atomic<int> calls{0};
    std::thread releaser;
    {
        exportfile::BlockWriter writer([&](const ResultStore&) {
            ++calls;
            started = true;
            while (!release)
                std::this_thread::yield();
        });
        ResultStore next = writer.submit(block(ResultStore(oneIntColumn()), 0, 1));
        while (!started)
            std::this_thread::yield();
        releaser = std::thread([&] { release = true; });
    }
    releaser.join();
    QCOMPARE(calls.load(), 1);
}

QTEST_GUILESS_MAIN(TestBlockWriter)
#include "tst_blockwriter.moc"
