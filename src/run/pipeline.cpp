#include "run/pipeline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/environment.h"
#include "platform/ending.h"
#include "run/transform.h"

namespace {

// More threads than this only wait on each other for the disk.
constexpr unsigned MOST_WORKERS = 4;

// Slots a worker may have ahead of the commits. Each may hold a temporary,
// known to the ending: the window never outgrows what it can know.
constexpr std::size_t SLOTS_PER_WORKER = 4;
static_assert(MOST_WORKERS_ASKED * SLOTS_PER_WORKER <= MOST_TEMPORARIES);

using clock = std::chrono::steady_clock;

// How often a progress display is brought up to date.
constexpr std::chrono::milliseconds PROGRESS_EVERY{250};

// A target the calling thread prepares itself while it waits, when there is
// one waiting: a thread that sleeps and wakes for each small file costs more
// than the file, and a small one delays the reports and the progress display
// little.
constexpr std::int64_t SMALL_TARGET = 512 * 1024;

// One target from its preparation to its report.
struct target_slot {
    std::string path;
    std::int64_t listed_size = -1;
    target_job job;
    bool preparing = false;     // handed to the workers, not yet done
    clock::time_point began{};  // when a thread took it
};

// The threads that prepare targets, and the slots waiting for them. Declared
// after the slots it works on: it is stopped and joined before they go.
struct target_workers {
    explicit target_workers(const run_state& the_run) : run_settings(the_run) {}
    ~target_workers() { stop(); }
    target_workers(const target_workers&) = delete;
    target_workers& operator=(const target_workers&) = delete;
    const run_state& run_settings;
    std::mutex mutex;
    std::condition_variable work_ready, work_done;
    std::deque<target_slot*> waiting;
    const target_slot* awaited = nullptr;  // the one the calling thread waits for
    bool closing = false;
    std::atomic<bool> stopping{false};  // the run has ended: copies in flight stop
    std::vector<std::thread> threads;

