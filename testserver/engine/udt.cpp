#include "testserver/engine/udt.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace tds::udt {

namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kValid = 0x04;
constexpr std::uint8_t kSinglePoint = 0x08;

bool fail(Error* err, std::string text) {
    if (err)
        err->text = std::move(text);
    return false;
}

void putDouble(Blob& b, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int k = 0; k < 8; ++k)
        b.push_back(std::uint8_t(bits >> (8 * k)));
}

double getDouble(const Blob& b, std::size_t at) {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k)
        bits |= std::uint64_t(b[at + std::size_t(k)]) << (8 * k);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

std::string shortest(double d) {
    if (d == 0)
        d = 0; // no "-0"
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

// The SRIDs of sys.spatial_reference_systems: the geographic systems of the
// EPSG range SQL Server lists, and its unit sphere.
bool knownGeographySrid(std::int64_t srid) {
    return (srid >= 4120 && srid <= 4999) || srid == 104001;
}

} // namespace

std::optional<Point> geographyPoint(double lat, double lon, std::int64_t srid, Error* err) {
    if (!knownGeographySrid(srid)) {
        fail(err, "System.FormatException: 24204: The spatial reference identifier (SRID) is "
                  "not valid. The specified SRID must match one of the supported SRIDs displayed "
                  "in the sys.spatial_reference_systems catalog view.");
        return std::nullopt;
    }
    if (!(lat >= -90 && lat <= 90)) {
        fail(err, "System.FormatException: 24201: Latitude values must be between -90 and 90 "
                  "degrees.");
        return std::nullopt;
    }
    if (!(lon >= -15069 && lon <= 15069)) {
        fail(err, "System.FormatException: 24202: Longitude values must be between -15069 and "
                  "15069 degrees.");
        return std::nullopt;
    }
    return Point{UdtKind::Geography, std::int32_t(srid), lon, lat};
}

std::optional<Point> geometryPoint(double x, double y, std::int64_t srid, Error* err) {
    if (srid < 0 || srid > 999999) {
        fail(err, "System.ArgumentException: 24204: The spatial reference identifier (SRID) is "
                  "not valid. SRIDs must be between 0 and 999999.");
        return std::nullopt;
    }
    if (!std::isfinite(x) || !std::isfinite(y)) {
        fail(err, "System.FormatException: 24118: The coordinates of a point must be finite.");
        return std::nullopt;
    }
    return Point{UdtKind::Geometry, std::int32_t(srid), x, y};
}

std::optional<Point> pointFromText(UdtKind kind, std::string_view wkt, std::int64_t srid,
                                   Error* err) {
    std::size_t i = 0;
    auto blanks = [&] {
        while (i < wkt.size() && std::isspace(static_cast<unsigned char>(wkt[i])))
            ++i;
    };
    auto number = [&](double& out) {
        blanks();
        const char* b = wkt.data() + i;
        const auto r = std::from_chars(b, wkt.data() + wkt.size(), out);
        if (r.ec != std::errc())
            return false;
        i += std::size_t(r.ptr - b);
        return true;
    };
    const auto bad = [&] {
        fail(err, "System.FormatException: 24114: The label " +
                      std::string(wkt.substr(0, std::min<std::size_t>(wkt.size(), 30))) +
                      " in the input well-known text (WKT) is not valid. Valid labels are POINT, "
                      "LINESTRING, POLYGON, MULTIPOINT, MULTILINESTRING, MULTIPOLYGON, "
                      "GEOMETRYCOLLECTION, CIRCULARSTRING, COMPOUNDCURVE, CURVEPOLYGON and "
                      "FULLGLOBE (geography Data Type only).");
        return std::nullopt;
    };
    blanks();
    if (wkt.size() - i < 5)
        return bad();
    for (std::size_t k = 0; k < 5; ++k)
        if (std::toupper(static_cast<unsigned char>(wkt[i + k])) != "POINT"[k])
            return bad();
    i += 5;
    blanks();
    double x = 0, y = 0, extra = 0;
    if (i >= wkt.size() || wkt[i] != '(' || (++i, !number(x)) || !number(y)) {
        fail(err, "System.FormatException: 24141: A number is expected at position " +
                      std::to_string(i + 1) + " of the input. The input has " +
                      std::string(wkt.substr(i, 10)) + ".");
        return std::nullopt;
    }
    // Z and M may follow; a point keeps only x and y here.
    while (number(extra)) {
    }
    blanks();
    if (i >= wkt.size() || wkt[i] != ')') {
        fail(err, "System.FormatException: 24141: A number is expected at position " +
                      std::to_string(i + 1) + " of the input.");
        return std::nullopt;
    }
    return kind == UdtKind::Geography ? geographyPoint(y, x, srid, err)
                                      : geometryPoint(x, y, srid, err);
}

