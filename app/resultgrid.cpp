#include "resultgrid.h"

#include "adodataset.h"

#include <QHeaderView>
#include <QTableView>

ResultTableModel::ResultTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultTableModel::setDataSource(TDataSource* source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &TDataSource::dataSetChanged, this, &ResultTableModel::refresh);
    refresh();
}

void ResultTableModel::refresh()
{
    TADODataSet* dataSet = m_source ? m_source->DataSet() : nullptr;
    setStore(dataSet && dataSet->Active() ? dataSet->store() : nullptr);
}

void ResultTableModel::setStore(std::shared_ptr<const data::ResultStore> store)
{
    beginResetModel();
    m_store = std::move(store);
    endResetModel();
}

int ResultTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_store)
        return 0;
    return int(std::min<qint64>(m_store->rowCount(), INT_MAX));
}

int ResultTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_store ? 0 : m_store->columnCount();
}

QVariant ResultTableModel::data(const QModelIndex& index, int role) const
{
    if (!m_store || !index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return m_store->text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
        switch (m_store->column(index.column()).kind) {
        case data::StorageKind::UInt8:
        case data::StorageKind::Int16:
        case data::StorageKind::Int32:
        case data::StorageKind::Int64:
        case data::StorageKind::Double:
        case data::StorageKind::Decimal:
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    return {};
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_store && section < m_store->columnCount() ? m_store->column(section).name
                                                            : QVariant();
    return {};
}

QWidget* createResultGrid(QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setObjectName(QStringLiteral("DBGridQuery"));
    view->setModel(new ResultTableModel(view));
    view->verticalHeader()->setDefaultSectionSize(18);
    view->verticalHeader()->setFixedWidth(12);
    view->horizontalHeader()->setDefaultSectionSize(64);
    return view;
}

void attachResultGrid(QWidget* grid, TDataSource* source)
{
    auto* view = qobject_cast<QTableView*>(grid);
    if (!view)
        return;
    if (auto* model = qobject_cast<ResultTableModel*>(view->model()))
        model->setDataSource(source);
}
