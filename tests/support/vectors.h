// Reading the test vector files in tests/vectors/: one vector a line, fields
// separated by spaces, "-" for an empty field, '#' lines naming the source.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The vector lines of the named file, split into fields ("-" read as empty).
// Reports a test failure, and returns nothing, when the file cannot be read.
std::vector<std::vector<std::string>> read_vector_file(const char* name);

// Bytes from pairs of hex digits (either case); a test failure on bad input.
std::string from_hex(std::string_view hex);

// Two lower-case hex digits per byte.
std::string to_hex(std::string_view bytes);

// "hello\n" under the passphrase "secret", from the whole-container vectors.
std::string hello_container();
