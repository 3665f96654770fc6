#pragma once
// Copying cells of the result grid to the clipboard: tab-separated text
// (rows by line breaks, a value that holds a tab, a line break or a quote
// in quotes, so that a spreadsheet pastes it into one cell) and an HTML
// table. The text is built in slices on the window's thread, so a large
// copy never holds the window up for long, and can be cancelled.

#include "data/resultstore.h"
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QMimeData;

namespace gridcopy {

// A value as a field of tab-separated text: in quotes, with quotes
// doubled, when it holds a tab, a line break or a quote.
QString quoted(const QString& value);

// Which cells to copy: store rows in the order shown, columns in the order
// shown; `selected(i, j)` tells a cell of a selection that is not a
// rectangle (cells outside it stay empty); null: every cell.
struct Request {
    std::shared_ptr<const data::ResultStore> store;
    std::vector<qint64> rows;
    std::vector<int> columns;
    std::function<bool(std::size_t row, std::size_t column)> selected;
    bool titles = false;
};

class CopyJob : public QObject {
    Q_OBJECT
public:
    explicit CopyJob(Request request, QObject* parent = nullptr);

    // Builds up to `budgetMs` milliseconds' worth of rows; true when done.
    bool step(int budgetMs);
    // Runs the job in slices from the event loop and puts the result on
    // the clipboard when done (finished(true)); cancel() ends it without.
    void start();
    void cancel();
    // The clipboard contents of a finished job.
    QMimeData* mimeData() const;
    QString text() const { return m_text; }
    QString html() const { return m_html; }
    qint64 rowsDone() const { return qint64(m_next); }
    qint64 rowCount() const { return qint64(m_request.rows.size()); }

signals:
    void progress(qint64 done, qint64 total);
    void finished(bool copied);

private:
    void appendRow(std::size_t i);
    void slice();

    Request m_request;
    std::vector<bool> m_plain; // per column: values that need no quotes or escapes
    std::size_t m_next = 0;
    bool m_cancelled = false;
    QString m_text;
    QString m_html;
};

} // namespace gridcopy
