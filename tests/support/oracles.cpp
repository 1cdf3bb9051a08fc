#include "support/oracles.h"

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

textbook_rc4::textbook_rc4(const void* key, std::size_t length) {
    const auto* k = static_cast<const std::uint8_t*>(key);
    for (int v = 0; v < 256; ++v) s[v] = static_cast<std::uint8_t>(v);
    for (int v = 0, w = 0; v < 256; ++v) {
        w = (w + s[v] + k[static_cast<std::size_t>(v) % length]) % 256;
        std::swap(s[v], s[w]);
    }
}

std::uint8_t textbook_rc4::next() {
    i = (i + 1) % 256;
    j = (j + s[i]) % 256;
    std::swap(s[i], s[j]);
    return s[(s[i] + s[j]) % 256];
}

std::string textbook_rc4::apply(std::string data) {
    for (char& byte : data) byte = static_cast<char>(byte ^ next());
    return data;
}
