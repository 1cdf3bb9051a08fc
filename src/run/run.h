// The run over the collected targets, which its caller pulls one outcome at
// a time, in list order. Worker threads prepare the outputs (a complete
// temporary beside each) and read only the run's keys and "-d"; everything a
// user or a script can see stays on the calling thread and in list order:
// the run's rules, the renames into place, the deletions, and each target's
// outcome, handed out by next(). The caller waits in its own loop (wait),
// and may show the target waited for meanwhile (progress).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collect/targets.h"
#include "run/deletion.h"
#include "run/rules.h"
#include "run/transform.h"

// One target's outcome, with its path and its output's (empty when the
// direction was not known).
struct target_outcome {
    int outcome;
    std::string path;
    std::string output;
};

// The target waited for, once it has run about a second.
struct target_progress {
    std::string path;
    std::uint64_t done;  // body bytes written
    std::int64_t total;  // its size as listed; -1 when not known
    double seconds;      // since its work began
};

// The head of the list, as the run will take it: read once, before any key
// is known. container: one the run will decrypt, whose header tells at once
// whether a key opens it.
enum class head_kind { plain, container, unreadable };

// The most workers a run may be given.
inline constexpr unsigned MOST_WORKERS_ASKED = 16;
// The worker threads a run of these targets gets, besides the calling one.
// The threads that encipher: asked (1 to 16) when the user asked for a
// number; otherwise one per core, at most four, and one for a single target.
// One of them is the calling thread when the files are small on the whole
// (it takes small files itself); with one, there is no worker at all.
unsigned workers_for(const target_list& targets, std::optional<unsigned> asked);

struct target_workers;
struct target_slot;

class target_run {
public:
    // The targets (the list outlives the run), and what the run does to
    // them; the head's first bytes are read now. At its turn the head is
    // opened again: what it is then is what the run takes.
    target_run(const target_list& targets, run_mode mode, bool delete_input);
    ~target_run();

    head_kind head() const { return head_; }
    // The head is a container whose header keys open.
    bool head_opens_with(const key_material& keys) const;

    // Starts the work under keys (and new_keys for rekey) with workers
    // threads besides the calling one (none: each target is prepared on the
    // calling thread when next() takes it; always so for to_output). false
    // when standard output cannot be had for to_output.
    bool start(const key_material& keys, unsigned workers, const key_material* new_keys = nullptr);
    // Waits at most patience for the next target; true when next() will not
    // wait. Meanwhile the calling thread prepares small targets itself.
    bool wait(std::chrono::milliseconds patience);
    std::optional<target_progress> progress();
    // The next target, committed: its outcome. None once every target is.
    std::optional<target_outcome> next();
    // Ends the run, early or not: the targets not taken by next() are
    // dropped (no output under their names, no temporary, no deletion), then
    // every output is made durable and the inputs waiting under "-d" are
    // deleted. The outcome that ends the run badly when that failed.
    std::optional<int> finish();
    // Lines naming the inputs "-d" had to keep, once finished.
    const std::vector<std::string>& kept() const { return deletions_.kept; }

private:
    void fill_window();

    const target_list& targets_;
    head_kind head_ = head_kind::unreadable;
    header_bytes head_bytes_;  // the head's first bytes, read once
    target_context context_;
    std::atomic<bool> stopping_{false};
    os_file output_;  // to_output: standard output
    keystream_start start_;
    run_rules rules_;
    deletion_batch deletions_;
    // Slots in list order, from the oldest not yet committed; the workers
    // prepare a few ahead of the commits, so that each has a file to work on
    // while this thread commits in order. Declared before the workers, which
    // are stopped and joined before the slots go.
    std::deque<std::unique_ptr<target_slot>> window_;
    std::size_t next_ = 0;  // the next target to put in the window
    std::unique_ptr<target_workers> workers_;
};
