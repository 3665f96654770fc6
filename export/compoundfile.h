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

} // namespace exportfile
