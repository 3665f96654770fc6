#include "data/catalogreader.h"

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/dataerror.h"

#include <QMetaObject>
#include <exception>

namespace data {

namespace {

QString lowerKey(const QString& schema, const QString& name) {
    return schema.toLower() + u'.' + name.toLower();
}

CatalogObject::Kind kindOf(const QString& type) {
    const QString t = type.trimmed().toUpper();
    if (t == u"U")
        return CatalogObject::Table;
    if (t == u"V")
        return CatalogObject::View;
    if (t == u"P" || t == u"X" || t == u"PC")
        return CatalogObject::Procedure;
    return CatalogObject::Function;
}

// Runs a query and hands each row to `row`; the dataset is closed after.
template <class F> void eachRow(TADOConnection& connection, const QString& sql, F&& row) {
    TADODataSet set;
    set.setConnection(&connection);
    set.setCommandTimeout(30);
    set.setCommandText(sql);
    set.Open();
    for (set.First(); !set.Eof(); set.Next())
        row(set);
    set.Close();
}

} // namespace

void Catalog::index() {
    m_qualified.clear();
    m_bare.clear();
    for (int i = 0; i < objects.size(); ++i) {
        const CatalogObject& o = objects[i];
        m_qualified.insert(lowerKey(o.schema, o.name), i);
        const QString bare = o.name.toLower();
        const auto it = m_bare.constFind(bare);
        // A bare name means the object of the default schema when there is one.
        if (it == m_bare.cend() || o.schema.compare(defaultSchema, Qt::CaseInsensitive) == 0)
            m_bare.insert(bare, i);
    }
}

const CatalogObject* Catalog::find(const QString& schema, const QString& name) const {
    const int i = schema.isEmpty() ? m_bare.value(name.toLower(), -1)
                                   : m_qualified.value(lowerKey(schema, name), -1);
    return i < 0 ? nullptr : &objects[i];
}

std::shared_ptr<Catalog> CatalogReader::readNow(const QString& connectionString) {
    auto catalog = std::make_shared<Catalog>();
    TADOConnection connection;
    connection.setConnectionString(connectionString);
    // A server that does not answer soon is not waited for long: the window
    // waits for a read still running when it closes.
    connection.setConnectionTimeout(5);
    connection.Open();
    // Not every server knows SCHEMA_NAME(); "dbo" is then the default.
    try {
        eachRow(connection, QStringLiteral("SELECT SCHEMA_NAME()"), [&](TADODataSet& set) {
            const QString name = set.Fields(0).AsString();
            if (!name.isEmpty())
                catalog->defaultSchema = name;
        });
    } catch (const DataError&) {
    }
    // Schemas that hold objects of their own; the fixed database roles'
    // schemas (ids from 16384) hold none.
    eachRow(connection,
            QStringLiteral("SELECT name FROM sys.schemas WHERE schema_id < 16384 ORDER BY name"),
            [&](TADODataSet& set) { catalog->schemas << set.Fields(0).AsString(); });
    eachRow(connection,
            QStringLiteral("SELECT s.name, o.name, o.type, o.object_id FROM sys.objects o "
                           "JOIN sys.schemas s ON s.schema_id = o.schema_id "
                           "WHERE o.type IN ('U', 'V', 'P', 'X', 'PC', 'FN', 'IF', 'TF', 'FS', "
                           "'FT') ORDER BY o.name"),
            [&](TADODataSet& set) {
                CatalogObject o;
                o.schema = set.Fields(0).AsString();
                o.name = set.Fields(1).AsString();
                o.kind = kindOf(set.Fields(2).AsString());
                o.id = int(set.Fields(3).AsLargeInt());
                catalog->objects.append(o);
            });
    eachRow(connection,
            QStringLiteral("SELECT c.object_id, c.name FROM sys.columns c "
                           "JOIN sys.objects o ON o.object_id = c.object_id "
                           "WHERE o.type IN ('U', 'V') ORDER BY c.object_id, c.column_id"),
            [&](TADODataSet& set) {
                catalog->columns[int(set.Fields(0).AsLargeInt())] << set.Fields(1).AsString();
            });
    connection.Close();
    catalog->index();
    return catalog;
}

// The reading thread's way back: the reader may be gone when it finishes.
struct CatalogReader::Relay {
    std::mutex mutex;
    CatalogReader* target = nullptr; // null once the reader is being destroyed
};

CatalogReader::CatalogReader(QObject* parent)
    : QObject(parent), m_relay(std::make_shared<Relay>()) {
    m_relay->target = this;
}

CatalogReader::~CatalogReader() {
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool CatalogReader::busy() const {
    return m_running;
}

void CatalogReader::read(const QString& connectionString) {
    if (m_running) {
        m_pending = connectionString;
        m_hasPending = true;
        return;
    }
    start(connectionString);
}

void CatalogReader::start(const QString& connectionString) {
    if (m_thread.joinable())
        m_thread.join(); // it has finished: its result came back
    m_running = true;
    m_thread = std::thread([relay = m_relay, connectionString] {
        std::shared_ptr<const Catalog> catalog;
        QString error;
        try {
            catalog = readNow(connectionString);
        } catch (const DataError& e) {
            error = e.message();
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
        std::lock_guard lock(relay->mutex);
        if (CatalogReader* target = relay->target)
            QMetaObject::invokeMethod(
                target, [target, catalog, error] { target->finished(catalog, error); },
                Qt::QueuedConnection);
    });
}

void CatalogReader::finished(std::shared_ptr<const Catalog> catalog, const QString& error) {
    m_running = false;
    if (m_hasPending) {
        // A newer read was asked for meanwhile; this result may be stale.
        m_hasPending = false;
        start(m_pending);
        return;
    }
    if (catalog)
        emit catalogRead(std::move(catalog));
    else
        emit readFailed(error);
}

} // namespace data
