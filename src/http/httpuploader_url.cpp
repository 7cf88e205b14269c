#include "http/httpuploader_url.h"

namespace http {

template <class S>
TUrlParts<S> SplitUrl(const S& url) {
    static const typename S::value_type kSeparator[] = {':', '/', '/', 0};
    TUrlParts<S> parts;
    const size_t sep = url.find(kSeparator);
    if (sep == S::npos) return parts;
    parts.HasProtocol = true;
    parts.Protocol = url.substr(0, sep);
    const size_t slash = url.find(typename S::value_type('/'), sep + 3);
    if (slash == S::npos) return parts;
    parts.HasPath = true;
    parts.HostName = url.substr(sep + 3, slash - sep - 3);
    parts.UrlPath = url.substr(slash);
    return parts;
}

// The upload client's wide strings, and UTF-16 where the build machine fuzzes.
template TUrlParts<std::wstring> SplitUrl(const std::wstring&);
template TUrlParts<std::u16string> SplitUrl(const std::u16string&);

}  // namespace http
