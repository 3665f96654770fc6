#include "app/sqlhighlighter.h"

#include <QSet>
#include <QTextBlock>
#include <algorithm>
#include <climits>

namespace {

const QSet<QString>& keywords() {
    static const QSet<QString> words = [] {
        const char* list[] = {
            "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "BEGIN", "BETWEEN", "BREAK", "BY",
            "CASCADE", "CASE", "CAST", "CHECK", "CLOSE", "COLUMN", "COMMIT", "CONSTRAINT",
            "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURSOR", "DATABASE", "DEALLOCATE", "DECLARE",
            "DEFAULT", "DELETE", "DESC", "DISTINCT", "DROP", "ELSE", "END", "EXCEPT", "EXEC",
            "EXECUTE", "EXISTS", "FETCH", "FOR", "FOREIGN", "FROM", "FULL", "FUNCTION", "GO",
            "GOTO", "GRANT", "GROUP", "HAVING", "IDENTITY", "IF", "IN", "INDEX", "INNER", "INSERT",
            "INTERSECT", "INTO", "IS", "JOIN", "KEY", "LEFT", "LIKE", "NOCOUNT", "NOT", "NULL",
            "OF", "OFF", "ON", "OPEN", "OR", "ORDER", "OUTER", "OUTPUT", "PRIMARY", "PRINT", "PROC",
            "PROCEDURE", "RAISERROR", "REFERENCES", "RETURN", "REVOKE", "RIGHT", "ROLLBACK",
            "ROWCOUNT", "SELECT", "SET", "TABLE", "THEN", "TOP", "TRAN", "TRANSACTION", "TRIGGER",
            "TRUNCATE", "UNION", "UNIQUE", "UPDATE", "USE", "VALUES", "VIEW", "WAITFOR", "WHEN",
            "WHERE", "WHILE", "WITH",
            // types
            "BIGINT", "BINARY", "BIT", "CHAR", "DATE", "DATETIME", "DECIMAL", "FLOAT", "IMAGE",
            "INT", "MONEY", "NCHAR", "NTEXT", "NUMERIC", "NVARCHAR", "REAL", "SMALLDATETIME",
            "SMALLINT", "SMALLMONEY", "TEXT", "TIME", "TIMESTAMP", "TINYINT", "UNIQUEIDENTIFIER",
            "VARBINARY", "VARCHAR"};
        QSet<QString> s;
        for (const char* w : list)
            s.insert(QString::fromLatin1(w));
        return s;
    }();
    return words;
}

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// Where a scan of a long line may start again: token boundaries outside any
// stretch, about every kResumeStep characters.
constexpr int kResumeStep = 4096;

class ResumePoints : public QTextBlockUserData {
public:
    QList<int> positions;
};

// Scans `text` from `i`, which is at a token boundary in `state` (a Kind that
// a line may hand on: Plain, Comment, String or Bracketed). Calls
// paint(start, length, kind) for every coloured stretch and stops at the
// first token boundary at or after `stop`. Keywords are looked up only when
// `words` is set; they do not change the state. Returns the state at the end
// of the text (meaningful only when the scan ran to the end). With `resumes`,
// records resume points.
template <typename Paint>
int scanLine(const QString& text, int i, int state, int stop, bool words, const Paint& paint,
             QList<int>* resumes) {
    const int n = int(text.size());

    // Finishes a stretch that may continue on the next line; returns where it ended.
    auto continueStretch = [&](int from) {
        int j = from;
        if (state == SqlHighlighter::Comment) {
            const int end = int(text.indexOf(QLatin1String("*/"), j));
            if (end < 0)
                return n;
            j = end + 2;
        } else {
            const QChar close = state == SqlHighlighter::String ? u'\'' : u']';
            for (;;) {
                const int end = int(text.indexOf(close, j));
                if (end < 0)
                    return n;
                if (end + 1 < n && text[end + 1] == close) { // doubled: an escaped quote or bracket
                    j = end + 2;
                    continue;
                }
                j = end + 1;
                break;
            }
        }
        state = SqlHighlighter::Plain;
        return j;
    };
    // Opens a stretch of this kind whose body starts at `body`.
    auto stretch = [&](int start, int body, SqlHighlighter::Kind kind) {
        state = kind;
        const int end = continueStretch(body);
        paint(start, end - start, kind);
        return end;
    };

    if (state != SqlHighlighter::Plain)
        i = stretch(i, i, SqlHighlighter::Kind(state));

    int nextResume = i + kResumeStep;
    while (i < n && i < stop) {
        if (resumes && i >= nextResume) {
            resumes->append(i);
            nextResume = i + kResumeStep;
        }
        const QChar c = text[i];
        if (c == u'-' && i + 1 < n && text[i + 1] == u'-') {
            paint(i, n - i, SqlHighlighter::Comment);
            i = n;
        } else if (c == u'/' && i + 1 < n && text[i + 1] == u'*') {
            i = stretch(i, i + 2, SqlHighlighter::Comment); // "/*/" is not closed yet
        } else if (c == u'\'' || ((c == u'N' || c == u'n') && i + 1 < n && text[i + 1] == u'\'' &&
                                  (i == 0 || !isWordChar(text[i - 1])))) {
            i = stretch(i, c == u'\'' ? i + 1 : i + 2, SqlHighlighter::String);
        } else if (c == u'[') {
            i = stretch(i, i + 1, SqlHighlighter::Bracketed);
        } else if (c.isDigit() && (i == 0 || !isWordChar(text[i - 1]))) {
            int j = i;
            while (j < n && (text[j].isDigit() || text[j] == u'.'))
                ++j;
            paint(i, j - i, SqlHighlighter::Number);
            i = j;
        } else if (isWordChar(c)) {
            int j = i;
            while (j < n && isWordChar(text[j]))
                ++j;
            if (words && keywords().contains(text.mid(i, j - i).toUpper()))
                paint(i, j - i, SqlHighlighter::Keyword);
            i = j;
        } else {
            ++i;
        }
    }
    return state;
}

int stateBefore(const QTextBlock& block) {
    const QTextBlock previous = block.previous();
    const int state = previous.isValid() ? previous.userState() : -1;
    return state < 0 ? SqlHighlighter::Plain : state;
}

} // namespace

