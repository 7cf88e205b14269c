// The crash report viewer sending a report to support: what goes into the
// package, how the answer is shown, and the real program driven through its
// window against the local upload server (sending, Esc while sending,
// sending again, closing while sending, a report that cannot be sent).
#include <gtest/gtest.h>

#include "E2eDriver.h"
#include "TestUtil.h"
#include "diagview/DiagViewIds.h"
#include "diagview/SendReport.h"
#include "http/NetTestUtil.h"
#include "rtl/Text.h"

namespace {

using namespace e2e;

const char cReportText[] =
    "\xEF\xBB\xBF[System]\r\nTitle=Orvex Diagnostics\r\nCrashID=orvex.exe_9.0.2.1_004193ED_Exception\r\n"
    "Application=orvex.exe\r\nProductID=1\r\nVersion=9.0.2.1\r\n[Message]\r\nSelf-test: exception raised\r\n"
    "[Detail]\r\n\r\n[Log]\r\nCall stack:\r\n:004193ED [orvex.exe] app::FireSelfTest\r\n";

diagview::TCrashReport Parsed(const std::string& bytes) {
    diagview::TCrashReport report;
    std::wstring error;
    EXPECT_TRUE(diagview::ParseCrashReport(bytes, report, error)) << rtl::ToUtf8(error);
    return report;
}

// --- the package and the answer, without a window ---

TEST(DiagViewPackage, TheReportGoesWithItsMinidumpAndTheErrorLogOfItsProgramWhenThereAreSome) {
    testutil::TempDir dir;
    const std::wstring report = dir.Path() + L"scripterror-1-2024-01-02-03-04-05.log";
    ASSERT_TRUE(WriteBytes(report, cReportText));
    const diagview::TCrashReport parsed = Parsed(cReportText);

    diagview::TReportSendContents alone = diagview::ReportSendContents(report, parsed);
    EXPECT_EQ(L"Crash report orvex.exe_9.0.2.1_004193ED_Exception", alone.Description);
    EXPECT_EQ(std::vector<std::wstring>{report}, alone.Files);

    ASSERT_TRUE(WriteBytes(dir.Path() + L"orvex.errlog", "log"));
    ASSERT_TRUE(WriteBytes(dir.Path() + L"other.errlog", "log of another program"));
    diagview::TReportSendContents both = diagview::ReportSendContents(report, parsed);
    EXPECT_EQ((std::vector<std::wstring>{report, dir.Path() + L"orvex.errlog"}), both.Files);

    const std::wstring minidump = dir.Path() + L"scripterror-1-2024-01-02-03-04-05.dmp";
    ASSERT_TRUE(WriteBytes(minidump, "MDMP"));
    ASSERT_TRUE(WriteBytes(dir.Path() + L"scripterror-9-2024-01-02-03-04-05.dmp", "another crash's minidump"));
    diagview::TReportSendContents all = diagview::ReportSendContents(report, parsed);
    EXPECT_EQ((std::vector<std::wstring>{report, minidump, dir.Path() + L"orvex.errlog"}), all.Files);

    // Listed with their sizes before sending; a file gone meanwhile says so.
    all.Files.push_back(dir.Path() + L"gone.log");
    EXPECT_EQ(L"scripterror-1-2024-01-02-03-04-05.log  (" + std::to_wstring(sizeof(cReportText) - 1) +
                  L" bytes)\r\nscripterror-1-2024-01-02-03-04-05.dmp  (4 bytes)\r\norvex.errlog  (3 bytes)\r\n"
                  L"gone.log  (cannot be read: " +
                  rtl::SysErrorMessage(ERROR_FILE_NOT_FOUND) + L")",
              diagview::DescribeFiles(all.Files));
    // The user's description follows the report's, which names the crash.
    EXPECT_EQ(L"Crash report orvex.exe_9.0.2.1_004193ED_Exception\r\n\r\nI pressed Save.",
              diagview::PackageDescription(all, L"I pressed Save.\r\n"));
    EXPECT_EQ(all.Description, diagview::PackageDescription(all, L" \r\n"));
}

TEST(DiagViewPackage, ADamagedReportIsSentAloneUnderItsFileName) {
    testutil::TempDir dir;
    const std::wstring report = dir.Path() + L"scripterror-2.log";
    ASSERT_TRUE(WriteBytes(dir.Path() + L"orvex.errlog", "log"));
    // No crash identifier; an Application value that names a path must not
    // pick a file outside the report's folder.
    const std::string bytes = "[System]\r\nApplication=..\\orvex.exe\r\n[Message]\r\nx\r\n";
    diagview::TReportSendContents c = diagview::ReportSendContents(report, Parsed(bytes));
    EXPECT_EQ(L"Crash report scripterror-2.log", c.Description);
    EXPECT_EQ(std::vector<std::wstring>{report}, c.Files);
    // An Application value without a name before its extension names no log.
    c = diagview::ReportSendContents(report, Parsed("[System]\r\nApplication=.exe\r\n[Message]\r\nx\r\n"));
    EXPECT_EQ(std::vector<std::wstring>{report}, c.Files);
}

// --- the program ---

class DiagViewSend : public TLocalServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TLocalServerTest::SetUp());
        FReport = FDir.Path() + L"scripterror-77-2024-01-02-03-04-05.log";
        ASSERT_TRUE(WriteBytes(FReport, cReportText));
    }

    // Starts the viewer on `report` and finds its window and controls.
    void Start(const std::wstring& report) {
        FViewer = TProcess(L"\"" + BuildFile(L"src\\tools\\diagview\\diagview.exe") + L"\" -c \"" + report + L"\"");
        ASSERT_TRUE(FViewer.Started());
        FWindow = WaitForTopWindow(FViewer.Id(), diagview::kViewerTitle, 60000);
        ASSERT_NE(nullptr, FWindow) << "the viewer's window did not appear";
        FSend = GetDlgItem(FWindow, diagview::idSend);
        FCancel = GetDlgItem(FWindow, diagview::idCancel);
        FStatus = GetDlgItem(FWindow, diagview::idStatus);
        FAnswer = GetDlgItem(FWindow, diagview::idAnswer);
        FDescription = GetDlgItem(FWindow, diagview::idDescription);
        FContact = GetDlgItem(FWindow, diagview::idContact);
        ASSERT_TRUE(FSend && FCancel && FStatus && FAnswer && FDescription && FContact);
    }

    void TearDown() override { FViewer.Close(FWindow); }

    testutil::TempDir FDir;
    std::wstring FReport;
    TProcess FViewer;
    HWND FWindow = nullptr, FSend = nullptr, FCancel = nullptr, FStatus = nullptr, FAnswer = nullptr,
         FDescription = nullptr, FContact = nullptr;
};

