#pragma once
// A plain result grid: a table view over a model that reads the result
// dataset's stored columns directly (no row is copied). It stands in for the
// drawing grid until that exists; the window only needs the two functions
// below.

#include <QAbstractTableModel>
#include <QPointer>
#include <memory>

class QWidget;
class TDataSource;
namespace data {
class ResultStore;
}

class ResultTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultTableModel(QObject* parent = nullptr);

    // Follows the data source: the rows of its dataset while it is open,
    // nothing while it is closed.
    void setDataSource(TDataSource* source);
    void setStore(std::shared_ptr<const data::ResultStore> store);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void refresh();

    QPointer<TDataSource> m_source;
    std::shared_ptr<const data::ResultStore> m_store;
};

// Creates the grid "DBGridQuery" (a widget of the result page).
QWidget* createResultGrid(QWidget* parent);
// Binds the grid to the data source (nullptr unbinds).
void attachResultGrid(QWidget* grid, TDataSource* source);
