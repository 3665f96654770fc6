// The result sets on the "Ergebnisse" page: one grid each, one below the
// other; the grid that has or last had the focus holds "the result" that
// export, structure and the cell viewer act on. And the question before an
// open transaction would be lost.

#include "app/uMain.h"

#include "app/grid/DBBGrid.h"
#include "app/resultstack.h"
#include "app/uDM.h"
#include "modal/modal.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>

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
    PAResults->clear();
    m_resultGrids.clear();
    dm().ADOdsQuery->Close();
    layoutResults();
}

void TFMMain::watchResults(TADODataSet* dataSet) {
    // Watched for this run only: the query dataset serves every run.
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
    // Its place now, its grid once the place comes into view.
    PAResults->addResult(dataSet);
    if (PAResults->furtherCount() == 1)
        layoutResults(false);
}

TDBBGrid* TFMMain::makeResultGrid(TADODataSet* dataSet, int number) {
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
    return grid;
}

void TFMMain::layoutResults(bool now) {
    // The first grid stays as long as it has a result or nothing else does.
    PAResults->setFirstShown(dm().ADOdsQuery->Active() || PAResults->furtherCount() == 0);
    PAResults->setLeastHeight(DBGridQuery->horizontalHeader()->height() +
                              kStackedGridRows * std::max(DBGridQuery->rowHeight(), 1) + 20);
    if (now)
        PAResults->relayoutNow();
}

void TFMMain::resultGridFocused(QObject* grid) {
    if (auto* g = qobject_cast<TDBBGrid*>(grid)) {
        m_currentGrid = g;
        PAResults->gridFocused(g);
    }
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
    return PAResults->madeGrids();
}

int TFMMain::resultCount() const {
    return (dm().ADOdsQuery->Active() ? 1 : 0) + PAResults->furtherCount();
}

TADODataSet* TFMMain::resultDataSet(int i) const {
    if (dm().ADOdsQuery->Active()) {
        if (i == 0)
            return dm().ADOdsQuery;
        --i;
    }
    return PAResults->furtherDataSet(i);
}
