#include "platform/fault.h"

#include <atomic>
#include <cerrno>

namespace {

struct fault_slot {
    std::atomic<int> calls{0};
    std::atomic<int> fail_at{0};  // call number that fails; 0 = never
    std::atomic<int> error{0};
    std::atomic<bool> omit{false};  // the armed call is omitted, not failed
    std::function<void()> hook;   // set and cleared only while no run is going
};

fault_slot slots[static_cast<int>(fault_point::count_)];

}  // namespace

void fault_arm(fault_point point, int nth, int error) {
    fault_slot& slot = slots[static_cast<int>(point)];
    slot.error = error;
    slot.omit = false;
    slot.fail_at = slot.calls + nth;
}

void fault_omit(fault_point point, int nth) {
    fault_slot& slot = slots[static_cast<int>(point)];
    slot.omit = true;
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
        slot.omit = false;
        slot.hook = nullptr;
    }
}

int fault_calls(fault_point point) { return slots[static_cast<int>(point)].calls; }

fault_action fault_decide(fault_point point) {
    fault_slot& slot = slots[static_cast<int>(point)];
    if (slot.hook) slot.hook();
    const int call = ++slot.calls;
    int armed = call;
    // Exactly one call fires, whichever thread makes it.
    if (!slot.fail_at.compare_exchange_strong(armed, 0)) return fault_action::proceed;
    if (slot.omit) return fault_action::omit;
    errno = slot.error;
    return fault_action::fail;
}

bool fault_injected(fault_point point) { return fault_decide(point) == fault_action::fail; }
