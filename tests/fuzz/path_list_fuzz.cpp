// The directory-list splitter on arbitrary variable values, in both
// conventions: ':' without quotes (POSIX) and ';' with quotes (Windows).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "front/manual.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "path_list_fuzz: violated: %s\n", what);
    __builtin_trap();
}

// The same rules as one pass over the whole value: a separator outside
// quotes ends the element in hand, if any character (quotes included) went
// into it; a quote flips the quoting and is not copied.
std::vector<std::string> reference_split(const std::string& value, char separator, bool quotes) {
    std::vector<std::string> elements;
    std::string element;
    bool started = false;
    bool quoted = false;
    for (const char c : value) {
        if (c == separator && !quoted) {
            if (started) elements.push_back(element);
            element.clear();
            started = false;
            continue;
        }
        started = true;
        if (quotes && c == '"') {
            quoted = !quoted;
        } else {
            element += c;
        }
    }
    if (started) elements.push_back(element);
    return elements;
}

void check_convention(const std::string& value, char separator, bool quotes) {
    std::vector<std::string> elements;
    std::size_t pos = 0;
    std::string element;
    for (;;) {
        const std::size_t before = pos;
        const bool found = next_path_element(value, pos, separator, quotes, element);
        require(pos >= before, "pos never goes back");
        require(pos <= value.size(), "pos stays within the value");
        if (!found) {
            require(pos == value.size(), "no element only at the end of the value");
            break;
        }
        require(pos > before, "every element moves pos on, so the loop ends");
        require(elements.size() < value.size(), "at most one element per byte");
        if (quotes) {
            require(element.find('"') == std::string::npos, "quotes are not copied");
        } else {
            require(!element.empty(), "without quotes no element is empty");
            require(element.find(separator) == std::string::npos, "without quotes no element holds the separator");
        }
        elements.push_back(element);
    }
    require(elements == reference_split(value, separator, quotes), "the elements follow the rules");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    check_convention(value, ':', false);
    check_convention(value, ';', true);
    return 0;
}
