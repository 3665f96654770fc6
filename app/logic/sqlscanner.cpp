#include "app/logic/sqlscanner.h"

#include <QChar>

#include <algorithm>
#include <array>

SqlScanState SqlScanState::fromInt(int value) {
    if (value <= 0)
        return {};
    SqlScanState s;
    s.open = Open(value & 7);
    s.depth = s.open == BlockComment ? std::max(1, value >> 3) : 0;
    if (s.open > BracketedName)
        return {};
    return s;
}

namespace {

// Sorted, upper case.
// clang-format off
constexpr std::array<std::string_view, 130> kKeywords = {
    "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "BEGIN", "BETWEEN", "BIGINT", "BINARY",
    "BIT", "BREAK", "BY", "CASCADE", "CASE", "CAST", "CHAR", "CHECK", "CLOSE", "COLUMN", "COMMIT",
    "CONSTRAINT", "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURSOR", "DATABASE", "DATE",
    "DATETIME", "DEALLOCATE", "DECIMAL", "DECLARE", "DEFAULT", "DELETE", "DESC", "DISTINCT",
    "DROP", "ELSE", "END", "EXCEPT", "EXEC", "EXECUTE", "EXISTS", "FETCH", "FLOAT", "FOR",
    "FOREIGN", "FROM", "FULL", "FUNCTION", "GO", "GOTO", "GRANT", "GROUP", "HAVING", "IDENTITY",
    "IF", "IMAGE", "IN", "INDEX", "INNER", "INSERT", "INT", "INTERSECT", "INTO", "IS", "JOIN",
    "KEY", "LEFT", "LIKE", "MONEY", "NCHAR", "NOCOUNT", "NOT", "NTEXT", "NULL", "NUMERIC",
    "NVARCHAR", "OF", "OFF", "ON", "OPEN", "OR", "ORDER", "OUTER", "OUTPUT", "PRIMARY", "PRINT",
    "PROC", "PROCEDURE", "RAISERROR", "REAL", "REFERENCES", "RETURN", "REVOKE", "RIGHT",
    "ROLLBACK", "ROWCOUNT", "SELECT", "SET", "SMALLDATETIME", "SMALLINT", "SMALLMONEY", "TABLE",
    "TEXT", "THEN", "TIME", "TIMESTAMP", "TINYINT", "TOP", "TRAN", "TRANSACTION", "TRIGGER",
    "TRUNCATE", "UNION", "UNIQUE", "UNIQUEIDENTIFIER", "UPDATE", "USE", "VALUES", "VARBINARY",
    "VARCHAR", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH"};
// clang-format on

constexpr std::size_t kLongestKeyword = 16;

static_assert(std::is_sorted(kKeywords.begin(), kKeywords.end()));

// Character classes, for UTF-16 and for UTF-8 code units.
bool isWordChar(char16_t c) {
    return QChar(c).isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}
bool isWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' || c == '$';
}
bool isDigit(char16_t c) {
    return QChar(c).isDigit();
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r';
}
bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}
bool isBlank(char16_t c) {
    return !isLineBreak(c) && QChar(c).isSpace();
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

template <typename Char> bool keywordIn(std::basic_string_view<Char> word) {
    if (word.size() > kLongestKeyword)
        return false;
    char upper[kLongestKeyword];
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto c = word[i];
        if (c >= 'a' && c <= 'z')
            upper[i] = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            upper[i] = char(c);
        else
            return false;
    }
    return std::binary_search(kKeywords.begin(), kKeywords.end(),
                              std::string_view(upper, word.size()));
}

} // namespace

bool isSqlKeyword(QStringView word) {
    return keywordIn(std::u16string_view(word.utf16(), size_t(word.size())));
}

template <typename Char> bool BasicSqlScanner<Char>::wordCharAt(qsizetype i) const {
    return i >= 0 && i < qsizetype(m_text.size()) && isWordChar(m_text[i]);
}

// Runs through the open comment, string or name from `from` up to where it closes (the state
// becomes Nothing) or to the end of the line; returns where it stopped.
template <typename Char> qsizetype BasicSqlScanner<Char>::continueOpen(qsizetype from) {
    const auto n = qsizetype(m_text.size());
    qsizetype j = from;
    if (m_state.open == SqlScanState::BlockComment) {
        while (j < n && !isLineBreak(m_text[j])) {
            const Char c = m_text[j];
            const Char next = j + 1 < n ? m_text[j + 1] : Char(0);
            if (c == '/' && next == '*') {
                ++m_state.depth;
                j += 2;
            } else if (c == '*' && next == '/') {
                j += 2;
                if (--m_state.depth == 0) {
                    m_state = {};
                    return j;
                }
            } else {
                ++j;
            }
        }
        return j;
    }
    const Char close = m_state.open == SqlScanState::String       ? Char('\'')
                       : m_state.open == SqlScanState::QuotedName ? Char('"')
                                                                  : Char(']');
    while (j < n && !isLineBreak(m_text[j])) {
        if (m_text[j] != close) {
            ++j;
        } else if (j + 1 < n && m_text[j + 1] == close) { // doubled: one quote or bracket
            j += 2;
        } else {
            m_state = {};
            return j + 1;
        }
    }
    return j;
}

