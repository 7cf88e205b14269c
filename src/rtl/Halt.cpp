#include "rtl/Halt.h"

#include <atomic>
#include <cstdio>

#include "rtl/Win.h"

namespace rtl {

static std::atomic<void (*)()> gExitProc{nullptr};

void SetExitProc(void (*proc)()) { gExitProc = proc; }

void Halt(int code) {
    if (void (*proc)() = gExitProc.exchange(nullptr)) proc();
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace rtl
