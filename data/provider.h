#pragma once
// The seam between the ADO-style objects (TADOConnection, TADODataSet,
// TADOCommand) and the code that reaches a data store. A connection picks its
// provider by the "Provider" value of its connection string: "SQLOLEDB.1"
// is the SQL Server provider over ODBC; further providers (the desktop-file
// provider of the export) register themselves at run time.

#include "data/dataerror.h"
#include "data/resultstore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <functional>
#include <memory>

namespace data {

struct PropertyEntry {
    QString name;
    QVariant value; // invalid QVariant: the property has no value
};

// Messages the store reported for an operation without failing it (PRINT,
// low-severity RAISERROR, database changes), in the order they came.
using MessageList = QList<DiagRecord>;

struct QueryOptions {
    int commandTimeout = 0; // seconds; 0: no limit
    qint64 maxRecords = 0;  // 0: no limit
    // For a statement run on a worker thread: called on that thread after
    // each batch of rows the provider stored in the result (from the first
    // one on), so the rows can be handed on while the fetch goes on.
    std::function<void(ResultStore&)> progress;
    // Set (from any thread) when the caller cancelled the statement; the
    // provider then stops where it is, keeps the rows it has and returns
    // normally.
    const std::atomic<bool>* cancelled = nullptr;
    bool isCancelled() const { return cancelled && cancelled->load(); }
    // Called on the running thread for every diagnostic of the statement as
    // the driver hands it over, in order: messages, errors (also those that
    // do not stop the text) and each statement's row count.
    std::function<void(const DiagRecord&)> message;
    // When set, query() reads every result set of the text, not only the
    // first, and calls this once each has been read: with whether it was
    // read to its end (false when an error or a cancel cut it short).
    // `progress` is called for the rows of each of them.
    std::function<void(const std::shared_ptr<ResultStore>&, bool complete)> resultEnded;
};

struct ConnectionParams {
    QString connectionString;
    // Initialisation properties set by name before connecting ("Data Source",
    // "Locale Identifier", "Extended Properties", ...), in the order set.
    QList<PropertyEntry> properties;
    int connectionTimeout = 15; // seconds; 0: no limit
};

// Where the rows of a result can be written back: its one base table and,
// for each result column, the table column it shows.
struct WriteTarget {
    QString catalog;
    QString schema;
    QString table;
    QStringList baseColumns;   // per result column
    QList<bool> keyColumns;    // per result column: part of the primary key
    QList<bool> autoIncrement; // per result column: assigned by the server
    QList<bool> readOnly;      // per result column: computed by the server, never written
    bool hasKey() const { return keyColumns.contains(true); }
};

// What a statement that changes rows did.
struct ChangeResult {
    qint64 rowsAffected = 0;
    std::shared_ptr<ResultStore> rows; // its first result set, when it had one
};

// One open session with a data store. Methods raise DataError (or a subclass)
// on failure; ConnectionError means the session is unusable and the owner
// drops it.
class ProviderConnection {
public:
    virtual ~ProviderConnection() = default;

    // Runs a text and returns its first result set whole, or nullptr when the
    // text produced none. Later results are read and dropped unless the
    // options ask for them (resultEnded). Every statement of the text runs;
    // an error (also one after rows of a result set) is raised once the text
    // has ended, and the rows read before it are kept and handed over as
    // resultEnded(store, false). `messages` collects the informational
    // messages; options.message sees every diagnostic in order.
    virtual std::shared_ptr<ResultStore> query(const QString& text, const QueryOptions& options,
                                               MessageList& messages) = 0;
    // Runs a text whose results are not used. `params` are bound in order to
    // the "?" markers of the text.
    virtual void execute(const QString& text, const QList<QVariant>& params,
                         const QueryOptions& options, MessageList& messages) = 0;
    // Opens a table by name (command type table): its columns and rows.
    virtual std::shared_ptr<ResultStore>
    openTable(const QString& table, const QueryOptions& options, MessageList& messages) = 0;
    // Writes the rows [firstRow, store.rowCount()) that were appended to a
    // store opened by openTable(table).
    virtual void appendRows(const QString& table, const ResultStore& store, qint64 firstRow) = 0;
    // The same for a block of rows the dataset hands over whole (a server-side cursor drops
    // the rows it sent): the provider may keep the rows, and leaves `rows` empty, with its
    // columns, for the rows that follow. By default appendRows, then clear.
    virtual void takeRows(const QString& table, ResultStore& rows);
    // The appended rows are complete (the dataset's UpdateBatch): a provider that keeps a
    // table open for appending completes it here. Nothing by default.
    virtual void endAppend(const QString& /*table*/) {}
    // Names of tables and views (and system tables when asked), store order,
    // without owner.
    virtual QStringList tableNames(bool systemTables) = 0;
    // What the provider reports about the open session.
    virtual QList<PropertyEntry> properties() = 0;
    // Asks the store to stop the statement running on this session on
    // another thread (whose options carry the cancelled flag, set before
    // this is called). Safe to call from any thread; nothing by default.
    virtual void cancel() {}
    // Ends the session from any thread without waiting for the server: the
    // call running on it returns with a lost link. For a server that does
    // not answer a cancel. False when the provider cannot do that.
    virtual bool sever() { return false; }
    // The number of open transactions of the session (@@TRANCOUNT).
    virtual int openTransactionCount() { return 0; }

    // Writing rows of a result back. writeTarget describes where the rows
    // of `store` (a result of query()) can be written, or raises
    // NotUpdatableError saying why they cannot. executeChange runs one
    // statement with `params` bound to its "?" markers and tells how many
    // rows it changed; with `atMostOne`, a statement that changed more than
    // one row is undone and raises. The defaults refuse.
    virtual WriteTarget writeTarget(const ResultStore& store);
    virtual ChangeResult executeChange(const QString& text, const QList<QVariant>& params,
                                       bool atMostOne);
};

class Provider {
public:
    virtual ~Provider() = default;
    virtual QString name() const = 0;
    virtual std::unique_ptr<ProviderConnection> connect(const ConnectionParams& params,
                                                        MessageList& messages) = 0;
    // What a closed connection reports as its properties.
    virtual QList<PropertyEntry> closedProperties(const ConnectionParams& params) const;
};

using ProviderFactory = std::function<std::shared_ptr<Provider>()>;

// Makes `providerName` (compared without regard to case) available to every
// connection. A later registration of the same name replaces the earlier one.
void registerProvider(const QString& providerName, ProviderFactory factory);
// The provider registered under that name; raises DataError when there is none.
std::shared_ptr<Provider> createProvider(const QString& providerName);

} // namespace data
