#include "crash/Minidump.h"

#include <dbghelp.h>

#include <cstring>

#include "crash/ZudAvizi.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

namespace crash {

namespace {

// The writer is bound when it is needed: most runs never crash, and a
// system without it still gets its crash report.
std::wstring SystemLibraryPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return name;
    return std::wstring(folder, n) + L"\\" + name;
}

bool Fail(std::wstring& error, const std::wstring& what, DWORD code) {
    error = what + L": " + rtl::SysErrorMessage(code);
    return false;
}

}  // namespace

bool WriteMinidump(const std::wstring& path, const TExceptionRecord& record, const CONTEXT& context, DWORD threadId,
                   std::wstring& error) {
    static_assert(sizeof(TExceptionRecord) == sizeof(EXCEPTION_RECORD), "the manager keeps the system's layout");
    rtl::ScopedLibrary dbghelp(LoadLibraryW(SystemLibraryPath(L"dbghelp.dll").c_str()));
    if (!dbghelp) return Fail(error, L"dbghelp.dll cannot be loaded", GetLastError());
    const auto write = rtl::BindProc<decltype(&::MiniDumpWriteDump)>(dbghelp.Get(), "MiniDumpWriteDump");
    if (!write) return Fail(error, L"dbghelp.dll has no MiniDumpWriteDump", GetLastError());

    rtl::ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Fail(error, L"The file \"" + path + L"\" cannot be created", GetLastError());

    // The writer reads both records through these pointers in our own memory.
    EXCEPTION_RECORD exceptionRecord;
    std::memcpy(&exceptionRecord, &record, sizeof(exceptionRecord));
    CONTEXT exceptionContext = context;
    EXCEPTION_POINTERS pointers{&exceptionRecord, &exceptionContext};
    MINIDUMP_EXCEPTION_INFORMATION exception{threadId, &pointers, FALSE};
    const auto type = static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithUnloadedModules);
    if (write(GetCurrentProcess(), GetCurrentProcessId(), file.Get(), type, &exception, nullptr, nullptr)) return true;

    const DWORD code = GetLastError();
    file.Reset();
    DeleteFileW(path.c_str());
    return Fail(error, L"The minidump writer failed", code);
}

}  // namespace crash
