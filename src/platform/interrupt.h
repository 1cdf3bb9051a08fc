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
