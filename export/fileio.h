#pragma once

// File handling shared by the writers: every failure becomes an ExportError that names the file.

#include "tableschema.h"

#include <QFile>

namespace exportfile {

[[noreturn]] void throwWriteError(const QFileDevice& f);
// Creates or truncates the file; ReadWrite where the writer seeks back to patch headers.
void openForWriting(QFile& f, QIODevice::OpenMode mode = QIODevice::WriteOnly);
void writeBytes(QFileDevice& f, const QByteArray& bytes);
void writeBytesAt(QFileDevice& f, qint64 pos, const QByteArray& bytes);
void flushFile(QFileDevice& f);

// The file beside path with the same base name and another extension (given without dot,
// lower case); the extension is upper case when path's own is ("KUNDEN.DBF" -> "KUNDEN.DBT").
QString siblingPath(const QString& path, const QString& extension);

} // namespace exportfile
