#pragma once
// A provider that answers queries from tables held in memory and records the
// texts it was asked to run, so windows are tested without a server.

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/provider.h"
#include <QMap>
#include <QStringList>

struct FakeTables {
    // The text a query must have to return the table, and its columns.
    QMap<QString, QList<data::ColumnInfo>> results;
    QStringList asked;        // every text in the order it came
    QList<qint64> maxRecords; // the limit each one came with
};

class FakeSession : public data::ProviderConnection {
public:
    explicit FakeSession(FakeTables* tables) : m_tables(tables) {}
    std::shared_ptr<data::ResultStore> query(const QString& text, const data::QueryOptions& o,
                                             data::MessageList&) override {
        m_tables->asked << text;
        m_tables->maxRecords << o.maxRecords;
        if (!m_tables->results.contains(text))
            throw data::DataError(QStringLiteral("Ungültiger Objektname."), QStringLiteral("42S02"),
                                  208);
        auto store = std::make_shared<data::ResultStore>(m_tables->results.value(text));
        store->appendRows(1);
        return store;
    }
    void execute(const QString&, const QList<QVariant>&, const data::QueryOptions&,
                 data::MessageList&) override {}
    std::shared_ptr<data::ResultStore> openTable(const QString& t, const data::QueryOptions& o,
                                                 data::MessageList& m) override {
        return query(t, o, m);
    }
    void appendRows(const QString&, const data::ResultStore&, qint64) override {}
    QStringList tableNames(bool) override { return m_tables->results.keys(); }
    QList<data::PropertyEntry> properties() override { return {}; }

private:
    FakeTables* m_tables;
};

class FakeProvider : public data::Provider {
public:
    explicit FakeProvider(FakeTables* tables) : m_tables(tables) {}
    QString name() const override { return QStringLiteral("FakeStru"); }
    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                      data::MessageList&) override {
        return std::make_unique<FakeSession>(m_tables);
    }

private:
    FakeTables* m_tables;
};

inline data::ColumnInfo fakeColumn(const QString& name, TFieldType type, int size) {
    data::ColumnInfo c;
    c.name = name;
    c.type = type;
    c.size = size;
    c.kind = data::StorageKind::Utf16;
    return c;
}