TEST_F(DiagViewSend, SendsTheReportAndTheErrorLogAndShowsTheAnswer) {
    const std::string log = testhttp::Pattern(5000, 3);
    ASSERT_TRUE(WriteBytes(FDir.Path() + L"orvex.errlog", log));
    ASSERT_NO_FATAL_FAILURE(Start(FReport));
    EXPECT_TRUE(IsWindowEnabled(FSend));
    EXPECT_FALSE(IsWindowEnabled(FCancel));
    EXPECT_EQ(L"scripterror-77-2024-01-02-03-04-05.log  (" + std::to_wstring(sizeof(cReportText) - 1) +
                  L" bytes)\r\norvex.errlog  (4.9 KB)",
              TextOf(GetDlgItem(FWindow, diagview::idFiles)));
    ASSERT_TRUE(SetTextOf(FDescription, L"Opened the settings."));
    ASSERT_TRUE(SetTextOf(FContact, L"ann@example.com"));

    EXPECT_EQ(L"Sent. The server answered 200.", SendAndWait(FSend, FCancel, FStatus, 120000));
    EXPECT_FALSE(IsWindowEnabled(FCancel));
    EXPECT_TRUE(IsWindowEnabled(FSend));

    const std::wstring shown = TextOf(FAnswer);
    EXPECT_NE(std::wstring::npos, shown.find(L"check ok\r\n")) << rtl::ToUtf8(shown);
    const testhttp::TSummary summary(AnswerBody(shown));
    EXPECT_EQ("ok", summary.Check);
    EXPECT_EQ("/support/upload", summary.Path);
    ASSERT_EQ(6, summary.Parts) << AnswerBody(shown);  // description, contact, program, version, two files
    std::map<std::string, const testhttp::TSummary::Part*> byName;
    for (const auto& part : summary.Items) byName[part.Name] = &part;
    const std::string description = "Crash report orvex.exe_9.0.2.1_004193ED_Exception\r\n\r\nOpened the settings.";
    ASSERT_TRUE(byName.count("description"));
    EXPECT_EQ(testhttp::Crc32(description.data(), description.size()), byName["description"]->Crc);
    ASSERT_TRUE(byName.count("contact"));
    EXPECT_EQ(testhttp::Crc32("ann@example.com", 15), byName["contact"]->Crc);
    ASSERT_TRUE(byName.count("file1") && byName.count("file2"));
    EXPECT_EQ("scripterror-77-2024-01-02-03-04-05.log", byName["file1"]->FileName);
    EXPECT_EQ(sizeof(cReportText) - 1, byName["file1"]->Length);
    EXPECT_EQ("orvex.errlog", byName["file2"]->FileName);
    EXPECT_EQ(log.size(), byName["file2"]->Length);
    EXPECT_EQ(testhttp::Crc32(log.data(), log.size()), byName["file2"]->Crc);
}

