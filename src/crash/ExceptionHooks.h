// The path of an exception through the enabled manager: the routines the
// code patches lead to, the per-thread record of the last dispatched
// exception, message composition through the filters, the register dump,
// the log and show steps and the termination path.
#pragma once
#include <string>

#include "crash/ThreadSlots.h"
#include "crash/ZudAvizi.h"

namespace crash {

// Hooks standing for the runtime routines (same calling conventions).
int __stdcall ExcErrorMessage(rtl::Exception* exceptObject, void* exceptAddr, wchar_t* buffer, int size);
void __stdcall ExcShowException(rtl::Exception* exceptObject, void* exceptAddr);
__attribute__((thiscall)) void ExcAppShowException(void* application, rtl::Exception* e);

// Fills the manager's call stack, its text and the register dump for the
// calling thread's recorded exception.
void GatherDiagnostics(TZudAvizi& m);
void RunLogFilters(TZudAvizi& m, rtl::Exception* exceptObject, wchar_t* buffer, int length);
// The register dump of `ctx` (main and failing thread ids, registers, code
// bytes at EIP, 20 stack words). The failing thread is `threadId`, or the
// calling one when it is 0.
void DumpRegisters(const CONTEXT& ctx, rtl::TStringList& dest, const TStackSnapshot* stack = nullptr,
                   DWORD threadId = 0);
// The command line of the AeDebug debugger: each "%ld" or "%d" of the
// value, in order, takes the process id and then the event handle in
// decimal; nothing else of the value is interpreted.
std::wstring DebuggerCommandLine(const std::wstring& debugger, DWORD processId, HANDLE event);
// Starts the debugger named by the AeDebug key; true when it signalled its
// attach within the time allowed.
bool StartSystemDebugger();

// The line that opens every error-log entry: 27 hyphens, the local date and
// time, 27 hyphens, CR LF.
std::wstring ErrorLogHeaderLine();
// Appends `text` (converted to the ANSI code page) to the error log.
void AppendToErrorLog(const std::wstring& path, const std::wstring& text);

}  // namespace crash

// Machine-code stubs (HookStubs.S) and the entry points they call.
extern "C" {
void crash_EntryStub();
void crash_EndStub();
void crash_RaiseStub();
void crash_CppHandlerStub();
void __stdcall crash_ExcNotify(CONTEXT* context, EXCEPTION_RECORD* record);
BOOL __stdcall crash_ExcRaiseNotify(rtl::Exception* e, crash::TPushedRegisters* regs);
void crash_ExcDoneNotify();
}
