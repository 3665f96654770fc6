#include "export/dbfwriter.h"

#include "export/fileio.h"
#include "export/values.h"

#include <QFileInfo>
#include <QtEndian>
#include <cmath>
#include <cstring>

namespace exportfile {

namespace {

constexpr char codePageMark1252 = 0x03;
constexpr int vfpBacklinkSize = 263;
// Records are collected up to this size and written in one piece.
constexpr qsizetype kPendingBytes = 1 << 20;

// Right-aligned number text in a field of the given width; throws when it does not fit.
QByteArray fitNumber(const QString& text, const ColumnDef& column, int width) {
    if (text.size() > width)
        throwDoesNotFit(text, column);
    return text.rightJustified(width, u' ').toLatin1();
}

// A double in a fixed-width numeric field: fixed decimals where that keeps the value,
// otherwise scientific notation with as many digits as the width allows (xBase readers
// parse both). Values too large for even that raise an error.
QByteArray floatField(double d, const ColumnDef& column, int width, int decimals) {
    if (!std::isfinite(d))
        throwDoesNotFit(numberText(d), column);
    const QString fixed = QString::number(d, 'f', decimals);
    const double a = std::fabs(d);
    if (fixed.size() <= width && (a == 0 || a >= 1e-4))
        return fixed.rightJustified(width, u' ').toLatin1();
    const int digits = width - 7 - (d < 0 ? 1 : 0) - (a >= 1e100 || (a > 0 && a < 1e-99) ? 1 : 0);
    return fitNumber(QString::number(d, 'E', std::max(digits, 0)), column, width);
}

} // namespace

// Memo files: a header block, then each memo in whole blocks.
class MemoFileWriter {
public:
    MemoFileWriter(DbfFlavor flavor, const QString& path, const QString& tableBase)
        : m_flavor(flavor), m_file(path) {
        m_blockSize = flavor == DbfFlavor::FoxPro2 || flavor == DbfFlavor::VisualFoxPro ? 64 : 512;
        m_nextBlock = 512 / m_blockSize;
        openForWriting(m_file, QIODevice::ReadWrite);
        QByteArray head(512, '\0');
        if (m_flavor == DbfFlavor::DBase4) {
            const QByteArray base = toCp1252(tableBase).left(8);
            std::memcpy(head.data() + 8, base.constData(), base.size());
            qToLittleEndian<quint16>(m_blockSize, head.data() + 20);
        } else if (m_flavor == DbfFlavor::DBase3) {
            head[16] = 0x03;
        }
        writeBytes(m_file, head);
        writeNextBlock();
    }

    // Stores one memo and returns its first block.
    quint32 add(const QByteArray& text) {
        QByteArray block;
        switch (m_flavor) {
        case DbfFlavor::DBase3:
            block = text + "\x1a\x1a";
            break;
        case DbfFlavor::DBase4:
            block.resize(8);
            block[0] = char(0xFF);
            block[1] = char(0xFF);
            block[2] = 0x08;
            block[3] = 0x00;
            qToLittleEndian<quint32>(quint32(text.size() + 8), block.data() + 4);
            block += text;
            break;
        case DbfFlavor::FoxPro2:
        case DbfFlavor::VisualFoxPro:
            block.resize(8);
            qToBigEndian<quint32>(1, block.data()); // 1: text
            qToBigEndian<quint32>(quint32(text.size()), block.data() + 4);
            block += text;
            break;
        }
        const qint64 blocks = (block.size() + m_blockSize - 1) / m_blockSize;
        block.append(QByteArray(int(blocks * m_blockSize - block.size()), '\0'));
        if (qint64(m_nextBlock) + blocks > 0xFFFFFFFFLL)
            throw ExportError(
                QStringLiteral("Die Memodatei \"%1\" ist voll.").arg(m_file.fileName()));
        const quint32 first = m_nextBlock;
        // Seeking flushes the file's buffer: only when the header was written in between.
        if (m_file.pos() != qint64(first) * m_blockSize &&
            !m_file.seek(qint64(first) * m_blockSize))
            throwWriteError(m_file);
        writeBytes(m_file, block);
        m_nextBlock += quint32(blocks);
        return first;
    }

