#pragma once
// The non-visual connection component: asks the user through the connection
// dialog how to reach a SQL Server, keeps the confirmed answer in its
// properties and remembers server, database, user name and authentication
// mode (never the password) in the registry.

#include "connection/registrypath.h"

#include <QObject>
#include <QString>

class TFMADOMSSQLConnect;

class TVelADOMSSQLConnect : public QObject {
    Q_OBJECT
public:
    explicit TVelADOMSSQLConnect(QObject* owner = nullptr);

    bool ShowAuthentification() const { return m_showAuthentification; }
    void setShowAuthentification(bool show) { m_showAuthentification = show; }
    bool ShowDatabases() const { return m_showDatabases; }
    void setShowDatabases(bool show) { m_showDatabases = show; }
    // The database form of the connection string built for the last OK.
    QString ConnectionString() const { return m_connectionString; }
    QString Server() const { return m_server; }
    void setServer(const QString& server) { m_server = server; }
    QString Database() const { return m_database; }
    void setDatabase(const QString& database) { m_database = database; }
    // Empty under Windows NT authentication.
    QString User() const { return m_user; }
    QString Password() const { return m_password; }
    bool NTAuthentification() const { return m_ntAuthentification; }
    TRegistryRoot RegistryRoot() const { return m_registryRoot; }
    void setRegistryRoot(TRegistryRoot root) { m_registryRoot = root; }
    // Empty: the values are neither read nor written.
    QString RegistryKey() const { return m_registryKey; }
    void setRegistryKey(const QString& key) { m_registryKey = key; }

    // Shows the dialog modally; true when the user confirmed with OK. A
    // cancel changes no property and no stored value.
    bool open();

private:
    QString valuePath(const char* valueName) const;
    void presetFromRegistry(TFMADOMSSQLConnect& dialog) const;
    void takeConfirmed(const TFMADOMSSQLConnect& dialog);
    void writeToRegistry(const TFMADOMSSQLConnect& dialog) const;

    bool m_showAuthentification = true;
    bool m_showDatabases = true;
    QString m_connectionString;
    QString m_server;
    QString m_database;
    QString m_user;
    QString m_password;
    bool m_ntAuthentification = false;
    TRegistryRoot m_registryRoot = rrClassesRoot;
    QString m_registryKey;
};
