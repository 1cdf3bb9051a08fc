#include "run/run.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/ending.h"

namespace {

// More threads than this only wait on each other for the disk.
constexpr unsigned MOST_WORKERS = 4;

// Slots a worker may have ahead of the commits. Each may hold a temporary,
// known to the ending: the window never outgrows what it can know.
constexpr std::size_t SLOTS_PER_WORKER = 16;
static_assert(MOST_WORKERS_ASKED * SLOTS_PER_WORKER <= MOST_TEMPORARIES);

using clock = std::chrono::steady_clock;

// A target the calling thread prepares itself while it waits, when there is
// one waiting: a thread that sleeps and wakes for each small file costs more
// than the file, and a small one delays the reports and the progress display
// little.
constexpr std::int64_t SMALL_TARGET = 512 * 1024;

}  // namespace

// One target from its preparation to its commit.
struct target_slot {
    target_job job;
    bool preparing = false;     // handed to the workers, not yet done
    clock::time_point began{};  // when a thread took it
};

// The threads that prepare targets, and the slots waiting for them.
struct target_workers {
    explicit target_workers(const target_context& run_context) : context(run_context) {}
    ~target_workers() { stop(); }
    const target_context& context;
    std::mutex mutex;
    std::condition_variable work_ready, work_done;
    std::deque<target_slot*> waiting;
    const target_slot* awaited = nullptr;  // the one the calling thread waits for
    bool closing = false;
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
    void finish(target_slot& slot, copy_status copied) {
        guarded(slot, [&] { finish_target(slot.job, context, copied); });
    }
    // A worker copies two bodies at once, their RC4 interleaved, each in a
    // block set of its own: a target joins as soon as a place is free. A
    // target whose body fits in its first block is done on the way; a body
    // left alone, with nothing waiting to join it, goes on with the ring.
    void work() {
        std::unique_lock lock(mutex);
        target_slot* copying[2] = {nullptr, nullptr};
        for (;;) {
            for (int block_set = 0; block_set < 2; ++block_set) {
                while (copying[block_set] == nullptr && !waiting.empty()) {
                    target_slot* slot = take();
                    lock.unlock();
                    // The first part of its preparation: whether its body waits to be copied.
                    bool more = false;
                    guarded(*slot, [&] { more = begin_target(slot->job, context, block_set); });
                    lock.lock();
                    if (more) {
                        copying[block_set] = slot;
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
        slot.preparing = true;
        waiting.push_back(&slot);
        work_ready.notify_one();
    }
    // Waits at most patience for slot; meanwhile this thread prepares the
    // small targets that wait. true when slot is ready.
    bool wait_for(const target_slot& slot, clock::duration patience) {
        const clock::time_point until = clock::now() + patience;
        std::unique_lock lock(mutex);
        awaited = &slot;
        while (slot.preparing) {
            const std::int64_t size = waiting.empty() ? -1 : waiting.front()->job.listed_size;
            if (size >= 0 && size <= SMALL_TARGET) {
                target_slot* small = take();
                lock.unlock();
                guarded(*small, [&] { prepare_target(small->job, context); });
                lock.lock();
                done(small);
            } else if (work_done.wait_until(lock, until) == std::cv_status::timeout) {
                break;
            }
        }
        awaited = nullptr;
        return !slot.preparing;
    }
    // slot, once a thread has worked on it for a second.
    std::optional<target_progress> progress_of(const target_slot& slot) {
        const std::lock_guard lock(mutex);
        if (!slot.preparing || slot.began == clock::time_point{}) return std::nullopt;
        const double seconds = std::chrono::duration<double>(clock::now() - slot.began).count();
        if (seconds < 1.0) return std::nullopt;
        return target_progress{slot.job.path, slot.job.done.load(std::memory_order_relaxed),
                               slot.job.listed_size, seconds};
    }
    // Slots not yet started are dropped; the running ones stop at their next
    // block (the run's stop flag is set) and are waited for.
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

unsigned workers_for(const target_list& targets, std::optional<unsigned> asked) {
    unsigned threads = 1;
    if (asked) {
        threads = std::clamp(*asked, 1u, MOST_WORKERS_ASKED);
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

target_run::target_run(const target_list& targets, run_mode mode, bool delete_input)
    : targets_(targets), rules_(targets) {
    context_.mode = mode;
    context_.delete_input = delete_input;
    context_.stop = &stopping_;
    if (targets.empty()) return;
    // What the head is decides the passphrase dialogue.
    target_job probe;
    probe.path = targets.path(0);
    probe.listed_size = targets.listed_size(0);
    if (!open_target(probe, false) || !read_header(probe.input, probe.head)) return;
    const bool decrypted = is_container(probe) && rules_.would_write(probe.path, output_name(probe.path, true));
    head_ = decrypted ? head_kind::container : head_kind::plain;
    head_bytes_ = probe.head;
}

target_run::~target_run() {
    stopping_ = true;
    workers_.reset();
}

bool target_run::head_opens_with(const key_material& keys) const {
    return header_matches(head_bytes_, keys.header_text);
}

bool target_run::start(const key_material& keys, unsigned workers, const key_material* new_keys) {
    context_.keys = keys;
    if (new_keys != nullptr) context_.new_keys = *new_keys;
    // As much of the keystream as the longest body takes in its first block,
    // made once: many small bodies then need no cipher of their own.
    std::int64_t longest = 1;
    for (std::size_t i = 0; i < targets_.size(); ++i) longest = std::max(longest, targets_.listed_size(i));
    const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(longest, COPY_BLOCK));
    const bool rekey = context_.mode == run_mode::rekey;
    make_keystream_start(start_, length, keys.cipher_key, sizeof keys.cipher_key,
                         rekey ? context_.new_keys.cipher_key : nullptr, rekey ? sizeof keys.cipher_key : 0);
    context_.start = &start_;
    if (context_.mode == run_mode::to_output) {
        context_.output = &output_;
        if (!open_standard_output(output_)) return false;  // in list order, on this thread
        file_state output_state;
        if (read_state(output_, output_state)) context_.output_file = output_state.identity;
        return true;
    }
    if (workers == 0) return true;
    workers_ = std::make_unique<target_workers>(context_);
    try {
        for (unsigned i = 0; i < std::min(workers, MOST_WORKERS_ASKED); ++i) {
            target_workers& pool = *workers_;
            pool.threads.push_back(quiet_thread([&pool] { pool.work(); }));
        }
    } catch (const std::system_error&) {
        if (workers_->threads.empty()) {  // no thread to be had: all on this one
            workers_.reset();
            return true;
        }
    }
    for (const auto& slot : window_) workers_->submit(*slot);
    return true;
}

void target_run::fill_window() {
    const std::size_t ahead = workers_ ? SLOTS_PER_WORKER * workers_->threads.size() : 1;
    for (; next_ < targets_.size() && window_.size() < ahead; ++next_) {
        window_.push_back(std::make_unique<target_slot>());
        window_.back()->job.path = targets_.path(next_);
        window_.back()->job.listed_size = targets_.listed_size(next_);
        if (workers_) workers_->submit(*window_.back());
    }
}

bool target_run::wait(std::chrono::milliseconds patience) {
    fill_window();
    return window_.empty() || !workers_ || workers_->wait_for(*window_.front(), patience);
}

std::optional<target_progress> target_run::progress() {
    if (window_.empty() || !workers_) return std::nullopt;
    return workers_->progress_of(*window_.front());
}

std::optional<target_outcome> target_run::next() {
    fill_window();
    if (window_.empty()) return std::nullopt;
    target_slot& slot = *window_.front();
    if (!workers_) {
        prepare_target(slot.job, context_);
    } else {
        while (!workers_->wait_for(slot, std::chrono::hours(1))) {
        }
    }
    const int outcome = commit_target(slot.job, rules_, deletions_, context_.delete_input);
    target_outcome done{outcome, slot.job.path, slot.job.output_path};
    window_.pop_front();
    return done;
}

std::optional<int> target_run::finish() {
    stopping_ = true;
    workers_.reset();
    window_.clear();
    return deletions_.finish();
}
