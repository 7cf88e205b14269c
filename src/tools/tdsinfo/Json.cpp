#include "tdsinfo/Json.h"

#include "rtl/Text.h"

namespace tdsinfo {

std::string JsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        switch (c) {
            case L'"': out += L"\\\""; break;
            case L'\\': out += L"\\\\"; break;
            case L'\b': out += L"\\b"; break;
            case L'\f': out += L"\\f"; break;
            case L'\n': out += L"\\n"; break;
            case L'\r': out += L"\\r"; break;
            case L'\t': out += L"\\t"; break;
            default:
                if (c < 0x20)
                    out += rtl::Format(L"\\u%04X", static_cast<unsigned>(c));
                else
                    out += c;
        }
    }
    return rtl::ToUtf8(out + L"\"");
}

void TJsonObject::Name(const char* name) {
    if (FText.size() > 1) FText += ",";
    FText += JsonString(rtl::FromAnsi(name)) + ":";
}

void TJsonObject::Add(const char* name, const std::wstring& text) {
    Name(name);
    FText += JsonString(text);
}

void TJsonObject::Add(const char* name, int64_t number) {
    Name(name);
    FText += std::to_string(number);
}

}  // namespace tdsinfo
