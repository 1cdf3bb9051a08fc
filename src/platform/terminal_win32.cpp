// The Windows console: keys are read from "CONIN$" as input records, with the
// console's input mode at 0 (no echo, no line editing, Ctrl+C as a key) only
// while one read waits (enter_raw_mode, ending.h).
#include <windows.h>

#include <cstdio>

#include "platform/ending.h"
#include "platform/key_tables.h"
#include "platform/terminal.h"

namespace {

enum class console_state { not_opened, open, unavailable };

console_state state = console_state::not_opened;
HANDLE console_input = INVALID_HANDLE_VALUE;

bool open_console() {
    if (state == console_state::not_opened) {
        console_input =
            CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        state = console_input == INVALID_HANDLE_VALUE ? console_state::unavailable
                                                      : console_state::open;
    }
    return state == console_state::open;
}

// Waits for the next key-down that gives something: its character, or the
// code pair of a key without one. Repeat counts are ignored: one record, one
// key.
int read_key_record(unsigned char out[2]) {
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(console_input, &record, 1, &count) || count != 1) return -1;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (key.uChar.AsciiChar != 0) {
            out[0] = static_cast<unsigned char>(key.uChar.AsciiChar);
            return 1;
        }
        key_pair pair{};
        if (lookup_key(key.wVirtualScanCode, key.dwControlKeyState, pair)) {
            out[0] = pair.lead;
            out[1] = pair.code;
            return 2;
        }
    }
}

}  // namespace

int read_terminal_key(unsigned char out[2]) {
    if (!open_console() || !enter_raw_mode(reinterpret_cast<std::intptr_t>(console_input))) return -1;
    const int result = read_key_record(out);
    leave_raw_mode();
    return result;
}

void setup_standard_output() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        // The C library of Windows buffers a line-buffered stream in full:
        // the run flushes each line it reports itself.
        std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    }
}
