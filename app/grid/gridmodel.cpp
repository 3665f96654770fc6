#include "app/grid/gridmodel.h"

#include "app/grid/cellvalues.h"
#include "data/adodataset.h"
#include "data/fieldtype.h"
#include "data/resultstore.h"
#include <QColor>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>

namespace {

int cappedRows(const data::ResultStore& store) {
    return int(std::min<qint64>(store.rowCount(), INT_MAX));
}

} // namespace

TDBBGridModel::TDBBGridModel(QObject* parent)
    : QAbstractTableModel(parent), m_fetchWatch(new QTimer(this)) {
    // Rows that arrive during a sort are sorted in once the fetch ends; the
    // dataset does not announce that end, so it is looked for now and then.
    m_fetchWatch->setInterval(100);
    connect(m_fetchWatch, &QTimer::timeout, this, &TDBBGridModel::checkFetchEnded);
}

TDBBGridModel::~TDBBGridModel() {
    if (m_job)
        m_job->cancel();
    for (std::future<void>& worker : m_workers)
        worker.wait();
}

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

void TDBBGridModel::rebuildPositions() {
    if (m_order.empty()) {
        m_position.clear();
        return;
    }
    m_position.assign(m_order.size(), 0);
    for (std::size_t v = 0; v < m_order.size(); ++v)
        m_position[std::size_t(m_order[v])] = int(v);
}

void TDBBGridModel::rowInserted(qint64 row) {
    if (!m_store || row < 0 || row > m_rows)
        return refresh();
    // A row inserted before dataset row `row` is shown where that row was,
    // which moves down; one added at the end is shown at the end.
    const int at = m_order.empty() || row == m_rows ? int(row) : viewRow(row);
    beginInsertRows({}, at, at);
    if (!m_order.empty()) {
        for (int& r : m_order)
            if (r >= row)
                ++r;
        m_order.insert(m_order.begin() + at, int(row));
        rebuildPositions();
    }
    m_rows = cappedRows(*m_store);
    endInsertRows();
    m_rowsMoved = true;
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
    if (!m_order.empty()) {
        // Below the sorted rows until the fetch ends.
        for (int r = m_rows; r < last; ++r) {
            m_order.push_back(r);
            m_position.push_back(r);
        }
    }
    m_rows = last;
    endInsertRows();
    if (m_sortOrder != gridsort::Order::None && ds->Fetching())
        m_fetchWatch->start();
}

void TDBBGridModel::rowRemoved(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return refresh();
    const int at = viewRow(row);
    beginRemoveRows({}, at, at);
    if (!m_order.empty()) {
        m_order.erase(m_order.begin() + at);
        for (int& r : m_order)
            if (r > row)
                --r;
        rebuildPositions();
    }
    m_rows = cappedRows(*m_store);
    endRemoveRows();
    m_rowsMoved = true;
}

