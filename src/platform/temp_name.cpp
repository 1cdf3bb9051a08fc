#include "platform/temp_name.h"

namespace {

// No user names a file like this by chance, and the exact shape is checked,
// so a user's "notes.tovik-config" is never taken for a leftover.
constexpr std::string_view TEMP_MARK = ".tovik-partial-";
constexpr std::string_view RANDOM_PART = "XXXXXX";
static_assert(TEMP_MARK.size() + RANDOM_PART.size() == TEMP_NAME_ROOM);

bool is_random_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string temp_name_pattern(const std::string& final_path, std::size_t name_limit,
                              std::string_view separators) {
    const std::size_t cut = final_path.find_last_of(separators);
    const std::size_t name_start = cut == std::string::npos ? 0 : cut + 1;
    const std::size_t name_length = final_path.size() - name_start;
    std::string pattern = final_path;
    // A name at the limit cannot take the mark: the temporary then goes by
    // the mark alone, still in the same directory so the rename stays atomic.
    if (name_length + TEMP_MARK.size() + RANDOM_PART.size() > name_limit)
        pattern.resize(name_start);
    pattern += TEMP_MARK;
    pattern += RANDOM_PART;
    return pattern;
}

bool is_temporary_name(std::string_view name) {
    const std::size_t tail = TEMP_MARK.size() + RANDOM_PART.size();
    if (name.size() < tail) return false;
    const std::size_t mark = name.size() - tail;
    if (name.substr(mark, TEMP_MARK.size()) != TEMP_MARK) return false;
    for (std::size_t i = mark + TEMP_MARK.size(); i < name.size(); ++i) {
        if (!is_random_character(name[i])) return false;
    }
    return true;
}
