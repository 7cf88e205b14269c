#include "env/OwnMemory.h"

#include <cstdint>
#include <cstring>

#include "rtl/Win.h"

namespace env {

// Every page of the range is committed and accessible. The process-memory
// calls are the authority, but some hosts (Wine under a user-mode CPU
// emulator) let them read reserved pages, so the range is checked first.
// `first` receives the region of the range's first byte.
static bool RangeIsAccessible(const void* address, size_t count, MEMORY_BASIC_INFORMATION* first = nullptr) {
    auto p = reinterpret_cast<uintptr_t>(address);
    uintptr_t end = p + count;
    if (end < p) return false;
    while (p < end) {
        MEMORY_BASIC_INFORMATION mbi{};
        if (!VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof(mbi))) return false;
        if (first && p == reinterpret_cast<uintptr_t>(address)) *first = mbi;
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

// The range lies inside the image of a loaded module, found by the loader
// without asking the system about the pages.
static bool InLoadedImage(const void* address, size_t count) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module) ||
        !module)
        return false;
    const auto base = reinterpret_cast<uintptr_t>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<uintptr_t>(dos->e_lfanew));
    const auto p = reinterpret_cast<uintptr_t>(address);
    return p >= base && p + count >= p && p + count <= base + nt->OptionalHeader.SizeOfImage;
}

bool ReadOwnCode(const void* address, void* buffer, size_t count) {
    if (!address || !buffer) return false;
    if (!InLoadedImage(address, count) && !RangeIsAccessible(address, count)) return false;
    std::memcpy(buffer, address, count);
    return true;
}

// Each region of the range is made writable for the duration of its write
// and then given its protection back, as the process-memory call does on
// its own. Doing it here as well matters for code: a binary translator
// (QEMU's user-mode emulator, which runs Wine where the processor is not an
// x86) does not see a write that the system carries out on the process's
// behalf, but it drops what it translated from a page whose protection
// changes, so rewritten code runs as written even when it already ran.
static bool WriteRegion(uint8_t* target, const uint8_t* source, size_t n, DWORD protect) {
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (protect & writable) {
        std::memcpy(target, source, n);
        return true;
    }
    DWORD previous = 0;
    bool unprotected = VirtualProtect(target, n, WritableProtection(protect), &previous);
    if (unprotected) {
        // Writable now: an ordinary store cannot fault, and a translator
        // sees it as the program's own. The system call would be a round
        // trip to the system per write.
        std::memcpy(target, source, n);
        VirtualProtect(target, n, previous, &previous);
        return true;
    }
    SIZE_T done = 0;
    return WriteProcessMemory(GetCurrentProcess(), target, source, n, &done) && done == n;
}

bool WriteOwnMemory(void* address, const void* buffer, size_t count) {
    if (!address || !buffer) return false;
    MEMORY_BASIC_INFORMATION first{};
    if (!RangeIsAccessible(address, count, &first)) return false;
    auto* target = static_cast<uint8_t*>(address);
    auto* source = static_cast<const uint8_t*>(buffer);
    // Mostly the range lies in one region, already known.
    if (target + count <= static_cast<uint8_t*>(first.BaseAddress) + first.RegionSize)
        return WriteRegion(target, source, count, first.Protect);
    while (count > 0) {
        MEMORY_BASIC_INFORMATION mbi{};
        if (!VirtualQuery(target, &mbi, sizeof(mbi))) return false;
        size_t inRegion = static_cast<size_t>(static_cast<uint8_t*>(mbi.BaseAddress) + mbi.RegionSize - target);
        size_t n = count < inRegion ? count : inRegion;
        if (!WriteRegion(target, source, n, mbi.Protect)) return false;
        target += n;
        source += n;
        count -= n;
    }
    return true;
}

static uintptr_t PageSize() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwPageSize ? si.dwPageSize : 4096;
}

void TWritablePages::Add(const void* address, size_t count) {
    if (!address || count == 0) return;
    const uintptr_t page = PageSize();
    const auto first = reinterpret_cast<uintptr_t>(address) / page * page;
    const auto last = (reinterpret_cast<uintptr_t>(address) + count - 1) / page * page;
    for (uintptr_t base = first; base >= first && base <= last; base += page) {
        bool known = false;
        for (const TPage& p : FPages) known = known || p.Base == base;
        MEMORY_BASIC_INFORMATION mbi{};
        if (known || !VirtualQuery(reinterpret_cast<void*>(base), &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT ||
            (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || mbi.Protect == 0)
            continue;
        DWORD previous = 0;
        if (VirtualProtect(reinterpret_cast<void*>(base), page, WritableProtection(mbi.Protect), &previous))
            FPages.push_back({base, previous});
    }
}

TWritablePages::~TWritablePages() {
    const uintptr_t page = PageSize();
    for (const TPage& p : FPages) {
        DWORD ignored = 0;
        VirtualProtect(reinterpret_cast<void*>(p.Base), page, p.Previous, &ignored);
    }
}

void* GetStackTop() {
    void* top;
    // NT_TIB.StackBase is at fs:[4] on 32-bit x86.
    __asm__ volatile("movl %%fs:4, %0" : "=r"(top));
    return top;
}

void* GetStackLimit() {
    void* limit;
    // NT_TIB.StackLimit is at fs:[8].
    __asm__ volatile("movl %%fs:8, %0" : "=r"(limit));
    return limit;
}

}  // namespace env
