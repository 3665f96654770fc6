#pragma once
// SQL Server collations: the names COLLATE accepts, the five bytes TDS
// describes them with (LCID, comparison flags, version, sort id), the code
// page their varchar data travels in, and the comparison SQLite runs for
// them. A column's collation is kept in SQLite's schema under its SQL Server
// name; every connection resolves such names through
// registerCollations(), so ORDER BY, GROUP BY, DISTINCT, indexes and
// comparisons follow it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace tds::sql {

// TDS ColFlags, least significant bit first.
enum CollationFlag : std::uint8_t {
    IgnoreCase = 0x01,
    IgnoreAccent = 0x02,
    IgnoreKana = 0x04,
    IgnoreWidth = 0x08,
    BinarySort = 0x10,
    BinarySort2 = 0x20,
    Utf8Data = 0x40,
};

inline constexpr int kCodePageUtf8 = 65001;

struct Collation {
    std::string name; // as SQL Server spells it
    std::uint32_t lcid = 0x0409;
    std::uint8_t flags = 0;
    std::uint8_t version = 0; // 0 = 80 collations, 1 = _90, 2 = _100, 3 = _140
    std::uint8_t sortId = 0;  // non-zero for SQL collations
    int codePage = 1252;      // of varchar data; kCodePageUtf8 for _UTF8
    std::string locale;       // the ICU locale whose dictionary order it follows

    bool binary() const { return (flags & (BinarySort | BinarySort2)) != 0; }
    bool caseSensitive() const { return !binary() && !(flags & IgnoreCase); }
    bool accentSensitive() const { return !binary() && !(flags & IgnoreAccent); }
    // The COLLATION field of TYPE_INFO, ENVCHANGE 7 and sql_variant values.
    std::array<std::uint8_t, 5> bytes() const;
    // COLLATIONPROPERTY(name, 'ComparisonStyle').
    std::int64_t comparisonStyle() const;
};

inline constexpr const char* kDefaultCollationName = "SQL_Latin1_General_CP1_CI_AS";

// The collation of that name (case-insensitive), nullptr for one SQL Server
// does not have or this server does not know. The pointer stays valid.
const Collation* findCollation(std::string_view name);
// The server's and every database's collation, SQL_Latin1_General_CP1_CI_AS.
const Collation& defaultCollation();
// The collation a column declared with SQLite collation `sqliteName` has: a
// SQL Server name as such, anything else (NOCASE, BINARY, none) the default.
const Collation& columnCollation(const char* sqliteName);
// The code page five collation bytes name (from a client's parameter).
int codePageOfBytes(const std::uint8_t bytes[5]);
// The collation five collation bytes name; nullptr for one this server does not know.
const Collation* collationOfBytes(const std::uint8_t bytes[5]);

// <0, 0, >0 as the collation orders two UTF-8 texts; trailing blanks do not
// count, as SQL Server pads the shorter operand.
int compareText(const Collation& c, std::string_view a, std::string_view b);

// LIKE under a collation other than the default: the translated statement
// hands like() the collation's name and this mark in front of the escape
// character ("Latin1_General_CS_AS\x01!").
inline constexpr char kLikeCollationMark = '\x01';

// Whether two characters (UTF-8, one each) are the same under the collation,
// and whether `c` sorts within [lo, hi], as LIKE's '_', '[a-z]' compare.
bool sameCharacter(const Collation& c, std::string_view a, std::string_view b);
bool characterInRange(const Collation& c, std::string_view ch, std::string_view lo,
                      std::string_view hi);

// Makes every SQL Server collation name usable as a SQLite collation on `db`.
void registerCollations(sqlite3* db);

// UTF-8 text in code page `codePage` (1252, 1251, 932, ..., 65001 = UTF-8);
// characters the code page lacks become '?', as SQL Server converts them.
std::string encodeCodePage(std::string_view utf8, int codePage);
// The UTF-8 form of text in a code page.
std::string decodeCodePage(std::string_view bytes, int codePage);
// Whether the code page holds every character of the UTF-8 text.
bool codePageHolds(std::string_view utf8, int codePage);
// The text as a code page keeps it: characters it cannot hold become '?'.
std::string throughCodePage(std::string_view utf8, int codePage);
// The code page of a column's or value's collation (empty: the server's).
int codePageOf(const std::string& collation);

} // namespace tds::sql
