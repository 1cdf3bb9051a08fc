// Helpers for the Windows tests: a fresh directory per test, files with given
// attributes, and the console when there is one.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <string_view>

#include "support/scratch.h"

// A new directory under the temporary directory, made the current directory
// while it lives; removed afterwards, read-only files included.
struct scratch_directory {
    std::string path;      // absolute, with backslashes, no trailing one
    std::string previous;  // the current directory before
    scratch_directory();
    ~scratch_directory();
    scratch_directory(const scratch_directory&) = delete;
    scratch_directory& operator=(const scratch_directory&) = delete;
};

// The names in directory, without "." and "..".
std::set<std::string> names_in(const std::string& directory);
void make_directory(const std::string& path);
// Sets the attribute word (FILE_ATTRIBUTE_DIRECTORY is kept by the system).
void set_attributes(const std::string& path, DWORD attributes);

// "CONIN$" opened for reading and writing key records, or
// INVALID_HANDLE_VALUE: wine gives a process a console only when its standard
// input is a terminal.
HANDLE open_console_input();
inline constexpr char NO_CONSOLE[] =
    "no console: CONIN$ cannot be opened (under wine, run with a terminal on standard input, "
    "as scripts/windows-test.sh does)";

// Wine reports itself through an export of ntdll that Windows lacks.
bool running_under_wine();
// A path as a Windows program can open it: under wine a Unix path ("/...")
// becomes its DOS name, others stay as they are.
std::string windows_path(const std::string& path);
