// The program orvex.exe driven end to end through its main window, as a
// user would: adding a file with the system's open dialog and sending it to
// the local upload server, cancelling a large upload, a proxy that wants a
// login, and a crash self-test whose report the diagnostics program then
// sends.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <map>

#include "E2eDriver.h"
#include "TestUtil.h"
#include "app/MainFormIds.h"
#include "app/SelfTest.h"
#include "config/GlobalProxySettings.h"
#include "crash/CrashReportFormat.h"
#include "diagview/DiagViewIds.h"
#include "env/DiagPaths.h"
#include "http/NetTestUtil.h"
#include "rtl/FilePath.h"
#include "rtl/Text.h"

namespace {

using namespace e2e;

constexpr DWORD cStartTimeout = 90000;
constexpr DWORD cSendTimeout = 120000;

// The names of the crash reports in the diagnostic folder.
std::vector<std::wstring> CrashReports() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((env::GetDiagFolder() + L"scripterror-*.log").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.emplace_back(fd.cFileName);
    while (FindNextFileW(find, &fd));
    FindClose(find);
    return names;
}

// A server that takes connections and never answers: a socket that listens
// and never accepts (the system completes the connections it queues).
class TSilentServer {
public:
    TSilentServer() {
        WSADATA data;
        FStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (FSocket != INVALID_SOCKET && bind(FSocket, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(FSocket, 4) == 0 && getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            FPort = ntohs(address.sin_port);
    }
    ~TSilentServer() {
        if (FSocket != INVALID_SOCKET) closesocket(FSocket);
        if (FStarted) WSACleanup();
    }
    int Port() const { return FPort; }

private:
    bool FStarted = false;
    SOCKET FSocket = INVALID_SOCKET;
    int FPort = 0;
};

const testhttp::TSummary::Part* FilePart(const testhttp::TSummary& summary, const std::string& fileName) {
    for (const auto& part : summary.Items)
        if (part.IsFile && part.FileName == fileName) return &part;
    return nullptr;
}

class MainWindow : public TLocalServerTest {
protected:
    void TearDown() override { FProgram.Close(FMain); }

    void StartProgram() {
        FProgram = TProcess(L"\"" + BuildFile(L"src\\app\\orvex.exe") + L"\"");
        ASSERT_TRUE(FProgram.Started()) << "cannot start orvex.exe";
        FMain = WaitForTopWindow(FProgram.Id(), app::kMainWindowTitle, cStartTimeout);
        ASSERT_NE(nullptr, FMain) << "the main window did not appear";
        for (int id : {app::idAddFiles, app::idSend, app::idCancel, app::idStatus, app::idAnswer, app::idDescription,
                       app::idRefresh})
            ASSERT_NE(nullptr, Item(id)) << "no control " << id;
        FStatus = Item(app::idStatus);
    }

    HWND Item(int id) const { return GetDlgItem(FMain, id); }

    // Adds one file with the "Add files" button and the system's open dialog.
    void AddFileThroughDialog(const std::wstring& path) {
        Click(Item(app::idAddFiles));
        HWND dialog = WaitForTopWindow(FProgram.Id(), L"Add files", 60000);
        ASSERT_NE(nullptr, dialog) << "the open dialog did not appear";
        // The name box: an edit (edt1) or a combo box with an edit (cmb13).
        HWND name = GetDlgItem(dialog, 0x480);
        if (!name) name = GetDlgItem(dialog, 0x47C);
        ASSERT_NE(nullptr, name) << "no file name box in the open dialog";
        ASSERT_TRUE(SetTextOf(name, path));
        Click(GetDlgItem(dialog, IDOK));
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 30000)) << "the open dialog did not close";
    }

    std::wstring SendAndWait() {
        return e2e::SendAndWait(Item(app::idSend), Item(app::idCancel), FStatus, cSendTimeout);
    }
    std::wstring WaitForOutcome() {
        return WaitForSendEnd(Item(app::idSend), Item(app::idCancel), FStatus, cSendTimeout);
    }

