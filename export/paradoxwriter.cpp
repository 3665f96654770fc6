#include "export/paradoxwriter.h"

#include "export/fileio.h"
#include "export/values.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "export/pxlibrary.h"

namespace exportfile {

namespace {

constexpr int memoLeader = 10;           // characters of a memo kept in the record itself
constexpr qint64 sdnOfDayZero = 1721425; // Paradox counts days from 31 December 0000

void collectError(pxdoc_t*, int type, const char* msg, void* data) {
    if (type != PX_Warning && data && msg)
        *static_cast<QString*>(data) = QString::fromLocal8Bit(msg);
}

// pxlib finds the block for every new record by walking the block chain from the file's
// start, a seek and a read per block; on a file that costs system calls and makes large
// tables slow. The table is therefore kept in memory while it is written and stored at close.
struct MemoryFile {
    QByteArray data;
    qint64 pos = 0;
};

MemoryFile* memoryOf(pxstream_t* stream) {
    return static_cast<MemoryFile*>(stream->s.stream);
}

size_t memoryRead(pxdoc_t*, pxstream_t* stream, size_t len, void* buffer) {
    MemoryFile* m = memoryOf(stream);
    const qint64 n = std::max<qint64>(0, std::min<qint64>(qint64(len), m->data.size() - m->pos));
    if (n > 0)
        std::memcpy(buffer, m->data.constData() + m->pos, size_t(n));
    m->pos += n;
    return size_t(n);
}

int memorySeek(pxdoc_t*, pxstream_t* stream, long offset, int whence) {
    MemoryFile* m = memoryOf(stream);
    const qint64 base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->data.size() : 0;
    if (base + offset < 0)
        return -1;
    m->pos = base + offset;
    return 0;
}

long memoryTell(pxdoc_t*, pxstream_t* stream) {
    return long(memoryOf(stream)->pos);
}

size_t memoryWrite(pxdoc_t*, pxstream_t* stream, size_t len, void* buffer) {
    MemoryFile* m = memoryOf(stream);
    if (m->pos + qint64(len) > m->data.size())
        m->data.resize(m->pos + qint64(len), '\0');
    std::memcpy(m->data.data() + m->pos, buffer, len);
    m->pos += qint64(len);
    return len;
}

qint64 paradoxDay(const QDate& d) {
    return d.toJulianDay() - sdnOfDayZero;
}

// The version byte of the header for 3.0, 4.0 and 5.0.
char versionByte(int version) {
    return version == 30 ? 0x03 : version == 40 ? 0x09 : 0x0B;
}

} // namespace

ParadoxField paradoxFieldFor(const ColumnDef& column, int version) {
    ParadoxField f;
    f.name = toCp1252(column.name).left(25);
    const bool v5 = version >= 50;
    switch (column.type) {
    case ColumnType::Integer:
        f.type = v5 ? pxfLong : pxfNumber;
        f.length = v5 ? 4 : 8;
        break;
    case ColumnType::Float:
        f.type = pxfNumber;
        f.length = 8;
        break;
    case ColumnType::Numeric:
        f.type = pxfCurrency;
        f.length = 8;
        break;
    case ColumnType::Char:
        f.type = pxfAlpha;
        f.length = std::min(column.size, 255);
        break;
    case ColumnType::Memo:
        if (version < 40) {
            f.type = pxfAlpha;
            f.length = 255;
        } else {
            f.type = pxfMemoBLOb;
            f.length = memoLeader + 10;
        }
        break;
    case ColumnType::Bit:
        f.type = v5 ? pxfLogical : pxfShort;
        f.length = v5 ? 1 : 2;
        break;
    case ColumnType::Date:
        f.type = pxfDate;
        f.length = 4;
        break;
    case ColumnType::DateTime:
    case ColumnType::Timestamp:
        f.type = v5 ? pxfTimestamp : pxfDate;
        f.length = v5 ? 8 : 4;
        break;
    case ColumnType::Time:
        f.type = v5 ? pxfTime : pxfAlpha;
        f.length = v5 ? 4 : 8;
        break;
    }
    return f;
}

struct ParadoxWriter::Impl {
    int version = 50;
    TableSchema schema;
    QString path;
    std::vector<ParadoxField> fields;
    std::vector<int> offsets;
    int recordSize = 0;
    const PxLibrary& px = pxLibrary(); // throws when the library cannot be loaded
    pxdoc_t* doc = nullptr;
    QString error;
    QByteArray record;
    bool hasBlob = false;
    MemoryFile memory;

