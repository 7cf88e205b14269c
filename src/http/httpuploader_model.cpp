#include "http/httpuploader_model.h"

#include <cstring>

#include "http/httpuploader_headers.h"
#include "http/httpuploader_url.h"
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

int THTTPUploaderFiles::Add(const std::string& fieldName, const std::wstring& pathName, const std::string& contentType,
                            const std::wstring& sendName) {
    return Append(std::make_unique<THTTPUploaderFile>(THTTPUploaderFile{
        fieldName, contentType.empty() ? "application/octet-stream" : contentType, pathName, sendName}));
}

void THTTPUploaderRequest::SetURL(const std::wstring& url) {
    const TUrlParts<std::wstring> parts = SplitUrl(url);
    if (!parts.HasProtocol) return;
    Protocol = parts.Protocol;
    if (!parts.HasPath) return;
    HostName = parts.HostName;
    UrlPath = parts.UrlPath;
}

std::wstring THTTPUploaderProxy::Describe(bool) const {
    return Port > 0 ? Server + L":" + std::to_wstring(Port) : Server;
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
