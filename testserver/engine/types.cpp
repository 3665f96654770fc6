#include "testserver/engine/types.h"

#include "testserver/engine/lexer.h"
#include "testserver/engine/udt.h"
#include "testserver/engine/variant.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace tds::sql {

namespace {

struct Parsed {
    std::string base;      // lower case, single blanks between words
    std::vector<int> args; // -1 for max
};

Parsed splitDecl(std::string_view decl) {
    Parsed p;
    std::size_t i = 0;
    const std::size_t n = decl.size();
    // Base name: words up to '('.
    while (i < n && decl[i] != '(') {
        const char c = decl[i++];
        if (std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '[' || c == ']') {
            if (!p.base.empty() && p.base.back() != ' ')
                p.base += ' ';
        } else {
            p.base += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    while (!p.base.empty() && p.base.back() == ' ')
        p.base.pop_back();
    if (i < n && decl[i] == '(') {
        ++i;
        std::string cur;
        auto flush = [&] {
            std::string t;
            for (char c : cur)
                if (!std::isspace(static_cast<unsigned char>(c)))
                    t += c;
            if (iequals(t, "max"))
                p.args.push_back(-1);
            else if (!t.empty())
                p.args.push_back(std::atoi(t.c_str()));
            cur.clear();
        };
        while (i < n && decl[i] != ')') {
            if (decl[i] == ',')
                flush();
            else
                cur += decl[i];
            ++i;
        }
        flush();
    }
    return p;
}

ColumnType make(SqlType t, int length = 0, int precision = 0, int scale = 0) {
    ColumnType c;
    c.type = t;
    c.length = length;
    c.precision = precision;
    c.scale = scale;
    return c;
}

} // namespace

std::optional<ColumnType> parseDeclType(std::string_view decl) {
    Parsed p = splitDecl(decl);
    if (p.base.empty())
        return std::nullopt;
    // The storage spelling of exact numerics: "decimal text(10,2)".
    if (p.base.size() > 5 && p.base.ends_with(" text")) {
        const std::string name = p.base.substr(0, p.base.size() - 5);
        if (name == "decimal" || name == "numeric" || name == "money" || name == "smallmoney")
            p.base = name;
    }
    const std::string& b = p.base;
    auto arg = [&](std::size_t i, int def) { return i < p.args.size() ? p.args[i] : def; };
    auto chars = [&](SqlType t) { return make(t, arg(0, 1)); };

    if (b == "int" || b == "integer")
        return make(SqlType::Int);
    if (b == "bigint")
        return make(SqlType::BigInt);
    if (b == "smallint")
        return make(SqlType::SmallInt);
    if (b == "tinyint")
        return make(SqlType::TinyInt);
    if (b == "bit" || b == "boolean")
        return make(SqlType::Bit);
    if (b == "float") {
        // float(1..24) is a real, as in SQL Server.
        if (!p.args.empty() && p.args[0] > 0 && p.args[0] <= 24)
            return make(SqlType::Real);
        return make(SqlType::Float);
    }
    if (b == "double" || b == "double precision")
        return make(SqlType::Float);
    if (b == "real")
        return make(SqlType::Real);
    if (b == "money")
        return make(SqlType::Money, 0, 19, 4);
    if (b == "smallmoney")
        return make(SqlType::SmallMoney, 0, 10, 4);
    if (b == "decimal" || b == "numeric" || b == "dec" || b == "num")
        return make(SqlType::Decimal, 0, arg(0, 18), arg(1, 0));
    if (b == "datetime")
        return make(SqlType::DateTime);
    if (b == "datetime2")
        return make(SqlType::DateTime2, 0, 0, std::clamp(arg(0, 7), 0, 7));
    if (b == "smalldatetime")
        return make(SqlType::SmallDateTime);
    if (b == "date")
        return make(SqlType::Date);
    if (b == "time")
        return make(SqlType::Time, 0, 0, std::clamp(arg(0, 7), 0, 7));
    if (b == "datetimeoffset")
        return make(SqlType::DateTimeOffset, 0, 0, std::clamp(arg(0, 7), 0, 7));
    if (b == "char" || b == "character")
        return chars(SqlType::Char);
    if (b == "varchar" || b == "char varying" || b == "character varying")
        return chars(SqlType::VarChar);
    if (b == "nchar" || b == "national char" || b == "national character")
        return chars(SqlType::NChar);
    if (b == "nvarchar" || b == "national char varying" || b == "national character varying")
        return chars(SqlType::NVarChar);
    if (b == "sysname")
        return make(SqlType::NVarChar, 128);
    if (b == "text")
        return make(SqlType::Text, -1);
    if (b == "ntext" || b == "national text")
        return make(SqlType::NText, -1);
    if (b == "xml")
        return make(SqlType::Xml, -1);
    if (b == "clob")
        return make(SqlType::NVarChar, -1);
    if (b == "image")
        return make(SqlType::Image, -1);
    if (b == "binary")
        return chars(SqlType::Binary);
    if (b == "varbinary" || b == "binary varying")
        return chars(SqlType::VarBinary);
    if (b == "blob")
        return make(SqlType::VarBinary, -1);
    if (b == "timestamp" || b == "rowversion") {
        ColumnType c = make(SqlType::Binary, 8);
        c.rowVersion = true;
        c.nullable = false;
        return c;
    }
    if (b == "uniqueidentifier")
        return make(SqlType::UniqueIdentifier, 16);
    if (b == "sql_variant")
        return make(SqlType::SqlVariant, 8016);
    if (const auto kind = udt::kindOf(b)) {
        ColumnType c = make(SqlType::Udt, udt::maxByteSize(*kind));
        c.udt = *kind;
        return c;
    }
    return std::nullopt;
}

std::optional<std::pair<int, int>> exactDecimalLiteral(std::string_view s) {
    int integerDigits = 0, scale = 0, significant = 0; // integer digits without leading zeros
    bool point = false;
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            if (significant > 0 || c != '0')
                ++significant;
            if (point)
                ++scale;
            else if (integerDigits > 0 || c != '0')
                ++integerDigits;
        } else {
            return std::nullopt; // exponent forms stay floats, as in T-SQL
        }
    }
    const bool fitsInteger =
        !point && (integerDigits < 19 ||
                   (integerDigits == 19 && s.size() == 19 && s <= "9223372036854775807"));
    if (significant <= 15 || fitsInteger || integerDigits + scale > 38)
        return std::nullopt;
    return std::pair{integerDigits + scale, scale};
}

