#include "platform/key_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <optional>
#include <vector>

namespace {

using pair_bytes = std::optional<std::pair<int, int>>;

constexpr std::uint32_t PLAIN = 0;
const char* const COLUMN_NAMES[4] = {"plain", "Shift", "Ctrl", "Alt"};

pair_bytes look(std::uint16_t scan_code, std::uint32_t state) {
    key_pair pair{0x5A, 0xA5};
    if (!lookup_key(scan_code, state, pair)) {
        // A key that yields nothing leaves the caller's pair alone.
        EXPECT_EQ(pair.lead, 0x5A);
        EXPECT_EQ(pair.code, 0xA5);
        return std::nullopt;
    }
    return std::pair<int, int>{pair.lead, pair.code};
}

pair_bytes yields(int lead, int code) {
    return std::pair<int, int>{lead, code};
}

// The yield of the scan-code table, stated key group by key group.
pair_bytes expected_scan_yield(int code, int column) {
    const bool plain = column == 0, shift = column == 1, ctrl = column == 2, alt = column == 3;
    if (code == 0x01) return alt ? yields(0, 0x01) : std::nullopt;
    if (code >= 0x02 && code <= 0x0D) {
        if (alt) return yields(0, code + 0x76);
        if (ctrl && code == 0x03) return yields(0, 0x03);
        return std::nullopt;
    }
    if (code == 0x0E) return alt ? yields(0, 0x0E) : std::nullopt;
    if (code == 0x0F) {
        if (shift || alt) return yields(0, 0x0F);
        if (ctrl) return yields(0, 0x94);
        return std::nullopt;
    }
    if ((code >= 0x10 && code <= 0x1C) || (code >= 0x1E && code <= 0x29) ||
        (code >= 0x2C && code <= 0x35)) {
        return alt ? yields(0, code) : std::nullopt;
    }
    if (code >= 0x3B && code <= 0x44) {
        const int add[4] = {0, 0x19, 0x23, 0x2D};
        return yields(0, code + add[column]);
    }
    const int keypad[] = {0x47, 0x48, 0x49, 0x4B, 0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53};
    const int keypad_ctrl[] = {0x77, 0x8D, 0x84, 0x73, 0x74, 0x75, 0x91, 0x76, 0x92, 0x93};
    for (int i = 0; i < 10; ++i) {
        if (code != keypad[i]) continue;
        if (plain) return yields(0, code);
        if (ctrl) return yields(0, keypad_ctrl[i]);
        return std::nullopt;
    }
    if (code == 0x57) return yields(0xE0, 0x85 + 2 * column);
    if (code == 0x58) return yields(0xE0, 0x86 + 2 * column);
    return std::nullopt;
}

// Control-key states that choose each column: Alt over Ctrl over Shift, left
// and right alike; other flags do not matter.
const std::uint32_t STATES[4][4] = {
    {PLAIN, 0x20 | 0x40 | 0x80, PLAIN, PLAIN},
    {KEY_SHIFT, KEY_SHIFT | 0x20, KEY_SHIFT, KEY_SHIFT},
    {KEY_LEFT_CTRL, KEY_RIGHT_CTRL, KEY_LEFT_CTRL | KEY_SHIFT, KEY_RIGHT_CTRL | KEY_SHIFT},
    {KEY_LEFT_ALT, KEY_RIGHT_ALT, KEY_LEFT_ALT | KEY_LEFT_CTRL,
     KEY_RIGHT_ALT | KEY_RIGHT_CTRL | KEY_SHIFT},
};

// Every scan code, in each column under every state that chooses it: the
// listed pairs and nothing else (modifiers alone and codes past the table
// included).
TEST(KeyTables, ScanCodeTableYieldsExactlyTheListedPairs) {
    std::vector<int> codes(0x101);
    std::iota(codes.begin(), codes.end(), 0);
    codes.push_back(0xFFFF);
    int yielding = 0;
    for (int code : codes) {
        for (int column = 0; column < 4; ++column) {
            const pair_bytes expected = expected_scan_yield(code, column);
            for (std::uint32_t state : STATES[column]) {
                EXPECT_EQ(look(static_cast<std::uint16_t>(code), state), expected)
                    << "scan code " << code << ", " << COLUMN_NAMES[column] << ", state " << state;
            }
            yielding += expected.has_value();
        }
    }
    // Esc 1, digit row 13, Backspace 1, Tab 3, letters 35, F1-F10 40, keypad 20, F11/F12 8.
    EXPECT_EQ(yielding, 121);
}

TEST(KeyTables, EnhancedTableRowsInEveryColumn) {
    struct row {
        int code;
        int pairs[4][2];
    };
    const row rows[] = {
        {0x1C, {{0x0D, 0x00}, {0x0D, 0x00}, {0x0A, 0x00}, {0x00, 0xA6}}},
        {0x35, {{0x2F, 0x00}, {0x3F, 0x00}, {0x00, 0x95}, {0x00, 0xA4}}},
        {0x47, {{0xE0, 0x47}, {0xE0, 0x47}, {0xE0, 0x77}, {0x00, 0x97}}},
        {0x48, {{0xE0, 0x48}, {0xE0, 0x48}, {0xE0, 0x8D}, {0x00, 0x98}}},
        {0x49, {{0xE0, 0x49}, {0xE0, 0x49}, {0xE0, 0x86}, {0x00, 0x99}}},
        {0x4B, {{0xE0, 0x4B}, {0xE0, 0x4B}, {0xE0, 0x73}, {0x00, 0x9B}}},
        {0x4D, {{0xE0, 0x4D}, {0xE0, 0x4D}, {0xE0, 0x74}, {0x00, 0x9D}}},
        {0x4F, {{0xE0, 0x4F}, {0xE0, 0x4F}, {0xE0, 0x75}, {0x00, 0x9F}}},
        {0x50, {{0xE0, 0x50}, {0xE0, 0x50}, {0xE0, 0x91}, {0x00, 0xA0}}},
        {0x51, {{0xE0, 0x51}, {0xE0, 0x51}, {0xE0, 0x76}, {0x00, 0xA1}}},
        {0x52, {{0xE0, 0x52}, {0xE0, 0x52}, {0xE0, 0x92}, {0x00, 0xA2}}},
        {0x53, {{0xE0, 0x53}, {0xE0, 0x53}, {0xE0, 0x93}, {0x00, 0xA3}}},
    };
    for (const row& r : rows) {
        for (int column = 0; column < 4; ++column) {
            // Pairs with a zero code or an ordinary lead still count here.
            for (std::uint32_t state : STATES[column]) {
                EXPECT_EQ(look(static_cast<std::uint16_t>(r.code), KEY_ENHANCED | state),
                          yields(r.pairs[column][0], r.pairs[column][1]))
                    << "enhanced scan code " << r.code << ", state " << state;
            }
        }
    }
}

TEST(KeyTables, EnhancedKeyMissingFromItsTableYieldsNothing) {
    for (std::uint16_t code :
         {0x00, 0x01, 0x1D, 0x1E, 0x38, 0x3B, 0x4C, 0x57, 0x5B, 0x5D, 0xFFFF}) {
        EXPECT_EQ(look(code, KEY_ENHANCED), std::nullopt) << code;
        EXPECT_EQ(look(code, KEY_ENHANCED | KEY_LEFT_ALT), std::nullopt) << code;
    }
}

}  // namespace
