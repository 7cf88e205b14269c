// The main window's parts: safe names for saved answers, the file list's
// order, size and progress texts, user-facing upload errors, the layout at
// 96 and 144 dots per inch, the remembered position, and the window itself
// refusing empty sends and reporting a dead server in its status line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "app/CommandLine.h"
#include "app/DiagFiles.h"
#include "app/LayoutCheck.h"
#include "app/MainForm.h"
#include "app/MainFormIds.h"
#include "app/MainLayout.h"
#include "app/SafeFileName.h"
#include "app/SendMemory.h"
#include "app/WindowPlacement.h"
#include "config/Upload_Settings.h"
#include "crash/ZudAvizi.h"
#include "env/DiagPaths.h"
#include "env/Version.h"
#include "rtl/Forms.h"
#include "rtl/SystemAddresses.h"
#include "rtl/Text.h"
#include "support/SupportUpload.h"

#include <commctrl.h>
#include <shlobj.h>
#include <wininet.h>

namespace {

using testutil::PlaceOf;
using testutil::Touch;

// --- names for saved answers ---

TEST(SafeFileName, SuggestedNamesBecomeCreatableFilesOfTheirOwnName) {
    struct Case {
        std::wstring In, Out;
    } cases[] = {
        {L"report.txt", L"report.txt"},
        {L"..\\..\\windows\\win.ini", L".._.._windows_win.ini"},
        {L"/etc/passwd", L"_etc_passwd"},
        {L"a:b*c?d\"e<f>g|h.txt", L"a_b_c_d_e_f_g_h.txt"},
        {L"line\r\nbreak\t.txt", L"line__break_.txt"},
        {L"CON", L"_CON"},
        {L"nul.txt", L"_nul.txt"},
        {L"Com1.log", L"_Com1.log"},
        {L"lpt9", L"_lpt9"},
        {L"con .txt", L"_con .txt"},
        {L"COM10", L"COM10"},
        {L"LPT0.txt", L"LPT0.txt"},
        {L"console.txt", L"console.txt"},
        {L"answer. . .", L"answer"},
        {L"  padded  ", L"padded"},
        {L"nul. ", L"_nul"},
        {L"...", L"fallback.bin"},
        {L"", L"fallback.bin"},
        {L"/", L"fallback.bin"},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        const std::wstring name = app::WindowsSafeFileName(c.In, L"fallback.bin");
        EXPECT_EQ(c.Out, name) << "for " << rtl::ToAnsi(c.In);
        // The system must create exactly that file: no device, no other folder, no renaming.
        const std::wstring path = dir.Path() + name;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << rtl::ToAnsi(name);
        CloseHandle(h);
        WIN32_FIND_DATAW fd;
        HANDLE f = FindFirstFileW(path.c_str(), &fd);
        ASSERT_NE(INVALID_HANDLE_VALUE, f) << rtl::ToAnsi(name) << " was not created as a file";
        FindClose(f);
        EXPECT_EQ(name, std::wstring(fd.cFileName));
        DeleteFileW(path.c_str());
    }
}

TEST(SafeFileName, LongNamesKeepTheirExtensionAndAnswersGetOneFromTheirType) {
    const std::wstring longName = std::wstring(300, L'x') + L".log";
    const std::wstring cut = app::WindowsSafeFileName(longName, L"f");
    EXPECT_EQ(200u, cut.size());
    EXPECT_EQ(L".log", cut.substr(cut.size() - 4));
    EXPECT_EQ(L"a", app::WindowsSafeFileName(L"a" + std::wstring(250, L'.'), L"f"));

    EXPECT_EQ(L"answer.html",
              app::AnswerFileName("", "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"));
    EXPECT_EQ(L"answer.txt", app::AnswerFileName("", "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\n\r\n"));
    EXPECT_EQ(L"answer.json", app::AnswerFileName("", "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n"));
    EXPECT_EQ(L"answer.bin", app::AnswerFileName("", "HTTP/1.1 200 OK\r\n\r\n"));
    EXPECT_EQ(L"ticket_4711.txt", app::AnswerFileName("ticket:4711.txt", "Content-Type: text/html\r\n"));
    EXPECT_EQ(L"r\u00E9sum\u00E9.txt", app::AnswerFileName("r\xC3\xA9sum\xC3\xA9.txt", ""));
}

TEST(SafeFileName, ExistingFilesAreNeverOverwritten) {
    testutil::TempDir dir;
    EXPECT_EQ(dir.Path() + L"answer.txt", app::UniqueFilePath(dir.Path(), L"answer.txt"));
    Touch(dir.Path() + L"answer.txt", "1", 0);
    EXPECT_EQ(dir.Path() + L"answer (2).txt", app::UniqueFilePath(dir.Path(), L"answer.txt"));
    Touch(dir.Path() + L"answer (2).txt", "2", 0);
    std::wstring folder = dir.Path();
    folder.pop_back();  // without the trailing backslash
    EXPECT_EQ(dir.Path() + L"answer (3).txt", app::UniqueFilePath(folder, L"answer.txt"));
    Touch(dir.Path() + L"README", "3", 0);
    EXPECT_EQ(dir.Path() + L"README (2)", app::UniqueFilePath(dir.Path(), L"README"));
}

// --- the file list ---

TEST(DiagFiles, FolderFilesComeNewestFirstWithoutSubfolders) {
    testutil::TempDir dir;
    Touch(dir.Path() + L"old.log", "old", 120);
    Touch(dir.Path() + L"new.txt", "newest file", 1);
    Touch(dir.Path() + L"middle.errlog", "m", 30);
    CreateDirectoryW((dir.Path() + L"sub").c_str(), nullptr);
    Touch(dir.Path() + L"sub\\inner.log", "x", 0);
    std::wstring noSlash = dir.Path();
    noSlash.pop_back();
    const auto files = app::ListFolderFiles(noSlash);
    ASSERT_EQ(3u, files.size());
    EXPECT_EQ(L"new.txt", files[0].Name);
    EXPECT_EQ(L"middle.errlog", files[1].Name);
    EXPECT_EQ(L"old.log", files[2].Name);
    EXPECT_EQ(dir.Path() + L"new.txt", files[0].Path);
    EXPECT_EQ(11u, files[0].Size);
    EXPECT_TRUE(app::ListFolderFiles(dir.Path() + L"missing").empty());
    app::TDiagFile f;
    EXPECT_FALSE(app::ReadDiagFile(dir.Path() + L"sub", f));
    EXPECT_TRUE(app::ReadDiagFile(dir.Path() + L"old.log", f));
    EXPECT_EQ(L"old.log", f.Name);
    EXPECT_EQ(16u, app::FormatFileTime(f.Modified).size());  // yyyy-mm-dd hh:nn
}

// The time of the last accepted send as stored: only a whole, real UTC
// time is taken back, so a damaged value checks every file again.
TEST(SendMemory, TheLastSendTimeIsReadBackOnlyWhenItIsARealTime) {
    FILETIME t{};
    ASSERT_TRUE(app::ParseUtcTime(L"2026-12-09T20:30:15Z", t));
    EXPECT_EQ(L"2026-12-09T20:30:15Z", app::FormatUtcTime(t));
    for (const wchar_t* bad : {L"", L"2026-02-30T10:00:00Z", L"2026-12-09T24:00:00Z", L"2026-12-09T20:30:15",
                               L"2026-12-09T20:30:15Z and more", L"yesterday"})
        EXPECT_FALSE(app::ParseUtcTime(bad, t)) << rtl::ToAnsi(bad);
}

TEST(SendTexts, SizesProgressAndFailuresReadWell) {
    EXPECT_EQ(L"0 bytes", support::FormatByteSize(0));
    EXPECT_EQ(L"1 byte", support::FormatByteSize(1));
    EXPECT_EQ(L"1023 bytes", support::FormatByteSize(1023));
    EXPECT_EQ(L"1.0 KB", support::FormatByteSize(1024));
    EXPECT_EQ(L"1.5 KB", support::FormatByteSize(1536));
    EXPECT_EQ(L"1.0 MB", support::FormatByteSize(1048575));
    EXPECT_EQ(L"4.0 GB", support::FormatByteSize(4ull << 30));

    support::TSendProgress p;
    p.Sent = 1536;
    p.Total = 4096;
    EXPECT_EQ(L"1.5 KB of 4.0 KB sent", support::FormatProgress(p));
    p.BytesPerSecond = 512;
    p.SecondsLeft = 75;
    EXPECT_EQ(L"1.5 KB of 4.0 KB sent, 512 bytes/s, 1 min 15 s left", support::FormatProgress(p));
    p.SecondsLeft = 7322;
    EXPECT_EQ(L"1.5 KB of 4.0 KB sent, 512 bytes/s, 2 h 2 min left", support::FormatProgress(p));
    p.Sent = p.Total;
    EXPECT_EQ(L"4.0 KB of 4.0 KB sent, 512 bytes/s", support::FormatProgress(p));

    auto has = [](const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; };
    EXPECT_TRUE(
        has(support::DescribeUploadFailure(L"HttpSendRequestEx failed, error = 12045 ()", ERROR_INTERNET_INVALID_CA),
            L"certificate"));
    EXPECT_TRUE(has(support::DescribeUploadFailure(L"x", ERROR_INTERNET_CANNOT_CONNECT), L"No connection"));
    EXPECT_TRUE(
        has(support::DescribeUploadFailure(L"x", ERROR_INTERNET_NAME_NOT_RESOLVED), L"name could not be found"));
    EXPECT_TRUE(has(support::DescribeUploadFailure(L"Proxy login required but no UI specified, error = 0 ()", 0),
                    L"proxy server refused"));
    EXPECT_TRUE(has(support::DescribeUploadFailure(L"CreateFile failed, error = 2 ()", ERROR_FILE_NOT_FOUND), L"file"));
    EXPECT_EQ(L"The files could not be sent.", support::DescribeUploadFailure(L"x", 12345));
}

TEST(SendTexts, AnswersAreReadableInAnEditControl) {
    EXPECT_EQ(L"check ok\r\nparts 5\r\n", support::AnswerText("check ok\nparts 5\n"));
    EXPECT_EQ(L"a\r\nb", support::AnswerText("a\r\nb"));
    EXPECT_EQ(L"ab cd", support::AnswerText(std::string("ab\0cd", 5)));
    EXPECT_EQ(L"caf\u00e9", support::AnswerText("caf\xC3\xA9"));
    // Not UTF-8: read in the ANSI code page (1252 in the test prefix).
    EXPECT_EQ(L"caf\u00e9", support::AnswerText("caf\xE9"));
    EXPECT_EQ(L"", support::AnswerText(""));
    const std::wstring cut = support::AnswerText(std::string(100, 'x'), 10);
    EXPECT_EQ(0u, cut.rfind(std::wstring(10, L'x') + L"\r\n[", 0)) << rtl::ToUtf8(cut);
    EXPECT_EQ(std::wstring::npos, cut.find(std::wstring(11, L'x')));
}

// --- layout ---

void ExpectSoundLayout(int w, int h, int dpi) {
    const SIZE min = app::MainMinimumClientSize(dpi);
    const SIZE client{std::max<LONG>(w, min.cx), std::max<LONG>(h, min.cy)};
    testutil::ExpectInsideAndApart(app::ComputeMainLayout(w, h, dpi), client,
                                   std::to_string(w) + "x" + std::to_string(h) + " / " + std::to_string(dpi));
}

TEST(MainLayout, ControlsStayInsideAndApartAtEverySizeAndResolution) {
    for (int dpi : {96, 120, 144, 192}) {
        const SIZE min = app::MainMinimumClientSize(dpi);
        const SIZE def = app::MainDefaultClientSize(dpi);
        ExpectSoundLayout(min.cx, min.cy, dpi);
        ExpectSoundLayout(def.cx, def.cy, dpi);
        ExpectSoundLayout(def.cx * 2, def.cy * 2, dpi);
        ExpectSoundLayout(10, 10, dpi);  // below the minimum: laid out as the minimum
    }
    // Growing the window gives the room to the list and the answer; the buttons keep their size.
    const auto small = app::ComputeMainLayout(700, 600, 96), big = app::ComputeMainLayout(1000, 900, 96);
    EXPECT_GT(PlaceOf(big, app::idFileList).bottom - PlaceOf(big, app::idFileList).top,
              PlaceOf(small, app::idFileList).bottom - PlaceOf(small, app::idFileList).top);
    EXPECT_GT(PlaceOf(big, app::idAnswer).bottom - PlaceOf(big, app::idAnswer).top,
              PlaceOf(small, app::idAnswer).bottom - PlaceOf(small, app::idAnswer).top);
    const RECT s = PlaceOf(small, app::idSend), b = PlaceOf(big, app::idSend);
    EXPECT_EQ(s.right - s.left, b.right - b.left);
    EXPECT_EQ(1000 - 10, PlaceOf(big, app::idCancel).right);
    // 144 dpi is the 96 dpi design one and a half times.
    const auto at96 = app::ComputeMainLayout(0, 0, 96), at144 = app::ComputeMainLayout(0, 0, 144);
    const RECT send96 = PlaceOf(at96, app::idSend), send144 = PlaceOf(at144, app::idSend);
    EXPECT_EQ((send96.bottom - send96.top) * 3 / 2, send144.bottom - send144.top);
    EXPECT_EQ(rtl::WindowFontHeight(96) * 3 / 2, rtl::WindowFontHeight(144));
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        rtl::FormsStartup();
        rtl::Application->OnException = [this](rtl::Exception& e) { Raised.push_back(e.Message); };
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, app::kWindowPlacementKey);
        RegDeleteTreeW(HKEY_CURRENT_USER, app::kSendMemoryKey);
        rtl::FormsShutdown();
    }
    static std::wstring ChildText(HWND form, int id) {
        wchar_t buf[4096] = {};
        GetWindowTextW(GetDlgItem(form, id), buf, 4096);
        return buf;
    }
    std::vector<std::wstring> Raised;
};