    testutil::TempDir FDir;
    TProcess FProgram;
    HWND FMain = nullptr;
    HWND FStatus = nullptr;
};

TEST_F(MainWindow, AFileAddedWithTheOpenDialogIsSentAndTheAnswerShown) {
    const std::wstring path = FDir.Path() + L"e2e-note.txt";
    const std::string content = testhttp::Pattern(3000, 11);
    ASSERT_TRUE(WriteBytes(path, content));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_TRUE(SetTextOf(Item(app::idDescription), L"End-to-end: one added file"));
    ASSERT_NO_FATAL_FAILURE(AddFileThroughDialog(path));

    EXPECT_EQ(L"Sent. The server answered 200.", SendAndWait());
    const std::wstring shown = TextOf(Item(app::idAnswer));
    EXPECT_NE(std::wstring::npos, shown.find(L"check ok\r\n")) << rtl::ToUtf8(shown);
    const testhttp::TSummary summary(AnswerBody(shown));
    EXPECT_EQ("ok", summary.Check);
    EXPECT_EQ("/support/upload", summary.Path);
    EXPECT_EQ(static_cast<int>(summary.Items.size()), summary.Parts);
    EXPECT_NE(std::wstring::npos, shown.find(L"parts " + std::to_wstring(summary.Parts) + L"\r\n"));
    const testhttp::TSummary::Part* part = FilePart(summary, "e2e-note.txt");
    ASSERT_NE(nullptr, part) << "the added file was not sent:\n" << AnswerBody(shown);
    EXPECT_EQ(content.size(), part->Length);
    EXPECT_EQ(testhttp::Crc32(content.data(), content.size()), part->Crc);
    bool described = false;
    const std::string description = "End-to-end: one added file";
    for (const auto& item : summary.Items)
        described |= item.Name == "description" && item.Crc == testhttp::Crc32(description.data(), description.size());
    EXPECT_TRUE(described);
    EXPECT_FALSE(IsWindowEnabled(Item(app::idCancel)));
    EXPECT_TRUE(IsWindowEnabled(Item(app::idSend)));
}

TEST_F(MainWindow, CancellingALargeUploadLeavesTheProgramUsable) {
    const std::wstring big = FDir.Path() + L"e2e-big.bin";
    ASSERT_TRUE(WriteFillerFile(big, 200ull << 20));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(AddFileThroughDialog(big));

    Click(Item(app::idSend));
    const std::wstring status = WaitForTextPrefix(FStatus, L"Sending ", cSendTimeout);
    ASSERT_EQ(0u, status.rfind(L"Sending ", 0)) << rtl::ToUtf8(status);
    EXPECT_TRUE(IsWindowEnabled(Item(app::idCancel)));
    Click(Item(app::idCancel));
    EXPECT_EQ(L"Sending was cancelled.", WaitForOutcome());
    EXPECT_TRUE(FProgram.Running());
    EXPECT_TRUE(Responds(FMain));
    EXPECT_FALSE(IsWindowEnabled(Item(app::idCancel)));
    EXPECT_TRUE(IsWindowEnabled(Item(app::idSend)));

    // Usable: the cancelled upload let go of the file, a refresh drops it
    // from the list, and the next send goes through.
    ASSERT_TRUE(DeleteFileW(big.c_str())) << "the file is still held open: " << GetLastError();
    Click(Item(app::idRefresh));
    ASSERT_TRUE(SetTextOf(Item(app::idDescription), L"after a cancel"));
    EXPECT_EQ(L"Sent. The server answered 200.", SendAndWait()) << rtl::ToUtf8(TextOf(Item(app::idAnswer)));
    const testhttp::TSummary summary(AnswerBody(TextOf(Item(app::idAnswer))));
    EXPECT_EQ("ok", summary.Check);
    EXPECT_EQ(nullptr, FilePart(summary, "e2e-big.bin"));
}

TEST_F(MainWindow, WhileAServerDoesNotAnswerTheWindowStaysLiveAndCancelEndsTheSendAtOnce) {
    TSilentServer silent;
    ASSERT_NE(0, silent.Port()) << "cannot listen on 127.0.0.1";
    ASSERT_TRUE(FServer.SetString(L"127.0.0.1:" + std::to_wstring(silent.Port())));
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_TRUE(SetTextOf(Item(app::idDescription), L"to a server that never answers"));

    Click(Item(app::idSend));
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Item(app::idCancel)) != FALSE; }, 30000));
    // Long enough that a window whose thread waits for the answer counts
    // as hung; the upload's own time-out is a minute away.
    Sleep(6000);
    EXPECT_TRUE(Responds(FMain));
    EXPECT_TRUE(IsWindowEnabled(Item(app::idCancel)));
    EXPECT_FALSE(IsWindowEnabled(Item(app::idSend))) << rtl::ToUtf8(TextOf(FStatus));

    const DWORD clicked = GetTickCount();
    Click(Item(app::idCancel));
    EXPECT_EQ(L"Sending was cancelled.", WaitForOutcome());
    EXPECT_LT(GetTickCount() - clicked, 10000u) << "the cancel waited for the upload's time-out";

    // The abandoned upload does not stand in the way of the next one.
    ASSERT_TRUE(FServer.SetString(L"127.0.0.1:" + std::to_wstring(testhttp::TServers::Get().Port("http"))));
    EXPECT_EQ(L"Sent. The server answered 200.", SendAndWait());
}

