// SQL Server collations over ICU: ICU's collators give the dictionary orders
// (umlauts next to their base letter, case and accents as the name says) and
// its converters the code pages of varchar data.

#include "testserver/engine/collation.h"

#include <sqlite3.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tds::sql {

namespace {

// Windows collation designators: the locale and the code page of each.
struct Designator {
    const char* name;
    std::uint32_t lcid;
    int codePage;
    const char* locale;
};

constexpr Designator kDesignators[] = {
    {"Latin1_General", 0x0409, 1252, ""},
    {"German_PhoneBook", 0x10407, 1252, "de@collation=phonebook"},
    {"French", 0x040C, 1252, "fr"},
    {"Finnish_Swedish", 0x040B, 1252, "sv"},
    {"Danish_Norwegian", 0x0406, 1252, "da"},
    {"Modern_Spanish", 0x0C0A, 1252, "es"},
    {"Icelandic", 0x040F, 1252, "is"},
    {"Polish", 0x0415, 1250, "pl"},
    {"Czech", 0x0405, 1250, "cs"},
    {"Hungarian", 0x040E, 1250, "hu"},
    {"Croatian", 0x041A, 1250, "hr"},
    {"Cyrillic_General", 0x0419, 1251, "ru"},
    {"Ukrainian", 0x0422, 1251, "uk"},
    {"Greek", 0x0408, 1253, "el"},
    {"Turkish", 0x041F, 1254, "tr"},
    {"Hebrew", 0x040D, 1255, "he"},
    {"Arabic", 0x0401, 1256, "ar"},
    {"Estonian", 0x0425, 1257, "et"},
    {"Lithuanian", 0x0427, 1257, "lt"},
    {"Latvian", 0x0426, 1257, "lv"},
    {"Vietnamese", 0x042A, 1258, "vi"},
    {"Thai", 0x041E, 874, "th"},
    {"Japanese", 0x0411, 932, "ja"},
    {"Chinese_PRC", 0x0804, 936, "zh"},
    {"Korean_Wansung", 0x0412, 949, "ko"},
    {"Chinese_Taiwan_Stroke", 0x0404, 950, "zh@collation=stroke"},
};

// SQL collations: a sort id each, from SQL Server's table of them.
struct SqlCollation {
    const char* name;
    std::uint8_t sortId;
    int codePage;
    std::uint8_t flags;
};

constexpr std::uint8_t kKanaWidth = IgnoreKana | IgnoreWidth;
constexpr SqlCollation kSqlCollations[] = {
    {"SQL_Latin1_General_CP437_BIN", 30, 437, BinarySort},
    {"SQL_Latin1_General_CP437_CS_AS", 31, 437, kKanaWidth},
    {"SQL_Latin1_General_CP437_CI_AS", 32, 437, IgnoreCase | kKanaWidth},
    {"SQL_Latin1_General_CP437_CI_AI", 34, 437, IgnoreCase | IgnoreAccent | kKanaWidth},
    {"SQL_Latin1_General_CP850_BIN", 40, 850, BinarySort},
    {"SQL_Latin1_General_CP850_CS_AS", 41, 850, kKanaWidth},
    {"SQL_Latin1_General_CP850_CI_AS", 42, 850, IgnoreCase | kKanaWidth},
    {"SQL_Latin1_General_CP850_CI_AI", 44, 850, IgnoreCase | IgnoreAccent | kKanaWidth},
    {"SQL_Latin1_General_CP1_CS_AS", 51, 1252, kKanaWidth},
    {"SQL_Latin1_General_CP1_CI_AS", 52, 1252, IgnoreCase | kKanaWidth},
    {"SQL_Latin1_General_CP1_CI_AI", 54, 1252, IgnoreCase | IgnoreAccent | kKanaWidth},
};

bool iequal(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// Parses "Designator[_version]_CI_AS[_KS][_WS][_SC][_UTF8]" or "..._BIN[2]".
std::optional<Collation> parseWindowsName(std::string_view name) {
    for (const Designator& d : kDesignators) {
        const std::size_t n = std::strlen(d.name);
        if (name.size() <= n + 1 || !iequal(name.substr(0, n), d.name) || name[n] != '_')
            continue;
        std::vector<std::string> parts;
        std::string_view rest = name.substr(n + 1);
        while (!rest.empty()) {
            const std::size_t us = rest.find('_');
            parts.push_back(upper(rest.substr(0, us)));
            rest = us == std::string_view::npos ? std::string_view() : rest.substr(us + 1);
        }
        Collation c;
        c.lcid = d.lcid;
        c.codePage = d.codePage;
        c.locale = d.locale;
        c.name = d.name;
        std::size_t k = 0;
        if (k < parts.size() && (parts[k] == "90" || parts[k] == "100" || parts[k] == "140")) {
            c.version = parts[k] == "90" ? 1 : parts[k] == "100" ? 2 : 3;
            c.name += "_" + parts[k++];
        }
        if (k < parts.size() && (parts[k] == "BIN" || parts[k] == "BIN2")) {
            c.flags = parts[k] == "BIN" ? BinarySort : BinarySort2;
            c.name += "_" + parts[k++];
            if (k < parts.size() && parts[k] == "UTF8" && c.version >= 2) {
                c.flags |= Utf8Data;
                c.codePage = kCodePageUtf8;
                c.name += "_UTF8";
                ++k;
            }
            return k == parts.size() ? std::optional<Collation>(c) : std::nullopt;
        }
        if (k + 2 > parts.size() || (parts[k] != "CI" && parts[k] != "CS") ||
            (parts[k + 1] != "AI" && parts[k + 1] != "AS"))
            return std::nullopt;
        c.flags = IgnoreKana | IgnoreWidth;
        if (parts[k] == "CI")
            c.flags |= IgnoreCase;
        if (parts[k + 1] == "AI")
            c.flags |= IgnoreAccent;
        c.name += "_" + parts[k] + "_" + parts[k + 1];
        k += 2;
        const char* optional[] = {"KS", "WS", "SC", "UTF8"};
        for (const char* o : optional) {
            if (k >= parts.size() || parts[k] != o)
                continue;
            if (parts[k] == "KS")
                c.flags &= std::uint8_t(~IgnoreKana);
            else if (parts[k] == "WS")
                c.flags &= std::uint8_t(~IgnoreWidth);
            else if (parts[k] == "UTF8") {
                if (c.version < 2)
                    return std::nullopt;
                c.flags |= Utf8Data;
                c.codePage = kCodePageUtf8;
            }
            c.name += "_" + parts[k++];
        }
        return k == parts.size() ? std::optional<Collation>(c) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<Collation> parseName(std::string_view name) {
    for (const SqlCollation& s : kSqlCollations) {
        if (!iequal(name, s.name))
            continue;
        Collation c;
        c.name = s.name;
        c.sortId = s.sortId;
        c.codePage = s.codePage;
        c.flags = s.flags;
        return c;
    }
    return parseWindowsName(name);
}

struct Registry {
    std::mutex mutex;
    std::deque<Collation> known;
    std::map<std::string, const Collation*> byName; // upper-case name -> entry
};

Registry& registry() {
    static Registry r;
    return r;
}

// One ICU collator per collation and thread: ICU collators are cheap to open
// and this keeps comparisons free of locks.
struct CollatorClose {
    void operator()(UCollator* c) const { ucol_close(c); }
};

UCollator* collatorFor(const Collation& c) {
    thread_local std::map<const Collation*, std::unique_ptr<UCollator, CollatorClose>> open;
    auto& slot = open[&c];
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        UCollator* u = ucol_open(c.locale.c_str(), &status);
        if (U_FAILURE(status)) {
            status = U_ZERO_ERROR;
            u = ucol_open("", &status);
        }
        // Case-insensitive collations compare at the accent level;
        // accent-insensitive ones at the base letters, with case as a level
        // of its own when case still counts.
        const bool ci = (c.flags & IgnoreCase) != 0;
        const bool ai = (c.flags & IgnoreAccent) != 0;
        ucol_setStrength(u, ai ? UCOL_PRIMARY : ci ? UCOL_SECONDARY : UCOL_TERTIARY);
        if (ai && !ci)
            ucol_setAttribute(u, UCOL_CASE_LEVEL, UCOL_ON, &status);
        slot.reset(u);
    }
    return slot.get();
}

std::string_view trimTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

struct ConverterClose {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// ICU's converter for a Windows code page, one per thread (converters keep state).
UConverter* converterFor(int codePage) {
    thread_local std::map<int, std::unique_ptr<UConverter, ConverterClose>> open;
    auto& slot = open[codePage];
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        const std::string name = codePage == 932   ? "windows-31j"
                                 : codePage == 936 ? "windows-936"
                                 : codePage == 949 ? "windows-949"
                                 : codePage == 950 ? "windows-950"
                                 : codePage < 1000 ? "ibm-" + std::to_string(codePage)
                                                   : "windows-" + std::to_string(codePage);
        UConverter* u = ucnv_open(name.c_str(), &status);
        if (U_FAILURE(status))
            return nullptr;
        ucnv_setSubstChars(u, "?", 1, &status);
        ucnv_setFallback(u, false);
        slot.reset(u);
    }
    return slot.get();
}

// UTF-8 to UTF-16 and back through ICU; malformed bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    std::int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), std::int32_t(out.size()), &n, utf8.data(),
                         std::int32_t(utf8.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? std::size_t(n) : 0);
    return out;
}

std::string toUtf8(std::u16string_view u) {
    std::string out(u.size() * 3 + 1, '\0');
    std::int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), std::int32_t(out.size()), &n, u.data(), std::int32_t(u.size()),
                       0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? std::size_t(n) : 0);
    return out;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

} // namespace

