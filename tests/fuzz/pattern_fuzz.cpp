// The split of a command-line pattern and the wildcard matcher on arbitrary
// bytes. The input is "pattern NUL name" (no NUL: the name is empty), since a
// path can hold every byte but NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wildcard.h"
#include "platform/listing.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "pattern_fuzz: violated: %s\n", what);
    __builtin_trap();
}

// The matching rules written the obvious way, as a recursion over both
// texts: '*' any run of bytes, '?' one byte, every other byte itself.
// Memoised, so hostile patterns cost |pattern| x |name| steps, not more.
class reference_matcher {
public:
    reference_matcher(std::string_view pattern, std::string_view name)
        : pattern_(pattern), name_(name), memo_((pattern.size() + 1) * (name.size() + 1), -1) {}
    bool matches() { return match(0, 0); }

private:
    bool match(std::size_t p, std::size_t n) {
        if (p == pattern_.size()) return n == name_.size();
        signed char& known = memo_[p * (name_.size() + 1) + n];
        if (known >= 0) return known != 0;
        bool result;
        if (pattern_[p] == '*') {
            result = match(p + 1, n) || (n < name_.size() && match(p, n + 1));
        } else {
            result = n < name_.size() && (pattern_[p] == '?' || pattern_[p] == name_[n]) &&
                     match(p + 1, n + 1);
        }
        known = result ? 1 : 0;
        return result;
    }

    std::string_view pattern_;
    std::string_view name_;
    std::vector<signed char> memo_;
};

// With the one extra rule: a pattern ending in ".*" also matches what the
// pattern without those two bytes matches.
bool reference_match(std::string_view pattern, std::string_view name) {
    if (reference_matcher(pattern, name).matches()) return true;
    return pattern.ends_with(".*") &&
           reference_matcher(pattern.substr(0, pattern.size() - 2), name).matches();
}

void check_split(const std::string& pattern) {
    const std::string prefix = pattern_prefix(pattern);
    require(pattern.starts_with(prefix), "the prefix is taken from the pattern's own text");
    require(prefix.empty() || prefix.back() == '/', "the prefix is empty or ends with a separator");
    require(pattern.find('/', prefix.size()) == std::string::npos, "the prefix reaches the last separator");

    const std::string trimmed = trim_trailing_separators(pattern);
    require(trimmed.size() <= pattern.size(), "trimming never grows the text");
    require(pattern.starts_with(trimmed), "trimming only cuts the end");
    require(pattern.find_first_not_of('/', trimmed.size()) == std::string::npos,
            "only separators are cut");
    if (pattern.find_first_not_of('/') == std::string::npos) {
        require(trimmed == pattern, "a pattern of separators alone stays");
    } else {
        require(trimmed.back() != '/', "every trailing separator is cut");
    }
    require(trim_trailing_separators(trimmed) == trimmed, "trimming twice changes nothing");
}

void check_match(std::string_view pattern, std::string_view name, std::uint32_t pick) {
    const bool matched = wildcard_match(pattern, name);
    require(matched == reference_match(pattern, name), "the matcher agrees with the reference");

    const bool wild = pattern.find_first_of("*?") != std::string_view::npos;
    require(has_wildcard(pattern) == wild, "has_wildcard sees exactly '*' and '?'");
    if (!wild) require(matched == (pattern == name), "a pattern without wildcards matches itself alone");

    require(wildcard_match(pattern, pattern), "every pattern matches its own text");
    require(wildcard_match("*", name), "\"*\" matches every name");
    require(wildcard_match("*.*", name), "\"*.*\" matches every name");

    // Widening one byte of a pattern into '*' keeps every match it had.
    if (matched && !pattern.empty()) {
        std::string wider(pattern);
        wider[pick % wider.size()] = '*';
        require(wildcard_match(wider, name), "a '*' in place of any byte keeps the match");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view pattern = input.substr(0, nul);
    const std::string_view name = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    std::uint32_t pick = 2166136261u;  // FNV-1a of the input: which byte to widen
    for (const char c : input) pick = (pick ^ static_cast<unsigned char>(c)) * 16777619u;

    check_split(std::string(pattern));
    check_match(pattern, name, pick);
    return 0;
}
