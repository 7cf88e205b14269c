#include "http/httpuploader_multipart.h"

#include <cstdio>
#include <ctime>
#include <random>

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
    char digits[16];
    unsigned a = number(Generator()), b = number(Generator()), c = number(Generator());
    snprintf(digits, sizeof(digits), "%04X%04X%04X", a, b, c);
    return std::string(27, '-') + digits;
}

std::string EscapeQuoted(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        switch (c) {
            case '"': out += "%22"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            default: out += c;
        }
    }
    return out;
}

// A content type is not quoted, so only a line break could inject a header.
static std::string EscapeLineBreaks(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out += c;
    }
    return out;
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
    return "--" + boundary + kCRLF + "Content-Disposition: form-data; name=\"" + EscapeQuoted(field.Name) + "\"" +
           kCRLF + kCRLF;
}

std::string FileHeader(const std::string& boundary, const THTTPUploaderFile& file) {
    return "--" + boundary + kCRLF + "Content-Disposition: form-data; name=\"" + EscapeQuoted(file.FieldName) +
           "\"; filename=\"" + EscapeQuoted(NameToUtf8(FileNameOf(file.PathName))) + "\"" + kCRLF +
           "Content-Type: " + EscapeLineBreaks(file.ContentType) + kCRLF + kCRLF;
}

std::string ClosingLine(const std::string& boundary) { return "--" + boundary + "--" + kCRLF; }

}  // namespace http::multipart
