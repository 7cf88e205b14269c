// The proxy dialog driven for real: the test thread shows it modally while a
// driver thread types into it with SendInput, as a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ConfigTestUtil.h"
#include "TestUtil.h"
#include "config/GlobalProxySettings.h"
#include "config/ProxyDialogLayout.h"
#include "config/UfrmOnlineUpdateSetup.h"
#include "config/UfrmOnlineUpdateSetupRes.h"
#include "env/ErrorControlledRegistry.h"
#include "rtl/Forms.h"

using namespace config;
using configtest::Describe;

namespace {

const wchar_t* kParentKey = L"Software\\Quillfen\\Orvex Engine";

// Polls `done` for up to five seconds.
bool WaitFor(const std::function<bool()>& done) { return testutil::WaitUntil(done, 5000, 20); }

void SendKeys(std::vector<INPUT> keys) { SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)); }

INPUT Key(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

void Press(WORD vk) { SendKeys({Key(vk, false), Key(vk, true)}); }
void Alt(wchar_t letter) { SendKeys({Key(VK_MENU, false), Key(letter, false), Key(letter, true), Key(VK_MENU, true)}); }

void Type(const std::wstring& text) {
    std::vector<INPUT> keys;
    for (wchar_t c : text) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = c;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
        keys.push_back(in);
        in.ki.dwFlags |= KEYEVENTF_KEYUP;
        keys.push_back(in);
    }
    SendKeys(keys);
}

std::wstring Text(HWND h) {
    wchar_t buf[512] = {};
    GetWindowTextW(h, buf, 512);
    return buf;
}

class ProxyDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        DoneProxySettings();
        env::TRegistryErrorControlled().DeleteKey(kParentKey);
        rtl::FormsStartup();
        rtl::Application->OnException = [this](rtl::Exception& e) {
            std::lock_guard<std::mutex> lock(FLock);
            FSeen.push_back(e.ClassName() + L": " + e.Message);
        };
        FGuiThread = GetCurrentThreadId();
    }
    void TearDown() override {
        rtl::FormsShutdown();
        DoneProxySettings();
        env::TRegistryErrorControlled().DeleteKey(kParentKey);
    }

    // Shows the dialog on this thread; `drive` runs on another one once the
    // dialog has the keyboard. Whatever `drive` leaves open is cancelled.
    int RunDialog(const std::function<void()>& drive) {
        std::atomic<bool> ready{false};
        std::thread driver([&] {
            ready = WaitFor([&] {
                Dialog = FindWindowW(L"#32770", L"Configure HTTP Proxy");
                return Dialog && IsWindowVisible(Dialog) && GetForegroundWindow() == Dialog;
            });
            if (ready) drive();
            if (IsWindow(Dialog)) PostMessageW(Dialog, WM_COMMAND, IDCANCEL, 0);
        });
        int result = ShowOnlineUpdateSetup(nullptr);
        driver.join();
        EXPECT_TRUE(ready) << "the dialog did not come up in the foreground";
        return result;
    }

    // Presses a key that closes the dialog and waits until it has, so that
    // no key is left in the input queue for the next dialog.
    void PressToClose(WORD vk) {
        Press(vk);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(Dialog); }));
    }
    HWND Item(int id) const { return GetDlgItem(Dialog, id); }
    // The four boxes as "server|port|user name|password".
    std::wstring Status() const { return Text(Item(IDC_LBLSTATUS)); }
    std::wstring Boxes() const {
        return Text(Item(IDC_EDITPROXY)) + L"|" + Text(Item(IDC_EDITPORT)) + L"|" + Text(Item(IDC_EDITUSERNAME)) +
               L"|" + Text(Item(IDC_EDITPASSWORD));
    }
    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(FGuiThread, &info);
        return info.hwndFocus;
    }
    bool FocusBecomes(int id) const {
        return WaitFor([&] { return Focus() == Item(id); });
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard<std::mutex> lock(FLock);
        return FSeen;
    }
    static bool KeyExists() {
        env::TRegistryErrorControlled reg;
        return reg.OpenKeyReadOnly(kProxySettingsKey);
    }

    HWND Dialog = nullptr;

