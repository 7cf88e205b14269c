// Real crashes in child processes with the exception manager armed and the
// crash report filter registered: the report file, the error log, the
// event-log text, the start of the diagnostics program (a recording stand-in
// takes its place), the fallback message box when it is missing, and the
// exit code 200 with the error log named when the report cannot be written. Then the real
// diagnostics program, installed by the test set-up, showing reports.
#include <gtest/gtest.h>

#include <shlobj.h>
// After the system headers shlobj.h brings.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "crash/CrashReport.h"
#include "crash/CrashReportFormat.h"
#include "crash/ExternalExceptionHandler.h"
#include "crash/ReportDeadline.h"
#include "crash/ZudAvizi.h"
#include "diagview/CrashReportFile.h"
#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/FilePath.h"
#include "rtl/Forms.h"
#include "rtl/Halt.h"
#include "rtl/Raise.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

namespace {

using namespace crash;

constexpr wchar_t cChildTitle[] = L"Report Child";
constexpr DWORD cRuntimeExceptionCode = 0x0EEDFADE;

// --- the child ---

class TChildForm : public rtl::TForm {
public:
    explicit TChildForm(rtl::TComponent* owner) : rtl::TForm(owner, L"Child Main", 320, 200) {}

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == WM_USER) rtl::RaiseNew<rtl::EConvertError>(L"'abc' is not a valid integer value");
        if (msg == WM_USER + 1) {
            volatile int* volatile address = reinterpret_cast<int*>(0x10);
            (void)*address;
        }
        return rtl::TForm::WndProc(msg, wp, lp);
    }
};

SYSTEMTIME AddSeconds(const SYSTEMTIME& t, int seconds) {
    FILETIME ft;
    SystemTimeToFileTime(&t, &ft);
    ULARGE_INTEGER v{{ft.dwLowDateTime, ft.dwHighDateTime}};
    v.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds) * 10000000LL);
    ft = {v.LowPart, v.HighPart};
    SYSTEMTIME out;
    FileTimeToSystemTime(&ft, &out);
    return out;
}

// Holds every report name (or every minidump name) this process could use
// in the next seconds, so that writing that file fails.
void HoldReportNames(bool minidumps = false) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    for (int s = -1; s <= 20; ++s) {
        std::wstring name = env::FormatDebugLogFileName(env::GetDiagFolder(), L"scripterror", GetCurrentProcessId(),
                                                        AddSeconds(now, s));
        if (minidumps) name = crash::report::MinidumpPathFor(name);
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);  // kept open
    }
}

