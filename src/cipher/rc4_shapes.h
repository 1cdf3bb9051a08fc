// The loop shapes of the RC4 kernel. Which shape runs fastest depends on the
// CPU (the unrolled byte loop wins on one host and loses by 1.3x to the plain
// 32-bit one on the next), so rc4_apply times them once per process and keeps
// the fastest. Every shape gives the same bytes and leaves the same state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/rc4.h"

// uN: width of a state entry while the loop runs (u32 shapes work on a
// widened copy of the state); xK: generator steps per iteration.
enum class rc4_shape : std::uint8_t { u8_x1, u8_x8, u8_x16, u32_x1, u32_x2, u32_x8 };

inline constexpr rc4_shape RC4_SHAPES[] = {rc4_shape::u8_x1,  rc4_shape::u8_x8,
                                           rc4_shape::u8_x16, rc4_shape::u32_x1,
                                           rc4_shape::u32_x2, rc4_shape::u32_x8};

// "u8_x8" and so on, as in the enumeration.
const char* rc4_shape_name(rc4_shape shape);

// rc4_apply with the given shape, whatever the length.
void rc4_apply_shape(rc4_shape shape, std::uint8_t* data, std::size_t length, rc4_state& state);

// The shape rc4_apply runs on long calls in this process (timed on first use).
rc4_shape rc4_chosen_shape();