std::array<std::uint8_t, 5> Collation::bytes() const {
    const std::uint32_t info =
        (lcid & 0xFFFFF) | (std::uint32_t(flags) << 20) | (std::uint32_t(version & 0x0F) << 28);
    return {std::uint8_t(info), std::uint8_t(info >> 8), std::uint8_t(info >> 16),
            std::uint8_t(info >> 24), sortId};
}

std::int64_t Collation::comparisonStyle() const {
    if (binary())
        return 0;
    std::int64_t style = 0;
    if (flags & IgnoreCase)
        style |= 1;
    if (flags & IgnoreAccent)
        style |= 2;
    if (flags & IgnoreKana)
        style |= 65536;
    if (flags & IgnoreWidth)
        style |= 131072;
    return style;
}

const Collation* findCollation(std::string_view name) {
    Registry& r = registry();
    const std::string key = upper(name);
    std::lock_guard lock(r.mutex);
    if (const auto it = r.byName.find(key); it != r.byName.end())
        return it->second;
    auto parsed = parseName(name);
    if (!parsed)
        return nullptr;
    const Collation* entry = &r.known.emplace_back(std::move(*parsed));
    r.byName.emplace(key, entry);
    return entry;
}

const Collation& defaultCollation() {
    static const Collation* c = findCollation(kDefaultCollationName);
    return *c;
}

