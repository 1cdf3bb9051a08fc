#include "platform/ending.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "platform/status_line.h"

namespace {

// Steps share the hold, so threads making temporaries never wait on each
// other; the ending takes it whole, for good. Once the ending has begun, a
// thread that asks for a step gives the hold back and waits on ended, which
// the ending holds until the process is gone: steps cannot keep the ending
// waiting.
std::shared_mutex holding;
std::atomic<bool> ending{false};
std::mutex ended;

// The temporaries alive. A slot points at the temp_path of its temp_output
// and is set and cleared only within a step, while that text is alive and
// unchanged: the ending, which reads them whole, never meets a path being
// freed. Each slot changes by one compare-and-exchange, so threads that
// share the hold may track and forget at the same time.
std::atomic<const std::string*> temporaries[MOST_TEMPORARIES];

bool track(const std::string& path) {
    for (auto& slot : temporaries) {
        const std::string* free_slot = nullptr;
        if (slot.compare_exchange_strong(free_slot, &path)) return true;
    }
    return false;
}

void forget(const std::string& path) {
    for (auto& slot : temporaries) {
        const std::string* mine = &path;
        if (slot.compare_exchange_strong(mine, nullptr)) return;
    }
}

}  // namespace

ending_step::ending_step() {
    holding.lock_shared();
    if (!ending) return;
    holding.unlock_shared();
    ended.lock();  // the process is ending: this never returns
}

ending_step::~ending_step() { holding.unlock_shared(); }

temp_output::~temp_output() { discard_output(*this); }

bool begin_output(const std::string& final_path, temp_output& output) {
    const ending_step step;
    if (!create_temp_beside(final_path, output.file, output.temp_path)) return false;
    if (track(output.temp_path)) return true;
    // No room to track it: no removal could be promised for it.
    { os_file closing(std::move(output.file)); }
    remove_file(output.temp_path);
    output.temp_path.clear();
    return false;
}

namespace {

// Within a step: the temporary is in place, under another name.
file_result forget_if_done(temp_output& output, file_result renamed) {
    if (renamed != file_result::done) return renamed;
    forget(output.temp_path);
    output.temp_path.clear();
    return renamed;
}

}  // namespace

file_result finish_output(temp_output& output, const std::string& final_path, bool replace) {
    const ending_step step;
    return forget_if_done(output, rename_file(output.temp_path, final_path, replace));
}

file_result replace_input(temp_output& output, const std::string& path, const file_state& read) {
    const ending_step step;
    return forget_if_done(output, replace_if_unchanged(output.temp_path, path, read));
}

void discard_output(temp_output& output) {
    if (output.temp_path.empty()) return;
    const ending_step step;
    { os_file closing(std::move(output.file)); }
    remove_file(output.temp_path);
    forget(output.temp_path);
    output.temp_path.clear();
}

namespace ending_internals {

void end_the_run() {
    ended.lock();  // never released, nor is the hold: the process ends with them held
    ending = true;
    holding.lock();
    for (auto& slot : temporaries) {
        if (const std::string* path = slot.exchange(nullptr)) remove_file(*path);
    }
    restore_terminal_mode();
    erase_status_line();
}

void hold_steps_for_stop() {
    holding.lock();
    restore_terminal_mode();
    erase_status_line();
}

void resume_after_stop() {
    reenter_raw_mode();
    holding.unlock();
}

void answer_continue() {
    holding.lock();
    resume_after_stop();
}

}  // namespace ending_internals
