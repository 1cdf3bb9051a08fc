// Runs of the file transform in-process, set up as the driver sets one up
// after the dialogue, and the container's copies one at a time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "container/block_ring.h"
#include "run/run.h"

// A run over paths as the driver sets one up after the dialogue: its targets
// known, the key material of passphrase derived, "-d" in place, no worker
// thread.
struct test_run {
    test_run(const std::string& passphrase, bool delete_input,
             const std::vector<std::string>& paths = {});
    target_list targets;
    target_run run;
    // The next target's outcome, NO_TARGET_LEFT when there is none.
    int next();
    static constexpr int NO_TARGET_LEFT = 1000;
};
// path as the one target of a run that is then finished; OUTCOME_DISK_WRITE
// when the finishing sync failed.
int transform_alone(const std::string& path, const std::string& passphrase, bool delete_input);

// The RC4 state a run sets up for passphrase: its key schedule, then
// rc4_setup.
rc4_state rc4_of_passphrase(const std::string& passphrase);

// One container operation from the file at source into destination, as the
// transform runs it: the source's first bytes read before the copy, the
// destination written under a temporary renamed into place when the copy
// went through. wrap: the header, then the source enciphered; unwrap: the
// body of a container deciphered, refused (nothing, and nothing written)
// when its header is not the passphrase's; skip: the source less its first
// HEADER_LENGTH bytes.
enum class container_operation { wrap, unwrap, skip };
std::optional<copy_status> run_container_operation(container_operation op,
                                                   const std::string& source,
                                                   const std::string& destination,
                                                   const std::string& passphrase);
