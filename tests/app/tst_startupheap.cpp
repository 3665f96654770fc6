// The start-up heap: which huge pages a block covers, and that after the
// reservation large blocks come from the advised heap rather than from
// separate mappings.

#include "startupheap.h"

#include <QFile>
#include <QTest>
#include <cstdlib>
#include <memory>

using startupheap::hugePageSize;
using startupheap::wholeHugePages;

namespace {

struct Mapping {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    QByteArray name;
    QByteArray vmFlags;
};

// The mapping of this process that holds address, from /proc/self/smaps.
Mapping mappingOf(std::uintptr_t address) {
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    Mapping current;
    bool found = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const int dash = line.indexOf('-');
        const int space = line.indexOf(' ');
        bool isRange = dash > 0 && space > dash;
        if (isRange) {
            bool okBegin = false, okEnd = false;
            const std::uintptr_t begin = line.left(dash).toULongLong(&okBegin, 16);
            const std::uintptr_t end = line.mid(dash + 1, space - dash - 1).toULongLong(&okEnd, 16);
            isRange = okBegin && okEnd;
            if (isRange) {
                if (found)
                    return current;
                current = {begin, end, line.split(' ').last(), {}};
                found = begin <= address && address < end;
                continue;
            }
        }
        if (found && line.startsWith("VmFlags:"))
            current.vmFlags = line.mid(8).trimmed();
    }
    return found ? current : Mapping{};
}

bool transparentHugePagesOff() {
    QFile enabled(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    return !enabled.open(QIODevice::ReadOnly) || enabled.readAll().contains("[never]");
}

} // namespace

class TestStartupHeap : public QObject {
    Q_OBJECT
private slots:
    void wholePages_data();
    void wholePages();
    void largeBlocksComeFromTheAdvisedHeap();
};

void TestStartupHeap::wholePages_data() {
    QTest::addColumn<quint64>("begin");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<quint64>("first");
    QTest::addColumn<quint64>("last");

    const quint64 h = hugePageSize;
    QTest::newRow("aligned, two pages") << 4 * h << 2 * h << 4 * h << 6 * h;
    QTest::newRow("unaligned start and end") << 4 * h + 16 << 3 * h << 5 * h << 7 * h;
    QTest::newRow("one page long but straddling") << 4 * h + 16 << h << 0ull << 0ull;
    QTest::newRow("shorter than a page") << 4 * h << h - 1 << 0ull << 0ull;
    QTest::newRow("empty") << 4 * h << 0ull << 0ull << 0ull;
    QTest::newRow("reaches the top of the address space")
        << quint64(UINTPTR_MAX) - 3 * h << 3 * h << quint64(UINTPTR_MAX) - 3 * h + 1
        << quint64(UINTPTR_MAX) - h + 1;
    QTest::newRow("would wrap around") << quint64(UINTPTR_MAX) - h << 2 * h << 0ull << 0ull;
}

void TestStartupHeap::wholePages() {
    QFETCH(quint64, begin);
    QFETCH(quint64, length);
    QFETCH(quint64, first);
    QFETCH(quint64, last);

    const startupheap::Range range = wholeHugePages(begin, length);
    QCOMPARE(quint64(range.first), first);
    QCOMPARE(quint64(range.last), last);
    if (range.first != range.last) {
        QVERIFY(range.first >= begin);
        QVERIFY(range.last - begin <= length);
    }
}

void TestStartupHeap::largeBlocksComeFromTheAdvisedHeap() {
    const bool advised = startupheap::reserve();
    QCOMPARE(startupheap::reserve(), advised); // a second call changes nothing

    // A block the size of a large window's backing store (1920 x 1080 x 4).
    const std::size_t size = 1920 * 1080 * 4;
    std::unique_ptr<char, decltype(&std::free)> block(static_cast<char*>(std::malloc(size)),
                                                      &std::free);
    QVERIFY(block);
    const auto address = reinterpret_cast<std::uintptr_t>(block.get());
    QCOMPARE(mappingOf(address).name, QByteArray("[heap]"));

    if (transparentHugePagesOff())
        QSKIP("transparent huge pages are off on this machine");
    QVERIFY(advised);
    const startupheap::Range pages = wholeHugePages(address, size);
    QVERIFY(pages.first != pages.last);
    const Mapping mapping = mappingOf(pages.first);
    QVERIFY2(mapping.vmFlags.split(' ').contains("hg"), mapping.vmFlags.constData());
}

QTEST_APPLESS_MAIN(TestStartupHeap)
#include "tst_startupheap.moc"
