#pragma once
// Version information of the running executable. The build compiles a
// version block into the executable (see versionblock.cpp.in), which registers
// itself before main() runs; this layer answers the same three questions a
// desktop's version library answers: how large is the block, read it, and
// query one value from it.
//
// Block format: UTF-8 text, one record per line, fields separated by tabs.
//   TWVERSIONINFO <tab> 1                                  (first line, required)
//   FIXED <tab> a.b.c.d <tab> a.b.c.d <tab> flagsmask <tab> flags
//                     file version, product version, hexadecimal flag words
//   TRANSLATION <tab> language <tab> code page             (four hex digits each)
//   STRING <tab> block <tab> key <tab> value                (block: language and code page, 8 hex
//   digits)
// Blank lines are ignored; anything else makes the block unreadable.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace versioninfo {

// File flag bits of the fixed information.
constexpr std::uint32_t ffDebug = 0x01;
constexpr std::uint32_t ffPreRelease = 0x02;
constexpr std::uint32_t ffPatched = 0x04;
constexpr std::uint32_t ffPrivateBuild = 0x08;
constexpr std::uint32_t ffInfoInferred = 0x10;
constexpr std::uint32_t ffSpecialBuild = 0x20;

// Layout of the fixed information returned for the root block "\": thirteen
// little-endian 32-bit words.
struct FixedFileInfo {
    std::uint32_t signature = 0xFEEF04BD;
    std::uint32_t structVersion = 0x00010000;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 1; // application
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};
constexpr std::size_t kFixedFileInfoSize = 13 * 4;
constexpr std::size_t kFileFlagsOffset = 7 * 4;

// Makes `data` the running executable's version block (the build does this
// at start-up; tests register crafted blocks). The data must outlive every
// use; a null pointer or size 0 means the executable has none.
void registerExecutableBlock(const char* data, std::size_t size);

// Size of the executable's version information; 0 when it has none.
std::uint32_t fileVersionInfoSize();

// Copies the version information into `buffer` (resized to `size` + 1 bytes)
// and checks it; false when it cannot be read.
bool readFileVersionInfo(std::uint32_t size, std::vector<std::uint8_t>& buffer);

// Looks up a sub-block of version information read by readFileVersionInfo:
//   "\"                              the fixed information (FixedFileInfo bytes)
//   "\VarFileInfo\Translation"       4 bytes per translation: language, code page (16-bit LE each)
//   "\StringFileInfo\<block>\<key>"  the string value followed by a zero byte
// Names compare without regard to case. False when the sub-block does not exist.
bool queryValue(const std::vector<std::uint8_t>& buffer, std::string_view subBlock,
                std::string& value);

// One string value of a block.
struct StringEntry {
    std::string block;
    std::string key;
    std::string value;
};

} // namespace versioninfo
