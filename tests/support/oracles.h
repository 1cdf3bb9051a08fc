// Independent references the tests and benchmarks hold the program against:
// kept apart from the program's own code so that a fault there cannot hide
// in both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// size pseudo-random bytes, the same for the same seed.
std::string random_bytes(std::size_t size, unsigned seed);

// RC4 as in the textbook, one keystream byte at a time.
struct textbook_rc4 {
    std::uint8_t s[256];
    int i = 0, j = 0;
    // key: at least one byte.
    textbook_rc4(const void* key, std::size_t length);
    explicit textbook_rc4(std::string_view key) : textbook_rc4(key.data(), key.size()) {}
    std::uint8_t next();
    // data XORed with the next data.size() bytes of keystream.
    std::string apply(std::string data);
};
