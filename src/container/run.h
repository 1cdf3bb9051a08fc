// One run over many targets: everything that lives longer than one file, and
// the rules between the files of the run. The driver makes one; the work on
// each target goes through it.
//
// The rules: no target writes over another target of the run, processed or
// not, nor over an output the run has already written (may_write, and
// output_taken just before the rename); under "-d" an input is deleted only
// once its output is durable, and only if it is still the file that was
// read; before the run ends, every output it wrote is durable (finish).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cipher/key_schedule.h"
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

struct run_state {
    // The passphrase and its re-entry; key_material is derived from the first.
    char passphrase[PASSPHRASE_SIZE] = {};
    char confirmation[PASSPHRASE_SIZE] = {};
    key_material keys;
    bool delete_input = false;
    // Lines naming the inputs "-d" had to keep, for the end of the run.
    std::vector<std::string> kept;

    run_state() = default;
    run_state(const run_state&) = delete;
    run_state& operator=(const run_state&) = delete;
    ~run_state();  // waits for deletions in progress; wipes the passphrases

    void add_target(const std::string& path);
    // The one rule: may target write output? would_write only asks;
    // may_write also counts output as written from then on.
    bool would_write(const std::string& target, const std::string& output) const;
    bool may_write(const std::string& target, const std::string& output);
    // Just before the rename: output already names a target of the run or an
    // output it wrote, under another spelling (a file system that ignores
    // case, say).
    bool output_taken(const std::string& target, const std::string& output);
    // output is in place as the file written; recorded for the final sync.
    void output_written(const std::string& output, const file_identity& written);
    // Under "-d": the input's output is in place; the input waits for the
    // sync. false when a full batch was synced and the sync failed.
    bool delete_later(waiting_input input);
    // Makes every output durable, then deletes the inputs waiting; false when
    // the sync failed (nothing is deleted then). Lines for the inputs kept go
    // to kept.
    bool finish();

private:
    bool allowed(const std::string& target_key, const std::string& output_key) const;
    bool sync_and_delete();
    void delete_batch();
    void wait_for_deleter();

    std::unordered_map<std::string, std::string> targets_;  // path key -> path
    std::unordered_set<std::string> outputs_;     // path keys of outputs claimed
    std::set<file_identity> written_;             // outputs put in place
    std::set<file_identity> target_identities_;   // filled when first needed
    bool target_identities_known_ = false;
    std::map<std::uint64_t, std::string> unsynced_;  // volume -> its latest output

    std::vector<waiting_input> waiting_;          // inputs waiting for the sync
    std::vector<waiting_input> deleting_;         // synced: being deleted
    std::vector<std::string> deleter_kept_;
    std::size_t deleter_stopped_at_ = 0;         // deleting_ from here on was not tried
    // A file whose name was removed while it has others changed then: its
    // change time before -> after, for checking the other names.
    std::map<std::pair<file_identity, std::int64_t>, std::int64_t> relinked_;
    std::thread deleter_;
};
