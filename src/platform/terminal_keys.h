// Decoding of the byte sequences a terminal sends for keys into the bytes the
// Windows console gives for the same keys, so a passphrase typed with arrows,
// function keys, Alt or the keypad is the same on either platform.
#pragma once

#include <cstddef>

struct decoded_key {
    std::size_t consumed;  // input bytes that made up the key (0: need more)
    int length;            // bytes produced: 0 (nothing), 1 or 2
    unsigned char bytes[2];
};

// Decodes the first key in input[0..size). When the input holds only the
// start of a sequence, consumed is 0, unless complete is true (no more bytes
// are coming), in which case a lone Esc gives 27, ESC [ and ESC O alone are
// Alt+[ and Alt+O, and a longer cut sequence gives nothing.
decoded_key decode_terminal_key(const unsigned char* input, std::size_t size, bool complete);
