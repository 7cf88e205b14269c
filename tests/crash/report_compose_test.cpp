// The pieces of a crash report, built from given descriptions, lists,
// system records and real forms.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>

#include "TestUtil.h"
#include "crash/CrashFacts.h"
#include "crash/CrashReport.h"
#include "crash/CrashReportFormat.h"
#include "crash/ZudAvizi.h"
#include "rtl/FilePath.h"
#include "rtl/Forms.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace {

using namespace crash;

TExceptionMessageInfo SampleInfo() {
    TExceptionMessageInfo info;
    info.miMessage = L"'abc' is not a valid integer value";
    wcscpy(info.miModuleName, L"orvex.exe");
    info.miModuleAddress = 0x0001A2B3;
    info.miSrcModule = L"src\\app\\MainForm";
    info.miSrcFile = L"C:\\build\\src\\app\\MainForm.cpp";
    info.miSrcLine = L"42";
    info.miSrcProc = L"app::TMainForm::Convert()";
    return info;
}

TEST(ReportMessage, CustomInfoLineAndLocationMessage) {
    const TExceptionMessageInfo info = SampleInfo();
    // The custom line keeps the source file as recorded, with its folder.
    EXPECT_EQ(L"'abc' is not a valid integer value (C:\\build\\src\\app\\MainForm.cpp, 42)", CustomInfoLine(info));
    EXPECT_EQ(
        L"Exception 'EConvertError' in module orvex.exe at 0001A2B3\r\n"
        L"'abc' is not a valid integer value\r\n\r\n"
        L"Module: MainForm, Source: MainForm.cpp, Line 42\r\n"
        L"Procedure: app::TMainForm::Convert()",
        LocationMessage(L"EConvertError", info));
    TExceptionMessageInfo unknown;
    unknown.miSrcModule = unknown.miSrcFile = unknown.miSrcLine = unknown.miSrcProc = L"UNKNOWN";
    EXPECT_EQ(L" (UNKNOWN, UNKNOWN)", CustomInfoLine(unknown));
}

TEST(ReportMessage, CopyToBufferCutsAndNeverOverruns) {
    wchar_t buffer[8 + 2];
    wmemset(buffer, L'#', 10);
    EXPECT_EQ(7, rtl::CopyToBuffer(L"0123456789", buffer, 8));
    EXPECT_STREQ(L"0123456", buffer);
    EXPECT_EQ(L'#', buffer[8]);  // nothing written past the given size
    EXPECT_EQ(3, rtl::CopyToBuffer(L"abc", buffer, 8));
    EXPECT_STREQ(L"abc", buffer);
    EXPECT_EQ(0, rtl::CopyToBuffer(L"abc", buffer, 0));
    EXPECT_EQ(L'a', buffer[0]);  // a zero size touches nothing
    EXPECT_EQ(0, rtl::CopyToBuffer(L"abc", nullptr, 8));
}

TEST(ReportMessage, FileNamePart) {
    EXPECT_EQ(L"MainForm.cpp", rtl::ExtractFileName(L"C:\\src\\app\\MainForm.cpp"));
    EXPECT_EQ(L"b.cpp", rtl::ExtractFileName(L"a/b.cpp"));
    EXPECT_EQ(L"x.exe", rtl::ExtractFileName(L"C:x.exe"));
    EXPECT_EQ(L"UNKNOWN", rtl::ExtractFileName(L"UNKNOWN"));
    EXPECT_EQ(L"", rtl::ExtractFileName(L"C:\\dir\\"));
}

// --- control dump ---

// A control whose description fails, as a dangling or broken one would.
class TBrokenControl : public rtl::TWinControl {
public:
    using rtl::TWinControl::TWinControl;
    std::wstring ClassName() const override { rtl::RaiseNew<rtl::EConvertError>(L"class name unavailable"); }
};

