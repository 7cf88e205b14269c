// Storage for the failure path that does not depend on the program's heap.
//
// A failure is often the heap's own: a stray write has damaged its
// bookkeeping, and the next allocation faults. From the moment a thread
// faults until its exception has been handled, and while it reports a
// failure, what it allocates comes from a heap reserved when the manager
// is armed, and what it frees of the program's heap is left alone. The C
// runtime's allocation functions are replaced for the whole program (the
// statically linked C++ runtime included) to make that possible; outside
// the failure path they are the C runtime's own.
#pragma once
#include <cstddef>

namespace crash {

// Creates the reserved heap (once).
void ReserveFailureHeap();

struct TThreadSlots;

// The calling thread allocates from the reserved heap until it leaves
// (or until the thread of `slots` ends).
void EnterFailureAllocation();
void LeaveFailureAllocation(TThreadSlots* slots = nullptr);

}  // namespace crash
