#include "crash/CrashReport.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "crash/CrashFacts.h"
#include "crash/CrashReportFormat.h"
#include "crash/Minidump.h"
#include "crash/ZudAvizi.h"
#include "env/DiagPaths.h"
#include "rtl/FilePath.h"
#include "rtl/Forms.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"
#include "rtl/Try.h"

namespace crash {

// --- message step ---

std::wstring CustomInfoLine(const TExceptionMessageInfo& info) {
    return rtl::Format(L"%ls (%ls, %ls)", info.miMessage.c_str(), info.miSrcFile.c_str(), info.miSrcLine.c_str());
}

std::wstring LocationMessage(const std::wstring& className, const TExceptionMessageInfo& info) {
    return rtl::Format(
        L"Exception '%ls' in module %ls at %.8X\r\n%ls\r\n\r\nModule: %ls, Source: %ls, Line %ls\r\n"
        L"Procedure: %ls",
        className.c_str(), info.miModuleName, info.miModuleAddress, info.miMessage.c_str(),
        rtl::ExtractFileName(info.miSrcModule).c_str(), rtl::ExtractFileName(info.miSrcFile).c_str(),
        info.miSrcLine.c_str(), info.miSrcProc.c_str());
}

// --- control dump ---

namespace {

std::wstring ControlLine(const rtl::TWinControl& control, const rtl::TWinControl* activeControl,
                         const rtl::TForm* activeForm) {
    std::wstring caption;
    if (HWND wnd = control.Handle(); wnd && IsWindow(wnd)) {
        // Read without sending the window a message: its thread may be the
        // one that is crashing, or hung.
        wchar_t text[260] = {};
        if (InternalGetWindowText(wnd, text, 260) > 0 && text[0]) caption = L" \"" + std::wstring(text) + L"\"";
    }
    std::wstring name = control.Name().empty() ? std::wstring(L"<unnamed>") : control.Name();
    std::wstring state;
    if (&control == activeControl)
        state = L" (ControlActive)";
    else if (activeForm && &control == static_cast<const rtl::TWinControl*>(activeForm))
        state = L" (FormActive)";
    return name + L": " + control.ClassName() + caption + state;
}

}  // namespace

void DumpControl(rtl::TStringList& out, const rtl::TWinControl& control, int level,
                 const rtl::TWinControl* activeControl, const rtl::TForm* activeForm) {
    const std::wstring indent(static_cast<size_t>(level) * 2, L' ');
    rtl::Try([&] { out.Add(indent + ControlLine(control, activeControl, activeForm)); },
             rtl::OnAny([&](rtl::Exception& e) { out.Add(indent + e.Message); }));
    rtl::Try(
        [&] {
            // A copy: describing a child must not depend on the list staying put.
            const std::vector<rtl::TWinControl*> children = control.Controls();
            for (const rtl::TWinControl* child : children)
                if (child) DumpControl(out, *child, level + 1, activeControl, activeForm);
        },
        rtl::OnAny([&](rtl::Exception& e) { out.Add(e.Message); }));
}

void DumpForms(rtl::TStringList& out) {
    rtl::Try(
        [&] {
            if (!rtl::Screen) return;
            const rtl::TWinControl* activeControl = rtl::Screen->ActiveControl();
            const rtl::TForm* activeForm = rtl::Screen->ActiveForm();
            const std::vector<rtl::TForm*> forms = rtl::Screen->Forms();
            for (const rtl::TForm* form : forms)
                if (form) DumpControl(out, *form, 0, activeControl, activeForm);
        },
        rtl::OnAny([](rtl::Exception&) {}));
}

// --- system information ---

void AddSystemInfo(rtl::TStringList& out, const OSVERSIONINFOW& v) {
    out.Add(L"");
    out.Add(report::cSystemInfoHeading);
    out.Add(report::cSystemInfoUnderline);
    out.Add(L"Major Version: " + std::to_wstring(v.dwMajorVersion));
    out.Add(L"Minor Version: " + std::to_wstring(v.dwMinorVersion));
    out.Add(L"Build Number:  " + std::to_wstring(v.dwBuildNumber));
    out.Add(L"Platform ID:   " + std::to_wstring(v.dwPlatformId));
    // The service-pack text need not be terminated within its 128 characters.
    size_t n = 0;
    while (n < 128 && v.szCSDVersion[n]) ++n;
    out.Add(L"CSDVersion:    " + std::wstring(v.szCSDVersion, n));
}

void AddSystemInfo(rtl::TStringList& out) {
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&v);
#pragma GCC diagnostic pop
    AddSystemInfo(out, v);
}

