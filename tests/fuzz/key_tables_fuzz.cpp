// Console key lookups with any scan code and any control-key state: they
// stay inside the tables, and what they yield depends only on the scan code,
// the enhanced flag and the winning modifier column.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/key_tables.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "key_tables_fuzz: violated: %s\n", what);
    __builtin_trap();
}

// The state reduced to what the lookup may look at: the enhanced flag and
// the one modifier that wins (Alt over Ctrl over Shift).
std::uint32_t canonical_state(std::uint32_t state) {
    std::uint32_t column = 0;
    if (state & (KEY_LEFT_ALT | KEY_RIGHT_ALT)) {
        column = KEY_LEFT_ALT;
    } else if (state & (KEY_LEFT_CTRL | KEY_RIGHT_CTRL)) {
        column = KEY_LEFT_CTRL;
    } else if (state & KEY_SHIFT) {
        column = KEY_SHIFT;
    }
    return column | (state & KEY_ENHANCED);
}

bool is_enhanced_row(std::uint16_t scan_code) {
    static constexpr std::uint16_t ROWS[] = {0x1C, 0x35, 0x47, 0x48, 0x49, 0x4B,
                                             0x4D, 0x4F, 0x50, 0x51, 0x52, 0x53};
    for (const std::uint16_t row : ROWS) {
        if (row == scan_code) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t raw[6] = {};
    std::memcpy(raw, data, size < sizeof raw ? size : sizeof raw);
    const std::uint16_t scan_code = static_cast<std::uint16_t>(raw[0] | raw[1] << 8);
    const std::uint32_t state = static_cast<std::uint32_t>(raw[2]) | static_cast<std::uint32_t>(raw[3]) << 8 |
                                static_cast<std::uint32_t>(raw[4]) << 16 |
                                static_cast<std::uint32_t>(raw[5]) << 24;

    key_pair pair{};
    const bool yielded = lookup_key(scan_code, state, pair);
    key_pair reduced{};
    const bool reduced_yielded = lookup_key(scan_code, canonical_state(state), reduced);
    require(yielded == reduced_yielded, "other state bits do not change whether a key yields");
    if (yielded) {
        require(pair.lead == reduced.lead && pair.code == reduced.code,
                "other state bits do not change the pair");
    }

    if (!yielded) return 0;
    if (state & KEY_ENHANCED) {
        require(is_enhanced_row(scan_code), "an enhanced key yields only from the enhanced table's rows");
    } else {
        require(scan_code <= 0x58, "the scan-code table has rows 0 to 0x58 only");
        require(pair.lead == 0x00 || pair.lead == 0xE0, "a scan-code pair leads with 0 or 0xE0");
        require(pair.code != 0, "a scan-code pair has a non-zero code");
    }
    return 0;
}
