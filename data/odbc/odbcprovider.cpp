#include "data/odbc/odbcprovider.h"

#include "data/odbc/kerberos.h"
#include "data/odbc/odbccall.h"
#include "data/odbc/odbcfetch.h"
#include "data/odbc/odbctranslate.h"
#include "data/odbc/tlsprobe.h"
#include "data/sqlserverprovider.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

namespace data {

void registerSqlServerProvider() {
    static std::once_flag once;
    std::call_once(once, [] {
        // SQL Server's OLE DB provider names as they appear in connection
        // strings; an empty Provider means SQL Server as well.
        for (const char* name : {"SQLOLEDB.1", "SQLOLEDB", "SQLNCLI", "SQLNCLI10", "SQLNCLI11",
                                 "MSOLEDBSQL", "MSOLEDBSQL19", ""})
            registerProvider(QLatin1String(name),
                             [] { return std::make_shared<odbc::OdbcProvider>(); });
    });
}

} // namespace data

namespace data::odbc {

namespace {

// Properties the connection string carries, in the order a user expects.
QList<PropertyEntry> stringProperties(const ConnectionParams& params, int loginTimeout) {
    const ConnectionString cs = ConnectionString::parse(params.connectionString);
    auto valueOrNull = [&](const char16_t* key) -> QVariant {
        const QString v = cs.value(QStringView(key));
        return cs.contains(QStringView(key)) ? QVariant(v) : QVariant();
    };
    QList<PropertyEntry> list;
    list.append({QStringLiteral("Data Source"), valueOrNull(u"Data Source")});
    list.append({QStringLiteral("Initial Catalog"), valueOrNull(u"Initial Catalog")});
    const bool integrated = isTrue(cs.value(u"Integrated Security"));
    list.append({QStringLiteral("Integrated Security"),
                 integrated ? QVariant(QStringLiteral("SSPI")) : QVariant()});
    list.append({QStringLiteral("User ID"), integrated ? QVariant() : valueOrNull(u"User ID")});
    list.append({QStringLiteral("Persist Security Info"),
                 QVariant(isTrue(cs.value(u"Persist Security Info")))});
    list.append({QStringLiteral("Connect Timeout"), QVariant(loginTimeout)});
    list.append({QStringLiteral("Application Name"), valueOrNull(u"Application Name")});
    list.append({QStringLiteral("Workstation ID"), valueOrNull(u"Workstation ID")});
    for (const auto& p : params.properties) {
        bool replaced = false;
        for (auto& e : list)
            if (e.name.compare(p.name, Qt::CaseInsensitive) == 0) {
                e.value = p.value;
                replaced = true;
            }
        if (!replaced)
            list.append(p);
    }
    return list;
}

// Points FREETDSCONF at a freetds.conf of our own while the driver connects
// (it reads the file inside SQLDriverConnect), then restores what was set.
// Connections that need one take turns: the variable is process-wide.
class FreeTdsConf {
public:
    FreeTdsConf(const QString& text, const QString& caFile) {
        if (text.isEmpty())
            return;
        if (caFile != QLatin1String("system") && !QFileInfo(caFile).isReadable())
            throw ConnectionError(
                QStringLiteral("Die Datei \"%1\" (TARNWICK_ODBC_CAFILE) kann nicht gelesen werden")
                    .arg(caFile));
        m_lock = std::unique_lock(mutex());
        m_file.setFileTemplate(
            QDir::temp().filePath(QStringLiteral("tarnwick-freetds-XXXXXX.conf")));
        if (!m_file.open() || m_file.write(text.toUtf8()) < 0 || !m_file.flush())
            throw ConnectionError(
                QStringLiteral("Die FreeTDS-Einstellungen können nicht geschrieben werden: %1")
                    .arg(m_file.errorString()));
        m_hadOld = qEnvironmentVariableIsSet("FREETDSCONF");
        m_old = qgetenv("FREETDSCONF");
        qputenv("FREETDSCONF", QFile::encodeName(m_file.fileName()));
    }
    ~FreeTdsConf() {
        if (!m_lock.owns_lock())
            return;
        if (m_hadOld)
            qputenv("FREETDSCONF", m_old);
        else
            qunsetenv("FREETDSCONF");
    }
    FreeTdsConf(const FreeTdsConf&) = delete;
    FreeTdsConf& operator=(const FreeTdsConf&) = delete;

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    std::unique_lock<std::mutex> m_lock;
    QTemporaryFile m_file;
    QByteArray m_old;
    bool m_hadOld = false;
};

class OdbcConnection : public ProviderConnection {
public:
    OdbcConnection(const ConnectionParams& params, MessageList& messages) : m_params(params) {
        m_settings = settingsFromEnvironment();
        const OdbcTarget target = translate(ConnectionString::parse(params.connectionString),
                                            params.connectionTimeout, m_settings);
        m_loginTimeout = target.loginTimeout;
        m_env = Handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        check(SQLSetEnvAttr(m_env.get(), SQL_ATTR_ODBC_VERSION, SQLPOINTER(SQL_OV_ODBC3), 0),
              SQL_HANDLE_ENV, m_env.get(), "SQLSetEnvAttr", nullptr, Failure::Connect);
        m_dbc = Handle(SQL_HANDLE_DBC, m_env.get());
        check(SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                SQLPOINTER(SQLULEN(std::max(0, target.loginTimeout))), 0),
              SQL_HANDLE_DBC, m_dbc.get(), "SQLSetConnectAttr(LOGIN_TIMEOUT)", nullptr,
              Failure::Connect);
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        MessageList infos;
        {
            const FreeTdsConf conf(target.freetdsConf, m_settings.caFile);
            try {
                check(SQLDriverConnectW(m_dbc.get(), nullptr, wide(target.connectionString),
                                        SQL_NTS, out, SQLSMALLINT(std::size(out)), &outLength,
                                        SQL_DRIVER_NOPROMPT),
                      SQL_HANDLE_DBC, m_dbc.get(), "SQLDriverConnect", &infos, Failure::Connect);
            } catch (const ConnectionError& e) {
                // A refusal by the server speaks for itself; a failure of the
                // driver before an integrated login may be a missing Kerberos ticket.
                const bool fromServer = e.nativeError() > 0 && e.nativeError() < 20000;
                if (target.integrated && !fromServer) {
                    const QString problem = kerberosProblem(target.host, target.port);
                    if (!problem.isEmpty())
                        throw ConnectionError(problem, e.sqlState(), e.nativeError(), e.records());
                }
                throw explainConnectFailure(e, target, m_settings);
            }
        }
        messages.append(informational(infos));
        rememberSocket();
        SQLWCHAR version[64];
        SQLSMALLINT versionBytes = 0;
        if (SQL_SUCCEEDED(
                SQLGetInfoW(m_dbc.get(), SQL_DRIVER_VER, version, sizeof version, &versionBytes)))
            m_rawWire = driverHandsRawBytes(
                m_settings.driver,
                fromWide(version, std::clamp<qsizetype>(versionBytes / 2, 0, 63)));
        // Results then name their base tables and columns, which writing rows
        // back needs; a server that does not know the option loses nothing.
        try {
            MessageList ignored;
            execute(QStringLiteral("SET NO_BROWSETABLE ON"), {}, QueryOptions{}, ignored);
        } catch (const ConnectionError&) {
            throw;
        } catch (const DataError&) {
        }
    }

