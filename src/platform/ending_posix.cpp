// The ending on POSIX: every signal whose default action ends the process is
// blocked in every thread and taken by one thread of its own, which ends the
// run under the hold and then lets the signal end the process. A stop
// (SIGTSTP) and a continue (SIGCONT) are taken by the same thread. The signals a fault raises stay
// where they are: they belong to the thread that faulted.
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ending.h"

namespace {

// Default action: the end of the process. A write to a closed pipe or past
// the file size limit raises SIGPIPE or SIGXFSZ in the writing thread, where
// it stays pending: the write fails instead, and the run ends the ordinary
// way. Sent by another process, they end the run like the others.
constexpr int ENDING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2,
                                  SIGPIPE, SIGALRM, SIGTERM,   SIGSTKFLT, SIGXCPU,
                                  SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

// The ending thread needs little: its stack stays small, so that it can be
// made where memory is short.
constexpr std::size_t ENDING_STACK = 256 * 1024;

// The signals the ending thread answers: those not ignored at the start.
sigset_t answered;

// Key entry's terminal, its own mode, and the raw one while a read waits;
// changed only within a step or while the steps are held.
int terminal = -1;
termios saved_mode;
termios raw_mode;
bool raw = false;

bool ignored(int sig) {
    struct sigaction current {};
    return sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void answer_unless_ignored(int sig) {
    if (!ignored(sig)) sigaddset(&answered, sig);
}

// Every signal but those a fault raises in the thread itself: blocked, they
// would end the process without their handlers (a sanitizer's).
sigset_t all_but_faults() {
    sigset_t all;
    sigfillset(&all);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) sigdelset(&all, fault);
    return all;
}

// Lets sig take its default course: the end of the process, or a stop.
void raise_default(int sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void* answer_signals(void*) {
    for (;;) {
        int sig = 0;
        if (sigwait(&answered, &sig) != 0) continue;
        if (sig == SIGTSTP) {
            ending_internals::hold_steps_for_stop();
            raise_default(SIGTSTP);  // stopped here until continued
            ending_internals::resume_after_stop();
            continue;
        }
        // Continued after a stop of any kind: a key read waiting takes its
        // raw mode back, once the terminal is this process's again.
        if (sig == SIGCONT) {
            ending_internals::answer_continue();
            continue;
        }
        ending_internals::end_the_run();
        raise_default(sig);
        _exit(128 + sig);  // not reached: the signal ends the process
    }
}

bool set_mode(const termios& mode) {
    int result;
    do {
        result = tcsetattr(terminal, TCSANOW, &mode);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// No thread to answer them: the signals take their default actions again,
// but for a closed output or the file size limit, which fail writes.
bool stay_without_ending() {
    pthread_sigmask(SIG_UNBLOCK, &answered, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    return false;
}

}  // namespace

bool start_ending() {
    sigemptyset(&answered);
    for (int sig : ENDING_SIGNALS) answer_unless_ignored(sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) answer_unless_ignored(sig);
    answer_unless_ignored(SIGTSTP);
    sigaddset(&answered, SIGCONT);  // blocked, it still continues the process
    // Blocked here, before any other thread exists: every thread inherits it.
    pthread_sigmask(SIG_BLOCK, &answered, nullptr);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return stay_without_ending();
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, ENDING_STACK);
    const sigset_t quiet = all_but_faults();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &quiet, &before);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, answer_signals, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attributes);
    return started || stay_without_ending();
}

std::thread quiet_thread(std::function<void()> body) {
    const sigset_t quiet = all_but_faults();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &quiet, &before);
    struct restore_mask {
        sigset_t& mask;
        ~restore_mask() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    return std::thread(std::move(body));
}

bool enter_raw_mode(std::intptr_t fd) {
    const ending_step step;
    terminal = static_cast<int>(fd);
    if (tcgetattr(terminal, &saved_mode) != 0) return false;
    raw_mode = saved_mode;
    raw_mode.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    raw_mode.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw_mode.c_cc[VMIN] = 1;
    raw_mode.c_cc[VTIME] = 0;
    raw = true;
    if (set_mode(raw_mode)) return true;
    // A failed change may still have applied part of it.
    set_mode(saved_mode);
    raw = false;
    return false;
}

void leave_raw_mode() {
    const ending_step step;
    if (!raw) return;
    set_mode(saved_mode);
    raw = false;
}

namespace ending_internals {

void restore_terminal_mode() {
    if (raw) set_mode(saved_mode);
}

void reenter_raw_mode() {
    // Continued in the background, the terminal stays as the shell has it.
    if (raw && tcgetpgrp(terminal) == getpgrp()) set_mode(raw_mode);
}

}  // namespace ending_internals
