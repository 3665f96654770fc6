#pragma once
// The result grids of the "Ergebnisse" page, one below the other in a
// scrolling area. A script may return thousands of result sets: each has its
// place from the moment it arrives, but its grid is made only when that place
// comes near the visible part of the area, so adding a result costs next to
// nothing and the page never lays out more grids than the eye can reach.
// Grids once made stay until the results are cleared, keeping where their
// user left them.

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QScrollArea;
class TADODataSet;
class TDBBGrid;

class ResultStack : public QWidget {
    Q_OBJECT
public:
    // Makes the grid of the result set `dataSet`, numbered `number` (the first
    // grid is 1), as a child of the stack.
    using GridFactory = std::function<TDBBGrid*(TADODataSet* dataSet, int number)>;

    // `first` is the grid of the first result set, always made.
    ResultStack(QScrollArea* area, TDBBGrid* first, GridFactory factory);

    // A further result set, below the others.
    void addResult(TADODataSet* dataSet);
    // Deletes the grids of the further result sets and forgets them.
    void clear();
    // Whether the first grid has a place (it keeps it while it has a result
    // or nothing else has one).
    void setFirstShown(bool shown);
    bool firstShown() const { return m_firstShown; }

    int furtherCount() const { return int(m_further.size()); }
    TADODataSet* furtherDataSet(int i) const;
    // The grid of further result i, null while it has not been made.
    TDBBGrid* furtherGrid(int i) const;
    // The grids made so far of the further results, in their order.
    QList<TDBBGrid*> madeGrids() const;
    // The least height of a grid among several: titles and a few rows.
    void setLeastHeight(int pixels);
    // Makes the grids next to `grid` as well, so the keys lead from one
    // result to the next.
    void gridFocused(TDBBGrid* grid);
    // Lays the grids out now instead of once the current event is done.
    void relayoutNow();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Further {
        QPointer<TADODataSet> dataSet;
        QPointer<TDBBGrid> grid;
    };
    int slotCount() const;
    int slotHeight() const;
    void scheduleRelayout();
    void relayout();
    bool make(int slot); // true when it made a grid

    QScrollArea* m_area;
    QPointer<TDBBGrid> m_first;
    GridFactory m_factory;
    QList<Further> m_further;
    bool m_firstShown = true;
    bool m_pending = false;
    bool m_makeInSight = false;
    int m_least = 0;
    QElapsedTimer m_sinceLayout; // since the last relayout
    QTimer m_paced;              // the relayout for results that came in the meantime
    static constexpr int kSpacing = 4;
    static constexpr int kLeastMade = 8; // grids made from the top of the visible part at least
    static constexpr int kMadePerPass = 2;
    // While results arrive the page is laid out at most this often (ms).
    static constexpr int kArrivalPaceMs = 40;
};
