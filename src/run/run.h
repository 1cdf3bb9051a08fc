// One run over many targets: everything that lives longer than one file. The
// driver makes one; the work on each target goes through it.
#pragma once

#include "cipher/key_schedule.h"
#include "collect/targets.h"
#include "run/deletion.h"
#include "run/rules.h"

struct run_state {
    explicit run_state(const target_list& targets) : rules(targets) {}
    key_material keys;  // of the run's passphrase
    bool delete_input = false;
    run_rules rules;
    deletion_batch deletions;
};
