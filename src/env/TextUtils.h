#pragma once
#include <string>

#include "rtl/Win.h"

namespace env {

// Writes the text as ANSI bytes at the file's current position; write errors
// are ignored (used on the crash path, where there is nobody to tell).
void WriteAnsiText(HANDLE file, const std::wstring& text);

std::wstring ReplaceChar(std::wstring text, wchar_t find, wchar_t replacement);

}  // namespace env
