// sql_variant keeps the base type of what is put into it: properties, the
// conversion back, the order of mixed values, and values stored untagged.

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/values.h"
#include "testserver/engine/variant.h"

namespace tds::test {
namespace {

class Variants : public EngineTest {};

TEST_F(Variants, EveryBaseTypeKeepsItsTypeAndProperties) {
    struct Case {
        const char* expr;
        const char* baseType;
        std::int64_t precision, scale, maxLength, totalBytes;
        const char* back; // CAST(v AS nvarchar(100))
    };
    const Case cases[] = {
        {"42", "int", 10, 0, 4, 6, "42"},
        {"CAST(5 AS bigint)", "bigint", 19, 0, 8, 10, "5"},
        {"CAST(7 AS smallint)", "smallint", 5, 0, 2, 4, "7"},
        {"CAST(3 AS tinyint)", "tinyint", 3, 0, 1, 3, "3"},
        {"CAST(1 AS bit)", "bit", 1, 0, 1, 3, "1"},
        {"456.7", "numeric", 4, 1, 5, 9, "456.7"},
        {"CAST(123.456 AS decimal(10,3))", "decimal", 10, 3, 9, 13, "123.456"},
        {"CAST(12.5 AS money)", "money", 19, 4, 8, 10, "12.5000"},
        {"CAST(2.25 AS smallmoney)", "smallmoney", 10, 4, 4, 6, "2.2500"},
        {"1.5e0", "float", 53, 0, 8, 10, "1.5"},
        {"CAST(2.5 AS real)", "real", 24, 0, 4, 6, "2.5"},
        {"CAST('2024-06-03 23:46:03' AS datetime)", "datetime", 23, 3, 8, 10,
         "2024-06-03 23:46:03.000"},
        {"CAST('2024-01-02 03:04' AS smalldatetime)", "smalldatetime", 16, 0, 4, 6,
         "2024-01-02 03:04:00"},
        {"CAST('2024-06-03' AS date)", "date", 10, 0, 3, 5, "2024-06-03"},
        {"CAST('12:34:56.1234567' AS time(7))", "time", 16, 7, 5, 8, "12:34:56.1234567"},
        {"CAST('2024-01-02 03:04:05.12' AS datetime2(2))", "datetime2", 22, 2, 6, 9,
         "2024-01-02 03:04:05.12"},
        {"CAST('2024-01-02 03:04:05 +02:00' AS datetimeoffset(0))", "datetimeoffset", 26, 0, 8, 11,
         "2024-01-02 03:04:05 +02:00"},
        {"'a string'", "varchar", 0, 0, 8, 17, "a string"},
        {"CAST('x' AS char(3))", "char", 0, 0, 3, 12, "x  "},
        {"N'Grüße'", "nvarchar", 0, 0, 10, 19, "Grüße"},
        {"CAST(N'ab' AS nchar(4))", "nchar", 0, 0, 8, 17, "ab  "},
        {"0x0102", "varbinary", 0, 0, 2, 6, nullptr},
        {"CAST(0x0A AS binary(4))", "binary", 0, 0, 4, 8, nullptr},
        {"CAST('0592b437-745f-4b2c-a997-97022c624cf6' AS uniqueidentifier)", "uniqueidentifier", 0,
         0, 16, 18, "0592B437-745F-4B2C-A997-97022C624CF6"},
    };
    rows("CREATE TABLE v (id int, x sql_variant)");
    for (std::size_t k = 0; k < std::size(cases); ++k)
        rows("INSERT INTO v VALUES (" + std::to_string(k) + ", " + cases[k].expr + ")");
    const auto r = rows("SELECT SQL_VARIANT_PROPERTY(x, 'BaseType'), "
                        "SQL_VARIANT_PROPERTY(x, 'Precision'), SQL_VARIANT_PROPERTY(x, 'Scale'), "
                        "SQL_VARIANT_PROPERTY(x, 'MaxLength'), SQL_VARIANT_PROPERTY(x, "
                        "'TotalBytes'), CAST(x AS nvarchar(100)) FROM v ORDER BY id");
    ASSERT_EQ(r.size(), std::size(cases));
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        EXPECT_EQ(text(r[k][0]), c.baseType) << c.expr;
        EXPECT_EQ(integer(r[k][1]), c.precision) << c.expr;
        EXPECT_EQ(integer(r[k][2]), c.scale) << c.expr;
        EXPECT_EQ(integer(r[k][3]), c.maxLength) << c.expr;
        EXPECT_EQ(integer(r[k][4]), c.totalBytes) << c.expr;
        if (c.back) {
            EXPECT_EQ(text(r[k][5]), c.back) << c.expr;
        }
    }
    // The same through a CAST in a query, and through CONVERT.
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(CAST(CAST(1 AS smallint) AS sql_variant), "
                          "'BaseType')")),
              "smallint");
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(CONVERT(sql_variant, GETDATE()), "
                          "'BaseType')")),
              "datetime");
}

