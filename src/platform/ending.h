// The end of the process, with one owner on every thread. Whatever ends a
// run early (on POSIX every signal whose default action ends the process; on
// Windows Ctrl+C, Ctrl+Break, a closed console) reaches the ending, which
// removes every temporary alive, puts the terminal's mode back, erases the
// status line, and then lets the process end as the signal would
// (ending.cpp, ending_posix.cpp, ending_win32.cpp).
//
// What a thread may do while the run can end at any moment, each as one step
// that the ending waits for; steps of several threads run at once, and once
// the ending has begun a thread that tries one waits until the process is
// gone:
//   - make a temporary, put it in place, or throw it away (any thread);
//   - switch the terminal into raw mode and back (the main thread);
//   - draw the status line (the main thread).
// A stop (POSIX: SIGTSTP) is answered by the same owner: it waits for the
// steps in progress, puts the terminal's mode back and erases the status
// line, stops, and once continued in the foreground makes the terminal raw
// again if a key read was waiting.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/files.h"

// Starts the ending; called once, on the main thread, before any other thread
// exists. false when it cannot be started (no thread to be had): the run must
// not begin then.
bool start_ending();

// A thread that takes no signal at all, a stop included (POSIX: it starts
// with every signal blocked but those a fault raises): the ending's thread
// alone answers them. Throws what std::thread throws.
std::thread quiet_thread(std::function<void()> body);

// One step the ending waits for, for the whole life of this object.
class ending_step {
public:
    ending_step();
    ~ending_step();
    ending_step(const ending_step&) = delete;
    ending_step& operator=(const ending_step&) = delete;
};

// An output being written under a temporary name beside its final one, until
// it is complete and renamed into place. While temp_path is not empty the
// ending knows it and removes it; the destructor removes it too, so every way
// out of a failed copy cleans up.
struct temp_output {
    os_file file;
    std::string temp_path;  // empty once renamed or removed
    temp_output() = default;
    ~temp_output();
};
// Up to this many temporaries may be alive at once; beyond, begin_output fails.
inline constexpr int MOST_TEMPORARIES = 256;
// Creates the temporary for final_path, known to the ending from then on.
bool begin_output(const std::string& final_path, temp_output& output);
// Renames the temporary, already closed, to final_path: over an existing
// file when replace, else only when nothing has that name (rename_file).
file_result finish_output(temp_output& output, const std::string& final_path, bool replace);
// Renames the temporary, already closed, over path, the input it was made
// from, only while that is still the file read in state read
// (replace_if_unchanged).
file_result replace_input(temp_output& output, const std::string& path, const file_state& read);
// Closes and removes the temporary now.
void discard_output(temp_output& output);

// Key entry's raw mode, on the main thread: enter_raw_mode saves the mode of
// the terminal (a descriptor on POSIX, the console's input handle on
// Windows) and makes it raw, silent and without signals from keys;
// leave_raw_mode puts the saved mode back. false when the mode cannot be
// read or set (the saved one is then back in force).
bool enter_raw_mode(std::intptr_t terminal);
void leave_raw_mode();

// For the system's own ending file (ending_posix.cpp, ending_win32.cpp).
namespace ending_internals {
// The ending: waits for the steps in progress and holds off every later one
// for good, removes the temporaries, puts the terminal's mode back and
// erases the status line. The process must end right after.
void end_the_run();
// A stop: waits for the steps in progress, holds off new ones, puts the
// terminal's mode back and erases the status line; resume_after_stop makes
// the terminal raw again if a read waits (and the process has the terminal),
// and lets the steps go on. A continue after any stop does the same, under
// the hold.
void hold_steps_for_stop();
void resume_after_stop();
void answer_continue();
// Puts back the mode a key read saved, if the terminal is raw now; and makes
// it raw again after a stop. The system's ending file holds the mode.
void restore_terminal_mode();
void reenter_raw_mode();
}  // namespace ending_internals
