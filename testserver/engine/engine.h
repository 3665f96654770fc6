#pragma once
// The SQL side of tds-testserver: a session over SQLite files that executes
// T-SQL batches and RPC calls and reports what a SQL Server would send back,
// as a stream of events. It knows nothing of packets or sockets; the protocol
// side (testserver/) turns each event into TDS tokens.
//
// Values travel in SQLite's own value model; the protocol side encodes a value
// according to the SQL Server type of its column (a DateTime column carries
// text "YYYY-MM-DD HH:MM:SS[.fff]", a Money or Decimal column an integer, a
// real or a decimal text, a UniqueIdentifier column text, Binary/Image bytes).

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tds {

enum class SqlType {
    Int,
    BigInt,
    SmallInt,
    TinyInt,
    Bit,
    Float,
    Real,
    Money,
    SmallMoney,
    Decimal,
    DateTime,
    SmallDateTime,
    Date,
    Time,
    Char,
    VarChar,
    NChar,
    NVarChar,
    Text,
    NText,
    Image,
    Binary,
    VarBinary,
    UniqueIdentifier,
    SqlVariant,
    DateTimeOffset, // text "YYYY-MM-DD hh:mm:ss[.fffffff] +hh:mm", local time and offset
    DateTime2,      // text "YYYY-MM-DD hh:mm:ss[.fffffff]" with `scale` fractional digits
    Xml,            // UTF-8 text of an XML document or fragment
    Udt,            // a CLR type (ColumnType::udt says which): its serialized bytes
};

// The CLR types SQL Server ships as system types.
enum class UdtKind : std::uint8_t { None, Geography, Geometry, HierarchyId };

struct ColumnType {
    SqlType type = SqlType::NVarChar;
    int length = 0;    // chars for (n)char/(n)varchar, bytes for binary; -1 = max
    int precision = 0; // decimal
    int scale = 0;     // decimal, time, datetime2, datetimeoffset
    bool nullable = true;
    bool identity = false;
    bool rowVersion = false;     // timestamp/rowversion: binary(8) the server assigns
    UdtKind udt = UdtKind::None; // which CLR type, for SqlType::Udt
    // Character data: the SQL Server collation of the column; empty = the server's.
    std::string collation;
};

struct Column {
    std::string name;
    ColumnType type;
    std::string table;      // base table name when known (for browse info), else empty
    std::string baseColumn; // the table column the value comes from; empty for expressions
    bool key = false;       // baseColumn is part of its table's primary key
};

struct Null {
    friend bool operator==(Null, Null) { return true; }
};
using Blob = std::vector<std::uint8_t>;
// Text is UTF-8.
using Value = std::variant<Null, std::int64_t, double, std::string, Blob>;

// DONE status bits as TDS defines them.
enum DoneStatus : std::uint16_t {
    DoneFinal = 0x00,
    DoneMore = 0x01,
    DoneError = 0x02,
    DoneInXact = 0x04,
    DoneCount = 0x10,
    DoneAttn = 0x20,
    DoneSrvError = 0x100, // an error severe enough that the results are to be discarded
};
enum class DoneKind { Done, DoneProc, DoneInProc };

struct Message {
    bool error = false;      // ERROR token (else INFO)
    std::int32_t number = 0; // e.g. 208, 102, 5701
    std::uint8_t state = 1;
    std::uint8_t severity = 0; // class: <= 10 informational
    std::string text;
    std::string procName;
    std::int32_t line = 1;
};

// Receives the reply of one request in order. row() returns false when the
// client has gone or cancelled; the engine then stops the statement.
class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void columns(const std::vector<Column>& cols) = 0;
    // Where the columns of the last columns() come from (base table, base
    // column, key), sent only while the session runs with SET NO_BROWSETABLE ON.
    virtual void browseInfo(const std::vector<Column>& cols) { (void)cols; }
    virtual bool row(const std::vector<Value>& values) = 0;
    virtual void done(DoneKind kind, std::uint16_t status, std::uint64_t rowCount,
                      std::uint16_t curCmd = 0xC1) = 0;
    virtual void message(const Message& m) = 0;
    // Sends what the reply holds so far to the client at once (RAISERROR
    // WITH NOWAIT); the reply goes on.
    virtual void flush() {}
    virtual void databaseChanged(const std::string& oldDb, const std::string& newDb) = 0;
    virtual void returnStatus(std::int32_t status) = 0;
    virtual void returnValue(const std::string& name, const ColumnType& type, const Value& value,
                             bool output) = 0;
};

