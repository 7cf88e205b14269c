// Where diagnostic files go: shell folders, the per-user diagnostic folder,
// time-stamped diagnostic log names and folder creation.
#pragma once
#include <string>

#include "rtl/Win.h"

namespace env {

// The folder's path with a trailing backslash, or empty. For
// CSIDL_PROGRAM_FILES falls back to the registry (and can raise its error).
std::wstring GetShellFolderPath(int csidl);

// <roaming application data>\Quillfen\Diag\ , created when missing.
std::wstring GetDiagFolder();

// <diag folder><stem>-<pid>-yyyy-mm-dd-hh-nn-ss.log at the current local time.
std::wstring GetDebugLogFileName(const std::wstring& stem);

// The same name for a given folder, process id and time.
std::wstring FormatDebugLogFileName(const std::wstring& folder, const std::wstring& stem, DWORD processId,
                                    const SYSTEMTIME& time);

// The error log of a program in `folder`: the program's file name with its
// extension replaced by ".errlog".
std::wstring ErrorLogFileName(const std::wstring& folder, const std::wstring& programFileName);

// Creates the folder and its missing parents. An empty path raises
// "Cannot create directory "; a failed creation answers False.
bool EnsureDirectory(const std::wstring& path);

}  // namespace env
