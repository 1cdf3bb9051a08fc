// The rules between the targets of one run: no target writes over another
// target of the run, processed or not, nor over an output the run has
// already written (may_write, and output_taken just before the rename).
//
// Names are held as 64-bit hashes, not as text: a run of a million files
// then holds a few bytes for each beyond the list of their paths. Two names
// that differ yet hash alike (one pair in 2^64) would almost always make the
// rule leave a target alone, with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collect/targets.h"
#include "platform/files.h"

// A set of 64-bit hashes: open addressing, eight bytes an entry and room.
class hash_set {
public:
    bool contains(std::uint64_t hash) const;
    void insert(std::uint64_t hash);

private:
    std::vector<std::uint64_t> slots_;  // 0: free
    std::size_t count_ = 0;
};

class run_rules {
public:
    // The targets of the run; the list outlives the rules.
    explicit run_rules(const target_list& targets);
    // The one rule: may target write output? would_write only asks;
    // may_write also counts output as written from then on.
    bool would_write(const std::string& target, const std::string& output) const;
    bool may_write(const std::string& target, const std::string& output);
    // Just before the rename: output already names a target of the run or an
    // output it wrote, under another spelling (a file system that ignores
    // case, say).
    bool output_taken(const std::string& target, const std::string& output);
    // An output is in place as the file written.
    void output_written(const file_identity& written);
    // The file is one the run has put in place.
    bool is_written(const file_identity& file) const;

private:
    bool allowed(std::uint64_t target, std::uint64_t output) const;

    const target_list& list_;
    hash_set targets_;             // of the targets' names
    hash_set outputs_;             // of the outputs' names claimed
    hash_set written_;             // of the identities of outputs put in place
    hash_set target_identities_;   // filled when first needed
    bool target_identities_known_ = false;
};
