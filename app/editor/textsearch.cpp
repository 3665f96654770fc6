#include "app/editor/textsearch.h"

namespace editor {

namespace {
// The text is the editor's, whole UTF-16: checking it again at every call
// would cost a pass over megabytes for each match looked for.
constexpr auto kNoCheck = QRegularExpression::DontCheckSubjectStringMatchOption;
} // namespace

TextSearch::TextSearch(const SearchOptions& options) : m_regex(options.regex) {
    if (options.text.isEmpty())
        return;
    QString pattern = options.regex ? options.text : QRegularExpression::escape(options.text);
    if (options.wholeWord)
        pattern = QStringLiteral("(?<![\\w@#$])(?:") + pattern + QStringLiteral(")(?![\\w@#$])");
    QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
    if (!options.matchCase)
        flags |= QRegularExpression::CaseInsensitiveOption;
    m_re = QRegularExpression(pattern, flags);
    m_valid = m_re.isValid();
    if (!m_valid)
        m_error = m_re.errorString();
}

TextSearch::Match TextSearch::find(const QString& text, int from, bool forward) const {
    if (!m_valid)
        return {-1, 0};
    if (forward) {
        // An empty match would never move on: it is skipped.
        for (int start : {from, 0}) {
            QRegularExpressionMatchIterator it =
                m_re.globalMatch(text, start, QRegularExpression::NormalMatch, kNoCheck);
            while (it.hasNext()) {
                const QRegularExpressionMatch m = it.next();
                if (m.capturedLength() > 0)
                    return {int(m.capturedStart()), int(m.capturedLength())};
            }
            if (start == 0)
                break;
        }
        return {-1, 0};
    }
    Match last{-1, 0}, lastOverall{-1, 0};
    QRegularExpressionMatchIterator it =
        m_re.globalMatch(text, 0, QRegularExpression::NormalMatch, kNoCheck);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength() == 0)
            continue;
        const Match found{int(m.capturedStart()), int(m.capturedLength())};
        if (found.first < from)
            last = found;
        lastOverall = found;
    }
    return last.first >= 0 ? last : lastOverall;
}

QList<TextSearch::Match> TextSearch::findAll(const QString& text, int limit) const {
    QList<Match> all;
    if (!m_valid)
        return all;
    QRegularExpressionMatchIterator it =
        m_re.globalMatch(text, 0, QRegularExpression::NormalMatch, kNoCheck);
    while (it.hasNext() && all.size() < limit) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength() > 0)
            all.append({int(m.capturedStart()), int(m.capturedLength())});
    }
    return all;
}

bool TextSearch::matchesExactly(const QString& text, int start, int length) const {
    if (!m_valid || length <= 0)
        return false;
    const QRegularExpressionMatch m =
        m_re.match(text, start, QRegularExpression::NormalMatch,
                   QRegularExpression::AnchorAtOffsetMatchOption | kNoCheck);
    return m.hasMatch() && m.capturedLength() == length;
}

QString TextSearch::replacementFor(const QString& text, const Match& match,
                                   const QString& replacement) const {
    if (!m_regex)
        return replacement;
    const QRegularExpressionMatch m =
        m_re.match(text, match.first, QRegularExpression::NormalMatch,
                   QRegularExpression::AnchorAtOffsetMatchOption | kNoCheck);
    QString out;
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c == u'\\' && i + 1 < replacement.size()) {
            const QChar n = replacement[i + 1];
            if (n.isDigit()) {
                out += m.captured(n.digitValue());
                ++i;
                continue;
            }
            if (n == u'n' || n == u't' || n == u'\\') {
                out += n == u'n' ? u'\n' : n == u't' ? u'\t' : u'\\';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace editor
