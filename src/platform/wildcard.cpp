#include "platform/wildcard.h"

namespace {

// Greedy match that remembers the last '*' and retries it one byte further
// on a mismatch: linear space, at worst pattern length times name length
// steps, so hostile patterns such as "*a*a*a*b" cannot explode.
bool match_plain(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;  // position of the last '*' seen
    std::size_t resume = 0;                     // where that '*' resumes in name
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view name) {
    if (match_plain(pattern, name)) return true;
    // "name.*" also takes "name" itself, as on the system these patterns come
    // from; this is what makes "*.*" match names without a dot.
    return pattern.ends_with(".*") && match_plain(pattern.substr(0, pattern.size() - 2), name);
}

bool has_wildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}
