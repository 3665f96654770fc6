#pragma once
// "Verlauf": the statements run, newest first, in pages read as the list is
// scrolled, with a search field that filters as one types (full text over
// the statements). Enter or a double click hands the chosen statement to
// the window, which puts it into the editor.

#include "settings/history.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <memory>

class QLineEdit;
class QTableView;

namespace editor {

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Started, Duration, Server, Database, Outcome, Statement, ColumnCount };
    static constexpr int kPage = 200;

    explicit HistoryModel(QObject* parent = nullptr);
    // Reads from the file anew, with the filter typed (empty: everything).
    void reload(const QString& path, const QString& typed);
    qint64 idAt(int row) const;
    QString statementAt(int row) const; // the whole text
    const QString& error() const { return m_error; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    std::unique_ptr<settings::HistoryStore> m_store;
    QString m_path;
    QString m_match;
    QList<settings::HistoryEntry> m_rows;
    bool m_more = false;
    QString m_error;
};

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(QWidget* parent = nullptr);
    // Shows the newest runs of the history file.
    void open(const QString& path);
    QLineEdit* searchEdit() const { return m_search; }
    QTableView* list() const { return m_list; }
    HistoryModel* model() const { return m_model; }
    // Hands the statement of a row on and closes.
    void choose(int row);

signals:
    void statementChosen(const QString& statement);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString m_path;
    QLineEdit* m_search;
    QTableView* m_list;
    HistoryModel* m_model;
};

} // namespace editor
