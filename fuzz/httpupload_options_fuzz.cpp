// httpupload's command line from any words (the input split at zero bytes;
// a byte from 0xF0 on and the two after it make one UTF-16 code unit of any
// value, zero included, other bytes above 0x7F a Latin-1 one). The parser
// answers usable, help or one of its fault texts, and what it answers agrees
// with the words: numbers in their ranges and as the words write them, each
// field and file read back from a word, a URL the upload client can split,
// a password only from where an option took it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/httpuploader_url.h"
#include "httpupload/OptionsText.h"

namespace {

using S = std::u16string;
using TOptions = httpupload::TBasicOptions<S>;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "httpupload options: %s\n", what);
        std::abort();
    }
}

S Str(const char* text) { return S(text, text + std::char_traits<char>::length(text)); }

bool StartsWith(const S& text, const S& start) { return text.compare(0, start.size(), start) == 0; }

// The password sources: variables whose names begin with "QF_" are set.
int gEnvironmentCalls = 0, gStdinCalls = 0;
bool Environment(const S& name, S& value) {
    ++gEnvironmentCalls;
    if (!StartsWith(name, u"QF_")) return false;
    value = u"env:" + name;
    return true;
}
S StdinLine() {
    ++gStdinCalls;
    return u"stdin line";
}

// The build machine's C runtime reads ASCII digits only: an independent
// reading of `text` as [blanks][sign]digits, saturating; false when it is not.
bool Decimal(const S& text, bool blanks, bool plus, bool minus, uint64_t& value) {
    size_t i = 0;
    while (blanks && i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && ((plus && text[i] == u'+') || (minus && text[i] == u'-'))) negative = text[i++] == u'-';
    if (i == text.size()) return false;
    value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        value = value > 1000000 ? value : value * 10 + (text[i] - u'0');
    }
    if (negative) value = 0;
    return true;
}

// Some option of `name` followed by a word that `matches`.
template <class F>
bool SomeValue(const std::vector<S>& args, const char* name, F matches) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == Str(name) && matches(args[i + 1])) return true;
    return false;
}

bool IsWord(const std::vector<S>& args, const S& text) {
    for (const S& a : args)
        if (a == text) return true;
    return false;
}

// --file's reading of one word, whatever the word is.
void CheckFileOption(const S& word) {
    TOptions::TFile f;
    const size_t eq = word.find(u'=');
    const bool usable = eq != S::npos && eq != 0 && eq + 1 != word.size();
    Check(httpupload::ParseFileOption(word, f) == usable, "a file option refused or taken against its '='");
    if (!usable) return;
    Check(f.Field == word.substr(0, eq), "the field name is not what stands before the first '='");
    Check(f.Field + u"=" + f.Path + (f.Type.empty() ? S() : u";" + f.Type) == word, "path and type do not read back");
    Check(f.Type.empty() || httpupload::LooksLikeContentType(f.Type), "a type that does not look like one");
    const size_t semi = f.Path.rfind(u';');
    Check(!f.Type.empty() || semi == S::npos || !httpupload::LooksLikeContentType(f.Path.substr(semi + 1)),
          "a content type left in the path");
    if (httpupload::LooksLikeContentType(word)) {
        const size_t slash = word.find(u'/');
        Check(slash != 0 && slash + 1 < word.size() && word.find(u'/', slash + 1) == S::npos, "a type without one '/'");
    }
}

// A fault text is one of the parser's, about a word it was given.
void CheckFault(const S& error, const std::vector<S>& args, const TOptions& o) {
    static const char* const kFixed[] = {"--field needs NAME=VALUE",
                                         "--file needs FIELD=PATH[;TYPE]",
                                         "--retry needs a number from 0 to 10",
                                         "--connect-timeout needs a number of seconds from 1 to 86400",
                                         "--max-time needs a number of seconds from 1 to 86400",
                                         "--proxy needs HOST:PORT or http://HOST:PORT",
                                         "--proxy needs HOST:PORT with a port from 1 to 65535",
                                         "--proxy-user needs a user name",
                                         "--proxy-password needs a password",
                                         "--proxy-password-env needs a variable name",
                                         "--output needs a file name",
                                         "no URL given",
                                         "--proxy-user needs --proxy"};
    for (const char* text : kFixed)
        if (error == Str(text)) return;
    const S kUnknown = u"unknown option ", kMore = u"more than one URL: ",
            kNoVariable = u"--proxy-password-env: the environment has no ",
            kUrl = u"the URL must look like http://host/path or https://host/path: ";
    if (StartsWith(error, kUnknown)) {
        const S word = error.substr(kUnknown.size());
        Check(IsWord(args, word) && StartsWith(word, u"--"), "an unknown option that is none");
    } else if (StartsWith(error, kMore)) {
        Check(IsWord(args, error.substr(kMore.size())) && !o.Url.empty(), "a second URL that was not given");
    } else if (StartsWith(error, kNoVariable)) {
        const S name = error.substr(kNoVariable.size());
        Check(IsWord(args, name) && !StartsWith(name, u"QF_"), "a variable that is set was missed");
    } else {
        Check(StartsWith(error, kUrl), "a fault text the parser does not have");
        Check(error.substr(kUrl.size()) == o.Url && IsWord(args, o.Url), "a URL fault about another URL");
        const http::TUrlParts<S> url = http::SplitUrl(o.Url);
        Check(!url.HasPath || url.HostName.empty() || (url.Protocol != u"http" && url.Protocol != u"https"),
              "a usable URL refused");
    }
}

