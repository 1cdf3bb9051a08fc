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

// The copies work on open files. The source's first bytes are read into the
// first block of the copy's block set (read_first: how many, or -1); they
// tell what the source is (head_of) and begin its body. skip drops the
// source's first HEADER_LENGTH bytes (a container's header); prepend writes
// header_text first; replace does both (a container's body given another
// key's header). The first block goes into copy (start_body): more tells
// that the rest of the body waits for stream_rest or step_pair.
std::ptrdiff_t read_first(os_file& source, std::uint8_t* blocks);
header_bytes head_of(const std::uint8_t* blocks, std::size_t read);
enum class copy_kind { skip, prepend, replace };
copy_status start_with_header(body_copy& copy, std::size_t read, copy_kind kind,
                              const char* header_text, bool& more);

// Cuts one trailing ".tvk" (case matters); other paths stay as they are.
void strip_container_suffix(std::string& path);
// The name of a target's output: the path less one trailing ".tvk" when
// decrypting (a container named without it is decrypted in place), the path
// and ".tvk" when encrypting.
std::string output_name(const std::string& path, bool decrypting);
