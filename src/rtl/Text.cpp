#include "rtl/Text.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "rtl/Win.h"

#include <shellapi.h>

namespace rtl {

static std::string WideToBytes(UINT codePage, const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

static std::wstring BytesToWide(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

std::string ToAnsi(const std::wstring& text) { return WideToBytes(CP_ACP, text); }
std::wstring FromAnsi(const std::string& bytes) { return BytesToWide(CP_ACP, bytes); }
std::string ToUtf8(const std::wstring& text) { return WideToBytes(CP_UTF8, text); }
std::wstring FromUtf8(const std::string& bytes) { return BytesToWide(CP_UTF8, bytes); }

std::wstring Format(const wchar_t* fmt, ...) {
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list args;
        va_start(args, fmt);
        int n = vswprintf(buf.data(), buf.size(), fmt, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) return std::wstring(buf.data(), static_cast<size_t>(n));
        if (buf.size() >= (1u << 24)) return std::wstring(buf.data());
        buf.resize(buf.size() * 4);
    }
}

std::wstring IntToHex(uint32_t value, int digits) { return Format(L"%.*X", digits, value); }

static std::wstring TrimMessage(const wchar_t* text, DWORD n) {
    std::wstring s(text, n);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' ')) s.pop_back();
    return s;
}

std::wstring SysErrorMessage(uint32_t code) {
    wchar_t buf[1024];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, 0, buf, 1024, nullptr);
    return TrimMessage(buf, n);
}

std::wstring ModuleErrorMessage(const wchar_t* moduleName, uint32_t code) {
    HMODULE module = GetModuleHandleW(moduleName);
    if (!module) return {};
    wchar_t buf[1024];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, 0, buf, 1024,
                             nullptr);
    return TrimMessage(buf, n);
}

int32_t CopyToBuffer(const std::wstring& text, wchar_t* buffer, int32_t bufferSize) {
    if (!buffer || bufferSize <= 0) return 0;
    const size_t room = static_cast<size_t>(bufferSize) - 1;
    const size_t n = text.size() < room ? text.size() : room;
    text.copy(buffer, n);
    buffer[n] = L'\0';
    return static_cast<int32_t>(n);
}

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> args;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

}  // namespace rtl
