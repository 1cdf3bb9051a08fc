#include "cipher/md5.h"

#include <bit>
#include <cstring>

#include "cipher/wipe.h"

namespace {

// Every pad is a prefix of this: one 1 bit, then zeros.
constexpr std::uint8_t md5_pad[64] = {0x80};

constexpr std::uint32_t f(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & y) | (~x & z);
}
constexpr std::uint32_t g(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & z) | (y & ~z);
}
constexpr std::uint32_t h(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return x ^ y ^ z;
}
constexpr std::uint32_t i(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return y ^ (x | ~z);
}

// a = b + ((a + fn(b, c, d) + word + t) <<< s)
#define MD5_STEP(fn, a, b, c, d, word, s, t) a = b + std::rotl(a + fn(b, c, d) + (word) + (t), s)

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

void md5_block(std::uint32_t state[4], const std::uint32_t x[16]) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(f, a, b, c, d, x[0], 7, 0xd76aa478);
    MD5_STEP(f, d, a, b, c, x[1], 12, 0xe8c7b756);
    MD5_STEP(f, c, d, a, b, x[2], 17, 0x242070db);
    MD5_STEP(f, b, c, d, a, x[3], 22, 0xc1bdceee);
    MD5_STEP(f, a, b, c, d, x[4], 7, 0xf57c0faf);
    MD5_STEP(f, d, a, b, c, x[5], 12, 0x4787c62a);
    MD5_STEP(f, c, d, a, b, x[6], 17, 0xa8304613);
    MD5_STEP(f, b, c, d, a, x[7], 22, 0xfd469501);
    MD5_STEP(f, a, b, c, d, x[8], 7, 0x698098d8);
    MD5_STEP(f, d, a, b, c, x[9], 12, 0x8b44f7af);
    MD5_STEP(f, c, d, a, b, x[10], 17, 0xffff5bb1);
    MD5_STEP(f, b, c, d, a, x[11], 22, 0x895cd7be);
    MD5_STEP(f, a, b, c, d, x[12], 7, 0x6b901122);
    MD5_STEP(f, d, a, b, c, x[13], 12, 0xfd987193);
    MD5_STEP(f, c, d, a, b, x[14], 17, 0xa679438e);
    MD5_STEP(f, b, c, d, a, x[15], 22, 0x49b40821);

    MD5_STEP(g, a, b, c, d, x[1], 5, 0xf61e2562);
    MD5_STEP(g, d, a, b, c, x[6], 9, 0xc040b340);
    MD5_STEP(g, c, d, a, b, x[11], 14, 0x265e5a51);
    MD5_STEP(g, b, c, d, a, x[0], 20, 0xe9b6c7aa);
    MD5_STEP(g, a, b, c, d, x[5], 5, 0xd62f105d);
    MD5_STEP(g, d, a, b, c, x[10], 9, 0x02441453);
    MD5_STEP(g, c, d, a, b, x[15], 14, 0xd8a1e681);
    MD5_STEP(g, b, c, d, a, x[4], 20, 0xe7d3fbc8);
    MD5_STEP(g, a, b, c, d, x[9], 5, 0x21e1cde6);
    MD5_STEP(g, d, a, b, c, x[14], 9, 0xc33707d6);
    MD5_STEP(g, c, d, a, b, x[3], 14, 0xf4d50d87);
    MD5_STEP(g, b, c, d, a, x[8], 20, 0x455a14ed);
    MD5_STEP(g, a, b, c, d, x[13], 5, 0xa9e3e905);
    MD5_STEP(g, d, a, b, c, x[2], 9, 0xfcefa3f8);
    MD5_STEP(g, c, d, a, b, x[7], 14, 0x676f02d9);
    MD5_STEP(g, b, c, d, a, x[12], 20, 0x8d2a4c8a);

    MD5_STEP(h, a, b, c, d, x[5], 4, 0xfffa3942);
    MD5_STEP(h, d, a, b, c, x[8], 11, 0x8771f681);
    MD5_STEP(h, c, d, a, b, x[11], 16, 0x6d9d6122);
    MD5_STEP(h, b, c, d, a, x[14], 23, 0xfde5380c);
    MD5_STEP(h, a, b, c, d, x[1], 4, 0xa4beea44);
    MD5_STEP(h, d, a, b, c, x[4], 11, 0x4bdecfa9);
    MD5_STEP(h, c, d, a, b, x[7], 16, 0xf6bb4b60);
    MD5_STEP(h, b, c, d, a, x[10], 23, 0xbebfbc70);
    MD5_STEP(h, a, b, c, d, x[13], 4, 0x289b7ec6);
    MD5_STEP(h, d, a, b, c, x[0], 11, 0xeaa127fa);
    MD5_STEP(h, c, d, a, b, x[3], 16, 0xd4ef3085);
    MD5_STEP(h, b, c, d, a, x[6], 23, 0x04881d05);
    MD5_STEP(h, a, b, c, d, x[9], 4, 0xd9d4d039);
    MD5_STEP(h, d, a, b, c, x[12], 11, 0xe6db99e5);
    MD5_STEP(h, c, d, a, b, x[15], 16, 0x1fa27cf8);
    MD5_STEP(h, b, c, d, a, x[2], 23, 0xc4ac5665);

    MD5_STEP(i, a, b, c, d, x[0], 6, 0xf4292244);
    MD5_STEP(i, d, a, b, c, x[7], 10, 0x432aff97);
    MD5_STEP(i, c, d, a, b, x[14], 15, 0xab9423a7);
    MD5_STEP(i, b, c, d, a, x[5], 21, 0xfc93a039);
    MD5_STEP(i, a, b, c, d, x[12], 6, 0x655b59c3);
    MD5_STEP(i, d, a, b, c, x[3], 10, 0x8f0ccc92);
    MD5_STEP(i, c, d, a, b, x[10], 15, 0xffeff47d);
    MD5_STEP(i, b, c, d, a, x[1], 21, 0x85845dd1);
    MD5_STEP(i, a, b, c, d, x[8], 6, 0x6fa87e4f);
    MD5_STEP(i, d, a, b, c, x[15], 10, 0xfe2ce6e0);
    MD5_STEP(i, c, d, a, b, x[6], 15, 0xa3014314);
    MD5_STEP(i, b, c, d, a, x[13], 21, 0x4e0811a1);
    MD5_STEP(i, a, b, c, d, x[4], 6, 0xf7537e82);
    MD5_STEP(i, d, a, b, c, x[11], 10, 0xbd3af235);
    MD5_STEP(i, c, d, a, b, x[2], 15, 0x2ad7d2bb);
    MD5_STEP(i, b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP

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
