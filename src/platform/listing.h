// Directory enumeration by pattern, each entry with its attribute word
// (listing_posix.cpp, listing_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

// Attribute bits, as the Windows file system reports them; other platforms
// map their file types onto them (see listing_posix.cpp).
inline constexpr std::uint32_t ATTRIBUTE_READONLY = 0x1;
inline constexpr std::uint32_t ATTRIBUTE_HIDDEN = 0x2;
inline constexpr std::uint32_t ATTRIBUTE_SYSTEM = 0x4;
inline constexpr std::uint32_t ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr std::uint32_t ATTRIBUTE_DEVICE = 0x40;
inline constexpr std::uint32_t ATTRIBUTE_REPARSE_POINT = 0x400;

struct directory_entry {
    std::string name;  // the name within its directory, as stored there
    std::uint32_t attributes = 0;
    std::int64_t size = -1;  // of a regular file (or one a link leads to); -1 for the others
};

struct listing;  // one open enumeration

// Starts enumerating the entries that pattern matches and fills in the
// first. nullptr when nothing matches or the directory cannot be read.
listing* listing_start(const std::string& pattern, directory_entry& first);
// The next matching entry; false at the end or on any failure.
bool listing_next(listing* open, directory_entry& entry);
// false when some entries were listed but could not be examined (a directory
// that may be read but not searched): they are left out.
bool listing_complete(const listing* open);
void listing_end(listing* open);

// The drive and directory part of a pattern, taken from its own text: every
// collected path and sub-pattern begins with it.
std::string pattern_prefix(const std::string& pattern);
// The pattern that enumerates everything inside the directory at path.
std::string descent_pattern(const std::string& path);
// Top-level pattern as given by the user, with trailing separators removed
// (so "docs/" names the directory docs); a pattern of separators alone stays.
std::string trim_trailing_separators(const std::string& pattern);
