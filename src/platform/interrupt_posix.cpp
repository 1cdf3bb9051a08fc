#include "platform/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/status_line.h"
#include "platform/terminal.h"

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The holding thread's depth of hold_interrupts() and its mask before; a
// thread that had them all blocked already (a worker) needs no call again.
thread_local int hold_depth = 0;
thread_local sigset_t mask_before_hold;
thread_local bool blocked_for_good = false;

void set_handler(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No handler may run inside another: both restore the terminal.
    for (int other : ENDING_SIGNALS) sigaddset(&action.sa_mask, other);
    sigaddset(&action.sa_mask, SIGTSTP);
    // A stop and continue must not fail a plain read of standard input.
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
}

// Lets sig take its default course from inside its own handler.
void raise_default(int sig) {
    set_handler(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void on_ending_signal(int sig) {
    restore_terminal_mode();
    erase_status_line();
    remove_partial_outputs([](const char* path) { unlink(path); });
    raise_default(sig);
}

// Stops with the terminal in its own mode; once continued, the read in
// progress takes its raw mode back (its wait is interrupted by this handler).
void on_stop_signal(int sig) {
    const int saved_errno = errno;
    restore_terminal_mode();
    erase_status_line();
    raise_default(sig);
    set_handler(sig, on_stop_signal);
    errno = saved_errno;
}

void install(int sig, void (*handler)(int)) {
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) != 0) return;
    // A signal ignored by whoever started us (nohup, a background job) stays ignored.
    if (current.sa_handler == SIG_IGN) return;
    set_handler(sig, handler);
}

}  // namespace

void install_interrupt_cleanup() {
    for (int sig : ENDING_SIGNALS) install(sig, on_ending_signal);
    install(SIGTSTP, on_stop_signal);
}

// Blocking the signals on this thread defers them: a signal sent to the
// process waits, pending, until they are unblocked. A thread started
// meanwhile inherits the blocked mask and keeps it, so it never takes one.
void hold_interrupts() {
    if (blocked_for_good || hold_depth++ > 0) return;
    sigset_t held;
    sigemptyset(&held);
    for (int sig : ENDING_SIGNALS) sigaddset(&held, sig);
    sigaddset(&held, SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &held, &mask_before_hold);
    bool all_blocked = sigismember(&mask_before_hold, SIGTSTP) == 1;
    for (int sig : ENDING_SIGNALS) all_blocked = all_blocked && sigismember(&mask_before_hold, sig) == 1;
    if (all_blocked) {
        blocked_for_good = true;
        hold_depth = 0;
    }
}

void release_interrupts() {
    if (blocked_for_good || --hold_depth > 0) return;
    pthread_sigmask(SIG_SETMASK, &mask_before_hold, nullptr);
}
