// One target, encrypted into a container or decrypted back: decided, streamed
// into a temporary beside the output, and committed in place.
#pragma once

#include <optional>
#include <string>

#include "container/container.h"
#include "container/outcome.h"
#include "container/run.h"
#include "platform/temp_file.h"

// What becomes of a target's input once its output is in place.
enum class input_fate {
    keep,              // no "-d"
    delete_in_batch,   // "-d": deleted once the run's outputs are durable
    replaced_in_place  // a container named without ".tvk": its output takes its name
};

// One target between its decision and its commit.
struct target_job {
    bool decrypting = false;
    std::string output_path;
    input_fate fate = input_fate::keep;
    os_file input;
    header_bytes head;
    file_identity name;  // of the target's name itself (a link's own)
    file_state read;     // the input as it was when reading began
    temp_output output;
};

// Opens the target (bypassed when it cannot be read or is empty), reads its
// first bytes, chooses the direction and the output, applies the run's rule
// and creates the temporary. An outcome when the target ends here; nothing
// when it goes on to stream_target.
std::optional<int> decide_target(const std::string& path, run_state& run, target_job& job);
// The whole body through RC4 into the temporary. OUTCOME_ENCRYPTED or
// OUTCOME_DECRYPTED when it went through, else the failure's outcome.
int stream_target(target_job& job, const key_material& keys);
// Puts the complete output in place and hands the input to its fate.
int commit_target(const std::string& path, target_job& job, run_state& run);

// The three steps in one call; returns an outcome code. path may be
// rewritten: afterwards it holds the name the driver reports.
int transform_file(std::string& path, run_state& run);
