// Declared types, value conversions, LIKE patterns and the error mapping,
// without a session.

#include "testserver/engine/errors.h"
#include "testserver/engine/session_impl.h"
#include "testserver/engine/types.h"
#include "testserver/engine/values.h"

#include <gtest/gtest.h>

using namespace tds;
using namespace tds::sql;

namespace {

struct DeclCase {
    const char* decl;
    SqlType type;
    int length;
    int precision;
    int scale;
    const char* name; // typeName() of the result
};

class DeclTypes : public ::testing::TestWithParam<DeclCase> {};

TEST_P(DeclTypes, Parse) {
    const DeclCase& c = GetParam();
    const auto t = parseDeclType(c.decl);
    ASSERT_TRUE(t) << c.decl;
    EXPECT_EQ(t->type, c.type) << c.decl;
    EXPECT_EQ(t->length, c.length) << c.decl;
    if (c.type == SqlType::Decimal) {
        EXPECT_EQ(t->precision, c.precision) << c.decl;
        EXPECT_EQ(t->scale, c.scale) << c.decl;
    }
    EXPECT_EQ(typeName(*t), c.name);
    // What we store as SQLite's declared type parses back to the same type.
    const auto again = parseDeclType(declTypeText(*t));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->type, t->type);
    EXPECT_EQ(again->length, t->length);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, DeclTypes,
    ::testing::Values(
        DeclCase{"int", SqlType::Int, 0, 0, 0, "int"},
        DeclCase{"INTEGER", SqlType::Int, 0, 0, 0, "int"},
        DeclCase{"bigint", SqlType::BigInt, 0, 0, 0, "bigint"},
        DeclCase{"[tinyint]", SqlType::TinyInt, 0, 0, 0, "tinyint"},
        DeclCase{"bit", SqlType::Bit, 0, 0, 0, "bit"},
        DeclCase{"float", SqlType::Float, 0, 0, 0, "float"},
        DeclCase{"float(24)", SqlType::Real, 0, 0, 0, "real"},
        DeclCase{"double precision", SqlType::Float, 0, 0, 0, "float"},
        DeclCase{"money", SqlType::Money, 0, 19, 4, "money"},
        DeclCase{"decimal", SqlType::Decimal, 0, 18, 0, "decimal(18,0)"},
        DeclCase{"decimal(10, 2)", SqlType::Decimal, 0, 10, 2, "decimal(10,2)"},
        DeclCase{"NUMERIC(9,2)", SqlType::Decimal, 0, 9, 2, "decimal(9,2)"},
        DeclCase{"datetime2", SqlType::DateTime2, 0, 0, 0, "datetime2(7)"},
        DeclCase{"datetime2(3)", SqlType::DateTime2, 0, 0, 0, "datetime2(3)"},
        DeclCase{"time(0)", SqlType::Time, 0, 0, 0, "time(0)"},
        DeclCase{"smalldatetime", SqlType::SmallDateTime, 0, 0, 0, "smalldatetime"},
        DeclCase{"char", SqlType::Char, 1, 0, 0, "char(1)"},
        DeclCase{"varchar(40)", SqlType::VarChar, 40, 0, 0, "varchar(40)"},
        DeclCase{"varchar(max)", SqlType::VarChar, -1, 0, 0, "varchar(max)"},
        DeclCase{"varchar(-1)", SqlType::VarChar, -1, 0, 0, "varchar(max)"},
        DeclCase{"national character varying(20)", SqlType::NVarChar, 20, 0, 0, "nvarchar(20)"},
        DeclCase{"nchar(10)", SqlType::NChar, 10, 0, 0, "nchar(10)"},
        DeclCase{"sysname", SqlType::NVarChar, 128, 0, 0, "nvarchar(128)"},
        DeclCase{"ntext", SqlType::NText, -1, 0, 0, "ntext"},
        DeclCase{"image", SqlType::Image, -1, 0, 0, "image"},
        DeclCase{"varbinary(max)", SqlType::VarBinary, -1, 0, 0, "varbinary(max)"},
        DeclCase{"timestamp", SqlType::Binary, 8, 0, 0, "timestamp"},
        DeclCase{"rowversion", SqlType::Binary, 8, 0, 0, "timestamp"},
        DeclCase{"uniqueidentifier", SqlType::UniqueIdentifier, 16, 0, 0, "uniqueidentifier"},
        DeclCase{"BLOB", SqlType::VarBinary, -1, 0, 0, "varbinary(max)"},
        DeclCase{"Geography", SqlType::Udt, -1, 0, 0, "geography"},
        DeclCase{"hierarchyid", SqlType::Udt, 892, 0, 0, "hierarchyid"}));

