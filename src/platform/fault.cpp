#include "platform/fault.h"

#include <atomic>
#include <cerrno>

namespace {

struct fault_slot {
    std::atomic<int> calls{0};
    std::atomic<int> fail_at{0};  // call number that fails; 0 = never
    std::atomic<int> error{0};
    std::function<void()> hook;   // set and cleared only while no run is going
};

fault_slot slots[static_cast<int>(fault_point::count_)];

}  // namespace

void fault_arm(fault_point point, int nth, int error) {
    fault_slot& slot = slots[static_cast<int>(point)];
    slot.error = error;
    slot.fail_at = slot.calls + nth;
}

void fault_hook(fault_point point, std::function<void()> hook) {
    slots[static_cast<int>(point)].hook = std::move(hook);
}

void fault_clear() {
    for (fault_slot& slot : slots) {
        slot.calls = 0;
        slot.fail_at = 0;
        slot.error = 0;
        slot.hook = nullptr;
    }
}

int fault_calls(fault_point point) { return slots[static_cast<int>(point)].calls; }

bool fault_injected(fault_point point) {
    fault_slot& slot = slots[static_cast<int>(point)];
    if (slot.hook) slot.hook();
    const int call = ++slot.calls;
    int armed = call;
    // Exactly one call fires, whichever thread makes it.
    if (!slot.fail_at.compare_exchange_strong(armed, 0)) return false;
    errno = slot.error;
    return true;
}
