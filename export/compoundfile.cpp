#include "export/compoundfile.h"

#include <algorithm>

#include <QIODevice>
#include <QtEndian>
#include <cstring>

namespace exportfile {

namespace {

constexpr quint32 freeSect = 0xFFFFFFFF;
constexpr quint32 endOfChain = 0xFFFFFFFE;
constexpr quint32 fatSect = 0xFFFFFFFD;
constexpr quint32 difSect = 0xFFFFFFFC;
constexpr quint32 noStream = 0xFFFFFFFF;
constexpr int sectorSize = 512;
constexpr int idsPerSector = sectorSize / 4;
constexpr int headerDifatEntries = 109;
constexpr int miniStreamCutoff = 4096;

void put32(QByteArray& b, int pos, quint32 v) {
    qToLittleEndian<quint32>(v, b.data() + pos);
}

QByteArray directoryEntry(const QString& name, quint8 type, quint32 child, quint32 start,
                          quint32 size) {
    QByteArray e(128, '\0');
    const QString n = name.left(31);
    for (int i = 0; i < n.size(); ++i)
        qToLittleEndian<quint16>(n.at(i).unicode(), e.data() + 2 * i);
    qToLittleEndian<quint16>(quint16((n.size() + 1) * 2), e.data() + 64);
    e[66] = char(type);
    e[67] = 1; // black
    put32(e, 68, noStream);
    put32(e, 72, noStream);
    put32(e, 76, child);
    put32(e, 116, start);
    put32(e, 120, size);
    return e;
}

} // namespace

bool writeCompoundFile(QIODevice& out, const QString& streamName, const QByteArray& stream) {
    return writeCompoundFile(out, streamName, std::vector<QByteArrayView>{stream});
}

bool writeCompoundFile(QIODevice& out, const QString& streamName,
                       const std::vector<QByteArrayView>& streamParts) {
    return writeCompoundFile(out, streamName,
                             std::vector<StreamPart>(streamParts.begin(), streamParts.end()));
}

bool writeStreamParts(QIODevice& out, const std::vector<StreamPart>& parts) {
    constexpr qint64 chunkBytes = 64 * 1024;
    QByteArray chunk;
    for (const StreamPart& part : parts) {
        if (!part.source) {
            if (out.write(part.bytes.data(), part.bytes.size()) != part.bytes.size())
                return false;
            continue;
        }
        if (!part.source->seek(part.offset))
            return false;
        chunk.resize(qsizetype(std::min(chunkBytes, part.size)));
        for (qint64 left = part.size; left > 0;) {
            const qint64 n = std::min<qint64>(left, chunk.size());
            if (part.source->read(chunk.data(), n) != n || out.write(chunk.data(), n) != n)
                return false;
            left -= n;
        }
    }
    return true;
}

bool writeCompoundFile(QIODevice& out, const QString& streamName,
                       const std::vector<StreamPart>& streamParts) {
    qint64 streamSize = 0;
    for (const StreamPart& part : streamParts)
        streamSize += part.size;
    streamSize = std::max<qint64>(streamSize, miniStreamCutoff);
    const quint32 streamSectors = quint32((streamSize + sectorSize - 1) / sectorSize);
    const quint32 dataSectors = streamSectors + 1; // plus one directory sector

    // FAT sectors must also describe themselves and the DIFAT sectors that list them.
    quint32 fat = (dataSectors + idsPerSector - 1) / idsPerSector;
    quint32 difat = 0;
    for (;;) {
        difat = fat > headerDifatEntries
                    ? (fat - headerDifatEntries + idsPerSector - 2) / (idsPerSector - 1)
                    : 0;
        const quint32 need = (dataSectors + fat + difat + idsPerSector - 1) / idsPerSector;
        if (need <= fat)
            break;
        fat = need;
    }
    const quint32 dirSector = streamSectors;
    const quint32 firstFat = dirSector + 1;
    const quint32 firstDifat = firstFat + fat;

    QByteArray header(sectorSize, '\0');
    static const unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), signature, 8);
    qToLittleEndian<quint16>(0x003E, header.data() + 24); // minor version
    qToLittleEndian<quint16>(0x0003, header.data() + 26); // major version 3
    qToLittleEndian<quint16>(0xFFFE, header.data() + 28); // little-endian
    qToLittleEndian<quint16>(9, header.data() + 30);      // 512-byte sectors
    qToLittleEndian<quint16>(6, header.data() + 32);      // 64-byte mini sectors
    put32(header, 44, fat);
    put32(header, 48, dirSector);
    put32(header, 56, miniStreamCutoff);
    put32(header, 60, endOfChain); // no mini FAT
    put32(header, 64, 0);
    put32(header, 68, difat ? firstDifat : endOfChain);
    put32(header, 72, difat);
    for (int i = 0; i < headerDifatEntries; ++i)
        put32(header, 76 + 4 * i, quint32(i) < fat ? firstFat + quint32(i) : freeSect);

    QByteArray dir(sectorSize, '\0');
    dir.replace(0, 128, directoryEntry(QStringLiteral("Root Entry"), 5, 1, endOfChain, 0));
    dir.replace(128, 128, directoryEntry(streamName, 2, noStream, 0, quint32(streamSize)));
    for (int i = 2; i < 4; ++i) {
        QByteArray empty(128, '\0');
        put32(empty, 68, noStream);
        put32(empty, 72, noStream);
        put32(empty, 76, noStream);
        dir.replace(128 * i, 128, empty);
    }

    QByteArray fatBytes(int(fat) * sectorSize, char(0xFF));
    for (quint32 s = 0; s < streamSectors; ++s)
        put32(fatBytes, int(4 * s), s + 1 < streamSectors ? s + 1 : endOfChain);
    put32(fatBytes, int(4 * dirSector), endOfChain);
    for (quint32 i = 0; i < fat; ++i)
        put32(fatBytes, int(4 * (firstFat + i)), fatSect);
    for (quint32 i = 0; i < difat; ++i)
        put32(fatBytes, int(4 * (firstDifat + i)), difSect);

    QByteArray difatBytes(int(difat) * sectorSize, char(0xFF));
    for (quint32 i = headerDifatEntries; i < fat; ++i) {
        const quint32 k = i - headerDifatEntries;
        const quint32 sector = k / (idsPerSector - 1);
        put32(difatBytes, int(sector * sectorSize + 4 * (k % (idsPerSector - 1))), firstFat + i);
    }
    for (quint32 d = 0; d < difat; ++d)
        put32(difatBytes, int(d * sectorSize + 4 * (idsPerSector - 1)),
              d + 1 < difat ? firstDifat + d + 1 : endOfChain);

    auto write = [&out](QByteArrayView bytes) {
        return out.write(bytes.data(), bytes.size()) == bytes.size();
    };
    if (!write(header))
        return false;
    if (!writeStreamParts(out, streamParts))
        return false;
    qint64 written = 0;
    for (const StreamPart& part : streamParts)
        written += part.size;
    // Zeros up to the mini-stream cut-off and the end of the last sector.
    QByteArray padding(int(qint64(streamSectors) * sectorSize - written), '\0');
    for (const QByteArray* part : {&padding, &dir, &fatBytes, &difatBytes})
        if (!write(*part))
            return false;
    return true;
}

} // namespace exportfile
