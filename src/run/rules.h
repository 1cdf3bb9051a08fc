// The rules between the targets of one run: no target writes over another
// target of the run, processed or not, nor over an output the run has
// already written (may_write, and output_taken just before the rename).
#pragma once

#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/files.h"

struct run_rules {
    void add_target(const std::string& path);
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

private:
    bool allowed(const std::string& target_key, const std::string& output_key) const;

    std::unordered_map<std::string, std::string> targets_;  // path key -> path
    std::unordered_set<std::string> outputs_;     // path keys of outputs claimed
    std::set<file_identity> written_;             // outputs put in place
    std::set<file_identity> target_identities_;   // filled when first needed
    bool target_identities_known_ = false;
};
