// Directory enumeration on Windows: the system matches the wildcards and
// reports each entry's attribute word, which is passed through unchanged
// except that a word of FILE_ATTRIBUTE_NORMAL alone reads as 0.
#include <windows.h>

#include <memory>

#include "platform/fault.h"
#include "platform/listing.h"

struct listing {
    HANDLE find;
};

namespace {

void take_entry(const WIN32_FIND_DATAA& data, directory_entry& entry) {
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes == FILE_ATTRIBUTE_NORMAL ? 0 : data.dwFileAttributes;
    entry.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                     ? -1
                     : static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                                 data.nFileSizeLow);
}

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// Length of the character starting at text[i]: 2 for a lead byte of the ANSI
// code page (so its second byte is never taken for a separator), else 1.
std::size_t character_length(const std::string& text, std::size_t i) {
    const bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[i])) != 0;
    return lead && i + 1 < text.size() ? 2 : 1;
}

std::size_t drive_length(const std::string& pattern) {
    return pattern.size() >= 2 && pattern[1] == ':' ? 2 : 0;
}

}  // namespace

listing* listing_start(const std::string& pattern, directory_entry& first) {
    if (fault_injected(fault_point::list)) return nullptr;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    // Out of memory ends the collection (std::bad_alloc), as on POSIX.
    std::unique_ptr<listing> open;
    try {
        open.reset(new listing{find});
    } catch (...) {
        FindClose(find);
        throw;
    }
    take_entry(data, first);
    return open.release();
}

bool listing_next(listing* open, directory_entry& entry) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(open->find, &data)) return false;
    take_entry(data, entry);
    return true;
}

// The system reports every entry with its attributes.
bool listing_complete(const listing* /*open*/) { return true; }

void listing_end(listing* open) {
    FindClose(open->find);
    delete open;
}

std::string pattern_prefix(const std::string& pattern) {
    const std::size_t drive = drive_length(pattern);
    std::size_t end = drive;  // just past the last separator
    for (std::size_t i = drive; i < pattern.size(); i += character_length(pattern, i)) {
        if (is_separator(pattern[i])) end = i + 1;
    }
    return pattern.substr(0, end);
}

std::string descent_pattern(const std::string& path) {
    return path + "\\*.*";
}

std::string trim_trailing_separators(const std::string& pattern) {
    const std::size_t drive = drive_length(pattern);
    std::size_t keep = 0;  // just past the last character that is no separator
    for (std::size_t i = 0; i < pattern.size();) {
        const std::size_t length = i < drive ? 1 : character_length(pattern, i);
        if (!is_separator(pattern[i]) || length == 2) keep = i + length;
        i += length;
    }
    if (keep == 0) return pattern;  // empty, or separators alone ("\\")
    // "C:\\" names the root of the drive, "C:" its current directory: keep one.
    if (keep == drive && pattern.size() > drive) ++keep;
    return pattern.substr(0, keep);
}
