#include "config/ProxyAddress.h"

#include <utility>

namespace config {

namespace {

// HTTP's own port (RFC 9110, section 4.2.1).
const int32_t kHttpPort = 80;
// The longest name DNS can carry, written without its final dot (RFC 1035,
// section 2.3.4: 255 octets on the wire).
const size_t kMaxHostLength = 253;
// Longer text is cut where a reason quotes it, so a paste cannot flood the dialog.
const size_t kMaxQuoted = 24;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Letters, digits and hyphens make up host names (RFC 1123, section 2.1);
// the underscore is not among them, but names on company networks carry it.
bool IsHostChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || IsDigit(c) || c == u'-' || c == u'_' || c == u'.';
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::u16string Quoted(std::u16string_view s) {
    if (s.size() <= kMaxQuoted) return u"'" + std::u16string(s) + u"'";
    return u"'" + std::u16string(s.substr(0, kMaxQuoted)) + u"...'";
}

bool Refuse(std::u16string& reason, std::u16string why) {
    reason = std::move(why);
    return false;
}

bool IsHttp(std::u16string_view scheme) {
    const char16_t http[] = u"http";
    if (scheme.size() != 4) return false;
    for (size_t n = 0; n < 4; ++n) {
        char16_t c = scheme[n] >= u'A' && scheme[n] <= u'Z' ? static_cast<char16_t>(scheme[n] + 32) : scheme[n];
        if (c != http[n]) return false;
    }
    return true;
}

// Digits that make a port; otherwise the reason.
bool ReadPort(std::u16string_view text, int32_t& port, std::u16string& reason) {
    int32_t value = 0;
    bool digits = !text.empty();
    for (char16_t c : text) {
        if (!IsDigit(c)) digits = false;
        // Past 65535 the value only has to stay out of range.
        else if (value <= 65535)
            value = value * 10 + (c - u'0');
    }
    if (!digits || value < 1 || value > 65535)
        return Refuse(reason, u"the port must be a number from 1 to 65535, not " + Quoted(text) + u".");
    port = value;
    return true;
}

// The server box's text without blanks around it: its host and the port
// written after the host (0 when none); otherwise the reason.
bool ReadServer(std::u16string_view text, std::u16string& host, int32_t& port, std::u16string& reason) {
    for (char16_t c : text)
        if (IsBlank(c)) return Refuse(reason, u"spaces cannot be part of a proxy's address.");
    size_t scheme = text.find(u"://");
    if (scheme != std::u16string_view::npos) {
        // The upload client talks plain HTTP to its proxy (WinInet's CERN
        // proxy); a TLS or SOCKS proxy would never understand it.
        if (!IsHttp(text.substr(0, scheme)))
            return Refuse(reason,
                          u"only http:// proxies can be used, not " + Quoted(text.substr(0, scheme + 3)) + u".");
        text.remove_prefix(scheme + 3);
    }
    if (!text.empty() && text.back() == u'/') text.remove_suffix(1);
    size_t slash = text.find(u'/');
    if (slash != std::u16string_view::npos)
        return Refuse(reason, u"a proxy's address has no path: remove " + Quoted(text.substr(slash)) + u".");
    if (text.find(u'@') != std::u16string_view::npos)
        return Refuse(reason, u"the user name and password go into their own boxes, not into the address.");
    if (!text.empty() && text.front() == u'[')
        return Refuse(reason, u"IPv6 addresses cannot be used here; enter a host name or an IPv4 address.");

    size_t colon = text.find(u':');
    std::u16string_view name = text.substr(0, colon);
    if (name.empty()) return Refuse(reason, u"the server's name is missing.");
    if (name.size() > kMaxHostLength) return Refuse(reason, u"a server's name has at most 253 characters.");
    for (char16_t c : name)
        if (!IsHostChar(c))
            return Refuse(reason, Quoted(std::u16string(1, c)) +
                                      u" cannot be part of a server's name (letters, digits, '-', '_' and '.' can).");
    if (name.front() == u'.' || name.back() == u'.' || name.find(u"..") != std::u16string_view::npos)
        return Refuse(reason, u"a server's name cannot begin or end with '.', nor hold '..'.");

    port = 0;
    if (colon != std::u16string_view::npos) {
        std::u16string_view digits = text.substr(colon + 1);
        if (digits.empty()) return Refuse(reason, u"the port after ':' is missing.");
        if (!ReadPort(digits, port, reason)) return false;
    }
    host = name;
    return true;
}

}  // namespace

TProxyEntry ReadProxyBoxes(std::u16string_view server, std::u16string_view port) {
    TProxyEntry entry;
    std::u16string host;
    int32_t serverPort = 0, boxPort = 0;
    server = Trim(server);
    port = Trim(port);
    if (!server.empty() && !ReadServer(server, host, serverPort, entry.Reason)) {
        entry.Refused = TProxyBox::Server;
        return entry;
    }
    if (!port.empty() && !ReadPort(port, boxPort, entry.Reason)) {
        entry.Refused = TProxyBox::Port;
        return entry;
    }
    entry.Host = host;
    if (host.empty())
        entry.Port = boxPort;
    else
        entry.Port = serverPort ? serverPort : boxPort ? boxPort : kHttpPort;
    return entry;
}

}  // namespace config
