#include "crash/ErrorLogFile.h"

namespace crash {

namespace {

// Failures that mean "someone else has the file open right now".
bool IsHeldByAnotherWriter(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// Short steps keep the added delay small when the other writer finishes
// quickly, which is the usual case: one entry takes milliseconds.
constexpr DWORD cRetryStepMs = 15;

}  // namespace

rtl::ScopedFileHandle OpenErrorLogForAppend(const std::wstring& path, unsigned maxWaitMs) {
    if (path.empty()) return {};
    const DWORD start = GetTickCount();
    for (;;) {
        rtl::ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            LARGE_INTEGER zero{};
            SetFilePointerEx(file.Get(), zero, nullptr, FILE_END);
            return file;
        }
        const DWORD error = GetLastError();
        // Unsigned subtraction stays right across the tick counter's wrap.
        if (!IsHeldByAnotherWriter(error) || GetTickCount() - start >= maxWaitMs) {
            SetLastError(error);
            return {};
        }
        Sleep(cRetryStepMs);
    }
}

}  // namespace crash
