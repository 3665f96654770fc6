// GROUP BY ... WITH ROLLUP / WITH CUBE and GROUPING(): SQLite has neither,
// so the query becomes one SELECT per grouping set joined by UNION ALL; in
// each, the columns rolled up read NULL outside aggregates and GROUPING(col)
// reads 1 for them, 0 for the others. ORDER BY sorts the union.

#include "testserver/engine/translate.h"

#include <algorithm>

namespace tds::sql {

namespace {

bool isAggregate(const Token& t) {
    return t.isAny({"count", "count_big", "sum", "avg", "min", "max", "stdev", "stdevp", "var",
                    "varp", "checksum_agg"});
}

std::string textOf(const std::vector<Token>& toks, std::size_t a, std::size_t b) {
    std::string s;
    for (std::size_t i = a; i < b; ++i) {
        if (!s.empty())
            s += ' ';
        s += std::string(toks[i].text);
    }
    return s;
}

bool sameTokens(const std::vector<Token>& toks, std::size_t at, const std::vector<Token>& expr) {
    if (at + expr.size() > toks.size())
        return false;
    for (std::size_t k = 0; k < expr.size(); ++k)
        if (!iequals(toks[at + k].value(), expr[k].value()) || toks[at + k].kind != expr[k].kind)
            return false;
    return true;
}

} // namespace

std::optional<std::string> expandGroupingSets(const Statement& st) {
    const auto& toks = st.toks;
    // Top-level clauses.
    std::size_t groupAt = 0, withAt = 0, havingAt = 0, orderAt = 0, fromAt = 0;
    int depth = 0;
    for (std::size_t i = 0; i < toks.size(); ++i) {
        if (isPunctTok(toks[i], '('))
            ++depth;
        else if (isPunctTok(toks[i], ')'))
            --depth;
        else if (depth == 0 && toks[i].kind == TokKind::Word) {
            if (toks[i].is("from") && !fromAt)
                fromAt = i;
            else if (toks[i].is("group") && i + 1 < toks.size() && toks[i + 1].is("by"))
                groupAt = i;
            else if (groupAt && toks[i].is("with") && i + 1 < toks.size() &&
                     toks[i + 1].isAny({"rollup", "cube"}))
                withAt = i;
            else if (toks[i].is("having"))
                havingAt = i;
            else if (toks[i].is("order") && i + 1 < toks.size() && toks[i + 1].is("by"))
                orderAt = i;
        }
    }
    if (!groupAt || !withAt || !fromAt || !toks[0].is("select"))
        return std::nullopt;
    const bool cube = toks[withAt + 1].is("cube");
    // The grouping expressions.
    std::vector<std::vector<Token>> groups;
    std::size_t start = groupAt + 2;
    depth = 0;
    for (std::size_t i = start; i <= withAt; ++i) {
        if (i < withAt && isPunctTok(toks[i], '('))
            ++depth;
        else if (i < withAt && isPunctTok(toks[i], ')'))
            --depth;
        if (i == withAt || (depth == 0 && isPunctTok(toks[i], ','))) {
            groups.emplace_back(toks.begin() + static_cast<std::ptrdiff_t>(start),
                                toks.begin() + static_cast<std::ptrdiff_t>(i));
            start = i + 1;
        }
    }
    const std::size_t n = groups.size();
    if (n == 0 || n > 10)
        return std::nullopt;
    // Grouping sets: bit k set = group k rolled up.
    std::vector<unsigned> sets;
    if (cube) {
        for (unsigned m = 0; m < (1u << n); ++m)
            sets.push_back(m);
    } else {
        for (std::size_t k = 0; k <= n; ++k)
            sets.push_back(((1u << n) - 1) & ~((1u << (n - k)) - 1));
    }
    const std::size_t tailEnd = orderAt ? orderAt : toks.size();
    std::string sql;
    for (const unsigned rolled : sets) {
        std::string part = "SELECT ";
        // The select list with rolled-up columns as NULL and GROUPING() as 0/1.
        std::size_t i = 1;
        int aggDepth = 0;
        depth = 0;
        std::vector<int> aggAt;
        while (i < fromAt) {
            if (toks[i].is("grouping") && i + 1 < fromAt && isPunctTok(toks[i + 1], '(')) {
                const std::size_t close = matchingParen(toks, i + 1, fromAt);
                std::string flag = "0";
                for (std::size_t k = 0; k < n; ++k)
                    if (close - (i + 2) == groups[k].size() && sameTokens(toks, i + 2, groups[k]))
                        flag = (rolled >> (n - 1 - k)) & 1u ? "1" : "0";
                part += flag + " ";
                i = close + 1;
                continue;
            }
            if (isAggregate(toks[i]) && i + 1 < fromAt && isPunctTok(toks[i + 1], '(')) {
                aggAt.push_back(depth);
                ++aggDepth;
            }
            if (isPunctTok(toks[i], '('))
                ++depth;
            if (isPunctTok(toks[i], ')')) {
                --depth;
                if (!aggAt.empty() && aggAt.back() == depth) {
                    aggAt.pop_back();
                    --aggDepth;
                }
            }
            bool replaced = false;
            if (aggDepth == 0 && !(i > 0 && isWordTok(toks[i - 1], "as")))
                for (std::size_t k = 0; k < n && !replaced; ++k)
                    if (((rolled >> (n - 1 - k)) & 1u) && sameTokens(toks, i, groups[k]) &&
                        !(i + groups[k].size() < fromAt &&
                          isPunctTok(toks[i + groups[k].size()], '('))) {
                        part += "NULL ";
                        i += groups[k].size();
                        replaced = true;
                    }
            if (!replaced) {
                part += std::string(toks[i].text) + " ";
                ++i;
            }
        }
        part += textOf(toks, fromAt, groupAt);
        std::string by;
        for (std::size_t k = 0; k < n; ++k)
            if (!((rolled >> (n - 1 - k)) & 1u))
                by += (by.empty() ? "" : ", ") + textOf(groups[k], 0, groups[k].size());
        if (!by.empty())
            part += " GROUP BY " + by;
        if (havingAt)
            part += " " + textOf(toks, havingAt, tailEnd);
        sql += (sql.empty() ? "" : " UNION ALL ") + part;
    }
    if (orderAt)
        return "SELECT * FROM (" + sql + ") AS tds_grouping_sets " +
               textOf(toks, orderAt, toks.size());
    return sql;
}

} // namespace tds::sql
