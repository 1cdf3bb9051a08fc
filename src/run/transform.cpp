#include "run/transform.h"

namespace {

// A body this long repays the timing of the cipher's loop shapes (about
// 2 ms, a tenth of what the shapes may differ by on its 16 MiB).
constexpr std::int64_t SHAPES_PAY = 16 << 20;

bool succeeded(int outcome) {
    return outcome == OUTCOME_ENCRYPTED || outcome == OUTCOME_DECRYPTED || outcome == OUTCOME_REKEYED;
}

// The output, its body copied: a temporary left complete with the input's
// attributes and closed. The outcome of the target so far.
int close_output(target_job& job, const target_context& context, copy_status copied) {
    // To standard output, part of the body may be out already: the stream
    // must end as failed, never go on as if it were whole.
    const int read_failed = job.decrypting && context.mode != run_mode::to_output ? OUTCOME_NOT_FOUND
                                                                                 : OUTCOME_INPUT_FAILED;
    // A cancelled copy's outcome is never reported: the run has ended.
    if (copied == copy_status::read_failed || copied == copy_status::cancelled) return read_failed;
    if (context.mode == run_mode::to_output) {
        if (copied != copy_status::ok) return OUTCOME_OUTPUT_LOST;
        return close_file(job.input) ? OUTCOME_DECRYPTED : read_failed;
    }
    if (copied != copy_status::ok) return OUTCOME_DISK_WRITE;
    file_state written;
    if (!read_state(job.output.file, written) || !copy_attributes(job.read, job.output.file, written))
        return OUTCOME_DISK_WRITE;
    job.written = written.identity;
    // In place, the output replaces the only other copy of the data: it is
    // made durable before the rename.
    const bool synced = job.in_place ? sync_file(job.output.file) : sync_before_close(job.output.file);
    if (!synced || !close_file(job.output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(job.input)) return read_failed;
    if (context.mode == run_mode::rekey) return OUTCOME_REKEYED;
    return job.decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}

// The direction of the target and where its output goes; false when the run
// leaves it alone (job.outcome tells).
bool choose_output(target_job& job, const target_context& context) {
    if (context.mode == run_mode::convert) {
        job.decrypting = is_container(job);
        job.output_path = output_name(job.path, job.decrypting);
        job.in_place = job.output_path == job.path;
        return true;
    }
    if (!has_magic(job.head, CONTAINER_MAGIC)) {
        job.outcome = OUTCOME_NOT_A_CONTAINER;
        return false;
    }
    // A container changed in place must be one that may be updated.
    if (context.mode == run_mode::rekey && !job.updatable) {
        job.outcome = OUTCOME_READ_ONLY;
        return false;
    }
    job.decrypting = true;
    job.in_place = context.mode == run_mode::rekey;
    if (job.in_place) job.output_path = job.path;
    return true;
}

}  // namespace

bool open_target(target_job& job, bool delete_input) {
    // One open serves the size probe, the container probe, the header check
    // and the copy. One that cannot be read at all, or is empty, is bypassed.
    if (job.listed_size == NOT_A_FILE) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return false;
    }
    // The name's own identity matters only for its deletion.
    file_identity* name = delete_input ? &job.name : nullptr;
    job.updatable = open_for_update(job.path, job.input, &job.read, name);
    if (!job.updatable && !open_for_reading(job.path, job.input, &job.read, name)) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return false;
    }
    if (job.read.size < 0) {
        job.outcome = OUTCOME_INPUT_FAILED;
        return false;
    }
    job.opened = true;
    return true;
}