    ~OdbcConnection() override = default; // handles disconnect and free quietly

    std::shared_ptr<ResultStore> query(const QString& text, const QueryOptions& options,
                                       MessageList& messages) override {
        return guarded([&] {
            Handle stmt = takeStatement(options);
            std::shared_ptr<ResultStore> first;
            {
                Running running(*this, stmt.get());
                if (options.isCancelled())
                    return first; // cancelled before it was sent
                first = runBatch(stmt.get(), text, options, messages, true);
            }
            keepStatement(std::move(stmt), options);
            return first;
        });
    }

    // Runs on a thread of its own while the worker runs the statement,
    // whose loops look at the options' cancelled flag before their driver
    // calls and then stop and close the cursor themselves. The driver's
    // cancel is needed only for a call that waits for the server, one that
    // has not returned for a while: it is sent then, and the driver wakes
    // the call. Sent while the worker's call is between two packets,
    // FreeTDS 1.3.17 takes over the connection's reading for the cancel and
    // leaves it without waking the worker, whose next read then waits for
    // ever; hence the wait for a call that stands still.
    void cancel() override {
        using Clock = std::chrono::steady_clock;
        constexpr auto kStill = std::chrono::milliseconds(40);
        std::uint64_t seen = m_driverCalls.load();
        auto since = Clock::now();
        for (;;) {
            {
                std::lock_guard lock(m_runningMutex);
                if (!m_running)
                    return; // the statement has ended
                const std::uint64_t now = m_driverCalls.load();
                if (now != seen) {
                    seen = now;
                    since = Clock::now();
                } else if (seen % 2 == 1 && Clock::now() - since >= kStill) {
                    SQLCancel(m_running);
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Shuts the driver's socket down: a read that waits for the server
    // returns at once, and the driver reports the link lost. The socket is
    // not closed here (the driver closes it when the session goes), so its
    // number cannot be taken over by another file meanwhile; it is checked
    // to be still the socket of this session.
    bool sever() override {
        if (m_socket < 0)
            return false;
        struct stat now {};
        if (::fstat(m_socket, &now) != 0 || !S_ISSOCK(now.st_mode) || now.st_ino != m_socketIno)
            return false;
        return ::shutdown(m_socket, SHUT_RDWR) == 0;
    }

    int openTransactionCount() override {
        QueryOptions options;
        options.commandTimeout = 5;
        MessageList ignored;
        const std::shared_ptr<ResultStore> count =
            query(QStringLiteral("SELECT @@TRANCOUNT"), options, ignored);
        if (!count || count->rowCount() < 1 || count->isNull(0, 0))
            return -1;
        return int(count->integer(0, 0));
    }

    void execute(const QString& text, const QList<QVariant>& params, const QueryOptions& options,
                 MessageList& messages) override {
        guarded([&] {
            Handle stmt = takeStatement(options);
            ParamBuffers buffers;
            bindParameters(stmt.get(), params, buffers);
            {
                Running running(*this, stmt.get());
                if (options.isCancelled())
                    return 0; // cancelled before it was sent
                // Result sets of a command are skipped; every statement runs and
                // the first error is raised once the rest has been read.
                runBatch(stmt.get(), text, options, messages, false);
            }
            keepStatement(std::move(stmt), options);
            return 0;
        });
    }

    std::shared_ptr<ResultStore> openTable(const QString& table, const QueryOptions& options,
                                           MessageList& messages) override {
        auto store = query(QStringLiteral("SELECT * FROM ") + quotedName(table), options, messages);
        if (!store)
            throw NoResultSetError();
        return store;
    }

    void appendRows(const QString& table, const ResultStore& store, qint64 firstRow) override {
        QStringList names, marks;
        for (const auto& c : store.columns()) {
            names.append(quotedName(c.name));
            marks.append(QStringLiteral("?"));
        }
        const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(quotedName(table), names.join(QStringLiteral(", ")),
                                     marks.join(QStringLiteral(", ")));
        for (qint64 r = firstRow; r < store.rowCount(); ++r) {
            QList<QVariant> values;
            for (int c = 0; c < store.columnCount(); ++c)
                values.append(store.value(r, c));
            MessageList ignored;
            execute(sql, values, QueryOptions{}, ignored);
        }
    }

    WriteTarget writeTarget(const ResultStore& store) override {
        const auto refuse = [](const QString& why) {
            return NotUpdatableError(
                QStringLiteral("Die Ergebnismenge kann nicht geändert werden: ") + why);
        };
        WriteTarget t;
        for (const ColumnInfo& c : store.columns()) {
            if (c.baseTable.isEmpty() || c.baseColumn.isEmpty())
                throw refuse(
                    c.name.isEmpty()
                        ? QStringLiteral("eine Spalte ohne Namen ist ein berechneter Ausdruck")
                        : QStringLiteral("die Spalte \"%1\" stammt aus keiner Tabelle "
                                         "(berechneter Ausdruck)")
                              .arg(c.name));
            if (t.table.isEmpty()) {
                t.table = c.baseTable;
                t.schema = c.baseSchema;
                t.catalog = c.baseCatalog;
            } else if (t.table.compare(c.baseTable, Qt::CaseInsensitive) != 0 ||
                       t.schema.compare(c.baseSchema, Qt::CaseInsensitive) != 0) {
                throw refuse(QStringLiteral("sie stammt aus mehreren Tabellen (\"%1\", \"%2\")")
                                 .arg(t.table, c.baseTable));
            }
            t.baseColumns.append(c.baseColumn);
            t.autoIncrement.append(c.autoIncrement);
            t.readOnly.append(c.readOnly);
        }
        if (t.table.isEmpty())
            throw refuse(QStringLiteral("sie hat keine Spalten"));
        for (int i = 0; i < t.baseColumns.size(); ++i)
            for (int j = 0; j < i; ++j)
                if (t.baseColumns.at(i).compare(t.baseColumns.at(j), Qt::CaseInsensitive) == 0)
                    throw refuse(QStringLiteral("die Spalte \"%1\" kommt mehrfach vor")
                                     .arg(t.baseColumns.at(i)));
        // The primary key, when the result shows all of its columns;
        // otherwise rows are found by all their values.
        const QStringList key = primaryKey(t);
        t.keyColumns = QList<bool>(t.baseColumns.size(), false);
        bool complete = !key.isEmpty();
        for (const QString& k : key) {
            bool found = false;
            for (int i = 0; i < t.baseColumns.size(); ++i)
                if (t.baseColumns.at(i).compare(k, Qt::CaseInsensitive) == 0) {
                    t.keyColumns[i] = true;
                    found = true;
                }
            complete = complete && found;
        }
        if (!complete)
            t.keyColumns.fill(false);
        return t;
    }

    ChangeResult executeChange(const QString& text, const QList<QVariant>& params,
                               bool atMostOne) override {
        return guarded([&] {
            // A change that may reach more than one row runs behind a save
            // point and is undone on the server when it did; the count comes
            // back as a result. Nothing touches the session's own transaction
            // mode, so a transaction the user opened stays as it is.
            const QString sql =
                atMostOne
                    ? QStringLiteral("DECLARE @tw_rows int; BEGIN TRAN; SAVE TRAN tw_row; ") +
                          text +
                          QStringLiteral(
                              "; SET @tw_rows = @@ROWCOUNT; IF @tw_rows > 1 ROLLBACK TRAN tw_row; "
                              "COMMIT TRAN; SELECT @tw_rows")
                    : text;
            ChangeResult result;
            Handle stmt = newStatement(QueryOptions{});
            ParamBuffers buffers;
            bindParameters(stmt.get(), params, buffers);
            MessageList infos;
            std::optional<DataError> firstError;
            bool counted = false;
            // Every result is read, also after an error, so the batch runs to
            // its end (its COMMIT) before anything is raised.
            auto step = [&](auto call) { return keepingFirstError(firstError, call); };
            SQLRETURN rc = step([&] {
                return check(SQLExecDirectW(stmt.get(), wide(sql), SQL_NTS), SQL_HANDLE_STMT,
                             stmt.get(), "SQLExecDirect", &infos);
            });
            while (rc != SQL_NO_DATA) {
                SQLSMALLINT cols = 0;
                if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &cols)))
                    cols = 0;
                if (cols > 0 && !result.rows && !firstError) {
                    step([&] {
                        bool capped = false;
                        result.rows = fetchResult(stmt.get(), cols, 0, infos, capped, m_rawWire);
                        return SQL_SUCCESS;
                    });
                } else if (cols == 0 && !counted) {
                    SQLLEN n = -1;
                    if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &n)) && n >= 0) {
                        result.rowsAffected = n;
                        counted = true;
                    }
                }
                rc = step([&] {
                    return check(SQLMoreResults(stmt.get()), SQL_HANDLE_STMT, stmt.get(),
                                 "SQLMoreResults", &infos);
                });
            }
            if (firstError)
                throw *firstError;
            if (atMostOne) {
                // The count is the result of the wrapper, not a row of the change.
                const std::shared_ptr<ResultStore> count = std::move(result.rows);
                result.rows.reset();
                result.rowsAffected = count && count->rowCount() > 0 && !count->isNull(0, 0)
                                          ? count->integer(0, 0)
                                          : -1;
                if (result.rowsAffected > 1)
                    throw DataError(
                        QStringLiteral("Die Zeile ist nicht eindeutig: %1 Zeilen der Tabelle "
                                       "stimmen mit ihr überein. Es wurde nichts geändert")
                            .arg(result.rowsAffected));
            } else if (!counted) {
                result.rowsAffected = -1; // the server did not say (SET NOCOUNT ON)
            }
            return result;
        });
    }

    QStringList tableNames(bool systemTables) override {
        return guarded([&] {
            Handle stmt = newStatement(QueryOptions{});
            const QString types = systemTables ? QStringLiteral("TABLE,VIEW,SYSTEM TABLE")
                                               : QStringLiteral("TABLE,VIEW");
            MessageList infos;
            check(SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, wide(types), SQL_NTS),
                  SQL_HANDLE_STMT, stmt.get(), "SQLTables", &infos);
            QStringList names;
            SQLWCHAR buf[520];
            for (;;) {
                if (check(SQLFetch(stmt.get()), SQL_HANDLE_STMT, stmt.get(), "SQLFetch") ==
                    SQL_NO_DATA)
                    break;
                SQLLEN ind = 0;
                check(SQLGetData(stmt.get(), 3, SQL_C_WCHAR, buf, sizeof buf, &ind),
                      SQL_HANDLE_STMT, stmt.get(), "SQLGetData");
                const QString name = ind == SQL_NULL_DATA
                                         ? QString()
                                         : fromWide(buf, std::min<SQLLEN>(ind / 2, 519));
                check(SQLGetData(stmt.get(), 4, SQL_C_WCHAR, buf, sizeof buf, &ind),
                      SQL_HANDLE_STMT, stmt.get(), "SQLGetData");
                const QString type = ind == SQL_NULL_DATA
                                         ? QString()
                                         : fromWide(buf, std::min<SQLLEN>(ind / 2, 519));
                // The server may ignore the type filter; keep only what was asked.
                if (type == QLatin1String("TABLE") || type == QLatin1String("VIEW") ||
                    (systemTables && type == QLatin1String("SYSTEM TABLE")))
                    names.append(name);
            }
            return names;
        });
    }

    QList<PropertyEntry> properties() override {
        QList<PropertyEntry> list;
        auto info = [&](const char* name, SQLUSMALLINT what) {
            SQLWCHAR buf[512];
            SQLSMALLINT length = 0;
            QVariant v;
            if (SQL_SUCCEEDED(SQLGetInfoW(m_dbc.get(), what, buf, sizeof buf, &length)))
                v = fromWide(buf, std::min<qsizetype>(length / 2, 511));
            list.append({QLatin1String(name), v});
        };
        auto infoInt = [&](const char* name, SQLUSMALLINT what, bool wide16) {
            QVariant v;
            if (wide16) {
                SQLUSMALLINT n = 0;
                if (SQL_SUCCEEDED(SQLGetInfoW(m_dbc.get(), what, &n, sizeof n, nullptr)))
                    v = int(n);
            } else {
                SQLUINTEGER n = 0;
                if (SQL_SUCCEEDED(SQLGetInfoW(m_dbc.get(), what, &n, sizeof n, nullptr)))
                    v = qlonglong(n);
            }
            list.append({QLatin1String(name), v});
        };
        auto infoBool = [&](const char* name, SQLUSMALLINT what) {
            SQLWCHAR buf[8];
            SQLSMALLINT length = 0;
            QVariant v;
            if (SQL_SUCCEEDED(SQLGetInfoW(m_dbc.get(), what, buf, sizeof buf, &length)) &&
                length >= 2)
                v = buf[0] == u'Y';
            list.append({QLatin1String(name), v});
        };

        info("DBMS Name", SQL_DBMS_NAME);
        info("DBMS Version", SQL_DBMS_VER);
        {
            SQLWCHAR buf[512];
            SQLINTEGER length = 0;
            QVariant v;
            if (SQL_SUCCEEDED(SQLGetConnectAttrW(m_dbc.get(), SQL_ATTR_CURRENT_CATALOG, buf,
                                                 sizeof buf, &length)))
                v = fromWide(buf, std::min<qsizetype>(length / 2, 511));
            list.append({QStringLiteral("Current Catalog"), v});
        }
        info("Server Name", SQL_SERVER_NAME);
        info("User Name", SQL_USER_NAME);
        if (list.last().value.toString().isEmpty()) {
            // FreeTDS reports no user name: the login of the connection string
            // is what the server knows the session by.
            const ConnectionString cs = ConnectionString::parse(m_params.connectionString);
            const QString login =
                isTrue(cs.value(u"Integrated Security")) ? QString() : cs.value(u"User ID");
            list.last().value = login.isEmpty() ? QVariant() : QVariant(login);
        }
        info("Provider Name", SQL_DRIVER_NAME);
        info("Provider Version", SQL_DRIVER_VER);
        info("Provider Friendly Name", SQL_DATA_SOURCE_NAME);
        info("ODBC Version", SQL_DRIVER_ODBC_VER);
        info("Catalog Term", SQL_CATALOG_TERM);
        info("Schema Term", SQL_SCHEMA_TERM);
        info("Table Term", SQL_TABLE_TERM);
        info("Procedure Term", SQL_PROCEDURE_TERM);
        infoBool("Multiple Results", SQL_MULT_RESULT_SETS);
        infoBool("Read-Only Data Source", SQL_DATA_SOURCE_READ_ONLY);
        infoInt("Maximum Row Size", SQL_MAX_ROW_SIZE, false);
        infoInt("Maximum Tables in SELECT", SQL_MAX_TABLES_IN_SELECT, true);
        infoInt("Active Statements", SQL_MAX_CONCURRENT_ACTIVITIES, true);
        infoInt("Identifier Case Sensitivity", SQL_IDENTIFIER_CASE, true);
        {
            SQLUINTEGER size = 0;
            QVariant v;
            if (SQL_SUCCEEDED(
                    SQLGetConnectAttrW(m_dbc.get(), SQL_ATTR_PACKET_SIZE, &size, 0, nullptr)) &&
                size > 0)
                v = qlonglong(size);
            list.append({QStringLiteral("Packet Size"), v});
        }
        list.append(stringProperties(m_params, m_loginTimeout));
        return list;
    }

