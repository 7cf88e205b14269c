// A time limit for the steps of a crash report that need no user: a step
// that hangs (a shell that does not start the diagnostics program, an
// event log that does not answer) must not leave a dead program on the
// screen. The watching thread is started ahead of need, so that arming it
// during a crash creates nothing.
#pragma once
#include "rtl/Win.h"

namespace crash {

// Starts the watching thread (once).
void StartReportWatchdog();

// While it lives, the process ends with the crash-during-report exit code
// when `limitMs` pass; whatever was written until then stays.
class TReportDeadline {
public:
    explicit TReportDeadline(DWORD limitMs);
    ~TReportDeadline();
    TReportDeadline(const TReportDeadline&) = delete;
    TReportDeadline& operator=(const TReportDeadline&) = delete;
};

// The limit the crash report filter gives its steps.
constexpr DWORD cReportStepsLimitMs = 20000;

}  // namespace crash
