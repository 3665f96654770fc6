#include "testserver/engine/wide_select.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace tds::sql {

namespace {

// A token of SQLite's SQL, as far as finding the parts of a SELECT needs.
enum class Kind { Word, Quoted, String, Number, Param, Open, Close, Comma, Semicolon, Other };

struct Tok {
    Kind kind;
    std::size_t begin, end; // byte positions in the text
    int depth;              // parentheses around it
};

bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

// Splits SQLite SQL into tokens; blanks and comments are left out.
std::vector<Tok> tokenize(std::string_view s) {
    std::vector<Tok> out;
    int depth = 0;
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto quoted = [&](char close) {
        std::size_t j = i + 1;
        while (j < n) {
            if (s[j] == close) {
                if (close != ']' && j + 1 < n && s[j + 1] == close) {
                    j += 2; // a doubled quote stands for itself
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return n;
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            const auto e = s.find("*/", i + 2);
            i = e == std::string_view::npos ? n : e + 2;
            continue;
        }
        Tok t{Kind::Other, i, i + 1, depth};
        if (c == '\'') {
            t.kind = Kind::String;
            t.end = quoted('\'');
        } else if (c == '"' || c == '`') {
            t.kind = Kind::Quoted;
            t.end = quoted(static_cast<char>(c));
        } else if (c == '[') {
            t.kind = Kind::Quoted;
            t.end = quoted(']');
        } else if (std::isdigit(c) ||
                   (c == '.' && i + 1 < n && std::isdigit((unsigned char)s[i + 1]))) {
            t.kind = Kind::Number;
            std::size_t j = i;
            while (j < n &&
                   (std::isalnum((unsigned char)s[j]) || s[j] == '.' ||
                    ((s[j] == '+' || s[j] == '-') && (s[j - 1] == 'e' || s[j - 1] == 'E'))))
                ++j;
            t.end = j;
        } else if ((c == '?' || c == ':' || c == '@' || c == '$') && i + 1 < n &&
                   isWordChar(static_cast<unsigned char>(s[i + 1]))) {
            t.kind = Kind::Param;
            std::size_t j = i + 1;
            while (j < n && isWordChar(static_cast<unsigned char>(s[j])))
                ++j;
            t.end = j;
        } else if (isWordChar(c)) {
            t.kind = Kind::Word;
            std::size_t j = i;
            while (j < n && isWordChar(static_cast<unsigned char>(s[j])))
                ++j;
            t.end = j;
        } else if (c == '(') {
            t.kind = Kind::Open;
            ++depth;
        } else if (c == ')') {
            t.kind = Kind::Close;
            t.depth = --depth;
        } else if (c == ',') {
            t.kind = Kind::Comma;
        } else if (c == ';') {
            t.kind = Kind::Semicolon;
        }
        i = t.end;
        out.push_back(t);
    }
    return out;
}

bool wordIs(std::string_view s, const Tok& t, const char* word) {
    const std::size_t len = std::strlen(word);
    if (t.kind != Kind::Word || t.end - t.begin != len)
        return false;
    for (std::size_t k = 0; k < len; ++k)
        if (std::tolower(static_cast<unsigned char>(s[t.begin + k])) != word[k])
            return false;
    return true;
}

bool wordIsAny(std::string_view s, const Tok& t, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return wordIs(s, t, w); });
}

// Words that end an expression's operand or join operands: an identifier
// next to one of them is no alias.
bool isKeyword(std::string_view s, const Tok& t) {
    return wordIsAny(
        s, t, {"and",     "or",   "not",      "is",           "null",         "in",
               "like",    "glob", "regexp",   "match",        "between",      "collate",
               "escape",  "case", "when",     "then",         "else",         "end",
               "cast",    "as",   "distinct", "all",          "exists",       "isnull",
               "notnull", "true", "false",    "current_date", "current_time", "current_timestamp",
               "select"});
}

bool isOperand(std::string_view s, const Tok& t) {
    switch (t.kind) {
    case Kind::Word:
        return !isKeyword(s, t);
    case Kind::Quoted:
    case Kind::String:
    case Kind::Number:
    case Kind::Param:
    case Kind::Close:
        return true;
    default:
        return false;
    }
}

std::string unquote(std::string_view s, const Tok& t) {
    std::string_view v = s.substr(t.begin, t.end - t.begin);
    if (t.kind == Kind::Word)
        return std::string(v);
    if (v.size() < 2)
        return std::string(v);
    const char close = v.back();
    std::string r;
    for (std::size_t k = 1; k + 1 < v.size(); ++k) {
        r += v[k];
        if (v[k] == close && close != ']' && k + 2 < v.size() && v[k + 1] == close)
            ++k;
    }
    return r;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front())))
        v.remove_prefix(1);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back())))
        v.remove_suffix(1);
    return v;
}

} // namespace

