#include "data/adoconnection.h"

#include "data/adodataset.h"
#include "data/connectionstring.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
// Connection string keys that never show up among the properties.
bool isSecret(const QString& key) {
    return key.compare(QLatin1String("Password"), Qt::CaseInsensitive) == 0 ||
           key.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0;
}
} // namespace

// --- TADOProperties ---------------------------------------------------------

const QList<data::PropertyEntry>& TADOProperties::list() const {
    TADOConnection* c = m_owner;
    if (c->m_session) {
        c->m_propertyCache = c->m_session->properties();
    } else {
        const data::ConnectionParams p = c->params();
        QList<data::PropertyEntry> props;
        try {
            props = data::createProvider(
                        data::ConnectionString::parse(p.connectionString).value(u"Provider"))
                        ->closedProperties(p);
        } catch (const data::DataError&) {
            // An unknown provider reports what the connection string says.
            const data::ConnectionString cs = data::ConnectionString::parse(p.connectionString);
            for (const auto& item : cs.items())
                if (!isSecret(item.key))
                    props.append({item.key, item.value});
            props.append(p.properties);
        }
        c->m_propertyCache = props;
    }
    return c->m_propertyCache;
}

int TADOProperties::Count() const {
    return int(list().size());
}

QString TADOProperties::Name(int i) const {
    if (i < 0 || i >= m_owner->m_propertyCache.size())
        list();
    return m_owner->m_propertyCache.at(i).name;
}

QVariant TADOProperties::Value(int i) const {
    if (i < 0 || i >= m_owner->m_propertyCache.size())
        list();
    return m_owner->m_propertyCache.at(i).value;
}

QVariant TADOProperties::Value(const QString& name) const {
    for (const auto& p : list())
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p.value;
    return {};
}

void TADOProperties::setValue(const QString& name, const QVariant& value) {
    if (m_owner->Connected())
        throw data::StateError(
            QStringLiteral(
                "Die Eigenschaft \"%1\" kann bei geöffneter Verbindung nicht gesetzt werden")
                .arg(name));
    for (auto& p : m_owner->m_initProperties) {
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) {
            p.value = value;
            return;
        }
    }
    m_owner->m_initProperties.append({name, value});
}

// --- TADOConnection ---------------------------------------------------------

TADOConnection::TADOConnection(QObject* parent)
    : QObject(parent), m_handoff(new data::Handoff(this)) {}

// One statement running on a worker thread. The worker owns what it
// produces until it has ended; the connection's thread reads it only after
// joining the worker.
struct TADOConnection::AsyncRun {
    std::thread worker;
    std::thread canceller;
    std::uint64_t id = 0; // tells this run's end from that of a later one
    std::atomic<bool> cancelled{false};
    // Whether the cancel came while the work ran: one that comes after it
    // has ended (before `done` runs) leaves a complete result complete.
    bool cancelSeen = false;
    std::mutex sessionMutex;                     // guards `session` for the canceller
    data::ProviderConnection* session = nullptr; // while the work runs
    // The session the work runs on, once known; it lives until the run has
    // been finished on the connection's thread, which alone reads this.
    std::atomic<data::ProviderConnection*> live{nullptr};
    std::atomic<bool> severed{false}; // the session was ended under the work
    std::mutex endMutex;
    std::condition_variable ended;
    bool finished = false; // under endMutex: the worker is about to end
    AsyncDone done;
    // Set by the worker before it ends.
    std::unique_ptr<data::ProviderConnection> opened; // a session it had to connect first
    std::exception_ptr error;
    data::MessageList messages;
};

TADOConnection::~TADOConnection() {
    Close();
}

