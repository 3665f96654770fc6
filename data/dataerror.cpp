#include "data/dataerror.h"

namespace data {

DataError::DataError(const QString& message, const QString& sqlState, int nativeError,
                     QList<DiagRecord> records)
    : std::runtime_error(message.toStdString()), m_message(message), m_sqlState(sqlState),
      m_nativeError(nativeError), m_records(std::move(records)) {
    if (m_records.isEmpty()) {
        DiagRecord r;
        r.sqlState = m_sqlState;
        r.nativeError = m_nativeError;
        r.message = m_message;
        m_records.append(r);
    }
}

DiagRecord DiagRecord::rowCount(qint64 rows) {
    DiagRecord r;
    r.kind = MessageKind::RowCount;
    r.rows = rows;
    r.message = rows == 1 ? QStringLiteral("(1 Zeile betroffen)")
                          : QStringLiteral("(%1 Zeilen betroffen)").arg(rows);
    return r;
}

NoResultSetError::NoResultSetError() : DataError(QString::fromUtf8(kNoResultSetText)) {}

} // namespace data