TEST(DeclTypes, UnknownOrEmptyGiveNothing) {
    EXPECT_FALSE(parseDeclType(""));
    EXPECT_FALSE(parseDeclType("geographie"));
    EXPECT_FALSE(parseDeclType("dbo.MeinTyp"));
}

TEST(OdbcTypes, WhatCatalogCallsReport) {
    struct Case {
        const char* decl;
        int dataType2, dataType3, precision, length;
    };
    for (const Case& c :
         {Case{"int", 4, 4, 10, 4}, Case{"money", 3, 3, 19, 21}, Case{"decimal(9,2)", 3, 3, 9, 11},
          Case{"datetime", 11, 93, 23, 16}, Case{"date", 9, 91, 10, 6},
          Case{"datetime2", 11, 93, 27, 16}, Case{"datetime2(0)", 11, 93, 19, 16},
          Case{"nvarchar(20)", -9, -9, 20, 40},
          Case{"varchar(max)", 12, 12, 2147483647, 2147483647},
          Case{"ntext", -10, -10, 1073741823, 2147483646},
          Case{"image", -4, -4, 2147483647, 2147483647}, Case{"uniqueidentifier", -11, -11, 36, 16},
          Case{"bit", -7, -7, 1, 1}, Case{"float", 6, 6, 15, 8}}) {
        const ColumnType t = *parseDeclType(c.decl);
        EXPECT_EQ(odbcTypeInfo(t, 2).dataType, c.dataType2) << c.decl;
        const OdbcTypeInfo o = odbcTypeInfo(t, 3);
        EXPECT_EQ(o.dataType, c.dataType3) << c.decl;
        EXPECT_EQ(o.precision, c.precision) << c.decl;
        EXPECT_EQ(o.length, c.length) << c.decl;
    }
}

struct DateCase {
    const char* in;
    SqlType type;
    const char* out; // nullptr: not a date
};

class Dates : public ::testing::TestWithParam<DateCase> {};