void TADOConnection::runAsync(AsyncWork work, AsyncDone done) {
    if (m_run)
        throw data::StateError(QStringLiteral("Es wird bereits eine Anweisung ausgeführt"));
    m_errors.m_items.clear();
    m_messages.clear();
    // Everything the worker needs is taken here, on this thread.
    data::ProviderConnection* session = m_session.get();
    std::shared_ptr<data::Provider> provider;
    data::ConnectionParams connectParams;
    if (!session) {
        provider = data::createProvider(Provider());
        connectParams = params();
    }
    m_run = std::make_unique<AsyncRun>();
    AsyncRun* run = m_run.get();
    run->id = ++m_runCount;
    run->done = std::move(done);
    run->worker = std::thread([this, run, id = run->id, session, provider, connectParams,
                               work = std::move(work)]() mutable {
        const Reporter report = [this, id](const data::DiagRecord& record) {
            m_handoff->post([this, id, record] { deliverMessage(id, record); });
        };
        try {
            if (!session) {
                data::MessageList ignored; // the connect's own messages are not the statement's
                run->opened = provider->connect(connectParams, ignored);
                session = run->opened.get();
            }
            run->live.store(session);
            {
                std::lock_guard lock(run->sessionMutex);
                run->session = session;
            }
            if (!run->cancelled.load())
                work(*session, run->cancelled, run->messages, report);
        } catch (...) {
            run->error = std::current_exception();
        }
        run->cancelSeen = run->cancelled.load();
        {
            std::lock_guard lock(run->sessionMutex);
            run->session = nullptr;
        }
        {
            std::lock_guard lock(run->endMutex);
            run->finished = true;
        }
        run->ended.notify_all();
        m_handoff->postNow([this, id] { finishAsync(id); });
    });
}

void TADOConnection::Cancel() {
    if (!m_run || m_run->canceller.joinable())
        return;
    AsyncRun* run = m_run.get();
    run->cancelled.store(true);
    // The driver's cancel may wait for the server when the worker is between
    // two calls, so it is sent from a thread of its own.
    run->canceller = std::thread([run] {
        std::lock_guard lock(run->sessionMutex);
        if (run->session)
            run->session->cancel();
    });
    // A server that stalls, or ignores the attention, would keep the
    // statement running for ever.
    QTimer::singleShot(m_cancelGraceMs, this, [this, id = run->id] { severRun(id); });
}

void TADOConnection::severRun(std::uint64_t id) {
    if (!m_run || m_run->id != id)
        return;
    AsyncRun* run = m_run.get();
    {
        std::lock_guard lock(run->endMutex);
        if (run->finished)
            return;
    }
    data::ProviderConnection* session = run->live.load();
    if (session && !run->severed.load() && session->sever())
        run->severed.store(true);
}

void TADOConnection::waitIdle() {
    if (!m_run)
        return;
    Cancel();
    AsyncRun* run = m_run.get();
    const auto grace = std::chrono::milliseconds(std::max(m_cancelGraceMs, 0));
    bool finished;
    {
        std::unique_lock lock(run->endMutex);
        finished = run->ended.wait_for(lock, grace, [run] { return run->finished; });
    }
    if (!finished)
        severRun(run->id); // the worker's driver call then returns with a lost link
    if (run->worker.joinable())
        run->worker.join();
    finishAsync(run->id);
}

void TADOConnection::deliverMessage(std::uint64_t id, const data::DiagRecord& record) {
    if (!m_run || m_run->id != id)
        return;
    m_messages.append(record);
    emit messageArrived(record);
}

void TADOConnection::finishAsync(std::uint64_t id) {
    // The run may have been finished by waitIdle already, and another one
    // started since: the call its worker queued then finds nothing to do.
    if (!m_run || m_run->id != id)
        return;
    AsyncRun* run = m_run.get();
    if (run->worker.joinable())
        run->worker.join();
    if (run->canceller.joinable())
        run->canceller.join();
    const std::unique_ptr<AsyncRun> ended = std::move(m_run);
    std::exception_ptr error = ended->error;
    if (ended->severed.load()) {
        // The session was ended under the statement: whatever the driver
        // made of that, the user reads why.
        const QString text = QString::fromUtf8(kCancelUnanswered);
        ended->opened.reset();
        dropSession(text);
        error = std::make_exception_ptr(data::ConnectionError(text, QStringLiteral("08S01")));
    } else if (ended->opened) {
        m_session = std::move(ended->opened);
        m_broken = false;
        m_brokenReason.clear();
        emit connectedChanged(true);
    }
    if (ended->done)
        ended->done(error, ended->cancelSeen && !error, ended->messages);
}

void TADOConnection::setConnectionString(const QString& connectionString) {
    if (Connected())
        throw data::StateError(QStringLiteral(
            "Der Vorgang ist für ein geöffnetes Objekt nicht zulässig (Verbindungszeichenfolge)"));
    m_connectionString = connectionString;
}

QString TADOConnection::Provider() const {
    return data::ConnectionString::parse(m_connectionString).value(u"Provider");
}

