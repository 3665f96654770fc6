// The page buffers behind the result store: buffers carved from shared
// regions must never see each other's bytes, must read as zero when fresh
// (also where an earlier buffer lived), and keep their contents when they
// grow, in place or by moving.

#include "data/pagebuffer.h"
#include "tests/support/resident.h"

#include <QtTest>
#include <cstring>
#include <memory>
#include <vector>

using namespace data;

namespace {

bool allBytes(const PageBuffer& b, std::size_t from, std::size_t to, char value) {
    for (std::size_t i = from; i < to; ++i)
        if (b.data()[i] != value)
            return false;
    return true;
}

void fill(PageBuffer& b, char value, std::size_t n) {
    const std::vector<char> bytes(n, value);
    b.append(bytes.data(), n);
}

} // namespace

class TestPageBuffer : public QObject {
    Q_OBJECT
private slots:
    void freshMemoryReadsZeroWhereOthersWrote();
    void growthKeepsContents();
    void interleavedBuffersStayApart();
    void largeBuffersGetTheirOwnMapping();
    void freedMemoryGoesBackWhileOthersLive();
    void smallBuffersGrowOutOfTheHeap();
};

void TestPageBuffer::freshMemoryReadsZeroWhereOthersWrote() {
    // An arena fills its pages, gives the tail back and is freed; the
    // buffers that take its place must not see its bytes.
    auto arena = std::make_unique<PageBuffer>();
    fill(*arena, '\xAB', 300000);
    arena->truncate(1000);
    arena->shrinkToFit();
    QCOMPARE(arena->capacity(), std::size_t(4096));

    PageBuffer next;
    next.reserve(200000);
    QVERIFY(allBytes(next, 0, next.capacity(), 0));
    arena.reset();

    PageBuffer fixed;
    fixed.allocateZeroed(500000);
    QCOMPARE(fixed.size(), std::size_t(500000));
    QVERIFY(allBytes(fixed, 0, fixed.size(), 0));
}

void TestPageBuffer::growthKeepsContents() {
    // A grows at the top of its region; B is carved elsewhere while A is
    // open. Once A is complete, C continues above it, so A can no longer
    // grow in place and has to move.
    PageBuffer a;
    fill(a, 'a', 100000);
    PageBuffer b;
    b.allocateZeroed(65536);
    a.shrinkToFit();
    PageBuffer c;
    fill(c, 'c', 70000);
    fill(a, 'A', 400000);
    QCOMPARE(a.size(), std::size_t(500000));
    QVERIFY(allBytes(a, 0, 100000, 'a'));
    QVERIFY(allBytes(a, 100000, 500000, 'A'));
    QVERIFY(allBytes(c, 0, 70000, 'c'));
    QVERIFY(allBytes(b, 0, 65536, 0));

    PageBuffer moved(std::move(a));
    QVERIFY(allBytes(moved, 0, 100000, 'a'));
    QCOMPARE(a.data(), nullptr);
}

void TestPageBuffer::interleavedBuffersStayApart() {
    // The pattern of the result store: blocks of fixed arrays and two
    // arenas, each arena completed when the next block begins.
    std::vector<std::unique_ptr<PageBuffer>> fixed, arenas;
    std::vector<char> expect;
    for (int block = 0; block < 6; ++block) {
        for (int k = 0; k < 3; ++k) {
            fixed.push_back(std::make_unique<PageBuffer>());
            fixed.back()->allocateZeroed(std::size_t(65536) * (k + 1));
            std::memset(fixed.back()->data(), 'f' + k, fixed.back()->size());
        }
        for (int k = 0; k < 2; ++k) {
            if (block > 0) {
                PageBuffer& prev = *arenas[arenas.size() - 2];
                prev.shrinkToFit();
                auto next = std::make_unique<PageBuffer>();
                next->reserve(prev.size() + prev.size() / 16);
                arenas.push_back(std::move(next));
            } else {
                arenas.push_back(std::make_unique<PageBuffer>());
            }
            const char value = char('0' + block * 2 + k);
            // Varying sizes; some arenas outgrow their estimate.
            fill(*arenas.back(), value, std::size_t(50000 + 37000 * ((block + k) % 4)));
            expect.push_back(value);
        }
    }
    for (std::size_t i = 0; i < fixed.size(); ++i)
        QVERIFY2(allBytes(*fixed[i], 0, fixed[i]->size(), char('f' + i % 3)),
                 qPrintable(QString::number(i)));
    for (std::size_t i = 0; i < arenas.size(); ++i)
        QVERIFY2(allBytes(*arenas[i], 0, arenas[i]->size(), expect[i]),
                 qPrintable(QString::number(i)));
}

