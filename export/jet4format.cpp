#include "export/jet4format.h"

#include "export/values.h"

#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace exportfile::jet4 {

std::uint16_t get16(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint16>(b.constData() + pos);
}

std::uint32_t get32(const QByteArray& b, int pos) {
    return qFromLittleEndian<quint32>(b.constData() + pos);
}

void put16(QByteArray& b, int pos, std::uint16_t v) {
    qToLittleEndian<quint16>(v, b.data() + pos);
}

void put32(QByteArray& b, int pos, std::uint32_t v) {
    qToLittleEndian<quint32>(v, b.data() + pos);
}

void append16(QByteArray& b, std::uint16_t v) {
    char raw[2];
    qToLittleEndian<quint16>(v, raw);
    b.append(raw, 2);
}

void append32(QByteArray& b, std::uint32_t v) {
    char raw[4];
    qToLittleEndian<quint32>(v, raw);
    b.append(raw, 4);
}

// --- columns and table definitions --------------------------------------------------------

int TableDef::variableCount() const {
    int n = 0;
    for (const auto& c : columns)
        if (!c.isFixed())
            ++n;
    return n;
}

int TableDef::fixedAreaSize() const {
    int size = 0;
    for (const auto& c : columns)
        if (c.isFixed() && c.type != TypeBool)
            size = std::max(size, c.fixedOffset + c.length);
    return size;
}

bool allowedInName(QChar ch) {
    return ch.unicode() >= 0x20 && ch != u'.' && ch != u'!' && ch != u'`' && ch != u'[' &&
           ch != u']';
}

void checkObjectName(const QString& name, bool table) {
    const QString what = table ? QStringLiteral("Tabellenname") : QStringLiteral("Feldname");
    if (name.isEmpty())
        throw ExportError(
            QStringLiteral("Ein leerer %1 ist in Access-Datenbanken nicht erlaubt.").arg(what));
    if (name.size() > 64)
        throw ExportError(QStringLiteral("Der %1 \"%2\" ist für Access-Datenbanken zu lang "
                                         "(höchstens 64 Zeichen).")
                              .arg(what, name));
    if (name.at(0) == u' ')
        throw ExportError(QStringLiteral("Der %1 \"%2\" darf nicht mit einem Leerzeichen beginnen.")
                              .arg(what, name));
    for (const QChar ch : name)
        if (!allowedInName(ch))
            throw ExportError(QStringLiteral("Der %1 \"%2\" enthält ein in Access-Datenbanken "
                                             "nicht erlaubtes Zeichen (. ! ` [ ] oder ein "
                                             "Steuerzeichen).")
                                  .arg(what, name));
}

Column columnFor(const ColumnDef& def) {
    checkObjectName(def.name, false);
    Column c;
    c.name = def.name;
    c.source = def.type;
    c.flags = FlagFixed | FlagNullable;
    switch (def.type) {
    case ColumnType::Integer:
        c.type = TypeLong;
        c.length = 4;
        break;
    case ColumnType::Float:
        c.type = TypeDouble;
        c.length = 8;
        break;
    case ColumnType::Numeric:
        // Four decimals fit a Currency column exactly; more decimals keep their digits in a
        // Double rather than being rounded away.
        c.type = def.scale <= 4 && def.precision <= 15 ? TypeMoney : TypeDouble;
        c.length = 8;
        break;
    case ColumnType::Char:
        c.type = TypeText;
        c.length = def.size * 2;
        c.flags = FlagNullable;
        c.compressed = true;
        break;
    case ColumnType::Memo:
        c.type = TypeMemo;
        c.length = 0;
        c.flags = FlagNullable;
        c.compressed = true;
        break;
    case ColumnType::Bit:
        c.type = TypeBool;
        c.length = 1;
        break;
    case ColumnType::Date:
    case ColumnType::DateTime:
    case ColumnType::Time:
    case ColumnType::Timestamp:
        c.type = TypeDateTime;
        c.length = 8;
        break;
    }
    return c;
}

ColumnDef columnDefFor(const Column& column) {
    ColumnDef d;
    d.name = column.name;
    switch (column.type) {
    case TypeBool:
        d.type = ColumnType::Bit;
        break;
    case TypeByte:
    case TypeInt:
    case TypeLong:
        d.type = ColumnType::Integer;
        break;
    case TypeMoney:
        d.type = ColumnType::Numeric;
        d.precision = 15;
        d.scale = 4;
        break;
    case TypeFloat:
    case TypeDouble:
        d.type = ColumnType::Float;
        break;
    case TypeDateTime:
        d.type = ColumnType::DateTime;
        break;
    case TypeText:
        d.type = ColumnType::Char;
        d.size = column.length / 2;
        break;
    default:
        d.type = ColumnType::Memo;
        break;
    }
    return d;
}

