#include "crash/ZudAviziDefaultFilter.h"

#include <cstdio>
#include <cwchar>

#include "crash/ExceptionHooks.h"
#include "crash/ZudAviziDlg.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"

namespace crash {

namespace {

std::wstring TextOf(const rtl::TStringList* list) { return list ? list->Text() : std::wstring(); }

}  // namespace

IZudAviziFilter* NewDefaultZudAviziFilter() { return new TDefaultZudAviziFilter; }

void ComposeExceptionMessage(const rtl::Exception* e, const TExceptionMessageInfo& info, TZudAviziOptions options,
                             wchar_t* buffer, int32_t bufferSize) {
    if (!buffer || bufferSize <= 0) return;
    std::wstring className = e ? e->ClassName() : std::wstring();
    auto address = static_cast<unsigned>(info.miModuleAddress);
    std::wstring text = rtl::Format(L"Exception '%ls' in module %ls at %.8X\r\n%ls", className.c_str(),
                                    info.miModuleName, address, info.miMessage.c_str());
    if (options & excDlgLocation)
        text +=
            rtl::Format(L"\r\n\r\nModule: %ls, Source: %ls, Line %ls\r\nProcedure: %ls",
                        rtl::ExtractFileName(info.miSrcModule).c_str(), rtl::ExtractFileName(info.miSrcFile).c_str(),
                        info.miSrcLine.c_str(), info.miSrcProc.c_str());
    rtl::CopyToBuffer(text, buffer, bufferSize);
}

std::wstring ErrorLogEntryBody(const std::wstring& message, const rtl::TStringList* callStack,
                               const rtl::TStringList* registers, const rtl::TStringList* customInfo) {
    std::wstring entry = message + L"\r\n\r\n" + TextOf(callStack) + L"\r\n" + TextOf(registers);
    std::wstring custom = TextOf(customInfo);
    if (!custom.empty()) entry += L"\r\nAdditional info:\r\n" + custom;
    return entry + L"\r\n";
}

BOOL __stdcall TDefaultZudAviziFilter::ExceptionMessage(rtl::Exception* e, TExceptionMessageInfo* info, wchar_t* buffer,
                                                        int32_t bufferSize, rtl::TStringList*) {
    TZudAvizi* m = ZudAvizi();
    if (info) ComposeExceptionMessage(e, *info, m ? m->Options() : cDefaultOptions, buffer, bufferSize);
    return TRUE;
}

BOOL __stdcall TDefaultZudAviziFilter::LogException(rtl::Exception*, wchar_t* buffer, int32_t bufferSize,
                                                    rtl::TStringList* callStack, rtl::TStringList* registers,
                                                    rtl::TStringList* customInfo) {
    TZudAvizi* m = ZudAvizi();
    if (!m || m->LogFile().empty()) return TRUE;
    std::wstring message =
        buffer ? std::wstring(buffer, wcsnlen(buffer, bufferSize > 0 ? bufferSize : 0)) : std::wstring();
    AppendToErrorLog(m->LogFile(), ErrorLogHeaderLine() + ErrorLogEntryBody(message, callStack, registers, customInfo));
    return TRUE;
}

BOOL __stdcall TDefaultZudAviziFilter::ShowException(rtl::Exception*, const wchar_t*, const wchar_t* message,
                                                     rtl::TStringList* callStack, rtl::TStringList* registers,
                                                     rtl::TStringList* customInfo) {
    TZudAvizi* m = ZudAvizi();
    if (!m || !(m->Options() & excShowDialog)) return TRUE;
    std::wstring text = message ? message : L"";
    switch (m->Environment()) {
        case emeDelphiGUI:
        case emeBuilderGUI:
            if (m->DefaultErrorDialog(m->ErrorDialogTitle(), text, callStack, registers, customInfo) ==
                cDlgResultTerminate) {
                if (m->OnTerminate)
                    m->OnTerminate(m->OnTerminateContext);
                else
                    TerminateProcess(GetCurrentProcess(), 0);
            }
            break;
        case emeDelphiCON:
        case emeBuilderCON: {
            std::wstring out = text + L"\r\n\r\n";
            if (m->Options() & excDlgCallStack) out += TextOf(callStack) + L"\r\n";
            if (m->Options() & excDlgRegisters) out += TextOf(registers) + L"\r\n";
            if (m->Options() & excDlgCustomInfo) out += TextOf(customInfo) + L"\r\n";
            std::string bytes = rtl::ToAnsi(out);
            fwrite(bytes.data(), 1, bytes.size(), stdout);
            fflush(stdout);
            break;
        }
        default: break;
    }
    return TRUE;
}

}  // namespace crash
