#pragma once
// Searching a text, without widgets: plain text or a regular expression,
// with or without regard to case, whole words only; the next or previous
// match from a position, all matches, and what a match is replaced by.

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>
#include <utility>

namespace editor {

struct SearchOptions {
    QString text;
    bool matchCase = false;
    bool wholeWord = false;
    bool regex = false;
};

class TextSearch {
public:
    using Match = std::pair<int, int>; // start, length

    explicit TextSearch(const SearchOptions& options);
    // False for an empty text or an expression that does not compile.
    bool isValid() const { return m_valid; }
    QString errorText() const { return m_error; }

    // The first match at or after `from` (forward) or the last one that
    // starts before `from` (backward), going round the text's end; start -1
    // when there is none.
    Match find(const QString& text, int from, bool forward) const;
    // Every match in order, at most `limit`.
    QList<Match> findAll(const QString& text, int limit = INT_MAX) const;
    // Whether text[start, start + length) is a whole match.
    bool matchesExactly(const QString& text, int start, int length) const;
    // What a match is replaced by: with a regular expression \0..\9 stand
    // for the captured texts; otherwise the replacement as it is.
    QString replacementFor(const QString& text, const Match& match,
                           const QString& replacement) const;

private:
    QRegularExpression m_re;
    bool m_valid = false;
    bool m_regex = false;
    QString m_error;
};

} // namespace editor