Blob encodePoint(const Point& p) {
    Blob b;
    b.reserve(22);
    for (int k = 0; k < 4; ++k)
        b.push_back(std::uint8_t(std::uint32_t(p.srid) >> (8 * k)));
    b.push_back(kVersion);
    b.push_back(kValid | kSinglePoint);
    // Geography keeps latitude first.
    putDouble(b, p.kind == UdtKind::Geography ? p.y : p.x);
    putDouble(b, p.kind == UdtKind::Geography ? p.x : p.y);
    return b;
}

std::optional<Point> decodePoint(UdtKind kind, const Blob& b, Error* err) {
    if (b.size() < 6 || (b[4] != 1 && b[4] != 2)) {
        fail(err, "System.FormatException: 24200: The specified input does not represent a "
                  "valid " +
                      std::string(typeName(kind)) + " instance.");
        return std::nullopt;
    }
    if (!(b[5] & kSinglePoint) || b.size() != 22) {
        fail(err, "System.NotSupportedException: only single points are supported here.");
        return std::nullopt;
    }
    Point p;
    p.kind = kind;
    p.srid = std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                          std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
    const double first = getDouble(b, 6), second = getDouble(b, 14);
    p.x = kind == UdtKind::Geography ? second : first;
    p.y = kind == UdtKind::Geography ? first : second;
    return p;
}

std::string pointText(const Point& p) {
    return "POINT (" + shortest(p.x) + " " + shortest(p.y) + ")";
}

// --- hierarchyid ----------------------------------------------------------

namespace {

// One range of labels and its bits: a fixed prefix, then the offset from
// `min` in the 'x' positions (most significant first) between fixed bits,
// then T: 1 ends the level, 0 continues it with another label.
struct LabelPattern {
    std::int64_t min, max;
    std::string_view bits;
};

constexpr std::array<LabelPattern, 8> kPatterns{{
    {-72, -9, "0010xx0x1xxxT"},
    {-8, -1, "00111xxxT"},
    {0, 3, "01xxT"},
    {4, 7, "100xxT"},
    {8, 15, "101xxxT"},
    {16, 79, "110xx0x1xxxT"},
    {80, 1103, "1110xxx0xxx0x1xxxT"},
    {1104, 5199, "11110xxxxx0xxx0x1xxxT"},
}};

std::string_view prefixOf(std::string_view bits) {
    return bits.substr(0, bits.find('x'));
}

int valueBits(std::string_view bits) {
    int n = 0;
    for (char c : bits)
        n += c == 'x';
    return n;
}

std::string labelRangeError() {
    return "System.FormatException: 24000: the label is outside the range this server "
           "encodes (-72 to 5199).";
}

} // namespace

std::optional<HierarchyPath> parseHierarchy(std::string_view s, Error* err) {
    const auto bad = [&] {
        fail(err, "System.FormatException: 24001: SqlHierarchyId.Parse failed because the input "
                  "string '" +
                      std::string(s) +
                      "' is not a valid string representation of a SqlHierarchyId "
                      "node.");
        return std::nullopt;
    };
    if (s.empty() || s.front() != '/')
        return bad();
    HierarchyPath path;
    std::size_t i = 1;
    while (i < s.size()) {
        std::vector<std::int64_t> level;
        for (;;) {
            std::int64_t v = 0;
            const char* b = s.data() + i;
            // No leading zeros ("1.01" is refused), no '+'.
            const bool negative = *b == '-';
            const char* digits = b + negative;
            if (digits < s.data() + s.size() && *digits == '0' &&
                digits + 1 < s.data() + s.size() &&
                std::isdigit(static_cast<unsigned char>(digits[1])))
                return bad();
            const auto r = std::from_chars(b, s.data() + s.size(), v);
            if (r.ec != std::errc())
                return bad();
            level.push_back(v);
            i += std::size_t(r.ptr - b);
            if (i < s.size() && s[i] == '.') {
                ++i;
                continue;
            }
            break;
        }
        if (i >= s.size() || s[i] != '/')
            return bad();
        ++i;
        path.push_back(std::move(level));
    }
    return path;
}