    void finish() {
        writeNextBlock();
        flushFile(m_file);
    }

private:
    void writeNextBlock() {
        char buf[4];
        if (m_flavor == DbfFlavor::FoxPro2 || m_flavor == DbfFlavor::VisualFoxPro) {
            qToBigEndian<quint32>(m_nextBlock, buf);
            char bs[2];
            qToBigEndian<quint16>(m_blockSize, bs);
            if (!m_file.seek(6) || m_file.write(bs, 2) != 2)
                throwWriteError(m_file);
        } else {
            qToLittleEndian<quint32>(m_nextBlock, buf);
        }
        if (!m_file.seek(0) || m_file.write(buf, 4) != 4)
            throwWriteError(m_file);
    }

    DbfFlavor m_flavor;
    QFile m_file;
    quint16 m_blockSize = 512;
    quint32 m_nextBlock = 1;
};

DbfFlavor dbfFlavor(FileFormat format) {
    switch (format) {
    case FileFormat::DBase3:
        return DbfFlavor::DBase3;
    case FileFormat::DBase4:
    case FileFormat::DBase5:
        return DbfFlavor::DBase4;
    case FileFormat::Fox20:
    case FileFormat::Fox25:
    case FileFormat::Fox26:
        return DbfFlavor::FoxPro2;
    case FileFormat::Fox30:
        return DbfFlavor::VisualFoxPro;
    default:
        break;
    }
    throw ExportError(QStringLiteral("Kein xBase-Format."));
}

DbfField dbfFieldFor(const ColumnDef& column, DbfFlavor flavor) {
    DbfField f;
    f.name = toCp1252(column.name).left(10);
    const bool vfp = flavor == DbfFlavor::VisualFoxPro;
    switch (column.type) {
    case ColumnType::Integer:
        // "integer" also receives 64-bit source columns, so the text form gets the full width
        // of a 64-bit number. Visual FoxPro has a native 32-bit integer.
        if (vfp) {
            f.type = 'I';
            f.length = 4;
        } else {
            f.type = 'N';
            f.length = 20;
        }
        break;
    case ColumnType::Float:
        if (vfp) {
            f.type = 'B';
            f.length = 8;
        } else {
            // dBASE III knows only N; later versions have F for floating point.
            f.type = flavor == DbfFlavor::DBase3 ? 'N' : 'F';
            f.length = 20;
            f.decimals = 6;
        }
        break;
    case ColumnType::Numeric:
        if (vfp && column.scale <= 4 && column.precision <= 18) {
            f.type = 'Y'; // currency: 64-bit integer of ten-thousandths
            f.length = 8;
            f.decimals = 4;
        } else {
            f.type = 'N';
            f.length = std::min(column.precision + 2, 20);
            f.decimals = column.scale;
        }
        break;
    case ColumnType::Char:
        f.type = 'C';
        f.length = std::min(column.size, 254);
        break;
    case ColumnType::Memo:
        f.type = 'M';
        f.length = vfp ? 4 : 10;
        break;
    case ColumnType::Bit:
        f.type = 'L';
        f.length = 1;
        break;
    case ColumnType::Date:
        f.type = 'D';
        f.length = 8;
        break;
    case ColumnType::DateTime:
    case ColumnType::Timestamp:
        // Visual FoxPro keeps date and time; the older formats have only D, so the time of
        // day is lost there.
        if (vfp) {
            f.type = 'T';
            f.length = 8;
        } else {
            f.type = 'D';
            f.length = 8;
        }
        break;
    case ColumnType::Time:
        // No xBase version has a time-of-day type: stored as text "hh:mm:ss".
        f.type = 'C';
        f.length = 8;
        break;
    }
    return f;
}

QString DbfWriter::memoPath(DbfFlavor flavor, const QString& path) {
    const bool fox = flavor == DbfFlavor::FoxPro2 || flavor == DbfFlavor::VisualFoxPro;
    return siblingPath(path, fox ? QStringLiteral("fpt") : QStringLiteral("dbt"));
}

DbfWriter::DbfWriter(DbfFlavor flavor, const TableSchema& schema, const QString& path)
    : m_flavor(flavor), m_schema(schema), m_file(path) {
    const bool vfp = flavor == DbfFlavor::VisualFoxPro;
    int offset = 1;
    int nullable = 0;
    for (const auto& column : schema.columns) {
        DbfField f = dbfFieldFor(column, flavor);
        f.offset = offset;
        offset += f.length;
        if (vfp)
            f.nullBit = nullable++; // every column accepts null, as in the source
        m_hasMemo = m_hasMemo || f.type == 'M';
        m_fields.push_back(f);
    }
    if (vfp && nullable > 0) {
        m_nullField.name = "_NullFlags";
        m_nullField.type = '0';
        m_nullField.length = (nullable + 7) / 8;
        m_nullField.offset = offset;
        offset += m_nullField.length;
    }
    m_recordLength = offset;
    std::vector<QByteArray> names;
    for (const auto& f : m_fields)
        names.push_back(f.name);
    checkFieldNames(names);
    const int maxFields = flavor == DbfFlavor::DBase3 ? 128 : 255;
    const int maxRecord = flavor == DbfFlavor::DBase3 ? 4000 : vfp ? 65500 : 32767;
    if (int(m_fields.size()) > maxFields)
        throw ExportError(
            QStringLiteral("Die Tabelle hat %1 Felder; dieses Format erlaubt höchstens %2.")
                .arg(m_fields.size())
                .arg(maxFields));
    if (m_recordLength > maxRecord)
        throw ExportError(
            QStringLiteral("Ein Datensatz wäre %1 Bytes lang; dieses Format erlaubt höchstens %2.")
                .arg(m_recordLength)
                .arg(maxRecord));
    const int fieldCount = int(m_fields.size()) + (m_nullField.length ? 1 : 0);
    m_headerLength = 32 + 32 * fieldCount + 1 + (vfp ? vfpBacklinkSize : 0);

    openForWriting(m_file, QIODevice::ReadWrite);
    if (m_hasMemo)
        m_memo = std::make_unique<MemoFileWriter>(flavor, memoPath(flavor, path),
                                                  QFileInfo(path).completeBaseName());
    writeHeader();
    m_record.resize(m_recordLength);
    m_pending.reserve(kPendingBytes + m_recordLength);
}

DbfWriter::~DbfWriter() {
    try {
        finish();
    } catch (...) {
        // A destructor must not throw; finish() was called already on the normal path.
    }
}

void DbfWriter::writeHeader() {
    QByteArray h(m_headerLength, '\0');
    switch (m_flavor) {
    case DbfFlavor::DBase3:
        h[0] = char(m_hasMemo ? 0x83 : 0x03);
        break;
    case DbfFlavor::DBase4:
        h[0] = char(m_hasMemo ? 0x8B : 0x03);
        break;
    case DbfFlavor::FoxPro2:
        h[0] = char(m_hasMemo ? 0xF5 : 0x03);
        break;
    case DbfFlavor::VisualFoxPro:
        h[0] = 0x30;
        break;
    }
    const QDate today = QDate::currentDate();
    h[1] = char(today.year() - 1900);
    h[2] = char(today.month());
    h[3] = char(today.day());
    qToLittleEndian<quint32>(quint32(m_rows), h.data() + 4);
    qToLittleEndian<quint16>(quint16(m_headerLength), h.data() + 8);
    qToLittleEndian<quint16>(quint16(m_recordLength), h.data() + 10);
    if (m_flavor == DbfFlavor::VisualFoxPro && m_hasMemo)
        h[28] = 0x02; // table has a memo file
    h[29] = codePageMark1252;

    auto put = [&](int index, const DbfField& f, char flags) {
        char* d = h.data() + 32 + 32 * index;
        std::memcpy(d, f.name.constData(), std::min<qsizetype>(f.name.size(), 10));
        d[11] = f.type;
        if (m_flavor == DbfFlavor::VisualFoxPro)
            qToLittleEndian<quint32>(quint32(f.offset), d + 12);
        d[16] = char(f.length);
        d[17] = char(f.decimals);
        d[18] = flags;
    };
    int i = 0;
    for (const auto& f : m_fields) {
        char flags = 0;
        if (m_flavor == DbfFlavor::VisualFoxPro) {
            flags = 0x02; // accepts null
            if (f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' || f.type == 'M')
                flags |= 0x04; // binary
        }
        put(i++, f, flags);
    }
    if (m_nullField.length)
        put(i++, m_nullField, 0x05); // hidden system field, binary
    h[32 + 32 * i] = 0x0D;

    if (!m_file.seek(0))
        throwWriteError(m_file);
    writeBytes(m_file, h);
    // The end-of-file mark follows the last record.
    if (!m_file.seek(m_headerLength + m_rows * m_recordLength))
        throwWriteError(m_file);
    writeBytes(m_file, QByteArray(1, '\x1a'));
}

void DbfWriter::encodeField(int i, const QVariant& v, char* out, QByteArray& nullFlags) {
    const DbfField& f = m_fields[size_t(i)];
    const ColumnDef& column = m_schema.columns[size_t(i)];
    const bool null = isNull(v);
    const bool binary = f.type == 'I' || f.type == 'B' || f.type == 'Y' || f.type == 'T' ||
                        (f.type == 'M' && f.length == 4);
    std::memset(out, binary ? '\0' : ' ', size_t(f.length));
    if (null) {
        if (f.nullBit >= 0)
            nullFlags[f.nullBit / 8] = char(nullFlags[f.nullBit / 8] | (1 << (f.nullBit % 8)));
        else if (f.type == 'L')
            out[0] = '?';
        return;
    }
    QByteArray bytes;
    switch (f.type) {
    case 'C':
        bytes = toCp1252(column.type == ColumnType::Time ? isoTime(toTime(v, column)).left(8)
                                                         : toText(v));
        if (bytes.size() > f.length)
            throwDoesNotFit(toText(v), column);
        std::memcpy(out, bytes.constData(), size_t(bytes.size()));
        return;
    case 'N':
    case 'F':
        if (column.type == ColumnType::Integer)
            bytes = fitNumber(QString::number(toInteger(v, column)), column, f.length);
        else if (column.type == ColumnType::Numeric) {
            const double d = toDouble(v, column);
            if (!std::isfinite(d))
                throwDoesNotFit(toText(v), column);
            bytes = fitNumber(QString::number(d, 'f', f.decimals), column, f.length);
        } else
            bytes = floatField(toDouble(v, column), column, f.length, f.decimals);
        std::memcpy(out, bytes.constData(), size_t(f.length));
        return;
    case 'L':
        out[0] = toBool(v, column) ? 'T' : 'F';
        return;
    case 'D': {
        const QDate d = toDate(v, column);
        if (d.year() < 1 || d.year() > 9999)
            throwDoesNotFit(toText(v), column);
        bytes = d.toString(QStringLiteral("yyyyMMdd")).toLatin1();
        std::memcpy(out, bytes.constData(), 8);
        return;
    }
    case 'M': {
        const QByteArray text = toCp1252(toText(v));
        if (text.isEmpty())
            return; // an empty memo has no block
        const quint32 block = m_memo->add(text);
        if (f.length == 4)
            qToLittleEndian<quint32>(block, out);
        else
            std::memcpy(out, QByteArray::number(block).rightJustified(10, ' ').constData(), 10);
        return;
    }
    case 'I': {
        const qint64 n = toInteger(v, column);
        if (n < INT32_MIN || n > INT32_MAX)
            throwDoesNotFit(QString::number(n), column);
        qToLittleEndian<qint32>(qint32(n), out);
        return;
    }
    case 'B':
        qToLittleEndian<double>(toDouble(v, column), out);
        return;
    case 'Y': {
        const double d = toDouble(v, column) * 10000.0;
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
            throwDoesNotFit(toText(v), column);
        qToLittleEndian<qint64>(std::llround(d), out);
        return;
    }
    case 'T': {
        const QDateTime dt = toDateTime(v, column);
        qToLittleEndian<quint32>(quint32(dt.date().toJulianDay()), out);
        qToLittleEndian<quint32>(quint32(dt.time().msecsSinceStartOfDay()), out + 4);
        return;
    }
    default:
        return;
    }
}

char* DbfWriter::beginRecord() {
    if (m_rows >= 0xFFFFFFFFLL)
        throw ExportError(QStringLiteral("Die Tabelle ist voll."));
    m_record[0] = ' '; // not deleted
    m_nullFlags.fill('\0', m_nullField.length);
    return m_record.data();
}

void DbfWriter::completeRecord() {
    if (m_nullField.length)
        std::memcpy(m_record.data() + m_nullField.offset, m_nullFlags.constData(),
                    size_t(m_nullFlags.size()));
    m_pending += m_record;
    ++m_rows;
    if (m_pending.size() >= kPendingBytes)
        writeRecords();
}

void DbfWriter::writeRecords() {
    if (m_pending.isEmpty())
        return;
    // The records replace the end-of-file mark, which finish() writes again after them.
    // Seeking flushes the file's buffer, so it happens only where the position is not right.
    const qint64 at = m_headerLength + m_writtenRows * m_recordLength;
    if (m_file.pos() != at && !m_file.seek(at))
        throwWriteError(m_file);
    writeBytes(m_file, m_pending);
    m_writtenRows = m_rows;
    m_pending.resize(0); // keeps the capacity
}

void DbfWriter::appendRow(const std::vector<QVariant>& values) {
    checkRowWidth(values.size(), m_fields.size());
    char* rec = beginRecord();
    for (size_t i = 0; i < m_fields.size(); ++i)
        encodeField(int(i), values[i], rec + m_fields[i].offset, m_nullFlags);
    completeRecord();
}

void DbfWriter::appendCells(const RowView& row, int columns) {
    checkRowWidth(size_t(columns), m_fields.size());
    if (m_cells.size() < size_t(columns))
        m_cells.resize(size_t(columns));
    row.cells(m_cells.data(), columns);
    char* rec = beginRecord();
    for (int i = 0; i < columns; ++i) {
        char* out = rec + m_fields[size_t(i)].offset;
        if (!encodeCell(i, m_cells[size_t(i)], out))
            encodeField(i, row.value(i), out, m_nullFlags);
    }
    completeRecord();
}

bool DbfWriter::encodeCell(int i, const Cell& cell, char* out) {
    const DbfField& f = m_fields[size_t(i)];
    const ColumnDef& column = m_schema.columns[size_t(i)];
    switch (f.type) {
    case 'C':
        // Every UTF-16 unit gives at most one byte; longer texts are measured (and refused)
        // by the general path.
        if (cell.kind != Cell::Text || column.type != ColumnType::Char ||
            cell.text.size() > f.length)
            return false;
        std::memset(out, ' ', size_t(f.length));
        toCp1252(cell.text, out);
        return true;
    case 'N':
    case 'F': {
        char buf[64];
        char* end = nullptr;
        if (cell.kind == Cell::Integer && column.type == ColumnType::Integer) {
            end = integerText(buf, cell.integer);
        } else if (cell.kind == Cell::Real && std::isfinite(cell.real)) {
            const double a = std::fabs(cell.real);
            if (column.type == ColumnType::Numeric ||
                (column.type == ColumnType::Float && (a == 0 || a >= 1e-4)))
                end = fixedNumber(buf, cell.real, f.decimals);
        }
        if (!end || end - buf > f.length)
            return false;
        const auto n = size_t(end - buf);
        std::memset(out, ' ', size_t(f.length) - n);
        std::memcpy(out + f.length - n, buf, n);
        return true;
    }
    case 'L':
        if (cell.kind != Cell::Bool)
            return false;
        out[0] = cell.integer ? 'T' : 'F';
        return true;
    case 'D':
        if ((cell.kind != Cell::Date && cell.kind != Cell::DateTime) || cell.year < 1 ||
            cell.year > 9999)
            return false;
        {
            char buf[16];
            isoDateText(buf, cell.year, cell.month, cell.day); // yyyy-MM-dd
            std::memcpy(out, buf, 4);
            std::memcpy(out + 4, buf + 5, 2);
            std::memcpy(out + 6, buf + 8, 2);
        }
        return true;
    default:
        return false;
    }
}

void DbfWriter::finish() {
    if (!m_file.isOpen())
        return;
    writeRecords();
    if (m_memo)
        m_memo->finish();
    writeHeader();
    flushFile(m_file);
}

} // namespace exportfile
