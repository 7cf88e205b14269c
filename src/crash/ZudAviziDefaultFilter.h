// The last-resort filter every manager registers first (so it runs last):
// composes the one-paragraph message, appends the error-log entry, and
// shows the error dialog (GUI programs) or writes the report to standard
// output (console programs).
#pragma once
#include "crash/ZudAvizi.h"

namespace crash {

class TDefaultZudAviziFilter : public TZudAviziFilterBase {
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

IZudAviziFilter* NewDefaultZudAviziFilter();

// The message of an exception in the short or (with excDlgLocation) long
// format, cut so that it fits `bufferSize` characters with its terminator.
void ComposeExceptionMessage(const rtl::Exception* exceptionObject, const TExceptionMessageInfo& info,
                             TZudAviziOptions options, wchar_t* buffer, int32_t bufferSize);
// The error-log entry after its header line.
std::wstring ErrorLogEntryBody(const std::wstring& message, const rtl::TStringList* callStack,
                               const rtl::TStringList* registers, const rtl::TStringList* customInfo);

}  // namespace crash
