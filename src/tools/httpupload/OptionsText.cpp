#include "httpupload/OptionsText.h"

#include "AsciiText.h"

#include <cwchar>
#include <cwctype>

#include "http/httpuploader_url.h"

namespace httpupload {

const char kHelp[] =
    "Usage: httpupload [options] URL\n"
    "\n"
    "Posts form fields and files to URL (http://host[:port]/path or https://...)\n"
    "as one multipart/form-data request through WinInet. Without fields and\n"
    "files it sends a GET.\n"
    "\n"
    "Options:\n"
    "  --field NAME=VALUE         a form field; may be repeated\n"
    "  --file FIELD=PATH[;TYPE]   a file to send under form field FIELD, with\n"
    "                             content type TYPE such as text/plain\n"
    "                             (application/octet-stream when left out); a\n"
    "                             path may hold ';' when no TYPE follows it;\n"
    "                             may be repeated\n"
    "  --proxy [http://]HOST:PORT send through this HTTP proxy, for this upload\n"
    "                             only (default: the system's proxy settings)\n"
    "  --proxy-user USER          proxy user name, sent with the first request\n"
    "  --proxy-password PASSWORD  proxy password (visible to other users of the\n"
    "                             machine: prefer one of the next two)\n"
    "  --proxy-password-env NAME  the proxy password from environment variable NAME\n"
    "  --proxy-password-stdin     the proxy password from the first line of\n"
    "                             standard input\n"
    "  --connect-timeout SECONDS  give up connecting after SECONDS (default 30)\n"
    "  --max-time SECONDS         give up when the whole exchange takes longer;\n"
    "                             a send or a read that moves nothing for 60 s\n"
    "                             (or SECONDS, when less) fails at any rate\n"
    "  --retry N                  try up to N times more (1, 2, 4 ... 30 s apart)\n"
    "                             when the server cannot be reached, the\n"
    "                             connection breaks or times out, or the answer\n"
    "                             is 500 or above\n"
    "  --fail                     exit with 6 when the answer's HTTP status is 400\n"
    "                             or above (its body is still written)\n"
    "  --no-ui                    never show the proxy login dialog; a proxy\n"
    "                             that asks for a login without --proxy-user\n"
    "                             then fails the upload\n"
    "  --output FILE              write the answer's body to FILE as it arrives\n"
    "                             (default: standard output)\n"
    "  --headers                  print the answer's raw header block to\n"
    "                             standard output, before any body\n"
    "  --help                     show this text\n"
    "\n"
    "Progress (bytes sent, rate, time left) and the other status events go to\n"
    "standard error, the HTTP status code last. Ctrl+C cancels the transfer.\n"
    "\n"
    "Exit codes: 0 an answer arrived (any HTTP status unless --fail), 2 bad\n"
    "command line, 3 the upload failed (the reason is printed), 4 cancelled,\n"
    "5 the body could not be written, 6 --fail and an HTTP status of 400 or\n"
    "above.\n";

namespace {

// The C runtime's view of the words: one wchar_t per code unit.
template <class S>
std::wstring Wide(const S& text) {
    return std::wstring(text.begin(), text.end());
}

template <class C>
std::wint_t WideChar(C c) {
    return static_cast<std::wint_t>(static_cast<wchar_t>(c));
}

// wcstoul or wcstol over all of `text`, which they must read to its end (a
// zero code unit stops them early, so it refuses the number).
bool WholeUnsigned(const std::wstring& text, unsigned long& n) {
    wchar_t* end = nullptr;
    n = std::wcstoul(text.c_str(), &end, 10);
    return end == text.c_str() + text.size();
}

// `read` is false when wcstol read no digit at all.
bool WholeSigned(const std::wstring& text, long& n, bool& read) {
    wchar_t* end = nullptr;
    n = std::wcstol(text.c_str(), &end, 10);
    read = end != text.c_str();
    return end == text.c_str() + text.size();
}

}  // namespace

template <class S>
bool LooksLikeContentType(const S& text) {
    using C = typename S::value_type;
    const size_t slash = text.find(C('/'));
    if (slash == S::npos || slash == 0 || slash + 1 == text.size() || text.find(C('/'), slash + 1) != S::npos)
        return false;
    static const char kMarks[] = "!#$&^_.+-";
    for (C c : text) {
        bool mark = false;
        for (const char* m = kMarks; *m && !mark; ++m) mark = c == C(*m);
        if (!(std::iswalnum(WideChar(c)) || c == C('/') || mark)) return false;
    }
    return true;
}

template <class S>
bool ParseFileOption(const S& value, typename TBasicOptions<S>::TFile& file) {
    using C = typename S::value_type;
    const size_t eq = value.find(C('='));
    if (eq == S::npos || eq == 0 || eq + 1 == value.size()) return false;
    S path = value.substr(eq + 1), type;
    const size_t semi = path.rfind(C(';'));
    if (semi != S::npos && LooksLikeContentType(path.substr(semi + 1))) {
        type = path.substr(semi + 1);
        path.erase(semi);
    }
    file = {value.substr(0, eq), path, type};
    return true;
}

template <class S>
S ParseOptionWords(const std::vector<S>& args, TBasicOptions<S>& o, const TPasswordSources<S>& sources) {
    using C = typename S::value_type;
    auto is = [](const S& a, const char* option) { return a == AsciiText<S>(option); };
    for (size_t i = 0; i < args.size(); ++i) {
        const S& a = args[i];
        // The word after an option is its value, whatever it looks like.
        auto value = [&](S& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        S v;
        if (is(a, "--help") || is(a, "-h") || is(a, "/?")) {
            o.Help = true;
        } else if (is(a, "--no-ui")) {
            o.NoUI = true;
        } else if (is(a, "--headers")) {
            o.Headers = true;
        } else if (is(a, "--field")) {
            const size_t eq = value(v) ? v.find(C('=')) : S::npos;
            if (eq == S::npos || eq == 0) return AsciiText<S>("--field needs NAME=VALUE");
            o.Fields.push_back({v.substr(0, eq), v.substr(eq + 1)});
        } else if (is(a, "--file")) {
            typename TBasicOptions<S>::TFile file;
            if (!value(v) || !ParseFileOption(v, file)) return AsciiText<S>("--file needs FIELD=PATH[;TYPE]");
            o.Files.push_back(file);
        } else if (is(a, "--fail")) {
            o.Fail = true;
        } else if (is(a, "--retry")) {
            // Digits only: wcstoul alone would also skip blanks and take a sign.
            unsigned long n = 0;
            if (!value(v) || v.empty() || !WholeUnsigned(Wide(v), n) || n > 10 || !std::iswdigit(WideChar(v[0])))
                return AsciiText<S>("--retry needs a number from 0 to 10");
            o.Retries = static_cast<uint32_t>(n);
        } else if (is(a, "--connect-timeout") || is(a, "--max-time")) {
            // A '+' may lead, as wcstoul takes it; blanks and '-' may not.
            unsigned long seconds = 0;
            if (!value(v) || v.empty() || !WholeUnsigned(Wide(v), seconds) || seconds == 0 || seconds > 86400 ||
                std::iswspace(WideChar(v[0])) || v[0] == C('-'))
                return a + AsciiText<S>(" needs a number of seconds from 1 to 86400");
            (is(a, "--max-time") ? o.MaxTime : o.ConnectTimeout) = static_cast<uint32_t>(seconds);
        } else if (is(a, "--proxy")) {
            if (value(v) && v.rfind(AsciiText<S>("http://"), 0) == 0) v.erase(0, 7);
            if (!v.empty() && v.back() == C('/')) v.pop_back();
            const size_t colon = v.empty() ? S::npos : v.rfind(C(':'));
            if (colon == S::npos || colon == 0) return AsciiText<S>("--proxy needs HOST:PORT or http://HOST:PORT");
            // wcstol's reading: blanks and a sign may lead the port.
            long port = 0;
            bool read = false;
            if (!WholeSigned(Wide(v.substr(colon + 1)), port, read) || !read || port <= 0 || port > 65535)
                return AsciiText<S>("--proxy needs HOST:PORT with a port from 1 to 65535");
            o.ProxyHost = v.substr(0, colon);
            o.ProxyPort = static_cast<uint16_t>(port);
        } else if (is(a, "--proxy-user")) {
            if (!value(o.ProxyUser)) return AsciiText<S>("--proxy-user needs a user name");
        } else if (is(a, "--proxy-password")) {
            if (!value(o.ProxyPassword)) return AsciiText<S>("--proxy-password needs a password");
        } else if (is(a, "--proxy-password-env")) {
            if (!value(v) || v.empty()) return AsciiText<S>("--proxy-password-env needs a variable name");
            if (!sources.Environment(v, o.ProxyPassword))
                return AsciiText<S>("--proxy-password-env: the environment has no ") + v;
        } else if (is(a, "--proxy-password-stdin")) {
            o.ProxyPassword = sources.StdinLine();
        } else if (is(a, "--output")) {
            if (!value(o.Output) || o.Output.empty()) return AsciiText<S>("--output needs a file name");
        } else if (a.rfind(AsciiText<S>("--"), 0) == 0) {
            return AsciiText<S>("unknown option ") + a;
        } else if (o.Url.empty()) {
            o.Url = a;
        } else {
            return AsciiText<S>("more than one URL: ") + a;
        }
    }
    if (o.Help) return {};
    if (o.Url.empty()) return AsciiText<S>("no URL given");
    // The upload client splits the URL the same way when it sends.
    const http::TUrlParts<S> url = http::SplitUrl(o.Url);
    if (!url.HasPath || url.HostName.empty() ||
        (url.Protocol != AsciiText<S>("http") && url.Protocol != AsciiText<S>("https")))
        return AsciiText<S>("the URL must look like http://host/path or https://host/path: ") + o.Url;
    if (!o.ProxyHost.empty() || o.ProxyUser.empty()) return {};
    return AsciiText<S>("--proxy-user needs --proxy");
}

// httpupload's wide strings, where they are UTF-16 code units, and the build machine's.
#define QF_INSTANTIATE_OPTIONS(S)                                         \
    template bool LooksLikeContentType<S>(const S&);                      \
    template bool ParseFileOption<S>(const S&, TBasicOptions<S>::TFile&); \
    template S ParseOptionWords<S>(const std::vector<S>&, TBasicOptions<S>&, const TPasswordSources<S>&);
#if WCHAR_MAX == 0xFFFF
QF_INSTANTIATE_OPTIONS(std::wstring)
#endif
QF_INSTANTIATE_OPTIONS(std::u16string)

}  // namespace httpupload
