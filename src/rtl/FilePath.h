// File names and paths as the system writes them ('\' or '/' between folders,
// ':' after a drive), and what is at a path. Names are split as text; only
// the three tests below ask the file system.
#pragma once
#include <string>

namespace rtl {

// The file name part of a path: what follows the last '\\', '/' or ':'.
std::wstring ExtractFileName(const std::wstring& path);
// The folder part of a path, with its trailing separator; empty for a bare name.
std::wstring ExtractFilePath(const std::wstring& path);
// The extension of the file name part with its dot (".log"); empty when it has none.
std::wstring ExtractFileExt(const std::wstring& path);
// `path` with the extension of its file name part replaced by `ext` (added when it has none).
std::wstring ChangeFileExt(const std::wstring& path, const std::wstring& ext);

// A file (not a folder) is at `path`.
bool FileExists(const std::wstring& path);
// A folder is at `path`.
bool DirectoryExists(const std::wstring& path);
// Something, a file or a folder, holds the name `path`.
bool PathTaken(const std::wstring& path);

}  // namespace rtl