std::size_t statementLength(std::string_view sql) {
    for (const Tok& t : tokenize(sql))
        if (t.kind == Kind::Semicolon && t.depth == 0)
            return t.end;
    return sql.size();
}

bool isStar(std::string_view item, std::string* qualifier) {
    const std::vector<Tok> t = tokenize(item);
    const auto isStarTok = [&](const Tok& k) {
        return k.kind == Kind::Other && item[k.begin] == '*';
    };
    if (t.size() == 1 && isStarTok(t[0])) {
        if (qualifier)
            qualifier->clear();
        return true;
    }
    if (t.size() >= 3 && isStarTok(t.back()) && item[t[t.size() - 2].begin] == '.') {
        if (qualifier)
            *qualifier = std::string(trimmed(item.substr(0, t[t.size() - 2].begin)));
        return true;
    }
    return false;
}

std::optional<WideSelect> splitSelect(std::string_view sql) {
    const std::vector<Tok> t = tokenize(sql);
    if (t.empty() || !wordIs(sql, t[0], "select"))
        return std::nullopt;
    WideSelect w;
    std::size_t i = 1;
    if (i < t.size() && wordIsAny(sql, t[i], {"distinct", "all"}))
        ++i;
    w.head = std::string(sql.substr(0, t[i - 1].end));
    const auto clause = [&](const Tok& k) {
        return k.depth == 0 && wordIsAny(sql, k,
                                         {"from", "where", "group", "having", "order", "limit",
                                          "window", "union", "intersect", "except"});
    };
    // The items, split at the commas outside parentheses.
    std::size_t restTok = i;
    while (restTok < t.size() && !clause(t[restTok]) && t[restTok].kind != Kind::Semicolon)
        ++restTok;
    std::vector<std::pair<std::size_t, std::size_t>> items; // token ranges
    std::size_t start = i;
    for (std::size_t k = i; k <= restTok; ++k) {
        if (k == restTok || (t[k].kind == Kind::Comma && t[k].depth == 0)) {
            if (k == start)
                return std::nullopt; // an empty item: not ours to judge
            items.emplace_back(start, k);
            start = k + 1;
        }
    }
    for (std::size_t k = restTok; k < t.size(); ++k)
        if (t[k].depth == 0 && wordIsAny(sql, t[k], {"union", "intersect", "except"}))
            return std::nullopt;
    for (const auto& [a, b] : items) {
        const std::string_view itemText = sql.substr(t[a].begin, t[b - 1].end - t[a].begin);
        w.items.emplace_back(itemText);
        std::size_t exprEnd = b;
        std::string alias;
        const std::size_t n = b - a;
        if (n >= 3 && wordIs(sql, t[b - 2], "as")) {
            exprEnd = b - 2;
            alias = unquote(sql, t[b - 1]);
        } else if (n >= 2 &&
                   ((t[b - 1].kind == Kind::Word && !isKeyword(sql, t[b - 1])) ||
                    t[b - 1].kind == Kind::Quoted || t[b - 1].kind == Kind::String) &&
                   t[b - 1].depth == 0 && isOperand(sql, t[b - 2])) {
            exprEnd = b - 1;
            alias = unquote(sql, t[b - 1]);
        }
        w.exprs.emplace_back(sql.substr(t[a].begin, t[exprEnd - 1].end - t[a].begin));
        w.aliases.push_back(std::move(alias));
    }
    if (restTok == t.size()) {
        w.rest.clear();
        return w;
    }
    // The rest, with ORDER BY and GROUP BY terms that name an item by alias
    // or position replaced by the item's expression.
    std::string rest;
    std::size_t copied = t[restTok].begin;
    bool inTerms = false;
    bool termStart = false;
    for (std::size_t k = restTok; k < t.size(); ++k) {
        const Tok& tk = t[k];
        if (tk.depth == 0 && (wordIs(sql, tk, "by")) && k > 0 &&
            wordIsAny(sql, t[k - 1], {"order", "group"})) {
            inTerms = true;
            termStart = true;
            continue;
        }
        if (tk.depth == 0 && wordIsAny(sql, tk, {"having", "limit", "window", "order"}))
            inTerms = false;
        if (!inTerms)
            continue;
        if (tk.kind == Kind::Comma && tk.depth == 0) {
            termStart = true;
            continue;
        }
        if (!termStart)
            continue;
        termStart = false;
        const bool alone =
            k + 1 == t.size() || (t[k + 1].kind == Kind::Comma && t[k + 1].depth == 0) ||
            t[k + 1].kind == Kind::Semicolon ||
            wordIsAny(sql, t[k + 1],
                      {"asc", "desc", "collate", "nulls", "having", "limit", "window", "order"});
        if (!alone)
            continue;
        std::optional<std::size_t> item;
        if (tk.kind == Kind::Number) {
            const std::string num(sql.substr(tk.begin, tk.end - tk.begin));
            if (std::all_of(num.begin(), num.end(),
                            [](char c) { return std::isdigit((unsigned char)c); })) {
                const auto pos = std::stoul(num);
                if (pos >= 1 && pos <= w.exprs.size())
                    item = pos - 1;
            }
        } else if (tk.kind == Kind::Word || tk.kind == Kind::Quoted) {
            const std::string name = unquote(sql, tk);
            for (std::size_t a = 0; a < w.aliases.size() && !item; ++a)
                if (!w.aliases[a].empty() && sameName(w.aliases[a], name))
                    item = a;
        }
        if (item) {
            rest.append(sql.substr(copied, tk.begin - copied));
            rest += '(';
            rest += w.exprs[*item];
            rest += ')';
            copied = tk.end;
        }
    }
    rest.append(sql.substr(copied));
    w.rest = std::move(rest);
    return w;
}

