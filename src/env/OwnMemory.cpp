#include "env/OwnMemory.h"

#include <cstdint>

#include "rtl/Win.h"

namespace env {

// Every page of the range is committed and accessible. The process-memory
// calls are the authority, but some hosts (Wine under a user-mode CPU
// emulator) let them read reserved pages, so the range is checked first.
static bool RangeIsAccessible(const void* address, size_t count) {
    auto p = reinterpret_cast<uintptr_t>(address);
    uintptr_t end = p + count;
    if (end < p) return false;
    while (p < end) {
        MEMORY_BASIC_INFORMATION mbi{};
        if (!VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof(mbi))) return false;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || mbi.Protect == 0) return false;
        uintptr_t regionEnd = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
        if (regionEnd <= p) return false;
        p = regionEnd;
    }
    return true;
}

bool ReadOwnMemory(const void* address, void* buffer, size_t count) {
    if (!address || !buffer) return false;
    if (!RangeIsAccessible(address, count)) return false;
    SIZE_T done = 0;
    return ReadProcessMemory(GetCurrentProcess(), address, buffer, count, &done) && done == count;
}

bool WriteOwnMemory(void* address, const void* buffer, size_t count) {
    if (!address || !buffer) return false;
    if (!RangeIsAccessible(address, count)) return false;
    SIZE_T done = 0;
    return WriteProcessMemory(GetCurrentProcess(), address, buffer, count, &done) && done == count;
}

void* GetStackTop() {
    void* top;
    // NT_TIB.StackBase is at fs:[4] on 32-bit x86.
    __asm__ volatile("movl %%fs:4, %0" : "=r"(top));
    return top;
}

}  // namespace env
