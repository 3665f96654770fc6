#pragma once
// Arithmetic on exact numerics (decimal, numeric, money, smallmoney). SQLite
// computes + - * / % and SUM/AVG in doubles, good for 15 digits. Where an
// operand of such an operation is exact (and the other exact or an integer),
// the tokens of the operation are rewritten into a call of one of the
// functions in functions_exact.cpp, which compute on the exact values and
// round to the result's precision and scale as SQL Server types it.

#include "testserver/engine/translate.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tds::sql {

// Rewrites the exact arithmetic in toks[first, last); returns the new end of
// the range (the calls take more tokens than the operators they replace).
std::size_t rewriteExactArithmetic(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                   const TranslateContext& ctx);

// Columns by lower-case name; empty for a name of two types.
using ColumnTypes = std::map<std::string, std::optional<ColumnType>>;

// The decimal or money type that an expression of a statement computes: an
// operation on exact operands, SUM, AVG, MIN, MAX, ABS, ROUND, ... of one.
// Nothing for anything else, a bare column included. The statement's column
// types are looked up once, on first use.
class ExactTyper {
public:
    ExactTyper(const std::vector<Token>& toks, TranslateContext ctx);
    std::optional<ColumnType> type(std::size_t first, std::size_t last);

private:
    const std::vector<Token>& m_toks;
    TranslateContext m_ctx;
    std::optional<ColumnTypes> m_columns;
};

// Result type of `a op b` for two decimals ('+', '-', '*', '/', '%'): SQL
// Server's precision and scale, cut to 38 digits keeping at least 6 (or the
// operands' scale when smaller) after the point.
ColumnType decimalResultType(char op, const ColumnType& a, const ColumnType& b);

} // namespace tds::sql
