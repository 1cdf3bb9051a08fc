// Fault seam for tests: makes the nth call of one file-system operation fail
// with a given error, as if the system had refused it. Off unless armed.
#pragma once

enum class fault_point { open, create, read, write, sync, close, rename, unlink, list, count_ };

// The nth call (1 = the next one) of point from now on fails with error
// (an errno value); later calls succeed again.
void fault_arm(fault_point point, int nth, int error);
// Disarms every point and resets the counters.
void fault_clear();
// Number of calls of point since the last fault_clear.
int fault_calls(fault_point point);
// Called by the platform layer before each operation: true when this call
// must fail; *error then holds the error to report.
bool fault_fires(fault_point point, int* error);