TEST_F(MainWindowTest, CaptionsFitTheirControlsAt96And144Dpi) {
    auto* form = new app::TMainForm(rtl::Application);
    for (int dpi : {96, 144}) {
        HFONT font = rtl::CreateWindowFont(dpi);
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        for (const auto& place : app::ComputeMainLayout(0, 0, dpi)) {
            HWND child = GetDlgItem(form->Handle(), place.Id);
            ASSERT_TRUE(child) << "no control " << place.Id;
            wchar_t cls[32];
            GetClassNameW(child, cls, 32);
            if (_wcsicmp(cls, L"Button") != 0 && _wcsicmp(cls, L"Static") != 0) continue;
            // Texts that change at run time shorten themselves (ellipsis, wrapping).
            if (place.Id == app::idEndpoint || place.Id == app::idStatus) continue;
            std::wstring text = ChildText(form->Handle(), place.Id);
            text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
            if (text.empty()) continue;
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            const int room =
                place.Rect.right - place.Rect.left - (_wcsicmp(cls, L"Button") == 0 ? MulDiv(8, dpi, 96) : 0);
            EXPECT_LE(extent.cx, room) << rtl::ToAnsi(text) << " does not fit at " << dpi << " dpi";
            EXPECT_LE(extent.cy, place.Rect.bottom - place.Rect.top) << rtl::ToAnsi(text) << " at " << dpi << " dpi";
        }
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        DeleteObject(font);
    }
    // The real window follows the computed layout for its resolution.
    RECT rc;
    GetClientRect(form->Handle(), &rc);
    testutil::ExpectWindowFollows(form->Handle(), app::ComputeMainLayout(rc.right, rc.bottom, form->Dpi()));
}

