// A stand-in for the diagnostics program: records how it was started (its
// command line and working folder, one line each) in diagview-calls.txt
// beside itself, so that tests can check what the crash report filter ran.
#include <string>

#include "rtl/Text.h"
#include "rtl/Win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"diagview-calls.txt";
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string entry = rtl::ToUtf8(std::wstring(GetCommandLineW()) + L"\r\n" + folder + L"\r\n");
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(f, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
    CloseHandle(f);
    return 0;
}
