#include "data/odbc/odbccall.h"

#include <QDebug>
#include <QRegularExpression>
#include <QtGlobal>
#include <algorithm>

namespace data::odbc {

namespace {

bool traceEnabled() {
    static const bool on = qEnvironmentVariableIntValue("TARNWICK_ODBC_TRACE") != 0;
    return on;
}

bool isInfo(const DiagRecord& r) {
    return r.sqlState.startsWith(QLatin1String("01"));
}

bool isConnectionState(const QString& state) {
    return state.startsWith(QLatin1String("08"));
}

// SQL Server's own fields of a diagnostic record (the driver's odbcss.h
// numbers). The FreeTDS driver knows the message state and the line; a field
// a driver does not know stays as it was.
constexpr SQLSMALLINT kDiagMsgState = -1150;
constexpr SQLSMALLINT kDiagSeverity = -1151;
constexpr SQLSMALLINT kDiagServer = -1152;
constexpr SQLSMALLINT kDiagProcedure = -1153;
constexpr SQLSMALLINT kDiagLine = -1154;

void readServerFields(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT i, DiagRecord& r) {
    auto number = [&](SQLSMALLINT field, int& into) {
        // Some drivers write a 16-bit value (the line): the buffer starts zeroed.
        SQLINTEGER value = 0;
        if (SQL_SUCCEEDED(SQLGetDiagFieldW(type, handle, i, field, &value, 0, nullptr)))
            into = int(value);
    };
    auto text = [&](SQLSMALLINT field, QString& into) {
        SQLWCHAR buf[260] = {};
        SQLSMALLINT bytes = 0;
        if (SQL_SUCCEEDED(
                SQLGetDiagFieldW(type, handle, i, field, buf, SQLSMALLINT(sizeof buf), &bytes)))
            into = fromWide(buf, std::clamp<qsizetype>(bytes / 2, 0, 259));
    };
    number(kDiagMsgState, r.state);
    number(kDiagSeverity, r.severity);
    // The FreeTDS driver knows no severity field and answers the state field
    // with the severity (class) the server sent; drivers that know both
    // answer both.
    if (r.severity < 0 && r.state >= 0) {
        r.severity = r.state;
        r.state = -1;
    }
    int line = 0;
    number(kDiagLine, line);
    r.line = line & 0xFFFF;
    text(kDiagProcedure, r.procedure);
    text(kDiagServer, r.server);
}

} // namespace

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type) {
    const SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!SQL_SUCCEEDED(rc)) {
        MessageList records;
        if (parent != SQL_NULL_HANDLE)
            records =
                diagnostics(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent);
        m_handle = SQL_NULL_HANDLE;
        if (records.isEmpty())
            throw DataError(QStringLiteral("ODBC-Handle kann nicht angelegt werden"));
        raise(records, "SQLAllocHandle", Failure::Statement);
    }
}

Handle::~Handle() {
    reset();
}

Handle::Handle(Handle&& other) noexcept : m_type(other.m_type), m_handle(other.m_handle) {
    other.m_handle = SQL_NULL_HANDLE;
}

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_handle = other.m_handle;
        other.m_handle = SQL_NULL_HANDLE;
    }
    return *this;
}

void Handle::reset() noexcept {
    if (m_handle != SQL_NULL_HANDLE) {
        if (m_type == SQL_HANDLE_DBC)
            SQLDisconnect(m_handle); // harmless when not connected
        SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
}

QString cleanMessage(const QString& raw) {
    QString s = raw.trimmed();
    while (s.startsWith(QLatin1Char('['))) {
        const qsizetype close = s.indexOf(QLatin1Char(']'));
        if (close < 0)
            break;
        s = s.mid(close + 1).trimmed();
    }
    return s;
}

MessageList diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    MessageList out;
    if (handle == SQL_NULL_HANDLE)
        return out;
    for (SQLSMALLINT i = 1; i < 1000; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLWCHAR small[1024];
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, small,
                                      SQLSMALLINT(std::size(small)), &length);
        if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(rc))
            break;
        QString text;
        if (length >= SQLSMALLINT(std::size(small))) {
            std::vector<SQLWCHAR> big(std::size_t(length) + 1);
            SQLGetDiagRecW(type, handle, i, state, &native, big.data(), SQLSMALLINT(big.size()),
                           &length);
            text = fromWide(big.data(), length);
        } else {
            text = fromWide(small, length);
        }
        DiagRecord r;
        r.sqlState = fromWide(state, 5);
        r.nativeError = int(native);
        r.message = cleanMessage(text);
        r.kind = isInfo(r) ? MessageKind::Info : MessageKind::Error;
        readServerFields(type, handle, i, r);
        out.append(r);
    }
    return out;
}

DiagRecord primaryRecord(const MessageList& records) {
    // Server errors carry their own number; the driver's own errors are
    // numbered from 20000 on or carry none.
    for (const auto& r : records)
        if (!isInfo(r) && r.nativeError > 0 && r.nativeError < 20000)
            return r;
    for (const auto& r : records)
        if (!isInfo(r))
            return r;
    return records.isEmpty() ? DiagRecord{} : records.first();
}

QString connectionLostMessage() {
    return QStringLiteral("Die Verbindung zum Server wurde unterbrochen");
}

void raise(const MessageList& records, const char* call, Failure failure, bool connectionDead) {
    DiagRecord primary = primaryRecord(records);
    if (primary.message.isEmpty())
        primary.message = QStringLiteral("Unbekannter Fehler in %1").arg(QLatin1String(call));
    bool timeout = false;
    bool link = connectionDead;
    for (const auto& r : records) {
        if (r.sqlState == QLatin1String("HYT00") || r.sqlState == QLatin1String("HYT01"))
            timeout = true;
        // Severity 20 and above: the server ends the session after it.
        if (isConnectionState(r.sqlState) || r.severity >= 20)
            link = true;
    }
    if (traceEnabled())
        qDebug().noquote() << "odbc:" << call << "failed:" << primary.sqlState << primary.message;
    if (failure == Failure::Connect)
        throw ConnectionError(primary.message, primary.sqlState, primary.nativeError, records);
    if (link) {
        throw ConnectionError(connectionLostMessage(), primary.sqlState, primary.nativeError,
                              records);
    }
    if (timeout)
        throw TimeoutError(QStringLiteral("Timeout abgelaufen"), QStringLiteral("HYT00"), 0,
                           records);
    throw DataError(primary.message, primary.sqlState, primary.nativeError, records);
}

SQLRETURN check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call,
                MessageList* infos, Failure failure) {
    if (traceEnabled())
        qDebug().noquote() << "odbc:" << call << "->" << rc;
    if (rc == SQL_SUCCESS)
        return rc;
    if (rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) {
        // The FreeTDS driver also hangs messages that follow the last result
        // on the call that reports SQL_NO_DATA.
        if (infos) {
            const MessageList records = diagnostics(type, handle);
            if (traceEnabled())
                for (const auto& r : records)
                    qDebug().noquote() << "odbc:   " << r.sqlState << r.nativeError << r.message;
            infos->append(records);
        }
        return rc;
    }
    if (rc == SQL_INVALID_HANDLE)
        throw DataError(QStringLiteral("Ungültiges ODBC-Handle in %1").arg(QLatin1String(call)));
    MessageList records = diagnostics(type, handle);
    raise(records, call, failure);
}

} // namespace data::odbc