TEST_F(MainWindowTest, PositionIsRememberedAndKeptOnTheScreen) {
    const RECT area{0, 0, 1024, 768};
    const RECT inside{100, 100, 700, 600};
    RECT r = rtl::FitToWorkArea(inside, area, 400, 300);
    EXPECT_TRUE(EqualRect(&r, &inside));
    r = rtl::FitToWorkArea(RECT{3000, -500, 3600, -300}, area, 400, 300);  // a monitor that is gone
    EXPECT_EQ(1024, r.right);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(600, r.right - r.left);
    EXPECT_EQ(300, r.bottom - r.top);  // grown to the minimum height
    r = rtl::FitToWorkArea(RECT{0, 0, 5000, 5000}, area, 400, 300);
    EXPECT_TRUE(EqualRect(&r, &area));

    int show = 0;
    {
        auto* first = new app::TMainForm(rtl::Application);
        EXPECT_FALSE(app::RestoreWindowPlacement(first->Handle(), 100, 100, show));
        MoveWindow(first->Handle(), 40, 50, 720, 640, FALSE);
        SendMessageW(first->Handle(), WM_CLOSE, 0, 0);  // closing stores the place
        delete first;
    }
    auto* second = new app::TMainForm(rtl::Application);
    RECT placed;
    GetWindowRect(second->Handle(), &placed);
    EXPECT_EQ(40, placed.left);
    EXPECT_EQ(50, placed.top);
    EXPECT_EQ(720, placed.right - placed.left);
    EXPECT_EQ(640, placed.bottom - placed.top);
}

