// The targets of a run over a few threads. Worker threads prepare the
// outputs (prepare_target: a complete temporary beside each); everything a
// user or a script can see stays on the calling thread and in list order:
// the run's rules, the renames into place, the deletions, and the report of
// each target.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "container/run.h"

// Reports one target's outcome, its path as the transform left it; false
// ends the run there.
using target_report = std::function<bool(int outcome, const std::string& path)>;

// Processes paths in order with workers threads (one: all on this thread,
// through transform_file). When report ends the run at target k, nothing of
// the targets after k is left behind: no output under its name, no temporary,
// no deletion. false when the run was ended so.
bool process_targets(const std::vector<std::string*>& paths, run_state& run, unsigned workers,
                     const target_report& report);

// The workers worth starting for a run of this many targets on this machine.
unsigned worker_count(std::size_t targets);
