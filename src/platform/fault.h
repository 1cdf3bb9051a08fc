// Fault seam for tests: makes the nth call of one file-system operation fail
// with a given error, as if the system had refused it, or (a sync) do
// nothing while it reports success, or runs a hook just before each call.
// Off unless armed. Counters are shared by every thread.
#pragma once

#include <functional>

enum class fault_point { open, create, read, write, sync, close, rename, unlink, list, count_ };

// The nth call (1 = the next one) of point from now on fails with error
// (an errno value); later calls succeed again.
void fault_arm(fault_point point, int nth, int error);
// Runs hook before every later call of point (on the calling thread), until
// fault_clear. For tests that change a file at an exact moment.
void fault_hook(fault_point point, std::function<void()> hook);
// Disarms every point and hook and resets the counters.
void fault_clear();
// Number of calls of point since the last fault_clear.
int fault_calls(fault_point point);
// The nth call of point from now on does nothing and reports success, as a
// flush the system dropped would. Only the POSIX sync calls honour it;
// elsewhere the call goes on.
void fault_omit(fault_point point, int nth);
// Called by the platform layer before each operation: true when this call
// must fail; errno then holds the error to report.
bool fault_injected(fault_point point);
// The same for a call that may also be omitted: proceed, fail (errno set) or
// omit.
enum class fault_action { proceed, fail, omit };
fault_action fault_decide(fault_point point);
