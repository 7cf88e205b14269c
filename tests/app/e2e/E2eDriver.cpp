#include "E2eDriver.h"

#include "app/SendMemory.h"

#include <algorithm>
#include <vector>

#include "TestUtil.h"
#include "http/NetTestUtil.h"
#include "rtl/Text.h"

namespace e2e {

std::wstring BuildFile(const std::wstring& relativeToBuild) {
    // The test runs from <build>\tests\app\e2e\.
    return testutil::ExeFolder() + L"..\\..\\..\\" + relativeToBuild;
}

// --- processes ---

TProcess::TProcess(const std::wstring& commandLine) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    CloseHandle(pi.hThread);
    FProcess.Reset(pi.hProcess);
    FId = pi.dwProcessId;
}

TProcess TProcess::OfWindow(HWND wnd) {
    TProcess p;
    DWORD pid = 0;
    if (!wnd || !GetWindowThreadProcessId(wnd, &pid)) return p;
    p.FProcess.Reset(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (p.FProcess) p.FId = pid;
    return p;
}

TProcess::~TProcess() {
    if (Running()) {
        TerminateProcess(FProcess.Get(), 9999);
        WaitForSingleObject(FProcess.Get(), 10000);
    }
}

bool TProcess::Running() const { return FProcess && WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT; }

std::optional<DWORD> TProcess::WaitExit(DWORD timeoutMs) {
    if (!FProcess || WaitForSingleObject(FProcess.Get(), timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(FProcess.Get(), &code);
    return code;
}

void TProcess::Close(HWND mainWindow, DWORD timeoutMs) {
    if (!Running()) return;
    if (mainWindow && IsWindow(mainWindow)) PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    if (!WaitExit(timeoutMs)) {
        TerminateProcess(FProcess.Get(), 9999);
        WaitForSingleObject(FProcess.Get(), 10000);
    }
}

// --- windows ---

bool SetTextOf(HWND wnd, const std::wstring& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(wnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 10000,
                               &result) != 0;
}

std::wstring WaitForTextPrefix(HWND wnd, const std::wstring& prefix, DWORD timeoutMs) {
    std::wstring text;
    WaitUntil([&] { return (text = TextOf(wnd)).rfind(prefix, 0) == 0; }, timeoutMs);
    return text;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

namespace {
constexpr wchar_t cMarker[] = L"(waiting for the outcome)";
}

std::wstring WaitForSendEnd(HWND send, HWND cancel, HWND status, DWORD timeoutMs) {
    std::wstring text;
    WaitUntil(
        [&] {
            text = TextOf(status);
            return text != cMarker && !IsWindowEnabled(cancel) && IsWindowEnabled(send);
        },
        timeoutMs);
    return text;
}

std::wstring SendAndWait(HWND send, HWND cancel, HWND status, DWORD timeoutMs) {
    SetTextOf(status, cMarker);
    Click(send);
    return WaitForSendEnd(send, cancel, status, timeoutMs);
}

void PressEscape(HWND wnd) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(wnd, nullptr);
    HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : wnd;
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

bool Responds(HWND wnd) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

// --- registry ---

TRegistryValue::TRegistryValue(std::wstring key, std::wstring name) : FKey(std::move(key)), FName(std::move(name)) {
    rtl::ScopedHandle<rtl::RegKeyTraits> k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, FKey.c_str(), 0, KEY_QUERY_VALUE, k.Receive()) != ERROR_SUCCESS) return;
    DWORD size = 0;
    if (RegQueryValueExW(k.Get(), FName.c_str(), nullptr, &FType, nullptr, &size) != ERROR_SUCCESS) return;
    FData.assign(size, '\0');
    FExisted = RegQueryValueExW(k.Get(), FName.c_str(), nullptr, &FType, reinterpret_cast<BYTE*>(FData.data()),
                                &size) == ERROR_SUCCESS;
    FData.resize(size);
}

TRegistryValue::~TRegistryValue() {
    if (FExisted)
        Write(FType, FData.data(), static_cast<DWORD>(FData.size()));
    else
        Remove();
}

bool TRegistryValue::Write(DWORD type, const void* data, DWORD size) {
    rtl::ScopedHandle<rtl::RegKeyTraits> k;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, FKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.Receive(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    return RegSetValueExW(k.Get(), FName.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool TRegistryValue::SetString(const std::wstring& value) {
    return Write(REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool TRegistryValue::SetDword(DWORD value) { return Write(REG_DWORD, &value, sizeof(value)); }

bool TRegistryValue::Remove() {
    rtl::ScopedHandle<rtl::RegKeyTraits> k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, FKey.c_str(), 0, KEY_SET_VALUE, k.Receive()) != ERROR_SUCCESS) return true;
    const LSTATUS status = RegDeleteValueW(k.Get(), FName.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// --- the system-wide proxy ---

namespace {

bool SetSystemProxy(DWORD flags, const std::wstring& server) {
    INTERNET_PER_CONN_OPTIONW options[2]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = const_cast<wchar_t*>(server.c_str());
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, 2, 0, options};
    const bool ok = InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    return ok;
}

}  // namespace

TSystemProxy::TSystemProxy() {
    INTERNET_PER_CONN_OPTIONW options[2]{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    INTERNET_PER_CONN_OPTION_LISTW list{sizeof(list), nullptr, 2, 0, options};
    DWORD size = sizeof(list);
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return;
    FFlags = options[0].Value.dwValue;
    if (options[1].Value.pszValue) {
        FServer = options[1].Value.pszValue;
        GlobalFree(options[1].Value.pszValue);
    }
}

TSystemProxy::~TSystemProxy() { SetSystemProxy(FFlags, FServer); }

bool TSystemProxy::Use(const std::wstring& serverAndPort) {
    return SetSystemProxy(serverAndPort.empty() ? PROXY_TYPE_DIRECT : PROXY_TYPE_PROXY, serverAndPort);
}

// --- files ---

bool WriteFillerFile(const std::wstring& path, uint64_t bytes) {
    rtl::ScopedHandle<rtl::KernelHandleTraits> file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string piece(1 << 20, '\0');
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>("0123456789abcdef\r\n"[i % 18]);
    for (uint64_t done = 0; done < bytes;) {
        const DWORD n = static_cast<DWORD>(std::min<uint64_t>(piece.size(), bytes - done));
        DWORD written = 0;
        if (!WriteFile(file.Get(), piece.data(), n, &written, nullptr) || written != n) return false;
        done += n;
    }
    return true;
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string AnswerBody(const std::wstring& shown) {
    std::string bytes = rtl::ToUtf8(shown), body;
    body.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) body += bytes[i];
    return body;
}

void TLocalServerTest::SetUp() {
    const testhttp::TServers& servers = testhttp::TServers::Get();
    ASSERT_TRUE(servers.Running()) << "the upload test servers are not running (CTest fixture http_servers)";
    ASSERT_TRUE(FProtocol.SetString(L"http"));
    ASSERT_TRUE(FServer.SetString(L"127.0.0.1:" + std::to_wstring(servers.Port("http"))));
    ASSERT_TRUE(FProxyServer.Remove() && FProxyPort.Remove() && FProxyLogin.Remove());
    ASSERT_TRUE(FSystemProxy.Use(L""));
    RegDeleteTreeW(HKEY_CURRENT_USER, app::kSendMemoryKey);
}

}  // namespace e2e
