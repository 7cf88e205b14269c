// The files offered for sending: what lies in the diagnostic folder (crash
// reports, error and debug logs), newest first, and files the user adds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "rtl/Win.h"

namespace app {

struct TDiagFile {
    std::wstring Path;  // full path
    std::wstring Name;  // without the folder
    uint64_t Size = 0;
    FILETIME Modified{};
};

// The files (not folders) directly in `folder`, newest first; names break
// ties. A folder that is missing or unreadable has none.
std::vector<TDiagFile> ListFolderFiles(const std::wstring& folder);

// One file's entry; false when it does not exist or is a folder.
bool ReadDiagFile(const std::wstring& path, TDiagFile& file);

// Local time as "yyyy-mm-dd hh:nn".
std::wstring FormatFileTime(const FILETIME& time);

}  // namespace app
