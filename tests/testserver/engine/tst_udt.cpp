// The CLR types geography, geometry and hierarchyid: their serialized bytes
// against the documented examples, and their use in T-SQL (columns, static
// methods, members, catalog views).

#include "tests/testserver/engine/engine_fixture.h"

#include "testserver/engine/udt.h"

using namespace tds;
using namespace tds::test;

namespace {

Blob hex(const std::string& h) {
    Blob b;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(std::uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

Blob hierarchyBytes(const std::string& text) {
    udt::Error e;
    const auto path = udt::parseHierarchy(text, &e);
    EXPECT_TRUE(path) << text << ": " << e.text;
    const auto bytes = path ? udt::encodeHierarchy(*path, &e) : std::nullopt;
    EXPECT_TRUE(bytes) << text << ": " << e.text;
    return bytes.value_or(Blob{});
}

TEST(UdtCodec, HierarchyIdBitsMatchTheDocumentedExamples) {
    EXPECT_EQ(hierarchyBytes("/"), Blob{});
    EXPECT_EQ(hierarchyBytes("/1/"), hex("58"));
    EXPECT_EQ(hierarchyBytes("/1/1/"), hex("5AC0"));
    EXPECT_EQ(hierarchyBytes("/1/2/"), hex("5B40"));
    // A label that is not the last of its level, a negative one, one past 15.
    EXPECT_EQ(hierarchyBytes("/1/-2.18/"), hex("59FB0540"));
    // Every range encodes and reads back, also at its edges.
    for (const char* t :
         {"/0/", "/3/", "/4/", "/7/", "/8/", "/15/", "/16/", "/79/", "/80/", "/1103/", "/1104/",
          "/5199/", "/-1/", "/-8/", "/-9/", "/-72/", "/1.5/2/", "/0.1/0.2/", "/1/3/4/5/6/7/"}) {
        udt::Error e;
        const auto back = udt::decodeHierarchy(hierarchyBytes(t), &e);
        ASSERT_TRUE(back) << t << ": " << e.text;
        EXPECT_EQ(udt::hierarchyText(*back), t);
    }
    // Order of the bytes is the depth-first order of the nodes.
    EXPECT_LT(hierarchyBytes("/1/"), hierarchyBytes("/1/1/"));
    EXPECT_LT(hierarchyBytes("/1/1/"), hierarchyBytes("/1/1.5/"));
    EXPECT_LT(hierarchyBytes("/1/1.5/"), hierarchyBytes("/1/2/"));
    udt::Error e;
    for (const char* bad : {"", "1/", "/1", "/a/", "/01/", "/1..2/", "//"})
        EXPECT_FALSE(udt::parseHierarchy(bad, &e)) << bad;
    EXPECT_FALSE(udt::encodeHierarchy(udt::HierarchyPath{{5200}}, &e));
    EXPECT_FALSE(udt::decodeHierarchy(hex("FF"), &e));
}

TEST(UdtCodec, PointsAreSridVersionFlagsAndTwoDoubles) {
    udt::Error e;
    // geometry::Point(3, 4, 0): x then y.
    EXPECT_EQ(udt::encodePoint(*udt::geometryPoint(3, 4, 0, &e)),
              hex("00000000010C00000000000008400000000000001040"));
    // geography::Point(47.65, -122.35, 4326): latitude first.
    const auto g = udt::geographyPoint(47.65, -122.35, 4326, &e);
    ASSERT_TRUE(g);
    EXPECT_EQ(udt::encodePoint(*g), hex("E6100000010C3333333333D347406666666666965EC0"));
    EXPECT_EQ(udt::pointText(*g), "POINT (-122.35 47.65)");
    // Well-known text gives longitude first.
    const auto t = udt::pointFromText(UdtKind::Geography, " point ( -122.35 47.65 ) ", 4326, &e);
    ASSERT_TRUE(t) << e.text;
    EXPECT_EQ(udt::encodePoint(*t), udt::encodePoint(*g));
    const auto back = udt::decodePoint(UdtKind::Geography, udt::encodePoint(*g), &e);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->y, 47.65);
    EXPECT_EQ(back->srid, 4326);
    EXPECT_FALSE(udt::geographyPoint(90.5, 0, 4326, &e));
    EXPECT_NE(e.text.find("24201"), std::string::npos);
    EXPECT_FALSE(udt::geographyPoint(1, 2, 0, &e)); // no geographic SRID
    EXPECT_FALSE(udt::pointFromText(UdtKind::Geometry, "LINE(1 2)", 0, &e));
    EXPECT_FALSE(udt::pointFromText(UdtKind::Geometry, "POINT(1)", 0, &e));
    EXPECT_FALSE(udt::decodePoint(UdtKind::Geometry, hex("0000"), &e));
}

class Udt : public EngineTest {};

TEST_F(Udt, ColumnsStoreTheSerializedValuesAndMembersReadThem) {
    run("CREATE TABLE places (id int, loc geography, g geometry, h hierarchyid);"
        "INSERT places VALUES (1, geography::Point(47.65, -122.35, 4326), "
        "geometry::Point(3, 4, 0), hierarchyid::Parse('/1/2/'));"
        "INSERT places VALUES (2, geography::STGeomFromText('POINT(10 20)', 4326), NULL, "
        "hierarchyid::GetRoot())");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto r = rows("SELECT loc, g, h FROM places ORDER BY id");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0][0], Value(hex("E6100000010C3333333333D347406666666666965EC0")));
    EXPECT_EQ(r[0][2], Value(hex("5B40")));
    EXPECT_EQ(r[1][2], Value(Blob{}));
    const auto results = sink.results();
    const auto& cols = results[0].cols;
    EXPECT_EQ(cols[0].type.type, SqlType::Udt);
    EXPECT_EQ(cols[0].type.udt, UdtKind::Geography);
    EXPECT_EQ(cols[1].type.udt, UdtKind::Geometry);
    EXPECT_EQ(cols[2].type.udt, UdtKind::HierarchyId);