std::string hierarchyText(const HierarchyPath& path) {
    std::string out = "/";
    for (const auto& level : path) {
        for (std::size_t k = 0; k < level.size(); ++k)
            out += (k ? "." : "") + std::to_string(level[k]);
        out += '/';
    }
    return out;
}

std::optional<Blob> encodeHierarchy(const HierarchyPath& path, Error* err) {
    std::vector<bool> bits;
    for (const auto& level : path) {
        for (std::size_t k = 0; k < level.size(); ++k) {
            const bool last = k + 1 == level.size();
            // A label that is not the last of its level is kept one higher, with T = 0.
            const std::int64_t v = last ? level[k] : level[k] + 1;
            const LabelPattern* p = nullptr;
            for (const auto& cand : kPatterns)
                if (v >= cand.min && v <= cand.max)
                    p = &cand;
            if (!p) {
                fail(err, labelRangeError());
                return std::nullopt;
            }
            const std::uint64_t offset = std::uint64_t(v - p->min);
            int next = valueBits(p->bits) - 1;
            for (char c : p->bits) {
                if (c == 'x')
                    bits.push_back((offset >> next--) & 1);
                else if (c == 'T')
                    bits.push_back(last);
                else
                    bits.push_back(c == '1');
            }
        }
    }
    if (bits.size() > 892 * 8) {
        fail(err, "System.FormatException: 24004: the hierarchyid is longer than 892 bytes.");
        return std::nullopt;
    }
    Blob out((bits.size() + 7) / 8, 0);
    for (std::size_t k = 0; k < bits.size(); ++k)
        if (bits[k])
            out[k / 8] |= std::uint8_t(0x80 >> (k % 8));
    return out;
}

std::optional<HierarchyPath> decodeHierarchy(const Blob& bytes, Error* err) {
    const std::size_t total = bytes.size() * 8;
    auto bit = [&](std::size_t k) { return (bytes[k / 8] >> (7 - k % 8)) & 1; };
    const auto bad = [&] {
        fail(err, "System.FormatException: 24002: the input is not a valid binary representation "
                  "of a hierarchyid.");
        return std::nullopt;
    };
    HierarchyPath path;
    std::vector<std::int64_t> level;
    std::size_t at = 0;
    for (;;) {
        // What is left is padding when it holds no 1 bit: every label has one.
        bool rest = false;
        for (std::size_t k = at; k < total && !rest; ++k)
            rest = bit(k);
        if (!rest)
            break;
        const LabelPattern* p = nullptr;
        for (const auto& cand : kPatterns) {
            const std::string_view prefix = prefixOf(cand.bits);
            if (at + cand.bits.size() > total)
                continue;
            bool match = true;
            for (std::size_t k = 0; k < prefix.size() && match; ++k)
                match = bit(at + k) == (prefix[k] == '1');
            if (match)
                p = &cand;
        }
        if (!p)
            return bad();
        std::uint64_t offset = 0;
        bool last = false;
        for (std::size_t k = 0; k < p->bits.size(); ++k) {
            const char c = p->bits[k];
            const int b = bit(at + k);
            if (c == 'x')
                offset = offset << 1 | std::uint64_t(b);
            else if (c == 'T')
                last = b != 0;
            else if (b != (c == '1'))
                return bad();
        }
        at += p->bits.size();
        const std::int64_t v = p->min + std::int64_t(offset);
        level.push_back(last ? v : v - 1);
        if (last)
            path.push_back(std::exchange(level, {}));
    }
    if (!level.empty())
        return bad();
    return path;
}

std::optional<Blob> fromText(UdtKind kind, std::string_view text, Error* err) {
    if (kind == UdtKind::HierarchyId) {
        const auto path = parseHierarchy(text, err);
        return path ? encodeHierarchy(*path, err) : std::nullopt;
    }
    const auto p = pointFromText(kind, text, kind == UdtKind::Geography ? 4326 : 0, err);
    return p ? std::optional<Blob>(encodePoint(*p)) : std::nullopt;
}

UdtKind guessKind(const Blob& b) {
    if (b.size() >= 6 && (b[4] == 1 || b[4] == 2) && b.size() == 22 && (b[5] & kSinglePoint)) {
        Error e;
        if (auto p = decodePoint(UdtKind::Geography, b, &e);
            p && p->srid >= 4120 && p->srid <= 4999 && p->y >= -90 && p->y <= 90)
            return UdtKind::Geography;
        return UdtKind::Geometry;
    }
    return UdtKind::HierarchyId;
}

} // namespace tds::udt
