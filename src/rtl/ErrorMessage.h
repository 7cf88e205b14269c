// The runtime's standard message of an exception and its last-chance
// display. Both are replaced in memory by the exception manager while it is
// enabled, so they keep these exact signatures (stdcall) and are never
// inlined or specialised by the compiler.
#pragma once
#include "rtl/Exception.h"

extern "C" {

// Writes "Exception <class> in module <module> at <address>.\r\n<message>"
// into `buffer` (at most size - 1 characters plus the terminator) and
// answers the number of characters written.
int __stdcall rtl_ErrorMessage(rtl::Exception* obj, void* address, wchar_t* buffer, int size);

// Shows an exception that nobody handled: a message box titled "Error" in a
// GUI program, the message on standard error in a console program.
void __stdcall rtl_ShowError(rtl::Exception* obj, void* address);

// Stops the program with runtime error `code` ("Runtime error 216 at
// 0040A1B2") and exit code `code`.
[[noreturn]] void rtl_RunError(int code, void* address);
}

namespace rtl {

// Whether the program runs in the console subsystem (else GUI).
bool IsConsoleProgram();

}  // namespace rtl