// The names a child held stay behind, empty (a report or minidump that was
// written never is), and so does a minidump written beside a report name
// that was held; left there, they would pile up in the folder the main
// window lists.
void DeleteHeldNames() {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((env::GetDiagFolder() + L"scripterror-*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        if (found.nFileSizeLow != 0 || found.nFileSizeHigh != 0) continue;
        const std::wstring held = env::GetDiagFolder() + found.cFileName;
        DeleteFileW(held.c_str());
        if (held.ends_with(L".log")) DeleteFileW(crash::report::MinidumpPathFor(held).c_str());
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

DWORD WINAPI Idle(void*) {
    Sleep(INFINITE);
    return 0;
}

std::wstring ChildFactsPath(DWORD pid) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"report-child-" + std::to_wstring(pid) + L".txt";
}

// What the child knows of itself before it crashes, for the test to hold the
// report against: "main <id>", "idle <id>" and "module <base> <size> <path>"
// lines, the modules from the system's module list (not the snapshot the
// report is made from).
void WriteChildFacts(DWORD idleThreadId) {
    std::string text = rtl::ToUtf8(rtl::Format(L"main %.8X\nidle %.8X\n", GetCurrentThreadId(), idleThreadId));
    HMODULE modules[512];
    DWORD needed = 0;
    EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &needed);
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
        MODULEINFO info{};
        wchar_t path[MAX_PATH + 1] = {};
        GetModuleInformation(GetCurrentProcess(), modules[i], &info, sizeof(info));
        GetModuleFileNameExW(GetCurrentProcess(), modules[i], path, MAX_PATH);
        text += rtl::ToUtf8(rtl::Format(L"module %.8X %.8X %ls\n", reinterpret_cast<uintptr_t>(info.lpBaseOfDll),
                                        info.SizeOfImage, path));
    }
    rtl::ScopedFileHandle file(CreateFileW(ChildFactsPath(GetCurrentProcessId()).c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// The program's start-up as it matters here, a main form with controls and a
// second form, and an exception raised in the main form's message handler.
int RunChild(const std::string& scenario) {
    if (scenario.rfind("deadline-", 0) == 0) {
        // deadline-<limit ms>-<ms the step takes>, then a second more.
        unsigned limit = 0, step = 0;
        std::sscanf(scenario.c_str(), "deadline-%u-%u", &limit, &step);
        StartReportWatchdog();
        {
            TReportDeadline deadline(limit);
            Sleep(step);
        }
        Sleep(limit + 1000);
        return 0;
    }
    return rtl::RunGuarded([&]() -> int {
        rtl::FormsStartup();
        env::InitVersionInfo();
        TZudAviziSystemAddresses table{};
        rtl::FillSystemAddresses(table);
        auto* manager = new TZudAvizi(emeDelphiGUI, table);
        SetZudAvizi(manager);
        manager->SetEnabled(true);
        StartupCrashReportFilter();

        rtl::Application->Initialize();
        rtl::Application->SetTitle(cChildTitle);
        auto* form = new TChildForm(rtl::Application);
        form->SetName(L"ChildMainForm");
        (new rtl::TButton(form, L"Crash", 10, 10, 80, 24))->SetName(L"CrashButton");
        (new rtl::TEdit(form, L"", 10, 40, 120, 22))->SetName(L"AmountEdit");
        (new rtl::TForm(rtl::Application, L"Tools", 200, 100))->SetName(L"ToolsForm");
        rtl::Application->CreateForm(form);
        if (scenario == "reentry") {
            // Outside the message loop, so that the second exception travels
            // from the filter to the runtime's outermost handler.
            HoldReportNames();
            rtl::RaiseNew<rtl::EConvertError>(L"'abc' is not a valid integer value");
        }
        if (scenario == "minidump-held") HoldReportNames(true);
        if (scenario == "fault") {
            DWORD idleThreadId = 0;
            CloseHandle(CreateThread(nullptr, 0, &Idle, nullptr, 0, &idleThreadId));
            WriteChildFacts(idleThreadId);
        }
        PostMessageW(form->Handle(), scenario == "fault" ? WM_USER + 1 : WM_USER, 0, 0);
        rtl::Application->Run();
        return 0;  // only when the crash did not end the process
    });
}

// --- helpers of the tests ---

std::wstring ThisExe() { return testutil::ExeFolder() + L"crash_report_tests.exe"; }

std::wstring InstalledDiagView() { return DiagViewFolder() + cDiagViewFileName; }

// Swaps the installed diagnostics program for the recording stand-in, or
// takes it away, for the life of the object.
class TDiagViewSwap {
public:
    enum TKind { kRecorder, kMissing };
    explicit TDiagViewSwap(TKind kind) : FSaved(InstalledDiagView() + L".saved") {
        DeleteFileW(Calls().c_str());
        FMoved = MoveFileExW(InstalledDiagView().c_str(), FSaved.c_str(), MOVEFILE_REPLACE_EXISTING);
        if (kind == kRecorder)
            CopyFileW((testutil::ExeFolder() + L"report_recorder.exe").c_str(), InstalledDiagView().c_str(), FALSE);
    }
    ~TDiagViewSwap() {
        DeleteFileW(InstalledDiagView().c_str());
        if (FMoved) MoveFileExW(FSaved.c_str(), InstalledDiagView().c_str(), MOVEFILE_REPLACE_EXISTING);
        DeleteFileW(Calls().c_str());
    }
    static std::wstring Calls() { return DiagViewFolder() + L"diagview-calls.txt"; }
    // The stand-in's record once it appears (it runs on after the crash).
    static std::string WaitForCalls(DWORD timeoutMs = 30000) {
        for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
            std::string calls = testutil::ReadFileBytes(Calls());
            if (calls.find("\r\n", calls.find("\r\n") + 2) != std::string::npos) return calls;
            Sleep(100);
        }
        return testutil::ReadFileBytes(Calls());
    }

private:
    std::wstring FSaved;
    bool FMoved = false;
};

// A child started without waiting for it.
class TChildProcess {
public:
    explicit TChildProcess(const std::wstring& commandLine) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
        cmd.push_back(0);
        FStarted = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &FInfo);
    }
    ~TChildProcess() {
        if (!FStarted) return;
        if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(FInfo.hProcess, 9999);
        CloseHandle(FInfo.hThread);
        CloseHandle(FInfo.hProcess);
    }
    bool Started() const { return FStarted; }
    DWORD Id() const { return FInfo.dwProcessId; }
    DWORD Wait(DWORD timeoutMs = 60000) {
        DWORD code = ~0u;
        if (WaitForSingleObject(FInfo.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(FInfo.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION FInfo{};
    BOOL FStarted = FALSE;
};

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string ReportPathFromCalls(const std::string& calls) {
    const size_t c = calls.find(" -c \"");
    if (c == std::string::npos) return {};
    const size_t end = calls.find('"', c + 5);
    return calls.substr(c + 5, end - (c + 5));
}

// Wine prints the insertion strings of ReportEventW on its "eventlog" debug
// channel, on the Unix standard error of the process. A Windows pipe does not
// receive that stream, so the child runs under /bin/sh with the stream sent
// to a file; the shell also records Wine's exit status (the low byte of the
// exit code) when the child has ended. The same way runs LLVM's tools on a
// minidump.
using UnixFileNameFn = char*(CDECL*)(const wchar_t*);

std::string UnixPath(const std::wstring& dosPath) {
    static auto fn = rtl::BindProc<UnixFileNameFn>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (!fn) return {};
    char* path = fn(dosPath.c_str());
    if (!path) return {};
    std::string result(path);
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

struct TShellRun {
    int Status = -1;
    std::string Output;  // standard output and error
};

// Runs `command` under /bin/sh and waits for it (at most two minutes).
TShellRun RunShell(const std::string& command, const testutil::TempDir& dir, const std::string& name) {
    TShellRun run;
    const std::wstring out = dir.Path() + L"output-" + rtl::FromAnsi(name) + L".txt";
    const std::wstring status = dir.Path() + L"status-" + rtl::FromAnsi(name) + L".txt";
    const std::string script = command + " >'" + UnixPath(out) + "' 2>&1; echo $? >'" + UnixPath(status) +
                               ".tmp'; mv '" + UnixPath(status) + ".tmp' '" + UnixPath(status) + "'";
    std::wstring cmd = L"/bin/sh -c \"" + rtl::FromAnsi(script) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(L"Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return run;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The handle of a Unix process does not wait for it: wait for the status file.
    for (int i = 0; i < 1200 && GetFileAttributesW(status.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    const std::string text = testutil::ReadFileBytes(status);
    if (!text.empty()) run.Status = std::atoi(text.c_str());
    run.Output = testutil::ReadFileBytes(out);
    return run;
}

TShellRun RunChildWithEventLogChannel(const std::string& scenario, const testutil::TempDir& dir) {
    return RunShell("WINEDEBUG=err+eventlog wine '" + UnixPath(ThisExe()) + "' --child=" + scenario, dir, scenario);
}

std::vector<std::string> EventEntries(const std::string& stderrText) {
    std::vector<std::string> entries;
    const std::string marker = "err:eventlog:ReportEventW L\"";
    for (size_t pos = stderrText.find(marker); pos != std::string::npos; pos = stderrText.find(marker, pos + 1))
        entries.push_back(stderrText.substr(pos + marker.size(), stderrText.find('\n', pos) - pos - marker.size()));
    return entries;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// --- tests ---

TEST(ReportSetUp, TheDiagnosticsProgramIsInstalledWhereTheFilterStartsIt) {
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(InstalledDiagView().c_str()))
        << "run scripts/install-diagview.sh <build dir> <diagview.exe> (the CTest fixture does)";
}

TEST(ReportChild, ACrashWritesTheReportLogAndStartsTheDiagnosticsProgram) {
    TDiagViewSwap swap(TDiagViewSwap::kRecorder);
    const std::wstring errorLog = env::GetDiagFolder() + L"crash_report_tests.errlog";
    DeleteFileW(errorLog.c_str());
    TChildProcess child(L"\"" + ThisExe() + L"\" --child=crash");
    ASSERT_TRUE(child.Started());
    // Ended by the termination path with the exception code.
    EXPECT_EQ(cRuntimeExceptionCode, child.Wait());

    // The diagnostics program was started with -c and the quoted report path,
    // in its own folder.
    const std::string calls = TDiagViewSwap::WaitForCalls();
    const std::vector<std::string> call = SplitCrLf(calls);
    ASSERT_EQ(2u, call.size()) << calls;
    const std::string reportPath = ReportPathFromCalls(call[0]);
    const std::string prefix = rtl::ToUtf8(env::GetDiagFolder()) + "scripterror-" + std::to_string(child.Id()) + "-";
    EXPECT_EQ(prefix, reportPath.substr(0, prefix.size())) << call[0];
    EXPECT_EQ(" -c \"" + reportPath + "\"", call[0].substr(call[0].size() - reportPath.size() - 6)) << call[0];
    std::string folder = rtl::ToUtf8(DiagViewFolder());
    EXPECT_EQ(folder.substr(0, folder.size() - 1),
              call[1].back() == '\\' ? call[1].substr(0, call[1].size() - 1) : call[1]);

    // The report: BOM, CR LF, sections in order, five keys, the CrashID layout.
    const std::string report = testutil::ReadFileBytes(rtl::FromUtf8(reportPath));
    ASSERT_EQ("\xEF\xBB\xBF", report.substr(0, 3));
    for (size_t i = report.find('\n'); i != std::string::npos; i = report.find('\n', i + 1))
        ASSERT_EQ('\r', report[i - 1]) << "bare LF at " << i;
    const std::vector<std::string> lines = SplitCrLf(report.substr(3));
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ("[System]", lines[0]);
    EXPECT_EQ("Title=Report Child", lines[1]);
    EXPECT_EQ("CrashID=crash_report_tests.exe_0.0.0.0_", lines[2].substr(0, 39));
    EXPECT_EQ(8u + 14u, lines[2].size() - 39);  // eight hex digits, "_EConvertError"
    EXPECT_EQ("_EConvertError", lines[2].substr(47));
    EXPECT_EQ("Application=crash_report_tests.exe", lines[3]);
    EXPECT_EQ("ProductID=1", lines[4]);
    EXPECT_EQ("Version=0.0.0.0", lines[5]);
    EXPECT_EQ("[Message]", lines[6]);
    EXPECT_EQ("Exception 'EConvertError' in module crash_report_tests.exe at ", lines[7].substr(0, 62));
    EXPECT_EQ("'abc' is not a valid integer value", lines[8]);
    size_t detail = 0, log = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "[Detail]" && !detail) detail = i;
        if (lines[i] == "[Log]" && !log) log = i;
    }
    ASSERT_GT(detail, 8u);
    EXPECT_EQ(detail + 2, log);
    EXPECT_EQ("", lines[detail + 1]);  // no detail: one empty line
    // The log ends as it always did; the closing sections follow it.
    const size_t logStart = report.find("[Log]\r\n") + 7;
    const std::string logText = report.substr(logStart, report.find("\r\n[Time]\r\n", logStart) + 2 - logStart);
    const size_t regs = logText.find("Main Thread ID = ");
    const size_t custom = logText.find("'abc' is not a valid integer value (");
    const size_t controls = logText.find("\r\nCONTROLS\r\n========\r\n");
    const size_t sysInfo = logText.find("\r\nSYSTEM INFO\r\n===========\r\n");
    ASSERT_NE(std::string::npos, regs) << logText;
    EXPECT_LT(regs, custom);
    EXPECT_LT(custom, controls);
    EXPECT_LT(controls, sysInfo);
    EXPECT_NE(std::string::npos, sysInfo);
    // The open forms and their controls, in creation order.
    EXPECT_TRUE(Contains(logText, "========\r\nChildMainForm: TForm \"Child Main\"")) << logText;
    EXPECT_TRUE(Contains(logText, "\r\n  CrashButton: TButton \"Crash\"\r\n  AmountEdit: TEdit"));
    EXPECT_TRUE(Contains(logText, "\r\nToolsForm: TForm \"Tools\"\r\n\r\nSYSTEM INFO"));
    EXPECT_TRUE(Contains(logText, "\r\nMinor Version: "));
    EXPECT_TRUE(Contains(logText, "\r\nDrive C:\\ TotalSpace:     "));
    EXPECT_TRUE(Contains(logText, "\r\nMemory FreeVirtual:   "));
    EXPECT_EQ("MB\r\n\r\n", logText.substr(logText.size() - 6));

    // The diagnostics program's reader takes the real report apart block by block.
    diagview::TCrashReport read;
    std::wstring error;
    ASSERT_TRUE(diagview::LoadCrashReport(rtl::FromUtf8(reportPath), read, error)) << rtl::ToAnsi(error);
    EXPECT_TRUE(read.Problems.empty()) << rtl::ToAnsi(read.Problems.front());
    EXPECT_EQ(L"crash_report_tests.exe", read.Value(L"Application"));
    const std::string head = lines[7] + "\r\n" + lines[8];
    EXPECT_EQ(rtl::FromUtf8(head), read.Message.substr(0, head.size()));
    EXPECT_EQ(L"Call stack:\r\n", read.CallStack.substr(0, 13));
    EXPECT_EQ(L"Main Thread ID = ", read.Registers.substr(0, 17));
    EXPECT_EQ(L"'abc' is not a valid integer value (", read.CustomInfo.substr(0, 36));
    EXPECT_EQ(L"ChildMainForm: TForm \"Child Main\"", read.Controls.substr(0, 33));
    EXPECT_EQ(L"Major Version: ", read.SystemInfo.substr(0, 15));

    // The default filter wrote the error log named after the program.
    const std::string entry = testutil::ReadFileBytes(errorLog);
    EXPECT_EQ(std::string(27, '-'), entry.substr(0, 27));
    EXPECT_TRUE(Contains(entry, "'abc' is not a valid integer value")) << entry;
    EXPECT_TRUE(Contains(entry, "\r\nAdditional info:\r\n'abc' is not a valid integer value (")) << entry;
    DeleteFileW(rtl::FromUtf8(reportPath).c_str());
    DeleteFileW(crash::report::MinidumpPathFor(rtl::FromUtf8(reportPath)).c_str());
}

std::wstring StampOf(const SYSTEMTIME& t) {
    return rtl::Format(L"%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds);
}

std::vector<std::string> FactLines(const std::string& text, const std::string& kind) {
    std::vector<std::string> values;
    const std::string all = "\n" + text, marker = "\n" + kind + " ";
    for (size_t at = all.find(marker); at != std::string::npos; at = all.find(marker, at + 1)) {
        const size_t start = at + marker.size();
        values.push_back(all.substr(start, all.find('\n', start) - start));
    }
    return values;
}

TEST(ReportChild, ItsClosingSectionsAndMinidumpHoldWhatTheProcessKnewOfItself) {
    using namespace crash::report;
    TDiagViewSwap swap(TDiagViewSwap::kRecorder);
    SYSTEMTIME before, after;
    GetSystemTime(&before);
    const std::wstring commandLine = L"\"" + ThisExe() + L"\" --child=fault";
    TChildProcess child(commandLine);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), child.Wait());
    GetSystemTime(&after);
    const std::wstring reportPath = rtl::FromUtf8(ReportPathFromCalls(TDiagViewSwap::WaitForCalls()));
    const std::string facts = testutil::ReadFileBytes(ChildFactsPath(child.Id()));
    DeleteFileW(ChildFactsPath(child.Id()).c_str());
    diagview::TCrashReport r;
    std::wstring error;
    ASSERT_TRUE(diagview::LoadCrashReport(reportPath, r, error)) << rtl::ToAnsi(error);
    EXPECT_TRUE(r.Problems.empty()) << rtl::ToAnsi(r.Problems.front());

    const std::wstring utc = r.SectionValue(cTimeSection, cUtcKey);
    EXPECT_LE(StampOf(before), utc);
    EXPECT_GE(StampOf(after), utc);
    FILETIME u{}, l{};
    SystemTimeToFileTime(&after, &u);
    FileTimeToLocalFileTime(&u, &l);
    const LONGLONG offset =
        ((LONGLONG(l.dwHighDateTime) << 32 | l.dwLowDateTime) - (LONGLONG(u.dwHighDateTime) << 32 | u.dwLowDateTime)) /
        600000000;
    EXPECT_EQ(rtl::Format(L" UTC%ls%02d:%02d", offset < 0 ? L"-" : L"+", int(std::abs(offset) / 60),
                          int(std::abs(offset) % 60)),
              r.SectionValue(cTimeSection, cLocalKey).substr(23));

    EXPECT_EQ(std::to_wstring(child.Id()), r.SectionValue(cProcessSection, cProcessIdKey));
    EXPECT_EQ(commandLine, r.SectionValue(cProcessSection, cCommandLineKey));
    EXPECT_GT(_wtoi(r.SectionValue(cProcessSection, cWorkingSetKey).c_str()), 0);
    // Wine 8 answers every handle-count query with 0; the report then says it does not know.
    DWORD ownHandles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &ownHandles);
    if (ownHandles == 0)
        EXPECT_EQ(cUnknown, r.SectionValue(cProcessSection, cHandleCountKey));
    else
        EXPECT_GT(_wtoi(r.SectionValue(cProcessSection, cHandleCountKey).c_str()), 0);

    // Every module the system lists, with its base, size and path; system
    // libraries with the version their files carry.
    const diagview::TReportSection* modules = nullptr;
    const diagview::TReportSection* threads = nullptr;
    for (const diagview::TReportSection& section : r.Closing) {
        if (section.Header == cModulesSection) modules = &section;
        if (section.Header == cThreadsSection) threads = &section;
    }
    ASSERT_TRUE(modules && threads);
    const std::vector<std::string> known = FactLines(facts, "module");
    ASSERT_GE(known.size(), 3u) << facts;
    for (const std::string& m : known) {
        const std::wstring baseAndSize = rtl::FromUtf8(m.substr(0, 18)), path = rtl::FromUtf8(m.substr(18));
        auto line = std::find_if(modules->Lines.begin(), modules->Lines.end(), [&](const std::wstring& l) {
            return l.substr(0, 18) == baseAndSize && l.size() > path.size() && l.substr(l.size() - path.size()) == path;
        });
        ASSERT_NE(modules->Lines.end(), line) << m;
        const std::wstring version = line->substr(18, line->size() - 19 - path.size());
        DWORD ignored = 0;
        std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        if (!info.empty() && GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) &&
            VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
            EXPECT_EQ(rtl::Format(L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)),
                      version)
                << m;
        else
            EXPECT_EQ(cNoVersion, version) << m;
    }
    EXPECT_EQ(known.size(), modules->Lines.size());

    // Both threads, the one that failed marked.
    const std::wstring mainThread = rtl::FromUtf8(FactLines(facts, "main").at(0));
    const std::wstring idleThread = rtl::FromUtf8(FactLines(facts, "idle").at(0));
    EXPECT_NE(threads->Lines.end(), std::find(threads->Lines.begin(), threads->Lines.end(), mainThread + cFailingMark));
    EXPECT_NE(threads->Lines.end(), std::find(threads->Lines.begin(), threads->Lines.end(), idleThread));
    EXPECT_EQ(1, std::count_if(threads->Lines.begin(), threads->Lines.end(),
                               [](const std::wstring& l) { return l.find(cFailingMark) != std::wstring::npos; }));

    // The minidump beside the report, read by LLVM's tools: the exception
    // with its code and address on the failing thread.
    const std::wstring dump = MinidumpPathFor(reportPath);
    EXPECT_EQ(rtl::ExtractFileName(dump), r.SectionValue(cMinidumpSection, cMinidumpFileKey));
    const std::wstring crashId = r.Value(cCrashIdKey);
    const unsigned address = std::wcstoul(crashId.substr(crashId.find(L"_0.0.0.0_") + 9, 8).c_str(), nullptr, 16);
    const unsigned thread = std::wcstoul(mainThread.c_str(), nullptr, 16);
    testutil::TempDir dir;
    const TShellRun yaml = RunShell("obj2yaml '" + UnixPath(dump) + "'", dir, "obj2yaml");
    EXPECT_EQ(0, yaml.Status) << yaml.Output;
    const std::string exceptionStream =
        rtl::ToAnsi(rtl::Format(L"  - Type:            Exception\n    Thread ID:       0x%X\n    Exception Record:\n"
                                L"      Exception Code:  0xC0000005\n      Exception Address: 0x%X\n",
                                thread, address));
    EXPECT_TRUE(Contains(yaml.Output, exceptionStream)) << exceptionStream << "\n" << yaml.Output.substr(0, 4000);
    const TShellRun lldb =
        RunShell("lldb-14 --batch -c '" + UnixPath(dump) + "' -o 'thread list' -o 'register read eip'", dir, "lldb");
    EXPECT_EQ(0, lldb.Status) << lldb.Output;
    const std::string failingThread = rtl::ToAnsi(rtl::Format(L": tid = 0x%04x, 0x%08x ", thread, address));
    const std::string stop =
        rtl::ToAnsi(rtl::Format(L"stop reason = Exception 0xc0000005 encountered at address 0x%x", address));
    const size_t current = lldb.Output.find("* thread #");
    ASSERT_NE(std::string::npos, current) << lldb.Output;
    const std::string line = lldb.Output.substr(current, lldb.Output.find('\n', current) - current);
    EXPECT_TRUE(Contains(line, failingThread)) << failingThread << "\n" << lldb.Output;
    EXPECT_TRUE(Contains(line, stop)) << stop << "\n" << lldb.Output;
    DeleteFileW(dump.c_str());
    DeleteFileW(reportPath.c_str());
}

TEST(ReportChild, AMinidumpThatCannotBeWrittenIsNamedInTheReportWithTheReason) {
    TDiagViewSwap swap(TDiagViewSwap::kRecorder);
    TChildProcess child(L"\"" + ThisExe() + L"\" --child=minidump-held");
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(cRuntimeExceptionCode, child.Wait());
    const std::wstring reportPath = rtl::FromUtf8(ReportPathFromCalls(TDiagViewSwap::WaitForCalls()));
    diagview::TCrashReport r;
    std::wstring error;
    ASSERT_TRUE(diagview::LoadCrashReport(reportPath, r, error)) << rtl::ToAnsi(error);
    const std::wstring dump = crash::report::MinidumpPathFor(reportPath);
    EXPECT_EQ(L"", r.SectionValue(crash::report::cMinidumpSection, crash::report::cMinidumpFileKey));
    EXPECT_EQ(L"The minidump could not be written. The file \"" + dump + L"\" cannot be created: " +
                  rtl::SysErrorMessage(ERROR_SHARING_VIOLATION),
              r.SectionValue(crash::report::cMinidumpSection, crash::report::cMinidumpErrorKey));
    EXPECT_EQ(L"'abc' is not a valid integer value", r.Message.substr(r.Message.find(L"\r\n") + 2, 34));
    DeleteHeldNames();
    DeleteFileW(reportPath.c_str());
}

TEST(ReportChild, TheEventTextReachesWinesEventLogChannel) {
    if (UnixPath(ThisExe()).empty()) GTEST_SKIP() << "not running under Wine";
    TDiagViewSwap swap(TDiagViewSwap::kRecorder);
    testutil::TempDir dir;
    const TShellRun run = RunChildWithEventLogChannel("crash", dir);
    EXPECT_EQ(static_cast<int>(cRuntimeExceptionCode & 0xFF), run.Status);
    const std::vector<std::string> entries = EventEntries(run.Output);
    ASSERT_EQ(1u, entries.size()) << run.Output;
    // The event text starts with the message; Wine escapes the line breaks
    // and shortens long strings.
    EXPECT_EQ("Exception 'EConvertError' in module crash_report_tests.exe at ", entries[0].substr(0, 62));
    EXPECT_TRUE(Contains(entries[0], "\\r\\n'abc' is not a valid integer value")) << entries[0];
    const std::string report = ReportPathFromCalls(TDiagViewSwap::WaitForCalls());
    if (!report.empty()) DeleteFileW(rtl::FromUtf8(report).c_str());
    if (!report.empty()) DeleteFileW(crash::report::MinidumpPathFor(rtl::FromUtf8(report)).c_str());
}

TEST(ReportChild, AReportThatCannotBeWrittenEndsWith200AfterTellingWhereTheLogIs) {
    if (UnixPath(ThisExe()).empty()) GTEST_SKIP() << "not running under Wine";
    TDiagViewSwap swap(TDiagViewSwap::kRecorder);
    testutil::TempDir dir;
    // The child runs under the shell: its message box is found by caption.
    std::wstring boxText;
    std::thread closer([&] {
        HWND box = testutil::WaitForTopWindow(0, L"Error", 120000);
        if (!box) return;
        testutil::WaitUntil([&] { return !(boxText = testutil::TextOf(GetDlgItem(box, 0xFFFF))).empty(); }, 30000);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    const TShellRun run = RunChildWithEventLogChannel("reentry", dir);
    closer.join();
    EXPECT_EQ(static_cast<int>(cCrashDuringReportExitCode), run.Status);
    // One failure, one event: nothing raised while reporting replaced it.
    const std::vector<std::string> entries = EventEntries(run.Output);
    ASSERT_EQ(1u, entries.size()) << run.Output;
    EXPECT_EQ("Exception 'EConvertError' in module ", entries[0].substr(0, 36));
    const std::wstring log = env::GetDiagFolder() + L"crash_report_tests.errlog";
    EXPECT_NE(std::wstring::npos, boxText.find(L"Cannot create file")) << rtl::ToAnsi(boxText);
    EXPECT_NE(std::wstring::npos, boxText.find(L"\r\n\r\n  " + log + L"\r\n")) << rtl::ToAnsi(boxText);
    // Nothing was started.
    EXPECT_EQ("", testutil::ReadFileBytes(TDiagViewSwap::Calls()));
    DeleteHeldNames();
}

TEST(ReportChild, AReportStepThatHangsEndsTheProcessWith200) {
    const struct {
        const char* Scenario;
        DWORD ExitCode;
    } cases[] = {{"deadline-300-20000", cCrashDuringReportExitCode}, {"deadline-3000-10", 0}};
    for (const auto& c : cases) {
        const DWORD start = GetTickCount();
        EXPECT_EQ(c.ExitCode, testutil::RunAndWait(L"\"" + ThisExe() + L"\" --child=" + rtl::FromAnsi(c.Scenario)))
            << c.Scenario;
        EXPECT_LT(GetTickCount() - start, 15000u) << c.Scenario;
    }
}

TEST(ReportChild, WithoutTheDiagnosticsProgramAMessageBoxNamesTheReport) {
    TDiagViewSwap swap(TDiagViewSwap::kMissing);
    TChildProcess child(L"\"" + ThisExe() + L"\" --child=crash");
    ASSERT_TRUE(child.Started());
    HWND box = testutil::WaitForTopWindow(child.Id(), L"Error", 60000);
    ASSERT_NE(nullptr, box) << "no message box";
    const std::wstring text = testutil::TextOf(GetDlgItem(box, 0xFFFF));
    const std::wstring marker = L"\r\n\r\n  ";
    const size_t at = text.find(marker);
    ASSERT_NE(std::wstring::npos, at) << rtl::ToAnsi(text);
    const std::wstring path =
        text.substr(at + marker.size(), text.find(L"\r\n", at + marker.size()) - at - marker.size());
    const std::wstring prefix = env::GetDiagFolder() + L"scripterror-" + std::to_wstring(child.Id()) + L"-";
    EXPECT_EQ(prefix, path.substr(0, prefix.size()));
    EXPECT_EQ(prefix.size() + 23, path.size());  // yyyy-mm-dd-hh-nn-ss.log
    EXPECT_EQ(FatalErrorText(cChildTitle, rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND), path), text);
    EXPECT_EQ("[System]\r\n", testutil::ReadFileBytes(path).substr(3, 10));  // the report stays for the user to send
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(cRuntimeExceptionCode, child.Wait());
    DeleteFileW(path.c_str());
    DeleteFileW(crash::report::MinidumpPathFor(path).c_str());
}

// --- the real diagnostics program ---

// Starts the installed diagview.exe with `arguments` and answers the text of
// its report view; closes it and checks that it ends normally.
std::wstring ShowInDiagView(const std::wstring& arguments, std::wstring* caption = nullptr) {
    TChildProcess viewer(L"\"" + InstalledDiagView() + L"\" " + arguments);
    if (!viewer.Started()) return L"<not started>";
    HWND wnd = testutil::WaitForTopWindow(viewer.Id(), L"Crash Report Viewer", 60000);
    if (!wnd) return L"<no window>";
    if (caption) *caption = testutil::TextOf(wnd);
    const std::wstring text = testutil::TextOf(FindWindowExW(wnd, nullptr, L"Edit", nullptr));
    PostMessageW(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, viewer.Wait());
    return text;
}

TEST(DiagViewProgram, ShowsAReportReadably) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"scripterror-7-2024-01-02-03-04-05.log";
    SaveUtf8Lines(path, CrashReportLines({L"Orvex",
                                          L"orvex.exe_9.0.2.1_0040A1B2_EConvertError",
                                          L"orvex.exe",
                                          L"9.0.2.1",
                                          L"Exception 'EConvertError'\r\nbad value",
                                          L"",
                                          L"Call stack:\r\n(0040A1B2) here\r\n\r\nMain Thread ID = 1\r\nRegisters:"
                                          L"\r\n\r\nbad value (x.cpp, 1)\r\n\r\nbad value (x.cpp, 1)\r\n\r\n"
                                          L"CONTROLS\r\n========\r\nMainForm: TForm\r\n\r\nSYSTEM INFO\r\n"
                                          L"===========\r\nMajor Version: 6\r\n",
                                          {}}));
    std::wstring caption;
    const std::wstring shown = ShowInDiagView(L"-c \"" + path + L"\"", &caption);
    EXPECT_EQ(L"Crash Report Viewer - scripterror-7-2024-01-02-03-04-05.log", caption);
    for (const wchar_t* part :
         {L"Program:   Orvex (orvex.exe, version 9.0.2.1)", L"Crash ID:  orvex.exe_9.0.2.1_0040A1B2_EConvertError",
          L"Message\r\n-------\r\nException 'EConvertError'\r\nbad value",
          L"Call stack\r\n----------\r\nCall stack:\r\n(0040A1B2) here",
          L"Registers\r\n---------\r\nMain Thread ID = 1\r\nRegisters:",
          L"Windows and controls\r\n--------------------\r\nMainForm: TForm",
          L"System information\r\n------------------\r\nMajor Version: 6"})
        EXPECT_NE(std::wstring::npos, shown.find(part)) << rtl::ToAnsi(part) << "\n" << rtl::ToAnsi(shown);
}

TEST(DiagViewProgram, SaysWhatIsWrongWithAMissingOrForeignReport) {
    testutil::TempDir dir;
    const std::wstring missing = dir.Path() + L"gone.log";
    EXPECT_EQ(L"The crash report \"" + missing + L"\" cannot be shown.\r\n\r\nThe crash report cannot be opened: " +
                  rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND),
              ShowInDiagView(L"-c \"" + missing + L"\""));
    const std::wstring foreign = dir.Path() + L"program.exe";
    HANDLE f = CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, "MZ\x90\0\3\0\0\0\4\0", 10, &written, nullptr);
    CloseHandle(f);
    EXPECT_EQ(L"The crash report \"" + foreign +
                  L"\" cannot be shown.\r\n\r\nThe file does not start with a [System] section, so it is not a "
                  L"crash report.",
              ShowInDiagView(L"-c \"" + foreign + L"\""));
    EXPECT_EQ(L"No crash report was given. Start the program as: diagview -c \"report path\"", ShowInDiagView(L""));
}

}  // namespace

int main(int argc, char** argv) { return testutil::TestMainWithChild(argc, argv, &RunChild); }
