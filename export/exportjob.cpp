#include "export/exportjob.h"

#include "export/fileio.h"

#include <QFileInfo>
#include <QHash>
#include <mutex>

namespace exportfile {

namespace {

// The stores that batch moves off the window's thread read, by the query text that opens them.
struct Snapshots {
    std::mutex lock;
    QHash<QString, std::shared_ptr<const data::ResultStore>> stores;
    quint64 next = 0;
};

Snapshots& snapshots() {
    static Snapshots s;
    return s;
}

constexpr const char* kSnapshotProvider = "Tarnwick.Export.Snapshot";

// A provider whose one query answers with a store already fetched. The dataset opened on it
// only reads (the batch move moves through it and copies its values), so the store is handed
// out as it is, not copied.
class SnapshotSession : public data::ProviderConnection {
public:
    std::shared_ptr<data::ResultStore> query(const QString& text, const data::QueryOptions&,
                                             data::MessageList&) override {
        Snapshots& s = snapshots();
        std::lock_guard guard(s.lock);
        const auto it = s.stores.constFind(text);
        if (it == s.stores.cend())
            throw data::DataError(QStringLiteral("Das Abfrageergebnis ist nicht mehr vorhanden."));
        return std::const_pointer_cast<data::ResultStore>(*it);
    }
    void execute(const QString& text, const QList<QVariant>&, const data::QueryOptions&,
                 data::MessageList&) override {
        refuse(text);
    }
    std::shared_ptr<data::ResultStore> openTable(const QString& text, const data::QueryOptions&,
                                                 data::MessageList&) override {
        refuse(text);
    }
    void appendRows(const QString& text, const data::ResultStore&, qint64) override {
        refuse(text);
    }
    QStringList tableNames(bool) override { return {}; }
    QList<data::PropertyEntry> properties() override { return {}; }

private:
    [[noreturn]] static void refuse(const QString& text) {
        throw data::DataError(
            QStringLiteral("Das Abfrageergebnis kann nicht geändert werden: %1").arg(text));
    }
};

class SnapshotProvider : public data::Provider {
public:
    QString name() const override { return QLatin1String(kSnapshotProvider); }
    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                      data::MessageList&) override {
        return std::make_unique<SnapshotSession>();
    }
};

// A store listed for the snapshot provider while this lives.
class SnapshotEntry {
public:
    explicit SnapshotEntry(std::shared_ptr<const data::ResultStore> store) {
        static std::once_flag registered;
        std::call_once(registered, [] {
            data::registerProvider(QLatin1String(kSnapshotProvider),
                                   [] { return std::make_shared<SnapshotProvider>(); });
        });
        Snapshots& s = snapshots();
        std::lock_guard guard(s.lock);
        m_key = QStringLiteral("snapshot %1").arg(++s.next);
        s.stores.insert(m_key, std::move(store));
    }
    ~SnapshotEntry() {
        Snapshots& s = snapshots();
        std::lock_guard guard(s.lock);
        s.stores.remove(m_key);
    }
    SnapshotEntry(const SnapshotEntry&) = delete;
    SnapshotEntry& operator=(const SnapshotEntry&) = delete;
    const QString& key() const { return m_key; }

private:
    QString m_key;
};

} // namespace

qint64 batchMoveStore(std::shared_ptr<const data::ResultStore> store, const ExportTarget& target,
                      const StreamControl& control) {
    if (control.cancel && control.cancel->load())
        throw ExportCancelled();
    const SnapshotEntry snapshot(std::move(store));
    TADOConnection connection;
    connection.setLoginPrompt(false);
    connection.setConnectionString(QStringLiteral("Provider=") + QLatin1String(kSnapshotProvider));
    TADODataSet source;
    source.setConnection(&connection);
    source.setCommandText(snapshot.key());
    source.Open();
    TVelADObatchmove batchMove;
    batchMove.ProcessMessages = [] {}; // no window here; the window's thread goes on by itself
    batchMove.OnProgress = [&control](qint32 rows) {
        if (control.cancel && control.cancel->load())
            throw ExportCancelled();
        if (control.progress)
            control.progress(rows);
    };
    batchMove.setADODataset(&source);
    batchMove.setDestDatabaseName(target.databaseName);
    batchMove.setDestTableName(target.tableName);
    batchMove.setDestDatabaseType(target.type);
    removeAbandonedStaging(QFileInfo(target.filePath()).absolutePath());
    batchMove.Execute();
    if (control.progress)
        control.progress(batchMove.RowsExported());
    return batchMove.RowsExported();
}

} // namespace exportfile

ExportJob::ExportJob(std::shared_ptr<const data::ResultStore> store, ExportTarget target,
                     exportfile::StreamOptions options, QObject* parent,
                     std::vector<qint64> shownOrder)
    : QObject(parent), m_store(std::move(store)), m_total(m_store ? m_store->rowCount() : 0) {
    m_thread = std::thread([this, target = std::move(target), options = std::move(options),
                            order = std::move(shownOrder)] {
        qint64 rows = 0;
        bool cancelled = false;
        std::exception_ptr error;
        try {
            // The rows as the grid shows them: a store of their own, in that order.
            if (m_store && !order.empty()) {
                m_store = m_store->reordered(order, &m_cancel);
                if (!m_store)
                    throw exportfile::ExportCancelled();
            }
            exportfile::StreamControl control;
            control.cancel = &m_cancel;
            control.progress = [this](qint64 n) { m_rows.store(n, std::memory_order_relaxed); };
            if (!m_store)
                rows = 0;
            else if (target.stream)
                rows = exportfile::writeStream(*target.stream, *m_store, target.filePath(), options,
                                               control);
            else
                rows = exportfile::batchMoveStore(m_store, target, control);
        } catch (const exportfile::ExportCancelled&) {
            cancelled = true;
        } catch (...) {
            error = std::current_exception();
        }
        // Delivered on the job's thread; dropped when the job is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, rows, cancelled, error] {
                if (m_thread.joinable())
                    m_thread.join();
                m_done = true;
                emit finished(rows, cancelled, error);
            },
            Qt::QueuedConnection);
    });
}

namespace {

ExportTarget streamTarget(exportfile::StreamFormat format, const QString& path) {
    const QFileInfo fi(path);
    return ExportTarget{fi.absolutePath() + u'/', fi.fileName(), dtUndefined, format};
}

} // namespace

ExportJob::ExportJob(std::shared_ptr<const data::ResultStore> store,
                     exportfile::StreamFormat format, const QString& path,
                     exportfile::StreamOptions options, QObject* parent)
    : ExportJob(std::move(store), streamTarget(format, path), std::move(options), parent) {}

ExportJob::~ExportJob() {
    cancel();
    if (m_thread.joinable())
        m_thread.join();
}
