#include "data/rowwriter.h"

#include "data/fieldtype.h"

#include <QStringList>

namespace data {

QString bracketName(const QString& name) {
    QString n = name;
    n.replace(QLatin1Char(']'), QStringLiteral("]]"));
    return QLatin1Char('[') + n + QLatin1Char(']');
}

QString targetTableName(const WriteTarget& target) {
    const QString table = bracketName(target.table);
    return target.schema.isEmpty() ? table : bracketName(target.schema) + QLatin1Char('.') + table;
}

RowWriter::RowWriter(WriteTarget target, QList<ColumnInfo> columns)
    : m_target(std::move(target)), m_columns(std::move(columns)) {
    m_byKey = m_target.hasKey();
}

bool RowWriter::comparable(int col) const {
    // The server cannot compare text, ntext and image values (nor
    // sql_variant reliably); they are left out of the search condition.
    const ColumnInfo& c = m_columns.at(col);
    return !isBlobFieldType(c.type) && c.type != ftVariant;
}

int RowWriter::identityColumn() const {
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_target.autoIncrement.value(c))
            return c;
    return -1;
}

QString RowWriter::whereClause(const RowValues& original, QList<QVariant>& params) const {
    QStringList terms;
    for (int c = 0; c < m_columns.size(); ++c) {
        const bool use = m_byKey ? m_target.keyColumns.value(c) : comparable(c);
        if (!use)
            continue;
        const QString name = bracketName(m_target.baseColumns.at(c));
        const QVariant v = original(c);
        if (!v.isValid() || v.isNull()) {
            terms.append(name + QStringLiteral(" IS NULL"));
        } else {
            terms.append(name + QStringLiteral(" = ?"));
            params.append(v);
        }
    }
    if (terms.isEmpty())
        throw NotUpdatableError(QStringLiteral(
            "Die Ergebnismenge kann nicht geändert werden: keine Spalte kennzeichnet die Zeile"));
    return QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

SqlStatement RowWriter::update(const QList<int>& changed, const RowValues& original,
                               const RowValues& current) const {
    SqlStatement s;
    QStringList sets;
    for (int c : changed) {
        if (m_target.autoIncrement.value(c))
            throw DataError(QStringLiteral("Die Spalte \"%1\" wird vom Server vergeben und kann "
                                           "nicht geändert werden")
                                .arg(m_columns.at(c).name));
        if (m_target.readOnly.value(c))
            throw DataError(QStringLiteral("Die Spalte \"%1\" wird vom Server berechnet und kann "
                                           "nicht geändert werden")
                                .arg(m_columns.at(c).name));
        sets.append(bracketName(m_target.baseColumns.at(c)) + QStringLiteral(" = ?"));
        s.params.append(current(c));
    }
    s.text = QStringLiteral("UPDATE ") + targetTableName(m_target) + QStringLiteral(" SET ") +
             sets.join(QStringLiteral(", "));
    s.text += whereClause(original, s.params);
    return s;
}

SqlStatement RowWriter::insert(const QList<int>& assigned, const RowValues& current) const {
    SqlStatement s;
    QStringList names, marks;
    for (int c : assigned) {
        if (m_target.autoIncrement.value(c) || m_target.readOnly.value(c))
            continue; // the server assigns or computes it
        names.append(bracketName(m_target.baseColumns.at(c)));
        marks.append(QStringLiteral("?"));
        s.params.append(current(c));
    }
    s.text = QStringLiteral("INSERT INTO ") + targetTableName(m_target);
    if (names.isEmpty())
        s.text += QStringLiteral(" DEFAULT VALUES");
    else
        s.text += QStringLiteral(" (") + names.join(QStringLiteral(", ")) +
                  QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                  QLatin1Char(')');
    if (identityColumn() >= 0)
        s.text += QStringLiteral("; SELECT SCOPE_IDENTITY()");
    return s;
}

SqlStatement RowWriter::remove(const RowValues& original) const {
    SqlStatement s;
    s.text = QStringLiteral("DELETE FROM ") + targetTableName(m_target);
    s.text += whereClause(original, s.params);
    return s;
}

SqlStatement RowWriter::reread(const RowValues& current) const {
    SqlStatement s;
    if (!m_byKey)
        return s;
    QStringList names;
    for (int c = 0; c < m_columns.size(); ++c)
        names.append(bracketName(m_target.baseColumns.at(c)));
    QStringList terms;
    QList<QVariant> params;
    for (int c = 0; c < m_columns.size(); ++c) {
        if (!m_target.keyColumns.value(c))
            continue;
        const QVariant v = current(c);
        if (!v.isValid() || v.isNull())
            return s;
        terms.append(bracketName(m_target.baseColumns.at(c)) + QStringLiteral(" = ?"));
        params.append(v);
    }
    s.text = QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
             QStringLiteral(" FROM ") + targetTableName(m_target) + QStringLiteral(" WHERE ") +
             terms.join(QStringLiteral(" AND "));
    s.params = params;
    return s;
}

} // namespace data
