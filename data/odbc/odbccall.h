#pragma once
// The one place every ODBC call's return code is checked. Internal to the
// data layer: nothing outside data/ includes ODBC headers.

#include "data/dataerror.h"
#include "data/provider.h"

#include "data/odbc/odbcapi.h"

namespace data::odbc {

// Owns one ODBC handle; frees it quietly.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent); // raises DataError when allocation fails
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept;
    Handle& operator=(Handle&& other) noexcept;

    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
    void reset() noexcept;

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

// Every diagnostic record of a handle, messages cleaned.
MessageList diagnostics(SQLSMALLINT type, SQLHANDLE handle);

// Removes leading "[vendor][component]" tags and surrounding blanks.
QString cleanMessage(const QString& raw);

// How a failure should be raised.
enum class Failure { Statement, Connect };

// Checks a return code. SQL_SUCCESS and SQL_NO_DATA pass; SQL_SUCCESS_WITH_INFO
// passes and appends the handle's records to `infos` (when given); anything
// else raises the matching DataError subclass built from all records.
SQLRETURN check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call,
                MessageList* infos = nullptr, Failure failure = Failure::Statement);

// What a statement on a dropped link reports: the driver's own text ("Unknown
// error", "Write to the server failed") does not tell the user what happened.
QString connectionLostMessage();

// Builds and raises the error for these records.
[[noreturn]] void raise(const MessageList& records, const char* call, Failure failure,
                        bool connectionDead = false);

// The text a user reads for these records: the first server error, else the
// first record that is not informational.
DiagRecord primaryRecord(const MessageList& records);

// UTF-16 helpers for the wide ODBC entry points (SQLWCHAR is 16 bits here).
static_assert(sizeof(SQLWCHAR) == 2, "the data layer expects 16-bit SQLWCHAR");
inline SQLWCHAR* wide(const QString& s) {
    return reinterpret_cast<SQLWCHAR*>(const_cast<ushort*>(s.utf16()));
}
inline QString fromWide(const SQLWCHAR* p, qsizetype chars) {
    return QString(reinterpret_cast<const QChar*>(p), chars);
}

} // namespace data::odbc