std::string baseTypeName(SqlType t) {
    switch (t) {
    case SqlType::Int:
        return "int";
    case SqlType::BigInt:
        return "bigint";
    case SqlType::SmallInt:
        return "smallint";
    case SqlType::TinyInt:
        return "tinyint";
    case SqlType::Bit:
        return "bit";
    case SqlType::Float:
        return "float";
    case SqlType::Real:
        return "real";
    case SqlType::Money:
        return "money";
    case SqlType::SmallMoney:
        return "smallmoney";
    case SqlType::Decimal:
        return "decimal";
    case SqlType::DateTime:
        return "datetime";
    case SqlType::SmallDateTime:
        return "smalldatetime";
    case SqlType::Date:
        return "date";
    case SqlType::Time:
        return "time";
    case SqlType::Char:
        return "char";
    case SqlType::VarChar:
        return "varchar";
    case SqlType::NChar:
        return "nchar";
    case SqlType::NVarChar:
        return "nvarchar";
    case SqlType::Text:
        return "text";
    case SqlType::NText:
        return "ntext";
    case SqlType::Image:
        return "image";
    case SqlType::Binary:
        return "binary";
    case SqlType::VarBinary:
        return "varbinary";
    case SqlType::UniqueIdentifier:
        return "uniqueidentifier";
    case SqlType::SqlVariant:
        return "sql_variant";
    case SqlType::DateTimeOffset:
        return "datetimeoffset";
    case SqlType::DateTime2:
        return "datetime2";
    case SqlType::Xml:
        return "xml";
    case SqlType::Udt:
        return "varbinary"; // the name of a CLR type is its kind's: typeName()
    }
    return "sql_variant";
}

