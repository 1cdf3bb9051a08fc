// Names of the temporaries an output is written under before it is renamed
// into place (shared by files_posix.cpp and files_win32.cpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The creation pattern for a temporary beside final_path, ending in six 'X'
// to be replaced by random characters: "<final_path>.tovik-XXXXXX", or
// "<directory of final_path>.tovik-XXXXXX" when the last name would then be
// longer than name_limit. separators are the characters that end a
// directory part on this platform.
std::string temp_name_pattern(const std::string& final_path, std::size_t name_limit,
                              std::string_view separators);
