#pragma once

// Conversions of the values a dataset delivers (QVariant, null kept) into what a column of a
// destination table holds. Every writer goes through these, so a value means the same in every
// format. A value that cannot be taken as the column's type raises ExportError naming the column.

#include "export/tableschema.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QVariant>
#include <vector>

namespace exportfile {

bool isNull(const QVariant& v);

qint64 toInteger(const QVariant& v, const ColumnDef& column);
double toDouble(const QVariant& v, const ColumnDef& column);
bool toBool(const QVariant& v, const ColumnDef& column);
QString toText(const QVariant& v);
QDate toDate(const QVariant& v, const ColumnDef& column);
QDateTime toDateTime(const QVariant& v, const ColumnDef& column);
QTime toTime(const QVariant& v, const ColumnDef& column);

// Text forms used by the text-based writers: "." as decimal point, ISO dates and times.
QString numberText(double value);

// The hot paths' forms of numbers, written into a buffer without a QString; each returns the
// end of what it wrote. shortestNumber writes numberText(value): the shortest text that
// reads back as the same double, fixed or scientific, whichever is shorter (fixed on a tie).
// Needs 32 bytes.
char* shortestNumber(char* out, double value);
// QString::number(value, 'f', decimals) for |value| < 2^52 / 10^decimals; nullptr (nothing
// written) for the values where the rounding of an exact tie or the size could differ.
// Needs 24 + decimals bytes.
char* fixedNumber(char* out, double value, int decimals);
// An integer in decimal.
char* integerText(char* out, qint64 value);
// "yyyy-MM-dd" for a year from 1 to 9999.
char* isoDateText(char* out, int year, int month, int day);
// "HH:mm:ss", with ".zzz" when there are milliseconds.
char* isoTimeText(char* out, int msecsSinceMidnight);
// "hh:mm:ss" and `fraction` digits (1 to 7) of the second, from milliseconds
// and the 100 ns ticks beyond them; no point for 0 digits.
char* isoTimeText(char* out, int msecsSinceMidnight, int subMsecTicks, int fraction);
QString isoDate(const QDate& d);
QString isoDateTime(const QDateTime& dt);
QString isoTime(const QTime& t);

// The value of one cell as plain text for the text-based formats: numbers with ".",
// dates in ISO form, bits as TRUE/FALSE; null gives an empty string.
QString cellText(const QVariant& v, const ColumnDef& column);

// Windows code page 1252, the code page the desktop formats mark: characters outside it
// become "?" (those formats have no way to hold them).
QByteArray toCp1252(const QString& text);
// The same into out, which holds text.size() bytes; returns the bytes written.
qsizetype toCp1252(QStringView text, char* out);
QString fromCp1252(const QByteArray& bytes);
// The code page's byte for a UTF-16 unit, or -1 when it has none.
int cp1252Byte(char16_t unit);
bool fitsCp1252(QStringView text);

// The text files other desktop programs read (scripts, text exports) are in Windows-1252;
// what it cannot hold makes the whole file UTF-8 after a byte-order mark, so nothing is
// lost. Reading takes UTF-8 after its byte-order mark or when the bytes are valid UTF-8,
// Windows-1252 otherwise.
inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
QByteArray encodeDesktopText(const QString& text);
QString decodeDesktopText(const QByteArray& bytes);

// Raises ExportError unless a row brings one value per column.
void checkRowWidth(size_t values, size_t columns);

// Raises ExportError for a field name that is empty or that another field has already
// (names compared without regard to case), as the file formats require distinct names.
void checkFieldNames(const std::vector<QByteArray>& encodedNames);

// Message for a value that does not fit its column.
[[noreturn]] void throwDoesNotFit(const QString& value, const ColumnDef& column);

} // namespace exportfile
