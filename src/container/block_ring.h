// The copy loop under every container operation: the bytes of an open file,
// through RC4, into another, in large blocks. A long body alone is read and
// written by a second thread while this one runs the cipher over a small
// ring of blocks; two long bodies share one thread, their RC4 interleaved.
// Memory does not grow with the file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "cipher/rc4.h"
#include "platform/files.h"

// Size of the blocks the copies read and write, and how many a copy holds
// at most.
inline constexpr std::size_t COPY_BLOCK = 128 * 1024;
inline constexpr std::size_t COPY_BLOCKS = 4;

// The first bytes of the keystream every body of a run begins with (or of
// the two it is given for a new key, laid over each other), made once for
// the run: all bodies under one passphrase share one keystream from its
// first byte, so the part of a body within it needs only an XOR, and a
// small body no cipher at all. after and after_second: the states that
// follow those bytes, where a longer body goes on. Wiped when it goes.
struct keystream_start {
    std::vector<std::uint8_t> bytes;
    rc4_state after{}, after_second{};
    ~keystream_start();
};
// start becomes length bytes (at least one) of the keystream of key, laid
// over by those of second when it is given.
void make_keystream_start(keystream_start& start, std::size_t length, const std::uint8_t* key,
                          std::size_t key_length, const std::uint8_t* second = nullptr,
                          std::size_t second_length = 0);

// How a copy went; cancelled: stopped because the run ended.
enum class copy_status { ok, read_failed, write_failed, cancelled };

// A body on its way from one open file to another through RC4 (and through
// a second keystream, refilter, when it is given: the body of a container
// deciphered and enciphered under another key in one pass). With start, the
// body takes the run's keystream start first (position: how far), and its
// states are set from it where it ends; without, they are set up. done counts
// the body bytes written (by whichever thread writes them), for a progress
// display; stop, when given, ends the copy at its next block. blocks is a
// set of COPY_BLOCKS blocks (copy_blocks); the first holds `ready` bytes
// filled and filtered, not yet written.
struct body_copy {
    os_file& from;
    os_file& to;
    rc4_state& filter;
    std::atomic<std::uint64_t>& done;
    const std::atomic<bool>* stop = nullptr;
    std::uint8_t* blocks = nullptr;
    std::size_t ready = 0;
    rc4_state* refilter = nullptr;
    const keystream_start* start = nullptr;
    std::uint64_t position = 0;
};

// Reads until size bytes are in block or the input ends: how many, or -1.
std::ptrdiff_t fill_block(os_file& from, std::uint8_t* block, std::size_t size);

// The block sets of this thread, allocated on first use: a run over many
// small files takes no fresh memory for each. Two (block_set 0 and 1), for
// two bodies at once.
std::uint8_t* copy_blocks(int block_set);

// The source's first bytes are read into the first block of a copy after
// this much room (for a lead, a header), up to FIRST_READ of them.
inline constexpr std::size_t HEADER_ROOM = 37;
inline constexpr std::size_t FIRST_READ = COPY_BLOCK - HEADER_ROOM;
// Starts a copy whose first block holds read bytes of the source after
// HEADER_ROOM (fewer than FIRST_READ: the whole source): drops the first
// drop of them, puts lead (unchanged, at most HEADER_ROOM bytes) before the
// rest, fills the block from the source, and filters the body bytes. A body
// that fits in one block is written whole, and more is false; a longer one
// waits in the block for stream_rest or step_pair. When there is no body
// byte at all, nothing is written, lead included.
copy_status start_body(body_copy& copy, std::size_t read, std::size_t drop, std::string_view lead,
                       bool& more);
// The rest of a body that start_body left waiting, alone: a second thread
// reads and writes while this one runs the cipher.
copy_status stream_rest(body_copy& copy);
// One block more of each of two bodies that wait in their blocks, their RC4
// steps interleaved: writes each block in hand, then reads and filters the
// next. A body whose input ended is written to its end, and its more turns
// false; a failed one, too, with its status.
void step_pair(body_copy& a, copy_status& a_status, bool& a_more, body_copy& b,
               copy_status& b_status, bool& b_more);
