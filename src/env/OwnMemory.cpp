#include "env/OwnMemory.h"

#include "rtl/Win.h"

namespace env {

bool ReadOwnMemory(const void* address, void* buffer, size_t count) {
    if (!address || !buffer) return false;
    SIZE_T done = 0;
    return ReadProcessMemory(GetCurrentProcess(), address, buffer, count, &done) && done == count;
}

bool WriteOwnMemory(void* address, const void* buffer, size_t count) {
    if (!address || !buffer) return false;
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
