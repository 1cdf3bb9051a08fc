#include "cipher/key_schedule.h"

#include <cstring>

#include "cipher/md5.h"
#include "cipher/wipe.h"

namespace {

// The digits come from md5_hex, so they are always 0-9 or a-f.
std::uint8_t hex_value(char digit) {
    return static_cast<std::uint8_t>(digit <= '9' ? digit - '0' : digit - 'a' + 10);
}

}  // namespace

key_material::~key_material() {
    wipe(header_text, sizeof header_text);
    wipe(key_text, sizeof key_text);
    wipe(cipher_key, sizeof cipher_key);
}

// The header check value (D2) and the cipher key (D1, D3) are different
// functions of the passphrase, so the header does not give the key away.
void derive_key_material(const char* passphrase, key_material& out) {
    char d1[33], d2[33], d3[33];
    char d2_d1[65];

    md5_hex(d1, passphrase);
    md5_hex(d2, d1);
    std::memcpy(out.header_text, CONTAINER_MAGIC, MAGIC_LENGTH);
    std::memcpy(out.header_text + MAGIC_LENGTH, d2, 33);

    std::memcpy(d2_d1, d2, 32);
    std::memcpy(d2_d1 + 32, d1, 33);
    md5_hex(d3, d2_d1);

    std::memcpy(out.key_text, d1, 32);
    std::memcpy(out.key_text + 32, d3, 33);
    for (int i = 0; i < 32; ++i) {
        out.cipher_key[i] = static_cast<std::uint8_t>(hex_value(out.key_text[2 * i]) << 4 |
                                                      hex_value(out.key_text[2 * i + 1]));
    }

    wipe(d1, sizeof d1);
    wipe(d2, sizeof d2);
    wipe(d3, sizeof d3);
    wipe(d2_d1, sizeof d2_d1);
}