TEST_F(Variants, ConvertingBackGivesTheValueAndCollationsStay) {
    rows("CREATE TABLE s (id int, cs varchar(10) COLLATE Latin1_General_CS_AS, x sql_variant, "
         "b varbinary(8))");
    rows("INSERT INTO s (id, cs, b) VALUES (1, 'Abc', 0x00FF10)");
    rows("UPDATE s SET x = CAST(cs AS sql_variant)");
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(x, 'Collation') FROM s")),
              "Latin1_General_CS_AS");
    EXPECT_EQ(integer(scalar("SELECT SQL_VARIANT_PROPERTY(x, 'MaxLength') FROM s")), 10);
    rows("UPDATE s SET x = CAST(b AS sql_variant)");
    EXPECT_EQ(std::get<Blob>(scalar("SELECT CAST(x AS varbinary(8)) FROM s")),
              (Blob{0x00, 0xFF, 0x10}));
    rows("UPDATE s SET x = CAST(456.75 AS sql_variant)");
    EXPECT_EQ(integer(scalar("SELECT CAST(x AS int) FROM s")), 456);
    EXPECT_EQ(text(scalar("SELECT CONVERT(varchar(20), CAST(x AS decimal(6,1))) FROM s")), "456.8");
    EXPECT_TRUE(isNull(scalar("SELECT CAST(CAST(NULL AS int) AS sql_variant)")));
    // A conversion the base type cannot take fails as SQL Server's does.
    rows("UPDATE s SET x = CAST('abc' AS sql_variant)");
    EXPECT_EQ(error("SELECT CAST(x AS int) FROM s").number, 245);
}

TEST_F(Variants, VariablesAndUpdatesKeepTheTypeOfTheirExpression) {
    auto baseOf = [&](const std::string& batch) {
        return text(scalar(batch + " SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType')"));
    };
    EXPECT_EQ(baseOf("DECLARE @v sql_variant = 456.7"), "numeric");
    EXPECT_EQ(baseOf("DECLARE @v sql_variant; SET @v = N'abc'"), "nvarchar");
    EXPECT_EQ(baseOf("DECLARE @d date = '2024-01-01'; DECLARE @v sql_variant; SET @v = @d"),
              "date");
    EXPECT_EQ(baseOf("DECLARE @v sql_variant = CAST(1 AS bit)"), "bit");
    rows("CREATE TABLE u (cs varchar(10) COLLATE Latin1_General_CS_AS, x sql_variant, y int)");
    rows("INSERT INTO u (cs, y) VALUES ('Abc', 1)");
    rows("UPDATE u SET y = 2, x = 5 WHERE y = 1");
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(x, 'BaseType') FROM u")), "int");
    rows("UPDATE u SET x = cs");
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(x, 'Collation') FROM u")),
              "Latin1_General_CS_AS");
    rows("UPDATE u SET x = NULL");
    EXPECT_TRUE(isNull(scalar("SELECT x FROM u")));
    // SELECT @v = column and a scalar subquery keep the column's type.
    rows("CREATE TABLE sv (d decimal(5,2), s varchar(10), dt date)");
    rows("INSERT INTO sv VALUES (1.25, 'abc', '2024-01-02')");
    const auto r = rows("DECLARE @v sql_variant, @w sql_variant, @x sql_variant, @y sql_variant "
                        "SELECT @v = d, @w = s, @x = dt FROM sv SET @y = (SELECT d FROM sv) "
                        "SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType'), SQL_VARIANT_PROPERTY(@w, "
                        "'BaseType'), SQL_VARIANT_PROPERTY(@x, 'BaseType'), "
                        "SQL_VARIANT_PROPERTY(@y, 'Scale')");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(text(r[0][0]), "decimal");
    EXPECT_EQ(text(r[0][1]), "varchar");
    EXPECT_EQ(text(r[0][2]), "date");
    EXPECT_EQ(integer(r[0][3]), 2);
}

