// Cleanup when the process is interrupted (Ctrl+C, termination, hang-up):
// the one partial output is removed and the terminal mode restored, then the
// signal takes its usual course.
#pragma once

// Installs the handlers; called once at start.
void install_interrupt_cleanup();
// The temporary file being written, removed if a signal ends the run. The
// text must stay valid until forget_partial_output().
void track_partial_output(const char* temp_path);
void forget_partial_output();

// While one exists, the interrupt cleanup waits: a temporary is created and
// tracked, or renamed and forgotten, as one step, so an interrupt never lands
// between the two and leaves a temporary behind. Worker threads are started
// under one too: a signal then never runs the cleanup on a worker while this
// thread is between two such steps. Nests; for one thread.
void hold_interrupts();
void release_interrupts();

struct interrupts_held {
    interrupts_held() { hold_interrupts(); }
    ~interrupts_held() { release_interrupts(); }
    interrupts_held(const interrupts_held&) = delete;
    interrupts_held& operator=(const interrupts_held&) = delete;
};
