#include "http/httpuploader_headers.h"

#include <cstring>

namespace http {

namespace {

// Whitespace and control characters, as the header trimming treats them.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Keeps only the last path component and removes bytes that no file name may
// hold (controls and "*<>?|), so a server cannot steer where a file lands.
std::string CleanFileName(std::string name) {
    size_t cut = name.find_last_of("/\\:");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    for (size_t i = name.size(); i-- > 0;) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 32 || std::strchr("\"*<>?|", c)) name.erase(i, 1);
    }
    return name;
}

}  // namespace

bool FindHeaderLine(const std::string& headers, const char* start, std::string& line) {
    for (size_t pos = 0; pos <= headers.size();) {
        size_t end = headers.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = headers.size();
        std::string candidate = Trim(headers.substr(pos, end - pos));
        if (StartsWithNoCase(candidate, start)) {
            line = candidate;
            return true;
        }
        if (end >= headers.size()) break;
        // CR LF, LF and CR each end one line.
        pos = end + ((headers[end] == '\r' && end + 1 < headers.size() && headers[end + 1] == '\n') ? 2 : 1);
    }
    return false;
}

bool ParseContentDispositionFilename(const std::string& headers, std::string& fileName) {
    std::string line;
    if (!FindHeaderLine(headers, "Content-Disposition", line)) return false;

    for (size_t semi = line.find(';'); semi != std::string::npos; semi = line.find(';')) {
        line = Trim(line.substr(semi + 1));
        if (line.compare(0, 8, "filename") != 0) continue;
        std::string value = Trim(line.substr(8));
        if (value.empty() || value[0] != '=') continue;
        value = Trim(value.substr(1));
        std::string name;
        bool taken = false;
        if (!value.empty() && value[0] == '"') {
            size_t close = value.find('"', 1);
            if (close != std::string::npos) {
                name = value.substr(1, close - 1);
                taken = true;
            }
        } else {
            size_t stop = value.find(' ');
            if (stop == std::string::npos) stop = value.find(';');
            name = value.substr(0, stop);
            taken = true;
        }
        if (!taken) return false;
        fileName = CleanFileName(name);
        return true;
    }
    return false;
}

}  // namespace http