class ControlDump : public testing::Test {
protected:
    void SetUp() override { rtl::FormsStartup(); }
    void TearDown() override { rtl::FormsShutdown(); }
};

TEST_F(ControlDump, ListsEveryFormWithItsControlsIndented) {
    auto* main = new rtl::TForm(rtl::Application, L"Orvex Main", 300, 200);
    main->SetName(L"MainForm");
    auto* button = new rtl::TButton(main, L"Go", 10, 10, 80, 24);
    button->SetName(L"GoButton");
    new rtl::TButton(main, L"", 10, 40, 80, 24);     // no name, no text
    auto* group = new rtl::TWinControl(main, main);  // no window of its own
    group->SetName(L"Group");
    auto* inner = new rtl::TLabel(group, L"lost", 0, 0, 10, 10);
    inner->SetName(L"InnerLabel");
    auto* second = new rtl::TForm(rtl::Application, L"", 100, 100);
    second->SetName(L"SecondForm");

    rtl::TStringList out;
    DumpForms(out);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"MainForm: TForm \"Orvex Main\"",
                  L"  GoButton: TButton \"Go\"",
                  L"  <unnamed>: TButton",
                  L"  Group: TWinControl",
                  L"    InnerLabel: TLabel",
                  L"SecondForm: TForm",
              }),
              out.Lines());
}

TEST_F(ControlDump, MarksTheActiveFormAndTheFocusedControlOnce) {
    auto* form = new rtl::TForm(rtl::Application, L"Active", 300, 200);
    form->SetName(L"ActiveForm");
    auto* edit = new rtl::TEdit(form, L"", 10, 10, 100, 20);
    edit->SetName(L"FocusedEdit");
    auto* other = new rtl::TEdit(form, L"", 10, 40, 100, 20);
    other->SetName(L"OtherEdit");
    // Explicit markers instead of the desktop's focus: the rule is the same.
    rtl::TStringList out;
    DumpControl(out, *form, 0, edit, form);
    EXPECT_EQ((std::vector<std::wstring>{L"ActiveForm: TForm \"Active\" (FormActive)",
                                         L"  FocusedEdit: TEdit (ControlActive)", L"  OtherEdit: TEdit"}),
              out.Lines());
    // A form that is itself the focused control is marked once, as the control.
    out.Clear();
    DumpControl(out, *form, 0, form, form);
    EXPECT_EQ(L"ActiveForm: TForm \"Active\" (ControlActive)", out[0]);

    // The real desktop state, as the dump of all forms reads it.
    form->Show();
    SetForegroundWindow(form->Handle());
    SetActiveWindow(form->Handle());
    edit->SetFocus();
    rtl::Application->ProcessMessages();
    if (GetFocus() != edit->Handle()) GTEST_SKIP() << "the desktop gave the focus elsewhere";
    out.Clear();
    DumpForms(out);
    EXPECT_EQ(L"ActiveForm: TForm \"Active\" (FormActive)", out[0]);
    EXPECT_EQ(L"  FocusedEdit: TEdit (ControlActive)", out[1]);
}

TEST_F(ControlDump, AFailingControlBecomesItsMessageAndTheDumpGoesOn) {
    auto* form = new rtl::TForm(rtl::Application, L"F", 300, 200);
    form->SetName(L"F");
    auto* broken = new TBrokenControl(form, form);
    auto* child = new rtl::TWinControl(form, broken);
    child->SetName(L"ChildOfBroken");
    auto* after = new rtl::TEdit(form, L"", 0, 0, 10, 10);
    after->SetName(L"After");
    rtl::TStringList out;
    DumpForms(out);
    EXPECT_EQ((std::vector<std::wstring>{L"F: TForm \"F\"", L"  class name unavailable",
                                         L"    ChildOfBroken: TWinControl", L"  After: TEdit"}),
              out.Lines());
}

// --- system information ---