// What a usable command line says, against the words.
void CheckUsable(const std::vector<S>& args, const TOptions& o) {
    const http::TUrlParts<S> url = http::SplitUrl(o.Url);
    Check(IsWord(args, o.Url) && !StartsWith(o.Url, u"--"), "a URL that is no word");
    Check(url.HasProtocol && url.HasPath && !url.HostName.empty() &&
              (url.Protocol == u"http" || url.Protocol == u"https"),
          "a URL the upload client cannot use");
    Check(url.Protocol + u"://" + url.HostName + url.UrlPath == o.Url, "the URL does not split back");

    Check(o.Retries <= 10, "--retry out of range");
    Check(o.ConnectTimeout >= 1 && o.ConnectTimeout <= 86400, "--connect-timeout out of range");
    Check(o.MaxTime <= 86400, "--max-time out of range");
    uint64_t n = 0;
    if (o.Retries != 0)
        Check(SomeValue(args, "--retry",
                        [&](const S& v) { return Decimal(v, false, false, false, n) && n == o.Retries; }),
              "a retry count that no --retry wrote");
    if (o.ConnectTimeout != 30)
        Check(SomeValue(args, "--connect-timeout",
                        [&](const S& v) { return Decimal(v, false, true, false, n) && n == o.ConnectTimeout; }),
              "a connect time-out that no --connect-timeout wrote");
    if (o.MaxTime != 0)
        Check(SomeValue(args, "--max-time",
                        [&](const S& v) { return Decimal(v, false, true, false, n) && n == o.MaxTime; }),
              "a time bound that no --max-time wrote");

    Check(o.ProxyHost.empty() == (o.ProxyPort == 0), "a proxy host without a port or the other way round");
    Check(o.ProxyUser.empty() || !o.ProxyHost.empty(), "a proxy user without a proxy");
    if (!o.ProxyHost.empty()) {
        Check(SomeValue(args, "--proxy",
                        [&](const S& word) {
                            S v = StartsWith(word, u"http://") ? word.substr(7) : word;
                            if (!v.empty() && v.back() == u'/') v.pop_back();
                            return StartsWith(v, o.ProxyHost + u":") &&
                                   v.find(u':', o.ProxyHost.size() + 1) == S::npos &&
                                   Decimal(v.substr(o.ProxyHost.size() + 1), true, true, true, n) && n == o.ProxyPort;
                        }),
              "a proxy that no --proxy wrote");
    }
    Check(o.ProxyPassword.empty() || IsWord(args, o.ProxyPassword) ||
              (o.ProxyPassword == u"stdin line" && gStdinCalls > 0) ||
              (StartsWith(o.ProxyPassword, u"env:QF_") && IsWord(args, o.ProxyPassword.substr(4))),
          "a password from nowhere");
    Check(o.Output.empty() || IsWord(args, o.Output), "an output file that is no word");

    for (const auto& field : o.Fields) {
        Check(!field.first.empty() && field.first.find(u'=') == S::npos, "a field name that is empty or holds '='");
        Check(IsWord(args, field.first + u"=" + field.second), "a field that does not read back");
    }
    for (const auto& f : o.Files) {
        const S word = f.Field + u"=" + f.Path + (f.Type.empty() ? S() : u";" + f.Type);
        TOptions::TFile again;
        Check(IsWord(args, word) && httpupload::ParseFileOption(word, again), "a file that does not read back");
        Check(again.Field == f.Field && again.Path == f.Path && again.Type == f.Type, "a file read two ways");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<S> args(1);
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else if (data[i] >= 0xF0 && i + 2 < size) {
            args.back() += static_cast<char16_t>(data[i + 1] << 8 | data[i + 2]);
            i += 2;
        } else
            args.back() += static_cast<char16_t>(data[i]);
    }
    for (const S& a : args) CheckFileOption(a);

    int stdinOptions = 0, environmentOptions = 0;
    for (const S& a : args) {
        stdinOptions += a == u"--proxy-password-stdin";
        environmentOptions += a == u"--proxy-password-env";
    }
    gEnvironmentCalls = gStdinCalls = 0;
    TOptions o;
    const S error = httpupload::ParseOptionWords(args, o, {Environment, StdinLine});
    Check(gStdinCalls <= stdinOptions && gEnvironmentCalls <= environmentOptions, "a password source asked unbidden");

    TOptions again;
    Check(httpupload::ParseOptionWords(args, again, {Environment, StdinLine}) == error && again.Url == o.Url &&
              again.Files.size() == o.Files.size() && again.Help == o.Help,
          "two readings differ");

    if (!error.empty())
        CheckFault(error, args, o);
    else if (!o.Help)
        CheckUsable(args, o);
    return 0;
}
