// The per-thread record of the last exception that reached a patched
// handler on a thread, and of the last description composed there.
//
// The records live in a heap of their own, created when the manager is
// armed, so that a program that damaged its own heap still gets its
// failure recorded; a thread's record is freed when the thread ends.
#pragma once
#include "crash/ZudAvizi.h"

namespace crash {

// What one dispatch of an exception recorded: its context, its record, a
// copy of the stack as it was, and the thread it happened on.
struct TExceptionState {
    CONTEXT Context;
    TExceptionRecord Record;
    TStackSnapshot Stack;
    DWORD ThreadId;
};

struct TThreadSlots : TExceptionState {
    TExceptionMessageInfo Info;
    // The exception a report (or log entry) in progress on this thread
    // describes, a copy taken when it began; null outside reports.
    // Exceptions raised and handled meanwhile update the record above,
    // never it.
    const TExceptionState* Reported = nullptr;
    // The thread allocates from the failure path's own heap.
    bool FailureAllocation = false;
};

// The calling thread's slots, zero until its first exception.
TThreadSlots& ThreadSlots();
// The same when the thread has them; null otherwise (allocates nothing).
TThreadSlots* ExistingThreadSlots();

// The exception the calling thread describes: the one its report in
// progress froze, otherwise the last one recorded.
const TExceptionState& ReportedException();

// Creates the slots' heap and the calling thread's slots ahead of need.
void ReserveThreadSlots();

// Slots currently allocated (one per thread that has them).
long LiveThreadSlots();

// Freezes the calling thread's recorded exception for one report for the
// life of the object; at its end the thread's record is the reported
// exception again.
class TReportScope {
public:
    TReportScope();
    ~TReportScope();
    TReportScope(const TReportScope&) = delete;
    TReportScope& operator=(const TReportScope&) = delete;

private:
    TThreadSlots& FSlots;
    const TExceptionState* FPrevious;
    bool FFailureAllocation;
    TExceptionState FFrozen;
};

}  // namespace crash
