#include "export/values.h"

#include <QLocale>
#include <QSet>
#include <QStringDecoder>
#include <charconv>
#include <cmath>
#include <cstring>

namespace exportfile {

namespace {

// Code points of the bytes 0x80..0x9F in code page 1252; the five unassigned bytes map to
// the C1 control of the same number, as the system's converter does.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

[[noreturn]] void throwNotA(const QVariant& v, const QString& what, const ColumnDef& column) {
    throw ExportError(
        QStringLiteral("Der Wert \"%1\" ist %2 und passt nicht in das Feld \"%3\" (%4).")
            .arg(v.toString(), what, column.name, columnTypeText(column)));
}

} // namespace

bool isNull(const QVariant& v) {
    return !v.isValid() || v.isNull();
}

void throwDoesNotFit(const QString& value, const ColumnDef& column) {
    throw ExportError(QStringLiteral("Der Wert \"%1\" passt nicht in das Feld \"%2\" (%3).")
                          .arg(value.size() > 60 ? value.left(57) + QStringLiteral("...") : value,
                               column.name, columnTypeText(column)));
}

void checkRowWidth(size_t values, size_t columns) {
    if (values != columns)
        throw ExportError(QStringLiteral("Der Datensatz hat %1 Werte, die Tabelle %2 Felder.")
                              .arg(values)
                              .arg(columns));
}

void checkFieldNames(const std::vector<QByteArray>& encodedNames) {
    QSet<QString> seen;
    for (const QByteArray& n : encodedNames) {
        const QString name = fromCp1252(n);
        if (name.trimmed().isEmpty())
            throw ExportError(QStringLiteral(
                "Ein Feld ohne Namen kann in dieser Tabelle nicht angelegt werden."));
        if (seen.contains(name.toUpper()))
            throw ExportError(
                QStringLiteral("Der Feldname \"%1\" kommt in der Tabelle mehrfach vor.").arg(name));
        seen.insert(name.toUpper());
    }
}

qint64 toInteger(const QVariant& v, const ColumnDef& column) {
    bool ok = false;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || std::fabs(d) >= 9.2e18)
            throwDoesNotFit(v.toString(), column);
        return static_cast<qint64>(std::llround(d));
    }
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        const qint64 i = s.toLongLong(&ok);
        if (ok)
            return i;
        const double d = s.toDouble(&ok);
        if (ok && std::isfinite(d) && std::fabs(d) < 9.2e18)
            return static_cast<qint64>(std::llround(d));
        throwNotA(v, QStringLiteral("keine ganze Zahl"), column);
    }
    default: {
        const qint64 i = v.toLongLong(&ok);
        if (!ok)
            throwNotA(v, QStringLiteral("keine ganze Zahl"), column);
        return i;
    }
    }
}

double toDouble(const QVariant& v, const ColumnDef& column) {
    bool ok = false;
    const double d =
        v.typeId() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
    if (!ok)
        throwNotA(v, QStringLiteral("keine Zahl"), column);
    return d;
}

bool toBool(const QVariant& v, const ColumnDef& column) {
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == u"1" || s == u"true" || s == u"t" || s == u"wahr" || s == u"-1")
            return true;
        if (s == u"0" || s == u"false" || s == u"f" || s == u"falsch")
            return false;
        throwNotA(v, QStringLiteral("kein Wahrheitswert"), column);
    }
    if (!v.canConvert<bool>())
        throwNotA(v, QStringLiteral("kein Wahrheitswert"), column);
    return v.toBool();
}

QString toText(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QDate:
        return isoDate(v.toDate());
    case QMetaType::QDateTime:
        return isoDateTime(v.toDateTime());
    case QMetaType::QTime:
        return isoTime(v.toTime());
    case QMetaType::Double:
    case QMetaType::Float:
        return numberText(v.toDouble());
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    default:
        return v.toString();
    }
}

QDateTime toDateTime(const QVariant& v, const ColumnDef& column) {
    QDateTime dt;
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        dt = v.toDateTime();
        break;
    // UTC: no time zone is consulted (and none is wanted, the values are wall-clock times).
    case QMetaType::QDate:
        dt = QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
        break;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        dt = QDateTime::fromString(s, Qt::ISODateWithMs);
        if (!dt.isValid())
            dt = QDateTime(QDate::fromString(s, Qt::ISODate), QTime(0, 0), Qt::UTC);
        break;
    }
    default:
        break;
    }
    if (!dt.isValid())
        throwNotA(v, QStringLiteral("kein Datum"), column);
    return dt;
}

QDate toDate(const QVariant& v, const ColumnDef& column) {
    if (v.typeId() == QMetaType::QDate && v.toDate().isValid())
        return v.toDate();
    return toDateTime(v, column).date();
}

QTime toTime(const QVariant& v, const ColumnDef& column) {
    QTime t;
    switch (v.typeId()) {
    case QMetaType::QTime:
        t = v.toTime();
        break;
    case QMetaType::QDateTime:
        t = v.toDateTime().time();
        break;
    case QMetaType::QString:
        t = QTime::fromString(v.toString().trimmed(), Qt::ISODateWithMs);
        break;
    default:
        break;
    }
    if (!t.isValid())
        throwNotA(v, QStringLiteral("keine Uhrzeit"), column);
    return t;
}

