#include "crash/ThreadSlots.h"

#include <new>

#include "crash/FailureHeap.h"

namespace crash {

namespace {

HANDLE gHeap = nullptr;
DWORD gIndex = FLS_OUT_OF_INDEXES;
volatile LONG gLive = 0;
INIT_ONCE gOnce = INIT_ONCE_STATIC_INIT;

// Shared by every thread whose slots could not be allocated: a report
// with a record that another thread may overwrite beats no report.
TThreadSlots gFallback{};

void WINAPI FreeSlots(void* p) {
    if (!p || p == &gFallback) return;
    // A thread that ends while it allocates from the failure heap no longer counts.
    LeaveFailureAllocation(static_cast<TThreadSlots*>(p));
    static_cast<TThreadSlots*>(p)->~TThreadSlots();
    HeapFree(gHeap, 0, p);
    InterlockedDecrement(&gLive);
}

BOOL CALLBACK CreateStore(INIT_ONCE*, void*, void**) {
    ReserveFailureHeap();
    gHeap = HeapCreate(0, 256 * 1024, 0);
    gIndex = FlsAlloc(&FreeSlots);
    return TRUE;
}

}  // namespace

void ReserveThreadSlots() { ThreadSlots(); }

TThreadSlots& ThreadSlots() {
    InitOnceExecuteOnce(&gOnce, &CreateStore, nullptr, nullptr);
    if (gIndex == FLS_OUT_OF_INDEXES || !gHeap) return gFallback;
    if (void* p = FlsGetValue(gIndex)) return *static_cast<TThreadSlots*>(p);
    void* memory = HeapAlloc(gHeap, HEAP_ZERO_MEMORY, sizeof(TThreadSlots));
    if (!memory) return gFallback;
    auto* slots = new (memory) TThreadSlots{};
    if (!FlsSetValue(gIndex, slots)) {
        slots->~TThreadSlots();
        HeapFree(gHeap, 0, memory);
        return gFallback;
    }
    InterlockedIncrement(&gLive);
    return *slots;
}

TThreadSlots* ExistingThreadSlots() {
    if (gIndex == FLS_OUT_OF_INDEXES) return nullptr;
    return static_cast<TThreadSlots*>(FlsGetValue(gIndex));
}

const TExceptionState& ReportedException() {
    const TThreadSlots& slots = ThreadSlots();
    return slots.Reported ? *slots.Reported : slots;
}

long LiveThreadSlots() { return gLive; }

TReportScope::TReportScope()
    : FSlots(ThreadSlots()),
      FPrevious(FSlots.Reported),
      FFailureAllocation(FSlots.FailureAllocation),
      FFrozen(static_cast<const TExceptionState&>(FSlots)) {
    FSlots.Reported = &FFrozen;
    EnterFailureAllocation();
}

TReportScope::~TReportScope() {
    // What the report itself raised and handled is forgotten: the thread's
    // last exception is again the one reported.
    static_cast<TExceptionState&>(FSlots) = FFrozen;
    FSlots.Reported = FPrevious;
    if (!FFailureAllocation) LeaveFailureAllocation();
}

}  // namespace crash
