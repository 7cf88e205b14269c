#include "env/DiagPaths.h"

#include <shlobj.h>

#include "env/ErrorControlledRegistry.h"
#include "rtl/FilePath.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace env {

std::wstring GetShellFolderPath(int csidl) {
    std::wstring result;
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
        LPITEMIDLIST pidl = nullptr;
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) && pidl) {
            wchar_t path[MAX_PATH + 1] = {};
            if (SHGetPathFromIDListW(pidl, path)) result = path;
            allocator->Free(pidl);
        }
        allocator->Release();
    }
    if (result.empty() && csidl == CSIDL_PROGRAM_FILES) {
        TRegistryErrorControlled reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!reg.OpenKeyReadOnly(L"Software\\Microsoft\\Windows\\CurrentVersion")) reg.RaiseLastRegistryError(L"");
        result = reg.ReadString(L"ProgramFilesDir");
    }
    if (!result.empty() && result.back() != L'\\') result += L'\\';
    return result;
}

std::wstring ErrorLogFileName(const std::wstring& folder, const std::wstring& programFileName) {
    return folder + rtl::ChangeFileExt(programFileName, L".errlog");
}

// The path up to and including its last '\' or ':'.
static std::wstring ParentPart(const std::wstring& path) {
    size_t pos = path.find_last_of(L"\\:");
    return pos == std::wstring::npos ? std::wstring() : path.substr(0, pos + 1);
}

template <class RaiseEmpty>
static bool ForceDirectories(std::wstring path, RaiseEmpty raiseEmpty) {
    if (path.empty()) raiseEmpty(path);
    if (path.back() == L'\\') path.pop_back();
    if (path.size() < 3) return true;
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return true;
    std::wstring parent = ParentPart(path);
    if (parent == path) return true;
    return ForceDirectories(parent, raiseEmpty) && CreateDirectoryW(path.c_str(), nullptr);
}

bool EnsureDirectory(const std::wstring& path) {
    return ForceDirectories(
        path, [](const std::wstring& p) { rtl::RaiseNew<rtl::Exception>(L"Cannot create directory " + p); });
}

std::wstring GetDiagFolder() {
    std::wstring folder = GetShellFolderPath(CSIDL_APPDATA) + L"Quillfen\\Diag\\";
    ForceDirectories(folder,
                     [](const std::wstring&) { rtl::RaiseNew<rtl::EInOutError>(L"Unable to create directory", 3); });
    return folder;
}

std::wstring FormatDebugLogFileName(const std::wstring& folder, const std::wstring& stem, DWORD processId,
                                    const SYSTEMTIME& t) {
    return folder + stem +
           rtl::Format(L"-%lu-%04u-%02u-%02u-%02u-%02u-%02u.log", static_cast<unsigned long>(processId), t.wYear,
                       t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::wstring GetDebugLogFileName(const std::wstring& stem) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FormatDebugLogFileName(GetDiagFolder(), stem, GetCurrentProcessId(), now);
}

}  // namespace env