TEST_F(DiagViewSend, EscCancelsALongUploadAndClosingWhileSendingEndsTheViewer) {
    // An error log this large is still being sent when the test presses Esc.
    const std::wstring log = FDir.Path() + L"orvex.errlog";
    ASSERT_TRUE(WriteFillerFile(log, 200ull << 20));
    ASSERT_NO_FATAL_FAILURE(Start(FReport));
    ASSERT_TRUE(SetTextOf(FDescription, L"Crashed on start."));

    // The log is compressed first, then sent: Esc may come in either step.
    const auto underway = [&](std::wstring& status) {
        return WaitUntil(
            [&] {
                status = TextOf(FStatus);
                return status.rfind(L"Compressing: ", 0) == 0 || status.rfind(L"Sending: ", 0) == 0;
            },
            120000);
    };
    Click(FSend);
    std::wstring status;
    ASSERT_TRUE(underway(status)) << rtl::ToUtf8(status);
    EXPECT_TRUE(IsWindowEnabled(FCancel));
    EXPECT_FALSE(IsWindowEnabled(FSend));
    PressEscape(FWindow);
    EXPECT_EQ(L"Sending was cancelled.", WaitForSendEnd(FSend, FCancel, FStatus, 120000));
    EXPECT_TRUE(IsWindow(FWindow) && IsWindowVisible(FWindow)) << "Esc must not close the viewer";
    EXPECT_TRUE(IsWindowEnabled(FSend));
    EXPECT_FALSE(IsWindowEnabled(FCancel));
    EXPECT_TRUE(FViewer.Running());
    EXPECT_EQ(L"Crashed on start.", TextOf(FDescription)) << "what the user wrote stays for the next try";

    // The cancelled upload let go of the file, and sending can start again.
    ASSERT_TRUE(WriteFillerFile(log, 200ull << 20)) << "the error log is still held open";
    Click(FSend);
    ASSERT_TRUE(underway(status)) << rtl::ToUtf8(status);
    // Closing the window cancels first; then the program ends.
    PostMessageW(FWindow, WM_CLOSE, 0, 0);
    const std::optional<DWORD> code = FViewer.WaitExit(120000);
    ASSERT_TRUE(code.has_value()) << "the viewer did not end after closing while sending";
    EXPECT_EQ(0u, *code);
}

TEST_F(DiagViewSend, AReportThatCannotBeReadCannotBeSent) {
    ASSERT_NO_FATAL_FAILURE(Start(FDir.Path() + L"no-such-report.log"));
    EXPECT_FALSE(IsWindowEnabled(FSend));
    EXPECT_EQ(L"There is no crash report to send.", TextOf(FStatus));
    Click(FSend);
    Sleep(1000);
    EXPECT_EQ(L"There is no crash report to send.", TextOf(FStatus));
    EXPECT_TRUE(FViewer.Running());
}

}  // namespace
