#include "run/transform.h"

namespace {

// A body this long repays the timing of the cipher's loop shapes (about
// 2 ms, a tenth of what the shapes may differ by on its 16 MiB).
constexpr std::int64_t SHAPES_PAY = 16 << 20;

bool succeeded(int outcome) { return outcome == OUTCOME_ENCRYPTED || outcome == OUTCOME_DECRYPTED; }

int outcome_of(batch_status status) {
    return status == batch_status::out_of_memory ? OUTCOME_OUT_OF_MEMORY : OUTCOME_DISK_WRITE;
}

input_fate fate_of(const std::string& path, const target_job& job, bool delete_input) {
    if (job.output_path == path) return input_fate::replaced_in_place;
    return delete_input ? input_fate::delete_in_batch : input_fate::keep;
}

// The temporary, its body copied, left complete with the input's attributes
// and closed. The outcome of the target so far.
int close_output(const std::string& path, target_job& job, copy_status copied) {
    const int read_failed = job.decrypting ? OUTCOME_NOT_FOUND : OUTCOME_INPUT_FAILED;
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
    if (!close_file(job.input)) return read_failed;
    return job.decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

}  // namespace

bool begin_target(const std::string& path, const run_state& run, target_job& job, int set) {
    // One open serves the size probe, the container probe, the header check
    // and the copy. A file that cannot be opened for update is taken as plain
    // and only read; one that cannot be read at all, or is empty, is bypassed.
    header_bytes head;
    const bool updatable = open_for_update(path, job.input, &job.read);
    if (!updatable && !open_for_reading(path, job.input, &job.read)) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return false;
    }
    // The name's own identity matters only for its deletion.
    if (job.read.size < 0 || (run.delete_input && !name_identity(path, job.name)) ||
        !read_header(job.input, head)) {
        job.outcome = OUTCOME_INPUT_FAILED;
        return false;
    }
    if (job.read.size < 1) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return false;
    }
    job.decrypting = updatable && has_magic(head, CONTAINER_MAGIC);
    job.body_size = job.read.size - (job.decrypting ? static_cast<std::int64_t>(HEADER_LENGTH) : 0);
    job.output_path = output_name(path, job.decrypting);
    if (job.decrypting && !header_matches(head, run.keys.header_text)) {
        job.outcome = OUTCOME_WRONG_KEY;  // nothing is written
        return false;
    }
    if (job.body_size >= SHAPES_PAY) rc4_choose_shapes();
    if (!begin_output(job.output_path, job.output)) {
        job.outcome = OUTCOME_OUTPUT_FAILED;
        return false;
    }
    rc4_setup(run.keys.cipher_key, sizeof run.keys.cipher_key, job.cipher.state);
    job.body.emplace(body_copy{job.input, job.output.file, job.cipher.state, &job.copy, copy_blocks(set)});
    bool more = false;
    const copy_status started =
        start_with_header(*job.body, head, job.decrypting ? copy_kind::skip : copy_kind::prepend,
                          run.keys.header_text, more);
    if (started == copy_status::ok && more) return true;
    finish_target(path, job, started);
    return false;
}

void finish_target(const std::string& path, target_job& job, copy_status copied) {
    job.body.reset();
    job.outcome = close_output(path, job, copied);
    wipe(&job.cipher.state, sizeof job.cipher.state);
}

void prepare_target(const std::string& path, const run_state& run, target_job& job) {
    if (begin_target(path, run, job, 0)) finish_target(path, job, stream_rest(*job.body));
}

namespace {

void record_output(const target_job& job, run_state& run) {
    run.rules.output_written(job.written);
    run.deletions.output_written(job.output_path, job.written.volume);
}

}  // namespace

int commit_target(const std::string& path, target_job& job, run_state& run) {
    // The rules come first: a target left alone by them is only skipped, even
    // when its passphrase or its output would have failed. A file the run
    // wrote is never read back as an input: through a link that led nowhere
    // when the run began, a container just written would be decrypted again.
    if (job.read.size >= 0 && run.rules.is_written(job.read.identity)) return OUTCOME_OWN_OUTPUT;
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
    if (fate == input_fate::delete_in_batch) {
        const batch_status deleting = run.deletions.delete_later({path, job.name, job.read});
        if (deleting != batch_status::done) return outcome_of(deleting);
    }
    return job.outcome;
}

int transform_file(const std::string& path, run_state& run) {
    target_job job;
    prepare_target(path, run, job);
    return commit_target(path, job, run);
}
