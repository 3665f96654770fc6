#include "controls/wrapindex.h"

#include <algorithm>
#include <iterator>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

} // namespace

// ---- character widths -------------------------------------------------------

CharWidths::CharWidths(const QFont& font) : m_metrics(font), m_advances(0x10000, -1.0f) {}

void CharWidths::setFont(const QFont& font) {
    m_metrics = QFontMetricsF(font);
    std::fill(m_advances.begin(), m_advances.end(), -1.0f);
}

qreal CharWidths::measure(QStringView text, int from, int to) const {
    qreal x = 0;
    int length = 1;
    for (int i = from; i < to; i += length)
        x += advance(text, i, &length, x);
    return x;
}

// ---- breaking one line ------------------------------------------------------

LineWrap breakLine(const CharWidths& widths, QStringView text, qreal width, const LineWrap* old,
                   int offset, int removed, int added) {
    LineWrap w;
    w.length = int(text.size());
    const bool wrap = width > 0;
    std::vector<int>& starts = w.starts;
    int lineStart = 0;
    if (old && wrap && !old->stale && !old->starts.empty()) {
        // The screen lines before the one ahead of the change stay as they
        // were: a change can pull a word back onto the line before it.
        const auto at = std::upper_bound(old->starts.begin(), old->starts.end(), offset);
        const auto keep = std::max(old->starts.begin() + 1, at - 1);
        starts.assign(old->starts.begin(), keep);
        lineStart = starts.back();
    } else {
        starts.push_back(0);
        old = nullptr;
    }
    const int delta = added - removed;
    const int n = w.length;
    qreal x = 0;
    int lastBreak = -1; // where the line may break: after the last blank
    int length = 1;
    for (int i = lineStart; i < n;) {
        const QChar c = text[i];
        const qreal a = widths.advance(text, i, &length, x);
        if (wrap && x + a > width && i > lineStart && !isBlank(c)) {
            const int at = lastBreak > lineStart ? lastBreak : i;
            starts.push_back(at);
            lineStart = at;
            lastBreak = -1;
            if (old && at > offset + added) {
                // Past the change, once a line starts where one started
                // before, the rest breaks as before.
                const int was = at - delta;
                auto it = std::lower_bound(old->starts.begin(), old->starts.end(), was);
                if (it != old->starts.end() && *it == was) {
                    for (++it; it != old->starts.end(); ++it)
                        starts.push_back(*it + delta);
                    return w;
                }
            }
            x = widths.measure(text, at, i);
            continue;
        }
        x += a;
        i += length;
        if (isBlank(c))
            lastBreak = i;
    }
    if (!wrap)
        w.width = x;
    if (starts.size() == 1)
        starts.clear();
    return w;
}

// ---- the index --------------------------------------------------------------

WrapIndex::WrapIndex() : m_chunkLine{0}, m_chunkScreen{0} {}

std::size_t WrapIndex::chunkOf(int line) const {
    const auto it = std::upper_bound(m_chunkLine.begin(), m_chunkLine.end(), line);
    const std::ptrdiff_t c = it - m_chunkLine.begin() - 1;
    return std::size_t(std::clamp<std::ptrdiff_t>(c, 0, std::ptrdiff_t(m_chunks.size()) - 1));
}

const LineWrap& WrapIndex::at(int line) const {
    const std::size_t c = chunkOf(line);
    return m_chunks[c].lines[std::size_t(line - m_chunkLine[c])];
}

int WrapIndex::firstScreenLine(int line) const {
    if (line >= lineCount())
        return screenLineCount();
    const std::size_t c = chunkOf(line);
    return m_chunkScreen[c] + m_chunks[c].first[std::size_t(line - m_chunkLine[c])];
}

