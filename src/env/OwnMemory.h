// Guarded access to this process's own memory: code bytes, stack words and
// module headers met during a crash may be invalid, so they are read through
// the process-memory calls, which fail instead of faulting, and written only
// once the pages are known to be there and made writable.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace env {

bool ReadOwnMemory(const void* address, void* buffer, size_t count);
bool WriteOwnMemory(void* address, const void* buffer, size_t count);
// Code and import slots of loaded modules, read while patching: checked
// like ReadOwnMemory, then copied directly, since such pages do not go
// away while their module stays loaded. Not for addresses met in a crash.
bool ReadOwnCode(const void* address, void* buffer, size_t count);

// Makes the pages under a set of ranges writable (executable ones stay
// executable) for its lifetime and gives each page its protection back at
// the end. Several writes into few pages, such as a set of code patches,
// then change each page's protection once instead of twice per write;
// WriteOwnMemory stores into such pages directly.
class TWritablePages {
public:
    TWritablePages() = default;
    ~TWritablePages();
    TWritablePages(const TWritablePages&) = delete;
    TWritablePages& operator=(const TWritablePages&) = delete;

    void Add(const void* address, size_t count);

private:
    struct TPage {
        uintptr_t Base;
        unsigned long Previous;
    };
    std::vector<TPage> FPages;
};

// Highest address of the current thread's stack (from the thread information block).
void* GetStackTop();
// Lowest committed address of the current thread's stack: everything from
// here to the top is readable.
void* GetStackLimit();

}  // namespace env