namespace {

// The packed form: per value a type byte, then 8 bytes for a number or a
// 4-byte length and the bytes for text and blobs, in the machine's order
// (the blob never leaves this process).
void packValues(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string out;
    for (int a = 0; a < argc; ++a) {
        sqlite3_value* v = argv[a];
        const int type = sqlite3_value_type(v);
        out += static_cast<char>(type);
        if (type == SQLITE_INTEGER) {
            const std::int64_t i = sqlite3_value_int64(v);
            out.append(reinterpret_cast<const char*>(&i), sizeof i);
        } else if (type == SQLITE_FLOAT) {
            const double d = sqlite3_value_double(v);
            out.append(reinterpret_cast<const char*>(&d), sizeof d);
        } else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
            const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(v))
                                                : sqlite3_value_blob(v);
            const std::uint32_t len = static_cast<std::uint32_t>(sqlite3_value_bytes(v));
            out.append(reinterpret_cast<const char*>(&len), sizeof len);
            if (len)
                out.append(static_cast<const char*>(p), len);
        }
    }
    sqlite3_result_blob64(ctx, out.data(), out.size(), SQLITE_TRANSIENT);
}

} // namespace

bool unpackGroup(std::string_view blob, std::vector<PackedValue>& values) {
    values.clear();
    std::size_t i = 0;
    while (i < blob.size()) {
        PackedValue v;
        v.type = static_cast<unsigned char>(blob[i++]);
        if (v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT) {
            if (blob.size() - i < 8)
                return false;
            if (v.type == SQLITE_INTEGER)
                std::memcpy(&v.integer, blob.data() + i, 8);
            else
                std::memcpy(&v.real, blob.data() + i, 8);
            i += 8;
        } else if (v.type == SQLITE_TEXT || v.type == SQLITE_BLOB) {
            std::uint32_t len;
            if (blob.size() - i < sizeof len)
                return false;
            std::memcpy(&len, blob.data() + i, sizeof len);
            i += sizeof len;
            if (blob.size() - i < len)
                return false;
            v.bytes = blob.substr(i, len);
            i += len;
        } else if (v.type != SQLITE_NULL) {
            return false;
        }
        values.push_back(v);
    }
    return true;
}

void registerPackFunction(sqlite3* conn) {
    sqlite3_create_function_v2(conn, "tds_pack", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                               packValues, nullptr, nullptr, nullptr);
}

} // namespace tds::sql
