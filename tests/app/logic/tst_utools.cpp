// The comment filter, the window-effects rule and the clock measurement.

#include "app/logic/utools.h"

#include <QTest>
#include <stdexcept>
#include <vector>

class TestUtools : public QObject {
    Q_OBJECT
private slots:
    void stripComments_data();
    void stripComments();
    void blockCommentSpansCalls_data();
    void blockCommentSpansCalls();
    void windowEffectsRule_data();
    void windowEffectsRule();
    void windowEffectsPlatform();
    void clockFromCounter();
    void clockUsesLow32BitsOfDifference();
    void clockFallsBackWhenCounterFails();
    void clockFallbackSurvivesFailingPriorityReset();
    void clockMeasuredOnThisMachine();
};

void TestUtools::stripComments_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("blockIn");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("blockOut");

    QTest::newRow("no comment") << "select 1" << false << "select 1" << false;
    QTest::newRow("empty") << "" << false << "" << false;
    QTest::newRow("line comment to end") << "select 1 -- why" << false << "select 1 " << false;
    QTest::newRow("line comment at very end") << "select 1--" << false << "select 1" << false;
    QTest::newRow("line comment keeps LF") << "a--b\nc" << false << "a\nc" << false;
    QTest::newRow("line comment keeps CR LF") << "a--b\r\nc" << false << "a\r\nc" << false;
    QTest::newRow("line comment ends at CR") << "a--b\rc" << false << "a\rc" << false;
    QTest::newRow("block comment inside") << "a /* b */ c" << false << "a  c" << false;
    QTest::newRow("block comment closes at end") << "a /* b */" << false << "a " << false;
    QTest::newRow("empty block comment") << "/**/x" << false << "x" << false;
    QTest::newRow("two block comments in a row") << "/* a *//* b */x" << false << "x" << false;
    QTest::newRow("block then line comment") << "a/*b*/--c\nd" << false << "a\nd" << false;
    QTest::newRow("block opener inside line comment")
        << "x -- /* no\nselect 2" << false << "x \nselect 2" << false;
    QTest::newRow("line marker inside block comment")
        << "/* -- */ select 3" << false << " select 3" << false;
    QTest::newRow("block comment left open") << "a /* b" << false << "a " << true;
    // Comment markers in string literals and quoted names are text the server gets.
    QTest::newRow("line marker inside string kept")
        << "select 'a--b' as x" << false << "select 'a--b' as x" << false;
    QTest::newRow("block marker inside string kept")
        << "select '/*' x */ 1" << false << "select '/*' x */ 1" << false;
    QTest::newRow("doubled quote keeps string open")
        << "select 'it''s --x' -- y" << false << "select 'it''s --x' " << false;
    QTest::newRow("unicode string") << "N'--' --c" << false << "N'--' " << false;
    QTest::newRow("markers inside bracketed name")
        << "select [a--b], [c]]/*] from t" << false << "select [a--b], [c]]/*] from t" << false;
    QTest::newRow("markers inside quoted name")
        << "select \"a--b\" from t" << false << "select \"a--b\" from t" << false;
    QTest::newRow("comment after string removed")
        << "select '-' /* x */ + '-'" << false << "select '-'  + '-'" << false;
    QTest::newRow("quote inside comment is no string")
        << "a /* it's */ b -- it's" << false << "a  b " << false;
    QTest::newRow("lone characters copied") << "a - b / c * d" << false << "a - b / c * d" << false;
    QTest::newRow("closer without opener copied") << "a */ b" << false << "a */ b" << false;
    QTest::newRow("single dash at end") << "a -" << false << "a -" << false;
    QTest::newRow("single slash at end") << "a /" << false << "a /" << false;
    // "/*/" opens a comment and does not close it: the star belongs to the opener.
    QTest::newRow("slash star slash stays open") << "/*/ x" << false << "" << true;
    QTest::newRow("slash star slash with its closer")
        << "/*/ drop table t */ select 1" << false << " select 1" << false;
    // Block comments nest as the server nests them: the inner closer leaves the outer open.
    QTest::newRow("nested block comment")
        << "/* a /* b */ drop table t */ select 1" << false << " select 1" << false;
    QTest::newRow("nested block comment left open") << "/* a /* b */ c" << false << "" << true;
    // A removed comment between two characters still separates them.
    QTest::newRow("comment between words") << "select/*x*/1" << false << "select 1" << false;
    QTest::newRow("comment between minus signs") << "1 -/**/-1" << false << "1 - -1" << false;
    QTest::newRow("comment between slash and star") << "4 //**/* 2" << false << "4 / * 2" << false;
    QTest::newRow("multi-byte text kept") << "größe -- Kommentär" << false << "größe " << false;
    // Coming in inside a block comment.
    QTest::newRow("block continues") << "still comment" << true << "" << true;
    QTest::newRow("block ends in this call") << "end */ select 4" << true << " select 4" << false;
    QTest::newRow("block ends on last char") << "x */" << true << "" << false;
    QTest::newRow("line marker inside continued block") << "--x */ y" << true << " y" << false;
}

