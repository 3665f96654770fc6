#include "app/editor/completion.h"

#include "app/editor/sqlwords.h"
#include "app/logic/sqlscanner.h"

#include <QRegularExpression>
#include <algorithm>

namespace editor {

namespace {

// How far around the caret a statement is read: enough for any statement
// typed by hand, little enough to stay quick in a script of one huge line.
constexpr qsizetype kReach = 8000;

struct Tok {
    SqlTokenKind kind;
    qsizetype start, end;
    QStringView text;
    int depth; // parentheses open before it, from where the scan began
};

qsizetype lineStartBefore(QStringView text, qsizetype at) {
    const qsizetype from = std::max<qsizetype>(0, at - kReach);
    for (qsizetype i = from; i > 0 && i > from - 2000; --i)
        if (text[i - 1] == u'\n')
            return i;
    return from;
}

bool isWord(const Tok& t) {
    return t.kind == SqlTokenKind::Identifier || t.kind == SqlTokenKind::Keyword;
}
bool isName(const Tok& t) {
    return t.kind == SqlTokenKind::Identifier || t.kind == SqlTokenKind::BracketedName ||
           t.kind == SqlTokenKind::QuotedName;
}
bool isOp(const Tok& t, char16_t c) {
    return t.kind == SqlTokenKind::Operator && t.text.size() == 1 && t.text[0] == c;
}
bool isKw(const Tok& t, const char* word) {
    return isWord(t) && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

QString unquote(const Tok& t) {
    QStringView s = t.text;
    if (t.kind == SqlTokenKind::BracketedName) {
        s = s.mid(1);
        if (s.endsWith(u']'))
            s.chop(1);
        return s.toString().replace(QStringLiteral("]]"), QStringLiteral("]"));
    }
    if (t.kind == SqlTokenKind::QuotedName) {
        s = s.mid(1);
        if (s.endsWith(u'"'))
            s.chop(1);
        return s.toString().replace(QStringLiteral("\"\""), QStringLiteral("\""));
    }
    return s.toString();
}

// The tokens of text[from, to) that are not blanks or comments.
QList<Tok> significantTokens(QStringView text, qsizetype from, qsizetype to,
                             QList<Tok>* withComments = nullptr) {
    QList<Tok> out;
    SqlScanner scanner(text.first(to), {}, from);
    SqlToken t;
    int depth = 0;
    while (scanner.next(t)) {
        const Tok tok{t.kind, t.start, t.start + t.length, text.mid(t.start, t.length), depth};
        if (withComments)
            withComments->append(tok);
        if (t.kind == SqlTokenKind::Whitespace || t.kind == SqlTokenKind::LineBreak ||
            t.kind == SqlTokenKind::LineComment || t.kind == SqlTokenKind::BlockComment)
            continue;
        if (isOp(tok, u'('))
            ++depth;
        else if (isOp(tok, u')'))
            --depth;
        out.append(tok);
    }
    return out;
}

bool startsStatement(const Tok& t) {
    static const char* const words[] = {"SELECT", "INSERT", "UPDATE", "DELETE",   "CREATE",
                                        "ALTER",  "DROP",   "EXEC",   "EXECUTE",  "DECLARE",
                                        "IF",     "WHILE",  "BEGIN",  "END",      "RETURN",
                                        "PRINT",  "USE",    "GO",     "TRUNCATE", "GRANT"};
    if (t.depth > 0 || !isWord(t))
        return false;
    return std::any_of(std::begin(words), std::end(words),
                       [&](const char* w) { return isKw(t, w); });
}

// Reads a dotted name starting at tokens[i]; returns the index after it.
qsizetype readName(const QList<Tok>& toks, qsizetype i, QStringList& parts) {
    parts.clear();
    while (i < toks.size() && (isName(toks[i]) || (!parts.isEmpty() && isWord(toks[i])))) {
        parts << unquote(toks[i]);
        ++i;
        if (i + 1 < toks.size() && isOp(toks[i], u'.'))
            ++i;
        else
            break;
    }
    return i;
}

} // namespace

CompletionContext completionContextAt(QStringView text, qsizetype caret) {
    CompletionContext c;
    caret = std::clamp<qsizetype>(caret, 0, text.size());
    const qsizetype from = lineStartBefore(text, caret);
    QList<Tok> all;
    significantTokens(text, from, caret, &all);
    c.start = caret;
    c.kind = CompletionContext::Words;
    qsizetype i = all.size(); // the first token before the word being typed
    if (!all.isEmpty() && all.back().end == caret) {
        const Tok& last = all.back();
        switch (last.kind) {
        case SqlTokenKind::Identifier:
        case SqlTokenKind::Keyword:
            c.prefix = last.text.toString();
            c.start = last.start;
            i = all.size() - 1;
            break;
        case SqlTokenKind::BracketedName:
            if (last.text.size() > 1 && last.text.endsWith(u']'))
                return {}; // a name closed just before the caret
            c.prefix = unquote(last);
            c.start = last.start;
            i = all.size() - 1;
            break;
        case SqlTokenKind::String:
        case SqlTokenKind::QuotedName:
        case SqlTokenKind::Number:
        case SqlTokenKind::LineComment:
        case SqlTokenKind::BlockComment:
            return {};
        default:
            break;
        }
    }
    // Inside an unclosed string or comment: the scan ended in it.
    if (!all.isEmpty() && i == all.size() && all.back().end == caret &&
        (all.back().kind == SqlTokenKind::String || all.back().kind == SqlTokenKind::BlockComment))
        return {};
    auto previous = [&](qsizetype k) {
        while (k > 0) {
            --k;
            const SqlTokenKind kind = all[k].kind;
            if (kind != SqlTokenKind::Whitespace && kind != SqlTokenKind::LineBreak &&
                kind != SqlTokenKind::LineComment && kind != SqlTokenKind::BlockComment)
                return k;
        }
        return qsizetype(-1);
    };
    qsizetype k = i;
    // "a.b.": the dot must touch the word being typed and the name before it.
    while (k > 0 && isOp(all[k - 1], u'.') && k - 2 >= 0 &&
           (isName(all[k - 2]) || isWord(all[k - 2]))) {
        c.qualifier.prepend(unquote(all[k - 2]));
        k -= 2;
    }
    if (!c.qualifier.isEmpty()) {
        c.kind = CompletionContext::Members;
        return c;
    }
    const qsizetype p = previous(i);
    if (p >= 0 && (isKw(all[p], "EXEC") || isKw(all[p], "EXECUTE")))
        c.kind = CompletionContext::Procedures;
    return c;
}

QHash<QString, QStringList> statementAliases(QStringView text, qsizetype caret) {
    caret = std::clamp<qsizetype>(caret, 0, text.size());
    const qsizetype from = lineStartBefore(text, caret);
    qsizetype to = std::min(text.size(), caret + kReach);
    const QList<Tok> toks = significantTokens(text, from, to);
    // The statement around the caret: from the last statement keyword at the
    // outer level before it up to the next one after it.
    qsizetype first = 0, last = toks.size();
    for (qsizetype j = 0; j < toks.size(); ++j) {
        const bool split = startsStatement(toks[j]) || isOp(toks[j], u';');
        if (!split)
            continue;
        if (toks[j].start < caret)
            first = j;
        else if (toks[j].start >= caret) {
            last = j;
            break;
        }
    }
    QHash<QString, QStringList> aliases;
    bool fromList = false;
    for (qsizetype j = first; j < last; ++j) {
        const Tok& t = toks[j];
        const bool opener = isKw(t, "FROM") || isKw(t, "JOIN") || isKw(t, "UPDATE") ||
                            isKw(t, "INTO") || (fromList && isOp(t, u','));
        if (isWord(t) && !opener)
            fromList = fromList && !(isKw(t, "WHERE") || isKw(t, "GROUP") || isKw(t, "ORDER") ||
                                     isKw(t, "ON") || isKw(t, "SET") || isKw(t, "SELECT") ||
                                     isKw(t, "HAVING") || isKw(t, "UNION") || isKw(t, "VALUES"));
        if (!opener)
            continue;
        if (isKw(t, "FROM"))
            fromList = true;
        else if (!isOp(t, u','))
            fromList = false;
        QStringList parts;
        qsizetype n = readName(toks, j + 1, parts);
        if (parts.isEmpty())
            continue;
        aliases.insert(parts.back().toLower(), parts);
        if (n < last && isKw(toks[n], "AS"))
            ++n;
        if (n < last && (toks[n].kind == SqlTokenKind::Identifier ||
                         toks[n].kind == SqlTokenKind::BracketedName ||
                         toks[n].kind == SqlTokenKind::QuotedName))
            aliases.insert(unquote(toks[n]).toLower(), parts);
        j = n - 1;
    }
    return aliases;
}

QString quotedName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_@#$]*$"));
    if (plain.match(name).hasMatch() && !isSqlKeyword(name))
        return name;
    QString q = name;
    q.replace(u']', QStringLiteral("]]"));
    return u'[' + q + u']';
}

QString qualifiedName(const data::CatalogObject& object, const QString& defaultSchema) {
    if (object.schema.isEmpty() || object.schema.compare(defaultSchema, Qt::CaseInsensitive) == 0)
        return quotedName(object.name);
    return quotedName(object.schema) + u'.' + quotedName(object.name);
}

bool fits(const Candidate& candidate, const QString& prefix) {
    if (prefix.isEmpty())
        return true;
    if (candidate.text.startsWith(prefix, Qt::CaseInsensitive))
        return true;
    const qsizetype dot = candidate.text.lastIndexOf(u'.');
    return dot >= 0 &&
           QStringView(candidate.text).mid(dot + 1).startsWith(prefix, Qt::CaseInsensitive);
}

namespace {
bool byText(const Candidate& a, const Candidate& b) {
    const int c = a.text.compare(b.text, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.kind < b.kind;
}
} // namespace

void CompletionModel::setCatalog(std::shared_ptr<const data::Catalog> catalog) {
    m_catalog = std::move(catalog);
    m_words.clear();
    m_procedures.clear();
    for (const QString& w : sqlKeywords())
        m_words.append({w, w, Candidate::Keyword});
    for (const QString& f : sqlFunctions())
        m_words.append({f, f, Candidate::Function});
    for (const QString& p : systemProcedures())
        m_procedures.append({p, p, Candidate::Procedure});
    if (m_catalog) {
        for (const QString& s : m_catalog->schemas)
            m_words.append({s, quotedName(s), Candidate::Schema});
        for (const data::CatalogObject& o : m_catalog->objects) {
            // Shown as named, inserted as it must be written.
            const bool own = o.schema.isEmpty() ||
                             o.schema.compare(m_catalog->defaultSchema, Qt::CaseInsensitive) == 0;
            const QString shown = own ? o.name : o.schema + u'.' + o.name;
            Candidate::Kind kind = o.kind == data::CatalogObject::Table  ? Candidate::Table
                                   : o.kind == data::CatalogObject::View ? Candidate::View
                                   : o.kind == data::CatalogObject::Procedure
                                       ? Candidate::Procedure
                                       : Candidate::UserFunction;
            const Candidate c{shown, qualifiedName(o, m_catalog->defaultSchema), kind};
            m_words.append(c);
            if (kind == Candidate::Procedure)
                m_procedures.append(c);
        }
    }
    std::sort(m_words.begin(), m_words.end(), byText);
    std::sort(m_procedures.begin(), m_procedures.end(), byText);
}

QList<Candidate> CompletionModel::membersOf(const QStringList& qualifier, QStringView text,
                                            qsizetype caret) const {
    QList<Candidate> out;
    if (!m_catalog)
        return out;
    const data::Catalog& cat = *m_catalog;
    const data::CatalogObject* object = nullptr;
    if (qualifier.size() == 1) {
        // An alias (or a table's own name) of the statement first, then any
        // table of the catalog.
        const QHash<QString, QStringList> aliases = statementAliases(text, caret);
        const auto it = aliases.constFind(qualifier.front().toLower());
        if (it != aliases.cend()) {
            const QStringList& parts = *it;
            object =
                cat.find(parts.size() >= 2 ? parts[parts.size() - 2] : QString(), parts.back());
        }
        if (!object)
            object = cat.find(QString(), qualifier.front());
        if (!object) {
            // A schema: its objects.
            for (const data::CatalogObject& o : cat.objects)
                if (o.schema.compare(qualifier.front(), Qt::CaseInsensitive) == 0)
                    out.append(
                        {o.name, quotedName(o.name),
                         o.kind == data::CatalogObject::View ? Candidate::View : Candidate::Table});
            std::sort(out.begin(), out.end(), byText);
            return out;
        }
    } else {
        // schema.table, or database.schema.table.
        object = cat.find(qualifier[qualifier.size() - 2], qualifier.back());
        if (!object && qualifier.size() >= 2)
            object = cat.find(QString(), qualifier.back());
    }
    if (object)
        for (const QString& column : cat.columnsOf(*object))
            out.append({column, quotedName(column), Candidate::Column});
    return out;
}

QList<Candidate> CompletionModel::candidates(const CompletionContext& context, QStringView text,
                                             qsizetype caret) const {
    QList<Candidate> out;
    switch (context.kind) {
    case CompletionContext::None:
        return out;
    case CompletionContext::Members:
        for (const Candidate& c : membersOf(context.qualifier, text, caret))
            if (fits(c, context.prefix))
                out.append(c);
        return out;
    case CompletionContext::Procedures:
        for (const Candidate& c : m_procedures)
            if (fits(c, context.prefix))
                out.append(c);
        return out;
    case CompletionContext::Words:
        for (const Candidate& c : m_words)
            if (fits(c, context.prefix))
                out.append(c);
        return out;
    }
    return out;
}

} // namespace editor
