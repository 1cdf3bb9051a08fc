// The progress line shown on standard error's terminal while a long target
// is processed.
#pragma once

#include <cstdint>
#include <string>

// Whether progress is shown in this run: standard error is a terminal and
// TOVIK_PROGRESS is not "0".
bool progress_wanted();
// The line for path: "<path>  42%  1.2 of 2.0 GiB  410 MiB/s", the path cut
// from the left so that the line fits in width - 1 columns.
std::string progress_text(const std::string& path, std::uint64_t done, std::int64_t total,
                          double seconds, int width);
