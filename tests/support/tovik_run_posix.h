// Whole runs of tovik for the robustness tests: scratch trees, reference
// containers, and the dialogue typed through a pseudo-terminal, whether the
// run is the real binary or run_driver in a forked child.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/console_text.h"
#include "support/oracles.h"
#include "support/pty_posix.h"

namespace tovik_run {

using console_text::BANNER;
using console_text::READY;

// A fresh directory under /tmp, removed with everything in it.
struct temp_dir {
    std::string root;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    std::string at(const std::string& relative) const { return root + "/" + relative; }
};

std::string read_file(const std::string& path);
// Creates the directories on the way; false when the file cannot be written.
bool write_file(const std::string& path, std::string_view bytes, mode_t mode = 0644);
// Every entry below root that is not a directory, by path relative to root,
// with its bytes (NOT_REGULAR for FIFOs and the like, never opened);
// temporaries included, so leftovers show.
inline const std::string NOT_REGULAR = "(not a regular file)";
std::map<std::string, std::string> snapshot(const std::string& root);
// Relative paths of the leftover temporaries ("*.tovik-XXXXXX") below root.
std::vector<std::string> temporaries(const std::string& root);

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
// The real binary with args, in directory dir.
bool start_binary(pty::session& run, const std::string& dir, const std::vector<std::string>& args);

// Types key at "Key:" and again at "Reenter Key:" when asked, then answer at
// the ready prompt (nothing when answer is empty). false (with a test failure) when a prompt never
// came.
bool type_dialogue(pty::session& run, const std::string& key, const std::string& answer = "y\n");
// What the terminal shows up to and including the answer's echo.
std::string dialogue_text(std::size_t key_length, bool confirmed,
                          const std::string& answer = "y\n");

// The whole transcript, the text after the dialogue, and the exit status.
struct finished_run {
    std::string transcript;
    bool dialogue = false;   // the transcript begins with a whole dialogue
    bool confirmed = false;  // in which the key was asked twice
    std::string after_dialogue;
    pty::exit_status status;
};
// Waits for the end of run; key_length is that of the key typed.
finished_run finish(pty::session& run, std::size_t key_length);

}  // namespace tovik_run
