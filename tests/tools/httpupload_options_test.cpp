// httpupload's command-line reading, one line per command line: the words,
// then the fault the tool prints, or what it takes from them. The Wine
// suite compiles it, and so does the build machine under its sanitizers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "httpupload/OptionsText.h"

using namespace httpupload;

namespace {

using S = std::u16string;
using TOptions = TBasicOptions<S>;

S U(const char* text) { return S(text, text + std::char_traits<char>::length(text)); }

std::string Narrow(const S& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Only QF_SET is set; standard input holds one line.
bool Environment(const S& name, S& value) {
    if (name != u"QF_SET") return false;
    value = u"from env";
    return true;
}
S StdinLine() { return u"from stdin"; }

// What a command line says, without what every one says by default.
std::string Summary(const TOptions& o) {
    std::string s = "url=" + Narrow(o.Url);
    for (const auto& f : o.Fields) s += " field[" + Narrow(f.first) + "]=" + Narrow(f.second);
    for (const auto& f : o.Files) s += " file[" + Narrow(f.Field) + "]=" + Narrow(f.Path) + " type=" + Narrow(f.Type);
    if (!o.ProxyHost.empty()) s += " proxy=" + Narrow(o.ProxyHost) + ":" + std::to_string(o.ProxyPort);
    if (!o.ProxyUser.empty()) s += " user=" + Narrow(o.ProxyUser);
    if (!o.ProxyPassword.empty()) s += " password=" + Narrow(o.ProxyPassword);
    if (!o.Output.empty()) s += " output=" + Narrow(o.Output);
    if (o.ConnectTimeout != 30) s += " connect=" + std::to_string(o.ConnectTimeout);
    if (o.MaxTime != 0) s += " max=" + std::to_string(o.MaxTime);
    if (o.Retries != 0) s += " retry=" + std::to_string(o.Retries);
    if (o.Fail) s += " fail";
    if (o.Headers) s += " headers";
    if (o.NoUI) s += " no-ui";
    return s;
}

struct TCase {
    std::vector<const char*> Args;
    const char* Fault;    // what the tool prints after "httpupload: "; empty when usable
    const char* Summary;  // when usable
};

// Command lines the tool takes.
const TCase kUsable[] = {
    {{"https://h:8443/a?b=c"}, "", "url=https://h:8443/a?b=c"},
    {{"http://u@h:0/x"}, "", "url=http://u@h:0/x"},  // the upload client checks no more than it splits
    {{"--field", "a=b=c", "--field", "e=", "http://h/"}, "", "url=http://h/ field[a]=b=c field[e]="},
    // A content type only after the last ';', and only one that looks like "type/subtype".
    {{"--file", "f=C:\\a;b.log", "http://h/"}, "", "url=http://h/ file[f]=C:\\a;b.log type="},
    {{"--file", "f=a;b;text/plain", "http://h/"}, "", "url=http://h/ file[f]=a;b type=text/plain"},
    {{"--file", "f=p;text/plain;x", "http://h/"}, "", "url=http://h/ file[f]=p;text/plain;x type="},
    {{"--file", "f=p;a/b/c", "http://h/"}, "", "url=http://h/ file[f]=p;a/b/c type="},
    {{"--file", "f=p;/b", "http://h/"}, "", "url=http://h/ file[f]=p;/b type="},
    {{"--file", "f=p;a/", "http://h/"}, "", "url=http://h/ file[f]=p;a/ type="},
    {{"--file", "f=p;text plain/x", "http://h/"}, "", "url=http://h/ file[f]=p;text plain/x type="},
    {{"--file", "f=p;x+y.z/v-n_d!#$&^", "http://h/"}, "", "url=http://h/ file[f]=p type=x+y.z/v-n_d!#$&^"},
    {{"--file", "f=;text/plain", "http://h/"}, "", "url=http://h/ file[f]= type=text/plain"},
    {{"--file", "f=a=b", "http://h/"}, "", "url=http://h/ file[f]=a=b type="},
    // Numbers: digits only, a '+' before seconds; the last of an option wins.
    {{"--retry", "0", "--retry", "10", "http://h/"}, "", "url=http://h/ retry=10"},
    {{"--retry", "007", "http://h/"}, "", "url=http://h/ retry=7"},
    {{"--max-time", "+5", "--connect-timeout", "86400", "http://h/"}, "", "url=http://h/ connect=86400 max=5"},
    {{"--connect-timeout", "1", "http://h/"}, "", "url=http://h/ connect=1"},
    // Proxies: http:// and one '/' dropped, the port after the last ':', read as wcstol reads it.
    {{"--proxy", "http://h:3128/", "http://h/"}, "", "url=http://h/ proxy=h:3128"},
    {{"--proxy", "[::1]:3128", "http://h/"}, "", "url=http://h/ proxy=[::1]:3128"},
    {{"--proxy", "h:65535", "http://h/"}, "", "url=http://h/ proxy=h:65535"},
    {{"--proxy", "h: 80", "http://h/"}, "", "url=http://h/ proxy=h:80"},
    {{"--proxy", "h:+80", "http://h/"}, "", "url=http://h/ proxy=h:80"},
    {{"--proxy", "HTTP://h:80", "http://h/"}, "", "url=http://h/ proxy=HTTP://h:80"},
    {{"--proxy", "h:1", "--proxy-user", "", "http://h/"}, "", "url=http://h/ proxy=h:1"},
    // The password comes from the last option that gives one, each source asked in its turn.
    {{"--proxy-password", "a", "--proxy-password-stdin", "http://h/"}, "", "url=http://h/ password=from stdin"},
    {{"--proxy-password-stdin", "--proxy-password", "a", "http://h/"}, "", "url=http://h/ password=a"},
    {{"--proxy", "h:1", "--proxy-user", "u", "--proxy-password-env", "QF_SET", "http://h/"},
     "",
     "url=http://h/ proxy=h:1 user=u password=from env"},
    // The word after an option is its value, whatever it looks like.
    {{"--output", "--help", "--proxy-password", "--fail", "http://h/"},
     "",
     "url=http://h/ password=--fail output=--help"},
    {{"--fail", "--headers", "--no-ui", "http://h/"}, "", "url=http://h/ fail headers no-ui"},
};

// Command lines the tool refuses; the first fault ends the reading.
const TCase kFaults[] = {
    {{}, "no URL given", ""},
    {{"--no-ui"}, "no URL given", ""},
    {{"http://h/", "http://i/"}, "more than one URL: http://i/", ""},
    {{"--verbose", "http://h/"}, "unknown option --verbose", ""},
    {{"--", "http://h/"}, "unknown option --", ""},
    {{"http://h"}, "the URL must look like http://host/path or https://host/path: http://h", ""},
    {{"http:///x"}, "the URL must look like http://host/path or https://host/path: http:///x", ""},
    {{"HTTP://h/"}, "the URL must look like http://host/path or https://host/path: HTTP://h/", ""},
    {{"h/x"}, "the URL must look like http://host/path or https://host/path: h/x", ""},
    {{"-x"}, "the URL must look like http://host/path or https://host/path: -x", ""},
    {{"--field", "=v", "http://h/"}, "--field needs NAME=VALUE", ""},
    {{"--field"}, "--field needs NAME=VALUE", ""},
    {{"--file", "f=", "http://h/"}, "--file needs FIELD=PATH[;TYPE]", ""},
    {{"--file", "=p", "http://h/"}, "--file needs FIELD=PATH[;TYPE]", ""},
    {{"--file", "p", "http://h/"}, "--file needs FIELD=PATH[;TYPE]", ""},
    {{"--retry", "11", "http://h/"}, "--retry needs a number from 0 to 10", ""},
    {{"--retry", " 1", "http://h/"}, "--retry needs a number from 0 to 10", ""},
    {{"--retry", "+1", "http://h/"}, "--retry needs a number from 0 to 10", ""},
    {{"--retry", "", "http://h/"}, "--retry needs a number from 0 to 10", ""},
    {{"--retry", "4294967297", "http://h/"}, "--retry needs a number from 0 to 10", ""},  // 2^32 + 1
    {{"--retry"}, "--retry needs a number from 0 to 10", ""},
    {{"--connect-timeout", "0", "http://h/"}, "--connect-timeout needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", "86401", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", "-5", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", " 5", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", "5s", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", "+", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time", "4294967301", "http://h/"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--max-time"}, "--max-time needs a number of seconds from 1 to 86400", ""},
    {{"--proxy"}, "--proxy needs HOST:PORT or http://HOST:PORT", ""},
    {{"--proxy", "http://", "http://h/"}, "--proxy needs HOST:PORT or http://HOST:PORT", ""},
    {{"--proxy", "nohost", "http://h/"}, "--proxy needs HOST:PORT or http://HOST:PORT", ""},
    {{"--proxy", ":80", "http://h/"}, "--proxy needs HOST:PORT or http://HOST:PORT", ""},
    {{"--proxy", "h:", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:0", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:65536", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:-80", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:80x", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:80//", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},
    {{"--proxy", "h:4294967376", "http://h/"}, "--proxy needs HOST:PORT with a port from 1 to 65535", ""},  // 2^32 + 80
    {{"--proxy-user"}, "--proxy-user needs a user name", ""},
    {{"--proxy-password"}, "--proxy-password needs a password", ""},
    {{"--proxy-password-env", "", "http://h/"}, "--proxy-password-env needs a variable name", ""},
    {{"--proxy-password-env", "QF_UNSET", "http://h/"}, "--proxy-password-env: the environment has no QF_UNSET", ""},
    {{"--output", "", "http://h/"}, "--output needs a file name", ""},
    {{"--proxy-user", "u", "http://h/"}, "--proxy-user needs --proxy", ""},
    // Order: the first fault wins, the URL is checked before the proxy user.
    {{"--retry", "11", "--bogus"}, "--retry needs a number from 0 to 10", ""},
    {{"--proxy-user", "u", "x://h/"}, "the URL must look like http://host/path or https://host/path: x://h/", ""},
};

TOptions Parse(const TCase& c, S& fault) {
    std::vector<S> args;
    for (const char* a : c.Args) args.push_back(U(a));
    TOptions o;
    fault = ParseOptionWords(args, o, {Environment, StdinLine});
    return o;
}

std::string Line(const TCase& c) {
    std::string s;
    for (const char* a : c.Args) s += std::string(s.empty() ? "" : " ") + "[" + a + "]";
    return s;
}

}  // namespace

TEST(HttpUploadOptionsTest, UsableCommandLines) {
    for (const TCase& c : kUsable) {
        S fault;
        const TOptions o = Parse(c, fault);
        EXPECT_EQ("", Narrow(fault)) << Line(c);
        EXPECT_EQ(c.Summary, Summary(o)) << Line(c);
        EXPECT_FALSE(o.Help) << Line(c);
    }
}

TEST(HttpUploadOptionsTest, FaultsAndTheirTexts) {
    for (const TCase& c : kFaults) {
        S fault;
        const TOptions o = Parse(c, fault);
        EXPECT_EQ(c.Fault, Narrow(fault)) << Line(c);
        EXPECT_FALSE(o.Help) << Line(c);
    }
}

// The tool prints the help text alone when --help came before any fault,
// and the fault when it came after one.
TEST(HttpUploadOptionsTest, HelpWinsOnlyBeforeAFault) {
    const TCase before{{"--retry", "1", "-h", "--bogus", "ftp://x"}, "unknown option --bogus", ""};
    const TCase after{{"--bogus", "--help"}, "unknown option --bogus", ""};
    const TCase alone{{"/?"}, "", ""};
    S fault;
    EXPECT_TRUE(Parse(before, fault).Help);
    EXPECT_EQ(before.Fault, Narrow(fault));
    EXPECT_FALSE(Parse(after, fault).Help);
    EXPECT_EQ(after.Fault, Narrow(fault));
    EXPECT_TRUE(Parse(alone, fault).Help);  // no URL needed
    EXPECT_EQ("", Narrow(fault));
}

// A zero code unit cannot reach the tool from a command line, but the
// reader must not take the digits before it for the whole number.
TEST(HttpUploadOptionsTest, AZeroCodeUnitEndsNoNumber) {
    for (const S& option : {S(u"--retry"), S(u"--max-time")}) {
        TOptions o;
        const S fault = ParseOptionWords({option, S(u"5\0x", 3), S(u"http://h/")}, o, {Environment, StdinLine});
        EXPECT_FALSE(fault.empty()) << Narrow(option);
    }
    TOptions o;
    const S fault = ParseOptionWords({S(u"--proxy"), S(u"h:80\0x", 6), S(u"http://h/")}, o, {Environment, StdinLine});
    EXPECT_FALSE(fault.empty());
}

#ifdef _WIN32
// Windows' C runtime reads the digits of other scripts as digits, and the
// tool always took them: fullwidth and Arabic-Indic three.
TEST(HttpUploadOptionsTest, WindowsReadsDigitsOfOtherScripts) {
    for (const S& three : {S(u"\uFF13"), S(u"\u0663")}) {
        TOptions o;
        EXPECT_TRUE(ParseOptionWords({S(u"--retry"), three, S(u"http://h/")}, o, {Environment, StdinLine}).empty());
        EXPECT_EQ(3u, o.Retries);
    }
}
#endif
