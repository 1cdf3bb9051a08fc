// The ending on Windows: Ctrl+C, Ctrl+Break and the closing of the console
// come to a handler that Windows runs on a thread of its own. It ends the run
// under the hold and lets the default handler end the process.
#include <windows.h>

#include "platform/ending.h"

namespace {

// Key entry's console input, its own mode, and whether a read has set it to
// 0; changed only within a step or by the ending.
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;
bool raw = false;

BOOL WINAPI on_console_event(DWORD /*event*/) {
    // A temporary still open for writing has delete sharing: the delete takes
    // effect when the ending process closes it.
    ending_internals::end_the_run();
    return FALSE;  // not handled: the default handler ends the process
}

}  // namespace

bool start_ending() { return SetConsoleCtrlHandler(on_console_event, TRUE) != 0; }

// Console events come on a thread of their own; no thread takes signals.
std::thread quiet_thread(std::function<void()> body) { return std::thread(std::move(body)); }

bool enter_raw_mode(std::intptr_t handle) {
    const ending_step step;
    console_input = reinterpret_cast<HANDLE>(handle);
    if (!GetConsoleMode(console_input, &saved_mode)) return false;
    raw = true;
    if (SetConsoleMode(console_input, 0)) return true;
    SetConsoleMode(console_input, saved_mode);
    raw = false;
    return false;
}

void leave_raw_mode() {
    const ending_step step;
    if (!raw) return;
    SetConsoleMode(console_input, saved_mode);
    raw = false;
}

namespace ending_internals {

void restore_terminal_mode() {
    if (raw) SetConsoleMode(console_input, saved_mode);
}

// Windows has no stop.
void reenter_raw_mode() {}

}  // namespace ending_internals