const Collation& columnCollation(const char* sqliteName) {
    if (sqliteName) {
        if (const Collation* c = findCollation(sqliteName))
            return *c;
    }
    return defaultCollation();
}

int codePageOfBytes(const std::uint8_t b[5]) {
    const std::uint32_t info = std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) |
                               (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
    const std::uint8_t flags = std::uint8_t(info >> 20);
    if (flags & Utf8Data)
        return kCodePageUtf8;
    if (b[4] != 0) {
        for (const SqlCollation& s : kSqlCollations)
            if (s.sortId == b[4])
                return s.codePage;
        return 1252;
    }
    const std::uint32_t lcid = info & 0xFFFFF;
    for (const Designator& d : kDesignators)
        if ((d.lcid & 0xFFFF) == (lcid & 0xFFFF))
            return d.codePage;
    return 1252;
}

const Collation* collationOfBytes(const std::uint8_t b[5]) {
    const std::uint32_t info = std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) |
                               (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
    if (b[4] != 0) {
        for (const SqlCollation& s : kSqlCollations)
            if (s.sortId == b[4])
                return findCollation(s.name);
        return nullptr;
    }
    const std::uint32_t lcid = info & 0xFFFFF;
    const std::uint8_t flags = std::uint8_t(info >> 20);
    const int version = int(info >> 28);
    for (const Designator& d : kDesignators) {
        if (d.lcid != lcid)
            continue;
        // The name the flags spell; the parser checks it.
        std::string name = d.name;
        if (version > 0)
            name += version == 1 ? "_90" : version == 2 ? "_100" : "_140";
        if (flags & (BinarySort | BinarySort2)) {
            name += flags & BinarySort2 ? "_BIN2" : "_BIN";
        } else {
            name += flags & IgnoreCase ? "_CI" : "_CS";
            name += flags & IgnoreAccent ? "_AI" : "_AS";
            name += flags & IgnoreKana ? "" : "_KS";
            name += flags & IgnoreWidth ? "" : "_WS";
        }
        if (flags & Utf8Data)
            name += version == 2 ? "_SC_UTF8" : "_UTF8";
        const Collation* c = findCollation(name);
        return c && c->bytes()[3] == b[3] ? c : nullptr;
    }
    return nullptr;
}

