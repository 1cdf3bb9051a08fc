#include "cipher/md5.h"

#include <bit>
#include <cstring>

#include "cipher/wipe.h"

namespace {

// Every pad is a prefix of this: one 1 bit, then zeros.
constexpr std::uint8_t md5_pad[64] = {0x80};

// The additive constants: floor(2^32 * abs(sin(k + 1))), k = 0..63.
constexpr std::uint32_t SINES[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
// The rotation of each step, by round and by step within a group of four.
constexpr int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The compression of one 64-byte block, already assembled into 16 words:
// four rounds of sixteen steps, each with its own function and word order.
void md5_block(std::uint32_t state[4], const std::uint32_t x[16]) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; ++step) {
        const int round = step / 16;
        std::uint32_t mixed;
        int word;
        switch (round) {
            case 0: mixed = (b & c) | (~b & d); word = step; break;
            case 1: mixed = (b & d) | (c & ~d); word = (5 * step + 1) % 16; break;
            case 2: mixed = b ^ c ^ d; word = (3 * step + 5) % 16; break;
            default: mixed = c ^ (b | ~d); word = (7 * step) % 16; break;
        }
        const std::uint32_t rotated =
            b + std::rotl(a + mixed + x[word] + SINES[step], SHIFTS[round][step % 4]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void load_words(const std::uint8_t* bytes, std::uint32_t* words, int count) {
    for (int k = 0; k < count; ++k, bytes += 4) {
        words[k] = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    }
}

}  // namespace

void md5_start(md5_context& context) {
    context.bit_count[0] = 0;
    context.bit_count[1] = 0;
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
}

void md5_add(md5_context& context, const void* input, std::uint32_t length) {
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(input);
    std::uint32_t held = (context.bit_count[0] >> 3) & 63;

    const std::uint32_t old_low = context.bit_count[0];
    context.bit_count[0] = old_low + (length << 3);
    if (context.bit_count[0] < old_low) ++context.bit_count[1];
    context.bit_count[1] += length >> 29;

    std::uint32_t words[16];
    while (length > 0) {
        // Fill the buffer as far as the input allows; compress when it is full.
        std::uint32_t take = 64 - held;
        if (take > length) take = length;
        std::memcpy(context.buffer + held, bytes, take);
        held += take;
        bytes += take;
        length -= take;
        if (held == 64) {
            load_words(context.buffer, words, 16);
            md5_block(context.state, words);
            held = 0;
        }
    }
    wipe(words, sizeof words);
}

void md5_finish(md5_context& context) {
    const std::uint32_t length_bits[2] = {context.bit_count[0], context.bit_count[1]};
    const std::uint32_t held = (context.bit_count[0] >> 3) & 63;
    md5_add(context, md5_pad, held < 56 ? 56 - held : 120 - held);

    std::uint32_t words[16];
    load_words(context.buffer, words, 14);
    words[14] = length_bits[0];
    words[15] = length_bits[1];
    md5_block(context.state, words);
    wipe(words, sizeof words);

    for (int k = 0; k < 4; ++k) {
        for (int b = 0; b < 4; ++b) {
            context.digest[4 * k + b] = static_cast<std::uint8_t>(context.state[k] >> (8 * b));
        }
    }
}

void md5_hex(char destination[33], const char* text) {
    // The digest is complete before the first byte of destination is written,
    // so text and destination may be the same buffer.
    md5_context context;
    md5_start(context);
    md5_add(context, text, static_cast<std::uint32_t>(std::strlen(text)));
    md5_finish(context);

    static constexpr char digits[] = "0123456789abcdef";
    for (int k = 0; k < 16; ++k) {
        destination[2 * k] = digits[context.digest[k] >> 4];
        destination[2 * k + 1] = digits[context.digest[k] & 15];
    }
    destination[32] = '\0';
    // The context holds passphrase bytes and the raw digest, which is key material.
    wipe(&context, sizeof context);
}
