#pragma once
// The connection object: holds an ADO connection string, opens a session with
// the provider that string names, and offers what callers read from an open
// connection (informational messages, provider properties, table names).

#include "data/dataerror.h"
#include "data/handoff.h"
#include "data/provider.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class TADODataSet;
class TADOCommand;

enum TCursorLocation { clUseServer, clUseClient };
enum TCursorType { ctUnspecified, ctOpenForwardOnly, ctKeyset, ctDynamic, ctStatic };
enum TADOLockType { ltUnspecified, ltReadOnly, ltPessimistic, ltOptimistic, ltBatchOptimistic };
enum TCommandType { cmdUnknown, cmdText, cmdTable, cmdStoredProc, cmdFile, cmdTableDirect };

// The messages the provider reported for the connection's last operation
// without failing it.
class TADOErrors {
public:
    int Count() const { return int(m_items.size()); }
    QString Description(int i) const { return m_items.at(i).message; }
    const data::DiagRecord& Item(int i) const { return m_items.at(i); }
    const data::MessageList& items() const { return m_items; }

private:
    friend class TADOConnection;
    data::MessageList m_items;
};

class TADOConnection;

// The connection's properties: while open, what the provider reports; while
// closed, what the connection string and the properties set by name say.
// Setting by name is allowed while the connection is closed and passes the
// value to the provider when it connects ("Data Source", "Locale Identifier",
// "Extended Properties", ...).
class TADOProperties {
public:
    int Count() const;
    QString Name(int i) const;
    QVariant Value(int i) const; // invalid QVariant for a property without value
    // Value by name (case-insensitive); invalid QVariant when absent.
    QVariant Value(const QString& name) const;
    void setValue(const QString& name, const QVariant& value);

private:
    friend class TADOConnection;
    explicit TADOProperties(TADOConnection* owner) : m_owner(owner) {}
    const QList<data::PropertyEntry>& list() const;
    TADOConnection* m_owner;
};

class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject* parent = nullptr);
    ~TADOConnection() override;

    // Set while closed (StateError otherwise); read back exactly as set.
    QString ConnectionString() const { return m_connectionString; }
    void setConnectionString(const QString& connectionString);
    // The "Provider" value of the connection string; setting it rewrites that
    // value in the string (or prepends it).
    QString Provider() const;
    void setProvider(const QString& providerName);

    int ConnectionTimeout() const { return m_connectionTimeout; } // seconds, 0: none; 15 default
    void setConnectionTimeout(int seconds) { m_connectionTimeout = seconds; }
    int CommandTimeout() const { return m_commandTimeout; } // 30 default
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
    bool LoginPrompt() const { return m_loginPrompt; } // stored only: there is never a prompt
    void setLoginPrompt(bool prompt) { m_loginPrompt = prompt; }
    TCursorLocation CursorLocation() const { return m_cursorLocation; }
    void setCursorLocation(TCursorLocation location) { m_cursorLocation = location; }

    bool Connected() const { return m_session != nullptr; }
    // Setting true opens (nothing happens when open); false closes.
    void setConnected(bool connected);
    void Open();
    // Closes every dataset open on the connection, then the session. Never
    // raises.
    void Close();

    TADOErrors& Errors() { return m_errors; }
    const TADOErrors& Errors() const { return m_errors; }
    TADOProperties& Properties() { return m_properties; }
    const TADOProperties& Properties() const { return m_properties; }

    // Replaces `list` with the names of the current database's tables and
    // views (and system tables when asked), in the order the server lists
    // them, without owner. Opens the connection when closed.
    void GetTableNames(QStringList& list, bool systemTables = false);

    // --- used by datasets and commands -------------------------------------
    // The open session, opening the connection first when it is closed.
    data::ProviderConnection& session();
    // Starts an operation: empties the error collection.
    void beginOperation();
    // Ends an operation: its informational messages become the error
    // collection. A ConnectionError raised by an operation goes through
    // handleFailure(), which drops the session so the next open reconnects.
    void endOperation(const data::MessageList& messages);
    void handleFailure(const data::DataError& error);
    void attach(TADODataSet* dataSet);
    void detach(TADODataSet* dataSet);

    // --- statements on a worker thread ------------------------------------
    // The work runs on a thread of its own with the session (connecting
    // there first when the connection is closed), so the caller's thread
    // never waits on the server. `done` runs on the connection's thread once
    // the work has ended: its error (null on success), whether it was
    // cancelled, and the messages it collected. One statement at a time:
    // StateError while another runs. The error collection is emptied at the
    // start; the callers set it from the messages.
    using AsyncWork =
        std::function<void(data::ProviderConnection& session, const std::atomic<bool>& cancelled,
                           data::MessageList& messages)>;
    using AsyncDone =
        std::function<void(std::exception_ptr error, bool cancelled, data::MessageList messages)>;
    void runAsync(AsyncWork work, AsyncDone done);
    bool Busy() const { return m_run != nullptr; }
    // Asks the server to stop the running statement (it receives an
    // attention); returns at once. `done` then reports the work cancelled.
    void Cancel();
    // Cancels a running statement and waits until it has ended; its `done`
    // runs before this returns. For closing and tearing down.
    void waitIdle();

signals:
    void connectedChanged(bool connected);

private:
    friend class TADOProperties;
    data::ConnectionParams params() const;
    struct AsyncRun;
    void finishAsync(std::uint64_t id);

    QString m_connectionString;
    int m_connectionTimeout = 15;
    int m_commandTimeout = 30;
    bool m_loginPrompt = false;
    TCursorLocation m_cursorLocation = clUseClient;
    QList<data::PropertyEntry> m_initProperties;
    std::unique_ptr<data::ProviderConnection> m_session;
    QList<QPointer<TADODataSet>> m_dataSets;
    TADOErrors m_errors;
    TADOProperties m_properties{this};
    mutable QList<data::PropertyEntry> m_propertyCache;
    std::unique_ptr<AsyncRun> m_run;
    data::Handoff* m_handoff; // the worker's end comes back through it
    std::uint64_t m_runCount = 0;
};
