// The process environment and the platform's PATH conventions
// (environment_posix.cpp, environment_win32.cpp).
#pragma once

#include <string>

// Value of the variable (name matched without regard to case where the
// platform does so); false when it is absent.
bool environment_value(const char* name, std::string& value);

// How the directory list of PATH is written on this platform.
struct path_list_rules {
    char separator;       // ':' or ';'
    bool quotes;          // double quotes group characters, separator included
};
path_list_rules path_list_convention();
// The candidate path of name inside the directory element: a separator is
// added unless the element already ends with one (or a drive colon).
std::string join_path(const std::string& element, const std::string& name);

// Where an installed tree keeps the manual called name, known only from the
// running executable; false when there is no such place or it cannot be
// told. POSIX: <prefix>/share/tovik/name, reached from the executable's own
// directory (symbolic links resolved), so any install prefix works. Windows
// has none: the manual sits beside tovik.exe, found along PATH.
bool installed_manual_path(const char* name, std::string& path);
