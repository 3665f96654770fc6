#include "app/grid/cellvalues.h"

#include "data/dataerror.h"
#include "data/fieldtype.h"
#include <QDateTime>
#include <QRegularExpression>
#include <QUuid>
#include <algorithm>
#include <climits>

bool isNumericKind(data::StorageKind kind) {
    switch (kind) {
    case data::StorageKind::UInt8:
    case data::StorageKind::Int16:
    case data::StorageKind::Int32:
    case data::StorageKind::Int64:
    case data::StorageKind::Double:
    case data::StorageKind::Decimal:
        return true;
    default:
        return false;
    }
}

QVariant valueFromText(const QString& text, const data::ColumnInfo& column) {
    using data::StorageKind;
    const auto invalid = [&] {
        return data::DataError(QStringLiteral("\"%1\" ist kein gültiger Wert für das Feld \"%2\"")
                                   .arg(text, column.name));
    };
    if (column.kind == StorageKind::Utf8 || column.kind == StorageKind::Utf16)
        return text;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    bool ok = false;
    switch (column.kind) {
    case StorageKind::Bool: {
        const QString l = t.toLower();
        if (l == u"true" || l == u"wahr" || l == u"1")
            return true;
        if (l == u"false" || l == u"falsch" || l == u"0")
            return false;
        throw invalid();
    }
    case StorageKind::UInt8:
    case StorageKind::Int16:
    case StorageKind::Int32:
    case StorageKind::Int64: {
        const qlonglong v = t.toLongLong(&ok);
        const qlonglong lo = column.kind == StorageKind::UInt8   ? 0
                             : column.kind == StorageKind::Int16 ? -32768
                             : column.kind == StorageKind::Int32 ? qlonglong(INT_MIN)
                                                                 : LLONG_MIN;
        const qlonglong hi = column.kind == StorageKind::UInt8   ? 255
                             : column.kind == StorageKind::Int16 ? 32767
                             : column.kind == StorageKind::Int32 ? qlonglong(INT_MAX)
                                                                 : LLONG_MAX;
        if (!ok || v < lo || v > hi)
            throw invalid();
        return column.kind == StorageKind::Int64 ? QVariant(v) : QVariant(int(v));
    }
    case StorageKind::Double:
    case StorageKind::Decimal: {
        // A decimal comma is taken as the point.
        QString n = t;
        if (!n.contains(QLatin1Char('.')))
            n.replace(QLatin1Char(','), QLatin1Char('.'));
        static const QRegularExpression number(
            QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
        if (!number.match(n).hasMatch())
            throw invalid();
        if (column.kind == StorageKind::Decimal && !n.contains(QLatin1Char('e')) &&
            !n.contains(QLatin1Char('E')))
            return n; // exact digits
        const double v = n.toDouble(&ok);
        if (!ok)
            throw invalid();
        return v;
    }
    case StorageKind::DateTime:
    case StorageKind::Date: {
        // More than milliseconds: kept as text, which the store reads exactly.
        std::int64_t ticks = 0;
        if (column.kind == StorageKind::DateTime && data::parseDateTimeTicks(t, ticks) &&
            ticks % 10000 != 0)
            return t;
        static const char* const formats[] = {
            "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
            "dd.MM.yyyy HH:mm:ss",     "dd.MM.yyyy HH:mm",    "dd.MM.yyyy"};
        for (const char* f : formats) {
            QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
            if (!dt.isValid())
                continue;
            if (column.kind == StorageKind::Date)
                return dt.date();
            dt.setTimeSpec(Qt::UTC);
            return dt;
        }
        throw invalid();
    }
    case StorageKind::Time: {
        std::int64_t ticks = 0;
        if (data::parseTimeTicks(t, ticks) && ticks % 10000 != 0)
            return t;
        for (const char* f : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
            const QTime tm = QTime::fromString(t, QLatin1String(f));
            if (tm.isValid())
                return tm;
        }
        throw invalid();
    }
    case StorageKind::Guid: {
        const QUuid u = QUuid::fromString(t);
        if (u.isNull() && t != u.toString(QUuid::WithoutBraces) &&
            !t.startsWith(QLatin1String("{0000")))
            throw invalid();
        return u;
    }
    case StorageKind::Bytes: {
        if (!t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) || (t.size() % 2) != 0)
            throw invalid();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]*$"));
        if (!hex.match(QStringView(t).mid(2)).hasMatch())
            throw invalid();
        return QByteArray::fromHex(t.mid(2).toLatin1());
    }
    case StorageKind::Utf8:
    case StorageKind::Utf16:
        break;
    }
    return text;
}

QString blobPlaceholder(int fieldType, bool isNull) {
    // Fixed texts: a large-object cell costs no string building when painted.
    static const QString texts[3][2] = {
        {QStringLiteral("(MEMO)"), QStringLiteral("(memo)")},
        {QStringLiteral("(GRAPHIC)"), QStringLiteral("(graphic)")},
        {QStringLiteral("(BLOB)"), QStringLiteral("(blob)")},
    };
    int kind = 2;
    switch (fieldType) {
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
        kind = 0;
        break;
    case ftGraphic:
        kind = 1;
        break;
    default:
        break;
    }
    return texts[kind][isNull ? 1 : 0];
}

const QString& nullText() {
    static const QString text = QStringLiteral("NULL");
    return text;
}

QString copyText(const data::ResultStore& store, qint64 row, int column) {
    const data::ColumnInfo& info = store.column(column);
    if (store.isNull(row, column))
        return {};
    if (isBlobFieldType(info.type) && info.type != ftMemo && info.type != ftFmtMemo &&
        info.type != ftOraClob)
        return blobPlaceholder(info.type, false);
    return store.text(row, column);
}

int displayWidthChars(const data::ColumnInfo& column) {
    switch (column.type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
        // A very long text field is held to a width that still fits a screen.
        return std::clamp(column.size, 1, 100);
    case ftSmallint:
    case ftWord:
        return 6;
    case ftInteger:
    case ftAutoInc:
        return 11;
    case ftLargeint:
        return 15;
    case ftBoolean:
        return 5;
    case ftBCD:
    case ftFMTBcd:
        // Digits, sign and decimal point.
        return column.precision > 0 ? std::min(column.precision + 2, 40) : 10;
    case ftDate:
        return 10;
    case ftTime:
        return 8;
    case ftDateTime:
    case ftTimeStamp:
        return 19;
    case ftGuid:
        return 38;
    default:
        // Floating point, currency, large objects and the rest.
        return 10;
    }
}
