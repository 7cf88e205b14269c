// The crash report filter (the name is historical: this has nothing to do
// with the runtime's EExternal exception classes). Registered for every
// Exception descendant, it runs before the default filter: it adds a
// source-location line to the custom information, copies that line to the
// debugger output, and for an unhandled exception records the whole story in
// the event log, writes a crash report into the diagnostic folder, starts the
// maker's diagnostics program on it (or names the report in a message box),
// switches the exception manager off and ends the application. It stops the
// filter chain, so the default error dialog is not shown and the manager ends
// the process.
#pragma once
#include "crash/ZudAvizi.h"

namespace crash {

class TNewDialogFilter : public TZudAviziFilterBase {
public:
    BOOL __stdcall ShowException(rtl::Exception* exceptionObject, const wchar_t* title, const wchar_t* exceptionMessage,
                                 rtl::TStringList* callStack, rtl::TStringList* registers,
                                 rtl::TStringList* customInfo) override;
    BOOL __stdcall LogException(rtl::Exception* exceptionObject, wchar_t* buffer, int32_t bufferSize,
                                rtl::TStringList* callStack, rtl::TStringList* registers,
                                rtl::TStringList* customInfo) override;
    BOOL __stdcall ExceptionMessage(rtl::Exception* exceptionObject, TExceptionMessageInfo* messageInfo,
                                    wchar_t* buffer, int32_t bufferSize, rtl::TStringList* customInfo) override;
};

// Start-up step (the exception manager must exist): points the manager's
// error log at <diagnostic folder><program name>.errlog, makes sure the
// folder exists, and registers the filter for Exception and descendants.
// Without a manager it does nothing.
void StartupCrashReportFilter();
// Shutdown step: unregisters the filter and drops it.
void ShutdownCrashReportFilter();

// The registered filter (null before start-up and after shutdown).
IZudAviziFilter* CrashReportFilter();

}  // namespace crash
