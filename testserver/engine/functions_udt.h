#pragma once
// The methods of the CLR types (geography, geometry, hierarchyid) in T-SQL:
// SQLite functions over their serialized values, and the rewrite of
// `geography::Point(...)`, `loc.STAsText()`, `loc.Lat` into calls of them.

#include "testserver/engine/session_impl.h"
#include "testserver/engine/translate.h"

#include <optional>
#include <vector>

namespace tds {

namespace sqlfn {
void registerUdtFunctions(sqlite3* c);
} // namespace sqlfn

namespace sql {

// Rewrites the static method calls and the member uses in toks[first, last);
// returns the new end of the range.
std::size_t rewriteUdtCalls(std::vector<Token>& toks, std::size_t first, std::size_t last,
                            const TranslateContext& ctx);

// The CLR type that toks[first, last) gives when it is one static method call
// returning one (geography::Point(...), hierarchyid::Parse(...)).
std::optional<UdtKind> udtStaticResult(const std::vector<Token>& toks, std::size_t first,
                                       std::size_t last);

} // namespace sql

} // namespace tds
