// Runs of the file transform in-process, set up as the driver sets one up
// after the dialogue.
#pragma once

#include <string>
#include <vector>

#include "container/block_ring.h"
#include "run/run.h"

// A run as the driver sets one up after the dialogue: its targets known, the
// key material of passphrase derived, "-d" in place.
struct test_run {
    test_run(const std::string& passphrase, bool delete_input,
             const std::vector<std::string>& paths = {});
    target_list targets;
    run_state run;
};
// transform_file on path as the one target of a run that is then finished;
// OUTCOME_DISK_WRITE when the finishing sync failed.
int transform_alone(std::string& path, const std::string& passphrase, bool delete_input);

// One container operation from the file at source into destination, as the
// transform runs it: the source's first bytes read before the copy, the
// destination written under a temporary renamed into place when the copy
// went through.
enum class container_operation { wrap, unwrap, skip };
copy_status run_container_operation(container_operation op, const std::string& source,
                                    const std::string& destination,
                                    const std::string& passphrase);
