// The list of target paths collected from the input pattern. Every path is
// kept in one block of text, ended by a NUL, with its place and the size its
// listing gave: a tree of a million files costs little more than its names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct target_list {
    struct found_target {
        std::size_t at;            // in text
        std::int64_t listed_size;
    };
    std::string text;
    std::vector<found_target> found;  // in the order of discovery

    // The run takes the targets in the reverse of their discovery: target 0
    // is the one found last.
    std::size_t size() const { return found.size(); }
    bool empty() const { return found.empty(); }
    std::string_view path(std::size_t i) const {
        return text.c_str() + found[found.size() - 1 - i].at;
    }
    std::int64_t listed_size(std::size_t i) const {
        return found[found.size() - 1 - i].listed_size;
    }
};

// A target's size as its listing gave it; or one of these.
inline constexpr std::int64_t SIZE_NOT_LISTED = -1;  // the list was not made by a listing
inline constexpr std::int64_t NOT_A_FILE = -2;       // listed, no regular file: never opened

// Adds to *list every target that pattern yields, descending into the
// directories it matches, and to notes a line for each thing met that the
// run cannot take. true when the enumeration of the pattern started
// (collected or not), false when it could not start. Throws std::bad_alloc
// when memory runs out: a list cut short would leave files out of the run
// without a word.
bool collect_targets(target_list* list, const std::string& pattern,
                     std::vector<std::string>& notes);
// The words that are never targets: exactly read-only, hidden, system or
// directory. Whole words are compared, not single bits.
bool attribute_excluded(std::uint32_t attributes);
// An entry is descended into when its word is exactly the directory bit and
// its name is neither "." nor "..".
bool entry_descended(const std::string& name, std::uint32_t attributes);
// Adds path at the end of the discovery order; throws std::bad_alloc.
void push_target(target_list* list, std::string_view path,
                 std::int64_t listed_size = SIZE_NOT_LISTED);
// Empties the list and gives its memory back.
void free_targets(target_list* list);