std::string dataTypeName(const ColumnType& t) {
    return t.type == SqlType::Udt ? std::string(udt::typeName(t.udt)) : baseTypeName(t.type);
}

std::string typeName(const ColumnType& t) {
    if (t.rowVersion)
        return "timestamp";
    if (t.type == SqlType::Udt)
        return std::string(udt::typeName(t.udt));
    std::string b = baseTypeName(t.type);
    switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
        return b + "(" + (t.length < 0 ? std::string("max") : std::to_string(t.length)) + ")";
    case SqlType::Decimal:
        return b + "(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        return b + "(" + std::to_string(t.scale) + ")";
    default:
        return b;
    }
}

std::string declTypeText(const ColumnType& t) {
    std::string s = typeName(t);
    if (const auto p = s.find("(max)"); p != std::string::npos)
        s.replace(p, 5, "(-1)");
    if (isExactNumericType(t.type))
        s.insert(baseTypeName(t.type).size(), " text");
    return s;
}

std::string storageDeclType(const std::string& declared) {
    const auto t = parseDeclType(declared);
    return t && isExactNumericType(t->type) ? declTypeText(*t) : declared;
}

const char* storageCollation(const ColumnType& t) {
    if (isExactNumericType(t.type))
        return kDecimalCollation;
    switch (t.type) {
    case SqlType::DateTime:
    case SqlType::SmallDateTime:
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        return kDateTimeCollation;
    case SqlType::SqlVariant:
        return kVariantCollation; // tagged values compare by family, then value
    default:
        return nullptr;
    }
}

bool isTextType(SqlType t) {
    return t == SqlType::Char || t == SqlType::VarChar || t == SqlType::NChar ||
           t == SqlType::NVarChar || t == SqlType::Text || t == SqlType::NText || t == SqlType::Xml;
}

bool isExactNumericType(SqlType t) {
    return t == SqlType::Decimal || t == SqlType::Money || t == SqlType::SmallMoney;
}

bool isNationalType(SqlType t) {
    return t == SqlType::NChar || t == SqlType::NVarChar || t == SqlType::NText ||
           t == SqlType::Xml;
}

bool isBinaryType(SqlType t) {
    return t == SqlType::Binary || t == SqlType::VarBinary || t == SqlType::Image;
}

bool isIntegerType(SqlType t) {
    return t == SqlType::Int || t == SqlType::BigInt || t == SqlType::SmallInt ||
           t == SqlType::TinyInt || t == SqlType::Bit;
}

