// File names a server suggests, made safe to create on Windows: no folder
// parts, no characters the file system refuses, no device names, no
// trailing dots or blanks, a sensible length, and no overwriting.
#pragma once
#include <string>

namespace app {

// `suggested` as one plain file name. Invalid characters (control
// characters and <>:"/\|?*) become '_', leading blanks and trailing dots and
// blanks go, a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an
// extension such as "nul.txt") gets a leading '_', and the name is cut to
// 200 characters keeping its extension. Empty results give `fallback`.
std::wstring WindowsSafeFileName(const std::wstring& suggested, const std::wstring& fallback);

// The name for a saved answer: the server's suggestion when it has one, else
// "answer" with an extension from the answer's Content-Type header.
std::wstring AnswerFileName(const std::string& suggested, const std::string& headers);

// `folder` (with or without a trailing backslash) joined with `name`; when
// that file exists, "name (2).ext", "name (3).ext", ... the first free one.
std::wstring UniqueFilePath(const std::wstring& folder, const std::wstring& name);

}  // namespace app
