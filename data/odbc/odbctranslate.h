#pragma once
// Turns the ADO connection strings the application builds into ODBC
// connection strings for the configured SQL Server driver. Pure: no ODBC
// calls, so every rule is tested on its own.

#include "data/connectionstring.h"

#include <QString>

namespace data::odbc {

struct DriverSettings {
    QString driver = QStringLiteral("FreeTDS"); // unixODBC driver name
    // "" (request TLS when the server offers it), "request", "require", "strict", "off".
    QString encryption;
    QString tdsVersion = QStringLiteral("7.4"); // FreeTDS only
    // PEM file of the certificate authorities the server's certificate must
    // come from ("system": those the system trusts); empty: the certificate
    // is not checked. With a file the
    // encryption is required unless `encryption` says otherwise.
    QString caFile;
};

// TARNWICK_ODBC_DRIVER, TARNWICK_ODBC_ENCRYPTION, TARNWICK_TDS_VERSION,
// TARNWICK_ODBC_CAFILE.
DriverSettings settingsFromEnvironment();

bool isFreeTdsDriver(const QString& driver);

// Whether the driver hands values over exactly as the server sent them when
// asked for SQL_C_BINARY (see planColumn): the FreeTDS driver from version
// 1.3 on (SQL_DRIVER_VER "01.03.0017"); any other driver or version keeps the
// usual conversions.
bool driverHandsRawBytes(const QString& driver, const QString& driverVersion);

struct ServerAddress {
    QString host;
    int port = 0;     // 0: not given
    QString instance; // named instance, looked up through the browser service
};

// "host", "host,port", "host\instance", "tcp:host,port"; "(local)", "." and
// "localhost" name this machine (127.0.0.1). An empty name stays empty: it
// names no server, and the driver reports that.
ServerAddress parseDataSource(const QString& dataSource);

struct OdbcTarget {
    QString connectionString; // for SQLDriverConnect
    int loginTimeout = 15;    // seconds, 0: none
    // Integrated login (Kerberos): the host and port the driver is given,
    // which name the server's service principal; port 0 when a named
    // instance's port is looked up.
    bool integrated = false;
    QString host;
    int port = 0;
    // The FreeTDS driver takes a CA file only from a freetds.conf section:
    // when this is not empty, it is that file's text (section kFreeTdsSection,
    // named by the connection string) and FREETDSCONF must point at it while
    // connecting.
    QString freetdsConf;
    ServerAddress address;
    QString encryption; // what the driver was asked for: "request", "require", ...
};

inline constexpr const char* kFreeTdsSection = "tarnwick";

// Raises DataError for a string the driver cannot be given (a port together
// with an instance name).
OdbcTarget translate(const ConnectionString& ado, int connectionTimeout,
                     const DriverSettings& settings);

// Quotes an ODBC attribute value in braces when it needs them: with "}"
// doubled for drivers that follow the ODBC rule, with "}" as it is for the
// FreeTDS driver (which raises DataError for a value holding "};", the one
// text it cannot be given).
QString odbcValue(const QString& value, bool freetds);

// "True", "yes", "1", "SSPI" and the like.
bool isTrue(const QString& value);

} // namespace data::odbc
