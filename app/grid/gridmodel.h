#pragma once
// The result grid's model: the rows and columns of a data source's dataset,
// read from its stored columns directly (no row is copied).

#include <QAbstractTableModel>
#include <QPointer>
#include <memory>

class TADODataSet;
class TDataSource;
namespace data {
class ResultStore;
} // namespace data

// The rows and columns of the data source's dataset while it is open,
// nothing while it is closed. Display texts are the data layer's; a large
// object shows its kind in brackets instead of its content.
class TDBBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDBBGridModel(QObject* parent = nullptr);

    void setDataSource(TDataSource* source);
    TDataSource* dataSource() const { return m_source; }
    TADODataSet* dataSet() const;
    const data::ResultStore* store() const { return m_store.get(); }
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

private:
    void refresh();
    void rowInserted(qint64 row);
    void rowRemoved(qint64 row);
    void rowChanged(qint64 row);
    void rowsAppended(qint64 from, qint64 to);

    QPointer<TDataSource> m_source;
    std::shared_ptr<const data::ResultStore> m_store;
    int m_rows = 0; // what the views were last told
};
