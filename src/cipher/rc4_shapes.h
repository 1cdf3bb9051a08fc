// The loop shapes of the RC4 kernel, for the tests and benchmarks that hold
// them against each other. Which shape runs fastest depends on the CPU (the
// unrolled byte loop wins on one host and loses by 1.3x to the plain 32-bit
// one on the next), so rc4_choose_shapes times them once per process and
// keeps the fastest. Every shape gives the same bytes and leaves the same
// state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/rc4.h"

// Named "u8_x8" and so on: uN, the width of a state entry while the loop
// runs (u32 shapes work on a widened copy of the state); xK, the generator
// steps per iteration. apply_pair, the form of two interleaved streams, is
// null for the shapes that have none.
struct rc4_loop_shape {
    const char* name;
    void (*apply)(std::uint8_t* data, std::size_t length, rc4_state& state);
    void (*apply_pair)(std::uint8_t* a, rc4_state& a_state, std::uint8_t* b, rc4_state& b_state,
                       std::size_t length);
    bool chosen;       // what rc4_apply runs on long calls in this process
    bool chosen_pair;  // what rc4_apply_pair runs on long calls
};
inline constexpr std::size_t RC4_LOOP_SHAPES = 6;
// Shape i, below RC4_LOOP_SHAPES (the shapes are timed first if they were not).
rc4_loop_shape rc4_loop_shape_at(std::size_t i);
