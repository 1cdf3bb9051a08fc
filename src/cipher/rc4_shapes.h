// The loop shapes of the RC4 kernel. Which shape runs fastest depends on the
// CPU (the unrolled byte loop wins on one host and loses by 1.3x to the plain
// 32-bit one on the next), so rc4_choose_shapes times them once per process
// and keeps the fastest. Every shape gives the same bytes and leaves the same
// state.
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

// The shapes of two interleaved streams (rc4_apply_pair).
enum class rc4_pair_shape : std::uint8_t { u8_x8, u8_x16, u32_x8 };
inline constexpr rc4_pair_shape RC4_PAIR_SHAPES[] = {rc4_pair_shape::u8_x8, rc4_pair_shape::u8_x16,
                                                     rc4_pair_shape::u32_x8};
const char* rc4_pair_shape_name(rc4_pair_shape shape);
void rc4_apply_pair_shape(rc4_pair_shape shape, std::uint8_t* a, rc4_state& a_state,
                          std::uint8_t* b, rc4_state& b_state, std::size_t length);

// The shapes rc4_apply and rc4_apply_pair run on long calls in this process
// (chosen now if they were not yet).
rc4_shape rc4_chosen_shape();
rc4_pair_shape rc4_chosen_pair_shape();
