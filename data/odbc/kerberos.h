#pragma once
// Why an integrated (Kerberos) login cannot start. The driver reports every
// failure before the login as the same bare "cannot connect"; this asks the
// Kerberos library the same question the driver asks (a service ticket for
// the server) and says in words what is missing and how to get it.

#include <QString>

namespace data::odbc {

// The service principal the FreeTDS driver asks a ticket for:
// "MSSQLSvc/HOST:PORT", where a host without a dot is replaced by its
// canonical DNS name when that has one.
QString servicePrincipalName(const QString& host, int port);

// The user's text for a Kerberos problem that stops an integrated login to
// `host`,`port` (port 0: unknown, only the user's own ticket is checked);
// empty when Kerberos would let the login through.
QString kerberosProblem(const QString& host, int port);

} // namespace data::odbc
