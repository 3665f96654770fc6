#include "data/odbc/odbctypes.h"

#include <array>
#include <string_view>

namespace data::odbc {

namespace {

using Convert = ColumnPlan::Convert;

// SQL Server-specific SQL types of the drivers (from the SQL Server driver
// headers; FreeTDS uses the same numbers).
constexpr SQLSMALLINT kSqlSsVariant = -150;
constexpr SQLSMALLINT kSqlSsXml = -152;
constexpr SQLSMALLINT kSqlSsUdt = -151;
constexpr SQLSMALLINT kSqlSsTime2 = -154;

struct TypeRow {
    std::string_view typeName; // lower case
    TFieldType fieldType;
    StorageKind kind;
    SQLSMALLINT cType;
    Convert convert;
};

// Server type name -> what the user sees. Decimal and numeric switch to
// ftFMTBcd above precision 18; varchar(max), nvarchar(max) and
// varbinary(max) switch to ftMemo / ftBlob (see planColumn).
constexpr std::array<TypeRow, 30> kTypes = {{
    {"int", ftInteger, StorageKind::Int32, SQL_C_SLONG, Convert::Copy},
    {"smallint", ftSmallint, StorageKind::Int16, SQL_C_SSHORT, Convert::Copy},
    {"tinyint", ftWord, StorageKind::UInt8, SQL_C_UTINYINT, Convert::Copy},
    {"bigint", ftLargeint, StorageKind::Int64, SQL_C_SBIGINT, Convert::Copy},
    {"bit", ftBoolean, StorageKind::Bool, SQL_C_BIT, Convert::Bit},
    {"float", ftFloat, StorageKind::Double, SQL_C_DOUBLE, Convert::Copy},
    {"real", ftFloat, StorageKind::Double, SQL_C_DOUBLE, Convert::Copy},
    {"money", ftBCD, StorageKind::Decimal, SQL_C_CHAR, Convert::DecimalText},
    {"smallmoney", ftBCD, StorageKind::Decimal, SQL_C_CHAR, Convert::DecimalText},
    {"decimal", ftBCD, StorageKind::Decimal, SQL_C_CHAR, Convert::DecimalText},
    {"numeric", ftBCD, StorageKind::Decimal, SQL_C_CHAR, Convert::DecimalText},
    {"datetime", ftDateTime, StorageKind::DateTime, SQL_C_TYPE_TIMESTAMP, Convert::Timestamp},
    {"smalldatetime", ftDateTime, StorageKind::DateTime, SQL_C_TYPE_TIMESTAMP, Convert::Timestamp},
    {"datetime2", ftDateTime, StorageKind::DateTime, SQL_C_TYPE_TIMESTAMP, Convert::Timestamp},
    {"date", ftDate, StorageKind::Date, SQL_C_TYPE_DATE, Convert::DateStruct},
    {"time", ftTime, StorageKind::Time, SQL_C_CHAR, Convert::TimeText},
    {"char", ftFixedChar, StorageKind::Utf8, SQL_C_CHAR, Convert::Text},
    {"varchar", ftString, StorageKind::Utf8, SQL_C_CHAR, Convert::Text},
    {"nchar", ftWideString, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
    {"nvarchar", ftWideString, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
    {"sysname", ftWideString, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
    {"text", ftMemo, StorageKind::Utf8, SQL_C_CHAR, Convert::Text},
    {"ntext", ftMemo, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
    {"xml", ftMemo, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
    {"image", ftBlob, StorageKind::Bytes, SQL_C_BINARY, Convert::Text},
    {"binary", ftBytes, StorageKind::Bytes, SQL_C_BINARY, Convert::Text},
    {"varbinary", ftVarBytes, StorageKind::Bytes, SQL_C_BINARY, Convert::Text},
    {"timestamp", ftBytes, StorageKind::Bytes, SQL_C_BINARY, Convert::Text},
    {"uniqueidentifier", ftGuid, StorageKind::Guid, SQL_C_GUID, Convert::Copy},
    {"sql_variant", ftVariant, StorageKind::Utf16, SQL_C_WCHAR, Convert::Text},
}};

QLatin1String latin1(std::string_view s) {
    return QLatin1String(s.data(), qsizetype(s.size()));
}

// Every result's every column is looked up here: the length rules out most
// rows before any comparison.
const TypeRow* rowByName(QStringView name) {
    for (const TypeRow& r : kTypes)
        if (qsizetype(r.typeName.size()) == name.size() &&
            name.compare(latin1(r.typeName), Qt::CaseInsensitive) == 0)
            return &r;
    return nullptr;
}

const TypeRow* rowByName(std::string_view lowerCaseName) {
    for (const TypeRow& r : kTypes)
        if (r.typeName == lowerCaseName)
            return &r;
    return nullptr;
}

// When the driver gives no usable type name, the SQL type decides.
const char* nameForSqlType(const DescribedColumn& c) {
    switch (c.sqlType) {
    case SQL_INTEGER:
        return "int";
    case SQL_SMALLINT:
        return "smallint";
    case SQL_TINYINT:
        return "tinyint";
    case SQL_BIGINT:
        return "bigint";
    case SQL_BIT:
        return "bit";
    case SQL_DOUBLE:
    case SQL_FLOAT:
        return "float";
    case SQL_REAL:
        return "real";
    case SQL_DECIMAL:
        return "decimal";
    case SQL_NUMERIC:
        return "numeric";
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
        return "datetime";
    case SQL_TYPE_DATE:
        return "date";
    case SQL_TYPE_TIME:
    case kSqlSsTime2:
        return "time";
    case SQL_CHAR:
        return "char";
    case SQL_VARCHAR:
        return "varchar";
    case SQL_LONGVARCHAR:
        return "text";
    case SQL_WCHAR:
        return "nchar";
    case SQL_WVARCHAR:
        return "nvarchar";
    case SQL_WLONGVARCHAR:
        return "ntext";
    case SQL_BINARY:
        return "binary";
    case SQL_VARBINARY:
        return "varbinary";
    case SQL_LONGVARBINARY:
        return "image";
    case SQL_GUID:
        return "uniqueidentifier";
    case kSqlSsVariant:
        return "sql_variant";
    case kSqlSsXml:
        return "xml";
    default:
        return nullptr;
    }
}

// Values above this many bytes are read in chunks rather than bound.
constexpr SQLULEN kMaxBoundBytes = 8000;

} // namespace

ColumnPlan planColumn(const DescribedColumn& c, bool rawWire) {
    ColumnPlan plan;
    ColumnInfo& info = plan.info;
    info.name = c.name;
    info.nullable = c.nullable;

    // A CLR type (geography, hierarchyid, ...): the SQL Server drivers say
    // SQL_SS_UDT, FreeTDS says long binary without a type name (its binary
    // types all have one). Its bytes are a binary like varbinary's, shown in
    // hex; the name, when the driver gives none, comes from the catalog.
    if (c.sqlType == kSqlSsUdt || (c.sqlType == SQL_LONGVARBINARY && c.typeName.isEmpty())) {
        info.typeName = c.typeName;
        info.clrType = true;
        info.type = ftVarBytes;
        info.kind = StorageKind::Bytes;
        info.size = 0;
        plan.cType = SQL_C_BINARY;
        plan.convert = Convert::Text;
        plan.isLong = true;
        return plan;
    }

    // The SQL type wins over a type name it contradicts (a user type named
    // like a system type); otherwise the name is more precise (money, text,
    // timestamp are not told apart by the SQL type).
    const TypeRow* row = rowByName(c.typeName);
    // The driver's own name for the type, as the table spells it; empty
    // where the SQL type had to decide.
    const std::string_view named = row ? row->typeName : std::string_view();
    if (!row) {
        const char* byType = nameForSqlType(c);
        row = byType ? rowByName(std::string_view(byType)) : nullptr;
    }
    info.typeName = c.typeName.isEmpty() && row ? QString(latin1(row->typeName)) : c.typeName;

    if (!row) {
        // Unknown types (datetimeoffset, spatial types, ...) are shown as text.
        info.type = ftWideString;
        info.kind = StorageKind::Utf16;
        plan.cType = SQL_C_WCHAR;
        plan.convert = Convert::Text;
        info.size = int(c.columnSize);
        plan.isLong = c.columnSize == 0 || c.columnSize > kMaxBoundBytes / 2;
        plan.bufferBytes = plan.isLong ? 0 : SQLLEN(c.columnSize + 1) * 2;
        return plan;
    }

    info.type = row->fieldType;
    info.kind = row->kind;
    plan.cType = row->cType;
    plan.convert = row->convert;
    const std::string_view name = row->typeName;

    switch (row->kind) {
    case StorageKind::Decimal: {
        const bool money = name == "money" || name == "smallmoney";
        info.precision = money ? (name == "money" ? 19 : 10) : int(c.columnSize);
        info.scale = money ? 4 : c.decimalDigits;
        info.size = info.scale;
        if (info.precision > 18) {
            if (money) {
                // money fits an int64 of ten-thousandths whatever its precision says.
                info.precision = 19;
            } else {
                info.type = ftFMTBcd;
                info.kind = StorageKind::Utf8;
                plan.convert = Convert::Text;
            }
        }
        plan.bufferBytes = 48;
        break;
    }
    case StorageKind::Time:
        info.scale = c.decimalDigits;
        plan.bufferBytes = 32;
        break;
    case StorageKind::DateTime:
        info.scale = c.decimalDigits;
        plan.bufferBytes = SQLLEN(sizeof(SQL_TIMESTAMP_STRUCT));
        break;
    case StorageKind::Date:
        plan.bufferBytes = SQLLEN(sizeof(SQL_DATE_STRUCT));
        break;
    case StorageKind::Guid:
        info.size = 38; // the length of its text form in braces
        plan.bufferBytes = 16;
        break;
    case StorageKind::Utf8:
    case StorageKind::Utf16:
    case StorageKind::Bytes: {
        const bool maxType = c.columnSize == 0 || c.columnSize > kMaxBoundBytes;
        if (row->fieldType == ftMemo || row->fieldType == ftBlob || row->fieldType == ftVariant ||
            maxType) {
            plan.isLong = true;
            if (maxType && info.type != ftVariant)
                info.type = info.kind == StorageKind::Bytes ? ftBlob : ftMemo;
            info.size = info.type == ftVariant ? int(c.columnSize) : 0;
        } else {
            info.size = int(c.columnSize);
            if (info.kind == StorageKind::Utf8)
                plan.bufferBytes = SQLLEN(c.columnSize) * 4 + 1; // UTF-8 of up to n characters
            else if (info.kind == StorageKind::Utf16)
                plan.bufferBytes = SQLLEN(c.columnSize + 1) * 2;
            else
                plan.bufferBytes = SQLLEN(c.columnSize);
        }
        if (name == "timestamp")
            info.size = 8;
        break;
    }
    default:
        plan.bufferBytes = fixedWidth(row->kind);
        info.precision = int(c.columnSize);
        break;
    }
    // Only where the driver itself names the type (`named`): a type guessed
    // from the SQL type could be another one with other bytes (datetime2 is
    // a SQL_TYPE_TIMESTAMP too).
    if (rawWire && !plan.isLong) {
        if (named == "money" || named == "smallmoney") {
            plan.cType = SQL_C_BINARY;
            plan.convert = Convert::MoneyRaw;
            plan.bufferBytes = 8;
        } else if (named == "datetime" || named == "smalldatetime") {
            plan.cType = SQL_C_BINARY;
            plan.convert = Convert::DateTimeRaw;
            plan.bufferBytes = 8;
        } else if (named == "int" || named == "smallint" || named == "tinyint" ||
                   named == "bigint") {
            // Little-endian integers of the column's width, as the store keeps them.
            plan.cType = SQL_C_BINARY;
            plan.convert = Convert::FixedRaw;
        } else if (named == "bit") {
            plan.cType = SQL_C_BINARY;
            plan.bufferBytes = 1;
        } else if (named == "float") {
            plan.cType = SQL_C_BINARY;
            plan.convert = Convert::FloatRaw;
            plan.bufferBytes = 8;
        } else if (info.kind == StorageKind::Utf16 &&
                   (named == "nchar" || named == "nvarchar" || named == "sysname")) {
            // UTF-16LE code units as the store keeps them; no terminator.
            plan.cType = SQL_C_BINARY;
            plan.bufferBytes = SQLLEN(c.columnSize) * 2;
        }
    }
    return plan;
}

TFieldType fieldTypeForTypeName(const QString& typeName, int precision, bool maxLength) {
    DescribedColumn c;
    c.typeName = typeName;
    c.columnSize = maxLength ? 0 : SQLULEN(precision > 0 ? precision : 10);
    c.decimalDigits = 0;
    const TypeRow* row = rowByName(typeName);
    if (!row)
        return ftUnknown;
    return planColumn(c).info.type;
}

} // namespace data::odbc
