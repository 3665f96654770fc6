#pragma once
// sql_variant values as the engine keeps them: SQLite has no place for a
// value's SQL Server type, so a value put into a sql_variant becomes text
// that carries its base type, length, precision, scale and collation ahead of
// the value ("\x1F" fields). Such text survives tables, variables and
// parameters; the functions that look into a sql_variant (CAST/CONVERT,
// SQL_VARIANT_PROPERTY, the wire encoding, comparisons) decode it. A plain
// value found where a sql_variant is expected (one stored before, or put in
// without a conversion) counts as the type of its storage class.

#include "testserver/engine/engine.h"

#include <optional>
#include <string>
#include <string_view>

namespace tds {

struct VariantValue {
    ColumnType base; // type, length (chars of text, bytes of binary), precision, scale, collation
    Value value;     // as the engine holds values of that type
    bool numeric = false; // a decimal that SQL Server names numeric (literals, CAST AS numeric)
};

// Whether `base` can be the base type of a sql_variant (no max types, text,
// image, xml, CLR types or sql_variant itself).
bool variantCanHold(const ColumnType& base);
// The tagged text of a value of type `base`; the value should already be of
// that type (see convertValue).
std::string encodeVariant(const ColumnType& base, const Value& value, bool numeric = false);
// The base type and value of tagged text; nothing for anything else.
std::optional<VariantValue> decodeVariant(std::string_view stored);
bool isTaggedVariant(std::string_view stored);
// What a stored sql_variant holds: a tagged value decoded, a plain value as
// its storage class (int or bigint, float, nvarchar, varbinary).
VariantValue variantOf(const Value& stored);
// The name SQL_VARIANT_PROPERTY(v, 'BaseType') gives: "int", "nvarchar", ...
std::string variantBaseName(const VariantValue& v);

// SQL_VARIANT_PROPERTY's numbers for a base type.
struct VariantProperties {
    int precision = 0;
    int scale = 0;
    int maxLength = 0;  // bytes of the declared type
    int totalBytes = 0; // base type byte, property bytes and value bytes on the wire
    int dataBytes = 0;  // the value's own bytes (DATALENGTH)
};
VariantProperties variantProperties(const VariantValue& v);

// The order of two stored sql_variant values: values of different type
// families by family (date and time above approximate numerics above exact
// numerics above character data above binary, uniqueidentifier lowest), then
// by value within the family; `compareMoments` orders two date/time texts.
// <0, 0, >0.
int compareVariants(std::string_view a, std::string_view b,
                    int (*compareMoments)(std::string_view, std::string_view));
// The SQLite collation sql_variant columns are stored with.
inline constexpr const char* kVariantCollation = "tds_variant";

} // namespace tds
