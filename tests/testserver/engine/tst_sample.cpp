// The sample database and the big table.

#include "tests/testserver/engine/engine_fixture.h"

#include <cstring>

using namespace tds;
using namespace tds::test;

namespace {

class Sample : public EngineTest {
protected:
    void SetUp() override {
        createSampleDatabase(dir.path());
        EngineTest::SetUp();
        run("USE Musterfirma");
        ASSERT_TRUE(sink.errors().empty());
    }
};

TEST_F(Sample, TablesHaveTheirRowsAndKeysHold) {
    struct Count {
        const char* table;
        std::int64_t rows;
    };
    for (const Count& c :
         {Count{"Kunden", 12}, Count{"Lieferanten", 5}, Count{"Mitarbeiter", 6},
          Count{"Artikel", 12}, Count{"Bestellungen", 30}, Count{"Bilder", 7},
          Count{"[Spezial]]Tabelle]", 2}, Count{"Typen", 3}, Count{"Bestelluebersicht", 30}})
        EXPECT_EQ(integer(scalar(std::string("SELECT COUNT(*) FROM ") + c.table)), c.rows)
            << c.table;
    EXPECT_GT(integer(scalar("SELECT COUNT(*) FROM Positionen")), 30);
    // Every order's items point at existing orders and articles.
    EXPECT_EQ(
        integer(scalar(
            "SELECT COUNT(*) FROM Positionen p LEFT JOIN Artikel a ON a.ArtikelNr = p.ArtikelNr "
            "WHERE a.ArtikelNr IS NULL")),
        0);
}

TEST_F(Sample, UmlautsRoundTrip) {
    EXPECT_EQ(text(scalar("SELECT Firma FROM Kunden WHERE KundenNr = 1")), "Müller & Söhne OHG");
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM Kunden WHERE Ort = N'Düsseldorf'")), 1);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM Kunden WHERE Firma LIKE N'%söhne%'")), 1);
}

TEST_F(Sample, PicturesAreBitmapsExceptTwo) {
    const auto r = rows("SELECT BildNr, Bild, Beschreibung FROM Bilder ORDER BY BildNr");
    ASSERT_EQ(r.size(), 7u);
    int bitmaps = 0, others = 0, nulls = 0;
    for (const auto& row : r) {
        if (isNull(row[1])) {
            ++nulls;
            continue;
        }
        const Blob& b = std::get<Blob>(row[1]);
        if (b.size() > 54 && b[0] == 'B' && b[1] == 'M') {
            std::uint32_t size = 0, width = 0, height = 0;
            std::memcpy(&size, &b[2], 4);
            std::memcpy(&width, &b[18], 4);
            std::memcpy(&height, &b[22], 4);
            EXPECT_EQ(size, b.size());
            EXPECT_EQ(b.size(), 54 + ((width * 3 + 3) & ~3u) * height);
            EXPECT_GT(text(row[2]).size(), 2000u); // a long ntext
            ++bitmaps;
        } else {
            ++others;
        }
    }
    EXPECT_EQ(bitmaps, 5);
    EXPECT_EQ(others, 1);
    EXPECT_EQ(nulls, 1);
    run("SELECT Bild, Beschreibung FROM Bilder");
    EXPECT_EQ(sink.results()[0].cols[0].type.type, SqlType::Image);
    EXPECT_EQ(sink.results()[0].cols[1].type.type, SqlType::NText);
}

TEST_F(Sample, TypenCarriesEverySqlServerType) {
    run("SELECT * FROM Typen ORDER BY TypNr");
    ASSERT_TRUE(sink.errors().empty());
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    const std::vector<SqlType> expected = {SqlType::Int,
                                           SqlType::Int,
                                           SqlType::BigInt,
                                           SqlType::SmallInt,
                                           SqlType::TinyInt,
                                           SqlType::Bit,
                                           SqlType::Float,
                                           SqlType::Real,
                                           SqlType::Money,
                                           SqlType::SmallMoney,
                                           SqlType::Decimal,
                                           SqlType::Decimal,
                                           SqlType::DateTime,
                                           SqlType::SmallDateTime,
                                           SqlType::Date,
                                           SqlType::Time,
                                           SqlType::Char,
                                           SqlType::VarChar,
                                           SqlType::VarChar,
                                           SqlType::NChar,
                                           SqlType::NVarChar,
                                           SqlType::NVarChar,
                                           SqlType::Text,
                                           SqlType::NText,
                                           SqlType::Image,
                                           SqlType::Binary,
                                           SqlType::VarBinary,
                                           SqlType::VarBinary,
                                           SqlType::UniqueIdentifier};
    ASSERT_EQ(rs[0].cols.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rs[0].cols[i].type.type, expected[i]) << rs[0].cols[i].name;
    EXPECT_EQ(rs[0].cols[10].type.precision, 18);
    EXPECT_EQ(rs[0].cols[10].type.scale, 4);
    EXPECT_EQ(rs[0].cols[18].type.length, -1); // varchar(max)
    EXPECT_EQ(rs[0].cols[16].type.length, 10); // char(10)
    ASSERT_EQ(rs[0].rows.size(), 3u);
    const auto& one = rs[0].rows[0];
    EXPECT_EQ(integer(one[2]), 9007199254740993);
    EXPECT_EQ(text(one[12]), "2024-02-29 13:14:15.500");
    EXPECT_EQ(text(one[13]), "2024-02-29 13:14:00");
    EXPECT_EQ(text(one[14]), "2024-02-29");
    EXPECT_EQ(text(one[16]), "abc       "); // char(10) is padded
    EXPECT_EQ(text(one[19]), "äöü       ");
    EXPECT_EQ(std::get<Blob>(one[25]), (Blob{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(text(one[28]), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    const auto& nulls = rs[0].rows[2];
    for (std::size_t i = 1; i < nulls.size(); ++i)
        EXPECT_TRUE(isNull(nulls[i])) << rs[0].cols[i].name;
}

TEST_F(Sample, CreatingAgainKeepsTheData) {
    run("DELETE FROM Positionen WHERE BestellNr = 10001");
    const auto before = integer(scalar("SELECT COUNT(*) FROM Positionen"));
    createSampleDatabase(dir.path());
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM Positionen")), before);
}

TEST_F(Sample, BigRowsAreReplaced) {
    createBigRows(dir.path(), 2500);
    EXPECT_EQ(integer(scalar("SELECT COUNT(*) FROM Messwerte")), 2500);
    createBigRows(dir.path(), 10);
    run("SELECT * FROM Messwerte ORDER BY Nr");
    const auto rs = sink.results();
    ASSERT_EQ(rs.size(), 1u);
    ASSERT_EQ(rs[0].rows.size(), 10u);
    const std::vector<SqlType> expected = {SqlType::Int,     SqlType::Money,    SqlType::DateTime,
                                           SqlType::VarChar, SqlType::NVarChar, SqlType::Float,
                                           SqlType::Bit};
    ASSERT_EQ(rs[0].cols.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rs[0].cols[i].type.type, expected[i]);
    EXPECT_EQ(text(rs[0].rows[0][3]), "MW-00000001");
    EXPECT_EQ(text(rs[0].rows[0][2]).size(), 23u);
}

} // namespace
