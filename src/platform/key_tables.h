// The console's codes for keys that have no character: a lead byte (0 or
// 0xE0) and a code byte, by scan code and modifier column.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t KEY_RIGHT_ALT = 0x1;
inline constexpr std::uint32_t KEY_LEFT_ALT = 0x2;
inline constexpr std::uint32_t KEY_RIGHT_CTRL = 0x4;
inline constexpr std::uint32_t KEY_LEFT_CTRL = 0x8;
inline constexpr std::uint32_t KEY_SHIFT = 0x10;
inline constexpr std::uint32_t KEY_ENHANCED = 0x100;

struct key_pair {
    std::uint8_t lead;
    std::uint8_t code;
};

// The pair a key-down without a character yields, looked up by scan code and
// control-key state (Alt over Ctrl over Shift over plain). false when the key
// yields nothing. Lookups never leave the tables.
bool lookup_key(std::uint16_t scan_code, std::uint32_t control_state, key_pair& pair);
