#include "run/transform.h"

#include "cipher/wipe.h"

namespace {

struct wiped_rc4_state {
    rc4_state state;
    ~wiped_rc4_state() { wipe(&state, sizeof state); }
};

bool succeeded(int outcome) { return outcome == OUTCOME_ENCRYPTED || outcome == OUTCOME_DECRYPTED; }

input_fate fate_of(const std::string& path, const target_job& job, bool delete_input) {
    if (job.output_path == path) return input_fate::replaced_in_place;
    return delete_input ? input_fate::delete_in_batch : input_fate::keep;
}

// The body through RC4 into the temporary, which is left complete, with the
// input's attributes, and closed. The outcome of the target so far.
int stream_body_of(const std::string& path, const key_material& keys, os_file& input,
                   const header_bytes& head, target_job& job) {
    const int read_failed = job.decrypting ? OUTCOME_NOT_FOUND : OUTCOME_INPUT_FAILED;
    if (!begin_output(job.output_path, job.output)) return OUTCOME_OUTPUT_FAILED;
    wiped_rc4_state cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.state);
    const copy_status copied =
        job.decrypting
            ? unwrap_container(input, head, job.output.file, keys.header_text, cipher.state,
                               &job.copy)
            : wrap_container(input, head, job.output.file, keys.header_text, cipher.state,
                             &job.copy);
    // A cancelled copy's outcome is never reported: the run has ended.
    if (copied == copy_status::read_failed || copied == copy_status::cancelled) return read_failed;
    if (copied != copy_status::ok) return OUTCOME_DISK_WRITE;
    file_state written;
    if (!read_state(job.output.file, written) || !copy_attributes(job.read, job.output.file, written))
        return OUTCOME_DISK_WRITE;
    job.written = written.identity;
    // In place, the output replaces the only other copy of the data: it is
    // made durable before the rename.
    const bool synced = fate_of(path, job, false) == input_fate::replaced_in_place
                            ? sync_file(job.output.file)
                            : sync_before_close(job.output.file);
    if (!synced || !close_file(job.output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(input)) return read_failed;
    return job.decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

}  // namespace

void prepare_target(const std::string& path, const run_state& run, target_job& job) {
    // One open serves the size probe, the container probe, the header check
    // and the copy. A file that cannot be opened for update is taken as plain
    // and only read; one that cannot be read at all, or is empty, is bypassed.
    os_file input;
    header_bytes head;
    const bool updatable = open_for_update(path, input);
    if (!updatable && !open_for_reading(path, input)) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return;
    }
    // The name's own identity matters only for its deletion.
    if (!read_state(input, job.read) || (run.delete_input && !name_identity(path, job.name)) ||
        !read_header(input, head)) {
        job.outcome = OUTCOME_INPUT_FAILED;
        return;
    }
    if (job.read.size < 1) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return;
    }
    job.decrypting = updatable && has_magic(head, CONTAINER_MAGIC);
    job.body_size = job.read.size - (job.decrypting ? static_cast<std::int64_t>(HEADER_LENGTH) : 0);
    job.output_path = output_name(path, job.decrypting);
    if (job.decrypting && !header_matches(head, run.keys.header_text)) {
        job.outcome = OUTCOME_WRONG_KEY;  // nothing is written
        return;
    }
    job.outcome = stream_body_of(path, run.keys, input, head, job);
}

namespace {

void record_output(const target_job& job, run_state& run) {
    run.rules.output_written(job.written);
    run.deletions.output_written(job.output_path, job.written.volume);
}

}  // namespace

int commit_target(const std::string& path, target_job& job, run_state& run) {
    // The rule comes first: a target left alone by it is only skipped, even
    // when its passphrase or its output would have failed.
    if (!job.output_path.empty() && !run.rules.may_write(path, job.output_path))
        return OUTCOME_OUTPUT_IS_TARGET;
    if (!succeeded(job.outcome)) return job.outcome;
    const input_fate fate = fate_of(path, job, run.delete_input);
    // In place, the output replaces the input only while it is as it was
    // read: what was written to it since would be lost.
    bool changed = false;
    if (fate == input_fate::replaced_in_place) {
        if (!replace_input(job.output, path, job.read, changed))
            return changed ? OUTCOME_INPUT_CHANGED : OUTCOME_OUTPUT_FAILED;
        record_output(job, run);
        return job.outcome;
    }
    // An output name that is free is taken at once; a file of that name is
    // replaced only when it is no other file of this run under another
    // spelling.
    bool taken = false;
    if (!finish_output(job.output, job.output_path, false, taken)) {
        if (!taken) return OUTCOME_OUTPUT_FAILED;
        if (run.rules.output_taken(path, job.output_path)) return OUTCOME_OUTPUT_IS_TARGET;
        if (!finish_output(job.output, job.output_path, true, taken)) return OUTCOME_OUTPUT_FAILED;
    }
    record_output(job, run);
    if (fate == input_fate::delete_in_batch &&
        !run.deletions.delete_later({path, job.name, job.read})) {
        return OUTCOME_DISK_WRITE;
    }
    return job.outcome;
}

int transform_file(const std::string& path, run_state& run) {
    target_job job;
    prepare_target(path, run, job);
    return commit_target(path, job, run);
}
