// The Windows console: keys are read from "CONIN$" as input records, with the
// console's input mode at 0 (no echo, no line editing, Ctrl+C as a key) only
// while one read waits.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/key_tables.h"
#include "platform/terminal.h"

namespace {

enum class console_state { not_opened, open, unavailable };

console_state state = console_state::not_opened;
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;
// Set while a read runs with the mode at 0: the console control handler,
// which runs on a thread of its own, then puts saved_mode back. Every change
// of the mode happens under switching, which the handler takes for good.
std::atomic<bool> mode_changed{false};
std::mutex switching;

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
    if (!open_console()) return -1;
    bool raw = false;
    {
        const std::lock_guard lock(switching);
        if (!GetConsoleMode(console_input, &saved_mode)) return -1;
        mode_changed = true;
        raw = SetConsoleMode(console_input, 0) != 0;
    }
    const int result = raw ? read_key_record(out) : -1;
    const std::lock_guard lock(switching);
    SetConsoleMode(console_input, saved_mode);
    mode_changed = false;
    return result;
}

void setup_standard_output() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    }
}

void restore_terminal_mode() {
    if (mode_changed.exchange(false)) SetConsoleMode(console_input, saved_mode);
}

void restore_terminal_for_good() {
    switching.lock();  // never released: the process is ending
    restore_terminal_mode();
}
