// Every state a power cut could leave on the disk during a run, built from
// the record of the run's effects (platform/disk_record.h), each checked
// against what the run promises.
//
// The persistence model. What a sync made durable stays: a file sync
// (fsync) the data written to that file before the sync began, not its
// name; a directory
// sync the creations, renames and unlinks in that directory made before it
// began; a volume sync (syncfs) all of these on its volume. Everything else
// is pending at a crash, and then:
//  - a pending creation, rename or unlink is kept or lost, each
//    independently of the others, even of those made before it (a rename
//    may survive the creation of the file it moves: the file then has the
//    new name only);
//  - a file's data written since its last durable point is lost, cut short
//    at a block boundary (BLOCK bytes), or whole; a file only grows by
//    appends (the model reports any other write as a fault of the record).
// Attribute changes (mode, owner, times) are recorded but not modelled: the
// checks look at names and contents only.
//
// Where the model is kinder to the program than a file system may be:
//  - a rename is atomic: the new name holds the old file or the new one,
//    never neither, and the old name goes with it (ext4, XFS and Btrfs
//    promise this; a file system without a journal need not);
//  - lost data is a cut-off tail, never a hole or zeros within the file:
//    ext4 in data=writeback mode and XFS may show zeros where unsynced data
//    was; as the checks only ask whether a file is whole, both are judged
//    alike;
//  - one volume: a volume sync of another volume than the files the run
//    created covers nothing of theirs.
// And where it is harsher: ext4 (data=ordered) and XFS keep metadata in the
// order of their journal, and ext4 flushes a file renamed over another
// (auto_da_alloc); the model does neither.
//
// What is enumerated, at each crash point (before the first operation and
// after each one): the state where nothing pending is lost, the state where
// all of it is lost, and for each group of pending items every combination
// of their choices, the rest of the disk as if nothing were lost. Items are
// the pending name operations (kept or lost) and the files with pending
// data (whole, lost, or cut at each block boundary); a group joins the items
// that share a name or a file, the input and the output of one promise
// counting as one name. A group whose combinations exceed MOST_COMBINATIONS
// is taken item by item instead (each through its own choices, the others
// kept and whole) plus all of it lost. Each check below reads the names of
// one input and its output, whose operations and data fall in one group: so
// where every group is within MOST_COMBINATIONS (crash_verdict::reduced
// counts those that are not), no state that breaks a check is missed.
//
// The checks, in every state:
//  - each file the user had (before the run, or as a test changed it since)
//    holds its contents; or it is the input of a promise, unchanged since
//    the run began, and the promised output is complete under its name; or
//    it is a promise's output name, another file than its input (a file the
//    run replaces), and holds the start of that output;
//  - any other name, a temporary aside, is a promise's output and holds the
//    start of that output (a short output may stand beside its input);
//  - after the last operation of a run that printed "fin": every output the
//    run reported done is complete, and every name the run unlinked (its
//    temporaries aside) is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk_record.h"

inline constexpr std::size_t BLOCK = 4096;
inline constexpr std::size_t MOST_COMBINATIONS = 4096;

// One event of a record as the test holds it. outside: a change the test
// made itself, not the run: path (a file that exists) now holds bytes,
// durably.
struct recorded_event {
    disk_op op = disk_op::create;
    bool outside = false;
    std::string path{}, to{}, bytes{};
    file_identity file{};
    std::uint64_t volume = 0, digest = 0, sequence = 0, begun = 0;
    std::int64_t offset = 0;
    unsigned thread = 0;
};

// How events travel from the recording process to the test, one after the
// other in one stream.
std::string encode_event(const disk_event& event);
std::string encode_outside(const std::string& path, const std::string& bytes);
// The events of a stream. cut_short: it ends inside an event (the process
// ended while writing it), which is left out. false when it is not a
// record, or a write's bytes do not match their digest.
bool decode_record(std::string_view stream, std::vector<recorded_event>& events, bool& cut_short);

// The run may replace input (as it was before the run) with output, whose
// complete contents are output_bytes (the same name for a decryption in
// place). committed: the run reported it done.
struct crash_promise {
    std::string input;
    std::string output;
    std::string output_bytes;
    bool committed = false;
};

struct crash_expectations {
    std::map<std::string, std::string> files;  // every file before the run: name -> bytes
    std::vector<crash_promise> promises;
    bool finished = false;  // the run printed "fin"
};

enum class crash_fault {
    user_file,        // a file of the user lost or changed beyond the promises
    stray_file,       // a name that is no promised output, or not its start
    output_at_fin,    // an output reported done not complete at "fin"
    deletion_at_fin,  // a name the run unlinked back at "fin"
    record,           // the record itself cannot be replayed
    count_
};

struct crash_verdict {
    std::size_t operations = 0;  // events of the record, the test's own changes aside
    std::size_t states = 0;      // crash states checked
    std::size_t reduced = 0;     // groups taken item by item, beyond MOST_COMBINATIONS
    std::size_t faults[static_cast<int>(crash_fault::count_)] = {};
    std::set<std::string> files[static_cast<int>(crash_fault::count_)];  // named by the faults
    // The first faults found, one a line: the crash point with its
    // operation, the file, and the state (what was lost or cut).
    std::string report;
    // Every name after the last operation, nothing lost, with its contents.
    std::map<std::string, std::string> final_state;

    std::size_t fault_count() const;
    std::size_t count(crash_fault kind) const { return faults[static_cast<int>(kind)]; }
    const std::set<std::string>& named(crash_fault kind) const {
        return files[static_cast<int>(kind)];
    }
};

crash_verdict check_crash_states(const std::vector<recorded_event>& record,
                                 const crash_expectations& expected);
