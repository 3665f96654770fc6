#include "fileio.h"

#include <QFileInfo>

namespace exportfile {

void throwWriteError(const QFileDevice& f) {
    throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                          .arg(f.fileName(), f.errorString()));
}

void openForWriting(QFile& f, QIODevice::OpenMode mode) {
    if (!f.open(mode | QIODevice::Truncate))
        throw ExportError(QStringLiteral("Die Datei \"%1\" kann nicht angelegt werden: %2")
                              .arg(f.fileName(), f.errorString()));
}

void writeBytes(QFileDevice& f, const QByteArray& bytes) {
    if (f.write(bytes) != bytes.size())
        throwWriteError(f);
}

void writeBytesAt(QFileDevice& f, qint64 pos, const QByteArray& bytes) {
    if (!f.seek(pos))
        throwWriteError(f);
    writeBytes(f, bytes);
}

void flushFile(QFileDevice& f) {
    if (f.isOpen() && !f.flush())
        throwWriteError(f);
}

QString siblingPath(const QString& path, const QString& extension) {
    const QString suffix = QFileInfo(path).suffix();
    const bool upper =
        !suffix.isEmpty() && suffix == suffix.toUpper() && suffix != suffix.toLower();
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    return base + u'.' + (upper ? extension.toUpper() : extension);
}

} // namespace exportfile
