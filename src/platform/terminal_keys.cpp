#include "platform/terminal_keys.h"

#include <cstdint>

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
            return nothing(i);  // not a sequence byte: the sequence ends before it
        }
    }
    return cut(size, complete);
}

// input starts with ESC O: SS3 keys, with an optional modifier digit (older
// xterm and konsole), and the keypad in application mode.
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
        if (c < 0x40 || c > 0x7E) return nothing(i);
        if (c == 'M') return one_byte(i + 1, 13);  // keypad Enter
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
    if (input[1] == '[') return decode_csi(input, size, complete);
    if (input[1] == 'O') return decode_ss3(input, size, complete);
    // ESC before an ordinary key (how terminals send Alt+key): Esc, then the
    // key on its own, the same bytes as the two keys typed one after the other.
    return one_byte(1, ESC);
}
