#include "app/grid/gridsort.h"

#include "data/fieldtype.h"
#include <QChar>
#include <QString>
#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <future>
#include <string_view>
#include <thread>

namespace gridsort {

namespace {

// The collation's view of one UTF-16 unit below kTable: up to two primary
// weights (two for the letters that sort as two, like "ß" as "ss") and an
// accent. Weights order blanks and punctuation before digits before
// letters; a letter's case and accent do not change its weight. Units from
// kTable up are written as kEscape and two bytes of their case-folded
// value, which sorts them after every Latin letter, in code order.
constexpr char16_t kTable = 0x250;
constexpr std::uint8_t kEscape = 0xFF;

struct Weight {
    std::uint8_t first = 0;
    std::uint8_t second = 0; // 0: one weight
    std::uint8_t accent = 0;
};

struct Table {
    std::array<Weight, kTable> w{};

    Table() {
        std::uint8_t next = 1;
        // Everything that is neither digit nor letter, in code order. (An
        // ASCII unit has one weight and no accent; weighUnits relies on it.)
        auto isAlnum = [](char16_t u) {
            const QChar c(u);
            return c.isLetterOrNumber();
        };
        for (char16_t u = 0; u < kTable; ++u)
            if (!isAlnum(u) && (u < 0x80 || (u >= 0x80 && u < 0xC0) || u == 0xD7 || u == 0xF7))
                w[u].first = next++;
        std::array<std::uint8_t, 10> digits{};
        for (int d = 0; d < 10; ++d)
            digits[std::size_t(d)] = next++;
        std::array<std::uint8_t, 26> letters{};
        for (int l = 0; l < 26; ++l)
            letters[std::size_t(l)] = next++;
        for (char16_t d = u'0'; d <= u'9'; ++d)
            w[d].first = digits[std::size_t(d - u'0')];
        // Letters: the base letter of a decomposed letter, case folded; the
        // combining mark (or the letter's own difference) is the accent.
        const auto letterOf = [&](char16_t base) -> std::uint8_t {
            const char16_t f = QChar(base).toCaseFolded().unicode();
            return f >= u'a' && f <= u'z' ? letters[std::size_t(f - u'a')] : 0;
        };
        for (char16_t u = 0; u < kTable; ++u) {
            if (w[u].first || !isAlnum(u))
                continue;
            const QChar c(u);
            char16_t base = c.toCaseFolded().unicode();
            std::uint8_t accent = 0;
            const QString d = c.decomposition();
            if (c.decompositionTag() == QChar::Canonical && d.size() >= 2) {
                base = d.at(0).toCaseFolded().unicode();
                accent = std::uint8_t(1 + (d.at(1).unicode() & 0x7F));
            }
            switch (base) { // letters without a decomposition
            case u'ø':
                base = u'o';
                accent = 0x81;
                break;
            case u'đ':
            case u'ð':
                base = u'd';
                accent = 0x82;
                break;
            case u'ł':
                base = u'l';
                accent = 0x83;
                break;
            case u'ß':
                w[u] = {letterOf(u's'), letterOf(u's'), 0};
                continue;
            case u'æ':
                w[u] = {letterOf(u'a'), letterOf(u'e'), 0};
                continue;
            case u'œ':
                w[u] = {letterOf(u'o'), letterOf(u'e'), 0};
                continue;
            default:
                break;
            }
            if (const std::uint8_t l = letterOf(base)) {
                w[u] = {l, 0, accent};
            } else {
                // A letter of its own (thorn, the ones beyond Latin-1): after z.
                w[u] = {next < kEscape - 1 ? next++ : std::uint8_t(kEscape - 1), 0, 0};
            }
        }
    }
};

const Table& table() {
    static const Table t;
    return t;
}

// Accents are kept sparse: for each accented letter its place among the
// letters (4 bytes, most significant first) and its accent, nothing for the
// rest, so that a column of accented texts does not cost a second copy.
constexpr std::size_t kAccentRecord = 5;

void addAccent(std::string& accents, std::uint32_t place, std::uint8_t accent) {
    accents.push_back(char(place >> 24));
    accents.push_back(char((place >> 16) & 0xFF));
    accents.push_back(char((place >> 8) & 0xFF));
    accents.push_back(char(place & 0xFF));
    accents.push_back(char(accent));
}

std::uint32_t accentPlace(std::string_view accents, std::size_t at) {
    std::uint32_t p = 0;
    for (std::size_t k = 0; k < 4; ++k)
        p = (p << 8) | std::uint8_t(accents[at + k]);
    return p;
}

template <typename Unit>
void weighUnits(const Unit* units, qsizetype size, std::string& primary, std::string& accents) {
    const Table& t = table();
    // Trailing blanks do not count, as in the server's comparisons.
    while (size > 0 && units[size - 1] == Unit(' '))
        --size;
    // Room for the most a unit can weigh (three bytes), written through a
    // pointer and cut to what was written: no check of the string's
    // capacity per weight.
    const std::size_t start = primary.size();
    primary.resize(start + std::size_t(size) * 3);
    char* const first = primary.data() + start;
    char* out = first;
    std::uint32_t place = 0;
    for (qsizetype i = 0; i < size; ++i) {
        // Runs of ASCII, most of most texts: one weight each, no accent.
        const qsizetype run = i;
        while (i < size && char16_t(units[i]) < 0x80)
            *out++ = char(t.w[char16_t(units[i++])].first);
        place += std::uint32_t(i - run);
        if (i == size)
            break;
        const char16_t u = char16_t(units[i]);
        if (u < kTable) {
            const Weight& w = t.w[u];
            *out++ = char(w.first);
            if (w.accent) [[unlikely]]
                addAccent(accents, place, w.accent);
            ++place;
            if (w.second) [[unlikely]] {
                *out++ = char(w.second);
                ++place;
            }
        } else {
            const char16_t f = QChar(u).toCaseFolded().unicode();
            *out++ = char(kEscape);
            *out++ = char(f >> 8);
            *out++ = char(f & 0xFF);
            ++place;
        }
    }
    primary.resize(start + std::size_t(out - first));
}

int compareBytes(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// Accents compare where the letters are equal, left to right; a letter
// without an accent counts as the lowest.
int compareAccents(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const std::uint32_t pa = i < a.size() ? accentPlace(a, i) : UINT32_MAX;
        const std::uint32_t pb = j < b.size() ? accentPlace(b, j) : UINT32_MAX;
        if (pa != pb)
            return pa < pb ? 1 : -1; // the first accent lies in a (or b)
        const auto x = std::uint8_t(a[i + 4]), y = std::uint8_t(b[j + 4]);
        if (x != y)
            return x < y ? -1 : 1;
        i += kAccentRecord;
        j += kAccentRecord;
    }
    return 0;
}

// Well-formed UTF-8 as UTF-16 units into `out`; false for anything else
// (overlong forms, surrogates, truncated sequences), left to the caller.
bool decodeUtf8(QByteArrayView bytes, std::u16string& out) {
    out.clear();
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        const std::uint32_t c = *p++;
        if (c < 0x80) {
            out.push_back(char16_t(c));
            continue;
        }
        const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (more < 0 || c > 0xF4 || end - p < more)
            return false;
        std::uint32_t v = c & (0x3F >> more);
        for (int k = 0; k < more; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            v = (v << 6) | (p[k] & 0x3F);
        }
        p += more;
        static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (v < least[more] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return false;
        if (v >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((v - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((v - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(v));
        }
    }
    return true;
}

std::uint64_t signedKey(std::int64_t v) {
    return std::uint64_t(v) ^ (std::uint64_t(1) << 63);
}

std::uint64_t doubleKey(double d) {
    if (d == 0)
        d = 0; // -0 and +0 are equal
    const auto bits = std::bit_cast<std::uint64_t>(d);
    return bits & (std::uint64_t(1) << 63) ? ~bits : bits | (std::uint64_t(1) << 63);
}

std::uint64_t prefixOf(std::string_view s) {
    std::uint64_t p = 0;
    for (std::size_t i = 0; i < 8; ++i)
        p = (p << 8) | (i < s.size() ? std::uint8_t(s[i]) : 0);
    return p;
}

// The server orders uniqueidentifier values by their last six bytes first,
// then the groups before them, right to left.
constexpr std::array<int, 16> kGuidOrder = {10, 11, 12, 13, 14, 15, 8, 9, 6, 7, 4, 5, 0, 1, 2, 3};

// A row and the first bytes of its key, side by side: most rows are placed
// by these alone, without a look into the keys.
struct Item {
    std::uint64_t prefix;
    int row;
};

// A stable sort by prefix, byte by byte from the lowest (LSD radix), over
// the bytes in which the prefixes differ at all; descending by the
// complement of the prefix, so that equal ones keep their order too.
void radixSort(Item* items, Item* scratch, std::size_t n, bool descending) {
    if (n < 2)
        return;
    const std::uint64_t flip = descending ? ~std::uint64_t(0) : 0;
    std::vector<std::array<std::size_t, 256>> counts(8);
    for (auto& c : counts)
        c.fill(0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t k = items[i].prefix ^ flip;
        for (int b = 0; b < 8; ++b)
            ++counts[std::size_t(b)][(k >> (8 * b)) & 0xFF];
    }
    Item* from = items;
    Item* to = scratch;
    for (int b = 0; b < 8; ++b) {
        auto& count = counts[std::size_t(b)];
        if (std::any_of(count.begin(), count.end(), [n](std::size_t c) { return c == n; }))
            continue; // every prefix has the same byte here
        std::size_t sum = 0;
        for (std::size_t& c : count) {
            const std::size_t here = c;
            c = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < n; ++i)
            to[count[((from[i].prefix ^ flip) >> (8 * b)) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != items)
        std::copy(from, from + n, items);
}

} // namespace

void textWeights(QStringView text, std::string& primary, std::string& accents) {
    primary.clear();
    accents.clear();
    weighUnits(text.utf16(), text.size(), primary, accents);
}

int compareText(QStringView a, QStringView b) {
    std::string pa, aa, pb, ab;
    textWeights(a, pa, aa);
    textWeights(b, pb, ab);
    if (const int c = compareBytes(pa, pb))
        return c;
    return compareAccents(aa, ab);
}

// The keys of rows in order: a null flag and an 8-byte prefix that decides
// alone for numbers, dates and times; texts, binary values and GUIDs keep
// their whole weight strings for prefixes that are equal.
struct SortJob::Keys {
    bool variable = false;
    std::vector<std::uint8_t> null;
    std::vector<std::uint64_t> prefix;
    std::string arena;
    std::vector<std::uint64_t> ends;
    std::string accentArena;
    std::vector<std::uint64_t> accentEnds;
    std::size_t skip = 0; // weights every row starts with
    std::string scratch;  // a row's accents before they are kept
    std::u16string wide;  // a UTF-8 text decoded

    void reserve(qint64 n) {
        null.reserve(std::size_t(n));
        prefix.reserve(std::size_t(n));
        if (variable) {
            ends.reserve(std::size_t(n));
            accentEnds.reserve(std::size_t(n));
            arena.reserve(std::size_t(n) * 16);
        }
    }
    void addNull() {
        null.push_back(1);
        prefix.push_back(0);
        if (variable) {
            ends.push_back(arena.size());
            accentEnds.push_back(accentArena.size());
        }
    }
    void addFixed(std::uint64_t key) {
        null.push_back(0);
        prefix.push_back(key);
    }
    // The weights of the row were appended to arena (and scratch).
    void closeVariable(std::size_t start) {
        null.push_back(0);
        prefix.push_back(prefixOf(std::string_view(arena).substr(start)));
        ends.push_back(arena.size());
        accentArena += scratch;
        scratch.clear();
        accentEnds.push_back(accentArena.size());
    }
    void addBytes(QByteArrayView bytes) {
        const std::size_t start = arena.size();
        arena.append(bytes.data(), std::size_t(bytes.size()));
        closeVariable(start);
    }
    void addGuid(const std::uint8_t* raw) {
        const std::size_t start = arena.size();
        for (int i : kGuidOrder)
            arena.push_back(char(raw[i]));
        closeVariable(start);
    }
    void addUtf16(QStringView s) {
        const std::size_t start = arena.size();
        weighUnits(s.utf16(), s.size(), arena, scratch);
        closeVariable(start);
    }
    void addUtf8(QByteArrayView b) {
        const std::size_t start = arena.size();
        const bool ascii = std::all_of(b.begin(), b.end(), [](char c) { return c >= 0; });
        if (ascii) {
            weighUnits(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), arena, scratch);
        } else if (decodeUtf8(b, wide)) {
            // Decoded into a buffer kept for the next row: no string made
            // per row.
            weighUnits(wide.data(), qsizetype(wide.size()), arena, scratch);
        } else {
            const QString s = QString::fromUtf8(b); // replaces what is not UTF-8
            weighUnits(s.utf16(), s.size(), arena, scratch);
        }
        closeVariable(start);
    }
    std::string_view weights(int row) const {
        const std::uint64_t s = row == 0 ? 0 : ends[std::size_t(row - 1)];
        return std::string_view(arena).substr(s, ends[std::size_t(row)] - s);
    }
    std::string_view accents(int row) const {
        const std::uint64_t s = row == 0 ? 0 : accentEnds[std::size_t(row - 1)];
        return std::string_view(accentArena).substr(s, accentEnds[std::size_t(row)] - s);
    }
    // Rows whose prefixes are equal: the rest of their weights, then
    // their accents.
    static int compareTails(const Keys& ka, int a, const Keys& kb, int b) {
        if (const int c =
                compareBytes(ka.weights(a).substr(ka.skip), kb.weights(b).substr(kb.skip)))
            return c;
        return compareAccents(ka.accents(a), kb.accents(b));
    }

    // How many leading weights the rows of this part share with `w0`, at
    // most `common`.
    std::size_t commonWith(std::string_view w0, std::size_t common) const {
        const int n = int(null.size());
        for (int r = 0; r < n && common > 0; ++r) {
            if (null[std::size_t(r)])
                continue;
            const std::string_view w = weights(r);
            std::size_t i = 0;
            const std::size_t most = std::min(common, w.size());
            while (i < most && w[i] == w0[i])
                ++i;
            common = i;
        }
        return common;
    }
    // The prefixes taken after the first `common` weights.
    void skipWeights(std::size_t common) {
        skip = common;
        if (skip == 0)
            return;
        const int n = int(null.size());
        for (int r = 0; r < n; ++r)
            if (!null[std::size_t(r)])
                prefix[std::size_t(r)] = prefixOf(weights(r).substr(skip));
    }
};

namespace {

bool isTextKind(data::StorageKind kind) {
    return kind == data::StorageKind::Utf8 || kind == data::StorageKind::Utf16;
}

// Decimals beyond 18 digits are held as text but sort as numbers.
bool numberAsText(const data::ColumnInfo& info) {
    return info.kind == data::StorageKind::Utf8 && (info.type == ftBCD || info.type == ftFMTBcd);
}

} // namespace

SortJob::SortJob(std::shared_ptr<const data::ResultStore> store, int column, qint64 rows,
                 Order order, bool growing)
    : m_store(std::move(store)), m_column(column), m_rows(rows), m_order(order),
      m_info(m_store->column(column)), m_tail(std::make_unique<Keys>()) {
    m_tail->variable = (isTextKind(m_info.kind) && !numberAsText(m_info)) ||
                       m_info.kind == data::StorageKind::Bytes ||
                       m_info.kind == data::StorageKind::Guid;
    // Complete blocks of a store without edits are read on the worker; the
    // block still being filled, and every row of an edited store, here.
    if (!m_store->hasEdits()) {
        qint64 complete = (rows >> data::ResultStore::kBlockShift)
                          << data::ResultStore::kBlockShift;
        if (growing && complete > 0)
            complete -= data::ResultStore::kBlockRows;
        for (qint64 r = 0; r < complete; r += data::ResultStore::kBlockRows)
            m_views.push_back(m_store->blockView(r, column));
        m_viewRows = complete;
    }
    keysFromStore(m_viewRows, rows, *m_tail);
}

SortJob::~SortJob() = default;

void SortJob::keysFromStore(qint64 first, qint64 end, Keys& keys) const {
    const data::ResultStore& s = *m_store;
    const int c = m_column;
    keys.reserve(end - first);
    for (qint64 r = first; r < end; ++r) {
        if (s.isNull(r, c)) {
            keys.addNull();
            continue;
        }
        switch (m_info.kind) {
        case data::StorageKind::Double:
            keys.addFixed(doubleKey(s.real(r, c)));
            break;
        case data::StorageKind::Utf8:
            if (numberAsText(m_info))
                keys.addFixed(doubleKey(s.bytes(r, c).toByteArray().toDouble()));
            else
                keys.addUtf8(s.bytes(r, c));
            break;
        case data::StorageKind::Utf16:
            keys.addUtf16(s.utf16(r, c));
            break;
        case data::StorageKind::Bytes:
            keys.addBytes(s.bytes(r, c));
            break;
        case data::StorageKind::Guid:
            keys.addGuid(reinterpret_cast<const std::uint8_t*>(s.bytes(r, c).data()));
            break;
        default:
            keys.addFixed(signedKey(s.integer(r, c)));
            break;
        }
    }
}

void SortJob::keysFrom(const data::ResultStore::BlockView& v, qint64 first, qint64 end,
                       Keys& keys) const {
    // One loop per kind, so that the kind is not asked again for every row.
    const auto each = [&](auto&& add) {
        for (qint64 r = first; r < end; ++r) {
            if (v.isNull(r))
                keys.addNull();
            else
                add(r);
        }
    };
    switch (v.kind) {
    case data::StorageKind::Double:
        each([&](qint64 r) { keys.addFixed(doubleKey(v.fixedValue<double>(r))); });
        break;
    case data::StorageKind::Int32:
        each([&](qint64 r) { keys.addFixed(signedKey(v.fixedValue<std::int32_t>(r))); });
        break;
    case data::StorageKind::Int64:
    case data::StorageKind::Decimal:
    case data::StorageKind::DateTime:
    case data::StorageKind::Time:
        each([&](qint64 r) { keys.addFixed(signedKey(v.fixedValue<std::int64_t>(r))); });
        break;
    case data::StorageKind::Utf8:
        if (numberAsText(m_info))
            each([&](qint64 r) { keys.addFixed(doubleKey(v.bytes(r).toByteArray().toDouble())); });
        else
            each([&](qint64 r) { keys.addUtf8(v.bytes(r)); });
        break;
    case data::StorageKind::Utf16:
        each([&](qint64 r) {
            const QByteArrayView b = v.bytes(r);
            keys.addUtf16(QStringView(reinterpret_cast<const QChar*>(b.data()), b.size() / 2));
        });
        break;
    case data::StorageKind::Bytes:
        each([&](qint64 r) { keys.addBytes(v.bytes(r)); });
        break;
    case data::StorageKind::Guid:
        each([&](qint64 r) { keys.addGuid(v.fixed + std::size_t(r - v.first) * 16); });
        break;
    default:
        each([&](qint64 r) { keys.addFixed(signedKey(v.integer(r))); });
        break;
    }
}

namespace {

// Runs work(0) .. work(n - 1), all but the first on threads of their own.
template <typename Work> void inParallel(std::size_t n, const Work& work) {
    std::vector<std::future<void>> others;
    for (std::size_t k = 1; k < n; ++k)
        others.push_back(std::async(std::launch::async, [&work, k] { work(k); }));
    work(0);
    for (auto& f : others)
        f.get();
}

} // namespace

std::vector<int> SortJob::run() const {
    // The keys are made in parts, one per processor for the complete
    // blocks (most of the work for texts), and a copy of the tail made on
    // the store's thread; rows keep their numbers across the parts.
    const std::size_t blocks = m_views.size();
    std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    if (blocks < 2 * threads)
        threads = 1;
    std::vector<Keys> parts(threads + 1);
    const auto firstView = [&](std::size_t k) { return k * blocks / threads; };
    const auto build = [&](std::size_t k) {
        Keys& keys = parts[k];
        keys.variable = m_tail->variable;
        const std::size_t from = firstView(k), to = firstView(k + 1);
        keys.reserve(qint64(to - from) * data::ResultStore::kBlockRows);
        if (keys.variable) {
            // About a weight per character: the blocks' text sizes tell how many.
            // Each value is weighed in room for three bytes a unit, so the
            // longest value is added: the arena never grows (a copy of
            // itself into fresh pages) on the way.
            const std::size_t unit = m_info.kind == data::StorageKind::Utf16 ? 2 : 1;
            std::size_t chars = 0, longest = 0;
            for (std::size_t v = from; v < to; ++v) {
                const auto& view = m_views[v];
                std::uint32_t last = 0;
                for (qint64 r = 0; r < view.filled; ++r) {
                    const std::uint32_t end = view.ends[std::size_t(r)];
                    longest = std::max<std::size_t>(longest, (end - last) / unit);
                    last = end;
                }
                chars += last / unit;
            }
            keys.arena.reserve(chars + chars / 8 + 3 * longest);
        }
        for (std::size_t v = from; v < to; ++v) {
            if (m_cancelled)
                return;
            const auto& view = m_views[v];
            keysFrom(view, view.first, std::min(view.end, m_viewRows), keys);
            if (v == from && keys.variable && to - from > 1) {
                // Accents as often as in the first block, with a margin.
                const std::size_t perBlock = keys.accentArena.size();
                keys.accentArena.reserve(perBlock * (to - from) + perBlock / 8);
            }
        }
    };
    inParallel(threads, build);
    parts[threads] = *m_tail;
    if (m_cancelled)
        return {};

    // The first row of each part, and the part that holds a row.
    std::vector<int> starts;
    int n = 0;
    for (const Keys& keys : parts) {
        starts.push_back(n);
        n += int(keys.null.size());
    }
    const auto partOf = [&](int& row) -> const Keys& {
        std::size_t k = parts.size() - 1;
        while (starts[k] > row)
            --k;
        row -= starts[k];
        return parts[k];
    };

    const bool variable = m_tail->variable;
    if (variable) {
        // Weights that every row starts with tell nothing: the prefixes are
        // taken after them, so that texts like "Messpunkt 1", "Messpunkt 2"
        // are told apart by their prefixes alone.
        std::string w0;
        bool any = false;
        for (const Keys& keys : parts)
            for (std::size_t r = 0; r < keys.null.size() && !any; ++r)
                if (!keys.null[r]) {
                    w0 = std::string(keys.weights(int(r)));
                    any = true;
                }
        if (any) {
            std::size_t common = w0.size();
            for (const Keys& keys : parts)
                common = keys.commonWith(w0, common);
            if (common > 0)
                inParallel(parts.size(), [&](std::size_t k) { parts[k].skipWeights(common); });
        }
    }

    std::vector<int> nulls;
    std::vector<Item> values;
    values.reserve(std::size_t(n));
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const Keys& keys = parts[k];
        for (std::size_t r = 0; r < keys.null.size(); ++r) {
            const int row = starts[k] + int(r);
            if (keys.null[r])
                nulls.push_back(row);
            else
                values.push_back({keys.prefix[r], row});
        }
    }
    if (m_cancelled)
        return {};
    const bool down = m_order == Order::Descending;
    // One scratch buffer of the same size serves both the radix passes and
    // the merge: fresh memory costs the zeroing of its pages.
    std::vector<Item> scratch(values.size());
    if (threads > 1 && values.size() > 2 * std::size_t(data::ResultStore::kBlockRows)) {
        // Each half sorted on a processor of its own, then merged; on
        // equal prefixes the merge takes the first half first, so the
        // sort stays stable.
        const std::size_t half = values.size() / 2;
        inParallel(2, [&](std::size_t k) {
            const std::size_t from = k == 0 ? 0 : half;
            const std::size_t count = k == 0 ? half : values.size() - half;
            radixSort(values.data() + from, scratch.data() + from, count, down);
        });
        if (m_cancelled)
            return {};
        std::merge(values.begin(), values.begin() + std::ptrdiff_t(half),
                   values.begin() + std::ptrdiff_t(half), values.end(), scratch.begin(),
                   [down](const Item& a, const Item& b) {
                       return down ? a.prefix > b.prefix : a.prefix < b.prefix;
                   });
        values.swap(scratch);
    } else {
        radixSort(values.data(), scratch.data(), values.size(), down);
    }
    scratch = {};
    if (variable) {
        // Rows with equal prefixes are ordered by the rest of their keys.
        const auto less = [&partOf, down](const Item& a, const Item& b) {
            int ra = a.row, rb = b.row;
            const Keys& ka = partOf(ra);
            const Keys& kb = partOf(rb);
            const int c = Keys::compareTails(ka, ra, kb, rb);
            return down ? c > 0 : c < 0;
        };
        for (std::size_t i = 0; i < values.size();) {
            std::size_t j = i + 1;
            while (j < values.size() && values[j].prefix == values[i].prefix)
                ++j;
            if (j - i > 1)
                std::stable_sort(values.begin() + std::ptrdiff_t(i),
                                 values.begin() + std::ptrdiff_t(j), less);
            i = j;
            if (m_cancelled)
                return {};
        }
    }
    if (m_cancelled)
        return {};
    // NULL is the smallest value: first going up, last going down.
    std::vector<int> order;
    order.reserve(std::size_t(n));
    if (m_order != Order::Descending)
        order = std::move(nulls);
    for (const Item& item : values)
        order.push_back(item.row);
    if (m_order == Order::Descending)
        order.insert(order.end(), nulls.begin(), nulls.end());
    return order;
}

} // namespace gridsort
