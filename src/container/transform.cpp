#include "container/transform.h"

#include "cipher/wipe.h"

namespace {

struct wiped_rc4_state {
    rc4_state state;
    ~wiped_rc4_state() { wipe(&state, sizeof state); }
};

int read_failed(const target_job& job) {
    return job.decrypting ? OUTCOME_NOT_FOUND : OUTCOME_INPUT_FAILED;
}


}  // namespace

std::optional<int> decide_target(const std::string& path, run_state& run, target_job& job) {
    // One open serves the size probe, the container probe, the header check
    // and the copy. A file that cannot be opened for update is taken as plain
    // and only read; one that cannot be read at all, or is empty, is bypassed.
    const bool updatable = open_for_update(path, job.input);
    if (!updatable && !open_for_reading(path, job.input)) return OUTCOME_EMPTY_FILE;
    if (!read_state(job.input, job.read) || !name_identity(path, job.name) ||
        !read_header(job.input, job.head)) {
        return OUTCOME_INPUT_FAILED;
    }
    if (job.read.size < 1) return OUTCOME_EMPTY_FILE;
    job.decrypting = updatable && has_magic(job.head, CONTAINER_MAGIC);
    job.output_path = output_name(path, job.decrypting);
    if (!run.may_write(path, job.output_path)) return OUTCOME_OUTPUT_IS_TARGET;
    if (job.decrypting && !header_matches(job.head, run.keys.header_text)) return OUTCOME_WRONG_KEY;

    if (job.output_path == path) {
        job.fate = input_fate::replaced_in_place;
    } else if (run.delete_input) {
        job.fate = input_fate::delete_in_batch;
    }
    if (!begin_output(job.output_path, job.output)) return OUTCOME_OUTPUT_FAILED;
    return std::nullopt;
}

int stream_target(target_job& job, const key_material& keys) {
    wiped_rc4_state cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.state);
    const copy_status copied =
        job.decrypting
            ? unwrap_container(job.input, job.head, job.output.file, keys.header_text, cipher.state)
            : wrap_container(job.input, job.head, job.output.file, keys.header_text, cipher.state);
    switch (copied) {
        case copy_status::ok:
            return job.decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
        case copy_status::wrong_key:
            return OUTCOME_WRONG_KEY;
        case copy_status::read_failed:
            return read_failed(job);
        case copy_status::write_failed:
            break;
    }
    return OUTCOME_DISK_WRITE;
}

int commit_target(const std::string& path, target_job& job, run_state& run) {
    file_state written;
    if (!copy_attributes(job.input, job.output.file) || !read_state(job.output.file, written))
        return OUTCOME_DISK_WRITE;
    // In place, the output replaces the only other copy of the data: it is
    // made durable before the rename.
    const bool synced = job.fate == input_fate::replaced_in_place ? sync_file(job.output.file)
                                                                  : sync_before_close(job.output.file);
    if (!synced) return OUTCOME_DISK_WRITE;
    if (!close_file(job.output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(job.input)) return read_failed(job);
    if (run.output_taken(path, job.output_path)) return OUTCOME_OUTPUT_IS_TARGET;
    if (!finish_output(job.output, job.output_path)) return OUTCOME_OUTPUT_FAILED;
    run.output_written(job.output_path, written.identity);
    if (job.fate == input_fate::delete_in_batch &&
        !run.delete_later({path, job.name, job.read})) {
        return OUTCOME_DISK_WRITE;
    }
    return job.decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

int transform_file(std::string& path, run_state& run) {
    target_job job;
    int outcome;
    if (const std::optional<int> ended = decide_target(path, run, job)) {
        outcome = *ended;
    } else {
        outcome = stream_target(job, run.keys);
        if (outcome == OUTCOME_ENCRYPTED || outcome == OUTCOME_DECRYPTED)
            outcome = commit_target(path, job, run);
    }
    // The -4 message appends ".tvk" to the path: when decrypting it is given
    // the output's name, so that for "x.tvk" it names the container.
    if (outcome == OUTCOME_OUTPUT_FAILED && job.decrypting) path = job.output_path;
    return outcome;
}
