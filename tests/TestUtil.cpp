#include "TestUtil.h"

#include <cstring>

#include <shellapi.h>

#include <vector>

#include "rtl/ScopedHandle.h"

namespace testutil {

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        swprintf(name, MAX_PATH, L"%lsqf-test-%lu-%u\\", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryW(name, nullptr)) {
            FPath = name;
            return;
        }
    }
}

static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full + L"\\");
            else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

TempDir::~TempDir() { RemoveTree(FPath); }

DWORD RunAndWait(const std::wstring& commandLine, std::string* output, DWORD timeoutMs) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readPipe = nullptr, writePipe = nullptr;
    if (output) {
        if (!CreatePipe(&readPipe, &writePipe, &sa, 0)) return ~0u;
        SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (output) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = writePipe;
        si.hStdError = writePipe;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(0);
    BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &si, &pi);
    if (writePipe) CloseHandle(writePipe);
    if (!ok) {
        if (readPipe) CloseHandle(readPipe);
        return ~0u;
    }
    if (output) {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(readPipe, buf, sizeof(buf), &n, nullptr) && n > 0) output->append(buf, n);
        CloseHandle(readPipe);
    }
    DWORD code = ~0u;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 9999);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    rtl::ScopedFileHandle f(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!f) return bytes;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(f.Get(), buf, sizeof(buf), &n, nullptr) && n > 0) bytes.append(buf, n);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    rtl::ScopedFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

int TestMainWithChild(int argc, char** argv, int (*child)(const std::string& scenario)) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--child=", 8) == 0) return child(argv[i] + 8);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(stepMs);
    }
}

namespace {

struct TWindowSearch {
    DWORD Pid;
    const std::wstring* Prefix;
    HWND Found;
};

BOOL CALLBACK MatchWindow(HWND wnd, LPARAM lp) {
    auto* s = reinterpret_cast<TWindowSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(wnd, &owner);
    if ((s->Pid && owner != s->Pid) || !IsWindowVisible(wnd)) return TRUE;
    wchar_t caption[512] = {};
    GetWindowTextW(wnd, caption, 512);
    if (std::wstring(caption).rfind(*s->Prefix, 0) != 0) return TRUE;
    s->Found = wnd;
    return FALSE;
}

}  // namespace

HWND FindTopWindow(DWORD pid, const std::wstring& captionPrefix) {
    TWindowSearch s{pid, &captionPrefix, nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&s));
    return s.Found;
}

HWND WaitForTopWindow(DWORD pid, const std::wstring& captionPrefix, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow(pid, captionPrefix)) != nullptr; }, timeoutMs);
    return found;
}

std::wstring TextOf(HWND wnd) {
    // The text can change between the two messages: a copy that fills the
    // buffer may be cut, so it is read again with more room. A window whose
    // thread has not fetched a message for a while counts as hung to the
    // system (a message box a crashed process has only just opened), so the
    // read waits for an answer instead of giving up at once.
    for (int attempt = 0; attempt < 5; ++attempt) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length)) return {};
        std::wstring text(length + 256, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(wnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                                 10000, &copied))
            return {};
        if (copied + 1 < text.size()) {
            text.resize(copied);
            return text;
        }
    }
    return {};
}

void Touch(const std::wstring& path, const std::string& bytes, int minutesAgo) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << std::string(path.begin(), path.end());
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= static_cast<ULONGLONG>(minutesAgo) * 60 * 10000000ULL;
    FILETIME ft{t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

}  // namespace testutil
