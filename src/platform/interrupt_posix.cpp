#include "platform/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/disk_record.h"
#include "platform/status_line.h"
#include "platform/terminal.h"

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The ending signals this process answers: those not ignored at its start.
sigset_t answered;

bool ignored(int sig) {
    struct sigaction current {};
    return sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void set_handler(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // A stop and continue must not fail a plain read of standard input.
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
}

// Lets sig take its default course on this thread.
void raise_default(int sig) {
    set_handler(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

// Runs on the main thread, the only one that takes a stop. Stops with the
// terminal in its own mode; once continued, the read in progress takes its
// raw mode back (its wait is interrupted by this handler).
void on_stop_signal(int sig) {
    const int saved_errno = errno;
    restore_terminal_mode();
    erase_status_line();
    raise_default(sig);
    set_handler(sig, on_stop_signal);
    errno = saved_errno;
}

// The thread that owns the end: it waits for an ending signal, takes the
// hold for good (a thread creating or renaming a temporary finishes that
// step first; any that tries again waits), removes the temporaries, and
// lets the signal end the process. Copies may run on into temporaries
// already removed until the process is gone.
void answer_ending_signals() {
    for (;;) {
        int sig = 0;
        if (sigwait(&answered, &sig) != 0) continue;
        end_the_run([](const char* path) {
            if (unlink(path) == 0 && disk_recording())
                disk_record({.op = disk_op::unlink, .path = path});
        });
        restore_terminal_for_good();
        erase_status_line();
        raise_default(sig);
    }
}

}  // namespace

void install_interrupt_cleanup() {
    // Their default actions end the process with nothing cleaned; ignored, a
    // write fails instead, and the run ends the ordinary way.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // A signal ignored by whoever started us (nohup, a background job) stays ignored.
    sigemptyset(&answered);
    for (int sig : ENDING_SIGNALS) {
        if (!ignored(sig)) sigaddset(&answered, sig);
    }
    if (!ignored(SIGTSTP)) set_handler(SIGTSTP, on_stop_signal);
    // Blocked here, before any other thread exists: every thread inherits it.
    pthread_sigmask(SIG_BLOCK, &answered, nullptr);
    try {
        quiet_thread(answer_ending_signals).detach();
    } catch (const std::system_error&) {
        // No thread to answer them: they keep their default actions.
        pthread_sigmask(SIG_UNBLOCK, &answered, nullptr);
    }
}

std::thread quiet_thread(std::function<void()> body) {
    // Every signal but those a fault raises in the thread itself: blocked,
    // they would end the process without their handlers (a sanitizer's).
    sigset_t all, before;
    sigfillset(&all);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, fault);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    struct restore_mask {
        sigset_t& mask;
        ~restore_mask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    return std::thread(std::move(body));
}