template <typename Char> bool BasicSqlScanner<Char>::next(SqlToken& token) {
    const auto n = qsizetype(m_text.size());
    const qsizetype start = m_pos;
    if (start >= n)
        return false;
    const Char c = m_text[start];
    const Char next = start + 1 < n ? m_text[start + 1] : Char(0);
    auto opens = [&](SqlScanState::Open open, qsizetype body, SqlTokenKind kind) {
        m_state = {open, open == SqlScanState::BlockComment ? 1 : 0};
        m_pos = continueOpen(body);
        return kind;
    };
    auto runOf = [&](auto belongs) {
        qsizetype j = start + 1;
        while (j < n && belongs(m_text[j]))
            ++j;
        m_pos = j;
    };

    SqlTokenKind kind;
    if (isLineBreak(c)) {
        m_pos = start + (c == '\r' && next == '\n' ? 2 : 1);
        kind = SqlTokenKind::LineBreak;
    } else if (m_state.open != SqlScanState::Nothing) {
        // A comment, string or name the line before left open goes on.
        constexpr SqlTokenKind kinds[] = {SqlTokenKind::Operator, SqlTokenKind::BlockComment,
                                          SqlTokenKind::String, SqlTokenKind::QuotedName,
                                          SqlTokenKind::BracketedName};
        kind = kinds[m_state.open];
        m_pos = continueOpen(start);
    } else if (c == '-' && next == '-') {
        runOf([](Char x) { return !isLineBreak(x); });
        kind = SqlTokenKind::LineComment;
    } else if (c == '/' && next == '*') {
        kind = opens(SqlScanState::BlockComment, start + 2, SqlTokenKind::BlockComment);
    } else if (c == '\'') {
        kind = opens(SqlScanState::String, start + 1, SqlTokenKind::String);
    } else if ((c == 'N' || c == 'n') && next == '\'' && !wordCharAt(start - 1)) {
        kind = opens(SqlScanState::String, start + 2, SqlTokenKind::String);
    } else if (c == '"') {
        kind = opens(SqlScanState::QuotedName, start + 1, SqlTokenKind::QuotedName);
    } else if (c == '[') {
        kind = opens(SqlScanState::BracketedName, start + 1, SqlTokenKind::BracketedName);
    } else if (isDigit(c) && !wordCharAt(start - 1)) {
        runOf([](Char x) { return isDigit(x) || x == '.'; });
        kind = SqlTokenKind::Number;
    } else if (isWordChar(c)) {
        runOf([](Char x) { return isWordChar(x); });
        kind = m_keywords && keywordIn(m_text.substr(size_t(start), size_t(m_pos - start)))
                   ? SqlTokenKind::Keyword
                   : SqlTokenKind::Identifier;
    } else if (isBlank(c)) {
        runOf([](Char x) { return isBlank(x); });
        kind = SqlTokenKind::Whitespace;
    } else {
        m_pos = start + 1;
        kind = SqlTokenKind::Operator;
    }
    token = {start, m_pos - start, kind};
    return true;
}

template class BasicSqlScanner<char16_t>;
template class BasicSqlScanner<char>;

QList<SqlToken> scanSql(QStringView text, SqlScanState& state) {
    QList<SqlToken> tokens;
    SqlScanner scanner(text, state);
    SqlToken token;
    while (scanner.next(token))
        tokens.append(token);
    state = scanner.state();
    return tokens;
}

QList<SqlToken> scanSql(QStringView text) {
    SqlScanState state;
    return scanSql(text, state);
}

namespace {

template <typename Char>
std::basic_string<Char> stripInto(std::basic_string_view<Char> text, SqlScanState& state) {
    std::basic_string<Char> out;
    out.reserve(text.size());
    BasicSqlScanner<Char> scanner(text, state);
    scanner.setKeywords(false);
    SqlToken t;
    bool separate = false; // a block comment was dropped since the last character kept
    while (scanner.next(t)) {
        if (t.kind == SqlTokenKind::LineComment)
            continue;
        if (t.kind == SqlTokenKind::BlockComment) {
            separate = true;
            continue;
        }
        if (separate && t.kind != SqlTokenKind::Whitespace && t.kind != SqlTokenKind::LineBreak &&
            !out.empty() && !isBlank(out.back()) && !isLineBreak(out.back()))
            out.push_back(Char(' '));
        separate = false;
        out.append(text.substr(size_t(t.start), size_t(t.length)));
    }
    state = scanner.state();
    return out;
}

} // namespace

QString stripComments(QStringView text, SqlScanState& state) {
    const std::u16string out =
        stripInto(std::u16string_view(text.utf16(), size_t(text.size())), state);
    return QString(reinterpret_cast<const QChar*>(out.data()), qsizetype(out.size()));
}

std::string stripComments(std::string_view utf8, SqlScanState& state) {
    return stripInto(utf8, state);
}

QString stripComments(const QString& text) {
    // Comments begin only with "--" or "/*": a text without either is its
    // own result (most batches of a generated script).
    if (!text.contains(QLatin1String("--")) && !text.contains(QLatin1String("/*")))
        return text;
    SqlScanState state;
    return stripComments(QStringView(text), state);
}
