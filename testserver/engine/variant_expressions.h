#pragma once
// sql_variant in expressions. SQL Server converts the other operand of a
// comparison with a sql_variant to sql_variant and compares the two by type
// family, then by value; SQLite would compare the engine's tagged text with a
// plain value. The rewrite here turns every such comparison (=, <>, <, ...,
// IN lists, BETWEEN, the WHEN values of a simple CASE) into a call of
// tds_variant_cmp on two sql_variant values, and refuses what SQL Server
// refuses: arithmetic on a sql_variant (8117).

#include "testserver/engine/errors.h"
#include "testserver/engine/translate.h"

#include <optional>
#include <vector>

namespace tds::sql {

// The type of the expression toks[b, e) where the tokens alone tell it: a
// literal, a column of the statement's tables, a variable, a CAST or CONVERT,
// a few functions. What a value put into a sql_variant keeps as base type.
std::optional<ColumnType> expressionType(const std::vector<Token>& toks, std::size_t b,
                                         std::size_t e, const TranslateContext& ctx);
// expressionType, and also + - * / % between operands it types, with the
// result type SQL Server gives them (the operand of higher precedence;
// decimals by precision and scale; strings concatenated).
std::optional<ColumnType> operandType(const std::vector<Token>& toks, std::size_t b, std::size_t e,
                                      const TranslateContext& ctx);

// Inserted tokens stand apart from their neighbours in the source.
Token madeToken(TokKind kind, std::string_view text);
// toks[b, e) as CAST(... AS sql_variant), appended to `out`; as they are
// when they already are a sql_variant.
void appendAsVariant(std::vector<Token>& out, const std::vector<Token>& toks, std::size_t b,
                     std::size_t e, const TranslateContext& ctx);

// 257 when toks[b, e) is a sql_variant and `target` another type: SQL Server
// converts from sql_variant only when told to.
std::optional<Message> implicitFromVariant(const std::vector<Token>& toks, std::size_t b,
                                           std::size_t e, const ColumnType& target,
                                           const TranslateContext& ctx);

// Whether a statement deals with sql_variant values at all: the type's
// name, a sql_variant variable, or a sql_variant column of its tables.
bool involvesVariant(const std::vector<Token>& toks, std::size_t first, std::size_t last,
                     const TranslateContext& ctx);

// INSERT ... SELECT: the select list starting after toks[select] goes into
// columns of the `targets` types (in order; nothing where unknown). An item
// for a sql_variant column becomes CAST(item AS sql_variant), a sql_variant
// item for another type is 257 in `error`. Returns the new end of the range.
std::size_t rewriteInsertSelectList(std::vector<Token>& toks, std::size_t select, std::size_t last,
                                    const std::vector<std::optional<ColumnType>>& targets,
                                    const TranslateContext& ctx, std::optional<Message>& error);

// The type SQL Server gives a column of a multi-row VALUES list from the
// types of its rows: the one of highest precedence, decimals wide enough for
// every row's digits, character data as long as the longest; nothing when
// every row has the same type or one is not known.
std::optional<ColumnType> unifiedType(const std::vector<std::optional<ColumnType>>& types);
// Appends CAST(toks[b, e) AS typeText) to `out`.
void appendCast(std::vector<Token>& out, const std::vector<Token>& toks, std::size_t b,
                std::size_t e, const std::string& typeText);

// Rewrites the comparisons with a sql_variant in toks[first, last) and sets
// `error` to 8117 for arithmetic on one. Returns the new end of the range.
std::size_t rewriteVariantExpressions(std::vector<Token>& toks, std::size_t first, std::size_t last,
                                      const TranslateContext& ctx, std::optional<Message>& error);

} // namespace tds::sql
