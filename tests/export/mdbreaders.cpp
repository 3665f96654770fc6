#include "tests/export/mdbreaders.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <sql.h>
#include <sqlext.h>

namespace mdbreaders {

namespace {

struct Result {
    bool ok = false;
    QByteArray out;
    QString error;
};

Result run(const QString& program, const QStringList& args) {
    Result r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(30000)) {
        r.error = program + QStringLiteral(" startet nicht");
        return r;
    }
    p.closeWriteChannel();
    // Big tables take a while; read as the output comes so the pipe never fills.
    while (p.state() != QProcess::NotRunning) {
        if (!p.waitForReadyRead(300000) && p.state() != QProcess::NotRunning)
            break;
        r.out += p.readAllStandardOutput();
    }
    p.waitForFinished(300000);
    r.out += p.readAllStandardOutput();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!r.ok)
        r.error = program + QStringLiteral(": ") + QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

QString strictReader() {
    const QString path = QStringLiteral(TARNWICK_ACCESS_CHECK);
    return QFile::exists(path) ? path : QString();
}

bool strictRead(const QStringList& paths, QString* output) {
    const Result r = run(strictReader(), paths);
    *output = QString::fromUtf8(r.out) + r.error;
    return r.ok;
}

bool mdbtoolsPresent() {
    for (const char* tool : {"mdb-ver", "mdb-tables", "mdb-schema", "mdb-export", "mdb-prop"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return false;
    return true;
}

QString version(const QString& path) {
    return QString::fromUtf8(run(QStringLiteral("mdb-ver"), {path}).out).trimmed();
}

QStringList tables(const QString& path) {
    const QString out =
        QString::fromUtf8(run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), path}).out);
    return out.split(u'\n', Qt::SkipEmptyParts);
}

QString schema(const QString& path, const QString& table) {
    return QString::fromUtf8(
        run(QStringLiteral("mdb-schema"), {QStringLiteral("-T"), table, path}).out);
}

QMap<QString, QMap<QString, QString>> properties(const QString& path, const QString& object,
                                                 QString* error) {
    const Result r = run(QStringLiteral("mdb-prop"), {path, object});
    *error = r.error;
    QMap<QString, QMap<QString, QString>> sets;
    QString current;
    for (const QString& line : QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QStringLiteral("name: "))) {
            current = line.mid(6);
            sets[current];
        } else if (line.startsWith(u'\t')) {
            const qsizetype colon = line.indexOf(QStringLiteral(": "));
            if (colon > 0)
                sets[current][line.mid(1, colon - 1)] = line.mid(colon + 2);
        }
    }
    return sets;
}

QList<QStringList> exportRows(const QString& path, const QString& table, QString* error) {
    // Separators that no test value contains, so values need no quoting.
    const Result r = run(QStringLiteral("mdb-export"),
                         {QStringLiteral("-H"), QStringLiteral("-Q"), QStringLiteral("-d"),
                          QStringLiteral("\x1f"), QStringLiteral("-R"), QStringLiteral("\x1e"),
                          QStringLiteral("-0"), kNull, QStringLiteral("-T"),
                          QStringLiteral("%Y-%m-%d %H:%M:%S"), path, table});
    QList<QStringList> rows;
    if (!r.ok) {
        *error = r.error;
        return rows;
    }
    const QString text = QString::fromUtf8(r.out);
    for (const QString& line : text.split(QChar(0x1e), Qt::SkipEmptyParts))
        rows.append(line.split(QChar(0x1f)));
    return rows;
}

bool odbcDriverRegistered() {
    return run(QStringLiteral("odbcinst"), {QStringLiteral("-q"), QStringLiteral("-d"),
                                            QStringLiteral("-n"), QStringLiteral("MDBTools")})
        .ok;
}

QList<QStringList> odbcRows(const QString& path, const QString& sql, QString* error) {
    QList<QStringList> rows;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    auto diag = [&](SQLSMALLINT type, SQLHANDLE h) {
        SQLCHAR state[6] = {}, text[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLGetDiagRecA(type, h, 1, state, &native, text, sizeof text, &len);
        *error = QString::fromUtf8(reinterpret_cast<const char*>(text));
    };
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    const QByteArray conn = QStringLiteral("DRIVER={MDBTools};DBQ=%1;").arg(path).toUtf8();
    SQLCHAR out[1024];
    SQLSMALLINT outLen = 0;
    if (!SQL_SUCCEEDED(SQLDriverConnectA(
            dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(conn.constData())), SQL_NTS,
            out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT))) {
        diag(SQL_HANDLE_DBC, dbc);
    } else {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        const QByteArray q = sql.toUtf8();
        if (!SQL_SUCCEEDED(SQLExecDirectA(
                stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(q.constData())), SQL_NTS))) {
            diag(SQL_HANDLE_STMT, stmt);
        } else {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            while (SQL_SUCCEEDED(SQLFetch(stmt))) {
                QStringList row;
                for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                    QByteArray value;
                    bool null = false;
                    for (;;) {
                        char buf[4096];
                        SQLLEN ind = 0;
                        const SQLRETURN rc = SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &ind);
                        if (rc == SQL_NO_DATA)
                            break;
                        if (!SQL_SUCCEEDED(rc)) {
                            diag(SQL_HANDLE_STMT, stmt);
                            break;
                        }
                        if (ind == SQL_NULL_DATA) {
                            null = true;
                            break;
                        }
                        const qsizetype got = ind == SQL_NO_TOTAL || ind >= SQLLEN(sizeof buf)
                                                  ? qsizetype(sizeof buf) - 1
                                                  : qsizetype(ind);
                        value.append(buf, got);
                        if (rc == SQL_SUCCESS)
                            break;
                    }
                    row << (null ? kNull : QString::fromUtf8(value));
                }
                rows.append(row);
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rows;
}

} // namespace mdbreaders
