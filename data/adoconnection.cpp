#include "data/adoconnection.h"

#include "data/adodataset.h"
#include "data/connectionstring.h"

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

TADOConnection::TADOConnection(QObject* parent) : QObject(parent) {}

TADOConnection::~TADOConnection() {
    Close();
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
    m_session = provider->connect(p, messages);
    m_errors.m_items = messages;
    emit connectedChanged(true);
}

void TADOConnection::Close() {
    // Datasets first, while the session still exists.
    const auto dataSets = m_dataSets;
    for (const auto& ds : dataSets)
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
}

void TADOConnection::endOperation(const data::MessageList& messages) {
    m_errors.m_items = messages;
}

void TADOConnection::handleFailure(const data::DataError& error) {
    if (dynamic_cast<const data::ConnectionError*>(&error))
        Close();
}

void TADOConnection::attach(TADODataSet* dataSet) {
    if (!m_dataSets.contains(dataSet))
        m_dataSets.append(dataSet);
}

void TADOConnection::detach(TADODataSet* dataSet) {
    m_dataSets.removeAll(dataSet);
    m_dataSets.removeAll(nullptr);
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
