#include "platform/interrupt.h"

#include <atomic>

namespace {

// Read by the handlers, so each must be a plain lock-free load there.
std::atomic<const char*> partial_outputs[TRACKED_OUTPUTS];
static_assert(std::atomic<const char*>::is_always_lock_free);

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

void remove_partial_outputs(void (*remove)(const char* path)) {
    for (auto& tracked : partial_outputs) {
        if (const char* path = tracked.exchange(nullptr)) remove(path);
    }
}
