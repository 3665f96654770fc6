#pragma once
// How the result grid draws and edits its cells: the default cell drawing
// followed by the grid's drawing hook, graphic fields as thumbnails and memo
// fields as a one-line preview ending in "...", every field edited as text.

#include <QImage>
#include <QStringDecoder>
#include <QStyledItemDelegate>

class QFontMetrics;
class TDBBGrid;
namespace data {
class ResultStore;
} // namespace data

// The memo preview: the longest start of the first line that is narrower
// than the cell minus the width of "...", followed by "...". `text` is the
// whole cell text; lines end at CR, LF or CR LF.
QString memoPreview(QStringView text, int cellWidth, const QFontMetrics& metrics);

// W = round(w / (h + 0.001) × H), halves to even: the thumbnail width of a
// w × h picture drawn at height H.
int thumbnailWidth(int pictureWidth, int pictureHeight, int cellHeight);

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(TDBBGrid* grid);

    // The default cell drawing followed by the drawing hook, both from one
    // set of cell values: the cell's data is read and formatted once per
    // paint, not once for drawing and again for the hook.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    // Runs inside the view's own signal handling: an error (a text that is
    // no value of the field, a result that cannot be changed) is reported
    // instead of thrown through the view.
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

    // Draws a graphic cell's thumbnail or a memo cell's preview over the
    // default drawing of the cell `rect` (when switched on); other cells are
    // left as drawn. Never throws.
    void drawDataCell(QPainter& painter, const QRect& rect, const data::ResultStore& store, int row,
                      int column, const QStyleOptionViewItem& state, bool images, bool memos);

private:
    void drawGraphicCell(QPainter& painter, const QRect& rect, const data::ResultStore& store,
                         int row, int column, const QStyleOptionViewItem& state);
    void drawMemoCell(QPainter& painter, const QRect& rect, const data::ResultStore& store, int row,
                      int column, const QStyleOptionViewItem& state);
    void loadFirstLine(const data::ResultStore& store, int row, int column, qsizetype maxChars);

    TDBBGrid* m_grid;
    // Scratch buffers, created with the grid and reused for every cell.
    QImage m_pictureBuffer;
    QString m_lineBuffer;
    QStringDecoder m_utf8{QStringDecoder::Utf8};
};
