// MD5 message digest (RFC 1321) over byte strings, and its lower-case hex text.
#pragma once

#include <cstdint>

struct md5_context {
    std::uint32_t bit_count[2];  // message length in bits, low word first, modulo 2^64
    std::uint32_t state[4];      // chaining value A, B, C, D
    std::uint8_t buffer[64];     // bytes received but not yet compressed
    std::uint8_t digest[16];     // valid after md5_finish
};

void md5_start(md5_context& context);
void md5_add(md5_context& context, const void* input, std::uint32_t length);
void md5_finish(md5_context& context);

// Writes the 32 lower-case hex digits of the digest of the NUL-terminated
// text, and a NUL: 33 bytes in all.
void md5_hex(char destination[33], const char* text);
