#include "structure/stringgrid.h"

#include <QHeaderView>

StringGrid::StringGrid(int columns, int rows, int fixedColumns, int fixedRows, QWidget* parent)
    : QTableWidget(rows, columns, parent), m_fixedColumns(fixedColumns), m_fixedRows(fixedRows) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setShowGrid(true);
    setWordWrap(false);
    setCellsEditable(false);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            styleCell(c, r);
}

QTableWidgetItem* StringGrid::cellItem(int column, int row) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell) {
        cell = new QTableWidgetItem;
        setItem(row, column, cell);
    }
    return cell;
}

void StringGrid::styleCell(int column, int row) {
    QTableWidgetItem* cell = cellItem(column, row);
    if (column < m_fixedColumns || row < m_fixedRows) {
        cell->setFlags(Qt::ItemIsEnabled);
        cell->setBackground(palette().button());
    } else {
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (m_editable)
            flags |= Qt::ItemIsEditable;
        cell->setFlags(flags);
    }
}

QString StringGrid::cells(int column, int row) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void StringGrid::setCells(int column, int row, const QString& text) {
    if (column < 0 || row < 0 || column >= columnCount() || row >= rowCount())
        return;
    cellItem(column, row)->setText(text);
}

void StringGrid::setRows(int rows) {
    const int old = rowCount();
    setRowCount(rows);
    for (int r = old; r < rows; ++r)
        for (int c = 0; c < columnCount(); ++c)
            styleCell(c, r);
}

void StringGrid::setCellsEditable(bool editable) {
    m_editable = editable;
    setEditTriggers(editable ? (DoubleClicked | EditKeyPressed | AnyKeyPressed | SelectedClicked)
                             : NoEditTriggers);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            styleCell(c, r);
}

void StringGrid::setDefaultRowHeight(int height) {
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(height);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

void StringGrid::commitEditing() {
    if (QWidget* editor = indexWidget(currentIndex()))
        commitData(editor);
}
