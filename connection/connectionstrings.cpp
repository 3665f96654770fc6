#include "connection/connectionstrings.h"

#include "data/connectionstring.h"

namespace {

QString connectionString(bool ntAuthentication, const QString& databaseName,
                         const QString& serverName, const QString& userName,
                         const QString& passwordText) {
    // Values that would end early or lose blanks are quoted the way ADO does.
    const QString database = data::adoValue(databaseName);
    const QString server = data::adoValue(serverName);
    const QString user = data::adoValue(userName);
    const QString password = data::adoValue(passwordText);
    if (ntAuthentication)
        return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;"
                              "Persist Security Info=False;Initial Catalog=") +
               database + QStringLiteral(";Data Source=") + server;
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=") + user +
           QStringLiteral(";Password=") + password + QStringLiteral(";Initial Catalog=") +
           database + QStringLiteral(";Data Source=") + server;
}

} // namespace

QString masterConnectionString(bool ntAuthentication, const QString& server, const QString& user,
                               const QString& password) {
    return connectionString(ntAuthentication, QStringLiteral("master"), server, user, password);
}

QString databaseConnectionString(bool ntAuthentication, const QString& database,
                                 const QString& server, const QString& user,
                                 const QString& password) {
    return connectionString(ntAuthentication, database, server, user, password);
}
