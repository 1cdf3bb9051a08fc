#include "platform/fault.h"

namespace {

struct fault_slot {
    int calls = 0;
    int fail_at = 0;  // call number that fails; 0 = never
    int error = 0;
};

fault_slot slots[static_cast<int>(fault_point::count_)];

}  // namespace

void fault_arm(fault_point point, int nth, int error) {
    fault_slot& slot = slots[static_cast<int>(point)];
    slot.fail_at = slot.calls + nth;
    slot.error = error;
}

void fault_clear() {
    for (fault_slot& slot : slots) slot = fault_slot{};
}

int fault_calls(fault_point point) { return slots[static_cast<int>(point)].calls; }

bool fault_fires(fault_point point, int* error) {
    fault_slot& slot = slots[static_cast<int>(point)];
    ++slot.calls;
    if (slot.fail_at == 0 || slot.calls != slot.fail_at) return false;
    slot.fail_at = 0;
    *error = slot.error;
    return true;
}
