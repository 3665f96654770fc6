#include "app/grid/gridmodel.h"

#include "app/grid/cellvalues.h"
#include "data/adodataset.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include <algorithm>
#include <climits>

TDBBGridModel::TDBBGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void TDBBGridModel::setDataSource(TDataSource* source) {
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &TDataSource::dataSetChanged, this, &TDBBGridModel::refresh);
        connect(m_source, &TDataSource::rowInserted, this, &TDBBGridModel::rowInserted);
        connect(m_source, &TDataSource::rowRemoved, this, &TDBBGridModel::rowRemoved);
        connect(m_source, &TDataSource::rowChanged, this, &TDBBGridModel::rowChanged);
        connect(m_source, &TDataSource::rowsAppended, this, &TDBBGridModel::rowsAppended);
    }
    refresh();
}

void TDBBGridModel::rowInserted(qint64 row) {
    if (!m_store || row < 0 || row > m_rows)
        return refresh();
    beginInsertRows({}, int(row), int(row));
    m_rows = int(std::min<qint64>(m_store->rowCount(), INT_MAX));
    endInsertRows();
}

void TDBBGridModel::rowsAppended(qint64 from, qint64 to) {
    // Rows that arrive while the result is fetched: the views learn of them
    // as inserted rows, so what they show and where they stand stays.
    TADODataSet* ds = dataSet();
    if (!m_store || !ds || ds->store() != m_store || from != m_rows)
        return refresh();
    const int last = int(std::min<qint64>(to, INT_MAX));
    if (last <= m_rows)
        return;
    beginInsertRows({}, m_rows, last - 1);
    m_rows = last;
    endInsertRows();
}

void TDBBGridModel::rowRemoved(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return refresh();
    beginRemoveRows({}, int(row), int(row));
    m_rows = int(std::min<qint64>(m_store->rowCount(), INT_MAX));
    endRemoveRows();
}

void TDBBGridModel::rowChanged(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return;
    emit dataChanged(index(int(row), 0), index(int(row), columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, int(row), int(row));
}

Qt::ItemFlags TDBBGridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (m_store && index.isValid() && !isBlobFieldType(m_store->column(index.column()).type))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TDBBGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    TADODataSet* ds = dataSet();
    if (role != Qt::EditRole || !index.isValid() || !m_store || !ds || !ds->Active())
        return false;
    const QVariant typed = valueFromText(value.toString(), m_store->column(index.column()));
    if (ds->RecNo() != index.row() + 1)
        ds->setRecNo(index.row() + 1);
    ds->Fields(index.column()).setValue(typed);
    return true;
}

TADODataSet* TDBBGridModel::dataSet() const {
    return m_source ? m_source->DataSet() : nullptr;
}

void TDBBGridModel::refresh() {
    TADODataSet* ds = dataSet();
    beginResetModel();
    m_store = ds && ds->Active() ? ds->store() : nullptr;
    m_rows = m_store ? int(std::min<qint64>(m_store->rowCount(), INT_MAX)) : 0;
    endResetModel();
}

int TDBBGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_store ? 0 : m_rows;
}

int TDBBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_store ? 0 : m_store->columnCount();
}

QVariant TDBBGridModel::data(const QModelIndex& index, int role) const {
    if (!m_store || !index.isValid())
        return {};
    const data::ColumnInfo& column = m_store->column(index.column());
    switch (role) {
    case Qt::EditRole:
        return m_store->text(index.row(), index.column());
    case Qt::DisplayRole:
        if (isBlobFieldType(column.type))
            return blobPlaceholder(column.type, m_store->isNull(index.row(), index.column()));
        return m_store->text(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return QVariant((isNumericKind(column.kind) ? Qt::AlignRight : Qt::AlignLeft) |
                        Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TDBBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || !m_store ||
        section >= m_store->columnCount())
        return {};
    return m_store->column(section).name;
}

bool TDBBGridModel::inStep() const {
    const TADODataSet* ds = dataSet();
    return m_store && ds && ds->Active() && ds->store() == m_store &&
           m_rows == int(std::min<qint64>(m_store->rowCount(), INT_MAX));
}