const TDriveQueries& SystemDriveQueries() {
    static const TDriveQueries queries{&GetLogicalDriveStringsW, &GetDriveTypeW, &GetDiskFreeSpaceExW};
    return queries;
}

void AddDriveInfo(rtl::TStringList& out, const TDriveQueries& q) {
    rtl::Try(
        [&] {
            constexpr DWORD cBufferLength = 1024;
            std::vector<wchar_t> buffer(cBufferLength + 1, L'\0');
            const DWORD length = q.LogicalDriveStrings(cBufferLength, buffer.data());
            if (length == 0 || length >= cBufferLength) return;
            // Roots follow one another, each ended by a null; an empty one ends the list.
            for (const wchar_t* root = buffer.data(); root < buffer.data() + length && *root;
                 root += wcslen(root) + 1) {
                if (q.DriveType(root) != DRIVE_FIXED) continue;
                ULARGE_INTEGER quotaFree{}, total{}, totalFree{};
                if (!q.DiskFreeSpace(root, &quotaFree, &total, &totalFree)) continue;
                auto mb = [](const ULARGE_INTEGER& bytes) { return std::to_wstring(bytes.QuadPart / 1024 / 1024); };
                const std::wstring prefix = L"Drive " + std::wstring(root);
                out.Add(prefix + L" QuotaFreeSpace: " + mb(quotaFree) + L"MB");
                out.Add(prefix + L" TotalSpace:     " + mb(total) + L"MB");
                out.Add(prefix + L" TotalFreeSpace: " + mb(totalFree) + L"MB");
            }
        },
        rtl::OnAny([](rtl::Exception&) {}));
}

void AddMemoryInfo(rtl::TStringList& out, const MEMORYSTATUSEX& s) {
    auto mb = [](DWORDLONG bytes) { return std::to_wstring(bytes >> 20) + L"MB"; };
    out.Add(L"Memory Load: " + std::to_wstring(s.dwMemoryLoad));
    out.Add(L"Memory TotalPhysical: " + mb(s.ullTotalPhys));
    out.Add(L"Memory FreePhysical:  " + mb(s.ullAvailPhys));
    out.Add(L"Memory TotalPageFile: " + mb(s.ullTotalPageFile));
    out.Add(L"Memory FreePageFile:  " + mb(s.ullAvailPageFile));
    out.Add(L"Memory TotalVirtual:  " + mb(s.ullTotalVirtual));
    out.Add(L"Memory FreeVirtual:   " + mb(s.ullAvailVirtual));
}

void AddMemoryInfo(rtl::TStringList& out) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    GlobalMemoryStatusEx(&status);
    AddMemoryInfo(out, status);
}

// --- report ---

uint32_t ExceptionAddressOf(const TExceptionRecord& record) {
    constexpr uint32_t cRuntimeMask = 0x0EEDFAC0;
    if ((record.ExceptionCode & cRuntimeMask) == cRuntimeMask) return reinterpret_cast<uintptr_t>(record.ExceptAddr);
    return reinterpret_cast<uintptr_t>(record.ExceptionAddress);
}

std::wstring CrashId(const std::wstring& programFileName, const std::wstring& version, uint32_t address,
                     const std::wstring& className) {
    return programFileName + L"_" + version + L"_" + rtl::IntToHex(address, 8) + L"_" + className;
}

std::wstring LogText(const std::wstring& callStackText, const std::wstring& registersText,
                     const std::wstring& customInfoText, const std::wstring& systemText) {
    return callStackText + L"\r\n" + registersText + L"\r\n" + customInfoText + L"\r\n" + systemText;
}

std::wstring EventText(const std::wstring& message, const std::wstring& detailText, const std::wstring& callStackText,
                       const std::wstring& registersText, const std::wstring& customInfoText,
                       const std::wstring& systemText) {
    return message + detailText + L"\r\n" + LogText(callStackText, registersText, customInfoText, systemText);
}

rtl::TStringList CrashReportLines(const TCrashReportTexts& t) {
    rtl::TStringList lines;
    using namespace report;
    auto key = [&](const wchar_t* name, const std::wstring& value) { lines.Add(name + (L"=" + value)); };
    lines.Add(cSystemSection);
    key(cTitleKey, t.Title);
    key(cCrashIdKey, t.CrashId);
    key(cApplicationKey, t.Application);
    key(cProductIdKey, cProductId);
    key(cVersionKey, t.Version);
    lines.Add(cMessageSection);
    lines.Add(t.Message);
    lines.Add(cDetailSection);
    lines.Add(t.DetailText);
    lines.Add(cLogSection);
    lines.Add(t.LogText);
    for (const std::wstring& line : t.ClosingSections.Lines()) lines.Add(line);
    return lines;
}

