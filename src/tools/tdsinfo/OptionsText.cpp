#include "tdsinfo/OptionsText.h"

#include "AsciiText.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace tdsinfo {

const char kUsage[] =
    "usage: tdsinfo [options] MODULE [ADDRESS...]\n"
    "       tdsinfo --unmangle [--args] [NAME...]\n"
    "\n"
    "Prints the unit, source file, line, line start and procedure of each\n"
    "code ADDRESS (hexadecimal, with or without 0x) of MODULE, from its TD32\n"
    "debug information; the procedure with the address's offset in it, as in\n"
    "Name+0x1A. Without addresses, reads them from standard input, one or more\n"
    "per line, and answers each line as soon as it arrives.\n"
    "\n"
    "  --base HEX    load address of MODULE (default: the image base in its header)\n"
    "  --logical     addresses are logical (offsets from the base + 0x1000)\n"
    "  --args        show procedure names with their argument lists\n"
    "  --return-addresses, -r\n"
    "                the addresses are return addresses, as a call stack holds\n"
    "                them: each is looked up at ADDRESS - 1, in the call\n"
    "                instruction, and printed as given\n"
    "  --tab         one line per address: address, unit, file, line, line start,\n"
    "                procedure, separated by tabs (empty fields when not found);\n"
    "                for a bad ADDRESS two fields: the text given and the reason\n"
    "  --addr2line   two lines per address, as addr2line -f -C writes them: the\n"
    "                procedure (?? when unknown), then FILE:LINE (??:0 when unknown)\n"
    "  --address, -a with --addr2line, the address on a line before them\n"
    "  --json        one JSON object per address per line, in UTF-8: address (as\n"
    "                given), unit, file, line, line_start (logical), procedure,\n"
    "                offset (in the procedure); error when the address was bad or\n"
    "                not found; fields that are not known are left out\n"
    "  --stats       print what was loaded: signature, subsections, names, memory\n"
    "  --bench       look every address up (unit, procedure, line, unmangled name)\n"
    "                and print the lookups per second instead of the answers\n"
    "  --unmangle    unmangle each NAME, or without names each line of standard\n"
    "                input as it arrives; --args also decodes argument lists\n"
    "  --help        this text\n"
    "\n"
    "An ADDRESS that is no hexadecimal number of up to 8 digits gets an answer\n"
    "saying so, and the addresses after it are answered as usual.\n"
    "\n"
    "Exit code: 0 when everything was found, 1 when some address was bad or had\n"
    "no answer, 2 for bad usage or a module without debug information.\n";

namespace {

int HexDigit(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

}  // namespace

template <class S>
bool ParseHexText(const S& text, uint32_t& value, std::string* why) {
    S t = text;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) t = t.substr(2);
    // Digits only: no sign, no blanks ("-1" is no address).
    bool digits = !t.empty();
    for (auto c : t) digits = digits && HexDigit(static_cast<char32_t>(c)) >= 0;
    if (!digits || t.size() > 8) {
        if (why) *why = digits ? "more than 8 hexadecimal digits" : "not a hexadecimal number";
        return false;
    }
    uint32_t v = 0;
    for (auto c : t) v = v << 4 | static_cast<uint32_t>(HexDigit(static_cast<char32_t>(c)));
    value = v;
    return true;
}

// The options that only switch something on: their spellings and what they switch.
template <class S>
struct TSwitch {
    const char* Long;
    const char* Short;  // or null
    bool TBasicOptions<S>::*Flag;
};
template <class S>
constexpr TSwitch<S> kSwitches[] = {
    {"--logical", nullptr, &TBasicOptions<S>::Logical},
    {"--args", nullptr, &TBasicOptions<S>::Args},
    {"--return-addresses", "-r", &TBasicOptions<S>::ReturnAddresses},
    {"--tab", nullptr, &TBasicOptions<S>::Tab},
    {"--addr2line", nullptr, &TBasicOptions<S>::Addr2line},
    {"--json", nullptr, &TBasicOptions<S>::Json},
    {"--address", "-a", &TBasicOptions<S>::ShowAddress},
    {"--stats", nullptr, &TBasicOptions<S>::Stats},
    {"--bench", nullptr, &TBasicOptions<S>::Bench},
    {"--unmangle", nullptr, &TBasicOptions<S>::Unmangle},
};

template <class S>
int ParseOptionWords(const std::vector<S>& args, TBasicOptions<S>& o, std::string& out, std::string& err,
                     std::string (*printable)(const S&)) {
    std::vector<S> rest;
    auto is = [](const S& a, const char* option) { return a == AsciiText<S>(option); };
    for (size_t i = 0; i < args.size(); ++i) {
        const S& a = args[i];
        const auto on = std::find_if(std::begin(kSwitches<S>), std::end(kSwitches<S>),
                                     [&](const TSwitch<S>& s) { return is(a, s.Long) || (s.Short && is(a, s.Short)); });
        if (is(a, "--help") || is(a, "-h") || is(a, "/?")) {
            out = kUsage;
            return 0;
        } else if (on != std::end(kSwitches<S>))
            o.*(on->Flag) = true;
        else if (is(a, "--base") && i + 1 < args.size()) {
            if (!ParseHexText(args[++i], o.Base)) {
                err = "tdsinfo: bad base address " + printable(args[i]) + "\n";
                return 2;
            }
            o.BaseGiven = true;
        } else if (a.size() > 1 && a[0] == u'-' && !o.Unmangle) {
            err = "tdsinfo: unknown option " + printable(a) + "\n" + kUsage;
            return 2;
        } else
            rest.push_back(a);
    }
    if (o.Tab + o.Addr2line + o.Json > 1) {
        err = "tdsinfo: choose one of --tab, --addr2line and --json\n";
        return 2;
    }
    if (o.ShowAddress && !o.Addr2line) {
        err = "tdsinfo: --address goes with --addr2line\n";
        return 2;
    }
    if (o.Unmangle) {
        o.Words = rest;
        return -1;
    }
    if (rest.empty()) {
        err = kUsage;
        return 2;
    }
    o.Module = rest[0];
    o.Words.assign(rest.begin() + 1, rest.end());
    return -1;
}

// tdsinfo's wide strings, where they are UTF-16 code units, and the build machine's.
#define QF_INSTANTIATE_OPTIONS(S)                                                                          \
    template bool ParseHexText<S>(const S&, uint32_t&, std::string*);                                      \
    template int ParseOptionWords<S>(const std::vector<S>&, TBasicOptions<S>&, std::string&, std::string&, \
                                     std::string (*)(const S&));
#if WCHAR_MAX == 0xFFFF
QF_INSTANTIATE_OPTIONS(std::wstring)
#endif
QF_INSTANTIATE_OPTIONS(std::u16string)

}  // namespace tdsinfo