int WrapIndex::lineOfScreenLine(int screen) const {
    if (m_chunks.empty())
        return 0;
    screen = std::clamp(screen, 0, screenLineCount() - 1);
    const auto it = std::upper_bound(m_chunkScreen.begin(), m_chunkScreen.end(), screen);
    const std::size_t c =
        std::min(std::size_t(it - m_chunkScreen.begin() - 1), m_chunks.size() - 1);
    const std::vector<int>& first = m_chunks[c].first;
    const auto in = std::upper_bound(first.begin(), first.end(), screen - m_chunkScreen[c]);
    return m_chunkLine[c] + int(in - first.begin()) - 1;
}

qreal WrapIndex::widest() const {
    qreal widest = 0;
    for (const Chunk& c : m_chunks)
        widest = std::max(widest, c.widest);
    return widest;
}

void WrapIndex::refreshChunk(Chunk& chunk) {
    chunk.first.resize(chunk.lines.size());
    int total = 0;
    qreal widest = 0;
    for (std::size_t i = 0; i < chunk.lines.size(); ++i) {
        chunk.first[i] = total;
        total += chunk.lines[i].lines();
        widest = std::max(widest, chunk.lines[i].width);
    }
    chunk.screenLines = total;
    chunk.widest = widest;
}

void WrapIndex::refreshFrom(std::size_t chunk) {
    m_chunkLine.resize(m_chunks.size() + 1);
    m_chunkScreen.resize(m_chunks.size() + 1);
    for (std::size_t c = chunk; c < m_chunks.size(); ++c) {
        m_chunkLine[c + 1] = m_chunkLine[c] + int(m_chunks[c].lines.size());
        m_chunkScreen[c + 1] = m_chunkScreen[c] + m_chunks[c].screenLines;
    }
}

void WrapIndex::assign(std::vector<LineWrap> lines) {
    m_chunks.clear();
    replace(0, 0, std::move(lines));
}

void WrapIndex::set(int line, LineWrap wrap) {
    const std::size_t c = chunkOf(line);
    Chunk& chunk = m_chunks[c];
    chunk.lines[std::size_t(line - m_chunkLine[c])] = std::move(wrap);
    refreshChunk(chunk);
    refreshFrom(c);
}

void WrapIndex::replace(int first, int count, std::vector<LineWrap> lines) {
    // The chunks the change touches are cut into fresh ones; the others stay.
    std::size_t from = m_chunks.empty() ? 0 : chunkOf(first);
    std::size_t to = m_chunks.empty() ? 0 : chunkOf(std::max(first, first + count - 1)) + 1;
    std::vector<LineWrap> merged;
    const int base = m_chunks.empty() ? 0 : m_chunkLine[from];
    for (std::size_t c = from; c < to; ++c)
        std::move(m_chunks[c].lines.begin(), m_chunks[c].lines.end(), std::back_inserter(merged));
    const auto at = merged.begin() + std::clamp(first - base, 0, int(merged.size()));
    const auto end = at + std::min<std::ptrdiff_t>(count, merged.end() - at);
    const auto cut = merged.erase(at, end);
    merged.insert(cut, std::make_move_iterator(lines.begin()),
                  std::make_move_iterator(lines.end()));

    std::vector<Chunk> fresh;
    for (std::size_t i = 0; i < merged.size(); i += kChunk) {
        Chunk chunk;
        const auto stop = merged.begin() + std::ptrdiff_t(std::min(merged.size(), i + kChunk));
        chunk.lines.assign(std::make_move_iterator(merged.begin() + std::ptrdiff_t(i)),
                           std::make_move_iterator(stop));
        refreshChunk(chunk);
        fresh.push_back(std::move(chunk));
    }
    m_chunks.erase(m_chunks.begin() + std::ptrdiff_t(from), m_chunks.begin() + std::ptrdiff_t(to));
    m_chunks.insert(m_chunks.begin() + std::ptrdiff_t(from), std::make_move_iterator(fresh.begin()),
                    std::make_move_iterator(fresh.end()));
    refreshFrom(from);
}

void WrapIndex::markAllStale() {
    for (Chunk& c : m_chunks)
        for (LineWrap& w : c.lines)
            w.stale = true;
}
