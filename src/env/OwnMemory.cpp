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

// The writable protection that keeps a page's executable bit.
static DWORD WritableProtection(DWORD protect) {
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return (protect & executable) ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE;
}

// Each region of the range is made writable for the duration of its write
// and then given its protection back, as the process-memory call does on
// its own. Doing it here as well matters for code: a binary translator
// (QEMU's user-mode emulator, which runs Wine where the processor is not an
// x86) does not see a write that the system carries out on the process's
// behalf, but it drops what it translated from a page whose protection
// changes, so rewritten code runs as written even when it already ran.
bool WriteOwnMemory(void* address, const void* buffer, size_t count) {
    if (!address || !buffer) return false;
    if (!RangeIsAccessible(address, count)) return false;
    auto* target = static_cast<uint8_t*>(address);
    auto* source = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        MEMORY_BASIC_INFORMATION mbi{};
        if (!VirtualQuery(target, &mbi, sizeof(mbi))) return false;
        size_t inRegion = static_cast<size_t>(static_cast<uint8_t*>(mbi.BaseAddress) + mbi.RegionSize - target);
        size_t n = count < inRegion ? count : inRegion;
        DWORD previous = 0;
        bool unprotected = VirtualProtect(target, n, WritableProtection(mbi.Protect), &previous);
        SIZE_T done = 0;
        bool written = WriteProcessMemory(GetCurrentProcess(), target, source, n, &done) && done == n;
        if (unprotected) VirtualProtect(target, n, previous, &previous);
        if (!written) return false;
        target += n;
        source += n;
        count -= n;
    }
    return true;
}

void* GetStackTop() {
    void* top;
    // NT_TIB.StackBase is at fs:[4] on 32-bit x86.
    __asm__ volatile("movl %%fs:4, %0" : "=r"(top));
    return top;
}

}  // namespace env
