#pragma once
// The result grid: a table view over the dataset of a data source. It reads
// the dataset's stored columns directly (no row is copied), shows titles, an
// indicator column for the current row, grid lines and resizable columns,
// and draws graphic fields as thumbnails and memo fields as a one-line
// preview ending in "...".

#include <QAbstractTableModel>
#include <QImage>
#include <QPointer>
#include <QStringDecoder>
#include <QTableView>
#include <memory>
#include <adodataset.h> // dataSource() below needs the complete type

class QFontMetrics;
class QStyleOptionViewItem;
class TADODataSet;
class TDataSource;
namespace data {
class ResultStore;
}

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

// The text a large-object cell shows by default: the field kind in brackets,
// upper case when the cell holds a value ("(MEMO)", "(GRAPHIC)", "(BLOB)"),
// lower case when it is null ("(memo)").
QString blobPlaceholder(int fieldType, bool isNull);

// The memo preview: the longest start of the first line that is narrower
// than the cell minus the width of "...", followed by "...". `text` is the
// whole cell text; lines end at CR, LF or CR LF.
QString memoPreview(QStringView text, int cellWidth, const QFontMetrics& metrics);

// W = round(w / (h + 0.001) × H), halves to even: the thumbnail width of a
// w × h picture drawn at height H.
int thumbnailWidth(int pictureWidth, int pictureHeight, int cellHeight);

class TDBBGrid : public QTableView {
    Q_OBJECT
    Q_PROPERTY(bool AutoDisp_Image READ AutoDisp_Image WRITE setAutoDisp_Image)
    Q_PROPERTY(bool AutoDisp_Memo READ AutoDisp_Memo WRITE setAutoDisp_Memo)
public:
    explicit TDBBGrid(QWidget* parent = nullptr);
    ~TDBBGrid() override;

    bool AutoDisp_Image() const { return m_autoDispImage; }
    void setAutoDisp_Image(bool on);
    bool AutoDisp_Memo() const { return m_autoDispMemo; }
    void setAutoDisp_Memo(bool on);

    void setDataSource(TDataSource* source);
    TDataSource* dataSource() const { return m_model->dataSource(); }
    void setModel(QAbstractItemModel* model) override;
    TDBBGridModel* gridModel() const { return m_model; }

    // The drawing hook: runs for every data cell after its default text was
    // drawn; `rect` is the cell, `column` its field. Never throws.
    void DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                      const QStyleOptionViewItem& state);

signals:
    // A data cell was clicked; the dataset is on the clicked row.
    void CellClick(int column);

private:
    void drawGraphicCell(QPainter& painter, const QRect& rect, int row, int column,
                         const QStyleOptionViewItem& state);
    void drawMemoCell(QPainter& painter, const QRect& rect, int row, int column,
                      const QStyleOptionViewItem& state);
    void loadFirstLine(int row, int column, qsizetype maxChars);
    void followDataSet(qint64 row);
    void currentCellChanged(const QModelIndex& current);
    void cellClicked(const QModelIndex& index);

    TDBBGridModel* m_model;
    bool m_autoDispImage = true;
    bool m_autoDispMemo = true;
    bool m_syncing = false;
    // Scratch buffers, created with the grid and reused for every cell.
    QImage m_pictureBuffer;
    QString m_lineBuffer;
    QStringDecoder m_utf8{QStringDecoder::Utf8};
};
