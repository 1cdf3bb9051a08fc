// The copy loop under every container operation: the bytes of an open file,
// through RC4, into another, in large blocks. A long body is read and written
// by a second thread while this one runs the cipher over a small ring of
// blocks, so memory does not grow with the file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cipher/rc4.h"
#include "platform/files.h"

// Size of the blocks the copies read and write, and how many a copy holds
// at most.
inline constexpr std::size_t COPY_BLOCK = 128 * 1024;
inline constexpr std::size_t COPY_BLOCKS = 4;

enum class copy_status { ok, read_failed, write_failed, wrong_key, cancelled };

// A copy as other threads see it: the body bytes written so far (by whichever
// thread writes them), for a progress display; and, when stop is given, a
// flag that ends the copy at its next block, cancelled, when the run ends.
struct copy_watch {
    std::atomic<std::uint64_t> done{0};
    const std::atomic<bool>* stop = nullptr;
    bool stopped() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

// Writes lead unchanged, then carried (body bytes already read from from),
// then the rest of from; every body byte passes through filter. When there is
// no body byte at all, nothing is written, lead included. lead and carried
// are at most a header each.
copy_status stream_body(os_file& from, os_file& to, std::string_view lead,
                        std::span<const std::uint8_t> carried, rc4_state& filter,
                        copy_watch* watch = nullptr);
