// The targets of a run over a few threads. Worker threads prepare the
// outputs (prepare_target: a complete temporary beside each); everything a
// user or a script can see stays on the calling thread and in list order:
// the run's rules, the renames into place, the deletions, and the report of
// each target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "collect/targets.h"
#include "run/run.h"

// Reports one target's outcome with its path and its output's (empty when
// the direction was not known); false ends the run there.
using target_report =
    std::function<bool(int outcome, const std::string& path, const std::string& output)>;

// A display of the target being waited for, once it has run about a second:
// show is called a few times a second with its body bytes written of all
// (-1 while not known) and the seconds since its work began, and hide before
// its report. Both run on the calling thread only.
struct progress_display {
    std::function<void(const std::string& path, std::uint64_t done, std::int64_t total,
                       double seconds)> show;
    std::function<void()> hide;
};

// Processes the targets of the list in order with workers threads besides
// this one (none, and no progress to show: all on this thread). When report
// ends the run at target k, nothing of the targets after k is left behind:
// no output under its name, no temporary, no deletion. false when the run
// was ended so.
bool process_targets(const target_list& targets, run_state& run, unsigned workers,
                     const target_report& report, const progress_display* progress = nullptr);

// The most workers a run may be given.
inline constexpr unsigned MOST_WORKERS_ASKED = 16;
// The worker threads a run of these targets gets, besides the calling one.
// The threads that encipher: TOVIK_WORKERS=n (1 to 16) when it is set, for
// measurements and for users who want it; otherwise one per core, at most
// four, and one for a single target. One of them is the calling thread when
// the files are small on the whole (it takes small files itself); with one,
// there is no worker at all.
unsigned workers_for(const target_list& targets);
