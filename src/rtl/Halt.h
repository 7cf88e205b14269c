// Ending the program, and running it under the outermost exception handler.
#pragma once
#include "rtl/Seh.h"

namespace rtl {

// The procedure Halt runs once before the process ends (the program's
// shutdown steps). Null removes it.
void SetExitProc(void (*proc)());

// Runs the exit procedure (once per process), flushes the C streams and ends
// the process with `code`.
[[noreturn]] void Halt(int code);

// How per-thread state that describes an exception moves to another
// thread. An unhandled stack overflow is shown from a new thread (the
// failing thread has no stack left); whoever keeps such state (the
// exception manager) captures it on the failing thread and adopts it on the
// new one.
struct TThreadStateTransfer {
    void* (*Capture)();
    void (*Adopt)(void* state);
};
void SetThreadStateTransfer(const TThreadStateTransfer& transfer);
const TThreadStateTransfer& ThreadStateTransfer();

// Runs `body` with the outermost handler linked into the thread's chain: an
// exception nobody handles is shown by the last-chance display and the
// process halts with exit code 1. Use it for the program body and for the
// body of every thread the program starts.
template <class Body>
auto RunGuarded(Body&& body) {
    detail::TScopeFrame frame{nullptr, reinterpret_cast<void*>(&rtl_ExceptionHandler), nullptr, nullptr};
    detail::TFrameGuard guard(frame);
    return body();
}

}  // namespace rtl
