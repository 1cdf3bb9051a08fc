// Wildcard matching of one name, for platforms whose directory enumeration
// does not match patterns itself.
#pragma once

#include <string_view>

// '*' matches any run of bytes (also none), '?' exactly one byte; all other
// bytes match themselves, case-sensitively. A pattern ending in ".*" also
// matches names without that dot, so "*.*" matches every name.
bool wildcard_match(std::string_view pattern, std::string_view name);
// The pattern holds '*' or '?'.
bool has_wildcard(std::string_view pattern);