void TestUtools::stripComments() {
    QFETCH(QString, source);
    QFETCH(bool, blockIn);
    QFETCH(QString, expected);
    QFETCH(bool, blockOut);
    bool inBlock = blockIn;
    const std::string result = StripSqlComments(source.toStdString(), inBlock);
    QCOMPARE(QString::fromStdString(result), expected);
    QCOMPARE(inBlock, blockOut);
}

void TestUtools::blockCommentSpansCalls_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("joined");

    // Lines are filtered one by one and joined with blanks, as the query
    // action does.
    QTest::newRow("line comment ends with its line")
        << QStringList{"select a -- the key", "from t"} << "select a  from t ";
    QTest::newRow("block comment over two lines")
        << QStringList{"select /* first", "second */ 1"} << "select   1 ";
    QTest::newRow("block closes at line end, statement next")
        << QStringList{"/* header */", "select 5"} << " select 5 ";
    QTest::newRow("opener in line comment does not carry")
        << QStringList{"-- /*", "select 6"} << " select 6 ";
    QTest::newRow("string marker in block comment does not carry")
        << QStringList{"/* it's", "*/ select 7"} << "  select 7 ";
}

void TestUtools::blockCommentSpansCalls() {
    QFETCH(QStringList, lines);
    QFETCH(QString, joined);
    bool inBlock = false;
    std::string text;
    for (const QString& line : lines)
        text += StripSqlComments(line.toStdString(), inBlock) + ' ';
    QCOMPARE(QString::fromStdString(text), joined);
}

void TestUtools::windowEffectsRule_data() {
    QTest::addColumn<int>("platform");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("available");
    QTest::newRow("5.1") << 2 << 5 << 1 << true;
    QTest::newRow("5.2") << 2 << 5 << 2 << true;
    QTest::newRow("6.1") << 2 << 6 << 1 << true;
    QTest::newRow("5.0") << 2 << 5 << 0 << false;
    QTest::newRow("6.0") << 2 << 6 << 0 << false;
    QTest::newRow("10.0") << 2 << 10 << 0 << false;
    QTest::newRow("4.1") << 2 << 4 << 1 << false;
    QTest::newRow("other platform") << 1 << 5 << 1 << false;
}

void TestUtools::windowEffectsRule() {
    QFETCH(int, platform);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, available);
    QCOMPARE(WindowEffectsAvailable(platform, major, minor), available);
}

void TestUtools::windowEffectsPlatform() {
    QVERIFY(WindowEffectsAvailableOn("xcb"));
    QVERIFY(WindowEffectsAvailableOn("wayland"));
    QVERIFY(!WindowEffectsAvailableOn("offscreen"));
    QVERIFY(!WindowEffectsAvailableOn("minimal"));
}

namespace {
struct FakeClock {
    std::vector<std::uint64_t> readings;
    std::vector<int> sleeps;
    std::vector<std::string> calls;
    bool failCounter = false;
    bool failNormal = false;

    ClockMeasureHooks hooks() {
        ClockMeasureHooks h;
        h.raisePriority = [this] { calls.push_back("raise"); };
        h.restorePriority = [this] { calls.push_back("restore"); };
        h.normalPriority = [this] {
            calls.push_back("normal");
            if (failNormal)
                throw std::runtime_error("refused");
        };
        h.sleepMs = [this](int ms) { sleeps.push_back(ms); };
        h.readCounter = [this]() -> std::uint64_t {
            if (failCounter)
                throw std::runtime_error("no counter");
            const std::uint64_t v = readings.front();
            readings.erase(readings.begin());
            return v;
        };
        return h;
    }
};
} // namespace

void TestUtools::clockFromCounter() {
    FakeClock clock;
    clock.readings = {1'000'000, 1'000'000 + 1'500'000'000ull}; // 3 GHz over 500 ms
    QCOMPARE(MeasureCpuClockMHz(clock.hooks()), 3000.0);
    QCOMPARE(clock.sleeps, (std::vector<int>{10, 500}));
    QCOMPARE(clock.calls, (std::vector<std::string>{"raise", "restore"}));
}

void TestUtools::clockUsesLow32BitsOfDifference() {
    FakeClock clock;
    clock.readings = {0xFFFFFFF0ull, 0x1'0000'0010ull + 0xFFFFFFF0ull};
    QCOMPARE(MeasureCpuClockMHz(clock.hooks()), double(0x10) / 500000.0);
}

void TestUtools::clockFallsBackWhenCounterFails() {
    FakeClock clock;
    clock.failCounter = true;
    QCOMPARE(MeasureCpuClockMHz(clock.hooks()), 500.0);
    QCOMPARE(clock.calls, (std::vector<std::string>{"raise", "normal"}));
}

void TestUtools::clockFallbackSurvivesFailingPriorityReset() {
    FakeClock clock;
    clock.failCounter = true;
    clock.failNormal = true;
    QCOMPARE(MeasureCpuClockMHz(clock.hooks()), 500.0);
}

void TestUtools::clockMeasuredOnThisMachine() {
    // Runs in the background; the value is there once the thread is done.
    startCpuClockMeasurement();
    startCpuClockMeasurement(); // a second start is ignored
    waitForCpuClock();
    QVERIFY(CpuClockMHz.load() > 0.0);
}

QTEST_GUILESS_MAIN(TestUtools)
#include "tst_utools.moc"