TEST(SystemInfo, VersionBlockFromTheRecord) {
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
    v.dwMajorVersion = 6;
    v.dwMinorVersion = 1;
    v.dwBuildNumber = 7601;
    v.dwPlatformId = 2;
    wcscpy(v.szCSDVersion, L"Service Pack 1");
    rtl::TStringList out;
    out.Add(L"before");
    AddSystemInfo(out, v);
    EXPECT_EQ((std::vector<std::wstring>{L"before", L"", L"SYSTEM INFO", L"===========", L"Major Version: 6",
                                         L"Minor Version: 1", L"Build Number:  7601", L"Platform ID:   2",
                                         L"CSDVersion:    Service Pack 1"}),
              out.Lines());
    // A service-pack text that fills all 128 characters without a terminator.
    wmemset(v.szCSDVersion, L'x', 128);
    out.Clear();
    AddSystemInfo(out, v);
    ASSERT_EQ(8, out.Count());
    EXPECT_EQ(L"CSDVersion:    " + std::wstring(128, L'x'), out[7]);
    EXPECT_EQ(276u, sizeof(OSVERSIONINFOW));
}

TEST(SystemInfo, TheRunningSystemsMinorVersionIsReported) {
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(&v));
#pragma GCC diagnostic pop
    rtl::TStringList out;
    AddSystemInfo(out);
    ASSERT_EQ(8, out.Count());
    EXPECT_EQ(L"Major Version: " + std::to_wstring(v.dwMajorVersion), out[3]);
    EXPECT_EQ(L"Minor Version: " + std::to_wstring(v.dwMinorVersion), out[4]);
}

// A drive table for the drive lines: A: removable, C: fixed and large, D:
// optical, E: fixed but its free space cannot be read, F: network.
struct FakeDrives {
    static constexpr DWORD cNoOverride = ~0u;
    static inline DWORD Override = cNoOverride;  // a length to answer instead of the list
    static DWORD WINAPI Strings(DWORD size, wchar_t* buffer) {
        static const wchar_t roots[] = L"A:\\\0C:\\\0D:\\\0E:\\\0F:\\\0";
        const DWORD length = sizeof(roots) / sizeof(wchar_t) - 1;  // without the final terminator
        if (Override != cNoOverride) return Override;
        if (size <= length) return length + 1;
        std::memcpy(buffer, roots, sizeof(roots));
        return length;
    }
    static UINT WINAPI Type(const wchar_t* root) {
        switch (root[0]) {
            case L'A': return DRIVE_REMOVABLE;
            case L'C':
            case L'E': return DRIVE_FIXED;
            case L'D': return DRIVE_CDROM;
            default: return DRIVE_REMOTE;
        }
    }
    static BOOL WINAPI Free(const wchar_t* root, ULARGE_INTEGER* quota, ULARGE_INTEGER* total,
                            ULARGE_INTEGER* totalFree) {
        if (root[0] != L'C') return FALSE;
        quota->QuadPart = 300ull * 1024 * 1024 * 1024 + 1024 * 1024 - 1;  // 300 GB and almost one MB more
        total->QuadPart = 5ull * 1024 * 1024 * 1024 * 1024;               // 5 TB: needs 64-bit arithmetic
        totalFree->QuadPart = 301ull * 1024 * 1024 * 1024;
        return TRUE;
    }
};

TEST(DriveInfo, OnlyFixedDrivesWithReadableFreeSpaceInMegabytes) {
    const TDriveQueries queries{&FakeDrives::Strings, &FakeDrives::Type, &FakeDrives::Free};
    FakeDrives::Override = FakeDrives::cNoOverride;
    rtl::TStringList out;
    AddDriveInfo(out, queries);
    EXPECT_EQ(
        (std::vector<std::wstring>{L"Drive C:\\ QuotaFreeSpace: 307200MB", L"Drive C:\\ TotalSpace:     5242880MB",
                                   L"Drive C:\\ TotalFreeSpace: 308224MB"}),
        out.Lines());
    // A failed or oversized drive list adds nothing.
    for (DWORD length : {0u, 1024u, 5000u}) {
        FakeDrives::Override = length;
        out.Clear();
        AddDriveInfo(out, queries);
        EXPECT_EQ(0, out.Count()) << length;
    }
    FakeDrives::Override = FakeDrives::cNoOverride;
}

