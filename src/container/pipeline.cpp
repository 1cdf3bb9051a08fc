#include "container/pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "container/transform.h"
#include "platform/interrupt.h"

namespace {

// More threads than this only wait on each other for the disk.
constexpr unsigned MOST_WORKERS = 4;

using clock = std::chrono::steady_clock;

// How often a progress display is brought up to date.
constexpr std::chrono::milliseconds PROGRESS_EVERY{250};

// One target from its preparation to its report.
struct target_slot {
    std::string* path;
    target_job job;
    bool preparing = false;     // handed to the workers, not yet done
    clock::time_point began{};  // when a thread took it
};

// The threads that prepare targets, and the slots waiting for them.
struct target_workers {
    explicit target_workers(const run_state& the_run) : run_settings(the_run) {}
    const run_state& run_settings;
    std::mutex mutex;
    std::condition_variable work_ready, work_done;
    std::deque<target_slot*> waiting;
    const target_slot* awaited = nullptr;  // the one the calling thread waits for
    bool closing = false;
    std::vector<std::thread> threads;

    // Takes the first waiting slot and prepares it; called with lock held.
    void prepare_next(std::unique_lock<std::mutex>& lock) {
        target_slot* slot = waiting.front();
        waiting.pop_front();
        slot->began = clock::now();
        lock.unlock();
        prepare_target(*slot->path, run_settings, slot->job);
        lock.lock();
        slot->preparing = false;
        if (slot == awaited) work_done.notify_one();
    }
    void work() {
        std::unique_lock lock(mutex);
        for (;;) {
            work_ready.wait(lock, [&] { return closing || !waiting.empty(); });
            if (waiting.empty()) return;
            prepare_next(lock);
        }
    }
    void submit(target_slot& slot) {
        const std::lock_guard lock(mutex);
        slot.preparing = true;
        waiting.push_back(&slot);
        work_ready.notify_one();
    }
    // false when the slot is still being prepared after timeout.
    bool wait_for(const target_slot& slot, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        awaited = &slot;
        return work_done.wait_for(lock, timeout, [&] { return !slot.preparing; });
    }
    // Waits for slot, preparing waiting slots on this thread meanwhile: with
    // many small files, a thread that waits and wakes for each would cost
    // more than the file.
    void wait_helping(const target_slot& slot) {
        std::unique_lock lock(mutex);
        awaited = &slot;
        while (slot.preparing) {
            if (waiting.empty()) {
                work_done.wait(lock);
            } else {
                prepare_next(lock);
            }
        }
    }
    clock::time_point began(const target_slot& slot) {
        const std::lock_guard lock(mutex);
        return slot.began;
    }
    // Slots not yet started are dropped; the running ones are waited for.
    void stop() {
        {
            const std::lock_guard lock(mutex);
            for (target_slot* slot : waiting) slot->preparing = false;
            waiting.clear();
            closing = true;
            work_ready.notify_all();
        }
        for (std::thread& thread : threads) thread.join();
        threads.clear();
    }
};

// Waits for the slot, showing its progress once it has taken about a second.
void wait_showing(target_workers& pool, const target_slot& slot, const progress_display* progress) {
    if (progress == nullptr) {
        pool.wait_helping(slot);
        return;
    }
    bool shown = false;
    while (!pool.wait_for(slot, PROGRESS_EVERY)) {
        const double seconds = std::chrono::duration<double>(clock::now() - pool.began(slot)).count();
        if (seconds < 1.0) continue;
        progress->show(*slot.path, slot.job.body_done, slot.job.body_size, seconds);
        shown = true;
    }
    if (shown) progress->hide();
}

// The outcome of a prepared slot, committed in its turn.
int finish_slot(target_slot& slot, run_state& run) {
    const int outcome = commit_target(*slot.path, slot.job, run);
    // The -4 message appends ".tvk" to the path: when decrypting it is given
    // the output's name, so that for "x.tvk" it names the container.
    if (outcome == OUTCOME_OUTPUT_FAILED && slot.job.decrypting) *slot.path = slot.job.output_path;
    return outcome;
}

}  // namespace

unsigned worker_count(std::size_t targets) {
    if (targets < 2) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores < 2 ? 1 : std::min(cores, MOST_WORKERS);
}

bool process_targets(const std::vector<std::string*>& paths, run_state& run, unsigned workers,
                     const target_report& report, const progress_display* progress) {
    if (workers < 2 && progress == nullptr) {
        for (std::string* path : paths) {
            if (!report(transform_file(*path, run), *path)) return false;
        }
        return true;
    }
    target_workers pool(run);
    try {
        const interrupts_held while_starting;  // the workers never take a signal
        for (unsigned i = 0; i < std::max(workers, 1u); ++i) {
            pool.threads.emplace_back([&pool] { pool.work(); });
        }
    } catch (const std::system_error&) {
        if (pool.threads.empty()) return process_targets(paths, run, 1, report);  // no progress
    }
    // Slots in list order, from the oldest not yet reported. Workers prepare
    // a few slots ahead of the commits, so that each has a file to work on
    // while this thread commits and reports in order.
    std::deque<std::unique_ptr<target_slot>> window;
    // Every slot ahead may hold a temporary, each tracked for the interrupt
    // cleanup.
    const std::size_t ahead = std::min<std::size_t>(4 * pool.threads.size(), TRACKED_OUTPUTS);
    std::size_t next = 0;
    bool going_on = true;
    while (going_on && (next < paths.size() || !window.empty())) {
        while (next < paths.size() && window.size() < ahead) {
            window.push_back(std::make_unique<target_slot>());
            window.back()->path = paths[next++];
            pool.submit(*window.back());
        }
        target_slot& oldest = *window.front();
        wait_showing(pool, oldest, progress);
        going_on = report(finish_slot(oldest, run), *oldest.path);
        window.pop_front();
    }
    pool.stop();
    return going_on;  // the slots left go with their temporaries
}
