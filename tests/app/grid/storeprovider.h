#pragma once
// A provider that answers every query with a result store the test built,
// so the grid and the viewer are tested on exact contents without a server.

#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "data/provider.h"
#include <QBuffer>
#include <QImage>

class StoreSession : public data::ProviderConnection {
public:
    explicit StoreSession(std::shared_ptr<data::ResultStore>* store) : m_store(store) {}
    std::shared_ptr<data::ResultStore> query(const QString&, const data::QueryOptions&,
                                             data::MessageList&) override {
        return *m_store;
    }
    void execute(const QString&, const QList<QVariant>&, const data::QueryOptions&,
                 data::MessageList&) override {}
    std::shared_ptr<data::ResultStore> openTable(const QString&, const data::QueryOptions&,
                                                 data::MessageList&) override {
        return *m_store;
    }
    void appendRows(const QString&, const data::ResultStore&, qint64) override {}
    QStringList tableNames(bool) override { return {}; }
    QList<data::PropertyEntry> properties() override { return {}; }

private:
    std::shared_ptr<data::ResultStore>* m_store;
};

class StoreProvider : public data::Provider {
public:
    explicit StoreProvider(std::shared_ptr<data::ResultStore>* store) : m_store(store) {}
    QString name() const override { return QStringLiteral("GridStore"); }
    std::unique_ptr<data::ProviderConnection> connect(const data::ConnectionParams&,
                                                      data::MessageList&) override {
        return std::make_unique<StoreSession>(m_store);
    }

private:
    std::shared_ptr<data::ResultStore>* m_store;
};

inline data::ColumnInfo storeColumn(const QString& name, TFieldType type, data::StorageKind kind) {
    data::ColumnInfo c;
    c.name = name;
    c.type = type;
    c.kind = kind;
    return c;
}

// The bytes of a Windows bitmap file of one colour, with a small green mark
// in its centre that shows where the picture lands.
inline QByteArray bitmapBytes(int w, int h, QColor color, bool mark = false) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    if (mark)
        for (int y = h / 2 - 2; y < h / 2 + 2; ++y)
            for (int x = w / 2 - 2; x < w / 2 + 2; ++x)
                image.setPixelColor(x, y, Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

// The start of a JPEG file: a picture, but no Windows bitmap.
inline const QByteArray kJpegBytes =
    QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000ffd9");
