#pragma once
// The connection object: holds an ADO connection string, opens a session with
// the provider that string names, and offers what callers read from an open
// connection (informational messages, provider properties, table names).

#include "data/dataerror.h"
#include "data/handoff.h"
#include "data/provider.h"

#include <QHash>
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
#include <utility>

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

namespace data {

// One batch of a script, and how often it runs in a row (a count after GO).
struct ScriptStep {
    QString text;
    int repeat = 1;
};

// What the caller hears of a script while it runs, on the connection's thread,
// in order with the messages and rows of each step. `ended` gets the error
// that ended the step, null when it ran through.
struct ScriptEvents {
    std::function<void(int step)> started;
    std::function<void(int step, std::exception_ptr error)> ended;
};

// On the worker: runs the steps one after the other, each as often as it
// repeats, through `one` (the step's text), without waiting for the caller's
// thread between them. The error of a step ends that step only; a lost session
// (ConnectionError) ends the script and is raised; a cancel ends it once the
// running step has stopped.
void runScriptSteps(Handoff& handoff, const QList<ScriptStep>& steps,
                    const std::shared_ptr<const ScriptEvents>& events,
                    const std::atomic<bool>& cancelled,
                    const std::function<void(const QString& text)>& one);

} // namespace data

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
    // Everything the server and the driver reported for the last statement,
    // in the order it came: messages, errors (also those after rows or in a
    // later result set) and each statement's row count. For a statement on
    // the worker it grows while the statement runs (messageArrived).
    const data::MessageList& Messages() const { return m_messages; }

    // Whether the last failure ended the session: the link broke, the server
    // went away or ended the session (severity 20 and above), the login
    // failed, or a cancel was not answered. The session is closed then (the
    // next statement connects anew; open transactions and #temp tables are
    // gone). After any other error the session stays open with its
    // transactions, #temp tables and SET options. False again once a session
    // is open.
    bool isBroken() const { return m_broken; }
    QString brokenReason() const { return m_brokenReason; }
    // @@TRANCOUNT of the open session: 0 when closed, -1 while a statement
    // runs or when it cannot be asked. Runs a short statement on this thread.
    int openTransactionCount();
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
    // collection, `all` (every diagnostic in order) Messages(). A
    // ConnectionError raised by an operation goes through handleFailure(),
    // which drops the session so the next open reconnects.
    void endOperation(const data::MessageList& messages);
    void setMessages(const data::MessageList& all) { m_messages = all; }
    // A ConnectionError drops the session (isBroken); datasets keep the rows
    // they have. Other errors leave the session as it is.
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
    // `report` hands a diagnostic to the connection's thread as it arrives
    // (Messages(), messageArrived).
    using Reporter = std::function<void(const data::DiagRecord&)>;
    using AsyncWork =
        std::function<void(data::ProviderConnection& session, const std::atomic<bool>& cancelled,
                           data::MessageList& messages, const Reporter& report)>;
    using AsyncDone =
        std::function<void(std::exception_ptr error, bool cancelled, data::MessageList messages)>;
    void runAsync(AsyncWork work, AsyncDone done);
    bool Busy() const { return m_run != nullptr; }
    // Where the work hands its calls to this thread: in order with the
    // statement's messages and before its `done`.
    data::Handoff& handoff() { return *m_handoff; }
    // Asks the server to stop the running statement (it receives an
    // attention); returns at once. `done` then reports the work cancelled.
    // A server that has not answered the cancel after cancelGrace() loses
    // the session: the statement ends with a ConnectionError
    // (kCancelUnanswered), the rows read until then stay, and the next
    // statement connects anew.
    void Cancel();
    int cancelGrace() const { return m_cancelGraceMs; } // milliseconds, 5000 default
    void setCancelGrace(int milliseconds) { m_cancelGraceMs = milliseconds; }
    // Cancels a running statement and waits until it has ended (at most
    // about twice cancelGrace() when the provider can end its session); its
    // `done` runs before this returns. For closing and tearing down.
    void waitIdle();

    static constexpr const char* kCancelUnanswered =
        "Der Server hat auf den Abbruch nicht geantwortet; die Verbindung wurde getrennt.";

signals:
    void connectedChanged(bool connected);
    // A diagnostic of the running statement arrived (also in Messages()).
    void messageArrived(const data::DiagRecord& record);

private:
    friend class TADOProperties;
    data::ConnectionParams params() const;
    struct AsyncRun;
    void finishAsync(std::uint64_t id);
    void deliverMessage(std::uint64_t id, const data::DiagRecord& record);
    void severRun(std::uint64_t id);
    void dropSession(const QString& reason);

    QString m_connectionString;
    int m_connectionTimeout = 15;
    int m_commandTimeout = 30;
    bool m_loginPrompt = false;
    TCursorLocation m_cursorLocation = clUseClient;
    QList<data::PropertyEntry> m_initProperties;
    std::unique_ptr<data::ProviderConnection> m_session;
    // The open datasets, by the order they were attached in: a script's
    // thousands of result sets come and go without a search through them.
    QHash<const TADODataSet*, std::pair<quint64, QPointer<TADODataSet>>> m_dataSets;
    quint64 m_attachCount = 0;
    TADOErrors m_errors;
    data::MessageList m_messages;
    bool m_broken = false;
    QString m_brokenReason;
    int m_cancelGraceMs = 5000;
    TADOProperties m_properties{this};
    mutable QList<data::PropertyEntry> m_propertyCache;
    std::unique_ptr<AsyncRun> m_run;
    data::Handoff* m_handoff; // the worker's end comes back through it
    std::uint64_t m_runCount = 0;
};
