// The main window against the local upload servers, in this process: what
// a send puts on the wire (checked by the server's independent multipart
// parsers), an untrusted certificate said in the window, and the answer
// saved through the folder dialog under a Windows-safe name.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "TestUtil.h"

#include "app/MainForm.h"
#include "app/MainFormIds.h"
#include "app/SendMemory.h"
#include "config/Upload_Settings.h"
#include "env/DiagPaths.h"
#include "env/TempFile.h"
#include "env/Version.h"
#include "http/NetTestUtil.h"
#include "rtl/FilePath.h"
#include "rtl/Forms.h"
#include "rtl/Text.h"
#include "shell/ShellFolderDialog.h"
#include "support/ZipFile.h"
#include <commctrl.h>

namespace {

class MainWindowNetwork : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testhttp::TServers::Get().Running()) << "the upload test servers are not running";
        rtl::FormsStartup();
        rtl::Application->OnException = [this](rtl::Exception& e) { Raised.push_back(e.Message); };
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, config::kUploadSettingsKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &FKey, nullptr));
        RegDeleteTreeW(HKEY_CURRENT_USER, app::kSendMemoryKey);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, app::kSendMemoryKey);
        if (FKey) {
            RegDeleteValueW(FKey, L"Debug_UploadProtocol");
            RegDeleteValueW(FKey, L"Debug_UploadServer");
            RegCloseKey(FKey);
        }
        rtl::FormsShutdown();
    }
    void Endpoint(const std::wstring& protocol, const std::wstring& server) {
        for (auto [name, value] :
             {std::pair{L"Debug_UploadProtocol", protocol}, std::pair{L"Debug_UploadServer", server}})
            RegSetValueExW(FKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    static std::wstring ChildText(HWND form, int id) {
        wchar_t buf[8192] = {};
        GetWindowTextW(GetDlgItem(form, id), buf, 8192);
        return buf;
    }
    // A form with only `file` checked.
    app::TMainForm* FormSending(const std::wstring& file) {
        auto* form = new app::TMainForm(rtl::Application);
        HWND list = GetDlgItem(form->Handle(), app::idFileList);
        for (int i = 0; i < static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); ++i)
            ListView_SetCheckState(list, i, FALSE);
        form->AddFiles({file});
        return form;
    }
    std::vector<std::wstring> Raised;
    HKEY FKey = nullptr;
};

TEST_F(MainWindowNetwork, SendsDescriptionContactVersionAndTheCheckedFile) {
    const auto& servers = testhttp::TServers::Get();
    Endpoint(L"http", L"127.0.0.1:" + std::to_wstring(servers.Port("http")));
    testutil::TempDir dir;
    const uint32_t crc = testhttp::WritePatternFile(dir.Path() + L"crash report.txt", 300000, 7);
    app::TMainForm* form = FormSending(dir.Path() + L"crash report.txt");
    const std::wstring description = L"Crashed while saving \u00E9t\u00E9 \"quotes\"\r\nsecond line";
    SetWindowTextW(GetDlgItem(form->Handle(), app::idDescription), description.c_str());
    SetWindowTextW(GetDlgItem(form->Handle(), app::idContact), L"anna@example.test");
    form->Send();

    ASSERT_EQ(support::TSendOutcome::Delivered, form->LastResult().Outcome) << rtl::ToAnsi(form->LastResult().Message);
    EXPECT_EQ(L"Sent. The server answered 200.", ChildText(form->Handle(), app::idStatus));
    testhttp::TSummary summary(form->LastResult().Body);
    EXPECT_EQ("ok", summary.Check);
    EXPECT_EQ("/support/upload", summary.Path);
    ASSERT_EQ(5, summary.Parts);
    const char* names[] = {"description", "contact", "program", "version", "file1"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(names[i], summary.Items[i].Name);
    // What the window shows besides the typed fields is what was sent.
    const std::string program = "Orvex Diagnostics", version = rtl::ToUtf8(env::GetProgramVersionText());
    EXPECT_EQ(testhttp::Crc32(program.data(), program.size()), summary.Items[2].Crc);
    EXPECT_EQ(testhttp::Crc32(version.data(), version.size()), summary.Items[3].Crc);
    EXPECT_EQ(L"program: Orvex Diagnostics; version: " + env::GetProgramVersionText(),
              ChildText(form->Handle(), app::idAddedFields));
    const std::string utf8 = rtl::ToUtf8(description);
    EXPECT_EQ(utf8.size(), summary.Items[0].Length);
    EXPECT_EQ(testhttp::Crc32(utf8.data(), utf8.size()), summary.Items[0].Crc);
    EXPECT_TRUE(summary.Items[4].IsFile);
    EXPECT_EQ("crash report.txt", summary.Items[4].FileName);
    EXPECT_EQ("text/plain", summary.Items[4].ContentType);
    EXPECT_EQ(300000u, summary.Items[4].Length);
    EXPECT_EQ(crc, summary.Items[4].Crc);  // pattern bytes do not shrink: the log went as it is
    // The answer box shows the body with CR LF line ends.
    EXPECT_NE(std::wstring::npos, ChildText(form->Handle(), app::idAnswer).find(L"check ok\r\n"));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(form->Handle(), app::idSaveAnswer)));
    EXPECT_EQ(L"&Send", ChildText(form->Handle(), app::idSend));
    EXPECT_TRUE(Raised.empty());
}

