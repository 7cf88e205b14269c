#include "crash/ExternalExceptionHandler.h"

#include <shlobj.h>

#include <atomic>

#include "crash/CrashReport.h"
#include "crash/CrashReportFormat.h"
#include "crash/ReportDeadline.h"
#include "crash/ThreadSlots.h"
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

// What became of the report: written or not, and whether the diagnostics
// program was started on it.
struct TReportOutcome {
    std::wstring Failure;     // why the report could not be written; empty when it was
    std::wstring ReportPath;  // set when the diagnostics program could not be started
    std::wstring LaunchError;
};

// The texts a failure is told with.
struct TReportTexts {
    std::wstring Message, CallStack, Registers, CustomInfo, System;
};

// The custom information, the windows and their controls, and the system's
// facts, as one text.
std::wstring SystemText(const rtl::TStringList* customInfo) {
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
    return system.Text();
}

// Writes the report into the diagnostic folder and starts the diagnostics
// program on it. A report that cannot be written raises (and nothing is started).
void WriteReportAndLaunch(const std::wstring& crashId, const TReportTexts& t, const TExceptionRecord& record,
                          const CONTEXT& context, DWORD threadId, TReportOutcome& outcome) {
    const std::wstring reportPath = env::GetDebugLogFileName(L"scripterror");
    SaveUtf8Lines(reportPath, CrashReportLines({ApplicationTitle(), crashId, ProgramFileName(),
                                                env::GetProgramVersionText(), t.Message, std::wstring(),
                                                LogText(t.CallStack, t.Registers, t.CustomInfo, t.System),
                                                ClosingSections(reportPath, record, context, threadId)}));
    if (LaunchDiagView(reportPath)) return;
    outcome.LaunchError = rtl::SysErrorMessage(GetLastError());
    outcome.ReportPath = reportPath;
}

bool FileHasContent(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return !path.empty() && GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0);
}

// The report could not be written: the user learns where the error log
// is, or, when there is none either, what happened.
void ShowUnsavedReport(const std::wstring& reason, const std::wstring& message) {
    TZudAvizi* manager = ZudAvizi();
    const std::wstring log = manager ? manager->LogFile() : std::wstring();
    const std::wstring title = ApplicationTitle();
    const std::wstring text =
        FileHasContent(log) ? FatalErrorText(title, reason, log) : UnsavedReportText(title, reason, message);
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR);
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

BOOL __stdcall TNewDialogFilter::LogException(rtl::Exception*, wchar_t*, int32_t, rtl::TStringList*, rtl::TStringList*,
                                              rtl::TStringList* customInfo) {
    // The error-log entry itself is written by the default filter, which runs next.
    if (customInfo && customInfo->Count() > 0) OutputDebugStringW((*customInfo)[0].c_str());
    return TRUE;
}

BOOL __stdcall TNewDialogFilter::ShowException(rtl::Exception* exceptionObject, const wchar_t*,
                                               const wchar_t* exceptionMessage, rtl::TStringList* callStack,
                                               rtl::TStringList* registers, rtl::TStringList* customInfo) {
    TZudAvizi* manager = ZudAvizi();
    // The failure's own record: frozen while it is reported.
    const TExceptionRecord record = manager ? manager->ExceptionRec() : TExceptionRecord{};
    const CONTEXT context = manager ? manager->ExceptionContext() : CONTEXT{};
    const uint32_t address = manager ? ExceptionAddressOf(record) : 0;
    const DWORD failingThread = ReportedException().ThreadId ? ReportedException().ThreadId : GetCurrentThreadId();
    const std::wstring className = exceptionObject ? exceptionObject->ClassName() : std::wstring();
    const std::wstring message = exceptionMessage ? exceptionMessage : L"";

    TReportOutcome outcome;
    {
        // The steps that need no user: a hang in any of them ends the process.
        TReportDeadline deadline(cReportStepsLimitMs);
        const TReportTexts texts{message, ListText(callStack), ListText(registers), ListText(customInfo),
                                 SystemText(customInfo)};
        // Our program has no XML layer, so there are no parse errors to detail.
        const std::wstring detail;
        WriteEventLog(ProgramFileName(),
                      EventText(message, detail, texts.CallStack, texts.Registers, texts.CustomInfo, texts.System));
        if (gReportInProgress.exchange(true)) ExitProcess(cCrashDuringReportExitCode);
        const std::wstring crashId = CrashId(ProgramFileName(), env::GetProgramVersionText(), address, className);
        rtl::Try(
            [&] { WriteReportAndLaunch(crashId, texts, record, context, failingThread, outcome); },
            rtl::OnAny([&](rtl::Exception& e) { outcome.Failure = e.Message.empty() ? e.ClassName() : e.Message; }));
    }
    if (!outcome.Failure.empty()) {
        ShowUnsavedReport(outcome.Failure, message);
        ExitProcess(cCrashDuringReportExitCode);
    }
    if (!outcome.ReportPath.empty())
        MessageBoxW(nullptr, FatalErrorText(ApplicationTitle(), outcome.LaunchError, outcome.ReportPath).c_str(),
                    L"Error", MB_OK | MB_ICONERROR);

    if (manager) manager->SetEnabled(false);
    if (rtl::Application) {
        rtl::Application->Terminate();
        rtl::Application->ShowMainForm = false;  // a main window not yet shown stays hidden
    }
    return FALSE;
}

void StartupCrashReportFilter() {
    TZudAvizi* manager = ZudAvizi();
    if (!manager || gFilter) return;
    const std::wstring folder = env::GetShellFolderPath(CSIDL_APPDATA) + L"Quillfen\\Diag\\";
    manager->SetLogFile(env::ErrorLogFileName(folder, ProgramFileName()));
    // A folder that cannot be made only costs the log entries later.
    rtl::Try([&] { env::EnsureDirectory(folder); }, rtl::OnAny([](rtl::Exception&) {}));
    StartReportWatchdog();
    gFilter = TFilterRef::Share(new TNewDialogFilter);
    manager->RegisterExceptionFilter(&rtl::Exception::ClassRef, gFilter.Get(), false);
}

void ShutdownCrashReportFilter() {
    if (!gFilter) return;
    if (TZudAvizi* manager = ZudAvizi()) manager->UnRegisterExceptionFilter(gFilter.Get());
    gFilter.Reset();
}

IZudAviziFilter* CrashReportFilter() { return gFilter.Get(); }

}  // namespace crash