private:
    // Runs `text` on `stmt` and reads every result the server sends, in
    // order. Each diagnostic goes to options.message as it arrives (with the
    // informational ones also in `messages`), each statement's row count
    // too. With `fetchRows`, the first result set (every one when the
    // options ask through resultEnded) is fetched; others are skipped. An
    // error does not stop the reading: the server goes on with the text
    // after most errors, and what it sends after one is still wanted. The
    // first error is raised at the end; a cancelled text ends without one.
    std::shared_ptr<ResultStore> runBatch(SQLHSTMT stmt, const QString& text,
                                          const QueryOptions& options, MessageList& messages,
                                          bool fetchRows) {
        std::optional<DataError> firstError;
        int resultIndex = -1; // of the last result set read
        auto report = [&](MessageList records) {
            for (DiagRecord& r : records) {
                if (r.sqlState == QLatin1String("01004"))
                    continue; // the driver's note on a value it cut (long values come in parts)
                r.resultIndex = resultIndex;
                if (r.kind == MessageKind::Info)
                    messages.append(r);
                if (options.message)
                    options.message(r);
            }
        };
        // Keeps the first error; a lost link ends the reading at once (the
        // driver then fails every further call with some statement error).
        auto failed = [&](const DataError& e) {
            if (connectionDead())
                throw ConnectionError(connectionLostMessage(), e.sqlState(), e.nativeError(),
                                      e.records());
            if (!firstError)
                firstError = e;
        };
        // One driver call: its messages are reported, a statement error is
        // kept (the first one is raised at the end) and reads as SQL_ERROR.
        auto step = [&](const char* name, auto&& call) -> SQLRETURN {
            MessageList infos;
            try {
                const SQLRETURN rc = check(call(), SQL_HANDLE_STMT, stmt, name, &infos);
                report(infos);
                return rc;
            } catch (const ConnectionError& e) {
                report(e.records());
                throw;
            } catch (const TimeoutError&) {
                throw;
            } catch (const DataError& e) {
                if (options.isCancelled())
                    return SQL_NO_DATA; // the driver's word on the cancel, not the server's
                report(e.records());
                failed(e);
                return SQL_ERROR;
            }
        };
        auto reportCount = [&] {
            SQLLEN n = -1;
            if (SQL_SUCCEEDED(SQLRowCount(stmt, &n)) && n >= 0)
                report({DiagRecord::rowCount(n)});
        };
        std::shared_ptr<ResultStore> first;
        SQLRETURN rc =
            step("SQLExecDirect", [&] { return SQLExecDirectW(stmt, wide(text), SQL_NTS); });
        int failedInARow = 0; // a driver that fails every call ends the reading
        while (rc != SQL_NO_DATA && !options.isCancelled()) {
            failedInARow = rc == SQL_ERROR ? failedInARow + 1 : 0;
            if (failedInARow > 1000)
                break;
            SQLSMALLINT cols = 0;
            if (rc != SQL_ERROR && !SQL_SUCCEEDED(SQLNumResultCols(stmt, &cols)))
                cols = 0;
            const bool wanted = fetchRows && (!first || options.resultEnded);
            if (cols > 0 && wanted) {
                bool capped = false;
                std::optional<DataError> cutShort;
                MessageList infos;
                std::shared_ptr<ResultStore> store = fetchResult(
                    stmt, cols, options.maxRecords, infos, capped, m_rawWire, &options, &cutShort);
                ++resultIndex;
                report(infos);
                if (!first)
                    first = store;
                const bool cancelled = options.isCancelled();
                if (cutShort)
                    report(cutShort->records());
                else if (!capped && !cancelled)
                    reportCount();
                if (options.resultEnded)
                    options.resultEnded(store, !cutShort && !cancelled);
                if (cutShort)
                    failed(*cutShort); // after the rows are handed over: a lost link raises
                if (capped || cancelled) {
                    // The rest is not wanted: closing the cursor cancels it.
                    SQLFreeStmt(stmt, SQL_CLOSE);
                    break;
                }
            } else if (cols == 0 && rc != SQL_ERROR) {
                reportCount();
            }
            rc = step("SQLMoreResults", [&] { return SQLMoreResults(stmt); });
        }
        if (firstError && !options.isCancelled())
            throw *firstError;
        return first;
    }

    // Values bound to parameters live here until the statement has run.
    struct ParamBuffers {
        std::vector<std::vector<char>> data;
        std::vector<SQLLEN> indicators;
    };

    // Runs one call; a statement error becomes the first error (when there
    // is none yet) instead of being raised, so the rest of the batch is read.
    template <class F>
    static SQLRETURN keepingFirstError(std::optional<DataError>& first, F&& call) {
        try {
            return call();
        } catch (const ConnectionError&) {
            throw;
        } catch (const TimeoutError&) {
            throw;
        } catch (const DataError& e) {
            if (!first)
                first = e;
            return SQL_SUCCESS;
        }
    }

    template <class F> auto guarded(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const ConnectionError&) {
            throw;
        } catch (const DataError& e) {
            if (connectionDead())
                throw ConnectionError(connectionLostMessage(), e.sqlState(), e.nativeError(),
                                      e.records());
            throw;
        }
    }

    // The FreeTDS driver tells the socket it talks over (its odbcss.h: 1301);
    // other drivers do not, and their sessions cannot be severed.
    void rememberSocket() {
        constexpr SQLUSMALLINT kFreeTdsSocket = 1301;
        if (!isFreeTdsDriver(m_settings.driver))
            return;
        SQLULEN socket = 0;
        SQLSMALLINT length = 0;
        if (SQLGetInfoW(m_dbc.get(), kFreeTdsSocket, &socket, sizeof socket, &length) !=
                SQL_SUCCESS ||
            length != SQLSMALLINT(sizeof socket))
            return;
        struct stat st {};
        const int fd = int(socket);
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            return;
        m_socket = fd;
        m_socketIno = st.st_ino;
    }

    bool connectionDead() const {
        SQLUINTEGER dead = SQL_CD_FALSE;
        if (!SQL_SUCCEEDED(
                SQLGetConnectAttr(m_dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)))
            return false;
        return dead == SQL_CD_TRUE;
    }

    // The statement kept from the last one that ended cleanly, or a new
    // one. A script of thousands of batches would otherwise have the driver
    // manager and the driver build a statement and its descriptors for each
    // batch and tear them down again.
    Handle takeStatement(const QueryOptions& options) {
        if (!m_spare)
            return newStatement(options);
        Handle stmt = std::move(m_spare);
        if (options.commandTimeout != m_spareTimeout)
            check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                                 SQLPOINTER(SQLULEN(std::max(options.commandTimeout, 0))), 0),
                  SQL_HANDLE_STMT, stmt.get(), "SQLSetStmtAttr(QUERY_TIMEOUT)");
        return stmt;
    }

    // Keeps a statement that has read all it was sent for the next one. A
    // cancelled one is dropped: the driver may still be settling the cancel.
    void keepStatement(Handle stmt, const QueryOptions& options) {
        if (options.isCancelled() || !SQL_SUCCEEDED(SQLFreeStmt(stmt.get(), SQL_CLOSE)) ||
            !SQL_SUCCEEDED(SQLFreeStmt(stmt.get(), SQL_UNBIND)) ||
            !SQL_SUCCEEDED(SQLFreeStmt(stmt.get(), SQL_RESET_PARAMS)))
            return;
        m_spare = std::move(stmt);
        m_spareTimeout = std::max(options.commandTimeout, 0);
    }

    Handle newStatement(const QueryOptions& options) {
        Handle stmt(SQL_HANDLE_STMT, m_dbc.get());
        if (options.commandTimeout > 0)
            check(SQLSetStmtAttr(stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                                 SQLPOINTER(SQLULEN(options.commandTimeout)), 0),
                  SQL_HANDLE_STMT, stmt.get(), "SQLSetStmtAttr(QUERY_TIMEOUT)");
        return stmt;
    }

    static MessageList informational(const MessageList& in) {
        MessageList out;
        for (const auto& r : in)
            if (r.sqlState.startsWith(QLatin1String("01")) && r.sqlState != QLatin1String("01004"))
                out.append(r);
        return out;
    }

    void bindParameters(SQLHSTMT stmt, const QList<QVariant>& params, ParamBuffers& b) {
        b.data.resize(std::size_t(params.size()));
        b.indicators.resize(std::size_t(params.size()));
        for (int i = 0; i < params.size(); ++i) {
            const QVariant& v = params.at(i);
            auto& data = b.data[std::size_t(i)];
            SQLLEN& ind = b.indicators[std::size_t(i)];
            SQLSMALLINT cType = SQL_C_WCHAR, sqlType = SQL_WVARCHAR;
            SQLULEN size = 1;
            SQLSMALLINT decimals = 0;
            if (!v.isValid() || v.isNull()) {
                cType = SQL_C_CHAR;
                sqlType = SQL_VARCHAR;
                data.resize(1);
                ind = SQL_NULL_DATA;
            } else {
                switch (v.typeId()) {
                case QMetaType::Bool:
                case QMetaType::Int:
                case QMetaType::UInt:
                case QMetaType::LongLong:
                case QMetaType::Short:
                case QMetaType::UShort: {
                    const std::int64_t x = v.toLongLong();
                    data.resize(8);
                    std::memcpy(data.data(), &x, 8);
                    cType = SQL_C_SBIGINT;
                    sqlType = SQL_BIGINT;
                    size = 19;
                    ind = 8;
                    break;
                }
                case QMetaType::Double:
                case QMetaType::Float: {
                    const double x = v.toDouble();
                    data.resize(8);
                    std::memcpy(data.data(), &x, 8);
                    cType = SQL_C_DOUBLE;
                    sqlType = SQL_DOUBLE;
                    size = 15;
                    ind = 8;
                    break;
                }
                case QMetaType::QByteArray: {
                    const QByteArray x = v.toByteArray();
                    data.assign(x.begin(), x.end());
                    if (data.empty())
                        data.push_back(0);
                    cType = SQL_C_BINARY;
                    sqlType = x.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
                    size = SQLULEN(std::max<qsizetype>(x.size(), 1));
                    ind = SQLLEN(x.size());
                    break;
                }
                case QMetaType::QDateTime: {
                    // A typed timestamp: text would be read by the server's
                    // date format (a German login reads yyyy-dd-mm).
                    const QDateTime dt = v.toDateTime();
                    SQL_TIMESTAMP_STRUCT ts{};
                    ts.year = SQLSMALLINT(dt.date().year());
                    ts.month = SQLUSMALLINT(dt.date().month());
                    ts.day = SQLUSMALLINT(dt.date().day());
                    ts.hour = SQLUSMALLINT(dt.time().hour());
                    ts.minute = SQLUSMALLINT(dt.time().minute());
                    ts.second = SQLUSMALLINT(dt.time().second());
                    ts.fraction = SQLUINTEGER(dt.time().msec()) * 1000000u;
                    data.resize(sizeof ts);
                    std::memcpy(data.data(), &ts, sizeof ts);
                    cType = SQL_C_TYPE_TIMESTAMP;
                    sqlType = SQL_TYPE_TIMESTAMP;
                    size = 23;
                    decimals = 3;
                    ind = SQLLEN(sizeof ts);
                    break;
                }
                default: {
                    const QString x = v.toString();
                    const auto bytes = std::size_t(x.size()) * 2;
                    data.resize(bytes + 2);
                    std::memcpy(data.data(), x.utf16(), bytes);
                    sqlType = x.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
                    size = SQLULEN(std::max<qsizetype>(x.size(), 1));
                    ind = SQLLEN(bytes);
                    break;
                }
                }
            }
            check(SQLBindParameter(stmt, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT, cType, sqlType, size,
                                   decimals, data.data(), SQLLEN(data.size()), &ind),
                  SQL_HANDLE_STMT, stmt, "SQLBindParameter");
        }
    }

    // Names of the primary key columns of the target's table, in key order.
    QStringList primaryKey(const WriteTarget& t) {
        Handle stmt = newStatement(QueryOptions{});
        MessageList infos;
        const QString catalog = t.catalog, schema = t.schema, table = t.table;
        check(SQLPrimaryKeysW(stmt.get(), catalog.isEmpty() ? nullptr : wide(catalog),
                              catalog.isEmpty() ? 0 : SQL_NTS,
                              schema.isEmpty() ? nullptr : wide(schema),
                              schema.isEmpty() ? 0 : SQL_NTS, wide(table), SQL_NTS),
              SQL_HANDLE_STMT, stmt.get(), "SQLPrimaryKeys", &infos);
        QList<QPair<int, QString>> parts;
        SQLWCHAR buf[260];
        for (;;) {
            if (check(SQLFetch(stmt.get()), SQL_HANDLE_STMT, stmt.get(), "SQLFetch") == SQL_NO_DATA)
                break;
            SQLLEN ind = 0;
            check(SQLGetData(stmt.get(), 4, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_HANDLE_STMT,
                  stmt.get(), "SQLGetData");
            const QString column = ind == SQL_NULL_DATA
                                       ? QString()
                                       : fromWide(buf, std::clamp<SQLLEN>(ind / 2, 0, 259));
            SQLSMALLINT seq = 0;
            check(SQLGetData(stmt.get(), 5, SQL_C_SSHORT, &seq, sizeof seq, &ind), SQL_HANDLE_STMT,
                  stmt.get(), "SQLGetData");
            if (!column.isEmpty())
                parts.append({seq, column});
        }
        std::sort(parts.begin(), parts.end());
        QStringList key;
        for (const auto& p : parts)
            key.append(p.second);
        return key;
    }

    static QString quotedName(const QString& name) {
        if (name.startsWith(QLatin1Char('[')) || name.contains(QLatin1Char('.')))
            return name; // already quoted or qualified: as the caller wrote it
        QString n = name;
        n.replace(QLatin1Char(']'), QStringLiteral("]]"));
        return QLatin1Char('[') + n + QLatin1Char(']');
    }

    // The statement a worker thread runs, so that cancel() from another
    // thread reaches it. The handle is freed only after it is unregistered,
    // and cancel() calls the driver under the same lock, so it never meets
    // a freed handle. A cancel that comes before the statement is
    // registered is seen through the options' flag, which the caller checks
    // before it sends the statement: the driver must not be asked to cancel
    // a statement that has not started (FreeTDS then releases a lock it
    // does not hold).
    class Running {
    public:
        Running(OdbcConnection& owner, SQLHSTMT stmt)
            : m_owner(owner), m_outerCalls(t_driverCalls) {
            std::lock_guard lock(owner.m_runningMutex);
            owner.m_running = stmt;
            t_driverCalls = &owner.m_driverCalls;
        }
        ~Running() {
            std::lock_guard lock(m_owner.m_runningMutex);
            m_owner.m_running = nullptr;
            t_driverCalls = m_outerCalls;
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        OdbcConnection& m_owner;
        std::atomic<std::uint64_t>* m_outerCalls;
    };

    std::mutex m_runningMutex;
    std::atomic<std::uint64_t> m_driverCalls{0}; // the worker's, see t_driverCalls
    SQLHSTMT m_running = nullptr;
    ConnectionParams m_params;
    DriverSettings m_settings;
    // The driver hands the server's bytes over for SQL_C_BINARY (see planColumn).
    bool m_rawWire = false;
    int m_loginTimeout = 15;
    Handle m_env;
    Handle m_dbc;
    Handle m_spare;         // see takeStatement; freed before the connection
    int m_spareTimeout = 0; // its query time-out in seconds
    int m_socket = -1;      // the driver's socket, when it tells
    ino_t m_socketIno = 0;
};

} // namespace

std::unique_ptr<ProviderConnection> OdbcProvider::connect(const ConnectionParams& params,
                                                          MessageList& messages) {
    return std::make_unique<OdbcConnection>(params, messages);
}

QList<PropertyEntry> OdbcProvider::closedProperties(const ConnectionParams& params) const {
    QList<PropertyEntry> list;
    list.append({QStringLiteral("Provider Name"), QVariant(settingsFromEnvironment().driver)});
    list.append(stringProperties(params, params.connectionTimeout));
    return list;
}

} // namespace data::odbc
