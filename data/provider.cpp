#include "data/provider.h"

#include <QHash>
#include <QMutex>

namespace data {

namespace {
struct Registry {
    QMutex mutex;
    QHash<QString, ProviderFactory> factories; // key: lower-case name
};
Registry& registry() {
    static Registry r;
    return r;
}
} // namespace

void ProviderConnection::takeRows(const QString& table, ResultStore& rows) {
    appendRows(table, rows, 0);
    rows.clear();
}

WriteTarget ProviderConnection::writeTarget(const ResultStore&) {
    throw NotUpdatableError(QStringLiteral("Die Ergebnismenge kann nicht geändert werden: "
                                           "der Datenanbieter schreibt keine Zeilen zurück"));
}

ChangeResult ProviderConnection::executeChange(const QString&, const QList<QVariant>&, bool) {
    throw NotUpdatableError(QStringLiteral("Die Ergebnismenge kann nicht geändert werden: "
                                           "der Datenanbieter schreibt keine Zeilen zurück"));
}

QList<PropertyEntry> Provider::closedProperties(const ConnectionParams& params) const {
    return params.properties;
}

void registerProvider(const QString& providerName, ProviderFactory factory) {
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.factories.insert(providerName.trimmed().toLower(), std::move(factory));
}

std::shared_ptr<Provider> createProvider(const QString& providerName) {
    ProviderFactory factory;
    {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        factory = r.factories.value(providerName.trimmed().toLower());
    }
    if (!factory) {
        // The wording of the OLE DB service components for an unknown provider.
        throw DataError(
            QStringLiteral("Provider kann nicht gefunden werden. Er ist "
                           "möglicherweise nicht richtig installiert.") +
            (providerName.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(providerName)));
    }
    return factory();
}

} // namespace data
