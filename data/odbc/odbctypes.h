#pragma once
// The one table that maps SQL Server column types to field types and to the
// way a column is fetched and stored.

#include "data/resultstore.h"

#include <QString>
#include <sql.h>
#include <sqlext.h>

namespace data::odbc {

// What the driver says about a result column.
struct DescribedColumn {
    QString name;
    SQLSMALLINT sqlType = 0; // SQLDescribeCol's data type
    SQLULEN columnSize = 0;  // characters, bytes or digits; 0 for the (max) types
    SQLSMALLINT decimalDigits = 0;
    bool nullable = true;
    QString typeName; // SQL_DESC_TYPE_NAME, e.g. "money", "timestamp"
    // Where the column comes from (browse information), empty when unknown.
    QString baseCatalog, baseSchema, baseTable, baseColumn;
    bool autoIncrement = false; // SQL_DESC_AUTO_UNIQUE_VALUE
    bool readOnly = false;      // SQL_DESC_UPDATABLE says read only (and it is no identity)
};

// How to fetch and keep it.
struct ColumnPlan {
    ColumnInfo info;
    SQLSMALLINT cType = SQL_C_WCHAR; // C type asked from the driver
    SQLLEN bufferBytes = 0;          // per row for bound fetches
    bool isLong = false;             // fetched in chunks with SQLGetData
    enum class Convert {
        Copy,        // fixed-width bytes as they come
        Bit,         // SQL_C_BIT byte
        Timestamp,   // SQL_TIMESTAMP_STRUCT -> ticks
        DateStruct,  // SQL_DATE_STRUCT -> days
        DecimalText, // digits text -> unscaled int64
        TimeText,    // "hh:mm:ss[.fffffff]" -> ticks
        Text,        // bytes into the arena
        MoneyRaw,    // the server's money (8 bytes) or smallmoney (4 bytes) -> unscaled int64
        DateTimeRaw, // the server's datetime (8 bytes) or smalldatetime (4 bytes) -> ticks
        FixedRaw,    // the server's integer bytes, exactly the store's width
        FloatRaw,    // the server's float (8 bytes) or real (4 bytes) -> double
    } convert = Convert::Text;
};

// The mapping, for one column. Never fails: unknown types are fetched as text.
// `rawWire`: the driver hands numbers, money, datetime and national character
// values over as the server sent them when asked for SQL_C_BINARY (the
// FreeTDS driver does); they are then taken as they are instead of as text,
// structures or C types the driver would have to build.
ColumnPlan planColumn(const DescribedColumn& column, bool rawWire = false);

// The kind of SQL Server type a type name stands for, for tests and the
// structure listing: "int" -> ftInteger and so on; ftUnknown when unknown.
TFieldType fieldTypeForTypeName(const QString& typeName, int precision = 0, bool maxLength = false);

} // namespace data::odbc
