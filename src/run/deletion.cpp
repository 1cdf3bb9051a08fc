#include "run/deletion.h"

#include <system_error>

#include "platform/ending.h"
#include "platform/listing.h"
#include "run/outcome.h"

namespace {

// The line naming an input that "-d" kept, or empty when nothing is to say.
std::string kept_line(const std::string& path, file_result result) {
    switch (result) {
        case file_result::done:
        case file_result::gone:
            return {};
        case file_result::changed:
            return path + " was not deleted: it changed after it was read\n";
        case file_result::denied:
            return path + " was not deleted: permission denied\n";
        default:
            break;
    }
    return path + " was not deleted: the system refused\n";
}

}  // namespace

deletion_batch::~deletion_batch() { wait_for_deleter(); }

void deletion_batch::output_written(const std::string& output, std::uint64_t volume) {
    // A sync covers a whole file system (on Windows each output was flushed
    // already): one name per volume is enough, the latest being the least
    // likely to have gone.
    unsynced_[volume] = output;
}

std::optional<int> deletion_batch::delete_later(waiting_input input) {
    waiting_.push_back(std::move(input));
    if (waiting_.size() >= DELETION_BATCH) return sync_and_delete();
    if (out_of_memory_) return OUTCOME_OUT_OF_MEMORY;
    return std::nullopt;
}

std::optional<int> deletion_batch::finish() {
    const std::optional<int> failed = sync_and_delete();
    wait_for_deleter();
    if (failed) return failed;
    // The last deletions are on the disk before the run says it is done:
    // after a power cut a deleted input would come back beside its output.
    if (!deleted_from_.empty()) {
        std::vector<std::string> directories;
        for (const auto& [volume, directory] : deleted_from_) directories.push_back(directory);
        if (!sync_outputs(directories)) return OUTCOME_DISK_WRITE;
        deleted_from_.clear();
    }
    if (out_of_memory_) return OUTCOME_OUT_OF_MEMORY;
    return std::nullopt;
}

// On the deleter thread. Deletes what it can; the inputs it could not get
// to (out of memory on the way) stay where they are and are named.
void deletion_batch::delete_batch() {
    deleter_stopped_at_ = deleting_.size();
    for (std::size_t i = 0; i < deleting_.size(); ++i) {
        try {
            waiting_input& input = deleting_[i];
            // The time the removals of other names of this file left.
            for (auto moved = relinked_.find({input.read.identity, input.read.changed});
                 moved != relinked_.end();
                 moved = relinked_.find({input.read.identity, input.read.changed})) {
                input.read.changed = moved->second;
            }
            const std::int64_t before = input.read.changed;
            const file_result result = remove_if_unchanged(input.path, input.name, input.read);
            if (input.read.changed != before) {
                relinked_[{input.read.identity, before}] = input.read.changed;
            }
            if (result == file_result::done && !deleted_from_.contains(input.name.volume)) {
                const std::string directory = pattern_prefix(input.path);
                deleted_from_[input.name.volume] = directory.empty() ? "." : directory;
            }
            std::string line = kept_line(input.path, result);
            if (!line.empty()) deleter_kept_.push_back(std::move(line));
        } catch (...) {
            deleter_stopped_at_ = i;
            out_of_memory_ = true;
            return;
        }
    }
}

// Syncs every output written so far, then hands the waiting inputs to a
// second thread for deletion: deleting a file whose blocks are on the disk
// waits for the file system (0.1-0.5 ms a file on an ext4 mounted with
// "discard", longer than writing a small file), so the next files are
// transformed meanwhile.
std::optional<int> deletion_batch::sync_and_delete() {
    wait_for_deleter();
    if (!unsynced_.empty()) {
        std::vector<std::string> outputs;
        for (const auto& [volume, output] : unsynced_) outputs.push_back(output);
        if (!sync_outputs(outputs)) return OUTCOME_DISK_WRITE;  // the inputs stay
        unsynced_.clear();
    }
    if (out_of_memory_) return OUTCOME_OUT_OF_MEMORY;  // no more deletions
    if (waiting_.empty()) return std::nullopt;
    deleting_.swap(waiting_);
    try {
        deleter_ = quiet_thread([this] { delete_batch(); });
    } catch (const std::system_error&) {
        delete_batch();  // no thread to be had
    }
    return std::nullopt;
}

void deletion_batch::wait_for_deleter() {
    if (deleter_.joinable()) deleter_.join();
    for (std::size_t i = deleter_stopped_at_; i < deleting_.size(); ++i) {
        kept.push_back(deleting_[i].path + " was not deleted: out of memory\n");
    }
    deleter_stopped_at_ = 0;
    deleting_.clear();
    for (std::string& line : deleter_kept_) kept.push_back(std::move(line));
    deleter_kept_.clear();
}
