#pragma once
// Makes the SQL Server provider (ODBC through the configured driver) known to
// data::createProvider() under SQL Server's OLE DB provider names, and under an
// empty provider name. Start-up code calls it once; later calls do nothing.
// Nothing in the data layer calls it by itself.

namespace data {
void registerSqlServerProvider();
}
