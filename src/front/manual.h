// The manual page "tovik.man", looked for in the current directory, then
// along PATH, then (POSIX) where the install put it, printed on request.
#pragma once

#include <cstddef>
#include <string>

// 0 when the manual was found, opened and printed; -1 (nothing printed) when
// it was not found or cannot be opened.
int show_manual();

// result receives the path of name: its full path when it exists in the
// current directory, else the first existing candidate along the variable's
// directory list; empty when not found.
void find_on_path(const char* name, const char* variable, std::string& result);

// The next element of a directory list value, from pos on; false when there
// is none. Runs of separators make no empty elements; with quotes, double
// quotes group characters (separator included) and are not copied.
bool next_path_element(const std::string& value, std::size_t& pos, char separator, bool quotes,
                       std::string& element);
