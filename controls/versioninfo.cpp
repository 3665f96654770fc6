#include "controls/versioninfo.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

namespace versioninfo {

namespace {

constinit const char* g_blockData = nullptr;
constinit std::size_t g_blockSize = 0;

constexpr std::string_view kMagic = "TWVERSIONINFO\t1";

struct Translation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
};

struct ParsedBlock {
    std::optional<FixedFileInfo> fixed;
    std::vector<Translation> translations;
    std::vector<StringEntry> strings;
};

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

template <typename T> bool parseNumber(std::string_view text, int base, T& out) {
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return error == std::errc() && end == text.data() + text.size();
}

bool parseVersion(std::string_view text, std::uint32_t& ms, std::uint32_t& ls) {
    const std::vector<std::string_view> parts = split(text, '.');
    if (parts.size() != 4)
        return false;
    std::uint16_t n[4];
    for (int i = 0; i < 4; ++i) {
        if (!parseNumber(parts[i], 10, n[i]))
            return false;
    }
    ms = (std::uint32_t(n[0]) << 16) | n[1];
    ls = (std::uint32_t(n[2]) << 16) | n[3];
    return true;
}

std::optional<ParsedBlock> parse(std::string_view text) {
    // The text ends at the first zero byte (the read buffer carries one more).
    text = text.substr(0, text.find('\0'));
    std::vector<std::string_view> lines = split(text, '\n');
    if (lines.empty())
        return std::nullopt;
    for (std::string_view& line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
    }
    if (lines.front() != kMagic)
        return std::nullopt;

    ParsedBlock block;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        const std::vector<std::string_view> f = split(lines[i], '\t');
        if (f[0] == "FIXED" && f.size() == 5) {
            FixedFileInfo fixed;
            if (!parseVersion(f[1], fixed.fileVersionMS, fixed.fileVersionLS) ||
                !parseVersion(f[2], fixed.productVersionMS, fixed.productVersionLS) ||
                !parseNumber(f[3], 16, fixed.fileFlagsMask) ||
                !parseNumber(f[4], 16, fixed.fileFlags))
                return std::nullopt;
            block.fixed = fixed;
        } else if (f[0] == "TRANSLATION" && f.size() == 3) {
            Translation t;
            if (!parseNumber(f[1], 16, t.language) || !parseNumber(f[2], 16, t.codePage))
                return std::nullopt;
            block.translations.push_back(t);
        } else if (f[0] == "STRING" && f.size() == 4) {
            block.strings.push_back({std::string(f[1]), std::string(f[2]), std::string(f[3])});
        } else {
            return std::nullopt;
        }
    }
    return block;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

void appendLE16(std::string& out, std::uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}

void appendLE32(std::string& out, std::uint32_t v) {
    appendLE16(out, std::uint16_t(v & 0xFFFF));
    appendLE16(out, std::uint16_t(v >> 16));
}

} // namespace

void registerExecutableBlock(const char* data, std::size_t size) {
    g_blockData = size ? data : nullptr;
    g_blockSize = data ? size : 0;
}

std::uint32_t fileVersionInfoSize() {
    if (!g_blockData || g_blockSize > 0xFFFFFFFFu)
        return 0;
    return static_cast<std::uint32_t>(g_blockSize);
}

bool readFileVersionInfo(std::uint32_t size, std::vector<std::uint8_t>& buffer) {
    buffer.assign(std::size_t(size) + 1, 0);
    if (!g_blockData)
        return false;
    std::memcpy(buffer.data(), g_blockData, std::min<std::size_t>(size, g_blockSize));
    const std::string_view text(reinterpret_cast<const char*>(buffer.data()), size);
    return parse(text).has_value();
}

bool queryValue(const std::vector<std::uint8_t>& buffer, std::string_view subBlock,
                std::string& value) {
    value.clear();
    const std::optional<ParsedBlock> block =
        parse(std::string_view(reinterpret_cast<const char*>(buffer.data()), buffer.size()));
    if (!block)
        return false;

    if (subBlock == "\\") {
        if (!block->fixed)
            return false;
        const FixedFileInfo& f = *block->fixed;
        for (std::uint32_t word :
             {f.signature, f.structVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS,
              f.productVersionLS, f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType, f.fileSubtype,
              f.fileDateMS, f.fileDateLS})
            appendLE32(value, word);
        return true;
    }

    if (equalsNoCase(subBlock, "\\VarFileInfo\\Translation")) {
        if (block->translations.empty())
            return false;
        for (const Translation& t : block->translations) {
            appendLE16(value, t.language);
            appendLE16(value, t.codePage);
        }
        return true;
    }

    constexpr std::string_view stringPrefix = "\\StringFileInfo\\";
    if (subBlock.size() > stringPrefix.size() &&
        equalsNoCase(subBlock.substr(0, stringPrefix.size()), stringPrefix)) {
        const std::string_view rest = subBlock.substr(stringPrefix.size());
        const std::size_t slash = rest.find('\\');
        if (slash == std::string_view::npos)
            return false;
        const std::string_view name = rest.substr(0, slash);
        const std::string_view key = rest.substr(slash + 1);
        for (const StringEntry& entry : block->strings) {
            if (equalsNoCase(entry.block, name) && equalsNoCase(entry.key, key)) {
                value = entry.value;
                value.push_back('\0');
                return true;
            }
        }
    }
    return false;
}

} // namespace versioninfo
