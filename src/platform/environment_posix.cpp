#include <cstdlib>

#include "platform/environment.h"

bool environment_value(const char* name, std::string& value) {
    const char* found = std::getenv(name);  // POSIX names are case-sensitive
    if (found == nullptr) return false;
    value = found;
    return true;
}

// POSIX directory lists have no quoting: a '"' is part of a directory name.
path_list_rules path_list_convention() { return {':', false}; }

std::string join_path(const std::string& element, const std::string& name) {
    if (!element.empty() && element.back() == '/') return element + name;
    return element + "/" + name;
}
