// Cleanup when the process is interrupted (Ctrl+C, termination, hang-up):
// the partial outputs are removed and the terminal mode restored, then the
// signal takes its usual course.
#pragma once

// Installs the handlers; called once at start, on the main thread.
void install_interrupt_cleanup();
// A temporary file being written, removed if a signal ends the run. The text
// must stay valid until forget_partial_output is given the same pointer. Up
// to TRACKED_OUTPUTS can be tracked at once; beyond that, false.
inline constexpr int TRACKED_OUTPUTS = 64;
bool track_partial_output(const char* temp_path);
void forget_partial_output(const char* temp_path);
// For the handlers: passes every tracked temporary to remove, which must be
// safe in a signal handler, and forgets it.
void remove_partial_outputs(void (*remove)(const char* path));

// While one exists, the interrupt cleanup waits: a temporary is created and
// tracked, or renamed and forgotten, as one step, so an interrupt never lands
// between the two and leaves a temporary behind. Every worker thread is
// started under one: it then never takes an ending or stop signal, which are
// all left to the main thread. Nests; for one thread.
void hold_interrupts();
void release_interrupts();

struct interrupts_held {
    interrupts_held() { hold_interrupts(); }
    ~interrupts_held() { release_interrupts(); }
    interrupts_held(const interrupts_held&) = delete;
    interrupts_held& operator=(const interrupts_held&) = delete;
};
