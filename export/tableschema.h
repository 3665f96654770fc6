#pragma once

// The shape of one destination table as the desktop-file provider knows it:
// the columns of a CREATE TABLE statement, in order.

#include <QString>
#include <stdexcept>
#include <vector>

namespace exportfile {

// Column types the provider accepts in CREATE TABLE.
enum class ColumnType {
    Integer,   // "integer"
    Float,     // "float"
    Numeric,   // "numeric(p,s)"
    Char,      // "char(n)"
    Memo,      // "memo"
    Bit,       // "bit"
    Date,      // "date"
    DateTime,  // "datetime"
    Time,      // "time"
    Timestamp, // "timestamp"
};

struct ColumnDef {
    QString name;
    ColumnType type = ColumnType::Char;
    int size = 0;      // characters of a char column
    int precision = 0; // digits of a numeric column
    int scale = 0;     // decimals of a numeric column
    // datetime(n), time(n): the digits of the second's fraction the column
    // keeps (up to 7, 100 ns); -1 for plain datetime and time (milliseconds).
    int fraction = -1;
};

struct TableSchema {
    QString tableName;
    std::vector<ColumnDef> columns;
};

// Every failure of the provider and its writers: the message is the text the user reads.
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// A file that cannot be written (a full disk, a lost device): the file's fault, never a
// record's.
class FileWriteError : public ExportError {
public:
    // "Die Datei "FILE" kann nicht geschrieben werden: REASON"
    FileWriteError(const QString& fileName, const QString& reason)
        : ExportError(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                          .arg(fileName, reason)),
          m_reason(reason) {}
    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

// The type as it is written in CREATE TABLE, for messages ("char(40)").
QString columnTypeText(const ColumnDef& column);

// Parses the statement the batch move builds:
//   CREATE TABLE [name] (col type , col type , ...)
// Column names are unbracketed and end at the first blank; types are the ones listed in
// ColumnType. Throws ExportError with a readable message for anything else, including a
// statement without any column.
TableSchema parseCreateTable(const QString& statement);

} // namespace exportfile
