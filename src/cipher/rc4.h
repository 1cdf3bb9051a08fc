// RC4 keystream, applied in place: the same call enciphers and deciphers.
#pragma once

#include <cstddef>
#include <cstdint>

struct rc4_state {
    std::uint8_t perm[256];
    std::uint8_t x;
    std::uint8_t y;
};

// Key scheduling; key_length must be at least 1 (only the first 256 bytes count).
void rc4_setup(const std::uint8_t* key, std::size_t key_length, rc4_state& state);
// XORs length bytes with the keystream, continuing where the last call stopped.
void rc4_apply(std::uint8_t* data, std::size_t length, rc4_state& state);
