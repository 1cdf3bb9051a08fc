#include "platform/interrupt.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>

namespace {

// The hold: shared by the threads that create or rename temporaries, which
// then never wait on each other; taken whole, for good, by the ending. Once
// the end has begun, a thread that takes it gives it back and waits on ended,
// which the end holds: threads busy with temporaries cannot keep the end
// waiting.
std::shared_mutex holding;
std::atomic<bool> ending{false};
std::mutex ended;

// Each slot is changed by one compare-and-exchange, so threads that share
// the hold may track and forget at the same time.
std::atomic<const char*> partial_outputs[TRACKED_OUTPUTS];

}  // namespace

bool track_partial_output(const char* temp_path) {
    for (auto& tracked : partial_outputs) {
        const char* free_slot = nullptr;
        if (tracked.compare_exchange_strong(free_slot, temp_path)) return true;
    }
    return false;
}

void forget_partial_output(const char* temp_path) {
    for (auto& tracked : partial_outputs) {
        const char* mine = temp_path;
        if (tracked.compare_exchange_strong(mine, nullptr)) return;
    }
}

void end_the_run(void (*remove)(const char* path)) {
    ended.lock();  // never released, nor is the hold: the process ends with them held
    ending = true;
    holding.lock();
    for (auto& tracked : partial_outputs) {
        if (const char* path = tracked.exchange(nullptr)) remove(path);
    }
}

void hold_interrupts() {
    holding.lock_shared();
    if (!ending) return;
    holding.unlock_shared();
    ended.lock();  // the process is ending: this never returns
}

void release_interrupts() { holding.unlock_shared(); }