void layoutColumns(std::vector<Column>& columns) {
    int fixedOffset = 0;
    int varIndex = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        Column& c = columns[i];
        c.number = int(i);
        if (c.isFixed()) {
            // Yes/No values live in the null mask and take no room in the fixed area.
            c.fixedOffset = fixedOffset;
            c.varIndex = 0;
            if (c.type != TypeBool)
                fixedOffset += c.length;
        } else {
            c.fixedOffset = 0;
            c.varIndex = varIndex++;
        }
    }
}

QByteArray buildTableDefinition(const TableDef& def) {
    QByteArray d;
    append32(d, 0); // total length, patched below
    append32(d, 0);
    append32(d, def.rowCount);
    append32(d, 0); // next autonumber
    d.append(char(0));
    d.append(3, char(0));
    append32(d, 0);
    d.append(8, char(0));
    d.append(char(def.system ? 0x53 : 0x4E));
    const auto columns = std::uint16_t(def.columns.size());
    append16(d, columns); // most columns a row has
    append16(d, std::uint16_t(def.variableCount()));
    append16(d, columns);
    const auto indexes = std::uint32_t(def.indexes.size());
    append32(d, indexes); // logical indexes
    append32(d, indexes); // physical indexes
    append32(d, def.usedPagesMap);
    append32(d, def.freePagesMap);
    for (const auto& ix : def.indexes) {
        append32(d, 0);
        append32(d, ix.entryCount);
        append32(d, 0);
    }
    for (const auto& c : def.columns) {
        d.append(char(c.type));
        append32(d, 0);
        append16(d, std::uint16_t(c.number));
        append16(d, std::uint16_t(c.varIndex));
        append16(d, std::uint16_t(c.number));
        const bool text = c.type == TypeText || c.type == TypeMemo;
        append16(d, text ? c.sortOrder : 0);
        d.append(char(0));
        d.append(char(text ? c.sortVersion : 0));
        d.append(char(c.flags));
        d.append(char(c.compressed ? 0x01 : 0x00));
        append32(d, 0);
        append16(d, std::uint16_t(c.fixedOffset));
        append16(d, std::uint16_t(c.length));
    }
    for (const auto& c : def.columns) {
        append16(d, std::uint16_t(c.name.size() * 2));
        for (const QChar ch : c.name)
            append16(d, ch.unicode());
    }
    constexpr int kIndexColumnSlots = 10;
    for (const auto& ix : def.indexes) {
        append32(d, 0);
        for (int k = 0; k < kIndexColumnSlots; ++k) {
            const bool used = k < int(ix.columns.size());
            append16(d, used ? std::uint16_t(ix.columns[size_t(k)]) : 0xFFFF);
            d.append(char(used ? 0x01 : 0x00)); // ascending
        }
        append32(d, ix.usedPagesMap);
        append32(d, ix.rootPage);
        d.append(10, char(0)); // flags and reserved bytes
    }
    for (size_t i = 0; i < def.indexes.size(); ++i) {
        append32(d, 0);
        append32(d, std::uint32_t(i)); // logical number
        append32(d, std::uint32_t(i)); // the physical index behind it
        d.append(char(0));             // no relationship
        append32(d, 0xFFFFFFFFu);
        append32(d, 0);
        d.append(2, char(0));
        d.append(char(def.indexes[i].primaryKey ? 0x01 : 0x00));
        append32(d, 0);
    }
    for (const auto& ix : def.indexes) {
        append16(d, std::uint16_t(ix.name.size() * 2));
        for (const QChar ch : ix.name)
            append16(d, ch.unicode());
    }
    append16(d, 0xFFFF); // no long value columns with maps of their own
    put32(d, 0, std::uint32_t(d.size()));
    return d;
}

namespace {

void requireBytes(const QByteArray& d, int end) {
    if (end > d.size())
        throw ExportError(QStringLiteral("Die Tabellendefinition der Access-Datenbank ist "
                                         "beschädigt."));
}

// A name in a table definition: its length in bytes, then UCS-2.
QString readName(const QByteArray& d, int& pos) {
    requireBytes(d, pos + 2);
    const int len = get16(d, pos);
    requireBytes(d, pos + 2 + len);
    const QString name =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(d.constData() + pos + 2), len / 2);
    pos += 2 + len;
    return name;
}