int compareText(const Collation& c, std::string_view a, std::string_view b) {
    a = trimTrailingBlanks(a);
    b = trimTrailingBlanks(b);
    if (a == b)
        return 0;
    if (c.binary()) {
        // UTF-8 byte order is code point order.
        const int r = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
        return r != 0 ? r : a.size() < b.size() ? -1 : 1;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collatorFor(c), a.data(), std::int32_t(a.size()),
                                                b.data(), std::int32_t(b.size()), &status);
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

bool sameCharacter(const Collation& c, std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    if (c.binary() || a.empty() || b.empty())
        return false;
    if (a.size() == 1 && b.size() == 1) {
        // ASCII differs only in case, which counts when the collation says so.
        const auto fold = [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch; };
        return !c.caseSensitive() && fold(a[0]) == fold(b[0]);
    }
    UErrorCode status = U_ZERO_ERROR;
    return ucol_strcollUTF8(collatorFor(c), a.data(), std::int32_t(a.size()), b.data(),
                            std::int32_t(b.size()), &status) == UCOL_EQUAL;
}

bool characterInRange(const Collation& c, std::string_view ch, std::string_view lo,
                      std::string_view hi) {
    return compareText(c, lo, ch) <= 0 && compareText(c, ch, hi) <= 0;
}

void registerCollations(sqlite3* db) {
    // SQLite asks when a statement or a schema names a collation it has not
    // got; a SQL Server name gets one comparing as that collation does.
    sqlite3_collation_needed(db, nullptr, [](void*, sqlite3* conn, int, const char* name) {
        const Collation* c = findCollation(name);
        if (!c)
            return;
        sqlite3_create_collation_v2(
            conn, name, SQLITE_UTF8, const_cast<Collation*>(c),
            [](void* p, int n1, const void* a, int n2, const void* b) {
                return compareText(*static_cast<const Collation*>(p),
                                   std::string_view(static_cast<const char*>(a), std::size_t(n1)),
                                   std::string_view(static_cast<const char*>(b), std::size_t(n2)));
            },
            nullptr);
    });
}

std::string encodeCodePage(std::string_view utf8, int codePage) {
    if (codePage == kCodePageUtf8 || isAscii(utf8))
        return std::string(utf8);
    UConverter* conv = converterFor(codePage);
    if (!conv)
        return std::string(utf8);
    const std::u16string u = toUtf16(utf8);
    std::string out(u.size() * 2 + 4, '\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    const std::int32_t n = ucnv_fromUChars(conv, out.data(), std::int32_t(out.size()), u.data(),
                                           std::int32_t(u.size()), &status);
    out.resize(U_SUCCESS(status) ? std::size_t(n) : 0);
    return out;
}

std::string decodeCodePage(std::string_view bytes, int codePage) {
    if (codePage == kCodePageUtf8 || isAscii(bytes))
        return std::string(bytes);
    UConverter* conv = converterFor(codePage);
    if (!conv)
        return std::string(bytes);
    std::u16string u(bytes.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(conv);
    const std::int32_t n = ucnv_toUChars(conv, u.data(), std::int32_t(u.size()), bytes.data(),
                                         std::int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return std::string(bytes);
    return toUtf8(std::u16string_view(u.data(), std::size_t(n)));
}

bool codePageHolds(std::string_view utf8, int codePage) {
    if (codePage == kCodePageUtf8 || isAscii(utf8))
        return true;
    // A character the code page lacks comes back as '?'.
    const std::string back = decodeCodePage(encodeCodePage(utf8, codePage), codePage);
    return back == utf8;
}

std::string throughCodePage(std::string_view utf8, int codePage) {
    if (codePage == kCodePageUtf8 || isAscii(utf8))
        return std::string(utf8);
    return decodeCodePage(encodeCodePage(utf8, codePage), codePage);
}

int codePageOf(const std::string& collation) {
    const Collation* c = collation.empty() ? nullptr : findCollation(collation);
    return (c ? *c : defaultCollation()).codePage;
}

} // namespace tds::sql
