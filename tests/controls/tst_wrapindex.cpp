// Line breaking without a widget: where lines break, that breaking again only
// around a change gives the same as breaking afresh, and that the running
// totals of the index agree with counting after any sequence of changes.

#include "controls/wrapindex.h"

#include <QFontDatabase>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// A naive model of the index: every line's screen lines, counted on demand.
struct Model {
    std::vector<int> lines;
    std::vector<qreal> widths;
    int first(int line) const {
        int total = 0;
        for (int i = 0; i < line; ++i)
            total += lines[std::size_t(i)];
        return total;
    }
};

LineWrap wrapOf(int screenLines, qreal width) {
    LineWrap w;
    w.length = screenLines * 10;
    for (int i = 0; screenLines > 1 && i < screenLines; ++i)
        w.starts.push_back(i * 10);
    w.width = width;
    return w;
}

void compare(const WrapIndex& index, const Model& model) {
    QCOMPARE(index.lineCount(), int(model.lines.size()));
    int total = 0;
    qreal widest = 0;
    for (std::size_t i = 0; i < model.lines.size(); ++i) {
        QCOMPARE(index.firstScreenLine(int(i)), total);
        QCOMPARE(index.at(int(i)).lines(), model.lines[i]);
        for (int s = 0; s < model.lines[i]; ++s)
            QCOMPARE(index.lineOfScreenLine(total + s), int(i));
        total += model.lines[i];
        widest = std::max(widest, model.widths[i]);
    }
    QCOMPARE(index.screenLineCount(), total);
    QCOMPARE(index.widest(), widest);
}

QString words(int chars, quint32 seed) {
    static const char* list[] = {"alpha", "be", "gamma", "delta_epsilon_zeta_eta_theta_iota",
                                 "mu\t",  "xi", "o,",    "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"};
    QRandomGenerator random(seed);
    QString s;
    while (s.size() < chars) {
        s += QLatin1String(list[random.bounded(8)]);
        s += random.bounded(5) == 0 ? QStringLiteral("   ") : QStringLiteral(" ");
    }
    s.truncate(chars);
    return s;
}

} // namespace

class TestWrapIndex : public QObject {
    Q_OBJECT
    CharWidths m_widths{QFontDatabase::systemFont(QFontDatabase::FixedFont)};

private slots:
    // Words move whole to the next line, a word longer than a line is cut,
    // blanks may run past the edge, and without a width nothing breaks.
    void breaking() {
        const qreal w = m_widths.measure(u"abcdefghij", 0, 10); // ten letters fit
        QCOMPARE(breakLine(m_widths, u"abcd efgh ijkl", w).starts, std::vector<int>({0, 10}));
        QCOMPARE(breakLine(m_widths, u"abcdefghijklmnopqrstuvwxy", w).starts,
                 std::vector<int>({0, 10, 20}));
        QCOMPARE(breakLine(m_widths, u"abcdefghij      k", w).starts, std::vector<int>({0, 16}));
        QVERIFY(breakLine(m_widths, u"abcdefghij", w).starts.empty());
        const LineWrap unwrapped = breakLine(m_widths, u"abcdefghij abcdefghij", 0);
        QVERIFY(unwrapped.starts.empty());
        QCOMPARE(unwrapped.length, 21);
        QCOMPARE(unwrapped.width, m_widths.measure(u"abcdefghij abcdefghij", 0, 21));
        // A tab advances to the next stop, wherever it starts.
        int length = 0;
        QCOMPARE(m_widths.advance(u"\t", 0, &length, 10) + 10, CharWidths::kTabStop);
        QCOMPARE(m_widths.advance(u"\U0001F600", 0, &length, 0) > 0, true);
        QCOMPARE(length, 2);
    }

