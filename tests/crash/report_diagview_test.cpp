// The diagnostics program's reading of crash reports: what the crash report
// filter writes reads back section by section, and damaged or foreign files
// are named for what is wrong with them instead of failing.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "TestUtil.h"
#include "crash/CrashReport.h"
#include "diagview/CrashReportFile.h"
#include "rtl/Text.h"

namespace {

using diagview::TCrashReport;

// A report as the filter composes it: lists of the shapes the exception
// manager hands in, joined into the log text.
std::string SampleReportBytes(std::wstring* logOut = nullptr) {
    rtl::TStringList stack, regs, custom, system;
    stack.Add(L"Call stack:");
    stack.Add(L"(0040A1B2){orvex.exe} [0040B1B2] app::TMainForm::Convert (Line 42, \"MainForm.cpp\")");
    regs.Add(L"Main Thread ID = 00000020, Current Thread ID = 00000020");
    regs.Add(L"Registers:");
    regs.Add(L"EAX = 00000001  CS = 0023  EIP = 7B00A000  Flags = 00000246");
    custom.Add(L"'abc' is not a valid integer value (C:\\src\\MainForm.cpp, 42)");
    for (const std::wstring& l : custom.Lines()) system.Add(l);
    system.Add(L"");
    system.Add(L"CONTROLS");
    system.Add(L"========");
    system.Add(L"MainForm: TForm \"Orvex\" (FormActive)");
    system.Add(L"  AmountEdit: TEdit (ControlActive)");
    crash::AddSystemInfo(system);
    system.Add(L"Memory Load: 37");
    const std::wstring log = crash::LogText(stack.Text(), regs.Text(), custom.Text(), system.Text());
    if (logOut) *logOut = log;
    crash::TCrashReportTexts t{L"Orvex \u00C9dition",
                               L"orvex.exe_9.0.2.1_0040A1B2_EConvertError",
                               L"orvex.exe",
                               L"9.0.2.1",
                               L"Exception 'EConvertError' in module orvex.exe at 0000A1B2\r\n'abc' is not a valid "
                               L"integer value",
                               L"",
                               log,
                               {}};
    t.ClosingSections.Add(L"[Time]");
    t.ClosingSections.Add(L"UTC=2024-01-02 03:04:05.006");
    crash::AddMinidumpSection(t.ClosingSections, L"scripterror-7-2024-01-02-03-04-05.dmp", L"");
    return "\xEF\xBB\xBF" + rtl::ToUtf8(crash::CrashReportLines(t).Text());
}

TEST(DiagViewReport, WhatTheFilterWritesReadsBackSectionBySection) {
    TCrashReport r;
    std::wstring error;
    ASSERT_TRUE(diagview::ParseCrashReport(SampleReportBytes(), r, error)) << rtl::ToAnsi(error);
    EXPECT_TRUE(r.Problems.empty()) << rtl::ToAnsi(r.Problems.front());
    ASSERT_EQ(5u, r.System.size());
    EXPECT_EQ(L"Orvex \u00C9dition", r.Value(L"Title"));
    EXPECT_EQ(L"orvex.exe_9.0.2.1_0040A1B2_EConvertError", r.Value(L"CrashID"));
    EXPECT_EQ(L"9.0.2.1", r.Value(L"Version"));
    EXPECT_EQ(L"Exception 'EConvertError' in module orvex.exe at 0000A1B2\r\n'abc' is not a valid integer value",
              r.Message);
    EXPECT_EQ(L"", r.Detail);
    EXPECT_EQ(L"Call stack:\r\n(0040A1B2){orvex.exe} [0040B1B2] app::TMainForm::Convert (Line 42, \"MainForm.cpp\")",
              r.CallStack);
    EXPECT_EQ(
        L"Main Thread ID = 00000020, Current Thread ID = 00000020\r\nRegisters:\r\n"
        L"EAX = 00000001  CS = 0023  EIP = 7B00A000  Flags = 00000246",
        r.Registers);
    // Listed twice in the log, shown once.
    EXPECT_EQ(L"'abc' is not a valid integer value (C:\\src\\MainForm.cpp, 42)", r.CustomInfo);
    EXPECT_EQ(L"MainForm: TForm \"Orvex\" (FormActive)\r\n  AmountEdit: TEdit (ControlActive)", r.Controls);
    EXPECT_EQ(L"Major Version: ", r.SystemInfo.substr(0, 15));
    EXPECT_EQ(L"Memory Load: 37", r.SystemInfo.substr(r.SystemInfo.size() - 15));  // the log ends before [Time]
    ASSERT_EQ(2u, r.Closing.size());
    EXPECT_EQ(L"2024-01-02 03:04:05.006", r.SectionValue(L"[Time]", L"UTC"));
    EXPECT_EQ(L"scripterror-7-2024-01-02-03-04-05.dmp", r.SectionValue(L"[Minidump]", L"File"));
    EXPECT_EQ(L"", r.SectionValue(L"[Minidump]", L"Fil"));

    const std::wstring shown = diagview::FormatCrashReport(r);
    for (const wchar_t* part :
         {L"Crash ID:  orvex.exe_9.0.2.1_0040A1B2_EConvertError", L"\r\nMessage\r\n", L"\r\nCall stack\r\n",
          L"\r\nRegisters\r\n", L"\r\nSystem information\r\n", L"AmountEdit: TEdit (ControlActive)",
          L"\r\nMinidump\r\n--------\r\nFile=scripterror-7-2024-01-02-03-04-05.dmp\r\n"})
        EXPECT_NE(std::wstring::npos, shown.find(part)) << rtl::ToAnsi(part);
    EXPECT_EQ(std::wstring::npos, shown.find(L"damaged"));
    EXPECT_EQ(std::wstring::npos, shown.find(L"\r\nDetail\r\n"));  // an empty detail is left out
}

TEST(DiagViewReport, ATruncatedReportShowsWhatItHasAndSaysWhatIsMissing) {
    const std::string bytes = SampleReportBytes();
    struct Cut {
        const char* at;
        const wchar_t* problem;
    };
    for (const Cut& cut :
         {Cut{"[Log]", L"The [Log] section is missing: the report is incomplete."},
          Cut{"[Detail]", L"The [Detail] section is missing: the report is incomplete."},
          Cut{"Version=", L"The [System] section has no Version line."},
          Cut{"SYSTEM INFO", L"The log has no SYSTEM INFO block."}, Cut{"CONTROLS", L"The log has no CONTROLS block."},
          Cut{"Main Thread", L"The log has no register dump."}}) {
        TCrashReport r;
        std::wstring error;
        ASSERT_TRUE(diagview::ParseCrashReport(bytes.substr(0, bytes.find(cut.at)), r, error)) << cut.at;
        EXPECT_NE(r.Problems.end(), std::find(r.Problems.begin(), r.Problems.end(), cut.problem)) << cut.at;
        EXPECT_NE(std::wstring::npos, diagview::FormatCrashReport(r).find(L"This report is damaged:")) << cut.at;
        EXPECT_EQ(L"orvex.exe", r.Value(L"Application")) << cut.at;  // the readable part is still there
    }
    // Cut inside the registers: the call stack and what there is of the dump stay.
    TCrashReport r;
    std::wstring error;
    ASSERT_TRUE(diagview::ParseCrashReport(bytes.substr(0, bytes.find("Registers:")), r, error));
    EXPECT_EQ(L"Main Thread ID = 00000020, Current Thread ID = 00000020", r.Registers);
    EXPECT_EQ(L"Call stack:", r.CallStack.substr(0, 11));
}

TEST(DiagViewReport, DamagedBytesAndLineEndsAreToleratedAndNamed) {
    std::string bytes = SampleReportBytes();
    // Without the byte-order mark, with bare LF line ends and a broken UTF-8 sequence.
    std::string lf;
    for (size_t i = 3; i < bytes.size(); ++i)
        if (bytes[i] != '\r') lf += bytes[i];
    lf.insert(lf.find("[Message]\n") + 10, "\xC3(bad byte\n");
    TCrashReport r;
    std::wstring error;
    ASSERT_TRUE(diagview::ParseCrashReport(lf, r, error));
    EXPECT_EQ((std::vector<std::wstring>{L"Some bytes are not UTF-8 text; they are shown as \uFFFD.",
                                         L"The byte-order mark is missing."}),
              r.Problems);
    const std::wstring head = L"\uFFFD(bad byte\r\nException 'EConvertError'";
    EXPECT_EQ(head, r.Message.substr(0, head.size()));
    EXPECT_EQ(L"orvex.exe_9.0.2.1_0040A1B2_EConvertError", r.Value(L"CrashID"));
    // A line in [System] that is no key is named.
    bytes.insert(bytes.find("ProductID"), "garbage line\r\n");
    ASSERT_TRUE(diagview::ParseCrashReport(bytes, r, error));
    EXPECT_EQ(L"The [System] section holds a line that is not a key: \"garbage line\".", r.Problems.at(0));
}

TEST(DiagViewReport, FilesThatAreNoCrashReportAreRefusedWithTheReason) {
    TCrashReport r;
    std::wstring error;
    EXPECT_FALSE(diagview::ParseCrashReport("", r, error));
    EXPECT_EQ(L"The file is empty.", error);
    const std::string notReports[] = {std::string("MZ\x90\0\x03\0\0\0", 8), "\xEF\xBB\xBF", "\r\n\r\n",
                                      "[Message]\r\nhello\r\n", "[system]\r\n"};
    for (const std::string& bytes : notReports) {
        EXPECT_FALSE(diagview::ParseCrashReport(bytes, r, error));
        EXPECT_EQ(L"The file does not start with a [System] section, so it is not a crash report.", error);
    }
}

TEST(DiagViewReport, LoadingNamesMissingAndOversizedFiles) {
    testutil::TempDir dir;
    TCrashReport r;
    std::wstring error;
    EXPECT_FALSE(diagview::LoadCrashReport(dir.Path() + L"missing.log", r, error));
    EXPECT_EQ(L"The crash report cannot be opened: " + rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND), error);

