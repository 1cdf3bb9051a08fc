// What makes a run's outputs durable, and its inputs go under "-d": before
// the run ends every output it wrote is flushed to the disk (finish), and an
// input is deleted only once its output is durable, and only if it is still
// the file that was read. Deleting waits on the file system, so a second
// thread does it while the run goes on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files.h"

// Under "-d", one sync serves this many outputs before their inputs go.
inline constexpr std::size_t DELETION_BATCH = 1024;

// An input to delete once the outputs are durable: its name, and the file
// that was read there as it was when reading began.
struct waiting_input {
    std::string path;
    file_identity name;
    file_state read;
};

struct deletion_batch {
    // Lines naming the inputs that had to be kept, for the end of the run.
    std::vector<std::string> kept;

    deletion_batch() = default;
    ~deletion_batch();  // waits for deletions in progress

    // output is in place on volume; recorded for the next sync.
    void output_written(const std::string& output, std::uint64_t volume);
    // Under "-d": the input's output is in place; the input waits for the
    // sync. The outcome that ends the run when a full batch was synced and
    // the sync failed (OUTCOME_DISK_WRITE), or when the deletions of the
    // batch before ran out of memory (OUTCOME_OUT_OF_MEMORY).
    std::optional<int> delete_later(waiting_input input);
    // Makes every output durable, then deletes the inputs waiting, then makes
    // the deletions durable; the outcome that ends the run when it could not.
    // Nothing is deleted when the outputs' sync failed. Lines for the inputs
    // kept go to kept.
    std::optional<int> finish();

private:
    std::optional<int> sync_and_delete();
    void delete_batch();
    void wait_for_deleter();

    std::map<std::uint64_t, std::string> unsynced_;  // volume -> its latest output
    std::vector<waiting_input> waiting_;             // inputs waiting for the sync
    std::vector<waiting_input> deleting_;            // synced: being deleted
    std::vector<std::string> deleter_kept_;
    std::size_t deleter_stopped_at_ = 0;  // deleting_ from here on was not tried
    std::atomic<bool> out_of_memory_{false};  // set by the deleter
    // A directory of a deleted input on each volume, for the sync that makes
    // the deletions durable.
    std::map<std::uint64_t, std::string> deleted_from_;
    // A file whose name was removed while it has others changed then: its
    // change time before -> after, for checking the other names.
    std::map<std::pair<file_identity, std::int64_t>, std::int64_t> relinked_;
    std::thread deleter_;
};