    [[noreturn]] void fail(const QString& what) {
        throw ExportError(error.isEmpty() ? what : what + QStringLiteral(": ") + error);
    }

    void close() {
        if (!doc)
            return;
        px.PX_close(doc);
        px.PX_delete(doc);
        doc = nullptr;
        // pxlib writes the headers of 5.0 (and 7.0) itself; 3.0 and 4.0 tables differ from
        // what it writes for them only in the version byte.
        if (memory.data.size() > 0x39)
            memory.data[0x39] = versionByte(version);
        // The key 0xFF00FF00 at 0x25 says "see the key in the data header", which only 4.0 and
        // later have; a 3.0 table states its key there itself, and 0 is an open table. Left as
        // pxlib writes it, a 3.0 reader takes whatever follows for a key and decrypts noise.
        if (version < 40 && memory.data.size() > 0x29)
            memory.data.replace(0x25, 4, QByteArray(4, '\0'));
        QFile f(path);
        openForWriting(f);
        writeBytes(f, memory.data);
        flushFile(f);
        memory.data.clear();
    }
};

QString ParadoxWriter::blobPath(const QString& path) {
    return siblingPath(path, QStringLiteral("mb"));
}

ParadoxWriter::ParadoxWriter(int version, const TableSchema& schema, const QString& path)
    : d(std::make_unique<Impl>()) {
    d->version = version;
    d->schema = schema;
    d->path = path;
    std::vector<QByteArray> names;
    for (const auto& c : schema.columns) {
        ParadoxField f = paradoxFieldFor(c, version);
        names.push_back(f.name);
        d->hasBlob = d->hasBlob || f.type == pxfMemoBLOb;
        d->offsets.push_back(d->recordSize);
        d->recordSize += f.length;
        d->fields.push_back(f);
    }
    checkFieldNames(names);
    if (d->fields.size() > 255)
        throw ExportError(
            QStringLiteral("Die Tabelle hat %1 Felder; Paradox erlaubt höchstens 255.")
                .arg(d->fields.size()));
    if (d->recordSize > 4000)
        throw ExportError(
            QStringLiteral("Ein Datensatz wäre %1 Bytes lang; Paradox erlaubt höchstens 4000.")
                .arg(d->recordSize));

    const PxLibrary& px = d->px;
    px.PX_boot();
    d->doc = px.PX_new3(collectError, nullptr, nullptr, nullptr, &d->error);
    if (!d->doc)
        throw ExportError(QStringLiteral("Die Paradox-Bibliothek kann nicht gestartet werden."));
    // pxlib takes ownership of the field array and frees it with the document.
    auto* pxf = static_cast<pxfield_t*>(d->doc->malloc(
        d->doc, sizeof(pxfield_t) * std::max<size_t>(d->fields.size(), 1), "fields"));
    for (size_t i = 0; i < d->fields.size(); ++i) {
        pxf[i].px_fname = px.PX_strdup(d->doc, d->fields[i].name.constData());
        pxf[i].px_ftype = d->fields[i].type;
        pxf[i].px_flen = d->fields[i].length;
        pxf[i].px_fdc = 0;
    }
    // The header goes to the file first, then the table lives in memory until close().
    const QByteArray file = QFile::encodeName(path);
    FILE* fp = std::fopen(file.constData(), "wb+");
    if (!fp) {
        px.PX_delete(d->doc);
        d->doc = nullptr;
        throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                              .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    const int created =
        px.PX_create_fp(d->doc, pxf, int(d->fields.size()), fp, pxfFileTypNonIndexDB);
    std::fflush(fp);
    std::rewind(fp);
    QFile header;
    if (created == 0 && header.open(fp, QIODevice::ReadOnly))
        d->memory.data = header.readAll();
    header.close();
    std::fclose(fp);
    if (created < 0) {
        px.PX_delete(d->doc);
        d->doc = nullptr;
        d->fail(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden").arg(path));
    }
    pxstream_t* stream = d->doc->px_stream;
    stream->close = px_false;
    stream->s.stream = &d->memory;
    stream->read = memoryRead;
    stream->seek = memorySeek;
    stream->tell = memoryTell;
    stream->write = memoryWrite;
    // Larger blocks mean fewer of them: 4 KB is the most 3.x and 4.x know, 5.x takes 16 KB.
    d->doc->px_head->px_maxtablesize = version >= 50 ? 16 : 4;
    d->doc->px_head->px_fileversion = version;
    const QByteArray tableName = toCp1252(QFileInfo(path).completeBaseName()).left(78);
    if (px.PX_set_tablename(d->doc, tableName.constData()) < 0)
        d->fail(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden").arg(path));
    if (d->hasBlob) {
        // Created directly: this pxlib opens a file named with PX_set_blob_file for reading.
        pxblob_t* blob = px.PX_new_blob(d->doc);
        const QByteArray blobFile = QFile::encodeName(blobPath(path));
        if (!blob || px.PX_create_blob_file(blob, blobFile.constData()) < 0)
            d->fail(QStringLiteral("Die Memodatei \"%1\" kann nicht angelegt werden")
                        .arg(blobPath(path)));
        d->doc->px_blob = blob;
    }
    d->record.resize(std::max(d->recordSize, 1));
}

ParadoxWriter::~ParadoxWriter() {
    try {
        d->close();
    } catch (...) {
        // Nothing more can be done about the file here.
    }
}

void ParadoxWriter::appendRow(const std::vector<QVariant>& values) {
    if (!d->doc)
        throw ExportError(QStringLiteral("Die Tabelle ist bereits abgeschlossen."));
    checkRowWidth(values.size(), d->fields.size());
    const PxLibrary& px = d->px;
    // A field of zero bytes is null in every Paradox type.
    std::memset(d->record.data(), 0, size_t(d->record.size()));
    std::vector<QByteArray> keep; // texts must live until the record is written
    for (size_t i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        if (isNull(v))
            continue;
        const ColumnDef& c = d->schema.columns[i];
        const ParadoxField& f = d->fields[i];
        char* out = d->record.data() + d->offsets[i];
        switch (f.type) {
        case pxfAlpha: {
            QByteArray bytes =
                toCp1252(c.type == ColumnType::Time ? isoTime(toTime(v, c)).left(8) : toText(v));
            if (bytes.size() > f.length)
                throwDoesNotFit(toText(v), c);
            keep.push_back(bytes);
            px.PX_put_data_alpha(d->doc, out, f.length, keep.back().data());
            break;
        }
        case pxfNumber:
            if (c.type == ColumnType::Integer) {
                const qint64 n = toInteger(v, c);
                if (std::llabs(n) > (qint64(1) << 53))
                    throwDoesNotFit(QString::number(n), c);
                px.PX_put_data_double(d->doc, out, 8, double(n));
            } else {
                px.PX_put_data_double(d->doc, out, 8, toDouble(v, c));
            }
            break;
        case pxfCurrency:
            px.PX_put_data_double(d->doc, out, 8, toDouble(v, c));
            break;
        case pxfLong: {
            const qint64 n = toInteger(v, c);
            if (n <= INT32_MIN || n > INT32_MAX) // INT32_MIN itself is Paradox's null
                throwDoesNotFit(QString::number(n), c);
            px.PX_put_data_long(d->doc, out, 4, int(n));
            break;
        }
        case pxfShort:
            px.PX_put_data_short(d->doc, out, 2, short(toBool(v, c) ? 1 : 0));
            break;
        case pxfLogical:
            px.PX_put_data_byte(d->doc, out, 1, char(toBool(v, c) ? 1 : 0));
            break;
        case pxfDate:
            px.PX_put_data_long(d->doc, out, 4, int(paradoxDay(toDate(v, c))));
            break;
        case pxfTime:
            px.PX_put_data_long(d->doc, out, 4, toTime(v, c).msecsSinceStartOfDay());
            break;
        case pxfTimestamp: {
            const QDateTime dt = toDateTime(v, c);
            px.PX_put_data_double(d->doc, out, 8,
                                  double(paradoxDay(dt.date())) * 86400000.0 +
                                      dt.time().msecsSinceStartOfDay());
            break;
        }
        case pxfMemoBLOb: {
            QByteArray bytes = toCp1252(toText(v));
            if (bytes.isEmpty())
                break;
            keep.push_back(bytes);
            d->error.clear();
            if (px.PX_put_data_blob(d->doc, out, f.length, keep.back().data(), int(bytes.size())) <
                0)
                d->fail(QStringLiteral("Das Memo im Feld \"%1\" kann nicht geschrieben werden")
                            .arg(c.name));
            break;
        }
        default:
            break;
        }
    }
    d->error.clear();
    if (px.PX_put_record(d->doc, d->record.data()) < 0)
        d->fail(QStringLiteral("Der Datensatz kann nicht geschrieben werden"));
    ++m_rows;
}

void ParadoxWriter::finish() {
    d->close();
}

} // namespace exportfile
