#pragma once
// The result grid: a table view over the dataset of a data source. It reads
// the dataset's stored columns directly (no row is copied), shows titles, an
// indicator column for the current row, grid lines and resizable columns,
// and draws graphic fields as thumbnails and memo fields as a one-line
// preview ending in "...".

#include "controls/gridview.h"
#include "data/adodataset.h" // dataSource() below needs the complete type
#include <QAbstractTableModel>
#include <QImage>
#include <QPointer>
#include <QStringDecoder>
#include <exception>
#include <functional>
#include <memory>

class QFontMetrics;
class QStyleOptionViewItem;
class TADODataSet;
class TDataSource;
class QKeyEvent;
class QMouseEvent;
namespace data {
class ResultStore;
struct ColumnInfo;
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

// The value a typed text stands for in a field of this kind: numbers,
// dates and times parsed strictly, an empty text null (except for texts);
// raises DataError naming the field when the text is no such value.
QVariant valueFromText(const QString& text, const data::ColumnInfo& column);

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

// The width in characters a field's automatic column is sized for, as data
// grids size them by default: a text field's size, the usual display length
// of numbers, dates and times, about 10 characters for large objects.
int displayWidthChars(const data::ColumnInfo& column);

class TDBBGrid : public GridView {
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
    // While true, no cell editor opens and no row is inserted, appended or
    // deleted (the window sets it while a statement runs).
    void setEditLocked(bool locked) { m_editLocked = locked; }
    bool editLocked() const { return m_editLocked; }
    void setModel(QAbstractItemModel* model) override;
    TDBBGridModel* gridModel() const { return m_model; }

    // The drawing hook: runs for every data cell after its default text was
    // drawn; `rect` is the cell, `column` its field. Never throws.
    void DrawDataCell(QPainter& painter, const QRect& rect, int row, int column,
                      const QStyleOptionViewItem& state);

    // Errors met where they cannot be thrown to the caller (inside the
    // view's own signal handling) go here; by default they are thrown again
    // from the event loop, where the application shows them.
    void setErrorHandler(std::function<void(std::exception_ptr)> handler);
    using QAbstractItemView::edit; // edit(index) opens the cell's editor
    void reportError(std::exception_ptr error);
    // The cell editor the delegate opened, so leaving the row commits it first.
    void editorOpened(QWidget* editor) { m_editor = editor; }

signals:
    // A data cell was clicked; the dataset is on the clicked row.
    void CellClick(int column);

protected:
    // The current row's mark: a triangle, "I" while the row is edited, "*"
    // for a new row.
    void paintRowIndicator(QPainter& painter, const QRect& rect, int row) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // Commits an open cell editor, then posts the current row (an inserted
    // row that nothing was typed into is dropped instead).
    void leaveRow();
    void commitOpenEditor();
    void deleteCurrentRow();
    void drawGraphicCell(QPainter& painter, const QRect& rect, int row, int column,
                         const QStyleOptionViewItem& state);
    void drawMemoCell(QPainter& painter, const QRect& rect, int row, int column,
                      const QStyleOptionViewItem& state);
    void loadFirstLine(int row, int column, qsizetype maxChars);
    void followDataSet(qint64 row);
    // Sizes every column from its field's display width in the grid's font,
    // never narrower than its title.
    void sizeColumns();
    void currentCellChanged(const QModelIndex& current);
    void cellClicked(const QModelIndex& index);

    TDBBGridModel* m_model;
    bool m_autoDispImage = true;
    bool m_autoDispMemo = true;
    bool m_syncing = false;
    bool m_editLocked = false;
    QPointer<QWidget> m_editor;
    std::function<void(std::exception_ptr)> m_errorHandler;
    // Scratch buffers, created with the grid and reused for every cell.
    QImage m_pictureBuffer;
    QString m_lineBuffer;
    QStringDecoder m_utf8{QStringDecoder::Utf8};
};