QString numberText(double value) {
    // Shortest text that reads back as the same double, never with a locale's comma.
    char buf[32];
    return QString::fromLatin1(buf, shortestNumber(buf, value) - buf);
}

char* shortestNumber(char* out, double d) {
    if (std::isnan(d)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (std::isinf(d)) {
        if (d < 0)
            *out++ = '-';
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    if (d == 0) { // also -0, which reads back as 0 anyway
        *out++ = '0';
        return out;
    }
    // The shortest digits that read back as d, and the decimal exponent of the first.
    char digits[24];
    int nd = 0;
    int x = 0;
    const double magnitude = std::fabs(d);
    const double tenThousandths = magnitude * 1e4;
    const long long m = tenThousandths < 1e15 ? std::llround(tenThousandths) : 0;
    if (m > 0 && double(m) / 1e4 == magnitude) {
        // At most four decimals (amounts, readings of a fixed resolution): d is the double
        // nearest to m / 10^4, whose digits are the only ones of 15 or fewer that read back
        // as d, so they are the shortest.
        const int length = int(std::to_chars(digits, digits + sizeof digits, m).ptr - digits);
        nd = length;
        while (nd > 1 && digits[nd - 1] == '0')
            --nd;
        x = length - 1 - 4;
    } else {
        // The library's shortest form is this one (fixed or scientific, whichever is shorter,
        // fixed on a tie, exponent with at least two digits), except for integers beyond 2^53,
        // whose fixed form it may write with other digits than the shortest.
        char* const end = std::to_chars(out, out + 32, d).ptr;
        const char* p = out + (*out == '-' ? 1 : 0);
        const char* const last = end;
        if (last - p <= 16 || std::any_of(p, last, [](char c) { return c < '0' || c > '9'; }))
            return end;
        char sci[32];
        const auto r =
            std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
        const char* q = sci;
        for (; *q != 'e'; ++q)
            if (*q != '.')
                digits[nd++] = *q;
        std::from_chars(q + (q[1] == '+' ? 2 : 1), r.ptr, x);
    }
    if (d < 0)
        *out++ = '-';
    const int ax = std::abs(x);
    const int sciLength = nd + (nd > 1 ? 1 : 0) + 2 + (ax >= 100 ? 3 : 2);
    const int fixedLength = x >= 0 ? std::max(nd, x + 1) + (nd > x + 1 ? 1 : 0) : 1 - x + nd;
    if (fixedLength <= sciLength) {
        if (x >= 0) {
            for (int i = 0; i < std::max(nd, x + 1); ++i) {
                if (i == x + 1)
                    *out++ = '.';
                *out++ = i < nd ? digits[i] : '0';
            }
        } else {
            *out++ = '0';
            *out++ = '.';
            for (int i = 0; i < -x - 1; ++i)
                *out++ = '0';
            std::memcpy(out, digits, size_t(nd));
            out += nd;
        }
        return out;
    }
    *out++ = digits[0];
    if (nd > 1) {
        *out++ = '.';
        std::memcpy(out, digits + 1, size_t(nd - 1));
        out += nd - 1;
    }
    *out++ = 'e';
    *out++ = x < 0 ? '-' : '+';
    if (ax >= 100)
        *out++ = char('0' + ax / 100);
    *out++ = char('0' + ax / 10 % 10);
    *out++ = char('0' + ax % 10);
    return out;
}

char* fixedNumber(char* out, double d, int decimals) {
    static constexpr double powers[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (decimals < 0 || decimals > 15 || !std::isfinite(d))
        return nullptr;
    // Below 2^52 a product that is exactly halfway between two integers is computed exactly,
    // so every tie is seen here and left to the caller's general conversion.
    const double scaled = std::fabs(d) * powers[decimals];
    if (scaled >= 4503599627370496.0 || scaled - std::floor(scaled) == 0.5)
        return nullptr;
    // Values that round to zero keep their sign there; leave those to the general form too.
    if (std::signbit(d) && std::floor(scaled + 0.5) == 0)
        return nullptr;
    // The product is within half a unit in the last place of the exact value; unless that is
    // as close to a half as the product's precision, both round to the same integer, whose
    // digits are the text's.
    const double fraction = scaled - std::floor(scaled);
    if (std::fabs(fraction - 0.5) <= scaled * 2.3e-16)
        return std::to_chars(out, out + 24 + decimals, d, std::chars_format::fixed, decimals).ptr;
    const auto units = static_cast<std::uint64_t>(std::floor(scaled) + (fraction > 0.5 ? 1 : 0));
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, units).ptr;
    int length = int(end - digits);
    if (d < 0)
        *out++ = '-';
    if (decimals == 0) {
        std::memcpy(out, digits, size_t(length));
        return out + length;
    }
    // At least one digit before the point: 0.0125, not .0125.
    const int whole = std::max(length - decimals, 1);
    const int pad = decimals + whole - length; // zeros between the point (or 0) and the digits
    int written = 0;
    for (int i = 0; i < whole + decimals; ++i) {
        if (i == whole)
            *out++ = '.';
        *out++ = i < pad ? '0' : digits[written++];
    }
    return out;
}

char* integerText(char* out, qint64 value) {
    return std::to_chars(out, out + 24, value).ptr;
}

QString isoDate(const QDate& d) {
    if (d.year() < 1 || d.year() > 9999)
        return d.toString(Qt::ISODate);
    char buf[16];
    return QString::fromLatin1(buf, isoDateText(buf, d.year(), d.month(), d.day()) - buf);
}

QString isoTime(const QTime& t) {
    if (!t.isValid())
        return {};
    char buf[16];
    return QString::fromLatin1(buf, isoTimeText(buf, t.msecsSinceStartOfDay()) - buf);
}

namespace {

char* digits(char* out, int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
        out[i] = char('0' + value % 10);
    return out + count;
}

} // namespace

char* isoDateText(char* out, int year, int month, int day) {
    out = digits(out, year, 4);
    *out++ = '-';
    out = digits(out, month, 2);
    *out++ = '-';
    return digits(out, day, 2);
}

char* isoTimeText(char* out, int msecs) {
    out = digits(out, msecs / 3600000, 2);
    *out++ = ':';
    out = digits(out, msecs / 60000 % 60, 2);
    *out++ = ':';
    out = digits(out, msecs / 1000 % 60, 2);
    if (msecs % 1000) {
        *out++ = '.';
        out = digits(out, msecs % 1000, 3);
    }
    return out;
}

char* isoTimeText(char* out, int msecs, int subMsecTicks, int fraction) {
    out = digits(out, msecs / 3600000, 2);
    *out++ = ':';
    out = digits(out, msecs / 60000 % 60, 2);
    *out++ = ':';
    out = digits(out, msecs / 1000 % 60, 2);
    if (fraction > 0) {
        std::int64_t ticks = std::int64_t(msecs % 1000) * 10000 + subMsecTicks;
        for (int k = std::min(fraction, 7); k < 7; ++k)
            ticks /= 10;
        *out++ = '.';
        out = digits(out, int(ticks), std::min(fraction, 7));
    }
    return out;
}

QString isoDateTime(const QDateTime& dt) {
    return isoDate(dt.date()) + u' ' + isoTime(dt.time());
}

QString cellText(const QVariant& v, const ColumnDef& column) {
    if (isNull(v))
        return {};
    switch (column.type) {
    case ColumnType::Integer:
        return QString::number(toInteger(v, column));
    case ColumnType::Float:
        return numberText(toDouble(v, column));
    case ColumnType::Numeric:
        if (v.typeId() == QMetaType::QString) {
            // Decimal texts keep all their digits; only the form is checked.
            toDouble(v, column);
            return v.toString().trimmed();
        }
        return numberText(toDouble(v, column));
    case ColumnType::Bit:
        return toBool(v, column) ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case ColumnType::Date:
        return isoDate(toDate(v, column));
    case ColumnType::DateTime:
    case ColumnType::Timestamp:
        if (column.fraction >= 0 && v.typeId() == QMetaType::QString) {
            // The text of a datetime(n) keeps its digits; only the form is checked.
            toDateTime(v, column);
            return v.toString().trimmed();
        }
        return isoDateTime(toDateTime(v, column));
    case ColumnType::Time:
        if (column.fraction >= 0 && v.typeId() == QMetaType::QString) {
            toTime(v, column);
            return v.toString().trimmed();
        }
        return isoTime(toTime(v, column));
    case ColumnType::Char:
    case ColumnType::Memo:
        return toText(v);
    }
    return {};
}

int cp1252Byte(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (cp1252High[i] == u)
            return 0x80 + i;
    return -1;
}

bool fitsCp1252(QStringView text) {
    for (const QChar ch : text)
        if (cp1252Byte(ch.unicode()) < 0)
            return false;
    return true;
}

qsizetype toCp1252(QStringView text, char* out) {
    char* const start = out;
    for (const QChar ch : text) {
        // A surrogate pair is one character that the code page cannot hold: one "?".
        if (ch.isLowSurrogate())
            continue;
        const int b = cp1252Byte(ch.unicode());
        *out++ = b < 0 ? '?' : static_cast<char>(b);
    }
    return out - start;
}

QByteArray toCp1252(const QString& text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    out.truncate(toCp1252(QStringView(text), out.data()));
    return out;
}

QString fromCp1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(cp1252High[b - 0x80]) : QChar(b));
    }
    return out;
}

QByteArray encodeDesktopText(const QString& text) {
    if (fitsCp1252(text))
        return toCp1252(text);
    return QByteArray(kUtf8Bom) + text.toUtf8();
}

QString decodeDesktopText(const QByteArray& bytes) {
    if (bytes.startsWith(kUtf8Bom))
        return QString::fromUtf8(bytes.sliced(3));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? fromCp1252(bytes) : text;
}

} // namespace exportfile
