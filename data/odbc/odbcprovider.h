#pragma once
// The SQL Server provider: ADO connection strings in, ODBC calls out.

#include "data/provider.h"

namespace data::odbc {

class OdbcProvider : public Provider {
public:
    QString name() const override { return QStringLiteral("SQLOLEDB.1"); }
    std::unique_ptr<ProviderConnection> connect(const ConnectionParams& params,
                                                MessageList& messages) override;
    QList<PropertyEntry> closedProperties(const ConnectionParams& params) const override;
};

} // namespace data::odbc
