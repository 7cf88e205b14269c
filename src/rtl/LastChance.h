// Failures that reach none of the program's handlers: an exception in a
// thread the program did not start (a library's, the thread pool's), a C++
// exception nobody caught, abort(), a pure virtual call. Each is handed to
// the outermost handler as if it had been raised there, so it is shown,
// reported and ends the process like every other unhandled failure.
#pragma once
#include "rtl/Exception.h"

namespace rtl {

// A C++ exception that escaped every handler, or std::terminate called.
class EUncaughtException : public Exception {
    RTL_EXCEPTION_CLASS(EUncaughtException)
    using Exception::Exception;
};

// abort() called.
class EAbortCalled : public Exception {
    RTL_EXCEPTION_CLASS(EAbortCalled)
    using Exception::Exception;
};

// Installs the process-wide last-chance filter and the C and C++ runtimes'
// fatal-error handlers (once; later calls do nothing). The C runtime
// (msvcrt.dll) answers an invalid parameter with an error code and goes
// on, so there is no fatal path of its own to catch there.
void InstallLastChanceHandlers();
// Gives the filter and handlers that were there before back.
void RemoveLastChanceHandlers();

// Hands `obj` to the outermost handler as an unhandled exception raised at
// `address` from the calling function; never returns.
[[noreturn]] void FailFatally(Exception* obj, void* address);

}  // namespace rtl
