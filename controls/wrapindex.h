#pragma once
// Line breaking for the plain-text control, free of widgets: character
// advances cached per UTF-16 unit, the breaking of one text line into screen
// lines, and the index of screen lines over all text lines, whose totals
// (the first screen line of each text line) are kept in blocks so that an
// edit updates them without counting the whole text again.

#include <QFont>
#include <QFontMetricsF>
#include <QStringView>
#include <cmath>
#include <cstddef>
#include <vector>

// The width of each character in one font, measured once and cached. Tabs
// advance to the next multiple of kTabStop.
class CharWidths {
public:
    static constexpr qreal kTabStop = 80;

    explicit CharWidths(const QFont& font);
    void setFont(const QFont& font);
    const QFontMetricsF& metrics() const { return m_metrics; }

    // The advance of the character at text[i] when it starts at x; *length
    // is set to the number of UTF-16 units it takes (2 for a surrogate pair).
    qreal advance(QStringView text, qsizetype i, int* length, qreal x) const {
        const QChar c = text[i];
        *length = 1;
        if (c == u'\t')
            return (std::floor(x / kTabStop) + 1) * kTabStop - x;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            *length = 2;
            return m_metrics.horizontalAdvance(text.mid(i, 2).toString());
        }
        float& a = m_advances[c.unicode()];
        if (a < 0)
            a = float(m_metrics.horizontalAdvance(c));
        return a;
    }
    // The width of text[from, to) starting at x = 0.
    qreal measure(QStringView text, int from, int to) const;

private:
    QFontMetricsF m_metrics;
    mutable std::vector<float> m_advances; // < 0 until measured
};

// Where each screen line of a text line starts, in positions of the line
// (empty for a line shown on one screen line), the line's length and, for
// unwrapped text, its width. A stale line was broken at another width (or
// not yet at all) and still waits to be broken again.
struct LineWrap {
    std::vector<int> starts;
    int length = 0;
    qreal width = 0;
    bool stale = false;
    int lines() const { return starts.empty() ? 1 : int(starts.size()); }
    int start(int i) const { return starts.empty() ? 0 : starts[std::size_t(i)]; }
};

// Breaks a text line into screen lines of at most `width` (no breaking when
// width <= 0): a word that does not fit starts the next line, a word longer
// than a line is cut, blanks may run past the edge. Given the line's old
// breaks and the change that turned it into `text` (at `offset`, `removed`
// units replaced by `added`), only the part from the screen line before the
// change up to where the old breaks hold again is measured.
LineWrap breakLine(const CharWidths& widths, QStringView text, qreal width,
                   const LineWrap* old = nullptr, int offset = 0, int removed = 0, int added = 0);

// The screen lines of every text line, and their running totals.
class WrapIndex {
public:
    WrapIndex();

    int lineCount() const { return m_chunkLine.back(); }
    int screenLineCount() const { return m_chunkScreen.back(); }
    const LineWrap& at(int line) const;
    // The first screen line of a text line (lineCount() gives the total).
    int firstScreenLine(int line) const;
    // The text line a screen line belongs to (clamped to the text).
    int lineOfScreenLine(int screen) const;
    // The widest line's width.
    qreal widest() const;

    void clear() { assign({}); }
    void assign(std::vector<LineWrap> lines);
    void set(int line, LineWrap wrap);
    // Replaces `count` lines from `first` with `lines`.
    void replace(int first, int count, std::vector<LineWrap> lines);
    void markAllStale();

private:
    // Lines in blocks of a few hundred; each block knows its own totals, the
    // index the totals of the blocks before each.
    struct Chunk {
        std::vector<LineWrap> lines;
        std::vector<int> first; // first screen line of each line within the chunk
        int screenLines = 0;
        qreal widest = 0;
    };
    static constexpr std::size_t kChunk = 256;

    std::size_t chunkOf(int line) const;
    void refreshChunk(Chunk& chunk);
    void refreshFrom(std::size_t chunk);

    std::vector<Chunk> m_chunks;
    std::vector<int> m_chunkLine;   // first text line of each chunk, and the count
    std::vector<int> m_chunkScreen; // first screen line of each chunk, and the total
};