TEST(DriveInfo, TheRunningSystemsFixedDrives) {
    rtl::TStringList out;
    AddDriveInfo(out);
    ASSERT_EQ(0, out.Count() % 3);
    ASSERT_GT(out.Count(), 0);  // C: is a fixed disk
    EXPECT_EQ(L"Drive C:\\ QuotaFreeSpace: ", out[0].substr(0, 26));
    for (const std::wstring& line : out.Lines()) EXPECT_EQ(L"MB", line.substr(line.size() - 2));
}

TEST(MemoryInfo, LoadThenSixCountersInMegabytes) {
    MEMORYSTATUSEX s{};
    s.dwMemoryLoad = 37;
    s.ullTotalPhys = 64ull << 30;  // beyond what 32-bit counters hold
    s.ullAvailPhys = 0xFFFFFFFF;   // 4095.99 MB is shown as 4095
    s.ullTotalPageFile = (3ull << 20) + 1;
    s.ullAvailPageFile = (1ull << 20) - 1;
    s.ullTotalVirtual = 4095ull << 20;
    s.ullAvailVirtual = 1000ull << 20;
    rtl::TStringList out;
    AddMemoryInfo(out, s);
    EXPECT_EQ((std::vector<std::wstring>{L"Memory Load: 37", L"Memory TotalPhysical: 65536MB",
                                         L"Memory FreePhysical:  4095MB", L"Memory TotalPageFile: 3MB",
                                         L"Memory FreePageFile:  0MB", L"Memory TotalVirtual:  4095MB",
                                         L"Memory FreeVirtual:   1000MB"}),
              out.Lines());
}

TEST(MemoryInfo, TheRunningSystemsPhysicalMemoryIsNotCapped) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    rtl::TStringList out;
    AddMemoryInfo(out);
    EXPECT_EQ(L"Memory TotalPhysical: " + std::to_wstring(status.ullTotalPhys >> 20) + L"MB", out[1]);
}

// --- report ---

TEST(Report, CrashIdUsesTheRaiseSiteOfRuntimeExceptions) {
    TExceptionRecord record{};
    record.ExceptionCode = 0x0EEDFADE;
    record.ExceptionAddress = reinterpret_cast<void*>(0x7B00A000);  // inside the raise routine
    record.ExceptAddr = reinterpret_cast<void*>(0x0040A1B2);
    EXPECT_EQ(0x0040A1B2u, ExceptionAddressOf(record));
    record.ExceptionCode = 0xC0000005;
    EXPECT_EQ(0x7B00A000u, ExceptionAddressOf(record));
    EXPECT_EQ(L"orvex.exe_9.0.2.1_0040A1B2_EConvertError",
              CrashId(L"orvex.exe", L"9.0.2.1", 0x0040A1B2, L"EConvertError"));
    EXPECT_EQ(L"a.exe_0.0.0.0_0000000F_E", CrashId(L"a.exe", L"0.0.0.0", 0xF, L"E"));
}

