// Arming the platform layer's fault seam (platform/fault.h).
#pragma once

#include <functional>

#include "platform/fault.h"

// The nth call (1 = the next one) of point from now on fails with error
// (an errno value); later calls succeed again.
void fault_arm(fault_point point, int nth, int error);
// The nth call of point from now on does nothing and reports success, as a
// flush the system dropped would. Only the POSIX sync calls honour it;
// elsewhere the call goes on.
void fault_omit(fault_point point, int nth);
// Runs hook before every later call of point (on the calling thread), until
// fault_clear. For tests that change a file at an exact moment.
void fault_hook(fault_point point, std::function<void()> hook);
// Disarms every point and hook and resets the counters.
void fault_clear();
// Number of calls of point since the last fault_clear.
int fault_calls(fault_point point);
