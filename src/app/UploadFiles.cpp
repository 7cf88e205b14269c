#include "app/UploadFiles.h"

#include <cwctype>

namespace app {

std::string ContentTypeOf(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    std::wstring ext = dot == std::wstring::npos ? L"" : path.substr(dot);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(towlower(c));
    if (ext == L".txt" || ext == L".log" || ext == L".errlog" || ext == L".ini" || ext == L".csv")
        return "text/plain";
    if (ext == L".xml") return "text/xml";
    if (ext == L".zip") return "application/zip";
    return "application/octet-stream";
}

}  // namespace app