// The indexes behind the columns' names: physical definitions of 52 bytes, logical ones of
// 28 bytes, then the logical indexes' names.
void parseIndexes(const QByteArray& d, int pos, int logical, int physical, TableDef& def) {
    auto need = [&](int end) { requireBytes(d, end); };
    if (logical == 0 && physical == 0)
        return;
    def.indexesMaintainable = logical == physical;
    const int physicalStart = pos;
    need(pos + physical * 52 + logical * 28);
    pos += physical * 52;
    for (int i = 0; i < logical; ++i, pos += 28) {
        Index ix;
        const int real = int(get32(d, pos + 8));
        ix.primaryKey = d.at(pos + 23) == 0x01;
        if (d.at(pos + 23) == 0x02 || real < 0 || real >= physical)
            def.indexesMaintainable = false;
        if (real >= 0 && real < physical) {
            const int at = physicalStart + real * 52;
            for (int k = 0; k < 10; ++k) {
                const int column = get16(d, at + 4 + 3 * k);
                if (column == 0xFFFF)
                    continue;
                ix.columns.push_back(column);
                if (d.at(at + 6 + 3 * k) != 0x01)
                    def.indexesMaintainable = false;
            }
            ix.usedPagesMap = get32(d, at + 34);
            ix.rootOffset = at + 38;
            ix.rootPage = get32(d, ix.rootOffset);
            ix.countOffset = 55 + real * 12 + 4;
            ix.entryCount = get32(d, ix.countOffset);
        }
        def.indexes.push_back(ix);
    }
    for (auto& ix : def.indexes)
        ix.name = readName(d, pos);
    // Keys are kept up to date only for numbers and texts sorted the way indexKey() sorts.
    for (const auto& ix : def.indexes)
        for (int number : ix.columns) {
            const auto c = std::find_if(def.columns.begin(), def.columns.end(),
                                        [&](const Column& col) { return col.number == number; });
            if (c == def.columns.end() ||
                !(c->type == TypeLong || c->type == TypeInt || c->type == TypeByte ||
                  (c->type == TypeText && c->sortOrder == 0x0409 && c->sortVersion == 0)))
                def.indexesMaintainable = false;
        }
}

} // namespace

TableDef parseTableDefinition(const QByteArray& d) {
    auto need = [&](int end) { requireBytes(d, end); };
    need(55);
    TableDef def;
    def.rowCount = get32(d, 8);
    def.system = std::uint8_t(d.at(32)) == 0x53;
    const int columns = get16(d, 37);
    const int logicalIndexes = int(get32(d, 39));
    const int realIndexes = int(get32(d, 43));
    def.usedPagesMap = get32(d, 47);
    def.freePagesMap = get32(d, 51);
    if (realIndexes < 0 || realIndexes > 1000 || logicalIndexes < 0 || logicalIndexes > 1000)
        throw ExportError(QStringLiteral("Die Tabellendefinition der Access-Datenbank ist "
                                         "beschädigt."));
    int pos = 55 + realIndexes * 12;
    need(pos + columns * 25);
    for (int i = 0; i < columns; ++i, pos += 25) {
        Column c;
        c.type = std::uint8_t(d.at(pos));
        c.number = get16(d, pos + 5);
        c.varIndex = get16(d, pos + 7);
        c.sortOrder = get16(d, pos + 11);
        c.sortVersion = std::uint8_t(d.at(pos + 14));
        c.flags = std::uint8_t(d.at(pos + 15));
        c.compressed = (std::uint8_t(d.at(pos + 16)) & 0x01) != 0;
        c.fixedOffset = get16(d, pos + 21);
        c.length = get16(d, pos + 23);
        def.columns.push_back(c);
    }
    for (auto& c : def.columns)
        c.name = readName(d, pos);
    parseIndexes(d, pos, logicalIndexes, realIndexes, def);
    std::sort(def.columns.begin(), def.columns.end(),
              [](const Column& a, const Column& b) { return a.number < b.number; });
    for (auto& c : def.columns)
        c.source = columnDefFor(c).type;
    return def;
}

// --- header page ------------------------------------------------------------------------

void rc4(const QByteArray& key, char* data, int length) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = std::uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + std::uint8_t(key.at(i % key.size()))) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[n] = char(std::uint8_t(data[n]) ^ s[(s[i] + s[j]) & 0xFF]);
    }
}

QByteArray headerPage() {
    QByteArray p(kPageSize, char(0));
    p[1] = 0x01;
    std::memcpy(p.data() + 4, "Standard Jet DB", 15);
    put32(p, 0x14, 1); // Jet 4
    // The region from 0x18 is masked with RC4 under a fixed key. It holds the code page, a
    // database key of 0 (pages are not encrypted), an empty password whose mask depends on
    // the creation date (0, so the mask is empty) and the sort order ("General").
    put16(p, 0x3C, 1252);
    put32(p, 0x3E, 0);
    put32(p, 0x6E, 0x0409);
    const QByteArray key("\xC7\xDA\x39\x6B", 4);
    rc4(key, p.data() + 0x18, 128);
    return p;
}

// --- texts and dates --------------------------------------------------------------------

QByteArray encodeText(const QString& text, bool allowCompression) {
    bool compressible = allowCompression && text.size() > 2;
    for (qsizetype i = 0; compressible && i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        compressible = u != 0 && u <= 0xFF;
    }
    QByteArray out;
    if (compressible) {
        out.reserve(text.size() + 2);
        out.append("\xFF\xFE", 2);
        for (const QChar ch : text)
            out.append(char(ch.unicode()));
        return out;
    }
    out.resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), out.data() + 2 * i);
    return out;
}

