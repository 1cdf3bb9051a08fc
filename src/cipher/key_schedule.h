// Passphrase -> container header and RC4 key, through chained MD5 hex digests.
#pragma once

#include <cstdint>

struct key_material {
    char header_text[38];        // "tvk4:" + 32 hex digits + NUL
    char key_text[65];           // 64 hex digits + NUL
    std::uint8_t cipher_key[32]; // key_text read as 32 bytes
    ~key_material();             // wipes every field
};

void derive_key_material(const char* passphrase, key_material& out);
