// The end of the process when it is interrupted (Ctrl+C, termination,
// hang-up, quit), with one owner on every thread: the temporaries being
// written are removed and the terminal mode restored, then the signal takes
// its usual course (interrupt_posix.cpp, interrupt_win32.cpp).
//
// A temporary is created and tracked, or renamed and forgotten, as one step
// under the hold (interrupts_held). The ending takes the same hold and keeps
// it until the process is gone, so after its sweep no temporary is created,
// put in place or left behind, whichever thread was about to.
#pragma once

#include <functional>
#include <thread>

// Installs the cleanup; called once at start, on the main thread, before any
// other thread exists. POSIX: the ending signals are then blocked in every
// thread and taken by one thread of its own; SIGPIPE and SIGXFSZ are ignored,
// so a closed output or a file size limit is a failed write, not a silent end.
void install_interrupt_cleanup();

// A temporary file being written, removed if the run is interrupted. The text
// must stay valid until forget_partial_output is given the same pointer. Up
// to TRACKED_OUTPUTS can be tracked at once; beyond that, false.
inline constexpr int TRACKED_OUTPUTS = 64;
bool track_partial_output(const char* temp_path);
void forget_partial_output(const char* temp_path);

// The ending, for the platform's interrupt path (a thread, never a signal
// handler): takes the hold for good, then passes every tracked temporary to
// remove.
void end_the_run(void (*remove)(const char* path));

// While one exists, the ending waits; other threads may hold at the same
// time. Does not nest.
void hold_interrupts();
void release_interrupts();

struct interrupts_held {
    interrupts_held() { hold_interrupts(); }
    ~interrupts_held() { release_interrupts(); }
    interrupts_held(const interrupts_held&) = delete;
    interrupts_held& operator=(const interrupts_held&) = delete;
};

// A thread that takes no signal at all, a stop included (POSIX: it starts
// with every signal blocked): the main thread alone answers a stop. Throws
// what std::thread throws.
std::thread quiet_thread(std::function<void()> body);