TEST(Report, EventAndLogTextsJoinTheListsInOrder) {
    rtl::TStringList stack, regs, custom, system, detail;
    stack.Add(L"(0040A1B2){orvex.exe} [0040B1B2] app::Crash (Line 7, \"Main.cpp\")");
    regs.Add(L"Registers:");
    custom.Add(L"boom (Main.cpp, 7)");
    system.Add(L"boom (Main.cpp, 7)");
    system.Add(L"");
    system.Add(L"CONTROLS");
    const std::wstring log = LogText(stack.Text(), regs.Text(), custom.Text(), system.Text());
    EXPECT_EQ(
        L"(0040A1B2){orvex.exe} [0040B1B2] app::Crash (Line 7, \"Main.cpp\")\r\n\r\n"
        L"Registers:\r\n\r\n"
        L"boom (Main.cpp, 7)\r\n\r\n"
        L"boom (Main.cpp, 7)\r\n\r\nCONTROLS\r\n",
        log);
    EXPECT_EQ(L"Exception 'E' ...\r\nboom\r\n" + log,
              EventText(L"Exception 'E' ...\r\nboom", detail.Text(), stack.Text(), regs.Text(), custom.Text(),
                        system.Text()));
}

TEST(Report, FileIsUtf8WithBomAndCrLfInSectionOrder) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"scripterror-1-2024-01-01-00-00-00.log";
    TCrashReportTexts texts;
    texts.Title = L"Orvex \u20AC";
    texts.CrashId = L"orvex.exe_9.0.2.1_0040A1B2_EConvertError";
    texts.Application = L"orvex.exe";
    texts.Version = L"9.0.2.1";
    texts.Message = L"Exception 'EConvertError' in module orvex.exe at 0000A1B2\r\nbad";
    texts.DetailText = L"";
    texts.LogText = L"stack\r\n\r\nregs\r\n";
    SaveUtf8Lines(path, CrashReportLines(texts));
    const std::string expected =
        "\xEF\xBB\xBF"
        "[System]\r\n"
        "Title=Orvex \xE2\x82\xAC\r\n"
        "CrashID=orvex.exe_9.0.2.1_0040A1B2_EConvertError\r\n"
        "Application=orvex.exe\r\n"
        "ProductID=1\r\n"
        "Version=9.0.2.1\r\n"
        "[Message]\r\n"
        "Exception 'EConvertError' in module orvex.exe at 0000A1B2\r\nbad\r\n"
        "[Detail]\r\n"
        "\r\n"  // an empty detail text is one empty line
        "[Log]\r\n"
        "stack\r\n\r\nregs\r\n\r\n";
    EXPECT_EQ(expected, testutil::ReadFileBytes(path));

    // Writing again replaces the report instead of appending to it.
    texts.LogText = L"x";
    SaveUtf8Lines(path, CrashReportLines(texts));
    const std::string again = testutil::ReadFileBytes(path);
    EXPECT_EQ("[Log]\r\nx\r\n", again.substr(again.size() - 10));
}