private:
    DWORD FGuiThread = 0;
    std::mutex FLock;
    std::vector<std::wstring> FSeen;
};

TEST_F(ProxyDialogTest, EmptyStoreShowsEmptyBoxesAndEscDiscards) {
    int result = RunDialog([&] {
        EXPECT_EQ(L"|||", Boxes());
        EXPECT_EQ(L"", Status());
        EXPECT_EQ(Item(IDC_EDITPROXY), Focus()) << "the first box in tab order has the focus";
        Type(L"typed.but.discarded");
        EXPECT_TRUE(WaitFor([&] { return Text(Item(IDC_EDITPROXY)) == L"typed.but.discarded"; }));
        PressToClose(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(L"", GetProxySettings().Server());
    EXPECT_FALSE(KeyExists());
}

TEST_F(ProxyDialogTest, ShowsTheStoreAndEnterSavesWhatWasTyped) {
    GetProxySettings().Save(L"old.proxy", 3128, L"olduser", L"oldpass");
    int result = RunDialog([&] {
        EXPECT_EQ(L"old.proxy|3128|olduser|oldpass", Boxes());
        EXPECT_EQ(L'*', SendMessageW(Item(IDC_EDITPASSWORD), EM_GETPASSWORDCHAR, 0, 0));
        // Tab selects the whole text of the box it enters, so typing replaces it.
        Type(L"x");  // the server box starts focused with its text selected
        Press(VK_TAB);
        ASSERT_TRUE(FocusBecomes(IDC_EDITPORT));
        Type(L"8080");
        Press(VK_TAB);
        ASSERT_TRUE(FocusBecomes(IDC_EDITUSERNAME));
        Type(L"J\u00f6rg");
        Press(VK_TAB);
        ASSERT_TRUE(FocusBecomes(IDC_EDITPASSWORD));
        Type(L" se cret ");
        PressToClose(VK_RETURN);
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(L"x|8080|J\u00f6rg| se cret ", Describe(GetProxySettings()));
    EXPECT_EQ(L"x|8080|J\u00f6rg| se cret ", Describe(TProxySettings())) << "what the registry holds";
}

// A refusal names the box and the reason, gives that box the focus with its
// text selected, and stores nothing.
TEST_F(ProxyDialogTest, RefusedEntriesAreSaidAndTheDialogStaysOpen) {
    GetProxySettings().Save(L"old.proxy", 3128, L"u", L"p");
    const std::wstring port = L"Port: the port must be a number from 1 to 65535, not '";
    const struct {
        const wchar_t *Server, *Port;
        int Box;
        std::wstring Status;
    } table[] = {
        {L"proxy", L"abc", IDC_EDITPORT, port + L"abc'."},
        {L"proxy", L"0", IDC_EDITPORT, port + L"0'."},
        {L"proxy", L"65536", IDC_EDITPORT, port + L"65536'."},
        {L"proxy", L"-1", IDC_EDITPORT, port + L"-1'."},
        {L"https://proxy", L"443", IDC_EDITPROXY, L"HTTP proxy: only http:// proxies can be used, not 'https://'."},
        {L"my proxy", L"3128", IDC_EDITPROXY, L"HTTP proxy: spaces cannot be part of a proxy's address."},
        {L"proxy/path", L"", IDC_EDITPROXY, L"HTTP proxy: a proxy's address has no path: remove '/path'."},
    };
    RunDialog([&] {
        for (const auto& row : table) {
            SetWindowTextW(Item(IDC_LBLSTATUS), L"");
            SetWindowTextW(Item(IDC_EDITPROXY), row.Server);
            SetWindowTextW(Item(IDC_EDITPORT), row.Port);
            Press(VK_RETURN);
            EXPECT_TRUE(WaitFor([&] { return Status() == row.Status; })) << Status();
            EXPECT_TRUE(FocusBecomes(row.Box)) << row.Server;
            EXPECT_EQ(MAKELRESULT(0, Text(Item(row.Box)).size()), SendMessageW(Item(row.Box), EM_GETSEL, 0, 0));
        }
        PressToClose(VK_ESCAPE);
    });
    EXPECT_EQ(L"old.proxy|3128|u|p", Describe(TProxySettings())) << "nothing was stored";
}

TEST_F(ProxyDialogTest, AcceptedServerFormsStoreTheHostAndItsPort) {
    const struct {
        const wchar_t *Server, *Port, *Stored;
    } table[] = {
        {L" proxy.example.net ", L"8080", L"proxy.example.net|8080||"},
        {L"proxy:8081", L"", L"proxy|8081||"},
        {L"http://proxy:8082/", L"3128", L"proxy|8082||"},  // the server box's port wins
        {L"http://proxy", L"", L"proxy|80||"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(IDOK, RunDialog([&] {
                      SetWindowTextW(Item(IDC_EDITPROXY), row.Server);
                      SetWindowTextW(Item(IDC_EDITPORT), row.Port);
                      PressToClose(VK_RETURN);
                  }));
        EXPECT_EQ(row.Stored, Describe(TProxySettings())) << row.Server;
    }
}

TEST_F(ProxyDialogTest, CancelButtonAndSystemCloseSaveNothing) {
    GetProxySettings().Save(L"kept", 1, L"u", L"p");
    for (int way = 0; way < 2; ++way) {
        int result = RunDialog([&] {
            Type(L"changed");
            EXPECT_TRUE(WaitFor([&] { return Text(Item(IDC_EDITPROXY)) == L"changed"; }));
            if (way == 0)
                SendMessageW(Item(IDCANCEL), BM_CLICK, 0, 0);
            else
                PostMessageW(Dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(Dialog); }));
        });
        EXPECT_EQ(IDCANCEL, result) << "way " << way;
        EXPECT_EQ(L"kept", GetProxySettings().Server());
        EXPECT_EQ(L"kept", TProxySettings().Server());
    }
}

TEST_F(ProxyDialogTest, AltHAndAltPFocusTheirBoxesAltUAndAltAMoveNothing) {
    RunDialog([&] {
        SendMessageW(Dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_EDITPASSWORD)), TRUE);
        ASSERT_TRUE(FocusBecomes(IDC_EDITPASSWORD));
        Alt(L'H');
        EXPECT_TRUE(FocusBecomes(IDC_EDITPROXY));
        Alt(L'P');
        EXPECT_TRUE(FocusBecomes(IDC_EDITPORT));
        // The underlined letters of "Username" and "Password" name no box. A
        // key typed after each proves it was handled, and where the focus is.
        Alt(L'U');
        Type(L"1");
        EXPECT_TRUE(WaitFor([&] { return Text(Item(IDC_EDITPORT)) == L"1"; }));
        Alt(L'A');
        Type(L"2");
        EXPECT_TRUE(WaitFor([&] { return Text(Item(IDC_EDITPORT)) == L"12"; }));
        EXPECT_EQ(Item(IDC_EDITPORT), Focus());
        EXPECT_EQ(L"|12||", Boxes());
        PressToClose(VK_ESCAPE);
    });
    EXPECT_FALSE(KeyExists());
}

TEST_F(ProxyDialogTest, LayoutTabOrderAndButtons) {
    RunDialog([&] {
        EXPECT_EQ(L"Configure HTTP Proxy", Text(Dialog));
        LONG style = GetWindowLongW(Dialog, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), SendMessageW(Dialog, DM_GETDEFID, 0, 0));
        EXPECT_EQ(L"OK", Text(Item(IDOK)));
        EXPECT_EQ(L"Cancel", Text(Item(IDCANCEL)));

        HDC dc = GetDC(Dialog);
        int dpi = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(Dialog, dc);
        auto px = [&](int v) { return MulDiv(v, dpi, 96); };
        RECT client;
        GetClientRect(Dialog, &client);
        EXPECT_EQ(px(kProxyDialogClientWidth), client.right);
        EXPECT_EQ(px(kProxyDialogClientHeight), client.bottom);
        RECT frame;
        GetWindowRect(Dialog, &frame);
        EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (frame.left + frame.right) / 2, 1);
        EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (frame.top + frame.bottom) / 2, 1);

        // Every control of the template is placed where the layout says.
        int placed = 0;
        for (HWND c = GetWindow(Dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++placed;
        EXPECT_EQ(static_cast<int>(std::size(kProxyDialogLayout)), placed);
        for (const auto& e : kProxyDialogLayout) {
            RECT r;
            GetWindowRect(Item(e.Id), &r);
            MapWindowPoints(nullptr, Dialog, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(px(e.Left), r.left) << e.Id;
            EXPECT_EQ(px(e.Top), r.top) << e.Id;
            EXPECT_EQ(px(e.Height), r.bottom - r.top) << e.Id;
            if (e.Width) {
                EXPECT_EQ(px(e.Width), r.right - r.left) << e.Id;
            } else {  // a label as wide as its text
                EXPECT_GT(r.right - r.left, 0) << e.Id;
            }
        }
        EXPECT_EQ(L"&HTTP proxy|&Port|&Username|P&assword|",
                  Text(Item(IDC_LBLHTTPPROXY)) + L"|" + Text(Item(IDC_LBLPORT)) + L"|" + Text(Item(IDC_LBLUSERNAME)) +
                      L"|" + Text(Item(IDC_LABEL2)) + L"|" + Status());
        // Labels stay clear of the box beside them.
        RECT label, box;
        GetWindowRect(Item(IDC_LBLHTTPPROXY), &label);
        GetWindowRect(Item(IDC_EDITPROXY), &box);
        EXPECT_LE(label.right, box.left);

        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
        EXPECT_STREQ(L"MS Sans Serif", font.lfFaceName);

        // Tab order: the four boxes, OK, Cancel, and round again.
        for (int id : {IDC_EDITPORT, IDC_EDITUSERNAME, IDC_EDITPASSWORD, IDOK, IDCANCEL, IDC_EDITPROXY}) {
            Press(VK_TAB);
            EXPECT_TRUE(FocusBecomes(id)) << id;
        }
        PressToClose(VK_ESCAPE);
    });
}

TEST_F(ProxyDialogTest, SettingsTheRegistryDoesNotTakeAreSaidAndTheDialogStaysOpen) {
    GetProxySettings().Save(L"old.proxy", 3128, L"u", L"p");
    ASSERT_TRUE(configtest::DenyKeyWrites(kProxySettingsKey, true));
    int result = RunDialog([&] {
        SetWindowTextW(Item(IDC_EDITPROXY), L"new.proxy");
        Press(VK_RETURN);
        const std::wstring said = L"The proxy settings could not be saved: Failed to create key '";
        EXPECT_TRUE(WaitFor([&] { return Status().rfind(said + kProxySettingsKey + L"' ", 0) == 0; })) << Status();
        EXPECT_EQ(L"old.proxy|3128|u|p", Describe(GetProxySettings())) << "nothing unsaved is claimed";
        ASSERT_TRUE(configtest::DenyKeyWrites(kProxySettingsKey, false));
        PressToClose(VK_RETURN);  // the dialog is still there, and now saves
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(L"new.proxy|3128|u|p", Describe(TProxySettings()));
    EXPECT_TRUE(Seen().empty()) << "said in the dialog, not raised to the application";
}

TEST_F(ProxyDialogTest, AStoredValueThatCannotBeReadIsNamedAndItsBoxLeftEmpty) {
    GetProxySettings().Save(L"proxy.example.net", 3128, L"u", L"p");
    DoneProxySettings();
    configtest::SetRawValue(kProxySettingsKey, kProxyPortValue, REG_SZ, L"8080", 10);
    // Uploads go on with what was read (they take port 0 as 80).
    EXPECT_EQ(L"proxy.example.net|0|u|p", Describe(GetProxySettings()));
    EXPECT_EQ(IDOK, RunDialog([&] {
                  EXPECT_EQ(L"proxy.example.net||u|p", Boxes());
                  EXPECT_EQ(L"Could not read the stored value 'proxy port' (left empty). OK saves what the boxes hold.",
                            Status());
                  PressToClose(VK_RETURN);
              }));
    EXPECT_EQ(L"proxy.example.net|80|u|p", Describe(TProxySettings()));
    EXPECT_TRUE(GetProxySettings().Unreadable().empty());
}

}  // namespace
