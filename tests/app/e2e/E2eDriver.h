// Driving the real programs from a test process: children that are always
// ended, top-level windows found by caption, controls read and worked with
// window messages (cross-process marshalling covers WM_SETTEXT and
// WM_GETTEXT; clicks are posted), registry values set for the length of a
// test, and bounded waits.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "TestUtil.h"
#include "config/GlobalProxySettings.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Win.h"

#include <wininet.h>

namespace e2e {

// The build's own programs, found from the test executable's folder.
std::wstring BuildFile(const std::wstring& relativeToBuild);

// A child process. Whatever happened, the destructor ends it when it is still
// running (TerminateProcess as the last resort).
class TProcess {
public:
    TProcess() = default;
    // Starts `commandLine`; Started() says whether that worked.
    explicit TProcess(const std::wstring& commandLine);
    // Takes over the process that owns `wnd` (one the test did not start).
    static TProcess OfWindow(HWND wnd);
    TProcess(TProcess&&) = default;
    TProcess& operator=(TProcess&&) = default;
    ~TProcess();

    bool Started() const { return FProcess.IsValid(); }
    DWORD Id() const { return FId; }
    bool Running() const;
    // The exit code once the process ended within `timeoutMs`.
    std::optional<DWORD> WaitExit(DWORD timeoutMs);
    // Posts WM_CLOSE to `mainWindow` and waits; terminates after `timeoutMs`.
    void Close(HWND mainWindow, DWORD timeoutMs = 30000);

private:
    rtl::ScopedHandle<rtl::KernelObjectTraits> FProcess;
    DWORD FId = 0;
};

using testutil::FindTopWindow;
using testutil::TextOf;
using testutil::WaitForTopWindow;
using testutil::WaitUntil;
using testutil::WriteBytes;

bool SetTextOf(HWND wnd, const std::wstring& text);
// Waits until the text starts with `prefix`; answers the last text seen.
std::wstring WaitForTextPrefix(HWND wnd, const std::wstring& prefix, DWORD timeoutMs);
// Sends with the program's Send button and waits until sending has ended:
// the status line shows something other than the marker put there first, and
// Send is enabled and Cancel disabled again. Answers the status line then.
// The text is read first: the program answers that request only where it
// processes messages, and wherever it does so while sending, Cancel is enabled.
std::wstring SendAndWait(HWND send, HWND cancel, HWND status, DWORD timeoutMs);
// The waiting part alone, for a send that was started already.
std::wstring WaitForSendEnd(HWND send, HWND cancel, HWND status, DWORD timeoutMs);
// Presses a button as a click would, without waiting for what it starts.
void Click(HWND button);
// Posts Esc to the control that has the keyboard focus in `wnd`'s thread.
void PressEscape(HWND wnd);
// Whether the window's thread still answers messages.
bool Responds(HWND wnd);

// Sets or removes one value under HKEY_CURRENT_USER for the life of the
// object and puts back what was there before (or removes it again).
class TRegistryValue {
public:
    TRegistryValue(std::wstring key, std::wstring name);
    ~TRegistryValue();
    TRegistryValue(const TRegistryValue&) = delete;
    TRegistryValue& operator=(const TRegistryValue&) = delete;
    bool SetString(const std::wstring& value);
    bool SetDword(DWORD value);
    bool Remove();

private:
    bool Write(DWORD type, const void* data, DWORD size);
    std::wstring FKey, FName;
    bool FExisted = false;
    DWORD FType = 0;
    std::string FData;
};

// The system-wide proxy of WinInet, set for the life of the object and put
// back afterwards. Wine applies the proxy a program sets on its session only
// to sessions opened later (and keeps it as this system-wide setting), so a
// test that needs the program's first upload to go through a proxy sets it
// here beforehand, and every test puts back the setting it found.
class TSystemProxy {
public:
    TSystemProxy();  // remembers the current setting
    ~TSystemProxy();
    TSystemProxy(const TSystemProxy&) = delete;
    TSystemProxy& operator=(const TSystemProxy&) = delete;
    bool Use(const std::wstring& serverAndPort);  // empty: direct

private:
    DWORD FFlags = PROXY_TYPE_DIRECT;
    std::wstring FServer;
};

// Writes `bytes` of a repeating pattern quickly (no checksum).
bool WriteFillerFile(const std::wstring& path, uint64_t bytes);
uint64_t FileSize(const std::wstring& path);  // 0 when missing
bool FileExists(const std::wstring& path);

// An answer shown in an edit control, as the server wrote it (LF line ends).
std::string AnswerBody(const std::wstring& shown);

// A test whose programs upload straight to the local HTTP test server: the
// endpoint settings point there and no proxy is stored or set for the
// system; every value found is put back afterwards.
class TLocalServerTest : public testing::Test {
protected:
    void SetUp() override;

    TRegistryValue FProtocol{L"Software\\Quillfen\\Debug", L"Debug_UploadProtocol"};
    TRegistryValue FServer{L"Software\\Quillfen\\Debug", L"Debug_UploadServer"};
    TRegistryValue FProxyServer{config::kProxySettingsKey, config::kProxyServerValue};
    TRegistryValue FProxyPort{config::kProxySettingsKey, config::kProxyPortValue};
    TRegistryValue FProxyLogin{config::kProxySettingsKey, config::kProxyLoginValue};
    TSystemProxy FSystemProxy;
};

}  // namespace e2e
