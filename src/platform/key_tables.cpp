#include "platform/key_tables.h"

#include <iterator>

namespace {

enum column { PLAIN, SHIFT, CTRL, ALT };

struct enhanced_row {
    std::uint16_t scan_code;
    key_pair column[4];
};

struct scan_row {
    key_pair column[4];
};

// Keys the console marks as enhanced: the cursor and editing block, and the
// keypad's Enter and slash. Pairs are taken as they stand, zero code included.
constexpr enhanced_row ENHANCED_KEYS[] = {
    {0x1C, {{0x0D, 0x00}, {0x0D, 0x00}, {0x0A, 0x00}, {0x00, 0xA6}}},  // keypad Enter
    {0x35, {{0x2F, 0x00}, {0x3F, 0x00}, {0x00, 0x95}, {0x00, 0xA4}}},  // keypad /
    {0x47, {{0xE0, 0x47}, {0xE0, 0x47}, {0xE0, 0x77}, {0x00, 0x97}}},  // Home
    {0x48, {{0xE0, 0x48}, {0xE0, 0x48}, {0xE0, 0x8D}, {0x00, 0x98}}},  // Up
    {0x49, {{0xE0, 0x49}, {0xE0, 0x49}, {0xE0, 0x86}, {0x00, 0x99}}},  // Page Up
    {0x4B, {{0xE0, 0x4B}, {0xE0, 0x4B}, {0xE0, 0x73}, {0x00, 0x9B}}},  // Left
    {0x4D, {{0xE0, 0x4D}, {0xE0, 0x4D}, {0xE0, 0x74}, {0x00, 0x9D}}},  // Right
    {0x4F, {{0xE0, 0x4F}, {0xE0, 0x4F}, {0xE0, 0x75}, {0x00, 0x9F}}},  // End
    {0x50, {{0xE0, 0x50}, {0xE0, 0x50}, {0xE0, 0x91}, {0x00, 0xA0}}},  // Down
    {0x51, {{0xE0, 0x51}, {0xE0, 0x51}, {0xE0, 0x76}, {0x00, 0xA1}}},  // Page Down
    {0x52, {{0xE0, 0x52}, {0xE0, 0x52}, {0xE0, 0x92}, {0x00, 0xA2}}},  // Insert
    {0x53, {{0xE0, 0x53}, {0xE0, 0x53}, {0xE0, 0x93}, {0x00, 0xA3}}},  // Delete
};

constexpr key_pair NO_PAIR{0x00, 0x00};

// Indexed by scan code 0x00 to 0x58. Only pairs with lead 0 or 0xE0 and a
// non-zero code count; keys that give a character are left as NO_PAIR.
constexpr scan_row SCAN_CODES[] = {
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x00 none
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x01}}},  // 0x01 Esc
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x78}}},  // 0x02 1
    {{     NO_PAIR,      NO_PAIR, {0x00, 0x03}, {0x00, 0x79}}},  // 0x03 2
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7A}}},  // 0x04 3
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7B}}},  // 0x05 4
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7C}}},  // 0x06 5
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7D}}},  // 0x07 6
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7E}}},  // 0x08 7
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x7F}}},  // 0x09 8
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x80}}},  // 0x0A 9
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x81}}},  // 0x0B 0
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x82}}},  // 0x0C -
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x83}}},  // 0x0D =
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x0E}}},  // 0x0E Backspace
    {{     NO_PAIR, {0x00, 0x0F}, {0x00, 0x94}, {0x00, 0x0F}}},  // 0x0F Tab
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x10}}},  // 0x10 q
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x11}}},  // 0x11 w
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x12}}},  // 0x12 e
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x13}}},  // 0x13 r
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x14}}},  // 0x14 t
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x15}}},  // 0x15 y
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x16}}},  // 0x16 u
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x17}}},  // 0x17 i
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x18}}},  // 0x18 o
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x19}}},  // 0x19 p
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x1A}}},  // 0x1A [
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x1B}}},  // 0x1B ]
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x1C}}},  // 0x1C Enter
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x1D Ctrl
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x1E}}},  // 0x1E a
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x1F}}},  // 0x1F s
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x20}}},  // 0x20 d
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x21}}},  // 0x21 f
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x22}}},  // 0x22 g
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x23}}},  // 0x23 h
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x24}}},  // 0x24 j
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x25}}},  // 0x25 k
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x26}}},  // 0x26 l
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x27}}},  // 0x27 ;
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x28}}},  // 0x28 '
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x29}}},  // 0x29 `
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x2A left Shift
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x2B backslash
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x2C}}},  // 0x2C z
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x2D}}},  // 0x2D x
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x2E}}},  // 0x2E c
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x2F}}},  // 0x2F v
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x30}}},  // 0x30 b
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x31}}},  // 0x31 n
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x32}}},  // 0x32 m
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x33}}},  // 0x33 ,
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x34}}},  // 0x34 .
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR, {0x00, 0x35}}},  // 0x35 /
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x36 right Shift
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x37 keypad *
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x38 Alt
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x39 Space
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x3A Caps Lock
    {{{0x00, 0x3B}, {0x00, 0x54}, {0x00, 0x5E}, {0x00, 0x68}}},  // 0x3B F1
    {{{0x00, 0x3C}, {0x00, 0x55}, {0x00, 0x5F}, {0x00, 0x69}}},  // 0x3C F2
    {{{0x00, 0x3D}, {0x00, 0x56}, {0x00, 0x60}, {0x00, 0x6A}}},  // 0x3D F3
    {{{0x00, 0x3E}, {0x00, 0x57}, {0x00, 0x61}, {0x00, 0x6B}}},  // 0x3E F4
    {{{0x00, 0x3F}, {0x00, 0x58}, {0x00, 0x62}, {0x00, 0x6C}}},  // 0x3F F5
    {{{0x00, 0x40}, {0x00, 0x59}, {0x00, 0x63}, {0x00, 0x6D}}},  // 0x40 F6
    {{{0x00, 0x41}, {0x00, 0x5A}, {0x00, 0x64}, {0x00, 0x6E}}},  // 0x41 F7
    {{{0x00, 0x42}, {0x00, 0x5B}, {0x00, 0x65}, {0x00, 0x6F}}},  // 0x42 F8
    {{{0x00, 0x43}, {0x00, 0x5C}, {0x00, 0x66}, {0x00, 0x70}}},  // 0x43 F9
    {{{0x00, 0x44}, {0x00, 0x5D}, {0x00, 0x67}, {0x00, 0x71}}},  // 0x44 F10
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x45 Num Lock
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x46 Scroll Lock
    {{{0x00, 0x47},      NO_PAIR, {0x00, 0x77},      NO_PAIR}},  // 0x47 keypad Home
    {{{0x00, 0x48},      NO_PAIR, {0x00, 0x8D},      NO_PAIR}},  // 0x48 keypad Up
    {{{0x00, 0x49},      NO_PAIR, {0x00, 0x84},      NO_PAIR}},  // 0x49 keypad Page Up
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x4A keypad -
    {{{0x00, 0x4B},      NO_PAIR, {0x00, 0x73},      NO_PAIR}},  // 0x4B keypad Left
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x4C keypad 5
    {{{0x00, 0x4D},      NO_PAIR, {0x00, 0x74},      NO_PAIR}},  // 0x4D keypad Right
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x4E keypad +
    {{{0x00, 0x4F},      NO_PAIR, {0x00, 0x75},      NO_PAIR}},  // 0x4F keypad End
    {{{0x00, 0x50},      NO_PAIR, {0x00, 0x91},      NO_PAIR}},  // 0x50 keypad Down
    {{{0x00, 0x51},      NO_PAIR, {0x00, 0x76},      NO_PAIR}},  // 0x51 keypad Page Down
    {{{0x00, 0x52},      NO_PAIR, {0x00, 0x92},      NO_PAIR}},  // 0x52 keypad Insert
    {{{0x00, 0x53},      NO_PAIR, {0x00, 0x93},      NO_PAIR}},  // 0x53 keypad Delete
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x54 -
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x55 -
    {{     NO_PAIR,      NO_PAIR,      NO_PAIR,      NO_PAIR}},  // 0x56 -
    {{{0xE0, 0x85}, {0xE0, 0x87}, {0xE0, 0x89}, {0xE0, 0x8B}}},  // 0x57 F11
    {{{0xE0, 0x86}, {0xE0, 0x88}, {0xE0, 0x8A}, {0xE0, 0x8C}}},  // 0x58 F12
};
static_assert(std::size(SCAN_CODES) == 0x59);

column column_for(std::uint32_t control_state) {
    if (control_state & (KEY_LEFT_ALT | KEY_RIGHT_ALT)) return ALT;
    if (control_state & (KEY_LEFT_CTRL | KEY_RIGHT_CTRL)) return CTRL;
    if (control_state & KEY_SHIFT) return SHIFT;
    return PLAIN;
}

}  // namespace

bool lookup_key(std::uint16_t scan_code, std::uint32_t control_state, key_pair& pair) {
    const column col = column_for(control_state);
    if (control_state & KEY_ENHANCED) {
        for (const enhanced_row& row : ENHANCED_KEYS) {
            if (row.scan_code != scan_code) continue;
            pair = row.column[col];
            return true;
        }
        return false;
    }
    // Scan codes past the table's end have no row: they yield nothing.
    if (scan_code >= std::size(SCAN_CODES)) return false;
    const key_pair candidate = SCAN_CODES[scan_code].column[col];
    if ((candidate.lead != 0x00 && candidate.lead != 0xE0) || candidate.code == 0) return false;
    pair = candidate;
    return true;
}
