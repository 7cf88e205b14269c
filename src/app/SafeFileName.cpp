#include "app/SafeFileName.h"

#include <cctype>
#include <cwchar>
#include <cwctype>

#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace app {

namespace {

constexpr size_t kMaxNameLength = 200;

bool IsInvalidChar(wchar_t c) { return c < 32 || std::wcschr(L"<>:\"/\\|?*", c) != nullptr; }

bool IsDeviceName(const std::wstring& name) {
    // The system treats "con.txt" and "con .txt" as the device too.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" || stem == L"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

void TrimTrailingDotsAndBlanks(std::wstring& s) {
    while (!s.empty() && (s.back() == L'.' || s.back() == L' ')) s.pop_back();
}

}  // namespace

std::wstring WindowsSafeFileName(const std::wstring& suggested, const std::wstring& fallback) {
    std::wstring name;
    for (wchar_t c : suggested) name += IsInvalidChar(c) ? L'_' : c;
    const size_t first = name.find_first_not_of(L' ');
    name.erase(0, first == std::wstring::npos ? name.size() : first);
    TrimTrailingDotsAndBlanks(name);
    // Names of only dots and underscores say nothing (and "_.._" once was "/../").
    if (name.find_first_not_of(L"._ ") == std::wstring::npos) name.clear();
    if (name.empty()) name = fallback;
    if (name.size() > kMaxNameLength) {
        const size_t dot = name.find_last_of(L'.');
        std::wstring ext = dot != std::wstring::npos && name.size() - dot <= 16 ? name.substr(dot) : L"";
        name = name.substr(0, kMaxNameLength - ext.size()) + ext;
        TrimTrailingDotsAndBlanks(name);
    }
    if (IsDeviceName(name)) name = L"_" + name;
    return name;
}

std::wstring AnswerFileName(const std::string& suggested, const std::string& headers) {
    std::wstring ext = L".bin";
    std::string lower = headers;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t pos = lower.find("\ncontent-type:");
    if (pos != std::string::npos) {
        const std::string type = lower.substr(pos + 14, lower.find('\r', pos + 14) - pos - 14);
        if (type.find("text/html") != std::string::npos)
            ext = L".html";
        else if (type.find("json") != std::string::npos)
            ext = L".json";
        else if (type.find("xml") != std::string::npos)
            ext = L".xml";
        else if (type.find("text/") != std::string::npos)
            ext = L".txt";
    }
    return WindowsSafeFileName(rtl::FromUtf8(suggested), L"answer" + ext);
}

std::wstring UniqueFilePath(const std::wstring& folder, const std::wstring& name) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\' && base.back() != L'/') base += L'\\';
    std::wstring path = base + name;
    if (!rtl::PathTaken(path)) return path;
    const size_t dot = name.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring ext = dot == std::wstring::npos || dot == 0 ? L"" : name.substr(dot);
    for (int n = 2; n < 10000; ++n) {
        path = base + stem + L" (" + std::to_wstring(n) + L")" + ext;
        if (!rtl::PathTaken(path)) break;
    }
    return path;
}

}  // namespace app