TEST_F(MainWindowTest, ListsAddedFilesAndReportsADeadServerInItsStatusLine) {
    testutil::TempDir dir;
    Touch(dir.Path() + L"added.log", "some log text\r\n", 0);
    // Uploads go to a port nobody listens on.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, config::kUploadSettingsKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    auto setString = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    setString(L"Debug_UploadProtocol", L"http");
    setString(L"Debug_UploadServer", L"127.0.0.1:1");

    auto* form = new app::TMainForm(rtl::Application);
    HWND wnd = form->Handle();
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idEndpoint).find(L"http://127.0.0.1:1/support/upload"));
    const HWND list = GetDlgItem(wnd, app::idFileList);
    const int before = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    form->AddFiles({dir.Path() + L"added.log", dir.Path() + L"missing.log", dir.Path()});
    EXPECT_EQ(before + 1, static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idStatus).find(L"2 of the chosen items"));
    const auto checked = form->CheckedFiles();
    EXPECT_NE(checked.end(), std::find(checked.begin(), checked.end(), dir.Path() + L"added.log"));

    // Nothing checked and no description: nothing is sent.
    for (int i = 0; i < static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); ++i)
        ListView_SetCheckState(list, i, FALSE);
    form->Send();
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idStatus).find(L"Nothing to send"));

    // The dead server is an expected failure: said in the window, never raised.
    SetWindowTextW(GetDlgItem(wnd, app::idDescription), L"It crashed on start.");
    form->AddFiles({dir.Path() + L"added.log"});
    form->Send();
    EXPECT_EQ(support::TSendOutcome::Failed, form->LastResult().Outcome);
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idStatus).find(L"No connection to the server"))
        << rtl::ToAnsi(ChildText(wnd, app::idStatus));
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idAnswer).find(L"error = 12029"))
        << rtl::ToAnsi(ChildText(wnd, app::idAnswer));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(wnd, app::idSend)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wnd, app::idCancel)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wnd, app::idSaveAnswer)));
    // Trying again is offered, with the file still there and checked.
    EXPECT_EQ(L"&Try again", ChildText(wnd, app::idSend));
    EXPECT_EQ(form->CheckedFiles(), std::vector<std::wstring>{dir.Path() + L"added.log"});
    EXPECT_TRUE(Raised.empty());
    RegDeleteValueW(key, L"Debug_UploadProtocol");
    RegDeleteValueW(key, L"Debug_UploadServer");
    RegCloseKey(key);
}

