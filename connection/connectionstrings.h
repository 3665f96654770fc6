#pragma once
// The connection strings the program hands to the SQL Server provider: the
// master form (server level, database "master") and the database form, each
// for Windows integrated and for SQL Server authentication. Names and
// credentials go in as they are, quoted as ADO quotes them where a ";", "=",
// a quote or blanks at either end would otherwise change what they say.

#include <QString>

// Server level: lists databases and asks the server for its version.
QString masterConnectionString(bool ntAuthentication, const QString& server,
                               const QString& user = {}, const QString& password = {});

// Database level: what the program works on once a database is chosen.
QString databaseConnectionString(bool ntAuthentication, const QString& database,
                                 const QString& server, const QString& user = {},
                                 const QString& password = {});
