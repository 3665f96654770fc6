#pragma once

// A compound file (version 3, 512-byte sectors) holding one stream, the container the
// spreadsheet formats from Excel 5.0 on live in.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

class QIODevice;

namespace exportfile {

// Writes a compound file with the root storage and one stream named streamName. Streams
// shorter than the mini-stream cut-off (4096 bytes) are padded with zero bytes up to it, so
// every stream lives in regular sectors and no mini stream is needed. Returns false when
// the device refuses the data.
bool writeCompoundFile(QIODevice& out, const QString& streamName, const QByteArray& stream);
// The same for a stream given in pieces, written one after the other without joining them.
bool writeCompoundFile(QIODevice& out, const QString& streamName,
                       const std::vector<QByteArrayView>& streamParts);

// A piece of a stream: bytes in memory, or a range of another device that is copied in
// chunks, so large streams need not be held in memory.
struct StreamPart {
    StreamPart(QByteArrayView data) : bytes(data), size(data.size()) {}
    StreamPart(QIODevice* from, qint64 at, qint64 length)
        : source(from), offset(at), size(length) {}
    QByteArrayView bytes;
    QIODevice* source = nullptr;
    qint64 offset = 0;
    qint64 size = 0;
};
bool writeCompoundFile(QIODevice& out, const QString& streamName,
                       const std::vector<StreamPart>& streamParts);
// Writes the pieces one after the other; false when a source cannot be read in full or the
// device refuses the data.
bool writeStreamParts(QIODevice& out, const std::vector<StreamPart>& parts);

} // namespace exportfile
