// Ctrl+C, Ctrl+Break and closing the console window: the console mode is put
// back and the partial output deleted, then the default handling ends the
// process. The handler runs on a thread of its own, so the tracked path is
// atomic, and a hold is a lock the handler takes too.
#include <windows.h>

#include <mutex>

#include "platform/interrupt.h"
#include "platform/status_line.h"
#include "platform/terminal.h"

namespace {

std::recursive_mutex holding;

BOOL WINAPI on_console_event(DWORD /*event*/) {
    const std::lock_guard wait_for_holder(holding);
    restore_terminal_mode();
    erase_status_line();
    // The temporary is open for writing, but with delete sharing: the delete
    // takes effect when the ending process closes it.
    remove_partial_outputs([](const char* path) { DeleteFileA(path); });
    return FALSE;  // not handled: the default handler ends the process
}

}  // namespace

void install_interrupt_cleanup() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void hold_interrupts() { holding.lock(); }

void release_interrupts() { holding.unlock(); }
