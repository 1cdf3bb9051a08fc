// One target, encrypted into a container or decrypted back, in two steps.
// prepare_target touches only the target's own files and may run on any
// thread: it reads the input and writes the whole output into a temporary
// beside it. commit_target runs on the run's thread, in list order: it
// applies the run's rules and puts the output in place.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cipher/rc4.h"
#include "cipher/wipe.h"
#include "container/container.h"
#include "run/outcome.h"
#include "run/run.h"
#include "platform/ending.h"

// What becomes of a target's input once its output is in place.
enum class input_fate {
    keep,              // no "-d"
    delete_in_batch,   // "-d": deleted once the run's outputs are durable
    replaced_in_place  // a container named without ".tvk": its output takes its name
};

// One target between its two steps.
struct target_job {
    // OUTCOME_ENCRYPTED or OUTCOME_DECRYPTED once the complete output waits
    // in its temporary; otherwise the outcome the target ends with.
    int outcome = OUTCOME_INPUT_FAILED;
    bool decrypting = false;
    std::string output_path;  // empty when the direction is not known
    file_identity name;       // of the target's name itself (a link's own)
    file_state read;          // the input as it was when reading began
    file_identity written;    // the output in its temporary
    temp_output output;
    // For other threads: the body's length once known (-1 before), and the
    // copy, which counts what is written and stops when the run ends early.
    std::atomic<std::int64_t> body_size{-1};
    copy_watch copy;
    // While the body is on its way: the input, the cipher, the copy.
    os_file input;
    struct wiped_rc4_state {
        rc4_state state;
        ~wiped_rc4_state() { wipe(&state, sizeof state); }
    } cipher;
    std::optional<body_copy> body;
};

// Opens the target (bypassed when it cannot be read or is empty), reads its
// first bytes, chooses the direction and the output name, checks the
// passphrase against a container's header, and streams the whole body
// through RC4 into a temporary beside the output, closed and complete.
// Reads only run.keys and run.delete_input, which stay as they are while
// targets are processed.
void prepare_target(const std::string& path, const run_state& run, target_job& job);
// prepare_target in three parts, for a thread that copies two bodies at
// once. begin_target goes as far as the first block of the body (in the
// thread's block set); true when the rest waits in job.body, to be copied
// by stream_rest or step_pair, after which finish_target closes the target
// with how the copy went. Otherwise the target is done.
bool begin_target(const std::string& path, const run_state& run, target_job& job, int set);
void finish_target(const std::string& path, target_job& job, copy_status copied);
// The run's rule on the output, then the output put in place and the input
// handed to its fate. Returns the target's outcome.
int commit_target(const std::string& path, target_job& job, run_state& run);

// Both steps in one call; returns an outcome code.
int transform_file(const std::string& path, run_state& run);