bool IsChecked(const app::TMainForm& form, const std::wstring& path) {
    const auto files = form.CheckedFiles();
    return std::find(files.begin(), files.end(), path) != files.end();
}

// Once the server accepted a send, the files listed then count as sent:
// only newer ones are checked by default, in this run and the next. The
// description goes with the send, the contact stays, and what is typed
// meanwhile survives closing the window.
TEST_F(MainWindowNetwork, OnlyFilesNewerThanTheLastAcceptedSendAreCheckedAndTheDraftIsKeptUntilThen) {
    Endpoint(L"http", L"127.0.0.1:" + std::to_wstring(testhttp::TServers::Get().Port("http")));
    const std::wstring old = env::GetDiagFolder() + L"kept-old.log", fresh = env::GetDiagFolder() + L"kept-new.log";
    testutil::Touch(old, std::string(1500, 'o'), 60);
    auto* form = new app::TMainForm(rtl::Application);
    ASSERT_TRUE(IsChecked(*form, old)) << "before any send every file is checked";
    const HWND list = GetDlgItem(form->Handle(), app::idFileList);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) ListView_SetCheckState(list, i, FALSE);
    form->AddFiles({old});
    EXPECT_EQ(L"Fi&les to send: 1 of " + std::to_wstring(count) + L" checked, 1.5 KB",
              ChildText(form->Handle(), app::idFilesLabel));
    SetWindowTextW(GetDlgItem(form->Handle(), app::idDescription), L"first");
    SetWindowTextW(GetDlgItem(form->Handle(), app::idContact), L"anna@example.test");
    form->Send();
    ASSERT_EQ(support::TSendOutcome::Delivered, form->LastResult().Outcome) << rtl::ToAnsi(form->LastResult().Message);
    EXPECT_TRUE(form->CheckedFiles().empty());
    EXPECT_EQ(L"", ChildText(form->Handle(), app::idDescription));
    EXPECT_EQ(L"anna@example.test", ChildText(form->Handle(), app::idContact));

    testutil::Touch(fresh, "new", 0);
    form->RefreshFiles();
    EXPECT_EQ(std::vector<std::wstring>{fresh}, form->CheckedFiles());
    SetWindowTextW(GetDlgItem(form->Handle(), app::idDescription), L"second");
    SendMessageW(form->Handle(), WM_CLOSE, 0, 0);
    delete form;

    auto* next = new app::TMainForm(rtl::Application);
    EXPECT_FALSE(IsChecked(*next, old));
    EXPECT_TRUE(IsChecked(*next, fresh));
    EXPECT_EQ(L"second", ChildText(next->Handle(), app::idDescription));
    EXPECT_EQ(L"anna@example.test", ChildText(next->Handle(), app::idContact));
    DeleteFileW(old.c_str());
    DeleteFileW(fresh.c_str());
    EXPECT_TRUE(Raised.empty());
}

