#pragma once
// Arithmetic on exact numerics (decimal, numeric, money, smallmoney). SQLite
// computes + - * / % and SUM/AVG in doubles, good for 15 digits. Where an
// operand of such an operation is exact (and the other exact or an integer),
// the tokens of the operation are rewritten into a call of one of the
// functions in functions_exact.cpp, which compute on the exact values and
// round to the result's precision and scale as SQL Server types it.

#include "testserver/engine/translate.h"

#include <optional>
#include <vector>

namespace tds::sql {

// Rewrites the exact arithmetic in toks[first, last); returns the new end of
// the range (the calls take more tokens than the operators they replace).
std::size_t rewriteExactArithmetic(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                   const TranslateContext& ctx);

// The decimal or money type that the expression toks[first, last) computes:
// an operation on exact operands, SUM, AVG, MIN, MAX, ABS, ROUND, ... of one.
// Nothing for anything else, a bare column included.
std::optional<ColumnType> exactExpressionType(const std::vector<Token>& toks, std::size_t first,
                                              std::size_t last, const TranslateContext& ctx);

// Result type of `a op b` for two decimals ('+', '-', '*', '/', '%'): SQL
// Server's precision and scale, cut to 38 digits keeping at least 6 (or the
// operands' scale when smaller) after the point.
ColumnType decimalResultType(char op, const ColumnType& a, const ColumnType& b);

} // namespace tds::sql
