#pragma once
// The statements that write one edited, inserted or deleted row of a result
// back to its base table. Values always travel as parameters bound to "?"
// markers, never inside the text; names are bracketed with "]" doubled.
//
// A row is found by its primary key when the result holds every key column;
// otherwise by all its original values (the optimistic rule), where a null
// is compared with IS NULL and large objects, which the server cannot
// compare, are left out.

#include "data/provider.h"
#include "data/resultstore.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

namespace data {

struct SqlStatement {
    QString text;
    QList<QVariant> params;
};

// "[name]" with every "]" doubled.
QString bracketName(const QString& name);
// The base table of a target as the server knows it: "[schema].[table]" or "[table]".
QString targetTableName(const WriteTarget& target);

// One version of the row: the value of result column `col`, invalid for null.
using RowValues = std::function<QVariant(int col)>;

class RowWriter {
public:
    RowWriter(WriteTarget target, QList<ColumnInfo> columns);

    const WriteTarget& target() const { return m_target; }

    // UPDATE of the columns in `changed` to their current values, for the
    // row as it was read (`original`).
    SqlStatement update(const QList<int>& changed, const RowValues& original,
                        const RowValues& current) const;
    // INSERT of the columns in `assigned` (identity and computed columns
    // are never written); with an identity column in the result, the statement also
    // selects the value the server gave it.
    SqlStatement insert(const QList<int>& assigned, const RowValues& current) const;
    SqlStatement remove(const RowValues& original) const;
    // SELECT of the result's columns of the row found by its key, for
    // reading back what the server filled in; empty text when the key is
    // unknown or one of its values is null.
    SqlStatement reread(const RowValues& current) const;

    // The result column that holds the table's identity, -1 when none.
    int identityColumn() const;
    // True when the row is found by its key (not by all its values).
    bool byKey() const { return m_byKey; }

private:
    QString whereClause(const RowValues& original, QList<QVariant>& params) const;
    bool comparable(int col) const;

    WriteTarget m_target;
    QList<ColumnInfo> m_columns;
    bool m_byKey = false;
};

} // namespace data
