#pragma once
// The completion popup of the query editor: while typing, and on Ctrl+Space,
// a list under the caret offers what fits there (see completion.h). Up, Down
// and the page keys choose, Enter or Tab inserts, Escape closes, typing
// narrows. The editor keeps the focus; the list is a plain list view with a
// name, so assistive tools read it as a list.

#include "app/editor/completion.h"

#include <QAbstractListModel>
#include <QListView>
#include <QObject>
#include <QPointer>
#include <memory>

class QKeyEvent;
class TextPane;

namespace editor {

class CandidateList : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void setCandidates(QList<Candidate> candidates);
    const QList<Candidate>& candidates() const { return m_candidates; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<Candidate> m_candidates;
};

// The kind of a candidate as the list names it ("Tabelle", "Spalte", ...).
QString candidateKindText(Candidate::Kind kind);

class Completer : public QObject {
    Q_OBJECT
public:
    explicit Completer(TextPane* editor);
    ~Completer() override;

    void setCatalog(std::shared_ptr<const data::Catalog> catalog);
    const CompletionModel& model() const { return m_model; }
    QListView* popup() const { return m_popup; }
    bool isActive() const;
    // Opens the list for the caret's place (Ctrl+Space): also with nothing
    // typed yet.
    void complete();
    // Inserts the chosen candidate and closes the list.
    void accept();
    void close();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Fills the list anew for the caret's place; closes it when nothing
    // fits. `opened`: asked for, not only typed.
    void refresh(bool opened);
    void place();
    bool handleKey(QKeyEvent* event);

    TextPane* m_editor;
    QPointer<QListView> m_popup; // lives in the window, which may delete it first
    CandidateList* m_list;
    CompletionModel m_model;
    CompletionContext m_context;
    bool m_forwarding = false;
    bool m_opened = false; // the list was asked for with Ctrl+Space
};

} // namespace editor
