#include "crash/ReportDeadline.h"

#include "crash/ZudAvizi.h"
#include "rtl/ScopedHandle.h"

namespace crash {

namespace {

HANDLE gArmed = nullptr;     // auto-reset: a deadline starts
HANDLE gDisarmed = nullptr;  // auto-reset: it ended in time
volatile LONG gLimitMs = 0;

DWORD WINAPI Watch(void*) {
    for (;;) {
        if (WaitForSingleObject(gArmed, INFINITE) != WAIT_OBJECT_0) return 0;
        if (WaitForSingleObject(gDisarmed, static_cast<DWORD>(gLimitMs)) == WAIT_TIMEOUT)
            ExitProcess(cCrashDuringReportExitCode);
    }
}

BOOL CALLBACK StartWatch(INIT_ONCE*, void*, void**) {
    gArmed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gDisarmed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!gArmed || !gDisarmed) return TRUE;
    const rtl::ScopedKernelObject thread(
        CreateThread(nullptr, 64 * 1024, &Watch, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) gArmed = nullptr;
    return TRUE;
}

}  // namespace

void StartReportWatchdog() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, &StartWatch, nullptr, nullptr);
}

TReportDeadline::TReportDeadline(DWORD limitMs) {
    if (!gArmed) return;
    gLimitMs = static_cast<LONG>(limitMs);
    ResetEvent(gDisarmed);
    SetEvent(gArmed);
}

TReportDeadline::~TReportDeadline() {
    if (gArmed) SetEvent(gDisarmed);
}

}  // namespace crash
