// The result sets on the "Ergebnisse" page: one grid each, one below the
// other; the grid that has or last had the focus holds "the result" that
// export, structure and the cell viewer act on. And the question before an
// open transaction would be lost.

#include "app/uMain.h"

#include "app/grid/DBBGrid.h"
#include "app/uDM.h"
#include "modal/modal.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// The least height of a grid among several: its titles and a few rows, so a
// long list of results scrolls instead of squeezing every grid to nothing.
constexpr int kStackedGridRows = 8;

} // namespace

TADODataSet* TFMMain::currentResult() const {
    if (m_currentGrid && m_currentGrid->dataSource() && m_currentGrid->dataSource()->DataSet())
        return m_currentGrid->dataSource()->DataSet();
    return m_dm ? m_dm->ADOdsQuery : nullptr;
}

bool TFMMain::anyResultShown() const {
    if (m_dm && m_dm->ADOdsQuery->Active())
        return true;
    for (const auto& grid : m_resultGrids)
        if (grid && grid->dataSource() && grid->dataSource()->DataSet() &&
            grid->dataSource()->DataSet()->Active())
            return true;
    return false;
}

void TFMMain::clearResults() {
    for (const auto& c : std::as_const(m_resultWatch))
        disconnect(c);
    m_resultWatch.clear();
    m_currentGrid = DBGridQuery;
    for (const auto& grid : std::as_const(m_resultGrids))
        delete grid;
    m_resultGrids.clear();
    dm().ADOdsQuery->Close();
    for (const auto& dataSet : std::as_const(m_batchDataSets)) {
        if (dataSet) {
            dataSet->Close();
            delete dataSet;
        }
    }
    m_batchDataSets.clear();
    DBGridQuery->setVisible(true);
    layoutResults();
}

void TFMMain::watchResults(TADODataSet* dataSet) {
    // Watched for this run only: the query dataset serves every run.
    if (dataSet != dm().ADOdsQuery) {
        // The first result of a later batch: a grid of its own once it opens.
        m_resultWatch << connect(dataSet, &TADODataSet::activeChanged, this,
                                 [this, dataSet](bool active) {
                                     if (active && !gridOf(dataSet))
                                         addResultGrid(dataSet);
                                 });
    }
    m_resultWatch << connect(dataSet, &TADODataSet::resultAdded, this,
                             [this](TADODataSet* result, int) { addResultGrid(result); });
}

TDBBGrid* TFMMain::gridOf(const TADODataSet* dataSet) const {
    for (const auto& grid : m_resultGrids)
        if (grid && grid->dataSource() && grid->dataSource()->DataSet() == dataSet)
            return grid;
    return nullptr;
}

void TFMMain::addResultGrid(TADODataSet* dataSet) {
    const int number = int(m_resultGrids.size()) + 2;
    auto* source = new TDataSource(dataSet); // goes with the dataset
    source->setDataSet(dataSet);
    auto* grid = new TDBBGrid(PAResults);
    grid->setObjectName(QStringLiteral("DBGridQuery%1").arg(number));
    grid->setAccessibleName(QStringLiteral("Ergebnis %1").arg(number));
    grid->setFont(DBGridQuery->font());
    grid->horizontalHeader()->setFont(DBGridQuery->horizontalHeader()->font());
    grid->setDataSource(source);
    grid->setEditLocked(m_running);
    // The cell viewer stays with the first result (it is bound to its data
    // source); the grids of further results show their cells themselves.
    m_resultGrids.append(grid);
    PAResultsLayout->addWidget(grid, 1);
    layoutResults();
    grid->show();
}

void TFMMain::layoutResults() {
    // The first grid stays as long as it has a result or nothing else does.
    const bool firstShown = dm().ADOdsQuery->Active() || m_resultGrids.isEmpty();
    DBGridQuery->setVisible(firstShown);
    const int grids = int(m_resultGrids.size()) + (firstShown ? 1 : 0);
    const int least = grids > 1 ? DBGridQuery->horizontalHeader()->height() +
                                      kStackedGridRows * std::max(DBGridQuery->rowHeight(), 1) + 20
                                : 0;
    DBGridQuery->setMinimumHeight(least);
    for (const auto& grid : std::as_const(m_resultGrids))
        if (grid)
            grid->setMinimumHeight(least);
}

void TFMMain::resultGridFocused(QObject* grid) {
    if (auto* g = qobject_cast<TDBBGrid*>(grid))
        m_currentGrid = g;
}

bool TFMMain::isResultGrid(QObject* object) const {
    if (object == DBGridQuery)
        return true;
    for (const auto& grid : m_resultGrids)
        if (grid == object)
            return true;
    return false;
}

bool TFMMain::settleOpenTransaction() {
    if (m_running || !connectionOpen())
        return true;
    TADOConnection& conn = *dm().ADOConnMain;
    int open = 0;
    try {
        open = conn.openTransactionCount();
    } catch (...) {
        return true; // a session that cannot be asked has nothing to keep
    }
    if (open <= 0)
        return true;
    modal::MessageRequest ask;
    ask.parent = this;
    ask.icon = QMessageBox::Question;
    ask.caption = QStringLiteral("Offene Transaktion");
    ask.text = QStringLiteral("Es ist noch eine Transaktion offen. Sollen ihre Änderungen "
                              "gespeichert werden?\n\n"
                              "Ja: Transaktion abschließen (COMMIT)\n"
                              "Nein: Änderungen verwerfen (ROLLBACK)\n"
                              "Abbrechen: nichts tun");
    ask.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    ask.defaultButton = QMessageBox::Cancel;
    const QMessageBox::StandardButton answer = modal::message(ask);
    if (answer != QMessageBox::Yes && answer != QMessageBox::No)
        return false;
    TADOCommand end;
    end.setConnection(&conn);
    end.setCommandText(answer == QMessageBox::Yes
                           ? QStringLiteral("while @@trancount > 0 commit transaction")
                           : QStringLiteral("if @@trancount > 0 rollback transaction"));
    end.Execute(); // a failure is shown, and the user stays where he was
    return true;
}

QList<TDBBGrid*> TFMMain::resultGrids() const {
    QList<TDBBGrid*> grids;
    for (const auto& grid : m_resultGrids)
        if (grid)
            grids.append(grid);
    return grids;
}
