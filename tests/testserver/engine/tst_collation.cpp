// Collations of text columns and COLLATE clauses: equality, order, grouping,
// keys and the catalog follow the collation a column or expression has.

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/collation.h"

namespace tds::test {
namespace {

class Collations : public EngineTest {
protected:
    // The first column of every row of a query, as text.
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> out;
        for (const auto& r : rows(sql))
            out.push_back(isNull(r[0]) ? "NULL" : text(r[0]));
        return out;
    }
};

TEST_F(Collations, DefaultIsCaseInsensitiveAccentSensitiveAndIgnoresTrailingBlanks) {
    rows("CREATE TABLE t (a varchar(20), n nvarchar(20))");
    rows("INSERT INTO t VALUES ('abc', N'Straße')");
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a = 'ABC'")), 1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a = 'abc   '")), 1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a = 'àbc'")), 0);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE n = N'STRAßE'")), 1);
    // An expression collation overrides the column's.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a = 'ABC' COLLATE Latin1_General_BIN")),
              0);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM t WHERE a = 'abc' COLLATE Latin1_General_BIN2")),
              1);
}

TEST_F(Collations, DictionaryOrderPutsUmlautsNextToTheirBaseLetter) {
    rows("CREATE TABLE k (name varchar(40))");
    rows("INSERT INTO k VALUES ('Wiener Würstelstand'), ('Zander'), ('Öko-Markt Süd'), "
         "('apfel'), ('Obst'), ('Ostsee')");
    const std::vector<std::string> expected = {
        "apfel", "Obst", "Öko-Markt Süd", "Ostsee", "Wiener Würstelstand", "Zander"};
    EXPECT_EQ(column("SELECT name FROM k ORDER BY name"), expected);
    EXPECT_EQ(text(scalar("SELECT MAX(name) FROM k")), "Zander");
    EXPECT_EQ(text(scalar("SELECT MIN(name) FROM k")), "apfel");
    // Binary order puts upper case and then the umlaut after every ASCII letter.
    const std::vector<std::string> binary = {"Obst",   "Ostsee", "Wiener Würstelstand",
                                             "Zander", "apfel",  "Öko-Markt Süd"};
    EXPECT_EQ(column("SELECT name FROM k ORDER BY name COLLATE Latin1_General_BIN2"), binary);
}

