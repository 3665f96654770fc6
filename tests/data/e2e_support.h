#pragma once
// What the end-to-end tests of the data layer share: the ADO connection
// string of a test server and running a text whose results are not wanted.

#include "data/adocommand.h"
#include "data/adoconnection.h"
#include "tests/support/testserver_fixture.h"

#include <QString>

inline QString adoConnectionString(const TestServer& server, const QString& database) {
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=%1;Password=%2;"
                          "Initial Catalog=%3;Data Source=127.0.0.1,%4")
        .arg(QString::fromStdString(server.user()), QString::fromStdString(server.password()),
             database)
        .arg(server.port());
}

inline void executeText(TADOConnection& connection, const QString& sql) {
    TADOCommand cmd;
    cmd.setConnection(&connection);
    cmd.setCommandText(sql);
    cmd.Execute();
}