    // Takes the first waiting slot; called with lock held.
    target_slot* take() {
        target_slot* slot = waiting.front();
        waiting.pop_front();
        slot->began = clock::now();
        return slot;
    }
    // The slot is ready to commit; called with lock held.
    void done(target_slot* slot) {
        slot->preparing = false;
        if (slot == awaited) work_done.notify_one();
    }
    // Runs a step of slot's preparation: true when it went through. Out of
    // memory on the way ends the run at slot's turn; any other exception
    // fails the target.
    template <typename Step>
    bool guarded(target_slot& slot, Step step) {
        int failed = OUTCOME_OUT_OF_MEMORY;
        try {
            step();
            return true;
        } catch (const std::bad_alloc&) {
        } catch (...) {
            failed = OUTCOME_INPUT_FAILED;
        }
        slot.job.body.reset();
        slot.job.outcome = failed;
        return false;
    }
    // The first part of slot's preparation, in block set `set`: true when
    // its body waits to be copied.
    bool begin(target_slot& slot, int set) {
        bool more = false;
        guarded(slot, [&] { more = begin_target(slot.path, run_settings, slot.job, set); });
        return more;
    }
    void finish(target_slot& slot, copy_status copied) {
        guarded(slot, [&] { finish_target(slot.path, slot.job, copied); });
    }
    // Takes the first waiting slot and prepares it whole; called with lock
    // held.
    void prepare_next(std::unique_lock<std::mutex>& lock) {
        target_slot* slot = take();
        lock.unlock();
        guarded(*slot, [&] { prepare_target(slot->path, run_settings, slot->job); });
        lock.lock();
        done(slot);
    }
    // A worker copies two bodies at once, their RC4 interleaved, each in a
    // block set of its own: a target joins as soon as a place is free. A
    // target whose body fits in its first block is done on the way; a body
    // left alone, with nothing waiting to join it, goes on with the ring.
    void work() {
        std::unique_lock lock(mutex);
        target_slot* copying[2] = {nullptr, nullptr};
        for (;;) {
            for (int set = 0; set < 2; ++set) {
                while (copying[set] == nullptr && !waiting.empty()) {
                    target_slot* slot = take();
                    lock.unlock();
                    const bool more = begin(*slot, set);
                    lock.lock();
                    if (more) {
                        copying[set] = slot;
                    } else {
                        done(slot);
                    }
                }
            }
            if (copying[0] != nullptr && copying[1] != nullptr) {
                lock.unlock();
                copy_two(*copying[0], *copying[1]);
                lock.lock();
            } else if (copying[0] != nullptr || copying[1] != nullptr) {
                target_slot& alone = *(copying[0] != nullptr ? copying[0] : copying[1]);
                lock.unlock();
                copy_status copied = copy_status::ok;
                if (guarded(alone, [&] { copied = stream_rest(*alone.job.body); })) {
                    finish(alone, copied);
                }
                lock.lock();
            } else {
                work_ready.wait(lock, [&] { return closing || !waiting.empty(); });
                if (waiting.empty()) return;
                continue;
            }
            for (target_slot*& slot : copying) {
                if (slot != nullptr && !slot->job.body) {
                    done(slot);
                    slot = nullptr;
                }
            }
        }
    }
    // Both bodies block by block until one ends (or both), which is then
    // finished; the other waits in its block for a partner or the ring.
    void copy_two(target_slot& a, target_slot& b) {
        copy_status a_status = copy_status::ok, b_status = copy_status::ok;
        bool a_more = true, b_more = true;
        const bool stepped = guarded(a, [&] {
            while (a_more && b_more) {
                step_pair(*a.job.body, a_status, a_more, *b.job.body, b_status, b_more);
            }
        });
        if (!stepped) {  // both were on their way: both fail
            b.job.body.reset();
            b.job.outcome = a.job.outcome;
            return;
        }
        if (!a_more) finish(a, a_status);
        if (!b_more) finish(b, b_status);
    }
    void submit(target_slot& slot) {
        const std::lock_guard lock(mutex);
        slot.job.copy.stop = &stopping;
        slot.preparing = true;
        waiting.push_back(&slot);
        work_ready.notify_one();
    }
    // Waits for slot. Meanwhile this thread prepares the small targets that
    // wait, and shows the slot's progress once it has run about a second.
    void wait_for(const target_slot& slot, const progress_display* progress) {
        bool shown = false;
        std::unique_lock lock(mutex);
        awaited = &slot;
        while (slot.preparing) {
            const std::int64_t size = waiting.empty() ? -1 : waiting.front()->listed_size;
            if (size >= 0 && size <= SMALL_TARGET) {
                prepare_next(lock);
            } else if (progress == nullptr) {
                work_done.wait(lock);
            } else if (!work_done.wait_for(lock, PROGRESS_EVERY, [&] { return !slot.preparing; })) {
                if (slot.began == clock::time_point{}) continue;  // not started yet
                const double seconds = std::chrono::duration<double>(clock::now() - slot.began).count();
                if (seconds < 1.0) continue;
                lock.unlock();
                progress->show(slot.path, slot.job.copy.done, slot.job.body_size, seconds);
                shown = true;
                lock.lock();
            }
        }
        awaited = nullptr;
        lock.unlock();
        if (shown) progress->hide();
    }
    // Slots not yet started are dropped; the running ones stop at their next
    // block and are waited for.
    void stop() {
        stopping = true;
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

}  // namespace

unsigned workers_for(const target_list& targets) {
    unsigned threads = 1;
    std::string value;
    const int asked = environment_value("TOVIK_WORKERS", value) ? std::atoi(value.c_str()) : 0;
    if (asked >= 1 && asked <= static_cast<int>(MOST_WORKERS_ASKED)) {
        threads = static_cast<unsigned>(asked);
    } else if (targets.size() > 1) {
        threads = std::clamp(std::thread::hardware_concurrency(), 1u, MOST_WORKERS);
    }
    if (threads == 1) return 0;
    // The calling thread prepares small targets itself while it waits: for a
    // run of small files it is one of the threads, and one more than the
    // cores only makes them wait on each other (a tree of 4 KiB files went
    // 1.3 times faster on 2 cores with one worker than with two).
    std::int64_t listed = 0;
    for (std::size_t i = 0; i < targets.size(); ++i)
        listed += std::max<std::int64_t>(targets.listed_size(i), 0);
    const bool small_files = listed / static_cast<std::int64_t>(targets.size()) <= SMALL_TARGET;
    return small_files ? threads - 1 : threads;
}

bool process_targets(const target_list& targets, run_state& run, unsigned workers,
                     const target_report& report, const progress_display* progress) {
    if (workers == 0 && progress == nullptr) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::string path(targets.path(i));
            target_job job;
            prepare_target(path, run, job);
            if (!report(commit_target(path, job, run), path, job.output_path)) return false;
        }
        return true;
    }
    // Slots in list order, from the oldest not yet reported. Workers prepare
    // a few slots ahead of the commits, so that each has a file to work on
    // while this thread commits and reports in order.
    std::deque<std::unique_ptr<target_slot>> window;
    target_workers pool(run);
    try {
        for (unsigned i = 0; i < std::clamp(workers, 1u, MOST_WORKERS_ASKED); ++i) {
            pool.threads.push_back(quiet_thread([&pool] { pool.work(); }));
        }
    } catch (const std::system_error&) {
        if (pool.threads.empty()) return process_targets(targets, run, 0, report);  // no progress
    }
    const std::size_t ahead = SLOTS_PER_WORKER * pool.threads.size();
    std::size_t next = 0;
    bool going_on = true;
    while (going_on && (next < targets.size() || !window.empty())) {
        for (; next < targets.size() && window.size() < ahead; ++next) {
            window.push_back(std::make_unique<target_slot>());
            window.back()->path = targets.path(next);
            window.back()->listed_size = targets.listed_size(next);
            pool.submit(*window.back());
        }
        target_slot& oldest = *window.front();
        pool.wait_for(oldest, progress);
        going_on = report(commit_target(oldest.path, oldest.job, run), oldest.path,
                          oldest.job.output_path);
        window.pop_front();
    }
    pool.stop();
    return going_on;  // the slots left go with their temporaries
}