TEST_P(Dates, NormalizeToTheColumnForm) {
    std::string s = GetParam().in;
    const bool ok = normalizeDateTime(s, GetParam().type);
    if (!GetParam().out) {
        EXPECT_FALSE(ok) << GetParam().in;
        return;
    }
    ASSERT_TRUE(ok) << GetParam().in;
    EXPECT_EQ(s, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Dates,
    ::testing::Values(
        DateCase{"2024-02-29 13:14:15.500", SqlType::DateTime, "2024-02-29 13:14:15.500"},
        DateCase{"2024-02-29", SqlType::DateTime, "2024-02-29 00:00:00.000"},
        DateCase{"2024-02-29T13:14:15", SqlType::DateTime, "2024-02-29 13:14:15.000"},
        DateCase{"20240229 13:14", SqlType::DateTime, "2024-02-29 13:14:00.000"},
        DateCase{"29.02.2024 13:14:15", SqlType::DateTime, "2024-02-29 13:14:15.000"},
        DateCase{"02/29/2024 1:14 PM", SqlType::DateTime, "2024-02-29 13:14:00.000"},
        // datetime keeps 1/300 s
        DateCase{"2024-02-29 13:14:15.001", SqlType::DateTime, "2024-02-29 13:14:15.000"},
        DateCase{"2024-02-29 13:14:15.002", SqlType::DateTime, "2024-02-29 13:14:15.003"},
        DateCase{"2024-02-29 13:14:15.005", SqlType::DateTime, "2024-02-29 13:14:15.007"},
        DateCase{"2024-12-31 23:59:59.999", SqlType::DateTime, "2025-01-01 00:00:00.000"},
        DateCase{"2024-02-29 13:14:29", SqlType::SmallDateTime, "2024-02-29 13:14:00"},
        DateCase{"2024-02-29 23:59:30", SqlType::SmallDateTime, "2024-03-01 00:00:00"},
        DateCase{"2024-02-29 13:14:15", SqlType::Date, "2024-02-29"},
        DateCase{"13:14:15.1234567", SqlType::Time, "13:14:15.1234567"},
        DateCase{"2023-02-29", SqlType::DateTime, nullptr},
        DateCase{"2024-13-01", SqlType::DateTime, nullptr},
        DateCase{"25:00:00", SqlType::Time, nullptr},
        DateCase{"Montag", SqlType::DateTime, nullptr},
        DateCase{"2024-02-29 13:14:15 und mehr", SqlType::DateTime, nullptr}));

TEST(Dates, DaysSince1900RoundTrip) {
    const auto p = parseDateTime("2024-02-29 12:00:00");
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(toDays(*p), 45349.5);
    EXPECT_EQ(formatDateTime(fromDays(45349.5), SqlType::DateTime), "2024-02-29 12:00:00.000");
    EXPECT_EQ(formatDateTime(fromDays(-1), SqlType::Date), "1899-12-31");
}

TEST(Text, Utf16UnitsAndCutting) {
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("Grüße"), 5u);
    EXPECT_EQ(utf16Length("€"), 1u);
    EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80"), 2u); // outside the BMP: a surrogate pair
    const std::string s = "äöü€x";
    EXPECT_EQ(s.substr(0, utf8PrefixForUnits(s, 2)), "äö");
    EXPECT_EQ(s.substr(0, utf8PrefixForUnits(s, 4)), "äöü€");
    EXPECT_EQ(utf8PrefixForUnits(s, 99), s.size());
    // A pair is never split.
    const std::string emoji = "a\xF0\x9F\x98\x80";
    EXPECT_EQ(utf8PrefixForUnits(emoji, 2), 1u);
}

