// Guarded access to this process's own memory: code bytes, stack words and
// module headers met during a crash may be invalid, so they are read and
// written through the process-memory calls, which fail instead of faulting.
#pragma once
#include <cstddef>

namespace env {

bool ReadOwnMemory(const void* address, void* buffer, size_t count);
bool WriteOwnMemory(void* address, const void* buffer, size_t count);

// Highest address of the current thread's stack (from the thread information block).
void* GetStackTop();

}  // namespace env
