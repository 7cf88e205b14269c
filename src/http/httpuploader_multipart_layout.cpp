#include "http/httpuploader_multipart_layout.h"

#include <cstdio>

namespace http::multipart {

namespace {

// A content type is not quoted, so only a line break could inject a header.
std::string EscapeLineBreaks(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string FormatBoundary(unsigned a, unsigned b, unsigned c) {
    char digits[16];
    snprintf(digits, sizeof(digits), "%04X%04X%04X", a & 0xFFFF, b & 0xFFFF, c & 0xFFFF);
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

std::string FieldHeader(const std::string& boundary, const std::string& name) {
    return "--" + boundary + kCRLF + "Content-Disposition: form-data; name=\"" + EscapeQuoted(name) + "\"" + kCRLF +
           kCRLF;
}

std::string FileHeader(const std::string& boundary, const std::string& fieldName, const std::string& fileName,
                       const std::string& contentType) {
    return "--" + boundary + kCRLF + "Content-Disposition: form-data; name=\"" + EscapeQuoted(fieldName) +
           "\"; filename=\"" + EscapeQuoted(fileName) + "\"" + kCRLF +
           "Content-Type: " + EscapeLineBreaks(contentType) + kCRLF + kCRLF;
}

std::string ClosingLine(const std::string& boundary) { return "--" + boundary + "--" + kCRLF; }

}  // namespace http::multipart
