// Failures that reach none of the program's handlers: an exception in a
// thread the program did not start (a library's, the thread pool's), a C++
// exception nobody caught, abort(), a pure virtual call, an invalid
// parameter passed to the C runtime. Each is handed to the outermost
// handler as if it had been raised there, so it is shown, reported and
// ends the process like every other unhandled failure.
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

// An invalid parameter passed to a C runtime function.
class EInvalidParameter : public Exception {
    RTL_EXCEPTION_CLASS(EInvalidParameter)
    using Exception::Exception;
};

// Installs the process-wide last-chance filter and the C and C++ runtimes'
// fatal-error handlers (once; later calls do nothing).
void InstallLastChanceHandlers();
// Gives the filter and handlers that were there before back.
void RemoveLastChanceHandlers();

// Hands `obj` to the outermost handler as an unhandled exception raised at
// `address` from the calling function; never returns.
[[noreturn]] void FailFatally(Exception* obj, void* address);

// The text for a C++ exception that escaped (or for std::terminate called
// without one).
std::wstring UncaughtExceptionText();

}  // namespace rtl
