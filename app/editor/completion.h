#pragma once
// What the completion offers at a point of a statement, without widgets: the
// word being typed and what stands before it (an alias or a table and a dot,
// EXEC), the aliases of the statement's FROM and JOIN clauses, and the
// candidates a catalog holds for it.

#include "data/catalogreader.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace editor {

struct CompletionContext {
    enum Kind {
        None,       // inside a string, a comment or a number: nothing to offer
        Words,      // keywords, functions, schemas and objects
        Members,    // after "name.": the columns of a table or view, the objects of a schema
        Procedures, // after EXEC
    };
    Kind kind = None;
    qsizetype start = 0;   // where the text the choice replaces begins
    QString prefix;        // what is typed of the word, without its opening bracket
    QStringList qualifier; // the names before the last dot, unquoted
};

// Reads the context at `caret` in `text`.
CompletionContext completionContextAt(QStringView text, qsizetype caret);

// The tables the statement around `caret` names in FROM, JOIN, UPDATE and
// INTO, by alias and by their own name (keys in lower case), each as the
// parts of its name.
QHash<QString, QStringList> statementAliases(QStringView text, qsizetype caret);

// A name as it must be written: in brackets unless it is a plain identifier
// that is no keyword.
QString quotedName(const QString& name);
// "schema.name" when the schema is not the default one, else "name".
QString qualifiedName(const data::CatalogObject& object, const QString& defaultSchema);

struct Candidate {
    enum Kind { Keyword, Function, Schema, Table, View, Procedure, UserFunction, Column };
    QString text;   // shown in the list and matched against what is typed: names as named
    QString insert; // put into the text: names in brackets where they need them
    Kind kind = Keyword;
};

// The candidates for a catalog, sorted once per catalog so that each
// keystroke only filters them.
class CompletionModel {
public:
    void setCatalog(std::shared_ptr<const data::Catalog> catalog);
    const data::Catalog* catalog() const { return m_catalog.get(); }
    // What fits the context; `text` and `caret` resolve aliases.
    QList<Candidate> candidates(const CompletionContext& context, QStringView text,
                                qsizetype caret) const;

private:
    QList<Candidate> membersOf(const QStringList& qualifier, QStringView text,
                               qsizetype caret) const;
    std::shared_ptr<const data::Catalog> m_catalog;
    QList<Candidate> m_words;      // keywords, functions, schemas and objects, in order
    QList<Candidate> m_procedures; // system and catalog procedures, in order
};

// Whether `candidate` is offered for the typed `prefix` (without regard to
// case; a qualified name also by its own name).
bool fits(const Candidate& candidate, const QString& prefix);

} // namespace editor
