// What only the Windows tests need: attribute words, the console when there
// is one, and wine. Scratch directories and files come from support/scratch.h.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "support/scratch.h"

// Sets the attribute word (FILE_ATTRIBUTE_DIRECTORY is kept by the system).
void set_attributes(const std::string& path, DWORD attributes);

// "CONIN$" opened for reading and writing key records, or
// INVALID_HANDLE_VALUE: wine gives a process a console only when its standard
// input is a terminal.
HANDLE open_console_input();
inline constexpr char NO_CONSOLE[] =
    "no console: CONIN$ cannot be opened (under wine, run with a terminal on standard input, "
    "as scripts/windows-test.sh does)";

// Runs this test binary again with arguments, as a new process created with
// flags: its exit status, or nothing when it did not start or did not end
// within timeout_ms (it is then ended).
std::optional<DWORD> run_this_binary(const std::string& arguments, DWORD flags,
                                     DWORD timeout_ms = 60000);

// Wine reports itself through an export of ntdll that Windows lacks.
bool running_under_wine();
// A path as a Windows program can open it: under wine a Unix path ("/...")
// becomes its DOS name, others stay as they are.
std::string windows_path(const std::string& path);
