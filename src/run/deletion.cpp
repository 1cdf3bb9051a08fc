#include "run/deletion.h"

#include <system_error>

#include "platform/interrupt.h"

namespace {

// The line naming an input that "-d" kept, or empty when nothing is to say.
std::string kept_line(const std::string& path, removal result) {
    switch (result) {
        case removal::removed:
        case removal::gone:
            return {};
        case removal::changed:
            return path + " was not deleted: it changed after it was read\n";
        case removal::denied:
            return path + " was not deleted: permission denied\n";
        case removal::failed:
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

bool deletion_batch::delete_later(waiting_input input) {
    waiting_.push_back(std::move(input));
    return waiting_.size() < DELETION_BATCH || sync_and_delete();
}

bool deletion_batch::finish() {
    const bool synced = sync_and_delete();
    wait_for_deleter();
    return synced;
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
            const removal result = remove_if_unchanged(input.path, input.name, input.read);
            if (input.read.changed != before) {
                relinked_[{input.read.identity, before}] = input.read.changed;
            }
            std::string line = kept_line(input.path, result);
            if (!line.empty()) deleter_kept_.push_back(std::move(line));
        } catch (...) {
            deleter_stopped_at_ = i;
            return;
        }
    }
}

// Syncs every output written so far, then hands the waiting inputs to a
// second thread for deletion: deleting a file whose blocks are on the disk
// waits for the file system (0.1-0.5 ms a file on an ext4 mounted with
// "discard", longer than writing a small file), so the next files are
// transformed meanwhile.
bool deletion_batch::sync_and_delete() {
    wait_for_deleter();
    if (!unsynced_.empty()) {
        std::vector<std::string> outputs;
        for (const auto& [volume, output] : unsynced_) outputs.push_back(output);
        if (!sync_outputs(outputs)) return false;  // the inputs stay
        unsynced_.clear();
    }
    if (waiting_.empty()) return true;
    deleting_.swap(waiting_);
    try {
        deleter_ = quiet_thread([this] { delete_batch(); });
    } catch (const std::system_error&) {
        delete_batch();  // no thread to be had
    }
    return true;
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
