#include <unistd.h>

#include <cstdlib>
#include <vector>

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

// TOVIK_MANUAL_FROM_PROGRAM, given by the build, is the manual's directory
// relative to the executable's in the install layout ("../share/tovik");
// without /proc (a bare chroot) the program cannot tell where it is, and the
// install directory the build was made for, TOVIK_INSTALLED_MANUAL_DIR, is
// taken instead.
bool installed_manual_path(const char* name, std::string& path) {
    std::vector<char> buffer(256);
    ssize_t length;
    // readlink adds no NUL, and a full buffer may hold a cut name.
    while ((length = ::readlink("/proc/self/exe", buffer.data(), buffer.size())) >= 0 &&
           static_cast<std::size_t>(length) == buffer.size()) {
        buffer.resize(buffer.size() * 2);
    }
    if (length < 0) {
        path = join_path(TOVIK_INSTALLED_MANUAL_DIR, name);
        return true;
    }
    const std::string program(buffer.data(), static_cast<std::size_t>(length));
    const std::size_t slash = program.rfind('/');
    if (slash == std::string::npos) return false;
    path = join_path(join_path(program.substr(0, slash + 1), TOVIK_MANUAL_FROM_PROGRAM), name);
    return true;
}
