#pragma once
// What the editor's completion knows of a database: its schemas, its tables,
// views, procedures and functions, and the columns of the tables and views.
// CatalogReader reads it on a thread of its own over a connection of its own
// (the window's connection stays free for the user's statements) and hands
// the finished catalog to its owner's thread; nothing ever waits for it.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <thread>

namespace data {

struct CatalogObject {
    enum Kind { Table, View, Procedure, Function };
    QString schema;
    QString name;
    Kind kind = Table;
    int id = 0;
};

struct Catalog {
    QString defaultSchema = QStringLiteral("dbo"); // the user's default schema
    QStringList schemas;
    QList<CatalogObject> objects;
    QHash<int, QStringList> columns; // of tables and views, by object id, in column order

    // Builds the lookups find() uses; call once the lists are filled.
    void index();
    // The object a name in a statement means: "schema.name" or a bare name,
    // compared without regard to case; a bare name prefers the default schema.
    // Null when there is none.
    const CatalogObject* find(const QString& schema, const QString& name) const;
    QStringList columnsOf(const CatalogObject& object) const { return columns.value(object.id); }

private:
    QHash<QString, int> m_qualified; // "schema.name" in lower case
    QHash<QString, int> m_bare;      // "name" in lower case
};

class CatalogReader : public QObject {
    Q_OBJECT
public:
    explicit CatalogReader(QObject* parent = nullptr);
    // Waits for a read still running (its connection and statement time-outs
    // bound the wait).
    ~CatalogReader() override;

    // Reads the catalog of the database the ADO connection string names.
    // A read asked for while one runs follows it, with the newest string.
    void read(const QString& connectionString);
    bool busy() const;

    // Reads on the calling thread; throws the data layer's errors.
    static std::shared_ptr<Catalog> readNow(const QString& connectionString);

signals:
    void catalogRead(std::shared_ptr<const data::Catalog> catalog);
    void readFailed(const QString& message);

private:
    void start(const QString& connectionString);
    void finished(std::shared_ptr<const Catalog> catalog, const QString& error);

    struct Relay;
    std::shared_ptr<Relay> m_relay;
    std::thread m_thread;
    bool m_running = false;
    QString m_pending;
    bool m_hasPending = false;
};

} // namespace data