    // Breaking a long line again only around an edit gives the breaks of
    // the edited text broken afresh, for edits near its start, middle and
    // end, inserting and removing, blanks and long words.
    void breakingAroundAChange() {
        const qreal width = m_widths.measure(u"abcdefghij", 0, 10) * 3;
        QRandomGenerator random(7);
        QString text = words(20'000, 1);
        LineWrap wrap = breakLine(m_widths, text, width);
        for (int round = 0; round < 200; ++round) {
            const int offset = int(random.bounded(int(text.size()) + 1));
            const int removed =
                int(random.bounded(std::min<int>(40, int(text.size()) - offset) + 1));
            const QString added =
                round % 3 == 0 ? QString() : words(int(random.bounded(60)), round);
            text.replace(offset, removed, added);
            wrap = breakLine(m_widths, text, width, &wrap, offset, removed, int(added.size()));
            const LineWrap fresh = breakLine(m_widths, text, width);
            QCOMPARE(wrap.starts, fresh.starts);
            QCOMPARE(wrap.length, fresh.length);
        }
        // A line broken at another width is broken again in full.
        LineWrap stale = breakLine(m_widths, text, width * 2);
        stale.stale = true;
        QCOMPARE(breakLine(m_widths, text, width, &stale, 0, 0, 0).starts,
                 breakLine(m_widths, text, width).starts);
    }

    // The totals follow every kind of change: lines set, inserted, removed
    // and replaced, across the blocks the index keeps them in, down to an
    // empty index and back.
    void totalsFollowChanges() {
        WrapIndex index;
        Model model;
        compare(index, model);
        QCOMPARE(index.lineOfScreenLine(5), 0);
        QRandomGenerator random(11);
        auto fresh = [&](int count, std::vector<int>& counts, std::vector<qreal>& widths) {
            std::vector<LineWrap> lines;
            for (int i = 0; i < count; ++i) {
                const int n = 1 + int(random.bounded(4));
                const qreal width = random.bounded(1000);
                lines.push_back(wrapOf(n, width));
                counts.push_back(n);
                widths.push_back(width);
            }
            return lines;
        };
        std::vector<int> counts;
        std::vector<qreal> widths;
        index.assign(fresh(1500, model.lines, model.widths));
        compare(index, model);
        for (int round = 0; round < 300; ++round) {
            const int size = int(model.lines.size());
            const int first = int(random.bounded(size + 1));
            if (round % 2 == 0 && first < size) {
                const int n = 1 + int(random.bounded(5));
                index.set(first, wrapOf(n, 5));
                model.lines[std::size_t(first)] = n;
                model.widths[std::size_t(first)] = 5;
                continue;
            }
            const int count = int(random.bounded(std::min(size - first, 600) + 1));
            counts.clear();
            widths.clear();
            index.replace(first, count,
                          fresh(int(random.bounded(round % 5 == 0 ? 700 : 4)), counts, widths));
            model.lines.erase(model.lines.begin() + first, model.lines.begin() + first + count);
            model.lines.insert(model.lines.begin() + first, counts.begin(), counts.end());
            model.widths.erase(model.widths.begin() + first, model.widths.begin() + first + count);
            model.widths.insert(model.widths.begin() + first, widths.begin(), widths.end());
            if (round % 25 == 0)
                compare(index, model);
        }
        compare(index, model);
        index.replace(0, index.lineCount(), {});
        model = {};
        compare(index, model);
        index.replace(0, 0, {wrapOf(2, 1)});
        QCOMPARE(index.screenLineCount(), 2);
        QCOMPARE(index.lineOfScreenLine(100), 0);
    }

    // Marking every line stale keeps its breaks (the view shows them until
    // they are broken again) but makes breaking start afresh.
    void staleLinesKeepTheirBreaks() {
        WrapIndex index;
        index.assign({wrapOf(3, 1), wrapOf(1, 2)});
        index.markAllStale();
        QVERIFY(index.at(0).stale && index.at(1).stale);
        QCOMPARE(index.screenLineCount(), 4);
    }
};

QTEST_MAIN(TestWrapIndex)
#include "tst_wrapindex.moc"