    const std::wstring big = dir.Path() + L"big.log";
    HANDLE f = CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = diagview::cMaxReportBytes + 1;
    SetFilePointerEx(f, size, nullptr, FILE_BEGIN);
    SetEndOfFile(f);
    CloseHandle(f);
    EXPECT_FALSE(diagview::LoadCrashReport(big, r, error));
    EXPECT_EQ(L"The file is too large to be a crash report (16777217 bytes).", error);

    const std::wstring good = dir.Path() + L"scripterror-1-2024-01-01-00-00-00.log";
    crash::SaveUtf8Lines(good, crash::CrashReportLines({L"T", L"id", L"a.exe", L"1.0.0.0", L"m", L"", L"log", {}}));
    ASSERT_TRUE(diagview::LoadCrashReport(good, r, error)) << rtl::ToAnsi(error);
    EXPECT_EQ(L"m", r.Message);
    EXPECT_EQ(L"log", r.CallStack);  // no markers: everything counts as the call stack
}

TEST(DiagViewReport, TheReportPathComesAfterMinusC) {
    std::wstring path, error;
    EXPECT_TRUE(diagview::ReportPathFromCommandLine({L"-c", L"C:\\a b\\r.log"}, path, error));
    EXPECT_EQ(L"C:\\a b\\r.log", path);
    EXPECT_FALSE(diagview::ReportPathFromCommandLine({}, path, error));
    EXPECT_EQ(L"No crash report was given. Start the program as: diagview -c \"report path\"", error);
    EXPECT_FALSE(diagview::ReportPathFromCommandLine({L"-c"}, path, error));
    EXPECT_EQ(L"The option -c needs the path of a crash report.", error);
    EXPECT_FALSE(diagview::ReportPathFromCommandLine({L"-c", L""}, path, error));
}

}  // namespace
