#include "env/TextUtils.h"

#include <algorithm>

#include "rtl/Text.h"

namespace env {

void WriteAnsiText(HANDLE file, const std::wstring& text) {
    std::string bytes = rtl::ToAnsi(text);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

std::wstring ReplaceChar(std::wstring text, wchar_t find, wchar_t replacement) {
    std::replace(text.begin(), text.end(), find, replacement);
    return text;
}

}  // namespace env
