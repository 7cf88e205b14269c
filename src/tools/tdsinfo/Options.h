// tdsinfo's command line: what to look up and how to answer. The parsing
// itself is in OptionsText.h; this prints what it says.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tdsinfo/OptionsText.h"

namespace tdsinfo {

using TOptions = TBasicOptions<std::wstring>;

// Reads the command line into `options`. Answers -1 to go on, otherwise the
// exit code, after printing the help text or what was wrong.
int ParseOptions(int argc, wchar_t** argv, TOptions& options);

// Hexadecimal with or without 0x, at most 8 digits; otherwise false, and
// `why` (when given) says what is wrong with the text.
bool ParseHex(const std::wstring& text, uint32_t& value, std::string* why = nullptr);

}  // namespace tdsinfo
