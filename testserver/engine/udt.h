#pragma once
// The CLR types SQL Server ships (geography, geometry, hierarchyid): their
// names as the catalog and TDS's UDT_INFO give them, and their values in the
// serialized form SQL Server stores and sends (spatial points; hierarchyid's
// bit-packed paths).

#include "testserver/engine/engine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tds::udt {

// "geography", "geometry", "hierarchyid"; empty for UdtKind::None.
inline std::string_view typeName(UdtKind k) {
    switch (k) {
    case UdtKind::Geography:
        return "geography";
    case UdtKind::Geometry:
        return "geometry";
    case UdtKind::HierarchyId:
        return "hierarchyid";
    case UdtKind::None:
        break;
    }
    return {};
}

inline std::optional<UdtKind> kindOf(std::string_view lowerName) {
    if (lowerName == "geography")
        return UdtKind::Geography;
    if (lowerName == "geometry")
        return UdtKind::Geometry;
    if (lowerName == "hierarchyid")
        return UdtKind::HierarchyId;
    return std::nullopt;
}

// The .NET type behind each, as UDT_INFO names it.
inline std::string_view assemblyQualifiedName(UdtKind k) {
    switch (k) {
    case UdtKind::Geography:
        return "Microsoft.SqlServer.Types.SqlGeography, Microsoft.SqlServer.Types, "
               "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
    case UdtKind::Geometry:
        return "Microsoft.SqlServer.Types.SqlGeometry, Microsoft.SqlServer.Types, "
               "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
    case UdtKind::HierarchyId:
        return "Microsoft.SqlServer.Types.SqlHierarchyId, Microsoft.SqlServer.Types, "
               "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
    case UdtKind::None:
        break;
    }
    return {};
}

// Largest serialized value in bytes: 892 for hierarchyid; the spatial types
// are unlimited (-1, 0xFFFF in UDT_INFO).
inline int maxByteSize(UdtKind k) {
    return k == UdtKind::HierarchyId ? 892 : -1;
}

// sys.types.user_type_id: hierarchyid 128, geometry 129, geography 130
// (system_type_id 240 for all three).
inline int userTypeId(UdtKind k) {
    return k == UdtKind::HierarchyId ? 128 : k == UdtKind::Geometry ? 129 : 130;
}
inline constexpr int kSystemTypeId = 240;

// Why a value could not be made or read: SQL Server reports these as error
// 6522 (a .NET error in a user-defined routine) with this text.
struct Error {
    std::string text;
};

// --- Spatial points -------------------------------------------------------
// A single point: SRID (4 bytes LE), version 1, flags 0x0C (valid, single
// point), then two doubles: latitude and longitude for geography, x and y for
// geometry.
struct Point {
    UdtKind kind = UdtKind::Geometry;
    std::int32_t srid = 0;
    double x = 0; // geometry x; geography longitude
    double y = 0; // geometry y; geography latitude
};

// geography::Point(lat, long, srid) checks the ranges SQL Server checks.
std::optional<Point> geographyPoint(double lat, double lon, std::int64_t srid, Error* err);
std::optional<Point> geometryPoint(double x, double y, std::int64_t srid, Error* err);
// STGeomFromText / STPointFromText: "POINT (x y)" (for geography "POINT (long lat)").
std::optional<Point> pointFromText(UdtKind kind, std::string_view wkt, std::int64_t srid,
                                   Error* err);
Blob encodePoint(const Point& p);
std::optional<Point> decodePoint(UdtKind kind, const Blob& bytes, Error* err);
// "POINT (x y)" with the shortest digits that read back to the same doubles.
std::string pointText(const Point& p);

// --- hierarchyid ----------------------------------------------------------
// A path: each level a sequence of labels ("/1/", "/1.5/", "/-2/").
using HierarchyPath = std::vector<std::vector<std::int64_t>>;

// "/1/2/" -> path; "/" is the root.
std::optional<HierarchyPath> parseHierarchy(std::string_view text, Error* err);
std::string hierarchyText(const HierarchyPath& path);
std::optional<Blob> encodeHierarchy(const HierarchyPath& path, Error* err);
std::optional<HierarchyPath> decodeHierarchy(const Blob& bytes, Error* err);

// A value from its text, as SQL Server converts text to a CLR type: the path
// of a hierarchyid, the well-known text of a point (SRID 4326 for geography,
// 0 for geometry).
std::optional<Blob> fromText(UdtKind kind, std::string_view text, Error* err);

// A serialized value of unknown kind: hierarchyid when it cannot be a
// spatial value (spatial values start with SRID and version 1 or 2).
UdtKind guessKind(const Blob& bytes);

} // namespace tds::udt
