#pragma once
// Sorting a result on the client: the order of a column's values as the
// server would sort them, computed off the window's thread.
//
// A SortJob is prepared on the thread that owns the store (it notes where
// the column's complete blocks lie and copies the values of the rest), then
// run on any thread: it turns every value into a key, sorts the row numbers
// by their keys, stably, and returns the rows in their new order. Numbers
// sort as numbers, dates and times by time, texts in a Latin1 collation
// that ignores case and trailing blanks and puts accented letters next to
// their base letter, NULL first in ascending order (last in descending).

#include "data/resultstore.h"
#include <QStringView>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace gridsort {

enum class Order { None, Ascending, Descending };

// The primary weights of a text (case and accents folded away, trailing
// blanks dropped) as a byte string that compares like the collation, and
// its accents (empty when it has none) for ties between equal weights.
void textWeights(QStringView text, std::string& primary, std::string& accents);
// -1, 0 or 1 as the collation orders two texts (case-insensitive, accents
// significant after the letters).
int compareText(QStringView a, QStringView b);

class SortJob {
public:
    // Prepares the sort of the store's first `rows` rows by `column`. Runs
    // on the store's thread; keeps the store alive until the job is gone.
    // `growing`: rows still arrive, and the last full block may yet be
    // replaced by a newer copy of itself, so it is read here too.
    SortJob(std::shared_ptr<const data::ResultStore> store, int column, qint64 rows, Order order,
            bool growing = false);
    ~SortJob();

    // The store rows in their sorted order. Runs on any thread; a column of
    // many blocks is keyed and sorted on as many threads as there are
    // processors (up to four). Returns an empty list when cancelled.
    std::vector<int> run() const;
    void cancel() { m_cancelled = true; }
    int column() const { return m_column; }
    Order order() const { return m_order; }
    qint64 rows() const { return m_rows; }

private:
    struct Keys;
    void keysFrom(const data::ResultStore::BlockView& view, qint64 first, qint64 end,
                  Keys& keys) const;
    void keysFromStore(qint64 first, qint64 end, Keys& keys) const;

    std::shared_ptr<const data::ResultStore> m_store;
    int m_column;
    qint64 m_rows;
    Order m_order;
    data::ColumnInfo m_info;
    // Rows [0, m_viewRows) are read on the worker through these views of
    // complete blocks, which the store never changes once handed over.
    std::vector<data::ResultStore::BlockView> m_views;
    qint64 m_viewRows = 0;
    // Keys of the remaining rows, made on the store's thread.
    std::unique_ptr<Keys> m_tail;
    mutable std::atomic<bool> m_cancelled{false};
};

} // namespace gridsort