TEST_F(Variants, ExpressionsOfSqlVariantAreSqlVariantColumns) {
    rows("CREATE TABLE e (x sql_variant)");
    rows("INSERT INTO e VALUES (5) INSERT INTO e VALUES ('abc')");
    for (const char* q : {"SELECT CAST(5 AS sql_variant)", "DECLARE @v sql_variant = 5; SELECT @v",
                          "SELECT MAX(x) FROM e", "SELECT COALESCE(x, x) FROM e"}) {
        const auto rs = run(q).results();
        ASSERT_EQ(rs.size(), 1u) << q;
        EXPECT_EQ(rs[0].cols[0].type.type, SqlType::SqlVariant) << q;
        EXPECT_EQ(variantOf(rs[0].rows[0][0]).base.type, SqlType::Int) << q;
    }
}

TEST_F(Variants, PuttingAVariantIntoAnotherTypeNeedsAConversion) {
    rows("CREATE TABLE w (i int, x sql_variant)");
    EXPECT_EQ(error("DECLARE @v sql_variant = 5; INSERT INTO w (i) VALUES (@v)").number, 257);
    rows("INSERT INTO w VALUES (1, 7)");
    const auto e = error("UPDATE w SET i = x");
    EXPECT_EQ(e.number, 257);
    EXPECT_EQ(e.text, "Implicit conversion from data type sql_variant to int is not allowed. Use "
                      "the CONVERT function to run this query.");
    rows("UPDATE w SET i = CAST(x AS int) + 1");
    EXPECT_EQ(integer(scalar("SELECT i FROM w")), 8);
    // Every other way into a typed column or variable.
    for (const char* batch :
         {"DECLARE @v sql_variant = 5; DECLARE @i int = @v",
          "DECLARE @v sql_variant = 5; DECLARE @i int; SET @i = @v",
          "DECLARE @i int; SELECT @i = x FROM w", "INSERT INTO w (i) SELECT x FROM w"})
        EXPECT_EQ(error(batch).number, 257) << batch;
    EXPECT_EQ(integer(scalar("DECLARE @i int; SELECT @i = CAST(x AS int) FROM w; SELECT @i")), 7);
}

TEST_F(Variants, TheRowsOfAValuesListShareOneType) {
    rows("CREATE TABLE u (id int, x sql_variant)");
    rows("INSERT INTO u VALUES (1, 1), (2, 2.5), (3, NULL)");
    rows("INSERT INTO u VALUES (4, 'ab'), (5, 'abcde')");
    const auto r = rows("SELECT SQL_VARIANT_PROPERTY(x, 'BaseType'), SQL_VARIANT_PROPERTY(x, "
                        "'Precision'), SQL_VARIANT_PROPERTY(x, 'Scale'), SQL_VARIANT_PROPERTY(x, "
                        "'MaxLength') FROM u ORDER BY id");
    ASSERT_EQ(r.size(), 5u);
    for (int k : {0, 1}) {
        EXPECT_EQ(text(r[k][0]), "numeric");
        EXPECT_EQ(integer(r[k][1]), 11);
        EXPECT_EQ(integer(r[k][2]), 1);
    }
    EXPECT_EQ(integer(r[3][3]), 5);
    EXPECT_EQ(integer(r[4][3]), 5);
    // Text that is no number cannot join numbers.
    EXPECT_EQ(error("INSERT INTO u VALUES (6, 5), (7, 'abc')").number, 245);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM u")), 5);
}