TEST(Guids, TextAndBytes) {
    const auto b = guidBytes("6F9619FF-8B86-D011-B42D-00C04FC964FF");
    ASSERT_TRUE(b);
    EXPECT_EQ((*b)[0], 0xFF); // first group little-endian
    EXPECT_EQ((*b)[3], 0x6F);
    EXPECT_EQ((*b)[8], 0xB4); // last groups as written
    EXPECT_EQ(guidText(b->data()), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_TRUE(guidBytes("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));
    EXPECT_FALSE(guidBytes("6F9619FF8B86D011B42D00C04FC964FF"));
    EXPECT_FALSE(guidBytes("6F9619FF-8B86-D011-B42D-00C04FC964FG"));
}

struct LikeCase {
    const char* pattern;
    const char* value;
    bool match;
};

class Like : public ::testing::TestWithParam<LikeCase> {};

TEST_P(Like, Matches) {
    EXPECT_EQ(likeMatch(GetParam().pattern, GetParam().value), GetParam().match)
        << GetParam().pattern << " ~ " << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Like,
    ::testing::Values(LikeCase{"%", "", true}, LikeCase{"a%", "ABC", true},
                      LikeCase{"%c", "abc", true}, LikeCase{"a_c", "abc", true},
                      LikeCase{"a_c", "ac", false}, LikeCase{"%b%", "abc", true},
                      LikeCase{"[a-c]x", "bx", true}, LikeCase{"[a-c]x", "dx", false},
                      LikeCase{"[^a-c]x", "dx", true}, LikeCase{"[_]%", "_a", true},
                      LikeCase{"[_]%", "ba", false}, LikeCase{"[%]", "%", true},
                      LikeCase{"[[]x", "[x", true}, LikeCase{"Mü%", "MÜLLER", true},
                      LikeCase{"%ß%", "Straße", true}, LikeCase{"a%b%c", "aXXbYYc", true},
                      LikeCase{"a%b%c", "aXXcYYb", false}, LikeCase{"[abc", "[abc", true},
                      LikeCase{"sys%", "syscolumns", true}));

struct MapCase {
    const char* sqlite;
    const char* verb;
    int number;
    int severity;
    const char* text;
    bool aborts;
};

class ErrorMapping : public ::testing::TestWithParam<MapCase> {};

TEST_P(ErrorMapping, SqliteTextToSqlServerMessage) {
    ErrorContext ctx;
    ctx.verb = GetParam().verb;
    ctx.table = "Kunden";
    ctx.database = "Musterfirma";
    const MappedError m = mapSqliteError(SQLITE_ERROR, GetParam().sqlite, ctx);
    EXPECT_EQ(m.message.number, GetParam().number) << GetParam().sqlite;
    EXPECT_EQ(m.message.severity, GetParam().severity);
    EXPECT_EQ(m.message.text, GetParam().text);
    EXPECT_EQ(m.abortsBatch, GetParam().aborts);
    EXPECT_EQ(m.message.error, GetParam().severity > 10);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, ErrorMapping,
    ::testing::Values(
        MapCase{"no such table: main.Fehlt", "SELECT", 208, 16, "Invalid object name 'Fehlt'.",
                true},
        MapCase{"no such table: Fehlt", "DROP VIEW", 3701, 11,
                "Cannot drop the view 'Fehlt', because it does not exist or you do not have "
                "permission.",
                false},
        MapCase{"no such column: k.Nummer", "SELECT", 4104, 16,
                "The multi-part identifier \"k.Nummer\" could not be bound.", true},
        MapCase{"near \"FROM\": syntax error", "SELECT", 102, 15, "Incorrect syntax near 'FROM'.",
                true},
        MapCase{"no such function: GIBTSNICHT", "SELECT", 195, 15,
                "'GIBTSNICHT' is not a recognized built-in function name.", true},
        MapCase{"too many columns in result set", "SELECT", 1056, 15,
                "The number of elements in the select list exceeds the maximum allowed number "
                "of 2000 elements.",
                true},
        MapCase{"table \"Kunden\" already exists", "CREATE TABLE", 2714, 16,
                "There is already an object named 'Kunden' in the database.", false},
        MapCase{"NOT NULL constraint failed: Kunden.Firma", "UPDATE", 515, 16,
                "Cannot insert the value NULL into column 'Firma', table 'Musterfirma.dbo.Kunden'; "
                "column does not "
                "allow nulls. UPDATE fails.",
                false},
        MapCase{"CHECK constraint failed: CK_Rabatt", "INSERT", 547, 16,
                "The INSERT statement conflicted with the CHECK constraint \"CK_Rabatt\". The "
                "conflict occurred in "
                "database \"Musterfirma\", table \"dbo.Kunden\".",
                false},
        MapCase{"table Kunden has 3 columns but 2 values were supplied", "INSERT", 213, 16,
                "Column name or number of supplied values does not match table definition.", false},
        // Conversion errors end the batch; division by zero only the statement.
        MapCase{"tds:245:16:Conversion failed.", "SELECT", 245, 16, "Conversion failed.", true},
        MapCase{"tds:8134:16:Divide by zero error encountered.", "SELECT", 8134, 16,
                "Divide by zero error encountered.", false}));

TEST(ErrorMapping, LockedDatabaseIsALockTimeout) {
    const MappedError m = mapSqliteError(SQLITE_BUSY, "database is locked", ErrorContext{});
    EXPECT_EQ(m.message.number, 1222);
    EXPECT_FALSE(m.abortsBatch);
}

} // namespace
