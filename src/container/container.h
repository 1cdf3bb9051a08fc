// The container layout and the operations that recognise, check, remove and
// add its 37-byte header.
//
//   offset 0   5 bytes   "tvk4:" (CONTAINER_MAGIC)
//   offset 5   32 bytes  check value: lower-case hex digits from the passphrase
//   offset 37  n bytes   the plain bytes under RC4
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "container/block_ring.h"
#include "platform/files.h"

inline constexpr std::string_view CONTAINER_SUFFIX = ".tvk";

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

// 1 when the file begins with the first five characters of header, 0 when it
// does not, -1 when it cannot be opened for update.
int probe_container(const std::string& path, const char* header);

// The file is a container whose header is not header_text: it was made under
// another passphrase.
bool under_another_key(const std::string& path, const char* header_text);

// The copies work on open files. head is what was read of the source's first
// bytes (read_header); the rest of the source follows its read position.
enum class copy_kind { skip, prepend };
// The first block of copy_with_header into copy (start_body): more tells
// that the rest of the body waits for stream_rest or step_pair.
copy_status start_with_header(body_copy& copy, const header_bytes& head, copy_kind kind,
                              const char* header_text, bool& more);
// Copies the source to destination, dropping its first HEADER_LENGTH bytes
// (skip) or writing header_text first (prepend); every body byte passes
// through filter.
// watch, when given, counts the body bytes written and may stop the copy.
copy_status copy_with_header(os_file& source, const header_bytes& head, os_file& destination,
                             copy_kind kind, const char* header_text, rc4_state& filter,
                             copy_watch* watch = nullptr);
// The body of a container whose header is head, deciphered; wrong_key (and
// nothing written) when head does not match header_text.
copy_status unwrap_container(os_file& container, const header_bytes& head, os_file& destination,
                             const char* header_text, rc4_state& filter,
                             copy_watch* watch = nullptr);
// header_text, then every byte of the source enciphered.
copy_status wrap_container(os_file& source, const header_bytes& head, os_file& container,
                           const char* header_text, rc4_state& filter,
                           copy_watch* watch = nullptr);

// Cuts one trailing ".tvk" (case matters); other paths stay as they are.
void strip_container_suffix(std::string& path);
// The name of a target's output: the path less one trailing ".tvk" when
// decrypting (a container named without it is decrypted in place), the path
// and ".tvk" when encrypting.
std::string output_name(const std::string& path, bool decrypting);
