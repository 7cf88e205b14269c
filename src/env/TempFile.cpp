#include "env/TempFile.h"

#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace env {

TTempFile::TTempFile(const wchar_t* prefix) {
    wchar_t folder[MAX_PATH + 1] = {}, path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) rtl::RaiseInOutError(L"The temporary folder is not known", GetLastError());
    // Creates the file, so the name stays ours.
    if (!GetTempFileNameW(folder, prefix, 0, path))
        rtl::RaiseInOutError(L"No temporary file could be created in " + std::wstring(folder), GetLastError());
    FPath = path;
    FHandle.Reset(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!FHandle) {
        const DWORD error = GetLastError();
        DeleteFileW(path);
        rtl::RaiseInOutError(L"The temporary file " + FPath + L" could not be opened", error);
    }
}

}  // namespace env
