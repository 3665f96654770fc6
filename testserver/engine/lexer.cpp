#include "testserver/engine/lexer.h"

#include <cctype>

namespace tds::sql {

namespace {

bool isWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}

bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c == '@' || c >= 0x80;
}

} // namespace

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string toLower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string toUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string quoteIdent(std::string_view name) {
    std::string r = "\"";
    for (char c : name) {
        if (c == '"')
            r += '"';
        r += c;
    }
    r += '"';
    return r;
}

std::string quoteString(std::string_view text) {
    std::string r = "'";
    for (char c : text) {
        if (c == '\'')
            r += '\'';
        r += c;
    }
    r += '\'';
    return r;
}

bool Token::is(std::string_view s) const {
    return iequals(text, s);
}

bool Token::isAny(std::initializer_list<std::string_view> words) const {
    for (auto w : words)
        if (iequals(text, w))
            return true;
    return false;
}

std::string Token::value() const {
    auto undouble = [](std::string_view body, char q) {
        std::string r;
        r.reserve(body.size());
        for (std::size_t i = 0; i < body.size(); ++i) {
            r += body[i];
            if (body[i] == q && i + 1 < body.size() && body[i + 1] == q)
                ++i;
        }
        return r;
    };
    switch (kind) {
    case TokKind::Quoted:
        if (text.front() == '[')
            return undouble(text.substr(1, text.size() - 2), ']');
        return undouble(text.substr(1, text.size() - 2), '"');
    case TokKind::String:
        return undouble(text.substr(1, text.size() - 2), '\'');
    case TokKind::NString:
        return undouble(text.substr(2, text.size() - 3), '\'');
    default:
        return std::string(text);
    }
}

LexResult lex(std::string_view s) {
    LexResult res;
    auto& out = res.tokens;
    out.reserve(s.size() / 3 + 4);
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto push = [&](TokKind k, std::size_t start, std::size_t end) {
        out.push_back(Token{k, s.substr(start, end - start), start});
    };
    // Finds the end of a quoted run opened at `start` (the quote itself),
    // closing quote `q`, doubled quote = escape. Returns npos when unclosed.
    auto quotedEnd = [&](std::size_t start, char q) -> std::size_t {
        std::size_t j = start + 1;
        while (j < n) {
            if (s[j] == q) {
                if (j + 1 < n && s[j + 1] == q) {
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return std::string_view::npos;
    };

    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t start = i;
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(s[i])))
                ++i;
            push(TokKind::Space, start, i);
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
            push(TokKind::Comment, start, i);
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            int depth = 0;
            bool closed = false;
            while (i < n) {
                if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
                    ++depth;
                    i += 2;
                } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
                    i += 2;
                    if (--depth == 0) {
                        closed = true;
                        break;
                    }
                } else {
                    ++i;
                }
            }
            if (!closed) {
                res.error = LexError{start, std::string(s.substr(start + 2)), true};
                return res;
            }
            push(TokKind::Comment, start, i);
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
            const std::size_t q = (c == '\'') ? i : i + 1;
            const std::size_t e = quotedEnd(q, '\'');
            if (e == std::string_view::npos) {
                res.error = LexError{q, std::string(s.substr(q + 1)), false};
                return res;
            }
            i = e;
            push(c == '\'' ? TokKind::String : TokKind::NString, start, i);
        } else if (c == '[' || c == '"') {
            const char close = (c == '[') ? ']' : '"';
            const std::size_t e = quotedEnd(i, close);
            if (e == std::string_view::npos) {
                res.error = LexError{i, std::string(s.substr(i + 1)), false};
                return res;
            }
            i = e;
            push(TokKind::Quoted, start, i);
        } else if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            i += 2;
            while (i < n && std::isxdigit(static_cast<unsigned char>(s[i])))
                ++i;
            push(TokKind::Binary, start, i);
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1]))) ||
                   (c == '$' && i + 1 < n &&
                    (std::isdigit(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '.'))) {
            // A money literal ($20.00) is the number after its currency sign.
            std::size_t numStart = i;
            if (c == '$')
                numStart = ++i;
            while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
                ++i;
            if (i < n && s[i] == '.') {
                ++i;
                while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
                    ++i;
            }
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                std::size_t j = i + 1;
                if (j < n && (s[j] == '+' || s[j] == '-'))
                    ++j;
                if (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(s[i])))
                        ++i;
                }
            }
            push(TokKind::Number, numStart, i);
        } else if (c == '@') {
            const bool global = i + 1 < n && s[i + 1] == '@';
            i += global ? 2 : 1;
            while (i < n && isWordChar(static_cast<unsigned char>(s[i])))
                ++i;
            push(global ? TokKind::Global : TokKind::Variable, start, i);
        } else if (isWordStart(c)) {
            while (i < n && isWordChar(static_cast<unsigned char>(s[i])))
                ++i;
            push(TokKind::Word, start, i);
        } else if (c == '(' || c == ')' || c == ',' || c == ';' || c == '.') {
            ++i;
            push(TokKind::Punct, start, i);
        } else {
            static constexpr std::string_view two[] = {"<=", ">=", "<>", "!=", "!<", "!>",
                                                       "||", "::", "+=", "-=", "*=", "/="};
            bool matched = false;
            for (auto t : two) {
                if (s.substr(i, 2) == t) {
                    i += 2;
                    matched = true;
                    break;
                }
            }
            if (!matched)
                ++i;
            push(TokKind::Op, start, i);
        }
    }
    return res;
}

std::vector<Token> significantTokens(std::string_view sql) {
    std::vector<Token> out;
    for (const auto& t : lex(sql).tokens)
        if (!t.isTrivia())
            out.push_back(t);
    return out;
}

} // namespace tds::sql
