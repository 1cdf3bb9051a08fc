#include "container/transform.h"

#include <cstdlib>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "cipher/key_schedule.h"
#include "cipher/rc4.h"
#include "cipher/wipe.h"
#include "container/container.h"
#include "front/outcome.h"
#include "platform/files.h"
#include "platform/interrupt.h"

namespace {

constexpr std::string_view CONTAINER_SUFFIX = ".tvk";

struct wiped_rc4_state {
    rc4_state state;
    ~wiped_rc4_state() { wipe(&state, sizeof state); }
};

// An input to delete once its output is durable: its path and the file
// that was read there, whatever the name holds later.
struct waiting_input {
    identified_path input;
    std::string output;
};

struct deletion_batch {
    bool enabled = false;
    bool registered = false;              // finish_at_exit will run at exit
    std::vector<waiting_input> waiting;   // outputs not yet synced
    std::vector<waiting_input> deleting;  // synced: their inputs are being deleted
    std::thread deleter;
};
deletion_batch batch;

// An early end of the run (a failure reported, a wrong key) deletes what a
// per-file sync would have deleted by then.
void finish_at_exit() { finish_deletions(); }

// A name that now holds another file (an output of a later target of this
// run, say) keeps it; a failed delete leaves the input in place.
void delete_inputs(const std::vector<waiting_input>& waiting) {
    std::vector<identified_path> inputs;
    inputs.reserve(waiting.size());
    for (const waiting_input& entry : waiting) inputs.push_back(entry.input);
    remove_all_if_same(inputs);
}

void wait_for_deleter() {
    if (batch.deleter.joinable()) batch.deleter.join();
    batch.deleting.clear();
}

// Syncs the waiting outputs, then hands their inputs to a second thread for
// deletion. Deleting a file whose blocks are on the disk waits for the file
// system (0.1-0.5 ms a file on an ext4 mounted with "discard", longer than
// writing a small file), so the next files are transformed meanwhile. false
// when the sync failed: then no waiting input is deleted.
bool sync_and_delete() {
    wait_for_deleter();
    if (batch.waiting.empty()) return true;
    batch.deleting.swap(batch.waiting);
    std::vector<std::string> outputs;
    outputs.reserve(batch.deleting.size());
    for (const waiting_input& input : batch.deleting) outputs.push_back(input.output);
    if (!sync_outputs(outputs)) {
        batch.deleting.clear();  // the inputs stay
        return false;
    }
    try {
        const interrupts_held while_starting;
        batch.deleter = std::thread(delete_inputs, std::cref(batch.deleting));
    } catch (const std::system_error&) {
        delete_inputs(batch.deleting);  // no thread to be had
    }
    return true;
}

// The input is not deleted now but queued; a full queue is synced. false
// when that sync failed.
bool defer_deletion(const std::string& path, const file_identity& identity,
                    const std::string& output) {
    batch.waiting.push_back({{path, identity}, output});
    return batch.waiting.size() < DELETION_BATCH || sync_and_delete();
}

}  // namespace

void batch_deletions(bool enabled) {
    // Without the exit handler an early end would leave a thread running.
    if (enabled && !batch.registered) batch.registered = std::atexit(finish_at_exit) == 0;
    batch.enabled = enabled && batch.registered;
}

bool finish_deletions() {
    const bool synced = sync_and_delete();
    wait_for_deleter();
    return synced;
}

void strip_container_suffix(std::string& path) {
    if (path.ends_with(CONTAINER_SUFFIX)) path.resize(path.size() - CONTAINER_SUFFIX.size());
}

int transform_file(std::string& path, const char* passphrase, int delete_input) {
    key_material keys;
    derive_key_material(passphrase, keys);

    // One open serves the probe, the header check and the copy. A file that
    // cannot be opened for update is taken as plain, as the probe decides,
    // and is then only read.
    os_file input;
    const bool updatable = open_for_update(path, input);
    if (!updatable && !open_for_reading(path, input)) return OUTCOME_INPUT_FAILED;
    header_bytes head;
    if (!read_header(input, head)) return OUTCOME_INPUT_FAILED;
    const bool decrypting = updatable && has_magic(head, keys.header_text);
    if (decrypting && !header_matches(head, keys.header_text)) return OUTCOME_WRONG_KEY;

    std::string output_path = path;
    if (decrypting) {
        strip_container_suffix(output_path);
    } else {
        output_path += CONTAINER_SUFFIX;
    }
    const int read_failed = decrypting ? OUTCOME_NOT_FOUND : OUTCOME_INPUT_FAILED;
    // The -4 message appends ".tvk" to the path: when decrypting it is given
    // the shortened name, so that for "x.tvk" it names the container.
    const auto output_failed = [&] {
        if (decrypting) path = output_path;
        return OUTCOME_OUTPUT_FAILED;
    };

    pending_output output;
    if (!begin_output(output_path, output)) return output_failed();
    wiped_rc4_state cipher;
    rc4_setup(keys.cipher_key, sizeof keys.cipher_key, cipher.state);
    // Encrypting: the header goes first, and the bytes already read for the
    // probe are the start of the body. Decrypting: they were the header.
    const std::string_view lead =
        decrypting ? "" : std::string_view(keys.header_text, HEADER_LENGTH);
    const std::span<const std::uint8_t> carried(head.data, decrypting ? 0 : head.length);
    switch (stream_body(input, output.file, lead, carried, &cipher.state)) {
        case copy_status::ok:
            break;
        case copy_status::read_failed:
            return read_failed;
        case copy_status::write_failed:
            return OUTCOME_DISK_WRITE;
    }

    // Durability is paid for only where the output becomes the one copy of
    // the data: the input is to be deleted, or is replaced in place (a
    // container named without the suffix).
    const bool in_place = output_path == path;
    // In a batch the input's deletion waits for one later sync with other
    // outputs. An output that replaces a file is still made durable first,
    // after the batch: that file may be a waiting input whose own output is
    // not yet on the disk.
    file_identity read_file;
    const bool deferred = batch.enabled && delete_input != 0 && !in_place &&
                          !path_exists(output_path) && identify_file(input, read_file);
    const bool durable = (delete_input != 0 || in_place) && !deferred;
    if (!copy_permissions(input, output.file)) return OUTCOME_DISK_WRITE;
    if (durable && !sync_file(output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(output.file)) return OUTCOME_DISK_WRITE;
    if (!close_file(input)) return read_failed;
    if (!deferred && !finish_deletions()) return OUTCOME_DISK_WRITE;
    if (!finish_output(output, output_path)) return output_failed();
    if (deferred) {
        if (!defer_deletion(path, read_file, output_path)) return OUTCOME_DISK_WRITE;
        return decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
    }
    // The complete output stays; only the input's deletion depends on this.
    if (durable && !sync_directory_of(output_path)) return OUTCOME_DISK_WRITE;
    // A failed delete leaves the input in place and changes nothing else.
    if (delete_input != 0 && !in_place) remove_file(path);
    return decrypting ? OUTCOME_DECRYPTED : OUTCOME_ENCRYPTED;
}
