#pragma once
// The result grid's model: the rows and columns of a data source's dataset,
// read from its stored columns directly (no row is copied).

#include "app/grid/gridsort.h"
#include <QAbstractTableModel>
#include <QPointer>
#include <future>
#include <list>
#include <memory>
#include <vector>

class QTimer;

class TADODataSet;
class TDataSource;
namespace data {
class ResultStore;
} // namespace data

// The rows and columns of the data source's dataset while it is open,
// nothing while it is closed. Display texts are the data layer's; a large
// object shows its kind in brackets instead of its content, NULL shows as
// "NULL" (IsNullRole tells it from the text).
//
// The rows can be shown sorted by a column: the model then keeps a
// permutation of the dataset's rows (the row shown at each place) computed
// on a worker thread, and maps every row it is asked about to the
// dataset's row. Rows inserted or removed by the dataset keep their place
// relative to the rows around them; rows that arrive while a result is
// fetched are shown below the sorted ones and sorted in when the fetch ends.
class TDBBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Roles { IsNullRole = Qt::UserRole + 1 };

    explicit TDBBGridModel(QObject* parent = nullptr);
    ~TDBBGridModel() override;

    void setDataSource(TDataSource* source);
    TDataSource* dataSource() const { return m_source; }
    TADODataSet* dataSet() const;
    const data::ResultStore* store() const { return m_store.get(); }
    std::shared_ptr<const data::ResultStore> sharedStore() const { return m_store; }
    // True when the model shows what the open dataset holds: its rows, all
    // of them. False while the model catches up with a change of the
    // dataset's rows (inside the signals that announce it).
    bool inStep() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Cells of ordinary fields are editable (large objects through the cell
    // viewer); an edit goes to the dataset's current row, which moves there.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Converts the typed text to the field's kind and sets it; raises
    // DataError when the text is no value of that kind.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The dataset's row shown at `viewRow`, and where a dataset row is shown.
    qint64 storeRow(int viewRow) const {
        return m_order.empty() ? viewRow : m_order[std::size_t(viewRow)];
    }
    int viewRow(qint64 storeRow) const {
        return m_position.empty() ? int(storeRow) : m_position[std::size_t(storeRow)];
    }
    // The sort: a column and its direction; None shows the server's order.
    int sortColumn() const { return m_sortColumn; }
    gridsort::Order sortOrder() const { return m_sortOrder; }
    // Sorts by the column: ascending, then descending, then the server's
    // order again. The rows change their places when the sort is done.
    void cycleSort(int column);
    void sortBy(int column, gridsort::Order order);
    // True while a sort runs on its worker.
    bool sorting() const { return bool(m_job); }

signals:
    // The rows are about to take new places.
    void aboutToReorder();
    // The rows took their places in a new order (or the server's again).
    void sorted();

private:
    void refresh();
    void rowInserted(qint64 row);
    void rowRemoved(qint64 row);
    void rowChanged(qint64 row);
    void rowsAppended(qint64 from, qint64 to);
    void startSort();
    void applySort(std::shared_ptr<gridsort::SortJob> job, std::vector<int> order,
                   std::vector<int> position);
    void resetSort();
    void rebuildPositions();
    void checkFetchEnded();

    QPointer<TDataSource> m_source;
    std::shared_ptr<const data::ResultStore> m_store;
    int m_rows = 0; // what the views were last told
    int m_sortColumn = -1;
    gridsort::Order m_sortOrder = gridsort::Order::None;
    std::vector<int> m_order;    // view row -> dataset row; empty: the same
    std::vector<int> m_position; // dataset row -> view row
    std::shared_ptr<gridsort::SortJob> m_job;
    QTimer* m_fetchWatch;
    // Sorts still running; the model waits for them when it goes, so none
    // posts its result to a model that is gone.
    std::list<std::future<void>> m_workers;
    bool m_rowsMoved = false; // rows inserted or removed since the sort began
};