// The rows of a table-valued parameter, with the columns its type has.
struct TableArgument {
    std::string typeSchema, typeName; // as the client names the table type
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
};

struct RpcParam {
    std::string name; // with leading '@', may be empty
    ColumnType type;
    Value value;
    bool output = false;
    std::shared_ptr<const TableArgument> table; // a table-valued parameter (value NULL)
};

struct RpcCall {
    std::string procName; // as sent (may be "[db]..sp_x" or "sp_executesql"), empty if procId
    int procId = 0; // TDS well-known proc id (10 sp_executesql, 11 sp_prepare, 12 sp_execute, 13
                    // sp_prepexec, 15 sp_unprepare, ...)
    std::vector<RpcParam> params;
};

struct ServerConfig {
    std::string dataDir;                       // one SQLite file per database: <name>.db
    std::map<std::string, std::string> logins; // login name -> password
    std::vector<std::string> windowsLogins;    // "DOMAIN\\user" or "user@REALM"
    std::string kerberosKeytab; // service keys for integrated logins; empty = refuse them
    std::string serverName = "TESTSERVER";       // @@SERVERNAME
    std::string instanceName;                    // empty = default instance
    std::string productVersion = "9.00.1399.06"; // what xp_msver and @@VERSION report
    // The newest TDS version the server speaks, as LOGINACK spells it: a client
    // asking for more gets this one (7.1 0x71000001 ... 7.4 0x74000004).
    std::uint32_t tdsVersion = 0x74000004;
};

struct LoginResult {
    bool ok = false;
    std::vector<Message> messages; // on failure: the error(s) to send before closing
    std::string database;          // on success: the current database after login
    std::vector<Message> infos;    // on success: 5701 / 5703 infos to send
};

// One per client connection; used from one thread at a time.
class Session {
public:
    Session(const ServerConfig& config);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // SQL Server authentication. `database` is the LOGIN7 database ("" = the login's default).
    LoginResult login(const std::string& user, const std::string& password,
                      const std::string& database);
    // A Windows login whose identity the protocol side has established
    // (integrated authentication); `login` is one of the configured
    // Windows logins, `account` the client's DOMAIN\\user name.
    LoginResult loginTrusted(const std::string& login, const std::string& account,
                             const std::string& database);
    // The message a SQL Server sends when integrated (SSPI) authentication is refused.
    static Message integratedLoginRefused();

    // Both end with a DONE (or DONEPROC) without DONE_MORE. When `cancel` is
    // set, or row() returns false, the engine stops and sends nothing more;
    // the protocol side then sends the DONE with DONE_ATTN.
    void executeBatch(std::string_view sql, ResultSink& sink, const std::atomic<bool>& cancel);
    void executeRpc(const RpcCall& call, ResultSink& sink, const std::atomic<bool>& cancel);

    std::string currentDatabase() const;

    // Transaction-manager requests (TDS 7.2+ clients send these instead of
    // BEGIN TRAN / COMMIT / ROLLBACK text). On failure `error` gets the
    // message to send (e.g. 3902 for a COMMIT without a transaction).
    bool beginTransaction(Message* error = nullptr);
    bool commitTransaction(Message* error = nullptr);
    bool rollbackTransaction(Message* error = nullptr);
    // @@TRANCOUNT: 0 when no transaction is open.
    int transactionCount() const;
    // True once an error of severity 20 or more ended the session: the
    // protocol side sends the rest of the reply and closes the connection.
    bool connectionEnded() const;

    struct Impl; // internal; public only so that the engine's SQL callbacks can name it

private:
    // `shownName` is the name the refusal names: what the client gave.
    LoginResult openLoginDatabase(const std::string& login, const std::string& shownName,
                                  const std::string& database);
    std::unique_ptr<Impl> d;
};

// Sample data: creates database "Musterfirma" in dataDir when it is missing.
void createSampleDatabase(const std::string& dataDir);
// (Re)creates table Messwerte with n rows in "Musterfirma".
void createBigRows(const std::string& dataDir, std::int64_t n);

} // namespace tds
