#include "platform/terminal_keys.h"

#include <cstdint>
#include <string_view>

#include "platform/key_tables.h"

namespace {

constexpr unsigned char ESC = 0x1B;
// No key sequence is this long; past it the bytes are noise and are dropped.
constexpr std::size_t MAX_SEQUENCE = 32;
constexpr int MAX_PARAMETER = 9999;

// A key without a character, named as the console names it.
struct console_key {
    std::uint16_t scan_code;  // 0: not a key this decoder knows
    std::uint32_t flags;      // KEY_ENHANCED for the cursor and editing block
};

constexpr console_key UNKNOWN{0, 0};
constexpr console_key cursor_block(std::uint16_t scan_code) { return {scan_code, KEY_ENHANCED}; }
constexpr console_key function_key(int number) {
    return {static_cast<std::uint16_t>(number <= 10 ? 0x3A + number : 0x4C + number), 0};
}

decoded_key nothing(std::size_t consumed) { return {consumed, 0, {0, 0}}; }
decoded_key one_byte(std::size_t consumed, unsigned char byte) { return {consumed, 1, {byte, 0}}; }
// A sequence cut short: wait for the rest, or drop it when no more is coming.
decoded_key cut(std::size_t size, bool complete) { return nothing(complete ? size : 0); }

decoded_key as_console_gives(std::size_t consumed, console_key key, std::uint32_t modifiers) {
    key_pair pair{};
    if (key.scan_code == 0 || !lookup_key(key.scan_code, key.flags | modifiers, pair)) {
        return nothing(consumed);
    }
    return {consumed, 2, {pair.lead, pair.code}};
}

// The US layout's keys that give a character: a run of keys from its first
// scan code on, as typed alone and with Shift.
struct layout_run {
    std::uint16_t first_scan_code;
    std::string_view plain;
    std::string_view shifted;
};

constexpr layout_run US_LAYOUT[] = {
    {0x02, "1234567890-=", "!@#$%^&*()_+"},
    {0x10, "qwertyuiop[]", "QWERTYUIOP{}"},
    {0x1E, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {0x2B, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
    {0x39, " ", " "},
};

// The key that sends byte (US layout), 0 for none. A control byte is Ctrl
// with the key of byte + 0x40 (^A: A, ^@: 2, ^_: -), but for the keys that
// send one of their own: ^H and DEL Backspace, ^I Tab, ^M Enter.
std::uint16_t key_sending(unsigned char byte) {
    switch (byte) {
        case 0x08: case 0x7F: return 0x0E;
        case 0x09: return 0x0F;
        case 0x0D: return 0x1C;
        default: break;
    }
    if (byte < 0x20) byte += 0x40;
    for (const layout_run& run : US_LAYOUT) {
        for (std::string_view keys : {run.plain, run.shifted}) {
            const std::size_t at = keys.find(static_cast<char>(byte));
            if (at != std::string_view::npos) {
                return static_cast<std::uint16_t>(run.first_scan_code + at);
            }
        }
    }
    return 0;
}

// Terminals send Alt with a key as ESC and what the key sends alone. The
// console's Alt column does not depend on Shift or Ctrl, so the key is all
// that is needed: Alt+A is Alt+a, and Alt+Space or Alt+\ yield nothing.
decoded_key alt_key(std::size_t consumed, unsigned char byte) {
    return as_console_gives(consumed, {key_sending(byte), 0}, KEY_LEFT_ALT);
}

// Alt+[ and Alt+O (with Shift) send what starts a CSI or SS3 sequence: when
// the byte after it cannot go on with one, input[0..2) was that key.
decoded_key sequence_broken(const unsigned char* input, std::size_t at) {
    return at == 2 ? alt_key(2, input[1]) : nothing(at);
}

// xterm's modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4 + Meta 8 (Meta counts as Alt).
std::uint32_t xterm_modifiers(int parameter) {
    if (parameter < 2) return 0;
    const int bits = parameter - 1;
    std::uint32_t state = 0;
    if (bits & 1) state |= KEY_SHIFT;
    if (bits & (2 | 8)) state |= KEY_LEFT_ALT;
    if (bits & 4) state |= KEY_LEFT_CTRL;
    return state;
}

// Final letters shared by the CSI and SS3 forms: arrows, Home, End, F1 to F4.
console_key lettered_key(unsigned char final) {
    switch (final) {
        case 'A': return cursor_block(0x48);  // Up
        case 'B': return cursor_block(0x50);  // Down
        case 'C': return cursor_block(0x4D);  // Right
        case 'D': return cursor_block(0x4B);  // Left
        case 'H': return cursor_block(0x47);  // Home
        case 'F': return cursor_block(0x4F);  // End
        // Keypad 5 with Num Lock off (E: xterm, G: Linux console), which
        // yields nothing on the console.
        case 'E': case 'G': return {0x4C, 0};
        case 'P': case 'Q': case 'R': case 'S': return function_key(final - 'P' + 1);
        default: return UNKNOWN;
    }
}

// The number in "ESC [ n ~" (xterm, VT220, rxvt and the Linux console).
console_key numbered_key(int number) {
    switch (number) {
        case 1: case 7: return cursor_block(0x47);  // Home (7: rxvt)
        case 2: return cursor_block(0x52);          // Insert
        case 3: return cursor_block(0x53);          // Delete
        case 4: case 8: return cursor_block(0x4F);  // End (8: rxvt)
        case 5: return cursor_block(0x49);          // Page Up
        case 6: return cursor_block(0x51);          // Page Down
        case 11: case 12: case 13: case 14: case 15: return function_key(number - 10);
        case 17: case 18: case 19: case 20: case 21: return function_key(number - 11);
        case 23: case 24: return function_key(number - 12);
        default: return UNKNOWN;
    }
}

decoded_key csi_key(std::size_t consumed, unsigned char final, const int (&parameter)[2]) {
    switch (final) {
        case '~': return as_console_gives(consumed, numbered_key(parameter[0]),
                                          xterm_modifiers(parameter[1]));
        // rxvt marks modifiers on numbered keys by the final byte instead.
        case '$': return as_console_gives(consumed, numbered_key(parameter[0]), KEY_SHIFT);
        case '^': return as_console_gives(consumed, numbered_key(parameter[0]), KEY_LEFT_CTRL);
        case '@':
            return as_console_gives(consumed, numbered_key(parameter[0]),
                                    KEY_LEFT_CTRL | KEY_SHIFT);
        case 'Z': return as_console_gives(consumed, {0x0F, 0}, KEY_SHIFT);  // Shift+Tab
        case 'a': case 'b': case 'c': case 'd':  // rxvt Shift+arrow
            return as_console_gives(consumed, lettered_key(final - 'a' + 'A'), KEY_SHIFT);
        default:
            return as_console_gives(consumed, lettered_key(final), xterm_modifiers(parameter[1]));
    }
}

// input starts with ESC [.
decoded_key decode_csi(const unsigned char* input, std::size_t size, bool complete) {
    if (size > 2 && input[2] == '[') {  // Linux console F1 to F5: ESC [ [ A..E
        if (size < 4) return cut(size, complete);
        if (input[3] < 'A' || input[3] > 'E') return nothing(4);
        return as_console_gives(4, function_key(input[3] - 'A' + 1), 0);
    }
    int parameter[2] = {0, 0};
    int separators = 0;
    bool foreign = false;  // private markers, intermediates, a third parameter
    for (std::size_t i = 2; i < size; ++i) {
        if (i >= MAX_SEQUENCE) return nothing(i);
        const unsigned char c = input[i];
        if (c >= '0' && c <= '9') {
            if (separators < 2) {
                int& p = parameter[separators];
                p = p * 10 + (c - '0');
                if (p > MAX_PARAMETER) p = MAX_PARAMETER;
            }
        } else if (c == ';') {
            if (++separators > 1) foreign = true;
        } else if (c == '$' || (c >= 0x40 && c <= 0x7E)) {  // '$' ends rxvt's Shift keys
            return foreign ? nothing(i + 1) : csi_key(i + 1, c, parameter);
        } else if (c >= 0x20 && c <= 0x3F) {
            foreign = true;
        } else {
            return sequence_broken(input, i);  // not a sequence byte: the sequence ends before it
        }
    }
    return cut(size, complete);
}

// input starts with ESC O: SS3 keys, with an optional modifier digit (older
// xterm and konsole), and the keypad in application mode, whose keys give
// their characters, as the console gives them with Num Lock on.
decoded_key decode_ss3(const unsigned char* input, std::size_t size, bool complete) {
    static constexpr char KEYPAD[] = "*+,-./0123456789";  // finals 'j' to 'y'
    int modifier = 0;
    for (std::size_t i = 2; i < size; ++i) {
        if (i >= MAX_SEQUENCE) return nothing(i);
        const unsigned char c = input[i];
        if (c >= '0' && c <= '9') {
            modifier = modifier * 10 + (c - '0');
            if (modifier > MAX_PARAMETER) modifier = MAX_PARAMETER;
            continue;
        }
        if (c < 0x40 || c > 0x7E) return sequence_broken(input, i);
        if (c == 'M') return one_byte(i + 1, 13);  // keypad Enter
        if (c == 'X') return one_byte(i + 1, '=');  // keypad =
        if (c >= 'j' && c <= 'y') return one_byte(i + 1, KEYPAD[c - 'j']);
        if (c >= 'a' && c <= 'd') {  // rxvt Ctrl+arrow
            return as_console_gives(i + 1, lettered_key(c - 'a' + 'A'), KEY_LEFT_CTRL);
        }
        return as_console_gives(i + 1, lettered_key(c), xterm_modifiers(modifier));
    }
    return cut(size, complete);
}

}  // namespace

decoded_key decode_terminal_key(const unsigned char* input, std::size_t size, bool complete) {
    if (size == 0) return nothing(0);
    const unsigned char first = input[0];
    if (first == 0x7F) return one_byte(1, 8);  // Backspace, as the console gives it
    // NUL is what a terminal sends for Ctrl+2 (and Ctrl+Space): the console's Ctrl+2 pair.
    if (first == 0) return as_console_gives(1, {0x03, 0}, KEY_LEFT_CTRL);
    if (first != ESC) return one_byte(1, first);
    if (size == 1) return complete ? one_byte(1, ESC) : nothing(0);
    if (input[1] == '[' || input[1] == 'O') {
        // Nothing more in time: Alt+[ or Alt+O, not a sequence cut short.
        if (size == 2 && complete) return alt_key(2, input[1]);
        return input[1] == '[' ? decode_csi(input, size, complete)
                               : decode_ss3(input, size, complete);
    }
    // Esc then Esc, or a byte of a character past ASCII (no key of the
    // layout): Esc on its own, then what follows as a key of its own.
    if (input[1] == ESC || input[1] >= 0x80) return one_byte(1, ESC);
    return alt_key(2, input[1]);
}
