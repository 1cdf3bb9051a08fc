#include "platform/fault.h"

#include <cerrno>

fault_slot fault_slots[static_cast<int>(fault_point::count_)];
std::atomic<bool> fault_seam_on{false};

fault_action fault_decide(fault_point point) {
    if (!fault_seam_on.load(std::memory_order_relaxed)) return fault_action::proceed;
    fault_slot& slot = fault_slots[static_cast<int>(point)];
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