bool begin_target(target_job& job, const target_context& context, int block_set) {
    if (!job.opened && !open_target(job, context.delete_input)) return false;
    // Standard output may be a file among the targets: never read while it grows.
    if (context.output_file && job.read.identity == *context.output_file) {
        job.outcome = OUTCOME_OWN_OUTPUT;
        return false;
    }
    if (job.read.size < 1) {
        job.outcome = OUTCOME_EMPTY_FILE;
        return false;
    }
    // The first bytes, read once: what they say the target is, and its body's start.
    std::uint8_t* const blocks = copy_blocks(block_set);
    const std::ptrdiff_t read = read_first(job.input, blocks);
    if (read < 0) {
        job.outcome = OUTCOME_INPUT_FAILED;
        return false;
    }
    job.head = head_of(blocks, static_cast<std::size_t>(read));
    if (!choose_output(job, context)) return false;
    if (job.decrypting && !header_matches(job.head, context.keys.header_text)) {
        job.outcome = OUTCOME_WRONG_KEY;  // nothing is written
        return false;
    }
    if (job.read.size >= SHAPES_PAY) rc4_choose_shapes();
    os_file* output = context.output;
    if (context.mode != run_mode::to_output) {
        if (!begin_output(job.output_path, job.output)) {
            job.outcome = OUTCOME_OUTPUT_FAILED;
            return false;
        }
        output = &job.output.file;
    }
    job.body.emplace(body_copy{job.input, *output, job.cipher.value, job.done, context.stop, blocks});
    const bool rekey = context.mode == run_mode::rekey;
    if (rekey) job.body->refilter = &job.recipher.value;
    // The states are set where the run's keystream start ends, if it made one.
    job.body->start = context.start;
    if (context.start == nullptr) {
        rc4_setup(context.keys.cipher_key, sizeof context.keys.cipher_key, job.cipher.value);
        if (rekey) rc4_setup(context.new_keys.cipher_key, sizeof context.new_keys.cipher_key, job.recipher.value);
    }
    copy_kind kind = job.decrypting ? copy_kind::skip : copy_kind::prepend;
    const char* header = context.keys.header_text;
    if (rekey) {
        kind = copy_kind::replace;
        header = context.new_keys.header_text;
    }
    bool more = false;
    const copy_status started =
        start_with_header(*job.body, static_cast<std::size_t>(read), kind, header, more);
    if (started == copy_status::ok && more) return true;
    finish_target(job, context, started);
    return false;
}

void finish_target(target_job& job, const target_context& context, copy_status copied) {
    job.body.reset();
    job.outcome = close_output(job, context, copied);
    wipe(&job.cipher.value, sizeof job.cipher.value);
    wipe(&job.recipher.value, sizeof job.recipher.value);
}

void prepare_target(target_job& job, const target_context& context) {
    if (begin_target(job, context, 0)) finish_target(job, context, stream_rest(*job.body));
}

int commit_target(target_job& job, run_rules& rules, deletion_batch& deletions, bool delete_input) {
    // The rules come first: a target left alone by them is only skipped, even
    // when its passphrase or its output would have failed. A file the run
    // wrote is never read back as an input: through a link that led nowhere
    // when the run began, a container just written would be decrypted again.
    if (job.opened && rules.is_written(job.read.identity)) return OUTCOME_OWN_OUTPUT;
    if (!job.output_path.empty() && !rules.may_write(job.path, job.output_path))
        return OUTCOME_OUTPUT_IS_TARGET;
    if (!succeeded(job.outcome) || job.output_path.empty()) return job.outcome;  // to_output: out already
    // In place, the output replaces the input only while it is as it was
    // read: what was written to it since would be lost.
    if (job.in_place) {
        const file_result replaced = replace_input(job.output, job.path, job.read);
        if (replaced != file_result::done)
            return replaced == file_result::changed ? OUTCOME_INPUT_CHANGED : OUTCOME_OUTPUT_FAILED;
    } else {
        // An output name that is free is taken at once; a file of that name
        // is replaced only when it is no other file of this run under another
        // spelling.
        file_result put = finish_output(job.output, job.output_path, false);
        if (put == file_result::taken) {
            if (rules.output_taken(job.path, job.output_path)) return OUTCOME_OUTPUT_IS_TARGET;
            put = finish_output(job.output, job.output_path, true);
        }
        if (put != file_result::done) return OUTCOME_OUTPUT_FAILED;
    }
    rules.output_written(job.written);
    deletions.output_written(job.output_path, job.written.volume);
    if (delete_input && !job.in_place) {
        if (const std::optional<int> failed = deletions.delete_later({job.path, job.name, job.read}))
            return *failed;
    }
    return job.outcome;
}
