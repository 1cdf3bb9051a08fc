// The container layout and the operations that recognise, check, remove and
// add its 37-byte header.
//
//   offset 0   5 bytes   "tvk4:"
//   offset 5   32 bytes  check value: lower-case hex digits from the passphrase
//   offset 37  n bytes   the plain bytes under RC4
#pragma once

#include <cstddef>
#include <string>

#include "cipher/rc4.h"

inline constexpr char CONTAINER_MAGIC[] = "tvk4:";
inline constexpr std::size_t MAGIC_LENGTH = 5;
inline constexpr std::size_t HEADER_LENGTH = 37;

// 1 when the file begins with the first five characters of header, 0 when it
// does not, -1 when it cannot be opened for update.
int probe_container(const std::string& path, const char* header);

enum class copy_kind { skip, prepend };

// Copies source to destination, dropping the first HEADER_LENGTH bytes (skip)
// or writing header_text first (prepend). When filter is given, every body
// byte passes through that RC4 state on its way. 0, or -1 on any failure; a
// failed copy leaves no destination behind.
int copy_with_header(const std::string& source, const std::string& destination, copy_kind kind,
                     const char* header_text, rc4_state* filter = nullptr);

// 0, -1 (cannot open), or -10 when the header does not match header_text
// (then nothing is written).
int unwrap_container(const std::string& container, const std::string& destination,
                     const char* header_text, rc4_state* filter = nullptr);

// 0 or -1.
int wrap_container(const std::string& source, const std::string& container,
                   const char* header_text, rc4_state* filter = nullptr);