void TestPageBuffer::largeBuffersGetTheirOwnMapping() {
    PageBuffer big;
    fill(big, 'x', std::size_t(80) << 20);
    fill(big, 'y', 4096);
    QVERIFY(allBytes(big, (std::size_t(80) << 20) - 10, (std::size_t(80) << 20), 'x'));
    QVERIFY(allBytes(big, std::size_t(80) << 20, big.size(), 'y'));
    big.truncate(10);
    big.shrinkToFit();
    QCOMPARE(big.capacity(), std::size_t(4096));
    QVERIFY(allBytes(big, 0, 10, 'x'));
}

void TestPageBuffer::freedMemoryGoesBackWhileOthersLive() {
    // A buffer that stays (a result kept open) must not make the results
    // that come and go after it keep their memory.
    PageBuffer pinned;
    pinned.allocateZeroed(4096);
    const long before = residentKb();
    QVERIFY(before > 0);
    for (int round = 0; round < 40; ++round) {
        std::vector<std::unique_ptr<PageBuffer>> bufs;
        for (int k = 0; k < 6; ++k) {
            bufs.push_back(std::make_unique<PageBuffer>());
            bufs.back()->allocateZeroed(std::size_t(1) << 20);
            std::memset(bufs.back()->data(), 0x5A, bufs.back()->size());
        }
        auto arena = std::make_unique<PageBuffer>();
        fill(*arena, 'z', std::size_t(3) << 20);
        // Freed out of order: some leave holes below others.
        bufs[1].reset();
        bufs[4].reset();
        // A fixed buffer taking a hole reads as zero.
        PageBuffer again;
        again.allocateZeroed(std::size_t(1) << 20);
        QVERIFY(allBytes(again, 0, again.size(), 0));
        bufs.clear();
        arena.reset();
    }
    // 40 rounds of 10 MB: kept, they would be 400 MB.
    QVERIFY2(residentKb() - before < 64 * 1024, qPrintable(QString::number(residentKb() - before)));
}

// Small buffers live on the C heap, which hands freed bytes on as they are:
// zeroed ones still read zero, and a buffer that outgrows the heap keeps its
// bytes when it moves to the pages.
void TestPageBuffer::smallBuffersGrowOutOfTheHeap() {
    {
        PageBuffer dirty;
        fill(dirty, '\x5A', 3000);
    }
    PageBuffer zeroed;
    zeroed.allocateZeroed(3000);
    QVERIFY(allBytes(zeroed, 0, 3000, 0));
    std::memset(zeroed.data(), 'z', 3000);
    zeroed.growZeroed(50000);
    QVERIFY(allBytes(zeroed, 0, 3000, 'z'));
    QVERIFY(allBytes(zeroed, 3000, 50000, 0));
    zeroed.growZeroed(300000); // beyond the heap's share
    QCOMPARE(zeroed.size(), std::size_t(300000));
    QVERIFY(allBytes(zeroed, 0, 3000, 'z'));
    QVERIFY(allBytes(zeroed, 3000, 300000, 0));

    PageBuffer arena;
    fill(arena, 'a', 1000);
    fill(arena, 'b', 200000);
    QVERIFY(allBytes(arena, 0, 1000, 'a'));
    QVERIFY(allBytes(arena, 1000, 201000, 'b'));
    arena.truncate(10);
    arena.shrinkToFit();
    QVERIFY(allBytes(arena, 0, 10, 'a'));
    PageBuffer moved(std::move(arena));
    QVERIFY(allBytes(moved, 0, 10, 'a'));
}

QTEST_GUILESS_MAIN(TestPageBuffer)
#include "tst_pagebuffer.moc"
