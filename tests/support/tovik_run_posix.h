// Whole runs of tovik for the robustness tests: scratch trees, reference
// containers, and the dialogue typed through a pseudo-terminal, whether the
// run is the real binary or run_driver in a forked child.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/faults.h"
#include "support/console_text.h"
#include "support/oracles.h"
#include "support/pty_posix.h"
#include "support/scratch.h"

namespace tovik_run {

using console_text::BANNER;
using console_text::READY;
using temp_dir = scratch_dir;

// The container of plain under passphrase and the plain text of a container,
// from the key schedule and RC4 (each checked against vectors on its own).
std::string container_of(std::string_view plain, const std::string& passphrase);
std::string plain_of(std::string_view container, const std::string& passphrase);
std::string header_of(const std::string& passphrase);

// The targets pattern yields in directory dir, in the order a run takes them.
std::vector<std::string> targets_in(const std::string& dir, const std::string& pattern);
// The name a container is decrypted to: one trailing ".tvk" less, if any.
std::string stripped(const std::string& path);

// Runs tovik's driver with args (without the program word) and exits with
// its status, as main does: for a forked child.
[[noreturn]] void run_driver_and_exit(const std::vector<std::string>& args);
// The driver with args in a forked child on run's terminal, in directory
// dir, once prepare (given the child's report descriptor) returned true there.
bool start_driver(pty::session& run, const std::string& dir, const std::vector<std::string>& args,
                  const std::function<bool(int report)>& prepare = {});
// The real binary with args, in directory dir, with PATH=/usr/bin:/bin unless
// options set it; as the user nobody when as_nobody (which only root can ask
// for), then the program runs in the forked child rather than from its path.
bool start_binary(pty::session& run, const std::string& dir, const std::vector<std::string>& args,
                  bool as_nobody = false, pty::child_options options = {});

// Types key at "Key:" and again at "Reenter Key:" when asked, then answer at
// the ready prompt (nothing when answer is empty). false (with a test failure) when a prompt never
// came.
bool type_dialogue(pty::session& run, const std::string& key, const std::string& answer = "y\n");
// What the terminal shows up to and including the answer's echo.
std::string dialogue_text(std::size_t key_length, bool confirmed,
                          const std::string& answer = "y\n");

// Waits until a temporary exists below root (the run is writing an output),
// taking in run's output meanwhile so that it never blocks on the terminal.
bool output_in_progress(pty::session& run, const std::string& root);

// The whole transcript, the text after the dialogue, and the exit status.
struct finished_run {
    std::string transcript;
    bool dialogue = false;        // the transcript begins with a whole dialogue
    bool confirmed = false;       // in which the key was asked twice
    std::string before_dialogue;  // lines between the banner and "Key:"
    std::string after_dialogue;
    pty::exit_status status;
};
// Waits for the end of run; key_length is that of the key typed.
finished_run finish(pty::session& run, std::size_t key_length);
// The driver with args in a forked child on a terminal of its own, in
// directory dir, once prepare (if any) returned true there; key typed at its
// prompts (a run that ends before "Key:" is only waited for). Comes back
// with how often the child called each fault point (calls: empty when the
// child did not report them).
struct child_run {
    finished_run run;
    std::vector<int> calls;
    int calls_of(fault_point point) const {
        return calls.empty() ? -1 : calls[static_cast<std::size_t>(point)];
    }
};
child_run run_driver_in_child(const std::string& dir, const std::vector<std::string>& args,
                              const std::string& key, const std::function<bool()>& prepare = {});

// The real binary with args in dir, key typed at its prompts and "y" at the
// ready prompt: the whole run.
finished_run run_binary(const std::string& dir, const std::vector<std::string>& args,
                        const std::string& key, bool as_nobody = false);

}  // namespace tovik_run