TEST(Report, TheClosingSectionsFollowTheLogLineByLine) {
    TCrashFacts f;
    f.Utc = SYSTEMTIME{2024, 1, 2, 2, 23, 30, 5, 7};
    f.Local = SYSTEMTIME{2024, 1, 3, 3, 1, 0, 5, 7};
    f.UtcOffsetMinutes = 90;
    f.ProcessId = 612;
    f.CommandLine = L"\"C:\\Program Files\\orvex.exe\" --selftest=access-read";
    f.WorkingSet = 5 * 1024 * 1024 + 1023;
    f.PeakWorkingSet = 6ull << 30;
    f.PrivateBytes = 0;  // not known
    f.HandleCount = 87;
    f.Modules = {{0x00400000, 0x3A000, L"9.0.2.1", L"C:\\Program Files\\orvex.exe"},
                 {0x7BC00000, 0x2BA000, L"", L"C:\\windows\\system32\\ntdll.dll"}};
    f.ThreadIds = {0x20, 0x10C};
    f.FailingThreadId = 0x10C;
    TCrashReportTexts texts;
    texts.LogText = L"log\r\n";
    AddCrashFactSections(texts.ClosingSections, f);
    AddMinidumpSection(texts.ClosingSections, L"scripterror-612-2024-01-03-01-00-05.dmp", L"");
    f.UtcOffsetMinutes = -330;  // west of Greenwich: "UTC-05:30"
    rtl::TStringList west;
    AddCrashFactSections(west, f);
    AddMinidumpSection(west, L"", L"dbghelp.dll cannot be loaded: not found");

    const std::vector<std::wstring> lines = CrashReportLines(texts).Lines();
    ASSERT_EQ(12u + 18u, lines.size());
    EXPECT_EQ(L"log\r\n", lines[11]);  // everything up to the log stays as it was
    EXPECT_EQ((std::vector<std::wstring>{
                  L"[Time]", L"UTC=2024-01-02 23:30:05.007", L"Local=2024-01-03 01:00:05.007 UTC+01:30", L"[Process]",
                  L"ProcessID=612", L"CommandLine=\"C:\\Program Files\\orvex.exe\" --selftest=access-read",
                  L"WorkingSet=5120 KB", L"PeakWorkingSet=6291456 KB", L"PrivateBytes=unknown", L"HandleCount=87",
                  L"[Modules]", L"00400000 0003A000 9.0.2.1 C:\\Program Files\\orvex.exe",
                  L"7BC00000 002BA000 - C:\\windows\\system32\\ntdll.dll", L"[Threads]", L"00000020",
                  L"0000010C (failing)", L"[Minidump]", L"File=scripterror-612-2024-01-03-01-00-05.dmp"}),
              std::vector<std::wstring>(lines.begin() + 12, lines.end()));
    EXPECT_EQ(L"Local=2024-01-03 01:00:05.007 UTC-05:30", west[2]);
    EXPECT_EQ(L"Error=The minidump could not be written. dbghelp.dll cannot be loaded: not found", west.Lines().back());
}

TEST(Report, TheMinidumpIsNamedLikeTheReport) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Diag\\scripterror-7-2024-01-02-03-04-05.log", L"C:\\Diag\\scripterror-7-2024-01-02-03-04-05.dmp"},
        {L"C:\\a.b\\report", L"C:\\a.b\\report.dmp"},
        {L"report.txt", L"report.dmp"},
    };
    for (const auto& [report, dump] : cases) EXPECT_EQ(dump, report::MinidumpPathFor(report));
}

TEST(Report, AReportThatCannotBeCreatedRaises) {
    testutil::TempDir dir;
    const std::wstring path = dir.Path() + L"no-such-folder\\report.log";
    auto raised = testutil::CaptureRaise([&] { SaveUtf8Lines(path, CrashReportLines({})); });
    ASSERT_TRUE(raised);
    EXPECT_EQ(L"EInOutError", raised->ClassName);
    EXPECT_EQ(L"Cannot create file \"" + path + L"\". ", raised->Message.substr(0, path.size() + 23));
}

// --- the diagnostics program ---

TEST(DiagView, LivesInTheCommonFilesFolderAndGetsTheQuotedPath) {
    wchar_t common[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, common, CSIDL_PROGRAM_FILES_COMMON, FALSE));
    EXPECT_EQ(std::wstring(common) + L"\\Quillfen\\Orvex Engine 9.0\\", DiagViewFolder());
    EXPECT_EQ(L"-c \"C:\\a b\\scripterror-1.log\"", DiagViewParameters(L"C:\\a b\\scripterror-1.log"));
}

TEST(DiagView, FallbackTextNamesTheReportAndTheSupportAddress) {
    EXPECT_EQ(
        L"Orvex has had a fatal error.  An additional error was encountered starting the exception manager "
        L"(The system cannot find the file specified).  \r\nError log is stored in \r\n\r\n"
        L"  C:\\d\\scripterror-12-2024-05-06-07-08-09.log\r\n\r\n"
        L"Please send this information to Quillfen Support (support@quillfen.com)",
        FatalErrorText(L"Orvex", L"The system cannot find the file specified. \r\n",
                       L"C:\\d\\scripterror-12-2024-05-06-07-08-09.log"));
}

}  // namespace
