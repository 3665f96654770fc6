#pragma once
// Tokens of T-SQL text. The lexer keeps every character of the input (spaces
// and comments included) so that statements can be cut out and rewritten
// without losing anything the user wrote.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tds::sql {

enum class TokKind {
    Space,    // blanks and line breaks
    Comment,  // -- to end of line, /* ... */ (nested)
    Word,     // bare identifier or keyword
    Quoted,   // [name] or "name"; value() gives the name
    String,   // '...'; value() gives the text with '' undone
    NString,  // N'...'
    Number,   // 12, 1.5, 1e3, .5
    Binary,   // 0x0A0B
    Variable, // @name
    Global,   // @@name
    Op,       // operators: + - * / % = < > <= >= <> != !< !> || & | ^ ~ ::
    Punct,    // ( ) , ; .
};

struct Token {
    TokKind kind = TokKind::Space;
    std::string_view text; // as written, including quotes
    std::size_t pos = 0;   // byte offset in the source

    bool isTrivia() const { return kind == TokKind::Space || kind == TokKind::Comment; }
    bool isName() const { return kind == TokKind::Word || kind == TokKind::Quoted; }
    // Case-insensitive comparison for words and punctuation.
    bool is(std::string_view s) const;
    bool isAny(std::initializer_list<std::string_view> words) const;
    // Identifier without quotes/brackets, string without quotes (escapes undone).
    std::string value() const;
};

struct LexError {
    std::size_t pos = 0;  // where the unclosed quote or comment starts
    std::string rest;     // text after the opening quote
    bool comment = false; // an unclosed /* comment rather than a quote
};

struct LexResult {
    std::vector<Token> tokens;
    std::optional<LexError> error;
};

LexResult lex(std::string_view sql);
// The tokens that matter (no blanks, no comments); what could be read when
// the text has an unclosed quote. The tokens point into `sql`: keep it alive.
std::vector<Token> significantTokens(std::string_view sql);

// A word token spelled `w` (any case); a punctuation token `c`.
inline bool isWordTok(const Token& t, std::string_view w) {
    return t.kind == TokKind::Word && t.is(w);
}
inline bool isPunctTok(const Token& t, char c) {
    return t.kind == TokKind::Punct && t.text.size() == 1 && t.text[0] == c;
}

bool iequals(std::string_view a, std::string_view b);
std::string toLower(std::string_view s);
std::string toUpper(std::string_view s);

// Quotes a name for SQLite: "na""me".
std::string quoteIdent(std::string_view name);
// Quotes a text literal for SQLite: 'it''s'.
std::string quoteString(std::string_view text);

} // namespace tds::sql
