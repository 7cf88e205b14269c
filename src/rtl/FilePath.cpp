#include "rtl/FilePath.h"

#include "rtl/Win.h"

namespace rtl {

namespace {

const wchar_t kDelimiters[] = L"\\/:";

// Where the extension of the file name part begins, npos when it has none.
size_t ExtensionStart(const std::wstring& path) {
    const size_t dot = path.find_last_of(L".\\/:");
    return dot != std::wstring::npos && path[dot] == L'.' ? dot : std::wstring::npos;
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

}  // namespace

std::wstring ExtractFileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(kDelimiters);
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ExtractFilePath(const std::wstring& path) {
    const size_t slash = path.find_last_of(kDelimiters);
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ExtractFileExt(const std::wstring& path) {
    const size_t dot = ExtensionStart(path);
    return dot == std::wstring::npos ? std::wstring() : path.substr(dot);
}

std::wstring ChangeFileExt(const std::wstring& path, const std::wstring& ext) {
    return path.substr(0, ExtensionStart(path)) + ext;
}

bool FileExists(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathTaken(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace rtl
