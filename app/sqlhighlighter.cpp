#include "app/sqlhighlighter.h"

#include <QSet>

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

} // namespace

SqlHighlighter::SqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    m_formats[Comment].setForeground(QColor(0x00, 0x80, 0x00));
    m_formats[Comment].setFontItalic(true);
    m_formats[String].setForeground(QColor(0xA0, 0x00, 0x00));
    m_formats[Bracketed].setForeground(QColor(0x80, 0x40, 0x00));
    m_formats[Keyword].setForeground(QColor(0x00, 0x00, 0xC0));
    m_formats[Keyword].setFontWeight(QFont::Bold);
    m_formats[Number].setForeground(QColor(0x80, 0x00, 0x80));
}

void SqlHighlighter::highlightBlock(const QString& text) {
    const int n = int(text.size());
    int state = previousBlockState() < 0 ? Plain : previousBlockState();
    int i = 0;

    // Finishes a stretch that may continue on the next line; returns where it ended.
    auto continueStretch = [&](int from) {
        int j = from;
        if (state == Comment) {
            const int end = int(text.indexOf(QLatin1String("*/"), j));
            if (end < 0) {
                setFormat(from, n - from, m_formats[Comment]);
                return n;
            }
            j = end + 2;
        } else {
            const QChar close = state == String ? u'\'' : u']';
            for (;;) {
                const int end = int(text.indexOf(close, j));
                if (end < 0) {
                    setFormat(from, n - from, m_formats[state]);
                    return n;
                }
                if (end + 1 < n && text[end + 1] == close) { // doubled: an escaped quote or bracket
                    j = end + 2;
                    continue;
                }
                j = end + 1;
                break;
            }
        }
        setFormat(from, j - from, m_formats[state]);
        state = Plain;
        return j;
    };

    if (state != Plain)
        i = continueStretch(0);

    while (i < n) {
        const QChar c = text[i];
        if (c == u'-' && i + 1 < n && text[i + 1] == u'-') {
            setFormat(i, n - i, m_formats[Comment]);
            i = n;
        } else if (c == u'/' && i + 1 < n && text[i + 1] == u'*') {
            const int start = i;
            state = Comment;
            i = continueStretch(i + 2); // "/*/" is not closed yet
            setFormat(start, i - start, m_formats[Comment]);
        } else if (c == u'\'' || ((c == u'N' || c == u'n') && i + 1 < n && text[i + 1] == u'\'' &&
                                  (i == 0 || !isWordChar(text[i - 1])))) {
            const int start = i;
            state = String;
            i = continueStretch(c == u'\'' ? i + 1 : i + 2);
            setFormat(start, i - start, m_formats[String]);
        } else if (c == u'[') {
            const int start = i;
            state = Bracketed;
            i = continueStretch(i + 1);
            setFormat(start, i - start, m_formats[Bracketed]);
        } else if (c.isDigit() && (i == 0 || !isWordChar(text[i - 1]))) {
            int j = i;
            while (j < n && (text[j].isDigit() || text[j] == u'.'))
                ++j;
            setFormat(i, j - i, m_formats[Number]);
            i = j;
        } else if (isWordChar(c)) {
            int j = i;
            while (j < n && isWordChar(text[j]))
                ++j;
            if (keywords().contains(text.mid(i, j - i).toUpper()))
                setFormat(i, j - i, m_formats[Keyword]);
            i = j;
        } else {
            ++i;
        }
    }
    setCurrentBlockState(state);
}
