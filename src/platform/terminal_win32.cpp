// The Windows console: keys are read from "CONIN$" as input records, with the
// console's input mode at 0 (no echo, no line editing, Ctrl+C as a key) only
// while one read waits (enter_raw_mode, ending.h).
#include <windows.h>

#include <cstdio>

#include "platform/ending.h"
#include "platform/key_tables.h"
#include "platform/terminal.h"

namespace {

// The console's input, opened on the first read that needs it;
// INVALID_HANDLE_VALUE, for good, when it cannot be.
HANDLE console_input() {
    static const HANDLE handle =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return handle;
}

// Waits for the next key-down that gives something: its character, or the
// code pair of a key without one. Repeat counts are ignored: one record, one
// key.
int read_key_record(unsigned char out[2]) {
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputA(console_input(), &record, 1, &count) || count != 1) return -1;
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
    if (console_input() == INVALID_HANDLE_VALUE ||
        !enter_raw_mode(reinterpret_cast<std::intptr_t>(console_input()))) {
        return -1;
    }
    const int result = read_key_record(out);
    leave_raw_mode();
    return result;
}

bool write_terminal(const char* text, std::size_t size) {
    static const HANDLE console_output =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD put = 0;
    return console_output != INVALID_HANDLE_VALUE &&
           WriteFile(console_output, text, static_cast<DWORD>(size), &put, nullptr) && put == size;
}

bool input_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool output_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Keys typed ahead wait in the console's own buffer, not in this process.
void forget_typed_keys() {}

void setup_standard_output() {
    if (output_is_terminal()) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        // The C library of Windows buffers a line-buffered stream in full:
        // the run flushes each line it reports itself.
        std::setvbuf(stdout, nullptr, _IOLBF, 4096);
    }
}
