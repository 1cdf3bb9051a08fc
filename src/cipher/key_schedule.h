// Passphrase -> container header and RC4 key, through chained MD5 hex digests.
#pragma once

#include <cstddef>
#include <cstdint>

// A passphrase is a NUL-terminated byte string in a buffer of this size.
inline constexpr std::size_t PASSPHRASE_SIZE = 1024;  // 1023 bytes and the NUL

// Every container, and so every header_text, begins with these five bytes.
inline constexpr char CONTAINER_MAGIC[] = "tvk4:";
inline constexpr std::size_t MAGIC_LENGTH = 5;
inline constexpr std::size_t HEADER_LENGTH = 37;  // the magic and 32 hex digits

struct key_material {
    char header_text[HEADER_LENGTH + 1];  // the magic, 32 hex digits, NUL
    char key_text[65];                    // 64 hex digits + NUL
    std::uint8_t cipher_key[32];          // key_text read as 32 bytes
    ~key_material();                      // wipes every field
};

void derive_key_material(const char* passphrase, key_material& out);
