// An independent check of tovik's output: the tests' textbook RC4 (no code
// shared with src/), over a whole file.
//
// Usage: rc4_reference <key as hex digits> <input> <output>
//
// The key is given as hex text (64 digits = 32 bytes); every byte of input
// is XORed with the keystream, so a container's body (after its 37-byte
// header) must equal the output for its plain file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/oracles.h"

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: rc4_reference <hex key> <input> <output> \n");
        return 2;
    }
    const std::string key_text = argv[1];
    std::vector<unsigned char> key;
    for (std::size_t i = 0; i + 1 < key_text.size(); i += 2) {
        const int high = hex(key_text[i]), low = hex(key_text[i + 1]);
        if (high < 0 || low < 0) return 2;
        key.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    if (key.empty()) return 2;

    textbook_rc4 oracle(key.data(), key.size());

    std::FILE* in = std::fopen(argv[2], "rb");
    std::FILE* out = std::fopen(argv[3], "wb");
    if (in == nullptr || out == nullptr) return 1;
    std::vector<unsigned char> block(1 << 16);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), in)) > 0) {
        for (std::size_t p = 0; p < got; ++p) block[p] ^= oracle.next();
        if (std::fwrite(block.data(), 1, got, out) != got) return 1;
    }
    const bool ok = !std::ferror(in) && std::fclose(out) == 0;
    std::fclose(in);
    return ok ? 0 : 1;
}
