#include "export/xlswriter.h"

#include "export/compoundfile.h"
#include "export/fileio.h"
#include "export/values.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtEndian>
#include <cstring>
#include <functional>
#include <utility>

namespace exportfile {

namespace {

// Little-endian record data.
class Bytes {
public:
    Bytes& u8(int v) {
        m_b.append(char(v & 0xFF));
        return *this;
    }
    Bytes& u16(quint32 v) {
        char b[2];
        qToLittleEndian<quint16>(quint16(v), b);
        m_b.append(b, 2);
        return *this;
    }
    Bytes& u32(quint32 v) {
        char b[4];
        qToLittleEndian<quint32>(v, b);
        m_b.append(b, 4);
        return *this;
    }
    Bytes& f64(double v) {
        char b[8];
        qToLittleEndian<double>(v, b);
        m_b.append(b, 8);
        return *this;
    }
    Bytes& raw(QByteArrayView b) {
        m_b.append(b);
        return *this;
    }
    Bytes& raw(std::string_view b) {
        m_b.append(b.data(), qsizetype(b.size()));
        return *this;
    }
    Bytes& utf16(const QString& s) {
        for (const QChar c : s)
            u16(c.unicode());
        return *this;
    }
    Bytes& latin1(const QString& s) {
        for (const QChar c : s)
            u8(c.unicode());
        return *this;
    }
    const QByteArray& data() const { return m_b; }
    int size() const { return int(m_b.size()); }

private:
    QByteArray m_b;
};

constexpr int maxRecordData = 8224;

// Cell records are collected up to this size before they go to the cell file.
constexpr qsizetype kCellBufferBytes = 256 * 1024;

void record(QByteArray& out, quint16 id, const QByteArray& data) {
    char h[4];
    qToLittleEndian<quint16>(id, h);
    qToLittleEndian<quint16>(quint16(data.size()), h + 2);
    out.append(h, 4);
    out.append(data);
}

bool isLatin1(QStringView s) {
    for (const QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

// The text of an error of a temporary file the writer keeps the cells or texts of path in.
QString tempFileError(const QString& path, const char* what, const char* failed,
                      const QFileDevice& file) {
    return QStringLiteral("Die temporäre Datei für die %1 von \"%2\" kann nicht %3 werden: %4")
        .arg(QLatin1String(what), QDir::toNativeSeparators(path), QLatin1String(failed),
             file.errorString());
}

// A temporary file in the temp folder, open for reading and writing.
std::unique_ptr<QTemporaryFile> openTempFile(const QString& path, const char* what) {
    auto file =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/tarnwick-xls-XXXXXX"));
    if (!file->open())
        throw ExportError(tempFileError(path, what, "angelegt", *file));
    return file;
}

size_t hashOf(std::string_view entry) {
    return std::hash<std::string_view>{}(entry);
}

// Cell formats, in the order their XF records are written after the style XFs.
enum CellXf { XfGeneral, XfDate, XfDateTime, XfTime, XfHeader };

const char* const dateFormats[3] = {"yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "hh:mm:ss"};

} // namespace

std::string_view SharedStringTable::entry(quint32 index) const {
    const qint64 begin = m_offsets[index];
    const std::string& block = m_blocks[size_t(begin / kBlockBytes)];
    const qint64 blockStart = begin - begin % kBlockBytes;
    // A text ends where the next one starts in the same block, else at the block's end.
    const qint64 end = index + 1 < size() && m_offsets[index + 1] - blockStart < kBlockBytes
                           ? m_offsets[index + 1]
                           : blockStart + qint64(block.size());
    return std::string_view(block).substr(size_t(begin - blockStart), size_t(end - begin));
}

std::string_view SharedStringTable::chars(quint32 index) const {
    return entry(index).substr(1);
}

// The slot that holds entry, or the empty slot where it belongs.
size_t SharedStringTable::slotOf(std::string_view e) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = hashOf(e) & mask;; slot = (slot + 1) & mask) {
        const quint32 v = m_slots[slot];
        if (v == 0 || entry(v - 1) == e)
            return slot;
    }
}

void SharedStringTable::rehash(size_t slotCount) {
    m_slots.assign(slotCount, 0);
    const size_t mask = slotCount - 1;
    for (quint32 i = 0; i < size(); ++i) {
        size_t slot = hashOf(entry(i)) & mask;
        while (m_slots[slot] != 0)
            slot = (slot + 1) & mask;
        m_slots[slot] = i + 1;
    }
}

quint32 SharedStringTable::add(QStringView text) {
    const bool isWide = !isLatin1(text);
    m_key.clear();
    m_key.reserve(1 + size_t(text.size()) * (isWide ? 2 : 1));
    m_key.push_back(isWide ? 1 : 0);
    for (const QChar ch : text) {
        m_key.push_back(char(ch.unicode() & 0xFF));
        if (isWide)
            m_key.push_back(char(ch.unicode() >> 8));
    }
    // At most three quarters of the slots are in use, so a probe always meets an empty one.
    if ((size_t(size()) + 1) * 4 > m_slots.size() * 3)
        rehash(std::max<size_t>(1024, m_slots.size() * 2));
    const size_t slot = slotOf(m_key);
    if (m_slots[slot] != 0)
        return m_slots[slot] - 1;
    // Blocks are filled but never grown, so no text is copied when the table grows.
    if (m_blocks.empty() || m_blocks.back().size() + m_key.size() > size_t(kBlockBytes)) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(size_t(kBlockBytes));
    }
    m_offsets.push_back(qint64(m_blocks.size() - 1) * kBlockBytes + qint64(m_blocks.back().size()));
    m_blocks.back().append(m_key);
    m_slots[slot] = size();
    return size() - 1;
}

void SharedStringTable::truncate(quint32 count) {
    // Emptying the slots of the newest texts first gives back the index as it was before
    // they were added: no later text was placed past them in a probe sequence.
    for (quint32 i = size(); i > count; --i)
        m_slots[slotOf(entry(i - 1))] = 0;
    if (count < size()) {
        const qint64 begin = m_offsets[count];
        m_blocks.resize(size_t(begin / kBlockBytes) + 1);
        m_blocks.back().resize(size_t(begin % kBlockBytes));
        m_offsets.resize(count);
    }
}

BiffVersion biffVersion(FileFormat format) {
    switch (format) {
    case FileFormat::Excel3:
        return BiffVersion::Biff3;
    case FileFormat::Excel4:
        return BiffVersion::Biff4;
    case FileFormat::Excel5:
        return BiffVersion::Biff5;
    default:
        return BiffVersion::Biff8;
    }
}

int sheetRowLimit(BiffVersion version) {
    return version == BiffVersion::Biff8 ? 65536 : 16384;
}

bool excelSerialDate(const QDate& date, double& serial) {
    static const QDate epoch(1899, 12, 30);
    if (!date.isValid() || date < QDate(1900, 1, 1))
        return false;
    qint64 days = epoch.daysTo(date);
    // The 1900 system counts a 29 February 1900 that never was: earlier dates are one less.
    if (date < QDate(1900, 3, 1))
        --days;
    serial = double(days);
    return true;
}

QString sheetNameFor(const QString& tableName, int sheetNumber) {
    QString base = tableName;
    static const QRegularExpression ext(QStringLiteral(R"(\.xls$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    base.remove(ext);
    static const QRegularExpression bad(QStringLiteral(R"([\[\]:*?/\\])"));
    base.replace(bad, QStringLiteral("_"));
    base = base.trimmed();
    if (base.startsWith(u'\''))
        base[0] = u'_';
    if (base.isEmpty())
        base = QStringLiteral("Tabelle");
    const QString suffix = sheetNumber > 1 ? QStringLiteral(" (%1)").arg(sheetNumber) : QString();
    return base.left(31 - suffix.size()) + suffix;
}

XlsWriter::XlsWriter(BiffVersion version, const TableSchema& schema, const QString& path)
    : m_version(version), m_schema(schema), m_path(path) {
    if (schema.columns.size() > 256)
        throw ExportError(
            QStringLiteral("Die Tabelle hat %1 Felder; ein Arbeitsblatt hat höchstens 256 Spalten.")
                .arg(schema.columns.size()));
    m_cellFile = openTempFile(path, "Zellen");
    m_cellBuffer.reserve(kCellBufferBytes);
    startSheet();
    writeFile();
}

XlsWriter::~XlsWriter() {
    try {
        finish();
    } catch (...) {
        // The rows written so far stay in the file from the last successful write.
    }
}

int XlsWriter::xfIndex(int cellXf) const {
    // Workbooks start with 15 style XFs, the worksheet files with one.
    return m_version >= BiffVersion::Biff5 ? 15 + cellXf : 1 + cellXf;
}

void XlsWriter::startSheet() {
    Sheet s;
    s.name = sheetNameFor(m_schema.tableName, int(m_sheets.size()) + 1);
    s.cellStart = m_cellFileSize + m_cellBuffer.size();
    QByteArray header;
    for (size_t c = 0; c < m_schema.columns.size(); ++c)
        addText(header, 0, int(c), xfIndex(XfHeader), m_schema.columns[c].name, nullptr);
    s.rows = 1;
    m_sheets.push_back(std::move(s));
    appendCells(header);
}

void XlsWriter::appendCells(const QByteArray& cells) {
    m_cellBuffer.append(cells);
    m_sheets.back().cellBytes += cells.size();
    if (m_cellBuffer.size() >= kCellBufferBytes)
        flushCells();
}

void XlsWriter::flushCells() {
    if (!m_cellFileError.isEmpty())
        throw ExportError(m_cellFileError);
    if (m_cellBuffer.isEmpty())
        return;
    // Reading a sheet back for the file moves the position; cells are always appended.
    if (!m_cellFile->seek(m_cellFileSize) ||
        m_cellFile->write(m_cellBuffer) != m_cellBuffer.size() || !m_cellFile->flush()) {
        m_cellFileError = tempFileError(m_path, "Zellen", "geschrieben", *m_cellFile);
        throw ExportError(m_cellFileError);
    }
    m_cellFileSize += m_cellBuffer.size();
    m_cellBuffer.clear();
}

void XlsWriter::addText(QByteArray& out, int row, int col, int xf, const QString& text,
                        const ColumnDef* column) {
    const int limit = m_version == BiffVersion::Biff8 ? 32767 : 255;
    if (text.size() > limit) {
        if (!column)
            throw ExportError(
                QStringLiteral("Der Feldname \"%1\" ist zu lang für eine Zelle.").arg(text));
        throw ExportError(QStringLiteral("Der Text im Feld \"%1\" ist %2 Zeichen lang; eine Zelle "
                                         "dieses Formats fasst höchstens %3.")
                              .arg(column->name)
                              .arg(text.size())
                              .arg(limit));
    }
    Bytes cell;
    cell.u16(quint32(row)).u16(quint32(col)).u16(quint32(xf));
    if (m_version == BiffVersion::Biff8) {
        ++m_sstTotal;
        cell.u32(m_sst.add(text));
        record(out, 0x00FD, cell.data());
    } else {
        const QByteArray bytes = toCp1252(text);
        cell.u16(quint32(bytes.size())).raw(bytes);
        record(out, 0x0204, cell.data());
    }
}

void XlsWriter::addNumber(QByteArray& out, int row, int col, int xf, double value) {
    Bytes cell;
    cell.u16(quint32(row)).u16(quint32(col)).u16(quint32(xf)).f64(value);
    record(out, 0x0203, cell.data());
}

void XlsWriter::addBool(QByteArray& out, int row, int col, int xf, bool value) {
    Bytes cell;
    cell.u16(quint32(row)).u16(quint32(col)).u16(quint32(xf)).u8(value ? 1 : 0).u8(0);
    record(out, 0x0205, cell.data());
}

void XlsWriter::appendRow(const std::vector<QVariant>& values) {
    checkRowWidth(values.size(), m_schema.columns.size());
    if (!m_cellFileError.isEmpty())
        throw ExportError(m_cellFileError);
    if (m_sheets.back().rows >= sheetRowLimit(m_version)) {
        if (m_version == BiffVersion::Biff3 || m_version == BiffVersion::Biff4)
            throw ExportError(
                QStringLiteral(
                    "Ein Arbeitsblatt dieses Formats fasst höchstens %1 Zeilen (%2 Datensätze "
                    "und die Kopfzeile); das Ergebnis hat mehr Datensätze.")
                    .arg(sheetRowLimit(m_version))
                    .arg(sheetRowLimit(m_version) - 1));
        startSheet();
    }
    // Cells are first built apart, so a value that fails leaves the sheet as it was.
    Sheet& sheet = m_sheets.back();
    QByteArray row;
    const quint32 sstBefore = m_sstTotal;
    const quint32 uniqueBefore = m_sst.size();
    const int r = sheet.rows;
    try {
        for (size_t c = 0; c < values.size(); ++c) {
            const QVariant& v = values[c];
            const ColumnDef& col = m_schema.columns[c];
            if (isNull(v))
                continue;
            const int ci = int(c);
            double serial = 0;
            switch (col.type) {
            case ColumnType::Integer:
                addNumber(row, r, ci, xfIndex(XfGeneral), double(toInteger(v, col)));
                break;
            case ColumnType::Float:
            case ColumnType::Numeric:
                addNumber(row, r, ci, xfIndex(XfGeneral), toDouble(v, col));
                break;
            case ColumnType::Bit:
                addBool(row, r, ci, xfIndex(XfGeneral), toBool(v, col));
                break;
            case ColumnType::Date: {
                const QDate d = toDate(v, col);
                if (excelSerialDate(d, serial))
                    addNumber(row, r, ci, xfIndex(XfDate), serial);
                else // before 1900 a sheet has no date: kept as ISO text
                    addText(row, r, ci, xfIndex(XfGeneral), isoDate(d), &col);
                break;
            }
            case ColumnType::DateTime:
            case ColumnType::Timestamp: {
                const QDateTime dt = toDateTime(v, col);
                if (excelSerialDate(dt.date(), serial))
                    addNumber(row, r, ci, xfIndex(XfDateTime),
                              serial + dt.time().msecsSinceStartOfDay() / 86400000.0);
                else
                    addText(row, r, ci, xfIndex(XfGeneral), isoDateTime(dt), &col);
                break;
            }
            case ColumnType::Time:
                addNumber(row, r, ci, xfIndex(XfTime),
                          toTime(v, col).msecsSinceStartOfDay() / 86400000.0);
                break;
            case ColumnType::Char:
            case ColumnType::Memo:
                addText(row, r, ci, xfIndex(XfGeneral), toText(v), &col);
                break;
            }
        }
    } catch (...) {
        // Forget strings that only the failed row used.
        m_sst.truncate(uniqueBefore);
        m_sstTotal = sstBefore;
        throw;
    }
    ++sheet.rows;
    ++m_rows;
    m_dirty = true;
    appendCells(row);
}

QByteArray XlsWriter::writeSharedStrings(QFileDevice& device, qint64 globalsOffset) const {
    // The records go to the device in pieces; only the index record (EXTSST) is returned.
    QByteArray out;
    qint64 written = 0;
    auto writeOut = [&] {
        if (device.write(out) != out.size())
            throw ExportError(tempFileError(m_path, "Texte", "geschrieben", device));
        written += out.size();
        out.clear();
    };
    Bytes cur;
    quint16 id = 0x00FC;
    cur.u32(m_sstTotal).u32(m_sst.size());
    const quint32 perBucket = std::max<quint32>(8, m_sst.size() / 1000 + 1);
    Bytes ext;
    ext.u16(perBucket);
    auto flush = [&] {
        record(out, id, cur.data());
        cur = Bytes();
        id = 0x003C; // CONTINUE
        if (out.size() >= 64 * 1024)
            writeOut();
    };
    for (quint32 i = 0; i < m_sst.size(); ++i) {
        const bool wide = m_sst.wide(i);
        const std::string_view chars = m_sst.chars(i);
        const int charBytes = wide ? 2 : 1;
        const qsizetype length = qsizetype(chars.size()) / charBytes;
        // The string's header and its first character must share a record.
        if (cur.size() + 3 + (length == 0 ? 0 : charBytes) > maxRecordData)
            flush();
        if (i % perBucket == 0)
            ext.u32(quint32(globalsOffset + written + out.size() + 4 + cur.size()))
                .u16(quint32(4 + cur.size()))
                .u16(0);
        cur.u16(quint32(length)).u8(wide ? 1 : 0);
        qsizetype pos = 0;
        while (pos < length) {
            qsizetype room = (maxRecordData - cur.size()) / charBytes;
            if (room <= 0) {
                flush();
                cur.u8(wide ? 1 : 0); // a continued string repeats its option flags
                room = (maxRecordData - 1) / charBytes;
            }
            const qsizetype n = std::min(room, length - pos);
            cur.raw(chars.substr(size_t(pos * charBytes), size_t(n * charBytes)));
            pos += n;
        }
    }
    flush();
    writeOut();
    QByteArray index;
    record(index, 0x00FF, ext.data());
    return index;
}

QByteArray XlsWriter::globals(const std::vector<int>& sheetOffsets) const {
    const bool b8 = m_version == BiffVersion::Biff8;
    QByteArray out;
    Bytes bof;
    bof.u16(b8 ? 0x0600 : 0x0500).u16(0x0005).u16(b8 ? 0x0DBB : 0x096C).u16(b8 ? 0x07CC : 0x07C9);
    if (b8)
        bof.u32(0).u32(6);
    record(out, 0x0809, bof.data());
    record(out, 0x0042, Bytes().u16(b8 ? 1200 : 1252).data());
    record(out, 0x003D,
           Bytes()
               .u16(0)
               .u16(0)
               .u16(0x3000)
               .u16(0x1E00)
               .u16(0x0038)
               .u16(0)
               .u16(0)
               .u16(1)
               .u16(600)
               .data());
    record(out, 0x0022, Bytes().u16(0).data()); // 1900 date system
    // Fonts 0 to 3 regular and, as index 4 does not exist in these versions, font 5 bold.
    for (int i = 0; i < 5; ++i) {
        Bytes f;
        f.u16(200).u16(0).u16(0x7FFF).u16(i == 4 ? 700 : 400).u16(0).u8(0).u8(0).u8(0).u8(0);
        f.u8(5);
        if (b8)
            f.u8(0);
        f.latin1(QStringLiteral("Arial"));
        record(out, 0x0031, f.data());
    }
    for (int i = 0; i < 3; ++i) {
        const QString fmt = QString::fromLatin1(dateFormats[i]);
        Bytes f;
        f.u16(quint32(164 + i));
        if (b8)
            f.u16(quint32(fmt.size())).u8(0);
        else
            f.u8(fmt.size());
        f.latin1(fmt);
        record(out, 0x041E, f.data());
    }
    // 15 style XFs (the first is the Normal style), then the cell XFs.
    auto xf = [&](int font, int format, bool style, int used) {
        Bytes x;
        x.u16(quint32(font)).u16(quint32(format)).u16(style ? 0xFFF5 : 0x0001);
        if (b8)
            x.u8(0x20).u8(0).u8(0).u8(used).u32(0).u32(0).u16(0x20C0);
        else
            x.u8(0x20).u8(used).u32(0x20C0).u32(0);
        record(out, 0x00E0, x.data());
    };
    for (int i = 0; i < 15; ++i)
        xf(0, 0, true, i == 0 ? 0 : 0xF4);
    xf(0, 0, false, 0);      // general
    xf(0, 164, false, 0x04); // date
    xf(0, 165, false, 0x04); // date and time
    xf(0, 166, false, 0x04); // time
    xf(5, 0, false, 0x08);   // header row, bold
    record(out, 0x0293, Bytes().u16(0x8000).u8(0).u8(0xFF).data());
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        Bytes bs;
        bs.u32(quint32(sheetOffsets.empty() ? 0 : sheetOffsets[i])).u8(0).u8(0);
        const QString& name = m_sheets[i].name;
        if (b8)
            bs.u8(name.size()).u8(1).utf16(name);
        else {
            const QByteArray n = toCp1252(name);
            bs.u8(int(n.size())).raw(n);
        }
        record(out, 0x0085, bs.data());
    }
    return out;
}

XlsWriter::SheetFrame XlsWriter::sheetFrame(const Sheet& s, bool first) const {
    SheetFrame frame;
    QByteArray out;
    const int cols = int(m_schema.columns.size());
    auto window2 = [&](bool wide) {
        Bytes w;
        w.u16(first ? 0x06B6 : 0x00B6).u16(0).u16(0);
        if (wide)
            w.u16(0x40).u16(0).u16(0).u16(0).u32(0);
        else
            w.u32(0);
        return w.data();
    };
    if (m_version == BiffVersion::Biff8) {
        record(out, 0x0809,
               Bytes().u16(0x0600).u16(0x0010).u16(0x0DBB).u16(0x07CC).u32(0).u32(6).data());
        record(out, 0x0200,
               Bytes().u32(0).u32(quint32(s.rows)).u16(0).u16(quint32(cols)).u16(0).data());
        frame.head = std::exchange(out, QByteArray()); // the cells follow
        record(out, 0x023E, window2(true));
    } else if (m_version == BiffVersion::Biff5) {
        record(out, 0x0809, Bytes().u16(0x0500).u16(0x0010).u16(0x096C).u16(0x07C9).data());
        record(out, 0x0200,
               Bytes().u16(0).u16(quint32(s.rows)).u16(0).u16(quint32(cols)).u16(0).data());
        frame.head = std::exchange(out, QByteArray()); // the cells follow
        record(out, 0x023E, window2(false));
    } else {
        // A BIFF3/BIFF4 worksheet file carries its own formatting records.
        const bool b4 = m_version == BiffVersion::Biff4;
        record(out, b4 ? 0x0409 : 0x0209, Bytes().u16(0).u16(0x0010).u16(0).data());
        record(out, 0x0042, Bytes().u16(1252).data());
        record(out, 0x0022, Bytes().u16(0).data());
        for (int bold = 0; bold < 2; ++bold)
            record(out, 0x0231,
                   Bytes()
                       .u16(200)
                       .u16(bold ? 1 : 0)
                       .u16(0x7FFF)
                       .u8(5)
                       .latin1(QStringLiteral("Arial"))
                       .data());
        // Formats are numbered by their order here: 0 General, then the date formats.
        const QString formats[4] = {QStringLiteral("General"), QString::fromLatin1(dateFormats[0]),
                                    QString::fromLatin1(dateFormats[1]),
                                    QString::fromLatin1(dateFormats[2])};
        for (const QString& f : formats) {
            Bytes fb;
            if (b4)
                fb.u16(0);
            fb.u8(f.size()).latin1(f);
            record(out, b4 ? 0x041E : 0x001E, fb.data());
        }
        // XF 0 is the Normal style; cell XFs follow in CellXf order.
        auto xf = [&](int font, int format, bool style, int used) {
            Bytes x;
            x.u8(font).u8(format);
            if (b4)
                x.u16(style ? 0xFFF5 : 0x0001).u8(0x20).u8(used);
            else
                x.u8(style ? 0x05 : 0x01).u8(used).u16(style ? 0xFFF0 : 0x0000);
            x.u16(0).u32(0);
            record(out, b4 ? 0x0443 : 0x0243, x.data());
        };
        xf(0, 0, true, 0);
        xf(0, 0, false, 0);
        xf(0, 1, false, 0x04);
        xf(0, 2, false, 0x04);
        xf(0, 3, false, 0x04);
        xf(1, 0, false, 0x08);
        record(out, 0x0200,
               Bytes().u16(0).u16(quint32(s.rows)).u16(0).u16(quint32(cols)).u16(0).data());
        frame.head = std::exchange(out, QByteArray()); // the cells follow
        record(out, 0x023E, window2(false));
    }
    record(out, 0x000A, {});
    frame.tail = std::move(out);
    return frame;
}

void XlsWriter::writeFile() {
    flushCells();
    // The sheets' cells are copied from the cell file in chunks, never held in memory whole.
    const bool workbook = m_version != BiffVersion::Biff3 && m_version != BiffVersion::Biff4;
    std::vector<SheetFrame> frames;
    std::vector<int> offsets;
    // The globals are their records up to the shared strings, whose size does not depend on
    // the sheet offsets they list, then the shared strings (BIFF8) from a file of their own,
    // their index and the end record.
    qint64 pos = workbook ? globals({}).size() : 0;
    QByteArray globalsTail;
    qint64 sstBytes = 0;
    if (m_version == BiffVersion::Biff8) {
        if (!m_sstFile)
            m_sstFile = openTempFile(m_path, "Texte");
        if (!m_sstFile->resize(0) || !m_sstFile->seek(0))
            throw ExportError(tempFileError(m_path, "Texte", "geschrieben", *m_sstFile));
        globalsTail = writeSharedStrings(*m_sstFile, pos);
        if (!m_sstFile->flush())
            throw ExportError(tempFileError(m_path, "Texte", "geschrieben", *m_sstFile));
        sstBytes = m_sstFile->pos();
        pos += sstBytes;
    }
    if (workbook) {
        record(globalsTail, 0x000A, {});
        pos += globalsTail.size();
    }
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        frames.push_back(sheetFrame(m_sheets[i], i == 0));
        offsets.push_back(int(pos));
        pos += frames.back().head.size() + m_sheets[i].cellBytes + frames.back().tail.size();
    }
    const QByteArray globalRecords = workbook ? globals(offsets) : QByteArray();
    std::vector<StreamPart> parts;
    if (workbook) {
        parts.emplace_back(globalRecords);
        if (m_sstFile)
            parts.emplace_back(m_sstFile.get(), 0, sstBytes);
        parts.emplace_back(globalsTail);
    }
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        parts.emplace_back(frames[i].head);
        parts.emplace_back(m_cellFile.get(), m_sheets[i].cellStart, m_sheets[i].cellBytes);
        parts.emplace_back(frames[i].tail);
    }
    QFile file(m_path);
    openForWriting(file);
    const bool written =
        workbook ? writeCompoundFile(file,
                                     m_version == BiffVersion::Biff8 ? QStringLiteral("Workbook")
                                                                     : QStringLiteral("Book"),
                                     parts)
                 : writeStreamParts(file, parts);
    if (!written) {
        if (m_cellFile->error() != QFileDevice::NoError)
            throw ExportError(tempFileError(m_path, "Zellen", "gelesen", *m_cellFile));
        if (m_sstFile && m_sstFile->error() != QFileDevice::NoError)
            throw ExportError(tempFileError(m_path, "Texte", "gelesen", *m_sstFile));
        throwWriteError(file);
    }
    flushFile(file);
    m_dirty = false;
}

void XlsWriter::finish() {
    if (m_dirty)
        writeFile();
}

} // namespace exportfile
