#include "export/tableschema.h"

#include <QRegularExpression>

namespace exportfile {

QString columnTypeText(const ColumnDef& column) {
    switch (column.type) {
    case ColumnType::Integer:
        return QStringLiteral("integer");
    case ColumnType::Float:
        return QStringLiteral("float");
    case ColumnType::Numeric:
        return QStringLiteral("numeric(%1,%2)").arg(column.precision).arg(column.scale);
    case ColumnType::Char:
        return QStringLiteral("char(%1)").arg(column.size);
    case ColumnType::Memo:
        return QStringLiteral("memo");
    case ColumnType::Bit:
        return QStringLiteral("bit");
    case ColumnType::Date:
        return QStringLiteral("date");
    case ColumnType::DateTime:
        return column.fraction >= 0 ? QStringLiteral("datetime(%1)").arg(column.fraction)
                                    : QStringLiteral("datetime");
    case ColumnType::Time:
        return column.fraction >= 0 ? QStringLiteral("time(%1)").arg(column.fraction)
                                    : QStringLiteral("time");
    case ColumnType::Timestamp:
        return QStringLiteral("timestamp");
    }
    return {};
}

namespace {

ColumnDef makeColumn(const QString& name, const QRegularExpressionMatch& m) {
    ColumnDef c;
    c.name = name;
    const QString type = m.captured(2).toLower();
    if (type == u"integer")
        c.type = ColumnType::Integer;
    else if (type == u"float")
        c.type = ColumnType::Float;
    else if (type.startsWith(u"numeric")) {
        c.type = ColumnType::Numeric;
        c.precision = m.captured(3).toInt();
        c.scale = m.captured(4).toInt();
        if (c.precision < 1 || c.precision > 28 || c.scale > c.precision)
            throw ExportError(QStringLiteral("Ungültiger Datentyp %1 für das Feld \"%2\".")
                                  .arg(m.captured(2), name));
    } else if (type.startsWith(u"char")) {
        c.type = ColumnType::Char;
        c.size = m.captured(5).toInt();
        if (c.size < 1 || c.size > 255)
            throw ExportError(QStringLiteral("Ungültige Feldgröße %1 für das Feld \"%2\".")
                                  .arg(m.captured(5), name));
    } else if (type == u"memo")
        c.type = ColumnType::Memo;
    else if (type == u"bit")
        c.type = ColumnType::Bit;
    else if (type.startsWith(u"datetime"))
        c.type = ColumnType::DateTime;
    else if (type == u"date")
        c.type = ColumnType::Date;
    else if (type == u"timestamp")
        c.type = ColumnType::Timestamp;
    else
        c.type = ColumnType::Time;
    // datetime(n) and time(n) keep n digits of the second's fraction.
    const QString fraction = m.captured(c.type == ColumnType::DateTime ? 6 : 7);
    if (!fraction.isEmpty())
        c.fraction = fraction.toInt();
    return c;
}

} // namespace

TableSchema parseCreateTable(const QString& statement) {
    static const QRegularExpression head(
        QStringLiteral(R"(^\s*CREATE\s+TABLE\s+\[(.*?)\]\s*\((.*)\)\s*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    // One column: the shortest name that is followed by a blank, a known type, an optional
    // blank and then the separator ", " or the end of the list. Names may contain blanks.
    static const QRegularExpression column(
        QStringLiteral(R"((.*?) (integer|float|numeric\((\d+),(\d+)\)|char\((\d+)\)|memo|bit|)"
                       R"(datetime(?:\(([0-7])\))?|date|timestamp|time(?:\(([0-7])\))?) ?(, |$))"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);

    const auto m = head.match(statement);
    if (!m.hasMatch())
        throw ExportError(QStringLiteral("Syntaxfehler in der CREATE TABLE-Anweisung."));
    TableSchema schema;
    schema.tableName = m.captured(1);
    if (schema.tableName.trimmed().isEmpty())
        throw ExportError(QStringLiteral("Der Tabellenname fehlt in der CREATE TABLE-Anweisung."));

    const QString body = m.captured(2);
    qsizetype pos = 0;
    bool separatorPending = false;
    while (pos < body.size()) {
        const auto cm = column.match(body, pos, QRegularExpression::NormalMatch,
                                     QRegularExpression::AnchorAtOffsetMatchOption);
        if (!cm.hasMatch())
            throw ExportError(
                QStringLiteral(
                    "Syntaxfehler in der Felddefinition \"%1\" der CREATE TABLE-Anweisung.")
                    .arg(body.mid(pos).trimmed()));
        schema.columns.push_back(makeColumn(cm.captured(1), cm));
        pos = cm.capturedEnd(0);
        separatorPending = !cm.captured(8).isEmpty();
    }
    if (separatorPending)
        throw ExportError(
            QStringLiteral("Syntaxfehler: nach dem letzten \",\" fehlt eine Felddefinition."));
    if (schema.columns.empty())
        throw ExportError(QStringLiteral("Die CREATE TABLE-Anweisung enthält kein Feld; eine "
                                         "Tabelle braucht mindestens ein Feld."));
    return schema;
}

} // namespace exportfile
