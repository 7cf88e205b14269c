#include "crash/FailureHeap.h"

#include <cstdint>
#include <cstring>

#include "crash/ThreadSlots.h"
#include "rtl/Win.h"

namespace crash {

namespace {

constexpr SIZE_T cReserveSize = 4 * 1024 * 1024;

HANDLE gReserve = nullptr;
volatile LONG gThreadsInFailure = 0;

BOOL CALLBACK CreateReserve(INIT_ONCE*, void*, void**) {
    // Not growable: the heap is one reserved range, so that a block can be
    // told to be its own by its address.
    gReserve = HeapCreate(0, 64 * 1024, cReserveSize);
    return TRUE;
}

bool IsFailureHeapBlock(const void* p) {
    const auto base = reinterpret_cast<uintptr_t>(gReserve), at = reinterpret_cast<uintptr_t>(p);
    return gReserve && at >= base && at - base < cReserveSize;
}

bool InFailureAllocation() {
    if (!gThreadsInFailure) return false;
    const TThreadSlots* slots = ExistingThreadSlots();
    return slots && slots->FailureAllocation;
}

// The reserved heap's blocks (null when there is none or it is full).
void* FailureHeapAlloc(size_t n) { return gReserve ? HeapAlloc(gReserve, 0, n ? n : 1) : nullptr; }
void FailureHeapFree(void* p) { HeapFree(gReserve, 0, p); }
size_t FailureHeapSize(const void* p) { return HeapSize(gReserve, 0, p); }

}  // namespace

void ReserveFailureHeap() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, &CreateReserve, nullptr, nullptr);
}

void EnterFailureAllocation() {
    if (!gReserve) return;
    TThreadSlots& slots = ThreadSlots();
    if (slots.FailureAllocation) return;
    slots.FailureAllocation = true;
    InterlockedIncrement(&gThreadsInFailure);
}

void LeaveFailureAllocation(TThreadSlots* slots) {
    if (!gThreadsInFailure) return;
    if (!slots) slots = ExistingThreadSlots();
    if (!slots || !slots->FailureAllocation) return;
    slots->FailureAllocation = false;
    InterlockedDecrement(&gThreadsInFailure);
}

}  // namespace crash

// --- the C runtime's allocation functions ---

namespace {

// The C runtime DLL's own functions, found on first use (allocation starts
// before any initialiser of ours runs).
void* (*gMalloc)(size_t) = nullptr;
void (*gFree)(void*) = nullptr;
void* (*gRealloc)(void*, size_t) = nullptr;
size_t (*gMsize)(void*) = nullptr;

template <class Fn>
Fn Runtime(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), name)));
}

void ResolveRuntime() {
    if (gMalloc) return;
    gFree = Runtime<void (*)(void*)>("free");
    gRealloc = Runtime<void* (*)(void*, size_t)>("realloc");
    gMsize = Runtime<size_t (*)(void*)>("_msize");
    gMalloc = Runtime<void* (*)(size_t)>("malloc");
}

}  // namespace

extern "C" {

void* malloc(size_t n) {
    if (crash::InFailureAllocation())
        if (void* p = crash::FailureHeapAlloc(n)) return p;
    ResolveRuntime();
    return gMalloc(n);
}

void free(void* p) {
    if (!p) return;
    if (crash::IsFailureHeapBlock(p)) return crash::FailureHeapFree(p);
    // The program's heap may be what failed: leave it alone.
    if (crash::InFailureAllocation()) return;
    ResolveRuntime();
    gFree(p);
}

void* calloc(size_t count, size_t size) {
    if (size && count > SIZE_MAX / size) return nullptr;
    void* p = malloc(count * size);
    if (p) std::memset(p, 0, count * size);
    return p;
}

void* realloc(void* p, size_t n) {
    if (!p) return malloc(n);
    const bool own = crash::IsFailureHeapBlock(p);
    if (!own && !crash::InFailureAllocation()) {
        ResolveRuntime();
        return gRealloc(p, n);
    }
    if (n == 0) {
        free(p);
        return nullptr;
    }
    void* q = malloc(n);
    if (!q) return nullptr;
    ResolveRuntime();
    const size_t old = own ? crash::FailureHeapSize(p) : gMsize(p);
    std::memcpy(q, p, old < n ? old : n);
    free(p);
    return q;
}

}  // extern "C"