TEST_F(MainWindow, AProxyThatWantsALoginIsReportedClearly) {
    const testhttp::TServers& servers = testhttp::TServers::Get();
    ASSERT_TRUE(FProxyServer.SetString(L"127.0.0.1"));
    ASSERT_TRUE(FProxyPort.SetDword(static_cast<DWORD>(servers.Port("proxy_auth"))));
    ASSERT_TRUE(FSystemProxy.Use(L"127.0.0.1:" + std::to_wstring(servers.Port("proxy_auth"))));
    const std::vector<std::wstring> reportsBefore = CrashReports();
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_TRUE(SetTextOf(Item(app::idDescription), L"through a proxy without a login"));

    const std::wstring status = SendAndWait();
    EXPECT_EQ(0u, status.rfind(L"The proxy server refused the request because it needs a login", 0))
        << rtl::ToUtf8(status) << "\n"
        << rtl::ToUtf8(TextOf(Item(app::idAnswer)));
    EXPECT_TRUE(FProgram.Running());
    EXPECT_TRUE(Responds(FMain));
    EXPECT_TRUE(IsWindowEnabled(Item(app::idSend)));
    EXPECT_EQ(reportsBefore, CrashReports()) << "a refused upload must not produce a crash report";
    EXPECT_EQ(nullptr, FindTopWindow(0, diagview::kViewerTitle));
}

TEST_F(MainWindow, ACrashSelfTestReportIsSentFromTheDiagnosticsProgram) {
    size_t index = 0;
    while (index < app::SelfTests().size() && app::SelfTests()[index].Test != app::TSelfTest::HandlerRaise) ++index;
    ASSERT_LT(index, app::SelfTests().size());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const std::wstring reportPrefix = L"scripterror-" + std::to_wstring(FProgram.Id()) + L"-";

    PostMessageW(FMain, WM_COMMAND, app::cmSelfTestFirst + index, 0);
    const std::wstring captionPrefix = std::wstring(diagview::kViewerTitle) + L" - " + reportPrefix;
    HWND viewerWindow = WaitForTopWindow(0, captionPrefix, cStartTimeout);
    TProcess viewer = TProcess::OfWindow(viewerWindow);
    ASSERT_NE(nullptr, viewerWindow) << "the diagnostics program did not show the report";
    const std::wstring reportName = TextOf(viewerWindow).substr(std::wcslen(diagview::kViewerTitle) + 3);
    const std::wstring reportPath = env::GetDiagFolder() + reportName;
    EXPECT_TRUE(FileExists(reportPath));

    EXPECT_EQ(L"Sent. The server answered 200.",
              e2e::SendAndWait(GetDlgItem(viewerWindow, diagview::idSend), GetDlgItem(viewerWindow, diagview::idCancel),
                               GetDlgItem(viewerWindow, diagview::idStatus), cSendTimeout));
    const std::wstring shown = TextOf(GetDlgItem(viewerWindow, diagview::idAnswer));
    EXPECT_NE(std::wstring::npos, shown.find(L"check ok\r\n")) << rtl::ToUtf8(shown);
    const testhttp::TSummary summary(AnswerBody(shown));
    EXPECT_EQ("ok", summary.Check);
    const testhttp::TSummary::Part* report = FilePart(summary, rtl::ToUtf8(reportName));
    ASSERT_NE(nullptr, report) << AnswerBody(shown);
    EXPECT_EQ(FileSize(reportPath), report->Length);
    // A grown error log goes compressed.
    EXPECT_TRUE(FilePart(summary, "orvex.errlog") || FilePart(summary, "orvex.errlog.zip"))
        << "the program's error log goes with the report";
    const std::wstring minidumpPath = crash::report::MinidumpPathFor(reportPath);
    const testhttp::TSummary::Part* minidump = FilePart(summary, rtl::ToUtf8(rtl::ExtractFileName(minidumpPath)));
    ASSERT_NE(nullptr, minidump) << "the minidump goes with the report";
    EXPECT_EQ(FileSize(minidumpPath), minidump->Length);

    viewer.Close(viewerWindow);
    DeleteFileW(reportPath.c_str());
    DeleteFileW(minidumpPath.c_str());
}

}  // namespace
