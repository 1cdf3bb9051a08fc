// One target, encrypted into a container or decrypted back, in two steps.
// The preparation touches only the target's own files and may run on any
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
#include "platform/ending.h"
#include "run/deletion.h"
#include "run/outcome.h"
#include "run/rules.h"

// What a run does to its targets.
enum class run_mode {
    convert,    // plain files into containers and containers back, as files
    to_output,  // containers deciphered to standard output, in list order (-c)
    rekey       // containers given a new passphrase in place (-x)
};

// What a thread that prepares targets may read: fixed once the run starts.
struct target_context {
    run_mode mode = run_mode::convert;
    key_material keys;
    key_material new_keys;  // rekey
    os_file* output = nullptr;  // to_output: standard output
    std::optional<file_identity> output_file;  // and the file it is, if known
    // The start of the run's keystream (both, laid over, for rekey), when
    // the run made one.
    const keystream_start* start = nullptr;
    bool delete_input = false;
    // Set when the run has ended early: copies in flight stop at their next
    // block.
    const std::atomic<bool>* stop = nullptr;
};

// One target from its opening to its commit.
struct target_job {
    std::string path;
    std::int64_t listed_size = SIZE_NOT_LISTED;
    // OUTCOME_ENCRYPTED or OUTCOME_DECRYPTED once the complete output waits
    // in its temporary; otherwise the outcome the target ends with.
    int outcome = OUTCOME_INPUT_FAILED;
    bool opened = false;      // input, read and head are those of the target
    bool updatable = false;   // opened for update: a container is decrypted
    bool decrypting = false;
    bool in_place = false;    // the output takes the input's own name
    std::string output_path;  // empty when the direction is not known
    file_identity name;       // of the target's name itself (a link's own)
    file_state read;          // the input as it was when it was opened
    header_bytes head;        // its first bytes, once read
    file_identity written;    // the output in its temporary
    temp_output output;
    // Body bytes written so far, for a progress display on another thread.
    std::atomic<std::uint64_t> done{0};
    // While the body is on its way: the input, the cipher, the copy.
    os_file input;
    wiped<rc4_state> cipher, recipher;  // recipher: the new passphrase's, for rekey
    std::optional<body_copy> body;
};

// Opens the target at job.path once for the whole of its work: a file that
// cannot be opened for update is taken as plain and only read. false when it
// cannot be read at all (job.outcome tells).
bool open_target(target_job& job, bool delete_input);
// The target, opened, is a container that the run would decrypt.
inline bool is_container(const target_job& job) {
    return job.opened && job.updatable && has_magic(job.head, CONTAINER_MAGIC);
}

// The preparation, for a thread that copies two bodies at once: goes as far
// as the first block of the body (in the thread's block set); true when the
// rest waits in job.body, to be copied by stream_rest or step_pair, after
// which finish_target closes the target with how the copy went. Otherwise
// the target is done. Opens the target first unless it is open.
bool begin_target(target_job& job, const target_context& context, int block_set);
void finish_target(target_job& job, const target_context& context, copy_status copied);
// The whole preparation on this thread.
void prepare_target(target_job& job, const target_context& context);

// The run's rules on the output, then the output put in place and the input
// handed to its fate (deleted later under "-d"). Returns the target's
// outcome.
int commit_target(target_job& job, run_rules& rules, deletion_batch& deletions, bool delete_input);