OdbcTypeInfo odbcTypeInfo(const ColumnType& t, int odbcVersion) {
    constexpr int maxLen = 2147483647;
    const bool v3 = odbcVersion >= 3;
    OdbcTypeInfo o;
    auto exact = [&](int dt, int prec, int len, int ss) {
        o.dataType = dt;
        o.precision = prec;
        o.length = len;
        o.scale = 0;
        o.radix = 10;
        o.sqlDataType = dt;
        o.ssDataType = ss;
    };
    auto chars = [&](int dt, int bytesPerChar, int ss) {
        const int n = t.length < 0 ? (bytesPerChar == 2 ? maxLen / 2 : maxLen) : t.length;
        o.dataType = dt;
        o.precision = n;
        o.length = t.length < 0 ? maxLen : n * bytesPerChar;
        o.sqlDataType = dt;
        o.charOctetLength = o.length;
        o.ssDataType = ss;
    };
    auto datetime = [&](int sub, int prec, int len, int scale, int ss) {
        o.dataType = v3 ? 90 + sub : 8 + sub;
        o.precision = prec;
        o.length = len;
        o.scale = scale;
        o.sqlDataType = 9;
        o.datetimeSub = sub;
        o.ssDataType = ss;
    };
    switch (t.type) {
    case SqlType::Int:
        exact(4, 10, 4, 56);
        break;
    case SqlType::BigInt:
        exact(-5, 19, 8, 63);
        break;
    case SqlType::SmallInt:
        exact(5, 5, 2, 52);
        break;
    case SqlType::TinyInt:
        exact(-6, 3, 1, 48);
        break;
    case SqlType::Bit:
        exact(-7, 1, 1, 50);
        o.radix.reset();
        break;
    case SqlType::Float:
        exact(6, 15, 8, 62);
        o.scale.reset();
        break;
    case SqlType::Real:
        exact(7, 7, 4, 59);
        o.scale.reset();
        break;
    case SqlType::Money:
        exact(3, 19, 21, 60);
        o.scale = 4;
        break;
    case SqlType::SmallMoney:
        exact(3, 10, 12, 122);
        o.scale = 4;
        break;
    case SqlType::Decimal:
        exact(3, t.precision, t.precision + 2, 55);
        o.scale = t.scale;
        break;
    case SqlType::DateTime:
        datetime(3, 23, 16, 3, 61);
        break;
    case SqlType::SmallDateTime:
        datetime(3, 16, 16, 0, 58);
        break;
    case SqlType::Date:
        datetime(1, 10, 6, 0, 0);
        o.scale.reset();
        break;
    case SqlType::Time:
        o.dataType = -154;
        o.precision = t.scale > 0 ? 9 + t.scale : 8;
        o.length = 12;
        o.scale = t.scale;
        o.sqlDataType = -154;
        o.datetimeSub = 0;
        break;
    case SqlType::Char:
        chars(1, 1, 47);
        break;
    case SqlType::VarChar:
        chars(12, 1, 39);
        break;
    case SqlType::NChar:
        chars(-8, 2, 47);
        break;
    case SqlType::NVarChar:
        chars(-9, 2, 39);
        break;
    case SqlType::Text:
        chars(-1, 1, 35);
        o.precision = maxLen;
        break;
    case SqlType::NText:
        chars(-10, 2, 35);
        o.precision = maxLen / 2;
        o.length = maxLen - 1;
        o.charOctetLength = o.length;
        break;
    case SqlType::Image:
        chars(-4, 1, 34);
        o.precision = maxLen;
        o.charOctetLength.reset();
        break;
    case SqlType::Binary:
        chars(-2, 1, 45);
        o.charOctetLength.reset();
        break;
    case SqlType::VarBinary:
        chars(-3, 1, 37);
        o.charOctetLength.reset();
        break;
    case SqlType::UniqueIdentifier:
        o.dataType = -11;
        o.precision = 36;
        o.length = 16;
        o.sqlDataType = -11;
        o.ssDataType = 0;
        break;
    case SqlType::DateTimeOffset:
        o.dataType = -155; // SQL_SS_TIMESTAMPOFFSET
        o.precision = t.scale > 0 ? 27 + t.scale : 26;
        o.length = 20;
        o.scale = t.scale;
        o.sqlDataType = -155;
        break;
    case SqlType::DateTime2:
        datetime(3, t.scale > 0 ? 20 + t.scale : 19, 16, t.scale, 0);
        break;
    case SqlType::Xml:
        chars(-152, 2, 35); // SQL_SS_XML
        o.precision = 0;
        o.length = 0;
        o.charOctetLength = 0;
        break;
    case SqlType::SqlVariant:
        o.dataType = -150;
        o.precision = 8000;
        o.length = 8000;
        o.sqlDataType = -150;
        o.ssDataType = 39;
        break;
    case SqlType::Udt:
        // Catalog calls describe CLR types as the binary values they travel as.
        if (t.length < 0) {
            chars(-4, 1, 34);
            o.precision = maxLen;
        } else {
            chars(-3, 1, 37);
        }
        o.charOctetLength.reset();
        break;
    }
    return o;
}

} // namespace tds::sql
