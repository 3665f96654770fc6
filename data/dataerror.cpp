#include "data/dataerror.h"

namespace data {

DataError::DataError(const QString& message, const QString& sqlState, int nativeError,
                     QList<DiagRecord> records)
    : std::runtime_error(message.toStdString()), m_message(message), m_sqlState(sqlState),
      m_nativeError(nativeError), m_records(std::move(records)) {
    if (m_records.isEmpty())
        m_records.append(DiagRecord{m_sqlState, m_nativeError, m_message, -1});
}

NoResultSetError::NoResultSetError() : DataError(QString::fromUtf8(kNoResultSetText)) {}

} // namespace data
