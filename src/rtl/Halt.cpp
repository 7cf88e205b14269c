#include "rtl/Halt.h"

#include <atomic>
#include <cstdio>

#include "rtl/Win.h"

namespace rtl {

static std::atomic<void (*)()> gExitProc{nullptr};

void SetExitProc(void (*proc)()) { gExitProc = proc; }

static TThreadStateTransfer gTransfer{nullptr, nullptr};

void SetThreadStateTransfer(const TThreadStateTransfer& transfer) { gTransfer = transfer; }
const TThreadStateTransfer& ThreadStateTransfer() { return gTransfer; }

void Halt(int code) {
    if (void (*proc)() = gExitProc.exchange(nullptr)) proc();
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(code));
}

}  // namespace rtl
