#include "platform/terminal_keys.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <string>
#include <string_view>
#include <vector>

#include "platform/key_tables.h"

namespace {

struct key_result {
    std::size_t consumed;
    std::vector<int> bytes;
    bool operator==(const key_result&) const = default;
};

std::ostream& operator<<(std::ostream& out, const key_result& key) {
    out << "consumed " << key.consumed << ", bytes {";
    for (int b : key.bytes) out << " 0x" << std::hex << b << std::dec;
    return out << " }";
}

key_result decode(std::string_view input, bool complete = false) {
    const decoded_key key = decode_terminal_key(
        reinterpret_cast<const unsigned char*>(input.data()), input.size(), complete);
    EXPECT_GE(key.length, 0);
    EXPECT_LE(key.length, 2);
    EXPECT_LE(key.consumed, input.size());
    return {key.consumed, std::vector<int>(key.bytes, key.bytes + key.length)};
}

key_result gives(std::size_t consumed, std::vector<int> bytes) { return {consumed, bytes}; }
key_result nothing(std::size_t consumed) { return {consumed, {}}; }

struct case_row {
    std::string input;
    std::vector<int> bytes;
};

// Each input must be taken whole as one key giving bytes.
void expect_keys(const std::vector<case_row>& rows) {
    for (const case_row& row : rows) {
        EXPECT_EQ(decode(row.input), gives(row.input.size(), row.bytes)) << row.input.substr(1);
        // More input behind the key does not change it.
        EXPECT_EQ(decode(row.input + "x"), gives(row.input.size(), row.bytes))
            << row.input.substr(1);
    }
}

TEST(TerminalKeys, PlainBytesAreThemselves) {
    EXPECT_EQ(decode("a"), gives(1, {'a'}));
    EXPECT_EQ(decode("ab"), gives(1, {'a'}));
    EXPECT_EQ(decode("\r"), gives(1, {13}));
    EXPECT_EQ(decode("\n"), gives(1, {10}));  // only 13 is Enter
    EXPECT_EQ(decode("\x03"), gives(1, {3}));
    EXPECT_EQ(decode("\x08"), gives(1, {8}));
    EXPECT_EQ(decode("\t"), gives(1, {9}));
    EXPECT_EQ(decode("\xc3\xa9"), gives(1, {0xC3}));  // bytes of a multibyte character, one by one
    EXPECT_EQ(decode("\xff"), gives(1, {0xFF}));
    EXPECT_EQ(decode(""), nothing(0));
    EXPECT_EQ(decode("", true), nothing(0));
}

TEST(TerminalKeys, BackspaceAndNulAsTheConsoleGivesThem) {
    EXPECT_EQ(decode("\x7f"), gives(1, {8}));
    EXPECT_EQ(decode(std::string("\0", 1)), gives(1, {0x00, 0x03}));  // Ctrl+2
}

TEST(TerminalKeys, CursorBlockInCsiAndSs3Forms) {
    expect_keys({
        {"\x1b[A", {0xE0, 0x48}}, {"\x1b[B", {0xE0, 0x50}}, {"\x1b[C", {0xE0, 0x4D}},
        {"\x1b[D", {0xE0, 0x4B}}, {"\x1b[H", {0xE0, 0x47}}, {"\x1b[F", {0xE0, 0x4F}},
        {"\x1bOA", {0xE0, 0x48}}, {"\x1bOB", {0xE0, 0x50}}, {"\x1bOC", {0xE0, 0x4D}},
        {"\x1bOD", {0xE0, 0x4B}}, {"\x1bOH", {0xE0, 0x47}}, {"\x1bOF", {0xE0, 0x4F}},
        {"\x1b[1~", {0xE0, 0x47}}, {"\x1b[7~", {0xE0, 0x47}},  // Home: VT220, rxvt
        {"\x1b[4~", {0xE0, 0x4F}}, {"\x1b[8~", {0xE0, 0x4F}},  // End: VT220, rxvt
        {"\x1b[2~", {0xE0, 0x52}}, {"\x1b[3~", {0xE0, 0x53}},
        {"\x1b[5~", {0xE0, 0x49}}, {"\x1b[6~", {0xE0, 0x51}},
    });
}

TEST(TerminalKeys, XtermModifierParameter) {
    expect_keys({
        {"\x1b[1;2A", {0xE0, 0x48}},  // Shift: same as plain for the cursor block
        {"\x1b[1;5A", {0xE0, 0x8D}},  // Ctrl
        {"\x1b[1;3A", {0x00, 0x98}},  // Alt
        {"\x1b[1;6A", {0xE0, 0x8D}},  // Ctrl+Shift: Ctrl
        {"\x1b[1;4A", {0x00, 0x98}},  // Alt+Shift: Alt
        {"\x1b[1;7A", {0x00, 0x98}},  // Alt+Ctrl: Alt
        {"\x1b[1;8A", {0x00, 0x98}},
        {"\x1b[1;9A", {0x00, 0x98}},  // Meta counts as Alt
        {"\x1b[1;1A", {0xE0, 0x48}},
        {"\x1b[1;5H", {0xE0, 0x77}}, {"\x1b[1;5F", {0xE0, 0x75}},
        {"\x1b[1;5B", {0xE0, 0x91}}, {"\x1b[1;5C", {0xE0, 0x74}}, {"\x1b[1;5D", {0xE0, 0x73}},
        {"\x1b[5;5~", {0xE0, 0x86}},  // Ctrl+Page Up of the cursor block
        {"\x1b[6;3~", {0x00, 0xA1}},
        {"\x1b[3;5~", {0xE0, 0x93}}, {"\x1b[2;3~", {0x00, 0xA2}},
        {"\x1bO5A", {0xE0, 0x8D}},  // older SS3 form with a modifier digit
    });
}

TEST(TerminalKeys, FunctionKeys) {
    expect_keys({
        {"\x1bOP", {0x00, 0x3B}}, {"\x1bOQ", {0x00, 0x3C}},
        {"\x1bOR", {0x00, 0x3D}}, {"\x1bOS", {0x00, 0x3E}},
        {"\x1b[11~", {0x00, 0x3B}}, {"\x1b[12~", {0x00, 0x3C}}, {"\x1b[13~", {0x00, 0x3D}},
        {"\x1b[14~", {0x00, 0x3E}}, {"\x1b[15~", {0x00, 0x3F}}, {"\x1b[17~", {0x00, 0x40}},
        {"\x1b[18~", {0x00, 0x41}}, {"\x1b[19~", {0x00, 0x42}}, {"\x1b[20~", {0x00, 0x43}},
        {"\x1b[21~", {0x00, 0x44}}, {"\x1b[23~", {0xE0, 0x85}}, {"\x1b[24~", {0xE0, 0x86}},
        {"\x1b[[A", {0x00, 0x3B}}, {"\x1b[[B", {0x00, 0x3C}}, {"\x1b[[C", {0x00, 0x3D}},
        {"\x1b[[D", {0x00, 0x3E}}, {"\x1b[[E", {0x00, 0x3F}},  // Linux console
        {"\x1b[1;2P", {0x00, 0x54}}, {"\x1b[1;5Q", {0x00, 0x5F}}, {"\x1b[1;3S", {0x00, 0x6B}},
        {"\x1bO2P", {0x00, 0x54}},
        {"\x1b[15;2~", {0x00, 0x58}}, {"\x1b[21;5~", {0x00, 0x67}}, {"\x1b[17;3~", {0x00, 0x6D}},
        {"\x1b[23;2~", {0xE0, 0x87}}, {"\x1b[24;7~", {0xE0, 0x8C}},
    });
}

TEST(TerminalKeys, RxvtModifierForms) {
    expect_keys({
        {"\x1b[2$", {0xE0, 0x52}},  // Shift+Insert
        {"\x1b[5^", {0xE0, 0x86}},  // Ctrl+Page Up
        {"\x1b[3@", {0xE0, 0x93}},  // Ctrl+Shift+Delete
        {"\x1b[11^", {0x00, 0x5E}},
        {"\x1b[a", {0xE0, 0x48}},   // Shift+Up
        {"\x1bOa", {0xE0, 0x8D}},   // Ctrl+Up
        {"\x1bOd", {0xE0, 0x73}},   // Ctrl+Left
    });
}

// The keypad in application mode gives what the console gives with Num Lock on.
TEST(TerminalKeys, ShiftTabAndApplicationKeypad) {
    expect_keys({
        {"\x1b[Z", {0x00, 0x0F}},
        {"\x1bOM", {13}},  // keypad Enter ends the entry like Enter
        {"\x1bOp", {'0'}}, {"\x1bOq", {'1'}}, {"\x1bOr", {'2'}}, {"\x1bOs", {'3'}},
        {"\x1bOt", {'4'}}, {"\x1bOu", {'5'}}, {"\x1bOv", {'6'}}, {"\x1bOw", {'7'}},
        {"\x1bOx", {'8'}}, {"\x1bOy", {'9'}}, {"\x1bOj", {'*'}}, {"\x1bOk", {'+'}},
        {"\x1bOl", {','}}, {"\x1bOm", {'-'}}, {"\x1bOn", {'.'}}, {"\x1bOo", {'/'}},
        {"\x1bOX", {'='}},
    });
}

// Keypad 5 with Num Lock off yields nothing on the console, under any modifier.
TEST(TerminalKeys, KeypadFiveWithNumLockOffGivesNothing) {
    key_pair pair{};
    for (std::uint32_t state : {0u, KEY_SHIFT, KEY_LEFT_CTRL, KEY_LEFT_ALT}) {
        EXPECT_FALSE(lookup_key(0x4C, state, pair)) << state;
    }
    expect_keys({{"\x1b[E", {}}, {"\x1bOE", {}}, {"\x1b[G", {}}, {"\x1bOG", {}},
                 {"\x1b[1;5E", {}}, {"\x1b[1;3G", {}}, {"\x1bO2E", {}}});
}

TEST(TerminalKeys, PartialSequencesWaitForMore) {
    for (std::string_view start : {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;", "\x1b[1;5", "\x1bO",
                                   "\x1bO5", "\x1b[[", "\x1b[?1"}) {
        EXPECT_EQ(decode(start), nothing(0)) << start.substr(1);
    }
}

TEST(TerminalKeys, CutSequenceWhenNoMoreIsComing) {
    EXPECT_EQ(decode("\x1b", true), gives(1, {27}));  // a lone Esc
    for (std::string_view cut : {"\x1b[1;5", "\x1b[[", "\x1bO2"}) {
        EXPECT_EQ(decode(cut, true), nothing(cut.size())) << cut.substr(1);
    }
    // ESC [ and ESC O alone are Alt+[ and Alt+O (Shift or not).
    EXPECT_EQ(decode("\x1b[", true), gives(2, {0x00, 0x1A}));
    EXPECT_EQ(decode("\x1bO", true), gives(2, {0x00, 0x18}));
    // A whole key is taken as usual.
    EXPECT_EQ(decode("\x1b[A", true), gives(3, {0xE0, 0x48}));
    EXPECT_EQ(decode("a", true), gives(1, {'a'}));
}

// Esc before a key is Alt with that key: the console's Alt pair for it
// (Alt over Ctrl and Shift), or nothing where the console yields nothing.
TEST(TerminalKeys, EscBeforeAKeyIsAltWithThatKey) {
    expect_keys({
        {"\x1bq", {0x00, 0x10}}, {"\x1bp", {0x00, 0x19}}, {"\x1b" "a", {0x00, 0x1E}},
        {"\x1bl", {0x00, 0x26}}, {"\x1bz", {0x00, 0x2C}}, {"\x1bm", {0x00, 0x32}},
        {"\x1bQ", {0x00, 0x10}}, {"\x1b" "A", {0x00, 0x1E}}, {"\x1bM", {0x00, 0x32}},  // Shift
        {"\x1b" "1", {0x00, 0x78}}, {"\x1b" "0", {0x00, 0x81}}, {"\x1b-", {0x00, 0x82}},
        {"\x1b=", {0x00, 0x83}}, {"\x1b!", {0x00, 0x78}}, {"\x1b+", {0x00, 0x83}},
        {"\x1b]", {0x00, 0x1B}}, {"\x1b{", {0x00, 0x1A}}, {"\x1b;", {0x00, 0x27}},
        {"\x1b\"", {0x00, 0x28}}, {"\x1b~", {0x00, 0x29}}, {"\x1b,", {0x00, 0x33}},
        {"\x1b?", {0x00, 0x35}},
        {"\x1b\x7f", {0x00, 0x0E}}, {"\x1b\x08", {0x00, 0x0E}},  // Backspace, not Ctrl+H
        {"\x1b\t", {0x00, 0x0F}}, {"\x1b\r", {0x00, 0x1C}},       // Tab, Enter
        {"\x1b\x01", {0x00, 0x1E}}, {"\x1b\x1a", {0x00, 0x2C}}, {"\x1b\n", {0x00, 0x24}},  // Ctrl
        {"\x1b\x1d", {0x00, 0x1B}}, {"\x1b\x1e", {0x00, 0x7D}}, {"\x1b\x1f", {0x00, 0x82}},
        {std::string("\x1b\0", 2), {0x00, 0x79}},  // Ctrl+Alt+2
        {"\x1b ", {}}, {"\x1b\\", {}}, {"\x1b|", {}}, {"\x1b\x1c", {}},  // nothing on the console
    });
    // Esc before Esc, or before a byte past ASCII, is Esc on its own.
    EXPECT_EQ(decode("\x1b\x1b[A"), gives(1, {27}));
    EXPECT_EQ(decode("\x1b\xc3\xa9"), gives(1, {27}));
}

TEST(TerminalKeys, UnknownSequencesAreDroppedWhole) {
    for (std::string_view unknown :
         {"\x1b[99~", "\x1b[200~", "\x1b[?1;2c", "\x1b[1;2;3A", "\x1b[Y", "\x1bOZ", "\x1b[[Z",
          "\x1b[<0;1;1M", "\x1b[ q", "\x1b[25~", "\x1b[0~"}) {
        EXPECT_EQ(decode(unknown), nothing(unknown.size())) << unknown.substr(1);
        EXPECT_EQ(decode(std::string(unknown) + "a"), nothing(unknown.size())) << unknown.substr(1);
    }
}

TEST(TerminalKeys, BrokenSequenceEndsBeforeTheForeignByte) {
    EXPECT_EQ(decode("\x1b[1\x03"), nothing(3));
    EXPECT_EQ(decode("\x1bO5 "), nothing(3));
    // With no sequence byte at all, ESC [ and ESC O were Alt+[ and Alt+O.
    EXPECT_EQ(decode("\x1bO\r"), gives(2, {0x00, 0x18}));
    EXPECT_EQ(decode("\x1b[\xe9"), gives(2, {0x00, 0x1A}));
}

TEST(TerminalKeys, OverlongSequenceIsBounded) {
    const std::string endless = "\x1b[" + std::string(100, '1');
    EXPECT_EQ(decode(endless), nothing(32));
    const std::string ss3 = "\x1bO" + std::string(100, '5');
    EXPECT_EQ(decode(ss3), nothing(32));
    // Huge parameters do not overflow.
    EXPECT_EQ(decode("\x1b[99999999999999999999;5A"), gives(25, {0xE0, 0x8D}));
    EXPECT_EQ(decode("\x1b[99999999999999999999~"), nothing(23));
}

}  // namespace