TEST_F(Variants, InsertSelectKeepsTheTypeOfEachItem) {
    rows("CREATE TABLE src (i int, d decimal(6,2), s nvarchar(10))");
    rows("INSERT INTO src VALUES (3, 1.25, N'abc')");
    rows("CREATE TABLE dst (n int, x sql_variant, y sql_variant)");
    rows("INSERT INTO dst (n, x, y) SELECT i, d, s FROM src");
    rows("INSERT INTO dst SELECT i + 1, i * 2, NULL FROM src");
    const auto r = rows("SELECT SQL_VARIANT_PROPERTY(x, 'BaseType'), SQL_VARIANT_PROPERTY(x, "
                        "'Scale'), SQL_VARIANT_PROPERTY(y, 'BaseType') FROM dst ORDER BY n");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(text(r[0][0]), "decimal");
    EXPECT_EQ(integer(r[0][1]), 2);
    EXPECT_EQ(text(r[0][2]), "nvarchar");
    EXPECT_EQ(text(r[1][0]), "int");
    EXPECT_TRUE(isNull(r[1][2]));
}

TEST_F(Variants, OrderByFamilyThenValue) {
    rows("CREATE TABLE o (id int, x sql_variant)");
    rows("INSERT INTO o VALUES (1, CAST('2024-01-01' AS date)), (2, 2.5e0), (3, 10), "
         "(4, CAST(9.5 AS decimal(4,1))), (5, 'zz'), (6, N'aa'), (7, 0x01), "
         "(8, CAST('0592b437-745f-4b2c-a997-97022c624cf6' AS uniqueidentifier)), (9, NULL), "
         "(10, CAST(10 AS bigint))");
    const auto r = rows("SELECT id FROM o ORDER BY x, id");
    std::vector<std::int64_t> ids;
    for (const auto& row : r)
        ids.push_back(integer(row[0]));
    EXPECT_EQ(ids, (std::vector<std::int64_t>{9, 8, 7, 6, 5, 4, 3, 10, 2, 1}));
    // Within a family values compare across base types; across families never equal.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM o WHERE x = CAST(CAST(10 AS tinyint) AS "
                             "sql_variant)")),
              2);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM o WHERE x = CAST('10' AS sql_variant)")), 0);
    // A plain value compared with the column becomes a sql_variant of its own type.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM o WHERE x = 10")), 2);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM o WHERE x = 'zz' OR x = N'aa'")), 2);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM o WHERE x > 9 AND x < 2e0")), 3);
    EXPECT_EQ(integer(scalar("DECLARE @p int = 10; SELECT COUNT(*) FROM o WHERE x <> @p")), 7);
    EXPECT_EQ(integer(scalar("DECLARE @v sql_variant = 10; SELECT CASE WHEN @v = 10 AND @v > 9.5 "
                             "AND @v < 'a' THEN 1 ELSE 0 END")),
              0); // 'a' is character data, below every number
    EXPECT_EQ(integer(scalar("DECLARE @v sql_variant = 10; SELECT CASE WHEN @v = 10 AND @v > 9.5 "
                             "AND @v > 'a' THEN 1 ELSE 0 END")),
              1);
}

