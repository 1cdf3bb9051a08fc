// Ctrl+C, Ctrl+Break and closing the console window. Windows runs the handler
// on a thread of its own: it ends the run under the hold, puts the console
// mode back, and lets the default handler end the process.
#include <windows.h>

#include "platform/interrupt.h"
#include "platform/status_line.h"
#include "platform/terminal.h"

namespace {

BOOL WINAPI on_console_event(DWORD /*event*/) {
    // A temporary still open for writing has delete sharing: the delete takes
    // effect when the ending process closes it.
    end_the_run([](const char* path) { DeleteFileA(path); });
    restore_terminal_for_good();
    erase_status_line();
    return FALSE;  // not handled: the default handler ends the process
}

}  // namespace

void install_interrupt_cleanup() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Console events come on a thread of their own; no thread takes signals.
std::thread quiet_thread(std::function<void()> body) { return std::thread(std::move(body)); }
