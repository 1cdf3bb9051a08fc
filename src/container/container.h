// The container layout and the operations that recognise, check, remove and
// add its 37-byte header.
//
//   offset 0   5 bytes   "tvk4:"
//   offset 5   32 bytes  check value: lower-case hex digits from the passphrase
//   offset 37  n bytes   the plain bytes under RC4
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cipher/rc4.h"
#include "platform/files.h"

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
// failed copy leaves no partial destination, and an earlier one as it was.
int copy_with_header(const std::string& source, const std::string& destination, copy_kind kind,
                     const char* header_text, rc4_state* filter = nullptr);

// 0, -1 (cannot open), or -10 when the header does not match header_text
// (then nothing is written).
int unwrap_container(const std::string& container, const std::string& destination,
                     const char* header_text, rc4_state* filter = nullptr);

// 0 or -1.
int wrap_container(const std::string& source, const std::string& container, const char* header_text,
                   rc4_state* filter = nullptr);

// Lower level, on open files: the file transform does its whole job with
// these over one open input, in one pass.

// The first bytes of a file, as many as it has up to HEADER_LENGTH.
struct header_bytes {
    std::uint8_t data[HEADER_LENGTH];
    std::size_t length = 0;
};
// Reads from the current position up to HEADER_LENGTH bytes; false on a read
// error.
bool read_header(os_file& file, header_bytes& header);
// The first five bytes equal the first five characters of magic (the bare
// magic or a whole header_text); a shorter file never matches.
bool has_magic(const header_bytes& header, const char* magic);
// All HEADER_LENGTH bytes are there and equal header_text.
bool header_matches(const header_bytes& header, const char* header_text);

// Size of the blocks the copies read and write, and how many a copy holds
// at most (a long body is read, ciphered and written in a ring of them).
inline constexpr std::size_t COPY_BLOCK = 128 * 1024;
inline constexpr std::size_t COPY_BLOCKS = 4;

enum class copy_status { ok, read_failed, write_failed };

// Writes lead unchanged, then carried (body bytes already read from from),
// then the rest of from; every body byte passes through filter when given.
// When there is no body byte at all, nothing is written, lead included.
// lead and carried are at most a header each.
copy_status stream_body(os_file& from, os_file& to, std::string_view lead,
                        std::span<const std::uint8_t> carried, rc4_state* filter);

// An output being written under a temporary name beside its final name. The
// destructor removes a temporary that was not renamed into place, so every
// way out of a failed copy cleans up.
struct pending_output {
    os_file file;
    std::string temp_path;  // empty once renamed or removed
    pending_output() = default;
    pending_output(const pending_output&) = delete;
    pending_output& operator=(const pending_output&) = delete;
    ~pending_output();
};
// Creates the temporary for final_path and registers it for removal if a
// signal ends the run.
bool begin_output(const std::string& final_path, pending_output& output);
// Renames the temporary, already closed, over final_path.
bool finish_output(pending_output& output, const std::string& final_path);