TEST_F(Variants, ComparisonsConvertTheOtherSideWhereverTheVariantStands) {
    rows("CREATE TABLE c (id int, a int, x sql_variant)");
    // One INSERT per row: a VALUES list would give all rows one type.
    rows("INSERT INTO c VALUES (1, 4, 5) INSERT INTO c VALUES (2, 9, 'five') INSERT INTO c "
         "VALUES (3, 2, 2.5e0) INSERT INTO c VALUES (4, 1, NULL) INSERT INTO c VALUES (5, 6, "
         "CAST(7 AS bigint))");
    auto count = [&](const std::string& where) {
        return integer(scalar("SELECT COUNT(*) FROM c WHERE " + where));
    };
    EXPECT_EQ(count("5 = x"), 1);
    EXPECT_EQ(count("x = a + 1"), 2); // 4 + 1 and 6 + 1 (bigint 7)
    EXPECT_EQ(count("a + 1 = x AND id = 1"), 1);
    EXPECT_EQ(count("x = (a * 2) - 3"), 1);      // 4*2-3 = 5
    EXPECT_EQ(count("x IN (1, 5, 7)"), 2);       // int 5 and bigint 7
    EXPECT_EQ(count("x NOT IN (5, 'five')"), 2); // NULL is neither in nor out
    EXPECT_EQ(count("x BETWEEN 4 AND 8"), 2);
    EXPECT_EQ(count("x NOT BETWEEN 4 AND 8"), 2); // 'five' and 2.5e0: other families
    EXPECT_EQ(count("x = 'five'"), 1);
    EXPECT_EQ(count("'five' = x AND a = 9"), 1);
    EXPECT_EQ(count("x !< 5 AND x !> 7"), 2);
    EXPECT_EQ(count("(x = 5 OR x = 7) AND NOT x = 5"), 1);
    EXPECT_EQ(count("ISNULL(x, 0) = 0"), 1); // the NULL row
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM (SELECT a FROM c GROUP BY a HAVING MAX(x) = "
                             "5) g")),
              1);
    // A simple CASE compares its WHEN values as sql_variant too.
    const auto r = rows("SELECT CASE x WHEN 5 THEN 'int' WHEN 'five' THEN 'text' "
                        "WHEN CAST(7 AS bigint) THEN 'big' ELSE 'other' END FROM c ORDER BY id");
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(text(r[0][0]), "int");
    EXPECT_EQ(text(r[1][0]), "text");
    EXPECT_EQ(text(r[2][0]), "other");
    EXPECT_EQ(text(r[4][0]), "big");
    // Variables on either side, and two variants of one family but different types.
    EXPECT_EQ(integer(scalar("DECLARE @v sql_variant = 5, @w sql_variant = CAST(5 AS bigint); "
                             "SELECT CASE WHEN 5 = @v AND @v = @w THEN 1 ELSE 0 END")),
              1);
    EXPECT_EQ(text(scalar("DECLARE @v sql_variant = 'x'; IF 'x' = @v SELECT 'yes' ELSE "
                          "SELECT 'no'")),
              "yes");
    // Arithmetic gives the type SQL Server computes: int + numeric is numeric.
    EXPECT_EQ(text(scalar("DECLARE @i int = 1; DECLARE @v sql_variant = @i + 1.5; "
                          "SELECT SQL_VARIANT_PROPERTY(@v, 'BaseType')")),
              "numeric");
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(CAST(a * 2 AS sql_variant), 'BaseType') "
                          "FROM c WHERE id = 1")),
              "int");
}