TEST_F(Collations, GroupingDistinctAndKeysFollowTheColumn) {
    rows("CREATE TABLE g (ci varchar(10), cs varchar(10) COLLATE Latin1_General_CS_AS)");
    rows("INSERT INTO g VALUES ('abc', 'abc'), ('ABC', 'ABC'), ('Abc ', 'abc')");
    EXPECT_EQ(integer(scalar("SELECT COUNT(DISTINCT ci) FROM g")), 1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(DISTINCT cs) FROM g")), 2);
    EXPECT_EQ(rows("SELECT cs, COUNT(*) FROM g GROUP BY cs").size(), 2u);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM g WHERE cs = 'ABC'")), 1);
    // Case-sensitive order: lower case first.
    EXPECT_EQ(column("SELECT DISTINCT cs FROM g ORDER BY cs"),
              (std::vector<std::string>{"abc", "ABC"}));
    // A join compares with the collation of the columns it joins.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM g x JOIN g y ON x.ci = y.ci")), 9);

    rows("CREATE TABLE u (k varchar(10) PRIMARY KEY)");
    rows("INSERT INTO u VALUES ('abc')");
    const Message dup = error("INSERT INTO u VALUES ('ABC')");
    EXPECT_EQ(dup.number, 2627);
    rows("CREATE TABLE u2 (k varchar(10) COLLATE Latin1_General_CS_AS UNIQUE)");
    rows("INSERT INTO u2 VALUES ('abc'), ('ABC')");
    EXPECT_EQ(error("INSERT INTO u2 VALUES ('ABC')").number, 2627);
}

TEST_F(Collations, LikeFollowsTheCollationOfItsOperand) {
    rows("CREATE TABLE l (ci varchar(20), cs varchar(20) COLLATE Latin1_General_CS_AS, "
         "ai nvarchar(20) COLLATE Latin1_General_CI_AI, bin varchar(20) COLLATE "
         "Latin1_General_BIN)");
    rows("INSERT INTO l VALUES ('Abc', 'Abc', N'Crème', 'Abc')");
    auto count = [&](const std::string& where) {
        return integer(scalar("SELECT COUNT(*) FROM l WHERE " + where));
    };
    EXPECT_EQ(count("ci LIKE 'abc'"), 1);
    EXPECT_EQ(count("cs LIKE 'abc'"), 0);
    EXPECT_EQ(count("cs LIKE 'Ab_'"), 1);
    EXPECT_EQ(count("cs NOT LIKE 'a%'"), 1);
    EXPECT_EQ(count("bin LIKE '[a-z]bc'"), 0);
    EXPECT_EQ(count("bin LIKE '[A-Z]bc' AND cs LIKE '%C'"), 0);
    EXPECT_EQ(count("ai LIKE 'creme'"), 1);
    EXPECT_EQ(count("ai LIKE 'CR[e]M_'"), 1);
    EXPECT_EQ(count("ci LIKE 'àbc'"), 0);
    // An escape character still works beside the collation.
    rows("UPDATE l SET cs = 'a%b'");
    EXPECT_EQ(count("cs LIKE 'a!%b' ESCAPE '!'"), 1);
    EXPECT_EQ(count("cs LIKE 'A!%b' ESCAPE '!'"), 0);
    // COLLATE on either side decides.
    EXPECT_EQ(count("ci COLLATE Latin1_General_CS_AS LIKE 'abc'"), 0);
    EXPECT_EQ(count("ci LIKE 'abc' COLLATE Latin1_General_BIN2"), 0);
    EXPECT_EQ(integer(scalar("SELECT CASE WHEN 'Abc' COLLATE Latin1_General_CS_AS LIKE 'a%' "
                             "THEN 1 ELSE 0 END")),
              0);
}

TEST_F(Collations, ComparingColumnsOfDifferentCollationsIsAConflict) {
    rows("CREATE TABLE a (x varchar(10), b varchar(10) COLLATE Latin1_General_BIN)");
    rows("CREATE TABLE b (y varchar(10) COLLATE Latin1_General_CS_AS)");
    rows("INSERT INTO a VALUES ('abc', 'abc')");
    rows("INSERT INTO b VALUES ('ABC')");
    const Message m = error("SELECT * FROM a WHERE x = b");
    EXPECT_EQ(m.number, 468);
    EXPECT_EQ(m.text, "Cannot resolve the collation conflict between "
                      "\"SQL_Latin1_General_CP1_CI_AS\" and \"Latin1_General_BIN\" in the equal "
                      "to operation.");
    EXPECT_EQ(error("SELECT * FROM a JOIN b ON a.x <> b.y").number, 468);
    EXPECT_EQ(error("UPDATE a SET x = 'q' WHERE b < x").number, 468);
    // A COLLATE clause settles it; a column against a literal is no conflict.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM a JOIN b ON a.x = b.y COLLATE "
                             "SQL_Latin1_General_CP1_CI_AS")),
              1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM a JOIN b ON a.x = b.y COLLATE "
                             "Latin1_General_CS_AS")),
              0);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM a WHERE b = 'abc'")), 1);
}

TEST_F(Collations, UnknownNamesAreRefused) {
    EXPECT_EQ(error("CREATE TABLE x (a varchar(5) COLLATE Klingon_CI_AS)").number, 448);
    EXPECT_EQ(error("SELECT 1 WHERE 'a' = 'A' COLLATE Latin1_General_XX").number, 448);
}

TEST_F(Collations, CatalogAndPropertiesReportTheCollation) {
    rows("CREATE TABLE c (r varchar(10) COLLATE cyrillic_general_ci_as, j nvarchar(10) COLLATE "
         "Japanese_CI_AS, d varchar(10), i int)");
    EXPECT_EQ(column("SELECT collation_name FROM sys.columns WHERE object_id = OBJECT_ID('c') "
                     "ORDER BY column_id"),
              (std::vector<std::string>{"Cyrillic_General_CI_AS", "Japanese_CI_AS",
                                        "SQL_Latin1_General_CP1_CI_AS", "NULL"}));
    EXPECT_EQ(integer(scalar("SELECT COLLATIONPROPERTY('Cyrillic_General_CI_AS', 'CodePage')")),
              1251);
    EXPECT_EQ(integer(scalar("SELECT COLLATIONPROPERTY('Japanese_CI_AS', 'LCID')")), 1041);
    EXPECT_EQ(
        integer(scalar("SELECT COLLATIONPROPERTY('Latin1_General_CI_AS', 'ComparisonStyle')")),
        196609);
    EXPECT_EQ(
        integer(scalar("SELECT COLLATIONPROPERTY('Latin1_General_100_CI_AS_SC_UTF8', 'CodePage')")),
        65001);
    EXPECT_TRUE(isNull(scalar("SELECT COLLATIONPROPERTY('Nonsense', 'CodePage')")));
    EXPECT_EQ(text(scalar("SELECT DATABASEPROPERTYEX(DB_NAME(), 'Collation')")),
              "SQL_Latin1_General_CP1_CI_AS");
    // Result columns carry their table column's collation.
    run("SELECT r, j, d FROM c");
    ASSERT_FALSE(sink.results().empty());
    const auto cols = sink.results()[0].cols;
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].type.collation, "Cyrillic_General_CI_AS");
    EXPECT_EQ(cols[1].type.collation, "Japanese_CI_AS");
    EXPECT_EQ(cols[2].type.collation, "SQL_Latin1_General_CP1_CI_AS");
}

