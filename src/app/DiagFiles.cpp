#include "app/DiagFiles.h"

#include <algorithm>

#include "rtl/FilePath.h"
#include "rtl/ScopedHandle.h"
#include "rtl/Text.h"

namespace app {

namespace {

TDiagFile FromFindData(const std::wstring& folder, const WIN32_FIND_DATAW& data) {
    TDiagFile f;
    f.Name = data.cFileName;
    f.Path = folder + f.Name;
    f.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    f.Modified = data.ftLastWriteTime;
    return f;
}

}  // namespace

std::vector<TDiagFile> ListFolderFiles(const std::wstring& folderIn) {
    std::vector<TDiagFile> files;
    if (folderIn.empty()) return files;
    std::wstring folder = folderIn;
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    WIN32_FIND_DATAW data;
    rtl::ScopedFind find(FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find) return files;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        files.push_back(FromFindData(folder, data));
    } while (FindNextFileW(find.Get(), &data));
    std::sort(files.begin(), files.end(), [](const TDiagFile& a, const TDiagFile& b) {
        const LONG order = CompareFileTime(&a.Modified, &b.Modified);
        if (order != 0) return order > 0;
        return _wcsicmp(a.Name.c_str(), b.Name.c_str()) < 0;
    });
    return files;
}

bool ReadDiagFile(const std::wstring& path, TDiagFile& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    file.Path = path;
    file.Name = rtl::ExtractFileName(path);
    file.Size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    file.Modified = data.ftLastWriteTime;
    return true;
}

std::wstring FormatFileTime(const FILETIME& time) {
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToSystemTime(&local, &st)) return L"";
    return rtl::Format(L"%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
}

}  // namespace app
