#include "app/resultstack.h"

#include "app/grid/DBBGrid.h"

#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

ResultStack::ResultStack(QScrollArea* area, TDBBGrid* first, GridFactory factory)
    : m_area(area), m_first(first), m_factory(std::move(factory)) {
    first->setParent(this);
    // The stack grows at its bottom as results arrive: only what a growth
    // uncovers is painted, not the grids already in view each time.
    setAttribute(Qt::WA_StaticContents);
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ResultStack::scheduleRelayout);
    m_paced.setSingleShot(true);
    connect(&m_paced, &QTimer::timeout, this, &ResultStack::relayout);
}

void ResultStack::addResult(TADODataSet* dataSet) {
    m_further.append({dataSet, nullptr});
    // A batch may bring results by the hundred. Each layout changes the
    // scroll bar, which repaints the page's frame with it, so they are laid
    // out together at a steady pace rather than a few at a time.
    if (m_pending || m_paced.isActive())
        return;
    const qint64 since = m_sinceLayout.isValid() ? m_sinceLayout.elapsed() : kArrivalPaceMs;
    if (since >= kArrivalPaceMs)
        scheduleRelayout();
    else
        m_paced.start(int(kArrivalPaceMs - since));
}

void ResultStack::clear() {
    for (const Further& f : std::as_const(m_further))
        delete f.grid;
    m_further.clear();
    relayout();
}

void ResultStack::setFirstShown(bool shown) {
    if (m_first)
        m_first->setVisible(shown);
    if (shown == m_firstShown)
        return;
    m_firstShown = shown;
    scheduleRelayout();
}

TADODataSet* ResultStack::furtherDataSet(int i) const {
    return i >= 0 && i < m_further.size() ? m_further.at(i).dataSet.data() : nullptr;
}

TDBBGrid* ResultStack::furtherGrid(int i) const {
    return i >= 0 && i < m_further.size() ? m_further.at(i).grid.data() : nullptr;
}

QList<TDBBGrid*> ResultStack::madeGrids() const {
    QList<TDBBGrid*> grids;
    for (const Further& f : m_further)
        if (f.grid)
            grids.append(f.grid);
    return grids;
}

void ResultStack::setLeastHeight(int pixels) {
    if (m_least == pixels)
        return;
    m_least = pixels;
    scheduleRelayout();
}

void ResultStack::gridFocused(TDBBGrid* grid) {
    int slot = -1;
    if (grid == m_first)
        slot = 0;
    for (int i = 0; i < m_further.size() && slot < 0; ++i)
        if (m_further.at(i).grid == grid)
            slot = i + (m_firstShown ? 1 : 0);
    if (slot < 0)
        return;
    make(slot - 1);
    make(slot + 1);
    m_area->ensureWidgetVisible(grid, 0, 0);
}

void ResultStack::relayoutNow() {
    m_makeInSight = true;
    relayout();
    m_makeInSight = false;
}

void ResultStack::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

int ResultStack::slotCount() const {
    return int(m_further.size()) + (m_firstShown ? 1 : 0);
}

int ResultStack::slotHeight() const {
    const int n = slotCount();
    const int view = m_area->viewport()->height();
    if (n <= 1)
        return std::max(height(), view);
    // Several share the visible height, but none gets less than its least.
    return std::max(m_least, (view - kSpacing * (n - 1)) / n);
}

void ResultStack::scheduleRelayout() {
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(0, this, [this] {
        if (m_pending)
            relayout();
    });
}

void ResultStack::relayout() {
    m_pending = false;
    m_paced.stop();
    m_sinceLayout.start();
    const int n = slotCount();
    const int slot = slotHeight();
    const int total = n <= 1 ? 0 : n * slot + kSpacing * (n - 1);
    if (minimumHeight() != total)
        setMinimumHeight(total); // the area resizes the stack, which lays out again
    // The grids in reach: the visible part and one screen above and below it.
    const int top = m_area->verticalScrollBar()->value();
    const int view = std::max(m_area->viewport()->height(), 1);
    const int pitch = slot + kSpacing;
    const int from = std::max(0, (top - view) / std::max(pitch, 1));
    // A page not yet shown has no height to go by: its first few get grids.
    const int to =
        std::min(n - 1, std::max((top + 2 * view) / std::max(pitch, 1), from + kLeastMade - 1));
    // A relayout makes a few grids at a time and comes again for the rest, so
    // the window goes on serving its user meanwhile; one asked for at once
    // (the end of a run) first makes every grid in sight.
    if (m_makeInSight)
        for (int i = std::max(from, top / std::max(pitch, 1));
             i <= std::min(to, (top + view - 1) / std::max(pitch, 1)); ++i)
            make(i);
    int budget = kMadePerPass;
    for (int i = from; i <= to; ++i) {
        if (budget <= 0) {
            scheduleRelayout();
            break;
        }
        if (make(i))
            --budget;
    }
    const int offset = m_firstShown ? 1 : 0;
    if (m_first && m_firstShown)
        m_first->setGeometry(0, 0, width(), n <= 1 ? height() : slot);
    for (int i = 0; i < m_further.size(); ++i)
        if (TDBBGrid* grid = m_further.at(i).grid)
            grid->setGeometry(0, (i + offset) * pitch, width(), slot);
}

bool ResultStack::make(int slot) {
    const int i = slot - (m_firstShown ? 1 : 0);
    if (i < 0 || i >= m_further.size() || m_further.at(i).grid || !m_further.at(i).dataSet)
        return false;
    TDBBGrid* grid = m_factory(m_further.at(i).dataSet, i + 2);
    m_further[i].grid = grid;
    const int pitch = slotHeight() + kSpacing;
    grid->setGeometry(0, slot * pitch, width(), slotHeight());
    // The keys go from result to result in their order, whatever order the
    // grids were made in.
    QWidget* before = m_firstShown ? static_cast<QWidget*>(m_first) : nullptr;
    for (int k = i - 1; k >= 0; --k)
        if (m_further.at(k).grid) {
            before = m_further.at(k).grid;
            break;
        }
    if (before)
        QWidget::setTabOrder(before, grid);
    for (int k = i + 1; k < m_further.size(); ++k)
        if (m_further.at(k).grid) {
            QWidget::setTabOrder(grid, m_further.at(k).grid);
            break;
        }
    grid->show();
    return true;
}
