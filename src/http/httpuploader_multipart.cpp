#include "http/httpuploader_multipart.h"

#include <cstdio>
#include <ctime>
#include <random>

#include "rtl/FilePath.h"
#include "rtl/Text.h"
#include "rtl/Win.h"

namespace http::multipart {

namespace {

// Seeded from the clock when the process starts.
std::mt19937& Generator() {
    static std::mt19937 generator(static_cast<unsigned>(GetTickCount()) ^ static_cast<unsigned>(time(nullptr)) ^
                                  (GetCurrentProcessId() << 16));
    return generator;
}
[[maybe_unused]] const bool kSeededAtStart = (Generator(), true);

}  // namespace

std::string MakeBoundary() {
    std::uniform_int_distribution<unsigned> number(0, 65535);
    unsigned a = number(Generator()), b = number(Generator()), c = number(Generator());
    return FormatBoundary(a, b, c);
}

std::wstring FileNameOf(const std::wstring& path) { return rtl::ExtractFileName(path); }

std::string NameToUtf8(const std::wstring& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const uint32_t c = static_cast<uint16_t>(name[i]);
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        const bool paired = high && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF;
        if (paired) {
            out += rtl::ToUtf8(name.substr(i, 2));
            ++i;
        } else if (high || low) {
            // Half a pair has no UTF-8 form: its three bytes are written
            // escaped, as a '"' is, instead of being lost.
            char escaped[16];
            snprintf(escaped, sizeof(escaped), "%%%02X%%%02X%%%02X", 0xE0 | (c >> 12), 0x80 | ((c >> 6) & 0x3F),
                     0x80 | (c & 0x3F));
            out += escaped;
        } else {
            out += rtl::ToUtf8(std::wstring(1, static_cast<wchar_t>(c)));
        }
    }
    return out;
}

std::string FieldHeader(const std::string& boundary, const THTTPUploaderField& field) {
    return FieldHeader(boundary, field.Name);
}

std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file) {
    const std::wstring name = file.SendName.empty() ? FileNameOf(file.PathName) : file.SendName;
    return FileHeader(boundary, file.FieldName, NameToUtf8(name), file.ContentType);
}

}  // namespace http::multipart
