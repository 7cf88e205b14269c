#include "http/httpuploader_model.h"

#include <cstring>

#include "rtl/Exception.h"
#include "rtl/Raise.h"
#include "rtl/Text.h"

namespace http {

template <class T>
void TOwnedList<T>::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        rtl::RaiseNew<rtl::EListError>(rtl::Format(L"List index out of bounds (%d)", index));
}

template <class T>
T& TOwnedList<T>::GetItem(int index) const {
    CheckIndex(index);
    return *FItems[static_cast<size_t>(index)];
}

template <class T>
void TOwnedList<T>::SetItem(int index, std::unique_ptr<T> item) {
    CheckIndex(index);
    FItems[static_cast<size_t>(index)] = std::move(item);
}

template class TOwnedList<THTTPUploaderField>;
template class TOwnedList<THTTPUploaderFile>;

int THTTPUploaderFields::Add(const std::string& name, const std::string& value) {
    return Append(std::make_unique<THTTPUploaderField>(THTTPUploaderField{name, value}));
}

int THTTPUploaderFiles::Add(const std::string& fieldName, const std::wstring& pathName, const std::string& contentType) {
    return Append(std::make_unique<THTTPUploaderFile>(
        THTTPUploaderFile{fieldName, contentType.empty() ? "application/octet-stream" : contentType, pathName}));
}

void THTTPUploaderRequest::SetURL(const std::wstring& url) {
    size_t sep = url.find(L"://");
    if (sep == std::wstring::npos) return;
    Protocol = url.substr(0, sep);
    std::wstring rest = url.substr(sep + 3);
    size_t slash = rest.find(L'/');
    if (slash == std::wstring::npos) return;
    HostName = rest.substr(0, slash);
    UrlPath = rest.substr(slash);
}

std::wstring THTTPUploaderProxy::Describe(bool) const {
    return Port > 0 ? Server + L":" + std::to_wstring(Port) : Server;
}

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

bool ParseContentDispositionFilename(const std::string& headers, std::string& fileName) {
    std::string line;
    bool found = false;
    for (size_t pos = 0; pos <= headers.size() && !found;) {
        size_t end = headers.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = headers.size();
        std::string candidate = Trim(headers.substr(pos, end - pos));
        if (StartsWithNoCase(candidate, "Content-Disposition")) {
            line = candidate;
            found = true;
        }
        if (end >= headers.size()) break;
        // CR LF, LF and CR each end one line.
        pos = end + ((headers[end] == '\r' && end + 1 < headers.size() && headers[end + 1] == '\n') ? 2 : 1);
    }
    if (!found) return false;

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

void THTTPUploaderResponse::SetHeaders(const std::string& headers) {
    FHeaders = headers;
    std::string name;
    if (ParseContentDispositionFilename(FHeaders, name)) FContentDispositionFilename = name;
}

std::string THTTPUploaderResponse::MessageBodyAsString() const {
    if (FBody.empty()) return {};
    return std::string(FBody.data());  // stops at the first zero byte
}

void THTTPUploaderResponse::AppendBody(const char* data, uint32_t length) {
    if (length == 0) return;
    size_t old = MessageBodyLength();
    FBody.resize(old + length + 1);
    std::memcpy(FBody.data() + old, data, length);
    FBody[old + length] = '\0';
}

}  // namespace http