    const auto m = rows("SELECT loc.ToString(), places.loc.Lat, loc.Long, g.STX, g.STY, "
                        "h.ToString(), h.GetLevel(), loc.STAsText(), loc.STSrid "
                        "FROM places ORDER BY id");
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0][0], Value(std::string("POINT (-122.35 47.65)")));
    EXPECT_EQ(m[0][1], Value(47.65));
    EXPECT_EQ(m[0][2], Value(-122.35));
    EXPECT_EQ(m[0][3], Value(3.0));
    EXPECT_EQ(m[0][4], Value(4.0));
    EXPECT_EQ(m[0][5], Value(std::string("/1/2/")));
    EXPECT_EQ(m[0][6], Value(std::int64_t(2)));
    EXPECT_EQ(m[0][8], Value(std::int64_t(4326)));
    EXPECT_EQ(m[1][0], Value(std::string("POINT (10 20)")));
    EXPECT_EQ(m[1][3], Value(Null{})); // a NULL value has NULL members
    EXPECT_EQ(m[1][5], Value(std::string("/")));
    EXPECT_EQ(m[1][6], Value(std::int64_t(0)));

    EXPECT_EQ(scalar("SELECT CAST(h AS varbinary(max)) FROM places WHERE id = 1"),
              Value(hex("5B40")));
    // Text put into such a column reads as the value SQL Server makes of it.
    run("INSERT places (id, loc, h) VALUES (3, 'POINT(-122.35 47.65)', '/1/2/')");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto t = rows("SELECT loc, h, h.GetLevel(), loc.Lat FROM places WHERE id = 3");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0][0], Value(hex("E6100000010C3333333333D347406666666666965EC0")));
    EXPECT_EQ(t[0][1], Value(hex("5B40")));
    EXPECT_EQ(t[0][2], Value(std::int64_t(2)));
    EXPECT_EQ(t[0][3], Value(47.65));
    // A column named like a property stays a column.
    run("CREATE TABLE spots (lat float); INSERT spots VALUES (1.5)");
    EXPECT_EQ(scalar("SELECT s.lat FROM spots s"), Value(1.5));
}

TEST_F(Udt, StaticMethodsGiveValuesOfTheirTypeAndRefuseBadInput) {
    run("SELECT geography::Point(1, 2, 4326) AS p, hierarchyid::Parse('/1/').ToString() AS t, "
        "geometry::Point(1, 2, 0).STX AS x");
    ASSERT_TRUE(sink.errors().empty()) << sink.errors()[0].text;
    const auto rs = sink.results();
    EXPECT_EQ(rs[0].cols[0].type.type, SqlType::Udt);
    EXPECT_EQ(rs[0].cols[0].type.udt, UdtKind::Geography);
    EXPECT_EQ(rs[0].rows[0][1], Value(std::string("/1/")));
    EXPECT_EQ(rs[0].rows[0][2], Value(1.0));
    const Message e = error("SELECT geography::Point(91, 0, 4326)");
    EXPECT_EQ(e.number, 6522);
    EXPECT_NE(e.text.find("Latitude values must be between -90 and 90 degrees"), std::string::npos);
    EXPECT_EQ(error("SELECT hierarchyid::Parse('1/2')").number, 6522);
}

TEST_F(Udt, CatalogViewsNameTheTypes) {
    run("CREATE TABLE t (loc geography, h hierarchyid NOT NULL)");
    const auto c = rows("SELECT name, system_type_id, user_type_id, max_length FROM sys.columns "
                        "WHERE object_id = OBJECT_ID('t') ORDER BY column_id");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0], (std::vector<Value>{std::string("loc"), std::int64_t(240), std::int64_t(130),
                                        std::int64_t(-1)}));
    EXPECT_EQ(c[1], (std::vector<Value>{std::string("h"), std::int64_t(240), std::int64_t(128),
                                        std::int64_t(892)}));
    const auto i = rows("SELECT DATA_TYPE FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_NAME = 't' "
                        "ORDER BY ORDINAL_POSITION");
    ASSERT_EQ(i.size(), 2u);
    EXPECT_EQ(i[0][0], Value(std::string("geography")));
    EXPECT_EQ(i[1][0], Value(std::string("hierarchyid")));
    const auto ty = rows("SELECT t.name FROM sys.columns c JOIN sys.types t ON "
                         "t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('t') "
                         "AND t.is_assembly_type = 1 ORDER BY c.column_id");
    ASSERT_EQ(ty.size(), 2u);
    EXPECT_EQ(ty[0][0], Value(std::string("geography")));
    EXPECT_EQ(ty[1][0], Value(std::string("hierarchyid")));
    // SQLColumns (sp_columns): the type's name, its data as long binary or varbinary.
    const auto sp = rows("EXEC sp_columns t");
    ASSERT_EQ(sp.size(), 2u);
    EXPECT_EQ(sp[0][4], Value(std::int64_t(-4)));
    EXPECT_EQ(sp[0][5], Value(std::string("geography")));
    EXPECT_EQ(sp[1][4], Value(std::int64_t(-3)));
    EXPECT_EQ(sp[1][5], Value(std::string("hierarchyid")));
}

} // namespace
