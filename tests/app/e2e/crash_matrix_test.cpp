// Every kind of fatal failure, provoked in orvex.exe by its self-test
// triggers: each ends in one complete crash report, one error-log entry and
// the exit code of the failure, and the report names the failing thread and
// the trigger's source. A recording stand-in takes the diagnostics
// program's place.
#include <gtest/gtest.h>

#include <regex>

#include "E2eDriver.h"
#include "TestUtil.h"
#include "crash/CrashReport.h"
#include "crash/CrashReportFormat.h"
#include "env/DiagPaths.h"
#include "rtl/Text.h"

namespace {

using namespace e2e;

constexpr DWORD cRuntime = 0x0EEDFADE;

// The recorder stands in for the installed diagnostics program.
class TRecorderAsDiagView {
public:
    TRecorderAsDiagView() : FProgram(crash::DiagViewFolder() + crash::cDiagViewFileName), FSaved(FProgram + L".saved") {
        FMoved = MoveFileExW(FProgram.c_str(), FSaved.c_str(), MOVEFILE_REPLACE_EXISTING);
        CopyFileW(BuildFile(L"tests\\crash\\report_recorder.exe").c_str(), FProgram.c_str(), FALSE);
    }
    ~TRecorderAsDiagView() {
        DeleteFileW(FProgram.c_str());
        if (FMoved) MoveFileExW(FSaved.c_str(), FProgram.c_str(), MOVEFILE_REPLACE_EXISTING);
        DeleteFileW((crash::DiagViewFolder() + L"diagview-calls.txt").c_str());
    }

private:
    std::wstring FProgram, FSaved;
    BOOL FMoved = FALSE;
};

std::vector<std::wstring> ReportsOf(DWORD pid) {
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW fd;
    const std::wstring folder = env::GetDiagFolder();
    HANDLE find = FindFirstFileW((folder + L"scripterror-" + std::to_wstring(pid) + L"-*.log").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return paths;
    do paths.push_back(folder + fd.cFileName);
    while (FindNextFileW(find, &fd));
    FindClose(find);
    return paths;
}

std::wstring ErrorLog() { return env::GetDiagFolder() + L"orvex.errlog"; }

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const std::string cEntryHeader(27, '-');

struct TCrash {
    std::optional<DWORD> ExitCode;
    std::string Report;     // empty when there is not exactly one
    std::string NewLog;     // what the error log gained
    bool Minidump = false;  // one lay beside the report
};

TCrash Crash(const std::string& trigger) {
    TCrash crash;
    const std::string logBefore = testutil::ReadFileBytes(ErrorLog());
    TProcess program(L"\"" + BuildFile(L"src\\app\\orvex.exe") + L"\" --selftest=" + rtl::FromAnsi(trigger));
    if (!program.Started()) return crash;
    crash.ExitCode = program.WaitExit(90000);
    const std::vector<std::wstring> reports = ReportsOf(program.Id());
    if (reports.size() == 1) crash.Report = testutil::ReadFileBytes(reports[0]);
    for (const std::wstring& path : reports) {
        crash.Minidump = DeleteFileW(crash::report::MinidumpPathFor(path).c_str()) != FALSE;
        DeleteFileW(path.c_str());
    }
    const std::string log = testutil::ReadFileBytes(ErrorLog());
    if (log.size() > logBefore.size()) crash.NewLog = log.substr(logBefore.size());
    return crash;
}

struct TRow {
    const char* Trigger;
    const char* Class;
    const char* Message;
    bool MainThread;  // the failure happens on the main thread
    DWORD ExitCode;
};

TEST(CrashMatrix, EveryFatalFailureEndsInOneReportOneLogEntryAndItsExitCode) {
    const TRow rows[] = {
        {"access-read", "EAccessViolation", "Read of address 00000000", true, 0xC0000005},
        {"access-write", "EAccessViolation", "Write of address 00000000", true, 0xC0000005},
        {"divide-by-zero", "EDivByZero", "Division by zero", true, 0xC0000094},
        {"raise-in-handler", "Exception", "Self-test: exception raised in a message handler", true, cRuntime},
        {"raise-in-thread", "Exception", "Self-test: exception raised in a second thread", false, cRuntime},
        {"fault-in-foreign-thread", "EAccessViolation", "Read of address 00000000", false, 0xC0000005},
        {"cpp-exception", "EUncaughtException", "C++ exception escaped: std::bad_alloc", true, cRuntime},
        {"abort", "EAbortCalled", "abort() called", true, cRuntime},
        {"pure-virtual-call", "EAbstractError", "Pure virtual function call", true, cRuntime},
        {"two-threads", "EAccessViolation", "Write of address 00000000", false, 0xC0000005},
        // The heap's own bookkeeping damaged: the next allocation faults.
        {"heap-corruption", "EAccessViolation", "Access violation at address ", true, 0xC0000005},
        {"stack-overflow", "EStackOverflow", "Stack overflow", true, 0xC00000FD},
        {"stack-overflow-in-thread", "EStackOverflow", "Stack overflow", false, 0xC00000FD},
    };
    TRecorderAsDiagView recorder;
    const std::regex threads("Main Thread ID = ([0-9A-F]{8}), Current Thread ID = ([0-9A-F]{8})");
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Trigger);
        const TCrash crash = Crash(row.Trigger);
        EXPECT_EQ(row.ExitCode, crash.ExitCode.value_or(~0u));
        ASSERT_FALSE(crash.Report.empty()) << "not exactly one report";
        EXPECT_TRUE(crash.Minidump);
        const std::string heading = "Exception '" + std::string(row.Class) + "' in module ";
        EXPECT_NE(std::string::npos, crash.Report.find("[Message]\r\n" + heading)) << crash.Report;
        EXPECT_NE(std::string::npos, crash.Report.find(row.Message)) << crash.Report;
        std::smatch ids;
        ASSERT_TRUE(std::regex_search(crash.Report, ids, threads)) << crash.Report;
        EXPECT_EQ(row.MainThread, ids[1] == ids[2]) << ids[0];
        EXPECT_NE(std::string::npos, crash.Report.find("\r\n" + ids[2].str() + " (failing)\r\n")) << crash.Report;
        // The trigger's own source is on the call stack.
        const size_t stack = crash.Report.find("Call stack:\r\n");
        ASSERT_NE(std::string::npos, stack);
        EXPECT_NE(std::string::npos, crash.Report.find("(SelfTest.cpp, line ", stack))
            << crash.Report.substr(stack, 2000);
        // One complete entry in the error log.
        EXPECT_EQ(1u, CountOf(crash.NewLog, cEntryHeader + "\r\n")) << crash.NewLog;
        EXPECT_EQ(0u, crash.NewLog.find(cEntryHeader)) << crash.NewLog;
        EXPECT_NE(std::string::npos, crash.NewLog.find(heading)) << crash.NewLog;
    }
}

TEST(CrashMatrix, TwentyCrashesInARowLeaveTwentyReportsAndTwentyEntries) {
    TRecorderAsDiagView recorder;
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const TCrash crash = Crash("access-read");
        EXPECT_EQ(0xC0000005u, crash.ExitCode.value_or(~0u));
        EXPECT_NE(std::string::npos, crash.Report.find("\r\n[Log]\r\nCall stack:\r\n"));
        EXPECT_EQ(0u, crash.NewLog.find(cEntryHeader));
        EXPECT_EQ(1u, CountOf(crash.NewLog, "Exception 'EAccessViolation' in module ")) << crash.NewLog;
        EXPECT_NE(std::string::npos, crash.NewLog.find("\r\nRegisters:\r\n"));
    }
}

}  // namespace
