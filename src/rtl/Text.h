// Text helpers: ANSI code page conversions, printf-style formatting and the
// system's message texts. Texts are UTF-16 std::wstring, byte strings
// std::string; every ANSI conversion of the program goes through here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

// Text -> bytes in the system's ANSI code page; unmappable characters become
// the code page's default character.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& bytes);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// printf-style formatting. Use %ls for wide strings and %hs for byte strings:
// plain %s means different things to different C runtimes.
std::wstring Format(const wchar_t* fmt, ...);

// The program's arguments after its name, as the system splits its command line.
std::vector<std::wstring> CommandLineArguments();

// Copies `text` into a caller's buffer of `bufferSize` characters in all,
// terminator included: at most bufferSize - 1 characters, then a zero.
// Answers the characters copied (0 for a null or empty buffer).
int32_t CopyToBuffer(const std::wstring& text, wchar_t* buffer, int32_t bufferSize);

// Upper-case hexadecimal with at least `digits` digits ("%.8X" for 8).
std::wstring IntToHex(uint32_t value, int digits);

// The system's message text for a Win32 error code, without the trailing
// line break; empty when the system has none.
std::wstring SysErrorMessage(uint32_t code);

// The message text for `code` from the message table of a loaded module
// (e.g. wininet.dll); empty when there is none.
std::wstring ModuleErrorMessage(const wchar_t* moduleName, uint32_t code);

}  // namespace rtl