TEST_F(Variants, OperatorsAndFunctionsNeedAConversionOfAVariant) {
    rows("CREATE TABLE m (x sql_variant, i int)");
    rows("INSERT INTO m VALUES (5, 1)");
    // Next to a number, the variant would have to become that number's type.
    const auto add = error("SELECT x + 1 FROM m");
    EXPECT_EQ(add.number, 257);
    EXPECT_EQ(add.text, "Implicit conversion from data type sql_variant to int is not allowed. "
                        "Use the CONVERT function to run this query.");
    EXPECT_EQ(error("DECLARE @v sql_variant = 5; SELECT 2.5 * @v").text,
              "Implicit conversion from data type sql_variant to numeric is not allowed. Use "
              "the CONVERT function to run this query.");
    EXPECT_EQ(error("UPDATE m SET i = i - x").number, 257);
    // Next to anything else, and with %, the two types do not go together.
    EXPECT_EQ(error("SELECT x + 'a' FROM m").text,
              "The data types sql_variant and varchar are incompatible in the add operator.");
    EXPECT_EQ(error("SELECT 10 % x FROM m").text,
              "The data types int and sql_variant are incompatible in the modulo operator.");
    EXPECT_EQ(error("SELECT x / x FROM m").number, 402);
    const auto minus = error("SELECT -x FROM m");
    EXPECT_EQ(minus.number, 8117);
    EXPECT_EQ(minus.text, "Operand data type sql_variant is invalid for minus operator.");
    EXPECT_EQ(error("SELECT SUM(x) FROM m").text,
              "Operand data type sql_variant is invalid for sum operator.");
    EXPECT_EQ(error("SELECT COUNT(*) FROM m WHERE x LIKE '5%'").text,
              "Argument data type sql_variant is invalid for argument 1 of like function.");
    EXPECT_EQ(error("SELECT LEN(x) FROM m").text,
              "Argument data type sql_variant is invalid for argument 1 of len function.");
    EXPECT_EQ(error("SELECT SUBSTRING('abc', x, 1) FROM m").number, 257);
    EXPECT_EQ(error("SELECT CONCAT('a', x) FROM m").text,
              "Implicit conversion from data type sql_variant to varchar is not allowed. Use the "
              "CONVERT function to run this query.");
    EXPECT_EQ(error("SELECT CONCAT(N'a', x) FROM m").text.substr(0, 62),
              "Implicit conversion from data type sql_variant to nvarchar is ");
    EXPECT_EQ(error("SELECT ABS(x) FROM m").text,
              "Implicit conversion from data type sql_variant to float is not allowed. Use the "
              "CONVERT function to run this query.");
    // What takes any type takes a variant.
    EXPECT_EQ(integer(scalar("SELECT CAST(x AS int) + 1 FROM m")), 6);
    EXPECT_EQ(integer(scalar("SELECT CAST(ISNULL(x, 0) AS int) + DATALENGTH(x) FROM m")), 9);
    EXPECT_EQ(integer(scalar("SELECT COUNT(x) FROM m")), 1);
}

TEST(VariantCodec, TaggedTextRoundTripsAndPlainValuesCountAsTheirStorageClass) {
    ColumnType d;
    d.type = SqlType::Decimal;
    d.precision = 4;
    d.scale = 1;
    const std::string stored = encodeVariant(d, std::string("456.7"), true);
    const auto back = decodeVariant(stored);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->base.type, SqlType::Decimal);
    EXPECT_EQ(back->base.precision, 4);
    EXPECT_EQ(variantBaseName(*back), "numeric");
    EXPECT_EQ(std::get<std::string>(back->value), "456.7");
    ColumnType b;
    b.type = SqlType::VarBinary;
    b.length = 3;
    const auto bin = decodeVariant(encodeVariant(b, Blob{0x00, 0x1F, 0xFF}));
    ASSERT_TRUE(bin);
    EXPECT_EQ(std::get<Blob>(bin->value), (Blob{0x00, 0x1F, 0xFF}));
    EXPECT_FALSE(decodeVariant("plain text"));
    EXPECT_FALSE(decodeVariant("\x1Fnosuchtype\x1F"));
    EXPECT_EQ(variantOf(std::int64_t(5000000000)).base.type, SqlType::BigInt);
    EXPECT_EQ(variantOf(std::string("abc")).base.length, 3);
    // Character data of different collations orders by the collation first.
    ColumnType cs;
    cs.type = SqlType::VarChar;
    cs.length = 5;
    cs.collation = "Latin1_General_CS_AS";
    ColumnType ci = cs;
    ci.collation = "";
    EXPECT_EQ(compareVariants(encodeVariant(ci, std::string("abc")),
                              encodeVariant(ci, std::string("ABC")), sql::compareDateTimeText),
              0);
    EXPECT_NE(compareVariants(encodeVariant(cs, std::string("abc")),
                              encodeVariant(cs, std::string("ABC")), sql::compareDateTimeText),
              0);
}

} // namespace
} // namespace tds::test
