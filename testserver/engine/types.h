#pragma once
// SQL Server column types as they are declared in CREATE TABLE and kept by
// SQLite as the column's declared type, and what ODBC catalog calls report
// for them.

#include "testserver/engine/engine.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tds::sql {

// Parses a declared type such as "nvarchar(50)", "decimal(10, 2)",
// "varchar(-1)" (max) or SQLite's own "INTEGER"/"TEXT"/"REAL"/"BLOB".
// Returns nothing for an empty or unknown declaration.
std::optional<ColumnType> parseDeclType(std::string_view decl);

// The SQL Server spelling of a type: "int", "nvarchar(50)", "varchar(max)",
// "decimal(10,2)".
std::string typeName(const ColumnType& t);
// The spelling kept as SQLite's declared type: as typeName(), with "(max)"
// written "(-1)" since SQLite takes only numbers there. Exact numerics
// (decimal, numeric, money, smallmoney) get the word "text" after their name,
// "decimal text(38,10)": it gives the column SQLite's text affinity, so values
// are kept as exact decimal text instead of being rounded to doubles, and
// such columns compare through kDecimalCollation.
std::string declTypeText(const ColumnType& t);
// A column type as written in CREATE TABLE, in the spelling kept in SQLite
// (see declTypeText); types it does not know stay as written.
std::string storageDeclType(const std::string& declared);
// The collation that orders decimal text by value.
inline constexpr const char* kDecimalCollation = "tds_decimal";
// The collation that orders date and time text by the moment it names, so that
// '2024-02-29 13:14:15.123' equals '2024-02-29T13:14:15.1230000'.
inline constexpr const char* kDateTimeCollation = "tds_datetime";
// The collation a column of this type is stored with, or nullptr for SQLite's own.
const char* storageCollation(const ColumnType& t);
// Just the base name: "nvarchar".
std::string baseTypeName(SqlType t);
// The name catalogs give a column's type: the base name, and a CLR type's own
// name ("geography") rather than that of the bytes it travels as.
std::string dataTypeName(const ColumnType& t);

bool isTextType(SqlType t);         // char, varchar, nchar, nvarchar, text, ntext
bool isBinaryType(SqlType t);       // binary, varbinary, image
bool isIntegerType(SqlType t);      // int, bigint, smallint, tinyint, bit
bool isExactNumericType(SqlType t); // decimal, money, smallmoney
bool isNationalType(SqlType t);     // nchar, nvarchar, ntext: UTF-16 on the wire and in DATALENGTH

// Whether a numeric literal ("12.50", "99999999999999999999") has more digits
// than a double or a 64-bit integer holds exactly; its decimal(p,s) when so.
std::optional<std::pair<int, int>> exactDecimalLiteral(std::string_view literal);

// What sp_columns and sp_datatype_info report.
struct OdbcTypeInfo {
    int dataType = 0;  // ODBC SQL type (ODBC 3 numbering)
    int precision = 0; // PRECISION / COLUMN_SIZE
    int length = 0;    // LENGTH / BUFFER_LENGTH in bytes
    std::optional<int> scale;
    std::optional<int> radix;
    int sqlDataType = 0; // SQL_DATA_TYPE
    std::optional<int> datetimeSub;
    std::optional<int> charOctetLength;
    int ssDataType = 0; // SS_DATA_TYPE: the old TDS type byte
};
OdbcTypeInfo odbcTypeInfo(const ColumnType& t, int odbcVersion = 3);

} // namespace tds::sql
