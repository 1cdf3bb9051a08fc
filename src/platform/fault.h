// Fault seam for tests: the platform layer asks it before each file-system
// operation whether the call must fail (as if the system had refused it),
// or, a sync, do nothing while it reports success; it also runs a test's
// hook just before each call. Off unless a test arms it (tests/support/
// faults.h); counters are shared by every thread.
#pragma once

#include <atomic>
#include <functional>

enum class fault_point { open, create, read, write, sync, close, rename, unlink, list, count_ };

// What tests set for one point.
struct fault_slot {
    std::atomic<int> calls{0};
    std::atomic<int> fail_at{0};  // call number that fires; 0 = never
    std::atomic<int> error{0};
    std::atomic<bool> omit{false};  // the armed call is omitted, not failed
    std::function<void()> hook;     // set and cleared only while no run is going
};
extern fault_slot fault_slots[static_cast<int>(fault_point::count_)];
// Set by tests: until then the seam is not even counted, and costs a
// program's calls one load of a flag.
extern std::atomic<bool> fault_seam_on;

// Before each operation: true when this call must fail; errno then holds the
// error to report.
bool fault_injected(fault_point point);
// The same for a call that may also be omitted: proceed, fail (errno set) or
// omit.
enum class fault_action { proceed, fail, omit };
fault_action fault_decide(fault_point point);