QString decodeText(const QByteArray& b) {
    QString s;
    if (b.size() >= 2 && std::uint8_t(b.at(0)) == 0xFF && std::uint8_t(b.at(1)) == 0xFE) {
        bool compressed = true;
        for (qsizetype i = 2; i < b.size();) {
            if (b.at(i) == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                s.append(QChar(char16_t(std::uint8_t(b.at(i)))));
                ++i;
            } else if (i + 1 < b.size()) {
                s.append(QChar(char16_t(qFromLittleEndian<quint16>(b.constData() + i))));
                i += 2;
            } else {
                break;
            }
        }
        return s;
    }
    s.resize(b.size() / 2);
    for (qsizetype i = 0; i < s.size(); ++i)
        s[i] = QChar(char16_t(qFromLittleEndian<quint16>(b.constData() + 2 * i)));
    return s;
}

double oleDate(const QDate& date, const QTime& time) {
    const qint64 days = QDate(1899, 12, 30).daysTo(date);
    const double fraction = time.isValid() ? time.msecsSinceStartOfDay() / 86400000.0 : 0.0;
    // Before the epoch the day counts backwards while the time of day still counts forwards.
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

// --- pages ------------------------------------------------------------------------------

PageBuilder::PageBuilder(std::uint32_t owner) : m_page(kPageSize, char(0)) {
    m_page[0] = char(PageData);
    m_page[1] = 0x01;
    put32(m_page, 4, owner);
}

PageBuilder PageBuilder::fromBytes(const QByteArray& page) {
    PageBuilder b;
    b.m_page = page;
    b.m_rows = get16(page, 12);
    for (int i = 0; i < b.m_rows; ++i)
        b.m_freeEnd = std::min(b.m_freeEnd, get16(page, kDataPageHeader + 2 * i) & 0x1FFF);
    return b;
}

std::uint32_t PageBuilder::longValueOwner() {
    return std::uint32_t('L') | std::uint32_t('V') << 8 | std::uint32_t('A') << 16 |
           std::uint32_t('L') << 24;
}

bool PageBuilder::fits(int rowLength) const {
    return m_rows < kMaxRowsPerPage && m_freeEnd - rowLength >= kDataPageHeader + 2 * (m_rows + 1);
}

int PageBuilder::add(const QByteArray& row) {
    m_freeEnd -= int(row.size());
    std::memcpy(m_page.data() + m_freeEnd, row.constData(), size_t(row.size()));
    put16(m_page, kDataPageHeader + 2 * m_rows, std::uint16_t(m_freeEnd));
    return m_rows++;
}

const QByteArray& PageBuilder::bytes() {
    put16(m_page, 2, std::uint16_t(m_freeEnd - (kDataPageHeader + 2 * m_rows)));
    put16(m_page, 12, std::uint16_t(m_rows));
    return m_page;
}

std::vector<std::pair<int, QByteArray>> pageRows(const QByteArray& page) {
    std::vector<std::pair<int, QByteArray>> rows;
    const int n = get16(page, 12);
    int end = kPageSize;
    for (int i = 0; i < n && kDataPageHeader + 2 * i + 2 <= kPageSize; ++i) {
        const std::uint16_t entry = get16(page, kDataPageHeader + 2 * i);
        const int start = entry & 0x1FFF;
        // Rows lie from the page's end downwards: each ends where the one before begins.
        if (!(entry & 0xC000) && start < end && start >= kDataPageHeader)
            rows.emplace_back(i, page.mid(start, end - start));
        if (start < end)
            end = start;
    }
    return rows;
}

// --- indexes ----------------------------------------------------------------------------

namespace {

// "General" sort codes of the characters an indexed text may hold here: the codes a character
// adds to the text's codes (a letter's code is the same in either case) and the weight of its
// mark, 0x02 for none. The gaps between the letters' codes belong to letters this table does
// not cover.
constexpr std::uint8_t kNoMark = 0x02;
bool sortCodes(char16_t ch, QByteArray& codes, std::uint8_t& mark) {
    static constexpr std::uint8_t letters[26] = {
        0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
        0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78,
    };
    struct Special {
        char16_t ch;
        std::uint8_t code;
        std::uint8_t second;
        std::uint8_t mark;
    };
    static constexpr Special specials[] = {
        {u' ', 0x07, 0, kNoMark}, {u'#', 0x0C, 0, kNoMark},    {u'$', 0x0E, 0, kNoMark},
        {u'%', 0x10, 0, kNoMark}, {u'&', 0x12, 0, kNoMark},    {u'(', 0x14, 0, kNoMark},
        {u')', 0x16, 0, kNoMark}, {u',', 0x1A, 0, kNoMark},    {u';', 0x22, 0, kNoMark},
        {u'@', 0x26, 0, kNoMark}, {u'_', 0x2B, 0x03, kNoMark}, {u'+', 0x2C, 0, kNoMark},
        {u'=', 0x30, 0, kNoMark}, {u'ä', 0x4A, 0, 0x13},       {u'Ä', 0x4A, 0, 0x13},
        {u'é', 0x51, 0, 0x0E},    {u'É', 0x51, 0, 0x0E},       {u'ö', 0x64, 0, 0x13},
        {u'Ö', 0x64, 0, 0x13},    {u'ß', 0x6B, 0x6B, kNoMark}, {u'ü', 0x6F, 0, 0x13},
        {u'Ü', 0x6F, 0, 0x13},
    };
    mark = kNoMark;
    if (ch >= u'A' && ch <= u'Z')
        ch = char16_t(ch - u'A' + u'a');
    if (ch >= u'a' && ch <= u'z') {
        codes.append(char(letters[ch - u'a']));
        return true;
    }
    if (ch >= u'0' && ch <= u'9') {
        codes.append(char(0x36 + 2 * (ch - u'0')));
        return true;
    }
    for (const Special& s : specials)
        if (s.ch == ch) {
            codes.append(char(s.code));
            if (s.second)
                codes.append(char(s.second));
            mark = s.mark;
            return true;
        }
    return false;
}

constexpr std::uint8_t kKeyValue = 0x7F;
constexpr std::uint8_t kKeyNull = 0x00;

void appendBigEndian(QByteArray& b, std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

bool indexableText(const QString& text) {
    QByteArray codes;
    std::uint8_t mark = 0;
    // A trailing blank would need codes of its own, which this table does not cover.
    return !text.endsWith(u' ') && std::all_of(text.begin(), text.end(), [&](QChar ch) {
        return sortCodes(ch.unicode(), codes, mark);
    });
}

QByteArray indexKey(const Column& column, const QVariant& value) {
    QByteArray key;
    if (value.isNull()) {
        key.append(char(kKeyNull));
        return key;
    }
    key.append(char(kKeyValue));
    switch (column.type) {
    case TypeByte:
        appendBigEndian(key, std::uint32_t(value.toInt()), 1);
        break;
    case TypeInt:
        appendBigEndian(key, std::uint32_t(value.toInt()) ^ 0x8000u, 2);
        break;
    case TypeLong:
        appendBigEndian(key, std::uint32_t(value.toLongLong()) ^ 0x80000000u, 4);
        break;
    case TypeText: {
        // The characters' codes, then after 0x01 the weights of their marks (trailing ones
        // without a mark left out), then 0x00.
        const QString text = value.toString();
        if (!indexableText(text))
            throw ExportError(QStringLiteral("Der Name \"%1\" enthält ein Zeichen, das in "
                                             "Access-Datenbanken hier nicht einsortiert werden "
                                             "kann.")
                                  .arg(text));
        QByteArray marks;
        for (const QChar ch : text) {
            std::uint8_t mark = kNoMark;
            sortCodes(ch.unicode(), key, mark);
            marks.append(char(mark));
        }
        while (marks.endsWith(char(kNoMark)))
            marks.chop(1);
        key.append(char(0x01));
        key += marks;
        key.append(char(0x00));
        break;
    }
    default:
        throw ExportError(QStringLiteral("Ein Index über die Spalte \"%1\" kann hier nicht "
                                         "fortgeschrieben werden.")
                              .arg(column.name));
    }
    return key;
}

std::vector<std::pair<std::uint32_t, QByteArray>>
buildIndexPages(std::vector<IndexEntry> entries, std::uint32_t tdefPage,
                const std::function<std::uint32_t()>& page) {
    constexpr int capacity = kPageSize - kIndexEntriesStart;
    std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
        return a.key != b.key ? a.key < b.key : a.row < b.row;
    });
    // Entries as stored: the key, then the row pointer big-endian (page, then row number).
    std::vector<QByteArray> level;
    level.reserve(entries.size());
    for (const auto& e : entries) {
        QByteArray bytes = e.key;
        appendBigEndian(bytes, e.row, 4);
        if (bytes.size() + 4 > capacity)
            throw ExportError(QStringLiteral("Ein Indexeintrag ist zu lang."));
        level.push_back(bytes);
    }
    std::vector<std::pair<std::uint32_t, QByteArray>> pages;
    bool leaf = true;
    for (;;) {
        // Fill pages of this level in order; an inner page's entries end with the child page.
        std::vector<std::vector<const QByteArray*>> groups(1);
        int used = 0;
        for (const QByteArray& e : level) {
            if (used + int(e.size()) > capacity && !groups.back().empty()) {
                groups.emplace_back();
                used = 0;
            }
            groups.back().push_back(&e);
            used += int(e.size());
        }
        std::vector<std::uint32_t> numbers;
        for (size_t i = 0; i < groups.size(); ++i)
            numbers.push_back(page());
        std::vector<QByteArray> parents;
        std::vector<std::pair<std::uint32_t, QByteArray>> built;
        for (size_t g = 0; g < groups.size(); ++g) {
            QByteArray p(kPageSize, char(0));
            p[0] = char(leaf ? 0x04 : 0x03);
            p[1] = 0x01;
            // The table's definition page, then the neighbours on this level (with four bytes
            // between that stay 0); no tail page and no prefix shared by the entries.
            put32(p, 4, tdefPage);
            put32(p, 12, g > 0 ? numbers[g - 1] : 0);
            put32(p, 16, g + 1 < groups.size() ? numbers[g + 1] : 0);
            int at = kIndexEntriesStart;
            for (const QByteArray* e : groups[g]) {
                std::memcpy(p.data() + at, e->constData(), size_t(e->size()));
                at += int(e->size());
                // Every entry's end is marked; the first entry's start is implied.
                const int bit = at - kIndexEntriesStart;
                p[kIndexMaskStart + bit / 8] =
                    char(std::uint8_t(p.at(kIndexMaskStart + bit / 8)) | (1u << (bit % 8)));
            }
            put16(p, 2, std::uint16_t(kPageSize - at));
            built.emplace_back(numbers[g], p);
            if (!groups[g].empty()) {
                QByteArray parent = *groups[g].back();
                if (!leaf)
                    parent.chop(4); // the child page of the last entry gives way to this page's
                appendBigEndian(parent, numbers[g], 4);
                parents.push_back(parent);
            }
        }
        pages.insert(pages.begin(), built.begin(), built.end());
        if (built.size() == 1)
            return pages;
        level = std::move(parents);
        leaf = false;
    }
}

std::vector<IndexEntry> indexPageEntries(const QByteArray& page) {
    std::vector<IndexEntry> entries;
    int start = kIndexEntriesStart;
    for (int bit = 1;
         kIndexEntriesStart + bit <= kPageSize && kIndexMaskStart + bit / 8 < kIndexEntriesStart;
         ++bit) {
        if (!((std::uint8_t(page.at(kIndexMaskStart + bit / 8)) >> (bit % 8)) & 1))
            continue;
        const int end = kIndexEntriesStart + bit;
        const QByteArray e = page.mid(start, end - start);
        const bool leaf = page.at(0) == 0x04;
        const int pointerAt = int(e.size()) - (leaf ? 4 : 8);
        if (pointerAt >= 0) {
            IndexEntry entry;
            entry.key = e.left(pointerAt);
            entry.row = qFromBigEndian<quint32>(e.constData() + pointerAt);
            if (!leaf)
                entry.child = qFromBigEndian<quint32>(e.constData() + pointerAt + 4);
            entries.push_back(entry);
        }
        start = end;
    }
    return entries;
}

QByteArray emptyUsageMap(int rowLength, std::uint32_t startPage) {
    QByteArray row(rowLength, char(0));
    put32(row, 1, startPage);
    return row;
}

// --- properties -------------------------------------------------------------------------

namespace {

QByteArray ucs2(const QString& s) {
    QByteArray b;
    b.reserve(2 * s.size());
    for (const QChar ch : s)
        append16(b, ch.unicode());
    return b;
}

// A chunk: its length (itself included), its type, its contents.
QByteArray propertyChunk(std::uint16_t type, const QByteArray& contents) {
    QByteArray chunk;
    append32(chunk, std::uint32_t(6 + contents.size()));
    append16(chunk, type);
    return chunk + contents;
}

constexpr std::uint16_t kPropertyNamesChunk = 0x80;
constexpr std::uint16_t kObjectPropertiesChunk = 0x00;
constexpr std::uint16_t kColumnPropertiesChunk = 0x01;

} // namespace

Property textProperty(const QString& name, const QString& text) {
    return {name, TypeText, ucs2(text), false};
}

Property boolProperty(const QString& name, bool value, bool ddl) {
    // True is all bits set, as the engine's Yes/No values are -1.
    return {name, TypeBool, QByteArray(1, value ? char(0xFF) : char(0)), ddl};
}

Property int16Property(const QString& name, std::int16_t value) {
    QByteArray b;
    append16(b, std::uint16_t(value));
    return {name, TypeInt, b, false};
}

QByteArray encodePropertyBlock(const std::vector<PropertySet>& sets) {
    // Every name once in the pool, in the order of first use; values refer to it by index.
    QStringList pool;
    QByteArray names;
    auto nameIndex = [&](const QString& name) {
        qsizetype i = pool.indexOf(name);
        if (i < 0) {
            i = pool.size();
            pool << name;
            const QByteArray n = ucs2(name);
            append16(names, std::uint16_t(n.size()));
            names += n;
        }
        return std::uint16_t(i);
    };
    QByteArray valueChunks;
    for (const PropertySet& set : sets) {
        const QByteArray setName = ucs2(set.name);
        QByteArray contents;
        append32(contents, std::uint32_t(6 + setName.size()));
        append16(contents, std::uint16_t(setName.size()));
        contents += setName;
        for (const Property& p : set.properties) {
            if (p.value.size() > 0xFFFF - 8)
                throw ExportError(
                    QStringLiteral("Die Eigenschaft \"%1\" ist zu lang.").arg(p.name));
            append16(contents, std::uint16_t(8 + p.value.size()));
            contents.append(char(p.ddl ? 1 : 0));
            contents.append(char(p.type));
            append16(contents, nameIndex(p.name));
            append16(contents, std::uint16_t(p.value.size()));
            contents += p.value;
        }
        valueChunks += propertyChunk(
            set.name.isEmpty() ? kObjectPropertiesChunk : kColumnPropertiesChunk, contents);
    }
    return QByteArray("MR2\0", 4) + propertyChunk(kPropertyNamesChunk, names) + valueChunks;
}

// --- rows -------------------------------------------------------------------------------

namespace {

constexpr int kInlineMemoLimit = 256;

[[noreturn]] void doesNotFit(const QVariant& v, const Column& c) {
    throwDoesNotFit(toText(v), columnDefFor(c));
}

void setBit(QByteArray& mask, int bit) {
    mask[bit / 8] = char(std::uint8_t(mask.at(bit / 8)) | (1u << (bit % 8)));
}

QByteArray inlineLongValue(const QByteArray& bytes) {
    QByteArray ref(12, char(0));
    put32(ref, 0, std::uint32_t(bytes.size()) | kLongValueInline);
    return ref + bytes;
}

} // namespace

QByteArray encodeRow(const TableDef& def, const std::vector<QVariant>& values,
                     const LongValueStore& store) {
    checkRowWidth(values.size(), def.columns.size());
    const int columnCount = int(def.columns.size());
    const int variables = def.variableCount();
    QByteArray nullMask((columnCount + 7) / 8, char(0));
    QByteArray fixed(def.fixedAreaSize(), char(0));
    std::vector<QByteArray> var(static_cast<size_t>(variables));
    std::vector<int> memoColumns;

    for (int i = 0; i < columnCount; ++i) {
        const Column& c = def.columns[size_t(i)];
        const QVariant& v = values[size_t(i)];
        if (isNull(v))
            continue;
        const ColumnDef cd = columnDefFor(c);
        char* slot = fixed.data() + c.fixedOffset;
        switch (c.type) {
        case TypeBool:
            // The mask bit is the value: a Yes/No column has no null.
            if (toBool(v, cd))
                setBit(nullMask, c.number);
            continue;
        case TypeByte:
        case TypeInt:
        case TypeLong: {
            const qint64 x = toInteger(v, cd);
            const int bits = c.type == TypeLong ? 32 : c.type == TypeInt ? 16 : 8;
            const qint64 lo = bits == 8 ? 0 : -(qint64(1) << (bits - 1));
            const qint64 hi = bits == 8 ? 255 : (qint64(1) << (bits - 1)) - 1;
            if (x < lo || x > hi)
                doesNotFit(v, c);
            if (bits == 32)
                qToLittleEndian<qint32>(qint32(x), slot);
            else if (bits == 16)
                qToLittleEndian<qint16>(qint16(x), slot);
            else
                *slot = char(x);
            break;
        }
        case TypeFloat:
            qToLittleEndian<float>(float(toDouble(v, cd)), slot);
            break;
        case TypeDouble:
            qToLittleEndian<double>(toDouble(v, cd), slot);
            break;
        case TypeMoney: {
            const double x = toDouble(v, cd) * 10000.0;
            if (!std::isfinite(x) || std::fabs(x) >= 9.2e18)
                doesNotFit(v, c);
            qToLittleEndian<qint64>(std::llround(x), slot);
            break;
        }
        case TypeDateTime: {
            double d = 0;
            if (c.source == ColumnType::Date)
                d = oleDate(toDate(v, cd), QTime(0, 0));
            else if (c.source == ColumnType::Time)
                d = oleDate(QDate(1899, 12, 30), toTime(v, cd));
            else {
                const QDateTime dt = toDateTime(v, cd);
                d = oleDate(dt.date(), dt.time());
            }
            qToLittleEndian<double>(d, slot);
            break;
        }
        case TypeText: {
            const QString s = toText(v);
            if (s.size() > c.length / 2)
                doesNotFit(v, c);
            var[size_t(c.varIndex)] = encodeText(s, c.compressed);
            break;
        }
        case TypeMemo: {
            const QString s = toText(v);
            var[size_t(c.varIndex)] =
                encodeText(s, c.compressed && s.size() <= kMaxCompressedMemoChars);
            memoColumns.push_back(i);
            break;
        }
        case TypeBinary:
            // Owners and security ids of the system tables: bytes kept as they are.
            if (v.toByteArray().size() > c.length)
                doesNotFit(v, c);
            var[size_t(c.varIndex)] = v.toByteArray();
            break;
        case TypeOle:
            // Property blocks of the catalog: a long value like a memo, without text encoding.
            var[size_t(c.varIndex)] = v.toByteArray();
            memoColumns.push_back(i);
            break;
        default:
            // Other columns of system tables are never filled.
            continue;
        }
        setBit(nullMask, c.number);
    }

    // Memos stay in the row when they are short and the row has room; the others go to long
    // value pages and leave a 12-byte reference.
    int size = 2 + int(fixed.size()) + int(nullMask.size());
    if (variables > 0)
        size += 2 + 2 * variables + 2;
    for (int i = 0; i < columnCount; ++i) {
        const Column& c = def.columns[size_t(i)];
        if (!c.isFixed())
            size += (c.type == TypeMemo || c.type == TypeOle) && !var[size_t(c.varIndex)].isNull()
                        ? 12
                        : int(var[size_t(c.varIndex)].size());
    }
    if (size > kMaxRowSize)
        throw ExportError(QStringLiteral("Ein Datensatz ist mit %1 Bytes zu groß für eine "
                                         "Access-Tabelle (höchstens %2 Bytes ohne Memos).")
                              .arg(size)
                              .arg(kMaxRowSize));
    for (int i : memoColumns) {
        QByteArray& bytes = var[size_t(def.columns[size_t(i)].varIndex)];
        if (bytes.size() <= kInlineMemoLimit && size + bytes.size() <= kMaxRowSize) {
            size += int(bytes.size());
            bytes = inlineLongValue(bytes);
        } else {
            bytes = store(bytes);
        }
    }

    QByteArray row;
    row.reserve(size);
    append16(row, std::uint16_t(columnCount));
    row += fixed;
    if (variables > 0) {
        std::vector<std::uint16_t> offsets(static_cast<size_t>(variables));
        for (int k = 0; k < variables; ++k) {
            offsets[size_t(k)] = std::uint16_t(row.size());
            row += var[size_t(k)];
        }
        append16(row, std::uint16_t(row.size())); // end of the variable data
        for (int k = variables - 1; k >= 0; --k)
            append16(row, offsets[size_t(k)]);
        append16(row, std::uint16_t(variables));
    }
    row += nullMask;
    return row;
}

std::vector<QVariant> decodeRow(const TableDef& def, const QByteArray& row) {
    const int columnCount = int(def.columns.size());
    std::vector<QVariant> values(static_cast<size_t>(columnCount));
    if (row.size() < 2)
        return values;
    const int rowColumns = get16(row, 0);
    const int maskSize = (rowColumns + 7) / 8;
    const int maskStart = int(row.size()) - maskSize;
    if (maskStart < 2)
        return values;
    auto bit = [&](int n) {
        return n < rowColumns && (std::uint8_t(row.at(maskStart + n / 8)) >> (n % 8)) & 1;
    };
    int variables = 0;
    if (def.variableCount() > 0 && maskStart >= 4)
        variables = get16(row, maskStart - 2);
    auto varBytes = [&](int index) -> QByteArray {
        if (index >= variables)
            return {};
        const int tableEnd = maskStart - 2;
        const int start = get16(row, tableEnd - 2 * (index + 1));
        const int end = index + 1 < variables ? get16(row, tableEnd - 2 * (index + 2))
                                              : get16(row, tableEnd - 2 * (variables + 1));
        if (start < 0 || end > row.size() || start > end)
            return {};
        return row.mid(start, end - start);
    };
    for (int i = 0; i < columnCount; ++i) {
        const Column& c = def.columns[size_t(i)];
        if (c.type == TypeBool) {
            values[size_t(i)] = bool(bit(c.number));
            continue;
        }
        if (!bit(c.number))
            continue;
        const int at = 2 + c.fixedOffset;
        auto fixedOk = [&](int n) { return at + n <= maskStart; };
        switch (c.type) {
        case TypeByte:
            if (fixedOk(1))
                values[size_t(i)] = int(std::uint8_t(row.at(at)));
            break;
        case TypeInt:
            if (fixedOk(2))
                values[size_t(i)] = int(qFromLittleEndian<qint16>(row.constData() + at));
            break;
        case TypeLong:
            if (fixedOk(4))
                values[size_t(i)] = int(qFromLittleEndian<qint32>(row.constData() + at));
            break;
        case TypeDouble:
        case TypeDateTime:
            if (fixedOk(8))
                values[size_t(i)] = qFromLittleEndian<double>(row.constData() + at);
            break;
        case TypeMoney:
            if (fixedOk(8))
                values[size_t(i)] = double(qFromLittleEndian<qint64>(row.constData() + at)) / 1e4;
            break;
        case TypeText:
            values[size_t(i)] = decodeText(varBytes(c.varIndex));
            break;
        default:
            break;
        }
    }
    return values;
}

} // namespace exportfile::jet4
