#include "front/manual.h"

#include <cstdio>

#include "platform/environment.h"
#include "platform/files.h"

namespace {

constexpr char MANUAL_NAME[] = "tovik.man";
constexpr int CHUNK_SIZE = 100;  // 99 characters and the NUL

// Only a file that can be read counts: a directory or a FIFO of that name is
// no manual and does not hide one further on.
bool readable_file(const std::string& path) {
    os_file file;
    return open_for_reading(path, file);
}

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
    // A file in the current directory ends the search even if its full path
    // cannot be made: the user sees the file they meant, not another copy.
    if (readable_file(name)) {
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
        if (readable_file(candidate)) {
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
    if (found.empty() && installed_manual_path(MANUAL_NAME, installed) && readable_file(installed)) {
        found = installed;
    }
    if (found.empty()) return -1;
    std::FILE* manual = std::fopen(found.c_str(), "r");
    if (manual == nullptr) return -1;
    char chunk[CHUNK_SIZE];
    // Chunks go through "%s" so a '%' in the text prints as itself.
    while (std::fgets(chunk, CHUNK_SIZE, manual) != nullptr) std::printf("%s", chunk);
    std::fclose(manual);
    return 0;
}
