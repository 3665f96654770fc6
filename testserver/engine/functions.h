#pragma once
// The T-SQL built-in functions that run inside SQLite: the tables that list
// them per family, and the helpers they share for reading arguments and
// setting results.

#include "testserver/engine/session_impl.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tds::sqlfn {

using Function = void (*)(sqlite3_context*, int, sqlite3_value**);

// One SQL function: its name, its number of arguments (-1: any) and whether
// the same arguments always give the same result. The session is its user data.
struct FunctionDef {
    const char* name;
    int args;
    Function call;
    bool deterministic = true;
};

std::span<const FunctionDef> textFunctions();
std::span<const FunctionDef> dateFunctions();
std::span<const FunctionDef> numberFunctions();
std::span<const FunctionDef> systemFunctions();
// ERROR_NUMBER() and the other functions of a CATCH block, XACT_STATE() (try_catch.cpp).
std::span<const FunctionDef> errorFunctions();
// tds_udf(), the calls of scalar user functions (table_functions.cpp).
std::span<const FunctionDef> userFunctions();
// Arithmetic and SUM/AVG on exact numerics (functions_exact.cpp).
void registerExactFunctions(sqlite3* c);

// Why a conversion failed: the message and its error number.
struct ConvertError {
    std::string text;
    int number = 245;
};

// Converts as CONVERT(type, v, style) does (style -1: none); explicitLength
// says whether the type named a length (varchar(10) rather than varchar).
Value convertValue(const ColumnType& t, const Value& v, int style, bool explicitLength,
                   ConvertError* err);
// A value put into a sql_variant: converted to `base` and kept with it; without
// a base type (or one a sql_variant cannot hold) as its storage class says.
// A value that already is a sql_variant stays as it is.
// `numeric` names a decimal base type numeric, as literals and CAST AS numeric are.
Value toVariant(const std::optional<ColumnType>& base, const Value& v, ConvertError* err,
                bool numeric = false);
// The same with the base type as sql::variantBaseText() writes it (empty: unknown).
Value toVariant(const std::string& baseText, const Value& v, ConvertError* err);

Value argValue(sqlite3_value* v);
std::string text(sqlite3_value* v);
void result(sqlite3_context* ctx, const Value& v);
// An error the engine reports with its SQL Server number and severity.
void resultError(sqlite3_context* ctx, int number, int severity, const std::string& text);

// While one lives on this thread, resultError() fails nothing: it keeps the
// error (as SQLite's error text would carry it) and gives a marker value in
// its place, so that a statement runs to its end and shows on which rows
// its values failed.
class DeferredValueErrors {
public:
    explicit DeferredValueErrors(std::vector<std::string>& errors);
    ~DeferredValueErrors();
    DeferredValueErrors(const DeferredValueErrors&) = delete;
    DeferredValueErrors& operator=(const DeferredValueErrors&) = delete;

private:
    std::vector<std::string>* m_previous;
};
// The index of the kept error that `v` stands for; nothing for other values.
std::optional<std::size_t> deferredError(sqlite3_value* v);
Session::Impl* implOf(sqlite3_context* ctx);

// UTF-8 to code points and back, and case mapping for Latin-1 letters (ä, Ö;
// ß stays), enough for the case-insensitive comparisons of the default collation.
std::u32string decode(std::string_view s);
std::string encode(const std::u32string& s);
char32_t lowerCp(char32_t c);
char32_t upperCp(char32_t c);

} // namespace tds::sqlfn
