// One JSON object per line (JSON lines), in UTF-8, for tdsinfo --json.
#pragma once
#include <cstdint>
#include <string>

namespace tdsinfo {

// `text` as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, the rest in UTF-8.
std::string JsonString(const std::wstring& text);

// Fields in the order they are added.
class TJsonObject {
public:
    void Add(const char* name, const std::wstring& text);
    void Add(const char* name, int64_t number);
    // The object and a line break.
    std::string Line() const { return FText + "}\n"; }

private:
    void Name(const char* name);
    std::string FText = "{";
};

}  // namespace tdsinfo