TEST_F(Collations, VariantPropertiesFollowTheStoredValue) {
    rows("CREATE TABLE v (id int, x sql_variant)");
    rows("INSERT INTO v VALUES (1, 42), (2, 5000000000), (3, 1.5e0), (4, N'Grüße'), "
         "(5, 0x0102), (6, NULL)");
    const auto r = rows("SELECT SQL_VARIANT_PROPERTY(x, 'BaseType'), "
                        "SQL_VARIANT_PROPERTY(x, 'Precision'), SQL_VARIANT_PROPERTY(x, "
                        "'MaxLength') FROM v ORDER BY id");
    ASSERT_EQ(r.size(), 6u);
    // A literal beyond int is numeric(10,0), as SQL Server types it.
    const char* base[] = {"int", "numeric", "float", "nvarchar", "varbinary"};
    const std::int64_t precision[] = {10, 10, 53, 0, 0};
    const std::int64_t maxLength[] = {4, 9, 8, 10, 2};
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(text(r[k][0]), base[k]) << k;
        EXPECT_EQ(integer(r[k][1]), precision[k]) << k;
        EXPECT_EQ(integer(r[k][2]), maxLength[k]) << k;
    }
    EXPECT_EQ(text(scalar("SELECT SQL_VARIANT_PROPERTY(x, 'Collation') FROM v WHERE id = 4")),
              "SQL_Latin1_General_CP1_CI_AS");
    EXPECT_TRUE(isNull(r[5][0]));
}

TEST_F(Collations, VarcharStoresWhatItsCodePageHolds) {
    rows("CREATE TABLE cp (id int, l varchar(10), c varchar(10) COLLATE Cyrillic_General_CI_AS, "
         "u varchar(12) COLLATE Latin1_General_100_CI_AS_SC_UTF8, n nvarchar(10), "
         "t text, ch char(8))");
    rows("INSERT INTO cp VALUES (1, N'Привет', N'Привет', N'Привет', N'Привет', N'Привет', "
         "N'Ж')");
    auto row = [&](const std::string& select) { return rows(select + " FROM cp WHERE id = 1")[0]; };
    const auto r = row("SELECT l, c, u, n, t, ch, LEN(l), DATALENGTH(c)");
    EXPECT_EQ(text(r[0]), "??????");
    EXPECT_EQ(text(r[1]), "Привет");
    EXPECT_EQ(text(r[2]), "Привет");
    EXPECT_EQ(text(r[3]), "Привет");
    EXPECT_EQ(text(r[4]), "??????");
    EXPECT_EQ(text(r[5]), "?       ");
    EXPECT_EQ(integer(r[6]), 6);
    // Later comparisons see the '?' too.
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM cp WHERE l = '?????"
                             "?' AND c = N'привет'")),
              1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM cp WHERE l = N'Привет'")), 0);
    // UPDATE and INSERT ... SELECT store the same way.
    rows("UPDATE cp SET l = N'Grüße Ж', c = N'Grüße Ж' WHERE id = 1");
    EXPECT_EQ(text(row("SELECT l")[0]), "Grüße ?");
    EXPECT_EQ(text(row("SELECT c")[0]), "Gr??e Ж");
    rows("INSERT INTO cp (id, l) SELECT 2, n FROM cp WHERE id = 1");
    EXPECT_EQ(text(scalar("SELECT l FROM cp WHERE id = 2")), "??????");
    // A UTF-8 varchar(n) counts bytes: seven Cyrillic letters are fourteen.
    EXPECT_EQ(error("INSERT INTO cp (id, u) VALUES (3, N'Приветы')").number, 8152);
    EXPECT_EQ(error("UPDATE cp SET u = N'Приветы'").number, 8152);
    rows("INSERT INTO cp (id, u) VALUES (3, N'abcdefghijkl')");
    // Variables and conversions of varchar take the database's code page.
    EXPECT_EQ(text(scalar("DECLARE @v varchar(10) = N'Привет'; SELECT @v")), "??????");
    EXPECT_EQ(text(scalar("SELECT CAST(N'日本' AS varchar(10))")), "??");
    EXPECT_EQ(text(scalar("SELECT CAST(N'日本' AS nvarchar(10))")), "日本");
}

