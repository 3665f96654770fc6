#pragma once
// The result the stream export tests write: one column of every kind the server's types map
// to, with ordinary values, awkward ones (separators, quotes, line breaks, umlauts, extremes)
// and NULLs.

#include "data/resultstore.h"

#include <QDateTime>
#include <QUuid>
#include <memory>

namespace testreaders {

inline data::ColumnInfo col(const char* name, TFieldType type, data::StorageKind kind,
                            int scale = 0) {
    data::ColumnInfo c;
    c.name = QString::fromUtf8(name);
    c.type = type;
    c.kind = kind;
    c.scale = scale;
    return c;
}

// One column of every kind the server's types map to; row 0 ordinary values, row 1 the
// awkward ones, row 2 all NULL.
inline std::shared_ptr<data::ResultStore> everyKind() {
    auto s = std::make_shared<data::ResultStore>(QList<data::ColumnInfo>{
        col("bit", ftBoolean, data::StorageKind::Bool),
        col("tiny", ftWord, data::StorageKind::UInt8),
        col("small", ftSmallint, data::StorageKind::Int16),
        col("int", ftInteger, data::StorageKind::Int32),
        col("big", ftLargeint, data::StorageKind::Int64),
        col("float", ftFloat, data::StorageKind::Double),
        col("money", ftBCD, data::StorageKind::Decimal, 4),
        col("dec38", ftFMTBcd, data::StorageKind::Utf8),
        col("datetime", ftDateTime, data::StorageKind::DateTime),
        col("date", ftDate, data::StorageKind::Date),
        col("time", ftTime, data::StorageKind::Time),
        col("guid", ftGuid, data::StorageKind::Guid),
        col("varchar", ftString, data::StorageKind::Utf8),
        col("Straße", ftWideString, data::StorageKind::Utf16),
        col("varbinary", ftVarBytes, data::StorageKind::Bytes),
    });
    s->appendRows(3);
    const QList<QVariant> row0{true,
                               200,
                               -12345,
                               2147483647,
                               qlonglong(42),
                               0.1,
                               QStringLiteral("1234.5678"),
                               QStringLiteral("12.5"),
                               QDateTime(QDate(2024, 2, 29), QTime(13, 45, 30), Qt::UTC),
                               QDate(1999, 12, 31),
                               QTime(23, 59, 58),
                               QUuid::fromString(u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
                               QStringLiteral("plain"),
                               QStringLiteral("Grüße aus Köln"),
                               QByteArray("\x00\x01\xfe\xff", 4)};
    const QList<QVariant> row1{false,
                               0,
                               0,
                               -1,
                               qlonglong(1) << 60,
                               -1.5e300,
                               QStringLiteral("-922337203685477.5807"),
                               QStringLiteral("12345678901234567890.123456789"),
                               QDateTime(QDate(1899, 1, 1), QTime(0, 0), Qt::UTC),
                               QDate(1900, 1, 1),
                               QTime(0, 0, 0),
                               QUuid(),
                               QStringLiteral("a;b,c \"zitiert\"\r\nzweite Zeile"),
                               QStringLiteral("tab\there\\ and \x01 control"),
                               QByteArray()};
    for (int c = 0; c < s->columnCount(); ++c) {
        s->setValue(0, c, row0[c]);
        s->setValue(1, c, row1[c]);
    }
    return s;
}

} // namespace testreaders
