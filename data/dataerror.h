#pragma once
// Errors of the data access layer. Every failure reaches the caller as one of
// these; message() is the text a user reads (the server's own words, without
// driver prefixes), records() keeps every diagnostic record for whoever wants
// more.

#include <QList>
#include <QString>
#include <stdexcept>

namespace data {

// What a diagnostic record reports: a message of the server (PRINT, a
// RAISERROR below severity 11, a database change), an error, or the count of
// rows a statement reported (its text reads as the tools print it).
enum class MessageKind { Info, Error, RowCount };

struct DiagRecord {
    QString sqlState;    // five characters, e.g. "42S02"; empty for the layer's own errors
    int nativeError = 0; // the server's message number, e.g. 208
    QString message;     // cleaned text
    int severity = -1;   // server severity (class) when known, else -1
    MessageKind kind = MessageKind::Error;
    int state = -1;       // the server's message state when known, else -1
    int line = 0;         // line of the batch or procedure, 0 when unknown
    QString procedure{};  // procedure that raised it, when the driver tells
    QString server{};     // server that raised it, when the driver tells
    qint64 rows = -1;     // RowCount: the number of rows
    int resultIndex = -1; // the result set it follows (-1: before the first)

    bool isError() const { return kind == MessageKind::Error; }
    // A record for a statement's row count: "(1 Zeile betroffen)".
    static DiagRecord rowCount(qint64 rows);
};

class DataError : public std::runtime_error {
public:
    explicit DataError(const QString& message, const QString& sqlState = {}, int nativeError = 0,
                       QList<DiagRecord> records = {});

    const QString& message() const noexcept { return m_message; }
    const QString& sqlState() const noexcept { return m_sqlState; }
    int nativeError() const noexcept { return m_nativeError; }
    const QList<DiagRecord>& records() const noexcept { return m_records; }

private:
    QString m_message;
    QString m_sqlState;
    int m_nativeError = 0;
    QList<DiagRecord> m_records;
};

// The server cannot be reached, refused the login, or the link broke. The
// connection is closed when this is raised; the next open starts afresh.
class ConnectionError : public DataError {
public:
    using DataError::DataError;
};

// The statement ran longer than the command time-out and was cancelled.
class TimeoutError : public DataError {
public:
    using DataError::DataError;
};

// A dataset was opened with a text that produced no result set; the statement
// itself has run.
class NoResultSetError : public DataError {
public:
    NoResultSetError();
};

// An operation that the object's state does not allow (closed dataset,
// connection string changed while connected, unknown field name, ...).
class StateError : public DataError {
public:
    using DataError::DataError;
};

// The rows of a result cannot be written back (several tables, an
// expression column, no base table); the reason is in the message.
class NotUpdatableError : public DataError {
public:
    using DataError::DataError;
};

// Writing a row back changed nothing: the row was changed or deleted on the
// server since it was read. The user's edit is kept.
class UpdateConflictError : public DataError {
public:
    using DataError::DataError;
};

// The text the layer raises for a query without a result set.
inline constexpr const char* kNoResultSetText = "CommandText gibt keine Ergebnismenge zurück";

} // namespace data
