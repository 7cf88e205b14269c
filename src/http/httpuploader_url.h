// A URL as the upload client splits it: "protocol://host/path". Includes no
// operating system header: httpupload's command-line check splits with it
// too, and the build machine fuzzes it there.
#pragma once
#include <string>

namespace http {

// The parts of `url`, split at its first "://" and at the first '/' after
// that. The host keeps whatever stands before the '/' (a ":port", a
// "user@"), the path keeps the '/' and any query; nothing else is checked.
template <class S>
struct TUrlParts {
    bool HasProtocol = false;  // "://" was found: Protocol is set
    bool HasPath = false;      // and a '/' after it: HostName and UrlPath are set too
    S Protocol, HostName, UrlPath;
};

template <class S>
TUrlParts<S> SplitUrl(const S& url);

}  // namespace http
