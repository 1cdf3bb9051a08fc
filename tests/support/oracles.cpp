#include "support/oracles.h"

#include <cstdint>
#include <random>
#include <utility>

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = generator();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k) {
            bytes[i + k] = static_cast<char>(word >> (8 * k));
        }
    }
    return bytes;
}

std::string textbook_rc4(const std::string& key, std::string data) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<std::uint8_t>(key[i % key.size()])) % 256;
        std::swap(s[i], s[j]);
    }
    int i = 0, j = 0;
    for (char& byte : data) {
        i = (i + 1) % 256;
        j = (j + s[i]) % 256;
        std::swap(s[i], s[j]);
        byte = static_cast<char>(byte ^ s[(s[i] + s[j]) % 256]);
    }
    return data;
}