// A large log goes as a zip archive of itself: the very archive the writer
// makes of it, under the log's name with ".zip"; no temporary file stays.
TEST_F(MainWindowNetwork, ALargeLogGoesAsItsZipArchive) {
    Endpoint(L"http", L"127.0.0.1:" + std::to_wstring(testhttp::TServers::Get().Port("http")));
    testutil::TempDir dir, temp;
    SetEnvironmentVariableW(L"TMP", temp.Path().c_str());
    std::string log;
    for (int i = 0; log.size() < 300000; ++i) log += "12:00:00 request " + std::to_string(i) + " answered\r\n";
    testutil::Touch(dir.Path() + L"x.log", log, 5);
    app::TMainForm* form = FormSending(dir.Path() + L"x.log");
    form->Send();
    ASSERT_EQ(support::TSendOutcome::Delivered, form->LastResult().Outcome) << rtl::ToAnsi(form->LastResult().Message);
    testhttp::TSummary summary(form->LastResult().Body);
    ASSERT_EQ(5, summary.Parts);
    EXPECT_EQ("x.log.zip", summary.Items[4].FileName);
    EXPECT_EQ("application/zip", summary.Items[4].ContentType);
    EXPECT_TRUE(testutil::FilesIn(temp.Path()).empty()) << "a temporary archive was left behind";
    rtl::ScopedFileHandle source(
        CreateFileW((dir.Path() + L"x.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME modified{};
    GetFileTime(source.Get(), nullptr, nullptr, &modified);
    env::TTempFile archive;
    support::WriteZipOfFile(source.Get(), log.size(), L"x.log", modified, archive.Handle());
    const std::string expected = testutil::ReadFileBytes(archive.Path());
    EXPECT_GT(log.size() / 4, expected.size());
    EXPECT_EQ(expected.size(), summary.Items[4].Length);
    EXPECT_EQ(testhttp::Crc32(expected.data(), expected.size()), summary.Items[4].Crc);
    SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_TRUE(Raised.empty());
}

TEST_F(MainWindowNetwork, AnUntrustedCertificateIsSaidInTheWindow) {
    const auto& servers = testhttp::TServers::Get();
    Endpoint(L"https", L"127.0.0.1:" + std::to_wstring(servers.Port("https_bad")));
    testutil::TempDir dir;
    testhttp::WritePatternFile(dir.Path() + L"a.log", 1000, 1);
    app::TMainForm* form = FormSending(dir.Path() + L"a.log");
    form->Send();
    EXPECT_EQ(support::TSendOutcome::Failed, form->LastResult().Outcome);
    EXPECT_NE(std::wstring::npos, ChildText(form->Handle(), app::idStatus).find(L"certificate is not trusted"))
        << rtl::ToAnsi(ChildText(form->Handle(), app::idStatus));
    EXPECT_NE(std::wstring::npos, ChildText(form->Handle(), app::idAnswer).find(L"Technical details:"));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(form->Handle(), app::idSaveAnswer)));
    EXPECT_TRUE(Raised.empty());
}

// Chooses `folder` in the folder dialog the main window opens, from another thread.
class FolderDialogAnswerer {
public:
    FolderDialogAnswerer(HWND owner, std::wstring folder)
        : FThread([this, owner, folder] {
              for (int i = 0; i < 600 && !FStop; ++i) {
                  HWND dialog = nullptr;
                  while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) != nullptr)
                      if (GetWindow(dialog, GW_OWNER) == owner && IsWindowVisible(dialog)) break;
                  if (dialog) {
                      // The dialog selects its start folder while it initialises:
                      // select ours until the tree shows it, then press OK.
                      for (int tries = 0; tries < 40 && !SelectionShows(dialog, folder); ++tries) {
                          shell::TShellFolderDialog::SetSelectionPath(dialog, folder);
                          Sleep(250);
                      }
                      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
                      Answered = true;
                      return;
                  }
                  Sleep(100);
              }
          }) {}
    ~FolderDialogAnswerer() {
        FStop = true;
        FThread.join();
    }
    std::atomic<bool> Answered{false};

private:
    // Whether the dialog's tree has the folder's own item selected.
    static bool SelectionShows(HWND dialog, const std::wstring& folder) {
        HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
        for (HWND child = nullptr; !tree && (child = FindWindowExW(dialog, child, nullptr, nullptr));)
            tree = FindWindowExW(child, nullptr, WC_TREEVIEWW, nullptr);
        if (!tree) return false;
        wchar_t text[MAX_PATH] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem = TreeView_GetSelection(tree);
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        if (!item.hItem || !TreeView_GetItem(tree, &item)) return false;
        return _wcsicmp(text, rtl::ExtractFileName(folder).c_str()) == 0;
    }

    std::atomic<bool> FStop{false};
    std::thread FThread;
};

TEST_F(MainWindowNetwork, TheAnswerIsSavedUnderAWindowsSafeNameWithoutOverwriting) {
    const auto& servers = testhttp::TServers::Get();
    // The server sends the Content-Disposition its query asks for; the
    // endpoint's server setting carries that query in front of the path.
    Endpoint(L"http", L"127.0.0.1:" + std::to_wstring(servers.Port("http")) +
                          L"/x?disp=attachment%3B%20filename%3D%22nul.txt.%22&ignored=");
    testutil::TempDir source, target;
    testhttp::WritePatternFile(source.Path() + L"b.log", 5000, 2);
    app::TMainForm* form = FormSending(source.Path() + L"b.log");
    form->Send();
    ASSERT_EQ(support::TSendOutcome::Delivered, form->LastResult().Outcome) << rtl::ToAnsi(form->LastResult().Message);
    EXPECT_EQ("nul.txt.", form->LastResult().SuggestedFileName);
    EXPECT_NE(std::wstring::npos, ChildText(form->Handle(), app::idStatus).find(L"Suggested file name: nul.txt."));

    std::wstring folder = target.Path();
    folder.pop_back();
    for (const wchar_t* expected : {L"_nul.txt", L"_nul (2).txt"}) {
        {
            FolderDialogAnswerer answerer(form->Handle(), folder);
            SendMessageW(form->Handle(), WM_COMMAND, app::cmSaveAnswer, 0);
            EXPECT_TRUE(answerer.Answered);
        }
        const std::wstring path = target.Path() + expected;
        // The folder dialog hands back the folder in its display case.
        EXPECT_EQ(0, _wcsicmp((L"Answer saved as " + path).c_str(), ChildText(form->Handle(), app::idStatus).c_str()))
            << rtl::ToAnsi(ChildText(form->Handle(), app::idStatus));
        EXPECT_EQ(form->LastResult().Body, testutil::ReadFileBytes(path)) << rtl::ToAnsi(path);
    }
    EXPECT_TRUE(Raised.empty());
}

}  // namespace
