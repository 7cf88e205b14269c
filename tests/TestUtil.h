// Shared test helpers.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rtl/Try.h"
#include "rtl/Win.h"

namespace testutil {

// Runs `body`; answers the class name and message of the runtime exception
// it raised, or nothing when it returned normally.
struct Raised {
    std::wstring ClassName;
    std::wstring Message;
};
template <class Body>
std::optional<Raised> CaptureRaise(Body&& body) {
    std::optional<Raised> result;
    rtl::Try([&] { body(); }, rtl::OnAny([&](rtl::Exception& e) { result = Raised{e.ClassName(), e.Message}; }));
    return result;
}

// A fresh folder under %TEMP% that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::wstring& Path() const { return FPath; }  // with trailing backslash
private:
    std::wstring FPath;
};

// Runs a program and waits for it; answers its exit code (or ~0u).
DWORD RunAndWait(const std::wstring& commandLine, std::string* output = nullptr, DWORD timeoutMs = 60000);

// The whole content of a file (empty when it cannot be read); others may
// hold it open meanwhile.
std::string ReadFileBytes(const std::wstring& path);

// Writes `bytes` to `path`, replacing what was there; answers whether all
// were written.
bool WriteBytes(const std::wstring& path, const std::string& bytes);

// The names of the files in `folder` (with trailing backslash).
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// Folder of the running test executable, with trailing backslash.
std::wstring ExeFolder();

// The main() of a test program that is also its own child process: given an
// argument "--child=SCENARIO" it runs `child` on SCENARIO and answers its
// exit code; otherwise it runs the tests.
int TestMainWithChild(int argc, char** argv, int (*child)(const std::string& scenario));

// --- windows of other processes ---

// Polls `done` every `stepMs` until it answers true or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 200);

// A visible top-level window of process `pid` (any process when 0) whose
// caption starts with `captionPrefix`, or null.
HWND FindTopWindow(DWORD pid, const std::wstring& captionPrefix);
HWND WaitForTopWindow(DWORD pid, const std::wstring& captionPrefix, DWORD timeoutMs);

// Text of a window, also in another process (empty when it does not answer).
std::wstring TextOf(HWND wnd);

// Writes a file with `bytes`, last written `minutesAgo` minutes ago.
void Touch(const std::wstring& path, const std::string& bytes, int minutesAgo);

// A wide text as ASCII, '?' for every other character (for messages).
inline std::string Narrow(const std::wstring& s) {
    std::string narrow;
    for (wchar_t c : s) narrow += (c < 128) ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace testutil

// Lets gtest print wide strings in failure messages.
inline void PrintTo(const std::wstring& s, std::ostream* os) { *os << '"' << testutil::Narrow(s) << '"'; }