SqlHighlighter::SqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    setUpFormats();
}

SqlHighlighter::SqlHighlighter(QObject* parent) : QSyntaxHighlighter(parent) {
    m_longLinesDrawn = true;
    setUpFormats();
}

void SqlHighlighter::setUpFormats() {
    m_formats[Comment].setForeground(QColor(0x00, 0x80, 0x00));
    m_formats[Comment].setFontItalic(true);
    m_formats[String].setForeground(QColor(0xA0, 0x00, 0x00));
    m_formats[Bracketed].setForeground(QColor(0x80, 0x40, 0x00));
    m_formats[Keyword].setForeground(QColor(0x00, 0x00, 0xC0));
    m_formats[Keyword].setFontWeight(QFont::Bold);
    m_formats[Number].setForeground(QColor(0x80, 0x00, 0x80));
}

void SqlHighlighter::setLongLinesDrawnByEditor(bool on) {
    if (m_longLinesDrawn == on)
        return;
    m_longLinesDrawn = on;
    rehighlight();
}

bool SqlHighlighter::drawnByEditor(const QTextBlock& block) const {
    // Only a line scanned as long carries resume points.
    return dynamic_cast<const ResumePoints*>(block.userData()) != nullptr;
}

void SqlHighlighter::highlightBlock(const QString& text) {
    const int start = previousBlockState() < 0 ? Plain : previousBlockState();
    if (m_longLinesDrawn && text.size() >= kLongLine) {
        // No formats, only the state for the next line and the resume points.
        auto* points = new ResumePoints;
        const int state = scanLine(
            text, 0, start, INT_MAX, false, [](int, int, Kind) {}, &points->positions);
        setCurrentBlockUserData(points);
        setCurrentBlockState(state);
        return;
    }
    setCurrentBlockUserData(nullptr);
    const int state = scanLine(
        text, 0, start, INT_MAX, true,
        [this](int from, int length, Kind kind) { setFormat(from, length, m_formats[kind]); },
        nullptr);
    setCurrentBlockState(state);
}

void SqlHighlighter::scan(QTextDocument* document, int position, int added) {
    QTextBlock block = document->findBlock(position);
    const int end = position + added;
    bool next = false; // the line before handed on another state
    while (block.isValid() && (block.position() <= end || next)) {
        const int before = block.userState();
        const QString text = block.text();
        if (text.size() >= kLongLine) {
            auto* points = new ResumePoints;
            block.setUserState(scanLine(
                text, 0, stateBefore(block), INT_MAX, false, [](int, int, Kind) {},
                &points->positions));
            block.setUserData(points);
        } else {
            block.setUserData(nullptr);
            block.setUserState(scanLine(
                text, 0, stateBefore(block), INT_MAX, false, [](int, int, Kind) {}, nullptr));
        }
        next = block.userState() != before;
        block = block.next();
    }
}

QList<SqlHighlighter::Stretch> SqlHighlighter::stretches(const QTextBlock& block, int from,
                                                         int to) const {
    QList<Stretch> found;
    if (!block.isValid() || from >= to)
        return found;
    int i = 0;
    int state = stateBefore(block);
    if (const auto* points = dynamic_cast<const ResumePoints*>(block.userData())) {
        const auto after =
            std::upper_bound(points->positions.begin(), points->positions.end(), from);
        if (after != points->positions.begin()) {
            i = *(after - 1);
            state = Plain;
        }
    }
    scanLine(
        block.text(), i, state, to, true,
        [&](int start, int length, Kind kind) {
            const int a = std::max(start, from);
            const int b = std::min(start + length, to);
            if (a < b)
                found.append({a, b - a, kind});
        },
        nullptr);
    return found;
}
