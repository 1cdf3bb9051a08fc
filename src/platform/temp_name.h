// The name of the temporary an output is written under, beside its final
// name, until it is complete and renamed into place (its life: ending.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The creation pattern for a temporary beside final_path, ending in six 'X'
// to be replaced by random characters: "<final_path>.tovik-partial-XXXXXX",
// or "<directory of final_path>.tovik-partial-XXXXXX" when the last name
// would then be longer than name_limit. separators are the characters that
// end a directory part on this platform.
std::string temp_name_pattern(const std::string& final_path, std::size_t name_limit,
                              std::string_view separators);
// The name (without directory) has exactly the shape of a temporary.
bool is_temporary_name(std::string_view name);
// How much longer than its output's name a temporary's name is, at most.
inline constexpr std::size_t TEMP_NAME_ROOM = 21;