TEST(CollationNames, BytesCodePagesAndComparison) {
    using namespace sql;
    struct Case {
        const char* name;
        std::array<std::uint8_t, 5> bytes;
        int codePage;
    };
    // LCID (20 bits), flags (case, accent, kana, width, bin, bin2, utf8),
    // version (4 bits), sort id.
    const Case cases[] = {
        {"SQL_Latin1_General_CP1_CI_AS", {0x09, 0x04, 0xD0, 0x00, 0x34}, 1252},
        {"Latin1_General_CI_AS", {0x09, 0x04, 0xD0, 0x00, 0x00}, 1252},
        {"Latin1_General_CS_AS", {0x09, 0x04, 0xC0, 0x00, 0x00}, 1252},
        {"Latin1_General_BIN", {0x09, 0x04, 0x00, 0x01, 0x00}, 1252},
        {"Latin1_General_BIN2", {0x09, 0x04, 0x00, 0x02, 0x00}, 1252},
        {"Cyrillic_General_CI_AS", {0x19, 0x04, 0xD0, 0x00, 0x00}, 1251},
        {"Japanese_CI_AS", {0x11, 0x04, 0xD0, 0x00, 0x00}, 932},
        {"Latin1_General_100_CI_AS_SC_UTF8", {0x09, 0x04, 0xD0, 0x24, 0x00}, 65001},
    };
    for (const Case& c : cases) {
        const Collation* coll = findCollation(c.name);
        ASSERT_NE(coll, nullptr) << c.name;
        EXPECT_EQ(coll->name, c.name);
        EXPECT_EQ(coll->bytes(), c.bytes) << c.name;
        EXPECT_EQ(coll->codePage, c.codePage) << c.name;
        EXPECT_EQ(codePageOfBytes(c.bytes.data()), c.codePage) << c.name;
        EXPECT_EQ(collationOfBytes(c.bytes.data()), coll) << c.name;
    }
    EXPECT_EQ(findCollation("latin1_general_ci_as"), findCollation("Latin1_General_CI_AS"));
    EXPECT_EQ(findCollation("Latin1_General_CI_AS_UTF8"), nullptr); // UTF-8 needs _100 and up
    EXPECT_EQ(findCollation("Latin1_General"), nullptr);

    const Collation& ci = *findCollation("Latin1_General_CI_AS");
    const Collation& cs = *findCollation("Latin1_General_CS_AS");
    const Collation& ai = *findCollation("Latin1_General_CI_AI");
    EXPECT_EQ(compareText(ci, "abc", "ABC  "), 0);
    EXPECT_LT(compareText(cs, "abc", "ABC"), 0);
    EXPECT_NE(compareText(ci, "resume", "résumé"), 0);
    EXPECT_EQ(compareText(ai, "resume", "RÉSUMÉ"), 0);
    EXPECT_LT(compareText(ci, "Obst", "Öko"), 0);
    EXPECT_LT(compareText(ci, "Öko", "Ostsee"), 0);
}

TEST(CollationNames, CodePageConversion) {
    using namespace sql;
    EXPECT_EQ(encodeCodePage("Привет", 1251), "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(encodeCodePage("日本語", 932), "\x93\xFA\x96\x7B\x8C\xEA");
    EXPECT_EQ(encodeCodePage("Grüße €", 1252), "Gr\xFC\xDF\x65 \x80");
    // What the code page cannot hold becomes '?'.
    EXPECT_EQ(encodeCodePage("Ж日", 1252), "??");
    EXPECT_EQ(encodeCodePage("ä", 1251), "?");
    EXPECT_EQ(encodeCodePage("日本", kCodePageUtf8), "日本");
    EXPECT_EQ(decodeCodePage("\x93\xFA\x96\x7B", 932), "日本");
    EXPECT_EQ(decodeCodePage("\xCF\xF0", 1251), "Пр");
    EXPECT_TRUE(codePageHolds("Ёлка", 1251));
    EXPECT_FALSE(codePageHolds("Ёлка ä", 1251));
}

} // namespace
} // namespace tds::test
