#pragma once
// The one lexical scanner of T-SQL text in the workbench. The editor's colouring, the comment
// filter in front of a query and the splitting of a script at its GO lines all read text
// through it, so they agree on where a comment, a string literal or a quoted name begins and
// ends, as the server does.
//
// It scans a line at a time. What a line leaves open at its end (a block comment with its
// nesting depth, a string literal, a quoted or bracketed name) is a SqlScanState that the next
// line starts from. Scanning a whole text is scanning its lines with LineBreak tokens between
// them: no token runs over a line break, so a string literal over three lines comes as three
// String tokens with two LineBreak tokens between them.
//
// Lines end at a line feed, a carriage return, or both as "\r\n" (one LineBreak token).

#include <QList>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>

enum class SqlTokenKind : unsigned char {
    Whitespace,    // blanks, tabs and other spaces, not line breaks
    LineBreak,     // "\n", "\r" or "\r\n"
    Keyword,       // a reserved word or type name, in any case
    Identifier,    // any other word: letters, digits, _ @ # $ (so @var, #temp, @@rowcount)
    Number,        // digits and dots that do not continue a word: 12, 12.5
    String,        // '...' with '' for a quote inside, and N'...'
    QuotedName,    // "..." with "" for a quote inside
    BracketedName, // [...] with ]] for a bracket inside
    LineComment,   // from "--" to the end of the line, line break excluded
    BlockComment,  // from "/*" to its "*/"; nested comments close one level each
    Operator,      // any other single character
};

struct SqlToken {
    qsizetype start;
    qsizetype length;
    SqlTokenKind kind;
    bool operator==(const SqlToken&) const = default;
};

// What is left open at a point of the text, where a line ends.
struct SqlScanState {
    enum Open : unsigned char { Nothing, BlockComment, String, QuotedName, BracketedName };
    Open open = Nothing;
    int depth = 0; // how many block comments are open (only with BlockComment)

    bool operator==(const SqlScanState&) const = default;

    // The state as one non-negative int (Nothing is 0), to keep with a line of a document;
    // fromInt() of a negative value (a line never scanned) is Nothing.
    // A depth beyond what fits is kept as the largest that does.
    int toInt() const { return int(open) | std::min(depth, INT_MAX >> 3) << 3; }
    static SqlScanState fromInt(int value);
};

// Reads the tokens of a text one by one, from a position and a state. The text is UTF-16
// (SqlScanner) or UTF-8 (Utf8SqlScanner); in UTF-8 every byte above 127 counts as part of a
// word, which is all the comment filter needs to know of letters.
template <typename Char> class BasicSqlScanner {
public:
    explicit BasicSqlScanner(std::basic_string_view<Char> text, SqlScanState state = {},
                             qsizetype from = 0)
        : m_text(text), m_pos(from), m_state(state) {}

    // The next token; false at the end of the text.
    bool next(SqlToken& token);
    // The state after the tokens read so far.
    SqlScanState state() const { return m_state; }
    // Where the next token starts.
    qsizetype position() const { return m_pos; }
    // Off: every word is an Identifier, for a scan that wants only the state
    // or the stretches of comments, strings and names (a little faster).
    void setKeywords(bool on) { m_keywords = on; }

private:
    qsizetype continueOpen(qsizetype from);
    bool wordCharAt(qsizetype i) const;

    std::basic_string_view<Char> m_text;
    qsizetype m_pos;
    SqlScanState m_state;
    bool m_keywords = true;
};

extern template class BasicSqlScanner<char16_t>;
extern template class BasicSqlScanner<char>;

class SqlScanner : public BasicSqlScanner<char16_t> {
public:
    explicit SqlScanner(QStringView text, SqlScanState state = {}, qsizetype from = 0)
        : BasicSqlScanner(std::u16string_view(text.utf16(), size_t(text.size())), state, from) {}
};
using Utf8SqlScanner = BasicSqlScanner<char>;

// All tokens of `text`, starting in `state`, which afterwards holds the state at the end.
QList<SqlToken> scanSql(QStringView text, SqlScanState& state);
QList<SqlToken> scanSql(QStringView text);

// Whether the word (in any case) is one of the keywords the editor shows in bold.
bool isSqlKeyword(QStringView word);

// Removes the comments of `text`, starting in `state` and leaving in it the state at the end
// (so a comment can run over several calls, one per line). Everything else is kept exactly:
// every line break (also those inside a block comment), string literals, quoted and bracketed
// names, even when they hold "--" or "/*". Where a removed block comment stood between two
// characters that are not blanks, one blank takes its place, so that "a/**/b" does not become
// one word and "-/**/-" does not become a comment marker.
QString stripComments(QStringView text, SqlScanState& state);
std::string stripComments(std::string_view utf8, SqlScanState& state);
// The comments of a whole text removed; line n of the result is what is left of line n.
QString stripComments(const QString& text);