// A double-clicked file, or one Enter is pressed on, is shown: a log of a
// type that has no program of its own opens in Notepad.
TEST_F(MainWindowTest, ADoubleClickedFileIsShownInAViewer) {
    testutil::TempDir dir;
    Touch(dir.Path() + L"viewed.errlog", "an error log\r\n", 0);
    auto* form = new app::TMainForm(rtl::Application);
    form->AddFiles({dir.Path() + L"viewed.errlog"});
    const HWND list = GetDlgItem(form->Handle(), app::idFileList);
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = L"viewed.errlog";
    const int index =
        static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
    ASSERT_GE(index, 0);
    RECT item{};
    item.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    HWND viewer = testutil::WaitForTopWindow(0, L"viewed.errlog", 60000);
    ASSERT_NE(nullptr, viewer) << rtl::ToAnsi(ChildText(form->Handle(), app::idStatus));
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    ASSERT_TRUE(testutil::WaitUntil([&] { return !IsWindow(viewer); }, 30000));

    // Enter on the focused file does the same, through the dialog keys.
    form->Show();
    SetFocus(list);
    ListView_SetItemState(list, index, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    PostMessageW(list, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(list, WM_KEYUP, VK_RETURN, 0xC0000001);
    for (int i = 0; i < 5; ++i) rtl::Application->ProcessMessages();
    viewer = testutil::WaitForTopWindow(0, L"viewed.errlog", 60000);
    ASSERT_NE(nullptr, viewer) << "Enter on the list did not open the file";
    PostMessageW(viewer, WM_CLOSE, 0, 0);
}

TEST_F(MainWindowTest, KeyboardTabOrderEnterAndShortcutsWork) {
    auto* form = new app::TMainForm(rtl::Application);
    const HWND wnd = form->Handle();
    form->Show();
    auto pump = [] {
        for (int i = 0; i < 5; ++i) {
            rtl::Application->ProcessMessages();
            Sleep(20);
        }
    };
    pump();
    const HWND list = GetDlgItem(wnd, app::idFileList);
    const bool someFiles = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0;
    // Tab walks the enabled controls top to bottom, left to right.
    std::vector<int> expected = {app::idFileList, app::idAddFiles, app::idAddFolder};
    if (someFiles) expected.push_back(app::idRemove);
    for (int id : {app::idRefresh, app::idDescription, app::idContact, app::idProxy, app::idAnswer, app::idSend})
        expected.push_back(id);
    std::vector<int> order;
    HWND at = list;
    for (size_t i = 0; i < expected.size(); ++i) {
        order.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(wnd, at, FALSE);
    }
    EXPECT_EQ(expected, order);
    EXPECT_EQ(list, at) << "Tab does not come back to the list";

    // Enter in the contact box presses Send.
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) ListView_SetCheckState(list, i, FALSE);
    const HWND contact = GetDlgItem(wnd, app::idContact);
    SetFocus(contact);
    PostMessageW(contact, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(contact, WM_KEYUP, VK_RETURN, 0xC0000001);
    pump();
    EXPECT_NE(std::wstring::npos, ChildText(wnd, app::idStatus).find(L"Nothing to send"))
        << rtl::ToAnsi(ChildText(wnd, app::idStatus));

    // F5 reads the diagnostic folder again.
    const std::wstring fresh = env::GetDiagFolder() + L"keyboard-test.log";
    Touch(fresh, "fresh", 0);
    PostMessageW(list, WM_KEYDOWN, VK_F5, 1);
    pump();
    EXPECT_EQ(count + 1, static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    wchar_t first[MAX_PATH] = {};
    ListView_GetItemText(list, 0, 0, first, MAX_PATH);
    EXPECT_STREQ(L"keyboard-test.log", first) << "the newest file is not on top";
    DeleteFileW(fresh.c_str());
    EXPECT_TRUE(Raised.empty());
}

TEST_F(MainWindowTest, AboutShowsTheVersionsOfTheProgramAndTheExceptionManager) {
    TZudAviziSystemAddresses table{};
    rtl::FillSystemAddresses(table);
    auto* manager = new crash::TZudAvizi(crash::emeDelphiGUI, table);
    crash::SetZudAvizi(manager);
    auto* form = new app::TMainForm(rtl::Application);
    std::wstring shown;
    std::thread reader([&] {
        HWND box = testutil::WaitForTopWindow(GetCurrentProcessId(), L"About Orvex Diagnostics", 20000);
        if (!box) return;
        shown = testutil::TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    SendMessageW(form->Handle(), WM_COMMAND, app::cmAbout, 0);
    reader.join();
    EXPECT_NE(std::wstring::npos, shown.find(L"Version " + env::GetProgramVersionText())) << rtl::ToAnsi(shown);
    EXPECT_NE(std::wstring::npos, shown.find(L"Exception manager " + manager->Version())) << rtl::ToAnsi(shown);
    EXPECT_NE(std::wstring::npos, shown.find(crash::TZudAvizi::About())) << rtl::ToAnsi(shown);
    crash::SetZudAvizi(nullptr);
    delete manager;
}

TEST(CommandLine, OptionsAndFilesToSend) {
    app::TOptions o = app::ParseOptions({L"C:\\a.log", L"--selftest=access-read", L"D:\\logs"});
    EXPECT_TRUE(o.Error.empty());
    EXPECT_EQ(app::TSelfTest::ReadViolation, o.SelfTest);
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\a.log", L"D:\\logs"}), o.Paths);
    o = app::ParseOptions({L"--", L"--odd name.txt", L"-h"});
    EXPECT_TRUE(o.Error.empty());
    EXPECT_FALSE(o.Help);
    EXPECT_EQ((std::vector<std::wstring>{L"--odd name.txt", L"-h"}), o.Paths);
    EXPECT_TRUE(app::ParseOptions({L"/?"}).Help);
    EXPECT_EQ(L"Unknown option: --frobnicate", app::ParseOptions({L"--frobnicate", L"--bad2"}).Error);
    EXPECT_EQ(L"Unknown self-test: nothing", app::ParseOptions({L"--selftest=nothing"}).Error);
    EXPECT_NE(std::wstring::npos, app::UsageText().find(L"stack-overflow"));
}

TEST_F(MainWindowTest, FilesAndFoldersDroppedOnTheWindowAreAdded) {
    testutil::TempDir dir;
    Touch(dir.Path() + L"one.log", "1", 0);
    CreateDirectoryW((dir.Path() + L"folder").c_str(), nullptr);
    Touch(dir.Path() + L"folder\\two.txt", "22", 0);
    Touch(dir.Path() + L"folder\\three.txt", "333", 0);
    auto* form = new app::TMainForm(rtl::Application);
    const HWND list = GetDlgItem(form->Handle(), app::idFileList);
    const int before = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    // What the shell hands over: a DROPFILES header, then zero-ended paths and one more zero.
    std::wstring names = dir.Path() + L"one.log" + L'\0' + dir.Path() + L"folder" + L'\0' + L'\0';
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(mem));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(mem);
    SendMessageW(form->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(mem), 0);  // the window frees it
    EXPECT_EQ(before + 3, static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)));
    const auto checked = form->CheckedFiles();
    for (const wchar_t* name : {L"one.log", L"folder\\two.txt", L"folder\\three.txt"})
        EXPECT_NE(checked.end(), std::find(checked.begin(), checked.end(), dir.Path() + name)) << rtl::ToAnsi(name);
}

// A program started with a resolution set in the registry lays its main
// window out for it: the child reports what its window looks like.
TEST(MainWindowDpi, TheWindowIsLaidOutForTheScreensResolution) {
    HKEY desktop;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &desktop, nullptr));
    DWORD old = 0, oldSize = sizeof(old), type = 0;
    const bool hadOld = RegQueryValueExW(desktop, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&old),
                                         &oldSize) == ERROR_SUCCESS &&
                        type == REG_DWORD;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (DWORD dpi : {96u, 144u}) {
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
        std::string out;
        EXPECT_EQ(0u, testutil::RunAndWait(L"\"" + std::wstring(self) + L"\" --child=layout", &out)) << out;
        const SIZE def = app::MainDefaultClientSize(static_cast<int>(dpi));
        const std::string expected = "dpi=" + std::to_string(dpi) + " client=" + std::to_string(def.cx) + "x" +
                                     std::to_string(def.cy) + " send=" + std::to_string(MulDiv(26, dpi, 96)) +
                                     " font=" + std::to_string(rtl::WindowFontHeight(static_cast<int>(dpi)));
        EXPECT_NE(std::string::npos, out.find(expected)) << "expected " << expected << " in " << out;
    }
    if (hadOld)
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof(old));
    else
        RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
}

}  // namespace

// The child of the resolution test: a DPI-aware process with the main window.
int RunLayoutChild() {
    SetProcessDPIAware();
    rtl::FormsStartup();
    auto* form = new app::TMainForm(rtl::Application);
    RECT client, send;
    GetClientRect(form->Handle(), &client);
    GetWindowRect(GetDlgItem(form->Handle(), app::idSend), &send);
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(form->Handle(), app::idSend), WM_GETFONT, 0, 0)),
               sizeof(lf), &lf);
    std::printf("dpi=%d client=%ldx%ld send=%ld font=%ld\n", form->Dpi(), client.right, client.bottom,
                send.bottom - send.top, -lf.lfHeight);
    std::fflush(stdout);
    rtl::FormsShutdown();
    return 0;
}
