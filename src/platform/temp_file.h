// The temporary an output is written under, beside its final name, until it
// is complete and renamed into place: its name, and its life cycle with the
// interrupt cleanup.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files.h"

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

// An output being written under its temporary name. The destructor removes a
// temporary that was not renamed into place, so every way out of a failed
// copy cleans up.
struct temp_output {
    os_file file;
    std::string temp_path;  // empty once renamed or removed
    temp_output() = default;
    temp_output(const temp_output&) = delete;
    temp_output& operator=(const temp_output&) = delete;
    ~temp_output();
};
// Creates the temporary for final_path and registers it for removal if a
// signal ends the run.
bool begin_output(const std::string& final_path, temp_output& output);
// Renames the temporary, already closed, to final_path: over an existing
// file when replace, else only when nothing has that name (taken tells).
bool finish_output(temp_output& output, const std::string& final_path, bool replace, bool& taken);
// Renames the temporary, already closed, over path, the input it was made
// from, only while that is still the file read in state read (changed tells).
bool replace_input(temp_output& output, const std::string& path, const file_state& read,
                   bool& changed);
// Removes the temporary now (closing it first).
void discard_output(temp_output& output);
