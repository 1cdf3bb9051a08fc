#include "front/manual.h"

#include <cstdio>

#include "platform/environment.h"
#include "platform/files.h"

namespace {

constexpr char MANUAL_NAME[] = "tovik.man";
constexpr int CHUNK_SIZE = 100;  // 99 characters and the NUL

}  // namespace

bool next_path_element(const std::string& value, std::size_t& pos, char separator, bool quotes,
                       std::string& element) {
    while (pos < value.size() && value[pos] == separator) ++pos;
    if (pos >= value.size()) return false;
    element.clear();
    bool quoted = false;
    for (; pos < value.size(); ++pos) {
        char c = value[pos];
        if (quotes && c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == separator && !quoted) break;
        element += c;
    }
    while (pos < value.size() && value[pos] == separator) ++pos;
    return true;
}

void find_on_path(const char* name, const char* variable, std::string& result) {
    result.clear();
    // A name in the current directory ends the search even if it cannot be
    // opened later: the user sees the file they meant, not another copy.
    if (path_exists(name)) {
        if (!full_path(name, result)) result.clear();
        return;
    }
    std::string value;
    if (!environment_value(variable, value)) return;
    const path_list_rules rules = path_list_convention();
    std::size_t pos = 0;
    std::string element;
    while (next_path_element(value, pos, rules.separator, rules.quotes, element)) {
        if (element.empty()) return;  // only an empty quoted run gives this
        std::string candidate = join_path(element, name);
        if (path_exists(candidate)) {
            result = candidate;
            return;
        }
    }
}

int show_manual() {
    std::string found;
    find_on_path(MANUAL_NAME, "PATH", found);
    // Then where an install put it: an installed tovik needs no manual in bin/.
    std::string installed;
    if (found.empty() && installed_manual_path(MANUAL_NAME, installed) && path_exists(installed)) {
        found = installed;
    }
    // Only a regular file is read: a directory or a FIFO of that name is no
    // manual, and opening a FIFO would block.
    if (found.empty() || file_size(found) < 0) return -1;
    std::FILE* manual = std::fopen(found.c_str(), "r");
    if (manual == nullptr) return -1;
    char chunk[CHUNK_SIZE];
    // Chunks go through "%s" so a '%' in the text prints as itself.
    while (std::fgets(chunk, CHUNK_SIZE, manual) != nullptr) std::printf("%s", chunk);
    std::fclose(manual);
    return 0;
}