void TADOConnection::setProvider(const QString& providerName) {
    if (Connected())
        throw data::StateError(
            QStringLiteral("Der Vorgang ist für ein geöffnetes Objekt nicht zulässig (Provider)"));
    data::ConnectionString cs = data::ConnectionString::parse(m_connectionString);
    if (cs.contains(u"Provider")) {
        cs.setValue(QStringLiteral("Provider"), providerName);
        m_connectionString = cs.toString();
    } else {
        // Keep the rest of the string exactly as it was.
        m_connectionString = QStringLiteral("Provider=") + providerName +
                             (m_connectionString.isEmpty() ? QString() : QStringLiteral(";")) +
                             m_connectionString;
    }
}

data::ConnectionParams TADOConnection::params() const {
    data::ConnectionParams p;
    p.connectionString = m_connectionString;
    p.properties = m_initProperties;
    p.connectionTimeout = m_connectionTimeout;
    return p;
}

void TADOConnection::setConnected(bool connected) {
    if (connected)
        Open();
    else
        Close();
}

void TADOConnection::Open() {
    if (m_session)
        return;
    m_errors.m_items.clear();
    const data::ConnectionParams p = params();
    auto provider = data::createProvider(Provider());
    data::MessageList messages;
    try {
        m_session = provider->connect(p, messages);
    } catch (const data::ConnectionError& e) {
        m_broken = true;
        m_brokenReason = e.message();
        throw;
    }
    m_broken = false;
    m_brokenReason.clear();
    m_errors.m_items = messages;
    emit connectedChanged(true);
}

void TADOConnection::Close() {
    waitIdle(); // a running statement ends first: its worker uses the session
    // Datasets first, while the session still exists.
    auto dataSets = m_dataSets.values();
    std::sort(dataSets.begin(), dataSets.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, ds] : dataSets)
        if (ds)
            ds->Close();
    if (!m_session)
        return;
    m_session.reset(); // the provider's destructor closes quietly
    emit connectedChanged(false);
}

data::ProviderConnection& TADOConnection::session() {
    Open();
    return *m_session;
}

void TADOConnection::beginOperation() {
    m_errors.m_items.clear();
    m_messages.clear();
}

void TADOConnection::endOperation(const data::MessageList& messages) {
    m_errors.m_items = messages;
}

void TADOConnection::handleFailure(const data::DataError& error) {
    if (dynamic_cast<const data::ConnectionError*>(&error))
        dropSession(error.message());
}

void TADOConnection::dropSession(const QString& reason) {
    m_broken = true;
    m_brokenReason = reason;
    if (!m_session || m_run)
        return;        // a running statement's session goes once it has ended
    m_session.reset(); // the provider's destructor closes quietly
    emit connectedChanged(false);
}

int TADOConnection::openTransactionCount() {
    if (!m_session)
        return 0;
    if (m_run)
        return -1;
    try {
        return m_session->openTransactionCount();
    } catch (const data::DataError& e) {
        handleFailure(e);
        return m_session ? -1 : 0;
    }
}

void TADOConnection::attach(TADODataSet* dataSet) {
    if (!m_dataSets.contains(dataSet))
        m_dataSets.insert(dataSet, {++m_attachCount, QPointer<TADODataSet>(dataSet)});
}

void TADOConnection::detach(TADODataSet* dataSet) {
    m_dataSets.remove(dataSet);
}

void TADOConnection::GetTableNames(QStringList& list, bool systemTables) {
    beginOperation();
    try {
        QStringList names = session().tableNames(systemTables);
        list = names;
    } catch (const data::DataError& e) {
        handleFailure(e);
        throw;
    }
}

namespace data {

void runScriptSteps(Handoff& handoff, const QList<ScriptStep>& steps,
                    const std::shared_ptr<const ScriptEvents>& events,
                    const std::atomic<bool>& cancelled,
                    const std::function<void(const QString& text)>& one) {
    for (int i = 0; i < steps.size() && !cancelled.load(); ++i) {
        for (int run = 0; run < std::max(steps.at(i).repeat, 1) && !cancelled.load(); ++run) {
            if (events->started)
                handoff.post([events, i] { events->started(i); });
            std::exception_ptr error;
            bool lost = false; // the session is gone: nothing more can run on it
            try {
                one(steps.at(i).text);
            } catch (const DataError& e) {
                error = std::current_exception();
                lost = dynamic_cast<const ConnectionError*>(&e) != nullptr;
            }
            if (events->ended)
                handoff.post([events, i, error] { events->ended(i, error); });
            if (lost)
                std::rethrow_exception(error);
        }
    }
}

} // namespace data