void AddMinidumpSection(rtl::TStringList& out, const std::wstring& fileName, const std::wstring& error) {
    using namespace report;
    out.Add(cMinidumpSection);
    if (!fileName.empty())
        out.Add(cMinidumpFileKey + (L"=" + fileName));
    else
        out.Add(cMinidumpErrorKey + (L"=The minidump could not be written. " + error));
}

rtl::TStringList ClosingSections(const std::wstring& reportPath, const TExceptionRecord& record, const CONTEXT& context,
                                 DWORD failingThreadId) {
    rtl::TStringList lines;
    // The facts first: the minidump writer loads a library of its own.
    AddCrashFactSections(lines, GatherCrashFacts(failingThreadId));
    const std::wstring dumpPath = report::MinidumpPathFor(reportPath);
    std::wstring error;
    const bool written = WriteMinidump(dumpPath, record, context, failingThreadId, error);
    AddMinidumpSection(lines, written ? rtl::ExtractFileName(dumpPath) : std::wstring(), error);
    return lines;
}

void SaveUtf8Lines(const std::wstring& path, const rtl::TStringList& lines) {
    std::string bytes = "\xEF\xBB\xBF";
    bytes += rtl::ToUtf8(lines.Text());
    rtl::ScopedFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        rtl::RaiseNew<rtl::EInOutError>(L"Cannot create file \"" + path + L"\". " + rtl::SysErrorMessage(error),
                                        static_cast<int>(error));
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        const DWORD error = GetLastError();
        rtl::RaiseNew<rtl::EInOutError>(L"Cannot write file \"" + path + L"\". " + rtl::SysErrorMessage(error),
                                        static_cast<int>(error));
    }
}

std::wstring ProgramFileName() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return rtl::ExtractFileName(std::wstring(path, n));
}

void WriteEventLog(const std::wstring& source, const std::wstring& text) {
    HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
    const wchar_t* strings[1] = {text.c_str()};
    // The result is not checked: there is nothing left to report a failure to.
    ReportEventW(log, EVENTLOG_ERROR_TYPE, 1, 1, nullptr, 1, 0, strings, nullptr);
    if (log) DeregisterEventSource(log);
}

// --- the diagnostics program ---

std::wstring DiagViewFolder() {
    return env::GetShellFolderPath(CSIDL_PROGRAM_FILES_COMMON) + L"Quillfen\\Orvex Engine 9.0\\";
}

std::wstring DiagViewParameters(const std::wstring& reportPath) { return L"-c \"" + reportPath + L"\""; }

bool LaunchDiagView(const std::wstring& reportPath) {
    const std::wstring folder = DiagViewFolder();
    const std::wstring program = folder + cDiagViewFileName;
    const std::wstring parameters = DiagViewParameters(reportPath);
    SetLastError(ERROR_SUCCESS);
    HINSTANCE result =
        ShellExecuteW(nullptr, L"open", program.c_str(), parameters.c_str(), folder.c_str(), SW_SHOWNORMAL);
    const bool started = reinterpret_cast<INT_PTR>(result) > 32;
    // Some shells report the failure only in the result; keep a reason for the message.
    if (!started && GetLastError() == ERROR_SUCCESS) {
        const INT_PTR code = reinterpret_cast<INT_PTR>(result);
        SetLastError(code == SE_ERR_PNF ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    }
    return started;
}

std::wstring FatalErrorText(const std::wstring& applicationTitle, const std::wstring& systemMessage,
                            const std::wstring& reportPath) {
    std::wstring reason = systemMessage;
    while (!reason.empty() &&
           (reason.back() == L' ' || reason.back() == L'\r' || reason.back() == L'\n' || reason.back() == L'.'))
        reason.pop_back();
    return applicationTitle +
           L" has had a fatal error.  An additional error was encountered starting the exception manager (" + reason +
           L").  " + L"\r\nError log is stored in \r\n\r\n" + L"  " + reportPath + L"\r\n\r\n" +
           L"Please send this information to Quillfen Support (" + cSupportAddress + L")";
}

std::wstring UnsavedReportText(const std::wstring& applicationTitle, const std::wstring& reason,
                               const std::wstring& exceptionMessage) {
    return applicationTitle + L" has had a fatal error, and neither its crash report nor its error log could be " +
           L"saved (" + reason + L").\r\n\r\n" + exceptionMessage + L"\r\n\r\n" +
           L"Please send this information to Quillfen Support (" + cSupportAddress + L")";
}

}  // namespace crash
