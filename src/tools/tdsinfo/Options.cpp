#include "tdsinfo/Options.h"

#include <algorithm>
#include <cwchar>

#include "rtl/Text.h"
#include "tdsinfo/Console.h"

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

bool ParseHex(const std::wstring& text, uint32_t& value, std::string* why) {
    std::wstring t = text;
    if (t.size() > 2 && t[0] == L'0' && (t[1] == L'x' || t[1] == L'X')) t = t.substr(2);
    // Digits only: wcstoul alone would also take a sign ("-1" as 0xFFFFFFFF).
    bool digits = !t.empty() && std::all_of(t.begin(), t.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    });
    if (!digits || t.size() > 8) {
        if (why) *why = digits ? "more than 8 hexadecimal digits" : "not a hexadecimal number";
        return false;
    }
    value = static_cast<uint32_t>(std::wcstoul(t.c_str(), nullptr, 16));
    return true;
}

int ParseOptions(int argc, wchar_t** argv, TOptions& o) {
    std::vector<std::wstring> rest;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--help" || a == L"-h" || a == L"/?") {
            Print(kUsage);
            return 0;
        } else if (a == L"--logical") o.Logical = true;
        else if (a == L"--args") o.Args = true;
        else if (a == L"--return-addresses" || a == L"-r") o.ReturnAddresses = true;
        else if (a == L"--tab") o.Tab = true;
        else if (a == L"--addr2line") o.Addr2line = true;
        else if (a == L"--json") o.Json = true;
        else if (a == L"--address" || a == L"-a") o.ShowAddress = true;
        else if (a == L"--stats") o.Stats = true;
        else if (a == L"--bench") o.Bench = true;
        else if (a == L"--unmangle") o.Unmangle = true;
        else if (a == L"--base" && i + 1 < argc) {
            if (!ParseHex(argv[++i], o.Base)) {
                PrintErr("tdsinfo: bad base address " + rtl::ToAnsi(argv[i]) + "\n");
                return 2;
            }
            o.BaseGiven = true;
        } else if (a.size() > 1 && a[0] == L'-' && !o.Unmangle) {
            PrintErr("tdsinfo: unknown option " + rtl::ToAnsi(a) + "\n" + kUsage);
            return 2;
        } else
            rest.push_back(a);
    }
    if (o.Tab + o.Addr2line + o.Json > 1) {
        PrintErr("tdsinfo: choose one of --tab, --addr2line and --json\n");
        return 2;
    }
    if (o.ShowAddress && !o.Addr2line) {
        PrintErr("tdsinfo: --address goes with --addr2line\n");
        return 2;
    }
    if (o.Unmangle) {
        o.Words = rest;
        return -1;
    }
    if (rest.empty()) {
        PrintErr(kUsage);
        return 2;
    }
    o.Module = rest[0];
    o.Words.assign(rest.begin() + 1, rest.end());
    return -1;
}

}  // namespace tdsinfo
