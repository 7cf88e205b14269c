#include "crash/ExternalExceptionHandler.h"

#include <shlobj.h>

#include <atomic>

#include "crash/CrashReport.h"
#include "crash/CrashReportFormat.h"
#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/Forms.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace crash {

namespace {

TFilterRef gFilter;

// Set when the first crash report starts and never cleared: a failure while
// a report is being made (or any later one) must not start another report.
std::atomic<bool> gReportInProgress{false};

std::wstring ListText(const rtl::TStringList* list) { return list ? list->Text() : std::wstring(); }

std::wstring ApplicationTitle() { return rtl::Application ? rtl::Application->Title() : std::wstring(); }

// Writes the report into the diagnostic folder and starts the diagnostics
// program on it; when that cannot be started, tells the user where the
// report is. A report that cannot be written raises (and nothing is started).
void WriteReportAndLaunch(const std::wstring& crashId, const std::wstring& message, const std::wstring& detailText,
                          const std::wstring& logText, const TExceptionRecord& record, const CONTEXT& context) {
    const std::wstring reportPath = env::GetDebugLogFileName(L"scripterror");
    const std::wstring title = ApplicationTitle();
    SaveUtf8Lines(reportPath, CrashReportLines({title, crashId, ProgramFileName(), env::GetProgramVersionText(),
                                                message, detailText, logText,
                                                ClosingSections(reportPath, record, context)}));
    if (LaunchDiagView(reportPath)) return;
    const std::wstring reason = rtl::SysErrorMessage(GetLastError());
    MessageBoxW(nullptr, FatalErrorText(title, reason, reportPath).c_str(), L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace

BOOL __stdcall TNewDialogFilter::ExceptionMessage(rtl::Exception* exceptionObject, TExceptionMessageInfo* messageInfo,
                                                  wchar_t* buffer, int32_t bufferSize, rtl::TStringList* customInfo) {
    if (!messageInfo) return TRUE;
    if (customInfo) {
        customInfo->Clear();
        customInfo->Add(CustomInfoLine(*messageInfo));
    }
    const std::wstring className = exceptionObject ? exceptionObject->ClassName() : std::wstring();
    rtl::CopyToBuffer(LocationMessage(className, *messageInfo), buffer, bufferSize);
    return TRUE;
}

BOOL __stdcall TNewDialogFilter::LogException(rtl::Exception*, wchar_t*, int32_t, rtl::TStringList*,
                                              rtl::TStringList*, rtl::TStringList* customInfo) {
    // The error-log entry itself is written by the default filter, which runs next.
    if (customInfo && customInfo->Count() > 0) OutputDebugStringW((*customInfo)[0].c_str());
    return TRUE;
}

BOOL __stdcall TNewDialogFilter::ShowException(rtl::Exception* exceptionObject, const wchar_t*,
                                               const wchar_t* exceptionMessage, rtl::TStringList* callStack,
                                               rtl::TStringList* registers, rtl::TStringList* customInfo) {
    TZudAvizi* manager = ZudAvizi();
    // Taken first: an exception raised (and handled) while the report is
    // made overwrites the thread's record.
    const TExceptionRecord record = manager ? manager->ExceptionRec() : TExceptionRecord{};
    const CONTEXT context = manager ? manager->ExceptionContext() : CONTEXT{};
    const uint32_t address = manager ? ExceptionAddressOf(record) : 0;
    const std::wstring className = exceptionObject ? exceptionObject->ClassName() : std::wstring();
    const std::wstring message = exceptionMessage ? exceptionMessage : L"";

    // Our program has no XML layer, so there are no parse errors to detail.
    rtl::TStringList detail;
    rtl::TStringList system;
    if (customInfo)
        for (const std::wstring& line : customInfo->Lines()) system.Add(line);
    system.Add(L"");
    system.Add(report::cControlsHeading);
    system.Add(report::cControlsUnderline);
    DumpForms(system);
    AddSystemInfo(system);
    AddDriveInfo(system);
    AddMemoryInfo(system);

    const std::wstring callStackText = ListText(callStack);
    const std::wstring registersText = ListText(registers);
    const std::wstring customInfoText = ListText(customInfo);
    const std::wstring systemText = system.Text();
    WriteEventLog(ProgramFileName(), EventText(message, detail.Text(), callStackText, registersText, customInfoText,
                                               systemText));

    if (gReportInProgress.exchange(true)) ExitProcess(cCrashDuringReportExitCode);

    WriteReportAndLaunch(CrashId(ProgramFileName(), env::GetProgramVersionText(), address, className), message,
                         detail.Text(), LogText(callStackText, registersText, customInfoText, systemText), record,
                         context);

    if (manager) manager->SetEnabled(false);
    if (rtl::Application) {
        rtl::Application->Terminate();
        rtl::Application->ShowMainForm = false;  // a main window not yet shown stays hidden
    }
    return FALSE;
}

std::wstring ErrorLogFileName(const std::wstring& diagFolder, const std::wstring& programFileName) {
    const size_t dot = programFileName.find_last_of(L'.');
    return diagFolder + programFileName.substr(0, dot) + L".errlog";
}

void StartupCrashReportFilter() {
    TZudAvizi* manager = ZudAvizi();
    if (!manager || gFilter) return;
    const std::wstring folder = env::GetShellFolderPath(CSIDL_APPDATA) + L"Quillfen\\Diag\\";
    manager->SetLogFile(ErrorLogFileName(folder, ProgramFileName()));
    // A folder that cannot be made only costs the log entries later.
    rtl::Try([&] { env::EnsureDirectory(folder); }, rtl::OnAny([](rtl::Exception&) {}));
    gFilter = TFilterRef(new TNewDialogFilter);
    manager->RegisterExceptionFilter(&rtl::Exception::ClassRef, gFilter.Get(), false);
}

void ShutdownCrashReportFilter() {
    if (!gFilter) return;
    if (TZudAvizi* manager = ZudAvizi()) manager->UnRegisterExceptionFilter(gFilter.Get());
    gFilter = TFilterRef();
}

IZudAviziFilter* CrashReportFilter() { return gFilter.Get(); }

}  // namespace crash