void TDBBGridModel::rowChanged(qint64 row) {
    if (!m_store || row < 0 || row >= m_rows)
        return;
    const int at = viewRow(row);
    emit dataChanged(index(at, 0), index(at, columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, at, at);
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
    const qint64 row = storeRow(index.row());
    if (ds->RecNo() != row + 1)
        ds->setRecNo(row + 1);
    ds->Fields(index.column()).setValue(typed);
    return true;
}

TADODataSet* TDBBGridModel::dataSet() const {
    return m_source ? m_source->DataSet() : nullptr;
}

void TDBBGridModel::refresh() {
    TADODataSet* ds = dataSet();
    const auto before = m_store;
    const int rowsBefore = m_rows;
    beginResetModel();
    m_store = ds && ds->Active() ? ds->store() : nullptr;
    m_rows = m_store ? cappedRows(*m_store) : 0;
    // The same rows keep their order; the same result with other rows is
    // sorted again; another result starts in the server's order.
    const bool same = m_store && m_store == before;
    if (!same || m_rows != rowsBefore) {
        m_order.clear();
        m_position.clear();
    }
    endResetModel();
    if (!same)
        resetSort();
    else if (m_rows != rowsBefore && m_sortOrder != gridsort::Order::None)
        startSort();
}

void TDBBGridModel::resetSort() {
    if (m_job)
        m_job->cancel();
    m_job.reset();
    m_fetchWatch->stop();
    m_order.clear();
    m_position.clear();
    if (m_sortColumn >= 0 || m_sortOrder != gridsort::Order::None) {
        m_sortColumn = -1;
        m_sortOrder = gridsort::Order::None;
        emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
    }
}

void TDBBGridModel::cycleSort(int column) {
    using gridsort::Order;
    Order next = Order::Ascending;
    if (column == m_sortColumn)
        next = m_sortOrder == Order::Ascending    ? Order::Descending
               : m_sortOrder == Order::Descending ? Order::None
                                                  : Order::Ascending;
    sortBy(column, next);
}

void TDBBGridModel::sortBy(int column, gridsort::Order order) {
    if (!m_store || column < 0 || column >= columnCount())
        return;
    const int oldColumn = m_sortColumn;
    m_sortColumn = order == gridsort::Order::None ? -1 : column;
    m_sortOrder = order;
    emit headerDataChanged(Qt::Horizontal, std::max(0, std::min(oldColumn, column)),
                           std::max(oldColumn, column));
    if (order == gridsort::Order::None) {
        if (m_job)
            m_job->cancel();
        m_job.reset();
        m_fetchWatch->stop();
        applySort(nullptr, {}, {});
        return;
    }
    startSort();
}

void TDBBGridModel::startSort() {
    if (m_job)
        m_job->cancel();
    m_workers.remove_if([](std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    const TADODataSet* ds = dataSet();
    auto job = std::make_shared<gridsort::SortJob>(m_store, m_sortColumn, m_rows, m_sortOrder,
                                                   ds && ds->Fetching());
    m_job = job;
    m_rowsMoved = false;
    // The result comes back as a queued call; the destructor waits for the
    // worker, so the call never reaches a model that is gone.
    m_workers.push_back(std::async(std::launch::async, [this, job] {
        std::vector<int> order = job->run();
        // Where each row goes, for the way back from the dataset's rows.
        std::vector<int> position(order.size());
        for (std::size_t v = 0; v < order.size(); ++v)
            position[std::size_t(order[v])] = int(v);
        QMetaObject::invokeMethod(
            this,
            [this, job, order = std::move(order), position = std::move(position)]() mutable {
                applySort(job, std::move(order), std::move(position));
            },
            Qt::QueuedConnection);
    }));
}

void TDBBGridModel::applySort(std::shared_ptr<gridsort::SortJob> job, std::vector<int> order,
                              std::vector<int> position) {
    if (job) {
        if (job != m_job)
            return; // a later sort replaced it
        m_job.reset();
        if (order.empty() && job->rows() > 0)
            return; // cancelled
        if (m_rowsMoved || job->rows() > m_rows) {
            startSort(); // rows were inserted or removed meanwhile
            return;
        }
        // Rows that arrived since the sort began stay below it.
        for (int r = int(job->rows()); r < m_rows; ++r) {
            order.push_back(r);
            position.push_back(r);
        }
    }
    emit aboutToReorder();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const qint64 row = storeRow(index.row());
        const int to = position.empty() ? int(row) : position[std::size_t(row)];
        after.append(createIndex(to, index.column()));
    }
    m_order = std::move(order);
    m_position = std::move(position);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    TADODataSet* ds = dataSet();
    if (m_sortOrder != gridsort::Order::None && ds && ds->Fetching())
        m_fetchWatch->start();
    emit sorted();
}

void TDBBGridModel::checkFetchEnded() {
    TADODataSet* ds = dataSet();
    if (ds && ds->Fetching())
        return;
    m_fetchWatch->stop();
    if (m_store && m_sortOrder != gridsort::Order::None && !m_job)
        startSort();
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
    const qint64 row = storeRow(index.row());
    switch (role) {
    case Qt::EditRole:
        return m_store->text(row, index.column());
    case Qt::DisplayRole:
        if (isBlobFieldType(column.type))
            return blobPlaceholder(column.type, m_store->isNull(row, index.column()));
        if (m_store->isNull(row, index.column()))
            return nullText();
        return m_store->text(row, index.column());
    case IsNullRole:
        return m_store->isNull(row, index.column());
    case Qt::ForegroundRole:
        // NULL in grey, so it is not taken for the text "NULL".
        if (!isBlobFieldType(column.type) && m_store->isNull(row, index.column()))
            return QColor(Qt::gray);
        return {};
    case Qt::TextAlignmentRole:
        return QVariant((isNumericKind(column.kind) ? Qt::AlignRight : Qt::AlignLeft) |
                        Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TDBBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || !m_store || section >= m_store->columnCount())
        return {};
    const bool sortedHere = section == m_sortColumn && m_sortOrder != gridsort::Order::None;
    const bool up = m_sortOrder == gridsort::Order::Ascending;
    switch (role) {
    case Qt::DisplayRole:
        // The arrow is part of the title, so every style shows it and
        // assistive technology reads it.
        if (sortedHere)
            return m_store->column(section).name +
                   (up ? QStringLiteral(" \u25B2") : QStringLiteral(" \u25BC"));
        return m_store->column(section).name;
    case Qt::AccessibleDescriptionRole:
        if (sortedHere)
            return up ? QStringLiteral("aufsteigend sortiert")
                      : QStringLiteral("absteigend sortiert");
        return {};
    default:
        return {};
    }
}

bool TDBBGridModel::inStep() const {
    const TADODataSet* ds = dataSet();
    return m_store && ds && ds->Active() && ds->store() == m_store &&
           m_rows == int(std::min<qint64>(m_store->rowCount(), INT_MAX));
}
