// An ordered list of text lines, as the crash facility's dumps are kept.
#pragma once
#include <string>
#include <vector>

namespace rtl {

class TStringList {
public:
    void Add(std::wstring line) { FLines.push_back(std::move(line)); }
    void Clear() { FLines.clear(); }
    int Count() const { return static_cast<int>(FLines.size()); }
    const std::wstring& operator[](int i) const { return FLines[static_cast<size_t>(i)]; }
    const std::vector<std::wstring>& Lines() const { return FLines; }
    // Every line followed by CR LF.
    std::wstring Text() const {
        std::wstring text;
        for (const std::wstring& line : FLines) text += line + L"\r\n";
        return text;
    }

private:
    std::vector<std::wstring> FLines;
};

}  // namespace rtl
