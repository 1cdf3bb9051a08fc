#include "platform/interrupt.h"

#include <mutex>

namespace {

// The hold, and the temporaries it guards.
std::recursive_mutex holding;
const char* partial_outputs[TRACKED_OUTPUTS] = {};

}  // namespace

bool track_partial_output(const char* temp_path) {
    const std::lock_guard lock(holding);
    for (const char*& tracked : partial_outputs) {
        if (tracked == nullptr) {
            tracked = temp_path;
            return true;
        }
    }
    return false;
}

void forget_partial_output(const char* temp_path) {
    const std::lock_guard lock(holding);
    for (const char*& tracked : partial_outputs) {
        if (tracked == temp_path) {
            tracked = nullptr;
            return;
        }
    }
}

void end_the_run(void (*remove)(const char* path)) {
    holding.lock();  // never released: the process ends with it held
    for (const char*& tracked : partial_outputs) {
        if (tracked != nullptr) remove(tracked);
        tracked = nullptr;
    }
}

void hold_interrupts() { holding.lock(); }

void release_interrupts() { holding.unlock(); }
