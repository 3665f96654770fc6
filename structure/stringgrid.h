#pragma once
// A grid of strings addressed as cells(column, row), with leading fixed rows
// and columns drawn as headings. Row 0 and column 0 are ordinary rows and
// columns of the grid (not Qt headers), so indices match what the user sees.

#include <QTableWidget>

class StringGrid : public QTableWidget {
    Q_OBJECT
public:
    StringGrid(int columns, int rows, int fixedColumns, int fixedRows, QWidget* parent = nullptr);

    QString cells(int column, int row) const;
    void setCells(int column, int row, const QString& text);

    // Changes the row count; new rows get the fixed column's heading look.
    void setRows(int rows);

    // Whether the cells outside the fixed rows and columns can be edited.
    void setCellsEditable(bool editable);

    void setDefaultRowHeight(int height);

    // Writes the text of a cell being edited into the cell, as if the user
    // had left it.
    void commitEditing();

private:
    QTableWidgetItem* cellItem(int column, int row);
    void styleCell(int column, int row);

    int m_fixedColumns;
    int m_fixedRows;
    bool m_editable = false;
};
