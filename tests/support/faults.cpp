#include "support/faults.h"

namespace {

// The tests count and arm the seam from their start.
const bool seam_counted = (fault_seam_on = true);

fault_slot& slot_of(fault_point point) { return fault_slots[static_cast<int>(point)]; }

}  // namespace

void fault_arm(fault_point point, int nth, int error) {
    fault_slot& slot = slot_of(point);
    slot.error = error;
    slot.omit = false;
    slot.fail_at = slot.calls + nth;
}

void fault_omit(fault_point point, int nth) {
    fault_slot& slot = slot_of(point);
    slot.omit = true;
    slot.fail_at = slot.calls + nth;
}

void fault_hook(fault_point point, std::function<void()> hook) { slot_of(point).hook = std::move(hook); }

void fault_clear() {
    for (fault_slot& slot : fault_slots) {
        slot.calls = 0;
        slot.fail_at = 0;
        slot.error = 0;
        slot.omit = false;
        slot.hook = nullptr;
    }
}

int fault_calls(fault_point point) { return slot_of(point).calls; }
